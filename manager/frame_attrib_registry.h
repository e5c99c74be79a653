// Frame-attribute templates: attributes whose values plug-ins supply for every acquired frame.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "item_registry.h"
#include "tvk_mgr.h"

class PluginInfo;
class PluginMgr;
class Log;

class FrameAttribInfo : public BaseInfo {
public:
    FrameAttribInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName, std::string name,
                    std::string description, uint32_t type, uint32_t hint, FrameAttribCallback callback)
        : BaseInfo(std::move(name), std::move(description)), owner_(owner), ownerName_(ownerName), type_(type),
          hint_(hint), callback_(callback)
    {}

    std::shared_ptr<PluginInfo> owner() const { return owner_.lock(); }
    const std::string& ownerName() const { return ownerName_; }
    uint32_t type() const { return type_; }
    uint32_t hint() const { return hint_; }
    FrameAttribCallback callback() const { return callback_; }

    // Asks the plug-in for the value (0 = success); no registry lock may be held.
    int value(Log& log, void* buffer, uint32_t* size) const;

private:
    std::weak_ptr<PluginInfo> owner_;
    const std::string ownerName_;
    const uint32_t type_;
    const uint32_t hint_;
    const FrameAttribCallback callback_;
};

class FrameAttribMgr : public ItemMgr<FrameAttribInfo> {
public:
    explicit FrameAttribMgr(PluginMgr& plugins) : plugins_(plugins) {}

    // 0; -2 a malformed record; -300 owner not registered; -307 attribute name already templated.
    int addTemplate(const _FrameAttribTempl* templ);
    // 0; -308 not registered; -300 owner no longer registered.
    int removeTemplate(const char* attribName);

private:
    friend class PluginMgr;
    PluginMgr& plugins_;
};
