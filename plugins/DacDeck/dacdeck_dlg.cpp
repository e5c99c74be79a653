#include "dacdeck_dlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include "dacdeck_data.h"
#include "pluginfw/plugin_table.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

namespace {

// Column geometry in dialog units: the first column at x 107, each further one 50 to the right.
constexpr int kFirstX = 107;
constexpr int kStepX = 50;

QString dacName(const char** names, int i, int dacCount)
{
    return i == dacCount ? QStringLiteral("Ext DAC") : QString::fromLatin1(names[i]);
}

} // namespace

CDacDeckDlg::CDacDeckDlg(int devId) : devId_(devId) { setObjectName(QStringLiteral("DacDeckDlg")); }

CDacDeckDlg::~CDacDeckDlg() = default;

void CDacDeckDlg::saveSettings()
{
    DacDeckData* d = data();
    if (!d || !built_)
        return;
    // The window is going: no box here, the manager's log tells that the settings were not kept.
    std::string error;
    if (dacdeck::writeSettings(d->saveIniFile,
                               {static_cast<int>(activeDacs_), static_cast<int>(lockedDacs_), senseCount_},
                               &error) != 0) {
        if (const _MgrFuncTable* t = pluginTable(); t && t->mgrLogMsg)
            t->mgrLogMsg("dacdeck", "Device %d: the settings were not saved to %s: %s", 0, devId_,
                         d->saveIniFile.c_str(), error.c_str());
    }
}

DacDeckData* CDacDeckDlg::data() const { return findDacDeckData(devId_); }

int CDacDeckDlg::dluX(int x) const { return x * QFontMetrics(font()).averageCharWidth() / 4; }
int CDacDeckDlg::dluY(int y) const { return y * QFontMetrics(font()).height() / 8; }

QString CDacDeckDlg::caption(const char* form) const
{
    DacDeckData* d = data();
    return QString::asprintf(form, d ? d->title().c_str() : "");
}

void CDacDeckDlg::setCaption(const char* form) { setWindowTitle(caption(form)); }

