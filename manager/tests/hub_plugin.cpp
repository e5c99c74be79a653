// A plug-in written against _MgrFuncTable only, built in several variants (HUB_PLUGIN_VARIANT):
//   1 full: registers a function, a menu item, an event, a filter with instances and a message handler,
//     subscribes to the manager's events and records what it receives;
//   3 underscore: its entry point is only "_InitTvkPlugin";
//   4 no entry point at all.
// Every variant links the plug-in framework, whose getModuleBaseName must name this module.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "pluginfw/thread_op.h"
#include "tvk_export.h"
#include "tvk_mgr.h"

#ifndef HUB_PLUGIN_VARIANT
#error HUB_PLUGIN_VARIANT must be defined
#endif

namespace {

const _MgrFuncTable* g_table = nullptr;
char g_name[64] = "Unknown";
std::mutex g_eventsMutex; // guards g_events
std::string g_events;

void record(const std::string& text)
{
    std::lock_guard lock(g_eventsMutex);
    g_events += text + ";";
}

void onStart(intptr_t arg) { record("Start " + std::to_string(arg)); }
void onExit(intptr_t arg) { record("Exit " + std::to_string(arg)); }
void onFrameCreated(intptr_t arg) { record("FrameCreated " + std::to_string(arg)); }
void onFrameDelete(intptr_t arg) { record("FrameDelete " + std::to_string(arg)); }
void onAcqCompleted(intptr_t arg) { record("AcqCompleted " + std::to_string(arg)); }
void onMenu(void*) { record("Menu"); }

int onMessage(TvkMsg* msg)
{
    record("Msg");
    // A message whose receiver is this module's name is consumed.
    return msg && msg->receiver && std::string(static_cast<const char*>(msg->receiver)) == g_name ? 1 : 0;
}

int echo(void*, const _FuncSlot* in, void* const* out)
{
    *static_cast<int32_t*>(out[0]) = static_cast<int32_t>(in[0].i) + 1;
    return 0;
}

// A filter with one parameter, "gain" (i32), per instance.
struct Instance {
    int32_t gain = 1;
};

int filterRun(void*, const _FuncSlot* in, void* const*)
{
    return in[1].p ? 0 : -1;
}
int filterCreate(void*, void** instance)
{
    *instance = new Instance;
    return 0;
}
int filterDelete(void*, void* instance)
{
    delete static_cast<Instance*>(instance);
    return 0;
}
int filterSet(void*, void* instance, int parIndex, const void* data, uint32_t size)
{
    if (parIndex != 0 || size < sizeof(int32_t))
        return -2;
    static_cast<Instance*>(instance)->gain = *static_cast<const int32_t*>(data);
    return 0;
}
int filterGet(void*, void* instance, int parIndex, _FilterParDesc* desc, uint32_t* size)
{
    if (parIndex == -1 && !desc) {
        *size = 1;
        return 0;
    }
    if (parIndex != 0 || !desc)
        return -2;
    desc->type = TYPE_I32;
    desc->count = 1;
    desc->flags = 0;
    desc->name = "gain";
    desc->description = "Gain";
    if (desc->data && *size >= sizeof(int32_t))
        *static_cast<int32_t*>(desc->data) = static_cast<Instance*>(instance)->gain;
    *size = sizeof(int32_t);
    return 0;
}
const _FilterInstCallbacks kFilterCallbacks = {nullptr, nullptr, nullptr, nullptr, nullptr,
                                               filterCreate, filterDelete, filterSet, filterGet};

[[maybe_unused]] int registerAll(const _MgrFuncTable* t)
{
    const char* me = g_name;
    _FuncItem item{};
    item.callback = echo;
    item.inCount = 1;
    item.outCount = 1;
    item.in[0] = {TYPE_I32, 1, "value"};
    item.out[0] = {TYPE_I32, 1, "value + 1"};
    std::snprintf(item.plugin, sizeof item.plugin, "%.31s", me);
    std::snprintf(item.function, sizeof item.function, "echo");
    if (t->mgrAddFuncItem(&item) != 0)
        return -1;

    _FuncItem filter{};
    filter.callback = filterRun;
    filter.inCount = 2;
    std::snprintf(filter.plugin, sizeof filter.plugin, "%.31s", me);
    std::snprintf(filter.function, sizeof filter.function, "scale");
    filter.userData = const_cast<_FilterInstCallbacks*>(&kFilterCallbacks);
    filter.flags = FUNC_FILTER | FUNC_FILTER_INSTANCES;
    if (t->mgrAddFuncItem(&filter) != 0)
        return -1;

    int id = 0;
    if (t->mgrAddMenuItem(me, "Open", me, onMenu, nullptr, &id, 0) != 0)
        return -1;
    _EventDesc event{};
    std::snprintf(event.plugin, sizeof event.plugin, "%.31s", me);
    std::snprintf(event.name, sizeof event.name, "Ping");
    if (t->mgrAddCBEvent(&event, &id) != 0)
        return -1;

    const struct {
        const char* source;
        const char* name;
        EventCallback callback;
    } subscriptions[] = {{"tvkmgr", "Start", onStart},
                         {"tvkmgr", "Exit", onExit},
                         {"tvkmgr", "FrameCreated", onFrameCreated},
                         {"tvkmgr", "FrameDelete", onFrameDelete},
                         {"tvkctrl", "AcqCompleted", onAcqCompleted}};
    for (const auto& s : subscriptions)
        if (t->mgrRegisterCallback(s.source, s.name, s.callback) != 0)
            return -1;
    t->mgrAddMsgHandler(onMessage);
    return 0;
}

int initPlugin(const _MgrFuncTable* table)
{
    if (!table || table->version != MGR_INTERFACE_VERSION)
        return -1;
    g_table = table;
    getModuleBaseName(g_name);
    setWorkerLogSink([](const char* source, const char* text, int flags) {
        if (g_table)
            g_table->mgrLogMsg(source, "%s", flags, text);
    });
    table->mgrLogMsg(g_name, "Module %s starts.", 0, g_name);
#if HUB_PLUGIN_VARIANT == 1
    return registerAll(table);
#else
    return 0;
#endif
}

} // namespace

#if HUB_PLUGIN_VARIANT == 1
TVK_EXTERN_C TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initPlugin(table);
}
#elif HUB_PLUGIN_VARIANT == 3
TVK_EXTERN_C TVK_EXPORT int _InitTvkPlugin(const _MgrFuncTable* table)
{
    return initPlugin(table);
}
#else
TVK_EXTERN_C TVK_EXPORT int notAnEntry(const _MgrFuncTable* table)
{
    return initPlugin(table);
}
#endif

// What the test reads back.
TVK_EXTERN_C TVK_EXPORT const char* hubPluginEvents()
{
    static std::string copy; // read by one test thread at a time
    std::lock_guard lock(g_eventsMutex);
    copy = g_events;
    return copy.c_str();
}

TVK_EXTERN_C TVK_EXPORT const _MgrFuncTable* hubPluginTable()
{
    return g_table;
}

// Out of line and hidden from the undefined-behaviour sanitizer, so that the hardware sees the fault.
__attribute__((noinline, no_sanitize("undefined"))) static int readNull(ThOpPars*)
{
    static volatile uintptr_t zero = 0;
    return *reinterpret_cast<const volatile int*>(zero);
}

// Runs a worker thread of the framework that faults by reading address 0; its report goes to the log.
TVK_EXTERN_C TVK_EXPORT int hubPluginFaultingWorker()
{
    struct Faulting : ThOpPars {};
    Faulting pars;
    return startThreadOp(readNull, &pars).join();
}
