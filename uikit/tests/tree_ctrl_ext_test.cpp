// The tree's own multi-selection: a table of click sequences with the selection they leave, the items
// acted on, colour properties, deletion of a subtree (nothing of it stays behind), and the Delete key.
#include <string>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>

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

} // namespace
