// Probing runs on a simulated device and a pseudo-terminal station, without windows: the station
// commands of a die as the station records them (touch-downs, the current search with the simulated
// supply, no contact), each injected command failure ending the run with its box and the needles up,
// the DAQ-card ini byte-identical after every way a run ends, the classes in the wafer map, the result
// files, a busy device, a missing equalizer and the preview of the test frames.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "fake_device.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "probe_run.h"
#include "station_sim.h"

using namespace probing;
using probetest::FakeDevice;
using probetest::StationSim;
namespace fs = std::filesystem;

namespace {

constexpr int kVdda = 7;

// Records what the run tells its window; boxes are answered at once (or, when set, the run is aborted
// at the first box).
class RecordingUi : public ProbeUi {
public:
    void result(const std::string& name, const std::string& value) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        results[name] = value;
        lines.push_back(name + ": " + value);
    }
    void clearResults() override
    {
        std::lock_guard<std::mutex> guard(mutex);
        results.clear();
    }
    void progress(const RunProgress& p) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        last = p;
    }
    int messageBox(const std::string& text, unsigned, const std::atomic<bool>&) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        boxes.push_back(text);
        if (abortAtBox && run)
            run->requestAbort();
        return 1;
    }
    std::mutex mutex;
    std::map<std::string, std::string> results;
    std::vector<std::string> lines;
    std::vector<std::string> boxes;
    RunProgress last;
    bool abortAtBox = false;
    ProbeRun* run = nullptr;
};

void (*simSetCurrent())(int, double)
{
    static plat::Module sim;
    if (!sim.isOpen() && !sim.open(VISA_SIM_PATH))
        throw std::runtime_error(sim.error());
    return reinterpret_cast<void (*)(int, double)>(sim.symbol("visaSimSetCurrentMa"));
}

const std::string kIni = "[SimCard]\nCards = 0\n\n[Force]\nTvkVersion = 0\nNumberOfChips = 0\nChipID =\n";

struct Rig {
    FakeDevice device;
    _MgrFuncTable table;
    StationSim station;
    RecordingUi ui;
    std::string dir = ombrel_test::scratchDir("probe-run");
    RunConfig cfg;

    Rig()
    {
        FakeDevice::current() = &device;
        table = device.table();
        cfg.chip.outputDir = dir;
        cfg.waferName = "W1";
        cfg.daqIniPath = dir + "/tvkHwDorvel.ini";
        cfg.station.comPort = station.port();
        cfg.station.comTimeout = 60000; // the station answers at once; only a hang waits this long
        cfg.station.showVerifyDlg = 0;
        cfg.station.waferCols = 1;
        cfg.station.waferRows = 1;
        cfg.station.visaLibrary = VISA_SIM_PATH;
        cfg.settleSeconds = 0.01;
        ombrel_test::writeFile(cfg.daqIniPath, kIni);
    }
    ~Rig() { FakeDevice::current() = nullptr; }

    // A whole run; its result.
    int run()
    {
        ProbeRun probe(&table, 0, &ui);
        ui.run = &probe;
        probe.configure(cfg);
        EXPECT_TRUE(probe.start());
        waitForThread(probe);
        ui.run = nullptr;
        return probe.thread().exitCode();
    }
    std::string commands() const
    {
        std::string all;
        for (const std::string& c : station.commands())
            all += (all.empty() ? "" : " ") + c;
        return all;
    }
    bool iniUntouched() const
    {
        return ombrel_test::readFile(cfg.daqIniPath) == kIni && !fs::exists(cfg.daqIniPath + "_backup_") &&
               !fs::exists(cfg.daqIniPath + "_backup_absent_");
    }
};

// n copies of word, blank-separated.
std::string times(int n, const std::string& word)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += (i ? " " : "") + word;
    return out;
}

} // namespace

