#include "box_link.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/text_format.h"
#include "box_wire.h"

namespace usb {
namespace {

using plat::format;

// Raises the calling thread to the highest priority for one exchange and restores it; a refusal (no
// right to raise it) is ignored.
class TopPriority {
public:
    TopPriority() : tid_(static_cast<id_t>(gettid()))
    {
        errno = 0;
        old_ = getpriority(PRIO_PROCESS, tid_);
        raised_ = errno == 0 && old_ != -20 && setpriority(PRIO_PROCESS, tid_, -20) == 0;
    }
    ~TopPriority()
    {
        if (raised_)
            setpriority(PRIO_PROCESS, tid_, old_);
    }
    TopPriority(const TopPriority&) = delete;
    TopPriority& operator=(const TopPriority&) = delete;

private:
    id_t tid_;
    int old_ = 0;
    bool raised_ = false;
};

struct Nesting {
    std::atomic<int>& n;
    explicit Nesting(std::atomic<int>& counter) : n(counter) { ++n; }
    ~Nesting() { --n; }
};

char printable(uint8_t c)
{
    return c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
}

} // namespace

BoxLink::BoxLink(std::unique_ptr<FtLink> link, LinkLog* log, MessageSink sink)
    : link_(std::move(link)), log_(log), sink_(std::move(sink)), retries_(wire::kDefaultRetries),
      timeout_(wire::kDefaultTimeout), syncTimeout_(wire::kSyncTimeout), sent_(256, 0)
{
}

BoxLink::~BoxLink()
{
    close();
}

bool BoxLink::alive()
{
    std::lock_guard<std::recursive_mutex> lock(command_);
    uint32_t depth = 0;
    return link_ && link_->queueDepth(&depth) == FT_OK;
}

int BoxLink::close()
{
    std::lock_guard<std::recursive_mutex> lock(command_);
    if (!link_)
        return FT_OK;
    const int status = link_->close();
    link_.reset();
    return status;
}

int BoxLink::errorType() const
{
    std::lock_guard<std::mutex> guard(state_);
    return errorType_;
}

std::string BoxLink::errorText() const
{
    std::lock_guard<std::mutex> guard(state_);
    return errorText_;
}

void BoxLink::clearError()
{
    std::lock_guard<std::mutex> guard(state_);
    errorType_ = 0;
    errorText_.clear();
}

void BoxLink::report(int type, const std::string& text)
{
    if (type >= kGeneralError) {
        std::lock_guard<std::mutex> guard(state_);
        errorType_ = type;
        errorText_ = text;
    }
    if (log_)
        log_->message(type, text);
}

uint64_t BoxLink::transmissions(uint8_t code) const
{
    std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(command_));
    return sent_[code];
}

bool BoxLink::transmit(const uint8_t* data, size_t size)
{
    if (!link_) {
        report(kBadHandle, "Can't transmit - " + std::string(ftStatusText(FT_INVALID_HANDLE)));
        return false;
    }
    if (size > 0)
        ++sent_[data[0]];
    if (log_ && log_->dumpsPackets())
        log_->packet(true, data, size, size ? commandName(data[0]) : std::string());
    uint32_t written = 0;
    const int status = link_->write(data, static_cast<uint32_t>(size), &written);
    if (status != FT_OK || written != size) {
        report(kTransmissionFailed, "Can't transmit - " + std::string(ftStatusText(status ? status : FT_IO_ERROR)));
        return false;
    }
    return true;
}

// Drops what is parsed and dumped; the piece being parsed stays whole for its dump.
void BoxLink::compact()
{
    if (dumped_ > 0 && (dumped_ == in_.size() || dumped_ > 65536)) {
        in_.erase(in_.begin(), in_.begin() + static_cast<long>(dumped_));
        pos_ -= dumped_;
        dumped_ = 0;
    }
}

void BoxLink::dumpTaken(const char* label, size_t length)
{
    const size_t end = pos_ - dumped_ > length ? dumped_ + length : pos_;
    if (end > dumped_ && log_ && log_->dumpsPackets())
        log_->packet(false, in_.data() + dumped_, end - dumped_, label);
    dumped_ = end;
}

