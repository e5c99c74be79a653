// Values of a matrix turned into the pixels of a grey-scale picture. Free of Qt.
#pragma once

#include <cstdint>
#include <vector>

// Pixels as 0xFFRRGGBB (32-bit RGB, opaque).
inline constexpr uint32_t kImageBlue = 0xFF0000FFu;
inline constexpr uint32_t kImageRed = 0xFFFF0000u;
inline constexpr uint32_t kImageBlack = 0xFF000000u;
inline constexpr uint32_t kImageWhite = 0xFFFFFFFFu;

// Grey = 255 (v - min) / (max - min). min >= max (or a bound that is not finite) takes the range of the
// finite data, widened by 0.5 on both sides when it is one value. Values below the range (and NaN) are
// blue, above it red; with colorOutOfRange off, black and white. False, with pixels untouched, when the
// data is null, a side is 0 or the size does not fit in memory.
bool chartImagePixels(const uint8_t* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange = true);
bool chartImagePixels(const uint16_t* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange = true);
bool chartImagePixels(const uint32_t* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange = true);
bool chartImagePixels(const double* data, unsigned width, unsigned height, double min, double max,
                      std::vector<uint32_t>& pixels, bool colorOutOfRange = true);
