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

template <uint32_t Codes, uint32_t States>
struct Tables {
    std::array<uint16_t, Codes> codeToCount{};
    std::array<uint16_t, States> countToCode{};
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
    for (size_t count = 0; count < t.countToCode.size(); ++count)
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

// Looks up a row of 256 values that are all inside the table. One narrow load and store per value and
// nothing else: on the processors at hand this beats vector gathers, and packing results into wider
// stores (which the compiler would otherwise do) or checking them on the way costs more than it saves.
[[gnu::noinline, gnu::optimize("no-tree-vectorize")]] void lookupRow(const uint16_t* in, const uint16_t* table,
                                                                     uint16_t* out)
{
#pragma GCC unroll 16
    for (size_t i = 0; i < 256; ++i)
        out[i] = table[in[i]];
}

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

// Byte j of the block block[0, size) moved by shift bits (toward the end when positive): the bits that
// come in from outside the block are zero, the bits moved out of it are lost.
inline uint8_t shiftedByte(const uint8_t* block, size_t size, long shift, size_t j)
{
    const long q = shift >= 0 ? shift / 8 : -((-shift + 7) / 8);
    const int r = static_cast<int>(shift - q * 8); // 0..7
    auto at = [&](long i) -> unsigned { return i >= 0 && static_cast<size_t>(i) < size ? block[i] : 0u; };
    const long src = static_cast<long>(j) - q;
    if (r == 0)
        return static_cast<uint8_t>(at(src));
    return static_cast<uint8_t>((at(src - 1) << (8 - r)) | (at(src) >> r));
}

// Moves the block block[0, size) by shift bits (|shift| < 8) in place, within itself: vacated bits are
// zero, the bits moved past its edge are lost. Nothing outside the block is touched, so the leading bytes
// and every other block keep what they hold.
void shiftBlock(uint8_t* block, size_t size, long shift)
{
    if (shift > 0) {
        for (size_t j = size; j-- > 0;)
            block[j] = shiftedByte(block, size, shift, j);
    } else if (shift < 0) {
        for (size_t j = 0; j < size; ++j)
            block[j] = shiftedByte(block, size, shift, j);
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

// With 512-bit vectors, byte permutations and the GF(2) affine instruction: a row is seen as 16 planes
// of 32 bytes in stream order, N0 .. N15, N(16 - planes + i) being the i-th plane of the row and the
// missing ones zero; N0 .. N7 carry the codes' high bytes, N8 .. N15 their low bytes. For each plane
// byte b the eight planes of a half give an 8 x 8 bit matrix (byte m = N(8h + m)[b]); one affine
// instruction transposes all eight matrices of a vector, which turns the planes' bytes into the codes'
// bytes of columns 8b .. 8b + 7 and back. Byte permutations move the bytes between the two orders.
#define OMBREL_GFNI [[gnu::target("avx512f,avx512bw,avx512vbmi,gfni")]]

// The affine instruction's operand that makes it a transposition: byte j selects bit 7 - j.
constexpr long long kTransposeSelect = 0x0102040810204080ll;

template <size_t N, typename F>
constexpr std::array<uint8_t, N> indexTable(F f)
{
    std::array<uint8_t, N> t{};
    for (size_t i = 0; i < N; ++i)
        t[i] = static_cast<uint8_t>(f(i));
    return t;
}

// Decoding: dword p = (lane L, place q) of a pair of planes' vector gathers bytes m = 0 .. 3 of plane
// byte b = 2L + q (q < 2) or 8 + 2L + q - 2, so that interleaving the dwords of two such vectors gives
// the matrices of b = 0 .. 7 and of 8 .. 15 in order; the second table does the same for b + 16.
constexpr uint32_t gatherPlace(size_t p)
{
    const uint32_t lane = static_cast<uint32_t>(p / 4), q = static_cast<uint32_t>(p % 4);
    return q < 2 ? 2 * lane + q : 8 + 2 * lane + q - 2;
}
alignas(64) constexpr auto kGatherLow = indexTable<64>([](size_t i) {
    const size_t m = i % 4;
    return (m >= 2 ? 64 : 0) + (m & 1) * 32 + gatherPlace(i / 4);
});
alignas(64) constexpr auto kGatherHigh = indexTable<64>([](size_t i) {
    const size_t m = i % 4;
    return (m >= 2 ? 64 : 0) + (m & 1) * 32 + gatherPlace(i / 4) + 16;
});
// Words of 32 columns from the low (first operand) and high bytes of eight matrices: the first or the
// second half of them.
alignas(64) constexpr auto kJoinFirst = indexTable<64>([](size_t i) { return (i & 1) * 64 + i / 2; });
alignas(64) constexpr auto kJoinSecond = indexTable<64>([](size_t i) { return (i & 1) * 64 + 32 + i / 2; });
// Encoding: the low or the high bytes of 64 codes (two vectors), in column order.
alignas(64) constexpr auto kSplitLow = indexTable<64>([](size_t i) { return 2 * i; });
alignas(64) constexpr auto kSplitHigh = indexTable<64>([](size_t i) { return 2 * i + 1; });
// Bytes m = 0 .. 3 (first table) or 4 .. 7 of the matrices of 16 plane bytes (two vectors of eight),
// plane by plane: byte 16m' + b takes byte m of matrix b.
alignas(64) constexpr auto kPlanesFirst = indexTable<64>([](size_t i) { return (i % 16) * 8 + i / 16; });
alignas(64) constexpr auto kPlanesSecond = indexTable<64>([](size_t i) { return (i % 16) * 8 + 4 + i / 16; });
// Two planes of 32 bytes from the quarters of two vectors of 16-byte plane pieces (b 0 .. 15 and
// 16 .. 31): planes 0 and 1 or 2 and 3 of the four.
alignas(64) constexpr uint64_t kPairFirst[8] = {0, 1, 8, 9, 2, 3, 10, 11};
alignas(64) constexpr uint64_t kPairSecond[8] = {4, 5, 12, 13, 6, 7, 14, 15};

OMBREL_GFNI inline __m512i loadIndex(const std::array<uint8_t, 64>& t)
{
    return _mm512_load_si512(t.data());
}

// Planes N(2i), N(2i + 1) of a row of the width, stream plane `first` + 2i being N(2i); missing planes
// (before the row) are zero.
template <int First>
OMBREL_GFNI inline __m512i loadPlanePair(const uint8_t* row, int i)
{
    const int at = First + 2 * i;
    if (at >= 0)
        return _mm512_loadu_si512(row + at * kPlaneBytes);
    if (at == -1)
        return _mm512_inserti64x4(_mm512_setzero_si512(),
                                  _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row)), 1);
    return _mm512_setzero_si512();
}

template <int First>
OMBREL_GFNI inline void storePlanePair(uint8_t* row, int i, __m512i pair)
{
    const int at = First + 2 * i;
    if (at >= 0)
        _mm512_storeu_si512(row + at * kPlaneBytes, pair);
    else if (at == -1)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row), _mm512_extracti64x4_epi64(pair, 1));
}

