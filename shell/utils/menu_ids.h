// Command ids of the plug-in items in the tray menu and the manager's menu-item ids behind them.
// Plug-in items use the command ids 33001 to 34000. Ids are handed out in rising order, wrapping round
// to the start of the range and passing over the ids in use, so that a freed id is reused only after
// the others and a stale command that arrives late rarely meets a new item.
#pragma once

#include <map>
#include <optional>

class MenuIdMap {
public:
    static constexpr int kFirstCommand = 33001;
    static constexpr int kLastCommand = 34000;
    static constexpr int kCommandCount = kLastCommand - kFirstCommand + 1;

    static bool inRange(int commandId) { return commandId >= kFirstCommand && commandId <= kLastCommand; }

    // Takes a command id for mgrItemId and records both directions. nullopt (nothing changed) when every
    // id of the range is in use or mgrItemId has one already.
    std::optional<int> add(int mgrItemId);
    // Forgets mgrItemId and frees its command id; the freed command id, or nullopt for an unknown item.
    std::optional<int> remove(int mgrItemId);

    std::optional<int> commandOf(int mgrItemId) const;
    std::optional<int> itemOf(int commandId) const;
    size_t size() const { return byCommand_.size(); }

private:
    std::map<int, int> byCommand_; // command id -> manager item id
    std::map<int, int> byItem_;    // manager item id -> command id
    int lastIssued_ = kFirstCommand - 1;
};
