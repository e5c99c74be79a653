// The station's command line over a pseudo-terminal station: replies read to '@' (also when split), the
// error replies (also behind line noise), a silent station (time-out), a hang-up, an abort while waiting,
// and the trace of every byte both ways.
#include <gtest/gtest.h>

#include <thread>

#include "ombrel_test_support.h"
#include "station_link.h"
#include "station_sim.h"

using namespace probing;
using probetest::StationSim;

// The line's time-out where the station answers: it answers at once, so only a hang waits this long.
constexpr int kReplyLimitMs = 60000;

TEST(StationReplies, ParsedResults)
{
    struct Case {
        std::string reply;
        int result;
    } cases[] = {{"OK@", 0}, {"@", 0},     {"X1 Y1@", 0}, {"E7@", 7},   {"E12@", 12},
                 {"E0@", kStationBadError}, {"E1@", kStationBadError},
                 // a reply that starts with the error mark but is no well-formed "E<n>@" is an error too
                 {"E@", kStationBadError}, {"Ex@", kStationBadError}, {"E2x@", kStationBadError},
                 {"E7 @", kStationBadError}, {"E7\r\n@", kStationBadError}, {"E 7@", kStationBadError},
                 {"E-5@", kStationBadError}, {"E+7@", kStationBadError}, {"E7E@", kStationBadError},
                 {"\r\nE 7@", kStationBadError}, {"ERROR@", kStationBadError},
                 // line noise before an error reply does not make it success
                 {"\r\nE7@", 7}, {" E7@", 7}, {std::string("\0E7@", 4), 7}, {"\r\n@", 0}, {"xE7@", 0},
                 // an error number beyond a result is an error all the same
                 {"E999999999@", 999999999}, {"E9999999999@", kStationBadError},
                 {"E99999999999999999999999@", kStationBadError}, {"E0000000000007@", 7},
                 {"E0000000000000@", kStationBadError}};
    for (const Case& c : cases)
        EXPECT_EQ(parseStationReply(c.reply), c.result) << testing::PrintToString(c.reply);
}

TEST(StationReplies, ErrorRepliesCarryTheirText)
{
    struct Case {
        std::string reply;
        std::string text;
    } cases[] = {
        {"E7@", "The probe station reported error 7 (\"E7@\")."},
        {"\r\nE12@", "The probe station reported error 12 (\"E12@\")."},
        {"E-5@", "The probe station answered with a malformed or unknown error \"E-5@\"."},
        {"E7\r\n@", "The probe station answered with a malformed or unknown error \"E7\\r\\x0A@\"."},
        {"E@", "The probe station answered with a malformed or unknown error \"E@\"."},
        {"E1@", "The probe station answered with a malformed or unknown error \"E1@\"."},
    };
    for (const Case& c : cases) {
        std::string text;
        EXPECT_NE(parseStationReply(c.reply, &text), kStationDone) << testing::PrintToString(c.reply);
        EXPECT_EQ(text, c.text) << testing::PrintToString(c.reply);
    }
    std::string untouched = "kept";
    EXPECT_EQ(parseStationReply("X1 Y1@", &untouched), kStationDone);
    EXPECT_EQ(untouched, "kept") << "a success sets no error text";
}

// Malformed error replies as the station sends them: the wait reports an error with the reply's text,
// and the next command on the line works.
TEST(StationLink, MalformedErrorRepliesStopTheCommand)
{
    for (const std::string reply : {"E7 @", "E7\r\n@", "E 7@", "E-5@", "E@"}) {
        StationSim sim;
        sim.failAt("prbcr(2,3)", 1, StationSim::Fault::Silence); // the hook's reply is the only one
        sim.setHook([&](const std::string& command) {
            if (command == "prbcr(2,3)")
                sim.sendRaw(reply);
        });
        StationLink link;
        ASSERT_TRUE(link.open(sim.port(), 9600, kReplyLimitMs, "")) << link.error();
        const std::atomic<bool> abort{false};
        EXPECT_EQ(link.command("prbcr(2,3)", kAwaitMoveXY, abort), kStationBadError) << testing::PrintToString(reply);
        EXPECT_NE(link.error().find("malformed or unknown error"), std::string::npos) << link.error();
        EXPECT_EQ(link.command("prbdn", kAwaitDown, abort), kStationDone) << testing::PrintToString(reply);
        sim.setHook(nullptr);
    }
}

TEST(StationLink, AwaitResultsAgainstTheSimulatedStation)
{
    struct Case {
        const char* name;
        StationSim::Fault fault;
        int code;
        int expected;
    } cases[] = {
        {"reply", StationSim::Fault::None, 0, kStationDone},
        {"split reply", StationSim::Fault::Split, 0, kStationDone},
        {"error reply", StationSim::Fault::Error, 7, 7},
        {"error 1 is no abort", StationSim::Fault::Error, 1, kStationBadError},
        {"silence", StationSim::Fault::Silence, 0, kStationTimeout},
        {"hang-up", StationSim::Fault::HangUp, 0, kStationPortError},
    };
    for (const Case& c : cases) {
        StationSim sim;
        sim.failAt("prbdn", 1, c.fault, c.code);
        StationLink link;
        // A short time-out where the station stays silent, and no time-out a slow machine could reach elsewhere.
        const int timeoutMs = c.fault == StationSim::Fault::Silence ? 300 : kReplyLimitMs;
        ASSERT_TRUE(link.open(sim.port(), 9600, timeoutMs, "")) << link.error();
        const std::atomic<bool> abort{false};
        EXPECT_EQ(link.command("prbdn", kAwaitDown, abort), c.expected) << c.name;
        if (c.fault == StationSim::Fault::Split || c.fault == StationSim::Fault::Error) { // the line still works
            EXPECT_EQ(link.command("prbup", kAwaitUp, abort), kStationDone) << c.name;
        }
    }
}

TEST(StationLink, AbortEndsTheWait)
{
    StationSim sim;
    sim.failAt("prbcr(1,1)", 1, StationSim::Fault::Silence);
    StationLink link;
    ASSERT_TRUE(link.open(sim.port(), 9600, 30000, ""));
    std::atomic<bool> abort{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        abort = true;
    });
    EXPECT_EQ(link.command("prbcr(1,1)", kAwaitMoveXY, abort), kStationAborted);
    stopper.join();
    EXPECT_EQ(link.command("prbup", kAwaitUp, abort), kStationAborted) << "an abort sends nothing more";
    EXPECT_EQ(sim.commands(), std::vector<std::string>{"prbcr(1,1)"});
}

TEST(StationLink, TraceHoldsEveryByteAndStaleBytesAnswerNothing)
{
    const std::string dir = ombrel_test::scratchDir("station-trace");
    StationSim sim;
    StationLink link;
    ASSERT_TRUE(link.open(sim.port(), 9600, kReplyLimitMs, dir + "/trace.txt"));
    const std::atomic<bool> abort{false};
    sim.sendRaw("E9@"); // arrives before any command: not a reply
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(link.command("prbpos", kAwaitPos, abort), kStationDone);
    link.close();
    EXPECT_EQ(sim.received(), "prbpos\r");
    EXPECT_EQ(ombrel_test::readFile(dir + "/trace.txt"), "< E9@\n> prbpos\\r\n< X1 Y1@\n");

    StationLink again; // a new run starts a new trace
    ASSERT_TRUE(again.open(sim.port(), 9600, kReplyLimitMs, dir + "/trace.txt"));
    again.close();
    EXPECT_EQ(ombrel_test::readFile(dir + "/trace.txt"), "");
}
