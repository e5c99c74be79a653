#include "manager.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "filter_persistence.h"
#include "filter_registry.h"
#include "mgr_ini.h"
#include "plugin_call.h"
#include "ctrl/tvk_ctrl.h"
#include "platform/quit_signals.h"

namespace {

constexpr const char* kSource = "tvkmgr";
constexpr const char* kIniName = "tvkmanager.ini";
constexpr const char* kPluginsSection = "Plugins";
// More entries than any set-up has plug-ins: those beyond are not loaded (the log says so) but stay in
// the file, so that a damaged or hostile list cannot hold the start for minutes.
constexpr size_t kMaxPluginEntries = 256;
// After a quit request the start goes on for this long at most (the boxes it raises answer at once);
// the plug-ins not loaded by then stay listed.
constexpr auto kQuitGrace = std::chrono::seconds(1);

// Guards the creation and destruction of the instance; never held while the manager runs code.
std::mutex g_instanceMutex;
std::atomic<Manager*> g_instance{nullptr};

// The manager goes with the library at the latest (the loader normally unloads it before that).
struct InstanceReaper {
    ~InstanceReaper() { Manager::destroy(); }
} g_reaper;

UiHooksProxy g_ui;

// The utilities library's entries, each replaced atomically (read for every message).
std::atomic<int (*)(TvkMsg*)> g_utilsMsgHandler{nullptr};
std::atomic<int (*)(const _IntFuncTable*)> g_setIntFuncTable{nullptr};
std::atomic<int (*)(int)> g_logShowWindow{nullptr};
std::atomic<int (*)(void)> g_managedItemsShowWindow{nullptr};

const void* codeAddress(auto fn)
{
    return reinterpret_cast<const void*>(fn);
}

// ---- callbacks of the device-control library and of frames ----

void fireFor(BuiltinEvent event, intptr_t arg)
{
    if (Manager* m = Manager::current())
        m->plugins().events().fire(event, arg);
}

void onAcqStart(int dev) { fireFor(BuiltinEvent::AcqStarted, dev); }
void onAcqCompl(int dev) { fireFor(BuiltinEvent::AcqCompleted, dev); }
void onDacsChanged(int dev) { fireFor(BuiltinEvent::DacsSet, dev); }
void onExtDacChanged(int dev) { fireFor(BuiltinEvent::ExtDacSet, dev); }
void onDevNew(int dev) { fireFor(BuiltinEvent::TvkDevNew, dev); }

void onInfoMsg(int dev)
{
    Manager* m = Manager::current();
    if (!m)
        return;
    int code = 0;
    const char* text = nullptr;
    if (getInfoMsg(dev, &code, &text) == 0)
        m->log().logMsg(kSource, "TvkCtrl message: %s (msg. type: %d).", 0, text ? text : "", code);
    m->plugins().events().fire(BuiltinEvent::InfoMsg, dev);
}

void onFrameCreated(TvkFrameInfo* frame)
{
    if (Manager* m = Manager::current())
        m->frames().store(frame, nullptr);
}

void onAddAttribs(TvkFrameInfo* frame)
{
    if (Manager* m = Manager::current())
        m->frames().addTemplateAttribs(frame);
}

void onPixCfgChanged(int dev)
{
    Manager* m = Manager::current();
    if (!m || !m->devicesReady())
        return;
    m->frames().refreshServiceFrames(static_cast<unsigned>(dev));
    m->plugins().events().fire(BuiltinEvent::PixCfg, dev);
}

void onDevChanged(int dev)
{
    Manager* m = Manager::current();
    if (!m)
        return;
    m->labels().refreshLabel(static_cast<unsigned>(dev));
    m->plugins().events().fire(BuiltinEvent::TvkDevChanged, dev);
}

void onFrameErrMsg(const char* text)
{
    if (Manager* m = Manager::current())
        m->log().logMsg(kSource, "%s", 0, text ? text : "");
}

void onFrameNoRef(uint32_t uid)
{
    Manager* m = Manager::current();
    if (!m)
        return;
    m->plugins().events().fire(BuiltinEvent::FrameDelete, static_cast<intptr_t>(uid));
    m->frames().remove(uid);
}

void onFrameDataChanged(uint32_t uid) { fireFor(BuiltinEvent::FrameDataChanged, static_cast<intptr_t>(uid)); }

void onFrameAttrChanged(_FrameAttribChange* change)
{
    fireFor(BuiltinEvent::FrameAttrChanged, reinterpret_cast<intptr_t>(change));
}

int deviceMenuInfo(unsigned devIndex, std::string& interfaceName, std::string& chipboardId)
{
    char interfaceText[64] = {};
    char boardText[64] = {};
    int chips = 0, rows = 0;
    const int rc = getTarvikInfo(devIndex, &chips, &rows, boardText, interfaceText);
    if (rc != 0)
        return rc;
    interfaceName = interfaceText;
    chipboardId = boardText;
    return 0;
}

} // namespace

