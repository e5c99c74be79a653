#include "pix_crit_dlg.h"

#include <algorithm>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "uikit/smart_edit.h"

namespace {
constexpr int kWidth = 380, kHeight = 72;
constexpr int kLabelWidth = 200;
} // namespace

QRect pixCritPlacement(const QSize& size, const QPoint& anchor, const QRect& screen)
{
    QRect r(anchor.x() + 40 - size.width(), anchor.y() + 20 - size.height(), size.width(), size.height());
    if (screen.isValid()) {
        r.moveLeft(std::max(screen.left(), std::min(r.left(), screen.right() + 1 - r.width())));
        r.moveTop(std::max(screen.top(), std::min(r.top(), screen.bottom() + 1 - r.height())));
    }
    return r;
}

CPixCritDlg::CPixCritDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Pixel criteria"));
    label_ = new QLabel(this);
    label_->setGeometry(10, 14, kLabelWidth, 20);
    edit_ = new CSmartEdit(this);
    edit_->setMode(SmartEditValue::MODE_DOUBLE);
    edit_->setGeometry(kLabelWidth + 14, 12, 70, 22);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setGeometry(kLabelWidth + 92, 8, 78, 24);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setGeometry(kLabelWidth + 92, 38, 78, 24);
    connect(ok_, &QPushButton::clicked, this, &CPixCritDlg::accept);
    connect(cancel_, &QPushButton::clicked, this, &CPixCritDlg::reject);
    setFixedSize(kWidth, kHeight);
}

void CPixCritDlg::OnInitDialog()
{
    initialised_ = true;
    label_->setText(caption);
    edit_->setDouble(value);
    const int grow = QFontMetrics(label_->font()).horizontalAdvance(caption) + 2 - label_->width();
    label_->resize(label_->width() + grow, label_->height());
    for (QWidget* w : {static_cast<QWidget*>(edit_), static_cast<QWidget*>(ok_), static_cast<QWidget*>(cancel_)})
        w->move(w->x() + grow, w->y());
    const QSize size(width() + grow, height());
    setFixedSize(size);
    const QPoint anchor(anchorX, anchorY);
    const QScreen* s = QGuiApplication::screenAt(anchor);
    if (!s)
        s = QGuiApplication::primaryScreen();
    setGeometry(pixCritPlacement(size, anchor, s ? s->availableGeometry() : QRect()));
}

int CPixCritDlg::exec()
{
    if (!initialised_)
        OnInitDialog();
    return QDialog::exec();
}

void CPixCritDlg::accept()
{
    if (!edit_->validate())
        return;
    value = edit_->doubleValue();
    QDialog::accept();
}
