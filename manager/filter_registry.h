// Filters with instances: named sets of parameter values that the plug-in keeps, reached through the
// four callbacks of its _FilterInstCallbacks record.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "function_registry.h"

class FilterInstInfo : public BaseInfo {
public:
    FilterInstInfo(Log& log, std::string name, void* handle, FilterDeleteCallback destroy, void* deleteContext)
        : BaseInfo(std::move(name), {}), log_(log), handle_(handle), destroy_(destroy), deleteContext_(deleteContext)
    {}
    // Runs the plug-in's delete when the instance was deleted while someone still used it.
    ~FilterInstInfo() override;

    void* handle() const { return handle_; }

    // Deletes the instance: at once when the caller holds the last reference (the plug-in's result),
    // else when the last holder lets go (0). No registry lock may be held.
    static int deleteWhenUnused(std::shared_ptr<FilterInstInfo> instance);

private:
    int callDelete();

    Log& log_;
    void* const handle_;
    const FilterDeleteCallback destroy_;
    void* const deleteContext_;
    std::atomic<bool> deletePending_{false};
};

class FilterInfo : public FunctionInfo {
public:
    // callbacks: the plug-in's record, checked (no null callback).
    FilterInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName, const _FuncItem& item,
               const _FilterInstCallbacks& callbacks);

    FilterInfo* asFilter() override { return this; }
    const FilterInfo* asFilter() const override { return this; }
    const _FilterInstCallbacks& callbacks() const { return callbacks_; }
    ItemMgr<FilterInstInfo>& instances() { return instances_; }
    const ItemMgr<FilterInstInfo>& instances() const { return instances_; }
    std::shared_ptr<FilterInstInfo> defaultInstance() const { return instances_.findById(FILTER_DEFAULT_INSTANCE_ID); }

    // Makes a plug-in instance and stores it under id: 0, -311 name (or id) taken, -1 the plug-in's
    // create failed. For an id other than 1 the default instance's parameters are copied into it.
    // Calls plug-in code: no registry lock may be held.
    int createInstance(Log& log, const std::string& name, uint32_t id, std::shared_ptr<FilterInstInfo>* out = nullptr);

    // ---- the plug-in's callbacks, each guarded against exceptions ----
    // Number of parameters: get(getContext, null, -1, null, &count); 0 or the plug-in's code.
    int parameterCount(Log& log, uint32_t* count) const;
    // One parameter's description and, when value is not null, its value. value grows to the size
    // the plug-in asks for (at most kMaxValueSize); size gets the value's bytes. 0 or a non-zero failure.
    int getParameter(Log& log, void* instance, int index, _FilterParDesc& desc, std::vector<unsigned char>* value,
                     uint32_t& size) const;
    int setParameter(Log& log, void* instance, int index, const void* data, uint32_t size) const;
    int getRaw(Log& log, void* instance, int index, _FilterParDesc* desc, uint32_t* size) const;

    static constexpr uint32_t kMaxValueSize = 64u << 20;

private:
    void copyDefaultParameters(Log& log, void* to) const;

    const _FilterInstCallbacks callbacks_;
    ItemMgr<FilterInstInfo> instances_;
};
