// Acquisitions and other threads: getters read the frames done while an acquisition runs, an abort from
// another thread ends every kind of wait, and exit during an acquisition leaves nothing dangling.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "acq_fixture.h"
#include "wait_until.h"

using namespace acqtest;
using devtest::FakeControl;
using devtest::FakeDev;

namespace {

std::atomic<int> g_starts{0};
void countStart(int) { ++g_starts; }

TEST_F(AcqTest, GettersReadTheFramesDoneWhileAnotherThreadAcquires)
{
    initWith({FakeDev(4)});
    const uint32_t pixels = 262144;
    auto running = std::async(std::launch::async, [] { return performFrameAcq(0, 40, 0.0, 0, nullptr); });
    const std::vector<int16_t> expected = fakeCounts(4, true);
    std::vector<int16_t> data(pixels);
    int reads = 0;
    for (;;) {
        int done = 0, kind = -1;
        const bool finished = running.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        if (getAcqInfo(0, nullptr, nullptr, &kind, &done) == 0 && kind == 0 && done > 0) {
            ASSERT_EQ(getFrame16(0, data.data(), pixels, done - 1), 0) << deviceMessage(0);
            ASSERT_EQ(data, expected) << "frame " << done - 1;
            ++reads;
        }
        if (finished)
            break;
    }
    EXPECT_EQ(running.get(), 0);
    EXPECT_GT(reads, 0);
}

TEST_F(AcqTest, AbortFromAnotherThreadEndsEveryKindOfWait)
{
    struct Case {
        const char* wait;
        int callback;
        int hwTimer;
    };
    const Case cases[] = {
        {"busy poll", 0, 2},       // the hardware times the exposure, the library polls its busy state
        {"timed wait", 0, 1},      // no hardware timer: the library waits the time itself
        {"hardware event", 1, 0},  // the hardware reports the end through its callback
    };
    initWith({FakeDev(1, 1, "", "fake", 31, 0), FakeDev(1, 1, "", "fake", 31, 1)});
    setCbAcqStart(&countStart);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wait);
        const unsigned dev = static_cast<unsigned>(c.callback);
        ASSERT_EQ(setHwTimer(dev, c.hwTimer), 0);
        g_starts = 0;
        // Exposures far longer than the wait's limit: an end within it is the abort's.
        auto running = std::async(std::launch::async, [dev] { return performFrameAcq(dev, 3, 600.0, 0, nullptr); });
        ASSERT_TRUE(ombrel_test::waitUntil([] { return g_starts > 0; }));
        ASSERT_EQ(abortOperation(dev), 0);
        ASSERT_EQ(running.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "not ended by the abort";
        EXPECT_EQ(running.get(), -152);
        int done = -1;
        ASSERT_EQ(getAcqInfo(dev, nullptr, nullptr, nullptr, &done), 0);
        EXPECT_EQ(done, 0);
    }
}

TEST_F(AcqTest, ExitDuringAnAcquisitionEndsItAbortedAndClosesTheDevice)
{
    initWith({FakeDev(), FakeDev(4)});
    setCbAcqStart(&countStart);
    g_starts = 0;
    // Exposures far longer than the wait's limit: an end within it is the exit's.
    auto first = std::async(std::launch::async, [] { return performFrameAcq(0, 5, 600.0, 0, nullptr); });
    auto second = std::async(std::launch::async, [] { return performIntegralAcq(1, 5, 600.0, 0, nullptr); });
    ASSERT_TRUE(ombrel_test::waitUntil([] { return g_starts >= 2; }));
    FakeControl& fake = control("fake");
    EXPECT_EQ(exitTvkCtrl(), 0);
    ASSERT_EQ(first.wait_for(ombrel_test::kWaitLimit), std::future_status::ready);
    ASSERT_EQ(second.wait_for(ombrel_test::kWaitLimit), std::future_status::ready);
    EXPECT_EQ(first.get(), -152);
    EXPECT_EQ(second.get(), -152);
    EXPECT_EQ(fake.counter(0, "closed"), 1);
    EXPECT_EQ(fake.counter(1, "closed"), 1);
}

} // namespace
