#include "plugin_window.h"

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include "platform/ini.h"
#include "uikit/message_box.h"

namespace {

// Closed windows whose deferred deletion has not run yet (GUI thread only).
std::vector<QPointer<CPluginDlg>>& pendingWindows()
{
    static std::vector<QPointer<CPluginDlg>> windows;
    return windows;
}

std::vector<ScreenArea> screenAreas()
{
    std::vector<ScreenArea> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect r = screen->availableGeometry();
        areas.push_back({r.x(), r.y(), r.x() + r.width(), r.y() + r.height()});
    }
    return areas;
}

} // namespace

WindowPlacement currentPlacement(const QWidget* w)
{
    const QRect frame = w->frameGeometry();
    const QRect geo = w->geometry();
    const QRect normal = (w->isMaximized() || w->isMinimized()) && w->normalGeometry().isValid() ? w->normalGeometry()
                                                                                                 : geo;
    WindowPlacement p;
    p.showCmd = w->isMinimized() ? SW_SHOWMINIMIZED : w->isMaximized() ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    p.left = normal.x() - (geo.x() - frame.x());
    p.top = normal.y() - (geo.y() - frame.y());
    p.right = normal.x() + normal.width() + ((frame.x() + frame.width()) - (geo.x() + geo.width()));
    p.bottom = normal.y() + normal.height() + ((frame.y() + frame.height()) - (geo.y() + geo.height()));
    return p;
}

WindowPlacement placeWindow(QWidget* w, const WindowPlacement& placement)
{
    const WindowPlacement current = currentPlacement(w);
    QSize minimum = w->minimumSize();
    if (minimum.isEmpty())
        minimum = minimum.expandedTo(w->minimumSizeHint());
    const std::vector<ScreenArea> screens = screenAreas();
    const WindowPlacement p = fitToScreens(placement, screens.data(), screens.size(), minimum.width(), minimum.height());
    if (w->isMaximized() || w->isMinimized())
        w->showNormal();
    // The frame's extra size is kept out of the client size that resize takes.
    const int extraWidth = (current.right - current.left) - w->width();
    const int extraHeight = (current.bottom - current.top) - w->height();
    w->move(p.left, p.top);
    const QSize size(p.right - p.left - extraWidth, p.bottom - p.top - extraHeight);
    if (size != w->size())
        w->resize(size);
    if (w->isVisible() && (p.showCmd == SW_SHOWMINIMIZED || p.showCmd == SW_SHOWMAXIMIZED))
        p.showCmd == SW_SHOWMINIMIZED ? w->showMinimized() : w->showMaximized();
    return p;
}

void keepWindowOnScreen(QWidget* w)
{
    // The frame of a new window is known only once it is shown: its outer rectangle is fitted again.
    if (w->isMaximized() || w->isMinimized())
        return;
    const WindowPlacement current = currentPlacement(w);
    const std::vector<ScreenArea> screens = screenAreas();
    const WindowPlacement fitted = fitToScreens(current, screens.data(), screens.size(), 0, 0);
    if (fitted.left != current.left || fitted.top != current.top)
        w->move(fitted.left, fitted.top);
}

bool isShownNormal(const QWidget* w)
{
    return w && w->isVisible() && !w->isMinimized() && !w->isMaximized();
}

void bringToFront(QWidget* w)
{
    // Where the platform keeps a stacking order; a headless one has none (and says so for each raise).
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        w->raise();
    w->activateWindow();
}

