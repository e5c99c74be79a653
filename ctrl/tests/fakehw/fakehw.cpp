// Test-only hardware library: several configurable devices, every acquisition mode, callbacks,
// hardware-info items of every type and injectable failures. Tests steer it through its ini file and the
// control functions of fakehw.h.
#include "fakehw.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ini.h"
#include "platform/module.h"
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
};
constexpr int kItemCount = sizeof(kItems) / sizeof(kItems[0]);
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
    default: break;
    }
    return v;
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct FakeDevice {
    _DevInfo info{};
    std::string interfaceName;
    bool initFails = false;
    void* tag = nullptr;
    _AcqPars pars{};
    std::vector<uint16_t> dacs;
    int senseOn = 0;
    int extDacOn = 0;
    std::vector<int> codes;
    std::vector<uint8_t> pixels;
    std::vector<uint16_t> written;
    std::vector<std::vector<unsigned char>> items;
    std::map<std::string, int> failures;
    std::map<std::string, int64_t> counters;
    std::string lastError;
    double extDac = 0.0;
    double start = 0.0;
    double elapsed = 0.0;
    bool running = false;
    std::thread worker;            // signals a callback device's acquisition events
    std::atomic<bool> stopWorker{false};
};

struct FakeLibrary {
    // Guards every field below and the devices; never held while the callback runs.
    std::mutex mutex;
    std::vector<std::unique_ptr<FakeDevice>> devices;
    std::map<std::string, int> globalFailures;
    HwCallback callback = nullptr;
    int cursor = 0;
    int nextResult = 1;
    std::string generalError;

    ~FakeLibrary()
    {
        for (auto& d : devices)
            if (d->worker.joinable()) {
                d->stopWorker = true;
                d->worker.join();
            }
    }
};

FakeLibrary& lib()
{
    static FakeLibrary library;
    return library;
}

std::string iniPath()
{
    std::string path = plat::modulePathOf(reinterpret_cast<const void*>(&lib));
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".so") == 0)
        path.resize(path.size() - 3);
    return path + ".ini";
}

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

std::unique_ptr<FakeDevice> makeDevice(const std::string& ini, int index)
{
    auto d = std::make_unique<FakeDevice>();
    const std::string section = "Device" + std::to_string(index);
    const int chips = iniInt(ini, section, "Chips", 1);
    const int rows = chips == 4 ? 2 : 1;
    d->info.chipCount = chips;
    d->info.chipRows = rows;
    d->info.pixelCount = chips * 65536;
    d->info.rowLength = chips == 4 ? 512 : 256 * chips;
    d->info.chipType = iniInt(ini, section, "Type", 1);
    const std::string id = iniText(ini, section, "Id", "F" + std::to_string(index));
    // An id of 64 characters or more fills the field without a terminating zero, as faulty hardware may.
    std::memcpy(d->info.chipboardId, id.data(), std::min(id.size(), sizeof d->info.chipboardId));
    d->interfaceName = iniText(ini, section, "Interface", "fake");
    d->info.acqModeMask = static_cast<uint32_t>(iniInt(ini, section, "Modes", 31));
    d->info.callbackSupported = iniInt(ini, section, "Callback", 0);
    d->info.clockMHz = 20.0;
    d->info.hwTimerMax = 10.0;
    d->info.hwTimerStep = 0.001;
    d->info.maxTestPulseCount = 1000;
    d->info.maxTestPulseHeight = 1.0;
    d->info.maxTestPulsePeriod = 0.001;
    d->info.extDacMax = 5.0;
    d->info.extDacStep = 0.001;
    d->initFails = iniInt(ini, section, "InitFails", 0) != 0;
    d->pars.acqMode = ACQMODE_MANUAL;
    d->pixels.assign(static_cast<size_t>(d->info.pixelCount > 0 ? d->info.pixelCount : 0), 0);
    for (int i = 0; i < kItemCount; ++i)
        d->items.push_back(initialValue(i));
    return d;
}

// Looks the device up and applies an injected failure; the lock must be held.
FakeDevice* device(int id, const char* function, int* result)
{
    FakeLibrary& l = lib();
    if (id < 0 || id >= static_cast<int>(l.devices.size())) {
        l.generalError = "Invalid HW ID";
        *result = kInvalidId;
        return nullptr;
    }
    FakeDevice* d = l.devices[static_cast<size_t>(id)].get();
    ++d->counters[std::string("calls.") + function];
    int fail = 0;
    if (const auto it = d->failures.find(function); it != d->failures.end())
        fail = it->second;
    else if (const auto git = l.globalFailures.find(function); git != l.globalFailures.end())
        fail = git->second;
    if (fail != 0) {
        d->lastError = std::string("injected failure of ") + function;
        *result = fail;
        return nullptr;
    }
    *result = 0;
    return d;
}

