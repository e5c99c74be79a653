// The preview functions as other plug-ins call them, on the GUI thread: ids, bad input, the per-preview
// state, the registered records and the hooks of the event callbacks.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_host.h"
#include "pluginfw/prev_wnd_api.h"

namespace {

class PrevFuncs : public ::testing::Test {
protected:
    void SetUp() override
    {
        factory = std::make_shared<FakeFactory>();
        prevWndService().setFactory([f = factory](const PrevCreateRequest& r) { return (*f)(r); },
                                    GuiDispatch{[] { return true; }, [](std::function<void()>) {}});
    }
    void TearDown() override
    {
        prevWndService().destroyAllPreviews();
        prevWndService().setFactory(nullptr, {});
    }
    uint32_t create(bool destroyOnClose = true)
    {
        uint32_t id = 0;
        EXPECT_EQ(callCreate(64, 32, destroyOnClose, "", &id), 0);
        return id;
    }
    uint32_t createBound(int dev)
    {
        uint32_t id = 0;
        EXPECT_EQ(callCreateDev(dev, &id), 0);
        return id;
    }
    std::shared_ptr<FakeFactory> factory;
};

TEST(PreviewRegistry, IdsStartAtOneAndAreNeverGivenAgain)
{
    PreviewRegistry reg;
    auto entry = [] { return PreviewEntry{std::make_shared<PreviewState>(-1, true, ""), std::make_shared<FakeHost>()}; };
    EXPECT_EQ(reg.add(entry()), 1u);
    EXPECT_EQ(reg.add(entry()), 2u);
    EXPECT_EQ(reg.add(entry()), 3u);
    ASSERT_TRUE(reg.take(2));
    EXPECT_FALSE(reg.take(2));
    EXPECT_EQ(reg.add(entry()), 4u);
    EXPECT_EQ(reg.find(4)->state->id(), 4u);
    EXPECT_EQ(reg.takeAll().size(), 3u);
    EXPECT_EQ(reg.add(entry()), 5u);
}

TEST_F(PrevFuncs, DestroyedIdsAreGoneForEveryFunction)
{
    const uint32_t a = create(), b = create(), c = create();
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, a + 2);
    auto host = factory->hostOf(b);
    EXPECT_EQ(callId(PrevWndDestroy, b), 0);
    EXPECT_EQ(host->destroys, 1);
    EXPECT_EQ(callId(PrevWndDestroy, b), -1) << "second destroy of the same id";
    EXPECT_EQ(create(), c + 1) << "a destroyed id is not given again";

    int32_t flag = 0;
    char text[kPrevLastErrSize];
    for (uint32_t id : {b, 0u, 99999u}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(callId(PrevWndDestroy, id), -1);
        EXPECT_EQ(callIdValue(PrevWndAutoUpdate, id, tvkSlotInt(1)), -1);
        EXPECT_EQ(callIdValue(PrevWndShowTvkFrame, id, tvkSlotUint(1)), -1);
        EXPECT_EQ(callOut(PrevWndIsVisible, id, &flag), -1);
        EXPECT_EQ(callIdValue(PrevWndSetCaption, id, tvkSlotPtr("x")), -1);
        EXPECT_EQ(callIdValue(PrevWndShow, id, tvkSlotInt(1)), -1);
        EXPECT_EQ(callIdValue(PrevWndSetErrorCb, id, tvkSlotPtr(nullptr)), -1);
        EXPECT_EQ(callIdValue(PrevWndSetCloseCb, id, tvkSlotPtr(nullptr)), -1);
        EXPECT_EQ(callOut(PrevWndGetLastErr, id, text), -1);
    }
    EXPECT_EQ(host->shows.size(), 0u) << "nothing reached the destroyed window";
}

