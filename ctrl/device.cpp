// TvkDevice: construction, closing, the device lock, the device message and the acquisition settings.
#include "device.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <unistd.h>
#include <unordered_map>

#include "config_text.h"
#include "hwlib.h"
#include "platform/text_copy.h"
#include "pluginfw/tvk_utils.h"

namespace {

constexpr size_t kMaxMessage = 4095;
constexpr size_t kMaxInterfaceName = 255;

uint32_t currentThreadId()
{
    return static_cast<uint32_t>(::gettid());
}

// Hardware tags: each device gets a number that is never reused; a callback finds the device's signal
// through it, or nothing once the device has withdrawn it.
struct TagRegistry {
    std::mutex mutex; // guards signals and next; held only to find, add or remove a signal
    std::unordered_map<uintptr_t, std::shared_ptr<DeviceSignal>> signals;
    uintptr_t next = 1;
};

TagRegistry& tagRegistry()
{
    static TagRegistry* registry = new TagRegistry; // used by callbacks until the process ends
    return *registry;
}

// Interface names handed out in _DevInfo copies stay valid for the life of the process, whatever happens
// to the device or its library.
const char* stableText(const std::string& text)
{
    static std::mutex mutex; // guards texts
    static std::set<std::string>* texts = new std::set<std::string>;
    std::lock_guard<std::mutex> guard(mutex);
    return texts->insert(text).first->c_str();
}

} // namespace

TvkDevice::TvkDevice(int hwId, std::shared_ptr<HwLibrary> library, const CtrlCallbacks* callbacks,
                     std::string moduleFolder)
    : hwId_(hwId), library_(std::move(library)), signal_(std::make_shared<DeviceSignal>()),
      callbacks_(callbacks), moduleFolder_(std::move(moduleFolder)),
      rng_(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           (static_cast<uint32_t>(hwId) * 2654435761u))
{
    signal_->callbacks = callbacks;
    table_ = library_ ? &library_->table() : nullptr;
    // A failure says why, so that the registry can name the device that did not come up.
    if (!table_)
        return;
    if (table_->hwInit(hwId_) != HW_OK) {
        setMessageF(TVK_ERR_LIB_INIT, "%s", hwText(table_->hwGetLastError(hwId_)).c_str());
        return;
    }
    _DevInfo info{};
    if (table_->hwGetDevInfo(hwId_, &info) != HW_OK) {
        setMessageF(TVK_ERR_LIB_INIT, "%s", hwText(table_->hwGetLastError(hwId_)).c_str());
        return;
    }

    devInfo_ = info;
    chipboardId_.assign(info.chipboardId, strnlen(info.chipboardId, sizeof info.chipboardId - 1));
    std::memset(devInfo_.chipboardId, 0, sizeof devInfo_.chipboardId);
    std::memcpy(devInfo_.chipboardId, chipboardId_.data(), chipboardId_.size());
    interfaceName_ = hwText(info.interfaceName).substr(0, kMaxInterfaceName);
    devInfo_.interfaceName = stableText(interfaceName_);

    // A frame lays the chips out as one chip or two rows of two: a device of any other count would be
    // listed and then fail every acquisition.
    if (info.chipCount != 1 && info.chipCount != 4) {
        setMessageF(TVK_ERR_LIB_INIT, "Unsupported chip count: %d (a frame holds 1 or 4 chips).", info.chipCount);
        return;
    }
    dacSet_ = dacSetForChipType(info.chipType);
    if (!dacSet_) {
        setMessageF(TVK_ERR_LIB_INIT, "Unsupported chip type: %d (supported: 1, 2, 3).", info.chipType);
        return;
    }
    const int chips = info.chipCount;
    pixelCount_ = static_cast<uint32_t>(chips) * kChipPixels;
    try {
        settings_.size(chips, info.chipType);
        saved_.size(chips, info.chipType);
        if (chips > 1) {
            refCoefs_.resize(static_cast<size_t>(chips - 1) * 4);
            for (size_t i = 0; i < refCoefs_.size(); i += 2) {
                refCoefs_[i] = 1.0;
                refCoefs_[i + 1] = 0.0;
            }
        }
    } catch (const std::bad_alloc&) {
        dacSet_ = nullptr;
        setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.", static_cast<int>(pixelCount_));
        return;
    }
    defaults_ = dacSet_->defaults(true);

    const std::string stem = moduleFolder_ + "/configs/" + safeFileNamePart(interfaceName_) + "_" +
                             safeFileNamePart(chipboardId_);
    cfgFile_ = stem + ".tcf";
    pixCfgFile_ = stem + ".bpc";

    initDevice(nullptr, false);
    initialised_ = true;
}

