// The preview's level, histogram, statistics and label rules over a display model fed by a stub manager:
// slider <-> level, the automatic ranges, the locks, a frame's stored range, the frame-number clamp, the
// service-frame ranges and the labels of a turned zoom.
#include "preview_view.h"

#include <cstring>
#include <map>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kTypeDouble = 9;

struct StubFrames {
    std::vector<double> data; // 10 x 10: value = index
    bool withRange = false;
    double range[2] = {3, 7};
    double acqTime = 0; // 0: no "Acq time"
};
StubFrames* stub = nullptr;

int getSize(uint32_t, uint32_t* w, uint32_t* h)
{
    *w = 10;
    *h = 10;
    return 0;
}
int getData(uint32_t, void* buffer, uint32_t* size, int)
{
    std::memcpy(buffer, stub->data.data(), stub->data.size() * sizeof(double));
    *size = uint32_t(stub->data.size() * sizeof(double));
    return 0;
}
int getAttrib(uint32_t, const char* name, void* value, uint32_t* size, int* type)
{
    *type = kTypeDouble;
    if (std::strcmp(name, "Preview range") == 0 && stub->withRange && *size >= sizeof stub->range) {
        std::memcpy(value, stub->range, sizeof stub->range);
        *size = sizeof stub->range;
        return 0;
    }
    if (std::strcmp(name, "Acq time") == 0 && stub->acqTime != 0 && *size >= sizeof(double)) {
        std::memcpy(value, &stub->acqTime, sizeof(double));
        *size = sizeof(double);
        return 0;
    }
    return -1;
}

struct ZoomPicture : PictureView {
    void setImage(int w, int h, std::shared_ptr<const uint8_t[]>, int, bool reset) override
    {
        if (reset)
            zoomRect = {0, 0, w, h};
    }
    void setColorPalette(const ColorPalette*) override {}
    void setLevels(double, double) override {}
    void repaintNow() override {}
    PixelRect zoom() const override { return zoomRect; }
    PixelRect selection() const override { return {}; }
    void setZoomAndSelection(const PixelRect& z, const PixelRect&) override { zoomRect = z; }
    int saveEmf(const char*, int, int, int, int) override { return 0; }
    int saveBitmap(const char*, int, int, int, int) override { return 0; }
    void showMessage(const std::string&) override {}
    PixelRect zoomRect;
};

class PreviewViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        frames.data.resize(100);
        for (size_t i = 0; i < 100; ++i)
            frames.data[i] = double(i);
        stub = &frames;
        mgr.mgrGetFrameSize = getSize;
        mgr.mgrGetFrameData = getData;
        mgr.mgrGetFrameAttrib = getAttrib;
        model.setPicture(&picture);
        model.setColorMap(0);
        model.setLoadFrameRange(true);
        ASSERT_EQ(model.showFrame(1), 0);
        ASSERT_EQ(model.addRegions(2), 0);
    }
    void TearDown() override { model.setPicture(nullptr); }

    StubFrames frames;
    _MgrFuncTable mgr{};
    PictureData model{&mgr};
    ZoomPicture picture;
    PreviewSettings settings;
    PreviewView view{model, settings};
};

TEST(PreviewRules, SliderAndLevel)
{
    const struct {
        double value, lo, hi;
        int position;
    } cases[] = {
        {0, 0, 512, 0},    {256, 0, 512, 256}, {512, 0, 512, 512}, {-5, 0, 512, 0},
        {900, 0, 512, 512}, {5, 5, 5, 0} /* flat region */,   {15, 10, 20, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(sliderFromLevel(c.value, c.lo, c.hi), c.position);
    }
    EXPECT_EQ(levelFromSlider(256, 10, 20), 15);
    EXPECT_EQ(levelFromSlider(0, 10, 20), 10);
    EXPECT_EQ(levelFromSlider(512, 10, 20), 20);
}

TEST(PreviewRules, FrameNumbersAndServiceFrames)
{
    const struct {
        long long typed;
        int count, shown;
    } frames[] = {{0, 3, 1}, {-4, 3, 1}, {2, 3, 2}, {3, 3, 3}, {99, 3, 3}, {1LL << 40, 3, 3}};
    for (const auto& c : frames)
        EXPECT_EQ(clampFrameNumber(c.typed, c.count), c.shown) << c.typed;

    const struct {
        int slot, chipType;
        double max;
        bool available;
    } service[] = {
        {kServiceMask, 1, 1, true}, {kServiceTest, 3, 1, true},  {kServiceThl, 3, 15, true},
        {kServiceThl, 1, 7, true},  {kServiceThh, 1, 7, true},   {kServiceThh, 3, 7, false},
        {kServiceMode, 3, 3, true}, {kServiceMode, 2, 3, false},
    };
    for (const auto& c : service) {
        SCOPED_TRACE(testing::Message() << c.slot << " on " << c.chipType);
        EXPECT_EQ(serviceFrameMaxLevel(c.slot, c.chipType), c.max);
        EXPECT_EQ(serviceFrameAvailable(c.slot, c.chipType), c.available);
    }
    const int intervals[] = {1000, 500, 200, 100, 50, 0, 0};
    for (int m = 0; m < 7; ++m)
        EXPECT_EQ(autoUpdateIntervalMs(m), intervals[m]);
}

TEST_F(PreviewViewTest, AutomaticRangesOverTheWholeFrameOrTheZoom)
{
    const struct {
        int type;
        bool zoom;
        double min, max;
    } cases[] = {
        {0, false, 0, 99},
        {0, true, 22, 77}, // zoom x 2..7, y 2..7: values 22..77
        {1, false, 0, 98},
        {2, false, 5, 94},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " zoom " << c.zoom);
        picture.zoomRect = c.zoom ? PixelRect{2, 2, 6, 6} : PixelRect{0, 0, 10, 10};
        ASSERT_TRUE(model.region(1)->setRect(picture.zoomRect));
        settings.autoRange = 1;
        settings.autoRangeType = c.type;
        view.applyRange(false);
        // fractiles come from 256 bins over 0..99: within a bin or two of the exact value
        EXPECT_NEAR(settings.min, c.min, 1.0);
        EXPECT_NEAR(settings.max, c.max, 1.0);
        EXPECT_TRUE(view.minEditStale() && view.maxEditStale());
        EXPECT_EQ(view.sliderMin(), sliderFromLevel(settings.min, 0, 99));
    }
}

