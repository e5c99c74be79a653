// printf-style formatting into a std::string, the whole text however long. Header-only; any thread.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace plat {

// The text that printf would write for fmt and args; empty for a null fmt or a format error.
[[gnu::format(printf, 1, 0)]] inline std::string vformat(const char* fmt, va_list args)
{
    if (!fmt)
        return {};
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, fmt, args);
    return text;
}

[[gnu::format(printf, 1, 2)]] inline std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    return text;
}

} // namespace plat
