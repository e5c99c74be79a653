#include "hw_library.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <new>

#include "platform/fault.h"
#include "platform/module.h"
#include "platform/text_copy.h"

namespace hwkit {

std::string settingsPathOf(const void* address)
{
    std::string path = plat::modulePathOf(address);
    if (path.empty())
        return {};
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.replace(dot + 1, std::string::npos, "ini");
    else
        path += ".ini";
    return path;
}

namespace {

thread_local char tGeneralError[kErrorTextSize];

// The text of the exception being handled; call only from a catch block.
void describeCurrentException(char (&out)[kErrorTextSize]) noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        plat::copyText(out, "Memory allocation failed.");
    } catch (const plat::Win32Exception& fault) {
        if (fault.module()[0] != '\0')
            std::snprintf(out, sizeof out, "Unexpected error in module %.2048s: %s", fault.module(), fault.what());
        else
            std::snprintf(out, sizeof out, "Unexpected error: %s", fault.what());
    } catch (const std::exception& e) {
        std::snprintf(out, sizeof out, "Unexpected error: %s", e.what());
    } catch (...) {
        plat::copyText(out, "Unexpected error.");
    }
}

} // namespace

const char* generalError()
{
    return tGeneralError;
}

int setGeneralError(int code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(tGeneralError, sizeof tGeneralError, format, args);
    va_end(args);
    return code;
}

LockedDevice::LockedDevice(Device* device) : device_(device)
{
    if (device_)
        device_->callLock().lock();
}

LockedDevice::~LockedDevice()
{
    if (device_)
        device_->callLock().unlock();
}

Library::Library(int errorCode) : errorCode_(errorCode) {}

Library::~Library() = default;

int Library::endOfList()
{
    return HW_NO_MORE_DEVICES;
}

int Library::itemCount()
{
    return 0;
}

int Library::addDevice(std::unique_ptr<Device> device)
{
    device->errorCode_ = errorCode_;
    std::lock_guard<std::mutex> guard(list_);
    devices_.push_back(std::move(device));
    return static_cast<int>(devices_.size()) - 1;
}

void Library::retireDevice(int id)
{
    std::lock_guard<std::mutex> guard(list_);
    if (id < 0 || static_cast<size_t>(id) >= devices_.size() || !devices_[static_cast<size_t>(id)])
        return;
    retired_.push_back(std::move(devices_[static_cast<size_t>(id)]));
}

const char* Library::unknownIdText(const char*)
{
    return "Invalid HW ID";
}

const char* Library::unknownIdLastError()
{
    return nullptr;
}

int Library::deviceCount() const
{
    std::lock_guard<std::mutex> guard(list_);
    return static_cast<int>(devices_.size());
}

Device* Library::find(int id) const
{
    std::lock_guard<std::mutex> guard(list_);
    if (id < 0 || static_cast<size_t>(id) >= devices_.size())
        return nullptr;
    return devices_[static_cast<size_t>(id)].get();
}

LockedDevice Library::lockDevice(int id)
{
    return LockedDevice(find(id));
}

int Library::getFirst(int* id)
{
    return guardGeneral([&] {
        if (!id)
            return setGeneralError(errorCode_, "Invalid parameter.");
        std::lock_guard<std::mutex> guard(enumeration_);
        cursor_ = 0;
        if (const int r = discover(); r != 0)
            return r;
        const int count = deviceCount();
        while (cursor_ < count && !find(cursor_))
            ++cursor_;
        if (cursor_ >= count) {
            *id = 0;
            return static_cast<int>(HW_NO_MORE_DEVICES);
        }
        *id = cursor_;
        return 0;
    });
}

int Library::getNext(int* id)
{
    return guardGeneral([&] {
        if (!id)
            return setGeneralError(errorCode_, "Invalid parameter.");
        std::lock_guard<std::mutex> guard(enumeration_);
        const int count = deviceCount();
        if (cursor_ < count)
            ++cursor_;
        while (cursor_ < count && !find(cursor_))
            ++cursor_;
        if (cursor_ >= count)
            return endOfList();
        *id = cursor_;
        return 0;
    });
}

int Library::setCallback(HwCallback callback)
{
    callback_ = callback;
    return 0;
}

int Library::hwInfoCount()
{
    return guardGeneral([this] { return itemCount(); });
}

const char* Library::lastError(int id)
{
    // A copy per thread, taken under the device's call lock: another thread's failing call may write the
    // device's text at any time, and the caller reads the returned text after this call.
    thread_local char text[kErrorTextSize];
    try {
        // Looked up without setting the general error: that text is what an unknown id is answered with.
        if (LockedDevice device = lockDevice(id)) {
            plat::copyText(text, device->lastError());
            return text;
        }
        if (const char* fixed = unknownIdLastError())
            return fixed;
    } catch (...) {
    }
    return tGeneralError;
}

int Library::callDevice(int id, const char* function, DeviceOp op, void* context) noexcept
{
    try {
        LockedDevice device = lockDevice(id);
        if (!device)
            return setGeneralError(errorCode_, "%s", unknownIdText(function));
        // A failure that the device throws is reported while its lock is still held.
        try {
            if (const int r = device->beforeCall(function); r != 0)
                return r;
            return op(*device.get(), context);
        } catch (...) {
            describeCurrentException(device->lastError_);
            return errorCode_;
        }
    } catch (...) {
        describeCurrentException(tGeneralError);
        return errorCode_;
    }
}

int Library::runGeneral(int (*op)(void*), void* context) noexcept
{
    try {
        return op(context);
    } catch (...) {
        describeCurrentException(tGeneralError);
        return errorCode_;
    }
}

} // namespace hwkit
