// The demo tool plug-ins as the manager meets them: their entry over the fake table (version check,
// registrations), then both loaded by the real manager in a scratch app folder with two simulated
// devices, offscreen: menu items, windows, placement files, autostart, a reconnect from a worker, a device
// found while running, exit.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include "fake_mgr.h"
#include "plugin_under_test.h"
#include "ombrel_test_support.h"
#include "platform/ini.h"
#include "platform/module.h"
#include "manager/tvk_manager.h"
#include "uikit/message_box.h"

namespace fs = std::filesystem;

namespace {

// A demo plug-in opened by the test, its boxes recorded.
class DemoModule : public ombrel_test::PluginUnderTest {
public:
    explicit DemoModule(const std::string& path) : PluginUnderTest(path, "demoSetMessageBoxHandler") {}
};

std::vector<QWidget*> windowsNamed(const char* objectName)
{
    std::vector<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName)
            found.push_back(w);
    return found;
}

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(DemoEntry, VersionCheckAndRegistrationsOverTheFakeTable)
{
    const std::string dir = ombrel_test::scratchDir("pluginfw-demo-entry");
    fakemgr::reset(dir + "/");
    fakemgr::setDevice(0, "A");
    fakemgr::setDevice(1, "B");
    {
        DemoModule demo(DEMO_MULTI_PATH);
        ombrel_test::expectVersionRefused(demo, "demo_multi");

        static const _MgrFuncTable table = fakemgr::table();
        ASSERT_EQ(demo.init(&table), 0);
        const std::vector<std::string> events = {"tvkmgr Start", "tvkmgr Exit", "tvkctrl TvkDevChanged",
                                                 "tvkctrl TvkDevNew"};
        EXPECT_EQ(fakemgr::subscribedEvents(), events);
        // A fault of the plug-in's worker reaches the manager's log with a warning box.
        const auto runThrowingWorker = reinterpret_cast<int (*)()>(demo.module().symbol("demoRunThrowingWorker"));
        ASSERT_NE(runThrowingWorker, nullptr);
        EXPECT_EQ(runThrowingWorker(), -1);
        const std::vector<fakemgr::LogEntry> log = fakemgr::logEntries();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].source, "demo_multi");
        EXPECT_EQ(log[0].text, "Unhandled exception occurred in worker thread:\rdemo fault\rConsider restarting program.");
        EXPECT_EQ(log[0].flags, MGRLOG_MSGBOX);
        std::lock_guard lock(fakemgr::state().m);
        const fakemgr::State& s = fakemgr::state();
        ASSERT_EQ(s.menuItems.size(), 2u);
        for (int dev = 0; dev < 2; ++dev) {
            EXPECT_EQ(s.menuItems[dev].devId, dev);
            EXPECT_EQ(s.menuItems[dev].plugin, "demo_multi");
            EXPECT_EQ(s.menuItems[dev].name, "Demo");
            EXPECT_EQ(reinterpret_cast<intptr_t>(s.menuItems[dev].userData), dev);
        }
        // Exit before the module goes, as the manager does.
        for (const auto& sub : s.subscriptions)
            if (sub.event == "Exit")
                sub.callback(0);
    }
    fakemgr::reset(dir + "/");
    {
        DemoModule single(DEMO_SINGLE_PATH);
        ombrel_test::expectVersionRefused(single, "demo_single", 18);
    }
}

