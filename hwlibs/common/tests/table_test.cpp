// The function table that the kit fills: every entry present, unknown ids and unsupported functions
// refused with the library's code and text, exceptions turned into the library's code and the device's
// or the general text, enumeration results, and the general text kept per thread.
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fault.h"
#include "test_library.h"

using namespace hwkittest;

namespace {

struct DeviceEntry {
    const char* name;
    std::function<int(const _HwFuncTable&, int)> call;
};

// Every entry of the table that takes a device id, with harmless arguments.
std::vector<DeviceEntry> deviceEntries()
{
    static uint32_t flags;
    static HwInfoItem item;
    static int size;
    static _DevInfo info;
    static _AcqPars pars;
    static double d;
    static int busy;
    static uint8_t cfg[1];
    static uint16_t counts[1];
    return {
        {"hwInit", [](const _HwFuncTable& t, int id) { return t.hwInit(id); }},
        {"hwSetCbTag", [](const _HwFuncTable& t, int id) { return t.hwSetCbTag(id, &busy); }},
        {"hwGetHwInfoFlags", [](const _HwFuncTable& t, int id) { return t.hwGetHwInfoFlags(id, 0, &flags); }},
        {"hwGetHwInfo", [](const _HwFuncTable& t, int id) { return t.hwGetHwInfo(id, 0, &item, &size); }},
        {"hwSetHwInfo", [](const _HwFuncTable& t, int id) { return t.hwSetHwInfo(id, 0, &flags, 4); }},
        {"hwGetDevInfo", [](const _HwFuncTable& t, int id) { return t.hwGetDevInfo(id, &info); }},
        {"hwGetAcqTime", [](const _HwFuncTable& t, int id) { return t.hwGetAcqTime(id, &d); }},
        {"hwSetAcqPars", [](const _HwFuncTable& t, int id) { return t.hwSetAcqPars(id, &pars); }},
        {"hwStartAcquisition", [](const _HwFuncTable& t, int id) { return t.hwStartAcquisition(id); }},
        {"hwStopAcquisition", [](const _HwFuncTable& t, int id) { return t.hwStopAcquisition(id); }},
        {"hwTestPulses", [](const _HwFuncTable& t, int id) { return t.hwTestPulses(id, 1.0, 1e-6, 10); }},
        {"hwSetTvkDACs", [](const _HwFuncTable& t, int id) { return t.hwSetTvkDACs(id, nullptr, 0, 0, 0, nullptr, 0); }},
        {"hwGetTvkDacVal", [](const _HwFuncTable& t, int id) { return t.hwGetTvkDacVal(id, 0, &d); }},
        {"hwSetExtDac", [](const _HwFuncTable& t, int id) { return t.hwSetExtDac(id, 0.5); }},
        {"hwSetPixelsCfg", [](const _HwFuncTable& t, int id) { return t.hwSetPixelsCfg(id, cfg, 1); }},
        {"hwResetMatrix", [](const _HwFuncTable& t, int id) { return t.hwResetMatrix(id); }},
        {"hwReadMatrix", [](const _HwFuncTable& t, int id) { return t.hwReadMatrix(id, counts, 1); }},
        {"hwWriteMatrix", [](const _HwFuncTable& t, int id) { return t.hwWriteMatrix(id, counts, 1); }},
        {"hwGeneralReset", [](const _HwFuncTable& t, int id) { return t.hwGeneralReset(id); }},
        {"hwCheckBusy", [](const _HwFuncTable& t, int id) { return t.hwCheckBusy(id, &busy); }},
        {"hwCloseDevice", [](const _HwFuncTable& t, int id) { return t.hwCloseDevice(id); }},
    };
}

TEST(HwKitTable, EveryEntryIsFilled)
{
    Fixture f(0);
    EXPECT_EQ(f.hw.size, sizeof(_HwFuncTable));
    const auto* entries = reinterpret_cast<const unsigned char*>(&f.hw) + offsetof(_HwFuncTable, hwGetFirst);
    for (size_t i = 0; i < 27; ++i) {
        void* entry = nullptr;
        std::memcpy(&entry, entries + i * sizeof entry, sizeof entry);
        EXPECT_NE(entry, nullptr) << "entry " << i;
    }
    EXPECT_EQ(f.hw.hwGetHwInfoCount(), 3);
}

// A device that implements nothing: opening, the tag and closing succeed, everything else reports the
// function by its table name, with the library's code. Unknown ids never reach a device.
TEST(HwKitTable, UnsupportedFunctionsAndUnknownIds)
{
    Fixture f(2);
    f.library.device(1).onReset = [](TestDevice& d) { return d.Device::resetMatrix(); };
    for (const DeviceEntry& e : deviceEntries()) {
        SCOPED_TRACE(e.name);
        const std::string name = e.name;
        const bool lifecycle = name == "hwInit" || name == "hwSetCbTag" || name == "hwCloseDevice";
        EXPECT_EQ(e.call(f.hw, 1), lifecycle ? 0 : kLibraryError);
        if (!lifecycle) {
            EXPECT_EQ(std::string(f.hw.hwGetLastError(1)), name + " is not supported by this device.");
        }
        for (int id : {2, 5, -1, INT32_MIN}) {
            EXPECT_EQ(e.call(f.hw, id), kLibraryError) << "id " << id;
            EXPECT_STREQ(f.hw.hwGetLastError(id), "Invalid HW ID");
            EXPECT_STREQ(f.hw.hwGetLastErrorGeneral(), "Invalid HW ID");
        }
    }
    EXPECT_EQ(f.library.device(1).resets, 1);
    EXPECT_EQ(f.library.device(0).resets, 0);
}

TEST(HwKitTable, TagIsKeptPerDevice)
{
    Fixture f(2);
    int a = 0, b = 0;
    ASSERT_EQ(f.hw.hwSetCbTag(0, &a), 0);
    ASSERT_EQ(f.hw.hwSetCbTag(1, &b), 0);
    EXPECT_EQ(f.library.lockDevice(0)->tag(), &a);
    EXPECT_EQ(f.library.lockDevice(1)->tag(), &b);
}

// What a device function throws becomes the library's code and the device's text; the device then
// works on. The fault exceptions name the module that faulted.
TEST(HwKitTable, ExceptionsBecomeTheLibrarysCodeAndText)
{
    plat::FaultRecord record;
    record.code = plat::kCodeAccessViolation;
    record.accessed = nullptr;
    record.writing = true;
    plat::FaultRecord divide;
    divide.code = plat::kCodeIntDivideByZero;
    struct Case {
        const char* what;
        std::function<void()> raise;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"allocation", [] { throw std::bad_alloc(); }, "Memory allocation failed."},
        {"std::exception", [] { throw std::runtime_error("wire broke"); }, "Unexpected error: wire broke"},
        {"access violation", [&] { throw plat::AccessViolation(record, "/hw/lib.so"); },
         "Unexpected error in module /hw/lib.so: Access violation writing address 0x0000000000000000."},
        {"other fault", [&] { throw plat::Win32Exception(divide, "/hw/lib.so"); },
         "Unexpected error in module /hw/lib.so: Win32 exception (3221225620)."},
        {"fault of no known module", [&] { throw plat::Win32Exception(divide, nullptr); },
         "Unexpected error: Win32 exception (3221225620)."},
        {"anything else", [] { throw 42; }, "Unexpected error."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f(1);
        f.library.device(0).onReset = [&](TestDevice&) -> int {
            c.raise();
            return 0;
        };
        EXPECT_EQ(f.hw.hwResetMatrix(0), kLibraryError);
        EXPECT_EQ(std::string(f.hw.hwGetLastError(0)), c.text);
        f.library.device(0).onReset = [](TestDevice&) { return 0; };
        EXPECT_EQ(f.hw.hwResetMatrix(0), 0) << "the device was left locked";
    }
}

// A device may refuse a call before it runs (a box in an error state, an injected failure).
TEST(HwKitTable, BeforeCallSeesTheTableNameAndCanRefuse)
{
    Fixture f(1);
    std::vector<std::string> seen;
    f.library.device(0).onBeforeCall = [&](const char* function) {
        seen.emplace_back(function);
        return seen.size() == 1 ? -5 : 0;
    };
    EXPECT_EQ(f.hw.hwResetMatrix(0), -5);
    EXPECT_EQ(f.library.device(0).resets, 0);
    EXPECT_EQ(f.hw.hwResetMatrix(0), 0);
    EXPECT_EQ(f.library.device(0).resets, 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"hwResetMatrix", "hwResetMatrix"}));
}

