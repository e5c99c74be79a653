// Binding to the preview windows of the device-control plug-in: its registered functions looked up by
// name in the manager's registry (at the "Start" event, once every plug-in is loaded) and called through
// the registered-function convention of tvk_mgr.h. Every wrapper returns -1 while its function is not
// bound; otherwise the function's own result.
#pragma once

#include <cstdint>

#include "tvk_mgr.h"

// Notification callback of a preview (error, close): the preview's id.
using PrevWndCallback = void (*)(uint32_t previewId);

// Size of the text that "PrevWndGetLastErr" fills, terminating zero included.
constexpr size_t kPrevWndErrorSize = 4096;

// Looks the ten functions up in the plug-in's table (plugin_table.h); a name that is not found keeps its
// previous binding. Returns the number of names not found (0: all bound). Call from the "Start" handler.
int bindPrevWndApi();
// The same over the given table (tests).
int bindPrevWndApi(const _MgrFuncTable* table);
// Forgets every binding (before the plug-in is unloaded, or between tests).
void unbindPrevWndApi();

int prevWndCreate(uint32_t width, uint32_t height, bool destroyOnClose, const char* iniPath, uint32_t* previewId);
int prevWndCreateDevID(int devId, bool destroyOnClose, const char* iniPath, uint32_t* previewId);
int prevWndDestroy(uint32_t previewId);
int prevWndAutoUpdate(uint32_t previewId, bool autoUpdate);
int prevWndShowFrame(uint32_t previewId, uint32_t frameId);
int prevWndSetCaption(uint32_t previewId, const char* caption);
int prevWndShow(uint32_t previewId, bool visible);
int prevWndSetErrorCb(uint32_t previewId, PrevWndCallback callback);
int prevWndSetCloseCb(uint32_t previewId, PrevWndCallback callback);
// text: kPrevWndErrorSize characters.
int prevWndGetLastErr(uint32_t previewId, char* text);

// The usual opening of a device's preview: create it (hide on close, settings in iniPath), then, each when
// bound, auto update off, the error callback, the close callback (when given), the caption and the
// visibility. Returns the create's result; on 0 *previewId holds the new preview.
int prevWndOpenForDevice(int devId, const char* iniPath, PrevWndCallback errorCallback, PrevWndCallback closeCallback,
                         const char* caption, bool visible, uint32_t* previewId);
