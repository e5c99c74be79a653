// Fuzz entry: the bytes a readout box sends. The first byte chooses a command of the box's table; the
// rest is all the box sends, read by the library as it comes: first its own messages (drain), then the
// reply to that command, with one retry and short time-outs. Whatever the bytes, the command ends (true
// only with the reply to that very code and the status "OK"), every message handed on is whole and
// within what the box sent, and no command is left running.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "box_link.h"

namespace {

using namespace usb;

// The box's side of the link: the fuzzer's bytes, then silence; what the library sends is swallowed.
class StreamLink final : public FtLink {
public:
    StreamLink(const uint8_t* data, size_t size) : bytes_(data, data + size) {}
    int queueDepth(uint32_t* n) override
    {
        *n = static_cast<uint32_t>(bytes_.size() - pos_);
        return FT_OK;
    }
    int read(uint8_t* b, uint32_t wanted, uint32_t* got) override
    {
        const size_t n = std::min<size_t>(wanted, bytes_.size() - pos_);
        std::copy_n(bytes_.data() + pos_, n, b);
        pos_ += n;
        *got = static_cast<uint32_t>(n);
        return FT_OK;
    }
    int write(const uint8_t*, uint32_t n, uint32_t* written) override
    {
        *written = n;
        return FT_OK;
    }
    int purge() override { return FT_OK; }
    int close() override { return FT_OK; }

private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
};

struct SilentLog final : LinkLog {
    void message(int, const std::string&) override {}
    void packet(bool, const uint8_t*, size_t, const std::string&) override {}
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
    BoxLink link(std::make_unique<StreamLink>(data + 1, size - 1), &log, [&](BoxMessage&& m) {
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
    return 0;
}
