// The frame display model against a fake manager: orientation, masks and regions, rendering of every
// kind of value, statistics and fractiles, and the failure paths of showing a frame, which must leave the
// display and the manager's frames as they were.
#include "picture_data.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- a manager's frame store, reached through the function table ----

struct FakeFrame {
    uint32_t width = 0, height = 0;
    std::vector<double> data;
    std::map<std::string, std::vector<double>> attribs;
};

struct FakeManager {
    std::map<uint32_t, FakeFrame> frames;
    uint32_t nextId = 10002;
    bool filterFails = false;
    bool dataFails = false;
    bool sizeFails = false;
    bool loadFails = false;
    int devRowLength = 4, devPixels = 12;
    uint32_t add(uint32_t w, uint32_t h, std::vector<double> data)
    {
        frames[nextId] = FakeFrame{w, h, std::move(data), {}};
        return nextId++;
    }
};
FakeManager* fake = nullptr;

int fGetFrameSize(uint32_t id, uint32_t* w, uint32_t* h)
{
    auto it = fake->frames.find(id);
    if (it == fake->frames.end() || fake->sizeFails)
        return -200;
    *w = it->second.width;
    *h = it->second.height;
    return 0;
}

int fGetFrameData(uint32_t id, void* buffer, uint32_t* size, int type)
{
    auto it = fake->frames.find(id);
    if (it == fake->frames.end() || fake->dataFails || type != 9)
        return -200;
    const size_t bytes = it->second.data.size() * sizeof(double);
    if (*size < bytes)
        return -4;
    std::memcpy(buffer, it->second.data.data(), bytes);
    *size = static_cast<uint32_t>(bytes);
    return 0;
}

int fGetFilteredFrame(int, uint32_t id, uint32_t* out)
{
    if (fake->filterFails || !fake->frames.count(id))
        return -208;
    FakeFrame copy = fake->frames[id];
    for (double& v : copy.data)
        v *= 2;
    fake->frames[fake->nextId] = copy;
    *out = fake->nextId++;
    return 0;
}

int fCloseFrame(uint32_t id, uint32_t*)
{
    return fake->frames.erase(id) ? 0 : -200;
}

int fLoadFrame(uint32_t* out, const char*)
{
    if (fake->loadFails)
        return -5;
    *out = fake->add(2, 2, {1, 2, 3, 4});
    return 0;
}

int fGetFrameAttrib(uint32_t id, const char* name, void* buffer, uint32_t* size, int* type)
{
    auto it = fake->frames.find(id);
    if (it == fake->frames.end())
        return -200;
    auto a = it->second.attribs.find(name);
    if (a == it->second.attribs.end())
        return -202;
    const uint32_t bytes = static_cast<uint32_t>(a->second.size() * sizeof(double));
    if (*size < bytes)
        return -4;
    std::memcpy(buffer, a->second.data(), bytes);
    *size = bytes;
    *type = 9;
    return 0;
}

int fSetFrameAttrib(uint32_t id, const char* name, const void* data, uint32_t size)
{
    auto it = fake->frames.find(id);
    if (it == fake->frames.end())
        return -200;
    auto a = it->second.attribs.find(name);
    if (a == it->second.attribs.end())
        return -202;
    a->second.assign(static_cast<const double*>(data), static_cast<const double*>(data) + size / sizeof(double));
    return 0;
}

int fAddFrameAttrib(uint32_t id, const char* name, const char*, int, const void* data, uint32_t count)
{
    auto it = fake->frames.find(id);
    if (it == fake->frames.end())
        return -200;
    it->second.attribs[name].assign(static_cast<const double*>(data), static_cast<const double*>(data) + count);
    return 0;
}

int fGetDevInfo(unsigned devIndex, _DevInfo* info)
{
    if (devIndex != 0)
        return -102;
    info->rowLength = fake->devRowLength;
    info->pixelCount = fake->devPixels;
    return 0;
}

_MgrFuncTable makeTable()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.mgrGetFrameSize = fGetFrameSize;
    t.mgrGetFrameData = fGetFrameData;
    t.mgrGetFilteredFrame = fGetFilteredFrame;
    t.mgrCloseFrame = fCloseFrame;
    t.mgrLoadFrame = fLoadFrame;
    t.mgrGetFrameAttrib = fGetFrameAttrib;
    t.mgrSetFrameAttrib = fSetFrameAttrib;
    t.mgrAddFrameAttrib = fAddFrameAttrib;
    t.tvkCtrlGetDevInfo = fGetDevInfo;
    return t;
}

