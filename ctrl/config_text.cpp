#include "config_text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "platform/syserror.h"

namespace {

// Configuration files are a few kilobytes; anything far larger is not one.
constexpr long long kMaxFileSize = 64ll << 20;

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
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (errorText)
            *errorText = plat::lastSystemErrorText();
        return false;
    }
    struct stat st {};
    if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        if (errorText)
            *errorText = plat::systemErrorText(EISDIR);
        return false;
    }
    std::string text;
    char buffer[65536];
    size_t got = 0;
    bool ok = true;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (static_cast<long long>(text.size() + got) > kMaxFileSize) {
            ok = false;
            if (errorText)
                *errorText = plat::systemErrorText(EFBIG);
            break;
        }
        text.append(buffer, got);
    }
    if (ok && std::ferror(file)) {
        ok = false;
        if (errorText)
            *errorText = plat::lastSystemErrorText();
    }
    std::fclose(file);
    if (ok)
        setText(std::move(text));
    return ok;
}

void ConfigText::setText(std::string text)
{
    text_ = std::move(text);
    lines_.clear();
    std::string_view rest(text_);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines_.push_back(line);
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
}

template <class Parse>
auto ConfigText::find(std::string_view section, std::string_view key, Parse parse) const -> decltype(parse(""))
{
    const std::string header = "[" + std::string(section) + "]";
    size_t i = 0;
    while (i < lines_.size() && lines_[i].substr(0, header.size()) != header)
        ++i;
    for (++i; i < lines_.size(); ++i) {
        const std::string_view line = lines_[i];
        if (!line.empty() && line[0] == '[')
            break;
        if (const auto value = matchKey(line, key))
            if (auto parsed = parse(*value))
                return parsed;
    }
    return std::nullopt;
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

std::string safeFileNamePart(std::string_view text)
{
    static const char kAllowed[] = " -_.+()[]#,=@~";
    std::string out;
    for (char c : text) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || (c != '\0' && std::strchr(kAllowed, c)))
            out.push_back(c);
    }
    return out;
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
