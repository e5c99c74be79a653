// The calibration contexts of all devices as the manager sees them: one context per device, bound to it
// through the manager's function table, the point set-up from a device's last acquisition, and the six
// registered functions. No Qt; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "calib_context.h"
#include "tvk_mgr.h"

namespace hcal {

// The registered functions' names, as other plug-ins call them.
inline constexpr char kFuncFrame[] = "BH Correction";
inline constexpr char kFuncArray[] = "BH Correction Flt";
inline constexpr char kFuncAverage[] = "BH Correction of Average";
inline constexpr char kFuncMask[] = "BHShowMask";
inline constexpr char kFuncPoint[] = "HardenCal.Point";
inline constexpr char kFuncPointErr[] = "HardenCal.PointErr";

class CalibHost {
public:
    explicit CalibHost(const _MgrFuncTable* mgr);
    ~CalibHost();
    CalibHost(const CalibHost&) = delete;
    CalibHost& operator=(const CalibHost&) = delete;

    const _MgrFuncTable* table() const { return mgr_; }
    // A message to the manager's log under "HardenCal".
    void log(const std::string& text) const;
    LogSink logSink() const;
    // The text last logged (for the window to show after a failure).
    std::string lastMessage() const;

    // One context for every device the table lists, each bound and with its default profile loaded.
    void createContexts();
    // The device's context, or null. Contexts live as long as the host.
    CalibContext* context(int devId) const;
    std::vector<int> devices() const;

    // Binds ctx to the device (its shape from tvkCtrlGetTarvikInfo) and, with loadProfile, loads the
    // device's default profile. 0, or -1 with the reason logged.
    int bindDevice(CalibContext& ctx, int devId, bool loadProfile);
    // "<configs folder><interface>_<chip-board id>_calib.txt" of the context's device.
    std::string defaultProfilePath(const CalibContext& ctx) const;
    // A new point at thickness from the frames of the device's last acquisition: counts summed, times
    // summed ("Acq time"; those that can be read), sigma from the spread of the frames (sqrt of the counts
    // with one frame or a frame without time). 0, or -1 with the reason logged.
    int setupFromFrames(CalibContext& ctx, int devId, double thickness, int* index = nullptr);

    // The registered functions: registration of all six (0, or the manager's code of the first that
    // failed, the others then removed again) and removal.
    int registerFunctions();
    void unregisterFunctions();

    // Their bodies. Frame: 0 done, -1 frame information or lock failed, 1 no device, wrong size or no
    // calibration. The others: 0, or 1 with the output zeroed (pixelCount values).
    int correctFrame(uint32_t frameId);
    int correctArray(uint32_t devId, uint32_t frameIndex, uint32_t pixelCount, const double* source, double* out);
    int correctedAverage(uint32_t devId, uint32_t pixelCount, double* out);
    int showMask(uint32_t devId, uint32_t pixelCount, double* out);
    int selectedPoint(uint32_t devId, uint32_t pixelCount, double* out, bool sigma);

private:
    int findDeviceByChipboard(const std::string& chipboard) const;
    std::string configsDir() const;

    const _MgrFuncTable* mgr_;
    // Guards contexts_ (the map, not the contexts: each has its own lock). Taken shortly; nothing is
    // called with it held.
    mutable std::shared_mutex mutex_;
    std::map<int, std::unique_ptr<CalibContext>> contexts_;
    std::vector<std::string> registered_; // names of the functions this host registered
    mutable std::mutex messageMutex_;     // guards lastMessage_ only
    mutable std::string lastMessage_;
};

} // namespace hcal
