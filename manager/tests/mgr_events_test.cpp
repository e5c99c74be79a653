// Events: the built-in table, subscription and firing order, changes to the subscriber list and to the
// event while it fires, delivery to one module, and many threads firing and subscribing at once.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cstring>
#include <thread>

#include "mgr_test_support.h"
#include "platform/module.h"

using mgrtest::ManagerCore;
using Strings = std::vector<std::string>;

namespace {

// What the subscribers saw, in order (one event at a time in these tests).
std::vector<std::string> g_calls;
EventMgr* g_events = nullptr;

void subA(intptr_t arg)
{
    g_calls.push_back("A" + std::to_string(arg));
}
void subB(intptr_t arg)
{
    g_calls.push_back("B" + std::to_string(arg));
}
void subC(intptr_t arg)
{
    g_calls.push_back("C" + std::to_string(arg));
}

class Events : public ::testing::Test {
protected:
    Events() : core_(std::string("events-") + ::testing::UnitTest::GetInstance()->current_test_info()->name())
    {
        g_calls.clear();
        g_events = &events_;
        core_.addPlugin("src");
    }

    uint32_t addEvent(const char* plugin, const char* name, int expected = 0)
    {
        _EventDesc desc{};
        std::snprintf(desc.plugin, sizeof desc.plugin, "%s", plugin);
        std::snprintf(desc.name, sizeof desc.name, "%s", name);
        std::snprintf(desc.description, sizeof desc.description, "%s", "a test event");
        int id = -1;
        EXPECT_EQ(events_.addEvent(&desc, &id), expected) << name;
        return static_cast<uint32_t>(id);
    }

