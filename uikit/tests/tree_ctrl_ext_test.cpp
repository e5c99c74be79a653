// The tree's own multi-selection: a table of click sequences with the selection they leave, the items
// acted on, the right click, colour and font properties and their drawing, deletion of a subtree (nothing of
// it stays behind), and the Delete key; real mouse and key events on the control: the expand/collapse arrow,
// itemClicked, the keys that change the selection (highlight and selection set together); the filter-chain
// variant's root lookup, items acted on and context menu.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "tree_ctrl_ext.h"

namespace {

// Roots a..e; c has children c1, c2; c1 has child c1x.
struct Tree {
    CTreeCtrlExt tree;
    std::map<std::string, QTreeWidgetItem*> items;
    Tree()
    {
        tree.resize(200, 300);
        for (const char* name : {"a", "b", "c", "d", "e"})
            items[name] = new QTreeWidgetItem(&tree, {name});
        items["c1"] = new QTreeWidgetItem(items["c"], {"c1"});
        items["c2"] = new QTreeWidgetItem(items["c"], {"c2"});
        items["c1x"] = new QTreeWidgetItem(items["c1"], {"c1x"});
        tree.expandAll();
    }
    std::string selected(const std::set<QTreeWidgetItem*>& set) const
    {
        std::string out;
        for (const char* name : {"a", "b", "c", "c1", "c1x", "c2", "d", "e"})
            if (set.count(items.at(name)))
                out += std::string(out.empty() ? "" : " ") + name;
        return out;
    }
};

TEST(TreeCtrlExt, ClickTable)
{
    struct Click {
        const char* item; // null: empty space
        Qt::KeyboardModifiers mods;
    };
    const Qt::KeyboardModifiers none = Qt::NoModifier, ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
    struct Case {
        const char* what;
        std::vector<Click> clicks;
        const char* selection;
    } cases[] = {
        {"plain click", {{"b", none}}, "b"},
        {"plain click replaces", {{"b", none}, {"d", none}}, "d"},
        {"ctrl adds", {{"b", none}, {"d", ctrl}}, "b d"},
        {"ctrl on a selected item unselects it only", {{"b", none}, {"d", ctrl}, {"b", ctrl}}, "d"},
        {"ctrl on empty space keeps", {{"b", none}, {"d", ctrl}, {nullptr, ctrl}}, "b d"},
        {"shift selects the siblings", {{"a", none}, {"d", shift}}, "a b c d"},
        {"shift backwards", {{"d", none}, {"b", shift}}, "b c d"},
        {"a second shift undoes the first", {{"b", none}, {"e", shift}, {"c", shift}}, "b c"},
        {"shift from a ctrl anchor", {{"a", none}, {"d", ctrl}, {"e", shift}}, "a d e"},
        {"plain click on nothing clears", {{"a", none}, {"b", ctrl}, {nullptr, none}}, ""},
    };
    for (const Case& c : cases) {
        Tree t;
        for (const Click& k : c.clicks)
            t.tree.clickItem(k.item ? t.items[k.item] : nullptr, k.mods);
        EXPECT_EQ(t.selected(t.tree.selection()), c.selection) << c.what;
        for (auto& [name, item] : t.items)
            EXPECT_EQ(item->isSelected(), t.tree.selection().count(item) == 1) << c.what << ": " << name;
    }
}

TEST(TreeCtrlExt, ItemsActedOn)
{
    Tree t;
    EXPECT_TRUE(t.tree.getSelectedItems(false).empty()) << "no selection and no current item";
    t.tree.clickItem(t.items["c"], Qt::NoModifier);
    EXPECT_EQ(t.selected(t.tree.getSelectedItems(false)), "c");
    EXPECT_EQ(t.selected(t.tree.getSelectedItems(true)), "c1x c2") << "the leaves stand for c";
}

// A right click as the mouse gives it on the item's row, or below the last row when no item is named.
void rightClick(Tree& t, const char* item)
{
    const QPoint at = item ? t.tree.visualItemRect(t.items[item]).center() : QPoint(10, 290);
    QMouseEvent press(QEvent::MouseButtonPress, at, t.tree.viewport()->mapToGlobal(at), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(t.tree.viewport(), &press);
}

TEST(TreeCtrlExt, RightClick)
{
    const struct {
        const char* what;
        const char* item;
        const char* selection;
        const char* actedOn;
    } cases[] = {
        {"on a selected item the selection stays", "d", "b d", "b d"},
        {"on another item the selection goes", "e", "", "e"},
        {"on empty space the selection goes", nullptr, "", ""},
    };
    for (const auto& c : cases) {
        Tree t;
        t.tree.clickItem(t.items["b"], Qt::NoModifier);
        t.tree.clickItem(t.items["d"], Qt::ControlModifier);
        rightClick(t, c.item);
        EXPECT_EQ(t.selected(t.tree.selection()), c.selection) << c.what;
        EXPECT_EQ(t.selected(t.tree.getSelectedItems(false)), c.actedOn) << c.what;
        for (auto& [name, item] : t.items)
            EXPECT_EQ(item->isSelected(), t.tree.selection().count(item) == 1) << c.what << ": " << name;
        EXPECT_EQ(t.tree.currentItem(), c.item ? t.items[c.item] : nullptr) << c.what;
        if (c.item && !*c.selection) {
            t.tree.clickItem(t.items["a"], Qt::ShiftModifier);
            EXPECT_EQ(t.selected(t.tree.selection()), "a b c d e") << c.what << ": the anchor moved";
        }
    }
}

// Columns of the row's pixels that match a colour test, as [first, last]; {-1, -1} when none.
template <typename Match>
std::pair<int, int> columns(const QImage& image, const QRect& row, Match match)
{
    std::pair<int, int> span{-1, -1};
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(); x <= row.right(); ++x)
            if (match(image.pixelColor(x, y))) {
                if (span.first < 0 || x < span.first)
                    span.first = x;
                span.second = std::max(span.second, x);
            }
    return span;
}

TEST(TreeCtrlExt, DrawsSplitColoursAndItemFonts)
{
    Tree t;
    t.items["a"]->setText(0, "MMMMMMMM");
    t.items["b"]->setText(0, "MMMM");
    t.items["d"]->setText(0, "MMMM");
    t.tree.setItemSplit(4, t.items["a"]);
    t.tree.setItemColor(QColor(0, 160, 0), t.items["a"]);
    QFont big = t.tree.font();
    big.setPixelSize(30);
    t.tree.setItemFont(&big, t.items["b"]);
    QApplication::processEvents(); // the delayed layout of the rows
    const QImage image = t.tree.viewport()->grab().toImage();
    const QRect rowA = t.tree.visualItemRect(t.items["a"]);
    const QRect rowB = t.tree.visualItemRect(t.items["b"]);
    const QRect rowD = t.tree.visualItemRect(t.items["d"]);

    const auto green = columns(image, rowA, [](QColor c) { return c.green() > 100 && c.red() < 80 && c.blue() < 80; });
    const auto red = columns(image, rowA, [](QColor c) { return c.red() > 200 && c.green() < 80 && c.blue() < 80; });
    ASSERT_GE(green.first, 0) << "the text before the split in the item's colour";
    ASSERT_GE(red.first, 0) << "the text from the split on in red";
    EXPECT_LT(green.second, red.first) << "the split colour follows the first characters";

    EXPECT_GT(rowB.height(), rowD.height()) << "the row fits the item's own font";
    const auto dark = [](QColor c) { return c.red() < 100 && c.green() < 100 && c.blue() < 100; };
    const auto inB = columns(image, rowB, dark);
    const auto inD = columns(image, rowD, dark);
    ASSERT_GE(inD.first, 0);
    EXPECT_GT(inB.second - inB.first, (inD.second - inD.first) * 3 / 2) << "the same text drawn larger";

    t.tree.setItemFont(nullptr, t.items["b"]);
    EXPECT_EQ(t.tree.itemProperty(t.items["b"]), nullptr) << "a property of a font alone goes with it";
}

TEST(TreeCtrlExt, DeletedSubtreeLeavesNothingBehind)
{
    Tree t;
    t.tree.clickItem(t.items["c1x"], Qt::NoModifier); // anchor in the subtree
    t.tree.clickItem(t.items["c2"], Qt::ControlModifier);
    t.tree.setItemColor(Qt::blue, t.items["c1x"]);
    QTreeWidgetItem* c1x = t.items["c1x"];
    EXPECT_TRUE(t.tree.deleteChildren(t.items["c"]));
    EXPECT_TRUE(t.tree.selection().empty());
    EXPECT_EQ(t.tree.anchor(), nullptr);
    EXPECT_EQ(t.tree.itemProperty(c1x), nullptr);
    EXPECT_FALSE(t.tree.deleteChildren(t.items["c"])) << "no children left";
}

TEST(TreeCtrlExt, ItemsLeavingByTheTreesOwnWaysLeaveNothingBehind)
{
    // The selection, the anchor and a property sit in the subtree of c; each road takes it out of the tree.
    const struct {
        const char* name;
        void (*remove)(Tree& t);
    } roads[] = {
        {"the tree's clear", [](Tree& t) { t.tree.clear(); }},
        {"a delete of the owner's", [](Tree& t) { delete t.items["c"]; }},
        {"a take of the owner's", [](Tree& t) { delete t.tree.takeTopLevelItem(t.tree.indexOfTopLevelItem(t.items["c"])); }},
        {"a child taken", [](Tree& t) { delete t.items["c"]->takeChild(0); delete t.items["c"]->takeChild(0); }},
    };
    for (const auto& road : roads) {
        Tree t;
        t.tree.clickItem(t.items["c1x"], Qt::NoModifier);
        t.tree.clickItem(t.items["c2"], Qt::ControlModifier);
        t.tree.setItemColor(Qt::blue, t.items["c1"]);
        QTreeWidgetItem* c1 = t.items["c1"];
        road.remove(t);
        EXPECT_TRUE(t.tree.selection().empty()) << road.name;
        EXPECT_EQ(t.tree.anchor(), nullptr) << road.name;
        EXPECT_EQ(t.tree.itemProperty(c1), nullptr) << road.name;
        // A click afterwards touches only items that are still there.
        QTreeWidgetItem* first = t.tree.topLevelItem(0);
        t.tree.clickItem(first, Qt::NoModifier);
        EXPECT_EQ(t.tree.selection(), first ? std::set<QTreeWidgetItem*>{first} : std::set<QTreeWidgetItem*>{})
            << road.name;
    }
    // An item taken out of a tree that is left alone keeps the others' selection.
    Tree t;
    t.tree.clickItem(t.items["a"], Qt::NoModifier);
    t.tree.clickItem(t.items["c2"], Qt::ControlModifier);
    delete t.items["c"]->takeChild(1);
    EXPECT_EQ(t.selected(t.tree.selection()), "a");
}

TEST(TreeCtrlExt, ColoursAndDeleteKey)
{
    Tree t;
    t.tree.setItemColor(Qt::blue, t.items["a"]);
    ASSERT_NE(t.tree.itemProperty(t.items["a"]), nullptr);
    t.tree.setItemColor(QColor(), t.items["a"]);
    EXPECT_EQ(t.tree.itemProperty(t.items["a"]), nullptr) << "a property of a colour alone goes with it";
    t.tree.setItemColor(QColor(), t.items["b"]);
    EXPECT_EQ(t.tree.itemProperty(t.items["b"]), nullptr) << "no colour: no property made";
    t.tree.setItemSplit(2, t.items["b"]);
    ASSERT_NE(t.tree.itemProperty(t.items["b"]), nullptr);
    EXPECT_EQ(t.tree.itemProperty(t.items["b"])->splitPos, 2);

    QSignalSpy spy(&t.tree, &CTreeCtrlExt::deleteKeyPressed);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&t.tree, &key);
    EXPECT_EQ(spy.count(), 1);
}