// ---- a picture that records what it is given ----

class StubPicture : public PictureView {
public:
    void setImage(int w, int h, std::shared_ptr<const uint8_t[]> b, int s, bool reset) override
    {
        width = w;
        height = h;
        bits = std::move(b);
        stride = s;
        if (reset) {
            zoomRect = {0, 0, w, h};
            selectionRect = {};
        }
    }
    void setColorPalette(const ColorPalette* p) override { palette = p; }
    void setLevels(double mn, double mx) override
    {
        levelMin = mn;
        levelMax = mx;
    }
    void repaintNow() override { ++repaints; }
    PixelRect zoom() const override { return zoomRect; }
    PixelRect selection() const override { return selectionRect; }
    void setZoomAndSelection(const PixelRect& z, const PixelRect& s) override
    {
        zoomRect = z;
        selectionRect = s;
    }
    int saveEmf(const char*, int, int, int, int) override { return exportResult; }
    int saveBitmap(const char*, int, int, int, int) override { return exportResult; }
    void showMessage(const std::string& text) override { messages.push_back(text); }

    // (B, G, R) of image pixel (x, y), row 0 at the bottom.
    std::vector<int> pixel(int x, int y) const
    {
        const uint8_t* p = bits.get() + static_cast<size_t>(height - 1 - y) * stride + 3 * x;
        return {p[0], p[1], p[2]};
    }

    int width = 0, height = 0, stride = 0, repaints = 0, exportResult = 0;
    std::shared_ptr<const uint8_t[]> bits;
    const ColorPalette* palette = nullptr;
    double levelMin = 0, levelMax = 0;
    PixelRect zoomRect, selectionRect;
    std::vector<std::string> messages;
};

class PictureDataTest : public testing::Test {
protected:
    void SetUp() override { fake = &manager; }
    void TearDown() override { fake = nullptr; }

    FakeManager manager;
    _MgrFuncTable table = makeTable();
};

// ---- orientation ----

TEST_F(PictureDataTest, EveryOrientationShowsTheFramePixelThatToFramePointNames)
{
    // 3 x 2, distinct values: frame(x, y) = 10 y + x.
    const std::vector<double> frame = {0, 1, 2, 10, 11, 12};
    const uint32_t id = manager.add(3, 2, frame);
    const std::vector<uint16_t> frameMask = {1, 1, 0, 1, 1, 1}; // pixel (2, 0) masked
    for (int rotation : {0, 90, 180, 270})
        for (bool mirror : {false, true}) {
            SCOPED_TRACE(testing::Message() << rotation << (mirror ? " mirrored" : ""));
            PictureData model(&table);
            StubPicture picture;
            model.setPicture(&picture);
            ASSERT_EQ(model.showFrame(id), 0);
            ASSERT_EQ(model.addRegions(1), 0);
            ASSERT_TRUE(model.region(1)->setRect(1, 0, 2, 1)); // frame pixels (1, 0) and (2, 0)
            picture.selectionRect = {0, 1, 1, 1};               // frame pixel (0, 1)
            ASSERT_EQ(model.setMask(frameMask.data(), true, frameMask.size()), 0);
            ASSERT_EQ(model.setRotation(rotation), 0);
            if (mirror)
                model.toggleMirror();

            const int W = model.width(), H = model.height();
            EXPECT_EQ(W, rotation % 180 ? 2 : 3);
            EXPECT_EQ(picture.width, W);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    int fx = x, fy = y;
                    model.toFramePoint(fx, fy);
                    EXPECT_EQ(model.values()[y * W + x], frame[fy * 3 + fx]) << x << "," << y;
                    EXPECT_EQ(model.mask()[y * W + x], frameMask[fy * 3 + fx]) << x << "," << y;
                }
            std::vector<double> back(6);
            model.getFrameData(back.data());
            EXPECT_EQ(back, frame);

            PixelRect r = model.region(1)->rect();
            model.toFrameRect(r.x, r.y, r.w, r.h);
            EXPECT_EQ(r, (PixelRect{1, 0, 2, 1}));
            PixelRect s = picture.selectionRect;
            model.toFrameRect(s.x, s.y, s.w, s.h);
            EXPECT_EQ(s, (PixelRect{0, 1, 1, 1}));
            EXPECT_EQ(model.region(1)->max(), 1) << "the masked pixel is left out";

            // A new frame of the same size arrives in the same orientation, regions kept.
            const uint32_t second = manager.add(3, 2, {5, 6, 7, 8, 9, 10});
            ASSERT_EQ(model.showFrame(second), 0);
            model.getFrameData(back.data());
            EXPECT_EQ(back, (std::vector<double>{5, 6, 7, 8, 9, 10}));
            r = model.region(1)->rect();
            model.toFrameRect(r.x, r.y, r.w, r.h);
            EXPECT_EQ(r, (PixelRect{1, 0, 2, 1}));
        }
}

