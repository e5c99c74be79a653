// Replacing files safely: write to a temporary file in the same folder, flush, check, rename.
// The new file keeps the permissions of the file it replaces, and a file that could not be opened for
// writing (read-only) is not replaced; a symbolic link is followed (the file it names is replaced, the
// link stays).
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Writes data over path through a temporary file in the same folder. Returns 0, -6 when the file cannot
// be opened for writing or the temporary file cannot be created, -8 when a write, the flush, the close
// or the rename fails. On failure the old file is untouched and the temporary is removed; errorText
// (may be null) gets a message with the system's error text.
int replaceFile(const std::string& path, const void* data, size_t size, std::string* errorText = nullptr);

// The same as a stream of pieces: open, write any number of times, commit or discard.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path);
    ~AtomicFileWriter(); // discards when not committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    int open(std::string* errorText = nullptr);                // 0 or -6
    bool write(const void* data, size_t size);                 // false once any write failed
    bool write(const std::string& text) { return write(text.data(), text.size()); }
    int commit(std::string* errorText = nullptr);             // 0 or -8 (the old file untouched);
                                                               // renames over the target
    void discard();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string target_;  // path_ with a symbolic link resolved
    std::string tmpPath_;
    int fd_ = -1;
    int error_ = 0; // errno of the first failed write
};

} // namespace plat
