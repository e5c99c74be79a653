// Draining a burst of 50000 queued log entries into the log window in one timer tick (the table keeps
// the newest 10000 rows, trimmed in one step), beside appending the same rows one by one to a plain
// list model without a view.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include <unistd.h>

#include <QApplication>
#include <QStringListModel>

#include <benchmark/benchmark.h>

#include "log_dlg.h"
#include "utils_app.h"

namespace {

constexpr int kEntries = 50000;

std::deque<LogItem> gQueue;

const _IntFuncTable kTable = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    []() -> LogItem* { return gQueue.empty() ? nullptr : &gQueue.front(); },
    []() {
        if (!gQueue.empty())
            gQueue.pop_front();
    },
};

void fillQueue()
{
    for (int i = 0; i < kEntries; ++i) {
        LogItem item{};
        std::snprintf(item.timeText, sizeof item.timeText, "Wed Dec 09 08:44:41.%04d 2026", i % 10000);
        std::snprintf(item.source, sizeof item.source, "tvkctrlui");
        std::snprintf(item.message, sizeof item.message, "Frame %d of the acquisition was saved.", i);
        gQueue.push_back(item);
    }
}

void BM_LogWindowDrain(benchmark::State& state)
{
    CTvkMgrUtilsApp::instance().setIntFuncTable(&kTable);
    CTvkLogDlg dlg;
    for (auto _ : state) {
        state.PauseTiming();
        fillQueue();
        state.ResumeTiming();
        dlg.OnTimer();
        benchmark::DoNotOptimize(dlg.model().rowCount());
    }
    CTvkMgrUtilsApp::instance().setIntFuncTable(nullptr);
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_LogWindowDrain)->Unit(benchmark::kMillisecond);

void BM_PlainListModelAppend(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        fillQueue();
        QStringListModel model;
        state.ResumeTiming();
        for (const LogItem& item : gQueue) {
            const int row = model.rowCount();
            model.insertRows(row, 1);
            model.setData(model.index(row), QString::fromUtf8(item.message));
        }
        benchmark::DoNotOptimize(model.rowCount());
        state.PauseTiming();
        gQueue.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_PlainListModelAppend)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    char runtime[] = "/tmp/shell-bench-runtime-XXXXXX";
    const bool ownRuntime = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && mkdtemp(runtime);
    if (ownRuntime)
        setenv("XDG_RUNTIME_DIR", runtime, 1);
    {
        QApplication app(argc, argv);
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    if (ownRuntime)
        rmdir(runtime);
    return 0;
}