TEST_F(PictureDataTest, RotationStepsFromTheCurrentAngle)
{
    const uint32_t id = manager.add(3, 2, {0, 1, 2, 10, 11, 12});
    PictureData a(&table), b(&table);
    ASSERT_EQ(a.showFrame(id), 0);
    ASSERT_EQ(b.showFrame(id), 0);
    ASSERT_EQ(a.setRotation(90), 0);
    ASSERT_EQ(a.setRotation(180), 0); // a further quarter turn, not back from 0
    ASSERT_EQ(b.setRotation(180), 0);
    EXPECT_EQ(std::vector<double>(a.values(), a.values() + 6), std::vector<double>(b.values(), b.values() + 6));
    EXPECT_EQ(a.setRotation(45), -1);
    EXPECT_EQ(a.rotation(), 180);
}

TEST_F(PictureDataTest, QuarterTurnOfALongFrameGetsAnImageOfTheNewShape)
{
    std::vector<double> line(1000);
    for (int i = 0; i < 1000; ++i)
        line[i] = i;
    const uint32_t id = manager.add(1000, 1, line);
    PictureData model(&table);
    StubPicture picture;
    model.setPicture(&picture);
    model.setColorMap(ColorPalette::Gray);
    ASSERT_EQ(model.showFrame(id), 0);
    for (int angle : {90, 270, 0, 270}) {
        ASSERT_EQ(model.setRotation(angle), 0);
        model.setRange(0, 999, false, false); // renders every row: ASan sees any write past the image
        EXPECT_EQ(picture.width, model.width());
        EXPECT_EQ(picture.stride, (3 * picture.width + 3) & ~3);
    }
    EXPECT_EQ(picture.height, 1000);
    EXPECT_EQ(picture.pixel(0, 999), (std::vector<int>{255, 255, 255})) << "frame pixel 999 at the top";
}

// ---- rendering ----

