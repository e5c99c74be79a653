// The USB library's function table against simulated boxes: enumeration and the device list across
// unplugging, the commands each acquisition mode starts with, frames of the box's pattern, the checks
// of arguments that would otherwise wrap or read past buffers, refused settings, faults of the box, and
// a callback that calls back into the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hwlibs/codec/counter_codec.h"
#include "hwlibs/common/hw_func_table.h"
#include "ombrel_test_support.h"
#include "usb_library.h"
#include "wait_until.h"

namespace {

using namespace usb;

usb::UsbLibrary* gLibrary = nullptr;
usb::UsbLibrary& current()
{
    return *gLibrary;
}
const _HwFuncTable& hw()
{
    return *usb::funcTable<&current>();
}

enum Item {
    kHv = 5, kDac0 = 8, kDac1 = 10, kScopeOnTrg = 16, kScopeData = 17, kCoincMode = 24, kCoincLiveTime = 27,
    kAutoErase = 28
};

struct Events {
    std::mutex m;
    std::vector<int> list;
    void add(int e)
    {
        std::lock_guard<std::mutex> g(m);
        list.push_back(e);
    }
    std::vector<int> get()
    {
        std::lock_guard<std::mutex> g(m);
        return list;
    }
    // Waits until event e has come; false only after the overall limit of a hung wait.
    bool waitFor(int e)
    {
        return ombrel_test::waitUntil([&] {
            const std::vector<int> now = get();
            return std::find(now.begin(), now.end(), e) != now.end();
        });
    }
};
Events* gEvents = nullptr;
int (*gOnEvent)(void* tag, int event) = nullptr;
int recordEvent(void* tag, int event, int)
{
    if (gEvents)
        gEvents->add(event);
    return gOnEvent ? gOnEvent(tag, event) : 0;
}

// A library of its own with simulated boxes shaped by the ini lines given.
struct Lib {
    std::string dir = ombrel_test::scratchDir("usb-device");
    std::string ini = dir + "/tvkHwUSB.ini";
    std::unique_ptr<UsbLibrary> library;
    Events events;

