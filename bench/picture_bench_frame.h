// The frame the picture benchmarks show: 512 x 512 Poisson counts around 1000, served as doubles through
// a manager table; a picture that only keeps the rendered image; the display model's refresh as the
// preview runs it after each frame (a quarter turn, a mirror, three regions, fractile levels).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "uikit/picture_data.h"

namespace bench {

constexpr uint32_t kSide = 512;
constexpr size_t kPixels = size_t(kSide) * kSide;

inline const std::vector<double>& frameValues()
{
    static const std::vector<double> values = [] {
        std::vector<double> v(kPixels);
        std::mt19937 rng(3);
        std::poisson_distribution<int> counts(1000);
        for (double& x : v)
            x = counts(rng);
        return v;
    }();
    return values;
}

inline int getSize(uint32_t, uint32_t* w, uint32_t* h)
{
    *w = *h = kSide;
    return 0;
}

inline int getData(uint32_t, void* buffer, uint32_t* size, int)
{
    std::memcpy(buffer, frameValues().data(), kPixels * sizeof(double));
    *size = uint32_t(kPixels * sizeof(double));
    return 0;
}

class NullPicture : public PictureView {
public:
    void setImage(int w, int h, std::shared_ptr<const uint8_t[]> b, int, bool reset) override
    {
        bits = std::move(b);
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
    std::shared_ptr<const uint8_t[]> bits;
    PixelRect zoomRect;
};

// Jet, frame 1 shown, a quarter turn and a mirror, regions 1 and 2 beside the whole frame.
inline void setUpRefresh(PictureData& model)
{
    model.setColorMap(ColorPalette::Jet);
    model.showFrame(1);
    model.setRotation(90);
    model.toggleMirror();
    model.addRegions(2);
    model.region(1)->setRect(64, 64, 384, 384);
    model.region(2)->setRect(100, 200, 50, 60);
}

// One refresh: the frame fetched again, the statistics of the three regions, levels at the 1 % and 99 %
// fractiles and the rendering.
inline void refreshOnce(PictureData& model)
{
    model.showFrame(1);
    double sum = 0;
    for (int r = 0; r < 3; ++r)
        sum += model.getRegionMin(r) + model.getRegionMax(r) + model.region(r)->stdDev();
    const double lo = model.getRegionFractile(0.01, 0), hi = model.getRegionFractile(0.99, 0);
    model.setRange(lo, hi, true, true);
    benchmark::DoNotOptimize(sum);
}

} // namespace bench
