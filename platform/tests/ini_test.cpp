// Profile strings: lookups as the Windows calls made them, and writes that keep every unrelated byte,
// never replace a file they could not read, and leave the old file intact when the write fails.
#include "platform/ini.h"

#include "platform/syserror.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

using testfiles::listDir;
using testfiles::readFile;
using testfiles::writeFile;

namespace {

const char* const kGoldenInput = "data/golden_input.ini";
const char* const kGoldenExpected = "data/golden_expected.ini";

class IniTest : public testing::Test {
protected:
    void SetUp() override
    {
        const char* name = testing::UnitTest::GetInstance()->current_test_info()->name();
        dir = testfiles::scratchDir(std::string("ini-") + name);
        file = dir + "/settings.ini";
    }
    // A copy of the golden input to work on.
    void copyGolden()
    {
        const std::string input = readFile(kGoldenInput);
        ASSERT_FALSE(input.empty()) << "fixture " << kGoldenInput << " missing";
        ASSERT_TRUE(writeFile(file, input));
    }
    std::string dir;
    std::string file;
};

TEST_F(IniTest, LookupsAreCaseInsensitiveAndFirstMatchWins)
{
    copyGolden();
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"main", "AUTOSTART", "1"},               // CR LF line; the later [main] section is shadowed
        {"Main", "exposuretime", "0.5"},          // blanks around key and value trimmed
        {"MAIN", "Path", "/data/frames dir"},     // enclosing double quotes removed
        {"preview", "Palette", "grey"},           // enclosing single quotes removed
        {"Preview", "ZOOM", "2"},                 // the first of two keys of the same name
        {" Preview ", " Zoom ", "2"},
        {"Last", "Tail", "end"},                  // last line without line end
        {"Main", "; keep this comment", std::nullopt},
        {"Main", "keep this comment", std::nullopt},
        {"Preview", "not a key line", std::nullopt},
        {"Main", "Missing", std::nullopt},
        {"Missing", "Autostart", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.section + "] " + c.key);
        EXPECT_EQ(plat::iniRead(file, c.section, c.key), c.value);
        char buf[64];
        const uint32_t n = plat::getProfileString(c.section, c.key, "dflt", buf, sizeof buf, file.c_str());
        const std::string expected = c.value.value_or("dflt");
        EXPECT_EQ(std::string(buf), expected);
        EXPECT_EQ(n, expected.size());
    }
    EXPECT_EQ(plat::iniRead(dir + "/missing.ini", "Main", "Autostart"), std::nullopt);
}

TEST_F(IniTest, ListsOfSectionsKeysAndEntries)
{
    copyGolden();
    EXPECT_EQ(plat::iniSections(file),
              (std::vector<std::string>{"Main", "Preview", "List", "Obsolete", "Last"}));
    EXPECT_EQ(plat::iniKeys(file, "PREVIEW"), (std::vector<std::string>{"Zoom", "Palette"}));
    EXPECT_EQ(plat::iniSectionEntries(file, "preview"),
              (std::vector<std::pair<std::string, std::string>>{{"Zoom", "2"}, {"Palette", "grey"}, {"zoom", "7"}}));
    EXPECT_TRUE(plat::iniKeys(file, "Missing").empty());
    EXPECT_TRUE(plat::iniSections(dir + "/missing.ini").empty());
}

// The profile-string buffer contract: values and name lists are cut to fit and always terminated.
TEST_F(IniTest, GetProfileStringCutsToFit)
{
    copyGolden();
    struct Case {
        const char* section; // null: list of sections
        const char* key;     // null: list of keys
        const char* def;
        uint32_t size;
        std::string expected; // the bytes written, terminators included
        uint32_t result;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {nullptr, nullptr, "", 64, "Main\0Preview\0List\0Obsolete\0Last\0\0"s, 32},
        {nullptr, "ignored", "", 64, "Main\0Preview\0List\0Obsolete\0Last\0\0"s, 32},
        {nullptr, nullptr, "", 8, "Main\0P\0\0"s, 6},
        {nullptr, nullptr, "", 2, "\0\0"s, 0},
        {"preview", nullptr, "", 64, "Zoom\0Palette\0\0"s, 13},
        {"preview", nullptr, "", 13, "Zoom\0Palett\0\0"s, 11},
        {"missing", nullptr, "", 8, "\0\0"s, 0},
        {"Main", "Path", "", 5, "/dat\0"s, 4},
        {"Main", "Path", "", 1, "\0"s, 0},
        {"Main", "Missing", "default  ", 64, "default\0"s, 7}, // trailing blanks of the default dropped
        {"Main", "Missing", "default", 4, "def\0"s, 3},
        {"Main", "Missing", nullptr, 8, "\0"s, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section ? c.section : "(null)") + "/" + (c.key ? c.key : "(null)") +
                     " size " + std::to_string(c.size));
        std::string buf(c.size + 4, 'X');
        const uint32_t n = plat::getProfileString(c.section, c.key, c.def, buf.data(), c.size, file.c_str());
        EXPECT_EQ(n, c.result);
        EXPECT_EQ(buf.substr(0, c.expected.size()), c.expected);
        EXPECT_EQ(buf.substr(c.size), "XXXX") << "written past the buffer";
    }
    char untouched = 'X';
    EXPECT_EQ(plat::getProfileString("Main", "Path", "", &untouched, 0, file.c_str()), 0u);
    EXPECT_EQ(untouched, 'X');
}