    explicit Lib(const std::string& simBox)
    {
        ombrel_test::writeFile(ini, "[Link]\nBackend = sim\n[SimBox]\n" + simBox);
        library = std::make_unique<UsbLibrary>(ini);
        gLibrary = library.get();
        gEvents = &events;
        gOnEvent = nullptr;
        hw().hwSetCb(recordEvent);
    }
    ~Lib()
    {
        int id = 0;
        for (int r = hw().hwGetFirst(&id); r == 0; r = hw().hwGetNext(&id))
            hw().hwCloseDevice(id);
        gEvents = nullptr;
        library.reset();
        gLibrary = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    void setIni(const std::string& simBox) { ombrel_test::writeFile(ini, "[Link]\nBackend = sim\n[SimBox]\n" + simBox); }
    std::shared_ptr<sim::SimBox> box(size_t i = 0) { return library->simBackend()->boxes().at(i); }
    int first()
    {
        int id = -1;
        EXPECT_EQ(hw().hwGetFirst(&id), 0);
        return id;
    }
    int open()
    {
        const int id = first();
        EXPECT_EQ(hw().hwInit(id), 0) << hw().hwGetLastError(id);
        return id;
    }
};

template <typename T>
int setItem(int id, int index, T value)
{
    return hw().hwSetHwInfo(id, index, &value, sizeof value);
}

template <typename T>
T getItem(int id, int index)
{
    T value{};
    HwInfoItem item{};
    item.data = &value;
    int size = sizeof value;
    EXPECT_EQ(hw().hwGetHwInfo(id, index, &item, &size), 0);
    return value;
}

std::vector<uint16_t> pattern(int chips, int chipType, int n)
{
    const uint32_t states = chipType == 1 ? 8001 : 11811;
    std::vector<uint16_t> v(static_cast<size_t>(chips) * 65536);
    for (int chip = 0; chip < chips; ++chip)
        for (int row = 0; row < 256; ++row)
            for (int col = 0; col < 256; ++col)
                v[static_cast<size_t>(chip) * 65536 + row * 256 + col] =
                    static_cast<uint16_t>((7 * row + 3 * col + 1000 * chip + n) % states);
    return v;
}

int exposeAndRead(int id, std::vector<uint16_t>* frame, double seconds = 0.01)
{
    _AcqPars pars{1, 0, 1, ACQMODE_MANUAL, seconds};
    if (int r = hw().hwResetMatrix(id))
        return r;
    if (int r = hw().hwSetAcqPars(id, &pars))
        return r;
    if (int r = hw().hwStartAcquisition(id))
        return r;
    int checked = 0;
    ombrel_test::waitUntil([&] {
        int busy = 1;
        checked = hw().hwCheckBusy(id, &busy);
        return checked != 0 || !busy;
    });
    if (checked)
        return checked;
    if (int r = hw().hwStopAcquisition(id))
        return r;
    return hw().hwReadMatrix(id, frame->data(), static_cast<uint32_t>(frame->size()));
}

TEST(UsbEnumeration, NoBoxGivesOneAndIdZero)
{
    Lib lib("Boxes = 0\n");
    int id = 7;
    EXPECT_EQ(hw().hwGetFirst(&id), 1);
    EXPECT_EQ(id, 0);
    // The USB backend without boxes on the bus (or without access to it) finds none either.
    ombrel_test::writeFile(lib.ini, "[Link]\nBackend = ftdi\n");
    id = 7;
    EXPECT_EQ(hw().hwGetFirst(&id), 1);
    EXPECT_EQ(id, 0);
}

TEST(UsbEnumeration, DescriptionOfTheBox)
{
    struct Case {
        int chips, chipType;
        int32_t rowLength, chipRows;
        double clock;
    };
    const Case cases[] = {{1, 1, 256, 1, 10.0}, {2, 3, 512, 1, 40.0}, {4, 2, 512, 2, 20.0}};
    for (const Case& c : cases) {
        Lib lib("Chips = " + std::to_string(c.chips) + "\nChipType = " + std::to_string(c.chipType) +
                "\nChipboardId = K07-W0123\n");
        const int id = lib.open();
        _DevInfo info{};
        ASSERT_EQ(hw().hwGetDevInfo(id, &info), 0);
        EXPECT_EQ(info.chipCount, c.chips);
        EXPECT_EQ(info.pixelCount, c.chips * 65536);
        EXPECT_EQ(info.rowLength, c.rowLength);
        EXPECT_EQ(info.chipRows, c.chipRows);
        EXPECT_EQ(info.chipType, c.chipType);
        EXPECT_STREQ(info.chipboardId, "K07-W0123");
        EXPECT_STREQ(info.interfaceName, "USB");
        EXPECT_EQ(info.acqModeMask, 7u);
        EXPECT_DOUBLE_EQ(info.clockMHz, c.clock);
        char firmware[64] = "";
        HwInfoItem item{};
        item.data = firmware;
        int size = 64;
        ASSERT_EQ(hw().hwGetHwInfo(id, 1, &item, &size), 0);
        EXPECT_STREQ(firmware, "Tarvik2 USB readout:1.1.5");
        EXPECT_STREQ(item.name, "Firmware");
        EXPECT_EQ(hw().hwGetHwInfoCount(), 31);
    }
}

TEST(UsbEnumeration, UnpluggedBoxIsKeptWithATagAndRetiredWithout)
{
    Lib lib("Boxes = 2\n");
    int a = lib.first(), b = a;
    ASSERT_EQ(hw().hwGetNext(&b), 0);
    ASSERT_EQ(hw().hwInit(a), 0);
    ASSERT_EQ(hw().hwInit(b), 0);
    int tag = 1;
    ASSERT_EQ(hw().hwSetCbTag(a, &tag), 0);
    lib.box(0)->unplug();
    lib.box(1)->unplug();
    int id = -1;
    EXPECT_EQ(hw().hwGetFirst(&id), 0);
    EXPECT_EQ(id, a);
    EXPECT_EQ(lib.events.get(), std::vector<int>{HWCB_DEV_REMOVED});
    EXPECT_EQ(hw().hwGetNext(&id), 1) << "the untagged box is gone from the list";
    _DevInfo info{};
    EXPECT_EQ(hw().hwGetDevInfo(a, &info), 0);
    EXPECT_EQ(hw().hwGetDevInfo(b, &info), -1);
    EXPECT_STREQ(hw().hwGetLastErrorGeneral(), "Unknown device ID");
    EXPECT_STREQ(hw().hwGetLastError(b), "Critical error - Bad hwID in call: GetLastError.");
    EXPECT_EQ(hw().hwSetCbTag(b, &tag), -1);
    EXPECT_STREQ(hw().hwGetLastErrorGeneral(), "hwSetCallback: Unknown device ID");
}

TEST(UsbEnumeration, RenamedBoxIsNotListedTwiceAndReconnects)
{
    Lib lib("Boxes = 1\n");
    lib.first();
    sim::BoxConfig config;
    config.description = "?";
    config.serial = "SIM0077";
    auto renamed = std::make_shared<sim::SimBox>(config);
    lib.library->simBackend()->setBoxes({lib.box(0), renamed});
    int first = -1;
    ASSERT_EQ(hw().hwGetFirst(&first), 0);
    int second = first;
    ASSERT_EQ(hw().hwGetNext(&second), 0);
    ASSERT_EQ(hw().hwInit(second), 0);
    char name[64] = "";
    HwInfoItem item{};
    item.data = name;
    int size = 64;
    ASSERT_EQ(hw().hwGetHwInfo(second, 0, &item, &size), 0);
    EXPECT_STREQ(name, "1.1.5 ");
    int id = -1, count = 0;
    for (int r = hw().hwGetFirst(&id); r == 0; r = hw().hwGetNext(&id))
        ++count;
    EXPECT_EQ(count, 2);
    // Closed and opened again at the same id.
    EXPECT_EQ(hw().hwCloseDevice(second), 0);
    EXPECT_EQ(hw().hwInit(second), 0) << hw().hwGetLastError(second);
    std::vector<uint16_t> frame(65536);
    EXPECT_EQ(exposeAndRead(second, &frame), 0) << hw().hwGetLastError(second);
}

// hwGetNext answers for the id it is given: the next higher id, or 1 for the last and for an unknown id,
// whatever was asked before.
TEST(UsbEnumeration, NextFollowsTheIdItIsGiven)
{
    Lib lib("Boxes = 3\n");
    ASSERT_EQ(lib.first(), 0);
    struct Case {
        int given;
        int result, next;
    };
    const Case cases[] = {{0, 0, 1}, {1, 0, 2}, {2, 1, 2}, {77, 1, 77}, {-1, 1, -1}, {0, 0, 1}, {1, 0, 2}};
    for (const Case& c : cases) {
        int id = c.given;
        EXPECT_EQ(hw().hwGetNext(&id), c.result) << "after " << c.given;
        EXPECT_EQ(id, c.next) << "after " << c.given;
    }
}

// Changing the simulated boxes' settings is plugging boxes in and out: a box whose serial stays keeps
// its device working (no event 3, the same link), a box added gets a new id, a box taken out leaves.
TEST(UsbEnumeration, BoxesWhoseSerialsStayAreKeptWhenTheSettingsChange)
{
    Lib lib("Boxes = 1\n");
    const int a = lib.open();
    int tag = 1;
    ASSERT_EQ(hw().hwSetCbTag(a, &tag), 0);
    const auto box = lib.box(0);
    lib.setIni("Boxes = 2\n");
    int id = -1;
    ASSERT_EQ(hw().hwGetFirst(&id), 0);
    EXPECT_EQ(id, a);
    int b = id;
    ASSERT_EQ(hw().hwGetNext(&b), 0);
    EXPECT_NE(b, a);
    EXPECT_EQ(lib.box(0), box) << "the box stays on the bus";
    EXPECT_TRUE(lib.events.get().empty()) << "no box was reported gone";
    std::vector<uint16_t> frame(65536);
    EXPECT_EQ(exposeAndRead(a, &frame), 0) << hw().hwGetLastError(a);
    lib.setIni("Boxes = 1\n");
    ASSERT_EQ(hw().hwGetFirst(&id), 0);
    EXPECT_EQ(hw().hwGetNext(&id), 1) << "the second box left";
    EXPECT_EQ(exposeAndRead(a, &frame), 0) << hw().hwGetLastError(a);
}

// A box unplugged and plugged in again between two searches: its device's old link stays dead (as on
// the bus); the search finds the box and opens a new link, so that the next acquisition works.
TEST(UsbEnumeration, BoxPluggedInAgainGetsANewLinkAtTheNextSearch)
{
    Lib lib("");
    const int id = lib.open();
    int tag = 1;
    ASSERT_EQ(hw().hwSetCbTag(id, &tag), 0);
    std::vector<uint16_t> frame(65536);
    ASSERT_EQ(exposeAndRead(id, &frame), 0) << hw().hwGetLastError(id);
    lib.box()->unplug();
    lib.box()->plugIn();
    EXPECT_LT(exposeAndRead(id, &frame), 0) << "the old link is dead";
    int first = -1;
    ASSERT_EQ(hw().hwGetFirst(&first), 0);
    EXPECT_EQ(first, id);
    EXPECT_EQ(exposeAndRead(id, &frame), 0) << hw().hwGetLastError(id);
}

// Test pulses over the whole range the device information offers (0 - 1.4 V, 0 - 65536 pulses). Above
// 1.384 V DAC0 is at the end of its range and the pulses are the box's highest; no pulse leaves the
// counters cleared and sends no pulse command (it takes the count less one).
TEST(UsbAcquisition, TestPulsesOverTheWholeRangeOffered)
{
    Lib lib("");
    const int id = lib.open();
    _DevInfo info{};
    ASSERT_EQ(hw().hwGetDevInfo(id, &info), 0);
    EXPECT_DOUBLE_EQ(info.maxTestPulseHeight, 1.4);
    EXPECT_EQ(info.maxTestPulseCount, 65536u);
    std::vector<uint8_t> cfg(65536, 0x01); // every pixel enabled, test-pulse input on
    struct Case {
        double height;
        uint32_t count;
        uint16_t counted; // what every pixel holds after
        double dac0;      // the "DAC0" item after
        bool pulsed;      // the pulse command was sent
    };
    const Case cases[] = {
        {1.4, 10, 10, 0.0, true},
        {1.384, 20, 20, 0.0, true},
        {0.0, 3, 3, 1.384, true},
        {0.5, 0, 0, 0.884, false},
        {1.4, 0, 0, 0.0, false},
    };
    std::vector<uint16_t> counts(65536, 77);
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.height) + " V, " + std::to_string(c.count) + " pulses";
        ASSERT_EQ(hw().hwWriteMatrix(id, counts.data(), 65536), 0) << what;
        ASSERT_EQ(hw().hwSetPixelsCfg(id, cfg.data(), 65536), 0) << what;
        const uint64_t pulsesBefore = lib.box()->received('O');
        EXPECT_EQ(hw().hwTestPulses(id, c.height, 1e-5, c.count), 0) << what << ": " << hw().hwGetLastError(id);
        EXPECT_EQ(lib.box()->received('O') - pulsesBefore, c.pulsed ? 1u : 0u) << what;
        std::vector<uint16_t> frame(65536, 0x5555);
        ASSERT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), 0) << what;
        EXPECT_EQ(frame[0], c.counted) << what;
        EXPECT_EQ(frame[65535], c.counted) << what;
        EXPECT_NEAR(getItem<double>(id, kDac0), c.dac0, 1e-12) << what;
    }
}

