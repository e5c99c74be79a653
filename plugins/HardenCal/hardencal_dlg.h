// The beam-hardening tool window of one device on the multi-device plug-in skeleton: the window holds the
// device's HardenCalPanel, the skeleton gives it its menu item "Beam hardening", its caption and its
// remembered placement. GUI thread only.
#pragma once

#include "calib_host.h"
#include "pluginfw/plugin_dlg.h"

class HardenCalPanel;

class CHardenCalDlg : public CPluginDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "Beam hardening";

    explicit CHardenCalDlg(int devId);
    ~CHardenCalDlg() override;

    // Builds the panel on the device's calibration context; false when the device has none.
    bool Create() override;

    // The window's contents (null before Create).
    HardenCalPanel* panel() const { return panel_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    int devId_;
    HardenCalPanel* panel_ = nullptr;
};

// The calibration host whose contexts the windows show; the plug-in sets it before any window is made.
hcal::CalibHost* hardenCalHost();
void setHardenCalHost(hcal::CalibHost* host);
