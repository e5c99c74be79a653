// A link whose box side is a fixed byte string, then silence; what the library writes is swallowed.
// For the link tests and the fuzz entry of the box's byte stream.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "link/ft_link.h"

namespace usb {

class ScriptLink final : public FtLink {
public:
    explicit ScriptLink(std::string bytes) : bytes_(std::move(bytes)) {}
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
    std::string bytes_;
    size_t pos_ = 0;
};

} // namespace usb
