// The device control window as a user meets it: the plug-in loaded by a running manager on the simulated
// detector, its window opened from the device's tray item, and every step taken with mouse clicks and
// key presses on the real controls and menus: the test-pulse dialog and a test-pulse acquisition with its
// values, preview errors in the message list, the spins of the counts, and tool windows brought to the
// front or opened beside the windows of the device.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include "ctrl_app.h"
#include "platform/ini.h"
#include "qt_test_support.h"
#include "uikit/message_box.h"

namespace {

namespace fs = std::filesystem;
using ctrl_test::CtrlApp;
using ombrel_test::processUntil;

class CtrlUserRoad : public CtrlApp {
protected:
    // The manager with one simulated device, the control plug-in and the given tool plug-ins (paths of
    // built modules); prepare runs in the app folder before the manager starts.
    void start(const std::vector<std::string>& tools = {}, const std::function<void()>& prepare = {})
    {
        ombrel_test::strictQtMessages();
        std::string list = "plugins/TvkCtrlUI.so\n";
        for (const std::string& tool : tools)
            list += "plugins/" + fs::path(tool).filename().string() + "\n";
        startManager(1, list, [&] {
            fs::copy_file(CTRL_APP_DIR "/TvkCtrlUI.so", "plugins/TvkCtrlUI.so");
            for (const std::string& tool : tools)
                fs::copy_file(tool, "plugins/" + fs::path(tool).filename().string());
            fs::create_directories("configs");
            // The control window does not open by itself: the user opens it from the tray.
            ombrel_test::writeFile("configs/TvkCtrlUI_2000.ini", "[Main]\nAutostart=0\n");
            if (prepare)
                prepare();
        });
        // The plug-in's own message boxes are answered here ("Quit?" with Yes).
        void* module = dlopen((dir_ + "/plugins/TvkCtrlUI.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(module, nullptr);
        using SetHandler = void (*)(const MessageBoxHandler*);
        auto setHandler = reinterpret_cast<SetHandler>(dlsym(module, "tvkctrluiSetMessageBoxHandler"));
        ASSERT_NE(setHandler, nullptr);
        const MessageBoxHandler handler = [this](QWidget*, const QString& text, const QString&, unsigned) {
            boxes_.push_back(text.toStdString());
            return int(MSGBOX_IDYES);
        };
        setHandler(&handler);
        dlclose(module);
    }
    void TearDown() override
    {
        // "Exit" destroys the plug-in's windows; what they left queued runs before the plug-in goes.
        stopManager([] {
            QApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        });
    }

    // Chooses the tray's menu item of that full name, as the tray does.
    void chooseTrayItem(const std::string& fullName)
    {
        int id = 0;
        char name[MGR_MENU_NAME_SIZE] = {};
        for (int rc = t_->mgrGetFirstMenuItem(&id, name); rc == 0; rc = t_->mgrGetNextMenuItem(&id, name))
            if (fullName == name) {
                ASSERT_EQ(t_->mgrCallMenuItemByID(id), 0);
                QApplication::processEvents();
                return;
            }
        FAIL() << "no tray item " << fullName;
    }
    // The visible top-level window whose title begins with prefix, or null.
    static QWidget* window(const QString& prefix)
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle().startsWith(prefix))
                return w;
        return nullptr;
    }
    QWidget* openControlWindow()
    {
        chooseTrayItem("0 - dummy 2000|Tarvik Control");
        QWidget* w = nullptr;
        processUntil([&] { return (w = window("Tarvik 0 UI")) != nullptr; });
        return w;
    }
    template <class T>
    static T* control(QWidget* w, const char* name)
    {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }

