// Message boxes through one replaceable handler, shown on the GUI thread only.
#include "message_box.h"

#include <cstdio>
#include <mutex>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include "platform/quit_signals.h"

namespace {

// Guards handlerSlot; the handler itself is called after the lock is released.
std::mutex handlerMutex;
MessageBoxHandler handlerSlot;

// Every module that shows boxes has its own copy of this code, so what a quit request must reach is kept
// where all copies see it: the flag in the platform library, the open boxes among the application's
// windows. A real box is marked as one of ours while it is shown; a quit request marks it answered.
constexpr char kOurBoxProperty[] = "ombrelMessageBox";
constexpr char kAnsweredByQuitProperty[] = "ombrelAnsweredByQuit";

MessageBoxHandler currentHandler()
{
    std::lock_guard<std::mutex> lock(handlerMutex);
    return handlerSlot;
}

int showRealBox(QWidget* parent, const QString& text, const QString& title, unsigned type)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & 0xF0) {
    case MSGBOX_ICONERROR: icon = QMessageBox::Critical; break;
    case MSGBOX_ICONQUESTION: icon = QMessageBox::Question; break;
    case MSGBOX_ICONWARNING: icon = QMessageBox::Warning; break;
    case MSGBOX_ICONINFORMATION: icon = QMessageBox::Information; break;
    default: break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (type & 0xF) {
    case MSGBOX_OKCANCEL: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MSGBOX_YESNOCANCEL: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case MSGBOX_YESNO: buttons = QMessageBox::Yes | QMessageBox::No; break;
    default: break;
    }
    QMessageBox box(icon, title, text, buttons, parent);
    box.setProperty(kOurBoxProperty, true);
    const int result = box.exec();
    if (box.property(kAnsweredByQuitProperty).toBool())
        return defaultMessageBoxAnswer(type);
    switch (result) {
    case QMessageBox::Ok: return MSGBOX_IDOK;
    case QMessageBox::Yes: return MSGBOX_IDYES;
    case QMessageBox::No: return MSGBOX_IDNO;
    default: return (type & 0xF) == MSGBOX_YESNO ? MSGBOX_IDNO : MSGBOX_IDCANCEL;
    }
}

int showOnGuiThread(QWidget* parent, const QString& text, const QString& title, unsigned type)
{
    if (plat::quitRequested())
        return defaultMessageBoxAnswer(type);
    QString caption = title.isEmpty() ? QApplication::applicationDisplayName() : title;
    if (MessageBoxHandler handler = currentHandler())
        return handler(parent, text, caption, type);
    return showRealBox(parent, text, caption, type);
}

} // namespace

int messageBox(QWidget* parent, const QString& text, const QString& title, unsigned type)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication*>(app)) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return MSGBOX_NOANSWER;
    }
    if (QThread::currentThread() == app->thread())
        return showOnGuiThread(parent, text, title, type);
    // Another thread: the box appears on the GUI thread later; nobody waits for it.
    QPointer<QWidget> guardedParent(parent);
    QMetaObject::invokeMethod(
        app, [guardedParent, text, title, type] { showOnGuiThread(guardedParent.data(), text, title, type); },
        Qt::QueuedConnection);
    return MSGBOX_NOANSWER;
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> lock(handlerMutex);
    MessageBoxHandler previous = std::move(handlerSlot);
    handlerSlot = std::move(handler);
    return previous;
}

int defaultMessageBoxAnswer(unsigned type)
{
    switch (type & 0xF) {
    case MSGBOX_YESNO: return MSGBOX_IDNO;
    case MSGBOX_OKCANCEL:
    case MSGBOX_YESNOCANCEL: return MSGBOX_IDCANCEL;
    default: return MSGBOX_IDOK;
    }
}

void setMessageBoxesQuitting(bool quitting)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    plat::setQuitRequested(quitting);
    if (!quitting)
        return;
    // A box's loop ends once the code running inside it (a box nested in it, say) has returned.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (!box || !box->isVisible() || !box->property(kOurBoxProperty).toBool() ||
            box->property(kAnsweredByQuitProperty).toBool())
            continue;
        box->setProperty(kAnsweredByQuitProperty, true);
        box->reject();
    }
}
