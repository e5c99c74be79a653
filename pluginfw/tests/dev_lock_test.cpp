// Locking helpers: leaving only a lock the thread owns, the device-lock holder and the device
// description, over a function table whose device entries the test answers.
#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "dev_lock.h"

namespace {

// The device entries of the table: device 3 exists; the others give -102.
std::atomic<int> g_releases{0};
std::atomic<int> g_lockHolder{-1};
constexpr unsigned kDevice = 3;

int testTryLock(unsigned dev, int* locked, unsigned)
{
    if (dev != kDevice)
        return TVK_ERR_DEV_INDEX;
    int expected = -1;
    *locked = g_lockHolder.compare_exchange_strong(expected, static_cast<int>(dev)) ? 1 : 0;
    return 0;
}

int testRelease(unsigned dev)
{
    ++g_releases;
    g_lockHolder.store(-1);
    return dev == kDevice ? 0 : TVK_ERR_DEV_INDEX;
}

int testGetDevInfo(unsigned dev, _DevInfo* info)
{
    if (dev != kDevice)
        return TVK_ERR_DEV_INDEX;
    info->pixelCount = 65536;
    info->rowLength = 256;
    info->chipType = CHIPTYPE_SARNET;
    return 0;
}

_MgrFuncTable makeTable()
{
    _MgrFuncTable table{};
    table.version = MGR_INTERFACE_VERSION;
    table.tvkCtrlTryLockDevice = testTryLock;
    table.tvkCtrlReleaseDevice = testRelease;
    table.tvkCtrlGetDevInfo = testGetDevInfo;
    return table;
}

class DevLockTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_releases = 0;
        g_lockHolder = -1;
    }
    const _MgrFuncTable table = makeTable();
};

TEST_F(DevLockTest, ReleasesOnlyWhatItTook)
{
    {
        DevLock lock(&table, kDevice);
        ASSERT_EQ(table.tvkCtrlTryLockDevice(lock.devId, &lock.locked, 0), 0);
        EXPECT_NE(lock.locked, 0);
        // A second holder whose try-lock failed releases nothing when it goes.
        {
            DevLock other(&table, kDevice);
            ASSERT_EQ(table.tvkCtrlTryLockDevice(other.devId, &other.locked, 0), 0);
            EXPECT_EQ(other.locked, 0);
        }
        EXPECT_EQ(g_releases.load(), 0);
        EXPECT_EQ(g_lockHolder.load(), static_cast<int>(kDevice));
    }
    EXPECT_EQ(g_releases.load(), 1);
    EXPECT_EQ(g_lockHolder.load(), -1);

    // A device that does not exist: nothing taken, nothing released.
    {
        DevLock gone(&table, 99);
        EXPECT_EQ(table.tvkCtrlTryLockDevice(gone.devId, &gone.locked, 0), TVK_ERR_DEV_INDEX);
    }
    EXPECT_EQ(g_releases.load(), 1);
}

TEST_F(DevLockTest, FailedUpdateKeepsTheCopy)
{
    TvkDev dev(&table, kDevice);
    ASSERT_EQ(dev.updateDevInfo(), 0);
    EXPECT_EQ(dev.pixelCount, 65536);
    EXPECT_EQ(dev.chipType, CHIPTYPE_SARNET);

    // The device went away: -102, and the copy keeps the values of the last good read.
    dev.devId = 99;
    EXPECT_EQ(dev.updateDevInfo(), TVK_ERR_DEV_INDEX);
    EXPECT_EQ(dev.pixelCount, 65536);
    EXPECT_EQ(dev.rowLength, 256);
}

TEST(CritSecTest, LeavesOnlyOwnLockOneLevelAtATime)
{
    plat::OwnedRecursiveMutex section;
    EXPECT_FALSE(critSecLeaveIfOwned(section)); // not taken at all

    section.lock();
    section.lock();
    std::atomic<bool> leftByOther{true};
    std::thread other([&] { leftByOther = critSecLeaveIfOwned(section); });
    other.join();
    EXPECT_FALSE(leftByOther.load()); // another thread's lock is never left
    EXPECT_EQ(section.depth(), 2u);

    EXPECT_TRUE(critSecLeaveIfOwned(section));
    EXPECT_EQ(section.depth(), 1u);
    EXPECT_TRUE(critSecLeaveIfOwned(section));
    EXPECT_FALSE(critSecLeaveIfOwned(section)); // already free
    EXPECT_FALSE(section.isOwnedByCurrentThread());
}

TEST(CritSecTest, GuardAfterManualLeaveDoesNoHarm)
{
    plat::OwnedRecursiveMutex section;
    {
        CritSecGuard guard(section);
        EXPECT_TRUE(section.isOwnedByCurrentThread());
        section.unlock(); // left by hand inside the scope
    }
    // The guard left nothing more; another thread can take the lock at once.
    std::atomic<bool> taken{false};
    std::thread other([&] {
        taken = section.tryLockFor(std::chrono::milliseconds(0));
        if (taken)
            section.unlock();
    });
    other.join();
    EXPECT_TRUE(taken.load());

    plat::OwnedRecursiveMutex* made = new plat::OwnedRecursiveMutex;
    critSecDelete(made);
    EXPECT_EQ(made, nullptr);
    critSecDelete(made); // null is ignored
}

} // namespace
