// The preview window over a fake device, offscreen: frame numbers and Update, following acquisitions,
// service frames, the menus' enabling, file-loaded frames closed, settings and placement kept, and the pixel
// menu's edits with their size check, busy device, chip order and rotated selection.
#include <gtest/gtest.h>

#include <filesystem>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QtCore/qtestsupport_core.h>
#include <QTimer>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QFocusEvent>
#include <QDropEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>

#include "fake_device_mgr.h"
#include "fake_host.h"
#include "ombrel_test_support.h"
#include "platform/ini.h"
#include "pluginfw/plugin_window.h"
#include "prev_window.h"
#include "uikit/message_box.h"
#include "uikit/picture.h"
#include "uikit/smart_edit.h"

namespace {

void pump()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::atomic<int> gErrors{0};
void countError(uint32_t) { ++gErrors; }

class PreviewDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gDev = &dev;
        dev.serviceFrames = {{1, dev.addFrame(1)}, {2, dev.addFrame(0)}, {3, dev.addFrame(12)}, {5, dev.addFrame(2)}};
        installPreviewWindows(&mgr);
        setMessageBoxHandler([this](QWidget*, const QString& text, const QString&, unsigned) {
            boxes.push_back(text.toStdString());
            return int(MSGBOX_IDOK);
        });
    }
    void TearDown() override
    {
        prevWndService().destroyAllPreviews();
        pump();
        setMessageBoxHandler({});
        gDev = nullptr;
    }
    CPreviewDialog* open(int devIndex, const std::string& ini = "")
    {
        PrevCreateRequest r;
        r.devIndex = devIndex;
        r.width = dev.width;
        r.height = dev.height;
        r.iniPath = ini;
        const int id = prevWndService().create(r);
        EXPECT_GT(id, 0);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<CPreviewDialog*>(w); d && int(d->state()->id()) == id)
                return d;
        return nullptr;
    }
    void acquire(int frames)
    {
        dev.acqFrames.clear();
        for (int i = 0; i < frames; ++i)
            dev.acqFrames.push_back(dev.addFrame(10 * (i + 1)));
    }

    FakeDevice dev;
    _MgrFuncTable mgr = fakeDeviceTable();
    std::vector<std::string> boxes;
};

