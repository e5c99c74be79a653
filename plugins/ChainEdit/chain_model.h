// The filter chains and filter instances as the editor shows them, read from and changed through the
// manager's function table only, so that every other window sees a change as soon as it is made and the
// manager writes [Filter chains] and [Filter instances] as for chains made any other way. No Qt here.
// Any thread; each call reads the manager afresh.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tvk_mgr.h"

namespace chainedit {

// The event that the editor fires after each change of a chain (argument: the chain's id); windows that
// offer the chains subscribe to it.
inline constexpr const char* kChainsChangedEvent = "FilterChainsChanged";

struct FilterRef {
    int funcId = 0;
    std::string plugin;   // lower case
    std::string name;     // function name
    bool hasInstances = false;
    std::string label() const { return plugin + ":" + name; }
};

struct InstanceRef {
    int id = 0; // 1: the default instance
    std::string name;
};

struct ChainMemberRef {
    int memberId = 0;      // as the manager reports it: the function id, or the instance id (>= 100000000)
    FilterRef filter;      // funcId 0 when the function is gone
    InstanceRef instance;  // id 0 for a filter without instances
};

struct ChainRef {
    int id = 0;
    std::string owner;
    std::string name;
    std::vector<ChainMemberRef> members;
};

// One parameter of an instance as its filter's get callback describes it, with the value as text.
struct ParameterRef {
    int index = 0;
    int type = 0;
    uint32_t count = 0;
    std::string name;
    std::string description;
    std::string value;
};

// Why name cannot be a chain name (empty when it can): the ini file holds each chain as a "{owner:name}"
// line followed by member lines, and the choosers find it by name.
std::string chainNameProblem(const std::string& name);

class ChainModel {
public:
    ChainModel(const _MgrFuncTable* table, std::string owner) : t_(table), owner_(std::move(owner)) {}

    std::vector<ChainRef> chains() const;
    // Every registered filter of every plug-in, in function id order.
    std::vector<FilterRef> filters() const;
    FilterRef filterById(int funcId) const;
    std::vector<InstanceRef> instances(int funcId) const;

    // 0 and *outId; otherwise a code, and *error says why.
    int createChain(const std::string& name, int* outId, std::string* error);
    // A new chain of that name with the same members in their order, then the old one removed; the chain
    // gets a new id (returned through outId).
    int renameChain(int chainId, const std::string& name, int* outId, std::string* error);
    int removeChain(int chainId, std::string* error);
    // memberId: a function id (its default instance for a filter with instances) or an instance id;
    // position -1 appends.
    int addMember(int chainId, int memberId, int position, std::string* error);
    int removeMember(int chainId, int index, std::string* error);
    // Moves the member at index by delta places (-1 up, +1 down); a move past either end does nothing.
    int moveMember(int chainId, int index, int delta, std::string* error);
    // Makes the member at index run with another instance of its filter.
    int setMemberInstance(int chainId, int index, int instanceId, std::string* error);
    int createInstance(int funcId, const std::string& name, int* outId, std::string* error);

    // The parameters of an instance (id as the manager takes it: a function id for its default instance,
    // or an instance id). Empty when the filter has none or cannot describe them.
    std::vector<ParameterRef> parameters(int id) const;
    // Sets one parameter from text; on refusal the value stays and *error says why.
    int setParameter(int id, int index, const std::string& text, std::string* error);

private:
    std::vector<int> memberIds(int chainId) const;
    const _MgrFuncTable* t_;
    std::string owner_; // the plug-in that owns the chains the editor makes
};

} // namespace chainedit
