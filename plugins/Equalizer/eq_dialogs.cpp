#include "eq_dialogs.h"

#include <algorithm>
#include <cmath>

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
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
    plot_ = new Plot2D(this);
    plot_->setMinimumSize(360, 220);
    layout->addWidget(plot_, 1);
    if (!caption.isEmpty())
        layout->addWidget(new QLabel(caption, this));
    connect(start_, &QPushButton::clicked, this, [this] {
        // A run may end before the state is read here: its end is then still shown by the next poll.
        endPending_ = onStart();
        updateState();
    });
    connect(abort_, &QPushButton::clicked, this, [this] { onAbort(); });
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CRunDlg::poll);
    timer_->start(kPollMs);
    layout->activate(); // size limits settled before the window is placed
    resize(460, 560);
    OnInitDialog();
    owner()->loadWindowPos();
    updateState();
}

void CRunDlg::updateState()
{
    const bool busy = running();
    settings_->setEnabled(!busy && settings_->property("uiEnabled").value<bool>());
    start_->setEnabled(!busy && settings_->property("uiEnabled").value<bool>());
    abort_->setEnabled(busy);
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
    if (!busy)
        endPending_ = false;
    if (busy != wasBusy)
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
    auto* form = new QWidget(this);
    form->setProperty("uiEnabled", true);
    auto* f = new QFormLayout(form);
    method_ = new QComboBox(form);
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
    twoLevel_ = new QCheckBox(QStringLiteral("Two levels only"), form);
    f->addRow(QString(), twoLevel_);
    from_ = spin(0, 65535, 0);
    to_ = spin(0, 65535, 1023);
    step_ = spin(1, 1024, 4);
    f->addRow(QStringLiteral("From"), from_);
    f->addRow(QStringLiteral("To"), to_);
    f->addRow(QStringLiteral("Step"), step_);
    acqCount_ = spin(1, 1000000, 1);
    f->addRow(QStringLiteral("Acquisitions"), acqCount_);
    acqTime_ = new QDoubleSpinBox(form);
    acqTime_->setDecimals(6);
    acqTime_->setRange(0.000001, 3600);
    acqTime_->setValue(0.01);
    f->addRow(QStringLiteral("Acq. time [s]"), acqTime_);
    buildCommon(form, QStringLiteral("Edges of chip 0: red at adjustment 0, blue equalized."));
    plot()->addGraph("Equalization");
    return true;
}

bool CEqualizerDlg::onStart()
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d)
        return false;
    equalizer::EqualizationSettings s;
    s.acqCount = acqCount_->value();
    s.acqTime = acqTime_->value();
    const int rc = d->start(method_->currentData().toInt(), twoLevel_->isChecked(), from_->value(), to_->value(),
                            step_->value(), s);
    status()->setText(rc == 0 ? QStringLiteral("Equalizing...")
                              : QStringLiteral("The equalization was refused (see the log)."));
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
    return d ? static_cast<int>(d->engine.progress()) : 0;
}

QString CEqualizerDlg::endText() const
{
    ThEqualData* d = findThEqualData(devId_);
    if (!d)
        return {};
    return d->lastResult() == 0 ? QStringLiteral("Equalization finished, %1 pixels masked.").arg(d->engine.maskedTotal())
                                : QStringLiteral("Equalization failed or aborted (see the log).");
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
    plot()->setAutoScaleX(true);
    plot()->setAutoScaleY(true);
    plot()->redrawNow();
}

// ---- DAC scan ----

CDacScanDlg::CDacScanDlg(int devId) : CRunDlg(devId) { setObjectName(QStringLiteral("DacScanDlg")); }

