// Per-device analysis over a small frame store behind the manager's function table: settings in the ini
// file, frame processing by element type, filter chains, spectra and list files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "clust_anal_data.h"
#include "ombrel_test_support.h"

namespace {

// Frames by id, as the manager would serve them; a chain that fails after handing out its copy.
struct FakeStore {
    struct Frame {
        int type;
        uint32_t width, height;
        std::vector<uint8_t> data;
    };
    std::map<uint32_t, Frame> frames;
    uint32_t nextId = 1;
    int closes = 0;
    bool chainFails = false;
    int currentFrameIndex = 0;

    uint32_t add(int type, uint32_t w, uint32_t h, const void* data, size_t bytes)
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        frames[nextId] = Frame{type, w, h, std::vector<uint8_t>(p, p + bytes)};
        return nextId++;
    }
};
FakeStore* store = nullptr;

int fakeType(uint32_t id, int* type)
{
    auto it = store->frames.find(id);
    if (it == store->frames.end())
        return -200;
    *type = it->second.type;
    return 0;
}
int fakeSize(uint32_t id, uint32_t* w, uint32_t* h)
{
    auto it = store->frames.find(id);
    if (it == store->frames.end())
        return -200;
    *w = it->second.width;
    *h = it->second.height;
    return 0;
}
int fakeData(uint32_t id, void* buffer, uint32_t* size, int type)
{
    auto it = store->frames.find(id);
    if (it == store->frames.end() || type != it->second.type || *size < it->second.data.size())
        return -200;
    std::memcpy(buffer, it->second.data.data(), it->second.data.size());
    *size = static_cast<uint32_t>(it->second.data.size());
    return 0;
}
int fakeClose(uint32_t id, uint32_t*)
{
    ++store->closes;
    store->frames.erase(id);
    return 0;
}
int fakeFiltered(int, uint32_t id, uint32_t* out)
{
    FakeStore::Frame copy = store->frames.at(id);
    *out = store->add(copy.type, copy.width, copy.height, copy.data.data(), copy.data.size());
    if (store->chainFails)
        return -208; // the copy's id came back all the same
    // The chain doubles every value of an int16 frame.
    auto& f = store->frames[*out];
    if (f.type == TYPE_I16)
        for (size_t i = 0; i + 1 < f.data.size(); i += 2) {
            int16_t v;
            std::memcpy(&v, &f.data[i], 2);
            v = static_cast<int16_t>(v * 2);
            std::memcpy(&f.data[i], &v, 2);
        }
    return 0;
}
int fakeAcqInfo(unsigned, int* frameIndex, int*, int*, int*)
{
    *frameIndex = store->currentFrameIndex;
    return 0;
}
int fakeFrameId(unsigned, int frameIndex, uint32_t* id)
{
    *id = static_cast<uint32_t>(frameIndex);
    return store->frames.count(*id) ? 0 : -1;
}

_MgrFuncTable fakeTable()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.mgrGetFrameType = fakeType;
    t.mgrGetFrameSize = fakeSize;
    t.mgrGetFrameData = fakeData;
    t.mgrCloseFrame = fakeClose;
    t.mgrGetFilteredFrame = fakeFiltered;
    t.tvkCtrlGetAcqInfo = fakeAcqInfo;
    t.tvkCtrlGetFrameID = fakeFrameId;
    return t;
}

// 16 x 8 frame: a dot (value 10), a 2x2 blob (values 5) and a 10-pixel row (values 3).
template <typename T>
std::vector<T> fixture()
{
    std::vector<T> f(16 * 8, T{});
    f[1 * 16 + 1] = 10;
    for (int y = 4; y < 6; ++y)
        for (int x = 4; x < 6; ++x)
            f[static_cast<size_t>(y) * 16 + x] = 5;
    for (int x = 2; x < 12; ++x)
        f[7 * 16 + x] = 3;
    return f;
}

class ClustAnalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = &frames;
        table = fakeTable();
        dir = ombrel_test::scratchDir("clust-anal");
    }
    void TearDown() override { store = nullptr; }

    template <typename T>
    uint32_t addFixture(int type)
    {
        const std::vector<T> f = fixture<T>();
        return frames.add(type, 16, 8, f.data(), f.size() * sizeof(T));
    }

    FakeStore frames;
    _MgrFuncTable table{};
    std::string dir;
    std::vector<std::string> logged;
    ClustAnalData::LogFn logger()
    {
        return [this](const std::string& t) { logged.push_back(t); };
    }
};

