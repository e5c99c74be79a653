// Hardware faults as C++ exceptions.
//
// A thread that calls installFaultTranslator() gets SIGSEGV, SIGBUS, SIGFPE and SIGILL raised by its own
// instructions thrown as AccessViolation or Win32Exception from the faulting instruction (all project
// code is built with -fnon-call-exceptions, so the fault unwinds like a throw). On every other thread the
// signals keep the behaviour they had before: the handler found at installation (a sanitizer's, say) or
// the default action, which ends the process. Signals sent by kill() or raise() are never translated.
//
// Codes keep the Windows numbering, so that reports read as they always did:
//   SIGSEGV, SIGBUS                 0xC0000005 access violation (accessed = si_addr)
//   SIGFPE  FPE_INTDIV              0xC0000094 integer divide by zero
//           FPE_INTOVF              0xC0000095 integer overflow
//           FPE_FLTDIV              0xC000008E float divide by zero
//           FPE_FLTOVF / FLTUND     0xC0000091 / 0xC0000093 float overflow / underflow
//           FPE_FLTRES              0xC000008F float inexact result
//           FPE_FLTSUB              0xC000008C array bounds exceeded
//           FPE_FLTINV and others   0xC0000090 float invalid operation
//   SIGILL  ILL_PRVOPC / ILL_PRVREG 0xC0000096 privileged instruction
//           others                  0xC000001D illegal instruction
// `writing` of an access violation comes from the page-fault error code (bit 1) in the signal context on
// x86-64; a fault that is no page fault (a non-canonical address, for one) reads as "reading".
//
// A fault that cannot become an exception safely — a second fault while the first is being translated,
// or a translated exception that cannot be delivered (no unwind information at the faulting address, a
// noexcept function on the way, so that std::terminate is called) — ends only the work that runs inside
// runFaultGuarded() on that thread. On a thread without such a guard it is written to stderr and the
// process ends with the signal's default action (or the previous terminate handler).
//
// The suite's modules share one translator (libTvkPlatform.so). A module that builds its own copy in
// installs its handler on first use, passing faults of threads it does not know to the handler it
// replaced; when that module is unloaded, it puts the replaced handler back, so a module that another
// one has installed its handler over must stay loaded while that one is.
//
// Known limits: a fault inside code that holds a lock without unwinding cleanups (the C library's
// allocator, for one) leaves that lock held; a fault that ends a guarded run skips the destructors of the
// frames between the fault and runFaultGuarded().
#pragma once

#include <climits>
#include <cstdint>
#include <exception>

namespace plat {

// Windows exception codes of the translated faults.
inline constexpr uint32_t kCodeAccessViolation = 0xC0000005u;
inline constexpr uint32_t kCodeIllegalInstruction = 0xC000001Du;
inline constexpr uint32_t kCodeArrayBoundsExceeded = 0xC000008Cu;
inline constexpr uint32_t kCodeFloatDivideByZero = 0xC000008Eu;
inline constexpr uint32_t kCodeFloatInexactResult = 0xC000008Fu;
inline constexpr uint32_t kCodeFloatInvalidOperation = 0xC0000090u;
inline constexpr uint32_t kCodeFloatOverflow = 0xC0000091u;
inline constexpr uint32_t kCodeFloatUnderflow = 0xC0000093u;
inline constexpr uint32_t kCodeIntDivideByZero = 0xC0000094u;
inline constexpr uint32_t kCodeIntOverflow = 0xC0000095u;
inline constexpr uint32_t kCodePrivilegedInstruction = 0xC0000096u;

// The Windows code of a hardware fault: signal number and si_code as in the table above; 0 for a signal
// that is not translated.
uint32_t win32CodeOf(int signal, int signalCode);

// One fault as the signal handler sees it.
struct FaultRecord {
    uint32_t code = 0;
    const void* address = nullptr;  // the faulting instruction
    const void* accessed = nullptr; // access violations: the address whose access failed
    bool writing = false;           // access violations: the failed access was a write
};

// A hardware fault. what() is "Win32 exception (%u)." with the code.
class Win32Exception : public std::exception {
public:
    static constexpr unsigned kTextChars = 65;
    static constexpr unsigned kModuleChars = PATH_MAX;

    Win32Exception() = default; // empty: code 0, no address, no module, no text
    // Takes code and address from the record; module is the file of the module holding the address.
    explicit Win32Exception(const FaultRecord& record);
    // The same with the module name given (null: empty), for callers that must not look it up.
    Win32Exception(const FaultRecord& record, const char* module);

    const char* what() const noexcept override { return text_; }
    uint32_t code() const { return code_; }
    const void* address() const { return address_; }
    // Full path of the module that contains address(); empty when it cannot be determined.
    const char* module() const { return module_; }

protected:
    char text_[kTextChars] = {};

private:
    uint32_t code_ = 0;
    const void* address_ = nullptr;
    char module_[kModuleChars] = {};
};

// Access violation (code 0xC0000005). what() is "Access violation %s address 0x%p." with "writing" or
// "reading" and the accessed address as 16 hex digits.
class AccessViolation : public Win32Exception {
public:
    explicit AccessViolation(const FaultRecord& record);
    AccessViolation(const FaultRecord& record, const char* module);

    const void* accessed() const { return accessed_; }
    bool writing() const { return writing_; }

private:
    void describe();

    const void* accessed_ = nullptr;
    bool writing_ = false;
};

// Throws the exception object of a fault: AccessViolation for code 0xC0000005, Win32Exception for any
// other code. The module is looked up from record.address.
[[noreturn]] void seTranslator(const FaultRecord& record);

// Turns hardware faults of the calling thread into exceptions from now until the thread ends. Idempotent.
// false when the handler could not be installed (the faults then keep their previous behaviour).
bool installFaultTranslator();
bool faultTranslatorInstalled(); // for the calling thread

// Installs the translator on the calling thread and runs work(context). Exceptions, translated ones among
// them, leave it as they left work. A fault that cannot become an exception safely ends work early: the
// call then returns false and, when unrecovered is given, fills it with the fault. true when work returned.
// Calls may nest; the innermost guard ends.
bool runFaultGuarded(void (*work)(void*), void* context, Win32Exception* unrecovered);

} // namespace plat
