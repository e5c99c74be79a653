// Precise time and sleep-based waits.
#pragma once

#include <atomic>

namespace plat {

// Seconds of the monotonic clock (steady, sub-microsecond resolution, arbitrary origin).
double monotonicSeconds();

// Seconds since 1970 with sub-millisecond resolution, monotonic: the wall clock is read once and the
// monotonic clock carries it forward.
double preciseNow();

// Sleeps for the given seconds (<= 0 returns at once).
void sleepSeconds(double seconds);

// Sleeps until the monotonic clock reaches target or abort (may be null) becomes true, polled at least
// every pollSeconds (1 ms when not positive). Returns false when aborted; never spins.
bool sleepUntil(double monotonicTarget, const std::atomic<bool>* abort, double pollSeconds = 0.001);

} // namespace plat
