// Locks that know their owner thread, and events.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace plat {

// Recursive lock that records its owner, so that an unlock by another thread is refused and a
// timed acquisition can be asked of it.
class OwnedRecursiveMutex {
public:
    void lock();
    // true when taken (also recursively); 0 tries once, a timeout of ten years or more waits without limit
    bool tryLockFor(std::chrono::milliseconds timeout);
    bool unlock();               // false when the calling thread does not own the lock
    bool isOwnedByCurrentThread() const;
    std::thread::id owner() const { return owner_.load(); }
    unsigned depth() const;      // recursion depth as seen by the owner

    // Standard Lockable names, for std::lock_guard and std::unique_lock.
    bool try_lock() { return tryLockFor(std::chrono::milliseconds(0)); }

private:
    mutable std::mutex m_;       // guards depth_ and the hand-over of owner_
    std::condition_variable freed_;
    std::atomic<std::thread::id> owner_{};
    unsigned depth_ = 0;
};

// Event with the two Windows flavours: manual reset stays set until reset; auto reset releases one
// waiter and clears itself.
class Event {
public:
    explicit Event(bool manualReset = true, bool initiallySet = false);
    void set();
    void reset();
    bool isSet() const;
    void wait();
    bool waitFor(std::chrono::milliseconds timeout); // true when signalled; timeouts as tryLockFor

private:
    mutable std::mutex m_; // guards set_
    std::condition_variable cv_;
    bool manual_;
    bool set_;
};

} // namespace plat
