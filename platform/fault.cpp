// Hardware faults as exceptions: a signal handler that throws from the faulting instruction.
//
// The handler runs on a per-thread alternate stack, so that a stack overflow reaches it too (not under
// AddressSanitizer, see kUseAltStack). It builds the exception text with its own formatting (no stdio) and looks the module up before it throws;
// a fault while it does so, or an exception that std::terminate stops on its way, ends the innermost
// runFaultGuarded() of the thread through siglongjmp.
#include "platform/fault.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <cxxabi.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "platform/module.h"
#include "platform/text_copy.h"

namespace plat {

namespace {

// AddressSanitizer clears the poisoned stack of the frames a throw leaves from the stack pointer of the
// throw upward; that works only when the handler runs on the thread's own stack.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUseAltStack = false;
#else
constexpr bool kUseAltStack = true;
#endif
constexpr size_t kAltStackSize = 64 * 1024;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// What one thread keeps for the translator. Only the thread itself and its signal handler touch it.
struct ThreadState {
    std::atomic<bool> translating{false};         // the handler is building an exception
    std::atomic<sigjmp_buf*> escape{nullptr};     // innermost runFaultGuarded, or null
    Win32Exception fault;                         // the fault that ended a guarded run
    void* altStack = nullptr;                     // our alternate signal stack, when we made one
};

// Set up once per process (per copy of this layer); read-only afterwards.
struct ProcessState {
    std::atomic<bool> ready{false};
    pthread_key_t key{};
    struct sigaction previous[kSignalCount]{};
    std::terminate_handler previousTerminate = nullptr;
};

ProcessState& process()
{
    static ProcessState state;
    return state;
}

ThreadState* currentState()
{
    ProcessState& p = process();
    if (!p.ready.load(std::memory_order_acquire))
        return nullptr;
    return static_cast<ThreadState*>(::pthread_getspecific(p.key));
}

// ---- formatting without stdio or allocation (used inside the signal handler) ----

class TextOut {
public:
    TextOut(char* dst, size_t capacity) : dst_(dst), capacity_(capacity) { dst_[0] = '\0'; }

    TextOut& text(const char* s)
    {
        for (; s && *s; ++s)
            put(*s);
        return *this;
    }
    TextOut& decimal(uint64_t value)
    {
        char digits[20];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0)
            put(digits[--n]);
        return *this;
    }
    TextOut& hex(uint64_t value, int digits)
    {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            put("0123456789ABCDEF"[(value >> shift) & 0xF]);
        return *this;
    }

private:
    void put(char c)
    {
        if (length_ + 1 < capacity_) {
            dst_[length_++] = c;
            dst_[length_] = '\0';
        }
    }

