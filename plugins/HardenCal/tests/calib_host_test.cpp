// The contexts of all devices over the manager's function table: binding with the default profile, the
// point set-up from a device's frames, and the six registered functions called as other plug-ins call
// them (8-byte input slots, pointers to the caller's output buffers).
#include <cmath>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calib_fixture.h"
#include "calib_host.h"
#include "fake_manager.h"
#include "ombrel_test_support.h"

namespace {

using hcal::Status;
using hcaltest::fake;
using hcaltest::kPixels;

double exponential(double t, int i)
{
    return (5000.0 + 10.0 * (i % 13)) * std::exp(-(0.3 + 0.01 * (i % 11)) * t) + 100.0 + i % 7;
}

std::vector<double> countsOf(double t, double time)
{
    return hcaltest::countsAt(exponential, t, time);
}

class HostTest : public testing::Test {
protected:
    void SetUp() override
    {
        fake().reset();
        fake().configsDir = ombrel_test::scratchDir("hardencal-host") + "/";
        fake().devices[0] = {1, 1, "H7-W0042", "dummy", false, {}};
        fake().devices[2] = {1, 1, "K1-W0007", "dummy", false, {}};
        host.createContexts();
        ASSERT_EQ(host.registerFunctions(), 0);
        fake().log.clear();
    }
    void TearDown() override
    {
        host.unregisterFunctions();
        std::filesystem::remove_all(fake().configsDir);
    }

    void calibrate(int devId, std::vector<double> thicknesses = {0.0, 1.0, 2.0, 4.0, 8.0})
    {
        hcal::CalibContext* ctx = host.context(devId);
        ASSERT_NE(ctx, nullptr);
        for (double t : thicknesses)
            ASSERT_EQ(ctx->addPoint(t, 2.0, countsOf(t, 2.0), {}), Status::ok);
    }

    int call(const char* name, std::vector<_FuncSlot> in, double* out)
    {
        const _FuncItem* f = fake().function(name);
        EXPECT_NE(f, nullptr) << name;
        if (!f)
            return -999;
        void* outs[1] = {out};
        return f->callback(f->userData, in.data(), outs);
    }
    int callArray(unsigned dev, unsigned frameIndex, unsigned count, const double* source, double* out)
    {
        return call(hcal::kFuncArray, {tvkSlotUint(dev), tvkSlotUint(frameIndex), tvkSlotUint(count), tvkSlotPtr(source)},
                    out);
    }
    int callShow(const char* name, unsigned dev, unsigned count, double* out)
    {
        return call(name, {tvkSlotUint(dev), tvkSlotUint(0), tvkSlotUint(count)}, out);
    }

