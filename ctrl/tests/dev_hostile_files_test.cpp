// Configuration readers against files that are not configurations: a FIFO without a writer (an open
// would wait for ever), a link to /dev/zero (a read would never end) and a file above the size cap.
// Each reader refuses them with its "cannot open" code and a message naming the file. Every call runs in
// a forked child under a 1 GiB address-space limit and a 2-second alarm, so that a hang or an unbounded
// allocation shows as a failed child instead of a stuck test (skipped under ASan/TSan, whose shadow
// memory does not fit such a limit).
#include "dev_fixture.h"

#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OMBREL_NO_AS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OMBREL_NO_AS_LIMIT 1
#endif
#endif

namespace {

using namespace devtest;

// Runs fn in a child limited to 1 GiB of address space and 2 seconds; the child's exit status says
// whether fn returned true. A child ended by a signal (the alarm, an abort) fails.
::testing::AssertionResult inLimitedChild(const std::function<bool()>& fn)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return ::testing::AssertionFailure() << "fork failed";
    if (pid == 0) {
        rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
        ::setrlimit(RLIMIT_AS, &limit);
        ::alarm(2);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return ::testing::AssertionFailure() << "ended by signal " << WTERMSIG(status)
                                             << (WTERMSIG(status) == SIGALRM ? " (hang)" : "");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << "wrong result or message (see the child's output)";
    return ::testing::AssertionSuccess();
}

class HostileFilesTest : public DeviceTest {
protected:
    void SetUp() override
    {
#ifdef OMBREL_NO_AS_LIMIT
        GTEST_SKIP() << "address-space limit does not fit the sanitizer's shadow memory";
#endif
        DeviceTest::SetUp();
        initWith({{1, 1, "H"}});
    }

    // The hostile files, each named name + suffix so that a DAC file can sit beside a pixel file.
    std::vector<std::pair<const char*, std::string>> hostile(const std::string& suffix, bool withHuge)
    {
        std::vector<std::pair<const char*, std::string>> files;
        const std::string fifo = root() + "/fifo" + suffix;
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
        files.emplace_back("FIFO", fifo);
        const std::string zero = root() + "/zero" + suffix;
        std::filesystem::create_symlink("/dev/zero", zero);
        files.emplace_back("link to /dev/zero", zero);
        if (withHuge) {
            const std::string huge = root() + "/huge" + suffix;
            writeFile(huge, "[Tarvik]\nCST:1\n[Chip0]\n");
            std::filesystem::resize_file(huge, (std::uintmax_t(64) << 20) + 1); // sparse: no disk used
            files.emplace_back("65 MB", huge);
        }
        return files;
    }

    // The result and the message's code are code, and the message names the file.
    static bool expect(int result, int code, const std::string& file)
    {
        int messageCode = 0;
        const std::string text = deviceMessage(0, &messageCode);
        const bool ok = result == code && messageCode == code && text.find(file) != std::string::npos;
        if (!ok)
            std::fprintf(stderr, "result %d, message %d: %s (expected %d)\n", result, messageCode, text.c_str(), code);
        return ok;
    }
};

TEST_F(HostileFilesTest, ConfigurationFilesAreRefused)
{
    for (const auto& [what, file] : hostile(".tcf", true)) {
        SCOPED_TRACE(what);
        const std::string name = file;
        EXPECT_TRUE(inLimitedChild([&] { return expect(loadTvkCfg(0, name.c_str()), -111, name); }));
        EXPECT_TRUE(inLimitedChild([&] { return expect(initTvkDevice(0, name.c_str()), -111, name); }));
    }
}

TEST_F(HostileFilesTest, PixelAndDacFilesAreRefused)
{
    for (const auto& [what, file] : hostile("", false)) {
        SCOPED_TRACE(what);
        const std::string name = file;
        EXPECT_TRUE(inLimitedChild([&] { return expect(loadPixelsCfg(0, name.c_str(), 0), -5, name); }));
        EXPECT_TRUE(inLimitedChild(
            [&] { return expect(loadPixelsCfgAscii(0, name.c_str(), nullptr, nullptr, nullptr, 0), -5, name); }));
    }
    // A DAC file beside a good pixel file: its failure is reported by the message, the pixels are taken.
    const std::string pixels = root() + "/p";
    writeFile(pixels, std::string(65536, '\xFF'));
    for (const auto& [what, file] : hostile(".dacs", true)) {
        SCOPED_TRACE(what);
        const std::string dacFile = pixels + ".dacs";
        std::filesystem::remove(dacFile);
        std::filesystem::rename(file, dacFile);
        EXPECT_TRUE(inLimitedChild([&] {
            const int result = loadPixelsCfg(0, pixels.c_str(), 1);
            return expect(result == 0 ? -5 : result, -5, dacFile);
        }));
    }
}

} // namespace
