// What an open, idle readout box costs: process CPU time per wall-clock second with one simulated box
// opened (its monitor thread polling the link) beside the same library with no box, in the same run.
// The counter "CPU % of a core" is the figure; the target for the open box is at most 1 %.
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "hwlibs/common/hw_func_table.h"
#include "hwlibs/usb/usb_library.h"

namespace {

usb::UsbLibrary* gLibrary = nullptr;
usb::UsbLibrary& current()
{
    return *gLibrary;
}

double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void Idle(benchmark::State& state, int boxes)
{
    const std::string dir = (std::filesystem::temp_directory_path() / ("usb-idle-bench-" + std::to_string(boxes))).string();
    std::filesystem::create_directories(dir);
    const std::string ini = dir + "/tvkHwUSB.ini";
    std::ofstream(ini) << "[Link]\nBackend = sim\n[SimBox]\nBoxes = " << boxes << "\n";
    usb::UsbLibrary library(ini);
    gLibrary = &library;
    const _HwFuncTable& hw = *hwkit::funcTable<&current>();
    int id = 0;
    if (hw.hwGetFirst(&id) == 0 && hw.hwInit(id) != 0) {
        state.SkipWithError(hw.hwGetLastError(id));
        return;
    }
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double c0 = processSeconds();
        const auto w0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        cpu += processSeconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    }
    state.counters["CPU % of a core"] = 100.0 * cpu / wall;
    if (boxes > 0)
        hw.hwCloseDevice(id);
    gLibrary = nullptr;
    std::filesystem::remove_all(dir);
}

} // namespace

BENCHMARK_CAPTURE(Idle, no_box, 0)->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Idle, one_open_box, 1)->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
