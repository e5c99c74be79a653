// The register protocol of the readout system on the card's ports: register access, block transfers with
// their time limits, the reset and busy lines, the version register, the external DAC, the clock
// measurement and the general reset.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "dorvel_device.h"
#include "platform/clock.h"
#include "wire.h"

namespace dorvel {

namespace {

constexpr double kPollSeconds = 0.001; // between two looks at the busy line
// Between two looks at a block transfer: short at first, so that a register access ends at once, then
// doubling up to the longest pause, well below the no-progress limit.
constexpr double kFirstTransferPoll = 0.00005;
constexpr double kLongestTransferPoll = 0.004;

// The driver's settings of a block transfer (Set_DAQ_Device_Info): what is set, and its value per direction.
constexpr uint32_t kInfoTransferMode = 13120;
constexpr uint32_t kInfoReadMode = 27050;
constexpr uint32_t kInfoWriteMode = 27010;

} // namespace

int DorvelDevice::fail(int code, const char* format, ...)
{
    char text[kLastErrorSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    trace("Error %d: %s", code, text);
    return setError(code, "%s", text);
}

void DorvelDevice::trace(const char* format, ...)
{
    if (!tracing_ || !context_.log)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    context_.log->write("(_%d_) %s\n", board_, text);
}

int DorvelDevice::nidaq(DioCall call, int16_t status)
{
    nidaqError_ = status;
    if (status == 0)
        return 0;
    return fail(kErrNidaq, "Nidaq call of %s failed, error code: %d", dioCallName(call), status);
}

int DorvelDevice::initBoard()
{
    if (const int r = nidaq(DioCall::PortConfig, card_.portConfig(board_, wire::kAddressPort, 0, 1)))
        return r;
    for (int16_t i = 0; i < 4; ++i) {
        if (const int r = nidaq(DioCall::LineConfig, card_.lineConfig(board_, wire::kLinePort, i, 1)))
            return r;
        if (const int r = nidaq(DioCall::LineConfig, card_.lineConfig(board_, wire::kLinePort, int16_t(i + 4), 0)))
            return r;
    }
    return 0;
}

int DorvelDevice::writeRegister(int reg, uint32_t value)
{
    if (const int r = nidaq(DioCall::PortOut, card_.portOut(board_, wire::kAddressPort, wire::kAddressWrite | reg)))
        return r;
    uint16_t words[2];
    if (reg == 4 || reg == 8) {
        words[0] = static_cast<uint16_t>(value >> 16);
        words[1] = static_cast<uint16_t>(value);
    } else {
        words[0] = words[1] = static_cast<uint16_t>(value);
    }
    return writeData(2, words);
}

int DorvelDevice::readRegister(int reg, uint32_t* value)
{
    if (const int r = nidaq(DioCall::PortOut, card_.portOut(board_, wire::kAddressPort, wire::kAddressRead | reg)))
        return r;
    uint16_t words[2] = {};
    if (const int r = readData(2, words))
        return r;
    *value = reg == wire::kRegCounter ? (uint32_t{words[0]} << 16) | words[1] : words[0];
    return 0;
}

int DorvelDevice::configGroup(int cfg)
{
    int16_t size = 0;
    int16_t dir = 0;
    switch (cfg) {
    case 0:
        break;
    case 1:
        size = 2;
        break;
    case 2:
        size = 2;
        dir = 1;
        break;
    default:
        return kErrGeneric;
    }
    return nidaq(DioCall::GroupConfig, card_.groupConfig(board_, wire::kDataGroup, size, 0, dir));
}

int DorvelDevice::blockTransfer(bool read, uint32_t count, uint16_t* inBuffer, const uint16_t* outBuffer,
                                TransferLimits limits)
{
    if (const int r = configGroup(read ? 1 : 2))
        return r;
    // From here on the group is released on every path, also after a failing call.
    auto release = [this](int result) {
        const int16_t saved = static_cast<int16_t>(nidaqError_);
        const int r = configGroup(0);
        if (result != 0) {
            nidaqError_ = saved; // the failure's own status stays the one shown
            return result;
        }
        return r;
    };
    if (const int r = nidaq(DioCall::GroupMode, card_.groupMode(board_, wire::kDataGroup, 3, 0, 0, 0, 0)))
        return release(r);
    if (const int r = nidaq(DioCall::DeviceInfo,
                            card_.setDeviceInfo(board_, kInfoTransferMode, read ? kInfoReadMode : kInfoWriteMode)))
        return release(r);
    const double start = plat::monotonicSeconds();
    if (read) {
        if (const int r = nidaq(DioCall::BlockIn, card_.blockIn(board_, wire::kDataGroup, inBuffer, count)))
            return release(r);
    } else {
        if (const int r = nidaq(DioCall::BlockOut, card_.blockOut(board_, wire::kDataGroup, outBuffer, count)))
            return release(r);
    }
    uint32_t remaining = count;
    uint32_t last = count;
    // No progress is counted from the moment the transfer runs: a start call that took long (a loaded
    // machine) is no stall.
    double lastChange = plat::monotonicSeconds();
    double pause = kFirstTransferPoll;
    for (;;) {
        if (const int r = nidaq(DioCall::BlockCheck, card_.blockCheck(board_, wire::kDataGroup, &remaining))) {
            card_.blockClear(board_, wire::kDataGroup); // the transfer may still run into the buffer
            return release(r);
        }
        if (remaining == 0)
            break;
        const double now = plat::monotonicSeconds();
        if (remaining != last) {
            last = remaining;
            lastChange = now;
        }
        if (now - start >= limits.time || now - lastChange >= limits.noProgress)
            break;
        plat::sleepSeconds(std::min({pause, start + limits.time - now, lastChange + limits.noProgress - now}));
        pause = std::min(pause * 2, kLongestTransferPoll);
    }
    if (remaining != 0) {
        if (const int r = nidaq(DioCall::BlockClear, card_.blockClear(board_, wire::kDataGroup)))
            return release(r);
        release(0);
        if (read)
            return fail(kErrTimeout, "Operation timeout (readData), byte remains: %u", remaining);
        return fail(kErrTimeout, "Operation timeout (writeData), byte remains: %d", static_cast<int>(remaining));
    }
    return release(0);
}

int DorvelDevice::readData(uint32_t count, uint16_t* buffer, TransferLimits limits)
{
    return blockTransfer(true, count, buffer, nullptr, limits);
}

int DorvelDevice::writeData(uint32_t count, const uint16_t* buffer, TransferLimits limits)
{
    return blockTransfer(false, count, nullptr, buffer, limits);
}

int DorvelDevice::resetLine(int line)
{
    if (line < 0 || line > 3)
        return fail(kErrParam, "Invalid parameter: %d (resetLine)", line);
    const int16_t first = line == 3 ? 1 : 0;
    if (const int r = nidaq(DioCall::LineOut, card_.lineOut(board_, wire::kLinePort, int16_t(line), first)))
        return r;
    return nidaq(DioCall::LineOut, card_.lineOut(board_, wire::kLinePort, int16_t(line), int16_t(1 - first)));
}

int DorvelDevice::waitForBusy(int state, double timeLimit)
{
    if (state != 0 && state != 1)
        return fail(kErrParam, "Invalid parameter: %d (waitForBusy)", state);
    const double start = plat::monotonicSeconds();
    for (;;) {
        int16_t line = 0;
        if (const int r = nidaq(DioCall::LineIn, card_.lineIn(board_, wire::kLinePort, wire::kBusyLine, &line)))
            return r;
        if ((line != 0 ? 1 : 0) == state)
            return 0;
        if (plat::monotonicSeconds() - start >= timeLimit)
            return fail(kErrTimeout, "Operation timeout (waitForBusy)");
        plat::sleepSeconds(kPollSeconds);
    }
}

int DorvelDevice::checkBusyLine(int* busy)
{
    int16_t line = 0;
    if (const int r = nidaq(DioCall::LineIn, card_.lineIn(board_, wire::kLinePort, wire::kBusyLine, &line)))
        return r;
    *busy = line != 0 ? 1 : 0;
    return 0;
}

int DorvelDevice::getDorvelVersion()
{
    uint32_t value = 0;
    if (const int r = readRegister(wire::kRegVersion, &value))
        return r;
    dorvelMajor_ = static_cast<uint8_t>((value >> 4) & 0xF);
    dorvelMinor_ = static_cast<uint8_t>(value & 0xF);
    versionWord_ = static_cast<uint16_t>(value);
    return 0;
}

int DorvelDevice::setExtDac(double volts)
{
    if (std::isnan(volts))
        return fail(kErrParam, "Invalid parameter: %g (setExtDac)", volts);
    if (volts < 0.0) {
        extDacShadow_ = 0;
        return writeRegister(wire::kRegExtDac, 0);
    }
    const int code = volts >= 2.2 ? 4095 : static_cast<int>(std::lround(volts / 2.2 * 4095.0));
    extDacShadow_ = code * 16 + 6;
    if (const int r = writeRegister(wire::kRegExtDac, static_cast<uint32_t>(extDacShadow_)))
        return r;
    extDacShadow_ |= 8;
    return writeRegister(wire::kRegExtDac, static_cast<uint32_t>(extDacShadow_));
}

// A transfer done within the clock's resolution (or a clock that went back) tells no frequency: 0.
double transferClockMHz(uint32_t words, double elapsedSeconds)
{
    return elapsedSeconds > 0.0 ? words / elapsedSeconds / 1e6 : 0.0;
}

int DorvelDevice::readSpeedTest()
{
    if (const int r = nidaq(DioCall::PortOut, card_.portOut(board_, wire::kAddressPort, wire::kAddressRead | 9)))
        return r;
    uint16_t* buffer = card_.allocateBuffer(kSpeedTestWords);
    if (!buffer)
        return fail(kErrMemory, "Memory allocation of %d bytes failed.", static_cast<int>(kSpeedTestWords * 2));
    // The long read has its own time limit; transfers of other boards keep theirs.
    const double start = plat::monotonicSeconds();
    const int r = readData(kSpeedTestWords, buffer, TransferLimits{kSpeedTestLimit});
    const double elapsed = plat::monotonicSeconds() - start;
    card_.releaseBuffer(buffer);
    if (r != 0) {
        const std::string text = lastError();
        generalResetSequence();
        return setError(r, "%s", text.c_str());
    }
    clockMHz_ = transferClockMHz(kSpeedTestWords, elapsed);
    trace("readFreq: %f", clockMHz_ * 1e6);
    return 0;
}

int DorvelDevice::generalResetSequence()
{
    if (const int r = resetLine(wire::kLineGeneral))
        return r;
    if (extDacShadow_ != 0) {
        if (const int r = writeRegister(wire::kRegExtDac, static_cast<uint32_t>(extDacShadow_ & ~8)))
            return r;
        if (const int r = writeRegister(wire::kRegExtDac, static_cast<uint32_t>(extDacShadow_ | 8)))
            return r;
    }
    if (const int r = resetLine(wire::kLineGeneral))
        return r;
    return resetLine(wire::kLineGeneral);
}

uint16_t DorvelDevice::controlWord() const
{
    uint16_t word = parallelReset_ ? wire::kCtlBase | wire::kCtlParallelReset : wire::kCtlBase;
    if (testPulseFlag_)
        word |= wire::kCtlTestPulse;
    if (acqPars_.useHwTimer && acqPars_.acqMode != ACQMODE_EXTSHUTTER_FIXED)
        word |= wire::kCtlHwTimer;
    return word;
}

int DorvelDevice::counterCheck(uint32_t value, uint32_t expected)
{
    constexpr int kTolerance = 2;
    const int64_t difference = int64_t{value} - int64_t{expected};
    if (difference < -kTolerance || difference > kTolerance)
        return fail(kErrCounter, "Counter check failed, value: %u, expected: %u +- %d", value, expected, kTolerance);
    return 0;
}

} // namespace dorvel
