// Safe replacement of files: temporary file in the same folder, every write checked, fsync, close, rename.
#include "platform/file_write.h"

#include "platform/syserror.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <signal.h>
#include <system_error>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace plat {

namespace {

constexpr char kTempMark[] = ".~tmp";

std::atomic<unsigned> tempCounter{0};
std::atomic<SyncFunction> syncFunction{nullptr};
thread_local SyncBatch* currentBatch = nullptr;

// Writes every byte to fd: 0, or the system's error number of the failure.
int writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int syncDescriptor(int fd, const std::string& path)
{
    if (const SyncFunction fn = syncFunction.load())
        return fn(fd, path.c_str());
    return ::fsync(fd);
}

// This process's id for the temporary names, asked of the system once (a system call costs as much as
// the file operations of a small file); a forked child asks again.
std::atomic<pid_t> cachedPid{0};

pid_t processId()
{
    static const int forkHook = ::pthread_atfork(nullptr, nullptr, [] { cachedPid.store(0); });
    (void)forkHook;
    pid_t pid = cachedPid.load();
    if (pid == 0) {
        pid = ::getpid();
        cachedPid.store(pid);
    }
    return pid;
}

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

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What open needs to know of the file to replace, from one lstat when it is not a link: the file its path
// names (a symbolic link is followed, so that the file it names is replaced and the link stays; a dangling
// link is replaced itself) and, when that file exists, its status. Returns 0 or errno.
int inspectTarget(const std::string& path, std::string* target, struct stat* st, bool* exists)
{
    *target = path;
    *exists = ::lstat(path.c_str(), st) == 0;
    if (!*exists)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(st->st_mode))
        return 0;
    char resolved[PATH_MAX];
    *exists = false;
    if (!realpath(path.c_str(), resolved))
        return 0;
    *target = resolved;
    *exists = ::stat(resolved, st) == 0;
    return 0;
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

// Makes a rename in the folder durable. Returns 0 or errno; a folder that cannot be opened for reading
// and file systems that cannot sync a folder (EINVAL) are not an error.
int syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int err = syncDescriptor(fd, folder) == 0 ? 0 : errno;
    ::close(fd);
    return err == EINVAL ? 0 : err;
}

// Opens a file that was closed after it was put in place, to sync it: -1 with errno when it cannot be.
// A write-back error that no one has seen yet is still reported to a descriptor opened after it.
int openForSync(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) // a file its owner may write but not read
        return ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    return fd;
}

// The pid in a temporary file's name "<stem>.~tmp<pid>.<n>"; 0 when the name is not one.
pid_t temporaryOwner(const char* name)
{
    const std::string text(name);
    const size_t mark = text.rfind(kTempMark);
    if (mark == std::string::npos || mark == 0)
        return 0;
    size_t i = mark + sizeof kTempMark - 1;
    long long pid = 0;
    const size_t pidStart = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i - pidStart < 10; ++i)
        pid = pid * 10 + (text[i] - '0');
    if (i == pidStart || i >= text.size() || text[i] != '.' || pid <= 0 || pid > INT_MAX)
        return 0;
    const size_t counterStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    return i > counterStart && i == text.size() ? static_cast<pid_t>(pid) : 0;
}

// Folders (device, inode) already cleared of stale temporary files by this process: each is scanned once,
// so that writing many files into a large folder does not read it again and again.
std::mutex clearedMutex; // guards clearedFolders; nothing else is called while it is held
std::set<std::pair<dev_t, ino_t>> clearedFolders;

