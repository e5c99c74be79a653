// The command executor against the simulated box and against scripted byte streams: every way a reply
// can go wrong ends in a resynchronisation and the right error type, device errors are retried except on
// matrix reads, the sync hunt survives partial matches, box-given lengths are bounded, and the command
// lock is free again after every path.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "box_link.h"
#include "sim/sim_box.h"
#include "box_wire.h"
#include "script_link.h"
#include "wait_until.h"

namespace {

using namespace usb;
using sim::Fault;

struct RecordingLog final : LinkLog {
    std::mutex m;
    std::vector<std::pair<int, std::string>> lines;
    void message(int type, const std::string& text) override
    {
        std::lock_guard<std::mutex> g(m);
        lines.emplace_back(type, text);
    }
    void packet(bool, const uint8_t*, size_t, const std::string&) override {}
    bool has(const std::string& part)
    {
        std::lock_guard<std::mutex> g(m);
        for (const auto& l : lines)
            if (l.second.find(part) != std::string::npos)
                return true;
        return false;
    }
    std::string all()
    {
        std::lock_guard<std::mutex> g(m);
        std::string s;
        for (const auto& l : lines)
            s += std::to_string(l.first) + " " + l.second + "\n";
        return s;
    }
};

// Another thread can take the command lock: no path leaves it held.
bool lockIsFree(BoxLink& link)
{
    bool taken = false;
    std::thread t([&] {
        taken = link.commandLock().try_lock();
        if (taken)
            link.commandLock().unlock();
    });
    t.join();
    return taken;
}

struct BoxFixture {
    std::shared_ptr<sim::SimBox> box = std::make_shared<sim::SimBox>(sim::BoxConfig{});
    sim::SimBackend backend;
    RecordingLog log;
    std::vector<BoxMessage> messages;
    std::unique_ptr<BoxLink> link;

