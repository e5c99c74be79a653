// The frame object: data, attributes, locks, references and notifications. Files are in frame_file.cpp and
// the frame_*_file.cpp beside it.
#include "tvk_frame_info.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "frame_convert.h"
#include "frame_internal.h"
#include "platform/text_copy.h"
#include "pluginfw/tvk_utils.h"

using frameconv::elementSize;
using frameconv::isFrameType;

std::atomic<TvkFrameInfo::CbErrMsg> TvkFrameInfo::cbErrMsg{nullptr};
std::atomic<TvkFrameInfo::CbNoRef> TvkFrameInfo::cbNoRef{nullptr};
std::atomic<TvkFrameInfo::CbDataChanged> TvkFrameInfo::cbDataChanged{nullptr};
std::atomic<TvkFrameInfo::CbAttrChanged> TvkFrameInfo::cbAttrChanged{nullptr};

namespace {

constexpr uint32_t kAttribOverhead = 68; // reported with a failed attribute allocation, as callers expect

// Names and descriptions go into description files, one block header line each.
bool isStorableName(const char* name) { return std::strpbrk(name, "\"\r\n") == nullptr; }
bool isStorableDescription(const char* text) { return std::strpbrk(text, "\r\n") == nullptr; }

} // namespace

TvkFrameInfo::TvkFrameInfo() = default;

TvkFrameInfo::~TvkFrameInfo() { std::free(data_); }

TvkFrameInfo* TvkFrameInfo::createInstance() { return new (std::nothrow) TvkFrameInfo(); }

void TvkFrameInfo::deleteInstance(TvkFrameInfo* frame) { delete frame; }

