#include "builtin_filters.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "filter_settings.h"
#include "frame_kernels.h"
#include "platform/file_write.h"

namespace chainedit {

namespace {

const _MgrFuncTable* g_table = nullptr; // set once at registration, before any filter can run

const _MgrFuncTable& mgr()
{
    return *g_table;
}

// How long a filter waits for a frame that another thread has locked.
constexpr uint32_t kLockTimeoutMs = 1000;

__attribute__((format(printf, 1, 2))) void logMsg(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    mgr().mgrLogMsg(kPluginName, "%s", 0, text);
}

// Runs a callback of the manager's; no exception leaves the plug-in.
template <class Fn>
int guarded(const char* what, Fn&& fn)
{
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        logMsg("%s: out of memory.", what);
    } catch (const std::exception& e) {
        logMsg("%s: %s", what, e.what());
    } catch (...) {
        logMsg("%s: unexpected failure.", what);
    }
    return -1;
}

uint32_t frameIdOf(const _FuncSlot* in)
{
    return static_cast<uint32_t>(in[0].u);
}

void* handleOf(const _FuncSlot* in)
{
    return in[1].p;
}

size_t elementSizeOf(int type)
{
    switch (type) {
    case TYPE_I16: return sizeof(int16_t);
    case TYPE_U32: return sizeof(uint32_t);
    case TYPE_DOUBLE: return sizeof(double);
    default: return 0;
    }
}

// The frame's lock for a scope: the filter's changes are seen whole by everyone else.
class FrameLock {
public:
    explicit FrameLock(uint32_t id) : id_(id), result_(mgr().mgrLockFrame(id, kLockTimeoutMs)) {}
    ~FrameLock()
    {
        if (result_ == 0)
            mgr().mgrUnlockFrame(id_);
    }
    FrameLock(const FrameLock&) = delete;
    FrameLock& operator=(const FrameLock&) = delete;
    int result() const { return result_; }

private:
    uint32_t id_;
    int result_;
};

struct FrameShape {
    uint32_t width = 0;
    uint32_t height = 0;
    int type = -1;
    size_t pixels() const { return size_t(width) * height; }
    size_t bytes() const { return pixels() * elementSizeOf(type); }
};

int readShape(uint32_t id, FrameShape& shape)
{
    const int rc = mgr().mgrGetFrameSize(id, &shape.width, &shape.height);
    return rc != 0 ? rc : mgr().mgrGetFrameType(id, &shape.type);
}

// A copy of the frame's data in its own element type.
int copyOut(uint32_t id, const FrameShape& shape, std::vector<unsigned char>& out)
{
    out.resize(shape.bytes());
    uint32_t size = static_cast<uint32_t>(out.size());
    return mgr().mgrGetFrameData(id, out.data(), &size, shape.type);
}

// The frame's data as doubles.
int copyOutDoubles(uint32_t id, const FrameShape& shape, std::vector<double>& out)
{
    out.resize(shape.pixels());
    uint32_t size = static_cast<uint32_t>(out.size() * sizeof(double));
    return mgr().mgrGetFrameData(id, out.data(), &size, TYPE_DOUBLE);
}

// Gives a frame that the caller has locked a new size and data; on failure its old size and data are put back.
// Logs a failure under filter: the frame unchanged, or (when even the old data could not be put back) lost.
int replaceFrame(const char* filter, uint32_t id, const FrameShape& old, const std::vector<unsigned char>& oldData,
                 uint32_t width, uint32_t height, const std::vector<unsigned char>& data)
{
    int rc = mgr().mgrSetFrameSize(id, width, height);
    if (rc == 0) {
        rc = mgr().mgrSetFrameData(id, data.data(), static_cast<uint32_t>(data.size()));
        if (rc != 0 && (mgr().mgrSetFrameSize(id, old.width, old.height) != 0 ||
                        mgr().mgrSetFrameData(id, oldData.data(), static_cast<uint32_t>(oldData.size())) != 0)) {
            logMsg("%s: frame %u cannot be resized (code %d), and its old data cannot be put back: its data are lost.",
                   filter, id, rc);
            return rc;
        }
    } // else the frame keeps its buffer when a new one cannot be made
    if (rc != 0)
        logMsg("%s: frame %u cannot be resized (code %d); it is unchanged.", filter, id, rc);
    return rc;
}

// fn(buffer, bytes) on the frame's locked buffer.
template <class Fn>
int withLockedBuffer(uint32_t id, Fn&& fn)
{
    void* buffer = nullptr;
    uint32_t size = 0;
    const int rc = mgr().mgrGetLockedFrameBuff(id, &buffer, &size, kLockTimeoutMs);
    if (rc != 0)
        return rc;
    struct Unlock {
        uint32_t id;
        ~Unlock() { mgr().mgrUnlockFrame(id); }
    } unlock{id};
    fn(buffer, size);
    return 0;
}

// fn(T* data, pixel count) for the frame's element type T; -1 for any other type.
template <class Fn>
int withTypedBuffer(uint32_t id, int type, Fn&& fn)
{
    return withLockedBuffer(id, [&](void* buffer, uint32_t size) {
        switch (type) {
        case TYPE_I16: fn(static_cast<int16_t*>(buffer), size / sizeof(int16_t)); break;
        case TYPE_U32: fn(static_cast<uint32_t*>(buffer), size / sizeof(uint32_t)); break;
        case TYPE_DOUBLE: fn(static_cast<double*>(buffer), size / sizeof(double)); break;
        default: break;
        }
    });
}

int lockFailed(const char* filter, uint32_t id, int rc)
{
    logMsg("%s: frame %u cannot be locked (code %d); it is unchanged.", filter, id, rc);
    return -1;
}

// ---- filters with instances: the registry and the four callbacks of each kind ----

template <class S>
InstanceRegistry<S>& registry()
{
    static InstanceRegistry<S> instances;
    return instances;
}

template <class S>
int createInstance(void*, void** handle)
{
    return guarded(S::kName, [&] { return registry<S>().create(handle); });
}

template <class S>
int deleteInstance(void*, void* handle)
{
    return guarded(S::kName, [&] { return registry<S>().destroy(handle); });
}

template <class S>
int setParameter(void*, void* handle, int index, const void* data, uint32_t size)
{
    return guarded(S::kName, [&] {
        const SetOutcome outcome = setParam(registry<S>(), S::rows(), handle, index, data, size);
        if (!outcome.refusal.empty())
            logMsg("%s: %s", S::kName, outcome.refusal.c_str());
        return outcome.result;
    });
}

template <class S>
int getParameter(void*, void* handle, int index, _FilterParDesc* desc, uint32_t* size)
{
    return guarded(S::kName, [&] { return getParam(registry<S>(), S::rows(), handle, index, desc, size); });
}

template <class S>
const _FilterInstCallbacks kInstanceCallbacks = {nullptr,           nullptr,           nullptr,
                                                 nullptr,           nullptr,           createInstance<S>,
                                                 deleteInstance<S>, setParameter<S>,   getParameter<S>};

// The settings of the instance a run names, copied under the registry's lock: the run works on the copy, so
// a slow run never holds up the manager's reads and writes of the settings.
template <class S>
int settingsOf(const _FuncSlot* in, S& out)
{
    if (registry<S>().copy(handleOf(in), out) != 0) {
        logMsg("%s: the filter instance does not exist.", S::kName);
        return -1;
    }
    return 0;
}

// ---- Save ----

// Creates path when no file of that name exists: 1 created, 0 taken, -1 failure (errno).
int reserveFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file) {
        std::fclose(file);
        return 1;
    }
    return errno == EEXIST ? 0 : -1;
}

