// Fuzz entry: the bytes a bench supply answers. The first byte sets how the VISA library behaves (bit 0:
// a read that fills the buffer says "more to come"; bit 1: a read past the last byte times out instead
// of giving nothing; bits 2-3: the readings asked, current or voltage, one to four of them); the rest is
// every answer, handed out read by read, each read ending after a line end or with a full buffer, like
// the instrument's output queue. Opening the supply reads its identity first. Whatever the bytes, no
// read asks for more than its buffer, a query reads a bounded number of times, and a reading taken is a
// finite measured value (never the 9.9E37 of "no reading").
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "power_supply.h"

namespace {

using namespace probing;

constexpr ViStatus kMoreToCome = 0x3FFF0006;
constexpr ViStatus kTimeout = -1073807339;

struct Instrument {
    std::string queue; // what is still to be read
    bool sayMore = false;
    bool timeOutWhenEmpty = false;
    int reads = 0; // since the last write
};

Instrument g_instrument;

ViStatus openRm(ViSession* rm)
{
    *rm = 1;
    return 0;
}

ViStatus openVi(ViSession, const char*, uint32_t, uint32_t, ViSession* vi)
{
    *vi = 2;
    return 0;
}

ViStatus closeAny(ViSession) { return 0; }

ViStatus writeVi(ViSession vi, const unsigned char*, uint32_t count, uint32_t* returned)
{
    if (vi != 2)
        std::abort();
    g_instrument.reads = 0;
    *returned = count;
    return 0;
}

ViStatus readVi(ViSession vi, unsigned char* buffer, uint32_t count, uint32_t* returned)
{
    if (vi != 2 || count == 0 || count > 4096)
        std::abort();
    if (++g_instrument.reads > 100)
        std::abort(); // a query that reads without end
    std::string& q = g_instrument.queue;
    if (q.empty() && g_instrument.timeOutWhenEmpty) {
        *returned = 0;
        return kTimeout;
    }
    const size_t end = q.find('\n');
    const size_t answer = end == std::string::npos ? q.size() : end + 1;
    const size_t n = answer < count ? answer : count;
    std::memset(buffer, 0xA5, count); // what the read did not fill is no answer
    std::memcpy(buffer, q.data(), n);
    q.erase(0, n);
    *returned = static_cast<uint32_t>(n);
    return n < answer && g_instrument.sayMore ? kMoreToCome : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    g_instrument = Instrument{};
    g_instrument.sayMore = (data[0] & 1) != 0;
    g_instrument.timeOutWhenEmpty = (data[0] & 2) != 0;
    const int readings = 1 + ((data[0] >> 2) & 3);
    g_instrument.queue.assign(reinterpret_cast<const char*>(data) + 1, size - 1);

    VisaLibrary visa;
    visa.viOpenDefaultRM = &openRm;
    visa.viOpen = &openVi;
    visa.viClose = &closeAny;
    visa.viRead = &readVi;
    visa.viWrite = &writeVi;
    PowerSupply supply;
    if (!supply.open(&visa, 5))
        return 0;
    if (supply.identity().size() > 256)
        std::abort();
    for (int i = 0; i < readings; ++i) {
        double value = 0;
        const bool current = (data[0] >> (4 + i)) & 1;
        const bool taken = current ? supply.currentMa(&value) : supply.voltage(&value);
        if (taken && (!std::isfinite(value) || std::fabs(value) >= (current ? 9.9e40 : 9.9e37)))
            std::abort();
        if (!taken && supply.error().empty())
            std::abort();
    }
    return 0;
}
