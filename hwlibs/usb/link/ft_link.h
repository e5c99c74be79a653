// The link to one readout box: the few operations of the USB serial chip that the protocol needs, each
// giving a status code 0-18 of the chip's driver (0 success; texts in ftStatusText). Two backends give
// links: the USB one over libftdi1 and the simulated box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usb {

enum FtStatus {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_OTHER_ERROR = 18
};

// The texts of the status codes ("" for 0, "Other Error" for anything unknown).
const char* ftStatusText(int status);

struct LinkInfo {
    std::string description; // "Tarvik2 ..." for a readout box
    std::string serial;
};

class FtLink {
public:
    virtual ~FtLink() = default;
    virtual int queueDepth(uint32_t* bytes) = 0; // bytes waiting to be read
    virtual int read(uint8_t* buffer, uint32_t wanted, uint32_t* got) = 0; // at most wanted, never waits
    virtual int write(const uint8_t* data, uint32_t size, uint32_t* written) = 0;
    virtual int purge() = 0; // drops what waits in both directions
    virtual int close() = 0;
};

class LinkBackend {
public:
    virtual ~LinkBackend() = default;
    // The boxes present now; a backend that cannot reach the bus lists none.
    virtual int enumerate(std::vector<LinkInfo>* found) = 0;
    virtual int open(const LinkInfo& box, std::unique_ptr<FtLink>* link) = 0;
};

} // namespace usb
