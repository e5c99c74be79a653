// The eleven preview functions of the plug-in (registered under "tvkctrlui" and exported under their own
// names), the creation handshake with the GUI thread and the hooks of the plug-in's event callbacks.
// Windows are GUI-thread objects. Creation runs on the GUI thread: directly when called there, else
// queued with the caller waiting at most createBound; a request given up by its caller makes no window and
// takes no id. No other function waits: they read and write the preview's state or queue to its window.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "preview_registry.h"
#include "tvk_export.h"
#include "tvk_mgr.h"

// Size of the text that "PrevWndGetLastErr" fills, terminating zero included.
constexpr size_t kPrevLastErrSize = 4096;

struct PrevCreateRequest {
    int devIndex = -1; // device to bind; -1: a free preview of width x height
    int width = 256;
    int height = 256;
    std::string iniPath; // the preview's settings; empty: none kept
    bool destroyOnClose = true;
};

// Makes the window of a request on the GUI thread and registers it (PrevWndService::registry()); returns the
// id, or -1 (the window has then shown its own box and nothing is registered).
using PreviewFactory = std::function<int(const PrevCreateRequest&)>;

// How work reaches the GUI thread.
struct GuiDispatch {
    std::function<bool()> onGuiThread;
    std::function<void(std::function<void()>)> post; // queues, never runs the work in the caller
};

class PrevWndService {
public:
    PreviewRegistry& registry() { return registry_; }
    void setFactory(PreviewFactory factory, GuiDispatch dispatch);
    void setCreateBound(std::chrono::milliseconds bound) { createBoundMs_ = bound.count(); }

    // A new preview: its id, or -1 (bad size, no factory, the factory failed, the GUI thread did not take the
    // request within the bound).
    int create(const PrevCreateRequest& request);

    // Hooks of the event callbacks.
    void destroyAllPreviews();
    void rebindDevicePreviews(int devIndex);
    void autoUpdateDevicePreviews(int devIndex);
    void pixCfgChangedPreviews(int devIndex);

private:
    PreviewRegistry registry_;
    std::mutex factoryMutex_; // guards factory_ and dispatch_, copied out before use
    PreviewFactory factory_;
    GuiDispatch dispatch_;
    std::atomic<int64_t> createBoundMs_{10000};
};

// The plug-in's one service.
PrevWndService& prevWndService();

// Registers the eleven functions with the manager; the results of mgrAddFuncItem are ignored.
void registerPrevWndFunctions(const _MgrFuncTable* mgr);

// The registered-function form of each (user data ignored).
extern "C" {
TVK_EXPORT int PrevWndCreate(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndCreateDevID(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndDestroy(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndAutoUpdate(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndShowTvkFrame(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndIsVisible(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndSetCaption(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndShow(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndSetErrorCb(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndSetCloseCb(void*, const _FuncSlot* in, void* const* out);
TVK_EXPORT int PrevWndGetLastErr(void*, const _FuncSlot* in, void* const* out);
}
