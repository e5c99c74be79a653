// Frame files and data access on a 512 x 512 u32 frame, each beside its baseline from the same run:
//   binary save / load   beside a raw write / read of the same bytes (target: within 1.5x)
//   text save / load     beside formatting / parsing the same numbers in memory (target: within 2x)
//   getData to double    beside memcpy of the same output bytes
//   sparse binary save / load (one pixel in 16 set, [x, y, value] and [index, value] records) beside a
//                        hand-written pack + write / read + scatter of the same records (target: within 1.5x)
// Saving replaces files through a temporary file with fsync (durable); the durable raw write is printed
// as well, so that the cost of the file rules and the cost of the frame code can be told apart. Each
// ratio is given in real time and in CPU time (the steadier one when the machine is busy).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "ctrl/tvk_frame_info.h"
#include "pair_reporter.h"

namespace {

constexpr uint32_t kSide = 512;
constexpr size_t kPixels = size_t(kSide) * kSide;

struct Setup {
    std::string dir;
    std::vector<uint32_t> values;
    TvkFrameInfo* frame = nullptr;
    std::string text; // the frame as a dense text file

    Setup()
    {
        const char* base = std::getenv("OMBREL_BENCH_TMP");
        dir = std::string(base && *base ? base : "/tmp") + "/frame-bench-" + std::to_string(::getpid());
        std::filesystem::create_directories(dir);
        std::mt19937 rng(42);
        std::uniform_int_distribution<uint32_t> counts(0, 65535);
        values.resize(kPixels);
        for (auto& v : values)
            v = counts(rng);
        frame = TvkFrameInfo::createInstance();
        frame->init(kSide, kSide, TYPE_U32, false);
        frame->setData(values.data(), uint32_t(kPixels * 4));
        frame->save((dir + "/t.txt").c_str(), FSAVE_ASCII);
        frame->save((dir + "/b.bin").c_str(), FSAVE_BINARY);
        FILE* f = std::fopen((dir + "/t.txt").c_str(), "rb");
        text.resize(std::filesystem::file_size(dir + "/t.txt"));
        if (std::fread(text.data(), 1, text.size(), f) != text.size())
            std::abort();
        std::fclose(f);
    }
    ~Setup()
    {
        TvkFrameInfo::deleteInstance(frame);
        std::filesystem::remove_all(dir);
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

// A sparse frame: one pixel in 16 holds a count, the others 0; saved in both sparse binary formats.
struct SparseSetup {
    std::vector<uint32_t> values;
    TvkFrameInfo* frame = nullptr;
    size_t setPixels = 0;

    SparseSetup()
    {
        Setup& s = setup();
        std::mt19937 rng(7);
        std::uniform_int_distribution<uint32_t> pick(0, 15);
        std::uniform_int_distribution<uint32_t> counts(1, 65535);
        values.assign(kPixels, 0);
        for (auto& v : values)
            if (pick(rng) == 0) {
                v = counts(rng);
                ++setPixels;
            }
        frame = TvkFrameInfo::createInstance();
        frame->init(kSide, kSide, TYPE_U32, false);
        frame->setData(values.data(), uint32_t(kPixels * 4));
        frame->save((s.dir + "/sxy.bin").c_str(), FSAVE_BINARY | FSAVE_SPARSEXY);
        frame->save((s.dir + "/sx.bin").c_str(), FSAVE_BINARY | FSAVE_SPARSEX);
    }
    ~SparseSetup() { TvkFrameInfo::deleteInstance(frame); }
};

SparseSetup& sparse()
{
    static SparseSetup s;
    return s;
}

// The records of the sparse frame as a hand-written loop packs them ([x, y, value] or [index, value]).
size_t packSparse(const std::vector<uint32_t>& values, bool xy, std::vector<uint32_t>& out)
{
    out.resize(kPixels * 3);
    uint32_t* p = out.data();
    for (uint32_t y = 0, i = 0; y < kSide; ++y)
        for (uint32_t x = 0; x < kSide; ++x, ++i) {
            const uint32_t v = values[i];
            if (v == 0)
                continue;
            if (xy) {
                p[0] = x;
                p[1] = y;
                p[2] = v;
                p += 3;
            } else {
                p[0] = i;
                p[1] = v;
                p += 2;
            }
        }
    return size_t(p - out.data()) * 4;
}

// The same file rules as a save: description and data each to a temporary file, both fsynced, both
// renamed (the data file first), the folder fsynced once.
void writePairDurable(benchmark::State& state, const std::string& dir, const std::string& name,
                      const std::string& description, const void* data, size_t size)
{
    const std::string dsc = dir + "/" + name + ".dsc", bin = dir + "/" + name + ".bin";
    auto temporary = [&](const std::string& path, const void* bytes, size_t n) {
        const int fd = ::open((path + ".tmp").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (::write(fd, bytes, n) != ssize_t(n))
            state.SkipWithError("write");
        return fd;
    };
    const int dscFd = temporary(dsc, description.data(), description.size());
    const int binFd = temporary(bin, data, size);
    for (int fd : {binFd, dscFd}) {
        ::fsync(fd);
        ::close(fd);
    }
    std::rename((bin + ".tmp").c_str(), bin.c_str());
    std::rename((dsc + ".tmp").c_str(), dsc.c_str());
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    ::fsync(dirFd);
    ::close(dirFd);
}

void SaveBinary(benchmark::State& state)
{
    Setup& s = setup();
    const std::string path = s.dir + "/save.bin";
    for (auto _ : state)
        if (s.frame->save(path.c_str(), FSAVE_BINARY) != 0)
            state.SkipWithError(s.frame->getLastErr());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPixels * 4));
}

void RawWrite(benchmark::State& state)
{
    Setup& s = setup();
    const std::string path = s.dir + "/raw.bin";
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(s.values.data(), 4, kPixels, f);
        std::fclose(f);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPixels * 4));
}

