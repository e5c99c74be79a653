// One device of a hardware library: the device functions of the function table as virtual functions,
// the device's last error text and its call lock. A library derives its device from Device and
// implements what the device can do; every function it leaves alone reports that it is not supported.
//
// The library (hw_library.h) calls each function with the device's call lock held, after beforeCall(),
// and turns whatever it throws into the library's error code and a text in lastError(). Results are those
// of the function table: 0 for success, anything else a failure whose text setError() put in lastError().
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sync.h"
#include "tvk_hw.h"

namespace hwkit {

constexpr size_t kErrorTextSize = 4096; // last error texts, terminating zero included

// The common part of hwGetHwInfo: fills what describes the item (type, count, flags, name, description)
// into out and copies the item's value of size bytes into out->data when *dataSize is at least size and
// out->data is set. false when it is not: *dataSize then holds size, the caller reports its error.
bool copyHwInfoItem(const HwInfoItem& item, const void* value, int size, HwInfoItem* out, int* dataSize);

class Device {
public:
    Device() = default;
    virtual ~Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Called before every function below with its table name ("hwInit", "hwReadMatrix", ...). A non-zero
    // result is returned in place of the call. Does nothing by default.
    virtual int beforeCall(const char* function);

    // Opening, the callback tag and closing succeed by default: a device may have nothing to open or to
    // release. The tag is kept for tag().
    virtual int init();
    virtual int setCbTag(void* tag);
    virtual int closeDevice();

    virtual int getHwInfoFlags(int index, uint32_t* flags);
    virtual int getHwInfo(int index, HwInfoItem* item, int* dataSize);
    virtual int setHwInfo(int index, const void* data, int dataSize);
    virtual int getDevInfo(_DevInfo* info);
    virtual int getAcqTime(double* time);
    virtual int setAcqPars(const _AcqPars* pars);
    virtual int startAcquisition();
    virtual int stopAcquisition();
    virtual int checkBusy(int* busy);
    virtual int testPulses(double height, double period, uint32_t count);
    virtual int setTvkDacs(const uint16_t* dacs, int dacCount, int senseOn, int extDacOn, const int* dacCodes,
                           uint32_t testPulseColumns);
    virtual int getTvkDacVal(int chip, double* value);
    virtual int setExtDac(double value);
    virtual int setPixelsCfg(const uint8_t* cfg, uint32_t size);
    virtual int resetMatrix();
    virtual int readMatrix(uint16_t* buffer, uint32_t count);
    virtual int writeMatrix(const uint16_t* buffer, uint32_t count);
    virtual int generalReset();

    // The text of the device's last failure. Read it with the call lock held (the library does so).
    const char* lastError() const { return lastError_; }
    // Formats the message into lastError (cut to fit) and returns code.
    [[gnu::format(printf, 3, 4)]] int setError(int code, const char* format, ...);

    void* tag() const { return tag_; }
    // The library's error code: unknown ids, unsupported functions and everything thrown report it.
    int errorCode() const { return errorCode_; }

    // Held by the library for every call on this device, recursively, so that a device function may call
    // another one of the same device.
    plat::OwnedRecursiveMutex& callLock() { return callLock_; }

    // Runs wait() with the call lock released, then takes it again as deeply as before; for a device
    // function that waits for a thread of its own which may call into the library for this device.
    template <typename F>
    void withoutCallLock(F&& wait)
    {
        const unsigned depth = callLock_.isOwnedByCurrentThread() ? callLock_.depth() : 0;
        for (unsigned i = 0; i < depth; ++i)
            callLock_.unlock();
        struct Relock {
            plat::OwnedRecursiveMutex& lock;
            unsigned depth;
            ~Relock()
            {
                for (unsigned i = 0; i < depth; ++i)
                    lock.lock();
            }
        } relock{callLock_, depth};
        wait();
    }

private:
    friend class Library;

    int notSupported(const char* function);

    plat::OwnedRecursiveMutex callLock_;
    int errorCode_ = -1;
    void* tag_ = nullptr;
    char lastError_[kErrorTextSize] = "";
};

} // namespace hwkit
