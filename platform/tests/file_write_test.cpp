// Safe file replacement: the old file survives every failure, and no temporary file is left behind, not even
// one of a process killed during a save. Series of files synced together at their end.
#include "platform/file_write.h"

#include "platform/syserror.h"
#include "sync_recorder.h"
#include "test_files.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

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

// A pid that no process has: a child that has ended and been reaped.
pid_t endedPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

std::string temporaryName(const std::string& stem, pid_t pid, int counter = 0)
{
    return stem + ".~tmp" + std::to_string(pid) + "." + std::to_string(counter);
}

// The first write into a folder removes what killed saves left there, and nothing else: the temporary
// files of running processes (this one's own in flight, another's), of other users, entries that are not
// regular files, and names that merely look alike stay.
TEST_F(FileWriteTest, StaleTemporaryFilesOfEndedProcessesAreRemovedOnTheNextWrite)
{
    const pid_t ended = endedPid();
    const pid_t running = ::getppid();
    const std::string endedText = std::to_string(ended);
    const std::vector<std::string> stale = {temporaryName("frame.bin", ended, 3),
                                            temporaryName("tvkmanager.ini", ended, 12)};
    std::vector<std::string> kept = {temporaryName("own.bin", ::getpid(), 1),
                                     temporaryName("other.bin", running, 2),
                                     "frame.bin.~tmp" + endedText,
                                     "frame.bin.~tmp" + endedText + ".1.bak",
                                     "frame.bin.~tmp" + endedText + "x.1",
                                     ".~tmp" + endedText + ".1",
                                     "frame.bin"};
    for (const auto& name : stale)
        ASSERT_TRUE(writeFile(dir + "/" + name, "partial"));
    for (const auto& name : kept)
        ASSERT_TRUE(writeFile(dir + "/" + name, "kept"));
    const std::string link = temporaryName("link.bin", ended, 4);
    const std::string folder = temporaryName("folder.bin", ended, 5);
    ASSERT_EQ(::symlink("frame.bin", (dir + "/" + link).c_str()), 0);
    ASSERT_EQ(::mkdir((dir + "/" + folder).c_str(), 0755), 0);
    kept.push_back(link);
    kept.push_back(folder);
    if (::geteuid() == 0) { // a file of another user is only made as root
        const std::string foreign = temporaryName("foreign.bin", ended, 6);
        ASSERT_TRUE(writeFile(dir + "/" + foreign, "kept"));
        ASSERT_EQ(::chown((dir + "/" + foreign).c_str(), 65534, 65534), 0);
        kept.push_back(foreign);
    }

    ASSERT_EQ(plat::replaceFile(dir + "/configs.ini", "x", 1), 0);
    kept.push_back("configs.ini");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(listDir(dir), kept);

    // A folder is read once per process, not at every write into it.
    ASSERT_TRUE(writeFile(dir + "/" + stale[0], "partial"));
    ASSERT_EQ(plat::replaceFile(dir + "/configs.ini", "y", 1), 0);
    EXPECT_TRUE(std::filesystem::exists(dir + "/" + stale[0]));
}

class SyncBatchTest : public FileWriteTest {
protected:
    ombrel_test::SyncRecorder syncs;

    // The files of a batch are synced at once, in no set order, and their folder after all of them:
    // the files sorted, then the folder, or the syncs as they came when the folder was not last.
    static std::vector<std::string> filesThenFolder(std::vector<std::string> synced)
    {
        if (!synced.empty())
            std::sort(synced.begin(), synced.end() - 1);
        return synced;
    }
};

