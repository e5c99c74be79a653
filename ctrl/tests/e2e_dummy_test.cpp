// End to end through the C API on simulated detectors: a scratch module folder whose hwlibs holds a copy
// of tvkHwDummy.so with a settings file and input images written here. Frame, test-pulse and digital-test
// acquisitions, numbered frame files of every format, new devices, abort from another thread, exit while
// an acquisition runs, and the noise of two devices.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "registry.h"
#include "tvk_frame_info.h"
#include "tvk_ctrl.h"
#include "wait_until.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kPixels = 65536;
constexpr uint32_t kSide = 256;
constexpr int kItemPoissonNoise = 1;
constexpr int kItemTimeElement = 2;

// A detector image for device n: smooth ramps with values up to about 12000, different per device.
std::vector<int16_t> imageFor(int n)
{
    std::vector<int16_t> image(kPixels);
    for (uint32_t i = 0; i < kPixels; ++i) {
        const uint32_t x = i % kSide;
        const uint32_t y = i / kSide;
        image[i] = static_cast<int16_t>((x * (37u + 11u * static_cast<uint32_t>(n)) + y * 53u) % 12000u);
    }
    return image;
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void writeAsciiImage(const std::string& path, const std::vector<int16_t>& image)
{
    std::string text;
    for (uint32_t i = 0; i < kPixels; ++i) {
        text += std::to_string(image[i]);
        text += (i + 1) % kSide == 0 ? "\n" : " ";
    }
    writeText(path, text);
}

std::string dummyIni(int count, int unique)
{
    return "[Dummy]\nCount=" + std::to_string(count) + "\nUnique=" + std::to_string(unique) + "\n";
}

std::string deviceMessage(unsigned dev)
{
    const char* text = nullptr;
    getInfoMsg(static_cast<int>(dev), nullptr, &text);
    return text ? text : "";
}

// Callback state of the tests (the callbacks are plain C functions).
std::atomic<int> g_acqStarts{0};
std::atomic<int> g_newDevice{-1};
void onAcqStart(int) { ++g_acqStarts; }
void onDevNew(int devIndex) { g_newDevice = devIndex; }

class DummyEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> serial{0};
        const char* base = std::getenv("OMBREL_TEST_TMP");
        const fs::path root = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
                              ("ctrl_e2e_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                               "_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        root_ = root.string();
        fs::remove_all(root_);
        fs::create_directories(root_ + "/hwlibs");
        fs::copy_file(HWDUMMY_PATH, root_ + "/hwlibs/tvkHwDummy.so");
        DeviceRegistry::instance().setModuleFolderOverride(root_);
        g_acqStarts = 0;
        g_newDevice = -1;
    }

    void TearDown() override
    {
        exitTvkCtrl();
        setCbAcqStart(nullptr);
        setCbTvkDevNew(nullptr);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // count devices; with unique set, device n serves dummy_<2000 + n>.txt, else all serve dummy_2000.txt.
    void start(int count, int unique)
    {
        writeText(hwlib("tvkHwDummy.ini"), dummyIni(count, unique));
        for (int n = 0; n < (unique ? count : 1); ++n)
            writeAsciiImage(hwlib("dummy_" + std::to_string(2000 + n) + ".txt"), imageFor(n));
        ASSERT_EQ(initTvkCtrl(), 0);
        int found = 0;
        unsigned first = 99;
        ASSERT_EQ(getFirstTvk(&first, &found), 0);
        ASSERT_EQ(found, count);
        ASSERT_EQ(first, 0u);
    }

    std::string hwlib(const std::string& name) const { return root_ + "/hwlibs/" + name; }
    std::string scratch(const std::string& name) const { return root_ + "/" + name; }

    static void setNoise(unsigned dev, bool on)
    {
        const int32_t value = on ? 1 : 0;
        ASSERT_EQ(setHwInfoItem(dev, kItemPoissonNoise, &value, sizeof value), 0) << deviceMessage(dev);
    }
    static void setTimeElement(unsigned dev, double seconds)
    {
        ASSERT_EQ(setHwInfoItem(dev, kItemTimeElement, &seconds, sizeof seconds), 0) << deviceMessage(dev);
    }

    static std::vector<int16_t> frame(unsigned dev, int index)
    {
        std::vector<int16_t> data(kPixels, -1);
        EXPECT_EQ(getFrame16(dev, data.data(), kPixels, index), 0) << deviceMessage(dev);
        return data;
    }

    static double acqTimeOf(unsigned dev, int index)
    {
        double t = -1.0;
        uint32_t size = sizeof t;
        int type = -1;
        EXPECT_EQ(getFrameAttrib(dev, index, "Acq time", &t, &size, &type), 0);
        EXPECT_EQ(type, TYPE_DOUBLE);
        return t;
    }

private:
    std::string root_;
};

// The counts a simulated device gives for an image: trunc(value x factor), folded into 0..8000, the factor
// being the measured exposure over the time element.
std::vector<int16_t> expectedCounts(const std::vector<int16_t>& image, double exposure, double timeElement)
{
    const double factor = exposure / timeElement;
    std::vector<int16_t> out(kPixels);
    for (uint32_t i = 0; i < kPixels; ++i) {
        const double product = image[i] * factor;
        const uint32_t v = product > 0.0 ? static_cast<uint32_t>(product) : 0u;
        out[i] = static_cast<int16_t>(v % 8001u);
    }
    return out;
}

TEST_F(DummyEndToEnd, FramesFollowTheImageScaledByTheirOwnExposureOnTwoDevices)
{
    start(2, 1);
    const double timeElement = 0.005; // images of up to 12000 x about 4 fold into the counter range
    for (unsigned dev = 0; dev < 2; ++dev) {
        char chipboard[64] = "";
        ASSERT_EQ(getTarvikInfo(dev, nullptr, nullptr, chipboard, nullptr), 0);
        EXPECT_STREQ(chipboard, dev == 0 ? "2000" : "2001");
        setNoise(dev, false);
        setTimeElement(dev, timeElement);
        ASSERT_EQ(performFrameAcq(dev, 3, 0.02, 0, nullptr), 0) << deviceMessage(dev);
        int index = -1, count = -1, kind = -1, done = -1;
        ASSERT_EQ(getAcqInfo(dev, &index, &count, &kind, &done), 0);
        EXPECT_EQ(index, 2);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(kind, 0);
        EXPECT_EQ(done, 3);
        bool folded = false;
        for (int f = 0; f < 3; ++f) {
            const double exposure = acqTimeOf(dev, f);
            EXPECT_GE(exposure, 0.02);
            const std::vector<int16_t> expected = expectedCounts(imageFor(static_cast<int>(dev)), exposure, timeElement);
            EXPECT_EQ(frame(dev, f), expected) << "device " << dev << " frame " << f;
            for (uint32_t i = 0; i < kPixels && !folded; ++i)
                folded = imageFor(static_cast<int>(dev))[i] * (exposure / timeElement) >= 8001.0;
        }
        EXPECT_TRUE(folded) << "the image should reach beyond the counter range";
    }
}

TEST_F(DummyEndToEnd, DigitalTestAndTestPulsesAfterAFrameAcquisition)
{
    start(2, 1);
    for (unsigned dev = 0; dev < 2; ++dev) {
        int good = -1;
        ASSERT_EQ(performDigitalTest(dev, &good, nullptr, 0, 0.0), 0) << deviceMessage(dev);
        EXPECT_EQ(good, 65536);

        // Every third pixel masked: test pulses count only in the enabled ones.
        std::vector<uint8_t> cfg(kPixels, 0xFF);
        for (uint32_t i = 0; i < kPixels; i += 3)
            cfg[i] = 0xFE;
        ASSERT_EQ(setPixelsCfg(dev, cfg.data(), kPixels, -1), 0);
        ASSERT_EQ(performFrameAcq(dev, 1, 0.01, 0, nullptr), 0) << deviceMessage(dev);
        ASSERT_EQ(performTestPulseAcq(dev, 0.5, 0.00001, 100, 0), 0) << deviceMessage(dev);
        const std::vector<int16_t> pulses = frame(dev, 0);
        for (uint32_t i = 0; i < kPixels; ++i)
            ASSERT_EQ(pulses[i], i % 3 == 0 ? 0 : 100) << "pixel " << i;
        // The acquisition restored the configuration it changed for its sub-mask.
        std::vector<uint8_t> after(kPixels);
        ASSERT_EQ(getPixelsCfg(dev, after.data(), kPixels, -1), 0);
        EXPECT_EQ(after, cfg);
    }
}

TEST_F(DummyEndToEnd, RaisingCountAndFindingNewDevicesAddsOne)
{
    start(2, 1);
    setCbTvkDevNew(&onDevNew);
    writeAsciiImage(hwlib("dummy_2002.txt"), imageFor(2));
    writeText(hwlib("tvkHwDummy.ini"), dummyIni(3, 1));
    ASSERT_EQ(findNewTvks(), 0);
    int count = 0;
    unsigned first = 0;
    ASSERT_EQ(getFirstTvk(&first, &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(g_newDevice, 2);
    char chipboard[64] = "";
    ASSERT_EQ(getTarvikInfo(2, nullptr, nullptr, chipboard, nullptr), 0);
    EXPECT_STREQ(chipboard, "2002");
    int good = 0;
    ASSERT_EQ(performDigitalTest(2, &good, nullptr, 0, 0.0), 0) << deviceMessage(2);
    EXPECT_EQ(good, 65536);
}

TEST_F(DummyEndToEnd, NumberedFrameFilesOfEveryFormatLoadBackEqual)
{
    start(1, 1);
    // Unscaled images: every frame equals the stored image whatever the measured exposure.
    setNoise(0, false);
    setTimeElement(0, 0.0);
    const std::vector<int16_t> image = imageFor(0);
    struct Case {
        const char* name;
        uint32_t flags;
    };
    const Case cases[] = {
        {"binary", FSAVE_BINARY},
        {"ascii", FSAVE_ASCII},
        {"binary_u32", FSAVE_BINARY | FSAVE_U32},
        {"ascii_double", FSAVE_ASCII | FSAVE_DOUBLE},
        {"ascii_nodsc", FSAVE_ASCII | FSAVE_NODSC},
        {"binary_sparse_xy", FSAVE_BINARY | FSAVE_SPARSEXY},
        {"ascii_sparse_xy", FSAVE_ASCII | FSAVE_SPARSEXY},
        {"binary_sparse_index", FSAVE_BINARY | FSAVE_SPARSEX},
        {"ascii_sparse_index", FSAVE_ASCII | FSAVE_SPARSEX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = scratch(std::string(c.name) + ".dat");
        ASSERT_EQ(performFrameAcq(0, 3, 0.001, c.flags, base.c_str()), 0) << deviceMessage(0);
        for (int f = 0; f < 3; ++f) {
            const std::string numbered = scratch(std::string(c.name) + std::to_string(f) + ".dat");
            EXPECT_TRUE(fs::exists(numbered)) << numbered;
            // Read back from its file by the frame getter.
            EXPECT_EQ(frame(0, f), image) << numbered;
        }
    }
    // Memory frames saved by saveFrame as numbered files (two digits for 12 frames) load back equal too.
    ASSERT_EQ(performFrameAcq(0, 12, 0.001, 0, nullptr), 0);
    ASSERT_EQ(saveFrame(0, scratch("saved.txt").c_str(), -1, FSAVE_ASCII | FSAVE_SPARSEX), 0) << deviceMessage(0);
    for (int f = 0; f < 12; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "saved%02d.txt", f);
        TvkFrameInfo loaded;
        ASSERT_EQ(loaded.init(scratch(name).c_str(), false), 0) << loaded.getLastErr();
        std::vector<int16_t> data(kPixels, -1);
        uint32_t size = kPixels * sizeof(int16_t);
        ASSERT_EQ(loaded.getData(data.data(), &size, TYPE_I16), 0);
        EXPECT_EQ(data, frame(0, f)) << name;
    }
}

TEST_F(DummyEndToEnd, AbortFromAnotherThreadEndsALongAcquisition)
{
    start(1, 1);
    setCbAcqStart(&onAcqStart);
    // An exposure far longer than the wait's limit: an end within it is the abort's.
    auto running = std::async(std::launch::async, [] { return performFrameAcq(0, 1, 600.0, 0, nullptr); });
    ASSERT_TRUE(ombrel_test::waitUntil([] { return g_acqStarts > 0; }));
    ASSERT_EQ(abortOperation(0), 0);
    ASSERT_EQ(running.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "not ended by the abort";
    EXPECT_EQ(running.get(), -152);
    EXPECT_EQ(deviceMessage(0), "Acquisition aborted.");
    std::vector<int16_t> data(kPixels);
    EXPECT_EQ(getFrame16(0, data.data(), kPixels, 0), -115);
}

TEST_F(DummyEndToEnd, ExitWhileAnAcquisitionRunsEndsItAborted)
{
    start(2, 1);
    setCbAcqStart(&onAcqStart);
    auto running = std::async(std::launch::async, [] { return performFrameAcq(1, 2, 600.0, 0, nullptr); });
    ASSERT_TRUE(ombrel_test::waitUntil([] { return g_acqStarts > 0; }));
    EXPECT_EQ(exitTvkCtrl(), 0);
    ASSERT_EQ(running.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "not ended by the exit";
    EXPECT_EQ(running.get(), -152);
    std::vector<int16_t> data(kPixels);
    EXPECT_EQ(getFrame16(1, data.data(), kPixels, 0), -102);
    EXPECT_EQ(performFrameAcq(1, 1, 0.0, 0, nullptr), -102);
}

TEST_F(DummyEndToEnd, TwoDevicesOnOneImageGiveIndependentNoise)
{
    start(2, 0);
    const double timeElement = 0.1;
    std::vector<double> residual[2];
    for (unsigned dev = 0; dev < 2; ++dev) {
        setTimeElement(dev, timeElement);
        ASSERT_EQ(performFrameAcq(dev, 1, 0.01, 0, nullptr), 0) << deviceMessage(dev);
        const std::vector<int16_t> counts = frame(dev, 0);
        const std::vector<int16_t> mean = expectedCounts(imageFor(0), acqTimeOf(dev, 0), timeElement);
        for (uint32_t i = 0; i < kPixels; ++i)
            residual[dev].push_back(static_cast<double>(counts[i]) - mean[i]);
    }
    // Noise drawn from one sequence would correlate almost fully; independent noise hardly at all.
    double sum01 = 0, sum00 = 0, sum11 = 0;
    for (uint32_t i = 0; i < kPixels; ++i) {
        sum01 += residual[0][i] * residual[1][i];
        sum00 += residual[0][i] * residual[0][i];
        sum11 += residual[1][i] * residual[1][i];
    }
    ASSERT_GT(sum00, 0.0);
    ASSERT_GT(sum11, 0.0);
    EXPECT_LT(std::fabs(sum01 / std::sqrt(sum00 * sum11)), 0.5);
}

} // namespace
