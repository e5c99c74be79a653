// Checking and showing the value of a validated edit.
#include "smart_value.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/numbers.h"

namespace {

const char* const kNotANumber = "Please enter a number.";
const char* const kNotARange = "Please enter a number or valid range (2 numbers separated by space).";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view skipBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

// A sign and digits only: an integer, even when it does not fit 64 bits.
bool looksLikeInteger(std::string_view text)
{
    text = skipBlanks(text);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool outside(double v, double lo, double hi)
{
    return v < lo || v > hi;
}

} // namespace

std::string formatG5(double value)
{
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 5);
    if (ec != std::errc())
        return {};
    return std::string(buf, end);
}

std::string SmartEditValue::check(std::string_view text)
{
    std::string message;
    switch (mode_) {
    case MODE_INT: message = checkInt(text); break;
    case MODE_DOUBLE: message = checkDouble(text); break;
    case MODE_RANGE: message = checkRange(text); break;
    default: break;
    }
    valid_ = message.empty();
    return message;
}

std::string SmartEditValue::checkInt(std::string_view text)
{
    int64_t lo = limitsOn_ ? intMin_ : kIntLowest;
    int64_t hi = limitsOn_ ? intMax_ : kIntHighest;
    std::string outOfRange =
        "Please enter an integer between " + std::to_string(lo) + " and " + std::to_string(hi) + ".";
    std::optional<int64_t> v = plat::parseInt64(text);
    if (!v)
        return looksLikeInteger(text) ? outOfRange : kNotANumber;
    if (*v < lo || *v > hi)
        return outOfRange;
    intValue_ = *v;
    return {};
}

std::string SmartEditValue::checkDouble(std::string_view text)
{
    std::optional<double> v = plat::parseDouble(text);
    if (!v)
        return kNotANumber;
    if (limitsOn_ && outside(*v, minLimits_[0], maxLimits_[0]))
        return "Please enter a double between " + formatG5(minLimits_[0]) + " and " + formatG5(maxLimits_[0]) + ".";
    value_ = *v;
    return {};
}

std::string SmartEditValue::checkRange(std::string_view text)
{
    std::string_view rest = text;
    std::optional<double> from = plat::takeDouble(rest);
    if (!from)
        return kNotARange;
    rest = skipBlanks(rest);
    double to = *from;
    if (!rest.empty()) {
        std::optional<double> second = plat::takeDouble(rest);
        if (!second)
            return kNotARange;
        to = *second;
        rest = skipBlanks(rest);
    }
    if (!rest.empty())
        return kNotARange;
    if (limitsOn_ && (outside(*from, minLimits_[0], maxLimits_[0]) || outside(to, minLimits_[1], maxLimits_[1]))) {
        if (minLimits_[0] != minLimits_[1] || maxLimits_[0] != maxLimits_[1])
            return "Please enter a double range where 'from' is between " + formatG5(minLimits_[0]) + " and " +
                   formatG5(maxLimits_[0]) + " and 'to' is between " + formatG5(minLimits_[1]) + " and " +
                   formatG5(maxLimits_[1]) + " .";
        return "Please enter a double range between " + formatG5(minLimits_[0]) + " and " + formatG5(maxLimits_[0]) +
               ".";
    }
    value_ = *from;
    rangeTo_ = to;
    return {};
}

std::optional<std::string> SmartEditValue::setInt(int value)
{
    if (mode_ != MODE_INT)
        return std::nullopt;
    intValue_ = value;
    valid_ = true;
    return std::to_string(value);
}

std::optional<std::string> SmartEditValue::setUInt(unsigned value)
{
    if (mode_ != MODE_INT)
        return std::nullopt;
    intValue_ = value;
    valid_ = true;
    return std::to_string(value);
}

std::optional<std::string> SmartEditValue::setDouble(double value)
{
    if (mode_ != MODE_DOUBLE)
        return std::nullopt;
    value_ = value;
    valid_ = true;
    return formatG5(value);
}

std::optional<std::string> SmartEditValue::setRangeValue(double from, double to)
{
    if (mode_ != MODE_RANGE)
        return std::nullopt;
    value_ = from;
    rangeTo_ = to;
    valid_ = true;
    return from == to ? formatG5(from) : formatG5(from) + " " + formatG5(to);
}

int SmartEditValue::setDoubleLimits(double min, double max)
{
    if (std::isnan(min) || std::isnan(max))
        return -1;
    limitsOn_ = true;
    if (mode_ == MODE_DOUBLE) {
        minLimits_[0] = min;
        maxLimits_[0] = max;
    } else {
        minLimits_[0] = minLimits_[1] = min;
        maxLimits_[0] = maxLimits_[1] = max;
    }
    // Kept as integers of their own: an integer edit never reads its limits back from the doubles.
    auto clampInt = [](double v) {
        return static_cast<int64_t>(std::clamp(v, static_cast<double>(kIntLowest), static_cast<double>(kIntHighest)));
    };
    intMin_ = clampInt(std::ceil(min));
    intMax_ = clampInt(std::floor(max));
    return 0;
}
