// The beam-hardening window's contents.
#include "hardencal_panel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "chart/bitmap_view.h"
#include "chart/chart_2d.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

namespace {

HardenCalPanel::FileChooser& fileChooser()
{
    static HardenCalPanel::FileChooser chooser;
    return chooser;
}

// The fitted curve as the chart draws it: rate against thickness, from a table of (thickness, rate)
// sampled through the context once, so that painting never waits for the context.
class FitCurve : public ChartDataFunction {
public:
    explicit FitCurve(std::vector<std::pair<double, double>> table) : table_(std::move(table)) {}

    bool getName(char* buf, int len) override
    {
        std::snprintf(buf, static_cast<size_t>(len), "%s", "Fit");
        return true;
    }
    bool getXRange(double* min, double* max) override
    {
        if (table_.size() < 2)
            return false;
        *min = table_.front().first;
        *max = table_.back().first;
        return true;
    }
    bool evaluate(double x, double* y, double* yErr) override
    {
        if (yErr)
            *yErr = 0.0;
        if (table_.size() < 2 || !(x >= table_.front().first) || !(x <= table_.back().first))
            return false;
        auto at = std::lower_bound(table_.begin(), table_.end(), x,
                                   [](const std::pair<double, double>& p, double v) { return p.first < v; });
        if (at == table_.begin()) {
            *y = at->second;
            return true;
        }
        const auto& [t1, r1] = *at;
        const auto& [t0, r0] = *(at - 1);
        *y = r0 + (r1 - r0) * (x - t0) / (t1 - t0);
        return true;
    }

private:
    std::vector<std::pair<double, double>> table_; // thickness ascending
};

QString number(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

void HardenCalPanel::setFileChooserForTests(FileChooser chooser)
{
    fileChooser() = std::move(chooser);
}

HardenCalPanel::HardenCalPanel(hcal::CalibHost& host, hcal::CalibContext& ctx, QWidget* parent)
    : QWidget(parent), host_(host), ctx_(ctx)
{
    build();
    refresh();
}

HardenCalPanel::~HardenCalPanel() = default;

void HardenCalPanel::build()
{
    auto* left = new QVBoxLayout;

    auto* pointsBox = new QGroupBox(tr("Calibration points"), this);
    auto* pointsLayout = new QVBoxLayout(pointsBox);
    list_ = new QTreeWidget(pointsBox);
    list_->setObjectName("points");
    list_->setColumnCount(3);
    list_->setHeaderLabels({tr("Name"), tr("Thickness"), tr("Time")});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    pointsLayout->addWidget(list_);
    auto* addGrid = new QGridLayout;
    addGrid->addWidget(new QLabel(tr("Thickness"), pointsBox), 0, 0);
    thickness_ = new CSmartEdit(pointsBox);
    thickness_->setObjectName("thickness");
    thickness_->setMode(SmartEditValue::MODE_DOUBLE);
    thickness_->setDouble(0.0);
    thickness_->setToolTip(tr("0: one step beyond the last point"));
    addGrid->addWidget(thickness_, 0, 1);
    addGrid->addWidget(new QLabel(tr("Time [s]"), pointsBox), 1, 0);
    time_ = new CSmartEdit(pointsBox);
    time_->setObjectName("time");
    time_->setMode(SmartEditValue::MODE_DOUBLE);
    time_->setDouble(0.0);
    time_->setToolTip(tr("0: the last point's time"));
    addGrid->addWidget(time_, 1, 1);
    pointsLayout->addLayout(addGrid);
    auto* buttons = new QGridLayout;
    auto* addFiles = new QPushButton(tr("Add from files..."), pointsBox);
    addFiles->setObjectName("addFiles");
    auto* addAcq = new QPushButton(tr("Add last acquisition"), pointsBox);
    addAcq->setObjectName("addAcquisition");
    auto* remove = new QPushButton(tr("Remove"), pointsBox);
    remove->setObjectName("remove");
    buttons->addWidget(addFiles, 0, 0);
    buttons->addWidget(addAcq, 0, 1);
    buttons->addWidget(remove, 1, 0);
    pointsLayout->addLayout(buttons);
    left->addWidget(pointsBox);

    auto* fitBox = new QGroupBox(tr("Fit"), this);
    auto* fitLayout = new QGridLayout(fitBox);
    fitLayout->addWidget(new QLabel(tr("Method"), fitBox), 0, 0);
    method_ = new QComboBox(fitBox);
    method_->setObjectName("method");
    method_->addItems({tr("Linear"), tr("Quadratic"), tr("Exponential")});
    fitLayout->addWidget(method_, 0, 1);
    extrapolate_ = new QCheckBox(tr("Extrapolate"), fitBox);
    derivative_ = new QCheckBox(tr("Error by derivative"), fitBox);
    fill_ = new QCheckBox(tr("Fill bad pixels"), fitBox);
    fitLayout->addWidget(extrapolate_, 1, 0, 1, 2);
    fitLayout->addWidget(derivative_, 2, 0, 1, 2);
    fitLayout->addWidget(fill_, 3, 0, 1, 2);
    left->addWidget(fitBox);

    auto* profileBox = new QGroupBox(tr("Profile"), this);
    auto* profileLayout = new QGridLayout(profileBox);
    auto* load = new QPushButton(tr("Load..."), profileBox);
    load->setObjectName("load");
    auto* save = new QPushButton(tr("Save..."), profileBox);
    save->setObjectName("save");
    profile_ = new QLabel(profileBox);
    profile_->setWordWrap(true);
    profile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    profileLayout->addWidget(load, 0, 0);
    profileLayout->addWidget(save, 0, 1);
    profileLayout->addWidget(profile_, 1, 0, 1, 2);
    left->addWidget(profileBox);
    left->addStretch(1);

    auto* right = new QVBoxLayout;
    auto* pixelRow = new QHBoxLayout;
    pixelRow->addWidget(new QLabel(tr("Pixel x"), this));
    pixelX_ = new QSpinBox(this);
    pixelX_->setRange(0, std::max(ctx_.width() - 1, 0));
    pixelRow->addWidget(pixelX_);
    pixelRow->addWidget(new QLabel(tr("y"), this));
    pixelY_ = new QSpinBox(this);
    pixelY_->setRange(0, std::max(ctx_.height() - 1, 0));
    pixelRow->addWidget(pixelY_);
    pixelRow->addStretch(1);
    auto* refreshButton = new QPushButton(tr("Refresh"), this);
    pixelRow->addWidget(refreshButton);
    right->addLayout(pixelRow);
    chart_ = new CChart2d(this);
    chart_->setObjectName("chart");
    chart_->setLabels(nullptr, "Thickness", "Rate [1/s]");
    chart_->pointStyle = ChartModel::Squares;
    chart_->markerSize = 4;
    chart_->setMinimumSize(420, 240);
    right->addWidget(chart_, 3);
    auto* pictures = new QHBoxLayout;
    const char* captions[] = {"Mask", "Thickness", "Error"};
    CBitmapView** views[] = {&maskView_, &thicknessView_, &errorView_};
    for (int k = 0; k < 3; ++k) {
        auto* column = new QVBoxLayout;
        column->addWidget(new QLabel(tr(captions[k]), this), 0, Qt::AlignHCenter);
        *views[k] = new CBitmapView(this);
        (*views[k])->setObjectName(QString(captions[k]).toLower());
        (*views[k])->setMinimumSize(200, 200);
        column->addWidget(*views[k], 1);
        pictures->addLayout(column);
    }
    right->addLayout(pictures, 2);
    stats_ = new QLabel(this);
    stats_->setObjectName("statistics");
    right->addWidget(stats_);

    auto* top = new QHBoxLayout(this);
    top->addLayout(left, 0);
    top->addLayout(right, 1);

    connect(addFiles, &QPushButton::clicked, this, [this] { addFromFiles(); });
    connect(addAcq, &QPushButton::clicked, this, [this] { addFromLastAcquisition(); });
    connect(remove, &QPushButton::clicked, this, [this] { removeSelected(); });
    connect(load, &QPushButton::clicked, this, [this] { loadProfile(); });
    connect(save, &QPushButton::clicked, this, [this] { saveProfile(); });
    connect(refreshButton, &QPushButton::clicked, this, [this] { refresh(); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] {
        if (refreshing_)
            return;
        ctx_.selectPoint(list_->currentItem() ? list_->indexOfTopLevelItem(list_->currentItem()) : -1);
    });
    connect(method_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!refreshing_ && ctx_.setMethod(index))
            refresh();
    });
    auto onSwitch = [this](QCheckBox* box, void (hcal::CalibContext::*set)(bool)) {
        connect(box, &QCheckBox::toggled, this, [this, set](bool on) {
            if (refreshing_)
                return;
            (ctx_.*set)(on);
            refresh();
        });
    };
    onSwitch(extrapolate_, &hcal::CalibContext::setExtrapolate);
    onSwitch(derivative_, &hcal::CalibContext::setErrorByDerivative);
    onSwitch(fill_, &hcal::CalibContext::setFillBadPixels);
    auto onPixel = [this] { setPixel(pixelX_->value(), pixelY_->value()); };
    connect(pixelX_, &QSpinBox::valueChanged, this, onPixel);
    connect(pixelY_, &QSpinBox::valueChanged, this, onPixel);
}

