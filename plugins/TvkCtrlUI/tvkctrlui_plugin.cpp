// Entry of the device-control UI plug-in: the preview windows, their eleven functions and the events that
// drive them.
#include <cstdint>

#include "pluginfw/plugin_entry.h"
#include "prev_window.h"
#include "tvk_export.h"
#include "tvk_mgr.h"

namespace {

void onExit(intptr_t) { prevWndService().destroyAllPreviews(); }
void onAcqCompleted(intptr_t dev) { prevWndService().autoUpdateDevicePreviews(int(dev)); }
void onDevChanged(intptr_t dev) { prevWndService().rebindDevicePreviews(int(dev)); }
void onPixCfg(intptr_t dev) { prevWndService().pixCfgChangedPreviews(int(dev)); }

int init(const _MgrFuncTable* table)
{
    installPreviewWindows(table);
    registerPrevWndFunctions(table);
    const struct {
        const char* source;
        const char* name;
        EventCallback callback;
    } subscriptions[] = {{"tvkmgr", "Exit", onExit},
                         {"tvkctrl", "AcqCompleted", onAcqCompleted},
                         {"tvkctrl", "TvkDevChanged", onDevChanged},
                         {"tvkctrl", "PixCfg", onPixCfg}};
    for (const auto& s : subscriptions)
        table->mgrRegisterCallback(s.source, s.name, s.callback);
    return 0;
}

} // namespace

TVK_EXTERN_C TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, init);
}