bool cascadePosition(const QWidget* newWindow, int dev, QPoint& topLeft)
{
    std::vector<const QWidget*> others; // open windows of the device, their outer corners known
    const QWidget* anchor = nullptr;
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        if (w == newWindow || !w->isVisible() || w->isMinimized())
            continue;
        bool tagged = false;
        if (w->property(kDeviceProperty).toInt(&tagged) != dev || !tagged)
            continue;
        others.push_back(w);
        if (w->property(kControlWindowProperty).toBool())
            anchor = w;
        else if (!anchor)
            anchor = w;
    }
    if (!anchor)
        return false;
    // One step shows the title bar of the window below; without a window frame a fixed step.
    const int step = std::max(anchor->geometry().top() - anchor->frameGeometry().top(), 24);
    const QPoint origin = anchor->frameGeometry().topLeft();
    for (int k = 1; k <= 64; ++k) {
        const QPoint candidate = origin + QPoint(k * step, k * step);
        const bool taken = std::any_of(others.begin(), others.end(), [&](const QWidget* w) {
            return (w->frameGeometry().topLeft() - candidate).manhattanLength() < step;
        });
        if (!taken) {
            topLeft = candidate;
            return true;
        }
    }
    topLeft = origin + QPoint(step, step);
    return true;
}

bool isGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void runOnGuiThread(QObject* context, std::function<void()> fn)
{
    if (isGuiThread())
        fn();
    else if (context)
        QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

PluginWindowHolder::PluginWindowHolder(std::string toolName) : toolName_(std::move(toolName)) {}

PluginWindowHolder::~PluginWindowHolder()
{
    if (dlg_) {
        CPluginDlg* d = dlg_;
        dlg_ = nullptr;
        d->setOwner(nullptr);
        delete d;
    }
}

std::string PluginWindowHolder::title() const
{
    CritSecGuard guard(lock);
    return title_;
}

void PluginWindowHolder::setWindowTitle(const std::string& title)
{
    CritSecGuard guard(lock);
    title_ = title;
    if (dlg_ && isGuiThread())
        dlg_->setWindowTitle(QString::fromStdString(title_));
}

int PluginWindowHolder::showWindow(int nCmdShow)
{
    if (isGuiThread())
        return showOnGuiThread(nCmdShow);
    // The GUI thread takes the lock to make the window: waiting for it while holding the lock would never end.
    if (lock.isOwnedByCurrentThread())
        return -1;
    int rc = -1;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { rc = showOnGuiThread(nCmdShow); }, Qt::BlockingQueuedConnection);
    return rc;
}

int PluginWindowHolder::showOnGuiThread(int nCmdShow)
{
    CritSecGuard guard(lock);
    bool created = false;
    if (!dlg_) {
        CPluginDlg* d = nullptr;
        try {
            d = createDialog();
        } catch (const std::bad_alloc&) {
            d = nullptr;
        }
        if (!d) {
            messageBox(nullptr, QStringLiteral("Memory allocation error."), QString(), MSGBOX_OK);
            return -1;
        }
        d->setOwner(this);
        d->setProperty(kDeviceProperty, windowDevice());
        dlg_ = d;
        pendingShowCmd_ = SW_SHOW;
        placementStored_ = false;
        placementPending_ = false;
        if (!d->Create()) {
            // A window that could not be made is not kept: the next call tries again.
            dlg_ = nullptr;
            d->setOwner(nullptr);
            delete d;
            return -1;
        }
        d->setWindowTitle(QString::fromStdString(title_));
        created = true;
    }
    const bool wasShownNormal = !created && isShownNormal(dlg_);
    int state = nCmdShow;
    // A new window takes the show state of its placement (never hidden: readWindowPlacement sees to that).
    if (created && (nCmdShow == SW_SHOWNORMAL || nCmdShow == SW_SHOW))
        state = pendingShowCmd_;
    // A new window without a stored position does not open over the windows of its device.
    QPoint corner;
    if (created && !placementStored_ && windowDevice() >= 0 && cascadePosition(dlg_, windowDevice(), corner)) {
        dlg_->move(corner);
        // A size waiting for the first normal show goes to the new corner.
        pendingPlacement_.right += corner.x() - pendingPlacement_.left;
        pendingPlacement_.bottom += corner.y() - pendingPlacement_.top;
        pendingPlacement_.left = corner.x();
        pendingPlacement_.top = corner.y();
    }
    switch (state) {
    case SW_HIDE:
        dlg_->hide();
        return 0;
    case SW_SHOWMINIMIZED:
        dlg_->showMinimized();
        return 0;
    case SW_SHOWMAXIMIZED:
        dlg_->showMaximized();
        break;
    case SW_SHOW:
        if (!created) {
            dlg_->show();
            break;
        }
        [[fallthrough]];
    default:
        dlg_->showNormal();
        break;
    }
    placeOnceShownNormal(wasShownNormal);
    if (created)
        keepWindowOnScreen(dlg_);
    // To the front, with the focus (a window already open may lie under others).
    bringToFront(dlg_);

    return 0;
}

