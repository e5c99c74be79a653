// The manager's one state object: log, registries, frame store, the loaded plug-ins, message handlers,
// paths and the life-cycle flags. Made on first use (never by a static constructor) and destroyed by
// mgrUnloadManager, or when the library goes at process end.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "filter_persistence.h"
#include "frame_store.h"
#include "menu_registry.h"
#include "mgr_log.h"
#include "mgr_ui_hooks.h"
#include "platform/module.h"
#include "plugin_mgr.h"
#include "tvk_manager.h"
#include "tvk_mgr.h"

// Forwards to the hooks that the loader installed, or to the headless ones.
class UiHooksProxy : public MgrUiHooks {
public:
    void setTarget(MgrUiHooks* hooks) { target_.store(hooks); }
    int addMenuItem(const char* itemName, const char* menuPath, int mgrItemId) override;
    int removeMenuItem(int mgrItemId) override;
    int renameSubMenu(const char* parentPath, const char* oldText, const char* newText) override;
    int showMsgWindow(const char* title, const char* fmt, va_list args) override;
    MsgBoxAnswer messageBox(const char* text, const char* caption, MsgBoxKind kind) override;

private:
    MgrUiHooks& target() const;
    std::atomic<MgrUiHooks*> target_{nullptr};
};

class Manager {
public:
    // The manager, made on first use. Any thread.
    static Manager& get();
    // The manager when it exists, else null (callbacks from the device-control library).
    static Manager* current();
    // Unloads the plug-ins and destroys the manager; the next get() makes a fresh one.
    static void destroy();

    static UiHooksProxy& ui();
    static void setUtilsEntries(const MgrUtilsEntries* entries);
    static MgrUtilsEntries utilsEntries();

    int init();
    int exit();
    int addPlugin(const char* path);
    int messageHandler(TvkMsg* msg);
    void addMsgHandler(TvkMsgHandler handler);
    void removeMsgHandler(TvkMsgHandler handler);

    const std::string& configsDir() const { return configsDir_; }
    const std::string& iniPath() const { return iniPath_; }
    bool devicesReady() const { return devicesReady_.load(); }

    Log& log() { return log_; }
    PluginMgr& plugins() { return plugins_; }
    FrameStore& frames() { return frames_; }
    DeviceMenuLabels& labels() { return labels_; }

    ~Manager();

private:
    Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    struct LoadedPlugin {
        std::unique_ptr<plat::Module> module;
        std::string modulePath; // the module's file, as code addresses in it report it
    };
    struct Handler {
        explicit Handler(TvkMsgHandler fn) : fn(fn) {}
        const TvkMsgHandler fn;
        std::atomic<bool> active{true}; // false once removed: a dispatch under way skips it
    };
    using HandlerList = std::vector<std::shared_ptr<Handler>>; // ascending handler address

    int buildPaths();
    void loadListedPlugins();
    int loadPlugin(const std::string& path, std::string* modulePathOut = nullptr);
    // Drops what the module's code registered anywhere, takes the plug-in out of the registry and closes
    // its library.
    void unloadPlugin(const std::string& name);
    // removed receives the functions taken out.
    void dropModuleCode(const std::string& modulePath, std::vector<std::shared_ptr<FunctionInfo>>& removed);
    void unloadAllPlugins();
    void installCallbacks();
    static void removeCallbacks();

    std::atomic<bool> initRan_{false};
    std::atomic<bool> exitRan_{false};
    std::atomic<bool> exiting_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> devicesReady_{false};

    Log log_;
    PluginMgr plugins_;
    FrameStore frames_;
    DeviceMenuLabels labels_;

    // Set once by init() before any plug-in runs; read-only afterwards.
    std::string baseFolder_; // with a trailing '/'
    std::string configsDir_; // with a trailing '/'
    std::string iniPath_;
    // Set by init() and read by exit(), both on the loader's thread: the saved filter lines that the start
    // could not restore because their plug-in did not load or their function is not registered.
    HeldFilterLines heldFilterLines_;

    // Guards handlers_, pluginList_ and loaded_; no plug-in code is called while it is held. Recursive: the
    // "already loaded" box is shown while it is held, and the box's event loop passes every message through
    // messageHandler(), which takes it again in the same thread.
    std::recursive_mutex m_;
    std::shared_ptr<const HandlerList> handlers_ = std::make_shared<const HandlerList>(); // replaced whole
    std::vector<std::string> pluginList_; // the entries of [Plugins] (at most kMaxPluginEntries from the file)
    std::string pluginListRest_;          // the entries beyond them, written back as they were read
    std::map<std::string, LoadedPlugin> loaded_; // by plug-in name
};

// The tables handed out: to each plug-in's InitTvkPlugin and to the utilities library.
extern const _MgrFuncTable kMgrFuncTable;
extern const _IntFuncTable kIntFuncTable;
