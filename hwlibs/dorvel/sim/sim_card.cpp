#include "sim_card.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "counter_streams.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "wire.h"

namespace dorvel {

namespace {

constexpr int16_t kNoBoard = -60;       // a board number without a card
constexpr int16_t kBadArgument = -10001; // a port, line or group the card does not have
constexpr int16_t kGroupNotReady = -10440;
constexpr int kBoards = 16;
constexpr uint32_t kSimVersionByte = 0x21; // the readout system's version: 2.1
constexpr size_t kKeptCalls = 8192;

// Registers 4 and 8 take their high half first; register 2 is read high half first.
bool writesWide(int reg)
{
    return reg == wire::kRegTimer || reg == wire::kRegCtpr;
}

} // namespace

struct SimCard::Board {
    mutable std::mutex mutex; // guards every field below; held for one driver call, never across calls
    uint16_t number = 0;
    int chips = 1;
    int chipType = 1;
    SimFaults faults;
    std::map<DioCall, int> callCounts;
    std::vector<SimCall> calls;

    int address = 0; // the last byte written to port 2
    int groupSize = 0;
    int groupDir = 0;
    uint32_t regs[16] = {};
    int lines[8] = {1, 1, 1, 0, 0, 0, 0, 0};
    int resetPulses[4] = {};

    // The running block transfer.
    bool active = false;
    bool output = false;
    int target = 0; // the address latched when it started
    uint16_t* inBuffer = nullptr;
    const uint16_t* source = nullptr; // the words a matrix-port read delivers (register reads: generated)
    size_t sourceSize = 0;
    std::vector<uint16_t> sink;   // the words a write has delivered
    uint32_t count = 0;
    uint32_t moved = 0;
    double start = 0.0;

    // The readout system.
    uint16_t command = 0; // the last started control word
    std::vector<uint16_t> counts;
    uint64_t countsVersion = 0; // raised at every change of counts
    std::vector<uint16_t> stream; // what the chips send for counts at streamVersion
    uint64_t streamVersion = ~uint64_t{0};
    uint32_t streamBadCodes = 0;
    std::vector<uint16_t> idWords;
    std::vector<uint8_t> pixelCfg;
    std::vector<uint16_t> pendingDacs;
    std::vector<uint16_t> dacWords;
    uint16_t senseWords[4] = {};
    int exposures = 0;
    bool exposing = false;
    bool timed = false;
    bool pulsing = false;
    double busyUntil = 0.0;

    double rate(const SimCardConfig& config) const
    {
        return faults.wordsPerSecond >= 0.0 ? faults.wordsPerSecond : config.wordsPerSecond;
    }

    uint32_t modulo() const { return chipType < 2 ? 8001u : 11811u; }

    void record(DioCall call, int32_t a = 0, int32_t b = 0, int32_t c = 0) { record(SimCall{call, a, b, c, {}}); }
    // Keeps the recent calls only: a card that runs for long does not grow.
    void record(SimCall call)
    {
        if (calls.size() >= kKeptCalls)
            calls.erase(calls.begin(), calls.begin() + kKeptCalls / 2);
        calls.push_back(std::move(call));
    }

    // The read stream of the current counts, made again only when they changed.
    void refreshStream()
    {
        if (streamVersion == countsVersion && streamBadCodes == faults.badCodes)
            return;
        std::vector<uint16_t> sent = counts;
        for (uint32_t i = 0; i < faults.badCodes && i < sent.size(); ++i)
            sent[(static_cast<size_t>(i) * 7919u) % sent.size()] = 0xFFFF;
        stream.assign(wire::transferWords(chips, chipType), 0);
        chipsSendMatrix(sent.data(), chips, chipType, wire::bytesOf(stream.data()),
                        static_cast<size_t>(chips) * wire::chipStreamBytes(chipType));
        streamVersion = countsVersion;
        streamBadCodes = faults.badCodes;
    }

