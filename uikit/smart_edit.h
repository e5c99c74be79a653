// Validated edit: a line edit that holds a typed value (smart_value.h) and checks the user's text when
// it loses the focus or when Enter is pressed. Bad text is refused with a message box (message_box.h),
// selected again and given the focus back; Enter on bad text is swallowed, so the dialog stays open.
#pragma once

#include <cstdint>

#include <QLineEdit>
#include <QWidget>

#include "smart_value.h"

class QToolButton;

class CSmartEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CSmartEdit(QWidget* parent = nullptr);

    int mode() const { return value_.mode(); }
    void setMode(int mode) { value_.setMode(mode); } // a SmartEditValue::Mode, set by the owning dialog

    // Checks the text now; true when it is valid (and then stored). Shows the box when it is not.
    bool validate();

    // Store a value and show it ("%d", "%u", "%.5g", "%.5g %.5g" or one "%.5g" for an empty range):
    // 0, or -1 without any change when the edit is of another mode.
    int setInt(int value);
    int setUInt(unsigned value);
    int setDouble(double value);
    int setRangeValue(double from, double to);
    // Limits for the value (SmartEditValue::setDoubleLimits); 0, or -1 for a limit that is not a number.
    int setDoubleLimits(double min, double max) { return value_.setDoubleLimits(min, max); }

    bool isValid() const { return value_.valid(); }
    int64_t intValue() const { return value_.intValue(); }
    double doubleValue() const { return value_.doubleValue(); }
    double rangeFrom() const { return value_.doubleValue(); }
    double rangeTo() const { return value_.rangeTo(); }

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnKillFocus();
    int showValue(const std::optional<std::string>& text);

    SmartEditValue value_;
    // Set while a check started by Enter or a shown error box is in progress, so that the focus loss the
    // box causes does not check again.
    bool checkDone_ = false;
};

// The up-down arrows beside an integer edit (its buddy): each click, or Up/Down in the edit, adds or takes one
// from the number the edit shows and shows the result, kept within the spin's range. Text that is no number
// steps from the edit's stored value. At an end of the range a further step changes nothing. The arrows
// follow the edit's enabled state.
class CSmartSpin : public QWidget {
    Q_OBJECT
public:
    CSmartSpin(CSmartEdit* buddy, QWidget* parent = nullptr);

    void setRange(int64_t min, int64_t max);
    int64_t minimum() const { return min_; }
    int64_t maximum() const { return max_; }
    // Steps the buddy's number by steps (negative: down).
    void stepBy(int steps);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CSmartEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int64_t min_ = 0;
    int64_t max_ = 100;
};
