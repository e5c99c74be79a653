// The built-in frame filters' work on 256 x 256 and 512 x 512 frames, each beside its baseline from the same
// run (OpenCV where a library does the same, else memcpy or a plain write):
//   Quad 516 (u32, double)       beside cv::remap with nearest-pixel fixed maps, and memcpy of 516^2 elements
//   u32 -> double conversion     beside convertTo                          (target: within 1.5x)
//   counts to time               beside convertTo with a scale             (target: within 1.5x)
//   crop (half the frame)        beside an ROI copyTo                      (target: within 1.5x)
//   statistics (mean and total)  beside cv::mean / cv::sum with a mask     (target: within 1.5x)
//   mask                         beside setTo(value, mask)                 (target: within 1.5x)
//   Srn calibration              beside the formula in OpenCV expressions  (target: within 1.5x)
//   duplicate                    beside allocation + memcpy                (target: within 2x)
//   save (binary, durable)       beside a plain write of the bytes         (target: within 2x), and beside
//                                the same write made durable (a save flushes its files to the disk)
// The filters' own work only: the manager's frame calls around it are measured by the manager's benchmarks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "ctrl/frame_convert.h"
#include "ctrl/tvk_frame_info.h"
#include "plugins/ChainEdit/frame_kernels.h"
#include "pair_reporter.h"

using namespace chainedit;

