#include "utils_app.h"

#include <new>

#include <QApplication>
#include <QThread>

#include "item_listing_dlg.h"
#include "log_dlg.h"
#include "message_dlg.h"
#include "platform/module.h"
#include "tray_dlg.h"

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool runOnGuiThread(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (QThread::currentThread() == app->thread()) {
        work();
        return true;
    }
    return QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

CTvkMgrUtilsApp& CTvkMgrUtilsApp::instance()
{
    static CTvkMgrUtilsApp app;
    return app;
}

CTvkMgrUtilsApp::CTvkMgrUtilsApp()
{
    // The manager's ini file beside this library.
    iniPath_ = plat::moduleFolderOf(reinterpret_cast<const void*>(&CTvkMgrUtilsApp::instance)) + "/tvkmanager.ini";
}

CTvkMgrUtilsApp::~CTvkMgrUtilsApp()
{
    // Windows still here at process end outlived the application (ExitInstance never ran): they can no
    // longer be destroyed safely, so they are left to the process's end.
    (void)tray_.release();
    (void)log_.release();
}

bool CTvkMgrUtilsApp::InitInstance()
{
    Q_ASSERT(onGuiThread());
    if (tray_)
        return true;
    try {
        tray_ = std::make_unique<CTrayDlg>(iniPath_);
        log_ = std::make_unique<CTvkLogDlg>();
    } catch (const std::bad_alloc&) {
        log_.reset();
        tray_.reset();
        return false;
    }
    tray_->startSplash();
    runMenuOps(); // items registered before the tray existed
    return true;
}

void CTvkMgrUtilsApp::ExitInstance()
{
    Q_ASSERT(onGuiThread());
    delete itemListing_; // clears itemListing_ through itemListingClosed
    itemListing_ = nullptr;
    closeMessageWindows();
    log_.reset();
    tray_.reset();
    managerStarting_ = false;
    exitPending_ = false;
    std::lock_guard lock(menuMutex_);
    menuOps_.clear();
}

int CTvkMgrUtilsApp::showManagedItems()
{
    Q_ASSERT(onGuiThread());
    if (!tray_)
        return -1;
    if (itemListing_) {
        itemListing_->showNormal();
        itemListing_->activateWindow();
        return 0;
    }
    itemListing_ = new (std::nothrow) CItemListingDlg;
    if (!itemListing_)
        return -1;
    itemListing_->showNormal();
    return 0;
}

void CTvkMgrUtilsApp::itemListingClosed(CItemListingDlg* dlg)
{
    if (itemListing_ == dlg)
        itemListing_ = nullptr;
}

void CTvkMgrUtilsApp::requestExit()
{
    Q_ASSERT(onGuiThread());
    if (managerStarting_) {
        exitPending_ = true;
        return;
    }
    exitPending_ = true;
    if (tray_)
        tray_->OnExit();
    else
        QCoreApplication::exit(0);
}

void CTvkMgrUtilsApp::setManagerStarting(bool starting)
{
    Q_ASSERT(onGuiThread());
    managerStarting_ = starting;
    if (!starting && exitPending_)
        requestExit();
}

void CTvkMgrUtilsApp::queueMenuOp(std::function<void(CTrayDlg&)> op)
{
    // Always posted, also on the GUI thread: the manager asks with its registry locks held, and changing
    // a menu sends events, which would reach plug-in message handlers under those locks.
    bool post = false;
    {
        std::lock_guard lock(menuMutex_);
        menuOps_.push_back(std::move(op));
        post = !menuDrainQueued_;
        menuDrainQueued_ = true;
    }
    if (!post)
        return;
    QCoreApplication* qapp = QCoreApplication::instance();
    if (!qapp || !QMetaObject::invokeMethod(qapp, [this] { runMenuOps(); }, Qt::QueuedConnection)) {
        std::lock_guard lock(menuMutex_);
        menuDrainQueued_ = false; // the start of the windows runs what is pending
    }
}

void CTvkMgrUtilsApp::runMenuOps()
{
    Q_ASSERT(onGuiThread());
    for (;;) {
        std::function<void(CTrayDlg&)> op;
        {
            std::lock_guard lock(menuMutex_);
            menuDrainQueued_ = false;
            if (!tray_ || menuOps_.empty())
                return;
            op = std::move(menuOps_.front());
            menuOps_.pop_front();
        }
        op(*tray_);
    }
}
