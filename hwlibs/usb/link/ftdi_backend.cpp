#include "ftdi_backend.h"

#include <ftdi.h>

#include <algorithm>
#include <cstring>

#include "box_wire.h"

namespace usb {
namespace {

constexpr int kBaudRate = 3000000;
constexpr unsigned char kLatencyMs = 2;
constexpr int kReadTimeoutMs = 1;  // one drain of the chip waits at most this long
constexpr int kWriteTimeoutMs = 1000;
constexpr size_t kMaxBuffered = 16u << 20; // a box cannot make us hold more than this

struct Context {
    ftdi_context* ctx = ftdi_new();
    ~Context()
    {
        if (ctx)
            ftdi_free(ctx);
    }
};

class FtdiLink final : public FtLink {
public:
    explicit FtdiLink(ftdi_context* ctx) : ctx_(ctx) {}
    ~FtdiLink() override { close(); }

    int queueDepth(uint32_t* bytes) override
    {
        *bytes = 0;
        if (!ctx_)
            return FT_INVALID_HANDLE;
        unsigned char chunk[4096];
        while (buffer_.size() < kMaxBuffered) {
            const int n = ftdi_read_data(ctx_, chunk, sizeof chunk);
            if (n < 0)
                return FT_IO_ERROR;
            if (n == 0)
                break;
            buffer_.insert(buffer_.end(), chunk, chunk + n);
        }
        *bytes = static_cast<uint32_t>(buffer_.size());
        return FT_OK;
    }
    int read(uint8_t* buffer, uint32_t wanted, uint32_t* got) override
    {
        *got = 0;
        if (!ctx_)
            return FT_INVALID_HANDLE;
        const size_t n = std::min<size_t>(wanted, buffer_.size());
        std::memcpy(buffer, buffer_.data(), n);
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(n));
        *got = static_cast<uint32_t>(n);
        return FT_OK;
    }
    int write(const uint8_t* data, uint32_t size, uint32_t* written) override
    {
        *written = 0;
        if (!ctx_)
            return FT_INVALID_HANDLE;
        const int n = ftdi_write_data(ctx_, data, static_cast<int>(size));
        if (n < 0)
            return FT_IO_ERROR;
        *written = static_cast<uint32_t>(n);
        return FT_OK;
    }
    int purge() override
    {
        if (!ctx_)
            return FT_INVALID_HANDLE;
        buffer_.clear();
        return ftdi_tcioflush(ctx_) < 0 ? FT_IO_ERROR : FT_OK;
    }
    int close() override
    {
        if (!ctx_)
            return FT_INVALID_HANDLE;
        const int r = ftdi_usb_close(ctx_);
        ftdi_free(ctx_);
        ctx_ = nullptr;
        return r < 0 ? FT_IO_ERROR : FT_OK;
    }

private:
    ftdi_context* ctx_;
    std::vector<uint8_t> buffer_;
};

} // namespace

int FtdiBackend::enumerate(std::vector<LinkInfo>* found)
{
    found->clear();
    Context c;
    if (!c.ctx)
        return FT_INSUFFICIENT_RESOURCES;
    ftdi_device_list* list = nullptr;
    if (ftdi_usb_find_all(c.ctx, &list, vendor_, product_) < 0)
        return FT_OK; // no access to the bus: no box
    for (ftdi_device_list* d = list; d; d = d->next) {
        char description[128] = "";
        char serial[64] = "";
        if (ftdi_usb_get_strings(c.ctx, d->dev, nullptr, 0, description, sizeof description, serial, sizeof serial) < 0)
            continue;
        if (std::strncmp(description, wire::kBoxDescriptionPrefix, std::strlen(wire::kBoxDescriptionPrefix)) != 0)
            continue;
        found->push_back({description, serial});
    }
    ftdi_list_free(&list);
    return FT_OK;
}

int FtdiBackend::open(const LinkInfo& box, std::unique_ptr<FtLink>* link)
{
    ftdi_context* ctx = ftdi_new();
    if (!ctx)
        return FT_INSUFFICIENT_RESOURCES;
    if (ftdi_usb_open_desc(ctx, vendor_, product_, nullptr, box.serial.empty() ? nullptr : box.serial.c_str()) < 0) {
        ftdi_free(ctx);
        return FT_DEVICE_NOT_FOUND;
    }
    ctx->usb_read_timeout = kReadTimeoutMs;
    ctx->usb_write_timeout = kWriteTimeoutMs;
    if (ftdi_set_baudrate(ctx, kBaudRate) < 0 || ftdi_set_latency_timer(ctx, kLatencyMs) < 0 ||
        ftdi_tcioflush(ctx) < 0) {
        ftdi_usb_close(ctx);
        ftdi_free(ctx);
        return FT_IO_ERROR;
    }
    *link = std::make_unique<FtdiLink>(ctx);
    return FT_OK;
}

} // namespace usb
