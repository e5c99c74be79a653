// The preview windows through the registered functions, offscreen: visibility and hide on close, the close
// callback on a preview still registered (asked about, destroyed, shown again from it), creation from a
// worker with the GUI thread pumping or blocked.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QCoreApplication>
#include <QThread>

#include "fake_host.h"
#include "prev_window.h"
#include "wait_until.h"

namespace {

int frameSize(uint32_t frameId, uint32_t* w, uint32_t* h)
{
    if (frameId != 5)
        return -1;
    *w = *h = 4;
    return 0;
}

_MgrFuncTable fakeTable()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.mgrGetFrameSize = frameSize;
    return t;
}

int previewWindowCount()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<CPreviewDialog*>(w) != nullptr;
    return n;
}

void pump()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class PrevWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        installPreviewWindows(&mgr);
        prevWndService().setCreateBound(ombrel_test::kWaitLimit); // a creation fails only when the GUI thread hangs
    }
    void TearDown() override
    {
        prevWndService().destroyAllPreviews();
        pump();
        prevWndService().setCreateBound(std::chrono::seconds(10));
        EXPECT_EQ(previewWindowCount(), 0);
    }
    static CPreviewDialog* windowOf(uint32_t id)
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CPreviewDialog*>(w); d && d->state()->id() == id)
                return d;
        return nullptr;
    }
    _MgrFuncTable mgr = fakeTable();
};

TEST_F(PrevWindows, HiddenOnCloseKeepsItsIdAndShowsAgain)
{
    uint32_t id = 0;
    ASSERT_EQ(callCreate(64, 32, false, "", &id), 0);
    ASSERT_EQ(callIdValue(PrevWndShow, id, tvkSlotInt(1)), 0);
    ASSERT_EQ(callIdValue(PrevWndSetCaption, id, tvkSlotPtr("Preview A")), 0);
    pump();
    CPreviewDialog* w = windowOf(id);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "Preview A");

    w->close();
    int32_t visible = -1;
    ASSERT_EQ(callOut(PrevWndIsVisible, id, &visible), 0);
    EXPECT_EQ(visible, 0);
    ASSERT_EQ(callIdValue(PrevWndShow, id, tvkSlotInt(1)), 0);
    pump();
    EXPECT_TRUE(w->isVisible());

    EXPECT_EQ(callIdValue(PrevWndShowTvkFrame, id, tvkSlotUint(5)), 0);
    EXPECT_EQ(callIdValue(PrevWndShowTvkFrame, id, tvkSlotUint(6)), -1);
    char text[kPrevLastErrSize];
    ASSERT_EQ(callOut(PrevWndGetLastErr, id, text), 0);
    EXPECT_STREQ(text, "Preview: cannot get frame with id: 6 (zero-based)");
}

// What the close callbacks saw: the result of their call and the visibility they were told.
std::atomic<int> gCloseResult{1};
std::atomic<int> gCloseVisible{-1};
void askAboutMe(uint32_t id)
{
    int32_t visible = -1;
    char text[kPrevLastErrSize];
    const int rc = callOut(PrevWndIsVisible, id, &visible);
    gCloseVisible = visible;
    gCloseResult = rc != 0 ? rc : callOut(PrevWndGetLastErr, id, text);
}
void destroyMe(uint32_t id) { gCloseResult = callId(PrevWndDestroy, id); }
void showMeAgain(uint32_t id) { gCloseResult = callIdValue(PrevWndShow, id, tvkSlotInt(1)); }
// Destroys the preview and runs the events meanwhile: the window goes while its close handling runs.
void destroyMeAndPump(uint32_t id)
{
    gCloseResult = callId(PrevWndDestroy, id);
    pump();
}

// The close callback comes first, while the preview is still registered, so that it can ask about it and
// destroy it itself; the close handling then destroys it (with "destroy on close") only if it is still there.
TEST_F(PrevWindows, CloseCallbackFindsItsPreview)
{
    struct Case {
        const char* name;
        CallbackFuncType callback;
        bool destroyOnClose;
        bool remains; // registered, with its window, after the close
        bool visible; // then
    } cases[] = {
        {"asks, hidden on close", askAboutMe, false, true, false},
        {"asks, destroyed on close", askAboutMe, true, false, false},
        {"destroys it, hidden on close", destroyMe, false, false, false},
        {"destroys it, destroyed on close", destroyMe, true, false, false},
        {"shows it again, hidden on close", showMeAgain, false, true, true},
        {"shows it again, destroyed on close", showMeAgain, true, false, false},
        {"destroys it and runs the events", destroyMeAndPump, false, false, false},
        {"destroys it and runs the events, destroyed on close", destroyMeAndPump, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t id = 0;
        ASSERT_EQ(callCreate(16, 16, c.destroyOnClose, "", &id), 0);
        ASSERT_EQ(callIdValue(PrevWndSetCloseCb, id, tvkSlotPtr(reinterpret_cast<void*>(c.callback))), 0);
        ASSERT_EQ(callIdValue(PrevWndShow, id, tvkSlotInt(1)), 0);
        pump();
        const int windows = previewWindowCount();
        gCloseResult = 1;
        gCloseVisible = -1;
        windowOf(id)->close();
        EXPECT_EQ(gCloseResult, 0) << "the callback's call on its own preview";
        if (c.callback == askAboutMe) {
            EXPECT_EQ(gCloseVisible, 1) << "hidden only after the callback";
        }
        pump();
        int32_t visible = -1;
        EXPECT_EQ(callOut(PrevWndIsVisible, id, &visible), c.remains ? 0 : -1);
        EXPECT_EQ(windowOf(id) != nullptr, c.remains);
        EXPECT_EQ(previewWindowCount(), windows - (c.remains ? 0 : 1)) << "no other window went";
        if (c.remains) {
            EXPECT_EQ(visible, c.visible ? 1 : 0);
            EXPECT_EQ(windowOf(id)->isVisible(), c.visible);
            EXPECT_EQ(callId(PrevWndDestroy, id), 0);
            pump();
        }
    }
}

TEST_F(PrevWindows, WorkerCreationWaitsForThePumpingGuiThread)
{
    std::atomic<int> rc{1};
    uint32_t id = 0;
    std::thread worker([&] { rc = callCreate(32, 32, true, "", &id); });
    while (rc == 1)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    ASSERT_EQ(rc, 0);
    EXPECT_NE(windowOf(id), nullptr);

    prevWndService().setCreateBound(std::chrono::milliseconds(50));
    uint32_t late = 0;
    std::thread blocked([&] { rc = callCreate(32, 32, true, "", &late); });
    blocked.join(); // the GUI thread is held here: nothing is pumped
    EXPECT_EQ(rc, -1);
    const int windows = previewWindowCount();
    pump();
    EXPECT_EQ(previewWindowCount(), windows) << "the abandoned request made a window";
    prevWndService().setCreateBound(ombrel_test::kWaitLimit);
    uint32_t next = 0;
    ASSERT_EQ(callCreate(8, 8, true, "", &next), 0);
    EXPECT_EQ(next, id + 1) << "an id was skipped";
}

} // namespace
