// The per-device data objects of the plug-in's three tools. Each owns its engine and the worker that runs
// it, so that a run can start without a window (the registered functions start scans by name), and keeps
// what a later call needs: the DAC scan's parameters taken from its window and its output, the dependency
// scan's last error. The device maps are written on the GUI thread at start and exit only; other threads
// look objects up while the plug-in runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "dac_scan.h"
#include "dep_scan.h"
#include "eq_dialogs.h"
#include "external_pulser.h"
#include "pluginfw/mult_data_wnd.h"
#include "pluginfw/thread_op.h"
#include "th_equalization.h"

// A worker running one function, stopped by another.
class EngineOp : public ThreadOp {
public:
    std::function<int()> work;
    std::function<void()> stop;
    int run() override { return work ? work() : -1; }
    void abort() override
    {
        if (stop)
            stop();
    }
};

class ThEqualData : public MultDataBaseWnd<CEqualizerDlg> {
public:
    explicit ThEqualData(int devId);
    ~ThEqualData() override;

    // Sets the engine up and starts a run in the worker; -1 (logged) when the settings are refused or a run
    // is going on, why (when given) then saying what was refused.
    int start(int type, bool twoLevel, int first, int second, int step,
              const equalizer::EqualizationSettings& settings, std::string* why = nullptr);
    void abort() { op.requestAbort(); }
    bool running() const { return op.isRunning(); }
    int lastResult() const { return lastResult_; }

    equalizer::ThEqualization engine;

private:
    EngineOp op;
    std::atomic<int> lastResult_{1}; // 1 = no run yet
};

// What the DAC scan window hands over when it starts a scan; DacScanStart by name reuses it. The
// defaults are the window's: a scan by name before the window was ever used runs with them.
struct DacScanParams {
    int scanned = -1; // -1: THL
    int from = 0;
    int to = 100;
    int step = 10;
    bool follow = false;
    int followIndex = 0;
    int followOffset = 0;
    int perStep = 1;
    double acqTime = 0.01;
    int spacing = 1;
    bool integrate = false;
    bool log = false;
    bool testPulses = false;
    double pulseHeight = 0.2;  // [V]
    double pulsePeriod = 1e-4; // [s]
    uint32_t pulseCount = 100;
    uint32_t columnMask = 0xFFFFFFFFu;
    // The results file, written at the end of every scan when named: the value kind, enabled pixels only,
    // differences of neighbouring steps, a header line of DAC values.
    std::string results;
    int kind = 0;
    bool enabledOnly = false;
    bool difference = false;
    bool header = true;
};

class DacScanData : public MultDataBaseWnd<CDacScanDlg> {
public:
    explicit DacScanData(int devId);
    ~DacScanData() override;

    // Keeps params (when given) as the window's and starts a scan with the kept ones (the defaults when none
    // were ever kept) and the kept output. -1 (logged) when they are refused or a scan is running.
    int start(const DacScanParams* params);
    DacScanParams params() const;
    // Writes the history to path: the value kind, enabled pixels only, differences of neighbouring steps, a
    // header line of DAC values. 0 or -1 with the reason logged.
    int writeResults(const std::string& path, int kind, bool enabledOnly, bool difference, bool header);
    void setOutput(const std::string& path, uint32_t flags);
    // The window's output name; the frame-file flags set by name (DacScanSetFileOutput) stay.
    void setOutputPath(const std::string& path);
    std::string outputPath() const;
    void abort() { op.requestAbort(); }
    bool running() const { return op.isRunning(); }
    int lastResult() const { return lastResult_; }

    equalizer::DacScan engine;

private:
    EngineOp op;
    mutable std::mutex mutex_; // guards params_, output_, flags_
    DacScanParams params_;
    std::string output_;
    uint32_t flags_ = 0;
    std::atomic<int> lastResult_{1};
};

class DepScanData : public MultDataBaseWnd<CAnalogScanDlg> {
public:
    explicit DepScanData(int devId);
    ~DepScanData() override;

    // Configures and starts a scan in the worker; -1 with the text kept for lastError().
    int start(uint32_t mask, bool othersAtMiddle, int from, int to, int step, const std::string& path);
    void abort() { op.requestAbort(); }
    bool running() const { return op.isRunning(); }
    std::string lastError() const;
    int lastResult() const { return lastResult_; }

    equalizer::DepScan engine;
    std::atomic<bool> uiEnabled{true};

private:
    void setError(const std::string& text);

    EngineOp op;
    std::mutex startMutex_;    // one start at a time; held only while a start checks and launches
    mutable std::mutex mutex_; // guards error_
    std::string error_;
    std::atomic<int> lastResult_{1};
    // Set by the worker when the scan has reported its end (the worker then still returns); the worker's
    // thread, so that a start from inside a callback is told apart.
    std::atomic<bool> ended_{false};
    std::atomic<std::thread::id> worker_{};
};

ThEqualData* findThEqualData(int devId);
DacScanData* findDacScanData(int devId);
DepScanData* findDepScanData(int devId);

// The plug-in's external test pulser (created at start).
equalizer::ExternalPulser* externalPulser();

// The user closed a device's dependency scan window: the close callback, with the device id.
void notifyDepScanClosed(int devId);