TEST_F(PictureDataTest, RenderGivesEveryValueAnEntryOfTheTable)
{
    const uint32_t id = manager.add(8, 1, {0, 10, kNaN, kInf, -kInf, 10.0001, -1, 5});
    PictureData model(&table);
    StubPicture picture;
    model.setPicture(&picture);
    model.setColorMap(ColorPalette::Gray);
    ASSERT_EQ(model.showFrame(id), 0);
    const std::vector<int> green = {0, 255, 0}, red = {0, 0, 255}, white = {255, 255, 255}, black = {0, 0, 0};
    const struct {
        bool warnings;
        std::vector<std::vector<int>> expected;
    } cases[] = {
        {true, {black, white, green, red, green, red, green, {127, 127, 127}}},
        {false, {black, white, black, white, black, white, black, {127, 127, 127}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warnings ? "with warnings" : "without");
        model.setRange(0, 10, c.warnings, c.warnings);
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(picture.pixel(x, 0), c.expected[x]) << "pixel " << x;
    }
    EXPECT_EQ(picture.levelMin, 0);
    EXPECT_EQ(picture.levelMax, 10);

    // Bounds that leave no range, NaN bounds and ranges near the smallest doubles: black or clamped.
    const struct {
        double min, max;
        bool black;
    } ranges[] = {
        {5, 5, true}, {kNaN, 10, true}, {0, kNaN, true}, {10, 0, true},
        {0, 5e-324, false}, {-5e-13, 5e-13, false}, {-kInf, kInf, false},
    };
    for (const auto& r : ranges) {
        SCOPED_TRACE(testing::Message() << r.min << " .. " << r.max);
        model.setRange(r.min, r.max, false, false);
        for (int x = 0; r.black && x < 8; ++x)
            EXPECT_EQ(picture.pixel(x, 0), black);
    }
}

// Values on and beside every step edge (k x step, one ulp either way) go to the step their quotient
// names: the rendering and the histogram take no shortcut that moves a value by one step.
TEST_F(PictureDataTest, ValuesBesideStepEdgesLandInTheStepOfTheirQuotient)
{
    const struct {
        double min, max;
        int map;
    } cases[] = {
        {0, 300, ColorPalette::Gray}, {0.1, 0.7, ColorPalette::Jet}, {-1e6, 3e6, ColorPalette::Hot},
        {850, 1150, ColorPalette::Cool}, {-5e-13, 5e-13, ColorPalette::Gray}, {1e300, 1.7e308, ColorPalette::Gray},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << " .. " << c.max);
        PictureData model(&table);
        StubPicture picture;
        model.setPicture(&picture);
        ASSERT_EQ(model.setColorMap(c.map), 0);
        const int top = model.palette()->colorCount() - 1;
        const double step = (c.max - c.min) / top, binWidth = (c.max - c.min) / (RegionHistogram::kBinCount - 1);
        std::vector<double> values = {c.min, c.max, std::nextafter(c.max, -kInf)};
        for (double s : {step, binWidth})
            for (int k = 0; k <= top; ++k) {
                const double v = c.min + k * s;
                for (double w : {std::nextafter(v, -kInf), v, std::nextafter(v, kInf)})
                    if (w >= c.min && w <= c.max)
                        values.push_back(w);
            }
        ASSERT_EQ(model.showFrame(manager.add(static_cast<uint32_t>(values.size()), 1, values)), 0);
        model.setRange(c.min, c.max, false, false);
        std::vector<double> bins(RegionHistogram::kBinCount, 0);
        for (size_t x = 0; x < values.size(); ++x) {
            const double v = values[x];
            const double q = (v - c.min) / step;
            const int entry = v == c.max || q >= top ? top : static_cast<int>(q);
            const uint8_t* colour = model.palette()->entry(entry);
            ASSERT_EQ(picture.pixel(static_cast<int>(x), 0), (std::vector<int>{colour[0], colour[1], colour[2]}))
                << std::hexfloat << v << " should take entry " << entry;
            const double b = (v - c.min) / binWidth;
            bins[b >= RegionHistogram::kBinCount - 1 ? RegionHistogram::kBinCount - 1 : static_cast<int>(b)] += 1;
        }
        const RegionHistogram& h = model.region(0)->displayHistogram(c.min, c.max);
        EXPECT_EQ(std::vector<double>(h.bins(), h.bins() + RegionHistogram::kBinCount), bins);
        EXPECT_EQ(h.counted(), static_cast<int>(values.size()));
    }
}