// The 32 matrices (b = 0 .. 31, four vectors) of eight planes starting at stream plane First.
template <int First>
OMBREL_GFNI inline void matricesOf(const uint8_t* row, __m512i out[4])
{
    const __m512i z0 = loadPlanePair<First>(row, 0), z1 = loadPlanePair<First>(row, 1);
    const __m512i z2 = loadPlanePair<First>(row, 2), z3 = loadPlanePair<First>(row, 3);
    const __m512i low = loadIndex(kGatherLow), high = loadIndex(kGatherHigh);
    const __m512i a = _mm512_permutex2var_epi8(z0, low, z1), b = _mm512_permutex2var_epi8(z2, low, z3);
    const __m512i c = _mm512_permutex2var_epi8(z0, high, z1), d = _mm512_permutex2var_epi8(z2, high, z3);
    const __m512i select = _mm512_set1_epi64(kTransposeSelect);
    out[0] = _mm512_gf2p8affine_epi64_epi8(select, _mm512_unpacklo_epi32(a, b), 0);
    out[1] = _mm512_gf2p8affine_epi64_epi8(select, _mm512_unpackhi_epi32(a, b), 0);
    out[2] = _mm512_gf2p8affine_epi64_epi8(select, _mm512_unpacklo_epi32(c, d), 0);
    out[3] = _mm512_gf2p8affine_epi64_epi8(select, _mm512_unpackhi_epi32(c, d), 0);
}