TEST(DemoEntry, SingleToolBindsPreviewsAtStartAndOpensOne)
{
    const std::string dir = ombrel_test::scratchDir("pluginfw-demo-single");
    fakemgr::reset(dir + "/");
    fakemgr::setDevice(0, "A");
    fakemgr::offerPreviews();
    DemoModule single(DEMO_SINGLE_PATH);
    static const _MgrFuncTable table = fakemgr::table();
    ASSERT_EQ(single.init(&table), 0);
    fakemgr::MenuItem item;
    {
        std::lock_guard lock(fakemgr::state().m);
        ASSERT_EQ(fakemgr::state().menuItems.size(), 1u);
        item = fakemgr::state().menuItems[0];
    }
    EXPECT_EQ(item.path, "Utilities");
    EXPECT_EQ(item.name, "Demo single");
    EXPECT_EQ(item.plugin, "demo_single");

    fakemgr::fire("tvkmgr", "Start", 0);
    EXPECT_TRUE(fakemgr::previewCalls().empty()); // bound, nothing opened yet
    item.callback(item.userData);
    ASSERT_EQ(windowsNamed("DemoSingleDlg").size(), 1u);
    std::vector<std::string> names;
    for (const fakemgr::PreviewCall& c : fakemgr::previewCalls())
        names.push_back(c.function);
    EXPECT_EQ(names, (std::vector<std::string>{"PrevWndCreateDevID", "PrevWndAutoUpdate", "PrevWndSetErrorCb",
                                               "PrevWndSetCaption", "PrevWndShow"}));
    const std::vector<fakemgr::PreviewCall> calls = fakemgr::previewCalls();
    EXPECT_EQ(calls[0].in[0].u, 0u);
    EXPECT_STREQ(static_cast<const char*>(calls[0].in[2].p), (dir + "/demo_single.ini").c_str());
    EXPECT_STREQ(static_cast<const char*>(calls[3].in[1].p), "Demo single preview");

    // Exit: the window goes, and with it its preview.
    fakemgr::fire("tvkmgr", "Exit", 0);
    settle();
    EXPECT_TRUE(windowsNamed("DemoSingleDlg").empty());
    EXPECT_EQ(fakemgr::previewCalls().back().function, "PrevWndDestroy");
    EXPECT_EQ(fakemgr::previewCalls().back().in[0].u, 7u);
}

// ---- the real manager in a scratch app folder ----

