// Hostile input images: a device, a FIFO and files far larger than any image, named directly or through
// a link, as the data file, as the default image, as a file of an input folder and as a member of a
// series read at each exposure. Each is refused with its code and a message naming the file, and no case
// blocks or allocates without bound: outside the sanitizer builds every case runs in a child process
// with a 1 GiB address-space limit and an alarm after 2 s.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "dummy_library.h"

using namespace hwdummytest;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// What a case reports: empty when every check held.
using Body = std::function<std::string()>;

// Runs body in a child process under a 1 GiB address-space limit, ended by an alarm after 2 s. The
// sanitizer builds reserve far more address space than that, so there the body runs in this process.
testing::AssertionResult boundedRun(const Body& body)
{
    if (kSanitized) {
        const std::string failure = body();
        return failure.empty() ? testing::AssertionSuccess() : testing::AssertionFailure() << failure;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return testing::AssertionFailure() << "fork failed";
    if (pid == 0) {
        const rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
        ::setrlimit(RLIMIT_AS, &limit);
        ::alarm(2);
        const std::string failure = body();
        if (!failure.empty())
            std::fprintf(stderr, "%s\n", failure.c_str());
        std::fflush(nullptr);
        ::_exit(failure.empty() ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return testing::AssertionFailure() << "the case ended by signal " << WTERMSIG(status)
                                           << (WTERMSIG(status) == SIGALRM ? " (it blocked or looped for 2 s)" : "");
    if (WEXITSTATUS(status) != 0)
        return testing::AssertionFailure() << "a check failed (its message is on stderr above)";
    return testing::AssertionSuccess();
}

struct Hostile {
    const char* name;
    int code; // what reading it gives: -5 not a regular file, -7 too large
};

// The hostile file of a case, made in folder (or the device itself); its path.
std::string makeHostile(const std::string& folder, const std::string& name)
{
    if (name == "dev_zero")
        return "/dev/zero";
    const std::string path = folder + "/" + name;
    if (name == "fifo") {
        if (::mkfifo(path.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed");
        return path;
    }
    // One byte over the 64 MB limit, without data blocks where the file system keeps files sparse; its
    // first line that of a text file or of binary data.
    writeAll(path, name == "huge_text" ? "1 2\n" : std::string(16, '\0'));
    if (::truncate(path.c_str(), (off_t(64) << 20) + 1) != 0)
        throw std::runtime_error("truncate failed");
    return path;
}

std::string expectFailure(const DummyLibrary& lib, int got, const Hostile& h, const std::string& path)
{
    const std::string text = lib.hw().hwGetLastError(0);
    std::string expected;
    if (h.code == -5)
        expected = "Cannot open file \"" + path + "\" for reading: it is not a regular file.";
    else
        expected = "Error reading file \"" + path + "\" (it is larger than 64 MB).";
    if (got != h.code || text != expected)
        return std::string(h.name) + ": result " + std::to_string(got) + ", message \"" + text + "\"; expected " +
               std::to_string(h.code) + ", \"" + expected + "\"";
    return {};
}

const Hostile kHostiles[] = {
    {"dev_zero", -5},
    {"fifo", -5},
    {"huge_binary", -7},
    {"huge_text", -7},
};

TEST(DummyHostileInput, RefusedAsTheDataFile)
{
    for (const Hostile& h : kHostiles) {
        DummyLibrary lib(iniWithCount(1));
        writeAll(lib.path("dummy_2000.txt"), std::string(kPixels * 2, '\1')); // binary dense
        ASSERT_EQ(lib.initAll(), std::vector<int>{0});
        const std::string path = makeHostile(lib.folder(), h.name);
        EXPECT_TRUE(boundedRun([&]() -> std::string {
            const int r = lib.setFileName(0, path);
            if (std::string failure = expectFailure(lib, r, h, path); !failure.empty())
                return failure;
            std::vector<uint16_t> counts;
            if (lib.readImage(0, counts) == kHwError)
                return {};
            return "the read-out after the refusal did not report the input not ready";
        })) << h.name;
    }
}

TEST(DummyHostileInput, RefusedAsTheDefaultImage)
{
    for (const Hostile& h : kHostiles) {
        DummyLibrary lib(iniWithCount(1));
        const std::string target = makeHostile(lib.folder(), std::string(h.name));
        const std::string link = lib.path("dummy_2000.txt");
        fs::create_symlink(target, link);
        EXPECT_TRUE(boundedRun([&]() -> std::string {
            int id = -1;
            if (lib.hw().hwGetFirst(&id) != 0)
                return "no device";
            return expectFailure(lib, lib.hw().hwInit(0), h, link);
        })) << h.name;
    }
}

TEST(DummyHostileInput, DroppedFromAnInputFolder)
{
    for (const Hostile& h : kHostiles) {
        DummyLibrary lib(iniWithCount(1));
        writeAll(lib.path("dummy_2000.txt"), std::string(kPixels * 2, '\1'));
        ASSERT_EQ(lib.initAll(), std::vector<int>{0});
        const std::string folder = lib.path("images");
        fs::create_directories(folder);
        std::vector<int16_t> five(kPixels, 5);
        writeAll(folder + "/a.bin", std::string(reinterpret_cast<const char*>(five.data()), kPixels * 2));
        fs::create_symlink(makeHostile(lib.folder(), h.name), folder + "/b_link");
        EXPECT_TRUE(boundedRun([&]() -> std::string {
            if (lib.setFileName(0, folder) != 0)
                return std::string("folder refused: ") + lib.hw().hwGetLastError(0);
            for (int i = 0; i < 3; ++i) {
                std::vector<uint16_t> counts;
                if (lib.readImage(0, counts) != 0 || counts[0] != 5)
                    return std::string(h.name) + ": the good file was not served: " + lib.hw().hwGetLastError(0);
            }
            return lib.get<uint32_t>(0, kDataFileCount) == 1 ? std::string() : "the hostile file was kept";
        })) << h.name;
    }
}

TEST(DummyHostileInput, RefusedAsASeriesMemberReadAtExposure)
{
    for (const Hostile& h : kHostiles) {
        DummyLibrary lib(iniWithCount(1));
        writeAll(lib.path("dummy_2000.txt"), std::string(kPixels * 2, '\1'));
        ASSERT_EQ(lib.initAll(), std::vector<int>{0});
        std::vector<int16_t> five(kPixels, 5);
        writeAll(lib.path("img1.bin"), std::string(reinterpret_cast<const char*>(five.data()), kPixels * 2));
        const std::string second = lib.path("img2.bin");
        fs::create_symlink(makeHostile(lib.folder(), h.name), second);
        EXPECT_TRUE(boundedRun([&]() -> std::string {
            if (lib.setFileName(0, lib.path("img1.bin")) != 0 || lib.setU32(0, kCacheCount, 0) != 0 ||
                lib.setU32(0, kDataFileCount, 2) != 0)
                return std::string("series refused: ") + lib.hw().hwGetLastError(0);
            std::vector<uint16_t> counts;
            if (lib.readImage(0, counts) != 0 || counts[0] != 5)
                return std::string("the first file was not served: ") + lib.hw().hwGetLastError(0);
            return expectFailure(lib, lib.readImage(0, counts), h, second);
        })) << h.name;
    }
}

} // namespace
