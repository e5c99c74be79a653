// printf-style formatting into a string: the same text printf writes, never cut, embedded zeros kept.
#include <string>

#include <gtest/gtest.h>

#include "platform/text_format.h"

namespace {

struct Case {
    const char* what;
    std::string text;
    std::string expected;
};

TEST(TextFormat, GivesWhatPrintfWrites)
{
    const std::string longWord(5000, 'x');
    const Case cases[] = {
        {"plain text", plat::format("Command failed."), "Command failed."},
        {"empty format", plat::format("%s", ""), ""},
        {"numbers and texts", plat::format("%d of %zu bytes (%s)", -3, size_t{512}, "retries=2"),
         "-3 of 512 bytes (retries=2)"},
        {"hex with width", plat::format("0x%02x 0x%x", 7u, 0xABCu), "0x07 0xabc"},
        {"percent sign", plat::format("100%%"), "100%"},
        {"fixed point", plat::format("%.2f", 2.5), "2.50"},
        {"a zero character is kept", plat::format("a%cb", '\0'), std::string("a\0b", 3)},
        // A message longer than any fixed buffer the callers had comes whole.
        {"long text", plat::format("<%s>", longWord.c_str()), "<" + longWord + ">"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.text, c.expected);
        EXPECT_EQ(c.text.size(), c.expected.size());
    }
}

} // namespace
