// The probe station's command line, as this plug-in speaks it over a serial port.
//
// Wire protocol (what the station's manual leaves to us, kept in this one place):
// - A command is its ASCII text ended by '\r' ("prbup\r", "prbcr(3,1)\r"), sent as it is.
// - Every command is answered by one reply: any bytes ended by '@'. A reply that starts with the error
//   mark 'E' followed only by a decimal number ("E7@") reports the station's error n; any other reply
//   that starts with 'E' ("E@", "E 7@", "E7 @", "E-5@") is a malformed error reply and an error all the
//   same. Every other reply is success (the text before '@', such as the position after "prbpos", is not
//   used). Blanks and control bytes before the 'E' are line noise and do not count.
// - Bytes that arrive before a command is sent belong to no reply and are dropped. A reply longer than
//   4096 bytes is a port fault (-3); a command that cannot be sent within the time-out too.
// The code of an await names the kind of command (1 move XY, 2 move down, 3 move up, 4 get position,
// 5 overdrive or touch-down mode); every kind's reply has the same form, so the code changes nothing.
//
// Results of an await: 0 done, 1 aborted (the abort flag was set), -2 no complete reply within the
// time-out, -3 the port failed or hung up, n > 1 the station's error n; an error reply "E0@" or "E1@",
// one whose number does not fit a result, or a malformed error reply gives -4, so that it cannot be taken
// for success or abort. After an error reply, error() holds the reply's text.
//
// Every byte sent and received goes to the trace file, a line per direction and piece:
// "> <bytes>" and "< <bytes>" ('\r' written as "\r", other control bytes as "\xNN").
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/serial_port.h"

namespace probing {

enum StationAwait : int { kAwaitMoveXY = 1, kAwaitDown = 2, kAwaitUp = 3, kAwaitPos = 4, kAwaitMode = 5 };

constexpr int kStationDone = 0;
constexpr int kStationAborted = 1;
constexpr int kStationTimeout = -2;
constexpr int kStationPortError = -3;
constexpr int kStationBadError = -4;

class StationLink {
public:
    StationLink() = default;
    ~StationLink();
    StationLink(const StationLink&) = delete;
    StationLink& operator=(const StationLink&) = delete;

    // Opens the port and a new trace file (empty path: no trace). false: error() says why.
    bool open(const std::string& port, int baud, int timeoutMs, const std::string& tracePath);
    void close();
    bool isOpen() const { return port_.isOpen(); }

    // Sends command (without its '\r') and awaits the reply; the await's result.
    int command(const std::string& command, int awaitCode, const std::atomic<bool>& abort);
    // The two halves. send: 0 or -3.
    int send(const std::string& command);
    int await(int awaitCode, const std::atomic<bool>& abort);

    const std::string& error() const { return error_; }

private:
    void trace(char direction, const char* bytes, size_t size);

    plat::SerialPort port_;
    FILE* trace_ = nullptr;
    int timeoutMs_ = 30000;
    std::string error_;
};

// The result of a complete reply (ending with '@'). For an error reply, errorText (may be null) receives
// a message that quotes the reply (control bytes written as in the trace).
int parseStationReply(const std::string& reply, std::string* errorText = nullptr);

} // namespace probing