#define FAKE_DEVICE(fn)                                   \
    std::unique_lock<std::mutex> guard(lib().mutex);      \
    int result = 0;                                       \
    FakeDevice* d = device(id, fn, &result);              \
    if (!d)                                               \
        return result;

void fire(void* tag, int event)
{
    HwCallback cb = nullptr;
    {
        std::lock_guard<std::mutex> guard(lib().mutex);
        cb = lib().callback;
    }
    if (cb)
        cb(tag, event, 0);
}

void stopWorker(FakeDevice* d, std::unique_lock<std::mutex>& guard)
{
    if (!d->worker.joinable())
        return;
    d->stopWorker = true;
    std::thread worker = std::move(d->worker);
    guard.unlock();
    worker.join();
    guard.lock();
}

// ---- the table ----

int hwGetFirst(int* id)
{
    const std::string ini = iniPath();
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    const int count = iniInt(ini, "Fake", "Devices", 0);
    l.nextResult = iniInt(ini, "Fake", "NextResult", 1);
    for (int i = static_cast<int>(l.devices.size()); i < count; ++i)
        l.devices.push_back(makeDevice(ini, i));
    l.cursor = 0;
    const int first = iniInt(ini, "Fake", "FirstResult", 0);
    if (first != 0) {
        l.generalError = "injected enumeration failure";
        return first;
    }
    if (l.devices.empty())
        return HW_NO_MORE_DEVICES;
    *id = 0;
    return 0;
}

int hwGetNext(int* id)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    if (++l.cursor >= static_cast<int>(l.devices.size())) {
        if (l.nextResult < 0)
            l.generalError = "injected enumeration failure";
        return l.nextResult;
    }
    *id = l.cursor;
    return 0;
}

int hwInit(int id)
{
    FAKE_DEVICE("hwInit");
    if (d->initFails) {
        d->lastError = "device does not answer";
        return -3;
    }
    d->counters["closed"] = 0;
    return 0;
}

int hwSetCb(HwCallback cb)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    lib().callback = cb;
    return 0;
}

int hwSetCbTag(int id, void* tag)
{
    FAKE_DEVICE("hwSetCbTag");
    d->tag = tag;
    return 0;
}

int hwGetHwInfoCount()
{
    return kItemCount;
}

int hwGetHwInfoFlags(int id, int index, uint32_t* flags)
{
    FAKE_DEVICE("hwGetHwInfoFlags");
    if (index < 0 || index >= kItemCount) {
        d->lastError = "Invalid item index";
        return -2;
    }
    *flags = kItems[index].flags;
    return 0;
}

int hwGetHwInfo(int id, int index, HwInfoItem* item, int* dataSize)
{
    FAKE_DEVICE("hwGetHwInfo");
    if (index < 0 || index >= kItemCount) {
        d->lastError = "Invalid item index";
        return -2;
    }
    const ItemDef& def = kItems[index];
    item->type = def.type;
    item->count = def.count;
    item->flags = def.flags;
    item->name = def.name;
    item->description = def.description;
    const int need = static_cast<int>(d->items[static_cast<size_t>(index)].size());
    if (*dataSize < need) {
        *dataSize = need;
        d->lastError = "Item buffer too small";
        return kItemTooSmall;
    }
    std::memcpy(item->data, d->items[static_cast<size_t>(index)].data(), static_cast<size_t>(need));
    return 0;
}

int hwSetHwInfo(int id, int index, const void* data, int dataSize)
{
    FAKE_DEVICE("hwSetHwInfo");
    if (index < 0 || index >= kItemCount) {
        d->lastError = "Invalid item index";
        return -2;
    }
    auto& value = d->items[static_cast<size_t>(index)];
    if (dataSize != static_cast<int>(value.size())) {
        d->lastError = "Invalid size of item data";
        return -2;
    }
    if (kItems[index].flags & HWINFO_WRITABLE)
        std::memcpy(value.data(), data, value.size());
    return 0;
}

int hwGetDevInfo(int id, _DevInfo* info)
{
    FAKE_DEVICE("hwGetDevInfo");
    *info = d->info;
    info->interfaceName = d->interfaceName.c_str();
    return 0;
}

int hwGetAcqTime(int id, double* time)
{
    FAKE_DEVICE("hwGetAcqTime");
    *time = d->elapsed;
    return 0;
}

