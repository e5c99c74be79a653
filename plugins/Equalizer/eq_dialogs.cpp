#include "eq_dialogs.h"

#include <algorithm>
#include <cmath>

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QProgressBar>
#include <QRegularExpressionValidator>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QSvgGenerator>
#include <QTimer>
#include <QVBoxLayout>

#include "eq_data.h"
#include "platform/file_write.h"
#include "pluginfw/plugin_table.h"
#include "uikit/image_saving.h"
#include "uikit/plot2d.h"

namespace {

constexpr int kPollMs = 200;

QSpinBox* spin(int min, int max, int value)
{
    auto* s = new QSpinBox;
    s->setRange(min, max);
    s->setValue(value);
    return s;
}

QDoubleSpinBox* doubleSpin(double min, double max, double value, int decimals)
{
    auto* s = new QDoubleSpinBox;
    s->setDecimals(decimals);
    s->setRange(min, max);
    s->setValue(value);
    return s;
}

QGroupBox* group(const QString& title, QLayout* layout)
{
    auto* box = new QGroupBox(title);
    box->setLayout(layout);
    return box;
}

// A vertical axis title: the text drawn turned by a quarter, reading upwards.
class VerticalTitle : public QWidget {
public:
    explicit VerticalTitle(QWidget* parent) : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    }
    void setText(const QString& text)
    {
        text_ = text;
        updateGeometry();
        update();
    }
    QString text() const { return text_; }
    QSize sizeHint() const override
    {
        const QFontMetrics m(font());
        return {m.height() + 4, m.horizontalAdvance(text_) + 4};
    }
    QSize minimumSizeHint() const override { return {QFontMetrics(font()).height() + 4, 0}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.translate(0, height());
        p.rotate(-90);
        p.drawText(QRect(0, 0, height(), width()), Qt::AlignCenter, text_);
    }

private:
    QString text_;
};

// The device's DAC names and largest values.
struct DacList {
    std::vector<QString> names;
    std::vector<int> largest;
};

DacList dacList(int devId)
{
    DacList list;
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    const _MgrFuncTable* t = pluginTable();
    if (t && t->tvkCtrlGetDACsNames &&
        t->tvkCtrlGetDACsNames(static_cast<unsigned>(devId), &names, &bits, &count) == 0 && names && bits)
        for (int i = 0; i < std::min(count, 32); ++i) {
            list.names.push_back(QString::fromLatin1(names[i] ? names[i] : ""));
            list.largest.push_back(bits[i] > 0 && bits[i] <= 16 ? (1 << bits[i]) - 1 : 0);
        }
    return list;
}

} // namespace

// ---- common part ----

CRunDlg::CRunDlg(int devId) : devId_(devId) {}

void CRunDlg::buildCommon(QWidget* settings, const QString& caption)
{
    settings_ = settings;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(settings);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(QStringLiteral("Start"), this);
    start_->setObjectName(QStringLiteral("start"));
    abort_ = new QPushButton(QStringLiteral("Abort"), this);
    abort_->setObjectName(QStringLiteral("abort"));
    buttons->addWidget(start_);
    buttons->addWidget(abort_);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    layout->addWidget(progress_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    layout->addWidget(status_);
    // The plot with its axis titles: the vertical one to its left, the horizontal one below.
    auto* plotGrid = new QGridLayout;
    plotGrid->setSpacing(2);
    plot_ = new Plot2D(this);
    plot_->setMinimumSize(360, 220);
    yTitle_ = new VerticalTitle(this);
    xTitle_ = new QLabel(this);
    xTitle_->setAlignment(Qt::AlignHCenter);
    plotGrid->addWidget(yTitle_, 0, 0);
    plotGrid->addWidget(plot_, 0, 1);
    plotGrid->addWidget(xTitle_, 1, 1);
    plotGrid->setRowStretch(0, 1);
    plotGrid->setColumnStretch(1, 1);
    layout->addLayout(plotGrid, 1);
    if (!caption.isEmpty())
        layout->addWidget(new QLabel(caption, this));
    connect(start_, &QPushButton::clicked, this, &CRunDlg::startClicked);
    connect(abort_, &QPushButton::clicked, this, [this] { onAbort(); });
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CRunDlg::poll);
    timer_->start(kPollMs);
    layout->activate(); // size limits settled before the window is placed
    resize(std::max(460, minimumSizeHint().width()), std::max(560, minimumSizeHint().height() + 240));
    OnInitDialog();
    owner()->loadWindowPos();
    updateState();
}

void CRunDlg::startClicked()
{
    // A run may end before the state is read here: its end is then still shown by the next poll.
    endPending_ = onStart();
    updateState();
}

void CRunDlg::setAxisTitles(const QString& x, const QString& y)
{
    xTitleText_ = x;
    yTitleText_ = y;
    xTitle_->setText(x);
    static_cast<VerticalTitle*>(yTitle_)->setText(y);
}

void CRunDlg::fitPlot()
{
    double lo = 1e300, hi = -1e300;
    for (const auto& g : plot_->graphs)
        for (const auto& series : g->series)
            for (const Plot2DPoint& point : series->points)
                if (std::isfinite(point.y)) {
                    lo = std::min(lo, point.y);
                    hi = std::max(hi, point.y);
                }
    plot_->setAutoScaleX(true);
    if (lo == hi) {
        // Flat: a range of a tenth of the value on either side (1 around 0) puts the line in the middle.
        const double pad = lo != 0 ? std::abs(lo) * 0.1 : 1.0;
        plot_->setAutoScaleY(false);
        plot_->setYRange(lo - pad, hi + pad);
    } else {
        plot_->setAutoScaleY(true);
    }
    plot_->redrawNow();
}