// The eight planes starting at stream plane First from their 32 matrices.
template <int First>
OMBREL_GFNI inline void storeMatrices(uint8_t* row, const __m512i in[4])
{
    const __m512i first = loadIndex(kPlanesFirst), second = loadIndex(kPlanesSecond);
    const __m512i t0 = _mm512_permutex2var_epi8(in[0], first, in[1]);
    const __m512i t1 = _mm512_permutex2var_epi8(in[0], second, in[1]);
    const __m512i t2 = _mm512_permutex2var_epi8(in[2], first, in[3]);
    const __m512i t3 = _mm512_permutex2var_epi8(in[2], second, in[3]);
    const __m512i pair0 = _mm512_load_si512(kPairFirst), pair1 = _mm512_load_si512(kPairSecond);
    storePlanePair<First>(row, 0, _mm512_permutex2var_epi64(t0, pair0, t2));
    storePlanePair<First>(row, 1, _mm512_permutex2var_epi64(t0, pair1, t2));
    storePlanePair<First>(row, 2, _mm512_permutex2var_epi64(t1, pair0, t3));
    storePlanePair<First>(row, 3, _mm512_permutex2var_epi64(t1, pair1, t3));
}

template <int Planes>
OMBREL_GFNI void unpackRowGfni(const uint8_t* row, uint16_t* codes)
{
    __m512i low[4], high[4];
    matricesOf<Planes - 8>(row, low);
    matricesOf<Planes - 16>(row, high);
    const __m512i first = loadIndex(kJoinFirst), second = loadIndex(kJoinSecond);
#pragma GCC unroll 4
    for (int v = 0; v < 4; ++v) {
        _mm512_storeu_si512(codes + 64 * v, _mm512_permutex2var_epi8(low[v], first, high[v]));
        _mm512_storeu_si512(codes + 64 * v + 32, _mm512_permutex2var_epi8(low[v], second, high[v]));
    }
}

template <int Planes>
OMBREL_GFNI void packRowGfni(const uint16_t* codes, uint8_t* row)
{
    __m512i low[4], high[4];
    const __m512i splitLow = loadIndex(kSplitLow), splitHigh = loadIndex(kSplitHigh);
    const __m512i select = _mm512_set1_epi64(kTransposeSelect);
#pragma GCC unroll 4
    for (int v = 0; v < 4; ++v) {
        const __m512i a = _mm512_loadu_si512(codes + 64 * v), b = _mm512_loadu_si512(codes + 64 * v + 32);
        low[v] = _mm512_gf2p8affine_epi64_epi8(select, _mm512_permutex2var_epi8(a, splitLow, b), 0);
        high[v] = _mm512_gf2p8affine_epi64_epi8(select, _mm512_permutex2var_epi8(a, splitHigh, b), 0);
    }
    storeMatrices<Planes - 8>(row, low);
    storeMatrices<Planes - 16>(row, high);
}

OMBREL_GFNI void unpackRowAvx512(const uint8_t* row, int planes, uint16_t* codes)
{
    if (planes == 13)
        unpackRowGfni<13>(row, codes);
    else
        unpackRowGfni<14>(row, codes);
}

OMBREL_GFNI void packRowAvx512(const uint16_t* codes, int planes, uint8_t* row)
{
    if (planes == 13)
        packRowGfni<13>(codes, row);
    else
        packRowGfni<14>(codes, row);
}

// Encoding without a table lookup per pixel: the register is linear over GF(2), so the code of count n
// is M^n applied to the start state, M being one step. The code of n mod 64 comes from the first 64
// entries of the count -> code table (two vectors, one word permutation per 32 counts); each further bit
// i of n that is set applies M^(2^i), four affine instructions on the codes' low and high bytes (the
// 16 x 16 matrix cut into 8 x 8 blocks). The codes come out as the low and high bytes in column order
// that the transposition takes, so nothing is stored in between.

