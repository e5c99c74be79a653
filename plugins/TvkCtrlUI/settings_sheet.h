// The device settings sheet "Settings": the pages "Device Settings/Info" (acquisition settings, device
// information, digital test), "Tarvik DACs" (a grid of the chip type's DACs, one chip at a time) and
// "Interface Specific Info" (the hardware library's items, editable in place). Modal; GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractSpinBox>
#include <QDialog>

#include "tvk_mgr.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// A DAC value's edit with its spin: digits only; the arrows, the arrow keys and the wheel step the number
// the text begins with, kept within 0..maximum. The text itself is read and checked when the sheet applies.
class CDacSpin : public QAbstractSpinBox {
public:
    CDacSpin(uint32_t maximum, QWidget* parent);

    QLineEdit* edit() const { return lineEdit(); }
    uint32_t maximum() const { return maximum_; }
    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    uint32_t maximum_;
};

class CSettingsSheet : public QDialog {
    Q_OBJECT
public:
    CSettingsSheet(const _MgrFuncTable* mgr, int devIndex, QWidget* parent = nullptr);

    // OK and Apply: the info page's settings, then the current chip's DACs; false (sheet stays open) when
    // a DAC value is refused. Apply is enabled again only by a later change, unless a value was refused.
    bool apply();
    // A page's change that Apply would send enables Apply.
    void setModified(bool modified);
    void runDigitalTest();
    void chooseChip(int chip);
    void refreshSense();
    void defaultDacs();
    void refreshItems();
    // Edits row's value as the user's in-place edit does: refused rows (not editable) return false.
    bool editItem(int row, const QString& text);
    // Space on the item list: the in-place edit of the first selected row, when that row is editable.
    bool editFirstSelected();

    QTreeWidget* infoList() const { return infoList_; }
    QComboBox* modeCombo() const { return modeCombo_; }
    QCheckBox* showCheck() const { return showCheck_; }
    QCheckBox* maskCheck() const { return maskCheck_; }
    QLabel* goodLabel() const { return goodLabel_; }
    QLabel* badLabel() const { return badLabel_; }
    QPushButton* applyButton() const { return applyButton_; }
    const std::vector<CDacSpin*>& dacSpins() const { return dacSpins_; }
    const std::vector<QLineEdit*>& dacEdits() const { return dacEdits_; }
    const std::vector<QLabel*>& senseLabels() const { return senseLabels_; }
    QTreeWidget* itemList() const { return itemList_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildInfoPage();
    QWidget* buildDacPage();
    QWidget* buildInterfacePage();
    bool applyPages();
    void readDacs();
    void showDacs();
    void showSense();

    const _MgrFuncTable* mgr_;
    int dev_;
    int chipCount_ = 1;
    int dacCount_ = 0;
    int currentChip_ = 0;
    std::vector<int> modeValues_;
    std::vector<uint16_t> dacValues_;
    std::vector<uint32_t> maxValues_;
    std::vector<double> senseValues_;
    std::vector<uint32_t> itemFlags_;
    std::vector<int> itemIndices_; // library index of the item of each row

    QTreeWidget* infoList_ = nullptr;
    QComboBox* modeCombo_ = nullptr;
    QComboBox* timerCombo_ = nullptr;
    QComboBox* polarityCombo_ = nullptr;
    QCheckBox* cstCheck_ = nullptr;
    QCheckBox* showCheck_ = nullptr;
    QCheckBox* maskCheck_ = nullptr;
    QLabel* goodLabel_ = nullptr;
    QLabel* badLabel_ = nullptr;
    QComboBox* chipCombo_ = nullptr;
    std::vector<CDacSpin*> dacSpins_;
    std::vector<QLineEdit*> dacEdits_; // the spins' edits
    bool showingDacs_ = false;         // the edits are being filled, not changed by the user
    QPushButton* applyButton_ = nullptr;
    std::vector<QLabel*> senseLabels_;
    QTreeWidget* itemList_ = nullptr;
};

// "Device Settings..." of the control window.
void openDeviceSettings(QWidget* parent, const _MgrFuncTable* mgr, int devIndex);
