#include "chart_image.h"

#include <cmath>
#include <limits>
#include <new>

namespace {

// Larger pictures are refused: 2^28 pixels are a gigabyte of pixel memory.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

template <typename T>
bool toPixels(const T* data, unsigned width, unsigned height, double min, double max,
              std::vector<uint32_t>& pixels, bool colorOutOfRange)
{
    const uint64_t count = uint64_t{width} * height;
    if (!data || count == 0 || count > kMaxPixels)
        return false;
    if (!(min < max) || !std::isfinite(min) || !std::isfinite(max)) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -std::numeric_limits<double>::infinity();
        for (uint64_t i = 0; i < count; ++i) {
            const double v = static_cast<double>(data[i]);
            if (std::isfinite(v)) {
                lo = std::fmin(lo, v);
                hi = std::fmax(hi, v);
            }
        }
        if (!(lo <= hi))
            lo = hi = 0.0;
        if (lo == hi) {
            lo -= 0.5;
            hi += 0.5;
        }
        min = lo;
        max = hi;
    }
    std::vector<uint32_t> out;
    try {
        out.resize(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const uint32_t below = colorOutOfRange ? kImageBlue : kImageBlack;
    const uint32_t above = colorOutOfRange ? kImageRed : kImageWhite;
    const double scale = 255.0 / (max - min);
    for (uint64_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(data[i]);
        if (!(v >= min)) { // NaN too
            out[i] = below;
        } else if (v > max) {
            out[i] = above;
        } else {
            const double g = (v - min) * scale;
            const uint32_t grey = g >= 255.0 ? 255u : g > 0.0 ? static_cast<uint32_t>(g) : 0u; // also NaN from an infinite range
            out[i] = 0xFF000000u | grey << 16 | grey << 8 | grey;
        }
    }
    pixels = std::move(out);
    return true;
}

} // namespace

bool chartImagePixels(const uint8_t* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange)
{
    return toPixels(data, width, height, min, max, pixels, colorOutOfRange);
}

bool chartImagePixels(const uint16_t* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange)
{
    return toPixels(data, width, height, min, max, pixels, colorOutOfRange);
}

bool chartImagePixels(const uint32_t* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange)
{
    return toPixels(data, width, height, min, max, pixels, colorOutOfRange);
}

bool chartImagePixels(const double* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange)
{
    return toPixels(data, width, height, min, max, pixels, colorOutOfRange);
}
