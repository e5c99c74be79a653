#include "ctrl_window.h"

#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "ctrl_commands.h"
#include "ctrl_entry.h"
#include "ctrl_file_picker.h"
#include "settings_sheet.h"
#include "pluginfw/file_dialogs.h"
#include "pluginfw/plugin_window.h"
#include "pluginfw/test_pulse_dlg.h"
#include "pluginfw/time_utils.h"
#include "platform/numbers.h"
#include "prev_wnd_funcs.h"
#include "uikit/chain_combo.h"
#include "uikit/file_mode.h"
#include "uikit/file_mode_combo.h"
#include "uikit/image_saving.h"
#include "uikit/menu_path.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

namespace {

QString seconds(double s) { return QString::fromStdString(plat::formatFixed(s, 1)) + " s"; }
QString percent(double fraction) { return QString::fromStdString(plat::formatFixed(100.0 * fraction, 1)) + "%"; }

bool fileExists(const std::string& name)
{
    std::error_code ec;
    return std::filesystem::exists(name, ec);
}

// The preview functions of this plug-in, called as another plug-in calls them.
int previewCall(FuncItemCallback f, uint32_t id, _FuncSlot value = tvkSlotUint(0))
{
    const _FuncSlot in[] = {tvkSlotUint(id), value};
    return f(nullptr, in, nullptr);
}
bool previewVisible(uint32_t id)
{
    int32_t visible = 0;
    const _FuncSlot in[] = {tvkSlotUint(id)};
    void* out[] = {&visible};
    return PrevWndIsVisible(nullptr, in, out) == 0 && visible != 0;
}

struct FileDlgKind {
    const char* ext;
    const char* filter;
};
const FileDlgKind kConfigFiles = {"tcf", "Tarvik Config files (*.tcf);;All files (*)"};
const FileDlgKind kBinaryPixFiles = {"bpc", "Binary Pixel Configuration files (*.bpc);;All files (*)"};
const FileDlgKind kAsciiFiles = {"txt", "ASCII text files (*.txt);;All files (*)"};
const FileDlgKind kFrameFiles = {"dsc", "Frame description files (*.dsc);;All files (*)"};

} // namespace

CTvkCtrlUIDialog::CTvkCtrlUIDialog(const _MgrFuncTable* mgr, int devIndex, std::string title, std::string iniPath,
                                   QWidget* parent)
    : QDialog(parent), mgr_(mgr), devIndex_(devIndex), title_(std::move(title)), iniPath_(std::move(iniPath)),
      worker_(std::make_shared<AcqControl>(mgr))
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Tarvik Control"));
    worker_->setDevIndex(devIndex);
    setProperty(kDeviceProperty, devIndex);
    setProperty(kControlWindowProperty, true);
    buildControls();
    layout()->activate(); // the minimum size is set before the window exists on the screen
    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &CTvkCtrlUIDialog::onTimer);
    // The window's shortcuts come before the bindings of its focused control (eventFilter).
    qApp->installEventFilter(this);
}

