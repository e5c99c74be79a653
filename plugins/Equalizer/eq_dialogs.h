// The three tool windows of the plug-in, one of each per device: settings, start and abort, a progress bar
// and one plot. Thin: each takes its values from its controls, hands them to the device's data object
// (eq_data.h), which owns the engine and its worker, and shows what the engine reports. A timer reads the
// engine's progress while a run goes on; the end of a run arrives as a posted event. GUI thread only.
#pragma once

#include <vector>

#include <QEvent>

#include "pluginfw/plugin_dlg.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QDoubleSpinBox;
class QTimer;
class Plot2D;

namespace equalizer {
struct DepCurve;
}

// Posted by a worker to its window when the run ended.
constexpr QEvent::Type kRunEndedEvent = static_cast<QEvent::Type>(QEvent::User + 101);

// Common part: start and abort buttons, progress bar, status line, plot and the polling timer.
class CRunDlg : public CPluginDlg {
    Q_OBJECT
public:
    explicit CRunDlg(int devId);

    QPushButton* startButton() const { return start_; }
    QPushButton* abortButton() const { return abort_; }
    QProgressBar* progressBar() const { return progress_; }
    Plot2D* plot() const { return plot_; }
    QLabel* status() const { return status_; }

protected:
    // Builds the common controls below the derived dialog's settings form, a caption under the plot.
    void buildCommon(QWidget* settings, const QString& caption = {});
    virtual bool onStart() = 0; // true when a run was started
    virtual void onAbort() = 0;
    virtual bool running() const = 0;
    virtual int progressPercent() const = 0;
    virtual void refreshPlot() = 0;
    // The run ended: text for the status line.
    virtual QString endText() const = 0;
    // Enables the settings and buttons for the running state.
    void updateState();
    void customEvent(QEvent* event) override;

    int devId_;
    QWidget* settings_ = nullptr;

private:
    void poll();

    QPushButton* start_ = nullptr;
    QPushButton* abort_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    Plot2D* plot_ = nullptr;
    QTimer* timer_ = nullptr;
    bool endPending_ = false; // a run started from this window whose end is not shown yet
};

// Threshold equalization of a device: method, range, acquisitions; the plot shows the edge distribution
// of chip 0 before (adjustment 0) and after the equalization.
class CEqualizerDlg : public CRunDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "Threshold Equalization";
    explicit CEqualizerDlg(int devId);
    bool Create() override;

    QComboBox* methodCombo() const { return method_; }
    QSpinBox* fromSpin() const { return from_; }
    QSpinBox* toSpin() const { return to_; }
    QSpinBox* stepSpin() const { return step_; }
    QSpinBox* acqCountSpin() const { return acqCount_; }
    QDoubleSpinBox* acqTimeSpin() const { return acqTime_; }
    QCheckBox* twoLevelBox() const { return twoLevel_; }

protected:
    bool onStart() override;
    void onAbort() override;
    bool running() const override;
    int progressPercent() const override;
    void refreshPlot() override;
    QString endText() const override;

private:
    QComboBox* method_ = nullptr;
    QCheckBox* twoLevel_ = nullptr;
    QSpinBox* from_ = nullptr;
    QSpinBox* to_ = nullptr;
    QSpinBox* step_ = nullptr;
    QSpinBox* acqCount_ = nullptr;
    QDoubleSpinBox* acqTime_ = nullptr;
};

// DAC scan of a device: scanned DAC, range, acquisitions per step and output; the plot shows the sum of
// medians of every chip over the DAC values of the last run.
class CDacScanDlg : public CRunDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "DAC Scan";
    explicit CDacScanDlg(int devId);
    bool Create() override;

    QComboBox* dacCombo() const { return dac_; }
    QSpinBox* fromSpin() const { return from_; }
    QSpinBox* toSpin() const { return to_; }
    QSpinBox* stepSpin() const { return step_; }
    QSpinBox* perStepSpin() const { return perStep_; }
    QDoubleSpinBox* acqTimeSpin() const { return acqTime_; }
    QLineEdit* outputEdit() const { return output_; }
    QCheckBox* logBox() const { return log_; }
    // Shows the output file name kept for the device (after DacScanSetFileOutput).
    void showOutput();

protected:
    bool onStart() override;
    void onAbort() override;
    bool running() const override;
    int progressPercent() const override;
    void refreshPlot() override;
    QString endText() const override;

private:
    QComboBox* dac_ = nullptr;
    QSpinBox* from_ = nullptr;
    QSpinBox* to_ = nullptr;
    QSpinBox* step_ = nullptr;
    QSpinBox* perStep_ = nullptr;
    QDoubleSpinBox* acqTime_ = nullptr;
    QLineEdit* output_ = nullptr;
    QCheckBox* log_ = nullptr;
};

// Dependency scan of a device: the DACs to scan, range, others at their middle value, output file; the
// plot shows the read-back mean of chip 0 over the codes, one line per DAC.
class CAnalogScanDlg : public CRunDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "DAC Dependency Scan";
    explicit CAnalogScanDlg(int devId);
    bool Create() override;

    // Enables or disables the user's controls (the caller that drives the scan by name may lock them).
    void enableUserInterface(bool on);

    std::vector<QCheckBox*> dacBoxes() const { return dacs_; }
    QCheckBox* middleBox() const { return middle_; }
    QSpinBox* fromSpin() const { return from_; }
    QSpinBox* toSpin() const { return to_; }
    QSpinBox* stepSpin() const { return step_; }
    QLineEdit* outputEdit() const { return output_; }

protected:
    bool onStart() override;
    void onAbort() override;
    bool running() const override;
    int progressPercent() const override;
    void refreshPlot() override;
    QString endText() const override;
    void OnClose() override;

private:
    std::vector<QCheckBox*> dacs_;
    QCheckBox* middle_ = nullptr;
    QSpinBox* from_ = nullptr;
    QSpinBox* to_ = nullptr;
    QSpinBox* step_ = nullptr;
    QLineEdit* output_ = nullptr;
    bool uiEnabled_ = true;
};

// Draws the curves of a dependency scan (mean of every chip over the codes, one colour per DAC) into an
// image file of any thread: "svg" the vector form, an image format by extension otherwise. 0, or -1 with
// error set.
int saveDepScanImage(const std::string& path, const std::vector<equalizer::DepCurve>& curves, int chips,
                     std::string* error);
