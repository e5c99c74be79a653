// The acquisition engine on the fake hardware library: the order of the callbacks, frames in memory and in
// files, the syncs of a saved series, spacing sub-masks on one and four chips, integral and test-pulse
// acquisitions, the digital test, abort, hardware failures, bad arguments, and the lifetime of acquired frames.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <unistd.h>

#include "acq_fixture.h"
#include "platform/file_write.h"
#include "platform/syserror.h"
#include "pluginfw/tvk_utils.h"
#include "sync_recorder.h"

using namespace acqtest;
using devtest::FakeControl;
using devtest::FakeDev;
using devtest::fakeIni;

namespace {

Recorder g_recorder;

std::string frameName(TvkFrameInfo* frame)
{
    char name[512] = "";
    frame->getName(name);
    return name;
}

void onFrameCreated(TvkFrameInfo* frame)
{
    // Announced before any data: the frame is still all zeros.
    std::vector<int16_t> data(512 * 512, -1);
    uint32_t size = static_cast<uint32_t>(data.size() * sizeof(int16_t));
    const bool zero = frame->getData(data.data(), &size, TYPE_I16) == 0 &&
                      std::all_of(data.begin(), data.begin() + size / 2, [](int16_t v) { return v == 0; });
    g_recorder.add("created " + frameName(frame) + (zero ? " empty" : " FILLED"));
}

void onAddAttribs(TvkFrameInfo* frame)
{
    _ExtFrameAttrib attrib{};
    int cursor = 0;
    int count = 0;
    for (int r = frame->getFirstAttrib(&cursor, &attrib); r == 0; r = frame->getNextAttrib(&cursor, &attrib))
        ++count;
    g_recorder.add("attribs " + frameName(frame) + " " + std::to_string(count));
}

void onAcqCompl(int devIndex)
{
    int done = -1;
    getAcqInfo(static_cast<unsigned>(devIndex), nullptr, nullptr, nullptr, &done);
    g_recorder.add("completed " + std::to_string(done));
}

TEST_F(AcqTest, MemoryFramesAreAnnouncedFilledAndCompletedInOrder)
{
    initWith({FakeDev()});
    g_recorder.take();
    setCbFrameCreated(&onFrameCreated);
    setCbAddAttribs(&onAddAttribs);
    setCbAcqCompl(&onAcqCompl);
    ASSERT_EQ(performFrameAcq(0, 3, 0.0, 0, nullptr), 0) << deviceMessage(0);
    // 11 standard attributes and the fake's 4 items marked for frames.
    const std::vector<std::string> expected = {
        "created Frame 0 empty", "attribs Frame 0 15", "completed 1",
        "created Frame 1 empty", "attribs Frame 1 15", "completed 2",
        "created Frame 2 empty", "attribs Frame 2 15", "completed 3"};
    EXPECT_EQ(g_recorder.take(), expected);
    int index = -1, count = -1, kind = -1, done = -1;
    ASSERT_EQ(getAcqInfo(0, &index, &count, &kind, &done), 0);
    EXPECT_EQ((std::vector<int>{index, count, kind, done}), (std::vector<int>{2, 3, 0, 3}));
    for (int f = 0; f < 3; ++f)
        EXPECT_EQ(frame16(0, f), fakeCounts(1, true));

    std::vector<uint32_t> wide(65536);
    ASSERT_EQ(getFrame32(0, wide.data(), 65536, 1), 0);
    EXPECT_EQ(wide[300], 300u % 251);
    std::vector<double> real(65536);
    ASSERT_EQ(getFrameDouble(0, real.data(), 65536, 2), 0);
    EXPECT_EQ(real[1000], 1000.0 - 3 * 251);
    uint32_t id = 99;
    ASSERT_EQ(getFrameID(0, 0, &id), 0);
    EXPECT_EQ(id, 0u); // no frame store gave it an id
}

TEST_F(AcqTest, FramesCarryTheStandardAndHardwareInfoAttributes)
{
    initWith({FakeDev(1, 2, "CB-7", "usbx")});
    ASSERT_EQ(setPolarity(0, 0), 0);
    ASSERT_EQ(setAcqMode(0, ACQMODE_TRIG_STOP), 0);
    ASSERT_EQ(setHwTimer(0, 1), 0);
    ASSERT_EQ(performFrameAcq(0, 1, 0.0, 0, nullptr), 0) << deviceMessage(0);
    const char** names = nullptr;
    const int* widths = nullptr;
    int dacCount = 0;
    ASSERT_EQ(getDACsNames(0, &names, &widths, &dacCount), 0);

    struct Case {
        const char* name;
        int type;
        uint32_t size;
    };
    const Case cases[] = {
        {"Tvk type", TYPE_I32, 4},       {"Interface", TYPE_UCHAR, 5},      {"ChipboardID", TYPE_UCHAR, 5},
        {"Tvk clock", TYPE_DOUBLE, 8},   {"Polarity", TYPE_I32, 4},         {"Hw timer", TYPE_I32, 4},
        {"Acq mode", TYPE_I32, 4},       {"DACs", TYPE_U16, 2u * static_cast<uint32_t>(dacCount)},
        {"Acq time", TYPE_DOUBLE, 8},    {"Start time", TYPE_DOUBLE, 8},    {"Start time (string)", TYPE_CHAR, 64},
        {"Bool item", TYPE_BOOL, 4},     {"I16 item", TYPE_I16, 4},         {"U32 item", TYPE_U32, 4},
        {"Double item", TYPE_DOUBLE, 8},
    };
    for (const Case& c : cases) {
        unsigned char value[2048] = {};
        uint32_t size = sizeof value;
        int type = -1;
        ASSERT_EQ(getFrameAttrib(0, 0, c.name, value, &size, &type), 0) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
    }
    auto i32 = [](const char* name) {
        int32_t v = -99;
        uint32_t size = sizeof v;
        EXPECT_EQ(getFrameAttrib(0, 0, name, &v, &size, nullptr), 0) << name;
        return v;
    };
    EXPECT_EQ(i32("Tvk type"), 2);
    EXPECT_EQ(i32("Polarity"), 0);
    EXPECT_EQ(i32("Hw timer"), 1);
    EXPECT_EQ(i32("Acq mode"), ACQMODE_TRIG_STOP);
    char text[64] = "";
    uint32_t size = sizeof text;
    ASSERT_EQ(getFrameAttrib(0, 0, "Interface", text, &size, nullptr), 0);
    EXPECT_STREQ(text, "usbx");
    size = sizeof text;
    ASSERT_EQ(getFrameAttrib(0, 0, "ChipboardID", text, &size, nullptr), 0);
    EXPECT_STREQ(text, "CB-7");
    double acqTime = 0, startTime = 0;
    size = sizeof acqTime;
    ASSERT_EQ(getFrameAttrib(0, 0, "Acq time", &acqTime, &size, nullptr), 0);
    size = sizeof startTime;
    ASSERT_EQ(getFrameAttrib(0, 0, "Start time", &startTime, &size, nullptr), 0);
    EXPECT_GE(acqTime, 0.0);
    EXPECT_NEAR(startTime, getPreciseTime() - acqTime, 60.0);
    // Items without the frame flag stay out.
    unsigned char value[64];
    size = sizeof value;
    EXPECT_EQ(getFrameAttrib(0, 0, "Char item", value, &size, nullptr), FRAME_ERR_NO_ATTRIB);
}

TEST_F(AcqTest, FileModeNumbersTheFilesAndReloadsThemOnRequest)
{
    initWith({FakeDev()});
    const std::string base = root() + "/series.bin";
    ASSERT_EQ(performFrameAcq(0, 12, 0.0, FSAVE_BINARY, base.c_str()), 0) << deviceMessage(0);
    for (int f = 0; f < 12; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "/series%02d.bin", f);
        EXPECT_TRUE(std::filesystem::exists(root() + name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(base));
    int kind = -1, done = -1;
    ASSERT_EQ(getAcqInfo(0, nullptr, nullptr, &kind, &done), 0);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(done, 12);
    // Each request loads its file again; a removed file is reported, the others still load.
    EXPECT_EQ(frame16(0, 1), fakeCounts(1, true));
    std::filesystem::remove(root() + "/series02.bin");
    std::vector<int16_t> data(65536);
    EXPECT_EQ(getFrame16(0, data.data(), 65536, 2), -5);
    EXPECT_EQ(frame16(0, 11), fakeCounts(1, true));

    const std::string single = root() + "/single.txt";
    ASSERT_EQ(performFrameAcq(0, 1, 0.0, FSAVE_ASCII, single.c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(single));
    EXPECT_EQ(frame16(0, 0), fakeCounts(1, true));
}

// In cbAcqCompl of a saved series: the frame's files are complete under their names (a subscriber may open
// them), and nothing has waited for the disk yet.
std::string g_seriesBase;
std::vector<std::string> g_seriesChecks;
void checkSeriesFiles(int devIndex)
{
    int done = 0;
    getAcqInfo(static_cast<unsigned>(devIndex), nullptr, nullptr, nullptr, &done);
    const std::string name = g_seriesBase + std::to_string(done - 1);
    TvkFrameInfo loaded;
    std::vector<int16_t> data(65536);
    uint32_t size = 65536 * 2;
    const bool complete = loaded.init((name + ".bin").c_str(), false) == 0 &&
                          loaded.getData(data.data(), &size, TYPE_I16) == 0 && data == fakeCounts(1, true);
    g_seriesChecks.push_back(std::to_string(done) + (complete ? " complete" : " NOT COMPLETE") + ", synced " +
                             std::to_string(ombrel_test::SyncRecorder::count()));
}

class SeriesSyncTest : public AcqTest {
protected:
    void SetUp() override
    {
        AcqTest::SetUp();
        syncs.take(); // what the set-up wrote
        g_seriesChecks.clear();
    }
    ombrel_test::SyncRecorder syncs;
};

// The numbered files of one call are put in place as they are done and synced once when the call ends:
// each file, then their folder once. A single save is synced before it returns.
TEST_F(SeriesSyncTest, SeriesFilesAreSyncedOnceWhenTheCallEnds)
{
    initWith({FakeDev()});
    g_seriesBase = root() + "/run";
    setCbAcqCompl(&checkSeriesFiles);
    ASSERT_EQ(performFrameAcq(0, 3, 0.0, FSAVE_BINARY, (g_seriesBase + ".bin").c_str()), 0) << deviceMessage(0);
    setCbAcqCompl(nullptr);
    EXPECT_EQ(g_seriesChecks,
              (std::vector<std::string>{"1 complete, synced 0", "2 complete, synced 0", "3 complete, synced 0"}));
    std::vector<std::string> synced = syncs.take();
    ASSERT_FALSE(synced.empty());
    EXPECT_EQ(synced.back(), root()) << "the folder last";
    synced.pop_back();
    std::sort(synced.begin(), synced.end());
    std::vector<std::string> files;
    for (int f = 0; f < 3; ++f)
        for (const char* extension : {".bin", ".dsc"})
            files.push_back(g_seriesBase + std::to_string(f) + extension);
    EXPECT_EQ(synced, files);

    // A single save syncs its two temporaries before it puts them in place, then their folder.
    ASSERT_EQ(saveFrame(0, (root() + "/single.bin").c_str(), 0, FSAVE_BINARY), 0) << deviceMessage(0);
    synced = syncs.take();
    ASSERT_EQ(synced.size(), 3u);
    EXPECT_EQ(synced[0].rfind(root() + "/single.bin.~tmp", 0), 0u) << synced[0];
    EXPECT_EQ(synced[1].rfind(root() + "/single.dsc.~tmp", 0), 0u) << synced[1];
    EXPECT_EQ(synced[2], root());
}

// A sync that fails at the end of the call is the call's failure, with the write-error code; the files
// are in place and every frame was done.
TEST_F(SeriesSyncTest, FailedSyncOfASeriesIsReported)
{
    initWith({FakeDev()});
    g_seriesBase = root() + "/run";
    syncs.failOn(g_seriesBase + "1.bin");
    EXPECT_EQ(performFrameAcq(0, 3, 0.0, FSAVE_BINARY, (g_seriesBase + ".bin").c_str()), TVK_ERR_WRITE);
    EXPECT_EQ(deviceMessage(0), "Error occurred while writing to file \"" + g_seriesBase +
                                    "1.bin\": " + plat::systemErrorText(EIO) + ".");
    int done = 0;
    ASSERT_EQ(getAcqInfo(0, nullptr, nullptr, nullptr, &done), 0);
    EXPECT_EQ(done, 3);
    for (int f = 0; f < 3; ++f)
        EXPECT_EQ(frame16(0, f), fakeCounts(1, true)) << f;
}

// In cbAcqCompl of a file-saving acquisition the acquiring thread gets the frame in hand, even when no file
// was written.
std::vector<int> g_inHandResults;
void readInHand(int devIndex)
{
    int done = 0;
    getAcqInfo(static_cast<unsigned>(devIndex), nullptr, nullptr, nullptr, &done);
    std::vector<int16_t> data(65536);
    g_inHandResults.push_back(getFrame16(static_cast<unsigned>(devIndex), data.data(), 65536, done - 1));
    g_inHandResults.push_back(data[260]);
}

TEST_F(AcqTest, TheFrameInHandIsReadDuringItsCompletion)
{
    initWith({FakeDev()});
    g_inHandResults.clear();
    setCbAcqCompl(&readInHand);
    const std::string name = root() + "/never.bin";
    ASSERT_EQ(performFrameAcq(0, 2, 0.0, FSAVE_NOFILE, name.c_str()), 0) << deviceMessage(0);
    EXPECT_EQ(g_inHandResults, (std::vector<int>{0, 260 % 251, 0, 260 % 251}));
    setCbAcqCompl(nullptr);
    std::vector<int16_t> data(65536);
    EXPECT_EQ(getFrame16(0, data.data(), 65536, 1), -5); // afterwards it would be loaded from its file
}

TEST_F(AcqTest, SpacingSplitsEveryExposureIntoPhasesAndKeepsTheFrame)
{
    struct Case {
        int chips;
        int autoConv;
        int spacing;
    };
    const Case cases[] = {{1, 1, 2}, {1, 1, 3}, {4, 1, 2}, {4, 1, 3}, {4, 0, 2}};
    initWith({FakeDev(1), FakeDev(4)});
    for (const Case& c : cases) {
        SCOPED_TRACE("chips " + std::to_string(c.chips) + " autoConv " + std::to_string(c.autoConv) + " spacing " +
                     std::to_string(c.spacing));
        const unsigned dev = c.chips == 4 ? 1 : 0;
        const uint32_t pixels = static_cast<uint32_t>(c.chips) * 65536;
        std::vector<uint8_t> before(pixels);
        ASSERT_EQ(getPixelsCfg(dev, before.data(), pixels, -1), 0);
        ASSERT_EQ(setAutoConvToSM(dev, c.autoConv), 0);
        ASSERT_EQ(setAcqSpacing(dev, c.spacing), 0);
        const int64_t starts = calls("hwStartAcquisition", static_cast<int>(dev));
        const int64_t configs = calls("hwSetPixelsCfg", static_cast<int>(dev));
        ASSERT_EQ(performFrameAcq(dev, 1, 0.0, 0, nullptr), 0) << deviceMessage(dev);
        const int64_t phases = c.spacing * c.spacing;
        EXPECT_EQ(calls("hwStartAcquisition", static_cast<int>(dev)) - starts, phases);
        EXPECT_EQ(calls("hwSetPixelsCfg", static_cast<int>(dev)) - configs, phases + 1); // sub-masks and restore
        // Every phase contributes its own pixels: the frame equals one whole exposure.
        EXPECT_EQ(frame16(dev, 0, pixels), fakeCounts(c.chips, c.autoConv != 0));
        std::vector<uint8_t> after(pixels);
        ASSERT_EQ(getPixelsCfg(dev, after.data(), pixels, -1), 0);
        EXPECT_EQ(after, before);
        std::vector<uint8_t> sent(pixels);
        ASSERT_EQ(control("fake").lastPixels(static_cast<int>(dev), sent.data(), pixels), 0);
        EXPECT_EQ(sent, before);
    }
}

TEST_F(AcqTest, IntegralSumsItsExposuresAndTheirTimes)
{
    initWith({FakeDev()});
    g_recorder.take();
    setCbAddAttribs(&onAddAttribs);
    setCbAcqCompl(&onAcqCompl);
    ASSERT_EQ(performIntegralAcq(0, 3, 0.02, 0, nullptr), 0) << deviceMessage(0);
    EXPECT_EQ(g_recorder.take(),
              (std::vector<std::string>{"completed 1", "completed 2", "completed 3", "attribs Integral 15"}));
    std::vector<uint32_t> sum(65536);
    ASSERT_EQ(getFrame32(0, sum.data(), 65536, 0), 0);
    for (uint32_t i = 0; i < 65536; i += 97)
        ASSERT_EQ(sum[i], 3 * (i % 251)) << i;
    double acqTime = 0;
    uint32_t size = sizeof acqTime;
    ASSERT_EQ(getFrameAttrib(0, 0, "Acq time", &acqTime, &size, nullptr), 0);
    EXPECT_GE(acqTime, 3 * 0.02);
    char startText[64] = "";
    size = sizeof startText;
    ASSERT_EQ(getFrameAttrib(0, 0, "Start time (string)", startText, &size, nullptr), 0);
    EXPECT_NE(startText[0], '\0');
    std::vector<int16_t> data(65536);
    EXPECT_EQ(getFrame16(0, data.data(), 65536, 1), -115);
    EXPECT_EQ(deviceMessage(0), "Frame 1 is not available, only integral frame ready.");

    const std::string file = root() + "/integral.txt";
    ASSERT_EQ(performIntegralAcq(0, 2, 0.0, FSAVE_ASCII, file.c_str()), 0);
    TvkFrameInfo loaded;
    ASSERT_EQ(loaded.init(file.c_str(), false), 0) << loaded.getLastErr();
    std::vector<uint32_t> fromFile(65536);
    size = 65536 * 4;
    ASSERT_EQ(loaded.getData(fromFile.data(), &size, TYPE_U32), 0);
    EXPECT_EQ(fromFile[1000], 2u * (1000 % 251));
}

TEST_F(AcqTest, TestPulsesRunOneSubAcquisitionPerPhase)
{
    struct Case {
        int chipType;
        int spacing;
        uint32_t columnMask;
        int64_t subAcquisitions;
    };
    // Chip types 2 and 3 select columns through the DACs and round the spacing up to a power of two.
    const Case cases[] = {{1, 3, 0, 9}, {2, 3, 0, 16}, {3, 5, 0, 64}, {2, 4, 0x0F0F, 1}, {1, 1, 0, 1}};
    initWith({FakeDev(1, 1), FakeDev(1, 2), FakeDev(1, 3)});
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.chipType) + " spacing " + std::to_string(c.spacing));
        const unsigned dev = static_cast<unsigned>(c.chipType - 1);
        std::vector<uint8_t> before(65536);
        ASSERT_EQ(getPixelsCfg(dev, before.data(), 65536, -1), 0);
        ASSERT_EQ(setAcqSpacing(dev, c.spacing), 0);
        const int64_t pulses = calls("hwTestPulses", static_cast<int>(dev));
        ASSERT_EQ(performTestPulseAcq(dev, 0.5, 0.0001, 10, c.columnMask), 0) << deviceMessage(dev);
        EXPECT_EQ(calls("hwTestPulses", static_cast<int>(dev)) - pulses, c.subAcquisitions);
        // The fake counts in every enabled pixel of each phase, so the phases add up to one read-out.
        if (c.columnMask == 0) {
            EXPECT_EQ(frame16(dev, 0), fakeCounts(1, true));
        }
        std::vector<uint8_t> after(65536);
        ASSERT_EQ(getPixelsCfg(dev, after.data(), 65536, -1), 0);
        EXPECT_EQ(after, before);
    }
}

