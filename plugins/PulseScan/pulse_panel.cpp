#include "pulse_panel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "chart/bitmap_view.h"
#include "chart/chart_2d.h"
#include "pulse_files.h"
#include "pulse_settings.h"
#include "uikit/message_box.h"

namespace {

// The numeric settings in the order the window lists them, with their labels.
struct Field {
    const char* key;
    const char* label;
};
const Field kFields[] = {
    {pulsekey::BaselineOffset, "Baseline offset:"},
    {pulsekey::ShapeHistory, "Pulse shapes shown:"},
    {pulsekey::SpectrumScale, "Spectrum y scale:"},
    {pulsekey::ClusterThreshold, "Cluster threshold:"},
    {pulsekey::MinClusterSize, "Min. cluster size:"},
    {pulsekey::MinRoundness, "Min. roundness:"},
    {pulsekey::EnhanceFactor, "Resolution enhancement factor:"},
    {pulsekey::OverlapLevel, "Cluster overlap level (0 = off):"},
};

// A chart whose ranges, until data come, are those of the quantity it shows (the data then scale it).
CChart2d* makeChart(const char* title, const char* xLabel, const char* yLabel, double xMax, double yMax,
                    QWidget* parent)
{
    auto* chart = new CChart2d(parent);
    chart->setLabels(title, xLabel, yLabel);
    chart->setMinimumSize(220, 160);
    chart->xMin = 0.0;
    chart->xMax = xMax;
    chart->yMin = 0.0;
    chart->yMax = yMax;
    return chart;
}

// Shows one series of the results (a copy of its points) and scales the chart to it.
void showSeries(CChart2d& chart, const ChartSeries& from)
{
    chart.series.clear();
    if (from.count() > 0) {
        auto s = std::make_unique<ChartSeries>();
        s->points = from.points;
        chart.series.push_back(std::move(s));
    }
    chart.autoScale();
    chart.update();
}

template <typename T>
void showImage(CBitmapView& view, const PulseImage<T>& image)
{
    if (image.width > 0 && image.height > 0)
        view.setImage(image.values.data(), image.width, image.height, 0, 0);
}

QWidget* captioned(const char* caption, QWidget* content, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QString::fromUtf8(caption), box));
    layout->addWidget(content, 1);
    content->setParent(box);
    return box;
}

} // namespace

PulseScanPanel::PulseScanPanel(std::shared_ptr<PulseDevice> device, std::string settingsFile, unsigned width,
                               unsigned height, QWidget* parent)
    : QWidget(parent), device_(std::move(device)), settingsFile_(std::move(settingsFile)), width_(width), height_(height)
{
    build();
    if (device_->running()) { // a measurement that went on while the window was closed keeps its settings
        showSettings(device_->settings());
        start_->setText(QStringLiteral("Stop"));
    } else {
        const PulseSettings settings = loadPulseSettings(settingsFile_);
        device_->setSettings(settings);
        showSettings(settings);
    }
    // Posted from the acquisition's thread; the handler is removed before this window goes.
    device_->setRefreshHandler([this](unsigned) {
        QMetaObject::invokeMethod(this, [this] { refresh(); }, Qt::QueuedConnection);
    });
    device_->windowOpen = true;
    refresh();
}

PulseScanPanel::~PulseScanPanel()
{
    device_->windowOpen = false;
    device_->setRefreshHandler(nullptr);
}

void PulseScanPanel::build()
{
    input_ = new QLabel(this);
    input_->setObjectName(QStringLiteral("input"));
    input_->setWordWrap(true);
    input_->setMaximumWidth(280);
    auto* settingsBox = new QGroupBox(QStringLiteral("Settings"), this);
    auto* form = new QGridLayout(settingsBox);
    baseline_ = new QCheckBox(QStringLiteral("Baseline subtraction"), settingsBox);
    form->addWidget(baseline_, 0, 0, 1, 2);
    int row = 1;
    for (const Field& f : kFields) {
        auto* edit = new QLineEdit(settingsBox);
        edit->setObjectName(QString::fromUtf8(f.key));
        edit->setMaximumWidth(90);
        form->addWidget(new QLabel(QString::fromUtf8(f.label), settingsBox), row, 0);
        form->addWidget(edit, row, 1);
        edits_[f.key] = edit;
        ++row;
    }
    start_ = new QPushButton(QStringLiteral("Start measurement"), this);
    save_ = new QPushButton(QStringLiteral("Save..."), this);
    start_->setObjectName(QStringLiteral("start"));
    save_->setObjectName(QStringLiteral("save"));
    counters_ = new QLabel(this);
    counters_->setObjectName(QStringLiteral("counters"));
    counters_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(start_, &QPushButton::clicked, this, [this] { toggleMeasurement(); });
    connect(save_, &QPushButton::clicked, this, [this] { chooseFolderAndSave(); });

    auto* left = new QVBoxLayout;
    left->addWidget(input_);
    left->addWidget(settingsBox);
    left->addWidget(start_);
    left->addWidget(save_);
    left->addWidget(counters_, 1);

    shape_ = makeChart("Back side pulse shape", "Sample", "Amplitude", kScopeBufferBytes / 2, 4096, this);
    shape_->pointStyle = ChartModel::Polyline;
    shape_->colorMode = 1; // the newest pulse black, older ones fading
    shape_->showLegend = false;
    spectrum_ = makeChart("Back side pulse spectrum", "Pulse height", "Count", kSpectrumSize - 1, 5, this);
    spectrum_->showLegend = false;
    sizes_ = makeChart("Cluster size distribution", "Cluster size", "Count", 20, 10, this);
    roundness_ = makeChart("Cluster shape", "Roundness", "Count", 1, 10, this);
    countView_ = new CBitmapView(this);
    coincidenceView_ = new CBitmapView(this);
    enhancedView_ = new CBitmapView(this);
    for (CBitmapView* v : {countView_, coincidenceView_, enhancedView_})
        v->setMinimumSize(128, 128);

    auto* grid = new QGridLayout;
    grid->addWidget(shape_, 0, 0, 1, 3);
    grid->addWidget(spectrum_, 0, 3, 1, 3);
    grid->addWidget(sizes_, 1, 0, 1, 3);
    grid->addWidget(roundness_, 1, 3, 1, 3);
    grid->addWidget(captioned("Cluster count", countView_, this), 2, 0, 1, 2);
    grid->addWidget(captioned("Coincidences", coincidenceView_, this), 2, 2, 1, 2);
    grid->addWidget(captioned("Enhanced cluster count", enhancedView_, this), 2, 4, 1, 2);
    for (int r = 0; r < 3; ++r)
        grid->setRowStretch(r, 1);
    for (int c = 0; c < 6; ++c)
        grid->setColumnStretch(c, 1);

    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addLayout(grid, 1);
}

