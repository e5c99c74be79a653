// The three tool windows of the plug-in, one of each per device: settings, start and abort, a progress bar
// and one plot. Thin: each takes its values from its controls, hands them to the device's data object
// (eq_data.h), which owns the engine and its worker, and shows what the engine reports. A timer reads the
// engine's progress while a run goes on; the end of a run arrives as a posted event. GUI thread only.
#pragma once

#include <vector>

#include <QEvent>

#include "pluginfw/plugin_dlg.h"

struct DacScanParams;

class QCheckBox;
class QComboBox;
class QGridLayout;
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

    // The plot's axis titles, shown beside and below it.
    QString xTitle() const { return xTitleText_; }
    QString yTitle() const { return yTitleText_; }

protected:
    // Builds the common controls below the derived dialog's settings form, a caption under the plot.
    void buildCommon(QWidget* settings, const QString& caption = {});
    void setAxisTitles(const QString& x, const QString& y);
    // Scales the plot to its curves; a flat set of curves gets a range around its value, so that it is
    // drawn inside the plot rather than on its border.
    void fitPlot();
    virtual bool onStart() = 0; // true when a run was started
    virtual void onAbort() = 0;
    virtual bool running() const = 0;
    virtual int progressPercent() const = 0;
    virtual void refreshPlot() = 0;
    // The run ended: text for the status line.
    virtual QString endText() const = 0;
    // Enables the settings and buttons for the running state.
    void updateState();
    // After every state change: the derived dialog enables what depends on the run's state.
    virtual void stateChanged(bool /*busy*/) {}
    void customEvent(QEvent* event) override;

    int devId_;
    QWidget* settings_ = nullptr;

private:
    void startClicked();
    void poll();

    QPushButton* start_ = nullptr;
    QPushButton* abort_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    Plot2D* plot_ = nullptr;
    QWidget* yTitle_ = nullptr;
    QLabel* xTitle_ = nullptr;
    QString xTitleText_, yTitleText_;
    QTimer* timer_ = nullptr;
    bool endPending_ = false; // a run started from this window whose end is not shown yet
};

// Threshold equalization of a device: method, range and every acquisition setting of the engine; the
// operations on a finished run (re-window, threshold from the noise, chip balancing, the distribution
// file), each enabled only when the run allows it. The plot shows the edge distribution of chip 0 before
// (adjustment 0) and after the equalization.
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
    QDoubleSpinBox* thresholdFactorSpin() const { return thresholdFactor_; }
    QDoubleSpinBox* pulseHeightSpin() const { return pulseHeight_; }
    QDoubleSpinBox* pulsePeriodSpin() const { return pulsePeriod_; }
    QSpinBox* pulseCountSpin() const { return pulseCount_; }
    QSpinBox* spacingSpin() const { return spacing_; }
    QCheckBox* oneChipBox() const { return oneChip_; }
    QCheckBox* noisyPreStepBox() const { return preNoisy_; }
    QCheckBox* coarsePreStepBox() const { return preCoarse_; }
    QDoubleSpinBox* windowFactorSpin() const { return windowK_; }
    QPushButton* rewindowButton() const { return rewindow_; }
    QDoubleSpinBox* noisePercentSpin() const { return noiseP_; }
    QPushButton* noiseButton() const { return noise_; }
    QPushButton* balanceButton() const { return balance_; }
    QLineEdit* distributionEdit() const { return distPath_; }
    QPushButton* distributionButton() const { return writeDist_; }

protected:
    bool onStart() override;
    void onAbort() override;
    bool running() const override;
    int progressPercent() const override;
    void refreshPlot() override;
    QString endText() const override;
    void stateChanged(bool busy) override;

