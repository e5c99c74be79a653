// Acquisitions that save a numbered series, and the memory a long acquisition leaves behind, on the
// simulated detector (256 x 256 i16 frames, zero exposure, no noise):
//   Series/<medium>   one performFrameAcq of kSeriesFrames numbered binary files with description files,
//                     on disk (the build tree's folder) and on tmpfs (/dev/shm). Beside it, from the same
//                     run: the same series without saving (FSAVE_NOFILE), the link's 464 frames/s, and a
//                     plain write (open, write, close) of the same bytes into the same folder. Each
//                     figure is the best of its rounds (the machine's other load only adds time).
//                       fps        frames/s of the exposure loop (call start to the last acqCompl)
//                       call_fps   frames/s of the whole call, with the syncs at its end
//                       save_us    what saving adds per frame in the loop; plain_us the plain write's time
//                       cost_x     save_us / plain_us (target: <= 1.5)
//   Memory/closeFrames  RSS before a 1000-frame acquisition kept in memory, after it, and after closeFrames
//                       (target: back within 16 MB of before); close_ms is the longest closeFrames.
// The device-control library runs on a private copy of tvkHwDummy.so in a scratch module folder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/module.h"
#include "ctrl/tvk_ctrl.h"
#include "pluginfw/tvk_utils.h"
#include "bench_device.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPixels = 65536;
constexpr int kSeriesFrames = 100;
constexpr int kMemoryFrames = 1000;
constexpr double kLinkFps = 464.0;
constexpr int kBaselineRounds = 10;
constexpr int kItemPoissonNoise = 1;

// The simulated device without noise.
struct Setup : bench::OneDummyDevice {
    Setup() : OneDummyDevice("series-bench")
    {
        if (!error.empty())
            return;
        const int32_t noiseOff = 0;
        setHwInfoItem(0, kItemPoissonNoise, &noiseOff, sizeof noiseOff);
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

std::string deviceError()
{
    int code = 0;
    const char* text = nullptr;
    getInfoMsg(0, &code, &text);
    return text ? text : "";
}

Clock::time_point g_lastCompletion;
void onAcqCompl(int) { g_lastCompletion = Clock::now(); }

struct CallTimes {
    double loop = 0; // seconds from the call to its last acqCompl
    double call = 0; // seconds of the whole call
};

// One acquisition of `frames` frames; false (with the device's message in *error) when it fails.
bool timedAcquisition(int frames, uint32_t flags, const std::string& name, CallTimes* times, std::string* error)
{
    const Clock::time_point begin = Clock::now();
    if (performFrameAcq(0, frames, 0.0, flags, name.empty() ? nullptr : name.c_str()) != 0) {
        *error = "performFrameAcq failed: " + deviceError();
        return false;
    }
    const Clock::time_point end = Clock::now();
    times->loop = std::chrono::duration<double>(g_lastCompletion - begin).count();
    times->call = std::chrono::duration<double>(end - begin).count();
    return true;
}

size_t fileSize(const std::string& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<size_t>(size);
}

// Empties a series folder: every series is written under new names, as acquisitions usually are (a
// file replaced by a rename may cost its file system an early write-back).
void removeSeries(const std::string& folder)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        std::filesystem::remove(entry.path(), ec);
}

// Plain writes of the same bytes as a saved series: per frame a data file and a description file, each
// opened, written and closed, under numbered names in the same folder. Seconds per frame.
double plainSeriesWrite(const std::string& folder, size_t dataBytes, size_t dscBytes, std::string* error)
{
    const std::vector<char> data(dataBytes, 'd');
    const std::vector<char> dsc(dscBytes, 't');
    auto write = [&](const std::string& path, const std::vector<char>& bytes) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const bool ok = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        if (fd >= 0)
            ::close(fd);
        if (!ok)
            *error = "plain write of " + path + " failed";
        return ok;
    };
    removeSeries(folder);
    const Clock::time_point begin = Clock::now();
    for (int f = 0; f < kSeriesFrames; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "/plain%02d", f);
        if (!write(folder + name + ".dsc", dsc) || !write(folder + name + ".bin", data))
            return 0.0;
    }
    return std::chrono::duration<double>(Clock::now() - begin).count() / kSeriesFrames;
}

