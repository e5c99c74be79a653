// The counter tables and the matrix streams: every count survives the round trip, values outside the
// counter's states are refused without stopping the rest, every bit lands where the readout expects it,
// the 13-bit blocks are moved within themselves in both directions (gaps and leading bytes stay zero and
// are never read, the bits moved past a block's edge are lost, in a longer transfer too), and streams
// worked out by hand are written and read byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <random>
#include <set>
#include <compare>
#include <vector>

#include "counter_codec.h"
#include "hand_streams.h"

namespace {

using codec::CounterWidth;
using codec::Direction;
using codec::Layout;
using codec::kBadValue;
using codec::kPixelsPerChip;

constexpr CounterWidth kWidths[] = {CounterWidth::Bits13, CounterWidth::Bits14};
constexpr Layout kLayouts[] = {Layout::ToReadout, Layout::FromReadout};

const char* name(CounterWidth w)
{
    return w == CounterWidth::Bits13 ? "13-bit" : "14-bit";
}
const char* name(Layout l)
{
    return l == Layout::ToReadout ? "to readout" : "from readout";
}

TEST(CounterTables, EveryCountAndEveryReachedCodeRoundTrips)
{
    for (CounterWidth w : kWidths) {
        std::set<uint16_t> codes;
        for (uint32_t count = 0; count < codec::stateCount(w); ++count) {
            const uint16_t code = codec::countToCode(w, static_cast<uint16_t>(count));
            ASSERT_LT(code, codec::codeCount(w)) << name(w) << " count " << count;
            ASSERT_EQ(codec::codeToCount(w, code), count) << name(w) << " count " << count;
            codes.insert(code);
        }
        EXPECT_EQ(codes.size(), codec::stateCount(w)) << name(w) << ": two counts share a code";
        for (uint32_t code = 0; code < codec::codeCount(w); ++code) {
            const uint16_t count = codec::codeToCount(w, static_cast<uint16_t>(code));
            if (codes.count(static_cast<uint16_t>(code)) == 0) {
                EXPECT_EQ(count, kBadValue) << name(w) << ": unreached code " << code << " reads as a count";
            }
        }
    }
}

TEST(CounterTables, EdgesOfTheSequence)
{
    struct Case {
        CounterWidth width;
        uint16_t count;
        uint16_t code; // kBadValue: refused
    };
    const Case cases[] = {
        // Count 0 is the start state; the next states by hand from the feedback rule.
        {CounterWidth::Bits13, 0, 0x1FFF},
        {CounterWidth::Bits13, 1, 0x1FFE},
        {CounterWidth::Bits13, 2, 0x1FFC},
        {CounterWidth::Bits14, 0, 0x3FFF},
        {CounterWidth::Bits14, 1, 0x3FFE},
        {CounterWidth::Bits14, 2, 0x3FFD},
        // Past the last state the count has no code: no read past the table.
        {CounterWidth::Bits13, 8001, kBadValue},
        {CounterWidth::Bits13, 8191, kBadValue},
        {CounterWidth::Bits13, 0xFFFF, kBadValue},
        {CounterWidth::Bits14, 11811, kBadValue},
        {CounterWidth::Bits14, 16383, kBadValue},
    };
    for (const Case& c : cases)
        EXPECT_EQ(codec::countToCode(c.width, c.count), c.code) << name(c.width) << " count " << c.count;

    // The last valid counts have codes.
    EXPECT_NE(codec::countToCode(CounterWidth::Bits13, 8000), kBadValue);
    EXPECT_NE(codec::countToCode(CounterWidth::Bits14, 11810), kBadValue);
    // Codes out of the width's range and the all-zero state (never reached) are no counts.
    EXPECT_EQ(codec::codeToCount(CounterWidth::Bits13, 0x2000), kBadValue);
    EXPECT_EQ(codec::codeToCount(CounterWidth::Bits14, 0x4000), kBadValue);
    EXPECT_EQ(codec::codeToCount(CounterWidth::Bits13, 0), kBadValue);
    EXPECT_EQ(codec::codeToCount(CounterWidth::Bits14, 0), kBadValue);
}

TEST(CounterTables, BadValueIsMarkedWhileTheRestConverts)
{
    struct Case {
        const char* what;
        CounterWidth width;
        Direction direction;
        std::vector<uint16_t> in;
        std::vector<uint16_t> out;
        size_t bad;
        size_t firstBad;
    };
    const Case cases[] = {
        {"13-bit code 0x2000", CounterWidth::Bits13, Direction::CodeToCount, {0x1FFF, 0x2000, 0x1FFE},
         {0, kBadValue, 1}, 1, 1},
        {"14-bit unreached code 0", CounterWidth::Bits14, Direction::CodeToCount, {0x3FFD, 0, 0x3FFF, 0},
         {2, kBadValue, 0, kBadValue}, 2, 1},
        {"13-bit count 8001", CounterWidth::Bits13, Direction::CountToCode, {8001, 2, 0}, {kBadValue, 0x1FFC, 0x1FFF},
         1, 0},
        {"14-bit count 11811", CounterWidth::Bits14, Direction::CountToCode, {1, 11811}, {0x3FFE, kBadValue}, 1, 1},
        {"all good", CounterWidth::Bits13, Direction::CountToCode, {0, 1}, {0x1FFF, 0x1FFE}, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint16_t> values = c.in;
        codec::ConvertReport report;
        EXPECT_EQ(codec::convertCodes(values, c.direction, c.width, &report), c.bad == 0) << c.what;
        EXPECT_EQ(values, c.out) << c.what;
        EXPECT_EQ(report.bad, c.bad) << c.what;
        if (c.bad) {
            EXPECT_EQ(report.firstBadIndex, c.firstBad) << c.what;
            EXPECT_EQ(report.firstBadValue, c.in[c.firstBad]) << c.what;
        }
    }
}

// ---- streams ----

std::vector<uint16_t> randomCodes(size_t chips, CounterWidth w, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<uint32_t> d(0, codec::codeCount(w) - 1);
    std::vector<uint16_t> v(chips * kPixelsPerChip);
    for (auto& x : v)
        x = static_cast<uint16_t>(d(gen));
    return v;
}

// The stream tests run on the plain path and on each vector path the processor has.
using codec::detail::Vectors;
class CounterStreams : public ::testing::TestWithParam<Vectors> {
protected:
    void SetUp() override
    {
        if (!codec::detail::vectorsAvailable(GetParam()))
            GTEST_SKIP() << "not on this processor";
        codec::detail::useVectors(GetParam());
    }
    void TearDown() override { codec::detail::useVectors(Vectors::Avx512); }
};
INSTANTIATE_TEST_SUITE_P(Paths, CounterStreams, ::testing::Values(Vectors::Plain, Vectors::Avx2, Vectors::Avx512),
                         [](const ::testing::TestParamInfo<Vectors>& p) {
                             return p.param == Vectors::Plain ? "Plain" : p.param == Vectors::Avx2 ? "Avx2" : "Avx512";
                         });

TEST(CounterStreamSizes, PerLayoutAndChipCount)
{
    struct Case {
        size_t chips;
        CounterWidth width;
        Layout layout;
        size_t size;
    };
    const Case cases[] = {
        {1, CounterWidth::Bits13, Layout::ToReadout, 1 + 114688},
        {4, CounterWidth::Bits13, Layout::ToReadout, 1 + 4 * 114688},
        {4, CounterWidth::Bits14, Layout::ToReadout, 1 + 4 * 114720},
        {1, CounterWidth::Bits13, Layout::FromReadout, 114689},
        {2, CounterWidth::Bits13, Layout::FromReadout, 2 * 114689},
        {4, CounterWidth::Bits14, Layout::FromReadout, 4 * 114721},
    };
    for (const Case& c : cases)
        EXPECT_EQ(codec::streamSize(c.chips, c.width, c.layout), c.size)
            << c.chips << " chips " << name(c.width) << " " << name(c.layout);
}

// Where one bit of one pixel goes: the stream byte and the bit within it.
TEST_P(CounterStreams, GoldenBitPositions)
{
    struct Case {
        CounterWidth width;
        Layout layout;
        size_t chips, chip, row, col;
        int bit;
        size_t byte;
        uint8_t mask;
    };
    constexpr size_t b13 = 114688, b14 = 114720;
    const Case cases[] = {
        // 13-bit to the readout: start byte, 8192 bytes gap, rows of 416 bytes, plane of bit 12 first.
        {CounterWidth::Bits13, Layout::ToReadout, 1, 0, 0, 0, 12, 1 + 8192, 0x80},
        {CounterWidth::Bits13, Layout::ToReadout, 1, 0, 0, 0, 0, 1 + 8192 + 384, 0x80},
        {CounterWidth::Bits13, Layout::ToReadout, 1, 0, 3, 9, 5, 1 + 8192 + 3 * 416 + 7 * 32 + 1, 0x40},
        {CounterWidth::Bits13, Layout::ToReadout, 1, 0, 255, 255, 0, 1 + b13 - 1, 0x01},
        // chip 1 moved one bit toward the end of its block, chip 3 three bits
        {CounterWidth::Bits13, Layout::ToReadout, 2, 1, 0, 0, 12, 1 + b13 + 8192, 0x40},
        {CounterWidth::Bits13, Layout::ToReadout, 4, 3, 0, 7, 12, 1 + 3 * b13 + 8192 + 1, 0x20},
        // a block's last bits: moved to its last byte, or past its end and lost (mask 0: nothing is
        // sent, the next block's gap stays zero)
        {CounterWidth::Bits13, Layout::ToReadout, 2, 0, 255, 255, 0, 1 + b13 - 1, 0x01},
        {CounterWidth::Bits13, Layout::ToReadout, 2, 1, 255, 254, 0, 1 + 2 * b13 - 1, 0x01},
        {CounterWidth::Bits13, Layout::ToReadout, 4, 3, 255, 252, 0, 1 + 4 * b13 - 1, 0x01},
        {CounterWidth::Bits13, Layout::ToReadout, 2, 1, 255, 255, 0, 0, 0},
        {CounterWidth::Bits13, Layout::ToReadout, 4, 2, 255, 255, 0, 0, 0},
        {CounterWidth::Bits13, Layout::ToReadout, 4, 3, 255, 253, 0, 0, 0},
        // 13-bit from the readout: one leading byte per chip, rows from offset 0.
        {CounterWidth::Bits13, Layout::FromReadout, 1, 0, 0, 0, 12, 1, 0x80},
        {CounterWidth::Bits13, Layout::FromReadout, 1, 0, 2, 17, 3, 1 + 2 * 416 + 9 * 32 + 2, 0x40},
        // with two chips the host moves block 0 one bit toward the end, so it arrives one bit early; its
        // first bit would be before the block: lost, the leading byte stays zero
        {CounterWidth::Bits13, Layout::FromReadout, 2, 0, 0, 1, 12, 2, 0x80},
        {CounterWidth::Bits13, Layout::FromReadout, 2, 0, 0, 0, 12, 0, 0},
        {CounterWidth::Bits13, Layout::FromReadout, 4, 0, 0, 0, 12, 0, 0},
        {CounterWidth::Bits13, Layout::FromReadout, 2, 1, 0, 0, 12, 2 + b13, 0x80},
        // block 3 of four is moved two bits toward the start by the host, so it arrives two bits late
        {CounterWidth::Bits13, Layout::FromReadout, 4, 3, 0, 0, 12, 4 + 3 * b13, 0x20},
        // 14-bit: rows of 448 bytes from offset 0, plane of bit 13 first, no moves.
        {CounterWidth::Bits14, Layout::ToReadout, 1, 0, 0, 0, 13, 1, 0x80},
        {CounterWidth::Bits14, Layout::ToReadout, 2, 1, 1, 8, 0, 1 + b14 + 448 + 416 + 1, 0x80},
        {CounterWidth::Bits14, Layout::FromReadout, 4, 2, 255, 255, 0, 4 + 2 * b14 + 255 * 448 + 447, 0x01},
    };
    for (const Case& c : cases) {
        std::vector<uint16_t> codes(c.chips * kPixelsPerChip, 0);
        codes[c.chip * kPixelsPerChip + c.row * 256 + c.col] = static_cast<uint16_t>(1u << c.bit);
        std::vector<uint8_t> stream(codec::streamSize(c.chips, c.width, c.layout), 0xAA);
        ASSERT_TRUE(codec::streamFromMatrix(codes, c.chips, c.width, c.layout, stream));
        std::vector<std::pair<size_t, int>> set;
        const size_t first = c.layout == Layout::ToReadout ? 1 : 0;
        for (size_t i = first; i < stream.size(); ++i)
            if (stream[i])
                set.emplace_back(i, stream[i]);
        std::vector<std::pair<size_t, int>> expected;
        if (c.mask)
            expected.emplace_back(c.byte, c.mask);
        EXPECT_EQ(set, expected) << name(c.width) << " " << name(c.layout) << " chips " << c.chips << " chip "
                                 << c.chip << " row " << c.row << " col " << c.col << " bit " << c.bit;
        if (c.layout == Layout::ToReadout) {
            EXPECT_EQ(stream[0], 0xFF) << "start byte";
        }
    }
}

// Pixel (chip, row, col) and bit that a stream cannot carry.
struct Lost {
    size_t chip, row, col;
    int bit;
    auto operator<=>(const Lost&) const = default;
};

// Block i of a 13-bit "Set matrix" stream is moved i bits toward its end, past it: bit 0 of the last i
// pixels of its row 255 is lost. The host moves block 0 of a 13-bit "Read matrix" stream of several
// chips one bit toward its end: bit 12 of its first pixel comes in as zero. Nothing else is lost. The
// tests run 1, 2 and 4 chips.
std::set<Lost> lostBits(size_t chips, CounterWidth w, Layout l)
{
    if (w != CounterWidth::Bits13 || chips < 2)
        return {};
    if (l == Layout::FromReadout)
        return {{0, 0, 0, 12}};
    if (chips == 2)
        return {{1, 255, 255, 0}};
    EXPECT_EQ(chips, 4u);
    return {
        {1, 255, 255, 0},
        {2, 255, 254, 0}, {2, 255, 255, 0},
        {3, 255, 253, 0}, {3, 255, 254, 0}, {3, 255, 255, 0},
    };
}

TEST_P(CounterStreams, RoundTripLosesOnlyTheBitsMovedOutOfABlock)
{
    for (CounterWidth w : kWidths)
        for (Layout l : kLayouts)
            for (size_t chips : {1u, 2u, 4u}) {
                const std::string what = std::string(name(w)) + " " + name(l) + " chips " + std::to_string(chips);
                // all ones shows every lost bit, random codes that nothing else moves
                for (int pattern = 0; pattern < 2; ++pattern) {
                    std::vector<uint16_t> codes =
                        pattern == 0 ? std::vector<uint16_t>(chips * kPixelsPerChip,
                                                             static_cast<uint16_t>(codec::codeCount(w) - 1))
                                     : randomCodes(chips, w, static_cast<unsigned>(chips * 31 + pattern));
                    std::vector<uint8_t> stream(codec::streamSize(chips, w, l), 0xAA);
                    ASSERT_TRUE(codec::streamFromMatrix(codes, chips, w, l, stream)) << what;
                    if (w == CounterWidth::Bits13 && l == Layout::ToReadout) {
                        // nothing moved into a block's leading gap, the next block's included
                        for (size_t chip = 0; chip < chips; ++chip) {
                            const auto gap = stream.begin() + 1 + static_cast<long>(chip * codec::kBlockBytes13);
                            EXPECT_TRUE(std::all_of(gap, gap + 8192, [](uint8_t b) { return b == 0; }))
                                << what << ": gap of block " << chip;
                        }
                    }
                    std::vector<uint16_t> back(codes.size(), 0x5555);
                    ASSERT_TRUE(codec::matrixFromStream(stream, chips, w, l, back)) << what;
                    std::set<Lost> differ;
                    for (size_t i = 0; i < codes.size(); ++i)
                        for (int bit = 0; bit < 16; ++bit)
                            if (((codes[i] ^ back[i]) >> bit) & 1)
                                differ.insert({i / kPixelsPerChip, (i % kPixelsPerChip) / 256, i % 256, bit});
                    const std::set<Lost> lost = lostBits(chips, w, l);
                    if (pattern == 0) {
                        EXPECT_TRUE(differ == lost) << what << ": " << differ.size() << " bits differ";
                    } else {
                        for (const Lost& d : differ)
                            EXPECT_TRUE(lost.count(d)) << what << ": chip " << d.chip << " row " << d.row
                                                       << " col " << d.col << " bit " << d.bit;
                    }
                }
            }
}

// Host -> readout -> host as a 4-chip box runs it: the host's "Set matrix" stream loaded into the chips,
// then read back with "Read matrix". Every count comes back, save bit 0 of the last i pixels of chip i
// of 13-bit chips (moved past the end of its block) and bit 12 of chip 0's first pixel (moved in as zero
// when read). Counts 0 are all ones in code, so a lost bit 0 shows as count 1 and the lost bit 12 as
// count 8000 (code 0x0FFF). The same holds in a longer buffer (a padded transfer), and nothing after the
// stream is written.
TEST_P(CounterStreams, CountsComeBackThroughTheReadout)
{
    for (CounterWidth w : kWidths)
        for (size_t chips : {1u, 2u, 4u})
            for (size_t spare : {0u, 3u})
                for (int pattern = 0; pattern < 2; ++pattern) {
                    const std::string what = std::string(name(w)) + " chips " + std::to_string(chips) +
                                             (spare ? " in a longer buffer" : "") + (pattern ? " random" : " zero");
                    std::vector<uint16_t> counts(chips * kPixelsPerChip, 0);
                    if (pattern) {
                        std::mt19937 gen(static_cast<unsigned>(chips));
                        std::uniform_int_distribution<uint32_t> d(0, codec::stateCount(w) - 1);
                        for (auto& x : counts)
                            x = static_cast<uint16_t>(d(gen));
                    }
                    const size_t size = codec::streamSize(chips, w, Layout::ToReadout);
                    std::vector<uint8_t> toBox(size + spare, 0xA5);
                    ASSERT_TRUE(codec::encodeMatrix(counts, chips, w, toBox)) << what;
                    EXPECT_TRUE(std::all_of(toBox.begin() + static_cast<long>(size), toBox.end(),
                                            [](uint8_t b) { return b == 0xA5; }))
                        << what << ": written past the stream";
                    std::vector<uint16_t> codes(counts.size());
                    ASSERT_TRUE(codec::matrixFromStream(toBox, chips, w, Layout::ToReadout, codes)) << what;
                    std::vector<uint8_t> fromBox(codec::streamSize(chips, w, Layout::FromReadout));
                    ASSERT_TRUE(codec::streamFromMatrix(codes, chips, w, Layout::FromReadout, fromBox)) << what;
                    std::vector<uint16_t> back(counts.size(), 0x5555);
                    codec::decodeMatrix(fromBox, chips, w, back);
                    const std::set<Lost> lost = lostBits(chips, w, Layout::ToReadout);
                    const bool firstLost = !lostBits(chips, w, Layout::FromReadout).empty();
                    size_t differ = 0;
                    for (size_t i = 0; i < counts.size(); ++i) {
                        const Lost at{i / kPixelsPerChip, (i % kPixelsPerChip) / 256, i % 256, 0};
                        if (lost.count(at)) {
                            if (pattern == 0) {
                                EXPECT_EQ(back[i], 1) << what << " pixel " << i;
                            }
                            continue;
                        }
                        if (i == 0 && firstLost) {
                            if (pattern == 0) {
                                EXPECT_EQ(back[i], 8000) << what << " pixel 0";
                            }
                            continue;
                        }
                        differ += back[i] != counts[i];
                    }
                    EXPECT_EQ(differ, 0u) << what;
                }
}

// The codec's list of what the layouts lose is the one above.
TEST(CounterStreamLosses, ListedForEveryWidthAndChipCount)
{
    for (CounterWidth w : kWidths)
        for (size_t chips : {1u, 2u, 4u}) {
            std::set<Lost> expected = lostBits(chips, w, Layout::ToReadout);
            for (const Lost& l : lostBits(chips, w, Layout::FromReadout))
                expected.insert(l);
            std::set<Lost> listed;
            for (const codec::LostBits& l : codec::layoutLosses(chips, w))
                for (int bit = 0; bit < 16; ++bit)
                    if ((l.bits >> bit) & 1)
                        listed.insert({l.pixel / kPixelsPerChip, (l.pixel % kPixelsPerChip) / 256, l.pixel % 256, bit});
            EXPECT_TRUE(listed == expected) << name(w) << " chips " << chips << ": " << listed.size() << " listed";
        }
}

std::string firstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& expected)
{
    if (got.size() != expected.size())
        return "size " + std::to_string(got.size()) + " instead of " + std::to_string(expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != expected[i])
            return "byte " + std::to_string(i) + " is " + std::to_string(got[i]) + ", expected " +
                   std::to_string(expected[i]);
    return "";
}

std::string firstDifference(const std::vector<uint16_t>& got, const std::vector<uint16_t>& expected)
{
    for (size_t i = 0; i < got.size() && i < expected.size(); ++i)
        if (got[i] != expected[i])
            return "pixel " + std::to_string(i) + " (chip " + std::to_string(i / kPixelsPerChip) + " row " +
                   std::to_string(i % kPixelsPerChip / 256) + " col " + std::to_string(i % 256) + ") is " +
                   std::to_string(got[i]) + ", expected " + std::to_string(expected[i]);
    return got.size() == expected.size() ? "" : "sizes differ";
}

// "Set matrix" streams worked out by hand: the host's counts encoded, and the codes packed, give them
// byte for byte, into a buffer of the stream's size and into a longer one (a transfer with room after
// the stream), whose bytes after the stream stay zero.
TEST_P(CounterStreams, HostStreamsAsWorkedOutByHand)
{
    for (const handstreams::Case& c : handstreams::hostStreams()) {
        const CounterWidth w = c.bits == 13 ? CounterWidth::Bits13 : CounterWidth::Bits14;
        ASSERT_EQ(codec::streamSize(c.chips, w, Layout::ToReadout), c.size) << c.name;
        const std::vector<uint8_t> expected = handstreams::bytesOf(c);
        for (size_t spare : {0u, 3u}) {
            const std::string what = std::string(c.name) + (spare ? " in a longer buffer" : "");
            std::vector<uint8_t> encoded(c.size + spare, 0);
            ASSERT_TRUE(codec::encodeMatrix(handstreams::countsOf(c), c.chips, w, encoded)) << what;
            std::vector<uint8_t> packed(c.size + spare, 0);
            ASSERT_TRUE(codec::streamFromMatrix(handstreams::codesOf(c), c.chips, w, Layout::ToReadout, packed))
                << what;
            for (size_t i = c.size; i < c.size + spare; ++i) {
                EXPECT_EQ(encoded[i], 0) << what << ": byte " << i << " after the stream";
                EXPECT_EQ(packed[i], 0) << what << ": byte " << i << " after the stream";
            }
            encoded.resize(c.size);
            packed.resize(c.size);
            EXPECT_EQ(firstDifference(encoded, expected), "") << what << " encoded";
            EXPECT_EQ(firstDifference(packed, expected), "") << what << " packed";
        }
        // The chips' side takes the same codes back, save the bits moved out of a block (count 0 then
        // reads as code 0x1FFE).
        std::vector<uint16_t> taken(c.chips * kPixelsPerChip);
        ASSERT_TRUE(codec::matrixFromStream(expected, c.chips, w, Layout::ToReadout, taken)) << c.name;
        std::vector<uint16_t> codes = handstreams::codesOf(c);
        for (const Lost& l : lostBits(c.chips, w, Layout::ToReadout))
            codes[l.chip * kPixelsPerChip + l.row * 256 + l.col] &= static_cast<uint16_t>(~(1u << l.bit));
        EXPECT_EQ(firstDifference(taken, codes), "") << c.name << " taken by the chips";
    }
}

// "Read matrix" streams worked out by hand, with leading bytes 0x00 and 0xFF: the counts and codes read
// from them, in the stream's own buffer and in a longer one; the readout's side sends the same bytes
// (its leading bytes zero).
TEST_P(CounterStreams, ReadoutStreamsAsWorkedOutByHand)
{
    for (uint8_t lead : {uint8_t{0x00}, uint8_t{0xFF}})
        for (const handstreams::Case& c : handstreams::readoutStreams(lead)) {
            const CounterWidth w = c.bits == 13 ? CounterWidth::Bits13 : CounterWidth::Bits14;
            const std::string what = std::string(c.name) + (lead ? ", leading bytes 0xFF" : ", leading bytes 0x00");
            ASSERT_EQ(codec::streamSize(c.chips, w, Layout::FromReadout), c.size) << what;
            std::vector<uint8_t> stream = handstreams::bytesOf(c);
            for (size_t spare : {0u, 3u}) {
                stream.resize(c.size + spare, 0xFF);
                std::vector<uint16_t> counts(c.chips * kPixelsPerChip, 0x5555);
                EXPECT_TRUE(codec::decodeMatrix(stream, c.chips, w, counts)) << what;
                EXPECT_EQ(firstDifference(counts, handstreams::countsOf(c)), "") << what << " spare " << spare;
                std::vector<uint16_t> codes(c.chips * kPixelsPerChip, 0x5555);
                ASSERT_TRUE(codec::matrixFromStream(stream, c.chips, w, Layout::FromReadout, codes)) << what;
                EXPECT_EQ(firstDifference(codes, handstreams::codesOf(c)), "") << what << " spare " << spare;
            }
            if (lead == 0) {
                std::vector<uint8_t> sent(c.size, 0x5A);
                ASSERT_TRUE(codec::streamFromMatrix(handstreams::codesOf(c), c.chips, w, Layout::FromReadout, sent));
                EXPECT_EQ(firstDifference(sent, handstreams::bytesOf(c)), "") << what << " sent by the readout";
            }
        }
}

TEST_P(CounterStreams, ShortBuffersAreRefusedAndNothingIsWritten)
{
    struct Case {
        const char* what;
        CounterWidth width;
        Layout layout;
        size_t chips;
        long valuesShort, streamShort;
    };
    const Case cases[] = {
        {"stream one byte short", CounterWidth::Bits13, Layout::ToReadout, 2, 0, 1},
        {"stream one byte short", CounterWidth::Bits14, Layout::FromReadout, 1, 0, 1},
        {"stream of one chip less", CounterWidth::Bits13, Layout::FromReadout, 4, 0, 114689},
        {"values one short", CounterWidth::Bits14, Layout::ToReadout, 1, 1, 0},
        {"no chips", CounterWidth::Bits13, Layout::ToReadout, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const size_t chips = c.chips ? c.chips : 1;
        std::vector<uint16_t> values(chips * kPixelsPerChip - c.valuesShort, 7);
        std::vector<uint8_t> stream(codec::streamSize(chips, c.width, c.layout) - c.streamShort, 0x33);
        const std::vector<uint16_t> valuesBefore = values;
        const std::vector<uint8_t> streamBefore = stream;
        EXPECT_FALSE(codec::streamFromMatrix(values, c.chips, c.width, c.layout, stream)) << c.what;
        EXPECT_FALSE(codec::matrixFromStream(stream, c.chips, c.width, c.layout, values)) << c.what;
        EXPECT_EQ(values, valuesBefore) << c.what;
        EXPECT_EQ(stream, streamBefore) << c.what;
        if (c.layout == Layout::ToReadout) {
            codec::StreamReport report;
            EXPECT_FALSE(codec::encodeMatrix(values, c.chips, c.width, stream, &report)) << c.what;
            EXPECT_FALSE(report.sizeOk) << c.what;
        } else {
            codec::StreamReport report;
            EXPECT_FALSE(codec::decodeMatrix(stream, c.chips, c.width, values, &report)) << c.what;
            EXPECT_FALSE(report.sizeOk) << c.what;
        }
        EXPECT_EQ(values, valuesBefore) << c.what;
        EXPECT_EQ(stream, streamBefore) << c.what;
    }
}

// The fast paths give what conversion and packing give one after the other.
TEST_P(CounterStreams, FastPathsMatchConvertThenPack)
{
    for (CounterWidth w : kWidths)
        for (size_t chips : {1u, 4u}) {
            const std::string what = std::string(name(w)) + " chips " + std::to_string(chips);
            std::mt19937 gen(static_cast<unsigned>(chips));
            std::uniform_int_distribution<uint32_t> d(0, codec::stateCount(w) - 1);
            std::vector<uint16_t> counts(chips * kPixelsPerChip);
            for (auto& x : counts)
                x = static_cast<uint16_t>(d(gen));
            counts[5] = static_cast<uint16_t>(codec::stateCount(w)); // refused
            counts[9] = 0;
            counts[10] = static_cast<uint16_t>(codec::stateCount(w) - 1);
            // Pixel 0 of a 13-bit readout stream of several chips comes back without bit 12: the last
            // count's code (0x0FFF) has it clear.
            counts[0] = static_cast<uint16_t>(codec::stateCount(w) - 1);

            std::vector<uint8_t> fast(codec::streamSize(chips, w, Layout::ToReadout));
            codec::StreamReport report;
            EXPECT_FALSE(codec::encodeMatrix(counts, chips, w, fast, &report)) << what;
            EXPECT_TRUE(report.sizeOk) << what;
            EXPECT_EQ(report.bad, 1u) << what;
            EXPECT_EQ(report.firstBadIndex, 5u) << what;

            std::vector<uint16_t> codes = counts;
            codec::convertCodes(codes, Direction::CountToCode, w);
            codes[5] = static_cast<uint16_t>(codec::codeCount(w) - 1); // a refused count is sent as all ones
            std::vector<uint8_t> slow(fast.size());
            ASSERT_TRUE(codec::streamFromMatrix(codes, chips, w, Layout::ToReadout, slow)) << what;
            EXPECT_TRUE(fast == slow) << what;

            // The readout's answer with the same codes decodes to the counts; the all-ones code of a
            // refused count is itself a valid count 0.
            std::vector<uint8_t> answer(codec::streamSize(chips, w, Layout::FromReadout));
            codes[7] = 0; // never reached by the counter
            ASSERT_TRUE(codec::streamFromMatrix(codes, chips, w, Layout::FromReadout, answer)) << what;
            std::vector<uint16_t> decoded(counts.size());
            EXPECT_FALSE(codec::decodeMatrix(answer, chips, w, decoded, &report)) << what;
            EXPECT_EQ(report.bad, 1u) << what;
            EXPECT_EQ(report.firstBadIndex, 7u) << what;
            EXPECT_EQ(report.firstBadValue, 0u) << what;
            std::vector<uint16_t> expected = counts;
            expected[5] = 0;
            expected[7] = kBadValue;
            EXPECT_TRUE(decoded == expected) << what;
        }
}

// Every vector path gives what the plain one gives, for every value the buffers can hold: every code of
// both widths (reached by the counter or not) unpacked and decoded, every 16-bit count (those past the
// last state included) encoded, and every valid count encoded in rows without a bad one (the 512-bit
// path computes their codes instead of looking them up); the plain path agrees with the single-value
// tables.
TEST(CounterPaths, EveryValueAsOnThePlainPath)
{
    struct Case {
        const char* what;
        CounterWidth width;
        Vectors path;
    };
    const Case cases[] = {
        {"13-bit, 256-bit vectors", CounterWidth::Bits13, Vectors::Avx2},
        {"14-bit, 256-bit vectors", CounterWidth::Bits14, Vectors::Avx2},
        {"13-bit, 512-bit vectors", CounterWidth::Bits13, Vectors::Avx512},
        {"14-bit, 512-bit vectors", CounterWidth::Bits14, Vectors::Avx512},
    };
    struct Results {
        std::vector<uint8_t> packed, encoded, encodedValid;
        std::vector<uint16_t> unpacked, decoded;
        codec::StreamReport encodeReport, decodeReport;
    };
    // One chip: the codes run through every value of the width several times, each time in other
    // columns; the counts are the pixel indices, 0 .. 0xFFFF, and the valid ones the indices modulo the
    // state count.
    auto run = [](CounterWidth w, Vectors path) {
        codec::detail::useVectors(path);
        std::vector<uint16_t> codes(kPixelsPerChip), counts(kPixelsPerChip), valid(kPixelsPerChip);
        for (size_t i = 0; i < kPixelsPerChip; ++i) {
            codes[i] = static_cast<uint16_t>((i * 4099) % codec::codeCount(w));
            counts[i] = static_cast<uint16_t>(i);
            valid[i] = static_cast<uint16_t>(i % codec::stateCount(w));
        }
        Results r;
        r.packed.resize(codec::streamSize(1, w, Layout::FromReadout));
        EXPECT_TRUE(codec::streamFromMatrix(codes, 1, w, Layout::FromReadout, r.packed));
        r.unpacked.resize(kPixelsPerChip);
        EXPECT_TRUE(codec::matrixFromStream(r.packed, 1, w, Layout::FromReadout, r.unpacked));
        r.decoded.resize(kPixelsPerChip);
        EXPECT_FALSE(codec::decodeMatrix(r.packed, 1, w, r.decoded, &r.decodeReport)); // unreached codes
        r.encoded.resize(codec::streamSize(1, w, Layout::ToReadout));
        EXPECT_FALSE(codec::encodeMatrix(counts, 1, w, r.encoded, &r.encodeReport)); // counts past the last
        r.encodedValid.resize(r.encoded.size());
        EXPECT_TRUE(codec::encodeMatrix(valid, 1, w, r.encodedValid));
        return std::make_pair(codes, r);
    };
    for (const Case& c : cases) {
        const auto [codes, plain] = run(c.width, Vectors::Plain);
        ASSERT_EQ(plain.unpacked, codes) << c.what;
        size_t unreached = 0;
        for (size_t i = 0; i < kPixelsPerChip; ++i) {
            ASSERT_EQ(plain.decoded[i], codec::codeToCount(c.width, codes[i])) << c.what << " pixel " << i;
            unreached += plain.decoded[i] == kBadValue;
        }
        EXPECT_EQ(plain.decodeReport.bad, unreached) << c.what;
        EXPECT_EQ(plain.encodeReport.bad, kPixelsPerChip - codec::stateCount(c.width)) << c.what;
        EXPECT_EQ(plain.encodeReport.firstBadIndex, codec::stateCount(c.width)) << c.what;
        std::vector<uint16_t> sent(kPixelsPerChip);
        ASSERT_TRUE(codec::matrixFromStream(plain.encoded, 1, c.width, Layout::ToReadout, sent)) << c.what;
        for (size_t i = 0; i < kPixelsPerChip; ++i) {
            const uint16_t code = codec::countToCode(c.width, static_cast<uint16_t>(i));
            ASSERT_EQ(sent[i], code == kBadValue ? codec::codeCount(c.width) - 1 : code) << c.what << " count " << i;
        }
        ASSERT_TRUE(codec::matrixFromStream(plain.encodedValid, 1, c.width, Layout::ToReadout, sent)) << c.what;
        for (size_t i = 0; i < kPixelsPerChip; ++i) {
            const uint16_t count = static_cast<uint16_t>(i % codec::stateCount(c.width));
            ASSERT_EQ(sent[i], codec::countToCode(c.width, count)) << c.what << " count " << count;
        }

        if (!codec::detail::vectorsAvailable(c.path)) {
            std::cout << c.what << ": not on this processor\n";
            continue;
        }
        const Results vec = run(c.width, c.path).second;
        EXPECT_TRUE(vec.packed == plain.packed) << c.what;
        EXPECT_TRUE(vec.unpacked == plain.unpacked) << c.what;
        EXPECT_TRUE(vec.decoded == plain.decoded) << c.what;
        EXPECT_TRUE(vec.encoded == plain.encoded) << c.what;
        EXPECT_TRUE(vec.encodedValid == plain.encodedValid) << c.what;
        for (const auto& [v, p] : {std::pair{vec.decodeReport, plain.decodeReport},
                                   std::pair{vec.encodeReport, plain.encodeReport}}) {
            EXPECT_EQ(v.bad, p.bad) << c.what;
            EXPECT_EQ(v.firstBadIndex, p.firstBadIndex) << c.what;
            EXPECT_EQ(v.firstBadValue, p.firstBadValue) << c.what;
        }
    }
    codec::detail::useVectors(Vectors::Avx512);
}

TEST(CounterTimer, TicksFromSeconds)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double seconds;
        int clock;
        uint64_t ticks;
    };
    const Case cases[] = {
        {1.0, 0, 19999894},          // floor(20e6 x (1 - 5.3e-6))
        {1.0, 2, 7999957},           // floor(8e6 x (1 - 5.3e-6))
        {0.5, 3, 9999894},
        {-2.0, 0, 19999894},         // a negative time counts as 1 s
        {nan, 0, 19999894},          // so does NaN
        {0.0, 0, 1},                 // fewer than 1 tick is 1
        {5.3e-6, 2, 1},
        {1e30, 0, codec::kMaxTimerTicks}, // clamped to 48 bits
        {inf, 2, codec::kMaxTimerTicks},
    };
    for (const Case& c : cases)
        EXPECT_EQ(codec::timerTicks(c.seconds, c.clock), c.ticks) << c.seconds << " s, clock " << c.clock;

    EXPECT_DOUBLE_EQ(codec::timerSeconds(20000000, 0), 1.0);
    EXPECT_DOUBLE_EQ(codec::timerSeconds(8000000, 2), 1.0);

    uint8_t bytes[6];
    codec::putTimer48(bytes, 0x0000010203040506ull);
    const uint8_t expected[6] = {0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_TRUE(std::equal(bytes, bytes + 6, expected));
    EXPECT_EQ(codec::getTimer48(bytes), 0x0000010203040506ull);
    codec::putTimer48(bytes, codec::kMaxTimerTicks);
    EXPECT_EQ(codec::getTimer48(bytes), codec::kMaxTimerTicks);
}

TEST(CounterChipboard, IdentifierText)
{
    EXPECT_EQ(codec::formatChipboardId('A', 3, 12), "A03-W0012");
    EXPECT_EQ(codec::formatChipboardId('K', 99, 1234), "K99-W1234");
    EXPECT_EQ(codec::formatChipboardId(0, 0, 0), "000-W000");
}

} // namespace
