// End to end through the device-control library: a scratch app folder with copies of libTvkCtrl.so and
// hwlibs/tvkHwUSB.so whose settings choose simulated boxes. Frames, the attributes every frame carries,
// the digital test, test pulses, reconnection, the order of start and frame in "trigger starts", and
// runs of 20 frames with each fault of the box.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ctrl/tvk_ctrl.h"
#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "wait_until.h"

namespace fs = std::filesystem;

namespace {

// The functions of the scratch copy of the device-control library.
struct Ctrl {
    plat::Module module;
#define CTRL_FN(name) decltype(&::name) name = nullptr
    CTRL_FN(initTvkCtrl);
    CTRL_FN(exitTvkCtrl);
    CTRL_FN(getFirstTvk);
    CTRL_FN(getDevInfo);
    CTRL_FN(getInfoMsg);
    CTRL_FN(setAutoConvToSM);
    CTRL_FN(setAcqMode);
    CTRL_FN(setHwTimer);
    CTRL_FN(setHwInfoItem);
    CTRL_FN(getHwInfoItem);
    CTRL_FN(performFrameAcq);
    CTRL_FN(performTestPulseAcq);
    CTRL_FN(performDigitalTest);
    CTRL_FN(getFrame16);
    CTRL_FN(getFrameAttrib);
    CTRL_FN(reconnectTvk);
    CTRL_FN(setPixelsCfg);
    CTRL_FN(setCbAcqStart);
    CTRL_FN(setCbAcqCompl);
#undef CTRL_FN

