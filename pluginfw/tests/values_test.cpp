// Typed values as text: exact round trips for every type (also under a comma-decimal locale), refused
// input that used to wrap, cut or half-match, and no truncated value in a short buffer.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "value_text.h"

namespace {

using Bytes = std::vector<unsigned char>;

template <typename T>
Bytes bytesOf(std::initializer_list<T> values)
{
    Bytes bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

Bytes textBytes(const char* text, size_t size)
{
    Bytes bytes(size, 0);
    std::memcpy(bytes.data(), text, std::strlen(text));
    return bytes;
}

struct RoundTrip {
    const char* what;
    int type;
    int count;
    Bytes value;
    const char* text;
};

// One case per _Data_Types type, with the values at the edges of each range.
const std::vector<RoundTrip> kRoundTrips = {
    {"bool", TYPE_BOOL, 3, bytesOf<int32_t>({1, 0, 1}), "TRUE FALSE TRUE "},
    {"char", TYPE_CHAR, 8, textBytes("a b,c", 8), "a b,c"},
    {"uchar", TYPE_UCHAR, 4, textBytes("\xC3\xA4z", 4), "\xC3\xA4z"},
    {"byte", TYPE_BYTE, 3, bytesOf<uint8_t>({0, 255, 7}), "0 255 7 "},
    {"i16", TYPE_I16, 3, bytesOf<int16_t>({-32768, 32767, 0}), "-32768 32767 0 "},
    {"u16", TYPE_U16, 2, bytesOf<uint16_t>({0, 65535}), "0 65535 "},
    {"i32", TYPE_I32, 2, bytesOf<int32_t>({INT32_MIN, INT32_MAX}), "-2147483648 2147483647 "},
    {"u32", TYPE_U32, 2, bytesOf<uint32_t>({0, UINT32_MAX}), "0 4294967295 "},
    {"float", TYPE_FLOAT, 4, bytesOf<float>({0.1f, -1e-45f, FLT_MAX, 1.5f}), "0.1 -1e-45 3.4028235e+38 1.5 "},
    // A start time in seconds since 1970 keeps its microseconds (five digits would lose hours).
    {"double", TYPE_DOUBLE, 5, bytesOf<double>({0.123456, 1768379413.123456, 5e-324, -0.0, 1e300}),
     "0.123456 1768379413.123456 5e-324 -0 1e+300 "},
    // A string value has count x 4 bytes, and all of them hold text.
    {"string", TYPE_STRING, 2, textBytes("7 chars", 8), "7 chars"},
};

TEST(ValueText, EveryTypeRoundTripsExactly)
{
    for (const auto& c : kRoundTrips) {
        SCOPED_TRACE(c.what);
        char buf[256];
        ASSERT_EQ(valueToText(c.type, buf, sizeof buf, c.value.data(), c.count), 0);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(valueToString(c.type, c.value.data(), c.count), c.text);

        Bytes back(c.value.size(), 0xAB);
        ASSERT_EQ(textToValue(back.data(), buf, c.type, c.count), 0);
        EXPECT_EQ(back, c.value);
    }
}

TEST(ValueText, NonFiniteDoublesRoundTrip)
{
    const double values[] = {INFINITY, -INFINITY, NAN};
    char buf[64];
    ASSERT_EQ(valueToText(TYPE_DOUBLE, buf, sizeof buf, values, 3), 0);
    double back[3] = {};
    ASSERT_EQ(textToValue(back, buf, TYPE_DOUBLE, 3), 0);
    EXPECT_EQ(back[0], INFINITY);
    EXPECT_EQ(back[1], -INFINITY);
    EXPECT_TRUE(std::isnan(back[2]));
}

struct Read {
    const char* what;
    int type;
    int count;
    const char* text;
    int expected;   // result code
    Bytes value;    // on success; on failure the buffer must stay as it was
};

const std::vector<Read> kReads = {
    // Text written by the five-digit format and by hand still reads.
    {"short double", TYPE_DOUBLE, 2, "0.12346 1.7684e+09 ", 0, bytesOf<double>({0.12346, 1.7684e9})},
    {"plus, blanks, CR LF", TYPE_I32, 2, " \t+5\r\n-7\r\n", 0, bytesOf<int32_t>({5, -7})},
    {"extra values ignored", TYPE_U16, 1, "3 4 5", 0, bytesOf<uint16_t>({3})},
    {"float forms", TYPE_FLOAT, 3, ".5 2. 1E2", 0, bytesOf<float>({0.5f, 2.f, 100.f})},
    {"bool words any case", TYPE_BOOL, 2, "TRUE fAlSe ", 0, bytesOf<int32_t>({1, 0})},
    {"bool numbers kept", TYPE_BOOL, 3, "1 0 5", 0, bytesOf<int32_t>({1, 0, 5})},
    {"bool unknown word", TYPE_BOOL, 1, "yes", -1, {}},
    {"bool word prefix", TYPE_BOOL, 1, "t", -1, {}},
    {"bool word too long", TYPE_BOOL, 1, "falsehood", -1, {}},
    {"bool too few words", TYPE_BOOL, 2, "true", TVK_ERR_PARAM, {}},
    {"bool empty text", TYPE_BOOL, 1, "", TVK_ERR_PARAM, {}},
    {"too few numbers", TYPE_I32, 3, "1 2", -1, {}},
    {"fraction for integer", TYPE_I32, 1, "1.5", -1, {}},
    {"trailing letters", TYPE_U32, 1, "12ab", -1, {}},
    {"comma decimal", TYPE_DOUBLE, 1, "0,5", -1, {}},
    {"i32 overflow", TYPE_I32, 1, "2147483648", TVK_ERR_PARAM, {}},
    {"i16 underflow", TYPE_I16, 1, "-32769", TVK_ERR_PARAM, {}},
    {"u16 negative", TYPE_U16, 1, "-1", TVK_ERR_PARAM, {}},
    {"u32 overflow", TYPE_U32, 1, "4294967296", TVK_ERR_PARAM, {}},
    {"byte overflow", TYPE_BYTE, 1, "256", TVK_ERR_PARAM, {}},
    {"byte negative", TYPE_BYTE, 1, "-1", TVK_ERR_PARAM, {}},
    {"beyond 64 bits", TYPE_I32, 1, "99999999999999999999", TVK_ERR_PARAM, {}},
    {"float overflow", TYPE_FLOAT, 1, "1e39", TVK_ERR_PARAM, {}},
    {"bad value after good ones", TYPE_I16, 3, "1 2 x", -1, {}},
    {"char fits with its zero", TYPE_CHAR, 4, "abc", 0, textBytes("abc", 4)},
    {"char without room for zero", TYPE_CHAR, 4, "abcd", TVK_ERR_PARAM, {}},
    {"string without room for zero", TYPE_STRING, 2, "8 chars!", TVK_ERR_PARAM, {}},
    {"type beyond the table", TYPE_UNKNOWN, 1, "1", -1, {}},
    {"negative count", TYPE_I32, -1, "1", TVK_ERR_PARAM, {}},
};

TEST(ValueText, ReadsAcceptedFormsAndRefusesBadText)
{
    for (const auto& c : kReads) {
        SCOPED_TRACE(c.what);
        Bytes out(64, 0xAB);
        EXPECT_EQ(textToValue(out.data(), c.text, c.type, c.count), c.expected);
        if (c.expected == 0)
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(c.value.size())), c.value);
        else
            EXPECT_EQ(out, Bytes(64, 0xAB)) << "a refused text must leave the value unchanged";
    }
}