TvkDevice::~TvkDevice()
{
    destroying_ = true;
    try {
        close();
    } catch (...) {
        // Nothing may leave a destructor; the files simply stay as they were.
    }
}

std::string TvkDevice::defaultConfigFile() const
{
    const char* name = settings_.chipType == 2 ? "default_zrn.tcf"
                       : settings_.chipType == 3 ? "default_srn.tcf"
                                                 : "default_orig.tcf";
    return moduleFolder_ + "/configs/" + name;
}

void TvkDevice::attach(int index, const CtrlCallbacks* callbacks)
{
    index_ = index;
    callbacks_ = callbacks;
    signal_->index = index;
    signal_->callbacks = callbacks;
    if (!table_)
        return;
    if (!tag_) {
        TagRegistry& registry = tagRegistry();
        std::lock_guard<std::mutex> guard(registry.mutex);
        const uintptr_t tag = registry.next++;
        registry.signals.emplace(tag, signal_);
        tag_ = reinterpret_cast<void*>(tag);
    }
    table_->hwSetCbTag(hwId_, tag_);
}

void TvkDevice::close()
{
    if (closed_)
        return;
    closed_ = true;
    abort_ = true;
    if (initialised_) {
        saveDeviceConfig(nullptr);
        char errText[4096] = "";
        if (const int r = writeBinaryFile(pixCfgFile_.c_str(), errText, settings_.pixelCfg.data(), pixelCount_))
            setMessage(r, errText);
    }
    closeFramesLocked();
    abort_ = true; // closing the frames cleared it; nothing may run on this device any more
    if (tag_) {
        // No callback reaches this device after this point: the library forgets the tag, and a call that
        // was already on its way finds no signal for it.
        table_->hwSetCbTag(hwId_, nullptr);
        TagRegistry& registry = tagRegistry();
        std::lock_guard<std::mutex> guard(registry.mutex);
        registry.signals.erase(reinterpret_cast<uintptr_t>(tag_));
        tag_ = nullptr;
    }
    if (table_)
        table_->hwCloseDevice(hwId_);
}

void TvkDevice::retire(std::chrono::milliseconds wait)
{
    // Retired before aborted: an acquisition that clears the abort flag as it starts checks the retired
    // flag after clearing, so it either sees retired or keeps this abort (clearAbort).
    retired_ = true;
    abort_ = true;
    if (lockFor(wait)) {
        close();
        unlockAll();
    }
}

void TvkDevice::unlockAll()
{
    // A retired device can no longer be released through its index: free every level, so that no
    // waiter is left behind.
    while (devLock_.isOwnedByCurrentThread())
        unlockDevice();
}

int TvkDevice::hwEventCallback(void* tag, int event, int /*param*/)
{
    try {
        std::shared_ptr<DeviceSignal> signal;
        {
            TagRegistry& registry = tagRegistry();
            std::lock_guard<std::mutex> guard(registry.mutex);
            const auto it = registry.signals.find(reinterpret_cast<uintptr_t>(tag));
            if (it == registry.signals.end())
                return 0;
            signal = it->second;
        }
        if (event == HWCB_ACQ_STARTED) {
            if (signal->acqMode == ACQMODE_TRIG_START && !signal->hwTimerUsed)
                signal->acqEvent.set();
            const CtrlCallbacks* callbacks = signal->callbacks;
            const int index = signal->index;
            if (callbacks && index >= 0)
                notifyDevice(callbacks->acqStart, index);
        } else if (event == HWCB_ACQ_FINISHED) {
            signal->acqEvent.set();
        }
    } catch (...) {
        // A hardware library's thread must never see an exception.
    }
    return 0;
}

