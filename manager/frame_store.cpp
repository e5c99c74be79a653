#include "frame_store.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "plugin_mgr.h"
#include "ctrl/tvk_ctrl.h"
#include "pluginfw/tvk_utils.h"

namespace {

constexpr const char* kSource = "tvkmgr";
constexpr const char* kAppliedFilters = "Applied filters";
constexpr const char* kAppliedFiltersDesc = "Names of filters which were applied to frame";
constexpr uint32_t kAppliedFiltersMax = 1024;
constexpr uint32_t kTemplateBufferSize = 1024;
constexpr uint32_t kTemplateValueMax = 64u << 20; // a template value larger than this is refused
constexpr uint32_t kServiceLockTimeoutMs = 1000;

struct ServiceKind {
    uint32_t kind;
    const char* name;
};
constexpr ServiceKind kServiceFrameKinds[] = {
    {1, "Mask bits"}, {2, "Test bits"}, {3, "THL adj."}, {4, "THH adj."}, {5, "Mode"}};

// Chip type 3 has "Mode" instead of "THH adj.".
bool hasServiceKind(int chipType, uint32_t kind)
{
    if (kind == 4)
        return chipType != CHIPTYPE_SARNET;
    if (kind == 5)
        return chipType == CHIPTYPE_SARNET;
    return kind >= 1 && kind <= 3;
}

void deleteFrame(TvkFrameInfo* frame)
{
    TvkFrameInfo::deleteInstance(frame);
}

// Owner of a stored frame: the store's references share it; the last one deletes the frame.
struct FrameHolder {
    TvkFrameInfo* frame = nullptr;
    ~FrameHolder() { deleteFrame(frame); }
};

// The device's matrix as service frames see it: width x height = pixel count, refused when the
// device describes no such matrix.
int serviceGeometry(const _DevInfo& info, uint32_t* width, uint32_t* height)
{
    if (info.rowLength <= 0 || info.pixelCount <= 0 || info.pixelCount % info.rowLength != 0)
        return TVK_ERR_PARAM;
    *width = static_cast<uint32_t>(info.rowLength);
    *height = static_cast<uint32_t>(info.pixelCount / info.rowLength);
    return 0;
}

} // namespace

bool FrameStore::fitsFrameBuffer(uint32_t width, uint32_t height, int type)
{
    // An unknown type counts one byte per element here; the frame refuses it itself.
    const uint64_t bytes = uint64_t(width) * height * uint64_t(std::max(typeElementSize(type), 1));
    return bytes <= 0xFFFFFFFFu;
}

// ---- pins ----

FrameStore::Pin::Pin(FramePtr frame) : frame_(std::move(frame))
{
    if (frame_)
        frame_->incRawAccessCounter();
}

FrameStore::Pin::~Pin()
{
    release();
}

FrameStore::Pin& FrameStore::Pin::operator=(Pin&& other) noexcept
{
    if (this != &other) {
        release();
        frame_ = std::move(other.frame_);
    }
    return *this;
}

void FrameStore::Pin::release()
{
    if (frame_) {
        frame_->decRawAccessCounter();
        frame_.reset(); // the last holder of a removed frame deletes it here
    }
}

// ---- the store ----

FrameStore::FrameStore(PluginMgr& plugins) : plugins_(plugins) {}

FrameStore::~FrameStore()
{
    clear();
}

FrameStore::Pin FrameStore::findQuiet(uint32_t id)
{
    FramePtr frame;
    {
        std::lock_guard lock(m_);
        const auto it = frames_.find(id);
        if (it != frames_.end())
            frame = it->second;
    }
    return Pin(std::move(frame));
}

FrameStore::Pin FrameStore::find(uint32_t id)
{
    Pin pin = findQuiet(id);
    if (!pin)
        plugins_.log().logMsg(kSource, "Frame %u was not found.", 0, id);
    return pin;
}

