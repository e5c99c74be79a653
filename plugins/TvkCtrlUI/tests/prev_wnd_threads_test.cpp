// Creation from other threads: the caller waits for the GUI thread within the bound, a request it gave up
// makes no window and takes no id, and many threads may create, show and destroy at once.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <thread>

#include "fake_host.h"
#include "wait_until.h"

namespace {

// A GUI thread stand-in: runs queued work in order; can be held so that nothing runs.
class FakeGuiThread {
public:
    FakeGuiThread() : thread_([this] { loop(); }) {}
    ~FakeGuiThread()
    {
        {
            std::lock_guard l(m_);
            stop_ = true;
            held_ = false;
        }
        cv_.notify_all();
        thread_.join();
    }
    GuiDispatch dispatch()
    {
        return {[this] { return std::this_thread::get_id() == thread_.get_id(); },
                [this](std::function<void()> f) {
                    {
                        std::lock_guard l(m_);
                        queue_.push_back(std::move(f));
                    }
                    cv_.notify_all();
                }};
    }
    void hold(bool held)
    {
        {
            std::lock_guard l(m_);
            held_ = held;
        }
        cv_.notify_all();
    }
    void drain() // waits until everything queued so far has run
    {
        std::promise<void> done;
        dispatch().post([&] { done.set_value(); });
        done.get_future().wait();
    }

private:
    void loop()
    {
        std::unique_lock l(m_);
        for (;;) {
            cv_.wait(l, [&] { return stop_ || (!held_ && !queue_.empty()); });
            if (queue_.empty() && stop_)
                return;
            auto f = std::move(queue_.front());
            queue_.pop_front();
            l.unlock();
            f();
            l.lock();
        }
    }
    std::mutex m_; // guards queue_, held_, stop_
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    bool held_ = false;
    bool stop_ = false;
    std::thread thread_;
};

class PrevThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        prevWndService().setFactory([f = factory](const PrevCreateRequest& r) { return (*f)(r); }, gui.dispatch());
        prevWndService().setCreateBound(ombrel_test::kWaitLimit); // a creation fails only when the GUI thread hangs
    }
    void TearDown() override
    {
        gui.hold(false);
        gui.drain();
        prevWndService().destroyAllPreviews();
        prevWndService().setFactory(nullptr, {});
        prevWndService().setCreateBound(std::chrono::seconds(10));
    }
    std::shared_ptr<FakeFactory> factory = std::make_shared<FakeFactory>();
    FakeGuiThread gui;
};

TEST_F(PrevThreads, WorkerCreatesWhileTheGuiThreadRuns)
{
    uint32_t id = 0;
    ASSERT_EQ(callCreate(16, 16, true, "", &id), 0);
    EXPECT_TRUE(prevWndService().registry().find(id));
    EXPECT_EQ(factory->made, 1);
}

TEST_F(PrevThreads, BlockedGuiThreadGivesMinusOneAndNoWindowLater)
{
    uint32_t first = 0;
    ASSERT_EQ(callCreate(16, 16, true, "", &first), 0);
    prevWndService().setCreateBound(std::chrono::milliseconds(50));
    gui.hold(true);
    uint32_t id = 0;
    EXPECT_EQ(callCreate(16, 16, true, "", &id), -1);
    gui.hold(false);
    gui.drain();
    EXPECT_EQ(factory->made, 1) << "the abandoned request made a window";
    prevWndService().setCreateBound(ombrel_test::kWaitLimit);
    ASSERT_EQ(callCreate(16, 16, true, "", &id), 0);
    EXPECT_EQ(id, first + 1) << "an id was skipped";
}

TEST_F(PrevThreads, ManyThreadsCreateShowAndDestroy)
{
    std::vector<std::thread> workers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                uint32_t id = 0;
                if (callCreate(8 + t, 8, t % 2, "", &id) != 0) {
                    ++failures;
                    continue;
                }
                int32_t visible = 0;
                if (callIdValue(PrevWndShow, id, tvkSlotInt(i % 2)) != 0 || callOut(PrevWndIsVisible, id, &visible) != 0 ||
                    visible != i % 2)
                    ++failures;
                prevWndService().autoUpdateDevicePreviews(-1);
                if (callId(PrevWndDestroy, id) != 0)
                    ++failures;
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(prevWndService().registry().all().empty());
}

} // namespace
