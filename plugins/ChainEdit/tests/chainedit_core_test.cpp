// The filters' arithmetic on plain buffers and the settings tables behind the instance callbacks, without a
// manager.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "filter_settings.h"
#include "frame_kernels.h"

using namespace chainedit;

namespace {

// ---- Quad 516 ----

template <class T>
std::vector<T> quadOf(std::vector<T> src, uint32_t d)
{
    std::vector<T> dst(size_t(kQuad516Side) * kQuad516Side, T(-7));
    quad516(src.data(), dst.data(), d);
    return dst;
}

template <class T>
T at(const std::vector<T>& v, uint32_t x, uint32_t y, uint32_t side)
{
    return v[size_t(y) * side + x];
}

// Where source pixels land: an ordinary pixel keeps its value, a pixel of a centre column or row covers three
// destination pixels divided by d, a centre pixel of both covers nine divided by d x d.
template <class T>
void checkQuadPlacement(const char* typeName)
{
    struct Case {
        const char* name;
        uint32_t sx, sy;             // source pixel
        double value;                // its value
        uint32_t d;                  // divisor of the filter
        uint32_t dx0, dx1, dy0, dy1; // destination block (inclusive)
        double share;                // every pixel of the block: value / share (integers truncated)
    };
    const Case cases[] = {
        {"ordinary pixel, first quadrant", 10, 20, 9, 3, 10, 10, 20, 20, 1},
        {"ordinary pixel, last quadrant", 400, 300, 9, 3, 404, 404, 304, 304, 1},
        {"last pixel", 511, 511, 9, 3, 515, 515, 515, 515, 1},
        {"border column 255, distributed", 255, 10, 9, 3, 255, 257, 10, 10, 3},
        {"border column 256, distributed", 256, 400, 9, 3, 258, 260, 404, 404, 3},
        {"border row 255, distributed", 100, 255, 9, 3, 100, 100, 255, 257, 3},
        {"border row 256, distributed", 300, 256, 9, 3, 304, 304, 258, 260, 3},
        {"corner 255/255, distributed", 255, 255, 9, 3, 255, 257, 255, 257, 9},
        {"corner 256/255, distributed", 256, 255, 9, 3, 258, 260, 255, 257, 9},
        {"corner 256/256, distributed", 256, 256, 9, 3, 258, 260, 258, 260, 9},
        {"border column, duplicated", 255, 10, 9, 1, 255, 257, 10, 10, 1},
        {"corner, duplicated", 256, 255, 9, 1, 258, 260, 255, 257, 1},
        {"10 on a border", 255, 5, 10, 3, 255, 257, 5, 5, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(typeName) + ": " + c.name);
        std::vector<T> src(size_t(kQuadSide) * kQuadSide, T(0));
        src[size_t(c.sy) * kQuadSide + c.sx] = T(c.value);
        const std::vector<T> dst = quadOf(src, c.d);
        const double expected = std::is_integral_v<T> ? std::trunc(c.value / c.share) : c.value / c.share;
        for (uint32_t y = 0; y < kQuad516Side; ++y) {
            for (uint32_t x = 0; x < kQuad516Side; ++x) {
                const bool inside = x >= c.dx0 && x <= c.dx1 && y >= c.dy0 && y <= c.dy1;
                const double v = double(at(dst, x, y, kQuad516Side));
                if (inside) {
                    ASSERT_DOUBLE_EQ(v, expected) << x << "," << y;
                } else {
                    ASSERT_EQ(v, 0.0) << "stray value at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ChainEditQuad516, EveryPixelLandsInItsBlockForEachElementType)
{
    checkQuadPlacement<int16_t>("i16");
    checkQuadPlacement<uint32_t>("u32");
    checkQuadPlacement<double>("double");
}

TEST(ChainEditQuad516, DivisionFollowsTheElementType)
{
    // i16 truncates toward zero, u32 divides unsigned, double divides exactly.
    {
        std::vector<int16_t> src(size_t(kQuadSide) * kQuadSide, 0);
        src[size_t(10) * kQuadSide + 255] = -9;
        src[size_t(255) * kQuadSide + 255] = -10;
        const auto dst = quadOf(src, 3);
        EXPECT_EQ(at(dst, 256, 10, kQuad516Side), -3);
        EXPECT_EQ(at(dst, 256, 256, kQuad516Side), -1); // -10 / 9 toward zero
    }
    {
        std::vector<uint32_t> src(size_t(kQuadSide) * kQuadSide, 0);
        src[size_t(10) * kQuadSide + 256] = 10;
        src[size_t(256) * kQuadSide + 256] = 4000000000u;
        const auto dst = quadOf(src, 3);
        EXPECT_EQ(at(dst, 259, 10, kQuad516Side), 3u);
        EXPECT_EQ(at(dst, 259, 259, kQuad516Side), 444444444u);
    }
    {
        std::vector<double> src(size_t(kQuadSide) * kQuadSide, 0);
        src[size_t(10) * kQuadSide + 256] = 10;
        const auto dst = quadOf(src, 3);
        EXPECT_DOUBLE_EQ(at(dst, 260, 10, kQuad516Side), 10.0 / 3);
    }
}

// ---- Crop ----

TEST(ChainEditCrop, RectangleMustLieInsideTheFrame)
{
    struct Case {
        CropRect r;
        bool fits;
    };
    const Case cases[] = {
        {{1, 1, 256, 256}, true},          {{1, 1, 257, 256}, false},   {{256, 256, 1, 1}, true},
        {{257, 1, 1, 1}, false},           {{0, 1, 10, 10}, false},     {{1, 0, 10, 10}, false},
        {{1, 1, 0, 10}, false},            {{1, 1, 10, -1}, false},     {{200, 100, 57, 157}, true},
        {{2147483647, 1, 2147483647, 1}, false}, // no overflow into a small sum
    };
    for (const Case& c : cases)
        EXPECT_EQ(cropFits(c.r, 256, 256), c.fits)
            << c.r.left << " " << c.r.bottom << " " << c.r.width << " " << c.r.height;
}

TEST(ChainEditCrop, BottomOneIsFrameRowZero)
{
    // A 4 x 3 frame whose value is 10 x row + column.
    std::vector<uint32_t> src(12);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            src[y * 4 + x] = 10 * y + x;
    std::vector<uint32_t> dst(4);
    cropCopy(src.data(), 4, sizeof(uint32_t), CropRect{2, 1, 2, 2}, dst.data());
    EXPECT_EQ(dst, (std::vector<uint32_t>{1, 2, 11, 12}));
    cropCopy(src.data(), 4, sizeof(uint32_t), CropRect{3, 2, 2, 2}, dst.data());
    EXPECT_EQ(dst, (std::vector<uint32_t>{12, 13, 22, 23}));
}

// ---- counts to time ----

TEST(ChainEditCountsToTime, CountsTimesThousandOverClock)
{
    struct Case {
        double counts, clockMHz, ns;
    };
    const Case cases[] = {{1, 100, 10}, {0, 48, 0}, {250, 20, 12500}, {3, 80, 37.5}, {7, 0.5, 14000}};
    for (const Case& c : cases) {
        double v = c.counts;
        countsToTime(&v, 1, c.clockMHz);
        EXPECT_NEAR(v, c.ns, 1e-12 * c.ns) << c.counts << " counts at " << c.clockMHz << " MHz";
    }
}

// Every vector width and every tail length: each element as the plain arithmetic gives it.
TEST(ChainEditCountsToTime, WholeBuffersEqualTheElementwiseResult)
{
    std::vector<double> counts;
    for (uint32_t k = 0; k < 41; ++k)
        counts.push_back(static_cast<double>(k * 2654435761u));
    counts[1] = 4294967295.0;
    const double factor = 1000.0 / 48.0;
    for (size_t n = 0; n <= counts.size(); ++n) {
        std::vector<double> v(counts.begin(), counts.begin() + static_cast<std::ptrdiff_t>(n));
        countsToTime(v.data(), n, 48.0);
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(v[i], counts[i] * factor) << i << " of " << n;
    }
}

// ---- Srn calibration ----

double forwardTot(double e, double a, double b, double c, double t)
{
    return a * e + b - c / (e - t);
}

TEST(ChainEditSrn, RecoversTheEnergyOfForwardComputedTot)
{
    struct Coeffs {
        double a, b, c, t;
    };
    const Coeffs coeffs[] = {{1.6, 23.0, 300.0, 3.5}, {2.0, 10.0, 50.0, 4.0}, {0.35, 150.0, 1200.0, 2.1},
                             {1e-3, 5.0, 1e-6, 1e-3}};
    for (const Coeffs& k : coeffs) {
        for (double e : {5.0, 8.0, 20.0, 59.5, 150.0, 1e4}) {
            const double tot = forwardTot(e, k.a, k.b, k.c, k.t);
            if (!(tot > 0))
                continue;
            EXPECT_NEAR(srnEnergy(tot, k.a, k.b, k.c, k.t), e, 1e-9 * e)
                << "a=" << k.a << " b=" << k.b << " c=" << k.c << " t=" << k.t << " E=" << e;
        }
    }
}

TEST(ChainEditSrn, ValuesWithoutAnEnergyGiveZero)
{
    struct Case {
        const char* name;
        double tot, a, b, c, t;
    };
    const double inf = INFINITY, nan = NAN;
    const Case cases[] = {
        {"TOT zero", 0, 1, 1, 1, 1},
        {"TOT negative", -5, 1, 1, 1, 1},
        {"a zero (no division by zero)", 10, 0, 1, 1, 1},
        {"a negative", 10, -1, 1, 1, 1},
        {"negative discriminant", 1, 1, 10, -100, 0},
        {"not a number", nan, 1, 1, 1, 1},
        {"coefficient not a number", 10, 1, nan, 1, 1},
        {"infinite coefficient", 10, 1, 1, inf, 1},
        {"infinite TOT", inf, 1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        const double e = srnEnergy(c.tot, c.a, c.b, c.c, c.t);
        EXPECT_EQ(e, 0.0) << c.name;
    }
}

// ---- statistics ----

TEST(ChainEditStatistics, LineHoldsTheSelectedFieldsInTableOrder)
{
    // 3 x 2 frame, one pixel invalid (-1).
    const std::vector<double> frame = {1, 2, -1, 4, 0, 5.5};
    struct Case {
        const char* name;
        StatFields fields;
        double invalid;
        std::string expected;
    };
    const Case cases[] = {
        {"defaults", {}, -1, "7\tWed 10:00\t2.5\t12.5"},
        {"nothing", {false, false, false, false, false, false}, -1, ""},
        {"no invalid value matches", {true, false, true, true, false, false}, -2, "7\t1.9166666666666667\t11.5"},
        {"counts", {false, false, false, false, true, false}, -1, "1\t2\t4\t0\t5.5"},
        {"counts with positions", {false, false, false, true, true, true}, 0,
         "11.5\t0 0 1\t1 0 2\t2 0 -1\t0 1 4\t2 1 5.5"},
        {"positions without counts are not written", {true, false, false, false, false, true}, -1, "7"},
        {"empty time stamp keeps its column", {true, true, true, false, false, false}, -1, "7\t\t2.5"},
    };
    for (const Case& c : cases) {
        const std::string time = std::string(c.name) == "empty time stamp keeps its column" ? "" : "Wed 10:00";
        EXPECT_EQ(statisticsLine(c.fields, 7, time, frame.data(), 3, 2, c.invalid), c.expected) << c.name;
    }
}

TEST(ChainEditStatistics, FrameOfOnlyInvalidPixelsHasMeanZero)
{
    const std::vector<double> frame(4, -1);
    EXPECT_EQ(statisticsLine({false, false, true, true, false, false}, 0, "", frame.data(), 2, 2, -1), "0\t0");
}

TEST(ChainEditStatistics, NotANumberAsTheInvalidValueSkipsThePixelsThatAreNotNumbers)
{
    // 2 x 2 frame: (0,0) = 1, (0,1) = 3, the other two not numbers.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> frame = {1, nan, 3, nan};
    EXPECT_EQ(statisticsLine({false, false, true, true, true, true}, 0, "", frame.data(), 2, 2, nan),
              "2\t4\t0 0 1\t0 1 3");
    EXPECT_EQ(frameSums(frame.data(), frame.size(), nan).counted, 2u);
}

// ---- mask ----

TEST(ChainEditMask, MaskedValueIsRoundedAndClampedForIntegerFrames)
{
    struct Case {
        double value;
        int16_t i16;
        uint32_t u32;
    };
    const Case cases[] = {{0, 0, 0},           {2.5, 3, 3},       {-2.5, -3, 0},         {1e9, 32767, 1000000000u},
                          {-1e9, -32768, 0},   {1e12, 32767, 4294967295u}, {NAN, 0, 0}, {-0.4, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(maskValueAs<int16_t>(c.value), c.i16) << c.value;
        EXPECT_EQ(maskValueAs<uint32_t>(c.value), c.u32) << c.value;
    }
    EXPECT_EQ(maskValueAs<double>(-2.25), -2.25);
}

TEST(ChainEditMask, OnlyPixelsWithBitZeroClearChange)
{
    std::vector<uint32_t> data = {5, 6, 7, 8};
    const uint8_t config[] = {0x01, 0x00, 0xFE, 0x03};
    applyMask(data.data(), config, data.size(), 99u);
    EXPECT_EQ(data, (std::vector<uint32_t>{5, 99, 99, 8}));
}

// ---- settings tables and the instance callbacks' behaviour ----

template <class S>
struct Kind {
    InstanceRegistry<S> registry;
    void* create()
    {
        void* handle = nullptr;
        EXPECT_EQ(registry.create(&handle), 0);
        return handle;
    }
    int get(void* handle, int index, _FilterParDesc* desc, uint32_t* size)
    {
        return getParam(registry, S::rows(), handle, index, desc, size);
    }
    int set(void* handle, int index, const void* data, uint32_t size)
    {
        return setParam(registry, S::rows(), handle, index, data, size).result;
    }
    std::string text(void* handle, int index)
    {
        char buf[kTextFieldSize] = {};
        _FilterParDesc desc{};
        desc.data = buf;
        uint32_t size = sizeof buf;
        EXPECT_EQ(get(handle, index, &desc, &size), 0);
        return buf;
    }
};

TEST(ChainEditSettings, TablesHaveTheirRowsInOrderWithFlagsTwo)
{
    auto names = [](auto rows) {
        std::vector<std::string> out;
        for (const auto& r : rows) {
            EXPECT_EQ(r.desc.flags, 2u) << r.desc.name;
            EXPECT_EQ(r.desc.data, nullptr);
            out.push_back(r.desc.name);
        }
        return out;
    };
    EXPECT_EQ(names(SaveSettings::rows()), (std::vector<std::string>{"Path", "Mode", "Binary", "Pixels over threshold",
                                                                      "Threshold value"}));
    EXPECT_EQ(names(CropSettings::rows()), (std::vector<std::string>{"Left", "Bottom", "Width", "Height"}));
    EXPECT_EQ(names(CountsToTimeSettings::rows()), (std::vector<std::string>{"Device ID", "Clock frequency"}));
    EXPECT_EQ(names(SrnSettings::rows()), (std::vector<std::string>{"a", "b", "c", "t"}));
    EXPECT_EQ(names(StatisticsSettings::rows()),
              (std::vector<std::string>{"Write record index", "Write time stamp", "Write mean count",
                                        "Write total count", "Write pixels counts", "Write pixels positions",
                                        "Record index", "Invalid value", "Output file path"}));
    EXPECT_EQ(names(MaskSettings::rows()), (std::vector<std::string>{"Device ID", "Masked value"}));
}

TEST(ChainEditSettings, GetReportsRowCountAndDefaults)
{
    Kind<SaveSettings> save;
    uint32_t count = 0;
    EXPECT_EQ(save.get(nullptr, -1, nullptr, &count), 0); // no handle needed
    EXPECT_EQ(count, 5u);
    void* h = save.create();
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(save.text(h, 0), "./files/");

    Kind<StatisticsSettings> stats;
    void* s = stats.create();
    EXPECT_EQ(stats.text(s, 8), "./files/framestat.txt");
    struct Numeric {
        int index;
        double expected;
    };
    for (const Numeric& n : {Numeric{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 0}, {5, 0}, {6, 0}, {7, -1}}) {
        unsigned char buf[8] = {};
        _FilterParDesc desc{};
        desc.data = buf;
        uint32_t size = sizeof buf;
        ASSERT_EQ(stats.get(s, n.index, &desc, &size), 0);
        double v = 0;
        if (desc.type == TYPE_DOUBLE) {
            std::memcpy(&v, buf, 8);
        } else {
            int32_t i = 0;
            std::memcpy(&i, buf, 4);
            v = i;
        }
        EXPECT_EQ(v, n.expected) << desc.name;
    }
}

TEST(ChainEditSettings, CallbackContract)
{
    Kind<SaveSettings> save;
    void* h = save.create();
    void* other = save.create();
    EXPECT_NE(h, other);
    const uint32_t mode = 2;
    const double eight = 12.5;

    struct Case {
        const char* name;
        std::function<int()> call;
        int expected;
    };
    const Case cases[] = {
        {"set parameter 5 (beyond the table)", [&] { return save.set(h, 5, &mode, 4); }, -1},
        {"set a negative index", [&] { return save.set(h, -1, &mode, 4); }, -1},
        {"set with a null handle", [&] { return save.set(nullptr, 1, &mode, 4); }, -1},
        {"set with an unknown handle", [&] { return save.set(reinterpret_cast<void*>(99), 1, &mode, 4); }, -1},
        {"set a u32 from 3 bytes", [&] { return save.set(h, 1, &mode, 3); }, -1},
        {"set a double from 4 bytes", [&] { return save.set(h, 4, &eight, 4); }, -1},
        {"set null data", [&] { return save.set(h, 1, nullptr, 4); }, -1},
        {"set a u32 from exactly 4 bytes", [&] { return save.set(h, 1, &mode, 4); }, 0},
        {"set a double from exactly 8 bytes", [&] { return save.set(h, 4, &eight, 8); }, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.name;

    // Exact 4- and 8-byte buffers get the value; a smaller one gets nothing but the size needed.
    struct Get {
        int index;
        uint32_t capacity;
        uint32_t needed;
        bool copied;
    };
    for (const Get& g : {Get{1, 4, 4, true}, Get{1, 3, 4, false}, Get{4, 8, 8, true}, Get{4, 7, 8, false},
                         Get{0, 9, 9, true}, Get{0, 8, 9, false}}) {
        unsigned char buf[16];
        std::memset(buf, 0xAA, sizeof buf);
        _FilterParDesc desc{};
        desc.data = buf;
        uint32_t size = g.capacity;
        ASSERT_EQ(save.get(h, g.index, &desc, &size), 0) << g.index << " " << g.capacity;
        EXPECT_EQ(size, g.needed) << g.index << " " << g.capacity;
        EXPECT_EQ(desc.data, buf); // the caller's pointer is kept
        EXPECT_EQ(buf[0] != 0xAA, g.copied) << g.index << " " << g.capacity;
    }
    uint32_t readBack = 0;
    _FilterParDesc desc{};
    desc.data = &readBack;
    uint32_t size = 4;
    ASSERT_EQ(save.get(h, 1, &desc, &size), 0);
    EXPECT_EQ(readBack, 2u);
    EXPECT_STREQ(desc.name, "Mode");
    EXPECT_EQ(desc.type, uint32_t(TYPE_U32));

    // Null data: the row is described, *size says what a value needs.
    _FilterParDesc describe{};
    size = 0;
    ASSERT_EQ(save.get(h, 4, &describe, &size), 0);
    EXPECT_STREQ(describe.name, "Threshold value");
    EXPECT_EQ(describe.count, 1u);
    EXPECT_EQ(size, 8u);

    // A deleted instance is gone for good; its neighbour stays.
    EXPECT_EQ(save.registry.destroy(h), 0);
    EXPECT_EQ(save.registry.destroy(h), -1);
    EXPECT_EQ(save.set(h, 1, &mode, 4), -1);
    size = 4;
    EXPECT_EQ(save.get(h, 1, &desc, &size), -1);
    EXPECT_EQ(save.set(other, 1, &mode, 4), 0);
    void* third = save.create();
    EXPECT_NE(third, h); // slots are never reused
}

TEST(ChainEditSettings, PathsFitTheirFieldAndEndInSlash)
{
    Kind<SaveSettings> save;
    void* h = save.create();
    struct Case {
        const char* name;
        std::string value;
        int result;
        std::string stored; // after the set
    };
    const std::string p510(510, 'p'), p511(511, 'p');
    const Case cases[] = {
        {"gains a slash", "./out dir", 0, "./out dir/"},
        {"keeps its slash", "/tmp/x/", 0, "/tmp/x/"},
        {"empty stays empty (the current folder)", "", 0, ""},
        {"510 characters gain a slash", p510, 0, p510 + "/"},
        {"511 characters cannot gain one", p511, -1, p510 + "/"},
        {"511 characters with the slash fit", p510 + "/", 0, p510 + "/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(save.set(h, 0, c.value.c_str(), uint32_t(c.value.size() + 1)), c.result) << c.name;
        EXPECT_EQ(save.text(h, 0), c.stored) << c.name;
    }
    // Text up to the size given, or up to its zero; never read beyond size.
    const char raw[] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(save.set(h, 0, raw, 2), 0);
    EXPECT_EQ(save.text(h, 0), "ab/");
    const char padded[8] = "xy";
    EXPECT_EQ(save.set(h, 0, padded, sizeof padded), 0);
    EXPECT_EQ(save.text(h, 0), "xy/");

    Kind<StatisticsSettings> stats; // a file path gains no slash
    void* s = stats.create();
    EXPECT_EQ(stats.set(s, 8, "out.txt", 8), 0);
    EXPECT_EQ(stats.text(s, 8), "out.txt");
}

} // namespace
