// The panel as a user meets it, in a running manager: opened from the loader's tray menu, its captions,
// texts and columns, its settings file, a refused set, and an acquisition of another plug-in running while
// the panel opens and sets DACs.
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <regex>
#include <set>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include "deck_app.h"
#include "platform/ini.h"
#include "wait_until.h"

using decktest::AppOptions;
using decktest::DeckApp;
using decktest::processUntil;

namespace {

struct Dacs {
    std::vector<std::string> names;
    std::vector<int> widths;
    int index(const std::string& name) const
    {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name)
                return static_cast<int>(i);
        return -1;
    }
};

Dacs dacs(const DeckApp& app)
{
    const char** names = nullptr;
    const int* widths = nullptr;
    int count = 0;
    Dacs d;
    if (app.t().tvkCtrlGetDACsNames(0, &names, &widths, &count) == 0)
        for (int i = 0; i < count; ++i) {
            d.names.emplace_back(names[i]);
            d.widths.push_back(widths[i]);
        }
    return d;
}

std::vector<uint16_t> deviceDacs(const DeckApp& app, int count)
{
    std::vector<uint16_t> v(static_cast<size_t>(count));
    EXPECT_EQ(app.t().tvkCtrlGetDACs(0, v.data(), count, -1), 0);
    return v;
}

template <class W>
W* child(QWidget* panel, const QString& name)
{
    return panel ? panel->findChild<W*>(name) : nullptr;
}

QAction* findAction(const QMenu* menu, const QString& text, QString* path)
{
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu()) {
            if (QAction* found = findAction(sub, text, path)) {
                *path = sub->title() + "|" + *path;
                return found;
            }
        } else if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

QMenu* trayMenu()
{
    for (QWidget* w : QApplication::allWidgets())
        if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->objectName() == QLatin1String("trayMenu"))
            return menu;
    return nullptr;
}

QWidget* openPanel(DeckApp& app)
{
    const int item = app.menuItem(0);
    EXPECT_GT(item, 0) << "no menu item \"DAC Control Panel\" for device 0";
    EXPECT_EQ(app.t().mgrCallMenuItemByID(item), 0);
    QWidget* panel = nullptr;
    processUntil([&] { return (panel = DeckApp::panel()) != nullptr; });
    return panel;
}

bool captionIs(const std::string& caption)
{
    QWidget* p = DeckApp::panel();
    return p && p->windowTitle().toStdString() == caption;
}

// The columns shown, left to right: the labels' texts.
std::vector<std::string> shownColumns(QWidget* panel, int columnCount)
{
    std::vector<std::pair<int, std::string>> shown;
    for (int i = 0; i < columnCount; ++i) {
        auto* slider = child<QSlider>(panel, QStringLiteral("slider%1").arg(i));
        if (slider && slider->isVisible()) {
            QString text;
            for (QLabel* label : panel->findChildren<QLabel*>())
                if (label->isVisible() && label->x() == slider->x() && label->y() < slider->y())
                    text = label->text();
            shown.emplace_back(slider->x(), text.toStdString());
        }
    }
    std::sort(shown.begin(), shown.end());
    std::vector<std::string> texts;
    for (const auto& [x, text] : shown)
        texts.push_back(text);
    return texts;
}

} // namespace

