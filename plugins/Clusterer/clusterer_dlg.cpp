#include "clusterer_dlg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>

#include "clust_folder.h"
#include "clusterer_data.h"
#include "pluginfw/plugin_table.h"
#include "pluginfw/plugin_window.h"
#include "platform/ini.h"
#include "uikit/chain_combo.h"
#include "uikit/message_box.h"
#include "uikit/picture.h"
#include "uikit/plot2d.h"

namespace {

// Colours (blue, green, red) of the rendered frame: nothing, each class, a cluster the filter left out,
// the highlighted cluster.
constexpr uint8_t kClassBgr[kClassCount][3] = {
    {0, 0, 0}, {80, 220, 80}, {230, 200, 40}, {40, 220, 230}, {60, 60, 235}, {220, 80, 220}, {235, 120, 40},
};
constexpr uint8_t kFilteredOutBgr[3] = {90, 90, 90};
constexpr uint8_t kHighlightBgr[3] = {255, 255, 255};

// The spectra the plot can show, in the order of its chooser, with the setting that turns each on.
struct ShownSpectrum {
    const char* name;
    const char* key;
    bool ClustSettings::*flag;
};
const ShownSpectrum kShownSpectra[] = {
    {"Size spectrum, all clusters", "GlobalSizeSpectAll", &ClustSettings::GlobalSizeSpectAll},
    {"Size spectrum, filtered clusters", "GlobalSizeSpectValid", &ClustSettings::GlobalSizeSpectValid},
    {"Volume spectrum, all clusters", "GlobalVolSpectAll", &ClustSettings::GlobalVolSpectAll},
    {"Volume spectrum, filtered clusters", "GlobalVolSpectValid", &ClustSettings::GlobalVolSpectValid},
};

bool anySpectrumOn(const ClustSettings& s)
{
    return s.GlobalSizeSpectAll || s.GlobalSizeSpectValid || s.GlobalVolSpectAll || s.GlobalVolSpectValid ||
           s.GlobalVolSpectCustSize || s.PerPixVolSpectValid;
}

QString number(double v) { return QString::number(v, 'g', 6); }

} // namespace

CClusterDlg::CClusterDlg(int devId) : devId_(devId) { setObjectName(QStringLiteral("ClusterDlg")); }

CClusterDlg::~CClusterDlg()
{
    if (folderJob_) {
        folderJob_->requestAbort();
        waitForThread(*folderJob_);
    }
    if (ClusterData* d = data())
        d->analysis->setDisplay(false);
}

ClusterData* CClusterDlg::data() const { return findClusterData(devId_); }

