// Quit signals: SIGTERM, SIGINT and SIGHUP no longer end the process but arrive on the pipe in order,
// also when sent to the whole process while other threads run, and are known to have arrived before the
// pipe is read; removal restores what was there before.
#include "platform/quit_signals.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

std::atomic<int> gPreviousHandlerCalls{0};
void previousHandler(int)
{
    gPreviousHandlerCalls.fetch_add(1);
}

// The overall limit of a wait for the pipe: only a signal that never arrives reaches it.
constexpr int kWaitLimitMs = 60000;

bool readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

TEST(QuitSignalsTest, SignalsArriveOnThePipeInsteadOfEndingTheProcess)
{
    std::string error;
    const int fd = plat::installQuitSignals(&error);
    ASSERT_GE(fd, 0) << error;
    EXPECT_EQ(plat::installQuitSignals(), fd) << "installing twice keeps the pipe";
    EXPECT_FALSE(readable(fd, 0));
    EXPECT_EQ(plat::takeQuitSignal(), 0);
    EXPECT_FALSE(plat::quitSignalArrived());

    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        ASSERT_EQ(::kill(::getpid(), s), 0);
    ASSERT_TRUE(readable(fd, kWaitLimitMs));
    EXPECT_TRUE(plat::quitSignalArrived()) << "known before anyone reads the pipe";
    EXPECT_EQ(plat::takeQuitSignal(), SIGTERM);
    EXPECT_EQ(plat::takeQuitSignal(), SIGINT);
    EXPECT_EQ(plat::takeQuitSignal(), SIGHUP);
    EXPECT_EQ(plat::takeQuitSignal(), 0);
    EXPECT_TRUE(plat::quitSignalArrived()) << "taking the signals does not forget that they came";
    plat::uninstallQuitSignals();
    EXPECT_FALSE(plat::quitSignalArrived()) << "removal forgets them";
}

TEST(QuitSignalsTest, ProcessDirectedSignalWhileAnotherThreadRuns)
{
    const int fd = plat::installQuitSignals();
    ASSERT_GE(fd, 0);
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load())
            std::this_thread::yield();
    });
    std::thread sender([] { ::kill(::getpid(), SIGTERM); });
    sender.join();
    EXPECT_TRUE(readable(fd, kWaitLimitMs));
    EXPECT_EQ(plat::takeQuitSignal(), SIGTERM);
    stop = true;
    busy.join();
    plat::uninstallQuitSignals();
}

TEST(QuitSignalsTest, RemovalRestoresThePreviousHandlersAndDropsStaleSignals)
{
    struct sigaction mine {};
    mine.sa_handler = previousHandler;
    sigemptyset(&mine.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(::sigaction(SIGHUP, &mine, &saved), 0);

    ASSERT_GE(plat::installQuitSignals(), 0);
    ASSERT_EQ(::raise(SIGHUP), 0);
    EXPECT_EQ(gPreviousHandlerCalls.load(), 0);
    plat::uninstallQuitSignals();
    EXPECT_EQ(plat::takeQuitSignal(), 0) << "nothing is taken while not installed";

    ASSERT_EQ(::raise(SIGHUP), 0);
    EXPECT_EQ(gPreviousHandlerCalls.load(), 1) << "the handler found at installation is back";

    const int fd = plat::installQuitSignals();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(readable(fd, 0)) << "the SIGHUP of the earlier installation is gone";
    EXPECT_EQ(plat::takeQuitSignal(), 0);
    EXPECT_FALSE(plat::quitSignalArrived());
    plat::uninstallQuitSignals();
    ::sigaction(SIGHUP, &saved, nullptr);
}

} // namespace