TEST_F(PreviewDialogTest, FollowsAcquisitionsAndClampsTheTypedFrame)
{
    CPreviewDialog* w = open(0);
    ASSERT_NE(w, nullptr);
    acquire(3);
    w->refreshFromDevice();
    EXPECT_EQ(w->frameCount(), 3);
    EXPECT_EQ(w->currentFrame(), 3);
    EXPECT_EQ(w->shownFrameId(), dev.acqFrames[2]);

    auto* edit = w->findChild<CSmartEdit*>("frameEdit");
    const struct {
        const char* typed;
        int shown;
        const char* written;
    } cases[] = {{"0", 1, "1"}, {"2", 2, "2"}, {"99", 3, "3"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        edit->setText(c.typed);
        w->update();
        EXPECT_EQ(w->currentFrame(), c.shown);
        EXPECT_EQ(edit->text().toStdString(), c.written);
        EXPECT_EQ(w->shownFrameId(), dev.acqFrames[size_t(c.shown - 1)]);
    }

    // AutoUpdate off: the count follows, the frame shown stays.
    w->findChild<QCheckBox*>("autoUpdate")->setChecked(false);
    acquire(5);
    w->refreshFromDevice();
    EXPECT_EQ(w->frameCount(), 5);
    EXPECT_EQ(w->currentFrame(), 3);
}

TEST_F(PreviewDialogTest, FreePreviewHasNoDeviceMenusAndNoTimer)
{
    CPreviewDialog* w = open(-1);
    ASSERT_NE(w, nullptr);
    for (QMenu* m : w->findChildren<QMenu*>()) {
        if (m->title() == "&Service Frames" || m->title() == "Max Auto Updates") {
            emit m->aboutToShow();
            EXPECT_FALSE(m->isEnabled()) << m->title().toStdString();
        }
    }
    EXPECT_FALSE(w->findChild<QTimer*>()->isActive());
    w->refreshFromDevice();
    EXPECT_EQ(w->frameCount(), 0);

    CPreviewDialog* bound = open(0);
    EXPECT_TRUE(bound->findChild<QTimer*>()->isActive()) << "mode 4 runs a 50 ms timer";
    bound->setMaxAutoUpdateMode(kAutoUpdateUnlimited);
    EXPECT_FALSE(bound->findChild<QTimer*>()->isActive());
}

TEST_F(PreviewDialogTest, ServiceFramesSetTheirLevelsAndReturn)
{
    CPreviewDialog* w = open(0);
    acquire(2);
    w->refreshFromDevice();
    w->chooseServiceFrame(kServiceThl);
    EXPECT_EQ(w->serviceFrameShown(), kServiceThl);
    EXPECT_EQ(w->shownFrameId(), dev.serviceFrames[3]);
    EXPECT_EQ(w->settings().min, 0);
    EXPECT_EQ(w->settings().max, 15) << "THL adj. of chip type 3";
    auto* edit = w->findChild<CSmartEdit*>("frameEdit");
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_EQ(edit->text().toStdString(), std::to_string(dev.serviceFrames[3])) << "the frame edit shows the id";
    acquire(3);
    w->refreshFromDevice();
    EXPECT_EQ(w->shownFrameId(), dev.serviceFrames[3]) << "a device frame replaced the service frame";
    w->chooseServiceFrame(kServiceThl);
    EXPECT_EQ(w->serviceFrameShown(), -1);
    EXPECT_EQ(w->shownFrameId(), dev.acqFrames[1]);
}

TEST_F(PreviewDialogTest, FileLoadedFramesAreClosedWhenReplacedAndAtTheEnd)
{
    CPreviewDialog* w = open(0);
    acquire(1);
    ASSERT_TRUE(w->loadPicture("a.txt"));
    ASSERT_TRUE(w->loadPicture("b.txt"));
    EXPECT_EQ(dev.loadedOpen, 1) << "the replaced file frame stayed open";
    EXPECT_FALSE(w->loadPicture("bad.txt"));
    EXPECT_EQ(dev.loadedOpen, 1);
    w->showFrameNumber(1);
    EXPECT_EQ(dev.loadedOpen, 0);
    EXPECT_EQ(w->ownedFrameId(), 0u);
    EXPECT_TRUE(dev.frames.count(dev.acqFrames[0])) << "a frame not loaded by the window was closed";

    ASSERT_TRUE(w->loadPicture("c.txt"));
    prevWndService().destroyAllPreviews();
    pump();
    EXPECT_EQ(dev.loadedOpen, 0);
}

// A fault inside the window's work, whether run by a control, queued by an acquisition event or run by the
// update timer, is reported as a warning box while the window is marked as reporting, and the window goes
// on working.
TEST_F(PreviewDialogTest, FaultsOfItsWorkAreReportedAndTheWindowGoesOn)
{
    CPreviewDialog* w = open(0);
    ASSERT_NE(w, nullptr);
    acquire(2);
    w->refreshFromDevice();
    ASSERT_EQ(w->currentFrame(), 2);
    std::vector<bool> reportingDuring;
    dev.onLog = [&] { reportingDuring.push_back(w->state()->reporting()); };
    dev.managerThrows = true;
    const std::string text =
        "Unhandled exception occurred in Preview UI thread:\nsimulated fault\nConsider restarting program.";

    for (QPushButton* b : w->findChildren<QPushButton*>())
        if (b->text() == "<")
            b->click(); // frame 1, whose data the manager fails to give
    ASSERT_EQ(dev.logged.size(), 1u);
    w->setMaxAutoUpdateMode(kAutoUpdateUnlimited);
    prevWndService().autoUpdateDevicePreviews(0); // queued
    pump();
    ASSERT_EQ(dev.logged.size(), 2u);
    w->setMaxAutoUpdateMode(4); // every 50 ms
    w->state()->requestRefresh();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dev.logged.size() == 3; }, 60000));
    dev.onLog = nullptr;
    dev.managerThrows = false;
    ASSERT_EQ(dev.logged.size(), 3u);
    for (const auto& [flags, logged] : dev.logged) {
        EXPECT_EQ(flags, MGRLOG_MSGBOX);
        EXPECT_EQ(logged, text);
    }
    EXPECT_EQ(reportingDuring, std::vector<bool>(reportingDuring.size(), true));
    EXPECT_FALSE(w->state()->reporting());

    w->refreshFromDevice();
    EXPECT_EQ(w->frameCount(), 2);
    EXPECT_EQ(w->shownFrameId(), dev.acqFrames[1]);
}