TEST_F(AcqTest, DigitalTestReadsBackThePatternOnOneAndFourChips)
{
    initWith({FakeDev(1), FakeDev(4)});
    for (unsigned dev = 0; dev < 2; ++dev) {
        for (int autoConv = 0; autoConv <= 1; ++autoConv) {
            ASSERT_EQ(setAutoConvToSM(dev, autoConv), 0);
            int good = -1;
            ASSERT_EQ(performDigitalTest(dev, &good, nullptr, 1, 0.0), 0) << deviceMessage(dev);
            const uint32_t pixels = dev == 0 ? 65536 : 262144;
            EXPECT_EQ(good, static_cast<int>(pixels));
            EXPECT_EQ(frame16(dev, 0, pixels), std::vector<int16_t>(pixels, 0));
            int kind = -1, done = -1;
            ASSERT_EQ(getAcqInfo(dev, nullptr, nullptr, &kind, &done), 0);
            EXPECT_EQ(kind, 0);
            EXPECT_EQ(done, 1);
        }
    }
    // Without keeping it, the result leaves no acquisition behind.
    ASSERT_EQ(closeFrames(0), 0);
    int good = -1;
    ASSERT_EQ(performDigitalTest(0, &good, nullptr, 0, 0.001), 0);
    EXPECT_EQ(getAcqInfo(0, nullptr, nullptr, nullptr, nullptr), -1);
}

