#include "function_registry.h"

#include "plugin_call.h"
#include "plugin_mgr.h"

namespace {

std::vector<ParamInfo> params(const _FuncParam* slots, uint32_t count)
{
    std::vector<ParamInfo> result(count);
    for (uint32_t i = 0; i < count; ++i)
        result[i] = {slots[i].type, slots[i].count, fieldText(slots[i].name)};
    return result;
}

void fillParams(_FuncParam* slots, const std::vector<ParamInfo>& params)
{
    for (size_t i = 0; i < params.size() && i < FUNC_MAX_PARAMS; ++i) {
        slots[i].type = params[i].type;
        slots[i].count = params[i].count;
        copyText(slots[i].name, params[i].name);
    }
}

std::string functionKey(std::string_view plugin, std::string_view funcName)
{
    return toLowerAscii(plugin) + ":" + std::string(funcName);
}

// The filter behind a function, sharing its ownership; null for a plain function.
std::shared_ptr<FilterInfo> asFilter(const std::shared_ptr<FunctionInfo>& function)
{
    FilterInfo* filter = function ? function->asFilter() : nullptr;
    return filter ? std::shared_ptr<FilterInfo>(function, filter) : nullptr;
}

// Instance names end up in ini lines and chain texts: no line breaks, no '|'.
bool storableInstanceName(std::string_view name)
{
    return name.find_first_of("\r\n|") == std::string_view::npos;
}

} // namespace

// ---- FunctionInfo ----

FunctionInfo::FunctionInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName,
                           const _FuncItem& item, void* userData)
    : BaseInfo(fieldText(item.function), fieldText(item.description)), owner_(owner), ownerName_(ownerName),
      key_(ownerName + ":" + name()), callback_(item.callback), userData_(userData), flags_(item.flags),
      inputs_(params(item.in, item.inCount)), outputs_(params(item.out, item.outCount))
{}

void FunctionInfo::fill(_FuncItem& out) const
{
    out = _FuncItem{};
    out.callback = callback_;
    out.inCount = static_cast<uint32_t>(inputs_.size());
    out.outCount = static_cast<uint32_t>(outputs_.size());
    fillParams(out.in, inputs_);
    fillParams(out.out, outputs_);
    copyText(out.plugin, ownerName_);
    copyText(out.function, name());
    copyText(out.description, description());
    out.userData = userData_;
    out.flags = flags_;
    out.id = static_cast<int32_t>(id());
}

int FunctionInfo::call(Log& log, const _FuncSlot* in, void* const* out) const
{
    return guardedPluginCall(log, key_.c_str(), TVK_ERR_GENERIC, [&] { return callback_(userData_, in, out); });
}

// ---- FuncMgr: functions ----

int FuncMgr::addFuncItem(_FuncItem* item)
{
    Log& log = plugins_.log();
    if (!item)
        return TVK_ERR_PARAM;
    const std::string pluginText = fieldText(item->plugin);
    const std::string funcName = fieldText(item->function);
    if (item->inCount > FUNC_MAX_PARAMS || item->outCount > FUNC_MAX_PARAMS) {
        log.logMsg("tvkmgr", "Function %s of plugin %s is refused: %u inputs and %u outputs (at most 8 each).", 0,
                   funcName.c_str(), pluginText.c_str(), item->inCount, item->outCount);
        return TVK_ERR_PARAM;
    }
    if (!item->callback) {
        log.logMsg("tvkmgr", "Function %s of plugin %s is refused: it has no callback.", 0, funcName.c_str(),
                   pluginText.c_str());
        return TVK_ERR_PARAM;
    }
    _FilterInstCallbacks callbacks{};
    const bool withInstances = item->flags & FUNC_FILTER_INSTANCES;
    if (withInstances) {
        if (item->userData)
            callbacks = *static_cast<const _FilterInstCallbacks*>(item->userData);
        if (!callbacks.create || !callbacks.destroy || !callbacks.set || !callbacks.get) {
            log.logMsg("tvkmgr", "Filter %s of plugin %s is refused: its instance callbacks are missing.", 0,
                       funcName.c_str(), pluginText.c_str());
            return TVK_ERR_PARAM;
        }
    }

    const std::shared_ptr<PluginInfo> owner = plugins_.ownerOrLog(pluginText);
    if (!owner)
        return MGR_ERR_NO_PLUGIN;
    std::shared_ptr<FunctionInfo> function;
    std::shared_ptr<FilterInfo> filter;
    if (withInstances) {
        filter = std::make_shared<FilterInfo>(owner, owner->name(), *item, callbacks);
        // The default instance runs plug-in code, so it is made before any registry lock is taken; when
        // the plug-in's create fails the filter simply has no default instance.
        filter->createInstance(log, FILTER_DEFAULT_INSTANCE_NAME, FILTER_DEFAULT_INSTANCE_ID);
        function = filter;
    } else {
        function = std::make_shared<FunctionInfo>(owner, owner->name(), *item, item->userData);
    }

    int result = 0;
    {
        std::lock_guard pluginsLock(plugins_.mutex());
        if (!plugins_.isRegistered(owner)) {
            log.logMsg("tvkmgr", "Plugin %s is not registered.", 0, pluginText.c_str());
            result = MGR_ERR_NO_PLUGIN;
        } else {
            std::lock_guard ownerLock(owner->m_);
            result = add(function);
            if (result == REG_ERR_DUPLICATE) {
                log.logMsg("tvkmgr", "Function %s is already registered by plugin %s.", 0, funcName.c_str(),
                           pluginText.c_str());
                result = MGR_ERR_FUNC_EXISTS;
            } else if (result == 0) {
                item->id = static_cast<int32_t>(function->id());
                owner->functions_.push_back(function);
            }
        }
    }
    // A refused filter gives its default instance back to the plug-in.
    if (result != 0 && filter)
        FilterInstInfo::deleteWhenUnused(filter->instances().removeById(FILTER_DEFAULT_INSTANCE_ID));
    return result;
}

