// The pixel menu's edits carried out on the bound device: size check, device lock, read, edit, write,
// release. No Qt here; the window shows the size box and refreshes.
#pragma once

#include <functional>
#include <span>

#include "pix_cfg_edit.h"
#include "preview_state.h"
#include "tvk_hw.h"
#include "tvk_mgr.h"

enum class PixCfgResult { Done, SizeMismatch, Busy, Failed };

// Shown when the frame does not have the device's size.
constexpr const char* kPixCfgSizeText = "Current frame size is not same as device size, cannot set pix. cfg.";
// Last errors of a busy device: the menu commands (no wait), the threshold commands (500 ms).
constexpr const char* kPixCfgBusyMenuText = "Cannot lock device for setting mask (another operation in progress).";
constexpr const char* kPixCfgBusyThresholdText =
    "Cannot lock device for setting pix. cfg. (another operation in progress).";

// Runs edit over the device's whole configuration matrix under its lock (waiting at most lockTimeoutMs).
// The frame must have the device's size (pixel count and row length). Busy: the last error of the
// preview is set to busyText and its error callback called. Nothing is written unless edit returns true.
// The matrix is in the order the device's frames show: a 4-chip device that does not convert its frames
// to the super matrix shows chip order, and is then edited in chip order.
PixCfgResult editDevicePixCfg(const _MgrFuncTable* mgr, PreviewState& preview, int frameWidth, int frameHeight,
                              unsigned lockTimeoutMs, const char* busyText,
                              const std::function<bool(std::span<uint8_t> cfg, const _DevInfo& info)>& edit);

// The configuration byte of frame pixel (x, y) of the device, or -1 when it cannot be read.
int readPixelCfg(const _MgrFuncTable* mgr, int devIndex, int x, int y);

// A pixel-menu command: field = value over the rectangle (frame coordinates), without waiting for the lock.
PixCfgResult applyPixCfg(const _MgrFuncTable* mgr, PreviewState& preview, int frameWidth, int frameHeight,
                         PixRect rect, PixField field, int value);
