// The USB backend: readout boxes on the USB bus through libftdi1. The chip's driver has no call for the
// depth of the receive queue, so the link drains what the chip holds into a buffer of its own and reports
// that buffer's size. Without access to the bus (no USB, no rights) the backend lists no box.
#pragma once

#include "ft_link.h"

namespace usb {

class FtdiBackend final : public LinkBackend {
public:
    FtdiBackend(int vendorId, int productId) : vendor_(vendorId), product_(productId) {}
    int enumerate(std::vector<LinkInfo>* found) override;
    int open(const LinkInfo& box, std::unique_ptr<FtLink>* link) override;

private:
    int vendor_;
    int product_;
};

} // namespace usb
