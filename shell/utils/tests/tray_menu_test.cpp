// The tray menu: command ids of plug-in items (reuse after removal, every id of the range routed to
// the manager), items by path, removal and renames, changes queued from other threads in call order,
// the fixed commands with Exit held back while the manager starts, and the fallback window.
#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <thread>

#include "item_listing_dlg.h"
#include "log_dlg.h"
#include "menu_ids.h"
#include "tray_dlg.h"
#include "tvk_mgr_utils.h"
#include "utils_test_support.h"

namespace {

using utilstest::UtilsTest;

QStringList texts(const QMenu* menu)
{
    QStringList result;
    for (const QAction* a : menu->actions())
        result.push_back(a->isSeparator() ? QStringLiteral("-") : a->text());
    return result;
}

QMenu* subMenu(const QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text && a->menu())
            return a->menu();
    return nullptr;
}

TEST(MenuIdMapTest, IdsRiseWrapRoundAndReuseFreedOnes)
{
    MenuIdMap ids;
    EXPECT_EQ(ids.add(7), 33001);
    EXPECT_EQ(ids.remove(7), 33001);
    EXPECT_EQ(ids.add(8), 33002) << "a freed id is not taken again at once";
    EXPECT_EQ(ids.add(8), std::nullopt) << "an item has one command id";
    EXPECT_EQ(ids.remove(99), std::nullopt);

    // Fill the range: the last id is 34000, then the range is full.
    for (int item = 100; ids.size() < MenuIdMap::kCommandCount; ++item)
        ASSERT_TRUE(ids.add(item).has_value());
    EXPECT_EQ(ids.commandOf(8), 33002);
    EXPECT_EQ(ids.itemOf(33001), std::optional<int>(100 + 998)) << "wrapped round to the freed first id";
    EXPECT_EQ(ids.add(5000), std::nullopt) << "every id in use";

    // A freed id in the middle is found by the next registration.
    const int freedItem = *ids.itemOf(33500);
    EXPECT_EQ(ids.remove(freedItem), 33500);
    EXPECT_EQ(ids.add(5000), 33500);
    EXPECT_EQ(ids.itemOf(33500), 5000);
    EXPECT_EQ(ids.commandOf(freedItem), std::nullopt);
}

