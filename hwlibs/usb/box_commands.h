// The readout box's command table and the error types under which every failure of the library is filed.
#pragma once

#include <cstdint>
#include <string>

namespace usb {

enum ErrorType {
    kNoError = 0,
    kMessage = 1, // a log line that is no error
    kGeneralError = 2,
    kBadHandle = 3,
    kTransmissionFailed = 4,
    kNotResponding = 5,
    kBadParameter = 6,
    kDeviceError = 7,
    kDeviceReset = 8,
    kBadResponse = 9,
    kFatalError = 10,
    kTimeoutError = 11,
    kUnsupported = 12
};
const char* errorTypeName(int type); // "Unknown error type" outside 0-12

// Reply kinds besides a positive parameter byte count.
enum ReplyKind { kReplyText = -1, kReplyMatrix = -3, kReplyScope = -4, kReplyChipboard = -5, kNoSuchCommand = -1000 };
// Request length -2: a matrix stream.
constexpr int32_t kRequestMatrix = -2;

struct BoxCommand {
    uint32_t code;
    int32_t replyKind;
    int32_t requestLength;
    const char* name;
};

// The table in box order, ended by an all-zero row; where a code stands twice the first row wins.
extern const BoxCommand kBoxCommands[];
const BoxCommand* findCommand(uint8_t code);  // null for a code of no row
std::string commandName(uint8_t code);        // "Unknown command [..]" for a code of no row
int replyKindOf(uint8_t code);                // kNoSuchCommand for a code of no row

} // namespace usb
