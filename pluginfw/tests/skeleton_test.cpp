// The skeletons' windows over the fake manager table, offscreen: menu items and subscriptions, one window
// per device, placement to and from the chip board's file, device changes (also from other threads) with
// the dialogs of the equalization and coincidence tools, hidden windows, failed windows, and exit.
#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QScreen>

#include <gtest/gtest.h>

#include "fake_mgr.h"
#include "mult_data_wnd.h"
#include "ombrel_test_support.h"
#include "platform/ini.h"
#include "simple_plugin.h"
#include "uikit/message_box.h"

namespace {

std::vector<std::string> gBoxes;

// ---- the tool dialogs of the equalization plug-in's kind ----

// Creations of windows per tool, and the value a dialog took from its control when it closed.
std::atomic<int> gDacScanCreated{0};
std::atomic<int> gAnalogCreated{0};
std::string gTakenValue;
bool gFailNextCreate = false;

// Restores its placement, takes its control's value on close, and on a device change closes (into the
// old file) and reopens (from the new one) in the normal state.
class DacScanDlg : public CPluginDlg {
public:
    static constexpr const char* kToolName = "DAC scan";
    explicit DacScanDlg(int devId) : edit_(new QLineEdit(this)) { edit_->setText(QString::number(devId)); }

    bool Create() override
    {
        if (gFailNextCreate) {
            gFailNextCreate = false;
            return false;
        }
        ++gDacScanCreated;
        setMinimumSize(150, 80);
        resize(320, 120);
        owner()->loadWindowPos();
        return true;
    }
    QLineEdit* edit() const { return edit_; }

protected:
    void OnClose() override
    {
        gTakenValue = edit_->text().toStdString();
        CPluginDlg::OnClose();
    }

private:
    QLineEdit* edit_;
};

// May be hidden: on a device change it is rebuilt and shown again only when it was visible.
class AnalogScanDlg : public CPluginDlg {
public:
    static constexpr const char* kToolName = "Analog scan";
    explicit AnalogScanDlg(int) {}
    bool Create() override
    {
        ++gAnalogCreated;
        resize(200, 100);
        owner()->loadWindowPos();
        return true;
    }
    void deviceChanged() override { reopenKeepingVisibility(); }
};

// Restores its size too (the cluster and pulse tools' kind).
class SizedDlg : public CPluginDlg {
public:
    static constexpr const char* kToolName = "Sized";
    explicit SizedDlg(int) {}
    bool Create() override
    {
        resize(200, 100);
        owner()->loadWindowPos(PlacementForm::MoveAndSize);
        return true;
    }
};

class SizedData : public MultDataBaseWnd<SizedDlg> {
public:
    explicit SizedData(int devId) : MultDataBaseWnd(devId) {}
};

class DacScanData : public MultDataBaseWnd<DacScanDlg> {
public:
    explicit DacScanData(int devId) : MultDataBaseWnd(devId) {}
};

class AnalogScanData : public MultDataBaseWnd<AnalogScanDlg> {
public:
    explicit AnalogScanData(int devId) : MultDataBaseWnd(devId) { hideOnClose = true; }
};

// ---- the coincidence tool's kind: one window, restores nothing at start ----

class CoincDlg : public CPluginDlg {
public:
    static constexpr const char* kToolName = "Coincidence";
    CoincDlg() : edit_(new QLineEdit(this)) {}
    bool Create() override
    {
        resize(260, 90);
        return true;
    }
    QLineEdit* edit() const { return edit_; }

protected:
    void OnClose() override
    {
        gTakenValue = edit_->text().toStdString();
        CPluginDlg::OnClose();
    }

private:
    QLineEdit* edit_;
};

class CoincMgr : public SingDataPluginMgr<CoincDlg> {
public:
    void onStart() override
    {
        ++starts;
        autostart();
    }
    int starts = 0;
};

// ---- helpers ----

using fakemgr::fire;

fakemgr::MenuItem menuItem(int devId, const std::string& name)
{
    std::lock_guard lock(fakemgr::state().m);
    for (const fakemgr::MenuItem& item : fakemgr::state().menuItems)
        if (item.devId == devId && item.name == name)
            return item;
    return {};
}

void callMenu(int devId, const std::string& name)
{
    const fakemgr::MenuItem item = menuItem(devId, name);
    ASSERT_NE(item.callback, nullptr) << name;
    item.callback(item.userData);
}

// Lets deferred deletions and queued calls run.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

template <class Dlg>
std::vector<Dlg*> windowsOf()
{
    std::vector<Dlg*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = dynamic_cast<Dlg*>(w))
            found.push_back(d);
    return found;
}