void CRunDlg::updateState()
{
    const bool busy = running();
    settings_->setEnabled(!busy && settings_->property("uiEnabled").value<bool>());
    start_->setEnabled(!busy && settings_->property("uiEnabled").value<bool>());
    abort_->setEnabled(busy);
    stateChanged(busy);
}

void CRunDlg::poll()
{
    const bool busy = running();
    const bool wasBusy = abort_->isEnabled();
    if (busy) {
        progress_->setValue(std::clamp(progressPercent(), 0, 100));
        refreshPlot();
    } else if (wasBusy || endPending_) {
        progress_->setValue(std::clamp(progressPercent(), 0, 100));
        status_->setText(endText());
        refreshPlot();
    }
    const bool ended = !busy && (wasBusy || endPending_);
    if (!busy)
        endPending_ = false;
    if (busy != wasBusy || ended)
        updateState();
}

void CRunDlg::customEvent(QEvent* event)
{
    if (event->type() == kRunEndedEvent)
        poll();
    CPluginDlg::customEvent(event);
}

// ---- threshold equalization ----

CEqualizerDlg::CEqualizerDlg(int devId) : CRunDlg(devId) { setObjectName(QStringLiteral("EqualizerDlg")); }

bool CEqualizerDlg::Create()
{
    if (!findThEqualData(devId_))
        return false;
    _DevInfo info{};
    if (const _MgrFuncTable* t = pluginTable(); t && t->tvkCtrlGetDevInfo &&
                                                t->tvkCtrlGetDevInfo(static_cast<unsigned>(devId_), &info) == 0)
        chips_ = std::max(info.chipCount, 1);
    auto* form = new QWidget(this);
    form->setProperty("uiEnabled", true);
    auto* columns = new QHBoxLayout(form);
    columns->setContentsMargins(0, 0, 0, 0);
    auto* left = new QVBoxLayout;
    left->addWidget(buildMethod());
    left->addWidget(buildOperations());
    left->addStretch(1);
    columns->addLayout(left);
    columns->addWidget(buildAcquisition(), 0, Qt::AlignTop);
    buildCommon(form, QStringLiteral("Edges of chip 0: red at adjustment 0, blue equalized."));
    plot()->addGraph("Equalization");
    setAxisTitles(QStringLiteral("Threshold DAC value"), QStringLiteral("Pixels"));
    return true;
}

QWidget* CEqualizerDlg::buildMethod()
{
    auto* f = new QFormLayout;
    method_ = new QComboBox;
    // Every type keeps its entry, so the list reads the same with and without the pulser; the types that
    // need the external test pulser are disabled when its library is not there (configure refuses them).
    equalizer::ExternalPulser* pulser = externalPulser();
    const bool pulserReady = pulser && pulser->available();
    auto* items = qobject_cast<QStandardItemModel*>(method_->model());
    for (int type = equalizer::kThlSource; type <= equalizer::kThhExtPulser; ++type) {
        const char* label = equalizer::methodLabel(type);
        if (!label)
            continue;
        method_->addItem(QStringLiteral("%1 - %2").arg(type).arg(QString::fromLatin1(label)), type);
        const bool external = type == equalizer::kThlExtPulser || type == equalizer::kThhExtPulser;
        if (external && !pulserReady && items) {
            QStandardItem* item = items->item(method_->count() - 1);
            item->setEnabled(false);
            item->setToolTip(QStringLiteral("The external test pulser library %1 is not available.")
                                 .arg(QLatin1String(equalizer::kPulserLibrary)));
        }
    }
    const int fallback = method_->findData(int(equalizer::kThlNoiseEdge));
    method_->setCurrentIndex(fallback);
    // A disabled type chosen by other means than the list (which skips it) gives way to the default one.
    connect(method_, &QComboBox::currentIndexChanged, this, [this, fallback](int index) {
        if (index >= 0 && !(method_->model()->flags(method_->model()->index(index, 0)) & Qt::ItemIsEnabled))
            method_->setCurrentIndex(fallback);
    });
    f->addRow(QStringLiteral("Method"), method_);
    twoLevel_ = new QCheckBox(QStringLiteral("Two levels only"));
    f->addRow(QString(), twoLevel_);
    // The range controls are bounded by the top of the device's THL range, which is also "To"'s default.
    int top = 1023;
    const DacList list = dacList(devId_);
    for (size_t i = 0; i < list.names.size(); ++i)
        if (list.names[i] == QLatin1String("THL") && list.largest[i] > 0)
            top = list.largest[i];
    from_ = spin(0, top, 0);
    to_ = spin(0, top, top);
    step_ = spin(1, std::max(top, 1), 4);
    f->addRow(QStringLiteral("From"), from_);
    f->addRow(QStringLiteral("To"), to_);
    f->addRow(QStringLiteral("Step"), step_);
    return group(QStringLiteral("Method and range"), f);
}

