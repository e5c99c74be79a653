// The plug-in HardenCal.so: one calibration context per device, bound at start with the device's default
// profile; the six registered functions; the menu item "Beam hardening" under each device, which shows
// that device's window. Windows live on the GUI thread and are gone before "Exit" returns.
#include <cstdint>
#include <map>
#include <memory>

#include <QString>
#include <QWidget>

#include "calib_host.h"
#include "hardencal_panel.h"
#include "tvk_export.h"
#include "tvk_mgr.h"
#include "uikit/message_box.h"

namespace {

constexpr char kPluginName[] = "HardenCal";
constexpr char kToolName[] = "Beam hardening";

struct Plugin {
    const _MgrFuncTable* table = nullptr;
    std::unique_ptr<hcal::CalibHost> host;
    std::map<int, QWidget*> windows; // GUI thread only
    std::vector<int> menuItems;
};

Plugin& plugin()
{
    static Plugin p;
    return p;
}

void showWindow(void* userData)
{
    Plugin& p = plugin();
    const int devId = static_cast<int>(reinterpret_cast<intptr_t>(userData));
    hcal::CalibContext* ctx = p.host ? p.host->context(devId) : nullptr;
    if (!ctx)
        return;
    QWidget*& window = p.windows[devId];
    if (!window) {
        const hcal::DeviceShape shape = ctx->shape();
        window = new HardenCalPanel(*p.host, *ctx);
        window->setWindowTitle(QString("%1 %2 (%3 %4)")
                                   .arg(kToolName)
                                   .arg(devId)
                                   .arg(QString::fromStdString(shape.interfaceName),
                                        QString::fromStdString(shape.chipboardId)));
        window->setAttribute(Qt::WA_DeleteOnClose, false);
    } else {
        static_cast<HardenCalPanel*>(window)->refresh();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void onExit(intptr_t)
{
    Plugin& p = plugin();
    for (auto& [id, window] : p.windows)
        delete window;
    p.windows.clear();
    if (p.table) {
        for (int item : p.menuItems)
            p.table->mgrRemoveMenuItem(item);
        p.menuItems.clear();
        p.table->mgrUnregisterCallback("tvkmgr", "Exit", onExit);
    }
    if (p.host)
        p.host->unregisterFunctions();
}

} // namespace

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    if (!table)
        return -1;
    if (table->version != MGR_INTERFACE_VERSION) {
        messageBox(nullptr,
                   QString("Plugin \"%1\" was compiled with header files ver. %2, this version is %3, please "
                           "recompile the plugin.")
                       .arg(kPluginName)
                       .arg(MGR_INTERFACE_VERSION)
                       .arg(table->version),
                   "Plugin version check failed", MSGBOX_ICONERROR);
        return -1;
    }
    Plugin& p = plugin();
    p.table = table;
    p.host = std::make_unique<hcal::CalibHost>(table);
    p.host->createContexts();
    const int r = p.host->registerFunctions();
    if (r != 0) {
        p.host.reset();
        return r;
    }
    for (int devId : p.host->devices()) {
        int item = -1;
        if (table->mgrAddTvkMenuItem(devId, kPluginName, kToolName, nullptr, showWindow,
                                     reinterpret_cast<void*>(static_cast<intptr_t>(devId)), &item, 0) == 0)
            p.menuItems.push_back(item);
    }
    table->mgrRegisterCallback("tvkmgr", "Exit", onExit);
    return 0;
}