// Every item is highlighted exactly when the control's selection holds it.
void expectHighlightIsSelection(Tree& t, const std::string& what)
{
    for (auto& [name, item] : t.items)
        EXPECT_EQ(item->isSelected(), t.tree.selection().count(item) == 1) << what << ": " << name;
}

QPoint arrowOf(CTreeCtrlExt& tree, QTreeWidgetItem* item)
{
    const QRect r = tree.visualItemRect(item);
    return {r.left() - tree.indentation() / 2, r.center().y()};
}

TEST(TreeCtrlExt, ArrowOpensAndClosesAndClicksAreReported)
{
    Tree t;
    t.tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&t.tree, 60000));
    QSignalSpy clicked(&t.tree, &QTreeWidget::itemClicked);
    QWidget* vp = t.tree.viewport();

    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, arrowOf(t.tree, t.items["c"]));
    EXPECT_FALSE(t.items["c"]->isExpanded()) << "a click on the arrow closes c";
    EXPECT_EQ(t.selected(t.tree.selection()), "") << "the arrow does not select";
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, arrowOf(t.tree, t.items["c"]));
    EXPECT_TRUE(t.items["c"]->isExpanded()) << "and opens it again";

    const struct {
        const char* item;
        Qt::KeyboardModifiers mods;
        const char* selection;
    } clicks[] = {{"b", Qt::NoModifier, "b"}, {"c2", Qt::ControlModifier, "b c2"}, {"d", Qt::NoModifier, "d"}};
    for (const auto& c : clicks) {
        clicked.clear();
        QTest::mouseClick(vp, Qt::LeftButton, c.mods, t.tree.visualItemRect(t.items[c.item]).center());
        ASSERT_EQ(clicked.count(), 1) << c.item;
        EXPECT_EQ(clicked.at(0).at(0).value<QTreeWidgetItem*>(), t.items[c.item]);
        EXPECT_EQ(t.selected(t.tree.selection()), c.selection) << c.item;
        expectHighlightIsSelection(t, c.item);
    }
    EXPECT_EQ(t.tree.currentItem(), t.items["d"]);
}

