// Helpers for the frame tests: owned frames, a scratch folder per test, files as bytes, and a recorder of
// the frame class's notifications.
#pragma once

#include "ombrel_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <csignal>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tvk_frame_info.h"

namespace frametest {

struct FrameDeleter {
    void operator()(TvkFrameInfo* f) const { TvkFrameInfo::deleteInstance(f); }
};
using FramePtr = std::unique_ptr<TvkFrameInfo, FrameDeleter>;

inline FramePtr newFrame() { return FramePtr(TvkFrameInfo::createInstance()); }

inline FramePtr newFrame(uint32_t width, uint32_t height, int type)
{
    FramePtr f = newFrame();
    EXPECT_EQ(f->init(width, height, type, false), 0) << f->getLastErr();
    return f;
}

// A fresh folder for the running test.
inline std::string scratchDir()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return ombrel_test::scratchDir(std::string("frames-") + info->test_suite_name() + "-" + info->name());
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FRAMETEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define FRAMETEST_SANITIZED 1
#endif
#endif

// Runs body in a child process under a 1 GiB address-space limit (none under a sanitizer, whose shadow
// memory needs far more) and gives it seconds to end. Returns what body returned, or why the child
// did not end on its own ("hung", "killed by signal N", "exited with N").
inline std::string runBounded(const std::function<std::string()>& body, unsigned seconds = 2)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
#ifndef FRAMETEST_SANITIZED
        const rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
        ::setrlimit(RLIMIT_AS, &limit);
#endif
        ::alarm(seconds);
        const std::string text = body();
        const bool sent = ::write(fds[1], text.data(), text.size()) == ssize_t(text.size());
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    std::string received;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;) {
        if (n > 0)
            received.append(buf, size_t(n));
        else if (errno != EINTR)
            break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGALRM ? "hung" : "killed by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0)
        return "exited with " + std::to_string(WEXITSTATUS(status));
    return received;
}

// Data of a frame as raw bytes of its own element type.
inline std::vector<uint8_t> frameBytes(TvkFrameInfo& f)
{
    uint32_t w = 0, h = 0;
    if (f.getSize(&w, &h) != 0)
        return {};
    const int type = f.getBuffType();
    const size_t elem = type == TYPE_I16 ? 2 : type == TYPE_U32 ? 4 : 8;
    std::vector<uint8_t> bytes(size_t(w) * h * elem);
    uint32_t size = uint32_t(bytes.size());
    EXPECT_EQ(f.getData(bytes.data(), &size, type), 0) << f.getLastErr();
    return bytes;
}

// Data of a frame converted to T (int16_t, uint32_t or double).
template <class T> std::vector<T> values(TvkFrameInfo& f)
{
    constexpr int type = sizeof(T) == 2 ? TYPE_I16 : sizeof(T) == 4 ? TYPE_U32 : TYPE_DOUBLE;
    uint32_t w = 0, h = 0;
    if (f.getSize(&w, &h) != 0)
        return {};
    std::vector<T> out(size_t(w) * h);
    uint32_t size = uint32_t(out.size() * sizeof(T));
    EXPECT_EQ(f.getData(out.data(), &size, type), 0) << f.getLastErr();
    return out;
}

// Records the notifications of the frame class while it lives; one recorder at a time.
class Recorder {
public:
    Recorder()
    {
        current() = this;
        TvkFrameInfo::cbErrMsg = [](const char* text) { current()->add(current()->errors, text); };
        TvkFrameInfo::cbNoRef = [](uint32_t uid) { current()->add(current()->noRef, uid); };
        TvkFrameInfo::cbDataChanged = [](uint32_t uid) { current()->add(current()->dataChanged, uid); };
        TvkFrameInfo::cbAttrChanged = [](_FrameAttribChange* c) { current()->add(current()->attrChanges, *c); };
    }
    ~Recorder()
    {
        TvkFrameInfo::cbErrMsg = nullptr;
        TvkFrameInfo::cbNoRef = nullptr;
        TvkFrameInfo::cbDataChanged = nullptr;
        TvkFrameInfo::cbAttrChanged = nullptr;
        current() = nullptr;
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    template <class T> std::vector<T> get(std::vector<T> Recorder::*list)
    {
        std::lock_guard<std::mutex> g(m);
        return this->*list;
    }

    std::vector<std::string> errors;
    std::vector<uint32_t> noRef;
    std::vector<uint32_t> dataChanged;
    std::vector<_FrameAttribChange> attrChanges;

private:
    static Recorder*& current()
    {
        static Recorder* r = nullptr;
        return r;
    }
    template <class T, class V> void add(std::vector<T>& list, const V& v)
    {
        std::lock_guard<std::mutex> g(m);
        list.push_back(v);
    }
    std::mutex m; // guards the four lists
};

} // namespace frametest
