#include "probing_dlg.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QApplication>

#include "probe_data.h"
#include "uikit/message_box.h"

namespace {

constexpr int kDieSide = 14; // pixels of a die in the window's map

QColor colourOf(char state)
{
    switch (state) {
    case 'A': return QColor(0x4c, 0xaf, 0x50);
    case 'B': return QColor(0xa5, 0xd6, 0xa7);
    case 'C': return QColor(0xff, 0xeb, 0x3b);
    case 'D': return QColor(0xff, 0x98, 0x00);
    case 'E': return QColor(0xf4, 0x43, 0x36);
    case 'X': return QColor(0x9e, 0x9e, 0x9e);
    default: return QColor(Qt::white);
    }
}

// A form of "key: edit" rows from the settings' entries.
void fillForm(QFormLayout* form, const std::vector<std::pair<std::string, std::string>>& entries,
              std::map<std::string, QLineEdit*>& edits, QWidget* parent)
{
    for (const auto& [key, value] : entries) {
        QLineEdit*& edit = edits[key];
        if (!edit) {
            edit = new QLineEdit(parent);
            edit->setObjectName(QString::fromStdString(key));
            form->addRow(QString::fromStdString(key), edit);
        }
        edit->setText(QString::fromStdString(value));
    }
}

// A form in a scroll area at the end of box.
QFormLayout* addScrolledForm(QVBoxLayout* box, QWidget* parent)
{
    auto* scroll = new QScrollArea(parent);
    auto* host = new QWidget;
    auto* form = new QFormLayout(host);
    scroll->setWidget(host);
    scroll->setWidgetResizable(true);
    box->addWidget(scroll, 2);
    return form;
}

// The edits' texts into settings; the first key whose text is refused, or empty.
template <class Settings>
std::string takeForm(Settings& settings, const std::map<std::string, QLineEdit*>& edits)
{
    for (const auto& [key, edit] : edits)
        if (!settings.set(key, edit->text().trimmed().toStdString()))
            return key;
    return {};
}

} // namespace

WaferMapView::WaferMapView(QWidget* parent) : QWidget(parent) { setMinimumSize(60, 60); }

void WaferMapView::setMap(const std::string& text, int)
{
    rows_.clear();
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        rows_.push_back(text.substr(start, end - start));
    updateGeometry();
    update();
}

QSize WaferMapView::sizeHint() const
{
    const int columns = rows_.empty() ? 1 : static_cast<int>(rows_[0].size());
    return QSize(columns * kDieSide + 2, std::max<int>(1, static_cast<int>(rows_.size())) * kDieSide + 2);
}

void WaferMapView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(Qt::black);
    for (size_t r = 0; r < rows_.size(); ++r)
        for (size_t c = 0; c < rows_[r].size(); ++c) {
            const QRect die(static_cast<int>(c) * kDieSide, static_cast<int>(r) * kDieSide, kDieSide, kDieSide);
            p.fillRect(die, colourOf(rows_[r][c]));
            p.drawRect(die);
        }
}

CProbingDlg::CProbingDlg(int devId) : devId_(devId) {}

CProbingDlg::~CProbingDlg() = default;

ProbeData* CProbingDlg::data() const { return findProbeData(devId_); }

bool CProbingDlg::Create()
{
    auto* top = new QHBoxLayout(this);
    top->setSizeConstraint(QLayout::SetNoConstraint); // the window keeps the size it is given

    auto* station = new QGroupBox("ProbingStation", this);
    auto* stationBox = new QVBoxLayout(station);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel("Wafer name:", station));
    wafer_ = new QLineEdit(station);
    wafer_->setObjectName("WaferName");
    nameRow->addWidget(wafer_);
    start_ = new QPushButton("Start Probing", station);
    nameRow->addWidget(start_);
    stationBox->addLayout(nameRow);
    progress_ = new QLabel("0/0", station);
    progress_->setObjectName("Progress");
    counts_ = new QLabel(station);
    counts_->setObjectName("ClassCounts");
    stationBox->addWidget(progress_);
    stationBox->addWidget(counts_);
    map_ = new WaferMapView(station);
    stationBox->addWidget(map_, 1);
    stationForm_ = addScrolledForm(stationBox, station);
    top->addWidget(station, 1);

    auto* chip = new QGroupBox("Settings", this);
    auto* chipBox = new QVBoxLayout(chip);
    chipForm_ = addScrolledForm(chipBox, chip);
    results_ = new QTreeWidget(chip);
    results_->setColumnCount(2);
    results_->setHeaderLabels({"Result name", "Result value"});
    results_->setRootIsDecorated(false);
    results_->header()->setStretchLastSection(true);
    results_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    chipBox->addWidget(results_, 1);
    top->addWidget(chip, 1);

    loadSettings();
    showProgress(probing::RunProgress{});
    connect(start_, &QPushButton::clicked, this, [this] { startOrAbort(); });
    resize(900, 640);
    owner()->loadWindowPos(PlacementForm::MoveAndSize);
    if (ProbeData* d = data())
        setRunning(d->running());
    return true;
}