TEST(TreeCtrlExt, KeysChangeTheSelectionWithTheHighlight)
{
    struct Key {
        int key;
        Qt::KeyboardModifiers mods;
    };
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const struct {
        const char* what;
        std::vector<Key> keys;
        const char* selection;
        const char* current;
    } cases[] = {
        {"ctrl+a selects every shown item", {{Qt::Key_A, Qt::ControlModifier}}, "a b c c1 c1x c2 d e", "b"},
        {"space adds the current item", {{Qt::Key_Down, Qt::ControlModifier}, {Qt::Key_Space, none}}, "b c", "c"},
        {"space on a selected item takes it out", {{Qt::Key_Space, none}}, "", "b"},
        {"an arrow moves the selection", {{Qt::Key_Down, none}, {Qt::Key_Down, none}}, "c1", "c1"},
        {"shift+arrow extends it over siblings", {{Qt::Key_Down, Qt::ShiftModifier}}, "b c", "c"},
        {"ctrl+arrow moves only the caret", {{Qt::Key_Up, Qt::ControlModifier}}, "b", "a"},
    };
    for (const auto& c : cases) {
        Tree t;
        t.tree.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&t.tree, 60000));
        QTest::mouseClick(t.tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                          t.tree.visualItemRect(t.items["b"]).center());
        for (const Key& k : c.keys)
            QTest::keyClick(&t.tree, Qt::Key(k.key), k.mods);
        EXPECT_EQ(t.selected(t.tree.selection()), c.selection) << c.what;
        EXPECT_EQ(t.tree.currentItem(), t.items[c.current]) << c.what;
        expectHighlightIsSelection(t, c.what);
        EXPECT_EQ(t.tree.selectedItems().size(), t.tree.selection().size()) << c.what;
    }
}

