// The manager's exported API and its two tables. Every entry is a C function: no exception leaves it.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "ctrl_forwarders.h"
#include "filter_registry.h"
#include "manager.h"
#include "plugin_call.h"

#define MGR_API extern "C" TVK_EXPORT

namespace {

constexpr const char* kSource = "tvkmgr";

// Runs fn on the manager; an exception becomes a failure code.
template <class Fn>
int api(Fn&& fn) noexcept
{
    try {
        return fn(Manager::get());
    } catch (const std::bad_alloc&) {
        return TVK_ERR_ALLOC;
    } catch (...) {
        return TVK_ERR_GENERIC;
    }
}

// Runs fn on a frame found by id and pinned: -200 (logged) when the store does not hold it.
template <class Fn>
int byId(uint32_t frameId, Fn&& fn) noexcept
{
    return api([&](Manager& m) {
        FrameStore::Pin frame = m.frames().find(frameId);
        if (!frame)
            return static_cast<int>(FRAME_ERR_NOT_FOUND);
        return fn(*frame);
    });
}

// Walks of the registries hand ids out as int.
template <class Fn>
int walk(int* id, Fn&& fn)
{
    uint32_t value = id ? static_cast<uint32_t>(*id) : 0;
    const int rc = fn(&value);
    if (rc == 0 && id)
        *id = static_cast<int>(value);
    return rc;
}

int callMenuItemById(Manager& m, int itemId)
{
    if (m.plugins().menus().callMenuItemById(static_cast<uint32_t>(itemId)) == REG_ERR_NOT_FOUND) {
        m.log().logMsg(kSource, "Menu item with ID = %u does not exist.", 0, static_cast<unsigned>(itemId));
        return MGR_ERR_NO_MENU_ITEM;
    }
    return 0;
}

} // namespace

// ---- not exported by name ----

static int mgrGetConfigsDir(char* buf)
{
    return api([&](Manager& m) {
        if (!buf)
            return static_cast<int>(TVK_ERR_PARAM);
        const std::string& dir = m.configsDir();
        if (dir.size() >= MGR_PATH_SIZE) {
            buf[0] = '\0';
            m.log().logMsg(kSource, "Supplied buffer is too small (size: %u, required: %u)", 0, MGR_PATH_SIZE,
                           static_cast<unsigned>(dir.size() + 1));
            return static_cast<int>(TVK_ERR_BUFFER_SMALL);
        }
        copyText(buf, MGR_PATH_SIZE, dir);
        return 0;
    });
}

static int mgrSetFrameSize(uint32_t frameId, uint32_t width, uint32_t height)
{
    return byId(frameId, [&](TvkFrameInfo& f) {
        if (!FrameStore::fitsFrameBuffer(width, height, f.getBuffType()))
            return static_cast<int>(TVK_ERR_PARAM);
        return f.setSize(width, height);
    });
}

// ---- log and windows ----

MGR_API int mgrLogMsg(const char* source, const char* fmt, int flags, ...)
{
    const int callerErrno = errno;
    // The caller's texts are copied before anything else uses them.
    std::string text;
    std::string sourceText;
    try {
        va_list args;
        va_start(args, flags);
        va_list sizing;
        va_copy(sizing, args);
        const int length = fmt ? std::vsnprintf(nullptr, 0, fmt, sizing) : 0;
        va_end(sizing);
        if (length > 0) {
            text.resize(static_cast<size_t>(length));
            std::vsnprintf(text.data(), text.size() + 1, fmt, args);
        }
        va_end(args);
        sourceText = source ? source : "";
    } catch (...) {
        return TVK_ERR_ALLOC;
    }
    return api([&](Manager& m) {
        errno = callerErrno; // the system error text of flag 1 is the caller's
        return m.log().logMsg(sourceText.c_str(), "%s", flags, text.c_str());
    });
}

MGR_API int mgrLogShowWindow(int show)
{
    if (auto fn = Manager::utilsEntries().logShowWindow)
        api([&](Manager& m) { return guardedPluginCall(m.log(), "logShowWindow", 0, [&] { return fn(show); }); });
    return 0;
}

MGR_API int mgrManagedItemsShowWindow(void)
{
    if (auto fn = Manager::utilsEntries().managedItemsShowWindow)
        api([&](Manager& m) { return guardedPluginCall(m.log(), "managedItemsShowWindow", 0, [&] { return fn(); }); });
    return 0;
}

// ---- plug-ins and menu items ----

MGR_API int mgrAddPlugin(const char* path)
{
    return api([&](Manager& m) { return m.addPlugin(path); });
}

MGR_API int mgrAddMenuItem(const char* plugin, const char* itemName, const char* menuPath, MenuItemCallback callback,
                           void* userData, int* outId, int flags)
{
    return api([&](Manager& m) {
        return m.plugins().menus().addMenuItem(plugin, itemName, menuPath, callback, userData, outId, flags);
    });
}

MGR_API int mgrAddTvkMenuItem(int devId, const char* plugin, const char* itemName, const char* subPath,
                              MenuItemCallback callback, void* userData, int* outId, int flags)
{
    return api([&](Manager& m) {
        return m.labels().addTvkMenuItem(static_cast<unsigned>(devId), plugin, itemName, subPath, callback, userData,
                                         outId, flags);
    });
}

MGR_API int mgrRemoveMenuItem(int itemId)
{
    return api([&](Manager& m) { return m.plugins().menus().removeMenuItem(static_cast<uint32_t>(itemId)); });
}

