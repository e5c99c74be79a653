// Resizable dialog base.
#include "resizeable_dlg.h"

#include <new>

#include <QMouseEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <QThread>

#include "message_box.h"

namespace {

LayoutRect toLayoutRect(const QRect& r)
{
    return LayoutRect::fromSize(r.x(), r.y(), r.width(), r.height());
}

Qt::CursorShape sizingCursor(const Splitter& s)
{
    return s.vertical ? Qt::SizeHorCursor : Qt::SizeVerCursor;
}

} // namespace

CResizeableDlg::CResizeableDlg(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

CResizeableDlg::~CResizeableDlg() = default;

bool CResizeableDlg::OnInitDialog()
{
    if (initialised_)
        return true;
    initialised_ = true;
    initialClient_ = rect();
    initLayout();
    return true;
}

DlgItemLayout* CResizeableDlg::addDlgItem(QWidget* control, int anchorFlags)
{
    if (!control || control == this || !isAncestorOf(control))
        return nullptr;
    try {
        auto entry = std::make_unique<DlgItemLayout>();
        entry->item = control;
        entry->anchorFlags = anchorFlags;
        entry->initialRect = toLayoutRect(control->geometry());
        items_.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        messageBox(this, QStringLiteral("Memory allocation error!"));
        return nullptr;
    }
    return items_.back().get();
}

Splitter* CResizeableDlg::addSplitter(const QRect& rect, bool vertical, int followFlags)
{
    try {
        splitters_.push_back(std::make_unique<Splitter>(toLayoutRect(rect), followFlags, vertical));
    } catch (const std::bad_alloc&) {
        messageBox(this, QStringLiteral("Memory allocation error!"));
        return nullptr;
    }
    setMouseTracking(true); // the sizing cursor shows while the mouse passes over a splitter
    return splitters_.back().get();
}

SplitterBound CResizeableDlg::windowBound(QWidget* window, int side)
{
    SplitterBound bound;
    bound.side = side;
    QPointer<QWidget> guarded(window);
    bound.windowRect = [guarded]() -> std::optional<LayoutRect> {
        if (!guarded)
            return std::nullopt;
        if (guarded->isWindow())
            return toLayoutRect(guarded->rect().adjusted(6, 6, -6, -6));
        return toLayoutRect(guarded->geometry());
    };
    return bound;
}

void CResizeableDlg::layoutItems(int cx, int cy)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!initialised_)
        return;
    int dx = cx - initialClient_.width();
    int dy = cy - initialClient_.height();
    for (auto& s : splitters_)
        followDialogSize(*s, dx, dy);

    // One repaint for all controls instead of one per move.
    bool wasEnabled = updatesEnabled();
    setUpdatesEnabled(false);
    for (auto& entry : items_) {
        if (!entry->item)
            continue;
        LayoutRect r = placeLayoutItem(entry->initialRect, entry->anchorFlags, dx, dy, entry->anchors);
        entry->item->setGeometry(r.left, r.top, r.width(), r.height());
    }
    setUpdatesEnabled(wasEnabled);
}

void CResizeableDlg::OnSize(bool minimized, int cx, int cy)
{
    if (!minimized)
        layoutItems(cx, cy);
}

void CResizeableDlg::OnLButtonDown(const QPoint& point)
{
    for (auto& s : splitters_) {
        if (s->rect.contains(point.x(), point.y())) {
            setCursor(sizingCursor(*s));
            s->dragging = true;
            return;
        }
    }
}

void CResizeableDlg::OnMouseMove(const QPoint& point)
{
    bool overSplitter = false;
    for (auto& s : splitters_) {
        if (s->rect.contains(point.x(), point.y())) {
            setCursor(sizingCursor(*s));
            overSplitter = true;
        }
        if (s->dragging) {
            s->moveTo(point.x(), point.y());
            layoutItems(width(), height());
            return;
        }
    }
    if (!overSplitter)
        unsetCursor();
}

void CResizeableDlg::OnLButtonUp()
{
    for (auto& s : splitters_) {
        if (s->dragging) {
            s->dragging = false;
            unsetCursor();
            return;
        }
    }
}

void CResizeableDlg::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        OnInitDialog();
    QDialog::showEvent(event);
}

void CResizeableDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    OnSize(isMinimized(), event->size().width(), event->size().height());
}

void CResizeableDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnLButtonDown(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CResizeableDlg::mouseMoveEvent(QMouseEvent* event)
{
    OnMouseMove(event->position().toPoint());
    QDialog::mouseMoveEvent(event);
}

void CResizeableDlg::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnLButtonUp();
    QDialog::mouseReleaseEvent(event);
}