// A 16 x 16 matrix over GF(2): row r holds the input bits that make output bit r.
struct BitMatrix {
    std::array<uint16_t, 16> row{};
};
constexpr BitMatrix product(const BitMatrix& a, const BitMatrix& b)
{
    BitMatrix c;
    for (int r = 0; r < 16; ++r)
        for (int k = 0; k < 16; ++k)
            if ((a.row[r] >> k) & 1)
                c.row[r] ^= b.row[k];
    return c;
}
// The affine instruction's operand for the block of output half `out` and input half `in`: its byte
// 7 - r holds the inputs of output bit r.
constexpr uint64_t affineBlock(const BitMatrix& m, int out, int in)
{
    uint64_t q = 0;
    for (int r = 0; r < 8; ++r)
        q |= uint64_t{static_cast<uint8_t>(m.row[8 * out + r] >> (8 * in))} << (8 * (7 - r));
    return q;
}
// For bits 6 .. Bits - 1 of a count: the blocks (low <- low, low <- high, high <- low, high <- high) of
// M^(2^i).
template <int Bits, int TapA, int TapB>
constexpr std::array<std::array<uint64_t, 4>, Bits - 6> stepBlocks()
{
    BitMatrix m;
    for (int r = 1; r < Bits; ++r)
        m.row[r] = static_cast<uint16_t>(1u << (r - 1));
    m.row[0] = static_cast<uint16_t>((1u << TapA) | (1u << TapB));
    std::array<std::array<uint64_t, 4>, Bits - 6> blocks{};
    for (int i = 0; i < Bits; ++i) {
        if (i >= 6)
            blocks[i - 6] = {affineBlock(m, 0, 0), affineBlock(m, 0, 1), affineBlock(m, 1, 0), affineBlock(m, 1, 1)};
        m = product(m, m);
    }
    return blocks;
}
alignas(64) constexpr auto kSteps13 = stepBlocks<13, 9, 12>();
alignas(64) constexpr auto kSteps14 = stepBlocks<14, 0, 13>();

// The low and high bytes (column order) of the codes of 64 valid counts.
template <int Bits>
OMBREL_GFNI inline void codesOfCounts(const uint16_t* counts, __m512i first64a, __m512i first64b, __m512i* low,
                                      __m512i* high)
{
    const uint64_t(*steps)[4] = nullptr;
    if constexpr (Bits == 13)
        steps = reinterpret_cast<const uint64_t(*)[4]>(kSteps13.data());
    else
        steps = reinterpret_cast<const uint64_t(*)[4]>(kSteps14.data());
    const __m512i splitLow = loadIndex(kSplitLow), splitHigh = loadIndex(kSplitHigh);
    const __m512i a = _mm512_loadu_si512(counts), b = _mm512_loadu_si512(counts + 32);
    const __m512i countLow = _mm512_permutex2var_epi8(a, splitLow, b);
    const __m512i countHigh = _mm512_permutex2var_epi8(a, splitHigh, b);
    const __m512i codesA = _mm512_permutex2var_epi16(first64a, a, first64b);
    const __m512i codesB = _mm512_permutex2var_epi16(first64a, b, first64b);
    __m512i lo = _mm512_permutex2var_epi8(codesA, splitLow, codesB);
    __m512i hi = _mm512_permutex2var_epi8(codesA, splitHigh, codesB);
#pragma GCC unroll 8
    for (int i = 6; i < Bits; ++i) {
        const uint64_t* m = steps[i - 6];
        const __mmask64 set =
            _mm512_test_epi8_mask(i < 8 ? countLow : countHigh, _mm512_set1_epi8(static_cast<char>(1 << (i & 7))));
        const __m512i nextLo = _mm512_xor_si512(_mm512_gf2p8affine_epi64_epi8(lo, _mm512_set1_epi64(m[0]), 0),
                                                _mm512_gf2p8affine_epi64_epi8(hi, _mm512_set1_epi64(m[1]), 0));
        const __m512i nextHi = _mm512_xor_si512(_mm512_gf2p8affine_epi64_epi8(lo, _mm512_set1_epi64(m[2]), 0),
                                                _mm512_gf2p8affine_epi64_epi8(hi, _mm512_set1_epi64(m[3]), 0));
        lo = _mm512_mask_mov_epi8(lo, set, nextLo);
        hi = _mm512_mask_mov_epi8(hi, set, nextHi);
    }
    *low = lo;
    *high = hi;
}

