// The register protocol against the simulated card: the register access sequences, block transfers that
// stall or meet a failing driver call (the handshake group is released on every path), the counter
// check, matrix transfers through the counter codec, the external DAC and the general reset.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "hwlibs/codec/counter_codec.h"
#include "rig.h"
#include "wire.h"

namespace {

using namespace dorvel_test;

TEST(RegisterAccess, WritesAndReadsFollowTheSequenceOfEachRegister)
{
    struct Case {
        int reg;
        uint32_t value;
        std::vector<uint16_t> words; // what the write sends after 0xA0 | reg
        uint32_t readBack;           // what a read of the same register gives
    };
    const Case cases[] = {
        {1, 0x2080, {0x2080, 0x2080}, 0x2080},
        {4, 0x12345678, {0x1234, 0x5678}, 0x5678},
        {8, 0xCAFEBABE, {0xCAFE, 0xBABE}, 0xBABE},
        {6, 0x0001FFF6, {0xFFF6, 0xFFF6}, 0xFFF6},
        {2, 0x00ABCDEF, {0xCDEF, 0xCDEF}, 0x00ABCDEF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("register " + std::to_string(c.reg));
        Rig rig(cardConfig(1, 1, 1));
        ASSERT_EQ(rig.device().writeRegister(c.reg, c.value), 0);
        const auto writes = rig.writesTo(0xA0 | c.reg);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0], c.words);

        // Register 2 is read high half first; the card holds what the test puts there.
        rig.card->setRegister(1, c.reg, c.reg == 2 ? c.readBack : c.value);
        rig.card->clearCalls(1);
        uint32_t value = 0;
        ASSERT_EQ(rig.device().readRegister(c.reg, &value), 0);
        EXPECT_EQ(value, c.readBack);
        const auto calls = rig.card->calls(1);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0].call, DioCall::PortOut);
        EXPECT_EQ(calls[0].b, 0x80 | c.reg);
        EXPECT_EQ(rig.card->groupSize(1), 0);
    }
}