    // Clicks through the window's menu bar: the menu titled path[0], then each item down to the last.
    static void clickMenu(QWidget* w, const QStringList& path)
    {
        auto* bar = w->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        QWidget* menuWidget = bar;
        QList<QAction*> actions = bar->actions();
        for (const QString& text : path) {
            const auto it = std::find_if(actions.begin(), actions.end(), [&](QAction* a) { return a->text() == text; });
            ASSERT_NE(it, actions.end()) << text.toStdString();
            const QRect r = menuWidget == bar ? bar->actionGeometry(*it) : static_cast<QMenu*>(menuWidget)->actionGeometry(*it);
            QTest::mouseClick(menuWidget, Qt::LeftButton, Qt::NoModifier, r.center());
            if (!(*it)->menu())
                return;
            QMenu* menu = (*it)->menu();
            ASSERT_TRUE(processUntil([menu] { return menu->isVisible(); })) << text.toStdString();
            menuWidget = menu;
            actions = menu->actions();
        }
    }
    // Runs fn on the modal dialog that the next step opens, once it is shown (the step then returns).
    static void whenModal(std::function<void(QDialog*)> fn)
    {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, [poll, fn] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dlg || !dlg->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            fn(dlg);
        });
        poll->start(20);
    }
    // Types text into an edit over what it held, as a user does: click, select all, type.
    static void typeInto(QLineEdit* edit, const QString& text)
    {
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, text);
    }
    static void clickButton(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    // Chooses an entry of a combo box with the keyboard.
    static void chooseEntry(QComboBox* combo, int index)
    {
        combo->setFocus();
        while (combo->currentIndex() < index)
            QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > index)
            QTest::keyClick(combo, Qt::Key_Up);
    }
    static bool idle(QWidget* w) { return control<QPushButton>(w, "start")->text() == "Start"; }

    std::vector<std::string> boxes_;
};

// Acquisition > Test Pulses Parameters shows the device's limits and values; what the user confirms is what
// the next test-pulse acquisition gives the device.
TEST_F(CtrlUserRoad, TestPulseParametersReachTheDevice)
{
    start();
    QWidget* w = openControlWindow();
    ASSERT_NE(w, nullptr);
    // The simulated device: at most 10000 pulses of 1.2 V, a period of at most 10 us.
    std::vector<std::string> labels, values;
    whenModal([&](QDialog* dlg) {
        EXPECT_EQ(dlg->windowTitle(), "Test pulses parameters");
        for (QLabel* l : dlg->findChildren<QLabel*>())
            labels.push_back(l->text().toStdString());
        const QList<QLineEdit*> edits = dlg->findChildren<QLineEdit*>();
        for (QLineEdit* e : edits)
            values.push_back(e->text().toStdString());
        ASSERT_EQ(edits.size(), 4);
        typeInto(edits[2], "1234"); // the number of pulses
        clickButton(dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
    });
    clickMenu(w, {"&Acquisition", "&Test Pulses Parameters"});
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
    EXPECT_EQ(labels, (std::vector<std::string>{"Pulse height (0 - 1.2) [V]:", "Pulse period (0 - 10.0) [us]:",
                                                "Number of pulses (0 - 10000):", "Spacing (1 - 32):"}));
    // The window's own values: a height of 0.5 V, 100 pulses, spacing 4, and no period yet, which shows
    // half the device's maximum.
    EXPECT_EQ(values, (std::vector<std::string>{"0.5", "5", "100", "4"}));

    // Pulses reach the pixels whose test bit is set: all of them, through the menu.
    clickMenu(w, {"&Configuration", "Reset Pixels Cfg", "Test Bits"});
    chooseEntry(control<QComboBox>(w, "acqType"), 2); // "Test pulses"
    clickButton(control<QPushButton>(w, "start"));
    ASSERT_TRUE(processUntil([w] { return control<QPushButton>(w, "start")->text() == "Start"; }));
    std::vector<uint32_t> frame(65536);
    ASSERT_EQ(t_->tvkCtrlGetFrame32(0, frame.data(), uint32_t(frame.size()), 0), 0);
    EXPECT_EQ(*std::min_element(frame.begin(), frame.end()), 1234u);
    EXPECT_EQ(*std::max_element(frame.begin(), frame.end()), 1234u);
}

// A pixel command of the preview refused during a long exposure says why in "Info and error messages:".
TEST_F(CtrlUserRoad, PreviewErrorsReachTheMessageList)
{
    start();
    QWidget* w = openControlWindow();
    ASSERT_NE(w, nullptr);
    typeInto(control<QLineEdit>(w, "acqTime"), "10");
    QTest::keyClick(control<QLineEdit>(w, "acqTime"), Qt::Key_Tab);
    clickButton(control<QPushButton>(w, "start"));
    ASSERT_EQ(control<QPushButton>(w, "start")->text(), "Abort");
    QWidget* preview = window("Preview for Tarvik 0 UI");
    if (!preview) {
        QTest::keyClick(w, Qt::Key_P, Qt::ControlModifier); // "Preview Visible"
        ASSERT_TRUE(processUntil([&] { return (preview = window("Preview for Tarvik 0 UI")) != nullptr; }));
    }
    QWidget* picture = nullptr;
    for (QWidget* c : preview->findChildren<QWidget*>())
        if (QString::fromLatin1(c->metaObject()->className()) == "CPicture")
            picture = c;
    ASSERT_NE(picture, nullptr);
    // The pixel menu is a popup of its own: "Mask Pixel" is clicked in it once it shows.
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll->stop();
        poll->deleteLater();
        for (QAction* a : menu->actions())
            if (a->text() == "Mask Pixel")
                QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(a).center());
    });
    poll->start(20);
    QTest::mouseClick(picture, Qt::RightButton, Qt::NoModifier, picture->rect().center());
    auto* messages = control<QListWidget>(w, "messages");
    const auto hasLine = [messages](const QString& text) {
        return !messages->findItems(text, Qt::MatchExactly).isEmpty();
    };
    EXPECT_TRUE(processUntil([&] { return hasLine("Cannot lock device for setting mask (another operation in progress)."); }));
    clickButton(control<QPushButton>(w, "start")); // "Abort"
    EXPECT_TRUE(processUntil([w] { return idle(w); }));
}

