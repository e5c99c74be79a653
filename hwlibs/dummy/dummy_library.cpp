// The simulated hardware library tvkHwDummy: its settings file, the device list and the function table
// that getMandatoryFuncs hands out. Every table function catches what it might throw: no exception
// leaves the library.
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "hw_dummy.h"
#include "platform/ini.h"
#include "platform/module.h"
#include "tvk_export.h"

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void);

namespace {

using hwdummy::HwDummy;
using hwdummy::kHwError;

constexpr const char* kSection = "Dummy";
constexpr int kMaxDevices = 64;            // Count is limited to this many simulated devices
constexpr size_t kSettingsPathMax = 511;

// Text of the last error that belongs to no device. Kept per thread, so that a caller reads the text of
// its own failed call even while other threads fail too.
thread_local char tGeneralError[hwdummy::kErrorTextSize];

[[gnu::format(printf, 2, 3)]] int setGeneralError(int code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(tGeneralError, sizeof tGeneralError, format, args);
    va_end(args);
    return code;
}

// The settings file: this library's own path with its extension replaced by "ini".
std::string settingsPathOfLibrary(std::string* error)
{
    std::string path = plat::modulePathOf(reinterpret_cast<const void*>(&getMandatoryFuncs));
    if (path.empty()) {
        *error = "Cannot determine the path of the simulated hardware library.";
        return {};
    }
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.replace(dot + 1, std::string::npos, "ini");
    else
        path += ".ini";
    if (path.size() > kSettingsPathMax) {
        *error = "Path of the settings file \"" + path + "\" is too long.";
        return {};
    }
    return path;
}

class tvkHwDummyMgr {
public:
    tvkHwDummyMgr()
    {
        std::string error;
        settingsPath_ = settingsPathOfLibrary(&error);
        if (settingsPath_.empty()) {
            setGeneralError(kHwError, "%s", error.c_str());
            return;
        }
        const size_t slash = settingsPath_.rfind('/');
        settingsFolder_ = slash == std::string::npos ? "." : settingsPath_.substr(0, slash);
        readSettings();
        // Written back at once, so that the file always shows both keys.
        std::string writeError;
        if (plat::writeProfileString(kSection, "Count", std::to_string(count_).c_str(), settingsPath_.c_str(),
                                     &writeError) != 0 ||
            plat::writeProfileString(kSection, "Unique", std::to_string(unique_).c_str(), settingsPath_.c_str(),
                                     &writeError) != 0)
            setGeneralError(kHwError, "%s", writeError.c_str());
    }
    virtual ~tvkHwDummyMgr() = default;

    // The device with this id; null for an unknown (also negative) id, with the general error set.
    HwDummy* device(int id)
    {
        HwDummy* dev = find(id);
        if (!dev)
            setGeneralError(kHwError, "Invalid HW ID");
        return dev;
    }

    HwDummy* find(int id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (id < 0 || static_cast<size_t>(id) >= devices_.size())
            return nullptr;
        return devices_[static_cast<size_t>(id)];
    }

    int getFirst(int* id)
    {
        if (!id)
            return setGeneralError(kHwError, "Invalid parameter.");
        std::lock_guard<std::mutex> lock(mutex_);
        readSettings();
        cursor_ = 0;
        const int wanted = count_ < 0 ? 0 : count_ > kMaxDevices ? kMaxDevices : count_;
        bool allocationFailed = false;
        for (int i = static_cast<int>(devices_.size()); i < wanted; ++i) {
            try {
                auto dev = std::make_unique<HwDummy>(i);
                devices_.push_back(dev.get());
                dev.release();
            } catch (const std::bad_alloc&) {
                setGeneralError(kHwError, "Allocation of simulated device %d failed.", i);
                allocationFailed = true;
                break;
            }
        }
        if (devices_.empty())
            return allocationFailed ? kHwError : HW_NO_MORE_DEVICES;
        *id = 0;
        return 0;
    }

