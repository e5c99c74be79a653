// Exports of the utilities library TvkMgrUtils: the tray menu, the log window, message windows and the
// managed-items window. The manager reaches them through the entries and hooks that the loader hands it
// (manager/tvk_manager.h, mgrSetUiHooks); the library calls the manager back only through the internal
// table it receives with setIntFuncTable (and the chain-info function the loader gives it).
#pragma once

#include <stdarg.h>

#include "tvk_export.h"
#include "tvk_mgr.h"

#ifdef __cplusplus
class MgrUiHooks;
extern "C" {
#else
typedef struct MgrUiHooks MgrUiHooks;
#endif

// Stores the manager's internal table (null forgets it): 0.
TVK_EXPORT int setIntFuncTable(const _IntFuncTable* table);
// The library's own share of message handling: Qt gives its modeless windows their keyboard handling
// itself, so nothing is consumed here. 0.
TVK_EXPORT int utilsMsgHandler(TvkMsg* msg);
// Shows (non-zero) or hides the log window: 0, or -1 when the library has not started (or has ended).
// From another thread the request is queued to the GUI thread and 0 means only that it was queued.
TVK_EXPORT int logShowWindow(int show);
// Opens the managed-items window, or restores and focuses the open one: 0, or -1 before the start.
TVK_EXPORT int managedItemsShowWindow(void);
// A message window titled title with the text that fmt and args give (no length limit), from any
// thread: 0, or -1 when it cannot be shown.
TVK_EXPORT int showMsgWindow(const char* title, const char* fmt, va_list args);

// Tray-menu items of plug-ins, from any thread (the manager calls with its registry locks held): the
// change is posted to the GUI thread, made there in call order and not waited for. utilsAddMenuItem: 0,
// or -1 for a null item name (when all of the 1000 command ids are in use, the item is left out of the
// menu). utilsRemoveMenuItem, utilsRenameMenuItem: 0 (an unknown id changes nothing). Each gives -1 when
// the change cannot be queued (memory runs out).
TVK_EXPORT int utilsAddMenuItem(const char* itemName, const char* menuPath, int mgrItemId);
TVK_EXPORT int utilsRemoveMenuItem(int mgrItemId);
TVK_EXPORT int utilsRenameMenuItem(int mgrItemId, const char* newText);
// Renames the sub-menu entry oldText under parentPath ('|'-separated; null: the top of the tray menu),
// keeping its place and items; posted like the other changes, so the result is 0 (a missing path
// component or entry then changes nothing).
TVK_EXPORT int utilsRenameSubMenu(const char* parentPath, const char* oldText, const char* newText);

// ---- used by the loader only ----

// Library start, on the GUI thread after the application exists: the tray (or its fallback window),
// the splash unless disabled, the hidden log window. 0, or -1 when a window cannot be made.
TVK_EXPORT int utilsStart(void);
// Library end, before the application goes: closes every window and writes the splash setting.
TVK_EXPORT void utilsEnd(void);
// The tray's Exit (the manager shuts down, then the event loop quits); queued from other threads and
// held back while the manager is starting.
TVK_EXPORT void utilsRequestExit(void);
// Non-zero from the loader's start until mgrInitManager has returned: an Exit asked for meanwhile waits,
// and clearing the flag runs it.
TVK_EXPORT void utilsSetManagerStarting(int starting);
// Whether Exit has been asked for (and run, or pending).
TVK_EXPORT int utilsExitRequested(void);
// The function that reads a filter chain's description (mgrGetFilterChainInfo).
TVK_EXPORT void utilsSetChainInfoFunc(int (*getChainInfo)(int chainId, _FilterChainDesc* out));
// What the manager asks of the user interface, implemented over these windows.
TVK_EXPORT MgrUiHooks* utilsUiHooks(void);

#ifdef __cplusplus
}
#endif
