#include "menu_registry.h"

#include <cstdio>

#include "plugin_call.h"
#include "plugin_mgr.h"

int MenuMgr::addMenuItem(const char* plugin, const char* itemText, const char* menuPath, MenuItemCallback callback,
                         void* userData, int* outId, int flags)
{
    Log& log = plugins_.log();
    const std::string pluginText = plugin ? plugin : "";
    if (!itemText || !callback) {
        log.logMsg("tvkmgr", "Menu item %s of plugin %s is refused: it has no %s.", 0, itemText ? itemText : "",
                   pluginText.c_str(), itemText ? "callback" : "text");
        return TVK_ERR_PARAM;
    }
    std::lock_guard pluginsLock(plugins_.mutex());
    const std::shared_ptr<PluginInfo> owner = plugins_.ownerOrLog(pluginText);
    if (!owner)
        return MGR_ERR_NO_PLUGIN;
    std::lock_guard ownerLock(owner->m_);
    auto item = std::make_shared<MenuItemInfo>(owner, owner->name(), itemText, menuPath ? menuPath : "", callback,
                                               userData, flags);
    const int added = add(item);
    if (added == REG_ERR_DUPLICATE) {
        log.logMsg("tvkmgr", "Menu item %s is already registered, plugin %s cannot register it.", 0,
                   item->getName().c_str(), pluginText.c_str());
        return MGR_ERR_FUNC_EXISTS;
    }
    if (added != 0)
        return added;
    owner->menuItems_.push_back(item);
    plugins_.ui().addMenuItem(item->name().c_str(), item->menuPath().c_str(), static_cast<int>(item->id()));
    if (outId)
        *outId = static_cast<int>(item->id());
    return 0;
}

int MenuMgr::removeMenuItem(uint32_t id)
{
    const std::shared_ptr<MenuItemInfo> item = removeById(id);
    if (!item) {
        plugins_.log().logMsg("tvkmgr", "Menu item with ID = %u does not exist.", 0, id);
        return MGR_ERR_NO_MENU_ITEM;
    }
    std::lock_guard pluginsLock(plugins_.mutex());
    plugins_.ui().removeMenuItem(static_cast<int>(id));
    return plugins_.detachFromOwner(item, &PluginInfo::menuItems_);
}

int MenuMgr::call(const std::shared_ptr<MenuItemInfo>& item)
{
    guardedPluginCall(plugins_.log(), item->getName().c_str(), 0, [&] { item->callback()(item->userData()); });
    return 0;
}

int MenuMgr::callMenuItemById(uint32_t id)
{
    const auto item = findById(id);
    return item ? call(item) : REG_ERR_NOT_FOUND;
}

int MenuMgr::callMenuItemByName(const char* fullName)
{
    const auto item = find(fullName ? fullName : "");
    return item ? call(item) : REG_ERR_NOT_FOUND;
}

int MenuMgr::getFirstMenuItem(uint32_t* id, char* name) const
{
    const auto item = first();
    if (!item)
        return 1;
    if (id)
        *id = item->id();
    copyText(name, MGR_MENU_NAME_SIZE, item->getName());
    return 0;
}

int MenuMgr::getNextMenuItem(uint32_t* id, char* name) const
{
    if (!id)
        return 1;
    const auto item = next(*id);
    if (!item)
        return 1;
    *id = item->id();
    copyText(name, MGR_MENU_NAME_SIZE, item->getName());
    return 0;
}

// ---- device sub-menus ----

int DeviceMenuLabels::label(unsigned devIndex, std::string& text)
{
    std::string interfaceName, chipboardId;
    if (!source_ || source_(devIndex, interfaceName, chipboardId) != 0)
        return TVK_ERR_GENERIC;
    char buf[MGR_MENU_NAME_SIZE];
    std::snprintf(buf, sizeof buf, "%u - %s %s", devIndex, interfaceName.c_str(), chipboardId.c_str());
    text = buf;
    return 0;
}

int DeviceMenuLabels::addTvkMenuItem(unsigned devIndex, const char* plugin, const char* itemText, const char* subPath,
                                     MenuItemCallback callback, void* userData, int* outId, int flags)
{
    std::lock_guard lock(m_);
    std::string text;
    if (label(devIndex, text) != 0)
        return TVK_ERR_GENERIC;
    labels_.try_emplace(devIndex, text);
    const std::string path = subPath && *subPath ? text + "|" + subPath : text;
    return plugins_.menus().addMenuItem(plugin, itemText, path.c_str(), callback, userData, outId, flags);
}

int DeviceMenuLabels::getTvkMenuPath(unsigned devIndex, char* buf)
{
    std::lock_guard lock(m_);
    std::string text;
    if (label(devIndex, text) != 0)
        return TVK_ERR_GENERIC;
    copyText(buf, MGR_MENU_NAME_SIZE, text);
    return 0;
}

int DeviceMenuLabels::refreshLabel(unsigned devIndex)
{
    std::lock_guard lock(m_);
    const auto it = labels_.find(devIndex);
    std::string text;
    if (it == labels_.end() || label(devIndex, text) != 0)
        return TVK_ERR_GENERIC;
    if (text == it->second)
        return 0;
    if (plugins_.ui().renameSubMenu(nullptr, it->second.c_str(), text.c_str()) != 0)
        return TVK_ERR_GENERIC;
    it->second = text;
    return 0;
}
