// The preview of a device as a user meets it: the control plug-in loaded by a running manager on the
// simulated detector, its window opened from the device's tray item, acquisitions started with clicks and
// typed values on the control window, and the preview driven with clicks and keys on its own controls:
// a series acquired to files is shown and browsed frame by frame, the first frame of a preview with no
// stored levels is shown over its own range, the threshold dialogs of the pixel menu open with the shift
// threshold, and the histogram of the mask bits shows the bar of the counting pixels.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "ctrl_app.h"
#include "platform/numbers.h"
#include "qt_test_support.h"

namespace {

namespace fs = std::filesystem;
using ctrl_test::CtrlApp;
using ombrel_test::processUntil;

// Statistics of a frame as the preview lists them ("%.5g").
struct Stats {
    std::string min, max, total;
    bool operator==(const Stats&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Stats& s)
{
    return os << "min " << s.min << ", max " << s.max << ", total " << s.total;
}

class PreviewRoad : public CtrlApp {
protected:
    // The manager with one simulated device and the control plug-in; previewIni: the "Preview" section of
    // the device's ini file as an earlier run left it (empty: a fresh app folder).
    void start(const std::string& previewIni = "")
    {
        ombrel_test::strictQtMessages();
        startManager(1, "plugins/TvkCtrlUI.so\n", [&] {
            fs::copy_file(CTRL_APP_DIR "/TvkCtrlUI.so", "plugins/TvkCtrlUI.so");
            fs::create_directories("configs");
            // The control window does not open by itself: the user opens it from the tray.
            ombrel_test::writeFile("configs/TvkCtrlUI_2000.ini", "[Main]\nAutostart=0\n" + previewIni);
        });
    }
    void TearDown() override
    {
        // "Exit" destroys the plug-in's windows; what they left queued runs before the plug-in goes.
        stopManager([] {
            QApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        });
        ombrel_test::restoreQtMessages();
    }

