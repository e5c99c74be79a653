#include "wire.h"

#include <bit>

namespace dorvel::wire {

static_assert(std::endian::native == std::endian::little, "the byte order of streams assumes a little-endian host");

namespace {

constexpr int kLetterAt = 0, kLetterBits = 8;
constexpr int kNumberAt = 8, kNumberBits = 7;
constexpr int kWaferAt = 15, kWaferBits = 12;

uint32_t bitsAt(const uint16_t* words, size_t first, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        const size_t bit = first + static_cast<size_t>(i);
        value |= static_cast<uint32_t>((words[bit / 16] >> (bit % 16)) & 1u) << i;
    }
    return value;
}

void putBits(uint16_t* words, size_t first, int count, uint64_t value)
{
    for (int i = 0; i < count; ++i) {
        const size_t bit = first + static_cast<size_t>(i);
        const uint16_t mask = static_cast<uint16_t>(1u << (bit % 16));
        if ((value >> i) & 1u)
            words[bit / 16] = static_cast<uint16_t>(words[bit / 16] | mask);
        else
            words[bit / 16] = static_cast<uint16_t>(words[bit / 16] & ~mask);
    }
}

} // namespace

bool gatherChipId(const uint16_t* words, size_t count, int chip, ChipIdFields* fields)
{
    if (chip < 0)
        return false;
    const size_t first = static_cast<size_t>(chip) * kChipIdBits;
    if (first + kChipIdBits > count * 16)
        return false;
    fields->letter = static_cast<int>(bitsAt(words, first + kLetterAt, kLetterBits));
    fields->number = static_cast<int>(bitsAt(words, first + kNumberAt, kNumberBits));
    fields->wafer = static_cast<int>(bitsAt(words, first + kWaferAt, kWaferBits));
    return true;
}

void scatterChipId(uint16_t* words, size_t count, int chip, const ChipIdFields& fields)
{
    const size_t first = static_cast<size_t>(chip) * kChipIdBits;
    if (chip < 0 || first + kChipIdBits > count * 16)
        return;
    putBits(words, first, kChipIdBits, 0);
    putBits(words, first + kLetterAt, kLetterBits, static_cast<uint32_t>(fields.letter));
    putBits(words, first + kNumberAt, kNumberBits, static_cast<uint32_t>(fields.number));
    putBits(words, first + kWaferAt, kWaferBits, static_cast<uint32_t>(fields.wafer));
}

} // namespace dorvel::wire
