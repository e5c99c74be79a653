#include "prev_window.h"

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <cstdio>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include "pix_crit_dlg.h"
#include "prev_settings_dlg.h"
#include "platform/fault.h"
#include "platform/text_copy.h"
#include "pluginfw/plugin_window.h"
#include "uikit/chain_combo.h"
#include "uikit/image_saving.h"
#include "uikit/message_box.h"
#include "uikit/picture.h"
#include "uikit/plot2d.h"
#include "uikit/smart_edit.h"

namespace {

constexpr size_t kReportSize = 512;
constexpr unsigned kThresholdLockMs = 500;
constexpr int kInitialWidth = 780, kInitialHeight = 636; // the client area the controls are placed in
const char* const kStatNames[] = {"[X,Y]:", "Count:", "Min:", "Max:", "Total:", "Mean:", "Std. dev.:"};
const char* const kServiceNames[] = {"&Mask Bits", "&Test Bits", "TH&L Adj.", "TH&H Adj.", "M&ode"};
const char* const kUpdateNames[] = {"1 per Second", "2 per Second", "5 per Second", "10 per Second",
                                    "20 per Second", "Unlimited"};
const char* const kModeNames[] = {"Tarvik", "Time over Threshold", "Sarnet 1-hit", "Sarnet"};

std::string formatted(const char* fmt, long long value)
{
    char text[256];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

} // namespace

template <typename Work>
bool CPreviewDialog::guarded(Work&& work)
{
    try {
        work();
        return true;
    } catch (const std::exception&) {
        reportUnhandled(std::current_exception());
    }
    return false;
}

template <typename Fn>
auto CPreviewDialog::guardedSlot(Fn fn)
{
    // Callable with the arguments fn takes only, so that a signal passes just those.
    return [this, fn = std::move(fn)](auto&&... args)
               requires std::invocable<const Fn&, decltype(args)...>
    {
        guarded([&] { fn(std::forward<decltype(args)>(args)...); });
    };
}

CPreviewDialog::CPreviewDialog(const _MgrFuncTable* mgr, std::shared_ptr<PreviewState> state)
    : CResizeableDlg(nullptr, Qt::Window), mgr_(mgr), state_(std::move(state)), model_(mgr)
{
    setWindowTitle(QStringLiteral("Preview"));
    setAcceptDrops(true);
    settings_.load(state_->iniPath());
    buildControls();
    buildMenus();
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this] {
        guarded([this] {
            if (state_->refreshPending())
                refreshFromDevice();
        });
    });
    resize(kInitialWidth, kInitialHeight);
}

CPreviewDialog::~CPreviewDialog()
{
    closeOwnedFrame();
    if (settings_.save(state_->iniPath()) != 0 && mgr_ && mgr_->mgrLogMsg)
        mgr_->mgrLogMsg("tvkctrlui", "%s", 0, "Preview settings could not be written.");
    model_.setPicture(nullptr);
}

