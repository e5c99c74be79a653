// Binding to the preview functions: looked up by name, each function and its user data replaced as one
// unit, called through the 8-byte slots with outputs pointing at the caller's buffers.
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fake_mgr.h"
#include "plugin_table.h"
#include "prev_wnd_api.h"

namespace {

std::vector<uint32_t> gCallbackIds;
void previewCallback(uint32_t id)
{
    gCallbackIds.push_back(id);
}

class PrevWndApiTest : public testing::Test {
protected:
    void SetUp() override
    {
        fakemgr::reset("/cfg/");
        unbindPrevWndApi();
        setPluginTable(&table);
        gCallbackIds.clear();
    }
    void TearDown() override
    {
        unbindPrevWndApi();
        setPluginTable(nullptr);
    }
    const _MgrFuncTable table = fakemgr::table();
};

// Every wrapper once; the results.
std::vector<int> callAll()
{
    uint32_t id = 0;
    char text[kPrevWndErrorSize];
    return {prevWndCreate(1, 2, true, "x", &id), prevWndCreateDevID(0, false, "x", &id), prevWndDestroy(1),
            prevWndAutoUpdate(1, true),         prevWndShowFrame(1, 2),                  prevWndSetCaption(1, "c"),
            prevWndShow(1, true),               prevWndSetErrorCb(1, previewCallback),   prevWndSetCloseCb(1, nullptr),
            prevWndGetLastErr(1, text)};
}

TEST_F(PrevWndApiTest, UnboundWrappersFailWithoutCalling)
{
    EXPECT_EQ(bindPrevWndApi(), 10);
    for (int rc : callAll())
        EXPECT_EQ(rc, -1);
    EXPECT_TRUE(fakemgr::previewCalls().empty());
}

TEST_F(PrevWndApiTest, SlotsCarryNumbersTextsAndCallbacksWhole)
{
    fakemgr::offerPreviews();
    ASSERT_EQ(bindPrevWndApi(), 0);

    uint32_t id = 0;
    char caption[] = "Caption on the caller's stack";
    ASSERT_EQ(prevWndCreateDevID(3, false, "/cfg/demo.ini", &id), 0);
    EXPECT_EQ(id, 7u); // the output slot points at the caller's id
    ASSERT_EQ(prevWndSetCaption(id, caption), 0);
    ASSERT_EQ(prevWndSetErrorCb(id, previewCallback), 0);
    ASSERT_EQ(prevWndShowFrame(id, 4000000000u), 0);
    char text[kPrevWndErrorSize];
    ASSERT_EQ(prevWndGetLastErr(id, text), 0);
    EXPECT_STREQ(text, "Preview failed.");

    const std::vector<fakemgr::PreviewCall> calls = fakemgr::previewCalls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].function, "PrevWndCreateDevID");
    EXPECT_EQ(calls[0].in[0].u, 3u);
    EXPECT_EQ(calls[0].in[1].i, 0);
    EXPECT_STREQ(static_cast<const char*>(calls[0].in[2].p), "/cfg/demo.ini");
    EXPECT_EQ(calls[1].in[0].u, 7u);
    EXPECT_EQ(calls[1].in[1].p, static_cast<void*>(caption)); // the caller's own address, not a copy or a cut one
    // The callback comes back callable.
    auto cb = reinterpret_cast<PrevWndCallback>(calls[2].in[1].p);
    ASSERT_EQ(cb, &previewCallback);
    cb(9);
    EXPECT_EQ(gCallbackIds, std::vector<uint32_t>{9});
    EXPECT_EQ(calls[3].in[1].u, 4000000000u);
}

TEST_F(PrevWndApiTest, RebindingKeepsWhatTheSecondLookupMissed)
{
    fakemgr::offerPreviews();
    ASSERT_EQ(bindPrevWndApi(), 0);
    // The second lookup finds only two names: the other eight keep their first binding.
    fakemgr::reset("/cfg/");
    fakemgr::offerPreviews({"PrevWndShow", "PrevWndDestroy"});
    EXPECT_EQ(bindPrevWndApi(), 8);
    for (int rc : callAll())
        EXPECT_EQ(rc, 0);
}

TEST_F(PrevWndApiTest, OpeningADevicePreview)
{
    // Without the control plug-in nothing is called and the create's -1 comes back.
    uint32_t id = 0;
    EXPECT_EQ(prevWndOpenForDevice(0, "/cfg/x.ini", previewCallback, nullptr, "Cap", true, &id), -1);

    fakemgr::offerPreviews();
    ASSERT_EQ(bindPrevWndApi(), 0);
    ASSERT_EQ(prevWndOpenForDevice(0, "/cfg/x.ini", previewCallback, nullptr, "Cap", true, &id), 0);
    EXPECT_EQ(id, 7u);
    std::vector<std::string> names;
    for (const fakemgr::PreviewCall& c : fakemgr::previewCalls())
        names.push_back(c.function);
    EXPECT_EQ(names, (std::vector<std::string>{"PrevWndCreateDevID", "PrevWndAutoUpdate", "PrevWndSetErrorCb",
                                               "PrevWndSetCaption", "PrevWndShow"}));
}

TEST_F(PrevWndApiTest, CallsDuringARebindSeeWholeBindings)
{
    fakemgr::offerPreviews();
    ASSERT_EQ(bindPrevWndApi(), 0);
    std::thread binder([] {
        for (int i = 0; i < 200; ++i)
            bindPrevWndApi();
    });
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(prevWndShow(1, true), 0);
    binder.join();
}

} // namespace