// An exposure of no time on the hardware timer (the timer cannot run it; the box opens the shutter and
// would wait for ever): it is over at once, reported as finished, and its stop and read work.
TEST(UsbAcquisition, ZeroExposureOnTheHardwareTimerEndsAtOnce)
{
    Lib lib("");
    const int id = lib.open();
    _AcqPars pars{1, 0, 1, ACQMODE_MANUAL, 0.0};
    ASSERT_EQ(hw().hwSetAcqPars(id, &pars), 0);
    ASSERT_EQ(hw().hwStartAcquisition(id), 0) << hw().hwGetLastError(id);
    EXPECT_TRUE(lib.events.waitFor(HWCB_ACQ_FINISHED)) << "no end reported";
    int busy = 1;
    EXPECT_EQ(hw().hwCheckBusy(id, &busy), 0);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(hw().hwStopAcquisition(id), 0) << hw().hwGetLastError(id);
    EXPECT_EQ(lib.box()->received('c'), 1u) << "the shutter is closed";
    std::vector<uint16_t> frame(65536, 0x5555);
    EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), 0) << hw().hwGetLastError(id);
    std::vector<uint16_t> again(65536);
    EXPECT_EQ(exposeAndRead(id, &again), 0) << "the next exposure works: " << hw().hwGetLastError(id);
}