bool CClusterDlg::Create()
{
    ClusterData* d = data();
    if (!d)
        return false;
    ClustAnalData& a = *d->analysis;

    auto* chainLabel = new QLabel(QStringLiteral("Filter chain:"), this);
    chainLabel->setGeometry(8, 10, 80, 20);
    chains_ = new CComboBoxFilterChains(pluginTable(), this);
    chains_->setObjectName(QStringLiteral("chain"));
    chains_->setGeometry(90, 8, 210, 24);
    chains_->fillChains();
    for (int i = 0; i < chains_->count(); ++i)
        if (chains_->itemData(i).toInt() == a.chain())
            chains_->setCurrentIndex(i);
    auto takeChain = [this] {
        if (ClusterData* dd = data()) {
            const int id = chains_->selectedChainId();
            dd->analysis->setChain(id > 0 ? id : -1);
        }
    };
    connect(chains_, &QComboBox::currentIndexChanged, this, takeChain);
    connect(chains_, &CComboBoxFilterChains::chainChanged, this, takeChain);

    settings_ = new QTableWidget(static_cast<int>(clustSettingKeys().size()), 2, this);
    settings_->setObjectName(QStringLiteral("settings"));
    settings_->setHorizontalHeaderLabels({QStringLiteral("Setting"), QStringLiteral("Value")});
    settings_->verticalHeader()->hide();
    settings_->horizontalHeader()->setStretchLastSection(true);
    settings_->setColumnWidth(0, 190);
    settings_->verticalHeader()->setDefaultSectionSize(20);
    settings_->setGeometry(8, 40, 292, 400);
    fillSettings(a.settings());
    apply_ = new QPushButton(QStringLiteral("Apply settings"), this);
    apply_->setObjectName(QStringLiteral("apply"));
    apply_->setAutoDefault(false);
    apply_->setGeometry(8, 446, 140, 26);
    connect(apply_, &QPushButton::clicked, this, &CClusterDlg::applySettings);

    auto* listLabel = new QLabel(QStringLiteral("Cluster list file:"), this);
    listLabel->setGeometry(8, 480, 200, 20);
    listFile_ = new QLineEdit(QString::fromStdString(a.listBase()), this);
    listFile_->setObjectName(QStringLiteral("listFile"));
    listFile_->setGeometry(8, 502, 256, 24);
    connect(listFile_, &QLineEdit::editingFinished, this, [this] {
        if (ClusterData* dd = data())
            dd->analysis->setListBase(listFile_->text().toStdString());
    });
    auto* browseList = new QPushButton(QStringLiteral("..."), this);
    browseList->setAutoDefault(false);
    browseList->setGeometry(268, 502, 32, 24);
    connect(browseList, &QPushButton::clicked, this, &CClusterDlg::chooseListBase);

    struct Command {
        const char* text;
        const char* name;
        void (CClusterDlg::*slot)();
    };
    const Command commands[] = {
        {"Write spectra...", "writeSpectra", &CClusterDlg::chooseSpectraFile},
        {"Write cluster list...", "writeList", &CClusterDlg::chooseListFile},
        {"Clear", "clear", &CClusterDlg::clearAll},
        {"Process folder...", "processFolder", &CClusterDlg::chooseFolder},
    };
    for (size_t i = 0; i < std::size(commands); ++i) {
        const Command& c = commands[i];
        auto* b = new QPushButton(QString::fromLatin1(c.text), this);
        b->setObjectName(QString::fromLatin1(c.name));
        b->setAutoDefault(false);
        b->setGeometry(8 + static_cast<int>(i % 2) * 148, 536 + static_cast<int>(i / 2) * 32, 144, 26);
        connect(b, &QPushButton::clicked, this, c.slot);
        if (c.slot == &CClusterDlg::chooseFolder)
            folderButton_ = b;
    }
    folderState_ = new QLabel(this);
    folderState_->setObjectName(QStringLiteral("folderState"));
    folderState_->setGeometry(8, 600, 292, 20);

    picture_ = new CPicture(this);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setGeometry(310, 8, 400, 432);
    picture_->setDrawBorder(true);
    connect(picture_, &CPicture::contextMenuRequested, this, [this](const QPoint&, int x, int yy) {
        if (x < 0 || yy < 0 || x >= view_.width || yy >= view_.height)
            return;
        const int label = view_.labels[static_cast<size_t>(yy) * static_cast<size_t>(view_.width) +
                                       static_cast<size_t>(x)];
        if (label >= 0)
            selectCluster(label);
    });

    counts_ = new QTableWidget(kClassCount - 1, 3, this);
    counts_->setObjectName(QStringLiteral("counts"));
    counts_->setHorizontalHeaderLabels(
        {QStringLiteral("This frame"), QStringLiteral("Total, all"), QStringLiteral("Total, filtered")});
    for (int c = 1; c < kClassCount; ++c) {
        counts_->setVerticalHeaderItem(c - 1, new QTableWidgetItem(QString::fromLatin1(clusterClassLabel(c))));
        for (int col = 0; col < 3; ++col) {
            auto* item = new QTableWidgetItem(QStringLiteral("0"));
            item->setFlags(Qt::ItemIsEnabled);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            counts_->setItem(c - 1, col, item);
        }
    }
    counts_->verticalHeader()->setDefaultSectionSize(20);
    counts_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    counts_->setGeometry(720, 8, 392, 170);

    spectrumChoice_ = new QComboBox(this);
    spectrumChoice_->setObjectName(QStringLiteral("spectrum"));
    for (const ShownSpectrum& shown : kShownSpectra)
        spectrumChoice_->addItem(QString::fromLatin1(shown.name));
    spectrumChoice_->setGeometry(720, 186, 392, 24);
    connect(spectrumChoice_, &QComboBox::currentIndexChanged, this, &CClusterDlg::showSpectrum);
    spectrumState_ = new QLabel(this);
    spectrumState_->setObjectName(QStringLiteral("spectrumState"));
    spectrumState_->setGeometry(720, 212, 392, 20);
    plot_ = new Plot2D(this);
    plot_->setObjectName(QStringLiteral("plot"));
    plot_->setGeometry(720, 234, 392, 206);

    auto* clusterLabel = new QLabel(QStringLiteral("Cluster:"), this);
    clusterLabel->setGeometry(310, 450, 60, 20);
    clusterIndex_ = new QSpinBox(this);
    clusterIndex_->setObjectName(QStringLiteral("cluster"));
    clusterIndex_->setRange(-1, -1);
    clusterIndex_->setSpecialValueText(QStringLiteral("none"));
    clusterIndex_->setGeometry(372, 448, 90, 24);
    connect(clusterIndex_, &QSpinBox::valueChanged, this, [this](int) {
        refreshProperties();
        renderFrame();
    });
    auto* hint = new QLabel(QStringLiteral("(right-click a cluster in the frame)"), this);
    hint->setGeometry(470, 450, 240, 20);
    properties_ = new QLabel(this);
    properties_->setObjectName(QStringLiteral("properties"));
    properties_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    properties_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    properties_->setGeometry(310, 478, 802, 150);

    addDlgItem(settings_, ANCHOR_STRETCH_H);
    for (QWidget* w : {static_cast<QWidget*>(apply_), static_cast<QWidget*>(listLabel),
                       static_cast<QWidget*>(listFile_), static_cast<QWidget*>(browseList),
                       static_cast<QWidget*>(folderState_)})
        addDlgItem(w, ANCHOR_MOVE_Y);
    for (QPushButton* b : findChildren<QPushButton*>())
        if (b != apply_ && b != browseList)
            addDlgItem(b, ANCHOR_MOVE_Y);
    addDlgItem(picture_, ANCHOR_STRETCH_W | ANCHOR_STRETCH_H);
    addDlgItem(counts_, ANCHOR_MOVE_X);
    addDlgItem(spectrumChoice_, ANCHOR_MOVE_X);
    addDlgItem(spectrumState_, ANCHOR_MOVE_X);
    addDlgItem(plot_, ANCHOR_MOVE_X | ANCHOR_STRETCH_H);
    for (QWidget* w : {static_cast<QWidget*>(clusterLabel), static_cast<QWidget*>(clusterIndex_),
                       static_cast<QWidget*>(hint)})
        addDlgItem(w, ANCHOR_MOVE_Y);
    addDlgItem(properties_, ANCHOR_MOVE_Y | ANCHOR_STRETCH_W);
    setMinimumSize(900, 560);
    resize(1120, 636);
    OnInitDialog();
    owner()->loadWindowPos(PlacementForm::MoveAndSize);
    refresh();
    return true;
}