QString HardenCalPanel::chooseFile(const QString& caption, const QString& filter, bool save, const QString& start)
{
    if (fileChooser())
        return fileChooser()(caption, filter, save);
    return save ? QFileDialog::getSaveFileName(this, caption, start, filter)
                : QFileDialog::getOpenFileName(this, caption, start, filter);
}

void HardenCalPanel::showFailure(const QString& fallback)
{
    const std::string last = host_.lastMessage();
    messageBox(this, last.empty() ? fallback : QString::fromStdString(last), tr("Error"), MSGBOX_ICONERROR);
}

bool HardenCalPanel::addFromFiles()
{
    if (!thickness_->validate() || !time_->validate())
        return false;
    const QString dataFile = chooseFile("Choose data array", "*.txt", false, QString());
    if (dataFile.isEmpty())
        return false;
    const int pixels = ctx_.pixelCount();
    std::vector<double> data, sigma;
    std::string why;
    if (!hcal::readMatrixFile(dataFile.toStdString(), pixels, data, &why)) {
        messageBox(this, "Incompatible file format", "Error", MSGBOX_ICONERROR);
        return false;
    }
    const QString sigmaFile =
        chooseFile("Choose sigma array (Cancel if poissonian noise)", "*.txt", false, QFileInfo(dataFile).path());
    if (!sigmaFile.isEmpty() && !hcal::readMatrixFile(sigmaFile.toStdString(), pixels, sigma, &why)) {
        messageBox(this, "Incompatible file format", "Error", MSGBOX_ICONERROR);
        return false;
    }
    const hcal::Status s = ctx_.addPoint(thickness_->doubleValue(), time_->doubleValue(), std::move(data),
                                         std::move(sigma));
    refresh();
    if (s != hcal::Status::ok) {
        showFailure(tr("The point was not added."));
        return false;
    }
    return true;
}