int runSave(void*, const _FuncSlot* in, void* const*)
{
    return guarded(SaveSettings::kName, [&] {
        const uint32_t id = frameIdOf(in);
        SaveSettings s;
        if (settingsOf(in, s) != 0)
            return -1;
        if (s.mode > 2) {
            logMsg("Save: mode %u is not 0, 1 or 2; frame %u is not saved.", s.mode, id);
            return -1;
        }
        if (s.pixelsOverThreshold > 0) {
            FrameShape shape;
            std::vector<double> values;
            int rc = readShape(id, shape);
            if (rc == 0)
                rc = copyOutDoubles(id, shape, values);
            if (rc != 0) {
                logMsg("Save: frame %u cannot be read (code %d).", id, rc);
                return -1;
            }
            size_t over = 0;
            for (double v : values)
                over += v >= s.threshold ? 1 : 0;
            if (over < s.pixelsOverThreshold)
                return 0; // too few pixels over the threshold: nothing to save
        }
        std::error_code ec;
        if (!s.path.empty())
            std::filesystem::create_directories(s.path, ec);
        if (ec) {
            logMsg("Save: folder %s cannot be created: %s", s.path.c_str(), ec.message().c_str());
            return -1;
        }
        // A name that no file has: "frame_<id>", then "frame_<id>_1", ... (the description file's name too).
        const std::string stem = s.path + "frame_" + std::to_string(id);
        const char* extension = s.binary ? ".bin" : ".txt";
        std::string dataName, dscName;
        for (uint32_t n = 0;; ++n) {
            if (n == 100000) {
                logMsg("Save: no free file name for frame %u in %s.", id, s.path.c_str());
                return -1;
            }
            const std::string base = n ? stem + "_" + std::to_string(n) : stem;
            dataName = base + extension;
            dscName = base + ".dsc";
            const int data = reserveFile(dataName);
            if (data < 0) {
                logMsg("Save: file %s cannot be created: %s", dataName.c_str(), std::strerror(errno));
                return -1;
            }
            if (data == 0)
                continue;
            const int dsc = reserveFile(dscName);
            if (dsc == 1)
                break;
            const int error = errno;
            std::remove(dataName.c_str());
            if (dsc < 0) {
                logMsg("Save: file %s cannot be created: %s", dscName.c_str(), std::strerror(error));
                return -1;
            }
        }
        uint32_t flags = s.binary ? FSAVE_BINARY : FSAVE_ASCII;
        if (s.mode == 1)
            flags |= FSAVE_SPARSEX;
        else if (s.mode == 2)
            flags |= FSAVE_SPARSEXY;
        const int rc = mgr().mgrSaveFrame(id, dataName.c_str(), flags);
        if (rc != 0) {
            std::remove(dataName.c_str());
            std::remove(dscName.c_str());
            logMsg("Save: frame %u cannot be saved to %s (code %d).", id, dataName.c_str(), rc);
            return -1;
        }
        return 0;
    });
}