    const _MgrFuncTable table = hcaltest::fakeTable();
    hcal::CalibHost host{&table};
};

TEST_F(HostTest, SixFunctionsRegisteredWithTheirParameters)
{
    struct Param {
        uint32_t type;
        int32_t count;
        const char* name;
    };
    struct Want {
        const char* name;
        const char* description;
        std::vector<Param> in;
        std::vector<Param> out;
    };
    const std::vector<Param> show = {{TYPE_U32, 1, "DeviceID"}, {TYPE_U32, 1, "FrameIndex - dummy"},
                                     {TYPE_U32, 1, "PixelCount"}};
    const Want wants[] = {
        {"BH Correction", "Beam Hardening Correction of selected frame", {{TYPE_U32, 1, "FrameID"}}, {}},
        {"BH Correction Flt",
         "Filter - Beam hardening correction of given data",
         {{TYPE_U32, 1, "DeviceID"}, {TYPE_U32, 1, "FrameIndex"}, {TYPE_U32, 1, "PixelCount"},
          {TYPE_DOUBLE, -1, "SourceData"}},
         {{TYPE_DOUBLE, -1, "CalibrateddData"}}},
        {"BH Correction of Average", "Beam hardening correction of average of all frames", show,
         {{TYPE_DOUBLE, -1, "CalibrateddData"}}},
        {"BHShowMask", "Shows current mask computed from the calibration", show, {{TYPE_DOUBLE, -1, "Mask"}}},
        {"HardenCal.Point", "Shows currently selected calibration point", show, {{TYPE_DOUBLE, -1, "Calib point"}}},
        {"HardenCal.PointErr", "Shows currently selected calibration point sigma", show,
         {{TYPE_DOUBLE, -1, "Calib point"}}},
    };
    ASSERT_EQ(fake().functions.size(), std::size(wants));
    for (const Want& w : wants) {
        SCOPED_TRACE(w.name);
        const _FuncItem* f = fake().function(w.name);
        ASSERT_NE(f, nullptr);
        EXPECT_STREQ(f->plugin, "HardenCal");
        EXPECT_STREQ(f->description, w.description);
        EXPECT_EQ(f->flags, 0u);
        ASSERT_EQ(f->inCount, w.in.size());
        ASSERT_EQ(f->outCount, w.out.size());
        for (size_t k = 0; k < w.in.size(); ++k) {
            EXPECT_EQ(f->in[k].type, w.in[k].type) << k;
            EXPECT_EQ(f->in[k].count, w.in[k].count) << k;
            EXPECT_STREQ(f->in[k].name, w.in[k].name);
        }
        for (size_t k = 0; k < w.out.size(); ++k) {
            EXPECT_EQ(f->out[k].type, w.out[k].type);
            EXPECT_EQ(f->out[k].count, w.out[k].count);
            EXPECT_STREQ(f->out[k].name, w.out[k].name);
        }
    }
    host.unregisterFunctions();
    EXPECT_TRUE(fake().functions.empty());
}

TEST_F(HostTest, ContextsBoundAtStartWithTheirDefaultProfile)
{
    // Device 0's calibration saved under its default name; a new host loads it for device 0 only.
    calibrate(0);
    hcal::CalibContext* ctx = host.context(0);
    ASSERT_TRUE(ctx->saveProfile(host.defaultProfilePath(*ctx)));
    EXPECT_EQ(host.defaultProfilePath(*ctx), fake().configsDir + "dummy_H7-W0042_calib.txt");
    fake().devices[5] = {1, 1, "X", "dummy", true, {}};

    hcal::CalibHost second(&table);
    second.createContexts();
    EXPECT_EQ(second.devices(), (std::vector<int>{0, 2, 5}));
    EXPECT_EQ(second.context(0)->points().size(), 5u);
    EXPECT_EQ(second.context(0)->shape().chipboardId, "H7-W0042");
    EXPECT_EQ(second.context(2)->points().size(), 0u);
    EXPECT_TRUE(fake().logged("Error loading calibration configuration file. Cannot open file: " + fake().configsDir +
                              "dummy_K1-W0007_calib.txt"));
    EXPECT_TRUE(fake().logged("Can not get description of device with devID=0x5"));
    EXPECT_EQ(second.context(5)->pixelCount(), 0);
    EXPECT_EQ(second.context(7), nullptr);
}

TEST_F(HostTest, ArrayCorrectionCorrectsOrZeroesItsOutput)
{
    calibrate(0);
    fake().devices[0].frames = {{countsOf(3.0, 0.5), 0.5}};
    const std::vector<double> source = countsOf(3.0, 0.5);
    std::vector<double> out(kPixels + 8, 5.0);

    ASSERT_EQ(callArray(0, 0, kPixels, source.data(), out.data()), 0);
    for (int i = 0; i < kPixels; ++i)
        ASSERT_NEAR(out[static_cast<size_t>(i)], 3.0, 1e-9) << i;

    struct Case {
        const char* what;
        unsigned dev;
        unsigned frameIndex;
        unsigned count;
        std::string message;
    };
    const Case cases[] = {
        {"wrong pixel count", 0, 0, kPixels + 8, "MakeArrayCorrection: Incorrect frame size (Frame: 65544, Calib: 65536)"},
        {"device without context", 9, 0, kPixels, "MakeArrayCorrection: Invalid device ID (devID=0x9)"},
        {"frame without time", 0, 3, kPixels, "MakeArrayCorrection: Couldn't get exposition time for frame = 3."},
        {"too few points", 2, 0, kPixels, "Error precomputing parameters values. Not enough calibration points."},
    };
    fake().devices[2].frames = {{countsOf(3.0, 0.5), 0.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake().log.clear();
        std::fill(out.begin(), out.end(), 5.0);
        EXPECT_EQ(callArray(c.dev, c.frameIndex, c.count, source.data(), out.data()), 1);
        for (unsigned i = 0; i < c.count; ++i)
            ASSERT_EQ(out[i], 0.0) << i;
        EXPECT_TRUE(fake().logged(c.message)) << (fake().log.empty() ? "" : fake().log.back());
    }
}

TEST_F(HostTest, FrameCorrectionChangesOnlyAFrameItAccepts)
{
    calibrate(0);
    auto addFrame = [](uint32_t id, uint32_t w, uint32_t h, std::optional<std::string> chipboard,
                       std::optional<double> time) {
        hcaltest::FakeFrame f;
        f.width = w;
        f.height = h;
        f.data.assign(size_t(w) * h, 0.0);
        const std::vector<double> counts = countsOf(3.0, 0.5);
        for (size_t i = 0; i < f.data.size(); ++i)
            f.data[i] = std::round(counts[i % counts.size()]);
        f.chipboard = std::move(chipboard);
        f.acqTime = time;
        fake().frames[id] = f;
    };
    addFrame(1, 256, 256, "H7-W0042", 0.5);
    addFrame(2, 128, 128, "H7-W0042", 0.5);
    addFrame(3, 256, 256, "Z9-W0000", 0.5);
    addFrame(4, 256, 256, "H7-W0042", std::nullopt);
    addFrame(5, 256, 256, std::nullopt, 0.5);
    addFrame(6, 256, 256, "K1-W0007", 0.5); // device 2 has no points

    struct Case {
        uint32_t frame;
        int result;
        std::string message;
    };
    const Case refused[] = {
        {2, 1, "MakeFrameCorrection: Incorrect frame size (Frame: 16384, Calib: 65536)"},
        {3, 1, "MakeFrameCorrection: Invalid device ID (devID=0xffffffff)"},
        {4, -1, "MakeFrameCalibration: Couldn't get exposition time for frame = 4."},
        {5, -1, "MakeFrameCalibration: Couldn't get chipboard; frame id = 5."},
        {6, 1, "Error precomputing parameters values. Not enough calibration points."},
        {77, -1, "MakeFrameCalibration: Couldn't get frame information (type/size), frame id = 77."},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.frame);
        fake().log.clear();
        const bool exists = fake().frames.count(c.frame) > 0;
        const auto before = exists ? fake().frames[c.frame].data : std::vector<double>();
        EXPECT_EQ(call(hcal::kFuncFrame, {tvkSlotUint(c.frame)}, nullptr), c.result);
        EXPECT_TRUE(fake().logged(c.message)) << (fake().log.empty() ? "" : fake().log.back());
        if (exists) {
            EXPECT_EQ(fake().frames[c.frame].type, TYPE_U32) << "a refused frame keeps its type";
            EXPECT_TRUE(fake().frames[c.frame].data == before) << "and its data";
        }
    }

    ASSERT_EQ(call(hcal::kFuncFrame, {tvkSlotUint(1)}, nullptr), 0);
    const hcaltest::FakeFrame& f = fake().frames[1];
    EXPECT_EQ(f.type, TYPE_DOUBLE);
    EXPECT_FALSE(f.locked);
    // Rounded counts: the thickness within what one count changes.
    for (size_t i = 0; i < f.data.size(); ++i)
        ASSERT_NEAR(f.data[i], 3.0, 2e-3) << i;
}

TEST_F(HostTest, ShowFunctionsGiveMaskSelectedPointAndCurrentResult)
{
    calibrate(0);
    hcal::CalibContext& ctx = *host.context(0);
    std::vector<double> out(kPixels, 5.0);
    for (const char* name : {hcal::kFuncPoint, hcal::kFuncPointErr}) {
        fake().log.clear();
        EXPECT_EQ(callShow(name, 0, kPixels, out.data()), 1) << name;
        EXPECT_TRUE(fake().logged("GetFramesCorrectionError: Currently no point selected")) << name;
        EXPECT_EQ(out[0], 0.0);
    }
    ctx.selectPoint(1);
    ASSERT_EQ(callShow(hcal::kFuncPoint, 0, kPixels, out.data()), 0);
    EXPECT_NEAR(out[9], exponential(1.0, 9), 1e-9);
    ASSERT_EQ(callShow(hcal::kFuncPointErr, 0, kPixels, out.data()), 0);
    EXPECT_NEAR(out[9], std::sqrt(exponential(1.0, 9) * 2.0) / 2.0, 1e-9);

    ASSERT_EQ(callShow(hcal::kFuncMask, 0, kPixels, out.data()), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), 1.0), kPixels);

    const std::vector<double> counts = countsOf(2.5, 1.0);
    ASSERT_EQ(ctx.correct(counts.data(), nullptr, kPixels, 1.0, nullptr, nullptr), Status::ok);
    ASSERT_EQ(callShow(hcal::kFuncAverage, 0, kPixels, out.data()), 0);
    EXPECT_NEAR(out[77], 2.5, 1e-9);

    struct Case {
        const char* name;
        unsigned dev;
        unsigned count;
        std::string message;
    };
    const Case cases[] = {
        {hcal::kFuncAverage, 4, kPixels, "MakeFramesCorrection: Invalid device ID (devID=0x4)"},
        {hcal::kFuncAverage, 0, 100, "MakeFramesCorrection: Incorrect frame size (Frame: 100, Calib: 65536)"},
        {hcal::kFuncMask, 0, 100, "GetFramesCorrectionError: Incorrect frame size (Frame: 100, Calib: 65536)"},
        {hcal::kFuncPointErr, 4, kPixels, "GetFramesCorrectionError: Invalid device ID (devID=0x4)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        fake().log.clear();
        std::fill(out.begin(), out.end(), 5.0);
        EXPECT_EQ(callShow(c.name, c.dev, c.count, out.data()), 1);
        EXPECT_TRUE(fake().logged(c.message));
        EXPECT_EQ(out[c.count - 1], 0.0);
        if (c.count < kPixels) {
            EXPECT_EQ(out[c.count], 5.0) << "nothing beyond the caller's count";
        }
    }
}

