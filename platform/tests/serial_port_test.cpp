// Serial ports on a pseudo-terminal: bytes pass unchanged both ways ('\r' and '\n' are not translated),
// nothing is echoed, a read waits no longer than asked, a write to an end that takes no bytes ends with
// its time-out, a hang-up is an error; port names.
#include <gtest/gtest.h>

#include <string>

#include "platform/serial_port.h"

namespace {

std::string readAll(plat::PseudoTerminal& pty, size_t want)
{
    std::string got;
    char buf[64];
    for (int i = 0; i < 50 && got.size() < want; ++i) {
        const long n = pty.read(buf, sizeof buf, 20);
        if (n < 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

} // namespace

TEST(SerialPortNames, ComNumbersAndPaths)
{
    struct Case {
        const char* port;
        const char* path;
    } cases[] = {{"COM1", "/dev/ttyS0"}, {"com3", "/dev/ttyS2"}, {"COM0", ""},       {"", ""},
                 {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"COMX", "COMX"}, {"COM12", "/dev/ttyS11"}};
    for (const Case& c : cases)
        EXPECT_EQ(plat::serialDevicePath(c.port), c.path) << c.port;
}

TEST(SerialPort, BytesUnchangedBothWaysWithoutEcho)
{
    plat::PseudoTerminal pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    plat::SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), 9600)) << port.error();

    const std::string out = "prbcr(1,2)\r\n\x03\x7f";
    ASSERT_TRUE(port.write(out.data(), out.size())) << port.error();
    EXPECT_EQ(readAll(pty, out.size()), out);
    char echo[16];
    EXPECT_EQ(port.read(echo, sizeof echo, 30), 0) << "the port echoed what it sent";

    const std::string in = "X1\rY2\n@";
    ASSERT_TRUE(pty.write(in.data(), in.size()));
    std::string got;
    char buf[64];
    for (int i = 0; i < 50 && got.size() < in.size(); ++i) {
        const long n = port.read(buf, sizeof buf, 20);
        ASSERT_GE(n, 0) << port.error();
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, in);
}

TEST(SerialPort, HangUpAndRefusedOpens)
{
    plat::PseudoTerminal pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    plat::SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), 9600)) << port.error();
    pty.closeMaster();
    char buf[8];
    EXPECT_EQ(port.read(buf, sizeof buf, 1000), -1);
    EXPECT_FALSE(port.error().empty());

    struct Case {
        const char* port;
        int baud;
    } refused[] = {{"", 9600}, {"/nonexistent/tty", 9600}, {"/dev/null", 9600}, {pty.slavePath().c_str(), 12345}};
    for (const Case& c : refused) {
        plat::SerialPort p;
        EXPECT_FALSE(p.open(c.port, c.baud)) << c.port;
        EXPECT_FALSE(p.error().empty()) << c.port;
        EXPECT_FALSE(p.isOpen());
    }
}

// The device side stops taking bytes: once the line's queue is full, a write fails with a time-out
// instead of waiting for room without end, in both directions; a short write still passes.
TEST(SerialPort, WriteToAnEndThatTakesNothingTimesOut)
{
    plat::PseudoTerminal pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    plat::SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), 9600)) << port.error();
    const std::string flood(1 << 20, 'x'); // far more than a line's queue holds
    EXPECT_TRUE(port.write("prbup\r", 6, 200)) << port.error();
    EXPECT_FALSE(port.write(flood.data(), flood.size(), 200));
    EXPECT_NE(port.error().find("timed out"), std::string::npos) << port.error();
    EXPECT_FALSE(pty.write(flood.data(), flood.size(), 200));
    EXPECT_NE(pty.error().find("timed out"), std::string::npos) << pty.error();
}
