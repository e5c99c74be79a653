#include "prev_wnd_api.h"

#include <mutex>

#include "plugin_table.h"

namespace {

// One binding: the function and its user data, replaced together as one unit, so that a caller on
// another thread never pairs the function of one lookup with the user data of another.
struct Binding {
    FuncItemCallback callback = nullptr;
    void* userData = nullptr;
};

enum Fn {
    kCreate,
    kCreateDevID,
    kDestroy,
    kAutoUpdate,
    kShowFrame,
    kSetCaption,
    kShow,
    kSetErrorCb,
    kSetCloseCb,
    kGetLastErr,
    kFnCount
};

constexpr const char* kNames[kFnCount] = {"PrevWndCreate",     "PrevWndCreateDevID", "PrevWndDestroy",
                                         "PrevWndAutoUpdate", "PrevWndShowTvkFrame", "PrevWndSetCaption",
                                         "PrevWndShow",       "PrevWndSetErrorCb",  "PrevWndSetCloseCb",
                                         "PrevWndGetLastErr"};

std::mutex gMutex; // guards gBindings; held only to copy a binding, never during a call
Binding gBindings[kFnCount];

Binding binding(Fn fn)
{
    std::lock_guard lock(gMutex);
    return gBindings[fn];
}

template <size_t N>
int call(Fn fn, const _FuncSlot (&in)[N], void* const* out)
{
    const Binding b = binding(fn);
    if (!b.callback)
        return -1;
    return b.callback(b.userData, in, out);
}

_FuncSlot idSlot(uint32_t id)
{
    return tvkSlotUint(id);
}

} // namespace

int bindPrevWndApi(const _MgrFuncTable* table)
{
    if (!table || !table->mgrGetFuncItem)
        return kFnCount;
    int misses = 0;
    for (int fn = 0; fn < kFnCount; ++fn) {
        _FuncItem item{};
        if (table->mgrGetFuncItem("tvkctrlui", kNames[fn], &item) == 0) {
            std::lock_guard lock(gMutex);
            gBindings[fn] = Binding{item.callback, item.userData};
        } else
            ++misses;
    }
    return misses;
}

int bindPrevWndApi()
{
    return bindPrevWndApi(pluginTable());
}

void unbindPrevWndApi()
{
    std::lock_guard lock(gMutex);
    for (Binding& b : gBindings)
        b = Binding{};
}

int prevWndCreate(uint32_t width, uint32_t height, bool destroyOnClose, const char* iniPath, uint32_t* previewId)
{
    const _FuncSlot in[] = {tvkSlotUint(width), tvkSlotUint(height), tvkSlotInt(destroyOnClose ? 1 : 0),
                            tvkSlotPtr(iniPath)};
    void* const out[] = {previewId};
    return call(kCreate, in, out);
}

int prevWndCreateDevID(int devId, bool destroyOnClose, const char* iniPath, uint32_t* previewId)
{
    const _FuncSlot in[] = {tvkSlotUint(static_cast<uint32_t>(devId)), tvkSlotInt(destroyOnClose ? 1 : 0),
                            tvkSlotPtr(iniPath)};
    void* const out[] = {previewId};
    return call(kCreateDevID, in, out);
}

int prevWndDestroy(uint32_t previewId)
{
    const _FuncSlot in[] = {idSlot(previewId)};
    return call(kDestroy, in, nullptr);
}

int prevWndAutoUpdate(uint32_t previewId, bool autoUpdate)
{
    const _FuncSlot in[] = {idSlot(previewId), tvkSlotInt(autoUpdate ? 1 : 0)};
    return call(kAutoUpdate, in, nullptr);
}

int prevWndShowFrame(uint32_t previewId, uint32_t frameId)
{
    const _FuncSlot in[] = {idSlot(previewId), tvkSlotUint(frameId)};
    return call(kShowFrame, in, nullptr);
}

int prevWndSetCaption(uint32_t previewId, const char* caption)
{
    const _FuncSlot in[] = {idSlot(previewId), tvkSlotPtr(caption)};
    return call(kSetCaption, in, nullptr);
}

int prevWndShow(uint32_t previewId, bool visible)
{
    const _FuncSlot in[] = {idSlot(previewId), tvkSlotInt(visible ? 1 : 0)};
    return call(kShow, in, nullptr);
}

int prevWndSetErrorCb(uint32_t previewId, PrevWndCallback callback)
{
    const _FuncSlot in[] = {idSlot(previewId), tvkSlotPtr(reinterpret_cast<const void*>(callback))};
    return call(kSetErrorCb, in, nullptr);
}

int prevWndSetCloseCb(uint32_t previewId, PrevWndCallback callback)
{
    const _FuncSlot in[] = {idSlot(previewId), tvkSlotPtr(reinterpret_cast<const void*>(callback))};
    return call(kSetCloseCb, in, nullptr);
}

int prevWndGetLastErr(uint32_t previewId, char* text)
{
    const _FuncSlot in[] = {idSlot(previewId)};
    void* const out[] = {text};
    return call(kGetLastErr, in, out);
}

int prevWndOpenForDevice(int devId, const char* iniPath, PrevWndCallback errorCallback, PrevWndCallback closeCallback,
                         const char* caption, bool visible, uint32_t* previewId)
{
    uint32_t id = 0;
    const int rc = prevWndCreateDevID(devId, false, iniPath, &id);
    if (rc != 0)
        return rc;
    if (previewId)
        *previewId = id;
    prevWndAutoUpdate(id, false);
    if (errorCallback)
        prevWndSetErrorCb(id, errorCallback);
    if (closeCallback)
        prevWndSetCloseCb(id, closeCallback);
    if (caption)
        prevWndSetCaption(id, caption);
    prevWndShow(id, visible);
    return 0;
}
