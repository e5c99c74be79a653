// Walking the instances of a filter through First/Next by id, beside iterating a std::map of the same
// size (copying each name in both), for 10000 instances.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

#include "manager/plugin_mgr.h"

namespace {

constexpr int kInstances = 10000;

int createInstance(void*, void** instance)
{
    static int handle;
    *instance = &handle;
    return 0;
}
int deleteInstance(void*, void*)
{
    return 0;
}
int setParameter(void*, void*, int, const void*, uint32_t)
{
    return 0;
}
int getParameter(void*, void*, int index, _FilterParDesc* desc, uint32_t* size)
{
    if (index == -1 && !desc) {
        *size = 0; // no parameters to copy
        return 0;
    }
    return -1;
}
int runFilter(void*, const _FuncSlot*, void* const*)
{
    return 0;
}

// A manager core holding one filter with kInstances instances besides its default one.
struct Registry {
    Registry() : log(headlessUiHooks(), "/dev/null"), plugins(log, headlessUiHooks())
    {
        plugins.registerPlugin("chainedit", nullptr);
        callbacks = {nullptr,        nullptr,        nullptr,      nullptr,     nullptr,
                     createInstance, deleteInstance, setParameter, getParameter};
        _FuncItem item{};
        std::strcpy(item.plugin, "chainedit");
        std::strcpy(item.function, "Threshold");
        item.callback = runFilter;
        item.userData = &callbacks;
        item.flags = FUNC_FILTER | FUNC_FILTER_INSTANCES;
        plugins.funcs().addFuncItem(&item);
        funcId = static_cast<uint32_t>(item.id);
        for (int i = 0; i < kInstances; ++i) {
            uint32_t id = 0;
            plugins.funcs().createFilterInst(funcId, ("instance " + std::to_string(i)).c_str(), &id);
            names.emplace(id, "instance " + std::to_string(i));
        }
    }

    _FilterInstCallbacks callbacks{};
    Log log;
    PluginMgr plugins;
    uint32_t funcId = 0;
    std::map<uint32_t, std::string> names; // the baseline: the same ids and names in a std::map
};

Registry& registry()
{
    static Registry r;
    return r;
}

void BM_FirstNextFilterInstances(benchmark::State& state)
{
    FuncMgr& funcs = registry().plugins.funcs();
    const uint32_t funcId = registry().funcId;
    for (auto _ : state) {
        uint32_t id = 0;
        char name[MGR_NAME_SIZE];
        int walked = 0;
        for (int r = funcs.getFirstFilterInst(funcId, &id, name); r == 0;
             r = funcs.getNextFilterInst(funcId, &id, name))
            ++walked;
        benchmark::DoNotOptimize(walked);
        benchmark::DoNotOptimize(name);
    }
    state.SetItemsProcessed(state.iterations() * (kInstances + 1));
}
BENCHMARK(BM_FirstNextFilterInstances)->Unit(benchmark::kMicrosecond);

void BM_StdMapIteration_Baseline(benchmark::State& state)
{
    const auto& names = registry().names;
    for (auto _ : state) {
        char name[MGR_NAME_SIZE];
        uint32_t id = 0;
        int walked = 0;
        for (const auto& [key, text] : names) {
            id = key;
            copyText(name, text);
            ++walked;
        }
        benchmark::DoNotOptimize(walked);
        benchmark::DoNotOptimize(id);
        benchmark::DoNotOptimize(name);
    }
    state.SetItemsProcessed(state.iterations() * kInstances);
}
BENCHMARK(BM_StdMapIteration_Baseline)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
