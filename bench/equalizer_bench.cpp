// Threshold equalization and DAC scan figures, each beside its baseline from the same run:
//   median of a chip's 65,536 u16 counts by the scan's histogram and by nth_element on a copy, beside
//   std::sort of a copy (target: >= 5x faster, the same element)
//   engine time per DAC step of an equalization of a 4-chip detector model, beside one memcpy of the
//   device's 32-bit counts (target: <= 10x). The engine's time is the time outside the device calls: the
//   model's physics (the counts of an exposure) and the device library's copies (frame, configuration)
//   are left out and shown beside it as "device us/step".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hwlibs/model/detector_model.h"
#include "plugins/Equalizer/dac_scan.h"
#include "plugins/Equalizer/th_equalization.h"
#include "pair_reporter.h"

namespace {

constexpr uint32_t kChipPixels = 65536;

// ---- medians ----

const std::vector<uint16_t>& noiseCounts()
{
    static const std::vector<uint16_t> counts = [] {
        std::mt19937 rng(7);
        std::poisson_distribution<int> noise(900);
        std::vector<uint16_t> c(kChipPixels);
        for (uint16_t& v : c)
            v = static_cast<uint16_t>(noise(rng));
        return c;
    }();
    return counts;
}

uint16_t medianBySort(const std::vector<uint16_t>& counts)
{
    std::vector<uint16_t> copy(counts);
    std::sort(copy.begin(), copy.end());
    return copy[kChipPixels / 2];
}

uint16_t medianByNthElement(const std::vector<uint16_t>& counts)
{
    std::vector<uint16_t> copy(counts);
    std::nth_element(copy.begin(), copy.begin() + kChipPixels / 2, copy.end());
    return copy[kChipPixels / 2];
}

void MedianSort(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(medianBySort(noiseCounts()));
}

void MedianNthElement(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(medianByNthElement(noiseCounts()));
}

void MedianHistogram(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(equalizer::medianOfAll(noiseCounts().data()));
}

BENCHMARK(MedianSort)->Unit(benchmark::kMicrosecond);
BENCHMARK(MedianNthElement)->Unit(benchmark::kMicrosecond);
BENCHMARK(MedianHistogram)->Unit(benchmark::kMicrosecond);

// ---- engine per DAC step ----

// A 4-chip type-2 device in the process: the detector model behind the function-table slots the engine
// uses. Time spent computing exposures is kept apart.
struct BenchDevice {
    hwmodel::DetectorModel model{[] {
        hwmodel::ModelParams p;
        p.chips = 4;
        p.chipType = 2;
        p.offsetSigma = 2.5;
        p.adjGain = 1.5;
        p.noiseWidth = 0.7;
        return p;
    }()};
    std::vector<const char*> names;
    std::vector<int> bits;
    std::vector<uint16_t> dacs;
    std::vector<uint8_t> cfg;
    std::vector<uint16_t> counts;
    int spacing = 1, conversion = 1;
    double deviceSeconds = 0; // time spent in the device calls below

    // Adds the time of its scope to deviceSeconds.
    struct Timed {
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        ~Timed()
        {
            get().deviceSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
    };