    void finishExposure()
    {
        exposing = false;
        ++countsVersion;
        const int n = exposures++;
        for (int chip = 0; chip < chips; ++chip)
            for (uint32_t row = 0; row < 256; ++row)
                for (uint32_t col = 0; col < 256; ++col) {
                    const size_t i = static_cast<size_t>(chip) * wire::kChipPixels + row * 256 + col;
                    if (pixelCfg[i] & 1u)
                        counts[i] = static_cast<uint16_t>((7 * row + 3 * col + 1000u * static_cast<uint32_t>(chip) +
                                                           static_cast<uint32_t>(n)) % modulo());
                }
    }

    void finishPulses()
    {
        pulsing = false;
        ++countsVersion;
        const uint32_t pulses = regs[wire::kRegPulseCount];
        for (size_t i = 0; i < counts.size(); ++i)
            if ((pixelCfg[i] & 1u) && !(pixelCfg[i] & 2u))
                counts[i] = static_cast<uint16_t>(std::min<uint64_t>(counts[i] + uint64_t{pulses}, modulo() - 1));
    }

    // Ends what the hardware timer ended by now.
    void settle(double now)
    {
        if (exposing && timed && now >= busyUntil)
            finishExposure();
        if (pulsing && now >= busyUntil)
            finishPulses();
    }

    bool busy(double now)
    {
        settle(now);
        return (exposing && timed) || pulsing;
    }

    void control(uint16_t word, double now)
    {
        settle(now);
        if (exposing && !(word & wire::kCtlExpose))
            finishExposure();
        if (word & wire::kCtlGo)
            return;
        command = word;
        const double timer = regs[wire::kRegTimer] * 1e-6;
        if (word & wire::kCtlExpose) {
            exposing = true;
            timed = (word & wire::kCtlHwTimer) != 0;
            busyUntil = now + timer;
        }
        if (word & wire::kCtlPulses) {
            pulsing = true;
            busyUntil = now + timer * regs[wire::kRegPulseCount];
        }
    }

    void writeRegister(int reg, uint16_t high, uint16_t low, double now)
    {
        const uint32_t value = writesWide(reg) ? (uint32_t{high} << 16) | low : high;
        regs[reg] = value;
        if (reg == wire::kRegControl)
            control(static_cast<uint16_t>(value), now);
        else if (reg == wire::kRegDacWord)
            pendingDacs.push_back(static_cast<uint16_t>(value));
        else if (reg == wire::kRegDacLoad) {
            const int chip = (value >> 14) & 3;
            senseWords[chip] = static_cast<uint16_t>(value);
            if (chip == chips - 1) { // the last chip's sense word loads the DACs of all chips
                regs[wire::kRegCounter] = static_cast<uint32_t>(pendingDacs.size()) * 16;
                dacWords.swap(pendingDacs);
                pendingDacs.clear();
            }
        }
    }

    uint32_t readRegisterWord(int reg, uint32_t index) const
    {
        uint32_t value = regs[reg];
        if (reg == wire::kRegVersion)
            value = (static_cast<uint32_t>(chipType) << 12) | (static_cast<uint32_t>(chips) << 8) | kSimVersionByte;
        else if (reg >= wire::kRegAdc && reg < wire::kRegAdc + 4)
            value = std::min<uint32_t>(((senseWords[reg - wire::kRegAdc] >> 2) & 0x1F) * 100u +
                                           static_cast<uint32_t>(reg - wire::kRegAdc),
                                       4095);
        if (reg == wire::kRegCounter)
            return index % 2 == 0 ? value >> 16 : value & 0xFFFF;
        return value & 0xFFFF;
    }
};

SimCard::SimCard(const SimCardConfig& config) : config_(config)
{
    config_.cards = std::clamp(config_.cards, 0, kBoards);
    for (int n = 1; n <= config_.cards; ++n) {
        auto b = std::make_unique<Board>();
        b->number = static_cast<uint16_t>(n);
        b->chips = std::clamp(config_.chips, 0, 15);
        b->chipType = std::clamp(config_.chipType, 0, 15);
        const size_t pixels = static_cast<size_t>(std::max(b->chips, 1)) * wire::kChipPixels;
        b->counts.assign(pixels, 0);
        b->pixelCfg.assign(pixels, 1); // every pixel counts until a configuration arrives
        boards_.push_back(std::move(b));
    }
}

SimCard::~SimCard() = default;

SimCard::Board* SimCard::board(uint16_t number) const
{
    if (number < 1 || number > boards_.size())
        return nullptr;
    return boards_[number - 1].get();
}

int16_t SimCard::fail(Board& b, DioCall call)
{
    if (b.faults.failCall.empty() || b.faults.failCall != dioCallName(call))
        return 0;
    return b.callCounts[call]++ >= b.faults.failAfter ? b.faults.failStatus : 0;
}

int16_t SimCard::driverVersion(uint32_t* raw)
{
    *raw = config_.version;
    return 0;
}

int16_t SimCard::initBoard(uint16_t number, int16_t* typeCode)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::BoardInit, number);
    if (const int16_t r = fail(*b, DioCall::BoardInit))
        return r;
    *typeCode = config_.typeCode;
    return 0;
}

