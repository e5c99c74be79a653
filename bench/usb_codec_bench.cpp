// The counter codec on one chip's matrix, beside memcpy of the same stream in the same run:
//   decode   "Read matrix" stream -> counts (bit planes to codes, code -> count)
//   encode   counts -> "Set matrix" stream (count -> code, codes to bit planes)
// for the 13-bit and the 14-bit counters. The ratio to memcpy is printed as the counter "x memcpy", both
// timed in CPU time of the thread, so that other load on the machine does not skew it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "hwlibs/codec/counter_codec.h"

namespace {

using codec::CounterWidth;
using codec::Layout;

std::vector<uint16_t> randomCounts(CounterWidth w)
{
    std::mt19937 gen(7);
    std::uniform_int_distribution<uint32_t> d(0, codec::stateCount(w) - 1);
    std::vector<uint16_t> counts(codec::kPixelsPerChip);
    for (auto& c : counts)
        c = static_cast<uint16_t>(d(gen));
    return counts;
}

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Seconds per memcpy of bytes, measured here so that every figure has its baseline from the same run.
double memcpySeconds(size_t bytes)
{
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
    constexpr int kRounds = 2000;
    const double start = threadSeconds();
    for (int i = 0; i < kRounds; ++i) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    return (threadSeconds() - start) / kRounds;
}

void report(benchmark::State& state, size_t bytes, double elapsed)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    const double perCall = elapsed / double(state.iterations());
    state.counters["x memcpy"] = perCall / memcpySeconds(bytes);
}

void Decode(benchmark::State& state, CounterWidth w)
{
    const std::vector<uint16_t> counts = randomCounts(w);
    std::vector<uint16_t> codes = counts;
    codec::convertCodes(codes, codec::Direction::CountToCode, w);
    std::vector<uint8_t> stream(codec::streamSize(1, w, Layout::FromReadout));
    codec::streamFromMatrix(codes, 1, w, Layout::FromReadout, stream);
    std::vector<uint16_t> out(codec::kPixelsPerChip);
    const double start = threadSeconds();
    for (auto _ : state) {
        if (!codec::decodeMatrix(stream, 1, w, out)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    report(state, stream.size(), threadSeconds() - start);
}

void Encode(benchmark::State& state, CounterWidth w)
{
    const std::vector<uint16_t> counts = randomCounts(w);
    std::vector<uint8_t> stream(codec::streamSize(1, w, Layout::ToReadout));
    const double start = threadSeconds();
    for (auto _ : state) {
        if (!codec::encodeMatrix(counts, 1, w, stream)) {
            state.SkipWithError("encode failed");
            break;
        }
        benchmark::DoNotOptimize(stream.data());
        benchmark::ClobberMemory();
    }
    report(state, stream.size(), threadSeconds() - start);
}

void MemcpyStream(benchmark::State& state, CounterWidth w)
{
    const size_t bytes = codec::streamSize(1, w, Layout::FromReadout);
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

} // namespace

BENCHMARK_CAPTURE(MemcpyStream, 13bit, CounterWidth::Bits13);
BENCHMARK_CAPTURE(Decode, 13bit, CounterWidth::Bits13);
BENCHMARK_CAPTURE(Encode, 13bit, CounterWidth::Bits13);
BENCHMARK_CAPTURE(MemcpyStream, 14bit, CounterWidth::Bits14);
BENCHMARK_CAPTURE(Decode, 14bit, CounterWidth::Bits14);
BENCHMARK_CAPTURE(Encode, 14bit, CounterWidth::Bits14);
BENCHMARK_MAIN();