void CClusterDlg::showEvent(QShowEvent* event)
{
    CPluginDlg::showEvent(event);
    if (ClusterData* d = data())
        d->analysis->setDisplay(true);
}

void CClusterDlg::hideEvent(QHideEvent* event)
{
    if (ClusterData* d = data())
        d->analysis->setDisplay(false);
    CPluginDlg::hideEvent(event);
}

void CClusterDlg::OnClose()
{
    if (ClusterData* d = data()) {
        d->analysis->setListBase(listFile_->text().toStdString());
        d->saveToIni();
    }
    CPluginDlg::OnClose();
}

void CClusterDlg::fillSettings(const ClustSettings& s)
{
    const auto& keys = clustSettingKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        auto* name = new QTableWidgetItem(QString::fromLatin1(keys[i].name));
        name->setFlags(Qt::ItemIsEnabled);
        settings_->setItem(static_cast<int>(i), 0, name);
        settings_->setItem(static_cast<int>(i), 1, new QTableWidgetItem(QString::fromStdString(keys[i].get(s))));
    }
}

void CClusterDlg::applySettings()
{
    ClusterData* d = data();
    if (!d)
        return;
    ClustAnalData& a = *d->analysis;
    ClustSettings wanted = a.settings();
    std::vector<std::string> refused;
    const auto& keys = clustSettingKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        const QTableWidgetItem* item = settings_->item(static_cast<int>(i), 1);
        const std::string text = item ? item->text().trimmed().toStdString() : std::string();
        if (!keys[i].set(wanted, text))
            refused.push_back(std::string(keys[i].name) + ": \"" + text + "\" is no value of this setting.");
    }
    for (const std::string& r : a.setSettings(wanted))
        refused.push_back(r);
    fillSettings(a.settings());
    d->saveToIni();
    refresh();
    if (!refused.empty()) {
        QString text = QStringLiteral("These settings were not taken and keep their values:");
        for (const std::string& r : refused)
            text += QStringLiteral("\n") + QString::fromStdString(r);
        messageBox(this, text, QString::fromLatin1(kToolName), MSGBOX_ICONWARNING);
    }
}

