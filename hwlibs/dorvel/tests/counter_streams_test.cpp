// The matrix streams of a DAQ-card transfer against streams worked out by hand: the library's write
// stream in the transfer buffer (one byte per chip longer than the stream, rounded up to words), whose
// bytes after the stream stay zero; the library's read of the readout's stream with leading bytes 0x00
// and 0xFF; and the simulated chips' side of both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "counter_streams.h"
#include "hwlibs/codec/counter_codec.h"
#include "hwlibs/codec/tests/hand_streams.h"
#include "wire.h"

namespace {

int chipTypeOf(const handstreams::Case& c)
{
    return c.bits == 13 ? 1 : 2;
}

size_t transferBytes(const handstreams::Case& c)
{
    return size_t{dorvel::wire::transferWords(static_cast<int>(c.chips), chipTypeOf(c))} * 2;
}

// Index of the first byte where the two differ from `from` on, or -1.
long firstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& expected, size_t from = 0)
{
    for (size_t i = from; i < expected.size(); ++i)
        if (i >= got.size() || got[i] != expected[i])
            return static_cast<long>(i);
    return -1;
}

TEST(DorvelCounterStreams, WriteStreamInTheTransferBuffer)
{
    for (const handstreams::Case& c : handstreams::hostStreams()) {
        const size_t size = transferBytes(c);
        ASSERT_GT(size, c.size) << c.name;
        std::vector<uint8_t> transfer(size, 0xA5);
        const std::vector<uint16_t> counts = handstreams::countsOf(c);
        ASSERT_TRUE(dorvel::encodeMatrix(counts.data(), static_cast<int>(c.chips), chipTypeOf(c), transfer.data(),
                                         size))
            << c.name;
        EXPECT_EQ(firstDifference(transfer, handstreams::bytesOf(c)), -1) << c.name;
        for (size_t i = c.size; i < size; ++i)
            EXPECT_EQ(transfer[i], 0) << c.name << ": byte " << i << " after the stream";
    }
}

TEST(DorvelCounterStreams, ReadStreamWithEitherLeadingBytes)
{
    for (uint8_t lead : {uint8_t{0x00}, uint8_t{0xFF}})
        for (const handstreams::Case& c : handstreams::readoutStreams(lead)) {
            const std::string what = std::string(c.name) + (lead ? ", leading bytes 0xFF" : ", leading bytes 0x00");
            std::vector<uint8_t> transfer = handstreams::bytesOf(c);
            transfer.resize(transferBytes(c), 0);
            std::vector<uint16_t> values(c.chips * 65536, 0x5555);
            int16_t bad = 0;
            EXPECT_TRUE(dorvel::decodeMatrix(transfer.data(), transfer.size(), static_cast<int>(c.chips),
                                             chipTypeOf(c), values.data(), &bad))
                << what << ", bad code " << bad;
            EXPECT_TRUE(values == handstreams::countsOf(c)) << what;
        }
}

// Chip 0's first pixel read from four 13-bit chips comes without its bit 12; where that leaves a code
// without a count (count 55, 0x1FE4, arrives as 0x0FE4), the pixel holds 0xFFFF and the frame stands. The
// same code anywhere else fails the read.
TEST(DorvelCounterStreams, CodeSpoiledByTheLayoutAloneDoesNotFailTheRead)
{
    const handstreams::Case base = handstreams::readoutStreams(0xFF)[2];
    ASSERT_EQ(base.chips, 4u);
    std::vector<uint8_t> transfer = handstreams::bytesOf(base);
    // bits 0, 1, 3 and 4 clear: bit k of pixel (0, 0) is the low bit of block byte 383 - 32k (block at 4)
    for (size_t k : {0u, 1u, 3u, 4u})
        transfer[4 + 383 - 32 * k] = 0xFE;
    transfer.resize(transferBytes(base), 0);
    std::vector<uint16_t> values(4 * 65536);
    int16_t bad = 0;
    EXPECT_TRUE(dorvel::decodeMatrix(transfer.data(), transfer.size(), 4, 1, values.data(), &bad));
    std::vector<uint16_t> expected = handstreams::countsOf(base);
    expected[0] = 0xFFFF;
    EXPECT_TRUE(values == expected);
    // The same code in chip 1's first pixel (its block in place, at 114692): plane k byte 0 at 384 - 32k.
    std::vector<uint8_t> other = handstreams::bytesOf(base);
    for (size_t k : {0u, 1u, 3u, 4u})
        other[114692 + 384 - 32 * k] = 0x7F;
    other[114692] = 0x7F; // bit 12 clear too: code 0x0FE4
    other.resize(transferBytes(base), 0);
    EXPECT_FALSE(dorvel::decodeMatrix(other.data(), other.size(), 4, 1, values.data(), &bad));
    EXPECT_EQ(bad, 0x0FE4);
}

// The simulated card's chips send what the hand streams hold (leading bytes zero) and take the counts
// of a write stream, save the bits the layout moves out of a block: count 0 there reads as count 1.
TEST(DorvelCounterStreams, SimulatedChipsSideOfBothStreams)
{
    for (const handstreams::Case& c : handstreams::readoutStreams(0x00)) {
        std::vector<uint8_t> sent(transferBytes(c), 0x5A);
        const std::vector<uint16_t> counts = handstreams::countsOf(c);
        dorvel::chipsSendMatrix(counts.data(), static_cast<int>(c.chips), chipTypeOf(c), sent.data(), sent.size());
        EXPECT_EQ(firstDifference(sent, handstreams::bytesOf(c)), -1) << c.name;
    }
    for (const handstreams::Case& c : handstreams::hostStreams()) {
        std::vector<uint8_t> stream = handstreams::bytesOf(c);
        stream.resize(transferBytes(c), 0);
        std::vector<uint16_t> taken(c.chips * 65536, 0x5555);
        ASSERT_TRUE(dorvel::chipsTakeMatrix(stream.data(), stream.size(), static_cast<int>(c.chips), chipTypeOf(c),
                                            taken.data()))
            << c.name;
        std::vector<uint16_t> expected = handstreams::countsOf(c);
        for (const codec::LostBits& l : codec::layoutLosses(c.chips, c.bits == 13 ? codec::CounterWidth::Bits13
                                                                                 : codec::CounterWidth::Bits14))
            if (l.bits == 1 && expected[l.pixel] == 0) // bit 0 of count 0's code lost: code 0x1FFE, count 1
                expected[l.pixel] = 1;
        EXPECT_TRUE(taken == expected) << c.name;
    }
}

} // namespace