// cbAcqCompl that aborts the acquisition once two frames are done.
void abortAfterTwo(int devIndex)
{
    int done = 0;
    getAcqInfo(static_cast<unsigned>(devIndex), nullptr, nullptr, nullptr, &done);
    if (done == 2)
        abortOperation(static_cast<unsigned>(devIndex));
}

TEST_F(AcqTest, AbortDuringAFrameKeepsTheFramesDone)
{
    initWith({FakeDev()});
    setCbAcqCompl(&abortAfterTwo);
    EXPECT_EQ(performFrameAcq(0, 5, 0.0, 0, nullptr), -152);
    EXPECT_EQ(deviceMessage(0), "Acquisition aborted.");
    int index = -1, done = -1;
    ASSERT_EQ(getAcqInfo(0, &index, nullptr, nullptr, &done), 0);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(done, 2);
    EXPECT_EQ(frame16(0, 1), fakeCounts(1, true));
    std::vector<int16_t> data(65536);
    EXPECT_EQ(getFrame16(0, data.data(), 65536, 2), -115);
    EXPECT_EQ(deviceMessage(0), "Frame 2 is not ready, frame buffer size: 5 frames, filled: 2 frames.");
    // The largest frame count costs nothing before its frames exist.
    EXPECT_EQ(performFrameAcq(0, 2147483647, 0.0, 0, nullptr), -152);
    EXPECT_EQ(getFrame16(0, data.data(), 65536, 2), -115);
    EXPECT_EQ(deviceMessage(0), "Frame 2 is not ready, frame buffer size: 2147483647 frames, filled: 2 frames.");
    // The next acquisition starts afresh.
    setCbAcqCompl(nullptr);
    EXPECT_EQ(performFrameAcq(0, 1, 0.0, 0, nullptr), 0);
}

