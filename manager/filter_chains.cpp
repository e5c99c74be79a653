#include "filter_chains.h"

#include <algorithm>

#include "plugin_mgr.h"

namespace {

// Why a chain name cannot be stored (null when it can): [Filter chains] holds each chain as a "{owner:name}"
// header line followed by "plugin:function[:instance]" member lines, and the choosers find a chain by name.
const char* chainNameProblem(std::string_view name)
{
    if (name.empty())
        return "it is empty";
    for (const unsigned char c : name)
        if (c < 0x20 || c == 0x7f)
            return "it holds a line break or another control character";
    if (name.find_first_of("[]{}") != std::string_view::npos)
        return "it holds '[', ']', '{' or '}'";
    if (name.find_first_of(":|") != std::string_view::npos)
        return "it holds ':' or '|'";
    if (name.front() == ' ' || name.back() == ' ')
        return "it begins or ends with a blank";
    return nullptr;
}

} // namespace

int FilterChainMgr::createChain(const char* plugin, const char* chainName, uint32_t* outId)
{
    Log& log = plugins_.log();
    const std::string pluginText = plugin ? plugin : "";
    if (const char* problem = chainName ? chainNameProblem(chainName) : "it is missing") {
        log.logMsg("tvkmgr", "Filter chain name of plugin %s is refused: %s.", 0, pluginText.c_str(), problem);
        return TVK_ERR_PARAM;
    }
    std::lock_guard pluginsLock(plugins_.mutex());
    const std::shared_ptr<PluginInfo> owner = plugins_.ownerOrLog(pluginText);
    if (!owner)
        return MGR_ERR_NO_PLUGIN;
    std::lock_guard ownerLock(owner->m_);
    auto chain = std::make_shared<FilterChainInfo>(owner, owner->name(), chainName);
    const int added = add(chain);
    if (added == REG_ERR_DUPLICATE) {
        log.logMsg("tvkmgr", "Filter chain with name %s is already registered by plugin %s.", 0, chainName,
                   pluginText.c_str());
        return MGR_ERR_CHAIN_EXISTS;
    }
    if (added != 0)
        return added;
    if (outId)
        *outId = chain->id();
    owner->filterChains_.push_back(std::move(chain));
    return 0;
}

int FilterChainMgr::removeChain(uint32_t chainId)
{
    const std::shared_ptr<FilterChainInfo> chain = removeById(chainId);
    if (!chain) {
        plugins_.log().logMsg("tvkmgr", "Filter chain with id %u is not registered.", 0, chainId);
        return MGR_ERR_NO_CHAIN;
    }
    return plugins_.detachFromOwner(chain, &PluginInfo::filterChains_);
}

int FilterChainMgr::addToChain(uint32_t chainId, uint32_t filterOrInstanceId, int position)
{
    Log& log = plugins_.log();
    // Under the plug-in registry's lock: removing a function or deleting an instance takes the same lock
    // while it takes them out of every chain, so no chain gains a member that is on its way out.
    std::lock_guard pluginsLock(plugins_.mutex());
    ChainMember member;
    if (filterOrInstanceId >= FILTER_INSTANCE_ID_FIRST) {
        std::shared_ptr<FilterInfo> filter = plugins_.funcs().filterOfInstance(filterOrInstanceId);
        if (filter) {
            member.instance = filter->instances().findById(filterOrInstanceId);
            member.instanceId = filterOrInstanceId;
            member.filter = std::move(filter);
        }
    } else {
        member.filter = plugins_.funcs().findById(filterOrInstanceId);
        if (member.filter && member.filter->asFilter()) {
            member.instanceId = FILTER_DEFAULT_INSTANCE_ID;
            member.instance = member.filter->asFilter()->defaultInstance();
        }
    }
    if (!member.filter) {
        log.logMsg("tvkmgr", "Function with ID = %u is not registered.", 0, filterOrInstanceId);
        return MGR_ERR_NO_FUNC;
    }
    if (!member.filter->isChainable()) {
        log.logMsg("tvkmgr", "Function with ID = %u is not a filter.", 0, filterOrInstanceId);
        return TVK_ERR_PARAM;
    }
    std::lock_guard lock(m_);
    const std::shared_ptr<FilterChainInfo> chain = findById(chainId);
    if (!chain) {
        log.logMsg("tvkmgr", "Filter chain with id %u is not registered.", 0, chainId);
        return MGR_ERR_NO_CHAIN;
    }
    auto& members = chain->members_;
    const auto at = static_cast<uint32_t>(position);
    if (at >= members.size())
        members.push_back(std::move(member));
    else
        members.insert(members.begin() + at, std::move(member));
    return 0;
}

