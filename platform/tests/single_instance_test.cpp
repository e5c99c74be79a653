// Single-instance lock: a second holder is refused, a killed holder leaves no stale lock, and bad names
// or planted files are refused with a reason.
#include "platform/single_instance.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_files.h"

namespace {

using Result = plat::SingleInstance::Result;

class SingleInstanceTest : public testing::Test {
protected:
    void SetUp() override
    {
        runtimeDir_ = testfiles::scratchDir("single-instance");
        ::chmod(runtimeDir_.c_str(), 0700);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        oldRuntime_ = old ? old : "";
        hadRuntime_ = old != nullptr;
        ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadRuntime_)
            ::setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        std::filesystem::remove_all(runtimeDir_);
    }

    std::string runtimeDir_;
    std::string oldRuntime_;
    bool hadRuntime_ = false;
};

TEST_F(SingleInstanceTest, SecondHolderIsRefusedUntilTheFirstReleases)
{
    plat::SingleInstance first;
    ASSERT_EQ(first.acquire("TvkLoaderSICheck"), Result::Acquired) << first.error();
    EXPECT_EQ(first.path(), runtimeDir_ + "/TvkLoaderSICheck.lock");
    EXPECT_EQ(first.acquire("TvkLoaderSICheck"), Result::Acquired) << "acquiring again while held";

    plat::SingleInstance second;
    EXPECT_EQ(second.acquire("TvkLoaderSICheck"), Result::AlreadyRunning);
    EXPECT_FALSE(second.held());

    plat::SingleInstance other;
    EXPECT_EQ(other.acquire("SomeOtherProgram"), Result::Acquired) << "names are independent";

    first.release();
    EXPECT_EQ(second.acquire("TvkLoaderSICheck"), Result::Acquired) << second.error();
}

TEST_F(SingleInstanceTest, KilledHolderLeavesNoStaleLock)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        plat::SingleInstance holder;
        const char state = holder.acquire("TvkLoaderSICheck") == Result::Acquired ? 'y' : 'n';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &state, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(state, 'y') << "the child could not take the lock";

    plat::SingleInstance second;
    EXPECT_EQ(second.acquire("TvkLoaderSICheck"), Result::AlreadyRunning);

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_TRUE(std::filesystem::exists(runtimeDir_ + "/TvkLoaderSICheck.lock")) << "the file stays";
    EXPECT_EQ(second.acquire("TvkLoaderSICheck"), Result::Acquired) << second.error();
}

TEST_F(SingleInstanceTest, BadNamesAndPlantedFilesAreRefused)
{
    const char* badNames[] = {"", "..", "a/b", "../escape", "white space", "semi;colon"};
    for (const char* name : badNames) {
        plat::SingleInstance lock;
        EXPECT_EQ(lock.acquire(name), Result::Failed) << "name \"" << name << "\"";
        EXPECT_FALSE(lock.error().empty());
    }

    // A symbolic link in place of the lock file is not followed.
    const std::string target = runtimeDir_ + "/target";
    ASSERT_TRUE(testfiles::writeFile(target, "keep"));
    ASSERT_EQ(::symlink(target.c_str(), (runtimeDir_ + "/Planted.lock").c_str()), 0);
    plat::SingleInstance lock;
    EXPECT_EQ(lock.acquire("Planted"), Result::Failed);
    EXPECT_NE(lock.error().find("Planted.lock"), std::string::npos) << lock.error();
    EXPECT_EQ(testfiles::readFile(target), "keep");
}

TEST_F(SingleInstanceTest, WithoutARuntimeFolderTheLockGoesToTmp)
{
    ::setenv("XDG_RUNTIME_DIR", (runtimeDir_ + "/missing").c_str(), 1);
    const std::string expected = "/tmp/OmbrelSingleInstanceTest-" + std::to_string(::getuid()) + ".lock";
    EXPECT_EQ(plat::singleInstanceLockPath("OmbrelSingleInstanceTest"), expected);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(plat::singleInstanceLockPath("OmbrelSingleInstanceTest"), expected);
}

} // namespace