TEST(BlockTransfer, StallEndsWithTimeoutClearsTheBlockAndReleasesTheGroup)
{
    struct Case {
        bool read;
        const char* text;
    };
    const Case cases[] = {
        {true, "Operation timeout (readData), byte remains: 1"},
        {false, "Operation timeout (writeData), byte remains: 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Rig rig(cardConfig(1, 1, 1));
        SimFaults faults;
        faults.stallAfterWords = 1;
        rig.card->setFaults(1, faults);
        uint32_t value = 0;
        const int r = c.read ? rig.device().readRegister(9, &value) : rig.device().writeRegister(6, 5);
        EXPECT_EQ(r, kErrTimeout);
        EXPECT_STREQ(rig.device().lastError(), c.text);
        EXPECT_TRUE(rig.called(DioCall::BlockClear));
        EXPECT_EQ(rig.card->groupSize(1), 0);
    }
}

TEST(BlockTransfer, FailingDriverCallGivesItsNameAndStillReleasesTheGroup)
{
    struct Case {
        const char* call;
        bool read;
        bool clears; // the running block is cleared
    };
    const Case cases[] = {
        {"DIG_Grp_Mode", true, false},       {"Set_DAQ_Device_Info", true, false},
        {"DIG_Block_In", true, false},       {"DIG_Block_Out", false, false},
        {"DIG_Block_Check", true, true},     {"DIG_Block_Check", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + (c.read ? " read" : " write"));
        Rig rig(cardConfig(1, 1, 1));
        SimFaults faults;
        faults.failCall = c.call;
        faults.failStatus = -10608;
        rig.card->setFaults(1, faults);
        uint32_t value = 0;
        const int r = c.read ? rig.device().readRegister(9, &value) : rig.device().writeRegister(6, 5);
        EXPECT_EQ(r, kErrNidaq);
        EXPECT_EQ(std::string(rig.device().lastError()),
                  std::string("Nidaq call of ") + c.call + " failed, error code: -10608");
        EXPECT_EQ(rig.card->groupSize(1), 0);
        EXPECT_EQ(rig.called(DioCall::BlockClear), c.clears);
        // The "Nidaq error" item shows the failure's status, not that of the release after it.
        int32_t shown = 0;
        HwInfoItem item{};
        item.data = &shown;
        int size = sizeof shown;
        ASSERT_EQ(rig.device().getHwInfo(2, &item, &size), 0);
        EXPECT_EQ(shown, -10608);
    }
}

TEST(BlockTransfer, FailingPortOrLineCallIsReported)
{
    for (const char* call : {"DIG_Out_Prt", "DIG_Out_Line", "DIG_In_Line"}) {
        SCOPED_TRACE(call);
        Rig rig(cardConfig(1, 1, 1));
        SimFaults faults;
        faults.failCall = call;
        rig.card->setFaults(1, faults);
        int busy = 0;
        const int r = std::string(call) == "DIG_Out_Prt"    ? rig.device().writeRegister(1, 0)
                      : std::string(call) == "DIG_Out_Line" ? rig.device().resetLine(2)
                                                            : rig.device().checkBusyLine(&busy);
        EXPECT_EQ(r, kErrNidaq);
        EXPECT_EQ(std::string(rig.device().lastError()),
                  std::string("Nidaq call of ") + call + " failed, error code: -10403");
    }
}

TEST(Lines, ResetAndBusyLinesTakeOnlyTheirParameters)
{
    Rig rig(cardConfig(1, 1, 1));
    EXPECT_EQ(rig.device().resetLine(4), kErrParam);
    EXPECT_STREQ(rig.device().lastError(), "Invalid parameter: 4 (resetLine)");
    EXPECT_EQ(rig.device().resetLine(-1), kErrParam);
    EXPECT_EQ(rig.device().waitForBusy(2), kErrParam);
    EXPECT_STREQ(rig.device().lastError(), "Invalid parameter: 2 (waitForBusy)");

    // Lines 0-2 are pulsed low then high, line 3 high then low.
    rig.card->clearCalls(1);
    for (int line = 0; line < 4; ++line)
        ASSERT_EQ(rig.device().resetLine(line), 0);
    std::vector<std::vector<int>> pulses;
    for (const SimCall& call : rig.card->calls(1))
        if (call.call == DioCall::LineOut)
            pulses.push_back({call.a, call.b, call.c});
    const std::vector<std::vector<int>> expected = {{3, 0, 0}, {3, 0, 1}, {3, 1, 0}, {3, 1, 1},
                                                    {3, 2, 0}, {3, 2, 1}, {3, 3, 1}, {3, 3, 0}};
    EXPECT_EQ(pulses, expected);
    for (int line = 0; line < 4; ++line)
        EXPECT_EQ(rig.card->resetPulses(1, line), 1);
}

TEST(ExtDac, VoltsBecomeRegisterSixWritesAndTheLoadStrobe)
{
    struct Case {
        double volts;
        std::vector<uint32_t> writes;
        int32_t shadow;
    };
    const Case cases[] = {
        {-1.0, {0}, 0},
        {0.0, {6, 14}, 14},
        {2.2, {4095 * 16 + 6, 4095 * 16 + 14}, 4095 * 16 + 14},
        {3.0, {4095 * 16 + 6, 4095 * 16 + 14}, 4095 * 16 + 14},
        {1.1, {2048 * 16 + 6, 2048 * 16 + 14}, 2048 * 16 + 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volts);
        Rig rig(cardConfig(1, 1, 1));
        ASSERT_EQ(rig.device().setExtDac(c.volts), 0);
        std::vector<uint32_t> writes;
        for (const auto& words : rig.writesTo(0xA6))
            writes.push_back(words.at(0));
        EXPECT_EQ(writes, c.writes);
        EXPECT_EQ(rig.device().extDacShadow(), c.shadow);
    }
}

TEST(GeneralReset, RestoresTheExternalDacBetweenResetPulses)
{
    Rig rig(cardConfig(1, 1, 1));
    ASSERT_EQ(rig.device().generalResetSequence(), 0);
    EXPECT_TRUE(rig.writesTo(0xA6).empty()); // no DAC set: nothing to restore
    EXPECT_EQ(rig.card->resetPulses(1, wire::kLineGeneral), 3);

    ASSERT_EQ(rig.device().setExtDac(0.0), 0);
    rig.card->clearCalls(1);
    ASSERT_EQ(rig.device().generalResetSequence(), 0);
    const auto writes = rig.writesTo(0xA6);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].at(0), 6u);
    EXPECT_EQ(writes[1].at(0), 14u);
}

// ---- matrix transfers ----

std::vector<uint16_t> randomMatrix(size_t pixels, uint32_t modulo, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> values(0, modulo - 1);
    std::vector<uint16_t> matrix(pixels);
    for (uint16_t& v : matrix)
        v = static_cast<uint16_t>(values(rng));
    return matrix;
}

