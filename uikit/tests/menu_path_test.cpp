// Command items put into menus by a '|'-separated path of submenus.
#include "menu_path.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

namespace {

QStringList texts(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QMenu* sub(const QMenu* menu, const QString& text)
{
    int pos = findSubMenuByText(menu, text);
    return pos < 0 ? nullptr : menu->actions().at(pos)->menu();
}

class MenuPathTest : public testing::Test {
protected:
    void SetUp() override
    {
        root.addAction(QStringLiteral("&Add Plugin"))->setData(32773);
        root.addSeparator();
        root.addAction(QStringLiteral("E&xit"))->setData(32772);
    }
    QMenu root;
};

TEST_F(MenuPathTest, FindsByExactTextAndSkipsSeparators)
{
    EXPECT_EQ(findSubMenuByText(&root, QStringLiteral("&Add Plugin")), 0);
    EXPECT_EQ(findSubMenuByText(&root, QStringLiteral("E&xit")), 2);
    EXPECT_EQ(findSubMenuByText(&root, QStringLiteral("e&xit")), -1);
    EXPECT_EQ(findSubMenuByText(&root, QStringLiteral("Exit")), -1);
    EXPECT_EQ(findSubMenuByText(&root, QString()), -1);
    EXPECT_EQ(findSubMenuByText(nullptr, QStringLiteral("E&xit")), -1);
}

TEST_F(MenuPathTest, ItemsOfOnePathShareTheirSubmenus)
{
    ASSERT_EQ(addMenuItemByPath(&root, QStringLiteral("x"), QStringLiteral("A|B"), 33001), 0);
    ASSERT_EQ(addMenuItemByPath(&root, QStringLiteral("y"), QStringLiteral("A|B"), 33002), 0);
    EXPECT_EQ(texts(&root), QStringList({"A", "&Add Plugin", "-", "E&xit"}));
    QMenu* b = sub(sub(&root, "A"), "B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(texts(b), QStringList({"x", "y"}));
    EXPECT_EQ(b->actions().at(0)->data().toInt(), 33001);
    EXPECT_EQ(b->actions().at(1)->data().toInt(), 33002);

    // A missing level goes to the top of its parent, above the existing ones.
    addMenuItemByPath(&root, QStringLiteral("z"), QStringLiteral("A|C"), 33003);
    EXPECT_EQ(texts(sub(&root, "A")), QStringList({"C", "B"}));
    EXPECT_EQ(texts(sub(sub(&root, "A"), "C")), QStringList({"z"}));
}

TEST_F(MenuPathTest, LevelsBelowAMissingOneAreMadeNew)
{
    addMenuItemByPath(&root, QStringLiteral("x"), QStringLiteral("A|B"), 1);
    addMenuItemByPath(&root, QStringLiteral("w"), QStringLiteral("N|A|B"), 2);
    EXPECT_EQ(texts(&root), QStringList({"N", "A", "&Add Plugin", "-", "E&xit"}));
    EXPECT_EQ(texts(sub(sub(sub(&root, "N"), "A"), "B")), QStringList({"w"}));
    EXPECT_EQ(texts(sub(sub(&root, "A"), "B")), QStringList({"x"}));
}

TEST_F(MenuPathTest, CommandItemOfALevelsNameGetsANewSubmenuBesideIt)
{
    addMenuItemByPath(&root, QStringLiteral("q"), QStringLiteral("E&xit"), 7);
    EXPECT_EQ(texts(&root), QStringList({"E&xit", "&Add Plugin", "-", "E&xit"}));
    ASSERT_NE(root.actions().at(0)->menu(), nullptr);
    EXPECT_EQ(texts(root.actions().at(0)->menu()), QStringList({"q"}));
    EXPECT_EQ(root.actions().at(3)->menu(), nullptr);
    EXPECT_EQ(root.actions().at(3)->data().toInt(), 32772);
}

TEST_F(MenuPathTest, NoPathAppendsToTheMenuItself)
{
    struct Case {
        const char* what;
        QString path;
        QStringList submenus; // the levels the item ends up under
    } cases[] = {
        {"null path", QString(), {}},
        {"empty path", QStringLiteral(""), {}},
        {"only separators", QStringLiteral("||"), {}},
        {"empty levels skipped", QStringLiteral("A||B|"), {"A", "B"}},
    };
    int id = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(addMenuItemByPath(&root, QStringLiteral("item"), c.path, ++id), 0);
        QMenu* menu = &root;
        for (const QString& level : c.submenus) {
            menu = sub(menu, level);
            ASSERT_NE(menu, nullptr);
        }
        QAction* last = menu->actions().last();
        EXPECT_EQ(last->text(), QStringLiteral("item"));
        EXPECT_EQ(last->data().toInt(), id);
    }
    EXPECT_EQ(addMenuItemByPath(nullptr, QStringLiteral("item"), QString(), 1), -1);
}

} // namespace
