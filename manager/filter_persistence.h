// Filter instances with their parameter values and filter chains in the manager's ini file:
// [Filter instances] holds a block per instance, "{plugin:function:instance}" followed by one
// "name:value" line per parameter; [Filter chains] a block per chain, "{plugin:chain}" followed by one
// line per member, "plugin:function" or "plugin:function:instance".
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

class PluginMgr;
class FilterChainInfo;

inline constexpr const char* kFilterInstancesSection = "Filter instances";
inline constexpr const char* kFilterChainsSection = "Filter chains";

// What a start-up could not restore because a plug-in or a function was not there. A plug-in that stays
// in the plug-in list but did not load (its library is missing today, say) must not lose its saved
// instances and chains: their lines are kept here as they were read and written back unchanged at exit,
// after the restored ones, so that they come back once the plug-in loads again. Lines of a plug-in that is
// neither loaded nor listed (the user removed it) are dropped, and so are lines refused for any other
// reason (malformed, a name taken, a failed creation), with their log entries.
struct HeldFilterLines {
    // Input: the lower-cased names of the plug-ins in the plug-in list. A loaded plug-in counts as listed.
    std::set<std::string> listedPlugins;

    // Whole instance blocks (header and parameter lines) whose function is not registered.
    std::vector<std::string> instanceLines;
    // Whole blocks of chains whose owner is listed but not loaded.
    std::vector<std::string> chainLines;
    // A chain restored without members whose function is not registered: the block as read, less the member
    // lines refused for other reasons. At exit it stands in for the chain as long as the chain still has the
    // members it got at start-up; once the chain was edited or removed, its live state counts.
    struct PartialChain {
        std::weak_ptr<FilterChainInfo> chain;
        std::string restoredText; // the chain text right after the restore
        std::vector<std::string> lines;
    };
    std::vector<PartialChain> partialChains;
};

// The section lines of every instance of every filter with instances (ascending function id, then
// instance id, the default instance first). Calls the plug-ins' get callbacks; no lock may be held.
// With held, its instance blocks follow, less those of filters that are registered by now (their live
// instances were written).
std::vector<std::string> filterInstancesLines(PluginMgr& plugins, const HeldFilterLines* held = nullptr);
// Recreates the instances and sets their parameters from the section lines. Headers of functions that
// are not registered are skipped (with held, their blocks are kept there when their plug-in is loaded or
// listed); a parameter line that cannot be read is refused with a log entry.
void restoreFilterInstances(PluginMgr& plugins, const std::vector<std::string>& lines,
                            HeldFilterLines* held = nullptr);

// The section lines of every chain in ascending id. With held, an unchanged partially restored chain is
// written as it was read, and the held chain blocks follow, less those whose chain exists by now.
std::vector<std::string> filterChainsLines(PluginMgr& plugins, const HeldFilterLines* held = nullptr);
// Recreates the chains with their members (owners that are not loaded are logged and skipped). With held,
// the chains and members that cannot be restored because their plug-in or function is not there are
// kept there (see HeldFilterLines).
void restoreFilterChains(PluginMgr& plugins, const std::vector<std::string>& lines, HeldFilterLines* held = nullptr);

// Writes [Filter instances], then [Filter chains] into the ini file: 0, or the first failure's code of
// writeIniSection (logged; the file then keeps what it had).
int saveFilterSections(PluginMgr& plugins, const std::string& iniPath, const HeldFilterLines* held = nullptr);
// Restores the instances, then the chains, from the ini file (an unreadable file is logged and changes
// nothing).
void restoreFilterSections(PluginMgr& plugins, const std::string& iniPath, HeldFilterLines* held = nullptr);
