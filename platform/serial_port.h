// Serial lines: a port opened raw (8 data bits, no parity, one stop bit, no flow control, no echo, no
// translation of '\r' or '\n'), and a pseudo-terminal pair that lets a simulated device sit behind a port.
// A port belongs to one thread at a time; its calls never wait longer than the time-out they are given.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// "COMn" (n >= 1, case-insensitive) names the device /dev/ttyS(n-1); any other text is a device path.
// Empty for an empty name or "COM0".
std::string serialDevicePath(const std::string& port);

constexpr int kWriteTimeoutMs = 5000; // a write's time-out when none is given

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port at baud (one of the standard rates 300 .. 230400) in raw 8N1 without flow control;
    // bytes waiting from before are discarded. false: error() holds the reason.
    bool open(const std::string& port, int baud);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Writes every byte and waits until they have left, at most timeoutMs in all. false on a failure or
    // when the time-out passed first (the other end takes no bytes), error() set.
    bool write(const void* data, size_t size, int timeoutMs = kWriteTimeoutMs);
    // Waits at most timeoutMs for bytes and reads what is there, at most size. The count read (> 0);
    // 0 when none arrived in time; -1 on a failure or when the other end hung up (error() set).
    long read(void* data, size_t size, int timeoutMs);

    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& what);

    int fd_ = -1;
    std::string error_;
};

// A pseudo-terminal for simulated devices: the port side (slavePath, opened with SerialPort) and the
// device side (masterFd), both raw. Closing the device side is a hang-up for the port.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool open(); // false: error() holds the reason
    void closeMaster();
    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    const std::string& error() const { return error_; }

    // The device side's I/O, with the semantics of SerialPort's.
    bool write(const void* data, size_t size, int timeoutMs = kWriteTimeoutMs);
    long read(void* data, size_t size, int timeoutMs);

private:
    int master_ = -1;
    int slave_ = -1; // kept open so that the line stays up while the port side reopens
    std::string slavePath_;
    std::string error_;
};

} // namespace plat