// The commands a start sends, by mode, firmware, scope on trigger and autoerase interval.
TEST(UsbAcquisition, StartSendsTheCommandsOfItsMode)
{
    struct Case {
        const char* what;
        int mode;
        int hwTimer;
        const char* firmware;
        int scope;
        double autoErase;
        const char* commands; // sent by hwStartAcquisition, in order
        uint8_t trigger;      // parameter of 'Q' when sent
        uint8_t todo;         // parameter of '~' when sent
        int result;
    };
    const Case cases[] = {
        {"manual, timer, old firmware", ACQMODE_MANUAL, 1, "1.1.4", 0, 0, "Zg", 0, 0, 0},
        {"manual, timer", ACQMODE_MANUAL, 1, "1.1.5", 0, 0, ";", 0, 0, 0},
        {"manual, no timer", ACQMODE_MANUAL, 0, "1.1.5", 0, 0, "o", 0, 0, 0},
        {"trigger starts", ACQMODE_TRIG_START, 1, "1.1.5", 0, 0, "QZl", 6, 0, 0},
        {"trigger starts, scope", ACQMODE_TRIG_START, 0, "1.0.0", 1, 0, "QZl", 14, 0, 0},
        {"trigger stops, no autoerase", ACQMODE_TRIG_STOP, 1, "1.1.5", 0, 0, "Q~", 1, 18, 0},
        {"trigger stops, scope, short autoerase", ACQMODE_TRIG_STOP, 1, "1.1.5", 1, 0.001, "QZ~Z", 9, 4, 0},
        {"trigger stops, autoerase", ACQMODE_TRIG_STOP, 1, "1.1.5", 0, 0.0025, "QZ~", 1, 128, 0},
        {"trigger starts and stops", ACQMODE_TRIG_EXTSHUTTER, 1, "1.1.5", 0, 0, "G", 0, 0, -12},
        {"external shutter", ACQMODE_EXTSHUTTER_FIXED, 1, "1.1.5", 0, 0, "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        Lib lib(std::string("Firmware = ") + c.firmware + "\n");
        const int id = lib.open();
        ASSERT_EQ(setItem<int32_t>(id, kScopeOnTrg, c.scope), 0);
        ASSERT_EQ(setItem<double>(id, kAutoErase, c.autoErase), 0);
        _AcqPars pars{c.hwTimer, 0, 1, c.mode, 0.5};
        ASSERT_EQ(hw().hwSetAcqPars(id, &pars), 0);
        const size_t before = lib.box()->commandLog().size();
        EXPECT_EQ(hw().hwStartAcquisition(id), c.result) << c.what << ": " << hw().hwGetLastError(id);
        EXPECT_EQ(lib.box()->commandLog().substr(before), c.commands) << c.what;
        if (c.trigger) {
            EXPECT_EQ(lib.box()->lastParams('Q'), std::vector<uint8_t>{c.trigger}) << c.what;
        }
        if (c.todo) {
            EXPECT_EQ(lib.box()->lastParams('~'), std::vector<uint8_t>{c.todo}) << c.what;
        }
        if (c.result) {
            EXPECT_NE(std::string(hw().hwGetLastError(id)).find("ACQMODE_TRIG_EXTSHUTTER is not supported"),
                      std::string::npos);
        }
        hw().hwStopAcquisition(id);
    }
}

TEST(UsbAcquisition, FramesHoldThePatternOfEachExposure)
{
    struct Case {
        int chips, chipType;
    };
    for (const Case& c : {Case{1, 1}, Case{4, 2}}) {
        Lib lib("Chips = " + std::to_string(c.chips) + "\nChipType = " + std::to_string(c.chipType) + "\n");
        const int id = lib.open();
        std::vector<uint16_t> frame(static_cast<size_t>(c.chips) * 65536);
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(exposeAndRead(id, &frame), 0) << hw().hwGetLastError(id);
            EXPECT_TRUE(frame == pattern(c.chips, c.chipType, n)) << "exposure " << n << " of " << c.chips << " chips";
        }
        EXPECT_EQ(lib.box()->lastParams('P').size(), 0u);
        EXPECT_EQ(lib.box()->received('P'), 1u) << "the polarity is sent once, at the first parameters";
        const auto events = lib.events.get();
        EXPECT_EQ(std::count(events.begin(), events.end(), HWCB_ACQ_FINISHED), 3);
    }
}

