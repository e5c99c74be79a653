// TvkLoader: makes sure only one copy runs, starts the manager once the application exists, feeds it the
// events of the GUI thread and shuts it down before the application ends. The tray's Exit, SIGTERM,
// SIGINT, SIGHUP and the end of the desktop session all run the same Exit sequence, so the settings are
// saved however the suite is ended.
#include <clocale>
#include <cstdio>
#include <string>

#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include "loader_app.h"
#include "uikit/message_box.h"
#include "platform/fault.h"
#include "platform/quit_signals.h"
#include "platform/single_instance.h"
#include "manager/tvk_manager.h"
#include "shell/utils/tvk_mgr_utils.h"

namespace {

// false: the program must end (the box has told the user why).
bool checkSingleInstance(plat::SingleInstance& instance)
{
    switch (instance.acquire("TvkLoaderSICheck")) {
    case plat::SingleInstance::Result::Acquired:
        return true;
    case plat::SingleInstance::Result::AlreadyRunning:
        messageBox(nullptr, QStringLiteral("Tarvik Loader is already running."));
        return false;
    case plat::SingleInstance::Result::Failed:
        messageBox(nullptr, QStringLiteral("Cannot create mutex.\n") + QString::fromStdString(instance.error()),
                   QString(), MSGBOX_OK | MSGBOX_ICONERROR);
        return false;
    }
    return false;
}

// A quit signal or the end of the desktop session: the boxes that wait for the user (those of the
// start-up among them) get their default answer, later ones get it at once, and Exit runs as soon as the
// start is over.
void requestQuit()
{
    setMessageBoxesQuitting(true);
    utilsRequestExit();
}

void startManager()
{
    const int rc = mgrInitManager();
    if (rc != 0)
        mgrLogMsg("TvkLoader", "The manager could not be started (error %d). Devices and plug-ins are not available.",
                  MGRLOG_MSGBOX, rc);
    utilsSetManagerStarting(0); // runs an Exit that was asked for meanwhile
}

} // namespace

int main(int argc, char** argv)
{
    CTvkLoaderApp app(argc, argv);
    // Numbers in files are read and written the same way under every locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Tarvik Loader"));
    QApplication::setQuitOnLastWindowClosed(false);

    plat::SingleInstance instance;
    if (!checkSingleInstance(instance))
        return 1;

    // An Exit asked for before the manager has started (a quit signal while the splash shows, say) is
    // held back until the start is over, so it runs inside the event loop and ends it. A quit request
    // answers the start's boxes, so the start cannot keep it waiting.
    utilsSetManagerStarting(1);
    plat::installFaultTranslator();

    std::string signalError;
    const int signalFd = plat::installQuitSignals(&signalError);
    QSocketNotifier* quitNotifier = nullptr;
    if (signalFd >= 0) {
        quitNotifier = new QSocketNotifier(signalFd, QSocketNotifier::Read, &app);
        QObject::connect(quitNotifier, &QSocketNotifier::activated, &app, [] {
            while (plat::takeQuitSignal() != 0) {
            }
            requestQuit();
        });
    } else {
        std::fprintf(stderr, "TvkLoader: %s\n", signalError.c_str());
    }
    // The session manager asks before the desktop session ends.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [](QSessionManager&) { requestQuit(); });

    if (utilsStart() != 0) {
        messageBox(nullptr, QStringLiteral("Cannot create the tray window."), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
        return 1;
    }
    static const MgrUtilsEntries entries = {sizeof(MgrUtilsEntries), utilsMsgHandler, setIntFuncTable, logShowWindow,
                                            managedItemsShowWindow};
    mgrSetUiHooks(utilsUiHooks(), &entries);
    utilsSetChainInfoFunc(mgrGetFilterChainInfo);
    app.setLogFunc(mgrLogMsg);
    app.setMessageHandler(mgrMessageHandler);

    // The manager starts inside the event loop; the Exit held back meanwhile then ends the loop.
    QTimer::singleShot(0, &app, startManager);
    const int code = app.exec();

    // Ended some other way than Exit: the manager still saves its settings (it runs its exit only once).
    mgrExitManager();
    app.setMessageHandler(nullptr);
    app.setLogFunc(nullptr);
    utilsSetChainInfoFunc(nullptr);
    setIntFuncTable(nullptr);
    mgrUnloadManager(); // plug-ins go while the application still exists
    mgrSetUiHooks(nullptr, nullptr);
    utilsEnd();
    delete quitNotifier;
    plat::uninstallQuitSignals();
    return code;
}
