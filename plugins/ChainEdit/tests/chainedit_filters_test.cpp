// The plug-in as the manager loads it: registration, each filter run on stored frames through the
// manager's function calls and filter chains, and instance settings kept across a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <iterator>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>

#include "chainedit_app.h"
#include "mask_check.h"

using chaintest::Detector;
using chaintest::FilterApp;
namespace fs = std::filesystem;

namespace {

const uint32_t kSide = 512;

// (parameter index, value) pairs of one instance.
using Settings = std::vector<std::pair<int, int32_t>>;

int callFilter(const FilterApp& app, const char* name, uint32_t frameId, void* handle = nullptr)
{
    const _FuncSlot in[2] = {tvkSlotUint(frameId), tvkSlotPtr(handle)};
    return app.t().mgrCallFuncItem("chainedit", name, in, nullptr);
}

// Handle of the default instance of a filter with instances: the first object of its registry.
void* const kDefaultHandle = reinterpret_cast<void*>(uintptr_t(1));

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

class ChainEditFilters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(app.start(), 0) << app.log(); }
    FilterApp app{"filters"};
};

TEST_F(ChainEditFilters, RegistersTwelveFiltersInTableOrder)
{
    struct Row {
        const char* name;
        const char* description;
        uint32_t flags;
        uintptr_t userData; // filters without instances
        uint32_t parameters;
    };
    const Row rows[] = {
        {"Save", "Filter which saves frame to file in ASCII or binary format.", 3, 0, 5},
        {"Crop", "Crops selected frame (selects part of frame).", 3, 0, 4},
        {"Sarnet counts to time", "Filter which recalculates counts to time [ns] (for Sarnet in sarnet mode).", 3, 0,
         2},
        {"Srn calibration",
         "Filter which calibrates Sarnet frame (TOT mode), calibration coef. are taken from specified files.", 3, 0, 4},
        {"Frame statistics", "Filter which takes a frame and saves selected stat. information to specified file.", 3, 0,
         9},
        {"Tarvik mask", "Filter which sets value of masked pixels to specified value.", 3, 0, 2},
        {"Duplicate", "Filter which duplicates frame.", 1, 0, 0},
        {"Quad 516 distribute",
         "Filter which convert quad frame 512x512 to 516x516 (bigger pixels count will be distributed).", 1, 3, 0},
        {"Quad 516 duplicate",
         "Filter which convert quad frame 512x512 to 516x516 (bigger pixels count will be duplicated)", 1, 1, 0},
        {"Convert to i16", "Filter which change frame type to i16.", 1, 4, 0},
        {"Convert to u32", "Filter which change frame type to u32.", 1, 7, 0},
        {"Convert to double", "Filter which change frame type to double.", 1, 9, 0},
    };
    std::vector<_FuncItem> items;
    int id = 0;
    _FuncItem item{};
    for (int rc = app.t().mgrGetRegFirstFunc(&id, &item); rc == 0; rc = app.t().mgrGetRegNextFunc(&id, &item))
        if (std::string(item.plugin) == "chainedit")
            items.push_back(item);
    ASSERT_EQ(items.size(), std::size(rows));
    for (size_t i = 0; i < items.size(); ++i) {
        const _FuncItem& f = items[i];
        const Row& r = rows[i];
        SCOPED_TRACE(r.name);
        EXPECT_STREQ(f.function, r.name);
        EXPECT_STREQ(f.description, r.description);
        EXPECT_EQ(f.flags, r.flags);
        EXPECT_EQ(f.inCount, 2u);
        EXPECT_EQ(f.outCount, 0u);
        EXPECT_EQ(f.in[0].type, uint32_t(TYPE_U32));
        EXPECT_EQ(f.in[0].count, 1);
        EXPECT_STREQ(f.in[0].name, "ID of frame");
        EXPECT_EQ(f.in[1].type, uint32_t(TYPE_U32));
        EXPECT_EQ(f.in[1].count, 1);
        EXPECT_STREQ(f.in[1].name, "ID of filter instance");
        if (i > 0) {
            EXPECT_GT(f.id, items[i - 1].id); // registered in table order
        }
        if (r.flags == 1) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(f.userData), r.userData);
        } else {
            uint32_t count = 0;
            EXPECT_EQ(app.t().mgrGetFilterPar(f.id, -1, nullptr, &count), 0);
            EXPECT_EQ(count, r.parameters);
        }
    }
}

