#include "tree_ctrl_ext.h"

#include <functional>

#include <QKeyEvent>
#include <QMouseEvent>

CTreeCtrlExt::CTreeCtrlExt(QWidget* parent) : QTreeWidget(parent)
{
    setSelectionMode(QAbstractItemView::MultiSelection); // the selection is this control's own
}

void CTreeCtrlExt::applyProperty(QTreeWidgetItem* item)
{
    const auto it = properties_.find(item);
    item->setData(0, Qt::ForegroundRole, it != properties_.end() && it->second.color.isValid()
                                             ? QVariant(it->second.color) : QVariant());
    viewport()->update();
}

void CTreeCtrlExt::pruneItemProperty(QTreeWidgetItem* item)
{
    const auto it = properties_.find(item);
    if (it != properties_.end() && !it->second.color.isValid() &&
        (!it->second.splitColor.isValid() || it->second.splitPos < 0))
        properties_.erase(it);
}

void CTreeCtrlExt::setItemColor(const QColor& color, QTreeWidgetItem* item)
{
    if (!item)
        return;
    if (const auto it = properties_.find(item); it != properties_.end()) {
        it->second.color = color;
        pruneItemProperty(item);
    } else if (color.isValid()) {
        properties_[item].color = color;
    }
    applyProperty(item);
}

void CTreeCtrlExt::setItemSplit(int pos, QTreeWidgetItem* item)
{
    if (!item)
        return;
    ItemProperty& p = properties_[item];
    p.color = QColor();
    p.splitColor = QColor(255, 0, 0);
    p.splitPos = pos;
    pruneItemProperty(item);
    applyProperty(item);
}

const CTreeCtrlExt::ItemProperty* CTreeCtrlExt::itemProperty(QTreeWidgetItem* item) const
{
    const auto it = properties_.find(item);
    return it == properties_.end() ? nullptr : &it->second;
}

std::set<QTreeWidgetItem*> CTreeCtrlExt::getSelectedItems(bool recursive) const
{
    std::set<QTreeWidgetItem*> items = selection_;
    if (items.empty() && currentItem())
        items.insert(currentItem());
    if (!recursive)
        return items;
    std::set<QTreeWidgetItem*> leaves;
    const std::function<void(QTreeWidgetItem*)> addLeaves = [&](QTreeWidgetItem* i) {
        if (i->childCount() == 0) {
            leaves.insert(i);
            return;
        }
        for (int c = 0; c < i->childCount(); ++c)
            addLeaves(i->child(c));
    };
    for (QTreeWidgetItem* i : items)
        addLeaves(i);
    return leaves;
}

void CTreeCtrlExt::forget(QTreeWidgetItem* item)
{
    for (int c = 0; c < item->childCount(); ++c)
        forget(item->child(c));
    properties_.erase(item);
    selection_.erase(item);
    if (anchor_ == item)
        anchor_ = nullptr;
    if (rangeEnd_ == item)
        rangeEnd_ = nullptr;
}

void CTreeCtrlExt::deleteItem(QTreeWidgetItem* item)
{
    if (!item)
        return;
    forget(item);
    delete item;
}

bool CTreeCtrlExt::deleteChildren(QTreeWidgetItem* item)
{
    if (!item || item->childCount() == 0)
        return false;
    while (item->childCount() > 0)
        deleteItem(item->child(0));
    return true;
}

void CTreeCtrlExt::select(QTreeWidgetItem* item, bool on)
{
    if (on)
        selection_.insert(item);
    else
        selection_.erase(item);
    item->setSelected(on);
}

QTreeWidgetItem* CTreeCtrlExt::sibling(QTreeWidgetItem* item, bool forward) const
{
    QTreeWidgetItem* parent = item->parent();
    const int index = parent ? parent->indexOfChild(item) : indexOfTopLevelItem(item);
    const int next = index + (forward ? 1 : -1);
    if (parent)
        return next >= 0 && next < parent->childCount() ? parent->child(next) : nullptr;
    return next >= 0 && next < topLevelItemCount() ? topLevelItem(next) : nullptr;
}

void CTreeCtrlExt::clickItem(QTreeWidgetItem* hit, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::ControlModifier) {
        if (!hit)
            return;
        anchor_ = hit;
        rangeEnd_ = nullptr;
        select(hit, !selection_.count(hit));
        return;
    }
    if ((modifiers & Qt::ShiftModifier) && anchor_) {
        if (!hit)
            return;
        if (rangeEnd_) { // the earlier range goes first
            for (QTreeWidgetItem* i = anchor_; i; i = sibling(i, forward_)) {
                if (selection_.count(i))
                    select(i, false);
                if (i == rangeEnd_)
                    break;
            }
        }
        forward_ = visualItemRect(hit).top() >= visualItemRect(anchor_).top();
        rangeEnd_ = hit;
        for (QTreeWidgetItem* i = anchor_; i; i = sibling(i, forward_)) {
            select(i, true);
            if (i == hit)
                break;
        }
        return;
    }
    for (QTreeWidgetItem* i : std::set<QTreeWidgetItem*>(selection_))
        select(i, false);
    if (hit)
        select(hit, true);
    anchor_ = hit;
    rangeEnd_ = nullptr;
    if (hit)
        setCurrentItem(hit, 0, QItemSelectionModel::NoUpdate);
}

void CTreeCtrlExt::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mousePressEvent(event);
        return;
    }
    clickItem(itemAt(event->position().toPoint()), event->modifiers());
}

void CTreeCtrlExt::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete)
        emit deleteKeyPressed(this);
    QTreeWidget::keyPressEvent(event);
}
