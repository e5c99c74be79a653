#include "chain_list.h"

#include <cstring>
#include <strings.h>

std::vector<ChainEntry> listFilterChains(const _MgrFuncTable* mgr)
{
    std::vector<ChainEntry> out{{0, "None"}};
    if (!mgr || !mgr->mgrGetFirstFilterChain || !mgr->mgrGetNextFilterChain)
        return out;
    int id = 0;
    _FilterChainDesc desc{};
    for (int rc = mgr->mgrGetFirstFilterChain(&id, &desc); rc == 0; rc = mgr->mgrGetNextFilterChain(&id, &desc)) {
        out.push_back({id, std::string(desc.name, strnlen(desc.name, sizeof desc.name))});
        desc = _FilterChainDesc{};
    }
    return out;
}

int chainReselectIndex(const std::vector<ChainEntry>& entries, int oldId, const std::string& oldName)
{
    if (oldId > 0)
        for (size_t i = 1; i < entries.size(); ++i)
            if (entries[i].id == oldId)
                return int(i);
    if (!oldName.empty())
        for (size_t i = 1; i < entries.size(); ++i)
            if (entries[i].name == oldName)
                return int(i);
    return 0;
}

bool chainEventRegistered(const _MgrFuncTable* mgr)
{
    if (!mgr || !mgr->mgrGetRegFirstCBEvent || !mgr->mgrGetRegNextCBEvent)
        return false;
    int id = 0;
    _EventDesc desc{};
    for (int rc = mgr->mgrGetRegFirstCBEvent(&id, &desc); rc == 0; rc = mgr->mgrGetRegNextCBEvent(&id, &desc)) {
        if (strncasecmp(desc.plugin, kChainEventSource, sizeof desc.plugin) == 0 &&
            std::string(desc.name, strnlen(desc.name, sizeof desc.name)) == kChainEventName)
            return true;
        desc = _EventDesc{};
    }
    return false;
}
