// The plug-in record as the utilities library reads it (tvk_mgr_view.h): reached through the pointer that
// the internal table hands out, it lists what the plug-in registered, in registration order, and follows
// later changes.
#include <gtest/gtest.h>

#include "mgr_test_support.h"
#include "tvk_mgr_view.h"

using mgrtest::funcItem;
using mgrtest::ManagerCore;
using mgrtest::noopFunction;
using mgrtest::noopMenu;

namespace {

void firstSubscriber(intptr_t) {}
void secondSubscriber(intptr_t) {}
int attribValue(uint32_t, void*, uint32_t*)
{
    return 0;
}

// What a table slot gives the utilities library for plugin.
const MgrPluginView& throughTable(const std::shared_ptr<PluginInfo>& plugin)
{
    return *pluginView(tablePluginInfo(plugin.get()));
}

TEST(PluginView, TheTablePointerIsTheRecordItself)
{
    ManagerCore core("view-address");
    const std::shared_ptr<PluginInfo> plugin = core.addPlugin("Alpha");
    EXPECT_EQ(static_cast<const void*>(tablePluginInfo(plugin.get())), static_cast<const void*>(plugin.get()))
        << "the view is the record's first base, so a PluginInfo* of the table points at the record";
    EXPECT_EQ(throughTable(plugin).pluginName(), "alpha");
}

TEST(PluginView, ListsWhatThePluginRegistered)
{
    ManagerCore core("view-lists");
    const std::shared_ptr<PluginInfo> alpha = core.addPlugin("alpha");
    PluginMgr& p = core.plugins;

    _FuncItem median = funcItem("alpha", "Median", noopFunction, nullptr, FUNC_FILTER);
    std::snprintf(median.description, sizeof median.description, "%s", "Median of the frame");
    median.inCount = 2;
    median.in[0] = {TYPE_I32, 1, "count"};
    median.in[1] = {TYPE_DOUBLE, -1, "values"};
    median.outCount = 1;
    median.out[0] = {TYPE_STRING, 1, "name"};
    ASSERT_EQ(p.funcs().addFuncItem(&median), 0);
    int menuId = 0;
    ASSERT_EQ(p.menus().addMenuItem("alpha", "Open", "Tools|Alpha", noopMenu, reinterpret_cast<void*>(42), &menuId, -3),
              0);
    _EventDesc done{"alpha", "Done", "Fired when done"};
    _EventDesc idle{"alpha", "Idle", "Nobody listens"};
    int eventId = 0;
    ASSERT_EQ(p.events().addEvent(&done, &eventId), 0);
    ASSERT_EQ(p.events().addEvent(&idle, &eventId), 0);
    ASSERT_EQ(p.events().subscribe("alpha", "Done", firstSubscriber), 0);
    ASSERT_EQ(p.events().subscribe("alpha", "Done", secondSubscriber), 0);
    _FrameAttribTempl temp{"alpha", "Temp", "Temperature", TYPE_DOUBLE, 0xFFFFFFFBu, attribValue};
    ASSERT_EQ(p.frameAttribs().addTemplate(&temp), 0);
    uint32_t clean = 0;
    uint32_t empty = 0;
    ASSERT_EQ(p.chains().createChain("alpha", "Clean", &clean), 0);
    ASSERT_EQ(p.chains().createChain("alpha", "Empty", &empty), 0);

    const MgrPluginView& view = throughTable(alpha);

    const std::vector<MgrFunctionView> functions = view.functionViews();
    ASSERT_EQ(functions.size(), 1u);
    EXPECT_EQ(functions[0].name, "Median") << "the function's own name, not its key";
    EXPECT_EQ(functions[0].description, "Median of the frame");
    EXPECT_EQ(functions[0].callback, &noopFunction);
    ASSERT_EQ(functions[0].inputs.size(), 2u);
    EXPECT_EQ(functions[0].inputs[1].type, uint32_t(TYPE_DOUBLE));
    EXPECT_EQ(functions[0].inputs[1].count, -1);
    EXPECT_EQ(functions[0].inputs[1].name, "values");
    ASSERT_EQ(functions[0].outputs.size(), 1u);
    EXPECT_EQ(functions[0].outputs[0].name, "name");

    const std::vector<MgrMenuItemView> menus = view.menuItemViews();
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].name, "Open");
    EXPECT_EQ(menus[0].menuPath, "Tools|Alpha");
    EXPECT_EQ(menus[0].id, static_cast<uint32_t>(menuId));
    EXPECT_EQ(menus[0].flags, -3);
    EXPECT_EQ(menus[0].callback, &noopMenu);
    EXPECT_EQ(menus[0].userData, reinterpret_cast<void*>(42));

    const std::vector<MgrEventView> events = view.eventViews();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "Done");
    EXPECT_EQ(events[0].description, "Fired when done");
    EXPECT_EQ(events[0].subscribers, (std::vector<EventCallback>{firstSubscriber, secondSubscriber}));
    EXPECT_EQ(events[1].name, "Idle");
    EXPECT_TRUE(events[1].subscribers.empty());

    const std::vector<MgrFrameAttribView> attribs = view.frameAttribViews();
    ASSERT_EQ(attribs.size(), 1u);
    EXPECT_EQ(attribs[0].name, "Temp");
    EXPECT_EQ(attribs[0].description, "Temperature");
    EXPECT_EQ(attribs[0].type, uint32_t(TYPE_DOUBLE));
    EXPECT_EQ(attribs[0].hint, 0xFFFFFFFBu);
    EXPECT_EQ(attribs[0].callback, &attribValue);

    const std::vector<MgrChainView> chains = view.chainViews();
    ASSERT_EQ(chains.size(), 2u);
    EXPECT_EQ(chains[0].name, "Clean");
    EXPECT_EQ(chains[0].id, clean);
    EXPECT_EQ(chains[1].name, "Empty");
    EXPECT_EQ(chains[1].id, empty);

    // Later changes show on the next read.
    ASSERT_EQ(p.events().unsubscribe("alpha", "Done", firstSubscriber), 0);
    ASSERT_EQ(p.funcs().removeFuncItem("alpha", "Median"), 0);
    EXPECT_EQ(view.eventViews()[0].subscribers, (std::vector<EventCallback>{secondSubscriber}));
    EXPECT_TRUE(view.functionViews().empty());
}

} // namespace