void CProbingDlg::loadSettings()
{
    ProbeData* d = data();
    const std::string file = d ? d->loadIniFile : std::string();
    probing::StationSettings station;
    probing::ChipTestSettings chip;
    station.load(file);
    chip.load(file);
    fillForm(stationForm_, station.entries(), stationEdits_, stationForm_->parentWidget());
    fillForm(chipForm_, chip.entries(), chipEdits_, chipForm_->parentWidget());
}

QLineEdit* CProbingDlg::settingEdit(const std::string& key) const
{
    for (const auto* edits : {&stationEdits_, &chipEdits_}) {
        const auto it = edits->find(key);
        if (it != edits->end())
            return it->second;
    }
    return nullptr;
}

bool CProbingDlg::saveSettings()
{
    ProbeData* d = data();
    if (!d)
        return false;
    probing::StationSettings station;
    probing::ChipTestSettings chip;
    station.load(d->loadIniFile);
    chip.load(d->loadIniFile);
    std::string bad = takeForm(station, stationEdits_);
    if (bad.empty())
        bad = takeForm(chip, chipEdits_);
    if (!bad.empty()) {
        ::messageBox(this, QString::fromStdString("Please enter a number for \"" + bad + "\"."), QString(),
                     MSGBOX_OK | MSGBOX_ICONWARNING);
        return false;
    }
    return station.save(d->saveIniFile) == 0 && chip.save(d->saveIniFile) == 0;
}

void CProbingDlg::startOrAbort()
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    ProbeData* d = data();
    if (!d)
        return;
    if (d->running()) {
        d->abortRun();
        return;
    }
    if (!saveSettings())
        return;
    probing::RunConfig cfg;
    cfg.station.load(d->saveIniFile);
    cfg.chip.load(d->saveIniFile);
    cfg.waferName = wafer_->text().toStdString();
    cfg.daqIniPath = ProbeData::daqIniPath();
    const std::string refusal = probing::refusalOf(cfg);
    if (!refusal.empty()) {
        ::messageBox(this, QString::fromStdString(refusal), QString(), MSGBOX_OK | MSGBOX_ICONWARNING);
        return;
    }
    if (cfg.station.feedback && cfg.station.maxOvdSteps > 0 && cfg.station.gpibVDDA <= 0) {
        if (::messageBox(this, "The power supply is not configured (\"GpibVDDA\"). Probe without current feedback?",
                         QString(), MSGBOX_YESNO | MSGBOX_ICONQUESTION) != MSGBOX_IDYES)
            return;
        cfg.station.feedback = 0;
    }
    clearResults();
    if (d->startRun(cfg))
        setRunning(true);
}

void CProbingDlg::setRunning(bool running)
{
    start_->setText(running ? "Abort Probing" : "Start Probing");
    wafer_->setEnabled(!running);
    for (auto* edits : {&stationEdits_, &chipEdits_})
        for (auto& [key, edit] : *edits)
            edit->setEnabled(!running);
}

void CProbingDlg::runEnded() { setRunning(false); }

void CProbingDlg::showResult(const std::string& name, const std::string& value)
{
    const QString key = QString::fromStdString(name);
    for (int i = 0; i < results_->topLevelItemCount(); ++i)
        if (results_->topLevelItem(i)->text(0) == key) {
            results_->topLevelItem(i)->setText(1, QString::fromStdString(value));
            return;
        }
    results_->addTopLevelItem(new QTreeWidgetItem({key, QString::fromStdString(value)}));
}

void CProbingDlg::clearResults() { results_->clear(); }

void CProbingDlg::showProgress(const probing::RunProgress& p)
{
    progress_->setText(QString::asprintf("%d/%d", p.tested, p.total));
    QString counts;
    for (size_t i = 0; i < p.classCounts.size(); ++i)
        counts += QString("%1: %2  ").arg(i < 5 ? QChar('A' + static_cast<int>(i)) : QChar('X')).arg(p.classCounts[i]);
    counts_->setText(counts.trimmed());
    map_->setMap(p.mapText, p.mapColumns);
}