TEST_F(AcqTest, HardwareFailuresEndTheAcquisitionWithTheirCodeAndText)
{
    enum Kind { kFrames, kSpacedFrames, kIntegral, kPulses, kDigital };
    struct Case {
        const char* function;
        Kind kind;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"hwResetMatrix", kFrames, -156, "Resetting pixel matrix failed: "},
        {"hwSetAcqPars", kFrames, -2, "Settings acq. parameters failed: "},
        {"hwStartAcquisition", kFrames, -150, "Cannot start acquisition: "},
        {"hwStopAcquisition", kIntegral, -151, "Error occurred while stopping acquisition: "},
        {"hwCheckBusy", kFrames, -153, "Error occurred while checking busy state: "},
        {"hwReadMatrix", kFrames, -154, "Error occurred while reading-out matrix: "},
        {"hwSetPixelsCfg", kSpacedFrames, -158, "Pixel mask setting failed: "},
        {"hwTestPulses", kPulses, -157, "Test pulses failed: "},
        {"hwSetTvkDACs", kPulses, -160, "Error occurred while setting Tarvik DACs: "},
        {"hwWriteMatrix", kDigital, -155, "Error occurred while writing matrix to chip: "},
        {"hwReadMatrix", kDigital, -154, "Error occurred while reading-out matrix: "},
    };
    initWith({FakeDev(1, 2)});
    FakeControl& fake = control("fake");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        ASSERT_EQ(setAcqSpacing(0, c.kind == kSpacedFrames ? 2 : 1), 0);
        fake.set(0, (std::string("fail.") + c.function).c_str(), -7);
        int good = 0;
        const int r = c.kind == kIntegral  ? performIntegralAcq(0, 2, 0.0, 0, nullptr)
                      : c.kind == kPulses  ? performTestPulseAcq(0, 0.5, 0.0001, 5, 0)
                      : c.kind == kDigital ? performDigitalTest(0, &good, nullptr, 1, 0.0)
                                           : performFrameAcq(0, 2, 0.0, 0, nullptr);
        fake.set(0, (std::string("fail.") + c.function).c_str(), 0);
        EXPECT_EQ(r, c.code);
        EXPECT_EQ(deviceMessage(0), std::string(c.text) + "injected failure of " + c.function);
        ASSERT_EQ(setAcqSpacing(0, 1), 0);
        EXPECT_EQ(performFrameAcq(0, 1, 0.0, 0, nullptr), 0) << "works again: " << deviceMessage(0);
    }
}