void CPreviewDialog::buildControls()
{
    auto label = [this](const char* text, int x, int y, int w) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setGeometry(x, y, w, 22);
        return l;
    };
    auto check = [this](const char* text, const char* name, int x, int y, int w, int checked) {
        auto* c = new QCheckBox(QString::fromUtf8(text), this);
        c->setObjectName(QString::fromUtf8(name));
        c->setGeometry(x, y, w, 22);
        c->setChecked(checked != 0);
        return c;
    };
    auto pushCheck = [this](const char* text, const char* name, int x, int y, int w, int checked) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setObjectName(QString::fromUtf8(name));
        b->setCheckable(true);
        b->setChecked(checked != 0);
        b->setGeometry(x, y, w, 24);
        return b;
    };
    auto edit = [this](const char* name, int mode, int x, int y, int w) {
        auto* e = new CSmartEdit(this);
        e->setObjectName(QString::fromUtf8(name));
        e->setMode(mode);
        e->setGeometry(x, y, w, 22);
        return e;
    };
    auto slider = [this](const char* name, int y) {
        auto* s = new QSlider(Qt::Horizontal, this);
        s->setObjectName(QString::fromUtf8(name));
        s->setRange(0, kSliderRange);
        s->setGeometry(520, y, 252, 20);
        return s;
    };

    menuBar_ = new QMenuBar(this);
    menuBar_->setGeometry(0, 0, 780, 24);
    picture_ = new CPicture(this);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setGeometry(8, 30, 504, 598);

    label("Frame:", 520, 30, 44);
    frameEdit_ = edit("frameEdit", SmartEditValue::MODE_INT, 566, 30, 62);
    frameSpin_ = new QScrollBar(Qt::Vertical, this);
    frameSpin_->setObjectName(QStringLiteral("frameSpin"));
    frameSpin_->setGeometry(630, 30, 16, 22);
    frameSpin_->setInvertedAppearance(true);
    prevButton_ = new QPushButton(QStringLiteral("<"), this);
    prevButton_->setGeometry(650, 30, 24, 22);
    nextButton_ = new QPushButton(QStringLiteral(">"), this);
    nextButton_->setGeometry(676, 30, 24, 22);
    updateButton_ = new QPushButton(QStringLiteral("Update"), this);
    updateButton_->setObjectName(QStringLiteral("update"));
    updateButton_->setGeometry(704, 30, 68, 22);
    updateButton_->setAutoDefault(false);

    label("Min level:", 520, 58, 68);
    minEdit_ = edit("minEdit", SmartEditValue::MODE_DOUBLE, 590, 58, 110);
    minLock_ = check("Lock", "minLock", 708, 58, 64, settings_.minSliderLocked);
    minSlider_ = slider("minSlider", 82);
    label("Max level:", 520, 106, 68);
    maxEdit_ = edit("maxEdit", SmartEditValue::MODE_DOUBLE, 590, 106, 110);
    maxLock_ = check("Lock", "maxLock", 708, 106, 64, settings_.maxSliderLocked);
    maxSlider_ = slider("maxSlider", 130);
    underWarning_ = pushCheck("Under warning", "underWarning", 520, 156, 124, settings_.underRangeWarning);
    overWarning_ = pushCheck("Over warning", "overWarning", 648, 156, 124, settings_.overRangeWarning);
    autoRange_ = check("Auto range:", "autoRange", 520, 186, 96, settings_.autoRange);
    autoRangeType_ = new QComboBox(this);
    autoRangeType_->setObjectName(QStringLiteral("autoRangeType"));
    autoRangeType_->addItems({QStringLiteral("Min - Max"), QStringLiteral("0.01 - 0.99 fractile"),
                              QStringLiteral("0.05 - 0.95 fractile")});
    autoRangeType_->setGeometry(618, 186, 154, 22);
    autoRangeType_->setCurrentIndex(settings_.autoRangeType);
    countRate_ = check("Count rate", "countRate", 520, 212, 96, settings_.countRate);
    timeLabel_ = label("Time:", 618, 212, 154);
    timeLabel_->setObjectName(QStringLiteral("time"));
    showHistogram_ = check("Histogram:", "showHistogram", 520, 238, 96, settings_.showHistogram);
    histRefine_ = pushCheck("Auto refine", "histRefine", 618, 238, 100, settings_.histRefine);
    histRefine_->setEnabled(settings_.showHistogram != 0);

    histogram_ = new Plot2D(this);
    histogram_->setObjectName(QStringLiteral("histogram"));
    histogram_->setGeometry(520, 264, 252, 150);
    histogram_->fixYMin = true;
    histogram_->fixedYMin = 0;
    histogram_->fixXMin = histogram_->fixXMax = histogram_->fixYMax = false;
    histogram_->defaultStyle = Plot2DSeries::AutoWidthHistogram;
    histogram_->setAutoScaleX(false);
    histogram_->setAutoScaleY(true);
    histogram_->buttonMask = 0x3BF;
    histogram_->menuFlags = 0x3D;
    histogram_->layoutToolbar();

    stats_ = new QTreeWidget(this);
    stats_->setObjectName(QStringLiteral("statistics"));
    stats_->setGeometry(520, 420, 252, 130);
    stats_->setRootIsDecorated(false);
    stats_->setHeaderLabels({QStringLiteral("Stat"), QStringLiteral("Value")});
    stats_->setColumnWidth(0, std::max(60, stats_->fontMetrics().horizontalAdvance(QStringLiteral("Std. dev.:")) + 12));
    stats_->header()->setStretchLastSection(true);
    stats_->header()->setMinimumSectionSize(40);
    for (const char* name : kStatNames)
        new QTreeWidgetItem(stats_, {QString::fromUtf8(name), QStringLiteral("-")});

    label("Color map:", 520, 556, 80);
    colorMap_ = new QComboBox(this);
    colorMap_->setObjectName(QStringLiteral("colorMap"));
    colorMap_->addItems({QStringLiteral("Gray"), QStringLiteral("Jet"), QStringLiteral("Hot"), QStringLiteral("Cool")});
    colorMap_->setGeometry(602, 556, 170, 22);
    label("Filter chain:", 520, 582, 80);
    chains_ = new CComboBoxFilterChains(mgr_, this);
    chains_->setObjectName(QStringLiteral("filterChain"));
    chains_->setGeometry(602, 582, 170, 22);
    autoUpdate_ = check("Auto update preview", "autoUpdate", 520, 608, 252, settings_.autoUpdate);

    // What the controls change.
    connect(picture_, &CPicture::pixelHovered, this, guardedSlot([this](int x, int y) { showCursor(x, y); }));
    connect(picture_, &CPicture::zoomChanged, this, guardedSlot([this](bool, const PixelRect& z) {
        if (SelectionRegion* r = model_.region(1); r && r->setRect(z))
            refreshView();
    }));
    connect(picture_, &CPicture::selectionChanged, this, guardedSlot([this](bool, const PixelRect& s) {
        view_.setSelectionShown(picture_->selectionShown());
        if (SelectionRegion* r = model_.region(2))
            r->setRect(s);
        refreshView();
    }));
    connect(picture_, &CPicture::contextMenuRequested, this,
            guardedSlot([this](const QPoint& p, int x, int y) { pixelMenuAt(p, x, y); }));
    minEdit_->installEventFilter(this);
    maxEdit_->installEventFilter(this);
    for (CSmartEdit* e : {frameEdit_, minEdit_, maxEdit_})
        connect(e, &QLineEdit::textEdited, this, guardedSlot([this] { updateButton_->setEnabled(true); }));
    connect(updateButton_, &QPushButton::clicked, this, guardedSlot([this] { update(); }));
    connect(prevButton_, &QPushButton::clicked, this, guardedSlot([this] {
        if (frameCount_ > 0)
            showFrameNumber(std::max(currentFrame_ - 1, 1));
    }));
    connect(nextButton_, &QPushButton::clicked, this, guardedSlot([this] {
        if (frameCount_ > 0)
            showFrameNumber(std::min(currentFrame_ + 1, frameCount_));
    }));
    connect(frameSpin_, &QScrollBar::valueChanged, this, guardedSlot([this](int v) {
        if (!updating_ && frameCount_ > 0 && v != currentFrame_)
            showFrameNumber(v);
    }));
    auto sliderMoved = [this](bool isMax, int pos) {
        if (updating_)
            return;
        view_.sliderMoved(isMax, pos);
        const QSignalBlocker b1(minLock_), b2(maxLock_), b3(autoRange_);
        minLock_->setChecked(settings_.minSliderLocked);
        maxLock_->setChecked(settings_.maxSliderLocked);
        autoRange_->setChecked(false);
        showLevels(!isMax, isMax);
        showHistogram();
    };
    connect(minSlider_, &QSlider::valueChanged, this, guardedSlot([sliderMoved](int p) { sliderMoved(false, p); }));
    connect(maxSlider_, &QSlider::valueChanged, this, guardedSlot([sliderMoved](int p) { sliderMoved(true, p); }));
    connect(minLock_, &QCheckBox::toggled, this, guardedSlot([this](bool on) { settings_.minSliderLocked = on; }));
    connect(maxLock_, &QCheckBox::toggled, this, guardedSlot([this](bool on) { settings_.maxSliderLocked = on; }));
    connect(underWarning_, &QPushButton::toggled, this, guardedSlot([this](bool on) {
        settings_.underRangeWarning = on;
        view_.render();
    }));
    connect(overWarning_, &QPushButton::toggled, this, guardedSlot([this](bool on) {
        settings_.overRangeWarning = on;
        view_.render();
    }));
    connect(autoRange_, &QCheckBox::toggled, this, guardedSlot([this](bool on) {
        settings_.autoRange = on;
        if (on) {
            settings_.minSliderLocked = settings_.maxSliderLocked = 0;
            const QSignalBlocker b1(minLock_), b2(maxLock_);
            minLock_->setChecked(false);
            maxLock_->setChecked(false);
            applyRangeToControls(false);
            view_.render();
        }
    }));
    connect(autoRangeType_, &QComboBox::activated, this, guardedSlot([this](int type) {
        settings_.autoRangeType = type;
        if (autoRange_->isChecked()) {
            applyRangeToControls(false);
            view_.render();
        } else {
            autoRange_->setChecked(true);
        }
    }));
    connect(countRate_, &QCheckBox::toggled, this, guardedSlot([this](bool on) {
        settings_.countRate = on;
        model_.setCountRate(on);
        if (shownById_)
            showFrameId(shownById_);
        else if (currentFrame_ > 0)
            showFrameNumber(currentFrame_, false);
    }));
    connect(showHistogram_, &QCheckBox::toggled, this, guardedSlot([this](bool on) {
        settings_.showHistogram = on;
        histRefine_->setEnabled(on);
        if (on) {
            view_.buildHistogram();
            showHistogram();
        }
    }));
    connect(histRefine_, &QPushButton::toggled, this, guardedSlot([this](bool on) {
        settings_.histRefine = on;
        view_.buildHistogram();
        showHistogram();
    }));
    connect(histogram_, &Plot2D::changedByUser, this, guardedSlot([this](int what) {
        if (what != Plot2DModel::XRangeChanged)
            return;
        view_.histogramRangeChanged(histogram_->xMin, histogram_->xMax);
        const QSignalBlocker b1(minLock_), b2(maxLock_), b3(autoRange_);
        minLock_->setChecked(false);
        maxLock_->setChecked(false);
        autoRange_->setChecked(false);
        showLevels(true, true);
        showHistogram();
    }));
    connect(colorMap_, &QComboBox::currentIndexChanged, this, guardedSlot([this](int type) {
        if (updating_ || type < 0)
            return;
        settings_.colorMap = type;
        model_.setColorMap(type);
        view_.render();
    }));
    auto chainChosen = [this](int id) {
        model_.setFilterChain(id);
        if (shownById_)
            showFrameId(shownById_);
        else if (currentFrame_ > 0)
            showFrameNumber(currentFrame_, false);
    };
    connect(chains_, &CComboBoxFilterChains::chainChanged, this, guardedSlot(chainChosen));
    connect(chains_, &QComboBox::activated, this,
            guardedSlot([this, chainChosen] { chainChosen(chains_->selectedChainId()); }));
    connect(autoUpdate_, &QCheckBox::toggled, this, guardedSlot([this](bool on) { settings_.autoUpdate = on; }));
}

