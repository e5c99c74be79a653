// Devices of one library used from several threads at once: read-outs with noise on two devices while
// a third thread re-enumerates and asks for unknown ids. Run under ThreadSanitizer in CI.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dummy_library.h"
#include "pluginfw/tvk_utils.h"

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

// The device-control library reads hardware-info items without holding its device lock (so that an
// interface page can show them while an acquisition runs): the device must stay consistent when its
// items are read while another thread exposes, reads out and changes items.
TEST(DummyThreads, ItemsAreReadWhileTheDeviceAcquires)
{
    DummyLibrary lib(iniWithCount(1));
    std::vector<int16_t> image(kPixels, 1000);
    char err[4096];
    ASSERT_EQ(writeAsciiI16File(lib.path("dummy_2000.txt").c_str(), image.data(), kPixels, kWidth, err), 0);
    ASSERT_EQ(lib.initAll(), (std::vector<int>{0}));
    ASSERT_EQ(lib.setDouble(0, kTimeElement, 0.002), 0);
    ASSERT_EQ(lib.setBool(0, kPoissonNoise, false), 0);

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread reader([&] {
        const auto& hw = lib.hw();
        while (!done) {
            for (int item = 0; item < hw.hwGetHwInfoCount(); ++item) {
                // First with no buffer, as a caller learning the size does, then with the size asked for.
                HwInfoItem it{};
                int size = 0;
                if (hw.hwGetHwInfo(0, item, &it, &size) == 0 || size <= 0)
                    ++failures;
                std::vector<unsigned char> data(static_cast<size_t>(size));
                it.data = data.data();
                uint32_t flags = 0;
                if (hw.hwGetHwInfo(0, item, &it, &size) != 0 || hw.hwGetHwInfoFlags(0, item, &flags) != 0)
                    ++failures;
            }
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 20; ++i) {
        std::vector<uint16_t> counts;
        if (lib.exposeAndRead(0, 0.002, counts) != 0)
            ++failures;
        if (lib.setU32(0, kImageCounter, static_cast<uint32_t>(i)) != 0 || lib.setU32(0, kCacheCount, i % 2 + 1) != 0)
            ++failures;
    }
    done = true;
    reader.join();
    EXPECT_EQ(failures, 0);
}

// The text of a device's last error is read by one thread while another thread's failing call on the
// same device writes a new one.
TEST(DummyThreads, LastErrorIsReadWhileAnotherCallFails)
{
    DummyLibrary lib(iniWithCount(1));
    ASSERT_EQ(lib.initAll(), (std::vector<int>{0}));
    const auto& hw = lib.hw();
    const std::string small = "Invalid size of buffer for hw specific info item data.";
    const std::string badIndex = "Invalid index (99) of hw specific info item.";
    uint32_t unused = 0;
    ASSERT_NE(hw.hwGetHwInfoFlags(0, 99, &unused), 0);
    ASSERT_EQ(std::string(hw.hwGetLastError(0)), badIndex);
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread writer([&] {
        while (!done) {
            HwInfoItem it{};
            int size = 0;
            if (hw.hwGetHwInfo(0, kDataFileName, &it, &size) == 0)
                ++failures;
            uint32_t flags = 0;
            if (hw.hwGetHwInfoFlags(0, 99, &flags) == 0)
                ++failures;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const std::string text = hw.hwGetLastError(0);
        if (text != small && text != badIndex)
            ++failures;
    }
    done = true;
    writer.join();
    EXPECT_EQ(failures, 0);
}

} // namespace
