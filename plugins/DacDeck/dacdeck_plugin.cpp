// The plug-in DacDeck.so: one "DAC Control Panel" per device, and the three device events that move the
// panel's pending values and read-backs. The handlers run in the thread that raised the event (usually a
// worker that holds the device lock) and never wait for the GUI thread: results reach the window by
// queued calls.
#include <QMetaObject>

#include "dacdeck_data.h"
#include "pluginfw/plugin_entry.h"
#include "pluginfw/plugin_table.h"
#include "uikit/message_box.h"

namespace {

MultDataPluginMgr<DacDeckData> gDeck;
dacdeck::DeckRegistry gDevices;

// Runs fn on a device's values under its device and window locks while its window is ready; false when
// the GUI thread found the device busy (nothing ran).
template <class Fn>
bool withReadyData(intptr_t devId, Fn fn)
{
    if (devId < 0 || devId > UINT32_MAX)
        return true;
    return gDevices.withReadyDevice(static_cast<unsigned>(devId), !isGuiThread(),
                                    [&](dacdeck::DeckDevice& d) { fn(d.state); });
}

void onAcqCompleted(intptr_t devId)
{
    withReadyData(devId, [](dacdeck::DacState& state) {
        state.applyPending();
        state.readPendingExtDac(); // a read that found the device busy when the window opened
    });
}

void onDacsSet(intptr_t devId)
{
    if (!withReadyData(devId, [](dacdeck::DacState& state) { state.readBack(); }))
        if (const auto device = gDevices.find(static_cast<unsigned>(devId)))
            device->state.senseLater(); // the next "AcqCompleted" reads back
}

void onExtDacSet(intptr_t devId)
{
    withReadyData(devId, [](dacdeck::DacState& state) { state.extDacChanged(); });
}

} // namespace

DacDeckData::DacDeckData(int devId)
    : MultDataBaseWnd(devId), device(gDevices.add(pluginTable(), static_cast<unsigned>(devId), lock)),
      state(device->state), windowReady(device->windowReady)
{
    state.setNotifier([this](dacdeck::Notice notice, int code) {
        // Called with the window lock held by the handler (or on the GUI thread): the window exists now,
        // and a queued call to it is dropped if it goes before the call runs.
        if (CDacDeckDlg* w = dlg())
            QMetaObject::invokeMethod(w, [w, notice, code] { w->onNotice(notice, code); }, Qt::QueuedConnection);
    });
}

DacDeckData::~DacDeckData()
{
    gDevices.remove(device->devId);
}

void DacDeckData::onDevChanged()
{
    {
        std::lock_guard<plat::OwnedRecursiveMutex> guard(lock);
        state.reset();
    }
    MultDataWndCore::onDevChanged();
}

void DacDeckData::closeWindow(bool force)
{
    CritSecGuard guard(lock);
    CDacDeckDlg* w = dlg();
    if (w && (force || !keepOnClose())) {
        windowReady = false;
        w->saveSettings();
    }
    MultDataBaseWnd::closeWindow(force);
}

DacDeckData* findDacDeckData(int devId) { return gDeck.find(devId); }

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) {
        const int rc = gDeck.init(t);
        if (rc != 0)
            return rc;
        t->mgrRegisterCallback("tvkctrl", "AcqCompleted", &onAcqCompleted);
        t->mgrRegisterCallback("tvkctrl", "DACs set", &onDacsSet);
        t->mgrRegisterCallback("tvkctrl", "ExtDACSet", &onExtDacSet);
        return 0;
    });
}

// For the tests: this module's own message-box handler (each module keeps its own).
extern "C" TVK_EXPORT void dacdeckSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}