TEST_F(HostTest, PointSetUpFromTheFramesOfTheLastAcquisition)
{
    hcal::CalibContext& ctx = *host.context(0);
    auto frameOf = [](double a, double b) {
        std::vector<double> v(kPixels, a);
        v[1] = b;
        return v;
    };
    struct Case {
        const char* what;
        std::vector<hcaltest::FakeDevice::Frame> frames;
        std::optional<double> time; // summed; none: the last point's (no time could be read)
        double sigma0;              // at pixel 0
        std::string message;
    };
    // Frames of 0.5 s and 1 s: counts 10, 30 at pixel 0; mean rate 40 / 1.5. Each frame's variance is taken as
    // v t_k, v = (0.5 (80/3 - 20)^2 + 1 (80/3 - 30)^2) / (2 - 1), and the sum's over 1.5 s is 1.5 v.
    const double spread = std::sqrt(1.5 * (0.5 * std::pow(80.0 / 3 - 20, 2) + std::pow(80.0 / 3 - 30, 2)));
    const std::string noTime = "Error getting frame - Couldn't get exposition time for frame=1. Sigma will be set "
                               "to default.";
    const Case cases[] = {
        {"one frame", {{frameOf(16.0, 0.0), 0.5}}, 0.5, 4.0, ""},
        {"two frames", {{frameOf(10.0, 0.0), 0.5}, {frameOf(30.0, 0.0), 1.0}}, 1.5, spread, ""},
        // The time of a point is the sum of the times read, not a time taken from another point.
        {"a frame without time", {{frameOf(10.0, 0.0), 0.5}, {frameOf(15.0, 0.0), std::nullopt}}, 0.5, 5.0, noTime},
        {"the first of three without time",
         {{frameOf(10.0, 0.0), std::nullopt}, {frameOf(6.0, 0.0), 0.25}, {frameOf(20.0, 0.0), 2.0}},
         2.25,
         6.0,
         "Error getting frame - Couldn't get exposition time for frame=0. Sigma will be set to default."},
        {"no frame with a time",
         {{frameOf(10.0, 0.0), std::nullopt}, {frameOf(39.0, 0.0), std::nullopt}},
         std::nullopt,
         7.0,
         noTime},
    };
    int thickness = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake().log.clear();
        fake().devices[0].frames = c.frames;
        const double lastTime = ctx.points().empty() ? 1.0 : ctx.points().back().time;
        int index = -1;
        ASSERT_EQ(host.setupFromFrames(ctx, 0, thickness, &index), 0);
        hcal::PointData d;
        ASSERT_TRUE(ctx.pointData(index, d));
        EXPECT_EQ(d.info.thickness, thickness);
        EXPECT_DOUBLE_EQ(d.info.time, c.time.value_or(lastTime));
        double sum = 0.0;
        for (const auto& f : c.frames)
            sum += f.counts[0];
        EXPECT_EQ(d.data[0], sum);
        EXPECT_NEAR(d.sigma[0], c.sigma0, 1e-12);
        EXPECT_EQ(d.sigma[1], 0.0) << "no counts, no sigma";
        if (!c.message.empty()) {
            EXPECT_TRUE(fake().logged(c.message));
        }
        ++thickness;
    }
    // Frames that make no point: none at all, or counts that a profile could not hold.
    const size_t taken = ctx.points().size();
    struct Refusal {
        const char* what;
        std::vector<hcaltest::FakeDevice::Frame> frames;
        std::string message;
    };
    const Refusal refusals[] = {
        {"no frame", {}, "SetupFromFrames: Error getting frames"},
        {"a frame holding NaN",
         {{frameOf(3.0, std::nan("")), 1.0}},
         "Error adding item to calibration. Data array holds a value that is not a finite number (pixel=1)."},
        {"counts that overflow when summed",
         {{frameOf(3.0, 1e308), 1.0}, {frameOf(3.0, 1e308), 1.0}},
         "Error adding item to calibration. Data array holds a value that is not a finite number (pixel=1)."},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        fake().log.clear();
        fake().devices[0].frames = r.frames;
        EXPECT_EQ(host.setupFromFrames(ctx, 0, 9.0), -1);
        EXPECT_TRUE(fake().logged(r.message));
        EXPECT_EQ(ctx.points().size(), taken);
    }
}

