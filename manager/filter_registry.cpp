#include "filter_registry.h"

#include "plugin_call.h"

namespace {

constexpr uint32_t kValueBufferSize = 1024; // first value buffer; grown when the plug-in asks for more

} // namespace

// ---- FilterInstInfo ----

FilterInstInfo::~FilterInstInfo()
{
    if (deletePending_.load())
        callDelete();
}

int FilterInstInfo::callDelete()
{
    return guardedPluginCall(log_, "the delete callback of a filter instance", TVK_ERR_GENERIC,
                             [&] { return destroy_(deleteContext_, handle_); });
}

int FilterInstInfo::deleteWhenUnused(std::shared_ptr<FilterInstInfo> instance)
{
    if (!instance)
        return REG_ERR_NOT_FOUND;
    // Out of every registry, the count can only go down: 1 means nobody else can reach it.
    if (instance.use_count() == 1)
        return instance->callDelete();
    // Someone still runs plug-in code with the handle: the last holder deletes it (a holder that let
    // go meanwhile leaves that to the reset of instance below).
    instance->deletePending_.store(true);
    return 0;
}

// ---- FilterInfo ----

FilterInfo::FilterInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName, const _FuncItem& item,
                       const _FilterInstCallbacks& callbacks)
    : FunctionInfo(owner, ownerName, item, callbacks.runUserData), callbacks_(callbacks)
{}

int FilterInfo::createInstance(Log& log, const std::string& name, uint32_t id, std::shared_ptr<FilterInstInfo>* out)
{
    if (instances_.contains(name))
        return MGR_ERR_INST_EXISTS;
    void* handle = nullptr;
    const int created = guardedPluginCall(log, "the create callback of a filter", TVK_ERR_GENERIC,
                                          [&] { return callbacks_.create(callbacks_.createContext, &handle); });
    if (created != 0)
        return TVK_ERR_GENERIC;
    auto instance = std::make_shared<FilterInstInfo>(log, name, handle, callbacks_.destroy, callbacks_.deleteContext);
    // A new instance starts with the default instance's settings; it is registered only once it has them.
    if (id != FILTER_DEFAULT_INSTANCE_ID)
        copyDefaultParameters(log, handle);
    if (instances_.addWithId(instance, id) != 0) {
        FilterInstInfo::deleteWhenUnused(std::move(instance)); // the plug-in gets its object back
        return MGR_ERR_INST_EXISTS;
    }
    if (out)
        *out = std::move(instance);
    return 0;
}

int FilterInfo::getRaw(Log& log, void* instance, int index, _FilterParDesc* desc, uint32_t* size) const
{
    return guardedPluginCall(log, "the get callback of a filter", TVK_ERR_GENERIC,
                             [&] { return callbacks_.get(callbacks_.getContext, instance, index, desc, size); });
}

int FilterInfo::setParameter(Log& log, void* instance, int index, const void* data, uint32_t size) const
{
    return guardedPluginCall(log, "the set callback of a filter", TVK_ERR_GENERIC,
                             [&] { return callbacks_.set(callbacks_.setContext, instance, index, data, size); });
}

int FilterInfo::parameterCount(Log& log, uint32_t* count) const
{
    *count = 0;
    return getRaw(log, nullptr, -1, nullptr, count);
}

int FilterInfo::getParameter(Log& log, void* instance, int index, _FilterParDesc& desc,
                             std::vector<unsigned char>* value, uint32_t& size) const
{
    if (value && value->size() < kValueBufferSize)
        value->resize(kValueBufferSize);
    for (int attempt = 0; attempt < 2; ++attempt) {
        desc = _FilterParDesc{};
        desc.data = value ? value->data() : nullptr;
        size = value ? static_cast<uint32_t>(value->size()) : 0;
        const int result = getRaw(log, instance, index, &desc, &size);
        if (result != 0)
            return result;
        if (!value || size <= value->size())
            return 0;
        if (size > kMaxValueSize) {
            log.logMsg("tvkmgr", "Parameter %d of filter %s needs %u bytes; at most %u are accepted.", 0, index,
                       getName().c_str(), size, kMaxValueSize);
            return TVK_ERR_ALLOC;
        }
        value->resize(size); // asked again with a buffer of the size it needs
    }
    return TVK_ERR_BUFFER_SMALL; // the plug-in wants ever more
}

void FilterInfo::copyDefaultParameters(Log& log, void* to) const
{
    const auto from = defaultInstance();
    if (!from)
        return;
    uint32_t count = 0;
    if (parameterCount(log, &count) != 0)
        return;
    std::vector<unsigned char> value(kValueBufferSize);
    for (uint32_t index = 0; index < count; ++index) {
        _FilterParDesc desc{};
        uint32_t size = 0;
        if (getParameter(log, from->handle(), static_cast<int>(index), desc, &value, size) != 0)
            return;
        if (setParameter(log, to, static_cast<int>(index), value.data(), size) != 0)
            return;
    }
}
