#include "settings_sheet.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/numbers.h"
#include "settings_model.h"
#include "uikit/message_box.h"

namespace {
QString text(const std::string& s) { return QString::fromStdString(s); }

// The number an edit's text begins with (0 when none); a number beyond any DAC's range stays beyond it.
int64_t leadingNumber(const QString& t)
{
    int64_t v = 0;
    for (const QChar c : t) {
        if (c < u'0' || c > u'9')
            break;
        v = std::min<int64_t>(v * 10 + (c.unicode() - u'0'), int64_t{1} << 40);
    }
    return v;
}
} // namespace

CDacSpin::CDacSpin(uint32_t maximum, QWidget* parent) : QAbstractSpinBox(parent), maximum_(maximum)
{
    setKeyboardTracking(false); // typing leaves the text alone: it is read on Apply
    // The arrows' states follow the text.
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] { update(); });
}

void CDacSpin::stepBy(int steps)
{
    const int64_t v = std::clamp<int64_t>(leadingNumber(lineEdit()->text()) + steps, 0, maximum_);
    lineEdit()->setText(QString::number(v));
}

QAbstractSpinBox::StepEnabled CDacSpin::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    const int64_t v = leadingNumber(lineEdit()->text());
    StepEnabled on = StepNone;
    if (v > 0)
        on |= StepDownEnabled;
    if (v < int64_t{maximum_})
        on |= StepUpEnabled;
    return on;
}

