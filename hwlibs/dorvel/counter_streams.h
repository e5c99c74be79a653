// The matrix streams of a transfer, on the shared counter codec: what the library sends and reads, and
// the chips' side of the same streams for the simulated card. Streams are byte strings of the transfer
// length (wire.h); a write stream shorter than it is padded with zeros.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dorvel {

// Pixel values of `chips` chips (65536 each) from a read stream; false when a code had no count (that
// pixel then holds 0xFFFF) or the stream is too short. *badValue receives the first code without a count.
// A pixel whose code only lacks a count because the layout cannot carry one of its bits holds 0xFFFF
// without failing the read.
bool decodeMatrix(const uint8_t* stream, size_t size, int chips, int chipType, uint16_t* values,
                  int16_t* badValue);
// The write stream of the pixel values, the bytes of `size` after it zero; false when a value is above
// every count or the stream is short.
bool encodeMatrix(const uint16_t* values, int chips, int chipType, uint8_t* stream, size_t size);

// ---- the chips' side, for the simulated card ----
// The read stream that the chips send for these counts; a count of 0xFFFF is sent as a code without a count.
void chipsSendMatrix(const uint16_t* counts, int chips, int chipType, uint8_t* stream, size_t size);
// The counts that a write stream loads into the chips; false when the stream is short.
bool chipsTakeMatrix(const uint8_t* stream, size_t size, int chips, int chipType, uint16_t* counts);

} // namespace dorvel
