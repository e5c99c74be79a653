// Entry of the device-control UI plug-in: the device control windows, the preview windows, their eleven
// functions and the events that drive them.
#include <cstdint>

#include <QCoreApplication>
#include <QEvent>

#include "ctrl_entry.h"
#include "pluginfw/plugin_entry.h"
#include "prev_window.h"
#include "tvk_export.h"
#include "tvk_mgr.h"
#include "uikit/message_box.h"

namespace {

void onExit(intptr_t arg)
{
    ctrlOnExit(arg);
    prevWndService().destroyAllPreviews();
    // Windows of this library are gone before the manager unloads it after "Exit": the work queued to close
    // them runs now, then the deletions it asked for, before the loop would reach them.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
void onAcqCompleted(intptr_t dev)
{
    ctrlOnAcqCompleted(dev);
    prevWndService().autoUpdateDevicePreviews(int(dev));
}
void onDevChanged(intptr_t dev)
{
    ctrlOnTvkDevChanged(dev);
    prevWndService().rebindDevicePreviews(int(dev));
}
void onPixCfg(intptr_t dev) { prevWndService().pixCfgChangedPreviews(int(dev)); }

int init(const _MgrFuncTable* table)
{
    installPreviewWindows(table);
    const struct {
        const char* source;
        const char* name;
        EventCallback callback;
    } subscriptions[] = {{"tvkmgr", "Exit", onExit},
                         {"tvkmgr", "Start", ctrlOnStart},
                         {"tvkctrl", "InfoMsg", ctrlOnInfoMsg},
                         {"tvkctrl", "AcqStarted", ctrlOnAcqStarted},
                         {"tvkctrl", "AcqCompleted", onAcqCompleted},
                         {"tvkctrl", "TvkDevChanged", onDevChanged},
                         {"tvkctrl", "TvkDevNew", ctrlOnTvkDevNew},
                         {"tvkctrl", "PixCfg", onPixCfg}};
    for (const auto& s : subscriptions)
        table->mgrRegisterCallback(s.source, s.name, s.callback);
    registerPrevWndFunctions(table);
    return initControlWindows(table);
}

} // namespace

TVK_EXTERN_C TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, init);
}

// Lets a test answer the plug-in's own message boxes (its copy of the toolkit).
TVK_EXTERN_C TVK_EXPORT void tvkctrluiSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}