    ManagerCore core_;
    EventMgr& events_ = core_.plugins.events();
};

TEST_F(Events, TheFourteenBuiltinEventsHaveTheirIdsNamesAndDescriptions)
{
    const std::vector<std::array<const char*, 3>> expected = {
        {"tvkmgr", "Exit", "Application is shutting down"},
        {"tvkmgr", "Start", "Application was started"},
        {"tvkmgr", "FrameCreated", "New frame was created"},
        {"tvkmgr", "FrameDelete", "Frame will be deleted"},
        {"tvkmgr", "FrameDataChanged", "Frame data were changed"},
        {"tvkmgr", "FrameAttrChanged", "Frame attributes were changed"},
        {"tvkctrl", "AcqStarted", "Acquistion was started"},
        {"tvkctrl", "AcqCompleted", "Acquistion was completed"},
        {"tvkctrl", "InfoMsg", "Info and error messages"},
        {"tvkctrl", "DACs set", "Tarvik DACs were set"},
        {"tvkctrl", "ExtDACSet", "Tarvik Ext DAC was set"},
        {"tvkctrl", "PixCfg", "Tarvik pixel configs were changed"},
        {"tvkctrl", "TvkDevNew", "New tarvik device connected"},
        {"tvkctrl", "TvkDevChanged", "Tarvik device reconnected/changed"},
    };
    uint32_t id = 0;
    _EventDesc desc{};
    size_t i = 0;
    for (int r = events_.getFirstEvent(&id, &desc); r == 0; r = events_.getNextEvent(&id, &desc), ++i) {
        ASSERT_LT(i, expected.size());
        EXPECT_EQ(id, i + 1);
        EXPECT_STREQ(desc.plugin, expected[i][0]);
        EXPECT_STREQ(desc.name, expected[i][1]);
        EXPECT_STREQ(desc.description, expected[i][2]);
        EXPECT_EQ(events_.builtinId(static_cast<BuiltinEvent>(i)), id);
    }
    EXPECT_EQ(i, expected.size());
    EXPECT_EQ(addEvent("src", "Mine"), 15u) << "plug-ins' events follow from 15";
}

TEST_F(Events, SubscribersAreCalledInSubscriptionOrderInTheFiringThread)
{
    const uint32_t id = addEvent("src", "Tick");
    std::thread::id seen;
    static std::thread::id* where = nullptr;
    where = &seen;
    ASSERT_EQ(events_.subscribe("src", "Tick", subA), 0);
    ASSERT_EQ(events_.subscribe("SRC", "Tick", subB), 0);
    ASSERT_EQ(events_.subscribe("src", "Tick", subA), 0);
    ASSERT_EQ(events_.subscribe("src", "Tick", [](intptr_t) { *where = std::this_thread::get_id(); }), 0);
    std::thread([&] { EXPECT_EQ(events_.fire(id, 4), 0); }).join();
    EXPECT_EQ(g_calls, (Strings{"A4", "B4", "A4"}));
    EXPECT_NE(seen, std::this_thread::get_id());

    g_calls.clear();
    ASSERT_EQ(events_.unsubscribe("src", "Tick", subA), 0);
    ASSERT_EQ(events_.unsubscribe("src", "Tick", subC), 0) << "a callback not subscribed is no error";
    events_.fire(id, 5);
    EXPECT_EQ(g_calls, Strings{"B5"});
}

TEST_F(Events, LookupsByIdAndByName)
{
    EXPECT_EQ(events_.fire(0u, 0), REG_ERR_NOT_FOUND);
    EXPECT_EQ(events_.fire(999u, 0), REG_ERR_NOT_FOUND);

    // The source ignores case, the name does not.
    EXPECT_EQ(events_.subscribe("TVKMGR", "Start", subA), 0);
    events_.fire(BuiltinEvent::Start, 0);
    EXPECT_EQ(g_calls, Strings{"A0"});
    core_.messages();
    EXPECT_EQ(events_.subscribe("tvkmgr", "start", subB), MGR_ERR_NO_EVENT);
    EXPECT_EQ(events_.unsubscribe("tvkmgr", "start", subB), MGR_ERR_NO_EVENT);
    EXPECT_EQ(core_.messages(), (Strings{"Event start is is not registered by plugin tvkmgr.",
                                         "Event start is is not registered by plugin tvkmgr."}));

    addEvent("src", "Dup");
    core_.messages();
    addEvent("SRC", "Dup", MGR_ERR_EVENT_EXISTS);
    EXPECT_EQ(core_.messages(), Strings{"Event Dup is already registered by plugin SRC."});
    addEvent("nobody", "X", MGR_ERR_NO_PLUGIN);
    EXPECT_EQ(core_.messages(), Strings{"Plugin nobody is not registered."});
    EXPECT_EQ(events_.removeEvent("src", "Missing"), MGR_ERR_NO_EVENT);
    EXPECT_EQ(core_.messages(), Strings{"Event Missing is is not registered by plugin src."});
}

TEST_F(Events, RemovingAnEventDropsItsSubscribersAndANewOneGetsANewId)
{
    const uint32_t first = addEvent("src", "Once");
    events_.subscribe("src", "Once", subA);
    ASSERT_EQ(events_.removeEvent("SRC", "Once"), 0);
    EXPECT_EQ(events_.fire(first, 1), REG_ERR_NOT_FOUND);
    EXPECT_TRUE(core_.plugins.findPlugin("src")->events().empty());
    const uint32_t second = addEvent("src", "Once");
    EXPECT_GT(second, first);
    events_.fire(second, 2);
    EXPECT_TRUE(g_calls.empty());
}

// The change record of "FrameAttrChanged" travels as an address.
TEST_F(Events, AnArgumentCarriesAnAddress)
{
    static const void* received = nullptr;
    events_.subscribe("tvkmgr", "FrameAttrChanged",
                      [](intptr_t arg) { received = reinterpret_cast<const void*>(arg); });
    const std::string record = "change record";
    events_.fire(BuiltinEvent::FrameAttrChanged, reinterpret_cast<intptr_t>(&record));
    EXPECT_EQ(received, &record);
}

// ---- changes while firing ----

void unsubscribeSelf(intptr_t)
{
    g_calls.push_back("self");
    g_events->unsubscribe("src", "E", unsubscribeSelf);
}

void unsubscribeC(intptr_t)
{
    g_calls.push_back("dropC");
    g_events->unsubscribe("src", "E", subC);
}

void removeEvent(intptr_t)
{
    g_calls.push_back("remove");
    g_events->removeEvent("src", "E");
}

void subscribeB(intptr_t)
{
    g_calls.push_back("addB");
    g_events->subscribe("src", "E", subB);
}

void fireAgain(intptr_t arg)
{
    g_calls.push_back("again" + std::to_string(arg));
    if (arg == 0)
        g_events->fire(g_events->findEvent("src", "E")->id(), 1);
}

void throwFromSubscriber(intptr_t)
{
    throw std::runtime_error("subscriber fault");
}

TEST_F(Events, TheSubscriberListMayChangeWhileTheEventFires)
{
    struct Case {
        const char* name;
        std::vector<EventCallback> subscribers;
        Strings firstFiring;
        Strings secondFiring; // empty name list: the event is gone
    } cases[] = {
        {"a subscriber unsubscribes itself", {subA, unsubscribeSelf, subB}, {"A0", "self", "B0"}, {"A1", "B1"}},
        {"a subscriber unsubscribes a later one",
         {subA, unsubscribeC, subC, subB},
         {"A0", "dropC", "B0"},
         {"A1", "dropC", "B1"}},
        {"a subscriber removes the event", {subA, removeEvent, subB}, {"A0", "remove"}, {}},
        {"a subscriber subscribes another", {subscribeB, subA}, {"addB", "A0"}, {"addB", "A1", "B1"}},
        {"a subscriber fires the event again", {fireAgain, subA}, {"again0", "again1", "A1", "A0"}, {"again1", "A1"}},
        {"a subscriber throws", {subA, throwFromSubscriber, subB}, {"A0", "B0"}, {"A1", "B1"}},
    };
    for (const Case& c : cases) {
        const uint32_t id = addEvent("src", "E");
        for (EventCallback cb : c.subscribers)
            events_.subscribe("src", "E", cb);
        g_calls.clear();
        EXPECT_EQ(events_.fire(id, 0), 0) << c.name;
        EXPECT_EQ(g_calls, c.firstFiring) << c.name;
        g_calls.clear();
        events_.fire(id, 1);
        EXPECT_EQ(g_calls, c.secondFiring) << c.name;
        events_.removeEvent("src", "E");
    }
}

// ---- delivery to one module ----

TEST_F(Events, StartCanBeDeliveredToTheSubscribersOfOneModuleOnly)
{
    plat::Module module;
    ASSERT_TRUE(module.open(MGR_TEST_PLUGIN_PATH)) << module.error();
    auto onStart = reinterpret_cast<EventCallback>(module.symbol("testPluginOnEvent"));
    auto calls = reinterpret_cast<const char* (*)()>(module.symbol("testPluginCalls"));
    ASSERT_TRUE(onStart && calls);

    events_.subscribe("tvkmgr", "Start", subA);
    events_.subscribe("tvkmgr", "Start", onStart);
    events_.subscribe("tvkmgr", "Start", subB);
    events_.subscribe("tvkmgr", "Start", onStart);

    std::string path = plat::modulePathOf(reinterpret_cast<const void*>(onStart));
    for (char& c : path)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c))); // compared ignoring case
    ASSERT_EQ(events_.fireToModule(events_.builtinId(BuiltinEvent::Start), path), 0);
    EXPECT_STREQ(calls(), "1 1 ") << "each of its callbacks, with argument 1";
    EXPECT_TRUE(g_calls.empty()) << "the other module's callbacks are skipped";

    EXPECT_EQ(events_.fireToModule(999, path), REG_ERR_NOT_FOUND);
    events_.unsubscribe("tvkmgr", "Start", onStart); // before the module goes
}

