// Devices of one library used from several threads at once: read-outs with noise on two devices while
// a third thread re-enumerates and asks for unknown ids. Run under ThreadSanitizer in CI.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dummy_library.h"
#include "tvk_utils.h"

using namespace hwdummytest;

namespace {

TEST(DummyThreads, DevicesWorkInParallelWhileTheListGrows)
{
    DummyLibrary lib(iniWithCount(2));
    std::vector<int16_t> image(kPixels, 1000);
    char err[4096];
    ASSERT_EQ(writeAsciiI16File(lib.path("dummy_2000.txt").c_str(), image.data(), kPixels, kWidth, err), 0);
    ASSERT_EQ(lib.initAll(), (std::vector<int>{0, 1}));
    for (int id : {0, 1})
        ASSERT_EQ(lib.setDouble(id, kTimeElement, 0.002), 0);

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    auto acquire = [&](int id) {
        for (int i = 0; i < 20; ++i) {
            std::vector<uint16_t> counts;
            if (lib.exposeAndRead(id, 0.002, counts) != 0)
                ++failures;
            else if (std::count(counts.begin(), counts.end(), 0) > kPixels / 10)
                ++failures; // a mean of at least 1000 gives 0 only where a count folds to it
        }
    };
    std::thread enumerator([&] {
        const auto& hw = lib.hw();
        int n = 0;
        while (!done) {
            int id = -1;
            for (int r = hw.hwGetFirst(&id); r == 0; r = hw.hwGetNext(&id)) {
            }
            if (hw.hwGetAcqTime(1000 + n++ % 7, nullptr) != kHwError ||
                std::string(hw.hwGetLastError(-1)) != "Invalid HW ID")
                ++failures;
            std::this_thread::yield();
        }
    });
    std::thread a(acquire, 0), b(acquire, 1);
    a.join();
    b.join();
    done = true;
    enumerator.join();
    EXPECT_EQ(failures, 0);
}

} // namespace
