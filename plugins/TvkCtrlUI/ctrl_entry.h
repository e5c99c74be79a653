// The plug-in's devices: one record per device with its "Tarvik Control" menu item, title and ini file,
// the control windows opened from the item or at "Start", and the device events that reach them.
// Events may arrive in any thread: records are guarded; windows are touched on the GUI thread only (work
// for them is queued there); the frame events reach a window's worker through a shared reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tvk_mgr.h"

class CTvkCtrlUIDialog;

// Creates the records and menu items of the devices known now: 0, or 1 when a record cannot be made.
int initControlWindows(const _MgrFuncTable* mgr);

// The event callbacks, subscribed by the entry.
void ctrlOnStart(intptr_t);
void ctrlOnExit(intptr_t);
void ctrlOnInfoMsg(intptr_t dev);
void ctrlOnAcqStarted(intptr_t dev);
void ctrlOnAcqCompleted(intptr_t dev);
void ctrlOnTvkDevChanged(intptr_t dev);
void ctrlOnTvkDevNew(intptr_t dev);

// The error callback of the control windows' previews: the preview's last error goes to the message list of
// the window that owns the preview. Any thread (the text is read at once, the list is filled on the GUI thread).
void ctrlOnPreviewError(uint32_t previewId);

// Opens (or focuses) the control window of a device; the menu item's action.
void openControlWindow(int devIndex);
// The open window of a device, or null. GUI thread.
CTvkCtrlUIDialog* controlWindow(int devIndex);
// The device's ini file ("<configs>/TvkCtrlUI_<chip-board id>.ini"); empty for an unknown device.
std::string controlIniPath(int devIndex);
// Forgets every record and window (tests; the "Exit" event does the same).
void resetControlWindows();