void CPreviewDialog::buildMenus()
{
    auto toggle = [this](QMenu* m, const char* text, const char* name, bool on, auto&& handler) {
        QAction* a = m->addAction(QString::fromUtf8(text));
        a->setObjectName(QString::fromUtf8(name));
        a->setCheckable(true);
        a->setChecked(on);
        connect(a, &QAction::triggered, this, guardedSlot(handler));
        return a;
    };

    QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
    QAction* load = file->addAction(QStringLiteral("&Load Picture..."));
    load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(load, &QAction::triggered, this, guardedSlot([this] {
        const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                          QStringLiteral("ASCII text files (*.txt);;All files (*)"));
        if (!path.isEmpty())
            loadPicture(path);
    }));
    QAction* save = file->addAction(QStringLiteral("&Save Picture..."));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(save, &QAction::triggered, this, guardedSlot([this] { savePicture(); }));

    QMenu* options = menuBar_->addMenu(QStringLiteral("&Options"));
    saveFrameRangeAction_ = toggle(options, "&Save Frame Range", "saveFrameRange", settings_.saveFrameRange, [this](bool on) {
        settings_.saveFrameRange = on;
        model_.setSaveFrameRange(on);
    });
    loadFrameRangeAction_ = toggle(options, "&Load Frame Range", "loadFrameRange", settings_.loadFrameRange, [this](bool on) {
        settings_.loadFrameRange = on;
        model_.setLoadFrameRange(on);
    });
    ignoreMaskedAction_ = toggle(options, "&Ignore Masked Pixels", "ignoreMasked", settings_.ignoreMasked, [this](bool on) {
        settings_.ignoreMasked = on;
        state_->setPixCfgView(on, serviceShown_);
        if (on) {
            pixCfgChanged();
        } else {
            model_.setMask(nullptr, false, 0);
            refreshView();
        }
    });
    maxUpdatesMenu_ = options->addMenu(QStringLiteral("Max Auto Updates"));
    auto* updates = new QActionGroup(this);
    for (int m = 0; m < 6; ++m) {
        QAction* a = maxUpdatesMenu_->addAction(QString::fromUtf8(kUpdateNames[m]));
        a->setCheckable(true);
        updates->addAction(a);
        maxUpdateActions_[size_t(m)] = a;
        connect(a, &QAction::triggered, this, guardedSlot([this, m] { setMaxAutoUpdateMode(m); }));
    }
    QAction* prefs = options->addAction(QStringLiteral("&Preferences..."));
    connect(prefs, &QAction::triggered, this, guardedSlot([this] { preferences(); }));

    QMenu* view = menuBar_->addMenu(QStringLiteral("&View"));
    mirrorAction_ = toggle(view, "Mirror Image", "mirror", settings_.mirror, [this](bool on) {
        settings_.mirror = on;
        if (model_.mirrored() != on)
            model_.toggleMirror();
        showZoomLabels();
        refreshView();
    });
    QMenu* rotate = view->addMenu(QStringLiteral("Rotate Image"));
    auto* angles = new QActionGroup(this);
    for (int i = 0; i < 4; ++i) {
        QAction* a = rotate->addAction(QString::number(i * 90));
        a->setCheckable(true);
        angles->addAction(a);
        rotateActions_[size_t(i)] = a;
        connect(a, &QAction::triggered, this, guardedSlot([this, i] {
            settings_.rotation = i * 90;
            model_.setRotation(settings_.rotation);
            showCursor(-1, -1);
            refreshView();
        }));
    }
    QMenu* size = view->addMenu(QStringLiteral("Set Size"));
    for (int k = 1; k <= 4; ++k) {
        QAction* a = size->addAction(QStringLiteral("%1x").arg(k));
        a->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + k)));
        connect(a, &QAction::triggered, this, guardedSlot([this, k] { setSize(k); }));
    }
    QAction* aspect = view->addAction(QStringLiteral("&Ensure Aspect Ratio"));
    aspect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(aspect, &QAction::triggered, this, guardedSlot([this] {
        const QRect area = picture_->imageArea();
        const PixelRect z = picture_->zoom();
        if (z.w <= 0 || z.h <= 0 || area.height() <= 0)
            return;
        resize(width() + area.height() * z.w / z.h - area.width(), height());
    }));
    interpolateAction_ = toggle(view, "Interpolate Image", "interpolate", settings_.interpolateImage, [this](bool on) {
        settings_.interpolateImage = on;
        picture_->setInterpolate(on);
    });
    interpolateAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    gridAction_ = toggle(view, "Show Grid", "grid", settings_.showGrid, [this](bool on) {
        settings_.showGrid = on;
        picture_->setShowGrid(on);
    });
    gridAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));

    serviceMenu_ = menuBar_->addMenu(QStringLiteral("&Service Frames"));
    for (int s = 0; s < kServiceFrameCount; ++s) {
        QAction* a = serviceMenu_->addAction(QString::fromUtf8(kServiceNames[s]));
        a->setCheckable(true);
        serviceActions_[size_t(s)] = a;
        connect(a, &QAction::triggered, this, guardedSlot([this, s] { chooseServiceFrame(s); }));
    }
    for (QMenu* m : {options, view, serviceMenu_, maxUpdatesMenu_})
        connect(m, &QMenu::aboutToShow, this, guardedSlot([this] { updateMenus(); }));
    addActions(menuBar_->actions()); // the shortcuts work wherever the focus is
    for (QAction* a : menuBar_->actions())
        if (a->menu())
            addActions(a->menu()->actions());
    addActions(size->actions());
}

