// Reading files that come from outside. Only a regular file is read (a link to one is fine): a FIFO, a
// device or a folder is refused at open, before anything can block on it or read without end, and no
// file above a size cap is read, so a reader never holds much more than the file's own size.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace plat {

// The cap of every reader of whole files (ini, configuration and description files).
inline constexpr size_t kMaxInputFileBytes = size_t(64) << 20;

enum class ReadOutcome { Ok, Missing, NotRegular, TooLarge, Failed };

// Opens path for reading when it is a regular file: a descriptor (close-on-exec), or -1. Missing when the
// file or a folder on its path does not exist, NotRegular for anything but a regular file, Failed else.
// errorText (may be null) gets a message naming the file.
int openRegularFile(const std::string& path, ReadOutcome* outcome = nullptr, std::string* errorText = nullptr);

// The same as a stdio stream opened "rb", or null.
std::FILE* fopenRegularFile(const std::string& path, ReadOutcome* outcome = nullptr,
                            std::string* errorText = nullptr);

// The whole file into content (cleared on failure); TooLarge when it holds more than maxBytes, found
// from its size before reading and checked again while reading (the file may grow meanwhile).
ReadOutcome readRegularFile(const std::string& path, std::string& content, std::string* errorText = nullptr,
                            size_t maxBytes = kMaxInputFileBytes);

// The same for a file that the caller opened with openRegularFile (fd, which this closes), for callers
// that tell a failed open from a failed read: Ok, TooLarge or Failed.
ReadOutcome readOpenedFile(int fd, const std::string& path, std::string& content, std::string* errorText = nullptr,
                           size_t maxBytes = kMaxInputFileBytes);

// The reason part of a message of these readers ("Cannot read file "<path>": <reason>."), for callers
// that word their own message; the whole message when it has another form.
std::string readFailureReason(const std::string& path, const std::string& message);

} // namespace plat
