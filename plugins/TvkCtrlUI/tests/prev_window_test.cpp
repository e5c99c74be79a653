// The preview windows through the registered functions, offscreen: visibility and hide on close, a preview
// destroyed from its own close callback, creation from a worker with the GUI thread pumping or blocked.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QCoreApplication>
#include <QThread>

#include "fake_host.h"
#include "prev_window.h"

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
    void SetUp() override { installPreviewWindows(&mgr); }
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

std::atomic<int> gCloseResult{1};
void destroyMe(uint32_t id) { gCloseResult = callId(PrevWndDestroy, id); }

TEST_F(PrevWindows, DestroyedFromItsOwnCloseCallback)
{
    for (bool destroyOnClose : {false, true}) {
        SCOPED_TRACE(destroyOnClose);
        uint32_t id = 0;
        ASSERT_EQ(callCreate(16, 16, destroyOnClose, "", &id), 0);
        ASSERT_EQ(callIdValue(PrevWndSetCloseCb, id, tvkSlotPtr(reinterpret_cast<void*>(&destroyMe))), 0);
        ASSERT_EQ(callIdValue(PrevWndShow, id, tvkSlotInt(1)), 0);
        pump();
        windowOf(id)->close();
        EXPECT_EQ(gCloseResult, destroyOnClose ? -1 : 0) << "the close handling took it out first";
        pump();
        EXPECT_EQ(windowOf(id), nullptr);
        int32_t v;
        EXPECT_EQ(callOut(PrevWndIsVisible, id, &v), -1);
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
    uint32_t next = 0;
    ASSERT_EQ(callCreate(8, 8, true, "", &next), 0);
    EXPECT_EQ(next, id + 1) << "an id was skipped";
}

} // namespace