int FrameStore::insertNew(TvkFrameInfo* frame, uint32_t* outId)
{
    // The holder is made first, owning nothing, so that a failed allocation leaves the frame the caller's.
    std::shared_ptr<FrameHolder> holder;
    try {
        holder = std::make_shared<FrameHolder>();
    } catch (const std::bad_alloc&) {
        return TVK_ERR_ALLOC;
    }
    uint32_t id;
    {
        std::lock_guard lock(m_);
        if (lastId_ + 1 >= kServiceIdBase) {
            plugins_.log().logMsg(kSource, "Frame ids are used up; the frame is not stored.", 0);
            return TVK_ERR_ALLOC; // never wrap round to reuse an id
        }
        id = ++lastId_;
        try {
            frames_.emplace(id, FramePtr(holder, frame));
        } catch (const std::bad_alloc&) {
            return TVK_ERR_ALLOC;
        }
        holder->frame = frame; // owned by the store from here on
        frame->setUID(id);
        frame->setRegFlag(true);
    }
    if (outId)
        *outId = id;
    plugins_.events().fire(BuiltinEvent::FrameCreated, static_cast<intptr_t>(id));
    return 0;
}

int FrameStore::store(TvkFrameInfo* frame, uint32_t* outId)
{
    if (!frame)
        return TVK_ERR_PARAM;
    return insertNew(frame, outId);
}

void FrameStore::remove(uint32_t id)
{
    FramePtr frame;
    {
        std::lock_guard lock(m_);
        const auto it = frames_.find(id);
        if (it != frames_.end()) {
            frame = std::move(it->second);
            frames_.erase(it);
            frame->setRegFlag(false);
        }
    }
    if (!frame)
        plugins_.log().logMsg(kSource, "Frame %u was not found.", 0, id);
    // frame is deleted here unless a pin still holds it; then its last holder deletes it.
}

size_t FrameStore::size() const
{
    std::lock_guard lock(m_);
    return frames_.size();
}

void FrameStore::clear()
{
    std::map<uint32_t, FramePtr> frames;
    {
        std::lock_guard lock(m_);
        frames.swap(frames_);
    }
    for (auto& entry : frames)
        entry.second->setRegFlag(false);
    // Deleted as they leave scope, outside the lock.
}

// ---- operations by id ----

int FrameStore::createFrame(uint32_t* outId, uint32_t width, uint32_t height, int type, const char* creator)
{
    if (!fitsFrameBuffer(width, height, type & 0xFF)) {
        plugins_.log().logMsg(kSource, "Frame of %u x %u elements of type %d is refused: it does not fit 4 GiB.", 0,
                              width, height, type & 0xFF);
        return TVK_ERR_PARAM;
    }
    std::unique_ptr<TvkFrameInfo, void (*)(TvkFrameInfo*)> frame(TvkFrameInfo::createInstance(), deleteFrame);
    if (!frame) {
        plugins_.log().logMsg(kSource, "Memory allocation failed.", MGRLOG_MSGBOX);
        return TVK_ERR_GENERIC;
    }
    // The frame refuses sizes whose byte count does not fit 32 bits; its buffer starts zero-filled, which
    // is also what bit 0x100 asks for.
    int rc = frame->init(width, height, type & 0xFF, false);
    if (rc != 0)
        return rc;
    if (creator && (rc = frame->setCreatorName(creator)) != 0)
        return rc;
    rc = insertNew(frame.get(), outId);
    if (rc == 0)
        frame.release();
    return rc;
}

int FrameStore::loadFrame(uint32_t* outId, const char* fileName)
{
    std::unique_ptr<TvkFrameInfo, void (*)(TvkFrameInfo*)> frame(TvkFrameInfo::createInstance(), deleteFrame);
    if (!frame) {
        plugins_.log().logMsg(kSource, "Memory allocation failed.", MGRLOG_MSGBOX);
        return TVK_ERR_GENERIC;
    }
    const int rc = frame->init(fileName, false);
    if (rc != 0)
        return rc;
    const int stored = insertNew(frame.get(), outId);
    if (stored == 0)
        frame.release();
    return stored;
}

