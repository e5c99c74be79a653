// The USB readout-box library on the hardware-library kit: the settings file, the backend it names, and
// the device list kept across enumerations (a box that leaves the bus while its device is in use stays,
// reported with event 3; one nobody uses is retired).
//
// Settings (re-read at each hwGetFirst): [Link] Backend = ftdi (default) | sim, VendorId, ProductId;
// [SimBox] Boxes, Chips, ChipType, ChipboardId, Firmware, Fault, FaultAfter.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "hwlibs/common/hw_func_table.h"
#include "hwlibs/common/hw_library.h"
#include "sim/sim_box.h"
#include "usb_device.h"

namespace usb {

class UsbLibrary final : public hwkit::Library, public DeviceHost {
public:
    explicit UsbLibrary(std::string settingsPath);
    ~UsbLibrary() override;

    HwCallback callback() const override { return Library::callback(); }
    // hwGetNext: 0 and the next higher id of the list, or 1 when id is unknown or the last.
    int nextAfter(int* id);
    LinkBackend* backend() override;
    // The simulated backend while the settings choose it (for tests), else null.
    sim::SimBackend* simBackend();

protected:
    int discover() override;
    int itemCount() override { return kHwInfoCount; }
    const char* unknownIdText(const char* function) override;
    const char* unknownIdLastError() override { return "Critical error - Bad hwID in call: GetLastError."; }

private:
    void readSettings(); // under the enumeration lock

    const std::string settingsPath_;
    std::mutex backendMutex_; // guards backend_ and kind_; held only to hand the pointer out or replace it
    std::unique_ptr<LinkBackend> backend_;
    std::string kind_;
    std::string simSignature_;   // the [SimBox] settings the simulated boxes were last made from
    std::string faultSignature_; // the fault settings the simulated boxes were last given
    mutable std::mutex idsMutex_;  // guards ids_; held only to read or change it
    std::set<int> ids_;            // the ids in the list (retired ones removed)
};

// The library's function table: the kit's, with hwGetNext following the id it is given (not the cursor of
// the last enumeration).
template <auto library>
_HwFuncTable* funcTable()
{
    static _HwFuncTable* table = [] {
        _HwFuncTable* t = hwkit::funcTable<library>();
        t->hwGetNext = [](int* id) { return library().nextAfter(id); };
        return t;
    }();
    return table;
}

} // namespace usb