    int getNext(int* id)
    {
        if (!id)
            return setGeneralError(kHwError, "Invalid parameter.");
        std::lock_guard<std::mutex> lock(mutex_);
        if (static_cast<size_t>(cursor_) < devices_.size())
            ++cursor_;
        if (static_cast<size_t>(cursor_) >= devices_.size()) {
            // The devices found stay; the error only reports that Count asked for more.
            if (count_ > kMaxDevices)
                return setGeneralError(kHwError,
                                       "Count (%d) is above the limit of %d simulated devices; %d devices are "
                                       "simulated.",
                                       count_, kMaxDevices, kMaxDevices);
            return HW_NO_MORE_DEVICES;
        }
        *id = cursor_;
        return 0;
    }

    hwdummy::DummySettings settings()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return {settingsFolder_, unique_ != 0};
    }

private:
    // Caller holds mutex_ (or is the constructor).
    void readSettings()
    {
        if (settingsPath_.empty())
            return;
        count_ = plat::getProfileInt(kSection, "Count", 0, settingsPath_.c_str());
        unique_ = plat::getProfileInt(kSection, "Unique", 0, settingsPath_.c_str());
    }

    // Guards devices_ (the list, not the devices), cursor_, count_ and unique_; nothing but ini reads under it.
    std::mutex mutex_;
    OwnPtrVector<HwDummy*> devices_; // the position is the device id
    int cursor_ = 0;
    std::string settingsPath_;   // empty when unknown
    std::string settingsFolder_; // without trailing '/'
    int count_ = 0;
    int unique_ = 0;
};

tvkHwDummyMgr& manager()
{
    static tvkHwDummyMgr instance;
    return instance;
}

// The settings file is read (and completed) when the library is loaded.
[[gnu::constructor]] void onLibraryLoad()
{
    try {
        manager();
    } catch (...) {
        setGeneralError(kHwError, "Initialization of the simulated hardware library failed.");
    }
}

template <typename F>
int generalCall(F&& f)
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return setGeneralError(kHwError, "Memory allocation failed.");
    } catch (const std::exception& e) {
        return setGeneralError(kHwError, "Unexpected error: %s", e.what());
    } catch (...) {
        return setGeneralError(kHwError, "Unexpected error.");
    }
}

// Looks the device up (an unknown id sets the general error) and runs f on it, holding the device's
// call mutex; a failure that f throws is reported while the mutex is still held.
template <typename F>
int deviceCall(int id, F&& f)
{
    try {
        HwDummy* dev = manager().device(id);
        if (!dev)
            return kHwError;
        std::lock_guard<std::mutex> guard(dev->callMutex());
        try {
            return f(*dev);
        } catch (const std::bad_alloc&) {
            return dev->setError(kHwError, "Memory allocation failed.");
        } catch (const std::exception& e) {
            return dev->setError(kHwError, "Unexpected error: %s", e.what());
        } catch (...) {
            return dev->setError(kHwError, "Unexpected error.");
        }
    } catch (const std::bad_alloc&) {
        return setGeneralError(kHwError, "Memory allocation failed.");
    } catch (const std::exception& e) {
        return setGeneralError(kHwError, "Unexpected error: %s", e.what());
    } catch (...) {
        return setGeneralError(kHwError, "Unexpected error.");
    }
}

// ---- the table functions ----

int hwGetFirst(int* id)
{
    return generalCall([&] { return manager().getFirst(id); });
}

int hwGetNext(int* id)
{
    return generalCall([&] { return manager().getNext(id); });
}

int hwInit(int id)
{
    return deviceCall(id, [](HwDummy& d) { return d.init(manager().settings()); });
}

// The simulated devices send no events and hold nothing to release.
int hwSetCb(HwCallback)
{
    return 0;
}
int hwSetCbTag(int, void*)
{
    return 0;
}
int hwCloseDevice(int)
{
    return 0;
}

int hwGetHwInfoCount()
{
    return hwdummy::kHwInfoCount;
}

int hwGetHwInfoFlags(int id, int index, uint32_t* flags)
{
    return deviceCall(id, [&](HwDummy& d) { return d.getHwInfoFlags(index, flags); });
}

int hwGetHwInfo(int id, int index, HwInfoItem* item, int* size)
{
    return deviceCall(id, [&](HwDummy& d) { return d.getHwInfo(index, item, size); });
}

int hwSetHwInfo(int id, int index, const void* data, int size)
{
    return deviceCall(id, [&](HwDummy& d) { return d.setHwInfo(index, data, size, manager().settings()); });
}