bool CDacScanDlg::Create()
{
    if (!findDacScanData(devId_))
        return false;
    auto* form = new QWidget(this);
    form->setProperty("uiEnabled", true);
    auto* f = new QFormLayout(form);
    dac_ = new QComboBox(form);
    const DacList list = dacList(devId_);
    for (size_t i = 0; i < list.names.size(); ++i)
        dac_->addItem(list.names[i], list.largest[i]);
    const int thl = dac_->findText(QStringLiteral("THL"));
    dac_->setCurrentIndex(std::max(thl, 0));
    f->addRow(QStringLiteral("Scanned DAC"), dac_);
    from_ = spin(0, 65535, 0);
    to_ = spin(0, 65535, 100);
    step_ = spin(1, 65535, 10);
    f->addRow(QStringLiteral("From"), from_);
    f->addRow(QStringLiteral("To"), to_);
    f->addRow(QStringLiteral("Step"), step_);
    perStep_ = spin(1, 100000, 1);
    f->addRow(QStringLiteral("Acquisitions per step"), perStep_);
    acqTime_ = new QDoubleSpinBox(form);
    acqTime_->setDecimals(6);
    acqTime_->setRange(0.000001, 3600);
    acqTime_->setValue(0.01);
    f->addRow(QStringLiteral("Acq. time [s]"), acqTime_);
    output_ = new QLineEdit(form);
    output_->setObjectName(QStringLiteral("output"));
    f->addRow(QStringLiteral("Output file"), output_);
    log_ = new QCheckBox(QStringLiteral("Write the analog values to a .log file"), form);
    f->addRow(QString(), log_);
    buildCommon(form);
    plot()->addGraph("DAC scan");
    showOutput();
    return true;
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
    DacScanParams p;
    p.scanned = dac_->currentIndex();
    p.from = from_->value();
    p.to = to_->value();
    p.step = step_->value();
    p.perStep = perStep_->value();
    p.acqTime = acqTime_->value();
    p.log = log_->isChecked();
    d->setOutputPath(output_->text().toStdString());
    const int rc = d->start(&p);
    status()->setText(rc == 0 ? QStringLiteral("Scanning...") : QStringLiteral("The scan was refused (see the log)."));
    if (rc == 0)
        progressBar()->setValue(0);
    return rc == 0;
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
    for (int chip = 0; chip < chips; ++chip) {
        auto series = std::make_unique<Plot2DSeries>();
        series->name = "Chip " + std::to_string(chip);
        for (int k = 0; k < points; ++k)
            series->addPoint(e.firstValue(run) + k * e.runStep(run), e.value(run, k, chip, 0, false, false));
        plot()->addSeries(-1, std::move(series));
    }
    plot()->setAutoScaleX(true);
    plot()->setAutoScaleY(true);
    plot()->redrawNow();
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
    buildCommon(form);
    plot()->addGraph("Dependency scan");
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
    size_t done = 0;
    const std::vector<equalizer::DepCurve> curves = d->engine.curves();
    for (const equalizer::DepCurve& c : curves)
        done += c.codes.size();
    const int from = from_->value(), to = to_->value(), step = std::max(step_->value(), 1);
    const size_t perDac = to >= from ? static_cast<size_t>((to - from) / step + 1) : 1;
    const size_t total = std::max<size_t>(curves.size() * perDac, 1);
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
    plot()->setAutoScaleX(true);
    plot()->setAutoScaleY(true);
    plot()->redrawNow();
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
    if (yMax == yMin)
        yMax = yMin + 1;
    const QRect plot = area.adjusted(60, 20, -20, -40);
    p.setPen(Qt::black);
    p.drawRect(plot);
    p.drawText(QRect(plot.left(), plot.bottom() + 4, plot.width(), 16), Qt::AlignLeft, QString::number(xMin));
    p.drawText(QRect(plot.left(), plot.bottom() + 4, plot.width(), 16), Qt::AlignRight, QString::number(xMax));
    p.drawText(QRect(area.left(), plot.bottom() - 8, 56, 16), Qt::AlignRight, QString::number(yMin, 'g', 4));
    p.drawText(QRect(area.left(), plot.top() - 8, 56, 16), Qt::AlignRight, QString::number(yMax, 'g', 4));
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
