// The per-device data object of the DAC panel: the skeleton's window owner plus the shared values.
#pragma once

#include <atomic>
#include <memory>

#include "dac_deck_core.h"
#include "dacdeck_dlg.h"
#include "pluginfw/mult_data_wnd.h"

class DacDeckData : public MultDataBaseWnd<CDacDeckDlg> {
public:
    explicit DacDeckData(int devId);
    // Returns once no event handler uses the device any more.
    ~DacDeckData() override;

    // The device was reconnected: shared values re-sized and cleared, then the window rebuilt.
    void onDevChanged();
    // A close for good clears windowReady and writes the window's settings before the window goes, so that
    // the deferred deletion of a closed window never touches the window reopened after it (a device change
    // closes and reopens at once) and the settings go to the file of the device the window was built for.
    void closeWindow(bool force) override;

    // The device as the event handlers see it (dac_deck_core.h), with this object's window lock.
    const std::shared_ptr<dacdeck::DeckDevice> device;
    dacdeck::DacState& state;
    // Set when the window finished building, cleared when it is closed for good; the event handlers do
    // nothing while it is clear.
    std::atomic<bool>& windowReady;
};

// The data object of a device, or null (the plug-in's device map).
DacDeckData* findDacDeckData(int devId);
