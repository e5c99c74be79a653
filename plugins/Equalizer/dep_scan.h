// Dependency scan of one device: steps each DAC chosen by a mask through a range and reads back, on every
// chip, the analog value the DAC produces (one sample). The other DACs stay as they are or, when asked,
// sit at their middle value. The device's DACs are given back as they were on every path.
//
// Results file: per scanned DAC a line "# <name>", then one line per code, "code\tmean0\tsd0\tmean1\tsd1..."
// (chips in order), and a blank line between DACs.
//
// run() executes in a worker thread and calls the end function there, exactly once per run; another thread
// may call abort(), lastError() and the result accessors meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tvk_mgr.h"

namespace equalizer {

constexpr int kDepScanAborted = -152;

struct DepCurve {
    std::string name;
    int dacIndex = 0;
    std::vector<int> codes;
    std::vector<double> means;      // codes.size() x chips, code-major
    std::vector<double> deviations; // the same layout
};

class DepScan {
public:
    DepScan() = default;
    DepScan(const DepScan&) = delete;
    DepScan& operator=(const DepScan&) = delete;

    // Binds the device: its chip count, DAC names and widths. -1 with a text when they cannot be read.
    int setUp(const _MgrFuncTable* table, unsigned devId);
    // -1 with a text, nothing changed, for from < 0, step <= 0, from > to, a mask without a DAC of the
    // device or with bits past its DACs, or from above the largest value of a DAC of the mask. An empty
    // path writes no file. A DAC of the mask whose largest value lies below to is scanned up to that value;
    // notice() then says so.
    int configure(uint32_t mask, bool othersAtMiddle, int from, int to, int step, const std::string& path);
    // What the last accepted configuration cut ("Scan TO (1023) is cut to 255 for THL (its largest
    // value)."), empty when nothing.
    std::string notice() const;
    // The codes the configured scan visits, over all its DACs.
    int plannedCodes() const;
    // ended(true) after every DAC was scanned and the file written; ended(false) on a failure or an abort,
    // lastError() then holds the text. Returns 0, -1 or kDepScanAborted.
    int run(const std::function<void(bool success)>& ended);
    void abort() { abort_ = true; }

    std::string lastError() const;
    int chips() const { return chips_; }
    std::vector<DepCurve> curves() const;

private:
    int failWith(const std::string& text);
    int scanDac(size_t curve, std::vector<uint16_t>& dacs);
    int writeFile() const;

    const _MgrFuncTable* table_ = nullptr;
    unsigned dev_ = 0;
    bool bound_ = false;
    int chips_ = 0;
    std::vector<std::string> names_;
    std::vector<int> largest_;

    bool configured_ = false;
    uint32_t mask_ = 0;
    bool middle_ = false;
    int from_ = 0, to_ = 0, step_ = 1;
    std::string path_;

    std::atomic<bool> abort_{false};
    std::string notice_;
    std::atomic<int> planned_{0}; // read by the window while a scan runs
    mutable std::mutex mutex_; // guards curves_, error_ and notice_
    std::vector<DepCurve> curves_;
    std::string error_;
};

} // namespace equalizer