void RawWriteDurable(benchmark::State& state)
{
    Setup& s = setup();
    const std::string path = s.dir + "/rawd.bin";
    const std::string tmp = path + ".tmp";
    for (auto _ : state) {
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (::write(fd, s.values.data(), kPixels * 4) != ssize_t(kPixels * 4))
            state.SkipWithError("write");
        ::fsync(fd);
        ::close(fd);
        std::rename(tmp.c_str(), path.c_str());
    }
}

// The same file rules by hand (writePairDurable).
void RawWritePairDurable(benchmark::State& state)
{
    Setup& s = setup();
    const std::string description = "Description file for \"rawp.bin\"\nformat = 33 width = 512 height = 512\n";
    for (auto _ : state)
        writePairDurable(state, s.dir, "rawp", description, s.values.data(), kPixels * 4);
}

void LoadBinary(benchmark::State& state)
{
    Setup& s = setup();
    TvkFrameInfo* f = TvkFrameInfo::createInstance();
    f->init(kSide, kSide, TYPE_U32, false);
    const std::string path = s.dir + "/b.bin";
    for (auto _ : state)
        if (f->load(path.c_str(), FSAVE_BINARY | FSAVE_U32) != 0)
            state.SkipWithError(f->getLastErr());
    TvkFrameInfo::deleteInstance(f);
}

void InitBinaryWithDescription(benchmark::State& state)
{
    Setup& s = setup();
    TvkFrameInfo* f = TvkFrameInfo::createInstance();
    const std::string path = s.dir + "/b.bin";
    for (auto _ : state)
        if (f->init(path.c_str(), false) != 0)
            state.SkipWithError(f->getLastErr());
    TvkFrameInfo::deleteInstance(f);
}

void RawRead(benchmark::State& state)
{
    Setup& s = setup();
    std::vector<uint32_t> buf(kPixels);
    const std::string path = s.dir + "/b.bin";
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (std::fread(buf.data(), 4, kPixels, f) != kPixels)
            state.SkipWithError("read");
        std::fclose(f);
        benchmark::DoNotOptimize(buf.data());
    }
}

void SaveText(benchmark::State& state)
{
    Setup& s = setup();
    const std::string path = s.dir + "/save.txt";
    for (auto _ : state)
        if (s.frame->save(path.c_str(), FSAVE_ASCII) != 0)
            state.SkipWithError(s.frame->getLastErr());
}