bool CDacDeckDlg::Create()
{
    DacDeckData* d = data();
    if (!d)
        return false;
    const _MgrFuncTable* t = pluginTable();
    _DevInfo info{};
    t->tvkCtrlGetDevInfo(static_cast<unsigned>(devId_), &info);
    chipCount_ = std::max(info.chipCount, 0);
    chipType_ = info.chipType;
    extMin_ = info.reserved;
    extMax_ = info.extDacMax;
    extStep_ = info.extDacStep;

    const dacdeck::Settings s = dacdeck::readSettings(d->loadIniFile, d->moduleName.empty() ? std::string()
        : d->loadIniFile.substr(0, d->loadIniFile.find_last_of('/') + 1) + d->moduleName + ".ini");
    activeDacs_ = static_cast<uint32_t>(s.activeDacs);
    lockedDacs_ = static_cast<uint32_t>(s.lockedDacs);
    senseCount_ = s.senseCount;
    d->state.setSenseCount(senseCount_);

    chipCombo_ = new QComboBox(this);
    chipCombo_->setObjectName(QStringLiteral("chip"));
    chipCombo_->setGeometry(dluX(7), dluY(9), dluX(40), dluY(12));
    for (int c = 0; c < chipCount_; ++c)
        chipCombo_->addItem(QString::number(c));
    chipCombo_->setCurrentIndex(selectedChip_);
    extCombo_ = new QComboBox(this);
    extCombo_->setObjectName(QStringLiteral("extDac"));
    extCombo_->setGeometry(dluX(7), dluY(36), dluX(90), dluY(12));
    // Each combo's label stands above it and is its buddy (the mnemonic focuses the combo).
    auto* chipLabel = new QLabel(QStringLiteral("&Chip:"), this);
    chipLabel->setBuddy(chipCombo_);
    chipLabel->setGeometry(dluX(7), dluY(0), dluX(40), dluY(9));
    auto* extLabel = new QLabel(QStringLiteral("E&xt DAC to:"), this);
    extLabel->setBuddy(extCombo_);
    extLabel->setGeometry(dluX(7), dluY(26), dluX(90), dluY(10));
    thlText_ = new QLabel(QStringLiteral("-"), this);
    thlText_->setObjectName(QStringLiteral("thlFbk"));
    thlText_->setGeometry(dluX(7), dluY(60), dluX(95), dluY(10));
    thhText_ = new QLabel(QStringLiteral("-"), this);
    thhText_->setObjectName(QStringLiteral("thhFbk"));
    thhText_->setGeometry(dluX(7), dluY(84), dluX(95), dluY(10));
    auto* thlLabel = new QLabel(QStringLiteral("THL-FBK:"), this);
    thlLabel->setGeometry(dluX(7), dluY(50), dluX(90), dluY(10));
    auto* thhLabel = new QLabel(QStringLiteral("THH-FBK:"), this);
    thhLabel->setGeometry(dluX(7), dluY(74), dluX(90), dluY(10));
    settingsButton_ = new QPushButton(QStringLiteral("Settings"), this);
    settingsButton_->setObjectName(QStringLiteral("settings"));
    settingsButton_->setAutoDefault(false);
    settingsButton_->setGeometry(dluX(7), dluY(100), dluX(50), dluY(14));
    connect(settingsButton_, &QPushButton::clicked, this, &CDacDeckDlg::openSettings);
    connect(chipCombo_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (updating_ || index < 0 || index == selectedChip_)
            return;
        selectedChip_ = index;
        refresh();
    });
    setMinimumSize(dluX(kFirstX), dluY(130));
    resize(dluX(kFirstX), dluY(130));

    if (t->tvkCtrlGetDACsNames(static_cast<unsigned>(devId_), &names_, &widths_, &dacCount_) != 0 || dacCount_ <= 0) {
        dacCount_ = 0;
        OnInitDialog();
        owner()->loadWindowPos();
        return true; // a window without columns, not ready
    }
    extCombo_->addItem(QStringLiteral("None"));
    for (int i = 0; i < dacCount_; ++i)
        extCombo_->addItem(QString::fromLatin1(names_[i]));
    connect(extCombo_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (updating_)
            return;
        extDacIndex_ = index - 1;
        applyExtDacNow();
    });

    for (int i = dacCount_ - 1; i >= 0; --i) {
        const QString n = QString::fromLatin1(names_[i]);
        if (n == QLatin1String("THL"))
            thl_ = i;
        if (n == QLatin1String("THH"))
            thh_ = i;
        if (n == QLatin1String("FBK"))
            fbk_ = i;
    }
    d->state.setIndices(thl_, thh_, fbk_);
    if (thl_ < 0 || fbk_ < 0 || (thh_ < 0 && chipType_ != 3)) {
        OnInitDialog();
        owner()->loadWindowPos();
        return true;
    }
    values_.assign(static_cast<size_t>(dacCount_) * static_cast<size_t>(chipCount_), 0);
    thlSense_.assign(2 * static_cast<size_t>(chipCount_), 0.0);
    thhSense_ = fbkSense_ = thlSense_;
    buildColumns();
    layoutColumns();
    OnInitDialog();
    owner()->loadWindowPos();
    built_ = true;

    // The external DAC and the read-back: one try each; a busy device brings them with its next
    // "AcqCompleted" (the waiting caption until then).
    if (d->state.readExtDac() == dacdeck::Applied::Sent)
        onNotice(dacdeck::Notice::ExtDacRead, 0);
    else
        refreshExtDac();
    const bool waiting = d->state.sense() == dacdeck::Applied::Pending;
    if (!waiting)
        onNotice(dacdeck::Notice::ReadBackDone, 0);
    // The skeleton sets the bare title once Create has returned: the caption follows in the next event-loop
    // turn, before any notice that a handler queues once the window lock is free.
    QMetaObject::invokeMethod(
        this, [this, waiting] { setCaption(waiting ? "%s - waiting for update" : "%s - ready"); },
        Qt::QueuedConnection);
    d->windowReady = true;
    return true;
}