int16_t SimCard::portConfig(uint16_t number, int16_t port, int16_t mode, int16_t dir)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::PortConfig, port, mode, dir);
    if (const int16_t r = fail(*b, DioCall::PortConfig))
        return r;
    return port >= 0 && port <= 3 ? 0 : kBadArgument;
}

int16_t SimCard::lineConfig(uint16_t number, int16_t port, int16_t line, int16_t dir)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::LineConfig, port, line, dir);
    if (const int16_t r = fail(*b, DioCall::LineConfig))
        return r;
    return port == wire::kLinePort && line >= 0 && line < 8 ? 0 : kBadArgument;
}

int16_t SimCard::portOut(uint16_t number, int16_t port, int32_t pattern)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::PortOut, port, pattern);
    if (const int16_t r = fail(*b, DioCall::PortOut))
        return r;
    if (port != wire::kAddressPort)
        return kBadArgument;
    b->address = pattern & 0xFF;
    return 0;
}

int16_t SimCard::groupConfig(uint16_t number, int16_t group, int16_t size, int16_t port, int16_t dir)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::GroupConfig, group, size, dir);
    if (const int16_t r = fail(*b, DioCall::GroupConfig))
        return r;
    if (group != wire::kDataGroup || port != 0 || (size != 0 && size != 2))
        return kBadArgument;
    b->groupSize = size;
    b->groupDir = dir;
    if (size == 0)
        b->active = false;
    return 0;
}

int16_t SimCard::groupMode(uint16_t number, int16_t group, int16_t type, int16_t edge, int16_t reqPolarity,
                           int16_t ackPolarity, int16_t settleTime)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::GroupMode, group, type, edge);
    (void)reqPolarity, (void)ackPolarity, (void)settleTime;
    if (const int16_t r = fail(*b, DioCall::GroupMode))
        return r;
    return group == wire::kDataGroup ? 0 : kBadArgument;
}

int16_t SimCard::setDeviceInfo(uint16_t number, uint32_t infoType, uint32_t value)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::DeviceInfo, static_cast<int32_t>(infoType), static_cast<int32_t>(value));
    return fail(*b, DioCall::DeviceInfo);
}

int16_t SimCard::blockIn(uint16_t number, int16_t group, uint16_t* buffer, uint32_t count)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::BlockIn, group, static_cast<int32_t>(count));
    if (const int16_t r = fail(*b, DioCall::BlockIn))
        return r;
    if (group != wire::kDataGroup || b->groupSize != 2 || b->groupDir != 0 || b->active || !buffer)
        return kGroupNotReady;
    const double now = plat::monotonicSeconds();
    b->settle(now);
    b->source = nullptr;
    b->sourceSize = 0;
    if (b->address == wire::kMatrixRead) {
        if (b->command & wire::kCtlChipId) {
            b->idWords.assign(wire::chipIdWords(b->chips), 0);
            const wire::ChipIdFields id{static_cast<unsigned char>(config_.idLetter), config_.idNumber, config_.idWafer};
            for (int chip = 0; chip < b->chips; ++chip)
                wire::scatterChipId(b->idWords.data(), b->idWords.size(), chip, id);
            b->source = b->idWords.data();
            b->sourceSize = b->idWords.size();
        } else {
            b->refreshStream();
            b->source = b->stream.data();
            b->sourceSize = b->stream.size();
        }
    } else if ((b->address & 0xF0) != wire::kAddressRead) {
        return kBadArgument;
    }
    b->active = true;
    b->output = false;
    b->target = b->address;
    b->inBuffer = buffer;
    b->count = count;
    b->moved = 0;
    b->start = now;
    return 0;
}

