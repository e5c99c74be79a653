// The manager's frame store: every frame that plug-ins reach by id. Frames enter it when a plug-in
// creates, loads or duplicates one, when an acquisition reports a new frame, and as the service frames
// that show each device's pixel configuration.
//
// Ownership: the store and every caller that works on a frame share it. A caller pins a frame by taking
// a reference under the store lock, releases the lock and then calls the frame; a frame that leaves the
// store meanwhile is deleted when its last pin goes. No frame method, event or plug-in code runs while
// the store lock is held.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ctrl/tvk_frame_info.h"

class PluginMgr;

class FrameStore {
public:
    using FramePtr = std::shared_ptr<TvkFrameInfo>;

    // Ids of stored frames start here and never come back; they stay below kServiceIdBase.
    static constexpr uint32_t kFirstFrameId = 10002;
    // Service frames of devices from 100 on live above this id (kind k of device d at base + 8d + k),
    // those of devices below 100 at 100d + k, below the first frame id.
    static constexpr uint32_t kServiceIdBase = 0x80000000u;
    static constexpr uint32_t kLastServiceDevice = (0xFFFFFFFFu - kServiceIdBase) / 8 - 1;
    static constexpr uint32_t kServiceKinds = 5;

    explicit FrameStore(PluginMgr& plugins);
    ~FrameStore();
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // A frame found by id and pinned for the duration of the holder's life (raw-access count included).
    class Pin {
    public:
        Pin() = default;
        explicit Pin(FramePtr frame);
        ~Pin();
        Pin(Pin&& other) noexcept = default;
        Pin& operator=(Pin&& other) noexcept;
        Pin(const Pin&) = delete;
        Pin& operator=(const Pin&) = delete;

        explicit operator bool() const { return frame_ != nullptr; }
        TvkFrameInfo* operator->() const { return frame_.get(); }
        TvkFrameInfo& operator*() const { return *frame_; }

    private:
        void release();
        FramePtr frame_;
    };

    // The frame of id, pinned; an empty pin after logging "Frame %u was not found.".
    Pin find(uint32_t id);
    // The same without the log entry.
    Pin findQuiet(uint32_t id);

    // Takes ownership of an initialised frame (reference count 1, held by its creator), gives it the next
    // id and fires "FrameCreated". 0 and *outId (may be null); -3 when the ids are used up (the frame then
    // stays the caller's).
    int store(TvkFrameInfo* frame, uint32_t* outId);
    // After the frame's last reference went ("FrameDelete" already fired): out of the store; deleted when
    // no pin remains. Logs an absent id.
    void remove(uint32_t id);

    // ---- operations by id (the exported API) ----
    // -2 for a size whose bytes do not fit 32 bits; else the frame's own result.
    int createFrame(uint32_t* outId, uint32_t width, uint32_t height, int type, const char* creator);
    int loadFrame(uint32_t* outId, const char* fileName);
    int duplicateFrame(uint32_t frameId, uint32_t* outId);
    int getFirstFrame(uint32_t* id) const;
    int getNextFrame(uint32_t* id) const;
    int openFrame(uint32_t frameId, uint32_t* refCount);
    // Filtered copy: 0 and *outId; -310 chain not registered (logged); -200 frame not found; -3 no copy;
    // -208 a filter failed. On failure the copy is released and *outId is left as it was.
    int filteredFrame(uint32_t chainId, uint32_t frameId, uint32_t* outId);

    // ---- service frames ----
    // Id of the service frame of kind k (1..5) of a device: 0; -2 (message box) for another kind or a
    // device index too large for service frames; the device's own code when it is not readable.
    int serviceFrameId(int devIndex, uint32_t kind, uint32_t* outId);
    // Creates the device's service frames (those of its chip type) and fills them: 0 or a failure code.
    int createServiceFrames(unsigned devIndex);
    // Rewrites the device's service frames from its pixel configuration: 0, -1 when a frame is missing,
    // or the code of the device or of a frame lock.
    int refreshServiceFrames(unsigned devIndex);

    // Whether width x height elements of type fit a frame buffer (a byte count of 32 bits).
    static bool fitsFrameBuffer(uint32_t width, uint32_t height, int type);

    // Adds the value of every frame-attribute template to a newly acquired frame.
    void addTemplateAttribs(TvkFrameInfo* frame);

    size_t size() const;
    // Deletes every frame still stored, whatever its counts (manager unload).
    void clear();

    // Id of the service frame of kind k of a device; 0 when the device has none.
    static uint32_t serviceId(unsigned devIndex, uint32_t kind);

private:
    // Stores frame under the next id and fires "FrameCreated"; on failure the frame stays the caller's.
    int insertNew(TvkFrameInfo* frame, uint32_t* outId);
    int appendAppliedFilters(TvkFrameInfo& frame, const std::string& chainText);

    PluginMgr& plugins_;
    // Guards frames_ and lastId_ only; no frame method, event or plug-in call is made while it is held.
    mutable std::mutex m_;
    std::map<uint32_t, FramePtr> frames_;
    uint32_t lastId_ = kFirstFrameId - 1;
};