void CPreviewDialog::updateMenus()
{
    const bool bound = state_->devIndex() >= 0;
    saveFrameRangeAction_->setChecked(settings_.saveFrameRange);
    loadFrameRangeAction_->setChecked(settings_.loadFrameRange);
    ignoreMaskedAction_->setChecked(settings_.ignoreMasked);
    maxUpdatesMenu_->setEnabled(bound);
    for (int m = 0; m < 6; ++m)
        maxUpdateActions_[size_t(m)]->setChecked(m == state_->maxAutoUpdateMode());
    mirrorAction_->setChecked(settings_.mirror);
    for (int i = 0; i < 4; ++i)
        rotateActions_[size_t(i)]->setChecked(settings_.rotation == i * 90);
    interpolateAction_->setChecked(settings_.interpolateImage);
    gridAction_->setChecked(settings_.showGrid);
    serviceMenu_->setEnabled(bound);
    for (int s = 0; s < kServiceFrameCount; ++s) {
        serviceActions_[size_t(s)]->setEnabled(bound && serviceFrameAvailable(s, devInfo_.chipType));
        serviceActions_[size_t(s)]->setChecked(s == serviceShown_);
    }
}

void CPreviewDialog::initLayout()
{
    constexpr int kRight = ANCHOR_MOVE_X;
    addDlgItem(menuBar_, ANCHOR_STRETCH_W);
    addDlgItem(picture_, 0x35);
    for (QObject* o : children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w == menuBar_ || w == picture_ || w == stats_ || w->y() >= 556)
            continue;
        addDlgItem(w, kRight);
    }
    addDlgItem(stats_, ANCHOR_GROW_ONLY | ANCHOR_STRETCH_H | ANCHOR_MOVE_X);
    for (QObject* o : children())
        if (auto* w = qobject_cast<QWidget*>(o); w && w != picture_ && w->y() >= 556)
            addDlgItem(w, ANCHOR_NO_UP | ANCHOR_MOVE_Y | ANCHOR_MOVE_X);
}

