// The plug-in tvkprobing.so: one "Wafer probing" window per device. At load, a DAQ-card ini left forced
// by a run that never ended is given back.
#include <chrono>
#include <memory>
#include <thread>

#include "daq_ini_guard.h"
#include "platform/module.h"
#include "pluginfw/plugin_entry.h"
#include "pluginfw/plugin_table.h"
#include "probe_data.h"
#include "uikit/message_box.h"

namespace {

MultDataPluginMgr<ProbeData> gProbe;
std::atomic<double> gSettleSeconds{1.0}; // the run's pauses; tests shorten them

// The state of one box asked for by the run: the answer (-1 until given), and whether the run stopped
// waiting (the box is then not shown any more).
struct BoxRequest {
    std::atomic<int> answer{-1};
    std::atomic<bool> cancelled{false};
};

} // namespace

ProbeData* findProbeData(int devId) { return gProbe.find(devId); }

std::string ProbeData::daqIniPath() { return plat::moduleFolderOf(&gProbe) + "/hwlibs/tvkHwDorvel.ini"; }

ProbeData::ProbeData(int devId)
    : MultDataBaseWnd(devId), context_(std::make_unique<QObject>()),
      run_(pluginTable(), static_cast<unsigned>(devId), this)
{
}

ProbeData::~ProbeData()
{
    run_.requestAbort();
    waitForThread(run_);
}

template <class Fn>
void ProbeData::toWindow(Fn fn)
{
    runOnGuiThread(context_.get(), [this, fn = std::move(fn)] {
        if (CProbingDlg* w = dlg())
            fn(w);
    });
}

void ProbeData::result(const std::string& name, const std::string& value)
{
    toWindow([name, value](CProbingDlg* w) { w->showResult(name, value); });
}

void ProbeData::clearResults()
{
    toWindow([](CProbingDlg* w) { w->clearResults(); });
}

void ProbeData::progress(const probing::RunProgress& p)
{
    toWindow([p](CProbingDlg* w) { w->showProgress(p); });
}

void ProbeData::runEnded()
{
    toWindow([](CProbingDlg* w) { w->runEnded(); });
}

int ProbeData::messageBox(const std::string& text, unsigned type, const std::atomic<bool>& abort)
{
    auto request = std::make_shared<BoxRequest>();
    runOnGuiThread(context_.get(), [this, request, text, type] {
        if (!request->cancelled)
            request->answer = ::messageBox(dlg(), QString::fromStdString(text), QString::fromUtf8(CProbingDlg::kToolName), type);
    });
    while (request->answer < 0) {
        if (abort) {
            request->cancelled = true;
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return request->answer;
}

bool ProbeData::startRun(const probing::RunConfig& cfg)
{
    if (run_.isRunning())
        return false;
    std::string error;
    if (probing::DaqIniGuard::restoreLeftover(cfg.daqIniPath, &error) != 0)
        ::messageBox(dlg(), QString::fromStdString(error), QString(), MSGBOX_OK | MSGBOX_ICONERROR);
    probing::RunConfig settled = cfg;
    settled.settleSeconds = gSettleSeconds.load();
    run_.configure(settled);
    if (!run_.start()) {
        ::messageBox(dlg(), "The probing thread cannot be started.", QString(), MSGBOX_OK | MSGBOX_ICONERROR);
        return false;
    }
    return true;
}

void ProbeData::abortRun() { run_.requestAbort(); }

void ProbeData::closeWindow(bool force)
{
    if (run_.isRunning()) {
        run_.requestAbort();
        waitForThread(run_);
    }
    if (CProbingDlg* w = dlg())
        w->saveSettings();
    MultDataBaseWnd::closeWindow(force);
}

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) {
        probing::DaqIniGuard::restoreLeftover(ProbeData::daqIniPath());
        return gProbe.init(t);
    });
}

// For the tests: this module's own message-box handler (each module keeps its own).
extern "C" TVK_EXPORT void tvkprobingSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}

// For the tests: the length of the run's pauses before a chip test and between contact tries.
extern "C" TVK_EXPORT void tvkprobingSetSettleSeconds(double seconds) { gSettleSeconds = seconds; }