    static QWidget* window(const QString& prefix)
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle().startsWith(prefix))
                return w;
        return nullptr;
    }
    // The control window, opened from the tray item as a user opens it, and its preview.
    void openWindows()
    {
        int id = 0;
        char name[MGR_MENU_NAME_SIZE] = {};
        bool found = false;
        for (int rc = t_->mgrGetFirstMenuItem(&id, name); rc == 0 && !found; rc = t_->mgrGetNextMenuItem(&id, name))
            if (std::string(name) == "0 - dummy 2000|Tarvik Control") {
                ASSERT_EQ(t_->mgrCallMenuItemByID(id), 0);
                found = true;
            }
        ASSERT_TRUE(found);
        ASSERT_TRUE(processUntil([&] { return (ctrl_ = window("Tarvik 0 UI")) != nullptr; }));
        ASSERT_TRUE(processUntil([&] { return (preview_ = window("Preview for")) != nullptr; }));
    }
    template <class T>
    T* child(QWidget* w, const char* name)
    {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    template <class T>
    static T* withText(QWidget* w, const QString& text)
    {
        for (T* c : w->findChildren<T*>())
            if (c->text() == text)
                return c;
        return nullptr;
    }
    // The control window's widget in a cell of its acquisition grid (the first one of a cell's layout).
    QWidget* acqCell(int row, int column)
    {
        for (QGroupBox* box : ctrl_->findChildren<QGroupBox*>()) {
            auto* grid = qobject_cast<QGridLayout*>(box->layout());
            if (!grid || !withText<QLabel>(box, QStringLiteral("Acq. count:")))
                continue;
            QLayoutItem* item = grid->itemAtPosition(row, column);
            if (item && item->layout())
                item = item->layout()->itemAt(0);
            return item ? item->widget() : nullptr;
        }
        return nullptr;
    }
    static void typeInto(QWidget* edit, const QString& text)
    {
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, text);
    }
    // Types the acquisition's values, starts it with "Start" and waits for its end.
    void acquire(int frames, const std::string& toFiles)
    {
        auto* files = withText<QCheckBox>(ctrl_, QStringLiteral("To files:"));
        ASSERT_NE(files, nullptr);
        if (files->isChecked() != !toFiles.empty())
            QTest::mouseClick(files, Qt::LeftButton, Qt::NoModifier, QPoint(6, files->height() / 2));
        ASSERT_EQ(files->isChecked(), !toFiles.empty());
        if (!toFiles.empty())
            typeInto(acqCell(1, 0), QString::fromStdString(toFiles));
        typeInto(acqCell(2, 1), QString::number(frames));
        typeInto(acqCell(2, 3), QStringLiteral("0.01"));
        auto* startButton = withText<QPushButton>(ctrl_, QStringLiteral("Start"));
        ASSERT_NE(startButton, nullptr);
        QTest::mouseClick(startButton, Qt::LeftButton);
        ASSERT_TRUE(processUntil([&] { return startButton->text() == "Start" && acqDone() == frames; }));
    }
    int acqDone()
    {
        int done = 0;
        return t_->tvkCtrlGetAcqInfo(0, nullptr, nullptr, nullptr, &done) == 0 ? done : -1;
    }
    Stats shownStats()
    {
        auto* list = child<QTreeWidget>(preview_, "statistics");
        auto row = [&](const char* name) {
            const auto items = list->findItems(QString::fromLatin1(name), Qt::MatchExactly, 0);
            return items.isEmpty() ? std::string("?") : items.first()->text(1).toStdString();
        };
        return {row("Min:"), row("Max:"), row("Total:")};
    }
    // The statistics of a frame file, read through the manager as any plug-in reads one.
    Stats fileStats(const std::string& path, double* min = nullptr, double* max = nullptr)
    {
        uint32_t id = 0;
        EXPECT_EQ(t_->mgrLoadFrame(&id, path.c_str()), 0) << path;
        std::vector<double> v(65536);
        uint32_t bytes = uint32_t(v.size() * sizeof(double));
        EXPECT_EQ(t_->mgrGetFrameData(id, v.data(), &bytes, 9), 0);
        t_->mgrCloseFrame(id, nullptr);
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        double total = 0;
        for (double x : v)
            total += x;
        if (min)
            *min = *lo;
        if (max)
            *max = *hi;
        return {plat::formatGeneral(*lo, 5), plat::formatGeneral(*hi, 5), plat::formatGeneral(total, 5)};
    }
    std::string frameEditText() { return child<QLineEdit>(preview_, "frameEdit")->text().toStdString(); }
    std::string logText() { return ombrel_test::readFile(dir_ + "/log.txt"); }

    // Runs fn on the pop-up menu or the modal dialog that the next step opens, once it shows.
    static void whenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> fn)
    {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, [poll, find, fn] {
            QWidget* w = find();
            if (!w || !w->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            fn(w);
        });
        poll->start(20);
    }
    // Clicks through the preview's menu bar: the menu titled path[0], then the item path[1].
    void clickPreviewMenu(const QString& menuTitle, const QString& item)
    {
        auto* bar = preview_->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        QAction* title = nullptr;
        for (QAction* a : bar->actions())
            if (a->text() == menuTitle)
                title = a;
        ASSERT_NE(title, nullptr) << menuTitle.toStdString();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(title).center());
        QMenu* menu = title->menu();
        ASSERT_TRUE(processUntil([menu] { return menu->isVisible(); }));
        QAction* target = nullptr;
        for (QAction* a : menu->actions())
            if (a->text() == item)
                target = a;
        ASSERT_NE(target, nullptr) << item.toStdString();
        ASSERT_TRUE(target->isEnabled()) << item.toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(target).center());
    }

    QWidget* ctrl_ = nullptr;
    QWidget* preview_ = nullptr;
};

