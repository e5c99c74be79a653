// Locale-free reading of one number field, shared by the value texts and the whole-array text files.
// Internal to the utilities library.
#pragma once

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

namespace textscan {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// ASCII only, whatever the locale.
inline bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Reads one number at the start of text (blanks skipped). The number must end at a blank or at the
// end of the text, so that "1.5" is not read as the integer 1 and "12ab" not as 12.
enum class Read { ok, none, range };

inline std::string_view skipBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

inline bool endsField(std::string_view rest)
{
    return rest.empty() || isBlank(rest.front());
}

// '+' is accepted as scanf accepted it; from_chars itself takes only '-'.
inline const char* skipPlus(const char* first, const char* last)
{
    if (last - first >= 2 && *first == '+' && first[1] != '-' && first[1] != '+')
        return first + 1;
    return first;
}

template <typename T>
Read takeNumber(std::string_view& text, T& value)
{
    text = skipBlanks(text);
    const char* last = text.data() + text.size();
    const char* first = skipPlus(text.data(), last);
    std::from_chars_result r;
    if constexpr (std::is_floating_point_v<T>)
        r = std::from_chars(first, last, value, std::chars_format::general);
    else
        r = std::from_chars(first, last, value, 10);
    if (r.ec == std::errc::invalid_argument)
        return Read::none;
    std::string_view rest(r.ptr, static_cast<size_t>(last - r.ptr));
    if (!endsField(rest))
        return Read::none;
    text = rest;
    return r.ec == std::errc::result_out_of_range ? Read::range : Read::ok;
}

// Integers are read in 64 bits and then checked against the element's range.
template <typename T>
Read takeInteger(std::string_view& text, T& value)
{
    int64_t wide = 0;
    const Read r = takeNumber(text, wide);
    if (r != Read::ok)
        return r;
    if (wide < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        wide > static_cast<int64_t>(std::numeric_limits<T>::max()))
        return Read::range;
    value = static_cast<T>(wide);
    return Read::ok;
}

} // namespace textscan
