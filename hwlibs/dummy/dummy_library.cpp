// The simulated hardware library tvkHwDummy on the hardware-library kit: its settings file, the devices
// it simulates, and the function table that getMandatoryFuncs hands out.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "hw_dummy.h"
#include "hwlibs/common/hw_func_table.h"
#include "platform/ini.h"
#include "tvk_export.h"

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void);

namespace {

using hwdummy::HwDummy;
using hwdummy::kHwError;

constexpr const char* kSection = "Dummy";
constexpr int kMaxDevices = 64;            // Count is limited to this many simulated devices
constexpr size_t kSettingsPathMax = 511;

// The settings file: this library's own path with its extension replaced by "ini".
std::string settingsPathOfLibrary(std::string* error)
{
    std::string path = hwkit::settingsPathOf(reinterpret_cast<const void*>(&getMandatoryFuncs));
    if (path.empty()) {
        *error = "Cannot determine the path of the simulated hardware library.";
        return {};
    }
    if (path.size() > kSettingsPathMax) {
        *error = "Path of the settings file \"" + path + "\" is too long.";
        return {};
    }
    return path;
}

class DummyLibrary final : public hwkit::Library {
public:
    DummyLibrary() : Library(kHwError)
    {
        std::string error;
        settingsPath_ = settingsPathOfLibrary(&error);
        if (settingsPath_.empty()) {
            hwkit::setGeneralError(kHwError, "%s", error.c_str());
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
            hwkit::setGeneralError(kHwError, "%s", writeError.c_str());
    }

    hwdummy::DummySettings settings() const { return {settingsFolder_, unique_ != 0}; }

    // Records how the initialisation of a device ended (error: its text, null on success), so that the
    // enumeration reports a device that could not be opened instead of dropping it without a word.
    void noteInit(int id, const char* error)
    {
        std::lock_guard<std::mutex> guard(initFailuresMutex_);
        if (error)
            initFailures_[id] = error;
        else
            initFailures_.erase(id);
    }

protected:
    int discover() override;
    int endOfList() override;
    int itemCount() override { return hwdummy::kHwInfoCount; }

private:
    // Called by the constructor and under the enumeration lock.
    void readSettings()
    {
        if (settingsPath_.empty())
            return;
        count_ = plat::getProfileInt(kSection, "Count", 0, settingsPath_.c_str());
        unique_ = plat::getProfileInt(kSection, "Unique", 0, settingsPath_.c_str());
    }

    std::string settingsPath_;   // empty when unknown
    std::string settingsFolder_; // without trailing '/'
    int count_ = 0;              // guarded by the enumeration lock
    std::atomic<int> unique_{0}; // read by device calls on any thread
    std::mutex initFailuresMutex_; // guards initFailures_; nothing else is called while it is held
    std::map<int, std::string> initFailures_; // device id -> text, since the last hwGetFirst
};

DummyLibrary& dummyLibrary()
{
    static DummyLibrary instance;
    return instance;
}

// A simulated device as the function table sees it: the functions whose arguments differ from HwDummy's,
// and those of which nothing is simulated (they only look the device up).
class DummyDevice final : public HwDummy {
public:
    using HwDummy::HwDummy;

    int init() override
    {
        const int r = HwDummy::init(dummyLibrary().settings());
        if (r == 0) {
            dummyLibrary().noteInit(index(), nullptr);
        } else {
            _DevInfo info{};
            getDevInfo(&info);
            const std::string text = std::string("Simulated device ") + info.chipboardId + ": " + lastError();
            dummyLibrary().noteInit(index(), text.c_str());
        }
        return r;
    }
    int setHwInfo(int item, const void* data, int size) override
    {
        return HwDummy::setHwInfo(item, data, size, dummyLibrary().settings());
    }
    int testPulses(double /*height*/, double /*period*/, uint32_t count) override
    {
        return HwDummy::testPulses(count);
    }
    int getTvkDacVal(int /*chip*/, double* value) override { return getDacValue(value); }
    int setTvkDacs(const uint16_t*, int, int, int, const int*, uint32_t) override { return 0; }
    int setExtDac(double) override { return 0; }
    int generalReset() override { return 0; }
};

int DummyLibrary::discover()
{
    readSettings();
    {
        std::lock_guard<std::mutex> guard(initFailuresMutex_);
        initFailures_.clear();
    }
    const int wanted = count_ < 0 ? 0 : count_ > kMaxDevices ? kMaxDevices : count_;
    for (int i = deviceCount(); i < wanted; ++i) {
        try {
            addDevice(std::make_unique<DummyDevice>(i));
        } catch (const std::bad_alloc&) {
            hwkit::setGeneralError(kHwError, "Allocation of simulated device %d failed.", i);
            return deviceCount() == 0 ? kHwError : 0;
        }
    }
    return 0;
}

// The devices found stay; the error only reports what the enumeration could not give.
int DummyLibrary::endOfList()
{
    std::string report;
    if (count_ > kMaxDevices)
        report = "Count (" + std::to_string(count_) + ") is above the limit of " + std::to_string(kMaxDevices) +
                 " simulated devices; " + std::to_string(kMaxDevices) + " devices are simulated.";
    {
        std::lock_guard<std::mutex> guard(initFailuresMutex_);
        for (const auto& [id, text] : initFailures_)
            report += (report.empty() ? "" : " ") + text;
    }
    if (report.empty())
        return HW_NO_MORE_DEVICES;
    return hwkit::setGeneralError(kHwError, "%s", report.c_str());
}

// The settings file is read (and completed) when the library is loaded.
[[gnu::constructor]] void onLibraryLoad()
{
    try {
        dummyLibrary();
    } catch (...) {
        hwkit::setGeneralError(kHwError, "Initialization of the simulated hardware library failed.");
    }
}

} // namespace

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void)
{
    return hwkit::funcTable<&dummyLibrary>();
}
