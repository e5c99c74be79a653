#include "station_link.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace probing {

namespace {

constexpr int kPollSliceMs = 20; // how often an await looks at the abort flag
constexpr size_t kReplyMax = 4096; // a longer reply is a port fault, not a reply

// Bytes as the trace writes them: '\r' as "\r", other control bytes, '\' and bytes past ASCII as "\xNN".
std::string escapeBytes(const char* bytes, size_t size)
{
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r') {
            text += "\\r";
        } else if (c < 0x20 || c >= 0x7f || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

} // namespace

int parseStationReply(const std::string& reply, std::string* errorText)
{
    // Line noise before the reply (blanks, line ends, control bytes) does not hide an error reply.
    size_t first = 0;
    while (first < reply.size() && static_cast<unsigned char>(reply[first]) <= ' ')
        ++first;
    if (first >= reply.size() || reply[first] != 'E')
        return kStationDone;
    // From here on it is an error reply: well formed only as 'E', decimal digits, '@'.
    const size_t end = !reply.empty() && reply.back() == '@' ? reply.size() - 1 : reply.size();
    const std::string digits = reply.substr(first + 1, end > first + 1 ? end - first - 1 : 0);
    int result = kStationBadError;
    if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) {
        // An error number too large for a result is still an error, never success.
        const size_t significant = digits.find_first_not_of('0');
        if (significant == std::string::npos || digits.size() - significant <= 9) {
            const int n = std::atoi(digits.c_str());
            result = n <= 1 ? kStationBadError : n;
        }
    }
    if (errorText) {
        const std::string quoted = escapeBytes(reply.data() + first, reply.size() - first);
        *errorText = result == kStationBadError
                         ? "The probe station answered with a malformed or unknown error \"" + quoted + "\"."
                         : "The probe station reported error " + std::to_string(result) + " (\"" + quoted + "\").";
    }
    return result;
}

StationLink::~StationLink() { close(); }

bool StationLink::open(const std::string& port, int baud, int timeoutMs, const std::string& tracePath)
{
    close();
    timeoutMs_ = timeoutMs > 0 ? timeoutMs : 30000;
    if (!tracePath.empty()) {
        trace_ = std::fopen(tracePath.c_str(), "wb");
        if (!trace_) {
            error_ = "Cannot open the trace file " + tracePath + ".";
            return false;
        }
    }
    if (!port_.open(port, baud)) {
        error_ = port_.error();
        close();
        return false;
    }
    return true;
}

void StationLink::close()
{
    port_.close();
    if (trace_)
        std::fclose(trace_);
    trace_ = nullptr;
}

void StationLink::trace(char direction, const char* bytes, size_t size)
{
    if (!trace_)
        return;
    std::string line{direction, ' '};
    line += escapeBytes(bytes, size);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), trace_);
    std::fflush(trace_);
}

int StationLink::send(const std::string& command)
{
    char stale[256];
    long n;
    while ((n = port_.read(stale, sizeof stale, 0)) > 0) // bytes of no reply
        trace('<', stale, static_cast<size_t>(n));
    const std::string bytes = command + '\r';
    trace('>', bytes.data(), bytes.size());
    if (!port_.write(bytes.data(), bytes.size(), timeoutMs_)) {
        error_ = port_.error();
        return kStationPortError;
    }
    return kStationDone;
}

int StationLink::await(int awaitCode, const std::atomic<bool>& abort)
{
    (void)awaitCode;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    std::string reply;
    for (;;) {
        if (abort.load())
            return kStationAborted;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            error_ = "The probe station did not answer in time.";
            return kStationTimeout;
        }
        char buf[256];
        const long n = port_.read(buf, sizeof buf, static_cast<int>(left < kPollSliceMs ? left : kPollSliceMs));
        if (n < 0) {
            error_ = port_.error();
            return kStationPortError;
        }
        if (n == 0)
            continue;
        trace('<', buf, static_cast<size_t>(n));
        const char* end = static_cast<const char*>(std::memchr(buf, '@', static_cast<size_t>(n)));
        reply.append(buf, end ? static_cast<size_t>(end - buf + 1) : static_cast<size_t>(n));
        if (end) // what follows '@' answers nothing: it is dropped (and traced) like stale bytes
            return parseStationReply(reply, &error_);
        if (reply.size() > kReplyMax) {
            error_ = "The probe station's reply is too long.";
            return kStationPortError;
        }
    }
}

int StationLink::command(const std::string& command, int awaitCode, const std::atomic<bool>& abort)
{
    if (abort.load())
        return kStationAborted;
    const int rc = send(command);
    return rc != kStationDone ? rc : await(awaitCode, abort);
}

} // namespace probing
