// Profile strings read from a file that changes behind the layer's back: every way another program
// rewrites a file (in place with the same size, renamed over, its times set back, from another process,
// removed) is seen by the next read, both right after the file was read and once its time stamps are
// old enough for the layer to trust them.
#include "platform/ini.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testfiles::writeFile;

namespace {

const std::string kOld = "[Device]\nName = alpha\nGain=11\n";
const std::string kNew = "[Device]\nName = omega\nGain=42\n"; // the same size: only the bytes differ

bool writeInPlace(const std::string& file, const std::string& text)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

struct Case {
    const char* name;
    bool (*rewrite)(const std::string& file);
    const char* name_after; // expected value of [Device] Name afterwards
    int gainAfter;
};

const Case kCases[] = {
    {"rewritten in place", [](const std::string& f) { return writeInPlace(f, kNew); }, "omega", 42},
    {"renamed over", [](const std::string& f) { return writeFile(f + ".new", kNew) && ::rename((f + ".new").c_str(), f.c_str()) == 0; }, "omega", 42},
    {"rewritten with its old times restored",
     [](const std::string& f) {
         struct stat st{};
         if (::stat(f.c_str(), &st) != 0 || !writeInPlace(f, kNew))
             return false;
         const timespec times[2] = {st.st_atim, st.st_mtim};
         return ::utimensat(AT_FDCWD, f.c_str(), times, 0) == 0;
     },
     "omega", 42},
    {"rewritten by another process",
     [](const std::string& f) {
         const pid_t child = ::fork();
         if (child == 0)
             ::_exit(writeInPlace(f, kNew) ? 0 : 1);
         int status = 0;
         return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
     },
     "omega", 42},
    {"removed", [](const std::string& f) { return ::unlink(f.c_str()) == 0; }, "none", -1},
};

void readRewriteRead(const std::string& dir, bool settled)
{
    for (const Case& c : kCases)
        ASSERT_TRUE(writeFile(dir + "/" + c.name + ".ini", kOld));
    if (settled) // older than any file system's time-stamp granularity, so the layer trusts the stamps
        std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    for (const Case& c : kCases) {
        const std::string file = dir + "/" + c.name + ".ini";
        char name[16];
        plat::getProfileString("device", "name", "none", name, sizeof name, file.c_str());
        EXPECT_STREQ(name, "alpha") << c.name;
        EXPECT_EQ(plat::getProfileInt("DEVICE", "gain", -1, file.c_str()), 11) << c.name;
        ASSERT_TRUE(c.rewrite(file)) << c.name;
        plat::getProfileString("device", "name", "none", name, sizeof name, file.c_str());
        EXPECT_STREQ(name, c.name_after) << c.name << (settled ? ", settled" : ", fresh");
        EXPECT_EQ(plat::getProfileInt("Device", "Gain", -1, file.c_str()), c.gainAfter)
            << c.name << (settled ? ", settled" : ", fresh");
    }
}

TEST(IniChangesTest, ARewriteRightAfterAReadIsSeen)
{
    readRewriteRead(testfiles::scratchDir("ini-changes-fresh"), false);
}

TEST(IniChangesTest, ARewriteOfASettledFileIsSeen)
{
    readRewriteRead(testfiles::scratchDir("ini-changes-settled"), true);
}

// Many files read in turn (more than the layer keeps) still read right, and each write is read back.
TEST(IniChangesTest, ManyFilesAndOwnWrites)
{
    const std::string dir = testfiles::scratchDir("ini-changes-many");
    constexpr int kFiles = 80;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kFiles; ++i) {
            const std::string file = dir + "/f" + std::to_string(i) + ".ini";
            const std::string value = std::to_string(i * 10 + round);
            ASSERT_EQ(plat::writeProfileString("S", "k", value.c_str(), file.c_str()), 0);
            EXPECT_EQ(plat::iniRead(file, "s", "K"), value);
        }
        for (int i = 0; i < kFiles; ++i)
            EXPECT_EQ(plat::getProfileInt("S", "k", -1, (dir + "/f" + std::to_string(i) + ".ini").c_str()),
                      i * 10 + round);
    }
}

} // namespace
