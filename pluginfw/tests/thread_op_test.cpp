// Worker threads: exit codes, one report per escaped exception or fault, the object style's abort and
// running flags, waiting with a pump, and module base names.
#include "thread_op.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "tvk_mgr.h"

namespace {

// The faulting operations, out of line and hidden from the undefined-behaviour sanitizer, which would
// stop the process at the null dereference and the division before the hardware sees them.
#define FAULTING __attribute__((noinline, no_sanitize("undefined")))

volatile int zero = 0;
volatile int result = 0;

FAULTING int readNull()
{
    return *reinterpret_cast<const volatile int*>(static_cast<uintptr_t>(zero)); // zero: a null pointer
}

FAULTING void writeThroughBadPointer()
{
    *reinterpret_cast<volatile int*>(static_cast<uintptr_t>(zero) + 0x10) = 1;
}

FAULTING void divideByZero()
{
    result = 7 / zero;
}

FAULTING void readNullInNoexcept() noexcept
{
    result = readNull();
}

volatile int stopDepth = -1; // never reached: the recursion runs until the stack is used up

__attribute__((noinline)) int recurseWithoutEnd(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == stopDepth)
        return 0;
    return recurseWithoutEnd(depth + 1) + frame[0];
}

const std::string& thisProgram()
{
    static const std::string path = plat::modulePathOf(reinterpret_cast<const void*>(&readNull));
    return path;
}

std::string faultReport(const std::string& message)
{
    return "Unhandled exception occurred in worker thread in module:\r" + thisProgram() + "\r" + message +
           "\rConsider restarting program.";
}

std::string exceptionReport(const std::string& message)
{
    return "Unhandled exception occurred in worker thread:\r" + message + "\rConsider restarting program.";
}

struct Entry {
    std::string source;
    std::string text;
    int flags;
};

std::mutex logLock; // guards logged; held only to append or copy
std::vector<Entry> logged;

void recordEntry(const char* source, const char* text, int flags)
{
    std::lock_guard<std::mutex> guard(logLock);
    logged.push_back({source, text, flags});
}

class WorkerTest : public testing::Test {
protected:
    void SetUp() override
    {
        setWorkerLogSink(&recordEntry);
        clearLog();
    }
    void TearDown() override { setWorkerLogSink(nullptr); }

    static void clearLog()
    {
        std::lock_guard<std::mutex> guard(logLock);
        logged.clear();
    }

    static std::vector<Entry> entries()
    {
        std::lock_guard<std::mutex> guard(logLock);
        return logged;
    }
};

// A ThreadOp running a given function.
class FunctionOp : public ThreadOp {
public:
    explicit FunctionOp(std::function<int(FunctionOp&)> body) : body_(std::move(body)) {}
    ~FunctionOp() override { waitForThread(*this); }
    int run() override { return body_(*this); }
    void abort() override { ++aborts; }

    std::atomic<int> aborts{0};

private:
    std::function<int(FunctionOp&)> body_;
};

struct Pars : ThOpPars {
    std::function<int()> body;
};

int runPars(ThOpPars* pars)
{
    return static_cast<Pars*>(pars)->body();
}

TEST_F(WorkerTest, WhatEscapesTheWorkIsReportedOnceAndEndsItWithMinusOne)
{
    struct Case {
        const char* name;
        std::function<int()> body;
        int exitCode;
        std::string report; // empty: nothing logged
    };
    const Case cases[] = {
        {"result", [] { return 7; }, 7, ""},
        {"null read", [] { return readNull(); }, -1,
         faultReport("Access violation reading address 0x0000000000000000.")},
        {"write through a bad pointer", [] { writeThroughBadPointer(); return 0; }, -1,
         faultReport("Access violation writing address 0x0000000000000010.")},
        {"integer division by zero", [] { divideByZero(); return 0; }, -1,
         faultReport("Win32 exception (3221225620).")},
        {"fault in a noexcept function", [] { readNullInNoexcept(); return 0; }, -1,
         faultReport("Access violation reading address 0x0000000000000000.")},
        {"standard exception", []() -> int { throw std::runtime_error("disk full"); }, -1,
         exceptionReport("disk full")},
        {"other exception", []() -> int { throw 42; }, -1, exceptionReport("Unknown exception.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearLog();
        // Function style.
        Pars pars;
        pars.body = c.body;
        ThreadOpHandle thread = startThreadOp(&runPars, &pars);
        ASSERT_TRUE(thread);
        EXPECT_EQ(thread.join(), c.exitCode);
        // Object style.
        FunctionOp op([&](FunctionOp&) { return c.body(); });
        ASSERT_TRUE(op.start());
        waitForThread(op);
        EXPECT_FALSE(op.isRunning());
        EXPECT_EQ(op.thread().exitCode(), c.exitCode);

        const std::vector<Entry> log = entries();
        if (c.report.empty()) {
            EXPECT_TRUE(log.empty());
            continue;
        }
        ASSERT_EQ(log.size(), 2u) << "one entry per worker";
        for (const Entry& entry : log) {
            EXPECT_EQ(entry.source, "utils_thread_op");
            EXPECT_EQ(entry.text, c.report);
            EXPECT_EQ(entry.flags, MGRLOG_MSGBOX);
        }
    }
}

TEST_F(WorkerTest, StackOverflowEndsOnlyItsWorker)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "Under AddressSanitizer the fault handler runs on the thread's own stack, which the "
                    "overflow has used up";
#endif
    Pars pars;
    pars.body = [] { return recurseWithoutEnd(0); };
    for (int run = 0; run < 2; ++run) {
        clearLog();
        EXPECT_EQ(startThreadOp(&runPars, &pars).join(), -1);
        const std::vector<Entry> log = entries();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].text.find("Access violation writing address 0x"), std::string::npos) << log[0].text;
    }
}