bool BoxLink::fill()
{
    if (!link_) {
        linkFailed_ = true;
        report(kBadHandle, "Can't receive - " + std::string(ftStatusText(FT_INVALID_HANDLE)));
        return false;
    }
    uint32_t depth = 0;
    if (const int status = link_->queueDepth(&depth); status != FT_OK) {
        linkFailed_ = true;
        report(kNotResponding, "Can't determine queue depth - " + std::string(ftStatusText(status)));
        return false;
    }
    if (depth == 0)
        return true;
    compact();
    const size_t old = in_.size();
    in_.resize(old + depth);
    uint32_t got = 0;
    const int status = link_->read(in_.data() + old, depth, &got);
    in_.resize(old + (status == FT_OK ? std::min<size_t>(got, depth) : 0));
    if (status != FT_OK) {
        linkFailed_ = true;
        report(kNotResponding, "Can't receive - " + std::string(ftStatusText(status)));
        return false;
    }
    return true;
}

bool BoxLink::need(size_t bytes, double deadline, bool quiet)
{
    for (int polls = 0; available() < bytes; ++polls) {
        const size_t before = available();
        if (!fill())
            return false;
        if (available() >= bytes)
            return true;
        if (plat::monotonicSeconds() >= deadline) {
            if (!quiet)
                report(kTimeoutError,
                       format("Received just %zu of %zu bytes (retries=%d).", available(), bytes, polls));
            return false;
        }
        if (available() == before)
            plat::sleepSeconds(wire::kEmptyPollSleep);
    }
    return true;
}

bool BoxLink::failParse(const char* what)
{
    dumpTaken(pending_);
    const bool ok = resynchronise();
    report(ok ? kBadResponse : kFatalError, format("%s. Resynchronization %s.", what, ok ? "OK" : "failed"));
    return false;
}

bool BoxLink::readStatus(double deadline, std::string* status)
{
    status->clear();
    for (;;) {
        if (!need(1, deadline))
            return failParse("Missing response terminator");
        const uint8_t c = take();
        if (c == wire::kTerminator)
            return true;
        if (status->size() >= wire::kMaxStatusText)
            return failParse("Missing response terminator");
        status->push_back(static_cast<char>(c));
    }
}

// The parameters of a reply by the command's reply kind, then its status; the code is already taken.
bool BoxLink::parseReply(uint8_t code, double deadline, Reply* reply)
{
    reply->code = code;
    reply->params.clear();
    const BoxCommand* command = findCommand(code);
    const char* name = command ? command->name : "";
    pending_ = name;
    const int kind = replyKindOf(code);
    size_t length = 0;
    if (kind > 0) {
        length = static_cast<size_t>(kind);
    } else if (kind == kReplyText) {
        if (!need(2, deadline))
            return failParse("Reception of string parameter failed");
        length = take();
        length |= size_t{take()} << 8;
        if (length > wire::kMaxTextParameter)
            return failParse("Reception of string parameter failed");
        dumpTaken(name);
        pending_ = "String message.";
    } else if (kind == kReplyMatrix) {
        if (!need(4, deadline))
            return failParse("Too short response");
        for (int i = 0; i < 4; ++i)
            length |= size_t{take()} << (8 * i);
        if (length > wire::maxMatrixStream())
            return failParse("Unknown response received");
    } else if (kind == kReplyScope) {
        if (!need(2, deadline))
            return failParse("Too short response");
        const size_t samples = ((size_t{in_[pos_]} << 8) | in_[pos_ + 1]) + 1;
        if (samples > wire::kMaxScopeSamples)
            return failParse("Unknown response received");
        length = 2 + 2 * samples;
    } else if (kind == kReplyChipboard) {
        length = 4;
    }
    if (!need(length, deadline))
        return failParse(kind > 0 ? "Missing response parameters" : "Too short response");
    reply->params.assign(in_.begin() + static_cast<long>(pos_), in_.begin() + static_cast<long>(pos_ + length));
    pos_ += length;
    if (kind == kReplyText) {
        dumpTaken(pending_);
        pending_ = name;
    }
    const size_t beforeStatus = pos_ - dumped_; // compact() keeps this distance
    if (!readStatus(deadline, &reply->status))
        return false;
    if (reply->status != wire::kStatusOk)
        dumpTaken(name, beforeStatus);
    dumpTaken(reply->status == wire::kStatusOk ? name : "Error message.");
    return true;
}

