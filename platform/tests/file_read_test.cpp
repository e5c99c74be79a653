// Reading outside files: only regular files, never beyond the cap, never blocking on a FIFO or a device.
#include "platform/file_read.h"

#include "platform/ini.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using testfiles::writeFile;

namespace {

class FileReadTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = testfiles::scratchDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(writeFile(dir + "/plain.txt", "0123456789"));
        ASSERT_EQ(::symlink("plain.txt", (dir + "/link.txt").c_str()), 0);
        ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
        ASSERT_EQ(::symlink("/dev/zero", (dir + "/zero").c_str()), 0);
        ASSERT_TRUE(writeFile(dir + "/empty.txt", ""));
    }
    std::string dir;
};

TEST_F(FileReadTest, OnlyRegularFilesWithinTheCapAreRead)
{
    struct Case {
        const char* name;
        size_t cap;
        plat::ReadOutcome outcome;
        const char* content;
        const char* message; // part of the error text
    };
    const Case cases[] = {
        {"plain.txt", 100, plat::ReadOutcome::Ok, "0123456789", ""},
        {"plain.txt", 10, plat::ReadOutcome::Ok, "0123456789", ""},
        {"link.txt", 100, plat::ReadOutcome::Ok, "0123456789", ""},
        {"empty.txt", 100, plat::ReadOutcome::Ok, "", ""},
        {"plain.txt", 9, plat::ReadOutcome::TooLarge, "", "larger than 9 bytes"},
        {"missing.txt", 100, plat::ReadOutcome::Missing, "", "Cannot read file"},
        {"no/such/folder.txt", 100, plat::ReadOutcome::Missing, "", "Cannot read file"},
        {"fifo", 100, plat::ReadOutcome::NotRegular, "", "not a regular file"},
        {"zero", 100, plat::ReadOutcome::NotRegular, "", "not a regular file"},
        {".", 100, plat::ReadOutcome::NotRegular, "", "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name;
        std::string content = "stale";
        std::string error;
        EXPECT_EQ(plat::readRegularFile(path, content, &error, c.cap), c.outcome);
        EXPECT_EQ(content, c.content);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        if (c.outcome != plat::ReadOutcome::Ok) {
            EXPECT_NE(error.find(path), std::string::npos) << "the message names the file: " << error;
        }

        plat::ReadOutcome outcome = plat::ReadOutcome::Failed;
        std::FILE* file = plat::fopenRegularFile(path, &outcome);
        const bool opens = c.outcome == plat::ReadOutcome::Ok || c.outcome == plat::ReadOutcome::TooLarge;
        EXPECT_EQ(file != nullptr, opens);
        EXPECT_EQ(outcome, opens ? plat::ReadOutcome::Ok : c.outcome);
        if (file)
            std::fclose(file);
    }
}

// An ini file that is a FIFO or a device reads as empty and is never written through.
TEST_F(FileReadTest, IniLayerRefusesFilesThatAreNotRegular)
{
    for (const char* name : {"fifo", "zero"}) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        EXPECT_EQ(plat::iniRead(path, "Main", "Key"), std::nullopt);
        std::string error;
        EXPECT_EQ(plat::writeProfileString("Main", "Key", "value", path.c_str(), &error), -5);
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
    struct stat st {};
    ASSERT_EQ(::lstat((dir + "/fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
}

} // namespace
