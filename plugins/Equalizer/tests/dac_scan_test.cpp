#include "model_rig.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dac_scan.h"
#include "platform/numbers.h"

namespace {

using equalizer::DacScan;
using eqtest::FakeFrames;
using eqtest::ModelRig;

constexpr uint32_t kChipPixels = 65536;
constexpr int kThl = 8; // chip type 1

std::vector<uint16_t> deviceDacs(const ModelRig& rig, int count)
{
    std::vector<uint16_t> dacs(static_cast<size_t>(count));
    EXPECT_EQ(rig.table()->tvkCtrlGetDACs(0, dacs.data(), count, -1), 0);
    return dacs;
}

// A file in the scratch folder of the running test (one folder a test).
std::string scratchFile(const std::string& name)
{
    static std::map<std::string, std::string> folders;
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    auto it = folders.find(test);
    if (it == folders.end())
        it = folders.emplace(test, ombrel_test::scratchDir("dacscan-" + test)).first;
    return it->second + "/" + name;
}

TEST(DacScanMedians, MatchTheSortedElements)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> count(0, 3000);
    std::vector<uint16_t> counts(kChipPixels);
    for (uint16_t& c : counts)
        c = static_cast<uint16_t>(count(rng));
    for (int enabledEvery : {1, 3, 65537}) {
        SCOPED_TRACE(enabledEvery);
        std::vector<uint8_t> cfg(kChipPixels, 0);
        for (uint32_t j = 0; j < kChipPixels; j += static_cast<uint32_t>(enabledEvery))
            cfg[j] = 1;
        std::vector<uint16_t> sorted(counts);
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(equalizer::medianOfAll(counts.data()), sorted[32768]);
        std::vector<uint16_t> masked(counts);
        uint32_t n = 0;
        for (uint32_t j = 0; j < kChipPixels; ++j) {
            if (!(cfg[j] & 1))
                masked[j] = 0;
            n += cfg[j] & 1;
        }
        std::sort(masked.begin(), masked.end());
        const uint32_t expected = n < 1 ? 0 : masked[kChipPixels - n + n / 2];
        EXPECT_EQ(equalizer::medianOfEnabled(counts.data(), cfg.data()), expected);
    }
    // The median is taken on the scan's own histogram: the counts stay as they were.
    const std::vector<uint16_t> copy(counts);
    equalizer::medianOfAll(counts.data());
    EXPECT_EQ(counts, copy);
}

TEST(DacScan, RangeIsRefusedOrStoredWithItsDirection)
{
    ModelRig rig("[Model]\n");
    DacScan scan;
    ASSERT_EQ(scan.setUp(rig.table(), 0, nullptr), 0);
    struct Case {
        int to, followIndex, scanned, from, step;
        bool follow;
        int result;
        int steps;
    };
    const Case cases[] = {
        {100, 0, kThl, 100, 5, false, 0, 1},   // from = to: one step
        {10, 0, kThl, 100, 30, false, 0, 4},   // downward: 100 70 40 10
        {100, 0, kThl, 10, 30, false, 0, 4},   // upward, the last step below to
        {256, 0, kThl, 10, 5, false, -1, 0},   // to above the largest value
        {100, 0, kThl, 256, 5, false, -1, 0},  // from above the largest value
        {-1, 0, kThl, 10, 5, false, -1, 0},
        {100, 0, kThl, -1, 5, false, -1, 0},
        {100, 0, kThl, 10, 0, false, -1, 0},
        {100, 0, 13, 10, 5, false, -1, 0},     // no such DAC
        {100, 13, kThl, 10, 5, true, -1, 0},   // no such following DAC
        // A step far beyond the range is one step, not an overflow of (range + step).
        {255, 0, kThl, 0, std::numeric_limits<int>::max(), false, 0, 1},
        {0, 0, kThl, 255, std::numeric_limits<int>::max(), false, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << ".." << c.to << " by " << c.step);
        EXPECT_EQ(scan.setRange(c.to, c.followIndex, c.scanned, c.from, c.step, c.follow, 3), c.result);
        if (c.result == 0) {
            EXPECT_EQ(scan.stepCount(), c.steps);
        }
    }
}