TEST_F(PreviewViewTest, LocksFrameRangeAndFocus)
{
    // Unlocked: the sliders follow the levels (stored ones: a frame's own range does not replace them).
    settings.min = 0;
    settings.max = 49.5;
    settings.levelsGiven = true;
    view.applyRange(true);
    EXPECT_EQ(view.sliderMin(), 0);
    EXPECT_EQ(view.sliderMax(), 256);

    // A moved slider locks, and the level follows it from then on.
    view.sliderMoved(true, 512);
    EXPECT_EQ(settings.maxSliderLocked, 1);
    EXPECT_EQ(settings.max, 99);
    frames.data[99] = 199; // a new frame with a larger range: the locked level follows the slider
    ASSERT_EQ(model.showFrame(1), 0);
    view.applyRange(true);
    EXPECT_EQ(settings.max, 199);
    EXPECT_EQ(settings.min, 0);

    // A frame's stored range wins when not kept, and the focused edit is not rewritten.
    frames.withRange = true;
    ASSERT_EQ(model.showFrame(1), 0);
    view.setEditFocus(true, false);
    view.applyRange(false);
    EXPECT_EQ(settings.min, 3);
    EXPECT_EQ(settings.max, 7);
    EXPECT_FALSE(view.minEditStale());
    EXPECT_TRUE(view.maxEditStale());
    settings.min = 1;
    view.applyRange(true);
    EXPECT_EQ(settings.min, 1) << "keep took the frame's range";
}

TEST_F(PreviewViewTest, HistogramOfTheStatisticsRegionOverTheLevels)
{
    settings.min = 10;
    settings.max = 19;
    settings.histRefine = 1;
    view.buildHistogram();
    const HistogramView& h = view.histogram();
    ASSERT_TRUE(h.valid);
    ASSERT_EQ(h.bins.size(), 256u);
    double counted = 0;
    for (double b : h.bins)
        counted += b;
    EXPECT_EQ(counted, 10); // values 10..19
    EXPECT_EQ(h.xMin, 10);
    EXPECT_EQ(h.xMax, 19);
    EXPECT_DOUBLE_EQ(h.binWidth, 9.0 / 256);

    settings.histRefine = 0; // the whole frame's range, the x range still the levels
    view.buildHistogram();
    EXPECT_EQ(view.histogram().start, 0);
    EXPECT_DOUBLE_EQ(view.histogram().binWidth, 99.0 / 256);
    EXPECT_EQ(view.histogram().xMax, 19);

    const struct {
        bool selection;
        PixelRect zoom;
        int region;
        const char* min;
    } regions[] = {{false, {0, 0, 10, 10}, 0, "0"}, {false, {2, 2, 6, 6}, 1, "22"}, {true, {2, 2, 6, 6}, 2, "55"}};
    ASSERT_TRUE(model.region(2)->setRect(5, 5, 2, 2));
    for (const auto& r : regions) {
        picture.zoomRect = r.zoom;
        ASSERT_TRUE(model.region(1)->setRect(r.zoom));
        view.setSelectionShown(r.selection);
        EXPECT_EQ(view.statsRegion(), r.region);
        view.computeStatistics();
        EXPECT_EQ(view.statistics()[0], r.min);
    }
}

TEST_F(PreviewViewTest, ZoomLabelsFollowTheTurn)
{
    const struct {
        int rotation;
        PixelRect zoom;
        ZoomLabels labels;
    } cases[] = {
        {0, {0, 0, 10, 10}, {"1", "10", "1", "10", "X (column number)", "Y"}},
        {0, {2, 3, 4, 5}, {"3", "6", "4", "8", "X (column number)", "Y"}},
        {90, {2, 3, 4, 5}, {"3", "7", "3", "6", "Y (row number)", "X"}},
        {180, {0, 0, 1, 1}, {"10", "10", "10", "10", "X (column number)", "Y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rotation);
        ASSERT_EQ(model.setRotation(c.rotation), 0);
        EXPECT_EQ(zoomLabels(model, c.zoom), c.labels);
    }
}

TEST_F(PreviewViewTest, ServiceFrameLevelsAndTime)
{
    settings.autoRange = 1;
    settings.minSliderLocked = 1;
    view.serviceLevels(kServiceThl, 3);
    EXPECT_EQ(settings.autoRange, 0);
    view.applyRange(false);
    EXPECT_EQ(settings.min, 0);
    EXPECT_EQ(settings.max, 15);
    EXPECT_EQ(view.timeText(), "Time:");
    frames.acqTime = 0.25;
    ASSERT_EQ(model.showFrame(1), 0);
    EXPECT_EQ(view.timeText(), "Time: 0.25 s");
}

} // namespace
