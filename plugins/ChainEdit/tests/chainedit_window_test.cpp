// The filter-chain editor as a user meets it, in a running manager with the simulated detector and the
// device control plug-in, headless with every Qt warning fatal: Utilities > "Filter chain editor" opens the
// window; a chain is made, filled and its instance's parameters set by mouse and keyboard; the control
// window's "Filter chain:" offers the chain at once and falls back to "None" with a log line when the chain
// is deleted; the chains and instances come back after Exit and a new start; Autostart and the placement.
#include <set>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "qt_test_support.h"
#include "scratch_manager.h"
#include "uikit/message_box.h"

namespace {

namespace fs = std::filesystem;
using ombrel_test::processUntil;

std::string makeAppFolder(const std::string& name, const std::string& extraIni = "")
{
    const std::string dir = ombrel_test::scratchDir(name);
    fs::create_directories(dir + "/hwlibs");
    fs::create_directories(dir + "/plugins");
    fs::create_directories(dir + "/configs");
    fs::copy_file(CHAIN_APP_DIR "/libTvkManager.so", dir + "/libTvkManager.so");
    fs::copy_file(CHAIN_APP_DIR "/libTvkCtrl.so", dir + "/libTvkCtrl.so");
    if (fs::exists(CHAIN_APP_DIR "/configs"))
        fs::copy(CHAIN_APP_DIR "/configs", dir + "/configs", fs::copy_options::recursive | fs::copy_options::skip_existing);
    fs::copy_file(CHAIN_APP_DIR "/hwlibs/tvkHwDummy.so", dir + "/hwlibs/tvkHwDummy.so");
    fs::copy_file(CHAIN_APP_DIR "/hwlibs/dummy_2000.txt", dir + "/hwlibs/dummy_2000.txt");
    ombrel_test::writeFile(dir + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=1\nUnique=0\n");
    fs::copy_file(CHAIN_TABLE_PLUGIN, dir + "/plugins/chainedit_table.so");
    fs::copy_file(CHAIN_PLUGIN_PATH, dir + "/ChainEdit.so");
    fs::copy_file(CHAIN_CTRLUI_PATH, dir + "/TvkCtrlUI.so");
    ombrel_test::writeFile(dir + "/tvkmanager.ini",
                           "[Plugins]\nTvkCtrlUI.so\nChainEdit.so\nplugins/chainedit_table.so\n" + extraIni);
    return dir;
}

class App : public ombrel_test::ScratchManager {
public:
    explicit App(const std::string& dir)
        : ombrel_test::ScratchManager(dir, dir + "/plugins/chainedit_table.so", "chainEditTestTable")
    {
    }
};

// The id of the first menu item whose path holds every one of the texts, or -1.
int menuItem(const _MgrFuncTable* t, std::initializer_list<const char*> texts)
{
    char name[MGR_MENU_NAME_SIZE] = {};
    int id = 0;
    for (int rc = t->mgrGetFirstMenuItem(&id, name); rc == 0; rc = t->mgrGetNextMenuItem(&id, name)) {
        const std::string n = name;
        bool all = true;
        for (const char* text : texts)
            all = all && n.find(text) != std::string::npos;
        if (all)
            return id;
    }
    return -1;
}

QWidget* editor()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == QLatin1String("ChainEditDlg"))
            return w;
    return nullptr;
}

QWidget* controlWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QLatin1String("Tarvik 0 UI (dummy 2000)"))
            return w;
    return nullptr;
}

template <class T>
T* child(const char* name)
{
    QWidget* w = editor();
    return w ? w->findChild<T*>(QLatin1String(name)) : nullptr;
}

void click(const char* button)
{
    auto* b = child<QAbstractButton>(button);
    ASSERT_NE(b, nullptr) << button;
    ASSERT_TRUE(b->isEnabled()) << button;
    QTest::mouseClick(b, Qt::LeftButton);
}

// The editor's tree (the plug-in's own filter-chain variant of the tree control).
QTreeWidget* chainTree()
{
    auto* tree = child<QTreeWidget>("chains");
    return tree && tree->inherits("CTreeCtrlChains") ? tree : nullptr;
}

QTreeWidgetItem* chainRoot(const QString& name)
{
    QTreeWidget* tree = chainTree();
    for (int i = 0; tree && i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == name)
            return tree->topLevelItem(i);
    return nullptr;
}

// The control window's "Filter chain:" chooser.
QComboBox* controlChains()
{
    QWidget* w = controlWindow();
    for (QComboBox* c : w ? w->findChildren<QComboBox*>() : QList<QComboBox*>())
        if (c->inherits("CComboBoxFilterChains"))
            return c;
    return nullptr;
}

