// Preview windows in a running manager on the simulated detector (a scratch app folder): a bound preview
// follows an acquisition made in a worker, "Unlimited" updates queue one refresh at most however many
// acquisitions complete, a free preview never refreshes itself, and a pixel masked from the preview reaches
// the device's mask service frame through the "PixCfg" event.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QMenu>

#include <gtest/gtest.h>

#include "qt_test_support.h"
#include "fake_host.h"
#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "prev_window.h"
#include "uikit/message_box.h"

namespace {

namespace fs = std::filesystem;

using ombrel_test::processUntil;

template <class Fn>
Fn symbolOf(plat::Module& m, const char* name)
{
    void* p = m.symbol(name);
    if (!p)
        throw std::runtime_error(std::string("missing ") + name);
    return reinterpret_cast<Fn>(p);
}

void onAcqCompleted(intptr_t dev) { prevWndService().autoUpdateDevicePreviews(int(dev)); }
void onDevChanged(intptr_t dev) { prevWndService().rebindDevicePreviews(int(dev)); }
void onPixCfg(intptr_t dev) { prevWndService().pixCfgChangedPreviews(int(dev)); }

// The manager with the simulated detector; the previews of this program are driven by its table and
// subscribed to its events as the plug-in's entry subscribes them.
class PreviewApp : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ombrel_test::scratchDir("preview-app");
        oldCwd_ = fs::current_path();
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        for (const char* file : {"libTvkManager.so", "libTvkCtrl.so"})
            fs::copy_file(fs::path(PREV_APP_DIR) / file, dir_ + "/" + file);
        if (fs::exists(PREV_APP_DIR "/configs"))
            fs::copy(PREV_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(PREV_APP_DIR "/hwlibs/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
        fs::copy_file(PREV_APP_DIR "/hwlibs/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
        ASSERT_TRUE(ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=1\nUnique=0\n"));
        fs::copy_file(PREV_TABLE_PLUGIN, dir_ + "/plugins/prevtest_table.so");
        ASSERT_TRUE(ombrel_test::writeFile(dir_ + "/tvkmanager.ini", "[Plugins]\nplugins/prevtest_table.so\n"));
        fs::current_path(dir_);
        ASSERT_TRUE(manager_.open(dir_ + "/libTvkManager.so")) << manager_.error();
        symbolOf<int (*)(void*, const void*)>(manager_, "mgrSetUiHooks")(nullptr, nullptr);
        ASSERT_EQ(symbolOf<int (*)()>(manager_, "mgrInitManager")(), 0);
        plat::Module table;
        ASSERT_TRUE(table.open(dir_ + "/plugins/prevtest_table.so")) << table.error();
        t_ = symbolOf<const _MgrFuncTable* (*)()>(table, "previewTestTable")();
        ombrel_test::keepLoaded(std::move(table));
        ASSERT_NE(t_, nullptr);
        installPreviewWindows(t_);
        t_->mgrRegisterCallback("tvkctrl", "AcqCompleted", onAcqCompleted);
        t_->mgrRegisterCallback("tvkctrl", "TvkDevChanged", onDevChanged);
        t_->mgrRegisterCallback("tvkctrl", "PixCfg", onPixCfg);
        setMessageBoxHandler([](QWidget*, const QString&, const QString&, unsigned) { return int(MSGBOX_IDOK); });
    }
    void TearDown() override
    {
        prevWndService().destroyAllPreviews();
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (t_) {
            t_->mgrUnregisterCallback("tvkctrl", "AcqCompleted", onAcqCompleted);
            t_->mgrUnregisterCallback("tvkctrl", "TvkDevChanged", onDevChanged);
            t_->mgrUnregisterCallback("tvkctrl", "PixCfg", onPixCfg);
        }
        if (manager_.isOpen()) {
            symbolOf<int (*)()>(manager_, "mgrExitManager")();
            symbolOf<int (*)()>(manager_, "mgrUnloadManager")();
            ombrel_test::keepLoaded(std::move(manager_));
        }
        setMessageBoxHandler({});
        fs::current_path(oldCwd_);
    }
    int eventId(const char* name) const
    {
        _EventDesc desc{};
        int id = 0;
        for (int rc = t_->mgrGetRegFirstCBEvent(&id, &desc); rc == 0; rc = t_->mgrGetRegNextCBEvent(&id, &desc))
            if (std::string(desc.plugin) == "tvkctrl" && std::string(desc.name) == name)
                return id;
        return -1;
    }
    static CPreviewDialog* windowOf(uint32_t id)
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CPreviewDialog*>(w); d && d->state()->id() == id)
                return d;
        return nullptr;
    }
    // An acquisition in a worker while this (GUI) thread pumps: its result.
    int acquire(int frames)
    {
        std::atomic<int> rc{1};
        std::thread worker([&] { rc = t_->tvkCtrlPerformFrameAcq(0, frames, 0.001, 0, ""); });
        processUntil([&] { return rc != 1; }, std::chrono::seconds(60));
        worker.join();
        return rc;
    }

    std::string dir_;
    fs::path oldCwd_;
    plat::Module manager_;
    const _MgrFuncTable* t_ = nullptr;
};

TEST_F(PreviewApp, BoundPreviewFollowsTheAcquisition)
{
    uint32_t id = 0;
    ASSERT_EQ(callCreateDev(0, &id), 0);
    ASSERT_EQ(callIdValue(PrevWndShow, id, tvkSlotInt(1)), 0);
    CPreviewDialog* w = windowOf(id);
    ASSERT_NE(w, nullptr);
    uint32_t free = 0;
    ASSERT_EQ(callCreate(64, 64, true, "", &free), 0);
    CPreviewDialog* freeWindow = windowOf(free);

    ASSERT_EQ(acquire(3), 0);
    uint32_t third = 0;
    ASSERT_EQ(t_->tvkCtrlGetFrameID(0, 2, &third), 0);
    EXPECT_TRUE(processUntil([&] { return w->currentFrame() == 3 && w->shownFrameId() == third; }))
        << "frame " << w->currentFrame() << " of " << w->frameCount();
    EXPECT_EQ(freeWindow->refreshRuns(), 0) << "a free preview refreshed itself";
}

TEST_F(PreviewApp, UnlimitedUpdatesQueueOneRefreshAtMost)
{
    uint32_t id = 0;
    ASSERT_EQ(callCreateDev(0, &id), 0);
    CPreviewDialog* w = windowOf(id);
    w->setMaxAutoUpdateMode(kAutoUpdateUnlimited);
    ASSERT_EQ(acquire(1), 0);
    processUntil([&] { return w->refreshRuns() >= 1; });
    const int before = w->refreshRuns();
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i)
            t_->mgrSetCBEvent(eventId("AcqCompleted"), 0);
    });
    worker.join(); // nothing pumped meanwhile: every refresh asked for is still queued
    EXPECT_TRUE(processUntil([&] { return w->refreshRuns() > before; }));
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    EXPECT_EQ(w->refreshRuns(), before + 1) << "more than one refresh was queued";
}

