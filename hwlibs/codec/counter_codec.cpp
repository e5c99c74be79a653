#include "counter_codec.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#if defined(__x86_64__)
// GCC 12 warns of the deliberately undefined vectors inside its own 512-bit intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace codec {
namespace {

// ---- tables, built by the compiler ----

// Each table has one spare entry at its end, so that a vector gather of 32 bits at the last entry stays
// inside the table.
template <uint32_t Codes, uint32_t States>
struct Tables {
    std::array<uint16_t, Codes + 1> codeToCount{};
    std::array<uint16_t, States + 1> countToCode{};
};

template <uint32_t Codes, uint32_t States, int TapA, int TapB>
constexpr Tables<Codes, States> buildTables()
{
    Tables<Codes, States> t;
    for (auto& v : t.codeToCount)
        v = kBadValue;
    uint32_t code = Codes - 1;
    for (uint32_t count = 0; count < States; ++count) {
        t.countToCode[count] = static_cast<uint16_t>(code);
        t.codeToCount[code] = static_cast<uint16_t>(count);
        const uint32_t feedback = ((code >> TapA) ^ (code >> TapB)) & 1u;
        code = ((code << 1) & (Codes - 1)) | feedback;
    }
    return t;
}

constexpr auto kTables13 = buildTables<0x2000, 8001, 9, 12>();
constexpr auto kTables14 = buildTables<0x4000, 11811, 0, 13>();

static_assert(kTables13.countToCode[0] == 0x1FFF && kTables14.countToCode[0] == 0x3FFF);
static_assert(kTables13.codeToCount[0x1FFF] == 0 && kTables14.codeToCount[0x3FFF] == 0);

// Every code reached at most once: the sequences do not close before their last state.
template <typename T>
constexpr bool distinctCodes(const T& t)
{
    for (size_t count = 0; count + 1 < t.countToCode.size(); ++count)
        if (t.codeToCount[t.countToCode[count]] != count)
            return false;
    return true;
}
static_assert(distinctCodes(kTables13) && distinctCodes(kTables14));

struct TableView {
    const uint16_t* codeToCount;
    const uint16_t* countToCode;
    uint32_t codes;
    uint32_t states;
};

TableView tables(CounterWidth width)
{
    if (width == CounterWidth::Bits13)
        return {kTables13.codeToCount.data(), kTables13.countToCode.data(), 0x2000, 8001};
    return {kTables14.codeToCount.data(), kTables14.countToCode.data(), 0x4000, 11811};
}

// ---- conversions ----

// Looks up one value; a bad one becomes kBadValue and is noted in the report.
struct Converter {
    const uint16_t* table;
    uint32_t limit;
    ConvertReport* report;