QWidget* CEqualizerDlg::buildAcquisition()
{
    const equalizer::EqualizationSettings defaults;
    auto* f = new QFormLayout;
    acqCount_ = spin(1, 1000000, defaults.acqCount);
    f->addRow(QStringLiteral("Acquisitions"), acqCount_);
    acqTime_ = doubleSpin(0.000001, 3600, defaults.acqTime, 6);
    f->addRow(QStringLiteral("Acq. time [s]"), acqTime_);
    thresholdFactor_ = doubleSpin(0, 1000000, defaults.countThresholdFactor, 3);
    thresholdFactor_->setToolTip(QStringLiteral("A pixel responds when it counts at least this factor times the "
                                                "acquisitions (without test pulses)."));
    f->addRow(QStringLiteral("Count threshold factor"), thresholdFactor_);
    pulseHeight_ = doubleSpin(0, 10, defaults.pulseHeight, 4);
    f->addRow(QStringLiteral("Test-pulse height [V]"), pulseHeight_);
    pulsePeriod_ = doubleSpin(0.000001, 10, defaults.pulsePeriod, 6);
    f->addRow(QStringLiteral("Test-pulse period [s]"), pulsePeriod_);
    pulseCount_ = spin(1, 1000000, static_cast<int>(defaults.pulseCount));
    f->addRow(QStringLiteral("Test pulses"), pulseCount_);
    spacing_ = spin(1, 32, defaults.spacing);
    spacing_->setToolTip(QStringLiteral("Pixels are measured in S x S interleaved sub-masks."));
    f->addRow(QStringLiteral("Spacing S"), spacing_);
    oneChip_ = new QCheckBox(QStringLiteral("One chip at a time"));
    oneChip_->setChecked(defaults.oneChipAtATime);
    f->addRow(QString(), oneChip_);
    preNoisy_ = new QCheckBox(QStringLiteral("Mask noisy pixels first"));
    preNoisy_->setChecked(defaults.preStepNoisy);
    f->addRow(QString(), preNoisy_);
    preCoarse_ = new QCheckBox(QStringLiteral("Narrow the range by a coarse sweep first"));
    preCoarse_->setChecked(defaults.preStepCoarse);
    f->addRow(QString(), preCoarse_);
    return group(QStringLiteral("Acquisition"), f);
}

QWidget* CEqualizerDlg::buildOperations()
{
    auto* grid = new QGridLayout;
    windowK_ = doubleSpin(0.1, 100, 3, 2);
    rewindow_ = new QPushButton(QStringLiteral("Re-window"));
    grid->addWidget(new QLabel(QStringLiteral("Window factor k")), 0, 0);
    grid->addWidget(windowK_, 0, 1);
    grid->addWidget(rewindow_, 0, 2);
    noiseP_ = doubleSpin(0, 100, 1, 3);
    noise_ = new QPushButton(QStringLiteral("Threshold from noise"));
    noise_->setToolTip(QStringLiteral("After a run of type 2: sets each chip's threshold so that p % of its "
                                      "pixels still count noise."));
    grid->addWidget(new QLabel(QStringLiteral("Noisy pixels p [%]")), 1, 0);
    grid->addWidget(noiseP_, 1, 1);
    grid->addWidget(noise_, 1, 2);
    balance_ = new QPushButton(QStringLiteral("Balance chips"));
    grid->addWidget(balance_, 2, 2);
    distPath_ = new QLineEdit;
    distPath_->setObjectName(QStringLiteral("distributions"));
    writeDist_ = new QPushButton(QStringLiteral("Write distributions"));
    grid->addWidget(new QLabel(QStringLiteral("Distribution file")), 3, 0);
    grid->addWidget(distPath_, 3, 1);
    grid->addWidget(writeDist_, 3, 2);
    connect(rewindow_, &QPushButton::clicked, this, &CEqualizerDlg::rewindow);
    connect(noise_, &QPushButton::clicked, this, &CEqualizerDlg::thresholdFromNoise);
    connect(balance_, &QPushButton::clicked, this, &CEqualizerDlg::balanceChips);
    connect(writeDist_, &QPushButton::clicked, this, &CEqualizerDlg::writeDistributions);
    connect(distPath_, &QLineEdit::textChanged, this, [this] { stateChanged(running()); });
    auto* box = group(QStringLiteral("After the run"), grid);
    operations_ = box;
    return box;
}

void CEqualizerDlg::stateChanged(bool busy)
{
    oneChip_->setEnabled(chips_ > 1);
    ThEqualData* d = findThEqualData(devId_);
    const bool finished = d && !busy && d->engine.lastMethod() != 0;
    rewindow_->setEnabled(finished);
    noise_->setEnabled(finished && d->engine.lastMethod() == equalizer::kThlNoiseEdge);
    balance_->setEnabled(finished && d->engine.chips() > 1);
    writeDist_->setEnabled(finished && !distPath_->text().isEmpty());
}

bool CEqualizerDlg::onStart()
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d)
        return false;
    equalizer::EqualizationSettings s;
    s.acqCount = acqCount_->value();
    s.acqTime = acqTime_->value();
    s.countThresholdFactor = thresholdFactor_->value();
    s.pulseHeight = pulseHeight_->value();
    s.pulsePeriod = pulsePeriod_->value();
    s.pulseCount = static_cast<uint32_t>(pulseCount_->value());
    s.spacing = spacing_->value();
    s.oneChipAtATime = oneChip_->isEnabled() && oneChip_->isChecked();
    s.preStepNoisy = preNoisy_->isChecked();
    s.preStepCoarse = preCoarse_->isChecked();
    std::string why;
    const int rc = d->start(method_->currentData().toInt(), twoLevel_->isChecked(), from_->value(), to_->value(),
                            step_->value(), s, &why);
    status()->setText(rc == 0 ? QStringLiteral("Equalizing...")
                              : QStringLiteral("The equalization was refused: %1").arg(QString::fromStdString(why)));
    if (rc == 0)
        progressBar()->setValue(0);
    return rc == 0;
}