// ---- Crop ----

int runCrop(void*, const _FuncSlot* in, void* const*)
{
    return guarded(CropSettings::kName, [&] {
        const uint32_t id = frameIdOf(in);
        CropSettings s;
        if (settingsOf(in, s) != 0)
            return -1;
        FrameLock lock(id);
        if (lock.result() != 0)
            return lockFailed("Crop", id, lock.result());
        FrameShape shape;
        if (readShape(id, shape) != 0 || elementSizeOf(shape.type) == 0) {
            logMsg("Crop: frame %u cannot be read.", id);
            return -1;
        }
        const CropRect r{s.left, s.bottom, s.width, s.height};
        if (!cropFits(r, shape.width, shape.height)) {
            logMsg("Crop filter failed, frame too small (%ux%u) for selected ractangle (%d, %d, %d, %d)", shape.width,
                   shape.height, r.left, r.bottom, r.width, r.height);
            return -1;
        }
        std::vector<unsigned char> old;
        if (const int rc = copyOut(id, shape, old); rc != 0) {
            logMsg("Crop: the data of frame %u cannot be read (code %d); it is unchanged.", id, rc);
            return -1;
        }
        std::vector<unsigned char> cropped(size_t(r.width) * size_t(r.height) * elementSizeOf(shape.type));
        cropCopy(old.data(), shape.width, elementSizeOf(shape.type), r, cropped.data());
        return replaceFrame("Crop", id, shape, old, uint32_t(r.width), uint32_t(r.height), cropped) == 0 ? 0 : -1;
    });
}

