#include "registry.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <set>

#include "hwlib.h"
#include "platform/module.h"

namespace {

constexpr size_t kMaxMessage = 4095;

} // namespace

DeviceRegistry& DeviceRegistry::instance()
{
    // Never destroyed: devices and libraries are released by exit, not by the end of the process.
    static DeviceRegistry* registry = new DeviceRegistry;
    return *registry;
}

std::string DeviceRegistry::moduleFolder() const
{
    {
        std::lock_guard<std::mutex> guard(msgMutex_);
        if (!folderOverride_.empty())
            return folderOverride_;
    }
    return plat::moduleFolderOf(reinterpret_cast<const void*>(&DeviceRegistry::instance));
}

void DeviceRegistry::setModuleFolderOverride(std::string folder)
{
    std::lock_guard<std::mutex> guard(msgMutex_);
    folderOverride_ = std::move(folder);
}

int DeviceRegistry::setMessage(int code, const char* format, ...)
{
    char text[kMaxMessage + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    {
        std::lock_guard<std::mutex> guard(msgMutex_);
        msgCode_ = code;
        msgText_ = text;
    }
    notifyDevice(callbacks_.infoMsg, -1);
    return code;
}

void DeviceRegistry::message(int* code, std::string* text) const
{
    std::lock_guard<std::mutex> guard(msgMutex_);
    if (code)
        *code = msgCode_;
    if (text)
        *text = msgText_;
}

std::shared_ptr<TvkDevice> DeviceRegistry::device(unsigned devIndex) const
{
    std::lock_guard<std::mutex> guard(slotsMutex_);
    if (devIndex >= slots_.size())
        return nullptr;
    return slots_[devIndex];
}

size_t DeviceRegistry::slotCount() const
{
    std::lock_guard<std::mutex> guard(slotsMutex_);
    return slots_.size();
}

int DeviceRegistry::init()
{
    std::lock_guard<std::recursive_mutex> change(changeMutex_);
    exitLocked();
    const std::string folder = moduleFolder();
    std::error_code ignored;
    std::filesystem::create_directory(folder + "/configs", ignored);
    std::filesystem::create_directory(folder + "/plugins", ignored);

    loadLibraries();
    std::vector<std::shared_ptr<HwLibrary>> libraries;
    {
        std::lock_guard<std::mutex> guard(slotsMutex_);
        libraries = libraries_;
    }
    for (const auto& library : libraries) {
        int added = 0;
        if (enumerate(library, false, &added) == TVK_ERR_ALLOC)
            continue;
        setMessage(0, "Number of successfully initialized devices (%s): %d", library->path().c_str(), added);
    }
    std::lock_guard<std::mutex> guard(slotsMutex_);
    initialised_ = true;
    return 0;
}

void DeviceRegistry::loadLibraries()
{
    const std::string folder = moduleFolder() + "/hwlibs";
    std::vector<std::string> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& path = it->path();
        std::error_code typeError;
        if (path.extension() == ".so" && it->is_regular_file(typeError))
            files.push_back(path.string());
    }
    if (files.empty()) {
        setMessage(TVK_ERR_NO_HWLIB, "No HW library (%s) was found", (folder + "/*.so").c_str());
        return;
    }
    std::sort(files.begin(), files.end()); // a stable order of device indices
    for (const std::string& file : files) {
        int code = 0;
        std::string text;
        std::shared_ptr<HwLibrary> library = HwLibrary::load(file, &code, &text);
        if (!library) {
            setMessage(code, "%s", text.c_str());
            continue;
        }
        std::lock_guard<std::mutex> guard(slotsMutex_);
        libraries_.push_back(std::move(library));
    }
}

bool DeviceRegistry::isKnown(const HwLibrary* library, int hwId) const
{
    std::lock_guard<std::mutex> guard(slotsMutex_);
    return std::any_of(slots_.begin(), slots_.end(), [&](const std::shared_ptr<TvkDevice>& d) {
        return d && d->library() == library && d->hwId() == hwId;
    });
}

int DeviceRegistry::enumerate(const std::shared_ptr<HwLibrary>& library, bool onlyNew, int* added)
{
    const _HwFuncTable& table = library->table();
    const std::string moduleDir = moduleFolder();
    table.hwSetCb(&TvkDevice::hwEventCallback);
    int id = 0;
    int r = table.hwGetFirst(&id);
    // HW_NO_MORE_DEVICES from hwGetFirst means that the library has no device: no error.
    bool failed = r != HW_OK && r != HW_NO_MORE_DEVICES;
    std::set<int> seen;
    while (r == HW_OK) {
        if (!seen.insert(id).second) { // a library that repeats itself would enumerate forever
            setMessage(TVK_ERR_LIB_INIT, "Device initialization error: %s", ("device id " + std::to_string(id) + " enumerated twice").c_str());
            return 0;
        }
        if (!onlyNew || !isKnown(library.get(), id)) {
            std::shared_ptr<TvkDevice> dev;
            try {
                dev = std::make_shared<TvkDevice>(id, library, onlyNew ? &callbacks_ : nullptr, moduleDir);
            } catch (const std::bad_alloc&) {
                return setMessage(TVK_ERR_ALLOC, "Allocation of %u bytes failed", static_cast<unsigned>(sizeof(TvkDevice)));
            }
            if (!dev->isInitialised()) {
                // Named with its library and id, so that a user can tell which of several cards failed.
                std::string text;
                dev->message(nullptr, &text);
                if (text.empty())
                    text = "no reason given";
                setMessage(TVK_ERR_LIB_INIT, "Device initialization error: %s (device %d of %s)", text.c_str(), id,
                           std::filesystem::path(library->path()).filename().c_str());
                dev->close();
            } else {
                int index = 0;
                {
                    std::lock_guard<std::mutex> guard(slotsMutex_);
                    index = static_cast<int>(slots_.size());
                    slots_.push_back(nullptr);
                }
                dev->attach(index, &callbacks_);
                {
                    std::lock_guard<std::mutex> guard(slotsMutex_);
                    slots_[static_cast<size_t>(index)] = dev;
                }
                ++*added;
                if (onlyNew)
                    notifyDevice(callbacks_.devNew, index);
            }
        }
        r = table.hwGetNext(&id);
        if (r < 0)
            failed = true;
    }
    if (failed)
        setMessage(TVK_ERR_LIB_INIT, "Device initialization error: %s", hwText(table.hwGetLastErrorGeneral()).c_str());
    return 0;
}

