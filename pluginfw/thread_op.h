// Worker threads for plug-ins: object style (a ThreadOp with run and abort) and function style
// (startThreadOp with a parameter block). Every worker installs the hardware-fault translator; what
// escapes the work (an exception, a translated fault, or a fault that cannot be translated) is written
// to the log with the module of the fault, and the thread ends with -1. No exception leaves a worker.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

// Receives the worker-thread reports. A plug-in installs it at start with setWorkerLogSink, forwarding
// to the manager's log: mgrLogMsg(source, "%s", flags, text) — the text is a message, never a format.
// flags is MGRLOG_MSGBOX (2). May be called from any worker thread. Without a sink the reports go to
// stderr as "source: text".
using WorkerLogSink = void (*)(const char* source, const char* text, int flags);
void setWorkerLogSink(WorkerLogSink sink); // null: stderr again

// Handle of a worker thread, shared by copies. When the last copy goes, it joins the thread; a worker
// that outlives every copy detaches itself at its end.
class ThreadOpHandle {
public:
    ThreadOpHandle() = default;

    explicit operator bool() const { return state_ != nullptr; }
    bool running() const;                               // started and not yet ended
    bool waitFor(std::chrono::milliseconds timeout) const; // true when ended (or no thread)
    int join();                                         // the exit code; -1 without a thread
    int exitCode() const;                               // -1 until the thread has ended

private:
    struct State;
    explicit ThreadOpHandle(std::shared_ptr<State> state) : state_(std::move(state)) {}
    friend ThreadOpHandle launchWorker(std::function<int()> work, std::atomic<bool>* runningFlag);

    std::shared_ptr<State> state_;
};

// Object style. Derive, implement run(), and optionally abort() to wake work that waits; run() polls
// abortRequested() (or hands abortFlag() to preciseWait). start(), requestAbort() and waitForThread()
// belong to the owner; isRunning() and the abort flag may be read from any thread.
// The owner waits for the thread before it destroys the object: run() belongs to the derived class.
// The destructor sets the abort flag and joins the thread as a last resort.
class ThreadOp {
public:
    ThreadOp() = default;
    virtual ~ThreadOp();
    ThreadOp(const ThreadOp&) = delete;
    ThreadOp& operator=(const ThreadOp&) = delete;

    // The work, in the worker thread; its result is the thread's exit code.
    virtual int run() = 0;
    // Asks the running work to stop; called in the owner's thread after the abort flag is set.
    virtual void abort() {}

    // Clears the abort flag and starts run() in a new thread. false while a thread still runs, or when
    // no thread can be started.
    bool start();
    // When a thread runs: sets the abort flag, then calls abort().
    void requestAbort();

    bool isRunning() const { return running_.load(); }
    bool abortRequested() const { return abortRequested_.load(); }
    const std::atomic<bool>& abortFlag() const { return abortRequested_; }
    const ThreadOpHandle& thread() const { return thread_; } // of the last start

private:
    std::atomic<bool> abortRequested_{false};
    std::atomic<bool> running_{false}; // set by start(), cleared by the worker at the end of its work
    ThreadOpHandle thread_;
};

// Function style: the base of every parameter block handed to a worker function.
struct ThOpPars {
    virtual ~ThOpPars() = default;
};

// Runs fn(pars) in a new thread. The caller keeps ownership of pars and keeps it alive until the thread
// has ended. An empty handle when no thread can be started.
ThreadOpHandle startThreadOp(int (*fn)(ThOpPars*), ThOpPars* pars);

// Waits for a worker while the calling (UI) thread stays responsive: pump, when given, processes the
// thread's pending events (a quit request it meets stays pending for the main loop); it is called, then
// the wait sleeps up to 100 ms, until the thread has ended. An empty handle, or an object without a
// running thread, ends the wait at once. Any thread but the worker's own.
using WaitPump = std::function<void()>;
void waitForThread(const ThreadOpHandle& thread, const WaitPump& pump = {});
void waitForThread(const ThreadOp& op, const WaitPump& pump = {});

// Base name of the module that holds the calling code (this framework is linked into each plug-in):
// file name without folder and extension, at most 63 characters, into dst (64 characters). "Unknown"
// when no name can be derived. Returns dst.
char* getModuleBaseName(char* dst);
// The same for a given module path.
char* moduleBaseNameOf(const char* path, char* dst);
