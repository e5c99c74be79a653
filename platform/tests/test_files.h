// Scratch folders, whole-file helpers and full-disk conditions for the platform tests.
#pragma once

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <linux/capability.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "ombrel_test_support.h"

namespace testfiles {

inline std::string scratchDir(const std::string& name)
{
    return ombrel_test::scratchDir("platform-" + name);
}

using ombrel_test::readFile;
using ombrel_test::writeFile;

// Names of the entries of a folder, sorted: shows a temporary file left behind.
inline std::vector<std::string> listDir(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// While alive, files of this process cannot grow beyond the given size: writes fail with EFBIG, as on
// a full disk (the SIGXFSZ that would end the process is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

// While alive, the calling thread is held to the files' permission bits even when it runs as root
// (the capability that overrides them is off), so that a read-only file is read-only for it too.
class PermissionBitsApply {
public:
    PermissionBitsApply()
    {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective &= ~CAP_TO_MASK(CAP_DAC_OVERRIDE);
        active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~PermissionBitsApply()
    {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    PermissionBitsApply(const PermissionBitsApply&) = delete;
    PermissionBitsApply& operator=(const PermissionBitsApply&) = delete;
    bool active() const { return active_; }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

namespace detail {

inline bool writeProcFile(const char* path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

// A mount namespace of this process alone; as a user namespace when we lack the right to mount.
inline bool enterPrivateMountNamespace()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeProcFile("/proc/self/setgroups", "deny");
        if (!writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

} // namespace detail

enum class FullDisk { Ran, NotPermitted };

// Runs body in a child process that has mounted a tiny tmpfs over dir in a private mount namespace
// (nothing is visible outside the child). prepare fills the fresh tmpfs; then the rest of the space is
// used up, so every further write fails with ENOSPC, and body runs. body returns a failure description,
// or an empty text when all its checks held; the description lands in *failure.
inline FullDisk runOnFullTmpfs(const std::string& dir, const std::function<void(const std::string&)>& prepare,
                               const std::function<std::string(const std::string&)>& body, std::string* failure)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return FullDisk::NotPermitted;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (!detail::enterPrivateMountNamespace() ||
            ::mount("ombrel-test", dir.c_str(), "tmpfs", 0, "size=64k") != 0)
            ::_exit(77);
        prepare(dir);
        {
            std::ofstream filler(dir + "/filler", std::ios::binary);
            const std::string block(4096, 'f');
            while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
            }
        }
        const std::string text = body(dir);
        if (!text.empty() && ::write(fds[1], text.data(), text.size()) < 0)
            ::_exit(2);
        ::_exit(text.empty() ? 0 : 1);
    }
    ::close(fds[1]);
    std::string received;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        received.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return FullDisk::NotPermitted;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        return FullDisk::NotPermitted;
    if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0) && received.empty())
        received = "child process ended abnormally (status " + std::to_string(status) + ")";
    *failure = received;
    return FullDisk::Ran;
}

} // namespace testfiles