TEST_F(AcqTest, BadArgumentsAreRefusedBeforeAnythingChanges)
{
    initWith({FakeDev()});
    ASSERT_EQ(performFrameAcq(0, 2, 0.0, 0, nullptr), 0);
    const int64_t resets = calls("hwResetMatrix");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        int frames;
        double time;
        uint32_t flags;
        const char* text;
    };
    const Case cases[] = {
        {0, 0.0, 0, "Invalid number of frames: 0."},
        {-3, 0.0, 0, "Invalid number of frames: -3."},
        {1, -1.0, 0, "Invalid acquisition time: -1 s."},
        {1, nan, 0, nullptr},
        {1, inf, 0, "Invalid acquisition time: inf s."},
        {1, 0.0, FSAVE_BINARY, "Filename must be supplied."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(performFrameAcq(0, c.frames, c.time, c.flags, nullptr), -2);
        EXPECT_EQ(performIntegralAcq(0, c.frames, c.time, c.flags, nullptr), -2);
        if (c.text) {
            EXPECT_EQ(deviceMessage(0), c.text);
        }
    }
    EXPECT_EQ(calls("hwResetMatrix"), resets);
    // The frames of the last acquisition are still there.
    std::vector<int16_t> data(65536);
    EXPECT_EQ(getFrame16(0, data.data(), 65536, 1), 0);
    EXPECT_EQ(getFrame16(0, data.data(), 65536, -1), -2);
    EXPECT_EQ(getFrame16(0, data.data(), 65535, 0), -4);
    EXPECT_EQ(deviceMessage(0), "Buffer is too small, current size: 65535, required size: 65536.");
    EXPECT_EQ(getFrame16(0, nullptr, 65536, 0), -2);
    uint32_t id = 0;
    EXPECT_EQ(getFrameID(0, -5, &id), -2);
    EXPECT_EQ(saveFrame(0, (root() + "/x.bin").c_str(), -2, FSAVE_BINARY), -2);
    EXPECT_EQ(saveFrame(0, nullptr, 0, FSAVE_BINARY), -2);

    // A name too long for its frame numbers is refused before any exposure.
    const std::string longName = root() + "/" + std::string(500, 'n') + ".bin";
    EXPECT_EQ(performFrameAcq(0, 100, 0.0, FSAVE_BINARY, longName.c_str()), -2);
    EXPECT_EQ(calls("hwResetMatrix"), resets);
}

