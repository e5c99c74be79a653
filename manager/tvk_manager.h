// The manager's life, driven by the loader: connect the user interface, start, pump messages, exit and
// unload. Only the loader calls these; plug-ins reach the manager through _MgrFuncTable.
//
// Order of calls in the loader:
//   mgrSetUiHooks(&hooks, &utilsEntries);   // before anything else; may be called again with nulls
//   mgrInitManager();                       // devices, plug-ins, filters, "Start"
//   ... mgrMessageHandler(&msg) for every message of the main thread ...
//   mgrExitManager();                       // ini sections, "Exit", devices gone (tray "Exit")
//   mgrUnloadManager();                     // plug-ins unloaded, frames and registries freed; before the
//                                           // Qt application ends
// Every export is also available as `_name`.
#pragma once

#include <stdint.h>

#include "tvk_export.h"
#include "tvk_mgr.h"

#ifdef __cplusplus
class MgrUiHooks;
#else
typedef struct MgrUiHooks MgrUiHooks;
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Entry points of the utilities library that the manager calls. The manager does not link that library;
// the loader links both and hands these over. Any entry may be null (it is then skipped).
typedef struct MgrUtilsEntries {
    uint32_t size;                                     // sizeof(MgrUtilsEntries); a smaller record is refused
    int (*utilsMsgHandler)(TvkMsg* msg);                // the utilities' own windows; non-zero consumes
    int (*setIntFuncTable)(const _IntFuncTable* table); // receives the manager's internal table
    int (*logShowWindow)(int show);                     // slot mgrLogShowWindow
    int (*managedItemsShowWindow)(void);                // slot mgrManagedItemsShowWindow
} MgrUtilsEntries;

// Installs the user interface: hooks (message boxes, questions, message windows, tray menu items; null =
// none, boxes answered OK / No) and the utilities entries (null = none). setIntFuncTable is called at once
// with the manager's internal table. The hooks object must outlive the manager or be replaced first.
// 0, or -2 for an entries record whose size is too small.
TVK_EXPORT int mgrSetUiHooks(MgrUiHooks* hooks, const MgrUtilsEntries* entries);

// Start-up: paths, device-control library, devices and their service frames, the plug-ins of [Plugins],
// filter instances and chains, then "Start". 0, or -1 when the manager's own path cannot be read; a second
// call returns -1 and does nothing.
TVK_EXPORT int mgrInitManager(void);

// Shut-down: after a completed start writes [Plugins], [Filter instances] and [Filter chains], then fires
// "Exit" and closes the device-control library. Runs once; later calls return 0 at once.
TVK_EXPORT int mgrExitManager(void);

// Offers a message of the main thread to the utilities library, then to each plug-in handler in
// ascending handler address: 1 when one consumed it, else 0.
TVK_EXPORT int mgrMessageHandler(TvkMsg* msg);

// Runs the exit of mgrExitManager when that has not run, unloads every plug-in (dropping first whatever
// of its code the manager still holds), frees the frames and the registries and closes the log. Call it
// before the GUI ends; the hooks object may be destroyed afterwards. A later call of any export makes a
// fresh manager, which can be started again.
TVK_EXPORT int mgrUnloadManager(void);

// Two exports of the plug-in table that the loader and the utilities library call by name: the log, and
// the description of a filter chain that the managed-items window shows.
TVK_EXPORT int mgrLogMsg(const char* source, const char* fmt, int flags, ...) __attribute__((format(printf, 2, 4)));
TVK_EXPORT int mgrGetFilterChainInfo(int chainId, _FilterChainDesc* out);

#ifdef __cplusplus
}
#endif
