// The generic keyed registry of the manager: items found by key and by id, walked in ascending id.
// Items are shared: a caller that found one keeps it alive while it uses it, after the registry's lock
// is released, and a removal while it is in use is safe.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text_copy.h"
#include "tvk_types.h"

// Base of every registry item.
class BaseInfo {
public:
    BaseInfo(std::string name, std::string description) : name_(std::move(name)), description_(std::move(description))
    {}
    virtual ~BaseInfo() = default;
    BaseInfo(const BaseInfo&) = delete;
    BaseInfo& operator=(const BaseInfo&) = delete;

    // The item's registry key (fixed at construction).
    virtual const std::string& getName() const { return name_; }

    uint32_t id() const { return id_.load(std::memory_order_relaxed); }
    void setId(uint32_t id) { id_.store(id, std::memory_order_relaxed); }
    const std::string& name() const { return name_; }
    const std::string& description() const { return description_; }

private:
    std::atomic<uint32_t> id_{0}; // 0 until a registry assigns one
    const std::string name_;
    const std::string description_;
};

// Internal codes of the registries.
enum { REG_ERR_DUPLICATE = -2, REG_ERR_NOT_FOUND = -3 };

template <class T>
class ItemMgr {
public:
    using Ptr = std::shared_ptr<T>;

    ItemMgr() = default;
    virtual ~ItemMgr() = default;
    ItemMgr(const ItemMgr&) = delete;
    ItemMgr& operator=(const ItemMgr&) = delete;

    // Assigns the next id; -2 when the key is present (the item stays unindexed).
    int add(const Ptr& item) { return addWithId(item, 0); }

    // As add, but a non-zero id is used as it is; -2 when the key or the id is present. Ids never go
    // back: the next add continues above the highest id issued.
    int addWithId(const Ptr& item, uint32_t id)
    {
        std::lock_guard lock(m_);
        const std::string& key = item->getName();
        if (byKey_.count(key))
            return REG_ERR_DUPLICATE;
        if (id == 0) {
            if (lastId_ == UINT32_MAX)
                return TVK_ERR_ALLOC; // ids exhausted; never wraps round to reuse one
            id = lastId_ + 1;
        } else if (findSlot(id) != byId_.end()) {
            return REG_ERR_DUPLICATE;
        }
        lastId_ = std::max(lastId_, id);
        item->setId(id);
        byKey_.emplace(key, item);
        byId_.insert(upperSlot(id), {id, item});
        return 0;
    }

    Ptr removeByName(std::string_view key)
    {
        std::lock_guard lock(m_);
        const auto it = byKey_.find(key);
        if (it == byKey_.end())
            return nullptr;
        Ptr item = std::move(it->second);
        byKey_.erase(it);
        const auto slot = findSlot(item->id());
        if (slot != byId_.end())
            byId_.erase(slot);
        return item;
    }

    Ptr removeById(uint32_t id)
    {
        std::lock_guard lock(m_);
        const auto slot = findSlot(id);
        if (slot == byId_.end())
            return nullptr;
        Ptr item = std::move(slot->second);
        byId_.erase(slot);
        byKey_.erase(item->getName());
        return item;
    }

    // Takes out this very item (not another one under its key); null when it is not registered.
    Ptr removeItem(const T* item)
    {
        std::lock_guard lock(m_);
        const auto slot = findSlot(item->id());
        if (slot == byId_.end() || slot->second.get() != item)
            return nullptr;
        Ptr held = std::move(slot->second);
        byId_.erase(slot);
        byKey_.erase(held->getName());
        return held;
    }

    Ptr find(std::string_view key) const
    {
        std::lock_guard lock(m_);
        const auto it = byKey_.find(key);
        return it == byKey_.end() ? nullptr : it->second;
    }

    Ptr findById(uint32_t id) const
    {
        std::lock_guard lock(m_);
        const auto slot = findSlot(id);
        return slot == byId_.end() ? nullptr : slot->second;
    }

    bool contains(std::string_view key) const { return find(key) != nullptr; }

    // The item with the lowest id; null when empty.
    Ptr first() const
    {
        std::lock_guard lock(m_);
        return byId_.empty() ? nullptr : byId_.front().second;
    }

    // The item with the smallest id above id; null at the end. Ids that were never issued or whose item
    // was removed are passed over.
    Ptr next(uint32_t id) const
    {
        std::lock_guard lock(m_);
        const auto slot = upperSlot(id);
        return slot == byId_.end() ? nullptr : slot->second;
    }

    // Every item in ascending id.
    std::vector<Ptr> items() const
    {
        std::lock_guard lock(m_);
        std::vector<Ptr> result;
        result.reserve(byId_.size());
        for (const auto& entry : byId_)
            result.push_back(entry.second);
        return result;
    }

    size_t size() const
    {
        std::lock_guard lock(m_);
        return byId_.size();
    }

    uint32_t lastId() const
    {
        std::lock_guard lock(m_);
        return lastId_;
    }

    std::recursive_mutex& mutex() const { return m_; }

protected:
    // Guards lastId_, byKey_, byId_ (and what derived registries say); held only by manager code, never plug-in code.
    // Recursive: derived registries hold it (the plug-in registry through mutex()) while they call the lookups
    // and add/remove of this class, which take it again.
    mutable std::recursive_mutex m_;

private:
    using IdSlots = std::vector<std::pair<uint32_t, Ptr>>;

    typename IdSlots::iterator upperSlot(uint32_t id)
    {
        return std::upper_bound(byId_.begin(), byId_.end(), id,
                                [](uint32_t value, const auto& slot) { return value < slot.first; });
    }
    typename IdSlots::const_iterator upperSlot(uint32_t id) const
    {
        return std::upper_bound(byId_.begin(), byId_.end(), id,
                                [](uint32_t value, const auto& slot) { return value < slot.first; });
    }
    typename IdSlots::iterator findSlot(uint32_t id)
    {
        const auto slot = std::lower_bound(byId_.begin(), byId_.end(), id,
                                           [](const auto& s, uint32_t value) { return s.first < value; });
        return slot != byId_.end() && slot->first == id ? slot : byId_.end();
    }
    typename IdSlots::const_iterator findSlot(uint32_t id) const
    {
        const auto slot = std::lower_bound(byId_.begin(), byId_.end(), id,
                                           [](const auto& s, uint32_t value) { return s.first < value; });
        return slot != byId_.end() && slot->first == id ? slot : byId_.end();
    }

    uint32_t lastId_ = 0;
    std::map<std::string, Ptr, std::less<>> byKey_; // byte-wise, case-sensitive
    IdSlots byId_;                                  // ascending id: ids are issued in rising order
};

// ---- text helpers for the fixed-size fields of the descriptor records ----

// The text of a fixed-size field of an untrusted record: up to the first zero, never past the field.
inline std::string fieldText(const char* field, size_t size)
{
    if (!field)
        return {};
    size_t n = 0;
    while (n < size && field[n])
        ++n;
    return std::string(field, n);
}

template <size_t N>
std::string fieldText(const char (&field)[N])
{
    return fieldText(field, N);
}

// Texts into caller buffers: truncated and always terminated.
using plat::copyText;

inline std::string toLowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}