void CClusterDlg::refresh()
{
    Q_ASSERT(QThread::currentThread() == thread());
    ClusterData* d = data();
    if (!d)
        return;
    ClustAnalData& a = *d->analysis;
    view_ = a.view();
    const ClustTotals totals = a.totals();
    for (int c = 1; c < kClassCount; ++c) {
        counts_->item(c - 1, 0)->setText(QString::number(view_.counts[c]));
        counts_->item(c - 1, 1)->setText(QString::number(totals.all[c]));
        counts_->item(c - 1, 2)->setText(QString::number(totals.valid[c]));
    }
    int clusters = 0;
    for (int32_t l : view_.labels)
        clusters = std::max(clusters, l + 1);
    const int keep = clusterIndex_->value();
    {
        const QSignalBlocker block(clusterIndex_);
        clusterIndex_->setRange(-1, clusters - 1);
        clusterIndex_->setValue(keep < clusters ? keep : -1);
    }
    refreshProperties();
    renderFrame();
    refreshSpectrum();
}

void CClusterDlg::renderFrame()
{
    if (view_.width <= 0 || view_.height <= 0) {
        picture_->setImage(0, 0, nullptr, 0, false);
        return;
    }
    const int w = view_.width, h = view_.height;
    const int stride = (3 * w + 3) / 4 * 4;
    const bool sizeChanged = picture_->imageWidth() != w || picture_->imageHeight() != h;
    std::shared_ptr<uint8_t[]> bits(new uint8_t[static_cast<size_t>(stride) * static_cast<size_t>(h)]());
    const int highlight = clusterIndex_->value();
    // Row 0 of the frame is shown at the bottom; the rows of the bitmap run from the top.
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bits.get() + static_cast<size_t>(h - 1 - y) * static_cast<size_t>(stride);
        for (int x = 0; x < w; ++x) {
            const size_t p = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            const int label = view_.labels[p];
            const int cls = view_.classes[p];
            const uint8_t* bgr = label < 0                  ? kClassBgr[0]
                                 : label == highlight        ? kHighlightBgr
                                 : cls > 0 && cls < kClassCount ? kClassBgr[cls]
                                                             : kFilteredOutBgr;
            std::copy(bgr, bgr + 3, row + 3 * x);
        }
    }
    picture_->setImage(w, h, std::move(bits), stride, sizeChanged);
}

void CClusterDlg::selectCluster(int index) { clusterIndex_->setValue(index); }

void CClusterDlg::refreshProperties()
{
    ClusterData* d = data();
    ClusterProps p;
    const int index = clusterIndex_->value();
    if (!d || index < 0 || d->analysis->clusterProperties(-1, index, &p) != 0) {
        properties_->setText(QStringLiteral("Frame: %1 clusters passed the filter, %2 did not.")
                                 .arg(view_.passed)
                                 .arg(view_.failed));
        return;
    }
    const QString cls = p.clusterClass > 0 && p.clusterClass < kClassCount
                            ? QString::fromLatin1(clusterClassLabel(p.clusterClass))
                            : QStringLiteral("none");
    properties_->setText(
        QStringLiteral("Cluster %1: %2\n"
                       "Size %3 pixels, volume %4, lowest %5, highest %6\n"
                       "Centroid (%7, %8), centre (%9, %10), extent %11 x %12, diameter %13\n"
                       "Perimeter %14, inner pixels %15\n"
                       "Hough peak: height %16, angle %17 degrees, distance %18")
            .arg(index)
            .arg(cls)
            .arg(p.size)
            .arg(number(p.volume), number(p.lowest), number(p.highest), number(p.centroidX), number(p.centroidY),
                 number(p.meanX), number(p.meanY))
            .arg(p.xExtent)
            .arg(p.yExtent)
            .arg(number(p.diameter))
            .arg(p.perimeter)
            .arg(p.innerCount)
            .arg(p.houghHeight)
            .arg(number(p.houghAngleDeg), number(p.houghDistance)));
}

void CClusterDlg::showSpectrum(int choice)
{
    spectrum_ = std::clamp(choice, 0, static_cast<int>(VolumeValid));
    if (spectrumChoice_->currentIndex() != spectrum_)
        spectrumChoice_->setCurrentIndex(spectrum_);
    refreshSpectrum();
}

void CClusterDlg::refreshSpectrum()
{
    ClusterData* d = data();
    if (!d)
        return;
    // A spectrum is only gathered while its setting is on, and all are off by default: each one that is off
    // says so in the chooser, and the line under it says how to turn the shown one on.
    const ClustSettings settings = d->analysis->settings();
    for (int i = 0; i < static_cast<int>(std::size(kShownSpectra)); ++i) {
        const ShownSpectrum& shown = kShownSpectra[i];
        const QString name = QString::fromLatin1(shown.name);
        spectrumChoice_->setItemText(i, settings.*shown.flag ? name : name + QStringLiteral(" (off)"));
    }
    const ShownSpectrum& chosen = kShownSpectra[spectrum_];
    spectrumState_->setText(settings.*chosen.flag
                                ? QString()
                                : QStringLiteral("This spectrum is off: set %1 to 1 and press Apply settings.")
                                      .arg(QString::fromLatin1(chosen.key)));
    const bool valid = spectrum_ == SizeValid || spectrum_ == VolumeValid;
    const Spectrum s = spectrum_ <= SizeValid ? d->analysis->sizeSpectrum(valid) : d->analysis->volumeSpectrum(valid);
    plot_->clearSeries();
    if (!s.bins.empty()) {
        const std::vector<double> values(s.bins.begin(), s.bins.end());
        plot_->addValueSeries(values, s.from, s.step);
    }
    plot_->redrawNow();
}

