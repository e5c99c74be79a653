// Numbers of the text exports.
#include "export_text.h"

#include <charconv>
#include <cmath>

#include "platform/numbers.h"

namespace {

std::string exact(double value, std::chars_format format, int precision)
{
    if (!std::isfinite(value))
        return plat::formatDouble(value);
    char buf[400]; // "%f" of 1e308 has 309 digits before the point
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, format, precision);
    if (ec == std::errc()) {
        double back = 0;
        const auto parsed = std::from_chars(buf, end, back);
        if (parsed.ec == std::errc() && parsed.ptr == end && back == value)
            return std::string(buf, end);
    }
    return plat::formatDouble(value);
}

} // namespace

std::string exactTextG(double value)
{
    return exact(value, std::chars_format::general, 6);
}

std::string exactTextF(double value)
{
    return exact(value, std::chars_format::fixed, 6);
}