// The spins beside "Acq. count:" and the repeat count step the numbers the edits show within 1..1000000000
// and 0..1000000000; the stepped values are those the window keeps.
TEST_F(CtrlUserRoad, CountSpinsStepWithinTheirRanges)
{
    start();
    QWidget* w = openControlWindow();
    ASSERT_NE(w, nullptr);
    // The repeat count, its arrows too, is usable with "Repeat" only.
    for (bool repeat : {false, true}) {
        EXPECT_EQ(control<QLineEdit>(w, "repeatCount")->isEnabled(), repeat);
        for (QToolButton* b : control<QWidget>(w, "repeatCountSpin")->findChildren<QToolButton*>())
            EXPECT_EQ(b->isEnabled(), repeat);
        if (!repeat)
            clickButton(control<QCheckBox>(w, "repeat"));
    }
    enum Step { Up, Down, KeyUp, KeyDown };
    struct Case {
        const char* edit;
        const char* typed;
        std::vector<Step> steps;
        const char* shown;
    } cases[] = {
        {"acqCount", "5", {Up, Up, Down}, "6"},
        {"acqCount", "1", {Down}, "1"},
        {"acqCount", "999999999", {Up, Up}, "1000000000"},
        {"acqCount", "0", {Up}, "1"},
        {"acqCount", "12", {KeyDown, KeyDown}, "10"},
        {"repeatCount", "0", {Down}, "0"},
        {"repeatCount", "1000000000", {Up}, "1000000000"},
        {"repeatCount", "7", {KeyUp, Up}, "9"},
        {"acqCount", "two", {Up}, "11"}, // no number: steps from the value kept (10, two cases up)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.edit) + " " + c.typed);
        auto* edit = control<QLineEdit>(w, c.edit);
        QWidget* spin = control<QWidget>(w, (std::string(c.edit) + "Spin").c_str());
        QToolButton *up = nullptr, *down = nullptr;
        for (QToolButton* b : spin->findChildren<QToolButton*>())
            (b->arrowType() == Qt::UpArrow ? up : down) = b;
        ASSERT_TRUE(up && down);
        EXPECT_TRUE(up->isEnabled());
        typeInto(edit, c.typed);
        if (std::string(c.typed) != "two") // a bad text stays in the edit; its box comes at the focus loss
            QTest::keyClick(edit, Qt::Key_Tab);
        for (Step s : c.steps) {
            if (s == Up || s == Down)
                clickButton(s == Up ? up : down);
            else
                QTest::keyClick(edit, s == KeyUp ? Qt::Key_Up : Qt::Key_Down);
        }
        EXPECT_EQ(edit->text().toStdString(), c.shown);
    }
    // The values the spins showed are the window's: closing it ("Quit?" Yes) saves them.
    const std::string ini = dir_ + "/configs/TvkCtrlUI_2000.ini";
    clickMenu(w, {"&Device", "E&xit"});
    ASSERT_TRUE(processUntil([] { return window("Tarvik 0 UI") == nullptr; }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(plat::getProfileInt("Main", "AcqCount", 0, ini.c_str()), 11);
    EXPECT_EQ(plat::getProfileInt("Main", "RepeatCount", 0, ini.c_str()), 9);
}

// Choosing a tool (or "Tarvik Control") for a window that is open brings that window back, to the front and
// with the focus; a tool window with no stored place opens a step below and right of the device's control
// window, the next one a step further, not in the screen's corner over each other.
TEST_F(CtrlUserRoad, ToolWindowsComeToTheFrontAndCascade)
{
    start({CTRL_DEMO_TOOL_PATH, CTRL_SECOND_TOOL_PATH}, [] {
        ombrel_test::writeFile("configs/TvkCtrlUI_2000.ini", "[Main]\nAutostart=0\nLeft=200\nTop=150\nShowCmd=1\n");
    });
    QWidget* w = openControlWindow();
    ASSERT_NE(w, nullptr);
    const QPoint control = w->frameGeometry().topLeft();
    ASSERT_EQ(control, QPoint(200, 150));
    // One step: the height of a title bar, at least 24 pixels.
    const int step = std::max(w->geometry().top() - w->frameGeometry().top(), 24);
    const struct {
        const char* tool;
        const char* title;
        int steps;
    } tools[] = {{"Demo", "Demo 0", 1}, {"DAC Control Panel", "DAC Control Panel 0", 2}};
    for (const auto& t : tools) {
        SCOPED_TRACE(t.tool);
        clickMenu(w, {"&Tools", t.tool});
        QWidget* tool = nullptr;
        ASSERT_TRUE(processUntil([&] { return (tool = window(t.title)) != nullptr; }));
        // A window too wide for the rest of the screen moves left only as far as it must to stay on it.
        QPoint expected = control + QPoint(t.steps * step, t.steps * step);
        const QRect screen = tool->screen()->availableGeometry();
        expected.setX(std::max(screen.left(), std::min(expected.x(), screen.right() + 1 - tool->frameGeometry().width())));
        EXPECT_EQ(tool->frameGeometry().topLeft(), expected) << tool->frameGeometry().width() << " wide";
    }

    // Chosen again while minimised or behind another window: shown normal, active, focused.
    QWidget* demo = window("Demo 0");
    demo->showMinimized();
    QApplication::processEvents();
    w->activateWindow();
    ASSERT_TRUE(processUntil([w] { return QApplication::activeWindow() == w; }));
    clickMenu(w, {"&Tools", "Demo"});
    EXPECT_TRUE(processUntil([demo] { return QApplication::activeWindow() == demo; }));
    EXPECT_FALSE(demo->isMinimized());

    w->showMinimized();
    QApplication::processEvents();
    chooseTrayItem("0 - dummy 2000|Tarvik Control");
    EXPECT_TRUE(processUntil([w] { return QApplication::activeWindow() == w; }));
    EXPECT_FALSE(w->isMinimized());
    EXPECT_EQ(window("Tarvik 0 UI"), w) << "the open window, not a second one";
}

} // namespace
