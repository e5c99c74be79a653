// The panel's logic without windows: the values shared between the window (GUI thread) and the event
// handlers (the thread that raised the event, usually an acquisition worker holding the device lock),
// the deferred setting of DACs while the device is busy, the read-back, the "Locked" propagation, the
// read-back texts and the settings files.
//
// Lock order: the window lock of the skeleton, then the data lock below. No device call is made while the
// data lock is held, and the GUI thread never waits for the device lock: it tries it once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sync.h"
#include "tvk_mgr.h"

namespace dacdeck {

// The reference flags of tvkCtrlSetDACs: the other chips' THL / THH derived from the reference chip.
constexpr int kRefThl = 1;
constexpr int kRefThh = 2;

// What became of an apply made by the window.
enum class Applied { Sent, Unchanged, Pending, Failed };

// What the handlers tell the window (posted to its thread by the caller's notifier).
enum class Notice { ReadBackDone, ExtDacRead, Error };

// The device values shared by the window and the event handlers of one device.
class DacState {
public:
    using Notifier = std::function<void(Notice, int code)>;

    DacState(const _MgrFuncTable* table, unsigned devId);

    // Re-reads the DAC count, chip count and chip type and sizes the buffers; clears every pending flag,
    // the reference chip and flags and the three DAC indices. 0, or the failing device result.
    int reset();

    // The window's notifier; called with no lock held. Null: nothing is told.
    void setNotifier(Notifier notifier);

    void setIndices(int thl, int thh, int fbk);
    void setSenseCount(int count);
    int senseCount() const;

    int dacCount() const;
    int chipCount() const;
    int chipType() const;

    // The window's apply of all values (chip after chip, each chip in DAC order): one try of the device
    // lock; when taken, sends the values unless they equal the device's; otherwise the values wait as
    // pending, their reference flags ORed into those already waiting.
    Applied applyDacs(const std::vector<uint16_t>& values, int selectedChip, int refFlags, int* code = nullptr);
    // The window's apply of the external DAC routing (dacIndex -1 = none) and value.
    Applied applyExtDac(int dacIndex, double value, int* code = nullptr);
    // Opening the window: reads the values and senses under one try; when busy marks a sense as pending.
    // Returns Sent when read, Pending when busy.
    Applied sense(int* code = nullptr);
    // Reads the external DAC under one try. Pending when busy (the next "AcqCompleted" or "ExtDACSet"
    // brings it).
    Applied readExtDac();
    // "AcqCompleted": the read that readExtDac left pending, if any.
    void readPendingExtDac();

    // Marks a read-back as pending (for the next applyPending).
    void senseLater();
    // "AcqCompleted": sends what is pending. Each pending item is taken and cleared under the data lock
    // before its device call, so a move made during the call stays pending for the next turn.
    void applyPending();
    // "DACs set" (and a pending sense): reads the values and senses THL, FBK and THH (not on chip type 3).
    void readBack();
    // "ExtDACSet": reads the external DAC into locals, then stores it under the data lock.
    void extDacChanged();

    // Copies for the window, under the data lock.
    struct Snapshot {
        std::vector<uint16_t> values;
        std::vector<double> thl, thh, fbk; // means of every chip, then standard deviations
        int extDacIndex = -1;
        double extDacValue = 0;
        bool dacsPending = false, extDacPending = false, sensePending = false;
        int pendingRefFlags = 0;
    };
    Snapshot snapshot() const;

private:
    int tryLock();
    void release();
    void failed(const char* what, int code);
    void notify(Notice notice, int code = 0);

    const _MgrFuncTable* table_;
    unsigned devId_;
    Notifier notifier_;

