// The library's debug log: a file of the given name in the current folder, created (emptied) at the first
// line written. A log that cannot be opened is left alone: nothing else depends on it.
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
    std::mutex mutex_; // guards file_ and tried_; nothing else is called while it is held
    std::string fileName_;
    FILE* file_ = nullptr;
    bool tried_ = false;
};

} // namespace dorvel
