// Safe file replacement: the old file survives every failure, and no temporary file is left behind.
#include "platform/file_write.h"

#include "platform/syserror.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using testfiles::listDir;
using testfiles::readFile;
using testfiles::writeFile;

namespace {

class FileWriteTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = testfiles::scratchDir(testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    std::string dir;
};

TEST_F(FileWriteTest, CreatesAndReplacesFiles)
{
    const std::string path = dir + "/data.bin";
    const std::string first("first\0with zero", 15);
    ASSERT_EQ(plat::replaceFile(path, first.data(), first.size()), 0);
    EXPECT_EQ(readFile(path), first);

    ASSERT_EQ(plat::replaceFile(path, "b", 1), 0);
    EXPECT_EQ(readFile(path), "b");
    ASSERT_EQ(plat::replaceFile(path, nullptr, 0), 0);
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"data.bin"});
}

TEST_F(FileWriteTest, ReplacedFileKeepsPermissionsAndLinks)
{
    const std::string real = dir + "/real.ini";
    const std::string link = dir + "/link.ini";
    ASSERT_TRUE(writeFile(real, "old"));
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);

    ASSERT_EQ(plat::replaceFile(link, "new", 3), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(readFile(real), "new");
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A file name as long as the file system allows can be replaced too: the temporary name stays short.
TEST_F(FileWriteTest, LongestFileNameIsReplaced)
{
    const std::string path = dir + "/" + std::string(251, 'n') + ".cfg"; // 255 characters
    ASSERT_TRUE(writeFile(path, "old"));
    std::string error;
    ASSERT_EQ(plat::replaceFile(path, "new", 3, &error), 0) << error;
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(listDir(dir).size(), 1u);
}

TEST_F(FileWriteTest, StreamedWriterCommitsOrDiscards)
{
    const std::string path = dir + "/stream.txt";
    ASSERT_TRUE(writeFile(path, "old content"));
    {
        plat::AtomicFileWriter writer(path);
        ASSERT_EQ(writer.open(), 0);
        EXPECT_TRUE(writer.write(std::string("part one, ")));
        EXPECT_EQ(readFile(path), "old content") << "visible before commit";
        writer.discard();
    }
    EXPECT_EQ(readFile(path), "old content");
    {
        plat::AtomicFileWriter writer(path);
        ASSERT_EQ(writer.open(), 0);
        writer.write(std::string("dropped"));
    } // destroyed without commit
    EXPECT_EQ(readFile(path), "old content");

    plat::AtomicFileWriter writer(path);
    ASSERT_EQ(writer.open(), 0);
    EXPECT_TRUE(writer.write(std::string("part one, ")));
    EXPECT_TRUE(writer.write(std::string("part two")));
    EXPECT_EQ(writer.commit(), 0);
    EXPECT_EQ(readFile(path), "part one, part two");
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"stream.txt"});
}

TEST_F(FileWriteTest, WriterThatWasNeverOpenedFails)
{
    plat::AtomicFileWriter writer(dir + "/never.txt");
    EXPECT_FALSE(writer.write(std::string("x")));
    std::string error;
    EXPECT_EQ(writer.commit(&error), -8);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(listDir(dir).empty());
}

TEST_F(FileWriteTest, UncreatableFileIsReported)
{
    std::string error;
    EXPECT_EQ(plat::replaceFile(dir + "/no/such/folder/f.txt", "x", 1, &error), -6);
    EXPECT_NE(error.find("Cannot open file"), std::string::npos) << error;
    EXPECT_NE(error.find(plat::systemErrorText(ENOENT)), std::string::npos) << error;
}

// A read-only file is refused as one that cannot be opened for writing, and stays as it was.
TEST_F(FileWriteTest, ReadOnlyFileIsNotReplaced)
{
    const std::string locked = dir + "/locked.cfg";
    ASSERT_TRUE(writeFile(locked, "kept"));
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);

    const std::string link = dir + "/link.cfg";
    ASSERT_EQ(::symlink("locked.cfg", link.c_str()), 0);

    testfiles::PermissionBitsApply bits;
    if (!bits.active())
        GTEST_SKIP() << "permission checks cannot be made to apply here";
    for (const std::string& path : {locked, link}) {
        SCOPED_TRACE(path);
        std::string error;
        EXPECT_EQ(plat::replaceFile(path, "new", 3, &error), -6);
        EXPECT_EQ(error, "Cannot open file \"" + path + "\" for writing: " + plat::systemErrorText(EACCES) + ".");
        EXPECT_EQ(readFile(locked), "kept");
    }
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"link.cfg", "locked.cfg"}));
}

// A write that fails (here: the file size limit, as on a full disk) is reported and keeps the old file.
TEST_F(FileWriteTest, FailedWriteKeepsOldFile)
{
    const std::string path = dir + "/frame.bin";
    const std::string old(10000, 'o'); // larger than the limit: only new data is refused
    ASSERT_TRUE(writeFile(path, old));
    const std::string fresh(65536, 'n');
    std::string error;
    int result = 0;
    {
        testfiles::FileSizeLimit limit(4096);
        result = plat::replaceFile(path, fresh.data(), fresh.size(), &error);
    }
    EXPECT_EQ(result, -8);
    EXPECT_NE(error.find("Error occurred while writing to file"), std::string::npos) << error;
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"frame.bin"});
}

TEST_F(FileWriteTest, FullDiskKeepsOldFile)
{
    const std::string old = "old data that must survive\n";
    std::string failure;
    const auto ran = testfiles::runOnFullTmpfs(
        dir, [&](const std::string& d) { writeFile(d + "/frame.bin", old); },
        [&](const std::string& d) -> std::string {
            const std::string path = d + "/frame.bin";
            const std::string fresh(8192, 'n');
            std::string error;
            const int result = plat::replaceFile(path, fresh.data(), fresh.size(), &error);
            if (result != -8)
                return "replaceFile returned " + std::to_string(result) + " on a full disk";
            if (error.find(plat::systemErrorText(ENOSPC)) == std::string::npos)
                return "message without the system's reason: " + error;
            if (readFile(path) != old)
                return "the old file was changed";
            if (listDir(d) != std::vector<std::string>{"filler", "frame.bin"})
                return "a temporary file was left behind";
            return {};
        },
        &failure);
    if (ran == testfiles::FullDisk::NotPermitted)
        GTEST_SKIP() << "mounting a small tmpfs is not permitted here";
    EXPECT_EQ(failure, "");
}

} // namespace
