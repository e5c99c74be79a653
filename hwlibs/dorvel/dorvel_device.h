// One readout system behind one board of the card: the device record, the register protocol
// (register_protocol.cpp, matrix_transfer.cpp), the sequences this library fixes for itself (dac_loading.cpp,
// acquisition.cpp) and the hardware functions on the hardware-library kit (dorvel_device.cpp).
//
// The kit holds the device's call lock for every hardware function, so the record needs no lock of its
// own; boards share only the card object, whose calls are safe from several threads, and the debug log.
// The record lives until the library is unloaded: hwCloseDevice releases the transfer buffer and hwInit
// takes the board up again under the same id.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "debug_log.h"
#include "dio/dio_card.h"
#include "hwlibs/common/hw_items.h"
#include "tvk_hw.h"

namespace dorvel {

// Results of the protocol and of the hardware functions.
enum HwReturnCode {
    kOk = 0,
    kErrGeneric = -1,
    kErrMemory = -2,
    kErrParam = -3,
    kErrTimeout = -4,
    kErrCounter = -5,
    kErrConversion = -6,
    kErrNoCard = -7,
    kErrNidaq = -10,
};

// The limits of one block transfer, handed to each: it ends when it has run `time` seconds, or when its
// remaining count has not changed for `noProgress` seconds.
struct TransferLimits {
    double time = 1.0;
    double noProgress = 0.01;
};
constexpr double kTransferTimeLimit = 1.0; // [s] a busy wait ends then
constexpr double kSpeedTestLimit = 17.0;   // [s] the time limit of the clock measurement's long read
constexpr uint32_t kSpeedTestWords = 1000000;
// "Dorvel clock" [MHz] of a read of words that took elapsedSeconds; 0 when no time (or less) elapsed.
double transferClockMHz(uint32_t words, double elapsedSeconds);
constexpr int kHwInfoCount = 14;
constexpr size_t kLastErrorSize = 257; // 256 characters and the terminating zero

// What a device shares with its library.
struct DeviceContext {
    std::shared_ptr<DioCard> card;
    std::shared_ptr<DebugLog> log;
    std::string iniPath; // the library's settings file ([Force]); empty: nothing forced
    uint32_t driverVersion = 0;
    std::string driverVersionText; // "%d.%d%d"
};

class DorvelDevice : public hwkit::ItemDevice {
public:
    DorvelDevice(DeviceContext context, uint16_t board, const char* boardName);
    ~DorvelDevice() override;

    // ---- hardware functions ----
    int init() override; // hwInit: initHw
    int closeDevice() override;
    int getDevInfo(_DevInfo* info) override;
    int getAcqTime(double* time) override;
    int setAcqPars(const _AcqPars* pars) override;
    int startAcquisition() override;
    int stopAcquisition() override;
    int checkBusy(int* busy) override;
    int testPulses(double height, double period, uint32_t count) override;
    int setTvkDacs(const uint16_t* dacs, int dacCount, int senseOn, int extDacOn, const int* dacCodes,
                   uint32_t testPulseColumns) override;
    int getTvkDacVal(int chip, double* value) override;
    int setExtDac(double value) override;
    int setPixelsCfg(const uint8_t* cfg, uint32_t size) override;
    int resetMatrix() override;
    int readMatrix(uint16_t* buffer, uint32_t count) override;
    int writeMatrix(const uint16_t* buffer, uint32_t count) override;
    int generalReset() override;

    uint16_t board() const { return board_; }

    // ---- the register protocol ----
    int initBoard();
    int writeRegister(int reg, uint32_t value);
    int readRegister(int reg, uint32_t* value);
    int configGroup(int cfg);
    int readData(uint32_t count, uint16_t* buffer, TransferLimits limits = {});
    int writeData(uint32_t count, const uint16_t* buffer, TransferLimits limits = {});
    int resetLine(int line);
    int waitForBusy(int state, double timeLimit = kTransferTimeLimit);
    int checkBusyLine(int* busy);
    int getDorvelVersion();
    int readSpeedTest();
    int generalResetSequence();
    int readChipId();
    int counterCheck(uint32_t value, uint32_t expected);
    uint16_t controlWord() const;

    // ---- record fields shown to tests ----
    int chips() const { return devInfo_.chipCount; }
    int chipType() const { return devInfo_.chipType; }
    int32_t extDacShadow() const { return extDacShadow_; }
    double clockMHz() const { return clockMHz_; }
    bool isOpen() const { return transfer_ != nullptr; }
    void setTracing(bool on) { tracing_ = on ? 1 : 0; }
    // The record as a test or an enumeration left it: chip data without a hwInit.
    void setChipData(int chips, int chipType);

    // Sets the error text (at most 256 characters) and a trace line; returns code.
    [[gnu::format(printf, 3, 4)]] int fail(int code, const char* format, ...);
    [[gnu::format(printf, 2, 3)]] void trace(const char* format, ...);

private:
    int nidaq(DioCall call, int16_t status);
    int blockTransfer(bool read, uint32_t count, uint16_t* inBuffer, const uint16_t* outBuffer, TransferLimits limits);
    int sendMatrixCommand(uint16_t word);
    void readForce(int* tvkVersion, int* numberOfChips, std::string* chipId);
    void releaseBuffers();
    int loadDacs(const int* bits, int count, const uint16_t* dacs, int senseOn, int extDacOn, const int* dacCodes,
                 uint32_t testPulseColumns);
    int setTvkDACs(const uint16_t* dacs, int senseOn, int extDacOn, const int* dacCodes, uint32_t columns);
    int setTvkDACsZRN(const uint16_t* dacs, int senseOn, int extDacOn, const int* dacCodes, uint32_t columns);
    int setSrnDACs(const uint16_t* dacs, int senseOn, int extDacOn, const int* dacCodes, uint32_t columns);
    uint32_t pixelCount() const { return static_cast<uint32_t>(devInfo_.chipCount) * 65536u; }

    DeviceContext context_;
    DioCard& card_;
    const uint16_t board_;

    _DevInfo devInfo_{};
    _AcqPars acqPars_{0, 0, 1, ACQMODE_MANUAL, 0.0};
    int32_t nidaqError_ = 0;
    int32_t tracing_ = 0;
    int32_t extDacShadow_ = 0;
    bool testPulseFlag_ = false;
    uint16_t* transfer_ = nullptr; // the matrix transfer buffer, transferWords_ long; null while closed
    uint32_t transferWords_ = 0;
    double clockMHz_ = 0.0;
    double startTime_ = 0.0;  // monotonic seconds of the last start
    double acqTime_ = 0.0;    // the last exposure's measured duration [s]
    bool exposing_ = false;
    uint16_t versionWord_ = 0; // register 9 as last read

    // Hardware-info item values.
    uint32_t nidaqVersionRaw_ = 0;
    // "Nidaq version": a string item of text length + 1 elements of the string type's element size, so the
    // text is kept zero-padded to that many bytes (the device-control library reads count x element size).
    static constexpr size_t kVersionTextMax = 15;
    char nidaqVersion_[(kVersionTextMax + 1) * 4] = {};
    int32_t boardNumber_ = 0;
    char boardName_[16] = "";
    uint8_t dorvelMajor_ = 0;
    uint8_t dorvelMinor_ = 0;
    int32_t resetDorvel_ = 1;
    int32_t resetTvk_ = 0;
    uint32_t pixCfgDelay_ = 0;
    int32_t parallelReset_ = 0;
    uint32_t ctprOverride_ = 0;
};

} // namespace dorvel
