// A running manager in a scratch copy of the app folder with the simulated detector and HardenCal.so; the
// manager's table comes from a small plug-in that only keeps it.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "scratch_manager.h"
#include "tvk_mgr.h"

namespace hcaltest {

namespace fs = std::filesystem;

// The manager in a folder of makeAppFolder, with the table of its table plug-in.
class ScratchManager : public ombrel_test::ScratchManager {
public:
    explicit ScratchManager(const std::string& dir)
        : ombrel_test::ScratchManager(dir, dir + "/plugins/hardencal_table.so", "hardencalTestTable")
    {
    }
};

inline std::string makeAppFolder(const std::string& name)
{
    const std::string dir = ombrel_test::scratchDir(name);
    fs::create_directories(dir + "/hwlibs");
    fs::create_directories(dir + "/plugins");
    fs::copy_file(HCAL_APP_DIR "/libTvkManager.so", dir + "/libTvkManager.so");
    fs::copy_file(HCAL_APP_DIR "/libTvkCtrl.so", dir + "/libTvkCtrl.so");
    fs::copy(HCAL_APP_DIR "/configs", dir + "/configs", fs::copy_options::recursive);
    fs::copy_file(HCAL_HWLIBS_DIR "/tvkHwDummy.so", dir + "/hwlibs/tvkHwDummy.so");
    fs::copy_file(HCAL_HWLIBS_DIR "/dummy_2000.txt", dir + "/hwlibs/dummy_2000.txt");
    std::ofstream(dir + "/hwlibs/tvkHwDummy.ini") << "[Dummy]\nCount=1\nUnique=0\n";
    fs::copy_file(HCAL_TABLE_PLUGIN, dir + "/plugins/hardencal_table.so");
    fs::copy_file(HCAL_PLUGIN, dir + "/HardenCal.so");
    std::ofstream(dir + "/tvkmanager.ini") << "[Plugins]\nHardenCal.so\nplugins/hardencal_table.so\n";
    return dir;
}

// Sets a hardware item of device 0 by name.
inline void setItem(const _MgrFuncTable* t, const char* name, const void* data, int size)
{
    int count = 0;
    ASSERT_EQ(t->tvkCtrlGetHwInfoCount(0, &count), 0);
    for (int k = 0; k < count; ++k) {
        HwInfoItem item{};
        int bytes = 0;
        t->tvkCtrlGetHwInfoItem(0, k, &item, &bytes);
        if (item.name && std::strcmp(item.name, name) == 0) {
            ASSERT_EQ(t->tvkCtrlSetHwInfoItem(0, k, data, size), 0) << name;
            return;
        }
    }
    FAIL() << "no item " << name;
}

} // namespace hcaltest