// Within a scope, files are put in place complete without waiting for the disk; flush syncs each file,
// then the folder once. Outside the scope, and on other threads, every file is synced as it is written.
TEST_F(SyncBatchTest, FilesOfAScopeAreSyncedOnceAtTheEnd)
{
    plat::SyncBatch batch;
    {
        plat::SyncBatch::Scope deferred(batch);
        for (const char* name : {"/s0.bin", "/s0.dsc", "/s1.bin"})
            ASSERT_EQ(plat::replaceFile(dir + name, name, 7), 0);
        EXPECT_EQ(readFile(dir + "/s1.bin"), "/s1.bin");
        std::thread other([&] { EXPECT_EQ(plat::replaceFile(dir + "/other.ini", "o", 1), 0); });
        other.join();
        EXPECT_EQ(syncs.take().size(), 2u) << "the other thread's file and its folder";
    }
    ASSERT_EQ(plat::replaceFile(dir + "/single.cfg", "c", 1), 0);
    const std::vector<std::string> single = syncs.take();
    ASSERT_EQ(single.size(), 2u);
    EXPECT_EQ(single[1], dir) << "the single file is synced with its folder";

    EXPECT_EQ(batch.flush(), 0);
    EXPECT_EQ(filesThenFolder(syncs.take()),
              (std::vector<std::string>{dir + "/s0.bin", dir + "/s0.dsc", dir + "/s1.bin", dir}));
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(batch.flush(), 0);
    EXPECT_TRUE(syncs.take().empty());
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"other.ini", "s0.bin", "s0.dsc", "s1.bin", "single.cfg"}));
}

// A failed sync is reported with the write-error code and names its file; the other files are still synced.
TEST_F(SyncBatchTest, FailedSyncIsReported)
{
    plat::SyncBatch batch;
    {
        plat::SyncBatch::Scope deferred(batch);
        ASSERT_EQ(plat::replaceFile(dir + "/a.bin", "a", 1), 0);
        ASSERT_EQ(plat::replaceFile(dir + "/b.bin", "b", 1), 0);
    }
    syncs.failOn(dir + "/a.bin");
    std::string error;
    EXPECT_EQ(batch.flush(&error), -8);
    EXPECT_EQ(error, "Error occurred while writing to file \"" + dir + "/a.bin\": " + plat::systemErrorText(EIO) + ".");
    EXPECT_EQ(filesThenFolder(syncs.take()), (std::vector<std::string>{dir + "/a.bin", dir + "/b.bin", dir}));
    EXPECT_EQ(readFile(dir + "/b.bin"), "b");
}

// Files committed together, as a frame and its description are: both temporaries are synced while the
// old files still stand, then both are renamed and the folder is synced once. A failed sync changes no
// file, nor does a folder that took the second name after the writers were opened (it used to be found
// only by the second rename, after the first file had been replaced).
namespace together {

std::mutex mutex; // guards the four below
std::string folder;
std::vector<std::string> synced;
std::string failing; // a sync of a path containing this fails with EIO
std::vector<std::string> targetsAtSync; // what the two targets held at each sync

// A file's content; "" for a folder.
std::string textOf(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) ? readFile(path) : std::string();
}

int recordSync(int fd, const char* path)
{
    std::lock_guard<std::mutex> guard(mutex);
    synced.emplace_back(path);
    targetsAtSync.push_back(textOf(folder + "/a.bin") + "+" + textOf(folder + "/a.dsc"));
    if (!failing.empty() && std::string(path).find(failing) != std::string::npos) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}

} // namespace together