TEST_F(ClustAnalTest, SettingsRoundTripInKeyOrderAndLocaleFree)
{
    ClustAnalData a(&table, 0, logger());
    ClustSettings s;
    s.JoinEnabled = 1;
    s.JoinSigma = 1.25;
    s.JoinThreshold = 0.0125;
    s.LimHeavyBlobRadiusDev = 1.5;
    s.LowTh = -2.5;
    s.HighTh = 12345;
    s.VolSpectTo = 2.5e6;
    s.GlobVolSpectStep = 0.5;
    s.MaxClustHeight = 1e300;
    s.ClustType = 0x7e;
    s.HoldHistory = true;
    s.AllToSingleFile = true;
    ASSERT_TRUE(a.setSettings(s).empty());
    const std::string ini = dir + "/clusterer.ini";
    ASSERT_EQ(a.saveSettings(ini), 0);
    const std::string text = ombrel_test::readFile(ini);
    EXPECT_NE(text.find("JoinSigma=1.25\n"), std::string::npos) << text;
    EXPECT_NE(text.find("LowTh=-2.5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("VolSpectTo=2.5e+06\n"), std::string::npos) << text;
    EXPECT_NE(text.find("HoldHistory=1\n"), std::string::npos) << text;
    size_t at = 0;
    for (const ClustSettingKey& key : clustSettingKeys()) {
        const size_t next = text.find(std::string("\n") + key.name + "=", at);
        ASSERT_NE(next, std::string::npos) << key.name << " missing or out of order";
        at = next + 1;
    }
    EXPECT_EQ(clustSettingKeys().size(), 39u);

    ClustAnalData b(&table, 0, logger());
    ASSERT_EQ(b.loadSettings(ini), 0);
    EXPECT_EQ(b.settings(), s);
    EXPECT_TRUE(logged.empty());
}

TEST_F(ClustAnalTest, BadIniValuesKeepThePreviousOnesWithALogEntry)
{
    struct Case {
        const char* name;
        const char* lines;
        const char* logPart;
    };
    const std::vector<Case> cases = {
        {"text for a number", "JoinSigma=abc\n", "JoinSigma"},
        {"step 0", "GlobVolSpectStep=0\n", "GlobVolSpectStep"},
        {"negative step", "PerPixVolSpectStep=-100\n", "PerPixVolSpectStep"},
        {"size range reversed", "SizeSpectFrom=10\nSizeSpectTo=5\n", "SizeSpectTo"},
        {"frame too wide", "FrameWidth=70000\n", "FrameWidth"},
        {"per-pixel spectrum of gigabytes", "PerPixVolSpectValid=1\nFrameWidth=65536\nFrameHeight=65536\n",
         "per-pixel"},
        {"kernel without taps", "JoinMaskSize=0\n", "JoinMaskSize"},
        {"NaN threshold", "LowTh=nan\n", "LowTh"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        logged.clear();
        const std::string ini = dir + "/bad.ini";
        ASSERT_TRUE(ombrel_test::writeFile(ini, std::string("[Settings]\n") + k.lines));
        ClustAnalData a(&table, 0, logger());
        ASSERT_EQ(a.loadSettings(ini), 0);
        EXPECT_EQ(a.settings(), ClustSettings{});
        ASSERT_FALSE(logged.empty());
        bool named = false;
        for (const std::string& l : logged)
            named = named || l.find(k.logPart) != std::string::npos;
        EXPECT_TRUE(named) << logged.front();
    }
}

TEST(ClustSpectrumFiles, SuffixBeforeTheExtensionOfTheLastPathPart)
{
    struct Case {
        const char* base;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"out/run.txt", "out/run_spect_size_all.txt"},
        {"out/run", "out/run_spect_size_all"},
        {"out.d/run", "out.d/run_spect_size_all"},
        {"run.a.b", "run.a_spect_size_all.b"},
        {"run", "run_spect_size_all"},
        {"/a/b.c/", "/a/b.c/_spect_size_all"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(spectrumFileName(k.base, "_spect_size_all"), k.expected) << k.base;
    // A long name is no reason to skip the file.
    const std::string longBase(600, 'x');
    EXPECT_EQ(spectrumFileName(longBase + ".txt", "_s"), longBase + "_s.txt");
}

TEST(ClustSpectrumFiles, BlocksTrimTrailingZeroBins)
{
    struct Case {
        const char* name;
        double from, step;
        std::vector<int32_t> bins;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"all zero", 1, 50, {0, 0, 0}, "1\n0\n\n"},
        {"trailing zeros left out", 1, 50, {2, 0, 7, 0, 0}, "1 51 101\n2 0 7\n\n"},
        {"last bin set", 0.5, 0.25, {0, 1}, "0.5 0.75\n0 1\n\n"},
        {"five digits", 1e6, 123456, {0, 0, 3}, "1e+06 1.1235e+06 1.2469e+06\n0 0 3\n\n"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(spectrumBlock(k.from, k.step, k.bins.data(), k.bins.size()), k.expected) << k.name;
}

TEST_F(ClustAnalTest, FrameTypesDispatchAndOthersLeaveTheSpectraUnchanged)
{
    ClustAnalData a(&table, 0, logger());
    ClustSettings s;
    s.GlobalSizeSpectAll = true;
    s.SizeSpectTo = 12;
    a.setSettings(s);
    const uint32_t i16 = addFixture<int16_t>(TYPE_I16);
    const uint32_t u32 = addFixture<uint32_t>(TYPE_U32);
    const uint32_t dbl = addFixture<double>(TYPE_DOUBLE);
    const std::vector<uint16_t> u16(16 * 8, 1);
    const uint32_t bad = frames.add(TYPE_U16, 16, 8, u16.data(), u16.size() * 2);
    for (const uint32_t id : {i16, u32, dbl})
        EXPECT_EQ(a.processFrame(id, "f"), 0) << id;
    const Spectrum before = a.sizeSpectrum(false);
    EXPECT_EQ(before.bins, (std::vector<int32_t>{3, 0, 0, 3, 0, 0, 0, 0, 0, 3, 0, 0}));
    // Refused frames are logged with the reason: an acquired frame has no other caller that would say so.
    logged.clear();
    EXPECT_EQ(a.processFrame(bad, "f"), -1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("Frame " + std::to_string(bad) + " is not analysed: its element type 5"),
              std::string::npos)
        << logged[0];
    EXPECT_EQ(a.processFrame(999, "f"), -1);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_NE(logged[1].find("Frame 999 is not analysed"), std::string::npos) << logged[1];
    EXPECT_EQ(a.sizeSpectrum(false).bins, before.bins);
    const ClustTotals t = a.totals();
    EXPECT_EQ(t.frames, 3);
    EXPECT_EQ(t.all[kClassDot], 3);
    EXPECT_EQ(t.all[kClassSmallBlob], 3);
    EXPECT_EQ(t.all[kClassStraightTrack] + t.all[kClassCurlyTrack], 3);
}

TEST_F(ClustAnalTest, FilterChainResultIsAnalysedAndItsCopyAlwaysClosed)
{
    ClustAnalData a(&table, 0, logger());
    ClustSettings s;
    s.GlobalVolSpectAll = true;
    s.VolSpectFrom = 0;
    s.VolSpectTo = 50;
    s.GlobVolSpectStep = 10;
    a.setSettings(s);
    a.setChain(3);
    const uint32_t id = addFixture<int16_t>(TYPE_I16);
    ASSERT_EQ(a.processFrame(id, "f"), 0);
    EXPECT_EQ(frames.closes, 1);
    EXPECT_EQ(frames.frames.size(), 1u);
    // Doubled values: the dot 20 (bin 2), the blob 40 (bin 4), the row 60 (out of range).
    EXPECT_EQ(a.volumeSpectrum(false).bins, (std::vector<int32_t>{0, 0, 1, 0, 1}));

    frames.chainFails = true;
    EXPECT_EQ(a.processFrame(id, "f"), -1);
    EXPECT_EQ(frames.closes, 2);
    EXPECT_EQ(frames.frames.size(), 1u);
    EXPECT_EQ(a.volumeSpectrum(false).bins, (std::vector<int32_t>{0, 0, 1, 0, 1}));
    EXPECT_EQ(a.totals().frames, 1);
}

TEST_F(ClustAnalTest, SpectraFilesOfEveryKindBesideTheBase)
{
    ClustAnalData a(&table, 0, logger());
    ClustSettings s;
    s.GlobalSizeSpectAll = s.GlobalSizeSpectValid = s.GlobalVolSpectAll = s.GlobalVolSpectValid = true;
    s.GlobalVolSpectCustSize = s.PerPixVolSpectValid = true;
    s.FrameWidth = 16;
    s.FrameHeight = 8;
    s.SizeSpectTo = 20;
    s.VolSpectFrom = 0;
    s.VolSpectTo = 40;
    s.GlobVolSpectStep = 10;
    s.PerPixVolSpectStep = 20;
    s.ClustType = 1 << kClassSmallBlob; // "valid": the blob only
    ASSERT_TRUE(a.setSettings(s).empty());
    ASSERT_EQ(a.processFrame(addFixture<int16_t>(TYPE_I16), "f"), 0);
    ASSERT_EQ(a.writeSpectra(dir + "/run.txt"), 0);
    auto read = [&](const char* suffix) { return ombrel_test::readFile(dir + "/run" + suffix + ".txt"); };
    EXPECT_EQ(read("_spect_size_all"), "1 2 3 4 5 6 7 8 9 10\n1 0 0 1 0 0 0 0 0 1\n\n");
    EXPECT_EQ(read("_spect_size_valid"), "1 2 3 4\n0 0 0 1\n\n");
    EXPECT_EQ(read("_spect_volume_all"), "0 10 20 30\n0 1 1 1\n\n");
    EXPECT_EQ(read("_spect_volume_valid"), "0 10 20\n0 0 1\n\n");
    std::string selsizes;
    for (int size = 1; size <= 10; ++size)
        selsizes += size == 4 ? "0 10 20\n0 0 1\n\n" : "0\n0\n\n";
    EXPECT_EQ(read("_spect_volume_selsizes"), selsizes);
    const std::string perPixel = read("_spect_volume_perpixel");
    std::string expected;
    for (int p = 0; p < 16 * 8; ++p)
        expected += p == 5 * 16 + 5 ? "0 20\n0 1\n\n" : "0\n0\n\n"; // the blob's centre (4.5, 4.5) rounds to (5, 5)
    EXPECT_EQ(perPixel, expected);

    // Frames of another size are left out of the per-pixel spectrum, logged once per size.
    const std::vector<int16_t> small(4 * 4, 7);
    const uint32_t other = frames.add(TYPE_I16, 4, 4, small.data(), small.size() * 2);
    logged.clear();
    EXPECT_EQ(a.processFrame(other, "g"), 0);
    EXPECT_EQ(a.processFrame(other, "g"), 0);
    EXPECT_EQ(logged.size(), 1u);
    EXPECT_EQ(a.perPixelSpectrum().rows[1][5 * 16 + 5], 1);
}

TEST_F(ClustAnalTest, VolumeRangeBelowItsStartGivesOneBin)
{
    ClustAnalData a(&table, 0, logger());
    ClustSettings s;
    s.GlobalVolSpectAll = true;
    s.VolSpectFrom = 100;
    s.VolSpectTo = 10;
    a.setSettings(s);
    EXPECT_EQ(a.volumeSpectrum(false).bins.size(), 1u);
}

TEST_F(ClustAnalTest, ClusterListsPerFrameOrAllInOneFileAndTheWriteErrorBox)
{
    ClustAnalData a(&table, 0, logger());
    std::vector<std::string> boxes;
    a.setErrorBox([&](const std::string& t) { boxes.push_back(t); });
    ClustSettings s;
    s.CreateClustersFile = true;
    s.ClustType = 1 << kClassDot;
    a.setSettings(s);
    a.setListBase(dir + "/list");
    const uint32_t id = addFixture<int16_t>(TYPE_I16);
    ASSERT_EQ(a.processFrame(id, "frame_7"), 0);
    EXPECT_EQ(ombrel_test::readFile(dir + "/list_frame_7.txt"), "[1 1 10] \n");
    s.AllToSingleFile = true;
    a.setSettings(s);
    ASSERT_EQ(a.processFrame(id, "a"), 0);
    ASSERT_EQ(a.processFrame(id, "b"), 0);
    EXPECT_EQ(ombrel_test::readFile(dir + "/list.txt"), "[1 1 10] \n[1 1 10] \n");

    EXPECT_EQ(a.writeClusterList(dir + "/missing/x.txt", -1, false), -1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Error while writing to file \"" + dir + "/missing/x.txt\": ", 0), 0u) << boxes[0];
}

TEST_F(ClustAnalTest, HistoryAndShownFinderOwnership)
{
    ClustAnalData a(&table, 0, logger());
    ClustSettings s;
    s.HoldHistory = true;
    a.setSettings(s);
    a.setDisplay(true);
    const uint32_t id = addFixture<int16_t>(TYPE_I16);
    for (int n = 0; n < 3; ++n)
        ASSERT_EQ(a.processFrame(id, "f"), 0);
    EXPECT_EQ(a.historySize(), 3);
    ClusterProps p;
    ASSERT_EQ(a.clusterProperties(-1, 0, &p), 0);
    EXPECT_EQ(p.size, 1);
    EXPECT_EQ(p.volume, 10);
    ASSERT_EQ(a.clusterProperties(1, 2, &p), 0);
    EXPECT_EQ(p.size, 10);
    EXPECT_NEAR(p.houghAngleDeg, 90, 5); // a row: its normal points down the columns
    EXPECT_EQ(a.clusterProperties(3, 0, &p), -1);
    EXPECT_EQ(a.clusterProperties(0, 3, &p), -1);

    // Without the history, the shown finder is replaced frame by frame; switching display off drops it.
    s.HoldHistory = false;
    a.setSettings(s);
    a.clear();
    EXPECT_EQ(a.historySize(), 0);
    for (int n = 0; n < 3; ++n)
        ASSERT_EQ(a.processFrame(id, "f"), 0);
    const ClustView v = a.view();
    EXPECT_EQ(v.width, 16);
    EXPECT_EQ(v.classes[1 * 16 + 1], kClassDot);
    EXPECT_EQ(v.labels[0], -1);
    a.setDisplay(false);
    ASSERT_EQ(a.processFrame(id, "f"), 0);
    ASSERT_EQ(a.clusterProperties(-1, 1, &p), 0);
    EXPECT_EQ(p.clusterClass, kClassSmallBlob);
}

TEST_F(ClustAnalTest, LastAnalysedFrameStaysReachableWithTheHistoryAndDisplayOff)
{
    ClustAnalData a(&table, 0, logger());
    std::vector<std::string> boxes;
    a.setErrorBox([&](const std::string& t) { boxes.push_back(t); });
    // Nothing analysed yet: the list is not written, and the user is told so.
    EXPECT_EQ(a.writeClusterList(dir + "/early.txt", -1, false), -1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("no frame has been analysed"), std::string::npos) << boxes[0];
    EXPECT_EQ(a.writeClusterList(dir + "/entry.txt", 4, false), -1);
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir + "/early.txt"));

    // The history holds the last analysed finder; the window opened afterwards still reaches it.
    ClustSettings s;
    s.HoldHistory = true;
    a.setSettings(s);
    ASSERT_EQ(a.processFrame(addFixture<int16_t>(TYPE_I16), "f"), 0);
    ClusterProps p;
    ASSERT_EQ(a.clusterProperties(-1, 0, &p), 0);
    EXPECT_EQ(p.volume, 10);
    EXPECT_EQ(a.view().width, 16);
    ASSERT_EQ(a.writeClusterList(dir + "/last.txt", -1, false), 0);
    EXPECT_EQ(ombrel_test::readFile(dir + "/last.txt").rfind("[1 1 10] \n", 0), 0u);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(ClustAnalTest, AcquiredFrameIsFoundThroughTheDevicesCurrentFrame)
{
    ClustAnalData a(&table, 2, logger());
    frames.currentFrameIndex = static_cast<int>(addFixture<int16_t>(TYPE_I16));
    EXPECT_EQ(a.processAcquiredFrame(), 0);
    frames.currentFrameIndex = 77;
    logged.clear();
    EXPECT_EQ(a.processAcquiredFrame(), -1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("acquired frame 77 of device 2 is not analysed"), std::string::npos) << logged[0];
    EXPECT_EQ(a.totals().frames, 1);
    // Per-class table: one frame with one dot, one small blob.
    const auto classes = a.classTable();
    EXPECT_EQ(classes[kClassDot - 1][1], 1);
    EXPECT_EQ(classes[kClassHeavyBlob - 1][0], 1);
}

} // namespace