void CEqualizerDlg::onAbort()
{
    if (ThEqualData* d = findThEqualData(devId_))
        d->abort();
}

bool CEqualizerDlg::running() const
{
    ThEqualData* d = findThEqualData(devId_);
    return d && d->running();
}

int CEqualizerDlg::progressPercent() const
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d)
        return 0;
    // The last measured value of the final sweep need not reach its end: a finished run is whole.
    if (!d->running() && d->lastResult() == 0)
        return 100;
    return static_cast<int>(d->engine.progress());
}

QString CEqualizerDlg::maskedText() const
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d || d->engine.chips() <= 0)
        return {};
    const equalizer::ThEqualization& e = d->engine;
    QStringList chips;
    for (int chip = 0; chip < e.chips(); ++chip)
        chips << QStringLiteral("chip %1: %2").arg(chip).arg(e.maskedCount(chip));
    const qint64 total = e.maskedTotal(), pixels = e.pixelCount();
    QString text = QStringLiteral("Masked pixels: %1; total %2 of %3.").arg(chips.join(QStringLiteral(", "))).arg(total).arg(pixels);
    if (2 * total > pixels)
        text += QStringLiteral("\nMore than half of the pixels are masked (%1 of %2): most pixels showed no "
                               "threshold response between From and To. Check the method, the range and the "
                               "source or test pulses.")
                    .arg(total)
                    .arg(pixels);
    return text;
}

QString CEqualizerDlg::endText() const
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d)
        return {};
    return d->lastResult() == 0 ? QStringLiteral("Equalization finished. ") + maskedText()
                                : QStringLiteral("Equalization failed or aborted (see the log).");
}

void CEqualizerDlg::rewindow()
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d || d->running())
        return;
    const double k = windowK_->value();
    status()->setText(d->engine.rewindow(k) == 0
                          ? QStringLiteral("Re-windowed at k = %1. ").arg(k) + maskedText()
                          : QStringLiteral("Re-windowing at k = %1 failed (see the log).").arg(k));
}

void CEqualizerDlg::thresholdFromNoise()
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d || d->running())
        return;
    const double p = noiseP_->value();
    status()->setText(d->engine.thresholdFromNoise(p) == 0
                          ? QStringLiteral("The threshold was set from the noise, p = %1 %.").arg(p)
                          : QStringLiteral("Setting the threshold from the noise failed (see the log)."));
}

void CEqualizerDlg::balanceChips()
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d || d->running())
        return;
    status()->setText(d->engine.balanceChips() == 0
                          ? QStringLiteral("The chips were balanced.")
                          : QStringLiteral("Balancing the chips failed: chip 0 has no spread, or the device "
                                           "refused the coefficients."));
}

void CEqualizerDlg::writeDistributions()
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d || d->running())
        return;
    const QString path = distPath_->text();
    std::string error;
    status()->setText(d->engine.writeDistributions(path.toStdString(), &error) == 0
                          ? QStringLiteral("The distributions were written to %1.").arg(path)
                          : QString::fromStdString(error));
}

void CEqualizerDlg::refreshPlot()
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d || d->running() || d->lastResult() != 0 || d->engine.chips() <= 0)
        return;
    const equalizer::ThEqualization& e = d->engine;
    // The whole configured window: the final sweep's narrowed one would cut off the spread at level 0.
    const int lo = std::min(e.windowStart(), e.windowEnd());
    const int hi = std::max(e.windowStart(), e.windowEnd());
    plot()->clearSeries();
    for (int column : {0, e.levels()}) {
        auto series = std::make_unique<Plot2DSeries>();
        series->name = column == 0 ? "Adj. 0" : "Equalized";
        for (int v = lo; v <= hi; ++v)
            series->addPoint(v, e.histogram(column, 0, v));
        plot()->addSeries(-1, std::move(series));
    }
    setAxisTitles(e.lastMethod() > 7 ? QStringLiteral("THH") : QStringLiteral("THL"), QStringLiteral("Pixels"));
    fitPlot();
}

// ---- DAC scan ----

namespace {

const char* const kValueKinds[] = {"Sum of medians", "Counts per enabled pixel", "Sum of counts"};

} // namespace

CDacScanDlg::CDacScanDlg(int devId) : CRunDlg(devId) { setObjectName(QStringLiteral("DacScanDlg")); }

bool CDacScanDlg::Create()
{
    DacScanData* d = findDacScanData(devId_);
    if (!d)
        return false;
    auto* form = new QWidget(this);
    form->setProperty("uiEnabled", true);
    auto* columns = new QHBoxLayout(form);
    columns->setContentsMargins(0, 0, 0, 0);
    auto* left = new QVBoxLayout;
    left->addWidget(buildScan());
    left->addWidget(buildOutput());
    left->addStretch(1);
    columns->addLayout(left);
    columns->addWidget(buildAcquisition(), 0, Qt::AlignTop);
    buildCommon(form);
    plot()->addGraph("DAC scan");
    showParams(d->params());
    showOutput();
    return true;
}

