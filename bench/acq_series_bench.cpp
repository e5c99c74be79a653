// Acquisitions that save a numbered series, and the memory a long acquisition leaves behind, on the
// simulated detector (256 x 256 i16 frames, zero exposure, no noise):
//   Series/<medium>   one performFrameAcq of kSeriesFrames numbered binary files with description files,
//                     on disk (the build tree's folder) and on tmpfs (/dev/shm), durable when the call
//                     returns. Beside it, from the same run, the same files (same names, same bytes)
//                     written by hand in three ways, and the link's 464 frames/s. Each figure is the best
//                     of its rounds (the machine's other load only adds time); before every round the
//                     disk is synced, so that no round pays for the one before.
//                       fps           frames/s of the whole call, the syncs at its end included
//                       loop_fps      frames/s from the call to its last acqCompl
//                       nosave_fps    the same series without saving (FSAVE_NOFILE)
//                       plain_fps     open, write, close of every file: not durable
//                       fsync_fps     the same with one fsync per file and the folder's at the end
//                       syncfs_fps    the plain writes made durable with one syncfs at the end
//                       x_syncfs      call time / syncfs baseline time (target: <= 1.3)
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
constexpr int kSeriesFrames = 1000;
constexpr int kMemoryFrames = 1000;
constexpr double kLinkFps = 464.0;
constexpr int kRounds = 3;
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

// How the plain baselines make their files durable.
enum class Durability { None, FsyncEach, Syncfs };

int syncFolder(const std::string& folder, bool wholeFileSystem)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int r = wholeFileSystem ? ::syncfs(fd) : ::fsync(fd);
    ::close(fd);
    return r;
}

// Plain writes of the same files as a saved series: per frame a description file and a data file under
// the same numbered names, each opened, written and closed. Seconds for the whole series.
double plainSeries(const std::string& folder, size_t dataBytes, size_t dscBytes, Durability durability,
                   std::string* error)
{
    const std::vector<char> data(dataBytes, 'd');
    const std::vector<char> dsc(dscBytes, 't');
    auto write = [&](const std::string& path, const std::vector<char>& bytes) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        bool ok = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        if (ok && durability == Durability::FsyncEach)
            ok = ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!ok)
            *error = "plain write of " + path + " failed";
        return ok;
    };
    removeSeries(folder);
    ::sync();
    const Clock::time_point begin = Clock::now();
    for (int f = 0; f < kSeriesFrames; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "/series%03d", f);
        if (!write(folder + name + ".dsc", dsc) || !write(folder + name + ".bin", data))
            return 0.0;
    }
    if (durability != Durability::None && syncFolder(folder, durability == Durability::Syncfs) != 0)
        *error = "sync of " + folder + " failed";
    return std::chrono::duration<double>(Clock::now() - begin).count();
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

    // The sizes of the files a series writes, from one saved series.
    if (!timedAcquisition(kSeriesFrames, FSAVE_BINARY, name, &times, &error)) {
        state.SkipWithError(error.c_str());
        setCbAcqCompl(nullptr);
        return;
    }
    const size_t dataBytes = fileSize(folder + "/series000.bin");
    const size_t dscBytes = fileSize(folder + "/series000.dsc");

    // The best of each figure over the rounds, measured in turns so that a busy spell of the machine
    // falls on all of them alike. One fsync per file is the slowest by far: it runs once.
    double loop = 1e9, call = 1e9, noSave = 1e9, plain = 1e9, fsyncEach = 1e9, syncfs = 1e9;
    for (auto _ : state) {
        for (int round = 0; round < kRounds && error.empty(); ++round) {
            removeSeries(folder);
            ::sync();
            if (!timedAcquisition(kSeriesFrames, FSAVE_BINARY, name, &times, &error))
                break;
            loop = std::min(loop, times.loop);
            call = std::min(call, times.call);
            if (timedAcquisition(kSeriesFrames, FSAVE_BINARY | FSAVE_NOFILE, name, &times, &error))
                noSave = std::min(noSave, times.loop);
            plain = std::min(plain, plainSeries(folder, dataBytes, dscBytes, Durability::None, &error));
            syncfs = std::min(syncfs, plainSeries(folder, dataBytes, dscBytes, Durability::Syncfs, &error));
            if (round == 0)
                fsyncEach = plainSeries(folder, dataBytes, dscBytes, Durability::FsyncEach, &error);
        }
    }
    setCbAcqCompl(nullptr);
    std::filesystem::remove_all(folder, ec);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    state.counters["fps"] = kSeriesFrames / call;
    state.counters["loop_fps"] = kSeriesFrames / loop;
    state.counters["nosave_fps"] = kSeriesFrames / noSave;
    state.counters["link_fps"] = kLinkFps;
    state.counters["plain_fps"] = kSeriesFrames / plain;
    state.counters["fsync_fps"] = kSeriesFrames / fsyncEach;
    state.counters["syncfs_fps"] = kSeriesFrames / syncfs;
    state.counters["x_syncfs"] = call / syncfs;
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

BENCHMARK(BM_Series_Disk)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Series_Tmpfs)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Memory_CloseFrames)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
