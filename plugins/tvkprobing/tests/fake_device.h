// One simulated device behind a manager function table, with the slots a probing run uses: a single
// chip of type 1 whose digital test and test pulses show a chosen set of bad pixels, an equalizer whose
// dependency scan ends at once through the callbacks it was given (or none), a preview plug-in that records
// its calls (or none), and faults to inject.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tvk_mgr.h"

namespace probetest {

struct FakeDevice {
    // Settings of the test.
    std::string interfaceName = "dorvel";
    std::set<int> badPixels;      // digitally bad and dead in the ANIN test
    int digitalFailures = 0;      // the first n digital tests fail
    bool reconnectFails = false;
    bool busy = false;            // the device lock cannot be taken
    bool withEqualizer = true;
    bool scanFails = false;
    bool withPreview = true;

    // What happened.
    std::atomic<int> reconnects{0};
    std::atomic<int> digitalTests{0};
    std::atomic<int> pulseAcqs{0};
    std::atomic<int> locks{0};
    std::atomic<int> releases{0};
    std::vector<std::string> saved; // guarded by mutex
    std::vector<std::string> scans;
    std::vector<std::string> previewCalls; // "<function> <inputs>"
    std::atomic<uint32_t> frameId{0};      // raised by every acquisition
    std::mutex mutex;
    std::vector<uint16_t> dacs{400, 100};
    std::vector<uint8_t> pixels = std::vector<uint8_t>(65536, 3); // enabled, test input off

    std::vector<int16_t> frame = std::vector<int16_t>(65536, 0);
    void (*onFinished)(uint32_t) = nullptr;
    void (*onError)(uint32_t) = nullptr;

    static FakeDevice*& current()
    {
        static FakeDevice* d = nullptr;
        return d;
    }

    _MgrFuncTable table() const
    {
        _MgrFuncTable t{};
        t.version = MGR_INTERFACE_VERSION;
        t.tvkCtrlGetDevInfo = [](unsigned, _DevInfo* info) {
            *info = _DevInfo{};
            info->chipCount = 1;
            info->chipType = 1;
            info->pixelCount = 65536;
            info->rowLength = 256;
            std::strcpy(info->chipboardId, "F1");
            info->interfaceName = current()->interfaceName.c_str();
            return 0;
        };
        t.tvkCtrlTryLockDevice = [](unsigned, int* locked, unsigned) {
            *locked = current()->busy ? 0 : 1;
            if (*locked)
                ++current()->locks;
            return 0;
        };
        t.tvkCtrlReleaseDevice = [](unsigned) {
            ++current()->releases;
            return 0;
        };
        t.tvkCtrlReconnectTvk = [](unsigned) {
            ++current()->reconnects;
            return current()->reconnectFails ? -5 : 0;
        };
        t.tvkCtrlAbortOperation = [](unsigned) { return 0; };
        t.tvkCtrlPerformDigitalTest = [](unsigned, int* good, uint32_t*, int, double) {
            FakeDevice* d = current();
            if (++d->digitalTests <= d->digitalFailures)
                return -1;
            std::fill(d->frame.begin(), d->frame.end(), 0);
            for (int p : d->badPixels)
                d->frame[static_cast<size_t>(p)] = 1;
            *good = 65536 - static_cast<int>(d->badPixels.size());
            ++d->frameId;
            return 0;
        };
        t.tvkCtrlPerformTestPulseAcq = [](unsigned, double, double, uint32_t count, uint32_t) {
            FakeDevice* d = current();
            ++d->pulseAcqs;
            ++d->frameId;
            std::fill(d->frame.begin(), d->frame.end(), static_cast<int16_t>(count));
            for (size_t p = 0; p < d->frame.size(); ++p)
                if (d->pixels[p] & 2) // the test input is off: no pulse counted
                    d->frame[p] = 0;
            for (int p : d->badPixels)
                d->frame[static_cast<size_t>(p)] = 0;
            return 0;
        };
        t.tvkCtrlGetFrame16 = [](unsigned, int16_t* buffer, uint32_t size, int) {
            if (size != 65536)
                return -1;
            std::memcpy(buffer, current()->frame.data(), size * sizeof(int16_t));
            return 0;
        };
        t.tvkCtrlGetFrameID = [](unsigned, int, uint32_t* id) {
            *id = current()->frameId;
            return 0;
        };
        t.tvkCtrlSaveFrame = [](unsigned, const char* name, int, uint32_t) {
            std::lock_guard<std::mutex> guard(current()->mutex);
            current()->saved.push_back(name);
            return 0;
        };
        t.tvkCtrlGetDACsNames = [](unsigned, const char*** names, const int** bits, int* count) {
            static const char* n[] = {"THL", "VCAS"};
            static const int b[] = {10, 8};
            *names = n;
            *bits = b;
            *count = 2;
            return 0;
        };
        t.tvkCtrlGetDACs = [](unsigned, uint16_t* dacs, int size, int) {
            if (size != 2)
                return -1;
            std::memcpy(dacs, current()->dacs.data(), 4);
            return 0;
        };
        t.tvkCtrlSetDACs = [](unsigned, const uint16_t* dacs, int size, int, int, int) {
            if (size != 2)
                return -1;
            std::memcpy(current()->dacs.data(), dacs, 4);
            return 0;
        };
        t.tvkCtrlGetPixelsCfg = [](unsigned, uint8_t* cfg, uint32_t size, int) {
            if (size != 65536)
                return -1;
            std::memcpy(cfg, current()->pixels.data(), size);
            return 0;
        };
        t.tvkCtrlSetPixelsCfg = [](unsigned, uint8_t* cfg, uint32_t size, int) {
            if (size != 65536)
                return -1;
            std::memcpy(current()->pixels.data(), cfg, size);
            return 0;
        };
        t.mgrGetFuncItem = [](const char* plugin, const char* name, _FuncItem* item) {
            const bool equalizer = current()->withEqualizer && std::strcmp(plugin, "equalizer") == 0;
            if (!equalizer && !(current()->withPreview && std::strcmp(plugin, "tvkctrlui") == 0))
                return -302;
            *item = _FuncItem{};
            item->callback = equalizer ? &equalizerFunction : &previewFunction;
            item->userData = const_cast<char*>(name);
            return 0;
        };
        return t;
    }