// The loader's tray menu carries "DAC Control Panel" in the simulated detector's sub-menu; it opens the
// panel with one column per DAC plus "Ext DAC", no "Locked" boxes on one chip, the read-back text of one
// reading, the ready caption; Enter does not close it.
TEST(DacDeckWindowSimulated, OpenedFromTheLoaderMenu)
{
    DeckApp app("menu", AppOptions::simulatedDetector({}, true));
    QMenu* menu = trayMenu();
    ASSERT_NE(menu, nullptr) << "no tray menu";
    QAction* action = nullptr;
    QString path;
    ASSERT_TRUE(processUntil([&] { return (action = findAction(menu, QStringLiteral("DAC Control Panel"), &path)); }));
    char devicePath[MGR_MENU_NAME_SIZE] = {};
    ASSERT_EQ(app.t().mgrGetTvkMenuPath(0, devicePath), 0);
    EXPECT_NE(path.toStdString().find(app.info().chipboardId), std::string::npos) << path.toStdString();
    action->trigger();
    QWidget* panel = nullptr;
    ASSERT_TRUE(processUntil([&] { return (panel = DeckApp::panel()) != nullptr; }));
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }))
        << panel->windowTitle().toStdString();

    const Dacs d = dacs(app);
    ASSERT_FALSE(d.names.empty());
    const int columns = static_cast<int>(d.names.size()) + 1;
    std::vector<std::string> expected = d.names;
    expected.push_back("Ext DAC");
    EXPECT_EQ(shownColumns(panel, columns), expected);
    int lastRight = 0, step = -1;
    for (int i = 0; i < columns; ++i) {
        SCOPED_TRACE(i);
        auto* slider = child<QSlider>(panel, QStringLiteral("slider%1").arg(i));
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->orientation(), Qt::Vertical);
        if (i < columns - 1) {
            EXPECT_EQ(slider->maximum(), (1 << d.widths[static_cast<size_t>(i)]) - 1);
        }
        if (i > 0) {
            const int x = child<QSlider>(panel, QStringLiteral("slider%1").arg(i - 1))->x();
            if (step < 0)
                step = slider->x() - x;
            EXPECT_EQ(slider->x() - x, step) << "columns side by side at one step";
        }
        lastRight = slider->x() + slider->width();
        EXPECT_EQ(child<QCheckBox>(panel, QStringLiteral("locked%1").arg(i)), nullptr) << "one chip: no Locked box";
    }
    EXPECT_GT(step, 0);
    EXPECT_GE(panel->width(), lastRight);
    auto* edit = panel->findChild<QWidget*>(QStringLiteral("edit0"));
    ASSERT_NE(edit, nullptr);
    EXPECT_LT(panel->height() - (edit->y() + edit->height()), edit->height()) << "no room left for a Locked row";

    auto* chip = child<QComboBox>(panel, QStringLiteral("chip"));
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(chip->count(), 1);
    EXPECT_EQ(chip->itemText(0), QStringLiteral("0"));
    auto* ext = child<QComboBox>(panel, QStringLiteral("extDac"));
    ASSERT_NE(ext, nullptr);
    ASSERT_EQ(ext->count(), columns);
    EXPECT_EQ(ext->itemText(0), QStringLiteral("None"));
    EXPECT_EQ(ext->itemText(1).toStdString(), d.names[0]);
    std::set<std::string> labels;
    for (QLabel* label : panel->findChildren<QLabel*>())
        labels.insert(label->text().toStdString());
    EXPECT_TRUE(labels.count("THL-FBK:") && labels.count("THH-FBK:"));
    // Each combo has its label (the label's buddy) just above it.
    const std::pair<QComboBox*, QString> combos[] = {{chip, QStringLiteral("Chip:")},
                                                     {ext, QStringLiteral("Ext DAC to:")}};
    for (const auto& [combo, text] : combos) {
        SCOPED_TRACE(text.toStdString());
        QLabel* label = nullptr;
        for (QLabel* l : panel->findChildren<QLabel*>())
            if (l->buddy() == combo)
                label = l;
        ASSERT_NE(label, nullptr) << "no label names the combo";
        EXPECT_EQ(label->text().remove(QLatin1Char('&')), text);
        EXPECT_TRUE(label->isVisible());
        EXPECT_LE(label->y() + label->height(), combo->y() + 1) << "not above the combo";
        EXPECT_GT(combo->y() - label->y(), 0);
        EXPECT_LT(combo->y() - label->y(), 3 * combo->height()) << "too far from the combo";
    }
    const std::regex oneReading(R"(-?\d+\.\d{4})");
    EXPECT_TRUE(std::regex_match(child<QLabel>(panel, QStringLiteral("thlFbk"))->text().toStdString(), oneReading))
        << child<QLabel>(panel, QStringLiteral("thlFbk"))->text().toStdString();
    EXPECT_TRUE(std::regex_match(child<QLabel>(panel, QStringLiteral("thhFbk"))->text().toStdString(), oneReading));

    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(panel, &enter);
    QApplication::processEvents();
    EXPECT_EQ(DeckApp::panel(), panel) << "Enter closed the panel";
}