    bool open(const std::string& path)
    {
        if (!module.open(path))
            return false;
#define CTRL_BIND(name) name = reinterpret_cast<decltype(name)>(module.symbol(#name))
        CTRL_BIND(initTvkCtrl);
        CTRL_BIND(exitTvkCtrl);
        CTRL_BIND(getFirstTvk);
        CTRL_BIND(getDevInfo);
        CTRL_BIND(getInfoMsg);
        CTRL_BIND(setAutoConvToSM);
        CTRL_BIND(setAcqMode);
        CTRL_BIND(setHwTimer);
        CTRL_BIND(setHwInfoItem);
        CTRL_BIND(getHwInfoItem);
        CTRL_BIND(performFrameAcq);
        CTRL_BIND(performTestPulseAcq);
        CTRL_BIND(performDigitalTest);
        CTRL_BIND(getFrame16);
        CTRL_BIND(getFrameAttrib);
        CTRL_BIND(reconnectTvk);
        CTRL_BIND(setPixelsCfg);
        CTRL_BIND(setCbAcqStart);
        CTRL_BIND(setCbAcqCompl);
#undef CTRL_BIND
        return initTvkCtrl && exitTvkCtrl && getFirstTvk && getFrame16 && setCbAcqCompl;
    }
};

std::atomic<int> gSequence{0};
std::atomic<int> gStartedAt{-1};
std::atomic<int> gFrameAt{-1};
void onAcqStart(int)
{
    gStartedAt = gSequence++;
}
void onFrame(int)
{
    gFrameAt = gSequence++;
}

class UsbThroughCtrl : public ::testing::Test {
protected:
    void start(const std::string& simBox)
    {
        dir_ = ombrel_test::scratchDir("usb-ctrl");
        fs::create_directories(dir_ + "/hwlibs");
        oldCwd_ = fs::current_path();
        fs::current_path(dir_); // the debug log goes to the current folder
        fs::copy_file(USB_APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        if (fs::exists(USB_APP_DIR "/configs"))
            fs::copy(USB_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(USB_LIBRARY_PATH, dir_ + "/hwlibs/tvkHwUSB.so");
        ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwUSB.ini", "[Link]\nBackend = sim\n[SimBox]\n" + simBox);
        ASSERT_TRUE(ctrl_.open(dir_ + "/libTvkCtrl.so")) << ctrl_.module.error();
        ASSERT_EQ(ctrl_.initTvkCtrl(), 0);
        int count = 0;
        unsigned first = 99;
        ASSERT_EQ(ctrl_.getFirstTvk(&first, &count), 0);
        ASSERT_EQ(count, 1);
        dev_ = first;
        ctrl_.setAutoConvToSM(dev_, 0);
        started_ = true;
    }
    void TearDown() override
    {
        if (started_) {
            ctrl_.setCbAcqStart(nullptr);
            ctrl_.setCbAcqCompl(nullptr);
            ctrl_.exitTvkCtrl();
        }
        // The copy stays loaded until the program ends: the device-control library keeps process-wide
        // objects that only a loaded module still reaches (unloading it would report them as leaks).
        if (started_)
            ombrel_test::keepLoaded(std::move(ctrl_.module));
        std::error_code ignored;
        if (!oldCwd_.empty())
            fs::current_path(oldCwd_, ignored);
        if (!dir_.empty())
            fs::remove_all(dir_, ignored);
    }
    // The debug log's switches, items 2 and 3.
    void logTo(bool file, bool errorsOnly)
    {
        const int32_t on = file, errs = errorsOnly; // BOOL
        ASSERT_EQ(ctrl_.setHwInfoItem(dev_, 2, &on, sizeof on), 0) << message();
        ASSERT_EQ(ctrl_.setHwInfoItem(dev_, 3, &errs, sizeof errs), 0) << message();
    }
    std::string debugLog() { return ombrel_test::readFile(dir_ + "/__debug_USBhwlib.log"); }
    std::string message()
    {
        const char* text = nullptr;
        ctrl_.getInfoMsg(static_cast<int>(dev_), nullptr, &text);
        return text ? text : "";
    }
    std::vector<int16_t> frame(size_t pixels, int index = 0)
    {
        std::vector<int16_t> data(pixels, -1);
        EXPECT_EQ(ctrl_.getFrame16(dev_, data.data(), static_cast<uint32_t>(pixels), index), 0) << message();
        return data;
    }
    bool hasAttribute(const char* name)
    {
        uint8_t buffer[1024];
        uint32_t size = sizeof buffer;
        int type = -1;
        return ctrl_.getFrameAttrib(dev_, 0, name, buffer, &size, &type) == 0;
    }

    Ctrl ctrl_;
    std::string dir_;
    fs::path oldCwd_;
    unsigned dev_ = 0;
    bool started_ = false;
};

std::vector<int16_t> pattern(int chips, int chipType, int n)
{
    const int states = chipType == 1 ? 8001 : 11811;
    std::vector<int16_t> v(static_cast<size_t>(chips) * 65536);
    for (int chip = 0; chip < chips; ++chip)
        for (int row = 0; row < 256; ++row)
            for (int col = 0; col < 256; ++col)
                v[static_cast<size_t>(chip) * 65536 + row * 256 + col] =
                    static_cast<int16_t>((7 * row + 3 * col + 1000 * chip + n) % states);
    return v;
}

// Pixels (chip, row, col) whose bit 0 a "Set matrix" stream of four 13-bit chips cannot carry: block i
// is moved i bits toward its end, past it. Bit 0 of a 13-bit chip's pixel configuration is its enable
// bit, so once a configuration is written these pixels count nothing. Read back, the first pixel of
// chip 0 comes without its bit 12: the host moves block 0 of the "Read matrix" stream one bit toward its
// end.
constexpr size_t kLostOfFour13[][3] = {
    {0, 0, 0},
    {1, 255, 255},
    {2, 255, 254}, {2, 255, 255},
    {3, 255, 253}, {3, 255, 254}, {3, 255, 255},
};
std::set<size_t> lostPixels(int chips, int chipType)
{
    std::set<size_t> lost;
    if (chips == 4 && chipType == 1)
        for (const auto& [chip, row, col] : kLostOfFour13)
            lost.insert(chip * 65536 + row * 256 + col);
    return lost;
}
// The pixels where two frames differ.
std::set<size_t> differing(const std::vector<int16_t>& a, const std::vector<int16_t>& b)
{
    std::set<size_t> at;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i])
            at.insert(i);
    return at;
}

TEST_F(UsbThroughCtrl, FramesAttributesDigitalTestPulsesAndReconnection)
{
    struct Case {
        int chips, chipType;
    };
    // Four 13-bit chips: their blocks are moved by different bit counts; only the bits moved past a
    // block's end are lost.
    for (const Case& c : {Case{1, 1}, Case{4, 1}, Case{4, 2}}) {
        SCOPED_TRACE(std::to_string(c.chips) + " chips of type " + std::to_string(c.chipType));
        start("Chips = " + std::to_string(c.chips) + "\nChipType = " + std::to_string(c.chipType) + "\n");
        const size_t pixels = static_cast<size_t>(c.chips) * 65536;
        _DevInfo info{};
        ASSERT_EQ(ctrl_.getDevInfo(dev_, &info), 0);
        EXPECT_STREQ(info.interfaceName, "USB");
        EXPECT_EQ(info.chipCount, c.chips);

        // The digital test's pattern comes back whole: a difference that the stream's lost bits would
        // cause is not a fault of the pixel (its frame would mark it with 1). Several runs, as the
        // pattern is random.
        const std::set<size_t> lost = lostPixels(c.chips, c.chipType);
        for (int run = 0; run < 5; ++run) {
            int good = -1;
            ASSERT_EQ(ctrl_.performDigitalTest(dev_, &good, nullptr, 1, 0.0), 0) << message();
            const std::vector<int16_t> marks = frame(pixels);
            const std::set<size_t> bad = differing(marks, std::vector<int16_t>(pixels, 0));
            EXPECT_TRUE(bad.empty()) << bad.size() << " pixels marked, the first " << *bad.begin();
            EXPECT_EQ(good, static_cast<int>(pixels));
        }
        // The box counts its pattern into the enabled pixels; the digital test before left the box's
        // configuration as the device keeps it (all enabled by default, bar the lost bits).
        ASSERT_EQ(ctrl_.performFrameAcq(dev_, 3, 0.01, 0, nullptr), 0) << message();
        // Exposures before these three: none (the digital test does not expose).
        for (int f = 0; f < 3; ++f) {
            const std::set<size_t> wrong = differing(frame(pixels, f), pattern(c.chips, c.chipType, f));
            EXPECT_TRUE(std::includes(lost.begin(), lost.end(), wrong.begin(), wrong.end())) << "frame " << f;
        }

        // The nine items marked for frames, and the scope data only while the scope runs on triggers.
        for (const char* name : {"HV", "Counters", "Coincidence mode", "Coincidence delay", "Triger time",
                                 "Coinc live time", "Auto Erase interval", "Autoerase interval counter",
                                 "Sarnet clock"})
            EXPECT_TRUE(hasAttribute(name)) << name;
        EXPECT_FALSE(hasAttribute("Scope data"));
        EXPECT_FALSE(hasAttribute("LogToFile"));

        ASSERT_EQ(ctrl_.performTestPulseAcq(dev_, 0.5, 0.00001, 100, 0), 0) << message();
        const std::vector<int16_t> pulses = frame(pixels);
        EXPECT_TRUE(differing(pulses, std::vector<int16_t>(pixels, 100)) == lost)
            << "every enabled pixel counts the pulses";

        ASSERT_EQ(ctrl_.reconnectTvk(dev_), 0) << message();
        ctrl_.setAutoConvToSM(dev_, 0); // the recreated device starts with its defaults
        ASSERT_EQ(ctrl_.performFrameAcq(dev_, 1, 0.01, 0, nullptr), 0) << message();
        const std::set<size_t> wrong = differing(frame(pixels), pattern(c.chips, c.chipType, 0));
        EXPECT_TRUE(std::includes(lost.begin(), lost.end(), wrong.begin(), wrong.end()))
            << "a reconnected box starts counting anew";
        TearDown();
        started_ = false;
        dir_.clear();
    }
}

TEST_F(UsbThroughCtrl, TriggerStartsReportsTheStartBeforeTheFrame)
{
    start("");
    gSequence = 0;
    gStartedAt = gFrameAt = -1;
    ctrl_.setCbAcqStart(onAcqStart);
    ctrl_.setCbAcqCompl(onFrame);
    ASSERT_EQ(ctrl_.setAcqMode(dev_, ACQMODE_TRIG_START), 0) << message();
    ASSERT_EQ(ctrl_.performFrameAcq(dev_, 1, 0.01, 0, nullptr), 0) << message();
    EXPECT_GE(gStartedAt.load(), 0);
    EXPECT_GT(gFrameAt.load(), gStartedAt.load());
}

// Every saved frame's description holds exactly the nine items marked for frames, and "Scope data" as a
// tenth only while the scope runs on triggers.
TEST_F(UsbThroughCtrl, DescriptionFilesHoldTheItemsMarkedForFrames)
{
    const char* marked[] = {"HV", "Counters", "Coincidence mode", "Coincidence delay", "Triger time",
                            "Coinc live time", "Auto Erase interval", "Autoerase interval counter", "Sarnet clock"};
    const char* unmarked[] = {"Name+SN", "Firmware", "LogToFile", "LogErrs", "ExpTime", "HV ver", "Leakage", "DAC0",
                              "DAC1", "TVK sense", "Temperature", "ScopeOnTrg", "Scope samples", "Reset Tvk"};
    start("");
    for (int scope = 0; scope < 2; ++scope) {
        SCOPED_TRACE(scope ? "scope on triggers" : "scope off");
        const int32_t on = scope; // BOOL
        ASSERT_EQ(ctrl_.setHwInfoItem(dev_, 16, &on, sizeof on), 0) << message();
        const std::string folder = dir_ + "/frames" + std::to_string(scope);
        fs::create_directories(folder);
        ASSERT_EQ(ctrl_.performFrameAcq(dev_, 2, 0.002, FSAVE_BINARY | FSAVE_U32, (folder + "/f.bin").c_str()), 0)
            << message();
        int files = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() != ".dsc")
                continue;
            ++files;
            const std::string dsc = ombrel_test::readFile(entry.path().string());
            auto count = [&](const std::string& name) {
                size_t n = 0;
                for (size_t at = dsc.find("\"" + name + "\" ("); at != std::string::npos;
                     at = dsc.find("\"" + name + "\" (", at + 1))
                    ++n;
                return n;
            };
            for (const char* name : marked)
                EXPECT_EQ(count(name), 1u) << name << "\n" << dsc;
            for (const char* name : unmarked)
                EXPECT_EQ(count(name), 0u) << name;
            EXPECT_EQ(count("Scope data"), static_cast<size_t>(scope));
        }
        EXPECT_EQ(files, 2);
    }
}