// ---- user-interface hooks ----

MgrUiHooks& UiHooksProxy::target() const
{
    MgrUiHooks* hooks = target_.load();
    return hooks ? *hooks : headlessUiHooks();
}

int UiHooksProxy::addMenuItem(const char* itemName, const char* menuPath, int mgrItemId)
{
    return target().addMenuItem(itemName, menuPath, mgrItemId);
}

int UiHooksProxy::removeMenuItem(int mgrItemId)
{
    return target().removeMenuItem(mgrItemId);
}

int UiHooksProxy::renameSubMenu(const char* parentPath, const char* oldText, const char* newText)
{
    return target().renameSubMenu(parentPath, oldText, newText);
}

int UiHooksProxy::showMsgWindow(const char* title, const char* fmt, va_list args)
{
    return target().showMsgWindow(title, fmt, args);
}

MsgBoxAnswer UiHooksProxy::messageBox(const char* text, const char* caption, MsgBoxKind kind)
{
    return target().messageBox(text, caption, kind);
}

UiHooksProxy& Manager::ui()
{
    return g_ui;
}

void Manager::setUtilsEntries(const MgrUtilsEntries* entries)
{
    g_utilsMsgHandler.store(entries ? entries->utilsMsgHandler : nullptr);
    g_setIntFuncTable.store(entries ? entries->setIntFuncTable : nullptr);
    g_logShowWindow.store(entries ? entries->logShowWindow : nullptr);
    g_managedItemsShowWindow.store(entries ? entries->managedItemsShowWindow : nullptr);
}

MgrUtilsEntries Manager::utilsEntries()
{
    MgrUtilsEntries entries{};
    entries.size = sizeof entries;
    entries.utilsMsgHandler = g_utilsMsgHandler.load();
    entries.setIntFuncTable = g_setIntFuncTable.load();
    entries.logShowWindow = g_logShowWindow.load();
    entries.managedItemsShowWindow = g_managedItemsShowWindow.load();
    return entries;
}

// ---- the instance ----

Manager* Manager::current()
{
    return g_instance.load(std::memory_order_acquire);
}

Manager& Manager::get()
{
    if (Manager* m = current())
        return *m;
    std::lock_guard lock(g_instanceMutex);
    if (Manager* m = current())
        return *m;
    Manager* m = new Manager();
    g_instance.store(m, std::memory_order_release);
    m->installCallbacks(); // only now: a callback may arrive at once and finds the instance
    return *m;
}

void Manager::destroy()
{
    std::lock_guard lock(g_instanceMutex);
    Manager* m = current();
    if (!m)
        return;
    m->exit(); // no-op when the loader has already exited
    m->unloadAllPlugins();
    removeCallbacks();
    g_instance.store(nullptr, std::memory_order_release);
    delete m;
}

Manager::Manager()
    : log_(g_ui), plugins_(log_, g_ui), frames_(plugins_), labels_(plugins_, deviceMenuInfo)
{
    log_.logMsg(kSource, "TvkManager loaded...", 0);
}