int FrameStore::duplicateFrame(uint32_t frameId, uint32_t* outId)
{
    TvkFrameInfo* copy = nullptr;
    {
        Pin source = find(frameId);
        if (!source)
            return FRAME_ERR_NOT_FOUND;
        copy = TvkFrameInfo::duplicateInstance(&*source);
    }
    if (!copy) {
        plugins_.log().logMsg(kSource, "Memory allocation failed.", MGRLOG_MSGBOX);
        return TVK_ERR_ALLOC;
    }
    const int rc = insertNew(copy, outId);
    if (rc != 0)
        deleteFrame(copy);
    return rc;
}

int FrameStore::getFirstFrame(uint32_t* id) const
{
    std::lock_guard lock(m_);
    if (frames_.empty())
        return 1;
    if (id)
        *id = frames_.begin()->first;
    return 0;
}

int FrameStore::getNextFrame(uint32_t* id) const
{
    if (!id)
        return TVK_ERR_PARAM;
    std::lock_guard lock(m_);
    const auto it = frames_.upper_bound(*id);
    if (it == frames_.end())
        return 1;
    *id = it->first;
    return 0;
}

int FrameStore::openFrame(uint32_t frameId, uint32_t* refCount)
{
    Pin pin = find(frameId);
    if (!pin)
        return FRAME_ERR_NOT_FOUND;
    const uint32_t count = pin->open();
    if (refCount)
        *refCount = count;
    return 0;
}

int FrameStore::filteredFrame(uint32_t chainId, uint32_t frameId, uint32_t* outId)
{
    FilterChainMgr& chains = plugins_.chains();
    if (!chains.findById(chainId)) {
        plugins_.log().logMsg(kSource, "Filter chain with id %u is not registered.", 0, chainId);
        return MGR_ERR_NO_CHAIN;
    }
    uint32_t copyId = 0;
    int rc = duplicateFrame(frameId, &copyId);
    if (rc != 0)
        return rc;
    Pin copy = findQuiet(copyId);
    if (!copy)
        return FRAME_ERR_NOT_FOUND; // closed by someone else at once

    // The copy belongs to this call until it succeeds: on failure its one reference is dropped, which
    // takes it out of the store again.
    const auto releaseCopy = [&] { copy->close(nullptr, true); };
    rc = chains.applyToFrame(chainId, copyId);
    if (rc == REG_ERR_NOT_FOUND) {
        releaseCopy();
        plugins_.log().logMsg(kSource, "Filter chain with id %u is not registered.", 0, chainId);
        return MGR_ERR_NO_CHAIN;
    }
    if (rc != 0) {
        releaseCopy();
        return MGR_ERR_FILTER_FAILED;
    }
    appendAppliedFilters(*copy, chains.chainText(chainId));
    if (outId)
        *outId = copyId;
    return 0;
}

int FrameStore::appendAppliedFilters(TvkFrameInfo& frame, const std::string& chainText)
{
    std::vector<char> value(kAppliedFiltersMax);
    uint32_t size = kAppliedFiltersMax;
    _Data_Types type = TYPE_CHAR;
    const int rc = frame.getAttribData(kAppliedFilters, value.data(), &size, &type);
    if (rc == FRAME_ERR_NO_ATTRIB) {
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(chainText.size(), kAppliedFiltersMax));
        return frame.addAttrib(kAppliedFilters, kAppliedFiltersDesc, TYPE_CHAR, chainText.data(), length, 0);
    }
    if (rc != 0)
        return rc;
    size = std::min(size, kAppliedFiltersMax);
    const uint32_t extra = static_cast<uint32_t>(std::min<size_t>(chainText.size(), kAppliedFiltersMax - size));
    std::memcpy(value.data() + size, chainText.data(), extra);
    return frame.setAttribData(kAppliedFilters, value.data(), size + extra);
}

