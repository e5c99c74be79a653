// The library's debug log "__debug_USBhwlib.log": one per process, switched by the items "LogToFile"
// and "LogErrs". The file is created (mode "w", an old log replaced) with its three header lines when
// "LogToFile" is first switched on, before any line is due; while logging stays off nothing is created. A
// file that cannot be created is tolerated (nothing is logged). Its one mutex guards the file.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "box_link.h"

namespace usb {

class DebugLog {
public:
    static constexpr const char* kFileName = "__debug_USBhwlib.log";

    ~DebugLog();
    void setLogToFile(bool on);
    void setLogErrorsOnly(bool on) { errorsOnly_ = on; }
    bool logToFile() const { return toFile_; }
    bool logErrorsOnly() const { return errorsOnly_; }
    bool dumpsPackets() const { return toFile_ && !errorsOnly_; }

    // device: the device id, or -1 for a message of no device (written "???").
    void message(int device, int type, const std::string& text);
    void packet(int device, bool transmitted, const uint8_t* data, size_t size, const std::string& label);

private:
    bool open(); // with m_ held
    std::mutex m_; // guards file_, opened_ and packets_
    FILE* file_ = nullptr;
    bool opened_ = false;
    int packets_ = 0;
    std::atomic<bool> toFile_{false};
    std::atomic<bool> errorsOnly_{true};
};

DebugLog& debugLog();

// The link log of one device: its lines go to the debug log under the device's id.
class DeviceLog final : public LinkLog {
public:
    explicit DeviceLog(int device) : device_(device) {}
    void message(int type, const std::string& text) override { debugLog().message(device_, type, text); }
    void packet(bool transmitted, const uint8_t* data, size_t size, const std::string& label) override
    {
        debugLog().packet(device_, transmitted, data, size, label);
    }
    bool dumpsPackets() const override { return debugLog().dumpsPackets(); }

private:
    int device_;
};

} // namespace usb