// ---- Quad 516 ----

TEST_F(ChainEditFilters, Quad516ConvertsQuadFramesOfEveryType)
{
    struct Case {
        const char* filter;
        int type;
        double border, corner, negative; // sources of 9, 9 and -9 (i16) / 10 (u32)
        double borderOut, cornerOut, negativeOut;
    };
    const Case cases[] = {
        {"Quad 516 distribute", TYPE_I16, 9, 9, -9, 3, 1, -3},
        {"Quad 516 distribute", TYPE_U32, 9, 9, 10, 3, 1, 3},
        {"Quad 516 distribute", TYPE_DOUBLE, 9, 9, -9, 3, 1, -3},
        {"Quad 516 duplicate", TYPE_I16, 9, 9, -9, 9, 9, -9},
        {"Quad 516 duplicate", TYPE_U32, 9, 9, 10, 9, 9, 10},
        {"Quad 516 duplicate", TYPE_DOUBLE, 9, 9, -9, 9, 9, -9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.filter) + " type " + std::to_string(c.type));
        std::vector<double> v(size_t(kSide) * kSide, 0);
        v[20 * kSide + 255] = c.border;    // column 255, ordinary row
        v[256 * kSide + 256] = c.corner;   // a centre pixel
        v[300 * kSide + 256] = c.negative; // column 256, ordinary row
        v[5 * kSide + 7] = 4;              // an ordinary pixel
        const uint32_t id = app.frame(kSide, kSide, c.type, v);
        ASSERT_EQ(callFilter(app, c.filter, id), 0);
        uint32_t w = 0, h = 0;
        int type = 0;
        app.t().mgrGetFrameSize(id, &w, &h);
        app.t().mgrGetFrameType(id, &type);
        EXPECT_EQ(w, 516u);
        EXPECT_EQ(h, 516u);
        EXPECT_EQ(type, c.type);
        const std::vector<double> out = app.values(id);
        auto at = [&](uint32_t x, uint32_t y) { return out[size_t(y) * 516 + x]; };
        for (uint32_t x = 255; x <= 257; ++x)
            EXPECT_EQ(at(x, 20), c.borderOut);
        for (uint32_t y = 258; y <= 260; ++y)
            for (uint32_t x = 258; x <= 260; ++x)
                EXPECT_EQ(at(x, y), c.cornerOut);
        for (uint32_t x = 258; x <= 260; ++x)
            EXPECT_EQ(at(x, 304), c.negativeOut);
        EXPECT_EQ(at(7, 5), 4);
    }
}

TEST_F(ChainEditFilters, Quad516LeavesOtherFramesAndLockedFramesAlone)
{
    // A single-chip frame is not a quad frame: unchanged, and that is success.
    std::vector<double> small(256 * 256);
    std::iota(small.begin(), small.end(), 0);
    const uint32_t single = app.frame(256, 256, TYPE_U32, small);
    EXPECT_EQ(callFilter(app, "Quad 516 distribute", single), 0);
    EXPECT_EQ(app.values(single), small);

    // A frame that another thread holds locked: refused, size and data as they were.
    std::vector<double> quad(size_t(kSide) * kSide, 9);
    const uint32_t id = app.frame(kSide, kSide, TYPE_U32, quad);
    std::mutex m;
    std::condition_variable cv;
    bool locked = false, release = false;
    std::thread holder([&] {
        app.t().mgrLockFrame(id, MGR_WAIT_INFINITE);
        std::unique_lock lock(m);
        locked = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        app.t().mgrUnlockFrame(id);
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return locked; });
    }
    EXPECT_EQ(callFilter(app, "Quad 516 duplicate", id), -1);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    holder.join();
    uint32_t w = 0, h = 0;
    app.t().mgrGetFrameSize(id, &w, &h);
    EXPECT_EQ(w, kSide);
    EXPECT_EQ(h, kSide);
    EXPECT_EQ(app.values(id), quad);
    EXPECT_NE(app.log().find("cannot be locked"), std::string::npos);
}

