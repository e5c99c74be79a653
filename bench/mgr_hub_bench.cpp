// The manager's per-call costs, each beside its baseline:
//  - a frame operation by id (lookup, pin, call, unpin) beside the same call made directly on a frame;
//  - the dispatch of one message to three plug-in handlers beside one call of an empty event filter.
// The manager library of the app folder (build/app, beside build/bench) is loaded as the loader does;
// its log goes to a scratch folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/module.h"
#include "ctrl/tvk_frame_info.h"
#include "tvk_mgr.h"

namespace {

void hereInTheBenchProgram() {}

struct Manager {
    plat::Module library;
    int (*createFrame)(uint32_t*, uint32_t, uint32_t, int, const char*) = nullptr;
    int (*getFrameType)(uint32_t, int*) = nullptr;
    int (*addMsgHandler)(TvkMsgHandler) = nullptr;
    int (*messageHandler)(TvkMsg*) = nullptr;

    Manager()
    {
        const std::filesystem::path bench = plat::moduleFolderOf(reinterpret_cast<const void*>(&hereInTheBenchProgram));
        const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "ombrel-mgr-bench";
        std::filesystem::create_directories(scratch);
        std::filesystem::current_path(scratch); // the manager's "log.txt"
        const std::string path = (bench.parent_path() / "app" / "libTvkManager.so").string();
        if (!library.open(path)) {
            std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), library.error().c_str());
            std::exit(1);
        }
        createFrame = reinterpret_cast<decltype(createFrame)>(library.symbol("mgrCreateFrame"));
        getFrameType = reinterpret_cast<decltype(getFrameType)>(library.symbol("mgrGetFrameType"));
        addMsgHandler = reinterpret_cast<decltype(addMsgHandler)>(library.symbol("mgrAddMsgHandler"));
        messageHandler = reinterpret_cast<decltype(messageHandler)>(library.symbol("mgrMessageHandler"));
    }
};

Manager& manager()
{
    static Manager m;
    return m;
}

void BM_FrameDirectCall(benchmark::State& state)
{
    TvkFrameInfo frame;
    frame.init(256, 256, TYPE_I16, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(frame.getBuffType());
}
BENCHMARK(BM_FrameDirectCall);

void BM_FrameCallById(benchmark::State& state)
{
    Manager& m = manager();
    uint32_t id = 0;
    if (m.createFrame(&id, 256, 256, TYPE_I16, "bench") != 0) {
        state.SkipWithError("mgrCreateFrame failed");
        return;
    }
    int type = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(m.getFrameType(id, &type));
        benchmark::DoNotOptimize(type);
    }
}
BENCHMARK(BM_FrameCallById)->Threads(1)->Threads(2);

int emptyFilter(TvkMsg* msg)
{
    benchmark::DoNotOptimize(msg);
    return 0;
}
int handler1(TvkMsg* msg) { return msg->event == &handler1; }
int handler2(TvkMsg* msg) { return msg->event == &handler2; }
int handler3(TvkMsg* msg) { return msg->event == &handler3; }

void BM_EmptyEventFilter(benchmark::State& state)
{
    TvkMsg msg{};
    int (*volatile filter)(TvkMsg*) = emptyFilter;
    for (auto _ : state)
        benchmark::DoNotOptimize(filter(&msg));
}
BENCHMARK(BM_EmptyEventFilter);

void BM_MessageToThreeHandlers(benchmark::State& state)
{
    Manager& m = manager();
    m.addMsgHandler(handler1);
    m.addMsgHandler(handler2);
    m.addMsgHandler(handler3);
    TvkMsg msg{};
    for (auto _ : state)
        benchmark::DoNotOptimize(m.messageHandler(&msg));
}
BENCHMARK(BM_MessageToThreeHandlers);

} // namespace

BENCHMARK_MAIN();
