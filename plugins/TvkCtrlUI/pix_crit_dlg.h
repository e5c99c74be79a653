// "Pixel criteria": asks for one number under a caption line chosen by the caller, and opens with its
// lower right corner 40 pixels right of and 20 below an anchor point (the cursor), kept on the screen.
// The dialog's width follows the caption. GUI thread.
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>

class CSmartEdit;
class QLabel;
class QPushButton;

// Where the dialog of size `size` opens for an anchor point: lower right corner at anchor + (40, 20),
// moved inside `screen` when it would stick out.
QRect pixCritPlacement(const QSize& size, const QPoint& anchor, const QRect& screen);

class CPixCritDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixCritDlg(QWidget* parent = nullptr);

    // Set before exec(); value is read back after OK.
    QString caption;
    double value = 0;
    int anchorX = 0, anchorY = 0;

    // Sizes and places the dialog for caption and anchor, fills the controls (exec() runs it first).
    void OnInitDialog();
    CSmartEdit* edit() const { return edit_; }
    QLabel* captionLabel() const { return label_; }

    int exec() override;
    void accept() override; // a text that is not a number keeps the dialog open

private:
    QLabel* label_;
    CSmartEdit* edit_;
    QPushButton* ok_;
    QPushButton* cancel_;
    bool initialised_ = false;
};
