// Pixel configuration through the C API: reset values, checks, binary ".bpc" and ASCII files against
// golden files, and loads that fail part-way.
#include "dev_fixture.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

using namespace devtest;

// Devices: 0 one type-1 chip, 1 one type-3 chip, 2 four type-2 chips.
class PixelTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        changed = 0;
        initWith({{1, 1}, {1, 3}, {4, 2}});
        setCbPixCfgChanged([](int) { ++changed; });
    }

    static std::vector<uint8_t> stored(unsigned dev)
    {
        std::vector<uint8_t> cfg(dev == 2 ? 4 * 65536 : 65536);
        EXPECT_EQ(getPixelsCfg(dev, cfg.data(), static_cast<uint32_t>(cfg.size()), -1), 0);
        return cfg;
    }
    std::vector<uint8_t> sent(int id)
    {
        std::vector<uint8_t> cfg(id == 2 ? 4 * 65536 : 65536);
        EXPECT_EQ(control("fake").lastPixels(id, cfg.data(), static_cast<uint32_t>(cfg.size())), 0);
        return cfg;
    }
    int64_t sends(int id) { return control("fake").counter(id, "calls.hwSetPixelsCfg"); }

    static std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

    static inline std::atomic<int> changed{0};
};

TEST_F(PixelTest, ResetValuesPerChipType)
{
    struct Case {
        unsigned dev;
        uint8_t reset;
    };
    for (const Case& c : {Case{0, 0xFF}, Case{1, 0x3F}, Case{2, 0xFF}}) {
        const auto cfg = stored(c.dev);
        EXPECT_EQ(std::count(cfg.begin(), cfg.end(), c.reset), static_cast<long>(cfg.size())) << c.dev;
        EXPECT_EQ(sent(static_cast<int>(c.dev)), cfg); // sent at initialisation
    }

    std::vector<uint8_t> zeros(4 * 65536, 0);
    ASSERT_EQ(setPixelsCfg(2, zeros.data(), static_cast<uint32_t>(zeros.size()), -1), 0);
    ASSERT_EQ(resetPixelsCfg(2, 1), 0);
    const auto cfg = stored(2);
    EXPECT_EQ(cfg[65535], 0);
    EXPECT_EQ(cfg[65536], 0xFF);
    EXPECT_EQ(cfg[2 * 65536 - 1], 0xFF);
    EXPECT_EQ(cfg[2 * 65536], 0);
    EXPECT_EQ(sent(2), cfg);
}

TEST_F(PixelTest, SizeAndChipChecks)
{
    std::vector<uint8_t> cfg(2 * 65536, 1);
    const int64_t before = sends(0);
    EXPECT_EQ(setPixelsCfg(0, cfg.data(), 65536, 1), -2);
    EXPECT_EQ(deviceMessage(0), "Invalid chip number (1), 1 chips present (0-0).");
    EXPECT_EQ(setPixelsCfg(0, cfg.data(), 2 * 65536, -1), -2);
    EXPECT_EQ(deviceMessage(0), "Invalid parameter, pix. cfgs. array size: 131072, required: 65536.");
    EXPECT_EQ(getPixelsCfg(2, cfg.data(), 2 * 65536, -1), -2);
    EXPECT_EQ(deviceMessage(2), "Invalid parameter, pix. cfgs. array size: 131072, required: 262144.");
    EXPECT_EQ(sends(0), before);

    ASSERT_EQ(setPixelsCfg(2, cfg.data(), 65536, 3), 0);
    std::vector<uint8_t> chip(65536);
    ASSERT_EQ(getPixelsCfg(2, chip.data(), 65536, 3), 0);
    EXPECT_EQ(chip, std::vector<uint8_t>(65536, 1));
}

TEST_F(PixelTest, BinaryFilesRoundTrip)
{
    const std::string golden = dataFile("pattern_1chip.bpc");
    const int notified = changed;
    ASSERT_EQ(loadPixelsCfg(0, golden.c_str(), 0), 0);
    EXPECT_EQ(changed, notified + 1);
    EXPECT_EQ(stored(0), bytesOf(readFile(golden)));
    EXPECT_EQ(sent(0), stored(0));

    const std::string copy = root() + "/copy.bpc";
    ASSERT_EQ(savePixelsCfg(0, copy.c_str(), 1), 0);
    EXPECT_EQ(readFile(copy), readFile(golden));
    EXPECT_TRUE(std::filesystem::exists(copy + ".dacs"));

    // A null name resends what is stored.
    const int64_t before = sends(0);
    ASSERT_EQ(loadPixelsCfg(0, nullptr, 0), 0);
    EXPECT_EQ(sends(0), before + 1);
    EXPECT_EQ(changed, notified + 2);
}