QValidator::State CDacSpin::validate(QString& input, int&) const
{
    for (const QChar c : input)
        if (c < u'0' || c > u'9')
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

QSize CDacSpin::sizeHint() const
{
    // Room for the widest value and the arrows, as a spin box of numbers sizes itself.
    ensurePolished();
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QString widest = QString::number(maximum_) + u' ';
    const QSize text(fontMetrics().horizontalAdvance(widest) + 4, lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this);
}

QSize CDacSpin::minimumSizeHint() const { return sizeHint(); }

CSettingsSheet::CSettingsSheet(const _MgrFuncTable* mgr, int devIndex, QWidget* parent)
    : QDialog(parent), mgr_(mgr), dev_(devIndex)
{
    setWindowTitle(QStringLiteral("Settings"));
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    tabs->setUsesScrollButtons(false); // the sheet is as wide as its three captions
    tabs->addTab(buildInfoPage(), QStringLiteral("Device Settings/Info"));
    tabs->addTab(buildDacPage(), QStringLiteral("Tarvik DACs"));
    tabs->addTab(buildInterfacePage(), QStringLiteral("Interface Specific Info"));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (apply())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    applyButton_ = buttons->button(QDialogButtonBox::Apply);
    connect(applyButton_, &QPushButton::clicked, this, [this] { apply(); });
    setModified(false);
}

void CSettingsSheet::setModified(bool modified)
{
    if (applyButton_)
        applyButton_->setEnabled(modified);
}

QWidget* CSettingsSheet::buildInfoPage()
{
    auto* page = new QWidget(this);
    auto* g = new QGridLayout(page);
    infoList_ = new QTreeWidget(page);
    infoList_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
    infoList_->setRootIsDecorated(false);
    modeCombo_ = new QComboBox(page);
    timerCombo_ = new QComboBox(page);
    timerCombo_->addItems({QStringLiteral("HW"), QStringLiteral("PC"), QStringLiteral("Auto")});
    timerCombo_->setCurrentIndex(2); // "Auto" until the device tells its own
    polarityCombo_ = new QComboBox(page);
    polarityCombo_->addItems({QStringLiteral("Positive"), QStringLiteral("Negative")});
    cstCheck_ = new QCheckBox(QStringLiteral("CST"), page);
    showCheck_ = new QCheckBox(QStringLiteral("Show in preview"), page);
    maskCheck_ = new QCheckBox(QStringLiteral("Mask bad pixels"), page);
    goodLabel_ = new QLabel(page);
    badLabel_ = new QLabel(page);
    auto* test = new QPushButton(QStringLiteral("Test now"), page);
    g->addWidget(new QLabel(QStringLiteral("Device info:"), page), 0, 0, 1, 2);
    g->addWidget(infoList_, 1, 0, 1, 4);
    g->addWidget(new QLabel(QStringLiteral("Acq. mode:"), page), 2, 0);
    g->addWidget(modeCombo_, 2, 1, 1, 3);
    g->addWidget(new QLabel(QStringLiteral("Timer:"), page), 3, 0);
    g->addWidget(timerCombo_, 3, 1);
    g->addWidget(new QLabel(QStringLiteral("Polarity:"), page), 3, 2);
    g->addWidget(polarityCombo_, 3, 3);
    g->addWidget(cstCheck_, 4, 0);
    g->addWidget(new QLabel(QStringLiteral("Good pixels:"), page), 5, 0);
    g->addWidget(goodLabel_, 5, 1);
    g->addWidget(new QLabel(QStringLiteral("Bad pixels:"), page), 6, 0);
    g->addWidget(badLabel_, 6, 1);
    g->addWidget(showCheck_, 5, 2);
    g->addWidget(maskCheck_, 6, 2);
    g->addWidget(test, 5, 3);
    connect(test, &QPushButton::clicked, this, &CSettingsSheet::runDigitalTest);
    // The user's choices that Apply sends.
    for (QComboBox* combo : {modeCombo_, timerCombo_, polarityCombo_})
        connect(combo, qOverload<int>(&QComboBox::activated), this, [this] { setModified(true); });
    connect(cstCheck_, &QCheckBox::clicked, this, [this] { setModified(true); });

    _DevInfo info{};
    if (mgr_->tvkCtrlGetDevInfo(unsigned(dev_), &info) != 0)
        return page;
    chipCount_ = std::max(info.chipCount, 1);
    for (int bit : {1, 2, 4, 8, 16})
        if (info.acqModeMask & uint32_t(bit)) {
            modeCombo_->addItem(QString::fromLatin1(acqModeName(bit)));
            modeValues_.push_back(bit);
        }
    const int rows = std::max(info.chipRows, 1);
    const std::pair<const char*, std::string> entries[] = {
        {"Interface:", info.interfaceName ? info.interfaceName : ""},
        {"Device ID:", std::string(info.chipboardId, strnlen(info.chipboardId, sizeof info.chipboardId))},
        {"Tarvik type:", chipTypeName(info.chipType)},
        {"Number of chips:", std::to_string(info.chipCount / rows) + "x" + std::to_string(rows)},
        {"HW timer range [s]:", "0 - " + plat::formatGeneral(info.hwTimerMax, 6)},
        {"HW timer granularity [s]:", plat::formatGeneral(info.hwTimerStep, 6)},
        {"Tvk clock [MHz]:", plat::formatGeneral(info.clockMHz, 6)},
    };
    for (const auto& [name, value] : entries)
        new QTreeWidgetItem(infoList_, {QString::fromLatin1(name), text(value)});
    infoList_->resizeColumnToContents(0); // the names are never cut
    int polarity = 1, timer = 2, cst = 0, mode = 1;
    mgr_->tvkCtrlGetPolarity(unsigned(dev_), &polarity);
    polarityCombo_->setCurrentIndex(polarity == 1 ? 0 : 1);
    if (mgr_->tvkCtrlGetHwTimer(unsigned(dev_), &timer) == 0 && timer >= 0 && timer <= 2)
        timerCombo_->setCurrentIndex(timer);
    mgr_->tvkCtrlGetCST(unsigned(dev_), &cst);
    cstCheck_->setChecked(cst != 0);
    mgr_->tvkCtrlGetAcqMode(unsigned(dev_), &mode);
    const auto it = std::find(modeValues_.begin(), modeValues_.end(), mode);
    modeCombo_->setCurrentIndex(it == modeValues_.end() ? -1 : int(it - modeValues_.begin()));
    return page;
}

void CSettingsSheet::runDigitalTest()
{
    int good = 0;
    bool lockFailed = false;
    if (::runDigitalTest(mgr_, dev_, maskCheck_->isChecked(), showCheck_->isChecked(), &good, &lockFailed) != 0)
        return;
    const uint32_t total = uint32_t(chipCount_) * 65536u;
    goodLabel_->setText(text(goodPixelsText(uint32_t(good), total)));
    badLabel_->setText(text(badPixelsText(uint32_t(good), total)));
    if (lockFailed)
        messageBox(this, QStringLiteral("Cannot mask bad pixels, frame lock failed"));
}

QWidget* CSettingsSheet::buildDacPage()
{
    auto* page = new QWidget(this);
    auto* pageLayout = new QVBoxLayout(page);
    auto* box = new QGroupBox(QStringLiteral("Tarvik DACs"), page);
    pageLayout->addWidget(box);
    pageLayout->addStretch(1); // the grid keeps its rows' spacing however tall the sheet is
    auto* boxLayout = new QVBoxLayout(box);
    auto* top = new QHBoxLayout;
    chipCombo_ = new QComboBox(box);
    auto* sense = new QPushButton(QStringLiteral("Refresh Sense"), box);
    auto* defaults = new QPushButton(QStringLiteral("Defaul Values"), box);
    top->addWidget(new QLabel(QStringLiteral("Chip number:"), box));
    top->addWidget(chipCombo_);
    top->addStretch(1);
    top->addWidget(sense);
    top->addWidget(defaults);
    boxLayout->addLayout(top);
    // Two columns of name, edit and sensed value, a gap between them; spare width goes right.
    auto* g = new QGridLayout;
    boxLayout->addLayout(g);
    g->setColumnMinimumWidth(3, 16);
    g->setColumnStretch(7, 1);
    connect(sense, &QPushButton::clicked, this, &CSettingsSheet::refreshSense);
    connect(defaults, &QPushButton::clicked, this, &CSettingsSheet::defaultDacs);
    int chips = 1;
    mgr_->tvkCtrlGetTarvikInfo(unsigned(dev_), &chips, nullptr, nullptr, nullptr);
    chipCount_ = std::max(chips, 1);
    for (int c = 0; c < chipCount_; ++c)
        chipCombo_->addItem(QString::number(c));
    const char** names = nullptr;
    const int* bits = nullptr;
    if (mgr_->tvkCtrlGetDACsNames(unsigned(dev_), &names, &bits, &dacCount_) != 0 || dacCount_ <= 0) {
        dacCount_ = 0;
        return page;
    }
    for (int i = 0; i < dacCount_; ++i) {
        maxValues_.push_back((1u << std::clamp(bits[i], 0, 16)) - 1);
        const DacPlace at = dacPlace(i, dacCount_);
        auto* spin = new CDacSpin(maxValues_.back(), box);
        auto* senseLabel = new QLabel(QStringLiteral("0"), box);
        const int column = at.column * 4;
        g->addWidget(new QLabel(QString::fromLatin1(names[i]) + ":", box), at.row, column);
        g->addWidget(spin, at.row, column + 1);
        g->addWidget(senseLabel, at.row, column + 2);
        dacSpins_.push_back(spin);
        dacEdits_.push_back(spin->edit());
        senseLabels_.push_back(senseLabel);
        // Typing, pasting and stepping change the page; showing a chip's values does not.
        connect(spin->edit(), &QLineEdit::textChanged, this, [this] {
            if (!showingDacs_)
                setModified(true);
        });
    }
    connect(chipCombo_, qOverload<int>(&QComboBox::activated), this, &CSettingsSheet::chooseChip);
    readDacs();
    showDacs();
    showSense();
    return page;
}

void CSettingsSheet::readDacs()
{
    const int total = dacCount_ * chipCount_;
    dacValues_.assign(size_t(total), 0);
    senseValues_.assign(size_t(total), -1);
    mgr_->tvkCtrlGetDACs(unsigned(dev_), dacValues_.data(), total, -1);
    if (mgr_->tvkCtrlGetDACsAnalog(unsigned(dev_), senseValues_.data(), total, -1) != 0)
        senseValues_.assign(size_t(total), -1);
}

void CSettingsSheet::showDacs()
{
    showingDacs_ = true;
    for (int i = 0; i < dacCount_; ++i)
        dacEdits_[size_t(i)]->setText(QString::number(dacValues_[size_t(currentChip_ * dacCount_ + i)]));
    showingDacs_ = false;
}

void CSettingsSheet::showSense()
{
    for (int i = 0; i < dacCount_; ++i) {
        const double v = senseValues_[size_t(currentChip_ * dacCount_ + i)];
        senseLabels_[size_t(i)]->setText(v == -1 ? QStringLiteral("NA") : text(plat::formatFixed(v, 4)));
    }
}

void CSettingsSheet::chooseChip(int chip)
{
    if (chip == currentChip_ || chip < 0 || chip >= chipCount_)
        return;
    currentChip_ = chip;
    chipCombo_->setCurrentIndex(chip);
    showDacs();
    showSense();
}

void CSettingsSheet::refreshSense()
{
    const int total = dacCount_ * chipCount_;
    if (mgr_->tvkCtrlGetDACsAnalog(unsigned(dev_), senseValues_.data(), total, -1) != 0)
        senseValues_.assign(size_t(total), -1);
    showSense();
}

void CSettingsSheet::defaultDacs()
{
    mgr_->tvkCtrlSetDACsDefault(unsigned(dev_));
    readDacs();
    showDacs();
    showSense();
}

bool CSettingsSheet::apply()
{
    const bool applied = applyPages();
    setModified(!applied);
    return applied;
}

bool CSettingsSheet::applyPages()
{
    const unsigned dev = unsigned(dev_);
    mgr_->tvkCtrlSetPolarity(dev, polarityCombo_->currentIndex() == 0 ? 1 : 0);
    mgr_->tvkCtrlSetCST(dev, cstCheck_->isChecked() ? 1 : 0);
    mgr_->tvkCtrlSetHwTimer(dev, timerCombo_->currentIndex());
    const int mode = modeCombo_->currentIndex();
    if (mode >= 0 && size_t(mode) < modeValues_.size())
        mgr_->tvkCtrlSetAcqMode(dev, modeValues_[size_t(mode)]);
    if (dacCount_ == 0)
        return true;
    std::vector<uint16_t> chip(static_cast<size_t>(dacCount_));
    for (int i = 0; i < dacCount_; ++i) {
        const int64_t v = parseDacText(dacEdits_[size_t(i)]->text().toStdString(), maxValues_[size_t(i)]);
        if (v < 0) {
            messageBox(this, QStringLiteral("Value has to be in range 0..%1").arg(maxValues_[size_t(i)]));
            dacSpins_[size_t(i)]->setFocus();
            dacSpins_[size_t(i)]->selectAll();
            return false;
        }
        chip[size_t(i)] = uint16_t(v);
    }
    applyChipDacs(mgr_, dev_, currentChip_, chip);
    readDacs();
    showSense();
    return true;
}

QWidget* CSettingsSheet::buildInterfacePage()
{
    auto* page = new QWidget(this);
    auto* l = new QVBoxLayout(page);
    itemList_ = new QTreeWidget(page);
    itemList_->setHeaderLabels({QStringLiteral("Value"), QStringLiteral("Description"), QStringLiteral("Type"),
                                QStringLiteral("Count")});
    itemList_->setRootIsDecorated(false);
    itemList_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    itemList_->installEventFilter(this); // Space starts an edit too
    auto* autoRefresh = new QCheckBox(QStringLiteral("Auto refresh"), page);
    l->addWidget(itemList_);
    l->addWidget(autoRefresh);
    auto* timer = new QTimer(page);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, &CSettingsSheet::refreshItems);
    connect(autoRefresh, &QCheckBox::toggled, timer, [timer](bool on) { on ? timer->start() : timer->stop(); });
    connect(itemList_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0)
            editItem(itemList_->indexOfTopLevelItem(item), item->text(0));
    });
    refreshItems();
    return page;
}

