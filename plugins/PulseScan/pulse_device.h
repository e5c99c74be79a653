// The per-device records of the plug-in without windows: each device's settings, analysis and running
// flag, and the handler of the manager's "AcqCompleted" that feeds them.
//
// Threads: the handler runs on the thread that completed the acquisition. It analyses under the device's
// lock and then asks the window for a refresh through its handler, at most one pending at a time; the
// window takes a copy of the results under the same lock. Closing the set refuses new handler calls and
// waits for the running ones, so the records can then be freed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "pulse_analysis.h"
#include "tvk_mgr.h"

inline constexpr const char* kPulseScanSource = "PulseScan";
inline constexpr uint32_t kScopeBufferBytes = 1000; // the "Scope data" buffer: up to 500 samples

class PulseDevice {
public:
    explicit PulseDevice(unsigned devId) : devId_(devId) {}
    unsigned devId() const { return devId_; }

    // Reads the last frame of the finished acquisition and its "Scope data" and analyses them while a
    // measurement runs. Nothing happens while the device's window is closed.
    void onAcqCompleted(const _MgrFuncTable& table);
    // Analyses one frame as onAcqCompleted does after reading it (while a measurement runs).
    void analyse(const uint16_t* frame, unsigned width, unsigned height, const uint16_t* samples, unsigned count);

    // A new measurement with these settings (the accumulations cleared); stop ends it.
    void start(const PulseSettings& settings);
    void stop();
    bool running() const;
    // Settings for the next start and for the frames from now on.
    void setSettings(const PulseSettings& settings);
    PulseSettings settings() const;
    // A copy of everything accumulated; clears the pending refresh first, so a later change asks again.
    PulseResults takeResults();

    // Whether a frame of this device carrying "Scope data" has been read (while its window was open).
    bool scopeSeen() const { return scopeSeen_; }

    std::atomic<bool> windowOpen{false};
    // The window's request for a refresh, called from any thread with the device id when the results
    // changed and no refresh is pending; it must only post. Cleared (empty) before the window goes.
    void setRefreshHandler(std::function<void(unsigned devId)> handler);

private:
    void changed();

    const unsigned devId_;
    std::mutex refreshMutex_; // guards refreshHandler_: a call of it and its removal never overlap
    std::function<void(unsigned)> refreshHandler_;
    std::atomic<bool> refreshPending_{false};
    std::atomic<bool> scopeSeen_{false};
    mutable std::mutex mutex_; // guards analysis_, running_ and the buffers; held for one analysis or copy,
                               // no manager call and no window is reached under it
    PulseAnalysis analysis_;
    bool running_ = false;
    std::vector<int16_t> frame_;    // the device's frame, made on first use (handler thread only)
    std::vector<uint16_t> samples_; // (handler thread only)
};

// The records of all devices present at start, and the "AcqCompleted" subscriber.
class PulseDeviceSet {
public:
    explicit PulseDeviceSet(const _MgrFuncTable* table) : table_(table) {}

    std::shared_ptr<PulseDevice> add(unsigned devId);
    std::shared_ptr<PulseDevice> find(unsigned devId) const;
    // The handler of ("tvkctrl", "AcqCompleted"). A device without a record here is none of this tool's
    // business and passes silently; an id that names no device at all (the control library says so, or
    // it is out of range) is logged under "PulseScan", once.
    void acqCompleted(intptr_t devId);
    // No handler starts from now on; waits for the running ones.
    void close();

private:
    // Whether the control library knows a device of this id (any answer but "invalid device index").
    bool deviceExists(intptr_t devId) const;

    const _MgrFuncTable* table_;
    mutable std::mutex mutex_; // guards devices_, running_ and closed_; nothing else is called under it
    std::condition_variable idle_;
    std::map<unsigned, std::shared_ptr<PulseDevice>> devices_;
    std::set<intptr_t> strangers_; // ids without a record already judged (and logged when invalid)
    int running_ = 0;
    bool closed_ = false;
};