// Fires Exit when the test's tool goes out of scope, also after a failed assertion, so that no window
// outlives its test. Declared right after the tool.
struct ExitAtEnd {
    ~ExitAtEnd()
    {
        fire("tvkmgr", "Exit", 0);
        settle();
    }
};

class SkeletonTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = ombrel_test::scratchDir("pluginfw-skeleton");
        configs = dir + "/configs/";
        std::filesystem::create_directories(configs);
        fakemgr::reset(configs);
        gBoxes.clear();
        gTakenValue.clear();
        gDacScanCreated = 0;
        gAnalogCreated = 0;
        setMessageBoxHandler([](QWidget*, const QString& text, const QString& title, unsigned) {
            gBoxes.push_back(title.toStdString() + ": " + text.toStdString());
            return int(MSGBOX_IDOK);
        });
    }
    void TearDown() override
    {
        settle();
        setMessageBoxHandler({});
        setPluginTable(nullptr);
    }
    std::string iniOf(const std::string& chipboard) const { return configs + "plugin_skeleton_" + chipboard + ".ini"; }

    std::string dir;
    std::string configs;
    const _MgrFuncTable table = fakemgr::table();
};

TEST_F(SkeletonTest, SubscriptionsMenuItemsAndOneWindowPerDevice)
{
    fakemgr::setDevice(0, "A");
    fakemgr::setDevice(3, "B", TVK_ERR_DEV_NOT_INIT);
    MultDataPluginMgr<DacScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);

    {
        std::lock_guard lock(fakemgr::state().m);
        const fakemgr::State& s = fakemgr::state();
        ASSERT_EQ(s.subscriptions.size(), 4u);
        EXPECT_EQ(s.subscriptions[0].source + " " + s.subscriptions[0].event, "tvkmgr Start");
        EXPECT_EQ(s.subscriptions[1].source + " " + s.subscriptions[1].event, "tvkmgr Exit");
        EXPECT_EQ(s.subscriptions[2].source + " " + s.subscriptions[2].event, "tvkctrl TvkDevChanged");
        EXPECT_EQ(s.subscriptions[3].source + " " + s.subscriptions[3].event, "tvkctrl TvkDevNew");
        ASSERT_EQ(s.menuItems.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const int devId = i == 0 ? 0 : 3;
            EXPECT_EQ(s.menuItems[i].devId, devId);
            EXPECT_EQ(s.menuItems[i].plugin, "plugin_skeleton");
            EXPECT_EQ(s.menuItems[i].name, "DAC scan");
            EXPECT_EQ(s.menuItems[i].path, "");
            EXPECT_EQ(reinterpret_cast<intptr_t>(s.menuItems[i].userData), devId);
        }
        ASSERT_EQ(s.msgHandlers.size(), 1u);
        TvkMsg msg{};
        EXPECT_EQ(s.msgHandlers[0](&msg), 0); // Qt handles the dialogs' keys itself
    }

    // The menu twice: one window, brought to the front; its caption names the device.
    callMenu(0, "DAC scan");
    callMenu(0, "DAC scan");
    ASSERT_EQ(windowsOf<DacScanDlg>().size(), 1u);
    DacScanDlg* w = tool.find(0)->dlg();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle().toStdString(), "DAC scan 0 (fake usb A)");
    EXPECT_EQ(gDacScanCreated.load(), 1);

    // The device whose description could not be read: empty texts, no stale pointer printed.
    callMenu(3, "DAC scan");
    EXPECT_EQ(tool.find(3)->dlg()->windowTitle().toStdString(), "DAC scan 3 ( )");
    EXPECT_EQ(windowsOf<DacScanDlg>().size(), 2u);

    // Unknown devices are ignored.
    fire("tvkctrl", "TvkDevChanged", 9);
    EXPECT_EQ(windowsOf<DacScanDlg>().size(), 2u);

    // Exit: no window stays, the data objects are gone.
    fire("tvkmgr", "Exit", 0);
    settle();
    EXPECT_TRUE(windowsOf<DacScanDlg>().empty());
    EXPECT_TRUE(tool.devices.empty());
    EXPECT_TRUE(gBoxes.empty());
}