// A file dropped on the window is loaded (the first of several); a drop without a local file loads nothing.
TEST_F(PreviewDialogTest, DroppedFileIsLoadedAndShown)
{
    CPreviewDialog* w = open(0);
    ASSERT_NE(w, nullptr);
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &enter);
        QDropEvent e(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    };
    drop({QUrl("http://example.invalid/a.txt")});
    EXPECT_EQ(dev.loadedOpen, 0);
    drop({QUrl::fromLocalFile("/data/a.txt"), QUrl::fromLocalFile("/data/b.txt")});
    EXPECT_EQ(dev.loadedOpen, 1);
    EXPECT_NE(w->ownedFrameId(), 0u);
    EXPECT_EQ(w->shownFrameId(), w->ownedFrameId());
}

TEST_F(PreviewDialogTest, SettingsWrittenAtTheEndKeepVisibility)
{
    const std::string dir = ombrel_test::scratchDir("prevdlg-ini");
    const std::string ini = dir + "/p.ini";
    CPreviewDialog* w = open(0, ini);
    ASSERT_TRUE(w->isVisible()) << "Visible 1 shows the window";
    w->findChild<QComboBox*>("colorMap")->setCurrentIndex(2);
    prevWndService().destroyAllPreviews();
    pump();
    EXPECT_EQ(plat::iniRead(ini, "Preview", "ColorMap"), "2");
    EXPECT_EQ(plat::iniRead(ini, "Preview", "Visible"), "1") << "the hide for the destruction counted";
    CPreviewDialog* again = open(0, ini);
    EXPECT_EQ(again->settings().colorMap, 2);
}

