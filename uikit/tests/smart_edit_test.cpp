// The validated edit in a dialog: Enter and focus loss check the text, a refused text shows exactly one
// box and keeps the dialog open, a valid one lets Enter reach the default button.
#include "smart_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPushButton>

#include "message_box.h"

namespace {

class SmartEditTest : public testing::Test {
protected:
    void SetUp() override
    {
        edit = new CSmartEdit(&dialog);
        ok = new QPushButton(QStringLiteral("OK"), &dialog);
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
        // The box answers at once; a real one takes the focus while it is open, so the edit loses it.
        previous = setMessageBoxHandler([this](QWidget*, const QString& text, const QString&, unsigned) {
            boxes.push_back(text);
            if (boxTakesFocus)
                sendFocusOut(Qt::ActiveWindowFocusReason);
            return int(MSGBOX_IDOK);
        });
        dialog.show();
    }
    void TearDown() override { setMessageBoxHandler(previous); }

    void pressEnter()
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(edit, &press);
    }
    void sendFocusOut(Qt::FocusReason reason)
    {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(edit, &out);
    }

    QDialog dialog;
    CSmartEdit* edit = nullptr;
    QPushButton* ok = nullptr;
    QStringList boxes;
    bool boxTakesFocus = true;
    MessageBoxHandler previous;
};

TEST_F(SmartEditTest, EnterOnRefusedTextShowsOneBoxAndKeepsTheDialogOpen)
{
    edit->setMode(SmartEditValue::MODE_INT);
    edit->setDoubleLimits(1, 1000000000);
    ASSERT_EQ(edit->setInt(5), 0);
    edit->setText(QStringLiteral("4294967297"));
    pressEnter();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0], QStringLiteral("Please enter an integer between 1 and 1000000000."));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(edit->isValid());
    EXPECT_EQ(edit->intValue(), 5);
    EXPECT_EQ(edit->selectedText(), edit->text());

    // The next focus loss is the user's own: it checks again.
    sendFocusOut(Qt::TabFocusReason);
    EXPECT_EQ(boxes.size(), 2);
}

TEST_F(SmartEditTest, EnterOnValidTextReachesTheDefaultButton)
{
    edit->setMode(SmartEditValue::MODE_RANGE);
    edit->setDoubleLimits(0, 1e9);
    edit->setText(QStringLiteral("0.5 2.25"));
    pressEnter();
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(edit->isValid());
    EXPECT_EQ(edit->rangeFrom(), 0.5);
    EXPECT_EQ(edit->rangeTo(), 2.25);
}

TEST_F(SmartEditTest, FocusLossChecksExceptForTheEditsOwnPopup)
{
    struct Case {
        const char* text;
        Qt::FocusReason reason;
        int boxes;
        bool valid;
        double stored;
    } cases[] = {
        {"nan", Qt::TabFocusReason, 1, false, 0},
        {"inf", Qt::MouseFocusReason, 1, false, 0},
        {"1,5", Qt::ActiveWindowFocusReason, 1, false, 0},
        {"1.5", Qt::TabFocusReason, 0, true, 1.5},
        {"nan", Qt::PopupFocusReason, 0, true, 0},
    };
    edit->setMode(SmartEditValue::MODE_DOUBLE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        boxes.clear();
        ASSERT_EQ(edit->setDouble(0), 0);
        edit->setText(QString::fromLatin1(c.text));
        sendFocusOut(c.reason);
        EXPECT_EQ(boxes.size(), c.boxes);
        EXPECT_EQ(edit->isValid(), c.valid);
        EXPECT_EQ(edit->doubleValue(), c.stored);
    }
}

TEST_F(SmartEditTest, BoxThatTakesNoFocusLeavesTheNextFocusLossUnchecked)
{
    boxTakesFocus = false;
    edit->setMode(SmartEditValue::MODE_INT);
    edit->setText(QStringLiteral("12a"));
    EXPECT_FALSE(edit->validate());
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0], QStringLiteral("Please enter a number."));
    sendFocusOut(Qt::TabFocusReason); // taken for the box's own focus loss
    EXPECT_EQ(boxes.size(), 1);
    sendFocusOut(Qt::TabFocusReason);
    EXPECT_EQ(boxes.size(), 2);
}

TEST_F(SmartEditTest, SettersShowValuesAndRefuseAnotherMode)
{
    edit->setMode(SmartEditValue::MODE_DOUBLE);
    ASSERT_EQ(edit->setDouble(1234.5678), 0);
    EXPECT_EQ(edit->text(), QStringLiteral("1234.6")); // a '.' under every locale
    EXPECT_EQ(edit->setInt(3), -1);
    EXPECT_EQ(edit->setRangeValue(1, 2), -1);
    EXPECT_EQ(edit->text(), QStringLiteral("1234.6"));

    edit->setMode(SmartEditValue::MODE_INT);
    ASSERT_EQ(edit->setUInt(4000000000u), 0);
    EXPECT_EQ(edit->text(), QStringLiteral("4000000000"));
    EXPECT_TRUE(edit->validate());
    EXPECT_EQ(edit->intValue(), 4000000000LL);
    EXPECT_TRUE(boxes.isEmpty());
}

} // namespace