TEST(UsbAcquisition, TriggerStartsReportsTheStartBeforeTheFrame)
{
    Lib lib("");
    const int id = lib.open();
    ASSERT_EQ(setItem<int32_t>(id, kScopeOnTrg, 1), 0);
    _AcqPars pars{1, 0, 1, ACQMODE_TRIG_START, 0.01};
    ASSERT_EQ(hw().hwSetAcqPars(id, &pars), 0);
    ASSERT_EQ(hw().hwStartAcquisition(id), 0);
    ASSERT_TRUE(lib.events.waitFor(HWCB_ACQ_FINISHED));
    EXPECT_EQ(lib.events.get(), (std::vector<int>{HWCB_ACQ_STARTED, HWCB_ACQ_FINISHED}));
    uint32_t flags = 0;
    ASSERT_EQ(hw().hwGetHwInfoFlags(id, kScopeData, &flags), 0);
    EXPECT_EQ(flags, 4u);
    uint16_t scope[450] = {};
    HwInfoItem item{};
    item.data = scope;
    int size = sizeof scope;
    ASSERT_EQ(hw().hwGetHwInfo(id, kScopeData, &item, &size), 0);
    EXPECT_EQ(scope[0], 4095);
    EXPECT_EQ(scope[1], 4095 - 37);
    uint32_t counters[3] = {};
    item.data = counters;
    size = sizeof counters;
    ASSERT_EQ(hw().hwGetHwInfo(id, 23, &item, &size), 0);
    EXPECT_EQ(counters[0], 1u);
    ASSERT_EQ(setItem<int32_t>(id, kScopeOnTrg, 0), 0);
    ASSERT_EQ(hw().hwGetHwInfoFlags(id, kScopeData, &flags), 0);
    EXPECT_EQ(flags, 0u);
}

// Intervals the box measured and reports by itself add to "Coinc live time" only while the coincidence
// mode is on in "trigger stops"; taking them costs no resynchronisation.
TEST(UsbAcquisition, IntervalMeasuresAddToTheCoincidenceLiveTime)
{
    struct Case {
        const char* what;
        int mode;
        uint8_t coincMode;
        double added; // by each interval
    };
    const Case cases[] = {
        {"trigger stops, coincidence on", ACQMODE_TRIG_STOP, 1, 0.25},
        {"trigger stops, coincidence off", ACQMODE_TRIG_STOP, 0, 0},
        {"manual, coincidence on", ACQMODE_MANUAL, 1, 0},
    };
    for (const Case& c : cases) {
        Lib lib("");
        const int id = lib.open();
        _AcqPars pars{1, 0, 1, c.mode, 0.01};
        ASSERT_EQ(hw().hwSetAcqPars(id, &pars), 0);
        ASSERT_EQ(setItem<uint8_t>(id, kCoincMode, c.coincMode), 0);
        ASSERT_EQ(hw().hwStartAcquisition(id), 0) << hw().hwGetLastError(id);
        ASSERT_TRUE(lib.events.waitFor(HWCB_ACQ_FINISHED)) << c.what;
        const double before = getItem<double>(id, kCoincLiveTime);
        const uint64_t syncs = lib.box()->received(' ');
        lib.box()->sendIntervalMeasure(0.25);
        lib.box()->sendIntervalMeasure(0.25);
        // What the box sent before this reply is taken by the time it returns.
        ASSERT_EQ(hw().hwResetMatrix(id), 0) << c.what << ": " << hw().hwGetLastError(id);
        EXPECT_NEAR(getItem<double>(id, kCoincLiveTime) - before, 2 * c.added, 1e-9) << c.what;
        EXPECT_EQ(lib.box()->received(' '), syncs) << c.what << ": no resynchronisation";
    }
    // One that comes while an exposure runs leaves it running, and its frame is read.
    Lib lib("");
    const int id = lib.open();
    _AcqPars pars{0, 0, 1, ACQMODE_MANUAL, 0};
    ASSERT_EQ(hw().hwSetAcqPars(id, &pars), 0);
    ASSERT_EQ(hw().hwStartAcquisition(id), 0) << hw().hwGetLastError(id);
    lib.box()->sendIntervalMeasure(0.25);
    int busy = 0;
    ASSERT_EQ(hw().hwCheckBusy(id, &busy), 0) << hw().hwGetLastError(id);
    EXPECT_EQ(busy, 1);
    ASSERT_EQ(hw().hwStopAcquisition(id), 0) << hw().hwGetLastError(id);
    std::vector<uint16_t> frame(65536);
    EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), static_cast<uint32_t>(frame.size())), 0) << hw().hwGetLastError(id);
}

TEST(UsbAcquisition, TestPulsesAndDigitalPatterns)
{
    Lib lib("");
    const int id = lib.open();
    // Every pixel enabled with its test-pulse input on (active low), then a train of 250 pulses.
    std::vector<uint8_t> cfg(65536, 0x01);
    cfg[5] = 0x03; // test pulses off
    cfg[6] = 0x00; // masked
    ASSERT_EQ(hw().hwSetPixelsCfg(id, cfg.data(), 65536), 0);
    ASSERT_EQ(hw().hwResetMatrix(id), 0);
    ASSERT_EQ(hw().hwTestPulses(id, 0.5, 1e-5, 250), 0) << hw().hwGetLastError(id);
    std::vector<uint16_t> frame(65536);
    ASSERT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), 0);
    EXPECT_EQ(frame[0], 250);
    EXPECT_EQ(frame[65535], 250);
    EXPECT_EQ(frame[5], 0);
    EXPECT_EQ(frame[6], 0);
    EXPECT_DOUBLE_EQ(getItem<double>(id, kDac0), 1.384 - 0.5);
    // Counts written come back as they were.
    std::vector<uint16_t> counts(65536);
    for (size_t i = 0; i < counts.size(); ++i)
        counts[i] = static_cast<uint16_t>(i % 8001);
    ASSERT_EQ(hw().hwWriteMatrix(id, counts.data(), 65536), 0);
    ASSERT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), 0);
    EXPECT_TRUE(frame == counts);
}

