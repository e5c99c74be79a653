// What the register protocol leaves open and this library fixes for itself (ours): the registers and
// control-word bits beyond the protocol's, the roles of the four reset lines, the byte order in a word,
// the matrix transfer length and the bit layout of the chip-ID stream. The simulated card follows this
// header; a real readout system that differs changes it here and nowhere else.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dorvel::wire {

// ---- registers of the protocol ----
constexpr int kRegControl = 1;
constexpr int kRegCounter = 2;
constexpr int kRegTimer = 4; // 32 bits (ours: exposure time and test-pulse period in microseconds)
constexpr int kRegExtDac = 6;
constexpr int kRegCtpr = 8; // 32 bits (ours: the column test-pulse mask, sent with the DACs)
constexpr int kRegVersion = 9;
// ---- ours ----
constexpr int kRegPulseCount = 7; // test pulses of the next train (16 bits)
constexpr int kRegDacWord = 3; // one DAC: value bits 0-9, DAC index bits 10-13, chip bits 14-15
constexpr int kRegDacLoad = 5; // sense word of one chip (below); the write after the last chip's loads
constexpr int kRegAdc = 10;    // kRegAdc + chip: the 12-bit ADC code of the chip's sensed DAC

constexpr int kAddressRead = 0x80;
constexpr int kAddressWrite = 0xA0;
constexpr int kMatrixRead = 0x90;
constexpr int kMatrixWrite = 0xB0;

// ---- ports and lines ----
constexpr int kAddressPort = 2;
constexpr int kLinePort = 3;
constexpr int kBusyLine = 5;
constexpr int kDataGroup = 1;

// ---- control word (register 1) ----
constexpr uint16_t kCtlBase = 0x2080;
constexpr uint16_t kCtlParallelReset = 0x1000;
constexpr uint16_t kCtlTestPulse = 0x0200;
constexpr uint16_t kCtlHwTimer = 0x0020;
constexpr uint16_t kCtlGo = 0x2000; // cleared in the second write of a command: the readout system starts it
constexpr uint16_t kCtlWrite = 0x4000;
constexpr uint16_t kCtlChipId = 0x8000;
// ours: what the readout system does when the command starts
constexpr uint16_t kCtlExpose = 0x0001;   // open the shutter; with kCtlHwTimer for register 4 microseconds
constexpr uint16_t kCtlPixelCfg = 0x0002; // the matrix write carries pixel configuration bytes
constexpr uint16_t kCtlPulses = 0x0004;   // a train of register-8 test pulses, register-4 microseconds apart

// ---- reset lines (ours); lines 0-2 are pulsed low, line 3 high ----
constexpr int kLineMatrix = 0;  // clears the pixel counters
constexpr int kLineReadout = 1; // resets the readout system's sequencer (the "DORVEL" reset)
constexpr int kLineChips = 2;   // resets the chips
constexpr int kLineGeneral = 3; // resets the chips and the sequencer; registers 4, 7 and 8 read 0 after it;
                                // the external DAC takes register 6 again at its next load strobe (bit 3)

// ---- register 9 (ours): low byte the readout system's version, bits 8-11 chip count, 12-15 chip type ----
constexpr int versionChips(uint16_t word) { return (word >> 8) & 0xF; }
constexpr int versionChipType(uint16_t word) { return (word >> 12) & 0xF; }

// ---- byte order (ours): byte 2k of a stream is the low byte of word k ----
inline uint8_t* bytesOf(uint16_t* words) { return reinterpret_cast<uint8_t*>(words); }
inline const uint8_t* bytesOf(const uint16_t* words) { return reinterpret_cast<const uint8_t*>(words); }

// ---- matrix transfers (ours): every chip sends its block with one leading byte ----
constexpr uint32_t kChipBlockBytes13 = 114688;
constexpr uint32_t kChipBlockBytes14 = 114720;
constexpr uint32_t chipStreamBytes(int chipType) { return (chipType < 2 ? kChipBlockBytes13 : kChipBlockBytes14) + 1; }
// Words of one matrix transfer in either direction; a write's stream is padded with zeros to it.
constexpr uint32_t transferWords(int chips, int chipType)
{
    return (static_cast<uint32_t>(chips) * chipStreamBytes(chipType) + 1) / 2;
}
// The counter-register value of a complete matrix transfer: the bits the chips shifted.
constexpr uint32_t matrixCounter(int chips, int chipType)
{
    return static_cast<uint32_t>(chips) * (chipType < 2 ? 917512u : 917768u);
}
// Pixel configuration (ours): one byte per pixel through the matrix port; the counter register then
// holds eight clocks per byte.
constexpr uint32_t kChipPixels = 65536;
constexpr uint32_t pixelCfgWords(int chips) { return static_cast<uint32_t>(chips) * kChipPixels / 2; }
constexpr uint32_t pixelCfgCounter(int chips) { return static_cast<uint32_t>(chips) * kChipPixels * 8; }

// ---- chip ID (ours): 33 bits per chip, chip 0 first, each word's bit 0 first; per chip the letter's
// character code in bits 0-7, the number in bits 8-14, the wafer in bits 15-26, the rest zero ----
constexpr int kChipIdBits = 33;
constexpr uint32_t chipIdWords(int chips)
{
    return std::min<uint32_t>((static_cast<uint32_t>(chips) * kChipIdBits + 1) / 2, 128);
}
struct ChipIdFields {
    int letter = 0;
    int number = 0;
    int wafer = 0;
};
// The fields of chip `chip` from the words read; false when the words do not hold its bits.
bool gatherChipId(const uint16_t* words, size_t count, int chip, ChipIdFields* fields);
// The inverse, for the simulated card.
void scatterChipId(uint16_t* words, size_t count, int chip, const ChipIdFields& fields);

} // namespace dorvel::wire
