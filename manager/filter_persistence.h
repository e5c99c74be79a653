// Filter instances with their parameter values and filter chains in the manager's ini file:
// [Filter instances] holds a block per instance, "{plugin:function:instance}" followed by one
// "name:value" line per parameter; [Filter chains] a block per chain, "{plugin:chain}" followed by one
// line per member, "plugin:function" or "plugin:function:instance".
#pragma once

#include <string>
#include <vector>

class PluginMgr;

inline constexpr const char* kFilterInstancesSection = "Filter instances";
inline constexpr const char* kFilterChainsSection = "Filter chains";

// The section lines of every instance of every filter with instances (ascending function id, then
// instance id, the default instance first). Calls the plug-ins' get callbacks; no lock may be held.
std::vector<std::string> filterInstancesLines(PluginMgr& plugins);
// Recreates the instances and sets their parameters from the section lines. Headers of functions that
// are not registered are skipped; a parameter line that cannot be read is refused with a log entry.
void restoreFilterInstances(PluginMgr& plugins, const std::vector<std::string>& lines);

// The section lines of every chain in ascending id.
std::vector<std::string> filterChainsLines(PluginMgr& plugins);
// Recreates the chains with their members (owners that are not loaded are logged and skipped).
void restoreFilterChains(PluginMgr& plugins, const std::vector<std::string>& lines);

// Writes [Filter instances], then [Filter chains] into the ini file: 0, or the first failure's code of
// writeIniSection (logged; the file then keeps what it had).
int saveFilterSections(PluginMgr& plugins, const std::string& iniPath);
// Restores the instances, then the chains, from the ini file (an unreadable file is logged and changes
// nothing).
void restoreFilterSections(PluginMgr& plugins, const std::string& iniPath);