// ---- Sarnet counts to time ----

int runCountsToTime(void*, const _FuncSlot* in, void* const*)
{
    return guarded(CountsToTimeSettings::kName, [&] {
        const uint32_t id = frameIdOf(in);
        CountsToTimeSettings s;
        if (settingsOf(in, s) != 0)
            return -1;
        double clock = s.clockMHz;
        if (clock == 0) {
            _DevInfo info{};
            const int rc = mgr().tvkCtrlGetDevInfo(s.deviceId, &info);
            if (rc != 0) {
                logMsg("Sarnet counts to time: no clock frequency is set and device %u cannot be asked for its clock "
                       "(code %d).",
                       s.deviceId, rc);
                return -1;
            }
            clock = info.clockMHz;
        }
        if (!(clock > 0) || !std::isfinite(clock)) {
            logMsg("Sarnet counts to time: no usable clock frequency (%g MHz); frame %u is unchanged.", clock, id);
            return -1;
        }
        FrameLock lock(id);
        if (lock.result() != 0)
            return lockFailed("Sarnet counts to time", id, lock.result());
        int rc = mgr().mgrSetFrameType(id, TYPE_DOUBLE);
        if (rc == 0)
            rc = withLockedBuffer(id, [&](void* buffer, uint32_t size) {
                countsToTime(static_cast<double*>(buffer), size / sizeof(double), clock);
            });
        if (rc != 0) {
            logMsg("Sarnet counts to time: frame %u cannot be converted (code %d).", id, rc);
            return -1;
        }
        return 0;
    });
}

// ---- Srn calibration ----

// The four coefficient matrices, read as frames and closed again: null after logging why not.
std::shared_ptr<const SrnCoefficients> loadCoefficients(const SrnSettings& s)
{
    auto loaded = std::make_shared<SrnCoefficients>();
    const std::string* paths[4] = {&s.pathA, &s.pathB, &s.pathC, &s.pathT};
    for (int k = 0; k < 4; ++k) {
        loaded->paths[k] = *paths[k];
        uint32_t id = 0;
        if (mgr().mgrLoadFrame(&id, paths[k]->c_str()) != 0) {
            logMsg("Cannot load frame in file: %s", paths[k]->c_str());
            return nullptr;
        }
        struct Close {
            uint32_t id;
            ~Close() { mgr().mgrCloseFrame(id, nullptr); }
        } close{id};
        FrameShape shape;
        int rc = readShape(id, shape);
        if (rc == 0 && k > 0 && (shape.width != loaded->width || shape.height != loaded->height)) {
            logMsg("Srn calibration: the matrix in %s is %ux%u, the one in %s %ux%u.", paths[k]->c_str(), shape.width,
                   shape.height, paths[0]->c_str(), loaded->width, loaded->height);
            return nullptr;
        }
        loaded->width = shape.width;
        loaded->height = shape.height;
        if (rc == 0)
            rc = copyOutDoubles(id, shape, loaded->values[k]);
        if (rc != 0) {
            logMsg("Cannot load frame in file: %s", paths[k]->c_str());
            return nullptr;
        }
    }
    return loaded;
}

bool samePaths(const SrnSettings& s, const SrnCoefficients& c)
{
    return s.pathA == c.paths[0] && s.pathB == c.paths[1] && s.pathC == c.paths[2] && s.pathT == c.paths[3];
}