TEST_F(IniTest, GetProfileIntReadsLeadingDecimalNumbers)
{
    ASSERT_TRUE(writeFile(file, "[Ints]\nplain=42\nneg=-17\nspaced =  7  \ntrailing=12abc\nplus=+5\n"
                               "word=abc\nempty=\nbig=99999999999\nquoted=\"3\"\n"));
    struct Case {
        const char* key;
        int expected;
    };
    const Case cases[] = {
        {"plain", 42}, {"NEG", -17}, {"spaced", 7}, {"trailing", 12}, {"plus", 5}, {"quoted", 3},
        {"word", -1}, {"empty", -1}, {"big", -1}, {"missing", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::getProfileInt("ints", c.key, -1, file.c_str()), c.expected) << c.key;
    EXPECT_EQ(plat::getProfileInt("Ints", "plain", -1, (dir + "/missing.ini").c_str()), -1);
}

// Acceptance: a read-modify-write keeps every unrelated line, comment and line end byte for byte.
TEST_F(IniTest, ReadModifyWriteMatchesGoldenFile)
{
    copyGolden();
    struct Write {
        const char* section;
        const char* key;
        const char* value;
    };
    const Write writes[] = {
        {"MAIN", "autostart", "0"},            // replaced in place: key spelling and CR LF kept
        {"Main", "NewKey", "new value"},       // added after the section's last line, before the blank one
        {"Main", "ExposureTime", "0.25"},      // indentation kept, trailing blanks gone
        {"preview", "Zoom", nullptr},          // first Zoom deleted; the later zoom stays
        {"Obsolete", nullptr, nullptr},        // the whole section with its comment
        {"Last", "Added", "x"},                // after a last line that had no line end
        {"New Section", "Key", "  spaced  "},  // a new section at the end; quoted to keep its blanks
        {"Main", "Missing", nullptr},          // deleting what is not there changes nothing
        {"Missing", nullptr, nullptr},
    };
    for (const Write& w : writes) {
        std::string error;
        EXPECT_EQ(plat::writeProfileString(w.section, w.key, w.value, file.c_str(), &error), 0)
            << w.section << ": " << error;
    }
    EXPECT_EQ(plat::iniWriteSection(file, "list", {{"X", "1"}, {"Y", "two words"}}), 0);

    EXPECT_EQ(readFile(file), readFile(kGoldenExpected));
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"settings.ini"}) << "temporary file left behind";
    EXPECT_EQ(plat::iniRead(file, "Preview", "zoom"), "7");
    EXPECT_EQ(plat::iniRead(file, "new section", "KEY"), "  spaced  ");
    EXPECT_EQ(plat::iniRead(file, "Obsolete", "Old"), std::nullopt);
}

TEST_F(IniTest, ValuesReadBackExactly)
{
    const char* const values[] = {"plain", "", "  padded  ", "\"quoted\"", "'single'", "\"", "a = b ; c",
                                  "[not a section]", "tab\tinside", "umlaut \xC3\xA4"};
    for (const char* v : values) {
        ASSERT_EQ(plat::writeProfileString("Values", "Key", v, file.c_str()), 0) << v;
        EXPECT_EQ(plat::iniRead(file, "Values", "Key"), v);
    }
    EXPECT_EQ(plat::iniKeys(file, "Values"), std::vector<std::string>{"Key"});
}

TEST_F(IniTest, MissingFileReadsEmptyAndIsCreatedByAWrite)
{
    EXPECT_EQ(plat::writeProfileString("S", "k", nullptr, file.c_str()), 0);
    EXPECT_EQ(plat::writeProfileString("S", nullptr, nullptr, file.c_str()), 0);
    EXPECT_TRUE(listDir(dir).empty()) << "a delete created the file";
    EXPECT_EQ(plat::writeProfileString("S", "k", "v", file.c_str()), 0);
    EXPECT_EQ(readFile(file), "[S]\nk=v\n");
    EXPECT_EQ(plat::iniWriteSection(dir + "/other.ini", "L", {}), 0);
    EXPECT_EQ(readFile(dir + "/other.ini"), "[L]\n");

    std::string error;
    EXPECT_EQ(plat::writeProfileString("S", "k", "v", (dir + "/no/folder/x.ini").c_str(), &error), -6);
    EXPECT_FALSE(error.empty());
}