QWidget* CDacScanDlg::buildScan()
{
    auto* f = new QFormLayout;
    dac_ = new QComboBox;
    followDac_ = new QComboBox;
    const DacList list = dacList(devId_);
    for (size_t i = 0; i < list.names.size(); ++i) {
        dac_->addItem(list.names[i], list.largest[i]);
        followDac_->addItem(list.names[i], list.largest[i]);
    }
    f->addRow(QStringLiteral("Scanned DAC"), dac_);
    from_ = spin(0, 65535, 0);
    to_ = spin(0, 65535, 0);
    step_ = spin(1, 65535, 1);
    f->addRow(QStringLiteral("From"), from_);
    f->addRow(QStringLiteral("To"), to_);
    f->addRow(QStringLiteral("Step"), step_);
    follow_ = new QCheckBox(QStringLiteral("A second DAC follows"));
    f->addRow(QString(), follow_);
    f->addRow(QStringLiteral("Following DAC"), followDac_);
    followOffset_ = spin(-65535, 65535, 0);
    followOffset_->setToolTip(QStringLiteral("The following DAC is set to the scanned value plus this offset, "
                                             "kept inside its range."));
    f->addRow(QStringLiteral("Follow offset"), followOffset_);
    connect(follow_, &QCheckBox::toggled, this, &CDacScanDlg::enableDependents);
    connect(dac_, &QComboBox::currentIndexChanged, this, &CDacScanDlg::enableDependents);
    return group(QStringLiteral("Scan"), f);
}

QWidget* CDacScanDlg::buildAcquisition()
{
    auto* f = new QFormLayout;
    perStep_ = spin(1, 100000, 1);
    f->addRow(QStringLiteral("Acquisitions per step"), perStep_);
    acqTime_ = doubleSpin(0.000001, 3600, 0.01, 6);
    f->addRow(QStringLiteral("Acq. time [s]"), acqTime_);
    spacing_ = spin(1, 1000, 1);
    f->addRow(QStringLiteral("Acq. spacing"), spacing_);
    integrate_ = new QCheckBox(QStringLiteral("Integrate the frames of a step"));
    f->addRow(QString(), integrate_);
    testPulses_ = new QCheckBox(QStringLiteral("Test pulses instead of acquisitions"));
    f->addRow(QString(), testPulses_);
    pulseHeight_ = doubleSpin(0, 10, 0.2, 4);
    f->addRow(QStringLiteral("Test-pulse height [V]"), pulseHeight_);
    pulsePeriod_ = doubleSpin(0.000001, 10, 1e-4, 6);
    f->addRow(QStringLiteral("Test-pulse period [s]"), pulsePeriod_);
    pulseCount_ = spin(1, 1000000, 100);
    f->addRow(QStringLiteral("Test pulses"), pulseCount_);
    columnMask_ = new QLineEdit;
    columnMask_->setObjectName(QStringLiteral("columnMask"));
    columnMask_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,8}")), columnMask_));
    columnMask_->setToolTip(QStringLiteral("Hexadecimal: bit k pulses the columns k, k + 32, ..."));
    f->addRow(QStringLiteral("Column mask (hex)"), columnMask_);
    connect(testPulses_, &QCheckBox::toggled, this, &CDacScanDlg::enableDependents);
    return group(QStringLiteral("Acquisition"), f);
}

QWidget* CDacScanDlg::buildOutput()
{
    auto* f = new QFormLayout;
    output_ = new QLineEdit;
    output_->setObjectName(QStringLiteral("output"));
    f->addRow(QStringLiteral("Output file"), output_);
    log_ = new QCheckBox(QStringLiteral("Write the analog values to a .log file"));
    f->addRow(QString(), log_);
    results_ = new QLineEdit;
    results_->setObjectName(QStringLiteral("results"));
    results_->setToolTip(QStringLiteral("Written at the end of every scan when named."));
    f->addRow(QStringLiteral("Results file"), results_);
    kind_ = new QComboBox;
    for (const char* kind : kValueKinds)
        kind_->addItem(QString::fromLatin1(kind));
    f->addRow(QStringLiteral("Value"), kind_);
    enabledOnly_ = new QCheckBox(QStringLiteral("Enabled pixels only"));
    f->addRow(QString(), enabledOnly_);
    difference_ = new QCheckBox(QStringLiteral("Difference to the previous step"));
    f->addRow(QString(), difference_);
    header_ = new QCheckBox(QStringLiteral("Header line of DAC values"));
    f->addRow(QString(), header_);
    writeResults_ = new QPushButton(QStringLiteral("Write results"));
    f->addRow(QString(), writeResults_);
    connect(writeResults_, &QPushButton::clicked, this, &CDacScanDlg::writeResults);
    connect(results_, &QLineEdit::textChanged, this, [this] { stateChanged(running()); });
    for (QCheckBox* box : {enabledOnly_, difference_})
        connect(box, &QCheckBox::toggled, this, &CDacScanDlg::refreshPlot);
    connect(kind_, &QComboBox::currentIndexChanged, this, &CDacScanDlg::refreshPlot);
    return group(QStringLiteral("Output"), f);
}