TEST_F(PreviewApp, MaskedPixelReachesTheMaskServiceFrame)
{
    uint32_t id = 0;
    ASSERT_EQ(callCreateDev(0, &id), 0);
    CPreviewDialog* w = windowOf(id);
    ASSERT_EQ(acquire(1), 0);
    processUntil([&] { return w->frameCount() == 1; });
    w->chooseServiceFrame(kServiceMask);
    ASSERT_EQ(w->serviceFrameShown(), kServiceMask);
    uint32_t maskFrame = 0;
    ASSERT_EQ(t_->mgrGetServiceFrame(0, 1, &maskFrame), 0);
    EXPECT_EQ(w->shownFrameId(), maskFrame);
    const int width = w->model().width();
    auto shownAt = [&](int x, int y) { return w->model().values()[size_t(y) * size_t(width) + size_t(x)]; };
    ASSERT_EQ(shownAt(10, 20), 1);

    std::unique_ptr<QMenu> menu(w->createPixelMenu(10, 20));
    QAction* mask = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == "Mask Pixel")
            mask = a;
    ASSERT_NE(mask, nullptr);
    mask->trigger();
    EXPECT_TRUE(processUntil([&] { return shownAt(10, 20) == 0; })) << "the service frame shown did not follow";
    EXPECT_EQ(shownAt(11, 20), 1);
    std::vector<double> data(size_t(width) * size_t(w->model().height()));
    uint32_t bytes = uint32_t(data.size() * sizeof(double));
    ASSERT_EQ(t_->mgrGetFrameData(maskFrame, data.data(), &bytes, 9), 0);
    EXPECT_EQ(data[size_t(20) * size_t(width) + 10], 0);
}

} // namespace