TEST_F(PictureDataTest, MaskedPixelsTakeTheMaskColourAndLeaveTheStatistics)
{
    const uint32_t id = manager.add(2, 2, {1, 2, 3, 4});
    PictureData model(&table);
    StubPicture picture;
    model.setPicture(&picture);
    model.setColorMap(ColorPalette::Jet);
    ASSERT_EQ(model.showFrame(id), 0);
    const uint16_t mask[] = {0x100, 1, 1, 0}; // only the low byte counts: pixels 0 and 3 masked
    EXPECT_EQ(model.setMask(mask, true, 3), -1) << "a mask of another size";
    ASSERT_EQ(model.setMask(mask, true, 4), 0);
    model.setRange(0, 4, false, false);
    EXPECT_EQ(picture.pixel(0, 0), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(model.getRegionMin(0), 2);
    EXPECT_EQ(model.getRegionMax(0), 3);
    SelectionRegion* r = model.region(0);
    ASSERT_TRUE(r->setRect(0, 0, 1, 1)); // only a masked pixel
    EXPECT_EQ(r->min(), 0);
    EXPECT_EQ(r->max(), 0);
    EXPECT_EQ(r->total(), 0);
    EXPECT_EQ(r->mean(), 0);
    EXPECT_EQ(r->stdDev(), 0);
    ASSERT_EQ(model.setMask(nullptr, false, 0), 0);
    EXPECT_EQ(r->max(), 1);

    // A mask belongs to frames of its size: a frame of another size drops it, also one whose size matches
    // the turned display (the mask would otherwise lie across the new frame turned by a quarter).
    const struct {
        const char* name;
        int rotation;
        uint32_t nextWidth, nextHeight;
    } sizes[] = {{"another size", 0, 4, 2}, {"the turned display's size", 90, 2, 3}};
    for (const auto& c : sizes) {
        PictureData m(&table);
        ASSERT_EQ(m.showFrame(manager.add(3, 2, {1, 2, 3, 4, 5, 6})), 0) << c.name;
        const uint16_t six[] = {0, 1, 1, 1, 1, 1};
        ASSERT_EQ(m.setMask(six, true, 6), 0) << c.name;
        ASSERT_EQ(m.setRotation(c.rotation), 0) << c.name;
        const uint32_t next = manager.add(c.nextWidth, c.nextHeight, std::vector<double>(c.nextWidth * c.nextHeight, 7));
        ASSERT_EQ(m.showFrame(next), 0) << c.name;
        EXPECT_FALSE(m.maskOn()) << c.name;
        EXPECT_EQ(m.getRegionMin(0), 7) << c.name << ": no pixel masked";
    }
}

// ---- statistics ----

TEST_F(PictureDataTest, StatisticsOfConstantSpreadAndNaNRegions)
{
    PictureData model(&table);
    // A constant region: the standard deviation is exactly 0, never NaN from rounding.
    const uint32_t constant = manager.add(7, 3, std::vector<double>(21, 1e8 + 0.1));
    ASSERT_EQ(model.showFrame(constant), 0);
    EXPECT_EQ(model.region(0)->stdDev(), 0);
    EXPECT_DOUBLE_EQ(model.region(0)->mean(), 1e8 + 0.1);
    EXPECT_EQ(model.getRegionFractile(0.5, 0), 1e8 + 0.1);

    // 0..65535 once each: the 1 % fractile lies within one bin of 655.
    std::vector<double> ramp(65536);
    for (int i = 0; i < 65536; ++i)
        ramp[i] = i;
    ASSERT_EQ(model.showFrame(manager.add(256, 256, ramp)), 0);
    const double bin = 65535.0 / 255;
    EXPECT_NEAR(model.getRegionFractile(0.01, 0), 655, bin);
    EXPECT_NEAR(model.getRegionFractile(0.99, 0), 64880, bin);
    EXPECT_EQ(model.getRegionFractile(0, 0), 0);
    EXPECT_EQ(model.getRegionFractile(1, 0), 65535);
    EXPECT_NEAR(model.region(0)->stdDev(), 65536 / std::sqrt(12.0), 1);

    // NaN pixels are not binned: the fractile walks stay inside the bins.
    std::vector<double> holes(100, kNaN);
    holes[3] = 1;
    holes[50] = 2;
    ASSERT_EQ(model.showFrame(manager.add(10, 10, holes)), 0);
    for (double p : {0.01, 0.3, 0.5, 0.7, 0.99}) {
        const double f = model.getRegionFractile(p, 0);
        EXPECT_TRUE(f >= 1 && f <= 2) << p << " gives " << f;
    }
    EXPECT_EQ(model.getRegionMin(0), 1);
    EXPECT_EQ(model.getRegionMax(0), 2);
    EXPECT_EQ(model.getRegionMin(5), 0) << "no such region";

    // An infinite pixel (a filter that divided by 0) leaves no bins over the region's range: every
    // fractile is still a level within it, never NaN (which would paint the whole frame black).
    const struct {
        const char* name;
        std::vector<double> values;
    } infinite[] = {
        {"+inf", {1, 2, 3, kInf}},
        {"-inf", {-kInf, 1, 2, 3}},
        {"both", {-kInf, 1, kNaN, kInf}},
    };
    for (const auto& c : infinite) {
        ASSERT_EQ(model.showFrame(manager.add(4, 1, c.values)), 0) << c.name;
        for (double p : {0.01, 0.5, 0.95, 0.99}) {
            const double f = model.getRegionFractile(p, 0);
            EXPECT_TRUE(f >= model.getRegionMin(0) && f <= model.getRegionMax(0)) << c.name << ": " << p << " gives " << f;
        }
    }
}

TEST_F(PictureDataTest, DisplayHistogramCountsWhatLiesInItsRange)
{
    const uint32_t id = manager.add(5, 1, {0, 1, 2, 3, kNaN});
    PictureData model(&table);
    ASSERT_EQ(model.showFrame(id), 0);
    const RegionHistogram& h = model.region(0)->displayHistogram(1, 3);
    EXPECT_EQ(h.counted(), 3);
    EXPECT_EQ(h.bins()[0], 1);
    EXPECT_EQ(h.bins()[255], 1) << "the maximum lands in the last bin";
}

// ---- showing frames ----

TEST_F(PictureDataTest, FailingShowsLeaveTheStoreAndTheDisplayAsTheyWere)
{
    const uint32_t first = manager.add(2, 1, {1, 2});
    const uint32_t other = manager.add(3, 1, {4, 5, 6});
    PictureData model(&table);
    StubPicture picture;
    model.setPicture(&picture);
    model.setFilterChain(7);
    ASSERT_EQ(model.showFrame(first), 0);
    EXPECT_EQ(model.values()[1], 4) << "the filtered copy is shown";
    const size_t stored = manager.frames.size();

    const struct {
        const char* name;
        bool FakeManager::*fault;
    } faults[] = {{"data", &FakeManager::dataFails}, {"size", &FakeManager::sizeFails}};
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        manager.*f.fault = true;
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(model.showFrame(other), -1);
        manager.*f.fault = false;
        EXPECT_EQ(manager.frames.size(), stored) << "no copy left behind";
        EXPECT_EQ(model.width(), 2);
        EXPECT_EQ(model.values()[1], 4);
        EXPECT_EQ(picture.width, 2);
    }
    EXPECT_EQ(model.showFrame(999), -1);

    // A chain that fails shows the frame itself; the earlier copy is closed once replaced.
    manager.filterFails = true;
    ASSERT_EQ(model.showFrame(other), 0);
    EXPECT_EQ(model.values()[0], 4);
    EXPECT_EQ(manager.frames.size(), stored - 1);
}

