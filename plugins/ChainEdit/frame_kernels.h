// The arithmetic of the built-in filters on plain buffers, without the manager: the filters run these on a
// frame's data, and the benchmarks time them beside their library baselines. Free functions without state;
// any thread.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

namespace chainedit {

// The quad layout: four 256 x 256 chips in a 512 x 512 frame, and the 516 x 516 picture in which the
// chips' inner border pixels (columns and rows 255 and 256, which are larger on the sensor) cover three
// pixels each.
inline constexpr uint32_t kQuadSide = 512;
inline constexpr uint32_t kQuad516Side = 516;

// One element divided by d: integers truncate toward zero (i16 signed, u32 unsigned), doubles divide.
template <class T>
inline T divideBy(T value, uint32_t d)
{
    if constexpr (std::is_floating_point_v<T>)
        return value / static_cast<T>(d);
    else if constexpr (std::is_signed_v<T>)
        return static_cast<T>(static_cast<int32_t>(value) / static_cast<int32_t>(d));
    else
        return static_cast<T>(value / d);
}

// One destination row of 516 from a source row of 512: ordinary columns divided by edge, the two centre
// columns divided by centre and spread over three columns each.
template <class T>
void quad516Row(const T* src, T* dst, uint32_t edge, uint32_t centre)
{
    if (edge == 1) {
        for (uint32_t x = 0; x < 255; ++x)
            dst[x] = src[x];
        for (uint32_t x = 257; x < 512; ++x)
            dst[x + 4] = src[x];
    } else {
        for (uint32_t x = 0; x < 255; ++x)
            dst[x] = divideBy(src[x], edge);
        for (uint32_t x = 257; x < 512; ++x)
            dst[x + 4] = divideBy(src[x], edge);
    }
    const T left = divideBy(src[255], centre);
    const T right = divideBy(src[256], centre);
    dst[255] = dst[256] = dst[257] = left;
    dst[258] = dst[259] = dst[260] = right;
}

// The 516 x 516 picture of a 512 x 512 quad frame: the centre rows and columns divided by d (3 distributes
// a count over its three pixels, 1 duplicates it), the four centre pixels by d x d.
template <class T>
void quad516(const T* src, T* dst, uint32_t d)
{
    for (uint32_t y = 0; y < 255; ++y)
        quad516Row(src + size_t(y) * kQuadSide, dst + size_t(y) * kQuad516Side, 1, d);
    for (uint32_t k = 0; k < 3; ++k) {
        quad516Row(src + size_t(255) * kQuadSide, dst + size_t(255 + k) * kQuad516Side, d, d * d);
        quad516Row(src + size_t(256) * kQuadSide, dst + size_t(258 + k) * kQuad516Side, d, d * d);
    }
    for (uint32_t y = 257; y < 512; ++y)
        quad516Row(src + size_t(y) * kQuadSide, dst + size_t(y + 4) * kQuad516Side, 1, d);
}

// A crop rectangle in 1-based frame coordinates; bottom 1 is the frame's row 0 (the picture's bottom row).
struct CropRect {
    int32_t left = 1;
    int32_t bottom = 1;
    int32_t width = 100;
    int32_t height = 100;
};

// Whether the rectangle has a size of at least 1 x 1 and lies inside a width x height frame.
bool cropFits(const CropRect& r, uint32_t width, uint32_t height);

// Copies the rectangle (which must fit) out of a frame of width elements of elementSize bytes a row, row
// order kept.
void cropCopy(const void* src, uint32_t width, size_t elementSize, const CropRect& r, void* dst);

// Counts to time in ns: every value x 1000 / clockMHz (clockMHz > 0).
void countsToTime(double* data, size_t n, double clockMHz);

// The energy of one pixel from its time over threshold under the model TOT(E) = a E + b - c / (E - t): the
// larger root of a E^2 + (b - a t - TOT) E + (TOT t - b t - c) = 0. 0 when TOT <= 0, a <= 0, the roots are
// not real or the result is not finite.
double srnEnergy(double tot, double a, double b, double c, double t);
void srnCalibrate(double* tot, const double* a, const double* b, const double* c, const double* t, size_t n);

// Sum and number of the values that differ from invalid (a not-a-number invalid: the values that are numbers).
struct FrameSums {
    double total = 0;
    size_t counted = 0;
    double mean() const { return counted ? total / double(counted) : 0.0; }
};
FrameSums frameSums(const double* data, size_t n, double invalid);

// What one statistics line holds, in this order.
struct StatFields {
    bool recordIndex = true;
    bool timeStamp = true;
    bool mean = true;
    bool total = true;
    bool pixelCounts = false;
    bool pixelPositions = false; // with pixelCounts: "x y count" instead of the count
};
// One tab-separated line (no line end) of a width x height frame of doubles.
std::string statisticsLine(const StatFields& fields, uint32_t recordIndex, const std::string& timeStamp,
                           const double* data, uint32_t width, uint32_t height, double invalid);

// The value that masked pixels get in a frame of element type T: integers rounded and clamped to T's range
// (not-a-number gives 0), doubles unchanged.
template <class T>
T maskValueAs(double value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(value);
    } else {
        if (std::isnan(value))
            return 0;
        const double r = std::round(value);
        if (r <= double(std::numeric_limits<T>::min()))
            return std::numeric_limits<T>::min();
        if (r >= double(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        return static_cast<T>(r);
    }
}

// Every pixel whose configuration byte has bit 0 (pixel enabled) clear gets value.
void applyMask(int16_t* data, const uint8_t* config, size_t n, int16_t value);
void applyMask(uint32_t* data, const uint8_t* config, size_t n, uint32_t value);
void applyMask(double* data, const uint8_t* config, size_t n, double value);

} // namespace chainedit
