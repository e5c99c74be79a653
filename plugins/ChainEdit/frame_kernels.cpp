#include "frame_kernels.h"

#include <cstring>

#include "platform/numbers.h"

namespace chainedit {

bool cropFits(const CropRect& r, uint32_t width, uint32_t height)
{
    if (r.left < 1 || r.bottom < 1 || r.width < 1 || r.height < 1)
        return false;
    return int64_t(r.left) - 1 + r.width <= int64_t(width) && int64_t(r.bottom) - 1 + r.height <= int64_t(height);
}

void cropCopy(const void* src, uint32_t width, size_t elementSize, const CropRect& r, void* dst)
{
    const auto* from = static_cast<const unsigned char*>(src);
    auto* to = static_cast<unsigned char*>(dst);
    const size_t rowBytes = size_t(r.width) * elementSize;
    for (int32_t y = 0; y < r.height; ++y) {
        const size_t row = size_t(r.bottom - 1 + y);
        std::memcpy(to + size_t(y) * rowBytes, from + (row * width + size_t(r.left - 1)) * elementSize, rowBytes);
    }
}

// A clone for each vector width; the widest the processor has is picked when the library loads.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void countsToTime(double* data, size_t n, double clockMHz)
{
    const double factor = 1000.0 / clockMHz;
    for (size_t i = 0; i < n; ++i)
        data[i] *= factor;
}

double srnEnergy(double tot, double a, double b, double c, double t)
{
    if (!(tot > 0) || !(a > 0))
        return 0;
    const double B = b - a * t - tot;
    const double C = tot * t - b * t - c;
    const double D = B * B - 4 * a * C;
    if (!(D >= 0))
        return 0;
    const double s = std::sqrt(D);
    // The larger root (a > 0), in the form that does not subtract nearly equal numbers.
    const double e = B <= 0 ? (s - B) / (2 * a) : (2 * C) / (-B - s);
    return std::isfinite(e) ? e : 0;
}

void srnCalibrate(double* tot, const double* a, const double* b, const double* c, const double* t, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        tot[i] = srnEnergy(tot[i], a[i], b[i], c[i], t[i]);
}

namespace {

template <class T>
void maskPixels(T* data, const uint8_t* config, size_t n, T value)
{
    for (size_t i = 0; i < n; ++i)
        data[i] = (config[i] & 1) ? data[i] : value;
}

} // namespace

void applyMask(int16_t* data, const uint8_t* config, size_t n, int16_t value)
{
    maskPixels(data, config, n, value);
}

void applyMask(uint32_t* data, const uint8_t* config, size_t n, uint32_t value)
{
    maskPixels(data, config, n, value);
}

void applyMask(double* data, const uint8_t* config, size_t n, double value)
{
    maskPixels(data, config, n, value);
}

namespace {

// Whether v is the invalid value. Not-a-number never equals itself: as the invalid value it marks the
// pixels that are not numbers.
bool isInvalid(double v, double invalid)
{
    return v == invalid || (std::isnan(invalid) && std::isnan(v));
}

} // namespace

FrameSums frameSums(const double* data, size_t n, double invalid)
{
    FrameSums sums;
    for (size_t i = 0; i < n; ++i) {
        if (!isInvalid(data[i], invalid)) {
            sums.total += data[i];
            ++sums.counted;
        }
    }
    return sums;
}

std::string statisticsLine(const StatFields& fields, uint32_t recordIndex, const std::string& timeStamp,
                           const double* data, uint32_t width, uint32_t height, double invalid)
{
    const size_t n = size_t(width) * height;
    const FrameSums sums = frameSums(data, n, invalid);
    // Each field is followed by a tab except the last; an empty first field still takes its column.
    std::string line;
    bool first = true;
    auto add = [&](const std::string& field) {
        if (!first)
            line += '\t';
        line += field;
        first = false;
    };
    if (fields.recordIndex)
        add(std::to_string(recordIndex));
    if (fields.timeStamp)
        add(timeStamp);
    if (fields.mean)
        add(plat::formatDouble(sums.mean()));
    if (fields.total)
        add(plat::formatDouble(sums.total));
    if (fields.pixelCounts) {
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const double v = data[size_t(y) * width + x];
                if (isInvalid(v, invalid))
                    continue;
                if (fields.pixelPositions)
                    add(std::to_string(x) + " " + std::to_string(y) + " " + plat::formatDouble(v));
                else
                    add(plat::formatDouble(v));
            }
        }
    }
    return line;
}

} // namespace chainedit
