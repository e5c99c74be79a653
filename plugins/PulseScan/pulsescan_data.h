// The per-device data object of the back-side pulse plug-in: the skeleton's window owner plus the
// device's record, which the plug-in's device set also holds for the "AcqCompleted" handler.
#pragma once

#include <memory>

#include "pluginfw/mult_data_wnd.h"
#include "pulse_device.h"
#include "pulsescan_dlg.h"

class PulseScanData : public MultDataBaseWnd<CPulseScanDlg> {
public:
    explicit PulseScanData(int devId);

    const std::shared_ptr<PulseDevice> device;
};

// The data object of a device, or null (GUI thread).
PulseScanData* findPulseScanData(int devId);
