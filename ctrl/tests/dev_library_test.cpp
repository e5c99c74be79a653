// libTvkCtrl.so as its clients see it: no Qt among its dependencies, and every function under both names.
#include <gtest/gtest.h>

#include <cstring>
#include <elf.h>
#include <fstream>
#include <string>
#include <vector>

#include "platform/module.h"

namespace {

// DT_NEEDED entries of an ELF64 shared library, read from its dynamic section.
std::vector<std::string> neededLibraries(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> needed;
    if (bytes.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
        return needed;
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    auto section = [&](size_t i) {
        Elf64_Shdr s{};
        const size_t at = header.e_shoff + i * header.e_shentsize;
        if (at + sizeof s <= bytes.size())
            std::memcpy(&s, bytes.data() + at, sizeof s);
        return s;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr dynamic = section(i);
        if (dynamic.sh_type != SHT_DYNAMIC)
            continue;
        const Elf64_Shdr strings = section(dynamic.sh_link);
        for (size_t at = dynamic.sh_offset; at + sizeof(Elf64_Dyn) <= dynamic.sh_offset + dynamic.sh_size;
             at += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry;
            std::memcpy(&entry, bytes.data() + at, sizeof entry);
            if (entry.d_tag == DT_NEEDED && strings.sh_offset + entry.d_un.d_val < bytes.size())
                needed.emplace_back(bytes.data() + strings.sh_offset + entry.d_un.d_val);
        }
    }
    return needed;
}

TEST(TvkCtrlLibrary, LinksNoQt)
{
    const auto needed = neededLibraries(TVKCTRL_PATH);
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