    uint16_t operator()(uint16_t value, size_t index) const
    {
        const uint16_t out = value < limit ? table[value] : kBadValue;
        if (out == kBadValue) [[unlikely]]
            noteBad(value, index);
        return out;
    }
    // Converts n values into a different buffer; bad ones are looked for only when there was one.
    void run(const uint16_t* in, uint16_t* out, size_t n, size_t first) const
    {
        uint32_t anyBad = 0;
        for (size_t i = 0; i < n; ++i) {
            const uint16_t v = in[i];
            const uint16_t o = v < limit ? table[v] : kBadValue;
            out[i] = o;
            anyBad |= o == kBadValue;
        }
        if (anyBad) [[unlikely]]
            for (size_t i = 0; i < n; ++i)
                if (out[i] == kBadValue)
                    noteBad(in[i], first + i);
    }
    void noteBad(uint16_t value, size_t index) const
    {
        if (report->bad++ == 0) {
            report->firstBadIndex = index;
            report->firstBadValue = value;
        }
    }
};

Converter converter(Direction direction, CounterWidth width, ConvertReport* report)
{
    const TableView t = tables(width);
    if (direction == Direction::CodeToCount)
        return {t.codeToCount, t.codes, report};
    return {t.countToCode, t.states, report};
}

// ---- bit planes ----

constexpr size_t kPlaneBytes = 32;
constexpr size_t kGap13 = 8192; // the host's 13-bit blocks begin their rows here

constexpr int planeCount(CounterWidth width)
{
    return static_cast<int>(width);
}
constexpr size_t rowBytes(CounterWidth width)
{
    return kPlaneBytes * static_cast<size_t>(planeCount(width));
}

// Transposes an 8 x 8 bit matrix held as eight bytes (bit c of byte r <-> bit r of byte c).
inline uint64_t transpose8(uint64_t x)
{
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

// Byte j of a stream whose block [begin, end) is moved by shift bits (toward the end when positive): the
// bits that come in from outside the block are the stream's own neighbouring bits, so a block edge loses
// nothing; outside the stream they are zero.
inline uint8_t shiftedByte(const uint8_t* stream, size_t size, long shift, size_t j)
{
    const long q = shift >= 0 ? shift / 8 : -((-shift + 7) / 8);
    const int r = static_cast<int>(shift - q * 8); // 0..7
    auto at = [&](long i) -> unsigned { return i >= 0 && static_cast<size_t>(i) < size ? stream[i] : 0u; };
    const long src = static_cast<long>(j) - q;
    if (r == 0)
        return static_cast<uint8_t>(at(src));
    return static_cast<uint8_t>((at(src - 1) << (8 - r)) | (at(src) >> r));
}

// Moves the block at stream[at, at + size) by shift bits (|shift| < 8) in place. The bits moved out of
// it are merged into the neighbouring byte of the stream where the stream has one, so that the chip
// whose bits they are still finds them there: the neighbour must be zero in those bits (the next block's
// leading gap, a chip's leading byte, or padding after the last block).
void shiftBlock(uint8_t* stream, size_t size, size_t at, size_t blockSize, long shift)
{
    uint8_t* block = stream + at;
    if (shift > 0) {
        if (at + blockSize < size)
            stream[at + blockSize] |= static_cast<uint8_t>(block[blockSize - 1] << (8 - shift));
        for (size_t j = blockSize; j-- > 0;)
            block[j] = shiftedByte(block, blockSize, shift, j);
    } else if (shift < 0) {
        if (at > 0)
            stream[at - 1] |= static_cast<uint8_t>(block[0] >> (8 + shift));
        for (size_t j = 0; j < blockSize; ++j)
            block[j] = shiftedByte(block, blockSize, shift, j);
    }
}

// One row of codes from its planes (plane k at (planes - 1 - k) x 32), eight columns at a time.
void unpackRowScalar(const uint8_t* row, int planes, uint16_t* codes)
{
    const uint8_t* plane[14];
    for (int k = 0; k < planes; ++k)
        plane[k] = row + static_cast<size_t>(planes - 1 - k) * kPlaneBytes;
    for (size_t b = 0; b < kPlaneBytes; ++b) {
        uint64_t lo = 0, hi = 0;
        for (int k = 0; k < 8; ++k)
            lo |= uint64_t{plane[k][b]} << (8 * k);
        for (int k = 8; k < planes; ++k)
            hi |= uint64_t{plane[k][b]} << (8 * (k - 8));
        // Byte c of the transpose holds bit c of every plane, i.e. column 7 - c.
        lo = __builtin_bswap64(transpose8(lo));
        hi = __builtin_bswap64(transpose8(hi));
        for (int c = 0; c < 8; ++c)
            codes[b * 8 + c] = static_cast<uint16_t>(((lo >> (8 * c)) & 0xFF) | (((hi >> (8 * c)) & 0xFF) << 8));
    }
}

// One row of codes into its planes.
void packRowScalar(const uint16_t* codes, int planes, uint8_t* row)
{
    uint8_t* plane[14];
    for (int k = 0; k < planes; ++k)
        plane[k] = row + static_cast<size_t>(planes - 1 - k) * kPlaneBytes;
    for (size_t b = 0; b < kPlaneBytes; ++b) {
        uint64_t lo = 0, hi = 0;
        for (int c = 0; c < 8; ++c) {
            const uint64_t v = codes[b * 8 + c];
            lo |= (v & 0xFF) << (8 * (7 - c));
            hi |= ((v >> 8) & 0xFF) << (8 * (7 - c));
        }
        lo = transpose8(lo);
        hi = transpose8(hi);
        for (int k = 0; k < 8; ++k)
            plane[k][b] = static_cast<uint8_t>(lo >> (8 * k));
        for (int k = 8; k < planes; ++k)
            plane[k][b] = static_cast<uint8_t>(hi >> (8 * (k - 8)));
    }
}

#if defined(__x86_64__)
// The same with 256-bit vectors, 32 columns at a time: each column's bit of a plane is spread to a byte
// (shuffle, mask, compare), the planes are merged into a low and a high byte per column.
[[gnu::target("avx2")]] void unpackRowAvx2(const uint8_t* row, int planes, uint16_t* codes)
{
    // Byte j of each 128-bit half takes plane byte j / 8 of its half's two bytes.
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, //
                                            2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
    const __m256i bitOf = _mm256_set1_epi64x(static_cast<long long>(0x0102040810204080ull));
    for (size_t group = 0; group < 8; ++group) {
        __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
        for (int k = 0; k < planes; ++k) {
            uint32_t four;
            std::memcpy(&four, row + static_cast<size_t>(planes - 1 - k) * kPlaneBytes + group * 4, 4);
            const __m256i bytes = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(four)), spread);
            const __m256i set = _mm256_cmpeq_epi8(_mm256_and_si256(bytes, bitOf), bitOf);
            const __m256i weight = _mm256_set1_epi8(static_cast<char>(1u << (k & 7)));
            if (k < 8)
                lo = _mm256_or_si256(lo, _mm256_and_si256(set, weight));
            else
                hi = _mm256_or_si256(hi, _mm256_and_si256(set, weight));
        }
        // Columns 0-7, 8-15 | 16-23, 24-31 -> 0-7, 16-23 | 8-15, 24-31, so that unpacking keeps the order.
        lo = _mm256_permute4x64_epi64(lo, 0xD8);
        hi = _mm256_permute4x64_epi64(hi, 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(codes + group * 32), _mm256_unpacklo_epi8(lo, hi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(codes + group * 32 + 16), _mm256_unpackhi_epi8(lo, hi));
    }
}

[[gnu::target("avx2")]] void packRowAvx2(const uint16_t* codes, int planes, uint8_t* row)
{
    // Within each eight columns the order is reversed, so that the mask of a byte has column 0 on top.
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, //
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i lowByte = _mm256_set1_epi16(0xFF);
    for (size_t group = 0; group < 8; ++group) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + group * 32));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + group * 32 + 16));
        // packus works per 128-bit half: a0 b0 | a1 b1; the permute restores a0 a1 b0 b1.
        __m256i lo = _mm256_packus_epi16(_mm256_and_si256(a, lowByte), _mm256_and_si256(b, lowByte));
        __m256i hi = _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
        lo = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(lo, 0xD8), reverse);
        hi = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(hi, 0xD8), reverse);
        for (int k = 0; k < planes; ++k) {
            const __m256i src = k < 8 ? lo : hi;
            const int shift = 7 - (k & 7);
            const uint32_t mask = static_cast<uint32_t>(
                _mm256_movemask_epi8(_mm256_sll_epi16(src, _mm_cvtsi32_si128(shift))));
            std::memcpy(row + static_cast<size_t>(planes - 1 - k) * kPlaneBytes + group * 4, &mask, 4);
        }
    }
}

