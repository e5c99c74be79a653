// Validated edit.
#include "smart_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>

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
