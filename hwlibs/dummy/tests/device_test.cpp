// The simulated devices through the function table: settings file and enumeration, device description,
// hardware-info items, refused ids, indices and sizes, exposure timing, the read-out arithmetic, test
// pulses and the digital test.
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dummy_library.h"
#include "platform/ini.h"
#include "pluginfw/tvk_utils.h"
#include "wait_until.h"

using namespace hwdummytest;

namespace {

// A library with one device whose input is a constant image of the given value.
struct OneDevice {
    explicit OneDevice(int16_t value) : lib(iniWithCount(1))
    {
        std::vector<int16_t> image(kPixels, value);
        char err[4096];
        EXPECT_EQ(writeAsciiI16File(lib.path("dummy_2000.txt").c_str(), image.data(), kPixels, kWidth, err), 0);
        EXPECT_EQ(lib.initAll(), std::vector<int>{0});
    }
    DummyLibrary lib;
    const _HwFuncTable& hw() const { return lib.hw(); }
};

std::vector<uint8_t> maskEveryThirdPixel()
{
    std::vector<uint8_t> cfg(kPixels, 0xFF);
    for (uint32_t i = 0; i < kPixels; i += 3)
        cfg[i] = 0xFE; // bit 0 clear: the pixel does not count
    return cfg;
}

// Counts that the read-out must give for an input value with the measured exposure (noise off).
uint16_t expectedCount(int16_t value, double elapsed, double timeElement)
{
    const double product = value * (elapsed / timeElement);
    uint32_t v = 0;
    if (product >= 1999999999.0)
        v = 1999999999u;
    else if (product > 0)
        v = static_cast<uint32_t>(product);
    return static_cast<uint16_t>(v % 8001);
}

TEST(DummySettings, MissingFileGivesNoDeviceAndGetsBothKeys)
{
    DummyLibrary lib(std::nullopt);
    int id = -1;
    EXPECT_EQ(lib.hw().hwGetFirst(&id), 1);
    EXPECT_EQ(plat::iniRead(lib.iniPath(), "Dummy", "Count"), "0");
    EXPECT_EQ(plat::iniRead(lib.iniPath(), "Dummy", "Unique"), "0");
}

TEST(DummySettings, KeysAreWrittenBackAtLoadKeepingOtherLines)
{
    DummyLibrary lib(std::string("; simulated detectors\n[dummy]\ncount = 2\n"));
    const std::string text = readAll(lib.iniPath());
    EXPECT_NE(text.find("; simulated detectors"), std::string::npos);
    EXPECT_EQ(plat::iniRead(lib.iniPath(), "Dummy", "Count"), "2");
    EXPECT_EQ(plat::iniRead(lib.iniPath(), "Dummy", "Unique"), "0");
    EXPECT_EQ(lib.initAll(), (std::vector<int>{0, 1}));
}

TEST(DummyEnumeration, RaisingCountAddsDevicesAndKeepsTheOld)
{
    DummyLibrary lib(iniWithCount(1));
    const auto& hw = lib.hw();
    ASSERT_EQ(lib.initAll(), std::vector<int>{0});
    ASSERT_EQ(lib.setDouble(0, kTimeElement, 2.5), 0);

    ASSERT_EQ(plat::writeProfileString("Dummy", "Count", "3", lib.iniPath().c_str()), 0);
    EXPECT_EQ(lib.initAll(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(lib.get<double>(0, kTimeElement), 2.5) << "device 0 was replaced";
    for (int id : {1, 2}) {
        _DevInfo info{};
        ASSERT_EQ(hw.hwGetDevInfo(id, &info), 0);
        EXPECT_STREQ(info.chipboardId, std::to_string(2000 + id).c_str());
    }

    // Lowering Count removes nothing.
    ASSERT_EQ(plat::writeProfileString("Dummy", "Count", "1", lib.iniPath().c_str()), 0);
    EXPECT_EQ(lib.initAll(), (std::vector<int>{0, 1, 2}));
}

TEST(DummyEnumeration, DeviceCountIsCappedWithAMessage)
{
    DummyLibrary lib(iniWithCount(100000));
    const auto& hw = lib.hw();
    int id = -1;
    int found = 0;
    int r = hw.hwGetFirst(&id);
    for (; r == 0; r = hw.hwGetNext(&id))
        ++found;
    EXPECT_EQ(found, 64);
    EXPECT_EQ(r, kHwError) << "the cap must be reported";
    EXPECT_NE(std::string(hw.hwGetLastErrorGeneral()).find("limit of 64"), std::string::npos)
        << hw.hwGetLastErrorGeneral();
    _DevInfo info{};
    EXPECT_EQ(hw.hwGetDevInfo(63, &info), 0);
    EXPECT_EQ(hw.hwGetDevInfo(64, &info), kHwError);
}

TEST(DummyEnumeration, NegativeCountGivesNoDevice)
{
    DummyLibrary lib(iniWithCount(-3));
    int id = -1;
    EXPECT_EQ(lib.hw().hwGetFirst(&id), 1);
}

// The device-control library opens each device as it is enumerated and drops one that fails. A device
// whose input image is missing must not vanish without a word: the end of the enumeration names the file.
TEST(DummyEnumeration, DeviceWithoutItsImageIsNamedAtTheEnd)
{
    DummyLibrary lib(iniWithCount(3, 1)); // each device reads its own dummy_<chipboard id>.txt
    const auto& hw = lib.hw();
    std::vector<int16_t> image(kPixels, 10);
    char err[4096];
    auto writeImage = [&](const char* name) {
        ASSERT_EQ(writeAsciiI16File(lib.path(name).c_str(), image.data(), kPixels, kWidth, err), 0) << err;
    };
    // Enumerates as the device-control library does; returns the ids that opened and the last result.
    auto enumerate = [&](int* last) {
        std::vector<int> opened;
        int id = -1;
        int r = hw.hwGetFirst(&id);
        for (; r == 0; r = hw.hwGetNext(&id))
            if (hw.hwInit(id) == 0)
                opened.push_back(id);
        *last = r;
        return opened;
    };
    writeImage("dummy_2000.txt");

    int last = 0;
    EXPECT_EQ(enumerate(&last), std::vector<int>{0});
    EXPECT_EQ(last, kHwError);
    const std::string report = hw.hwGetLastErrorGeneral();
    for (const char* expected : {"Simulated device 2001: Cannot open file", "dummy_2001.txt",
                                 "Simulated device 2002: Cannot open file", "dummy_2002.txt"})
        EXPECT_NE(report.find(expected), std::string::npos) << expected << " missing from: " << report;

    // Only what failed in this enumeration is named.
    writeImage("dummy_2001.txt");
    EXPECT_EQ(enumerate(&last), (std::vector<int>{0, 1}));
    EXPECT_EQ(last, kHwError);
    EXPECT_EQ(std::string(hw.hwGetLastErrorGeneral()).find("dummy_2001.txt"), std::string::npos);
    EXPECT_NE(std::string(hw.hwGetLastErrorGeneral()).find("dummy_2002.txt"), std::string::npos);

    writeImage("dummy_2002.txt");
    EXPECT_EQ(enumerate(&last), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(last, 1);
}

TEST(DummyDevice, DescriptionAndTable)
{
    DummyLibrary lib(iniWithCount(2));
    const auto& hw = lib.hw();
    EXPECT_EQ(hw.size, sizeof(_HwFuncTable));
    lib.initAll();
    _DevInfo info{};
    ASSERT_EQ(hw.hwGetDevInfo(1, &info), 0);
    EXPECT_EQ(info.pixelCount, 65536);
    EXPECT_EQ(info.rowLength, 256);
    EXPECT_EQ(info.chipCount, 1);
    EXPECT_EQ(info.chipRows, 1);
    EXPECT_EQ(info.chipType, 1);
    EXPECT_STREQ(info.chipboardId, "2001");
    EXPECT_STREQ(info.interfaceName, "dummy");
    EXPECT_EQ(info.acqModeMask, 1u);
    EXPECT_EQ(info.callbackSupported, 0);
    EXPECT_EQ(info.clockMHz, 100.0);
    EXPECT_EQ(info.hwTimerMax, 1000000.0);
    EXPECT_EQ(info.hwTimerStep, 0.01);
    EXPECT_EQ(info.maxTestPulseCount, 10000u);
    EXPECT_EQ(info.maxTestPulseHeight, 1.2);
    EXPECT_EQ(info.maxTestPulsePeriod, 0.00001);
    EXPECT_EQ(info.reserved, 0.0);
    EXPECT_EQ(info.extDacMax, 5.0);
    EXPECT_NEAR(info.extDacStep, 0.0012210012210012, 1e-15);

    EXPECT_EQ(hw.hwGetHwInfoCount(), 7);
    double v = 0;
    EXPECT_EQ(hw.hwGetTvkDacVal(0, 0, &v), 0);
    EXPECT_EQ(v, 1.0);
    const uint16_t dacs[14] = {};
    EXPECT_EQ(hw.hwSetTvkDACs(0, dacs, 14, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(hw.hwSetExtDac(0, 1.0), 0);
    EXPECT_EQ(hw.hwGeneralReset(0), 0);
    EXPECT_EQ(hw.hwSetCb(nullptr), 0);
    EXPECT_EQ(hw.hwSetCbTag(0, nullptr), 0);
    EXPECT_EQ(hw.hwCloseDevice(0), 0);
}

TEST(DummyDevice, UnknownIdsAreRefusedByEveryFunction)
{
    DummyLibrary lib(iniWithCount(2));
    const auto& hw = lib.hw();
    lib.initAll();
    uint32_t flags = 0;
    HwInfoItem item{};
    int size = 0;
    _DevInfo info{};
    _AcqPars pars{0, 0, 1, 1, 0.1};
    double d = 0;
    int busy = 0;
    uint8_t cfg[1] = {};
    uint16_t counts[1] = {};
    const std::vector<std::pair<const char*, std::function<int(int)>>> calls = {
        {"hwInit", [&](int id) { return hw.hwInit(id); }},
        {"hwGetHwInfoFlags", [&](int id) { return hw.hwGetHwInfoFlags(id, 0, &flags); }},
        {"hwGetHwInfo", [&](int id) { return hw.hwGetHwInfo(id, 0, &item, &size); }},
        {"hwSetHwInfo", [&](int id) { return hw.hwSetHwInfo(id, 0, &flags, 4); }},
        {"hwGetDevInfo", [&](int id) { return hw.hwGetDevInfo(id, &info); }},
        {"hwGetAcqTime", [&](int id) { return hw.hwGetAcqTime(id, &d); }},
        {"hwSetAcqPars", [&](int id) { return hw.hwSetAcqPars(id, &pars); }},
        {"hwStartAcquisition", [&](int id) { return hw.hwStartAcquisition(id); }},
        {"hwStopAcquisition", [&](int id) { return hw.hwStopAcquisition(id); }},
        {"hwTestPulses", [&](int id) { return hw.hwTestPulses(id, 1.0, 1e-6, 10); }},
        {"hwSetTvkDACs", [&](int id) { return hw.hwSetTvkDACs(id, nullptr, 0, 0, 0, nullptr, 0); }},
        {"hwGetTvkDacVal", [&](int id) { return hw.hwGetTvkDacVal(id, 0, &d); }},
        {"hwSetExtDac", [&](int id) { return hw.hwSetExtDac(id, 0.5); }},
        {"hwSetPixelsCfg", [&](int id) { return hw.hwSetPixelsCfg(id, cfg, 1); }},
        {"hwResetMatrix", [&](int id) { return hw.hwResetMatrix(id); }},
        {"hwReadMatrix", [&](int id) { return hw.hwReadMatrix(id, counts, 1); }},
        {"hwWriteMatrix", [&](int id) { return hw.hwWriteMatrix(id, counts, 1); }},
        {"hwGeneralReset", [&](int id) { return hw.hwGeneralReset(id); }},
        {"hwCheckBusy", [&](int id) { return hw.hwCheckBusy(id, &busy); }},
    };
    for (const auto& [name, call] : calls) {
        for (int id : {2, 5, -1, INT32_MIN}) {
            EXPECT_EQ(call(id), kHwError) << name << " with id " << id;
            EXPECT_STREQ(hw.hwGetLastError(id), "Invalid HW ID") << name << " with id " << id;
            EXPECT_STREQ(hw.hwGetLastErrorGeneral(), "Invalid HW ID");
        }
    }
}

TEST(DummyHwInfo, ItemsDescribeThemselves)
{
    DummyLibrary lib(iniWithCount(1));
    const auto& hw = lib.hw();
    lib.initAll();
    const struct {
        const char* name;
        const char* description;
        uint32_t type, count, flags;
    } items[] = {
        {"Version", "Dummy HW version", TYPE_U32, 1, 0},
        {"Poisson noise", "Simulate Poisson noise", TYPE_BOOL, 1, 7},
        {"Time element", "Size of time element for acquisition simulation", TYPE_DOUBLE, 1, 3},
        {"Data file name", "Data file name for first image", TYPE_CHAR, 512, 3},
        {"Data file count", "Number of input data files (for images)", TYPE_U32, 1, 3},
        {"Cache count", "Number of input data files which can be cached", TYPE_U32, 1, 3},
        {"Image counter", "Number of next image", TYPE_U32, 1, 2},
    };
    for (int i = 0; i < 7; ++i) {
        char data[512];
        HwInfoItem item{};
        item.data = data;
        int size = sizeof data;
        ASSERT_EQ(hw.hwGetHwInfo(0, i, &item, &size), 0) << i;
        EXPECT_STREQ(item.name, items[i].name);
        EXPECT_STREQ(item.description, items[i].description);
        EXPECT_EQ(item.type, items[i].type) << i;
        EXPECT_EQ(item.count, items[i].count) << i;
        EXPECT_EQ(item.flags, items[i].flags) << i;
        EXPECT_EQ(lib.flags(0, i), items[i].flags) << i;
    }
    EXPECT_EQ(lib.get<uint32_t>(0, kVersion), 2u);
    EXPECT_EQ(lib.get<int32_t>(0, kPoissonNoise), 1);
    EXPECT_EQ(lib.get<double>(0, kTimeElement), 1.0);
    EXPECT_EQ(lib.fileName(0), "dummy_2000.txt") << "the default name after hwInit, relative to the library";
    EXPECT_EQ(lib.get<uint32_t>(0, kDataFileCount), 1u);
    EXPECT_EQ(lib.get<uint32_t>(0, kCacheCount), 1u);
    EXPECT_EQ(lib.get<uint32_t>(0, kImageCounter), 0u);
}

TEST(DummyHwInfo, RefusesBadIndicesSizesAndBuffers)
{
    DummyLibrary lib(iniWithCount(1));
    const auto& hw = lib.hw();
    lib.initAll();
    for (int index : {7, 8, -1, INT32_MIN}) {
        uint32_t flags = 0;
        EXPECT_EQ(hw.hwGetHwInfoFlags(0, index, &flags), kHwError);
        EXPECT_STREQ(hw.hwGetLastError(0), ("Invalid index (" + std::to_string(index) +
                                            ") of hw specific info item.").c_str());
        HwInfoItem item{};
        int size = 0;
        EXPECT_EQ(hw.hwGetHwInfo(0, index, &item, &size), kHwError);
        EXPECT_EQ(hw.hwSetHwInfo(0, index, &flags, 4), kHwError);
    }

    // A 4-byte buffer for the 512-character name: described, the need reported, nothing copied.
    char small[4] = {'x', 'x', 'x', 'x'};
    HwInfoItem item{};
    item.data = small;
    int size = sizeof small;
    EXPECT_EQ(hw.hwGetHwInfo(0, kDataFileName, &item, &size), kHwErrorBufferSmall);
    EXPECT_EQ(size, 512);
    EXPECT_STREQ(item.name, "Data file name");
    EXPECT_EQ(item.type, static_cast<uint32_t>(TYPE_CHAR));
    EXPECT_EQ(std::string(small, 4), "xxxx");
    EXPECT_STREQ(hw.hwGetLastError(0), "Invalid size of buffer for hw specific info item data.");

    // Setting with the wrong size changes nothing.
    const double te = 3.0;
    EXPECT_EQ(hw.hwSetHwInfo(0, kTimeElement, &te, 4), kHwError);
    EXPECT_STREQ(hw.hwGetLastError(0), "Invalid size of data for hw specific info item.");
    EXPECT_EQ(lib.get<double>(0, kTimeElement), 1.0);

    // A time element that is negative or no finite number is refused (0 serves the image as read).
    for (const double bad : {-1.0, -1e-300, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(hw.hwSetHwInfo(0, kTimeElement, &bad, 8), kHwError);
        EXPECT_NE(std::string(hw.hwGetLastError(0)).find("time element"), std::string::npos);
        EXPECT_EQ(lib.get<double>(0, kTimeElement), 1.0);
    }

    // An item that is not writable is left alone, and that is no failure.
    EXPECT_EQ(lib.setU32(0, kVersion, 7), 0);
    EXPECT_EQ(lib.get<uint32_t>(0, kVersion), 2u);

    // A name without its terminating zero is refused.
    const std::string before = lib.fileName(0);
    char unterminated[512];
    std::memset(unterminated, 'a', sizeof unterminated);
    EXPECT_EQ(hw.hwSetHwInfo(0, kDataFileName, unterminated, sizeof unterminated), kHwError);
    EXPECT_EQ(lib.fileName(0), before);
}

TEST(DummyHwInfo, CacheCountIsCappedWithAMessage)
{
    OneDevice d(10);
    EXPECT_EQ(d.lib.setU32(0, kCacheCount, 5000000), kHwError);
    EXPECT_NE(std::string(d.hw().hwGetLastError(0)).find("limit of 1024"), std::string::npos)
        << d.hw().hwGetLastError(0);
    EXPECT_EQ(d.lib.get<uint32_t>(0, kCacheCount), 1024u);
    std::vector<uint16_t> counts;
    EXPECT_EQ(d.lib.readImage(0, counts), 0) << "the input stays usable";
    EXPECT_EQ(counts[0], 10);
}

TEST(DummyAcquisition, ExposureIsTimedByTheDevice)
{
    OneDevice d(100);
    const auto& hw = d.hw();
    const _AcqPars pars{0, 0, 1, ACQMODE_MANUAL, 0.2};
    ASSERT_EQ(hw.hwSetAcqPars(0, &pars), 0);
    const auto beforeStart = std::chrono::steady_clock::now();
    ASSERT_EQ(hw.hwStartAcquisition(0), 0);
    const auto started = std::chrono::steady_clock::now();
    int busy = 0;
    ASSERT_EQ(hw.hwCheckBusy(0, &busy), 0);
    double t = 0;
    ASSERT_EQ(hw.hwGetAcqTime(0, &t), 0);
    // The exposure is surely running only if both questions came within its time (a loaded machine may
    // have run this thread later).
    if (std::chrono::steady_clock::now() - beforeStart < std::chrono::milliseconds(200)) {
        EXPECT_EQ(busy, 1);
        EXPECT_EQ(t, -1.0) << "an exposure is running";
    }
    EXPECT_TRUE(ombrel_test::waitUntil([&] { return hw.hwCheckBusy(0, &busy) != 0 || !busy; }));
    EXPECT_EQ(hw.hwCheckBusy(0, &busy), 0);
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 0.19);
    ASSERT_EQ(hw.hwStopAcquisition(0), 0);
    ASSERT_EQ(hw.hwGetAcqTime(0, &t), 0);
    EXPECT_GE(t, 0.2);
    EXPECT_LT(t, std::chrono::duration<double>(ombrel_test::kWaitLimit).count());
    // A second stop keeps the measured time.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(hw.hwStopAcquisition(0), 0);
    double again = 0;
    ASSERT_EQ(hw.hwGetAcqTime(0, &again), 0);
    EXPECT_EQ(again, t);
}

TEST(DummyAcquisition, OnlyManualModeIsAccepted)
{
    OneDevice d(100);
    for (int mode : {2, 4, 8, 16, 0, -1}) {
        const _AcqPars pars{0, 0, 1, mode, 0.1};
        EXPECT_EQ(d.hw().hwSetAcqPars(0, &pars), kHwError);
        EXPECT_STREQ(d.hw().hwGetLastError(0), "Invalid acq mode.");
    }
    EXPECT_EQ(d.hw().hwSetAcqPars(0, nullptr), kHwError);
}

TEST(DummyReadout, ScalesByExposureMasksAndFolds)
{
    const struct {
        int16_t value;
        double exposure;
        double timeElement;
    } cases[] = {
        {1000, 0.05, 0.1},       // about half the image
        {20000, 0.02, 0.02},     // about 20000, folded into 0..8000
        {-500, 0.02, 0.01},      // negative input counts nothing
        {30000, 0.001, 1e-12},   // a huge factor is limited before the conversion
        {7, 0.001, 5e-324},      // an infinite factor too
        {0, 0.001, 5e-324},      // 0 x infinity
    };
    for (const auto& c : cases) {
        OneDevice d(c.value);
        const auto cfg = maskEveryThirdPixel();
        ASSERT_EQ(d.hw().hwSetPixelsCfg(0, cfg.data(), kPixels), 0);
        ASSERT_EQ(d.lib.setBool(0, kPoissonNoise, false), 0);
        ASSERT_EQ(d.lib.setDouble(0, kTimeElement, c.timeElement), 0);
        std::vector<uint16_t> counts;
        double elapsed = 0;
        ASSERT_EQ(d.lib.exposeAndRead(0, c.exposure, counts, &elapsed), 0) << d.hw().hwGetLastError(0);
        const uint16_t expected = expectedCount(c.value, elapsed, c.timeElement);
        EXPECT_LE(expected, 8000);
        for (uint32_t i = 0; i < kPixels; ++i)
            ASSERT_EQ(counts[i], (cfg[i] & 1) ? expected : 0) << "value " << c.value << ", pixel " << i;
        if (c.value == 1000) {
            EXPECT_GE(counts[1], 500) << "at least half the value";
        }
        if (c.value == 30000) {
            EXPECT_EQ(counts[1], 1999999999u % 8001);
        }
    }
}

TEST(DummyReadout, EveryInputValueFollowsTheFormula)
{
    // Every i16 value once, in an order that mixes neighbours, so that each group of pixels the read-out
    // handles at once holds negatives, values that fold and values that do not.
    DummyLibrary lib(iniWithCount(1));
    std::vector<int16_t> image(kPixels);
    for (uint32_t i = 0; i < kPixels; ++i)
        image[i] = static_cast<int16_t>((i * 40503u) & 0xFFFF);
    lib.initAll();
    writeAll(lib.path("all.bin"), std::string(reinterpret_cast<const char*>(image.data()), kPixels * 2));
    ASSERT_EQ(lib.setFileName(0, lib.path("all.bin")), 0) << lib.hw().hwGetLastError(0);
    const auto cfg = maskEveryThirdPixel();
    ASSERT_EQ(lib.hw().hwSetPixelsCfg(0, cfg.data(), kPixels), 0);
    ASSERT_EQ(lib.setBool(0, kPoissonNoise, false), 0);
    for (double timeElement : {0.004, 0.001, 0.0003, 1e-9}) {
        ASSERT_EQ(lib.setDouble(0, kTimeElement, timeElement), 0);
        std::vector<uint16_t> counts;
        double elapsed = 0;
        ASSERT_EQ(lib.exposeAndRead(0, 0.001, counts, &elapsed), 0) << lib.hw().hwGetLastError(0);
        for (uint32_t i = 0; i < kPixels; ++i)
            ASSERT_EQ(counts[i], (cfg[i] & 1) ? expectedCount(image[i], elapsed, timeElement) : 0)
                << "value " << image[i] << ", time element " << timeElement;
    }
}

TEST(DummyReadout, WithoutTimeElementTheImageIsServedAsRead)
{
    OneDevice d(1234);
    const auto cfg = maskEveryThirdPixel();
    ASSERT_EQ(d.hw().hwSetPixelsCfg(0, cfg.data(), kPixels), 0);
    std::vector<uint16_t> counts;
    ASSERT_EQ(d.lib.readImage(0, counts), 0);
    for (uint32_t i = 0; i < kPixels; ++i)
        ASSERT_EQ(counts[i], 1234) << i;
}

TEST(DummyReadout, ReadsAfterResetOrASecondReadGiveZeros)
{
    OneDevice d(100);
    std::vector<uint16_t> counts;
    ASSERT_EQ(d.lib.readImage(0, counts), 0);
    ASSERT_EQ(counts[5], 100);
    // No new exposure: the counters were read.
    std::vector<uint16_t> again(kPixels, 1);
    ASSERT_EQ(d.hw().hwReadMatrix(0, again.data(), kPixels), 0);
    EXPECT_EQ(again, std::vector<uint16_t>(kPixels, 0));
    // An exposure whose counters are reset before the read.
    ASSERT_EQ(d.hw().hwStartAcquisition(0), 0);
    ASSERT_EQ(d.hw().hwStopAcquisition(0), 0);
    ASSERT_EQ(d.hw().hwResetMatrix(0), 0);
    again.assign(kPixels, 1);
    ASSERT_EQ(d.hw().hwReadMatrix(0, again.data(), kPixels), 0);
    EXPECT_EQ(again, std::vector<uint16_t>(kPixels, 0));
}

TEST(DummyReadout, RefusesBuffersOfAnotherSize)
{
    OneDevice d(100);
    const auto& hw = d.hw();
    std::vector<uint16_t> big(kPixels * 2, 7);
    for (uint32_t n : {0u, 1u, kPixels - 1, kPixels + 1, kPixels * 2}) {
        EXPECT_EQ(hw.hwReadMatrix(0, big.data(), n), kHwError) << n;
        EXPECT_NE(std::string(hw.hwGetLastError(0)).find("65536 pixels"), std::string::npos);
    }
    EXPECT_EQ(hw.hwReadMatrix(0, nullptr, kPixels), kHwError);
    EXPECT_EQ(big, std::vector<uint16_t>(kPixels * 2, 7)) << "a refused read writes nothing";

    std::vector<uint8_t> cfg(kPixels + 1, 0);
    for (uint32_t n : {0u, kPixels - 1, kPixels + 1})
        EXPECT_EQ(hw.hwSetPixelsCfg(0, cfg.data(), n), kHwError) << n;
    EXPECT_EQ(hw.hwSetPixelsCfg(0, nullptr, kPixels), kHwError);
    // The configuration was not changed by the refused calls: every pixel still counts test pulses.
    ASSERT_EQ(hw.hwTestPulses(0, 1.0, 1e-5, 5), 0);
    std::vector<uint16_t> counts(kPixels, 0);
    ASSERT_EQ(hw.hwReadMatrix(0, counts.data(), kPixels), 0);
    EXPECT_EQ(counts, std::vector<uint16_t>(kPixels, 5));

    EXPECT_EQ(hw.hwWriteMatrix(0, big.data(), kPixels + 1), kHwError);
    EXPECT_EQ(hw.hwWriteMatrix(0, nullptr, 5), kHwError);
}

TEST(DummyTestPulses, EnabledPixelsReadThePulseCount)
{
    const struct {
        uint32_t count;
        uint16_t stored;
    } cases[] = {{100, 100}, {8000, 8000}, {8001, 1}, {8002, 1}, {0, 1}, {16003, 1}, {10000, 1999}};
    for (const auto& c : cases) {
        OneDevice d(500);
        const auto cfg = maskEveryThirdPixel();
        ASSERT_EQ(d.hw().hwSetPixelsCfg(0, cfg.data(), kPixels), 0);
        ASSERT_EQ(d.hw().hwResetMatrix(0), 0);
        ASSERT_EQ(d.hw().hwTestPulses(0, 1.0, 1e-5, c.count), 0);
        std::vector<uint16_t> counts(kPixels, 7);
        ASSERT_EQ(d.hw().hwReadMatrix(0, counts.data(), kPixels), 0);
        for (uint32_t i = 0; i < kPixels; ++i)
            ASSERT_EQ(counts[i], (cfg[i] & 1) ? c.stored : 0) << "count " << c.count << ", pixel " << i;
    }
}

TEST(DummyTestPulses, PulsesAfterAnExposureGiveThePulseCount)
{
    OneDevice d(500);
    const auto& hw = d.hw();
    std::vector<uint16_t> counts;
    ASSERT_EQ(d.lib.readImage(0, counts), 0);
    ASSERT_EQ(counts[0], 500);

    ASSERT_EQ(hw.hwResetMatrix(0), 0);
    ASSERT_EQ(hw.hwTestPulses(0, 1.0, 1e-5, 100), 0);
    counts.assign(kPixels, 7);
    ASSERT_EQ(hw.hwReadMatrix(0, counts.data(), kPixels), 0);
    EXPECT_EQ(counts, std::vector<uint16_t>(kPixels, 100)) << "an earlier exposure must not be served again";
    ASSERT_EQ(hw.hwReadMatrix(0, counts.data(), kPixels), 0);
    EXPECT_EQ(counts, std::vector<uint16_t>(kPixels, 0));
    EXPECT_EQ(d.lib.get<uint32_t>(0, kImageCounter), 1u) << "the pulses used no image";
}

TEST(DummyDigitalTest, WrittenMatrixIsReadBack)
{
    OneDevice d(500);
    const auto& hw = d.hw();
    // After an exposure and after test pulses, a write still wins.
    std::vector<uint16_t> counts;
    ASSERT_EQ(d.lib.readImage(0, counts), 0);
    ASSERT_EQ(hw.hwTestPulses(0, 1.0, 1e-5, 10), 0);

    std::mt19937 gen(7);
    std::vector<uint16_t> pattern(kPixels);
    for (auto& v : pattern)
        v = static_cast<uint16_t>(gen() % 8001);
    ASSERT_EQ(hw.hwWriteMatrix(0, pattern.data(), kPixels), 0);
    counts.assign(kPixels, 0);
    ASSERT_EQ(hw.hwReadMatrix(0, counts.data(), kPixels), 0);
    EXPECT_EQ(counts, pattern);
    double t = -5;
    ASSERT_EQ(hw.hwGetAcqTime(0, &t), 0);
    EXPECT_EQ(t, 0.0);

    // A shorter write replaces only its part.
    std::vector<uint16_t> head(100, 4321);
    ASSERT_EQ(hw.hwWriteMatrix(0, head.data(), 100), 0);
    ASSERT_EQ(hw.hwReadMatrix(0, counts.data(), kPixels), 0);
    EXPECT_EQ(counts[99], 4321);
    EXPECT_EQ(counts[100], pattern[100]);
}

} // namespace
