// Hardware faults turned into exceptions on the threads that install the translator, and kept fatal on
// the others.
#include "platform/fault.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>

#include "platform/module.h"

namespace {

// The faulting operations, out of line and hidden from the undefined-behaviour sanitizer, which would
// stop the process at the null dereference and the division before the hardware sees them.
#define FAULTING __attribute__((noinline, no_sanitize("undefined")))

volatile int zero = 0;
volatile int result = 0;

FAULTING int readThrough(const volatile int* p)
{
    return *p;
}

FAULTING void writeThrough(volatile int* p)
{
    *p = 1;
}

FAULTING void divideByZero()
{
    result = 7 / zero;
}

FAULTING void illegalInstruction()
{
    __builtin_trap();
}

// A fault that std::terminate stops on its way out.
FAULTING void readNullInNoexcept() noexcept
{
    readThrough(nullptr);
}

// A jump to address 0: no unwind information where the fault happens.
FAULTING void callNullFunction()
{
    void (*volatile function)() = nullptr;
    function();
}

const std::string& thisProgram()
{
    static const std::string path = plat::modulePathOf(reinterpret_cast<const void*>(&readThrough));
    return path;
}

// Runs body on a new thread that has installed the translator.
void onTranslatedThread(const std::function<void()>& body)
{
    std::thread thread([&] {
        ASSERT_TRUE(plat::installFaultTranslator());
        body();
    });
    thread.join();
}

// A page that may be read but not written.
class ReadOnlyPage {
public:
    ReadOnlyPage()
    {
        page_ = ::mmap(nullptr, kSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page_ == MAP_FAILED)
            page_ = nullptr;
    }
    ~ReadOnlyPage()
    {
        if (page_)
            ::munmap(page_, kSize);
    }
    int* address() const { return static_cast<int*>(page_); }

private:
    static constexpr size_t kSize = 4096;
    void* page_;
};

std::string hexAddress(const void* p)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

TEST(FaultTranslation, EachFaultBecomesItsExceptionAgainAndAgain)
{
    ReadOnlyPage page;
    ASSERT_NE(page.address(), nullptr);
    struct Case {
        const char* name;
        std::function<void()> fault;
        uint32_t code;
        std::string text;
        const void* accessed; // access violations
        bool writing;
    };
    const Case cases[] = {
        {"null read", [] { readThrough(nullptr); }, plat::kCodeAccessViolation,
         "Access violation reading address 0x0000000000000000.", nullptr, false},
        {"write to a read-only page", [&] { writeThrough(page.address()); }, plat::kCodeAccessViolation,
         "Access violation writing address " + hexAddress(page.address()) + ".", page.address(), true},
        {"null write", [] { writeThrough(nullptr); }, plat::kCodeAccessViolation,
         "Access violation writing address 0x0000000000000000.", nullptr, true},
        {"integer division by zero", [] { divideByZero(); }, plat::kCodeIntDivideByZero,
         "Win32 exception (3221225620).", nullptr, false},
        {"illegal instruction", [] { illegalInstruction(); }, plat::kCodeIllegalInstruction,
         "Win32 exception (3221225501).", nullptr, false},
    };
    // All on one thread: a fault after a translated fault is translated too.
    onTranslatedThread([&] {
        for (int round = 0; round < 2; ++round)
            for (const Case& c : cases) {
                SCOPED_TRACE(c.name);
                try {
                    c.fault();
                    ADD_FAILURE() << "no fault";
                } catch (const plat::AccessViolation& e) {
                    EXPECT_EQ(e.code(), c.code);
                    EXPECT_EQ(e.what(), c.text);
                    EXPECT_EQ(e.accessed(), c.accessed);
                    EXPECT_EQ(e.writing(), c.writing);
                    EXPECT_EQ(e.module(), thisProgram());
                    EXPECT_EQ(plat::modulePathOf(e.address()), thisProgram()) << "the faulting instruction";
                } catch (const plat::Win32Exception& e) {
                    EXPECT_EQ(e.code(), c.code);
                    EXPECT_EQ(e.what(), c.text);
                    EXPECT_EQ(e.module(), thisProgram());
                    EXPECT_EQ(plat::modulePathOf(e.address()), thisProgram());
                }
            }
    });
}

TEST(FaultTranslation, TranslatorIsPerThread)
{
    std::thread([] {
        EXPECT_FALSE(plat::faultTranslatorInstalled());
        EXPECT_TRUE(plat::installFaultTranslator());
        EXPECT_TRUE(plat::installFaultTranslator()) << "installing twice is harmless";
        EXPECT_TRUE(plat::faultTranslatorInstalled());
    }).join();
    std::thread([] { EXPECT_FALSE(plat::faultTranslatorInstalled()); }).join();
}

TEST(FaultTranslation, SignalsMapToWindowsCodes)
{
    struct Case {
        int signal;
        int signalCode;
        uint32_t code;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, 0xC0000005u}, {SIGSEGV, SEGV_ACCERR, 0xC0000005u},
        {SIGSEGV, 0x80 /* SI_KERNEL */, 0xC0000005u}, {SIGBUS, BUS_ADRERR, 0xC0000005u},
        {SIGFPE, FPE_INTDIV, 0xC0000094u}, {SIGFPE, FPE_INTOVF, 0xC0000095u},
        {SIGFPE, FPE_FLTDIV, 0xC000008Eu}, {SIGFPE, FPE_FLTOVF, 0xC0000091u},
        {SIGFPE, FPE_FLTUND, 0xC0000093u}, {SIGFPE, FPE_FLTRES, 0xC000008Fu},
        {SIGFPE, FPE_FLTINV, 0xC0000090u}, {SIGFPE, FPE_FLTSUB, 0xC000008Cu},
        {SIGILL, ILL_ILLOPC, 0xC000001Du}, {SIGILL, ILL_ILLOPN, 0xC000001Du},
        {SIGILL, ILL_PRVOPC, 0xC0000096u}, {SIGILL, ILL_PRVREG, 0xC0000096u},
        {SIGABRT, 0, 0u}, {SIGTERM, 0, 0u},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::win32CodeOf(c.signal, c.signalCode), c.code) << c.signal << "/" << c.signalCode;
}

