// The suite's log: every entry is appended to "log.txt" and queued for the log window. The queue holds at
// most kMaxQueued entries (about 11 MB): entries that come while it is full go to the file only, and
// once there is room again an entry of the log itself says how many the window missed.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "mgr_ui_hooks.h"
#include "tvk_mgr.h"

class Log {
public:
    static constexpr size_t kMaxQueued = 10000;

    // Opens path for appending; when that fails a box says so and entries are only queued.
    explicit Log(MgrUiHooks& ui, std::string path = "log.txt");
    virtual ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Formats and records one entry (flags: _MgrLogFlags). 0, or -1 when no entry could be allocated.
    int logMsg(const char* source, const char* fmt, int flags, ...) __attribute__((format(printf, 3, 5)));
    int vlogMsg(const char* source, const char* fmt, int flags, va_list args);

    // The oldest queued entry or null; it stays valid until popped (only the log window pops).
    LogItem* peekItem();
    // Removes and frees the oldest entry; nothing when the queue is empty.
    void popItem();
    size_t queuedCount() const;
    // Entries that were not queued because the queue was full, since the log was opened.
    size_t droppedCount() const;

    bool hasFile() const { return file_ != nullptr; }

private:
    // Appends to the queue within its bound (m_ held).
    void queue(std::unique_ptr<LogItem> item);

    MgrUiHooks& ui_;
    bool writeFailed_ = false; // guarded by m_
    FILE* file_ = nullptr;
    // Guards writeFailed_, writes to file_, queue_ and the counts; nothing else is called while it is held.
    // Recursive without need: nothing taken while it is held comes back to it; a plain mutex would do.
    mutable std::recursive_mutex m_;
    std::deque<std::unique_ptr<LogItem>> queue_;
    size_t unreported_ = 0; // entries left out of the queue since the last notice
    size_t dropped_ = 0;    // all entries left out of the queue
};
