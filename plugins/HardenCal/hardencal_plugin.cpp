// The plug-in HardenCal.so: one calibration context per device, bound at start with the device's default
// profile; the six registered functions; the tool window "Beam hardening" of each device on the
// multi-device skeleton (menu item under the device, caption, placement, closed before "Exit" returns).
#include <memory>

#include "calib_host.h"
#include "hardencal_dlg.h"
#include "pluginfw/mult_data_wnd.h"
#include "pluginfw/plugin_entry.h"

namespace {

class HardenCalData : public MultDataBaseWnd<CHardenCalDlg> {
public:
    using MultDataBaseWnd::MultDataBaseWnd;
};

MultDataPluginMgr<HardenCalData> gTool;
// Lives until the module goes: registered functions may still run on other threads while "Exit" closes
// the windows, so the contexts outlast them.
std::unique_ptr<hcal::CalibHost> gHost;

// Subscribed after the skeleton's own "Exit" handler, which closes the windows first.
void onExit(intptr_t)
{
    if (gHost)
        gHost->unregisterFunctions();
    pluginTable()->mgrUnregisterCallback("tvkmgr", "Exit", onExit);
}

} // namespace

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) {
        gHost = std::make_unique<hcal::CalibHost>(t);
        gHost->createContexts();
        if (const int r = gHost->registerFunctions(); r != 0) {
            gHost.reset();
            return r;
        }
        setHardenCalHost(gHost.get());
        if (const int r = gTool.init(t); r != 0)
            return r;
        t->mgrRegisterCallback("tvkmgr", "Exit", onExit);
        return 0;
    });
}