// ---- a whole chain ----

TEST_F(ChainEditFilters, ChainOfConversionQuadAndSaveWritesOneWideFile)
{
    const std::string out = app.dir() + "/saved frames/";
    const int save = app.newInstance("Save", "text");
    ASSERT_EQ(app.setText(save, 0, app.dir() + "/saved frames"), 0); // gains its '/'
    std::vector<double> v(size_t(kSide) * kSide);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = double((i * 7919) % 1000);
    const uint32_t source = app.frame(kSide, kSide, TYPE_U32, v);

    uint32_t copy = 0;
    ASSERT_EQ(app.runChain({app.funcId("Convert to double"), app.funcId("Quad 516 distribute"), save}, source, &copy),
              0)
        << app.log();
    EXPECT_EQ(app.values(source), v); // the chain worked on a copy
    const std::string name = "frame_" + std::to_string(copy);
    EXPECT_EQ(filesIn(out), (std::vector<std::string>{name + ".dsc", name + ".txt"}));

    uint32_t loaded = 0;
    ASSERT_EQ(app.t().mgrLoadFrame(&loaded, (out + name + ".txt").c_str()), 0);
    uint32_t w = 0, h = 0;
    app.t().mgrGetFrameSize(loaded, &w, &h);
    EXPECT_EQ(w, 516u);
    EXPECT_EQ(h, 516u);
    const std::vector<double> wide = app.values(loaded);
    const double sum = std::accumulate(v.begin(), v.end(), 0.0);
    EXPECT_NEAR(std::accumulate(wide.begin(), wide.end(), 0.0), sum, 1e-9 * sum);
}

// ---- Save ----

TEST_F(ChainEditFilters, SaveWritesEveryModeAndReadsBackEqual)
{
    struct Case {
        uint32_t mode;
        int32_t binary;
        const char* extension;
    };
    const Case cases[] = {{0, 0, ".txt"}, {1, 0, ".txt"}, {2, 0, ".txt"},
                          {0, 1, ".bin"}, {1, 1, ".bin"}, {2, 1, ".bin"}};
    const std::vector<double> v = {0, 3, 0, 0, 7, 0, 1, 0, 0, 0, 0, 65000};
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " binary " + std::to_string(c.binary));
        const std::string dir = app.dir() + "/modes" + std::to_string(c.mode) + std::to_string(c.binary);
        const int save = app.newInstance("Save", ("m" + std::to_string(c.mode) + std::to_string(c.binary)).c_str());
        ASSERT_EQ(app.setText(save, 0, dir), 0);
        ASSERT_EQ(app.setValue<uint32_t>(save, 1, c.mode), 0);
        ASSERT_EQ(app.setValue<int32_t>(save, 2, c.binary), 0);
        const uint32_t source = app.frame(4, 3, TYPE_U32, v);
        uint32_t copy = 0;
        ASSERT_EQ(app.runChain({save}, source, &copy), 0) << app.log();
        const std::string file = dir + "/frame_" + std::to_string(copy) + c.extension;
        uint32_t loaded = 0;
        ASSERT_EQ(app.t().mgrLoadFrame(&loaded, file.c_str()), 0) << file;
        EXPECT_EQ(app.values(loaded), v);
    }
}

