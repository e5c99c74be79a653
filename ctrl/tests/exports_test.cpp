// The exported-name list kept in ctrl/exports.txt against the dynamic symbols of libTvkCtrl.so: every
// listed function is exported as name and _name at one address, and the library exports no other C
// function (the frame class's methods are C++ names and are left out).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "elf_reader.h"

namespace {

bool isCppName(const std::string& name)
{
    return name.rfind("_Z", 0) == 0;
}

TEST(TvkCtrlExports, ListMatchesDynamicSymbolsInBothSpellings)
{
    const std::vector<std::string> names = ombrel_test::readNameList(EXPORTS_LIST);
    ASSERT_FALSE(names.empty()) << EXPORTS_LIST;
    const std::map<std::string, uint64_t> symbols = ombrel_test::ElfFile(TVKCTRL_PATH).exportedFunctions();
    ASSERT_FALSE(symbols.empty()) << TVKCTRL_PATH;

    std::set<std::string> expected;
    for (const std::string& name : names) {
        EXPECT_TRUE(expected.insert(name).second) << "listed twice: " << name;
        expected.insert("_" + name);
        const auto plain = symbols.find(name);
        const auto underscore = symbols.find("_" + name);
        EXPECT_NE(plain, symbols.end()) << "not exported: " << name;
        EXPECT_NE(underscore, symbols.end()) << "not exported: _" << name;
        if (plain != symbols.end() && underscore != symbols.end()) {
            EXPECT_EQ(plain->second, underscore->second) << name << " and _" << name << " differ";
        }
    }
    for (const auto& [name, address] : symbols) {
        if (!isCppName(name)) {
            EXPECT_TRUE(expected.count(name)) << "exported but not listed: " << name;
        }
    }
}

} // namespace
