// The plug-in's entry on a stand-in manager: a table of another version is refused with the box and
// nothing registered; the right one registers the tool's menu items and the three device events.
#include <algorithm>
#include <stdexcept>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "pluginfw/tests/plugin_under_test.h"

namespace {

const char* kNames[] = {"THL", "THH", "FBK"};
const int kWidths[] = {10, 10, 8};

int threeDacs(unsigned, const char*** names, const int** widths, int* count)
{
    *names = kNames;
    *widths = kWidths;
    *count = 3;
    return 0;
}

} // namespace

TEST(DacDeckEntry, VersionCheckAndRegistrations)
{
    const std::string dir = ombrel_test::scratchDir("dacdeck-entry");
    fakemgr::reset(dir + "/");
    fakemgr::setDevice(0, "A");
    fakemgr::setDevice(1, "B");
    ombrel_test::PluginUnderTest plugin(DACDECK_PATH, "dacdeckSetMessageBoxHandler");
    ombrel_test::expectVersionRefused(plugin, "dacdeck");

    static _MgrFuncTable table = fakemgr::table();
    table.tvkCtrlGetDACsNames = threeDacs;
    ASSERT_EQ(plugin.init(&table), 0);
    const std::vector<fakemgr::Subscription> subs = fakemgr::subscriptions();
    EXPECT_EQ(fakemgr::subscribedEvents(),
              (std::vector<std::string>{"tvkmgr Start", "tvkmgr Exit", "tvkctrl TvkDevChanged", "tvkctrl TvkDevNew",
                                        "tvkctrl AcqCompleted", "tvkctrl DACs set", "tvkctrl ExtDACSet"}));
    {
        std::lock_guard lock(fakemgr::state().m);
        const fakemgr::State& s = fakemgr::state();
        ASSERT_EQ(s.menuItems.size(), 2u);
        for (int dev = 0; dev < 2; ++dev) {
            EXPECT_EQ(s.menuItems[static_cast<size_t>(dev)].devId, dev);
            EXPECT_EQ(s.menuItems[static_cast<size_t>(dev)].name, "DAC Control Panel");
        }
    }
    // Events for devices without a ready window do nothing.
    for (const auto& sub : subs)
        if (sub.source == "tvkctrl" && sub.event != "TvkDevChanged") {
            sub.callback(0);
            sub.callback(7);
        }
    fakemgr::fire("tvkmgr", "Exit", 0);
}
