// The single-instance check of a program: an exclusive flock on a lock file named after the instance
// name, in the user's runtime folder. The kernel drops the lock with the last descriptor, so a copy
// that crashed or was killed leaves no stale lock behind; the file itself stays and is reused.
#pragma once

#include <string>

namespace plat {

class SingleInstance {
public:
    enum class Result {
        Acquired,       // this process is the only copy
        AlreadyRunning, // another process (or another SingleInstance of this one) holds the lock
        Failed          // the lock file cannot be opened or locked; error() says why
    };

    SingleInstance() = default;
    ~SingleInstance(); // releases the lock
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock for name (letters, digits, '.', '-', '_'; anything else is refused as Failed).
    // Never waits. Calling it again while held returns Acquired.
    Result acquire(const std::string& name);
    void release();

    bool held() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

// Where the lock file of name lies: $XDG_RUNTIME_DIR/<name>.lock, or, without a usable runtime folder,
// /tmp/<name>-<uid>.lock.
std::string singleInstanceLockPath(const std::string& name);

} // namespace plat