TEST_F(IniTest, ByteOrderMarkAndLoneLineEnds)
{
    ASSERT_TRUE(writeFile(file, "\xEF\xBB\xBF[Bom]\r\nk=v\r\n"));
    EXPECT_EQ(plat::iniRead(file, "Bom", "k"), "v");
    EXPECT_EQ(plat::writeProfileString("Bom", "k", "w", file.c_str()), 0);
    EXPECT_EQ(readFile(file), "\xEF\xBB\xBF[Bom]\r\nk=w\r\n");
}

// Input that an ini line cannot hold is refused with a message, and the file stays as it was.
TEST_F(IniTest, RefusesWhatALineCannotHold)
{
    copyGolden();
    const std::string before = readFile(file);
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"Main", "Path", "two\nlines"}, {"Main", "Path", "cr\rinside"}, {"Main", "a=b", "1"},
        {"Main", ";comment", "1"},      {"Main", "[x", "1"},            {"Main", "  ", "1"},
        {"a]b", "k", "1"},              {"", "k", "1"},                 {nullptr, "k", "1"},
        {"line\nbreak", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(plat::writeProfileString(c.section, c.key, c.value, file.c_str(), &error), -2)
            << (c.key ? c.key : "(null)");
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_EQ(plat::iniWriteSection(file, "Main", {{"ok", "1"}, {"bad", "a\nb"}}, &error), -2);
    EXPECT_NE(error.find("line break"), std::string::npos) << error;
    EXPECT_EQ(readFile(file), before);
}

// Acceptance: an existing file that cannot be read is never replaced.
TEST_F(IniTest, UnreadableFileIsNeverReplaced)
{
    struct Case {
        const char* name;
        std::function<bool(const std::string&)> make; // false: this case cannot be set up here
        std::function<bool(const std::string&)> unchanged;
    };
    const Case cases[] = {
        {"folder at the path",
         [](const std::string& p) { return ::mkdir(p.c_str(), 0755) == 0; },
         [](const std::string& p) {
             struct stat st {};
             return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && listDir(p).empty();
         }},
        {"no read permission",
         [](const std::string& p) {
             if (!writeFile(p, "[Main]\nkey=old\n") || ::chmod(p.c_str(), 0200) != 0)
                 return false;
             const int fd = ::open(p.c_str(), O_RDONLY);
             if (fd >= 0)
                 ::close(fd); // privileged user: permissions do not stop reading
             return fd < 0;
         },
         [](const std::string& p) {
             ::chmod(p.c_str(), 0600);
             return readFile(p) == "[Main]\nkey=old\n";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name + ".ini";
        if (!c.make(path)) {
            std::cout << "case \"" << c.name << "\" cannot be set up here (privileged user)\n";
            continue;
        }
        std::string error;
        EXPECT_EQ(plat::writeProfileString("Main", "key", "new", path.c_str(), &error), -5);
        EXPECT_NE(error.find("Cannot read file"), std::string::npos) << error;
        EXPECT_EQ(plat::writeProfileString("Main", nullptr, nullptr, path.c_str()), -5);
        EXPECT_EQ(plat::iniWriteSection(path, "Main", {{"key", "new"}}), -5);
        EXPECT_EQ(plat::iniRead(path, "Main", "key"), std::nullopt) << "an unreadable file reads as empty";
        EXPECT_TRUE(c.unchanged(path));
    }
}

// Acceptance: a write that fails (file size limit, then a full disk) leaves the old file intact.
TEST_F(IniTest, FailedWriteLeavesOldFileIntact)
{
    copyGolden();
    const std::string before = readFile(file);
    const std::string big(8192, 'v');
    std::string error;
    int result = 0;
    {
        testfiles::FileSizeLimit limit(before.size() + 16);
        result = plat::writeProfileString("Main", "Big", big.c_str(), file.c_str(), &error);
    }
    EXPECT_EQ(result, -8);
    EXPECT_NE(error.find("Error occurred while writing to file"), std::string::npos) << error;
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniTest, FullDiskLeavesOldFileIntact)
{
    const std::string golden = readFile(kGoldenInput);
    std::string failure;
    const auto ran = testfiles::runOnFullTmpfs(
        dir, [&](const std::string& d) { writeFile(d + "/settings.ini", golden); },
        [&](const std::string& d) -> std::string {
            const std::string path = d + "/settings.ini";
            std::string error;
            const int set = plat::writeProfileString("Main", "Autostart", "0", path.c_str(), &error);
            if (set != -8)
                return "writeProfileString returned " + std::to_string(set);
            if (error.find(plat::systemErrorText(ENOSPC)) == std::string::npos)
                return "message without the system's reason: " + error;
            const int section = plat::iniWriteSection(path, "List", {{"X", "1"}});
            if (section != -8)
                return "iniWriteSection returned " + std::to_string(section);
            if (readFile(path) != golden)
                return "the old file was changed";
            if (listDir(d) != std::vector<std::string>{"filler", "settings.ini"})
                return "a temporary file was left behind";
            return {};
        },
        &failure);
    if (ran == testfiles::FullDisk::NotPermitted)
        GTEST_SKIP() << "mounting a small tmpfs is not permitted here";
    EXPECT_EQ(failure, "");
}

} // namespace
