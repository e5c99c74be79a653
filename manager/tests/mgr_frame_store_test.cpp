// The frame store: ids, the frame events, removal at the last reference with pins keeping a frame
// alive, filtered copies and frame-attribute templates.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frame_store.h"
#include "mgr_test_support.h"

namespace {

using mgrtest::ManagerCore;

// The store that the frames' class-wide callbacks reach, as the manager installs them.
FrameStore* g_store = nullptr;
PluginMgr* g_plugins = nullptr;

void onNoRef(uint32_t uid)
{
    g_plugins->events().fire(BuiltinEvent::FrameDelete, static_cast<intptr_t>(uid));
    g_store->remove(uid);
}

// What the frame events reported, "Created 10002;" and "Delete 10002;".
std::mutex g_eventsMutex; // guards g_events
std::string g_events;
void onCreated(intptr_t id)
{
    std::lock_guard lock(g_eventsMutex);
    g_events += "Created " + std::to_string(id) + ";";
}
void onDeleted(intptr_t id)
{
    std::lock_guard lock(g_eventsMutex);
    g_events += "Delete " + std::to_string(id) + ";";
}

class FrameStoreTest : public testing::Test {
protected:
    FrameStoreTest() : core(testing::UnitTest::GetInstance()->current_test_info()->name()), store(core.plugins)
    {
        g_store = &store;
        g_plugins = &core.plugins;
        TvkFrameInfo::cbNoRef.store(onNoRef);
        core.plugins.events().subscribe("tvkmgr", "FrameCreated", onCreated);
        core.plugins.events().subscribe("tvkmgr", "FrameDelete", onDeleted);
        std::lock_guard lock(g_eventsMutex);
        g_events.clear();
    }
    ~FrameStoreTest() override
    {
        TvkFrameInfo::cbNoRef.store(nullptr);
        store.clear();
        g_store = nullptr;
        g_plugins = nullptr;
    }

    static std::string events()
    {
        std::lock_guard lock(g_eventsMutex);
        return g_events;
    }

    uint32_t newFrame(uint32_t width = 4, uint32_t height = 2, int type = TYPE_I16)
    {
        uint32_t id = 0;
        EXPECT_EQ(store.createFrame(&id, width, height, type, "test"), 0);
        return id;
    }

    bool logged(const std::string& text)
    {
        for (const std::string& message : core.messages())
            if (message.find(text) != std::string::npos)
                return true;
        return false;
    }

