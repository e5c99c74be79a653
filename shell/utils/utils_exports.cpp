// The exported functions of TvkMgrUtils.
#include "tvk_mgr_utils.h"

#include <new>
#include <string>

#include <QApplication>

#include "log_dlg.h"
#include "message_dlg.h"
#include "tray_dlg.h"
#include "utils_app.h"

namespace {

CTvkMgrUtilsApp& app()
{
    return CTvkMgrUtilsApp::instance();
}

QString fromUtf8(const char* text)
{
    return QString::fromUtf8(text ? text : "");
}

} // namespace

int setIntFuncTable(const _IntFuncTable* table)
{
    app().setIntFuncTable(table);
    return 0;
}

int utilsMsgHandler(TvkMsg*)
{
    return 0;
}

namespace {

// false when the log window is not there (the library has not started or has ended).
bool showLog(int show)
{
    CTvkLogDlg* log = app().logDlg();
    if (!log)
        return false;
    if (show) {
        log->show();
        log->activateWindow();
    } else {
        log->hide();
    }
    return true;
}

} // namespace

int logShowWindow(int show)
{
    try {
        if (onGuiThread())
            return showLog(show) ? 0 : -1;
        return runOnGuiThread([show] { showLog(show); }) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int managedItemsShowWindow(void)
{
    try {
        if (onGuiThread())
            return app().showManagedItems();
        return runOnGuiThread([] { app().showManagedItems(); }) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int showMsgWindow(const char* title, const char* fmt, va_list args)
{
    try {
        return openMessageWindow(title ? title : "", formatText(fmt, args));
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int utilsAddMenuItem(const char* itemName, const char* menuPath, int mgrItemId)
{
    if (!itemName)
        return -1;
    try {
        app().queueMenuOp([name = fromUtf8(itemName), path = fromUtf8(menuPath), mgrItemId](CTrayDlg& tray) {
            tray.addMenuItem(name, path, mgrItemId);
        });
    } catch (...) {
        return -1;
    }
    return 0;
}

int utilsRemoveMenuItem(int mgrItemId)
{
    try {
        app().queueMenuOp([mgrItemId](CTrayDlg& tray) { tray.removeMenuItem(mgrItemId); });
    } catch (...) {
        return -1;
    }
    return 0;
}

int utilsRenameMenuItem(int mgrItemId, const char* newText)
{
    try {
        app().queueMenuOp(
            [mgrItemId, text = fromUtf8(newText)](CTrayDlg& tray) { tray.renameMenuItem(mgrItemId, text); });
    } catch (...) {
        return -1;
    }
    return 0;
}

int utilsRenameSubMenu(const char* parentPath, const char* oldText, const char* newText)
{
    // Queued like every menu change, so it runs after the additions asked for before it; whether the
    // entry was there is known only then.
    const bool hasPath = parentPath != nullptr;
    try {
        app().queueMenuOp([hasPath, path = std::string(parentPath ? parentPath : ""), oldText = fromUtf8(oldText),
                           newText = fromUtf8(newText)](CTrayDlg& tray) {
            tray.renameSubMenu(hasPath ? path.c_str() : nullptr, oldText, newText);
        });
    } catch (...) {
        return -1;
    }
    return 0;
}

int utilsStart(void)
{
    if (!onGuiThread())
        return -1;
    return app().InitInstance() ? 0 : -1;
}

void utilsEnd(void)
{
    if (onGuiThread())
        app().ExitInstance();
}

void utilsRequestExit(void)
{
    try {
        runOnGuiThread([] { app().requestExit(); });
    } catch (...) {
        // Nothing can be queued when memory runs out; the loader's own end still saves the settings.
    }
}

void utilsSetManagerStarting(int starting)
{
    try {
        runOnGuiThread([starting] { app().setManagerStarting(starting != 0); });
    } catch (...) {
    }
}

int utilsExitRequested(void)
{
    return app().exitRequested() ? 1 : 0;
}

void utilsSetChainInfoFunc(int (*getChainInfo)(int chainId, _FilterChainDesc* out))
{
    app().setChainInfoFunc(getChainInfo);
}