void FormatTextInMemory(benchmark::State& state)
{
    Setup& s = setup();
    std::string out(s.text.size() + 64, '\0');
    for (auto _ : state) {
        char* p = out.data();
        size_t i = 0;
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x, ++i) {
                p = std::to_chars(p, p + 16, s.values[i]).ptr;
                *p++ = x + 1 < kSide ? ' ' : '\n';
            }
        benchmark::DoNotOptimize(p);
    }
}

void LoadText(benchmark::State& state)
{
    Setup& s = setup();
    TvkFrameInfo* f = TvkFrameInfo::createInstance();
    f->init(kSide, kSide, TYPE_U32, false);
    const std::string path = s.dir + "/t.txt";
    for (auto _ : state)
        if (f->load(path.c_str(), FSAVE_ASCII | FSAVE_U32) != 0)
            state.SkipWithError(f->getLastErr());
    TvkFrameInfo::deleteInstance(f);
}

void ParseTextInMemory(benchmark::State& state)
{
    Setup& s = setup();
    std::vector<uint32_t> buf(kPixels);
    for (auto _ : state) {
        const char* p = s.text.data();
        const char* end = p + s.text.size();
        for (size_t i = 0; i < kPixels; ++i) {
            while (p < end && (*p == ' ' || *p == '\n'))
                ++p;
            p = std::from_chars(p, end, buf[i]).ptr;
        }
        benchmark::DoNotOptimize(buf.data());
    }
}

void SaveSparseBinary(benchmark::State& state)
{
    SparseSetup& sp = sparse();
    const bool xy = state.range(0);
    const std::string path = setup().dir + "/ssave.bin";
    for (auto _ : state)
        if (sp.frame->save(path.c_str(), FSAVE_BINARY | (xy ? FSAVE_SPARSEXY : FSAVE_SPARSEX)) != 0)
            state.SkipWithError(sp.frame->getLastErr());
}

// Pack + write as a plain stream, and pack + write under the file rules of a save (durable pair).
void PackWrite(benchmark::State& state)
{
    SparseSetup& sp = sparse();
    const bool xy = state.range(0);
    const std::string path = setup().dir + "/spack.bin";
    std::vector<uint32_t> records;
    for (auto _ : state) {
        const size_t bytes = packSparse(sp.values, xy, records);
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(records.data(), 1, bytes, f);
        std::fclose(f);
    }
}

void PackWritePairDurable(benchmark::State& state)
{
    SparseSetup& sp = sparse();
    const bool xy = state.range(0);
    const std::string description = std::string("Description file for \"spackd.bin\"\nformat = ") +
                                    (xy ? "4129" : "8225") + " width = 512 height = 512\n";
    std::vector<uint32_t> records;
    for (auto _ : state) {
        const size_t bytes = packSparse(sp.values, xy, records);
        writePairDurable(state, setup().dir, "spackd", description, records.data(), bytes);
    }
}

void LoadSparseBinary(benchmark::State& state)
{
    const bool xy = state.range(0);
    TvkFrameInfo* f = TvkFrameInfo::createInstance();
    f->init(kSide, kSide, TYPE_U32, false);
    const std::string path = setup().dir + (xy ? "/sxy.bin" : "/sx.bin");
    sparse();
    for (auto _ : state)
        if (f->load(path.c_str(), FSAVE_BINARY | FSAVE_U32 | (xy ? FSAVE_SPARSEXY : FSAVE_SPARSEX)) != 0)
            state.SkipWithError(f->getLastErr());
    TvkFrameInfo::deleteInstance(f);
}

// Read the whole file, clear a frame buffer and scatter the records into it (positions checked).
void ReadScatter(benchmark::State& state)
{
    const bool xy = state.range(0);
    const std::string path = setup().dir + (xy ? "/sxy.bin" : "/sx.bin");
    sparse();
    std::vector<uint32_t> frame(kPixels);
    std::vector<uint32_t> records;
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        records.resize(std::filesystem::file_size(path) / 4);
        if (std::fread(records.data(), 4, records.size(), f) != records.size())
            state.SkipWithError("read");
        std::fclose(f);
        std::memset(frame.data(), 0, kPixels * 4);
        const uint32_t* r = records.data();
        const uint32_t* end = r + records.size();
        if (xy) {
            for (; r + 3 <= end; r += 3)
                if (r[0] < kSide && r[1] < kSide)
                    frame[size_t(r[1]) * kSide + r[0]] = r[2];
        } else {
            for (; r + 2 <= end; r += 2)
                if (r[0] < kPixels)
                    frame[r[0]] = r[1];
        }
        benchmark::DoNotOptimize(frame.data());
    }
}