int16_t SimCard::blockOut(uint16_t number, int16_t group, const uint16_t* buffer, uint32_t count)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    SimCall call{DioCall::BlockOut, group, static_cast<int32_t>(count), 0, {}};
    if (buffer && count <= 16)
        call.words.assign(buffer, buffer + count);
    b->record(std::move(call));
    if (const int16_t r = fail(*b, DioCall::BlockOut))
        return r;
    if (group != wire::kDataGroup || b->groupSize != 2 || b->groupDir != 1 || b->active || !buffer)
        return kGroupNotReady;
    if (b->address != wire::kMatrixWrite && (b->address & 0xF0) != wire::kAddressWrite)
        return kBadArgument;
    b->active = true;
    b->output = true;
    b->target = b->address;
    b->sink.assign(buffer, buffer + count); // the card's own copy: the words leave as the rate allows
    b->count = count;
    b->moved = 0;
    b->start = plat::monotonicSeconds();
    return 0;
}

int16_t SimCard::blockCheck(uint16_t number, int16_t group, uint32_t* remaining)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    if (const int16_t r = fail(*b, DioCall::BlockCheck)) {
        b->record(DioCall::BlockCheck, group);
        return r;
    }
    if (group != wire::kDataGroup)
        return kBadArgument;
    if (!b->active) {
        *remaining = 0;
        return 0;
    }
    const double now = plat::monotonicSeconds();
    const double rate = b->rate(config_);
    uint64_t can = rate <= 0.0 ? b->count : static_cast<uint64_t>((now - b->start) * rate);
    can = std::min<uint64_t>(can, b->count);
    if (!b->output && b->target == wire::kMatrixRead)
        can = std::min<uint64_t>(can, b->sourceSize);
    if (b->faults.stallAfterWords >= 0)
        can = std::min<uint64_t>(can, static_cast<uint64_t>(b->faults.stallAfterWords));
    if (!b->output) {
        if (b->target == wire::kMatrixRead) {
            if (can > b->moved)
                std::memcpy(b->inBuffer + b->moved, b->source + b->moved, (can - b->moved) * sizeof(uint16_t));
        } else if (can > b->moved) {
            // A register read repeats the register's words: even and odd positions each hold one value.
            const int reg = b->target & 0x0F;
            const uint16_t even = static_cast<uint16_t>(b->readRegisterWord(reg, 0));
            const uint16_t odd = static_cast<uint16_t>(b->readRegisterWord(reg, 1));
            if (even == odd) {
                std::fill(b->inBuffer + b->moved, b->inBuffer + can, even);
            } else {
                for (uint32_t i = b->moved; i < can; ++i)
                    b->inBuffer[i] = i % 2 == 0 ? even : odd;
            }
        }
    }
    b->moved = static_cast<uint32_t>(std::max<uint64_t>(can, b->moved));
    *remaining = b->count - b->moved;
    if (*remaining != 0)
        return 0;

    // The transfer is complete: the readout system takes what it was sent.
    b->active = false;
    const bool matrixPort = b->target == wire::kMatrixRead || b->target == wire::kMatrixWrite;
    if (b->output && !matrixPort && b->count >= 2)
        b->writeRegister(b->target & 0x0F, b->sink[0], b->sink[1], now);
    if (b->output && matrixPort) {
        if (b->command & wire::kCtlPixelCfg) {
            const size_t bytes = std::min<size_t>(b->pixelCfg.size(), size_t{b->count} * 2);
            std::memcpy(b->pixelCfg.data(), wire::bytesOf(b->sink.data()), bytes);
            b->regs[wire::kRegCounter] = static_cast<uint32_t>(bytes * 8);
        } else {
            chipsTakeMatrix(wire::bytesOf(b->sink.data()), size_t{b->count} * 2, b->chips, b->chipType,
                            b->counts.data());
            ++b->countsVersion;
            b->regs[wire::kRegCounter] =
                wire::matrixCounter(b->chips, b->chipType) + static_cast<uint32_t>(b->faults.counterError);
        }
    }
    if (!b->output && b->target == wire::kMatrixRead && !(b->command & wire::kCtlChipId))
        b->regs[wire::kRegCounter] =
            wire::matrixCounter(b->chips, b->chipType) + static_cast<uint32_t>(b->faults.counterError);
    return 0;
}