TEST_F(AcqTest, WithoutAnAcquisitionEveryGetterSaysSo)
{
    initWith({FakeDev()});
    for (int round = 0; round < 2; ++round) {
        std::vector<int16_t> data(65536);
        EXPECT_EQ(getFrame16(0, data.data(), 65536, 0), -115);
        EXPECT_EQ(deviceMessage(0), "No acquisition finished or in progress, cannot get frame.");
        uint32_t id = 0;
        EXPECT_EQ(getFrameID(0, 0, &id), -115);
        double value = 0;
        uint32_t size = sizeof value;
        EXPECT_EQ(getFrameAttrib(0, 0, "Acq time", &value, &size, nullptr), -115);
        EXPECT_EQ(saveFrame(0, (root() + "/none.bin").c_str(), -1, FSAVE_BINARY), -115);
        EXPECT_EQ(getAcqInfo(0, nullptr, nullptr, nullptr, nullptr), -1);
        ASSERT_EQ(performFrameAcq(0, 2, 0.0, 0, nullptr), 0);
        ASSERT_EQ(closeFrames(0), 0);
    }
}

TEST_F(AcqTest, EveryAcquisitionFunctionRefusesAnIndexBeyondTheRegistry)
{
    initWith({FakeDev()});
    const unsigned bad = 1;
    int i = 0;
    uint32_t u = 0;
    std::vector<uint8_t> buffer(262144 * 8);
    EXPECT_EQ(performFrameAcq(bad, 1, 0.0, 0, nullptr), -102);
    EXPECT_EQ(performIntegralAcq(bad, 1, 0.0, 0, nullptr), -102);
    EXPECT_EQ(performTestPulseAcq(bad, 0.5, 0.001, 1, 0), -102);
    EXPECT_EQ(performDigitalTest(bad, &i, &u, 1, 0.0), -102);
    EXPECT_EQ(abortOperation(bad), -102);
    EXPECT_EQ(closeFrames(bad), -102);
    EXPECT_EQ(getFrame16(bad, reinterpret_cast<int16_t*>(buffer.data()), 65536, 0), -102);
    EXPECT_EQ(getFrame32(bad, reinterpret_cast<uint32_t*>(buffer.data()), 65536, 0), -102);
    EXPECT_EQ(getFrameDouble(bad, reinterpret_cast<double*>(buffer.data()), 65536, 0), -102);
    EXPECT_EQ(saveFrame(bad, "x", 0, 1), -102);
    EXPECT_EQ(getFrameAttrib(bad, 0, "Acq time", buffer.data(), &u, &i), -102);
    EXPECT_EQ(getFrameID(bad, 0, &u), -102);
    EXPECT_EQ(getAcqInfo(bad, &i, &i, &i, &i), -102);
    EXPECT_EQ(convToSuperMatrix(bad, buffer.data(), buffer.data() + 8, 8, TYPE_BYTE), -102);
    EXPECT_EQ(convFromSuperMatrix(bad, buffer.data(), buffer.data() + 8, 8, TYPE_BYTE), -102);
    EXPECT_EQ(setSuperMatrixPixCfg(bad, buffer.data(), 65536), -102);
    EXPECT_EQ(getSuperMatrixPixCfg(bad, buffer.data(), 65536), -102);
}