bool BoxLink::parseMessage(uint8_t marker, double deadline)
{
    static constexpr const char* kBegin = "Background message begining.";
    static constexpr const char* kEnd = "Background message end.";
    pending_ = kBegin;
    BoxMessage m;
    if (marker == wire::kTextMessage) {
        m.kind = BoxMessage::Text;
        dumpTaken(kBegin);
        pending_ = kEnd;
        for (;;) {
            if (!need(1, deadline))
                return failParse("Unexpected end of background message");
            const uint8_t c = take();
            if (c == wire::kTerminator)
                break;
            if (m.text.size() >= wire::kMaxMessageText)
                return failParse("Error receiving background message text");
            m.text.push_back(static_cast<char>(c));
        }
    } else {
        m.kind = marker == wire::kFrameMessage ? BoxMessage::Frame : BoxMessage::Scope;
        size_t length = 0;
        if (m.kind == BoxMessage::Frame) {
            if (!need(12, deadline))
                return failParse("Background message reception failed");
            m.frameId = static_cast<uint16_t>(take() | (take() << 8));
            uint8_t t[6];
            for (auto& b : t)
                b = take();
            m.ticks = codec::getTimer48(t);
            for (int i = 0; i < 4; ++i)
                length |= size_t{take()} << (8 * i);
            if (length > wire::maxMatrixStream())
                return failParse("Background message reception failed");
            dumpTaken(kBegin);
        } else {
            if (!need(2, deadline))
                return failParse("Background message reception failed");
            const size_t samples = ((size_t{in_[pos_]} << 8) | in_[pos_ + 1]) + 1;
            if (samples > wire::kMaxScopeSamples)
                return failParse("Background message reception failed");
            length = 2 + 2 * samples;
            dumpTaken(kBegin);
        }
        pending_ = kEnd;
        if (!need(length + 1, deadline))
            return failParse("Unexpected end of background message");
        m.data.assign(in_.begin() + static_cast<long>(pos_), in_.begin() + static_cast<long>(pos_ + length));
        pos_ += length;
        if (take() != wire::kTerminator)
            return failParse("Unexpected end of background message");
    }
    dumpTaken(kEnd);
    if (sink_)
        sink_(std::move(m));
    return true;
}

// One reply or message; Unit::None when nothing arrived before the deadline (or at once, when
// waitForFirst is false).
BoxLink::Unit BoxLink::receiveUnit(double deadline, Reply* reply, bool waitForFirst, uint8_t expected)
{
    linkFailed_ = false;
    if (!need(1, waitForFirst ? deadline : 0.0, true)) // silence between units is no short reception
        return linkFailed_ ? Unit::Failed : Unit::None;
    const uint8_t first = take();
    if (first == wire::kTextMessage || first == wire::kFrameMessage || first == wire::kScopeMessage)
        return parseMessage(first, deadline) ? Unit::Message : Unit::Failed;
    if (!findCommand(first)) {
        dumpTaken(commandName(first).c_str());
        failParse("Unknown response received");
        return Unit::Failed;
    }
    if (!parseReply(first, deadline, reply))
        return Unit::Failed;
    if (first != wire::kIntervalMeasure || expected == first)
        return Unit::Reply;
    // An interval the box measured and reports by itself.
    if (reply->status != wire::kStatusOk) {
        report(kDeviceError, format("Error \"%s\" reported by device performing command \"%s\"", reply->status.c_str(),
                                    commandName(first).c_str()));
        return Unit::Message;
    }
    BoxMessage m;
    m.kind = BoxMessage::Interval;
    m.ticks = codec::getTimer48(reply->params.data());
    if (sink_)
        sink_(std::move(m));
    return Unit::Message;
}

bool BoxLink::waitForReply(uint8_t code, double timeout, Reply* reply)
{
    const double deadline = plat::monotonicSeconds() + (timeout > 0 ? timeout : timeout_);
    for (;;) {
        const Unit unit = receiveUnit(deadline, reply, true, code);
        if (unit == Unit::Message)
            continue;
        if (unit == Unit::Failed)
            return false;
        if (unit == Unit::Reply) {
            if (reply->code == code)
                return true;
            const Reply got = *reply;
            const bool ok = resynchronise();
            report(ok ? kBadResponse : kFatalError,
                   format("Got response to different command: '%c' [0x%02x] = \"%s\", istead of '%c' [0x%02x] = "
                          "\"%s\". Resynchronization %s.",
                          printable(got.code), got.code, commandName(got.code).c_str(), printable(code), code,
                          commandName(code).c_str(), ok ? "OK" : "failed"));
            return false;
        }
        if (plat::monotonicSeconds() >= deadline) {
            const bool ok = resynchronise();
            report(ok ? kTimeoutError : kFatalError,
                   format("Timeout. Not received response to '%c' [0x%02x] = \"%s\". Resynchronization %s.",
                          printable(code), code, commandName(code).c_str(), ok ? "OK" : "failed"));
            return false;
        }
    }
}

