// System error texts, also from many threads at once.
#include "platform/syserror.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

namespace {

TEST(SysErrorTest, KnownAndUnknownCodes)
{
    EXPECT_EQ(plat::systemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(plat::systemErrorText(ENOSPC), "No space left on device");
    const std::string unknown = plat::systemErrorText(98765);
    EXPECT_NE(unknown.find("98765"), std::string::npos) << unknown;

    errno = EACCES;
    EXPECT_EQ(plat::lastSystemErrorText(), "Permission denied");
}

// The texts of unknown codes are built per call; a shared static buffer would mix them up.
TEST(SysErrorTest, ThreadsGetTheirOwnTexts)
{
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &mismatches] {
            const int code = 100000 + t;
            const std::string expected = std::to_string(code);
            for (int i = 0; i < 2000; ++i)
                if (plat::systemErrorText(code).find(expected) == std::string::npos)
                    ++mismatches[static_cast<size_t>(t)];
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(mismatches[static_cast<size_t>(t)], 0) << "thread " << t;
}

} // namespace