int CClusterDlg::writeSpectra(const QString& base)
{
    ClusterData* d = data();
    if (!d || base.isEmpty())
        return -1;
    const int rc = d->analysis->writeSpectra(base.toStdString());
    if (rc != 0)
        messageBox(this, QStringLiteral("Not every spectrum file could be written; the log says which."),
                   QString::fromLatin1(kToolName), MSGBOX_ICONERROR);
    return rc;
}

int CClusterDlg::writeClusterList(const QString& path)
{
    ClusterData* d = data();
    if (!d || path.isEmpty())
        return -1;
    return d->analysis->writeClusterList(path.toStdString(), -1, false);
}

void CClusterDlg::clearAll()
{
    if (ClusterData* d = data())
        d->analysis->clear();
    refresh();
}

bool CClusterDlg::processFolder(const QString& folder)
{
    ClusterData* d = data();
    if (!d || folderRunning())
        return false;
    QPointer<CClusterDlg> self(this);
    folderJob_ = std::make_unique<ClustFolderJob>(*d->analysis, folder.toStdString(), [self](int done, int total) {
        QMetaObject::invokeMethod(
            self.data(), [self, done, total] { if (self) self->folderProgress(done, total); }, Qt::QueuedConnection);
    });
    if (!folderJob_->start()) {
        folderJob_.reset();
        return false;
    }
    folderButton_->setText(QStringLiteral("Abort"));
    folderState_->setText(QStringLiteral("Reading the folder..."));
    return true;
}

bool CClusterDlg::folderRunning() const { return folderJob_ && folderJob_->isRunning(); }

void CClusterDlg::folderProgress(int done, int total)
{
    if (!folderJob_)
        return;
    folderState_->setText(QStringLiteral("%1 of %2 files").arg(done).arg(total));
    refresh();
    if (done >= total) // the last report of the worker, also after an abort
        folderFinished();
}

void CClusterDlg::folderFinished()
{
    waitForThread(*folderJob_);
    const int analysed = folderJob_->thread().exitCode();
    const int failed = folderJob_->failed();
    folderJob_.reset();
    folderButton_->setText(QStringLiteral("Process folder..."));
    folderState_->setText(analysed < 0 ? QStringLiteral("The folder could not be read.")
                                       : QStringLiteral("%1 files analysed, %2 skipped.").arg(analysed).arg(failed));
    refresh();
}

void CClusterDlg::chooseSpectraFile()
{
    ClusterData* d = data();
    if (!d)
        return;
    if (!anySpectrumOn(d->analysis->settings())) {
        messageBox(this,
                   QStringLiteral("No spectrum is on, so there is nothing to write. Set one of GlobalSizeSpectAll, "
                                  "GlobalSizeSpectValid, GlobalVolSpectAll, GlobalVolSpectValid, "
                                  "GlobalVolSpectCustSize or PerPixVolSpectValid to 1 and press Apply settings; "
                                  "the spectra gather the frames analysed from then on."),
                   QString::fromLatin1(kToolName), MSGBOX_ICONINFORMATION);
        return;
    }
    const QString base = QFileDialog::getSaveFileName(this, QStringLiteral("Write spectra"), listFile_->text());
    if (!base.isEmpty())
        writeSpectra(base);
}

void CClusterDlg::chooseListFile()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Write cluster list"), QString(),
                                                      QStringLiteral("Text files (*.txt);;All files (*)"));
    if (!path.isEmpty())
        writeClusterList(path);
}

void CClusterDlg::chooseListBase()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Cluster list file"), listFile_->text());
    if (path.isEmpty())
        return;
    listFile_->setText(path);
    if (ClusterData* d = data())
        d->analysis->setListBase(path.toStdString());
}

void CClusterDlg::chooseFolder()
{
    if (folderRunning()) {
        folderJob_->requestAbort();
        return;
    }
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Process folder"));
    if (!folder.isEmpty())
        processFolder(folder);
}