// Four chips: a "Locked" box under every DAC column (checked from LockedDacs), none under "Ext DAC", the
// window grown by their row; ActiveDacs picks the columns and the window shrinks with them (to the
// selectors with none). A grab of the full panel is kept for review.
TEST(DacDeckWindowFourChips, ColumnsLockedBoxesAndSettings)
{
    struct Case {
        const char* name;
        const char* deckIni;
        uint32_t shownMask; // bit i: column i shown (the last column is "Ext DAC")
        uint32_t lockedMask;
    };
    const Case cases[] = {
        {"every column", "", 0xFFFFFFFFu, 0},
        {"columns 0, 2 and on, the first two locked", "[Settings]\nActiveDacs=-3\nLockedDacs=3\n", 0xFFFFFFFDu, 3},
        {"no column", "[Settings]\nActiveDacs=0\n", 0, 0},
    };
    int fullWidth = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeckApp app("columns", AppOptions::testHardware(4, 2, c.deckIni));
        QWidget* panel = openPanel(app);
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }))
            << panel->windowTitle().toStdString();
        const Dacs d = dacs(app);
        const int count = static_cast<int>(d.names.size());
        std::vector<std::string> expected;
        for (int i = 0; i <= count; ++i)
            if (c.shownMask & (1u << i))
                expected.push_back(i < count ? d.names[static_cast<size_t>(i)] : "Ext DAC");
        EXPECT_EQ(shownColumns(panel, count + 1), expected);
        for (int i = 0; i <= count; ++i) {
            SCOPED_TRACE(i);
            auto* box = child<QCheckBox>(panel, QStringLiteral("locked%1").arg(i));
            ASSERT_EQ(box != nullptr, i < count);
            if (!box)
                continue;
            EXPECT_EQ(box->text(), QStringLiteral("Locked"));
            EXPECT_EQ(box->isChecked(), (c.lockedMask >> i) & 1u);
            auto* slider = child<QSlider>(panel, QStringLiteral("slider%1").arg(i));
            EXPECT_EQ(box->isVisible(), slider->isVisible());
            if (box->isVisible()) {
                EXPECT_EQ(box->x(), slider->x());
                EXPECT_GE(panel->height(), box->y() + box->height()) << "the Locked row inside the window";
            }
        }
        auto* chip = child<QComboBox>(panel, QStringLiteral("chip"));
        ASSERT_EQ(chip->count(), 4);
        EXPECT_EQ(chip->itemText(3), QStringLiteral("3"));
        if (c.shownMask == 0xFFFFFFFFu) {
            fullWidth = panel->width();
            // Beside the test runs' folders, which go when the program ends.
            const std::string grab = DECK_GRAB_DIR "/dacdeck_four_chips.png";
            std::filesystem::create_directories(DECK_GRAB_DIR);
            EXPECT_TRUE(panel->grab().save(QString::fromStdString(grab)));
            std::printf("four-chip panel: %s\n", grab.c_str());
        } else {
            EXPECT_LT(panel->width(), fullWidth);
        }
    }
}

