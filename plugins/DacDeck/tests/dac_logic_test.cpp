// The panel's pure rules: "Locked" propagation, the external-DAC slider, the read-back texts and the
// settings files.
#include "dac_deck_core.h"

#include "ombrel_test_support.h"
#include "platform/ini.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace dacdeck;

TEST(DacDeckLogic, LockPropagate)
{
    // Three DACs per chip: THL 0, THH 1, another 2; chip 1 selected, its values 10 11 12.
    struct Case {
        const char* name;
        int chips, dac;
        uint32_t locked;
        int refFlags;
        std::vector<uint16_t> values;
    };
    const std::vector<uint16_t> three = {0, 1, 2, 10, 11, 12, 20, 21, 22};
    const Case cases[] = {
        {"one chip: nothing", 1, 2, 0x7, 0, {0, 1, 2}},
        {"THL locked: flag 1", 3, 0, 0x1, kRefThl, three},
        {"THH locked: flag 2", 3, 1, 0x2, kRefThh, three},
        {"other locked: copied to all chips", 3, 2, 0x4, 0, {0, 1, 12, 10, 11, 12, 20, 21, 12}},
        {"not locked: nothing", 3, 2, 0x3, 0, three},
        {"THL not locked: no flag", 3, 0, 0x4, 0, three},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint16_t> v = c.chips == 1 ? std::vector<uint16_t>{0, 1, 2} : three;
        int flags = 0;
        lockPropagate(v, 3, c.chips, c.chips == 1 ? 0 : 1, c.dac, c.locked, 0, 1, flags);
        EXPECT_EQ(flags, c.refFlags);
        EXPECT_EQ(v, c.values);
    }
    // A locked THL move then an unlocked move keep flag 1 until applied (ORed by the caller's apply).
    std::vector<uint16_t> v = three;
    int flags = 0;
    lockPropagate(v, 3, 3, 1, 0, 0x1, 0, 1, flags);
    lockPropagate(v, 3, 3, 1, 2, 0x1, 0, 1, flags);
    EXPECT_EQ(flags, kRefThl);
}

TEST(DacDeckLogic, ExtDacSlider)
{
    struct Case {
        double min, max, step;
        int range;
    };
    const Case cases[] = {{0, 2.0, 2.0 / 4095, 4095}, {0, 1.0, 0, 0}, {0, 1.0, -1, 0}, {0.5, 1.5, 0.25, 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(extDacRange(c.min, c.max, c.step), c.range) << c.step;
        EXPECT_EQ(extDacPosition(c.max, c.min, c.step), c.range) << c.step;
    }
    EXPECT_EQ(extDacPosition(0.7, 0.5, 0.25), 1);
}

TEST(DacDeckLogic, SenseTexts)
{
    // Two chips: means then deviations.
    const std::vector<double> thl = {1.5, 1.25, 0.3, 0.0};
    const std::vector<double> fbk = {0.25, 0.5, 0.4, 0.0};
    struct Case {
        int chip, senseCount;
        const char* text;
    };
    const Case cases[] = {
        {0, 1, "1.2500"}, {1, 1, "0.7500"}, {0, 2, "1.2500 (0.5000)"}, {1, 5, "0.7500 (0.0000)"}, {2, 1, "-"}};
    for (const auto& c : cases)
        EXPECT_EQ(senseText(thl, fbk, c.chip, 2, c.senseCount), c.text) << c.chip << " " << c.senseCount;
    EXPECT_EQ(senseText({1.0}, fbk, 0, 2, 1), "-");
}

TEST(DacDeckLogic, SettingsFiles)
{
    const std::string dir = ombrel_test::scratchDir("dacdeck-settings");
    const std::string dev = dir + "/DacDeck_F0.ini";
    const std::string def = dir + "/DacDeck.ini";

    Settings s = readSettings(dev, def);
    EXPECT_EQ(s.activeDacs, -1);
    EXPECT_EQ(s.lockedDacs, 0);
    EXPECT_EQ(s.senseCount, 1);

    ASSERT_TRUE(ombrel_test::writeFile(def, "[Settings]\nActiveDacs=5\nLockedDacs=2\nSenseCount=3\n"));
    s = readSettings(dev, def);
    EXPECT_EQ(s.activeDacs, 5);
    EXPECT_EQ(s.lockedDacs, 2);
    EXPECT_EQ(s.senseCount, 3);

    ASSERT_TRUE(ombrel_test::writeFile(dev, "; mine\n[Settings]\nActiveDacs=1\n[Other]\nKeep=1\n"));
    s = readSettings(dev, def);
    EXPECT_EQ(s.activeDacs, 1);
    EXPECT_EQ(s.lockedDacs, 0) << "the default file is not mixed into an existing device file";
    EXPECT_EQ(s.senseCount, 1);

    ASSERT_EQ(writeSettings(dev, {-1, 6, 4}), 0);
    s = readSettings(dev, def);
    EXPECT_EQ(s.activeDacs, -1);
    EXPECT_EQ(s.lockedDacs, 6);
    EXPECT_EQ(s.senseCount, 4);
    EXPECT_EQ(plat::getProfileInt("Other", "Keep", 0, dev.c_str()), 1);
    EXPECT_NE(ombrel_test::readFile(dev).find("; mine"), std::string::npos);

    std::string error;
    EXPECT_NE(writeSettings(dir + "/missing/DacDeck_F0.ini", {}, &error), 0);
    EXPECT_FALSE(error.empty());

    // A hand-edited sense count is brought into what the settings dialog allows: a huge one would hold the
    // device for that many readings at every read-back.
    const struct {
        const char* text;
        int count;
    } counts[] = {{"0", 1}, {"-7", 1}, {"1000", 1000}, {"1001", 1000}, {"2000000000", 1000}, {"abc", 1}};
    for (const auto& c : counts) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(ombrel_test::writeFile(dev, std::string("[Settings]\nSenseCount=") + c.text + "\n"));
        EXPECT_EQ(readSettings(dev, def).senseCount, c.count);
    }
}
