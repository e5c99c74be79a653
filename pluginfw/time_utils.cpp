// Precise time and waits on the platform's clocks; the text of a time in English whatever the locale.
#include "time_utils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/clock.h"

double getPreciseTime()
{
    return plat::preciseNow();
}

bool preciseWait(double seconds, const std::atomic<bool>* abort)
{
    // Sleeps to the target on the monotonic clock; with an abort flag, in steps of 1 ms at most.
    return plat::sleepUntil(plat::monotonicSeconds() + seconds, abort, 0.001);
}

char* formatTimestamp(double seconds, char* out, unsigned fractionDigits)
{
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    constexpr size_t kOutSize = 64;
    if (!out)
        return out;
    out[0] = '\0';
    // Times outside years 0..9999 (and NaN) have no calendar text of this shape.
    if (!(seconds > -62167219200.0 && seconds < 253402300800.0))
        return out;
    fractionDigits = std::min(fractionDigits, 9u);

    const double whole = std::floor(seconds);
    const time_t t = static_cast<time_t>(whole);
    struct tm tm {};
    if (!localtime_r(&t, &tm))
        return out;

    char fraction[16] = "";
    if (fractionDigits > 0) {
        uint64_t scale = 1;
        for (unsigned i = 0; i < fractionDigits; ++i)
            scale *= 10;
        // Truncated, and never rounded up to a whole second.
        const auto digits = std::min(static_cast<uint64_t>((seconds - whole) * static_cast<double>(scale)),
                                     scale - 1);
        std::snprintf(fraction, sizeof fraction, ".%0*llu", static_cast<int>(fractionDigits),
                      static_cast<unsigned long long>(digits));
    }
    std::snprintf(out, kOutSize, "%s %s %2d %02d:%02d:%02d%s %d", kDays[tm.tm_wday % 7], kMonths[tm.tm_mon % 12],
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fraction, tm.tm_year + 1900);
    return out;
}