// With 512-bit vectors and mask registers a plane's bits are masks: one masked add per plane sets that
// bit in the codes (reading) and one bit test per plane gives the plane (writing); the table lookup is a
// gather, run by the host's fast paths in the same pass (no per-pixel branch). Within a plane byte the
// columns run from the top bit down, so vector lanes are in mask order and one permutation puts them in
// column order (the order is its own inverse: it swaps column 8a + b with 8a + 7 - b).

// 32 16-bit values through a table of 16-bit entries (with its spare entry).
[[gnu::target("avx512f,avx512bw")]] inline __m512i lookup32(__m512i index, const uint16_t* table)
{
    const __m512i lo = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(index)), table, 2);
    const __m512i hi = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(index, 1)), table, 2);
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(lo)), _mm512_cvtepi32_epi16(hi), 1);
}

// The codes of 64 columns as two vectors of 32: each plane's 64 bits set its bit in a low or a high
// byte per column, and one byte permutation per 32 columns joins the bytes into words in column order.
struct Codes64 {
    __m512i first, second;
};
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline Codes64 codesOf64(const uint8_t* row, int planes, size_t at)
{
    alignas(64) static const auto join = [] {
        std::array<uint8_t, 128> idx{};
        for (int c = 0; c < 64; ++c) {
            const int lane = (c & ~7) | (7 - (c & 7));
            idx[2 * c] = static_cast<uint8_t>(lane);
            idx[2 * c + 1] = static_cast<uint8_t>(64 + lane);
        }
        return idx;
    }();
    __m512i lo = _mm512_setzero_si512(), hi = _mm512_setzero_si512();
    for (int k = 0; k < planes; ++k) {
        uint64_t bits;
        std::memcpy(&bits, row + static_cast<size_t>(planes - 1 - k) * kPlaneBytes + at, 8);
        if (k < 8)
            lo = _mm512_mask_add_epi8(lo, bits, lo, _mm512_set1_epi8(static_cast<char>(1 << k)));
        else
            hi = _mm512_mask_add_epi8(hi, bits, hi, _mm512_set1_epi8(static_cast<char>(1 << (k - 8))));
    }
    return {_mm512_permutex2var_epi8(lo, _mm512_loadu_si512(join.data()), hi),
            _mm512_permutex2var_epi8(lo, _mm512_loadu_si512(join.data() + 64), hi)};
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void unpackRowAvx512(const uint8_t* row, int planes, uint16_t* codes)
{
    for (size_t at = 0; at < kPlaneBytes; at += 8) {
        const Codes64 c = codesOf64(row, planes, at);
        _mm512_storeu_si512(codes + at * 8, c.first);
        _mm512_storeu_si512(codes + at * 8 + 32, c.second);
    }
}

// One row of counts from its planes; true when a code had no count (it reads as kBadValue).
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] bool decodeRowAvx512(const uint8_t* row, int planes, const uint16_t* table,
                                                          uint16_t* counts)
{
    const __m512i bad = _mm512_set1_epi16(static_cast<short>(kBadValue));
    __mmask32 anyBad = 0;
    for (size_t at = 0; at < kPlaneBytes; at += 8) {
        const Codes64 c = codesOf64(row, planes, at);
        const __m512i first = lookup32(c.first, table), second = lookup32(c.second, table);
        anyBad |= _mm512_cmpeq_epi16_mask(first, bad) | _mm512_cmpeq_epi16_mask(second, bad);
        _mm512_storeu_si512(counts + at * 8, first);
        _mm512_storeu_si512(counts + at * 8 + 32, second);
    }
    return anyBad != 0;
}