class ManagerApp {
public:
    ManagerApp() : dir_(ombrel_test::scratchDir("pluginfw-demo-app")), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        fs::copy_file(APP_DIR "/libTvkManager.so", dir_ + "/libTvkManager.so");
        fs::copy_file(APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        fs::copy(APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(APP_DIR "/hwlibs/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
        fs::copy_file(APP_DIR "/hwlibs/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
        ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=2\nUnique=0\n");
        fs::copy_file(DEMO_MULTI_PATH, dir_ + "/plugins/demo_multi.so");
        fs::copy_file(DEMO_SINGLE_PATH, dir_ + "/plugins/demo_single.so");
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini",
                               "[Plugins]\nplugins/demo_multi.so\nplugins/demo_single.so\n");
        fs::current_path(dir_); // the log goes to the current folder
        if (!lib_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(lib_.error());
    }
    ~ManagerApp()
    {
        call<int (*)()>("mgrUnloadManager")();
        call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>("mgrSetUiHooks")(nullptr, nullptr);
        fs::current_path(oldCwd_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored); // a copy of the libraries: not kept after the test
    }

    template <class Fn>
    Fn call(const char* name)
    {
        return reinterpret_cast<Fn>(lib_.symbol(name));
    }

    int start()
    {
        call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>("mgrSetUiHooks")(nullptr, nullptr);
        return call<int (*)()>("mgrInitManager")();
    }
    int exit() { return call<int (*)()>("mgrExitManager")(); }

    // Menu items by full name.
    std::vector<std::pair<int, std::string>> menuItems()
    {
        std::vector<std::pair<int, std::string>> items;
        int id = 0;
        char name[MGR_MENU_NAME_SIZE];
        auto first = call<int (*)(int*, char*)>("mgrGetFirstMenuItem");
        auto next = call<int (*)(int*, char*)>("mgrGetNextMenuItem");
        for (int rc = first(&id, name); rc == 0; rc = next(&id, name))
            items.emplace_back(id, name);
        return items;
    }
    int callMenu(const std::string& fullName)
    {
        for (const auto& [id, name] : menuItems())
            if (name == fullName)
                return call<int (*)(int)>("mgrCallMenuItemByID")(id);
        return -1000;
    }

    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    fs::path oldCwd_;
    plat::Module lib_;
};

QWidget* demoWindow(int devId)
{
    const QString title = QStringLiteral("Demo %1 (dummy %2)").arg(devId).arg(2000 + devId);
    for (QWidget* w : windowsNamed("DemoDlg"))
        if (w->windowTitle() == title)
            return w;
    return nullptr;
}

TEST(DemoInManager, WindowsPlacementAutostartReconnectNewDeviceAndExit)
{
    ManagerApp app;
    ombrel_test::writeFile(app.dir() + "/configs/demo_multi_2001.ini", "[Demo]\nAutostart=1\n");
    ASSERT_EQ(app.start(), 0);
    settle();

    std::vector<std::string> names;
    for (const auto& item : app.menuItems())
        names.push_back(item.second);
    for (const char* expected : {"0 - dummy 2000|Demo", "1 - dummy 2001|Demo", "Utilities|Demo single"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;

    // Autostart opened only device 1's window.
    ASSERT_EQ(windowsNamed("DemoDlg").size(), 1u);
    EXPECT_NE(demoWindow(1), nullptr);

    // The menu item twice: one window.
    EXPECT_EQ(app.callMenu("0 - dummy 2000|Demo"), 0);
    EXPECT_EQ(app.callMenu("0 - dummy 2000|Demo"), 0);
    settle();
    EXPECT_EQ(windowsNamed("DemoDlg").size(), 2u);
    QWidget* w = demoWindow(0);
    ASSERT_NE(w, nullptr);
    w->move(120, 80);
    const QSize size = w->size();
    const QSize outer = w->frameGeometry().size();
    w->close();
    settle();
    EXPECT_EQ(demoWindow(0), nullptr);
    const std::string ini = app.dir() + "/configs/demo_multi_2000.ini";
    EXPECT_EQ(ombrel_test::readFile(ini), "[Position Demo]\nShowCmd=1\nLeft=120\nTop=80\nRight=" +
                                              std::to_string(120 + outer.width()) +
                                              "\nBottom=" + std::to_string(80 + outer.height()) + "\n");

    // Reopened where it was, in its own size.
    EXPECT_EQ(app.callMenu("0 - dummy 2000|Demo"), 0);
    w = demoWindow(0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), QPoint(120, 80));
    EXPECT_EQ(w->size(), size);

    // A reconnect from a worker does not wait for the window; the window comes back.
    auto reconnect = app.call<int (*)(unsigned)>("tvkCtrlReconnectTvk");
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        reconnect(0);
        returned = true;
    });
    const auto start = std::chrono::steady_clock::now();
    while (!returned && std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(returned.load());
    worker.join();
    settle();
    w = demoWindow(0);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->pos(), QPoint(120, 80));
    EXPECT_EQ(windowsNamed("DemoDlg").size(), 2u);

    // A stored position off every screen lands on one.
    w->close();
    settle();
    plat::writeProfileString("Position Demo", "Left", "100000", ini.c_str());
    EXPECT_EQ(app.callMenu("0 - dummy 2000|Demo"), 0);
    w = demoWindow(0);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(w->frameGeometry()));

    // The single-window tool.
    EXPECT_EQ(app.callMenu("Utilities|Demo single"), 0);
    EXPECT_EQ(windowsNamed("DemoSingleDlg").size(), 1u);

    // A device found while the program runs (the tray's "Find New Tvk Devices": the manager's
    // tvkCtrlFindNewTvks) gets the tool's item in its sub-menu, which opens its window; a search that finds
    // nothing new adds nothing.
    const auto itemCount = [&](const std::string& name) {
        int n = 0;
        for (const auto& item : app.menuItems())
            n += item.second == name;
        return n;
    };
    EXPECT_EQ(itemCount("2 - dummy 2002|Demo"), 0);
    ombrel_test::writeFile(app.dir() + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=3\nUnique=0\n");
    auto findNew = app.call<int (*)()>("tvkCtrlFindNewTvks");
    ASSERT_NE(findNew, nullptr);
    for (int search = 1; search <= 2; ++search) {
        SCOPED_TRACE(search);
        ASSERT_EQ(findNew(), 0);
        settle();
        for (const char* name : {"0 - dummy 2000|Demo", "1 - dummy 2001|Demo", "2 - dummy 2002|Demo",
                                 "Utilities|Demo single"})
            EXPECT_EQ(itemCount(name), 1) << name;
    }
    EXPECT_EQ(app.callMenu("2 - dummy 2002|Demo"), 0);
    settle();
    w = demoWindow(2);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(windowsNamed("DemoDlg").size(), 3u);

    EXPECT_EQ(app.exit(), 0);
    settle();
    EXPECT_TRUE(windowsNamed("DemoDlg").empty());
    EXPECT_TRUE(windowsNamed("DemoSingleDlg").empty());
    EXPECT_TRUE(fs::exists(app.dir() + "/configs/demo_single.ini"));
}

} // namespace
