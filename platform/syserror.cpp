// System error texts through the thread-safe strerror_r.
#include "platform/syserror.h"

#include <cerrno>
#include <cstring>

namespace plat {

namespace {

// strerror_r has two flavours: the GNU one returns the text, the XSI one fills buf and returns 0.
[[maybe_unused]] const char* pickText(const char* gnuResult, const char*) { return gnuResult; }
[[maybe_unused]] const char* pickText(int xsiResult, const char* buf) { return xsiResult == 0 ? buf : nullptr; }

} // namespace

std::string systemErrorText(int err)
{
    char buf[256] = {};
    const char* text = pickText(strerror_r(err, buf, sizeof buf), buf);
    if (!text || !*text)
        return "Unknown error " + std::to_string(err);
    return text;
}

std::string lastSystemErrorText()
{
    return systemErrorText(errno);
}

} // namespace plat
