// The device-control library's module state: hardware libraries, the device registry, the ten callbacks
// and the library message.
//
// Device indices are positions in one list over all hardware libraries; between init and exit an index is
// never reused (findNew appends, reconnect refills the same slot). Calls find their device through
// device(), which hands out a shared reference: a device that reconnect or exit retires lives on until
// the calls using it return, and those refuse with TVK_ERR_DEV_INDEX once they see it retired.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device.h"
#include "device_callbacks.h"

class HwLibrary;

class DeviceRegistry {
public:
    static DeviceRegistry& instance();

    int init();
    int exit();
    int firstDevice(unsigned* devIndex, int* count);
    int nextDevice(unsigned* devIndex);
    int findNew();
    int reconnect(unsigned devIndex);

    std::shared_ptr<TvkDevice> device(unsigned devIndex) const; // null when the index names no device
    size_t slotCount() const;
    CtrlCallbacks& callbacks() { return callbacks_; }

    int setMessage(int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void message(int* code, std::string* text) const;

    // The folder of libTvkCtrl.so, which holds "hwlibs" and "configs"; tests point it elsewhere.
    std::string moduleFolder() const;
    void setModuleFolderOverride(std::string folder);

    // How long exit waits for a device that another thread holds (a call in progress ends at once once
    // aborted); after that its closing is left to the last reference.
    static constexpr int kExitWaitMs = 1000;

private:
    DeviceRegistry() = default;
    void exitLocked();
    void loadLibraries();
    int enumerate(const std::shared_ptr<HwLibrary>& library, bool onlyNew, int* added);
    bool isKnown(const HwLibrary* library, int hwId) const;

    // Serialises init, exit, findNew and reconnect. Recursive: the client callbacks that these call
    // (cbTvkDevNew, cbTvkDevChanged, cbInfoMsg) may call back into the registry.
    std::recursive_mutex changeMutex_;
    // Guards slots_, libraries_ and initialised_ for lookups; nothing else is called while it is held.
    mutable std::mutex slotsMutex_;
    std::vector<std::shared_ptr<TvkDevice>> slots_;
    std::vector<std::shared_ptr<HwLibrary>> libraries_;
    bool initialised_ = false;

    // Guards msgText_, msgCode_ and folderOverride_; no callback runs while it is held.
    mutable std::mutex msgMutex_;
    std::string msgText_;
    int msgCode_ = 0;
    std::string folderOverride_;

    CtrlCallbacks callbacks_;
};
