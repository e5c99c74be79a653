// Profile strings written from many threads at once: the process-wide lock loses no update.
#include "platform/ini.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(IniThreadsTest, ConcurrentWritersLoseNoKey)
{
    const std::string file = testfiles::scratchDir("ini-threads") + "/shared.ini";
    constexpr int kThreads = 4;
    constexpr int kKeys = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &file] {
            const std::string section = "Thread" + std::to_string(t);
            for (int k = 0; k < kKeys; ++k) {
                const std::string key = "Key" + std::to_string(k);
                EXPECT_EQ(plat::writeProfileString(section.c_str(), key.c_str(), std::to_string(k).c_str(),
                                                   file.c_str()),
                          0);
                EXPECT_EQ(plat::getProfileInt(section.c_str(), key.c_str(), -1, file.c_str()), k);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(plat::iniSections(file).size(), static_cast<size_t>(kThreads));
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(plat::iniKeys(file, "thread" + std::to_string(t)).size(), static_cast<size_t>(kKeys));
}

} // namespace
