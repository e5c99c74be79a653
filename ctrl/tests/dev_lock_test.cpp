// The device lock (owner, recursion, timeouts) and the registry under concurrent use: reconnect and exit
// while other threads call the device and hardware callbacks arrive.
#include "dev_fixture.h"
#include "wait_until.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace devtest;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs f in another thread and waits for it.
template <class F>
void inThread(F f)
{
    std::thread t(f);
    t.join();
}

class LockTest : public DeviceTest {};

TEST_F(LockTest, TimeoutsOwnerAndRecursion)
{
    initWith({{1, 1}});
    int locked = -1;
    uint32_t owner = 99;
    ASSERT_EQ(getLockOwnerID(0, &owner), 0);
    EXPECT_EQ(owner, 0u);

    ASSERT_EQ(tryLockDevice(0, &locked, 0), 0);
    ASSERT_EQ(locked, 1);
    ASSERT_EQ(tryLockDevice(0, &locked, 0), 0); // recursive
    ASSERT_EQ(locked, 1);
    ASSERT_EQ(getLockOwnerID(0, &owner), 0);
    EXPECT_EQ(owner, static_cast<uint32_t>(::gettid()));

    inThread([&] {
        int other = -1;
        const auto start = Clock::now();
        EXPECT_EQ(tryLockDevice(0, &other, 0), 0);
        EXPECT_EQ(other, 0);
        EXPECT_LT(secondsSince(start), std::chrono::duration<double>(ombrel_test::kWaitLimit).count());
        other = -1;
        const auto timed = Clock::now();
        EXPECT_EQ(tryLockDevice(0, &other, 150), 0);
        EXPECT_EQ(other, 0);
        EXPECT_GE(secondsSince(timed), 0.12);

        // Not the owner: refused, and the lock stays as it was.
        EXPECT_EQ(releaseDevice(0), -11);
        int code = 0;
        EXPECT_EQ(deviceMessage(0, &code), "Cannot release device, caller with ID: " + std::to_string(::gettid()) +
                                               " is not owner of lock, owner is: " + std::to_string(owner) + ".");
        EXPECT_EQ(code, -11);
    });

    ASSERT_EQ(releaseDevice(0), 0);
    inThread([&] { // still held once
        int other = -1;
        EXPECT_EQ(tryLockDevice(0, &other, 0), 0);
        EXPECT_EQ(other, 0);
    });
    ASSERT_EQ(releaseDevice(0), 0);
    ASSERT_EQ(getLockOwnerID(0, &owner), 0);
    EXPECT_EQ(owner, 0u);
    inThread([&] {
        int other = -1;
        EXPECT_EQ(tryLockDevice(0, &other, 0), 0);
        EXPECT_EQ(other, 1);
        EXPECT_EQ(releaseDevice(0), 0);
    });
}

