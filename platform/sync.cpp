// Owned recursive lock and events on std::mutex and condition variables.
#include "platform/sync.h"

namespace plat {

namespace {

// Timeouts this long are waits without limit (adding them to the clock would overflow).
constexpr std::chrono::milliseconds kNoLimit = std::chrono::hours(24 * 365 * 10);

// Waits until ready holds or the timeout has passed; true when ready holds.
template <typename Ready>
bool waitUntilReady(std::condition_variable& cv, std::unique_lock<std::mutex>& guard,
                    std::chrono::milliseconds timeout, Ready ready)
{
    if (timeout.count() <= 0)
        return ready();
    if (timeout >= kNoLimit) {
        cv.wait(guard, ready);
        return true;
    }
    return cv.wait_for(guard, timeout, ready);
}

} // namespace

void OwnedRecursiveMutex::lock()
{
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_);
    if (owner_.load() == me) {
        ++depth_;
        return;
    }
    freed_.wait(guard, [this] { return depth_ == 0; });
    owner_.store(me);
    depth_ = 1;
}

bool OwnedRecursiveMutex::tryLockFor(std::chrono::milliseconds timeout)
{
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_);
    if (owner_.load() == me) {
        ++depth_;
        return true;
    }
    if (!waitUntilReady(freed_, guard, timeout, [this] { return depth_ == 0; }))
        return false;
    owner_.store(me);
    depth_ = 1;
    return true;
}

bool OwnedRecursiveMutex::unlock()
{
    std::unique_lock<std::mutex> guard(m_);
    if (depth_ == 0 || owner_.load() != std::this_thread::get_id())
        return false;
    if (--depth_ == 0) {
        owner_.store(std::thread::id());
        freed_.notify_one();
    }
    return true;
}

bool OwnedRecursiveMutex::isOwnedByCurrentThread() const
{
    // Only the calling thread can make itself the owner, so an unlocked read is exact for this question.
    return owner_.load() == std::this_thread::get_id();
}

unsigned OwnedRecursiveMutex::depth() const
{
    std::lock_guard<std::mutex> guard(m_);
    return depth_;
}

Event::Event(bool manualReset, bool initiallySet) : manual_(manualReset), set_(initiallySet) {}

void Event::set()
{
    // Notified under the lock: a waiter that wakes may destroy the event right after.
    std::lock_guard<std::mutex> guard(m_);
    set_ = true;
    if (manual_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::reset()
{
    std::lock_guard<std::mutex> guard(m_);
    set_ = false;
}

bool Event::isSet() const
{
    std::lock_guard<std::mutex> guard(m_);
    return set_;
}

void Event::wait()
{
    std::unique_lock<std::mutex> guard(m_);
    cv_.wait(guard, [this] { return set_; });
    if (!manual_)
        set_ = false;
}

bool Event::waitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_);
    if (!waitUntilReady(cv_, guard, timeout, [this] { return set_; }))
        return false;
    if (!manual_)
        set_ = false;
    return true;
}

} // namespace plat
