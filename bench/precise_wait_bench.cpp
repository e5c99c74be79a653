// preciseWait of 1 ms: wall time per wait (1 ms + overshoot), CPU time per wait and the mean overshoot,
// beside a plain clock_nanosleep of 1 ms measured in the same run. A wait that spun would show a CPU
// time near its wall time.
#include <atomic>
#include <chrono>
#include <ctime>

#include <benchmark/benchmark.h>

#include "pluginfw/tvk_utils.h"

namespace {

constexpr double kWaitSeconds = 0.001;

using Clock = std::chrono::steady_clock;

void reportOvershoot(benchmark::State& state, Clock::duration total)
{
    const double perWait = std::chrono::duration<double, std::micro>(total).count() /
                           static_cast<double>(state.iterations());
    state.counters["overshoot_us"] = perWait - kWaitSeconds * 1e6;
}

void BM_ClockNanosleep_1ms(benchmark::State& state)
{
    const timespec request = {0, static_cast<long>(kWaitSeconds * 1e9)};
    Clock::duration total{};
    for (auto _ : state) {
        const auto start = Clock::now();
        clock_nanosleep(CLOCK_MONOTONIC, 0, &request, nullptr);
        total += Clock::now() - start;
    }
    reportOvershoot(state, total);
}

void BM_PreciseWait_1ms(benchmark::State& state)
{
    Clock::duration total{};
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(preciseWait(kWaitSeconds, nullptr));
        total += Clock::now() - start;
    }
    reportOvershoot(state, total);
}

void BM_PreciseWaitAbortable_1ms(benchmark::State& state)
{
    const std::atomic<bool> abort{false};
    Clock::duration total{};
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(preciseWait(kWaitSeconds, &abort));
        total += Clock::now() - start;
    }
    reportOvershoot(state, total);
}

// Real time decides the iteration count: the CPU time of a sleeping wait is tiny.
BENCHMARK(BM_ClockNanosleep_1ms)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(1000);
BENCHMARK(BM_PreciseWait_1ms)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(1000);
BENCHMARK(BM_PreciseWaitAbortable_1ms)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(1000);

} // namespace

BENCHMARK_MAIN();