void clickItem(QTreeWidgetItem* item)
{
    ASSERT_NE(item, nullptr);
    QTreeWidget* tree = chainTree();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(item).center());
}

void typeName(const QString& text)
{
    auto* name = child<QLineEdit>("name");
    ASSERT_NE(name, nullptr);
    QTest::mouseDClick(name, Qt::LeftButton);
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(name, text);
}

// Picks an entry of a closed list by typing the start of its text (up to a blank: Space opens the list).
void chooseByKeys(QComboBox* combo, const QString& text)
{
    ASSERT_NE(combo, nullptr);
    combo->setFocus();
    QTest::qWait(QApplication::keyboardInputInterval() + 50); // a new search, not the end of the last one
    QTest::keyClicks(combo, text.section(' ', 0, 0));
    ASSERT_EQ(combo->currentText(), text);
}

void chooseFilter(const QString& label)
{
    chooseByKeys(child<QComboBox>("filters"), label);
}

// Types text into the value cell of the parameter named name and presses Enter.
void editParameter(const QString& name, const QString& text)
{
    auto* table = child<QTableWidget>("parameters");
    ASSERT_NE(table, nullptr);
    int row = -1;
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->item(r, 0) && table->item(r, 0)->text() == name)
            row = r;
    ASSERT_GE(row, 0) << name.toStdString();
    const QRect cell = table->visualItemRect(table->item(row, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(edit, nullptr) << "no editor opened on " << name.toStdString();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
    const QPointer<QLineEdit> editor(edit);
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(processUntil([&] { return editor.isNull(); }))
        << "Enter did not end the edit";
}

QString parameter(const QString& name)
{
    auto* table = child<QTableWidget>("parameters");
    for (int r = 0; table && r < table->rowCount(); ++r)
        if (table->item(r, 0) && table->item(r, 0)->text() == name)
            return table->item(r, 1)->text();
    return QStringLiteral("(none)");
}

// The plug-in's questions, answered as the user would with the answer set here.
struct Questions {
    std::vector<std::string> asked;
    int answer = MSGBOX_IDYES;
};

Questions& questions()
{
    static Questions q;
    return q;
}

void answerThePluginsQuestions(const std::string& dir)
{
    void* module = dlopen((dir + "/ChainEdit.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    using SetHandler = void (*)(const MessageBoxHandler*);
    auto setHandler = reinterpret_cast<SetHandler>(dlsym(module, "chaineditSetMessageBoxHandler"));
    ASSERT_NE(setHandler, nullptr);
    const MessageBoxHandler handler = [](QWidget*, const QString& text, const QString&, unsigned) {
        questions().asked.push_back(text.toStdString());
        return questions().answer;
    };
    setHandler(&handler);
    dlclose(module);
}

std::string chainsSection(const std::string& dir)
{
    const std::string ini = ombrel_test::readFile(dir + "/tvkmanager.ini");
    const size_t at = ini.find("[Filter chains]");
    return at == std::string::npos ? std::string() : ini.substr(at, ini.find("\n[", at + 1) - at);
}

TEST(ChainEditWindow, AChainBuiltByHandReachesTheControlWindowAndComesBack)
{
    const std::string dir = makeAppFolder("chainedit-window");
    const std::string statsFile = dir + "/stats.txt";
    {
        App app(dir);
        const _MgrFuncTable* t = app.table();
        ASSERT_NE(t, nullptr) << "the manager did not start with the plug-ins";
        const int editorItem = menuItem(t, {"Utilities", "Filter chain editor"});
        ASSERT_GE(editorItem, 0) << "no \"Filter chain editor\" under \"Utilities\"";
        answerThePluginsQuestions(dir);
        ASSERT_EQ(t->mgrCallMenuItemByID(menuItem(t, {"Tarvik Control"})), 0);
        ASSERT_TRUE(processUntil([] { return controlWindow() != nullptr; }))
            << ombrel_test::readFile(dir + "/log.txt");
        QComboBox* chosen = controlChains();
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(chosen->count(), 1) << "only \"None\" before any chain exists";

        ASSERT_EQ(t->mgrCallMenuItemByID(editorItem), 0);
        ASSERT_TRUE(processUntil([] { return editor() != nullptr; }));
        QTreeWidget* tree = chainTree();
        ASSERT_NE(tree, nullptr);
        auto* status = child<QLabel>("status");

        // Unsafe names are refused with the reason; nothing is made.
        typeName("Stats|Save");
        click("newChain");
        EXPECT_TRUE(status->text().contains("':' or '|'")) << status->text().toStdString();
        EXPECT_EQ(tree->topLevelItemCount(), 0);

        typeName("StatsSave");
        click("newChain");
        ASSERT_NE(chainRoot("StatsSave"), nullptr);
        ASSERT_TRUE(processUntil([&] { return chosen->findText("StatsSave") > 0; }))
            << "the control window offers the new chain without its list being opened";

        // Frame statistics with its default instance, the output path set by typing it.
        clickItem(chainRoot("StatsSave"));
        chooseFilter("chainedit:Frame statistics");
        click("addFilter");
        QTreeWidgetItem* root = chainRoot("StatsSave");
        ASSERT_EQ(root->childCount(), 1);
        EXPECT_EQ(root->child(0)->text(1), "Default instance");
        clickItem(root->child(0));
        EXPECT_EQ(child<QComboBox>("instances")->currentText(), "Default instance");
        editParameter("Output file path", QString::fromStdString(statsFile));
        EXPECT_EQ(parameter("Output file path").toStdString(), statsFile);
        // A value the filter's type cannot take keeps the old one and says why.
        const QString oldIndex = parameter("Record index");
        editParameter("Record index", "many");
        EXPECT_EQ(parameter("Record index"), oldIndex);
        EXPECT_TRUE(status->text().contains("Record index")) << status->text().toStdString();

        // Save after it; then moved up and down again.
        clickItem(chainRoot("StatsSave"));
        chooseFilter("chainedit:Save");
        click("addFilter");
        root = chainRoot("StatsSave");
        ASSERT_EQ(root->childCount(), 2);
        EXPECT_EQ(root->child(1)->text(0), "chainedit:Save");
        clickItem(root->child(1));
        click("moveUp");
        root = chainRoot("StatsSave");
        EXPECT_EQ(root->child(0)->text(0), "chainedit:Save");
        click("moveDown");
        root = chainRoot("StatsSave");
        EXPECT_EQ(root->child(0)->text(0), "chainedit:Frame statistics");
        EXPECT_EQ(root->child(1)->text(0), "chainedit:Save");

        // A second chain, chosen in the control window, then deleted in the editor (the question answered).
        typeName("Spare");
        click("newChain");
        ASSERT_TRUE(processUntil([&] { return chosen->findText("Spare") > 0; }));
        chooseByKeys(chosen, "Spare");
        clickItem(chainRoot("Spare"));
        questions().answer = MSGBOX_IDNO;
        click("delete");
        EXPECT_EQ(questions().asked, std::vector<std::string>{"Delete the filter chain \"Spare\"?"});
        EXPECT_NE(chainRoot("Spare"), nullptr) << "No keeps the chain";
        questions().answer = MSGBOX_IDYES;
        click("delete");
        EXPECT_EQ(chainRoot("Spare"), nullptr);
        ASSERT_TRUE(processUntil([&] { return chosen->currentText() == "None"; }))
            << "the control window keeps no id of a deleted chain";
        EXPECT_EQ(chosen->currentData().toInt(), 0);
        EXPECT_NE(ombrel_test::readFile(dir + "/log.txt").find("The filter chain Spare no longer exists"),
                  std::string::npos);
    }
    // Exit wrote the chain as the manager writes any chain.
    const std::string section = chainsSection(dir);
    EXPECT_NE(section.find("{chainedit:StatsSave}\nchainedit:Frame statistics:Default instance\nchainedit:Save:Default instance\n"),
              std::string::npos)
        << section;
    EXPECT_EQ(section.find("Spare"), std::string::npos);

    // Started again: the chain, its members and the instance's parameter are back in the editor.
    {
        App app(dir);
        const _MgrFuncTable* t = app.table();
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->mgrCallMenuItemByID(menuItem(t, {"Utilities", "Filter chain editor"})), 0);
        ASSERT_TRUE(processUntil([] { return editor() != nullptr; }));
        QTreeWidgetItem* root = chainRoot("StatsSave");
        ASSERT_NE(root, nullptr);
        ASSERT_EQ(root->childCount(), 2);
        clickItem(root->child(0));
        EXPECT_EQ(parameter("Output file path").toStdString(), statsFile);
    }
}

TEST(ChainEditWindow, AutostartAndPlacement)
{
    const std::string dir = makeAppFolder("chainedit-autostart");
    ombrel_test::writeFile(dir + "/configs/ChainEdit.ini", "[Filter chain editor]\nAutostart=1\n");
    {
        App app(dir);
        ASSERT_NE(app.table(), nullptr);
        ASSERT_TRUE(processUntil([] { return editor() != nullptr; })) << "Autostart opens the window at start";
        editor()->move(140, 120);
        QApplication::processEvents();
    }
    EXPECT_EQ(editor(), nullptr) << "Exit closed the window";
    const std::string ini = ombrel_test::readFile(dir + "/configs/ChainEdit.ini");
    EXPECT_NE(ini.find("[Position Filter chain editor]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Left=140"), std::string::npos) << ini;
}

} // namespace