int hwSetAcqPars(int id, const _AcqPars* pars)
{
    FAKE_DEVICE("hwSetAcqPars");
    if ((static_cast<uint32_t>(pars->acqMode) & d->info.acqModeMask) == 0) {
        d->lastError = "Invalid acq mode.";
        return -2;
    }
    d->pars = *pars;
    return 0;
}

int hwStartAcquisition(int id)
{
    FAKE_DEVICE("hwStartAcquisition");
    stopWorker(d, guard);
    d->running = true;
    d->start = now();
    d->elapsed = -1.0;
    if (d->info.callbackSupported) {
        d->stopWorker = false;
        const int mode = d->pars.acqMode;
        const double length = d->pars.useHwTimer ? d->pars.acqTime : -1.0;
        void* tag = d->tag;
        d->worker = std::thread([d, mode, length, tag] {
            if (mode == ACQMODE_TRIG_START || mode == ACQMODE_TRIG_EXTSHUTTER)
                fire(tag, HWCB_ACQ_STARTED);
            const double begin = now();
            while (!d->stopWorker && (length < 0 || now() - begin < length))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!d->stopWorker)
                fire(tag, HWCB_ACQ_FINISHED);
        });
    }
    return 0;
}

int hwStopAcquisition(int id)
{
    FAKE_DEVICE("hwStopAcquisition");
    stopWorker(d, guard);
    if (d->running)
        d->elapsed = now() - d->start;
    d->running = false;
    return 0;
}

int hwTestPulses(int id, double, double, uint32_t)
{
    FAKE_DEVICE("hwTestPulses");
    return 0;
}

int hwSetTvkDACs(int id, const uint16_t* dacs, int dacCount, int senseOn, int extDacOn, const int* dacCodes,
                 uint32_t)
{
    FAKE_DEVICE("hwSetTvkDACs");
    d->dacs.assign(dacs, dacs + dacCount);
    d->senseOn = senseOn;
    d->extDacOn = extDacOn;
    d->codes.clear();
    if (dacCodes)
        d->codes.assign(dacCodes, dacCodes + d->info.chipCount);
    return 0;
}

int hwGetTvkDacVal(int id, int chip, double* value)
{
    FAKE_DEVICE("hwGetTvkDacVal");
    // 10 mV per sense code plus 1 mV per chip, alternating by +-1 mV between readings.
    const int sense = d->codes.empty() || chip < 0 || chip >= static_cast<int>(d->codes.size())
                          ? 0 : d->codes[static_cast<size_t>(chip)];
    const int64_t reading = d->counters["readings"]++;
    *value = 0.01 * sense + 0.001 * chip + (reading % 2 ? 0.001 : -0.001);
    return 0;
}

int hwSetExtDac(int id, double value)
{
    FAKE_DEVICE("hwSetExtDac");
    d->extDac = value;
    return 0;
}

int hwSetPixelsCfg(int id, const uint8_t* cfg, uint32_t size)
{
    FAKE_DEVICE("hwSetPixelsCfg");
    if (size != d->pixels.size()) {
        d->lastError = "Invalid pixel configuration size";
        return -2;
    }
    std::memcpy(d->pixels.data(), cfg, size);
    return 0;
}

int hwResetMatrix(int id)
{
    FAKE_DEVICE("hwResetMatrix");
    d->written.clear();
    return 0;
}

int hwReadMatrix(int id, uint16_t* buffer, uint32_t count)
{
    FAKE_DEVICE("hwReadMatrix");
    if (count != d->pixels.size()) {
        d->lastError = "Invalid matrix size";
        return -2;
    }
    // A written matrix reads back; otherwise counting pixels give a pattern and masked ones 0.
    for (uint32_t i = 0; i < count; ++i)
        buffer[i] = !d->written.empty() ? d->written[i] : (d->pixels[i] & 1) ? static_cast<uint16_t>(i % 251) : 0;
    return 0;
}

int hwWriteMatrix(int id, const uint16_t* buffer, uint32_t count)
{
    FAKE_DEVICE("hwWriteMatrix");
    if (count != d->pixels.size()) {
        d->lastError = "Invalid matrix size";
        return -2;
    }
    d->written.assign(buffer, buffer + count);
    return 0;
}

int hwGeneralReset(int id)
{
    FAKE_DEVICE("hwGeneralReset");
    ++d->counters["generalResets"];
    return 0;
}

const char* hwGetLastErrorGeneral()
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    return lib().generalError.c_str();
}