bool BoxLink::resynchronise(double timeout, double interByteTimeout)
{
    std::lock_guard<std::recursive_mutex> lock(command_);
    Nesting nest(nesting_);
    ++resyncs_;
    const uint8_t sync = ' ';
    if (!transmit(&sync, 1)) {
        report(kTransmissionFailed, "Can't synchronize");
        return false;
    }
    const double total = timeout > 0 ? timeout : syncTimeout_;
    const double pause = interByteTimeout > 0 && interByteTimeout < 0.03 ? 0.0 : 0.010;
    const double deadline = plat::monotonicSeconds() + total;
    const char* label = findCommand(sync)->name;
    size_t matched = 0;
    for (;;) {
        while (available() > 0) {
            const uint8_t c = take();
            if (c == static_cast<uint8_t>(wire::kSyncString[matched])) {
                if (++matched == wire::kSyncLength) {
                    dumpTaken(label);
                    compact();
                    return true;
                }
            } else {
                // The byte that broke a partial match may itself begin the string.
                matched = c == static_cast<uint8_t>(wire::kSyncString[0]) ? 1 : 0;
            }
        }
        dumpTaken(label);
        compact();
        if (plat::monotonicSeconds() >= deadline)
            break;
        const size_t before = available();
        if (!fill())
            break;
        if (available() == before)
            plat::sleepSeconds(pause > 0 ? pause : wire::kEmptyPollSleep);
    }
    report(kFatalError, "Searched string not detected.");
    report(kFatalError, "Synchronization failed");
    return false;
}

bool BoxLink::execute(uint8_t code, const uint8_t* params, size_t size, Reply* reply, int retries, double timeout)
{
    std::lock_guard<std::recursive_mutex> lock(command_);
    TopPriority priority;
    Nesting nest(nesting_);
    Reply local;
    Reply& r = reply ? *reply : local;
    const int attempts = retries > 0 ? retries : retries_;
    const double wait = timeout >= 0 ? timeout : timeout_;
    const std::string name = commandName(code);
    if (size > wire::maxMatrixStream() || (size && !params)) {
        report(kBadParameter, format("Command \"%s\" failed.", name.c_str()));
        return false;
    }
    std::vector<uint8_t> packet{code};
    if (size)
        packet.insert(packet.end(), params, params + size);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!transmit(packet.data(), packet.size())) {
            report(errorType(), format("Command \"%s\" failed.", name.c_str()));
            continue;
        }
        if (!waitForReply(code, wait, &r))
            continue;
        if (r.status == wire::kStatusOk) {
            report(kMessage, format("Command \"%s\" performed OK.", name.c_str()));
            return true;
        }
        if (attempt == 0)
            report(kDeviceError, format("Error \"%s\" reported by device performing command \"%s\"", r.status.c_str(),
                                        name.c_str()));
        else
            report(kDeviceError, format("Retry %d of %d. Error \"%s\" reported by device performing command \"%s\"",
                                        attempt + 1, attempts, r.status.c_str(), name.c_str()));
        if (replyKindOf(code) == kReplyMatrix)
            return false;
    }
    return false;
}

bool BoxLink::drain()
{
    std::lock_guard<std::recursive_mutex> lock(command_);
    Nesting nest(nesting_);
    for (;;) {
        Reply stray;
        const Unit unit = receiveUnit(plat::monotonicSeconds() + timeout_, &stray, false, 0);
        if (unit == Unit::None)
            return true;
        if (unit == Unit::Failed)
            return false;
        if (unit == Unit::Reply) {
            const bool ok = resynchronise();
            report(ok ? kBadResponse : kFatalError,
                   format("Unexpected command response: [%c = 0x%02x .. \"%s\"]. Resynchronization %s.",
                          printable(stray.code), stray.code, commandName(stray.code).c_str(), ok ? "OK" : "failed"));
        }
    }
}

void BoxLink::purge()
{
    std::lock_guard<std::recursive_mutex> lock(command_);
    if (link_)
        link_->purge();
    in_.clear();
    pos_ = dumped_ = 0;
}

} // namespace usb
