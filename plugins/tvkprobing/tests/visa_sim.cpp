// A simulated VISA library with one bench supply per GPIB address: it answers "*IDN?",
// "MEASURE:CURRENT?" (in A) and "MEASURE:VOLTAGE?", and records every command. The test sets the current
// through visaSimSetCurrentMa, or the very bytes of the current's answer through visaSimSetCurrentReply;
// a read shorter than the answer leaves the rest for the next read, with the status that says so. A build
// without viRead shows a library that lacks a function.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Supply {
    int address = 0;
    std::string pendingReply;
};

std::mutex g_mutex; // guards everything below
std::map<uint32_t, Supply> g_sessions;
uint32_t g_next = 100;
std::map<int, double> g_currents;
std::map<int, std::string> g_currentReplies; // raw answers to "MEASURE:CURRENT?" per address
std::vector<std::string> g_commands;
bool g_failReads = false;

} // namespace

SIM_EXPORT int32_t viOpenDefaultRM(uint32_t* rm)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    *rm = 1;
    return 0;
}

SIM_EXPORT int32_t viOpen(uint32_t, const char* resource, uint32_t, uint32_t, uint32_t* vi)
{
    int address = 0;
    if (std::sscanf(resource, "GPIB::%d::INSTR", &address) != 1)
        return -1073807343; // resource not found
    std::lock_guard<std::mutex> guard(g_mutex);
    *vi = g_next++;
    g_sessions[*vi].address = address;
    return 0;
}

SIM_EXPORT int32_t viClose(uint32_t object)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_sessions.erase(object);
    return 0;
}

SIM_EXPORT int32_t viWrite(uint32_t vi, const unsigned char* buffer, uint32_t count, uint32_t* written)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    auto it = g_sessions.find(vi);
    if (it == g_sessions.end())
        return -1;
    std::string command(reinterpret_cast<const char*>(buffer), count);
    while (!command.empty() && command.back() == '\n')
        command.pop_back();
    g_commands.push_back(std::to_string(it->second.address) + ":" + command);
    char reply[64];
    if (command == "*IDN?")
        std::snprintf(reply, sizeof reply, "SIM,SUPPLY,%d,1.0\n", it->second.address);
    else if (command == "MEASURE:CURRENT?")
        std::snprintf(reply, sizeof reply, "%.6f\n", g_currents[it->second.address] / 1000.0);
    else if (command == "MEASURE:VOLTAGE?")
        std::snprintf(reply, sizeof reply, "%.3f\n", 2.2);
    else
        reply[0] = 0;
    const auto raw = g_currentReplies.find(it->second.address);
    if (command == "MEASURE:CURRENT?" && raw != g_currentReplies.end())
        it->second.pendingReply = raw->second;
    else
        it->second.pendingReply = reply; // a new command drops an answer nobody read
    *written = count;
    return 0;
}

#ifndef VISA_SIM_WITHOUT_READ
SIM_EXPORT int32_t viRead(uint32_t vi, unsigned char* buffer, uint32_t count, uint32_t* got)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    auto it = g_sessions.find(vi);
    if (it == g_sessions.end() || g_failReads)
        return -1073807339; // time-out
    std::string& pending = it->second.pendingReply;
    // A read ends at the answer's line end, or when the buffer is full (status: more to come).
    const size_t end = pending.find('\n');
    const size_t answer = end == std::string::npos ? pending.size() : end + 1;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(answer, count));
    std::memcpy(buffer, pending.data(), n);
    *got = n;
    pending.erase(0, n);
    return n < answer ? 0x3FFF0006 : 0;
}
#endif

// ---- control of the simulation ----

SIM_EXPORT void visaSimSetCurrentMa(int address, double mA)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_currents[address] = mA;
}

// The bytes of the answers to "MEASURE:CURRENT?" at address (null: the current set in mA again).
SIM_EXPORT void visaSimSetCurrentReply(int address, const char* reply)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    if (reply)
        g_currentReplies[address] = reply;
    else
        g_currentReplies.erase(address);
}

SIM_EXPORT void visaSimFailReads(int fail)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_failReads = fail != 0;
}

// The commands since the last call, "<address>:<command>", joined by '|'.
SIM_EXPORT void visaSimTakeCommands(char* out, size_t size)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    std::string all;
    for (const std::string& c : g_commands)
        all += (all.empty() ? "" : "|") + c;
    g_commands.clear();
    std::snprintf(out, size, "%s", all.c_str());
}