// ---- threads ----

std::atomic<int> g_counted{0};
void countCall(intptr_t)
{
    g_counted.fetch_add(1, std::memory_order_relaxed);
}
void countOther(intptr_t)
{
    g_counted.fetch_add(1, std::memory_order_relaxed);
}

TEST_F(Events, EightThreadsFireSubscribeAndUnsubscribeAtOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    const uint32_t shared = addEvent("src", "Shared");
    events_.subscribe("src", "Shared", countCall);
    g_counted = 0;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "Own" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                if (events_.fire(shared, t) != 0)
                    ++failures;
                if (t % 2 == 0) {
                    events_.subscribe("src", "Shared", countOther);
                    events_.unsubscribe("src", "Shared", countOther);
                } else {
                    // Events come and go while others fire them.
                    _EventDesc desc{};
                    std::snprintf(desc.plugin, sizeof desc.plugin, "src");
                    std::snprintf(desc.name, sizeof desc.name, "%s", own.c_str());
                    int id = 0;
                    if (events_.addEvent(&desc, &id) != 0 || events_.subscribe("src", own.c_str(), countOther) != 0)
                        ++failures;
                    events_.fire(static_cast<uint32_t>(id), 0);
                    if (events_.removeEvent("src", own.c_str()) != 0)
                        ++failures;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(g_counted.load(), kThreads * kRounds) << "every firing reached the permanent subscriber";
    EXPECT_EQ(events_.findEvent("src", "Shared")->subscribers(), std::vector<EventCallback>{countCall});
}

} // namespace
