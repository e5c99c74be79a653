// Locale-independent number conversion: junk and out-of-range texts are refused, doubles round-trip.
// Runs a second time under a comma-decimal locale.
#include "platform/numbers.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using std::nullopt;

struct IntCase {
    const char* text;
    std::optional<int64_t> i64;
    std::optional<int32_t> i32;
    std::optional<uint64_t> u64;
    std::optional<uint32_t> u32;
};

TEST(NumbersTest, WholeTextIntegers)
{
    const IntCase cases[] = {
        {"0", 0, 0, 0u, 0u},
        {" 42 ", 42, 42, 42u, 42u},
        {"\t-7\r\n", -7, -7, nullopt, nullopt},
        {"+5", 5, 5, 5u, 5u},
        {"-0", 0, 0, nullopt, nullopt},
        {"", nullopt, nullopt, nullopt, nullopt},
        {"   ", nullopt, nullopt, nullopt, nullopt},
        {"12abc", nullopt, nullopt, nullopt, nullopt},
        {"1 2", nullopt, nullopt, nullopt, nullopt},
        {"1.5", nullopt, nullopt, nullopt, nullopt},
        {"0x10", nullopt, nullopt, nullopt, nullopt},
        {"--1", nullopt, nullopt, nullopt, nullopt},
        {"+-1", nullopt, nullopt, nullopt, nullopt},
        {"- 1", nullopt, nullopt, nullopt, nullopt},
        {"2147483647", 2147483647, 2147483647, 2147483647u, 2147483647u},
        {"2147483648", 2147483648, nullopt, 2147483648u, 2147483648u},
        {"-2147483648", -2147483648LL, INT32_MIN, nullopt, nullopt},
        {"-2147483649", -2147483649LL, nullopt, nullopt, nullopt},
        {"4294967296", 4294967296LL, nullopt, 4294967296u, nullopt},
        {"9223372036854775807", INT64_MAX, nullopt, 9223372036854775807u, nullopt},
        {"9223372036854775808", nullopt, nullopt, 9223372036854775808u, nullopt},
        {"-9223372036854775808", INT64_MIN, nullopt, nullopt, nullopt},
        {"18446744073709551615", nullopt, nullopt, UINT64_MAX, nullopt},
        {"18446744073709551616", nullopt, nullopt, nullopt, nullopt},
    };
    for (const IntCase& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        EXPECT_EQ(plat::parseInt64(c.text), c.i64);
        EXPECT_EQ(plat::parseInt32(c.text), c.i32);
        EXPECT_EQ(plat::parseUint64(c.text), c.u64);
        EXPECT_EQ(plat::parseUint32(c.text), c.u32);
    }
}

struct DoubleCase {
    const char* text;
    bool allowNonFinite;
    std::optional<double> expected; // NaN compares as "is NaN"
};

TEST(NumbersTest, WholeTextDoubles)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const DoubleCase cases[] = {
        {"1.5", false, 1.5},
        {" -2.5e3 ", false, -2500.0},
        {"1E-3", false, 0.001},
        {".5", false, 0.5},
        {"5.", false, 5.0},
        {"+1.25", false, 1.25},
        {"42", false, 42.0},
        {"4.9406564584124654e-324", false, 4.9406564584124654e-324},
        {"1,5", false, nullopt}, // the comma of a German locale is no decimal point here
        {"1.5x", false, nullopt},
        {"1e", false, nullopt},
        {"0x1p3", false, nullopt},
        {"", false, nullopt},
        {"1e400", false, nullopt},
        {"-1e400", true, nullopt},
        {"1e-400", false, nullopt},
        {"nan", false, nullopt},
        {"inf", false, nullopt},
        {"-inf", false, nullopt},
        {"nan", true, nan},
        {"inf", true, inf},
        {" -inf ", true, -inf},
    };
    for (const DoubleCase& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"" + (c.allowNonFinite ? " non-finite allowed" : ""));
        const std::optional<double> got = plat::parseDouble(c.text, c.allowNonFinite);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (!got)
            continue;
        if (std::isnan(*c.expected)) {
            EXPECT_TRUE(std::isnan(*got));
        } else {
            EXPECT_EQ(*got, *c.expected);
        }
    }
}