// The planes of 64 codes (two vectors of 32, column order): a byte permutation gathers the codes'
// low and high bytes in mask order, then each plane's 64 bits are one bit test.
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] inline void planesOf64(__m512i first, __m512i second, int planes,
                                                                      uint8_t* row, size_t at)
{
    alignas(64) static const auto split = [] {
        std::array<uint8_t, 128> idx{};
        for (int j = 0; j < 64; ++j) {
            const int column = (j & ~7) | (7 - (j & 7));
            idx[j] = static_cast<uint8_t>(2 * column);
            idx[64 + j] = static_cast<uint8_t>(2 * column + 1);
        }
        return idx;
    }();
    const __m512i lo = _mm512_permutex2var_epi8(first, _mm512_load_si512(split.data()), second);
    const __m512i hi = _mm512_permutex2var_epi8(first, _mm512_load_si512(split.data() + 64), second);
    for (int k = 0; k < planes; ++k) {
        const uint64_t bits = _mm512_test_epi8_mask(k < 8 ? lo : hi, _mm512_set1_epi8(static_cast<char>(1 << (k & 7))));
        std::memcpy(row + static_cast<size_t>(planes - 1 - k) * kPlaneBytes + at, &bits, 8);
    }
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] void packRowAvx512(const uint16_t* codes, int planes, uint8_t* row)
{
    for (size_t at = 0; at < kPlaneBytes; at += 8)
        planesOf64(_mm512_loadu_si512(codes + at * 8), _mm512_loadu_si512(codes + at * 8 + 32), planes, row, at);
}

