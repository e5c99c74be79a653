// Processing a folder of stored frames: each frame file (description files ".dsc" left out) is loaded
// through the manager in name order, analysed as an acquired frame and closed again. A file that does not
// load is logged and skipped. Runs in a worker thread; progress is read from any thread, abort from the
// owner's.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "pluginfw/thread_op.h"

class ClustAnalData;

// The frame files of folder in name order: regular files, ".dsc" files left out. error (may be null) gets
// the failure of opening or reading the folder (then the list is what was read before it).
std::vector<std::string> frameFilesOf(const std::string& folder, std::error_code* error = nullptr);

class ClustFolderJob : public ThreadOp {
public:
    // progress(done, total) is called in the worker after each file, and once with done = total at the end
    // (also when the folder cannot be read: then 0, 0).
    using Progress = std::function<void(int done, int total)>;

    ClustFolderJob(ClustAnalData& data, std::string folder, Progress progress);
    ~ClustFolderJob() override;

    // Processes the files in the calling thread (run() calls it in the worker). Returns the number of files
    // analysed, or -1 when the folder cannot be read.
    int processAll();
    int run() override { return processAll(); }

    int done() const { return done_.load(); }
    int total() const { return total_.load(); }
    int failed() const { return failed_.load(); }

private:
    ClustAnalData& data_;
    const std::string folder_;
    Progress progress_;
    std::atomic<int> done_{0};
    std::atomic<int> total_{0};
    std::atomic<int> failed_{0};
};
