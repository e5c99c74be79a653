// Ours: the DAC loading sequences of the three chip types and the sensed DAC's read-back. The register
// protocol gives only their frame (DAC words through writeRegister, the clock counter from register 2);
// the words and registers are those of wire.h, and the simulated card answers them.
//
// A load writes one register-3 word per DAC of every chip (value, DAC index, chip), the column test-pulse
// mask to register 8, then each chip's sense word to register 5 (bit 0 sense on, bit 1 external DAC on,
// bits 2-6 the sensed DAC's code, bits 14-15 the chip); the last chip's sense word loads them all. The
// readout system clocks 16 bits per DAC word, which register 2 then tells.
#include "dorvel_device.h"
#include "wire.h"

namespace dorvel {

namespace {

constexpr int kBits1[] = {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
constexpr int kBits2[] = {8, 8, 8, 8, 8, 8, 10, 4, 10, 4, 8, 8, 8, 8, 8};
constexpr int kBits3[] = {8, 8, 8, 8, 8, 8, 10, 4, 8, 8, 8, 8, 8, 8};

constexpr int kClocksPerDac = 16;

int dacsPerChip(int chipType)
{
    switch (chipType) {
    case 1:
        return static_cast<int>(std::size(kBits1));
    case 2:
        return static_cast<int>(std::size(kBits2));
    case 3:
        return static_cast<int>(std::size(kBits3));
    default:
        return 0;
    }
}

} // namespace

int DorvelDevice::loadDacs(const int* bits, int count, const uint16_t* dacs, int senseOn, int extDacOn,
                           const int* dacCodes, uint32_t testPulseColumns)
{
    const int chipCount = chips();
    for (int chip = 0; chip < chipCount; ++chip)
        for (int dac = 0; dac < count; ++dac) {
            const uint16_t value = dacs[chip * count + dac];
            if (value >= (1u << bits[dac]))
                return fail(kErrParam, "Invalid value %u of DAC %d (chip %d): at most %u.", value, dac, chip,
                            (1u << bits[dac]) - 1);
        }
    if (resetTvk_)
        if (const int r = resetLine(wire::kLineChips))
            return r;
    for (int chip = 0; chip < chipCount; ++chip)
        for (int dac = 0; dac < count; ++dac) {
            const uint32_t word = dacs[chip * count + dac] | (static_cast<uint32_t>(dac) << 10) |
                                  (static_cast<uint32_t>(chip) << 14);
            if (const int r = writeRegister(wire::kRegDacWord, word))
                return r;
        }
    if (const int r = writeRegister(wire::kRegCtpr, ctprOverride_ != 0 ? ctprOverride_ : testPulseColumns))
        return r;
    for (int chip = 0; chip < chipCount; ++chip) {
        const uint32_t code = dacCodes ? static_cast<uint32_t>(dacCodes[chip]) & 0x1F : 0;
        const uint32_t sense = (senseOn ? 1u : 0u) | (extDacOn ? 2u : 0u) | (code << 2) |
                               (static_cast<uint32_t>(chip) << 14);
        if (const int r = writeRegister(wire::kRegDacLoad, sense))
            return r;
    }
    uint32_t clocks = 0;
    if (const int r = readRegister(wire::kRegCounter, &clocks))
        return r;
    trace("clocks counter: %u", clocks);
    return counterCheck(clocks, static_cast<uint32_t>(chipCount * count * kClocksPerDac));
}

int DorvelDevice::setTvkDACs(const uint16_t* dacs, int senseOn, int extDacOn, const int* dacCodes, uint32_t columns)
{
    return loadDacs(kBits1, static_cast<int>(std::size(kBits1)), dacs, senseOn, extDacOn, dacCodes, columns);
}

int DorvelDevice::setTvkDACsZRN(const uint16_t* dacs, int senseOn, int extDacOn, const int* dacCodes,
                                uint32_t columns)
{
    return loadDacs(kBits2, static_cast<int>(std::size(kBits2)), dacs, senseOn, extDacOn, dacCodes, columns);
}

int DorvelDevice::setSrnDACs(const uint16_t* dacs, int senseOn, int extDacOn, const int* dacCodes, uint32_t columns)
{
    return loadDacs(kBits3, static_cast<int>(std::size(kBits3)), dacs, senseOn, extDacOn, dacCodes, columns);
}

int DorvelDevice::setTvkDacs(const uint16_t* dacs, int dacCount, int senseOn, int extDacOn, const int* dacCodes,
                             uint32_t testPulseColumns)
{
    const int required = chips() * dacsPerChip(chipType());
    if (!dacs || dacCount != required || required == 0)
        return fail(kErrParam, "Invalid size of array of dacValues, size: %d, required: %d.", dacs ? dacCount : 0,
                    required);
    trace("setTvkDACs, senseOn: %d, extDacOn: %d...", senseOn, extDacOn);
    switch (chipType()) {
    case 1:
        return setTvkDACs(dacs, senseOn, extDacOn, dacCodes, testPulseColumns);
    case 2:
        return setTvkDACsZRN(dacs, senseOn, extDacOn, dacCodes, testPulseColumns);
    default:
        return setSrnDACs(dacs, senseOn, extDacOn, dacCodes, testPulseColumns);
    }
}

// The sensed DAC of a chip as the readout system's 12-bit ADC measures it over 0..2.2 V.
int DorvelDevice::getTvkDacVal(int chip, double* value)
{
    if (chip < 0 || chip >= chips() || !value)
        return fail(kErrParam, "Invalid parameter: %d (getTvkDacVal)", chip);
    uint32_t code = 0;
    if (const int r = readRegister(wire::kRegAdc + chip, &code))
        return r;
    *value = (code & 0xFFF) * 2.2 / 4095.0;
    trace("getTvkDacVal, chip: %d, value: %f", chip, *value);
    return 0;
}

} // namespace dorvel