// The settings go to the device's file when the window goes; a device change closes and reopens the
// window, and the reopened one still follows the device's events.
TEST(DacDeckWindowSimulated, SettingsWrittenWhenClosedAndEventsFollowAReopenedWindow)
{
    DeckApp app("settings", AppOptions::simulatedDetector("[Settings]\nActiveDacs=5\nLockedDacs=2\nSenseCount=3\n"));
    QWidget* panel = openPanel(app);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }));
    const Dacs d = dacs(app);
    EXPECT_EQ(shownColumns(panel, static_cast<int>(d.names.size()) + 1),
              (std::vector<std::string>{d.names[0], d.names[2]}));
    EXPECT_TRUE(std::regex_match(child<QLabel>(panel, QStringLiteral("thlFbk"))->text().toStdString(),
                                 std::regex(R"(-?\d+\.\d{4} \(\d+\.\d{4}\))")))
        << "three readings: the deviation in brackets";
    const std::string file = app.dir() + "/configs/DacDeck_" + app.info().chipboardId + ".ini";
    EXPECT_FALSE(std::filesystem::exists(file));
    panel->close();
    ASSERT_TRUE(processUntil([] { return DeckApp::panel() == nullptr; }));
    EXPECT_EQ(plat::getProfileInt("Settings", "ActiveDacs", 0, file.c_str()), 5);
    EXPECT_EQ(plat::getProfileInt("Settings", "LockedDacs", 0, file.c_str()), 2);
    EXPECT_EQ(plat::getProfileInt("Settings", "SenseCount", 0, file.c_str()), 3);

    // The per-device file now wins over the default one.
    ombrel_test::writeFile(app.dir() + "/configs/DacDeck.ini", "[Settings]\nActiveDacs=0\n");
    ombrel_test::writeFile(file, "[Settings]\nActiveDacs=-1\nSenseCount=1\n");
    panel = openPanel(app);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }));
    EXPECT_EQ(shownColumns(panel, static_cast<int>(d.names.size()) + 1).size(), d.names.size() + 1);

    app.fire("TvkDevChanged");
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the closed window goes
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }));
    panel = DeckApp::panel();
    ASSERT_NE(panel, nullptr);
    auto* ext = child<QComboBox>(panel, QStringLiteral("extDac"));
    ASSERT_NE(ext, nullptr);
    const int index = static_cast<int>(d.names.size()) - 1;
    ASSERT_EQ(app.t().tvkCtrlSetExtDAC(0, index, 0.0), 0); // raises "ExtDACSet"
    EXPECT_TRUE(processUntil([&] { return ext->currentIndex() == index + 1; }))
        << "the reopened panel ignores the device's events";

    // Settings that cannot be written when the window closes are told in the log (a folder in the file's place).
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    panel->close();
    ASSERT_TRUE(processUntil([] { return DeckApp::panel() == nullptr; }));
    EXPECT_NE(app.log().find("the settings were not saved to " + file), std::string::npos) << app.log();
}

// "Save as default" of the settings dialog writes the columns checked in the dialog and the window's own
// sense count (a count typed in the dialog takes effect only with OK) to the default file, even when the
// dialog is then cancelled; the panel keeps its own sense count.
TEST(DacDeckWindowSimulated, SaveAsDefaultStoresTheWindowsSenseCount)
{
    DeckApp app("default", AppOptions::simulatedDetector("[Settings]\nSenseCount=2\n"));
    QWidget* panel = openPanel(app);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }));
    bool saved = false;
    int ticks = 0;
    QTimer driver; // runs inside the dialog's own event loop
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dlg) {
            if (++ticks > 500)
                driver.stop(); // no dialog came: the click has returned long ago
            return;
        }
        driver.stop();
        auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("senseCount"));
        auto* column = dlg->findChild<QCheckBox*>(QStringLiteral("dac1"));
        auto* save = dlg->findChild<QPushButton*>(QStringLiteral("saveAsDefault"));
        if (dlg->objectName() == QLatin1String("DacSelection") && edit && column && save) {
            column->setChecked(false);
            edit->setText(QStringLiteral("7"));
            save->click();
            saved = true;
        }
        dlg->reject();
    });
    driver.start();
    auto* settings = child<QPushButton>(panel, QStringLiteral("settings"));
    ASSERT_NE(settings, nullptr);
    settings->click();
    ASSERT_TRUE(saved) << "the dialog \"DAC selection\" did not come with its controls";

    const std::string defaults = app.dir() + "/configs/DacDeck.ini";
    EXPECT_EQ(plat::getProfileInt("Settings", "SenseCount", 0, defaults.c_str()), 2) << "the window's count, not the dialog's 7";
    const int active = plat::getProfileInt("Settings", "ActiveDacs", 0, defaults.c_str());
    EXPECT_EQ(active & 3, 1) << "column 1 left out, column 0 kept";

    panel->close();
    ASSERT_TRUE(processUntil([] { return DeckApp::panel() == nullptr; }));
    const std::string file = app.dir() + "/configs/DacDeck_" + app.info().chipboardId + ".ini";
    EXPECT_EQ(plat::getProfileInt("Settings", "SenseCount", 0, file.c_str()), 2) << "the cancelled dialog's count";
}

