// A wafer probing run: die after die, move the station there, bring the needles into contact (a number
// of touch-downs, or an overdrive search on the analog supply current), prepare the device (on a DAQ-card
// device with its library's [Force] keys written for the reconnect and given back afterwards), test the
// chip, record its class in the wafer map and write the map's files.
//
// A ThreadOp: the run's thread owns the station's port, the power supplies and the sequence; it holds the
// device only inside the chip test's steps. The window hears of it through ProbeUi (queued) and asks it
// to stop with requestAbort; every wait of the run (station replies, pauses, boxes, the scan) looks at
// the abort flag. A failure shows "<message> (error code: n)" in a box and ends the run; an abort ends it
// without one. At the end the needles go up ("prbup") when the station is connected.
#pragma once

#include <functional>
#include <string>

#include "chip_test.h"
#include "dep_scan_client.h"
#include "power_supply.h"
#include "preview_client.h"
#include "probe_settings.h"
#include "probe_ui.h"
#include "station_link.h"
#include "pluginfw/thread_op.h"
#include "tvk_mgr.h"
#include "wafer_map.h"

namespace probing {

struct RunConfig {
    ChipTestSettings chip;
    StationSettings station;
    std::string waferName;
    std::string daqIniPath; // the DAQ-card library's ini file
    double settleSeconds = 1.0; // the pauses before a test and between contact tries (shorter in tests)
};

// Why a run cannot start with cfg: empty when it can.
std::string refusalOf(const RunConfig& cfg);

class ProbeRun : public ThreadOp {
public:
    ProbeRun(const _MgrFuncTable* table, unsigned devId, ProbeUi* ui);
    ~ProbeRun() override;

    // The settings of the next start (owner's thread, while no run is active).
    void configure(const RunConfig& cfg) { cfg_ = cfg; }

    int run() override;
    void abort() override;

    // After the run: the map and the classes counted (owner's thread, once the thread has ended).
    const RunProgress& lastProgress() const { return progress_; }

private:
    int runDies();
    int testDie(WaferMap& map, int column, int row);
    // One station command; on a failure the box, and the result for the run (false: the run ends).
    bool command(const std::string& text, int code, const char* failure);
    bool fail(const std::string& message, int code);
    bool contactByTouchDowns();
    // 1 contact, 0 no contact within the steps, -1 the run ends.
    int contactByCurrent();
    int currentSearch();
    bool readCurrent(double* mA);
    bool pause(double seconds);
    bool prepareDevice();
    bool reconnect();
    void reportProgress(const WaferMap& map);
    void openSupplies();

    const _MgrFuncTable* t_;
    unsigned dev_;
    ProbeUi* ui_;
    RunConfig cfg_;
    StationLink station_;
    DepScanClient depScan_;
    PreviewClient preview_;
    VisaLibrary visa_;
    PowerSupply vdda_;
    PowerSupply vddd_;
    RunProgress progress_;
    bool dorvel_ = false;
};

} // namespace probing
