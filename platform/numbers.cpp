// Locale-independent number conversion on std::from_chars / std::to_chars.
#include "platform/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace plat {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// from_chars accepts no leading '+'; the texts we read (and strtol/strtod before us) do. A sign must
// be followed by the number itself, so "+-1" and "+ 1" stay refused.
const char* skipPlus(const char* first, const char* last)
{
    if (first != last && *first == '+' && first + 1 != last && first[1] != '-' && first[1] != '+')
        return first + 1;
    return first;
}

// Reads one number at the start of [first, last); returns the end of the number or null.
template <typename T>
const char* readInteger(const char* first, const char* last, T& value)
{
    const char* start = skipPlus(first, last);
    auto [end, ec] = std::from_chars(start, last, value, 10);
    if (ec != std::errc())
        return nullptr;
    return end;
}

const char* readDouble(const char* first, const char* last, double& value, bool allowNonFinite)
{
    const char* start = skipPlus(first, last);
    auto [end, ec] = std::from_chars(start, last, value, std::chars_format::general);
    if (ec != std::errc())
        return nullptr; // no number, or out of range (overflow or underflow to zero)
    if (!allowNonFinite && !std::isfinite(value))
        return nullptr;
    return end;
}

template <typename T>
std::optional<T> parseWhole(std::string_view text)
{
    text = trimmed(text);
    if (text.empty())
        return std::nullopt;
    T value{};
    const char* end = readInteger(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size())
        return std::nullopt;
    return value;
}

template <typename T>
std::optional<T> takeInteger(std::string_view& text)
{
    std::string_view rest = text;
    while (!rest.empty() && isBlank(rest.front()))
        rest.remove_prefix(1);
    T value{};
    const char* end = readInteger(rest.data(), rest.data() + rest.size(), value);
    if (!end)
        return std::nullopt;
    text = rest.substr(static_cast<size_t>(end - rest.data()));
    return value;
}

template <typename T>
std::string formatShortest(T value)
{
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec != std::errc())
        return {}; // cannot happen: 64 characters hold every double
    return std::string(buf, end);
}

} // namespace

std::optional<int64_t> parseInt64(std::string_view text) { return parseWhole<int64_t>(text); }
std::optional<uint64_t> parseUint64(std::string_view text) { return parseWhole<uint64_t>(text); }
std::optional<int32_t> parseInt32(std::string_view text) { return parseWhole<int32_t>(text); }
std::optional<uint32_t> parseUint32(std::string_view text) { return parseWhole<uint32_t>(text); }

std::optional<double> parseDouble(std::string_view text, bool allowNonFinite)
{
    text = trimmed(text);
    if (text.empty())
        return std::nullopt;
    double value = 0;
    const char* end = readDouble(text.data(), text.data() + text.size(), value, allowNonFinite);
    if (end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<int64_t> takeInt64(std::string_view& text) { return takeInteger<int64_t>(text); }
std::optional<uint64_t> takeUint64(std::string_view& text) { return takeInteger<uint64_t>(text); }

std::optional<double> takeDouble(std::string_view& text, bool allowNonFinite)
{
    std::string_view rest = text;
    while (!rest.empty() && isBlank(rest.front()))
        rest.remove_prefix(1);
    double value = 0;
    const char* end = readDouble(rest.data(), rest.data() + rest.size(), value, allowNonFinite);
    if (!end)
        return std::nullopt;
    text = rest.substr(static_cast<size_t>(end - rest.data()));
    return value;
}

std::string formatDouble(double value) { return formatShortest(value); }
std::string formatFloat(float value) { return formatShortest(value); }

namespace {

std::string formatWith(double value, std::chars_format format, int precision)
{
    if (std::isnan(value))
        return std::signbit(value) ? "-nan" : "nan";
    char text[400]; // the longest fixed form of a double with a few decimals fits
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, format, std::max(precision, 0));
    return error == std::errc() ? std::string(text, end) : std::string();
}

} // namespace

std::string formatGeneral(double value, int precision)
{
    return formatWith(value, std::chars_format::general, precision == 0 ? 1 : precision);
}

std::string formatFixed(double value, int decimals)
{
    return formatWith(value, std::chars_format::fixed, decimals);
}

} // namespace plat