TEST_F(SkeletonTest, PlacementFollowsTheChipBoardThroughADeviceChange)
{
    fakemgr::setDevice(0, "A");
    ASSERT_TRUE(ombrel_test::writeFile(iniOf("B"), "[Position DAC scan]\nShowCmd=1\nLeft=300\nTop=200\n"));
    MultDataPluginMgr<DacScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    DacScanData* data = tool.find(0);
    ASSERT_EQ(data->showWindow(SW_SHOWNORMAL), 0);
    data->dlg()->move(50, 60);
    const QSize size = data->dlg()->size();
    const int outerWidth = data->dlg()->frameGeometry().width();

    fakemgr::setDevice(0, "B");
    fire("tvkctrl", "TvkDevChanged", 0);
    settle();

    // The old window's placement went to A's file, the new window came from B's.
    EXPECT_EQ(plat::iniRead(iniOf("A"), "Position DAC scan", "Left"), "50");
    EXPECT_EQ(plat::iniRead(iniOf("A"), "Position DAC scan", "Top"), "60");
    EXPECT_EQ(plat::iniRead(iniOf("A"), "Position DAC scan", "Right"), std::to_string(50 + outerWidth));
    ASSERT_NE(data->dlg(), nullptr);
    EXPECT_EQ(data->dlg()->pos(), QPoint(300, 200));
    EXPECT_EQ(data->dlg()->size(), size);
    EXPECT_TRUE(data->dlg()->isVisible());
    EXPECT_EQ(data->dlg()->windowTitle().toStdString(), "DAC scan 0 (fake usb B)");
    EXPECT_EQ(data->saveIniFile, iniOf("B"));
    EXPECT_EQ(windowsOf<DacScanDlg>().size(), 1u);
    EXPECT_EQ(gDacScanCreated.load(), 2);
}

TEST_F(SkeletonTest, HiddenWindowStaysHiddenAndIsSavedAtExit)
{
    fakemgr::setDevice(0, "A");
    MultDataPluginMgr<AnalogScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    AnalogScanData* data = tool.find(0);
    ASSERT_EQ(data->showWindow(SW_SHOWNORMAL), 0);
    data->dlg()->move(40, 30);

    // The user's close only hides: nothing written.
    data->dlg()->close();
    settle();
    ASSERT_NE(data->dlg(), nullptr);
    EXPECT_FALSE(data->dlg()->isVisible());
    EXPECT_FALSE(std::filesystem::exists(iniOf("A")));

    // A device change rebuilds it, still hidden.
    fire("tvkctrl", "TvkDevChanged", 0);
    settle();
    ASSERT_NE(data->dlg(), nullptr);
    EXPECT_FALSE(data->dlg()->isVisible());
    EXPECT_EQ(gAnalogCreated.load(), 2);
    EXPECT_EQ(windowsOf<AnalogScanDlg>().size(), 1u);
    EXPECT_EQ(plat::iniRead(iniOf("A"), "Position Analog scan", "Left"), "40");

    // Exit destroys even a hidden window and writes its placement.
    std::filesystem::remove(iniOf("A"));
    fire("tvkmgr", "Exit", 0);
    settle();
    EXPECT_TRUE(windowsOf<AnalogScanDlg>().empty());
    EXPECT_EQ(plat::iniRead(iniOf("A"), "Position Analog scan", "Left"), "40");
}