TEST(ProbeRunCommands, TouchDownsOfOneDaqCardDie)
{
    Rig rig;
    rig.cfg.station.upDownCount = 2;
    EXPECT_EQ(rig.run(), 0);
    EXPECT_EQ(rig.commands(), "prbup prbcr(1,1) prbpos prbtdm(td) prbdn prbup prbdn prbtdm(td) prbup");
    EXPECT_TRUE(rig.ui.boxes.empty());
    EXPECT_TRUE(rig.iniUntouched());
    EXPECT_EQ(rig.device.reconnects, 1);
    EXPECT_EQ(rig.ui.last.tested, 1);
    EXPECT_EQ(rig.ui.last.total, 1);
    EXPECT_EQ(rig.ui.last.classCounts[0], 1);
}

TEST(ProbeRunCommands, CurrentSearchWithTheSimulatedSupply)
{
    struct Case {
        const char* name;
        double mAPerStep;
        std::string expected;
        char mapClass;
    } cases[] = {
        {"contact after 3 steps in both passes", 50,
         "prbup prbcr(1,1) prbpos prbtdm(td) prbdn prbtdm(ovd) " + times(3 + 8, "prbdn") +
             " prbtdm(td) prbup prbdn prbtdm(ovd) " + times(3 + 8, "prbdn") + " prbup",
         'A'},
        {"no current: no contact, no test", 0,
         "prbup prbcr(1,1) prbpos prbtdm(td) prbdn prbtdm(ovd) " + times(5, "prbdn") + " prbup prbup", 'X'},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.cfg.station.feedback = 1;
        rig.cfg.station.upDownCount = 1;
        rig.cfg.station.maxOvdSteps = 5;
        rig.cfg.station.currentCondition = 200;
        rig.cfg.station.fixedOvdCount = 8;
        rig.cfg.station.gpibVDDA = kVdda;
        auto setCurrent = simSetCurrent();
        setCurrent(kVdda, 0);
        double mA = 0;
        const double step = c.mAPerStep;
        rig.station.setHook([&mA, step, setCurrent](const std::string& command) {
            if (command == "prbup")
                mA = 0;
            else if (command == "prbdn")
                mA += step;
            setCurrent(kVdda, mA);
        });
        EXPECT_EQ(rig.run(), 0) << c.name;
        EXPECT_EQ(rig.commands(), c.expected) << c.name;
        EXPECT_EQ(rig.ui.last.mapText, std::string(1, c.mapClass) + "\n") << c.name;
        EXPECT_EQ(rig.device.reconnects, c.mapClass == 'X' ? 0 : 1) << c.name;
        EXPECT_TRUE(rig.iniUntouched()) << c.name;
        rig.station.setHook(nullptr);
    }
}

TEST(ProbeRunFailures, EachCommandFailureShowsItsBoxEndsTheRunNeedlesUp)
{
    struct Case {
        const char* command;
        int occurrence;
        const char* box;
    } cases[] = {
        {"prbcr(1,1)", 1, "Move XY failed, aborting... (error code: 7)"},
        {"prbpos", 1, "Getting XY failed, aborting... (error code: 7)"},
        {"prbtdm(td)", 1, "Overdrive settings failed, aborting... (error code: 7)"},
        {"prbdn", 1, "Move down failed, aborting... (error code: 7)"},
        {"prbup", 2, "Move up failed, aborting... (error code: 7)"},
        {"prbdn", 2, "Move down failed, aborting... (error code: 7)"},
        {"prbtdm(td)", 2, "Overdrive settings failed, aborting... (error code: 7)"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.cfg.station.upDownCount = 2;
        rig.station.failAt(c.command, c.occurrence, StationSim::Fault::Error, 7);
        EXPECT_NE(rig.run(), 0) << c.command;
        EXPECT_EQ(rig.ui.boxes, std::vector<std::string>{c.box}) << c.command << " #" << c.occurrence;
        const auto commands = rig.station.commands();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), "prbup") << c.command;
        EXPECT_TRUE(rig.iniUntouched()) << c.command;
    }
}