TEST_F(PrevFuncs, BadSizesMakeNoWindowAndTakeNoId)
{
    struct Case {
        const char* what;
        int64_t w, h;
    } cases[] = {
        {"zero width", 0, 10},    {"zero height", 10, 0},          {"negative width", -5, 10},
        {"negative height", 10, -1}, {"past the model's cap", 1 << 15, 1 << 14}, {"past 32 bits", int64_t(1) << 33, 1},
    };
    const uint32_t before = create();
    for (const Case& c : cases) {
        uint32_t id = 12345;
        EXPECT_EQ(callCreate(c.w, c.h, true, "", &id), -1) << c.what;
        EXPECT_EQ(id, 12345u) << c.what;
    }
    uint32_t id = 0;
    EXPECT_EQ(callCreateDev(-1, &id), -1) << "negative device index";
    EXPECT_EQ(factory->made, 1);
    EXPECT_EQ(create(), before + 1);
}

TEST_F(PrevFuncs, LastErrorIsBoundedAndTerminated)
{
    const uint32_t id = create();
    char text[kPrevLastErrSize];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(callOut(PrevWndGetLastErr, id, text), 0);
    EXPECT_STREQ(text, "") << "fresh preview";

    factory->hostOf(id)->state->reportError(std::string(5000, 'e'));
    ASSERT_EQ(callOut(PrevWndGetLastErr, id, text), 0);
    EXPECT_EQ(text[kPrevLastErrSize - 1], 0);
    EXPECT_EQ(std::strlen(text), kPrevLastErrSize - 1);
}

uint32_t gErrorCalls[2]; // [count, last id]
void onError(uint32_t id) { ++gErrorCalls[0]; gErrorCalls[1] = id; }

TEST_F(PrevFuncs, FrameNotFoundStoresTextAndCallsErrorCallback)
{
    const uint32_t id = create();
    gErrorCalls[0] = gErrorCalls[1] = 0;
    ASSERT_EQ(callIdValue(PrevWndSetErrorCb, id, tvkSlotPtr(reinterpret_cast<void*>(&onError))), 0);
    EXPECT_EQ(callIdValue(PrevWndShowTvkFrame, id, tvkSlotUint(1)), 0);
    EXPECT_EQ(gErrorCalls[0], 0u);
    EXPECT_EQ(callIdValue(PrevWndShowTvkFrame, id, tvkSlotUint(7)), -1);
    EXPECT_EQ(gErrorCalls[0], 1u);
    EXPECT_EQ(gErrorCalls[1], id);
    char text[kPrevLastErrSize];
    ASSERT_EQ(callOut(PrevWndGetLastErr, id, text), 0);
    EXPECT_STREQ(text, "Frame 7 not found.");
}

TEST_F(PrevFuncs, HiddenOnCloseKeepsItsIdAndShowsAgain)
{
    const uint32_t id = create(false);
    auto host = factory->hostOf(id);
    host->state->setVisible(false); // what the window does when the user closes it
    int32_t visible = -1;
    ASSERT_EQ(callOut(PrevWndIsVisible, id, &visible), 0);
    EXPECT_EQ(visible, 0);
    ASSERT_EQ(callIdValue(PrevWndShow, id, tvkSlotInt(1)), 0);
    ASSERT_EQ(callOut(PrevWndIsVisible, id, &visible), 0);
    EXPECT_EQ(visible, 1);
    ASSERT_EQ(callIdValue(PrevWndSetCaption, id, tvkSlotPtr("Det 1")), 0);
    EXPECT_EQ(host->shows, std::vector<bool>{true});
    EXPECT_EQ(host->caption, "Det 1");
}

