#include "usb_library.h"

#include <algorithm>
#include <cctype>

#include "link/ftdi_backend.h"
#include "platform/ini.h"
#include "box_wire.h"

namespace usb {
namespace {

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string iniText(const std::string& file, const char* section, const char* key, const char* def)
{
    char value[256];
    plat::getProfileString(section, key, def, value, sizeof value, file.c_str());
    return value;
}

} // namespace

UsbLibrary::UsbLibrary(std::string settingsPath) : Library(-1), settingsPath_(std::move(settingsPath)) {}

UsbLibrary::~UsbLibrary() = default;

const char* UsbLibrary::unknownIdText(const char* function)
{
    if (function && std::string(function) == "hwSetCbTag")
        return "hwSetCallback: Unknown device ID";
    return "Unknown device ID";
}

LinkBackend* UsbLibrary::backend()
{
    std::lock_guard<std::mutex> guard(backendMutex_);
    return backend_.get();
}

sim::SimBackend* UsbLibrary::simBackend()
{
    std::lock_guard<std::mutex> guard(backendMutex_);
    return kind_ == "sim" ? static_cast<sim::SimBackend*>(backend_.get()) : nullptr;
}

void UsbLibrary::readSettings()
{
    const std::string& f = settingsPath_;
    std::string kind = lower(iniText(f, "Link", "Backend", "ftdi"));
    if (kind != "sim")
        kind = "ftdi";
    std::lock_guard<std::mutex> guard(backendMutex_);
    if (kind == "ftdi") {
        if (kind_ != kind) {
            const int vendor = plat::getProfileInt("Link", "VendorId", wire::kDefaultVendorId, f.c_str());
            const int product = plat::getProfileInt("Link", "ProductId", wire::kDefaultProductId, f.c_str());
            backend_ = std::make_unique<FtdiBackend>(vendor, product);
            kind_ = kind;
        }
        return;
    }
    sim::BoxConfig config;
    const int boxes = std::clamp(plat::getProfileInt("SimBox", "Boxes", 1, f.c_str()), 0, 16);
    const int chips = plat::getProfileInt("SimBox", "Chips", 1, f.c_str());
    config.chips = chips == 2 || chips == 4 ? chips : 1;
    config.chipType = std::clamp(plat::getProfileInt("SimBox", "ChipType", 1, f.c_str()), 1, 3);
    config.chipboardId = iniText(f, "SimBox", "ChipboardId", config.chipboardId.c_str());
    config.firmware = iniText(f, "SimBox", "Firmware", config.firmware.c_str());
    const sim::Fault fault = sim::faultFromName(iniText(f, "SimBox", "Fault", ""));
    const int faultAfter = std::max(plat::getProfileInt("SimBox", "FaultAfter", 0, f.c_str()), 0);
    const std::string faultSignature = std::to_string(static_cast<int>(fault)) + "/" + std::to_string(faultAfter);
    const bool faultChanged = faultSignature != faultSignature_;
    const std::string signature = std::to_string(boxes) + "/" + std::to_string(config.chips) + "/" +
                                  std::to_string(config.chipType) + "/" + config.chipboardId + "/" + config.firmware;
    if (kind_ == kind && signature == simSignature_) {
        // The same boxes: a changed fault is given to them, counted from now, so that the devices on
        // their open links meet it.
        if (faultChanged)
            for (const auto& box : static_cast<sim::SimBackend*>(backend_.get())->boxes())
                box->injectFault(fault, faultAfter, 1);
        faultSignature_ = faultSignature;
        return;
    }
    // As on the bus: a box whose serial stays in the settings, shaped as before, stays (with the link a
    // device holds to it); a changed fault is given to it, counted from now. Boxes that are no longer
    // there, or are shaped otherwise, leave the bus; the new ones are plugged in.
    std::vector<std::shared_ptr<sim::SimBox>> old;
    if (kind_ == "sim")
        old = static_cast<sim::SimBackend*>(backend_.get())->boxes();
    std::vector<std::shared_ptr<sim::SimBox>> set;
    for (int i = 0; i < boxes; ++i) {
        sim::BoxConfig c = config;
        char serial[16];
        std::snprintf(serial, sizeof serial, "SIM%04d", i + 1);
        c.serial = serial;
        c.description = std::string(wire::kBoxDescriptionPrefix) + "Simulated box " + std::to_string(i + 1);
        auto kept = std::find_if(old.begin(), old.end(), [&](const std::shared_ptr<sim::SimBox>& box) {
            const sim::BoxConfig& o = box->config();
            return o.serial == c.serial && o.description == c.description && o.chips == c.chips &&
                   o.chipType == c.chipType && o.chipboardId == c.chipboardId && o.firmware == c.firmware;
        });
        if (kept != old.end()) {
            if (faultChanged)
                (*kept)->injectFault(fault, faultAfter, 1);
            set.push_back(*kept);
            old.erase(kept);
            continue;
        }
        auto box = std::make_shared<sim::SimBox>(c);
        if (fault != sim::Fault::None)
            box->injectFault(fault, faultAfter, 1);
        set.push_back(box);
    }
    for (const auto& box : old)
        box->unplug();
    if (kind_ == "sim") {
        static_cast<sim::SimBackend*>(backend_.get())->setBoxes(set);
    } else {
        auto sim = std::make_unique<sim::SimBackend>();
        sim->setBoxes(set);
        // A device whose link is still open keeps its box alive through the link; the old backend may go.
        backend_ = std::move(sim);
        kind_ = kind;
    }
    simSignature_ = signature;
    faultSignature_ = faultSignature;
}

int UsbLibrary::nextAfter(int* id)
{
    return guardGeneral([&] {
        if (!id)
            return hwkit::setGeneralError(errorCode(), "Invalid parameter.");
        std::lock_guard<std::mutex> guard(idsMutex_);
        const auto at = ids_.find(*id);
        if (at == ids_.end() || std::next(at) == ids_.end())
            return static_cast<int>(HW_NO_MORE_DEVICES);
        *id = *std::next(at);
        return 0;
    });
}

int UsbLibrary::discover()
{
    readSettings();
    std::vector<LinkInfo> found;
    if (LinkBackend* b = backend())
        b->enumerate(&found);
    const int count = deviceCount();
    std::vector<UsbDevice*> devices;
    for (int id = 0; id < count; ++id) {
        hwkit::LockedDevice d = lockDevice(id);
        if (d) {
            auto* device = static_cast<UsbDevice*>(d.get());
            device->seen = false;
            devices.push_back(device);
        }
    }
    for (const LinkInfo& info : found) {
        // Matched by serial: a box renamed by its initialisation ("?" names) is the same box.
        auto same = std::find_if(devices.begin(), devices.end(), [&](UsbDevice* d) {
            return info.serial.empty() ? d->linkInfo().description == info.description
                                       : d->linkInfo().serial == info.serial;
        });
        if (same != devices.end()) {
            (*same)->seen = true;
            // The box is on the bus; a device whose link died meanwhile (unplugged and plugged in again
            // since the last search) gets a new one, or says why not.
            if (hwkit::LockedDevice locked = lockDevice((*same)->id()))
                (*same)->reopenIfDead();
            continue;
        }
        auto device = std::make_unique<UsbDevice>(deviceCount(), info, this);
        device->seen = true;
        const int id = addDevice(std::move(device));
        std::lock_guard<std::mutex> guard(idsMutex_);
        ids_.insert(id);
    }
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
        UsbDevice* d = *it;
        if (d->seen)
            continue;
        if (d->tag()) {
            d->reportGone();
            continue;
        }
        {
            hwkit::LockedDevice locked = lockDevice(d->id());
            if (locked)
                d->closeDevice();
        }
        retireDevice(d->id());
        std::lock_guard<std::mutex> guard(idsMutex_);
        ids_.erase(d->id());
    }
    return 0;
}

} // namespace usb
