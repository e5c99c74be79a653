#include "platform/serial_port.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

#include "platform/clock.h"
#include "platform/syserror.h"

namespace plat {

namespace {

speed_t speedOf(int baud)
{
    static const struct {
        int baud;
        speed_t code;
    } rates[] = {{300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
                 {9600, B9600},   {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
                 {230400, B230400}};
    for (const auto& r : rates)
        if (r.baud == baud)
            return r.code;
    return B0;
}

// Raw 8N1, no flow control, no echo, no line editing or translation; reads return what is there.
bool makeRaw(int fd, speed_t speed)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (speed != B0 && (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0))
        return false;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Milliseconds left until deadline (monotonic seconds), 0 when it has passed.
int msLeft(double deadline)
{
    const double left = (deadline - monotonicSeconds()) * 1000.0;
    return left <= 0.0 ? 0 : left >= 2e9 ? 2000000000 : static_cast<int>(left) + 1;
}

// Every byte, within timeoutMs: the other end may stop taking them (a full queue), and the wait for room
// must end then.
bool writeAll(int fd, const void* data, size_t size, int timeoutMs, std::string* error)
{
    const double deadline = monotonicSeconds() + (timeoutMs < 0 ? 0 : timeoutMs) / 1000.0;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            const int left = msLeft(deadline);
            if (left == 0) {
                *error = "Writing to the serial line timed out: the other end takes no more bytes.";
                return false;
            }
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, left < 100 ? left : 100);
            continue;
        }
        if (n <= 0) {
            *error = "Writing to the serial line failed: " + lastSystemErrorText();
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

long readSome(int fd, void* data, size_t size, int timeoutMs, std::string* error)
{
    pollfd pfd{fd, POLLIN, 0};
    int r;
    do
        r = ::poll(&pfd, 1, timeoutMs < 0 ? 0 : timeoutMs);
    while (r < 0 && errno == EINTR);
    if (r < 0) {
        *error = "Waiting for the serial line failed: " + lastSystemErrorText();
        return -1;
    }
    if (r == 0)
        return 0;
    if (pfd.revents & POLLIN) {
        const ssize_t n = ::read(fd, data, size);
        if (n > 0)
            return n;
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return 0;
    }
    *error = "The serial line was hung up.";
    return -1;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

std::string serialDevicePath(const std::string& port)
{
    if (port.size() > 3 && strncasecmp(port.c_str(), "COM", 3) == 0) {
        const std::string digits = port.substr(3);
        if (digits.size() <= 4 && digits.find_first_not_of("0123456789") == std::string::npos) {
            const int n = std::atoi(digits.c_str());
            return n >= 1 ? "/dev/ttyS" + std::to_string(n - 1) : std::string();
        }
    }
    return port;
}

SerialPort::~SerialPort() { close(); }

SerialPort::SerialPort(SerialPort&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(std::move(other.error_))
{
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool SerialPort::fail(const std::string& what)
{
    error_ = what;
    close();
    return false;
}

bool SerialPort::open(const std::string& port, int baud)
{
    close();
    error_.clear();
    const std::string path = serialDevicePath(port);
    if (path.empty())
        return fail("No serial port is set.");
    const speed_t speed = speedOf(baud);
    if (speed == B0)
        return fail("The baud rate " + std::to_string(baud) + " is not supported.");
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return fail("Cannot open the serial port " + path + ": " + lastSystemErrorText());
    if (!isatty(fd_))
        return fail(path + " is not a serial port.");
    if (!makeRaw(fd_, speed))
        return fail("Cannot set up the serial port " + path + ": " + lastSystemErrorText());
    tcflush(fd_, TCIOFLUSH);
    return true;
}

void SerialPort::close() { closeFd(fd_); }

bool SerialPort::write(const void* data, size_t size, int timeoutMs)
{
    if (fd_ < 0)
        return fail("The serial port is not open.");
    const double deadline = monotonicSeconds() + (timeoutMs < 0 ? 0 : timeoutMs) / 1000.0;
    if (!writeAll(fd_, data, size, timeoutMs, &error_))
        return false;
    // tcdrain could wait without end for a line that does not send; the driver's queue is watched
    // instead, and tcdrain only waits for the last bytes in the hardware.
    int queued = 0;
    while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (msLeft(deadline) == 0) {
            error_ = "Writing to the serial line timed out: the bytes do not leave.";
            return false;
        }
        sleepSeconds(0.001);
    }
    tcdrain(fd_);
    return true;
}

long SerialPort::read(void* data, size_t size, int timeoutMs)
{
    if (fd_ < 0) {
        error_ = "The serial port is not open.";
        return -1;
    }
    return readSome(fd_, data, size, timeoutMs, &error_);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    closeFd(slave_);
}

bool PseudoTerminal::open()
{
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        error_ = "Cannot open a pseudo-terminal: " + lastSystemErrorText();
        return false;
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    if (!makeRaw(slave_, B9600) || !makeRaw(master_, B0)) {
        error_ = "Cannot set up the pseudo-terminal: " + lastSystemErrorText();
        return false;
    }
    return true;
}

void PseudoTerminal::closeMaster()
{
    closeFd(master_);
    closeFd(slave_); // with both ends gone the port side sees a hang-up
}

bool PseudoTerminal::write(const void* data, size_t size, int timeoutMs)
{
    return master_ >= 0 && writeAll(master_, data, size, timeoutMs, &error_);
}

long PseudoTerminal::read(void* data, size_t size, int timeoutMs)
{
    if (master_ < 0)
        return -1;
    return readSome(master_, data, size, timeoutMs, &error_);
}

} // namespace plat
