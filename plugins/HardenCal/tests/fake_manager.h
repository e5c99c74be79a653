// A manager function table whose device, frame, log and function entries the test answers: devices with
// a shape and the frames of their last acquisition, frames of the frame store with attributes, the
// registered functions and the log lines.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tvk_mgr.h"

namespace hcaltest {

struct FakeDevice {
    int chips = 1;
    int rows = 1;
    std::string chipboard;
    std::string interfaceName = "dummy";
    bool infoFails = false;
    struct Frame {
        std::vector<double> counts;
        std::optional<double> acqTime;
    };
    std::vector<Frame> frames; // the last acquisition
};

struct FakeFrame {
    int type = TYPE_U32;
    uint32_t width = 256;
    uint32_t height = 256;
    std::vector<double> data; // values of any element type
    std::optional<std::string> chipboard;
    std::optional<double> acqTime;
    bool locked = false;
};

struct FakeManager {
    std::mutex mutex; // guards everything below
    std::map<unsigned, FakeDevice> devices;
    std::map<uint32_t, FakeFrame> frames;
    std::vector<_FuncItem> functions;
    std::vector<std::string> log;
    std::string configsDir;

    static FakeManager& get()
    {
        static FakeManager m;
        return m;
    }
    void reset()
    {
        std::lock_guard lock(mutex);
        devices.clear();
        frames.clear();
        functions.clear();
        log.clear();
        configsDir.clear();
    }
    bool logged(const std::string& text)
    {
        std::lock_guard lock(mutex);
        for (const auto& l : log)
            if (l == text)
                return true;
        return false;
    }
    const _FuncItem* function(const std::string& name)
    {
        for (const auto& f : functions)
            if (name == f.function)
                return &f;
        return nullptr;
    }
};

inline FakeManager& fake()
{
    return FakeManager::get();
}

namespace fakeimpl {

inline int logMsg(const char* source, const char* fmt, int flags, ...)
{
    char text[2048];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::lock_guard lock(fake().mutex);
    fake().log.push_back(std::string(source) == "HardenCal" ? text : std::string(source) + ": " + text);
    return 0;
}

inline int configsDir(char* buf)
{
    std::lock_guard lock(fake().mutex);
    std::snprintf(buf, MGR_PATH_SIZE, "%s", fake().configsDir.c_str());
    return 0;
}

inline int addFunc(_FuncItem* item)
{
    std::lock_guard lock(fake().mutex);
    for (const auto& f : fake().functions)
        if (std::strcmp(f.function, item->function) == 0)
            return MGR_ERR_FUNC_EXISTS;
    item->id = static_cast<int32_t>(fake().functions.size() + 1);
    fake().functions.push_back(*item);
    return 0;
}

inline int removeFunc(const char*, const char* name)
{
    std::lock_guard lock(fake().mutex);
    auto& fs = fake().functions;
    for (auto it = fs.begin(); it != fs.end(); ++it)
        if (std::strcmp(it->function, name) == 0) {
            fs.erase(it);
            return 0;
        }
    return MGR_ERR_NO_FUNC;
}

inline int firstTvk(unsigned* dev, int* count)
{
    std::lock_guard lock(fake().mutex);
    if (count)
        *count = static_cast<int>(fake().devices.size());
    if (fake().devices.empty())
        return 1;
    *dev = fake().devices.begin()->first;
    return 0;
}

inline int nextTvk(unsigned* dev)
{
    std::lock_guard lock(fake().mutex);
    const auto it = fake().devices.upper_bound(*dev);
    if (it == fake().devices.end())
        return 1;
    *dev = it->first;
    return 0;
}

inline int tarvikInfo(unsigned dev, int* chips, int* rows, char* chipboard, char* interfaceName)
{
    std::lock_guard lock(fake().mutex);
    const auto it = fake().devices.find(dev);
    if (it == fake().devices.end())
        return TVK_ERR_DEV_INDEX;
    if (it->second.infoFails)
        return TVK_ERR_GENERIC;
    if (chips)
        *chips = it->second.chips;
    if (rows)
        *rows = it->second.rows;
    if (chipboard)
        std::snprintf(chipboard, 64, "%s", it->second.chipboard.c_str());
    if (interfaceName)
        std::snprintf(interfaceName, 64, "%s", it->second.interfaceName.c_str());
    return 0;
}

inline int frameDouble(unsigned dev, double* buffer, uint32_t size, int index)
{
    std::lock_guard lock(fake().mutex);
    const auto it = fake().devices.find(dev);
    if (it == fake().devices.end())
        return TVK_ERR_DEV_INDEX;
    if (index < 0 || static_cast<size_t>(index) >= it->second.frames.size())
        return TVK_ERR_NO_LAST_FRAME;
    const auto& counts = it->second.frames[static_cast<size_t>(index)].counts;
    if (size < counts.size())
        return TVK_ERR_BUFFER_SMALL;
    std::memcpy(buffer, counts.data(), counts.size() * sizeof(double));
    return 0;
}

// The last acquisition: kept frames (kind 0), every one of them done; none is no acquisition.
inline int acqInfo(unsigned dev, int* frameIndex, int* frameCount, int* kind, int* framesDone)
{
    std::lock_guard lock(fake().mutex);
    const auto it = fake().devices.find(dev);
    if (it == fake().devices.end())
        return TVK_ERR_DEV_INDEX;
    const int n = static_cast<int>(it->second.frames.size());
    if (n == 0)
        return TVK_ERR_GENERIC;
    for (auto [out, value] : {std::pair{frameIndex, n - 1}, {frameCount, n}, {kind, 0}, {framesDone, n}})
        if (out)
            *out = value;
    return 0;
}

inline int devFrameAttrib(unsigned dev, int index, const char* name, void* data, uint32_t* size, int* type)
{
    std::lock_guard lock(fake().mutex);
    const auto it = fake().devices.find(dev);
    if (it == fake().devices.end())
        return TVK_ERR_DEV_INDEX;
    if (index < 0 || static_cast<size_t>(index) >= it->second.frames.size())
        return TVK_ERR_NO_LAST_FRAME;
    const auto& t = it->second.frames[static_cast<size_t>(index)].acqTime;
    if (std::string(name) != "Acq time" || !t)
        return FRAME_ERR_NO_ATTRIB;
    if (*size >= sizeof(double))
        std::memcpy(data, &*t, sizeof(double));
    *size = sizeof(double);
    *type = TYPE_DOUBLE;
    return 0;
}

inline FakeFrame* frame(uint32_t id)
{
    const auto it = fake().frames.find(id);
    return it == fake().frames.end() ? nullptr : &it->second;
}

inline int frameType(uint32_t id, int* type)
{
    std::lock_guard lock(fake().mutex);
    FakeFrame* f = frame(id);
    if (!f)
        return FRAME_ERR_NOT_FOUND;
    *type = f->type;
    return 0;
}

inline int setFrameType(uint32_t id, int type)
{
    std::lock_guard lock(fake().mutex);
    FakeFrame* f = frame(id);
    if (!f)
        return FRAME_ERR_NOT_FOUND;
    f->type = type;
    return 0;
}

inline int frameSize(uint32_t id, uint32_t* w, uint32_t* h)
{
    std::lock_guard lock(fake().mutex);
    FakeFrame* f = frame(id);
    if (!f)
        return FRAME_ERR_NOT_FOUND;
    *w = f->width;
    *h = f->height;
    return 0;
}

inline int frameAttrib(uint32_t id, const char* name, void* buffer, uint32_t* size, int* type)
{
    std::lock_guard lock(fake().mutex);
    FakeFrame* f = frame(id);
    if (!f)
        return FRAME_ERR_NOT_FOUND;
    const std::string n = name;
    if (n == "ChipboardID" && f->chipboard) {
        const uint32_t need = static_cast<uint32_t>(f->chipboard->size() + 1);
        std::memcpy(buffer, f->chipboard->c_str(), std::min(*size, need));
        *size = need;
        *type = TYPE_UCHAR;
        return 0;
    }
    if (n == "Acq time" && f->acqTime) {
        std::memcpy(buffer, &*f->acqTime, std::min<uint32_t>(*size, sizeof(double)));
        *size = sizeof(double);
        *type = TYPE_DOUBLE;
        return 0;
    }
    return FRAME_ERR_NO_ATTRIB;
}

inline int frameData(uint32_t id, void* buffer, uint32_t* size, int type)
{
    std::lock_guard lock(fake().mutex);
    FakeFrame* f = frame(id);
    if (!f)
        return FRAME_ERR_NOT_FOUND;
    if (type != TYPE_DOUBLE)
        return TVK_ERR_PARAM;
    const uint32_t need = static_cast<uint32_t>(f->data.size() * sizeof(double));
    if (*size < need)
        return TVK_ERR_BUFFER_SMALL;
    std::memcpy(buffer, f->data.data(), need);
    *size = need;
    return 0;
}

inline int lockedBuffer(uint32_t id, void** buffer, uint32_t* size, uint32_t)
{
    std::lock_guard lock(fake().mutex);
    FakeFrame* f = frame(id);
    if (!f)
        return FRAME_ERR_NOT_FOUND;
    if (f->type != TYPE_DOUBLE)
        return TVK_ERR_PARAM; // the fake keeps doubles only for double frames
    f->locked = true;
    *buffer = f->data.data();
    *size = static_cast<uint32_t>(f->data.size() * sizeof(double));
    return 0;
}

inline int unlockFrame(uint32_t id)
{
    std::lock_guard lock(fake().mutex);
    FakeFrame* f = frame(id);
    if (!f || !f->locked)
        return TVK_ERR_NOT_LOCK_OWNER;
    f->locked = false;
    return 0;
}

} // namespace fakeimpl

inline _MgrFuncTable fakeTable()
{
    using namespace fakeimpl;
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.mgrGetConfigsDir = configsDir;
    t.mgrLogMsg = logMsg;
    t.mgrAddFuncItem = addFunc;
    t.mgrRemoveFuncItem = removeFunc;
    t.tvkCtrlGetFirstTvk = firstTvk;
    t.tvkCtrlGetNextTvk = nextTvk;
    t.tvkCtrlGetTarvikInfo = tarvikInfo;
    t.tvkCtrlGetFrameDouble = frameDouble;
    t.tvkCtrlGetFrameAttrib = devFrameAttrib;
    t.tvkCtrlGetAcqInfo = acqInfo;
    t.mgrGetFrameType = frameType;
    t.mgrSetFrameType = setFrameType;
    t.mgrGetFrameSize = frameSize;
    t.mgrGetFrameAttrib = frameAttrib;
    t.mgrGetFrameData = frameData;
    t.mgrGetLockedFrameBuff = lockedBuffer;
    t.mgrUnlockFrame = unlockFrame;
    return t;
}

} // namespace hcaltest
