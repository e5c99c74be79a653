#include "usb_debug_log.h"

#include <cctype>
#include <ctime>

#include "platform/clock.h"

namespace usb {

DebugLog& debugLog()
{
    static DebugLog log;
    return log;
}

DebugLog::~DebugLog()
{
    if (file_)
        std::fclose(file_);
}

void DebugLog::setLogToFile(bool on)
{
    if (on) {
        std::lock_guard<std::mutex> guard(m_);
        open();
    }
    toFile_ = on;
}

bool DebugLog::open()
{
    if (opened_)
        return file_ != nullptr;
    opened_ = true;
    file_ = std::fopen(kFileName, "w");
    if (!file_)
        return false;
    const std::string row(100, '=');
    std::fprintf(file_, "%s\n====>      Time (UTC)       Device Packet  Message/Error text                      <====\n%s\n",
                 row.c_str(), row.c_str());
    std::fflush(file_);
    return true;
}

namespace {
void timeOfDay(int* h, int* m, int* s, int* ms)
{
    const double now = plat::preciseNow();
    const time_t secs = static_cast<time_t>(now);
    tm t{};
    gmtime_r(&secs, &t);
    *h = t.tm_hour;
    *m = t.tm_min;
    *s = t.tm_sec;
    *ms = static_cast<int>((now - double(secs)) * 1000.0);
}
} // namespace

void DebugLog::message(int device, int type, const std::string& text)
{
    if (!toFile_ || (errorsOnly_ && type == kMessage))
        return;
    std::lock_guard<std::mutex> guard(m_);
    if (!open())
        return;
    int h, m, s, ms;
    timeOfDay(&h, &m, &s, &ms);
    const std::string dev = device < 0 || type == kBadHandle ? "???" : std::to_string(device);
    std::fprintf(file_, "\nMessage:    %02d:%02d:%02d.%03d %6s (%05d)%s %s: %s\n", h, m, s, ms, dev.c_str(), packets_, "",
                 errorTypeName(type), text.c_str());
    std::fflush(file_);
}

void DebugLog::packet(int device, bool transmitted, const uint8_t* data, size_t size, const std::string& label)
{
    if (!toFile_ || errorsOnly_)
        return;
    std::lock_guard<std::mutex> guard(m_);
    if (!open())
        return;
    ++packets_;
    int h, m, s, ms;
    timeOfDay(&h, &m, &s, &ms);
    std::fprintf(file_, "%s %02d:%02d:%02d.%03d %6d (%05d) %s\n", transmitted ? "Transmited:" : "Received:  ", h, m, s,
                 ms, device, packets_, label.c_str());
    const size_t shown = size < 1024 ? size : 1024;
    for (size_t row = 0; row < shown; row += 16) {
        std::string hex, text;
        for (size_t i = row; i < row + 16 && i < shown; ++i) {
            char b[4];
            std::snprintf(b, sizeof b, "%02x ", data[i]);
            hex += b;
            text.push_back(std::isprint(data[i]) ? static_cast<char>(data[i]) : '.');
        }
        std::fprintf(file_, "%-48s| %s\n", hex.c_str(), text.c_str());
    }
    if (size > shown)
        std::fprintf(file_, "  >>      Abreviated       <<\n");
    std::fprintf(file_, "%s| %s%s -> Bytes %s: %d\n", "", "", "", transmitted ? "transmited" : "received",
                 static_cast<int>(size));
    std::fflush(file_);
}

} // namespace usb