// "To files:" with 2 frames: both files are written; the preview shows the second one, and "<" and ">"
// and the spin reach either frame, each with the statistics of its file. The frame ids that the preview
// asks the manager for are found ("Frame 0 was not found." was logged once per frame).
TEST_F(PreviewRoad, AFilesSeriesIsShownAndBrowsedFrameByFrame)
{
    start();
    ASSERT_NO_FATAL_FAILURE(openWindows());
    const std::string base = dir_ + "/out/series.txt";
    ASSERT_NO_FATAL_FAILURE(acquire(2, base));
    std::vector<std::string> files; // the frames' files, without their description files
    for (const std::string& f : outFiles())
        if (!f.ends_with(".dsc"))
            files.push_back(f);
    ASSERT_EQ(files.size(), 2u) << "a file per frame";
    const Stats first = fileStats(dir_ + "/out/" + files[0]);
    const Stats second = fileStats(dir_ + "/out/" + files[1]);

    EXPECT_TRUE(processUntil([&] { return frameEditText() == "2" && shownStats() == second; }))
        << frameEditText() << ": " << shownStats() << "; the file: " << second;
    auto* previous = withText<QPushButton>(preview_, QStringLiteral("<"));
    auto* next = withText<QPushButton>(preview_, QStringLiteral(">"));
    ASSERT_TRUE(previous && next);
    QTest::mouseClick(previous, Qt::LeftButton);
    EXPECT_EQ(frameEditText(), "1");
    EXPECT_EQ(shownStats(), first);
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(frameEditText(), "2");
    EXPECT_EQ(shownStats(), second);

    // The spin runs over every frame of the series.
    auto* spin = child<QScrollBar>(preview_, "frameSpin");
    EXPECT_EQ(spin->minimum(), 1);
    EXPECT_EQ(spin->maximum(), 2);
    spin->setFocus();
    std::set<std::string> seen = {frameEditText()};
    for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Up}) {
        QTest::keyClick(spin, key);
        seen.insert(frameEditText());
    }
    EXPECT_EQ(seen, (std::set<std::string>{"1", "2"}));
    EXPECT_EQ(logText().find("was not found"), std::string::npos) << logText();
}

