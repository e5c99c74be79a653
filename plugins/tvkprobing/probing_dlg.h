// The "Wafer probing" window of one device: the station part (the "ProbingStation" settings, the wafer
// name, "Start Probing" / "Abort Probing", progress "%d/%d", the class counts and the map) and the chip
// test part (the "Settings" keys and the result list "Result name" / "Result value"). Thin: the run lives
// in the device's data object; the window shows what the run reports. GUI thread only.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "pluginfw/plugin_dlg.h"
#include "probe_ui.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QFormLayout;
class ProbeData;

// The wafer map drawn as squares coloured by class.
class WaferMapView : public QWidget {
    Q_OBJECT
public:
    explicit WaferMapView(QWidget* parent = nullptr);
    void setMap(const std::string& text, int columns);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::string> rows_;
};

class CProbingDlg : public CPluginDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "Wafer probing";

    explicit CProbingDlg(int devId);
    ~CProbingDlg() override;

    bool Create() override;
    // The window stays as it is across the reconnects of a run.
    void deviceChanged() override {}

    // Reports of the run (queued to the GUI thread by the data object).
    void showResult(const std::string& name, const std::string& value);
    void clearResults();
    void showProgress(const probing::RunProgress& progress);
    void runEnded();

    // The form's values into the settings file; false with a box when a value is no number.
    bool saveSettings();

    QPushButton* startButton() const { return start_; }
    QLineEdit* waferEdit() const { return wafer_; }
    QLineEdit* settingEdit(const std::string& key) const;
    QTreeWidget* resultList() const { return results_; }
    QLabel* progressLabel() const { return progress_; }

private:
    ProbeData* data() const;
    void loadSettings();
    void startOrAbort();
    void setRunning(bool running);

    int devId_;
    std::map<std::string, QLineEdit*> stationEdits_;
    std::map<std::string, QLineEdit*> chipEdits_;
    QFormLayout* stationForm_ = nullptr;
    QFormLayout* chipForm_ = nullptr;
    QLineEdit* wafer_ = nullptr;
    QPushButton* start_ = nullptr;
    QLabel* progress_ = nullptr;
    QLabel* counts_ = nullptr;
    WaferMapView* map_ = nullptr;
    QTreeWidget* results_ = nullptr;
};
