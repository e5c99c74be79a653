// The library side of a hardware library: the device list, the per-device call lock, the exception
// barrier and the last-error texts. A library derives from Library, adds its devices in discover() and
// hands out the function table that hw_func_table.h fills from it.
//
// Error texts: each device keeps the text of its last failure (hwGetLastError); a failure that belongs to
// no device (an unknown id, an enumeration error) goes to the general text, kept per thread so that a
// caller reads the text of its own failed call even while other threads fail too. The general text is one
// per thread in each module that links this kit: a module holds one library.
//
// Locks, in nesting order: enumeration_ (hwGetFirst and hwGetNext), then list_, then a device's call
// lock. The list lock is held only to look a device up or to add one; no device code runs under it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hw_device.h"
#include "tvk_hw.h"

namespace hwkit {

// The settings file of the library that contains address (the library's own path with its extension
// replaced by "ini", ".ini" appended when it has none); empty when the library's path cannot be found.
std::string settingsPathOf(const void* address);

// The general text of the calling thread, and its setter (cut to kErrorTextSize; returns code).
const char* generalError();
[[gnu::format(printf, 2, 3)]] int setGeneralError(int code, const char* format, ...);

// A device with its call lock held; empty when no device had the id.
class LockedDevice {
public:
    LockedDevice() = default;
    explicit LockedDevice(Device* device);
    ~LockedDevice();
    LockedDevice(LockedDevice&& other) noexcept : device_(std::exchange(other.device_, nullptr)) {}
    LockedDevice(const LockedDevice&) = delete;
    LockedDevice& operator=(const LockedDevice&) = delete;
    LockedDevice& operator=(LockedDevice&&) = delete;

    explicit operator bool() const { return device_ != nullptr; }
    Device* get() const { return device_; }
    Device* operator->() const { return device_; }

private:
    Device* device_ = nullptr;
};

class Library {
public:
    // errorCode: what unknown ids, unsupported functions, refused arguments and thrown exceptions return.
    explicit Library(int errorCode);
    virtual ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    int errorCode() const { return errorCode_; }

    // ---- the library-wide functions of the table ----
    int getFirst(int* id); // hwGetFirst: discover(), then the first id
    int getNext(int* id);  // hwGetNext: the next id, endOfList() after the last
    int setCallback(HwCallback callback);
    int hwInfoCount();
    const char* lastError(int id); // hwGetLastError: a per-thread copy of the device's text, else the general one

    // The callback installed with hwSetCb (null while none is).
    HwCallback callback() const { return callback_.load(); }

    // A device function of the table: looks id up (an unknown id sets the general error "Invalid HW ID"),
    // takes the device's call lock, runs beforeCall(function) and then op. What op throws becomes the
    // device's error; what the lookup throws, the general error. Never throws.
    template <typename Op>
    int call(int id, const char* function, Op op) noexcept
    {
        return callDevice(
            id, function, [](Device& device, void* context) { return (*static_cast<Op*>(context))(device); }, &op);
    }

    // The device with this id, locked, for the library's own functions; sets no error.
    LockedDevice lockDevice(int id);
    int deviceCount() const; // slots handed out, retired ones included (the next id is this)

    // Runs op and turns what it throws into the general error and the library's error code.
    template <typename Op>
    int guardGeneral(Op op) noexcept
    {
        return runGeneral([](void* context) { return (*static_cast<Op*>(context))(); }, &op);
    }

protected:
    // hwGetFirst: add the devices that appeared since the last call with addDevice(). Called with the
    // enumeration lock held. 0 goes on to hand out the first id (or HW_NO_MORE_DEVICES when the list is
    // empty); any other result is hwGetFirst's, with the general error set by the library.
    virtual int discover() = 0;
    // hwGetNext after the last device: HW_NO_MORE_DEVICES, or an error with the general text set. Called
    // with the enumeration lock held.
    virtual int endOfList();
    // hwGetHwInfoCount: the number of hardware-info items of every device.
    virtual int itemCount();

    // Appends a device; its id is its position in the list. Devices stay until the library is destroyed.
    int addDevice(std::unique_ptr<Device> device);
    // Takes a device out of the list: its id is unknown from then on and never handed out again. The
    // object itself stays alive until the library is destroyed, so that a call that found it just before
    // still finds it whole. Called with the enumeration lock held (from discover()).
    void retireDevice(int id);
    // The general text of a call with an unknown id (function: the table's name of the call), and what
    // hwGetLastError answers for an unknown id (null: the general text of the calling thread).
    virtual const char* unknownIdText(const char* function);
    virtual const char* unknownIdLastError();

private:
    using DeviceOp = int (*)(Device&, void*);
    int callDevice(int id, const char* function, DeviceOp op, void* context) noexcept;
    int runGeneral(int (*op)(void*), void* context) noexcept;
    Device* find(int id) const;

    const int errorCode_;
    std::atomic<HwCallback> callback_{nullptr};
    std::mutex enumeration_; // serialises hwGetFirst and hwGetNext; guards cursor_
    int cursor_ = 0;
    mutable std::mutex list_; // guards the vector devices_ (not the devices); held only to look up or add
    std::vector<std::unique_ptr<Device>> devices_; // null where a device was retired
    std::vector<std::unique_ptr<Device>> retired_;  // guarded by list_
};

} // namespace hwkit
