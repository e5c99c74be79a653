// The log: the exact entry text in "log.txt", the queue for the log window, the flags and the failures
// of the file.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <regex>
#include <sstream>
#include <thread>

#include "mgr_test_support.h"
#include "pluginfw/tvk_utils.h"

using mgrtest::MsgBox;
using mgrtest::RecordingUi;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ =
            mgrtest::scratchDir(std::string("log-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        path_ = dir_ + "/log.txt";
    }

    std::string dir_;
    std::string path_;
    RecordingUi ui_;
};

TEST_F(LogTest, AnEntryReadsTimeSourceAndMessageInTheFileAndTheQueue)
{
    Log log(ui_, path_);
    const double before = getPreciseTime();
    ASSERT_EQ(log.logMsg("tvkctrlui", "Device %u: %s", 0, 3u, "ready"), 0);
    const double after = getPreciseTime();

    const std::string file = mgrtest::readFile(path_);
    std::smatch m;
    // [Wed Dec 09 08:44:41.0123 2026]\nsource:\nmessage\n\n
    const std::regex entry(R"(^\[([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d\.\d{4} \d{4})\]\n)"
                           R"(tvkctrlui:\nDevice 3: ready\n\n$)");
    ASSERT_TRUE(std::regex_match(file, m, entry)) << file;

    LogItem* item = log.peekItem();
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(item->source, "tvkctrlui");
    EXPECT_STREQ(item->message, "Device 3: ready");
    EXPECT_EQ(m[1].str(), item->timeText);
    EXPECT_GE(item->time, before);
    EXPECT_LE(item->time, after);
    char expectedText[64];
    EXPECT_STREQ(item->timeText, formatTimestamp(item->time, expectedText, 4));
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_TRUE(ui_.windows.empty());
}

TEST_F(LogTest, TheQueueKeepsEntriesOldestFirstUntilPopped)
{
    Log log(ui_, path_);
    EXPECT_EQ(log.peekItem(), nullptr);
    log.popItem(); // nothing to pop: no effect
    for (int i = 0; i < 3; ++i)
        log.logMsg("m", "entry %d", 0, i);
    LogItem* first = log.peekItem();
    EXPECT_EQ(log.peekItem(), first) << "peeking does not consume";
    EXPECT_EQ(mgrtest::drainMessages(log), (std::vector<std::string>{"entry 0", "entry 1", "entry 2"}));
    EXPECT_EQ(log.queuedCount(), 0u);
}

// A log window that does not keep up (or a flood of entries at start-up) must not let the queue grow
// without end: entries beyond the bound go to the file only, the entry the window holds stays valid,
// and the window is told how many it missed once there is room.
TEST_F(LogTest, AFullQueueLeavesEntriesToTheFileAndCountsThem)
{
    Log log(ui_, path_);
    const size_t bound = Log::kMaxQueued;
    for (size_t i = 0; i < bound + 5; ++i)
        ASSERT_EQ(log.logMsg("flood", "entry %zu", 0, i), 0);
    EXPECT_EQ(log.queuedCount(), bound);
    EXPECT_EQ(log.droppedCount(), 5u);
    LogItem* held = log.peekItem();
    ASSERT_NE(held, nullptr);
    log.logMsg("flood", "one more", 0);
    EXPECT_STREQ(log.peekItem()->message, "entry 0") << "the oldest entry is still the one the window holds";
    EXPECT_EQ(log.droppedCount(), 6u);

    // Room for the notice and the next entry.
    log.popItem();
    log.popItem();
    log.logMsg("flood", "after room", 0);
    EXPECT_EQ(log.queuedCount(), bound);
    std::vector<std::string> tail = mgrtest::drainMessages(log);
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(tail[tail.size() - 2],
              "6 log entries are missing here: the log window's queue was full (log.txt holds them).");
    EXPECT_EQ(tail.back(), "after room");
    EXPECT_EQ(tail[tail.size() - 3], "entry " + std::to_string(bound - 1));

    const std::string file = mgrtest::readFile(path_);
    for (const std::string& text : {"entry " + std::to_string(bound + 4), std::string("one more"), std::string("after room")})
        EXPECT_NE(file.find("\n" + text + "\n"), std::string::npos) << text << " is in the file";
    log.logMsg("flood", "later", 0);
    EXPECT_EQ(mgrtest::drainMessages(log), std::vector<std::string>{"later"}) << "the notice comes once";
}

TEST_F(LogTest, LongTextsAreCutToTheirFields)
{
    Log log(ui_, path_);
    const std::string longSource(40, 's');
    const std::string longMessage(2000, 'm');
    log.logMsg(longSource.c_str(), "%s", 0, longMessage.c_str());
    errno = ENOENT;
    log.logMsg("src", "%s", MGRLOG_SYSERROR, longMessage.c_str());
    const std::string nearlyFull(1000, 'n');
    errno = ENOENT;
    log.logMsg("src", "%s", MGRLOG_SYSERROR, nearlyFull.c_str());

    LogItem* item = log.peekItem();
    EXPECT_EQ(std::string(item->source), longSource.substr(0, 31));
    EXPECT_EQ(std::string(item->message), longMessage.substr(0, 1023));
    log.popItem();
    item = log.peekItem();
    EXPECT_EQ(std::string(item->message), longMessage.substr(0, 1023)) << "the system error part is cut first";
    log.popItem();
    item = log.peekItem();
    const std::string expected = nearlyFull + " System error: No such file or directory (2)";
    EXPECT_EQ(std::string(item->message), expected.substr(0, 1023));
}