struct Shape {
    int chips;
    int chipType;
};
// Four 13-bit chips move their blocks by different bit counts, each within its block: a few pixel bits
// cannot be carried (codec::layoutLosses). Those pixels are given counts whose codes lack such bits, so
// every shape comes back exactly.
const Shape kShapes[] = {{1, 1}, {4, 1}, {4, 2}, {2, 3}};

void avoidLayoutLosses(std::vector<uint16_t>& counts, int chips, int chipType)
{
    const codec::CounterWidth width = chipType == 1 ? codec::CounterWidth::Bits13 : codec::CounterWidth::Bits14;
    for (const codec::LostBits& lost : codec::layoutLosses(static_cast<size_t>(chips), width))
        while (codec::countToCode(width, counts[lost.pixel]) & lost.bits)
            counts[lost.pixel] = static_cast<uint16_t>((counts[lost.pixel] + 1u) % codec::stateCount(width));
}

TEST(Matrix, WrittenMatrixReadsBackAndStaysOnTheChips)
{
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(std::to_string(s.chips) + " chips of type " + std::to_string(s.chipType));
        Rig rig(cardConfig(1, s.chips, s.chipType));
        ASSERT_EQ(rig.device().init(), 0) << rig.device().lastError();
        const uint32_t pixels = static_cast<uint32_t>(s.chips) * 65536;
        const uint32_t modulo = s.chipType == 1 ? 8001 : 11811;
        std::vector<uint16_t> written = randomMatrix(pixels, modulo, static_cast<unsigned>(s.chips * 10 + s.chipType));
        avoidLayoutLosses(written, s.chips, s.chipType);
        ASSERT_EQ(rig.device().writeMatrix(written.data(), pixels), 0) << rig.device().lastError();
        std::vector<uint16_t> read(pixels, 0xAAAA);
        ASSERT_EQ(rig.device().readMatrix(read.data(), pixels), 0) << rig.device().lastError();
        EXPECT_TRUE(read == written);
        EXPECT_TRUE(rig.card->counts(1) == written);
    }
}

TEST(Matrix, CounterCheckAllowsTwoClocksEitherWay)
{
    struct Case {
        int chipType;
        int32_t error;
        bool passes;
    };
    const Case cases[] = {{1, 0, true},  {1, 2, true},  {1, -2, true}, {1, 3, false}, {1, -3, false},
                          {2, 0, true},  {2, 2, true},  {2, 3, false}, {3, -2, true}, {3, -3, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.chipType) + " " + std::to_string(c.error));
        Rig rig(cardConfig(1, 2, c.chipType));
        ASSERT_EQ(rig.device().init(), 0) << rig.device().lastError();
        SimFaults faults;
        faults.counterError = c.error;
        rig.card->setFaults(1, faults);
        std::vector<uint16_t> read(2 * 65536);
        const int r = rig.device().readMatrix(read.data(), 2 * 65536);
        const uint32_t expected = c.chipType == 1 ? 2 * 917512u : 2 * 917768u;
        if (c.passes) {
            EXPECT_EQ(r, 0) << rig.device().lastError();
            continue;
        }
        EXPECT_EQ(r, kErrCounter);
        char text[128];
        std::snprintf(text, sizeof text, "Counter check failed, value: %u, expected: %u +- 2",
                      static_cast<uint32_t>(static_cast<int64_t>(expected) + c.error), expected);
        EXPECT_STREQ(rig.device().lastError(), text);
    }
}

TEST(Matrix, CodeWithoutCountIsAConversionError)
{
    for (const Shape& s : {Shape{1, 1}, Shape{4, 2}}) {
        SCOPED_TRACE(s.chipType);
        Rig rig(cardConfig(1, s.chips, s.chipType));
        ASSERT_EQ(rig.device().init(), 0) << rig.device().lastError();
        SimFaults faults;
        faults.badCodes = 3;
        rig.card->setFaults(1, faults);
        const uint32_t pixels = static_cast<uint32_t>(s.chips) * 65536;
        std::vector<uint16_t> read(pixels);
        EXPECT_EQ(rig.device().readMatrix(read.data(), pixels), kErrConversion);
        int code = 0;
        ASSERT_EQ(std::sscanf(rig.device().lastError(), "Unexpected value: %d for conversion", &code), 1)
            << rig.device().lastError();
        const auto width = s.chipType == 1 ? codec::CounterWidth::Bits13 : codec::CounterWidth::Bits14;
        EXPECT_EQ(codec::codeToCount(width, static_cast<uint16_t>(code)), codec::kBadValue);
    }
}

