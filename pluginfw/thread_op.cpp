// Worker threads with fault translation and reports of what escapes the work.
#include "thread_op.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <cxxabi.h>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "platform/fault.h"
#include "platform/module.h"
#include "tvk_mgr.h"

namespace {

std::atomic<WorkerLogSink> logSink{nullptr};

constexpr size_t kReportChars = 512;
constexpr size_t kBaseNameChars = 64;

// Reports are cut at kReportChars - 1 characters. No allocation: they are made in catch handlers.
void formatFaultReport(char* report, const plat::Win32Exception& fault)
{
    if (std::snprintf(report, kReportChars,
                      "Unhandled exception occurred in worker thread in module:\r%s\r%s\rConsider restarting program.",
                      fault.module(), fault.what()) < 0)
        std::snprintf(report, kReportChars, "%s", fault.what());
}

void formatExceptionReport(char* report, const char* message)
{
    if (std::snprintf(report, kReportChars,
                      "Unhandled exception occurred in worker thread:\r%s\rConsider restarting program.", message) < 0)
        std::snprintf(report, kReportChars, "Unhandled exception occurred in worker thread.");
}

void writeReport(const char* text)
{
    char source[kBaseNameChars];
    getModuleBaseName(source);
    WorkerLogSink sink = logSink.load();
    try {
        if (sink) {
            sink(source, text, MGRLOG_MSGBOX);
            return;
        }
    } catch (...) { // a sink that throws loses its report to stderr, not the process
    }
    std::fprintf(stderr, "%s: %s\n", source, text);
}

struct Job {
    const std::function<int()>* work;
    int result = -1;
    char report[kReportChars] = {}; // empty: nothing to report
};

void runJob(void* context)
{
    Job& job = *static_cast<Job*>(context);
    try {
        job.result = (*job.work)();
    } catch (const plat::Win32Exception& fault) {
        formatFaultReport(job.report, fault);
    } catch (const std::exception& e) {
        formatExceptionReport(job.report, e.what());
    } catch (abi::__forced_unwind&) { // thread cancellation must unwind on
        throw;
    } catch (...) {
        formatExceptionReport(job.report, "Unknown exception.");
    }
}

// The thread procedure of both styles: the work's result, or -1 after a report.
int runWorker(const std::function<int()>& work)
{
    Job job;
    job.work = &work;
    plat::Win32Exception fault;
    if (!plat::runFaultGuarded(&runJob, &job, &fault)) {
        job.result = -1;
        formatFaultReport(job.report, fault);
    }
    if (job.report[0] != '\0') {
        job.result = -1;
        writeReport(job.report);
    }
    return job.result;
}

} // namespace

// ---- handle ----

struct ThreadOpHandle::State {
    ~State()
    {
        if (!thread.joinable())
            return;
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach(); // the worker let go of the last handle itself
        else
            thread.join();
    }

    void finish(int code)
    {
        std::lock_guard<std::mutex> guard(endLock);
        exitCode = code;
        ended = true;
        endedCv.notify_all();
    }

    std::mutex endLock; // guards ended and exitCode; nothing else is called while it is held
    std::condition_variable endedCv;
    bool ended = false;
    int exitCode = -1;
    std::mutex joinLock; // guards the join of thread; held while joining
    std::thread thread;
};

bool ThreadOpHandle::running() const
{
    if (!state_)
        return false;
    std::lock_guard<std::mutex> guard(state_->endLock);
    return !state_->ended;
}

bool ThreadOpHandle::waitFor(std::chrono::milliseconds timeout) const
{
    if (!state_)
        return true;
    std::unique_lock<std::mutex> guard(state_->endLock);
    return state_->endedCv.wait_for(guard, timeout, [this] { return state_->ended; });
}

int ThreadOpHandle::join()
{
    if (!state_)
        return -1;
    {
        std::lock_guard<std::mutex> guard(state_->joinLock);
        if (state_->thread.joinable() && state_->thread.get_id() != std::this_thread::get_id())
            state_->thread.join();
    }
    return exitCode();
}

int ThreadOpHandle::exitCode() const
{
    if (!state_)
        return -1;
    std::lock_guard<std::mutex> guard(state_->endLock);
    return state_->ended ? state_->exitCode : -1;
}

// Starts work in a new thread; runningFlag, when given, is cleared once the work and its report are
// done. An empty handle when no thread can be started.
ThreadOpHandle launchWorker(std::function<int()> work, std::atomic<bool>* runningFlag)
{
    try {
        auto state = std::make_shared<ThreadOpHandle::State>();
        state->thread = std::thread([state, work = std::move(work), runningFlag]() mutable {
            const int result = runWorker(work);
            if (runningFlag)
                runningFlag->store(false); // the owner may destroy the object from now on
            state->finish(result);
            state.reset();
        });
        return ThreadOpHandle(std::move(state));
    } catch (const std::system_error&) {
        return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

// ---- object style ----

ThreadOp::~ThreadOp()
{
    abortRequested_.store(true);
    thread_.join();
}

bool ThreadOp::start()
{
    if (running_.load())
        return false;
    thread_.join(); // the last run has ended its work; let its thread go
    abortRequested_.store(false);
    running_.store(true);
    thread_ = launchWorker([this] { return run(); }, &running_);
    if (!thread_) {
        running_.store(false);
        return false;
    }
    return true;
}

void ThreadOp::requestAbort()
{
    if (!running_.load())
        return;
    abortRequested_.store(true);
    abort();
}

// ---- function style ----

ThreadOpHandle startThreadOp(int (*fn)(ThOpPars*), ThOpPars* pars)
{
    if (!fn)
        return {};
    return launchWorker([fn, pars] { return fn(pars); }, nullptr);
}

// ---- waiting ----

void waitForThread(const ThreadOpHandle& thread, const WaitPump& pump)
{
    while (thread.running()) {
        if (pump)
            pump();
        thread.waitFor(std::chrono::milliseconds(100));
    }
}

void waitForThread(const ThreadOp& op, const WaitPump& pump)
{
    // A copy: the pump may destroy the object while the wait goes on.
    const ThreadOpHandle thread = op.isRunning() ? op.thread() : ThreadOpHandle();
    waitForThread(thread, pump);
}

// ---- log sink and module names ----

void setWorkerLogSink(WorkerLogSink sink)
{
    logSink.store(sink);
}

char* moduleBaseNameOf(const char* path, char* dst)
{
    std::strcpy(dst, "Unknown");
    if (!path)
        return dst;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const char* dot = std::strrchr(name, '.');
    size_t length = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
    if (length == 0)
        return dst;
    if (length > kBaseNameChars - 1)
        length = kBaseNameChars - 1;
    std::memcpy(dst, name, length);
    dst[length] = '\0';
    return dst;
}

char* getModuleBaseName(char* dst)
{
    const std::string path = plat::modulePathOf(reinterpret_cast<const void*>(&getModuleBaseName));
    return moduleBaseNameOf(path.c_str(), dst);
}