MGR_API int mgrGetTvkMenuPath(int devId, char* buf)
{
    return api([&](Manager& m) { return m.labels().getTvkMenuPath(static_cast<unsigned>(devId), buf); });
}

MGR_API int mgrGetFirstMenuItem(int* id, char* name)
{
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().menus().getFirstMenuItem(v, name); }); });
}

MGR_API int mgrGetNextMenuItem(int* id, char* name)
{
    if (!id)
        return 1;
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().menus().getNextMenuItem(v, name); }); });
}

MGR_API int mgrCallMenuItemByName(const char* fullName)
{
    return api([&](Manager& m) {
        if (m.plugins().menus().callMenuItemByName(fullName) == REG_ERR_NOT_FOUND) {
            m.log().logMsg(kSource, "Menu item %s does not exist.", 0, fullName ? fullName : "");
            return static_cast<int>(MGR_ERR_NO_MENU_ITEM);
        }
        return 0;
    });
}

MGR_API int mgrCallMenuItemByID(int itemId)
{
    return api([&](Manager& m) { return callMenuItemById(m, itemId); });
}

MGR_API int mgrAddMsgHandler(TvkMsgHandler handler)
{
    return api([&](Manager& m) {
        m.addMsgHandler(handler);
        return 0;
    });
}

MGR_API int mgrRemoveMsgHandler(TvkMsgHandler handler)
{
    return api([&](Manager& m) {
        m.removeMsgHandler(handler);
        return 0;
    });
}

// ---- registered functions ----

MGR_API int mgrAddFuncItem(_FuncItem* item)
{
    return api([&](Manager& m) { return m.plugins().funcs().addFuncItem(item); });
}

MGR_API int mgrRemoveFuncItem(const char* plugin, const char* funcName)
{
    return api([&](Manager& m) { return m.plugins().funcs().removeFuncItem(plugin, funcName); });
}

MGR_API int mgrGetRegFirstFunc(int* id, _FuncItem* out)
{
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().funcs().getFirstFunc(v, out); }); });
}

MGR_API int mgrGetRegNextFunc(int* id, _FuncItem* out)
{
    if (!id)
        return 1;
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().funcs().getNextFunc(v, out); }); });
}

MGR_API int mgrGetFuncItemID(int funcId, _FuncItem* out)
{
    return api([&](Manager& m) {
        if (m.plugins().funcs().getFuncItemById(static_cast<uint32_t>(funcId), out) != 0) {
            m.log().logMsg(kSource, "Function with ID = %u is not registered.", 0, static_cast<unsigned>(funcId));
            return static_cast<int>(MGR_ERR_NO_FUNC);
        }
        return 0;
    });
}

MGR_API int mgrGetFuncItem(const char* plugin, const char* funcName, _FuncItem* out)
{
    return api([&](Manager& m) {
        if (m.plugins().funcs().getFuncItem(plugin, funcName, out) != 0) {
            m.log().logMsg(kSource, "Function %s is is not registered by plugin %s.", 0, funcName ? funcName : "",
                           plugin ? plugin : "");
            return static_cast<int>(MGR_ERR_NO_FUNC);
        }
        return 0;
    });
}

MGR_API int mgrCallFuncItem(const char* plugin, const char* funcName, const _FuncSlot* in, void* const* out)
{
    return api([&](Manager& m) {
        int result = 0;
        if (m.plugins().funcs().callFuncItem(plugin, funcName, in, out, &result) != 0) {
            m.log().logMsg(kSource, "Function %s is is not registered by plugin %s.", 0, funcName ? funcName : "",
                           plugin ? plugin : "");
            return static_cast<int>(MGR_ERR_NO_FUNC);
        }
        return result;
    });
}

// ---- events ----

MGR_API int mgrAddCBEvent(const _EventDesc* desc, int* outId)
{
    return api([&](Manager& m) { return m.plugins().events().addEvent(desc, outId); });
}

MGR_API int mgrRemoveCBEvent(const char* plugin, const char* eventName)
{
    return api([&](Manager& m) { return m.plugins().events().removeEvent(plugin, eventName); });
}

MGR_API int mgrGetRegFirstCBEvent(int* id, _EventDesc* out)
{
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().events().getFirstEvent(v, out); }); });
}

MGR_API int mgrGetRegNextCBEvent(int* id, _EventDesc* out)
{
    if (!id)
        return 1;
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().events().getNextEvent(v, out); }); });
}

MGR_API int mgrSetCBEvent(int eventId, intptr_t arg)
{
    return api([&](Manager& m) { return m.plugins().events().fire(static_cast<uint32_t>(eventId), arg); });
}

MGR_API int mgrRegisterCallback(const char* plugin, const char* eventName, EventCallback callback)
{
    return api([&](Manager& m) { return m.plugins().events().subscribe(plugin, eventName, callback); });
}

MGR_API int mgrUnregisterCallback(const char* plugin, const char* eventName, EventCallback callback)
{
    return api([&](Manager& m) { return m.plugins().events().unsubscribe(plugin, eventName, callback); });
}

// ---- frame-attribute templates, filter chains and filter instances ----

MGR_API int mgrAddFrameAttribTempl(const _FrameAttribTempl* templ)
{
    return api([&](Manager& m) { return m.plugins().frameAttribs().addTemplate(templ); });
}

MGR_API int mgrRemoveFrameAttribTempl(const char* attribName)
{
    return api([&](Manager& m) { return m.plugins().frameAttribs().removeTemplate(attribName); });
}

