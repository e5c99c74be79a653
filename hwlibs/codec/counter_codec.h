// The pixel counters of the readout chips and the bit streams that carry the matrix.
//
// A pixel counter is a linear feedback shift register: the chip hands out the register's state (the
// code), the count is the number of steps from the start state. Two widths exist: 13 bits (8001 states
// from 0x1FFF, new lowest bit = bit 9 XOR bit 12) and 14 bits (11811 states from 0x3FFF, new lowest bit =
// bit 0 XOR bit 13). The tables are built at compile time, so nothing is filled lazily and no thread can
// see a half-built table. A code that the register never reaches, and a count past the last state, turn
// into kBadValue (0xFFFF, above every count) and are counted as bad; the conversion then reports false
// but converts every other value.
//
// The matrix travels as bit planes: per chip 256 rows, each row a plane of 32 bytes per counter bit, the
// plane of the highest bit first, the 256 columns packed eight to a byte with column 0 in the most
// significant bit. Two layouts exist per width:
// - ToReadout, the stream the host sends ("Set matrix"): one start byte 0xFF, then one block per chip,
//   streamSize() bytes in all. 13 bits: blocks of 114688 bytes, cleared, rows from offset 8192 on, block
//   i then moved i bits toward its end within itself. 14 bits: blocks of 114720 bytes, rows from offset 0.
// - FromReadout, the stream the readout sends back ("Read matrix"): one leading byte per chip (skipped),
//   then the blocks, rows from offset 0. 13 bits with more than one chip: block i is moved (1 - i) bits
//   (toward its end when positive) within itself before its rows are read.
// Every move stays within its block: vacated bits are zero and the bits moved past the block's edge are
// lost; no bit is taken from or put into a leading byte, a gap or another block, so a stream written into
// a longer buffer (a transfer with room after it) is the same stream. The bits the two layouts cannot
// carry are listed by layoutLosses(). Both directions of both layouts are here, so that a simulated
// readout is the exact inverse of the host.
//
// Durations travel as 48-bit little-endian tick counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace codec {

enum class CounterWidth { Bits13 = 13, Bits14 = 14 };
enum class Direction { CodeToCount, CountToCode };
enum class Layout { ToReadout, FromReadout };

inline constexpr uint16_t kBadValue = 0xFFFF;
inline constexpr size_t kPixelsPerChip = 65536;
inline constexpr size_t kRowsPerChip = 256;
inline constexpr size_t kBlockBytes13 = 0x1C000; // 114688
inline constexpr size_t kBlockBytes14 = 114720;

// Number of counter states: 8001 or 11811 (counts 0 .. states-1 are valid).
constexpr uint32_t stateCount(CounterWidth width)
{
    return width == CounterWidth::Bits13 ? 8001u : 11811u;
}
// Number of codes of the width: 0x2000 or 0x4000.
constexpr uint32_t codeCount(CounterWidth width)
{
    return width == CounterWidth::Bits13 ? 0x2000u : 0x4000u;
}
constexpr size_t blockBytes(CounterWidth width)
{
    return width == CounterWidth::Bits13 ? kBlockBytes13 : kBlockBytes14;
}

// Single values: kBadValue for a code the register never reaches or out of range, and for a count at or
// past stateCount().
uint16_t codeToCount(CounterWidth width, uint16_t code);
uint16_t countToCode(CounterWidth width, uint16_t count);

// What a conversion found: the number of bad values and the first of them (its index and the value it had
// before it became kBadValue).
struct ConvertReport {
    size_t bad = 0;
    size_t firstBadIndex = 0;
    uint16_t firstBadValue = 0;
};

// Converts values in place; true when every value was valid. Bad values become kBadValue.
bool convertCodes(std::span<uint16_t> values, Direction direction, CounterWidth width,
                  ConvertReport* report = nullptr);

// Stream sizes of a layout for a chip count.
size_t streamSize(size_t chips, CounterWidth width, Layout layout);

// Packs codes (chips x 65536, row after row) into a stream of the layout; false (and nothing written)
// when a buffer is shorter than the chip count needs. The stream's first streamSize() bytes are written
// and nothing after them.
bool streamFromMatrix(std::span<const uint16_t> codes, size_t chips, CounterWidth width, Layout layout,
                      std::span<uint8_t> stream);
// Unpacks the codes of a stream of the layout; false (and nothing written) when a buffer is too short.
bool matrixFromStream(std::span<const uint8_t> stream, size_t chips, CounterWidth width, Layout layout,
                      std::span<uint16_t> codes);

// A pixel bit that the stream layouts cannot carry: pixel (chip-ordered index, chip x 65536 + row x 256 +
// column) and the code bits of it that a write followed by a read comes back without (as zeros). 13 bits
// with more than one chip only: writing, the move of block i (i >= 1) drops bit 0 of the last i pixels
// of its row 255; reading, the move of block 0 toward its end leaves bit 12 of its first pixel zero.
struct LostBits {
    size_t pixel;
    uint16_t bits;
};
std::vector<LostBits> layoutLosses(size_t chips, CounterWidth width);

// The host's fast paths: counts -> "Set matrix" stream and "Read matrix" stream -> counts, the conversion
// done in the same pass as the packing. false when a buffer is too short (sizeOk false, nothing
// written) or a value was bad (the stream or counts are complete, bad values as kBadValue).
struct StreamReport : ConvertReport {
    bool sizeOk = true;
    bool ok() const { return sizeOk && bad == 0; }
};
bool encodeMatrix(std::span<const uint16_t> counts, size_t chips, CounterWidth width, std::span<uint8_t> stream,
                  StreamReport* report = nullptr);
bool decodeMatrix(std::span<const uint8_t> stream, size_t chips, CounterWidth width, std::span<uint16_t> counts,
                  StreamReport* report = nullptr);

// Timer values. clockSetting 2 runs the timer at 8 MHz, every other setting at 20 MHz.
inline constexpr uint64_t kMaxTimerTicks = (uint64_t{1} << 48) - 1;
// ticks = floor(f x (seconds - 5.3e-6)); a negative or NaN time counts as 1 s, fewer than 1 tick is 1,
// more than kMaxTimerTicks is kMaxTimerTicks.
uint64_t timerTicks(double seconds, int clockSetting);
double timerSeconds(uint64_t ticks, int clockSetting);
void putTimer48(uint8_t out[6], uint64_t ticks); // little-endian, the low 48 bits
uint64_t getTimer48(const uint8_t in[6]);

// The chipboard identifier "%c%02d-W%04d" (letter, number, wafer); "000-W000" when the letter is 0 (unset).
std::string formatChipboardId(char letter, unsigned number, unsigned wafer);

namespace detail {
// The packing runs on the widest vectors the processor has (512-bit ones with byte permutations and the
// GF(2) affine instruction, else 256-bit ones). Tests choose each path to check them all; nothing else
// needs to. An unavailable choice takes the widest.
enum class Vectors { Plain, Avx2, Avx512 };
bool vectorsAvailable(Vectors v);
void useVectors(Vectors v);
} // namespace detail

} // namespace codec
