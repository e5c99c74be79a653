// The run's settings in the device's settings file: defaults, the floats written with "%.5g", values that
// are no number refused (the old value kept), unknown keys refused.
#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "platform/ini.h"
#include "probe_settings.h"

using namespace probing;

TEST(ProbeSettings, RoundTripAndFloatForm)
{
    const std::string file = ombrel_test::scratchDir("probe-settings") + "/p.ini";
    ChipTestSettings chip;
    chip.pulseHeight = -0.0312345678;
    chip.outputDir = "/data/out";
    chip.badPixsB = 400;
    ASSERT_EQ(chip.save(file), 0);
    EXPECT_EQ(plat::iniRead(file, "Settings", "PulseHeight"), "-0.031235");
    EXPECT_EQ(plat::iniRead(file, "Settings", "PulsePeriod"), "-0.02");
    EXPECT_EQ(chip.entries().size(), 21u);
    ChipTestSettings back;
    back.load(file);
    EXPECT_EQ(back.outputDir, "/data/out");
    EXPECT_EQ(back.badPixsB, 400);
    EXPECT_DOUBLE_EQ(back.pulseHeight, -0.031235);

    StationSettings station;
    station.comPort = "COM2";
    station.waferCols = 3;
    ASSERT_EQ(station.save(file), 0);
    StationSettings stationBack;
    stationBack.load(file);
    EXPECT_EQ(stationBack.comPort, "COM2");
    EXPECT_EQ(stationBack.waferCols, 3);
    EXPECT_EQ(stationBack.comBaud, 9600);
    EXPECT_EQ(stationBack.comTimeout, 30000);
    EXPECT_EQ(stationBack.visaLibrary, "libvisa.so");
}

TEST(ProbeSettings, RefusedValuesKeepTheOldOnes)
{
    struct Case {
        const char* key;
        const char* text;
        bool accepted;
    } cases[] = {{"PulseCount", "500", true}, {"PulseCount", "5x", false}, {"PulseHeight", "-0.05", true},
                 {"PulseHeight", "abc", false}, {"NoSuchKey", "1", false}, {"OutputDir", "", true}};
    for (const Case& c : cases) {
        ChipTestSettings s;
        const auto before = s.entries();
        EXPECT_EQ(s.set(c.key, c.text), c.accepted) << c.key << "=" << c.text;
        if (!c.accepted) {
            EXPECT_EQ(s.entries(), before) << c.key;
        }
    }
    ChipTestSettings file;
    const std::string path = ombrel_test::scratchDir("probe-settings") + "/bad.ini";
    ombrel_test::writeFile(path, "[Settings]\nPulseCount = lots\nAninBadLimit = 900\n");
    file.load(path);
    EXPECT_EQ(file.pulseCount, 1000);
    EXPECT_EQ(file.aninBadLimit, 900);
}
