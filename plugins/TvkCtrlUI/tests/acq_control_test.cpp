// The acquisition worker: its file names, the [Main] settings, and series run on the simulated detector
// through a running manager (raw and filtered outputs, repeats, abort, progress, other clients).
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "acq_control.h"
#include "ctrl_app.h"
#include "ctrl_settings.h"
#include "ombrel_test_support.h"
#include "pluginfw/file_names.h"

namespace {

using ctrl_test::CtrlApp;
namespace fs = std::filesystem;

TEST(TaggedFileName, Cases)
{
    struct Case {
        const char* base;
        const char* prefix;
        int index, digits;
        const char* suffix;
        const char* expected;
    } cases[] = {
        {"d.txt", "_r", 1, 1, "_", "d_r1_.txt"},
        {"d.txt", "_r", 3, 2, "", "d_r03.txt"},
        {"d.txt", "_r", 10, 2, "", "d_r10.txt"},
        {"d.txt", "_r", 123, 2, "", "d_r123.txt"},            // digits are a minimum
        {"/data.set/frame", "_r", 3, 1, "", "/data.set/frame_r3"}, // the dot of a folder is no extension
        {"/a/b.tar.gz", "", 7, 3, "", "/a/b.tar007.gz"},
        {"noext", "", 0, 1, "", "noext0"},
        {"d.txt", "_r", -1, 1, "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(makeTaggedFileName(c.base, c.prefix, c.index, c.digits, c.suffix), c.expected) << c.base;

    // With empty prefix and suffix it is the shared indexed name.
    char indexed[512];
    ASSERT_NE(makeIndexedFileName(indexed, "/x/frame.txt", 5, 3), nullptr);
    EXPECT_EQ(makeTaggedFileName("/x/frame.txt", "", 5, 3, ""), indexed);

    // A name of 511 characters fits, one more does not.
    const std::string fits(506, 'a');
    EXPECT_EQ(makeTaggedFileName(fits + ".txt", "", 0, 0, "").size(), 511u) << "digits 0 still write the index";
    EXPECT_EQ(makeTaggedFileName(fits + ".txt", "_r", 1, 1, ""), "");
}

TEST(TaggedFileName, DecimalDigits)
{
    const std::pair<uint64_t, int> cases[] = {{0, 1}, {9, 1}, {10, 2}, {99, 2}, {100, 3}, {999, 3},
                                              {1000, 4}, {999999999, 9}, {1000000000, 10}};
    for (auto [value, digits] : cases)
        EXPECT_EQ(decimalDigits(value), digits) << value;
}

TEST(PlannedOutputNames, WhatASeriesWrites)
{
    auto settings = [](int type, int count, int repeat, uint32_t repeatCount, uint32_t flags, const char* name) {
        AcqSettings s;
        s.acqType = type;
        s.acqCount = count;
        s.repeat = repeat;
        s.repeatCount = repeatCount;
        s.fileFlags = flags;
        s.fileName = name;
        return s;
    };
    using V = std::vector<std::string>;
    struct Case {
        const char* what;
        AcqSettings s;
        V expected;
    } cases[] = {
        {"one frame", settings(0, 1, 0, 0, 2, "d.txt"), V{"d.txt"}},
        {"frames with repeats", settings(0, 2, 1, 2, 2, "d.txt"),
         V{"d0.txt", "d1.txt", "d_r1_0.txt", "d_r1_1.txt", "d_r2_0.txt", "d_r2_1.txt"}},
        {"twelve frames", settings(0, 12, 0, 0, 2, "data.txt"),
         V{"data00.txt", "data01.txt", "data02.txt", "data03.txt", "data04.txt", "data05.txt", "data06.txt",
           "data07.txt", "data08.txt", "data09.txt", "data10.txt", "data11.txt"}},
        {"integral", settings(1, 3, 1, 1, 2, "d.txt"), V{"d.txt", "d_r1.txt"}},
        {"one frame repeated", settings(0, 1, 1, 1, 2, "d.txt"), V{"d.txt", "d_r1_.txt"}},
        {"repeat off keeps one run", settings(0, 1, 0, 5, 2, "d.txt"), V{"d.txt"}},
        {"no file", settings(0, 1, 0, 0, 0x8000, "d.txt"), V{}},
        {"raw output off", settings(0, 1, 0, 0, 0, "d.txt"), V{}},
        {"test pulses write no raw file", settings(2, 1, 0, 0, 2, "d.txt"), V{}},
        {"empty name", settings(0, 1, 0, 0, 2, ""), V{}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plannedOutputNames(c.s, true), c.expected) << c.what;

    AcqSettings endless = settings(0, 1, 1, 0, 2, "d.txt");
    const V names = plannedOutputNames(endless, true);
    ASSERT_EQ(names.size(), 10u) << "an endless series is followed to its 9th repetition";
    EXPECT_EQ(names[9], "d_r9_.txt");
    EXPECT_EQ(plannedOutputNames(settings(0, 100000, 0, 0, 2, "d.txt"), true, 10000).size(), 10000u);

    AcqSettings filtered = settings(2, 5, 0, 0, 0, "");
    filtered.filtFileName = "f.txt";
    filtered.filtFlags = 2;
    EXPECT_EQ(plannedOutputNames(filtered, false), V{}) << "no chain chosen";
    filtered.filterChainId = 7;
    EXPECT_EQ(plannedOutputNames(filtered, false), V{"f.txt"}) << "a test-pulse run gives one filtered frame";
}

TEST(OutputNamesProblem, NoNameNoFolderOrAFileBothOutputsWrite)
{
    const std::string d = ombrel_test::scratchDir("out-names");
    fs::create_directories(d + "/a");
    auto settings = [&d](int type, uint32_t flags, std::string name, uint32_t filtFlags, std::string filtName) {
        AcqSettings s;
        s.acqType = type;
        s.fileFlags = flags;
        s.fileName = name.empty() ? name : d + name;
        s.filterChainId = 3;
        s.filtFlags = filtFlags;
        s.filtFileName = filtName.empty() ? filtName : d + filtName;
        return s;
    };
    const std::string both = "The raw and the filtered output would both write the file " + d;
    struct Case {
        const char* what;
        AcqSettings s;
        std::string problem; // empty: the series may start
    } cases[] = {
        {"raw files without a name", settings(0, 2, "", 0, ""), "The file name is empty."},
        {"integral files without a name", settings(1, 1, "", 0, ""), "The file name is empty."},
        {"No file needs no name", settings(0, 0x8000, "", 0, ""), ""},
        {"To files off needs no name", settings(0, 0, "", 0, ""), ""},
        {"test pulses write no raw file", settings(2, 2, "", 0, ""), ""},
        {"different names", settings(0, 2, "/raw.txt", 2, "/filt.txt"), ""},
        {"raw folder missing", settings(0, 2, "/none/raw.txt", 2, "/filt.txt"), "The folder " + d + "/none does not exist."},
        {"filtered folder missing", settings(0, 2, "/raw.txt", 2, "/none/f.txt"), "The folder " + d + "/none does not exist."},
        {"No file needs no folder", settings(0, 0x8000, "/none/raw.txt", 0x8000, "/none/f.txt"), ""},
        {"a folder as the raw name", settings(0, 2, "/a", 0, ""), "The file name " + d + "/a is a folder."},
        {"a folder as the filtered name", settings(0, 0, "", 2, "/a/"), "The file name " + d + "/a/ is a folder."},
        {"the same data file", settings(0, 2, "/x.txt", 1, "/x.txt"), both + "/x.txt."},
        {"the same file spelt twice", settings(0, 2, "/a/../x.txt", 2, "//x.txt"), both + "/x.txt."},
        {"the same description file", settings(0, 2, "/x.txt", 1, "/x.bin"), both + "/x.dsc."},
        {"no filtered description file", settings(0, 2, "/x.txt", 0x101, "/x.bin"), ""},
        {"no raw description file", settings(0, 0x102, "/x.txt", 1, "/x.bin"), ""},
        {"filtered No file", settings(0, 2, "/x.txt", 0x8000, "/x.txt"), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(outputNamesProblem(c.s), c.problem) << c.what;

    AcqSettings noChain = settings(0, 2, "/x.txt", 2, "/x.txt");
    noChain.filterChainId = 0;
    EXPECT_EQ(outputNamesProblem(noChain), "") << "no chain: no filtered output";
    // A repetition's raw name is the filtered base name.
    AcqSettings repeated = settings(0, 2, "/x.txt", 2, "/x_r1_.txt");
    repeated.repeat = 1;
    repeated.repeatCount = 1;
    EXPECT_EQ(outputNamesProblem(repeated), both + "/x_r1_.txt.");
}

// ---- settings ----

class MainSettings : public ::testing::Test {
protected:
    void SetUp() override { path_ = ombrel_test::scratchDir("ctrl-settings") + "/dev.ini"; }
    std::string path_;
};

TEST_F(MainSettings, RoundTripInOrder)
{
    CtrlSettings s;
    s.acq.refreshDacs = 0;
    s.acq.acqType = 1;
    s.acq.acqCount = 12;
    s.acq.acqTime = 0.123456789;
    s.acq.acqSpacing = 3;
    s.acq.fileName = "/data/run one.txt";
    s.acq.filtFileName = "/data/f.txt";
    s.acq.repeat = 1;
    s.acq.repeatCount = 1000000000;
    s.acq.currentDelay = 1.5;
    s.acq.delayFrom = 0.1;
    s.acq.delayTo = 2.25;
    s.acq.pulseCount = 250;
    s.acq.tpSpacing = 8;
    s.acq.pulseHeight = 0.3;
    s.acq.pulsePeriod = 1e-5;
    s.autostart = 0;
    s.loadSaveDacsWithPixCfg = 1;
    s.fileOutputMode = 3;
    s.filtOutputMode = 6;
    s.rawOutput = 1;
    s.filterChain = "Flat field";
    s.placementFlags = 2;
    s.showCmd = 3;
    s.left = -20;
    s.top = 40;
    s.right = 500;
    s.bottom = 600;
    ASSERT_EQ(s.save(path_), 0);

    const std::vector<std::string> order = {
        "RefreshDACs", "RefreshPixelsCfg", "AcqType", "AcqCount", "AcqTime", "AcqSpacing", "FileName",
        "FiltFileName", "Repeat", "RepeatCount", "RepeatDelay", "RepeatDelayFrom", "RepeatDelayTo", "PulseCount",
        "Spacing", "PulseHeight", "Period", "Autostart", "LoadSaveDacsWithPixCfg", "FileOutputMode",
        "FiltOutputMode", "RawOutput", "FilterChain", "Flags", "ShowCmd", "Left", "Top", "Right", "Bottom"};
    std::vector<std::string> written;
    for (const auto& [k, v] : s.entries())
        written.push_back(k);
    EXPECT_EQ(written, order);
    const std::string text = ombrel_test::readFile(path_);
    EXPECT_NE(text.find("AcqTime=0.123456789"), std::string::npos) << text;
    EXPECT_NE(text.find("Period=1e-05"), std::string::npos) << "no locale's decimal comma: " << text;

    CtrlSettings r;
    r.load(path_);
    EXPECT_EQ(r.right, 0) << "Right and Bottom are written only: the size is the window's own";
    r.right = s.right;
    r.bottom = s.bottom;
    EXPECT_EQ(r.entries(), s.entries());
    EXPECT_TRUE(r.hasPosition);
    EXPECT_EQ(readAutostart(path_), 0);
}

// A name pasted with a line break cannot go into the file; it alone is lost, and the loss is reported.
TEST_F(MainSettings, ALineBreakCostsOnlyItsOwnKey)
{
    CtrlSettings s;
    s.acq.acqCount = 12;
    s.acq.fileName = "/data/run\none.txt";
    s.filterChain = "Flat\r";
    s.acq.filtFileName = "/data/f.txt";
    std::string error;
    EXPECT_EQ(s.save(path_, &error), -2);
    EXPECT_NE(error.find("FileName, FilterChain"), std::string::npos) << error;
    CtrlSettings r;
    r.load(path_);
    EXPECT_EQ(r.acq.acqCount, 12);
    EXPECT_EQ(r.acq.filtFileName, "/data/f.txt");
    EXPECT_EQ(r.acq.fileName, "");
    EXPECT_EQ(r.filterChain, "");
}

TEST_F(MainSettings, ValuesBeyondTheEditsKeepDefaults)
{
    ASSERT_TRUE(ombrel_test::writeFile(path_, "[Main]\nAcqCount=0\nAcqTime=0\nAcqSpacing=65\nSpacing=0\n"
                                              "AcqType=3\nRepeatCount=1000000001\nRepeatDelayFrom=-3\n"
                                              "RepeatDelayTo=2e9\nFileOutputMode=7\nFiltOutputMode=-1\n"
                                              "PulseHeight=-1\nRepeat=5\nAutostart=x\nFileName=" +
                                                  std::string(600, 'n') + "\nShowCmd=12\nLeft=10\n"));
    CtrlSettings r;
    r.load(path_);
    const CtrlSettings d;
    EXPECT_EQ(r.acq.acqCount, d.acq.acqCount);
    EXPECT_EQ(r.acq.acqTime, d.acq.acqTime);
    EXPECT_EQ(r.acq.acqSpacing, d.acq.acqSpacing);
    EXPECT_EQ(r.acq.tpSpacing, d.acq.tpSpacing);
    EXPECT_EQ(r.acq.acqType, d.acq.acqType);
    EXPECT_EQ(r.acq.repeatCount, d.acq.repeatCount);
    EXPECT_EQ(r.acq.delayFrom, 0);
    EXPECT_EQ(r.acq.delayTo, 0);
    EXPECT_EQ(r.fileOutputMode, 0);
    EXPECT_EQ(r.filtOutputMode, 0);
    EXPECT_EQ(r.acq.pulseHeight, d.acq.pulseHeight);
    EXPECT_EQ(r.acq.repeat, 1) << "any non-zero value reads as 1";
    EXPECT_EQ(r.autostart, 1);
    EXPECT_EQ(r.acq.fileName, "");
    EXPECT_EQ(r.showCmd, 5);
    EXPECT_FALSE(r.hasPosition) << "Left without Top";

    // The delay edit takes a range with its ends either way round (the series draws between them).
    ASSERT_TRUE(ombrel_test::writeFile(path_, "[Main]\nRepeatDelayFrom=3\nRepeatDelayTo=1\n"));
    r.load(path_);
    EXPECT_EQ(r.acq.delayFrom, 3);
    EXPECT_EQ(r.acq.delayTo, 1);

    CtrlSettings none;
    none.load(path_ + ".missing");
    EXPECT_EQ(none.entries(), d.entries());
    EXPECT_EQ(readAutostart(path_ + ".missing"), 1);
}

// ---- series on the simulated detector ----

AcqControl* gWorker = nullptr; // the worker the device events of the test reach
std::atomic<int> gCompleted{0}; // "AcqCompleted" events seen, whoever acquired
void onAcqStarted(intptr_t) { if (gWorker) gWorker->noteFrameStarted(); }
void onAcqCompleted(intptr_t)
{
    ++gCompleted;
    if (gWorker)
        gWorker->noteFrameCompleted();
}

struct Recorder : AcqObserver {
    std::mutex m; // guards events
    std::vector<std::string> events;
    std::atomic<int> ended{0};
    std::function<void(int)> onStarting;
    void repetitionStarting(int k) override
    {
        { std::lock_guard l(m); events.push_back("start " + std::to_string(k)); }
        if (onStarting)
            onStarting(k);
    }
    void repetitionAcquiring(int k) override { std::lock_guard l(m); events.push_back("acquire " + std::to_string(k)); }
    void seriesEnded() override { std::lock_guard l(m); events.push_back("end"); ++ended; }
};

int passFilter(void*, const _FuncSlot*, void* const*) { return 0; }
int failFilter(void*, const _FuncSlot*, void* const*) { return -1; }

class Series : public CtrlApp {
protected:
    void SetUp() override
    {
        startManager();
        t_->mgrRegisterCallback("tvkctrl", "AcqStarted", onAcqStarted);
        t_->mgrRegisterCallback("tvkctrl", "AcqCompleted", onAcqCompleted);
        worker_ = std::make_unique<AcqControl>(t_);
        worker_->setDevIndex(0);
        worker_->setObserver(&recorder_);
        gWorker = worker_.get();
        gCompleted = 0;
        AcqSettings& s = worker_->settings();
        s.acqTime = 1e-6;
        s.refreshDacs = s.refreshPixCfg = 0;
    }
    void TearDown() override
    {
        if (worker_) {
            worker_->requestAbort();
            waitForThread(*worker_);
        }
        gWorker = nullptr;
        if (t_) {
            t_->mgrUnregisterCallback("tvkctrl", "AcqStarted", onAcqStarted);
            t_->mgrUnregisterCallback("tvkctrl", "AcqCompleted", onAcqCompleted);
        }
        worker_.reset();
        CtrlApp::TearDown();
    }
    void runSeries()
    {
        ASSERT_TRUE(worker_->startSeries());
        waitForThread(*worker_);
    }
    int makeChain(FuncItemCallback filter)
    {
        _FuncItem item{};
        item.callback = filter;
        std::snprintf(item.plugin, sizeof item.plugin, "prevtest_table");
        std::snprintf(item.function, sizeof item.function, filter == passFilter ? "Pass" : "Fail");
        item.flags = FUNC_FILTER;
        EXPECT_EQ(t_->mgrAddFuncItem(&item), 0);
        int chain = 0;
        EXPECT_EQ(t_->mgrCreateFilterChain("prevtest_table", "chain", &chain), 0);
        EXPECT_EQ(t_->mgrAddToFilterChain(chain, item.id, 0), 0);
        return chain;
    }
    std::string out(const char* name) const { return dir_ + "/out/" + name; }

    Recorder recorder_;
    std::unique_ptr<AcqControl> worker_;
};

std::vector<std::string> withDsc(std::vector<std::string> names)
{
    std::vector<std::string> all;
    for (const std::string& n : names) {
        all.push_back(n);
        all.push_back(n.substr(0, n.rfind('.')) + ".dsc");
    }
    std::sort(all.begin(), all.end());
    return all;
}

TEST_F(Series, FramesWithRepeatsWriteEveryNumberedName)
{
    AcqSettings& s = worker_->settings();
    s.acqCount = 2;
    s.fileFlags = 2;
    s.fileName = out("d.txt");
    s.repeat = 1;
    s.repeatCount = 2;
    runSeries();
    EXPECT_EQ(outFiles(), withDsc({"d0.txt", "d1.txt", "d_r1_0.txt", "d_r1_1.txt", "d_r2_0.txt", "d_r2_1.txt"}));
    EXPECT_EQ(recorder_.events, (std::vector<std::string>{"start 1", "acquire 1", "start 2", "acquire 2", "end"}));
    int spacing = 0;
    ASSERT_EQ(t_->tvkCtrlGetAcqSpacing(0, &spacing), 0);
    EXPECT_EQ(spacing, 1) << "the spacing goes back to 1 at the end";
    const AcqProgress p = worker_->getProgress();
    EXPECT_EQ(p.framesDone, 2);
    EXPECT_EQ(p.total, 1.0);
    EXPECT_EQ(p.frame, 1.0);
}

TEST_F(Series, IntegralWritesOneUnindexedFilePerRun)
{
    AcqSettings& s = worker_->settings();
    s.acqType = 1;
    s.acqCount = 3;
    s.fileFlags = 2;
    s.fileName = out("d.txt");
    s.repeat = 1;
    s.repeatCount = 1;
    runSeries();
    EXPECT_EQ(outFiles(), withDsc({"d.txt", "d_r1.txt"}));
}

TEST_F(Series, FilteredOutputPerFrame)
{
    AcqSettings& s = worker_->settings();
    s.acqCount = 2;
    s.filterChainId = makeChain(passFilter);
    s.filtFlags = 2;
    s.filtFileName = out("f.txt");
    s.repeat = 1;
    s.repeatCount = 1;
    const int frames = storedFrames();
    runSeries();
    EXPECT_EQ(outFiles(), withDsc({"f0.txt", "f1.txt", "f_r1_0.txt", "f_r1_1.txt"}));
    EXPECT_EQ(storedFrames(), frames + 2) << "every filtered copy is closed; the last acquisition's frames stay";

    // An integral run filters its one frame once, at its last exposure, under the unindexed name.
    fs::remove_all(dir_ + "/out");
    fs::create_directories(dir_ + "/out");
    s.acqType = 1;
    s.acqCount = 3;
    runSeries();
    EXPECT_EQ(outFiles(), withDsc({"f.txt", "f_r1.txt"}));
    EXPECT_TRUE(loggedLines().empty()) << loggedLines().front();
}

TEST_F(Series, FailingFilterWritesNothingAndLogsEachFrame)
{
    AcqSettings& s = worker_->settings();
    s.acqCount = 3;
    s.filterChainId = makeChain(failFilter);
    s.filtFlags = 2;
    s.filtFileName = out("f.txt");
    runSeries(); // the last acquisition's frames are in the store from here on
    const int frames = storedFrames();
    clearLog();
    runSeries();
    EXPECT_TRUE(outFiles().empty());
    EXPECT_EQ(storedFrames(), frames);
    EXPECT_EQ(loggedLines(), (std::vector<std::string>{"tvkctrlui: Failed to get filtered frame (number: 0)",
                                                       "tvkctrlui: Failed to get filtered frame (number: 1)",
                                                       "tvkctrlui: Failed to get filtered frame (number: 2)"}));
}

TEST_F(Series, NoFileOrEmptyNameRunsTheChainAndSavesNothing)
{
    AcqSettings& s = worker_->settings();
    s.filterChainId = makeChain(passFilter);
    for (auto [flags, name] : {std::pair<uint32_t, std::string>{0x8000, out("f.txt")}, {2u, ""}}) {
        s.filtFlags = flags;
        s.filtFileName = name;
        const int before = storedFrames();
        runSeries();
        EXPECT_TRUE(outFiles().empty()) << flags;
        EXPECT_LE(storedFrames(), before + 1) << "the filtered copy is closed";
        EXPECT_TRUE(loggedLines().empty());
    }
}

TEST_F(Series, NameTooLongWritesNoFile)
{
    AcqSettings& s = worker_->settings();
    s.fileFlags = 2;
    s.fileName = out("") + std::string(520, 'n') + ".txt";
    runSeries();
    EXPECT_TRUE(outFiles().empty());
    ASSERT_EQ(loggedLines().size(), 1u);
    EXPECT_NE(loggedLines()[0].find("File name too long"), std::string::npos);
}

TEST_F(Series, TestPulsesReportFullProgress)
{
    AcqSettings& s = worker_->settings();
    s.acqType = 2;
    s.acqCount = 5; // a test-pulse run makes one frame whatever the count
    s.pulseCount = 10;
    s.tpSpacing = 0; // below what the device takes: clamped to 1
    runSeries();
    const AcqProgress p = worker_->getProgress();
    EXPECT_EQ(p.total, 1.0);
    EXPECT_EQ(p.frame, 1.0);
    EXPECT_EQ(gCompleted.load(), 1);
}

TEST_F(Series, AbortInTheDelayEndsWithoutAnotherAcquisition)
{
    AcqSettings& s = worker_->settings();
    s.fileFlags = 2;
    s.fileName = out("d.txt");
    s.repeat = 1;
    s.repeatCount = 3;
    s.delayFrom = s.delayTo = 2.5;
    ASSERT_TRUE(worker_->startSeries());
    while (!worker_->waitingDelay() && worker_->isRunning())
        std::this_thread::yield();
    EXPECT_EQ(worker_->currentDelay(), 2.5) << "equal bounds are exact";
    worker_->requestAbort();
    waitForThread(*worker_);
    EXPECT_EQ(outFiles(), withDsc({"d.txt"}));
    EXPECT_EQ(recorder_.events, (std::vector<std::string>{"start 1", "end"}));
    int spacing = 0;
    t_->tvkCtrlGetAcqSpacing(0, &spacing);
    EXPECT_EQ(spacing, 1);
}

TEST_F(Series, RandomDelayStaysInItsRange)
{
    AcqSettings& s = worker_->settings();
    s.repeat = 1;
    s.repeatCount = 3;
    s.delayFrom = 0.001;
    s.delayTo = 0.003;
    std::vector<double> delays;
    recorder_.onStarting = [&](int) {};
    ASSERT_TRUE(worker_->startSeries());
    while (worker_->isRunning()) {
        if (worker_->waitingDelay())
            delays.push_back(worker_->currentDelay());
        std::this_thread::yield();
    }
    waitForThread(*worker_);
    for (double d : delays) {
        EXPECT_GE(d, 0.001);
        EXPECT_LE(d, 0.003);
    }
}

TEST_F(Series, AbortRacingTheStartNeverRunsOn)
{
    AcqSettings& s = worker_->settings();
    s.repeat = 1;
    s.repeatCount = 0; // until aborted
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(worker_->startSeries());
        if (i % 2)
            std::this_thread::yield();
        worker_->requestAbort();
        const int completedAtAbort = gCompleted;
        size_t eventsAtAbort = 0;
        {
            std::lock_guard l(recorder_.m);
            eventsAtAbort = recorder_.events.size();
        }
        waitForThread(*worker_);
        // A frame whose exposure was already over may still complete; nothing after it.
        EXPECT_LE(gCompleted - completedAtAbort, 1) << "round " << i;
        std::vector<std::string> later(recorder_.events.begin() + long(eventsAtAbort), recorder_.events.end());
        EXPECT_LE(std::count_if(later.begin(), later.end(), [](const std::string& e) { return e.rfind("acquire", 0) == 0; }),
                  1) << "round " << i << ": another run after the abort";
    }
    EXPECT_EQ(recorder_.ended.load(), 100);
}

// A fault that escapes an acquisition call (a hardware library's, translated into an exception) ends the
// thread with its report; the series still ends as its window knows it, with the spacing back to 1.
std::vector<std::string> gWorkerReports;

TEST_F(Series, AFaultInAnAcquisitionStillEndsTheSeries)
{
    gWorkerReports.clear();
    setWorkerLogSink([](const char*, const char* text, int) { gWorkerReports.push_back(text); });
    _MgrFuncTable faulty = *t_;
    faulty.tvkCtrlPerformFrameAcq = [](unsigned, int, double, uint32_t, const char*) -> int {
        throw std::runtime_error("fault in the hardware library");
    };
    AcqControl worker(&faulty);
    worker.setDevIndex(0);
    Recorder recorder;
    worker.setObserver(&recorder);
    AcqSettings& s = worker.settings();
    s.refreshDacs = s.refreshPixCfg = 0;
    s.acqSpacing = 2;
    s.repeat = 1; // until aborted, had it not failed
    ASSERT_TRUE(worker.startSeries());
    waitForThread(worker);
    EXPECT_EQ(worker.thread().exitCode(), -1);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"end"}));
    setWorkerLogSink(nullptr);
    EXPECT_EQ(gWorkerReports, (std::vector<std::string>{"Unhandled exception occurred in worker thread:\rfault in "
                                                         "the hardware library\rConsider restarting program."}));
    int spacing = 0;
    ASSERT_EQ(t_->tvkCtrlGetAcqSpacing(0, &spacing), 0);
    EXPECT_EQ(spacing, 1);
}

TEST_F(Series, AnotherClientsAcquisitionIsNotOurs)
{
    AcqSettings& s = worker_->settings();
    s.filterChainId = makeChain(passFilter);
    s.filtFlags = 2;
    s.filtFileName = out("f.txt");
    runSeries();
    ASSERT_EQ(outFiles(), withDsc({"f.txt"}));
    fs::remove_all(dir_ + "/out");
    fs::create_directories(dir_ + "/out");
    std::thread other([&] { EXPECT_EQ(t_->tvkCtrlPerformFrameAcq(0, 2, 1e-6, 0, nullptr), 0); });
    other.join();
    EXPECT_EQ(gCompleted.load(), 3);
    EXPECT_TRUE(outFiles().empty());
    EXPECT_EQ(worker_->getProgress().framesDone, 1) << "the counters are the worker's own";
}

} // namespace