TEST_F(AcqTest, SuperMatrixFunctionsRemapFourChipsAndCopyOne)
{
    initWith({FakeDev(1), FakeDev(4)});
    // Four chips: the table of element types; a u16 buffer is not among them.
    std::vector<uint32_t> chips(262144), matrix(262144), back(262144);
    for (uint32_t j = 0; j < chips.size(); ++j)
        chips[j] = j * 7u;
    ASSERT_EQ(convToSuperMatrix(1, chips.data(), matrix.data(), 262144 * 4, TYPE_U32), 0);
    EXPECT_EQ(matrix[0], 65791u * 7);
    EXPECT_EQ(matrix[511 * 512 + 511], (3u * 65536 + 255) * 7);
    ASSERT_EQ(convFromSuperMatrix(1, matrix.data(), back.data(), 262144 * 4, TYPE_U32), 0);
    EXPECT_EQ(back, chips);
    EXPECT_EQ(convToSuperMatrix(1, chips.data(), matrix.data(), 262144 * 4, TYPE_U16), -2);
    EXPECT_EQ(deviceMessage(1), "Invalid buffer type: 5");
    EXPECT_EQ(convToSuperMatrix(1, chips.data(), matrix.data(), 262144 * 4 - 1, TYPE_U32), -4);
    EXPECT_EQ(deviceMessage(1), "Buffer is too small, current size: 1048575, required size: 1048576 (in bytes).");
    // The same buffer for both sides converts in place.
    std::vector<uint32_t> inPlace = chips;
    ASSERT_EQ(convToSuperMatrix(1, inPlace.data(), inPlace.data(), 262144 * 4, TYPE_U32), 0);
    EXPECT_EQ(inPlace, matrix);

    // One chip copies the bytes, whatever the type.
    std::vector<uint16_t> one(65536, 0), copy(65536, 1);
    one[5] = 42;
    ASSERT_EQ(convToSuperMatrix(0, one.data(), copy.data(), 65536 * 2, TYPE_U16), 0);
    EXPECT_EQ(copy, one);

    // Pixel configuration through the super matrix.
    std::vector<uint8_t> cfg(262144);
    for (uint32_t k = 0; k < cfg.size(); ++k)
        cfg[k] = static_cast<uint8_t>(k % 7 == 0 ? 0xFE : 0xFF);
    ASSERT_EQ(setSuperMatrixPixCfg(1, cfg.data(), 262144), 0);
    std::vector<uint8_t> chipOrder(262144), expected(262144), out(262144);
    ASSERT_EQ(getPixelsCfg(1, chipOrder.data(), 262144, -1), 0);
    supermatrix::fromMatrix(cfg.data(), expected.data(), 1);
    EXPECT_EQ(chipOrder, expected);
    ASSERT_EQ(getSuperMatrixPixCfg(1, out.data(), 262144), 0);
    EXPECT_EQ(out, cfg);
    EXPECT_EQ(setSuperMatrixPixCfg(1, cfg.data(), 65536), -2);
    EXPECT_EQ(deviceMessage(1), "Invalid parameter, size of array of pix. cfgs.: 65536 , required: 262144.");
    EXPECT_EQ(getSuperMatrixPixCfg(1, out.data(), 262143), -4);
    ASSERT_EQ(setSuperMatrixPixCfg(0, cfg.data(), 65536), 0);
    ASSERT_EQ(getPixelsCfg(0, chipOrder.data(), 65536, -1), 0);
    EXPECT_TRUE(std::equal(cfg.begin(), cfg.begin() + 65536, chipOrder.begin()));
}

