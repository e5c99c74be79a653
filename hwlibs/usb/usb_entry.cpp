// The entry of hwlibs/tvkHwUSB.so: the one library object, its settings file beside the library
// (tvkHwUSB.ini), and getMandatoryFuncs.
#include <string>

#include "tvk_export.h"
#include "usb_library.h"

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void);

namespace {

std::string settingsPath()
{
    return hwkit::settingsPathOf(reinterpret_cast<const void*>(&getMandatoryFuncs));
}

usb::UsbLibrary& usbLibrary()
{
    static usb::UsbLibrary instance(settingsPath());
    return instance;
}

} // namespace

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void)
{
    return usb::funcTable<&usbLibrary>();
}