    BenchDevice()
    {
        const hwmodel::ModelDacs& layout = model.dacs();
        static const char* const kOther[] = {"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8", "D9", "D10",
                                             "D11", "D12", "D13", "D14"};
        for (int i = 0; i < layout.count; ++i)
            names.push_back(kOther[i]);
        names[static_cast<size_t>(layout.thl)] = "THL";
        names[static_cast<size_t>(layout.thh)] = "THH";
        names[0] = "THS";
        names[1] = "FBK";
        bits = layout.bits;
        dacs.assign(static_cast<size_t>(4 * layout.count), 0);
        cfg.assign(model.pixelCount(), 3);
        counts.assign(model.pixelCount(), 0);
    }
    static BenchDevice& get()
    {
        static BenchDevice device;
        return device;
    }
};

int getDacsNames(unsigned, const char*** names, const int** bits, int* count)
{
    BenchDevice& d = BenchDevice::get();
    *names = d.names.data();
    *bits = d.bits.data();
    *count = static_cast<int>(d.names.size());
    return 0;
}

int getDevInfo(unsigned, _DevInfo* info)
{
    *info = _DevInfo{};
    info->pixelCount = static_cast<int32_t>(BenchDevice::get().model.pixelCount());
    info->rowLength = 512;
    info->chipCount = 4;
    info->chipRows = 2;
    info->chipType = 2;
    return 0;
}

int getPolarity(unsigned, int* polarity)
{
    *polarity = 1;
    return 0;
}

int getDacs(unsigned, uint16_t* dacs, int size, int)
{
    const std::vector<uint16_t>& d = BenchDevice::get().dacs;
    std::copy_n(d.begin(), std::min<size_t>(d.size(), static_cast<size_t>(size)), dacs);
    return 0;
}

int setDacs(unsigned, const uint16_t* dacs, int size, int, int, int)
{
    const BenchDevice::Timed timed;
    std::vector<uint16_t>& d = BenchDevice::get().dacs;
    std::copy_n(dacs, std::min<size_t>(d.size(), static_cast<size_t>(size)), d.begin());
    return 0;
}

int getPixelsCfg(unsigned, uint8_t* cfg, uint32_t size, int)
{
    std::memcpy(cfg, BenchDevice::get().cfg.data(), size);
    return 0;
}

int setPixelsCfg(unsigned, uint8_t* cfg, uint32_t size, int)
{
    const BenchDevice::Timed timed;
    std::memcpy(BenchDevice::get().cfg.data(), cfg, size);
    return 0;
}

int getSpacing(unsigned, int* v)
{
    *v = BenchDevice::get().spacing;
    return 0;
}

int setSpacing(unsigned, int v)
{
    BenchDevice::get().spacing = v;
    return 0;
}

int getConversion(unsigned, int* v)
{
    *v = BenchDevice::get().conversion;
    return 0;
}

int setConversion(unsigned, int v)
{
    BenchDevice::get().conversion = v;
    return 0;
}

int integralAcq(unsigned, int, double, uint32_t, const char*)
{
    BenchDevice& d = BenchDevice::get();
    const BenchDevice::Timed timed;
    std::fill(d.counts.begin(), d.counts.end(), uint16_t{0});
    d.model.expose(d.cfg.data(), {d.dacs.data(), true, 0}, d.counts.data());
    return 0;
}

int getFrame32(unsigned, uint32_t* buffer, uint32_t size, int)
{
    const BenchDevice::Timed timed;
    const std::vector<uint16_t>& c = BenchDevice::get().counts;
    std::copy_n(c.begin(), std::min<size_t>(c.size(), size), buffer);
    return 0;
}

int logNothing(const char*, const char*, int, ...)
{
    return 0;
}

_MgrFuncTable benchTable()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.mgrLogMsg = logNothing;
    t.tvkCtrlGetDACsNames = getDacsNames;
    t.tvkCtrlGetDevInfo = getDevInfo;
    t.tvkCtrlGetPolarity = getPolarity;
    t.tvkCtrlGetDACs = getDacs;
    t.tvkCtrlSetDACs = setDacs;
    t.tvkCtrlGetPixelsCfg = getPixelsCfg;
    t.tvkCtrlSetPixelsCfg = setPixelsCfg;
    t.tvkCtrlGetAcqSpacing = getSpacing;
    t.tvkCtrlSetAcqSpacing = setSpacing;
    t.tvkCtrlGetAutoConvToSM = getConversion;
    t.tvkCtrlSetAutoConvToSM = setConversion;
    t.tvkCtrlPerformIntegralAcq = integralAcq;
    t.tvkCtrlGetFrame32 = getFrame32;
    return t;
}

// One iteration: a whole all-levels noise-edge run; the time reported is the engine's per DAC step.
void EngineDacStep(benchmark::State& state)
{
    static const _MgrFuncTable table = benchTable();
    BenchDevice& device = BenchDevice::get();
    equalizer::ThEqualization eq;
    int64_t steps = 0;
    if (eq.setUp(&table, 0, [&](unsigned m, int) { steps += m == equalizer::kMsgDacStep; }) != 0) {
        state.SkipWithError("set-up failed");
        return;
    }
    equalizer::EqualizationSettings s;
    s.acqTime = 1e-6;
    eq.setSettings(s);
    eq.configure(equalizer::kThlNoiseEdge, false, 485, 538, 1);
    int64_t total = 0;
    double deviceTotal = 0;
    for (auto _ : state) {
        std::fill(device.cfg.begin(), device.cfg.end(), uint8_t{3});
        device.deviceSeconds = 0;
        steps = 0;
        const auto start = std::chrono::steady_clock::now();
        if (eq.run() != 0) {
            state.SkipWithError("run failed");
            return;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - device.deviceSeconds;
        state.SetIterationTime(seconds / static_cast<double>(std::max<int64_t>(steps, 1)));
        total += steps;
        deviceTotal += device.deviceSeconds;
    }
    state.counters["steps/run"] = static_cast<double>(total) / static_cast<double>(state.iterations());
    state.counters["device us/step"] = deviceTotal * 1e6 / static_cast<double>(std::max<int64_t>(total, 1));
}

void MemcpyCounts(benchmark::State& state)
{
    std::vector<uint32_t> from(4 * kChipPixels, 7), to(4 * kChipPixels);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * sizeof(uint32_t));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(EngineDacStep)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(5);
BENCHMARK(MemcpyCounts)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.functionTimes;
    const uint16_t bySort = medianBySort(noiseCounts());
    const bool same = medianByNthElement(noiseCounts()) == bySort &&
                      equalizer::medianOfAll(noiseCounts().data()) == bySort;
    std::printf("\n%-18s %10s   %-14s %10s %8s %s\n", "figure", "us", "baseline", "us", "ratio", "target");
    for (const char* name : {"MedianHistogram", "MedianNthElement"})
        if (t[name] > 0 && t["MedianSort"] > 0)
            std::printf("%-18s %10.2f   %-14s %10.2f %7.2fx %s\n", name, t[name], "MedianSort", t["MedianSort"],
                        t["MedianSort"] / t[name], "faster, >= 5x");
    std::printf("same element as the sort: %s (%u)\n", same ? "yes" : "NO", bySort);
    if (t["EngineDacStep"] > 0 && t["MemcpyCounts"] > 0)
        std::printf("%-18s %10.2f   %-14s %10.2f %7.2fx %s\n", "EngineDacStep", t["EngineDacStep"], "MemcpyCounts",
                    t["MemcpyCounts"], t["EngineDacStep"] / t["MemcpyCounts"], "of the memcpy, <= 10x");
    benchmark::Shutdown();
    return 0;
}
