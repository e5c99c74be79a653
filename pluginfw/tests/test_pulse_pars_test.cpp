// The values of the test-pulse dialog: limits and labels from the device, the values shown, the period's
// units, and a device whose description cannot be read.
#include <string>

#include <gtest/gtest.h>

#include "fake_mgr.h"
#include "platform/numbers.h"
#include "test_pulse_pars.h"

namespace {

TEST(TestPulsePars, LimitsLabelsAndShownValues)
{
    fakemgr::reset("/cfg/");
    fakemgr::setDevice(0, "A"); // 2.5 V, 1 ms, 1000 pulses
    const _MgrFuncTable table = fakemgr::table();
    struct Case {
        const char* name;
        double height, period;
        double shownHeight, shownPeriod;
    } cases[] = {
        {"zeros take half the maximum", 0, 0, 1.25, 500},
        {"values kept, period in us", 0.7, 2.5e-4, 0.7, 250},
    };
    for (const Case& c : cases) {
        TestPulseParsModel m;
        m.devId = 0;
        m.height = c.height;
        m.period = c.period;
        ASSERT_EQ(m.init(&table), 0) << c.name;
        EXPECT_EQ(m.heightLabel, "Pulse height (0 - 2.5) [V]:");
        EXPECT_EQ(m.periodLabel, "Pulse period (0 - 1000.0) [us]:");
        EXPECT_EQ(m.countLabel, "Number of pulses (0 - 1000):");
        EXPECT_DOUBLE_EQ(m.height, c.shownHeight) << c.name;
        EXPECT_DOUBLE_EQ(m.period, c.shownPeriod) << c.name;
    }
}

TEST(TestPulsePars, ShownTextsReadBackExactly)
{
    for (double v : {0.1, 1.0 / 3.0, 123.456789012345, 5e-7, 0.0})
        EXPECT_EQ(plat::parseDouble(TestPulseParsModel::fieldText(v)), v);
}

TEST(TestPulsePars, UnreadableDeviceChangesNothing)
{
    fakemgr::reset("/cfg/");
    fakemgr::setDevice(2, "A", TVK_ERR_DEV_NOT_INIT);
    const _MgrFuncTable table = fakemgr::table();
    TestPulseParsModel m;
    m.devId = 2;
    m.height = 1;
    m.period = 1e-4;
    EXPECT_EQ(m.init(&table), TVK_ERR_DEV_NOT_INIT);
    EXPECT_EQ(m.height, 1);
    EXPECT_EQ(m.period, 1e-4);
    EXPECT_EQ(m.errorText(TVK_ERR_DEV_NOT_INIT), "Cannot read the information of device 2 (error -110).");
}

} // namespace