// Pixels (chip, row, col) whose bit 0 a "Set matrix" stream of four 13-bit chips cannot carry: block i
// is moved i bits toward its end, past it.
constexpr size_t kLostOfFour13[][3] = {
    {1, 255, 255},
    {2, 255, 254}, {2, 255, 255},
    {3, 255, 253}, {3, 255, 254}, {3, 255, 255},
};

// "Set matrix" as it goes over the wire: a start byte 0xFF, then one block per chip and not a byte more,
// the 13-bit blocks' leading gaps zero; the counts read back as written, save bit 0 of the pixels that
// the blocks' moves push past their ends.
TEST(UsbAcquisition, WrittenMatrixTravelsInBlocksAndReadsBack)
{
    struct Case {
        int chips, chipType;
        size_t block;
    };
    for (const Case& c : {Case{1, 1, 114688}, Case{4, 1, 114688}, Case{4, 2, 114720}}) {
        SCOPED_TRACE(std::to_string(c.chips) + " chips of type " + std::to_string(c.chipType));
        Lib lib("Chips = " + std::to_string(c.chips) + "\nChipType = " + std::to_string(c.chipType) + "\n");
        const int id = lib.open();
        const uint32_t pixels = static_cast<uint32_t>(c.chips) * 65536;
        const uint32_t states = c.chipType == 1 ? 8001 : 11811;
        std::vector<uint16_t> counts(pixels);
        for (size_t i = 0; i < counts.size(); ++i)
            counts[i] = static_cast<uint16_t>((i * 7919) % states);
        ASSERT_EQ(hw().hwWriteMatrix(id, counts.data(), pixels), 0) << hw().hwGetLastError(id);

        const std::vector<uint8_t> sent = lib.box()->lastParams('S');
        ASSERT_EQ(sent.size(), 1 + c.chips * c.block);
        EXPECT_EQ(sent[0], 0xFF);
        if (c.chipType == 1)
            for (int chip = 0; chip < c.chips; ++chip) {
                const auto gap = sent.begin() + 1 + static_cast<long>(chip * c.block);
                EXPECT_TRUE(std::all_of(gap, gap + 8192, [](uint8_t b) { return b == 0; })) << "gap of chip " << chip;
            }

        std::vector<uint16_t> back(pixels);
        ASSERT_EQ(hw().hwReadMatrix(id, back.data(), pixels), 0) << hw().hwGetLastError(id);
        std::vector<uint16_t> expected = counts;
        if (c.chips == 4 && c.chipType == 1) {
            // Read back, chip 0's first pixel comes without bit 12: count 0 (0x1FFF) as 0x0FFF, count 8000.
            ASSERT_EQ(counts[0], 0);
            expected[0] = 8000;
        }
        if (c.chips == 4 && c.chipType == 1)
            for (const auto& [chip, row, col] : kLostOfFour13) {
                const size_t i = chip * 65536 + row * 256 + col;
                const uint16_t code = codec::countToCode(codec::CounterWidth::Bits13, counts[i]);
                expected[i] = codec::codeToCount(codec::CounterWidth::Bits13, static_cast<uint16_t>(code & ~1u));
            }
        EXPECT_TRUE(back == expected);
    }
}

TEST(UsbArguments, RefusedWithoutTouchingTheBox)
{
    Lib lib("");
    const int id = lib.open();
    std::vector<uint16_t> buffer(2 * 65536);
    const uint16_t dacs[15] = {};
    auto sent = [&] { return lib.box()->commandLog().size(); };
    int itemSize = 0;
    struct Case {
        const char* what;
        std::function<int()> call;
        int result;
        const char* error = nullptr; // the device's last error text, where the case gives it
    };
    const Case cases[] = {
        {"read into a buffer of another size", [&] { return hw().hwReadMatrix(id, buffer.data(), 65535); }, -1},
        {"read of two chips from one", [&] { return hw().hwReadMatrix(id, buffer.data(), 131072); }, -1},
        {"write of a count past the counter", [&] {
             std::vector<uint16_t> counts(65536, 0);
             counts[9] = 8001;
             return hw().hwWriteMatrix(id, counts.data(), 65536);
         }, -6},
        {"DACs of the wrong count", [&] { return hw().hwSetTvkDACs(id, dacs, 15, 0, 0, nullptr, 0); }, -6},
        {"pixel configuration of the wrong size", [&] {
             std::vector<uint8_t> cfg(100, 1);
             return hw().hwSetPixelsCfg(id, cfg.data(), 100);
         }, -6},
        {"test pulse above the 1.4 V offered", [&] { return hw().hwTestPulses(id, 1.41, 1e-5, 10); }, -6},
        {"negative test pulse", [&] { return hw().hwTestPulses(id, -0.1, 1e-5, 10); }, -6},
        {"more pulses than the box counts", [&] { return hw().hwTestPulses(id, 0.5, 1e-5, 65537); }, -6},
        {"negative item index", [&] { uint32_t f; return hw().hwGetHwInfoFlags(id, -1, &f); }, -6},
        {"item index past the last", [&] { uint32_t f; return hw().hwGetHwInfoFlags(id, 31, &f); }, -6},
        {"negative item index read", [&] {
             HwInfoItem item{};
             int size = 0;
             return hw().hwGetHwInfo(id, -3, &item, &size);
         }, -6},
        {"item read into a buffer too small", [&] {
             double hv = 0;
             HwInfoItem item{};
             item.data = &hv;
             itemSize = 4;
             return hw().hwGetHwInfo(id, kHv, &item, &itemSize);
         }, -6, "Supplied buffer is too small, size: 4, required: 8"},
        {"item of the wrong size", [&] { return setItem<float>(id, kHv, 1.0f); }, -6},
        {"scope samples above 450", [&] { return setItem<uint16_t>(id, 18, 451); }, -6},
    };
    for (const Case& c : cases) {
        const size_t before = sent();
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_EQ(sent(), before) << c.what << " reached the box";
        if (c.error) {
            EXPECT_STREQ(hw().hwGetLastError(id), c.error) << c.what;
        }
    }
    EXPECT_EQ(itemSize, 8) << "the size required comes back";
    uint32_t flags = 99;
    EXPECT_EQ(hw().hwGetHwInfoFlags(id, 5, nullptr), 0);
    EXPECT_EQ(hw().hwGetHwInfoFlags(id, 5, &flags), 0);
    EXPECT_EQ(flags, 7u);
}

