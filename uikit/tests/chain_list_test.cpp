// The chain list and the entry chosen again after a refill: by id, then by exact name, else "None"; a
// name that only begins like another chain's never takes that chain.
#include <gtest/gtest.h>

#include "chain_list.h"
#include "fake_chains.h"

namespace {

TEST(ChainList, NoneFirstThenTheManagersChains)
{
    const _MgrFuncTable mgr = fakeChainTable();
    gFakeChains = {};
    auto list = listFilterChains(&mgr);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].id, 0);
    EXPECT_EQ(list[0].name, "None");
    gFakeChains = {{4, "Flat field"}, {9, std::string(40, 'n')}};
    list = listFilterChains(&mgr);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].id, 4);
    EXPECT_EQ(list[1].name, "Flat field");
    EXPECT_EQ(list[2].name, std::string(31, 'n')) << "a name filling its field is cut, not overrun";
    EXPECT_EQ(listFilterChains(nullptr).size(), 1u);
}

TEST(ChainList, ReselectsByIdThenExactName)
{
    const std::vector<ChainEntry> entries = {{0, "None"}, {4, "Flat field"}, {7, "Flat"}, {8, "Sum"}};
    struct Case {
        const char* what;
        int oldId;
        std::string oldName;
        int index;
    } cases[] = {
        {"same id", 7, "Flat", 2},
        {"renumbered, same name", 99, "Flat", 2},
        {"prefix of an earlier chain is not taken", 99, "Fla", 0},
        {"removed chain", 5, "Gone", 0},
        {"nothing selected", 0, "", 0},
        {"None stays None", 0, "None", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chainReselectIndex(entries, c.oldId, c.oldName), c.index) << c.what;
}

} // namespace