TEST_F(AcqTest, ALeftoverFinishedEventDoesNotEndTheNextExposure)
{
    initWith({FakeDev(1, 1, "", "fake", 31, 1)});
    ASSERT_EQ(setHwTimer(0, 0), 0); // the hardware times the exposure and reports its end
    control("fake").fire(0, HWCB_ACQ_FINISHED);
    ASSERT_EQ(performFrameAcq(0, 1, 0.3, 0, nullptr), 0) << deviceMessage(0);
    double acqTime = 0;
    uint32_t size = sizeof acqTime;
    ASSERT_EQ(getFrameAttrib(0, 0, "Acq time", &acqTime, &size, nullptr), 0);
    EXPECT_GE(acqTime, 0.29);
}

// A device of two chips has no frame layout (one chip or two rows of two): it is refused when it is set
// up, so no acquisition can fail on it with "Invalid frame size".
TEST_F(AcqTest, DevicesWhoseFramesHaveNoLayoutAreNotSetUp)
{
    initWith({FakeDev(2), FakeDev(1)});
    unsigned dev = 0;
    int count = 0;
    ASSERT_EQ(getFirstTvk(&dev, &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(performFrameAcq(dev, 1, 0.0, 0, nullptr), 0) << deviceMessage(dev);
}

// A minimal frame store: ids from 10002 on; a frame whose last reference goes is deleted.
std::map<uint32_t, TvkFrameInfo*> g_store;
std::vector<uint32_t> g_released;
uint32_t g_nextId = 10002;
void storeFrame(TvkFrameInfo* frame)
{
    frame->setUID(g_nextId);
    g_store[g_nextId++] = frame;
}
void releaseFrame(uint32_t uid)
{
    g_released.push_back(uid);
    TvkFrameInfo::deleteInstance(g_store[uid]);
    g_store.erase(uid);
}

TEST_F(AcqTest, AcquiredFramesLeaveThroughTheStoreThatTookThem)
{
    initWith({FakeDev()});
    g_released.clear();
    g_nextId = 10002;
    setCbFrameCreated(&storeFrame);
    TvkFrameInfo::cbNoRef = &releaseFrame;
    ASSERT_EQ(performFrameAcq(0, 2, 0.0, 0, nullptr), 0);
    uint32_t id = 0;
    ASSERT_EQ(getFrameID(0, 1, &id), 0);
    EXPECT_EQ(id, 10003u);
    // The digital test hands its frame over with one reference, which the store's client holds.
    int good = 0;
    uint32_t digitalId = 0;
    ASSERT_EQ(performDigitalTest(0, &good, &digitalId, 0, 0.0), 0);
    EXPECT_EQ(digitalId, 10004u);
    EXPECT_TRUE(g_released.empty());
    ASSERT_EQ(closeFrames(0), 0);
    EXPECT_EQ(g_released, (std::vector<uint32_t>{10002, 10003}));
    ASSERT_EQ(g_store.count(10004), 1u);
    uint32_t count = 99;
    EXPECT_EQ(g_store[10004]->close(&count, false), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(g_released, (std::vector<uint32_t>{10002, 10003, 10004}));
    TvkFrameInfo::cbNoRef = nullptr;
    setCbFrameCreated(nullptr);
}

// A frame of a saved series read back is loaded from its file; clients ask for it by id (a preview shows
// the id that getFrameID gives), so the store must have taken it. The next read releases it.
TEST_F(AcqTest, FramesReloadedFromASeriesAreStoredAndReleasedByTheNextRead)
{
    initWith({FakeDev()});
    g_released.clear();
    setCbFrameCreated(&storeFrame);
    TvkFrameInfo::cbNoRef = &releaseFrame;
    const std::string base = root() + "/stored.bin";
    ASSERT_EQ(performFrameAcq(0, 3, 0.0, FSAVE_BINARY, base.c_str()), 0) << deviceMessage(0);
    g_released.clear(); // the acquisition's own frame left when the call ended

    uint32_t second = 0;
    ASSERT_EQ(getFrameID(0, 1, &second), 0) << deviceMessage(0);
    ASSERT_NE(second, 0u) << "a frame that no store holds cannot be found by id";
    ASSERT_EQ(g_store.count(second), 1u);
    char name[512] = {}, path[512] = {};
    g_store[second]->getName(name);
    g_store[second]->getLogPath(path);
    EXPECT_STREQ(name, "Frame 1");
    EXPECT_STREQ(path, "Last acq. loaded frame");
    std::vector<int16_t> data(65536);
    uint32_t size = 65536 * 2;
    ASSERT_EQ(g_store[second]->getData(data.data(), &size, TYPE_I16), 0);
    EXPECT_EQ(data, fakeCounts(1, true));

    uint32_t third = 0;
    ASSERT_EQ(getFrameID(0, 2, &third), 0) << deviceMessage(0);
    EXPECT_NE(third, second);
    EXPECT_EQ(g_store.count(third), 1u);
    EXPECT_EQ(g_released, (std::vector<uint32_t>{second})) << "only one loaded frame is kept";
    ASSERT_EQ(closeFrames(0), 0);
    EXPECT_EQ(g_released, (std::vector<uint32_t>{second, third}));
    TvkFrameInfo::cbNoRef = nullptr;
    setCbFrameCreated(nullptr);
}

} // namespace
