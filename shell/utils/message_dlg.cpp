#include "message_dlg.h"

#include <cstdio>
#include <new>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "app_icon.h"
#include "utils_app.h"

CMessageDlg::CMessageDlg(const QString& title, const QString& text) : QDialog(nullptr, Qt::Dialog)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    setWindowTitle(title);
    setWindowIcon(appIcon());
    text_ = new QLabel(text, this);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text_->setMinimumSize(440, 60);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    // The layout places the controls but sets no size limits on the window: not every platform takes
    // them (the headless one warns), and the initial size below is the layout's preferred one.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(text_, 1);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    adjustSize();
    // OK, Enter, Escape and the close box all end in finished(); the window then goes.
    connect(this, &QDialog::finished, this, &QObject::deleteLater);
}

QString CMessageDlg::text() const
{
    return text_->text();
}

void CMessageDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event); // Escape rejects
}

std::string formatText(const char* fmt, va_list args)
{
    if (!fmt)
        return {};
    va_list probe;
    va_copy(probe, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, probe);
    va_end(probe);
    if (needed <= 0)
        return {};
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text.data(), text.size(), fmt, copy);
    va_end(copy);
    text.resize(static_cast<size_t>(needed));
    return text;
}

namespace {

void createMessageWindow(const QString& title, const QString& text)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    auto* dlg = new (std::nothrow) CMessageDlg(title, text);
    if (!dlg)
        return;
    dlg->show();
}

} // namespace

int openMessageWindow(const std::string& title, const std::string& text)
{
    try {
        QString qTitle = QString::fromStdString(title);
        QString qText = QString::fromStdString(text);
        if (onGuiThread()) {
            createMessageWindow(qTitle, qText);
            return 0;
        }
        return runOnGuiThread([qTitle = std::move(qTitle), qText = std::move(qText)] {
                   createMessageWindow(qTitle, qText);
               })
                   ? 0
                   : -1;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

void closeMessageWindows()
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    std::vector<CMessageDlg*> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dlg = qobject_cast<CMessageDlg*>(w))
            open.push_back(dlg);
    for (CMessageDlg* dlg : open)
        delete dlg;
}