TEST(FaultTranslation, TranslatorThrowsTheExceptionOfTheRecord)
{
    struct Case {
        plat::FaultRecord record;
        bool accessViolation;
        const char* text;
    };
    const void* here = reinterpret_cast<const void*>(&readThrough);
    const Case cases[] = {
        {{plat::kCodeAccessViolation, here, reinterpret_cast<const void*>(0x1234), true}, true,
         "Access violation writing address 0x0000000000001234."},
        {{plat::kCodeAccessViolation, here, reinterpret_cast<const void*>(~uintptr_t{0}), false}, true,
         "Access violation reading address 0xFFFFFFFFFFFFFFFF."},
        {{plat::kCodeIntOverflow, here, nullptr, false}, false, "Win32 exception (3221225621)."},
        {{0, nullptr, nullptr, false}, false, "Win32 exception (0)."},
    };
    for (const Case& c : cases) {
        try {
            plat::seTranslator(c.record);
        } catch (const plat::Win32Exception& e) {
            // A copy keeps every field.
            const plat::Win32Exception copy = e;
            EXPECT_STREQ(copy.what(), c.text);
            EXPECT_EQ(copy.code(), c.record.code);
            EXPECT_EQ(copy.address(), c.record.address);
            EXPECT_EQ(copy.module(), c.record.address ? thisProgram() : std::string());
            const auto* violation = dynamic_cast<const plat::AccessViolation*>(&e);
            ASSERT_EQ(violation != nullptr, c.accessViolation) << c.text;
            if (violation) {
                EXPECT_EQ(violation->accessed(), c.record.accessed);
                EXPECT_EQ(violation->writing(), c.record.writing);
            }
        }
    }
}