    // The preview functions: each call recorded with its integer inputs; the preview created is 5.
    static int previewFunction(void* userData, const _FuncSlot* in, void* const* out)
    {
        FakeDevice* d = current();
        const std::string name = static_cast<const char*>(userData);
        std::string call = name + " " + std::to_string(in[0].u);
        if (name == "PrevWndCreateDevID")
            *static_cast<uint32_t*>(out[0]) = 5;
        else if (name == "PrevWndShow" || name == "PrevWndShowTvkFrame")
            call += " " + std::to_string(in[1].u);
        std::lock_guard<std::mutex> guard(d->mutex);
        d->previewCalls.push_back(call);
        return 0;
    }

    // The equalizer's functions, told apart by their names in the user data.
    static int equalizerFunction(void* userData, const _FuncSlot* in, void* const* out)
    {
        FakeDevice* d = current();
        const std::string name = static_cast<const char*>(userData);
        if (name == "DepScanSetCbFinished")
            d->onFinished = reinterpret_cast<void (*)(uint32_t)>(in[1].p);
        else if (name == "DepScanSetCbError")
            d->onError = reinterpret_cast<void (*)(uint32_t)>(in[1].p);
        else if (name == "DepScanStart") {
            {
                std::lock_guard<std::mutex> guard(d->mutex);
                d->scans.push_back(std::to_string(in[1].u) + " " + std::to_string(in[2].i) + " " +
                                   std::to_string(in[3].i) + " " + std::to_string(in[4].i) + " " +
                                   std::to_string(in[5].i) + " " + static_cast<const char*>(in[6].p));
            }
            if (auto cb = d->scanFails ? d->onError : d->onFinished)
                cb(static_cast<uint32_t>(in[0].u));
        } else if (name == "DepScanGetLastErr") {
            std::strcpy(static_cast<char*>(out[0]), "the scan broke");
        } else if (name == "DepScanSaveImage") {
            std::lock_guard<std::mutex> guard(d->mutex);
            d->saved.push_back(static_cast<const char*>(in[1].p));
        }
        return 0;
    }
};

} // namespace probetest