TEST(UsbSettings, RefusedValueIsNotKeptAndInterfaceDacsClamp)
{
    Lib lib("");
    const int id = lib.open();
    ASSERT_EQ(setItem<double>(id, kHv, 50.0), 0);
    lib.box()->injectFault(sim::Fault::DeviceError, 0, 100);
    EXPECT_EQ(setItem<double>(id, kHv, 80.0), -7);
    EXPECT_DOUBLE_EQ(getItem<double>(id, kHv), 50.0) << "a refused bias must not read as applied";
    lib.box()->injectFault(sim::Fault::None);
    // 2.5 V is the full scale: code 4095, never 4096 (which would wrap to 0 in 12 bits).
    ASSERT_EQ(setItem<double>(id, kDac1, 2.5), 0);
    EXPECT_EQ(lib.box()->lastParams('>'), (std::vector<uint8_t>{1, 0xFF, 0x0F}));
    // The external DAC takes the voltage it is given; a negative one routes nothing and sends nothing.
    ASSERT_EQ(hw().hwSetExtDac(id, 1.25), 0);
    EXPECT_EQ(lib.box()->lastParams('>'), (std::vector<uint8_t>{1, 0x00, 0x08}));
    EXPECT_DOUBLE_EQ(getItem<double>(id, kDac1), 1.25);
    const uint64_t sent = lib.box()->received('>');
    ASSERT_EQ(hw().hwSetExtDac(id, -1.0), 0);
    EXPECT_EQ(lib.box()->received('>'), sent);
    // Coincidence settings reach the box only in "trigger stops".
    const uint64_t coinc = lib.box()->received('<');
    ASSERT_EQ(setItem<uint8_t>(id, kCoincMode, 1), 0);
    EXPECT_EQ(lib.box()->received('<'), coinc);
}

TEST(UsbFaults, MatrixReadFailsWithTheErrorTypeAndTheNextSucceeds)
{
    Lib lib("");
    const int id = lib.open();
    std::vector<uint16_t> frame(65536);
    lib.box()->injectFault(sim::Fault::DeviceError, 0, 1);
    EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), -7);
    EXPECT_NE(std::string(hw().hwGetLastError(id)).find("Device error"), std::string::npos);
    EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), 0);
    lib.box()->injectFault(sim::Fault::StaleReply, 0, 1);
    EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), 0) << "retried after the resynchronisation";
}

// Only the fault settings changed: the next search gives the boxes already there the new fault, counted
// from then on, and the open device stays on its box. A fault taken back before it fires never fires.
TEST(UsbFaults, ChangedFaultSettingTakesEffectAtTheNextSearch)
{
    Lib lib("");
    const int id = lib.open();
    const std::shared_ptr<sim::SimBox> box = lib.box();
    std::vector<uint16_t> frame(65536);
    struct Step {
        const char* settings;
        int read;       // the first matrix read after the search
        int readsAfter; // reads that then succeed
    };
    const Step steps[] = {
        {"Fault = deviceerror\n", -7, 1},
        {"Fault = deviceerror\nFaultAfter = 5\n", 0, 1}, // not yet
        {"", 0, 6},                                       // taken back
        {"Fault = deviceerror\nFaultAfter = 0\n", -7, 1}, // the first fault again
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.settings);
        lib.setIni(step.settings);
        int first = -1;
        ASSERT_EQ(hw().hwGetFirst(&first), 0);
        EXPECT_EQ(first, id);
        EXPECT_EQ(lib.box(), box) << "the same box";
        EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), step.read) << hw().hwGetLastError(id);
        for (int i = 0; i < step.readsAfter; ++i)
            EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), 0) << hw().hwGetLastError(id);
    }
}

TEST(UsbFaults, UnpluggingEndsARunningAcquisition)
{
    Lib lib("");
    const int id = lib.open();
    // An exposure far longer than the wait's limit: an end within the wait is the unplug's.
    _AcqPars pars{1, 0, 1, ACQMODE_MANUAL, 3600.0};
    ASSERT_EQ(hw().hwSetAcqPars(id, &pars), 0);
    ASSERT_EQ(hw().hwStartAcquisition(id), 0);
    lib.box()->unplug();
    ASSERT_TRUE(lib.events.waitFor(HWCB_ACQ_FINISHED)) << "not ended by the unplug";
    int busy = 1;
    EXPECT_LT(hw().hwCheckBusy(id, &busy), 0);
    EXPECT_EQ(busy, 0);
    std::vector<uint16_t> frame(65536);
    EXPECT_LT(hw().hwReadMatrix(id, frame.data(), 65536), 0);
}