int CPreviewDialog::create(const _MgrFuncTable* mgr, const PrevCreateRequest& r)
{
    auto state = std::make_shared<PreviewState>(r.devIndex, r.destroyOnClose, r.iniPath);
    std::unique_ptr<CPreviewDialog> w(new CPreviewDialog(mgr, state));
    const bool sized = r.devIndex < 0 ? w->model_.setSize(r.width, r.height) == 0 : w->bindDevice(r.devIndex);
    if (!sized) {
        messageBox(nullptr, QStringLiteral("Preview initialization error."), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
        return -1;
    }
    w->initView();
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    auto host = std::make_shared<PrevWindowHost>(w.get(), mgr);
    const uint32_t id = prevWndService().registry().add({state, host});
    w.release(); // owned by the registry's entry from here: freed by its destroy()
    return int(id);
}

void CPreviewDialog::initView()
{
    // The rest of the dialog's initialisation, once the model has its size.
    const QSignalBlocker block(colorMap_);
    model_.setRotation(settings_.rotation);
    if (settings_.mirror && !model_.mirrored())
        model_.toggleMirror();
    model_.setCountRate(settings_.countRate);
    model_.setLoadFrameRange(settings_.loadFrameRange);
    model_.setSaveFrameRange(settings_.saveFrameRange);
    model_.setPicture(picture_);
    picture_->setShowLabels(true);
    picture_->setShowColorBar(true);
    picture_->setInterpolate(settings_.interpolateImage);
    picture_->setShowGrid(settings_.showGrid);
    picture_->setNoRepaintOnZoom(true);
    setFrameEditEnabled(false);
    updateButton_->setEnabled(false);
    frameSpin_->setRange(0, frameCount_);
    chains_->refresh();
    colorMap_->setCurrentIndex(settings_.colorMap);
    model_.setColorMap(settings_.colorMap);
    setMaxAutoUpdateMode(settings_.maxAutoUpdateMode);
    state_->setPixCfgView(settings_.ignoreMasked, serviceShown_);
    if (model_.regionCount() < 3)
        model_.addRegions(3 - model_.regionCount());
    showLevels(true, true);
    refreshView();
    OnInitDialog();
    setSize(2);
    // The saved outer rectangle of the normal state, moved onto a screen whole; then the saved show state.
    if (settings_.hasPlacement) {
        placement_ = placeWindow(this, {SW_SHOWNORMAL, settings_.left, settings_.top, settings_.right, settings_.bottom});
        placementPending_ = true;
    }
    if (!settings_.visible)
        return;
    switch (settings_.showCmd) {
    case SW_SHOWMINIMIZED: showMinimized(); break;
    case SW_SHOWMAXIMIZED: showMaximized(); break;
    default:
        show();
        placeOnceShownNormal();
        break;
    }
}

void CPreviewDialog::placeOnceShownNormal()
{
    if (!placementPending_ || !isVisible() || isMinimized() || isMaximized())
        return;
    placementPending_ = false;
    placement_ = placeWindow(this, placement_);
}

bool CPreviewDialog::bindDevice(int devIndex)
{
    if (devIndex < 0 || model_.bindDevice(devIndex) != 0)
        return false;
    state_->setDevIndex(devIndex);
    devInfo_ = {};
    if (mgr_ && mgr_->tvkCtrlGetDevInfo)
        mgr_->tvkCtrlGetDevInfo(unsigned(devIndex), &devInfo_);
    serviceFrames_.fill(0);
    if (mgr_ && mgr_->mgrGetServiceFrame)
        for (int s = 0; s < kServiceFrameCount; ++s)
            if (serviceFrameAvailable(s, devInfo_.chipType))
                mgr_->mgrGetServiceFrame(devIndex, uint32_t(serviceFrameType(s)), &serviceFrames_[size_t(s)]);
    if (model_.regionCount() < 3)
        model_.addRegions(3 - model_.regionCount());
    if (picture_->isVisible() || model_.picture())
        refreshView();
    return true;
}

void CPreviewDialog::closeOwnedFrame()
{
    if (ownsShownFrame_ && shownById_ && mgr_ && mgr_->mgrCloseFrame) {
        uint32_t refs = 0;
        mgr_->mgrCloseFrame(shownById_, &refs);
    }
    ownsShownFrame_ = false;
}

void CPreviewDialog::setFrameEditEnabled(bool on)
{
    frameEdit_->setEnabled(on);
    frameSpin_->setEnabled(on);
}

int CPreviewDialog::showFrameId(uint32_t frameId)
{
    if (model_.showFrame(frameId) != 0) {
        state_->reportError(formatted("Preview: cannot get frame with id: %llu (zero-based)", frameId));
        return -1;
    }
    if (serviceShown_ < 0) {
        if (shownById_ != frameId)
            closeOwnedFrame();
        shownById_ = frameId;
    }
    setFrameEditEnabled(false);
    frameEdit_->setInt(int(std::min<uint32_t>(frameId, INT32_MAX)));
    refreshView();
    return 0;
}

int CPreviewDialog::showFrameNumber(int n, bool updateEdit)
{
    const int dev = state_->devIndex();
    if (serviceShown_ >= 0 || n < 1 || dev < 0)
        return 0;
    // The device's newest frame comes with a reference taken when it completed: shown by that, it cannot be
    // replaced between asking for its id and reading it. The picture takes a reference of its own.
    const auto [heldId, heldNumber] = state_->takeLatestFrame();
    uint32_t frameId = heldNumber == n ? heldId : 0;
    const bool shown = mgr_ && (frameId || (mgr_->tvkCtrlGetFrameID &&
                                            mgr_->tvkCtrlGetFrameID(unsigned(dev), n - 1, &frameId) == 0)) &&
                       model_.showFrame(frameId) == 0;
    if (heldId && mgr_ && mgr_->mgrCloseFrame)
        mgr_->mgrCloseFrame(heldId, nullptr);
    if (!shown) {
        state_->reportError(formatted("Preview: cannot get frame %lld (zero-based)", n - 1));
        return -1;
    }
    closeOwnedFrame();
    shownById_ = 0;
    currentFrame_ = n;
    state_->setFrames(frameCount_, n);
    setFrameEditEnabled(true);
    if (updateEdit)
        frameEdit_->setInt(n);
    {
        const QSignalBlocker b(frameSpin_);
        frameSpin_->setValue(n);
    }
    refreshView();
    return 0;
}

void CPreviewDialog::refreshFromDevice()
{
    ++refreshRuns_;
    state_->takeRefresh();
    const int dev = state_->devIndex();
    int frameIndex = 0, frameCount = 0, kind = 0, framesDone = 0;
    if (dev < 0 || !mgr_ || !mgr_->tvkCtrlGetAcqInfo ||
        mgr_->tvkCtrlGetAcqInfo(unsigned(dev), &frameIndex, &frameCount, &kind, &framesDone) != 0)
        return;
    frameCount_ = (kind == 0 || kind == 1) ? framesDone : 1;
    state_->setFrames(frameCount_, currentFrame_);
    {
        const QSignalBlocker b(frameSpin_);
        frameSpin_->setRange(std::min(1, frameCount_), frameCount_);
    }
    if (serviceShown_ >= 0)
        return;
    setFrameEditEnabled(true);
    if (settings_.autoUpdate && isVisible() && frameCount_ > 0)
        showFrameNumber(frameCount_, true);
}

void CPreviewDialog::pixCfgChanged()
{
    if (settings_.ignoreMasked && mgr_ && mgr_->mgrGetLockedFrameBuff && mgr_->mgrUnlockFrame &&
        serviceFrames_[kServiceMask]) {
        const uint32_t mask = serviceFrames_[kServiceMask];
        void* buffer = nullptr;
        uint32_t bytes = 0;
        if (mgr_->mgrGetLockedFrameBuff(mask, &buffer, &bytes, 500) == 0) {
            model_.setMask(static_cast<const uint16_t*>(buffer), true, bytes / 2);
            mgr_->mgrUnlockFrame(mask);
        }
    }
    if (serviceShown_ >= 0)
        showFrameId(serviceFrames_[size_t(serviceShown_)]);
    else if (settings_.ignoreMasked)
        refreshView();
}

void CPreviewDialog::refreshView()
{
    timeLabel_->setText(qs(view_.timeText()));
    view_.setSelectionShown(picture_->selectionShown());
    view_.setEditFocus(minEdit_->hasFocus(), maxEdit_->hasFocus());
    view_.refresh();
    showStatistics();
    showLevels(view_.minEditStale(), view_.maxEditStale());
    showHistogram();
    if (!(picture_->zoom() == zoomShown_))
        showZoomLabels();
}

void CPreviewDialog::applyRangeToControls(bool keep)
{
    view_.setEditFocus(minEdit_->hasFocus(), maxEdit_->hasFocus());
    view_.applyRange(keep);
    showLevels(view_.minEditStale(), view_.maxEditStale());
    showHistogram();
}

void CPreviewDialog::showLevels(bool min, bool max)
{
    updating_ = true;
    if (min)
        minEdit_->setDouble(settings_.min);
    if (max)
        maxEdit_->setDouble(settings_.max);
    minSlider_->setValue(view_.sliderMin());
    maxSlider_->setValue(view_.sliderMax());
    updating_ = false;
}

void CPreviewDialog::showHistogram()
{
    if (!settings_.showHistogram)
        return;
    const HistogramView& h = view_.histogram();
    histogram_->autoRedraw = false;
    histogram_->clearSeries();
    if (h.valid) {
        histogram_->addValueSeries(h.bins, h.start, h.binWidth);
        // A bar runs to the next point: a closing point at the range end gives the last bin its bar.
        histogram_->addPoint(false, h.start + double(h.bins.size()) * h.binWidth, 0);
    }
    histogram_->setSeriesStyle(Plot2DSeries::AutoWidthHistogram);
    if (h.xMax > h.xMin)
        histogram_->setXRange(h.xMin, h.xMax);
    histogram_->updateYRange();
    histogram_->autoRedraw = true;
    histogram_->redrawNow();
}

void CPreviewDialog::showStatistics()
{
    stats_->setUpdatesEnabled(false);
    const auto& s = view_.statistics();
    for (int i = 0; i < PreviewView::kStatCount; ++i)
        stats_->topLevelItem(i + 2)->setText(1, qs(s[size_t(i)]));
    stats_->setUpdatesEnabled(true);
}

void CPreviewDialog::showCursor(int x, int y)
{
    if (x < 0 || y < 0 || x >= model_.width() || y >= model_.height()) {
        stats_->topLevelItem(0)->setText(1, QStringLiteral("-"));
        stats_->topLevelItem(1)->setText(1, QStringLiteral("-"));
        return;
    }
    const double v = model_.values()[size_t(y) * size_t(model_.width()) + size_t(x)];
    int fx = x, fy = y;
    model_.toFramePoint(fx, fy);
    stats_->topLevelItem(0)->setText(1, QStringLiteral("[%1, %2]").arg(fx + 1).arg(fy + 1));
    stats_->topLevelItem(1)->setText(1, qs(formatStat(v)));
}

void CPreviewDialog::showZoomLabels()
{
    zoomShown_ = picture_->zoom();
    const ZoomLabels l = zoomLabels(model_, zoomShown_);
    picture_->setLabels(qs(l.xStart), qs(l.xEnd), qs(l.yStart), qs(l.yEnd), qs(l.xName), qs(l.yName));
}

void CPreviewDialog::update()
{
    updateButton_->setEnabled(false);
    if (minEdit_->validate() && maxEdit_->validate())
        view_.setLevels(minEdit_->doubleValue(), maxEdit_->doubleValue());
    if (frameCount_ > 0 && frameEdit_->isEnabled() && frameEdit_->validate()) {
        const int n = clampFrameNumber(frameEdit_->intValue(), frameCount_);
        if (n != frameEdit_->intValue())
            frameEdit_->setInt(n);
        if (n != currentFrame_) {
            showFrameNumber(n, false);
            return;
        }
    }
    applyRangeToControls(true);
    view_.render();
}

void CPreviewDialog::chooseServiceFrame(int slot)
{
    if (slot < 0 || slot >= kServiceFrameCount || state_->devIndex() < 0)
        return;
    if (slot == serviceShown_) {
        serviceShown_ = -1;
        state_->setPixCfgView(settings_.ignoreMasked, -1);
        if (shownById_)
            showFrameId(shownById_);
        else if (frameCount_ > 0 && currentFrame_ > 0)
            showFrameNumber(currentFrame_);
        return;
    }
    if (!serviceFrames_[size_t(slot)])
        return;
    serviceShown_ = slot;
    state_->setPixCfgView(settings_.ignoreMasked, slot);
    view_.serviceLevels(slot, devInfo_.chipType);
    {
        const QSignalBlocker b1(autoRange_), b2(minLock_), b3(maxLock_);
        autoRange_->setChecked(false);
        minLock_->setChecked(false);
        maxLock_->setChecked(false);
    }
    showLevels(true, true);
    showFrameId(serviceFrames_[size_t(slot)]);
}

void CPreviewDialog::setMaxAutoUpdateMode(int mode)
{
    settings_.maxAutoUpdateMode = mode;
    state_->setMaxAutoUpdateMode(mode);
    timer_->stop();
    if (const int ms = autoUpdateIntervalMs(mode); ms > 0 && state_->devIndex() >= 0)
        timer_->start(ms);
    state_->takeRefresh();
}

void CPreviewDialog::setSize(int k)
{
    const QRect area = picture_->imageArea();
    const PixelRect z = picture_->zoom();
    if (k < 1 || z.w <= 0 || z.h <= 0 || area.isEmpty())
        return;
    // Never below the height the control column needs (the picture then gets the extra room).
    QSize size(width() + k * z.w - area.width(), std::max(height() + k * z.h - area.height(), kInitialHeight));
    if (const QScreen* s = screen())
        size = size.boundedTo(s->availableGeometry().size());
    resize(size);
}

bool CPreviewDialog::loadPicture(const QString& path)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    uint32_t loaded = 0;
    const int rc = model_.loadFrameFile(path.toLocal8Bit().constData(), &loaded);
    QApplication::restoreOverrideCursor();
    if (rc != 0)
        return false;
    closeOwnedFrame();
    shownById_ = loaded;
    ownsShownFrame_ = true;
    setFrameEditEnabled(false);
    frameEdit_->setInt(int(std::min<uint32_t>(loaded, INT32_MAX)));
    refreshView();
    return true;
}

