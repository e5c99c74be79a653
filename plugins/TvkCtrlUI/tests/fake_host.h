// A window stand-in for the preview functions: records what reaches it, and takes a queued refresh the way
// the window does.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "prev_wnd_funcs.h"

struct FakeHost : PreviewHost {
    std::shared_ptr<PreviewState> state;
    std::mutex m; // guards the records below
    std::vector<bool> shows;
    std::string caption;
    std::atomic<int> destroys{0}, refreshes{0}, rebinds{0}, pixCfgs{0};
    std::atomic<int> knownFrame{1}; // the one frame id that "exists"

    void show(bool visible) override { std::lock_guard l(m); shows.push_back(visible); }
    void setCaption(const std::string& c) override { std::lock_guard l(m); caption = c; }
    int showFrame(uint32_t frameId) override
    {
        if (int(frameId) == knownFrame)
            return 0;
        state->reportError("Frame " + std::to_string(frameId) + " not found.");
        return -1;
    }
    void destroy() override { ++destroys; }
    void refresh() override { ++refreshes; }
    void rebind() override { ++rebinds; }
    void pixCfgChanged() override { ++pixCfgs; }
};

// A factory that makes FakeHosts and keeps them for the test (registered ones and all).
struct FakeFactory {
    std::mutex m; // guards hosts
    std::vector<std::shared_ptr<FakeHost>> hosts;
    std::atomic<int> made{0};

    int operator()(const PrevCreateRequest& r)
    {
        auto host = std::make_shared<FakeHost>();
        host->state = std::make_shared<PreviewState>(r.devIndex, r.destroyOnClose, r.iniPath);
        host->state->setVisible(true);
        ++made;
        {
            std::lock_guard l(m);
            hosts.push_back(host);
        }
        return int(prevWndService().registry().add({host->state, host}));
    }
    std::shared_ptr<FakeHost> hostOf(uint32_t id)
    {
        auto e = prevWndService().registry().find(id);
        return e ? std::static_pointer_cast<FakeHost>(e->host) : nullptr;
    }
};

// Calls of the registered functions as another plug-in makes them.
inline int callCreate(int64_t w, int64_t h, bool destroyOnClose, const char* ini, uint32_t* id)
{
    const _FuncSlot in[] = {tvkSlotInt(w), tvkSlotInt(h), tvkSlotInt(destroyOnClose), tvkSlotPtr(ini)};
    void* out[] = {id};
    return PrevWndCreate(nullptr, in, out);
}
inline int callCreateDev(int64_t dev, uint32_t* id)
{
    const _FuncSlot in[] = {tvkSlotInt(dev), tvkSlotInt(1), tvkSlotPtr("")};
    void* out[] = {id};
    return PrevWndCreateDevID(nullptr, in, out);
}
inline int callId(FuncItemCallback f, uint32_t id)
{
    const _FuncSlot in[] = {tvkSlotUint(id), tvkSlotUint(0)};
    return f(nullptr, in, nullptr);
}
inline int callIdValue(FuncItemCallback f, uint32_t id, _FuncSlot value)
{
    const _FuncSlot in[] = {tvkSlotUint(id), value};
    return f(nullptr, in, nullptr);
}
inline int callOut(FuncItemCallback f, uint32_t id, void* buffer)
{
    const _FuncSlot in[] = {tvkSlotUint(id)};
    void* out[] = {buffer};
    return f(nullptr, in, out);
}