TEST(ProbeRunFailures, TheIniIsGivenBackOnEveryWayOut)
{
    struct Case {
        const char* name;
        int digitalFailures;
        bool reconnectFails;
        bool abortAtBox;
        bool verifyBox;
        const char* failCommand;
        int failAt;
        int expectedReconnects;
    } cases[] = {
        {"success", 0, false, false, false, nullptr, 0, 1},
        {"three failed digital tests", 3, false, false, false, nullptr, 0, 3},
        {"two failed digital tests", 2, false, false, false, nullptr, 0, 3},
        {"failed reconnect", 0, true, false, false, nullptr, 0, 1},
        {"failed move after the force", 1, false, false, false, "prbup", 2, 1},
        {"abort in the verify box", 0, false, true, true, nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.device.digitalFailures = c.digitalFailures;
        rig.device.reconnectFails = c.reconnectFails;
        rig.ui.abortAtBox = c.abortAtBox;
        rig.cfg.station.showVerifyDlg = c.verifyBox;
        if (c.failCommand)
            rig.station.failAt(c.failCommand, c.failAt, StationSim::Fault::Error, 9);
        rig.run();
        EXPECT_TRUE(rig.iniUntouched()) << c.name;
        EXPECT_EQ(rig.device.reconnects, c.expectedReconnects) << c.name;
        EXPECT_EQ(rig.station.commands().back(), "prbup") << c.name;
    }
}

TEST(ProbeRunFailures, StaleBackupRestoredBeforeTheRun)
{
    Rig rig;
    ombrel_test::writeFile(rig.cfg.daqIniPath + "_backup_", kIni);
    ombrel_test::writeFile(rig.cfg.daqIniPath, "[Force]\nTvkVersion = 3\n");
    rig.device.interfaceName = "model"; // not even a DAQ-card device
    EXPECT_EQ(rig.run(), 0);
    EXPECT_TRUE(rig.iniUntouched());
}

TEST(ProbeRunChipTest, ClassesFilesAndTheScanInputs)
{
    Rig rig;
    rig.cfg.station.waferCols = 2;
    for (int r = 0; r < 200; ++r) // 200 bad pixels spread: class B
        rig.device.badPixels.insert(r * 256 + r % 200);
    EXPECT_EQ(rig.run(), 0);
    EXPECT_EQ(rig.ui.last.mapText, "BB\n");
    EXPECT_EQ(rig.ui.last.classCounts[1], 2);
    EXPECT_EQ(ombrel_test::readFile(rig.dir + "/W1.txt"), "BB\n");
    const std::string prefix = rig.dir + "/W1_02(B)_01";
    EXPECT_NE(std::find(rig.device.saved.begin(), rig.device.saved.end(), prefix + "_DigTest.dat"), rig.device.saved.end());
    EXPECT_NE(std::find(rig.device.saved.begin(), rig.device.saved.end(), prefix + "_ANIN.dat"), rig.device.saved.end());
    EXPECT_NE(std::find(rig.device.saved.begin(), rig.device.saved.end(), prefix + "_DACs.svg"), rig.device.saved.end());
    // all DACs, defaults first, 0 .. the largest value of the widest DAC, step 1, the results file
    ASSERT_EQ(rig.device.scans.size(), 2u);
    EXPECT_EQ(rig.device.scans[1], "3 1 0 1023 1 " + prefix + "_DACs.txt");
    const std::string log = ombrel_test::readFile(prefix + "_log.txt");
    for (const char* line : {"Wafer name: W1\n", "Chip ID: F1\n", "DAC values of chip 0:\n", "THL: 400\n",
                             "Dig. bad pixels: 200\n", "ANIN dead pixels: 200\n", "Chip class: B\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    // The per-chip lines: each number followed by two blanks, the ANIN limits after one more.
    const std::pair<const char*, const char*> lines[] = {
        {"Dig. bad columns", "0  "},           {"Dig. bad pixels", "200  "},
        {"ANIN bad columns", "0  "},           {"ANIN dead pixels", "200  "},
        {"ANIN bad pixels", "0   (count < 950)"}, {"ANIN noisy pixels", "0   (count > 1050)"},
    };
    for (const auto& [name, value] : lines)
        EXPECT_EQ(rig.ui.results[name], value) << name;
    EXPECT_EQ(rig.device.dacs, (std::vector<uint16_t>{400, 100})) << "the ANIN scan gives the DACs back";
    EXPECT_EQ(rig.device.pixels, std::vector<uint8_t>(65536, 3)) << "and the pixels their test inputs";
    EXPECT_EQ(rig.device.locks.load(), rig.device.releases.load());
}

TEST(ProbeRunChipTest, BusyDeviceMissingEqualizerAndFailedScanReachNoClass)
{
    struct Case {
        const char* name;
        bool busy;
        bool withEqualizer;
        bool scanFails;
        const char* resultName;
        const char* result;
    } cases[] = {
        {"busy device", true, true, false, "Digital test", "Failed: Tarvik device is busy."},
        {"no equalizer", false, false, false, "DACs dep. scan", "Start of Dependency scan failed."},
        {"scan failed", false, true, true, "DACs dep. scan", "Failed: the scan broke"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.device.busy = c.busy;
        rig.device.withEqualizer = c.withEqualizer;
        rig.device.scanFails = c.scanFails;
        EXPECT_EQ(rig.run(), 0) << c.name;
        EXPECT_EQ(rig.ui.results[c.resultName], c.result) << c.name;
        EXPECT_EQ(rig.ui.last.mapText, "X\n") << c.name;
        EXPECT_EQ(rig.ui.last.classCounts[5], 1) << c.name;
        EXPECT_EQ(rig.device.locks.load(), rig.device.releases.load()) << c.name << ": a lock not given back";
        EXPECT_EQ(rig.device.pulseAcqs.load(), 0) << c.name;
    }
}

TEST(ProbeRunChipTest, PreviewShowsEachTestFrameOrTheTestRunsWithout)
{
    // Frame 1 is the digital test that prepares the DAQ-card device; the chip test's are 2 (digital) and 3 (ANIN).
    const std::vector<std::string> shown = {"PrevWndCreateDevID 0", "PrevWndShow 5 1", "PrevWndShowTvkFrame 5 2",
                                            "PrevWndShowTvkFrame 5 3", "PrevWndDestroy 5"};
    struct Case {
        const char* name;
        int showPreview;
        bool withPreview;
        std::vector<std::string> calls;
        bool missingLine;
    } cases[] = {
        {"shown", 1, true, shown, false},
        {"not asked for", 0, true, {}, false},
        {"no preview plug-in", 1, false, {}, true},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.cfg.chip.showPreview = c.showPreview;
        rig.device.withPreview = c.withPreview;
        EXPECT_EQ(rig.run(), 0) << c.name;
        EXPECT_EQ(rig.device.previewCalls, c.calls) << c.name;
        EXPECT_EQ(rig.ui.results.count("Preview"), c.missingLine ? 1u : 0u) << c.name;
        EXPECT_EQ(rig.ui.last.mapText, "A\n") << c.name << ": the test runs on";
    }
}

TEST(ProbeRunStart, RefusedSettings)
{
    struct Case {
        const char* outputDir;
        const char* wafer;
        bool refused;
    } cases[] = {{"/tmp", "W1", false}, {"", "W1", true}, {"/tmp", "", true}, {"/tmp", "../W1", true}, {"/tmp", "a/b", true}};
    for (const Case& c : cases) {
        RunConfig cfg;
        cfg.chip.outputDir = c.outputDir;
        cfg.waferName = c.wafer;
        EXPECT_EQ(!refusalOf(cfg).empty(), c.refused) << c.outputDir << " " << c.wafer;
    }
}
