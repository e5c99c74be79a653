#include "debug_log.h"

#include <cstdarg>

namespace dorvel {

DebugLog::DebugLog(std::string fileName) : fileName_(std::move(fileName)) {}

DebugLog::~DebugLog()
{
    if (file_)
        std::fclose(file_);
}

void DebugLog::write(const char* format, ...)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!tried_) {
        tried_ = true;
        file_ = std::fopen(fileName_.c_str(), "w");
    }
    if (!file_)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file_, format, args);
    va_end(args);
    std::fflush(file_);
}

} // namespace dorvel