void CDacScanDlg::showParams(const DacScanParams& p)
{
    const int thl = dac_->findText(QStringLiteral("THL"));
    dac_->setCurrentIndex(p.scanned >= 0 && p.scanned < dac_->count() ? p.scanned : std::max(thl, 0));
    from_->setValue(p.from);
    to_->setValue(p.to);
    step_->setValue(p.step);
    follow_->setChecked(p.follow);
    followDac_->setCurrentIndex(std::clamp(p.followIndex, 0, std::max(followDac_->count() - 1, 0)));
    followOffset_->setValue(p.followOffset);
    perStep_->setValue(p.perStep);
    acqTime_->setValue(p.acqTime);
    spacing_->setValue(p.spacing);
    integrate_->setChecked(p.integrate);
    log_->setChecked(p.log);
    testPulses_->setChecked(p.testPulses);
    pulseHeight_->setValue(p.pulseHeight);
    pulsePeriod_->setValue(p.pulsePeriod);
    pulseCount_->setValue(static_cast<int>(std::min<uint32_t>(p.pulseCount, 1000000)));
    columnMask_->setText(QString::number(p.columnMask, 16).toUpper());
    results_->setText(QString::fromStdString(p.results));
    kind_->setCurrentIndex(std::clamp(p.kind, 0, 2));
    enabledOnly_->setChecked(p.enabledOnly);
    difference_->setChecked(p.difference);
    header_->setChecked(p.header);
    enableDependents();
}

DacScanParams CDacScanDlg::params() const
{
    DacScanParams p;
    p.scanned = dac_->currentIndex();
    p.from = from_->value();
    p.to = to_->value();
    p.step = step_->value();
    p.follow = follow_->isChecked();
    p.followIndex = followDac_->currentIndex();
    p.followOffset = followOffset_->value();
    p.perStep = perStep_->value();
    p.acqTime = acqTime_->value();
    p.spacing = spacing_->value();
    p.integrate = integrate_->isChecked();
    p.log = log_->isChecked();
    p.testPulses = testPulses_->isChecked();
    p.pulseHeight = pulseHeight_->value();
    p.pulsePeriod = pulsePeriod_->value();
    p.pulseCount = static_cast<uint32_t>(pulseCount_->value());
    bool ok = false;
    const uint32_t mask = columnMask_->text().toUInt(&ok, 16);
    p.columnMask = ok ? mask : 0xFFFFFFFFu;
    p.results = results_->text().toStdString();
    p.kind = kind_->currentIndex();
    p.enabledOnly = enabledOnly_->isChecked();
    p.difference = difference_->isChecked();
    p.header = header_->isChecked();
    return p;
}

void CDacScanDlg::enableDependents()
{
    followDac_->setEnabled(follow_->isChecked());
    followOffset_->setEnabled(follow_->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{pulseHeight_, pulsePeriod_, pulseCount_, columnMask_})
        w->setEnabled(testPulses_->isChecked());
    // The range follows the scanned DAC's largest value.
    const int largest = dac_->currentData().toInt();
    if (largest > 0) {
        from_->setMaximum(largest);
        to_->setMaximum(largest);
    }
}

void CDacScanDlg::stateChanged(bool busy)
{
    DacScanData* d = findDacScanData(devId_);
    writeResults_->setEnabled(d && !busy && !d->engine.historyEmpty() && !results_->text().isEmpty());
}

void CDacScanDlg::showOutput()
{
    if (DacScanData* d = findDacScanData(devId_))
        output_->setText(QString::fromStdString(d->outputPath()));
}

bool CDacScanDlg::onStart()
{
    DacScanData* d = findDacScanData(devId_);
    if (!d || dac_->currentIndex() < 0)
        return false;
    const DacScanParams p = params();
    d->setOutputPath(output_->text().toStdString());
    const int rc = d->start(&p);
    status()->setText(rc == 0 ? QStringLiteral("Scanning...") : QStringLiteral("The scan was refused (see the log)."));
    if (rc == 0)
        progressBar()->setValue(0);
    return rc == 0;
}

void CDacScanDlg::writeResults()
{
    DacScanData* d = findDacScanData(devId_);
    if (!d || d->running())
        return;
    const DacScanParams p = params();
    const QString path = results_->text();
    status()->setText(d->writeResults(p.results, p.kind, p.enabledOnly, p.difference, p.header) == 0
                          ? QStringLiteral("The results were written to %1.").arg(path)
                          : QStringLiteral("Writing the results to %1 failed (see the log).").arg(path));
}

void CDacScanDlg::onAbort()
{
    if (DacScanData* d = findDacScanData(devId_))
        d->abort();
}

bool CDacScanDlg::running() const
{
    DacScanData* d = findDacScanData(devId_);
    return d && d->running();
}

int CDacScanDlg::progressPercent() const
{
    DacScanData* d = findDacScanData(devId_);
    if (!d || d->engine.runCount() == 0)
        return 0;
    const int steps = std::max(d->engine.stepCount(), 1);
    return d->engine.pointCount(d->engine.runCount() - 1) * 100 / steps;
}

QString CDacScanDlg::endText() const
{
    DacScanData* d = findDacScanData(devId_);
    if (!d)
        return {};
    switch (d->lastResult()) {
    case 0: return QStringLiteral("DAC scan finished.");
    case equalizer::kScanAborted: return QStringLiteral("DAC scan aborted.");
    default: return QStringLiteral("DAC scan failed (see the log).");
    }
}

