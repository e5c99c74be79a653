// Matrix streams worked out by hand from the layout of the chips' bit planes, for every width and chip
// count, in both directions: what the host sends ("Set matrix") for a matrix of counts, and the counts
// the host takes from what the readout sends ("Read matrix"), with leading bytes 0x00 and 0xFF. No byte
// here was produced by the codec or by a simulator, so a mistake that the codec makes the same way in both
// directions cannot hide behind a round trip.
//
// Every pixel not listed holds count 0, whose code is all ones (0x1FFF, 0x3FFF): its plane bytes are 0xFF.
// Codes used (the counter steps from the all-ones state): 13 bits 1 = 0x1FFE, 2 = 0x1FFC, 3 = 0x1FF8,
// 10 = 0x1C00, 100 = 0x127F, 8000 = 0x0FFF; 14 bits 1 = 0x3FFE, 2 = 0x3FFD, 3 = 0x3FFA.
// A row of a 13-bit block is 416 bytes (plane k at 384 - 32k), of a 14-bit block 448 bytes (plane k at
// 416 - 32k); a plane byte b holds columns 8b .. 8b + 7, the lowest column in the top bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace handstreams {

// bytes [at, at + length) hold value; later runs override earlier ones.
struct Run {
    size_t at, length;
    uint8_t value;
};
struct Pixel {
    size_t chip, row, col;
    uint16_t count;
};
struct Case {
    const char* name;
    int bits; // 13 or 14
    size_t chips;
    size_t size; // bytes of the stream
    std::vector<Run> runs;
    std::vector<Pixel> pixels; // every other pixel: count 0
};

inline std::vector<uint8_t> bytesOf(const Case& c)
{
    std::vector<uint8_t> stream(c.size, 0x5A);
    for (const Run& r : c.runs)
        for (size_t i = r.at; i < r.at + r.length && i < c.size; ++i)
            stream[i] = r.value;
    return stream;
}

inline std::vector<uint16_t> countsOf(const Case& c)
{
    std::vector<uint16_t> counts(c.chips * 65536, 0);
    for (const Pixel& p : c.pixels)
        counts[p.chip * 65536 + p.row * 256 + p.col] = p.count;
    return counts;
}

// The codes of the counts above, as listed at the top.
inline uint16_t codeOf(int bits, uint16_t count)
{
    struct Entry {
        int bits;
        uint16_t count, code;
    };
    static const Entry codes[] = {{13, 0, 0x1FFF}, {13, 1, 0x1FFE}, {13, 2, 0x1FFC}, {13, 3, 0x1FF8},
                                  {13, 10, 0x1C00}, {13, 100, 0x127F}, {13, 8000, 0x0FFF}, {14, 0, 0x3FFF},
                                  {14, 1, 0x3FFE}, {14, 2, 0x3FFD}, {14, 3, 0x3FFA}};
    for (const Entry& e : codes)
        if (e.bits == bits && e.count == count)
            return e.code;
    return 0; // not in the list: no case uses it
}

inline std::vector<uint16_t> codesOf(const Case& c)
{
    std::vector<uint16_t> codes = countsOf(c);
    for (uint16_t& v : codes)
        v = codeOf(c.bits, v);
    return codes;
}

constexpr size_t B13 = 114688, B14 = 114720;

