#include "dep_scan_client.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace probing {

namespace {

using EndCallback = void (*)(uint32_t devId);

constexpr size_t kLastErrSize = 4096;

// The ends reported per device: 0 none yet, 1 finished, 2 failed.
struct ScanEnds {
    std::mutex mutex; // guards ends; the callbacks take it briefly, nothing is called under it
    std::condition_variable changed;
    std::map<uint32_t, int> ends;

    static ScanEnds& instance()
    {
        static ScanEnds* s = new ScanEnds; // the scan's worker may report after this module's statics went
        return *s;
    }
    void set(uint32_t dev, int end)
    {
        {
            std::lock_guard<std::mutex> guard(mutex);
            ends[dev] = end;
        }
        changed.notify_all();
    }
};

void onFinished(uint32_t dev) { ScanEnds::instance().set(dev, 1); }
void onError(uint32_t dev) { ScanEnds::instance().set(dev, 2); }

const char* const kNames[DepScanClient::kFnCount] = {
    "DepScanShowWnd", "DepScanCloseWnd", "DepScanSetIniFile", "DepScanHideOnClose", "DepScanStart",
    "DepScanAbort",   "DepScanSaveImage", "DepScanGetLastErr", "DepScanSetCbFinished", "DepScanSetCbError"};

} // namespace

void DepScanClient::bind(const _MgrFuncTable* table)
{
    for (int i = 0; i < kFnCount; ++i) {
        funcs_[i] = Bound{};
        _FuncItem item{};
        if (table && table->mgrGetFuncItem && table->mgrGetFuncItem("equalizer", kNames[i], &item) == 0)
            funcs_[i] = Bound{item.callback, item.userData};
    }
    if (bound(SetCbFinished) && bound(SetCbError)) {
        // The callbacks are one per plug-in: the device id is the first input only by convention.
        const _FuncSlot finished[2] = {tvkSlotUint(0), tvkSlotPtr(reinterpret_cast<void*>(&onFinished))};
        const _FuncSlot failed[2] = {tvkSlotUint(0), tvkSlotPtr(reinterpret_cast<void*>(&onError))};
        call(SetCbFinished, finished, nullptr);
        call(SetCbError, failed, nullptr);
    } else { // without its end the scan cannot be awaited
        funcs_[Start] = Bound{};
    }
}

int DepScanClient::call(Fn fn, const _FuncSlot* in, void* const* out)
{
    const Bound& b = funcs_[fn];
    return b.callback ? b.callback(b.userData, in, out) : -1;
}

int DepScanClient::showWnd(unsigned dev, bool show, bool enable)
{
    const _FuncSlot in[3] = {tvkSlotUint(dev), tvkSlotInt(show), tvkSlotInt(enable)};
    return call(ShowWnd, in, nullptr);
}

int DepScanClient::start(unsigned dev, uint32_t mask, bool othersAtDefault, int from, int to, int step,
                         const char* path)
{
    if (!bound(Start))
        return -1;
    ScanEnds::instance().set(dev, 0);
    const _FuncSlot in[7] = {tvkSlotUint(dev), tvkSlotUint(mask), tvkSlotInt(othersAtDefault), tvkSlotInt(from),
                             tvkSlotInt(to),   tvkSlotInt(step),  tvkSlotPtr(path)};
    return call(Start, in, nullptr);
}

int DepScanClient::abort(unsigned dev)
{
    const _FuncSlot in[1] = {tvkSlotUint(dev)};
    return call(Abort, in, nullptr);
}

int DepScanClient::saveImage(unsigned dev, const std::string& path)
{
    const _FuncSlot in[2] = {tvkSlotUint(dev), tvkSlotPtr(path.c_str())};
    return call(SaveImage, in, nullptr);
}

std::string DepScanClient::lastError(unsigned dev)
{
    std::vector<char> text(kLastErrSize, 0);
    const _FuncSlot in[1] = {tvkSlotUint(dev)};
    void* out[1] = {text.data()};
    if (call(GetLastErr, in, out) != 0)
        return "unknown error";
    text.back() = 0;
    return text.data();
}

DepScanClient::End DepScanClient::waitEnd(unsigned dev, const std::atomic<bool>& abortFlag)
{
    ScanEnds& s = ScanEnds::instance();
    bool aborting = false;
    auto abortDeadline = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        const int end = s.ends[dev];
        if (end != 0)
            return aborting ? End::Aborted : end == 1 ? End::Finished : End::Failed;
        if (!aborting && abortFlag.load()) {
            aborting = true;
            abortDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            lock.unlock();
            abort(dev);
            lock.lock();
            continue;
        }
        if (aborting && std::chrono::steady_clock::now() >= abortDeadline)
            return End::Aborted;
        s.changed.wait_for(lock, std::chrono::milliseconds(50));
    }
}

} // namespace probing
