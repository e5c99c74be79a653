// The 512 x 512 super matrix of a 4-chip device and its map to chip-ordered data.
//
// Chip-ordered data hold chip c at indices c x 65536 .. c x 65536 + 65535, each chip row-major 256 x 256.
// Super-matrix pixel k = y x 512 + x comes from chip-ordered index map[k]:
//   y < 256,  x < 256:  chip 1, row y,       column 255 - x
//   y < 256,  x >= 256: chip 0, row y,       column 511 - x
//   y >= 256, x < 256:  chip 2, row 511 - y, column x
//   y >= 256, x >= 256: chip 3, row 511 - y, column x - 256
#pragma once

#include <cstddef>
#include <cstdint>

namespace supermatrix {

constexpr uint32_t kSide = 512;
constexpr uint32_t kPixels = kSide * kSide; // 262144
constexpr uint32_t kChips = 4;

// The map as a table of kPixels entries, built once per process (thread-safe); map()[0] is 65791.
const uint32_t* map();

// Super-matrix index of pixel (row, column) of chip (0..3).
inline uint32_t indexOfChipPixel(uint32_t chip, uint32_t row, uint32_t column)
{
    switch (chip) {
    case 0: return row * kSide + (511 - column);
    case 1: return row * kSide + (255 - column);
    case 2: return (511 - row) * kSide + column;
    default: return (511 - row) * kSide + 256 + column;
    }
}

// matrix[k] = chips[map[k]] for all kPixels elements of elementSize bytes (1, 2, 4 or 8); false for any
// other size. The buffers must not overlap.
bool toMatrix(const void* chips, void* matrix, size_t elementSize);
// chips[map[k]] = matrix[k].
bool fromMatrix(const void* matrix, void* chips, size_t elementSize);

} // namespace supermatrix