// ---- "Set matrix": start byte 0xFF, per chip a block; 13 bits: 8192 zero bytes, then the rows, block i
// moved i bits toward its end (its first row byte 0xFF >> i, its last i bits lost); 14 bits: the rows from
// the block's start, 32 zero bytes after them ----
inline std::vector<Case> hostStreams()
{
    return {
        {"13-bit 1 chip", 13, 1, 1 + B13,
         {{0, 1, 0xFF}, {1, 8192, 0x00}, {8193, 106496, 0xFF},
          // (0, 0) count 1: bit 0 clear, plane 0 byte 0 top bit
          {8193 + 384, 1, 0x7F},
          // (255, 255) count 3: bits 0-2 clear, planes 0-2 byte 31 low bit (row 255 at 8193 + 106080)
          {114273 + 384 + 31, 1, 0xFE}, {114273 + 352 + 31, 1, 0xFE}, {114273 + 320 + 31, 1, 0xFE}},
         {{0, 0, 0, 1}, {0, 255, 255, 3}}},
        {"13-bit 2 chips", 13, 2, 1 + 2 * B13,
         {{0, 1, 0xFF}, {1, 8192, 0x00}, {8193, 106496, 0xFF}, {8193 + 384, 1, 0x7F},
          // block 1 at 114689, rows at 122881, moved one bit: first row byte 0x7F
          {114689, 8192, 0x00}, {122881, 1, 0x7F}, {122882, 106495, 0xFF},
          // chip 1 (0, 7) count 3: bits 0-2 clear in byte 0 (0xFE) of planes 0-2; moved one bit, the
          // zero lands in the top bit of byte 1
          {122881 + 321, 1, 0x7F}, {122881 + 353, 1, 0x7F}, {122881 + 385, 1, 0x7F},
          // chip 1 (255, 254) count 1: last byte 0xFD, moved: 0xFE; (255, 255)'s bit 0 moved out, lost
          {229376, 1, 0xFE}},
         {{0, 0, 0, 1}, {1, 0, 7, 3}, {1, 255, 254, 1}}},
        {"13-bit 4 chips", 13, 4, 1 + 4 * B13,
         {{0, 1, 0xFF}, {1, 8192, 0x00}, {8193, 106496, 0xFF},
          {114689, 8192, 0x00}, {122881, 1, 0x7F}, {122882, 106495, 0xFF},
          {229377, 8192, 0x00}, {237569, 1, 0x3F}, {237570, 106495, 0xFF},
          {344065, 8192, 0x00}, {352257, 1, 0x1F}, {352258, 106495, 0xFF},
          // chip 0 (128, 100) count 10: bits 0-9 clear, byte 12 of planes 0-9 is 0xF7 (row at 61441)
          {61441 + 108, 1, 0xF7}, {61441 + 140, 1, 0xF7}, {61441 + 172, 1, 0xF7}, {61441 + 204, 1, 0xF7},
          {61441 + 236, 1, 0xF7}, {61441 + 268, 1, 0xF7}, {61441 + 300, 1, 0xF7}, {61441 + 332, 1, 0xF7},
          {61441 + 364, 1, 0xF7}, {61441 + 396, 1, 0xF7},
          // chip 2 (255, 253) count 1: last byte 0xFB, moved two bits: 0xFE
          {344064, 1, 0xFE},
          // chip 3 (0, 0) count 2: byte 0 of planes 0, 1 is 0x7F, moved three bits: 0xEF
          {352257 + 352, 1, 0xEF}, {352257 + 384, 1, 0xEF},
          // chip 3 (255, 252) count 1: last byte 0xF7, moved three bits: 0xFE
          {458752, 1, 0xFE}},
         {{0, 128, 100, 10}, {2, 255, 253, 1}, {3, 0, 0, 2}, {3, 255, 252, 1}}},
        {"14-bit 1 chip", 14, 1, 1 + B14,
         {{0, 1, 0xFF}, {1, 114688, 0xFF}, {114689, 32, 0x00},
          // (0, 0) count 2: bit 1 clear, plane 1 at 384
          {1 + 384, 1, 0x7F},
          // (255, 255) count 3: bits 0 and 2 clear (row 255 at 1 + 114240)
          {114241 + 416 + 31, 1, 0xFE}, {114241 + 352 + 31, 1, 0xFE}},
         {{0, 0, 0, 2}, {0, 255, 255, 3}}},
        {"14-bit 2 chips", 14, 2, 1 + 2 * B14,
         {{0, 1, 0xFF}, {1, 114688, 0xFF}, {114689, 32, 0x00}, {114721, 114688, 0xFF}, {229409, 32, 0x00},
          // chip 1 (0, 0) count 1: plane 0 at 416
          {114721 + 416, 1, 0x7F}},
         {{1, 0, 0, 1}}},
        {"14-bit 4 chips", 14, 4, 1 + 4 * B14,
         {{0, 1, 0xFF}, {1, 114688, 0xFF}, {114689, 32, 0x00}, {114721, 114688, 0xFF}, {229409, 32, 0x00},
          {229441, 114688, 0xFF}, {344129, 32, 0x00}, {344161, 114688, 0xFF}, {458849, 32, 0x00},
          // chip 3 (255, 255) count 3 (row 255 at 344161 + 114240)
          {458401 + 447, 1, 0xFE}, {458401 + 383, 1, 0xFE}},
         {{3, 255, 255, 3}}},
    };
}