int FilterChainMgr::removeFromChain(uint32_t chainId, int index)
{
    std::lock_guard lock(m_);
    const std::shared_ptr<FilterChainInfo> chain = findById(chainId);
    if (!chain) {
        plugins_.log().logMsg("tvkmgr", "Filter chain with id %u is not registered.", 0, chainId);
        return MGR_ERR_NO_CHAIN;
    }
    auto& members = chain->members_;
    const auto at = static_cast<uint32_t>(index);
    if (at >= members.size())
        return TVK_ERR_PARAM;
    members.erase(members.begin() + at);
    return 0;
}

std::string FilterChainMgr::chainTextLocked(const FilterChainInfo& chain) const
{
    std::string text;
    for (const ChainMember& member : chain.members_) {
        std::string instanceName;
        if (member.instanceId != 0) {
            const FilterInfo* filter = member.filter->asFilter();
            const auto instance = filter ? filter->instances().findById(member.instanceId) : nullptr;
            if (!instance)
                continue; // an instance that no longer exists contributes nothing
            instanceName = ":" + instance->name();
        }
        text += member.filter->getName() + instanceName + "|";
    }
    return text;
}

void FilterChainMgr::fill(const FilterChainInfo& chain, _FilterChainDesc& out) const
{
    copyText(out.plugin, chain.ownerName());
    copyText(out.name, chain.name());
    const std::string text = chainTextLocked(chain);
    if (out.text && out.textSize)
        copyText(out.text, out.textSize, text);
    const auto& members = chain.members_;
    if (out.memberIds && out.memberCount) {
        const size_t n = std::min<size_t>(out.memberCount, members.size());
        for (size_t i = 0; i < n; ++i) {
            const ChainMember& member = members[i];
            out.memberIds[i] = member.instanceId >= FILTER_INSTANCE_ID_FIRST ? member.instanceId : member.filter->id();
        }
    }
    out.memberCount = static_cast<uint32_t>(members.size());
    out.textSize = static_cast<uint32_t>(text.size() + 1);
}

int FilterChainMgr::getChainInfo(uint32_t chainId, _FilterChainDesc* out) const
{
    std::lock_guard lock(m_);
    const std::shared_ptr<FilterChainInfo> chain = findById(chainId);
    if (!chain) {
        plugins_.log().logMsg("tvkmgr", "Filter chain with id %u is not registered.", 0, chainId);
        return MGR_ERR_NO_CHAIN;
    }
    if (out)
        fill(*chain, *out);
    return 0;
}

int FilterChainMgr::getFirstChain(uint32_t* id, _FilterChainDesc* out) const
{
    std::lock_guard lock(m_);
    const auto chain = first();
    if (!chain)
        return 1;
    if (id)
        *id = chain->id();
    if (out)
        fill(*chain, *out);
    return 0;
}

int FilterChainMgr::getNextChain(uint32_t* id, _FilterChainDesc* out) const
{
    if (!id)
        return 1;
    std::lock_guard lock(m_);
    const auto chain = next(*id);
    if (!chain)
        return 1;
    *id = chain->id();
    if (out)
        fill(*chain, *out);
    return 0;
}

std::string FilterChainMgr::chainText(uint32_t chainId) const
{
    std::lock_guard lock(m_);
    const auto chain = findById(chainId);
    return chain ? chainTextLocked(*chain) : std::string();
}

std::vector<ChainMember> FilterChainMgr::members(uint32_t chainId) const
{
    std::lock_guard lock(m_);
    const auto chain = findById(chainId);
    return chain ? chain->members_ : std::vector<ChainMember>();
}

int FilterChainMgr::applyToFrame(uint32_t chainId, uint32_t frameId)
{
    // The members are held while they run, without any lock: editing the chain meanwhile is safe.
    std::vector<ChainMember> run;
    {
        std::lock_guard lock(m_);
        const auto chain = findById(chainId);
        if (!chain)
            return REG_ERR_NOT_FOUND;
        run = chain->members_;
    }
    for (const ChainMember& member : run) {
        const _FuncSlot in[2] = {tvkSlotUint(frameId),
                                 tvkSlotPtr(member.instance ? member.instance->handle() : nullptr)};
        if (member.filter->call(plugins_.log(), in, nullptr) != 0)
            return MGR_ERR_FILTER_FAILED;
    }
    return 0;
}

void FilterChainMgr::removeFilterFromAll(const FunctionInfo* filter)
{
    std::lock_guard lock(m_);
    for (const auto& chain : items())
        std::erase_if(chain->members_, [&](const ChainMember& m) { return m.filter.get() == filter; });
}

void FilterChainMgr::removeInstanceFromAll(uint32_t instanceId)
{
    std::lock_guard lock(m_);
    for (const auto& chain : items())
        std::erase_if(chain->members_, [&](const ChainMember& m) { return m.instanceId == instanceId; });
}
