// The log window (10000 rows, trimmed in one step, collecting while hidden), message windows asked for
// from many threads at once, the managed-items window over a populated plug-in registry, and the splash
// with its "Disable" setting.
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTreeWidget>

#include <cstdarg>
#include <set>
#include <thread>

#include "item_listing_dlg.h"
#include "log_dlg.h"
#include "message_dlg.h"
#include "platform/ini.h"
#include "tray_dlg.h"
#include "tvk_mgr_utils.h"
#include "utils_test_support.h"

namespace {

using utilstest::UtilsTest;

const char kTime[] = "Wed Dec 09 08:44:41.0123 2026";

// ---- log window ----

TEST_F(UtilsTest, LogKeepsTheNewest10000RowsAndTrimsInOneStep)
{
    CTvkLogDlg& log = *app().logDlg();
    int removals = 0;
    QObject::connect(&log.model(), &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
    LogTableModel& model = log.model();

    struct Case {
        int queued;         // entries queued before the tick
        size_t rows;        // rows afterwards
        int firstEntry;     // number of the oldest row's entry
        int removalsSoFar;  // removal steps so far
    } cases[] = {
        {9999, 9999, 1, 0},
        {2, 10000, 2, 1},          // 10001 entries: the first is gone
        {25000, 10000, 25002, 2},  // a burst larger than the table: one removal
        {0, 10000, 25002, 2},
    };
    int next = 1;
    for (const Case& c : cases) {
        for (int i = 0; i < c.queued; ++i, ++next)
            fake.queueLog(kTime, "src", "entry " + std::to_string(next));
        log.OnTimer();
        ASSERT_EQ(model.rowCount(), static_cast<int>(c.rows)) << "after " << c.queued;
        EXPECT_EQ(model.row(0).message.toStdString(), "entry " + std::to_string(c.firstEntry));
        EXPECT_EQ(model.row(c.rows - 1).message.toStdString(), "entry " + std::to_string(next - 1));
        EXPECT_EQ(removals, c.removalsSoFar);
        EXPECT_TRUE(fake.queue.empty()) << "every queued entry is taken";
    }
    EXPECT_EQ(model.row(0).time, "Wed Dec 09 08:44:41.0123") << "the year is not shown";
    EXPECT_EQ(model.row(0).source, "src");
}

TEST_F(UtilsTest, LogCollectsWhileHiddenAndClears)
{
    CTvkLogDlg& log = *app().logDlg();
    ASSERT_FALSE(log.isVisible());
    fake.queueLog(kTime, "tvkmgr", "first");
    fake.queueLog(kTime, "tvkmgr", "second");
    log.OnTimer();
    EXPECT_EQ(log.model().rowCount(), 2);
    EXPECT_EQ(logShowWindow(1), 0);
    EXPECT_TRUE(log.isVisible());
    EXPECT_EQ(log.list()->model()->rowCount(), 2);

    log.findChild<QPushButton*>("clearButton")->click();
    EXPECT_EQ(log.model().rowCount(), 0);
    fake.queueLog(kTime, "tvkmgr", "after clearing");
    log.OnTimer();
    ASSERT_EQ(log.model().rowCount(), 1);
    EXPECT_EQ(log.model().row(0).message, "after clearing");

    log.close();
    EXPECT_FALSE(log.isVisible()) << "closing hides";
    EXPECT_EQ(app().logDlg(), &log) << "and keeps the window";
}

TEST_F(UtilsTest, WindowsAskedForAfterTheLibraryEndedReportFailure)
{
    app().ExitInstance();
    EXPECT_EQ(logShowWindow(1), -1);
    EXPECT_EQ(logShowWindow(0), -1);
    EXPECT_EQ(managedItemsShowWindow(), -1);
    ASSERT_TRUE(app().InitInstance());
    EXPECT_EQ(logShowWindow(0), 0);
}

TEST_F(UtilsTest, LogReadsOddRecordsSafely)
{
    LogItem item{};
    std::memset(item.source, 'S', sizeof item.source); // not terminated
    std::snprintf(item.timeText, sizeof item.timeText, "abc");
    std::memset(item.message, 'M', sizeof item.message);
    const LogRow row = LogTableModel::fromItem(item);
    EXPECT_EQ(row.source.size(), 32);
    EXPECT_EQ(row.message.size(), 1024);
    EXPECT_TRUE(row.time.isEmpty()) << "shorter than the year part";
}

TEST_F(UtilsTest, LogMessageColumnFillsTheWindow)
{
    CTvkLogDlg& log = *app().logDlg();
    log.show();
    log.resize(2000, 400);
    const int fill = log.list()->viewport()->width() - log.initialTimeWidth() - CTvkLogDlg::kModuleWidth;
    EXPECT_GT(fill, CTvkLogDlg::kMessageWidth);
    EXPECT_EQ(log.list()->columnWidth(2), fill);
    log.resize(500, 300);
    EXPECT_EQ(log.list()->columnWidth(2), fill) << "it never narrows";
}

// ---- message windows ----

int callShowMsgWindow(const char* title, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int result = showMsgWindow(title, fmt, args);
    va_end(args);
    return result;
}

std::vector<CMessageDlg*> messageWindows()
{
    std::vector<CMessageDlg*> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dlg = qobject_cast<CMessageDlg*>(w); dlg && dlg->isVisible())
            open.push_back(dlg);
    return open;
}

TEST_F(UtilsTest, MessageWindowsAskedForFromSixteenThreadsAllAppear)
{
    constexpr int kThreads = 16;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([i, &failures] {
            if (callShowMsgWindow("Worker", "Message %d from a worker thread", i) != 0)
                ++failures;
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(utilstest::processUntil([] { return messageWindows().size() == kThreads; }));
    std::set<QString> textsSeen;
    for (CMessageDlg* dlg : messageWindows()) {
        EXPECT_EQ(dlg->windowTitle(), "Worker");
        textsSeen.insert(dlg->text());
    }
    EXPECT_EQ(textsSeen.size(), static_cast<size_t>(kThreads));
    EXPECT_TRUE(textsSeen.count("Message 15 from a worker thread"));

    // Each closes by itself.
    messageWindows().front()->findChild<QPushButton*>()->click();
    ASSERT_TRUE(utilstest::processUntil([] { return messageWindows().size() == kThreads - 1; }));
}

TEST_F(UtilsTest, MessageWindowTextHasNoLengthLimit)
{
    const std::string longText(5000, 'x');
    ASSERT_EQ(callShowMsgWindow("Long", "%s|end", longText.c_str()), 0);
    const std::vector<CMessageDlg*> open = messageWindows();
    ASSERT_EQ(open.size(), 1u) << "on the GUI thread the window opens at once";
    EXPECT_EQ(open.front()->text().size(), 5004);
    EXPECT_TRUE(open.front()->text().endsWith("|end"));
}

// ---- managed-items window ----

int noopFunction(void*, const _FuncSlot*, void* const*)
{
    return 0;
}
void noopMenu(void*) {}
void firstSubscriber(intptr_t) {}
void secondSubscriber(intptr_t) {}
int attribValue(uint32_t, void*, uint32_t*)
{
    return 0;
}

// The manager's records of two test plug-ins with one item of every kind and some edge cases, beside the
// pseudo plug-ins that every manager has.
class ManagedItemsTest : public UtilsTest {
protected:
    void SetUp() override
    {
        UtilsTest::SetUp();
        app().setChainInfoFunc(
            [](int chainId, _FilterChainDesc* out) { return utilstest::gFake->chainInfo(chainId, out); });

        fake.addPlugin("tvkmgr");
        fake.addPlugin("tvkctrl");
        utilstest::FakePlugin& beta = fake.addPlugin("beta");
        utilstest::FakePlugin& alpha = fake.addPlugin("alpha");

        alpha.functions.push_back({"Median", "Median does things", {}, {}, noopFunction});
        beta.functions.push_back({"Fit",
                                  "Fit does things",
                                  {{TYPE_I32, 1, "count"}, {TYPE_DOUBLE, 4, "values"}},
                                  {{TYPE_STRING, 1, "name"}},
                                  noopFunction});

        alpha.menuItems.push_back({"Open", "Tools|Alpha", static_cast<uint32_t>(menuId_), 3, noopMenu,
                                   reinterpret_cast<void*>(42)});

        alpha.events.push_back({"Done", "Fired when done", {firstSubscriber, secondSubscriber}});
        alpha.events.push_back({"Idle", "Nobody listens", {}});

        alpha.frameAttribs.push_back({"Temp", "Temperature", TYPE_DOUBLE, 5, attribValue});

        alpha.chains.push_back({"Clean", 1});
        alpha.chains.push_back({"Empty", 2});
        fake.chainTexts = {{1, "alpha:Median|alpha:Median|"}, {2, ""}};
    }

    CItemListingDlg& open()
    {
        EXPECT_EQ(managedItemsShowWindow(), 0);
        return *app().itemListing();
    }

    static QTreeWidgetItem* find(QTreeWidget* tree, const QString& plugin, const QString& category = {})
    {
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* root = tree->topLevelItem(i);
            if (root->text(0) != plugin)
                continue;
            if (category.isEmpty())
                return root;
            for (int c = 0; c < root->childCount(); ++c)
                if (root->child(c)->text(0) == category)
                    return root->child(c);
        }
        return nullptr;
    }

    static std::vector<QStringList> rows(QTableWidget* list)
    {
        std::vector<QStringList> result;
        for (int r = 0; r < list->rowCount(); ++r) {
            QStringList row;
            for (int c = 0; c < list->columnCount(); ++c)
                row.push_back(list->item(r, c) ? list->item(r, c)->text() : QString());
            result.push_back(row);
        }
        return result;
    }

    std::vector<QStringList> select(CItemListingDlg& dlg, const QString& plugin, const QString& category)
    {
        QTreeWidgetItem* item = find(dlg.tree(), plugin, category);
        EXPECT_NE(item, nullptr) << plugin.toStdString() << " / " << category.toStdString();
        if (!item)
            return {};
        dlg.tree()->setCurrentItem(item);
        return rows(dlg.list());
    }

    int menuId_ = 7;
};

TEST_F(ManagedItemsTest, TreeListsEveryPluginWithItsCategoriesInOrder)
{
    CItemListingDlg& dlg = open();
    QStringList roots;
    for (int i = 0; i < dlg.tree()->topLevelItemCount(); ++i)
        roots.push_back(dlg.tree()->topLevelItem(i)->text(0));
    EXPECT_EQ(roots, (QStringList{"alpha", "beta", "tvkctrl", "tvkmgr"}));
    QStringList children;
    QTreeWidgetItem* alpha = find(dlg.tree(), "alpha");
    for (int c = 0; c < alpha->childCount(); ++c)
        children.push_back(alpha->child(c)->text(0));
    EXPECT_EQ(children, (QStringList{"Created events", "Created filters", "Registered (offered) functions",
                                     "Registered frame attributes", "Registered menu items"}));

    dlg.tree()->setCurrentItem(alpha);
    EXPECT_EQ(dlg.list()->columnCount(), 0) << "a plug-in item shows an empty list";
}

TEST_F(ManagedItemsTest, RowsOfEachCategory)
{
    CItemListingDlg& dlg = open();
    const QString fitAddress = addressText(reinterpret_cast<const void*>(&noopFunction));
    struct Case {
        const char* plugin;
        const char* category;
        std::vector<QStringList> rows;
    } cases[] = {
        {"beta",
         "Registered (offered) functions",
         {{"beta", "Fit", "Fit does things", "2 param.: [1 x i32: count][4 x double: values]",
           "1 param.: [1 x string: name]", fitAddress}}},
        {"alpha",
         "Registered menu items",
         {{"alpha", "Open", "Tools|Alpha", QString::number(menuId_), "3",
           addressText(reinterpret_cast<const void*>(&noopMenu)), "42"}}},
        {"alpha",
         "Registered frame attributes",
         {{"alpha", "Temp", "Temperature", "double", addressText(reinterpret_cast<const void*>(&attribValue)), "5"}}},
        {"alpha",
         "Created events", // newest at the top
         {{"alpha", "Idle", "Nobody listens", "0 callbacks:"},
          {"alpha", "Done", "Fired when done",
           "2 callbacks: " + addressText(reinterpret_cast<const void*>(&firstSubscriber)) + " " +
               addressText(reinterpret_cast<const void*>(&secondSubscriber))}}},
        {"alpha",
         "Created filters",
         {{"alpha", "Empty", "0 filters:"}, {"alpha", "Clean", "2 filters: alpha:Median alpha:Median"}}},
        {"beta", "Created events", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(select(dlg, c.plugin, c.category), c.rows) << c.plugin << " / " << c.category;

    select(dlg, "beta", "Registered (offered) functions");
    EXPECT_EQ(dlg.list()->horizontalHeaderItem(5)->text(), "Function Address");
    EXPECT_EQ(dlg.list()->item(0, 5)->textAlignment(), int(Qt::AlignRight | Qt::AlignVCenter));
}

TEST_F(ManagedItemsTest, LongCategoryTextsAreReachableInTheNarrowTree)
{
    CItemListingDlg& dlg = open();
    QTreeWidgetItem* alpha = find(dlg.tree(), "alpha");
    ASSERT_NE(alpha, nullptr);
    alpha->setExpanded(true);
    QApplication::processEvents();
    QTreeWidgetItem* functions = find(dlg.tree(), "alpha", "Registered (offered) functions");
    ASSERT_NE(functions, nullptr);
    const int textRight = 2 * dlg.tree()->indentation() +
                          dlg.tree()->fontMetrics().horizontalAdvance(functions->text(0));
    ASSERT_GT(textRight, dlg.tree()->viewport()->width()) << "the tree is narrower than the text";
    EXPECT_GE(dlg.tree()->columnWidth(0), textRight) << "the text is not cut; the tree scrolls instead";
}

TEST_F(ManagedItemsTest, ColumnWidthsSurviveSwitchingCategories)
{
    CItemListingDlg& dlg = open();
    select(dlg, "beta", "Registered (offered) functions");
    EXPECT_EQ(dlg.list()->columnWidth(3), 500);
    dlg.list()->setColumnWidth(3, 333);
    select(dlg, "alpha", "Created events");
    EXPECT_EQ(dlg.list()->columnWidth(3), 300);
    select(dlg, "alpha", "Registered (offered) functions");
    EXPECT_EQ(dlg.list()->columnWidth(3), 333);
    EXPECT_EQ(dlg.columnWidths(ItemCategory::Functions)[3], 333);
}

TEST_F(ManagedItemsTest, OpeningTwiceShowsOneWindowAndReopeningRereads)
{
    CItemListingDlg* first = &open();
    EXPECT_EQ(&open(), first);
    first->close();
    ASSERT_TRUE(utilstest::processUntil([this] { return app().itemListing() == nullptr; }));

    fake.addPlugin("gamma");
    CItemListingDlg& second = open();
    EXPECT_NE(find(second.tree(), "gamma"), nullptr);
}

TEST_F(ManagedItemsTest, AWindowOfARemovedPluginShowsNoRows)
{
    CItemListingDlg& dlg = open();
    ASSERT_TRUE(fake.removePlugin("alpha"));
    EXPECT_TRUE(select(dlg, "alpha", "Created events").empty());
    EXPECT_EQ(dlg.list()->columnCount(), 4) << "the columns still show";
}

// ---- splash ----

TEST_F(UtilsTest, SplashShowsForAboutFourSecondsAndRemembersDisable)
{
    CTrayDlg& tray = *app().tray();
    EXPECT_FALSE(tray.splashDisabled());
    EXPECT_TRUE(tray.isVisible());
    for (int tick = 1; tick <= 3; ++tick) {
        tray.OnSplashTimer();
        EXPECT_TRUE(tray.isVisible()) << "after tick " << tick;
    }
    tray.OnSplashTimer();
    EXPECT_FALSE(tray.isVisible());

    tray.disableBox()->setChecked(true);
    app().ExitInstance();
    EXPECT_EQ(plat::getProfileInt("Splash screen", "Disable", -1, iniPath.c_str()), 1);
    ASSERT_TRUE(app().InitInstance());
}

class DisabledSplashTest : public UtilsTest {
protected:
    void prepareIni() override { utilstest::writeAll(iniPath, "[Plugins]\n\n[Splash screen]\nDisable = 1\n"); }
};

TEST_F(DisabledSplashTest, ADisabledSplashNeverShows)
{
    CTrayDlg& tray = *app().tray();
    EXPECT_TRUE(tray.splashDisabled());
    EXPECT_TRUE(tray.disableBox()->isChecked());
    EXPECT_FALSE(tray.isVisible());
    tray.disableBox()->setChecked(false);
    app().ExitInstance();
    EXPECT_EQ(utilstest::readAll(iniPath), "[Plugins]\n\n[Splash screen]\nDisable = 0\n") << "other lines kept";
    ASSERT_TRUE(app().InitInstance());
}

} // namespace
