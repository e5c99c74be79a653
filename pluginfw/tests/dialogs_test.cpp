// The framework's dialogs and window helpers, offscreen: the test-pulse dialog against the device's
// limits, the preview error box, pop-up menu items decided by the dialog, and the value column of a list.
#include <cmath>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "fake_mgr.h"
#include "file_dialogs.h"
#include "plugin_table.h"
#include "prev_wnd_api.h"
#include "prev_wnd_error.h"
#include "test_pulse_dlg.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

namespace {

std::vector<std::string> gBoxes;

class DialogsTest : public testing::Test {
protected:
    void SetUp() override
    {
        fakemgr::reset("/cfg/");
        fakemgr::setDevice(0, "A"); // limits 2.5 V, 1 ms, 1000 pulses
        setPluginTable(&table);
        gBoxes.clear();
        setMessageBoxHandler([](QWidget*, const QString& text, const QString&, unsigned) {
            gBoxes.push_back(text.toStdString());
            return int(MSGBOX_IDOK);
        });
    }
    void TearDown() override
    {
        setMessageBoxHandler({});
        unbindPrevWndApi();
        setPluginTable(nullptr);
    }
    const _MgrFuncTable table = fakemgr::table();
};

TEST_F(DialogsTest, TestPulseFieldsShowLimitsAndHalfMaxima)
{
    CTestPulsesParsDlg dlg;
    dlg.pars.devId = 0;
    dlg.pars.count = 10;
    dlg.pars.spacing = 4;
    ASSERT_TRUE(dlg.prepare());
    EXPECT_EQ(dlg.periodEdit()->text(), "500");
    EXPECT_EQ(dlg.heightEdit()->text(), "1.25");
    EXPECT_EQ(dlg.countEdit()->text(), "10");
    EXPECT_EQ(dlg.spacingEdit()->text(), "4");
    EXPECT_EQ(dlg.periodLabelCtrl()->text(), "Pulse period (0 - 1000.0) [us]:");
    EXPECT_EQ(dlg.heightLabelCtrl()->text(), "Pulse height (0 - 2.5) [V]:");
    EXPECT_EQ(dlg.countLabelCtrl()->text(), "Number of pulses (0 - 1000):");
    EXPECT_EQ(dlg.windowTitle(), "Test pulses parameters");
}

TEST_F(DialogsTest, UnchangedOkReturnsTheCallersValues)
{
    struct Case {
        double height, period;
        uint32_t count;
        int spacing;
    } cases[] = {{0.7, 2.5e-4, 12, 3}, {2.5, 1e-3, 1000, 32}, {1.0 / 3.0, 1.0 / 7.0 * 1e-3, 0, 0},
                 {1.0, 1e-3, 5, -4}}; // spacing is passed through unchecked, a negative one too
    for (const Case& c : cases) {
        CTestPulsesParsDlg dlg;
        dlg.pars.devId = 0;
        dlg.pars.height = c.height;
        dlg.pars.period = c.period;
        dlg.pars.count = c.count;
        dlg.pars.spacing = c.spacing;
        ASSERT_TRUE(dlg.prepare());
        dlg.OnOK();
        EXPECT_EQ(dlg.result(), QDialog::Accepted) << c.height;
        EXPECT_EQ(dlg.pars.height, c.height);
        EXPECT_NEAR(dlg.pars.period, c.period, std::fabs(c.period) * 1e-12);
        EXPECT_EQ(dlg.pars.count, c.count);
        EXPECT_EQ(dlg.pars.spacing, c.spacing);
    }
    EXPECT_TRUE(gBoxes.empty());
}

TEST_F(DialogsTest, BadFieldKeepsTheDialogOpenWithItsFocus)
{
    struct Case {
        const char* name;
        const char* height;
        const char* period;
        const char* count;
        const char* spacing;
        int focused; // 0 height, 1 period, 2 count, 3 spacing
    } cases[] = {
        {"height above its maximum", "2.6", "500", "1", "1", 0},
        {"period above its maximum", "1", "1000.5", "1", "1", 1},
        {"count above its maximum", "1", "500", "1001", "1", 2},
        {"spacing beyond int", "1", "500", "1", "3000000000", 3},
        {"period checked before height", "9", "-1", "1", "1", 1},
    };
    for (const Case& c : cases) {
        CTestPulsesParsDlg dlg;
        dlg.pars.devId = 0;
        dlg.pars.height = 1;
        dlg.pars.period = 5e-4;
        ASSERT_TRUE(dlg.prepare());
        CSmartEdit* edits[] = {dlg.heightEdit(), dlg.periodEdit(), dlg.countEdit(), dlg.spacingEdit()};
        dlg.heightEdit()->setText(c.height);
        dlg.periodEdit()->setText(c.period);
        dlg.countEdit()->setText(c.count);
        dlg.spacingEdit()->setText(c.spacing);
        gBoxes.clear();
        dlg.OnOK();
        EXPECT_NE(dlg.result(), QDialog::Accepted) << c.name;
        EXPECT_EQ(gBoxes.size(), 1u) << c.name;
        EXPECT_EQ(dlg.focusWidget(), edits[c.focused]) << c.name;
        // Cancel then: the caller's values.
        dlg.reject();
        EXPECT_EQ(dlg.pars.height, 1) << c.name;
        EXPECT_EQ(dlg.pars.period, 5e-4) << c.name;
    }
}

TEST_F(DialogsTest, UnreadableDeviceGetsABoxAndCancel)
{
    fakemgr::setDevice(2, "B", TVK_ERR_DEV_NOT_INIT);
    CTestPulsesParsDlg dlg;
    dlg.pars.devId = 2;
    dlg.pars.height = 1.5;
    dlg.pars.period = 2e-4;
    dlg.pars.count = 7;
    dlg.pars.spacing = 2;
    EXPECT_EQ(dlg.DoModal(), MSGBOX_IDCANCEL);
    EXPECT_EQ(gBoxes, std::vector<std::string>{"Cannot read the information of device 2 (error -110)."});
    EXPECT_EQ(dlg.pars.height, 1.5);
    EXPECT_EQ(dlg.pars.period, 2e-4);
    EXPECT_EQ(dlg.pars.count, 7u);
    EXPECT_EQ(dlg.pars.spacing, 2);
}

TEST_F(DialogsTest, PreviewErrorBoxOnlyForATextThatWasRead)
{
    prevWndErrorCallback(7); // not bound: nothing
    EXPECT_TRUE(gBoxes.empty());
    fakemgr::offerPreviews();
    ASSERT_EQ(bindPrevWndApi(), 0);
    fakemgr::state().lastErrorResult = -1;
    prevWndErrorCallback(7);
    EXPECT_TRUE(gBoxes.empty());
    fakemgr::state().lastErrorResult = 0;
    fakemgr::state().lastError = "Frame 12 not found.";
    prevWndErrorCallback(7);
    EXPECT_EQ(gBoxes, std::vector<std::string>{"Frame 12 not found."});
}

// A dialog that decides on the items whose data is 1 (enabled and checked); it has no handler for others.
class MenuOwner : public QWidget, public CmdUIHandler {
public:
    bool OnUpdateCmdUI(QAction* action) override
    {
        if (action->data().toInt() != 1)
            return false;
        action->setEnabled(true);
        action->setCheckable(true);
        action->setChecked(true);
        return true;
    }
};

TEST_F(DialogsTest, PopupItemsDecidedByTheDialogsHandlers)
{
    MenuOwner owner;
    QWidget plain;
    struct Case {
        QWidget* dialog;
        bool handledEnabled;
    } cases[] = {{&owner, true}, {&plain, false}};
    for (const Case& c : cases) {
        QMenu popup;
        QAction* handled = popup.addAction("Handled");
        handled->setData(1);
        handled->setEnabled(false);
        QAction* other = popup.addAction("Other");
        other->setData(2);
        QAction* separator = popup.addSeparator();
        QMenu* sub = popup.addMenu("Sub");
        connectPopupMenuCmdUI(c.dialog, &popup);
        Q_EMIT popup.aboutToShow();
        EXPECT_EQ(handled->isEnabled(), c.handledEnabled);
        EXPECT_EQ(handled->isChecked(), c.handledEnabled);
        EXPECT_FALSE(other->isEnabled());
        EXPECT_TRUE(separator->isEnabled());
        EXPECT_TRUE(sub->menuAction()->isEnabled());
    }
}

TEST_F(DialogsTest, ValueColumnOfAListRow)
{
    QTreeWidget list;
    list.setColumnCount(2);
    for (const char* name : {"Bias", "Clock"})
        list.addTopLevelItem(new QTreeWidgetItem(QStringList{name, ""}));
    setListValueText(&list, 1, "%d MHz (%s)", 10, "set");
    setListValueText(&list, 5, "%d", 3); // no such row
    EXPECT_EQ(list.topLevelItem(1)->text(1), "10 MHz (set)");
    EXPECT_EQ(list.topLevelItem(0)->text(1), "");
    EXPECT_FALSE(browseForFolder(nullptr, nullptr, nullptr)); // no buffer: no dialog either
}

} // namespace
