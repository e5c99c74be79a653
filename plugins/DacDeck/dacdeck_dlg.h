// The DAC panel window of one device: a column per DAC (label, vertical slider, edit, spin and, with more
// than one chip, a "Locked" box) plus the "Ext DAC" column, the chip and external-DAC selectors and the
// read-back texts. Thin: every device call and shared value goes through the device's DacState.
#pragma once

#include <vector>

#include <QDialog>

#include "dac_deck_core.h"
#include "pluginfw/plugin_dlg.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class CSmartEdit;
class DacDeckData;

class CDacDeckDlg : public CPluginDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "DAC Control Panel";

    explicit CDacDeckDlg(int devId);
    ~CDacDeckDlg() override;

    bool Create() override;
    // Writes ActiveDacs, LockedDacs and SenseCount to the device's settings file (a window with columns).
    void saveSettings();

    // What the handlers of another thread tell the window (queued to the GUI thread by the caller).
    void onNotice(dacdeck::Notice notice, int code);

    // "Save as default" of the settings dialog: the default file gets ActiveDacs = mask, and the window's
    // own LockedDacs and SenseCount.
    void saveAsDefault(uint32_t activeMask);
    // OK of the settings dialog.
    void takeSettings(uint32_t activeMask, int senseCount);

    int columnCount() const { return dacCount_ + 1; }
    uint32_t activeDacs() const { return activeDacs_; }
    QString caption(const char* form) const;

private:
    struct Column {
        QLabel* label = nullptr;
        QSlider* slider = nullptr;
        CSmartEdit* edit = nullptr;
        QSpinBox* spin = nullptr;
        QCheckBox* locked = nullptr;
        int max = 0;
    };

    DacDeckData* data() const;
    int dluX(int x) const;
    int dluY(int y) const;
    void buildColumns();
    void layoutColumns();
    void refresh();
    void refreshExtDac();
    void setCaption(const char* form);
    void valueMoved(int column, int value); // a DAC value of the selected chip from slider or spin
    void extPositionMoved(int position);
    void applyEdit(int column);
    void scheduleApply();
    void applyDacsNow();
    void applyExtDacNow();
    void openSettings();
    void showError(int code);

    void keyPressEvent(QKeyEvent* event) override;

    int devId_;
    bool built_ = false;
    QComboBox* chipCombo_ = nullptr;
    QComboBox* extCombo_ = nullptr;
    QLabel* thlText_ = nullptr;
    QLabel* thhText_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    std::vector<Column> columns_;
    uint32_t activeDacs_ = 0xFFFFFFFFu;
    uint32_t lockedDacs_ = 0;
    const char** names_ = nullptr;
    const int* widths_ = nullptr;
    int dacCount_ = 0;
    int refFlags_ = 0;
    int chipCount_ = 0;
    int chipType_ = 0;
    int selectedChip_ = 0;
    int thl_ = -1, thh_ = -1, fbk_ = -1;
    std::vector<uint16_t> values_;
    std::vector<double> thlSense_, thhSense_, fbkSense_;
    int senseCount_ = 1;
    int extDacIndex_ = -1;
    double extDacValue_ = 0;
    double extMin_ = 0, extMax_ = 0, extStep_ = 0;
    bool applyQueued_ = false; // a coalesced apply waits for the next event-loop turn
    bool updating_ = false;    // set while the window writes its own controls
};

// "DAC selection": the shown columns and the sense count.
class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    CSettingsDlg(CDacDeckDlg* panel, const std::vector<QString>& names, uint32_t activeDacs, int senseCount);

    uint32_t mask() const;
    int senseCount() const;

private:
    std::vector<QCheckBox*> boxes_;
    CSmartEdit* edit_ = nullptr;
    QSpinBox* spin_ = nullptr;
};