MGR_API int mgrCreateFilterChain(const char* plugin, const char* chainName, int* outId)
{
    return api([&](Manager& m) {
        uint32_t id = 0;
        const int rc = m.plugins().chains().createChain(plugin, chainName, &id);
        if (rc == 0 && outId)
            *outId = static_cast<int>(id);
        return rc;
    });
}

MGR_API int mgrRemoveFilterChain(int chainId)
{
    return api([&](Manager& m) { return m.plugins().chains().removeChain(static_cast<uint32_t>(chainId)); });
}

MGR_API int mgrAddToFilterChain(int chainId, int filterOrInstanceId, int position)
{
    return api([&](Manager& m) {
        return m.plugins().chains().addToChain(static_cast<uint32_t>(chainId), static_cast<uint32_t>(filterOrInstanceId),
                                               position);
    });
}

MGR_API int mgrRemoveFromFilterChain(int chainId, int index)
{
    return api([&](Manager& m) { return m.plugins().chains().removeFromChain(static_cast<uint32_t>(chainId), index); });
}

MGR_API int mgrGetFilteredFrame(int chainId, uint32_t frameId, uint32_t* outFrameId)
{
    return api([&](Manager& m) { return m.frames().filteredFrame(static_cast<uint32_t>(chainId), frameId, outFrameId); });
}

MGR_API int mgrGetFirstFilterChain(int* id, _FilterChainDesc* out)
{
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().chains().getFirstChain(v, out); }); });
}

MGR_API int mgrGetNextFilterChain(int* id, _FilterChainDesc* out)
{
    if (!id)
        return 1;
    return api([&](Manager& m) { return walk(id, [&](uint32_t* v) { return m.plugins().chains().getNextChain(v, out); }); });
}

MGR_API int mgrGetFilterChainInfo(int chainId, _FilterChainDesc* out)
{
    return api([&](Manager& m) { return m.plugins().chains().getChainInfo(static_cast<uint32_t>(chainId), out); });
}

MGR_API int mgrCreateFilterInst(int funcId, const char* instName, int* outInstId)
{
    return api([&](Manager& m) {
        uint32_t id = 0;
        const int rc = m.plugins().funcs().createFilterInst(static_cast<uint32_t>(funcId), instName, &id);
        if (rc == 0 && outInstId)
            *outInstId = static_cast<int>(id);
        return rc;
    });
}

MGR_API int mgrDeleteFilterInst(int instId)
{
    return api([&](Manager& m) { return m.plugins().funcs().deleteFilterInst(static_cast<uint32_t>(instId)); });
}

MGR_API int mgrGetFirstFilterInst(int funcId, int* instId, char* name)
{
    return api([&](Manager& m) {
        return walk(instId, [&](uint32_t* v) {
            return m.plugins().funcs().getFirstFilterInst(static_cast<uint32_t>(funcId), v, name);
        });
    });
}

MGR_API int mgrGetNextFilterInst(int funcId, int* instId, char* name)
{
    if (!instId)
        return 1;
    return api([&](Manager& m) {
        return walk(instId, [&](uint32_t* v) {
            return m.plugins().funcs().getNextFilterInst(static_cast<uint32_t>(funcId), v, name);
        });
    });
}

MGR_API int mgrSetFilterPar(int id, int parIndex, const void* data, uint32_t size)
{
    return api([&](Manager& m) { return m.plugins().funcs().setFilterPar(static_cast<uint32_t>(id), parIndex, data, size); });
}

MGR_API int mgrGetFilterPar(int id, int parIndex, _FilterParDesc* desc, uint32_t* size)
{
    return api([&](Manager& m) { return m.plugins().funcs().getFilterPar(static_cast<uint32_t>(id), parIndex, desc, size); });
}

// ---- frames ----

MGR_API int mgrCreateFrame(uint32_t* outId, uint32_t width, uint32_t height, int type, const char* creator)
{
    return api([&](Manager& m) { return m.frames().createFrame(outId, width, height, type, creator); });
}

MGR_API int mgrLoadFrame(uint32_t* outId, const char* fileName)
{
    return api([&](Manager& m) { return m.frames().loadFrame(outId, fileName); });
}

MGR_API int mgrSaveFrame(uint32_t frameId, const char* fileName, uint32_t flags)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.save(fileName, flags); });
}

MGR_API int mgrDuplicateFrame(uint32_t frameId, uint32_t* outId)
{
    return api([&](Manager& m) { return m.frames().duplicateFrame(frameId, outId); });
}

MGR_API int mgrGetFirstFrame(uint32_t* id)
{
    return api([&](Manager& m) { return m.frames().getFirstFrame(id); });
}

MGR_API int mgrGetNextFrame(uint32_t* id)
{
    return api([&](Manager& m) { return m.frames().getNextFrame(id); });
}

MGR_API int mgrOpenFrame(uint32_t frameId, uint32_t* refCount)
{
    return api([&](Manager& m) { return m.frames().openFrame(frameId, refCount); });
}

MGR_API int mgrCloseFrame(uint32_t frameId, uint32_t* refCount)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.close(refCount, false); });
}

MGR_API int mgrLockFrame(uint32_t frameId, uint32_t timeoutMs)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.lock(timeoutMs); });
}

MGR_API int mgrUnlockFrame(uint32_t frameId)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.unlock(); });
}

MGR_API int mgrGetFrameType(uint32_t frameId, int* type)
{
    return byId(frameId, [&](TvkFrameInfo& f) {
        if (!type)
            return static_cast<int>(TVK_ERR_PARAM);
        *type = f.getBuffType();
        return 0;
    });
}

