#include "menu_ids.h"

std::optional<int> MenuIdMap::add(int mgrItemId)
{
    if (byItem_.count(mgrItemId) || byCommand_.size() >= static_cast<size_t>(kCommandCount))
        return std::nullopt;
    int candidate = lastIssued_;
    do {
        candidate = candidate >= kLastCommand ? kFirstCommand : candidate + 1;
    } while (byCommand_.count(candidate));
    byCommand_.emplace(candidate, mgrItemId);
    byItem_.emplace(mgrItemId, candidate);
    lastIssued_ = candidate;
    return candidate;
}

std::optional<int> MenuIdMap::remove(int mgrItemId)
{
    const auto it = byItem_.find(mgrItemId);
    if (it == byItem_.end())
        return std::nullopt;
    const int commandId = it->second;
    byItem_.erase(it);
    byCommand_.erase(commandId);
    return commandId;
}

std::optional<int> MenuIdMap::commandOf(int mgrItemId) const
{
    const auto it = byItem_.find(mgrItemId);
    return it == byItem_.end() ? std::nullopt : std::optional<int>(it->second);
}

std::optional<int> MenuIdMap::itemOf(int commandId) const
{
    const auto it = byCommand_.find(commandId);
    return it == byCommand_.end() ? std::nullopt : std::optional<int>(it->second);
}
