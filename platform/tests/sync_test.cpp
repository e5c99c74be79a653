// Owned recursive lock and events, across threads (also run under ThreadSanitizer).
#include "platform/sync.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "wait_until.h"

using namespace std::chrono_literals;

namespace {

using ombrel_test::waitUntil;

TEST(OwnedRecursiveMutexTest, RecursionAndOwner)
{
    plat::OwnedRecursiveMutex m;
    EXPECT_FALSE(m.isOwnedByCurrentThread());
    EXPECT_FALSE(m.unlock()) << "unlock of a free lock";
    m.lock();
    EXPECT_TRUE(m.tryLockFor(0ms)) << "recursive try";
    m.lock();
    EXPECT_EQ(m.depth(), 3u);
    EXPECT_EQ(m.owner(), std::this_thread::get_id());
    EXPECT_TRUE(m.unlock());
    EXPECT_TRUE(m.unlock());
    EXPECT_TRUE(m.isOwnedByCurrentThread());
    EXPECT_TRUE(m.unlock());
    EXPECT_FALSE(m.isOwnedByCurrentThread());
    EXPECT_EQ(m.owner(), std::thread::id());
    EXPECT_EQ(m.depth(), 0u);
    EXPECT_FALSE(m.unlock()) << "one unlock too many";
}

TEST(OwnedRecursiveMutexTest, OtherThreadCannotUnlockOrTake)
{
    plat::OwnedRecursiveMutex m;
    m.lock();
    bool unlocked = true;
    bool tookAtOnce = true;
    bool tookWithTimeout = true;
    double waited = 0;
    std::thread other([&] {
        unlocked = m.unlock();
        tookAtOnce = m.tryLockFor(0ms);
        const auto start = std::chrono::steady_clock::now();
        tookWithTimeout = m.tryLockFor(50ms);
        waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    other.join();
    EXPECT_FALSE(unlocked);
    EXPECT_FALSE(tookAtOnce);
    EXPECT_FALSE(tookWithTimeout);
    EXPECT_GE(waited, 0.045);
    EXPECT_TRUE(m.isOwnedByCurrentThread()) << "the refused unlock must not release the lock";
    EXPECT_EQ(m.depth(), 1u);
    EXPECT_TRUE(m.unlock());
}

TEST(OwnedRecursiveMutexTest, TimedAcquisitionGetsTheLockWhenReleased)
{
    // A finite timeout, and one so long that adding it to the clock would overflow.
    const std::chrono::milliseconds timeouts[] = {ombrel_test::kWaitLimit, std::chrono::milliseconds::max()};
    for (const std::chrono::milliseconds timeout : timeouts) {
        SCOPED_TRACE(timeout.count());
        plat::OwnedRecursiveMutex m;
        m.lock();
        std::atomic<bool> started{false};
        bool took = false;
        std::thread waiter([&] {
            started = true;
            took = m.tryLockFor(timeout);
            if (took) {
                EXPECT_TRUE(m.isOwnedByCurrentThread());
                m.unlock();
            }
        });
        EXPECT_TRUE(waitUntil([&] { return started.load(); }));
        std::this_thread::sleep_for(20ms);
        m.unlock();
        waiter.join();
        EXPECT_TRUE(took);
    }
}

TEST(OwnedRecursiveMutexTest, ExcludesOtherThreads)
{
    plat::OwnedRecursiveMutex m;
    long counter = 0; // guarded by m
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                std::lock_guard<plat::OwnedRecursiveMutex> outer(m);
                std::unique_lock<plat::OwnedRecursiveMutex> inner(m); // recursion inside
                ++counter;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(counter, 20000);
    EXPECT_EQ(m.depth(), 0u);
}

TEST(EventTest, ManualResetReleasesAllAndStaysSet)
{
    plat::Event event(true, false);
    EXPECT_FALSE(event.waitFor(0ms));
    EXPECT_FALSE(event.waitFor(20ms));
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            event.wait();
            ++released;
        });
    event.set();
    for (auto& th : waiters)
        th.join();
    EXPECT_EQ(released.load(), 3);
    EXPECT_TRUE(event.isSet());
    EXPECT_TRUE(event.waitFor(0ms));
    event.reset();
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.waitFor(0ms));
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet)
{
    plat::Event event(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            EXPECT_TRUE(event.waitFor(ombrel_test::kWaitLimit));
            ++released;
        });
    event.set();
    EXPECT_TRUE(waitUntil([&] { return released.load() >= 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(released.load(), 1) << "one set released two waiters";
    EXPECT_FALSE(event.isSet()) << "the release clears the event";
    event.set();
    for (auto& th : waiters)
        th.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(EventTest, AutoResetKeepsASetWithoutWaiterForTheNextWait)
{
    plat::Event initially(false, true);
    EXPECT_TRUE(initially.waitFor(0ms));
    EXPECT_FALSE(initially.waitFor(0ms));

    plat::Event event(false, false);
    event.set();
    event.set(); // a second set before any wait does not count twice
    std::thread([&] { event.wait(); }).join();
    EXPECT_FALSE(event.waitFor(10ms));
}

} // namespace
