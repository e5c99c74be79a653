// The contents of a device's beam-hardening window: the calibration points (name, thickness, time) with
// adding from ASCII matrix files or from the device's last acquisition, removing and selecting; the
// method and the three switches; loading and saving profiles; a chart of the chosen pixel's rate against
// thickness with the fitted curve; pictures of the mask, the thickness and its error; the error's
// statistics. Everything shown is a copy taken from the context, which registered functions may use at
// the same time. GUI thread only.
#pragma once

#include <functional>
#include <vector>

#include <QWidget>

#include "calib_context.h"
#include "calib_host.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QTreeWidget;
class CBitmapView;
class CChart2d;
class CSmartEdit;

class HardenCalPanel : public QWidget {
    Q_OBJECT
public:
    HardenCalPanel(hcal::CalibHost& host, hcal::CalibContext& ctx, QWidget* parent = nullptr);
    ~HardenCalPanel() override;

    // The buttons' actions. Each shows what went wrong in a box and returns false.
    bool addFromFiles();
    bool addFromLastAcquisition();
    bool removeSelected();
    bool loadProfile();
    bool saveProfile();
    // Everything shown, anew from the context.
    void refresh();
    // The pixel whose curve the chart shows.
    void setPixel(int x, int y);

    // For the tests and the look of the window.
    QTreeWidget* pointList() const { return list_; }
    QComboBox* methodBox() const { return method_; }
    QCheckBox* extrapolateBox() const { return extrapolate_; }
    QCheckBox* derivativeBox() const { return derivative_; }
    QCheckBox* fillBox() const { return fill_; }
    CSmartEdit* thicknessEdit() const { return thickness_; }
    CSmartEdit* timeEdit() const { return time_; }
    CChart2d* chart() const { return chart_; }
    CBitmapView* maskView() const { return maskView_; }
    CBitmapView* thicknessView() const { return thicknessView_; }
    CBitmapView* errorView() const { return errorView_; }
    QString statisticsText() const;

    // Picks a file: the caption, the filter, true to save; an empty name is Cancel. Tests replace the
    // file dialog with it (an empty function restores the dialog).
    using FileChooser = std::function<QString(const QString& caption, const QString& filter, bool save)>;
    static void setFileChooserForTests(FileChooser chooser);

private:
    void build();
    void refreshList();
    void refreshChart();
    void refreshPictures();
    QString chooseFile(const QString& caption, const QString& filter, bool save, const QString& start);
    void showFailure(const QString& fallback);

    hcal::CalibHost& host_;
    hcal::CalibContext& ctx_;
    int pixel_ = 0;
    bool refreshing_ = false;

    QTreeWidget* list_ = nullptr;
    CSmartEdit* thickness_ = nullptr;
    CSmartEdit* time_ = nullptr;
    QComboBox* method_ = nullptr;
    QCheckBox* extrapolate_ = nullptr;
    QCheckBox* derivative_ = nullptr;
    QCheckBox* fill_ = nullptr;
    QSpinBox* pixelX_ = nullptr;
    QSpinBox* pixelY_ = nullptr;
    QLabel* profile_ = nullptr;
    QLabel* stats_ = nullptr;
    CChart2d* chart_ = nullptr;
    CBitmapView* maskView_ = nullptr;
    CBitmapView* thicknessView_ = nullptr;
    CBitmapView* errorView_ = nullptr;
};