TEST(Matrix, RefusesShortBuffersAndValuesAboveEveryCount)
{
    Rig rig(cardConfig(1, 1, 1));
    ASSERT_EQ(rig.device().init(), 0) << rig.device().lastError();
    std::vector<uint16_t> matrix(65536, 5);
    EXPECT_EQ(rig.device().readMatrix(matrix.data(), 65535), kErrParam);
    EXPECT_STREQ(rig.device().lastError(), "Supplied buffer is too small, size: 65535, required: 65536");
    EXPECT_EQ(rig.device().writeMatrix(matrix.data(), 100), kErrParam);
    EXPECT_STREQ(rig.device().lastError(), "Supplied buffer is too small, size: 100, required: 65536");
    matrix[77] = 8001;
    EXPECT_EQ(rig.device().writeMatrix(matrix.data(), 65536), kErrConversion);
    EXPECT_STREQ(rig.device().lastError(), "Unexpected value: 8001 for conversion");
    EXPECT_EQ(rig.card->counts(1)[0], 0); // nothing was sent
}

TEST(Matrix, StalledReadPulsesTheReadoutResetAndKeepsItsError)
{
    Rig rig(cardConfig(1, 1, 1));
    ASSERT_EQ(rig.device().init(), 0) << rig.device().lastError();
    SimFaults faults;
    faults.stallAfterWords = 1000;
    rig.card->setFaults(1, faults);
    const int resets = rig.card->resetPulses(1, wire::kLineReadout);
    std::vector<uint16_t> read(65536);
    EXPECT_EQ(rig.device().readMatrix(read.data(), 65536), kErrTimeout);
    char text[96];
    std::snprintf(text, sizeof text, "Operation timeout (readData), byte remains: %u", wire::transferWords(1, 1) - 1000);
    EXPECT_STREQ(rig.device().lastError(), text);
    EXPECT_EQ(rig.card->resetPulses(1, wire::kLineReadout), resets + 2); // before the command and after the failure
}

// Every failure once a matrix transfer has been commanded (the matrix port's address, the transfer, the
// counter-register read, the counter check) pulses the readout reset line before it returns, and the
// error stays the failure's own. Without the closing pulse a failed read shows one pulse (the one before
// the command) and a failed write none.
TEST(Matrix, FailedTransferPulsesTheReadoutResetBeforeReturning)
{
    struct Case {
        const char* what;
        bool write;
        const char* failCall; // fails after failAfter successful calls of its name
        int failAfter;
        int32_t counterError;
        int code;
        const char* text;
    };
    // DIG_Out_Prt of a matrix transfer: the control register twice, the matrix port, the counter register.
    const char* const outFailed = "Nidaq call of DIG_Out_Prt failed, error code: -10403";
    const Case cases[] = {
        {"read: matrix port address", false, "DIG_Out_Prt", 2, 0, kErrNidaq, outFailed},
        {"read: counter-register read", false, "DIG_Out_Prt", 3, 0, kErrNidaq, outFailed},
        {"read: counter check", false, "", 0, 9, kErrCounter, "Counter check failed, value: 917521, expected: 917512 +- 2"},
        {"write: matrix port address", true, "DIG_Out_Prt", 2, 0, kErrNidaq, outFailed},
        {"write: counter-register read", true, "DIG_Out_Prt", 3, 0, kErrNidaq, outFailed},
        {"write: counter check", true, "", 0, -3, kErrCounter, "Counter check failed, value: 917509, expected: 917512 +- 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(cardConfig(1, 1, 1));
        ASSERT_EQ(rig.device().init(), 0) << rig.device().lastError();
        SimFaults faults;
        faults.failCall = c.failCall;
        faults.failAfter = c.failAfter;
        faults.counterError = c.counterError;
        rig.card->setFaults(1, faults);
        const int resets = rig.card->resetPulses(1, wire::kLineReadout);
        std::vector<uint16_t> matrix(65536, 5);
        const int r = c.write ? rig.device().writeMatrix(matrix.data(), 65536)
                              : rig.device().readMatrix(matrix.data(), 65536);
        EXPECT_EQ(r, c.code);
        EXPECT_STREQ(rig.device().lastError(), c.text);
        EXPECT_EQ(rig.card->resetPulses(1, wire::kLineReadout), resets + 2) << "one pulse in the sequence, one after the failure";
    }
}

} // namespace
