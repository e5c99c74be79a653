// Test-only hardware library: several configurable devices, every acquisition mode, callbacks,
// hardware-info items of every type and injectable failures. Tests steer it through its ini file and the
// control functions of fakehw.h.
#include "fakehw.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hwlibs/common/hw_func_table.h"
#include "platform/ini.h"
#include "tvk_export.h"
#include "tvk_hw.h"

namespace {

constexpr int kInvalidId = -1000;
constexpr int kItemTooSmall = -1001;

struct ItemDef {
    const char* name;
    const char* description;
    uint32_t type;
    uint32_t count;
    uint32_t flags;
};

const uint32_t kCfgW = HWINFO_CONFIG | HWINFO_WRITABLE;
const ItemDef kItems[] = {
    {"Bool item", "A bool", TYPE_BOOL, 1, kCfgW | HWINFO_TO_FRAME},
    {"Char item", "A text", TYPE_CHAR, 32, kCfgW},
    {"UChar item", "Unsigned chars", TYPE_UCHAR, 8, kCfgW},
    {"Byte item", "Bytes", TYPE_BYTE, 3, kCfgW},
    {"I16 item", "Two i16", TYPE_I16, 2, kCfgW | HWINFO_TO_FRAME},
    {"U16 item", "A u16", TYPE_U16, 1, kCfgW},
    {"I32 item", "An i32", TYPE_I32, 1, kCfgW},
    {"U32 item", "A u32, not stored", TYPE_U32, 1, HWINFO_WRITABLE | HWINFO_TO_FRAME},
    {"Float item", "Two floats", TYPE_FLOAT, 2, kCfgW},
    {"Double item", "A double", TYPE_DOUBLE, 1, kCfgW | HWINFO_TO_FRAME},
    {"String item", "A string", TYPE_STRING, 16, kCfgW},
    {"Big item", "Longer than the usual item buffer", TYPE_CHAR, 1500, kCfgW},
    {"Version", "Read-only version", TYPE_U32, 1, 0},
    // With [Fake] Scope=1 only: the scope items of the USB readout box.
    {"ScopeOnTrg", "Start scope on trigger", TYPE_BOOL, 1, kCfgW},
    {"Scope data", "Scope data", TYPE_U16, 450, 0},
};
constexpr int kAllItemCount = sizeof(kItems) / sizeof(kItems[0]);
constexpr int kItemCount = kAllItemCount - 2;   // without the scope items
constexpr int kScopeOnTrgItem = kItemCount;
constexpr int kScopeDataItem = kItemCount + 1;
const int kTypeSizes[] = {4, 1, 1, 1, 2, 2, 4, 4, 4, 8, 4};

std::vector<unsigned char> initialValue(int index)
{
    const ItemDef& def = kItems[index];
    std::vector<unsigned char> v(static_cast<size_t>(kTypeSizes[def.type]) * def.count, 0);
    auto put = [&](const void* p, size_t n) { std::memcpy(v.data(), p, n); };
    switch (index) {
    case 0: { int32_t b = 1; put(&b, 4); break; }
    case 1: put("fake text", 9); break;
    case 2: put("abc", 3); break;
    case 3: { unsigned char b[] = {1, 2, 3}; put(b, 3); break; }
    case 4: { int16_t s[] = {-5, 7}; put(s, 4); break; }
    case 5: { uint16_t u = 65535; put(&u, 2); break; }
    case 6: { int32_t i = -123456; put(&i, 4); break; }
    case 7: { uint32_t u = 42; put(&u, 4); break; }
    case 8: { float f[] = {1.5f, -0.25f}; put(f, 8); break; }
    case 9: { double d = 3.14159; put(&d, 8); break; }
    case 10: put("str val", 7); break;
    case 11: put("big", 3); break;
    case 12: { uint32_t u = 7; put(&u, 4); break; }
    case kScopeOnTrgItem: { int32_t b = 1; put(&b, 4); break; }
    default: break;
    }
    return v;
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string iniPath();

int iniInt(const std::string& file, const std::string& section, const char* key, int def)
{
    return plat::getProfileInt(section.c_str(), key, def, file.c_str());
}

std::string iniText(const std::string& file, const std::string& section, const char* key, const std::string& def)
{
    char out[512];
    plat::getProfileString(section.c_str(), key, def.c_str(), out, sizeof out, file.c_str());
    return out;
}

// The chip-ordered indices of the entries "chip:row:column" of text that lie on a device of this many
// chips, sorted, each once.
std::vector<uint32_t> stuckPixels(const std::string& text, int chips)
{
    std::vector<uint32_t> out;
    std::istringstream entries(text);
    std::string entry;
    while (entries >> entry) {
        unsigned chip = 0, row = 0, column = 0;
        char end = 0;
        if (std::sscanf(entry.c_str(), "%u:%u:%u%c", &chip, &row, &column, &end) != 3 || chips < 0 ||
            chip >= static_cast<unsigned>(chips) || row >= 256 || column >= 256)
            continue;
        out.push_back(chip * 65536 + row * 256 + column);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

void fire(void* tag, int event);

class FakeDevice final : public hwkit::Device {
public:
    FakeDevice(const std::string& ini, int index);
    ~FakeDevice() override { stopWorker(); }

    int beforeCall(const char* function) override;
    int init() override;
    int closeDevice() override;
    int getHwInfoFlags(int index, uint32_t* flags) override;
    int getHwInfo(int index, HwInfoItem* item, int* dataSize) override;
    int setHwInfo(int index, const void* data, int dataSize) override;
    int getDevInfo(_DevInfo* out) override;
    int getAcqTime(double* time) override;
    int setAcqPars(const _AcqPars* acqPars) override;
    int startAcquisition() override;
    int stopAcquisition() override;
    int checkBusy(int* busy) override;
    int testPulses(double, double, uint32_t) override { return 0; }
    int setTvkDacs(const uint16_t* values, int dacCount, int sense, int extDac, const int* dacCodes,
                   uint32_t) override;
    int getTvkDacVal(int chip, double* value) override;
    int setExtDac(double value) override;
    int setPixelsCfg(const uint8_t* cfg, uint32_t size) override;
    int resetMatrix() override;
    int readMatrix(uint16_t* buffer, uint32_t count) override;
    int writeMatrix(const uint16_t* buffer, uint32_t count) override;
    int generalReset() override;

    // What the control functions read and set; guarded by the device's call lock.
    _DevInfo info{};
    std::string interfaceName;
    bool initFails = false;
    _AcqPars pars{};
    std::vector<uint16_t> dacs;
    int senseOn = 0;
    int extDacOn = 0;
    std::vector<int> codes;
    std::vector<uint8_t> pixels;
    std::vector<uint16_t> written;
    std::vector<uint32_t> stuck; // chip-ordered indices of the stuck counters
    std::vector<std::vector<unsigned char>> items;
    std::map<std::string, int> failures;
    std::map<std::string, int64_t> counters;
    double extDac = 0.0;
    // Read-outs scripted by fakeHwQueueFrame, oldest first, and the scope capture of the last read-out.
    struct Scripted {
        std::vector<uint16_t> counts;
        bool withScope = false;
        std::vector<uint16_t> scope;
    };
    std::deque<Scripted> queued;
    bool captured = false;
    std::vector<uint16_t> capture;

private:
    void stopWorker();

    double start_ = 0.0;
    double elapsed_ = 0.0;
    bool running_ = false;
    std::thread worker_; // signals a callback device's acquisition events
    std::atomic<bool> stopRequested_{false};
};

class FakeLibrary final : public hwkit::Library {
public:
    FakeLibrary() : Library(kInvalidId) {}

    // The injected failure of a function on every device; 0 when none.
    int globalFailure(const std::string& function)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = globalFailures_.find(function);
        return it == globalFailures_.end() ? 0 : it->second;
    }
    void setGlobalFailure(const std::string& function, int value)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        globalFailures_[function] = value;
        if (value == 0)
            globalFailures_.erase(function);
    }

protected:
    int discover() override
    {
        const std::string ini = iniPath();
        const int count = iniInt(ini, "Fake", "Devices", 0);
        nextResult_ = iniInt(ini, "Fake", "NextResult", 1);
        scope_ = iniInt(ini, "Fake", "Scope", 0) != 0;
        for (int i = deviceCount(); i < count; ++i)
            addDevice(std::make_unique<FakeDevice>(ini, i));
        const int first = iniInt(ini, "Fake", "FirstResult", 0);
        if (first != 0)
            return hwkit::setGeneralError(first, "injected enumeration failure");
        return 0;
    }
    int endOfList() override
    {
        if (nextResult_ < 0)
            hwkit::setGeneralError(nextResult_, "injected enumeration failure");
        return nextResult_;
    }
    int itemCount() override { return scope_ ? kAllItemCount : kItemCount; }

private:
    int nextResult_ = 1;   // guarded by the enumeration lock
    std::atomic<bool> scope_{false};
    std::mutex mutex_;     // guards globalFailures_; taken under a device's call lock, nothing called under it
    std::map<std::string, int> globalFailures_;
};

FakeLibrary& fake()
{
    static FakeLibrary library;
    return library;
}

std::string iniPath()
{
    return hwkit::settingsPathOf(reinterpret_cast<const void*>(&fake));
}

void fire(void* tag, int event)
{
    if (HwCallback cb = fake().callback())
        cb(tag, event, 0);
}

FakeDevice::FakeDevice(const std::string& ini, int index)
{
    const std::string section = "Device" + std::to_string(index);
    const int chips = iniInt(ini, section, "Chips", 1);
    info = _DevInfo{.pixelCount = chips * 65536,
                    .rowLength = chips == 4 ? 512 : 256 * chips,
                    .chipCount = chips,
                    .chipRows = chips == 4 ? 2 : 1,
                    .chipType = iniInt(ini, section, "Type", 1),
                    .chipboardId = {},
                    .interfaceName = nullptr,
                    .acqModeMask = static_cast<uint32_t>(iniInt(ini, section, "Modes", 31)),
                    .callbackSupported = iniInt(ini, section, "Callback", 0),
                    .clockMHz = 20.0,
                    .hwTimerMax = 10.0,
                    .hwTimerStep = 0.001,
                    .maxTestPulseCount = 1000,
                    .maxTestPulseHeight = 1.0,
                    .maxTestPulsePeriod = 0.001,
                    .reserved = 0.0,
                    .extDacMax = 5.0,
                    .extDacStep = 0.001};
    const std::string id = iniText(ini, section, "Id", "F" + std::to_string(index));
    // An id of 64 characters or more fills the field without a terminating zero, as faulty hardware may.
    std::memcpy(info.chipboardId, id.data(), std::min(id.size(), sizeof info.chipboardId));
    interfaceName = iniText(ini, section, "Interface", "fake");
    initFails = iniInt(ini, section, "InitFails", 0) != 0;
    stuck = stuckPixels(plat::iniRead(ini, section, "StuckPixels").value_or(""), chips);
    pars.acqMode = ACQMODE_MANUAL;
    pixels.assign(static_cast<size_t>(info.pixelCount > 0 ? info.pixelCount : 0), 0);
    for (int i = 0; i < kAllItemCount; ++i)
        items.push_back(initialValue(i));
}

// Counts the call and applies an injected failure.
int FakeDevice::beforeCall(const char* function)
{
    ++counters[std::string("calls.") + function];
    int fail = 0;
    if (const auto it = failures.find(function); it != failures.end())
        fail = it->second;
    else
        fail = fake().globalFailure(function);
    if (fail != 0)
        return setError(fail, "injected failure of %s", function);
    return 0;
}

// Ends the callback thread of the last acquisition. The call lock is let go meanwhile: the thread's
// events may reach code that calls into this device.
void FakeDevice::stopWorker()
{
    if (!worker_.joinable())
        return;
    stopRequested_ = true;
    std::thread worker = std::move(worker_);
    withoutCallLock([&] { worker.join(); });
}

int FakeDevice::init()
{
    if (initFails)
        return setError(-3, "device does not answer");
    counters["closed"] = 0;
    return 0;
}

int FakeDevice::closeDevice()
{
    stopWorker();
    setCbTag(nullptr);
    counters["closed"] = 1;
    return 0;
}

int FakeDevice::getHwInfoFlags(int index, uint32_t* flags)
{
    if (index < 0 || index >= kAllItemCount)
        return setError(-2, "Invalid item index");
    *flags = kItems[index].flags;
    // The capture goes into frames while the scope starts on the trigger and a read-out brought one.
    if (index == kScopeDataItem && captured && items[kScopeOnTrgItem][0] != 0)
        *flags |= HWINFO_TO_FRAME;
    return 0;
}

int FakeDevice::getHwInfo(int index, HwInfoItem* item, int* dataSize)
{
    if (index < 0 || index >= kAllItemCount)
        return setError(-2, "Invalid item index");
    const ItemDef& def = kItems[index];
    if (index == kScopeDataItem) { // the samples of the last capture, as many as it holds
        const uint32_t count = static_cast<uint32_t>(capture.size());
        if (!hwkit::copyHwInfoItem({def.type, count, def.flags, def.name, def.description, nullptr}, capture.data(),
                                   static_cast<int>(count * 2), item, dataSize))
            return setError(kItemTooSmall, "Item buffer too small");
        return 0;
    }
    const auto& value = items[static_cast<size_t>(index)];
    if (!hwkit::copyHwInfoItem({def.type, def.count, def.flags, def.name, def.description, nullptr}, value.data(),
                               static_cast<int>(value.size()), item, dataSize))
        return setError(kItemTooSmall, "Item buffer too small");
    return 0;
}

int FakeDevice::setHwInfo(int index, const void* data, int dataSize)
{
    if (index < 0 || index >= kAllItemCount)
        return setError(-2, "Invalid item index");
    auto& value = items[static_cast<size_t>(index)];
    if (dataSize != static_cast<int>(value.size()))
        return setError(-2, "Invalid size of item data");
    if (kItems[index].flags & HWINFO_WRITABLE)
        std::memcpy(value.data(), data, value.size());
    return 0;
}

int FakeDevice::getDevInfo(_DevInfo* out)
{
    *out = info;
    out->interfaceName = interfaceName.c_str();
    return 0;
}

int FakeDevice::getAcqTime(double* time)
{
    *time = elapsed_;
    return 0;
}

int FakeDevice::setAcqPars(const _AcqPars* acqPars)
{
    if ((static_cast<uint32_t>(acqPars->acqMode) & info.acqModeMask) == 0)
        return setError(-2, "Invalid acq mode.");
    pars = *acqPars;
    return 0;
}

int FakeDevice::startAcquisition()
{
    stopWorker();
    running_ = true;
    start_ = now();
    elapsed_ = -1.0;
    if (info.callbackSupported) {
        stopRequested_ = false;
        const int mode = pars.acqMode;
        const double length = pars.useHwTimer ? pars.acqTime : -1.0;
        void* eventTag = tag();
        worker_ = std::thread([this, mode, length, eventTag] {
            if (mode == ACQMODE_TRIG_START || mode == ACQMODE_TRIG_EXTSHUTTER)
                fire(eventTag, HWCB_ACQ_STARTED);
            const double begin = now();
            while (!stopRequested_ && (length < 0 || now() - begin < length))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!stopRequested_)
                fire(eventTag, HWCB_ACQ_FINISHED);
        });
    }
    return 0;
}

int FakeDevice::stopAcquisition()
{
    stopWorker();
    if (running_)
        elapsed_ = now() - start_;
    running_ = false;
    return 0;
}

int FakeDevice::checkBusy(int* busy)
{
    *busy = running_ && pars.useHwTimer && now() - start_ < pars.acqTime;
    return 0;
}

int FakeDevice::setTvkDacs(const uint16_t* values, int dacCount, int sense, int extDacSense,
                           const int* dacCodes, uint32_t)
{
    dacs.assign(values, values + dacCount);
    senseOn = sense;
    extDacOn = extDacSense;
    codes.clear();
    if (dacCodes)
        codes.assign(dacCodes, dacCodes + info.chipCount);
    return 0;
}

int FakeDevice::getTvkDacVal(int chip, double* value)
{
    // 10 mV per sense code plus 1 mV per chip, alternating by +-1 mV between readings.
    const int sense = codes.empty() || chip < 0 || chip >= static_cast<int>(codes.size())
                          ? 0 : codes[static_cast<size_t>(chip)];
    const int64_t reading = counters["readings"]++;
    *value = 0.01 * sense + 0.001 * chip + (reading % 2 ? 0.001 : -0.001);
    return 0;
}

int FakeDevice::setExtDac(double value)
{
    extDac = value;
    return 0;
}

int FakeDevice::setPixelsCfg(const uint8_t* cfg, uint32_t size)
{
    if (size != pixels.size())
        return setError(-2, "Invalid pixel configuration size");
    std::memcpy(pixels.data(), cfg, size);
    return 0;
}

int FakeDevice::resetMatrix()
{
    written.clear();
    return 0;
}

int FakeDevice::readMatrix(uint16_t* buffer, uint32_t count)
{
    if (count != pixels.size())
        return setError(-2, "Invalid matrix size");
    if (!queued.empty()) {
        Scripted next = std::move(queued.front());
        queued.pop_front();
        std::memcpy(buffer, next.counts.data(), count * sizeof(uint16_t));
        captured = next.withScope;
        capture = std::move(next.scope);
        return 0;
    }
    captured = false;
    capture.clear();
    // A written matrix reads back, but never on a stuck counter; otherwise counting pixels give a pattern
    // and masked ones 0.
    for (uint32_t i = 0; i < count; ++i)
        buffer[i] = !written.empty() ? written[i] : (pixels[i] & 1) ? static_cast<uint16_t>(i % 251) : 0;
    if (!written.empty())
        for (const uint32_t i : stuck)
            buffer[i] ^= 1;
    return 0;
}

int FakeDevice::writeMatrix(const uint16_t* buffer, uint32_t count)
{
    if (count != pixels.size())
        return setError(-2, "Invalid matrix size");
    written.assign(buffer, buffer + count);
    return 0;
}

int FakeDevice::generalReset()
{
    ++counters["generalResets"];
    return 0;
}

// Runs f on the device with its call lock held; -1 when no device has the id.
template <typename F>
int withFakeDevice(int id, F&& f)
{
    hwkit::LockedDevice device = fake().lockDevice(id);
    if (!device)
        return -1;
    return f(static_cast<FakeDevice&>(*device.get()));
}

} // namespace

