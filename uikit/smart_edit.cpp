// Validated edit.
#include "smart_edit.h"

#include <algorithm>

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "message_box.h"

CSmartEdit::CSmartEdit(QWidget* parent) : QLineEdit(parent) {}

bool CSmartEdit::validate()
{
    std::string message = value_.check(text().toStdString());
    if (message.empty())
        return true;
    checkDone_ = true;
    messageBox(this, QString::fromStdString(message));
    selectAll();
    setFocus(Qt::OtherFocusReason);
    return false;
}

int CSmartEdit::showValue(const std::optional<std::string>& text)
{
    if (!text)
        return -1;
    setText(QString::fromStdString(*text));
    return 0;
}

int CSmartEdit::setInt(int value)
{
    return showValue(value_.setInt(value));
}

int CSmartEdit::setUInt(unsigned value)
{
    return showValue(value_.setUInt(value));
}

int CSmartEdit::setDouble(double value)
{
    return showValue(value_.setDouble(value));
}

int CSmartEdit::setRangeValue(double from, double to)
{
    return showValue(value_.setRangeValue(from, to));
}

void CSmartEdit::OnKillFocus()
{
    if (checkDone_)
        checkDone_ = false;
    else
        validate();
}

void CSmartEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Opening the edit's own context menu is no focus loss of the user's input.
    if (event->reason() != Qt::PopupFocusReason)
        OnKillFocus();
}

void CSmartEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    checkDone_ = true;
    if (!validate()) {
        event->accept(); // the dialog's default button does not see it
        return;
    }
    checkDone_ = false;
    QLineEdit::keyPressEvent(event); // ignores Enter, which then reaches the dialog
}

CSmartSpin::CSmartSpin(CSmartEdit* buddy, QWidget* parent)
    : QWidget(parent), buddy_(buddy), up_(new QToolButton(this)), down_(new QToolButton(this))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    const int half = std::max(buddy_->sizeHint().height() / 2, 8);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus); // the focus stays in the edit, whose text the arrows change
        b->setFixedSize(half + 4, half);
        column->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
    setEnabled(buddy_->isEnabled());
    buddy_->installEventFilter(this);
}

void CSmartSpin::setRange(int64_t min, int64_t max)
{
    min_ = std::min(min, max);
    max_ = std::max(min, max);
}

void CSmartSpin::stepBy(int steps)
{
    if (buddy_->mode() != SmartEditValue::MODE_INT || !buddy_->isEnabled())
        return;
    bool number = false;
    int64_t current = buddy_->text().trimmed().toLongLong(&number);
    if (!number)
        current = buddy_->intValue();
    const int64_t next = std::clamp(current + steps, min_, max_);
    if (next == current && number)
        return;
    if (next >= INT32_MIN && next <= INT32_MAX)
        buddy_->setInt(static_cast<int>(next));
    else if (next >= 0 && next <= int64_t{UINT32_MAX})
        buddy_->setUInt(static_cast<unsigned>(next));
}

bool CSmartSpin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == buddy_) {
        if (event->type() == QEvent::EnabledChange)
            setEnabled(buddy_->isEnabled());
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down) {
                stepBy(key == Qt::Key_Up ? 1 : -1);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
