// The kit's per-device call lock: calls on one device never overlap, calls on different devices do not
// wait for each other, a device function may call its own device again, and a device that waits for a
// thread of its own lets that thread in. Run under ThreadSanitizer in CI.
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_library.h"

using namespace hwkittest;

namespace {

// Long enough never to be reached by a working lock; only a deadlock runs into it.
constexpr auto kDeadlock = std::chrono::seconds(60);

TEST(HwKitLock, CallsOnOneDeviceNeverOverlap)
{
    Fixture f(1);
    int inside = 0; // no atomic on purpose: an overlap is a data race and a count above 1
    std::atomic<int> overlaps{0};
    f.library.device(0).onReset = [&](TestDevice&) {
        if (++inside != 1)
            ++overlaps;
        std::this_thread::yield();
        --inside;
        return 0;
    };
    auto hammer = [&] {
        for (int i = 0; i < 2000; ++i)
            f.hw.hwResetMatrix(0);
    };
    std::thread a(hammer), b(hammer), c([&] {
        // Texts are read under the same lock while the calls run.
        for (int i = 0; i < 2000; ++i)
            f.hw.hwGetLastError(0);
    });
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(f.library.device(0).resets, 4000);
}

// Device 0's call waits inside the device until device 1 has been called from another thread: with one
// lock for the whole library that second call could never happen.
TEST(HwKitLock, DifferentDevicesDoNotWaitForEachOther)
{
    Fixture f(2);
    std::atomic<bool> firstInside{false};
    std::promise<void> secondRan;
    auto secondRanFuture = secondRan.get_future();
    f.library.device(0).onReset = [&](TestDevice&) {
        firstInside = true;
        return secondRanFuture.wait_for(kDeadlock) == std::future_status::ready ? 0 : -1;
    };
    f.library.device(1).onReset = [&](TestDevice&) {
        secondRan.set_value();
        return 0;
    };
    std::thread first([&] { EXPECT_EQ(f.hw.hwResetMatrix(0), 0) << "device 1 was held up by device 0"; });
    while (!firstInside)
        std::this_thread::yield();
    EXPECT_EQ(f.hw.hwResetMatrix(1), 0);
    first.join();
}

TEST(HwKitLock, ADeviceFunctionMayCallItsOwnDevice)
{
    Fixture f(1);
    int depth = 0;
    f.library.device(0).onReset = [&](TestDevice&) {
        if (++depth < 3)
            return f.hw.hwResetMatrix(0);
        return 0;
    };
    EXPECT_EQ(f.hw.hwResetMatrix(0), 0);
    EXPECT_EQ(f.library.device(0).resets, 3);
}

// A device function joins a thread of its own that calls into the same device (as an event thread that
// reaches code reading the device does): the lock is let go for the wait and taken again after it.
TEST(HwKitLock, WaitingWithoutTheCallLockLetsTheDevicesThreadIn)
{
    Fixture f(1);
    int innerResult = -1;
    std::atomic<bool> outerHeldAfterWait{false};
    f.library.device(0).onReset = [&](TestDevice& d) {
        if (d.resets > 1)
            return 0; // the inner call
        std::thread inner([&] { innerResult = f.hw.hwResetMatrix(0); });
        d.withoutCallLock([&] { inner.join(); });
        outerHeldAfterWait = d.callLock().isOwnedByCurrentThread() && d.callLock().depth() == 1;
        return 0;
    };
    EXPECT_EQ(f.hw.hwResetMatrix(0), 0);
    EXPECT_EQ(innerResult, 0);
    EXPECT_TRUE(outerHeldAfterWait);
}

// Enumeration may run again while devices are in use: the list grows, the devices in use stay.
TEST(HwKitLock, EnumerationWhileDevicesWork)
{
    Fixture f(1);
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread worker([&] {
        for (int i = 0; i < 2000; ++i)
            if (f.hw.hwResetMatrix(0) != 0)
                ++failures;
        done = true;
    });
    std::thread enumerator([&] {
        int added = 1;
        while (!done) {
            // Read by discover() on this thread: one more device each round, up to 32.
            f.library.wanted = added < 32 ? ++added : added;
            int id = -1;
            for (int r = f.hw.hwGetFirst(&id); r == 0; r = f.hw.hwGetNext(&id))
                if (f.hw.hwResetMatrix(id) != 0)
                    ++failures;
        }
    });
    worker.join();
    enumerator.join();
    EXPECT_EQ(failures, 0);
}

} // namespace