namespace {

struct Frames {
    std::vector<uint32_t> counts;
    std::vector<double> doubles;
    std::vector<uint8_t> config;
    std::vector<double> a, b, c, t;
    explicit Frames(uint32_t side)
    {
        const size_t n = size_t(side) * side;
        std::mt19937 rng(42);
        std::uniform_int_distribution<uint32_t> dist(0, 1000);
        counts.resize(n);
        doubles.resize(n);
        config.resize(n);
        a.assign(n, 1.6);
        b.assign(n, 23);
        c.assign(n, 300);
        t.assign(n, 3.5);
        for (size_t i = 0; i < n; ++i) {
            counts[i] = dist(rng);
            doubles[i] = counts[i] + 1.0;
            config[i] = (i % 97) ? 1 : 0;
        }
    }
};

Frames& frames(uint32_t side)
{
    static Frames small(256), quad(512);
    return side == 256 ? small : quad;
}

int sideOf(const benchmark::State& state)
{
    return int(state.range(0));
}

// ---- Quad 516 ----

template <class T>
void BM_Quad516(benchmark::State& state)
{
    std::vector<T> src(512 * 512);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = T(frames(512).counts[i]);
    std::vector<T> dst(516 * 516);
    for (auto _ : state) {
        quad516(src.data(), dst.data(), 3);
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_Quad516<uint32_t>)->Name("Quad516/u32");
BENCHMARK(BM_Quad516<double>)->Name("Quad516/double");

void remapMaps(cv::Mat& mapX, cv::Mat& mapY)
{
    mapX.create(516, 516, CV_32FC1);
    mapY.create(516, 516, CV_32FC1);
    auto source = [](int d) { return d < 255 ? d : d < 258 ? 255 : d < 261 ? 256 : d - 4; };
    for (int y = 0; y < 516; ++y)
        for (int x = 0; x < 516; ++x) {
            mapX.at<float>(y, x) = float(source(x));
            mapY.at<float>(y, x) = float(source(y));
        }
}

template <int CvType, class T>
void BM_Remap(benchmark::State& state)
{
    cv::Mat src(512, 512, CvType);
    for (int i = 0; i < 512 * 512; ++i)
        src.ptr<T>()[i] = T(frames(512).counts[size_t(i)]);
    cv::Mat mapX, mapY, dst;
    remapMaps(mapX, mapY);
    cv::Mat fixedX, fixedY;
    cv::convertMaps(mapX, mapY, fixedX, fixedY, CV_16SC2);
    for (auto _ : state) {
        cv::remap(src, dst, fixedX, fixedY, cv::INTER_NEAREST);
        benchmark::DoNotOptimize(dst.data);
    }
}
// OpenCV's remap has no u32 path; the i32 image moves the same bytes.
BENCHMARK(BM_Remap<CV_32S, int32_t>)->Name("Remap/u32");
BENCHMARK(BM_Remap<CV_64F, double>)->Name("Remap/double");

template <class T>
void BM_Memcpy516(benchmark::State& state)
{
    std::vector<T> src(516 * 516, T(1)), dst(516 * 516);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size() * sizeof(T));
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_Memcpy516<uint32_t>)->Name("Memcpy516/u32");
BENCHMARK(BM_Memcpy516<double>)->Name("Memcpy516/double");

// ---- conversions and counts to time ----

void BM_ConvertToDouble(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    std::vector<double> out(f.counts.size());
    for (auto _ : state) {
        frameconv::convert(out.data(), TYPE_DOUBLE, f.counts.data(), TYPE_U32, uint32_t(f.counts.size()));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ConvertToDouble)->Name("ConvertToDouble")->Arg(256)->Arg(512);

void BM_CountsToTime(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    std::vector<double> out(f.counts.size());
    for (auto _ : state) {
        frameconv::convert(out.data(), TYPE_DOUBLE, f.counts.data(), TYPE_U32, uint32_t(f.counts.size()));
        countsToTime(out.data(), out.size(), 48.0);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_CountsToTime)->Name("CountsToTime")->Arg(256)->Arg(512);

void cvConvert(benchmark::State& state, double scale)
{
    const int side = sideOf(state);
    Frames& f = frames(side);
    // OpenCV has no u32 element type; the i32 matrix of the same (small, non-negative) counts stands in.
    const cv::Mat src(side, side, CV_32S, f.counts.data());
    cv::Mat dst;
    for (auto _ : state) {
        src.convertTo(dst, CV_64F, scale);
        benchmark::DoNotOptimize(dst.data);
    }
}
void BM_CvConvertTo(benchmark::State& state)
{
    cvConvert(state, 1.0);
}
void BM_CvConvertToScaled(benchmark::State& state)
{
    cvConvert(state, 1000.0 / 48.0);
}
BENCHMARK(BM_CvConvertTo)->Name("CvConvertTo")->Arg(256)->Arg(512);
BENCHMARK(BM_CvConvertToScaled)->Name("CvConvertToScaled")->Arg(256)->Arg(512);

// ---- crop ----

void BM_Crop(benchmark::State& state)
{
    const int side = sideOf(state);
    const Frames& f = frames(side);
    const CropRect r{side / 4 + 1, side / 4 + 1, side / 2, side / 2};
    std::vector<uint32_t> out(size_t(r.width) * r.height);
    for (auto _ : state) {
        cropCopy(f.counts.data(), uint32_t(side), sizeof(uint32_t), r, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Crop)->Name("Crop")->Arg(256)->Arg(512);

void BM_CvRoiCopy(benchmark::State& state)
{
    const int side = sideOf(state);
    Frames& f = frames(side);
    const cv::Mat src(side, side, CV_32S, f.counts.data());
    cv::Mat dst;
    for (auto _ : state) {
        src(cv::Rect(side / 4, side / 4, side / 2, side / 2)).copyTo(dst);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_CvRoiCopy)->Name("CvRoiCopy")->Arg(256)->Arg(512);

// ---- statistics ----

void BM_Statistics(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    for (auto _ : state) {
        const FrameSums sums = frameSums(f.doubles.data(), f.doubles.size(), 1.0);
        benchmark::DoNotOptimize(sums.total);
        benchmark::DoNotOptimize(sums.mean());
    }
}
BENCHMARK(BM_Statistics)->Name("Statistics")->Arg(256)->Arg(512);

void BM_CvMeanSum(benchmark::State& state)
{
    const int side = sideOf(state);
    Frames& f = frames(side);
    const cv::Mat src(side, side, CV_64F, f.doubles.data());
    cv::Mat valid;
    for (auto _ : state) {
        cv::compare(src, 1.0, valid, cv::CMP_NE);
        const cv::Scalar mean = cv::mean(src, valid);
        const cv::Scalar sum = cv::sum(src);
        benchmark::DoNotOptimize(mean[0]);
        benchmark::DoNotOptimize(sum[0]);
    }
}
BENCHMARK(BM_CvMeanSum)->Name("CvMeanSum")->Arg(256)->Arg(512);

// ---- mask ----

void BM_Mask(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    std::vector<uint32_t> data = f.counts;
    for (auto _ : state) {
        applyMask(data.data(), f.config.data(), data.size(), 0u);
        benchmark::DoNotOptimize(data.data());
    }
}
BENCHMARK(BM_Mask)->Name("Mask")->Arg(256)->Arg(512);

void BM_CvSetTo(benchmark::State& state)
{
    const int side = sideOf(state);
    Frames& f = frames(side);
    cv::Mat data = cv::Mat(side, side, CV_32S, f.counts.data()).clone();
    const cv::Mat config(side, side, CV_8U, f.config.data());
    cv::Mat masked;
    cv::compare(config, 0, masked, cv::CMP_EQ); // fixed: the device's configuration does not change
    for (auto _ : state) {
        data.setTo(0, masked);
        benchmark::DoNotOptimize(data.data);
    }
}
BENCHMARK(BM_CvSetTo)->Name("CvSetTo")->Arg(256)->Arg(512);

// ---- Srn calibration ----

void BM_Srn(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    std::vector<double> data(f.doubles.size());
    for (auto _ : state) {
        std::memcpy(data.data(), f.doubles.data(), data.size() * sizeof(double));
        srnCalibrate(data.data(), f.a.data(), f.b.data(), f.c.data(), f.t.data(), data.size());
        benchmark::DoNotOptimize(data.data());
    }
}
BENCHMARK(BM_Srn)->Name("Srn")->Arg(256)->Arg(512);

void BM_CvSrn(benchmark::State& state)
{
    const int side = sideOf(state);
    Frames& f = frames(side);
    const cv::Mat tot(side, side, CV_64F, f.doubles.data()), a(side, side, CV_64F, f.a.data()),
        b(side, side, CV_64F, f.b.data()), c(side, side, CV_64F, f.c.data()), t(side, side, CV_64F, f.t.data());
    cv::Mat B, C, D, s, e;
    for (auto _ : state) {
        B = b - a.mul(t) - tot;
        C = tot.mul(t) - b.mul(t) - c;
        D = B.mul(B) - 4 * a.mul(C);
        cv::sqrt(cv::max(D, 0.0), s);
        cv::divide(s - B, 2 * a, e);
        benchmark::DoNotOptimize(e.data);
    }
}
BENCHMARK(BM_CvSrn)->Name("CvSrn")->Arg(256)->Arg(512);

// ---- duplicate and save ----

TvkFrameInfo* frameOf(int side)
{
    TvkFrameInfo* frame = TvkFrameInfo::createInstance();
    frame->init(uint32_t(side), uint32_t(side), TYPE_U32, false);
    frame->setData(frames(side).counts.data(), uint32_t(frames(side).counts.size() * 4));
    return frame;
}

void BM_Duplicate(benchmark::State& state)
{
    TvkFrameInfo* frame = frameOf(sideOf(state));
    for (auto _ : state) {
        TvkFrameInfo* copy = TvkFrameInfo::duplicateInstance(frame);
        benchmark::DoNotOptimize(copy);
        TvkFrameInfo::deleteInstance(copy);
    }
    TvkFrameInfo::deleteInstance(frame);
}
BENCHMARK(BM_Duplicate)->Name("Duplicate")->Arg(256)->Arg(512);

void BM_AllocCopy(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    for (auto _ : state) {
        void* copy = std::malloc(f.counts.size() * 4);
        std::memcpy(copy, f.counts.data(), f.counts.size() * 4);
        benchmark::DoNotOptimize(copy);
        std::free(copy);
    }
}
BENCHMARK(BM_AllocCopy)->Name("AllocCopy")->Arg(256)->Arg(512);

std::string benchDir()
{
    const char* base = std::getenv("OMBREL_BENCH_TMP");
    const std::string dir = std::string(base && *base ? base : "/tmp") + "/filters-bench-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    return dir;
}

void BM_Save(benchmark::State& state)
{
    TvkFrameInfo* frame = frameOf(sideOf(state));
    const std::string file = benchDir() + "/save.bin";
    for (auto _ : state)
        if (frame->save(file.c_str(), FSAVE_BINARY) != 0)
            state.SkipWithError("save failed");
    TvkFrameInfo::deleteInstance(frame);
}
BENCHMARK(BM_Save)->Name("Save")->Arg(256)->Arg(512)->UseRealTime();

void BM_PlainWrite(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    const std::string file = benchDir() + "/plain.bin";
    for (auto _ : state) {
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (!out || std::fwrite(f.counts.data(), 4, f.counts.size(), out) != f.counts.size())
            state.SkipWithError("write failed");
        if (out)
            std::fclose(out);
    }
}
BENCHMARK(BM_PlainWrite)->Name("PlainWrite")->Arg(256)->Arg(512)->UseRealTime();

// The same bytes written durably (flushed to the disk), as a frame save writes them.
void BM_PlainWriteDurable(benchmark::State& state)
{
    const Frames& f = frames(sideOf(state));
    const std::string file = benchDir() + "/durable.bin";
    for (auto _ : state) {
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (!out || std::fwrite(f.counts.data(), 4, f.counts.size(), out) != f.counts.size() ||
            std::fflush(out) != 0 || ::fsync(fileno(out)) != 0)
            state.SkipWithError("write failed");
        if (out)
            std::fclose(out);
    }
}
BENCHMARK(BM_PlainWriteDurable)->Name("PlainWriteDurable")->Arg(256)->Arg(512)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    struct Pair {
        std::string figure, baseline;
        double target;
    };
    std::vector<Pair> pairs = {{"Quad516/u32", "Remap/u32", 1.5},        {"Quad516/double", "Remap/double", 1.5},
                               {"Quad516/u32", "Memcpy516/u32", 0},       {"Quad516/double", "Memcpy516/double", 0}};
    for (const char* side : {"256", "512"}) {
        auto add = [&](const char* figure, const char* baseline, double target) {
            pairs.push_back({std::string(figure) + "/" + side, std::string(baseline) + "/" + side, target});
        };
        add("ConvertToDouble", "CvConvertTo", 1.5);
        add("CountsToTime", "CvConvertToScaled", 1.5);
        add("Crop", "CvRoiCopy", 1.5);
        add("Statistics", "CvMeanSum", 1.5);
        add("Mask", "CvSetTo", 1.5);
        add("Srn", "CvSrn", 1.5);
        add("Duplicate", "AllocCopy", 2.0);
        add("Save", "PlainWrite", 2.0);
        add("Save", "PlainWriteDurable", 2.0);
    }
    std::printf("\n%-22s %10s   %-22s %10s %8s %8s %8s\n", "figure", "us", "baseline", "us", "ratio", "cpu",
                "target");
    for (const Pair& p : pairs) {
        std::string figure = p.figure, baseline = p.baseline;
        for (std::string* name : {&figure, &baseline})
            if (name->rfind("Save", 0) == 0 || name->rfind("PlainWrite", 0) == 0) // also PlainWriteDurable
                *name += "/real_time";
        auto a = reporter.times.find(figure);
        auto b = reporter.times.find(baseline);
        if (a == reporter.times.end() || b == reporter.times.end())
            continue;
        char target[16] = "-";
        if (p.target > 0)
            std::snprintf(target, sizeof target, "%.1fx", p.target);
        const double cpuRatio = reporter.cpuTimes[figure] / reporter.cpuTimes[baseline];
        std::printf("%-22s %10.1f   %-22s %10.1f %7.2fx %7.2fx %8s\n", p.figure.c_str(), a->second / 1000.0,
                    p.baseline.c_str(), b->second / 1000.0, a->second / b->second, cpuRatio, target);
    }
    std::filesystem::remove_all(benchDir());
    benchmark::Shutdown();
    return 0;
}
