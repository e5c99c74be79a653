// The device control window: edits the acquisition worker's settings, starts and aborts its series,
// shows its progress, collects the device's messages, owns one preview bound to the device, offers the
// device, configuration, acquisition and Tools commands in its menu, and keeps its settings in the
// device's ini file (section "Main"). GUI thread only; the worker reports to it through queued calls.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <QDialog>

#include "acq_control.h"
#include "ctrl_settings.h"
#include "pluginfw/mult_data.h"
#include "tvk_hw.h"
#include "tvk_mgr.h"

class CComboBoxFileMode;
class CComboBoxFilterChains;
class CSmartEdit;
class CSmartSpin;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;

// Size of the message list: at this many entries the oldest goes.
constexpr int kMaxMessages = 1000;

class CTvkCtrlUIDialog : public QDialog, private AcqObserver {
    Q_OBJECT
public:
    // title: "Tarvik <dev> UI (<interface> <chip-board id>)"; iniPath: the device's settings file.
    CTvkCtrlUIDialog(const _MgrFuncTable* mgr, int devIndex, std::string title, std::string iniPath,
                     QWidget* parent = nullptr);
    ~CTvkCtrlUIDialog() override;

    // Creates the preview, loads the settings and fills the controls and the menu; false when the preview
    // cannot be created (the window then keeps and saves nothing).
    bool init();
    // Shows the window in the show state of its restored placement (normal, minimised or maximised).
    void showPlaced();

    int devIndex() const { return devIndex_; }
    uint32_t previewId() const { return previewId_; }
    bool idle() const { return idle_; }
    // The worker; shared with the device events (ctrl_entry.h), which reach it from other threads.
    const std::shared_ptr<AcqControl>& worker() const { return worker_; }
    const CtrlSettings& settings() const { return settings_; }

    // The title and device information again (the device changed).
    void renewCaptions(const std::string& title);
    // A device or preview message for the list.
    void addMessage(const QString& text);

    void startAcquisition();
    void abortAcquisition();
    // Copies the valid edit contents and names into the worker's settings.
    void collectValues();
    void updateControls(bool enabled);

    // The menu's action of a command id (ctrl_commands.h); null when there is none.
    QAction* commandAction(int id) const;
    // Runs a command as the menu does (after updating the states, as opening the menu does).
    void runCommand(int id);
    void updateCommandStates();
    const std::map<int, int>& toolsMap() const { return toolsMap_; }
    QMenu* toolsMenu() const { return toolsMenu_; }

    // Controls, for the tests.
    QComboBox* typeCombo() const { return typeCombo_; }
    QCheckBox* toFilesCheck() const { return toFiles_; }
    CComboBoxFileMode* fileModeCombo() const { return fileMode_; }
    QLineEdit* fileEdit() const { return fileEdit_; }
    CSmartEdit* countEdit() const { return countEdit_; }
    CSmartSpin* countSpin() const { return countSpin_; }
    CSmartEdit* timeEdit() const { return timeEdit_; }
    CSmartEdit* spacingEdit() const { return spacingEdit_; }
    QCheckBox* repeatCheck() const { return repeatCheck_; }
    CSmartEdit* repeatCountEdit() const { return repeatCountEdit_; }
    CSmartSpin* repeatCountSpin() const { return repeatCountSpin_; }
    CSmartEdit* delayEdit() const { return delayEdit_; }
    QPushButton* startButton() const { return startButton_; }
    CComboBoxFilterChains* chainCombo() const { return chainCombo_; }
    CComboBoxFileMode* filtModeCombo() const { return filtMode_; }
    QLineEdit* filtEdit() const { return filtEdit_; }
    QListWidget* messageList() const { return messages_; }
    QLabel* totalProgLabel() const { return totalProg_; }
    QLabel* acquisitionLabel() const { return acqLabel_; }
    QLabel* repetitionsLabel() const { return repetitions_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override; // Escape closes as the close button does
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    void buildToolsMenu();
    void showSettings();
    void restorePlacement();
    void onTypeChosen(int index);
    void onRawOutputToggled();
    void onChainChosen();
    void updateProgress();
    void onTimer();
    void onSeriesEnded();
    void onRepetitionAcquiring(int k);
    bool confirmOverwrite(const AcqSettings& s, bool raw);
    void saveSettings();
    QAction* addCommand(QMenu* menu, int id, const QString& text, bool checkable = false);

    // AcqObserver, in the worker's thread: each queues its work here.
    void repetitionStarting(int repIndex) override;
    void repetitionAcquiring(int repIndex) override;
    void seriesEnded() override;

    const _MgrFuncTable* mgr_;
    int devIndex_;
    std::string title_;
    std::string iniPath_;
    uint32_t previewId_ = 0;
    bool initialised_ = false; // settings loaded: only then are they saved
    bool idle_ = true;
    int showCmd_ = SW_SHOWNORMAL;    // show state of the restored placement
    WindowPlacement closedPlacement_; // taken as the window closes, while it still has its frame
    bool closed_ = false;
    _DevInfo devInfo_{};
    CtrlSettings settings_;
    std::shared_ptr<AcqControl> worker_;
    std::map<int, int> toolsMap_; // Tools command id -> manager menu item id
    std::map<int, QAction*> actions_;

    QMenu* toolsMenu_ = nullptr;
    QComboBox* typeCombo_ = nullptr;
    QCheckBox* toFiles_ = nullptr;
    CComboBoxFileMode* fileMode_ = nullptr;
    QLineEdit* fileEdit_ = nullptr;
    QPushButton* fileBrowse_ = nullptr;
    CSmartEdit* countEdit_ = nullptr;
    CSmartSpin* countSpin_ = nullptr;
    CSmartEdit* timeEdit_ = nullptr;
    CSmartEdit* spacingEdit_ = nullptr;
    QCheckBox* repeatCheck_ = nullptr;
    CSmartEdit* repeatCountEdit_ = nullptr;
    CSmartSpin* repeatCountSpin_ = nullptr;
    CSmartEdit* delayEdit_ = nullptr;
    QPushButton* startButton_ = nullptr;
    CComboBoxFilterChains* chainCombo_ = nullptr;
    CComboBoxFileMode* filtMode_ = nullptr;
    QLineEdit* filtEdit_ = nullptr;
    QPushButton* filtBrowse_ = nullptr;
    QListWidget* messages_ = nullptr;
    QLabel* totalProg_ = nullptr;
    QLabel* totalTime_ = nullptr;
    QLabel* acqLabel_ = nullptr;
    QLabel* acqProg_ = nullptr;
    QLabel* runTime_ = nullptr;
    QLabel* waitTime_ = nullptr;
    QLabel* repetitions_ = nullptr;
    QTimer* timer_ = nullptr;
};
