// The counter codec on one chip's matrix, beside memcpy of the same stream in the same run:
//   decode   "Read matrix" stream -> counts (bit planes to codes, code -> count)
//   encode   counts -> "Set matrix" stream (count -> code, codes to bit planes)
//   lookup   the code -> count table lookup alone, one per pixel: the part no packing can take away
// for the 13-bit and the 14-bit counters, all cache-hot. Times are CPU time of the thread, so that other
// load on the machine skews them less; the table at the end gives each figure beside its baseline, as the
// median and as the least of the repetitions (run with --benchmark_repetitions=N).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/pair_reporter.h"
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

std::vector<uint16_t> randomCodes(CounterWidth w)
{
    std::vector<uint16_t> codes = randomCounts(w);
    codec::convertCodes(codes, codec::Direction::CountToCode, w);
    return codes;
}

void Decode(benchmark::State& state, CounterWidth w)
{
    std::vector<uint8_t> stream(codec::streamSize(1, w, Layout::FromReadout));
    codec::streamFromMatrix(randomCodes(w), 1, w, Layout::FromReadout, stream);
    std::vector<uint16_t> out(codec::kPixelsPerChip);
    for (auto _ : state) {
        if (!codec::decodeMatrix(stream, 1, w, out)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

void Encode(benchmark::State& state, CounterWidth w)
{
    const std::vector<uint16_t> counts = randomCounts(w);
    std::vector<uint8_t> stream(codec::streamSize(1, w, Layout::ToReadout));
    for (auto _ : state) {
        if (!codec::encodeMatrix(counts, 1, w, stream)) {
            state.SkipWithError("encode failed");
            break;
        }
        benchmark::DoNotOptimize(stream.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

// The floor under decoding: only the code -> count lookup of every pixel of a chip, one narrow load and
// store per pixel from a table of the same size (filled from the codec's), the codes read from a buffer
// of eight rows that stays in the first-level cache, as the codec does.
[[gnu::noinline, gnu::optimize("no-tree-vectorize")]] void lookupRow(const uint16_t* in, const uint16_t* table,
                                                                     uint16_t* out)
{
#pragma GCC unroll 16
    for (size_t i = 0; i < 256; ++i)
        out[i] = table[in[i]];
}

void Lookup(benchmark::State& state, CounterWidth w)
{
    std::vector<uint16_t> table(codec::codeCount(w));
    for (uint32_t code = 0; code < table.size(); ++code)
        table[code] = codec::codeToCount(w, static_cast<uint16_t>(code));
    const std::vector<uint16_t> codes = randomCodes(w);
    alignas(64) uint16_t rows[8 * 256];
    std::memcpy(rows, codes.data(), sizeof rows);
    std::vector<uint16_t> out(codec::kPixelsPerChip);
    for (auto _ : state) {
        for (size_t row = 0; row < codec::kRowsPerChip; ++row)
            lookupRow(rows + (row % 8) * 256, table.data(), out.data() + row * 256);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
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

// Keeps every repetition's CPU time per run name as well, for the medians.
class MedianReporter : public bench::PairReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        PairReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                all[r.run_name.str()].push_back(r.GetAdjustedCPUTime());
    }
    double median(const std::string& name)
    {
        std::vector<double>& v = all[name];
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    std::map<std::string, std::vector<double>> all;
};

} // namespace

BENCHMARK_CAPTURE(MemcpyStream, 13bit, CounterWidth::Bits13);
BENCHMARK_CAPTURE(Decode, 13bit, CounterWidth::Bits13);
BENCHMARK_CAPTURE(Encode, 13bit, CounterWidth::Bits13);
BENCHMARK_CAPTURE(Lookup, 13bit, CounterWidth::Bits13);
BENCHMARK_CAPTURE(MemcpyStream, 14bit, CounterWidth::Bits14);
BENCHMARK_CAPTURE(Decode, 14bit, CounterWidth::Bits14);
BENCHMARK_CAPTURE(Encode, 14bit, CounterWidth::Bits14);
BENCHMARK_CAPTURE(Lookup, 14bit, CounterWidth::Bits14);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    struct Pair {
        const char* figure;
        const char* baseline;
        double target;
    } pairs[] = {
        {"Decode/13bit", "MemcpyStream/13bit", 10.0},
        {"Encode/13bit", "MemcpyStream/13bit", 10.0},
        {"Lookup/13bit", "MemcpyStream/13bit", 0.0},
        {"Decode/14bit", "MemcpyStream/14bit", 10.0},
        {"Encode/14bit", "MemcpyStream/14bit", 10.0},
        {"Lookup/14bit", "MemcpyStream/14bit", 0.0},
    };
    std::printf("\n%-18s %10s   %-20s %10s %8s %8s %8s\n", "figure (cpu)", "median us", "baseline", "median us",
                "ratio", "least", "target");
    for (const Pair& p : pairs) {
        const double a = reporter.median(p.figure), b = reporter.median(p.baseline);
        const auto la = reporter.cpuTimes.find(p.figure), lb = reporter.cpuTimes.find(p.baseline);
        if (a <= 0 || b <= 0 || la == reporter.cpuTimes.end() || lb == reporter.cpuTimes.end())
            continue;
        char target[16] = "-";
        if (p.target > 0)
            std::snprintf(target, sizeof target, "%.0fx", p.target);
        std::printf("%-18s %10.2f   %-20s %10.2f %7.2fx %7.2fx %8s\n", p.figure,
                    a / 1e3, p.baseline, b / 1e3, a / b, la->second / lb->second, target);
    }
    benchmark::Shutdown();
    return 0;
}
