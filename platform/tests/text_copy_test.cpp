// The bounded text copy: what fits is copied whole, a longer text is cut, the result is always
// terminated, and nothing is written or read past the given sizes.
#include <cstring>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/text_copy.h"

namespace {

constexpr char kGuard = '#';

struct Case {
    const char* what;
    const char* text; // null: a null text
    size_t size;      // of the destination
    const char* expected;
};

TEST(TextCopy, CutsToFitAndTerminates)
{
    const Case cases[] = {
        {"fits", "abc", 8, "abc"},
        {"exactly fills", "abcdefg", 8, "abcdefg"},
        {"one too long", "abcdefgh", 8, "abcdefg"},
        {"much too long", "abcdefghijklmnopqrstuvwxyz", 8, "abcdefg"},
        {"empty text", "", 8, ""},
        {"null text", nullptr, 8, ""},
        {"room for the zero only", "abc", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Both forms: a zero-terminated text and a sized text.
        for (int form = 0; form < 2; ++form) {
            if (form == 1 && !c.text)
                continue;
            char buf[16];
            std::memset(buf, kGuard, sizeof buf);
            const size_t n = form == 0 ? plat::copyText(buf, c.size, c.text)
                                       : plat::copyText(buf, c.size, std::string(c.text));
            EXPECT_STREQ(buf, c.expected);
            EXPECT_EQ(n, std::strlen(c.expected));
            for (size_t i = c.size; i < sizeof buf; ++i)
                EXPECT_EQ(buf[i], kGuard) << "written past the size at " << i;
        }
    }
}

TEST(TextCopy, NoDestinationWritesNothing)
{
    char buf[4] = {kGuard, kGuard, kGuard, kGuard};
    EXPECT_EQ(plat::copyText(buf, 0, "abc"), 0u);
    EXPECT_EQ(plat::copyText(buf, 0, std::string_view("abc")), 0u);
    EXPECT_EQ(buf[0], kGuard);
    EXPECT_EQ(plat::copyText(nullptr, 4, "abc"), 0u);
    EXPECT_EQ(plat::copyText(nullptr, 4, std::string_view("abc")), 0u);
}

// A source without a zero within reach is read no further than what fits (the sanitizer build sees
// an over-read), and a sized text is taken with its own length, not up to a zero.
TEST(TextCopy, ReadsNoFurtherThanFits)
{
    const char unterminated[4] = {'w', 'x', 'y', 'z'};
    char buf[4];
    EXPECT_EQ(plat::copyText(buf, unterminated), 3u);
    EXPECT_STREQ(buf, "wxy");
    EXPECT_EQ(plat::copyText(buf, std::string_view(unterminated, 2)), 2u);
    EXPECT_STREQ(buf, "wx");
}

} // namespace
