// The preview's two small dialogs, offscreen and never run modally: the preferences' values in and out
// (flags <-> ticked rows, sizes kept when their edits are unusable, Cancel changes nothing), and the pixel
// criteria dialog's width following its caption and its corner at the anchor, kept on the screen.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>

#include "pix_crit_dlg.h"
#include "prev_settings_dlg.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

namespace {

TEST(PrevSettingsDlg, FlagsAndSizesInAndOut)
{
    const struct {
        int flags;
        Qt::CheckState rows[3];
    } cases[] = {{7, {Qt::Checked, Qt::Checked, Qt::Checked}},
                 {0, {Qt::Unchecked, Qt::Unchecked, Qt::Unchecked}},
                 {5, {Qt::Checked, Qt::Unchecked, Qt::Checked}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        CPrevSettingsDlg dlg;
        dlg.flags = c.flags;
        dlg.OnInitDialog();
        ASSERT_EQ(dlg.flagList()->count(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(dlg.flagList()->item(i)->checkState(), c.rows[i]);
        // Back: the ticks of the rows become the flags.
        CPrevSettingsDlg back;
        back.flags = 7 - c.flags;
        back.OnInitDialog();
        for (int i = 0; i < 3; ++i)
            back.flagList()->item(i)->setCheckState(c.rows[i]);
        back.accept();
        EXPECT_EQ(back.flags, c.flags);
    }
}

TEST(PrevSettingsDlg, SizeEditsFollowTheModeAndKeepOldValues)
{
    const struct {
        int mode;
        const char *width, *height;
        int expectedWidth, expectedHeight;
        bool editsEnabled;
    } cases[] = {
        {2, "", "300", 640, 300, true}, // an empty width keeps the old one
        {3, "800", "600", 800, 600, true},
        {2, "-5", "abc", 640, 480, true},
        {0, "800", "600", 800, 600, false},
        {1, "0", "20000", 640, 480, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        CPrevSettingsDlg dlg;
        dlg.width = 640;
        dlg.height = 480;
        dlg.sizeMode = c.mode;
        dlg.OnInitDialog();
        EXPECT_EQ(dlg.sizeCombo()->currentIndex(), c.mode);
        EXPECT_EQ(dlg.widthEdit()->isEnabled(), c.editsEnabled);
        EXPECT_EQ(dlg.widthEdit()->text().toStdString(), "640");
        dlg.widthEdit()->setText(c.width);
        dlg.heightEdit()->setText(c.height);
        dlg.accept();
        EXPECT_EQ(dlg.width, c.expectedWidth);
        EXPECT_EQ(dlg.height, c.expectedHeight);
        EXPECT_EQ(dlg.sizeMode, c.mode);
    }
    CPrevSettingsDlg dlg;
    dlg.OnInitDialog();
    dlg.sizeCombo()->setCurrentIndex(3);
    EXPECT_TRUE(dlg.heightEdit()->isEnabled());
    dlg.flagList()->item(0)->setCheckState(Qt::Unchecked);
    dlg.reject();
    EXPECT_EQ(dlg.flags, 7) << "Cancel changed the flags";
}

TEST(PixCritDlg, WidthFollowsTheCaptionAndTheCornerTheAnchor)
{
    CPixCritDlg shortDlg, longDlg;
    shortDlg.caption = "More than:";
    longDlg.caption = "Shift THL adj. (or mask if shift is not possible) for pixels counting more than:";
    for (CPixCritDlg* d : {&shortDlg, &longDlg}) {
        d->anchorX = 600;
        d->anchorY = 500;
        d->value = 2.5;
        d->OnInitDialog();
        EXPECT_EQ(d->edit()->text().toStdString(), "2.5");
        EXPECT_EQ(d->captionLabel()->text(), d->caption);
        EXPECT_GE(d->captionLabel()->width(), d->captionLabel()->fontMetrics().horizontalAdvance(d->caption));
        EXPECT_LE(d->captionLabel()->geometry().right(), d->edit()->x()) << "the caption runs under the edit";
    }
    EXPECT_LT(shortDlg.width(), longDlg.width());
    EXPECT_LT(shortDlg.edit()->x(), longDlg.edit()->x());

    const struct {
        QPoint anchor;
        QRect screen;
        QRect expected;
    } places[] = {
        {{600, 500}, {0, 0, 1280, 900}, {600 + 40 - 300, 500 + 20 - 70, 300, 70}},
        {{10, 10}, {0, 0, 1280, 900}, {0, 0, 300, 70}},          // kept on the screen
        {{1400, 1000}, {0, 0, 1280, 900}, {980, 830, 300, 70}},  // right and bottom edges
        {{600, 500}, {}, {340, 450, 300, 70}},                  // no screen known: as asked
    };
    for (const auto& p : places)
        EXPECT_EQ(pixCritPlacement({300, 70}, p.anchor, p.screen), p.expected);
}

TEST(PixCritDlg, ANonNumberKeepsTheDialogOpen)
{
    std::vector<std::string> boxes;
    setMessageBoxHandler([&](QWidget*, const QString& text, const QString&, unsigned) {
        boxes.push_back(text.toStdString());
        return int(MSGBOX_IDOK);
    });
    CPixCritDlg dlg;
    dlg.value = 1;
    dlg.OnInitDialog();
    dlg.edit()->setText("many");
    dlg.accept();
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(dlg.value, 1);
    EXPECT_EQ(boxes.size(), 1u);
    dlg.edit()->setText("12.5");
    dlg.accept();
    EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
    EXPECT_EQ(dlg.value, 12.5);
    setMessageBoxHandler({});
}

} // namespace
