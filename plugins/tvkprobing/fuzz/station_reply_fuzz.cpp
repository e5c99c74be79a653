// Fuzz entry: the bytes a probe station sends after a command, through a pseudo-terminal into the
// command line's wait for the reply (a time-out of a few milliseconds), and the same bytes as a whole
// reply to the reply parser. Whatever the bytes, the wait ends with one of its results (never "aborted",
// as nobody aborts); a result that came from a reply is the parser's result of the bytes up to the first
// '@', however the line cut them into pieces; an error number is one the station can send (2 or more).
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/serial_port.h"
#include "station_link.h"

namespace {

using namespace probing;

bool knownResult(int r)
{
    return r == kStationDone || r == kStationTimeout || r == kStationPortError || r == kStationBadError || r > 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const int parsed = parseStationReply(bytes + '@');
    if (!knownResult(parsed) || parsed == kStationTimeout || parsed == kStationPortError)
        std::abort();

    if (size > 8192)
        return 0; // more than a pseudo-terminal's queue holds
    plat::PseudoTerminal pty;
    if (!pty.open())
        return 0;
    StationLink link;
    if (!link.open(pty.slavePath(), 9600, 5, ""))
        return 0;
    if (!pty.write(data, size, 100))
        return 0;
    const std::atomic<bool> abort{false};
    const int r = link.await(kAwaitPos, abort);
    if (!knownResult(r))
        std::abort();
    if (r == kStationTimeout || r == kStationPortError)
        return 0;
    const void* at = std::memchr(data, '@', size);
    if (!at)
        std::abort(); // a reply without its end
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(at) - data) + 1;
    if (parseStationReply(bytes.substr(0, length)) != r)
        std::abort();
    return 0;
}