// The level range of a preview: with nothing stored (a fresh app folder, or the 0..0 that an earlier run
// left) the first frame is shown over its own range, never black; a range the user stored wins. Each case
// starts the plug-in, so each runs in a process of its own.
struct LevelCase {
    const char* name;
    const char* ini;
    bool frameRange; // else the stored 100..200
};
class PreviewLevels : public PreviewRoad, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(PreviewLevels, TheFirstFrameIsShownOverItsRangeUnlessLevelsAreStored)
{
    const LevelCase& c = GetParam();
    start(c.ini);
    ASSERT_NO_FATAL_FAILURE(openWindows());
    ASSERT_NO_FATAL_FAILURE(acquire(1, ""));
    const std::string saved = dir_ + "/first.txt";
    ASSERT_EQ(t_->tvkCtrlSaveFrame(0, saved.c_str(), 0, 2), 0);
    double min = 0, max = 0;
    const Stats stats = fileStats(saved, &min, &max);
    ASSERT_LT(min, max) << "the simulated image holds more than one value";
    EXPECT_TRUE(processUntil([&] { return shownStats() == stats; })) << shownStats();
    const std::string lo = c.frameRange ? plat::formatGeneral(min, 5) : "100";
    const std::string hi = c.frameRange ? plat::formatGeneral(max, 5) : "200";
    EXPECT_EQ(child<QLineEdit>(preview_, "minEdit")->text().toStdString(), lo);
    EXPECT_EQ(child<QLineEdit>(preview_, "maxEdit")->text().toStdString(), hi);
    auto* picture = child<QWidget>(preview_, "picture");
    if (!c.frameRange) {
        // Enter in "Max level:" applies the typed level as Update does: the picture is drawn anew.
        const QImage before = picture->grab().toImage();
        auto* maxEdit = child<QLineEdit>(preview_, "maxEdit");
        QTest::mouseClick(maxEdit, Qt::LeftButton);
        QTest::keyClick(maxEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(maxEdit, "101");
        QTest::keyClick(maxEdit, Qt::Key_Return);
        EXPECT_TRUE(processUntil([&] { return picture->grab().toImage() != before; }))
            << "Enter did not apply the level";
        EXPECT_FALSE(child<QPushButton>(preview_, "update")->isEnabled());
        return;
    }
    // The image shows the frame in several shades, not one black square.
    const QImage image = picture->grab().toImage();
    std::vector<QRgb> shades;
    for (int y = image.height() / 4; y < image.height() * 3 / 4 && shades.size() < 3; y += 3)
        for (int x = image.width() / 4; x < image.width() / 2 && shades.size() < 3; x += 3)
            if (std::find(shades.begin(), shades.end(), image.pixel(x, y)) == shades.end())
                shades.push_back(image.pixel(x, y));
    EXPECT_GE(shades.size(), 3u) << "a black square";
}

INSTANTIATE_TEST_SUITE_P(Levels, PreviewLevels,
                         ::testing::Values(LevelCase{"Fresh", "", true},
                                           LevelCase{"ZeroStored", "[Preview]\nMin=0\nMax=0\n", true},
                                           LevelCase{"Stored", "[Preview]\nMin=100\nMax=200\n", false}),
                         [](const ::testing::TestParamInfo<LevelCase>& info) { return std::string(info.param.name); });

// "Mask..." and "Shift THL Adj..." of the pixel menu (a right click on the image) both open with the
// stored shift threshold.
TEST_F(PreviewRoad, ThresholdDialogsOpenWithTheShiftThreshold)
{
    start("[Preview]\nMaskPixVal=3\nThlShiftPixVal=7.5\n");
    ASSERT_NO_FATAL_FAILURE(openWindows());
    ASSERT_NO_FATAL_FAILURE(acquire(1, ""));
    auto* picture = child<QWidget>(preview_, "picture");
    for (const char* item : {"Mask...", "Shift THL Adj..."}) {
        SCOPED_TRACE(item);
        std::string shown = "(no dialog)";
        whenShown([] { return QApplication::activePopupWidget(); },
                  [&](QWidget* w) {
                      auto* menu = qobject_cast<QMenu*>(w);
                      for (QAction* a : menu ? menu->actions() : QList<QAction*>())
                          if (a->text() == QString::fromLatin1(item)) {
                              whenShown([] { return QApplication::activeModalWidget(); }, [&](QWidget* dlg) {
                                  if (auto* edit = dlg->findChild<QLineEdit*>())
                                      shown = edit->text().toStdString();
                                  static_cast<QDialog*>(dlg)->reject();
                              });
                              QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(a).center());
                              return;
                          }
                      w->close();
                  });
        QTest::mouseClick(picture, Qt::RightButton, Qt::NoModifier, QPoint(picture->width() / 3, picture->height() / 2));
        processUntil([&] { return shown != "(no dialog)"; });
        EXPECT_EQ(shown, "7.5");
    }
}

// Service Frames > Mask Bits: levels 0..1, every pixel of a fresh device counts (bit 0 = 1), so the
// histogram's bar of the top value holds all of them and stands inside the plot, at its right end.
TEST_F(PreviewRoad, TheMaskBitsHistogramShowsTheBarOfTheTopValue)
{
    start();
    ASSERT_NO_FATAL_FAILURE(openWindows());
    ASSERT_NO_FATAL_FAILURE(clickPreviewMenu(QStringLiteral("&Service Frames"), QStringLiteral("&Mask Bits")));
    EXPECT_TRUE(processUntil([&] { return child<QLineEdit>(preview_, "maxEdit")->text() == "1"; }));
    EXPECT_EQ(shownStats(), (Stats{"1", "1", "65536"}));
    auto* histogram = child<QWidget>(preview_, "histogram");
    const QImage image = histogram->grab().toImage();
    // The plot's own colours: white background, black axes and labels, the red bars of the first series.
    const int w = image.width();
    int barColumn = -1;
    for (int x = w - 1; x >= w / 2 && barColumn < 0; --x) {
        int red = 0;
        for (int y = 0; y < image.height(); ++y)
            red += QColor(image.pixel(x, y)) == QColor(255, 0, 0);
        if (red > image.height() / 3)
            barColumn = x;
    }
    EXPECT_GE(barColumn, w * 3 / 4) << "the bar of the top value stands at the plot's right end";
    EXPECT_LT(barColumn, w - 1);
}

} // namespace
