// The library side: enumeration of the card's boards on the hardware-library kit. A board keeps its
// record and id for the life of the library: a later hwGetFirst adds only boards not seen before.
#pragma once

#include <memory>
#include <string>

#include "debug_log.h"
#include "dio/dio_card.h"
#include "hwlibs/common/hw_library.h"

namespace dorvel {

constexpr int kMaxBoardNumber = 16;

// The board name of an accepted device type code; null for a code this library does not drive.
const char* boardNameOfType(int16_t typeCode);
// The driver version as the items show it: "%d.%d%d" of raw >> 8, bits 4-7 and bits 0-3.
std::string driverVersionText(uint32_t raw);

class DorvelLibrary final : public hwkit::Library {
public:
    DorvelLibrary(std::shared_ptr<DioCard> card, std::shared_ptr<DebugLog> log, std::string iniPath);

    DebugLog* log() const { return log_.get(); }

protected:
    int discover() override;
    int itemCount() override;

private:
    std::shared_ptr<DioCard> card_;
    std::shared_ptr<DebugLog> log_;
    std::string iniPath_;
    bool known_[kMaxBoardNumber + 1] = {}; // boards with a record; guarded by the enumeration lock
};

} // namespace dorvel