TEST(NumbersTest, PrefixParsersWalkALine)
{
    std::string_view line = "  12 -3\t+7 x";
    EXPECT_EQ(plat::takeInt64(line), 12);
    EXPECT_EQ(line, " -3\t+7 x");
    EXPECT_EQ(plat::takeInt64(line), -3);
    EXPECT_EQ(plat::takeInt64(line), 7);
    EXPECT_EQ(plat::takeInt64(line), nullopt);
    EXPECT_EQ(line, " x") << "a failed take leaves the text as it was";

    std::string_view unsignedLine = "5 -1";
    EXPECT_EQ(plat::takeUint64(unsignedLine), 5u);
    EXPECT_EQ(plat::takeUint64(unsignedLine), nullopt);
    std::string_view tooBig = "99999999999999999999 1";
    EXPECT_EQ(plat::takeInt64(tooBig), nullopt);
    EXPECT_EQ(plat::takeUint64(tooBig), nullopt);

    std::string_view doubles = "1.5e3,2 nan";
    EXPECT_EQ(plat::takeDouble(doubles), 1500.0);
    EXPECT_EQ(doubles, ",2 nan");
    doubles.remove_prefix(1);
    EXPECT_EQ(plat::takeDouble(doubles), 2.0);
    EXPECT_EQ(plat::takeDouble(doubles), nullopt);
    const std::optional<double> allowed = plat::takeDouble(doubles, true);
    ASSERT_TRUE(allowed.has_value());
    EXPECT_TRUE(std::isnan(*allowed));
    EXPECT_EQ(doubles, "");
}

TEST(NumbersTest, FormattedDoublesAreShortestAndReadBackExactly)
{
    struct Case {
        double value;
        const char* text; // expected text, or null where only the round trip matters
    };
    const Case cases[] = {
        {0.1, "0.1"},
        {1.0, "1"},
        {-2.5, "-2.5"},
        {1e20, "1e+20"},
        {1767000000.123456, "1767000000.123456"}, // a start time in seconds since 1970
        {0.123456, "0.123456"},
        {1.0 / 3.0, nullptr},
        {5e-324, nullptr},
        {std::numeric_limits<double>::max(), nullptr},
        {-1e-300, nullptr},
        {9007199254740993.0, nullptr},
        {-0.0, "-0"},
    };
    for (const Case& c : cases) {
        const std::string text = plat::formatDouble(c.value);
        SCOPED_TRACE(text);
        if (c.text) {
            EXPECT_EQ(text, c.text);
        }
        EXPECT_EQ(text.find(','), std::string::npos);
        const std::optional<double> back = plat::parseDouble(text);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(std::memcmp(&*back, &c.value, sizeof(double)), 0) << "bits differ after the round trip";
    }
    EXPECT_EQ(plat::formatDouble(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(plat::formatDouble(-std::numeric_limits<double>::infinity()), "-inf");
}

TEST(NumbersTest, FormattedFloatsReadBackExactly)
{
    const float values[] = {0.1f, 1.0f / 3.0f, 3.4028235e38f, 1e-45f, -123.456f};
    for (float v : values) {
        const std::string text = plat::formatFloat(v);
        SCOPED_TRACE(text);
        float back = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(ec, std::errc());
        EXPECT_EQ(end, text.data() + text.size());
        EXPECT_EQ(back, v);
    }
    EXPECT_EQ(plat::formatFloat(0.1f), "0.1");
}

} // namespace

// "%.5g" and "%.4f" as printf writes them in the C locale, also while the process runs under a locale with
// a decimal comma.
TEST(NumbersTest, PrintfFormsIgnoreTheUsersLocale)
{
    const double values[] = {0.0, 1.0, -2.5, 123456.0, 1234567.0, 0.000012345678, 1e300, -1e-300, 3.14159265,
                             99999.5, 0.5, 1.0 / 3.0};
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    for (double v : values) {
        char g[512], f[512];
        std::setlocale(LC_NUMERIC, "C"); // the reference
        std::snprintf(g, sizeof g, "%.5g", v);
        std::snprintf(f, sizeof f, "%.4f", v);
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // where it is missing, the C locale stays: still a check
        EXPECT_EQ(plat::formatGeneral(v, 5), g);
        EXPECT_EQ(plat::formatFixed(v, 4), f);
        std::setlocale(LC_NUMERIC, saved.c_str());
    }
}