Manager::~Manager()
{
    frames_.clear();
    log_.logMsg(kSource, "TvkManager unloaded...", 0);
}

void Manager::installCallbacks()
{
    setCbAcqStart(onAcqStart);
    setCbAcqCompl(onAcqCompl);
    setCbInfoMsg(onInfoMsg);
    setCbFrameCreated(onFrameCreated);
    setCbAddAttribs(onAddAttribs);
    setCbDacsChanged(onDacsChanged);
    setCbExtDacChanged(onExtDacChanged);
    setCbPixCfgChanged(onPixCfgChanged);
    setCbTvkDevNew(onDevNew);
    setCbTvkDevChanged(onDevChanged);
    TvkFrameInfo::cbErrMsg.store(onFrameErrMsg);
    TvkFrameInfo::cbNoRef.store(onFrameNoRef);
    TvkFrameInfo::cbDataChanged.store(onFrameDataChanged);
    TvkFrameInfo::cbAttrChanged.store(onFrameAttrChanged);
}

void Manager::removeCallbacks()
{
    setCbAcqStart(nullptr);
    setCbAcqCompl(nullptr);
    setCbInfoMsg(nullptr);
    setCbFrameCreated(nullptr);
    setCbAddAttribs(nullptr);
    setCbDacsChanged(nullptr);
    setCbExtDacChanged(nullptr);
    setCbPixCfgChanged(nullptr);
    setCbTvkDevNew(nullptr);
    setCbTvkDevChanged(nullptr);
    TvkFrameInfo::cbErrMsg.store(nullptr);
    TvkFrameInfo::cbNoRef.store(nullptr);
    TvkFrameInfo::cbDataChanged.store(nullptr);
    TvkFrameInfo::cbAttrChanged.store(nullptr);
}

// ---- start-up and shut-down ----

int Manager::buildPaths()
{
    const std::string self = plat::modulePathOf(codeAddress(&mgrInitManager));
    const size_t slash = self.rfind('/');
    if (self.empty() || slash == std::string::npos) {
        log_.logMsg(kSource, "Cannot read the path of the manager library.", MGRLOG_MSGBOX);
        return TVK_ERR_GENERIC;
    }
    baseFolder_ = self.substr(0, slash + 1);
    configsDir_ = baseFolder_ + "configs/";
    iniPath_ = baseFolder_ + kIniName;
    return 0;
}

int Manager::init()
{
    if (initRan_.exchange(true)) {
        log_.logMsg(kSource, "The manager was already started.", 0);
        return TVK_ERR_GENERIC;
    }
    if (buildPaths() != 0)
        return TVK_ERR_GENERIC;

    // Devices: results are ignored; a missing hardware library leaves the suite without devices.
    initTvkCtrl();
    unsigned dev = 0;
    int count = 0;
    for (int rc = getFirstTvk(&dev, &count); rc == 0; rc = getNextTvk(&dev)) {
        initTvkDevice(dev, nullptr);
        frames_.createServiceFrames(dev);
    }
    devicesReady_.store(true);

    loadListedPlugins();
    {
        // A plug-in that stayed in the list keeps its saved filter lines even when it did not load.
        std::lock_guard lock(m_);
        for (const std::string& entry : pluginList_)
            heldFilterLines_.listedPlugins.insert(toLowerAscii(std::filesystem::path(entry).stem().string()));
    }
    restoreFilterSections(plugins_, iniPath_, &heldFilterLines_);
    plugins_.events().fire(BuiltinEvent::Start, 0);
    started_.store(true);
    return 0;
}