bool HardenCalPanel::addFromLastAcquisition()
{
    if (!thickness_->validate())
        return false;
    const bool ok = host_.setupFromFrames(ctx_, ctx_.devId(), thickness_->doubleValue()) == 0;
    refresh();
    if (!ok)
        showFailure(tr("The point was not added."));
    return ok;
}

bool HardenCalPanel::removeSelected()
{
    QTreeWidgetItem* item = list_->currentItem();
    if (!item)
        return false;
    const bool ok = ctx_.removePoint(list_->indexOfTopLevelItem(item)) == hcal::Status::ok;
    refresh();
    return ok;
}

bool HardenCalPanel::loadProfile()
{
    QString start = QString::fromStdString(ctx_.profilePath());
    if (start.isEmpty())
        start = QString::fromStdString(host_.defaultProfilePath(ctx_));
    const QString path = chooseFile(tr("Load calibration profile"), "*.txt", false, start);
    if (path.isEmpty())
        return false;
    const bool ok = ctx_.loadProfile(path.toStdString());
    refresh();
    if (!ok)
        showFailure(tr("The profile was not loaded."));
    return ok;
}

bool HardenCalPanel::saveProfile()
{
    QString start = QString::fromStdString(ctx_.profilePath());
    if (start.isEmpty())
        start = QString::fromStdString(host_.defaultProfilePath(ctx_));
    const QString path = chooseFile(tr("Save calibration profile"), "*.txt", true, start);
    if (path.isEmpty())
        return false;
    const bool ok = ctx_.saveProfile(path.toStdString());
    refresh();
    if (!ok)
        showFailure(tr("The profile was not saved."));
    return ok;
}

void HardenCalPanel::setPixel(int x, int y)
{
    const int w = std::max(ctx_.width(), 1);
    pixel_ = std::clamp(y, 0, std::max(ctx_.height() - 1, 0)) * w + std::clamp(x, 0, w - 1);
    refreshChart();
}

