// The library's debug log: a file of the given name in the current folder, created (emptied) when the log
// is made, at library start, so that no log of an earlier run survives. A log that cannot be opened is
// left alone: nothing else depends on it.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace dorvel {

class DebugLog {
public:
    explicit DebugLog(std::string fileName);
    ~DebugLog();
    DebugLog(const DebugLog&) = delete;
    DebugLog& operator=(const DebugLog&) = delete;

    // Appends the formatted text as it is (the caller ends its lines) and flushes it.
    [[gnu::format(printf, 2, 3)]] void write(const char* format, ...);

private:
    std::mutex mutex_; // guards file_; nothing else is called while it is held
    FILE* file_ = nullptr;
};

} // namespace dorvel