void Manager::loadListedPlugins()
{
    std::vector<std::string> lines;
    std::string rest;
    std::string error;
    if (readIniSection(kPluginsSection, iniPath_, lines, &error, kMaxPluginEntries, &rest) < 0)
        log_.logMsg(kSource, "Section [%s] was not read: %s", 0, kPluginsSection, error.c_str());
    if (!rest.empty())
        log_.logMsg(kSource,
                    "Section [%s] lists %zu more plugins than the %zu that are loaded at most; they are not "
                    "loaded and stay in the file as they are.",
                    0, kPluginsSection, static_cast<size_t>(std::count(rest.begin(), rest.end(), '\n')),
                    kMaxPluginEntries);
    {
        std::lock_guard lock(m_);
        pluginList_ = std::move(lines);
        pluginListRest_ = std::move(rest);
    }
    // The list is walked without the lock: each plug-in's initialisation runs with no manager lock held.
    // A quit request (seen also before the event loop reads the signal) leaves the rest of the list
    // to a later start once the grace time is over.
    std::chrono::steady_clock::time_point quitSeen{};
    for (size_t i = 0;;) {
        std::string entry;
        size_t remaining = 0;
        {
            std::lock_guard lock(m_);
            if (exiting_.load() || i >= pluginList_.size())
                break;
            entry = pluginList_[i];
            remaining = pluginList_.size() - i;
        }
        if (plat::quitSignalArrived() || plat::quitRequested()) {
            const auto now = std::chrono::steady_clock::now();
            if (quitSeen == std::chrono::steady_clock::time_point{}) {
                quitSeen = now;
            } else if (now - quitSeen > kQuitGrace) {
                log_.logMsg(kSource, "The program is asked to end: %zu listed plugins are not loaded.", 0,
                            remaining);
                break;
            }
        }
        const std::string path = !entry.empty() && entry.front() == '/' ? entry : baseFolder_ + entry;
        if (loadPlugin(path) == 0) {
            ++i;
            continue;
        }
        const std::string question =
            "Error while loading plugin:\r" + path + "\rDo you want to remove it from ini file?";
        const MsgBoxAnswer answer = g_ui.messageBox(question.c_str(), "Error", MsgBoxKind::QuestionYesNo);
        std::lock_guard lock(m_);
        if (answer == MsgBoxAnswer::Yes && !exiting_.load() && i < pluginList_.size() && pluginList_[i] == entry)
            pluginList_.erase(pluginList_.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
}

int Manager::exit()
{
    if (exitRan_.exchange(true))
        return 0;
    if (started_.load()) {
        std::vector<std::string> lines;
        std::string rest;
        {
            std::lock_guard lock(m_);
            lines = pluginList_;
            rest = pluginListRest_;
        }
        std::string error;
        if (writeIniSection(iniPath_, kPluginsSection, lines, &error, rest) != 0)
            log_.logMsg(kSource, "Section [%s] was not written: %s", 0, kPluginsSection, error.c_str());
        saveFilterSections(plugins_, iniPath_, &heldFilterLines_);
    }
    exiting_.store(true);
    plugins_.events().fire(BuiltinEvent::Exit, 0);
    exitTvkCtrl();
    return 0;
}

// ---- plug-ins ----

int Manager::loadPlugin(const std::string& pathText, std::string* modulePathOut)
{
    // An absolute path, so that the loader never searches the library path for a plug-in.
    std::string path;
    std::string name;
    try {
        const std::filesystem::path absolute = std::filesystem::absolute(pathText).lexically_normal();
        path = absolute.string();
        name = toLowerAscii(absolute.stem().string());
    } catch (const std::exception&) {
        log_.logMsg(kSource, "Cannot open plugin %s.", MGRLOG_MSGBOX, pathText.c_str());
        return TVK_ERR_GENERIC;
    }
    if (plugins_.findPlugin(name)) {
        log_.logMsg(kSource, "Plugin %s is already loaded.", MGRLOG_MSGBOX, pathText.c_str());
        return TVK_ERR_GENERIC;
    }
    auto module = std::make_unique<plat::Module>();
    if (!module->open(path)) {
        log_.logMsg(kSource, "Cannot open plugin %s. System error: %s", MGRLOG_MSGBOX, pathText.c_str(),
                    module->error().c_str());
        return TVK_ERR_GENERIC;
    }
    auto entry = reinterpret_cast<InitTvkPluginFn>(module->symbol("InitTvkPlugin"));
    if (!entry)
        entry = reinterpret_cast<InitTvkPluginFn>(module->symbol("_InitTvkPlugin"));
    if (!entry) {
        log_.logMsg(kSource, "%s is not valid plugin.", MGRLOG_MSGBOX, pathText.c_str());
        return TVK_ERR_GENERIC;
    }
    const std::string modulePath = plat::modulePathOf(codeAddress(entry));

    // Registered before its entry runs, so that the initialisation can register under its name. The
    // registration is the check that counts: of two loads of one name, only one gets here. A module that
    // is loaded already under another file name (a link to it) is the same plug-in: its code must not be
    // started twice, nor dropped with the second name when that one fails or goes.
    {
        std::lock_guard lock(m_);
        const bool sameModule = std::any_of(loaded_.begin(), loaded_.end(), [&](const auto& entry) {
            return entry.second.module && entry.second.module->handle() == module->handle();
        });
        if (sameModule || plugins_.registerPlugin(name, module->handle()) != 0) {
            log_.logMsg(kSource, "Plugin %s is already loaded.", MGRLOG_MSGBOX, pathText.c_str());
            return TVK_ERR_GENERIC;
        }
        loaded_[name] = LoadedPlugin{std::move(module), modulePath};
    }
    const int rc = guardedPluginCall(log_, "InitTvkPlugin", TVK_ERR_GENERIC, [&] { return entry(&kMgrFuncTable); });
    if (rc != 0) {
        unloadPlugin(name);
        log_.logMsg(kSource, "Initialization of plugin %s failed.", MGRLOG_MSGBOX, pathText.c_str());
        return TVK_ERR_GENERIC;
    }
    log_.logMsg(kSource, "Plugin %s successfuly loaded.", 0, pathText.c_str());
    if (modulePathOut)
        *modulePathOut = modulePath;
    return 0;
}

void Manager::dropModuleCode(const std::string& modulePath, std::vector<std::shared_ptr<FunctionInfo>>& removed)
{
    if (modulePath.empty())
        return;
    const auto inModule = [&](const void* address) {
        return address && plat::modulePathOf(address) == modulePath;
    };

    // Event subscriptions, whoever owns the event.
    for (const auto& event : plugins_.events().items())
        for (EventCallback callback : event->subscribers())
            if (inModule(codeAddress(callback)))
                event->unsubscribe(callback);

    // Functions and filters (with their instance callbacks), whatever name they were registered under.
    for (const auto& function : plugins_.funcs().items()) {
        bool code = inModule(codeAddress(function->callback()));
        if (const FilterInfo* filter = function->asFilter()) {
            const _FilterInstCallbacks& cb = filter->callbacks();
            code = code || inModule(codeAddress(cb.create)) || inModule(codeAddress(cb.destroy)) ||
                   inModule(codeAddress(cb.set)) || inModule(codeAddress(cb.get));
        }
        if (code && plugins_.funcs().removeFuncItem(function->ownerName().c_str(), function->name().c_str()) == 0)
            removed.push_back(function);
    }
    for (const auto& item : plugins_.menus().items())
        if (inModule(codeAddress(item->callback())))
            plugins_.menus().removeMenuItem(item->id());
    for (const auto& templ : plugins_.frameAttribs().items())
        if (inModule(codeAddress(templ->callback())))
            plugins_.frameAttribs().removeTemplate(templ->name().c_str());

    // Message handlers.
    std::lock_guard lock(m_);
    auto list = std::make_shared<HandlerList>();
    for (const auto& handler : *handlers_) {
        if (inModule(codeAddress(handler->fn)))
            handler->active.store(false);
        else
            list->push_back(handler);
    }
    handlers_ = std::move(list);
}

void Manager::unloadPlugin(const std::string& name)
{
    LoadedPlugin plugin;
    {
        std::lock_guard lock(m_);
        const auto it = loaded_.find(name);
        if (it != loaded_.end()) {
            plugin = std::move(it->second);
            loaded_.erase(it);
        }
    }
    std::vector<std::shared_ptr<FunctionInfo>> functions;
    if (const auto info = plugins_.findPlugin(name))
        functions = info->functions();
    plugins_.removePlugin(name);
    dropModuleCode(plugin.modulePath, functions);
    // The instances of its filters go back to the plug-in while its code is still there.
    for (const auto& function : functions) {
        FilterInfo* filter = function->asFilter();
        if (!filter)
            continue;
        for (const auto& instance : filter->instances().items())
            FilterInstInfo::deleteWhenUnused(filter->instances().removeItem(instance.get()));
    }
    if (plugin.module)
        plugin.module->close();
}

void Manager::unloadAllPlugins()
{
    // Ascending id, as they were loaded; the pseudo plug-ins have no module.
    for (const auto& plugin : plugins_.items()) {
        if (!plugin->module())
            continue;
        std::string path;
        {
            std::lock_guard lock(m_);
            const auto it = loaded_.find(plugin->name());
            if (it != loaded_.end())
                path = it->second.module->path();
        }
        unloadPlugin(plugin->name());
        log_.logMsg(kSource, "Plugin %s unloaded.", 0, path.c_str());
    }
}

int Manager::addPlugin(const char* path)
{
    if (!path || !*path) {
        log_.logMsg(kSource, "Cannot open plugin %s.", MGRLOG_MSGBOX, "");
        return TVK_ERR_GENERIC;
    }
    std::string modulePath;
    if (loadPlugin(path, &modulePath) != 0)
        return TVK_ERR_GENERIC;

    // Recorded relative to the manager's folder when it lies below a common folder, else as it is.
    std::string entry;
    try {
        const std::filesystem::path absolute = std::filesystem::absolute(path).lexically_normal();
        const std::filesystem::path base = std::filesystem::path(baseFolder_).parent_path();
        const std::filesystem::path relative = base.empty() ? std::filesystem::path() : absolute.lexically_relative(base);
        entry = relative.empty() ? absolute.string() : relative.string();
    } catch (const std::exception&) {
        entry = path;
    }
    {
        std::lock_guard lock(m_);
        pluginList_.push_back(entry);
    }
    plugins_.events().fireToModule(plugins_.events().builtinId(BuiltinEvent::Start), modulePath);
    return 0;
}

// ---- message handlers ----

void Manager::addMsgHandler(TvkMsgHandler handler)
{
    if (!handler)
        return;
    std::lock_guard lock(m_);
    const auto address = reinterpret_cast<uintptr_t>(handler);
    const auto at = std::lower_bound(handlers_->begin(), handlers_->end(), address,
                                     [](const auto& h, uintptr_t a) { return reinterpret_cast<uintptr_t>(h->fn) < a; });
    if (at != handlers_->end() && (*at)->fn == handler)
        return;
    auto list = std::make_shared<HandlerList>(*handlers_);
    list->insert(list->begin() + (at - handlers_->begin()), std::make_shared<Handler>(handler));
    handlers_ = std::move(list);
}

void Manager::removeMsgHandler(TvkMsgHandler handler)
{
    std::lock_guard lock(m_);
    auto list = std::make_shared<HandlerList>();
    for (const auto& h : *handlers_) {
        if (h->fn == handler)
            h->active.store(false);
        else
            list->push_back(h);
    }
    handlers_ = std::move(list);
}

int Manager::messageHandler(TvkMsg* msg)
{
    if (auto utils = g_utilsMsgHandler.load()) {
        if (guardedPluginCall(log_, "utilsMsgHandler", 0, [&] { return utils(msg); }) != 0)
            return 1;
    }
    // The walk holds its own copy of the set: a handler may add or remove handlers; one removed
    // meanwhile is not asked any more.
    std::shared_ptr<const HandlerList> handlers;
    {
        std::lock_guard lock(m_);
        handlers = handlers_;
    }
    for (const auto& handler : *handlers) {
        if (!handler->active.load(std::memory_order_relaxed))
            continue;
        if (guardedPluginCall(log_, "a message handler", 0, [&] { return handler->fn(msg); }) != 0)
            return 1;
    }
    return 0;
}