void CDacDeckDlg::buildColumns()
{
    columns_.resize(static_cast<size_t>(dacCount_) + 1);
    for (int i = 0; i <= dacCount_; ++i) {
        Column& c = columns_[static_cast<size_t>(i)];
        c.max = i < dacCount_ ? (1 << std::clamp(widths_[i], 0, 16)) - 1 : dacdeck::extDacRange(extMin_, extMax_, extStep_);
        c.label = new QLabel(dacName(names_, i, dacCount_), this);
        c.slider = new QSlider(Qt::Vertical, this);
        c.slider->setObjectName(QStringLiteral("slider%1").arg(i));
        c.slider->setRange(0, c.max);
        c.slider->setTickPosition(QSlider::TicksBothSides);
        c.edit = new CSmartEdit(this);
        c.edit->setObjectName(QStringLiteral("edit%1").arg(i));
        c.spin = new QSpinBox(this);
        c.spin->setObjectName(QStringLiteral("spin%1").arg(i));
        c.spin->setRange(0, c.max);
        c.spin->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
        if (i < dacCount_) {
            c.edit->setMode(SmartEditValue::MODE_INT);
            c.edit->setDoubleLimits(0, c.max);
        } else {
            c.edit->setMode(SmartEditValue::MODE_DOUBLE);
            c.edit->setDoubleLimits(extMin_, extMax_);
        }
        if (i < dacCount_ && chipCount_ > 1) {
            c.locked = new QCheckBox(QStringLiteral("Locked"), this);
            c.locked->setObjectName(QStringLiteral("locked%1").arg(i));
            c.locked->setChecked(i < 32 && (lockedDacs_ & (1u << i)));
        }
        connect(c.slider, &QSlider::valueChanged, this, [this, i](int v) {
            if (updating_)
                return;
            if (i < dacCount_)
                valueMoved(i, v);
            else
                extPositionMoved(v);
        });
        connect(c.spin, &QSpinBox::valueChanged, this, [this, i](int v) {
            if (updating_)
                return;
            if (i < dacCount_)
                valueMoved(i, v);
            else
                extPositionMoved(v);
        });
        connect(c.edit, &QLineEdit::editingFinished, this, [this, i] { applyEdit(i); });
    }
}

void CDacDeckDlg::layoutColumns()
{
    int shown = 0;
    for (int i = 0; i <= dacCount_; ++i) {
        Column& c = columns_[static_cast<size_t>(i)];
        const bool on = i < 32 && (activeDacs_ & (1u << i));
        const int x = dluX(kFirstX + kStepX * shown);
        if (on) {
            // Names and "Locked" may use the whole step: longer names are not cut at the slider's width.
            c.label->setGeometry(x, dluY(9), dluX(kStepX - 2), dluY(8));
            c.slider->setGeometry(x, dluY(18), dluX(37), dluY(80));
            const int wide = i == dacCount_ ? 8 : 0;
            c.edit->setGeometry(x, dluY(100), dluX(37) - dluX(10) + wide, dluY(12));
            c.spin->setGeometry(x + dluX(37) - dluX(10) + wide, dluY(100), dluX(10), dluY(12));
            if (c.locked)
                c.locked->setGeometry(x, dluY(114), dluX(kStepX - 2), dluY(12));
            ++shown;
        }
        for (QWidget* w : {static_cast<QWidget*>(c.label), static_cast<QWidget*>(c.slider),
                           static_cast<QWidget*>(c.edit), static_cast<QWidget*>(c.spin),
                           static_cast<QWidget*>(c.locked)})
            if (w)
                w->setVisible(on);
    }
    const int height = dluY(chipCount_ > 1 ? 132 : 118);
    const int width = dluX(kFirstX) + dluX(kStepX) * shown;
    setMinimumSize(width, height);
    resize(width, height);
}

void CDacDeckDlg::refresh()
{
    updating_ = true;
    for (int i = 0; i < dacCount_; ++i) {
        Column& c = columns_[static_cast<size_t>(i)];
        const int v = values_[static_cast<size_t>(selectedChip_ * dacCount_ + i)];
        c.edit->setUInt(static_cast<unsigned>(v));
        c.slider->setValue(v);
        c.spin->setValue(v);
    }
    updating_ = false;
    thlText_->setText(QString::fromStdString(
        dacdeck::senseText(thlSense_, fbkSense_, selectedChip_, chipCount_, senseCount_)));
    if (chipType_ != 3)
        thhText_->setText(QString::fromStdString(
            dacdeck::senseText(thhSense_, fbkSense_, selectedChip_, chipCount_, senseCount_)));
}