int FuncMgr::removeFuncItem(const char* plugin, const char* funcName)
{
    const std::string pluginText = plugin ? plugin : "";
    const std::string name = funcName ? funcName : "";
    const std::shared_ptr<FunctionInfo> function = removeByName(functionKey(pluginText, name));
    if (!function) {
        plugins_.log().logMsg("tvkmgr", "Function %s is is not registered by plugin %s.", 0, name.c_str(),
                              pluginText.c_str());
        return MGR_ERR_NO_FUNC;
    }
    std::lock_guard pluginsLock(plugins_.mutex());
    detachFunction(*function);
    return plugins_.detachFromOwner(function, &PluginInfo::functions_);
}

void FuncMgr::detachFunction(const FunctionInfo& function)
{
    // Every function leaves every chain, whatever its flags, so that no chain keeps a removed one.
    plugins_.chains().removeFilterFromAll(&function);
    if (!function.asFilter())
        return;
    std::lock_guard lock(m_);
    for (auto it = instanceOwners_.begin(); it != instanceOwners_.end();) {
        if (it->second.get() == function.asFilter())
            it = instanceOwners_.erase(it);
        else
            ++it;
    }
}

std::shared_ptr<FunctionInfo> FuncMgr::findFunction(std::string_view plugin, std::string_view funcName) const
{
    return find(functionKey(plugin, funcName));
}

int FuncMgr::getFuncItem(const char* plugin, const char* funcName, _FuncItem* out) const
{
    const auto function = findFunction(plugin ? plugin : "", funcName ? funcName : "");
    if (!function)
        return REG_ERR_NOT_FOUND;
    if (out)
        function->fill(*out);
    return 0;
}

int FuncMgr::getFuncItemById(uint32_t id, _FuncItem* out) const
{
    const auto function = findById(id);
    if (!function)
        return REG_ERR_NOT_FOUND;
    if (out)
        function->fill(*out);
    return 0;
}

int FuncMgr::callFuncItem(const char* plugin, const char* funcName, const _FuncSlot* in, void* const* out, int* result)
{
    const auto function = findFunction(plugin ? plugin : "", funcName ? funcName : "");
    if (!function)
        return REG_ERR_NOT_FOUND;
    const int called = function->call(plugins_.log(), in, out);
    if (result)
        *result = called;
    return 0;
}

int FuncMgr::getFirstFunc(uint32_t* id, _FuncItem* out) const
{
    const auto function = first();
    if (!function)
        return 1;
    if (id)
        *id = function->id();
    if (out)
        function->fill(*out);
    return 0;
}

int FuncMgr::getNextFunc(uint32_t* id, _FuncItem* out) const
{
    if (!id)
        return 1;
    const auto function = next(*id);
    if (!function)
        return 1;
    *id = function->id();
    if (out)
        function->fill(*out);
    return 0;
}

// ---- FuncMgr: filter instances ----

uint32_t FuncMgr::nextInstanceId() const
{
    std::lock_guard lock(m_);
    return nextInstanceId_;
}

std::shared_ptr<FilterInfo> FuncMgr::filterOfInstance(uint32_t instId) const
{
    std::lock_guard lock(m_);
    const auto it = instanceOwners_.find(instId);
    return it == instanceOwners_.end() ? nullptr : it->second;
}