void CDacScanDlg::refreshPlot()
{
    DacScanData* d = findDacScanData(devId_);
    if (!d || d->engine.runCount() == 0)
        return;
    const equalizer::DacScan& e = d->engine;
    const int run = e.runCount() - 1;
    const int points = e.pointCount(run);
    plot()->clearSeries();
    _DevInfo info{};
    int chips = 1;
    if (const _MgrFuncTable* t = pluginTable(); t && t->tvkCtrlGetDevInfo &&
                                                t->tvkCtrlGetDevInfo(static_cast<unsigned>(devId_), &info) == 0)
        chips = std::max(info.chipCount, 1);
    const int kind = std::clamp(kind_->currentIndex(), 0, 2);
    for (int chip = 0; chip < chips; ++chip) {
        auto series = std::make_unique<Plot2DSeries>();
        series->name = "Chip " + std::to_string(chip);
        for (int k = 0; k < points; ++k)
            series->addPoint(e.firstValue(run) + k * e.runStep(run),
                             e.value(run, k, chip, kind, enabledOnly_->isChecked(), difference_->isChecked()));
        plot()->addSeries(-1, std::move(series));
    }
    const DacScanParams p = d->params();
    const QString scanned = p.scanned >= 0 && p.scanned < dac_->count() ? dac_->itemText(p.scanned)
                                                                        : QStringLiteral("THL");
    setAxisTitles(QStringLiteral("%1 value").arg(scanned),
                  QString::fromLatin1(kValueKinds[kind]) +
                      (difference_->isChecked() ? QStringLiteral(", difference") : QString()));
    fitPlot();
}

// ---- dependency scan ----

CAnalogScanDlg::CAnalogScanDlg(int devId) : CRunDlg(devId) { setObjectName(QStringLiteral("AnalogScanDlg")); }

bool CAnalogScanDlg::Create()
{
    DepScanData* d = findDepScanData(devId_);
    if (!d)
        return false;
    auto* form = new QWidget(this);
    form->setProperty("uiEnabled", true);
    auto* f = new QFormLayout(form);
    auto* boxes = new QWidget(form);
    auto* grid = new QGridLayout(boxes);
    grid->setContentsMargins(0, 0, 0, 0);
    constexpr int kBoxesPerRow = 5; // keeps the window narrow for devices with many DACs
    for (const QString& name : dacList(devId_).names) {
        auto* box = new QCheckBox(name, boxes);
        const int at = static_cast<int>(dacs_.size());
        grid->addWidget(box, at / kBoxesPerRow, at % kBoxesPerRow);
        dacs_.push_back(box);
    }
    if (!dacs_.empty())
        dacs_[0]->setChecked(true);
    f->addRow(QStringLiteral("DACs"), boxes);
    middle_ = new QCheckBox(QStringLiteral("Other DACs at their middle value"), form);
    f->addRow(QString(), middle_);
    from_ = spin(0, 65535, 0);
    to_ = spin(0, 65535, 1023);
    step_ = spin(1, 65535, 16);
    f->addRow(QStringLiteral("From"), from_);
    f->addRow(QStringLiteral("To"), to_);
    f->addRow(QStringLiteral("Step"), step_);
    output_ = new QLineEdit(form);
    output_->setObjectName(QStringLiteral("output"));
    f->addRow(QStringLiteral("Output file"), output_);
    notice_ = new QLabel(form);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setWordWrap(true);
    f->addRow(notice_);
    buildCommon(form);
    plot()->addGraph("Dependency scan");
    setAxisTitles(QStringLiteral("DAC code"), QStringLiteral("Analog value, chip 0"));
    enableUserInterface(d->uiEnabled);
    refreshPlot();
    return true;
}

void CAnalogScanDlg::enableUserInterface(bool on)
{
    uiEnabled_ = on;
    settings_->setProperty("uiEnabled", on);
    updateState();
}

bool CAnalogScanDlg::onStart()
{
    DepScanData* d = findDepScanData(devId_);
    if (!d)
        return false;
    uint32_t mask = 0;
    for (size_t i = 0; i < dacs_.size(); ++i)
        if (dacs_[i]->isChecked())
            mask |= 1u << i;
    const int rc = d->start(mask, middle_->isChecked(), from_->value(), to_->value(), step_->value(),
                            output_->text().toStdString());
    status()->setText(rc == 0 ? QStringLiteral("Scanning...") : QString::fromStdString(d->lastError()));
    notice_->setText(rc == 0 ? QString::fromStdString(d->engine.notice()) : QString());
    if (rc == 0)
        progressBar()->setValue(0);
    return rc == 0;
}

void CAnalogScanDlg::onAbort()
{
    if (DepScanData* d = findDepScanData(devId_))
        d->abort();
}

bool CAnalogScanDlg::running() const
{
    DepScanData* d = findDepScanData(devId_);
    return d && d->running();
}

int CAnalogScanDlg::progressPercent() const
{
    DepScanData* d = findDepScanData(devId_);
    if (!d)
        return 0;
    // Out of the codes the configured scan visits, each DAC only up to its own largest value.
    size_t done = 0;
    for (const equalizer::DepCurve& c : d->engine.curves())
        done += c.codes.size();
    const size_t total = static_cast<size_t>(std::max(d->engine.plannedCodes(), 1));
    return static_cast<int>(std::min<size_t>(done * 100 / total, 100));
}

QString CAnalogScanDlg::endText() const
{
    DepScanData* d = findDepScanData(devId_);
    if (!d)
        return {};
    return d->lastResult() == 0 ? QStringLiteral("Dependency scan finished.") : QString::fromStdString(d->lastError());
}

