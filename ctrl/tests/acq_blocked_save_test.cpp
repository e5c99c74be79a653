// Saves of the device that fail at a blocked file name (a folder, a link to one, a folder that cannot be
// written) leave the old pair byte for byte, and the device's message says which file and why: the
// frame saved by saveFrame after an acquisition, and the frames saved by file acquisitions (one frame, a
// numbered series, an integral).
#include <filesystem>
#include <string>

#include "acq_fixture.h"
#include "blocked_save_cases.h"
#include "platform/syserror.h"

using namespace acqtest;
using devtest::FakeDev;

namespace {

class BlockedSaveTest : public AcqTest {};

TEST_F(BlockedSaveTest, DeviceSavesKeepTheOldPair)
{
    initWith({FakeDev()});
    struct Road {
        const char* label;
        int (*save)(const std::string& file);
    };
    const Road roads[] = {
        {"saveFrame of a frame in memory",
         [](const std::string& file) {
             const int r = performFrameAcq(0, 1, 0.0, 0, nullptr);
             return r ? r : saveFrame(0, file.c_str(), 0, FSAVE_BINARY);
         }},
        {"frame acquisition to a file",
         [](const std::string& file) { return performFrameAcq(0, 1, 0.0, FSAVE_BINARY, file.c_str()); }},
        {"integral acquisition to a file",
         [](const std::string& file) { return performIntegralAcq(0, 2, 0.0, FSAVE_ASCII, file.c_str()); }},
    };
    int n = 0;
    for (const ombrel_test::BlockedSave& c : ombrel_test::blockedSaves()) {
        for (const Road& road : roads) {
            SCOPED_TRACE(std::string(c.label) + ", " + road.label);
            ombrel_test::BlockedSaveFolder folder(c, root() + "/case" + std::to_string(n++));
            if (!folder.ready())
                GTEST_SKIP() << "the file system cannot refuse writing into a folder";
            const std::string file = folder.dir() + "/f.bin";
            EXPECT_EQ(road.save(file), TVK_ERR_OPEN_WRITE);
            EXPECT_EQ(folder.now(), folder.before());
            const int err = c.folderError ? EISDIR : ombrel_test::unwritableFolderError();
            const std::string message = deviceMessage(0);
            EXPECT_EQ(message.rfind("Cannot save frame to file: " + file + " (Frame ", 0), 0u) << message;
            EXPECT_NE(message.find("Cannot open file \"" + folder.dir() + "/" + c.blocked + "\" for writing: " +
                                   plat::systemErrorText(err) + ".)"),
                      std::string::npos)
                << message;
        }
    }
}

// In a numbered series the first blocked frame ends the acquisition: the frames before it are saved, the
// blocked pair keeps its old files.
TEST_F(BlockedSaveTest, SeriesStopsAtTheBlockedFrameAndKeepsItsOldFiles)
{
    initWith({FakeDev()});
    const std::string dir = root() + "/series";
    std::filesystem::create_directories(dir + "/run1.dsc");
    ombrel_test::writeTestFile(dir + "/run1.bin", "old data");
    ASSERT_EQ(performFrameAcq(0, 3, 0.0, FSAVE_BINARY, (dir + "/run.bin").c_str()), TVK_ERR_OPEN_WRITE);
    EXPECT_EQ(deviceMessage(0).rfind("Cannot save frame to file: " + dir + "/run1.bin (Frame ", 0), 0u)
        << deviceMessage(0);
    int done = -1;
    ASSERT_EQ(getAcqInfo(0, nullptr, nullptr, nullptr, &done), 0);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(std::filesystem::file_size(dir + "/run0.bin"), 65536u * 2);
    EXPECT_TRUE(std::filesystem::exists(dir + "/run0.dsc"));
    const auto after = ombrel_test::folderSnapshot(dir);
    EXPECT_EQ(after.at("run1.bin"), "old data");
    EXPECT_EQ(after.at("run1.dsc"), "dir");
    EXPECT_EQ(after.count("run2.bin"), 0u);
    EXPECT_EQ(after.size(), 4u) << "no temporary file left";
}

} // namespace
