// Hardware libraries and the device registry: loading, refusing, enumerating, finding new devices,
// reconnecting, and the answers for indices that name no device.
#include "dev_fixture.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

namespace {

using namespace devtest;

struct Event {
    int index;
    int code;
    std::string text;
};

// Guards events; callbacks come from the test thread only here.
std::mutex eventsMutex;
std::vector<Event> events;

void recordInfo(int index)
{
    int code = 0;
    const char* text = nullptr;
    getInfoMsg(index, &code, &text);
    std::lock_guard<std::mutex> guard(eventsMutex);
    events.push_back({index, code, text ? text : ""});
}

std::vector<int> newDevices;
void recordNew(int index) { newDevices.push_back(index); }
std::vector<int> changedDevices;
void recordChanged(int index) { changedDevices.push_back(index); }
std::vector<int> started;
void recordStart(int index) { started.push_back(index); }

class RegistryTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        events.clear();
        newDevices.clear();
        changedDevices.clear();
        started.clear();
        setCbInfoMsg(recordInfo);
    }

    static std::string chipboardId(unsigned dev)
    {
        char id[64] = "";
        EXPECT_EQ(getTarvikInfo(dev, nullptr, nullptr, id, nullptr), 0);
        return id;
    }

    static bool hasEvent(int code, const std::string& part)
    {
        for (const Event& e : events)
            if (e.code == code && e.text.find(part) != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(RegistryTest, TwoLibrariesShareOneIndexList)
{
    addLibrary("a", fakeIni({{1, 1, "A0"}, {4, 2, "A1"}}));
    addLibrary("b", fakeIni({{1, 3, "B0"}}));
    ASSERT_EQ(initTvkCtrl(), 0);

    unsigned dev = 99;
    int count = -1;
    ASSERT_EQ(getFirstTvk(&dev, &count), 0);
    EXPECT_EQ(count, 3);
    std::vector<std::string> ids;
    for (int r = 0; r == 0; r = getNextTvk(&dev))
        ids.push_back(chipboardId(dev));
    EXPECT_EQ(ids, (std::vector<std::string>{"A0", "A1", "B0"}));
    EXPECT_EQ(getNextTvk(&dev), 1);

    int chips = 0;
    int rows = 0;
    ASSERT_EQ(getTarvikInfo(1, &chips, &rows, nullptr, nullptr), 0);
    EXPECT_EQ(chips, 4);
    EXPECT_EQ(rows, 2);
    int code = -1;
    EXPECT_EQ(libraryMessage(&code), "Number of successfully initialized devices (" + root() + "/hwlibs/b.so): 1");
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(hasEvent(0, "/hwlibs/a.so): 2"));
}

TEST_F(RegistryTest, RefusedLibrariesAreReportedAndSkipped)
{
    addLibrary("good", fakeIni({{1, 1, "G0"}}));
    addLibrary("small", fakeIni({{1, 1}}, "TableSize=8\n"));
    addLibrary("holey", fakeIni({{1, 1}}, "MissingFunction=1\n"));
    addLibrary("noentry", "", FAKEHW_NOENTRY_PATH);
    writeFile(root() + "/hwlibs/garbage.so", "not a library");
    writeFile(root() + "/hwlibs/readme.txt", "not looked at");
    ASSERT_EQ(initTvkCtrl(), 0);

    int count = 0;
    unsigned dev = 0;
    ASSERT_EQ(getFirstTvk(&dev, &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(chipboardId(dev), "G0");
    EXPECT_TRUE(hasEvent(-103, "Cannot load library " + root() + "/hwlibs/garbage.so ("));
    EXPECT_TRUE(hasEvent(-104, "Initialization of HW library " + root() + "/hwlibs/noentry.so has failed ("));
    EXPECT_TRUE(hasEvent(-104, "small.so has failed (function table of 8 bytes, " +
                                   std::to_string(sizeof(_HwFuncTable)) + " required)."));
    EXPECT_TRUE(hasEvent(-104, "holey.so has failed (hwCheckBusy is missing from its function table)."));
    EXPECT_FALSE(hasEvent(0, "small.so"));
}

TEST_F(RegistryTest, NoLibraryFound)
{
    ASSERT_EQ(initTvkCtrl(), 0);
    int code = 0;
    EXPECT_EQ(libraryMessage(&code), "No HW library (" + root() + "/hwlibs/*.so) was found");
    EXPECT_EQ(code, -101);
    unsigned dev = 5;
    int count = -1;
    EXPECT_EQ(getFirstTvk(&dev, &count), 1);
    EXPECT_EQ(count, 0);
}

TEST_F(RegistryTest, NotInitialised)
{
    unsigned dev = 0;
    EXPECT_EQ(getFirstTvk(&dev, nullptr), -1);
    int code = 0;
    EXPECT_EQ(libraryMessage(&code), "Tarvik control library was not initialized.");
    EXPECT_EQ(code, -100);
    EXPECT_EQ(getNextTvk(&dev), -1);
}

TEST_F(RegistryTest, EnumerationResults)
{
    struct Case {
        const char* what;
        const char* extra;
        int devices;
        bool error; // "Device initialization error" reported before the summary
    };
    const Case cases[] = {
        {"hwGetFirst fails", "FirstResult=-5\n", 0, true},
        {"hwGetFirst says no devices", "FirstResult=1\n", 0, false},
        {"hwGetNext fails after two", "NextResult=-7\n", 2, true},
        {"normal end", "", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        exitTvkCtrl();
        addLibrary("fake", fakeIni({{1, 1}, {1, 1}}, c.extra));
        events.clear();
        ASSERT_EQ(initTvkCtrl(), 0);
        unsigned dev = 0;
        int count = -1;
        getFirstTvk(&dev, &count);
        EXPECT_EQ(count, c.devices);
        const std::string summary = "Number of successfully initialized devices (" + root() + "/hwlibs/fake.so): " +
                                    std::to_string(c.devices);
        ASSERT_EQ(events.size(), c.error ? 2u : 1u);
        if (c.error) {
            EXPECT_EQ(events[0].code, -104);
            EXPECT_EQ(events[0].text, "Device initialization error: injected enumeration failure");
        }
        EXPECT_EQ(events.back().code, 0);
        EXPECT_EQ(events.back().text, summary);
        EXPECT_EQ(libraryMessage(), summary);
    }
}

// A device that cannot be made is refused whole and named with its reason: a chip type without DAC tables,
// a chip count that no frame holds (a frame has one chip or two rows of two), a device whose hwInit fails.
TEST_F(RegistryTest, DevicesThatCannotBeMadeAreNotRegistered)
{
    addLibrary("fake", fakeIni({{1, 7, "T7"},
                                {1, 1, "OK"},
                                {0, 1, "NoChips"},
                                {1, 1, "Dead", "fake", 31, 0, true},
                                {2, 1, "Two"},
                                {3, 2, "Three"},
                                {4, 1, "Four"},
                                {5, 1, "Five"}}));
    ASSERT_EQ(initTvkCtrl(), 0);
    std::vector<std::string> ids;
    unsigned dev = 0;
    int count = 0;
    for (int r = getFirstTvk(&dev, &count); r == 0; r = getNextTvk(&dev))
        ids.push_back(chipboardId(dev));
    EXPECT_EQ(ids, (std::vector<std::string>{"OK", "Four"}));
    const char* const refusals[] = {
        "Device initialization error: Unsupported chip type: 7 (supported: 1, 2, 3). (device 0 of fake.so)",
        "Device initialization error: Unsupported chip count: 0 (a frame holds 1 or 4 chips). (device 2 of fake.so)",
        "Device initialization error: device does not answer (device 3 of fake.so)",
        "Device initialization error: Unsupported chip count: 2 (a frame holds 1 or 4 chips). (device 4 of fake.so)",
        "Device initialization error: Unsupported chip count: 3 (a frame holds 1 or 4 chips). (device 5 of fake.so)",
        "Device initialization error: Unsupported chip count: 5 (a frame holds 1 or 4 chips). (device 7 of fake.so)",
    };
    for (const char* text : refusals)
        EXPECT_TRUE(hasEvent(-104, text)) << text;
    EXPECT_EQ(control("fake").counter(0, "closed"), 1); // the refused device was closed again
    EXPECT_EQ(control("fake").counter(4, "closed"), 1);
}

TEST_F(RegistryTest, FindNewAppends)
{
    setCbTvkDevNew(recordNew);
    addLibrary("fake", fakeIni({{1, 1, "D0"}}));
    ASSERT_EQ(initTvkCtrl(), 0);
    setIni("fake", fakeIni({{1, 1, "D0"}, {4, 3, "D1"}, {1, 2, "D2"}}));
    EXPECT_EQ(findNewTvks(), 0);
    EXPECT_EQ(newDevices, (std::vector<int>{1, 2}));
    EXPECT_EQ(chipboardId(1), "D1");
    EXPECT_EQ(chipboardId(2), "D2");
    newDevices.clear();
    EXPECT_EQ(findNewTvks(), 0);
    EXPECT_TRUE(newDevices.empty());
    int count = 0;
    unsigned dev = 0;
    getFirstTvk(&dev, &count);
    EXPECT_EQ(count, 3);
}

TEST_F(RegistryTest, ReconnectRefillsTheSameSlot)
{
    setCbTvkDevChanged(recordChanged);
    setCbAcqStart(recordStart);
    initWith({{1, 1, "R0"}, {1, 1, "R1"}});
    FakeControl& fake = control("fake");
    ASSERT_EQ(setAcqSpacing(1, 7), 0);
    void* oldTag = fake.tag(1);
    ASSERT_NE(oldTag, nullptr);

    EXPECT_EQ(reconnectTvk(1), 0);
    EXPECT_EQ(changedDevices, (std::vector<int>{1}));
    EXPECT_EQ(chipboardId(1), "R1");
    int spacing = 0;
    EXPECT_EQ(getAcqSpacing(1, &spacing), 0);
    EXPECT_EQ(spacing, 1); // a new device object
    void* newTag = fake.tag(1);
    EXPECT_NE(newTag, oldTag);

    // Hardware events reach the new object only; the old tag finds nothing.
    fake.fireTag(oldTag, HWCB_ACQ_STARTED);
    EXPECT_TRUE(started.empty());
    fake.fire(1, HWCB_ACQ_STARTED);
    EXPECT_EQ(started, (std::vector<int>{1}));

    EXPECT_EQ(reconnectTvk(2), -102);
}

TEST_F(RegistryTest, FailedReconnectKeepsAnUninitialisedDevice)
{
    initWith({{1, 1}});
    FakeControl& fake = control("fake");
    fake.set(0, "fail.hwInit", -9);
    EXPECT_EQ(reconnectTvk(0), -1);
    EXPECT_EQ(setDACsDefault(0), -110);
    int code = 0;
    EXPECT_EQ(deviceMessage(0, &code), "Error - Tarvik was not properly initialized.");
    EXPECT_EQ(code, -110);
    EXPECT_EQ(setAcqSpacing(0, 2), 0);
    fake.set(0, "fail.hwInit", 0);
    EXPECT_EQ(reconnectTvk(0), 0);
    EXPECT_EQ(setDACsDefault(0), 0);
}

// Every device function answers -102 for the index just past the registry and leaves the messages alone.
TEST_F(RegistryTest, IndexAtTheEndNamesNoDevice)
{
    initWith({{1, 1}, {4, 2}});
    const unsigned end = DeviceRegistry::instance().slotCount();
    ASSERT_EQ(end, 2u);
    ASSERT_EQ(setAcqSpacing(0, 0), -2);
    const std::string before = deviceMessage(0);
    const std::string libBefore = libraryMessage();

    int i = 0;
    uint32_t u = 0;
    double d = 0;
    uint16_t dacs[64] = {};
    double values[64] = {};
    std::vector<uint8_t> cfg(65536);
    _DevInfo info{};
    HwInfoItem item{};
    const char** names = nullptr;
    const int* bits = nullptr;
    const char* text = nullptr;
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"reconnectTvk", [&] { return reconnectTvk(end); }},
        {"getInfoMsg", [&] { return getInfoMsg(static_cast<int>(end), &i, &text); }},
        {"tryLockDevice", [&] { return tryLockDevice(end, &i, 0); }},
        {"releaseDevice", [&] { return releaseDevice(end); }},
        {"getLockOwnerID", [&] { return getLockOwnerID(end, &u); }},
        {"getDevInfo", [&] { return getDevInfo(end, &info); }},
        {"getTarvikInfo", [&] { return getTarvikInfo(end, &i, &i, nullptr, nullptr); }},
        {"initTvkDevice", [&] { return initTvkDevice(end, nullptr); }},
        {"reviveTvkDevice", [&] { return reviveTvkDevice(end); }},
        {"setPolarity", [&] { return setPolarity(end, 1); }},
        {"getPolarity", [&] { return getPolarity(end, &i); }},
        {"setCST", [&] { return setCST(end, 1); }},
        {"getCST", [&] { return getCST(end, &i); }},
        {"setAcqMode", [&] { return setAcqMode(end, 1); }},
        {"getAcqMode", [&] { return getAcqMode(end, &i); }},
        {"setHwTimer", [&] { return setHwTimer(end, 1); }},
        {"getHwTimer", [&] { return getHwTimer(end, &i); }},
        {"setAcqSpacing", [&] { return setAcqSpacing(end, 1); }},
        {"getAcqSpacing", [&] { return getAcqSpacing(end, &i); }},
        {"setAutoConvToSM", [&] { return setAutoConvToSM(end, 1); }},
        {"getAutoConvToSM", [&] { return getAutoConvToSM(end, &i); }},
        {"setDACsDefault", [&] { return setDACsDefault(end); }},
        {"setDACs", [&] { return setDACs(end, dacs, 13, 0, 0, 0); }},
        {"getDACs", [&] { return getDACs(end, dacs, 13, 0); }},
        {"getSingleDACAnalog", [&] { return getSingleDACAnalog(end, values, 2, 0, 0, 1); }},
        {"getDACsAnalog", [&] { return getDACsAnalog(end, values, 13, 0); }},
        {"refreshDACs", [&] { return refreshDACs(end); }},
        {"getDACsNames", [&] { return getDACsNames(end, &names, &bits, &i); }},
        {"setDACRefCoef", [&] { return setDACRefCoef(end, values, 0, 1); }},
        {"getDACRefCoef", [&] { return getDACRefCoef(end, values, 0, 1); }},
        {"setExtDAC", [&] { return setExtDAC(end, -1, 0.0); }},
        {"getExtDAC", [&] { return getExtDAC(end, &i, &d); }},
        {"setPixelsCfg", [&] { return setPixelsCfg(end, cfg.data(), 65536, 0); }},
        {"getPixelsCfg", [&] { return getPixelsCfg(end, cfg.data(), 65536, 0); }},
        {"resetPixelsCfg", [&] { return resetPixelsCfg(end, -1); }},
        {"refreshPixelsCfg", [&] { return refreshPixelsCfg(end); }},
        {"loadPixelsCfg", [&] { return loadPixelsCfg(end, nullptr, 0); }},
        {"savePixelsCfg", [&] { return savePixelsCfg(end, "x.bpc", 0); }},
        {"loadPixelsCfgAscii", [&] { return loadPixelsCfgAscii(end, nullptr, nullptr, nullptr, nullptr, 0); }},
        {"savePixelsCfgAscii", [&] { return savePixelsCfgAscii(end, nullptr, nullptr, nullptr, nullptr, 0); }},
        {"loadTvkCfg", [&] { return loadTvkCfg(end, "x.tcf"); }},
        {"saveTvkCfg", [&] { return saveTvkCfg(end, ""); }},
        {"saveTvkCfgAsDefault", [&] { return saveTvkCfgAsDefault(end); }},
        {"getHwInfoCount", [&] { return getHwInfoCount(end, &i); }},
        {"getHwInfoItem", [&] { return getHwInfoItem(end, 0, &item, &i); }},
        {"setHwInfoItem", [&] { return setHwInfoItem(end, 0, &i, 4); }},
    };
    for (const auto& [name, call] : calls)
        EXPECT_EQ(call(), -102) << name;
    EXPECT_EQ(deviceMessage(0), before);
    EXPECT_EQ(libraryMessage(), libBefore);
    EXPECT_FALSE(std::filesystem::exists("x.bpc"));
}

// The device keeps its own copies of the texts that the library gave: they outlive the library.
TEST_F(RegistryTest, DeviceTextsOutliveTheLibrary)
{
    const std::string longId(70, 'k');
    initWith({{1, 1, longId, "usbbox"}});
    char id[64];
    char iface[64];
    std::memset(id, 'x', sizeof id);
    ASSERT_EQ(getTarvikInfo(0, nullptr, nullptr, id, iface), 0);
    EXPECT_EQ(std::string(id), std::string(63, 'k'));
    EXPECT_STREQ(iface, "usbbox");
    _DevInfo info{};
    ASSERT_EQ(getDevInfo(0, &info), 0);
    EXPECT_EQ(getDevInfo(0, nullptr), -1);
    exitTvkCtrl(); // unloads the library
    EXPECT_STREQ(info.interfaceName, "usbbox");
    EXPECT_EQ(std::string(info.chipboardId), std::string(63, 'k'));
}

// Names from hardware go into file names: separators and unsafe characters are dropped.
TEST_F(RegistryTest, ConfigFileNamesAreSafe)
{
    initWith({{1, 1, "../../x:y*z", "us/b"}});
    exitTvkCtrl(); // writes the device's files
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root() + "/configs"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"usb_....xyz.bpc", "usb_....xyz.tcf"}));
    EXPECT_FALSE(std::filesystem::exists(root() + "/x:y*z.tcf"));
}

} // namespace