TEST_F(WorkerTest, WithoutASinkReportsGoToStandardError)
{
    setWorkerLogSink(nullptr);
    testing::internal::CaptureStderr();
    Pars pars;
    pars.body = []() -> int { throw std::runtime_error("no sink"); };
    EXPECT_EQ(startThreadOp(&runPars, &pars).join(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "utils_thread_op: " + exceptionReport("no sink") + "\n");
}

TEST_F(WorkerTest, AbortSetsTheFlagAndWakesTheWork)
{
    FunctionOp op([](FunctionOp& self) {
        while (!self.abortRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 3;
    });
    op.requestAbort();
    EXPECT_EQ(op.aborts.load(), 0) << "no thread runs: nothing to abort";

    for (int run = 0; run < 2; ++run) { // a second start clears the flag again
        ASSERT_TRUE(op.start());
        EXPECT_TRUE(op.isRunning());
        EXPECT_FALSE(op.abortRequested());
        EXPECT_FALSE(op.start()) << "one thread at a time";
        op.requestAbort();
        EXPECT_TRUE(op.abortRequested());
        waitForThread(op);
        EXPECT_FALSE(op.isRunning());
        EXPECT_EQ(op.thread().exitCode(), 3);
        EXPECT_EQ(op.aborts.load(), run + 1);
    }
    EXPECT_TRUE(entries().empty());
}

TEST_F(WorkerTest, WaitCallsThePumpUntilTheWorkerEnds)
{
    int pumped = 0;
    waitForThread(ThreadOpHandle(), [&] { ++pumped; });
    FunctionOp idle([](FunctionOp&) { return 0; });
    waitForThread(idle, [&] { ++pumped; });
    EXPECT_EQ(pumped, 0) << "nothing to wait for ends the wait at once";

    // The worker ends only once the pump has run three times.
    std::atomic<int> pumps{0};
    FunctionOp op([&](FunctionOp&) {
        while (pumps.load() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    });
    ASSERT_TRUE(op.start());
    waitForThread(op, [&] { ++pumps; });
    EXPECT_FALSE(op.isRunning());
    EXPECT_GE(pumps.load(), 3);
}

TEST(ModuleBaseName, FileNameWithoutFolderAndExtension)
{
    const std::string longName(100, 'n');
    struct Case {
        std::string path;
        std::string name;
    };
    const Case cases[] = {
        {"/opt/ombrel/app/TvkCtrlUI.so", "TvkCtrlUI"},
        {"dacdeck.so", "dacdeck"},
        {"/opt/ombrel/app/TvkLoader", "TvkLoader"},
        {"/opt/v1.2/tool", "tool"},     // a dot in a folder is no extension
        {"/opt/libx.so.1", "libx.so"},  // only the last extension goes
        {"/opt/" + longName + ".so", longName.substr(0, 63)},
        {"/opt/.so", "Unknown"},
        {"/opt/", "Unknown"},
        {"", "Unknown"},
    };
    char name[64];
    for (const Case& c : cases)
        EXPECT_EQ(moduleBaseNameOf(c.path.c_str(), name), c.name) << c.path;
    EXPECT_STREQ(moduleBaseNameOf(nullptr, name), "Unknown");
    EXPECT_STREQ(getModuleBaseName(name), "utils_thread_op");
}

} // namespace
