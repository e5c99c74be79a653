// Poisson noise of the simulated detector: one frame of 65536 pixels through the sampler as the read-out
// calls it, for mean 10, mean 1000 and whole means spread over 500-1500 (each pixel its own), beside
// std::poisson_distribution with std::mt19937 in this process and numpy's Generator.poisson on the same
// frames (bench/numpy_poisson.py, run by this program; make bench installs numpy). The column vs_numpy is
// numpy's CPU time per frame over ours: above 1 we are faster.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hwlibs/dummy/poisson.h"

namespace {

constexpr uint32_t kPixels = 65536;

enum Case { kMean10, kMean1000, kSpread };
const char* const kCaseNames[] = {"mean10", "mean1000", "spread500to1500"};

std::vector<uint32_t> meansOf(Case c)
{
    std::vector<uint32_t> means(kPixels);
    for (uint32_t i = 0; i < kPixels; ++i)
        means[i] = c == kMean10 ? 10 : c == kMean1000 ? 1000 : 500 + (i * 7919u) % 1001u;
    return means;
}

// Nanoseconds per frame of numpy, by case name; empty when python3 or numpy is missing.
const std::map<std::string, double>& numpyFigures()
{
    static const std::map<std::string, double> figures = [] {
        std::map<std::string, double> out;
        const std::string script = (std::filesystem::path(__FILE__).parent_path() / "numpy_poisson.py").string();
        // Debian's python3 (where python3-numpy installs) before whatever python3 comes first on the path.
        const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
        FILE* pipe = ::popen((python + " '" + script + "' 2>/dev/null").c_str(), "r");
        if (!pipe)
            return out;
        char name[64];
        double ns = 0;
        while (std::fscanf(pipe, "%63s %lf", name, &ns) == 2)
            out[name] = ns;
        ::pclose(pipe);
        return out;
    }();
    return figures;
}

void reportAgainstNumpy(benchmark::State& state, Case c, double ourNsPerFrame)
{
    const auto& numpy = numpyFigures();
    const auto it = numpy.find(kCaseNames[c]);
    if (it != numpy.end() && ourNsPerFrame > 0)
        state.counters["vs_numpy"] = it->second / ourNsPerFrame;
}

// CPU time of this thread: numpy's figure is CPU time too, so a busy machine shifts both alike.
double threadCpuNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <typename F>
void timeFrames(benchmark::State& state, Case c, F&& frame)
{
    const std::vector<uint32_t> means = meansOf(c);
    std::vector<uint16_t> out(kPixels);
    const double start = threadCpuNs();
    for (auto _ : state) {
        frame(means, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double ns = threadCpuNs() - start;
    reportAgainstNumpy(state, c, state.iterations() ? ns / static_cast<double>(state.iterations()) : 0);
    state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}

void SamplerFrame(benchmark::State& state)
{
    const auto c = static_cast<Case>(state.range(0));
    state.SetLabel(kCaseNames[c]);
    hwdummy::PoissonSampler sampler(2000);
    timeFrames(state, c, [&](const std::vector<uint32_t>& means, std::vector<uint16_t>& out) {
        for (uint32_t i = 0; i < kPixels; ++i)
            out[i] = static_cast<uint16_t>(sampler.sampleWhole(means[i]) % 8001u);
    });
}

void StdPoissonMt19937Frame(benchmark::State& state)
{
    const auto c = static_cast<Case>(state.range(0));
    state.SetLabel(kCaseNames[c]);
    std::mt19937 rng(2000);
    timeFrames(state, c, [&](const std::vector<uint32_t>& means, std::vector<uint16_t>& out) {
        if (c != kSpread) {
            std::poisson_distribution<uint32_t> dist(means[0]);
            for (uint32_t i = 0; i < kPixels; ++i)
                out[i] = static_cast<uint16_t>(dist(rng) % 8001u);
            return;
        }
        std::poisson_distribution<uint32_t> dist;
        for (uint32_t i = 0; i < kPixels; ++i)
            out[i] = static_cast<uint16_t>(dist(rng, std::poisson_distribution<uint32_t>::param_type(means[i])) % 8001u);
    });
}

// numpy's figure from the same run, shown as a row of its own.
void NumpyGeneratorPoissonFrame(benchmark::State& state)
{
    const auto c = static_cast<Case>(state.range(0));
    state.SetLabel(kCaseNames[c]);
    const auto& numpy = numpyFigures();
    const auto it = numpy.find(kCaseNames[c]);
    if (it == numpy.end()) {
        state.SkipWithError("python3 with numpy is not installed (make bench installs it)");
        return;
    }
    for (auto _ : state)
        state.SetIterationTime(it->second * 1e-9);
    state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}

} // namespace

BENCHMARK(NumpyGeneratorPoissonFrame)->DenseRange(kMean10, kSpread)->UseManualTime()->Iterations(1);
BENCHMARK(StdPoissonMt19937Frame)->DenseRange(kMean10, kSpread);
BENCHMARK(SamplerFrame)->DenseRange(kMean10, kSpread);
BENCHMARK_MAIN();