TEST_F(ChainEditFilters, SaveNeverReplacesAFileAndSkipsQuietFrames)
{
    const std::string dir = app.dir() + "/keep";
    const int save = app.newInstance("Save", "keep");
    ASSERT_EQ(app.setText(save, 0, dir), 0);
    const uint32_t source = app.frame(2, 2, TYPE_U32, {1, 5, 6, 2});
    uint32_t copy = 0;
    ASSERT_EQ(app.runChain({save, save, save}, source, &copy), 0);
    const std::string f = "frame_" + std::to_string(copy);
    EXPECT_EQ(filesIn(dir), (std::vector<std::string>{f + ".dsc", f + ".txt", f + "_1.dsc", f + "_1.txt", f + "_2.dsc",
                                                      f + "_2.txt"}));

    // At least "Pixels over threshold" pixels must reach "Threshold value".
    struct Case {
        uint32_t pixels;
        double threshold;
        bool saved;
    };
    const Case cases[] = {{2, 5, true}, {3, 5, false}, {3, 2, true}, {4, 2, false}, {0, 100, true}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string sub = dir + "/t" + std::to_string(n);
        const int inst = app.newInstance("Save", ("t" + std::to_string(n++)).c_str());
        ASSERT_EQ(app.setText(inst, 0, sub), 0);
        ASSERT_EQ(app.setValue<uint32_t>(inst, 3, c.pixels), 0);
        ASSERT_EQ(app.setValue<double>(inst, 4, c.threshold), 0);
        EXPECT_EQ(app.runChain({inst}, source, &copy), 0);
        EXPECT_EQ(filesIn(sub).size(), c.saved ? 2u : 0u) << c.pixels << " over " << c.threshold;
    }

    // A mode beyond the three stops the chain and writes nothing.
    const int bad = app.newInstance("Save", "bad");
    ASSERT_EQ(app.setText(bad, 0, dir + "/bad"), 0);
    ASSERT_EQ(app.setValue<uint32_t>(bad, 1, 3), 0);
    EXPECT_EQ(app.runChain({bad}, source, &copy), MGR_ERR_FILTER_FAILED);
    EXPECT_TRUE(filesIn(dir + "/bad").empty());
}

// ---- Crop ----