const char* hwGetLastError(int id)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    if (id < 0 || id >= static_cast<int>(l.devices.size()))
        return l.generalError.c_str();
    return l.devices[static_cast<size_t>(id)]->lastError.c_str();
}

int hwCheckBusy(int id, int* busy)
{
    FAKE_DEVICE("hwCheckBusy");
    *busy = d->running && d->pars.useHwTimer && now() - d->start < d->pars.acqTime;
    return 0;
}

int hwCloseDevice(int id)
{
    FAKE_DEVICE("hwCloseDevice");
    stopWorker(d, guard);
    d->tag = nullptr;
    d->counters["closed"] = 1;
    return 0;
}

_HwFuncTable table = {sizeof(_HwFuncTable), hwGetFirst, hwGetNext, hwInit, hwSetCb, hwSetCbTag,
                      hwGetHwInfoCount, hwGetHwInfoFlags, hwGetHwInfo, hwSetHwInfo, hwGetDevInfo, hwGetAcqTime,
                      hwSetAcqPars, hwStartAcquisition, hwStopAcquisition, hwTestPulses, hwSetTvkDACs,
                      hwGetTvkDacVal, hwSetExtDac, hwSetPixelsCfg, hwResetMatrix, hwReadMatrix, hwWriteMatrix,
                      hwGeneralReset, hwGetLastErrorGeneral, hwGetLastError, hwCheckBusy, hwCloseDevice};

} // namespace

extern "C" {

TVK_EXPORT _HwFuncTable* getMandatoryFuncs()
{
    const std::string ini = iniPath();
    const int size = iniInt(ini, "Fake", "TableSize", 0);
    table.size = size > 0 ? static_cast<uint32_t>(size) : sizeof(_HwFuncTable);
    table.hwCheckBusy = iniInt(ini, "Fake", "MissingFunction", 0) ? nullptr : hwCheckBusy;
    return &table;
}

TVK_EXPORT int fakeHwSet(int id, const char* key, int value)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    const std::string k = key;
    if (k.rfind("fail.", 0) != 0)
        return -1;
    const std::string function = k.substr(5);
    if (id == -1) {
        l.globalFailures[function] = value;
        if (value == 0)
            l.globalFailures.erase(function);
        return 0;
    }
    if (id < 0 || id >= static_cast<int>(l.devices.size()))
        return -1;
    auto& failures = l.devices[static_cast<size_t>(id)]->failures;
    failures[function] = value;
    if (value == 0)
        failures.erase(function);
    return 0;
}

TVK_EXPORT int fakeHwGet(int id, const char* key, int64_t* value)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    if (id < 0 || id >= static_cast<int>(l.devices.size()))
        return -1;
    FakeDevice* d = l.devices[static_cast<size_t>(id)].get();
    const std::string k = key;
    if (k == "extDac.mV")
        *value = static_cast<int64_t>(d->extDac * 1000.0 + (d->extDac < 0 ? -0.5 : 0.5));
    else
        *value = d->counters[k];
    return 0;
}

TVK_EXPORT int fakeHwLastDacs(int id, uint16_t* dacs, int size, int* dacCount, int* senseOn, int* extDacOn,
                              int* codes, int codesSize)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    if (id < 0 || id >= static_cast<int>(l.devices.size()))
        return -1;
    FakeDevice* d = l.devices[static_cast<size_t>(id)].get();
    *dacCount = static_cast<int>(d->dacs.size());
    for (int i = 0; i < size && i < static_cast<int>(d->dacs.size()); ++i)
        dacs[i] = d->dacs[static_cast<size_t>(i)];
    *senseOn = d->senseOn;
    *extDacOn = d->extDacOn;
    for (int i = 0; i < codesSize; ++i)
        codes[i] = i < static_cast<int>(d->codes.size()) ? d->codes[static_cast<size_t>(i)] : 0;
    return 0;
}

TVK_EXPORT int fakeHwLastPixels(int id, uint8_t* cfg, uint32_t size)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    if (id < 0 || id >= static_cast<int>(l.devices.size()))
        return -1;
    const auto& pixels = l.devices[static_cast<size_t>(id)]->pixels;
    if (size != pixels.size())
        return -2;
    std::memcpy(cfg, pixels.data(), size);
    return 0;
}

TVK_EXPORT void* fakeHwTag(int id)
{
    std::lock_guard<std::mutex> guard(lib().mutex);
    FakeLibrary& l = lib();
    if (id < 0 || id >= static_cast<int>(l.devices.size()))
        return nullptr;
    return l.devices[static_cast<size_t>(id)]->tag;
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
