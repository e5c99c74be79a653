// Reading settings from large ini files through the profile-string layer, each figure beside its baseline
// from the same run:
//   a fresh read: one key of a file whose bytes changed since the last read (a parse of the whole file)
//     beside reading the file's bytes and finding its line ends        (target: a small multiple)
//   1000 keys of a file that did not change                            (target: well below one fresh read)
//   1000 keys right after the file's identity changed (its time stamps too new to trust, so each read
//     compares the file's bytes instead of parsing them)               (target: well below 1000 fresh reads)
// Before the layer kept parsed files, every key cost a fresh read.
// Files of 1 MiB and 16 MiB of short lines ("KeyNNNNNN = NNNNNN", sections of 1000 keys).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "pair_reporter.h"
#include "platform/ini.h"

namespace {

constexpr int kKeysPerSection = 1000;
constexpr int kReads = 1000;

std::string benchFile(size_t bytes)
{
    return "/tmp/ini_read_bench_" + std::to_string(::getpid()) + "_" + std::to_string(bytes >> 20) + "MiB.ini";
}

// A file of about `bytes`; its modification and change times are those of its writing.
const std::string& makeFile(size_t bytes)
{
    static std::string names[2];
    std::string& name = names[bytes > (size_t(4) << 20)];
    if (!name.empty())
        return name;
    
    name = benchFile(bytes);
    std::string text;
    text.reserve(bytes + 64);
    for (int n = 0; text.size() < bytes; ++n) {
        if (n % kKeysPerSection == 0)
            text += "[Section" + std::to_string(n / kKeysPerSection) + "]\n";
        char line[48];
        std::snprintf(line, sizeof line, "Key%06d = %06d\n", n % kKeysPerSection, n);
        text += line;
    }
    FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return name;
}

int sections(size_t bytes)
{
    return static_cast<int>(bytes / (kKeysPerSection * 18));
}

// Changes the file's change time (and so its identity) without changing its bytes.
void touch(const std::string& file)
{
    ::chmod(file.c_str(), 0644);
    ::chmod(file.c_str(), 0600);
}

void BM_PlainRead(benchmark::State& state)
{
    const std::string& file = makeFile(static_cast<size_t>(state.range(0)) << 20);
    std::string buffer;
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_RDONLY);
        struct stat st{};
        ::fstat(fd, &st);
        buffer.resize(static_cast<size_t>(st.st_size));
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        ::close(fd);
        size_t lines = 0;
        for (const char* p = buffer.data(); (p = static_cast<const char*>(
                                                 std::memchr(p, '\n', buffer.data() + n - p))) != nullptr;
             ++p)
            ++lines;
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

// Rewrites the last digit of the file in place: other bytes, the same size.
void changeLastDigit(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_RDWR);
    struct stat st{};
    ::fstat(fd, &st);
    char digit = 0;
    ::pread(fd, &digit, 1, st.st_size - 2);
    digit = digit == '0' ? '1' : '0';
    ::pwrite(fd, &digit, 1, st.st_size - 2);
    ::close(fd);
}

void BM_FreshRead(benchmark::State& state)
{
    const std::string& file = makeFile(static_cast<size_t>(state.range(0)) << 20);
    for (auto _ : state) {
        state.PauseTiming();
        changeLastDigit(file);
        state.ResumeTiming();
        benchmark::DoNotOptimize(plat::getProfileInt("Section3", "Key000007", -1, file.c_str()));
    }
}

void readKeys(benchmark::State& state, const std::string& file, size_t bytes)
{
    const int count = sections(bytes);
    int sum = 0;
    for (int i = 0; i < kReads; ++i) {
        const std::string section = "section" + std::to_string((i * 7919) % count);
        char key[16];
        std::snprintf(key, sizeof key, "KEY%06d", (i * 31) % kKeysPerSection);
        sum += plat::getProfileInt(section.c_str(), key, -1, file.c_str());
    }
    benchmark::DoNotOptimize(sum);
    (void)state;
}

void BM_ThousandKeysUnchanged(benchmark::State& state)
{
    const size_t bytes = static_cast<size_t>(state.range(0)) << 20;
    const std::string& file = makeFile(bytes);
    // Time stamps old enough to be trusted, as with a settings file written in an earlier session.
    static bool settled[2];
    if (!settled[bytes > (size_t(4) << 20)]) {
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ::utimensat(AT_FDCWD, file.c_str(), old, 0);
        ::sleep(4); // the change time that utimensat set must become older than the layer's margin
        settled[bytes > (size_t(4) << 20)] = true;
    }
    for (auto _ : state)
        readKeys(state, file, bytes);
}

void BM_ThousandKeysJustWritten(benchmark::State& state)
{
    const size_t bytes = static_cast<size_t>(state.range(0)) << 20;
    const std::string& file = makeFile(bytes);
    for (auto _ : state) {
        state.PauseTiming();
        touch(file);
        state.ResumeTiming();
        readKeys(state, file, bytes);
    }
}

BENCHMARK(BM_PlainRead)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreshRead)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThousandKeysUnchanged)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThousandKeysJustWritten)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto& t = reporter.times;
    std::printf("\nFigures beside their baselines (least real time of each run):\n");
    for (const char* size : {"1", "16"}) {
        const auto get = [&](const std::string& name) {
            const auto it = t.find(name + "/" + size);
            return it == t.end() ? 0.0 : it->second;
        };
        const double plain = get("BM_PlainRead"), fresh = get("BM_FreshRead");
        const double unchanged = get("BM_ThousandKeysUnchanged"), written = get("BM_ThousandKeysJustWritten");
        if (plain <= 0 || fresh <= 0)
            continue;
        std::printf("%2s MiB: fresh read %.2f ms = %.1f x plain read %.2f ms\n", size, fresh, fresh / plain, plain);
        std::printf("%2s MiB: 1000 keys, unchanged file %.3f ms = %.4f x one fresh read (before: 1000 x = %.0f ms)\n",
                    size, unchanged, unchanged / fresh, 1000 * fresh);
        std::printf("%2s MiB: 1000 keys, just written %.1f ms = %.3f x 1000 fresh reads\n", size, written,
                    written / (1000 * fresh));
    }
    for (size_t mib : {1, 16})
        std::remove(benchFile(mib << 20).c_str());
    return 0;
}