// One row of valid counts (all below the width's state count) into its planes; first64 is the start of
// the count -> code table.
template <int Planes>
OMBREL_GFNI void encodeRowGfni(const uint16_t* counts, const uint16_t* first64, uint8_t* row)
{
    const __m512i tableA = _mm512_loadu_si512(first64), tableB = _mm512_loadu_si512(first64 + 32);
    const __m512i select = _mm512_set1_epi64(kTransposeSelect);
    __m512i low[4], high[4];
#pragma GCC unroll 4
    for (int v = 0; v < 4; ++v) {
        __m512i lo, hi;
        codesOfCounts<Planes>(counts + 64 * v, tableA, tableB, &lo, &hi);
        low[v] = _mm512_gf2p8affine_epi64_epi8(select, lo, 0);
        high[v] = _mm512_gf2p8affine_epi64_epi8(select, hi, 0);
    }
    storeMatrices<Planes - 8>(row, low);
    storeMatrices<Planes - 16>(row, high);
}

OMBREL_GFNI void encodeRowAvx512(const uint16_t* counts, int planes, const uint16_t* first64, uint8_t* row)
{
    if (planes == 13)
        encodeRowGfni<13>(counts, first64, row);
    else
        encodeRowGfni<14>(counts, first64, row);
}

[[gnu::target("avx512f,avx512bw")]] bool anyAboveAvx512(const uint16_t* v, size_t n, uint16_t top)
{
    const __m512i limit = _mm512_set1_epi16(static_cast<short>(top));
    __mmask32 above = 0;
    for (size_t i = 0; i < n; i += 32)
        above |= _mm512_cmpgt_epu16_mask(_mm512_loadu_si512(v + i), limit);
    return above != 0;
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
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("gfni");
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

// True when a value of v[0, n) is above top; n is a multiple of 32.
bool anyAbove(const uint16_t* v, size_t n, uint16_t top)
{
#if defined(__x86_64__)
    if (vectors() == detail::Vectors::Avx512)
        return anyAboveAvx512(v, n, top);
    // A saturating subtraction of top leaves the values above it nonzero.
    const __m128i limit = _mm_set1_epi16(static_cast<short>(top));
    __m128i a = _mm_setzero_si128(), b = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += 16) {
        a = _mm_or_si128(a, _mm_subs_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)), limit));
        b = _mm_or_si128(b, _mm_subs_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i + 8)), limit));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(a, b), _mm_setzero_si128())) != 0xFFFF;
#else
    for (size_t i = 0; i < n; ++i)
        if (v[i] > top)
            return true;
    return false;
#endif
}

// Where the blocks of a stream begin, where the rows begin within a block, and how far a block is moved.
// Every move is within the block (vacated bits zero, bits moved past its edge lost): no bit travels in
// a leading byte or a neighbouring block, so a stream reads the same in any buffer at least its size.
// What this loses is listed by layoutLosses().
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

// Rows packed per call of a stream's row function: the host's encoding keeps the codes of a call's rows
// in a buffer on the stack.
constexpr size_t kChunkRows = 8;