TEST_F(SkeletonTest, DeviceChangeRebuildsAWindowKeptHiddenOnClose)
{
    // A dialog with the default device change whose plug-in keeps it hidden on close (as another plug-in
    // may ask through a registered function): the change still rebuilds it for the new chip board.
    const struct {
        const char* name;
        bool hideFirst;
    } cases[] = {{"shown", false}, {"hidden by the user's close", true}};
    for (const auto& c : cases) {
        fakemgr::reset(configs); // the subscriptions of the case before
        fakemgr::setDevice(0, "A");
        std::filesystem::remove(iniOf("A"));
        ASSERT_TRUE(ombrel_test::writeFile(iniOf("B"), "[Position DAC scan]\nShowCmd=1\nLeft=300\nTop=200\n"));
        gDacScanCreated = 0;
        MultDataPluginMgr<DacScanData> tool;
        ExitAtEnd exitAtEnd;
        ASSERT_EQ(tool.init(&table), 0);
        DacScanData* data = tool.find(0);
        data->hideOnClose = true;
        ASSERT_EQ(data->showWindow(SW_SHOWNORMAL), 0);
        data->dlg()->move(50, 60);
        if (c.hideFirst) {
            data->dlg()->close();
            settle();
            ASSERT_FALSE(data->dlg()->isVisible()) << c.name;
        }

        fakemgr::setDevice(0, "B");
        fire("tvkctrl", "TvkDevChanged", 0);
        settle();

        EXPECT_EQ(gDacScanCreated.load(), 2) << c.name;
        EXPECT_EQ(plat::iniRead(iniOf("A"), "Position DAC scan", "Left"), "50") << c.name;
        ASSERT_NE(data->dlg(), nullptr) << c.name;
        EXPECT_EQ(data->dlg()->pos(), QPoint(300, 200)) << c.name;
        EXPECT_EQ(data->dlg()->isVisible(), !c.hideFirst) << c.name;
        EXPECT_EQ(windowsOf<DacScanDlg>().size(), 1u) << c.name;
    }
}

TEST_F(SkeletonTest, StoredOuterSizeHoldsOverOpeningsAndClosings)
{
    // A new window has no frame until it is shown: the stored outer size must not become its client size,
    // or the window grows by its frame at every opening.
    fakemgr::setDevice(0, "A");
    const std::string stored = "[Position Sized]\nShowCmd=1\nLeft=100\nTop=80\nRight=400\nBottom=300\n";
    ASSERT_TRUE(ombrel_test::writeFile(iniOf("A"), stored));
    MultDataPluginMgr<SizedData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    SizedData* data = tool.find(0);
    const auto storedRect = [&] {
        const char* keys[] = {"Left", "Top", "Right", "Bottom"};
        std::string text;
        for (const char* key : keys)
            text += plat::iniRead(iniOf("A"), "Position Sized", key).value_or("-") + " ";
        return text;
    };
    for (int opening = 1; opening <= 3; ++opening) {
        ASSERT_EQ(data->showWindow(SW_SHOWNORMAL), 0);
        settle();
        EXPECT_EQ(data->dlg()->frameGeometry(), QRect(100, 80, 300, 220)) << "opening " << opening;
        data->dlg()->close();
        settle();
        EXPECT_EQ(storedRect(), "100 80 400 300 ") << "opening " << opening;
    }
    // A window made hidden and never shown keeps the stored placement, not its frameless size.
    ASSERT_EQ(data->showWindow(SW_HIDE), 0);
    fire("tvkmgr", "Exit", 0);
    settle();
    EXPECT_EQ(storedRect(), "100 80 400 300 ");
}

