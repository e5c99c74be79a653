// Registries of plug-ins, functions, menu items and frame-attribute templates: keys and ids, the
// enumeration by id, the records handed to callers, the codes and messages of failures, calls into
// plug-in code without registry locks, and removal of a whole plug-in.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "mgr_test_support.h"

using mgrtest::funcItem;
using mgrtest::ManagerCore;
using mgrtest::noopFunction;
using mgrtest::noopMenu;
using Strings = std::vector<std::string>;

namespace {

class Registry : public ::testing::Test {
protected:
    Registry() : core_(std::string("registry-") + ::testing::UnitTest::GetInstance()->current_test_info()->name()) {}

    int addFunction(const char* plugin, const char* name, FuncItemCallback cb = noopFunction, void* userData = nullptr)
    {
        _FuncItem item = funcItem(plugin, name, cb, userData);
        const int result = core_.plugins.funcs().addFuncItem(&item);
        return result == 0 ? item.id : result;
    }

    ManagerCore core_;
    FuncMgr& funcs_ = core_.plugins.funcs();
    MenuMgr& menus_ = core_.plugins.menus();
};

// ---- plug-ins ----

TEST_F(Registry, ThePseudoPluginsComeFirstAndNamesIgnoreCase)
{
    core_.addPlugin("TvkCtrlUI");
    std::vector<std::pair<uint32_t, std::string>> walked;
    uint32_t id = 0;
    std::shared_ptr<PluginInfo> plugin;
    for (int r = core_.plugins.getFirstPlugin(&id, &plugin); r == 0; r = core_.plugins.getNextPlugin(&id, &plugin))
        walked.emplace_back(id, plugin->name());
    EXPECT_EQ(walked, (std::vector<std::pair<uint32_t, std::string>>{{1, "tvkmgr"}, {2, "tvkctrl"}, {3, "tvkctrlui"}}));
    EXPECT_EQ(core_.plugins.findPlugin("TVKCTRLUI"), core_.plugins.findPlugin("tvkctrlui"));
    EXPECT_EQ(core_.plugins.registerPlugin("TVKCtrlUI", nullptr), REG_ERR_DUPLICATE);
    EXPECT_EQ(core_.plugins.getNextPlugin(&id, &plugin), 1);
    EXPECT_EQ(id, 3u) << "the end leaves the id";
}

// ---- functions ----

TEST_F(Registry, AFunctionIsFoundByPluginNameOfAnyCaseAndItsExactName)
{
    core_.addPlugin("abc");
    const int id = addFunction("abc", "DoIt");
    ASSERT_GT(id, 0);
    struct Case {
        const char* plugin;
        const char* name;
        int result;
    } cases[] = {
        {"ABC", "DoIt", 0}, {"abc", "DoIt", 0}, {"abc", "doit", REG_ERR_NOT_FOUND}, {"x", "DoIt", REG_ERR_NOT_FOUND}};
    for (const Case& c : cases) {
        _FuncItem out{};
        EXPECT_EQ(funcs_.getFuncItem(c.plugin, c.name, &out), c.result) << c.plugin << ":" << c.name;
        if (c.result == 0) {
            EXPECT_EQ(out.id, id);
        }
    }
}

TEST_F(Registry, RegistrationOutcomes)
{
    core_.addPlugin("p1");
    core_.addPlugin("p2");
    const int first = addFunction("p1", "Same");
    const int other = addFunction("p2", "Same");
    EXPECT_GT(first, 0);
    EXPECT_GT(other, first) << "the same name in two plug-ins gives two items";
    core_.messages();

    EXPECT_EQ(addFunction("p1", "Same"), MGR_ERR_FUNC_EXISTS);
    EXPECT_EQ(core_.messages(), Strings{"Function Same is already registered by plugin p1."});
    _FuncItem out{};
    ASSERT_EQ(funcs_.getFuncItem("p1", "Same", &out), 0);
    EXPECT_EQ(out.id, first) << "the first registration stays";

    EXPECT_EQ(addFunction("nobody", "F"), MGR_ERR_NO_PLUGIN);
    EXPECT_EQ(core_.messages(), Strings{"Plugin nobody is not registered."});
}

TEST_F(Registry, MalformedRecordsAreRefused)
{
    core_.addPlugin("p");
    _FuncItem tooManyInputs = funcItem("p", "A", noopFunction);
    tooManyInputs.inCount = 9;
    _FuncItem noCallback = funcItem("p", "B", nullptr);
    _FuncItem filterWithoutCallbacks = funcItem("p", "C", noopFunction, nullptr, FUNC_FILTER | FUNC_FILTER_INSTANCES);
    _FilterInstCallbacks partial{};
    _FuncItem filterWithPartialCallbacks = funcItem("p", "D", noopFunction, &partial, FUNC_FILTER_INSTANCES);
    for (_FuncItem* item : {&tooManyInputs, &noCallback, &filterWithoutCallbacks, &filterWithPartialCallbacks}) {
        EXPECT_EQ(funcs_.addFuncItem(item), TVK_ERR_PARAM) << item->function;
        EXPECT_EQ(core_.messages().size(), 1u) << item->function;
    }
    EXPECT_EQ(funcs_.addFuncItem(nullptr), TVK_ERR_PARAM);
    EXPECT_EQ(funcs_.size(), 0u);
}

TEST_F(Registry, TheRecordCopiesTheRegistrationTruncatedAndTerminated)
{
    core_.addPlugin("p");
    _FuncItem item = funcItem("p", "", noopFunction, reinterpret_cast<void*>(0x1234), FUNC_FILTER);
    std::memset(item.function, 'f', sizeof item.function); // 32 characters, no terminator
    std::memset(item.description, 'd', sizeof item.description);
    item.inCount = 2;
    item.in[0] = {TYPE_I32, 1, "threshold"};
    item.in[1] = {TYPE_STRING, -1, ""};
    std::memset(item.in[1].name, 'n', sizeof item.in[1].name);
    item.outCount = 1;
    item.out[0] = {TYPE_DOUBLE, 4, "result"};
    ASSERT_EQ(funcs_.addFuncItem(&item), 0);

    _FuncItem out;
    std::memset(&out, 0xAB, sizeof out);
    ASSERT_EQ(funcs_.getFuncItemById(static_cast<uint32_t>(item.id), &out), 0);
    EXPECT_EQ(out.callback, &noopFunction);
    EXPECT_EQ(out.userData, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(out.flags, static_cast<uint32_t>(FUNC_FILTER));
    EXPECT_EQ(out.id, item.id);
    EXPECT_STREQ(out.plugin, "p");
    EXPECT_EQ(std::string(out.function), std::string(31, 'f'));
    EXPECT_EQ(std::string(out.description), std::string(127, 'd'));
    ASSERT_EQ(out.inCount, 2u);
    EXPECT_EQ(out.in[0].type, static_cast<uint32_t>(TYPE_I32));
    EXPECT_EQ(out.in[0].count, 1);
    EXPECT_STREQ(out.in[0].name, "threshold");
    EXPECT_EQ(out.in[1].count, -1);
    EXPECT_EQ(std::string(out.in[1].name), std::string(127, 'n'));
    ASSERT_EQ(out.outCount, 1u);
    EXPECT_STREQ(out.out[0].name, "result");
    EXPECT_EQ(out.out[0].count, 4);
    // The key holds the whole stored name (32 characters).
    EXPECT_EQ(funcs_.getFuncItem("p", std::string(32, 'f').c_str(), nullptr), 0);
}

TEST_F(Registry, FirstAndNextWalkIdsAndSkipRemovedOnes)
{
    core_.addPlugin("p");
    const int a = addFunction("p", "A");
    const int b = addFunction("p", "B");
    const int c = addFunction("p", "C");
    ASSERT_EQ(funcs_.removeFuncItem("P", "B"), 0);
    const int d = addFunction("p", "D");
    EXPECT_EQ(d, c + 1) << "a removed id is never handed out again";

    std::vector<int> walked;
    uint32_t id = 0;
    _FuncItem out{};
    for (int r = funcs_.getFirstFunc(&id, &out); r == 0; r = funcs_.getNextFunc(&id, &out)) {
        EXPECT_EQ(static_cast<uint32_t>(out.id), id);
        walked.push_back(static_cast<int>(id));
    }
    EXPECT_EQ(walked, (std::vector<int>{a, c, d}));
    EXPECT_EQ(id, static_cast<uint32_t>(d)) << "the end leaves the id";

    // Next from an id whose item was removed meanwhile still finds the following one.
    id = static_cast<uint32_t>(b);
    ASSERT_EQ(funcs_.getNextFunc(&id, &out), 0);
    EXPECT_EQ(id, static_cast<uint32_t>(c));
}

TEST_F(Registry, RemovalCodesAndMessages)
{
    core_.addPlugin("p");
    addFunction("p", "F");
    core_.messages();
    EXPECT_EQ(funcs_.removeFuncItem("p", "G"), MGR_ERR_NO_FUNC);
    EXPECT_EQ(core_.messages(), Strings{"Function G is is not registered by plugin p."});
    EXPECT_EQ(funcs_.removeFuncItem("p", "F"), 0);
    EXPECT_EQ(funcs_.removeFuncItem("p", "F"), MGR_ERR_NO_FUNC);
    EXPECT_TRUE(core_.plugins.findPlugin("p")->functions().empty());
}

// The calling convention: numbers by value in 8-byte slots, texts as pointers; outputs through the
// caller's buffers.
int describe(void* userData, const _FuncSlot* in, void* const* out)
{
    const int32_t count = static_cast<int32_t>(in[0].i);
    const double scale = in[1].d;
    const char* label = static_cast<const char*>(in[2].p);
    *static_cast<double*>(out[0]) = count * scale;
    std::snprintf(static_cast<char*>(out[1]), 32, "%s:%d:%s", label, count, static_cast<const char*>(userData));
    return count < 0 ? -5 : 0;
}

TEST_F(Registry, ACallPassesSlotsAndOutputPointersAndReturnsTheResult)
{
    core_.addPlugin("p");
    char tag[] = "tag";
    addFunction("p", "Describe", describe, tag);
    const _FuncSlot in[] = {tvkSlotInt(-3), tvkSlotDouble(0.5), tvkSlotPtr("frames")};
    double product = 0;
    char text[32] = {};
    void* const out[] = {&product, text};
    int result = 0;
    ASSERT_EQ(funcs_.callFuncItem("P", "Describe", in, out, &result), 0);
    EXPECT_EQ(result, -5);
    EXPECT_EQ(product, -1.5);
    EXPECT_STREQ(text, "frames:-3:tag");
    EXPECT_EQ(funcs_.callFuncItem("p", "Missing", in, out, &result), REG_ERR_NOT_FOUND);
}

// A function that removes itself while it runs: it was found, then the registry let go of it.
ManagerCore* g_core = nullptr;
int removeSelf(void*, const _FuncSlot*, void* const*)
{
    return g_core->plugins.funcs().removeFuncItem("p", "Self") == 0 ? 7 : -1;
}

int throwing(void*, const _FuncSlot*, void* const*)
{
    throw std::runtime_error("plug-in fault");
}

TEST_F(Registry, PluginCodeRunsWithoutLocksAndCannotThrowIntoTheManager)
{
    core_.addPlugin("p");
    g_core = &core_;
    addFunction("p", "Self", removeSelf);
    int result = 0;
    ASSERT_EQ(funcs_.callFuncItem("p", "Self", nullptr, nullptr, &result), 0);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(funcs_.getFuncItem("p", "Self", nullptr), REG_ERR_NOT_FOUND);

    addFunction("p", "Throw", throwing);
    core_.messages();
    ASSERT_EQ(funcs_.callFuncItem("p", "Throw", nullptr, nullptr, &result), 0);
    EXPECT_EQ(result, TVK_ERR_GENERIC);
    const Strings messages = core_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("plug-in fault"), std::string::npos) << messages[0];
}

// ---- menu items ----

struct MenuHit {
    std::vector<void*> calls;
};
void recordMenu(void* userData)
{
    static_cast<MenuHit*>(userData)->calls.push_back(userData);
}

TEST_F(Registry, MenuItemsAreKeyedByPathAndText)
{
    core_.addPlugin("p");
    MenuHit hit;
    int a = 0, b = 0, dup = -1;
    EXPECT_EQ(menus_.addMenuItem("P", "Open", "Tools", recordMenu, &hit, &a, 5), 0);
    EXPECT_EQ(menus_.addMenuItem("p", "Open", "Tools|More", recordMenu, &hit, &b, 0), 0);
    EXPECT_EQ(b, a + 1);
    core_.messages();
    EXPECT_EQ(menus_.addMenuItem("p", "Open", "Tools", recordMenu, &hit, &dup, 0), MGR_ERR_FUNC_EXISTS);
    EXPECT_EQ(dup, -1);
    EXPECT_EQ(core_.messages().size(), 1u);
    EXPECT_EQ(menus_.addMenuItem("q", "Open", "Other", recordMenu, &hit, nullptr, 0), MGR_ERR_NO_PLUGIN);
    EXPECT_EQ(core_.messages(), Strings{"Plugin q is not registered."});
    EXPECT_EQ(menus_.addMenuItem("p", "Open", "Other", nullptr, &hit, nullptr, 0), TVK_ERR_PARAM);

    // The tray received the two items with their manager ids.
    ASSERT_EQ(core_.ui.menuCalls.size(), 2u);
    EXPECT_EQ(core_.ui.menuCalls[0].a, "Open");
    EXPECT_EQ(core_.ui.menuCalls[0].b, "Tools");
    EXPECT_EQ(core_.ui.menuCalls[0].id, a);
    EXPECT_EQ(core_.ui.menuCalls[1].b, "Tools|More");

    // Enumeration gives the full names in id order.
    uint32_t id = 0;
    char name[MGR_MENU_NAME_SIZE];
    Strings names;
    for (int r = menus_.getFirstMenuItem(&id, name); r == 0; r = menus_.getNextMenuItem(&id, name))
        names.push_back(name);
    EXPECT_EQ(names, (Strings{"Tools|Open", "Tools|More|Open"}));

    // Calls by id and by full name reach the callback with its user data.
    EXPECT_EQ(menus_.callMenuItemById(static_cast<uint32_t>(a)), 0);
    EXPECT_EQ(menus_.callMenuItemByName("Tools|More|Open"), 0);
    EXPECT_EQ(hit.calls.size(), 2u);
    EXPECT_EQ(menus_.callMenuItemById(999), REG_ERR_NOT_FOUND);
    EXPECT_EQ(menus_.callMenuItemByName("Tools|open"), REG_ERR_NOT_FOUND);

    // Removal takes it out of the tray too.
    core_.messages();
    EXPECT_EQ(menus_.removeMenuItem(static_cast<uint32_t>(a)), 0);
    EXPECT_EQ(core_.ui.menuCalls.back().op, "remove");
    EXPECT_EQ(core_.ui.menuCalls.back().id, a);
    EXPECT_EQ(menus_.removeMenuItem(static_cast<uint32_t>(a)), MGR_ERR_NO_MENU_ITEM);
    EXPECT_EQ(core_.messages(), Strings{"Menu item with ID = " + std::to_string(a) + " does not exist."});
}

TEST_F(Registry, MenuNamesAreTruncatedToTheCallersBuffer)
{
    core_.addPlugin("p");
    const std::string path(300, 'x');
    ASSERT_EQ(menus_.addMenuItem("p", "Item", path.c_str(), noopMenu, nullptr, nullptr, 0), 0);
    uint32_t id = 0;
    char name[MGR_MENU_NAME_SIZE + 8];
    std::memset(name, '#', sizeof name);
    ASSERT_EQ(menus_.getFirstMenuItem(&id, name), 0);
    EXPECT_EQ(std::string(name), path.substr(0, 255));
    EXPECT_EQ(name[MGR_MENU_NAME_SIZE], '#') << "nothing written past 256 characters";
}

TEST_F(Registry, DeviceSubMenusAreLabelledAndRenamed)
{
    core_.addPlugin("p");
    std::string chipboard = "X";
    DeviceMenuLabels labels(core_.plugins, [&](unsigned dev, std::string& iface, std::string& id) {
        if (dev > 1)
            return -102;
        iface = "USB";
        id = chipboard;
        return 0;
    });
    char buf[MGR_MENU_NAME_SIZE];
    ASSERT_EQ(labels.getTvkMenuPath(0, buf), 0);
    EXPECT_STREQ(buf, "0 - USB X");
    EXPECT_EQ(labels.getTvkMenuPath(5, buf), TVK_ERR_GENERIC);

    int id = 0;
    ASSERT_EQ(labels.addTvkMenuItem(0, "p", "Control", "", noopMenu, nullptr, &id, 0), 0);
    ASSERT_EQ(labels.addTvkMenuItem(0, "p", "Scan", "Tools", noopMenu, nullptr, nullptr, 0), 0);
    EXPECT_EQ(menus_.findById(static_cast<uint32_t>(id))->getName(), "0 - USB X|Control");
    EXPECT_EQ(core_.ui.menuCalls.back().b, "0 - USB X|Tools");
    EXPECT_EQ(labels.addTvkMenuItem(7, "p", "Control", "", noopMenu, nullptr, nullptr, 0), TVK_ERR_GENERIC);

    EXPECT_EQ(labels.refreshLabel(0), 0) << "an unchanged label";
    EXPECT_EQ(core_.ui.menuCalls.back().op, "add");
    chipboard = "Y";
    EXPECT_EQ(labels.refreshLabel(0), 0);
    EXPECT_EQ(core_.ui.menuCalls.back().op, "rename");
    EXPECT_EQ(core_.ui.menuCalls.back().a, "0 - USB X");
    EXPECT_EQ(core_.ui.menuCalls.back().b, "0 - USB Y");
    EXPECT_EQ(labels.refreshLabel(1), TVK_ERR_GENERIC) << "no sub-menu yet";
    chipboard = "Z";
    core_.ui.renameResult = -1;
    EXPECT_EQ(labels.refreshLabel(0), TVK_ERR_GENERIC);
    core_.ui.renameResult = 0;
    EXPECT_EQ(labels.refreshLabel(0), 0);
    EXPECT_EQ(core_.ui.menuCalls.back().a, "0 - USB Y") << "a failed rename keeps the old label";
}

// ---- frame-attribute templates ----

int templValue(uint32_t hint, void* buffer, uint32_t* size)
{
    std::memcpy(buffer, &hint, sizeof hint);
    *size = sizeof hint;
    return 0;
}

_FrameAttribTempl templ(const char* plugin, const char* name, uint32_t type = TYPE_U32)
{
    _FrameAttribTempl t{};
    std::snprintf(t.plugin, sizeof t.plugin, "%s", plugin);
    std::snprintf(t.name, sizeof t.name, "%s", name);
    std::snprintf(t.description, sizeof t.description, "%s", "Stage position");
    t.type = type;
    t.hint = 77;
    t.callback = templValue;
    return t;
}

TEST_F(Registry, FrameAttributeTemplatesAreKeyedByAttributeName)
{
    core_.addPlugin("p");
    core_.addPlugin("q");
    FrameAttribMgr& attribs = core_.plugins.frameAttribs();
    const _FrameAttribTempl pos = templ("p", "Position");
    ASSERT_EQ(attribs.addTemplate(&pos), 0);
    core_.messages();
    const _FrameAttribTempl again = templ("q", "Position");
    EXPECT_EQ(attribs.addTemplate(&again), MGR_ERR_TEMPL_EXISTS);
    EXPECT_EQ(core_.messages(),
              Strings{"Frame attrib. template Position cannot be registered by plugin q, it is already registered."});
    const _FrameAttribTempl badType = templ("p", "Bad", 11);
    EXPECT_EQ(attribs.addTemplate(&badType), TVK_ERR_PARAM);
    const _FrameAttribTempl nobody = templ("r", "Other");
    EXPECT_EQ(attribs.addTemplate(&nobody), MGR_ERR_NO_PLUGIN);

    const auto item = attribs.find("Position");
    ASSERT_NE(item, nullptr);
    uint32_t value = 0, size = sizeof value;
    EXPECT_EQ(item->value(core_.log, &value, &size), 0);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(item->type(), static_cast<uint32_t>(TYPE_U32));
    EXPECT_EQ(item->description(), "Stage position");

    core_.messages();
    EXPECT_EQ(attribs.removeTemplate("Position"), 0);
    EXPECT_EQ(attribs.removeTemplate("Position"), MGR_ERR_NO_TEMPL);
    EXPECT_EQ(core_.messages(), Strings{"Frame attrib. template Position is not registered."});
    EXPECT_TRUE(core_.plugins.findPlugin("p")->frameAttribs().empty());
}

// ---- a whole plug-in ----

TEST_F(Registry, RemovingAPluginTakesEverythingItRegistered)
{
    core_.addPlugin("gone");
    core_.addPlugin("stays");
    addFunction("gone", "F");
    const int kept = addFunction("stays", "F");
    int menuId = 0;
    menus_.addMenuItem("gone", "Item", "Gone", noopMenu, nullptr, &menuId, 0);
    _EventDesc event{"gone", "Happened", ""};
    int eventId = 0;
    core_.plugins.events().addEvent(&event, &eventId);
    const _FrameAttribTempl t = templ("gone", "Attr");
    core_.plugins.frameAttribs().addTemplate(&t);
    uint32_t goneChain = 0, keptChain = 0;
    core_.plugins.chains().createChain("gone", "Chain", &goneChain);
    core_.plugins.chains().createChain("stays", "Chain", &keptChain);
    _FuncItem filter = funcItem("gone", "Filter", noopFunction, nullptr, FUNC_FILTER);
    funcs_.addFuncItem(&filter);
    core_.plugins.chains().addToChain(keptChain, static_cast<uint32_t>(filter.id), -1);

    ASSERT_EQ(core_.plugins.removePlugin("GONE"), 0);
    EXPECT_EQ(core_.plugins.findPlugin("gone"), nullptr);
    EXPECT_EQ(funcs_.getFuncItem("gone", "F", nullptr), REG_ERR_NOT_FOUND);
    EXPECT_EQ(funcs_.getFuncItem("stays", "F", nullptr), 0);
    EXPECT_EQ(funcs_.findById(static_cast<uint32_t>(kept))->name(), "F");
    EXPECT_EQ(menus_.findById(static_cast<uint32_t>(menuId)), nullptr);
    EXPECT_EQ(core_.ui.menuCalls.back().op, "remove");
    EXPECT_EQ(core_.plugins.events().fire(static_cast<uint32_t>(eventId), 0), REG_ERR_NOT_FOUND);
    EXPECT_EQ(core_.plugins.frameAttribs().find("Attr"), nullptr);
    EXPECT_EQ(core_.plugins.chains().findById(goneChain), nullptr);
    EXPECT_EQ(core_.plugins.chains().chainText(keptChain), "") << "its filter left the other chains";
    EXPECT_EQ(core_.plugins.removePlugin("gone"), MGR_ERR_NO_PLUGIN);
}

// Threads register, call, walk and remove functions at once; each finds what it registered.
TEST_F(Registry, ThreadsShareTheFunctionRegistry)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 100;
    for (int t = 0; t < kThreads; ++t)
        core_.addPlugin("p" + std::to_string(t));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string plugin = "p" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                const std::string name = "F" + std::to_string(i);
                _FuncItem item = funcItem(plugin.c_str(), name.c_str(), noopFunction);
                int result = -1;
                if (funcs_.addFuncItem(&item) != 0 ||
                    funcs_.callFuncItem(plugin.c_str(), name.c_str(), nullptr, nullptr, &result) != 0 || result != 0)
                    ++failures;
                uint32_t id = 0;
                for (int r = funcs_.getFirstFunc(&id, nullptr); r == 0; r = funcs_.getNextFunc(&id, nullptr)) {
                }
                if (i % 2 == 0 && funcs_.removeFuncItem(plugin.c_str(), name.c_str()) != 0)
                    ++failures;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(funcs_.size(), static_cast<size_t>(kThreads * kRounds / 2));
    EXPECT_EQ(funcs_.lastId(), static_cast<uint32_t>(kThreads * kRounds));
}

} // namespace
