// A manager function table for the skeleton tests: devices whose description the test changes (or makes
// unreadable), a configuration folder, and records of what a plug-in registers (event subscriptions,
// menu items, message handlers, log entries) and of the preview functions it calls, which a recording "tvkctrlui"
// answers. One fake per test program; the test resets it.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tvk_mgr.h"

namespace fakemgr {

struct Subscription {
    std::string source;
    std::string event;
    EventCallback callback;
};

struct MenuItem {
    int devId; // -1: not a device's item
    std::string plugin;
    std::string name;
    std::string path;
    MenuItemCallback callback;
    void* userData;
};

// One call of a preview function: its name, the inputs as the slots carried them.
struct PreviewCall {
    std::string function;
    std::vector<_FuncSlot> in;
};

struct Device {
    _DevInfo info{};
    int readResult = 0; // what tvkCtrlGetDevInfo returns; non-zero: nothing is filled
};

struct LogEntry {
    std::string source;
    std::string text;
    int flags;
};

struct State {
    std::mutex m; // guards everything below against calls from the test's threads
    std::string configs; // with trailing '/'
    std::map<int, Device> devices;
    std::vector<Subscription> subscriptions;
    std::vector<MenuItem> menuItems;
    std::vector<TvkMsgHandler> msgHandlers;
    std::vector<std::string> calls; // every table entry called, by name, in order
    std::map<std::string, _FuncItem> functions; // registered functions by name (plug-in "tvkctrlui")
    std::vector<PreviewCall> previewCalls;
    std::vector<LogEntry> log; // mgrLogMsg's entries, formatted
    std::string lastError = "Preview failed."; // what "PrevWndGetLastErr" reports
    int lastErrorResult = 0;
    uint32_t nextPreviewId = 7;
};

inline State& state()
{
    static State s;
    return s;
}

inline const char* kInterface = "fake usb";

inline void setDevice(int devId, const char* chipboard, int readResult = 0)
{
    std::lock_guard lock(state().m);
    Device& d = state().devices[devId];
    d.info = _DevInfo{};
    d.info.pixelCount = 65536;
    d.info.rowLength = 256;
    d.info.chipCount = 1;
    d.info.chipRows = 1;
    d.info.chipType = CHIPTYPE_T21;
    std::snprintf(d.info.chipboardId, sizeof d.info.chipboardId, "%s", chipboard);
    d.info.interfaceName = kInterface;
    d.info.maxTestPulseCount = 1000;
    d.info.maxTestPulseHeight = 2.5;
    d.info.maxTestPulsePeriod = 1e-3;
    d.readResult = readResult;
}

inline void record(const char* name)
{
    state().calls.push_back(name);
}

inline int getConfigsDir(char* buf)
{
    std::lock_guard lock(state().m);
    record("mgrGetConfigsDir");
    std::snprintf(buf, MGR_PATH_SIZE, "%s", state().configs.c_str());
    return 0;
}

inline int registerCallback(const char* source, const char* event, EventCallback callback)
{
    std::lock_guard lock(state().m);
    record("mgrRegisterCallback");
    state().subscriptions.push_back({source, event, callback});
    return 0;
}

inline int addMenuItem(const char* plugin, const char* name, const char* path, MenuItemCallback callback,
                       void* userData, int* outId, int)
{
    std::lock_guard lock(state().m);
    record("mgrAddMenuItem");
    state().menuItems.push_back({-1, plugin, name, path ? path : "", callback, userData});
    *outId = static_cast<int>(state().menuItems.size());
    return 0;
}

inline int addTvkMenuItem(int devId, const char* plugin, const char* name, const char* subPath,
                          MenuItemCallback callback, void* userData, int* outId, int)
{
    std::lock_guard lock(state().m);
    record("mgrAddTvkMenuItem");
    state().menuItems.push_back({devId, plugin, name, subPath ? subPath : "", callback, userData});
    *outId = static_cast<int>(state().menuItems.size());
    return 0;
}

inline int addMsgHandler(TvkMsgHandler handler)
{
    std::lock_guard lock(state().m);
    record("mgrAddMsgHandler");
    state().msgHandlers.push_back(handler);
    return 0;
}

inline int getFuncItem(const char* plugin, const char* name, _FuncItem* out)
{
    std::lock_guard lock(state().m);
    record("mgrGetFuncItem");
    const auto it = state().functions.find(name);
    if (std::strcmp(plugin, "tvkctrlui") != 0 || it == state().functions.end())
        return MGR_ERR_NO_FUNC;
    *out = it->second;
    return 0;
}

inline int getFirstTvk(unsigned* devId, int* count)
{
    std::lock_guard lock(state().m);
    record("tvkCtrlGetFirstTvk");
    *count = static_cast<int>(state().devices.size());
    if (state().devices.empty())
        return 1;
    *devId = static_cast<unsigned>(state().devices.begin()->first);
    return 0;
}

inline int getNextTvk(unsigned* devId)
{
    std::lock_guard lock(state().m);
    record("tvkCtrlGetNextTvk");
    const auto it = state().devices.upper_bound(static_cast<int>(*devId));
    if (it == state().devices.end())
        return 1;
    *devId = static_cast<unsigned>(it->first);
    return 0;
}

inline int getDevInfo(unsigned devId, _DevInfo* info)
{
    std::lock_guard lock(state().m);
    record("tvkCtrlGetDevInfo");
    const auto it = state().devices.find(static_cast<int>(devId));
    if (it == state().devices.end())
        return TVK_ERR_DEV_INDEX;
    if (it->second.readResult != 0)
        return it->second.readResult;
    *info = it->second.info;
    return 0;
}

// ---- the recording "tvkctrlui" ----

inline const char* const kPreviewFunctions[] = {
    "PrevWndCreate",     "PrevWndCreateDevID", "PrevWndDestroy",    "PrevWndAutoUpdate", "PrevWndShowTvkFrame",
    "PrevWndSetCaption", "PrevWndShow",        "PrevWndSetErrorCb", "PrevWndSetCloseCb", "PrevWndGetLastErr"};
inline const uint32_t kPreviewInCounts[] = {4, 3, 1, 2, 2, 2, 2, 2, 2, 1};

// The user data of each function is its index in kPreviewFunctions.
inline int previewFunction(void* userData, const _FuncSlot* in, void* const* out)
{
    const size_t index = reinterpret_cast<uintptr_t>(userData);
    const char* name = kPreviewFunctions[index];
    std::lock_guard lock(state().m);
    state().previewCalls.push_back({name, std::vector<_FuncSlot>(in, in + kPreviewInCounts[index])});
    if (std::strcmp(name, "PrevWndCreate") == 0 || std::strcmp(name, "PrevWndCreateDevID") == 0) {
        *static_cast<uint32_t*>(out[0]) = state().nextPreviewId;
        return 0;
    }
    if (std::strcmp(name, "PrevWndGetLastErr") == 0) {
        std::snprintf(static_cast<char*>(out[0]), 4096, "%s", state().lastError.c_str());
        return state().lastErrorResult;
    }
    return 0;
}

// Registers the ten preview functions (or only those named in `only`, when not empty).
inline void offerPreviews(const std::vector<std::string>& only = {})
{
    std::lock_guard lock(state().m);
    for (size_t i = 0; i < std::size(kPreviewFunctions); ++i) {
        const std::string name = kPreviewFunctions[i];
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end())
            continue;
        _FuncItem item{};
        item.callback = previewFunction;
        item.inCount = kPreviewInCounts[i];
        std::snprintf(item.plugin, sizeof item.plugin, "tvkctrlui");
        std::snprintf(item.function, sizeof item.function, "%s", name.c_str());
        item.userData = reinterpret_cast<void*>(static_cast<uintptr_t>(i));
        state().functions[name] = item;
    }
}