// ---- lock ----

bool TvkDevice::lockFor(std::chrono::milliseconds timeout)
{
    if (!devLock_.tryLockFor(timeout))
        return false;
    ownerTid_ = currentThreadId();
    return true;
}

void TvkDevice::lockDevice() const
{
    devLock_.lock();
    ownerTid_ = currentThreadId();
}

void TvkDevice::unlockDevice() const
{
    if (devLock_.isOwnedByCurrentThread() && devLock_.depth() == 1)
        ownerTid_ = 0;
    devLock_.unlock();
}

int TvkDevice::tryLock(unsigned timeoutMs, int* locked)
{
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    if (!initialised_)
        return notInitialised();
    bool taken = true;
    if (timeoutMs == TVK_WAIT_INFINITE)
        lockDevice();
    else
        taken = lockFor(std::chrono::milliseconds(timeoutMs));
    if (taken && retired_) { // retired while this call waited
        unlockDevice();
        return TVK_ERR_DEV_INDEX;
    }
    if (locked)
        *locked = taken ? 1 : 0;
    return 0;
}

int TvkDevice::release()
{
    if (!initialised_)
        return notInitialised();
    if (!devLock_.isOwnedByCurrentThread())
        return setMessageF(TVK_ERR_NOT_LOCK_OWNER, "Cannot release device, caller with ID: %u is not owner of lock, owner is: %u.",
                           currentThreadId(), ownerTid_.load());
    unlockDevice();
    return 0;
}

int TvkDevice::lockOwner(uint32_t* threadId)
{
    if (!initialised_)
        return notInitialised();
    if (threadId)
        *threadId = ownerTid_;
    return 0;
}

// ---- messages ----

int TvkDevice::setMessage(int code, const std::string& text)
{
    {
        std::lock_guard<std::mutex> guard(msgMutex_);
        msgCode_ = code;
        msgText_.assign(text, 0, std::min(text.size(), kMaxMessage));
    }
    const int index = index_;
    if (const CtrlCallbacks* cb = callbacks(); cb && index >= 0)
        notifyDevice(cb->infoMsg, index);
    return code;
}

int TvkDevice::setMessageF(int code, const char* format, ...)
{
    char text[kMaxMessage + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return setMessage(code, text);
}

void TvkDevice::message(int* code, std::string* text) const
{
    std::lock_guard<std::mutex> guard(msgMutex_);
    if (code)
        *code = msgCode_;
    if (text)
        *text = msgText_;
}

int TvkDevice::notInitialised()
{
    return setMessage(TVK_ERR_DEV_NOT_INIT, "Error - Tarvik was not properly initialized.");
}

int TvkDevice::checkUsable()
{
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    if (!initialised_)
        return notInitialised();
    return 0;
}

int TvkDevice::checkChip(int chip)
{
    const int chips = settings_.chips;
    if (chip < -1 || chip >= chips)
        return setMessageF(TVK_ERR_PARAM, "Invalid chip number (%d), %d chips present (0-%d).", chip, chips, chips - 1);
    return 0;
}

std::string TvkDevice::hwError()
{
    return table_ ? hwText(table_->hwGetLastError(hwId_)) : std::string();
}

void TvkDevice::notify(std::atomic<TvkDevCallback> CtrlCallbacks::*member)
{
    const int index = index_;
    if (const CtrlCallbacks* cb = callbacks(); cb && index >= 0)
        notifyDevice(cb->*member, index);
}

// ---- initialisation ----

int TvkDevice::initDevice(const char* cfgFile, bool reset)
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    if (!dacSet_)
        return notInitialised();
    const bool named = cfgFile && *cfgFile;
    const std::string file = named ? std::string(cfgFile) : cfgFile_;
    ConfigText text;
    const bool loaded = readConfigFile(file, &text) == 0;
    if (!loaded && named) // a file that was asked for and cannot be taken changes nothing
        return TVK_ERR_CFG_FILE;
    if (reset)
        table_->hwGeneralReset(hwId_);
    if (loaded)
        applyConfig(text);
    else if (readConfigFile(defaultConfigFile(), &text) == 0)
        applyConfig(text);
    else
        applyBuiltInDefaults();
    deriveAcqPars();
    const bool notifyChanges = index_ != -1;
    if (const int r = sendDacs(notifyChanges, true, 0, nullptr, 0))
        return r;
    if (!named) {
        // The stored pixel configuration is taken only when the whole file could be read.
        std::vector<uint8_t> bytes(pixelCount_);
        if (readBinaryFile(pixCfgFile_.c_str(), nullptr, bytes.data(), pixelCount_) == 0) {
            std::lock_guard<std::mutex> guard(pixMutex_);
            settings_.pixelCfg.swap(bytes);
        }
        sendPixelsCfg(notifyChanges, true);
    }
    return 0;
}