    char* dst_;
    size_t capacity_;
    size_t length_ = 0;
};

// The module file that holds address into dst; empty when unknown.
void lookUpModule(const void* address, char* dst, size_t capacity)
{
    dst[0] = '\0';
    try {
        copyText(dst, capacity, modulePathOf(address));
    } catch (...) { // no memory for the path: report without it
        dst[0] = '\0';
    }
}

void writeAll(int fd, const char* text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

// The last words of a process that a fault ends: only write(2), as it may run inside the handler.
void writeFatalReport(const Win32Exception& fault)
{
    writeAll(STDERR_FILENO, "Fatal hardware fault in module ");
    writeAll(STDERR_FILENO, *fault.module() ? fault.module() : "(unknown)");
    writeAll(STDERR_FILENO, ": ");
    writeAll(STDERR_FILENO, fault.what());
    writeAll(STDERR_FILENO, "\n");
}

void setSignalBlocked(int signal, bool blocked)
{
    sigset_t set;
    ::sigemptyset(&set);
    ::sigaddset(&set, signal);
    ::pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void restoreDefaultAction(int signal)
{
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

int signalIndex(int signal)
{
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal)
            return i;
    return -1;
}

// A fault of a thread without the translator, or a signal that was sent: what was there before us.
void passOn(int signal, siginfo_t* info, void* context)
{
    const int index = signalIndex(signal);
    const struct sigaction* previous = index >= 0 ? &process().previous[index] : nullptr;
    if (previous && (previous->sa_flags & SA_SIGINFO) && previous->sa_sigaction) {
        previous->sa_sigaction(signal, info, context);
        return;
    }
    if (previous && previous->sa_handler != SIG_DFL && previous->sa_handler != SIG_IGN) {
        previous->sa_handler(signal);
        return;
    }
    // Default action: a faulting instruction runs again when the handler returns and ends the process
    // then; a signal that was sent is raised again.
    restoreDefaultAction(signal);
    setSignalBlocked(signal, false);
    if (!info || info->si_code <= 0)
        ::raise(signal);
}

// A fault that cannot become an exception: end the guarded run, or the process.
[[noreturn]] void giveUp(int signal, ThreadState& state)
{
    if (sigjmp_buf* escape = state.escape.load()) {
        state.translating.store(false);
        ::siglongjmp(*escape, 1);
    }
    writeFatalReport(state.fault);
    restoreDefaultAction(signal);
    setSignalBlocked(signal, false);
    ::raise(signal);
    ::_exit(128 + signal);
}

FaultRecord recordOf(int signal, const siginfo_t& info, const void* context)
{
    FaultRecord record;
    record.code = win32CodeOf(signal, info.si_code);
#if defined(__x86_64__)
    const auto& regs = static_cast<const ucontext_t*>(context)->uc_mcontext.gregs;
    record.address = reinterpret_cast<const void*>(regs[REG_RIP]);
#else
    record.address = (signal == SIGFPE || signal == SIGILL) ? info.si_addr : nullptr;
#endif
    if (record.code == kCodeAccessViolation) {
        record.accessed = info.si_addr;
#if defined(__x86_64__)
        constexpr greg_t kPageFault = 14;
        constexpr greg_t kWriteAccess = 0x2;
        record.writing = regs[REG_TRAPNO] == kPageFault && (regs[REG_ERR] & kWriteAccess) != 0;
#endif
    }
    return record;
}

void onFault(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    ThreadState* state = currentState();
    // si_code <= 0: sent by kill(), raise() or sigqueue(), not raised by an instruction.
    if (!state || !info || !context || info->si_code <= 0 || win32CodeOf(signal, info->si_code) == 0) {
        passOn(signal, info, context);
        errno = savedErrno;
        return;
    }
    const FaultRecord record = recordOf(signal, *info, context);
    if (state->translating.exchange(true)) { // a fault while the translator itself works
        state->fault = Win32Exception(record, nullptr);
        giveUp(signal, *state);
    }
    // Leave the handler with the signal mask of the interrupted code, as a return would: a wrapping
    // handler (a sanitizer's) may have blocked every signal for the handler's run. A later fault must
    // reach the handler too.
    ::pthread_sigmask(SIG_SETMASK, &static_cast<const ucontext_t*>(context)->uc_sigmask, nullptr);
    setSignalBlocked(signal, false);
    char module[Win32Exception::kModuleChars];
    lookUpModule(record.address, module, sizeof module);
    state->translating.store(false);
    if (record.code == kCodeAccessViolation)
        throw AccessViolation(record, module);
    throw Win32Exception(record, module);
}

// The current exception, when it is a translated fault, copied into the thread's state.
bool takeFaultException(ThreadState& state)
{
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return false;
    try {
        std::rethrow_exception(current);
    } catch (const Win32Exception& fault) {
        state.fault = fault;
        return true;
    } catch (...) {
    }
    return false;
}

// std::terminate on a thread with the translator: a translated fault that could not be delivered (no
// unwind information at the fault, a noexcept function on its way) ends the guarded run instead.
void onTerminate()
{
    ThreadState* state = currentState();
    if (state && takeFaultException(*state)) {
        if (sigjmp_buf* escape = state->escape.load()) {
            // terminate counts as a handler of the exception; leave it, so that the exception is freed.
            abi::__cxa_end_catch();
            state->translating.store(false);
            ::siglongjmp(*escape, 1);
        }
        writeFatalReport(state->fault);
    }
    std::terminate_handler previous = process().previousTerminate;
    if (previous)
        previous();
    std::abort();
}

void releaseThreadState(void* pointer)
{
    auto* state = static_cast<ThreadState*>(pointer);
    if (state->altStack) {
        stack_t current{};
        // Free the stack only while it is still the thread's and not in use; else leave it mapped.
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == state->altStack &&
            !(current.ss_flags & SS_ONSTACK)) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            if (::sigaltstack(&off, nullptr) == 0)
                ::munmap(state->altStack, kAltStackSize);
        }
    }
    delete state;
}

// When the module holding this copy is unloaded (or the process ends), hand the signals and
// std::terminate back to what was there before — unless another copy has installed its handler on top
// of ours since, which still passes faults on to ours.
struct Unhook {
    ~Unhook()
    {
        ProcessState& p = process();
        for (int i = 0; i < kSignalCount; ++i) {
            struct sigaction current{};
            if (::sigaction(kSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
                current.sa_sigaction == &onFault)
                ::sigaction(kSignals[i], &p.previous[i], nullptr);
        }
        if (std::get_terminate() == &onTerminate)
            std::set_terminate(p.previousTerminate);
        // No thread state of this copy is used or released from now on.
        p.ready.store(false, std::memory_order_release);
        ::pthread_key_delete(p.key);
    }
};

bool installProcessHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static Unhook unhook;
        ProcessState& p = process();
        if (::pthread_key_create(&p.key, &releaseThreadState) != 0)
            return;
        struct sigaction action{};
        action.sa_sigaction = &onFault;
        ::sigemptyset(&action.sa_mask);
        // SA_NODEFER: a fault inside the handler reaches it again, so that it can give up cleanly.
        action.sa_flags = SA_SIGINFO | SA_NODEFER | (kUseAltStack ? SA_ONSTACK : 0);
        for (int i = 0; i < kSignalCount; ++i)
            if (::sigaction(kSignals[i], nullptr, &p.previous[i]) != 0)
                return;
        p.previousTerminate = std::set_terminate(&onTerminate);
        p.ready.store(true, std::memory_order_release);
        for (int signal : kSignals)
            ::sigaction(signal, &action, nullptr);
    });
    return process().ready.load(std::memory_order_acquire);
}

