#include "prev_settings_dlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "platform/numbers.h"
#include "uikit/picture.h"
#include "uikit/smart_edit.h"

namespace {
const char* const kFlagRows[] = {"Draw border rectangle", "Draw labels", "Draw color bar"};
}

CPrevSettingsDlg::CPrevSettingsDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Preview Preferences"));
    auto* group = new QGroupBox(QStringLiteral("Save Image Preferences"), this);
    group->setGeometry(8, 8, 284, 196);
    (new QLabel(QStringLiteral("Image size:"), this))->setGeometry(18, 32, 70, 22);
    size_ = new QComboBox(this);
    size_->addItems({QStringLiteral("Same as data"), QStringLiteral("Same as in window"),
                     QStringLiteral("Custom data size"), QStringLiteral("Custom total size")});
    size_->setGeometry(92, 32, 190, 22);
    (new QLabel(QStringLiteral("Width:"), this))->setGeometry(18, 62, 50, 22);
    width_ = new CSmartEdit(this);
    width_->setMode(SmartEditValue::MODE_INT);
    width_->setGeometry(70, 62, 70, 22);
    (new QLabel(QStringLiteral("Height:"), this))->setGeometry(152, 62, 50, 22);
    height_ = new CSmartEdit(this);
    height_->setMode(SmartEditValue::MODE_INT);
    height_->setGeometry(206, 62, 76, 22);
    list_ = new QListWidget(this);
    list_->setGeometry(18, 94, 264, 100);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(122, 212, 80, 24);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(210, 212, 80, 24);
    connect(ok, &QPushButton::clicked, this, &CPrevSettingsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CPrevSettingsDlg::reject);
    connect(size_, &QComboBox::currentIndexChanged, this, [this](int mode) { modeChosen(mode); });
    setFixedSize(300, 244);
}

void CPrevSettingsDlg::modeChosen(int mode)
{
    sizeMode = mode;
    width_->setEnabled(mode == 2 || mode == 3);
    height_->setEnabled(mode == 2 || mode == 3);
}

void CPrevSettingsDlg::OnInitDialog()
{
    initialised_ = true;
    size_->setCurrentIndex(sizeMode);
    modeChosen(size_->currentIndex());
    width_->setInt(width);
    height_->setInt(height);
    list_->clear();
    for (int i = 0; i < 3; ++i) {
        auto* item = new QListWidgetItem(QString::fromUtf8(kFlagRows[i]), list_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(flags & (1 << i) ? Qt::Checked : Qt::Unchecked);
    }
}

int CPrevSettingsDlg::exec()
{
    if (!initialised_)
        OnInitDialog();
    return QDialog::exec();
}

void CPrevSettingsDlg::accept()
{
    int f = 0;
    for (int i = 0; i < list_->count() && i < 3; ++i)
        if (list_->item(i)->checkState() == Qt::Checked)
            f |= 1 << i;
    flags = f;
    // A size is taken only when its edit holds a usable number; otherwise the old one stays.
    auto take = [](const CSmartEdit* e, int& out) {
        const auto v = plat::parseInt32(e->text().toStdString());
        if (v && *v >= 1 && *v <= CPicture::kMaxExportSide)
            out = *v;
    };
    take(width_, width);
    take(height_, height);
    QDialog::accept();
}