void TvkDevice::applyBuiltInDefaults()
{
    settings_.polarity = 1;
    settings_.cst = 0;
    settings_.acqMode = ACQMODE_MANUAL;
    settings_.hwTimer = 2;
    setPolarity(1);
    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip)
        std::copy_n(defaults_, count, settings_.dacs.begin() + chip * count);
}

void TvkDevice::deriveAcqPars()
{
    acqPars_.acqTime = 0.0;
    acqPars_.polarity = settings_.polarity == 1;
    acqPars_.cst = settings_.cst == 1;
    acqPars_.acqMode = settings_.acqMode;
    acqPars_.useHwTimer = settings_.hwTimer == 0;
    acqModeSent_ = acqPars_.acqMode;
    signal_->acqMode = acqPars_.acqMode;
}

int TvkDevice::revive()
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    table_->hwGeneralReset(hwId_);
    if (const int r = sendDacs(true, true, 0, nullptr, 0))
        return r;
    return sendPixelsCfg(true, false);
}

int TvkDevice::getDevInfo(_DevInfo* info)
{
    if (const int r = checkUsable())
        return r;
    if (!info)
        return TVK_ERR_GENERIC;
    *info = devInfo_;
    return 0;
}

int TvkDevice::getTarvikInfo(int* chipCount, int* chipRows, char* chipboardId, char* interfaceName)
{
    if (const int r = checkUsable())
        return r;
    constexpr size_t kTextSize = 64; // the callers' buffers
    if (chipCount)
        *chipCount = devInfo_.chipCount;
    if (chipRows)
        *chipRows = devInfo_.chipRows;
    if (chipboardId)
        plat::copyText(chipboardId, kTextSize, chipboardId_);
    if (interfaceName)
        plat::copyText(interfaceName, kTextSize, interfaceName_);
    return 0;
}

// ---- acquisition settings ----

int TvkDevice::setPolarity(int polarity)
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    acqPars_.polarity = polarity;
    settings_.polarity = polarity != 0 ? 1 : 0;
    defaults_ = dacSet_ ? dacSet_->defaults(polarity != 0) : nullptr;
    return 0;
}

int TvkDevice::setCST(int cst)
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    acqPars_.cst = cst;
    settings_.cst = cst != 0 ? 1 : 0;
    return 0;
}

int TvkDevice::setAcqMode(int mode)
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    if (!isSupportedAcqMode(mode, devInfo_.acqModeMask))
        return setMessageF(TVK_ERR_PARAM, "Invalid acq. mode for this device: %d", mode);
    acqPars_.acqMode = mode;
    settings_.acqMode = mode;
    acqModeSent_ = mode;
    signal_->acqMode = mode;
    return 0;
}

int TvkDevice::setHwTimer(int mode)
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    settings_.hwTimer = mode;
    return 0;
}

int TvkDevice::setAcqSpacing(int spacing)
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    if (spacing < 1 || spacing > 256)
        return setMessageF(TVK_ERR_PARAM, "Invalid acquisition spacing: %d, spacing has to be [1, 256].", spacing);
    spacing_ = spacing;
    return 0;
}

int TvkDevice::setAutoConvToSM(int on)
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    autoConvToSM_ = on;
    return 0;
}

int TvkDevice::getAutoConvToSM()
{
    Lock lock(*this);
    return autoConvToSM_;
}

std::vector<uint16_t> TvkDevice::frameDacs() const
{
    Lock lock(*this);
    return settings_.dacs;
}
