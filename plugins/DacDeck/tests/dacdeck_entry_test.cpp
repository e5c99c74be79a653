// The plug-in's entry on a stand-in manager: a table of another version is refused with the box and
// nothing registered; the right one registers the tool's menu items and the three device events.
#include <algorithm>
#include <stdexcept>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "platform/module.h"
#include "pluginfw/tests/fake_mgr.h"
#include "uikit/message_box.h"

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

struct Box {
    std::string title, text;
};

} // namespace

TEST(DacDeckEntry, VersionCheckAndRegistrations)
{
    const std::string dir = ombrel_test::scratchDir("dacdeck-entry");
    fakemgr::reset(dir + "/");
    fakemgr::setDevice(0, "A");
    fakemgr::setDevice(1, "B");
    plat::Module module;
    ASSERT_TRUE(module.open(DACDECK_PATH)) << module.error();
    auto init = reinterpret_cast<int (*)(const _MgrFuncTable*)>(module.symbol("InitTvkPlugin"));
    auto setBoxes = reinterpret_cast<void (*)(const MessageBoxHandler*)>(module.symbol("dacdeckSetMessageBoxHandler"));
    ASSERT_TRUE(init && setBoxes);
    std::vector<Box> boxes;
    const MessageBoxHandler handler = [&](QWidget*, const QString& text, const QString& title, unsigned) {
        boxes.push_back({title.toStdString(), text.toStdString()});
        return int(MSGBOX_IDOK);
    };
    setBoxes(&handler);

    const _MgrFuncTable old = fakemgr::table(16);
    EXPECT_EQ(init(&old), -1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Plugin version check failed");
    EXPECT_EQ(boxes[0].text, "Plugin \"dacdeck\" was compiled with header files ver. 17, this version is 16, please "
                             "recompile the plugin.");
    {
        std::lock_guard lock(fakemgr::state().m);
        EXPECT_TRUE(fakemgr::state().calls.empty());
    }

    static _MgrFuncTable table = fakemgr::table();
    table.tvkCtrlGetDACsNames = threeDacs;
    ASSERT_EQ(init(&table), 0);
    std::vector<fakemgr::Subscription> subs;
    {
        std::lock_guard lock(fakemgr::state().m);
        const fakemgr::State& s = fakemgr::state();
        subs = s.subscriptions;
        std::vector<std::string> events;
        for (const auto& sub : s.subscriptions)
            events.push_back(sub.source + " " + sub.event);
        EXPECT_EQ(events, (std::vector<std::string>{"tvkmgr Start", "tvkmgr Exit", "tvkctrl TvkDevChanged",
                                                    "tvkctrl AcqCompleted", "tvkctrl DACs set", "tvkctrl ExtDACSet"}));
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
    for (const auto& sub : subs)
        if (sub.event == "Exit")
            sub.callback(0);
    setBoxes(nullptr);
}
