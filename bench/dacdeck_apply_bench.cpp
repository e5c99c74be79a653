// One locked apply of the DAC panel (set the values, read them back, sense THL, FBK and THH once each) on
// the simulated detector, beside the same function-table calls made directly in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench_device.h"
#include "plugins/DacDeck/dac_deck_core.h"

namespace {

_MgrFuncTable directTable()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.tvkCtrlTryLockDevice = tryLockDevice;
    t.tvkCtrlReleaseDevice = releaseDevice;
    t.tvkCtrlGetDevInfo = getDevInfo;
    t.tvkCtrlGetDACs = getDACs;
    t.tvkCtrlSetDACs = setDACs;
    t.tvkCtrlGetSingleDACAnalog = getSingleDACAnalog;
    t.tvkCtrlGetDACsNames = getDACsNames;
    t.tvkCtrlSetExtDAC = setExtDAC;
    t.tvkCtrlGetExtDAC = getExtDAC;
    return t;
}

struct Names {
    int count = 0, thl = -1, thh = -1, fbk = -1;
};

Names names(const _MgrFuncTable& t)
{
    const char** n = nullptr;
    const int* widths = nullptr;
    Names r;
    t.tvkCtrlGetDACsNames(0, &n, &widths, &r.count);
    for (int i = r.count - 1; i >= 0; --i) {
        if (!std::strcmp(n[i], "THL"))
            r.thl = i;
        if (!std::strcmp(n[i], "THH"))
            r.thh = i;
        if (!std::strcmp(n[i], "FBK"))
            r.fbk = i;
    }
    return r;
}

void BM_PanelLockedApply(benchmark::State& state)
{
    bench::OneDummyDevice device("dacdeck-apply");
    if (!device.error.empty()) {
        state.SkipWithError(device.error.c_str());
        return;
    }
    const _MgrFuncTable t = directTable();
    const Names n = names(t);
    dacdeck::DacState deck(&t, 0);
    deck.setIndices(n.thl, n.thh, n.fbk);
    const int count = deck.dacCount() * deck.chipCount();
    std::vector<uint16_t> values(static_cast<size_t>(count));
    t.tvkCtrlGetDACs(0, values.data(), count, -1);
    for (auto _ : state) {
        values[0] ^= 1;
        // A locked apply as the window makes it, then the read-back that its "DACs set" brings.
        if (deck.applyDacs(values, 0, 0) != dacdeck::Applied::Sent) {
            state.SkipWithError("apply not sent");
            return;
        }
        deck.readBack();
    }
}

void BM_DirectTableCalls(benchmark::State& state)
{
    bench::OneDummyDevice device("dacdeck-direct");
    if (!device.error.empty()) {
        state.SkipWithError(device.error.c_str());
        return;
    }
    const _MgrFuncTable t = directTable();
    const Names n = names(t);
    _DevInfo info{};
    t.tvkCtrlGetDevInfo(0, &info);
    const int count = n.count * info.chipCount;
    std::vector<uint16_t> values(static_cast<size_t>(count)), current(values.size()), back(values.size());
    std::vector<double> thl(2 * static_cast<size_t>(info.chipCount)), thh(thl), fbk(thl);
    t.tvkCtrlGetDACs(0, values.data(), count, -1);
    for (auto _ : state) {
        values[0] ^= 1;
        int locked = 0;
        t.tvkCtrlTryLockDevice(0, &locked, 0);
        t.tvkCtrlGetDACs(0, current.data(), count, -1);
        t.tvkCtrlSetDACs(0, values.data(), count, -1, 0, 0);
        t.tvkCtrlReleaseDevice(0);
        t.tvkCtrlGetDACs(0, back.data(), count, -1);
        t.tvkCtrlGetSingleDACAnalog(0, thl.data(), 2 * info.chipCount, n.thl, -1, 1);
        t.tvkCtrlGetSingleDACAnalog(0, fbk.data(), 2 * info.chipCount, n.fbk, -1, 1);
        t.tvkCtrlGetSingleDACAnalog(0, thh.data(), 2 * info.chipCount, n.thh, -1, 1);
        benchmark::DoNotOptimize(back.data());
    }
}

} // namespace

BENCHMARK(BM_DirectTableCalls)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PanelLockedApply)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
