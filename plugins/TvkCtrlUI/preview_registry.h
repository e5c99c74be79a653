// The open previews of the plug-in: id -> (state, window). Ids start at 1 and are never given again while
// the library is loaded. The registry lock guards only the map and the counter: no window, callback or
// other lock is reached while it is held. Callers copy an entry out and act on it after the release, so a
// preview removed meanwhile stays alive until they are done (its window then ignores what arrives late).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "preview_state.h"

// The window side of a preview, as the functions and hooks drive it. Every call may come from any thread
// and returns without waiting for the window: the work is queued to the window's (GUI) thread.
class PreviewHost {
public:
    virtual ~PreviewHost() = default;
    virtual void show(bool visible) = 0;
    virtual void setCaption(const std::string& caption) = 0;
    // Checks the frame id now (0, or -1 with the error text stored and the error callback called) and
    // queues the display of a frame that exists.
    virtual int showFrame(uint32_t frameId) = 0;
    // Closes the window and frees it later (never while one of its own handlers runs).
    virtual void destroy() = 0;
    virtual void refresh() = 0;       // refresh from the bound device's last acquisition
    // On the acquiring thread, when a frame of the bound device completed: keep a reference to it for the
    // next refresh, so that the refresh finds it even when the device goes on to the next acquisition.
    virtual void holdLatestFrame() {}
    virtual void rebind() = 0;        // the bound device changed: bind it again
    virtual void pixCfgChanged() = 0; // the bound device's pixel configuration changed
};

struct PreviewEntry {
    std::shared_ptr<PreviewState> state;
    std::shared_ptr<PreviewHost> host;
};

class PreviewRegistry {
public:
    // Registers the preview under the next id, stores the id in its state and returns it.
    uint32_t add(PreviewEntry entry);
    std::optional<PreviewEntry> find(uint32_t id) const;
    // Removes the preview and hands it over; nothing when the id is not registered.
    std::optional<PreviewEntry> take(uint32_t id);
    std::vector<PreviewEntry> takeAll();
    std::vector<PreviewEntry> all() const;

private:
    mutable std::mutex m_; // guards map_ and nextId_; nothing else is called while it is held
    std::map<uint32_t, PreviewEntry> map_;
    uint32_t nextId_ = 0;
};