    ManagerCore core;
    FrameStore store;
};

TEST_F(FrameStoreTest, IdsRiseFrom10002AndTheLastCloseRemovesTheFrame)
{
    const uint32_t first = newFrame();
    const uint32_t second = newFrame();
    EXPECT_EQ(first, 10002u);
    EXPECT_EQ(second, 10003u);

    uint32_t copy = 0;
    ASSERT_EQ(store.duplicateFrame(first, &copy), 0);
    EXPECT_EQ(copy, 10004u);
    {
        FrameStore::Pin pin = store.find(copy);
        ASSERT_TRUE(pin);
        EXPECT_EQ(pin->getRefCount(), 1u);
        EXPECT_EQ(pin->getUID(), copy);
    }
    EXPECT_EQ(events(), "Created 10002;Created 10003;Created 10004;");

    uint32_t id = 0;
    EXPECT_EQ(store.getFirstFrame(&id), 0);
    EXPECT_EQ(id, first);
    EXPECT_EQ(store.getNextFrame(&id), 0);
    EXPECT_EQ(id, second);

    // Closing the last reference fires "FrameDelete" with the id; afterwards the id is unknown.
    {
        FrameStore::Pin pin = store.find(first);
        uint32_t count = 99;
        EXPECT_EQ(pin->close(&count, false), 0);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_NE(events().find("Delete 10002;"), std::string::npos);
    core.messages();
    EXPECT_FALSE(store.find(first));
    EXPECT_TRUE(logged("Frame 10002 was not found."));
    EXPECT_EQ(store.size(), 2u);

    // Ids are never reused.
    EXPECT_EQ(newFrame(), 10005u);
}

TEST_F(FrameStoreTest, PinKeepsARemovedFrameUntilItGoes)
{
    const uint32_t id = newFrame();
    FrameStore::Pin pin = store.find(id);
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->getRawAccessCount(), 1u);
    EXPECT_EQ(pin->close(nullptr, false), 0); // leaves the store at once
    EXPECT_FALSE(store.findQuiet(id));
    EXPECT_FALSE(pin->getRegFlag());
    // Still usable by its holder.
    uint32_t width = 0, height = 0;
    EXPECT_EQ(pin->getSize(&width, &height), 0);
    EXPECT_EQ(width, 4u);
}

// A frame closed by one thread while another saves it: the save finishes on a live frame, the frame is
// deleted by whichever lets go last, and nothing is left behind (checked under the sanitizers).
TEST_F(FrameStoreTest, CloseWhileSavingInALoop)
{
    const std::string file = core.dir + "/frame.bin";
    constexpr int kRounds = 100;
    for (int round = 0; round < kRounds; ++round) {
        const uint32_t id = newFrame(64, 64);
        std::atomic<bool> go{false};
        std::thread saver([&] {
            while (!go.load())
                std::this_thread::yield();
            FrameStore::Pin pin = store.findQuiet(id);
            if (pin) {
                EXPECT_EQ(pin->save(file.c_str(), FSAVE_BINARY | FSAVE_NODSC), 0);
            }
        });
        std::thread closer([&] {
            while (!go.load())
                std::this_thread::yield();
            FrameStore::Pin pin = store.findQuiet(id);
            if (pin)
                pin->close(nullptr, false);
        });
        go = true;
        saver.join();
        closer.join();
        ASSERT_FALSE(store.findQuiet(id));
    }
    EXPECT_EQ(store.size(), 0u);
}

TEST_F(FrameStoreTest, RefusedFramesAreNotStored)
{
    struct Case {
        uint32_t width, height;
        int type;
    };
    const Case cases[] = {
        {4, 4, TYPE_BYTE},               // not a frame type
        {4, 4, 11},                      // above the type codes
        {0x10000, 0x10000, TYPE_DOUBLE}, // 2^32 pixels: the product wraps in 32 bits
        {0xFFFFFFFF, 2, TYPE_I16},       // bytes beyond 32 bits
        {0x8000, 0x8000, TYPE_U32},      // exactly 4 GiB
    };
    for (const Case& c : cases) {
        uint32_t id = 12345;
        EXPECT_EQ(store.createFrame(&id, c.width, c.height, c.type, "x"), TVK_ERR_PARAM) << c.width << "x" << c.height;
        EXPECT_EQ(id, 12345u);
    }
    EXPECT_EQ(store.size(), 0u);
    uint32_t id = 0;
    EXPECT_NE(store.loadFrame(&id, (core.dir + "/missing.txt").c_str()), 0);
    EXPECT_EQ(store.duplicateFrame(777, &id), FRAME_ERR_NOT_FOUND);
    EXPECT_EQ(store.size(), 0u);
    EXPECT_EQ(events(), "");
}

// ---- filtered copies ----

std::atomic<int> g_filterRuns{0};
int passFilter(void*, const _FuncSlot*, void* const*)
{
    ++g_filterRuns;
    return 0;
}
int failFilter(void*, const _FuncSlot*, void* const*)
{
    return -5;
}

TEST_F(FrameStoreTest, FilteredCopies)
{
    core.addPlugin("flt");
    _FuncItem pass = mgrtest::funcItem("flt", "pass", passFilter, nullptr, FUNC_FILTER);
    pass.inCount = 2;
    _FuncItem fail = mgrtest::funcItem("flt", "fail", failFilter, nullptr, FUNC_FILTER);
    fail.inCount = 2;
    ASSERT_EQ(core.plugins.funcs().addFuncItem(&pass), 0);
    ASSERT_EQ(core.plugins.funcs().addFuncItem(&fail), 0);
    uint32_t good = 0, bad = 0;
    ASSERT_EQ(core.plugins.chains().createChain("flt", "good", &good), 0);
    ASSERT_EQ(core.plugins.chains().createChain("flt", "bad", &bad), 0);
    ASSERT_EQ(core.plugins.chains().addToChain(good, pass.id, -1), 0);
    ASSERT_EQ(core.plugins.chains().addToChain(bad, pass.id, -1), 0);
    ASSERT_EQ(core.plugins.chains().addToChain(bad, fail.id, -1), 0);

    const uint32_t source = newFrame();
    const size_t stored = store.size();

    // A failing filter: -208, the copy is gone again and the out-id untouched.
    uint32_t out = 4242;
    g_filterRuns = 0;
    EXPECT_EQ(store.filteredFrame(bad, source, &out), MGR_ERR_FILTER_FAILED);
    EXPECT_EQ(g_filterRuns.load(), 1);
    EXPECT_EQ(out, 4242u);
    EXPECT_EQ(store.size(), stored);

    // Unknown chain (-310, logged) and unknown frame (-200).
    core.messages();
    EXPECT_EQ(store.filteredFrame(999, source, &out), MGR_ERR_NO_CHAIN);
    EXPECT_TRUE(logged("Filter chain with id 999 is not registered."));
    EXPECT_EQ(store.filteredFrame(good, 777, &out), FRAME_ERR_NOT_FOUND);
    EXPECT_EQ(out, 4242u);
    EXPECT_EQ(store.size(), stored);

    // A chain applied to a copy of a copy: its text twice in "Applied filters".
    uint32_t once = 0, twice = 0;
    ASSERT_EQ(store.filteredFrame(good, source, &once), 0);
    ASSERT_EQ(store.filteredFrame(good, once, &twice), 0);
    EXPECT_EQ(store.size(), stored + 2);
    char value[256] = {};
    uint32_t size = sizeof value;
    _Data_Types type = TYPE_UNKNOWN;
    FrameStore::Pin copy = store.find(twice);
    ASSERT_EQ(copy->getAttribData("Applied filters", value, &size, &type), 0);
    EXPECT_EQ(type, TYPE_CHAR);
    EXPECT_EQ(std::string(value, size), "flt:pass|flt:pass|");
}

// ---- frame-attribute templates ----

std::atomic<int> g_templateCalls{0};
int bigTemplate(uint32_t, void* buffer, uint32_t* size)
{
    ++g_templateCalls;
    if (*size < 5000) {
        *size = 5000;
        return 0;
    }
    std::memset(buffer, 1, 5000);
    *size = 5000;
    return 0;
}
int failingTemplate(uint32_t, void*, uint32_t*)
{
    return -7;
}

TEST_F(FrameStoreTest, TemplateValuesOfAcquiredFrames)
{
    core.addPlugin("tpl");
    _FrameAttribTempl big{"tpl", "Big", "Large value", TYPE_I16, 0, bigTemplate};
    _FrameAttribTempl failing{"tpl", "Broken", "Never there", TYPE_I32, 0, failingTemplate};
    ASSERT_EQ(core.plugins.frameAttribs().addTemplate(&big), 0);
    ASSERT_EQ(core.plugins.frameAttribs().addTemplate(&failing), 0);

    const uint32_t id = newFrame();
    FrameStore::Pin frame = store.find(id);
    core.messages();
    g_templateCalls = 0;
    store.addTemplateAttribs(&*frame);

    // Asked twice, first with 1024 bytes, then with the 5000 it asked for: 2500 i16 elements.
    EXPECT_EQ(g_templateCalls.load(), 2);
    std::vector<char> value(5000);
    uint32_t size = static_cast<uint32_t>(value.size());
    _Data_Types type = TYPE_UNKNOWN;
    ASSERT_EQ(frame->getAttribData("Big", value.data(), &size, &type), 0);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(type, TYPE_I16);
    EXPECT_EQ(frame->getAttribData("Broken", value.data(), &size, &type), FRAME_ERR_NO_ATTRIB);
    EXPECT_TRUE(logged("Cannot get frame attribute Broken. Frame attribute failed with code: -7."));
}

// ---- service frame ids ----

TEST(FrameStoreIds, ServiceIdsNeverMeetStoredIds)
{
    struct Case {
        unsigned device;
        uint32_t kind;
        uint32_t id;
    };
    const Case cases[] = {
        {0, 1, 1},
        {1, 4, 104},
        {1, 5, 105},
        {99, 5, 9905},
        {100, 1, FrameStore::kServiceIdBase + 801},
        {1000, 2, FrameStore::kServiceIdBase + 8002},
        {FrameStore::kLastServiceDevice, 5, FrameStore::kServiceIdBase + FrameStore::kLastServiceDevice * 8 + 5},
        {FrameStore::kLastServiceDevice + 1, 1, 0}, // no room: no service frames
        {1, 0, 0},
        {1, 6, 0},
    };
    for (const Case& c : cases) {
        const uint32_t id = FrameStore::serviceId(c.device, c.kind);
        EXPECT_EQ(id, c.id) << c.device << "/" << c.kind;
        if (id) {
            EXPECT_TRUE(id < FrameStore::kFirstFrameId || id >= FrameStore::kServiceIdBase);
        }
    }
}

} // namespace
