// Registered functions: what plug-ins offer each other by name, filters among them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "item_registry.h"
#include "tvk_mgr.h"

class PluginInfo;
class PluginMgr;
class FilterInfo;
class FilterInstInfo;
class Log;

// One parameter slot of a registered function.
struct ParamInfo {
    uint32_t type = 0; // _Data_Types
    int32_t count = 0; // -1 = variable
    std::string name;
};

class FunctionInfo : public BaseInfo {
public:
    // item has been checked (counts 0..8); ownerName is the owner's (lower-case) name.
    FunctionInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName, const _FuncItem& item,
                 void* userData);

    // Key: owner's name, ":", function name.
    const std::string& getName() const override { return key_; }

    std::shared_ptr<PluginInfo> owner() const { return owner_.lock(); }
    const std::string& ownerName() const { return ownerName_; }
    FuncItemCallback callback() const { return callback_; }
    void* userData() const { return userData_; }
    uint32_t flags() const { return flags_; }
    const std::vector<ParamInfo>& inputs() const { return inputs_; }
    const std::vector<ParamInfo>& outputs() const { return outputs_; }
    // Functions with flag 0x1 or 0x2 can stand in filter chains.
    bool isChainable() const { return flags_ & (FUNC_FILTER | FUNC_FILTER_INSTANCES); }
    virtual FilterInfo* asFilter() { return nullptr; }
    virtual const FilterInfo* asFilter() const { return nullptr; }

    // Fills a caller's record (names truncated and terminated at their field sizes).
    void fill(_FuncItem& out) const;

    // Runs the plug-in's callback; call it without registry locks held.
    int call(Log& log, const _FuncSlot* in, void* const* out) const;

private:
    std::weak_ptr<PluginInfo> owner_;
    const std::string ownerName_;
    const std::string key_;
    const FuncItemCallback callback_;
    void* const userData_;
    const uint32_t flags_;
    std::vector<ParamInfo> inputs_;
    std::vector<ParamInfo> outputs_;
};

// The function registry, which also numbers filter instances and knows the filter of each.
class FuncMgr : public ItemMgr<FunctionInfo> {
public:
    explicit FuncMgr(PluginMgr& plugins) : plugins_(plugins) {}

    // Registration from a plug-in's record: 0 (the new id written into item->id), -2 a malformed record,
    // -300 owner not registered, -301 already registered.
    int addFuncItem(_FuncItem* item);
    // 0, -302 not registered by that plug-in, -300 owner no longer registered.
    int removeFuncItem(const char* plugin, const char* funcName);
    // 0, or -3 when absent.
    int getFuncItem(const char* plugin, const char* funcName, _FuncItem* out) const;
    int getFuncItemById(uint32_t id, _FuncItem* out) const;
    // Calls the function without any registry lock held: 0 and *result = the callback's result, or -3.
    int callFuncItem(const char* plugin, const char* funcName, const _FuncSlot* in, void* const* out, int* result);
    // Walk in ascending id: 0 found (record filled, *id updated), 1 none / end (record untouched).
    int getFirstFunc(uint32_t* id, _FuncItem* out) const;
    int getNextFunc(uint32_t* id, _FuncItem* out) const;

    std::shared_ptr<FunctionInfo> findFunction(std::string_view plugin, std::string_view funcName) const;

    // ---- filter instances ----
    // 0 and *outInstId; -3 unknown function; -1 not a filter with instances, a name that cannot be stored
    // in the ini file (line breaks, '|') or the plug-in's create failed; -311 name already used.
    int createFilterInst(uint32_t funcId, const char* name, uint32_t* outInstId);
    // Takes the instance out of every chain and deletes it: the plug-in's delete result, -3 unknown id.
    int deleteFilterInst(uint32_t instId);
    // Instances of one filter in ascending id: 0 found, 1 none / end or not a filter with instances,
    // -3 unknown function. name: 32 characters, truncated and terminated.
    int getFirstFilterInst(uint32_t funcId, uint32_t* instId, char* name) const;
    int getNextFilterInst(uint32_t funcId, uint32_t* instId, char* name) const;
    // An id of 100000000 or more names an instance, a smaller one a filter's default instance: the
    // plug-in's result, or -3 when there is no such instance.
    int setFilterPar(uint32_t id, int parIndex, const void* data, uint32_t size);
    int getFilterPar(uint32_t id, int parIndex, _FilterParDesc* desc, uint32_t* size);

    // A filter instance and its filter, kept alive by the holder.
    struct InstanceRef {
        std::shared_ptr<FilterInfo> filter;
        std::shared_ptr<FilterInstInfo> instance;
        uint32_t instanceId = 0;
    };
    // Resolves an instance id, or a function id to its default instance: 0 or -3.
    int resolveInstance(uint32_t id, InstanceRef& ref) const;
    std::shared_ptr<FilterInfo> filterOfInstance(uint32_t instId) const;
    // A new instance of filter under the next instance id (parameters copied from the default instance).
    int createInstanceWithNextId(const std::shared_ptr<FilterInfo>& filter, const std::string& name,
                                 uint32_t* outInstId);
    uint32_t nextInstanceId() const;

private:
    // Takes a function that left the registry out of every chain and forgets its instance ids.
    void detachFunction(const FunctionInfo& function);
    friend class PluginMgr;

    PluginMgr& plugins_;
    uint32_t nextInstanceId_ = FILTER_INSTANCE_ID_FIRST;             // guarded by m_
    std::map<uint32_t, std::shared_ptr<FilterInfo>> instanceOwners_; // guarded by m_
};