int16_t SimCard::blockClear(uint16_t number, int16_t group)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::BlockClear, group);
    if (const int16_t r = fail(*b, DioCall::BlockClear))
        return r;
    if (b->active && (b->target == wire::kMatrixRead || b->target == wire::kMatrixWrite))
        b->regs[wire::kRegCounter] = b->moved * 16; // the clocks that ran before the transfer was cut
    b->active = false;
    return 0;
}

int16_t SimCard::lineOut(uint16_t number, int16_t port, int16_t line, int16_t state)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->record(DioCall::LineOut, port, line, state);
    if (const int16_t r = fail(*b, DioCall::LineOut))
        return r;
    if (port != wire::kLinePort || line < 0 || line > 3)
        return kBadArgument;
    const int level = state ? 1 : 0;
    const int resting = line == wire::kLineGeneral ? 0 : 1;
    const bool pulseEnds = b->lines[line] != resting && level == resting;
    b->lines[line] = level;
    if (!pulseEnds)
        return 0;
    ++b->resetPulses[line];
    switch (line) {
    case wire::kLineMatrix:
        std::fill(b->counts.begin(), b->counts.end(), uint16_t{0});
        ++b->countsVersion;
        break;
    case wire::kLineReadout:
        b->exposing = b->pulsing = false;
        break;
    case wire::kLineGeneral:
        b->exposing = b->pulsing = false;
        b->regs[wire::kRegTimer] = b->regs[wire::kRegPulseCount] = b->regs[wire::kRegCtpr] = 0;
        break;
    default:
        break;
    }
    return 0;
}

int16_t SimCard::lineIn(uint16_t number, int16_t port, int16_t line, int16_t* state)
{
    Board* b = board(number);
    if (!b)
        return kNoBoard;
    std::lock_guard<std::mutex> guard(b->mutex);
    if (const int16_t r = fail(*b, DioCall::LineIn))
        return r;
    if (port != wire::kLinePort || line < 4 || line > 7)
        return kBadArgument;
    *state = line == wire::kBusyLine && b->busy(plat::monotonicSeconds()) ? 1 : 0;
    return 0;
}

uint16_t* SimCard::allocateBuffer(size_t words)
{
    uint16_t* buffer = DioCard::allocateBuffer(words);
    if (buffer) {
        std::lock_guard<std::mutex> guard(buffersMutex_);
        ++liveBuffers_;
    }
    return buffer;
}

void SimCard::releaseBuffer(uint16_t* buffer)
{
    if (!buffer)
        return;
    {
        std::lock_guard<std::mutex> guard(buffersMutex_);
        --liveBuffers_;
    }
    DioCard::releaseBuffer(buffer);
}

// ---- test access ----

void SimCard::setFaults(uint16_t number, const SimFaults& faults)
{
    for (auto& b : boards_)
        if (number == 0 || b->number == number) {
            std::lock_guard<std::mutex> guard(b->mutex);
            b->faults = faults;
            b->callCounts.clear();
        }
}

std::vector<SimCall> SimCard::calls(uint16_t number) const
{
    Board* b = board(number);
    if (!b)
        return {};
    std::lock_guard<std::mutex> guard(b->mutex);
    return b->calls;
}

void SimCard::clearCalls(uint16_t number)
{
    if (Board* b = board(number)) {
        std::lock_guard<std::mutex> guard(b->mutex);
        b->calls.clear();
    }
}

uint32_t SimCard::registerValue(uint16_t number, int reg) const
{
    Board* b = board(number);
    if (!b || reg < 0 || reg > 15)
        return 0;
    std::lock_guard<std::mutex> guard(b->mutex);
    return b->regs[reg];
}

