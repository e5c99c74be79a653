#include "plugin_mgr.h"

PluginMgr::PluginMgr(Log& log, MgrUiHooks& ui)
    : log_(log), ui_(ui), funcs_(*this), menus_(*this), events_(*this), frameAttribs_(*this), chains_(*this)
{
    events_.registerBuiltins();
}

PluginMgr::~PluginMgr() = default;

int PluginMgr::registerPlugin(std::string_view name, void* module, std::shared_ptr<PluginInfo>* out)
{
    auto plugin = std::make_shared<PluginInfo>(toLowerAscii(name), module);
    const int result = add(plugin);
    if (result == 0 && out)
        *out = std::move(plugin);
    return result;
}

std::shared_ptr<PluginInfo> PluginMgr::findPlugin(std::string_view name) const
{
    return find(toLowerAscii(name));
}

std::shared_ptr<PluginInfo> PluginMgr::ownerOrLog(std::string_view plugin) const
{
    auto owner = findPlugin(plugin);
    if (!owner)
        log_.logMsg("tvkmgr", "Plugin %s is not registered.", 0, std::string(plugin).c_str());
    return owner;
}

bool PluginMgr::isRegistered(const std::shared_ptr<PluginInfo>& owner) const
{
    return owner && findPlugin(owner->name()) == owner;
}

int PluginMgr::removePlugin(std::string_view name)
{
    std::lock_guard lock(m_);
    const std::shared_ptr<PluginInfo> plugin = removeByName(toLowerAscii(name));
    if (!plugin) {
        log_.logMsg("tvkmgr", "Plugin %s is not registered.", 0, std::string(name).c_str());
        return MGR_ERR_NO_PLUGIN;
    }
    std::lock_guard pluginLock(plugin->m_);
    for (const auto& function : plugin->functions_) {
        funcs_.removeItem(function.get());
        funcs_.detachFunction(*function);
    }
    for (const auto& item : plugin->menuItems_) {
        if (menus_.removeItem(item.get()))
            ui_.removeMenuItem(static_cast<int>(item->id()));
    }
    for (const auto& event : plugin->events_) {
        events_.removeItem(event.get());
        event->dropSubscribers();
    }
    for (const auto& templ : plugin->frameAttribs_)
        frameAttribs_.removeItem(templ.get());
    for (const auto& chain : plugin->filterChains_)
        chains_.removeItem(chain.get());
    plugin->functions_.clear();
    plugin->menuItems_.clear();
    plugin->events_.clear();
    plugin->frameAttribs_.clear();
    plugin->filterChains_.clear();
    return 0;
}

int PluginMgr::getFirstPlugin(uint32_t* id, std::shared_ptr<PluginInfo>* out) const
{
    auto plugin = first();
    if (!plugin)
        return 1;
    if (id)
        *id = plugin->id();
    if (out)
        *out = std::move(plugin);
    return 0;
}

int PluginMgr::getNextPlugin(uint32_t* id, std::shared_ptr<PluginInfo>* out) const
{
    if (!id)
        return 1;
    auto plugin = next(*id);
    if (!plugin)
        return 1;
    *id = plugin->id();
    if (out)
        *out = std::move(plugin);
    return 0;
}

// ---- the view read by the utilities library ----

namespace {

std::vector<MgrParamView> paramViews(const std::vector<ParamInfo>& params)
{
    std::vector<MgrParamView> views;
    views.reserve(params.size());
    for (const ParamInfo& p : params)
        views.push_back({p.type, p.count, p.name});
    return views;
}

} // namespace

std::vector<MgrFunctionView> PluginInfo::functionViews() const
{
    std::vector<MgrFunctionView> views;
    for (const auto& f : functions())
        views.push_back({f->name(), f->description(), paramViews(f->inputs()), paramViews(f->outputs()),
                         f->callback()});
    return views;
}

std::vector<MgrMenuItemView> PluginInfo::menuItemViews() const
{
    std::vector<MgrMenuItemView> views;
    for (const auto& m : menuItems())
        views.push_back({m->name(), m->menuPath(), m->id(), m->flags(), m->callback(), m->userData()});
    return views;
}

std::vector<MgrFrameAttribView> PluginInfo::frameAttribViews() const
{
    std::vector<MgrFrameAttribView> views;
    for (const auto& a : frameAttribs())
        views.push_back({a->name(), a->description(), a->type(), a->hint(), a->callback()});
    return views;
}

std::vector<MgrEventView> PluginInfo::eventViews() const
{
    std::vector<MgrEventView> views;
    for (const auto& e : events())
        views.push_back({e->name(), e->description(), e->subscribers()}); // subscribers under the event's lock
    return views;
}

std::vector<MgrChainView> PluginInfo::chainViews() const
{
    std::vector<MgrChainView> views;
    for (const auto& c : filterChains())
        views.push_back({c->name(), c->id()});
    return views;
}