TEST_F(UtilsTest, ItemsByPathAreRoutedToTheManager)
{
    CTrayDlg& tray = *app().tray();
    ASSERT_EQ(utilsAddMenuItem("x", "A|B", 11), 0);
    ASSERT_EQ(utilsAddMenuItem("y", "A|B", 12), 0);
    ASSERT_EQ(utilsAddMenuItem("top", nullptr, 13), 0);
    EXPECT_EQ(tray.menuIds().size(), 0u) << "posted, not made inside the call";
    QCoreApplication::processEvents();

    QMenu* a = subMenu(tray.menu(), "A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(texts(tray.menu()).first(), "A") << "new sub-menus go to the top";
    EXPECT_EQ(texts(tray.menu()).last(), "top") << "an item without path goes to the bottom";
    QMenu* b = subMenu(a, "B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(texts(b), (QStringList{"x", "y"}));

    b->actions().at(1)->trigger();
    tray.menu()->actions().last()->trigger();
    b->actions().at(0)->trigger();
    EXPECT_EQ(fake.calledItems, (std::vector<int>{12, 13, 11}));
}

TEST_F(UtilsTest, EveryCommandIdOfTheRangeIsRouted)
{
    CTrayDlg& tray = *app().tray();
    for (int item = 1; item <= MenuIdMap::kCommandCount; ++item)
        ASSERT_EQ(tray.addMenuItem(QStringLiteral("Item %1").arg(item), QStringLiteral("Many"), 1000 + item), 0);
    EXPECT_EQ(tray.addMenuItem("One too many", "Many", 5000), -1);
    EXPECT_EQ(tray.findCommand(MenuIdMap::kLastCommand)->text(), "Item 1000");

    for (int command = MenuIdMap::kFirstCommand; command <= MenuIdMap::kLastCommand; ++command)
        tray.OnCommand(command);
    ASSERT_EQ(fake.calledItems.size(), static_cast<size_t>(MenuIdMap::kCommandCount));
    for (int i = 0; i < MenuIdMap::kCommandCount; ++i)
        ASSERT_EQ(fake.calledItems[static_cast<size_t>(i)], 1001 + i);

    // Commands outside the range or without an item reach nobody.
    fake.calledItems.clear();
    tray.removeMenuItem(1500);
    for (const int command : {MenuIdMap::kFirstCommand - 1, MenuIdMap::kLastCommand + 1, 33500, 0, -1})
        tray.OnCommand(command);
    EXPECT_TRUE(fake.calledItems.empty());

    // The freed id serves the next item.
    EXPECT_EQ(tray.addMenuItem("Late", "Many", 6000), 0);
    tray.OnCommand(33500);
    EXPECT_EQ(fake.calledItems, std::vector<int>{6000});
}

TEST_F(UtilsTest, ThousandsOfRegistrationsOverTimeKeepWorking)
{
    CTrayDlg& tray = *app().tray();
    ASSERT_EQ(tray.addMenuItem("Resident", "Device", 1), 0); // holds one id throughout
    for (int item = 2; item <= 2600; ++item) {
        ASSERT_EQ(tray.addMenuItem("Transient", "Device|Scans", item), 0) << "registration " << item;
        QAction* action = tray.findCommand(*tray.menuIds().commandOf(item));
        ASSERT_NE(action, nullptr);
        action->trigger();
        ASSERT_EQ(tray.removeMenuItem(item), 0);
    }
    ASSERT_EQ(fake.calledItems.size(), 2599u);
    EXPECT_EQ(fake.calledItems.back(), 2600);
    EXPECT_EQ(tray.menuIds().size(), 1u);
    QMenu* device = subMenu(tray.menu(), "Device");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(texts(subMenu(device, "Scans")), QStringList()) << "removed items leave their sub-menu";
    tray.findCommand(*tray.menuIds().commandOf(1))->trigger();
    EXPECT_EQ(fake.calledItems.back(), 1);
}

TEST_F(UtilsTest, RemoveAndRenameFindCommandsInSubMenus)
{
    CTrayDlg& tray = *app().tray();
    tray.addMenuItem("Open", "0 - Dummy 2000|Tools", 21);
    tray.addMenuItem("Close", "0 - Dummy 2000|Tools", 22);
    EXPECT_EQ(tray.renameMenuItem(21, "Open again"), 0);
    EXPECT_EQ(tray.renameMenuItem(99, "Nobody"), 0) << "an unknown id changes nothing";
    EXPECT_EQ(tray.removeMenuItem(22), 0);
    EXPECT_EQ(tray.removeMenuItem(22), 0) << "removing twice changes nothing";
    QMenu* tools = subMenu(subMenu(tray.menu(), "0 - Dummy 2000"), "Tools");
    ASSERT_NE(tools, nullptr);
    EXPECT_EQ(texts(tools), QStringList{"Open again"});

    struct Case {
        const char* parentPath;
        const char* oldText;
        const char* newText;
        int result;
    } cases[] = {
        {nullptr, "No such device", "X", -1},       // absent at the top: nothing changes
        {"Missing", "Tools", "X", -1},              // a missing path component
        {"0 - Dummy 2000", "Tools", "Device tools", 0},
        {nullptr, "0 - Dummy 2000", "0 - Dummy 2001", 0},
        {"", "0 - Dummy 2001", "0 - Dummy 2000", 0}, // an empty path is the top
    };
    for (const Case& c : cases)
        EXPECT_EQ(tray.renameSubMenu(c.parentPath, c.oldText, c.newText), c.result) << c.oldText;
    QMenu* device = subMenu(tray.menu(), "0 - Dummy 2000");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(texts(device), QStringList{"Device tools"});
    EXPECT_EQ(texts(subMenu(device, "Device tools")), QStringList{"Open again"}) << "the items stay";
    EXPECT_EQ(texts(tray.menu()).first(), "0 - Dummy 2000") << "the entry keeps its place";

    // As the manager asks for it: posted, made in order after the items asked for before it.
    EXPECT_EQ(utilsAddMenuItem("Scan", "1 - Dummy 2001", 23), 0);
    EXPECT_EQ(utilsRenameSubMenu(nullptr, "1 - Dummy 2001", "1 - Dummy 2002"), 0);
    QCoreApplication::processEvents();
    EXPECT_NE(subMenu(tray.menu(), "1 - Dummy 2002"), nullptr);
}

TEST_F(UtilsTest, ChangesFromOtherThreadsArriveInCallOrder)
{
    std::thread worker([] {
        for (int item = 1; item <= 50; ++item)
            utilsAddMenuItem("Worker item", "Worker", item);
        for (int item = 1; item <= 50; item += 2)
            utilsRemoveMenuItem(item);
        utilsRenameMenuItem(2, "Renamed");
        utilsRenameSubMenu(nullptr, "Worker", "Worker menu");
    });
    worker.join();
    CTrayDlg& tray = *app().tray();
    ASSERT_TRUE(utilstest::processUntil([&] { return subMenu(tray.menu(), "Worker menu") != nullptr; }));
    QMenu* menu = subMenu(tray.menu(), "Worker menu");
    EXPECT_EQ(menu->actions().size(), 25);
    EXPECT_EQ(menu->actions().first()->text(), "Renamed");
    EXPECT_EQ(tray.menuIds().commandOf(1), std::nullopt);
    EXPECT_TRUE(tray.menuIds().commandOf(50).has_value());
}

TEST_F(UtilsTest, FixedCommands)
{
    CTrayDlg& tray = *app().tray();
    EXPECT_EQ(texts(tray.menu()), (QStringList{"-", "&Add Plugin", "Show &Managed Items", "Show &Log", "-",
                                                "&Find New Tvk Devices", "-", "A&bout...", "E&xit"}));
    tray.findCommand(CTrayDlg::ID_FIND_NEW_TVKS)->trigger();
    EXPECT_EQ(fake.findNewCalls, 1);
    EXPECT_FALSE(app().logDlg()->isVisible());
    tray.findCommand(CTrayDlg::ID_SHOW_LOG)->trigger();
    EXPECT_TRUE(app().logDlg()->isVisible());
    tray.findCommand(CTrayDlg::ID_SHOW_MANAGED_ITEMS)->trigger();
    ASSERT_NE(app().itemListing(), nullptr);
    EXPECT_TRUE(app().itemListing()->isVisible());
}

// Before the tests whose Exit ends the application's loop: a dialog's loop started after that returns at once.
TEST_F(UtilsTest, ExitEndsAnOpenModalDialogBeforeTheManagerShutsDown)
{
    CTrayDlg& tray = *app().tray();
    int exitCallsWhenTheDialogReturned = -1;
    QTimer::singleShot(0, [&] {
        QDialog dialog;
        QTimer::singleShot(0, &dialog, [&] { tray.findCommand(CTrayDlg::ID_APP_EXIT)->trigger(); });
        QTimer::singleShot(60000, &dialog, &QDialog::accept); // only if Exit leaves it open
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        exitCallsWhenTheDialogReturned = fake.exitCalls;
    });
    ASSERT_TRUE(utilstest::processUntil([&] { return fake.exitCalls == 1; }));
    EXPECT_EQ(exitCallsWhenTheDialogReturned, 0) << "the manager shut down under the dialog's loop";
    EXPECT_TRUE(tray.exiting());
}

TEST_F(UtilsTest, ExitShutsTheManagerDownOnceAndWaitsForItsStart)
{
    CTrayDlg& tray = *app().tray();
    app().setManagerStarting(true);
    tray.findCommand(CTrayDlg::ID_APP_EXIT)->trigger();
    EXPECT_EQ(fake.exitCalls, 0) << "no shut-down while the manager starts";
    EXPECT_TRUE(app().exitRequested());
    app().setManagerStarting(false);
    EXPECT_EQ(fake.exitCalls, 1);
    EXPECT_TRUE(tray.exiting());

    utilsRequestExit(); // a quit signal after the tray's Exit
    tray.OnCommand(CTrayDlg::ID_APP_EXIT);
    EXPECT_EQ(fake.exitCalls, 1);
    EXPECT_FALSE(tray.fallbackWindow() && tray.fallbackWindow()->isVisible());
}

TEST_F(UtilsTest, WithoutATrayTheFallbackWindowCarriesTheMenu)
{
    CTrayDlg& tray = *app().tray();
    ASSERT_EQ(tray.trayIcon(), nullptr) << "the headless platform has no tray";
    CTrayFallbackWnd* fallback = tray.fallbackWindow();
    ASSERT_NE(fallback, nullptr);
    EXPECT_TRUE(fallback->isVisible());
    EXPECT_EQ(fallback->menuButton()->menu(), tray.menu());
    fallback->close();
    EXPECT_TRUE(fallback->isVisible()) << "closing only minimises it";
    EXPECT_EQ(tray.fallbackWindow(), fallback);
}

} // namespace