// The codes of 32 counts; a bad count (noted in *anyBad) looks up count 0, then becomes all ones.
[[gnu::target("avx512f,avx512bw")]] inline __m512i codesOfCounts(const uint16_t* counts, int planes,
                                                                  const uint16_t* table, uint32_t states,
                                                                  __mmask32* anyBad)
{
    const __m512i count = _mm512_loadu_si512(counts);
    const __mmask32 bad = _mm512_cmpgt_epu16_mask(count, _mm512_set1_epi16(static_cast<short>(states - 1)));
    *anyBad |= bad;
    const __m512i allOnes = _mm512_set1_epi16(static_cast<short>((1u << planes) - 1));
    return _mm512_mask_mov_epi16(lookup32(_mm512_maskz_mov_epi16(~bad, count), table), bad, allOnes);
}

// One row of counts into its planes; true when a count had no code (it is sent as the all-ones code).
[[gnu::target("avx512f,avx512bw,avx512vbmi")]] bool encodeRowAvx512(const uint16_t* counts, int planes,
                                                                     const uint16_t* table, uint32_t states,
                                                                     uint8_t* row)
{
    __mmask32 anyBad = 0;
    for (size_t at = 0; at < kPlaneBytes; at += 8) {
        const __m512i first = codesOfCounts(counts + at * 8, planes, table, states, &anyBad);
        planesOf64(first, codesOfCounts(counts + at * 8 + 32, planes, table, states, &anyBad), planes, row, at);
    }
    return anyBad != 0;
}

bool detectAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
bool detectAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}
detail::Vectors widest()
{
    return detectAvx512() ? detail::Vectors::Avx512 : detectAvx2() ? detail::Vectors::Avx2 : detail::Vectors::Plain;
}
#else
detail::Vectors widest()
{
    return detail::Vectors::Plain;
}
#endif
std::atomic<detail::Vectors> gVectors{widest()};

detail::Vectors vectors()
{
    return gVectors.load(std::memory_order_relaxed);
}

void unpackRow(const uint8_t* row, int planes, uint16_t* codes)
{
#if defined(__x86_64__)
    if (vectors() == detail::Vectors::Avx512)
        return unpackRowAvx512(row, planes, codes);
    if (vectors() == detail::Vectors::Avx2)
        return unpackRowAvx2(row, planes, codes);
#endif
    unpackRowScalar(row, planes, codes);
}

void packRow(const uint16_t* codes, int planes, uint8_t* row)
{
#if defined(__x86_64__)
    if (vectors() == detail::Vectors::Avx512)
        return packRowAvx512(codes, planes, row);
    if (vectors() == detail::Vectors::Avx2)
        return packRowAvx2(codes, planes, row);
#endif
    packRowScalar(codes, planes, row);
}

// Where the blocks of a stream begin, where the rows begin within a block, and how far a block is moved.
struct Geometry {
    size_t firstBlock;
    size_t block;
    size_t rowsAt;
    long shiftBase; // block i is moved by shiftSign x i + shiftBase bits
    long shiftSign;
};

Geometry geometry(size_t chips, CounterWidth width, Layout layout)
{
    const size_t block = blockBytes(width);
    const bool bits13 = width == CounterWidth::Bits13;
    if (layout == Layout::ToReadout)
        return {1, block, bits13 ? kGap13 : 0, 0, bits13 ? 1 : 0};
    // The host moves block i by (1 - i) before reading, so the readout sends it moved by (i - 1).
    if (bits13 && chips > 1)
        return {chips, block, 0, -1, 1};
    return {chips, block, 0, 0, 0};
}

// Writes the stream's first streamSize() bytes; a bit moved past the last block goes into the byte after
// it when the caller's buffer (size bytes) has one.
template <typename PackRow>
void packStream(const uint16_t* values, size_t chips, CounterWidth width, Layout layout, uint8_t* stream,
                size_t size, PackRow packRowOf)
{
    const Geometry g = geometry(chips, width, layout);
    const size_t used = streamSize(chips, width, layout);
    std::memset(stream, 0, used);
    if (size > used)
        stream[used] = 0;
    if (layout == Layout::ToReadout)
        stream[0] = 0xFF;
    for (size_t chip = 0; chip < chips; ++chip) {
        uint8_t* block = stream + g.firstBlock + chip * g.block;
        for (size_t row = 0; row < kRowsPerChip; ++row) {
            const size_t first = (chip * kRowsPerChip + row) * 256;
            packRowOf(values + first, block + g.rowsAt + row * rowBytes(width), first);
        }
    }
    // From the last block to the first: a block moved toward the end spills into the next one, which has
    // already been moved (only block 0 is ever moved toward the start, into the leading bytes).
    for (size_t chip = chips; chip-- > 0;)
        shiftBlock(stream, std::min(size, used + 1), g.firstBlock + chip * g.block, g.block,
                   g.shiftSign * static_cast<long>(chip) + g.shiftBase);
}