int runSrn(void*, const _FuncSlot* in, void* const*)
{
    return guarded(SrnSettings::kName, [&] {
        const uint32_t id = frameIdOf(in);
        SrnSettings s;
        if (settingsOf(in, s) != 0)
            return -1;
        if (!s.loaded || !samePaths(s, *s.loaded)) {
            s.loaded = loadCoefficients(s);
            if (!s.loaded)
                return -1;
            // Kept for the next run while the instance still names the same files.
            registry<SrnSettings>().with(handleOf(in), [&](SrnSettings& live) {
                if (samePaths(live, *s.loaded))
                    live.loaded = s.loaded;
                return 0;
            });
        }
        const SrnCoefficients& k = *s.loaded;
        FrameLock lock(id);
        if (lock.result() != 0)
            return lockFailed("Srn calibration", id, lock.result());
        FrameShape shape;
        if (const int rc = readShape(id, shape); rc != 0) {
            logMsg("Srn calibration: frame %u cannot be read (code %d).", id, rc);
            return -1;
        }
        if (shape.width != k.width || shape.height != k.height) {
            logMsg("Srn calibration: frame %u is %ux%u, the coefficient matrices %ux%u; it is unchanged.", id,
                   shape.width, shape.height, k.width, k.height);
            return -1;
        }
        int rc = mgr().mgrSetFrameType(id, TYPE_DOUBLE);
        if (rc == 0)
            rc = withLockedBuffer(id, [&](void* buffer, uint32_t size) {
                const size_t n = std::min(size_t(size / sizeof(double)), k.values[0].size());
                srnCalibrate(static_cast<double*>(buffer), k.values[0].data(), k.values[1].data(), k.values[2].data(),
                             k.values[3].data(), n);
            });
        if (rc != 0) {
            logMsg("Srn calibration: frame %u cannot be converted (code %d).", id, rc);
            return -1;
        }
        return 0;
    });
}

// ---- Frame statistics ----

std::string startTimeText(uint32_t id)
{
    char text[1024] = {};
    uint32_t size = sizeof text - 1;
    int type = 0;
    if (mgr().mgrGetFrameAttrib(id, "Start time (string)", text, &size, &type) != 0)
        return {};
    return std::string(text, strnlen(text, sizeof text - 1));
}

int appendLine(const std::string& path, const std::string& line)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    // A line that cannot be written whole (a full disk) is cut off again, so that the next record does not
    // run on from a broken one.
    const std::string record = line + '\n';
    if (const int error = plat::appendWhole(path, record.data(), record.size())) {
        errno = error;
        return -1;
    }
    return 0;
}

int runStatistics(void*, const _FuncSlot* in, void* const*)
{
    return guarded(StatisticsSettings::kName, [&] {
        const uint32_t id = frameIdOf(in);
        StatisticsSettings s;
        if (settingsOf(in, s) != 0)
            return -1;
        FrameShape shape;
        std::vector<double> values;
        int rc = readShape(id, shape);
        if (rc == 0)
            rc = copyOutDoubles(id, shape, values);
        if (rc != 0) {
            logMsg("Frame statistics: frame %u cannot be read (code %d).", id, rc);
            return -1;
        }
        const StatFields fields{s.writeRecordIndex != 0, s.writeTimeStamp != 0,   s.writeMean != 0,
                                s.writeTotal != 0,       s.writePixelCounts != 0, s.writePixelPositions != 0};
        const std::string line = statisticsLine(fields, s.recordIndex, fields.timeStamp ? startTimeText(id) : "",
                                                values.data(), shape.width, shape.height, s.invalidValue);
        if (appendLine(s.outputPath, line) != 0) {
            logMsg("Frame statistics: cannot write to %s: %s", s.outputPath.c_str(), std::strerror(errno));
            return -1;
        }
        // The next record's index, unless the instance was given another meanwhile.
        registry<StatisticsSettings>().with(handleOf(in), [&](StatisticsSettings& live) {
            if (live.recordIndex == s.recordIndex)
                live.recordIndex = s.recordIndex + 1;
            return 0;
        });
        return 0;
    });
}

// ---- Tarvik mask ----