TEST_F(PrevFuncs, AutoUpdateQueuesAtMostOneUnlimitedRefresh)
{
    const uint32_t bound = createBound(2), other = createBound(3), free = create();
    auto h = factory->hostOf(bound);
    h->state->setMaxAutoUpdateMode(kAutoUpdateUnlimited);
    factory->hostOf(other)->state->setMaxAutoUpdateMode(kAutoUpdateUnlimited);
    factory->hostOf(free)->state->setMaxAutoUpdateMode(kAutoUpdateUnlimited);
    for (int i = 0; i < 1000; ++i)
        prevWndService().autoUpdateDevicePreviews(2);
    EXPECT_EQ(h->refreshes, 1);
    EXPECT_TRUE(h->state->takeRefresh());
    prevWndService().autoUpdateDevicePreviews(2);
    EXPECT_EQ(h->refreshes, 2) << "the next completion after the refresh ran queues again";
    EXPECT_EQ(factory->hostOf(other)->refreshes, 0);
    prevWndService().autoUpdateDevicePreviews(-1);
    EXPECT_EQ(factory->hostOf(free)->refreshes, 0) << "a free preview never refreshes itself";

    struct Case {
        const char* what;
        int mode;
        bool apiAutoUpdate, reporting, pending;
    } cases[] = {
        {"timer mode: only marked", kAutoUpdate200ms, true, false, true},
        {"auto update off", kAutoUpdateUnlimited, false, false, false},
        {"reporting an exception", kAutoUpdateUnlimited, true, true, false},
    };
    for (const Case& c : cases) {
        const uint32_t id = createBound(5);
        auto host = factory->hostOf(id);
        host->state->setMaxAutoUpdateMode(c.mode);
        ASSERT_EQ(callIdValue(PrevWndAutoUpdate, id, tvkSlotInt(c.apiAutoUpdate)), 0);
        host->state->setReporting(c.reporting);
        prevWndService().autoUpdateDevicePreviews(5);
        EXPECT_EQ(host->refreshes, 0) << c.what;
        EXPECT_EQ(host->state->refreshPending(), c.pending) << c.what;
        callId(PrevWndDestroy, id);
    }
}

TEST_F(PrevFuncs, DeviceHooksReachOnlyTheirPreviews)
{
    const uint32_t masked = createBound(1), service = createBound(1), plain = createBound(1), other = createBound(2);
    factory->hostOf(masked)->state->setPixCfgView(true, -1);
    factory->hostOf(service)->state->setPixCfgView(false, 1);
    factory->hostOf(other)->state->setPixCfgView(true, -1);
    prevWndService().pixCfgChangedPreviews(1);
    prevWndService().rebindDevicePreviews(1);
    EXPECT_EQ(factory->hostOf(masked)->pixCfgs, 1);
    EXPECT_EQ(factory->hostOf(service)->pixCfgs, 1);
    EXPECT_EQ(factory->hostOf(plain)->pixCfgs, 0);
    EXPECT_EQ(factory->hostOf(other)->pixCfgs, 0);
    EXPECT_EQ(factory->hostOf(plain)->rebinds, 1);
    EXPECT_EQ(factory->hostOf(other)->rebinds, 0);

    auto h = factory->hostOf(masked);
    prevWndService().destroyAllPreviews();
    EXPECT_EQ(h->destroys, 1);
    int32_t v;
    EXPECT_EQ(callOut(PrevWndIsVisible, masked, &v), -1);
}

// The records as the manager stores them.
std::vector<_FuncItem> gRegistered;
int addFuncItem(_FuncItem* item)
{
    gRegistered.push_back(*item);
    return 0;
}