TvkFrameInfo* TvkFrameInfo::duplicateInstance(const TvkFrameInfo* src)
{
    if (!src)
        return nullptr;
    std::unique_ptr<TvkFrameInfo> copy(new (std::nothrow) TvkFrameInfo());
    if (!copy)
        return nullptr;
    try {
        DataGuard dataGuard(src);
        std::lock_guard<std::recursive_mutex> attrGuard(src->attrLock_);
        copy->devId_ = src->devId_.load();
        copy->dscFileName_ = src->dscFileName_;
        copy->dataFileName_ = src->dataFileName_;
        copy->fileFlags_ = src->fileFlags_;
        copy->width_ = src->width_;
        copy->height_ = src->height_;
        copy->type_ = src->type_;
        copy->pixelCount_ = src->pixelCount_;
        if (src->data_) {
            copy->data_ = std::malloc(src->bufSize_ ? src->bufSize_ : 1);
            if (!copy->data_)
                return nullptr;
            std::memcpy(copy->data_, src->data_, src->bufSize_);
        }
        copy->bufSize_ = src->bufSize_;
        copy->initialised_ = src->initialised_.load();
        copy->name_ = src->name_;
        copy->creatorName_ = src->creatorName_;
        copy->logPath_ = src->logPath_;
        for (const auto& [name, a] : src->attribs_) {
            AttribPtr c(new Attrib);
            c->name = a->name;
            c->description = a->description;
            c->type = a->type;
            if (a->size) {
                c->data = std::malloc(a->size);
                if (!c->data)
                    return nullptr;
                std::memcpy(c->data, a->data, a->size);
            }
            c->size = a->size;
            copy->attribs_.emplace(name, std::move(c));
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    copy->refCount_ = 1;
    return copy.release();
}

// ---- errors and notifications ----

int TvkFrameInfo::fail(int code, const char* format, ...)
{
    char text[kLastErrSize];
    int n = std::snprintf(text, sizeof text, "Frame %u: ", uid_.load());
    if (n < 0)
        n = 0;
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + n, sizeof text - size_t(n), format, args);
    va_end(args);
    {
        std::lock_guard<std::mutex> g(errLock_);
        std::memcpy(lastErr_, text, sizeof text);
    }
    if (CbErrMsg cb = cbErrMsg.load())
        cb(text);
    return code;
}

const char* TvkFrameInfo::getLastErr() const { return lastErr_; }

void TvkFrameInfo::notifyAttrChange(const char* name, uint32_t size, int kind) const
{
    CbAttrChanged cb = cbAttrChanged.load();
    if (!cb)
        return;
    _FrameAttribChange change{};
    change.frameId = uid_.load();
    if (name)
        plat::copyText(change.name, sizeof change.name, name);
    change.size = size;
    change.kind = kind;
    cb(&change);
}

// ---- initialisation and size ----

void TvkFrameInfo::emptyLocked()
{
    std::free(data_);
    data_ = nullptr;
    bufSize_ = 0;
    pixelCount_ = 0;
    width_ = 0;
    height_ = 0;
    initialised_ = false;
    removeAllAttribsSilently();
}

void TvkFrameInfo::removeAllAttribsSilently()
{
    std::lock_guard<std::recursive_mutex> g(attrLock_);
    attribs_.clear();
}

void TvkFrameInfo::replaceBuffer(void* data, int type, uint32_t width, uint32_t height)
{
    std::free(data_);
    data_ = data;
    type_ = type;
    width_ = width;
    height_ = height;
    pixelCount_ = width * height;
    bufSize_ = pixelCount_ * elementSize(type);
}

int TvkFrameInfo::allocateLocked(uint32_t width, uint32_t height, int type)
{
    if (width == 0 || height == 0)
        return fail(FRAME_ERR_SIZE, "Invalid frame size");
    uint64_t pixels = uint64_t(width) * height;
    uint64_t bytes = pixels * elementSize(type);
    if (bytes > 0xFFFFFFFFu)
        return fail(FRAME_ERR_SIZE, "Invalid frame size");
    void* data = std::calloc(size_t(pixels), elementSize(type));
    if (!data)
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", uint32_t(bytes));
    replaceBuffer(data, type, width, height);
    initialised_ = true;
    refCount_ = 1;
    return 0;
}

int TvkFrameInfo::init(uint32_t width, uint32_t height, int type, bool keep)
{
    DataGuard g(this);
    if (persistent_)
        return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
    emptyLocked();
    if (!isFrameType(type))
        return failParam("frameType");
    persistent_ = keep;
    return allocateLocked(width, height, type);
}

int TvkFrameInfo::init(TvkFrameSource* dev, int type, bool keep)
{
    DataGuard g(this);
    emptyLocked();
    if (!dev)
        return failParam("tvkDev");
    if (!isFrameType(type))
        return failParam("frameType");
    uint32_t side;
    switch (dev->frameChipCount()) {
    case 1: side = 256; break;
    case 4: side = 512; break;
    default: return fail(FRAME_ERR_SIZE, "Invalid frame size"); // no layout is known for other counts
    }
    devId_ = dev->frameDeviceIndex();
    persistent_ = keep;
    return allocateLocked(side, side, type);
}

int TvkFrameInfo::getSize(uint32_t* width, uint32_t* height)
{
    DataGuard g(this);
    if (!initialised_)
        return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
    if (width)
        *width = width_;
    if (height)
        *height = height_;
    return 0;
}

int TvkFrameInfo::setSize(uint32_t width, uint32_t height)
{
    DataGuard g(this);
    if (persistent_)
        return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
    uint64_t pixels = uint64_t(width) * height;
    if (pixels == pixelCount_) {
        width_ = width;
        height_ = height;
        return 0;
    }
    uint64_t bytes = pixels * elementSize(type_);
    if (pixels > 0xFFFFFFFFu || bytes > 0xFFFFFFFFu)
        return fail(FRAME_ERR_SIZE, "Invalid frame size");
    void* data = nullptr;
    if (bytes) {
        // The new buffer first, so that a failure keeps the old data.
        data = std::calloc(size_t(bytes), 1);
        if (!data)
            return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", uint32_t(bytes));
    }
    std::free(data_);
    data_ = data;
    width_ = width;
    height_ = height;
    pixelCount_ = uint32_t(pixels);
    bufSize_ = uint32_t(bytes);
    if (!data_)
        initialised_ = false; // a frame without a buffer
    return 0;
}

int TvkFrameInfo::getBuffType()
{
    DataGuard g(this);
    return type_;
}

int TvkFrameInfo::setBuffType(int newType)
{
    DataGuard g(this);
    if (!initialised_)
        return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
    if (!isFrameType(newType))
        return failParam("newType");
    if (newType == type_)
        return 0;
    uint64_t bytes = uint64_t(pixelCount_) * elementSize(newType);
    if (bytes > 0xFFFFFFFFu)
        return fail(FRAME_ERR_SIZE, "Invalid frame size");
    void* data = std::malloc(size_t(bytes));
    if (!data)
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", uint32_t(bytes));
    frameconv::convert(data, newType, data_, type_, pixelCount_);
    replaceBuffer(data, newType, width_, height_);
    return 0;
}

// ---- data ----

int TvkFrameInfo::getData(void* buffer, uint32_t* size, int type)
{
    DataGuard g(this);
    if (!initialised_)
        return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
    if (!isFrameType(type))
        return failParam("type");
    if (!buffer)
        return failParam("buffer");
    if (!size)
        return failParam("size");
    uint64_t required = uint64_t(pixelCount_) * elementSize(type);
    uint32_t given = *size;
    *size = required > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(required);
    if (given < required)
        return fail(TVK_ERR_BUFFER_SMALL, "Supplied buffer is too small (size: %u, required: %llu)", given,
                    static_cast<unsigned long long>(required));
    frameconv::convert(buffer, type, data_, type_, pixelCount_);
    return 0;
}

int TvkFrameInfo::setData(const void* data, uint32_t size)
{
    DataGuard g(this);
    if (!initialised_)
        return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
    if (size != bufSize_)
        return failParam("The size of input buffer has to be same as size of internal buffer");
    if (!data && size)
        return failParam("data");
    if (size)
        std::memcpy(data_, data, size);
    if (CbDataChanged cb = cbDataChanged.load())
        cb(uid_.load());
    return 0;
}

int TvkFrameInfo::setDataVal(int value)
{
    DataGuard g(this);
    if (!initialised_)
        return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
    if (bufSize_)
        std::memset(data_, value & 0xFF, bufSize_);
    if (CbDataChanged cb = cbDataChanged.load())
        cb(uid_.load());
    return 0;
}

int TvkFrameInfo::getLockedBuffer(void** buffer, uint32_t* size, uint32_t timeoutMs)
{
    if (!buffer)
        return failParam("buffer");
    if (!size)
        return failParam("size");
    int rc = lock(timeoutMs);
    if (rc)
        return rc;
    if (!initialised_) {
        dataLock_.unlock(); // nothing to hand out: do not leave the frame locked
        return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
    }
    *buffer = data_;
    *size = bufSize_;
    return 0;
}

// ---- locking ----

int TvkFrameInfo::lock(uint32_t timeoutMs)
{
    if (timeoutMs == kWaitForever) {
        dataLock_.lock();
        return 0;
    }
    if (dataLock_.tryLockFor(std::chrono::milliseconds(timeoutMs)))
        return 0;
    return fail(TVK_ERR_LOCK_TIMEOUT, "Failed to get lock in %u ms.", timeoutMs);
}

int TvkFrameInfo::unlock()
{
    if (!dataLock_.unlock())
        return fail(TVK_ERR_NOT_LOCK_OWNER, "Frame unlock failed.");
    if (CbDataChanged cb = cbDataChanged.load())
        cb(uid_.load());
    return 0;
}

std::thread::id TvkFrameInfo::getLockOwner() const { return dataLock_.owner(); }

// ---- references ----

uint32_t TvkFrameInfo::open()
{
    DataGuard g(this);
    return ++refCount_;
}

int TvkFrameInfo::close(uint32_t* refCount, bool force)
{
    int rc = 0;
    bool reachedZero = false;
    uint32_t count;
    {
        DataGuard g(this);
        if (force)
            persistent_ = false;
        count = refCount_;
        if (count <= 1 && persistent_) {
            rc = FRAME_ERR_PERSISTENT;
        } else if (count == 0) {
            rc = failParam("frame has no reference to close");
        } else {
            count = --refCount_;
            reachedZero = count == 0;
        }
    }
    if (refCount)
        *refCount = count;
    if (reachedZero)
        if (CbNoRef cb = cbNoRef.load())
            cb(uid_.load());
    return rc;
}

uint32_t TvkFrameInfo::incRawAccessCounter() { return uint32_t(rawAccess_.fetch_add(1) + 1); }
uint32_t TvkFrameInfo::decRawAccessCounter() { return uint32_t(rawAccess_.fetch_sub(1) - 1); }
uint32_t TvkFrameInfo::getRawAccessCount() const { return uint32_t(rawAccess_.load()); }

uint32_t TvkFrameInfo::getRefCount() const { return refCount_.load(); }
uint32_t TvkFrameInfo::getUID() const { return uid_.load(); }
int TvkFrameInfo::setUID(uint32_t uid)
{
    uid_ = uid;
    return 0;
}
uint32_t TvkFrameInfo::getDevID() const { return devId_.load(); }
int TvkFrameInfo::setDevID(uint32_t devId)
{
    devId_ = devId;
    return 0;
}
bool TvkFrameInfo::getRegFlag() const { return registered_.load(); }
int TvkFrameInfo::setRegFlag(bool registered)
{
    registered_ = registered;
    return 0;
}
bool TvkFrameInfo::isInit() const { return initialised_.load(); }

uint32_t TvkFrameInfo::getFileFlags() const
{
    DataGuard g(this);
    return fileFlags_;
}

std::string TvkFrameInfo::getDataFileName() const
{
    DataGuard g(this);
    return dataFileName_;
}

std::string TvkFrameInfo::getDscFileName() const
{
    DataGuard g(this);
    return dscFileName_;
}

// ---- names ----

// Stores a copy of text in one of the texts guarded by the attribute lock.
int TvkFrameInfo::setText(std::string& member, const char* text, const char* what)
{
    if (!text)
        return failParam(what);
    try {
        std::lock_guard<std::recursive_mutex> g(attrLock_);
        member = text;
    } catch (const std::bad_alloc&) {
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", uint32_t(std::strlen(text) + 1));
    }
    return 0;
}

int TvkFrameInfo::setName(const char* name)
{
    return setText(name_, name, "name");
}

int TvkFrameInfo::setCreatorName(const char* name)
{
    return setText(creatorName_, name, "name");
}

int TvkFrameInfo::setLogPath(const char* path)
{
    return setText(logPath_, path, "path");
}

int TvkFrameInfo::getName(char* buf)
{
    if (!buf)
        return failParam("buf");
    std::lock_guard<std::recursive_mutex> g(attrLock_);
    plat::copyText(buf, 512, name_);
    return 0;
}

int TvkFrameInfo::getCreatorName(char* buf)
{
    if (!buf)
        return failParam("buf");
    std::lock_guard<std::recursive_mutex> g(attrLock_);
    plat::copyText(buf, 32, creatorName_);
    return 0;
}

int TvkFrameInfo::getLogPath(char* buf)
{
    if (!buf)
        return failParam("buf");
    std::lock_guard<std::recursive_mutex> g(attrLock_);
    plat::copyText(buf, 512, logPath_);
    return 0;
}

// ---- attributes ----

int TvkFrameInfo::addAttrib(const char* name, const char* description, _Data_Types type, const void* data,
                            uint32_t count, int external)
{
    if (!name || !isStorableName(name))
        return failParam("name");
    if (!description)
        description = "";
    if (!isStorableDescription(description))
        return failParam("description");
    if (int(type) < TYPE_BOOL || int(type) > TYPE_STRING)
        return failParam("type");
    uint64_t size = uint64_t(typeElementSize(type)) * count;
    if (size > 0xFFFFFFFFu - kAttribOverhead)
        return failParam("count");
    uint32_t size32 = uint32_t(size);
    // Failures are reported once the attribute lock is released: nothing is called out while it is held.
    int refused = 0;
    try {
        std::lock_guard<std::recursive_mutex> g(attrLock_);
        if (attribs_.count(name)) {
            refused = FRAME_ERR_ATTRIB_EXISTS;
        } else {
            AttribPtr a(new Attrib);
            a->name = name;
            a->description = description;
            a->type = type;
            if (external) {
                if (!data)
                    refused = TVK_ERR_ALLOC;
            } else if (size32) {
                a->data = std::calloc(size32, 1);
                if (!a->data)
                    refused = TVK_ERR_ALLOC;
                else if (data)
                    std::memcpy(a->data, data, size32);
            }
            if (!refused) {
                a->size = size32;
                auto it = attribs_.emplace(name, std::move(a)).first;
                if (external)
                    it->second->data = const_cast<void*>(data); // adopted only once nothing can fail
            }
        }
    } catch (const std::bad_alloc&) {
        refused = TVK_ERR_ALLOC;
    }
    if (refused == FRAME_ERR_ATTRIB_EXISTS)
        return fail(FRAME_ERR_ATTRIB_EXISTS, "Attribute %s already exists.", name);
    if (refused)
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", size32 + kAttribOverhead);
    notifyAttrChange(name, size32, FRAME_ATTR_ADDED_OR_REMOVED);
    return 0;
}

int TvkFrameInfo::removeAttrib(const char* name)
{
    if (!name)
        return failParam("name");
    uint32_t size;
    {
        std::lock_guard<std::recursive_mutex> g(attrLock_);
        auto it = attribs_.find(name);
        if (it == attribs_.end())
            return FRAME_ERR_NO_ATTRIB;
        size = it->second->size;
        attribs_.erase(it);
    }
    notifyAttrChange(name, size, FRAME_ATTR_ADDED_OR_REMOVED);
    return 0;
}

int TvkFrameInfo::removeAllAttribs(bool notify)
{
    removeAllAttribsSilently();
    if (notify)
        notifyAttrChange(nullptr, 0, FRAME_ATTR_ALL_REMOVED);
    return 0;
}

int TvkFrameInfo::setAttribData(const char* name, const void* data, uint32_t size)
{
    if (!name)
        return failParam("name");
    int refused = 0;
    {
        std::lock_guard<std::recursive_mutex> g(attrLock_);
        auto it = attribs_.find(name);
        if (it == attribs_.end())
            return FRAME_ERR_NO_ATTRIB;
        Attrib& a = *it->second;
        if (!data && size) {
            refused = TVK_ERR_PARAM;
        } else if (size != a.size) {
            void* block = nullptr;
            if (size) {
                block = std::realloc(a.data, size);
                if (!block)
                    refused = TVK_ERR_ALLOC;
            } else {
                std::free(a.data);
            }
            if (!refused) {
                a.data = block;
                a.size = size;
            }
        }
        if (!refused && size)
            std::memmove(a.data, data, size);
    }
    // Reported with the attribute lock released.
    if (refused == TVK_ERR_PARAM)
        return failParam("data");
    if (refused)
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", size);
    notifyAttrChange(name, size, FRAME_ATTR_VALUE_SET);
    return 0;
}

int TvkFrameInfo::getAttribData(const char* name, void* data, uint32_t* size, _Data_Types* type)
{
    if (!name)
        return failParam("name");
    if (!size)
        return failParam("size");
    const uint32_t given = *size;
    uint32_t required = 0;
    {
        std::lock_guard<std::recursive_mutex> g(attrLock_);
        auto it = attribs_.find(name);
        if (it == attribs_.end())
            return FRAME_ERR_NO_ATTRIB;
        const Attrib& a = *it->second;
        required = a.size;
        *size = a.size;
        if (given >= a.size && (data || !a.size)) {
            if (a.size)
                std::memcpy(data, a.data, a.size);
            if (type)
                *type = _Data_Types(a.type);
            return 0;
        }
    }
    // Reported with the attribute lock released.
    if (given < required)
        return fail(TVK_ERR_BUFFER_SMALL, "Supplied buffer is too small (size: %u, required: %u)", given, required);
    return failParam("data");
}

int TvkFrameInfo::cursorOf(const std::string& name)
{
    auto it = cursorIds_.find(name);
    if (it != cursorIds_.end())
        return it->second;
    int id = int(cursorNames_.size());
    cursorNames_.push_back(name);
    cursorIds_.emplace(name, id);
    return id;
}

void TvkFrameInfo::fillExtAttrib(const Attrib& a, _ExtFrameAttrib* out) const
{
    std::memset(out, 0, sizeof *out);
    plat::copyText(out->name, sizeof out->name, a.name);
    plat::copyText(out->description, sizeof out->description, a.description);
    out->type = a.type;
    out->size = a.size;
}

int TvkFrameInfo::getFirstAttrib(int* cursor, _ExtFrameAttrib* out)
{
    if (!cursor)
        return failParam("cursor");
    if (!out)
        return failParam("out");
    try {
        std::lock_guard<std::recursive_mutex> g(attrLock_);
        if (attribs_.empty())
            return 1;
        const Attrib& a = *attribs_.begin()->second;
        *cursor = cursorOf(a.name);
        fillExtAttrib(a, out);
    } catch (const std::bad_alloc&) {
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", uint32_t(sizeof(std::string)));
    }
    return 0;
}

int TvkFrameInfo::getNextAttrib(int* cursor, _ExtFrameAttrib* out)
{
    if (!cursor)
        return failParam("cursor");
    if (!out)
        return failParam("out");
    try {
        std::unique_lock<std::recursive_mutex> g(attrLock_);
        if (*cursor < 0 || size_t(*cursor) >= cursorNames_.size()) {
            g.unlock(); // reported with the attribute lock released
            return failParam("cursor");
        }
        const std::string& current = cursorNames_[size_t(*cursor)];
        if (!attribs_.count(current))
            return FRAME_ERR_NO_ATTRIB;
        auto it = attribs_.upper_bound(current);
        if (it == attribs_.end())
            return 1;
        const Attrib& a = *it->second;
        *cursor = cursorOf(a.name);
        fillExtAttrib(a, out);
    } catch (const std::bad_alloc&) {
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", uint32_t(sizeof(std::string)));
    }
    return 0;
}

int TvkFrameInfo::updateTvkAttribs(TvkFrameSource* dev)
{
    if (!dev)
        return failParam("tvkDev");
    int32_t polarity = dev->framePolarity();
    int rc = setAttribData("Polarity", &polarity, sizeof polarity);
    if (rc)
        return rc;
    int32_t hwTimer = dev->frameHwTimer();
    if ((rc = setAttribData("Hw timer", &hwTimer, sizeof hwTimer)))
        return rc;
    int32_t acqMode = dev->frameAcqMode();
    if ((rc = setAttribData("Acq mode", &acqMode, sizeof acqMode)))
        return rc;
    std::vector<uint16_t> dacs = dev->frameDacs();
    if ((rc = setAttribData("DACs", dacs.data(), uint32_t(dacs.size() * sizeof(uint16_t)))))
        return rc;
    double acqTime = dev->frameAcqTime();
    return setAttribData("Acq time", &acqTime, sizeof acqTime);
}
