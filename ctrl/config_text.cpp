#include "config_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/file_read.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view skipBlanks(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    return s.substr(i);
}

// A decimal integer as %d reads it: leading blanks, an optional sign, digits; the rest of the line is ignored.
std::optional<int> parseIntPrefix(std::string_view s)
{
    s = skipBlanks(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    long long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end == s.data())
        return std::nullopt;
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<double> parseDoublePrefix(std::string_view s)
{
    s = skipBlanks(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (!s.empty() && (s[0] == '+' || s[0] == '-'))
        return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (ec != std::errc() || end == s.data() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

} // namespace

std::optional<std::string_view> matchKey(std::string_view line, std::string_view key)
{
    size_t pos = 0;
    for (char k : key) {
        if (isBlank(k)) {
            while (pos < line.size() && isBlank(line[pos]))
                ++pos;
            continue;
        }
        if (pos >= line.size() || line[pos] != k)
            return std::nullopt;
        ++pos;
    }
    if (pos >= line.size() || line[pos] != ':')
        return std::nullopt;
    return line.substr(pos + 1);
}

bool ConfigText::load(const std::string& path, std::string* errorText)
{
    // Only a regular file (a link to one is fine) of at most 64 MB: a FIFO or a device would block or
    // never end, and no configuration is anywhere near that size.
    std::string text;
    std::string message;
    if (plat::readRegularFile(path, text, &message) != plat::ReadOutcome::Ok) {
        if (errorText)
            *errorText = plat::readFailureReason(path, message);
        return false;
    }
    setText(std::move(text));
    path_ = path;
    return true;
}

namespace {

// Calls fn(line, its start, the start of the next line) for each line from offset pos up to end, the
// line without its line end (LF or CR LF), until fn returns false.
template <class Fn>
void forEachLine(std::string_view text, size_t pos, size_t end, Fn fn)
{
    while (pos < end) {
        const size_t eol = text.find('\n', pos);
        const size_t stop = eol == std::string_view::npos || eol > end ? end : eol;
        std::string_view line = text.substr(pos, stop - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const size_t next = stop < end ? stop + 1 : end;
        if (!fn(line, pos, next))
            return;
        pos = next;
    }
}

bool startsWith(std::string_view line, std::string_view prefix)
{
    return line.substr(0, prefix.size()) == prefix;
}

} // namespace

void ConfigText::setText(std::string text)
{
    text_ = std::move(text);
    path_.clear();
    ranges_.clear();
}

const ConfigText::Range* ConfigText::sectionRange(std::string_view section) const
{
    const Range* known = nullptr;
    for (const Range& r : ranges_)
        if (r.section == section)
            known = &r;
    if (!known) {
        const std::string header = "[" + std::string(section) + "]";
        const std::string_view text(text_);
        Range range{std::string(section), false, text.size(), text.size()};
        forEachLine(text, 0, text.size(), [&](std::string_view line, size_t, size_t next) {
            if (!startsWith(line, header))
                return true;
            range.found = true;
            range.begin = next;
            return false;
        });
        forEachLine(text, range.begin, text.size(), [&](std::string_view line, size_t start, size_t) {
            if (line.empty() || line[0] != '[')
                return true;
            range.end = start;
            return false;
        });
        ranges_.push_back(std::move(range));
        known = &ranges_.back();
    }
    return known->found ? known : nullptr;
}

bool ConfigText::hasSection(std::string_view section) const
{
    return sectionRange(section) != nullptr;
}

template <class Parse>
auto ConfigText::find(std::string_view section, std::string_view key, Parse parse) const -> decltype(parse(""))
{
    const Range* range = sectionRange(section);
    decltype(parse("")) result;
    if (!range)
        return result;
    forEachLine(text_, range->begin, range->end, [&](std::string_view line, size_t, size_t) {
        if (const auto value = matchKey(line, key))
            result = parse(*value);
        return !result;
    });
    return result;
}

std::optional<int> ConfigText::findInt(std::string_view section, std::string_view key) const
{
    return find(section, key, parseIntPrefix);
}

std::optional<double> ConfigText::findDouble(std::string_view section, std::string_view key) const
{
    return find(section, key, parseDoublePrefix);
}

std::optional<std::string> ConfigText::findRest(std::string_view section, std::string_view key,
                                                size_t maxLength) const
{
    return find(section, key, [maxLength](std::string_view value) -> std::optional<std::string> {
        if (value.empty())
            return std::nullopt;
        return std::string(value.substr(0, maxLength));
    });
}

std::string sectionName(std::string_view base, int number)
{
    return std::string(base) + std::to_string(number);
}

int digitCount(uint32_t n)
{
    int digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}