TEST_F(PictureDataTest, NewSizeKeepsTheRegionCountAndRefusesHugeSizes)
{
    PictureData model(&table);
    ASSERT_EQ(model.bindDevice(0), 0);
    EXPECT_EQ(model.width(), 4);
    EXPECT_EQ(model.height(), 3);
    EXPECT_EQ(model.bindDevice(1), -1);
    EXPECT_EQ(model.bindDevice(-1), -1);
    ASSERT_EQ(model.addRegions(2), 0);
    ASSERT_EQ(model.showFrame(manager.add(5, 2, std::vector<double>(10, 1))), 0);
    EXPECT_EQ(model.regionCount(), 3);
    EXPECT_EQ(model.region(2)->rect(), (PixelRect{0, 0, 5, 2}));

    EXPECT_EQ(model.setSize(1 << 15, 1 << 14), -1); // 2^29 pixels
    EXPECT_EQ(model.setSize(-1, 5), -1);
    EXPECT_EQ(model.width(), 5) << "a refused size changes nothing";
    manager.frames[manager.nextId] = FakeFrame{1u << 15, 1u << 14, {}, {}};
    EXPECT_EQ(model.showFrame(manager.nextId++), -1);
}

TEST_F(PictureDataTest, CountRateAndFrameRangeAttributes)
{
    const uint32_t id = manager.add(2, 1, {10, 20});
    manager.frames[id].attribs["Acq time"] = {2.0};
    manager.frames[id].attribs["Preview range"] = {3, 7};
    const uint32_t bare = manager.add(2, 1, {10, 20});
    PictureData model(&table);
    model.setCountRate(true);
    model.setLoadFrameRange(true);
    model.setSaveFrameRange(true);
    ASSERT_EQ(model.showFrame(id), 0);
    EXPECT_EQ(model.values()[1], 10);
    EXPECT_TRUE(model.hasFrameRange());
    EXPECT_EQ(model.rangeMin(), 3);
    EXPECT_EQ(model.rangeMax(), 7);
    ASSERT_EQ(model.setRotation(90), 0);
    model.toggleMirror();
    ASSERT_EQ(model.showFrame(id), 0);
    EXPECT_EQ(std::vector<double>(model.values(), model.values() + 2), (std::vector<double>{5, 10}))
        << "turned and mirrored back to the frame's order, in counts per second";
    ASSERT_EQ(model.setRotation(0), 0);
    model.toggleMirror();
    ASSERT_EQ(model.showFrame(bare), 0);
    EXPECT_EQ(model.values()[1], 20) << "no acquisition time: unscaled";
    EXPECT_FALSE(model.hasFrameRange());
    EXPECT_EQ(model.setRange(1, 9, false, false), 0);
    EXPECT_EQ(manager.frames[bare].attribs["Preview range"], (std::vector<double>{1, 9})) << "added when missing";
    EXPECT_EQ(model.setRange(2, 8, false, false), 0);
    EXPECT_EQ(manager.frames[bare].attribs["Preview range"], (std::vector<double>{2, 8}));
}