// An alternate signal stack for the calling thread, when it has none yet.
void* makeAltStack()
{
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE))
        return nullptr;
    void* memory = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(memory, kAltStackSize);
        return nullptr;
    }
    return memory;
}

} // namespace

uint32_t win32CodeOf(int signal, int signalCode)
{
    switch (signal) {
    case SIGSEGV:
    case SIGBUS:
        return kCodeAccessViolation;
    case SIGFPE:
        switch (signalCode) {
        case FPE_INTDIV: return kCodeIntDivideByZero;
        case FPE_INTOVF: return kCodeIntOverflow;
        case FPE_FLTDIV: return kCodeFloatDivideByZero;
        case FPE_FLTOVF: return kCodeFloatOverflow;
        case FPE_FLTUND: return kCodeFloatUnderflow;
        case FPE_FLTRES: return kCodeFloatInexactResult;
        case FPE_FLTSUB: return kCodeArrayBoundsExceeded;
        default: return kCodeFloatInvalidOperation;
        }
    case SIGILL:
        return (signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG) ? kCodePrivilegedInstruction
                                                                      : kCodeIllegalInstruction;
    default:
        return 0;
    }
}

Win32Exception::Win32Exception(const FaultRecord& record) : code_(record.code), address_(record.address)
{
    lookUpModule(record.address, module_, sizeof module_);
    TextOut(text_, sizeof text_).text("Win32 exception (").decimal(code_).text(").");
}

Win32Exception::Win32Exception(const FaultRecord& record, const char* module)
    : code_(record.code), address_(record.address)
{
    copyText(module_, module);
    TextOut(text_, sizeof text_).text("Win32 exception (").decimal(code_).text(").");
}

AccessViolation::AccessViolation(const FaultRecord& record) : Win32Exception(record)
{
    accessed_ = record.accessed;
    writing_ = record.writing;
    describe();
}

AccessViolation::AccessViolation(const FaultRecord& record, const char* module)
    : Win32Exception(record, module)
{
    accessed_ = record.accessed;
    writing_ = record.writing;
    describe();
}

void AccessViolation::describe()
{
    TextOut(text_, sizeof text_)
        .text("Access violation ")
        .text(writing_ ? "writing" : "reading")
        .text(" address 0x")
        .hex(reinterpret_cast<uintptr_t>(accessed_), static_cast<int>(sizeof(void*) * 2))
        .text(".");
}

void seTranslator(const FaultRecord& record)
{
    if (record.code == kCodeAccessViolation)
        throw AccessViolation(record);
    throw Win32Exception(record);
}

bool installFaultTranslator()
{
    if (!installProcessHandlers())
        return false;
    if (currentState())
        return true;
    auto* state = new (std::nothrow) ThreadState;
    if (!state)
        return false;
    if (kUseAltStack)
        state->altStack = makeAltStack();
    if (::pthread_setspecific(process().key, state) != 0) {
        releaseThreadState(state);
        return false;
    }
    return true;
}

bool faultTranslatorInstalled()
{
    return currentState() != nullptr;
}

bool runFaultGuarded(void (*work)(void*), void* context, Win32Exception* unrecovered)
{
    installFaultTranslator();
    ThreadState* const state = currentState();
    if (!state) { // no translator: faults keep their default behaviour
        work(context);
        return true;
    }
    sigjmp_buf escape;
    sigjmp_buf* const outer = state->escape.load();
    if (sigsetjmp(escape, 1) != 0) {
        state->escape.store(outer);
        if (unrecovered)
            *unrecovered = state->fault;
        return false;
    }
    state->escape.store(&escape);
    try {
        work(context);
    } catch (...) {
        state->escape.store(outer);
        throw;
    }
    state->escape.store(outer);
    return true;
}

} // namespace plat