template <typename UnpackRow>
void unpackStream(const uint8_t* stream, size_t size, size_t chips, CounterWidth width, Layout layout,
                  uint16_t* values, UnpackRow unpackRowOf)
{
    const Geometry g = geometry(chips, width, layout);
    const size_t rb = rowBytes(width);
    uint8_t moved[14 * kPlaneBytes];
    for (size_t chip = 0; chip < chips; ++chip) {
        const size_t blockAt = g.firstBlock + chip * g.block;
        const uint8_t* block = stream + blockAt;
        // Undo the sender's move: read the block moved back, bits from beyond its edges included.
        const long shift = -(g.shiftSign * static_cast<long>(chip) + g.shiftBase);
        for (size_t row = 0; row < kRowsPerChip; ++row) {
            const size_t at = g.rowsAt + row * rb;
            const uint8_t* src = block + at;
            if (shift != 0) {
                for (size_t j = 0; j < rb; ++j)
                    moved[j] = shiftedByte(stream, size, shift, blockAt + at + j);
                src = moved;
            }
            const size_t first = (chip * kRowsPerChip + row) * 256;
            unpackRowOf(src, values + first, first);
        }
    }
}

bool sizesOk(size_t values, size_t stream, size_t chips, CounterWidth width, Layout layout)
{
    if (chips == 0 || chips > (SIZE_MAX / 2) / (kBlockBytes14 + 1))
        return false;
    return values >= chips * kPixelsPerChip && stream >= streamSize(chips, width, layout);
}

} // namespace

namespace detail {
bool vectorsAvailable(Vectors v)
{
#if defined(__x86_64__)
    return v == Vectors::Plain || (v == Vectors::Avx2 && detectAvx2()) || (v == Vectors::Avx512 && detectAvx512());
#else
    return v == Vectors::Plain;
#endif
}
void useVectors(Vectors v)
{
    gVectors = vectorsAvailable(v) ? v : widest();
}
} // namespace detail

uint16_t codeToCount(CounterWidth width, uint16_t code)
{
    const TableView t = tables(width);
    return code < t.codes ? t.codeToCount[code] : kBadValue;
}

uint16_t countToCode(CounterWidth width, uint16_t count)
{
    const TableView t = tables(width);
    return count < t.states ? t.countToCode[count] : kBadValue;
}

bool convertCodes(std::span<uint16_t> values, Direction direction, CounterWidth width, ConvertReport* report)
{
    ConvertReport local;
    ConvertReport& r = report ? *report : local;
    r = {};
    const Converter convert = converter(direction, width, &r);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = convert(values[i], i);
    return r.bad == 0;
}

size_t streamSize(size_t chips, CounterWidth width, Layout layout)
{
    return (layout == Layout::ToReadout ? 1 : chips) + chips * blockBytes(width);
}

bool streamFromMatrix(std::span<const uint16_t> codes, size_t chips, CounterWidth width, Layout layout,
                      std::span<uint8_t> stream)
{
    if (!sizesOk(codes.size(), stream.size(), chips, width, layout))
        return false;
    const uint16_t mask = static_cast<uint16_t>(codeCount(width) - 1);
    const int planes = planeCount(width);
    packStream(codes.data(), chips, width, layout, stream.data(), stream.size(),
               [&](const uint16_t* in, uint8_t* row, size_t) {
                   alignas(64) uint16_t masked[256];
                   for (size_t i = 0; i < 256; ++i)
                       masked[i] = static_cast<uint16_t>(in[i] & mask);
                   packRow(masked, planes, row);
               });
    return true;
}

bool matrixFromStream(std::span<const uint8_t> stream, size_t chips, CounterWidth width, Layout layout,
                      std::span<uint16_t> codes)
{
    if (!sizesOk(codes.size(), stream.size(), chips, width, layout))
        return false;
    const int planes = planeCount(width);
    unpackStream(stream.data(), stream.size(), chips, width, layout, codes.data(),
                 [&](const uint8_t* row, uint16_t* out, size_t) { unpackRow(row, planes, out); });
    return true;
}

