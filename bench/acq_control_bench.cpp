// Frames per second of a series run by the device control window's acquisition worker (its thread, its
// refreshes and spacing set, the acquisition call) on the simulated detector, beside the same frames
// acquired by one direct call in the same run. 1 us exposures, no files.
#include <benchmark/benchmark.h>

#include "bench_device.h"
#include "plugins/TvkCtrlUI/acq_control.h"

namespace {

constexpr int kFrames = 100;

_MgrFuncTable directTable()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.tvkCtrlGetAcqMode = getAcqMode;
    t.tvkCtrlRefreshDACs = refreshDACs;
    t.tvkCtrlRefreshPixelsCfg = refreshPixelsCfg;
    t.tvkCtrlSetAcqSpacing = setAcqSpacing;
    t.tvkCtrlPerformFrameAcq = performFrameAcq;
    t.tvkCtrlPerformIntegralAcq = performIntegralAcq;
    t.tvkCtrlPerformTestPulseAcq = performTestPulseAcq;
    t.tvkCtrlAbortOperation = abortOperation;
    t.tvkCtrlGetFrameID = getFrameID;
    return t;
}

void BM_DirectFrameAcq(benchmark::State& state)
{
    bench::OneDummyDevice device("acqctl-direct");
    if (!device.error.empty()) {
        state.SkipWithError(device.error.c_str());
        return;
    }
    for (auto _ : state)
        if (performFrameAcq(0, kFrames, 1e-6, 0, nullptr) != 0) {
            state.SkipWithError("acquisition failed");
            return;
        }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_WorkerSeries(benchmark::State& state)
{
    bench::OneDummyDevice device("acqctl-worker");
    if (!device.error.empty()) {
        state.SkipWithError(device.error.c_str());
        return;
    }
    const _MgrFuncTable t = directTable();
    AcqControl worker(&t);
    worker.setDevIndex(0);
    AcqSettings& s = worker.settings();
    s.acqCount = kFrames;
    s.acqTime = 1e-6;
    for (auto _ : state) {
        if (!worker.startSeries()) {
            state.SkipWithError("no worker thread");
            return;
        }
        waitForThread(worker);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

} // namespace

BENCHMARK(BM_DirectFrameAcq)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WorkerSeries)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
