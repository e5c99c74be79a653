#include "counter_codec.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
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

bool detectAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
std::atomic<bool> gWide{detectAvx2()};
#else
std::atomic<bool> gWide{false};
#endif

void unpackRow(const uint8_t* row, int planes, uint16_t* codes)
{
#if defined(__x86_64__)
    if (gWide.load(std::memory_order_relaxed))
        return unpackRowAvx2(row, planes, codes);
#endif
    unpackRowScalar(row, planes, codes);
}

void packRow(const uint16_t* codes, int planes, uint8_t* row)
{
#if defined(__x86_64__)
    if (gWide.load(std::memory_order_relaxed))
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
template <typename In>
void packStream(const uint16_t* values, size_t chips, CounterWidth width, Layout layout, uint8_t* stream,
                size_t size, In convert)
{
    const Geometry g = geometry(chips, width, layout);
    const int planes = planeCount(width);
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
            alignas(32) uint16_t codes[256];
            convert(values + first, codes, first);
            packRow(codes, planes, block + g.rowsAt + row * rowBytes(width));
        }
    }
    // From the last block to the first: a block moved toward the end spills into the next one, which has
    // already been moved (only block 0 is ever moved toward the start, into the leading bytes).
    for (size_t chip = chips; chip-- > 0;)
        shiftBlock(stream, std::min(size, used + 1), g.firstBlock + chip * g.block, g.block,
                   g.shiftSign * static_cast<long>(chip) + g.shiftBase);
}

template <typename Out>
void unpackStream(const uint8_t* stream, size_t size, size_t chips, CounterWidth width, Layout layout,
                  uint16_t* values, Out convert)
{
    const Geometry g = geometry(chips, width, layout);
    const int planes = planeCount(width);
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
            alignas(32) uint16_t codes[256];
            unpackRow(src, planes, codes);
            convert(codes, values + first, first);
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
bool wideVectorsAvailable()
{
#if defined(__x86_64__)
    return detectAvx2();
#else
    return false;
#endif
}
void useWideVectors(bool on)
{
    gWide = on && wideVectorsAvailable();
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
    packStream(codes.data(), chips, width, layout, stream.data(), stream.size(), [mask](const uint16_t* in, uint16_t* out, size_t) {
        for (size_t i = 0; i < 256; ++i)
            out[i] = static_cast<uint16_t>(in[i] & mask);
    });
    return true;
}

bool matrixFromStream(std::span<const uint8_t> stream, size_t chips, CounterWidth width, Layout layout,
                      std::span<uint16_t> codes)
{
    if (!sizesOk(codes.size(), stream.size(), chips, width, layout))
        return false;
    unpackStream(stream.data(), stream.size(), chips, width, layout, codes.data(),
                 [](const uint16_t* in, uint16_t* out, size_t) { std::memcpy(out, in, 256 * sizeof *in); });
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
    const uint16_t mask = static_cast<uint16_t>(codeCount(width) - 1);
    // A bad count is sent as the all-ones code of the width.
    packStream(counts.data(), chips, width, Layout::ToReadout, stream.data(), stream.size(),
               [&](const uint16_t* in, uint16_t* out, size_t first) {
                   convert.run(in, out, 256, first);
                   for (size_t i = 0; i < 256; ++i)
                       out[i] &= mask;
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
    unpackStream(stream.data(), stream.size(), chips, width, Layout::FromReadout, counts.data(),
                 [&](const uint16_t* in, uint16_t* out, size_t first) { convert.run(in, out, 256, first); });
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