TEST_F(LockTest, InfiniteWaitEndsWhenTheOwnerReleases)
{
    initWith({{1, 1}});
    int locked = 0;
    ASSERT_EQ(tryLockDevice(0, &locked, 0), 0);
    std::atomic<bool> taken{false};
    std::thread waiter([&] {
        int other = 0;
        EXPECT_EQ(tryLockDevice(0, &other, TVK_WAIT_INFINITE), 0);
        EXPECT_EQ(other, 1);
        taken = true;
        EXPECT_EQ(releaseDevice(0), 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(taken);
    EXPECT_EQ(releaseDevice(0), 0);
    waiter.join();
    EXPECT_TRUE(taken);
}

TEST_F(LockTest, ReconnectOfALockedDeviceGivesUp)
{
    initWith({{1, 1}});
    void* tag = control("fake").tag(0);
    std::atomic<bool> held{false};
    std::atomic<bool> done{false};
    std::thread owner([&] {
        int locked = 0;
        tryLockDevice(0, &locked, 0);
        held = true;
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        releaseDevice(0);
    });
    while (!held)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = Clock::now();
    EXPECT_EQ(reconnectTvk(0), -1);
    EXPECT_GE(secondsSince(start), 0.08);
    EXPECT_EQ(control("fake").tag(0), tag); // nothing changed
    done = true;
    owner.join();
    EXPECT_EQ(reconnectTvk(0), 0);
}

// A thread waiting on the device lock when the device is reconnected is let go with -102; the waiting
// object stays valid until it has returned.
TEST_F(LockTest, WaitersOfAReconnectedDeviceGetNoDevice)
{
    initWith({{1, 1}});
    int locked = 0;
    ASSERT_EQ(tryLockDevice(0, &locked, 0), 0);
    std::atomic<int> result{1};
    // The waiter holds the old device, as a call in progress does, whenever its wait begins.
    std::shared_ptr<TvkDevice> old = DeviceRegistry::instance().device(0);
    std::thread waiter([&, old] {
        int other = 0;
        result = old->tryLock(TVK_WAIT_INFINITE, &other);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(reconnectTvk(0), 0); // the owner itself reconnects
    waiter.join();
    EXPECT_EQ(result, -102);
    EXPECT_TRUE(old->isRetired());
    EXPECT_EQ(releaseDevice(0), -11); // the new device was never locked
}

// Reconnect and exit while worker threads use the devices and the hardware keeps calling back, also with
// tags of devices already gone. Run under ASan and TSan.
TEST_F(LockTest, ReconnectAndExitUnderLoad)
{
    initWith({{1, 1}, {4, 2, "", "fake", 31, 1}, {1, 3}});
    FakeControl& fake = control("fake");
    std::atomic<bool> stop{false};
    std::vector<void*> oldTags;
    std::mutex tagsMutex; // guards oldTags
    auto allowed = [](int r) { return r == 0 || r == -102 || r == -110 || r == -1; };

    std::vector<std::thread> workers;
    for (unsigned dev = 0; dev < 3; ++dev) {
        workers.emplace_back([&, dev] {
            std::vector<uint16_t> dacs(60);
            std::vector<uint8_t> cfg(4 * 65536);
            while (!stop) {
                int count = 0;
                const char** names = nullptr;
                if (getDACsNames(dev, &names, nullptr, &count) != 0)
                    continue;
                const int chips = dev == 1 ? 4 : 1;
                EXPECT_TRUE(allowed(getDACs(dev, dacs.data(), count * chips, -1)));
                EXPECT_TRUE(allowed(setDACs(dev, dacs.data(), count * chips, -1, 0, 0)));
                EXPECT_TRUE(allowed(getPixelsCfg(dev, cfg.data(), 65536u * chips, -1)));
                int locked = 0;
                if (tryLockDevice(dev, &locked, 5) == 0 && locked) {
                    EXPECT_TRUE(allowed(setPolarity(dev, 0)));
                    releaseDevice(dev);
                }
            }
        });
    }
    workers.emplace_back([&] {
        while (!stop) {
            for (int id = 0; id < 3; ++id) {
                fake.fire(id, HWCB_ACQ_STARTED);
                fake.fire(id, HWCB_ACQ_FINISHED);
            }
            std::lock_guard<std::mutex> guard(tagsMutex);
            for (void* tag : oldTags)
                fake.fireTag(tag, HWCB_ACQ_FINISHED);
        }
    });
    setCbAcqStart([](int) {});

    for (int round = 0; round < 20; ++round) {
        const unsigned dev = static_cast<unsigned>(round % 3);
        void* tag = fake.tag(static_cast<int>(dev));
        const int r = reconnectTvk(dev);
        EXPECT_TRUE(r == 0 || r == -1) << r;
        if (r == 0) {
            std::lock_guard<std::mutex> guard(tagsMutex);
            oldTags.push_back(tag);
        }
    }
    EXPECT_EQ(exitTvkCtrl(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& t : workers)
        t.join();
    int locked = 0;
    EXPECT_EQ(tryLockDevice(0, &locked, 0), -102);
}

} // namespace