// The saved placement of section "Preview": the outer rectangle of the normal state is moved onto a screen
// whole (never cut), the window comes back minimised, maximised or else normal, and the rectangle goes back
// to the file as it came (no drift by the frame).
TEST_F(PreviewDialogTest, PlacementComesBackInItsStateAndOnAScreen)
{
    const std::string dir = ombrel_test::scratchDir("prevdlg-place");
    const std::string ini = dir + "/p.ini";
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QSize size;
    {
        CPreviewDialog* w = open(0);
        ASSERT_NE(w, nullptr);
        size = w->frameGeometry().size(); // a size the window takes as it is
        prevWndService().destroyAllPreviews();
        pump();
    }
    ASSERT_LE(size.width(), screen.width());
    ASSERT_LE(size.height(), screen.height());
    struct Case {
        const char* name;
        int visible, showCmd;
        QPoint stored; // outer top-left saved
        QPoint pos;    // where it comes back; x -1: flush with the screen's right edge
    } cases[] = {
        {"normal", 1, 1, {30, 40}, {30, 40}},
        {"minimised", 1, 2, {50, 60}, {50, 60}},
        {"maximised", 1, 3, {20, 30}, {20, 30}},
        {"partly off the right edge", 1, 1, {screen.right() - 40, 10}, {-1, 10}},
        {"far up and left", 1, 1, {-5000, -5000}, screen.topLeft()},
        {"a hidden show state shows it normal", 1, 0, {30, 40}, {30, 40}},
        {"not visible", 0, 1, {30, 40}, {30, 40}},
    };
    const auto rectOf = [](const WindowPlacement& p) { return QRect(QPoint(p.left, p.top), QPoint(p.right - 1, p.bottom - 1)); };
    const auto saved = [&ini](const char* key) { return std::stoi(plat::iniRead(ini, "Preview", key).value_or("-1")); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QRect stored(c.stored, size);
        const std::string keys = "[Preview]\nVisible=" + std::to_string(c.visible) + "\nShowCmd=" +
                                 std::to_string(c.showCmd) + "\nLeft=" + std::to_string(stored.left()) +
                                 "\nTop=" + std::to_string(stored.top()) + "\nRight=" +
                                 std::to_string(stored.left() + size.width()) + "\nBottom=" +
                                 std::to_string(stored.top() + size.height()) + "\n";
        const QRect expected(c.pos.x() < 0 ? screen.right() + 1 - size.width() : c.pos.x(), c.pos.y(), size.width(),
                             size.height());
        const bool minMax = c.showCmd == 2 || c.showCmd == 3;
        ASSERT_TRUE(ombrel_test::writeFile(ini, keys));
        CPreviewDialog* w = open(0, ini);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->isVisible(), c.visible != 0);
        EXPECT_EQ(w->isMinimized(), c.showCmd == 2);
        EXPECT_EQ(w->isMaximized(), c.showCmd == 3);
        if (c.visible && !minMax) {
            EXPECT_EQ(rectOf(currentPlacement(w)), expected) << "moved onto the screen whole, not cut";
        }
        prevWndService().destroyAllPreviews();
        pump();
        EXPECT_EQ(saved("ShowCmd"), c.showCmd == 0 ? 1 : c.showCmd);
        EXPECT_EQ(QRect(QPoint(saved("Left"), saved("Top")), QPoint(saved("Right") - 1, saved("Bottom") - 1)), expected)
            << "saved as it came";
        if (!minMax)
            continue;
        // Shown normal at last (its frame known only now): the saved rectangle exactly.
        ASSERT_TRUE(ombrel_test::writeFile(ini, keys));
        w = open(0, ini);
        w->showNormal();
        EXPECT_EQ(rectOf(currentPlacement(w)), expected);
    }
}

TEST_F(PreviewDialogTest, PixelMenuEnablingAndMarksByChipType)
{
    for (int chipType : {1, 3}) {
        SCOPED_TRACE(chipType);
        dev.chipType = chipType;
        dev.cfg.assign(64, 1);
        dev.cfg[2 * 8 + 3] = uint8_t(1 | (5 << 2) | (chipType == 3 ? 2 << 6 : 6 << 5));
        CPreviewDialog* w = open(0);
        std::unique_ptr<QMenu> menu(w->createPixelMenu(3, 2));
        std::map<std::string, QMenu*> subs;
        for (QAction* a : menu->actions())
            if (a->menu())
                subs[a->text().toStdString()] = a->menu();
        QMenu* thl = subs["Set THL Adj. Bit"];
        ASSERT_EQ(thl->actions().size(), 16);
        EXPECT_EQ(thl->actions()[12]->isEnabled(), chipType == 3);
        EXPECT_TRUE(thl->actions()[5]->isChecked());
        EXPECT_TRUE(subs["Set THH Adj. Bit"]->actions()[0]->isEnabled() == (chipType != 3));
        EXPECT_TRUE(subs["Set Mode"]->actions()[0]->isEnabled() == (chipType == 3));
        if (chipType == 3)
            EXPECT_TRUE(subs["Set Mode"]->actions()[2]->isChecked());
        else
            EXPECT_TRUE(subs["Set THH Adj. Bit"]->actions()[6]->isChecked());
    }
}