// Faults whose exception cannot reach a handler: the guarded run ends, the thread goes on.
TEST(FaultTranslation, UndeliverableFaultEndsOnlyTheGuardedRun)
{
    struct Case {
        const char* name;
        void (*fault)();
        const char* module; // empty: no module at the faulting address
    };
    const Case cases[] = {
        {"noexcept function on the way", [] { readNullInNoexcept(); }, "program"},
        {"jump to address 0", [] { callNullFunction(); }, ""},
    };
    onTranslatedThread([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            plat::Win32Exception fault;
            const bool completed = plat::runFaultGuarded(
                [](void* fault) { reinterpret_cast<void (*)()>(fault)(); },
                reinterpret_cast<void*>(c.fault), &fault);
            EXPECT_FALSE(completed);
            EXPECT_EQ(fault.code(), plat::kCodeAccessViolation);
            EXPECT_STREQ(fault.what(), "Access violation reading address 0x0000000000000000.");
            EXPECT_EQ(fault.module(), *c.module ? thisProgram() : std::string());
        }
        // The thread still translates, and a guard inside a guard ends only the inner run.
        EXPECT_THROW(readThrough(nullptr), plat::AccessViolation);
        struct Nested {
            bool innerCompleted = true;
            bool outerReached = false;
        } nested;
        const bool outerCompleted = plat::runFaultGuarded(
            [](void* context) {
                auto* n = static_cast<Nested*>(context);
                n->innerCompleted = plat::runFaultGuarded([](void*) { readNullInNoexcept(); }, nullptr, nullptr);
                n->outerReached = true;
            },
            &nested, nullptr);
        EXPECT_TRUE(outerCompleted);
        EXPECT_FALSE(nested.innerCompleted);
        EXPECT_TRUE(nested.outerReached);
    });
}

TEST(FaultTranslation, GuardedRunPassesExceptionsAndResults)
{
    onTranslatedThread([] {
        int value = 0;
        EXPECT_TRUE(plat::runFaultGuarded([](void* v) { *static_cast<int*>(v) = 5; }, &value, nullptr));
        EXPECT_EQ(value, 5);
        EXPECT_THROW(plat::runFaultGuarded([](void*) { readThrough(nullptr); }, nullptr, nullptr),
                     plat::AccessViolation);
        EXPECT_THROW(plat::runFaultGuarded([](void*) { throw std::runtime_error("x"); }, nullptr, nullptr),
                     std::runtime_error);
        // The guard is gone after an exception: an undeliverable fault now ends the outer run only.
        EXPECT_FALSE(plat::runFaultGuarded([](void*) { readNullInNoexcept(); }, nullptr, nullptr));
    });
}

void* currentSegvHandler()
{
    struct sigaction action{};
    ::sigaction(SIGSEGV, nullptr, &action);
    return reinterpret_cast<void*>(action.sa_sigaction);
}

// Each module that links the platform layer has its own translator (a plug-in beside the loader, say).
TEST(FaultTranslation, CopiesInOtherModulesChainAndUnhookWhenUnloaded)
{
    onTranslatedThread([] {}); // this program's handler is in place
    void* const programHandler = currentSegvHandler();

    plat::Module library;
    ASSERT_TRUE(library.open(TEST_FAULT_MODULE_PATH)) << library.error();
    auto install = reinterpret_cast<int (*)()>(library.symbol("platformFaultModuleInstall"));
    ASSERT_NE(install, nullptr) << library.error();
    int installed = 0;
    std::thread([&] { installed = install(); }).join();
    EXPECT_EQ(installed, 1);
    EXPECT_NE(currentSegvHandler(), programHandler) << "the library's handler is on top";
    // Faults of this program's threads pass through the library's handler to this program's.
    onTranslatedThread([] { EXPECT_THROW(readThrough(nullptr), plat::AccessViolation); });

    library.close();
    EXPECT_EQ(currentSegvHandler(), programHandler) << "unloading put the replaced handler back";
    onTranslatedThread([] { EXPECT_THROW(readThrough(nullptr), plat::AccessViolation); });
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Without the translator a fault ends the process as it always did (under a sanitizer: with its report).
bool diedOfTheFault(int status)
{
    if (kSanitized)
        return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
}

TEST(FaultTranslationDeathTest, ThreadWithoutTranslatorDiesOfTheFault)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            onTranslatedThread([] {}); // the handler is in place, for another thread
            readThrough(nullptr);
        },
        diedOfTheFault, "");
}

TEST(FaultTranslationDeathTest, UndeliverableFaultWithoutGuardEndsTheProcessWithAReport)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            plat::installFaultTranslator();
            readNullInNoexcept();
        },
        "Fatal hardware fault in module .*: Access violation reading address 0x0000000000000000\\.");
}

} // namespace
