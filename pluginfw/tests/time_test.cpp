// Precise time, its text, and the wait that another thread can abort. Bounds are generous: the tests
// also run on loaded machines and under sanitizers.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "time_utils.h"

namespace {

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TEST(PreciseTime, FollowsTheCalendarAndNeverGoesBack)
{
    EXPECT_NEAR(getPreciseTime(), wallSeconds(), 5.0);

    std::vector<std::thread> threads;
    std::atomic<int> backwards{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            double last = getPreciseTime();
            for (int i = 0; i < 20000; ++i) {
                const double now = getPreciseTime();
                if (now < last)
                    ++backwards;
                last = now;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(backwards.load(), 0);
}

TEST(Timestamp, CalendarTextWithFraction)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const struct {
        double seconds;
        unsigned digits;
        const char* expected;
    } cases[] = {
        {1768379413.123456, 6, "Wed Jan 14 08:30:13.123456 2026"},
        {1768379413.123456, 4, "Wed Jan 14 08:30:13.1234 2026"},
        {0.0, 6, "Thu Jan  1 00:00:00.000000 1970"},      // day padded with a blank
        {59.9999999999, 6, "Thu Jan  1 00:00:59.999999 1970"}, // truncated, never a 60th second
        {-0.5, 2, "Wed Dec 31 23:59:59.50 1969"},
        {1768379413.5, 0, "Wed Jan 14 08:30:13 2026"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        char out[64];
        EXPECT_EQ(formatTimestamp(c.seconds, out, c.digits), out);
        EXPECT_STREQ(out, c.expected);
    }
    char out[64] = "x";
    EXPECT_STREQ(formatTimestamp(std::nan(""), out), "");
    EXPECT_STREQ(formatTimestamp(1e300, out), "");
}

TEST(PreciseWait, WaitsAndIsAbortedFromAnotherThread)
{
    using Clock = std::chrono::steady_clock;
    auto elapsed = [](Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };

    auto start = Clock::now();
    EXPECT_TRUE(preciseWait(0.05, nullptr));
    EXPECT_GE(elapsed(start), 0.05);

    std::atomic<bool> abort{false};
    start = Clock::now();
    EXPECT_TRUE(preciseWait(0.05, &abort));
    EXPECT_GE(elapsed(start), 0.05);

    // A 10 s wait aborted after 0.1 s comes back long before its end.
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abort = true;
    });
    start = Clock::now();
    EXPECT_FALSE(preciseWait(10.0, &abort));
    const double waited = elapsed(start);
    aborter.join();
    EXPECT_GE(waited, 0.09);
    EXPECT_LT(waited, 5.0);

    // Already aborted, and nothing to wait for.
    start = Clock::now();
    EXPECT_FALSE(preciseWait(10.0, &abort));
    EXPECT_TRUE(preciseWait(-1.0, nullptr));
    EXPECT_TRUE(preciseWait(std::nan(""), nullptr));
    EXPECT_LT(elapsed(start), 5.0);
}

} // namespace
