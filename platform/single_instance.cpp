#include "platform/single_instance.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/syserror.h"

namespace plat {

namespace {

bool validName(const std::string& name)
{
    if (name.empty() || name.size() > 200)
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return name != "." && name != "..";
}

// The runtime folder when it is an absolute path to a folder that only its owner (this user) may write.
bool usableRuntimeDir(const char* dir)
{
    if (!dir || dir[0] != '/')
        return false;
    struct stat st {};
    return ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

} // namespace

std::string singleInstanceLockPath(const std::string& name)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (usableRuntimeDir(runtime))
        return std::string(runtime) + "/" + name + ".lock";
    return "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
}

SingleInstance::~SingleInstance()
{
    release();
}

SingleInstance::Result SingleInstance::acquire(const std::string& name)
{
    if (held())
        return Result::Acquired;
    error_.clear();
    if (!validName(name)) {
        error_ = "Invalid instance name \"" + name + "\".";
        return Result::Failed;
    }
    path_ = singleInstanceLockPath(name);
    // O_NOFOLLOW: in a shared folder such as /tmp the name must not lead us into someone else's file.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = "Cannot open the lock file " + path_ + ": " + lastSystemErrorText();
        return Result::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        error_ = "The lock file " + path_ + " is not a regular file of this user.";
        ::close(fd);
        return Result::Failed;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::AlreadyRunning;
        error_ = "Cannot lock " + path_ + ": " + systemErrorText(err);
        return Result::Failed;
    }
    fd_ = fd;
    return Result::Acquired;
}

void SingleInstance::release()
{
    if (fd_ < 0)
        return;
    // The file stays: removing it would let a third process lock a fresh file while a second one still
    // holds the old, unlinked one.
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

} // namespace plat