void CDacDeckDlg::refreshExtDac()
{
    if (columns_.empty())
        return;
    updating_ = true;
    extCombo_->setCurrentIndex(extDacIndex_ + 1);
    Column& c = columns_.back();
    c.edit->setDouble(extDacValue_);
    const int position = dacdeck::extDacPosition(extDacValue_, extMin_, extStep_);
    c.slider->setValue(position);
    c.spin->setValue(position);
    updating_ = false;
}

void CDacDeckDlg::onNotice(dacdeck::Notice notice, int code)
{
    DacDeckData* d = data();
    if (!d || !built_)
        return;
    const dacdeck::DacState::Snapshot s = d->state.snapshot();
    switch (notice) {
    case dacdeck::Notice::ReadBackDone:
        if (s.values.size() == values_.size())
            values_ = s.values;
        thlSense_ = s.thl;
        thhSense_ = s.thh;
        fbkSense_ = s.fbk;
        setCaption("%s - ready");
        refresh();
        break;
    case dacdeck::Notice::ExtDacRead:
        extDacIndex_ = s.extDacIndex;
        extDacValue_ = s.extDacValue;
        refreshExtDac();
        setCaption("%s - ready");
        break;
    case dacdeck::Notice::Error:
        showError(code);
        break;
    }
}

void CDacDeckDlg::showError(int code)
{
    DacDeckData* d = data();
    setWindowTitle(QString::asprintf("%s - error %d", d ? d->title().c_str() : "", code));
}

void CDacDeckDlg::valueMoved(int column, int value)
{
    Column& c = columns_[static_cast<size_t>(column)];
    updating_ = true;
    c.slider->setValue(value);
    c.spin->setValue(value);
    c.edit->setUInt(static_cast<unsigned>(value));
    updating_ = false;
    values_[static_cast<size_t>(selectedChip_ * dacCount_ + column)] = static_cast<uint16_t>(value);
    dacdeck::lockPropagate(values_, dacCount_, chipCount_, selectedChip_, column,
                           c.locked && c.locked->isChecked() ? (1u << column) : 0u, thl_, thh_, refFlags_);
    scheduleApply();
}

void CDacDeckDlg::extPositionMoved(int position)
{
    Column& c = columns_.back();
    extDacValue_ = std::min(position * extStep_ + extMin_, extMax_);
    updating_ = true;
    c.slider->setValue(position);
    c.spin->setValue(position);
    c.edit->setDouble(extDacValue_);
    updating_ = false;
    applyExtDacNow();
}

void CDacDeckDlg::applyEdit(int column)
{
    Column& c = columns_[static_cast<size_t>(column)];
    if (!c.edit->isValid())
        return;
    if (column < dacCount_) {
        valueMoved(column, static_cast<int>(std::clamp<int64_t>(c.edit->intValue(), 0, c.max)));
        return;
    }
    extDacValue_ = c.edit->doubleValue();
    const int position = dacdeck::extDacPosition(extDacValue_, extMin_, extStep_);
    updating_ = true;
    c.slider->setValue(position);
    c.spin->setValue(position);
    updating_ = false;
    applyExtDacNow();
}

// Slider drags come as many moves per event-loop turn: one apply with the latest values per turn.
void CDacDeckDlg::scheduleApply()
{
    if (applyQueued_)
        return;
    applyQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        applyQueued_ = false;
        applyDacsNow();
    });
}

void CDacDeckDlg::applyDacsNow()
{
    DacDeckData* d = data();
    if (!d)
        return;
    if (d->state.applyDacs(values_, selectedChip_, refFlags_) == dacdeck::Applied::Pending)
        setCaption("%s - waiting for opportunity to set DACs");
    refFlags_ = 0;
}

void CDacDeckDlg::applyExtDacNow()
{
    DacDeckData* d = data();
    if (d && d->state.applyExtDac(extDacIndex_, extDacValue_) == dacdeck::Applied::Pending)
        setCaption("%s - waiting for opportunity to set DACs");
}

