// The DAQ-card library on its simulated card, each figure beside its baseline from the same run:
//   4-chip matrix read (chip type 2) on an unthrottled card   beside the codec's decode of the same stream
//                                                               (target: at most 1.5 times it)
//   process CPU per wall second during a 1 s throttled read    beside the same read polled without sleeping
//                                                               (target: at most 5 % of a core)
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <vector>

#include "hwlibs/codec/counter_codec.h"
#include "hwlibs/dorvel/counter_streams.h"
#include "hwlibs/dorvel/dorvel_device.h"
#include "hwlibs/dorvel/sim/sim_card.h"
#include "hwlibs/dorvel/wire.h"
#include "platform/clock.h"

namespace {

using namespace dorvel;

constexpr int kChips = 4;
constexpr int kChipType = 2;
constexpr uint32_t kPixels = kChips * 65536;

struct Card {
    std::shared_ptr<SimCard> card;
    std::unique_ptr<DorvelDevice> device;
    std::string error;

    explicit Card(double wordsPerSecond)
    {
        SimCardConfig config;
        config.cards = 1;
        config.chips = kChips;
        config.chipType = kChipType;
        card = std::make_shared<SimCard>(config);
        device = std::make_unique<DorvelDevice>(DeviceContext{card, nullptr, "", 0x712, "7.12"}, 1, "DAQCard-6533");
        if (device->init() != 0) {
            error = device->lastError();
            return;
        }
        // One exposure, so that the counters hold a pattern and not zeros.
        const _AcqPars pars{0, 0, 1, ACQMODE_MANUAL, 0.0};
        device->setAcqPars(&pars);
        device->startAcquisition();
        device->stopAcquisition();
        SimFaults faults;
        faults.wordsPerSecond = wordsPerSecond;
        card->setFaults(1, faults);
    }
};

void MatrixRead4Chips(benchmark::State& state)
{
    Card c(0.0);
    if (!c.error.empty()) {
        state.SkipWithError(c.error.c_str());
        return;
    }
    std::vector<uint16_t> values(kPixels);
    for (auto _ : state) {
        if (c.device->readMatrix(values.data(), kPixels) != 0) {
            state.SkipWithError(c.device->lastError());
            break;
        }
        benchmark::DoNotOptimize(values.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels * 2);
}

void CodecDecode4ChipsBaseline(benchmark::State& state)
{
    Card c(0.0);
    const std::vector<uint16_t> counts = c.card->counts(1);
    const size_t size = size_t{kChips} * wire::chipStreamBytes(kChipType);
    std::vector<uint8_t> stream(size);
    chipsSendMatrix(counts.data(), kChips, kChipType, stream.data(), size);
    std::vector<uint16_t> values(kPixels);
    for (auto _ : state) {
        codec::decodeMatrix(stream, kChips, codec::CounterWidth::Bits14, values);
        benchmark::DoNotOptimize(values.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPixels * 2);
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// One read of a second's worth of words at a throttled rate, through the library's transfer loop or,
// for the baseline, with the card polled in a loop that never sleeps.
void throttledRead(benchmark::State& state, bool library)
{
    constexpr double kRate = 200000.0;
    constexpr uint32_t kWords = 200000;
    Card c(kRate);
    if (!c.error.empty()) {
        state.SkipWithError(c.error.c_str());
        return;
    }
    std::vector<uint16_t> words(kWords);
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpu0 = processCpuSeconds(), wall0 = plat::monotonicSeconds();
        c.card->portOut(1, wire::kAddressPort, wire::kAddressRead | wire::kRegVersion);
        if (library) {
            if (c.device->readData(kWords, words.data(), TransferLimits{5.0}) != 0) {
                state.SkipWithError(c.device->lastError());
                break;
            }
        } else {
            c.card->groupConfig(1, wire::kDataGroup, 2, 0, 0);
            c.card->blockIn(1, wire::kDataGroup, words.data(), kWords);
            for (uint32_t remaining = 1; remaining != 0;)
                c.card->blockCheck(1, wire::kDataGroup, &remaining);
            c.card->groupConfig(1, wire::kDataGroup, 0, 0, 0);
        }
        cpu += processCpuSeconds() - cpu0;
        wall += plat::monotonicSeconds() - wall0;
    }
    state.counters["cpu_per_wall_s"] = wall > 0 ? cpu / wall : 0.0;
}

void ThrottledReadCpu(benchmark::State& state)
{
    throttledRead(state, true);
}

void ThrottledReadCpuSpinBaseline(benchmark::State& state)
{
    throttledRead(state, false);
}

} // namespace

BENCHMARK(MatrixRead4Chips)->Unit(benchmark::kMicrosecond);
BENCHMARK(CodecDecode4ChipsBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(ThrottledReadCpu)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(ThrottledReadCpuSpinBaseline)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

BENCHMARK_MAIN();
