#include "tree_ctrl_ext.h"

#include <algorithm>
#include <functional>

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

// Draws the items that have a property: the view's own drawing without the text, then the text in the
// item's font, in its colour up to the split and in the split colour from there. A selected item's text
// defaults to the highlighted text colour, any other's to the view's text colour.
class CTreeCtrlExt::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(CTreeCtrlExt* tree) : QStyledItemDelegate(tree), tree_(tree) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const ItemProperty* p = tree_->itemProperty(tree_->itemFromIndex(index));
        if (!p) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        if (p->font)
            opt.font = *p->font;
        QStyle* style = opt.widget ? opt.widget->style() : tree_->style();
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
        const QString text = opt.text;
        opt.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

        const bool selected = opt.state & QStyle::State_Selected;
        const QColor fallback = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const int split = p->splitPos < 0 ? int(text.size()) : std::min(p->splitPos, int(text.size()));
        const QFontMetrics metrics(opt.font);
        painter->save();
        painter->setFont(opt.font);
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
        painter->setPen(p->color.isValid() ? p->color : fallback);
        painter->drawText(textRect, flags, text.left(split));
        if (split < text.size()) {
            QRect rest = textRect;
            rest.setLeft(textRect.left() + metrics.horizontalAdvance(text.left(split)));
            painter->setPen(p->splitColor.isValid() ? p->splitColor : fallback);
            painter->drawText(rest, flags, text.mid(split));
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const ItemProperty* p = tree_->itemProperty(tree_->itemFromIndex(index));
        if (!p || !p->font)
            return QStyledItemDelegate::sizeHint(option, index);
        QStyleOptionViewItem opt = option;
        opt.font = *p->font; // rows fit the item's own font
        opt.fontMetrics = QFontMetrics(opt.font);
        return QStyledItemDelegate::sizeHint(opt, index);
    }

private:
    CTreeCtrlExt* tree_;
};

CTreeCtrlExt::CTreeCtrlExt(QWidget* parent) : QTreeWidget(parent)
{
    setSelectionMode(QAbstractItemView::MultiSelection); // the selection is this control's own
    setItemDelegate(new Delegate(this));
    // Items are forgotten while they are still in the tree, whichever way they leave it.
    connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                QTreeWidgetItem* p = parent.isValid() ? itemFromIndex(parent) : nullptr;
                for (int row = first; row <= last; ++row)
                    if (QTreeWidgetItem* item = p ? p->child(row) : topLevelItem(row))
                        forget(item);
            });
    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] { forgetAll(); });
}

CTreeCtrlExt::~CTreeCtrlExt()
{
    // The base deletes the items after this object's members are gone: no notice may reach them then.
    disconnect(model(), nullptr, this, nullptr);
}

void CTreeCtrlExt::applyProperty(QTreeWidgetItem* item)
{
    // Row heights follow the item's font.
    if (const QModelIndex index = indexFromItem(item); index.isValid())
        emit itemDelegate()->sizeHintChanged(index);
    viewport()->update();
}