TEST_F(SkeletonTest, ChangeFromAnotherThreadWhileTheWindowIsBusy)
{
    fakemgr::setDevice(0, "A");
    MultDataPluginMgr<DacScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    DacScanData* data = tool.find(0);
    ASSERT_EQ(data->showWindow(SW_SHOWNORMAL), 0);

    // The GUI thread holds the data object's lock (as a window handler would) while a worker reports the
    // change: the worker is not held up, and the window is rebuilt once the GUI thread is free.
    std::atomic<bool> returned{false};
    std::thread worker;
    {
        CritSecGuard busy(data->lock);
        worker = std::thread([&] {
            fire("tvkctrl", "TvkDevChanged", 0);
            returned = true;
        });
        const auto start = std::chrono::steady_clock::now();
        while (!returned && std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(returned.load());
        EXPECT_EQ(gDacScanCreated.load(), 1);
    }
    worker.join();
    settle();
    EXPECT_EQ(gDacScanCreated.load(), 2);
    EXPECT_EQ(windowsOf<DacScanDlg>().size(), 1u);

    // A menu call from a worker is queued too; showWindow from a worker waits for the GUI thread.
    data->dlg()->close();
    settle();
    ASSERT_EQ(data->dlg(), nullptr);
    std::thread menu([] { callMenu(0, "DAC scan"); });
    menu.join();
    settle();
    ASSERT_NE(data->dlg(), nullptr);
    std::atomic<int> rc{1};
    std::thread shower([&] { rc = data->showWindow(SW_SHOWNORMAL); });
    while (rc == 1)
        QCoreApplication::processEvents();
    shower.join();
    EXPECT_EQ(rc.load(), 0);
    EXPECT_EQ(windowsOf<DacScanDlg>().size(), 1u);
}

TEST_F(SkeletonTest, FailedAndImpossibleWindows)
{
    fakemgr::setDevice(0, "A");
    MultDataPluginMgr<DacScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    DacScanData* data = tool.find(0);

    // A window that cannot be made is not kept: -1, and the next call makes one.
    gFailNextCreate = true;
    EXPECT_EQ(data->showWindow(SW_SHOWNORMAL), -1);
    EXPECT_EQ(data->dlg(), nullptr);
    settle();
    EXPECT_TRUE(windowsOf<DacScanDlg>().empty());
    EXPECT_EQ(data->showWindow(SW_SHOWNORMAL), 0);
    EXPECT_NE(data->dlg(), nullptr);
    EXPECT_TRUE(gBoxes.empty());

    // No memory for the dialog object: the box, -1.
    class Starved : public DacScanData {
    public:
        Starved() : DacScanData(0) {}

    protected:
        CPluginDlg* createDialog() override { throw std::bad_alloc(); }
    } starved;
    EXPECT_EQ(starved.showWindow(SW_SHOWNORMAL), -1);
    EXPECT_EQ(gBoxes, std::vector<std::string>{"ombrel_tests: Memory allocation error."});
}

TEST_F(SkeletonTest, StoredPlacementsThatCannotBeShownAsTheyAre)
{
    fakemgr::setDevice(0, "A");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        const char* name;
        std::string section;
        bool maximized;
        QPoint pos; // of the outer rectangle; x -1: flush with the screen's right edge
    } cases[] = {
        {"far right", "ShowCmd=1\nLeft=100000\nTop=10\n", false, QPoint(-1, 10)},
        {"far up and left", "Left=-5000\nTop=-5000\n", false, screen.topLeft()},
        {"maximised", "ShowCmd=3\nLeft=10\nTop=20\n", true, QPoint(10, 20)},
        {"unknown show state", "ShowCmd=77\nLeft=10\nTop=20\n", false, QPoint(10, 20)},
        {"hidden show state", "ShowCmd=0\nLeft=10\nTop=20\n", false, QPoint(10, 20)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ombrel_test::writeFile(iniOf("A"), "[Position DAC scan]\n" + c.section));
        {
            MultDataPluginMgr<DacScanData> tool;
            ExitAtEnd exitAtEnd;
            ASSERT_EQ(tool.init(&table), 0);
            DacScanData* data = tool.find(0);
            ASSERT_EQ(data->showWindow(SW_SHOWNORMAL), 0) << c.name;
            QWidget* w = data->dlg();
            EXPECT_TRUE(w->isVisible()) << c.name;
            EXPECT_EQ(w->isMaximized(), c.maximized) << c.name;
            if (c.maximized)
                continue;
            const QRect outer = w->frameGeometry();
            EXPECT_TRUE(screen.contains(outer)) << c.name;
            EXPECT_EQ(outer.top(), c.pos.y()) << c.name;
            if (c.pos.x() < 0)
                EXPECT_EQ(outer.right(), screen.right()) << c.name;
            else
                EXPECT_EQ(outer.left(), c.pos.x()) << c.name;
        }
        fakemgr::reset(configs);
        fakemgr::setDevice(0, "A");
    }
}