TEST_F(LogTest, FlagsAddTheSystemErrorABoxAndAMessageWindow)
{
    struct Case {
        int flags;
        std::string message;
        bool box;
        bool window;
    } cases[] = {
        {0, "Cannot open plugin x.so.", false, false},
        {MGRLOG_SYSERROR, "Cannot open plugin x.so. System error: No such file or directory (2)", false, false},
        {MGRLOG_MSGBOX, "Cannot open plugin x.so.", true, false},
        {MGRLOG_SYSERROR | MGRLOG_MSGBOX, "Cannot open plugin x.so. System error: No such file or directory (2)", true,
         false},
        {MGRLOG_MSGWINDOW, "Cannot open plugin x.so.", false, true},
    };
    for (const Case& c : cases) {
        RecordingUi ui;
        Log log(ui, path_);
        errno = ENOENT;
        ASSERT_EQ(log.logMsg("tvkmgr", "Cannot open plugin %s.", c.flags, "x.so"), 0);
        EXPECT_EQ(mgrtest::drainMessages(log), std::vector<std::string>{c.message}) << c.flags;
        ASSERT_EQ(ui.boxes.size(), c.box ? 1u : 0u) << c.flags;
        if (c.box) {
            EXPECT_EQ(ui.boxes[0].text, c.message);
            EXPECT_EQ(ui.boxes[0].caption, "tvkmgr");
            EXPECT_EQ(ui.boxes[0].kind, MsgBoxKind::Warning);
        }
        ASSERT_EQ(ui.windows.size(), c.window ? 1u : 0u) << c.flags;
        if (c.window) {
            EXPECT_EQ(ui.windows[0].caption, "tvkmgr");
        }
    }
}

// The message window and the entry each format the same arguments: one va_list read twice would give
// the window (or the entry) garbage.
TEST_F(LogTest, AMessageWindowShowsTheSameTextAsTheQueueAndTheFile)
{
    Log log(ui_, path_);
    ASSERT_EQ(log.logMsg("equalizer", "%s %d %.3f %s %u %s %lld %s", MGRLOG_MSGWINDOW, "Scan", -7, 2.5, "of", 42u,
                         "devices", 1234567890123LL, "done"),
              0);
    const std::string expected = "Scan -7 2.500 of 42 devices 1234567890123 done";
    ASSERT_EQ(ui_.windows.size(), 1u);
    EXPECT_EQ(ui_.windows[0].text, expected);
    EXPECT_EQ(ui_.windows[0].caption, "equalizer");
    EXPECT_NE(mgrtest::readFile(path_).find("equalizer:\n" + expected + "\n\n"), std::string::npos);
    EXPECT_EQ(mgrtest::drainMessages(log), std::vector<std::string>{expected});
}

TEST_F(LogTest, WithoutItsFileTheLogStillQueues)
{
    Log log(ui_, dir_ + "/no/such/folder/log.txt");
    EXPECT_FALSE(log.hasFile());
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, "Cannot open log file!");
    EXPECT_EQ(ui_.boxes[0].caption, "Error");
    EXPECT_EQ(log.logMsg("src", "still %s", 0, "queued"), 0);
    EXPECT_EQ(mgrtest::drainMessages(log), std::vector<std::string>{"still queued"});
    EXPECT_EQ(ui_.boxes.size(), 1u);
}

TEST_F(LogTest, AFailingFileIsReportedOncePerRunOfFailures)
{
    Log log(ui_, "/dev/full");
    ASSERT_TRUE(log.hasFile());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(log.logMsg("src", "entry %d", 0, i), 0);
    const auto boxes = ui_.boxesCopy();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot write to log file");
    EXPECT_EQ(boxes[0].caption, "Logging error");
    EXPECT_EQ(boxes[0].kind, MsgBoxKind::Error);
    EXPECT_EQ(log.queuedCount(), 3u);
}

TEST_F(LogTest, AppendsToAnExistingFile)
{
    mgrtest::writeFile(path_, "earlier\n");
    {
        Log log(ui_, path_);
        log.logMsg("src", "later", 0);
    }
    const std::string file = mgrtest::readFile(path_);
    EXPECT_EQ(file.rfind("earlier\n[", 0), 0u) << file;
    EXPECT_NE(file.find("src:\nlater\n\n"), std::string::npos);
}

// Entries from several threads appear whole, in the file and in the queue in the same order.
TEST_F(LogTest, ThreadsLogWholeEntriesInOneOrder)
{
    Log log(ui_, path_);
    constexpr int kThreads = 4;
    constexpr int kEntries = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kEntries; ++i)
                log.logMsg("thread", "t%d e%d", 0, t, i);
        });
    // The log window drains meanwhile.
    std::vector<std::string> queued;
    std::thread drain([&] {
        while (queued.size() < kThreads * kEntries) {
            if (LogItem* item = log.peekItem()) {
                queued.push_back(item->message);
                log.popItem();
            } else {
                std::this_thread::yield();
            }
        }
    });
    for (auto& t : threads)
        t.join();
    drain.join();

    std::vector<std::string> inFile;
    std::istringstream file(mgrtest::readFile(path_));
    std::string line;
    while (std::getline(file, line)) {
        ASSERT_EQ(line.front(), '[');
        std::getline(file, line);
        ASSERT_EQ(line, "thread:");
        std::getline(file, line);
        inFile.push_back(line);
        std::getline(file, line);
        ASSERT_TRUE(line.empty());
    }
    EXPECT_EQ(inFile, queued);
    EXPECT_EQ(inFile.size(), static_cast<size_t>(kThreads * kEntries));
}

} // namespace