TEST_F(PreviewDialogTest, PixelEditsReachTheDevice)
{
    CPreviewDialog* w = open(0);
    acquire(1);
    w->refreshFromDevice();
    w->createPixelMenu(3, 2)->deleteLater();
    const struct {
        PixCommand command;
        double value;
        std::vector<int> changed; // indices whose byte differs from 1 afterwards
        uint8_t to;
    } cases[] = {
        {PixCommand::MaskPixel, 0, {2 * 8 + 3}, 0},
        {PixCommand::MaskColumn, 0, {3, 11, 19, 27, 35, 43, 51, 59}, 0},
        {PixCommand::MaskRow, 0, {16, 17, 18, 19, 20, 21, 22, 23}, 0},
        {PixCommand::SetThl, 12, {2 * 8 + 3}, uint8_t(1 | 12 << 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.command));
        dev.cfg.assign(64, 1);
        ASSERT_EQ(w->runPixelCommand(c.command, c.value), PixCfgResult::Done);
        for (int i = 0; i < 64; ++i) {
            const bool hit = std::find(c.changed.begin(), c.changed.end(), i) != c.changed.end();
            EXPECT_EQ(dev.cfg[size_t(i)], hit ? c.to : 1) << i;
        }
    }

    // Busy: the last error, one error callback, nothing written.
    dev.cfg.assign(64, 1);
    dev.busy = true;
    gErrors = 0;
    w->state()->setErrorCb(countError);
    const int writes = dev.cfgWrites;
    EXPECT_EQ(w->runPixelCommand(PixCommand::MaskAll), PixCfgResult::Busy);
    EXPECT_EQ(w->state()->lastError(), "Cannot lock device for setting mask (another operation in progress).");
    EXPECT_EQ(gErrors, 1);
    EXPECT_EQ(dev.cfgWrites, writes);
    EXPECT_EQ(w->runPixelCommand(PixCommand::MaskAbove, 5), PixCfgResult::Busy);
    EXPECT_EQ(w->state()->lastError(), "Cannot lock device for setting pix. cfg. (another operation in progress).");
    dev.busy = false;

    // Mask... above the maximum writes the configuration back unchanged; below it masks every pixel.
    EXPECT_EQ(w->runPixelCommand(PixCommand::MaskAbove, 1000), PixCfgResult::Done);
    EXPECT_EQ(dev.cfg, std::vector<uint8_t>(64, 1));
    EXPECT_EQ(w->runPixelCommand(PixCommand::MaskAbove, 5), PixCfgResult::Done);
    EXPECT_EQ(dev.cfg, std::vector<uint8_t>(64, 0));
}

// Both threshold dialogs open with the shift threshold; the mask threshold is only what "Mask..." stores.
TEST_F(PreviewDialogTest, CriteriaDialogsOpenWithTheShiftThreshold)
{
    CPreviewDialog* w = open(0);
    w->settings().maskPixVal = 2.5;
    w->settings().thlShiftPixVal = 7;
    EXPECT_EQ(w->criteriaDialog(PixCommand::MaskAbove)->value, 7);
    EXPECT_EQ(w->criteriaDialog(PixCommand::ShiftThlAbove)->value, 7);
    acquire(1);
    w->refreshFromDevice();
    w->runPixelCommand(PixCommand::ShiftThlAbove, 3);
    EXPECT_EQ(w->settings().maskPixVal, 3);
    EXPECT_EQ(w->settings().thlShiftPixVal, 3);
    w->runPixelCommand(PixCommand::MaskAbove, 4);
    EXPECT_EQ(w->settings().maskPixVal, 4);
    EXPECT_EQ(w->settings().thlShiftPixVal, 3);
}

