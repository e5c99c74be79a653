// What the control window's commands and settings sheet compute without windows: command states, pixel
// bit edits, ASCII file arguments, the Tools menu, the overwrite question, file-mode flags, the DAC grid
// and value parsing, and the digital test's texts.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ctrl_commands.h"
#include "settings_model.h"
#include "uikit/file_mode.h"

namespace {

TEST(CommandStates, IdleAndRunningByChipType)
{
    struct Case {
        int id;
        bool idleType1, idleType3, runningType1, runningType3;
    } cases[] = {
        {CMD_RECONNECT, true, true, false, false},
        {CMD_LOAD_CONFIG, true, true, false, false},
        {CMD_SET_MODE_FIRST, false, true, false, false},
        {CMD_SET_MODE_FIRST + 3, false, true, false, false},
        {CMD_RESET_ALL, true, true, false, false},
        {CMD_RESET_FIRST + 2, true, true, false, false},
        {CMD_RESET_FIRST + 3, true, false, false, false}, // "THH Adj. Bits"
        {CMD_LOAD_ASCII_FIRST + 3, true, false, false, false},
        {CMD_LOAD_ASCII_FIRST + 4, false, true, false, false},
        {CMD_SAVE_ASCII_FIRST + 3, true, false, false, false},
        {CMD_SAVE_ASCII_FIRST + 4, false, true, false, false},
        {CMD_START, true, true, false, false},
        {CMD_ABORT, false, false, true, true},
        {CMD_SAVE_FRAMES, true, true, true, true},
        {CMD_TEST_PULSES, true, true, true, true},
        {CMD_EXIT, true, true, true, true},
        {CMD_PREVIEW_VISIBLE, true, true, true, true},
        {CMD_AUTOSTART, true, true, true, true},
        {CMD_REFRESH_DACS, true, true, true, true},
        {CMD_LOAD_SAVE_DACS, true, true, true, true},
        {CMD_TOOLS_FIRST + 5, true, true, true, true},
        {CMD_DEVICE_SETTINGS, true, true, false, false},
        {CMD_LOAD_FRAME, true, true, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(commandEnabled(c.id, true, 1), c.idleType1) << c.id;
        EXPECT_EQ(commandEnabled(c.id, true, 3), c.idleType3) << c.id;
        EXPECT_EQ(commandEnabled(c.id, false, 1), c.runningType1) << c.id;
        EXPECT_EQ(commandEnabled(c.id, false, 3), c.runningType3) << c.id;
    }
}

TEST(PixelBits, EveryKind)
{
    struct Case {
        int kind, chipType;
        uint8_t in, out;
    } cases[] = {
        {0, 1, 0x00, 0x01}, {1, 1, 0x00, 0x02}, {2, 1, 0x00, 0x1C}, {2, 3, 0x00, 0x3C}, {3, 1, 0x00, 0xE0},
        {2, 1, 0xC1, 0xDD}, // other bits kept
        {4, 3, 0xFF, 0x3F}, {5, 3, 0x00, 0x40}, {6, 3, 0x3F, 0xBF}, {7, 3, 0x15, 0xD5},
        {8, 3, 0x15, 0x15}, // no such kind: unchanged
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> cfg(3, c.in);
        applyPixelBits(cfg, c.kind, c.chipType);
        EXPECT_EQ(cfg, std::vector<uint8_t>(3, c.out)) << "kind " << c.kind << " type " << c.chipType;
    }
}

TEST(AsciiArguments, PathAtItsPlace)
{
    const char* p = "/x.txt";
    using A = std::array<const char*, 4>;
    EXPECT_EQ(asciiFileArgs(0, p), (A{p, nullptr, nullptr, nullptr}));
    EXPECT_EQ(asciiFileArgs(1, p), (A{nullptr, p, nullptr, nullptr}));
    EXPECT_EQ(asciiFileArgs(2, p), (A{nullptr, nullptr, p, nullptr}));
    EXPECT_EQ(asciiFileArgs(3, p), (A{nullptr, nullptr, nullptr, p}));
    EXPECT_EQ(asciiFileArgs(4, p), (A{nullptr, nullptr, nullptr, p})) << "the mode mask is the fourth file too";
}

TEST(ToolsMenu, ItemsUnderTheDevicePath)
{
    const std::string prefix = "0 - dummy 2000|";
    const std::vector<std::pair<int, std::string>> items = {
        {5, "Log"},
        {7, "0 - dummy 2000|Scans|Threshold scan"},
        {8, "0 - dummy 2000|Tarvik Control"},
        {9, "1 - dummy 2001|Equalize"},
        {11, "0 - dummy 2000|Equalize"},
        {12, "0 - dummy 2000|A|B|Deep"},
    };
    const std::vector<ToolsItem> tools = toolsItems(prefix, items);
    ASSERT_EQ(tools.size(), 4u);
    struct Expect {
        int command, manager;
        const char* path;
        const char* text;
        bool shown;
    } expected[] = {
        {33001, 7, "Scans", "Threshold scan", true},
        {33002, 8, "", "Tarvik Control", false}, // this plug-in's own item: not shown, still numbered
        {33003, 11, "", "Equalize", true},
        {33004, 12, "A|B", "Deep", true},
    };
    for (size_t i = 0; i < tools.size(); ++i) {
        EXPECT_EQ(tools[i].commandId, expected[i].command);
        EXPECT_EQ(tools[i].managerId, expected[i].manager);
        EXPECT_EQ(tools[i].path, expected[i].path);
        EXPECT_EQ(tools[i].text, expected[i].text);
        EXPECT_EQ(tools[i].shown, expected[i].shown);
    }
}

bool existsIn(const std::string& name) { return name == "/d/data05.txt" || name == "/d/one.txt"; }

TEST(OverwriteQuestion, SingleAndSeries)
{
    EXPECT_EQ(overwriteQuestion("/d/one.txt", {"/d/one.txt"}, existsIn),
              "File /d/one.txt already exists. Do you want to continue and overwrite it?");
    EXPECT_EQ(overwriteQuestion("/d/data.txt", {"/d/data04.txt", "/d/data05.txt"}, existsIn),
              "Some files with base file name /d/data.txt already exist. Do you want to continue and overwrite them?");
    EXPECT_EQ(overwriteQuestion("/d/two.txt", {"/d/two.txt"}, existsIn), "");
    EXPECT_EQ(overwriteQuestion("/d/one.txt", {}, existsIn), "") << "nothing written, nothing asked";
}

TEST(FileModes, FlagsOfEachIndex)
{
    const std::pair<int, uint32_t> cases[] = {{0, 0x0002}, {1, 0x2002}, {2, 0x1002}, {3, 0x0001}, {4, 0x2001},
                                              {5, 0x1001}, {6, 0x8000}, {7, 0},      {-1, 0}};
    for (auto [index, flags] : cases)
        EXPECT_EQ(fileModeFlags(index), flags) << index;
    EXPECT_STREQ(fileModeName(0), "ASCII matrix");
    EXPECT_STREQ(fileModeName(6), "No file");
    EXPECT_EQ(fileModeName(7), nullptr);
}

TEST(DacPage, GridAndValues)
{
    struct Layout {
        int count, firstColumnRows;
    } layouts[] = {{13, 7}, {14, 7}, {15, 8}};
    for (const Layout& l : layouts) {
        int first = 0;
        for (int i = 0; i < l.count; ++i) {
            const DacPlace at = dacPlace(i, l.count);
            first += at.column == 0;
            if (at.column == 1) {
                EXPECT_EQ(at.row, i - l.firstColumnRows) << l.count;
            }
        }
        EXPECT_EQ(first, l.firstColumnRows) << l.count;
    }
    const std::pair<const char*, int64_t> texts[] = {{"0", 0},   {"255", 255}, {"256", -1}, {"", 0},
                                                     {"12abc", 12}, {"abc", -1},  {" 7", 7},   {"-1", -1}};
    for (auto [text, value] : texts)
        EXPECT_EQ(parseDacText(text, 255), value) << text;
}

TEST(SettingsTexts, NamesAndPixels)
{
    EXPECT_STREQ(acqModeName(4), "Trigger stops acquisition");
    EXPECT_EQ(acqModeName(3), nullptr);
    EXPECT_STREQ(chipTypeName(3), "Sarnet");
    EXPECT_STREQ(chipTypeName(7), "Unknown");
    EXPECT_STREQ(hwTypeName(3), "BYTE");
    EXPECT_STREQ(hwTypeName(9), "DOUBLE");
    EXPECT_STREQ(hwTypeName(11), "UKNOWN");
    EXPECT_EQ(goodPixelsText(65000, 65536), "65000\t(99.18%)");
    EXPECT_EQ(badPixelsText(65000, 65536), "536\t(0.82%)");
    EXPECT_EQ(goodPixelsText(65536, 65536), "65536\t(100.00%)");
}

// A 2 x 2 device behind a table: its DACs, pixel configuration in chip order and as one matrix, and a
// digital test whose bad-pixel frame marks chosen pixels.
struct FakeQuad {
    static constexpr int kDacs = 3, kChips = 4;
    static constexpr uint32_t kPixels = 8; // small stand-in for 4 x 65536
    std::vector<uint16_t> dacs = std::vector<uint16_t>(kDacs * kChips, 5);
    std::vector<uint8_t> chipCfg = std::vector<uint8_t>(kPixels, 0xFF); // chip order
    int toSM = 0;
    std::vector<int16_t> badFrame = std::vector<int16_t>(kPixels, 0);
    bool lockFails = false;
    int32_t pixelCount = kPixels; // as the hardware library reports it
    int closes = 0, unlocks = 0;
    // Super-matrix order: the chip-order index reversed (any fixed shuffle shows a mix-up).
    static uint32_t toChip(uint32_t sm) { return kPixels - 1 - sm; }
};
FakeQuad* gQuad = nullptr;

_MgrFuncTable quadTable()
{
    _MgrFuncTable t{};
    t.tvkCtrlGetDACsNames = [](unsigned, const char*** names, const int** bits, int* count) {
        static const char* n[] = {"A", "B", "C"};
        static const int b[] = {8, 8, 8};
        *names = n;
        *bits = b;
        *count = FakeQuad::kDacs;
        return 0;
    };
    t.tvkCtrlGetTarvikInfo = [](unsigned, int* chips, int* rows, char*, char*) {
        if (chips)
            *chips = FakeQuad::kChips;
        if (rows)
            *rows = 2;
        return 0;
    };
    t.tvkCtrlGetDACs = [](unsigned, uint16_t* d, int size, int) {
        std::copy_n(gQuad->dacs.begin(), size, d);
        return 0;
    };
    t.tvkCtrlSetDACs = [](unsigned, const uint16_t* d, int size, int, int, int) {
        gQuad->dacs.assign(d, d + size);
        return 0;
    };
    t.tvkCtrlPerformDigitalTest = [](unsigned, int* good, uint32_t* frame, int, double) {
        *good = 6;
        if (frame)
            *frame = 77;
        return 0;
    };
    t.mgrGetLockedFrameBuff = [](uint32_t, void** buffer, uint32_t* size, uint32_t) {
        if (gQuad->lockFails)
            return -1;
        *buffer = gQuad->badFrame.data();
        *size = uint32_t(gQuad->badFrame.size() * sizeof(int16_t));
        return 0;
    };
    t.mgrUnlockFrame = [](uint32_t) { ++gQuad->unlocks; return 0; };
    t.mgrCloseFrame = [](uint32_t, uint32_t*) { ++gQuad->closes; return 0; };
    t.tvkCtrlGetAutoConvToSM = [](unsigned, int* on) { *on = gQuad->toSM; return 0; };
    t.tvkCtrlGetDevInfo = [](unsigned, _DevInfo* info) {
        *info = _DevInfo{};
        info->pixelCount = gQuad->pixelCount;
        info->chipCount = FakeQuad::kChips;
        return 0;
    };
    t.tvkCtrlGetPixelsCfg = [](unsigned, uint8_t* cfg, uint32_t size, int) {
        std::copy_n(gQuad->chipCfg.begin(), size, cfg);
        return 0;
    };
    t.tvkCtrlSetPixelsCfg = [](unsigned, uint8_t* cfg, uint32_t size, int) {
        gQuad->chipCfg.assign(cfg, cfg + size);
        return 0;
    };
    t.tvkCtrlGetSuperMatrixPixCfg = [](unsigned, uint8_t* cfg, uint32_t size) {
        for (uint32_t i = 0; i < size; ++i)
            cfg[i] = gQuad->chipCfg[FakeQuad::toChip(i)];
        return 0;
    };
    t.tvkCtrlSetSuperMatrixPixCfg = [](unsigned, const uint8_t* cfg, uint32_t size) {
        for (uint32_t i = 0; i < size; ++i)
            gQuad->chipCfg[FakeQuad::toChip(i)] = cfg[i];
        return 0;
    };
    return t;
}

TEST(DacApply, KeepsOtherChipsAsTheDeviceHasThem)
{
    FakeQuad quad;
    gQuad = &quad;
    const _MgrFuncTable t = quadTable();
    quad.dacs[2 * FakeQuad::kDacs + 1] = 99; // another client changed chip 2 after the page read it
    ASSERT_EQ(applyChipDacs(&t, 0, 1, {10, 11, 12}), 0);
    EXPECT_EQ(quad.dacs, (std::vector<uint16_t>{5, 5, 5, 10, 11, 12, 5, 99, 5, 5, 5, 5}));
    EXPECT_EQ(applyChipDacs(&t, 0, 4, {1, 2, 3}), -2) << "no chip 4";
    EXPECT_EQ(applyChipDacs(&t, 0, 0, {1, 2}), -2) << "values of another chip type";
    gQuad = nullptr;
}

TEST(DigitalTest, BadPixelsMaskedInTheFramesOwnOrder)
{
    for (int toSM : {0, 1}) {
        FakeQuad quad;
        gQuad = &quad;
        quad.toSM = toSM;
        const _MgrFuncTable t = quadTable();
        // The frame comes in the order the device hands out frames: mark pixel 1 of that order.
        quad.badFrame[1] = 3;
        int good = 0;
        bool lockFailed = false;
        ASSERT_EQ(runDigitalTest(&t, 0, true, false, &good, &lockFailed), 0);
        EXPECT_EQ(good, 6);
        std::vector<uint8_t> expected(FakeQuad::kPixels, 0xFF);
        expected[toSM ? FakeQuad::toChip(1) : 1] = 0xFE;
        EXPECT_EQ(quad.chipCfg, expected) << "super matrix " << toSM;
        EXPECT_EQ(quad.closes, 1);
        EXPECT_EQ(quad.unlocks, 1);
    }
    FakeQuad quad;
    gQuad = &quad;
    quad.lockFails = true;
    const _MgrFuncTable t = quadTable();
    int good = 0;
    bool lockFailed = false;
    ASSERT_EQ(runDigitalTest(&t, 0, true, false, &good, &lockFailed), 0);
    EXPECT_TRUE(lockFailed);
    EXPECT_EQ(quad.closes, 1) << "the bad-pixel frame is closed when its lock fails too";
    EXPECT_EQ(quad.chipCfg, std::vector<uint8_t>(FakeQuad::kPixels, 0xFF));
    gQuad = nullptr;
}

// A pixel count no device can have (a hardware library's fault) changes no pixel and allocates nothing.
TEST(DeviceInfo, ImpossiblePixelCountsTouchNoPixel)
{
    for (int32_t count : {0, -1, INT32_MIN}) {
        SCOPED_TRACE(count);
        FakeQuad quad;
        gQuad = &quad;
        quad.pixelCount = count;
        quad.badFrame[1] = 3;
        const _MgrFuncTable t = quadTable();
        EXPECT_EQ(setPixelBits(&t, 0, 0), -2);
        int good = 0;
        bool lockFailed = false;
        EXPECT_EQ(runDigitalTest(&t, 0, true, false, &good, &lockFailed), 0);
        EXPECT_EQ(quad.chipCfg, std::vector<uint8_t>(FakeQuad::kPixels, 0xFF));
        EXPECT_EQ(quad.closes, 1) << "the bad-pixel frame is still closed";
    }
    gQuad = nullptr;
}

} // namespace