    // The data lock: guards every member below; no device call and no notifier call while it is held.
    mutable std::mutex mutex_;
    int dacCount_ = 0;
    int chipCount_ = 0;
    int chipType_ = 0;
    int valueCount_ = 0;
    std::vector<uint16_t> pendingDacs_;
    int pendingRefChip_ = 0;
    int pendingRefFlags_ = 0;
    bool extDacPending_ = false;
    bool dacsPending_ = false;
    bool sensePending_ = false;
    bool extReadPending_ = false;
    int thlIndex_ = -1, thhIndex_ = -1, fbkIndex_ = -1;
    std::vector<double> thlSense_, thhSense_, fbkSense_;
    int senseCount_ = 1;
    int extDacIndex_ = -1;
    double extDacValue_ = 0;
};

// One device as the event handlers see it: its shared values, the window lock of its data object (owned
// by the GUI thread's skeleton) and whether its window is ready.
struct DeckDevice {
    DeckDevice(const _MgrFuncTable* table, unsigned devId, plat::OwnedRecursiveMutex& lock)
        : table(table), devId(devId), state(table, devId), windowLock(lock)
    {
    }
    const _MgrFuncTable* const table;
    const unsigned devId;
    DacState state;
    plat::OwnedRecursiveMutex& windowLock;
    // Set when the window finished building, cleared when it is closed for good; changed under windowLock.
    std::atomic<bool> windowReady{false};
    int running = 0; // handlers using the device; guarded by the registry's lock
};

// The devices of the plug-in for the event handlers, which run in the thread that raised the event while
// the GUI thread makes and removes data objects and windows. A handler finds its device under the
// registry's lock and holds a reference while it runs; remove waits for the handlers still running on a
// device, so its window lock outlives them.
//
// Lock order: the device, then the window. The thread that raised the event usually holds the device
// already (taken again at once); any other thread takes it here, before the window lock, so that it never
// waits for the device inside the window lock while an acquiring thread, holding the device, waits for that
// window lock. The GUI thread only tries.
class DeckRegistry {
public:
    // A new device whose data object holds windowLock; a device of the same id is removed first.
    std::shared_ptr<DeckDevice> add(const _MgrFuncTable* table, unsigned devId, plat::OwnedRecursiveMutex& windowLock);
    // The device goes; returns once no handler runs on it any more. Not with its window lock held.
    void remove(unsigned devId);
    std::shared_ptr<DeckDevice> find(unsigned devId) const;

    // Runs fn on the device under its device and window locks while its window is ready. mayWait false
    // (the GUI thread): the device lock is tried once, and a busy device gives false with nothing run.
    // Otherwise true (also when there is no such device or window).
    bool withReadyDevice(unsigned devId, bool mayWait, const std::function<void(DeckDevice&)>& fn);

private:
    void done(DeckDevice& device);

    mutable std::mutex mutex_; // guards devices_ and every device's running count; nothing is called under it
    std::condition_variable idle_;
    std::map<unsigned, std::shared_ptr<DeckDevice>> devices_;
};

// lockPropagate: after DAC i of the selected chip changed, and only when the device shows "Locked" boxes
// (chipCount > 1) and DAC i is locked: THL / THH add their reference flag, any other DAC is copied to every
// chip.
void lockPropagate(std::vector<uint16_t>& values, int dacCount, int chipCount, int selectedChip, int dac,
                   uint32_t lockedMask, int thlIndex, int thhIndex, int& refFlags);

// The slider range of the "Ext DAC" column: (max - min) / step + 0.5 truncated, 0 when step <= 0.
int extDacRange(double min, double max, double step);
// The slider position of an external-DAC value (0 when step <= 0).
int extDacPosition(double value, double min, double step);

// The THL-FBK / THH-FBK text of one chip: "%.4f" of the mean difference when senseCount < 2, else
// "%.4f (%.4f)" with the root of the summed squared standard deviations. sense arrays: chipCount means, then
// chipCount deviations.
std::string senseText(const std::vector<double>& a, const std::vector<double>& fbk, int chip, int chipCount,
                      int senseCount);

// The readings averaged per sensed value: 1 .. 1000, as the settings dialog allows. A larger count from a
// hand-edited file would hold the device for as many readings at every read-back.
constexpr int kMaxSenseCount = 1000;

struct Settings {
    int activeDacs = -1;
    int lockedDacs = 0;
    int senseCount = 1;
};
// Section "Settings" of the per-device file, or of the default file when the per-device file cannot be read;
// SenseCount is brought into 1 .. kMaxSenseCount.
Settings readSettings(const std::string& deviceFile, const std::string& defaultFile);
// Writes the three keys (decimal); 0 or the ini layer's code with errorText.
int writeSettings(const std::string& file, const Settings& settings, std::string* errorText = nullptr);

} // namespace dacdeck
