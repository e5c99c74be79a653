// A manager with one device and a frame store, reached through the function table, for the preview
// window's tests: frames by id (size, data, attributes, load and close with a count of those open), the
// device's last acquisition, service frames, lock and pixel configuration in super-matrix or chip order.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <map>
#include <string>
#include <vector>

#include "tvk_mgr.h"

struct FakeDevice {
    int width = 8, height = 8, chipType = 3, chipCount = 1;
    int autoConvToSM = 1;
    int polarity = 0;
    bool busy = false;
    std::vector<uint8_t> cfg = std::vector<uint8_t>(64, 1);      // super-matrix order
    std::vector<uint8_t> chipCfg = std::vector<uint8_t>(64, 1);  // chip order (chip -1)
    std::map<uint32_t, std::vector<double>> frames;              // id -> values (width x height)
    std::vector<uint32_t> acqFrames;                              // the last acquisition's frame ids
    std::map<uint32_t, uint32_t> serviceFrames;                   // type -> id
    int loadedOpen = 0;                                           // frames loaded from files, not closed
    uint32_t nextId = 100;
    int cfgWrites = 0;
    bool managerThrows = false;                                   // a fault inside the manager's frame calls
    std::vector<std::pair<int, std::string>> logged;              // mgrLogMsg's flags and texts
    std::function<void()> onLog;                                  // run inside mgrLogMsg

    uint32_t addFrame(double fill)
    {
        frames[nextId] = std::vector<double>(size_t(width) * height, fill);
        return nextId++;
    }
};

inline FakeDevice* gDev = nullptr;

inline int fakeLogMsg(const char*, const char* fmt, int flags, ...)
{
    char text[1024];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    gDev->logged.emplace_back(flags, text);
    if (gDev->onLog)
        gDev->onLog();
    return 0;
}

inline _MgrFuncTable fakeDeviceTable()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.mgrGetFrameSize = [](uint32_t id, uint32_t* w, uint32_t* h) {
        if (!gDev->frames.count(id))
            return -200;
        *w = uint32_t(gDev->width);
        *h = uint32_t(gDev->height);
        return 0;
    };
    t.mgrGetFrameData = [](uint32_t id, void* b, uint32_t* size, int) {
        if (gDev->managerThrows)
            throw std::runtime_error("simulated fault");
        auto it = gDev->frames.find(id);
        if (it == gDev->frames.end() || *size < it->second.size() * sizeof(double))
            return -200;
        std::memcpy(b, it->second.data(), it->second.size() * sizeof(double));
        *size = uint32_t(it->second.size() * sizeof(double));
        return 0;
    };
    t.mgrLoadFrame = [](uint32_t* out, const char* path) {
        if (std::string(path).find("bad") != std::string::npos)
            return -1;
        *out = gDev->addFrame(7);
        ++gDev->loadedOpen;
        return 0;
    };
    t.mgrCloseFrame = [](uint32_t id, uint32_t* refs) {
        if (!gDev->frames.erase(id))
            return -200;
        --gDev->loadedOpen;
        if (refs)
            *refs = 0;
        return 0;
    };
    t.mgrGetServiceFrame = [](int, uint32_t type, uint32_t* out) {
        auto it = gDev->serviceFrames.find(type);
        if (it == gDev->serviceFrames.end())
            return -1;
        *out = it->second;
        return 0;
    };
    t.tvkCtrlGetDevInfo = [](unsigned, _DevInfo* info) {
        *info = _DevInfo{};
        info->pixelCount = gDev->width * gDev->height;
        info->rowLength = gDev->width;
        info->chipCount = gDev->chipCount;
        info->chipType = gDev->chipType;
        return 0;
    };
    t.tvkCtrlGetFrameID = [](unsigned, int index, uint32_t* id) {
        if (index < 0 || size_t(index) >= gDev->acqFrames.size())
            return -1;
        *id = gDev->acqFrames[size_t(index)];
        return 0;
    };
    t.tvkCtrlGetAcqInfo = [](unsigned, int* index, int* count, int* kind, int* done) {
        if (gDev->managerThrows)
            throw std::runtime_error("simulated fault");
        *index = 0;
        *count = int(gDev->acqFrames.size());
        *kind = 0;
        *done = int(gDev->acqFrames.size());
        return 0;
    };
    t.mgrLogMsg = fakeLogMsg;
    t.tvkCtrlTryLockDevice = [](unsigned, int* locked, unsigned) {
        *locked = gDev->busy ? 0 : 1;
        return 0; // also when not locked: only `locked` tells
    };
    t.tvkCtrlReleaseDevice = [](unsigned) { return 0; };
    t.tvkCtrlGetSuperMatrixPixCfg = [](unsigned, uint8_t* cfg, uint32_t size) {
        if (size != gDev->cfg.size())
            return -1;
        std::memcpy(cfg, gDev->cfg.data(), size);
        return 0;
    };
    t.tvkCtrlSetSuperMatrixPixCfg = [](unsigned, const uint8_t* cfg, uint32_t size) {
        if (size != gDev->cfg.size())
            return -1;
        std::memcpy(gDev->cfg.data(), cfg, size);
        ++gDev->cfgWrites;
        return 0;
    };
    t.tvkCtrlGetPixelsCfg = [](unsigned, uint8_t* cfg, uint32_t size, int chip) {
        if (chip != -1 || size != gDev->chipCfg.size())
            return -1;
        std::memcpy(cfg, gDev->chipCfg.data(), size);
        return 0;
    };
    t.tvkCtrlSetPixelsCfg = [](unsigned, uint8_t* cfg, uint32_t size, int chip) {
        if (chip != -1 || size != gDev->chipCfg.size())
            return -1;
        std::memcpy(gDev->chipCfg.data(), cfg, size);
        ++gDev->cfgWrites;
        return 0;
    };
    t.tvkCtrlGetAutoConvToSM = [](unsigned, int* on) {
        *on = gDev->autoConvToSM;
        return 0;
    };
    t.tvkCtrlGetPolarity = [](unsigned, int* p) {
        *p = gDev->polarity;
        return 0;
    };
    return t;
}
