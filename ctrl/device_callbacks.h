// The module's ten notification callbacks. Devices keep a pointer to the one block, so a callback installed
// later reaches existing devices at once.
#pragma once

#include <atomic>

#include "tvk_ctrl.h"

struct CtrlCallbacks {
    std::atomic<TvkDevCallback> infoMsg{nullptr};
    std::atomic<TvkDevCallback> acqStart{nullptr};
    std::atomic<TvkDevCallback> acqCompl{nullptr};
    std::atomic<TvkFrameCallback> frameCreated{nullptr};
    std::atomic<TvkFrameCallback> addAttribs{nullptr};
    std::atomic<TvkDevCallback> dacsChanged{nullptr};
    std::atomic<TvkDevCallback> extDacChanged{nullptr};
    std::atomic<TvkDevCallback> pixCfgChanged{nullptr};
    std::atomic<TvkDevCallback> devNew{nullptr};
    std::atomic<TvkDevCallback> devChanged{nullptr};
};

// Calls one device callback when it is installed.
inline void notifyDevice(const std::atomic<TvkDevCallback>& callback, int devIndex)
{
    if (TvkDevCallback fn = callback.load())
        fn(devIndex);
}
