// Wire details of the readout box that are ours: the box's documentation does not fix them, the
// simulated box (sim/) follows them, and a real box that differs needs changes here only.
//
// Replies: the echoed command code, the parameters by the command's reply kind, a status text and a
// carriage return. Status "OK" means success; any other text is the box's error report.
//   n > 0  n bytes                      -1  16-bit little-endian length, then that many text bytes
//   -3     32-bit little-endian length, then the matrix stream (codec layout FromReadout)
//   -4     scope block: big-endian 16-bit (samples - 1), then the samples as big-endian 16-bit words
//   -5     chipboard identifier: letter, number, 16-bit little-endian wafer number (letter 0 = unset)
// Messages the box sends by itself, between replies:
//   kTextMessage  text, '\r'                                   ("Trigger detected", ...)
//   kFrameMessage 16-bit id, 6 timer bytes, then as -3, '\r'   (the frame of a timed exposure)
//   kScopeMessage as -4, '\r'                                  (the scope capture after a trigger)
//   the reply of "Interval measure" ('%': 6 timer bytes, status, '\r'), an interval the box measured;
//   it is a reply only while the library waits for that very command
// Requests: the code, then the parameter bytes of the layouts below (lengths as the command table,
// except "Set Tarvik DACs": 0xFF and 32 bytes per chip, and "Set matrix": the codec stream of layout
// ToReadout, exactly its streamSize() bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hwlibs/codec/counter_codec.h"

namespace usb::wire {

constexpr uint8_t kTerminator = '\r';
constexpr const char* kStatusOk = "OK";
constexpr size_t kMaxStatusText = 64;
constexpr size_t kMaxTextParameter = 1024;
constexpr size_t kMaxMessageText = 256;
constexpr size_t kMaxScopeSamples = 450;
constexpr uint32_t kMaxChips = 4;
constexpr uint8_t kTextMessage = 0x02;
constexpr uint8_t kFrameMessage = 0x03;
constexpr uint8_t kScopeMessage = 0x04;
constexpr uint8_t kIntervalMeasure = '%';

// The longest matrix stream a box may announce (4 chips of 14-bit blocks).
inline size_t maxMatrixStream()
{
    return codec::streamSize(kMaxChips, codec::CounterWidth::Bits14, codec::Layout::FromReadout);
}

// The sync reply: 36 parameter bytes, then "OK\r".
constexpr const char* kSyncString = "1234567890qwertyuiopasdfghjklzxcvbnmOK\r";
constexpr size_t kSyncLength = 39;

// Retries and times of the executor.
constexpr int kDefaultRetries = 3;
constexpr double kDefaultTimeout = 1.0;      // seconds for one reply
constexpr double kMatrixTimeout = 5.0;       // seconds for a reply that carries a matrix
constexpr double kSyncTimeout = 1.5;         // resynchronisation, when none is given
constexpr double kEmptyPollSleep = 0.001;    // between polls that found nothing

// USB ids of the box's serial chip, unless the ini gives others.
constexpr int kDefaultVendorId = 0x0403;
constexpr int kDefaultProductId = 0x6001;
constexpr const char* kBoxDescriptionPrefix = "Tarvik2 ";

// Counter width per chip type (1: 13 bits, 2 and 3: 14 bits) and clock per chip type [MHz].
codec::CounterWidth counterWidth(int chipType);
double clockMHz(int chipType);

// Pixel configuration byte -> pixel word of "Set matrix" per chip type, and back. The word goes through
// the stream as it is (a configuration load carries words, a counter load carries codes); the box takes
// the configuration from every load.
uint16_t pixelWord(int chipType, uint8_t cfg);
uint8_t pixelConfig(int chipType, uint16_t word);
constexpr uint8_t kCfgEnabled = 0x01;
constexpr uint8_t kCfgTestPulseOff = 0x02; // test-pulse input active low

// Timer requests ("Setup interval timer", "Setup interval and run ..."): timer number, 6 timer bytes.
std::array<uint8_t, 7> timerRequest(uint8_t timer, uint64_t ticks);

// "Set Tarvik DACs": 0xFF, then per chip 32 bytes: 15 DAC values of 12 bits packed from bit 0 upward
// (23 bytes), the sense selection, the switches (bit 0 sense on, bit 1 external DAC on), the external DAC
// code (16-bit little-endian), the test-pulse column mask (32-bit little-endian), one zero byte.
struct DacRecord {
    uint16_t dacs[15] = {};
    uint8_t sense = 0;
    bool senseOn = false;
    bool extDacOn = false;
    uint16_t extDacCode = 0;
    uint32_t testPulseColumns = 0;
};
constexpr size_t kDacBytesPerChip = 32;
std::vector<uint8_t> dacBlock(const std::vector<DacRecord>& chips);
bool parseDacBlock(const uint8_t* block, size_t size, std::vector<DacRecord>* chips);

// "Set interface DAC": channel, 12-bit code (16-bit little-endian).
std::array<uint8_t, 3> interfaceDacRequest(uint8_t channel, uint16_t code);
// "Generate test pulses, read matrix": period byte, (count - 1) as 16-bit little-endian.
std::array<uint8_t, 3> testPulseRequest(uint8_t periodByte, uint32_t count);
// "Scope configure": sample count (16-bit little-endian), two zero bytes.
std::array<uint8_t, 4> scopeRequest(uint16_t samples);
// "Pre-action delay": delay in microseconds (16-bit little-endian, clamped), flag byte.
std::array<uint8_t, 3> preActionRequest(double seconds, uint8_t flags);
// "Set bias voltage": volts in whole volts, clamped to 0..255.
uint8_t biasByte(double volts);

// "ADC monitor": 13 channels of 12 bits, each a 16-bit little-endian word, in this order.
enum AdcChannel {
    kAdcHv, kAdcLeakage, kAdcDac0, kAdcDac1, kAdcTvkSense, kAdcBsPreamp, kAdcVcc, kAdcVdd, kAdcVddBias,
    kAdcTemperature, kAdcChannels = 13
};

// Stopping a running acquisition, by acquisition mode and hardware timer: the commands in order.
std::string stopCommands(int acqMode, bool hwTimer);

} // namespace usb::wire
