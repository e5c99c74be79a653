// The hardware functions of one device and the enumeration on the simulated card: hwInit with the chip
// data read from the card or forced by the settings file, chip-board ids, hardware-info items, exposures
// and their time, DAC loading, board records kept across enumerations and reconnections, and the clock
// measurement beside a slow transfer of another board.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "dorvel_library.h"
#include "ombrel_test_support.h"
#include "platform/clock.h"
#include "rig.h"
#include "wait_until.h"
#include "wire.h"

namespace {

using namespace dorvel_test;

// Settings files of the tests, in one scratch folder removed when the program ends.
struct IniFolder {
    std::string dir = ombrel_test::scratchDir("dorvel-device-ini");
    ~IniFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

std::string writeIni(const std::string& tag, const std::string& text)
{
    static IniFolder folder;
    static int serial = 0;
    const std::string path = folder.dir + "/" + tag + std::to_string(serial++) + ".ini";
    ombrel_test::writeFile(path, text);
    return path;
}

TEST(Init, ChipBoardIdFollowsTheChipTypeAndTheWaferRule)
{
    struct Case {
        int chipType;
        int chips;
        int board;
        char letter;
        int number;
        int wafer;
        const char* id;
    };
    const Case cases[] = {
        {1, 1, 1, 'K', 7, 2100, "1001"},
        {1, 4, 3, 'K', 7, 2100, "1003"},
        {2, 1, 1, 'K', 7, 2100, "K07 - W0052"}, // 0x834: bit 0x10 set, 2048 taken off
        {2, 4, 1, 'K', 7, 1040, "K07 - W1040"}, // 0x410: below 2048, kept
        {2, 2, 1, 'K', 7, 4095, "K07 - W4095"},
        {3, 4, 2, 'B', 12, 2064, "B12 - W0016"},
        {2, 1, 1, 'Z', 99, 2047, "Z99 - W2047"}, // bit 0x10 set below 2048
        {3, 1, 1, 'C', 5, 3008, "C05 - W3008"},  // bit 0x10 not set
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        SimCardConfig config = cardConfig(c.board, c.chips, c.chipType);
        config.idLetter = c.letter;
        config.idNumber = c.number;
        config.idWafer = c.wafer;
        Rig rig(config);
        DorvelDevice& device = rig.device(c.board);
        ASSERT_EQ(device.init(), 0) << device.lastError();
        _DevInfo info{};
        ASSERT_EQ(device.getDevInfo(&info), 0);
        EXPECT_STREQ(info.chipboardId, c.id);
        EXPECT_EQ(info.chipCount, c.chips);
        EXPECT_EQ(info.chipType, c.chipType);
        EXPECT_EQ(info.pixelCount, c.chips * 65536);
        EXPECT_STREQ(info.interfaceName, "dorvel");
        EXPECT_EQ(info.acqModeMask, 17u);
        EXPECT_EQ(info.callbackSupported, 0);
    }
}

TEST(Init, ForcedChipDataReplacesWhatTheCardTells)
{
    struct Case {
        const char* force;
        int chips;
        int chipType;
        const char* id;
        bool chipIdRead;
    };
    const Case cases[] = {
        {"", 4, 2, "K07 - W0052", true},
        {"NumberOfChips = 1\nChipID = X01 - W0001\n", 1, 2, "X01 - W0001", false},
        {"TvkVersion = 3\n", 4, 3, "K07 - W0052", true},
        {"TvkVersion = 1\n", 4, 1, "1001", false},
        {"NumberOfChips = 0\nChipID =\n", 4, 2, "K07 - W0052", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.force);
        SimCardConfig config = cardConfig(1, 4, 2);
        config.idLetter = 'K';
        config.idNumber = 7;
        config.idWafer = 2100;
        Rig rig(config, writeIni("force", std::string("[Force]\n") + c.force));
        ASSERT_EQ(rig.device().init(), 0) << rig.device().lastError();
        _DevInfo info{};
        rig.device().getDevInfo(&info);
        EXPECT_EQ(info.chipCount, c.chips);
        EXPECT_EQ(info.chipType, c.chipType);
        EXPECT_STREQ(info.chipboardId, c.id);
        bool chipIdRead = false;
        for (const auto& words : rig.writesTo(0xA1))
            chipIdRead = chipIdRead || (words.at(0) & wire::kCtlChipId);
        EXPECT_EQ(chipIdRead, c.chipIdRead);
    }
}

TEST(Init, RefusesChipDataOutsideWhatItDrives)
{
    struct Case {
        int cardChips;
        int cardType;
        const char* force;
        const char* text;
    };
    const Case cases[] = {
        {0, 1, "", "Invalid parameter, number of chips: 0 (supported: 1-4)"},
        {5, 1, "", "Invalid parameter, number of chips: 5 (supported: 1-4)"},
        {1, 4, "", "Invalid parameter, chip type: 4 (supported: 1, 2, 3)"},
        {1, 1, "NumberOfChips = 9\n", "Invalid parameter, number of chips: 9 (supported: 1-4)"},
        {1, 1, "TvkVersion = -2\n", "Invalid parameter, chip type: -2 (supported: 1, 2, 3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Rig rig(cardConfig(1, c.cardChips, c.cardType), writeIni("refuse", std::string("[Force]\n") + c.force));
        EXPECT_EQ(rig.device().init(), kErrParam);
        EXPECT_STREQ(rig.device().lastError(), c.text);
        EXPECT_FALSE(rig.device().isOpen());
    }
}

// ---- hardware-info items ----

TEST(Items, NamesTypesFlagsAndValues)
{
    Rig rig(cardConfig(1, 1, 1, 2e6));
    DorvelDevice& device = rig.device();
    ASSERT_EQ(device.init(), 0) << device.lastError();
    struct Case {
        const char* name;
        uint32_t type;
        uint32_t count;
        uint32_t flags;
    };
    const Case cases[kHwInfoCount] = {
        {"Nidaq version raw", TYPE_U32, 1, 0}, {"Nidaq version", TYPE_STRING, 5, 0},
        {"Nidaq error", TYPE_I32, 1, 0},       {"Board num", TYPE_I32, 1, 0},
        {"Board name", TYPE_CHAR, 16, 0},      {"Dorvel major ver.", TYPE_BYTE, 1, 0},
        {"Dorvel minor ver.", TYPE_BYTE, 1, 0}, {"Dorvel clock", TYPE_DOUBLE, 1, 0},
        {"Reset DORVEL", TYPE_BOOL, 1, 3},     {"Reset Tvk", TYPE_BOOL, 1, 3},
        {"PixCfg delay", TYPE_U32, 1, 3},      {"Parallel reset", TYPE_BOOL, 1, 3},
        {"Tracing", TYPE_BOOL, 1, 3},          {"CTPR overide", TYPE_U32, 1, 2},
    };
    for (int i = 0; i < kHwInfoCount; ++i) {
        SCOPED_TRACE(cases[i].name);
        unsigned char data[64] = {};
        HwInfoItem item{};
        item.data = data;
        int size = sizeof data;
        ASSERT_EQ(device.getHwInfo(i, &item, &size), 0) << device.lastError();
        EXPECT_STREQ(item.name, cases[i].name);
        EXPECT_EQ(item.type, cases[i].type);
        EXPECT_EQ(item.count, cases[i].count);
        EXPECT_EQ(item.flags, cases[i].flags);
        uint32_t flags = 99;
        ASSERT_EQ(device.getHwInfoFlags(i, &flags), 0);
        EXPECT_EQ(flags, cases[i].flags);
        if (i == 1) {
            EXPECT_STREQ(reinterpret_cast<char*>(data), "7.12");
        }
        if (i == 4) {
            EXPECT_STREQ(reinterpret_cast<char*>(data), "DAQCard-6533");
        }
        if (i == 7) {
            double clock = 0;
            std::memcpy(&clock, data, sizeof clock);
            EXPECT_GT(clock, 0.0);
        }
    }
}

TEST(Items, RefusesBadIndicesBuffersAndSizes)
{
    Rig rig(cardConfig(1, 1, 1));
    DorvelDevice& device = rig.device();
    uint32_t value = 0;
    HwInfoItem item{};
    item.data = &value;
    for (int index : {14, -1, 1000}) {
        SCOPED_TRACE(index);
        const std::string text =
            "Invalid parameter, HwInfoItem index (" + std::to_string(index) + ") out of range";
        int size = 4;
        uint32_t flags = 0;
        EXPECT_EQ(device.getHwInfo(index, &item, &size), kErrParam);
        EXPECT_EQ(device.lastError(), text);
        EXPECT_EQ(device.getHwInfoFlags(index, &flags), kErrParam);
        EXPECT_EQ(device.lastError(), text);
        EXPECT_EQ(device.setHwInfo(index, &value, 4), kErrParam);
        EXPECT_EQ(device.lastError(), text);
    }
    int size = 3;
    EXPECT_EQ(device.getHwInfo(10, &item, &size), kErrParam);
    EXPECT_STREQ(device.lastError(), "Supplied buffer is too small, size: 3, required: 4");
    EXPECT_EQ(size, 4); // the caller learns the size it needs
    EXPECT_EQ(device.setHwInfo(10, &value, 2), kErrParam);
    EXPECT_STREQ(device.lastError(), "Invalid parameter, data size for HwInfoItem: 2, required: 4");
    EXPECT_EQ(device.setHwInfo(7, &value, 4), kErrParam);
    EXPECT_STREQ(device.lastError(), "Invalid parameter, data size for HwInfoItem: 4, required: 8");
    double clock = 5;
    EXPECT_EQ(device.setHwInfo(7, &clock, 8), kErrParam); // read-only
    const uint32_t delay = 7;
    ASSERT_EQ(device.setHwInfo(10, &delay, 4), 0);
    size = 4;
    ASSERT_EQ(device.getHwInfo(10, &item, &size), 0);
    EXPECT_EQ(value, 7u);
}

TEST(Items, ParallelResetAndCtprOverrideReachTheWords)
{
    Rig rig(cardConfig(1, 1, 1));
    DorvelDevice& device = rig.device();
    ASSERT_EQ(device.init(), 0) << device.lastError();
    EXPECT_EQ(device.controlWord(), 0x2080);
    const int32_t on = 1;
    ASSERT_EQ(device.setHwInfo(11, &on, 4), 0);
    EXPECT_EQ(device.controlWord(), 0x3080);

    std::vector<uint16_t> dacs(13, 100);
    ASSERT_EQ(device.setTvkDacs(dacs.data(), 13, 0, 0, nullptr, 0x55), 0) << device.lastError();
    EXPECT_EQ(rig.writesTo(0xA8).back(), (std::vector<uint16_t>{0, 0x55}));
    const uint32_t ctpr = 0x12345678;
    ASSERT_EQ(device.setHwInfo(13, &ctpr, 4), 0);
    ASSERT_EQ(device.setTvkDacs(dacs.data(), 13, 0, 0, nullptr, 0x55), 0) << device.lastError();
    EXPECT_EQ(rig.writesTo(0xA8).back(), (std::vector<uint16_t>{0x1234, 0x5678}));
}

// ---- acquisition settings, DACs, exposures ----

TEST(Acquisition, OnlyManualAndFixedExternalShutterModes)
{
    Rig rig(cardConfig(1, 1, 1));
    for (int mode : {1, 16}) {
        const _AcqPars pars{1, 0, 1, mode, 0.1};
        EXPECT_EQ(rig.device().setAcqPars(&pars), 0);
    }
    for (int mode : {0, 2, 4, 8, 17}) {
        const _AcqPars pars{1, 0, 1, mode, 0.1};
        EXPECT_EQ(rig.device().setAcqPars(&pars), kErrParam);
        EXPECT_EQ(rig.device().lastError(), "Unsupported acq. type: " + std::to_string(mode) + ".");
    }
}

TEST(Dacs, ArrayMustHoldEveryChipsDacs)
{
    struct Case {
        int chips;
        int chipType;
        int perChip;
    };
    for (const Case& c : {Case{1, 1, 13}, Case{4, 2, 15}, Case{2, 3, 14}}) {
        SCOPED_TRACE(c.chipType);
        Rig rig(cardConfig(1, c.chips, c.chipType));
        DorvelDevice& device = rig.device();
        ASSERT_EQ(device.init(), 0) << device.lastError();
        const int required = c.chips * c.perChip;
        std::vector<uint16_t> dacs(static_cast<size_t>(required) + 1, 3);
        EXPECT_EQ(device.setTvkDacs(dacs.data(), required - 1, 0, 0, nullptr, 0), kErrParam);
        EXPECT_EQ(device.lastError(), "Invalid size of array of dacValues, size: " + std::to_string(required - 1) +
                                          ", required: " + std::to_string(required) + ".");
        EXPECT_EQ(device.setTvkDacs(dacs.data(), required + 1, 0, 0, nullptr, 0), kErrParam);
        for (int i = 0; i < required; ++i)
            dacs[static_cast<size_t>(i)] = static_cast<uint16_t>(i % 16);
        ASSERT_EQ(device.setTvkDacs(dacs.data(), required, 1, 0, nullptr, 0), 0) << device.lastError();
        const std::vector<uint16_t> words = rig.card->dacWords(1);
        ASSERT_EQ(words.size(), static_cast<size_t>(required));
        for (int i = 0; i < required; ++i) {
            EXPECT_EQ(words[static_cast<size_t>(i)] & 0x3FF, i % 16);
            EXPECT_EQ((words[static_cast<size_t>(i)] >> 10) & 0xF, i % c.perChip);
            EXPECT_EQ(words[static_cast<size_t>(i)] >> 14, i / c.perChip);
        }
        dacs[0] = 300; // above 8 bits
        EXPECT_EQ(device.setTvkDacs(dacs.data(), required, 0, 0, nullptr, 0), kErrParam);
    }
}

uint16_t patternAt(int chip, int row, int col, int exposure, uint32_t modulo)
{
    return static_cast<uint16_t>((7u * row + 3u * col + 1000u * chip + static_cast<uint32_t>(exposure)) % modulo);
}

TEST(Acquisition, ExposuresLeaveThePatternWithAndWithoutTheHardwareTimer)
{
    Rig rig(cardConfig(1, 2, 2));
    DorvelDevice& device = rig.device();
    ASSERT_EQ(device.init(), 0) << device.lastError();
    std::vector<uint8_t> cfg(2 * 65536, 1);
    cfg[5] = 0; // masked
    ASSERT_EQ(device.setPixelsCfg(cfg.data(), static_cast<uint32_t>(cfg.size())), 0) << device.lastError();
    EXPECT_EQ(rig.card->pixelCfg(1), cfg);

    for (int hwTimer : {1, 0}) {
        SCOPED_TRACE(hwTimer);
        const int exposure = rig.card->exposures(1);
        const _AcqPars pars{hwTimer, 0, 1, ACQMODE_MANUAL, 0.02};
        ASSERT_EQ(device.setAcqPars(&pars), 0);
        ASSERT_EQ(device.resetMatrix(), 0);
        const double beforeStart = plat::monotonicSeconds();
        ASSERT_EQ(device.startAcquisition(), 0) << device.lastError();
        int busy = 0;
        ASSERT_EQ(device.checkBusy(&busy), 0);
        // Without the timer the exposure runs until the stop; with it, it is surely still running only if
        // the question came within its time (a loaded machine may have run this thread later).
        if (!hwTimer || plat::monotonicSeconds() - beforeStart < pars.acqTime) {
            EXPECT_EQ(busy, hwTimer);
        }
        int checked = 0;
        EXPECT_TRUE(ombrel_test::waitUntil([&] { return (checked = device.checkBusy(&busy)) != 0 || !busy; }));
        ASSERT_EQ(checked, 0);
        if (!hwTimer)
            plat::sleepSeconds(0.02);
        ASSERT_EQ(device.stopAcquisition(), 0);
        double time = 0;
        ASSERT_EQ(device.getAcqTime(&time), 0);
        EXPECT_GE(time, 0.015);
        std::vector<uint16_t> read(2 * 65536);
        ASSERT_EQ(device.readMatrix(read.data(), 2 * 65536), 0) << device.lastError();
        EXPECT_EQ(read[5], 0);
        size_t wrong = 0;
        for (int chip = 0; chip < 2; ++chip)
            for (int row = 0; row < 256; ++row)
                for (int col = 0; col < 256; ++col) {
                    const size_t i = static_cast<size_t>(chip) * 65536 + static_cast<size_t>(row) * 256 + col;
                    if (i != 5)
                        wrong += read[i] != patternAt(chip, row, col, exposure, 11811);
                }
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(Acquisition, TestPulsesAddTheirCountToEnabledPulsedPixels)
{
    Rig rig(cardConfig(1, 1, 3));
    DorvelDevice& device = rig.device();
    ASSERT_EQ(device.init(), 0) << device.lastError();
    std::vector<uint8_t> cfg(65536, 1); // enabled, test-pulse input active (bit 1 low)
    cfg[1] = 3;                          // not pulsed
    cfg[2] = 0;                          // masked
    ASSERT_EQ(device.setPixelsCfg(cfg.data(), 65536), 0) << device.lastError();
    ASSERT_EQ(device.resetMatrix(), 0);
    ASSERT_EQ(device.testPulses(1.0, 0.0001, 25), 0) << device.lastError();
    std::vector<uint16_t> read(65536);
    ASSERT_EQ(device.readMatrix(read.data(), 65536), 0) << device.lastError();
    EXPECT_EQ(read[0], 25);
    EXPECT_EQ(read[1], 0);
    EXPECT_EQ(read[2], 0);
    EXPECT_EQ(read[65535], 25);
    for (const auto& bad : {std::vector<double>{-0.1, 0.001, 1}, {1.0, 0.0, 1}, {1.0, 0.001, 0}, {3.0, 0.001, 1},
                            {1.0, 0.001, 70000}}) {
        EXPECT_EQ(device.testPulses(bad[0], bad[1], static_cast<uint32_t>(bad[2])), kErrParam);
    }
}

// ---- the enumeration, records and buffers ----

// No board set up at all is no error: no device. Boards set up of which none has a type code the library
// drives are the missing card's error.
TEST(Library, NoCardSetUpIsNoDeviceAndUnknownTypeCodesGiveNoCardError)
{
    struct Case {
        int cards;
        int16_t typeCode;
        int result;
        const char* general;
    };
    for (const Case& c : {Case{0, 215, HW_NO_MORE_DEVICES, ""},
                          Case{2, 99, kErrNoCard, "No National Instruments card for Tarvik-2 was found."}}) {
        SCOPED_TRACE(c.cards);
        SimCardConfig config = cardConfig(c.cards, 1, 1);
        config.typeCode = c.typeCode;
        DorvelLibrary library(std::make_shared<SimCard>(config), nullptr, "");
        hwkit::setGeneralError(0, "%s", "");
        int id = 5;
        EXPECT_EQ(library.getFirst(&id), c.result);
        EXPECT_STREQ(hwkit::generalError(), c.general);
    }
}

TEST(Library, EveryBoardNameOfTheAcceptedTypeCodes)
{
    struct Case {
        int16_t code;
        const char* name;
    };
    for (const Case& c : {Case{68, "PXI-6533"}, Case{211, "PCI-DIO-32HS"}, Case{215, "DAQCard-6533"},
                          Case{216, "PCI-6534"}, Case{214, nullptr}}) {
        const char* name = boardNameOfType(c.code);
        EXPECT_EQ(name ? std::string(name) : "", c.name ? std::string(c.name) : "");
    }
    EXPECT_EQ(driverVersionText(0x712), "7.12");
    EXPECT_EQ(driverVersionText(0x6A3), "6.103");
}

TEST(Library, RepeatedEnumerationKeepsEveryBoardsRecordAndId)
{
    auto card = std::make_shared<SimCard>(cardConfig(2, 1, 1));
    DorvelLibrary library(card, nullptr, "");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        int id = -1;
        ASSERT_EQ(library.getFirst(&id), 0);
        EXPECT_EQ(id, 0);
        ASSERT_EQ(library.getNext(&id), 0);
        EXPECT_EQ(id, 1);
        EXPECT_EQ(library.getNext(&id), HW_NO_MORE_DEVICES);
        EXPECT_EQ(library.deviceCount(), 2);
    }
    auto device = library.lockDevice(1);
    EXPECT_EQ(static_cast<DorvelDevice*>(device.get())->board(), 2);
}

TEST(Library, CloseReleasesTheBuffersAndInitReconnects)
{
    auto card = std::make_shared<SimCard>(cardConfig(2, 4, 2));
    DorvelLibrary library(card, nullptr, "");
    int id = -1;
    ASSERT_EQ(library.getFirst(&id), 0);
    EXPECT_EQ(card->liveBuffers(), 0);
    for (int dev : {0, 1})
        ASSERT_EQ(library.call(dev, "hwInit", [](hwkit::Device& d) { return d.init(); }), 0);
    const long open = card->liveBuffers();
    EXPECT_EQ(open, 2);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(library.call(0, "hwCloseDevice", [](hwkit::Device& d) { return d.closeDevice(); }), 0);
        EXPECT_EQ(card->liveBuffers(), open - 1);
        ASSERT_EQ(library.call(0, "hwInit", [](hwkit::Device& d) { return d.init(); }), 0);
        EXPECT_EQ(card->liveBuffers(), open);
    }
    // A second hwInit without a close takes no second buffer.
    ASSERT_EQ(library.call(1, "hwInit", [](hwkit::Device& d) { return d.init(); }), 0);
    EXPECT_EQ(card->liveBuffers(), open);
    std::vector<uint16_t> matrix(4 * 65536);
    ASSERT_EQ(library.call(0, "hwCloseDevice", [](hwkit::Device& d) { return d.closeDevice(); }), 0);
    EXPECT_EQ(library.call(0, "hwReadMatrix",
                           [&](hwkit::Device& d) { return d.readMatrix(matrix.data(), 4 * 65536); }),
              kErrGeneric);
}

TEST(Library, ClockMeasurementLeavesOtherBoardsTheirTimeLimit)
{
    // Board 1 measures its clock (a 1,000,000-word read at 500,000 words a second: 2 s) while board 2
    // reads a matrix at 20,000 words a second, still moving but too slow for the 1 s limit.
    Rig rig(cardConfig(2, 1, 1, 500000));
    SimFaults slow;
    slow.wordsPerSecond = 20000;
    SimFaults quick; // board 2 opens at once, then turns slow
    quick.wordsPerSecond = 0;
    rig.card->setFaults(2, quick);
    ASSERT_EQ(rig.device(2).init(), 0) << rig.device(2).lastError();
    rig.card->setFaults(2, slow);

    auto measuring = std::async(std::launch::async, [&] { return rig.device(1).init(); });
    plat::sleepSeconds(0.2); // the measurement runs
    std::vector<uint16_t> read(65536);
    const double start = plat::monotonicSeconds();
    const int r = rig.device(2).readMatrix(read.data(), 65536);
    const double elapsed = plat::monotonicSeconds() - start;
    EXPECT_EQ(r, kErrTimeout);
    EXPECT_LT(elapsed, 2.0);
    ASSERT_EQ(measuring.get(), 0) << rig.device(1).lastError();
    EXPECT_NEAR(rig.device(1).clockMHz(), 0.5, 0.1);
}

// The clock is words per elapsed second; a read finished within the clock's resolution (elapsed 0), a
// clock that went back and a NaN give 0 instead of an infinite or negative frequency.
TEST(Clock, ElapsedTimeWithoutDurationGivesNoFrequency)
{
    struct Case {
        double elapsed;
        double mhz;
    };
    const Case cases[] = {{0.5, 2.0}, {2.0, 0.5}, {0.0, 0.0}, {-1e-9, 0.0}, {std::nan(""), 0.0}};
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(transferClockMHz(kSpeedTestWords, c.elapsed), c.mhz) << c.elapsed;
}

} // namespace
