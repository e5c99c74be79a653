// The per-device data object of the wafer prober: the window's owner and the owner of the device's run.
// The run's reports reach the window by calls queued to the GUI thread; its boxes are shown there while
// the run waits with its abort flag. Closing the window (or "Exit") aborts a run and waits for its end.
#pragma once

#include <memory>

#include <QObject>

#include "pluginfw/mult_data_wnd.h"
#include "probe_run.h"
#include "probing_dlg.h"

class ProbeData : public MultDataBaseWnd<CProbingDlg>, private probing::ProbeUi {
public:
    explicit ProbeData(int devId);
    ~ProbeData() override;

    // Starts a run with the window's settings; false (with a box) when it cannot start. GUI thread.
    bool startRun(const probing::RunConfig& cfg);
    void abortRun();
    bool running() const { return run_.isRunning(); }

    void closeWindow(bool force) override;

    // The DAQ-card library's ini file beside this plug-in.
    static std::string daqIniPath();

private:
    void result(const std::string& name, const std::string& value) override;
    void clearResults() override;
    void progress(const probing::RunProgress& progress) override;
    int messageBox(const std::string& text, unsigned type, const std::atomic<bool>& abort) override;
    void runEnded() override;

    template <class Fn>
    void toWindow(Fn fn);

    std::unique_ptr<QObject> context_; // queued calls to the window die with it
    probing::ProbeRun run_;
};

ProbeData* findProbeData(int devId);