// ---- service frames ----

uint32_t FrameStore::serviceId(unsigned devIndex, uint32_t kind)
{
    if (kind < 1 || kind > kServiceKinds)
        return 0;
    if (devIndex < 100)
        return devIndex * 100 + kind;
    if (devIndex > kLastServiceDevice)
        return 0;
    return kServiceIdBase + devIndex * 8 + kind;
}

int FrameStore::serviceFrameId(int devIndex, uint32_t kind, uint32_t* outId)
{
    _DevInfo info{};
    const int rc = getDevInfo(static_cast<unsigned>(devIndex), &info);
    if (rc != 0)
        return rc;
    if (kind < 1 || kind > kServiceKinds) {
        plugins_.log().logMsg(kSource, "Invalid type of service frame: %u.", MGRLOG_MSGBOX, kind);
        return TVK_ERR_PARAM;
    }
    const uint32_t id = serviceId(static_cast<unsigned>(devIndex), kind);
    if (id == 0) {
        plugins_.log().logMsg(kSource, "Device %u has no service frames.", MGRLOG_MSGBOX,
                              static_cast<unsigned>(devIndex));
        return TVK_ERR_PARAM;
    }
    if (outId)
        *outId = id;
    return 0;
}

int FrameStore::createServiceFrames(unsigned devIndex)
{
    _DevInfo info{};
    int rc = getDevInfo(devIndex, &info);
    if (rc != 0)
        return rc;
    uint32_t width = 0, height = 0;
    if ((rc = serviceGeometry(info, &width, &height)) != 0) {
        plugins_.log().logMsg(kSource, "Device %u describes no pixel matrix (%d pixels, rows of %d).", 0, devIndex,
                              info.pixelCount, info.rowLength);
        return rc;
    }
    if (serviceId(devIndex, 1) == 0)
        return TVK_ERR_PARAM;
    const std::string displayPath = "Service Frames|Device " + std::to_string(devIndex);
    for (const ServiceKind& kind : kServiceFrameKinds) {
        if (!hasServiceKind(info.chipType, kind.kind))
            continue;
        const uint32_t id = serviceId(devIndex, kind.kind);
        if (findQuiet(id))
            continue; // made by an earlier start of this device
        std::unique_ptr<TvkFrameInfo, void (*)(TvkFrameInfo*)> frame(TvkFrameInfo::createInstance(), deleteFrame);
        if (!frame) {
            plugins_.log().logMsg(kSource, "Memory allocation failed.", MGRLOG_MSGBOX);
            return TVK_ERR_ALLOC;
        }
        frame->setUID(id);
        if ((rc = frame->init(width, height, TYPE_I16, true)) != 0)
            return rc;
        frame->setDevID(devIndex);
        frame->setLogPath(displayPath.c_str());
        frame->setCreatorName("TvkMgr");
        frame->setName(kind.name);
        std::lock_guard lock(m_);
        frames_.emplace(id, FramePtr(frame.release(), deleteFrame));
    }
    return refreshServiceFrames(devIndex);
}