void CTreeCtrlExt::pruneItemProperty(QTreeWidgetItem* item)
{
    const auto it = properties_.find(item);
    if (it != properties_.end() && !it->second.font && !it->second.color.isValid() &&
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

void CTreeCtrlExt::setItemFont(const QFont* font, QTreeWidgetItem* item)
{
    if (!item)
        return;
    if (const auto it = properties_.find(item); it != properties_.end()) {
        it->second.font = font ? std::optional<QFont>(*font) : std::nullopt;
        pruneItemProperty(item);
    } else if (font) {
        properties_[item].font = *font;
    }
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

void CTreeCtrlExt::forgetAll()
{
    properties_.clear();
    selection_.clear();
    anchor_ = nullptr;
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

void CTreeCtrlExt::rightClickItem(QTreeWidgetItem* hit)
{
    if (hit && selection_.count(hit)) {
        setCurrentItem(hit, 0, QItemSelectionModel::NoUpdate);
        return;
    }
    for (QTreeWidgetItem* i : std::set<QTreeWidgetItem*>(selection_))
        select(i, false);
    anchor_ = hit;
    rangeEnd_ = nullptr;
    setCurrentItem(hit, 0, QItemSelectionModel::NoUpdate);
}

bool CTreeCtrlExt::onBranchArrow(QTreeWidgetItem* item, const QPoint& at) const
{
    // The arrow sits in the indentation left of the item's own rectangle.
    return item && item->childCount() > 0 && at.x() < visualItemRect(item).left() &&
           at.x() >= visualItemRect(item).left() - indentation();
}

void CTreeCtrlExt::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    QTreeWidgetItem* hit = itemAt(at);
    if (event->button() == Qt::LeftButton) {
        if (!onBranchArrow(hit, at)) {
            const Qt::KeyboardModifiers mods = event->modifiers();
            const bool keepCaret = (mods & Qt::ControlModifier) || ((mods & Qt::ShiftModifier) && anchor_);
            QTreeWidgetItem* caret = currentItem();
            clickItem(hit, mods);
            // The view's own processing (its selection commands are off) keeps the press for the release,
            // which sends itemClicked; a Ctrl or Shift click leaves the caret where it was.
            QTreeWidget::mousePressEvent(event);
            if (keepCaret && currentItem() != caret)
                setCurrentItem(caret, 0, QItemSelectionModel::NoUpdate);
            return;
        }
    } else if (event->button() == Qt::RightButton) {
        rightClickItem(hit); // the view's own handling would change the selection
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

QItemSelectionModel::SelectionFlags CTreeCtrlExt::selectionCommand(const QModelIndex&, const QEvent*) const
{
    return QItemSelectionModel::NoUpdate; // the highlight follows this control's own selection only
}

void CTreeCtrlExt::selectAllShown()
{
    for (QTreeWidgetItem* i = topLevelItemCount() ? topLevelItem(0) : nullptr; i; i = itemBelow(i))
        if (!i->isHidden() && !selection_.count(i))
            select(i, true);
}

void CTreeCtrlExt::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete)
        emit deleteKeyPressed(this);
    if (event->matches(QKeySequence::SelectAll)) {
        selectAllShown();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Space && currentItem()) {
        clickItem(currentItem(), Qt::ControlModifier);
        event->accept();
        return;
    }
    QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    // A move of the caret without Ctrl moves the selection with it, as a plain (or Shift) click there would.
    QTreeWidgetItem* after = currentItem();
    if (after && after != before && !(event->modifiers() & Qt::ControlModifier))
        clickItem(after, event->modifiers() & Qt::ShiftModifier);
}

namespace {

CTreeCtrlChains::MenuPopup& menuPopup()
{
    static CTreeCtrlChains::MenuPopup popup;
    return popup;
}

} // namespace

void CTreeCtrlChains::setMenuPopupForTests(MenuPopup popup)
{
    menuPopup() = std::move(popup);
}

CTreeCtrlChains::CTreeCtrlChains(QWidget* parent) : CTreeCtrlExt(parent), menu_(new QMenu(this))
{
    menu_->setObjectName(QStringLiteral("treeMenu"));
}

QTreeWidgetItem* CTreeCtrlChains::findRootItem(const QString& text) const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->text(0) == text)
            return topLevelItem(i);
    return nullptr;
}

void CTreeCtrlChains::contextMenuEvent(QContextMenuEvent* event)
{
    QTreeWidgetItem* item = nullptr;
    QPoint global = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        item = itemAt(viewport()->mapFromGlobal(global));
    } else if ((item = currentItem())) { // the menu key: the menu at the current item
        global = viewport()->mapToGlobal(visualItemRect(item).center());
    }
    emit aboutToShowMenu(item);
    if (!menu_->isEmpty()) {
        if (menuPopup())
            menuPopup()(menu_, global);
        else
            menu_->popup(global);
    }
    event->accept();
}