TEST_F(SkeletonTest, AutostartOpensOnlyMarkedDevices)
{
    fakemgr::setDevice(0, "A");
    fakemgr::setDevice(1, "B");
    fakemgr::setDevice(2, "C");
    ASSERT_TRUE(ombrel_test::writeFile(iniOf("B"), "[DAC scan]\nAutostart=1\n"));
    ASSERT_TRUE(ombrel_test::writeFile(iniOf("C"), "[DAC scan]\nAutostart=0\n"));
    MultDataPluginMgr<DacScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    fire("tvkmgr", "Start", 0);
    EXPECT_EQ(tool.find(0)->dlg(), nullptr);
    ASSERT_NE(tool.find(1)->dlg(), nullptr);
    EXPECT_EQ(tool.find(2)->dlg(), nullptr);
}

// A device found while the program runs ("tvkctrl" "TvkDevNew") gets the tool's menu item in its own
// sub-menu and its window from it, as the devices present at start do; a device the tool already has gets
// no second item, and after the exit a new device gets nothing.
TEST_F(SkeletonTest, ADeviceFoundLaterGetsItsMenuItemAndWindow)
{
    fakemgr::setDevice(0, "A");
    MultDataPluginMgr<DacScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    fire("tvkmgr", "Start", 0);
    const auto itemsOf = [](int devId) {
        std::lock_guard lock(fakemgr::state().m);
        int n = 0;
        for (const fakemgr::MenuItem& item : fakemgr::state().menuItems)
            n += item.devId == devId && item.name == "DAC scan" && item.plugin == "plugin_skeleton" &&
                 item.path.empty() && reinterpret_cast<intptr_t>(item.userData) == devId;
        return n;
    };

    struct Case {
        const char* what;
        int devId;
        const char* chipboard; // the device's description, set before the event
        const char* caption;   // of the window its menu item opens
    };
    const Case cases[] = {
        {"a new device", 5, "C", "DAC scan 5 (fake usb C)"},
        {"the same device once more", 5, "C", "DAC scan 5 (fake usb C)"},
        {"a device present at start", 0, "A", "DAC scan 0 (fake usb A)"},
        {"a second new device", 2, "D", "DAC scan 2 (fake usb D)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakemgr::setDevice(c.devId, c.chipboard);
        fire("tvkctrl", "TvkDevNew", c.devId);
        settle();
        EXPECT_EQ(itemsOf(c.devId), 1);
        ASSERT_NO_FATAL_FAILURE(callMenu(c.devId, "DAC scan"));
        ASSERT_NE(tool.find(c.devId), nullptr);
        DacScanDlg* w = tool.find(c.devId)->dlg();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->windowTitle().toStdString(), c.caption);
    }
    EXPECT_EQ(windowsOf<DacScanDlg>().size(), 3u);
    EXPECT_EQ(gDacScanCreated.load(), 3);

    // After the exit the tool keeps no device and takes no new one.
    fire("tvkmgr", "Exit", 0);
    settle();
    EXPECT_TRUE(windowsOf<DacScanDlg>().empty());
    fakemgr::setDevice(7, "E");
    fire("tvkctrl", "TvkDevNew", 7);
    settle();
    EXPECT_EQ(itemsOf(7), 0);
    EXPECT_TRUE(tool.devices.empty());
}