extern "C" {

TVK_EXPORT _HwFuncTable* getMandatoryFuncs()
{
    static _HwFuncTable table;
    table = *hwkit::funcTable<&fake>();
    const std::string ini = iniPath();
    const int size = iniInt(ini, "Fake", "TableSize", 0);
    table.size = size > 0 ? static_cast<uint32_t>(size) : sizeof(_HwFuncTable);
    if (iniInt(ini, "Fake", "MissingFunction", 0))
        table.hwCheckBusy = nullptr;
    return &table;
}

TVK_EXPORT int fakeHwSet(int id, const char* key, int value)
{
    const std::string k = key;
    if (k.rfind("fail.", 0) != 0)
        return -1;
    const std::string function = k.substr(5);
    if (id == -1) {
        fake().setGlobalFailure(function, value);
        return 0;
    }
    return withFakeDevice(id, [&](FakeDevice& d) {
        d.failures[function] = value;
        if (value == 0)
            d.failures.erase(function);
        return 0;
    });
}

TVK_EXPORT int fakeHwGet(int id, const char* key, int64_t* value)
{
    return withFakeDevice(id, [&](FakeDevice& d) {
        const std::string k = key;
        if (k == "extDac.mV")
            *value = static_cast<int64_t>(d.extDac * 1000.0 + (d.extDac < 0 ? -0.5 : 0.5));
        else
            *value = d.counters[k];
        return 0;
    });
}

TVK_EXPORT int fakeHwLastDacs(int id, uint16_t* dacs, int size, int* dacCount, int* senseOn, int* extDacOn,
                              int* codes, int codesSize)
{
    return withFakeDevice(id, [&](FakeDevice& d) {
        *dacCount = static_cast<int>(d.dacs.size());
        for (int i = 0; i < size && i < static_cast<int>(d.dacs.size()); ++i)
            dacs[i] = d.dacs[static_cast<size_t>(i)];
        *senseOn = d.senseOn;
        *extDacOn = d.extDacOn;
        for (int i = 0; i < codesSize; ++i)
            codes[i] = i < static_cast<int>(d.codes.size()) ? d.codes[static_cast<size_t>(i)] : 0;
        return 0;
    });
}

TVK_EXPORT int fakeHwLastPixels(int id, uint8_t* cfg, uint32_t size)
{
    return withFakeDevice(id, [&](FakeDevice& d) {
        if (size != d.pixels.size())
            return -2;
        std::memcpy(cfg, d.pixels.data(), size);
        return 0;
    });
}

TVK_EXPORT int fakeHwQueueFrame(int id, const uint16_t* counts, uint32_t pixelCount, const uint16_t* scope,
                                uint32_t sampleCount)
{
    return withFakeDevice(id, [&](FakeDevice& d) {
        if (!counts || pixelCount != d.pixels.size() || (scope && sampleCount > 65536))
            return -2;
        FakeDevice::Scripted s;
        s.counts.assign(counts, counts + pixelCount);
        s.withScope = scope != nullptr;
        if (scope)
            s.scope.assign(scope, scope + sampleCount);
        d.queued.push_back(std::move(s));
        return 0;
    });
}

TVK_EXPORT void* fakeHwTag(int id)
{
    hwkit::LockedDevice device = fake().lockDevice(id);
    return device ? device->tag() : nullptr;
}

TVK_EXPORT int fakeHwFireTag(void* tag, int event)
{
    fire(tag, event);
    return 0;
}

TVK_EXPORT int fakeHwFire(int id, int event)
{
    void* tag = fakeHwTag(id);
    if (!tag)
        return -1;
    fire(tag, event);
    return 0;
}

} // extern "C"