int runMask(void*, const _FuncSlot* in, void* const*)
{
    return guarded(MaskSettings::kName, [&] {
        const uint32_t id = frameIdOf(in);
        MaskSettings s;
        if (settingsOf(in, s) != 0)
            return -1;
        FrameShape shape;
        if (readShape(id, shape) != 0) {
            logMsg("Tarvik mask: frame %u cannot be read.", id);
            return -1;
        }
        _DevInfo info{};
        int rc = mgr().tvkCtrlGetDevInfo(s.deviceId, &info);
        if (rc != 0) {
            logMsg("Tarvik mask: device %u cannot be asked for its matrix (code %d).", s.deviceId, rc);
            return -1;
        }
        // The device's configuration read before the frame is locked: a device is never waited for with a
        // frame held.
        std::vector<uint8_t> config(shape.pixels());
        if (shape.width == 256 && shape.height == 256 && info.pixelCount == 65536)
            rc = mgr().tvkCtrlGetPixelsCfg(s.deviceId, config.data(), uint32_t(config.size()), -1);
        else if (shape.width == 512 && shape.height == 512 && info.pixelCount == 262144)
            rc = mgr().tvkCtrlGetSuperMatrixPixCfg(s.deviceId, config.data(), uint32_t(config.size()));
        else {
            logMsg("Tarvik mask: frame %u (%ux%u) does not match the pixel matrix of device %u (%d pixels).", id,
                   shape.width, shape.height, s.deviceId, info.pixelCount);
            return -1;
        }
        if (rc != 0) {
            logMsg("Tarvik mask: the pixel configuration of device %u cannot be read (code %d).", s.deviceId, rc);
            return -1;
        }
        FrameLock lock(id);
        if (lock.result() != 0)
            return lockFailed("Tarvik mask", id, lock.result());
        FrameShape now;
        if (readShape(id, now) != 0 || now.width != shape.width || now.height != shape.height ||
            elementSizeOf(now.type) == 0) {
            logMsg("Tarvik mask: frame %u changed while its mask was read; it is unchanged.", id);
            return -1;
        }
        rc = withTypedBuffer(id, now.type, [&](auto* data, size_t n) {
            using T = std::remove_pointer_t<decltype(data)>;
            applyMask(data, config.data(), std::min(n, config.size()), maskValueAs<T>(s.maskedValue));
        });
        if (rc != 0) {
            logMsg("Tarvik mask: frame %u cannot be written (code %d).", id, rc);
            return -1;
        }
        return 0;
    });
}

// ---- filters without instances ----

int runDuplicate(void*, const _FuncSlot* in, void* const*)
{
    return guarded("Duplicate", [&] {
        // The copy stays in the manager's frame store: that is what the filter is for.
        uint32_t copyId = 0;
        const int rc = mgr().mgrDuplicateFrame(frameIdOf(in), &copyId);
        if (rc != 0) {
            logMsg("Duplicate: frame %u cannot be copied (code %d).", frameIdOf(in), rc);
            return -1;
        }
        return 0;
    });
}

int runQuad516(void* userData, const _FuncSlot* in, void* const*)
{
    return guarded("Quad 516", [&] {
        const uint32_t id = frameIdOf(in);
        const uint32_t divisor = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(userData));
        FrameLock lock(id);
        if (lock.result() != 0)
            return lockFailed("Quad 516", id, lock.result());
        FrameShape shape;
        if (const int rc = readShape(id, shape); rc != 0) {
            logMsg("Quad 516: frame %u cannot be read (code %d).", id, rc);
            return -1;
        }
        if (shape.width != kQuadSide || shape.height != kQuadSide)
            return 0; // only quad frames are converted
        if (elementSizeOf(shape.type) == 0) {
            logMsg("Quad 516: frame %u has the element type %d; only i16, u32 and double frames are converted.", id,
                   shape.type);
            return -1;
        }
        std::vector<unsigned char> old;
        if (const int rc = copyOut(id, shape, old); rc != 0) {
            logMsg("Quad 516: the data of frame %u cannot be read (code %d); it is unchanged.", id, rc);
            return -1;
        }
        std::vector<unsigned char> wide(size_t(kQuad516Side) * kQuad516Side * elementSizeOf(shape.type));
        switch (shape.type) {
        case TYPE_I16:
            quad516(reinterpret_cast<const int16_t*>(old.data()), reinterpret_cast<int16_t*>(wide.data()), divisor);
            break;
        case TYPE_U32:
            quad516(reinterpret_cast<const uint32_t*>(old.data()), reinterpret_cast<uint32_t*>(wide.data()), divisor);
            break;
        default:
            quad516(reinterpret_cast<const double*>(old.data()), reinterpret_cast<double*>(wide.data()), divisor);
            break;
        }
        return replaceFrame("Quad 516", id, shape, old, kQuad516Side, kQuad516Side, wide) == 0 ? 0 : -1;
    });
}