TEST(TreeCtrlChains, RootLookupItemsActedOnAndMenu)
{
    CTreeCtrlChains tree;
    tree.resize(200, 300);
    auto* flat = new QTreeWidgetItem(&tree, {"Flat"});
    auto* flatField = new QTreeWidgetItem(&tree, {"Flat field"});
    auto* member = new QTreeWidgetItem(flatField, {"chainedit:Save"});
    new QTreeWidgetItem(member, {"Default instance"});
    tree.expandAll();
    EXPECT_EQ(tree.findRootItem("Flat field"), flatField);
    EXPECT_EQ(tree.findRootItem("Flat"), flat) << "exact text, not a prefix";
    EXPECT_EQ(tree.findRootItem("flat"), nullptr) << "case counts";
    EXPECT_EQ(tree.findRootItem("chainedit:Save"), nullptr) << "children are not roots";

    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree, 60000));
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, tree.visualItemRect(flatField).center());
    EXPECT_EQ(tree.getSelectedItems(), std::set<QTreeWidgetItem*>{flatField}) << "an item with children stands for itself";

    tree.contextMenu()->addAction("Rename");
    QMenu* shown = nullptr;
    QPoint shownAt;
    CTreeCtrlChains::setMenuPopupForTests([&](QMenu* menu, const QPoint& global) {
        shown = menu;
        shownAt = global;
    });
    QSignalSpy about(&tree, &CTreeCtrlChains::aboutToShowMenu);
    const QPoint at = tree.visualItemRect(member).center();
    QTest::mouseClick(tree.viewport(), Qt::RightButton, Qt::NoModifier, at);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, tree.viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree.viewport(), &menuEvent);
    ASSERT_EQ(about.count(), 1);
    EXPECT_EQ(about.at(0).at(0).value<QTreeWidgetItem*>(), member);
    EXPECT_EQ(tree.getSelectedItems(), std::set<QTreeWidgetItem*>{member}) << "the right click moved to the member";
    EXPECT_EQ(shown, tree.contextMenu());
    EXPECT_EQ(shownAt, tree.viewport()->mapToGlobal(at)) << "the menu opens where the pointer is";
    CTreeCtrlChains::setMenuPopupForTests({});
}

} // namespace
