// "Preview Preferences": how "Save Picture" exports the image (size mode, custom size, border, labels
// and colour bar). The values are copied in before the dialog runs and hold the new ones after OK only.
// GUI thread.
#pragma once

#include <QDialog>

class CSmartEdit;
class QComboBox;
class QListWidget;

class CPrevSettingsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPrevSettingsDlg(QWidget* parent = nullptr);

    int flags = 7;    // bit 0 border rectangle, bit 1 labels, bit 2 colour bar
    int width = 512;  // custom export size
    int height = 512;
    int sizeMode = 0; // 0 same as data, 1 same as in window, 2 custom data size, 3 custom total size

    // Fills the controls from the values (exec() runs it first).
    void OnInitDialog();
    int exec() override;
    void accept() override;

    QComboBox* sizeCombo() const { return size_; }
    CSmartEdit* widthEdit() const { return width_; }
    CSmartEdit* heightEdit() const { return height_; }
    QListWidget* flagList() const { return list_; }

private:
    void modeChosen(int mode);

    QComboBox* size_;
    CSmartEdit* width_;
    CSmartEdit* height_;
    QListWidget* list_;
    bool initialised_ = false;
};