int hwGetDevInfo(int id, _DevInfo* info)
{
    return deviceCall(id, [&](HwDummy& d) { return d.getDevInfo(info); });
}

int hwGetAcqTime(int id, double* time)
{
    return deviceCall(id, [&](HwDummy& d) { return d.getAcqTime(time); });
}

int hwSetAcqPars(int id, const _AcqPars* pars)
{
    return deviceCall(id, [&](HwDummy& d) { return d.setAcqPars(pars); });
}

int hwStartAcquisition(int id)
{
    return deviceCall(id, [](HwDummy& d) { return d.startAcquisition(); });
}

int hwStopAcquisition(int id)
{
    return deviceCall(id, [](HwDummy& d) { return d.stopAcquisition(); });
}

int hwTestPulses(int id, double /*height*/, double /*period*/, uint32_t count)
{
    return deviceCall(id, [&](HwDummy& d) { return d.testPulses(count); });
}

// hwSetTvkDACs, hwSetExtDac and hwGeneralReset: nothing is simulated; only the id is checked.
int hwLookUpOnly(int id)
{
    return deviceCall(id, [](HwDummy&) { return 0; });
}
int hwSetTvkDACs(int id, const uint16_t*, int, int, int, const int*, uint32_t)
{
    return hwLookUpOnly(id);
}
int hwSetExtDac(int id, double)
{
    return hwLookUpOnly(id);
}
int hwGeneralReset(int id)
{
    return hwLookUpOnly(id);
}

int hwGetTvkDacVal(int id, int /*chip*/, double* value)
{
    return deviceCall(id, [&](HwDummy& d) { return d.getDacValue(value); });
}

int hwSetPixelsCfg(int id, const uint8_t* cfg, uint32_t size)
{
    return deviceCall(id, [&](HwDummy& d) { return d.setPixelsCfg(cfg, size); });
}

int hwResetMatrix(int id)
{
    return deviceCall(id, [](HwDummy& d) { return d.resetMatrix(); });
}

int hwReadMatrix(int id, uint16_t* buffer, uint32_t count)
{
    return deviceCall(id, [&](HwDummy& d) { return d.readMatrix(buffer, count); });
}

int hwWriteMatrix(int id, const uint16_t* buffer, uint32_t count)
{
    return deviceCall(id, [&](HwDummy& d) { return d.writeMatrix(buffer, count); });
}

int hwCheckBusy(int id, int* busy)
{
    return deviceCall(id, [&](HwDummy& d) { return d.checkBusy(busy); });
}

const char* hwGetGlobalLastError()
{
    return tGeneralError;
}

const char* hwGetLastError(int id)
{
    // A copy per thread, taken under the device's call mutex: another thread's failing call may write the
    // device's text at any time, and the caller reads the returned text after this call.
    thread_local char text[hwdummy::kErrorTextSize];
    try {
        // Looked up without setting the general error: that text is what an unknown id is answered with.
        if (HwDummy* dev = manager().find(id)) {
            std::lock_guard<std::mutex> guard(dev->callMutex());
            std::snprintf(text, sizeof text, "%s", dev->lastError());
            return text;
        }
    } catch (...) {
    }
    return tGeneralError;
}

_HwFuncTable table = {
    sizeof(_HwFuncTable),
    hwGetFirst,
    hwGetNext,
    hwInit,
    hwSetCb,
    hwSetCbTag,
    hwGetHwInfoCount,
    hwGetHwInfoFlags,
    hwGetHwInfo,
    hwSetHwInfo,
    hwGetDevInfo,
    hwGetAcqTime,
    hwSetAcqPars,
    hwStartAcquisition,
    hwStopAcquisition,
    hwTestPulses,
    hwSetTvkDACs,
    hwGetTvkDacVal,
    hwSetExtDac,
    hwSetPixelsCfg,
    hwResetMatrix,
    hwReadMatrix,
    hwWriteMatrix,
    hwGeneralReset,
    hwGetGlobalLastError,
    hwGetLastError,
    hwCheckBusy,
    hwCloseDevice,
};

} // namespace

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void)
{
    return &table;
}