int FrameStore::refreshServiceFrames(unsigned devIndex)
{
    _DevInfo info{};
    int rc = getDevInfo(devIndex, &info);
    if (rc != 0)
        return rc;
    uint32_t width = 0, height = 0;
    if ((rc = serviceGeometry(info, &width, &height)) != 0)
        return rc;
    const uint32_t pixels = width * height;
    std::vector<uint8_t> cfg;
    try {
        cfg.assign(pixels, 0);
    } catch (const std::bad_alloc&) {
        return TVK_ERR_ALLOC;
    }
    if ((rc = getSuperMatrixPixCfg(devIndex, cfg.data(), pixels)) != 0)
        return rc;

    const bool type3 = info.chipType == CHIPTYPE_SARNET;
    const uint32_t kinds[4] = {1, 2, 3, type3 ? 5u : 4u};
    // Pin the four frames under the store lock, then wait for their data locks without it.
    Pin frames[4];
    {
        std::lock_guard lock(m_);
        for (int i = 0; i < 4; ++i) {
            const auto it = frames_.find(serviceId(devIndex, kinds[i]));
            if (it == frames_.end())
                return TVK_ERR_GENERIC;
            frames[i] = Pin(it->second);
        }
    }
    int16_t* buffers[4] = {};
    int locked = 0;
    for (; locked < 4; ++locked) {
        void* buffer = nullptr;
        uint32_t size = 0;
        rc = frames[locked]->getLockedBuffer(&buffer, &size, kServiceLockTimeoutMs);
        if (rc == 0 && size < pixels * sizeof(int16_t)) {
            frames[locked]->unlock();
            rc = FRAME_ERR_SIZE; // resized behind the store's back
        }
        if (rc != 0)
            break;
        buffers[locked] = static_cast<int16_t*>(buffer);
    }
    if (rc != 0) {
        while (locked-- > 0)
            frames[locked]->unlock();
        return rc;
    }
    for (uint32_t p = 0; p < pixels; ++p) {
        const uint8_t b = cfg[p];
        buffers[0][p] = static_cast<int16_t>(b & 1);
        buffers[1][p] = static_cast<int16_t>((b >> 1) & 1);
        if (type3) {
            buffers[2][p] = static_cast<int16_t>((b >> 2) & 15);
            buffers[3][p] = static_cast<int16_t>(b >> 6);
        } else {
            buffers[2][p] = static_cast<int16_t>((b >> 2) & 7);
            buffers[3][p] = static_cast<int16_t>(b >> 5);
        }
    }
    for (Pin& frame : frames)
        frame->unlock();
    return 0;
}

// ---- frame-attribute templates ----

void FrameStore::addTemplateAttribs(TvkFrameInfo* frame)
{
    if (!frame)
        return;
    // The templates are held while their plug-ins are asked, without the registry's lock.
    const auto templates = plugins_.frameAttribs().items();
    if (templates.empty())
        return;
    Log& log = plugins_.log();
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(kTemplateBufferSize);
    } catch (const std::bad_alloc&) {
        log.logMsg(kSource, "Memory allocation failed.", MGRLOG_MSGBOX);
        return;
    }
    for (const auto& templ : templates) {
        uint32_t size = static_cast<uint32_t>(buffer.size());
        int rc = templ->value(log, buffer.data(), &size);
        if (rc == 0 && size > buffer.size()) {
            if (size > kTemplateValueMax) {
                log.logMsg(kSource, "Cannot get frame attribute %s. Its value of %u bytes is too large.", 0,
                           templ->name().c_str(), size);
                continue;
            }
            try {
                buffer.resize(size);
            } catch (const std::bad_alloc&) {
                log.logMsg(kSource, "Memory allocation failed.", MGRLOG_MSGBOX);
                return;
            }
            size = static_cast<uint32_t>(buffer.size());
            rc = templ->value(log, buffer.data(), &size);
            if (rc == 0 && size > buffer.size())
                rc = TVK_ERR_BUFFER_SMALL; // asked for more again
        }
        if (rc != 0) {
            log.logMsg(kSource, "Cannot get frame attribute %s. Frame attribute failed with code: %d.", 0,
                       templ->name().c_str(), rc);
            continue;
        }
        const int elementSize = typeElementSize(static_cast<int>(templ->type()));
        const uint32_t count = elementSize > 0 ? size / static_cast<uint32_t>(elementSize) : 0;
        frame->addAttrib(templ->name().c_str(), templ->description().c_str(),
                         static_cast<_Data_Types>(templ->type()), buffer.data(), count, 0);
    }
}