private:
    QWidget* buildMethod();
    QWidget* buildAcquisition();
    QWidget* buildOperations();
    // The finished-run operations, each reporting in the status line.
    void rewindow();
    void thresholdFromNoise();
    void balanceChips();
    void writeDistributions();
    // The masked pixels per chip and in total, and plainly when more than half are masked.
    QString maskedText() const;

    QComboBox* method_ = nullptr;
    QCheckBox* twoLevel_ = nullptr;
    QSpinBox* from_ = nullptr;
    QSpinBox* to_ = nullptr;
    QSpinBox* step_ = nullptr;
    QSpinBox* acqCount_ = nullptr;
    QDoubleSpinBox* acqTime_ = nullptr;
    QDoubleSpinBox* thresholdFactor_ = nullptr;
    QDoubleSpinBox* pulseHeight_ = nullptr;
    QDoubleSpinBox* pulsePeriod_ = nullptr;
    QSpinBox* pulseCount_ = nullptr;
    QSpinBox* spacing_ = nullptr;
    QCheckBox* oneChip_ = nullptr;
    QCheckBox* preNoisy_ = nullptr;
    QCheckBox* preCoarse_ = nullptr;
    QWidget* operations_ = nullptr;
    QDoubleSpinBox* windowK_ = nullptr;
    QPushButton* rewindow_ = nullptr;
    QDoubleSpinBox* noiseP_ = nullptr;
    QPushButton* noise_ = nullptr;
    QPushButton* balance_ = nullptr;
    QLineEdit* distPath_ = nullptr;
    QPushButton* writeDist_ = nullptr;
    int chips_ = 1;
};

// DAC scan of a device: scanned DAC and the DAC that follows it, range, acquisitions per step, spacing,
// integration, test pulses, the frames' output and the results file; the plot shows the chosen value of
// every chip over the DAC values of the last run. The controls start from the device's kept parameters,
// which a scan by name uses too.
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
    QCheckBox* followBox() const { return follow_; }
    QComboBox* followCombo() const { return followDac_; }
    QSpinBox* followOffsetSpin() const { return followOffset_; }
    QCheckBox* integrateBox() const { return integrate_; }
    QSpinBox* spacingSpin() const { return spacing_; }
    QCheckBox* testPulseBox() const { return testPulses_; }
    QDoubleSpinBox* pulseHeightSpin() const { return pulseHeight_; }
    QDoubleSpinBox* pulsePeriodSpin() const { return pulsePeriod_; }
    QSpinBox* pulseCountSpin() const { return pulseCount_; }
    QLineEdit* columnMaskEdit() const { return columnMask_; }
    QLineEdit* resultsEdit() const { return results_; }
    QComboBox* kindCombo() const { return kind_; }
    QCheckBox* enabledOnlyBox() const { return enabledOnly_; }
    QCheckBox* differenceBox() const { return difference_; }
    QCheckBox* headerBox() const { return header_; }
    QPushButton* writeResultsButton() const { return writeResults_; }
    // Shows the output file name kept for the device (after DacScanSetFileOutput).
    void showOutput();

protected:
    bool onStart() override;
    void onAbort() override;
    bool running() const override;
    int progressPercent() const override;
    void refreshPlot() override;
    QString endText() const override;
    void stateChanged(bool busy) override;

private:
    QWidget* buildScan();
    QWidget* buildAcquisition();
    QWidget* buildOutput();
    // The controls' values as the parameters of a scan.
    DacScanParams params() const;
    void showParams(const DacScanParams& p);
    void writeResults();
    void enableDependents();

    QComboBox* dac_ = nullptr;
    QSpinBox* from_ = nullptr;
    QSpinBox* to_ = nullptr;
    QSpinBox* step_ = nullptr;
    QCheckBox* follow_ = nullptr;
    QComboBox* followDac_ = nullptr;
    QSpinBox* followOffset_ = nullptr;
    QSpinBox* perStep_ = nullptr;
    QDoubleSpinBox* acqTime_ = nullptr;
    QSpinBox* spacing_ = nullptr;
    QCheckBox* integrate_ = nullptr;
    QCheckBox* testPulses_ = nullptr;
    QDoubleSpinBox* pulseHeight_ = nullptr;
    QDoubleSpinBox* pulsePeriod_ = nullptr;
    QSpinBox* pulseCount_ = nullptr;
    QLineEdit* columnMask_ = nullptr;
    QLineEdit* output_ = nullptr;
    QCheckBox* log_ = nullptr;
    QLineEdit* results_ = nullptr;
    QComboBox* kind_ = nullptr;
    QCheckBox* enabledOnly_ = nullptr;
    QCheckBox* difference_ = nullptr;
    QCheckBox* header_ = nullptr;
    QPushButton* writeResults_ = nullptr;
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
    // What the last start cut from the range, empty when nothing.
    QLabel* noticeLabel() const { return notice_; }

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
    QLabel* notice_ = nullptr;
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
