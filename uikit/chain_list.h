// The manager's filter chains as a list for a chooser: "None" (id 0) first, then each chain, and the entry
// to select again after a refill. No Qt here, so the sanitizer builds test it.
#pragma once

#include <string>
#include <vector>

#include "tvk_mgr.h"

// The event that the filter-chain editor fires after each change of a chain (argument: the chain's id);
// the choosers subscribe to it so that they follow the change at once.
inline constexpr const char* kChainEventSource = "chainedit";
inline constexpr const char* kChainEventName = "FilterChainsChanged";

// Whether the manager has the event registered (the editor's plug-in is loaded).
bool chainEventRegistered(const _MgrFuncTable* mgr);

struct ChainEntry {
    int id = 0; // the chain's id; 0 for "None"
    std::string name;
};

// "None" and every chain, in the manager's order. The walk ends at the first non-zero result.
std::vector<ChainEntry> listFilterChains(const _MgrFuncTable* mgr);

// The entry to select after a refill, given the one selected before (-1 when none was): the same chain id,
// else the entry of exactly the same name, else 0 ("None"). A name that only begins like another
// chain's never selects that chain.
int chainReselectIndex(const std::vector<ChainEntry>& entries, int oldId, const std::string& oldName);
