// What the preview functions read and write of one preview without touching its window: bound device,
// visibility, callbacks, last error, auto update and the refresh that is waiting. Every thread may call
// it; the window (GUI thread) keeps it current. No Qt here, so the sanitizer builds test it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

// Notification callback of a preview (error, close): the preview's id. Null disables it.
using CallbackFuncType = void (*)(uint32_t previewId);

// Auto-update modes of the preferences; kUnlimited refreshes at once on every completed acquisition.
enum AutoUpdateMode { kAutoUpdate1s, kAutoUpdate500ms, kAutoUpdate200ms, kAutoUpdate100ms, kAutoUpdate50ms,
                      kAutoUpdateUnlimited };

class PreviewState {
public:
    PreviewState(int devIndex, bool destroyOnClose, std::string iniPath)
        : devIndex_(devIndex), destroyOnClose_(destroyOnClose), iniPath_(std::move(iniPath))
    {
    }

    uint32_t id() const { std::lock_guard l(m_); return id_; }
    void setId(uint32_t id) { std::lock_guard l(m_); id_ = id; }
    int devIndex() const { std::lock_guard l(m_); return devIndex_; }
    void setDevIndex(int devIndex) { std::lock_guard l(m_); devIndex_ = devIndex; }
    bool destroyOnClose() const { std::lock_guard l(m_); return destroyOnClose_; }
    const std::string& iniPath() const { return iniPath_; } // fixed at creation

    bool visible() const { std::lock_guard l(m_); return visible_; }
    void setVisible(bool v) { std::lock_guard l(m_); visible_ = v; }
    bool apiAutoUpdate() const { std::lock_guard l(m_); return apiAutoUpdate_; }
    void setApiAutoUpdate(bool v) { std::lock_guard l(m_); apiAutoUpdate_ = v; }
    bool reporting() const { std::lock_guard l(m_); return reporting_; }
    void setReporting(bool v) { std::lock_guard l(m_); reporting_ = v; }

    CallbackFuncType closeCb() const { std::lock_guard l(m_); return closeCb_; }
    void setCloseCb(CallbackFuncType cb) { std::lock_guard l(m_); closeCb_ = cb; }
    CallbackFuncType errorCb() const { std::lock_guard l(m_); return errorCb_; }
    void setErrorCb(CallbackFuncType cb) { std::lock_guard l(m_); errorCb_ = cb; }

    std::string lastError() const { std::lock_guard l(m_); return lastError_; }
    // Stores the text and calls the error callback (with no lock held). Returns the callback called, if any.
    void reportError(const std::string& text);
    // Copies the last error into out[size], always terminated in out[size - 1]; the rest of out zeroed.
    void copyLastError(char* out, size_t size) const;

    // Frame counter of the bound device's last acquisition, as the window shows it.
    void setFrames(int frameCount, int currentFrame) { std::lock_guard l(m_); frameCount_ = frameCount; currentFrame_ = currentFrame; }
    int frameCount() const { std::lock_guard l(m_); return frameCount_; }
    int currentFrame() const { std::lock_guard l(m_); return currentFrame_; }
    // What a pixel-configuration change redraws: masked pixels hidden, or a service frame shown (-1: none).
    void setPixCfgView(bool ignoreMasked, int serviceFrameShown)
    {
        std::lock_guard l(m_);
        ignoreMasked_ = ignoreMasked;
        serviceFrameShown_ = serviceFrameShown;
    }
    bool followsPixCfg() const { std::lock_guard l(m_); return ignoreMasked_ || serviceFrameShown_ >= 0; }

    void setMaxAutoUpdateMode(int mode) { std::lock_guard l(m_); maxAutoUpdateMode_ = mode; }
    int maxAutoUpdateMode() const { std::lock_guard l(m_); return maxAutoUpdateMode_; }
    // A completed acquisition: marks a refresh as wanted. True when the caller is to queue the refresh now
    // ("Unlimited" and none queued yet); otherwise the window's timer performs it.
    bool requestRefresh();
    // The window starts a refresh: true when one was wanted (the flag is cleared).
    bool takeRefresh();
    bool refreshPending() const { std::lock_guard l(m_); return refreshPending_; }

    // The bound device's newest frame, held by a reference taken when it completed (on the acquiring thread,
    // before the device can replace it) until a refresh takes it over: its id and frame number (1-based).
    // Returns the id of the reference it replaces (0: none), which the caller closes.
    uint32_t holdLatestFrame(uint32_t id, int number)
    {
        std::lock_guard l(m_);
        const uint32_t replaced = latestFrameId_;
        latestFrameId_ = id;
        latestFrameNumber_ = number;
        return replaced;
    }
    // Hands over the held reference: {0, 0} when none is held.
    std::pair<uint32_t, int> takeLatestFrame()
    {
        std::lock_guard l(m_);
        const std::pair<uint32_t, int> held{latestFrameId_, latestFrameNumber_};
        latestFrameId_ = 0;
        latestFrameNumber_ = 0;
        return held;
    }

private:
    mutable std::mutex m_; // guards every field below; nothing is called while it is held
    uint32_t id_ = 0;
    int devIndex_;
    bool destroyOnClose_;
    const std::string iniPath_;
    bool visible_ = false;
    bool apiAutoUpdate_ = true;
    bool reporting_ = false;
    uint32_t latestFrameId_ = 0; // a reference held for the next refresh (holdLatestFrame)
    int latestFrameNumber_ = 0;
    CallbackFuncType closeCb_ = nullptr;
    CallbackFuncType errorCb_ = nullptr;
    std::string lastError_;
    int frameCount_ = 0;
    int currentFrame_ = 0;
    bool ignoreMasked_ = false;
    int serviceFrameShown_ = -1;
    int maxAutoUpdateMode_ = kAutoUpdate1s;
    bool refreshPending_ = false;
    bool refreshQueued_ = false;
};
