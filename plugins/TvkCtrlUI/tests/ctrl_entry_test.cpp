// The plug-in's entry on a stand-in manager: a table of another interface version is refused with the box,
// and nothing is registered or called.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "platform/module.h"
#include "pluginfw/tests/fake_mgr.h"
#include "uikit/message_box.h"

namespace {

struct Box {
    std::string title, text;
};

TEST(CtrlEntry, TableOfAnotherVersionIsRefused)
{
    const std::string dir = ombrel_test::scratchDir("tvkctrlui-entry");
    fakemgr::reset(dir + "/");
    fakemgr::setDevice(0, "A");
    plat::Module module;
    ASSERT_TRUE(module.open(TVKCTRLUI_PATH)) << module.error();
    auto init = reinterpret_cast<int (*)(const _MgrFuncTable*)>(module.symbol("InitTvkPlugin"));
    auto setBoxes =
        reinterpret_cast<void (*)(const MessageBoxHandler*)>(module.symbol("tvkctrluiSetMessageBoxHandler"));
    ASSERT_TRUE(init && setBoxes);
    std::vector<Box> boxes;
    const MessageBoxHandler handler = [&](QWidget*, const QString& text, const QString& title, unsigned) {
        boxes.push_back({title.toStdString(), text.toStdString()});
        return int(MSGBOX_IDOK);
    };
    setBoxes(&handler);

    const _MgrFuncTable old = fakemgr::table(16);
    EXPECT_EQ(init(&old), -1);
    setBoxes(nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Plugin version check failed");
    EXPECT_EQ(boxes[0].text, "Plugin \"tvkctrlui\" was compiled with header files ver. 17, this version is 16, "
                             "please recompile the plugin.");
    std::lock_guard lock(fakemgr::state().m);
    const fakemgr::State& s = fakemgr::state();
    EXPECT_TRUE(s.calls.empty());
    EXPECT_TRUE(s.subscriptions.empty());
    EXPECT_TRUE(s.menuItems.empty());
    EXPECT_TRUE(s.functions.empty());
}

} // namespace
