// DAC tables, the reference derivation, pixel reset values, the configuration-file key lookup and the
// file-name parts taken from hardware.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <limits>
#include <string>
#include <vector>

#include "config_text.h"
#include "dac_tables.h"
#include "device_settings.h"

namespace {

std::string join(const DacSet& set, auto value)
{
    std::string out;
    for (int i = 0; i < set.count; ++i)
        out += (i ? "," : "") + value(i);
    return out;
}

// The names and defaults are what configuration files on disk hold: a change here breaks those files.
TEST(DacTables, EveryChipType)
{
    struct Case {
        int type;
        int count;
        const char* names;
        const char* bits;
        const char* senses;
        const char* defaults;
        const char* thl;
        const char* thh;
    };
    const Case cases[] = {
        {1, 13, "DelayN,Disc,Preamp,SetDisc,THS,IKrum,ABuffer,THH,THL,FBK,GND,BiasLVDS,RefLVDS",
         "8,8,8,8,8,8,8,8,8,8,8,8,8", "1,2,3,4,5,7,14,12,11,10,13,6,9",
         "0,0,128,240,110,210,255,0,200,255,128,128,128", "THL", "THH"},
        {2, 15, "IKrum,Disc,Preamp,BuffAnalogA,BuffAnalogB,DelayN,THL,THLCoarse,THH,THHCoarse,FBK,GND,THS,BiasLVDS,RefLVDS",
         "8,8,8,8,8,8,10,4,10,4,8,8,8,8,8", "15,11,7,3,4,9,6,6,12,12,10,13,1,2,14",
         "20,128,128,128,128,128,450,7,0,0,128,128,128,240,240", "THL", "THH"},
        {3, 14, "IKrum,Disc,Preamp,BuffAnalogA,BuffAnalogB,Hist,THL,THLCoarse,Vcas,FBK,GND,THS,BiasLVDS,RefLVDS",
         "8,8,8,8,8,8,10,4,8,8,8,8,8,8", "15,11,7,3,4,9,6,6,12,10,13,1,2,14",
         "5,127,255,127,127,0,450,7,130,128,80,85,128,128", "THL", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const DacSet* set = dacSetForChipType(c.type);
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->count, c.count);
        EXPECT_EQ(join(*set, [&](int i) { return std::string(set->names[i]); }), c.names);
        EXPECT_EQ(join(*set, [&](int i) { return std::to_string(set->bits[i]); }), c.bits);
        EXPECT_EQ(join(*set, [&](int i) { return std::to_string(set->senseCodes[i]); }), c.senses);
        EXPECT_EQ(join(*set, [&](int i) { return std::to_string(set->defaults(true)[i]); }), c.defaults);
        EXPECT_EQ(join(*set, [&](int i) { return std::to_string(set->defaults(false)[i]); }), c.defaults);
        EXPECT_STREQ(set->names[set->thlIndex], c.thl);
        if (c.thh)
            EXPECT_STREQ(set->names[set->thhIndex], c.thh);
        else
            EXPECT_EQ(set->thhIndex, -1);
    }
    EXPECT_EQ(dacSetForChipType(0), nullptr);
    EXPECT_EQ(dacSetForChipType(4), nullptr);
}

// Derived thresholds never leave the DAC's range: a negative result used to wrap to 65535.
TEST(DacTables, ReferenceDerivation)
{
    struct Case {
        const char* what;
        int type;
        int refChip;
        std::vector<double> pairs;          // chips 1..n-1
        std::vector<uint16_t> thresholds;   // per chip, before
        std::vector<uint16_t> expected;     // per chip, after
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"offset", 1, 0, {1.0, 10.0}, {100, 7}, {100, 110}},
        {"negative clamps to 0", 1, 0, {1.0, -150.0}, {100, 7}, {100, 0}},
        {"above 8 bits clamps to 255", 1, 0, {2.0, 0.0}, {200, 7}, {200, 255}},
        {"10-bit DAC keeps 900", 2, 0, {2.0, 0.0}, {450, 7}, {450, 900}},
        {"10-bit DAC clamps to 1023", 2, 0, {2.0, 0.0}, {600, 7}, {600, 1023}},
        {"rounds half up", 1, 0, {1.0, 0.5}, {100, 7}, {100, 101}},
        {"rounds below half down", 1, 0, {1.0, 0.4}, {100, 7}, {100, 100}},
        {"reference chip 1", 1, 1, {2.0, 10.0}, {7, 110}, {50, 110}},
        {"reference chip with gain 0 keeps chip 0", 1, 1, {0.0, 10.0}, {40, 110}, {40, 10}},
        {"NaN gives 0", 1, 0, {nan, 0.0}, {100, 7}, {100, 0}},
        {"four chips", 3, 0, {1.0, 1.0, 0.5, 0.0, 1.0, -2000.0}, {500, 0, 0, 0}, {500, 501, 250, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DacSet& set = *dacSetForChipType(c.type);
        const int chips = static_cast<int>(c.thresholds.size());
        std::vector<uint16_t> dacs(static_cast<size_t>(chips * set.count), 3);
        for (int chip = 0; chip < chips; ++chip)
            dacs[static_cast<size_t>(chip * set.count + set.thlIndex)] = c.thresholds[static_cast<size_t>(chip)];
        deriveFromReference(dacs.data(), chips, set, set.thlIndex, c.refChip, c.pairs.data());
        for (int chip = 0; chip < chips; ++chip) {
            for (int dac = 0; dac < set.count; ++dac) {
                const uint16_t v = dacs[static_cast<size_t>(chip * set.count + dac)];
                EXPECT_EQ(v, dac == set.thlIndex ? c.expected[static_cast<size_t>(chip)] : 3) << chip << "/" << dac;
            }
        }
    }
}

TEST(DeviceSettings, ResetValuesPerChipType)
{
    struct Case {
        int type;
        int result;
        size_t dacs;
        uint8_t reset;
    };
    for (const Case& c : {Case{1, 0, 26, 0xFF}, Case{2, 0, 30, 0xFF}, Case{3, 0, 28, 0x3F}, Case{5, -1, 0, 0}}) {
        SCOPED_TRACE(c.type);
        DeviceSettings s;
        EXPECT_EQ(s.size(2, c.type), c.result);
        EXPECT_EQ(s.dacs.size(), c.dacs);
        if (c.result != 0) {
            EXPECT_TRUE(s.pixelCfg.empty());
            continue;
        }
        ASSERT_EQ(s.pixelCfg.size(), 2u * kChipPixels);
        EXPECT_EQ(std::count(s.pixelCfg.begin(), s.pixelCfg.end(), c.reset), 2 * 65536);
        std::fill(s.pixelCfg.begin(), s.pixelCfg.end(), 0x01);
        s.resetPixelCfg(1);
        EXPECT_EQ(s.pixelCfg[kChipPixels - 1], 0x01);
        EXPECT_EQ(s.pixelCfg[kChipPixels], c.reset);
        s.resetPixelCfg(-1);
        EXPECT_EQ(s.pixelCfg[0], c.reset);
    }
}

TEST(ConfigText, KeyLookup)
{
    struct Case {
        const char* what;
        const char* text;
        const char* section;
        const char* key;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"plain", "[Tarvik]\nAcq mode:4\n", "Tarvik", "Acq mode", 4},
        {"blank run in the line", "[Tarvik]\nAcq  mode:4\n", "Tarvik", "Acq mode", 4},
        {"no blank in the line", "[Tarvik]\nAcqmode:4\n", "Tarvik", "Acq mode", 4},
        {"key must start the line", "[Tarvik]\n CST:1\n", "Tarvik", "CST", std::nullopt},
        {"blank after the colon", "[Tarvik]\nPolarity: -3\n", "Tarvik", "Polarity", -3},
        {"CR LF", "[Tarvik]\r\nCST:1\r\n", "Tarvik", "CST", 1},
        {"unreadable value, later line", "[Tarvik]\nPolarity:x\nPolarity:0\n", "Tarvik", "Polarity", 0},
        {"out of range", "[Tarvik]\nPolarity:99999999999\n", "Tarvik", "Polarity", std::nullopt},
        {"only the first section", "[Chip0]\nTHL:10\n[Chip0]\nTHL:20\n", "Chip0", "THL", 10},
        {"section ends at [", "[Chip0]\n[Other]\nTHL:20\n", "Chip0", "THL", std::nullopt},
        {"Chip1 is not Chip10", "[Chip10]\nTHL:5\n[Chip1]\nTHL:6\n", "Chip1", "THL", 6},
        {"missing section", "[Chip0]\nTHL:5\n", "Chip2", "THL", std::nullopt},
        {"trailing text after header", "[Tarvik] old\nCST:1", "Tarvik", "CST", 1},
        {"key with percent sign", "[Interface]\nGain %:12\n", "Interface", "Gain %", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConfigText text;
        text.setText(c.text);
        EXPECT_EQ(text.findInt(c.section, c.key), c.expected);
    }
}

TEST(ConfigText, RealsAndRestOfLine)
{
    ConfigText text;
    text.setText("[Chip1]\nRefC:1.5e-3\nRefO:-2.25\nBad:nan\nBig:1e400\n[Interface]\nName:hello world\r\nEmpty:\n");
    EXPECT_EQ(text.findDouble("Chip1", "RefC"), 0.0015);
    EXPECT_EQ(text.findDouble("Chip1", "RefO"), -2.25);
    EXPECT_EQ(text.findDouble("Chip1", "Bad"), std::nullopt);
    EXPECT_EQ(text.findDouble("Chip1", "Big"), std::nullopt);
    EXPECT_EQ(text.findRest("Interface", "Name", 2048), "hello world");
    EXPECT_EQ(text.findRest("Interface", "Name", 5), "hello");
    EXPECT_EQ(text.findRest("Interface", "Empty", 2048), std::nullopt);
}

TEST(ConfigText, DigitCount)
{
    for (auto [n, digits] : {std::pair{0u, 1}, {9u, 1}, {10u, 2}, {11u, 2}, {999u, 3}, {4294967295u, 10}})
        EXPECT_EQ(digitCount(n), digits) << n;
}

} // namespace