int runConvert(void* userData, const _FuncSlot* in, void* const*)
{
    return guarded("Convert", [&] {
        const int type = static_cast<int>(reinterpret_cast<intptr_t>(userData));
        const int rc = mgr().mgrSetFrameType(frameIdOf(in), type);
        if (rc != 0)
            logMsg("Convert: frame %u cannot be given the element type %d (code %d).", frameIdOf(in), type, rc);
        return rc;
    });
}

// ---- the table ----

struct FilterEntry {
    const char* name;
    const char* description;
    uint32_t flags;
    const void* userData;
    FuncItemCallback run;
};

void* number(uintptr_t value)
{
    return reinterpret_cast<void*>(value);
}

constexpr uint32_t kWithInstances = FUNC_FILTER | FUNC_FILTER_INSTANCES;

} // namespace

int registerBuiltinFilters(const _MgrFuncTable* table)
{
    g_table = table;
    const FilterEntry entries[] = {
        {"Save", "Filter which saves frame to file in ASCII or binary format.", kWithInstances,
         &kInstanceCallbacks<SaveSettings>, runSave},
        {"Crop", "Crops selected frame (selects part of frame).", kWithInstances, &kInstanceCallbacks<CropSettings>,
         runCrop},
        {"Sarnet counts to time", "Filter which recalculates counts to time [ns] (for Sarnet in sarnet mode).",
         kWithInstances, &kInstanceCallbacks<CountsToTimeSettings>, runCountsToTime},
        {"Srn calibration",
         "Filter which calibrates Sarnet frame (TOT mode), calibration coef. are taken from specified files.",
         kWithInstances, &kInstanceCallbacks<SrnSettings>, runSrn},
        {"Frame statistics", "Filter which takes a frame and saves selected stat. information to specified file.",
         kWithInstances, &kInstanceCallbacks<StatisticsSettings>, runStatistics},
        {"Tarvik mask", "Filter which sets value of masked pixels to specified value.", kWithInstances,
         &kInstanceCallbacks<MaskSettings>, runMask},
        {"Duplicate", "Filter which duplicates frame.", FUNC_FILTER, nullptr, runDuplicate},
        {"Quad 516 distribute",
         "Filter which convert quad frame 512x512 to 516x516 (bigger pixels count will be distributed).", FUNC_FILTER,
         number(3), runQuad516},
        {"Quad 516 duplicate",
         "Filter which convert quad frame 512x512 to 516x516 (bigger pixels count will be duplicated)", FUNC_FILTER,
         number(1), runQuad516},
        {"Convert to i16", "Filter which change frame type to i16.", FUNC_FILTER, number(TYPE_I16), runConvert},
        {"Convert to u32", "Filter which change frame type to u32.", FUNC_FILTER, number(TYPE_U32), runConvert},
        {"Convert to double", "Filter which change frame type to double.", FUNC_FILTER, number(TYPE_DOUBLE),
         runConvert},
    };
    for (const FilterEntry& e : entries) {
        _FuncItem item{};
        item.callback = e.run;
        item.inCount = 2;
        item.outCount = 0;
        item.in[0] = _FuncParam{TYPE_U32, 1, "ID of frame"};
        item.in[1] = _FuncParam{TYPE_U32, 1, "ID of filter instance"};
        std::snprintf(item.plugin, sizeof item.plugin, "%s", kPluginName);
        std::snprintf(item.function, sizeof item.function, "%s", e.name);
        std::snprintf(item.description, sizeof item.description, "%s", e.description);
        item.userData = const_cast<void*>(e.userData);
        item.flags = e.flags;
        const int rc = table->mgrAddFuncItem(&item);
        if (rc != 0) {
            logMsg("Filter %s cannot be registered (code %d).", e.name, rc);
            return rc;
        }
    }
    return 0;
}

} // namespace chainedit
