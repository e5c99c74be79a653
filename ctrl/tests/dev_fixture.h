// Test set-up for device tests: a scratch module folder with "hwlibs" holding copies of the fake hardware
// library, each with its own ini file, and access to the fake's control functions.
#pragma once

#include "ombrel_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "fakehw/fakehw.h"
#include "platform/module.h"
#include "registry.h"
#include "tvk_ctrl.h"

namespace devtest {

inline std::string scratchFolder(const std::string& name)
{
    return ombrel_test::scratchDir("ctrl_dev_" + name);
}

using ombrel_test::writeFile;

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lets writes of this process fail beyond a few bytes, as on a full disk, for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN); // the write then fails with EFBIG instead of ending the process
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_{};
};

inline std::string dataFile(const std::string& name)
{
    return std::string(DEV_DATA_DIR) + "/" + name;
}

// Control functions of one loaded copy of the fake library.
struct FakeControl {
    plat::Module module;
    FakeHwSetFn set = nullptr;
    FakeHwGetFn get = nullptr;
    FakeHwLastDacsFn lastDacs = nullptr;
    FakeHwLastPixelsFn lastPixels = nullptr;
    FakeHwFireFn fire = nullptr;
    FakeHwFireTagFn fireTag = nullptr;
    FakeHwTagFn tag = nullptr;

    bool open(const std::string& path)
    {
        if (!module.open(path))
            return false;
        set = reinterpret_cast<FakeHwSetFn>(module.symbol("fakeHwSet"));
        get = reinterpret_cast<FakeHwGetFn>(module.symbol("fakeHwGet"));
        lastDacs = reinterpret_cast<FakeHwLastDacsFn>(module.symbol("fakeHwLastDacs"));
        lastPixels = reinterpret_cast<FakeHwLastPixelsFn>(module.symbol("fakeHwLastPixels"));
        fire = reinterpret_cast<FakeHwFireFn>(module.symbol("fakeHwFire"));
        fireTag = reinterpret_cast<FakeHwFireTagFn>(module.symbol("fakeHwFireTag"));
        tag = reinterpret_cast<FakeHwTagFn>(module.symbol("fakeHwTag"));
        return set && get && lastDacs && lastPixels && fire && fireTag && tag;
    }
    int64_t counter(int id, const char* key)
    {
        int64_t value = -1;
        get(id, key, &value);
        return value;
    }
};

// One device section of the fake's ini file.
struct FakeDev {
    FakeDev(int chips_ = 1, int type_ = 1, std::string id_ = "", std::string iface_ = "fake", int modes_ = 31,
            int callback_ = 0, bool initFails_ = false)
        : chips(chips_), type(type_), id(std::move(id_)), iface(std::move(iface_)), modes(modes_),
          callback(callback_), initFails(initFails_)
    {
    }
    int chips;
    int type;
    std::string id;
    std::string iface;
    int modes;
    int callback;
    bool initFails;
};

inline std::string fakeIni(const std::vector<FakeDev>& devices, const std::string& extra = "")
{
    std::string ini = "[Fake]\nDevices=" + std::to_string(devices.size()) + "\n" + extra;
    for (size_t i = 0; i < devices.size(); ++i) {
        const FakeDev& d = devices[i];
        ini += "[Device" + std::to_string(i) + "]\nChips=" + std::to_string(d.chips) + "\nType=" +
               std::to_string(d.type) + "\nInterface=" + d.iface + "\nModes=" + std::to_string(d.modes) +
               "\nCallback=" + std::to_string(d.callback) + "\nInitFails=" + (d.initFails ? "1" : "0") + "\n";
        if (!d.id.empty())
            ini += "Id=" + d.id + "\n";
    }
    return ini;
}

// Base fixture: a fresh module folder per test; TearDown ends the library and removes the folder.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = scratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(root_ + "/hwlibs");
        DeviceRegistry::instance().setModuleFolderOverride(root_);
    }

    void TearDown() override
    {
        controls_.clear(); // before exit, so that exit unloads the libraries
        exitTvkCtrl();
        setCallbacks(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    static void setCallbacks(TvkDevCallback cb)
    {
        setCbInfoMsg(cb);
        setCbDacsChanged(cb);
        setCbExtDacChanged(cb);
        setCbPixCfgChanged(cb);
        setCbTvkDevNew(cb);
        setCbTvkDevChanged(cb);
        setCbAcqStart(cb);
    }

    // Copies the fake library into hwlibs as name.so with its ini file.
    void addLibrary(const std::string& name, const std::string& ini, const char* source = FAKEHW_PATH)
    {
        const std::string path = root_ + "/hwlibs/" + name + ".so";
        std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
        writeFile(root_ + "/hwlibs/" + name + ".ini", ini);
    }

    void setIni(const std::string& name, const std::string& ini) { writeFile(root_ + "/hwlibs/" + name + ".ini", ini); }

    // The control functions of a library that initTvkCtrl loaded.
    FakeControl& control(const std::string& name)
    {
        auto& c = controls_[name];
        if (!c) {
            c = std::make_unique<FakeControl>();
            EXPECT_TRUE(c->open(root_ + "/hwlibs/" + name + ".so")) << c->module.error();
        }
        return *c;
    }

    // Sets up one library "fake" with the given devices and initialises the control library.
    void initWith(const std::vector<FakeDev>& devices)
    {
        addLibrary("fake", fakeIni(devices));
        ASSERT_EQ(initTvkCtrl(), 0);
    }

    static std::string libraryMessage(int* code = nullptr)
    {
        const char* text = nullptr;
        getInfoMsg(-1, code, &text);
        return text ? text : "";
    }

    static std::string deviceMessage(unsigned dev, int* code = nullptr)
    {
        const char* text = nullptr;
        getInfoMsg(static_cast<int>(dev), code, &text);
        return text ? text : "";
    }

    const std::string& root() const { return root_; }

private:
    std::string root_;
    std::map<std::string, std::unique_ptr<FakeControl>> controls_;
};

} // namespace devtest
