// Precise time and sleeping waits. Bounds are generous: the machine may be loaded or sanitized.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <thread>

#include "wait_until.h"

namespace {

// A wait's target far beyond the overall limit of a test's wait: a return within the limit is not the target's.
constexpr double kFarAway = 3600.0;
const double kLimit = std::chrono::duration<double>(ombrel_test::kWaitLimit).count();

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

TEST(ClockTest, PreciseNowFollowsTheWallClockAndNeverGoesBack)
{
    const double wall = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    double previous = plat::preciseNow();
    EXPECT_NEAR(previous, wall, 5.0);
    double previousMono = plat::monotonicSeconds();
    for (int i = 0; i < 100000; ++i) {
        const double now = plat::preciseNow();
        const double mono = plat::monotonicSeconds();
        ASSERT_GE(now, previous);
        ASSERT_GE(mono, previousMono);
        previous = now;
        previousMono = mono;
    }
}

TEST(ClockTest, SleepsLastAtLeastTheirTime)
{
    const double start = plat::monotonicSeconds();
    plat::sleepSeconds(0.02);
    EXPECT_GE(plat::monotonicSeconds() - start, 0.02);

    const double target = plat::monotonicSeconds() + 0.03;
    EXPECT_TRUE(plat::sleepUntil(target, nullptr));
    EXPECT_GE(plat::monotonicSeconds(), target);
}

TEST(ClockTest, NothingToWaitForReturnsAtOnce)
{
    const double start = plat::monotonicSeconds();
    plat::sleepSeconds(0);
    plat::sleepSeconds(-5);
    plat::sleepSeconds(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(plat::sleepUntil(start - 1, nullptr));
    EXPECT_TRUE(plat::sleepUntil(std::numeric_limits<double>::quiet_NaN(), nullptr));
    std::atomic<bool> abort{true};
    EXPECT_FALSE(plat::sleepUntil(start + kFarAway, &abort));
    EXPECT_LT(plat::monotonicSeconds() - start, kLimit);
}

TEST(ClockTest, AbortFromAnotherThreadEndsTheWait)
{
    std::atomic<bool> abort{false};
    const double start = plat::monotonicSeconds();
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        abort = true;
    });
    const bool reached = plat::sleepUntil(start + kFarAway, &abort, 0.005);
    setter.join();
    EXPECT_FALSE(reached);
    EXPECT_LT(plat::monotonicSeconds() - start, kLimit);
}

// A wait that spins burns as much processor time as it waits; a sleeping one almost none.
TEST(ClockTest, WaitsSleepRatherThanSpin)
{
    std::atomic<bool> abort{false};
    const double cpuStart = threadCpuSeconds();
    const double start = plat::monotonicSeconds();
    EXPECT_TRUE(plat::sleepUntil(start + 0.3, &abort));
    const double wall = plat::monotonicSeconds() - start;
    const double cpu = threadCpuSeconds() - cpuStart;
    EXPECT_LT(cpu, 0.5 * wall) << "cpu " << cpu << " s during a wait of " << wall << " s";
}

} // namespace
