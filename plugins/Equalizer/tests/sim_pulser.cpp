// A simulated external test pulser: keeps its settings ("pulses", "fail") and records every call in a
// text that tests read through simPulserLog. Built once with every function and once without
// HppSetSettings.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "tvk_export.h"
#include "tvk_pulser.h"

namespace {
std::mutex g_mutex;
std::string g_log;
unsigned g_pulses = 0;
int g_fail = 0;
} // namespace

extern "C" {

TVK_EXPORT int HppPrepareTestPulses(unsigned devId, int phase, int spacing)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_log += "prepare " + std::to_string(devId) + " " + std::to_string(phase) + "/" + std::to_string(spacing) + "\n";
    return g_fail ? -1 : 0;
}

TVK_EXPORT int HppSetPulseCount(unsigned pulses)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_log += "count " + std::to_string(pulses) + "\n";
    g_pulses = pulses;
    return 0;
}

TVK_EXPORT int HppGetSettings(char* text, unsigned size)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    const std::string s = "pulses=" + std::to_string(g_pulses) + "\nfail=" + std::to_string(g_fail) + "\n";
    if (!text || s.size() + 1 > size)
        return -1;
    std::memcpy(text, s.c_str(), s.size() + 1);
    return 0;
}

#ifndef SIM_PULSER_WITHOUT_SETTINGS
TVK_EXPORT int HppSetSettings(const char* text)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    unsigned pulses = g_pulses;
    int fail = g_fail;
    for (const char* line = text; line && *line;) {
        const char* end = std::strchr(line, '\n');
        const std::string item(line, end ? static_cast<size_t>(end - line) : std::strlen(line));
        line = end ? end + 1 : nullptr;
        if (item.rfind("pulses=", 0) == 0)
            pulses = static_cast<unsigned>(std::stoul(item.substr(7)));
        else if (item.rfind("fail=", 0) == 0)
            fail = std::stoi(item.substr(5));
        else if (!item.empty())
            return -1;
    }
    g_pulses = pulses;
    g_fail = fail;
    return 0;
}
#endif

TVK_EXPORT int simPulserLog(char* text, unsigned size)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    std::snprintf(text, size, "%s", g_log.c_str());
    g_log.clear();
    return 0;
}
}
