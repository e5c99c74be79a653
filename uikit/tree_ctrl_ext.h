// A tree with a multi-selection of its own beside the view's current item: Ctrl-click toggles an item,
// Shift-click selects the siblings from the anchor to the clicked item, a plain click starts again; per-item
// text colours and fonts, drawn by the control itself (a text split at a character goes on in the split colour);
// a right click that keeps a selection it lands in; and a signal when Delete is pressed. The view's own
// selection commands are switched off, so the highlight is always this control's selection: the arrow keys
// move it as a plain click does, Space toggles the current item as a Ctrl-click does, Ctrl+A selects every
// shown item; a click on an item's expand/collapse arrow only opens or closes it. An item that leaves
// the tree by any road (deleteItem, deleteChildren, the tree's clear, a delete or take of the owner's) takes
// every descendant's selection entry and properties with it, and the anchor and range end when they went
// with them: nothing keeps a pointer to a deleted item.
// GUI thread only.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>

#include <QColor>
#include <QFont>
#include <QTreeWidget>

class QMenu;

class CTreeCtrlExt : public QTreeWidget {
    Q_OBJECT
public:
    explicit CTreeCtrlExt(QWidget* parent = nullptr);
    ~CTreeCtrlExt() override;

    struct ItemProperty {
        int splitPos = -1;     // -1: no split
        QColor color;          // invalid: the default colour
        QColor splitColor;     // colour of the text from splitPos on
        std::optional<QFont> font; // none: the item's own font
    };

    // An invalid colour drops the item's own colour (and its property when nothing else is left).
    void setItemColor(const QColor& color, QTreeWidgetItem* item);
    // The text from character pos on in red.
    void setItemSplit(int pos, QTreeWidgetItem* item);
    // Null drops the item's own font.
    void setItemFont(const QFont* font, QTreeWidgetItem* item);
    const ItemProperty* itemProperty(QTreeWidgetItem* item) const;

    // The items to act on: the selection, or the current item when nothing is selected; with recursive an
    // item with children stands for its leaves (depth first, in order).
    std::set<QTreeWidgetItem*> getSelectedItems(bool recursive) const;
    const std::set<QTreeWidgetItem*>& selection() const { return selection_; }
    QTreeWidgetItem* anchor() const { return anchor_; }

    void deleteItem(QTreeWidgetItem* item);
    bool deleteChildren(QTreeWidgetItem* item); // true when it had children

    // A click as the mouse gives it (the modifiers decide).
    void clickItem(QTreeWidgetItem* hit, Qt::KeyboardModifiers modifiers);
    // A right click: on a selected item the selection stays and only the current item moves; elsewhere the
    // selection is cleared and the hit item (or none) becomes the anchor and the current item.
    void rightClickItem(QTreeWidgetItem* hit);

signals:
    void deleteKeyPressed(CTreeCtrlExt* tree);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    class Delegate;
    void pruneItemProperty(QTreeWidgetItem* item);
    void applyProperty(QTreeWidgetItem* item);
    void forget(QTreeWidgetItem* item); // the item and its descendants
    void forgetAll();
    void select(QTreeWidgetItem* item, bool on);
    QTreeWidgetItem* sibling(QTreeWidgetItem* item, bool forward) const;
    bool onBranchArrow(QTreeWidgetItem* item, const QPoint& at) const;
    void selectAllShown();

    std::set<QTreeWidgetItem*> selection_;
    std::map<QTreeWidgetItem*, ItemProperty> properties_;
    QTreeWidgetItem* anchor_ = nullptr;
    QTreeWidgetItem* rangeEnd_ = nullptr;
    bool forward_ = true;
};

// The filter-chain editor's variant: chains at the root found by their text, the items to act on without
// descending into children, and a context menu the owner fills (aboutToShowMenu names the item under the
// pointer, after the right click has settled the selection).
class CTreeCtrlChains : public CTreeCtrlExt {
    Q_OBJECT
public:
    explicit CTreeCtrlChains(QWidget* parent = nullptr);

    // The first root item whose text is exactly text (case-sensitive), or null.
    QTreeWidgetItem* findRootItem(const QString& text) const;
    // The selection, or the current item when nothing is selected; items with children stand for themselves.
    std::set<QTreeWidgetItem*> getSelectedItems() const { return CTreeCtrlExt::getSelectedItems(false); }

    QMenu* contextMenu() const { return menu_; }

    // Shows the context menu at a global position (default: QMenu::popup). Tests replace it, as no
    // headless platform can show a popup; an empty function restores the default.
    using MenuPopup = std::function<void(QMenu* menu, const QPoint& global)>;
    static void setMenuPopupForTests(MenuPopup popup);

signals:
    void aboutToShowMenu(QTreeWidgetItem* item);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QMenu* menu_;
};
