// The command executor of one readout box: transmits a command with its parameters, waits for the reply
// to that very command (handing the box's own messages to the device on the way), retries, and finds the
// byte stream's sync string again after anything unexpected.
//
// Locks: commandLock() is held for one whole exchange (execute, resynchronise, drain); it serialises the
// callers of the API and the device's monitor thread. state_ guards the error type and text, which the
// monitor may write while an API thread copies them. The message sink is called with the command lock
// held: it only records, it never calls back into the library.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "box_commands.h"
#include "link/ft_link.h"

namespace usb {

struct Reply {
    uint8_t code = 0;
    std::vector<uint8_t> params; // parameter bytes (a text without its length, a matrix stream, ...)
    std::string status;          // "OK" or the box's error text
};

// What the box sends by itself.
struct BoxMessage {
    enum Kind { Text, Frame, Scope, Interval } kind = Text;
    std::string text;
    uint16_t frameId = 0;
    uint64_t ticks = 0;        // Frame: its exposure time; Interval: the measured interval (timer ticks)
    std::vector<uint8_t> data; // Frame: matrix stream; Scope: the -4 block
};

// Where log lines and packet dumps go (the debug log of the library).
class LinkLog {
public:
    virtual ~LinkLog() = default;
    virtual void message(int type, const std::string& text) = 0;
    // A transmitted block is labelled with its command's name. Received bytes are dumped as they are
    // parsed, a block per piece: a reply with its command's name (an error status apart, as "Error
    // message."), the text of a text reply as "String message.", the box's own messages in two blocks,
    // "Background message begining." (marker and header) and "Background message end.", and what a
    // resynchronisation hunts through with the sync command's name.
    virtual void packet(bool transmitted, const uint8_t* data, size_t size, const std::string& label) = 0;
    // False while packets are not dumped: the link then builds no label.
    virtual bool dumpsPackets() const { return true; }
};

class BoxLink {
public:
    using MessageSink = std::function<void(BoxMessage&&)>;

    BoxLink(std::unique_ptr<FtLink> link, LinkLog* log, MessageSink sink);
    ~BoxLink();

    // Runs one command; true when the box acknowledged it without error. retries 0 takes retries(), a
    // negative timeout timeout(). reply (may be null) receives the reply.
    bool execute(uint8_t code, const uint8_t* params, size_t size, Reply* reply = nullptr, int retries = 0,
                 double timeout = -1);
    // Waits for the reply to code; false after a reply to another command or a time-out (both resync).
    bool waitForReply(uint8_t code, double timeout, Reply* reply);
    // Sends the sync command and hunts for the sync string (what came before it is dropped, the box's own
    // messages included).
    bool resynchronise(double timeout = -1, double interByteTimeout = -1);
    // Resynchronisations so far: one since a point in time means a message may have been dropped.
    uint64_t resyncs() const { return resyncs_.load(); }
    // Handles what the link holds now (the box's own messages); false when the link failed.
    bool drain();
    // Empties both directions of the link and the bytes already taken.
    void purge();
    // Whether the link still answers (it is asked for its queue depth); logs nothing.
    bool alive();
    int close();

    std::recursive_mutex& commandLock() { return command_; }
    bool commandRunning() const { return nesting_.load() > 0; }

    int retries() const { return retries_; }
    double timeout() const { return timeout_; }
    void setRetries(int retries) { retries_ = retries; }
    void setTimeout(double seconds) { timeout_ = seconds; }
    // The time a resynchronisation hunts when its caller gives none (wire::kSyncTimeout).
    void setSyncTimeout(double seconds) { syncTimeout_ = seconds; }

    // The last failure: its type (0 none) and text.
    int errorType() const;
    std::string errorText() const;
    void clearError();
    // Logs text at type; a type of 2 or above is also recorded as the last failure.
    void report(int type, const std::string& text);

    uint64_t transmissions(uint8_t code) const; // transmissions of a code so far (for tests)

private:
    enum class Unit { None, Reply, Message, Failed };
    bool transmit(const uint8_t* data, size_t size);
    bool fill();                                         // reads what the link holds; false on a failure
    // Waits until bytes are buffered; a count still short at the deadline is logged unless quiet.
    bool need(size_t bytes, double deadline, bool quiet = false);
    // expected: the code whose reply is awaited (0 for none).
    Unit receiveUnit(double deadline, Reply* reply, bool waitForFirst, uint8_t expected);
    bool parseReply(uint8_t code, double deadline, Reply* reply);
    bool parseMessage(uint8_t marker, double deadline);
    bool readStatus(double deadline, std::string* status);
    bool failParse(const char* what);                    // logs, resynchronises, false
    size_t available() const { return in_.size() - pos_; }
    uint8_t take() { return in_[pos_++]; }
    void compact();
    // Dumps the bytes taken since the last dump, up to dumped_ + length (all of them by default).
    void dumpTaken(const char* label, size_t length = SIZE_MAX);

    std::unique_ptr<FtLink> link_;
    LinkLog* log_;
    MessageSink sink_;
    // One exchange at a time; taken by the API and by the monitor. Recursive: the monitor and checkBusy hold it
    // (commandLock) around alive() and drain(), which take it again, and an exchange resynchronises inside it.
    std::recursive_mutex command_;
    std::atomic<int> nesting_{0};
    std::atomic<uint64_t> resyncs_{0};
    int retries_;
    double timeout_;
    double syncTimeout_;
    std::vector<uint8_t> in_;      // bytes read from the link, guarded by command_
    size_t pos_ = 0;               // in_[pos_] is the next byte to parse
    size_t dumped_ = 0;            // in_[dumped_, pos_) is taken but not yet dumped; kept by compact()
    const char* pending_ = "";     // the label of the piece being parsed, for a dump on a failure
    bool linkFailed_ = false;      // the last fill() failed; guarded by command_
    std::vector<uint64_t> sent_;   // transmissions per code, guarded by command_
    mutable std::mutex state_;     // guards errorType_ and errorText_; nothing is called while held
    int errorType_ = 0;
    std::string errorText_;
};

} // namespace usb
