// The one bounded copy of a text into a fixed caller buffer: cut to fit and always terminated.
// Header-only and async-signal-safe (no allocation, no stdio), so that the fault translator's handler and
// every module can use it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace plat {

// Copies text into out, a buffer of size characters: at most size - 1 characters, then a zero. Returns
// the number of characters copied. A null out or a size of 0 writes nothing and returns 0.
inline size_t copyText(char* out, size_t size, std::string_view text) noexcept
{
    if (!out || size == 0)
        return 0;
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    if (n > 0)
        std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return n;
}

// The same for a zero-terminated text, read no further than fits; a null text copies as empty.
inline size_t copyText(char* out, size_t size, const char* text) noexcept
{
    if (!out || size == 0)
        return 0;
    return copyText(out, size, text ? std::string_view(text, ::strnlen(text, size - 1)) : std::string_view());
}

template <size_t N>
size_t copyText(char (&out)[N], std::string_view text) noexcept
{
    return copyText(out, N, text);
}

template <size_t N>
size_t copyText(char (&out)[N], const char* text) noexcept
{
    return copyText(out, N, text);
}

} // namespace plat
