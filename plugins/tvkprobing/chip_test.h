// The test of one contacted die: digital test, DAC dependency scan (through the equalizer), ANIN test and
// classification, with the result files "<OutputDir>/<test>_DigTest.dat", "_DACs.txt", "_DACs.svg",
// "_ANIN.dat" and "_log.txt". A result file that cannot be written is reported on its step's line and the
// sequence goes on.
//
// Runs on the probing run's thread. Each step takes the device (1000 ms) and gives it back at its end;
// the dependency scan runs with the device free, since the scan's own worker uses it. The ANIN test
// raises THL from the chip's value, one test-pulse acquisition per value, until at least the good share
// of the pixels lies within the ANIN limits, and gives the device its DACs back on every path.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "chip_analysis.h"
#include "dep_scan_client.h"
#include "pluginfw/dev_lock.h"
#include "preview_client.h"
#include "probe_settings.h"
#include "probe_ui.h"
#include "tvk_mgr.h"

namespace probing {

constexpr uint32_t kResultFileFlags = 0x112;

struct ChipResults {
    std::string chipId;
    std::vector<uint16_t> dacs;
    DigitalResult digital;
    AninResult anin;
    int aninThl = -1;
    std::string depScanStatus = "not run";
    std::string aninStatus = "not run";
    int chipClass = kNoClass;
};

struct DieContext {
    std::string waferName;
    std::string testName;
    double currentVdda = -1; // mA; negative: not measured
    double currentVddd = -1;
};

class ChipTest {
public:
    // preview: where the test frames are shown, or null.
    ChipTest(const _MgrFuncTable* table, unsigned devId, const ChipTestSettings& settings, DepScanClient* depScan,
             PreviewClient* preview, ProbeUi* ui, const std::atomic<bool>& abort);

    // The whole sequence; the class of the first chip, kNoClass when the classification was not reached.
    int run(const DieContext& die);

    const std::vector<ChipResults>& chips() const { return chips_; }

private:
    bool takeDevice(const char* step, DevLock& lock);
    bool digitalTest(const DieContext& die);
    bool dependencyScan(const DieContext& die);
    bool aninTest(const DieContext& die);
    int aninScan(std::vector<int16_t>& frame, int* thl);
    int aninFailed(const std::string& text); // shows text, keeps it for the log; -1
    void classify();
    void writeLog(const DieContext& die);
    void saveFrame(const char* step, const std::string& path);
    std::string path(const DieContext& die, const char* suffix) const;

    const _MgrFuncTable* t_;
    unsigned dev_;
    const ChipTestSettings& s_;
    DepScanClient* depScan_;
    PreviewClient* preview_;
    ProbeUi* ui_;
    const std::atomic<bool>& abort_;

    _DevInfo info_{};
    int chipCount_ = 1;
    std::vector<std::string> dacNames_;
    std::vector<int> dacBits_;
    std::vector<int16_t> digitalFrame_;
    std::vector<int16_t> aninFrame_;
    std::vector<ChipResults> chips_;
    std::string aninMessage_;
};

} // namespace probing