MGR_API int mgrSetFrameType(uint32_t frameId, int type)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.setBuffType(type); });
}

MGR_API int mgrGetFrameSize(uint32_t frameId, uint32_t* width, uint32_t* height)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getSize(width, height); });
}

MGR_API int mgrSetFrameData(uint32_t frameId, const void* data, uint32_t size)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.setData(data, size); });
}

MGR_API int mgrGetFrameData(uint32_t frameId, void* buffer, uint32_t* size, int type)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getData(buffer, size, type); });
}

MGR_API int mgrGetLockedFrameBuff(uint32_t frameId, void** buffer, uint32_t* size, uint32_t timeoutMs)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getLockedBuffer(buffer, size, timeoutMs); });
}

MGR_API int mgrLoadFrameData(uint32_t frameId, const char* fileName, uint32_t flags)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.load(fileName, flags); });
}

MGR_API int mgrSetFrameName(uint32_t frameId, const char* name)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.setName(name); });
}

MGR_API int mgrGetFrameName(uint32_t frameId, char* name)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getName(name); });
}

MGR_API int mgrSetFrameCreatorName(uint32_t frameId, const char* name)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.setCreatorName(name); });
}

MGR_API int mgrGetFrameCreatorName(uint32_t frameId, char* name)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getCreatorName(name); });
}

MGR_API int mgrSetFrameLogPath(uint32_t frameId, const char* path)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.setLogPath(path); });
}

MGR_API int mgrGetFrameLogPath(uint32_t frameId, char* path)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getLogPath(path); });
}

MGR_API int mgrAddFrameAttrib(uint32_t frameId, const char* name, const char* description, int type, const void* data,
                              uint32_t count)
{
    return byId(frameId, [&](TvkFrameInfo& f) {
        return f.addAttrib(name, description, static_cast<_Data_Types>(type), data, count, 0);
    });
}

MGR_API int mgrSetFrameAttrib(uint32_t frameId, const char* name, const void* data, uint32_t size)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.setAttribData(name, data, size); });
}

MGR_API int mgrGetFrameAttrib(uint32_t frameId, const char* name, void* buffer, uint32_t* size, int* type)
{
    return byId(frameId, [&](TvkFrameInfo& f) {
        _Data_Types attribType = TYPE_UNKNOWN;
        const int rc = f.getAttribData(name, buffer, size, &attribType);
        if (type)
            *type = attribType;
        return rc;
    });
}

MGR_API int mgrRemoveAttrib(uint32_t frameId, const char* name)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.removeAttrib(name); });
}

MGR_API int mgrRemoveAllAttribs(uint32_t frameId)
{
    return byId(frameId, [&](TvkFrameInfo& f) {
        f.removeAllAttribs(true);
        return 0;
    });
}

MGR_API int mgrGetFrameFirstAttrib(uint32_t frameId, int* cursor, _ExtFrameAttrib* out)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getFirstAttrib(cursor, out); });
}

MGR_API int mgrGetFrameNextAttrib(uint32_t frameId, int* cursor, _ExtFrameAttrib* out)
{
    return byId(frameId, [&](TvkFrameInfo& f) { return f.getNextAttrib(cursor, out); });
}

MGR_API int mgrGetServiceFrame(int devId, uint32_t type, uint32_t* outFrameId)
{
    return api([&](Manager& m) { return m.frames().serviceFrameId(devId, type, outFrameId); });
}

// ---- the internal table of the utilities library ----

static int intFindPlugin(const char* pluginName, PluginInfo** out)
{
    return api([&](Manager& m) {
        const auto plugin = m.plugins().findPlugin(pluginName ? pluginName : "");
        if (!plugin) {
            m.log().logMsg(kSource, "Plugin %s is not registered.", 0, pluginName ? pluginName : "");
            return static_cast<int>(MGR_ERR_NO_PLUGIN);
        }
        if (out)
            *out = tablePluginInfo(plugin.get()); // read in place; lives while it is registered
        return 0;
    });
}

static int intGetFirstPlugin(int* id, PluginInfo** out)
{
    return api([&](Manager& m) {
        std::shared_ptr<PluginInfo> plugin;
        const int rc = walk(id, [&](uint32_t* v) { return m.plugins().getFirstPlugin(v, &plugin); });
        if (rc == 0 && out)
            *out = tablePluginInfo(plugin.get());
        return rc;
    });
}

static int intGetNextPlugin(int* id, PluginInfo** out)
{
    if (!id)
        return 1;
    return api([&](Manager& m) {
        std::shared_ptr<PluginInfo> plugin;
        const int rc = walk(id, [&](uint32_t* v) { return m.plugins().getNextPlugin(v, &plugin); });
        if (rc == 0 && out)
            *out = tablePluginInfo(plugin.get());
        return rc;
    });
}

static int intCallMenuItemByID(int itemId)
{
    return api([&](Manager& m) { return callMenuItemById(m, itemId); });
}

static LogItem* intPeekLogItem(void)
{
    try {
        return Manager::get().log().peekItem();
    } catch (...) {
        return nullptr;
    }
}

static void intPopLogItem(void)
{
    if (Manager* m = Manager::current())
        m->log().popItem();
}

// ---- the loader's exports ----

