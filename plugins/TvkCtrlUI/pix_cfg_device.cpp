#include "pix_cfg_device.h"

#include <vector>

PixCfgResult editDevicePixCfg(const _MgrFuncTable* mgr, PreviewState& preview, int frameWidth, int frameHeight,
                              unsigned lockTimeoutMs, const char* busyText,
                              const std::function<bool(std::span<uint8_t>, const _DevInfo&)>& edit)
{
    const int dev = preview.devIndex();
    if (!mgr || dev < 0 || !mgr->tvkCtrlGetDevInfo || !mgr->tvkCtrlTryLockDevice || !mgr->tvkCtrlReleaseDevice ||
        !mgr->tvkCtrlGetSuperMatrixPixCfg || !mgr->tvkCtrlSetSuperMatrixPixCfg)
        return PixCfgResult::Failed;
    _DevInfo info{};
    if (mgr->tvkCtrlGetDevInfo(unsigned(dev), &info) != 0 || info.pixelCount <= 0 || info.rowLength <= 0)
        return PixCfgResult::Failed;
    if (frameWidth != info.rowLength || int64_t(frameWidth) * frameHeight != info.pixelCount)
        return PixCfgResult::SizeMismatch;
    // The lock call succeeds also when the lock was not obtained: only `locked` tells.
    int locked = 0;
    if (mgr->tvkCtrlTryLockDevice(unsigned(dev), &locked, lockTimeoutMs) != 0 || !locked) {
        preview.reportError(busyText);
        return PixCfgResult::Busy;
    }
    std::vector<uint8_t> cfg(size_t(info.pixelCount));
    PixCfgResult result = PixCfgResult::Failed;
    if (mgr->tvkCtrlGetSuperMatrixPixCfg(unsigned(dev), cfg.data(), uint32_t(cfg.size())) == 0 && edit(cfg, info) &&
        mgr->tvkCtrlSetSuperMatrixPixCfg(unsigned(dev), cfg.data(), uint32_t(cfg.size())) == 0)
        result = PixCfgResult::Done;
    mgr->tvkCtrlReleaseDevice(unsigned(dev));
    return result;
}

PixCfgResult applyPixCfg(const _MgrFuncTable* mgr, PreviewState& preview, int frameWidth, int frameHeight,
                         PixRect rect, PixField field, int value)
{
    return editDevicePixCfg(mgr, preview, frameWidth, frameHeight, 0, kPixCfgBusyMenuText,
                            [&](std::span<uint8_t> cfg, const _DevInfo& info) {
                                return applyPixCfg(cfg, info.rowLength, info.pixelCount / info.rowLength, rect, field,
                                                   value, info.chipType);
                            });
}
