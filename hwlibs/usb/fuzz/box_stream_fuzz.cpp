// Fuzz entry: the bytes a readout box sends. The first byte chooses a command of the box's table; the
// rest is all the box sends, read by the library as it comes: first its own messages (drain), then the
// reply to that command, with one retry and short time-outs. Whatever the bytes, the command ends (true
// only with the reply to that very code and the status "OK"), every message handed on is whole and
// within what the box sent, the packet dump shows the bytes taken once each and in order, and no command
// is left running.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "box_link.h"
#include "../tests/script_link.h"

namespace {

using namespace usb;

// Keeps what the packet dump shows of the received bytes.
struct SilentLog final : LinkLog {
    std::string received;
    void message(int, const std::string&) override {}
    void packet(bool transmitted, const uint8_t* data, size_t size, const std::string&) override
    {
        if (!transmitted)
            received.append(reinterpret_cast<const char*>(data), size);
    }
};

size_t commandCount()
{
    size_t n = 0;
    while (kBoxCommands[n].code != 0 || kBoxCommands[n].name != nullptr)
        ++n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const size_t commands = commandCount();
    const BoxCommand& command = kBoxCommands[data[0] % commands];
    const uint8_t code = static_cast<uint8_t>(command.code);

    SilentLog log;
    size_t largest = 0;
    const std::string sent(reinterpret_cast<const char*>(data) + 1, size - 1);
    BoxLink link(std::make_unique<ScriptLink>(sent), &log, [&](BoxMessage&& m) {
        largest = std::max({largest, m.data.size(), m.text.size()});
    });
    link.setTimeout(0.002);
    link.setSyncTimeout(0.002);

    link.drain();
    const std::vector<uint8_t> params(static_cast<size_t>(std::max(command.requestLength, 0)), 0);
    Reply reply;
    const bool ok = link.execute(code, params.data(), params.size(), &reply, 1);
    if (ok && (reply.code != code || reply.status != "OK"))
        std::abort();
    if (largest > size)
        std::abort(); // a message cannot hold more than the box sent
    if (link.commandRunning())
        std::abort();
    if (sent.compare(0, log.received.size(), log.received) != 0)
        std::abort(); // the dump shows each byte taken once, in the order sent
    return 0;
}