// Writes the stream's streamSize() bytes and nothing after them. packRowsOf(values, rows, n, first) packs
// n rows of values (the first at value index first) into rows rowBytes() apart.
template <typename PackRows>
void packStream(const uint16_t* values, size_t chips, CounterWidth width, Layout layout, uint8_t* stream,
                PackRows packRowsOf)
{
    const Geometry g = geometry(chips, width, layout);
    // Every row is written whole, so only the bytes around the rows are cleared: the leading bytes and
    // each block's bytes before and after its rows.
    const size_t rowsEnd = g.rowsAt + kRowsPerChip * rowBytes(width);
    std::memset(stream, 0, g.firstBlock);
    for (size_t chip = 0; chip < chips; ++chip) {
        uint8_t* block = stream + g.firstBlock + chip * g.block;
        std::memset(block, 0, g.rowsAt);
        std::memset(block + rowsEnd, 0, g.block - rowsEnd);
    }
    if (layout == Layout::ToReadout)
        stream[0] = 0xFF;
    for (size_t chip = 0; chip < chips; ++chip) {
        uint8_t* block = stream + g.firstBlock + chip * g.block;
        for (size_t row = 0; row < kRowsPerChip; row += kChunkRows) {
            const size_t first = (chip * kRowsPerChip + row) * 256;
            packRowsOf(values + first, block + g.rowsAt + row * rowBytes(width), kChunkRows, first);
        }
        shiftBlock(block, g.block, g.shiftSign * static_cast<long>(chip) + g.shiftBase);
    }
}

