#include "debug_log.h"

#include <cstdarg>

namespace dorvel {

DebugLog::DebugLog(std::string fileName) : file_(std::fopen(fileName.c_str(), "w")) {}

DebugLog::~DebugLog()
{
    if (file_)
        std::fclose(file_);
}

void DebugLog::write(const char* format, ...)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!file_)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file_, format, args);
    va_end(args);
    std::fflush(file_);
}

} // namespace dorvel
