// libTvkCtrl.so as its clients see it: no Qt among its dependencies, and every function under both names.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "elf_reader.h"
#include "platform/module.h"

namespace {

TEST(TvkCtrlLibrary, LinksNoQt)
{
    const auto needed = ombrel_test::ElfFile(TVKCTRL_PATH).neededLibraries();
    ASSERT_FALSE(needed.empty());
    EXPECT_NE(std::find(needed.begin(), needed.end(), "libc.so.6"), needed.end());
    for (const std::string& lib : needed)
        EXPECT_EQ(lib.find("Qt"), std::string::npos) << lib;
}

TEST(TvkCtrlLibrary, EveryFunctionUnderBothNames)
{
    const char* const names[] = {
        "initTvkCtrl", "exitTvkCtrl", "getFirstTvk", "getNextTvk", "findNewTvks", "reconnectTvk", "getInfoMsg",
        "setCbInfoMsg", "setCbAcqStart", "setCbAcqCompl", "setCbFrameCreated", "setCbAddAttribs",
        "setCbDacsChanged", "setCbExtDacChanged", "setCbPixCfgChanged", "setCbTvkDevNew", "setCbTvkDevChanged",
        "tryLockDevice", "releaseDevice", "getLockOwnerID", "getDevInfo", "getTarvikInfo", "initTvkDevice",
        "reviveTvkDevice", "setPolarity", "getPolarity", "setCST", "getCST", "setAcqMode", "getAcqMode",
        "setHwTimer", "getHwTimer", "setAcqSpacing", "getAcqSpacing", "setAutoConvToSM", "getAutoConvToSM",
        "setDACsDefault", "setDACs", "getDACs", "getSingleDACAnalog", "getDACsAnalog", "refreshDACs",
        "getDACsNames", "setDACRefCoef", "getDACRefCoef", "setExtDAC", "getExtDAC", "setPixelsCfg",
        "getPixelsCfg", "resetPixelsCfg", "refreshPixelsCfg", "loadPixelsCfg", "savePixelsCfg",
        "loadPixelsCfgAscii", "savePixelsCfgAscii", "loadTvkCfg", "saveTvkCfg", "saveTvkCfgAsDefault",
        "getHwInfoCount", "getHwInfoItem", "setHwInfoItem"};
    plat::Module lib;
    ASSERT_TRUE(lib.open(TVKCTRL_PATH)) << lib.error();
    for (const char* name : names) {
        void* plain = lib.symbol(name);
        EXPECT_NE(plain, nullptr) << name;
        EXPECT_EQ(lib.symbol(("_" + std::string(name)).c_str()), plain) << name;
    }
    EXPECT_EQ(lib.symbol("_ZN9TvkDevice5closeEv"), nullptr); // internals stay hidden
}

} // namespace
