// Filters with instances run on several threads at once while their settings are read and written.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "chainedit_app.h"

using chaintest::FilterApp;

namespace {

TEST(ChainEditThreads, FourThreadsOnFourInstancesWhileSettingsChange)
{
    FilterApp app("threads");
    ASSERT_EQ(app.start(), 0);
    constexpr int kThreads = 4;
    constexpr int kRuns = 15;
    std::vector<double> v(64 * 64);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = double(i % 17);
    const uint32_t source = app.frame(64, 64, TYPE_U32, v);

    struct Worker {
        int crop = 0, stats = 0, chain = 0;
        std::string file;
    };
    Worker workers[kThreads];
    for (int k = 0; k < kThreads; ++k) {
        Worker& w = workers[k];
        w.crop = app.newInstance("Crop", ("crop" + std::to_string(k)).c_str());
        w.stats = app.newInstance("Frame statistics", ("stats" + std::to_string(k)).c_str());
        w.file = app.dir() + "/stats" + std::to_string(k) + ".txt";
        ASSERT_EQ(app.setText(w.stats, 8, w.file), 0);
        ASSERT_EQ(app.setValue<int32_t>(w.crop, 2, 10 + k), 0);
        ASSERT_EQ(app.setValue<int32_t>(w.crop, 3, 10 + k), 0);
        ASSERT_EQ(app.t().mgrCreateFilterChain("chainedit", ("c" + std::to_string(k)).c_str(), &w.chain), 0);
        ASSERT_EQ(app.t().mgrAddToFilterChain(w.chain, w.crop, -1), 0);
        ASSERT_EQ(app.t().mgrAddToFilterChain(w.chain, w.stats, -1), 0);
    }
    std::atomic<bool> stop{false};
    std::thread editor([&] {
        // Reads and writes the settings the workers run with.
        int32_t left = 1;
        while (!stop.load()) {
            for (const Worker& w : workers) {
                app.setValue<int32_t>(w.crop, 0, left);
                app.getValue(w.stats, 6);
            }
            left = left % 5 + 1;
            std::this_thread::yield(); // the workers get the cores on a small machine
        }
    });
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int k = 0; k < kThreads; ++k)
        threads.emplace_back([&, k] {
            for (int run = 0; run < kRuns; ++run) {
                uint32_t copy = 0;
                if (app.t().mgrGetFilteredFrame(workers[k].chain, source, &copy) != 0)
                    ++failures;
                else
                    app.t().mgrCloseFrame(copy, nullptr);
            }
        });
    for (auto& t : threads)
        t.join();
    stop = true;
    editor.join();
    EXPECT_EQ(failures.load(), 0);
    for (const Worker& w : workers) {
        uint32_t index = 0;
        std::memcpy(&index, app.getValue(w.stats, 6).data(), 4);
        EXPECT_EQ(index, uint32_t(kRuns)); // every record counted once
        const std::string text = ombrel_test::readFile(w.file);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kRuns);
    }
}

} // namespace
