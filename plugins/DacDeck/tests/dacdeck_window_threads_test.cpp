// The three device events raised from other threads, over and over, while the panel is opened, closed and
// reopened by device changes on the GUI thread and another thread takes and gives back the device: the
// handlers find the device's data object and its window (or none) without a crash or a wait that never
// ends, and the panel that stays open still follows the device.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <QComboBox>

#include <gtest/gtest.h>

#include "deck_app.h"
#include "wait_until.h"

using decktest::AppOptions;
using decktest::DeckApp;
using decktest::processUntil;

namespace {

// Ends the program with a message when the test has not finished in time: a deadlock then fails at once
// instead of at the runner's time limit.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(m_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "deadlock: the test did not finish within %lld s\n",
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace

TEST(DacDeckWindowThreads, EventsFromOtherThreadsWhileWindowsComeAndGo)
{
    Watchdog watchdog(std::chrono::seconds(240)); // only a deadlock reaches it, also on a loaded machine
    DeckApp app("threads", AppOptions::simulatedDetector());
    const _MgrFuncTable& t = app.t();
    const int item = app.menuItem(0);
    ASSERT_GT(item, 0);
    const int events[] = {app.eventId("tvkctrl", "AcqCompleted"), app.eventId("tvkctrl", "DACs set"),
                          app.eventId("tvkctrl", "ExtDACSet")};
    for (int id : events)
        ASSERT_GE(id, 0);

    std::atomic<bool> stop{false};
    std::vector<std::future<void>> workers;
    for (int w = 0; w < 2; ++w)
        workers.push_back(std::async(std::launch::async, [&, w] {
            for (int n = w; !stop; ++n)
                t.mgrSetCBEvent(events[n % 3], 0);
        }));
    // Another plug-in's worker: holds the device for a moment, raising "AcqCompleted" meanwhile.
    workers.push_back(std::async(std::launch::async, [&] {
        while (!stop) {
            int locked = 0;
            if (t.tvkCtrlTryLockDevice(0, &locked, 1000) == 0 && locked) {
                t.mgrSetCBEvent(events[0], 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                t.tvkCtrlReleaseDevice(0);
            }
            std::this_thread::yield();
        }
    }));

    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(t.mgrCallMenuItemByID(item), 0);
        ASSERT_TRUE(processUntil([] { return DeckApp::panel() != nullptr; })) << "round " << round;
        if (round % 3 == 1)
            app.fire("TvkDevChanged"); // closes and reopens
        QApplication::processEvents();
        if (round % 3 != 2) {
            DeckApp::panel()->close();
            ASSERT_TRUE(processUntil([] { return DeckApp::panel() == nullptr; })) << "round " << round;
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    stop = true;
    for (auto& w : workers)
        ASSERT_EQ(w.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "a worker never ended";

    QWidget* panel = DeckApp::panel();
    ASSERT_NE(panel, nullptr);
    auto* ext = panel->findChild<QComboBox*>(QStringLiteral("extDac"));
    ASSERT_NE(ext, nullptr);
    ASSERT_EQ(t.tvkCtrlSetExtDAC(0, 2, 0.0), 0);
    EXPECT_TRUE(processUntil([&] { return ext->currentIndex() == 3; })) << "the open panel no longer follows the device";
}
