#include "pix_cfg_device.h"

#include <vector>

namespace {

// Whether the device's frames come in chip order (four chips, no conversion to the super matrix).
bool framesInChipOrder(const _MgrFuncTable* mgr, int dev, const _DevInfo& info)
{
    int toSuperMatrix = 1;
    return info.chipCount == 4 && mgr->tvkCtrlGetAutoConvToSM &&
           mgr->tvkCtrlGetAutoConvToSM(unsigned(dev), &toSuperMatrix) == 0 && toSuperMatrix == 0;
}

int readCfg(const _MgrFuncTable* mgr, int dev, bool chipOrder, std::vector<uint8_t>& cfg)
{
    if (chipOrder)
        return mgr->tvkCtrlGetPixelsCfg ? mgr->tvkCtrlGetPixelsCfg(unsigned(dev), cfg.data(), uint32_t(cfg.size()), -1)
                                        : -1;
    return mgr->tvkCtrlGetSuperMatrixPixCfg(unsigned(dev), cfg.data(), uint32_t(cfg.size()));
}

int writeCfg(const _MgrFuncTable* mgr, int dev, bool chipOrder, std::vector<uint8_t>& cfg)
{
    if (chipOrder)
        return mgr->tvkCtrlSetPixelsCfg ? mgr->tvkCtrlSetPixelsCfg(unsigned(dev), cfg.data(), uint32_t(cfg.size()), -1)
                                        : -1;
    return mgr->tvkCtrlSetSuperMatrixPixCfg(unsigned(dev), cfg.data(), uint32_t(cfg.size()));
}

} // namespace

int readPixelCfg(const _MgrFuncTable* mgr, int dev, int x, int y)
{
    _DevInfo info{};
    if (!mgr || dev < 0 || !mgr->tvkCtrlGetDevInfo || !mgr->tvkCtrlGetSuperMatrixPixCfg ||
        mgr->tvkCtrlGetDevInfo(unsigned(dev), &info) != 0 || info.pixelCount <= 0 || info.rowLength <= 0)
        return -1;
    const int height = info.pixelCount / info.rowLength;
    if (x < 0 || y < 0 || x >= info.rowLength || y >= height)
        return -1;
    std::vector<uint8_t> cfg(size_t(info.pixelCount));
    if (readCfg(mgr, dev, framesInChipOrder(mgr, dev, info), cfg) != 0)
        return -1;
    return cfg[size_t(y) * size_t(info.rowLength) + size_t(x)];
}

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
    const bool chipOrder = framesInChipOrder(mgr, dev, info);
    std::vector<uint8_t> cfg(size_t(info.pixelCount));
    PixCfgResult result = PixCfgResult::Failed;
    if (readCfg(mgr, dev, chipOrder, cfg) == 0 && edit(cfg, info) && writeCfg(mgr, dev, chipOrder, cfg) == 0)
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