TEST(HwKitEnumeration, ResultsOfFirstAndNext)
{
    struct Case {
        const char* what;
        int devices;
        std::function<int()> discover;
        int endResult;
        int first;
        std::vector<int> ids;
        int last;
        std::string general; // the general text afterwards, when not empty
    };
    const std::vector<Case> cases = {
        {"three devices", 3, [] { return 0; }, HW_NO_MORE_DEVICES, 0, {0, 1, 2}, HW_NO_MORE_DEVICES, ""},
        {"no device", 0, [] { return 0; }, HW_NO_MORE_DEVICES, HW_NO_MORE_DEVICES, {}, 0, ""},
        {"discovery fails", 2, [] { return hwkit::setGeneralError(-9, "bus down"); }, HW_NO_MORE_DEVICES, -9, {},
         0, "bus down"},
        {"discovery throws", 2, []() -> int { throw std::runtime_error("bus gone"); }, HW_NO_MORE_DEVICES,
         kLibraryError, {}, 0, "Unexpected error: bus gone"},
        {"error after the last", 2, [] { return 0; }, -4, 0, {0, 1}, -4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f(0);
        f.library.wanted = c.devices;
        f.library.onDiscover = c.discover;
        f.library.endResult = c.endResult;
        int id = -1;
        std::vector<int> ids;
        int r = f.hw.hwGetFirst(&id);
        EXPECT_EQ(r, c.first);
        if (r == 0) {
            for (; r == 0; r = f.hw.hwGetNext(&id))
                ids.push_back(id);
            EXPECT_EQ(r, c.last);
            EXPECT_EQ(f.hw.hwGetNext(&id), c.last) << "asked again after the end";
        }
        EXPECT_EQ(ids, c.ids);
        if (!c.general.empty()) {
            EXPECT_EQ(std::string(f.hw.hwGetLastErrorGeneral()), c.general);
        }
    }
}

TEST(HwKitEnumeration, NullIdIsRefused)
{
    Fixture f(1);
    EXPECT_EQ(f.hw.hwGetFirst(nullptr), kLibraryError);
    EXPECT_STREQ(f.hw.hwGetLastErrorGeneral(), "Invalid parameter.");
    EXPECT_EQ(f.hw.hwGetNext(nullptr), kLibraryError);
}

// Devices found stay when the enumeration runs again; new ones are appended.
TEST(HwKitEnumeration, AgainKeepsTheDevicesAndAddsNewOnes)
{
    Fixture f(1);
    f.library.device(0).resets = 7;
    f.library.wanted = 2;
    int id = -1;
    std::vector<int> ids;
    for (int r = f.hw.hwGetFirst(&id); r == 0; r = f.hw.hwGetNext(&id))
        ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<int>{0, 1}));
    EXPECT_EQ(f.library.device(0).resets, 7);
}

// The general text belongs to the thread whose call failed.
TEST(HwKitTexts, GeneralTextIsKeptPerThread)
{
    Fixture f(1);
    ASSERT_EQ(f.hw.hwGetFirst(nullptr), kLibraryError);
    std::string other;
    std::thread([&] {
        f.hw.hwResetMatrix(9);
        other = f.hw.hwGetLastErrorGeneral();
    }).join();
    EXPECT_EQ(other, "Invalid HW ID");
    EXPECT_STREQ(f.hw.hwGetLastErrorGeneral(), "Invalid parameter.");
}

TEST(HwKitTexts, LongTextsAreCut)
{
    Fixture f(1);
    const std::string longText(10000, 'x');
    f.library.device(0).onReset = [&](TestDevice& d) { return d.setError(-3, "%s", longText.c_str()); };
    EXPECT_EQ(f.hw.hwResetMatrix(0), -3);
    EXPECT_EQ(std::string(f.hw.hwGetLastError(0)), longText.substr(0, hwkit::kErrorTextSize - 1));
}

} // namespace