// An unplugged box: its loss is logged once and its dead link is not polled into the log (the monitor
// asks it less and less often, silently); every call on the device says the box is gone and that it must
// be reconnected, without sending; plugged in again and reconnected, the device works.
TEST(UsbFaults, LostLinkIsLoggedOnceAndCallsSayTheBoxIsGone)
{
    Lib lib("");
    const int id = lib.open();
    // The log goes to the current folder: the library's own scratch folder while the test runs.
    const std::filesystem::path oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(lib.dir);
    struct Back {
        std::filesystem::path to;
        ~Back()
        {
            std::error_code ignored;
            std::filesystem::current_path(to, ignored);
        }
    } back{oldCwd};
    ASSERT_EQ(setItem<int32_t>(id, 3, 1), 0); // "LogErrs": errors only
    ASSERT_EQ(setItem<int32_t>(id, 2, 1), 0); // "LogToFile"
    const std::string logPath = lib.dir + "/" + usb::DebugLog::kFileName;
    auto log = [&] { return ombrel_test::readFile(logPath); };
    lib.box()->unplug();
    int busy = 1;
    ASSERT_TRUE(ombrel_test::waitUntil([&] { return hw().hwCheckBusy(id, &busy) != 0; })) << "the loss was not seen";
    const size_t lostAt = log().size();
    std::this_thread::sleep_for(std::chrono::seconds(2)); // idle: the monitor alone touches the link
    const std::string idle = log().substr(lostAt);
    EXPECT_LE(std::count(idle.begin(), idle.end(), '\n'), 4) << idle;
    const std::string whole = log();
    EXPECT_NE(whole.find("The readout box is gone"), std::string::npos) << whole;

    const uint64_t erases = lib.box()->received('e');
    struct Case {
        const char* what;
        std::function<int()> call;
    };
    std::vector<uint16_t> frame(65536);
    _AcqPars pars{1, 0, 1, ACQMODE_MANUAL, 0.01};
    const Case cases[] = {
        {"erase", [&] { return hw().hwResetMatrix(id); }},
        {"start", [&] { return hw().hwStartAcquisition(id); }},
        {"busy", [&] { return hw().hwCheckBusy(id, &busy); }},
        {"read", [&] { return hw().hwReadMatrix(id, frame.data(), 65536); }},
        {"bias", [&] { return setItem<double>(id, kHv, 5.0); }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), -5) << c.what;
        const std::string error = hw().hwGetLastError(id);
        EXPECT_NE(error.find("The readout box is gone"), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find("reconnect the device"), std::string::npos) << c.what << ": " << error;
    }
    EXPECT_EQ(lib.box()->received('e'), erases) << "nothing was sent";
    ASSERT_EQ(hw().hwSetAcqPars(id, &pars), -5);

    lib.box()->plugIn();
    ASSERT_EQ(hw().hwCloseDevice(id), 0);
    ASSERT_EQ(hw().hwInit(id), 0) << hw().hwGetLastError(id);
    EXPECT_EQ(exposeAndRead(id, &frame), 0) << hw().hwGetLastError(id);
    setItem<int32_t>(id, 2, 0);
}

// A resynchronisation while an exposure runs (here: a stale reply to a setting) may have dropped the
// frame message: the acquisition ends, reported as finished, and its read fails instead of waiting for
// ever; the next exposure succeeds.
TEST(UsbFaults, ResynchronisationDuringAnExposureEndsItsRead)
{
    Lib lib("");
    const int id = lib.open();
    // An exposure far longer than the wait's limit: an end within the wait is the resynchronisation's.
    _AcqPars pars{1, 0, 1, ACQMODE_MANUAL, 3600.0};
    ASSERT_EQ(hw().hwSetAcqPars(id, &pars), 0);
    ASSERT_EQ(hw().hwStartAcquisition(id), 0);
    lib.box()->injectFault(sim::Fault::StaleReply, 0, 1);
    EXPECT_EQ(setItem<double>(id, kHv, 10.0), 0) << "retried after the resynchronisation";
    int busy = 1;
    EXPECT_EQ(hw().hwCheckBusy(id, &busy), 0);
    EXPECT_EQ(busy, 0);
    EXPECT_TRUE(lib.events.waitFor(HWCB_ACQ_FINISHED));
    std::vector<uint16_t> frame(65536);
    EXPECT_EQ(hw().hwReadMatrix(id, frame.data(), 65536), -9);
    EXPECT_NE(std::string(hw().hwGetLastError(id)).find("Frame lost"), std::string::npos);
    EXPECT_EQ(exposeAndRead(id, &frame), 0);
}

// A subscriber of the finished event reads items of the same device from the monitor's thread.
TEST(UsbCallbacks, CallbackMayCallTheLibraryOnItsDevice)
{
    Lib lib("");
    const int id = lib.open();
    static int deviceId;
    static std::atomic<int> calls;
    deviceId = id;
    calls = 0;
    gOnEvent = [](void*, int event) {
        if (event == HWCB_ACQ_FINISHED) {
            double t = 0;
            int busy = 0;
            hw().hwGetAcqTime(deviceId, &t);
            hw().hwCheckBusy(deviceId, &busy);
            ++calls;
        }
        return 0;
    };
    auto done = std::async(std::launch::async, [&] {
        std::vector<uint16_t> frame(65536);
        for (int i = 0; i < 3; ++i)
            if (exposeAndRead(id, &frame) != 0)
                return false;
        return true;
    });
    ASSERT_EQ(done.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "deadlock";
    EXPECT_TRUE(done.get());
    EXPECT_TRUE(lib.events.waitFor(HWCB_ACQ_FINISHED));
    ombrel_test::waitUntil([] { return calls >= 3; });
    EXPECT_EQ(calls.load(), 3);
    gOnEvent = nullptr;
}

} // namespace
