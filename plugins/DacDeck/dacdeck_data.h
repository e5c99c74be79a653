// The per-device data object of the DAC panel: the skeleton's window owner plus the shared values.
#pragma once

#include <atomic>

#include "dac_deck_core.h"
#include "dacdeck_dlg.h"
#include "pluginfw/mult_data_wnd.h"

class DacDeckData : public MultDataBaseWnd<CDacDeckDlg> {
public:
    explicit DacDeckData(int devId);

    // The device was reconnected: shared values re-sized and cleared, then the window rebuilt.
    void onDevChanged();

    dacdeck::DacState state;
    // Set when the window finished building, cleared when it is destroyed; the event handlers do nothing
    // while it is clear.
    std::atomic<bool> windowReady{false};
};

// The data object of a device, or null (the plug-in's device map).
DacDeckData* findDacDeckData(int devId);
