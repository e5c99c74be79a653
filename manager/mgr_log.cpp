#include "mgr_log.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/syserror.h"
#include "platform/text_copy.h"
#include "pluginfw/tvk_utils.h"

namespace {

constexpr int kTimeDigits = 4;        // fraction digits of the log's time text
constexpr size_t kSysErrorSize = 256; // "%s (%u)" of the system error text and code

} // namespace

Log::Log(MgrUiHooks& ui, std::string path) : ui_(ui)
{
    file_ = std::fopen(path.c_str(), "a");
    if (!file_)
        ui_.messageBox("Cannot open log file!", "Error", MsgBoxKind::Plain);
}

Log::~Log()
{
    if (file_)
        std::fclose(file_);
}

int Log::logMsg(const char* source, const char* fmt, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int result = vlogMsg(source, fmt, flags, args);
    va_end(args);
    return result;
}

int Log::vlogMsg(const char* source, const char* fmt, int flags, va_list args)
{
    const int sysError = errno; // the caller's last system error, before anything here changes it
    if (!source)
        source = "";
    if (!fmt)
        fmt = "";

    // The message window and the entry each format from their own copy of the arguments.
    if (flags & MGRLOG_MSGWINDOW) {
        va_list forWindow;
        va_copy(forWindow, args);
        ui_.showMsgWindow(source, fmt, forWindow);
        va_end(forWindow);
    }

    std::unique_ptr<LogItem> item(new (std::nothrow) LogItem{});
    if (!item) {
        ui_.messageBox("Memory allocation failed", "Logging Error", MsgBoxKind::Error);
        return -1;
    }
    item->time = getPreciseTime();
    formatTimestamp(item->time, item->timeText, kTimeDigits);
    plat::copyText(item->source, source);

    va_list forEntry;
    va_copy(forEntry, args);
    std::vsnprintf(item->message, sizeof item->message, fmt, forEntry);
    va_end(forEntry);

    if (flags & MGRLOG_SYSERROR) {
        std::string text = plat::systemErrorText(sysError);
        const size_t lineEnd = text.find_first_of("\r\n");
        if (lineEnd != std::string::npos)
            text.resize(lineEnd);
        char sysText[kSysErrorSize];
        std::snprintf(sysText, sizeof sysText, "%s (%u)", text.c_str(), static_cast<unsigned>(sysError));
        const size_t used = std::strlen(item->message);
        std::snprintf(item->message + used, sizeof item->message - used, " System error: %s", sysText);
    }

    // The box text is taken now: once queued, the entry belongs to the log window, which may free it.
    std::string boxText, boxCaption;
    if (flags & MGRLOG_MSGBOX) {
        boxText = item->message;
        boxCaption = item->source;
    }

    bool reportWriteError = false;
    {
        std::lock_guard lock(m_);
        if (file_) {
            const bool written =
                std::fprintf(file_, "[%s]\n%s:\n%s\n\n", item->timeText, item->source, item->message) >= 0 &&
                std::fflush(file_) == 0;
            if (written) {
                writeFailed_ = false;
            } else {
                std::clearerr(file_);
                reportWriteError = !writeFailed_; // once per run of failures
                writeFailed_ = true;
            }
        }
        queue(std::move(item));
    }

    if (reportWriteError)
        ui_.messageBox("Cannot write to log file", "Logging error", MsgBoxKind::Error);
    if (flags & MGRLOG_MSGBOX)
        ui_.messageBox(boxText.c_str(), boxCaption.c_str(), MsgBoxKind::Warning);
    return 0;
}

void Log::queue(std::unique_ptr<LogItem> item)
{
    // The oldest entry may be in the log window's hands (peekItem), so a full queue keeps what it
    // holds and leaves the new entry out; a notice needs room for itself and the entry.
    if (queue_.size() + (unreported_ ? 2 : 1) > kMaxQueued) {
        ++unreported_;
        ++dropped_;
        return;
    }
    if (unreported_) {
        std::unique_ptr<LogItem> notice(new (std::nothrow) LogItem{});
        if (notice) {
            notice->time = item->time;
            std::memcpy(notice->timeText, item->timeText, sizeof notice->timeText);
            plat::copyText(notice->source, "tvkmgr");
            std::snprintf(notice->message, sizeof notice->message,
                          "%zu log entries are missing here: the log window's queue was full (log.txt holds them).",
                          unreported_);
            queue_.push_back(std::move(notice));
            unreported_ = 0;
        }
    }
    queue_.push_back(std::move(item));
}

LogItem* Log::peekItem()
{
    std::lock_guard lock(m_);
    return queue_.empty() ? nullptr : queue_.front().get();
}

void Log::popItem()
{
    std::unique_ptr<LogItem> oldest;
    std::lock_guard lock(m_);
    if (!queue_.empty()) {
        oldest = std::move(queue_.front());
        queue_.pop_front();
    }
}

size_t Log::queuedCount() const
{
    std::lock_guard lock(m_);
    return queue_.size();
}

size_t Log::droppedCount() const
{
    std::lock_guard lock(m_);
    return dropped_;
}