TEST(DacScan, FileNamesCarryTheValueAndTheAcquisition)
{
    ModelRig rig("[Model]\n");
    DacScan scan;
    ASSERT_EQ(scan.setUp(rig.table(), 0, nullptr), 0);
    ASSERT_EQ(scan.setRange(120, 0, kThl, 5, 1, false, 0), 0);
    ASSERT_EQ(scan.setOutput("/data/run.1/scan.bin", 1, false), 0);
    scan.setAcquisition(12, 0.01, 1, false);
    EXPECT_EQ(scan.fileName(7, 3), "/data/run.1/scan_THL_007_03.bin");
    scan.setAcquisition(1, 0.01, 1, false);
    EXPECT_EQ(scan.fileName(7, 0), "/data/run.1/scan_THL_007.bin");
    ASSERT_EQ(scan.setRange(0, 7, kThl, 0, 1, true, -4), 0); // follows: THH at THL - 4
    ASSERT_EQ(scan.setOutput("/data/run.1/scan", 1, false), 0);
    EXPECT_EQ(scan.fileName(0, 0), "/data/run.1/scan_THL-w-4THH_0");
}

// A scan with integration and a log: each step's integrated frame holds that step's counts only, the log
// has its header and a line per step, and the device gets back its DACs, spacing and conversion.
TEST(DacScan, IntegratedStepsLogAndRestore)
{
    ModelRig rig("[Model]\nChips=1\nType=1\n");
    const _MgrFuncTable* t = rig.table();
    ASSERT_EQ(t->tvkCtrlSetAcqSpacing(0, 2), 0);
    const std::vector<uint16_t> dacs = deviceDacs(rig, 13);
    DacScan scan;
    int progress = 0;
    ASSERT_EQ(scan.setUp(t, 0, [&](unsigned m) { progress += m == equalizer::kMsgScanProgress; }), 0);
    ASSERT_EQ(scan.setRange(140, 0, kThl, 100, 10, false, 0), 0);
    const std::string out = scratchFile("scan.bin");
    ASSERT_EQ(scan.setOutput(out, 1, true), 0);
    scan.setAcquisition(2, 1e-6, 1, true);
    ASSERT_EQ(scan.run(), 0);
    EXPECT_EQ(progress, 10);

    ASSERT_EQ(scan.runCount(), 1);
    ASSERT_EQ(scan.pointCount(0), 5);
    EXPECT_EQ(scan.firstValue(0), 100);
    EXPECT_EQ(scan.runStep(0), 10);
    const auto& saved = FakeFrames::instance().saved;
    ASSERT_EQ(saved.size(), 5u);
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(saved[static_cast<size_t>(k)].first, scratchFile("scan_THL_" + std::to_string(100 + 10 * k) + ".bin"));
        const auto& data = saved[static_cast<size_t>(k)].second;
        EXPECT_EQ(std::accumulate(data.begin(), data.end(), int64_t{0}), scan.value(0, k, 0, 2, false, false));
    }
    EXPECT_EQ(FakeFrames::instance().closed, 1);

    const std::string log = ombrel_test::readFile(scratchFile("scan.log"));
    EXPECT_EQ(log.rfind("#\tFBK\tTHL\tTHL-FBK\t\tStdDev\t\tTHH\tTHH-FBK\t\tStdDev\t\tAcq time\n", 0), 0u);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6);
    EXPECT_NE(log.find("\n5\t255\t140\t-0.6765\t\t0.0000\t\t0\t-1.5000\t\t0.0000\t\t1e-06 (2x)\n"), std::string::npos)
        << log;

    EXPECT_EQ(deviceDacs(rig, 13), dacs);
    int spacing = 0, conv = 0;
    t->tvkCtrlGetAcqSpacing(0, &spacing);
    t->tvkCtrlGetAutoConvToSM(0, &conv);
    EXPECT_EQ(spacing, 2);
    EXPECT_EQ(conv, 1);
}

