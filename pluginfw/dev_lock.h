// Locking helpers of the plug-ins: leaving a recursive lock only when the calling thread owns it, a
// scoped guard built on that, a scoped owner of a device lock, and TvkDev, the plug-in's copy of a
// device's description. Devices are reached through the manager's function table only.
#pragma once

#include <cstdint>

#include "platform/sync.h"
#include "tvk_hw.h"
#include "tvk_mgr.h"

// Deletes a lock made with new and clears the pointer (the unwinding path of constructors that had
// already made it). Null is ignored.
void critSecDelete(plat::OwnedRecursiveMutex*& section);

// Leaves one level of section when the calling thread owns it; does nothing otherwise (never leaves a
// lock that another thread owns). Returns whether a level was left.
bool critSecLeaveIfOwned(plat::OwnedRecursiveMutex& section);

// Takes section for its scope and leaves it on every exit path, also when the code inside has already
// left it by hand.
class CritSecGuard {
public:
    explicit CritSecGuard(plat::OwnedRecursiveMutex& section) : section_(section) { section_.lock(); }
    ~CritSecGuard() { critSecLeaveIfOwned(section_); }
    CritSecGuard(const CritSecGuard&) = delete;
    CritSecGuard& operator=(const CritSecGuard&) = delete;

private:
    plat::OwnedRecursiveMutex& section_;
};

// Owner of a device lock for its scope. Its user takes the lock with
//   table->tvkCtrlTryLockDevice(lock.devId, &lock.locked, timeoutMs);
// the holder releases it when it goes out of scope, and only when it was taken.
class DevLock {
public:
    DevLock(const _MgrFuncTable* table, int devId) : devId(devId), table_(table) {}
    ~DevLock();
    DevLock(const DevLock&) = delete;
    DevLock& operator=(const DevLock&) = delete;

    int devId;
    int locked = 0; // non-zero while this holder owns the device lock

private:
    const _MgrFuncTable* table_;
};

// A plug-in's copy of one device's description.
class TvkDev : public _DevInfo {
public:
    TvkDev(const _MgrFuncTable* table, int devId) : _DevInfo(), devId(devId), table_(table) {}
    virtual ~TvkDev() = default;

    // Reads the device's description; only on success is the copy replaced, so a failed read keeps the
    // previous values. The table's result.
    int updateDevInfo();

    int devId;

private:
    const _MgrFuncTable* table_;
};
