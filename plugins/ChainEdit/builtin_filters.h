// The twelve built-in frame filters of the plug-in "chainedit": registration with the manager and the code
// that each runs on a frame. A filter changes the frame in place through the manager's frame operations and
// reports through the manager's log under the source "chainedit".
#pragma once

#include "tvk_mgr.h"

namespace chainedit {

inline constexpr const char* kPluginName = "chainedit";

// Registers the filters in table order with the manager whose table is given (kept for the plug-in's life):
// 0, or the first failing registration's code (logged).
int registerBuiltinFilters(const _MgrFuncTable* table);

} // namespace chainedit