void CDacDeckDlg::saveAsDefault(uint32_t activeMask)
{
    DacDeckData* d = data();
    if (!d)
        return;
    const std::string file =
        d->loadIniFile.substr(0, d->loadIniFile.find_last_of('/') + 1) + d->moduleName + ".ini";
    std::string error;
    if (dacdeck::writeSettings(file, {static_cast<int>(activeMask), static_cast<int>(lockedDacs_), senseCount_},
                               &error) != 0)
        messageBox(this, QString::fromStdString(error), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
}

void CDacDeckDlg::takeSettings(uint32_t activeMask, int senseCount)
{
    activeDacs_ = activeMask;
    senseCount_ = senseCount;
    if (DacDeckData* d = data())
        d->state.setSenseCount(senseCount);
    layoutColumns();
    refresh();
}

void CDacDeckDlg::openSettings()
{
    std::vector<QString> names;
    for (int i = 0; i <= dacCount_; ++i)
        names.push_back(dacName(names_, i, dacCount_));
    CSettingsDlg dlg(this, names, activeDacs_, senseCount_);
    if (dlg.exec() == QDialog::Accepted)
        takeSettings(dlg.mask(), dlg.senseCount());
}

// Enter applies the focused edit (the edit has already checked it) and never closes the window.
void CDacDeckDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    CPluginDlg::keyPressEvent(event);
}

CSettingsDlg::CSettingsDlg(CDacDeckDlg* panel, const std::vector<QString>& names, uint32_t activeDacs,
                           int senseCount)
    : QDialog(panel)
{
    setObjectName(QStringLiteral("DacSelection"));
    setWindowTitle(QStringLiteral("DAC selection"));
    const int count = static_cast<int>(names.size());
    const QFontMetrics fm(font());
    auto dx = [&](int x) { return x * fm.averageCharWidth() / 4; };
    auto dy = [&](int y) { return y * fm.height() / 8; };
    const int firstColumn = (count + 2) / 2;
    const int rows = std::max(firstColumn, 1);
    auto* group = new QGroupBox(QStringLiteral("DACs"), this);
    group->setGeometry(dx(7), dy(7), dx(160), dy(21 + 14 * rows));
    for (int i = 0; i < count; ++i) {
        auto* box = new QCheckBox(names[static_cast<size_t>(i)], this);
        box->setObjectName(QStringLiteral("dac%1").arg(i));
        const int col = i < firstColumn ? 0 : 1;
        const int row = col ? i - firstColumn : i;
        box->setGeometry(dx(col ? 95 : 15), dy(21 + 14 * row), dx(60), dy(10));
        box->setChecked(i < 32 && (activeDacs & (1u << i)));
        boxes_.push_back(box);
    }
    const int y = dy(35 + 14 * rows);
    auto* label = new QLabel(QStringLiteral("Sense count:"), this);
    label->setGeometry(dx(7), y, dx(50), dy(12));
    edit_ = new CSmartEdit(this);
    edit_->setObjectName(QStringLiteral("senseCount"));
    edit_->setMode(SmartEditValue::MODE_INT);
    edit_->setDoubleLimits(1, dacdeck::kMaxSenseCount);
    edit_->setGeometry(dx(60), y, dx(40), dy(12));
    edit_->setInt(senseCount);
    spin_ = new QSpinBox(this);
    spin_->setRange(1, dacdeck::kMaxSenseCount);
    spin_->setValue(senseCount);
    spin_->setGeometry(dx(100), y, dx(12), dy(12));
    connect(spin_, &QSpinBox::valueChanged, edit_, [this](int v) { edit_->setInt(v); });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* save = buttons->addButton(QStringLiteral("Save as default"), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("saveAsDefault"));
    buttons->setGeometry(dx(7), y + dy(18), dx(200), dy(16));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (edit_->validate())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The boxes as they stand now; the sense count is the panel's own (the dialog's takes effect with OK).
    connect(save, &QPushButton::clicked, this, [this, panel] { panel->saveAsDefault(mask()); });
    resize(dx(215), y + dy(40));
}

uint32_t CSettingsDlg::mask() const
{
    uint32_t m = 0;
    for (size_t i = 0; i < boxes_.size() && i < 32; ++i)
        if (boxes_[i]->isChecked())
            m |= 1u << i;
    return m;
}

int CSettingsDlg::senseCount() const
{
    if (!edit_->isValid())
        return 1;
    return static_cast<int>(std::clamp<int64_t>(edit_->intValue(), 1, dacdeck::kMaxSenseCount));
}