MGR_API int mgrSetUiHooks(MgrUiHooks* hooks, const MgrUtilsEntries* entries)
{
    if (entries && entries->size < sizeof(MgrUtilsEntries))
        return TVK_ERR_PARAM;
    Manager::ui().setTarget(hooks);
    Manager::setUtilsEntries(entries);
    if (entries && entries->setIntFuncTable) {
        return api([&](Manager& m) {
            guardedPluginCall(m.log(), "setIntFuncTable", 0, [&] { return entries->setIntFuncTable(&kIntFuncTable); });
            return 0;
        });
    }
    return 0;
}

MGR_API int mgrInitManager(void)
{
    return api([](Manager& m) { return m.init(); });
}

MGR_API int mgrExitManager(void)
{
    return api([](Manager& m) { return m.exit(); });
}

MGR_API int mgrMessageHandler(TvkMsg* msg)
{
    Manager* m = Manager::current();
    if (!m)
        return 0;
    try {
        return m->messageHandler(msg);
    } catch (...) {
        return 0;
    }
}

MGR_API int mgrUnloadManager(void)
{
    try {
        Manager::destroy();
    } catch (...) {
        return TVK_ERR_GENERIC;
    }
    return 0;
}

// ---- the tables ----

const _MgrFuncTable kMgrFuncTable = {
    .version = MGR_INTERFACE_VERSION,
    .mgrGetConfigsDir = mgrGetConfigsDir,
    .mgrLogMsg = mgrLogMsg,
    .mgrLogShowWindow = mgrLogShowWindow,
    .mgrManagedItemsShowWindow = mgrManagedItemsShowWindow,
    .mgrAddPlugin = mgrAddPlugin,
    .mgrAddMenuItem = mgrAddMenuItem,
    .mgrAddTvkMenuItem = mgrAddTvkMenuItem,
    .mgrRemoveMenuItem = mgrRemoveMenuItem,
    .mgrGetTvkMenuPath = mgrGetTvkMenuPath,
    .mgrGetFirstMenuItem = mgrGetFirstMenuItem,
    .mgrGetNextMenuItem = mgrGetNextMenuItem,
    .mgrCallMenuItemByName = mgrCallMenuItemByName,
    .mgrCallMenuItemByID = mgrCallMenuItemByID,
    .mgrAddMsgHandler = mgrAddMsgHandler,
    .mgrRemoveMsgHandler = mgrRemoveMsgHandler,
    .mgrAddFuncItem = mgrAddFuncItem,
    .mgrRemoveFuncItem = mgrRemoveFuncItem,
    .mgrGetRegFirstFunc = mgrGetRegFirstFunc,
    .mgrGetRegNextFunc = mgrGetRegNextFunc,
    .mgrGetFuncItemID = mgrGetFuncItemID,
    .mgrGetFuncItem = mgrGetFuncItem,
    .mgrCallFuncItem = mgrCallFuncItem,
    .mgrAddCBEvent = mgrAddCBEvent,
    .mgrRemoveCBEvent = mgrRemoveCBEvent,
    .mgrGetRegFirstCBEvent = mgrGetRegFirstCBEvent,
    .mgrGetRegNextCBEvent = mgrGetRegNextCBEvent,
    .mgrSetCBEvent = mgrSetCBEvent,
    .mgrRegisterCallback = mgrRegisterCallback,
    .mgrUnregisterCallback = mgrUnregisterCallback,
    .mgrAddFrameAttribTempl = mgrAddFrameAttribTempl,
    .mgrRemoveFrameAttribTempl = mgrRemoveFrameAttribTempl,
    .mgrCreateFilterChain = mgrCreateFilterChain,
    .mgrRemoveFilterChain = mgrRemoveFilterChain,
    .mgrAddToFilterChain = mgrAddToFilterChain,
    .mgrRemoveFromFilterChain = mgrRemoveFromFilterChain,
    .mgrGetFilteredFrame = mgrGetFilteredFrame,
    .mgrGetFirstFilterChain = mgrGetFirstFilterChain,
    .mgrGetNextFilterChain = mgrGetNextFilterChain,
    .mgrGetFilterChainInfo = mgrGetFilterChainInfo,
    .mgrCreateFilterInst = mgrCreateFilterInst,
    .mgrDeleteFilterInst = mgrDeleteFilterInst,
    .mgrGetFirstFilterInst = mgrGetFirstFilterInst,
    .mgrGetNextFilterInst = mgrGetNextFilterInst,
    .mgrSetFilterPar = mgrSetFilterPar,
    .mgrGetFilterPar = mgrGetFilterPar,
    .mgrCreateFrame = mgrCreateFrame,
    .mgrLoadFrame = mgrLoadFrame,
    .mgrSaveFrame = mgrSaveFrame,
    .mgrDuplicateFrame = mgrDuplicateFrame,
    .mgrGetFirstFrame = mgrGetFirstFrame,
    .mgrGetNextFrame = mgrGetNextFrame,
    .mgrOpenFrame = mgrOpenFrame,
    .mgrCloseFrame = mgrCloseFrame,
    .mgrLockFrame = mgrLockFrame,
    .mgrUnlockFrame = mgrUnlockFrame,
    .mgrGetFrameType = mgrGetFrameType,
    .mgrSetFrameType = mgrSetFrameType,
    .mgrGetFrameSize = mgrGetFrameSize,
    .mgrSetFrameSize = mgrSetFrameSize,
    .mgrSetFrameData = mgrSetFrameData,
    .mgrGetFrameData = mgrGetFrameData,
    .mgrGetLockedFrameBuff = mgrGetLockedFrameBuff,
    .mgrLoadFrameData = mgrLoadFrameData,
    .mgrSetFrameName = mgrSetFrameName,
    .mgrGetFrameName = mgrGetFrameName,
    .mgrSetFrameCreatorName = mgrSetFrameCreatorName,
    .mgrGetFrameCreatorName = mgrGetFrameCreatorName,
    .mgrSetFrameLogPath = mgrSetFrameLogPath,
    .mgrGetFrameLogPath = mgrGetFrameLogPath,
    .mgrAddFrameAttrib = mgrAddFrameAttrib,
    .mgrSetFrameAttrib = mgrSetFrameAttrib,
    .mgrGetFrameAttrib = mgrGetFrameAttrib,
    .mgrRemoveAttrib = mgrRemoveAttrib,
    .mgrRemoveAllAttribs = mgrRemoveAllAttribs,
    .mgrGetFrameFirstAttrib = mgrGetFrameFirstAttrib,
    .mgrGetFrameNextAttrib = mgrGetFrameNextAttrib,
    .mgrGetServiceFrame = mgrGetServiceFrame,
    .tvkCtrlInitialize = tvkCtrlInitialize,
    .tvkCtrlGetFirstTvk = tvkCtrlGetFirstTvk,
    .tvkCtrlGetNextTvk = tvkCtrlGetNextTvk,
    .tvkCtrlFindNewTvks = tvkCtrlFindNewTvks,
    .tvkCtrlReconnectTvk = tvkCtrlReconnectTvk,
    .tvkCtrlGetHwInfoCount = tvkCtrlGetHwInfoCount,
    .tvkCtrlGetHwInfoItem = tvkCtrlGetHwInfoItem,
    .tvkCtrlSetHwInfoItem = tvkCtrlSetHwInfoItem,
    .tvkCtrlTryLockDevice = tvkCtrlTryLockDevice,
    .tvkCtrlReleaseDevice = tvkCtrlReleaseDevice,
    .tvkCtrlGetLockOwnerID = tvkCtrlGetLockOwnerID,
    .tvkCtrlReviveTvkDevice = tvkCtrlReviveTvkDevice,
    .tvkCtrlInitTvkDevice = tvkCtrlInitTvkDevice,
    .tvkCtrlSaveTvkCfg = tvkCtrlSaveTvkCfg,
    .tvkCtrlLoadTvkCfg = tvkCtrlLoadTvkCfg,
    .tvkCtrlSaveTvkCfgAsDefault = tvkCtrlSaveTvkCfgAsDefault,
    .tvkCtrlSetPolarity = tvkCtrlSetPolarity,
    .tvkCtrlGetPolarity = tvkCtrlGetPolarity,
    .tvkCtrlSetCST = tvkCtrlSetCST,
    .tvkCtrlGetCST = tvkCtrlGetCST,
    .tvkCtrlSetAcqMode = tvkCtrlSetAcqMode,
    .tvkCtrlGetAcqMode = tvkCtrlGetAcqMode,
    .tvkCtrlSetHwTimer = tvkCtrlSetHwTimer,
    .tvkCtrlGetHwTimer = tvkCtrlGetHwTimer,
    .tvkCtrlSetDACsDefault = tvkCtrlSetDACsDefault,
    .tvkCtrlSetDACs = tvkCtrlSetDACs,
    .tvkCtrlGetDACs = tvkCtrlGetDACs,
    .tvkCtrlGetSingleDACAnalog = tvkCtrlGetSingleDACAnalog,
    .tvkCtrlGetDACsAnalog = tvkCtrlGetDACsAnalog,
    .tvkCtrlRefreshDACs = tvkCtrlRefreshDACs,
    .tvkCtrlGetDACsNames = tvkCtrlGetDACsNames,
    .tvkCtrlSetDACRefCoef = tvkCtrlSetDACRefCoef,
    .tvkCtrlGetDACRefCoef = tvkCtrlGetDACRefCoef,
    .tvkCtrlSetExtDAC = tvkCtrlSetExtDAC,
    .tvkCtrlGetExtDAC = tvkCtrlGetExtDAC,
    .tvkCtrlSetPixelsCfg = tvkCtrlSetPixelsCfg,
    .tvkCtrlGetPixelsCfg = tvkCtrlGetPixelsCfg,
    .tvkCtrlResetPixelsCfg = tvkCtrlResetPixelsCfg,
    .tvkCtrlSetSuperMatrixPixCfg = tvkCtrlSetSuperMatrixPixCfg,
    .tvkCtrlGetSuperMatrixPixCfg = tvkCtrlGetSuperMatrixPixCfg,
    .tvkCtrlRefreshPixelsCfg = tvkCtrlRefreshPixelsCfg,
    .tvkCtrlSetAcqSpacing = tvkCtrlSetAcqSpacing,
    .tvkCtrlGetAcqSpacing = tvkCtrlGetAcqSpacing,
    .tvkCtrlSetAutoConvToSM = tvkCtrlSetAutoConvToSM,
    .tvkCtrlGetAutoConvToSM = tvkCtrlGetAutoConvToSM,
    .tvkCtrlConvToSuperMatrix = tvkCtrlConvToSuperMatrix,
    .tvkCtrlConvFromSuperMatrix = tvkCtrlConvFromSuperMatrix,
    .tvkCtrlLoadPixelsCfg = tvkCtrlLoadPixelsCfg,
    .tvkCtrlSavePixelsCfg = tvkCtrlSavePixelsCfg,
    .tvkCtrlLoadPixelsCfgAscii = tvkCtrlLoadPixelsCfgAscii,
    .tvkCtrlSavePixelsCfgAscii = tvkCtrlSavePixelsCfgAscii,
    .tvkCtrlPerformIntegralAcq = tvkCtrlPerformIntegralAcq,
    .tvkCtrlPerformFrameAcq = tvkCtrlPerformFrameAcq,
    .tvkCtrlPerformTestPulseAcq = tvkCtrlPerformTestPulseAcq,
    .tvkCtrlPerformDigitalTest = tvkCtrlPerformDigitalTest,
    .tvkCtrlAbortOperation = tvkCtrlAbortOperation,
    .tvkCtrlCloseFrames = tvkCtrlCloseFrames,
    .tvkCtrlGetFrame16 = tvkCtrlGetFrame16,
    .tvkCtrlGetFrame32 = tvkCtrlGetFrame32,
    .tvkCtrlGetFrameDouble = tvkCtrlGetFrameDouble,
    .tvkCtrlSaveFrame = tvkCtrlSaveFrame,
    .tvkCtrlGetFrameAttrib = tvkCtrlGetFrameAttrib,
    .tvkCtrlGetFrameID = tvkCtrlGetFrameID,
    .tvkCtrlGetDevInfo = tvkCtrlGetDevInfo,
    .tvkCtrlGetTarvikInfo = tvkCtrlGetTarvikInfo,
    .tvkCtrlGetAcqInfo = tvkCtrlGetAcqInfo,
    .tvkCtrlGetInfoMsg = tvkCtrlGetInfoMsg,
};

