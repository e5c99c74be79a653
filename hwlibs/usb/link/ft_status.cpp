#include "ft_link.h"

namespace usb {

const char* ftStatusText(int status)
{
    static const char* const kTexts[] = {"",
                                         "Invalid handle",
                                         "Device not found",
                                         "Device not opened",
                                         "IO error",
                                         "Insuficient resources",
                                         "Invalid parameter",
                                         "Invalid baud rate",
                                         "Device not opened for erase",
                                         "Device not opened for write",
                                         "Failed to write device",
                                         "EEPROM read failed",
                                         "EEPROM write failed",
                                         "EEPROM erase failed",
                                         "EEPROM not present",
                                         "EEPROM not programmed",
                                         "Invalid Args",
                                         "Not supported",
                                         "Other Error"};
    if (status < 0 || status >= static_cast<int>(sizeof kTexts / sizeof *kTexts))
        return kTexts[FT_OTHER_ERROR];
    return kTexts[status];
}

} // namespace usb
