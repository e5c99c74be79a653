// Chip configuration files (".tcf"), DAC files (".dacs"), the default configurations and the
// hardware-specific items of the [Interface] section.
#include "dev_fixture.h"

#include "config_text.h"
#include "dac_tables.h"

#include <cstring>
#include <vector>

namespace {

using namespace devtest;

const std::vector<uint16_t> kType1Defaults = {0, 0, 128, 240, 110, 210, 255, 0, 200, 255, 128, 128, 128};

// Devices: 0 one type-1 chip, 1 and 2 four type-1 chips, 3 one type-2 chip, 4 one type-3 chip.
class ConfigTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        initWith({{1, 1, "S0"}, {4, 1, "Q1"}, {4, 1, "Q2"}, {1, 2, "Z3"}, {1, 3, "N4"}});
    }

    static std::vector<uint16_t> dacs(unsigned dev, int size)
    {
        std::vector<uint16_t> v(static_cast<size_t>(size));
        EXPECT_EQ(getDACs(dev, v.data(), size, -1), 0);
        return v;
    }

    struct Settings {
        int polarity, cst, mode, hwTimer;
        bool operator==(const Settings&) const = default;
    };
    static Settings settings(unsigned dev)
    {
        Settings s{};
        getPolarity(dev, &s.polarity);
        getCST(dev, &s.cst);
        getAcqMode(dev, &s.mode);
        getHwTimer(dev, &s.hwTimer);
        return s;
    }

    static int32_t i32Item(unsigned dev)
    {
        int32_t value = 0;
        HwInfoItem item{};
        item.data = &value;
        int size = 4;
        EXPECT_EQ(getHwInfoItem(dev, 6, &item, &size), 0);
        return value;
    }
};

TEST_F(ConfigTest, ConfigurationFilesRoundTrip)
{
    ASSERT_EQ(setPolarity(1, 0), 0);
    ASSERT_EQ(setCST(1, 1), 0);
    ASSERT_EQ(setAcqMode(1, 4), 0);
    ASSERT_EQ(setHwTimer(1, 1), 0);
    std::vector<uint16_t> values(52);
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < 13; ++i)
            values[static_cast<size_t>(c * 13 + i)] = static_cast<uint16_t>(10 * c + i);
    ASSERT_EQ(setDACs(1, values.data(), 52, -1, 0, 0), 0);
    double coefs[] = {1.25, -3.5, 1.0, 0.0, 0.333333, 100.123};
    ASSERT_EQ(setDACRefCoef(1, coefs, 6, 1), 0);

    const std::string golden = dataFile("type1_4chip.tcf");
    const std::string saved = root() + "/saved.tcf";
    ASSERT_EQ(saveTvkCfg(1, saved.c_str()), 0);
    EXPECT_EQ(readFile(saved), readFile(golden));

    const int32_t changed = 99;
    ASSERT_EQ(setHwInfoItem(2, 6, &changed, 4), 0);
    ASSERT_EQ(loadTvkCfg(2, golden.c_str()), 0);
    EXPECT_EQ(dacs(2, 52), values);
    EXPECT_EQ(settings(2), (Settings{0, 1, 4, 1}));
    EXPECT_EQ(i32Item(2), -123456); // the [Interface] value went back to the hardware
    double back[6] = {};
    ASSERT_EQ(getDACRefCoef(2, back, 6, 1), 0);
    EXPECT_EQ(back[0], 1.25);
    EXPECT_EQ(back[4], 0.33333);
    EXPECT_EQ(back[5], 100.12);
    const std::string again = root() + "/again.tcf";
    ASSERT_EQ(saveTvkCfg(2, again.c_str()), 0);
    EXPECT_EQ(readFile(again), readFile(golden));
}

