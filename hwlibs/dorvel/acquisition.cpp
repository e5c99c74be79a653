// Ours: start, stop and measured time of an exposure (modes 1 and 16), test pulses and the pixel
// configuration. The register protocol gives only their traces; the words are those of wire.h.
//
// An exposure starts with the control word and kCtlExpose; with the hardware timer (mode 1 only) register
// 4 holds its length in microseconds and the busy line stays high while it runs, otherwise it runs until
// the stop, which writes the control word without kCtlExpose. Its time is the span from start to stop.
// Test pulses: the height on the external DAC, the period in register 4 (microseconds), the count in
// register 7, then kCtlPulses with the test-pulse flag; the busy line is high while the train runs.
// Pixel configuration: one byte per pixel through the matrix port with kCtlPixelCfg and the counter
// check, then the "PixCfg delay".
#include <cmath>
#include <cstring>

#include "dorvel_device.h"
#include "platform/clock.h"
#include "wire.h"

namespace dorvel {

namespace {

constexpr double kTimerTick = 1e-6;       // [s]
constexpr double kTimerMax = 4294.967295; // [s] register 4 full
constexpr uint32_t kMaxPulses = 65535;    // register 7
constexpr double kMaxPulsePeriod = 1.0;   // [s]
constexpr double kExtDacFullScale = 2.2;  // [V]

uint32_t timerTicks(double seconds)
{
    const double ticks = std::round(seconds / kTimerTick);
    return ticks < 1.0 ? 1u : ticks >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(ticks);
}

} // namespace

int DorvelDevice::setAcqPars(const _AcqPars* pars)
{
    if (!pars)
        return fail(kErrParam, "Invalid parameter.");
    if (pars->acqMode != ACQMODE_MANUAL && pars->acqMode != ACQMODE_EXTSHUTTER_FIXED)
        return fail(kErrParam, "Unsupported acq. type: %d.", pars->acqMode);
    acqPars_ = *pars;
    return 0;
}

int DorvelDevice::startAcquisition()
{
    trace("startAcquisition...");
    const bool hwTimer = acqPars_.useHwTimer && acqPars_.acqMode == ACQMODE_MANUAL;
    if (hwTimer) {
        if (!(acqPars_.acqTime >= 0.0 && acqPars_.acqTime <= kTimerMax))
            return fail(kErrParam, "Invalid acquisition time: %g s (at most %g s with the hardware timer).",
                        acqPars_.acqTime, kTimerMax);
        if (resetDorvel_)
            if (const int r = resetLine(wire::kLineReadout))
                return r;
        if (const int r = writeRegister(wire::kRegTimer, timerTicks(acqPars_.acqTime)))
            return r;
    }
    if (const int r = sendMatrixCommand(controlWord() | wire::kCtlExpose))
        return r;
    startTime_ = plat::monotonicSeconds();
    exposing_ = true;
    return 0;
}

int DorvelDevice::stopAcquisition()
{
    trace("stopAcquisition...");
    const int r = writeRegister(wire::kRegControl, controlWord());
    if (exposing_) {
        acqTime_ = plat::monotonicSeconds() - startTime_;
        exposing_ = false;
    }
    return r;
}

int DorvelDevice::getAcqTime(double* time)
{
    if (!time)
        return fail(kErrParam, "Invalid parameter.");
    *time = acqTime_;
    return 0;
}

int DorvelDevice::checkBusy(int* busy)
{
    if (!busy)
        return fail(kErrParam, "Invalid parameter.");
    return checkBusyLine(busy);
}

int DorvelDevice::testPulses(double height, double period, uint32_t count)
{
    trace("testPulses, height: %lf, period: %lf, pulseCount: %u...", height, period, count);
    if (!(height >= 0.0 && height <= kExtDacFullScale))
        return fail(kErrParam, "Invalid test-pulse height: %g V (0 to %g V).", height, kExtDacFullScale);
    if (!(period >= kTimerTick && period <= kMaxPulsePeriod))
        return fail(kErrParam, "Invalid test-pulse period: %g s (%g to %g s).", period, kTimerTick, kMaxPulsePeriod);
    if (count < 1 || count > kMaxPulses)
        return fail(kErrParam, "Invalid test-pulse count: %u (1 to %u).", count, kMaxPulses);
    if (const int r = setExtDac(height))
        return r;
    if (const int r = writeRegister(wire::kRegTimer, timerTicks(period)))
        return r;
    if (const int r = writeRegister(wire::kRegPulseCount, count))
        return r;
    testPulseFlag_ = true;
    int r = sendMatrixCommand(controlWord() | wire::kCtlPulses);
    if (r == 0)
        r = waitForBusy(0, kTransferTimeLimit + count * period);
    testPulseFlag_ = false;
    return r;
}

int DorvelDevice::setPixelsCfg(const uint8_t* cfg, uint32_t size)
{
    trace("setPixelsCfg...");
    if (!transfer_)
        return fail(kErrGeneric, "Device is not initialized (hwInit).");
    const uint32_t required = pixelCount();
    if (!cfg || size < required)
        return fail(kErrParam, "Supplied buffer is too small, size: %u, required: %u", cfg ? size : 0, required);
    const uint32_t words = wire::pixelCfgWords(chips());
    std::memcpy(transfer_, cfg, required);
    if (const int r = sendMatrixCommand(controlWord() | wire::kCtlWrite | wire::kCtlPixelCfg))
        return r;
    if (const int r = resetLine(wire::kLineReadout))
        return r;
    if (const int r = nidaq(DioCall::PortOut, card_.portOut(board_, wire::kAddressPort, wire::kMatrixWrite)))
        return r;
    if (const int r = writeData(words, transfer_))
        return r;
    uint32_t counter = 0;
    if (const int r = readRegister(wire::kRegCounter, &counter))
        return r;
    if (const int r = counterCheck(counter, wire::pixelCfgCounter(chips())))
        return r;
    if (const int r = resetLine(wire::kLineReadout))
        return r;
    if (pixCfgDelay_ > 0)
        plat::sleepSeconds(pixCfgDelay_ / 1000.0);
    return 0;
}

int DorvelDevice::resetMatrix()
{
    return resetLine(wire::kLineMatrix);
}

int DorvelDevice::generalReset()
{
    return generalResetSequence();
}

} // namespace dorvel
