// Precise time on the steady clock; waits that sleep.
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace plat {

namespace {

using Seconds = std::chrono::duration<double>;

// Longest single sleep: keeps the conversion to the clock's integer ticks far from overflow.
constexpr double kMaxSleepSeconds = 1e9;

double wallMinusMonotonic()
{
    const double wall = Seconds(std::chrono::system_clock::now().time_since_epoch()).count();
    return wall - monotonicSeconds();
}

void sleepFor(double seconds)
{
    seconds = std::min(seconds, kMaxSleepSeconds);
    std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::nanoseconds>(Seconds(seconds)));
}

} // namespace

double monotonicSeconds()
{
    return Seconds(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double preciseNow()
{
    // Fixed once (thread-safe static initialisation); later wall-clock steps do not move it.
    static const double offset = wallMinusMonotonic();
    return monotonicSeconds() + offset;
}

void sleepSeconds(double seconds)
{
    if (!(seconds > 0)) // also NaN
        return;
    sleepFor(seconds);
}

bool sleepUntil(double monotonicTarget, const std::atomic<bool>* abort, double pollSeconds)
{
    if (!(pollSeconds > 0))
        pollSeconds = 0.001;
    for (;;) {
        if (abort && abort->load())
            return false;
        const double remaining = monotonicTarget - monotonicSeconds();
        if (!(remaining > 0)) // reached, or a NaN target
            return true;
        sleepFor(abort ? std::min(remaining, pollSeconds) : remaining);
    }
}

} // namespace plat