TEST_F(ConfigTest, LoadingPartialFiles)
{
    struct Case {
        const char* what;
        const char* text;
        Settings expected;
        int thl; // chip 0
    };
    const Case cases[] = {
        {"only polarity", "[Tarvik]\nPolarity:0\n", {0, 0, 1, 2}, 200},
        {"blanks in a key", "[Tarvik]\nAcq  mode:4\nHW timer:0\n", {1, 0, 4, 0}, 200},
        {"key after a blank is not found", "[Tarvik]\n CST:1\n", {1, 0, 1, 2}, 200},
        {"polarity 2 is negative", "[Tarvik]\nPolarity:2\n", {0, 0, 1, 2}, 200},
        {"only the first Chip0", "[Chip0]\nTHL:10\n[Chip0]\nTHL:20\n", {1, 0, 1, 2}, 10},
        {"CR LF", "[Tarvik]\r\nCST:1\r\n[Chip0]\r\nTHL:33\r\n", {1, 1, 1, 2}, 33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = root() + "/partial.tcf";
        writeFile(file, c.text);
        ASSERT_EQ(loadTvkCfg(0, file.c_str()), 0);
        EXPECT_EQ(settings(0), c.expected);
        auto expected = kType1Defaults;
        expected[8] = static_cast<uint16_t>(c.thl);
        EXPECT_EQ(dacs(0, 13), expected);
    }
}

// A file that was asked for and cannot be read changes nothing, not even through a reset.
TEST_F(ConfigTest, UnreadableNamedFileChangesNothing)
{
    FakeControl& fake = control("fake");
    std::vector<uint16_t> values(13, 42);
    ASSERT_EQ(setDACs(0, values.data(), 13, -1, 0, 0), 0);
    ASSERT_EQ(setAcqMode(0, 8), 0);
    const int64_t resets = fake.counter(0, "generalResets");
    const int64_t sends = fake.counter(0, "calls.hwSetTvkDACs");
    const std::string missing = root() + "/missing.tcf";
    for (const std::string& file : {missing, root()}) { // a missing file and a folder
        EXPECT_EQ(initTvkDevice(0, file.c_str()), -111);
        int code = 0;
        EXPECT_EQ(deviceMessage(0, &code), "Cannot open config file \"" + file + "\".");
        EXPECT_EQ(code, -111);
        EXPECT_EQ(loadTvkCfg(0, file.c_str()), -111);
    }
    EXPECT_EQ(dacs(0, 13), values);
    EXPECT_EQ(settings(0).mode, 8);
    EXPECT_EQ(fake.counter(0, "generalResets"), resets);
    EXPECT_EQ(fake.counter(0, "calls.hwSetTvkDACs"), sends);
}

// A file with none of the sections of a configuration is no configuration: taking it would reset every
// value to its default, which exit then saves.
TEST_F(ConfigTest, FileWithoutConfigurationSectionsChangesNothing)
{
    FakeControl& fake = control("fake");
    std::vector<uint16_t> values(13, 42);
    ASSERT_EQ(setDACs(0, values.data(), 13, -1, 0, 0), 0);
    ASSERT_EQ(setAcqMode(0, 8), 0);
    ASSERT_EQ(setHwTimer(0, 0), 0);
    const int64_t resets = fake.counter(0, "generalResets");
    const int64_t sends = fake.counter(0, "calls.hwSetTvkDACs");
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"text", "hello\nworld\n"},
        {"keys without a section", "Polarity:0\nAcq mode:1\nHW timer:2\nTHL:1\n"},
        {"other sections", "[Tarvik2]\nCST:1\n[Chip1]\nTHL:5\n [Tarvik]\n"},
        {"binary", std::string("\0\x01\xFF[\n\r\0", 7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = root() + "/garbage.tcf";
        writeFile(file, c.text);
        for (int viaInit = 0; viaInit < 2; ++viaInit) {
            EXPECT_EQ(viaInit ? initTvkDevice(0, file.c_str()) : loadTvkCfg(0, file.c_str()), -111);
            int code = 0;
            EXPECT_NE(deviceMessage(0, &code).find("\"" + file + "\""), std::string::npos);
            EXPECT_EQ(code, -111);
        }
    }
    EXPECT_EQ(dacs(0, 13), values);
    EXPECT_EQ(settings(0), (Settings{1, 0, 8, 0}));
    EXPECT_EQ(fake.counter(0, "generalResets"), resets);
    EXPECT_EQ(fake.counter(0, "calls.hwSetTvkDACs"), sends);
}

// A value that the device cannot take is refused with a message naming its key, and the current value
// stays; the rest of the file is taken.
TEST_F(ConfigTest, RefusedValuesKeepTheCurrentOnes)
{
    struct Case {
        const char* what;
        const char* line; // replaces the line of the same key in the valid file
        const char* key;  // as the message names it
    };
    const Case cases[] = {
        {"two modes at once", "Acq mode:3", "Acq mode"},
        {"mode outside the known ones", "Acq mode:32", "Acq mode"},
        {"mode 0", "Acq mode:0", "Acq mode"},
        {"negative mode", "Acq mode:-8", "Acq mode"},
        {"negative hardware timer", "HW timer:-1", "HW timer"},
        {"DAC above its 8 bits", "THL:256", "Chip0 THL"},
        {"DAC above 16 bits", "THL:70000", "Chip0 THL"},
        {"negative DAC", "THL:-5", "Chip0 THL"},
        {"not-a-number", "Double item:nan", "Double item"},
        {"infinite", "Double item:-inf", "Double item"},
        {"infinite float", "Float item:1 inf", "Float item"},
        {"no number", "I32 item:many", "I32 item"},
    };
    const auto fileWith = [](const std::string& line) {
        std::string text = "[Tarvik]\nCST:1\nAcq mode:2\nHW timer:0\n[Chip0]\nTHL:60\n"
                           "[Interface]\nDouble item:1.5\nFloat item:1 2\nI32 item:5\n";
        const std::string key = line.substr(0, line.find(':') + 1);
        const size_t at = text.find("\n" + key) + 1;
        return text.replace(at, text.find('\n', at) - at, line);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Current values, all different from the file's and from the defaults.
        ASSERT_EQ(setAcqMode(0, 8), 0);
        ASSERT_EQ(setHwTimer(0, 1), 0);
        auto current = kType1Defaults;
        current[8] = 50;
        ASSERT_EQ(setDACs(0, current.data(), 13, -1, 0, 0), 0);
        const double itemDouble = 2.5;
        const float itemFloats[2] = {3.0f, 4.0f};
        const int32_t itemI32 = 7;
        ASSERT_EQ(setHwInfoItem(0, 9, &itemDouble, 8), 0);
        ASSERT_EQ(setHwInfoItem(0, 8, itemFloats, 8), 0);
        ASSERT_EQ(setHwInfoItem(0, 6, &itemI32, 4), 0);

        const std::string file = root() + "/refused.tcf";
        writeFile(file, fileWith(c.line));
        EXPECT_EQ(loadTvkCfg(0, file.c_str()), 0);
        int code = 0;
        const std::string message = deviceMessage(0, &code);
        EXPECT_NE(message.find("\"" + std::string(c.key) + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(file), std::string::npos) << message;
        EXPECT_EQ(code, -111);

        const std::string key = c.key;
        Settings expected{1, 1, key == "Acq mode" ? 8 : 2, key == "HW timer" ? 1 : 0};
        EXPECT_EQ(settings(0), expected);
        auto expectedDacs = kType1Defaults;
        expectedDacs[8] = key == "Chip0 THL" ? 50 : 60;
        EXPECT_EQ(dacs(0, 13), expectedDacs);
        double d = 0;
        float f[2] = {};
        HwInfoItem item{};
        item.data = &d;
        int size = 8;
        ASSERT_EQ(getHwInfoItem(0, 9, &item, &size), 0);
        EXPECT_EQ(d, key == "Double item" ? 2.5 : 1.5);
        item.data = f;
        ASSERT_EQ(getHwInfoItem(0, 8, &item, &size), 0);
        EXPECT_EQ(f[1], key == "Float item" ? 4.0f : 2.0f);
        EXPECT_EQ(i32Item(0), key == "I32 item" ? 7 : 5);
    }

    // The setter refuses the same modes.
    ASSERT_EQ(setAcqMode(0, 4), 0);
    for (int mode : {7, 3, 0, 32, -1}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(setAcqMode(0, mode), -2);
        int now = 0;
        getAcqMode(0, &now);
        EXPECT_EQ(now, 4);
    }
}

// A device with the manual mode only (as the simulated detector): a mode it lacks, in its own file, in a
// loaded file or given to the setter, is refused, so that its acquisitions keep working.
class SingleModeTest : public DeviceTest {};

TEST_F(SingleModeTest, ModesTheDeviceLacksAreRefused)
{
    std::filesystem::create_directories(root() + "/configs");
    const std::string own = root() + "/configs/fake_M.tcf";
    writeFile(own, "[Tarvik]\nAcq mode:2\n");
    initWith({FakeDev(1, 1, "M", "fake", ACQMODE_MANUAL)});
    int mode = 0;
    getAcqMode(0, &mode);
    EXPECT_EQ(mode, ACQMODE_MANUAL);
    EXPECT_NE(deviceMessage(0).find("\"Acq mode\""), std::string::npos);

    EXPECT_EQ(loadTvkCfg(0, own.c_str()), 0);
    EXPECT_EQ(initTvkDevice(0, own.c_str()), 0);
    EXPECT_EQ(setAcqMode(0, ACQMODE_TRIG_START), -2);
    getAcqMode(0, &mode);
    EXPECT_EQ(mode, ACQMODE_MANUAL);
    EXPECT_EQ(performFrameAcq(0, 1, 0.001, 0, nullptr), 0);

    // Exit writes the mode in use, not the refused one.
    exitTvkCtrl();
    ConfigText text;
    ASSERT_TRUE(text.load(own));
    EXPECT_EQ(text.findInt("Tarvik", "Acq mode"), ACQMODE_MANUAL);
}

// Without a file named: the device's own file, else the default of its chip type, else built-in values.
TEST_F(ConfigTest, OwnFileThenDefaultThenBuiltIn)
{
    std::vector<uint16_t> values(13, 1);
    ASSERT_EQ(setDACs(0, values.data(), 13, -1, 0, 0), 0);
    ASSERT_EQ(setAcqMode(0, 2), 0);
    ASSERT_EQ(initTvkDevice(0, nullptr), 0);
    EXPECT_EQ(dacs(0, 13), kType1Defaults);
    EXPECT_EQ(settings(0), (Settings{1, 0, 1, 2}));

    writeFile(root() + "/configs/default_orig.tcf", "[Tarvik]\nCST:1\n[Chip0]\nTHL:77\n");
    ASSERT_EQ(initTvkDevice(0, ""), 0);
    EXPECT_EQ(dacs(0, 13)[8], 77);
    EXPECT_EQ(settings(0).cst, 1);

    ASSERT_EQ(setDACs(0, values.data(), 13, -1, 0, 0), 0);
    std::vector<uint8_t> pixels(65536, 0x11);
    ASSERT_EQ(setPixelsCfg(0, pixels.data(), 65536, -1), 0);
    ASSERT_EQ(saveTvkCfg(0, ""), 0);
    ASSERT_EQ(savePixelsCfg(0, (root() + "/configs/fake_S0.bpc").c_str(), 0), 0);
    ASSERT_EQ(setDACsDefault(0), 0);
    ASSERT_EQ(resetPixelsCfg(0, -1), 0);
    ASSERT_EQ(initTvkDevice(0, nullptr), 0);
    EXPECT_EQ(dacs(0, 13), values);
    std::vector<uint8_t> back(65536);
    ASSERT_EQ(getPixelsCfg(0, back.data(), 65536, -1), 0);
    EXPECT_EQ(back, pixels);
}

// The default configurations shipped in the app folder hold the built-in values of their chip type.
TEST(ShippedDefaults, HoldTheBuiltInValues)
{
    const struct {
        int chipType;
        const char* file;
    } cases[] = {{1, "default_orig.tcf"}, {2, "default_zrn.tcf"}, {3, "default_srn.tcf"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ConfigText text;
        ASSERT_TRUE(text.load(std::string(SHIPPED_CONFIGS_DIR) + "/" + c.file));
        EXPECT_EQ(text.findInt("Tarvik", "Polarity"), 1);
        EXPECT_EQ(text.findInt("Tarvik", "CST"), 0);
        EXPECT_EQ(text.findInt("Tarvik", "Acq mode"), 1);
        EXPECT_EQ(text.findInt("Tarvik", "HW timer"), 2);
        const DacSet* set = dacSetForChipType(c.chipType);
        ASSERT_NE(set, nullptr);
        for (int i = 0; i < set->count; ++i)
            EXPECT_EQ(text.findInt("Chip0", set->names[i]), int(set->defaults(true)[i])) << set->names[i];
    }
}

TEST_F(ConfigTest, SaveAsDefaultPerChipType)
{
    std::filesystem::remove_all(root() + "/configs");
    ASSERT_EQ(saveTvkCfgAsDefault(3), 0);
    ASSERT_EQ(saveTvkCfgAsDefault(4), 0);
    EXPECT_TRUE(std::filesystem::exists(root() + "/configs/default_zrn.tcf"));
    EXPECT_TRUE(std::filesystem::exists(root() + "/configs/default_srn.tcf"));
    std::filesystem::remove_all(root() + "/configs");
    ASSERT_EQ(saveTvkCfg(4, nullptr), 0); // the own file; its folder is made again
    EXPECT_TRUE(std::filesystem::exists(root() + "/configs/fake_N4.tcf"));
}

TEST_F(ConfigTest, DacFiles)
{
    const std::string golden = dataFile("type2_1chip.dacs");
    const std::string copy = root() + "/copy";
    std::filesystem::copy_file(golden, copy + ".dacs");
    ASSERT_EQ(loadPixelsCfg(3, nullptr, 0), 0);
    writeFile(copy, std::string(65536, '\xFF'));
    ASSERT_EQ(loadPixelsCfg(3, copy.c_str(), 1), 0);
    const std::vector<uint16_t> expected = {21, 130, 131, 132, 133, 134, 1000, 9, 512, 3, 140, 141, 142, 143, 144};
    EXPECT_EQ(dacs(3, 15), expected);
    const std::string out = root() + "/out.bpc";
    ASSERT_EQ(savePixelsCfg(3, out.c_str(), 1), 0);
    EXPECT_EQ(readFile(out + ".dacs"), readFile(golden));

    // A DAC file that lacks one value is refused whole: nothing stored, nothing sent.
    std::string text = readFile(golden);
    text.erase(text.find("THHCoarse:3\n"), std::strlen("THHCoarse:3\n"));
    writeFile(copy + ".dacs", text);
    ASSERT_EQ(setDACsDefault(3), 0);
    const auto before = dacs(3, 15);
    const int64_t sends = control("fake").counter(3, "calls.hwSetTvkDACs");
    ASSERT_EQ(loadPixelsCfgAscii(3, nullptr, nullptr, nullptr, nullptr, 1), 0); // no file: no DAC file either
    std::string mask;
    for (int i = 0; i < 65536; ++i)
        mask += "1 ";
    writeFile(copy, mask);
    EXPECT_EQ(loadPixelsCfgAscii(3, copy.c_str(), nullptr, nullptr, nullptr, 1), -9);
    int code = 0;
    EXPECT_EQ(deviceMessage(3, &code), "Invalid format of DACs file\"" + copy + ".dacs\".");
    EXPECT_EQ(code, -9);
    EXPECT_EQ(dacs(3, 15), before);
    EXPECT_EQ(control("fake").counter(3, "calls.hwSetTvkDACs"), sends);
}

TEST_F(ConfigTest, HardwareItems)
{
    FakeControl& fake = control("fake");
    int count = 0;
    ASSERT_EQ(getHwInfoCount(0, &count), 0);
    EXPECT_EQ(count, 13);

    char small[4];
    HwInfoItem item{};
    item.data = small;
    int size = sizeof small;
    EXPECT_EQ(getHwInfoItem(0, 1, &item, &size), 0); // too small: the size needed comes back
    EXPECT_EQ(size, 32);
    EXPECT_STREQ(item.name, "Char item");

    fake.set(0, "fail.hwGetHwInfo", -6);
    size = 32;
    EXPECT_EQ(getHwInfoItem(0, 1, &item, &size), -114);
    EXPECT_EQ(deviceMessage(0), "Cannot get HW info item with index 1: injected failure of hwGetHwInfo");
    fake.set(0, "fail.hwGetHwInfo", 0);

    const int32_t value = 5;
    fake.set(0, "fail.hwSetHwInfo", -6);
    EXPECT_EQ(setHwInfoItem(0, 6, &value, 4), -113);
    EXPECT_EQ(deviceMessage(0), "Cannot set HW info item with index 6: injected failure of hwSetHwInfo");

    // Items that the hardware refuses while a file loads are reported; the load itself succeeds.
    const std::string file = root() + "/items.tcf";
    writeFile(file, "[Interface]\nI32 item:17 \n");
    int code = 0;
    EXPECT_EQ(loadTvkCfg(0, file.c_str()), 0);
    EXPECT_EQ(deviceMessage(0, &code),
              "Set interface info for \"I32 item\" failed: injected failure of hwSetHwInfo");
    EXPECT_EQ(code, -113);
    fake.set(0, "fail.hwSetHwInfo", 0);
    ASSERT_EQ(loadTvkCfg(0, file.c_str()), 0);
    EXPECT_EQ(i32Item(0), 17);

    // Every kind of item survives a save and a load; items without the config flag are not stored.
    const std::string saved = root() + "/all.tcf";
    ASSERT_EQ(saveTvkCfg(0, saved.c_str()), 0);
    const std::string text = readFile(saved);
    EXPECT_EQ(text.find("U32 item"), std::string::npos);
    EXPECT_EQ(text.find("Version"), std::string::npos);
    std::vector<char> big(1500, 0);
    std::memcpy(big.data(), "changed", 7);
    ASSERT_EQ(setHwInfoItem(0, 11, big.data(), 1500), 0);
    const int32_t other = -1;
    ASSERT_EQ(setHwInfoItem(0, 6, &other, 4), 0);
    ASSERT_EQ(loadTvkCfg(0, saved.c_str()), 0);
    EXPECT_EQ(i32Item(0), 17);
    HwInfoItem bigItem{};
    bigItem.data = big.data();
    size = 1500;
    ASSERT_EQ(getHwInfoItem(0, 11, &bigItem, &size), 0);
    EXPECT_STREQ(big.data(), "big");
}

// A save that fails leaves the earlier file as it was.
TEST_F(ConfigTest, FailedSaveKeepsTheOldFile)
{
    const std::string path = root() + "/keep.tcf";
    writeFile(path, "old contents");
    {
        FileSizeLimit full(64);
        EXPECT_EQ(saveTvkCfg(1, path.c_str()), -8);
    }
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(deviceMessage(1).rfind("Error occurred while writing to file \"" + path + "\": ", 0), 0u);

    writeFile(root() + "/plainfile", "x");
    const std::string blocked = root() + "/plainfile/x.tcf";
    EXPECT_EQ(saveTvkCfg(1, blocked.c_str()), -6);
    EXPECT_EQ(deviceMessage(1).rfind("Cannot open file \"" + blocked + "\" for writing: ", 0), 0u);
    EXPECT_EQ(saveTvkCfg(1, (root() + "/plainfile/x.dacs").c_str()), -6);
}

} // namespace