TEST(PrevWndRecords, ElevenFunctionsRegisteredAsTheirTable)
{
    struct P {
        uint32_t type;
        int32_t count;
        const char* name;
    };
    struct Rec {
        const char* name;
        const char* description;
        std::vector<P> in, out;
    };
    const P id{7, 1, "ID of existing preview window"}, created{7, 1, "ID of created preview window"},
        destroy{0, 1, "Destroy window on close (TRUE) or hide (FALSE)"},
        ini{10, 1, "Path to ini filename for initialization"};
    const std::vector<Rec> expected = {
        {"PrevWndCreate", "Creates preview window of specified size",
         {{7, 1, "Width of image"}, {7, 1, "Height of image"}, destroy, ini}, {created}},
        {"PrevWndCreateDevID", "Creates preview window bound to specified tarvik device",
         {{7, 1, "Tvk device ID"}, destroy, ini}, {created}},
        {"PrevWndDestroy", "Destroys preview window", {id}, {}},
        {"PrevWndAutoUpdate", "Enable/disable auto update (for previews bound to device)", {id, {0, 1, "Auto update"}}, {}},
        {"PrevWndShowTvkFrame", "Displays frame in preview", {id, {7, 1, "ID of existing frame"}}, {}},
        {"PrevWndIsVisible", "Checks if specified window is now visible", {id}, {{0, 1, "TRUE if window is now visible"}}},
        {"PrevWndSetCaption", "Sets window caption", {id, {10, 1, "Caption of specified preview window"}}, {}},
        {"PrevWndShow", "Shows or hides specified preview window", {id, {0, 1, "Visibility"}}, {}},
        {"PrevWndSetErrorCb", "Sets error callback (notify user that error occurred (param. is preview ID))",
         {id, {7, 1, "OnError callback (type CallbackFuncType)"}}, {}},
        {"PrevWndSetCloseCb", "Sets close callback (notify user that window was closed by user (param. is preview ID)",
         {id, {7, 1, "OnClose callback (type CallbackFuncType)"}}, {}},
        {"PrevWndGetLastErr", "Retrieves last error that occurred in specified preview window", {id},
         {{1, 4096, "Error message"}}},
    };
    _MgrFuncTable mgr{};
    mgr.mgrAddFuncItem = addFuncItem;
    gRegistered.clear();
    registerPrevWndFunctions(&mgr);
    ASSERT_EQ(gRegistered.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const _FuncItem& got = gRegistered[i];
        const Rec& want = expected[i];
        SCOPED_TRACE(want.name);
        EXPECT_STREQ(got.function, want.name);
        EXPECT_STREQ(got.plugin, "tvkctrlui");
        EXPECT_STREQ(got.description, want.description);
        EXPECT_NE(got.callback, nullptr);
        EXPECT_EQ(got.userData, nullptr);
        EXPECT_EQ(got.flags, 0u);
        ASSERT_EQ(got.inCount, want.in.size());
        ASSERT_EQ(got.outCount, want.out.size());
        auto same = [](const _FuncParam& g, const P& w) {
            EXPECT_EQ(g.type, w.type) << w.name;
            EXPECT_EQ(g.count, w.count) << w.name;
            EXPECT_STREQ(g.name, w.name);
        };
        for (size_t k = 0; k < want.in.size(); ++k)
            same(got.in[k], want.in[k]);
        for (size_t k = 0; k < want.out.size(); ++k)
            same(got.out[k], want.out[k]);
    }
}

int getFuncItem(const char* plugin, const char* name, _FuncItem* out)
{
    for (const _FuncItem& item : gRegistered)
        if (std::strcmp(item.plugin, plugin) == 0 && std::strcmp(item.function, name) == 0) {
            *out = item;
            return 0;
        }
    return MGR_ERR_NO_FUNC;
}

TEST_F(PrevFuncs, ClientBindingReachesTheRegisteredFunctions)
{
    _MgrFuncTable mgr{};
    mgr.mgrAddFuncItem = addFuncItem;
    mgr.mgrGetFuncItem = getFuncItem;
    gRegistered.clear();
    registerPrevWndFunctions(&mgr);
    ASSERT_EQ(bindPrevWndApi(&mgr), 0) << "a function the client binds by name is missing";
    uint32_t id = 0;
    ASSERT_EQ(prevWndCreate(40, 30, false, "", &id), 0);
    EXPECT_EQ(prevWndSetCaption(id, "Bound"), 0);
    EXPECT_EQ(factory->hostOf(id)->caption, "Bound");
    char text[kPrevWndErrorSize];
    EXPECT_EQ(prevWndGetLastErr(id, text), 0);
    EXPECT_EQ(prevWndDestroy(id), 0);
    EXPECT_EQ(prevWndDestroy(id), -1);
    unbindPrevWndApi();
}

} // namespace