inline std::vector<PreviewCall> previewCalls()
{
    std::lock_guard lock(state().m);
    return state().previewCalls;
}

inline int logMsg(const char* source, const char* fmt, int flags, ...)
{
    char text[4096];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::lock_guard lock(state().m);
    record("mgrLogMsg");
    state().log.push_back({source ? source : "", text, flags});
    return 0;
}

inline std::vector<LogEntry> logEntries()
{
    std::lock_guard lock(state().m);
    return state().log;
}

inline std::vector<Subscription> subscriptions()
{
    std::lock_guard lock(state().m);
    return state().subscriptions;
}

// The subscriptions as "<source> <event>", in the order made.
inline std::vector<std::string> subscribedEvents()
{
    std::vector<std::string> events;
    for (const Subscription& sub : subscriptions())
        events.push_back(sub.source + " " + sub.event);
    return events;
}

// Fires an event as the manager does: every subscriber of (source, event), in subscription order.
inline void fire(const std::string& source, const std::string& event, intptr_t arg)
{
    for (const Subscription& sub : subscriptions())
        if (sub.source == source && sub.event == event)
            sub.callback(arg);
}

// Clears every record and every device; the configuration folder as given.
inline void reset(const std::string& configs)
{
    {
        std::lock_guard lock(state().m);
        State& s = state();
        s.configs = configs;
        s.devices.clear();
        s.subscriptions.clear();
        s.menuItems.clear();
        s.msgHandlers.clear();
        s.calls.clear();
        s.functions.clear();
        s.previewCalls.clear();
        s.log.clear();
        s.lastError = "Preview failed.";
        s.lastErrorResult = 0;
    }
}

inline _MgrFuncTable table(uint32_t version = MGR_INTERFACE_VERSION)
{
    _MgrFuncTable t{};
    t.version = version;
    t.mgrGetConfigsDir = getConfigsDir;
    t.mgrLogMsg = logMsg;
    t.mgrRegisterCallback = registerCallback;
    t.mgrAddMenuItem = addMenuItem;
    t.mgrAddTvkMenuItem = addTvkMenuItem;
    t.mgrAddMsgHandler = addMsgHandler;
    t.mgrGetFuncItem = getFuncItem;
    t.tvkCtrlGetFirstTvk = getFirstTvk;
    t.tvkCtrlGetNextTvk = getNextTvk;
    t.tvkCtrlGetDevInfo = getDevInfo;
    return t;
}

} // namespace fakemgr