// Removes the temporary files that processes which no longer run left in folder. A file stays when its
// pid is running (a live save in flight, or a pid since reused: then it goes once that process has ended),
// when it belongs to another user or is not a regular file. A process of another pid namespace that shares
// the folder is not seen; its save then fails at the rename and reports it.
void removeStaleTemporaries(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return;
    {
        std::lock_guard<std::mutex> guard(clearedMutex);
        if (!clearedFolders.emplace(st.st_dev, st.st_ino).second)
            return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    const pid_t self = processId();
    const uid_t user = ::geteuid();
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = temporaryOwner(entry->d_name);
        if (owner == 0 || owner == self)
            continue;
        struct stat file {};
        if (::fstatat(dirFd, entry->d_name, &file, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(file.st_mode) ||
            file.st_uid != user)
            continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) // running, or running as someone we may not signal
            continue;
        (void)::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
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
    struct stat st {};
    bool exists = false;
    if (const int err = inspectTarget(path_, &target_, &st, &exists)) {
        setError(errorText, openMessage(path_, err));
        return -6;
    }
    // A folder (or a link to one) cannot be replaced by a file: refused before anything is written, so
    // that a save of several files never puts one in place and then fails at another.
    if (exists && S_ISDIR(st.st_mode)) {
        setError(errorText, openMessage(path_, EISDIR));
        return -6;
    }
    // A file that exists but could not be opened for writing (read-only) is not replaced: the rename
    // alone would get past its permissions.
    if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        setError(errorText, openMessage(path_, errno));
        return -6;
    }
    // O_EXCL: never write through a file or link that someone else put at the temporary name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string tmp = temporaryStem(target_) + kTempMark + std::to_string(processId()) + "." +
                          std::to_string(tempCounter.fetch_add(1));
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            tmpPath_ = std::move(tmp);
            if (exists) // keep the replaced file's permissions
                (void)::fchmod(fd_, st.st_mode & 07777);
            clearFolderOnce();
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

// In a batch scope, a series writes its files into one folder: the folder's look-up for stale temporary
// files is made at the first file and skipped for the others.
void AtomicFileWriter::clearFolderOnce()
{
    std::string folder = folderOf(target_);
    SyncBatch* const batch = currentBatch;
    if (batch && batch->clearedFolder_ == folder)
        return;
    removeStaleTemporaries(folder);
    if (batch)
        batch->clearedFolder_ = std::move(folder);
}

bool AtomicFileWriter::write(const void* data, size_t size)
{
    if (error_)
        return false;
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    error_ = writeAll(fd_, data, size);
    return error_ == 0;
}

int AtomicFileWriter::finishTemporary(std::string* errorText)
{
    int err = error_;
    if (!err && fd_ < 0)
        err = EBADF;
    if (!err && !currentBatch && syncDescriptor(fd_, tmpPath_) != 0)
        err = errno;
    if (fd_ >= 0) {
        const int closed = ::close(fd_);
        if (closed != 0 && !err)
            err = errno;
        fd_ = -1;
    }
    if (err) {
        setError(errorText, writeMessage(path_, err));
        discard();
        return -8;
    }
    return 0;
}

int AtomicFileWriter::checkReplaceable(std::string* errorText)
{
    struct stat st {};
    if (tmpPath_.empty() || ::lstat(target_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return 0; // what else stops the rename is reported by it
    setError(errorText, writeMessage(path_, EISDIR));
    discard();
    return -8;
}

int AtomicFileWriter::putInPlace(std::string* errorText)
{
    if (tmpPath_.empty() || ::rename(tmpPath_.c_str(), target_.c_str()) != 0) {
        setError(errorText, writeMessage(path_, tmpPath_.empty() ? EBADF : errno));
        discard();
        return -8;
    }
    tmpPath_.clear();
    if (SyncBatch* const batch = currentBatch)
        batch->add(target_);
    return 0;
}

int AtomicFileWriter::commit(std::string* errorText)
{
    if (finishTemporary(errorText) != 0 || putInPlace(errorText) != 0)
        return -8;
    if (!currentBatch)
        (void)syncFolder(folderOf(target_));
    return 0;
}

int commitTogether(AtomicFileWriter* const* writers, size_t count, std::string* errorText)
{
    auto discardFrom = [&](size_t first) {
        for (size_t i = first; i < count; ++i)
            if (writers[i])
                writers[i]->discard();
    };
    // The write-back of every temporary is started first, so that the disk gets them at once and the
    // syncs that follow mostly wait for work already under way.
    if (!currentBatch)
        for (size_t i = 0; i < count; ++i)
            if (writers[i] && writers[i]->fd_ >= 0 && !writers[i]->error_)
                (void)::sync_file_range(writers[i]->fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    for (size_t i = 0; i < count; ++i) {
        if (writers[i] && writers[i]->finishTemporary(errorText) != 0) {
            discardFrom(0);
            return -8;
        }
    }
    // Every target must still be replaceable before the first is renamed (a folder made at a target's
    // name since open): a save that fails then leaves every old file as it was.
    for (size_t i = 0; i < count; ++i) {
        if (writers[i] && writers[i]->checkReplaceable(errorText) != 0) {
            discardFrom(0);
            return -8;
        }
    }
    std::vector<std::string> folders; // each once, in the order first seen
    int result = 0;
    for (size_t i = 0; i < count && result == 0; ++i) {
        if (!writers[i])
            continue;
        if (writers[i]->putInPlace(errorText) != 0) {
            discardFrom(i + 1);
            result = -8;
            break;
        }
        std::string folder = folderOf(writers[i]->target_);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
    }
    if (!currentBatch) // what was renamed is made durable, also when a later rename failed
        for (const std::string& folder : folders)
            (void)syncFolder(folder);
    return result;
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

int appendWhole(const std::string& path, const void* data, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    const off_t before = ::lseek(fd, 0, SEEK_END);
    int error = writeAll(fd, data, size);
    if (error != 0 && before >= 0 && ::ftruncate(fd, before) != 0) {
        // The cut failed too: the first error is the one reported.
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
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

SyncBatch::~SyncBatch()
{
    flush();
}

void SyncBatch::add(const std::string& file)
{
    files_.push_back(file);
    std::string folder = folderOf(file);
    if (std::find(folders_.begin(), folders_.end(), folder) == folders_.end())
        folders_.push_back(std::move(folder));
}

SyncBatch* SyncBatch::active()
{
    return currentBatch;
}

int SyncBatch::flush(std::string* errorText)
{
    // The files are synced by several threads at once: a journaling file system commits the syncs that
    // wait together in one go, where one sync after another would wait for the disk once per file. The
    // failure reported is that of the earliest file recorded, as when they were synced in order.
    constexpr size_t kThreads = 16;
    std::mutex failureMutex; // guards firstFailed and firstError
    size_t firstFailed = files_.size();
    int firstError = 0;
    std::atomic<size_t> next{0};
    auto syncFiles = [&] {
        for (size_t i; (i = next.fetch_add(1)) < files_.size();) {
            int err = 0;
            const int fd = openForSync(files_[i]);
            if (fd < 0) {
                err = errno == ENOENT ? 0 : errno; // a file that is gone has nothing left to sync
            } else {
                if (syncDescriptor(fd, files_[i]) != 0)
                    err = errno;
                ::close(fd);
            }
            if (err) {
                std::lock_guard<std::mutex> guard(failureMutex);
                if (i < firstFailed) {
                    firstFailed = i;
                    firstError = err;
                }
            }
        }
    };
    // The write-back of every file is started first, so that the disk gets them all at once and the
    // syncs mostly wait for work already under way.
    for (const std::string& file : files_) {
        const int fd = openForSync(file);
        if (fd >= 0) {
            (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
        }
    }
    std::vector<std::thread> helpers;
    try {
        for (size_t t = 1; t < std::min(kThreads, files_.size()); ++t)
            helpers.emplace_back(syncFiles);
    } catch (const std::system_error&) {
        // No more threads: the ones running, and this one, sync the rest.
    }
    syncFiles();
    for (std::thread& helper : helpers)
        helper.join();
    std::string failed = firstError ? files_[firstFailed] : std::string();
    for (const std::string& folder : folders_) {
        const int err = syncFolder(folder);
        if (err && !firstError) {
            firstError = err;
            failed = folder;
        }
    }
    files_.clear();
    folders_.clear();
    if (!firstError)
        return 0;
    setError(errorText, writeMessage(failed, firstError));
    return -8;
}

SyncBatch::Scope::Scope(SyncBatch& batch) : previous_(currentBatch)
{
    currentBatch = &batch;
}

SyncBatch::Scope::~Scope()
{
    currentBatch = previous_;
}

void setSyncFunctionForTests(SyncFunction fn)
{
    syncFunction.store(fn);
}

} // namespace plat
