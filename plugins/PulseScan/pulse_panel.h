// The contents of a device's back-side pulse window: the settings with their checks, "Start
// measurement"/"Stop", saving, the counters, the four charts and the three pictures. It refreshes from
// the device's results when the analysis asks (queued, at most one pending). GUI thread only.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <QWidget>

#include "pulse_device.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class CChart2d;
class CBitmapView;

class PulseScanPanel : public QWidget {
    Q_OBJECT
public:
    // settingsFile: the device's settings file; width x height: the device's frame (0 x 0 unknown).
    PulseScanPanel(std::shared_ptr<PulseDevice> device, std::string settingsFile, unsigned width, unsigned height,
                   QWidget* parent = nullptr);
    ~PulseScanPanel() override;

    // "Start measurement" or "Stop", as the button would.
    void toggleMeasurement();
    // Checks the settings; a bad one shows its message, takes the focus and gives false. Good ones are
    // handed to the device and written to the settings file.
    bool applySettings();
    // Writes the result files into folder; a failure shows its message. False on failure.
    bool saveResults(const std::string& folder);
    // Shows the device's latest results.
    void refresh();

    // For the tests and the look of the window.
    QPushButton* startButton() const { return start_; }
    QLineEdit* edit(const std::string& key) const;
    CChart2d* shapeChart() const { return shape_; }
    CChart2d* spectrumChart() const { return spectrum_; }
    CChart2d* sizeChart() const { return sizes_; }
    CChart2d* roundnessChart() const { return roundness_; }
    CBitmapView* countView() const { return countView_; }
    CBitmapView* coincidenceView() const { return coincidenceView_; }
    CBitmapView* enhancedView() const { return enhancedView_; }
    QString countersText() const;
    // The line that says which input the window waits for, and whether it has come.
    QString inputText() const;
    // "Save..." takes this folder instead of asking (empty: ask).
    static void setFolderForTests(const std::string& folder);

private:
    void build();
    void showSettings(const PulseSettings& settings);
    void chooseFolderAndSave();

    std::shared_ptr<PulseDevice> device_;
    std::string settingsFile_;
    unsigned width_;
    unsigned height_;
    QCheckBox* baseline_ = nullptr;
    std::map<std::string, QLineEdit*> edits_;
    QPushButton* start_ = nullptr;
    QPushButton* save_ = nullptr;
    QLabel* counters_ = nullptr;
    QLabel* input_ = nullptr;
    CChart2d* shape_ = nullptr;
    CChart2d* spectrum_ = nullptr;
    CChart2d* sizes_ = nullptr;
    CChart2d* roundness_ = nullptr;
    CBitmapView* countView_ = nullptr;
    CBitmapView* coincidenceView_ = nullptr;
    CBitmapView* enhancedView_ = nullptr;
};
