// The acquisition worker of the device control window: a series of frame, integral or test-pulse
// acquisitions on one device, optionally repeated with a random delay between runs, the raw frames saved
// by the device-control library and, per finished frame, a filtered copy saved through a filter chain.
// No Qt: it reports to its window through AcqObserver and never waits on it.
//
// Threads: the owner (the window's thread) edits settings() while no series runs and calls startSeries,
// requestAbort and waitForThread. run() executes in the worker thread. noteFrameStarted/noteFrameCompleted
// are called from the device events in the thread that fires them; they act only while this worker is
// inside one of its own acquisition calls, so another client's acquisition on the device is not taken for
// ours. The progress fields are atomics, read by the owner's timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pluginfw/thread_op.h"
#include "tvk_mgr.h"

// The worker's settings, the first 17 keys of section "Main" of the device's ini file (ctrl_settings.h)
// and the outputs chosen in the window.
struct AcqSettings {
    int refreshDacs = 1;   // resend the DACs before a series
    int refreshPixCfg = 1; // resend the pixel configuration before a series
    int acqType = 0;       // 0 frames, 1 integral, 2 test pulses
    int acqCount = 1;      // frames per run
    double acqTime = 0.1;  // seconds
    int acqSpacing = 1;    // spacing of frame and integral acquisitions
    std::string fileName;  // base name of the raw output
    std::string filtFileName; // base name of the filtered output
    int repeat = 0;
    uint32_t repeatCount = 0; // repetitions after the first run; 0 = until aborted
    double currentDelay = 0;  // delay used before the current repetition
    double delayFrom = 0, delayTo = 0;
    uint32_t pulseCount = 100;
    int tpSpacing = 4; // spacing of test-pulse acquisitions
    double pulseHeight = 0.5;
    double pulsePeriod = 0;
    // Chosen in the window, not kept in the file.
    uint32_t fileFlags = 0;  // raw output's frame-file flags; 0 = no raw files
    uint32_t filtFlags = 0;  // filtered output's flags
    int filterChainId = 0;   // 0 = no filtered output
};

// Frame-file flag of the "No file" format.
constexpr uint32_t kFileFlagNoFile = 0x8000;
// Longest file name the outputs accept (a terminating zero makes 512).
constexpr size_t kMaxFileName = 511;

// base without its extension (the part from the last '.' that follows the last '/'), then prefix, index
// zero-padded to at least digits digits, suffix and the extension. Empty when the result would be longer
// than kMaxFileName characters or index or digits is negative.
std::string makeTaggedFileName(const std::string& base, const char* prefix, int index, int digits,
                               const char* suffix);
// Decimal digits of a non-negative number (1 for 0).
int decimalDigits(uint64_t value);

// The files a series with these settings writes, in order, without ".dsc" files: the raw output when
// raw is true, else the filtered output (empty when that output writes nothing). A series repeated
// without end is followed up to its 9th repetition; at most maxNames names.
std::vector<std::string> plannedOutputNames(const AcqSettings& s, bool raw, size_t maxNames = 10000);

// Why a series with these settings must not start, as the text shown to the user; empty when it may. Raw
// files asked for without a name, or files in a folder that does not exist, would be written nowhere, and
// a file that both outputs write (a data file or a description file) would lose the first output's frame
// to the second. Looks at the file system.
std::string outputNamesProblem(const AcqSettings& s);

struct AcqProgress {
    double total = 0;       // fraction of the run, 0..1
    double frame = 0;       // fraction of the current frame, 0..1
    int framesDone = 0;
    double frameElapsed = 0; // seconds since the current frame started
    double runElapsed = 0;   // seconds since the run started
};

// What the worker tells its window; called in the worker thread, must return at once (queue the work).
class AcqObserver {
public:
    virtual void repetitionStarting(int repIndex) = 0;  // before its delay
    virtual void repetitionAcquiring(int repIndex) = 0; // after its delay
    virtual void seriesEnded() = 0;

protected:
    ~AcqObserver() = default;
};

class AcqControl : public ThreadOp {
public:
    explicit AcqControl(const _MgrFuncTable* mgr) : mgr_(mgr) {}
    ~AcqControl() override;

    void setDevIndex(int devIndex) { devIndex_ = devIndex; }
    int devIndex() const { return devIndex_; }
    void setObserver(AcqObserver* observer) { observer_ = observer; } // before startSeries

    // Edited by the owner while no series runs; startSeries takes a copy for the series.
    AcqSettings& settings() { return settings_; }
    const AcqSettings& settings() const { return settings_; }
    // "Repeat" may change during a series: clearing it ends the series after the current run.
    void setRepeat(bool on);

    // Starts a series with a copy of settings(): false while one runs or no thread can be started.
    bool startSeries();

    int run() override;
    void abort() override;

    AcqProgress getProgress() const;
    bool waitingForTrigger() const { return waitingForTrigger_; }
    bool waitingDelay() const { return waitingDelay_; }
    double delayStart() const { return delayStart_; }
    double currentDelay() const { return currentDelay_; }
    int repIndex() const { return repIndex_; }
    int acqMode() const { return acqMode_; }
    void setAcqMode(int mode) { acqMode_ = mode; } // the device's, read by the owner while idle
    const AcqSettings& running() const { return run_; } // the series' copy; owner's thread while idle only

    // From the device's "AcqStarted" and "AcqCompleted" events.
    void noteFrameStarted();
    void noteFrameCompleted();

    // The filtered copy of the frame just completed (framesDone - 1), saved under filteredName:
    // 0, or -1 (logged) when it cannot be made.
    int writeFilteredFrame();
    // Name of the filtered file of frame framesDone - 1 of the current run; empty when too long.
    std::string filteredName() const;

private:
    void runSeries(); // the runs of a series
    void endSeries(); // spacing back to 1, the end reported
    bool inOwnAcquisition() const;
    double delayFor();
    int acquire(const std::string& name);
    void logMsg(const char* fmt, int value, const char* text = nullptr) const;

    const _MgrFuncTable* mgr_;
    int devIndex_ = -1;
    AcqObserver* observer_ = nullptr;
    AcqSettings settings_; // the owner's
    AcqSettings run_;      // the series' copy, written before the thread starts
    std::atomic<bool> repeat_{false};
    std::mt19937 random_;
    int repDigits_ = 1;

    // Progress, written by the worker (and the event calls in its thread), read by the owner.
    std::atomic<int> acqMode_{1};
    std::atomic<int> repIndex_{0};
    std::atomic<int> framesDone_{0};
    std::atomic<bool> waitingForTrigger_{false};
    std::atomic<bool> waitingDelay_{false};
    std::atomic<double> currentDelay_{0};
    std::atomic<double> frameStart_{0};
    std::atomic<double> runStart_{0};
    std::atomic<double> delayStart_{0};
    // Set around the worker's own acquisition calls, with the thread that makes them.
    std::atomic<bool> inPerform_{false};
    std::atomic<std::thread::id> workerThread_{};
};