// ---- "Read matrix": one leading byte per chip (skipped, here `lead`), then the blocks, rows from the
// block's start. 13 bits of several chips: the host moves block i by 1 - i bits, so the readout sends
// block 0 one bit early (its very first bit, bit 12 of pixel (0, 0), has no place and reads as zero:
// count 8000), block 2 one bit late and block 3 two bits late ----
inline std::vector<Case> readoutStreams(uint8_t lead)
{
    return {
        {"13-bit 1 chip", 13, 1, 1 + B13,
         {{0, 1, lead}, {1, 106496, 0xFF}, {106497, 8192, 0x00},
          // (0, 0) count 1: plane 0 byte 0
          {1 + 384, 1, 0x7F},
          // (255, 255) count 100 = 0x127F: bits 7, 8, 10, 11 clear (row 255 at 1 + 106080)
          {106081 + 160 + 31, 1, 0xFE}, {106081 + 128 + 31, 1, 0xFE}, {106081 + 64 + 31, 1, 0xFE},
          {106081 + 32 + 31, 1, 0xFE}},
         {{0, 0, 0, 1}, {0, 255, 255, 100}}},
        {"13-bit 2 chips", 13, 2, 2 + 2 * B13,
         {{0, 2, lead},
          // block 0 at 2, one bit early: its last row byte ends with a zero
          {2, 106495, 0xFF}, {106497, 1, 0xFE}, {106498, 8192, 0x00},
          // chip 0 (0, 7) count 1: byte 384 0xFE one bit early: byte 383 stays 0xFF, byte 384 0xFD
          {2 + 384, 1, 0xFD},
          // block 1 at 114690, in place; (0, 0) count 1
          {114690, 106496, 0xFF}, {221186, 8192, 0x00}, {114690 + 384, 1, 0x7F}},
         {{0, 0, 0, 8000}, {0, 0, 7, 1}, {1, 0, 0, 1}}},
        {"13-bit 4 chips", 13, 4, 4 + 4 * B13,
         {{0, 4, lead},
          {4, 106495, 0xFF}, {106499, 1, 0xFE}, {106500, 8192, 0x00},
          {114692, 106496, 0xFF}, {221188, 8192, 0x00},
          // block 2 at 229380, one bit late: first byte 0x7F, its last bit in the byte after the rows
          {229380, 1, 0x7F}, {229381, 106495, 0xFF}, {335876, 1, 0x80}, {335877, 8191, 0x00},
          // chip 2 (0, 0) count 1: byte 384 0x7F one bit late: 0xBF, byte 385 stays 0xFF
          {229380 + 384, 1, 0xBF},
          // block 3 at 344068, two bits late: first byte 0x3F, its last two bits after the rows (0xC0)
          {344068, 1, 0x3F}, {344069, 106495, 0xFF}, {450564, 1, 0xC0}, {450565, 8191, 0x00},
          // chip 3 (255, 255) count 1: its last row byte 0xFE two bits late: that byte stays 0xFF and
          // the byte after the rows is 0x80
          {450564, 1, 0x80}},
         {{0, 0, 0, 8000}, {2, 0, 0, 1}, {3, 255, 255, 1}}},
        {"14-bit 1 chip", 14, 1, 1 + B14,
         {{0, 1, lead}, {1, 114688, 0xFF}, {114689, 32, 0x00}, {1 + 384, 1, 0x7F}},
         {{0, 0, 0, 2}}},
        {"14-bit 2 chips", 14, 2, 2 + 2 * B14,
         {{0, 2, lead}, {2, 114688, 0xFF}, {114690, 32, 0x00}, {114722, 114688, 0xFF}, {229410, 32, 0x00},
          // chip 1 (255, 255) count 3 (row 255 at 114722 + 114240)
          {228962 + 447, 1, 0xFE}, {228962 + 383, 1, 0xFE}},
         {{1, 255, 255, 3}}},
        {"14-bit 4 chips", 14, 4, 4 + 4 * B14,
         {{0, 4, lead}, {4, 114688, 0xFF}, {114692, 32, 0x00}, {114724, 114688, 0xFF}, {229412, 32, 0x00},
          {229444, 114688, 0xFF}, {344132, 32, 0x00}, {344164, 114688, 0xFF}, {458852, 32, 0x00},
          // chip 0 (0, 0) count 1: plane 0 at 416
          {4 + 416, 1, 0x7F}},
         {{0, 0, 0, 1}}},
    };
}

} // namespace handstreams