QLineEdit* PulseScanPanel::edit(const std::string& key) const
{
    const auto it = edits_.find(key);
    return it == edits_.end() ? nullptr : it->second;
}

void PulseScanPanel::showSettings(const PulseSettings& settings)
{
    baseline_->setChecked(settings.baselineOn);
    for (const auto& [key, text] : pulseSettingTexts(settings))
        if (QLineEdit* e = edit(key))
            e->setText(QString::fromStdString(text));
}

bool PulseScanPanel::applySettings()
{
    PulseSettingTexts texts;
    texts.emplace(pulsekey::BaselineOn, std::string(baseline_->isChecked() ? "1" : "0"));
    for (const auto& [key, e] : edits_)
        texts.emplace(key, e->text().toStdString());
    const PulseSettingsCheck check = checkPulseSettings(texts, device_->settings(), width_, height_);
    if (!check.error.empty()) {
        if (QLineEdit* e = edit(check.key)) {
            e->setFocus();
            e->selectAll();
        }
        messageBox(this, QString::fromStdString(check.error), QString(), MSGBOX_OK | MSGBOX_ICONWARNING);
        return false;
    }
    device_->setSettings(check.settings);
    std::string error;
    if (!settingsFile_.empty() && savePulseSettings(settingsFile_, check.settings, &error) != 0)
        messageBox(this, QString::fromStdString(error), QString(), MSGBOX_OK | MSGBOX_ICONWARNING);
    return true;
}

void PulseScanPanel::toggleMeasurement()
{
    if (device_->running()) {
        device_->stop();
        start_->setText(QStringLiteral("Start measurement"));
        return;
    }
    if (!applySettings())
        return;
    device_->start(device_->settings());
    start_->setText(QStringLiteral("Stop"));
}

bool PulseScanPanel::saveResults(const std::string& folder)
{
    std::string error;
    if (savePulseResults(folder, device_->takeResults(), &error) != 0) {
        messageBox(this, QString::fromStdString(error), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
        return false;
    }
    return true;
}

namespace {
std::string& folderForTests()
{
    static std::string folder;
    return folder;
}
} // namespace

void PulseScanPanel::setFolderForTests(const std::string& folder)
{
    folderForTests() = folder;
}

void PulseScanPanel::chooseFolderAndSave()
{
    if (!folderForTests().empty()) {
        saveResults(folderForTests());
        return;
    }
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Save results into"));
    if (!folder.isEmpty())
        saveResults(folder.toStdString());
}

QString PulseScanPanel::countersText() const
{
    return counters_->text();
}

QString PulseScanPanel::inputText() const
{
    return input_->text();
}

void PulseScanPanel::refresh()
{
    Q_ASSERT(QThread::currentThread() == thread());
    const PulseResults r = device_->takeResults();
    const bool scopeSeen = device_->scopeSeen(); // after the pending refresh was cleared: a later change asks again
    const PulseCounters& c = r.counters;
    input_->setText(scopeSeen ? QStringLiteral("Input: the back-side pulse that each frame carries as \"Scope data\" "
                                               "(USB readout box, \"ScopeOnTrg\" on).")
                              : QStringLiteral("Waiting for frames with \"Scope data\": none has come from this "
                                               "device yet. Only the USB readout box attaches the back-side pulse "
                                               "to its frames, while its setting \"ScopeOnTrg\" is on."));
    counters_->setText(QStringLiteral("Pulses: %1\nLast pulse height: %2\nClusters: %3\nOverlapping: %4\n"
                                      "Too small: %5\nNot round: %6\nAccepted: %7\nCoincidences: %8")
                           .arg(c.pulses).arg(r.lastPulseHeight).arg(c.seen).arg(c.flagged).arg(c.tooSmall)
                           .arg(c.notRound).arg(c.accepted).arg(c.coincidences));

    shape_->series.clear();
    for (const auto& samples : r.shapes)
        shape_->series.push_back(std::make_unique<ChartSeries>(static_cast<unsigned>(samples.size()), 0.0, 1.0,
                                                               samples.data()));
    shape_->autoScale();
    shape_->update();

    showSeries(*spectrum_, r.spectrum);
    spectrum_->setRange(false, 0, kSpectrumSize - 1, 0, r.spectrumMax * device_->settings().spectrumScale + 5);
    showSeries(*sizes_, r.sizes);
    showSeries(*roundness_, r.roundness);

    showImage(*countView_, r.count);
    showImage(*coincidenceView_, r.coincidence);
    showImage(*enhancedView_, r.enhancedCount);
}