// Each fault in a run of 20 frames: the run recovers, or fails and the next run succeeds; the debug log
// (errors only) names what the library saw and how it recovered.
TEST_F(UsbThroughCtrl, EachFaultOfTheBoxIsSurvived)
{
    struct Case {
        const char* fault;
        const char* logLine;
    };
    const Case cases[] = {
        {"garbage", "Bad response of the device: Unknown response received. Resynchronization OK."},
        {"flip", "Bad response of the device: Unknown response received. Resynchronization OK."},
        {"stale", "Bad response of the device: Unexpected command response: [; = 0x3b"},
        {"partialsync", "Timeout error: Timeout. Not received response to ';' [0x3b]"},
        {"deviceerror", "Error reported by device: Error \"Device error\" reported by device performing command"},
        {"stall", "Timeout error: Timeout. Not received response to ';' [0x3b]"},
        {"shortread", "Bad response of the device: Got response to different command: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        start(std::string("Fault = ") + c.fault + "\nFaultAfter = 20\n");
        logTo(true, true);
        const int first = ctrl_.performFrameAcq(dev_, 20, 0.002, 0, nullptr);
        if (first != 0) {
            EXPECT_EQ(ctrl_.performFrameAcq(dev_, 20, 0.002, 0, nullptr), 0) << message();
        }
        const std::string log = debugLog();
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
        EXPECT_EQ(log.find("performed OK"), std::string::npos) << "messages are left out";
        TearDown();
        started_ = false;
        dir_.clear();
    }
}

// The box unplugged in the middle of a run: the run ends with an error instead of waiting for frames that
// never come, and the next search reports the device gone.
TEST_F(UsbThroughCtrl, UnpluggingEndsTheRun)
{
    start("Fault = unplug\nFaultAfter = 10\n");
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_NE(ctrl_.performFrameAcq(dev_, 20, 0.002, 0, nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, ombrel_test::kWaitLimit) << "the run waited for the frames";
    EXPECT_NE(ctrl_.performFrameAcq(dev_, 1, 0.002, 0, nullptr), 0) << "the box stays gone";
    const std::string text = message();
    EXPECT_NE(text.find("The readout box is gone"), std::string::npos) << text;
    EXPECT_NE(text.find("reconnect the device"), std::string::npos) << text;
}

// An acquisition time of 0 s returns (the box cannot time it: its shutter is opened and closed at once)
// with a frame.
TEST_F(UsbThroughCtrl, ZeroExposureReturnsAFrame)
{
    start("");
    ASSERT_EQ(ctrl_.performFrameAcq(dev_, 2, 0.0, 0, nullptr), 0) << message();
    frame(65536, 1);
}

// The debug log is created, replacing an old one, with its three header lines when "LogToFile" is
// switched on, before any line is due (errors only, none yet); while logging is off, nothing is created
// and an old log is left as it is.
TEST_F(UsbThroughCtrl, DebugLogIsCreatedWhenLoggingIsSwitchedOn)
{
    for (bool oldLog : {false, true}) {
        SCOPED_TRACE(oldLog ? "an old log" : "no log");
        start("");
        if (oldLog)
            ombrel_test::writeFile(dir_ + "/__debug_USBhwlib.log", "a line of an older run\n");
        ASSERT_EQ(ctrl_.performFrameAcq(dev_, 1, 0.002, 0, nullptr), 0) << message();
        EXPECT_EQ(fs::exists(dir_ + "/__debug_USBhwlib.log"), oldLog) << "logging is off";
        if (oldLog) {
            EXPECT_EQ(debugLog(), "a line of an older run\n");
        }
        logTo(true, true);
        const std::string row(100, '=');
        EXPECT_EQ(debugLog(),
                  row + "\n====>      Time (UTC)       Device Packet  Message/Error text                      <====\n" +
                      row + "\n");
        TearDown();
        started_ = false;
        dir_.clear();
    }
}

// With "LogToFile" on and "LogErrs" off every packet is dumped with its label, 16 bytes a line, a
// matrix cut short after 1024 bytes: a transmitted command and a reply under the command's name, a
// frame the box sends by itself in two blocks; with "LogErrs" on only errors are written, with the text
// the device reports.
TEST_F(UsbThroughCtrl, DebugLogDumpsPacketsUntilErrorsOnly)
{
    start("");
    logTo(true, false);
    ASSERT_EQ(ctrl_.performFrameAcq(dev_, 1, 0.002, 0, nullptr), 0) << message();
    std::string log = debugLog();
    const std::string row(100, '=');
    EXPECT_EQ(log.rfind(row + "\n====>      Time (UTC)       Device Packet  Message/Error text", 0), 0u) << log;
    for (const char* part : {"Transmited: ", "Received:   ", "Erase matrix", "  >>      Abreviated       <<",
                             "-> Bytes transmited: 1", "-> Bytes received: ", "Message: ", "Message: Command \"Erase matrix\" performed OK."})
        EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;
    const std::string head = R"(\d\d:\d\d:\d\d\.\d{3} +\d+ \(\d{5}\))";
    const char* const packets[] = {
        R"(Transmited: HEAD Erase matrix\n65 {46}\| e\n\|  -> Bytes transmited: 1\n)",
        R"(Received:   HEAD Erase matrix\n65 4f 4b 0d {37}\| eOK\.\n\|  -> Bytes received: 4\n)",
        R"(Received:   HEAD Background message begining\.\n03 ([0-9a-f]{2} ){12} +\| \.)",
        R"(Received:   HEAD Background message end\.\n([0-9a-f]{2} ){16}\| )",
    };
    for (const char* packet : packets) {
        const std::string pattern = std::regex_replace(packet, std::regex("HEAD"), head);
        EXPECT_TRUE(std::regex_search(log, std::regex(pattern))) << pattern << "\n" << log;
    }
    logTo(true, true);
    const size_t before = log.size();
    ASSERT_EQ(ctrl_.performFrameAcq(dev_, 1, 0.002, 0, nullptr), 0) << message();
    log = debugLog();
    EXPECT_EQ(log.size(), before) << log.substr(before);
    // "HV" (8 bytes) asked for with 4: the size supplied and the size required.
    double hv = 0;
    HwInfoItem item{};
    item.data = &hv;
    int size = 4;
    ASSERT_EQ(ctrl_.getHwInfoItem(dev_, 5, &item, &size), 0) << "a raised size is no error";
    EXPECT_EQ(size, 8);
    log = debugLog();
    EXPECT_NE(log.find("Supplied buffer is too small, size: 4, required: 8", before), std::string::npos)
        << log.substr(before);
}

} // namespace
