// The manager library exports exactly the functions of exports.txt, each as `name` and `_name`, and
// every one of them can be resolved.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "elf_reader.h"
#include "platform/module.h"

namespace {

// Names of the functions the manager library exports.
std::set<std::string> exportedFunctions()
{
    std::set<std::string> names;
    for (const auto& [name, address] : ombrel_test::ElfFile(MGR_LIBRARY_PATH).exportedFunctions())
        names.insert(name);
    return names;
}

TEST(MgrExportsTest, LibraryExportsTheListInBothSpellings)
{
    const std::vector<std::string> listed = ombrel_test::readNameList(MGR_EXPORTS_LIST);
    ASSERT_FALSE(listed.empty());
    std::set<std::string> expected;
    for (const std::string& name : listed) {
        expected.insert(name);
        expected.insert("_" + name);
    }
    EXPECT_EQ(expected.size(), 2 * listed.size()) << "a name is listed twice";

    const std::set<std::string> exported = exportedFunctions();
    ASSERT_FALSE(exported.empty()) << "cannot read the dynamic symbols of " << MGR_LIBRARY_PATH;
    for (const std::string& name : expected)
        EXPECT_TRUE(exported.count(name)) << name << " is listed but not exported";
    for (const std::string& name : exported)
        EXPECT_TRUE(expected.count(name)) << name << " is exported but not listed";

    // Both spellings resolve to the same function.
    plat::Module library;
    ASSERT_TRUE(library.open(MGR_LIBRARY_PATH)) << library.error();
    for (const std::string& name : listed) {
        void* plain = library.symbol(name.c_str());
        EXPECT_NE(plain, nullptr) << name;
        EXPECT_EQ(library.symbol(("_" + name).c_str()), plain) << name;
    }
}

// The functions that the table only offers are not exported by name.
TEST(MgrExportsTest, TableOnlyEntriesAreNotExported)
{
    const std::set<std::string> exported = exportedFunctions();
    for (const char* name : {"mgrGetConfigsDir", "mgrSetFrameSize", "tvkCtrlGetFrameID"}) {
        EXPECT_FALSE(exported.count(name)) << name;
        EXPECT_FALSE(exported.count(std::string("_") + name)) << name;
    }
}

} // namespace
