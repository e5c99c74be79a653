// The equalizer's dependency scan, driven through its registered functions found by name. A function
// that is not registered stays unbound; a call of it fails (-1). The scan's end arrives through the
// "finished" and "error" callbacks, handed from the scan's worker to the thread that waits in waitEnd.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "tvk_mgr.h"

namespace probing {

class DepScanClient {
public:
    enum Fn { ShowWnd, CloseWnd, SetIniFile, HideOnClose, Start, Abort, SaveImage, GetLastErr, SetCbFinished,
              SetCbError, kFnCount };

    // Looks every function up (plug-in "equalizer") and, when both setters are there, installs the end
    // callbacks.
    void bind(const _MgrFuncTable* table);
    bool bound(Fn fn) const { return funcs_[fn].callback != nullptr; }

    int showWnd(unsigned dev, bool show, bool enable);
    // Starts a scan; its end is awaited with waitEnd.
    int start(unsigned dev, uint32_t mask, bool othersAtDefault, int from, int to, int step, const char* path);
    int abort(unsigned dev);
    int saveImage(unsigned dev, const std::string& path);
    std::string lastError(unsigned dev);

    enum class End { Finished, Failed, Aborted };
    // Waits for the end of the scan started last on dev. When abort is set it calls abort(dev) and waits
    // at most 10 s more for the scan to end (Aborted).
    End waitEnd(unsigned dev, const std::atomic<bool>& abort);

private:
    int call(Fn fn, const _FuncSlot* in, void* const* out);

    struct Bound {
        FuncItemCallback callback = nullptr;
        void* userData = nullptr;
    };
    Bound funcs_[kFnCount];
};

} // namespace probing
