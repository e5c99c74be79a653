#include "usb_device.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/clock.h"
#include "platform/text_copy.h"
#include "box_wire.h"

namespace usb {
namespace {

enum DataType { T_BOOL = 0, T_CHAR = 1, T_BYTE = 3, T_U16 = 5, T_U32 = 7, T_DOUBLE = 9 };
constexpr int kElementSize[] = {4, 1, 1, 1, 2, 2, 4, 4, 4, 8, 4};

int elementSize(int type)
{
    return type >= 0 && type < static_cast<int>(std::size(kElementSize)) ? kElementSize[type] : 0;
}

// The refusals of the item functions: every one is a bad parameter, logged (invalid()). Every item may be
// set, and a null flags pointer is no error.
const hwkit::ItemRules kItemRules{
    -kBadParameter,
    -kBadParameter,
    "Invalid parameter, HwInfoItem index (%d) out of range",
    "Invalid parameter.",
    "Supplied buffer is too small, size: %u, required: %u",
    "Invalid parameter, data size for HwInfoItem: %d, required: %d",
    nullptr,
    nullptr,
    true,
    true,
};

// The items in table order.
enum Item {
    kName, kFirmware, kLogToFile, kLogErrs, kExpTime, kHv, kHvVer, kLeakage, kDac0, kDac0Ver, kDac1, kDac1Ver,
    kTvkSense, kBsPreamp, kPowerVer, kTemperature, kScopeOnTrg, kScopeData, kScopeSamples, kPreActionDelay, kDelay,
    kResetTvk, kPixCfgDelay, kCounters, kCoincMode, kCoincDelay, kTrigTime, kCoincLiveTime, kAutoErase,
    kAutoEraseCounter, kSarnetClock
};
static_assert(kSarnetClock + 1 == kHwInfoCount, "one index name per item");

bool isAdcItem(int index)
{
    return index == kHvVer || index == kLeakage || index == kDac0Ver || index == kDac1Ver || index == kTvkSense ||
           index == kBsPreamp || index == kPowerVer || index == kTemperature;
}

constexpr double kAdcVolts = 2.5 / 4096.0;
constexpr double kAdcMaxAge = 0.02;
// The test-pulse heights offered (_DevInfo) and the largest the box makes: DAC0's code is
// (5669.556 - height x 4096.5) / 2.5, 0 at 1.384 V.
constexpr double kOfferedPulseHeight = 1.4;
constexpr double kMaxPulseHeight = 1.384;

uint16_t interfaceDacCode(double volts)
{
    if (std::isnan(volts) || volts <= 0)
        return 0;
    return static_cast<uint16_t>(std::min(4095.0, std::floor(volts * 4096.5 / 2.5)));
}

} // namespace

struct UsbDevice::Values {
    char name[64] = "";
    char firmware[64] = "";
    int32_t logToFile = 0, logErrs = 1; // mirrors of the process-wide switches
    double expTime = 0, hv = 0, hvVer = 0, leakage = 0, dac0 = 0, dac0Ver = 0, dac1 = 0, dac1Ver = 0, tvkSense = 0,
           bsPreamp = 0, power[3] = {}, temperature = 0;
    int32_t scopeOnTrg = 0;
    uint16_t scopeData[450] = {};
    uint16_t scopeSamples = 450;
    double preActionDelay = 0;
    int32_t delay[3] = {};
    int32_t resetTvk = 0;
    uint32_t pixCfgDelay = 0;
    uint32_t counters[3] = {}; // triggers, valid, invalid
    uint8_t coincMode = 0, coincDelay = 0;
    double trigTime = 0, coincLiveTime = 0, autoErase = 0;
    uint32_t autoEraseCounter = 0;
    uint8_t sarnetClock = 0;
    double acqDuration = 0; // the last exposure's duration (hwGetAcqTime)
};

UsbDevice::UsbDevice(int id, LinkInfo info, DeviceHost* host)
    : ItemDevice(kItemRules, elementSize, [this](int, const char* text) { return invalid("%s", text); }),
      id_(id),
      info_(std::move(info)),
      host_(host),
      log_(id),
      v_(std::make_unique<Values>())
{
    declareItems({
        {"Name+SN", T_CHAR, 64, 0, "Name and SerNo.", v_->name},
        {"Firmware", T_CHAR, 64, 0, "Firmware version", v_->firmware},
        {"LogToFile", T_BOOL, 1, 3, "Log msgs/errs to file", &v_->logToFile},
        {"LogErrs", T_BOOL, 1, 3, "Log just errors", &v_->logErrs},
        {"ExpTime", T_DOUBLE, 1, 0, "Last frame time", &v_->expTime},
        {"HV", T_DOUBLE, 1, 7, "Bias Voltage [V]", &v_->hv},
        {"HV ver", T_DOUBLE, 1, 0, "Bias Voltage verification [V]", &v_->hvVer},
        {"Leakage", T_DOUBLE, 1, 0, "Bias current [V]", &v_->leakage},
        {"DAC0", T_DOUBLE, 1, 3, "DAC0 [V] (Tpulse or PulseScan threshold)", &v_->dac0},
        {"DAC0 ver", T_DOUBLE, 1, 0, "DAC0 verification [V]", &v_->dac0Ver},
        {"DAC1", T_DOUBLE, 1, 3, "DAC1 [V] (External DAC)", &v_->dac1},
        {"DAC1 ver", T_DOUBLE, 1, 0, "DAC1 verification [V]", &v_->dac1Ver},
        {"TVK sense", T_DOUBLE, 1, 0, "TVK DAC sense [V]", &v_->tvkSense},
        {"BS pulse preamp", T_DOUBLE, 1, 0, "Back side pulse preamp [V]", &v_->bsPreamp},
        {"Pover Voltages ver", T_DOUBLE, 3, 0, "Verification VCC, VDD, VDDbias [V]", v_->power},
        {"Temperature", T_DOUBLE, 1, 0, "Temperature [V]", &v_->temperature},
        {"ScopeOnTrg", T_BOOL, 1, 3, "Start scope on trigger", &v_->scopeOnTrg},
        // Copied into frames while the scope starts on the trigger.
        {"Scope data", T_U16, 450, 0, "Scope data", v_->scopeData,
         [this] {
             std::lock_guard<std::mutex> guard(values_);
             return v_->scopeOnTrg ? uint32_t{HWINFO_TO_FRAME} : 0u;
         }},
        {"Scope samples", T_U16, 1, 3, "Number of scope samples", &v_->scopeSamples},
        {"Pre-Action Delay", T_DOUBLE, 1, 3, "Pre-Action Delay [s]", &v_->preActionDelay},
        {"Delay", T_BOOL, 3, 3, "Insert delay before: Openshutter, CloseShutter, StartScope", v_->delay},
        {"Reset Tvk", T_BOOL, 1, 3, "Reset Tvk before DACs are set.", &v_->resetTvk},
        {"PixCfg delay", T_U32, 1, 3, "Delay in ms after setting pixels cfgs (threshold stabilization)",
         &v_->pixCfgDelay},
        {"Counters", T_U32, 3, 6, "Counts: Triggers, Valid coinc, Invalid coinc", v_->counters},
        {"Coincidence mode", T_BYTE, 1, 7,
         "Coinc Mode: On/Off=0x01, TrgInLevel=0x02, Notify=0x04, NotifInitLevel=0x08, NotifyValid=0x10, "
         "NotifyByPulse=0x20",
         &v_->coincMode},
        {"Coincidence delay", T_BYTE, 1, 7, "Maximum coincidence delay (1=min, 256=max [=64us])",
         &v_->coincDelay},
        {"Triger time", T_DOUBLE, 1, 4, "Last trigger time [s]", &v_->trigTime},
        {"Coinc live time", T_DOUBLE, 1, 6, "Last coincidence live time [s]", &v_->coincLiveTime},
        {"Auto Erase interval", T_DOUBLE, 1, 7, "In triggered mode autoerase matrix after [s]",
         &v_->autoErase},
        {"Autoerase interval counter", T_U32, 1, 4, "Autoerase interval counter", &v_->autoEraseCounter},
        {"Sarnet clock", T_BYTE, 1, 7, "Sarnet clock (0-3: 10MHz, 20MHz, 40MHz, 80MHz)", &v_->sarnetClock},
    });
    // Every value is read and written under values_, with the effects of the item.
    for (int index = 0; index < kHwInfoCount; ++index) {
        items().item(index).read = [this, index](void* out) { return readItem(index, out); };
        items().item(index).write = [this, index](const void* data) { return writeItem(index, data); };
    }
    plat::copyText(v_->name, info_.description.c_str());
    devInfo_.rowLength = 256;
    devInfo_.chipRows = 1;
    devInfo_.chipType = 1;
    devInfo_.interfaceName = "USB";
    devInfo_.acqModeMask = ACQMODE_MANUAL | ACQMODE_TRIG_START | ACQMODE_TRIG_STOP;
    devInfo_.callbackSupported = 1;
    devInfo_.clockMHz = wire::clockMHz(1);
    devInfo_.hwTimerMax = 14073748.8355328;
    devInfo_.hwTimerStep = 5e-8;
    devInfo_.maxTestPulseCount = 65536;
    devInfo_.maxTestPulseHeight = kOfferedPulseHeight;
    devInfo_.maxTestPulsePeriod = 0.000256;
    devInfo_.extDacMax = 2.5;
    devInfo_.extDacStep = 0.0006105006105006105;
    pars_ = {1, 0, 1, ACQMODE_MANUAL, 1.0};
}

UsbDevice::~UsbDevice()
{
    stopMonitor();
    link_.reset();
}

codec::CounterWidth UsbDevice::width() const
{
    return wire::counterWidth(devInfo_.chipType);
}

int UsbDevice::invalid(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    log_.message(kBadParameter, text);
    return setError(-kBadParameter, "%s", text);
}

int UsbDevice::failed()
{
    if (lost())
        return goneError();
    // A link that failed to transmit or receive and no longer answers is gone (the box was unplugged).
    if (link_ && (link_->errorType() == kTransmissionFailed || link_->errorType() == kNotResponding) &&
        !link_->alive()) {
        markLost(link_->errorText());
        return goneError();
    }
    const int type = link_ ? link_->errorType() : kBadHandle;
    const std::string text = link_ ? link_->errorText() : std::string("Device is not opened.");
    const int t = type >= kGeneralError ? type : kGeneralError;
    return setError(-t, "%s", text.empty() ? errorTypeName(t) : text.c_str());
}

bool UsbDevice::run(uint8_t code, const uint8_t* params, size_t size, Reply* reply, int retries, double timeout)
{
    if (!link_) {
        setError(-kBadHandle, "Device is not opened.");
        return false;
    }
    if (lost())
        return false; // nothing reaches the box: failed() says it is gone
    link_->clearError();
    return link_->execute(code, params, size, reply, retries, timeout);
}

bool UsbDevice::lost() const
{
    std::lock_guard<std::mutex> guard(values_);
    return linkLost_;
}

int UsbDevice::goneError()
{
    std::string cause;
    {
        std::lock_guard<std::mutex> guard(values_);
        cause = lostText_;
    }
    return setError(-kNotResponding, "The readout box is gone (%s). Plug it in and reconnect the device.",
                    cause.empty() ? "its link failed" : cause.c_str());
}

void UsbDevice::markLost(const std::string& cause)
{
    {
        std::lock_guard<std::mutex> guard(values_);
        if (linkLost_)
            return;
        linkLost_ = true;
        lostText_ = cause;
        if (running_) {
            running_ = false;
            events_.push_back(HWCB_ACQ_FINISHED);
        }
    }
    log_.message(kNotResponding, "The readout box is gone (" + (cause.empty() ? std::string("its link failed") : cause) +
                                     "): its link is polled less and less often until the device is reconnected.");
}

// ---- opening and closing ----

int UsbDevice::init()
{
    stopMonitor();
    if (link_ && (lost() || !link_->alive())) {
        // The box was unplugged: its old link stays dead, also once it is back. A new one is opened.
        link_->close();
        link_.reset();
    }
    if (!link_) {
        std::unique_ptr<FtLink> ft;
        const int status = host_->backend() ? host_->backend()->open(info_, &ft) : FT_DEVICE_NOT_FOUND;
        if (status != FT_OK) {
            const std::string text = "Can't open device - " + std::string(ftStatusText(status));
            log_.message(kBadHandle, text);
            return setError(-kBadHandle, "%s", text.c_str());
        }
        link_ = std::make_unique<BoxLink>(std::move(ft), &log_, [this](BoxMessage&& m) { onMessage(std::move(m)); });
    } else {
        link_->purge();
        link_->resynchronise();
    }
    {
        std::lock_guard<std::mutex> guard(values_);
        linkLost_ = running_ = frameReady_ = frameLost_ = shutterOpen_ = false;
        lostText_.clear();
        events_.clear();
    }
    Reply r;
    if (!run('#', nullptr, 0, &r))
        return failed();
    const int chips = r.params.empty() ? 0 : r.params[0];
    if (chips != 1 && chips != 2 && chips != 4) {
        link_->report(kBadResponse, "Unsupported number of chips: " + std::to_string(chips));
        return failed();
    }
    devInfo_.chipCount = chips;
    devInfo_.chipRows = chips < 4 ? 1 : 2;
    devInfo_.pixelCount = chips * 65536;
    devInfo_.rowLength = 256 * chips / devInfo_.chipRows;
    {
        std::lock_guard<std::mutex> guard(values_);
        frame_.assign(static_cast<size_t>(chips) * codec::kPixelsPerChip, 0);
    }
    link_->clearError();
    if (!run('i', nullptr, 0, &r))
        return failed();
    const std::string version(r.params.begin(), r.params.end());
    firmware_ = 0;
    const size_t colon = version.find(':');
    std::string afterColon;
    if (colon != std::string::npos) {
        afterColon = version.substr(colon + 1);
        int major = 0, minor = 0, patch = 0;
        if (std::sscanf(afterColon.c_str(), "%d.%d.%d", &major, &minor, &patch) >= 1)
            firmware_ = major * 100 + minor * 10 + patch;
    }
    {
        std::lock_guard<std::mutex> guard(values_);
        plat::copyText(v_->firmware, version.c_str());
        if (v_->name[0] == '?') {
            const std::string name = colon != std::string::npos ? afterColon + " " : std::to_string(id_);
            plat::copyText(v_->name, name.c_str());
        }
    }
    if (!run('|', nullptr, 0, &r))
        return failed();
    if (r.params.size() >= 4) {
        const std::string text = codec::formatChipboardId(static_cast<char>(r.params[0]), r.params[1],
                                                          static_cast<unsigned>(r.params[2] | (r.params[3] << 8)));
        plat::copyText(devInfo_.chipboardId, text.c_str());
    }
    if (!run('n', nullptr, 0, &r))
        return failed();
    const int type = r.params.empty() ? 0 : r.params[0];
    if (type < 1 || type > 3) {
        link_->report(kBadResponse, "Unsupported chip type: " + std::to_string(type));
        return failed();
    }
    devInfo_.chipType = type;
    devInfo_.clockMHz = wire::clockMHz(type);
    if (const int rc = readAdc())
        return rc;
    if (const int rc = scopeConfigure())
        return rc;
    polaritySent_ = false;
    link_->clearError();
    stop_ = false;
    monitor_ = std::thread([this] { monitor(); });
    return 0;
}

int UsbDevice::closeDevice()
{
    stopMonitor();
    if (!link_)
        return 0;
    const int status = link_->close();
    link_.reset();
    if (status != FT_OK)
        return setError(-kBadHandle, "Can't close device - %s", ftStatusText(status));
    return 0;
}

void UsbDevice::stopMonitor()
{
    if (!monitor_.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(monitorMutex_);
        stop_ = true;
    }
    monitorWake_.notify_all();
    // The monitor may be in the callback, whose subscriber may wait for this device's call lock.
    withoutCallLock([this] { monitor_.join(); });
}

void UsbDevice::monitor()
{
    // The box's messages (and an unplugged link) are looked for every 2 ms, idle or not; a start wakes
    // the monitor at once. A lost link is only asked whether it answers again, silently, at pauses that
    // double up to kLostPauseMax: a dead link costs neither the processor nor lines in the log.
    constexpr auto kPause = std::chrono::milliseconds(2);
    constexpr auto kLostPauseMax = std::chrono::milliseconds(1000);
    std::chrono::milliseconds lostPause = kPause;
    std::unique_lock<std::mutex> sleep(monitorMutex_);
    while (!stop_) {
        sleep.unlock();
        BoxLink* link = link_.get();
        const bool wasLost = lost();
        if (link && !link->commandRunning() && link->commandLock().try_lock()) {
            if (wasLost) {
                const bool answers = link->alive();
                link->commandLock().unlock();
                if (answers) {
                    {
                        std::lock_guard<std::mutex> guard(values_);
                        linkLost_ = false;
                        lostText_.clear();
                    }
                    log_.message(kMessage, "The readout box answers again.");
                    lostPause = kPause;
                } else {
                    lostPause = std::min(lostPause * 2, kLostPauseMax);
                }
            } else {
                const bool ok = link->drain();
                link->commandLock().unlock();
                // The link failed: a running acquisition ends now, reported as finished so that nobody waits.
                if (!ok && link->errorType() != kBadResponse && link->errorType() != kFatalError)
                    markLost(link->errorText());
                endIfFrameLost(*link);
            }
        }
        deliverEvents();
        sleep.lock();
        monitorWake_.wait_for(sleep, lost() ? lostPause : kPause, [this] { return stop_ || wake_; });
        wake_ = false;
    }
}

int UsbDevice::reopenIfDead()
{
    if (!link_ || (!lost() && link_->alive()))
        return 0;
    log_.message(kMessage, "The readout box is back on the bus: its link is opened anew.");
    return init();
}

// A resynchronisation drops whatever came before the sync string, the frame message of a running
// acquisition too: such an acquisition ends now, reported as finished, and its read fails, instead of
// waiting for ever for a frame that will not come.
void UsbDevice::endIfFrameLost(BoxLink& link)
{
    {
        std::lock_guard<std::mutex> guard(values_);
        if (!running_ || link.resyncs() == resyncsAtStart_)
            return;
        running_ = false;
        frameLost_ = true;
        events_.push_back(HWCB_ACQ_FINISHED);
    }
    log_.message(kBadResponse, kFrameLostText);
}

void UsbDevice::deliverEvents()
{
    // One deliverer at a time keeps the events in order; a thread that finds another delivering leaves
    // the events to it (waiting could deadlock: that one may be in a callback that waits for our lock).
    std::unique_lock<std::recursive_mutex> order(delivering_, std::try_to_lock);
    if (!order.owns_lock())
        return;
    for (;;) {
        int event;
        {
            std::lock_guard<std::mutex> guard(values_);
            if (events_.empty())
                return;
            event = events_.front();
            events_.pop_front();
        }
        if (const HwCallback cb = host_->callback())
            cb(tag(), event, 0);
    }
}

void UsbDevice::reportGone()
{
    if (const HwCallback cb = host_->callback())
        cb(tag(), HWCB_DEV_REMOVED, 0);
}

// ---- messages of the box ----

bool UsbDevice::decodeInto(const std::vector<uint8_t>& stream, std::vector<uint16_t>* counts)
{
    const size_t chips = static_cast<size_t>(devInfo_.chipCount);
    counts->assign(chips * codec::kPixelsPerChip, 0);
    codec::StreamReport report;
    codec::decodeMatrix(stream, chips, width(), *counts, &report);
    if (!report.sizeOk) {
        link_->report(kBadResponse, "Matrix data too short: " + std::to_string(stream.size()) + " bytes.");
        return false;
    }
    if (report.bad)
        link_->report(kGeneralError, std::to_string(report.bad) + " pixels hold codes that are no counter state.");
    return true;
}

uint8_t UsbDevice::clockSetting() const
{
    std::lock_guard<std::mutex> guard(values_);
    return v_->sarnetClock;
}

void UsbDevice::onMessage(BoxMessage&& m)
{
    const int mode = acqMode_.load();
    // Measured time counts as coincidence live time while the coincidence mode is on in "trigger stops".
    const auto addLiveTime = [this, coincidence = mode == ACQMODE_TRIG_STOP](double seconds) { // values_ held
        if (coincidence && (v_->coincMode & 1))
            v_->coincLiveTime += seconds;
    };
    if (m.kind == BoxMessage::Text) {
        std::lock_guard<std::mutex> guard(values_);
        if (m.text == "Interval finished") {
            ++v_->autoEraseCounter;
        } else if (m.text == "Trigger detected") {
            v_->trigTime = plat::preciseNow();
            ++v_->counters[0];
            if (mode == ACQMODE_TRIG_START)
                events_.push_back(HWCB_ACQ_STARTED);
        } else if (m.text == "Coincidence valid") {
            ++v_->counters[1];
        } else if (m.text == "Coincidence invalid") {
            ++v_->counters[2];
        } else {
            log_.message(kGeneralError, "Unhandled message: \"" + m.text + "\"]");
        }
        return;
    }
    if (m.kind == BoxMessage::Interval) {
        const double seconds = codec::timerSeconds(m.ticks, clockSetting());
        std::lock_guard<std::mutex> guard(values_);
        addLiveTime(seconds);
        return;
    }
    if (m.kind == BoxMessage::Scope) {
        std::lock_guard<std::mutex> guard(values_);
        std::fill(std::begin(v_->scopeData), std::end(v_->scopeData), 0);
        const size_t samples = std::min<size_t>(((m.data[0] << 8) | m.data[1]) + 1, 450);
        for (size_t i = 0; i < samples && 2 + 2 * i + 1 < m.data.size(); ++i)
            v_->scopeData[i] = static_cast<uint16_t>(4095 - (((m.data[2 + 2 * i] << 8) | m.data[3 + 2 * i]) & 0xFFF));
        return;
    }
    const double seconds = codec::timerSeconds(m.ticks, clockSetting());
    char text[128];
    std::snprintf(text, sizeof text, "Frame received: ID=0x%04x, t=%05lg sec", m.frameId, seconds);
    log_.message(kMessage, text);
    std::vector<uint16_t> counts;
    if (!decodeInto(m.data, &counts))
        return;
    std::lock_guard<std::mutex> guard(values_);
    frame_ = std::move(counts);
    v_->expTime = plat::preciseNow();
    v_->acqDuration = seconds;
    addLiveTime(seconds);
    frameReady_ = true;
    running_ = false;
    events_.push_back(HWCB_ACQ_FINISHED);
}

// ---- info items ----

// The value of an item, with the voltages read anew when the last reading is older than kAdcMaxAge; a
// failed reading is the result while the last values are given.
int UsbDevice::readItem(int index, void* out)
{
    int adc = 0;
    if (isAdcItem(index) && (adcStamp_ < 0 || plat::monotonicSeconds() - adcStamp_ > kAdcMaxAge))
        adc = readAdc();
    std::lock_guard<std::mutex> guard(values_);
    v_->logToFile = debugLog().logToFile();
    v_->logErrs = debugLog().logErrorsOnly();
    std::memcpy(out, items().item(index).value, static_cast<size_t>(items().valueSize(index)));
    return adc;
}

// A value of the right size: checked, stored, then carried out on the box.
int UsbDevice::writeItem(int index, const void* data)
{
    void* value = items().item(index).value;
    std::vector<uint8_t> old(static_cast<size_t>(items().valueSize(index)));
    {
        std::lock_guard<std::mutex> guard(values_);
        if (index == kScopeSamples) {
            uint16_t samples;
            std::memcpy(&samples, data, sizeof samples);
            if (samples < 1 || samples > wire::kMaxScopeSamples)
                return invalid("Invalid parameter, scope samples: %u, allowed: 1 - %u", samples,
                               static_cast<unsigned>(wire::kMaxScopeSamples));
        }
        if (index == kSarnetClock && *static_cast<const uint8_t*>(data) > 3)
            return invalid("Invalid parameter, Sarnet clock: %u, allowed: 0 - 3", *static_cast<const uint8_t*>(data));
        std::memcpy(old.data(), value, old.size());
        std::memcpy(value, data, old.size());
        if (index == kName || index == kFirmware)
            static_cast<char*>(value)[63] = '\0';
    }
    const int rc = applyItem(index);
    if (rc != 0) {
        // A value the box refused is not kept: it would be reported (and stamped into frames) as applied.
        std::lock_guard<std::mutex> guard(values_);
        std::memcpy(value, old.data(), old.size());
    }
    return rc;
}

int UsbDevice::applyItem(int index)
{
    double volts = 0;
    switch (index) {
    case kLogToFile: {
        bool on;
        {
            std::lock_guard<std::mutex> guard(values_);
            on = v_->logToFile != 0;
        }
        debugLog().setLogToFile(on); // creates the log file when it is first switched on
        return 0;
    }
    case kLogErrs: {
        std::lock_guard<std::mutex> guard(values_);
        debugLog().setLogErrorsOnly(v_->logErrs != 0);
        return 0;
    }
    case kHv: {
        {
            std::lock_guard<std::mutex> guard(values_);
            volts = v_->hv;
        }
        const uint8_t b = wire::biasByte(volts);
        return run('b', &b, 1) ? 0 : failed();
    }
    case kDac0:
    case kDac1: {
        {
            std::lock_guard<std::mutex> guard(values_);
            volts = index == kDac0 ? v_->dac0 : v_->dac1;
        }
        return sendInterfaceDac(index == kDac0 ? 0 : 1, volts);
    }
    case kScopeOnTrg:
    case kScopeSamples: return scopeConfigure();
    case kPreActionDelay:
    case kDelay: return preAction();
    case kCoincMode:
    case kCoincDelay: return pars_.acqMode == ACQMODE_TRIG_STOP ? coincidenceSetup() : 0;
    case kSarnetClock: {
        uint8_t clock;
        {
            std::lock_guard<std::mutex> guard(values_);
            clock = v_->sarnetClock;
        }
        return run('3', &clock, 1) ? 0 : failed();
    }
    default: return 0;
    }
}

int UsbDevice::sendInterfaceDac(int channel, double volts)
{
    const auto request = wire::interfaceDacRequest(static_cast<uint8_t>(channel), interfaceDacCode(volts));
    return run('>', request.data(), request.size()) ? 0 : failed();
}

int UsbDevice::readAdc()
{
    Reply r;
    if (!run('M', nullptr, 0, &r))
        return failed();
    if (r.params.size() < 2 * wire::kAdcChannels) {
        link_->report(kBadResponse, "Too short response.");
        return failed();
    }
    auto raw = [&](int channel) { return double((r.params[2 * channel] | (r.params[2 * channel + 1] << 8)) & 0xFFF) * kAdcVolts; };
    std::lock_guard<std::mutex> guard(values_);
    v_->hvVer = raw(wire::kAdcHv);
    v_->leakage = raw(wire::kAdcLeakage);
    v_->dac0Ver = raw(wire::kAdcDac0);
    v_->dac1Ver = raw(wire::kAdcDac1);
    v_->tvkSense = raw(wire::kAdcTvkSense);
    v_->bsPreamp = raw(wire::kAdcBsPreamp);
    v_->power[0] = raw(wire::kAdcVcc);
    v_->power[1] = raw(wire::kAdcVdd);
    v_->power[2] = raw(wire::kAdcVddBias);
    v_->temperature = raw(wire::kAdcTemperature);
    adcStamp_ = plat::monotonicSeconds();
    return 0;
}

int UsbDevice::scopeConfigure()
{
    uint16_t samples;
    {
        std::lock_guard<std::mutex> guard(values_);
        samples = v_->scopeSamples;
    }
    const auto request = wire::scopeRequest(samples);
    return run('A', request.data(), request.size()) ? 0 : failed();
}

int UsbDevice::preAction()
{
    double delay;
    uint8_t flags = 0;
    {
        std::lock_guard<std::mutex> guard(values_);
        delay = v_->preActionDelay;
        flags = static_cast<uint8_t>((v_->delay[0] ? 2 : 0) | (v_->delay[1] ? 1 : 0) | (v_->delay[2] ? 8 : 0));
    }
    const auto request = wire::preActionRequest(delay, flags);
    return run('/', request.data(), request.size()) ? 0 : failed();
}

int UsbDevice::coincidenceSetup()
{
    uint8_t request[2];
    {
        std::lock_guard<std::mutex> guard(values_);
        request[0] = pars_.acqMode == ACQMODE_TRIG_STOP ? v_->coincMode : 0;
        request[1] = v_->coincDelay;
    }
    return run('<', request, 2) ? 0 : failed();
}

// ---- device description and acquisition ----

int UsbDevice::getDevInfo(_DevInfo* info)
{
    if (!info)
        return invalid("Invalid parameter.");
    *info = devInfo_;
    return 0;
}

int UsbDevice::getAcqTime(double* time)
{
    if (!time)
        return invalid("Invalid parameter.");
    std::lock_guard<std::mutex> guard(values_);
    *time = v_->acqDuration;
    return 0;
}

int UsbDevice::setAcqPars(const _AcqPars* pars)
{
    if (!pars)
        return invalid("Invalid parameter.");
    if (!polaritySent_ || (pars->polarity != 0) != (pars_.polarity != 0)) {
        if (!run(pars->polarity ? 'P' : 'p'))
            return failed();
        pars_.polarity = pars->polarity ? 1 : 0;
        polaritySent_ = true;
    }
    pars_.acqMode = pars->acqMode;
    acqMode_ = pars->acqMode;
    pars_.acqTime = pars->acqTime;
    pars_.useHwTimer = pars->useHwTimer;
    pars_.cst = pars->cst;
    if (firmware_ >= 110)
        if (const int rc = coincidenceSetup())
            return rc;
    return 0;
}

int UsbDevice::startAcquisition()
{
    {
        std::lock_guard<std::mutex> guard(values_);
        v_->coincLiveTime = 0;
        frameReady_ = false;
        v_->counters[0] = v_->counters[2] = 0;
        v_->autoEraseCounter = 0;
    }
    if (lost())
        return goneError();
    const int rc = startByMode();
    if (rc == 1)
        return 0; // a mode of which nothing is started
    if (rc != 0) {
        const std::string text = lastError();
        if (link_) {
            link_->clearError();
            run('G');
        }
        return setError(rc, "%s", text.c_str());
    }
    {
        std::lock_guard<std::mutex> guard(values_);
        frameLost_ = false;
        resyncsAtStart_ = link_->resyncs();
        if (pars_.acqMode == ACQMODE_MANUAL && pars_.useHwTimer && !(pars_.acqTime > 0)) {
            // An exposure of no time on the hardware timer: the timer cannot run it, so the shutter was
            // opened as without the timer, and the box would wait for ever for it to be closed. The
            // exposure is over at once (reported as finished); stopping closes the shutter and the read
            // takes the matrix.
            shutterOpen_ = true;
            events_.push_back(HWCB_ACQ_FINISHED);
        } else {
            running_ = true;
        }
    }
    {
        std::lock_guard<std::mutex> guard(monitorMutex_);
        wake_ = true;
    }
    monitorWake_.notify_all();
    return 0;
}

int UsbDevice::startByMode()
{
    const int clock = clockSetting();
    const bool timer = pars_.useHwTimer != 0 && pars_.acqTime > 0;
    bool scope;
    double autoErase;
    {
        std::lock_guard<std::mutex> guard(values_);
        scope = v_->scopeOnTrg != 0;
        autoErase = v_->autoErase;
    }
    switch (pars_.acqMode) {
    case ACQMODE_MANUAL: {
        if (!timer)
            return run('o') ? 0 : failed();
        const auto request = wire::timerRequest(0, codec::timerTicks(pars_.acqTime, clock));
        if (firmware_ < 115)
            return run('Z', request.data(), request.size()) && run('g') ? 0 : failed();
        return run(';', request.data(), request.size()) ? 0 : failed();
    }
    case ACQMODE_TRIG_START: {
        const uint8_t trigger = scope ? 14 : 6;
        const double time = pars_.useHwTimer && pars_.acqTime > 0 ? pars_.acqTime : 1e6;
        const auto request = wire::timerRequest(1, codec::timerTicks(time, clock));
        return run('Q', &trigger, 1) && run('Z', request.data(), request.size()) && run('l') ? 0 : failed();
    }
    case ACQMODE_TRIG_STOP: {
        const uint8_t trigger = scope ? 9 : 1;
        if (!run('Q', &trigger, 1))
            return failed();
        if (!(autoErase > 0)) {
            const uint8_t mask = 18;
            return run('~', &mask, 1) ? 0 : failed();
        }
        const auto interval = wire::timerRequest(128, codec::timerTicks(autoErase, clock));
        if (autoErase < 0.0025) {
            const auto first = wire::timerRequest(128, codec::timerTicks(0.05, clock));
            const uint8_t mask = 4;
            if (!run('Z', first.data(), first.size()) || !run('~', &mask, 1) ||
                !run('Z', interval.data(), interval.size()))
                return failed();
            std::lock_guard<std::mutex> guard(values_);
            v_->autoEraseCounter = 0xFFFFFFFFu;
            return 0;
        }
        const uint8_t mask = 128;
        return run('Z', interval.data(), interval.size()) && run('~', &mask, 1) ? 0 : failed();
    }
    case ACQMODE_TRIG_EXTSHUTTER: {
        const char* text =
            "Start Acquisition: Acquisition mode ACQMODE_TRIG_EXTSHUTTER is not supported by curent firmware version.";
        log_.message(kUnsupported, text);
        return setError(-kUnsupported, "%s", text);
    }
    default: return 1;
    }
}

int UsbDevice::stopAcquisition()
{
    {
        std::lock_guard<std::mutex> guard(values_);
        if (!running_ && !linkLost_ && !shutterOpen_)
            return 0;
    }
    if (lost())
        return goneError();
    bool closeShutter;
    {
        std::lock_guard<std::mutex> guard(values_);
        closeShutter = shutterOpen_;
        shutterOpen_ = false;
    }
    if (closeShutter)
        return run('c') ? 0 : failed();
    for (char c : wire::stopCommands(pars_.acqMode, pars_.useHwTimer && pars_.acqTime > 0))
        if (!run(static_cast<uint8_t>(c)))
            return failed();
    std::lock_guard<std::mutex> guard(values_);
    running_ = false;
    return 0;
}

int UsbDevice::checkBusy(int* busy)
{
    if (!busy)
        return invalid("Invalid parameter.");
    if (link_ && !lost()) {
        bool failedNow = false;
        {
            std::lock_guard<std::recursive_mutex> lock(link_->commandLock());
            link_->clearError();
            failedNow = !link_->drain() && link_->errorType() != kBadResponse && link_->errorType() != kFatalError;
            endIfFrameLost(*link_);
        }
        if (failedNow)
            markLost(link_->errorText());
    }
    bool gone;
    {
        std::lock_guard<std::mutex> guard(values_);
        *busy = running_ ? 1 : 0;
        gone = linkLost_;
    }
    deliverEvents();
    return gone ? goneError() : 0;
}

int UsbDevice::testPulses(double height, double period, uint32_t count)
{
    // What the device information offers is accepted: heights 0 - 1.4 V, counts 0 - 65536.
    if (!(height >= 0 && height <= kOfferedPulseHeight))
        return invalid("Invalid parameter, test pulse height: %g V, allowed: 0 - %g V", height, kOfferedPulseHeight);
    if (count > 65536)
        return invalid("Invalid parameter, test pulse count: %u, allowed: 0 - 65536", count);
    if (!(period >= 0))
        return invalid("Invalid parameter, test pulse period: %g s", period);
    // Above 1.384 V DAC0 is at the end of its range (code 0): the pulses are the box's highest, 1.384 V.
    if (height > kMaxPulseHeight) {
        char text[160];
        std::snprintf(text, sizeof text, "Test pulse height %g V is above the highest the box makes: pulses of %g V.",
                      height, kMaxPulseHeight);
        log_.message(kMessage, text);
        height = kMaxPulseHeight;
    }
    const double code = (5669.556 - height * 4096.5) / 2.5;
    const auto dac = wire::interfaceDacRequest(0, static_cast<uint16_t>(std::clamp(code, 0.0, 4095.0)));
    if (!run('>', dac.data(), dac.size()))
        return failed();
    {
        std::lock_guard<std::mutex> guard(values_);
        v_->dac0 = kMaxPulseHeight - height;
    }
    if (count == 0) {
        // No pulse: the counters, cleared as a pulse train clears them, are the frame (the pulse command
        // takes count - 1 and cannot ask for none).
        if (!run('e'))
            return failed();
        std::lock_guard<std::mutex> guard(values_);
        std::fill(frame_.begin(), frame_.end(), 0);
        frameReady_ = true;
        return 0;
    }
    const int clock = clockSetting();
    const auto train = wire::timerRequest(0, codec::timerTicks(pars_.acqTime + period * 2 * count, clock));
    if (!run('Z', train.data(), train.size()))
        return failed();
    const double periodByte = std::clamp(std::floor(period * 1e6 - 1), 0.0, 255.0);
    const auto request = wire::testPulseRequest(static_cast<uint8_t>(periodByte), count);
    Reply r;
    if (!run('O', request.data(), request.size(), &r, 0, wire::kMatrixTimeout))
        return failed();
    std::vector<uint16_t> counts;
    if (!decodeInto(r.params,
                    &counts))
        return failed();
    const auto restore = wire::timerRequest(0, codec::timerTicks(pars_.acqTime, clock));
    if (!run('Z', restore.data(), restore.size()))
        return failed();
    std::lock_guard<std::mutex> guard(values_);
    frame_ = std::move(counts);
    frameReady_ = true;
    return 0;
}

int UsbDevice::setTvkDacs(const uint16_t* dacs, int dacCount, int senseOn, int extDacOn, const int* dacCodes,
                          uint32_t testPulseColumns)
{
    const int chips = devInfo_.chipCount;
    const int perChip = devInfo_.chipType == 1 ? 13 : devInfo_.chipType == 2 ? 15 : 14;
    if (chips <= 0)
        return invalid("Device is not initialized.");
    if (!dacs || dacCount != chips * perChip)
        return invalid("Invalid DAC values array size, size: %d, required: %d", dacs ? dacCount : 0, chips * perChip);
    int resetTvk;
    double dac1;
    {
        std::lock_guard<std::mutex> guard(values_);
        resetTvk = v_->resetTvk;
        dac1 = v_->dac1;
    }
    if (resetTvk && !run('r'))
        return failed();
    std::vector<wire::DacRecord> records(static_cast<size_t>(chips));
    for (int c = 0; c < chips; ++c) {
        wire::DacRecord& d = records[static_cast<size_t>(c)];
        for (int i = 0; i < perChip; ++i)
            d.dacs[i] = dacs[c * perChip + i];
        d.sense = static_cast<uint8_t>(dacCodes ? dacCodes[c] : 0);
        d.senseOn = senseOn != 0;
        d.extDacOn = extDacOn != 0;
        d.extDacCode = interfaceDacCode(dac1);
        d.testPulseColumns = testPulseColumns;
    }
    const std::vector<uint8_t> block = wire::dacBlock(records);
    return run('d', block.data(), block.size()) ? 0 : failed();
}

int UsbDevice::getTvkDacVal(int chip, double* value)
{
    if (!value || chip < 0 || chip >= std::max(devInfo_.chipCount, 1))
        return invalid("Invalid parameter, chip: %d", chip);
    if (const int rc = readAdc())
        return rc;
    std::lock_guard<std::mutex> guard(values_);
    *value = v_->tvkSense;
    return 0;
}

int UsbDevice::setExtDac(double value)
{
    if (!(value >= 0))
        return 0; // no external DAC routed: nothing to send
    {
        std::lock_guard<std::mutex> guard(values_);
        v_->dac1 = value;
    }
    return sendInterfaceDac(1, value);
}

int UsbDevice::setPixelsCfg(const uint8_t* cfg, uint32_t size)
{
    const size_t chips = static_cast<size_t>(devInfo_.chipCount);
    if (!cfg || chips == 0 || size != chips * codec::kPixelsPerChip)
        return invalid("Invalid parameter, pixel configuration size: %u, required: %u", size,
                       static_cast<unsigned>(chips * codec::kPixelsPerChip));
    std::vector<uint16_t> words(size);
    for (uint32_t i = 0; i < size; ++i)
        words[i] = wire::pixelWord(devInfo_.chipType, cfg[i]);
    std::vector<uint8_t> stream(codec::streamSize(chips, width(), codec::Layout::ToReadout));
    codec::streamFromMatrix(words, chips, width(), codec::Layout::ToReadout, stream);
    if (!run('S', stream.data(), stream.size(), nullptr, 0, wire::kMatrixTimeout))
        return failed();
    uint32_t delayMs;
    {
        std::lock_guard<std::mutex> guard(values_);
        delayMs = v_->pixCfgDelay;
    }
    plat::sleepSeconds(delayMs / 1000.0);
    return 0;
}

int UsbDevice::resetMatrix()
{
    return run('e') ? 0 : failed();
}

int UsbDevice::readMatrix(uint16_t* buffer, uint32_t count)
{
    const uint32_t pixels = static_cast<uint32_t>(devInfo_.pixelCount);
    if (!buffer || count != pixels || pixels == 0) {
        char text[128];
        std::snprintf(text, sizeof text, "hwReadMatrix: Incorrect frame size (%d instead of %d", static_cast<int>(count),
                      static_cast<int>(pixels));
        log_.message(kBadParameter, text);
        return setError(-1, "%s", text);
    }
    {
        std::lock_guard<std::mutex> guard(values_);
        if (frameReady_) {
            std::copy(frame_.begin(), frame_.end(), buffer);
            frameReady_ = false;
            return 0;
        }
        if (frameLost_) {
            frameLost_ = false;
            return setError(-kBadResponse, "%s", kFrameLostText);
        }
    }
    Reply r;
    if (!run('m', nullptr, 0, &r, 0, wire::kMatrixTimeout))
        return failed();
    std::vector<uint16_t> counts;
    if (!decodeInto(r.params,
                    &counts))
        return failed();
    std::copy(counts.begin(), counts.end(), buffer);
    return 0;
}

int UsbDevice::writeMatrix(const uint16_t* buffer, uint32_t count)
{
    const size_t chips = static_cast<size_t>(devInfo_.chipCount);
    if (!buffer || chips == 0 || count != chips * codec::kPixelsPerChip)
        return invalid("Invalid parameter, matrix size: %u, required: %u", count,
                       static_cast<unsigned>(chips * codec::kPixelsPerChip));
    std::vector<uint8_t> stream(codec::streamSize(chips, width(), codec::Layout::ToReadout));
    codec::StreamReport report;
    if (!codec::encodeMatrix({buffer, count}, chips, width(), stream, &report))
        return invalid("Invalid parameter, %zu counts above %u (the first: %u at pixel %zu)", report.bad,
                       codec::stateCount(width()) - 1, report.firstBadValue, report.firstBadIndex);
    return run('S', stream.data(), stream.size(), nullptr, 0, wire::kMatrixTimeout) ? 0 : failed();
}

int UsbDevice::generalReset()
{
    if (!link_)
        return setError(-kBadHandle, "Device is not opened.");
    link_->purge();
    if (!link_->resynchronise())
        return failed();
    return run('_') ? 0 : failed();
}

} // namespace usb
