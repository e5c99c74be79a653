#include "dorvel_library.h"

#include <cstdio>
#include <new>

#include "dorvel_device.h"

namespace dorvel {

const char* boardNameOfType(int16_t typeCode)
{
    switch (typeCode) {
    case 68:
        return "PXI-6533";
    case 211:
        return "PCI-DIO-32HS";
    case 215:
        return "DAQCard-6533";
    case 216:
        return "PCI-6534";
    default:
        return nullptr;
    }
}

std::string driverVersionText(uint32_t raw)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d%d", static_cast<int>(raw >> 8), static_cast<int>((raw >> 4) & 0xF),
                  static_cast<int>(raw & 0xF));
    return text;
}

DorvelLibrary::DorvelLibrary(std::shared_ptr<DioCard> card, std::shared_ptr<DebugLog> log, std::string iniPath)
    : Library(kErrGeneric), card_(std::move(card)), log_(std::move(log)), iniPath_(std::move(iniPath))
{
}

int DorvelLibrary::itemCount()
{
    return kHwInfoCount;
}

// Board probing over every board number; boards already known keep their record and id. A backend with
// no board set up has no devices (no error: a user without the card is not told of it at every start).
int DorvelLibrary::discover()
{
    if (!card_->hasBoards())
        return 0; // nothing set up: no devices and nothing to report
    uint32_t raw = 0;
    if (const int16_t status = card_->driverVersion(&raw))
        return hwkit::setGeneralError(kErrNidaq, "Nidaq call of %s failed, error code: %d",
                                      dioCallName(DioCall::Version), status);
    const std::string version = driverVersionText(raw);
    bool found = false;
    for (uint16_t board = 1; board <= kMaxBoardNumber; ++board) {
        int16_t type = 0;
        if (card_->initBoard(board, &type) != 0)
            continue;
        const char* name = boardNameOfType(type);
        if (!name)
            continue;
        found = true;
        if (known_[board])
            continue;
        try {
            addDevice(std::make_unique<DorvelDevice>(DeviceContext{card_, log_, iniPath_, raw, version}, board, name));
        } catch (const std::bad_alloc&) {
            return hwkit::setGeneralError(kErrMemory, "Memory allocation of %d bytes failed.",
                                          static_cast<int>(sizeof(DorvelDevice)));
        }
        known_[board] = true;
    }
    if (!found)
        return hwkit::setGeneralError(kErrNoCard, "No National Instruments card for Tarvik-2 was found.");
    return 0;
}

} // namespace dorvel