void CAnalogScanDlg::refreshPlot()
{
    DepScanData* d = findDepScanData(devId_);
    if (!d)
        return;
    plot()->clearSeries();
    for (const equalizer::DepCurve& c : d->engine.curves()) {
        auto series = std::make_unique<Plot2DSeries>();
        series->name = c.name;
        const size_t chips = c.codes.empty() ? 1 : c.means.size() / c.codes.size();
        for (size_t k = 0; k < c.codes.size(); ++k)
            series->addPoint(c.codes[k], c.means[k * chips]);
        plot()->addSeries(-1, std::move(series));
    }
    fitPlot();
}

void CAnalogScanDlg::OnClose()
{
    notifyDepScanClosed(devId_);
    CRunDlg::OnClose();
}

// ---- the dependency scan as an image, in any thread ----

namespace {

void drawCurves(QPainter& p, const QRect& area, const std::vector<equalizer::DepCurve>& curves, int chips)
{
    p.fillRect(area, Qt::white);
    double xMin = 1e300, xMax = -1e300, yMin = 1e300, yMax = -1e300;
    for (const equalizer::DepCurve& c : curves)
        for (size_t k = 0; k < c.codes.size(); ++k)
            for (int chip = 0; chip < chips; ++chip) {
                const double y = c.means[k * static_cast<size_t>(chips) + static_cast<size_t>(chip)];
                xMin = std::min(xMin, double(c.codes[k]));
                xMax = std::max(xMax, double(c.codes[k]));
                if (std::isfinite(y)) {
                    yMin = std::min(yMin, y);
                    yMax = std::max(yMax, y);
                }
            }
    if (xMin > xMax || yMin > yMax)
        return;
    if (xMax == xMin)
        xMax = xMin + 1;
    if (yMax == yMin) {
        // Flat curves: drawn in the middle, not on the border.
        const double pad = yMin != 0 ? std::abs(yMin) * 0.1 : 1.0;
        yMin -= pad;
        yMax += pad;
    }
    const QRect plot = area.adjusted(76, 20, -20, -44);
    p.setPen(Qt::black);
    p.drawRect(plot);
    // The axis titles: below the codes, and turned by a quarter left of the values.
    p.drawText(QRect(plot.left(), plot.bottom() + 22, plot.width(), 18), Qt::AlignHCenter, QStringLiteral("DAC code"));
    p.save();
    p.translate(area.left() + 2, plot.bottom());
    p.rotate(-90);
    p.drawText(QRect(0, 0, plot.height(), 18), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Analog value"));
    p.restore();
    p.drawText(QRect(plot.left(), plot.bottom() + 4, plot.width(), 16), Qt::AlignLeft, QString::number(xMin));
    p.drawText(QRect(plot.left(), plot.bottom() + 4, plot.width(), 16), Qt::AlignRight, QString::number(xMax));
    p.drawText(QRect(area.left() + 18, plot.bottom() - 8, 54, 16), Qt::AlignRight, QString::number(yMin, 'g', 4));
    p.drawText(QRect(area.left() + 18, plot.top() - 8, 54, 16), Qt::AlignRight, QString::number(yMax, 'g', 4));
    const auto at = [&](double x, double y) {
        return QPointF(plot.left() + (x - xMin) / (xMax - xMin) * plot.width(),
                       plot.bottom() - (y - yMin) / (yMax - yMin) * plot.height());
    };
    static const QColor colours[] = {Qt::red, Qt::blue, Qt::darkGreen, Qt::magenta, Qt::darkCyan, Qt::darkYellow};
    int index = 0;
    for (const equalizer::DepCurve& c : curves) {
        const QColor colour = colours[index % 6];
        p.setPen(QPen(colour, 1.5));
        p.drawText(plot.left() + 6, plot.top() + 14 + 14 * index, QString::fromStdString(c.name));
        ++index;
        for (int chip = 0; chip < chips; ++chip) {
            QPolygonF line;
            for (size_t k = 0; k < c.codes.size(); ++k)
                line << at(c.codes[k], c.means[k * static_cast<size_t>(chips) + static_cast<size_t>(chip)]);
            p.drawPolyline(line);
        }
    }
}

} // namespace

int saveDepScanImage(const std::string& path, const std::vector<equalizer::DepCurve>& curves, int chips,
                     std::string* error)
{
    constexpr int kWidth = 800, kHeight = 600;
    const size_t dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    chips = std::max(chips, 1);
    if (ext == "svg") {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QSvgGenerator svg;
            svg.setOutputDevice(&buffer);
            svg.setSize(QSize(kWidth, kHeight));
            svg.setViewBox(QRect(0, 0, kWidth, kHeight));
            QPainter p(&svg);
            drawCurves(p, QRect(0, 0, kWidth, kHeight), curves, chips);
        }
        std::string text;
        if (plat::replaceFile(path, buffer.data().constData(), static_cast<size_t>(buffer.data().size()), &text) != 0) {
            *error = "Cannot write the image file " + path + ": " + text;
            return -1;
        }
        return 0;
    }
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    {
        QPainter p(&image);
        drawCurves(p, image.rect(), curves, chips);
    }
    if (saveBitmapFile(path.c_str(), image) != 0) {
        *error = "Cannot write the image file " + path + ".";
        return -1;
    }
    return 0;
}