TEST(ValueText, ShortBufferGetsNoCutValue)
{
    const int32_t values[] = {123, 456};
    // "123 456 " is 8 characters and needs 9 with its zero.
    struct Case {
        int bufSize;
        int expected;
        const char* text;
    };
    const Case cases[] = {{9, 0, "123 456 "}, {8, TVK_ERR_BUFFER_SMALL, ""}, {6, TVK_ERR_BUFFER_SMALL, ""},
                          {1, TVK_ERR_BUFFER_SMALL, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bufSize);
        char buf[16];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(valueToText(TYPE_I32, buf, c.bufSize, values, 2), c.expected);
        EXPECT_STREQ(buf, c.text);
    }

    char text[4];
    EXPECT_EQ(valueToText(TYPE_CHAR, text, sizeof text, "abcd", 5), TVK_ERR_BUFFER_SMALL);
    EXPECT_STREQ(text, "");
    char none = 'x';
    EXPECT_EQ(valueToText(TYPE_I32, &none, 0, values, 1), TVK_ERR_BUFFER_SMALL);
    EXPECT_EQ(none, 'x');
}

TEST(ValueText, WritingEdgeCases)
{
    char buf[64];
    const int32_t truthy = 5;
    EXPECT_EQ(valueToText(TYPE_BOOL, buf, sizeof buf, &truthy, 1), 0);
    EXPECT_STREQ(buf, "TRUE ");

    // A char value without a zero stops at its own size.
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(valueToText(TYPE_CHAR, buf, sizeof buf, unterminated, 4), 0);
    EXPECT_STREQ(buf, "abcd");

    EXPECT_EQ(valueToText(TYPE_UNKNOWN, buf, sizeof buf, &truthy, 1), TVK_ERR_PARAM);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(valueToString(TYPE_UNKNOWN, &truthy, 1), "");

    EXPECT_EQ(valueToText(TYPE_DOUBLE, buf, sizeof buf, nullptr, 0), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(valueToText(TYPE_DOUBLE, buf, sizeof buf, nullptr, 1), TVK_ERR_PARAM);

    // valueToString has no bound: a long array comes back whole and reads back.
    std::vector<double> many(5000);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = 1.0 / static_cast<double>(i + 3);
    const std::string text = valueToString(TYPE_DOUBLE, many.data(), static_cast<int>(many.size()));
    std::vector<double> back(many.size());
    ASSERT_EQ(textToValue(back.data(), text.c_str(), TYPE_DOUBLE, static_cast<int>(back.size())), 0);
    EXPECT_EQ(back, many);
}

TEST(TypeTable, NamesSizesAndLookup)
{
    const struct {
        int type;
        const char* name;
        int size;
    } types[] = {{0, "bool", 4},  {1, "char", 1},  {2, "uchar", 1},  {3, "byte", 1},
                 {4, "i16", 2},   {5, "u16", 2},   {6, "i32", 4},    {7, "u32", 4},
                 {8, "float", 4}, {9, "double", 8}, {10, "string", 4}};
    for (const auto& t : types) {
        SCOPED_TRACE(t.name);
        EXPECT_STREQ(typeName(t.type), t.name);
        EXPECT_EQ(typeElementSize(t.type), t.size);
        EXPECT_EQ(typeFromName(t.name), t.type);
    }
    for (int outside : {-1, 11, 12, 1000}) {
        EXPECT_STREQ(typeName(outside), "uknown");
        EXPECT_EQ(typeElementSize(outside), 0);
    }
    EXPECT_EQ(typeFromName("U32"), TYPE_UNKNOWN);
    EXPECT_EQ(typeFromName("u3"), TYPE_UNKNOWN);
    EXPECT_EQ(typeFromName(""), TYPE_UNKNOWN);
    EXPECT_EQ(typeFromName(nullptr), TYPE_UNKNOWN);
}

} // namespace