void PluginWindowHolder::closeWindow(bool force)
{
    CritSecGuard guard(lock);
    if (!dlg_)
        return;
    if (!force && keepOnClose()) {
        dlg_->hide();
        return;
    }
    closing_ = true;
    writeWindowPos(placementSaveFile());
    destroyWindow();
    closing_ = false;
}

void PluginWindowHolder::destroyWindow()
{
    CPluginDlg* d = dlg_;
    dlg_ = nullptr;
    placementPending_ = false;
    d->setOwner(nullptr);
    d->hide();
    // One of the dialog's own handlers may be what closes it: the object goes once that has returned.
    pendingWindows().emplace_back(d);
    d->deleteLater();
}

void PluginWindowHolder::deletePendingWindows()
{
    std::vector<QPointer<CPluginDlg>> windows;
    windows.swap(pendingWindows());
    for (QPointer<CPluginDlg>& w : windows)
        delete w.data();
}

void PluginWindowHolder::loadWindowPos(PlacementForm form)
{
    readWindowPos(placementLoadFile(), form);
}

void PluginWindowHolder::readWindowPos(const std::string& iniFile, PlacementForm form)
{
    CritSecGuard guard(lock);
    if (!dlg_)
        return;
    const std::string section = placementSection(toolName_);
    placementStored_ = plat::getProfileInt(section.c_str(), "Left", INT_MIN, iniFile.c_str()) != INT_MIN &&
                       plat::getProfileInt(section.c_str(), "Top", INT_MIN, iniFile.c_str()) != INT_MIN;
    const WindowPlacement p = readWindowPlacement(iniFile, toolName_, currentPlacement(dlg_), form);
    const WindowPlacement fitted = placeWindow(dlg_, p);
    pendingShowCmd_ = fitted.showCmd;
    // A window not shown yet has no frame: the size just set went to its client, and the frame would come on
    // top of the stored outer size (a window that grows by its frame at every opening). The stored size is
    // set again once the window shows normal, and stands for its placement until then.
    placementPending_ = form == PlacementForm::MoveAndSize && !dlg_->isVisible();
    pendingPlacement_ = fitted;
}

void PluginWindowHolder::placeOnceShownNormal(bool wasShownNormal)
{
    if (!placementPending_ || !isShownNormal(dlg_))
        return;
    placementPending_ = false;
    if (!wasShownNormal) // a window the user already had on the screen keeps the size it has there
        placeWindow(dlg_, pendingPlacement_);
}

void PluginWindowHolder::writeWindowPos(const std::string& iniFile)
{
    CritSecGuard guard(lock);
    if (!dlg_ || iniFile.empty())
        return;
    WindowPlacement p = currentPlacement(dlg_);
    if (placementPending_ && !isShownNormal(dlg_)) { // not shown normal yet: the placement it was given
        const int showCmd = p.showCmd;
        p = pendingPlacement_;
        p.showCmd = showCmd;
    }
    writeWindowPlacement(iniFile, toolName_, p); // a failed write is not the user's concern here
}

bool PluginWindowHolder::postToWindow(QEvent* event)
{
    if (!event)
        return false;
    if (closing_.load()) {
        delete event;
        return false;
    }
    CritSecGuard guard(lock);
    if (closing_.load() || !dlg_) {
        delete event;
        return false;
    }
    QCoreApplication::postEvent(dlg_, event);
    return true;
}