// The sigma of a point summed from several frames is the sigma of its summed counts: for Poisson frames,
// sqrt(counts) on average whatever the frames' count and times. Simulated frames of 50 counts/s at every
// pixel; the mean of sigma^2 over the pixels must come to the mean summed count within 2 % (the spread of
// the estimate over 65,536 pixels is below 0.3 %). The form without the scale by the whole time gave
// (K - 1) x 50, a tenth of it and less.
TEST_F(HostTest, SigmaOfFramesSummedIsTheSigmaOfTheSummedCounts)
{
    hcal::CalibContext& ctx = *host.context(0);
    const double rate = 50.0;
    const std::vector<double> times[] = {std::vector<double>(10, 10.0), {5.0, 10.0, 20.0, 2.0, 13.0}, {1.0, 3.0}};
    std::mt19937 random(12345);
    int thickness = 1;
    for (const std::vector<double>& frameTimes : times) {
        SCOPED_TRACE(frameTimes.size());
        fake().devices[0].frames.clear();
        for (double t : frameTimes) {
            std::poisson_distribution<int> counts(rate * t);
            std::vector<double> f(kPixels);
            for (double& v : f)
                v = counts(random);
            fake().devices[0].frames.push_back({std::move(f), t});
        }
        int index = -1;
        ASSERT_EQ(host.setupFromFrames(ctx, 0, thickness++, &index), 0);
        hcal::PointData d;
        ASSERT_TRUE(ctx.pointData(index, d));
        double variance = 0.0, counts = 0.0;
        for (int i = 0; i < kPixels; ++i) {
            variance += d.sigma[static_cast<size_t>(i)] * d.sigma[static_cast<size_t>(i)];
            counts += d.data[static_cast<size_t>(i)];
        }
        EXPECT_NEAR(variance / counts, 1.0, 0.02);
    }
}

} // namespace