// unpackRowsOf(rows, values, n, first) unpacks n rows (rowBytes() apart) into values: a block's rows
// in one call, or one row at a time where the block is moved.
template <typename UnpackRows>
void unpackStream(const uint8_t* stream, size_t chips, CounterWidth width, Layout layout, uint16_t* values,
                  UnpackRows unpackRowsOf)
{
    const Geometry g = geometry(chips, width, layout);
    const size_t rb = rowBytes(width);
    uint8_t moved[14 * kPlaneBytes];
    for (size_t chip = 0; chip < chips; ++chip) {
        const uint8_t* block = stream + g.firstBlock + chip * g.block;
        // Undo the sender's move within the block: what comes in from beyond its edges is zero.
        const long shift = -(g.shiftSign * static_cast<long>(chip) + g.shiftBase);
        if (shift == 0) {
            const size_t first = chip * kPixelsPerChip;
            unpackRowsOf(block + g.rowsAt, values + first, kRowsPerChip, first);
            continue;
        }
        for (size_t row = 0; row < kRowsPerChip; ++row) {
            const size_t at = g.rowsAt + row * rb;
            for (size_t j = 0; j < rb; ++j)
                moved[j] = shiftedByte(block, g.block, shift, at + j);
            const size_t first = (chip * kRowsPerChip + row) * 256;
            unpackRowsOf(moved, values + first, 1, first);
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
    const size_t rb = rowBytes(width);
    packStream(codes.data(), chips, width, layout, stream.data(),
               [&](const uint16_t* in, uint8_t* rows, size_t n, size_t) {
                   alignas(64) uint16_t masked[256];
                   for (size_t row = 0; row < n; ++row, in += 256) {
                       for (size_t i = 0; i < 256; ++i)
                           masked[i] = static_cast<uint16_t>(in[i] & mask);
                       packRow(masked, planes, rows + row * rb);
                   }
               });
    return true;
}

bool matrixFromStream(std::span<const uint8_t> stream, size_t chips, CounterWidth width, Layout layout,
                      std::span<uint16_t> codes)
{
    if (!sizesOk(codes.size(), stream.size(), chips, width, layout))
        return false;
    const int planes = planeCount(width);
    const size_t rb = rowBytes(width);
    unpackStream(stream.data(), chips, width, layout, codes.data(),
                 [&](const uint8_t* rows, uint16_t* out, size_t n, size_t) {
                     for (size_t row = 0; row < n; ++row)
                         unpackRow(rows + row * rb, planes, out + row * 256);
                 });
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
    const uint16_t lastCount = static_cast<uint16_t>(t.states - 1);
    const int planes = planeCount(width);
    const size_t rb = rowBytes(width);
    // On 512-bit vectors the codes of a row of valid counts are computed within its packing. Elsewhere the
    // codes of the next row are looked up before a row is packed, so that the packing's vector loads do not
    // wait for the lookup's narrow stores and the two kinds of work overlap.
    packStream(counts.data(), chips, width, Layout::ToReadout, stream.data(),
               [&](const uint16_t* in, uint8_t* rows, size_t n, size_t first) {
                   alignas(64) uint16_t codes[kChunkRows * 256];
#if defined(__x86_64__)
                   if (vectors() == detail::Vectors::Avx512) {
                       for (size_t row = 0; row < n; ++row) {
                           const size_t at = row * 256;
                           if (!anyAbove(in + at, 256, lastCount)) [[likely]] {
                               encodeRowAvx512(in + at, planes, t.countToCode, rows + row * rb);
                               continue;
                           }
                           // A bad count is sent as the all-ones code of the width.
                           convert.run(in + at, codes, 256, first + at);
                           for (size_t i = 0; i < 256; ++i)
                               codes[i] &= mask;
                           packRow(codes, planes, rows + row * rb);
                       }
                       return;
                   }
#endif
                   auto codesOf = [&](size_t row) {
                       const size_t at = row * 256;
                       if (!anyAbove(in + at, 256, lastCount)) [[likely]]
                           return lookupRow(in + at, t.countToCode, codes + at);
                       // A bad count is sent as the all-ones code of the width.
                       convert.run(in + at, codes + at, 256, first + at);
                       for (size_t i = 0; i < 256; ++i)
                           codes[at + i] &= mask;
                   };
                   codesOf(0);
                   for (size_t row = 0; row < n; ++row) {
                       if (row + 1 < n)
                           codesOf(row + 1);
                       packRow(codes + row * 256, planes, rows + row * rb);
                   }
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
    const TableView t = tables(width);
    const int planes = planeCount(width);
    const size_t rb = rowBytes(width);
    // The next row is unpacked before a row is looked up, so that the two kinds of work overlap. Every
    // code is inside the table (the planes carry no more bits). Codes without a count are rare: a row's
    // counts are checked for them (every count is below 0x8000) once the next row is looked up, when its
    // stores are done, and only when there is one are the rows unpacked again to note them.
    bool anyBad = false;
    unpackStream(stream.data(), chips, width, Layout::FromReadout, counts.data(),
                 [&](const uint8_t* rows, uint16_t* out, size_t n, size_t) {
                     alignas(64) uint16_t codes[2][256];
                     unpackRow(rows, planes, codes[0]);
                     for (size_t row = 0; row < n; ++row) {
                         if (row + 1 < n)
                             unpackRow(rows + (row + 1) * rb, planes, codes[(row + 1) & 1]);
                         lookupRow(codes[row & 1], t.codeToCount, out + row * 256);
                         if (row > 0)
                             anyBad |= anyAbove(out + (row - 1) * 256, 256, 0x7FFF);
                     }
                     anyBad |= anyAbove(out + (n - 1) * 256, 256, 0x7FFF);
                 });
    if (anyBad) [[unlikely]] {
        const Converter convert = converter(Direction::CodeToCount, width, &r);
        unpackStream(stream.data(), chips, width, Layout::FromReadout, counts.data(),
                     [&](const uint8_t* rows, uint16_t* out, size_t n, size_t first) {
                         alignas(64) uint16_t codes[256];
                         for (size_t row = 0; row < n; ++row) {
                             const size_t at = row * 256;
                             if (!anyAbove(out + at, 256, 0x7FFF))
                                 continue;
                             unpackRow(rows + row * rb, planes, codes);
                             for (size_t i = 0; i < 256; ++i)
                                 if (out[at + i] == kBadValue)
                                     convert.noteBad(codes[i], first + at + i);
                         }
                     });
    }
    return r.ok();
}

std::vector<LostBits> layoutLosses(size_t chips, CounterWidth width)
{
    std::vector<LostBits> lost;
    if (width != CounterWidth::Bits13 || chips < 2)
        return lost;
    lost.push_back({0, uint16_t{1} << 12});
    constexpr size_t kLastRow = (kRowsPerChip - 1) * 256;
    for (size_t chip = 1; chip < chips; ++chip)
        for (size_t column = 256 - chip; column < 256; ++column)
            lost.push_back({chip * kPixelsPerChip + kLastRow + column, 1});
    return lost;
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