CTvkCtrlUIDialog::~CTvkCtrlUIDialog()
{
    qApp->removeEventFilter(this);
    // Abort, wait (pumping, so that queued work of the worker is not waited for), then save.
    worker_->requestAbort();
    waitForThread(*worker_, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
    worker_->setObserver(nullptr);
    saveSettings();
    if (previewId_)
        previewCall(PrevWndDestroy, previewId_);
}

void CTvkCtrlUIDialog::saveSettings()
{
    if (!initialised_)
        return; // a window without its preview never loaded the settings: it must not overwrite them
    collectValues(); // what the edits hold now, typed since the last start or never started
    if (worker_->thread()) // a series ran: the delay it used before its last repetition
        worker_->settings().currentDelay = worker_->currentDelay();
    settings_.acq = worker_->settings();
    // The outer rectangle of the normal state, as the window is moved to it again.
    const WindowPlacement p = closed_ ? closedPlacement_ : currentPlacement(this);
    settings_.left = p.left;
    settings_.top = p.top;
    settings_.right = p.right;
    settings_.bottom = p.bottom;
    settings_.showCmd = p.showCmd;
    std::string error;
    if (settings_.save(iniPath_, &error) != 0 && mgr_->mgrLogMsg)
        mgr_->mgrLogMsg("tvkctrlui", "%s", 0, error.c_str());
}

void CTvkCtrlUIDialog::buildControls()
{
    auto* outer = new QVBoxLayout(this);
    auto* bar = new QMenuBar(this);
    outer->setMenuBar(bar);

    auto* acqBox = new QGroupBox(QStringLiteral("Acquistion control"), this);
    auto* g = new QGridLayout(acqBox);
    typeCombo_ = new QComboBox(acqBox);
    typeCombo_->addItems({QStringLiteral("Frames"), QStringLiteral("Integral"), QStringLiteral("Test pulses")});
    toFiles_ = new QCheckBox(QStringLiteral("To files:"), acqBox);
    fileMode_ = new CComboBoxFileMode(acqBox);
    fileEdit_ = new QLineEdit(acqBox);
    fileBrowse_ = new QPushButton(QStringLiteral("..."), acqBox);
    countEdit_ = new CSmartEdit(acqBox);
    timeEdit_ = new CSmartEdit(acqBox);
    spacingEdit_ = new CSmartEdit(acqBox);
    repeatCheck_ = new QCheckBox(QStringLiteral("Repeat"), acqBox);
    repeatCountEdit_ = new CSmartEdit(acqBox);
    countSpin_ = new CSmartSpin(countEdit_, acqBox);
    repeatCountSpin_ = new CSmartSpin(repeatCountEdit_, acqBox);
    delayEdit_ = new CSmartEdit(acqBox);
    startButton_ = new QPushButton(QStringLiteral("Start"), acqBox);
    g->addWidget(new QLabel(QStringLiteral("Acq. type:"), acqBox), 0, 0);
    g->addWidget(typeCombo_, 0, 1);
    g->addWidget(toFiles_, 0, 2);
    g->addWidget(fileMode_, 0, 3, 1, 2);
    g->addWidget(fileEdit_, 1, 0, 1, 4);
    g->addWidget(fileBrowse_, 1, 4);
    g->addWidget(new QLabel(QStringLiteral("Acq. count:"), acqBox), 2, 0);
    // An edit and its spin share one cell, the spin's arrows against the edit's right edge.
    const auto withSpin = [](CSmartEdit* edit, CSmartSpin* spin) {
        auto* cell = new QHBoxLayout;
        cell->setSpacing(0);
        cell->addWidget(edit, 1);
        cell->addWidget(spin);
        return cell;
    };
    g->addLayout(withSpin(countEdit_, countSpin_), 2, 1);
    g->addWidget(new QLabel(QStringLiteral("Acq. time [s]:"), acqBox), 2, 2);
    g->addWidget(timeEdit_, 2, 3);
    g->addWidget(new QLabel(QStringLiteral("Spacing:"), acqBox), 3, 0);
    g->addWidget(spacingEdit_, 3, 1);
    g->addWidget(repeatCheck_, 4, 0);
    g->addLayout(withSpin(repeatCountEdit_, repeatCountSpin_), 4, 1);
    g->addWidget(new QLabel(QStringLiteral("Delay [s]:"), acqBox), 4, 2);
    g->addWidget(delayEdit_, 4, 3);
    g->addWidget(startButton_, 3, 3, 1, 2);

    auto* progBox = new QGroupBox(QStringLiteral("Progress"), this);
    auto* p = new QGridLayout(progBox);
    const struct {
        const char* text;
        QLabel** label;
    } statics[] = {{"Total prog.:", &totalProg_}, {"Total time:", &totalTime_}, {"Acquisition:", &acqLabel_},
                   {"Acq. prog.:", &acqProg_},    {"A. run time:", &runTime_},  {"Wait time:", &waitTime_},
                   {"Repetitions:", &repetitions_}};
    int i = 0;
    for (const auto& s : statics) {
        *s.label = new QLabel(QStringLiteral("-"), progBox);
        p->addWidget(new QLabel(QString::fromLatin1(s.text), progBox), i / 2, (i % 2) * 2);
        p->addWidget(*s.label, i / 2, (i % 2) * 2 + 1);
        ++i;
    }

    auto* filtBox = new QGroupBox(QStringLiteral("Filtered output"), this);
    auto* f = new QGridLayout(filtBox);
    chainCombo_ = new CComboBoxFilterChains(mgr_, filtBox);
    filtMode_ = new CComboBoxFileMode(filtBox);
    filtEdit_ = new QLineEdit(filtBox);
    filtBrowse_ = new QPushButton(QStringLiteral("..."), filtBox);
    f->addWidget(new QLabel(QStringLiteral("Filter chain:"), filtBox), 0, 0);
    f->addWidget(chainCombo_, 0, 1);
    f->addWidget(filtMode_, 0, 2, 1, 2);
    f->addWidget(filtEdit_, 1, 0, 1, 3);
    f->addWidget(filtBrowse_, 1, 3);

    auto* msgHeader = new QHBoxLayout;
    msgHeader->addWidget(new QLabel(QStringLiteral("Info and error messages:"), this));
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    msgHeader->addStretch();
    msgHeader->addWidget(clear);
    messages_ = new QListWidget(this);
    messages_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    // Object names by which the controls are found from outside the plug-in (tests of the loaded plug-in).
    const struct {
        QWidget* control;
        const char* name;
    } names[] = {{typeCombo_, "acqType"},        {toFiles_, "toFiles"},         {fileEdit_, "fileName"},
                 {countEdit_, "acqCount"},       {countSpin_, "acqCountSpin"},  {timeEdit_, "acqTime"},
                 {spacingEdit_, "spacing"},      {repeatCheck_, "repeat"},      {repeatCountEdit_, "repeatCount"},
                 {repeatCountSpin_, "repeatCountSpin"}, {delayEdit_, "delay"}, {startButton_, "start"},
                 {messages_, "messages"}};
    for (const auto& n : names)
        n.control->setObjectName(QString::fromLatin1(n.name));
    outer->addWidget(acqBox);
    outer->addWidget(progBox);
    outer->addWidget(filtBox);
    outer->addLayout(msgHeader);
    outer->addWidget(messages_, 1);

    connect(typeCombo_, qOverload<int>(&QComboBox::activated), this, &CTvkCtrlUIDialog::onTypeChosen);
    connect(toFiles_, &QCheckBox::clicked, this, &CTvkCtrlUIDialog::onRawOutputToggled);
    connect(fileMode_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        settings_.fileOutputMode = index;
        worker_->settings().fileFlags = fileModeFlags(index);
    });
    connect(filtMode_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        settings_.filtOutputMode = index;
        worker_->settings().filtFlags = fileModeFlags(index);
    });
    connect(chainCombo_, qOverload<int>(&QComboBox::activated), this, &CTvkCtrlUIDialog::onChainChosen);
    connect(chainCombo_, &CComboBoxFilterChains::chainChanged, this, &CTvkCtrlUIDialog::onChainChosen);
    connect(repeatCheck_, &QCheckBox::clicked, this, [this](bool on) {
        worker_->setRepeat(on); // a series running ends after its current run
        updateControls(idle_);
    });
    connect(fileBrowse_, &QPushButton::clicked, this, [this] {
        QString path = fileEdit_->text();
        browseSaveFile(path, fileEdit_);
    });
    connect(filtBrowse_, &QPushButton::clicked, this, [this] {
        QString path = filtEdit_->text();
        browseSaveFile(path, filtEdit_);
    });
    connect(startButton_, &QPushButton::clicked, this, [this] {
        if (idle_)
            startAcquisition();
        else
            abortAcquisition();
    });
    connect(clear, &QPushButton::clicked, messages_, &QListWidget::clear);
    buildMenu();
}