TEST_F(SkeletonTest, PostsReachOnlyALiveWindow)
{
    fakemgr::setDevice(0, "A");
    MultDataPluginMgr<DacScanData> tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    DacScanData* data = tool.find(0);
    EXPECT_FALSE(data->postToWindow(new QEvent(QEvent::User)));
    ASSERT_EQ(data->showWindow(SW_SHOWNORMAL), 0);
    bool posted = false;
    std::thread poster([&] { posted = data->postToWindow(new QEvent(QEvent::User)); });
    poster.join();
    EXPECT_TRUE(posted);
    data->closeWindow(false);
    EXPECT_FALSE(data->postToWindow(new QEvent(QEvent::User)));
    settle();
}

TEST_F(SkeletonTest, SingleWindowTool)
{
    fakemgr::setDevice(0, "A");
    fakemgr::setDevice(1, "B");
    CoincMgr tool;
    ExitAtEnd exitAtEnd;
    ASSERT_EQ(tool.init(&table), 0);
    EXPECT_EQ(tool.pluginName, "plugin_skeleton");
    EXPECT_EQ(tool.iniFile, configs + "plugin_skeleton.ini");
    ASSERT_EQ(tool.devices.size(), 2u);
    EXPECT_STREQ(tool.devices.at(1)->chipboardId, "B");
    {
        std::lock_guard lock(fakemgr::state().m);
        const fakemgr::State& s = fakemgr::state();
        ASSERT_EQ(s.subscriptions.size(), 2u);
        EXPECT_EQ(s.subscriptions[0].event, "Start");
        EXPECT_EQ(s.subscriptions[1].event, "Exit");
        ASSERT_EQ(s.menuItems.size(), 1u);
        EXPECT_EQ(s.menuItems[0].path, "Utilities");
        EXPECT_EQ(s.menuItems[0].name, "Coincidence");
    }
    fire("tvkmgr", "Start", 0);
    EXPECT_EQ(tool.starts, 1);
    EXPECT_EQ(tool.dlg(), nullptr);

    callMenu(-1, "Coincidence");
    callMenu(-1, "Coincidence");
    ASSERT_EQ(windowsOf<CoincDlg>().size(), 1u);
    tool.dlg()->move(70, 90);
    const QSize outer = tool.dlg()->frameGeometry().size();
    tool.dlg()->edit()->setText("window 2");
    tool.dlg()->close();
    settle();
    EXPECT_EQ(tool.dlg(), nullptr);
    EXPECT_TRUE(windowsOf<CoincDlg>().empty());
    EXPECT_EQ(gTakenValue, "window 2");
    EXPECT_EQ(ombrel_test::readFile(tool.iniFile), "[Position Coincidence]\nShowCmd=1\nLeft=70\nTop=90\nRight=" +
                                                       std::to_string(70 + outer.width()) + "\nBottom=" +
                                                       std::to_string(90 + outer.height()) + "\n");

    // Exit: window closed with its placement, device records freed.
    callMenu(-1, "Coincidence");
    tool.dlg()->move(5, 6);
    fire("tvkmgr", "Exit", 0);
    settle();
    EXPECT_TRUE(windowsOf<CoincDlg>().empty());
    EXPECT_TRUE(tool.devices.empty());
    EXPECT_EQ(plat::iniRead(tool.iniFile, "Position Coincidence", "Left"), "5");
}

} // namespace