// Loads that fail part-way keep the stored configuration and send nothing.
TEST_F(PixelTest, FailedLoadsChangeNothing)
{
    const std::string shortFile = root() + "/short.bpc";
    writeFile(shortFile, std::string(65535, '\x01'));
    const std::string good = root() + "/mask.txt";
    std::string zeros;
    for (int i = 0; i < 65536; ++i)
        zeros += "0 ";
    writeFile(good, zeros);
    const std::string shortAscii = root() + "/test.txt";
    writeFile(shortAscii, "1 1 1\n");
    const std::string bad = root() + "/bad.txt";
    writeFile(bad, "1 x 1\n");

    struct Case {
        const char* what;
        std::function<int()> load;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {"short binary", [&] { return loadPixelsCfg(0, shortFile.c_str(), 0); }, -7,
         "Reading 65536 bytes from file " + shortFile + " failed"},
        {"missing binary", [&] { return loadPixelsCfg(0, (root() + "/none.bpc").c_str(), 1); }, -5,
         "Cannot open file \"" + root() + "/none.bpc\" for reading: No such file or directory."},
        {"second ASCII file short",
         [&] { return loadPixelsCfgAscii(0, good.c_str(), shortAscii.c_str(), nullptr, nullptr, 0); }, -7,
         "Reading 65536 items from file " + shortAscii + " failed"},
        {"ASCII file with a word", [&] { return loadPixelsCfgAscii(0, bad.c_str(), nullptr, nullptr, nullptr, 0); }, -7,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = stored(0);
        const int64_t sendsBefore = sends(0);
        const int notified = changed;
        EXPECT_EQ(c.load(), c.code);
        int code = 0;
        const std::string message = deviceMessage(0, &code);
        EXPECT_EQ(code, c.code);
        if (!c.message.empty()) {
            EXPECT_EQ(message, c.message);
        }
        EXPECT_EQ(stored(0), before);
        EXPECT_EQ(sends(0), sendsBefore);
        EXPECT_EQ(changed, notified);
    }
}

TEST_F(PixelTest, AsciiFilesRoundTrip)
{
    const std::string golden = dataFile("thl_1chip.txt");
    ASSERT_EQ(loadPixelsCfgAscii(0, nullptr, nullptr, golden.c_str(), nullptr, 0), 0);
    const auto cfg = stored(0);
    for (int i : {0, 1, 255, 256, 1000, 65535}) {
        const int thl = (i * 3 + i / 256) % 8;
        EXPECT_EQ(cfg[static_cast<size_t>(i)], 0xE3 | (thl << 2)) << i; // the other bits keep their reset value
    }
    EXPECT_EQ(sent(0), cfg);
    const std::string copy = root() + "/thl.txt";
    ASSERT_EQ(savePixelsCfgAscii(0, nullptr, nullptr, copy.c_str(), nullptr, 0), 0);
    EXPECT_EQ(readFile(copy), readFile(golden));
}

// One low-threshold file of 9s: three bits on types 1 and 2, four on type 3; the rest stays.
TEST_F(PixelTest, AsciiFieldsPerChipType)
{
    std::string nines;
    for (int i = 0; i < 65536; ++i)
        nines += "9 ";
    const std::string file = root() + "/nines.txt";
    writeFile(file, nines);
    ASSERT_EQ(loadPixelsCfgAscii(0, nullptr, nullptr, file.c_str(), nullptr, 0), 0);
    EXPECT_EQ(stored(0)[77], 0xE3 | (1 << 2));
    ASSERT_EQ(loadPixelsCfgAscii(1, nullptr, nullptr, file.c_str(), nullptr, 0), 0);
    EXPECT_EQ(stored(1)[77], 0x03 | (9 << 2));

    // The fourth field: high-threshold adjustment (bits 5-7) or, on type 3, the mode (bits 6-7).
    std::string twos;
    for (int i = 0; i < 65536; ++i)
        twos += "2 ";
    writeFile(file, twos);
    ASSERT_EQ(loadPixelsCfgAscii(1, nullptr, nullptr, nullptr, file.c_str(), 0), 0);
    EXPECT_EQ(stored(1)[5], (2 << 6) | (9 << 2) | 0x03);
    ASSERT_EQ(loadPixelsCfgAscii(0, file.c_str(), file.c_str(), nullptr, file.c_str(), 0), 0);
    EXPECT_EQ(stored(0)[5], (2 << 5) | (1 << 2)); // mask and test bits take 2 & 1 = 0
}

TEST_F(PixelTest, AsciiWithDacsFiles)
{
    const std::string mask = root() + "/m.txt";
    const std::string mode = root() + "/mode.txt";
    ASSERT_EQ(savePixelsCfgAscii(1, mask.c_str(), nullptr, nullptr, mode.c_str(), 1), 0);
    EXPECT_TRUE(std::filesystem::exists(mask + ".dacs"));
    EXPECT_TRUE(std::filesystem::exists(mode + ".dacs"));
    std::vector<uint16_t> dacs(14, 3);
    ASSERT_EQ(setDACs(1, dacs.data(), 14, 0, 0, 0), 0);
    ASSERT_EQ(loadPixelsCfgAscii(1, mask.c_str(), nullptr, nullptr, mode.c_str(), 1), 0);
    std::vector<uint16_t> back(14);
    ASSERT_EQ(getDACs(1, back.data(), 14, 0), 0);
    EXPECT_EQ(back[0], 5); // the default IKrum of type 3, from the DAC file beside the last file
}

// A save that fails leaves the earlier file as it was.
TEST_F(PixelTest, FailedSaveKeepsTheOldFile)
{
    const std::string path = root() + "/keep.bpc";
    writeFile(path, "old contents");
    {
        FileSizeLimit full(1000);
        EXPECT_EQ(savePixelsCfg(0, path.c_str(), 0), -8);
    }
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(deviceMessage(0).rfind("Error occurred while writing to file \"" + path + "\": ", 0), 0u);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(root()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.find("keep.bpc.") == 0; }), 0);

    writeFile(root() + "/plainfile", "x");
    const std::string blocked = root() + "/plainfile/cfg.bpc";
    EXPECT_EQ(savePixelsCfg(0, blocked.c_str(), 0), -6);
    EXPECT_EQ(deviceMessage(0).rfind("Cannot open file \"" + blocked + "\" for writing: ", 0), 0u);
}

} // namespace
