// Reading regular files only, bounded by a cap.
#include "platform/file_read.h"

#include "platform/syserror.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

void report(ReadOutcome* outcome, ReadOutcome value, std::string* errorText, std::string text)
{
    if (outcome)
        *outcome = value;
    if (errorText)
        *errorText = std::move(text);
}

// Every message: "Cannot read file "<path>": <reason>." (callers may add to it after the reason).
std::string cannotRead(const std::string& path, const std::string& reason)
{
    return "Cannot read file \"" + path + "\": " + reason + ".";
}

std::string sizeText(size_t bytes)
{
    if (bytes >= (size_t(1) << 20) && bytes % (size_t(1) << 20) == 0)
        return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

int openRegularFile(const std::string& path, ReadOutcome* outcome, std::string* errorText)
{
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for ever. It is cleared again once
    // the file is known to be regular (where it has no effect anyway).
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        const bool missing = err == ENOENT || err == ENOTDIR;
        report(outcome, missing ? ReadOutcome::Missing : ReadOutcome::Failed, errorText,
               cannotRead(path, systemErrorText(err)));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        report(outcome, ReadOutcome::Failed, errorText,
               cannotRead(path, systemErrorText(err)));
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        report(outcome, ReadOutcome::NotRegular, errorText,
               cannotRead(path, "it is not a regular file"));
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (outcome)
        *outcome = ReadOutcome::Ok;
    return fd;
}

std::FILE* fopenRegularFile(const std::string& path, ReadOutcome* outcome, std::string* errorText)
{
    const int fd = openRegularFile(path, outcome, errorText);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        const int err = errno;
        ::close(fd);
        report(outcome, ReadOutcome::Failed, errorText,
               cannotRead(path, systemErrorText(err)));
    }
    return file;
}

ReadOutcome readRegularFile(const std::string& path, std::string& content, std::string* errorText,
                            size_t maxBytes)
{
    content.clear();
    ReadOutcome outcome = ReadOutcome::Failed;
    const int fd = openRegularFile(path, &outcome, errorText);
    if (fd < 0)
        return outcome;
    return readOpenedFile(fd, path, content, errorText, maxBytes);
}

ReadOutcome readOpenedFile(int fd, const std::string& path, std::string& content, std::string* errorText,
                           size_t maxBytes)
{
    content.clear();
    const auto tooLarge = [&] {
        content.clear();
        content.shrink_to_fit();
        report(nullptr, ReadOutcome::TooLarge, errorText,
               cannotRead(path, "it is larger than " + sizeText(maxBytes)));
        return ReadOutcome::TooLarge;
    };
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        return tooLarge();
    }
    content.resize(static_cast<size_t>(st.st_size));
    size_t have = 0;
    for (;;) {
        if (have == content.size()) {
            // At the expected end (or the file grew): room for more, one byte beyond the cap at most.
            if (have > maxBytes) {
                ::close(fd);
                return tooLarge();
            }
            content.resize(std::min(maxBytes + 1, have + std::max<size_t>(have / 2, 65536)));
        }
        const ssize_t n = ::read(fd, content.data() + have, content.size() - have);
        if (n > 0) {
            have += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        const int err = errno;
        ::close(fd);
        content.clear();
        report(nullptr, ReadOutcome::Failed, errorText,
               cannotRead(path, systemErrorText(err)));
        return ReadOutcome::Failed;
    }
    ::close(fd);
    if (have > maxBytes)
        return tooLarge();
    content.resize(have);
    return ReadOutcome::Ok;
}

std::string readFailureReason(const std::string& path, const std::string& message)
{
    const std::string prefix = "Cannot read file \"" + path + "\": ";
    if (message.size() <= prefix.size() + 1 || message.compare(0, prefix.size(), prefix) != 0 || message.back() != '.')
        return message;
    return message.substr(prefix.size(), message.size() - prefix.size() - 1);
}

} // namespace plat
