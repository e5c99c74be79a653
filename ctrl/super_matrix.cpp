#include "super_matrix.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace supermatrix {

namespace {

constexpr uint32_t kChipSide = 256;
constexpr uint32_t kChipPixels = kChipSide * kChipSide;

// Reversing the order of the elements of a 16-byte block with the baseline vector instructions: the four
// 32-bit lanes are reversed by one shuffle; 16-bit elements then swap within each lane, bytes within each
// 16-bit half. (A direct shuffle of 16- or 8-bit elements has no baseline instruction.)
typedef uint32_t U32x4 __attribute__((vector_size(16)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef uint64_t U64x2 __attribute__((vector_size(16)));

template <size_t Size>
inline U32x4 reversedBlock(U32x4 v)
{
    if constexpr (Size == 8) {
        U64x2 w;
        std::memcpy(&w, &v, sizeof w);
#ifdef __clang__ // the fuzz build
        w = __builtin_shufflevector(w, w, 1, 0);
#else
        w = __builtin_shuffle(w, U64x2{1, 0});
#endif
        std::memcpy(&v, &w, sizeof v);
        return v;
    } else {
#ifdef __clang__
        v = __builtin_shufflevector(v, v, 3, 2, 1, 0);
#else
        v = __builtin_shuffle(v, U32x4{3, 2, 1, 0});
#endif
        if constexpr (Size <= 2)
            v = (v << 16) | (v >> 16);
        if constexpr (Size == 1) {
            U16x8 h;
            std::memcpy(&h, &v, sizeof h);
            h = static_cast<U16x8>((h << 8) | (h >> 8));
            std::memcpy(&v, &h, sizeof v);
        }
        return v;
    }
}

// out[i] = in[255 - i] for one chip row, 16 bytes at a time.
template <class T>
void reverseRow(const T* in, T* out)
{
    constexpr uint32_t kPerBlock = 16 / sizeof(T);
    for (uint32_t i = 0; i < kChipSide; i += kPerBlock) {
        U32x4 v;
        std::memcpy(&v, in + kChipSide - kPerBlock - i, sizeof v);
        v = reversedBlock<sizeof(T)>(v);
        std::memcpy(out + i, &v, sizeof v);
    }
}

// Every matrix row is two chip rows: the upper half reversed rows of chips 1 and 0, the lower half plain
// rows of chips 2 and 3. Row-wise copies keep the conversion a single pass at memory speed.
template <class T>
void rowsToMatrix(const T* chips, T* matrix)
{
    for (uint32_t y = 0; y < kChipSide; ++y) {
        T* out = matrix + y * kSide;
        reverseRow(chips + 1 * kChipPixels + y * kChipSide, out);
        reverseRow(chips + 0 * kChipPixels + y * kChipSide, out + kChipSide);
    }
    for (uint32_t y = kChipSide; y < kSide; ++y) {
        T* out = matrix + y * kSide;
        const uint32_t row = kSide - 1 - y;
        std::memcpy(out, chips + 2 * kChipPixels + row * kChipSide, kChipSide * sizeof(T));
        std::memcpy(out + kChipSide, chips + 3 * kChipPixels + row * kChipSide, kChipSide * sizeof(T));
    }
}

template <class T>
void rowsFromMatrix(const T* matrix, T* chips)
{
    for (uint32_t y = 0; y < kChipSide; ++y) {
        const T* in = matrix + y * kSide;
        reverseRow(in, chips + 1 * kChipPixels + y * kChipSide);
        reverseRow(in + kChipSide, chips + 0 * kChipPixels + y * kChipSide);
    }
    for (uint32_t y = kChipSide; y < kSide; ++y) {
        const T* in = matrix + y * kSide;
        const uint32_t row = kSide - 1 - y;
        std::memcpy(chips + 2 * kChipPixels + row * kChipSide, in, kChipSide * sizeof(T));
        std::memcpy(chips + 3 * kChipPixels + row * kChipSide, in + kChipSide, kChipSide * sizeof(T));
    }
}

template <template <class> class Op, class In, class Out>
bool dispatch(In in, Out out, size_t elementSize)
{
    switch (elementSize) {
    case 1: Op<uint8_t>::run(in, out); return true;
    case 2: Op<uint16_t>::run(in, out); return true;
    case 4: Op<uint32_t>::run(in, out); return true;
    case 8: Op<uint64_t>::run(in, out); return true;
    default: return false;
    }
}

template <class T>
struct ToMatrix {
    static void run(const void* chips, void* matrix)
    {
        rowsToMatrix(static_cast<const T*>(chips), static_cast<T*>(matrix));
    }
};

template <class T>
struct FromMatrix {
    static void run(const void* matrix, void* chips)
    {
        rowsFromMatrix(static_cast<const T*>(matrix), static_cast<T*>(chips));
    }
};

} // namespace

const uint32_t* map()
{
    static const std::unique_ptr<uint32_t[]> table = [] {
        std::unique_ptr<uint32_t[]> t(new uint32_t[kPixels]);
        for (uint32_t chip = 0; chip < kChips; ++chip)
            for (uint32_t row = 0; row < kChipSide; ++row)
                for (uint32_t column = 0; column < kChipSide; ++column)
                    t[indexOfChipPixel(chip, row, column)] = chip * kChipPixels + row * kChipSide + column;
        return t;
    }();
    return table.get();
}

bool toMatrix(const void* chips, void* matrix, size_t elementSize)
{
    return dispatch<ToMatrix>(chips, matrix, elementSize);
}

bool fromMatrix(const void* matrix, void* chips, size_t elementSize)
{
    return dispatch<FromMatrix>(matrix, chips, elementSize);
}

} // namespace supermatrix