int FuncMgr::resolveInstance(uint32_t id, InstanceRef& ref) const
{
    if (id >= FILTER_INSTANCE_ID_FIRST) {
        ref.filter = filterOfInstance(id);
    } else {
        ref.filter = asFilter(findById(id));
        id = FILTER_DEFAULT_INSTANCE_ID;
    }
    if (!ref.filter)
        return REG_ERR_NOT_FOUND;
    ref.instance = ref.filter->instances().findById(id);
    if (!ref.instance)
        return REG_ERR_NOT_FOUND;
    ref.instanceId = id;
    return 0;
}

int FuncMgr::createFilterInst(uint32_t funcId, const char* name, uint32_t* outInstId)
{
    const auto function = findById(funcId);
    if (!function)
        return REG_ERR_NOT_FOUND;
    const auto filter = asFilter(function);
    if (!filter || !name)
        return TVK_ERR_GENERIC;
    if (!storableInstanceName(name)) {
        plugins_.log().logMsg("tvkmgr", "Filter instance name \"%s\" of %s is refused: it holds a line break or '|'.",
                              0, name, function->getName().c_str());
        return TVK_ERR_GENERIC;
    }
    return createInstanceWithNextId(filter, name, outInstId);
}

int FuncMgr::createInstanceWithNextId(const std::shared_ptr<FilterInfo>& filter, const std::string& name,
                                      uint32_t* outInstId)
{
    uint32_t id;
    {
        std::lock_guard lock(m_);
        if (nextInstanceId_ == UINT32_MAX)
            return TVK_ERR_GENERIC;
        id = nextInstanceId_++;
    }
    std::shared_ptr<FilterInstInfo> instance;
    const int created = filter->createInstance(plugins_.log(), name, id, &instance);
    {
        std::lock_guard lock(m_);
        if (created != 0) {
            if (nextInstanceId_ == id + 1)
                nextInstanceId_ = id; // nobody saw the id: the next instance takes it
            return created == MGR_ERR_INST_EXISTS ? static_cast<int>(MGR_ERR_INST_EXISTS) : TVK_ERR_GENERIC;
        }
        if (findById(filter->id()) == filter) {
            instanceOwners_[id] = filter;
            if (outInstId)
                *outInstId = id;
            return 0;
        }
    }
    // The filter was removed while its instance was being made.
    FilterInstInfo::deleteWhenUnused(filter->instances().removeById(id));
    return TVK_ERR_GENERIC;
}

int FuncMgr::deleteFilterInst(uint32_t instId)
{
    std::shared_ptr<FilterInstInfo> instance;
    {
        // Under the plug-in registry's lock, so that no chain edit adds the instance meanwhile.
        std::lock_guard pluginsLock(plugins_.mutex());
        plugins_.chains().removeInstanceFromAll(instId);
        std::lock_guard lock(m_);
        const auto it = instanceOwners_.find(instId);
        if (it == instanceOwners_.end())
            return REG_ERR_NOT_FOUND;
        instance = it->second->instances().removeById(instId);
        instanceOwners_.erase(it);
        if (!instance)
            return REG_ERR_NOT_FOUND;
    }
    return FilterInstInfo::deleteWhenUnused(std::move(instance));
}

int FuncMgr::getFirstFilterInst(uint32_t funcId, uint32_t* instId, char* name) const
{
    const auto function = findById(funcId);
    if (!function)
        return REG_ERR_NOT_FOUND;
    const FilterInfo* filter = function->asFilter();
    if (!filter)
        return 1;
    const auto instance = filter->instances().first();
    if (!instance)
        return 1;
    if (instId)
        *instId = instance->id();
    copyText(name, MGR_NAME_SIZE, instance->name());
    return 0;
}

int FuncMgr::getNextFilterInst(uint32_t funcId, uint32_t* instId, char* name) const
{
    const auto function = findById(funcId);
    if (!function)
        return REG_ERR_NOT_FOUND;
    const FilterInfo* filter = function->asFilter();
    if (!filter || !instId)
        return 1;
    const auto instance = filter->instances().next(*instId);
    if (!instance)
        return 1;
    *instId = instance->id();
    copyText(name, MGR_NAME_SIZE, instance->name());
    return 0;
}

int FuncMgr::setFilterPar(uint32_t id, int parIndex, const void* data, uint32_t size)
{
    InstanceRef ref;
    if (resolveInstance(id, ref) != 0)
        return REG_ERR_NOT_FOUND;
    return ref.filter->setParameter(plugins_.log(), ref.instance->handle(), parIndex, data, size);
}

int FuncMgr::getFilterPar(uint32_t id, int parIndex, _FilterParDesc* desc, uint32_t* size)
{
    InstanceRef ref;
    if (resolveInstance(id, ref) != 0)
        return REG_ERR_NOT_FOUND;
    return ref.filter->getRaw(plugins_.log(), ref.instance->handle(), parIndex, desc, size);
}
