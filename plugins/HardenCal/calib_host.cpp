// The contexts of all devices, the point set-up from a device's frames and the registered functions.
#include "calib_host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/text_copy.h"
#include "platform/text_format.h"

namespace hcal {

namespace {

using plat::format;

constexpr uint32_t kFrameLockTimeoutMs = 10000;

void zero(double* out, uint32_t count)
{
    if (out)
        std::fill(out, out + count, 0.0);
}

double countSigma(double counts)
{
    return counts > 1e-200 ? std::sqrt(counts) : 0.0;
}

} // namespace

CalibHost::CalibHost(const _MgrFuncTable* mgr) : mgr_(mgr) {}

CalibHost::~CalibHost() = default;

void CalibHost::log(const std::string& text) const
{
    {
        std::lock_guard lock(messageMutex_);
        lastMessage_ = text;
    }
    if (mgr_ && mgr_->mgrLogMsg)
        mgr_->mgrLogMsg(kLogSource, "%s", 0, text.c_str());
}

std::string CalibHost::lastMessage() const
{
    std::lock_guard lock(messageMutex_);
    return lastMessage_;
}

LogSink CalibHost::logSink() const
{
    return [this](const std::string& text) { log(text); };
}

void CalibHost::createContexts()
{
    unsigned dev = 0;
    std::vector<int> ids;
    for (int r = mgr_->tvkCtrlGetFirstTvk(&dev, nullptr); r == 0; r = mgr_->tvkCtrlGetNextTvk(&dev))
        ids.push_back(static_cast<int>(dev));
    for (const int id : ids) {
        auto ctx = std::make_unique<CalibContext>(logSink());
        bindDevice(*ctx, id, true);
        std::unique_lock lock(mutex_);
        contexts_[id] = std::move(ctx);
    }
}

CalibContext* CalibHost::context(int devId) const
{
    std::shared_lock lock(mutex_);
    const auto it = contexts_.find(devId);
    return it == contexts_.end() ? nullptr : it->second.get();
}

std::vector<int> CalibHost::devices() const
{
    std::shared_lock lock(mutex_);
    std::vector<int> ids;
    for (const auto& [id, ctx] : contexts_)
        ids.push_back(id);
    return ids;
}

std::string CalibHost::configsDir() const
{
    char dir[MGR_PATH_SIZE] = {};
    if (!mgr_->mgrGetConfigsDir || mgr_->mgrGetConfigsDir(dir) != 0)
        return {};
    dir[MGR_PATH_SIZE - 1] = '\0';
    return dir;
}

std::string CalibHost::defaultProfilePath(const CalibContext& ctx) const
{
    return ctx.defaultProfilePath(configsDir());
}

int CalibHost::bindDevice(CalibContext& ctx, int devId, bool loadProfile)
{
    DeviceShape shape;
    char chipboard[64] = {};
    char interfaceName[64] = {};
    if (mgr_->tvkCtrlGetTarvikInfo(static_cast<unsigned>(devId), &shape.chips, &shape.rows, chipboard,
                                   interfaceName) != 0) {
        log(format("Can not get description of device with devID=0x%x", static_cast<unsigned>(devId)));
        return -1;
    }
    chipboard[sizeof chipboard - 1] = '\0';
    interfaceName[sizeof interfaceName - 1] = '\0';
    shape.chipboardId = chipboard;
    shape.interfaceName = interfaceName;
    if (ctx.bind(devId, shape) != Status::ok)
        return -1;
    if (loadProfile)
        ctx.loadProfile(defaultProfilePath(ctx));
    return 0;
}

int CalibHost::setupFromFrames(CalibContext& ctx, int devId, double thickness, int* index)
{
    const int pixels = ctx.pixelCount();
    const unsigned dev = static_cast<unsigned>(devId);
    std::vector<double> data, frame, sigma;
    try {
        data.assign(static_cast<size_t>(pixels), 0.0);
        frame.resize(static_cast<size_t>(pixels));
        sigma.resize(static_cast<size_t>(pixels));
    } catch (const std::bad_alloc&) {
        log("SetupFromFrames: Error getting frame - Couldn't allocate memory for buffer");
        return -1;
    }
    auto frameTime = [&](int k, double& t) {
        uint32_t size = sizeof t;
        int type = 0;
        t = 0.0;
        return mgr_->tvkCtrlGetFrameAttrib(dev, k, "Acq time", &t, &size, &type) == 0 && size == sizeof t &&
               t > 0.0 && std::isfinite(t);
    };
    // Exactly the frames the last acquisition holds: reading on until a read fails left the device's
    // message saying that the next frame was not ready.
    int kind = -1, done = 0;
    const int held = mgr_->tvkCtrlGetAcqInfo(dev, nullptr, nullptr, &kind, &done) != 0 ? 0
                     : kind == 2                                                  ? std::min(done, 1)
                                                                                  : done;
    int frames = 0;
    double total = 0.0;
    bool timesKnown = true;
    for (; pixels > 0 && frames < held; ++frames) {
        if (mgr_->tvkCtrlGetFrameDouble(dev, frame.data(), static_cast<uint32_t>(pixels), frames) != 0)
            break;
        for (size_t i = 0; i < frame.size(); ++i)
            data[i] += frame[i];
        double t;
        if (frameTime(frames, t)) {
            total += t;
        } else {
            log(format("Error getting frame - Couldn't get exposition time for frame=%d. Sigma will be set to "
                       "default.",
                       frames));
            timesKnown = false;
        }
    }
    if (frames == 0) {
        log("SetupFromFrames: Error getting frames");
        return -1;
    }
    if (frames == 1 || !timesKnown) {
        for (size_t i = 0; i < data.size(); ++i)
            sigma[i] = countSigma(data[i]);
    } else {
        // The sigma of the summed counts from the frames' scatter. A frame of time t_k varies about
        // t_k x (mean rate) with a variance that grows with t_k, v t_k; v is estimated from the K frames as
        // sum_k t_k (mean rate - rate of frame k)^2 / (K - 1), and the sum over the whole time T has the
        // variance v T. (The sum alone, without T / (K - 1), does not grow with the exposure: 3x too small
        // at ten frames of 10 s.) For Poisson counts this comes to sqrt(counts), as for a single frame.
        std::fill(sigma.begin(), sigma.end(), 0.0);
        for (int k = 0; k < frames; ++k) {
            double t;
            if (mgr_->tvkCtrlGetFrameDouble(dev, frame.data(), static_cast<uint32_t>(pixels), k) != 0 ||
                !frameTime(k, t)) {
                log("SetupFromFrames: Error getting frames");
                return -1; // the buffer changed under us
            }
            for (size_t i = 0; i < data.size(); ++i) {
                const double d = data[i] / total - frame[i] / t;
                sigma[i] += t * d * d;
            }
        }
        const double scale = total / (frames - 1);
        for (double& s : sigma) {
            s *= scale;
            s = s > 1e-200 ? std::sqrt(s) : 0.0;
        }
    }
    // The time is the sum of the times read, also when a frame had none; with none read at all it is 0,
    // which the point takes as the last point's time.
    return ctx.addPoint(thickness, total, std::move(data), std::move(sigma), index) == Status::ok
               ? 0
               : -1;
}

int CalibHost::findDeviceByChipboard(const std::string& chipboard) const
{
    unsigned dev = 0;
    for (int r = mgr_->tvkCtrlGetFirstTvk(&dev, nullptr); r == 0; r = mgr_->tvkCtrlGetNextTvk(&dev)) {
        char id[64] = {};
        if (mgr_->tvkCtrlGetTarvikInfo(dev, nullptr, nullptr, id, nullptr) != 0)
            continue;
        id[sizeof id - 1] = '\0';
        if (chipboard == id)
            return static_cast<int>(dev);
    }
    return -1;
}

// ---- the registered functions' bodies ----

int CalibHost::correctFrame(uint32_t frameId)
{
    int type = 0;
    uint32_t width = 0, height = 0;
    if (mgr_->mgrGetFrameType(frameId, &type) != 0 || mgr_->mgrGetFrameSize(frameId, &width, &height) != 0) {
        log(format("MakeFrameCalibration: Couldn't get frame information (type/size), frame id = %u.", frameId));
        return -1;
    }
    char chipboard[64] = {};
    uint32_t size = sizeof chipboard - 1;
    int attrType = 0;
    if (mgr_->mgrGetFrameAttrib(frameId, "ChipboardID", chipboard, &size, &attrType) != 0) {
        log(format("MakeFrameCalibration: Couldn't get chipboard; frame id = %u.", frameId));
        return -1;
    }
    chipboard[sizeof chipboard - 1] = '\0';
    const int devId = findDeviceByChipboard(chipboard);
    CalibContext* ctx = devId < 0 ? nullptr : context(devId);
    if (!ctx) {
        log(format("MakeFrameCorrection: Invalid device ID (devID=0x%x)", static_cast<unsigned>(devId)));
        return 1;
    }
    const uint64_t framePixels = uint64_t(width) * height;
    const int pixels = ctx->pixelCount();
    if (framePixels != static_cast<uint64_t>(pixels)) {
        log(format("MakeFrameCorrection: Incorrect frame size (Frame: %d, Calib: %d)",
                   static_cast<int>(std::min<uint64_t>(framePixels, INT32_MAX)), pixels));
        return 1;
    }
    double time = 0.0;
    size = sizeof time;
    if (mgr_->mgrGetFrameAttrib(frameId, "Acq time", &time, &size, &attrType) != 0 || size != sizeof time ||
        !(time > 0.0) || !std::isfinite(time)) {
        log(format("MakeFrameCalibration: Couldn't get exposition time for frame = %d.", static_cast<int>(frameId)));
        return -1;
    }
    // The frame is read as a converted copy and changed only once the correction has succeeded.
    std::vector<double> counts, thickness;
    try {
        counts.resize(static_cast<size_t>(pixels));
        thickness.resize(static_cast<size_t>(pixels));
    } catch (const std::bad_alloc&) {
        log(format("MakeFrameCalibration: Error getting frame ID = %d.", static_cast<int>(frameId)));
        return -1;
    }
    uint32_t bytes = static_cast<uint32_t>(counts.size() * sizeof(double));
    if (mgr_->mgrGetFrameData(frameId, counts.data(), &bytes, TYPE_DOUBLE) != 0 ||
        bytes != counts.size() * sizeof(double)) {
        log(format("MakeFrameCalibration: Error getting frame ID = %d.", static_cast<int>(frameId)));
        return -1;
    }
    if (ctx->correct(counts.data(), nullptr, pixels, time, thickness.data(), nullptr) != Status::ok)
        return 1;
    if (type != TYPE_DOUBLE && mgr_->mgrSetFrameType(frameId, TYPE_DOUBLE) != 0) {
        log(format("MakeFrameCalibration: Error getting frame ID = %d.", static_cast<int>(frameId)));
        return -1;
    }
    void* buffer = nullptr;
    uint32_t bufferSize = 0;
    if (mgr_->mgrGetLockedFrameBuff(frameId, &buffer, &bufferSize, kFrameLockTimeoutMs) != 0) {
        log(format("MakeFrameCalibration: Error getting frame ID = %d.", static_cast<int>(frameId)));
        return -1;
    }
    const bool fits = buffer && bufferSize == thickness.size() * sizeof(double);
    if (fits)
        std::memcpy(buffer, thickness.data(), bufferSize);
    mgr_->mgrUnlockFrame(frameId);
    if (!fits) {
        log(format("MakeFrameCalibration: Error getting frame ID = %d.", static_cast<int>(frameId)));
        return -1;
    }
    return 0;
}

int CalibHost::correctArray(uint32_t devId, uint32_t frameIndex, uint32_t pixelCount, const double* source,
                            double* out)
{
    CalibContext* ctx = context(static_cast<int>(devId));
    if (!ctx) {
        log(format("MakeArrayCorrection: Invalid device ID (devID=0x%x)", devId));
        zero(out, pixelCount);
        return 1;
    }
    const int pixels = ctx->pixelCount();
    if (pixelCount != static_cast<uint32_t>(pixels) || !source || !out) {
        log(format("MakeArrayCorrection: Incorrect frame size (Frame: %d, Calib: %d)", static_cast<int>(pixelCount),
                   pixels));
        zero(out, pixelCount);
        return 1;
    }
    double time = 0.0;
    uint32_t size = sizeof time;
    int type = 0;
    if (mgr_->tvkCtrlGetFrameAttrib(devId, static_cast<int>(frameIndex), "Acq time", &time, &size, &type) != 0 ||
        size != sizeof time || !(time > 0.0) || !std::isfinite(time)) {
        log(format("MakeArrayCorrection: Couldn't get exposition time for frame = %d.", static_cast<int>(frameIndex)));
        zero(out, pixelCount);
        return 1;
    }
    if (ctx->correct(source, nullptr, pixels, time, out, nullptr) != Status::ok) {
        zero(out, pixelCount);
        return 1;
    }
    return 0;
}

namespace {

// The context of a device for the functions that show what a context holds, with their messages.
CalibContext* checkedContext(const CalibHost& host, const char* prefix, uint32_t devId, uint32_t pixelCount,
                             double* out)
{
    CalibContext* ctx = host.context(static_cast<int>(devId));
    if (!ctx) {
        host.log(format("%s Invalid device ID (devID=0x%x)", prefix, devId));
        zero(out, pixelCount);
        return nullptr;
    }
    const int pixels = ctx->pixelCount();
    if (pixelCount != static_cast<uint32_t>(pixels) || !out) {
        host.log(format("%s Incorrect frame size (Frame: %d, Calib: %d)", prefix, static_cast<int>(pixelCount), pixels));
        zero(out, pixelCount);
        return nullptr;
    }
    return ctx;
}

constexpr char kAveragePrefix[] = "MakeFramesCorrection:";
constexpr char kShowPrefix[] = "GetFramesCorrectionError:";

} // namespace

int CalibHost::correctedAverage(uint32_t devId, uint32_t pixelCount, double* out)
{
    CalibContext* ctx = checkedContext(*this, kAveragePrefix, devId, pixelCount, out);
    if (!ctx)
        return 1;
    if (ctx->currentResult(out, nullptr, static_cast<int>(pixelCount), true) != Status::ok) {
        zero(out, pixelCount);
        return 1;
    }
    return 0;
}

int CalibHost::showMask(uint32_t devId, uint32_t pixelCount, double* out)
{
    CalibContext* ctx = checkedContext(*this, kShowPrefix, devId, pixelCount, out);
    if (!ctx)
        return 1;
    if (ctx->mask(out, static_cast<int>(pixelCount)) != Status::ok) {
        zero(out, pixelCount);
        return 1;
    }
    return 0;
}

int CalibHost::selectedPoint(uint32_t devId, uint32_t pixelCount, double* out, bool sigma)
{
    CalibContext* ctx = checkedContext(*this, kShowPrefix, devId, pixelCount, out);
    if (!ctx)
        return 1;
    const Status s = ctx->selectedPointRate(out, static_cast<int>(pixelCount), sigma);
    if (s != Status::ok) {
        if (s == Status::refused)
            log(std::string(kShowPrefix) + " Currently no point selected");
        zero(out, pixelCount);
        return 1;
    }
    return 0;
}

// ---- registration ----

namespace {

int callFrame(void* user, const _FuncSlot* in, void* const*)
{
    if (!in)
        return -1;
    return static_cast<CalibHost*>(user)->correctFrame(static_cast<uint32_t>(in[0].u));
}

int callArray(void* user, const _FuncSlot* in, void* const* out)
{
    double* dst = out ? static_cast<double*>(out[0]) : nullptr;
    if (!in)
        return 1;
    return static_cast<CalibHost*>(user)->correctArray(static_cast<uint32_t>(in[0].u), static_cast<uint32_t>(in[1].u),
                                                       static_cast<uint32_t>(in[2].u),
                                                       static_cast<const double*>(in[3].p), dst);
}

template <int Kind>
int callShow(void* user, const _FuncSlot* in, void* const* out)
{
    double* dst = out ? static_cast<double*>(out[0]) : nullptr;
    if (!in)
        return 1;
    CalibHost& host = *static_cast<CalibHost*>(user);
    const uint32_t dev = static_cast<uint32_t>(in[0].u);
    const uint32_t count = static_cast<uint32_t>(in[2].u);
    switch (Kind) {
    case 0: return host.correctedAverage(dev, count, dst);
    case 1: return host.showMask(dev, count, dst);
    case 2: return host.selectedPoint(dev, count, dst, false);
    default: return host.selectedPoint(dev, count, dst, true);
    }
}

void setParam(_FuncParam& p, uint32_t type, int32_t count, const char* name)
{
    p.type = type;
    p.count = count;
    plat::copyText(p.name, name);
}

} // namespace

int CalibHost::registerFunctions()
{
    struct Entry {
        const char* name;
        const char* description;
        FuncItemCallback callback;
        const char* output; // null: none
    };
    const Entry entries[] = {
        {kFuncFrame, "Beam Hardening Correction of selected frame", callFrame, nullptr},
        {kFuncArray, "Filter - Beam hardening correction of given data", callArray, "CalibrateddData"},
        {kFuncAverage, "Beam hardening correction of average of all frames", callShow<0>, "CalibrateddData"},
        {kFuncMask, "Shows current mask computed from the calibration", callShow<1>, "Mask"},
        {kFuncPoint, "Shows currently selected calibration point", callShow<2>, "Calib point"},
        {kFuncPointErr, "Shows currently selected calibration point sigma", callShow<3>, "Calib point"},
    };
    for (const Entry& e : entries) {
        _FuncItem item{};
        item.callback = e.callback;
        if (e.callback == callFrame) {
            item.inCount = 1;
            setParam(item.in[0], TYPE_U32, 1, "FrameID");
        } else {
            item.inCount = 3;
            setParam(item.in[0], TYPE_U32, 1, "DeviceID");
            setParam(item.in[1], TYPE_U32, 1, e.callback == callArray ? "FrameIndex" : "FrameIndex - dummy");
            setParam(item.in[2], TYPE_U32, 1, "PixelCount");
            if (e.callback == callArray) {
                item.inCount = 4;
                setParam(item.in[3], TYPE_DOUBLE, -1, "SourceData");
            }
        }
        if (e.output) {
            item.outCount = 1;
            setParam(item.out[0], TYPE_DOUBLE, -1, e.output);
        }
        plat::copyText(item.plugin, kLogSource);
        plat::copyText(item.function, e.name);
        plat::copyText(item.description, e.description);
        item.userData = this;
        item.flags = 0;
        const int r = mgr_->mgrAddFuncItem(&item);
        if (r != 0) {
            unregisterFunctions();
            return r;
        }
        registered_.push_back(e.name);
    }
    return 0;
}

void CalibHost::unregisterFunctions()
{
    for (const std::string& name : registered_)
        mgr_->mgrRemoveFuncItem(kLogSource, name.c_str());
    registered_.clear();
}

} // namespace hcal
