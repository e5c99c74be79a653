// The manager's line sections of "tvkmanager.ini": reading, replacing through a temporary file, and
// never replacing a file that exists but cannot be read.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "mgr_ini.h"
#include "mgr_test_support.h"

namespace fs = std::filesystem;
using mgrtest::readFile;
using mgrtest::writeFile;
using Lines = std::vector<std::string>;

namespace {

const std::string kFixture = "data/ini/tvkmanager.ini";

class IniSections : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ =
            mgrtest::scratchDir(std::string("ini-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        path_ = dir_ + "/tvkmanager.ini";
    }

    // A copy of the fixture to work on.
    std::string fixtureCopy()
    {
        fs::copy_file(kFixture, path_, fs::copy_options::overwrite_existing);
        return path_;
    }

    Lines read(const std::string& section, int expectedResult)
    {
        Lines lines;
        EXPECT_EQ(readIniSection(section, path_, lines), expectedResult) << section;
        return lines;
    }

    std::string dir_;
    std::string path_;
};

TEST_F(IniSections, ReadsTheLinesOfAWholeHeaderOnly)
{
    fixtureCopy();
    struct Case {
        const char* section;
        Lines lines;
    } cases[] = {
        {"Plugins", {"tvkctrlui.so", "plugins/dacdeck.so"}},
        {"Filter instances", {"{chainedit:Median:Default instance}", "Size:3 ", "Thr:10 "}},
        {"Filter chains", {"{chainedit:Clean}", "chainedit:Median"}},
        {"Splash screen", {"Disable=1"}}, // the empty line is skipped
        {"Other", {"key = value"}},
        {"plugins", {}},  // case-sensitive
        {"Plugins ", {}}, // no trimming
        {"Missing", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(c.section, static_cast<int>(c.lines.size())), c.lines) << c.section;
}

TEST_F(IniSections, ReadingAppendsToTheList)
{
    fixtureCopy();
    Lines lines = {"kept"};
    EXPECT_EQ(readIniSection("Filter chains", path_, lines), 2);
    EXPECT_EQ(lines, (Lines{"kept", "{chainedit:Clean}", "chainedit:Median"}));
}

TEST_F(IniSections, EachSectionRoundTripsUnchanged)
{
    const std::string original = readFile(kFixture);
    for (const char* section : {"Plugins", "Filter instances", "Filter chains"}) {
        fixtureCopy();
        Lines lines;
        ASSERT_GT(readIniSection(section, path_, lines), 0) << section;
        ASSERT_EQ(writeIniSection(path_, section, lines), 0) << section;
        EXPECT_EQ(readFile(path_), original) << section;
    }
}

TEST_F(IniSections, ReplacingASectionKeepsEveryOtherLine)
{
    fixtureCopy();
    ASSERT_EQ(writeIniSection(path_, "Plugins", {"tvkctrlui.so", "plugins/frameshelf.so"}), 0);
    EXPECT_EQ(readFile(path_), readFile("data/ini/plugins_replaced.ini"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "temporary file left";
}

TEST_F(IniSections, AHeaderOfOtherCaseIsNotFoundAndANewSectionIsAppended)
{
    fixtureCopy();
    ASSERT_EQ(writeIniSection(path_, "plugins", {"x.so"}), 0);
    EXPECT_EQ(readFile(path_), readFile("data/ini/section_appended.ini"));
}

TEST_F(IniSections, EditsOfSmallFiles)
{
    struct Case {
        const char* name;
        const char* before;
        Lines lines;
        const char* after;
    } cases[] = {
        {"first of two sections of one name", "[A]\n1\n[B]\nx\n[A]\n2\n", {"9"}, "[A]\n9\n[B]\nx\n[A]\n2\n"},
        {"any '[' line ends a section", "[A]\n1\n[not a header\n2\n", {"9"}, "[A]\n9\n[not a header\n2\n"},
        {"empty list leaves the bare header", "[A]\n1\n2\n[B]\nx\n", {}, "[A]\n[B]\nx\n"},
        {"empty lines of the section go", "[A]\n1\n\n2\n\n[B]\n", {"1", "2"}, "[A]\n1\n2\n[B]\n"},
        {"section at the end", "[B]\nx\n[A]\nold\n", {"new"}, "[B]\nx\n[A]\nnew\n"},
        {"appended after a last line without newline", "[B]\nx", {"1"}, "[B]\nx\n[A]\n1\n"},
        {"CR LF lines of other sections stay",
         "[B]\r\nx\r\n[A]\r\nold\r\n[C]\r\ny\r\n",
         {"new"},
         "[B]\r\nx\r\n[A]\nnew\n[C]\r\ny\r\n"},
    };
    for (const Case& c : cases) {
        writeFile(path_, c.before);
        ASSERT_EQ(writeIniSection(path_, "A", c.lines), 0) << c.name;
        EXPECT_EQ(readFile(path_), c.after) << c.name;
    }
}

TEST_F(IniSections, CrLfLinesReadWithoutTheirCarriageReturn)
{
    writeFile(path_, "[A]\r\none\r\ntwo\r\n[B]\r\n");
    EXPECT_EQ(read("A", 2), (Lines{"one", "two"}));
}

TEST_F(IniSections, AMissingFileReadsEmptyAndIsCreatedHoldingTheSection)
{
    EXPECT_EQ(read("Plugins", 0), Lines{});
    ASSERT_EQ(writeIniSection(path_, "Plugins", {"a.so"}), 0);
    EXPECT_EQ(readFile(path_), "[Plugins]\na.so\n");
}

// An unreadable file is not an empty one: replacing it would lose every other section.
TEST_F(IniSections, AnUnreadableFileIsLeftUntouched)
{
    // A link to itself and a folder cannot be read, even by root.
    const std::string loop = dir_ + "/loop.ini";
    fs::create_symlink("loop.ini", loop);
    const std::string folder = dir_ + "/folder.ini";
    fs::create_directory(folder);
    for (const std::string& path : {loop, folder}) {
        Lines lines;
        std::string error;
        EXPECT_EQ(readIniSection("Plugins", path, lines, &error), TVK_ERR_OPEN_READ) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_TRUE(lines.empty());
        error.clear();
        EXPECT_EQ(writeIniSection(path, "Plugins", {"a.so"}, &error), TVK_ERR_OPEN_READ) << path;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(fs::is_symlink(loop));
    EXPECT_EQ(fs::read_symlink(loop), "loop.ini");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2) << "temporary file left";
}

TEST_F(IniSections, RefusedWritesChangeNothing)
{
    const std::string before = readFile(fixtureCopy());
    std::string error;
    EXPECT_EQ(writeIniSection(path_, "Plugins", {"a.so", "b\nc.so"}, &error), TVK_ERR_PARAM);
    EXPECT_NE(error.find("line break"), std::string::npos);
    EXPECT_EQ(readFile(path_), before);

    EXPECT_EQ(writeIniSection(dir_ + "/no/such/folder/tvkmanager.ini", "Plugins", {"a.so"}, &error), -6);
}

} // namespace
