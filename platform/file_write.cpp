// Safe replacement of files: temporary file in the same folder, every write checked, fsync, close, rename.
#include "platform/file_write.h"

#include "platform/syserror.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

std::atomic<unsigned> tempCounter{0};

void setError(std::string* errorText, std::string text)
{
    if (errorText)
        *errorText = std::move(text);
}

std::string openMessage(const std::string& path, int err)
{
    return "Cannot open file \"" + path + "\" for writing: " + systemErrorText(err) + ".";
}

std::string writeMessage(const std::string& path, int err)
{
    return "Error occurred while writing to file \"" + path + "\": " + systemErrorText(err) + ".";
}

// A symbolic link is followed, so that the file it names is replaced and the link stays.
std::string resolveTarget(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return path; // dangling link: it is replaced itself
    return resolved;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The target's path with its file name cut to a length that leaves room for the temporary suffix
// within the longest name a folder entry may have.
std::string temporaryStem(const std::string& target)
{
    constexpr size_t kStemChars = 128;
    const size_t slash = target.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, nameStart + std::min(kStemChars, target.size() - nameStart));
}

// Makes the rename durable; file systems that cannot sync a folder are not an error.
void syncFolder(const std::string& path)
{
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

} // namespace

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

int AtomicFileWriter::open(std::string* errorText)
{
    discard();
    error_ = 0;
    target_ = resolveTarget(path_);
    if (target_.empty()) {
        setError(errorText, openMessage(path_, ENOENT));
        return -6;
    }
    // A file that exists but could not be opened for writing (read-only) is not replaced: the rename
    // alone would get past its permissions.
    if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
        setError(errorText, openMessage(path_, errno));
        return -6;
    }
    // O_EXCL: never write through a file or link that someone else put at the temporary name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string tmp = temporaryStem(target_) + ".~tmp" + std::to_string(::getpid()) + "." +
                          std::to_string(tempCounter.fetch_add(1));
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            tmpPath_ = std::move(tmp);
            struct stat st {};
            if (::stat(target_.c_str(), &st) == 0) // keep the replaced file's permissions
                (void)::fchmod(fd_, st.st_mode & 07777);
            return 0;
        }
        if (errno != EEXIST) {
            setError(errorText, openMessage(path_, errno));
            return -6;
        }
    }
    setError(errorText, openMessage(path_, EEXIST));
    return -6;
}

bool AtomicFileWriter::write(const void* data, size_t size)
{
    if (error_)
        return false;
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return false;
        }
        if (n == 0) {
            error_ = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int AtomicFileWriter::commit(std::string* errorText)
{
    int err = error_;
    if (!err && fd_ < 0)
        err = EBADF;
    if (!err && ::fsync(fd_) != 0)
        err = errno;
    if (fd_ >= 0) {
        const int closed = ::close(fd_);
        if (closed != 0 && !err)
            err = errno;
        fd_ = -1;
    }
    if (!err && ::rename(tmpPath_.c_str(), target_.c_str()) != 0)
        err = errno;
    if (err) {
        setError(errorText, writeMessage(path_, err));
        discard();
        return -8;
    }
    tmpPath_.clear();
    syncFolder(target_);
    return 0;
}

void AtomicFileWriter::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tmpPath_.empty()) {
        ::unlink(tmpPath_.c_str());
        tmpPath_.clear();
    }
}

int replaceFile(const std::string& path, const void* data, size_t size, std::string* errorText)
{
    AtomicFileWriter writer(path);
    const int opened = writer.open(errorText);
    if (opened != 0)
        return opened;
    writer.write(data, size); // a failure is kept and reported by commit
    return writer.commit(errorText);
}

} // namespace plat