// A set that the hardware refuses: logged under "dacdeck", the caption shows the error; once the hardware
// works again the next move is sent and read back.
TEST(DacDeckWindowFourChips, RefusedSetShowsTheError)
{
    DeckApp app("refused", AppOptions::testHardware(4, 2));
    QWidget* panel = openPanel(app);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }));
    const int count = static_cast<int>(dacs(app).names.size());
    auto* slider = child<QSlider>(panel, QStringLiteral("slider1"));
    ASSERT_NE(slider, nullptr);
    const std::vector<uint16_t> before = deviceDacs(app, count * 4);
    const int64_t sets = app.fakeGet("calls.hwSetTvkDACs");

    ASSERT_EQ(app.fakeSet("fail.hwSetTvkDACs", 7), 0);
    const int moved = before[1] == 3 ? 4 : 3;
    slider->setValue(moved);
    const std::regex error(R"(.* - error -?[1-9]\d*)");
    ASSERT_TRUE(processUntil([&] {
        const std::string caption = panel->windowTitle().toStdString();
        return caption.rfind(app.title(), 0) == 0 && std::regex_match(caption, error);
    })) << panel->windowTitle().toStdString();
    EXPECT_NE(app.log().find("dacdeck"), std::string::npos) << app.log();
    EXPECT_GT(app.fakeGet("calls.hwSetTvkDACs"), sets) << "the set reached the hardware";

    // The same refusal of a set that waited for the device: applied by "AcqCompleted" of the thread that
    // holds the device.
    std::promise<void> go;
    std::atomic<bool> holding{false};
    auto worker = std::async(std::launch::async, [&] {
        int locked = 0;
        app.t().tvkCtrlTryLockDevice(0, &locked, MGR_WAIT_INFINITE);
        holding = true;
        go.get_future().wait_for(ombrel_test::kWaitLimit);
        app.fire("AcqCompleted");
        if (locked)
            app.t().tvkCtrlReleaseDevice(0);
    });
    ASSERT_TRUE(processUntil([&] { return holding.load(); }));
    panel->setWindowTitle(QString());
    slider->setValue(moved + 2);
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - waiting for opportunity to set DACs"); }))
        << panel->windowTitle().toStdString();
    go.set_value();
    ASSERT_EQ(worker.wait_for(ombrel_test::kWaitLimit), std::future_status::ready);
    ASSERT_TRUE(processUntil([&] { return std::regex_match(panel->windowTitle().toStdString(), error); }))
        << panel->windowTitle().toStdString();

    ASSERT_EQ(app.fakeSet("fail.hwSetTvkDACs", 0), 0);
    const int again = moved + 1;
    slider->setValue(again);
    ASSERT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); }))
        << panel->windowTitle().toStdString();
    EXPECT_EQ(deviceDacs(app, count * 4)[1], again);
    EXPECT_EQ(app.fakeLastDacs()[1], again) << "what the hardware was sent last";
}

namespace {

// A subscriber of "AcqCompleted" standing for another plug-in's acquisition worker: at the frames asked
// for it holds the worker (and with it the device lock) until released, or for at most the overall limit of a wait.
struct Holder {
    std::mutex m;
    std::condition_variable cv;
    std::set<int> holdAt; // frame numbers, from 1
    int frames = 0;
    int heldAt = 0; // the frame held now, 0 when none
    bool released = false;

    static Holder& instance()
    {
        static Holder h;
        return h;
    }
    static void onAcqCompleted(intptr_t)
    {
        Holder& h = instance();
        std::unique_lock lock(h.m);
        ++h.frames;
        if (!h.holdAt.count(h.frames))
            return;
        h.heldAt = h.frames;
        h.released = false;
        h.cv.notify_all();
        h.cv.wait_for(lock, ombrel_test::kWaitLimit, [&] { return h.released; });
        h.heldAt = 0;
    }
    int held()
    {
        std::lock_guard lock(m);
        return heldAt;
    }
    void release()
    {
        std::lock_guard lock(m);
        released = true;
        cv.notify_all();
    }
};

} // namespace

