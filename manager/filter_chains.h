// Filter chains: ordered lists of filters that the manager applies to a copy of a frame.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "item_registry.h"
#include "tvk_mgr.h"

class PluginInfo;
class PluginMgr;
class FunctionInfo;
class FilterInstInfo;

// One member: a filter and, for a filter with instances, the instance it runs with.
struct ChainMember {
    std::shared_ptr<FunctionInfo> filter;
    uint32_t instanceId = 0;                  // 0: a filter without instances; 1: the default instance
    std::shared_ptr<FilterInstInfo> instance; // null when there is none
};

class FilterChainInfo : public BaseInfo {
public:
    FilterChainInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName, std::string name)
        : BaseInfo(std::move(name), {}), owner_(owner), ownerName_(ownerName), key_(ownerName + ":" + this->name())
    {}

    // Key: owner's name, ":", chain name.
    const std::string& getName() const override { return key_; }
    std::shared_ptr<PluginInfo> owner() const { return owner_.lock(); }
    const std::string& ownerName() const { return ownerName_; }

private:
    friend class FilterChainMgr;
    std::weak_ptr<PluginInfo> owner_;
    const std::string ownerName_;
    const std::string key_;
    std::vector<ChainMember> members_; // guarded by the chain registry's lock
};

class FilterChainMgr : public ItemMgr<FilterChainInfo> {
public:
    explicit FilterChainMgr(PluginMgr& plugins) : plugins_(plugins) {}

    // 0 and *outId; -2 a name that cannot be stored in the ini file; -300 owner not registered;
    // -309 the plug-in has a chain of that name.
    int createChain(const char* plugin, const char* chainName, uint32_t* outId);
    // 0; -310 not registered; -300 owner no longer registered.
    int removeChain(uint32_t chainId);
    // Adds a filter (function id: its default instance for a filter with instances) or an instance (id
    // of 100000000 or more) before the member at position, or at the end when position, taken as
    // unsigned, is not below the member count. 0; -302 unknown id; -310 unknown chain.
    int addToChain(uint32_t chainId, uint32_t filterOrInstanceId, int position);
    // 0; -2 index not below the member count; -310 unknown chain.
    int removeFromChain(uint32_t chainId, int index);
    // 0; -310 unknown chain (logged).
    int getChainInfo(uint32_t chainId, _FilterChainDesc* out) const;
    // Walk in ascending id: 0 found, 1 none / end.
    int getFirstChain(uint32_t* id, _FilterChainDesc* out) const;
    int getNextChain(uint32_t* id, _FilterChainDesc* out) const;

    // Each member's function key, ":" and the instance name for a filter with instances, then "|".
    std::string chainText(uint32_t chainId) const;
    std::vector<ChainMember> members(uint32_t chainId) const;
    // Runs every member filter on the frame, in order, without registry locks: 0; -3 unknown chain;
    // -208 a filter failed (the members before it have run).
    int applyToFrame(uint32_t chainId, uint32_t frameId);

    void removeFilterFromAll(const FunctionInfo* filter);
    void removeInstanceFromAll(uint32_t instanceId);

private:
    std::string chainTextLocked(const FilterChainInfo& chain) const;
    void fill(const FilterChainInfo& chain, _FilterChainDesc& out) const;
    friend class PluginMgr;

    PluginMgr& plugins_;
};
