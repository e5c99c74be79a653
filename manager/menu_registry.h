// Tray-menu items that plug-ins register, and the per-device sub-menu labels.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "item_registry.h"
#include "tvk_mgr.h"

class PluginInfo;
class PluginMgr;
class Log;

class MenuItemInfo : public BaseInfo {
public:
    MenuItemInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName, std::string itemText,
                 std::string menuPath, MenuItemCallback callback, void* userData, int32_t flags)
        : BaseInfo(std::move(itemText), {}), owner_(owner), ownerName_(ownerName), menuPath_(std::move(menuPath)),
          key_(menuPath_ + "|" + name()), callback_(callback), userData_(userData), flags_(flags)
    {}

    // Key: menu path, "|", item text.
    const std::string& getName() const override { return key_; }

    std::shared_ptr<PluginInfo> owner() const { return owner_.lock(); }
    const std::string& ownerName() const { return ownerName_; }
    const std::string& menuPath() const { return menuPath_; }
    MenuItemCallback callback() const { return callback_; }
    void* userData() const { return userData_; }
    int32_t flags() const { return flags_; } // kept and handed back, not interpreted

private:
    std::weak_ptr<PluginInfo> owner_;
    const std::string ownerName_;
    const std::string menuPath_;
    const std::string key_;
    const MenuItemCallback callback_;
    void* const userData_;
    const int32_t flags_;
};

class MenuMgr : public ItemMgr<MenuItemInfo> {
public:
    explicit MenuMgr(PluginMgr& plugins) : plugins_(plugins) {}

    // 0 (id through outId when not null); -2 missing text or callback; -300 owner not registered;
    // -301 the same path and text are registered.
    int addMenuItem(const char* plugin, const char* itemText, const char* menuPath, MenuItemCallback callback,
                    void* userData, int* outId, int flags);
    // 0; -304 no such item; -300 owner no longer registered.
    int removeMenuItem(uint32_t id);
    // Calls the item's callback without registry locks held: 0, or -3 when absent.
    int callMenuItemById(uint32_t id);
    int callMenuItemByName(const char* fullName);
    // Walk in ascending id; name (256 characters) gets the item's full name, path "|" text.
    int getFirstMenuItem(uint32_t* id, char* name) const;
    int getNextMenuItem(uint32_t* id, char* name) const;

private:
    int call(const std::shared_ptr<MenuItemInfo>& item);
    friend class PluginMgr;

    PluginMgr& plugins_;
};

// The label of each device's tray sub-menu, "%u - %s %s" (device index, interface name, chip-board id).
class DeviceMenuLabels {
public:
    // Reads a device's interface name and chip-board id: 0, or non-zero for an unknown device.
    using DeviceInfoSource =
        std::function<int(unsigned devIndex, std::string& interfaceName, std::string& chipboardId)>;

    DeviceMenuLabels(PluginMgr& plugins, DeviceInfoSource source) : plugins_(plugins), source_(std::move(source)) {}

    // A menu item under the device's sub-menu (subPath below it when not empty): the result of the
    // menu registration, or -1 for an unknown device.
    int addTvkMenuItem(unsigned devIndex, const char* plugin, const char* itemText, const char* subPath,
                       MenuItemCallback callback, void* userData, int* outId, int flags);
    // The device's label into buf (256 characters): 0, or -1 for an unknown device.
    int getTvkMenuPath(unsigned devIndex, char* buf);
    // After a device changed: renames its sub-menu when its label changed. 0, or -1 when the device has
    // no sub-menu yet, is unknown, or the rename failed.
    int refreshLabel(unsigned devIndex);

private:
    int label(unsigned devIndex, std::string& text);

    PluginMgr& plugins_;
    DeviceInfoSource source_;
    // Guards labels_; registrations and the tray rename run while held (taken before registry locks).
    // Recursive: a label is read from the device-control library, whose messages fire "InfoMsg" to plug-ins
    // in this thread while it is held, and a subscriber may ask for a device menu again.
    std::recursive_mutex m_;
    std::map<unsigned, std::string> labels_;
};