bool encodeMatrix(std::span<const uint16_t> counts, size_t chips, CounterWidth width, std::span<uint8_t> stream,
                  StreamReport* report)
{
    StreamReport local;
    StreamReport& r = report ? *report : local;
    r = {};
    if (!sizesOk(counts.size(), stream.size(), chips, width, Layout::ToReadout)) {
        r.sizeOk = false;
        return false;
    }
    const Converter convert = converter(Direction::CountToCode, width, &r);
    const TableView t = tables(width);
    const uint16_t mask = static_cast<uint16_t>(codeCount(width) - 1);
    const int planes = planeCount(width);
    const bool wide = vectors() == detail::Vectors::Avx512;
    // A bad count is sent as the all-ones code of the width.
    packStream(counts.data(), chips, width, Layout::ToReadout, stream.data(), stream.size(),
               [&](const uint16_t* in, uint8_t* row, size_t first) {
#if defined(__x86_64__)
                   if (wide) {
                       if (encodeRowAvx512(in, planes, t.countToCode, t.states, row)) [[unlikely]]
                           for (size_t i = 0; i < 256; ++i)
                               if (in[i] >= t.states)
                                   convert.noteBad(in[i], first + i);
                       return;
                   }
#endif
                   alignas(64) uint16_t codes[256];
                   convert.run(in, codes, 256, first);
                   for (size_t i = 0; i < 256; ++i)
                       codes[i] &= mask;
                   packRow(codes, planes, row);
               });
    return r.ok();
}

bool decodeMatrix(std::span<const uint8_t> stream, size_t chips, CounterWidth width, std::span<uint16_t> counts,
                  StreamReport* report)
{
    StreamReport local;
    StreamReport& r = report ? *report : local;
    r = {};
    if (!sizesOk(counts.size(), stream.size(), chips, width, Layout::FromReadout)) {
        r.sizeOk = false;
        return false;
    }
    const Converter convert = converter(Direction::CodeToCount, width, &r);
    const TableView t = tables(width);
    const int planes = planeCount(width);
    const bool wide = vectors() == detail::Vectors::Avx512;
    unpackStream(stream.data(), stream.size(), chips, width, Layout::FromReadout, counts.data(),
                 [&](const uint8_t* row, uint16_t* out, size_t first) {
#if defined(__x86_64__)
                     if (wide) {
                         if (decodeRowAvx512(row, planes, t.codeToCount, out)) [[unlikely]] {
                             alignas(64) uint16_t codes[256];
                             unpackRowAvx512(row, planes, codes);
                             for (size_t i = 0; i < 256; ++i)
                                 if (out[i] == kBadValue)
                                     convert.noteBad(codes[i], first + i);
                         }
                         return;
                     }
#endif
                     alignas(64) uint16_t codes[256];
                     unpackRow(row, planes, codes);
                     convert.run(codes, out, 256, first);
                 });
    return r.ok();
}

uint64_t timerTicks(double seconds, int clockSetting)
{
    const double f = clockSetting == 2 ? 8e6 : 20e6;
    if (!(seconds >= 0)) // negative and NaN
        seconds = 1.0;
    const double ticks = std::floor(f * (seconds - 5.3e-6));
    if (!(ticks >= 1))
        return 1;
    if (ticks >= static_cast<double>(kMaxTimerTicks))
        return kMaxTimerTicks;
    return static_cast<uint64_t>(ticks);
}

double timerSeconds(uint64_t ticks, int clockSetting)
{
    return static_cast<double>(ticks) * (clockSetting == 2 ? 1.25e-7 : 5e-8);
}

void putTimer48(uint8_t out[6], uint64_t ticks)
{
    for (int i = 0; i < 6; ++i)
        out[i] = static_cast<uint8_t>(ticks >> (8 * i));
}

uint64_t getTimer48(const uint8_t in[6])
{
    uint64_t ticks = 0;
    for (int i = 0; i < 6; ++i)
        ticks |= uint64_t{in[i]} << (8 * i);
    return ticks;
}

std::string formatChipboardId(char letter, unsigned number, unsigned wafer)
{
    if (letter == 0)
        return "000-W000";
    char text[64];
    std::snprintf(text, sizeof text, "%c%02u-W%04u", letter, number, wafer);
    return text;
}

} // namespace codec
