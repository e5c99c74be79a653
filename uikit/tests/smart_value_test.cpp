// The checks of the validated edit's value: integers that do not fit, non-finite numbers, limits, ranges
// and the shown texts. Runs a second time under a comma-decimal locale.
#include "smart_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Mode = SmartEditValue::Mode;

const std::string kNumber = "Please enter a number.";
const std::string kRange = "Please enter a number or valid range (2 numbers separated by space).";
const std::string kIntDefaultRange = "Please enter an integer between -2147483648 and 4294967295.";

struct Limits {
    double min, max;
};

struct CheckCase {
    int mode;
    std::optional<Limits> limits;
    const char* text;
    std::string message; // empty: valid
    double value = 0;    // the integer, the double or the from value
    double to = 0;       // the to value of a range
};

TEST(SmartEditValueTest, ChecksTextsOfEveryMode)
{
    const std::optional<Limits> none;
    const CheckCase cases[] = {
        // integers
        {Mode::MODE_INT, none, "12", "", 12},
        {Mode::MODE_INT, none, "12 ", "", 12},
        {Mode::MODE_INT, none, " -7", "", -7},
        {Mode::MODE_INT, none, "+5", "", 5},
        {Mode::MODE_INT, none, "12a", kNumber},
        {Mode::MODE_INT, none, "1.5", kNumber},
        {Mode::MODE_INT, none, "0x10", kNumber},
        {Mode::MODE_INT, none, "", kNumber},
        {Mode::MODE_INT, none, "  ", kNumber},
        {Mode::MODE_INT, none, "4294967295", "", 4294967295.0},
        {Mode::MODE_INT, none, "-2147483648", "", -2147483648.0},
        {Mode::MODE_INT, none, "4294967297", kIntDefaultRange}, // was taken as 1 on 64-bit
        {Mode::MODE_INT, none, "-2147483649", kIntDefaultRange},
        {Mode::MODE_INT, none, "99999999999999999999999", kIntDefaultRange},
        {Mode::MODE_INT, Limits{1, 1e9}, "1000000000", "", 1e9},
        {Mode::MODE_INT, Limits{1, 1e9}, "0", "Please enter an integer between 1 and 1000000000."},
        {Mode::MODE_INT, Limits{1, 1e9}, "1000000001", "Please enter an integer between 1 and 1000000000."},
        {Mode::MODE_INT, Limits{1, 1e9}, "4294967297", "Please enter an integer between 1 and 1000000000."},
        {Mode::MODE_INT, Limits{0.5, 10.7}, "0", "Please enter an integer between 1 and 10."},
        {Mode::MODE_INT, Limits{0.5, 10.7}, "10", "", 10},
        {Mode::MODE_INT, Limits{-1e20, 1e20}, "-2147483649", kIntDefaultRange},
        // doubles
        {Mode::MODE_DOUBLE, none, "1.5", "", 1.5},
        {Mode::MODE_DOUBLE, none, " 2.5e3 ", "", 2500},
        {Mode::MODE_DOUBLE, none, "-0.25", "", -0.25},
        {Mode::MODE_DOUBLE, none, "1,5", kNumber}, // the decimal point is '.' under every locale
        {Mode::MODE_DOUBLE, none, "1.5x", kNumber},
        {Mode::MODE_DOUBLE, none, "", kNumber},
        {Mode::MODE_DOUBLE, none, "nan", kNumber},
        {Mode::MODE_DOUBLE, none, "inf", kNumber},
        {Mode::MODE_DOUBLE, none, "-infinity", kNumber},
        {Mode::MODE_DOUBLE, none, "1e999", kNumber},
        {Mode::MODE_DOUBLE, Limits{1e-9, 1e9}, "nan", kNumber}, // no longer slips past the limits
        {Mode::MODE_DOUBLE, Limits{1e-9, 1e9}, "1e9", "", 1e9},
        {Mode::MODE_DOUBLE, Limits{1e-9, 1e9}, "0", "Please enter a double between 1e-09 and 1e+09."},
        {Mode::MODE_DOUBLE, Limits{1e-9, 1e9}, "2e9", "Please enter a double between 1e-09 and 1e+09."},
        // ranges
        {Mode::MODE_RANGE, none, "3", "", 3, 3},
        {Mode::MODE_RANGE, none, "1 2.5", "", 1, 2.5},
        {Mode::MODE_RANGE, none, " 1   2 ", "", 1, 2},
        {Mode::MODE_RANGE, none, "5 1", "", 5, 1}, // from > to is accepted
        {Mode::MODE_RANGE, none, "1 2 3", kRange},
        {Mode::MODE_RANGE, none, "1 x", kRange},
        {Mode::MODE_RANGE, none, "1 nan", kRange},
        {Mode::MODE_RANGE, none, "inf", kRange},
        {Mode::MODE_RANGE, none, "1,5 2", kRange},
        {Mode::MODE_RANGE, none, "", kRange},
        {Mode::MODE_RANGE, Limits{0, 1e9}, "0 1e9", "", 0, 1e9},
        {Mode::MODE_RANGE, Limits{0, 1e9}, "-1 5", "Please enter a double range between 0 and 1e+09."},
        {Mode::MODE_RANGE, Limits{0, 1e9}, "1 2e9", "Please enter a double range between 0 and 1e+09."},
        // no checking
        {Mode::MODE_NONE, none, "anything", ""},
        {7, none, "nan", ""},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(std::string("mode ") + std::to_string(c.mode) + " text \"" + c.text + "\"");
        SmartEditValue v;
        v.setMode(c.mode);
        if (c.limits) {
            ASSERT_EQ(v.setDoubleLimits(c.limits->min, c.limits->max), 0);
        }
        EXPECT_EQ(v.check(c.text), c.message);
        EXPECT_EQ(v.valid(), c.message.empty());
        if (!c.message.empty())
            continue;
        if (c.mode == Mode::MODE_INT) {
            EXPECT_EQ(v.intValue(), static_cast<int64_t>(c.value));
        }
        if (c.mode == Mode::MODE_DOUBLE || c.mode == Mode::MODE_RANGE) {
            EXPECT_EQ(v.doubleValue(), c.value);
        }
        if (c.mode == Mode::MODE_RANGE) {
            EXPECT_EQ(v.rangeTo(), c.to);
        }
    }
}