TEST_F(PictureDataTest, LoadedFrameThatCannotBeShownIsClosed)
{
    PictureData model(&table);
    std::vector<std::string> boxes;
    model.setMessageHandler([&](const std::string& t) { boxes.push_back(t); });
    uint32_t loaded = 0;
    ASSERT_EQ(model.loadFrameFile("a.txt", &loaded), 0);
    EXPECT_NE(loaded, 0u);
    const size_t stored = manager.frames.size();
    manager.dataFails = true;
    EXPECT_EQ(model.loadFrameFile("b.txt", &loaded), -1);
    EXPECT_EQ(loaded, 0u);
    EXPECT_EQ(manager.frames.size(), stored);
    manager.dataFails = false;
    manager.loadFails = true;
    EXPECT_EQ(model.loadFrameFile("c.txt"), -1);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], "Reading frame from file \"c.txt\" failed");
}

// ---- saving ----

std::string scratch(const std::string& name)
{
    static const std::string dir = ombrel_test::scratchDir("uikit-core");
    return dir + "/" + name;
}

std::string readAll(const std::string& path)
{
    return ombrel_test::readFile(path);
}

TEST_F(PictureDataTest, TextExportKeepsEveryValueExactly)
{
    const uint32_t id = manager.add(3, 2, {1, 0.5, 1e-7, 0.1 + 0.2, 123456789, kNaN});
    PictureData model(&table);
    StubPicture picture;
    model.setPicture(&picture);
    ASSERT_EQ(model.showFrame(id), 0);
    const std::string path = scratch("frame.txt");
    ASSERT_EQ(model.saveImage(path.c_str(), 0, 0, 0, 0), 0); // no image format: text
    EXPECT_EQ(readAll(path), "1 0.5 1e-07\n0.30000000000000004 123456789 nan\n");

    // A failed export keeps the old file and says so.
    const std::string under = path + "/x.txt";
    EXPECT_EQ(model.saveText(under.c_str()), -1);
    ASSERT_EQ(picture.messages.size(), 1u);
    EXPECT_NE(picture.messages[0].find("Cannot open file \"" + under + "\" for writing: "), std::string::npos);

    // Image formats go to the picture; ".emf" has no writer; failures are told.
    const struct {
        const char* name;
        int pictureResult;
        int expected;
        size_t boxes;
    } cases[] = {
        {"a.png", 0, 0, 1}, {"a.svg", 0, 0, 1}, {"a.png", -1, -1, 2}, {"a.EMF", 0, -2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        picture.exportResult = c.pictureResult;
        EXPECT_EQ(model.saveImage(scratch(c.name).c_str(), 10, 10, 2, 7), c.expected);
        EXPECT_EQ(picture.messages.size(), c.boxes);
        if (c.boxes > 1) {
            EXPECT_EQ(picture.messages.back(), "Saving of image file failed.");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(scratch("a.EMF")));
    model.setPicture(nullptr);
    EXPECT_EQ(model.saveImage(path.c_str(), 1, 1, 0, 0), -1);
}

} // namespace