void CPreviewDialog::savePicture()
{
    QString path;
    if (getSaveImagePath(this, path) != 0)
        return;
    model_.saveImage(path.toLocal8Bit().constData(), settings_.saveImageWidth, settings_.saveImageHeight,
                     settings_.saveImageSize, settings_.saveImageFlags);
}

void CPreviewDialog::preferences()
{
    CPrevSettingsDlg dlg(this);
    dlg.flags = settings_.saveImageFlags;
    dlg.width = settings_.saveImageWidth;
    dlg.height = settings_.saveImageHeight;
    dlg.sizeMode = settings_.saveImageSize;
    if (dlg.exec() != QDialog::Accepted)
        return;
    settings_.saveImageFlags = dlg.flags;
    settings_.saveImageWidth = dlg.width;
    settings_.saveImageHeight = dlg.height;
    settings_.saveImageSize = dlg.sizeMode;
}

void CPreviewDialog::dragEnterEvent(QDragEnterEvent* e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void CPreviewDialog::dropEvent(QDropEvent* e)
{
    const QList<QUrl> urls = e->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    e->acceptProposedAction();
    loadPicture(urls.first().toLocalFile());
}

// ---- the pixel menu ----

QMenu* CPreviewDialog::createPixelMenu(int frameX, int frameY)
{
    menuPixelX_ = frameX;
    menuPixelY_ = frameY;
    const int chipType = devInfo_.chipType;
    const bool selection = picture_->selectionShown();
    int current[3] = {-1, -1, -1}; // THL, THH, mode of the clicked pixel
    if (!selection) {
        const int dev = state_->devIndex();
        const int cfg = readPixelCfg(mgr_, dev, frameX, frameY);
        if (cfg >= 0)
            for (int f = 0; f < 3; ++f)
                current[f] = fieldValue(uint8_t(cfg), f == 0 ? PixField::Thl : f == 1 ? PixField::Thh : PixField::Mode,
                                        chipType);
    }
    auto* menu = new QMenu(this);
    auto add = [this, menu](QMenu* m, const QString& text, PixCommand c, int value = 0) {
        QAction* a = m->addAction(text);
        connect(a, &QAction::triggered, this, guardedSlot([this, c, value] {
            if (c == PixCommand::MaskAbove || c == PixCommand::ShiftThlAbove) {
                const std::unique_ptr<CPixCritDlg> dlg = criteriaDialog(c);
                if (dlg->exec() == QDialog::Accepted)
                    pixCfgResult(runPixelCommand(c, dlg->value));
                return;
            }
            pixCfgResult(runPixelCommand(c, value));
        }));
        (void)menu;
        return a;
    };
    const struct {
        const char* text;
        PixCommand command;
    } simple[] = {{"Mask Pixel", PixCommand::MaskPixel},       {"Unmask Pixel", PixCommand::UnmaskPixel},
                  {"Mask Column", PixCommand::MaskColumn},     {"Unmask Column", PixCommand::UnmaskColumn},
                  {"Mask Row", PixCommand::MaskRow},           {"Unmask Row", PixCommand::UnmaskRow},
                  {"Mask All", PixCommand::MaskAll},           {"Unmask All", PixCommand::UnmaskAll},
                  {"Mask Selected", PixCommand::MaskSelected}, {"Unmask Selected", PixCommand::UnmaskSelected}};
    for (const auto& s : simple) {
        QAction* a = add(menu, QString::fromUtf8(s.text), s.command);
        if (s.command == PixCommand::MaskSelected || s.command == PixCommand::UnmaskSelected)
            a->setEnabled(selection);
    }
    menu->addSeparator();
    const struct {
        const char* text;
        PixField field;
        PixCommand command;
        int count;
    } fields[] = {{"Set THL Adj. Bit", PixField::Thl, PixCommand::SetThl, 16},
                  {"Set THH Adj. Bit", PixField::Thh, PixCommand::SetThh, 8},
                  {"Set Mode", PixField::Mode, PixCommand::SetMode, 4}};
    for (int f = 0; f < 3; ++f) {
        QMenu* sub = menu->addMenu(QString::fromUtf8(fields[f].text));
        for (int v = 0; v < fields[f].count; ++v) {
            const QString text = fields[f].field == PixField::Mode ? QString::fromUtf8(kModeNames[v]) : QString::number(v);
            QAction* a = add(sub, text, fields[f].command, v);
            a->setCheckable(true);
            a->setChecked(v == current[f]);
            a->setEnabled(pixMenuValueEnabled(fields[f].field, v, chipType));
        }
    }
    menu->addSeparator();
    add(menu, QStringLiteral("Mask..."), PixCommand::MaskAbove);
    add(menu, QStringLiteral("Shift THL Adj..."), PixCommand::ShiftThlAbove);
    return menu;
}

std::unique_ptr<CPixCritDlg> CPreviewDialog::criteriaDialog(PixCommand c)
{
    auto dlg = std::make_unique<CPixCritDlg>(this);
    dlg->caption = c == PixCommand::MaskAbove
                       ? QStringLiteral("Mask pixels which counts more than:")
                       : QStringLiteral("Shift THL adj. (or mask if shift is not possible) for pixels counting more than:");
    // Both open with the shift threshold; "Mask..." keeps its own value only as the mask threshold.
    dlg->value = settings_.thlShiftPixVal;
    dlg->anchorX = QCursor::pos().x();
    dlg->anchorY = QCursor::pos().y();
    return dlg;
}

void CPreviewDialog::pixelMenuAt(const QPoint& clientPoint, int x, int y)
{
    if (state_->devIndex() < 0)
        return;
    model_.toFramePoint(x, y);
    std::unique_ptr<QMenu> menu(createPixelMenu(x, y));
    menu->exec(picture_->mapToGlobal(clientPoint));
}

void CPreviewDialog::pixCfgResult(PixCfgResult r)
{
    if (r == PixCfgResult::SizeMismatch)
        messageBox(this, QString::fromUtf8(kPixCfgSizeText), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
}

PixCfgResult CPreviewDialog::runPixelCommand(PixCommand c, double value)
{
    const bool quarter = model_.rotation() == 90 || model_.rotation() == 270;
    const int fw = quarter ? model_.height() : model_.width(), fh = quarter ? model_.width() : model_.height();
    if (c == PixCommand::MaskAbove || c == PixCommand::ShiftThlAbove) {
        settings_.maskPixVal = value;
        if (c == PixCommand::ShiftThlAbove)
            settings_.thlShiftPixVal = value;
        std::vector<double> values(size_t(model_.width()) * size_t(model_.height()));
        model_.getFrameData(values.data());
        int polarity = 0;
        const int dev = state_->devIndex();
        if (c == PixCommand::ShiftThlAbove && mgr_ && mgr_->tvkCtrlGetPolarity && dev >= 0)
            mgr_->tvkCtrlGetPolarity(unsigned(dev), &polarity);
        const PixCfgResult r = editDevicePixCfg(
            mgr_, *state_, fw, fh, kThresholdLockMs, kPixCfgBusyThresholdText,
            [&](std::span<uint8_t> cfg, const _DevInfo& info) {
                return c == PixCommand::MaskAbove ? maskPixelsAbove(cfg, values, value)
                                                  : shiftThlAbove(cfg, values, value, info.chipType, polarity);
            });
        if (r == PixCfgResult::Done && serviceShown_ < 0) {
            if (shownById_)
                showFrameId(shownById_);
            else if (currentFrame_ > 0)
                showFrameNumber(currentFrame_, false);
        }
        return r;
    }
    PixRect rect{menuPixelX_, menuPixelY_, 1, 1};
    PixField field = PixField::Mask;
    int v = 0;
    PixelRect sel = picture_->selection();
    const bool selection = picture_->selectionShown();
    model_.toFrameRect(sel.x, sel.y, sel.w, sel.h);
    switch (c) {
    case PixCommand::MaskPixel: case PixCommand::UnmaskPixel: break;
    case PixCommand::MaskColumn: case PixCommand::UnmaskColumn: rect = {menuPixelX_, 0, 1, fh}; break;
    case PixCommand::MaskRow: case PixCommand::UnmaskRow: rect = {0, menuPixelY_, fw, 1}; break;
    case PixCommand::MaskAll: case PixCommand::UnmaskAll: rect = {0, 0, fw, fh}; break;
    case PixCommand::MaskSelected: case PixCommand::UnmaskSelected:
        if (!selection)
            return PixCfgResult::Failed;
        rect = {sel.x, sel.y, sel.w, sel.h};
        break;
    default:
        field = c == PixCommand::SetThl ? PixField::Thl : c == PixCommand::SetThh ? PixField::Thh : PixField::Mode;
        v = int(value);
        if (selection)
            rect = {sel.x, sel.y, sel.w, sel.h};
        break;
    }
    if (field == PixField::Mask)
        v = (c == PixCommand::UnmaskPixel || c == PixCommand::UnmaskColumn || c == PixCommand::UnmaskRow ||
             c == PixCommand::UnmaskAll || c == PixCommand::UnmaskSelected) ? 1 : 0;
    const PixCfgResult r = applyPixCfg(mgr_, *state_, fw, fh, rect, field, v);
    if (r == PixCfgResult::Done && (c == PixCommand::MaskSelected || c == PixCommand::UnmaskSelected)) {
        picture_->clearSelection();
        picture_->repaintNow();
    }
    return r;
}

// ---- window events ----

void CPreviewDialog::reportUnhandled(std::exception_ptr fault)
{
    char text[kReportSize] = "";
    try {
        std::rethrow_exception(fault);
    } catch (const plat::Win32Exception& ex) {
        // A long module path is cut at the report's size.
        plat::copyText(text, std::string("Unhandled exception occurred in Preview UI thread in module:\n") +
                                 ex.module() + "\n" + ex.what() + "\nConsider restarting program.");
    } catch (const std::exception& ex) {
        std::snprintf(text, sizeof text,
                      "Unhandled exception occurred in Preview UI thread:\n%s\nConsider restarting program.", ex.what());
    }
    state_->setReporting(true);
    if (mgr_ && mgr_->mgrLogMsg)
        mgr_->mgrLogMsg("tvkctrlui", "%s", MGRLOG_MSGBOX, text);
    state_->setReporting(false);
}

bool CPreviewDialog::eventFilter(QObject* watched, QEvent* e)
{
    // Enter in a level edit applies the levels as Update does (the window has no default button).
    if (e->type() == QEvent::KeyPress && (watched == minEdit_ || watched == maxEdit_)) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            guarded([this] { update(); });
            return true;
        }
    }
    // Typing a level takes it out of the automatic range and off its slider.
    if (e->type() == QEvent::FocusIn && (watched == minEdit_ || watched == maxEdit_)) {
        const bool isMin = watched == minEdit_;
        settings_.autoRange = 0;
        (isMin ? settings_.minSliderLocked : settings_.maxSliderLocked) = 0;
        const QSignalBlocker b1(autoRange_), b2(isMin ? minLock_ : maxLock_);
        autoRange_->setChecked(false);
        (isMin ? minLock_ : maxLock_)->setChecked(false);
    }
    return CResizeableDlg::eventFilter(watched, e);
}

