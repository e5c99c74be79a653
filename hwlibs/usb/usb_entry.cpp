// The entry of hwlibs/tvkHwUSB.so: the one library object, its settings file beside the library
// (tvkHwUSB.ini), and getMandatoryFuncs.
#include <string>

#include "hwlibs/common/hw_func_table.h"
#include "platform/module.h"
#include "tvk_export.h"
#include "usb_library.h"

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void);

namespace {

std::string settingsPath()
{
    std::string path = plat::modulePathOf(reinterpret_cast<const void*>(&getMandatoryFuncs));
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.replace(dot + 1, std::string::npos, "ini");
    else
        path += ".ini";
    return path;
}

usb::UsbLibrary& usbLibrary()
{
    static usb::UsbLibrary instance(settingsPath());
    return instance;
}

} // namespace

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void)
{
    return hwkit::funcTable<&usbLibrary>();
}