TEST_F(ChainEditFilters, CropCutsTheRectangleFromTheBottomRow)
{
    std::vector<double> v(256 * 256);
    for (uint32_t y = 0; y < 256; ++y)
        for (uint32_t x = 0; x < 256; ++x)
            v[y * 256 + x] = 1000 * y + x;
    const uint32_t source = app.frame(256, 256, TYPE_U32, v);
    const int crop = app.newInstance("Crop", "small");
    for (auto [index, value] : Settings{{0, 3}, {1, 2}, {2, 4}, {3, 2}})
        ASSERT_EQ(app.setValue<int32_t>(crop, index, value), 0);
    uint32_t copy = 0;
    ASSERT_EQ(app.runChain({crop}, source, &copy), 0);
    uint32_t w = 0, h = 0;
    app.t().mgrGetFrameSize(copy, &w, &h);
    EXPECT_EQ(w, 4u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(app.values(copy), (std::vector<double>{1002, 1003, 1004, 1005, 2002, 2003, 2004, 2005}));

    // Outside the frame, or a size below 1: refused with the message, the frame unchanged (in place, through
    // the default instance).
    struct Case {
        int32_t left, bottom, width, height;
    };
    const int def = app.funcId("Crop");
    for (const Case& c : {Case{1, 1, 257, 10}, Case{200, 251, 57, 7}, Case{0, 1, 10, 10}, Case{1, 1, 0, 5}}) {
        for (auto [index, value] : Settings{{0, c.left}, {1, c.bottom}, {2, c.width}, {3, c.height}})
            ASSERT_EQ(app.setValue<int32_t>(def, index, value), 0);
        EXPECT_EQ(callFilter(app, "Crop", source, kDefaultHandle), -1);
        app.t().mgrGetFrameSize(source, &w, &h);
        EXPECT_EQ(w * h, 256u * 256u);
        const std::string text = "Crop filter failed, frame too small (256x256) for selected ractangle (" +
                                 std::to_string(c.left) + ", " + std::to_string(c.bottom) + ", " +
                                 std::to_string(c.width) + ", " + std::to_string(c.height) + ")";
        EXPECT_NE(app.log().find(text), std::string::npos) << text;
    }
    EXPECT_EQ(app.values(source), v);
}

// ---- counts to time ----

TEST_F(ChainEditFilters, CountsToTimeUsesTheSettingOrTheDeviceClock)
{
    _DevInfo info{};
    ASSERT_EQ(app.t().tvkCtrlGetDevInfo(0, &info), 0);
    ASSERT_GT(info.clockMHz, 0);
    struct Case {
        uint32_t device;
        double clock;
        double nsPerCount; // 0: refused
    };
    const Case cases[] = {{0, 0, 1000 / info.clockMHz}, {0, 20, 50}, {7, 40, 25}, {7, 0, 0}, {0, -5, 0}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("device " + std::to_string(c.device) + " clock " + std::to_string(c.clock));
        const int inst = app.newInstance("Sarnet counts to time", ("c" + std::to_string(n++)).c_str());
        ASSERT_EQ(app.setValue<uint32_t>(inst, 0, c.device), 0);
        ASSERT_EQ(app.setValue<double>(inst, 1, c.clock), 0);
        const uint32_t source = app.frame(2, 1, TYPE_U32, {3, 10});
        uint32_t copy = 0;
        const int rc = app.runChain({inst}, source, &copy);
        if (c.nsPerCount == 0) {
            EXPECT_EQ(rc, MGR_ERR_FILTER_FAILED);
            continue;
        }
        ASSERT_EQ(rc, 0);
        int type = 0;
        app.t().mgrGetFrameType(copy, &type);
        EXPECT_EQ(type, TYPE_DOUBLE);
        const std::vector<double> ns = app.values(copy);
        EXPECT_NEAR(ns[0], 3 * c.nsPerCount, 1e-12 * ns[0]);
        EXPECT_NEAR(ns[1], 10 * c.nsPerCount, 1e-12 * ns[1]);
    }
    EXPECT_NE(app.log().find("no usable clock frequency"), std::string::npos);
}

// ---- Srn calibration ----

TEST_F(ChainEditFilters, SrnCalibrationRecoversEnergiesAndLeaksNoFrames)
{
    // Coefficient matrices of 3 x 2 pixels, saved as frame files.
    const double a[6] = {1.6, 2.0, 0.35, 1.0, 1.2, 0.8}, b[6] = {23, 10, 150, 5, 30, 8},
                 c[6] = {300, 50, 1200, 20, 100, 40}, t[6] = {3.5, 4, 2.1, 1, 2, 3};
    const double energies[6] = {20, 59.5, 150, 6, 1e3, 0};
    const char* names[4] = {"a.txt", "b.txt", "c.txt", "t.txt"};
    const double* coeffs[4] = {a, b, c, t};
    for (int k = 0; k < 4; ++k) {
        const uint32_t f = app.frame(3, 2, TYPE_DOUBLE, std::vector<double>(coeffs[k], coeffs[k] + 6));
        ASSERT_EQ(app.t().mgrSaveFrame(f, (app.dir() + "/" + names[k]).c_str(), FSAVE_ASCII), 0);
        app.t().mgrCloseFrame(f, nullptr);
    }
    std::vector<double> tot(6);
    for (int i = 0; i < 6; ++i)
        tot[i] = energies[i] > 0 ? a[i] * energies[i] + b[i] - c[i] / (energies[i] - t[i]) : -1;
    const uint32_t source = app.frame(3, 2, TYPE_DOUBLE, tot);

    const int srn = app.newInstance("Srn calibration", "srn");
    for (int k = 0; k < 4; ++k)
        ASSERT_EQ(app.setText(srn, k, app.dir() + "/" + names[k]), 0);
    const std::vector<uint32_t> before = app.storedFrames();
    for (int run = 0; run < 2; ++run) { // the second run uses the matrices kept from the first
        uint32_t copy = 0;
        ASSERT_EQ(app.runChain({srn}, source, &copy), 0) << app.log();
        const std::vector<double> e = app.values(copy);
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(e[i], energies[i], 1e-9 * energies[i]) << i;
        app.t().mgrCloseFrame(copy, nullptr);
    }
    EXPECT_EQ(app.storedFrames(), before); // the coefficient frames were closed

    // A missing file, and matrices of another size.
    const uint32_t other = app.frame(2, 2, TYPE_DOUBLE, {1, 2, 3, 4});
    uint32_t copy = 0;
    EXPECT_EQ(app.runChain({srn}, other, &copy), MGR_ERR_FILTER_FAILED);
    EXPECT_EQ(app.values(other), (std::vector<double>{1, 2, 3, 4}));
    ASSERT_EQ(app.setText(srn, 2, app.dir() + "/none.txt"), 0);
    EXPECT_EQ(app.runChain({srn}, source, &copy), MGR_ERR_FILTER_FAILED);
    EXPECT_NE(app.log().find("Cannot load frame in file: " + app.dir() + "/none.txt"), std::string::npos);
    EXPECT_EQ(app.storedFrames().size(), before.size() + 1); // only `other`
}

// ---- Frame statistics ----

TEST_F(ChainEditFilters, StatisticsAppendsOneLinePerFrameAndCountsRecords)
{
    const std::string file = app.dir() + "/stats/out.txt";
    const int stats = app.newInstance("Frame statistics", "stats");
    ASSERT_EQ(app.setText(stats, 8, file), 0);
    ASSERT_EQ(app.setValue<uint32_t>(stats, 6, 41), 0);
    ASSERT_EQ(app.setValue<double>(stats, 7, 0), 0); // zeros are skipped
    const uint32_t source = app.frame(2, 2, TYPE_U32, {0, 3, 4, 0});
    const char stamp[64] = "Thu Dec 10 19:00:00.5 2026";
    ASSERT_EQ(app.t().mgrAddFrameAttrib(source, "Start time (string)", "Acquisition start time (string)", TYPE_CHAR,
                                        stamp, sizeof stamp),
              0);
    uint32_t copy = 0;
    ASSERT_EQ(app.runChain({stats, stats}, source, &copy), 0) << app.log();
    EXPECT_EQ(linesOf(ombrel_test::readFile(file)),
              (std::vector<std::string>{"41\tThu Dec 10 19:00:00.5 2026\t3.5\t7",
                                        "42\tThu Dec 10 19:00:00.5 2026\t3.5\t7"}));
    uint32_t index = 0;
    std::memcpy(&index, app.getValue(stats, 6).data(), 4);
    EXPECT_EQ(index, 43u);

    // Pixel positions and counts; a file that cannot be written stops the chain.
    ASSERT_EQ(app.setValue<int32_t>(stats, 4, 1), 0);
    ASSERT_EQ(app.setValue<int32_t>(stats, 5, 1), 0);
    ASSERT_EQ(app.setValue<int32_t>(stats, 1, 0), 0);
    ASSERT_EQ(app.runChain({stats}, source, &copy), 0);
    EXPECT_EQ(linesOf(ombrel_test::readFile(file)).back(), "43\t3.5\t7\t1 0 3\t0 1 4");
    ASSERT_EQ(app.setText(stats, 8, file + "/below a file/x.txt"), 0);
    EXPECT_EQ(app.runChain({stats}, source, &copy), MGR_ERR_FILTER_FAILED);
    std::memcpy(&index, app.getValue(stats, 6).data(), 4);
    EXPECT_EQ(index, 44u); // a failed record takes no index
}

// ---- Tarvik mask ----

TEST_F(ChainEditFilters, MaskOnTheSimulatedSingleChipDevice)
{
    chaintest::checkMask(app, 256, false);
}

// ---- Duplicate and conversions ----

TEST_F(ChainEditFilters, DuplicateLeavesACopyAndConversionsChangeTheType)
{
    const uint32_t source = app.frame(2, 2, TYPE_DOUBLE, {1.5, -2, 3, 70000});
    const size_t stored = app.storedFrames().size();
    EXPECT_EQ(callFilter(app, "Duplicate", source), 0);
    const std::vector<uint32_t> after = app.storedFrames();
    ASSERT_EQ(after.size(), stored + 1); // the copy stays in the store by design
    EXPECT_EQ(app.values(after.back()), app.values(source));
    EXPECT_EQ(callFilter(app, "Duplicate", 999999), -1); // no copy made: failure

    struct Case {
        const char* filter;
        int type;
    };
    for (const Case& c : {Case{"Convert to u32", TYPE_U32}, Case{"Convert to i16", TYPE_I16},
                          Case{"Convert to double", TYPE_DOUBLE}}) {
        EXPECT_EQ(callFilter(app, c.filter, source), 0) << c.filter;
        int type = 0;
        app.t().mgrGetFrameType(source, &type);
        EXPECT_EQ(type, c.type) << c.filter;
    }
    EXPECT_NE(callFilter(app, "Convert to u32", 999999), 0);
}

// ---- settings across a restart ----

TEST(ChainEditRestart, InstanceSettingsSurviveARestartInEitherLocale)
{
    FilterApp app("restart");
    ASSERT_EQ(app.start(), 0);
    struct Par {
        const char* filter;
        int index;
        std::vector<unsigned char> value;
    };
    auto bytes = [](auto v) {
        std::vector<unsigned char> b(sizeof v);
        std::memcpy(b.data(), &v, sizeof v);
        return b;
    };
    auto text = [](const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end() + 0); };
    const std::vector<Par> pars = {
        {"Save", 0, text("./my saved files/")}, {"Save", 1, bytes(uint32_t(2))}, {"Save", 2, bytes(int32_t(1))},
        {"Save", 3, bytes(uint32_t(12))},       {"Save", 4, bytes(0.1)},
        {"Crop", 0, bytes(int32_t(5))},         {"Crop", 1, bytes(int32_t(7))},  {"Crop", 2, bytes(int32_t(30))},
        {"Crop", 3, bytes(int32_t(40))},
        {"Sarnet counts to time", 0, bytes(uint32_t(3))}, {"Sarnet counts to time", 1, bytes(12.5)},
        {"Srn calibration", 0, text("coef/a b.txt")},     {"Srn calibration", 3, text("coef/t.txt")},
        {"Frame statistics", 0, bytes(int32_t(0))},       {"Frame statistics", 4, bytes(int32_t(1))},
        {"Frame statistics", 6, bytes(uint32_t(17))},     {"Frame statistics", 7, bytes(-2.5)},
        {"Frame statistics", 8, text("stats dir/s.txt")},
        {"Tarvik mask", 0, bytes(uint32_t(2))},           {"Tarvik mask", 1, bytes(-2.5)},
    };
    for (const Par& p : pars) {
        const int inst = [&] {
            int id = 0, found = 0;
            char name[MGR_NAME_SIZE] = {};
            for (int rc = app.t().mgrGetFirstFilterInst(app.funcId(p.filter), &id, name); rc == 0;
                 rc = app.t().mgrGetNextFilterInst(app.funcId(p.filter), &id, name))
                if (std::string(name) == "kept")
                    found = id;
            return found ? found : app.newInstance(p.filter, "kept");
        }();
        std::vector<unsigned char> v = p.value;
        if (p.index == 0 && std::string(p.filter) == "Save")
            v.push_back(0);
        if (std::string(p.filter) == "Srn calibration" || (std::string(p.filter) == "Frame statistics" && p.index == 8))
            v.push_back(0);
        ASSERT_EQ(app.t().mgrSetFilterPar(inst, p.index, v.data(), uint32_t(v.size())), 0) << p.filter << p.index;
    }
    app.unload();

    // Read back by the other locale: numbers in the ini file do not depend on it.
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const bool comma = std::string(std::localeconv()->decimal_point) == ",";
    const char* other = std::setlocale(LC_ALL, comma ? "C.UTF-8" : "de_DE.UTF-8");
    ASSERT_EQ(app.start(), 0);
    for (const Par& p : pars) {
        SCOPED_TRACE(std::string(p.filter) + " " + std::to_string(p.index));
        int id = 0, inst = 0;
        char name[MGR_NAME_SIZE] = {};
        for (int rc = app.t().mgrGetFirstFilterInst(app.funcId(p.filter), &id, name); rc == 0;
             rc = app.t().mgrGetNextFilterInst(app.funcId(p.filter), &id, name))
            if (std::string(name) == "kept")
                inst = id;
        ASSERT_NE(inst, 0);
        std::vector<unsigned char> got = app.getValue(inst, p.index);
        if (!got.empty() && got.back() == 0 && p.value.size() + 1 == got.size())
            got.pop_back(); // a text's terminating zero
        EXPECT_EQ(got, p.value);
    }
    app.unload();
    std::setlocale(LC_ALL, before.c_str());
    if (!other)
        GTEST_LOG_(INFO) << "the other locale is not installed; read back in the same locale";
}

} // namespace