bool CPreviewDialog::event(QEvent* e)
{
    bool handled = true;
    guarded([&] {
        handled = CResizeableDlg::event(e);
        if (e->type() == QEvent::WindowStateChange && placementPending_)
            placeOnceShownNormal(); // restored from minimised or maximised
    });
    return handled;
}

void CPreviewDialog::closeEvent(QCloseEvent* e)
{
    e->ignore();
    // First the callback, the preview still shown and registered, so that it can ask about it or destroy it
    // itself. It may also run events that free this window: only the state, kept alive here, is sure to last.
    const std::shared_ptr<PreviewState> state = state_;
    const uint32_t id = state->id();
    const QPointer<CPreviewDialog> self(this);
    if (CallbackFuncType cb = state->closeCb())
        cb(id);
    if (!self)
        return; // destroyed by the callback
    hide();
    state->setVisible(false);
    if (!state->destroyOnClose())
        return;
    // Unless the callback destroyed it already (ids are never given again), out of the registry now and
    // freed once this handler has returned.
    if (auto entry = prevWndService().registry().take(id))
        entry->host->destroy();
}

void CPreviewDialog::showEvent(QShowEvent* e)
{
    state_->setVisible(true);
    settings_.visible = 1;
    CResizeableDlg::showEvent(e);
}