void CSettingsSheet::refreshItems()
{
    const QSignalBlocker block(itemList_);
    const std::vector<HwItemRow> rows = hwItemRows(mgr_, dev_);
    itemFlags_.clear();
    itemIndices_.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
        const HwItemRow& r = rows[i];
        QTreeWidgetItem* item = int(i) < itemList_->topLevelItemCount() ? itemList_->topLevelItem(int(i))
                                                                         : new QTreeWidgetItem(itemList_);
        const QStringList cells = {text(r.value), text(r.description), text(r.type), text(r.count)};
        for (int c = 0; c < 4; ++c)
            if (item->text(c) != cells[c]) // unchanged rows are left alone
                item->setText(c, cells[c]);
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        const bool editable = r.flags & 0x2;
        item->setFlags(editable ? item->flags() | Qt::ItemIsEditable : item->flags() & ~Qt::ItemIsEditable);
        item->setBackground(0, editable ? QColor(255, 242, 193) : QColor());
        itemFlags_.push_back(r.flags);
        itemIndices_.push_back(r.index);
    }
    while (itemList_->topLevelItemCount() > int(rows.size())) // items that can no longer be read
        delete itemList_->takeTopLevelItem(itemList_->topLevelItemCount() - 1);
}

bool CSettingsSheet::editItem(int row, const QString& value)
{
    if (row < 0 || size_t(row) >= itemFlags_.size() || !(itemFlags_[size_t(row)] & 0x2))
        return false;
    const int rc = setHwItemText(mgr_, dev_, itemIndices_[size_t(row)], value.toStdString());
    refreshItems(); // the row shows what the library reports, never the edited text
    return rc == 0;
}

bool CSettingsSheet::editFirstSelected()
{
    QTreeWidgetItem* first = nullptr;
    int firstRow = 0;
    for (QTreeWidgetItem* item : itemList_->selectedItems()) {
        const int row = itemList_->indexOfTopLevelItem(item);
        if (!first || row < firstRow) {
            first = item;
            firstRow = row;
        }
    }
    if (!first || !(first->flags() & Qt::ItemIsEditable))
        return false;
    itemList_->editItem(first, 0);
    return true;
}

bool CSettingsSheet::eventFilter(QObject* watched, QEvent* event)
{
    // The list's own Space (select the current row) gives way to the edit; with an editor open the keys go
    // to the editor, not here.
    if (watched == itemList_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            editFirstSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void openDeviceSettings(QWidget* parent, const _MgrFuncTable* mgr, int devIndex)
{
    CSettingsSheet sheet(mgr, devIndex, parent);
    sheet.exec();
}
