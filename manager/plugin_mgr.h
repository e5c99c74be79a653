// The plug-in registry and the registries it owns: functions, menu items, events, frame-attribute
// templates and filter chains. Plug-ins never link each other; they meet here.
//
// Locks, in the order in which they nest: the plug-in registry (PluginMgr), a plug-in's own lock, the
// item kind's registry (functions before chains), then the innermost ones (a filter's instances, an
// event's subscribers, the log). Plug-in code (registered functions, menu callbacks, event subscribers,
// filter and template callbacks) is called with none of them held: the item is kept alive by a
// reference while it runs, so that removing it meanwhile is safe.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "event_registry.h"
#include "filter_chains.h"
#include "filter_registry.h"
#include "frame_attrib_registry.h"
#include "function_registry.h"
#include "item_registry.h"
#include "menu_registry.h"
#include "mgr_log.h"
#include "mgr_ui_hooks.h"
#include "tvk_mgr_view.h"

// A loaded plug-in (or one of the pseudo plug-ins "tvkmgr" and "tvkctrl") with what it registered. The
// utilities library reads it through its first base, the view of tvk_mgr_view.h.
class PluginInfo : public MgrPluginView, public BaseInfo {
public:
    PluginInfo(std::string lowerName, void* module) : BaseInfo(std::move(lowerName), {}), module_(module) {}

    void* module() const { return module_; } // null for the pseudo plug-ins

    // What the plug-in registered, in registration order (copies taken under the plug-in's lock).
    std::vector<std::shared_ptr<FunctionInfo>> functions() const { return snapshot(functions_); }
    std::vector<std::shared_ptr<MenuItemInfo>> menuItems() const { return snapshot(menuItems_); }
    std::vector<std::shared_ptr<EventInfo>> events() const { return snapshot(events_); }
    std::vector<std::shared_ptr<FrameAttribInfo>> frameAttribs() const { return snapshot(frameAttribs_); }
    std::vector<std::shared_ptr<FilterChainInfo>> filterChains() const { return snapshot(filterChains_); }

    std::recursive_mutex& mutex() const { return m_; }

    // The view (copies taken as above).
    const std::string& pluginName() const override { return getName(); }
    std::vector<MgrFunctionView> functionViews() const override;
    std::vector<MgrMenuItemView> menuItemViews() const override;
    std::vector<MgrFrameAttribView> frameAttribViews() const override;
    std::vector<MgrEventView> eventViews() const override;
    std::vector<MgrChainView> chainViews() const override;

private:
    friend class PluginMgr;
    friend class FuncMgr;
    friend class MenuMgr;
    friend class EventMgr;
    friend class FrameAttribMgr;
    friend class FilterChainMgr;

    template <class T>
    std::vector<std::shared_ptr<T>> snapshot(const std::list<std::shared_ptr<T>>& list) const
    {
        std::lock_guard lock(m_);
        return {list.begin(), list.end()};
    }
    // Unlinks item from list (the caller holds m_); false when the list does not hold it.
    template <class T>
    static bool unlink(std::list<std::shared_ptr<T>>& list, const T* item)
    {
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->get() == item) {
                list.erase(it);
                return true;
            }
        }
        return false;
    }

    void* const module_;
    // Guards the five lists; kind registries and tray hooks may be called while held, never plug-in code.
    // Recursive without need: no call made while it is held takes it again (tray hooks only queue their
    // work); a plain mutex would do.
    mutable std::recursive_mutex m_;
    std::list<std::shared_ptr<FunctionInfo>> functions_;
    std::list<std::shared_ptr<MenuItemInfo>> menuItems_;
    std::list<std::shared_ptr<EventInfo>> events_;
    std::list<std::shared_ptr<FrameAttribInfo>> frameAttribs_;
    std::list<std::shared_ptr<FilterChainInfo>> filterChains_;
};

class PluginMgr : public ItemMgr<PluginInfo> {
public:
    // Registers the pseudo plug-ins "tvkmgr" (id 1) and "tvkctrl" (id 2) with their fourteen events.
    PluginMgr(Log& log, MgrUiHooks& ui);
    ~PluginMgr() override;

    // A new plug-in under its lower-cased name: 0, or -2 when that name is registered.
    int registerPlugin(std::string_view name, void* module, std::shared_ptr<PluginInfo>* out = nullptr);
    // By name, ignoring case.
    std::shared_ptr<PluginInfo> findPlugin(std::string_view name) const;
    // Takes a plug-in out of the registry together with everything it registered (functions with their
    // chain memberships and instances, menu items with their tray entries, events, templates, chains):
    // 0, or -300 when it is not registered.
    int removePlugin(std::string_view name);
    // Walk in ascending id: 0 found, 1 none / end.
    int getFirstPlugin(uint32_t* id, std::shared_ptr<PluginInfo>* out) const;
    int getNextPlugin(uint32_t* id, std::shared_ptr<PluginInfo>* out) const;

    FuncMgr& funcs() { return funcs_; }
    const FuncMgr& funcs() const { return funcs_; }
    MenuMgr& menus() { return menus_; }
    EventMgr& events() { return events_; }
    const EventMgr& events() const { return events_; }
    FrameAttribMgr& frameAttribs() { return frameAttribs_; }
    FilterChainMgr& chains() { return chains_; }
    const FilterChainMgr& chains() const { return chains_; }
    Log& log() const { return log_; }
    MgrUiHooks& ui() const { return ui_; }

    // The owner named by a record or an argument, or null after logging "Plugin %s is not registered.".
    std::shared_ptr<PluginInfo> ownerOrLog(std::string_view plugin) const;
    // Whether owner is still the registered plug-in of its name.
    bool isRegistered(const std::shared_ptr<PluginInfo>& owner) const;

    // The second half of every removal: the item, already out of its kind's registry, leaves its
    // owner's list. 0, or -300 (logged) when the owner is no longer registered.
    template <class T>
    int detachFromOwner(const std::shared_ptr<T>& item, std::list<std::shared_ptr<T>> PluginInfo::*list)
    {
        std::lock_guard lock(m_);
        const std::shared_ptr<PluginInfo> owner = item->owner();
        if (!isRegistered(owner)) {
            log_.logMsg("tvkmgr", "Plugin %s is not registered.", 0, item->ownerName().c_str());
            return MGR_ERR_NO_PLUGIN;
        }
        std::lock_guard ownerLock(owner->m_);
        PluginInfo::unlink(owner.get()->*list, item.get());
        return 0;
    }

private:
    Log& log_;
    MgrUiHooks& ui_;
    FuncMgr funcs_;
    MenuMgr menus_;
    EventMgr events_;
    FrameAttribMgr frameAttribs_;
    FilterChainMgr chains_;
};
