// DAC scan of one device: steps one DAC (optionally a second one following it at a fixed offset) through
// a range, takes a number of acquisitions at each value and records per chip how the counts respond: sums
// of per-acquisition medians and sums of counts, over all pixels and over the enabled ones. It can save
// every frame, integrate the frames of a step into one frame, and log the analog threshold values per
// step.
//
// run() executes in a worker thread; the window's thread reads the history while it runs (every history
// accessor takes historyMutex_) and calls abort(). Progress reaches the window through the notify
// function, called in the worker's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tvk_mgr.h"

namespace equalizer {

constexpr unsigned kWmUser = 0x0400;
constexpr unsigned kMsgScanProgress = kWmUser + 100; // after each acquisition
constexpr unsigned kMsgScanEnded = kWmUser + 101;    // the scan ended
constexpr int kScanAborted = -152;

struct ScanPoint {
    uint32_t enabled = 0;
    int32_t value = 0;
    uint32_t medianAll = 0;
    uint32_t medianEnabled = 0;
    int64_t sumAll = 0;
    int64_t sumEnabled = 0;
};

// Medians as the scan takes them, on a copy of the counts: element 32768 of the chip's 65,536 counts
// sorted, and the median of the enabled pixels' counts (the element 65,536 - n + n/2 of the counts sorted
// with the disabled ones set to 0; 0 when no pixel is enabled).
uint32_t medianOfAll(const uint16_t* counts);
uint32_t medianOfEnabled(const uint16_t* counts, const uint8_t* cfg);

class DacScan {
public:
    DacScan() = default;
    virtual ~DacScan();
    DacScan(const DacScan&) = delete;
    DacScan& operator=(const DacScan&) = delete;

    // Reads the device description (again at every call: the device may have changed); the history is
    // cleared when the chip count differs from the one it was taken with.
    int setUp(const _MgrFuncTable* table, unsigned devId, std::function<void(unsigned message)> notify);
    // -1 without change for a scanned or following index past the DAC count, from or to outside the
    // scanned DAC's range, or step <= 0; why (when given) then names the setting, its value and the range.
    int setRange(int to, int followIndex, int scannedIndex, int from, int step, bool follow, int followOffset,
                 std::string* why = nullptr);
    // The index of the DAC "THL" (-1 before setUp).
    int thlIndex() const { return thl_; }
    int setOutput(const std::string& path, uint32_t fileFlags, bool log);
    void setAcquisition(int perStep, double time, int spacing, bool integrate);
    void setTestPulses(bool on, double height, double period, uint32_t count, uint32_t columnMask);

    // 0 when every step ran, kScanAborted when aborted, -1 on a failure; the points measured stay.
    int run();
    // Stops the run after the current acquisition, which the device ends at once (a step may last long:
    // the acquisition time times the acquisitions per step).
    void abort();

    int stepCount() const;
    // The name the acquisition would be saved under (the integrated frame with acquisition -1).
    std::string fileName(int value, int acquisition) const;

    // ---- history ----
    int runCount() const;
    int pointCount(int run) const;
    int firstValue(int run) const;
    int runStep(int run) const;
    bool historyEmpty() const;
    void clearHistory();
    // kind 0 sum of medians, 1 counts per enabled pixel, 2 sum of counts.
    double value(int run, int point, int chip, int kind, bool enabledOnly, bool difference) const;
    int writeResults(const std::string& path, int kind, bool enabledOnly, bool difference, bool header) const;

private:
    double pointValue(const ScanPoint& p, int kind, bool enabledOnly) const;
    int fail(int level, const char* format, ...);
    int prepare();
    int openLog();
    int setStepDacs(int value);
    int readConfig();
    int acquireStep(int value, int step);
    int integrate();
    int writeLogLine(int step);

    const _MgrFuncTable* table_ = nullptr;
    unsigned dev_ = 0;
    std::function<void(unsigned)> notify_;
    bool bound_ = false;
    int chipType_ = 0, chips_ = 0;
    uint32_t pixels_ = 0, width_ = 0, height_ = 0;
    int dacCount_ = 0;
    std::vector<std::string> names_;
    std::vector<int> largest_;
    int thl_ = -1, thh_ = -1, fbk_ = -1;

    int scanned_ = -1, from_ = 0, to_ = 0, step_ = 1;
    bool follow_ = false;
    int followOffset_ = 0, followIndex_ = -1;
    int perStep_ = 1;
    double acqTime_ = 0.01;
    int spacing_ = 1;
    bool integrate_ = false;
    bool testPulses_ = false;
    double tpHeight_ = 0, tpPeriod_ = 0;
    uint32_t tpCount_ = 0, tpMask_ = 0;
    std::string base_, extension_;
    uint32_t fileFlags_ = 0;
    bool log_ = false;

    std::atomic<bool> abort_{false};
    std::atomic<bool> running_{false}; // while run() works: only then does abort() stop the device
    std::vector<uint16_t> dacs_, originalDacs_;
    std::vector<uint16_t> frame_;
    std::vector<uint8_t> cfg_;
    std::vector<uint32_t> enabled_;
    uint32_t integration_ = 0; // manager frame id, 0 when none
    FILE* logFile_ = nullptr;
    std::string logPath_;

    mutable std::mutex historyMutex_; // guards history_; nothing is called while it is held
    std::vector<std::vector<ScanPoint>> history_; // entry (run r, chip c) at r x chips + c
};

} // namespace equalizer
