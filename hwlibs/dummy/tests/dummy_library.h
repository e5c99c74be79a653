// Test access to tvkHwDummy.so: each DummyLibrary is a private copy of the built library in a scratch
// folder of its own, with its settings file beside it, so that every test starts from a freshly loaded
// library (the library reads "tvkHwDummy.ini" beside itself when it is loaded).
#pragma once

#include "ombrel_test_support.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "tvk_hw.h"

namespace hwdummytest {

constexpr int kHwError = -268435458;
constexpr int kHwErrorBufferSmall = -268435460;
constexpr uint32_t kPixels = 65536;
constexpr uint32_t kWidth = 256;

enum Item { kVersion, kPoissonNoise, kTimeElement, kDataFileName, kDataFileCount, kCacheCount, kImageCounter };

inline std::string readAll(const std::string& path)
{
    return ombrel_test::readFile(path);
}

inline void writeAll(const std::string& path, const std::string& content)
{
    if (!ombrel_test::writeFile(path, content))
        throw std::runtime_error("cannot write " + path);
}

class DummyLibrary {
public:
    // ini: the settings file's content, or nullopt for none.
    explicit DummyLibrary(const std::optional<std::string>& ini)
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = ombrel_test::scratchDir(test ? std::string("hwdummy-") + test->test_suite_name() + "." + test->name()
                                               : std::string("hwdummy"));
        libraryPath_ = folder_ + "/tvkHwDummy.so";
        std::filesystem::copy_file(HWDUMMY_LIBRARY_PATH, libraryPath_);
        if (ini)
            writeAll(iniPath(), *ini);
        load();
    }

    // The library that a folder already holds (with its settings file and images), as a copied app
    // folder has it.
    struct InFolder {
        std::string folder;
    };
    explicit DummyLibrary(const InFolder& existing) : folder_(existing.folder), libraryPath_(folder_ + "/tvkHwDummy.so")
    {
        load();
    }

    const _HwFuncTable& hw() const { return *table_; }
    const std::string& folder() const { return folder_; }
    std::string iniPath() const { return folder_ + "/tvkHwDummy.ini"; }
    std::string path(const std::string& name) const { return folder_ + "/" + name; }

    // Enumerates and initialises every device; returns their ids.
    std::vector<int> initAll()
    {
        std::vector<int> ids;
        int id = -1;
        for (int r = hw().hwGetFirst(&id); r == 0; r = hw().hwGetNext(&id))
            ids.push_back(id);
        for (int dev : ids)
            hw().hwInit(dev);
        return ids;
    }

    // Item setters and getters of the usual types.
    int setU32(int id, int item, uint32_t v) const { return hw().hwSetHwInfo(id, item, &v, sizeof v); }
    int setDouble(int id, int item, double v) const { return hw().hwSetHwInfo(id, item, &v, sizeof v); }
    int setBool(int id, int item, bool v) const
    {
        const int32_t b = v ? 1 : 0;
        return hw().hwSetHwInfo(id, item, &b, sizeof b);
    }
    int setFileName(int id, const std::string& name) const
    {
        char buf[512] = {};
        name.copy(buf, sizeof buf - 1);
        return hw().hwSetHwInfo(id, kDataFileName, buf, sizeof buf);
    }
    template <typename T>
    T get(int id, int item) const
    {
        T value{};
        HwInfoItem it{};
        it.data = &value;
        int size = sizeof value;
        EXPECT_EQ(hw().hwGetHwInfo(id, item, &it, &size), 0) << hw().hwGetLastError(id);
        return value;
    }
    std::string fileName(int id) const
    {
        char buf[512] = {};
        HwInfoItem it{};
        it.data = buf;
        int size = sizeof buf;
        EXPECT_EQ(hw().hwGetHwInfo(id, kDataFileName, &it, &size), 0);
        return std::string(buf, strnlen(buf, sizeof buf));
    }
    uint32_t flags(int id, int item) const
    {
        uint32_t f = 0;
        EXPECT_EQ(hw().hwGetHwInfoFlags(id, item, &f), 0);
        return f;
    }

    // One exposure of the given seconds (polling the busy state as the device-control library does),
    // stopped and read out. Returns the read's result; elapsed receives the measured exposure.
    int exposeAndRead(int id, double seconds, std::vector<uint16_t>& counts, double* elapsed = nullptr) const
    {
        const _AcqPars pars{0, 0, 1, ACQMODE_MANUAL, seconds};
        EXPECT_EQ(hw().hwSetAcqPars(id, &pars), 0);
        EXPECT_EQ(hw().hwResetMatrix(id), 0);
        EXPECT_EQ(hw().hwStartAcquisition(id), 0);
        int busy = 1;
        while (hw().hwCheckBusy(id, &busy) == 0 && busy)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(hw().hwStopAcquisition(id), 0);
        double t = 0;
        EXPECT_EQ(hw().hwGetAcqTime(id, &t), 0);
        if (elapsed)
            *elapsed = t;
        counts.assign(kPixels, 0xFFFF);
        return hw().hwReadMatrix(id, counts.data(), kPixels);
    }

    // An exposure whose image is served unscaled and unmasked (time element 0), noise off.
    int readImage(int id, std::vector<uint16_t>& counts) const
    {
        EXPECT_EQ(setDouble(id, kTimeElement, 0.0), 0);
        EXPECT_EQ(setBool(id, kPoissonNoise, false), 0);
        return exposeAndRead(id, 0.0, counts);
    }

    // Unloads the library (the folder stays), so that a copy of the folder starts it afresh.
    void unload() { module_.close(); }

private:
    void load()
    {
        if (!module_.open(libraryPath_))
            throw std::runtime_error("cannot load " + libraryPath_ + ": " + module_.error());
        auto entry = reinterpret_cast<GetMandatoryFuncsFn>(module_.symbol(TVK_HW_ENTRY_NAME));
        if (!entry)
            throw std::runtime_error("no entry in " + libraryPath_);
        table_ = entry();
    }

    std::string folder_;
    std::string libraryPath_;
    plat::Module module_;
    _HwFuncTable* table_ = nullptr;
};

inline std::string iniWithCount(int count, int unique = 0)
{
    return "[Dummy]\nCount=" + std::to_string(count) + "\nUnique=" + std::to_string(unique) + "\n";
}

} // namespace hwdummytest
