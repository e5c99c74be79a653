// The plug-in PulseScan.so: one "Back side pulse" window per device, and the analysis of each frame a
// device completes while its window is open. The "AcqCompleted" handler runs in the thread that raised
// the event and never waits for the GUI thread (pulse_device.h); at "Exit" it is unsubscribed and the
// running ones are waited for before the windows and records go.
#include <memory>

#include "pluginfw/plugin_entry.h"
#include "pluginfw/plugin_table.h"
#include "pulse_panel.h"
#include "pulsescan_data.h"
#include "uikit/message_box.h"

namespace {

MultDataPluginMgr<PulseScanData> gPulseScan;
// Made by the entry before any handler is subscribed; lives as long as the module.
std::unique_ptr<PulseDeviceSet> gDevices;

void onAcqCompleted(intptr_t devId)
{
    gDevices->acqCompleted(devId);
}

void onExit(intptr_t)
{
    if (const _MgrFuncTable* t = pluginTable(); t && t->mgrUnregisterCallback)
        t->mgrUnregisterCallback("tvkctrl", "AcqCompleted", &onAcqCompleted);
    gDevices->close();
}

} // namespace

PulseScanData::PulseScanData(int devId) : MultDataBaseWnd(devId), device(gDevices->add(static_cast<unsigned>(devId)))
{
}

PulseScanData* findPulseScanData(int devId) { return gPulseScan.find(devId); }

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) {
        gDevices = std::make_unique<PulseDeviceSet>(t);
        // Before the skeleton's own "Exit", which frees the windows and the data objects.
        t->mgrRegisterCallback("tvkmgr", "Exit", &onExit);
        const int rc = gPulseScan.init(t);
        if (rc != 0)
            return rc;
        t->mgrRegisterCallback("tvkctrl", "AcqCompleted", &onAcqCompleted);
        return 0;
    });
}

// For the tests: this module's own message-box handler (each module keeps its own), and the folder that
// "Save..." writes into without asking (null or empty: ask).
extern "C" TVK_EXPORT void pulsescanSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}

extern "C" TVK_EXPORT void pulsescanSetSaveFolder(const char* folder)
{
    PulseScanPanel::setFolderForTests(folder ? folder : "");
}