// Another plug-in's worker runs a 20-frame acquisition (holding the device) while the panel opens: the
// panel opens at once with the waiting caption and "None", and shows the read-back and the external DAC
// after the next frame; a THL move, then an external-DAC choice, while the worker holds the device wait,
// are sent with the next frame and read back. All end well within the watchdog.
TEST(DacDeckWindowSimulated, AcquisitionOfAnotherPluginWhilePanelOpensAndSets)
{
    DeckApp app("acquisition", AppOptions::simulatedDetector());
    const Dacs d = dacs(app);
    const int thl = d.index("THL");
    ASSERT_GE(thl, 0);
    const int extIndex = 1;
    ASSERT_EQ(app.t().tvkCtrlSetExtDAC(0, extIndex, 0.0), 0);
    Holder& h = Holder::instance();
    {
        std::lock_guard lock(h.m);
        h.holdAt = {1, 5, 9};
        h.frames = 0;
    }
    ASSERT_EQ(app.t().mgrRegisterCallback("tvkctrl", "AcqCompleted", &Holder::onAcqCompleted), 0);
    const std::vector<uint16_t> before = deviceDacs(app, static_cast<int>(d.names.size()));
    const int moved = before[static_cast<size_t>(thl)] == 100 ? 101 : 100;

    auto worker = std::async(std::launch::async, [&] { return app.t().tvkCtrlPerformFrameAcq(0, 20, 0.001, 0, nullptr); });
    ASSERT_TRUE(processUntil([&] { return h.held() == 1; }));

    QWidget* panel = openPanel(app);
    ASSERT_NE(panel, nullptr) << "the panel did not open while the device was busy";
    EXPECT_TRUE(processUntil([&] { return captionIs(app.title() + " - waiting for update"); }))
        << panel->windowTitle().toStdString();
    auto* ext = child<QComboBox>(panel, QStringLiteral("extDac"));
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->currentText(), QStringLiteral("None"));
    h.release();
    EXPECT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready") && ext->currentIndex() == extIndex + 1; }))
        << panel->windowTitle().toStdString() << " / " << ext->currentText().toStdString();

    ASSERT_TRUE(processUntil([&] { return h.held() == 5; }));
    auto* slider = child<QSlider>(panel, QStringLiteral("slider%1").arg(thl));
    ASSERT_NE(slider, nullptr);
    slider->setValue(moved);
    EXPECT_TRUE(processUntil([&] { return captionIs(app.title() + " - waiting for opportunity to set DACs"); }))
        << panel->windowTitle().toStdString();
    h.release();
    EXPECT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); })) << panel->windowTitle().toStdString();

    // Only the external DAC changed: no read-back of the DACs follows, the external DAC's own read
    // brings the caption back.
    ASSERT_TRUE(processUntil([&] { return h.held() == 9; }));
    ext->setCurrentIndex(0);
    EXPECT_TRUE(processUntil([&] { return captionIs(app.title() + " - waiting for opportunity to set DACs"); }))
        << panel->windowTitle().toStdString();
    h.release();
    EXPECT_TRUE(processUntil([&] { return captionIs(app.title() + " - ready"); })) << panel->windowTitle().toStdString();
    int extNow = 99;
    double extValue = 0;
    EXPECT_EQ(app.t().tvkCtrlGetExtDAC(0, &extNow, &extValue), 0);
    EXPECT_EQ(extNow, -1);

    ASSERT_EQ(worker.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "the acquisition did not end";
    EXPECT_EQ(worker.get(), 0);
    EXPECT_EQ(deviceDacs(app, static_cast<int>(d.names.size()))[static_cast<size_t>(thl)], moved);
    EXPECT_EQ(child<QSpinBox>(panel, QStringLiteral("spin%1").arg(thl))->value(), moved);
    app.t().mgrUnregisterCallback("tvkctrl", "AcqCompleted", &Holder::onAcqCompleted);
}
