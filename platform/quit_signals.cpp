#include "platform/quit_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "platform/syserror.h"

namespace plat {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

// Read by the handler, so a lock-free atomic; -1 while not installed.
std::atomic<int> gWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// Set once the program acts on a quit request; read by any thread.
std::atomic<bool> gQuitRequested{false};

// Set by the handler (lock-free, so safe there); cleared when the handlers are installed or removed.
std::atomic<bool> gSignalArrived{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Guards the fields below (installation and removal); never taken by the handler.
std::mutex gMutex;
bool gInstalled = false;
// The pipe is made once and kept for the life of the process: a handler that is running on another
// thread while the handlers are being removed must never write into a descriptor that was closed and
// handed out again.
int gReadFd = -1;
int gPipeWriteFd = -1;
struct sigaction gPrevious[kSignalCount];

void onQuitSignal(int signal)
{
    const int savedErrno = errno;
    const int fd = gWriteFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        gSignalArrived.store(true);
        const unsigned char byte = static_cast<unsigned char>(signal);
        // A full pipe drops the byte: the loop has plenty of unread requests to end already.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void drainPipe()
{
    unsigned char bytes[64];
    while (::read(gReadFd, bytes, sizeof bytes) > 0) {
    }
}

} // namespace

int installQuitSignals(std::string* error)
{
    std::lock_guard lock(gMutex);
    if (gInstalled)
        return gReadFd;
    if (gReadFd < 0) {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
            if (error)
                *error = "Cannot create the signal pipe: " + lastSystemErrorText();
            return -1;
        }
        gReadFd = fds[0];
        gPipeWriteFd = fds[1];
    }
    drainPipe(); // requests from an earlier installation are stale
    gSignalArrived.store(false);
    gWriteFd.store(gPipeWriteFd);

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    for (const int s : kSignals)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kSignals[i], &action, &gPrevious[i]) != 0) {
            const std::string reason = lastSystemErrorText();
            for (int j = 0; j < i; ++j)
                ::sigaction(kSignals[j], &gPrevious[j], nullptr);
            gWriteFd.store(-1);
            if (error)
                *error = "Cannot install the handler of signal " + std::to_string(kSignals[i]) + ": " + reason;
            return -1;
        }
    }
    gInstalled = true;
    return gReadFd;
}

int takeQuitSignal()
{
    std::lock_guard lock(gMutex);
    if (!gInstalled)
        return 0;
    unsigned char byte = 0;
    ssize_t n;
    do {
        n = ::read(gReadFd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 ? byte : 0;
}

void setQuitRequested(bool requested)
{
    gQuitRequested.store(requested);
}

bool quitRequested()
{
    return gQuitRequested.load();
}

bool quitSignalArrived()
{
    return gSignalArrived.load();
}

void uninstallQuitSignals()
{
    std::lock_guard lock(gMutex);
    if (!gInstalled)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    gWriteFd.store(-1);
    drainPipe();
    gSignalArrived.store(false);
    gInstalled = false;
}

} // namespace plat
