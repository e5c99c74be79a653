#include "preview_registry.h"

uint32_t PreviewRegistry::add(PreviewEntry entry)
{
    std::lock_guard l(m_);
    const uint32_t id = ++nextId_;
    entry.state->setId(id);
    map_.emplace(id, std::move(entry));
    return id;
}

std::optional<PreviewEntry> PreviewRegistry::find(uint32_t id) const
{
    std::lock_guard l(m_);
    const auto it = map_.find(id);
    if (it == map_.end())
        return std::nullopt;
    return it->second;
}

std::optional<PreviewEntry> PreviewRegistry::take(uint32_t id)
{
    std::lock_guard l(m_);
    const auto it = map_.find(id);
    if (it == map_.end())
        return std::nullopt;
    PreviewEntry e = std::move(it->second);
    map_.erase(it);
    return e;
}

std::vector<PreviewEntry> PreviewRegistry::takeAll()
{
    std::vector<PreviewEntry> out;
    std::lock_guard l(m_);
    for (auto& [id, e] : map_)
        out.push_back(std::move(e));
    map_.clear();
    return out;
}

std::vector<PreviewEntry> PreviewRegistry::all() const
{
    std::vector<PreviewEntry> out;
    std::lock_guard l(m_);
    for (const auto& [id, e] : map_)
        out.push_back(e);
    return out;
}
