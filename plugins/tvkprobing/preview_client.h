// The preview window of the chip test's frames, driven through the registered preview functions of the
// device-control UI plug-in ("tvkctrlui"), found by name. Without them there is no preview and every
// call does nothing.
#pragma once

#include <cstdint>

#include "tvk_mgr.h"

namespace probing {

class PreviewClient {
public:
    // Looks the functions up, creates a preview bound to dev and shows it; false when there is none.
    bool open(const _MgrFuncTable* table, unsigned dev);
    bool isOpen() const { return open_; }
    // Shows the device's current frame in the preview (when there is one).
    void showFrame();
    // Destroys the preview created by open.
    void close();

private:
    enum Fn { CreateDevID, Show, ShowTvkFrame, Destroy, kFnCount };
    int call(Fn fn, const _FuncSlot* in, void* const* out);

    struct Bound {
        FuncItemCallback callback = nullptr;
        void* userData = nullptr;
    };
    Bound funcs_[kFnCount];
    const _MgrFuncTable* t_ = nullptr;
    unsigned dev_ = 0;
    bool open_ = false;
    uint32_t id_ = 0;
};

} // namespace probing