QAction* CTvkCtrlUIDialog::addCommand(QMenu* menu, int id, const QString& text, bool checkable)
{
    QAction* a = menu->addAction(text);
    a->setData(id);
    a->setCheckable(checkable);
    actions_[id] = a;
    connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    return a;
}

void CTvkCtrlUIDialog::buildMenu()
{
    auto* bar = static_cast<QMenuBar*>(layout()->menuBar());
    QMenu* device = bar->addMenu(QStringLiteral("&Device"));
    addCommand(device, CMD_RECONNECT, QStringLiteral("R&econnect Device"));
    addCommand(device, CMD_REINIT, QStringLiteral("&Reinitialize Device"));
    addCommand(device, CMD_REVIVE, QStringLiteral("Re&vive Device"));
    device->addSeparator();
    addCommand(device, CMD_DEVICE_SETTINGS, QStringLiteral("Device Settings..."))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    device->addSeparator();
    addCommand(device, CMD_EXIT, QStringLiteral("E&xit"));

    QMenu* config = bar->addMenu(QStringLiteral("&Configuration"));
    addCommand(config, CMD_LOAD_CONFIG, QStringLiteral("&Load Config..."));
    addCommand(config, CMD_SAVE_CONFIG, QStringLiteral("&Save Config..."));
    addCommand(config, CMD_SAVE_CONFIG_DEFAULT, QStringLiteral("Save Config as Default"));
    config->addSeparator();
    QMenu* mode = config->addMenu(QStringLiteral("Set Mode"));
    const char* modes[] = {"Tarvik", "Time over Threshold", "Sarnet 1 hit", "Sarnet"};
    for (int i = 0; i < 4; ++i)
        addCommand(mode, CMD_SET_MODE_FIRST + i, QString::fromLatin1(modes[i]));
    QMenu* reset = config->addMenu(QStringLiteral("Reset Pixels Cfg"));
    addCommand(reset, CMD_RESET_ALL, QStringLiteral("All Bits"));
    const char* resets[] = {"Mask Bits", "Test Bits", "THL Adj. Bits", "THH Adj. Bits"};
    for (int i = 0; i < 4; ++i)
        addCommand(reset, CMD_RESET_FIRST + i, QString::fromLatin1(resets[i]));
    config->addSeparator();
    addCommand(config, CMD_LOAD_BINARY, QStringLiteral("Load &Binary Pixels Cfg..."));
    addCommand(config, CMD_SAVE_BINARY, QStringLiteral("Save B&inary Pixels Cfg..."));
    QMenu* loadAscii = config->addMenu(QStringLiteral("Load ASCII Pixels Cfg"));
    QMenu* saveAscii = config->addMenu(QStringLiteral("Save ASCII Pixels Cfg"));
    const char* parts[] = {"Mask Bits...", "Test Bits...", "Low Thresholds...", "High Thresholds...", "Mode Mask"};
    for (int i = 0; i < 5; ++i) {
        addCommand(loadAscii, CMD_LOAD_ASCII_FIRST + i, QStringLiteral("Load ") + QString::fromLatin1(parts[i]));
        addCommand(saveAscii, CMD_SAVE_ASCII_FIRST + i, QStringLiteral("Save ") + QString::fromLatin1(parts[i]));
    }
    addCommand(config, CMD_LOAD_SAVE_DACS, QStringLiteral("Load/Save DACs with Pix. Cfg."), true);

    QMenu* acq = bar->addMenu(QStringLiteral("&Acquisition"));
    addCommand(acq, CMD_START, QStringLiteral("&Start"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    addCommand(acq, CMD_ABORT, QStringLiteral("A&bort"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    addCommand(acq, CMD_TEST_PULSES, QStringLiteral("&Test Pulses Parameters"));
    acq->addSeparator();
    addCommand(acq, CMD_LOAD_FRAME, QStringLiteral("Load Frame..."));
    addCommand(acq, CMD_SAVE_FRAMES, QStringLiteral("Save Frames..."));
    acq->addSeparator();
    addCommand(acq, CMD_PREVIEW_VISIBLE, QStringLiteral("Preview Visible"), true)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    addCommand(acq, CMD_AUTOSTART, QStringLiteral("Autostart"), true);
    addCommand(acq, CMD_REFRESH_DACS, QStringLiteral("Refresh DACs"), true);
    addCommand(acq, CMD_REFRESH_PIXCFG, QStringLiteral("Refresh Pixels Cfg"), true);

    toolsMenu_ = bar->addMenu(QStringLiteral("&Tools"));
    for (QMenu* m : {device, config, mode, reset, loadAscii, saveAscii, acq, toolsMenu_})
        connect(m, &QMenu::aboutToShow, this, &CTvkCtrlUIDialog::updateCommandStates);
    // The shortcuts work wherever the focus is in the window.
    for (auto& [id, a] : actions_)
        if (!a->shortcut().isEmpty()) {
            a->setShortcutContext(Qt::WindowShortcut);
            addAction(a);
        }
}

void CTvkCtrlUIDialog::buildToolsMenu()
{
    char path[MGR_MENU_NAME_SIZE] = {};
    if (mgr_->mgrGetTvkMenuPath(devIndex_, path) != 0)
        return;
    for (const ToolsItem& item : toolsItems(std::string(path) + "|", managerMenuItems(mgr_))) {
        toolsMap_[item.commandId] = item.managerId;
        if (!item.shown)
            continue;
        addMenuItemByPath(toolsMenu_, QString::fromStdString(item.text), QString::fromStdString(item.path),
                          item.commandId);
    }
    // addMenuItemByPath makes plain actions carrying the command id (submenus are children of their menu).
    for (QAction* a : toolsMenu_->findChildren<QAction*>())
        if (!a->menu() && a->data().isValid())
            connect(a, &QAction::triggered, this, [this, id = a->data().toInt()] { runCommand(id); });
}

bool CTvkCtrlUIDialog::init()
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    {
        const _FuncSlot in[] = {tvkSlotInt(devIndex_), tvkSlotInt(0), tvkSlotPtr(iniPath_.c_str())};
        void* out[] = {&previewId_};
        if (PrevWndCreateDevID(nullptr, in, out) != 0) {
            previewId_ = 0;
            return false;
        }
    }
    // Errors of the preview (a frame it cannot get, a pixel command refused) go to the message list.
    {
        const _FuncSlot in[] = {tvkSlotUint(previewId_), tvkSlotPtr(reinterpret_cast<void*>(&ctrlOnPreviewError))};
        PrevWndSetErrorCb(nullptr, in, nullptr);
    }
    renewCaptions(title_);
    int mode = 1;
    if (mgr_->tvkCtrlGetAcqMode(unsigned(devIndex_), &mode) == 0)
        worker_->setAcqMode(mode);
    settings_.load(iniPath_);
    worker_->settings() = settings_.acq;
    worker_->setObserver(this);
    initialised_ = true;
    buildToolsMenu();
    for (QLabel* l : {totalProg_, totalTime_, acqLabel_, acqProg_, runTime_, waitTime_, repetitions_})
        l->setText(QStringLiteral("-"));
    showSettings();
    restorePlacement();
    updateControls(true);
    return true;
}

void CTvkCtrlUIDialog::restorePlacement()
{
    showCmd_ = settings_.showCmd;
    if (!settings_.hasPosition)
        return; // the window system places it
    // The saved corner moves the window; it keeps its own size, the one it is shown in.
    if (!testAttribute(Qt::WA_Resized))
        adjustSize();
    WindowPlacement p = currentPlacement(this);
    p.right += settings_.left - p.left;
    p.bottom += settings_.top - p.top;
    p.left = settings_.left;
    p.top = settings_.top;
    p.showCmd = showCmd_;
    placeWindow(this, p);
}

void CTvkCtrlUIDialog::showPlaced()
{
    switch (showCmd_) {
    case SW_SHOWMINIMIZED: showMinimized(); break;
    case SW_SHOWMAXIMIZED: showMaximized(); break;
    default:
        show();
        keepWindowOnScreen(this);
        break;
    }
}

void CTvkCtrlUIDialog::showSettings()
{
    AcqSettings& s = worker_->settings();
    repeatCheck_->setChecked(s.repeat != 0);
    typeCombo_->setCurrentIndex(s.acqType);
    fileMode_->fillModes();
    filtMode_->fillModes();
    fileMode_->setCurrentIndex(settings_.fileOutputMode);
    filtMode_->setCurrentIndex(settings_.filtOutputMode);
    chainCombo_->fillChains();
    const int chain = chainCombo_->findText(QString::fromStdString(settings_.filterChain), Qt::MatchExactly);
    chainCombo_->setCurrentIndex(chain > 0 ? chain : 0);
    s.filterChainId = chainCombo_->selectedChainId();
    s.filtFlags = fileModeFlags(settings_.filtOutputMode);
    toFiles_->setChecked(settings_.rawOutput != 0);
    onRawOutputToggled();
    fileEdit_->setText(QString::fromStdString(s.fileName));
    filtEdit_->setText(QString::fromStdString(s.filtFileName));
    countEdit_->setMode(SmartEditValue::MODE_INT);
    countEdit_->setDoubleLimits(1, 1e9);
    countEdit_->setInt(s.acqCount);
    countSpin_->setRange(1, 1000000000);
    timeEdit_->setMode(SmartEditValue::MODE_DOUBLE);
    timeEdit_->setDoubleLimits(1e-9, 1e9);
    timeEdit_->setDouble(s.acqTime);
    spacingEdit_->setMode(SmartEditValue::MODE_INT);
    spacingEdit_->setDoubleLimits(1, 64);
    spacingEdit_->setInt(s.acqType == 2 ? s.tpSpacing : s.acqSpacing);
    repeatCountEdit_->setMode(SmartEditValue::MODE_INT);
    repeatCountEdit_->setDoubleLimits(0, 1e9);
    repeatCountEdit_->setUInt(s.repeatCount);
    repeatCountSpin_->setRange(0, 1000000000);
    delayEdit_->setMode(SmartEditValue::MODE_RANGE);
    delayEdit_->setDoubleLimits(0, 1e9);
    delayEdit_->setRangeValue(s.delayFrom, s.delayTo);
}

void CTvkCtrlUIDialog::renewCaptions(const std::string& title)
{
    title_ = title;
    setWindowTitle(QString::fromStdString(title_));
    if (previewId_) {
        const std::string caption = "Preview for " + title_;
        const _FuncSlot in[] = {tvkSlotUint(previewId_), tvkSlotPtr(caption.c_str())};
        PrevWndSetCaption(nullptr, in, nullptr);
    }
    devInfo_ = _DevInfo{};
    mgr_->tvkCtrlGetDevInfo(unsigned(devIndex_), &devInfo_);
}

void CTvkCtrlUIDialog::updateControls(bool enabled)
{
    idle_ = enabled;
    const AcqSettings& s = worker_->settings();
    typeCombo_->setEnabled(enabled);
    spacingEdit_->setEnabled(enabled);
    chainCombo_->setEnabled(enabled);
    repeatCountEdit_->setEnabled(enabled && s.repeat);
    delayEdit_->setEnabled(enabled && s.repeat);
    const bool filtered = enabled && s.filterChainId != 0;
    filtMode_->setEnabled(filtered);
    filtEdit_->setEnabled(filtered);
    filtBrowse_->setEnabled(filtered);
    if (s.acqType == 2) {
        for (QWidget* w : std::initializer_list<QWidget*>{toFiles_, countEdit_, timeEdit_, fileEdit_, fileBrowse_, fileMode_})
            w->setEnabled(false);
        return;
    }
    const int mode = worker_->acqMode();
    toFiles_->setEnabled(enabled);
    countEdit_->setEnabled(enabled);
    timeEdit_->setEnabled(enabled && mode != 4 && mode != 8);
    const bool files = enabled && s.fileFlags != 0;
    fileEdit_->setEnabled(files);
    fileBrowse_->setEnabled(files);
    fileMode_->setEnabled(files);
}

void CTvkCtrlUIDialog::onTypeChosen(int index)
{
    AcqSettings& s = worker_->settings();
    collectValues(); // the spacing shown belongs to the type chosen before
    s.acqType = index;
    spacingEdit_->setInt(index == 2 ? s.tpSpacing : s.acqSpacing);
    updateControls(true);
}

void CTvkCtrlUIDialog::onRawOutputToggled()
{
    settings_.rawOutput = toFiles_->isChecked();
    settings_.fileOutputMode = std::max(fileMode_->currentIndex(), 0);
    worker_->settings().fileFlags = settings_.rawOutput ? fileModeFlags(fileMode_->currentIndex()) : 0;
    updateControls(true);
}

void CTvkCtrlUIDialog::onChainChosen()
{
    worker_->settings().filterChainId = chainCombo_->selectedChainId();
    settings_.filterChain = chainCombo_->currentIndex() > 0 ? chainCombo_->currentText().toStdString() : "";
    updateControls(idle_);
}

void CTvkCtrlUIDialog::collectValues()
{
    AcqSettings& s = worker_->settings();
    if (timeEdit_->isValid())
        s.acqTime = timeEdit_->doubleValue();
    if (countEdit_->isValid())
        s.acqCount = int(countEdit_->intValue());
    if (repeatCountEdit_->isValid())
        s.repeatCount = uint32_t(repeatCountEdit_->intValue());
    if (delayEdit_->isValid()) {
        s.delayFrom = delayEdit_->rangeFrom();
        s.delayTo = delayEdit_->rangeTo();
    }
    if (spacingEdit_->isValid())
        (s.acqType == 2 ? s.tpSpacing : s.acqSpacing) = int(spacingEdit_->intValue());
    s.fileName = fileEdit_->text().toStdString();
    s.filtFileName = filtEdit_->text().toStdString();
}

bool CTvkCtrlUIDialog::confirmOverwrite(const AcqSettings& s, bool raw)
{
    const std::string& base = raw ? s.fileName : s.filtFileName;
    const std::string question = overwriteQuestion(base, plannedOutputNames(s, raw), fileExists);
    return question.empty() ||
           messageBox(this, QString::fromStdString(question), QString(), MSGBOX_YESNO | MSGBOX_ICONQUESTION) ==
               MSGBOX_IDYES;
}

void CTvkCtrlUIDialog::startAcquisition()
{
    if (!idle_ || worker_->isRunning())
        return;
    collectValues();
    const AcqSettings& s = worker_->settings();
    for (const std::string* name : {&s.fileName, &s.filtFileName})
        if (name->size() > kMaxFileName) {
            messageBox(this, QStringLiteral("The file name is too long (more than 511 characters)."), QString(),
                       MSGBOX_OK | MSGBOX_ICONWARNING);
            return;
        }
    if (const std::string problem = outputNamesProblem(s); !problem.empty()) {
        messageBox(this, QString::fromStdString(problem), QString(), MSGBOX_OK | MSGBOX_ICONWARNING);
        return;
    }
    if (!confirmOverwrite(s, true) || !confirmOverwrite(s, false))
        return;
    updateControls(false);
    for (QLabel* l : {totalProg_, totalTime_, acqLabel_, acqProg_, runTime_, waitTime_, repetitions_})
        l->setText(QStringLiteral("-"));
    if (!worker_->startSeries()) {
        updateControls(true);
        return;
    }
    timer_->start();
    startButton_->setText(QStringLiteral("Abort"));
}

void CTvkCtrlUIDialog::abortAcquisition()
{
    if (worker_->isRunning())
        worker_->requestAbort();
}

void CTvkCtrlUIDialog::updateProgress()
{
    const AcqProgress p = worker_->getProgress();
    const AcqSettings& s = worker_->running();
    const bool waiting = worker_->waitingForTrigger();
    if (waiting) {
        if (!runTime_->text().startsWith('T'))
            runTime_->setText(QStringLiteral("Trig. waiting"));
    } else {
        runTime_->setText(seconds(p.frameElapsed));
    }
    totalTime_->setText(seconds(p.runElapsed));
    if (s.acqType == 2) {
        if (p.framesDone >= 1)
            totalProg_->setText(QStringLiteral("100.0%"));
        return;
    }
    const int mode = worker_->acqMode();
    if (!(waiting && (mode == 4 || mode == 8)))
        acqProg_->setText(percent(p.frame));
    totalProg_->setText(percent(p.total));
    acqLabel_->setText(QStringLiteral("%1/%2").arg(p.framesDone).arg(s.acqCount));
}

void CTvkCtrlUIDialog::onTimer()
{
    if (worker_->waitingDelay())
        waitTime_->setText(seconds(getPreciseTime() - worker_->delayStart()));
    else
        updateProgress();
}

void CTvkCtrlUIDialog::onRepetitionAcquiring(int k)
{
    if (worker_->currentDelay() > 0)
        waitTime_->setText(seconds(getPreciseTime() - worker_->delayStart()));
    const uint32_t count = worker_->running().repeatCount;
    repetitions_->setText(count == 0 ? QStringLiteral("%1/-").arg(k) : QStringLiteral("%1/%2").arg(k).arg(count));
}

void CTvkCtrlUIDialog::onSeriesEnded()
{
    if (worker_->isRunning())
        waitForThread(*worker_); // it has sent its last report: the thread ends at once
    timer_->stop();
    updateProgress();
    startButton_->setText(QStringLiteral("Start"));
    updateControls(true);
}

void CTvkCtrlUIDialog::repetitionStarting(int)
{
    runOnGuiThread(this, [this] { updateProgress(); });
}
void CTvkCtrlUIDialog::repetitionAcquiring(int k)
{
    runOnGuiThread(this, [this, k] { onRepetitionAcquiring(k); });
}
void CTvkCtrlUIDialog::seriesEnded()
{
    runOnGuiThread(this, [this] { onSeriesEnded(); });
}

void CTvkCtrlUIDialog::addMessage(const QString& text)
{
    messages_->addItem(text);
    while (messages_->count() >= kMaxMessages)
        delete messages_->takeItem(0);
    messages_->scrollToBottom();
}

void CTvkCtrlUIDialog::closeEvent(QCloseEvent* event)
{
    if (messageBox(this, QStringLiteral("Quit?"), QString(), MSGBOX_YESNO | MSGBOX_ICONQUESTION) != MSGBOX_IDYES) {
        event->ignore();
        return;
    }
    closedPlacement_ = currentPlacement(this);
    closed_ = true;
    event->accept();
    deleteLater();
}

void CTvkCtrlUIDialog::reject() { close(); }

bool CTvkCtrlUIDialog::eventFilter(QObject* watched, QEvent* event)
{
    // A focused control claims the keys it binds itself (an edit takes Ctrl+A for "select all") before the
    // shortcuts are looked at. For a key of an enabled command of this window the claim is refused, so the
    // command runs; a disabled command leaves the key to the control. The states are computed here, as
    // opening a menu does, so that a series started or ended since is taken into account.
    if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType())
        return QDialog::eventFilter(watched, event);
    auto* widget = static_cast<QWidget*>(watched);
    if (widget != this && !isAncestorOf(widget))
        return QDialog::eventFilter(watched, event);
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (const auto& [id, action] : actions_) {
        if (action->shortcut().isEmpty() || action->shortcut() != pressed)
            continue;
        updateCommandStates();
        if (!action->isEnabled())
            break;
        event->ignore(); // not claimed: the shortcut runs
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

QAction* CTvkCtrlUIDialog::commandAction(int id) const
{
    const auto it = actions_.find(id);
    if (it != actions_.end())
        return it->second;
    for (QAction* a : toolsMenu_->findChildren<QAction*>())
        if (a->data().isValid() && a->data().toInt() == id)
            return a;
    return nullptr;
}

void CTvkCtrlUIDialog::updateCommandStates()
{
    const int chipType = int(devInfo_.chipType);
    for (auto& [id, a] : actions_)
        a->setEnabled(commandEnabled(id, idle_, chipType));
    const AcqSettings& s = worker_->settings();
    actions_[CMD_PREVIEW_VISIBLE]->setChecked(previewId_ && previewVisible(previewId_));
    actions_[CMD_AUTOSTART]->setChecked(settings_.autostart != 0);
    actions_[CMD_REFRESH_DACS]->setChecked(s.refreshDacs != 0);
    actions_[CMD_REFRESH_PIXCFG]->setChecked(s.refreshPixCfg != 0);
    actions_[CMD_LOAD_SAVE_DACS]->setChecked(settings_.loadSaveDacsWithPixCfg != 0);
}

void CTvkCtrlUIDialog::runCommand(int id)
{
    updateCommandStates();
    if (!commandEnabled(id, idle_, int(devInfo_.chipType)))
        return;
    const unsigned dev = unsigned(devIndex_);
    const int withDacs = settings_.loadSaveDacsWithPixCfg;
    AcqSettings& s = worker_->settings();
    auto pick = [this](bool save, const FileDlgKind& kind) {
        return ctrlFilePicker()(this, save, QString::fromLatin1(kind.filter), QString::fromLatin1(kind.ext))
            .toStdString();
    };
    if (id >= CMD_TOOLS_FIRST && id <= CMD_TOOLS_LAST) {
        if (const auto it = toolsMap_.find(id); it != toolsMap_.end())
            mgr_->mgrCallMenuItemByID(it->second);
        return;
    }
    if (id >= CMD_SET_MODE_FIRST && id <= CMD_SET_MODE_FIRST + 3) {
        setPixelBits(mgr_, devIndex_, 4 + id - CMD_SET_MODE_FIRST);
        return;
    }
    if (id >= CMD_RESET_FIRST && id <= CMD_RESET_FIRST + 3) {
        setPixelBits(mgr_, devIndex_, id - CMD_RESET_FIRST);
        return;
    }
    const bool loadAscii = id >= CMD_LOAD_ASCII_FIRST && id <= CMD_LOAD_ASCII_FIRST + 4;
    const bool saveAscii = id >= CMD_SAVE_ASCII_FIRST && id <= CMD_SAVE_ASCII_FIRST + 4;
    if (loadAscii || saveAscii) {
        const std::string path = pick(saveAscii, kAsciiFiles);
        if (path.empty())
            return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto a = asciiFileArgs(id - (loadAscii ? CMD_LOAD_ASCII_FIRST : CMD_SAVE_ASCII_FIRST), path.c_str());
        if (loadAscii)
            mgr_->tvkCtrlLoadPixelsCfgAscii(dev, a[0], a[1], a[2], a[3], withDacs);
        else
            mgr_->tvkCtrlSavePixelsCfgAscii(dev, a[0], a[1], a[2], a[3], withDacs);
        QApplication::restoreOverrideCursor();
        return;
    }
    switch (id) {
    case CMD_RECONNECT: mgr_->tvkCtrlReconnectTvk(dev); break;
    case CMD_REINIT: mgr_->tvkCtrlInitTvkDevice(dev, nullptr); break;
    case CMD_REVIVE: mgr_->tvkCtrlReviveTvkDevice(dev); break;
    case CMD_LOAD_CONFIG:
        if (const std::string path = pick(false, kConfigFiles); !path.empty())
            mgr_->tvkCtrlInitTvkDevice(dev, path.c_str());
        break;
    case CMD_SAVE_CONFIG:
        if (const std::string path = pick(true, kConfigFiles); !path.empty())
            mgr_->tvkCtrlSaveTvkCfg(dev, path.c_str());
        break;
    case CMD_SAVE_CONFIG_DEFAULT: mgr_->tvkCtrlSaveTvkCfgAsDefault(dev); break;
    case CMD_RESET_ALL: mgr_->tvkCtrlResetPixelsCfg(dev, -1); break;
    case CMD_LOAD_BINARY:
    case CMD_SAVE_BINARY:
        if (const std::string path = pick(id == CMD_SAVE_BINARY, kBinaryPixFiles); !path.empty()) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            if (id == CMD_LOAD_BINARY)
                mgr_->tvkCtrlLoadPixelsCfg(dev, path.c_str(), withDacs);
            else
                mgr_->tvkCtrlSavePixelsCfg(dev, path.c_str(), withDacs);
            QApplication::restoreOverrideCursor();
        }
        break;
    case CMD_LOAD_FRAME:
        if (const std::string path = pick(false, kFrameFiles); !path.empty()) {
            uint32_t frame = 0;
            mgr_->mgrLoadFrame(&frame, path.c_str());
        }
        break;
    case CMD_SAVE_FRAMES: {
        QString path;
        uint32_t flags = 0;
        if (getSaveDataPath(this, path, flags) == 0 && !path.isEmpty()) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            mgr_->tvkCtrlSaveFrame(dev, path.toStdString().c_str(), -1, flags);
            QApplication::restoreOverrideCursor();
        }
        break;
    }
    case CMD_EXIT: close(); break;
    case CMD_START: startAcquisition(); break;
    case CMD_ABORT: abortAcquisition(); break;
    case CMD_TEST_PULSES: {
        CTestPulsesParsDlg dlg(this);
        dlg.pars.devId = devIndex_;
        dlg.pars.height = s.pulseHeight;
        dlg.pars.period = s.pulsePeriod;
        dlg.pars.count = s.pulseCount;
        dlg.pars.spacing = s.tpSpacing;
        if (dlg.DoModal() == MSGBOX_IDOK) {
            s.pulseHeight = dlg.pars.height;
            s.pulsePeriod = dlg.pars.period;
            s.pulseCount = dlg.pars.count;
            s.tpSpacing = std::clamp(dlg.pars.spacing, 1, 64);
            if (s.acqType == 2)
                spacingEdit_->setInt(s.tpSpacing);
        }
        break;
    }
    case CMD_DEVICE_SETTINGS: {
        openDeviceSettings(this, mgr_, devIndex_);
        int mode = 1;
        if (mgr_->tvkCtrlGetAcqMode(dev, &mode) == 0)
            worker_->setAcqMode(mode);
        updateControls(true);
        break;
    }
    case CMD_PREVIEW_VISIBLE:
        if (previewId_)
            previewCall(PrevWndShow, previewId_, tvkSlotInt(previewVisible(previewId_) ? 0 : 1));
        break;
    case CMD_AUTOSTART: settings_.autostart = !settings_.autostart; break;
    case CMD_REFRESH_DACS: s.refreshDacs = !s.refreshDacs; break;
    case CMD_REFRESH_PIXCFG: s.refreshPixCfg = !s.refreshPixCfg; break;
    case CMD_LOAD_SAVE_DACS: settings_.loadSaveDacsWithPixCfg = !settings_.loadSaveDacsWithPixCfg; break;
    default: break;
    }
}
