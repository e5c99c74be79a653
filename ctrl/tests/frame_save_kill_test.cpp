// Saves killed at random moments: every file is left a complete old or new version, a description is
// never newer than the data beside it (the data file, which cannot be measured again, is put in place
// first), and no temporary file stays once the folder is written again. Saves stopped at each of their
// syncs leave a whole old or new pair.
#include <csignal>
#include <random>
#include <unistd.h>

#include "platform/file_write.h"
#include <sys/wait.h>

#include "frame_test_support.h"

using namespace frametest;

namespace {

constexpr uint32_t kWidth = 32;
constexpr uint32_t kHeight = 32;

// One version of the frame: every pixel and the attribute "Version" hold it.
int saveVersion(TvkFrameInfo& f, const std::string& file, uint32_t version)
{
    if (int rc = f.setAttribData("Version", &version, sizeof version))
        return rc;
    const std::vector<uint32_t> pixels(size_t(kWidth) * kHeight, version);
    if (int rc = f.setData(pixels.data(), uint32_t(pixels.size() * sizeof(uint32_t))))
        return rc;
    return f.save(file.c_str(), FSAVE_BINARY | FSAVE_U32);
}

FramePtr versionedFrame()
{
    FramePtr f = newFrame(kWidth, kHeight, TYPE_U32);
    const uint32_t zero = 0;
    EXPECT_EQ(f->addAttrib("Version", "save counter", TYPE_U32, &zero, 1, 0), 0) << f->getLastErr();
    return f;
}

// One save in a child process that ends by itself: the exit status is 0 on success. The test process
// itself never writes into the folder, so that every child clears it of stale temporary files at its
// first write there, as a newly started program does.
int saveInChild(const std::string& file, uint32_t version)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        FramePtr f = versionedFrame();
        ::_exit(saveVersion(*f, file, version) == 0 ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The versions that the data file and the description beside it hold, read as a program would.
struct PairVersions {
    uint32_t data = 0;
    uint32_t dsc = 0;
    bool operator==(const PairVersions&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const PairVersions& v)
    {
        return out << "data " << v.data << ", description " << v.dsc;
    }
};

PairVersions versionsIn(const std::string& dir)
{
    FramePtr back = newFrame();
    EXPECT_EQ(back->init((dir + "/f.dsc").c_str(), false), 0) << back->getLastErr();
    const std::vector<uint32_t> pixels = values<uint32_t>(*back);
    EXPECT_EQ(pixels.size(), size_t(kWidth) * kHeight);
    PairVersions v;
    v.data = pixels.empty() ? 0 : pixels[0];
    EXPECT_EQ(pixels, std::vector<uint32_t>(pixels.size(), v.data)) << "a data file cut or mixed";
    uint32_t size = sizeof v.dsc;
    EXPECT_EQ(back->getAttribData("Version", &v.dsc, &size, nullptr), 0);
    return v;
}

int g_syncsBeforeDeath = 0;

// Ends the process at a chosen sync of the file layer, as a crash there would.
int dieAtSync(int fd, const char*)
{
    if (g_syncsBeforeDeath-- == 0)
        ::_exit(3);
    return ::fsync(fd);
}

// A save stopped at each of its syncs: the temporaries are both synced before either is put in place, so
// up to the folder's sync the old pair stands; at the folder's sync both files are new.
TEST(FrameSaveKill, SaveStoppedAtEachSyncLeavesAWholePair)
{
    struct Case {
        const char* label;
        int sync; // the sync of the save that does not return
        PairVersions after;
    };
    const Case cases[] = {
        {"at the data file's sync", 0, {1, 1}},
        {"at the description's sync", 1, {1, 1}},
        {"at the folder's sync, both renamed", 2, {2, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string dir = scratchDir();
        const std::string file = dir + "/f.bin";
        ASSERT_EQ(saveInChild(file, 1), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            FramePtr f = versionedFrame();
            g_syncsBeforeDeath = c.sync;
            plat::setSyncFunctionForTests(&dieAtSync);
            saveVersion(*f, file, 2);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "the save did not stop at the sync";
        EXPECT_EQ(versionsIn(dir), c.after);

        ASSERT_EQ(saveInChild(file, 3), 0);
        EXPECT_EQ(versionsIn(dir), (PairVersions{3, 3}));
        for (const auto& e : std::filesystem::directory_iterator(dir))
            EXPECT_EQ(e.path().filename().string().find(".~tmp"), std::string::npos) << e.path();
    }
}

TEST(FrameSaveKill, KilledSavesLeaveCompleteFilesAndNoDescriptionNewerThanItsData)
{
    const std::string dir = scratchDir();
    const std::string file = dir + "/f.bin";
    ASSERT_EQ(saveInChild(file, 0), 0);
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> delayUs(100, 3000);
    for (uint32_t round = 1; round <= 200; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const uint32_t first = round * 100000; // above every version of the rounds before
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            FramePtr f = versionedFrame();
            for (uint32_t v = first; v < first + 100000; ++v)
                if (saveVersion(*f, file, v) != 0)
                    ::_exit(1);
            ::_exit(0);
        }
        ::usleep(useconds_t(delayUs(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child ended by itself with " << WEXITSTATUS(status);

        FramePtr back = newFrame();
        ASSERT_EQ(back->init((dir + "/f.dsc").c_str(), false), 0) << back->getLastErr();
        const std::vector<uint32_t> pixels = values<uint32_t>(*back);
        ASSERT_EQ(pixels.size(), size_t(kWidth) * kHeight);
        const uint32_t dataVersion = pixels[0];
        EXPECT_EQ(pixels, std::vector<uint32_t>(pixels.size(), dataVersion)) << "a data file cut or mixed";
        uint32_t dscVersion = 0;
        uint32_t size = sizeof dscVersion;
        ASSERT_EQ(back->getAttribData("Version", &dscVersion, &size, nullptr), 0);
        EXPECT_LE(dscVersion, dataVersion) << "a new description beside old data";
    }

    // The temporary files of the killed saves are gone once the folder is written again.
    ASSERT_EQ(saveInChild(file, 1), 0);
    for (const auto& e : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find(".~tmp"), std::string::npos) << e.path();
}

} // namespace
