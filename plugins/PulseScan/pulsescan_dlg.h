// The "Back side pulse" window of one device: the skeleton's dialog around the device's PulseScanPanel,
// which reads the device's frame size and settings file when the window is made. GUI thread only.
#pragma once

#include "pluginfw/plugin_dlg.h"

class PulseScanPanel;

class CPulseScanDlg : public CPluginDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "Back side pulse";

    explicit CPulseScanDlg(int devId);

    bool Create() override;
    PulseScanPanel* panel() const { return panel_; }

private:
    int devId_;
    PulseScanPanel* panel_ = nullptr;
};