void CPreviewDialog::hideEvent(QHideEvent* e)
{
    state_->setVisible(false);
    if (!e->spontaneous() && !destroying_)
        settings_.visible = 0;
    CResizeableDlg::hideEvent(e);
}

void CPreviewDialog::aboutToDestroy()
{
    destroying_ = true;
    timer_->stop();
    // The outer rectangle of the normal state, as placeWindow takes it back; the saved one as long as the
    // window was never normal on the screen (its normal size still holds the frame it did not know).
    WindowPlacement p = currentPlacement(this);
    if (placementPending_) {
        const int showCmd = p.showCmd;
        p = placement_;
        p.showCmd = showCmd;
    }
    settings_.left = p.left;
    settings_.top = p.top;
    settings_.right = p.right;
    settings_.bottom = p.bottom;
    settings_.showCmd = p.showCmd;
}

// ---- PrevWindowHost ----

void PrevWindowHost::queue(std::function<void(CPreviewDialog*)> work)
{
    QPointer<CPreviewDialog> w = window_;
    QMetaObject::invokeMethod(
        qApp,
        [w, work = std::move(work)] {
            if (w)
                w->guarded([&] { work(w.data()); });
        },
        Qt::QueuedConnection);
}

void PrevWindowHost::show(bool visible)
{
    queue([visible](CPreviewDialog* w) {
        if (!visible) {
            w->hide();
            return;
        }
        w->show();
        w->placeOnceShownNormal();
        if (w->state()->devIndex() >= 0 && w->frameCount() > 0)
            w->showFrameNumber(w->currentFrame() > w->frameCount() || w->currentFrame() < 1 ? 1 : w->currentFrame());
    });
}

void PrevWindowHost::setCaption(const std::string& caption)
{
    queue([c = QString::fromStdString(caption)](CPreviewDialog* w) { w->setWindowTitle(c); });
}

int PrevWindowHost::showFrame(uint32_t frameId)
{
    uint32_t width = 0, height = 0;
    if (!mgr_ || !mgr_->mgrGetFrameSize || mgr_->mgrGetFrameSize(frameId, &width, &height) != 0) {
        state_->reportError(formatted("Preview: cannot get frame with id: %llu (zero-based)", frameId));
        return -1;
    }
    queue([frameId](CPreviewDialog* w) { w->showFrameId(frameId); });
    return 0;
}

void PrevWindowHost::destroy()
{
    destroyed_ = true;
    dropHeldFrame();
    queue([](CPreviewDialog* w) {
        w->aboutToDestroy();
        w->hide();
        w->deleteLater();
    });
}

void PrevWindowHost::refresh()
{
    queue([](CPreviewDialog* w) { w->refreshFromDevice(); });
}

void PrevWindowHost::holdLatestFrame()
{
    const int dev = state_->devIndex();
    int frameIndex = 0, frameCount = 0, kind = 0, done = 0;
    if (dev < 0 || !mgr_ || !mgr_->tvkCtrlGetAcqInfo || !mgr_->tvkCtrlGetFrameID || !mgr_->mgrOpenFrame ||
        !mgr_->mgrCloseFrame || mgr_->tvkCtrlGetAcqInfo(unsigned(dev), &frameIndex, &frameCount, &kind, &done) != 0)
        return;
    // A series saved to files keeps no frame in memory: the refresh reads its last frame back from its file.
    if (kind == 1)
        return;
    const int number = kind == 0 ? done : 1;
    uint32_t id = 0;
    if (number < 1 || mgr_->tvkCtrlGetFrameID(unsigned(dev), number - 1, &id) != 0 || !id ||
        mgr_->mgrOpenFrame(id, nullptr) != 0)
        return;
    if (const uint32_t replaced = state_->holdLatestFrame(id, number))
        mgr_->mgrCloseFrame(replaced, nullptr);
    if (destroyed_)
        dropHeldFrame(); // the window went meanwhile: no refresh will take it
}

void PrevWindowHost::dropHeldFrame()
{
    if (const uint32_t held = state_->takeLatestFrame().first; held && mgr_ && mgr_->mgrCloseFrame)
        mgr_->mgrCloseFrame(held, nullptr);
}

void PrevWindowHost::rebind()
{
    dropHeldFrame();
    queue([](CPreviewDialog* w) {
        if (!w->bindDevice(w->state()->devIndex()))
            messageBox(w, QStringLiteral("Preview initialization error."), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
    });
}

void PrevWindowHost::pixCfgChanged()
{
    queue([](CPreviewDialog* w) { w->pixCfgChanged(); });
}

void installPreviewWindows(const _MgrFuncTable* mgr)
{
    prevWndService().setFactory([mgr](const PrevCreateRequest& r) { return CPreviewDialog::create(mgr, r); },
                                GuiDispatch{[] { return qApp && QThread::currentThread() == qApp->thread(); },
                                            [](std::function<void()> f) {
                                                if (qApp)
                                                    QMetaObject::invokeMethod(qApp, std::move(f), Qt::QueuedConnection);
                                            }});
}