TEST(FileWriteTogether, CommittedTogether)
{
    struct Case {
        const char* label;
        const char* failingSync;  // part of the path whose sync fails, or ""
        bool dscIsFolder;          // a folder is made at the description's name after the writers opened
        bool withDsc;              // false: the second writer is left out (null)
        int result;
        const char* data;          // a.bin afterwards
        const char* dsc;           // a.dsc afterwards ("" for the folder)
        size_t syncs;
    };
    const Case cases[] = {
        {"both put in place", "", false, true, 0, "new data", "new dsc", 3},
        {"the data's sync fails", "/a.bin.~tmp", false, true, -8, "old data", "old dsc", 1},
        {"the description's sync fails", "/a.dsc.~tmp", false, true, -8, "old data", "old dsc", 2},
        {"a folder made at the description's name since open", "", true, true, -8, "old data", "", 2},
        {"one file alone", "", false, false, 0, "new data", "old dsc", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string dir = testfiles::scratchDir("CommittedTogether"); // emptied
        ASSERT_TRUE(writeFile(dir + "/a.bin", "old data"));
        if (!c.dscIsFolder) {
            ASSERT_TRUE(writeFile(dir + "/a.dsc", "old dsc"));
        }
        {
            std::lock_guard<std::mutex> guard(together::mutex);
            together::folder = dir;
            together::synced.clear();
            together::targetsAtSync.clear();
            together::failing = c.failingSync;
        }
        plat::setSyncFunctionForTests(&together::recordSync);
        plat::AtomicFileWriter data(dir + "/a.bin"), dsc(dir + "/a.dsc");
        ASSERT_EQ(data.open(), 0);
        data.write(std::string("new data"));
        if (c.withDsc) {
            ASSERT_EQ(dsc.open(), 0);
            dsc.write(std::string("new dsc"));
        }
        if (c.dscIsFolder)
            std::filesystem::create_directories(dir + "/a.dsc");
        plat::AtomicFileWriter* const writers[] = {&data, c.withDsc ? &dsc : nullptr};
        std::string error;
        const int rc = plat::commitTogether(writers, 2, &error);
        plat::setSyncFunctionForTests(nullptr);

        EXPECT_EQ(rc, c.result);
        if (rc != 0) {
            const std::string failed = c.failingSync == std::string("/a.bin.~tmp") ? "/a.bin" : "/a.dsc";
            EXPECT_EQ(error.rfind("Error occurred while writing to file \"" + dir + failed + "\"", 0), 0u) << error;
        }
        EXPECT_EQ(together::textOf(dir + "/a.bin"), c.data);
        EXPECT_EQ(together::textOf(dir + "/a.dsc"), c.dsc);
        std::lock_guard<std::mutex> guard(together::mutex);
        ASSERT_EQ(together::synced.size(), c.syncs);
        for (size_t i = 0; i < together::synced.size(); ++i) {
            const bool folder = together::synced[i] == dir;
            const bool renamed = std::string(c.data) == "new data"; // then the folder is synced last
            EXPECT_EQ(folder, renamed && i + 1 == c.syncs) << together::synced[i];
            if (!folder) { // every temporary is synced before anything is renamed
                EXPECT_EQ(together::targetsAtSync[i], c.dscIsFolder ? "old data+" : "old data+old dsc");
            }
        }
        EXPECT_EQ(listDir(dir), (std::vector<std::string>{"a.bin", "a.dsc"})) << "a temporary file left";
    }
}

// A process killed in the middle of a series leaves every file that was put in place complete, and the
// temporary file of the save it was in is removed by the next process that writes into the folder.
TEST_F(FileWriteTest, SeriesKilledMidwayLeavesCompleteFiles)
{
    const std::string content(200000, 'c');
    const pid_t child = ::fork();
    if (child == 0) {
        plat::SyncBatch batch;
        plat::SyncBatch::Scope deferred(batch);
        for (int n = 0;; ++n) {
            const std::string name = dir + "/s" + std::to_string(n % 50) + ".bin";
            plat::AtomicFileWriter writer(name);
            if (writer.open() != 0)
                ::_exit(1);
            for (size_t at = 0; at < content.size(); at += 1000)
                writer.write(content.data() + at, 1000);
            if (writer.commit() != 0)
                ::_exit(1);
        }
    }
    ASSERT_GT(child, 0);
    const bool midway = ombrel_test::waitUntil([&] { return std::filesystem::exists(dir + "/s20.bin"); });
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(midway) << "the writer never got to its 21st file";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << status;

    ASSERT_EQ(plat::replaceFile(dir + "/next.ini", "n", 1), 0);
    for (const std::string& name : listDir(dir)) {
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find(".~tmp"), std::string::npos);
        if (name != "next.ini") {
            EXPECT_EQ(readFile(dir + "/" + name), content);
        }
    }
}

} // namespace