void HardenCalPanel::refresh()
{
    refreshing_ = true;
    method_->setCurrentIndex(ctx_.method());
    extrapolate_->setChecked(ctx_.extrapolate());
    derivative_->setChecked(ctx_.errorByDerivative());
    fill_->setChecked(ctx_.fillBadPixels());
    const QString path = QString::fromStdString(ctx_.profilePath());
    profile_->setText(path.isEmpty() ? tr("(no profile)") : path + (ctx_.modified() ? tr(" (modified)") : QString()));
    refreshList();
    refreshing_ = false;
    refreshChart();
    refreshPictures();
}

void HardenCalPanel::refreshList()
{
    const std::vector<hcal::PointInfo> points = ctx_.points();
    const int selected = ctx_.selectedPoint();
    list_->clear();
    for (const hcal::PointInfo& p : points) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(p.name.empty() ? "Noname" : p.name));
        item->setText(1, number(p.thickness));
        item->setText(2, number(p.time));
    }
    if (selected >= 0 && selected < list_->topLevelItemCount())
        list_->setCurrentItem(list_->topLevelItem(selected));
}

void HardenCalPanel::refreshChart()
{
    chart_->clearSeries();
    const int count = static_cast<int>(ctx_.points().size());
    ChartSeries* series = chart_->addEmptySeries(0.0, 1.0, static_cast<unsigned>(count));
    if (!series)
        return;
    series->name = "Points";
    double rMin = INFINITY, rMax = -INFINITY;
    for (int k = 0; k < count; ++k) {
        hcal::PointData d;
        if (!ctx_.pointData(k, d))
            continue;
        const size_t i = static_cast<size_t>(pixel_);
        _ChartPoint& p = series->points[static_cast<size_t>(k)];
        p.x = d.info.thickness;
        p.y = d.data[i] / d.info.time;
        p.yErr = d.sigma[i] / d.info.time;
        rMin = std::min(rMin, p.y);
        rMax = std::max(rMax, p.y);
    }
    // The fit sampled over the points' rates and a little beyond.
    if (count >= 2 && rMax > rMin && rMin > 0.0) {
        std::vector<std::pair<double, double>> table;
        const int samples = 200;
        const double lo = rMin * 0.9, hi = rMax * 1.1;
        for (int s = 0; s <= samples; ++s) {
            const double r = lo + (hi - lo) * s / samples;
            const double t = ctx_.thicknessAt(pixel_, r);
            if (t != hcal::kNoValue && std::isfinite(t))
                table.emplace_back(t, r);
        }
        std::sort(table.begin(), table.end());
        table.erase(std::unique(table.begin(), table.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    table.end());
        if (table.size() >= 2)
            series->functions.push_back(std::make_unique<FitCurve>(std::move(table)));
    }
    chart_->autoScale();
    chart_->update();
}

void HardenCalPanel::refreshPictures()
{
    const int pixels = ctx_.pixelCount();
    const unsigned w = static_cast<unsigned>(std::max(ctx_.width(), 0));
    const unsigned h = static_cast<unsigned>(std::max(ctx_.height(), 0));
    if (pixels <= 0)
        return;
    std::vector<double> mask(static_cast<size_t>(pixels)), thickness(static_cast<size_t>(pixels)),
        error(static_cast<size_t>(pixels));
    ctx_.mask(mask.data(), pixels);
    ctx_.currentResult(thickness.data(), error.data(), pixels);
    // Pixels without a value show as 0.
    for (size_t i = 0; i < thickness.size(); ++i) {
        if (thickness[i] == hcal::kNoValue)
            thickness[i] = 0.0;
        if (error[i] == hcal::kNoValue)
            error[i] = 0.0;
    }
    maskView_->setImage(mask.data(), w, h, 0.0, 1.0, false);
    thicknessView_->setImage(thickness.data(), w, h);
    errorView_->setImage(error.data(), w, h);
    const hcal::ErrorStats st = ctx_.errorStats();
    const QString bad = tr("Bad pixels: %1").arg(ctx_.badPixelCount());
    if (st.pixels == 0)
        stats_->setText(tr("Error: no corrected frame yet") + "    " + bad);
    else
        stats_->setText(tr("Error  min: %1  max: %2  mean: %3").arg(number(st.min), number(st.max), number(st.mean)) +
                        "    " + bad);
}

QString HardenCalPanel::statisticsText() const
{
    return stats_->text();
}
