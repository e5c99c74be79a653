// The settings-file path of a plug-in, numbers from its "Settings" section, the blank skip and the last
// system error text.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "plugin_files.h"

namespace {

TEST(BuildIniPath, ModuleNameInTheFolderWithOneSlash)
{
    const std::string longFolder(600, 'f');
    struct Case {
        const char* name;
        std::string folder;
        std::string module;
        const char* suffix;
        int rc;
        std::string out;
    } cases[] = {
        {"trailing slash", "/a/configs/", "/b/tool.so", nullptr, 0, "/a/configs/tool.ini"},
        {"suffix", "/a/configs/", "/b/tool.so", "x1", 0, "/a/configs/tool_x1.ini"},
        {"no trailing slash", "/a/configs", "/b/tool.so", nullptr, 0, "/a/configs/tool.ini"},
        {"no trailing slash, suffix", "/a/configs", "/b/tool.so", "x1", 0, "/a/configs/tool_x1.ini"},
        {"dot in the module's folder", "/a/configs/", "/b.d/tool", nullptr, 0, "/a/configs/tool.ini"},
        {"only the last extension goes", "/a/configs/", "/b/tool.v2.so", nullptr, 0, "/a/configs/tool.v2.ini"},
        {"chip board that climbs out", "/a/configs/", "/b/tool.so", "../../x", 0, "/a/configs/tool_....x.ini"},
        {"empty suffix", "/a/configs/", "/b/tool.so", "", 0, "/a/configs/tool_.ini"},
        {"folder too long", longFolder, "/b/tool.so", nullptr, -1, ""},
        {"result just too long", std::string(kPluginPathSize - 9, 'f'), "/tool.so", nullptr, -1, ""},
        {"result just fits", std::string(kPluginPathSize - 10, 'f'), "/tool.so", nullptr, 0,
         std::string(kPluginPathSize - 10, 'f') + "/tool.ini"},
        {"no module path", "/a/configs/", "", nullptr, -1, ""},
    };
    for (const Case& c : cases) {
        char out[kPluginPathSize];
        std::memset(out, 'z', sizeof out);
        EXPECT_EQ(buildIniPathFor(c.folder.c_str(), out, c.module, c.suffix), c.rc) << c.name;
        EXPECT_EQ(std::string(out), c.out) << c.name;
    }
}

TEST(BuildIniPath, TakesTheModuleOfAnAddress)
{
    char out[kPluginPathSize];
    ASSERT_EQ(buildIniPath("/cfg/", out, reinterpret_cast<const void*>(&buildIniPath), "B"), 0);
    // This test program is the module that holds the code.
    EXPECT_EQ(std::string(out), "/cfg/plugin_files_test_B.ini");
    EXPECT_EQ(buildIniPath("/cfg/", out, nullptr, nullptr), -1);
    EXPECT_STREQ(out, "");
}

TEST(ReadSettingsDouble, WholeTextLocaleFree)
{
    const std::string dir = ombrel_test::scratchDir("pluginfw-settings");
    const std::string ini = dir + "/tool.ini";
    const std::string e300 = "1." + std::string(40, '0') + "e300";
    ASSERT_TRUE(ombrel_test::writeFile(ini, "[Settings]\nText=abc\nEmpty=\nTail=2.5e3x\nLong=" + e300 +
                                                "\nComma=2,5\nNeg= -0.125\n"));
    struct Case {
        const char* key;
        double expected;
    } cases[] = {
        {"Text", 0}, {"Empty", 42}, {"Missing", 42}, {"Tail", 2500}, {"Long", 1e300}, {"Comma", 2}, {"Neg", -0.125},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readSettingsDouble(c.key, 42, ini.c_str()), c.expected) << c.key;
    EXPECT_EQ(readSettingsDouble("Text", 42, (dir + "/missing.ini").c_str()), 42);
}

TEST(SkipBlanks, StopsAtTheFirstNonBlankOrTheEnd)
{
    struct Case {
        const char* content;
        bool found;
        int next;
    } cases[] = {{" \t\r\n x", true, 'x'}, {"y", true, 'y'}, {" \t\r\n ", false, EOF}, {"", false, EOF}};
    for (const Case& c : cases) {
        FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        std::fputs(c.content, f);
        std::rewind(f);
        EXPECT_EQ(skipBlanks(f), c.found) << c.content;
        EXPECT_EQ(std::fgetc(f), c.next) << c.content;
        std::fclose(f);
    }
}

TEST(FormatLastError, TextAndCode)
{
    char buf[256];
    errno = ENOENT;
    EXPECT_EQ(formatLastError(buf), buf);
    EXPECT_EQ(std::string(buf), std::string(std::strerror(ENOENT)) + " (" + std::to_string(ENOENT) + ")");
}

} // namespace
