#include "box_wire.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tvk_hw.h"

namespace usb::wire {

codec::CounterWidth counterWidth(int chipType)
{
    return chipType >= 2 ? codec::CounterWidth::Bits14 : codec::CounterWidth::Bits13;
}

double clockMHz(int chipType)
{
    switch (chipType) {
    case 2: return 20.0;
    case 3: return 40.0;
    default: return 10.0;
    }
}

namespace {
// Word bit of configuration bit i, per chip type (1, 2, 3).
constexpr int kWordBits[3][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7},
    {8, 9, 0, 1, 2, 3, 4, 5},
    {8, 9, 0, 1, 2, 3, 4, 5},
};
const int* wordBits(int chipType)
{
    return kWordBits[std::clamp(chipType, 1, 3) - 1];
}
} // namespace

uint16_t pixelWord(int chipType, uint8_t cfg)
{
    const int* bits = wordBits(chipType);
    uint16_t word = 0;
    for (int i = 0; i < 8; ++i)
        if (cfg & (1u << i))
            word = static_cast<uint16_t>(word | (1u << bits[i]));
    return word;
}

uint8_t pixelConfig(int chipType, uint16_t word)
{
    const int* bits = wordBits(chipType);
    uint8_t cfg = 0;
    for (int i = 0; i < 8; ++i)
        if (word & (1u << bits[i]))
            cfg = static_cast<uint8_t>(cfg | (1u << i));
    return cfg;
}

std::array<uint8_t, 7> timerRequest(uint8_t timer, uint64_t ticks)
{
    std::array<uint8_t, 7> r{};
    r[0] = timer;
    codec::putTimer48(r.data() + 1, ticks);
    return r;
}

std::vector<uint8_t> dacBlock(const std::vector<DacRecord>& chips)
{
    std::vector<uint8_t> block(1 + kDacBytesPerChip * chips.size(), 0);
    block[0] = 0xFF;
    for (size_t c = 0; c < chips.size(); ++c) {
        uint8_t* p = block.data() + 1 + c * kDacBytesPerChip;
        const DacRecord& d = chips[c];
        for (int i = 0; i < 15; ++i) {
            const unsigned v = d.dacs[i] & 0xFFFu;
            const int bit = i * 12;
            for (int b = 0; b < 12; ++b)
                if (v & (1u << b))
                    p[(bit + b) / 8] = static_cast<uint8_t>(p[(bit + b) / 8] | (1u << ((bit + b) % 8)));
        }
        p[23] = d.sense;
        p[24] = static_cast<uint8_t>((d.senseOn ? 1 : 0) | (d.extDacOn ? 2 : 0));
        p[25] = static_cast<uint8_t>(d.extDacCode);
        p[26] = static_cast<uint8_t>(d.extDacCode >> 8);
        for (int i = 0; i < 4; ++i)
            p[27 + i] = static_cast<uint8_t>(d.testPulseColumns >> (8 * i));
    }
    return block;
}

bool parseDacBlock(const uint8_t* block, size_t size, std::vector<DacRecord>* chips)
{
    if (size < 1 || block[0] != 0xFF || (size - 1) % kDacBytesPerChip != 0)
        return false;
    chips->assign((size - 1) / kDacBytesPerChip, DacRecord{});
    for (size_t c = 0; c < chips->size(); ++c) {
        const uint8_t* p = block + 1 + c * kDacBytesPerChip;
        DacRecord& d = (*chips)[c];
        for (int i = 0; i < 15; ++i) {
            unsigned v = 0;
            for (int b = 0; b < 12; ++b)
                if (p[(i * 12 + b) / 8] & (1u << ((i * 12 + b) % 8)))
                    v |= 1u << b;
            d.dacs[i] = static_cast<uint16_t>(v);
        }
        d.sense = p[23];
        d.senseOn = p[24] & 1;
        d.extDacOn = p[24] & 2;
        d.extDacCode = static_cast<uint16_t>(p[25] | (p[26] << 8));
        d.testPulseColumns = 0;
        for (int i = 0; i < 4; ++i)
            d.testPulseColumns |= uint32_t{p[27 + i]} << (8 * i);
    }
    return true;
}

std::array<uint8_t, 3> interfaceDacRequest(uint8_t channel, uint16_t code)
{
    return {channel, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)};
}

std::array<uint8_t, 3> testPulseRequest(uint8_t periodByte, uint32_t count)
{
    const uint32_t c = count - 1;
    return {periodByte, static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)};
}

std::array<uint8_t, 4> scopeRequest(uint16_t samples)
{
    return {static_cast<uint8_t>(samples), static_cast<uint8_t>(samples >> 8), 0, 0};
}

std::array<uint8_t, 3> preActionRequest(double seconds, uint8_t flags)
{
    double us = std::isnan(seconds) ? 0.0 : std::round(seconds * 1e6);
    us = std::clamp(us, 0.0, 65535.0);
    const auto v = static_cast<uint16_t>(us);
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), flags};
}

uint8_t biasByte(double volts)
{
    if (std::isnan(volts))
        return 0;
    return static_cast<uint8_t>(std::clamp(std::round(volts), 0.0, 255.0));
}

std::string stopCommands(int acqMode, bool hwTimer)
{
    switch (acqMode) {
    case ACQMODE_MANUAL: return hwTimer ? "G" : "c";
    case ACQMODE_TRIG_START: return "LG";
    case ACQMODE_TRIG_STOP: return "LG";
    default: return "G";
    }
}

} // namespace usb::wire
