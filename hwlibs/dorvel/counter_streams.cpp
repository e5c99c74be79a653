#include "counter_streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "hwlibs/codec/counter_codec.h"

namespace dorvel {

namespace {

codec::CounterWidth widthOf(int chipType)
{
    return chipType < 2 ? codec::CounterWidth::Bits13 : codec::CounterWidth::Bits14;
}

// A code that no count reaches, sent for a pixel the simulated card spoils on purpose.
uint16_t unreachedCode(codec::CounterWidth width)
{
    for (uint32_t code = codec::codeCount(width); code-- > 0;)
        if (codec::codeToCount(width, static_cast<uint16_t>(code)) == codec::kBadValue)
            return static_cast<uint16_t>(code);
    return 0;
}

} // namespace

bool decodeMatrix(const uint8_t* stream, size_t size, int chips, int chipType, uint16_t* values, int16_t* badValue)
{
    const size_t pixels = static_cast<size_t>(chips) * codec::kPixelsPerChip;
    codec::StreamReport report;
    const bool ok = codec::decodeMatrix({stream, size}, static_cast<size_t>(chips), widthOf(chipType),
                                        {values, pixels}, &report);
    *badValue = static_cast<int16_t>(report.firstBadValue);
    if (ok || !report.sizeOk || report.bad > 16)
        return ok;
    // A code that the stream's layout itself spoiled (a bit it cannot carry, such as bit 12 of chip 0's
    // first pixel read from several 13-bit chips) is no fault of the transfer: that pixel alone holds
    // 0xFFFF and the frame stands. Any other code without a count fails the read.
    const auto lost = codec::layoutLosses(static_cast<size_t>(chips), widthOf(chipType));
    for (size_t i = 0; i < pixels; ++i)
        if (values[i] == codec::kBadValue &&
            std::none_of(lost.begin(), lost.end(), [i](const codec::LostBits& l) { return l.pixel == i; }))
            return false;
    return true;
}

bool encodeMatrix(const uint16_t* values, int chips, int chipType, uint8_t* stream, size_t size)
{
    const size_t pixels = static_cast<size_t>(chips) * codec::kPixelsPerChip;
    const codec::CounterWidth width = widthOf(chipType);
    const bool ok = codec::encodeMatrix({values, pixels}, static_cast<size_t>(chips), width, {stream, size});
    // The transfer is longer than the stream: the chips are clocked on through zeros.
    const size_t used = codec::streamSize(static_cast<size_t>(chips), width, codec::Layout::ToReadout);
    if (ok && size > used)
        std::memset(stream + used, 0, size - used);
    return ok;
}

void chipsSendMatrix(const uint16_t* counts, int chips, int chipType, uint8_t* stream, size_t size)
{
    const codec::CounterWidth width = widthOf(chipType);
    const size_t pixels = static_cast<size_t>(chips) * codec::kPixelsPerChip;
    const uint16_t spoiled = unreachedCode(width);
    std::vector<uint16_t> codes(pixels);
    for (size_t i = 0; i < pixels; ++i)
        codes[i] = counts[i] == codec::kBadValue ? spoiled : codec::countToCode(width, counts[i]);
    codec::streamFromMatrix(codes, static_cast<size_t>(chips), width, codec::Layout::FromReadout, {stream, size});
}

bool chipsTakeMatrix(const uint8_t* stream, size_t size, int chips, int chipType, uint16_t* counts)
{
    const codec::CounterWidth width = widthOf(chipType);
    const size_t pixels = static_cast<size_t>(chips) * codec::kPixelsPerChip;
    std::vector<uint16_t> codes(pixels);
    if (!codec::matrixFromStream({stream, size}, static_cast<size_t>(chips), width, codec::Layout::ToReadout, codes))
        return false;
    for (size_t i = 0; i < pixels; ++i)
        counts[i] = codec::codeToCount(width, codes[i]);
    return true;
}

} // namespace dorvel
