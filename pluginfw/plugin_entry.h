// The entry of every plug-in built on the skeletons:
//
//   extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
//   {
//       return initTvkPlugin(table, [](const _MgrFuncTable* t) { return gTool.init(t); });
//   }
//
// A table of another interface version is refused before any of its entries is used: a warning box
// "Plugin version check failed" names the plug-in (its module name in lower case) and both versions, and
// the result is -1 with nothing registered. Otherwise the table becomes the plug-in-wide one (pluginTable(),
// plugin_table.h), the reports of the plug-in's worker threads are
// sent to the manager's log (with a warning box), and the plug-in's initialisation runs and its result is
// returned.
#pragma once

#include <functional>

#include "tvk_export.h"
#include "tvk_mgr.h"

int initTvkPlugin(const _MgrFuncTable* table, const std::function<int(const _MgrFuncTable*)>& init);
