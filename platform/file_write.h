// Replacing files safely: write to a temporary file in the same folder, flush, check, rename.
// The new file keeps the permissions of the file it replaces, and a file that could not be opened for
// writing (read-only) is not replaced; a symbolic link is followed (the file it names is replaced, the
// link stays).
// Temporary files are named "<target name>.~tmp<pid>.<n>". The first time a process writes into a folder,
// it removes the temporary files there that processes which no longer run left behind (killed during a
// save); files of running processes, of other users and anything that is not a regular file stay.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plat {

// Appends data to path (created when missing); a write that fails part-way (a full disk) is cut off again,
// so that the file keeps whole records only. Returns 0 or the system's error number of the first failure.
int appendWhole(const std::string& path, const void* data, size_t size);

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

    int open(std::string* errorText = nullptr);                // 0 or -6 (also for a folder at path)
    bool write(const void* data, size_t size);                 // false once any write failed
    bool write(const std::string& text) { return write(text.data(), text.size()); }
    int commit(std::string* errorText = nullptr);             // 0 or -8 (the old file untouched);
                                                               // renames over the target
    void discard();
    const std::string& path() const { return path_; }

private:
    friend int commitTogether(AtomicFileWriter* const* writers, size_t count, std::string* errorText);
    void clearFolderOnce();
    int finishTemporary(std::string* errorText); // sync (outside a batch) and close; 0 or -8, discarded
    int checkReplaceable(std::string* errorText); // the target is not a folder; 0 or -8, discarded
    int putInPlace(std::string* errorText);      // the rename; 0 or -8, discarded

    std::string path_;
    std::string target_;  // path_ with a symbolic link resolved
    std::string tmpPath_;
    int fd_ = -1;
    int error_ = 0; // errno of the first failed write
};

// Commits the open writers as one save of several files: every temporary is synced, then each is renamed
// over its target in the order given, then their folders are synced once (three syncs for a pair of files
// instead of four). A file is thus complete on the disk before its name can be; the renames follow one
// another without a sync between them, in the order a journaling file system also keeps after a power cut.
// Before the first rename every target is checked again to be replaceable (no folder stands at its
// name). A failure before the first rename discards them all (every old file untouched); a rename that
// fails all the same keeps the files renamed before it and discards the rest. Null entries are skipped. In a SyncBatch scope the
// syncs are left to the batch, as commit does. Returns 0 or -8, errorText naming the file that failed.
int commitTogether(AtomicFileWriter* const* writers, size_t count, std::string* errorText = nullptr);

// Files put in place without waiting for the disk, synced together later: a series of files written in a
// row (the numbered files of one acquisition) then waits for the disk once at its end instead of twice
// per file in the middle of the work. flush starts the write-back of every file and then syncs them from
// several threads at once, which a journaling file system commits together. Each file is complete before
// it is renamed into place, so a killed process never leaves a partial file under a target name; only a
// power cut before flush() can (the renamed file may then be empty), which is why single saves stay
// durable per file.
class SyncBatch {
public:
    SyncBatch() = default;
    ~SyncBatch(); // flushes what is left; the owner calls flush() itself to learn the result
    SyncBatch(const SyncBatch&) = delete;
    SyncBatch& operator=(const SyncBatch&) = delete;

    // Records a file that was put in place; its folder is synced once by flush.
    void add(const std::string& file);
    // Syncs each file recorded, then each of their folders once, and forgets them. Returns 0, or -8 with
    // a message naming the first file (in the order recorded) or folder that failed (the others are
    // still synced).
    int flush(std::string* errorText = nullptr);
    bool empty() const { return files_.empty(); }

    // The batch of this thread's innermost Scope, or null: a writer of its own (an append) records its
    // file there instead of syncing it.
    static SyncBatch* active();

    // While a Scope is alive, the files that its thread commits (AtomicFileWriter, replaceFile) are put in
    // place without their sync and recorded in the batch. Scopes nest; the innermost one holds.
    class Scope {
    public:
        explicit Scope(SyncBatch& batch);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        SyncBatch* previous_;
    };

private:
    std::vector<std::string> files_;
    std::vector<std::string> folders_; // each once, in the order first seen
    std::string clearedFolder_;        // the folder last written in a scope, already cleared of stale files
    friend class AtomicFileWriter;
};

// Test hook: every sync of this layer (files, folders, batches) calls fn in place of fsync; fn gets the
// descriptor and the path it is open on and returns as fsync does. Null restores fsync.
using SyncFunction = int (*)(int fd, const char* path);
void setSyncFunctionForTests(SyncFunction fn);

} // namespace plat