void SimCard::setRegister(uint16_t number, int reg, uint32_t value)
{
    if (Board* b = board(number); b && reg >= 0 && reg <= 15) {
        std::lock_guard<std::mutex> guard(b->mutex);
        b->regs[reg] = value;
    }
}

int SimCard::groupSize(uint16_t number) const
{
    Board* b = board(number);
    if (!b)
        return 0;
    std::lock_guard<std::mutex> guard(b->mutex);
    return b->groupSize;
}

int SimCard::resetPulses(uint16_t number, int line) const
{
    Board* b = board(number);
    if (!b || line < 0 || line > 3)
        return 0;
    std::lock_guard<std::mutex> guard(b->mutex);
    return b->resetPulses[line];
}

std::vector<uint16_t> SimCard::counts(uint16_t number) const
{
    Board* b = board(number);
    if (!b)
        return {};
    std::lock_guard<std::mutex> guard(b->mutex);
    b->settle(plat::monotonicSeconds());
    return b->counts;
}

void SimCard::setCounts(uint16_t number, const std::vector<uint16_t>& counts)
{
    if (Board* b = board(number)) {
        std::lock_guard<std::mutex> guard(b->mutex);
        std::copy_n(counts.begin(), std::min(counts.size(), b->counts.size()), b->counts.begin());
        ++b->countsVersion;
    }
}

std::vector<uint8_t> SimCard::pixelCfg(uint16_t number) const
{
    Board* b = board(number);
    if (!b)
        return {};
    std::lock_guard<std::mutex> guard(b->mutex);
    return b->pixelCfg;
}

std::vector<uint16_t> SimCard::dacWords(uint16_t number) const
{
    Board* b = board(number);
    if (!b)
        return {};
    std::lock_guard<std::mutex> guard(b->mutex);
    return b->dacWords;
}

int SimCard::exposures(uint16_t number) const
{
    Board* b = board(number);
    if (!b)
        return 0;
    std::lock_guard<std::mutex> guard(b->mutex);
    b->settle(plat::monotonicSeconds());
    return b->exposures;
}

long SimCard::liveBuffers() const
{
    std::lock_guard<std::mutex> guard(buffersMutex_);
    return liveBuffers_;
}

void readSimCardSettings(const std::string& iniPath, SimCardConfig* config, SimFaults* faults, int* faultBoard)
{
    const char* file = iniPath.c_str();
    const char* s = "SimCard";
    *config = SimCardConfig{};
    config->cards = std::clamp(plat::getProfileInt(s, "Cards", 0, file), 0, kBoards);
    config->typeCode = static_cast<int16_t>(plat::getProfileInt(s, "TypeCode", 215, file));
    config->chips = plat::getProfileInt(s, "Chips", 1, file);
    config->chipType = plat::getProfileInt(s, "ChipType", 1, file);
    char letter[8] = "";
    plat::getProfileString(s, "IdLetter", "A", letter, sizeof letter, file);
    config->idLetter = letter[0];
    config->idNumber = plat::getProfileInt(s, "IdNumber", 1, file);
    config->idWafer = plat::getProfileInt(s, "IdWafer", 1, file);
    char number[32] = "";
    plat::getProfileString(s, "Version", "0x712", number, sizeof number, file);
    config->version = static_cast<uint32_t>(std::strtoul(number, nullptr, 0));
    config->wordsPerSecond = std::max(0, plat::getProfileInt(s, "WordsPerSecond", 0, file));

    *faults = SimFaults{};
    *faultBoard = plat::getProfileInt(s, "FaultBoard", 0, file);
    faults->stallAfterWords = plat::getProfileInt(s, "StallAfterWords", -1, file);
    faults->wordsPerSecond = plat::getProfileInt(s, "SlowWordsPerSecond", -1, file);
    char call[64] = "";
    plat::getProfileString(s, "FailCall", "", call, sizeof call, file);
    faults->failCall = call;
    faults->failAfter = plat::getProfileInt(s, "FailAfter", 0, file);
    faults->counterError = plat::getProfileInt(s, "CounterError", 0, file);
    faults->badCodes = static_cast<uint32_t>(std::max(0, plat::getProfileInt(s, "BadCodes", 0, file)));
}

} // namespace dorvel