TEST_F(PreviewDialogTest, FourChipsInChipOrderAreEditedInChipOrder)
{
    dev.chipCount = 4;
    dev.autoConvToSM = 0;
    CPreviewDialog* w = open(0);
    w->createPixelMenu(5, 1)->deleteLater();
    ASSERT_EQ(w->runPixelCommand(PixCommand::MaskPixel), PixCfgResult::Done);
    EXPECT_EQ(dev.chipCfg[1 * 8 + 5], 0);
    EXPECT_EQ(dev.cfg, std::vector<uint8_t>(64, 1)) << "the super matrix was edited for a chip-order frame";
}

TEST_F(PreviewDialogTest, SizeMismatchShowsTheBoxAndChangesNothing)
{
    CPreviewDialog* w = open(0);
    dev.width = 4; // a frame of another size
    dev.height = 16;
    ASSERT_EQ(w->showFrameId(dev.addFrame(3)), 0);
    dev.width = 8;
    dev.height = 8;
    w->createPixelMenu(0, 0)->deleteLater();
    EXPECT_EQ(w->runPixelCommand(PixCommand::MaskAll), PixCfgResult::SizeMismatch);
    EXPECT_EQ(dev.cfg, std::vector<uint8_t>(64, 1));
}

TEST_F(PreviewDialogTest, RotatedSelectionHitsThePixelsSeen)
{
    CPreviewDialog* w = open(0);
    w->resize(900, 700);
    pump();
    acquire(1);
    w->refreshFromDevice();
    w->model().setRotation(90);
    CPicture* p = w->picture();
    // Ctrl+drag over display pixels (0, 7) .. (1, 7): the top left two of the display.
    QPoint a, b;
    ASSERT_TRUE(p->pixelToClient(0, 7, a));
    ASSERT_TRUE(p->pixelToClient(2, 6, b));
    a += QPoint(2, 2);
    b -= QPoint(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, a, p->mapToGlobal(a), Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    QMouseEvent move(QEvent::MouseMove, b, p->mapToGlobal(b), Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, b, p->mapToGlobal(b), Qt::LeftButton, Qt::NoButton, Qt::ControlModifier);
    QApplication::sendEvent(p, &press);
    QApplication::sendEvent(p, &move);
    QApplication::sendEvent(p, &release);
    ASSERT_TRUE(p->selectionShown());
    std::vector<int> expected;
    for (int x = 0; x < 2; ++x) { // display (x, 7) is frame (8 - 7 - 1, x) = (0, x) after the turn
        int fx = x, fy = 7;
        w->model().toFramePoint(fx, fy);
        expected.push_back(fy * 8 + fx);
    }
    ASSERT_EQ(w->runPixelCommand(PixCommand::MaskSelected), PixCfgResult::Done);
    for (int i = 0; i < 64; ++i) {
        const bool hit = std::find(expected.begin(), expected.end(), i) != expected.end();
        EXPECT_EQ(dev.cfg[size_t(i)], hit ? 0 : 1) << i;
    }
    EXPECT_FALSE(p->selectionShown()) << "the selection stays after Mask Selected";
}

} // namespace

namespace {

TEST_F(PreviewDialogTest, FocusOnALevelEditEndsAutoRangeAndItsLock)
{
    CPreviewDialog* w = open(0);
    for (const char* name : {"minEdit", "maxEdit"}) {
        SCOPED_TRACE(name);
        w->findChild<QCheckBox*>("autoRange")->setChecked(true);
        w->settings().minSliderLocked = w->settings().maxSliderLocked = 1;
        QFocusEvent in(QEvent::FocusIn);
        QApplication::sendEvent(w->findChild<CSmartEdit*>(name), &in);
        const bool isMin = std::string(name) == "minEdit";
        EXPECT_EQ(w->settings().autoRange, 0);
        EXPECT_FALSE(w->findChild<QCheckBox*>("autoRange")->isChecked());
        EXPECT_EQ(w->settings().minSliderLocked, isMin ? 0 : 1);
        EXPECT_EQ(w->settings().maxSliderLocked, isMin ? 1 : 0);
    }
}

} // namespace