void series(benchmark::State& state, const std::string& root)
{
    Setup& s = setup();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    const std::string folder = root + "/series-bench-" + std::to_string(::getpid());
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        state.SkipWithError(("cannot create " + folder + ": " + ec.message()).c_str());
        return;
    }
    setCbAcqCompl(&onAcqCompl);
    const std::string name = folder + "/series.bin";
    std::string error;
    CallTimes times;

    // Baselines of the same run: the series without saving, and a plain write of the bytes saved.
    double noSaveLoop = 1e9;
    double plainFrame = 1e9;
    if (!timedAcquisition(kSeriesFrames, FSAVE_BINARY, name, &times, &error)) {
        state.SkipWithError(error.c_str());
        setCbAcqCompl(nullptr);
        return;
    }
    const size_t dataBytes = fileSize(folder + "/series00.bin");
    const size_t dscBytes = fileSize(folder + "/series00.dsc");
    for (int round = 0; round < kBaselineRounds && error.empty(); ++round) {
        if (timedAcquisition(kSeriesFrames, FSAVE_BINARY | FSAVE_NOFILE, name, &times, &error))
            noSaveLoop = std::min(noSaveLoop, times.loop);
        plainFrame = std::min(plainFrame, plainSeriesWrite(folder, dataBytes, dscBytes, &error));
    }

    // The best call of the run stands for each figure: the machine's other load only ever adds time.
    double loop = 1e9;
    double call = 1e9;
    for (auto _ : state) {
        state.PauseTiming();
        removeSeries(folder);
        state.ResumeTiming();
        if (!timedAcquisition(kSeriesFrames, FSAVE_BINARY, name, &times, &error))
            break;
        loop = std::min(loop, times.loop);
        call = std::min(call, times.call);
    }
    setCbAcqCompl(nullptr);
    std::filesystem::remove_all(folder, ec);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    const double saveFrame = (loop - noSaveLoop) / kSeriesFrames;
    state.counters["fps"] = kSeriesFrames / loop;
    state.counters["call_fps"] = kSeriesFrames / call;
    state.counters["nosave_fps"] = kSeriesFrames / noSaveLoop;
    state.counters["link_fps"] = kLinkFps;
    state.counters["save_us"] = saveFrame * 1e6;
    state.counters["plain_us"] = plainFrame * 1e6;
    state.counters["cost_x"] = saveFrame / plainFrame;
    state.counters["file_kB"] = static_cast<double>(dataBytes + dscBytes) / 1024.0;
}

void BM_Series_Disk(benchmark::State& state)
{
    // The build tree: the benchmark programs live in build/bench.
    series(state, plat::moduleFolderOf(reinterpret_cast<const void*>(&kPixels)));
}

void BM_Series_Tmpfs(benchmark::State& state)
{
    if (!std::filesystem::is_directory("/dev/shm")) {
        state.SkipWithError("no /dev/shm");
        return;
    }
    series(state, "/dev/shm");
}

// Resident set size in MB.
double rssMB()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return -1.0;
    long pages = 0;
    long resident = 0;
    const int got = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return got == 2 ? static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1 << 20) : -1.0;
}

void BM_Memory_CloseFrames(benchmark::State& state)
{
    Setup& s = setup();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    // Repeated rounds, as in a session with many acquisitions; each is measured against the RSS before
    // the first.
    const double before = rssMB();
    double acquired = 0, closed = 0, kept = 0, closeSeconds = 0;
    for (auto _ : state) {
        if (performFrameAcq(0, kMemoryFrames, 0.0, 0, nullptr) != 0) {
            state.SkipWithError(("performFrameAcq failed: " + deviceError()).c_str());
            return;
        }
        acquired = rssMB();
        const Clock::time_point begin = Clock::now();
        closeFrames(0);
        closeSeconds = std::max(closeSeconds, std::chrono::duration<double>(Clock::now() - begin).count());
        closed = rssMB();
        kept = std::max(kept, closed - before);
    }
    state.counters["rss_before_MB"] = before;
    state.counters["rss_acquired_MB"] = acquired;
    state.counters["rss_closed_MB"] = closed;
    state.counters["kept_MB"] = kept;
    state.counters["target_MB"] = 16;
    state.counters["close_ms"] = closeSeconds * 1e3;
}

BENCHMARK(BM_Series_Disk)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Series_Tmpfs)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Memory_CloseFrames)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