const _IntFuncTable kIntFuncTable = {
    .intFindPlugin = intFindPlugin,
    .intGetFirstPlugin = intGetFirstPlugin,
    .intGetNextPlugin = intGetNextPlugin,
    .intCallMenuItemByID = intCallMenuItemByID,
    .mgrAddPlugin = mgrAddPlugin,
    .tvkCtrlFindNewTvks = tvkCtrlFindNewTvks,
    .mgrExitManager = mgrExitManager,
    .intPeekLogItem = intPeekLogItem,
    .intPopLogItem = intPopLogItem,
};

// ---- the second spelling of every export ----

TVK_EXPORT_UNDERSCORE(int, mgrLogMsg, (const char* source, const char* fmt, int flags, ...));
TVK_EXPORT_UNDERSCORE(int, mgrLogShowWindow, (int show));
TVK_EXPORT_UNDERSCORE(int, mgrManagedItemsShowWindow, (void));
TVK_EXPORT_UNDERSCORE(int, mgrAddPlugin, (const char* path));
TVK_EXPORT_UNDERSCORE(int, mgrAddMenuItem, (const char* plugin, const char* itemName, const char* menuPath, MenuItemCallback callback, void* userData, int* outId, int flags));
TVK_EXPORT_UNDERSCORE(int, mgrAddTvkMenuItem, (int devId, const char* plugin, const char* itemName, const char* subPath, MenuItemCallback callback, void* userData, int* outId, int flags));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveMenuItem, (int itemId));
TVK_EXPORT_UNDERSCORE(int, mgrGetTvkMenuPath, (int devId, char* buf));
TVK_EXPORT_UNDERSCORE(int, mgrGetFirstMenuItem, (int* id, char* name));
TVK_EXPORT_UNDERSCORE(int, mgrGetNextMenuItem, (int* id, char* name));
TVK_EXPORT_UNDERSCORE(int, mgrCallMenuItemByName, (const char* fullName));
TVK_EXPORT_UNDERSCORE(int, mgrCallMenuItemByID, (int itemId));
TVK_EXPORT_UNDERSCORE(int, mgrAddMsgHandler, (TvkMsgHandler handler));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveMsgHandler, (TvkMsgHandler handler));
TVK_EXPORT_UNDERSCORE(int, mgrAddFuncItem, (_FuncItem* item));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveFuncItem, (const char* plugin, const char* funcName));
TVK_EXPORT_UNDERSCORE(int, mgrGetRegFirstFunc, (int* id, _FuncItem* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetRegNextFunc, (int* id, _FuncItem* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetFuncItemID, (int funcId, _FuncItem* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetFuncItem, (const char* plugin, const char* funcName, _FuncItem* out));
TVK_EXPORT_UNDERSCORE(int, mgrCallFuncItem, (const char* plugin, const char* funcName, const _FuncSlot* in, void* const* out));
TVK_EXPORT_UNDERSCORE(int, mgrAddCBEvent, (const _EventDesc* desc, int* outId));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveCBEvent, (const char* plugin, const char* eventName));
TVK_EXPORT_UNDERSCORE(int, mgrGetRegFirstCBEvent, (int* id, _EventDesc* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetRegNextCBEvent, (int* id, _EventDesc* out));
TVK_EXPORT_UNDERSCORE(int, mgrSetCBEvent, (int eventId, intptr_t arg));
TVK_EXPORT_UNDERSCORE(int, mgrRegisterCallback, (const char* plugin, const char* eventName, EventCallback callback));
TVK_EXPORT_UNDERSCORE(int, mgrUnregisterCallback, (const char* plugin, const char* eventName, EventCallback callback));
TVK_EXPORT_UNDERSCORE(int, mgrAddFrameAttribTempl, (const _FrameAttribTempl* templ));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveFrameAttribTempl, (const char* attribName));
TVK_EXPORT_UNDERSCORE(int, mgrCreateFilterChain, (const char* plugin, const char* chainName, int* outId));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveFilterChain, (int chainId));
TVK_EXPORT_UNDERSCORE(int, mgrAddToFilterChain, (int chainId, int filterOrInstanceId, int position));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveFromFilterChain, (int chainId, int index));
TVK_EXPORT_UNDERSCORE(int, mgrGetFilteredFrame, (int chainId, uint32_t frameId, uint32_t* outFrameId));
TVK_EXPORT_UNDERSCORE(int, mgrGetFirstFilterChain, (int* id, _FilterChainDesc* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetNextFilterChain, (int* id, _FilterChainDesc* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetFilterChainInfo, (int chainId, _FilterChainDesc* out));
TVK_EXPORT_UNDERSCORE(int, mgrCreateFilterInst, (int funcId, const char* instName, int* outInstId));
TVK_EXPORT_UNDERSCORE(int, mgrDeleteFilterInst, (int instId));
TVK_EXPORT_UNDERSCORE(int, mgrGetFirstFilterInst, (int funcId, int* instId, char* name));
TVK_EXPORT_UNDERSCORE(int, mgrGetNextFilterInst, (int funcId, int* instId, char* name));
TVK_EXPORT_UNDERSCORE(int, mgrSetFilterPar, (int id, int parIndex, const void* data, uint32_t size));
TVK_EXPORT_UNDERSCORE(int, mgrGetFilterPar, (int id, int parIndex, _FilterParDesc* desc, uint32_t* size));
TVK_EXPORT_UNDERSCORE(int, mgrCreateFrame, (uint32_t* outId, uint32_t width, uint32_t height, int type, const char* creator));
TVK_EXPORT_UNDERSCORE(int, mgrLoadFrame, (uint32_t* outId, const char* fileName));
TVK_EXPORT_UNDERSCORE(int, mgrSaveFrame, (uint32_t frameId, const char* fileName, uint32_t flags));
TVK_EXPORT_UNDERSCORE(int, mgrDuplicateFrame, (uint32_t frameId, uint32_t* outId));
TVK_EXPORT_UNDERSCORE(int, mgrGetFirstFrame, (uint32_t* id));
TVK_EXPORT_UNDERSCORE(int, mgrGetNextFrame, (uint32_t* id));
TVK_EXPORT_UNDERSCORE(int, mgrOpenFrame, (uint32_t frameId, uint32_t* refCount));
TVK_EXPORT_UNDERSCORE(int, mgrCloseFrame, (uint32_t frameId, uint32_t* refCount));
TVK_EXPORT_UNDERSCORE(int, mgrLockFrame, (uint32_t frameId, uint32_t timeoutMs));
TVK_EXPORT_UNDERSCORE(int, mgrUnlockFrame, (uint32_t frameId));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameType, (uint32_t frameId, int* type));
TVK_EXPORT_UNDERSCORE(int, mgrSetFrameType, (uint32_t frameId, int type));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameSize, (uint32_t frameId, uint32_t* width, uint32_t* height));
TVK_EXPORT_UNDERSCORE(int, mgrSetFrameData, (uint32_t frameId, const void* data, uint32_t size));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameData, (uint32_t frameId, void* buffer, uint32_t* size, int type));
TVK_EXPORT_UNDERSCORE(int, mgrGetLockedFrameBuff, (uint32_t frameId, void** buffer, uint32_t* size, uint32_t timeoutMs));
TVK_EXPORT_UNDERSCORE(int, mgrLoadFrameData, (uint32_t frameId, const char* fileName, uint32_t flags));
TVK_EXPORT_UNDERSCORE(int, mgrSetFrameName, (uint32_t frameId, const char* name));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameName, (uint32_t frameId, char* name));
TVK_EXPORT_UNDERSCORE(int, mgrSetFrameCreatorName, (uint32_t frameId, const char* name));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameCreatorName, (uint32_t frameId, char* name));
TVK_EXPORT_UNDERSCORE(int, mgrSetFrameLogPath, (uint32_t frameId, const char* path));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameLogPath, (uint32_t frameId, char* path));
TVK_EXPORT_UNDERSCORE(int, mgrAddFrameAttrib, (uint32_t frameId, const char* name, const char* description, int type, const void* data, uint32_t count));
TVK_EXPORT_UNDERSCORE(int, mgrSetFrameAttrib, (uint32_t frameId, const char* name, const void* data, uint32_t size));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameAttrib, (uint32_t frameId, const char* name, void* buffer, uint32_t* size, int* type));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveAttrib, (uint32_t frameId, const char* name));
TVK_EXPORT_UNDERSCORE(int, mgrRemoveAllAttribs, (uint32_t frameId));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameFirstAttrib, (uint32_t frameId, int* cursor, _ExtFrameAttrib* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetFrameNextAttrib, (uint32_t frameId, int* cursor, _ExtFrameAttrib* out));
TVK_EXPORT_UNDERSCORE(int, mgrGetServiceFrame, (int devId, uint32_t type, uint32_t* outFrameId));
TVK_EXPORT_UNDERSCORE(int, mgrInitManager, (void));
TVK_EXPORT_UNDERSCORE(int, mgrExitManager, (void));
TVK_EXPORT_UNDERSCORE(int, mgrMessageHandler, (TvkMsg* msg));
TVK_EXPORT_UNDERSCORE(int, mgrSetUiHooks, (MgrUiHooks* hooks, const MgrUtilsEntries* entries));
TVK_EXPORT_UNDERSCORE(int, mgrUnloadManager, (void));
