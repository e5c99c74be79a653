// The simulated card with its readout systems: up to 16 boards, each with the registers, reset and busy
// lines, the matrix port and the chips behind it, as wire.h and the register protocol describe them.
// Block transfers move words at the card's rate while the caller polls (0 words per second: at once).
// Exposure n of a board (counted from 0 since the card was made) leaves (7 row + 3 column + 1000 chip +
// n) mod 8001 (11811 for chip types 2 and 3) in every enabled pixel; matrices written are kept.
//
// Faults, per board, from tests (setFaults) or the settings file: a transfer that stops moving after n
// words, a slower rate, a driver call that fails by name, a wrong counter register, out-of-range codes.
// Every call on a board takes that board's lock only: boards are used from different threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dio/dio_card.h"

namespace dorvel {

struct SimCardConfig {
    int cards = 0; // boards 1..cards answer
    int16_t typeCode = 215;
    int chips = 1;
    int chipType = 1;
    char idLetter = 'A';
    int idNumber = 1;
    int idWafer = 1;
    uint32_t version = 0x712; // the driver's version
    double wordsPerSecond = 0.0;
};

struct SimFaults {
    int64_t stallAfterWords = -1; // a transfer moves no word past this many (-1: no stall)
    double wordsPerSecond = -1.0; // the rate of this board's transfers (negative: the card's)
    std::string failCall;         // driver call name (dioCallName) that fails
    int failAfter = 0;            // successful calls of that name before it fails
    int16_t failStatus = -10403;
    int32_t counterError = 0; // added to the counter register after matrix transfers
    uint32_t badCodes = 0;    // pixels of each matrix read sent with a code above every count
};

// One recorded driver call of a board (the recent ones are kept).
struct SimCall {
    DioCall call;
    int32_t a = 0, b = 0, c = 0;
    std::vector<uint16_t> words; // what a block write carried
};

class SimCard final : public DioCard {
public:
    explicit SimCard(const SimCardConfig& config);
    ~SimCard() override;

    int16_t driverVersion(uint32_t* raw) override;
    int16_t initBoard(uint16_t board, int16_t* typeCode) override;
    int16_t portConfig(uint16_t board, int16_t port, int16_t mode, int16_t dir) override;
    int16_t lineConfig(uint16_t board, int16_t port, int16_t line, int16_t dir) override;
    int16_t portOut(uint16_t board, int16_t port, int32_t pattern) override;
    int16_t groupConfig(uint16_t board, int16_t group, int16_t size, int16_t port, int16_t dir) override;
    int16_t groupMode(uint16_t board, int16_t group, int16_t type, int16_t edge, int16_t reqPolarity,
                      int16_t ackPolarity, int16_t settleTime) override;
    int16_t setDeviceInfo(uint16_t board, uint32_t infoType, uint32_t value) override;
    int16_t blockIn(uint16_t board, int16_t group, uint16_t* buffer, uint32_t count) override;
    int16_t blockOut(uint16_t board, int16_t group, const uint16_t* buffer, uint32_t count) override;
    int16_t blockCheck(uint16_t board, int16_t group, uint32_t* remaining) override;
    int16_t blockClear(uint16_t board, int16_t group) override;
    int16_t lineOut(uint16_t board, int16_t port, int16_t line, int16_t state) override;
    int16_t lineIn(uint16_t board, int16_t port, int16_t line, int16_t* state) override;
    uint16_t* allocateBuffer(size_t words) override;
    void releaseBuffer(uint16_t* buffer) override;
    bool hasBoards() const override { return config_.cards > 0; }

    // ---- for tests; board 0 means every board ----
    const SimCardConfig& config() const { return config_; }
    void setFaults(uint16_t board, const SimFaults& faults);
    std::vector<SimCall> calls(uint16_t board) const;
    void clearCalls(uint16_t board);
    uint32_t registerValue(uint16_t board, int reg) const;
    void setRegister(uint16_t board, int reg, uint32_t value);
    int groupSize(uint16_t board) const; // 0 when the handshake group is released
    int resetPulses(uint16_t board, int line) const;
    std::vector<uint16_t> counts(uint16_t board) const;          // chips x 65536 counter values
    void setCounts(uint16_t board, const std::vector<uint16_t>& counts);
    std::vector<uint8_t> pixelCfg(uint16_t board) const;         // chips x 65536 bytes
    std::vector<uint16_t> dacWords(uint16_t board) const;        // register-3 words of the last load
    int exposures(uint16_t board) const;
    long liveBuffers() const;

private:
    struct Board;
    Board* board(uint16_t number) const; // null for a number without a card
    int16_t fail(Board& b, DioCall call);

    SimCardConfig config_;
    std::vector<std::unique_ptr<Board>> boards_;
    mutable std::mutex buffersMutex_; // guards liveBuffers_ only
    long liveBuffers_ = 0;
};

// The settings of the [SimCard] section of the library's settings file (missing keys: the defaults) and
// the faults it names for the board FaultBoard (0: every board).
void readSimCardSettings(const std::string& iniPath, SimCardConfig* config, SimFaults* faults, int* faultBoard);

} // namespace dorvel