TEST(SmartEditValueTest, RangeWithDifferentLimitsForFromAndTo)
{
    SmartEditValue v;
    v.setMode(Mode::MODE_DOUBLE);
    v.setDoubleLimits(0, 1); // a double edit sets the limits of its value only
    v.setMode(Mode::MODE_RANGE);
    EXPECT_EQ(v.check("0.5 2"), "Please enter a double range where 'from' is between 0 and 1 and 'to' is between "
                                "0 and 0 .");
    EXPECT_EQ(v.check("0.5 0"), "");
}

TEST(SmartEditValueTest, RefusedTextKeepsTheStoredValue)
{
    SmartEditValue v;
    v.setMode(Mode::MODE_INT);
    v.setDoubleLimits(1, 100);
    ASSERT_TRUE(v.setInt(42).has_value());
    EXPECT_FALSE(v.check("500").empty());
    EXPECT_FALSE(v.valid());
    EXPECT_EQ(v.intValue(), 42);

    SmartEditValue r;
    r.setMode(Mode::MODE_RANGE);
    ASSERT_TRUE(r.setRangeValue(1, 2).has_value());
    EXPECT_FALSE(r.check("3 x").empty());
    EXPECT_EQ(r.doubleValue(), 1);
    EXPECT_EQ(r.rangeTo(), 2);
}

TEST(SmartEditValueTest, SettersShowTheValueAndRefuseAnotherMode)
{
    struct Case {
        int mode;
        std::optional<std::string> (*set)(SmartEditValue&);
        std::optional<std::string> shown; // nullopt: refused for the mode
    } cases[] = {
        {Mode::MODE_INT, [](SmartEditValue& v) { return v.setInt(-3); }, "-3"},
        {Mode::MODE_INT, [](SmartEditValue& v) { return v.setUInt(4000000000u); }, "4000000000"},
        {Mode::MODE_INT, [](SmartEditValue& v) { return v.setDouble(1.0); }, std::nullopt},
        {Mode::MODE_DOUBLE, [](SmartEditValue& v) { return v.setDouble(1234567); }, "1.2346e+06"},
        {Mode::MODE_DOUBLE, [](SmartEditValue& v) { return v.setDouble(0.5); }, "0.5"},
        {Mode::MODE_DOUBLE, [](SmartEditValue& v) { return v.setInt(1); }, std::nullopt},
        {Mode::MODE_DOUBLE, [](SmartEditValue& v) { return v.setRangeValue(1, 2); }, std::nullopt},
        {Mode::MODE_RANGE, [](SmartEditValue& v) { return v.setRangeValue(2, 2); }, "2"},
        {Mode::MODE_RANGE, [](SmartEditValue& v) { return v.setRangeValue(1, 2.5); }, "1 2.5"},
        {Mode::MODE_RANGE, [](SmartEditValue& v) { return v.setDouble(1); }, std::nullopt},
        {Mode::MODE_NONE, [](SmartEditValue& v) { return v.setUInt(1); }, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        SmartEditValue v;
        v.setMode(c.mode);
        v.check("junk junk"); // invalid for every checked mode
        const bool validBefore = v.valid();
        EXPECT_EQ(c.set(v), c.shown);
        EXPECT_EQ(v.valid(), c.shown ? true : validBefore);
        if (c.shown && c.mode != Mode::MODE_NONE) {
            EXPECT_EQ(v.check(*c.shown), "") << "what a setter shows reads back";
        }
    }
}

TEST(SmartEditValueTest, LimitThatIsNoNumberIsRefused)
{
    SmartEditValue v;
    v.setMode(Mode::MODE_DOUBLE);
    EXPECT_EQ(v.setDoubleLimits(std::nan(""), 1), -1);
    EXPECT_EQ(v.setDoubleLimits(0, std::nan("")), -1);
    EXPECT_FALSE(v.limitsOn());
    EXPECT_EQ(v.check("5"), "");
}

TEST(SmartEditValueTest, FormatsLikeG5WhateverTheLocale)
{
    struct Case {
        double value;
        const char* text;
    } cases[] = {{0, "0"}, {1.5, "1.5"}, {-0.000012345678, "-1.2346e-05"}, {123456, "1.2346e+05"},
                 {12345, "12345"}, {1e9, "1e+09"}, {std::numeric_limits<double>::infinity(), "inf"}};
    for (const Case& c : cases)
        EXPECT_EQ(formatG5(c.value), c.text);
}

} // namespace