int openDescriptors()
{
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

// The ".log" file of each chip type: its header, then per step the DAC settings of chip 0 (the coarse
// setting after the fine one on types 2 and 3) and the analog differences, in the C locale whatever the
// user's (this test also runs under a comma locale).
TEST(DacScan, LogFilePerChipType)
{
    struct Case {
        int chipType;
        int dacCount, thl;
        const char* log;
    };
    const Case cases[] = {
        // THL 100 and 110 read back as value x 1.5 V / largest value, FBK at its default, THH off (0).
        {1, 13, 8,
         "#\tFBK\tTHL\tTHL-FBK\t\tStdDev\t\tTHH\tTHH-FBK\t\tStdDev\t\tAcq time\n"
            "1\t255\t100\t-0.9118\t\t0.0000\t\t0\t-1.5000\t\t0.0000\t\t0.5 (1x)\n"
            "2\t255\t110\t-0.8529\t\t0.0000\t\t0\t-1.5000\t\t0.0000\t\t0.5 (1x)\n"},
        {2, 15, 6,
         "#\tFBK\tTHL coarse\tTHL\tTHL-FBK\t\tStdDev\t\tTHH coarse\tTHH\tTHH-FBK\t\tStdDev\t\tAcq time\n"
            "1\t128\t7\t100\t-0.6063\t\t0.0000\t\t0\t0\t-0.7529\t\t0.0000\t\t0.5 (1x)\n"
            "2\t128\t7\t110\t-0.5917\t\t0.0000\t\t0\t0\t-0.7529\t\t0.0000\t\t0.5 (1x)\n"},
        {3, 14, 6,
         "#\tFBK\tTHL coarse\tTHL\tTHL-FBK\t\tStdDev\t\tAcq time\n"
            "1\t128\t7\t100\t-0.6063\t\t0.0000\t\t0.5 (1x)\n"
            "2\t128\t7\t110\t-0.5917\t\t0.0000\t\t0.5 (1x)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chipType);
        ModelRig rig("[Model]\nChips=1\nType=" + std::to_string(c.chipType) + "\n");
        DacScan scan;
        ASSERT_EQ(scan.setUp(rig.table(), 0, nullptr), 0);
        ASSERT_EQ(scan.setRange(110, 0, c.thl, 100, 10, false, 0), 0);
        const std::string out = scratchFile("type" + std::to_string(c.chipType) + ".txt");
        ASSERT_EQ(scan.setOutput(out, 0, true), 0);
        scan.setAcquisition(1, 0.5, 1, false);
        ASSERT_EQ(scan.run(), 0);
        EXPECT_EQ(ombrel_test::readFile(scratchFile("type" + std::to_string(c.chipType) + ".log")), c.log);
    }
}

TEST(DacScan, FailureOrAbortKeepsThePointsAndRestores)
{
    struct Case {
        const char* function;
        int k;
        bool abortAtSecond;
        int result;
        const char* message;
        int points;
    };
    const Case cases[] = {
        {"hwReadMatrix", 3, false, -1, "equalizer: Perform acq. failed, aborting operation.", 2},
        {"hwSetTvkDACs", 5, false, -1, "equalizer: Setting DACs failed, aborting operation.", 1}, // 4 calls a step
        {nullptr, 0, true, equalizer::kScanAborted, nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function ? c.function : "abort");
        ModelRig rig("[Model]\nChips=1\nType=1\n");
        const std::vector<uint16_t> dacs = deviceDacs(rig, 13);
        DacScan scan;
        int progress = 0;
        ASSERT_EQ(scan.setUp(rig.table(), 0,
                             [&](unsigned) {
                                 if (++progress == 2 && c.abortAtSecond)
                                     scan.abort();
                             }),
                  0);
        ASSERT_EQ(scan.setRange(140, 0, kThl, 100, 10, false, 0), 0);
        ASSERT_EQ(scan.setOutput(scratchFile("f.txt"), 0, true), 0);
        scan.setAcquisition(2, 1e-6, 1, false);
        if (c.function) {
            ASSERT_EQ(rig.model<ModelFailAtFn>("modelFailAt")(0, c.function, c.k), 0);
        }
        const int descriptors = openDescriptors();
        EXPECT_EQ(scan.run(), c.result);
        EXPECT_EQ(openDescriptors(), descriptors); // the ".log" file is closed on every exit
        if (c.message) {
            ASSERT_FALSE(ModelRig::log().empty());
            EXPECT_EQ(ModelRig::log().back(), c.message);
        }
        EXPECT_EQ(scan.pointCount(0), c.points);
        EXPECT_EQ(deviceDacs(rig, 13), dacs);
    }
}

// The history is laid out by chips: after the device changed to another chip count (a new set-up), the
// runs of the old count go, and the new run reads back as itself on every chip.
TEST(DacScan, HistoryFollowsTheChipCountOfTheDevice)
{
    DacScan scan;
    const struct {
        const char* model;
        int from, chips;
    } devices[] = {{"[Model]\nChips=1\nType=1\n", 100, 1}, {"[Model]\nChips=4\nType=1\n", 50, 4}};
    for (const auto& d : devices) {
        SCOPED_TRACE(d.chips);
        ModelRig rig(d.model);
        ASSERT_EQ(scan.setUp(rig.table(), 0, nullptr), 0);
        ASSERT_EQ(scan.setRange(d.from + 10, 0, kThl, d.from, 10, false, 0), 0);
        ASSERT_EQ(scan.setOutput(scratchFile("chips.txt"), 0, false), 0);
        scan.setAcquisition(1, 1e-6, 1, false);
        ASSERT_EQ(scan.run(), 0);
        ASSERT_EQ(scan.runCount(), 1);
        EXPECT_EQ(scan.pointCount(0), 2);
        EXPECT_EQ(scan.firstValue(0), d.from);
        EXPECT_EQ(scan.runStep(0), 10);
        for (int chip = 0; chip < d.chips; ++chip)
            EXPECT_GT(scan.value(0, 1, chip, 1, false, false), 0.0) << "chip " << chip;
    }
}

// An abort ends a long acquisition at once (not after its time): the device is told to abort, and the
// acquisition it ends makes the run aborted, not failed, with the original DACs back. The acquisition here
// lasts until the device is told (20 s at most).
std::atomic<bool> g_deviceAborted{false};

TEST(DacScan, AbortEndsTheRunningAcquisition)
{
    ModelRig rig("[Model]\nChips=1\nType=1\n");
    const std::vector<uint16_t> dacs = deviceDacs(rig, 13);
    _MgrFuncTable table = *rig.table();
    g_deviceAborted = false;
    table.tvkCtrlPerformFrameAcq = [](unsigned, int, double, uint32_t, const char*) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!g_deviceAborted && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return g_deviceAborted ? -1 : 0;
    };
    table.tvkCtrlAbortOperation = [](unsigned) {
        g_deviceAborted = true;
        return 0;
    };
    DacScan idle;
    ASSERT_EQ(idle.setUp(&table, 0, nullptr), 0);
    idle.abort(); // no run: the device is not told (it may be another tool's)
    EXPECT_FALSE(g_deviceAborted);
    DacScan scan;
    ASSERT_EQ(scan.setUp(&table, 0, nullptr), 0);
    ASSERT_EQ(scan.setRange(110, 0, kThl, 100, 10, false, 0), 0);
    ASSERT_EQ(scan.setOutput(scratchFile("long.txt"), 0, false), 0);
    scan.setAcquisition(3, 20.0, 1, false);
    const auto start = std::chrono::steady_clock::now();
    int result = 1;
    std::thread worker([&] { result = scan.run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    scan.abort();
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result, equalizer::kScanAborted);
    const std::vector<std::string> log = ModelRig::log();
    EXPECT_EQ(std::find(log.begin(), log.end(), "equalizer: Perform acq. failed, aborting operation."), log.end());
    EXPECT_EQ(deviceDacs(rig, 13), dacs);
}

// A device call that fails anywhere in a run is told in the log, not only by the run's result: the window
// says "see the log". A failed analog reading for the ".log" file is told too while the scan goes on. A step
// beyond the range scans the from value once.
TEST(DacScan, EveryFailureIsLogged)
{
    using Table = _MgrFuncTable;
    struct Case {
        const char* name;
        void (*breakIt)(Table&);
        bool integrate;
        int result;
        const char* message;
    };
    const Case cases[] = {
        {"DACs", [](Table& t) { t.tvkCtrlGetDACs = [](unsigned, uint16_t*, int, int) { return -3; }; }, false, -1,
         "equalizer: Cannot get DACs, aborting operation."},
        {"pixel cfgs", [](Table& t) { t.tvkCtrlGetPixelsCfg = [](unsigned, uint8_t*, uint32_t, int) { return -3; }; },
         false, -1, "equalizer: Cannot get pixel cfgs, aborting operation."},
        {"spacing", [](Table& t) { t.tvkCtrlSetAcqSpacing = [](unsigned, int) { return -3; }; }, false, -1,
         "equalizer: Setting acquisition spacing failed, aborting operation."},
        {"integration frame",
         [](Table& t) { t.mgrCreateFrame = [](uint32_t*, uint32_t, uint32_t, int, const char*) { return -3; }; }, true,
         -1, "equalizer: Cannot create integration frame, aborting operation."},
        {"analog",
         [](Table& t) { t.tvkCtrlGetSingleDACAnalog = [](unsigned, double*, int, int, int, int) { return -3; }; },
         false, 0, "equalizer: Reading the analog value of DAC THL failed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelRig rig("[Model]\nChips=1\nType=1\n");
        Table table = *rig.table();
        c.breakIt(table);
        DacScan scan;
        ASSERT_EQ(scan.setUp(&table, 0, nullptr), 0);
        ASSERT_EQ(scan.setRange(0, 0, kThl, 100, std::numeric_limits<int>::max(), false, 0), 0);
        ASSERT_EQ(scan.setOutput(scratchFile(std::string(c.name) + ".txt"), 0, true), 0);
        scan.setAcquisition(1, 1e-6, 1, c.integrate);
        EXPECT_EQ(scan.run(), c.result);
        const std::vector<std::string> log = ModelRig::log();
        EXPECT_NE(std::find(log.begin(), log.end(), c.message), log.end()) << testing::PrintToString(log);
        if (c.result == 0) {
            ASSERT_EQ(scan.pointCount(0), 1);
            EXPECT_EQ(scan.firstValue(0), 100);
        }
    }
}

TEST(DacScan, ResultsWithHeaderAndDifferences)
{
    ModelRig rig("[Model]\nChips=1\nType=1\n");
    DacScan scan;
    ASSERT_EQ(scan.setUp(rig.table(), 0, nullptr), 0);
    ASSERT_EQ(scan.setRange(120, 0, kThl, 100, 10, false, 0), 0);
    scan.setAcquisition(1, 1e-6, 1, false);
    ASSERT_EQ(scan.run(), 0);
    const std::string path = scratchFile("results.txt");
    ASSERT_EQ(scan.writeResults(path, 2, false, true, true), 0);
    const std::string text = ombrel_test::readFile(path);
    const std::string d1 = plat::formatGeneral(scan.value(0, 1, 0, 2, false, true), 5);
    const std::string d2 = plat::formatGeneral(scan.value(0, 2, 0, 2, false, true), 5);
    EXPECT_EQ(text, "100\t110\t120\n0\t" + d1 + "\t" + d2 + "\n\n");
    EXPECT_EQ(scan.writeResults("/nonexistent-folder/r.txt", 2, false, true, true), -1);
    EXPECT_EQ(ModelRig::log().back(), "equalizer: Cannot open file /nonexistent-folder/r.txt for writing scan results.");
}

} // namespace