    explicit BoxFixture(std::unique_ptr<FtLink> (*wrap)(std::unique_ptr<FtLink>) = nullptr)
    {
        backend.setBoxes({box});
        std::vector<LinkInfo> found;
        backend.enumerate(&found);
        std::unique_ptr<FtLink> ft;
        EXPECT_EQ(backend.open(found.at(0), &ft), FT_OK);
        if (wrap)
            ft = wrap(std::move(ft));
        link = std::make_unique<BoxLink>(std::move(ft), &log, [this](BoxMessage&& m) { messages.push_back(m); });
        link->setTimeout(0.2);
    }
};

TEST(BoxCommands, LookupsAndNames)
{
    struct Case {
        uint8_t code;
        const char* name;
        int kind;
    };
    const Case cases[] = {
        {' ', "Synchronisation packet", 36}, // the first of the two rows with a space
        {'m', "Read matrix", -3},
        {'C', "Close shutter, interval measure stop, read matrix", -3},
        {'|', "Chipboard ID", -5},
        {'$', "Scope data", -4},
        {'=', "Periodic erase, waiting for trigger", 0},
        {0x00, "Unknown command [0x00]", -1000},
        {0x20 + 0x7F - 0x20, "Unknown command [\x7f]", -1000},
        {'^', "Unknown command [^]", -1000},
        {0xC4, "Unknown command [0xc4]", -1000},
        {0x1F, "Unknown command [0x1f]", -1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(commandName(c.code), c.name) << int(c.code);
        EXPECT_EQ(replyKindOf(c.code), c.kind) << int(c.code);
    }
    EXPECT_STREQ(errorTypeName(11), "Timeout error");
    EXPECT_STREQ(errorTypeName(13), "Unknown error type");
    EXPECT_STREQ(ftStatusText(4), "IO error");
    EXPECT_STREQ(ftStatusText(18), "Other Error");
    EXPECT_STREQ(ftStatusText(99), "Other Error");
}

TEST(BoxLinkFaults, EachFaultEndsInTheRightTypeAndFreesTheLock)
{
    struct Case {
        const char* what;
        Fault fault;
        int repeat;
        uint8_t code;
        bool ok;
        int type;             // error type after the call (0: none recorded)
        const char* logPart;  // a line that must be logged
        uint64_t transmissions;
    };
    const Case cases[] = {
        {"no fault", Fault::None, 1, 'e', true, 0, "Command \"Erase matrix\" performed OK.", 1},
        {"stale reply, retried", Fault::StaleReply, 1, 'e', true, 9, "Got response to different command", 2},
        {"stale reply on every try", Fault::StaleReply, 100, 'e', false, 9, "Resynchronization OK.", 3},
        {"garbage", Fault::Garbage, 1, 'e', true, 9, "Unknown response received. Resynchronization OK.", 2},
        {"flipped bits", Fault::FlipBits, 1, '#', true, 9, "Unknown response received. Resynchronization OK.", 2},
        {"stall", Fault::Stall, 1, 'e', true, 11, "Timeout. Not received response to 'e' [0x65] = \"Erase matrix\". "
                                                  "Resynchronization OK.", 2},
        {"partial sync string", Fault::PartialSync, 1, 'e', true, 11, "Resynchronization OK.", 2},
        {"short read of a matrix", Fault::ShortRead, 1, 'm', true, 9, "Too short response. Resynchronization OK.", 2},
        {"device error once on erase", Fault::DeviceError, 1, 'e', true, 7,
         "Error \"Device error\" reported by device performing command \"Erase matrix\"", 2},
        {"device error on erase: every retry", Fault::DeviceError, 100, 'e', false, 7,
         "Retry 3 of 3. Error \"Device error\" reported by device performing command \"Erase matrix\"", 3},
        {"device error on a matrix read: one transmission", Fault::DeviceError, 100, 'm', false, 7,
         "Error \"Device error\" reported by device performing command \"Read matrix\"", 1},
        {"unplugged", Fault::Unplug, 1, 'e', false, 4, "Can't transmit - IO error", 3},
    };
    for (const Case& c : cases) {
        BoxFixture f;
        if (c.fault == Fault::Unplug)
            f.box->unplug();
        else if (c.fault != Fault::None)
            f.box->injectFault(c.fault, 0, c.repeat);
        Reply reply;
        EXPECT_EQ(f.link->execute(c.code, nullptr, 0, &reply, 3), c.ok) << c.what << "\n" << f.log.all();
        if (c.ok) {
            EXPECT_EQ(reply.code, c.code) << c.what;
            EXPECT_EQ(reply.status, "OK") << c.what;
        }
        EXPECT_EQ(f.link->errorType(), c.type) << c.what << "\n" << f.log.all();
        EXPECT_TRUE(f.log.has(c.logPart)) << c.what << " lacks: " << c.logPart << "\n" << f.log.all();
        EXPECT_EQ(f.link->transmissions(c.code), c.transmissions) << c.what;
        EXPECT_TRUE(lockIsFree(*f.link)) << c.what;
        EXPECT_FALSE(f.log.has("Synchronization failed")) << c.what;
    }
}

// A link that loses everything the box sends: nothing comes back, the sync string neither.
class DeafLink final : public FtLink {
public:
    explicit DeafLink(std::unique_ptr<FtLink> inner) : inner_(std::move(inner)) {}
    int queueDepth(uint32_t* bytes) override
    {
        *bytes = 0;
        return FT_OK;
    }
    int read(uint8_t*, uint32_t, uint32_t* got) override
    {
        *got = 0;
        return FT_OK;
    }
    int write(const uint8_t* d, uint32_t n, uint32_t* w) override { return inner_->write(d, n, w); }
    int purge() override { return FT_OK; }
    int close() override { return inner_->close(); }

private:
    std::unique_ptr<FtLink> inner_;
};

TEST(BoxLinkFaults, TimeoutWithAFailedResyncIsFatal)
{
    BoxFixture f([](std::unique_ptr<FtLink> inner) -> std::unique_ptr<FtLink> {
        return std::make_unique<DeafLink>(std::move(inner));
    });
    EXPECT_FALSE(f.link->execute('e', nullptr, 0, nullptr, 1));
    EXPECT_EQ(f.link->errorType(), kFatalError);
    EXPECT_TRUE(f.log.has("Timeout. Not received response to 'e' [0x65] = \"Erase matrix\". Resynchronization failed."))
        << f.log.all();
    EXPECT_TRUE(f.log.has("Searched string not detected."));
    EXPECT_TRUE(lockIsFree(*f.link));
}

const std::string kSync = wire::kSyncString;

TEST(BoxLinkResync, HuntFindsTheSyncStringBehindAnyPrefix)
{
    struct Case {
        const char* what;
        std::string stream;
        bool found;
    };
    const Case cases[] = {
        {"alone", kSync, true},
        {"behind garbage", std::string("\xF0\x01zz\r", 5) + kSync, true},
        {"behind a partial string", "1234" + kSync, true},
        {"behind a partial string ending in its first character", "12341" + kSync.substr(1), true},
        {"behind two partial strings", "1231234567" + kSync, true},
        {"cut short", kSync.substr(0, 38), false},
        {"one wrong character", kSync.substr(0, 20) + "X" + kSync.substr(21), false},
    };
    for (const Case& c : cases) {
        RecordingLog log;
        BoxLink link(std::make_unique<ScriptLink>(c.stream), &log, nullptr);
        EXPECT_EQ(link.resynchronise(0.05), c.found) << c.what;
        if (!c.found) {
            EXPECT_TRUE(log.has("Synchronization failed")) << c.what;
        }
    }
}

TEST(BoxLinkReplies, BoxGivenLengthsAreBoundedAndBrokenRepliesRefused)
{
    auto le16 = [](unsigned v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
    struct Case {
        const char* what;
        uint8_t code;
        std::string stream;
        bool ok;
        const char* logPart;
    };
    const Case cases[] = {
        {"text reply", 'i', "i" + le16(5) + "ab:cdOK\r", true, "performed OK"},
        {"text longer than allowed", 'i', "i" + le16(0xFFFF) + "abc", false, "Reception of string parameter failed"},
        {"matrix longer than any box sends", 'm', std::string("m\xFF\xFF\xFF\x7F", 5), false,
         "Unknown response received"},
        {"scope with too many samples", '$', std::string("$\x7F\xFF", 3), false, "Unknown response received"},
        {"status without terminator", 'e', "e" + std::string(100, 'x'), false, "Missing response terminator"},
        {"parameters cut short", 'M', "M" + std::string(10, '\0'), false, "Missing response parameters"},
        {"parameters cut short, the count logged", 'M', "M" + std::string(10, '\0'), false,
         "Received just 10 of 26 bytes"},
        {"no command", 'e', "\xF5OK\r", false, "Unknown response received"},
    };
    for (const Case& c : cases) {
        RecordingLog log;
        BoxLink link(std::make_unique<ScriptLink>(c.stream), &log, nullptr);
        link.setTimeout(0.05);
        link.setSyncTimeout(0.05);
        Reply r;
        EXPECT_EQ(link.execute(c.code, nullptr, 0, &r, 1), c.ok) << c.what << "\n" << log.all();
        EXPECT_TRUE(log.has(c.logPart)) << c.what << "\n" << log.all();
        EXPECT_TRUE(lockIsFree(link)) << c.what;
    }
}

// The packet dump of what the box sends: each piece as it is parsed, under its label, every byte once
// and in order, so that the received blocks put together are the stream the link took.
struct DumpLog final : LinkLog {
    struct Block {
        std::string label, bytes;
        bool operator==(const Block& o) const { return label == o.label && bytes == o.bytes; }
    };
    std::vector<Block> received;
    void message(int, const std::string&) override {}
    void packet(bool transmitted, const uint8_t* data, size_t size, const std::string& label) override
    {
        if (!transmitted)
            received.push_back({label, std::string(reinterpret_cast<const char*>(data), size)});
    }
    std::string all() const
    {
        std::string s;
        for (const Block& b : received) {
            s += b.label + ":";
            for (unsigned char c : b.bytes)
                s += " " + std::to_string(c);
            s += "\n";
        }
        return s;
    }
};

TEST(BoxLinkDump, ReceivedPiecesCarryTheirLabels)
{
    auto le16 = [](unsigned v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
    const std::string interval = std::string("%\x40\x4b\x4c\x00\x00\x00", 7) + "OK\r"; // 5000000 ticks
    const std::string frameHead = std::string("\x03\x34\x12", 3) + std::string(6, '\x01') + std::string("\x03\0\0\0", 4);
    struct Case {
        const char* what;
        uint8_t code;
        std::string stream;
        bool ok;
        std::vector<DumpLog::Block> blocks;
    };
    const Case cases[] = {
        {"reply with parameters", '#', "#\x01OK\r", true, {{"Get mumber of tarvik chips", "#\x01OK\r"}}},
        {"text reply: its text apart", 'i', "i" + le16(5) + "ab:cdOK\r", true,
         {{"Version info", "i" + le16(5)}, {"String message.", "ab:cd"}, {"Version info", "OK\r"}}},
        {"error status apart", 'e', "eNo power\r", false, {{"Erase matrix", "e"}, {"Error message.", "No power\r"}}},
        {"error status of a reply with parameters", '#', "#\x01No chips\r", false,
         {{"Get mumber of tarvik chips", "#\x01"}, {"Error message.", "No chips\r"}}},
        {"text message before the reply", 'e', "\x02Trigger detected\reOK\r", true,
         {{"Background message begining.", "\x02"}, {"Background message end.", "Trigger detected\r"},
          {"Erase matrix", "eOK\r"}}},
        {"frame message before the reply", 'e', frameHead + "abc\r" + "eOK\r", true,
         {{"Background message begining.", frameHead}, {"Background message end.", "abc\r"},
          {"Erase matrix", "eOK\r"}}},
        {"unasked interval measure before the reply", 'e', interval + "eOK\r", true,
         {{"Interval measure", interval}, {"Erase matrix", "eOK\r"}}},
        {"unknown code, then the sync hunt", 'e', "\xF5OK\r" + kSync, false,
         {{"Unknown command [0xf5]", "\xF5"}, {"Synchronisation packet", "OK\r" + kSync}}},
        {"parameters cut short: what came is hunted through", 'M', "M" + std::string(3, '\0'), false,
         {{"ADC monitor", "M"}, {"Synchronisation packet", std::string(3, '\0')}}},
        {"status without terminator, then the sync hunt", 'e', "e" + std::string(100, 'x') + kSync, false,
         {{"Erase matrix", "e" + std::string(65, 'x')}, {"Synchronisation packet", std::string(35, 'x') + kSync}}},
    };
    for (const Case& c : cases) {
        DumpLog log;
        BoxLink link(std::make_unique<ScriptLink>(c.stream), &log, nullptr);
        link.setTimeout(0.05);
        link.setSyncTimeout(0.05);
        EXPECT_EQ(link.execute(c.code, nullptr, 0, nullptr, 1), c.ok) << c.what;
        EXPECT_EQ(log.received, c.blocks) << c.what << "\n" << log.all();
    }
}

// The box reports a measured interval by itself: the reply of "Interval measure" nobody waits for is a
// message with its timer ticks, neither a stray reply (no resynchronisation) nor the awaited one; a
// reply to "Interval measure" itself stays a reply.
TEST(BoxLinkMessages, UnaskedIntervalMeasureIsAMessage)
{
    const std::string interval = std::string("%\x40\x4b\x4c\x00\x00\x00", 7) + "OK\r";
    const std::string failed = std::string("%\0\0\0\0\0\0", 7) + "Busy\r";
    struct Case {
        const char* what;
        uint8_t code;          // 0: only the box's own messages are taken
        std::string stream;
        std::vector<uint64_t> ticks; // interval messages handed on
        const char* logPart;   // "" for no line expected
    };
    const Case cases[] = {
        {"between commands", 0, interval, {5000000}, ""},
        {"while another reply is awaited", 'e', interval + "eOK\r", {5000000}, ""},
        {"two in a row", 'e', interval + interval + "eOK\r", {5000000, 5000000}, ""},
        {"with an error status", 'e', failed + "eOK\r", {},
         "Error \"Busy\" reported by device performing command \"Interval measure\""},
        {"as the awaited reply", '%', interval, {}, ""},
    };
    for (const Case& c : cases) {
        RecordingLog log;
        std::vector<uint64_t> ticks;
        BoxLink link(std::make_unique<ScriptLink>(c.stream), &log, [&](BoxMessage&& m) {
            if (m.kind == BoxMessage::Interval)
                ticks.push_back(m.ticks);
        });
        link.setTimeout(0.05);
        link.setSyncTimeout(0.05);
        Reply reply;
        const bool ok = c.code ? link.execute(c.code, nullptr, 0, &reply, 1) : link.drain();
        EXPECT_TRUE(ok) << c.what << "\n" << log.all();
        EXPECT_EQ(ticks, c.ticks) << c.what;
        EXPECT_EQ(link.resyncs(), 0u) << c.what << "\n" << log.all();
        if (c.code == '%') {
            EXPECT_EQ(reply.params, std::vector<uint8_t>(interval.begin() + 1, interval.begin() + 7)) << c.what;
        }
        if (*c.logPart) {
            EXPECT_TRUE(log.has(c.logPart)) << c.what << "\n" << log.all();
        }
    }
}

// Messages the box sends between replies reach the sink, in order, while commands go on.
TEST(BoxLinkMessages, TriggerAndFrameArriveBetweenReplies)
{
    BoxFixture f;
    const uint8_t trigger = 6;
    const auto timer = wire::timerRequest(1, codec::timerTicks(0.005, 0));
    ASSERT_TRUE(f.link->execute('Q', &trigger, 1));
    ASSERT_TRUE(f.link->execute('Z', timer.data(), timer.size()));
    ASSERT_TRUE(f.link->execute('l', nullptr, 0));
    bool drained = true;
    ombrel_test::waitUntil([&] { return !(drained = f.link->drain()) || f.messages.size() >= 2; });
    ASSERT_TRUE(drained);
    ASSERT_EQ(f.messages.size(), 2u) << f.log.all();
    EXPECT_EQ(f.messages[0].kind, BoxMessage::Text);
    EXPECT_EQ(f.messages[0].text, "Trigger detected");
    EXPECT_EQ(f.messages[1].kind, BoxMessage::Frame);
    EXPECT_EQ(f.messages[1].data.size(), codec::streamSize(1, codec::CounterWidth::Bits13, codec::Layout::FromReadout));
    EXPECT_TRUE(f.link->execute('e', nullptr, 0));
}

} // namespace
