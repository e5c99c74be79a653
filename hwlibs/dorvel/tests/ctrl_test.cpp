// Through the device-control library on simulated cards: a scratch app folder with copies of
// libTvkCtrl.so, the default configurations and tvkHwDorvel.so with its settings file, opened at run time.
// Devices are found with their interface, acquire frames by polling the busy line, pass the digital
// test, keep forced chip data across a reconnection, report their clock, and are not found twice.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_hw.h"

namespace fs = std::filesystem;

namespace {

std::mutex g_messagesMutex;
std::vector<std::string> g_messages; // library-level info messages of the running test

// The device-control library of one scratch app folder.
class CtrlApp {
public:
    CtrlApp(const std::string& tag, const std::string& ini)
        : dir_(ombrel_test::scratchDir("dorvel-ctrl-" + tag)), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::copy_file(CTRL_LIBRARY_PATH, dir_ + "/libTvkCtrl.so");
        fs::copy(APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(DORVEL_LIBRARY_PATH, dir_ + "/hwlibs/tvkHwDorvel.so");
        ombrel_test::writeFile(iniPath(), ini);
        fs::current_path(dir_); // the debug log goes to the current folder
        if (!lib_.open(dir_ + "/libTvkCtrl.so"))
            throw std::runtime_error(lib_.error());
        std::lock_guard<std::mutex> guard(g_messagesMutex);
        g_messages.clear();
    }
    ~CtrlApp()
    {
        if (lib_.isOpen()) {
            call<int (*)()>("exitTvkCtrl")();
            call<int (*)(void (*)(int))>("setCbInfoMsg")(nullptr);
            lib_.close();
        }
        fs::current_path(oldCwd_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    template <class Fn>
    Fn call(const char* name)
    {
        auto fn = reinterpret_cast<Fn>(lib_.symbol(name));
        if (!fn)
            throw std::runtime_error(lib_.error());
        return fn;
    }

    int start()
    {
        call<int (*)(void (*)(int))>("setCbInfoMsg")(&onInfo);
        return call<int (*)()>("initTvkCtrl")();
    }

    std::vector<unsigned> devices()
    {
        std::vector<unsigned> list;
        unsigned dev = 0;
        int count = 0;
        for (int r = call<int (*)(unsigned*, int*)>("getFirstTvk")(&dev, &count); r == 0;
             r = call<int (*)(unsigned*)>("getNextTvk")(&dev))
            list.push_back(dev);
        return list;
    }

    _DevInfo devInfo(unsigned dev)
    {
        _DevInfo info{};
        EXPECT_EQ(call<int (*)(unsigned, _DevInfo*)>("getDevInfo")(dev, &info), 0);
        return info;
    }

    std::string deviceMessage(unsigned dev)
    {
        const char* text = nullptr;
        call<int (*)(int, int*, const char**)>("getInfoMsg")(static_cast<int>(dev), nullptr, &text);
        return text ? text : "";
    }

    std::string iniPath() const { return dir_ + "/hwlibs/tvkHwDorvel.ini"; }
    const std::string& dir() const { return dir_; }

private:
    static void onInfo(int devIndex);

    std::string dir_;
    fs::path oldCwd_;
    plat::Module lib_;
    static inline CtrlApp* current_ = nullptr;

public:
    void makeCurrent() { current_ = this; }
    static CtrlApp* current() { return current_; }
};

void CtrlApp::onInfo(int devIndex)
{
    if (devIndex != -1 || !current_)
        return;
    const char* text = nullptr;
    current_->call<int (*)(int, int*, const char**)>("getInfoMsg")(-1, nullptr, &text);
    std::lock_guard<std::mutex> guard(g_messagesMutex);
    g_messages.push_back(text ? text : "");
}

std::string simIni(int cards, int chips, int chipType, int wordsPerSecond, const std::string& force = "")
{
    return "[SimCard]\nCards = " + std::to_string(cards) + "\nChips = " + std::to_string(chips) +
           "\nChipType = " + std::to_string(chipType) + "\nIdLetter = K\nIdNumber = 7\nIdWafer = 2100\n" +
           "WordsPerSecond = " + std::to_string(wordsPerSecond) + "\n[Force]\n" + force;
}

std::vector<std::string> initErrors()
{
    std::lock_guard<std::mutex> guard(g_messagesMutex);
    std::vector<std::string> errors;
    for (const std::string& m : g_messages)
        if (m.rfind("Device initialization error", 0) == 0)
            errors.push_back(m);
    return errors;
}

// With no card set up (the default Cards = 0) neither the start nor a search reports anything, and no
// debug log is written.
TEST(DorvelThroughCtrl, NoCardSetUpIsNoError)
{
    CtrlApp app("nocard", "[SimCard]\nCards = 0\n");
    app.makeCurrent();
    ASSERT_EQ(app.start(), 0);
    EXPECT_TRUE(app.devices().empty());
    ASSERT_EQ(app.call<int (*)()>("findNewTvks")(), 0);
    EXPECT_TRUE(app.devices().empty());
    EXPECT_EQ(initErrors(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(app.dir() + "/__debug_dorvelhwlib.log"));
}

// A card that cannot be set up is named in the log with its reason, and the other card still comes up:
// a failing driver call, a stalled transfer, and a chip count that no frame can hold (a frame has one chip
// or two rows of two), which the device-control library refuses whatever the library reports.
TEST(DorvelThroughCtrl, CardsThatCannotBeSetUpAreNamedWithTheirReason)
{
    struct Case {
        const char* what;
        const char* settings; // board 2 of two
        int devices;
        const char* error;
    };
    const Case cases[] = {
        {"failing driver call", "FaultBoard = 2\nFailCall = DIG_Grp_Config\n", 1,
         "Device initialization error: Nidaq call of DIG_Grp_Config failed, error code: -10403 (device 1 of "
         "tvkHwDorvel.so)"},
        {"stalled transfer", "FaultBoard = 2\nStallAfterWords = 0\n", 1,
         "Device initialization error: Operation timeout (readData), byte remains: 2 (device 1 of tvkHwDorvel.so)"},
        {"three chips", "Chips = 3\n", 0,
         "Device initialization error: Unsupported chip count: 3 (a frame holds 1 or 4 chips). (device 0 of "
         "tvkHwDorvel.so)"},
        {"two chips", "Chips = 2\n", 0,
         "Device initialization error: Unsupported chip count: 2 (a frame holds 1 or 4 chips). (device 0 of "
         "tvkHwDorvel.so)"},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CtrlApp app("refused" + std::to_string(serial++), std::string("[SimCard]\nCards = 2\n") + c.settings);
        app.makeCurrent();
        ASSERT_EQ(app.start(), 0);
        EXPECT_EQ(app.devices().size(), static_cast<size_t>(c.devices));
        const std::vector<std::string> errors = initErrors();
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors[0], c.error);
    }
}

struct Shape {
    int chips;
    int chipType;
    const char* id;
};

class DorvelShapes : public ::testing::TestWithParam<Shape> {};

TEST_P(DorvelShapes, FramesDigitalTestClockAndReconnection)
{
    const Shape s = GetParam();
    constexpr int kWordsPerSecond = 2000000; // the clock measurement takes 0.5 s
    CtrlApp app("shape" + std::to_string(s.chips), simIni(2, s.chips, s.chipType, kWordsPerSecond));
    app.makeCurrent();
    ASSERT_EQ(app.start(), 0);
    const std::vector<unsigned> devices = app.devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(fs::exists(app.dir() + "/__debug_dorvelhwlib.log"));

    const unsigned dev = devices[0];
    const _DevInfo info = app.devInfo(dev);
    EXPECT_STREQ(info.interfaceName, "dorvel");
    EXPECT_EQ(info.chipCount, s.chips);
    EXPECT_EQ(info.chipType, s.chipType);
    EXPECT_STREQ(info.chipboardId, s.id);
    // The simulated card never runs faster than its rate; a loaded machine only makes it slower.
    EXPECT_GT(info.clockMHz, 0.0);
    EXPECT_LE(info.clockMHz, 1.2 * kWordsPerSecond / 1e6);

    // A second search finds the same boards: no new device.
    ASSERT_EQ(app.call<int (*)()>("findNewTvks")(), 0);
    EXPECT_EQ(app.devices().size(), 2u);

    // Three frames, each the pattern of its exposure in the enabled pixels; the readout polls busy.
    const uint32_t pixels = static_cast<uint32_t>(s.chips) * 65536;
    ASSERT_EQ(app.call<int (*)(unsigned, int)>("setAutoConvToSM")(dev, 0), 0);
    ASSERT_EQ(app.call<int (*)(unsigned, int)>("setHwTimer")(dev, 0), 0);
    std::vector<uint8_t> cfg(pixels);
    ASSERT_EQ(app.call<int (*)(unsigned, uint8_t*, uint32_t, int)>("getPixelsCfg")(dev, cfg.data(), pixels, -1), 0);
    ASSERT_EQ(app.call<int (*)(unsigned, int, double, uint32_t, const char*)>("performFrameAcq")(dev, 3, 0.02, 0,
                                                                                                  nullptr),
              0)
        << app.deviceMessage(dev);
    const uint32_t modulo = s.chipType == 1 ? 8001 : 11811;
    std::vector<uint32_t> frame(pixels);
    for (int f = 0; f < 3; ++f) {
        SCOPED_TRACE(f);
        ASSERT_EQ(app.call<int (*)(unsigned, uint32_t*, uint32_t, int)>("getFrame32")(dev, frame.data(), pixels, f), 0);
        size_t wrong = 0;
        for (uint32_t i = 0; i < pixels; ++i) {
            const uint32_t chip = i / 65536, row = (i % 65536) / 256, col = i % 256;
            const uint32_t expected = (cfg[i] & 1) ? (7 * row + 3 * col + 1000 * chip + static_cast<uint32_t>(f)) % modulo : 0;
            // Read from several 13-bit chips, chip 0's first pixel comes without its bit 12 (its block
            // is moved one bit toward its end within itself).
            if (i == 0 && s.chips > 1 && s.chipType == 1)
                continue;
            wrong += frame[i] != expected;
        }
        EXPECT_EQ(wrong, 0u);
    }

    int good = -1;
    ASSERT_EQ(app.call<int (*)(unsigned, int*, uint32_t*, int, double)>("performDigitalTest")(dev, &good, nullptr, 0,
                                                                                              0.0),
              0)
        << app.deviceMessage(dev);
    EXPECT_EQ(good, static_cast<int>(pixels));

    // Forced chip data holds after a reconnection.
    ombrel_test::writeFile(app.iniPath(), simIni(2, s.chips, s.chipType, kWordsPerSecond,
                                                 "NumberOfChips = 1\nChipID = X01 - W0001\n"));
    ASSERT_EQ(app.call<int (*)(unsigned)>("reconnectTvk")(dev), 0) << app.deviceMessage(dev);
    const _DevInfo forced = app.devInfo(dev);
    EXPECT_EQ(forced.chipCount, 1);
    EXPECT_STREQ(forced.chipboardId, "X01 - W0001");
    EXPECT_EQ(app.devices().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Cards, DorvelShapes,
                         ::testing::Values(Shape{1, 1, "1001"}, Shape{4, 1, "1001"}, Shape{4, 2, "K07 - W0052"}));

} // namespace
