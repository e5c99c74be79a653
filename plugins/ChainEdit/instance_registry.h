// The instances of one filter kind and the table of its settings.
//
// InstanceRegistry<Settings>: the settings objects of one filter kind, owned by the registry and reached
// through handles. A handle is the object's index + 1 as a pointer-sized integer, so that null names no
// instance; a deleted object leaves a null slot behind and slots are never reused, so a stale handle is
// refused instead of reaching a later instance.
//
// ParamTable<Settings>: the constant rows that describe the settings (_FilterParDesc, flags 2) and, for each
// row, the member that holds the value; the manager's get and set callbacks are served from it.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <type_traits>
#include <variant>

#include "pluginfw/own_ptr.h"
#include "tvk_mgr.h"

namespace chainedit {

// Texts are stored in fields of this many characters, terminating zero included.
inline constexpr uint32_t kTextFieldSize = 512;
inline constexpr uint32_t kParamFlags = 2;

template <class Settings>
class InstanceRegistry {
public:
    // A new object with the default settings: 0 and *handle, -1 for a null handle pointer.
    int create(void** handle)
    {
        if (!handle)
            return -1;
        std::lock_guard lock(m_);
        slots_.push_back(nullptr); // the slot first: push_back may throw, a held object would leak
        slots_.back() = new Settings();
        *handle = reinterpret_cast<void*>(static_cast<uintptr_t>(slots_.size()));
        return 0;
    }

    // Deletes the object and leaves its slot empty: 0, or -1 when the handle names no live instance.
    int destroy(void* handle)
    {
        std::lock_guard lock(m_);
        Settings** slot = find(handle);
        if (!slot)
            return -1;
        delete *slot;
        *slot = nullptr;
        return 0;
    }

    // fn(Settings&) with the lock held: fn's result, or -1 when the handle names no live instance.
    template <class Fn>
    int with(void* handle, Fn&& fn)
    {
        std::lock_guard lock(m_);
        Settings** slot = find(handle);
        return slot ? fn(**slot) : -1;
    }

    // A copy of the instance's settings: 0, or -1 when the handle names no live instance.
    int copy(void* handle, Settings& out)
    {
        return with(handle, [&](Settings& s) {
            out = s;
            return 0;
        });
    }

private:
    Settings** find(void* handle)
    {
        const uintptr_t index = reinterpret_cast<uintptr_t>(handle);
        if (index == 0 || index > slots_.size() || !slots_[index - 1])
            return nullptr;
        return &slots_[index - 1];
    }

    // Guards slots_ and every settings object; taken by create, delete, set, get and by a run while it
    // copies the settings (or writes back what the run keeps). Nothing of the manager is called with it held.
    // Recursive without need: no function given to with() comes back to the registry; a plain mutex would do.
    std::recursive_mutex m_;
    OwnPtrVector<Settings*> slots_;
};

// One settings row: its description and the member that holds its value. A text member gains a trailing
// '/' when folder is set (a folder path).
template <class Settings>
struct ParamRow {
    _FilterParDesc desc;
    std::variant<std::string Settings::*, uint32_t Settings::*, int32_t Settings::*, double Settings::*> member;
    bool folder = false;
};

// Why a set was refused, for the caller's log; empty when it was not.
struct SetOutcome {
    int result = 0;
    std::string refusal;
};

// The get callback on one table: see FilterGetCallback. index < 0: the row count in *size, no handle
// needed. Else fills desc (keeping its data pointer) and, when desc->data is not null and *size is at
// least the bytes needed, the value; *size = the bytes needed (texts: length + 1). -1 for a handle that
// names no live instance, an index beyond the table or null pointers.
template <class Settings>
int getParam(InstanceRegistry<Settings>& registry, std::span<const ParamRow<Settings>> rows, void* handle, int index,
             _FilterParDesc* desc, uint32_t* size)
{
    if (!size)
        return -1;
    if (index < 0) {
        *size = static_cast<uint32_t>(rows.size());
        return 0;
    }
    if (!desc || static_cast<size_t>(index) >= rows.size())
        return -1;
    const ParamRow<Settings>& row = rows[static_cast<size_t>(index)];
    return registry.with(handle, [&](Settings& s) {
        void* data = desc->data;
        *desc = row.desc;
        desc->data = data;
        const uint32_t capacity = *size;
        std::visit(
            [&](auto member) {
                const auto& value = s.*member;
                using V = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<V, std::string>) {
                    *size = static_cast<uint32_t>(value.size() + 1);
                    if (data && capacity >= *size)
                        std::memcpy(data, value.c_str(), value.size() + 1);
                } else {
                    *size = sizeof(V);
                    if (data && capacity >= sizeof(V))
                        std::memcpy(data, &value, sizeof(V));
                }
            },
            row.member);
        return 0;
    });
}

// The set callback on one table: see FilterSetCallback. A text takes the bytes up to size or up to its
// first zero and must fit its field with the terminating zero (and the '/' a folder gains); a number needs
// size of at least its bytes. -1 when refused; the outcome says why, for the log.
template <class Settings>
SetOutcome setParam(InstanceRegistry<Settings>& registry, std::span<const ParamRow<Settings>> rows, void* handle,
                    int index, const void* data, uint32_t size)
{
    if (index < 0 || static_cast<size_t>(index) >= rows.size() || !data)
        return {-1, {}};
    const ParamRow<Settings>& row = rows[static_cast<size_t>(index)];
    SetOutcome outcome;
    outcome.result = registry.with(handle, [&](Settings& s) {
        return std::visit(
            [&](auto member) {
                auto& value = s.*member;
                using V = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<V, std::string>) {
                    const auto* text = static_cast<const char*>(data);
                    const void* zero = std::memchr(text, 0, size);
                    std::string next(text, zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size);
                    if (row.folder && !next.empty() && next.back() != '/')
                        next += '/';
                    if (next.size() + 1 > row.desc.count) {
                        outcome.refusal = "The value of \"" + std::string(row.desc.name) + "\" has " +
                                          std::to_string(next.size()) + " characters; at most " +
                                          std::to_string(row.desc.count - 1) + " fit.";
                        return -1;
                    }
                    value = std::move(next);
                } else {
                    if (size < sizeof(V))
                        return -1;
                    std::memcpy(&value, data, sizeof(V));
                }
                return 0;
            },
            row.member);
    });
    return outcome;
}

} // namespace chainedit