void GetDataDouble(benchmark::State& state)
{
    Setup& s = setup();
    std::vector<double> out(kPixels);
    for (auto _ : state) {
        uint32_t size = uint32_t(kPixels * 8);
        s.frame->getData(out.data(), &size, TYPE_DOUBLE);
        benchmark::DoNotOptimize(out.data());
    }
}

void MemcpyDouble(benchmark::State& state)
{
    std::vector<double> in(kPixels, 1.0), out(kPixels);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), kPixels * 8);
        benchmark::DoNotOptimize(out.data());
    }
}

BENCHMARK(SaveBinary)->Unit(benchmark::kMicrosecond);
BENCHMARK(RawWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(RawWriteDurable)->Unit(benchmark::kMicrosecond);
BENCHMARK(RawWritePairDurable)->Unit(benchmark::kMicrosecond);
BENCHMARK(LoadBinary)->Unit(benchmark::kMicrosecond);
BENCHMARK(InitBinaryWithDescription)->Unit(benchmark::kMicrosecond);
BENCHMARK(RawRead)->Unit(benchmark::kMicrosecond);
BENCHMARK(SaveText)->Unit(benchmark::kMicrosecond);
BENCHMARK(FormatTextInMemory)->Unit(benchmark::kMicrosecond);
BENCHMARK(LoadText)->Unit(benchmark::kMicrosecond);
BENCHMARK(ParseTextInMemory)->Unit(benchmark::kMicrosecond);
BENCHMARK(SaveSparseBinary)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(PackWrite)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(PackWritePairDurable)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(LoadSparseBinary)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadScatter)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(GetDataDouble)->Unit(benchmark::kMicrosecond);
BENCHMARK(MemcpyDouble)->Unit(benchmark::kMicrosecond);

// Keeps the real time of every run, to print each figure beside its baseline at the end.
} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    struct Pair {
        const char* figure;
        const char* baseline;
        double target;
    } pairs[] = {
        {"SaveBinary", "RawWrite", 1.5},
        {"SaveBinary", "RawWriteDurable", 1.5},
        {"SaveBinary", "RawWritePairDurable", 1.5},
        {"LoadBinary", "RawRead", 1.5},
        {"InitBinaryWithDescription", "RawRead", 1.5},
        {"SaveText", "FormatTextInMemory", 2.0},
        {"LoadText", "ParseTextInMemory", 2.0},
        {"SaveSparseBinary/1", "PackWrite/1", 1.5},
        {"SaveSparseBinary/1", "PackWritePairDurable/1", 1.5},
        {"SaveSparseBinary/0", "PackWrite/0", 1.5},
        {"SaveSparseBinary/0", "PackWritePairDurable/0", 1.5},
        {"LoadSparseBinary/1", "ReadScatter/1", 1.5},
        {"LoadSparseBinary/0", "ReadScatter/0", 1.5},
        {"GetDataDouble", "MemcpyDouble", 0.0},
    };
    std::printf("\n%-28s %12s   %-24s %12s %8s %8s %8s\n", "figure", "us", "baseline", "us", "ratio", "cpu", "target");
    for (const Pair& p : pairs) {
        auto a = reporter.times.find(p.figure);
        auto b = reporter.times.find(p.baseline);
        if (a == reporter.times.end() || b == reporter.times.end())
            continue;
        char target[16] = "-";
        if (p.target > 0)
            std::snprintf(target, sizeof target, "%.1fx", p.target);
        const double cpuRatio = reporter.cpuTimes[p.figure] / reporter.cpuTimes[p.baseline];
        std::printf("%-28s %12.1f   %-24s %12.1f %7.2fx %7.2fx %8s\n", p.figure, a->second, p.baseline, b->second,
                    a->second / b->second, cpuRatio, target);
    }
    benchmark::Shutdown();
    return 0;
}
