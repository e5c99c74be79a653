// Read-out of the simulated detector (hwlibs/tvkHwDummy.so) for one 256 x 256 exposure, beside memcpy of
// the same frame in the same run:
//   cached image, noise off      scaling, mask and fold of every pixel
//   cached image, noise on       the same with a Poisson sample per pixel (mean 1000 and mean 5)
//   image read from disk         a dense text file parsed at each exposure (cache count 0)
// A private copy of the library is loaded from a scratch folder with its own settings file and image.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/module.h"
#include "tvk_hw.h"
#include "pluginfw/tvk_utils.h"
#include "bench_device.h"

namespace {

constexpr uint32_t kPixels = 65536;
enum Item { kPoissonNoise = 1, kTimeElement = 2, kDataFileName = 3, kCacheCount = 5 };

// One exposure whose time element is set to the measured time, so that every pixel has the image's
// value as its mean.
int exposeAndRead(const _HwFuncTable& hw, int id, uint16_t* counts)
{
    hw.hwResetMatrix(id);
    hw.hwStartAcquisition(id);
    hw.hwStopAcquisition(id);
    double elapsed = 0;
    hw.hwGetAcqTime(id, &elapsed);
    hw.hwSetHwInfo(id, kTimeElement, &elapsed, sizeof elapsed);
    return hw.hwReadMatrix(id, counts, kPixels);
}

struct Setup {
    std::string dir;
    plat::Module module;
    const _HwFuncTable* hw = nullptr;
    std::string error;

    Setup()
    {
        dir = bench::makeDummyFolder("dummy-bench", "", "[Dummy]\nCount=2\nUnique=1\n", error);
        if (!error.empty())
            return;
        // Device 0 serves 1000 in every pixel, device 1 serves 5.
        for (int dev = 0; dev < 2; ++dev)
            bench::writeDummyImage(dir + "/dummy_" + std::to_string(2000 + dev) + ".txt", dev == 0 ? 1000 : 5);
        if (!module.open(dir + "/tvkHwDummy.so")) {
            error = module.error();
            return;
        }
        hw = reinterpret_cast<GetMandatoryFuncsFn>(module.symbol(TVK_HW_ENTRY_NAME))();
        int id = -1;
        for (int r = hw->hwGetFirst(&id); r == 0; r = hw->hwGetNext(&id))
            if (hw->hwInit(id) != 0)
                error = hw->hwGetLastError(id);
    }
    ~Setup()
    {
        module.close();
        std::filesystem::remove_all(dir);
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

void runReadout(benchmark::State& state, int id, bool noise, uint32_t cacheCount)
{
    Setup& s = setup();
    if (!s.error.empty() || !s.hw) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    const int32_t on = noise ? 1 : 0;
    s.hw->hwSetHwInfo(id, kPoissonNoise, &on, sizeof on);
    s.hw->hwSetHwInfo(id, kCacheCount, &cacheCount, sizeof cacheCount);
    std::vector<uint16_t> counts(kPixels);
    for (auto _ : state) {
        if (exposeAndRead(*s.hw, id, counts.data()) != 0) {
            state.SkipWithError(s.hw->hwGetLastError(id));
            break;
        }
        benchmark::DoNotOptimize(counts.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels * 2);
}

void ReadoutCachedNoiseOff(benchmark::State& state)
{
    runReadout(state, 0, false, 1);
}

void ReadoutCachedNoiseMean1000(benchmark::State& state)
{
    runReadout(state, 0, true, 1);
}

void ReadoutCachedNoiseMean5(benchmark::State& state)
{
    runReadout(state, 1, true, 1);
}

void ReadoutFromTextFile(benchmark::State& state)
{
    runReadout(state, 0, false, 0);
}

void MemcpyFrame(benchmark::State& state)
{
    std::vector<uint16_t> from(kPixels, 1000), to(kPixels);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kPixels * 2);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels * 2);
}

} // namespace

BENCHMARK(MemcpyFrame);
BENCHMARK(ReadoutCachedNoiseOff);
BENCHMARK(ReadoutCachedNoiseMean5);
BENCHMARK(ReadoutCachedNoiseMean1000);
BENCHMARK(ReadoutFromTextFile);
BENCHMARK_MAIN();