int DeviceRegistry::exit()
{
    std::lock_guard<std::recursive_mutex> change(changeMutex_);
    exitLocked();
    return 0;
}

void DeviceRegistry::exitLocked()
{
    std::vector<std::shared_ptr<TvkDevice>> devices;
    std::vector<std::shared_ptr<HwLibrary>> libraries;
    {
        std::lock_guard<std::mutex> guard(slotsMutex_);
        initialised_ = false;
        devices.swap(slots_);
        libraries.swap(libraries_);
    }
    // Stop every running operation first, so that the devices come free together.
    for (const auto& dev : devices)
        if (dev)
            dev->abort();
    for (const auto& dev : devices)
        if (dev)
            dev->retire(std::chrono::milliseconds(kExitWaitMs));
    devices.clear();
    // A library is unloaded when its last device is gone; a device still in use keeps it loaded.
    libraries.clear();
}

int DeviceRegistry::firstDevice(unsigned* devIndex, int* count)
{
    std::unique_lock<std::mutex> guard(slotsMutex_);
    if (!initialised_) {
        guard.unlock();
        setMessage(TVK_ERR_NOT_INITIALIZED, "Tarvik control library was not initialized.");
        return TVK_ERR_GENERIC;
    }
    if (devIndex)
        *devIndex = 0;
    if (count)
        *count = static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const auto& d) { return d != nullptr; }));
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i]) {
            if (devIndex)
                *devIndex = static_cast<unsigned>(i);
            return 0;
        }
    }
    return TVK_NO_MORE_DEVICES;
}

int DeviceRegistry::nextDevice(unsigned* devIndex)
{
    std::unique_lock<std::mutex> guard(slotsMutex_);
    if (!initialised_) {
        guard.unlock();
        setMessage(TVK_ERR_NOT_INITIALIZED, "Tarvik control library was not initialized.");
        return TVK_ERR_GENERIC;
    }
    if (!devIndex)
        return TVK_ERR_PARAM;
    for (size_t i = static_cast<size_t>(*devIndex) + 1; i < slots_.size(); ++i) {
        if (slots_[i]) {
            *devIndex = static_cast<unsigned>(i);
            return 0;
        }
    }
    return TVK_NO_MORE_DEVICES;
}

int DeviceRegistry::findNew()
{
    std::lock_guard<std::recursive_mutex> change(changeMutex_);
    std::vector<std::shared_ptr<HwLibrary>> libraries;
    {
        std::lock_guard<std::mutex> guard(slotsMutex_);
        libraries = libraries_;
    }
    for (const auto& library : libraries) {
        int added = 0;
        if (enumerate(library, true, &added) == TVK_ERR_ALLOC)
            return TVK_ERR_ALLOC;
    }
    return 0;
}

int DeviceRegistry::reconnect(unsigned devIndex)
{
    std::lock_guard<std::recursive_mutex> change(changeMutex_);
    std::shared_ptr<TvkDevice> old = device(devIndex);
    if (!old)
        return TVK_ERR_DEV_INDEX;
    if (!old->lockFor(std::chrono::milliseconds(100)))
        return TVK_ERR_GENERIC;
    // Callers waiting on the old device's lock get it after this and see it retired (TVK_ERR_DEV_INDEX); the object
    // itself goes when their references do.
    old->markRetired();
    {
        std::lock_guard<std::mutex> guard(slotsMutex_);
        slots_[devIndex].reset();
    }
    old->close();
    old->unlockAll();
    const int hwId = old->hwId();
    std::shared_ptr<HwLibrary> library;
    {
        std::lock_guard<std::mutex> guard(slotsMutex_);
        for (const auto& lib : libraries_)
            if (lib.get() == old->library())
                library = lib;
    }
    old.reset();
    if (!library)
        return TVK_ERR_GENERIC;

    std::shared_ptr<TvkDevice> dev;
    try {
        dev = std::make_shared<TvkDevice>(hwId, library, &callbacks_, moduleFolder());
    } catch (const std::bad_alloc&) {
        return setMessage(TVK_ERR_ALLOC, "Allocation of %u bytes failed", static_cast<unsigned>(sizeof(TvkDevice)));
    }
    dev->attach(static_cast<int>(devIndex), &callbacks_);
    const bool ok = dev->isInitialised();
    {
        std::lock_guard<std::mutex> guard(slotsMutex_);
        slots_[devIndex] = std::move(dev);
    }
    if (!ok)
        return TVK_ERR_GENERIC;
    notifyDevice(callbacks_.devChanged, static_cast<int>(devIndex));
    return 0;
}
