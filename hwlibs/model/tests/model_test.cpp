#include "ombrel_test_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "detector_model.h"
#include "model_control.h"
#include "platform/module.h"
#include "tvk_hw.h"

namespace {

using hwmodel::DetectorModel;
using hwmodel::ModelParams;

constexpr uint32_t kPixel = 300; // row 1, column 44

ModelParams params(int chipType, int chips = 1)
{
    ModelParams p;
    p.chipType = chipType;
    p.chips = chips;
    return p;
}

// DACs of all chips with THL (and THH) of every chip set.
std::vector<uint16_t> dacsWith(const DetectorModel& m, double thl, double thh = 0)
{
    std::vector<uint16_t> dacs(static_cast<size_t>(m.params().chips * m.dacs().count), 0);
    for (int chip = 0; chip < m.params().chips; ++chip) {
        dacs[static_cast<size_t>(chip * m.dacs().count + m.dacs().thl)] = static_cast<uint16_t>(std::lround(thl));
        if (m.dacs().thh >= 0)
            dacs[static_cast<size_t>(chip * m.dacs().count + m.dacs().thh)] = static_cast<uint16_t>(std::lround(thh));
    }
    return dacs;
}

TEST(DetectorModel, AdjustmentBitsMoveTheEdgeByTheGain)
{
    struct Case {
        int chipType;
        uint8_t cfg;
        int thlLevel;
        int thhLevel;
    };
    const Case cases[] = {
        {1, 0x01, 0, 0}, {1, 0x1D, 7, 0}, {1, 0x21, 0, 1}, {1, 0xFD, 7, 7},
        {2, 0x09, 2, 0}, {3, 0x3D, 15, 0}, {3, 0x25, 9, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.chipType << " cfg " << int(c.cfg));
        const DetectorModel m(params(c.chipType));
        EXPECT_NEAR(m.thlEdge(kPixel, 0x01) - m.thlEdge(kPixel, c.cfg), 6.0 * c.thlLevel, 1e-9);
        if (m.dacs().thh >= 0) {
            EXPECT_NEAR(m.thhEdge(kPixel, 0x01) - m.thhEdge(kPixel, c.cfg), 6.0 * c.thhLevel, 1e-9);
        }
    }
}

TEST(DetectorModel, OffsetsFollowTheSeedAndSigma)
{
    const DetectorModel a(params(1)), b(params(1));
    ModelParams other = params(1);
    other.seed = 2;
    const DetectorModel c(other);
    double sum = 0, squares = 0;
    const uint32_t n = a.pixelCount();
    for (uint32_t j = 0; j < n; ++j) {
        const double e = a.thlEdge(j, 1) - 128.0;
        sum += e;
        squares += e * e;
    }
    EXPECT_EQ(a.thlEdge(kPixel, 1), b.thlEdge(kPixel, 1));
    EXPECT_NE(a.thlEdge(kPixel, 1), c.thlEdge(kPixel, 1));
    EXPECT_NEAR(sum / n, 0.0, 0.2);
    EXPECT_NEAR(std::sqrt(squares / n), 10.0, 0.2);
}

TEST(DetectorModel, ExposureGivesANoisePeakOnTheEdge)
{
    DetectorModel m(params(1));
    std::vector<uint8_t> cfg(m.pixelCount(), 3);
    const double edge = m.thlEdge(kPixel, 3);
    struct Case {
        double distance;
        bool counts;
    };
    for (const Case& c : {Case{0, true}, Case{1, true}, Case{-1, true}, Case{12, false}, Case{-12, false}}) {
        std::vector<uint16_t> counts(m.pixelCount(), 0);
        const auto dacs = dacsWith(m, edge + c.distance);
        m.expose(cfg.data(), {dacs.data(), true, 0}, counts.data());
        const double expected = 1000.0 * std::exp(-std::pow(std::lround(edge + c.distance) - edge, 2) / 8.0);
        EXPECT_NEAR(counts[kPixel], expected, 0.51) << c.distance;
        EXPECT_EQ(counts[kPixel] > 10, c.counts) << c.distance;
    }
    // A masked pixel counts nothing.
    cfg[kPixel] = 2;
    std::vector<uint16_t> counts(m.pixelCount(), 0);
    const auto dacs = dacsWith(m, edge);
    m.expose(cfg.data(), {dacs.data(), true, 0}, counts.data());
    EXPECT_EQ(counts[kPixel], 0);
}

TEST(DetectorModel, TestPulsesFormAnSCurveOnTheQuietSideByPolarity)
{
    // Half the pulses are counted where the threshold lies the pulse height on the quiet side of the
    // edge: above it with effective polarity set (polarity 1 on type 1, 0 on types 2 and 3).
    struct Case {
        int chipType;
        bool polarity;
        int quietSign;
    };
    for (const Case& c : {Case{1, true, 1}, Case{1, false, -1}, Case{2, false, 1}, Case{3, true, -1}}) {
        SCOPED_TRACE(testing::Message() << "type " << c.chipType << " polarity " << c.polarity);
        DetectorModel m(params(c.chipType));
        std::vector<uint8_t> cfg(m.pixelCount(), 1); // counting, test input on
        const double edge = m.thlEdge(kPixel, 1);
        auto counted = [&](double distance) {
            std::vector<uint16_t> counts(m.pixelCount(), 0);
            const auto dacs = dacsWith(m, edge + c.quietSign * distance);
            m.pulse(cfg.data(), {dacs.data(), c.polarity, 0xFFFFFFFFu}, 0.2, 1000, counts.data());
            return counts[kPixel];
        };
        EXPECT_NEAR(counted(20), 500, 200);
        EXPECT_EQ(counted(35), 0);
        EXPECT_EQ(counted(5), 1000);
        EXPECT_EQ(counted(-30), 1000);
    }
}

TEST(DetectorModel, PulsesReachOnlyPixelsWithTheTestInputOnAndTheirColumnSelected)
{
    DetectorModel m(params(2));
    std::vector<uint8_t> cfg(m.pixelCount(), 1);
    cfg[kPixel + 1] = 3; // test input off
    const auto dacs = dacsWith(m, 0);
    std::vector<uint16_t> counts(m.pixelCount(), 0);
    // Type 2 inverts the polarity: with polarity 1 the quiet side lies below the edge, where THL 0 is.
    m.pulse(cfg.data(), {dacs.data(), true, 1u << (kPixel % 32)}, 0.5, 100, counts.data());
    EXPECT_EQ(counts[kPixel], 0);
    std::fill(counts.begin(), counts.end(), 0);
    m.pulse(cfg.data(), {dacs.data(), false, 1u << (kPixel % 32)}, 0.5, 100, counts.data());
    EXPECT_EQ(counts[kPixel], 100);
    EXPECT_EQ(counts[kPixel + 1], 0);
    EXPECT_EQ(counts[kPixel + 2], 0); // its column is not selected
    EXPECT_EQ(counts[kPixel + 32], 100);
}

TEST(DetectorModel, CountersStopAtTheirMaximumAndDeadPixelsNeverCount)
{
    ModelParams p = params(1);
    p.dead = 100;
    DetectorModel m(p);
    std::vector<uint8_t> cfg(m.pixelCount(), 1);
    const auto dacs = dacsWith(m, 0);
    std::vector<uint16_t> counts(m.pixelCount(), 0);
    for (int i = 0; i < 3; ++i)
        m.pulse(cfg.data(), {dacs.data(), true, 0}, 2.5, 5000, counts.data());
    uint32_t dead = 0;
    for (uint32_t j = 0; j < m.pixelCount(); ++j) {
        if (m.isDead(j)) {
            ++dead;
            EXPECT_EQ(counts[j], 0);
        } else if (m.thlEdge(j, 1) > 30) {
            EXPECT_EQ(counts[j], 8000);
        }
    }
    EXPECT_EQ(dead, 100u);
}

// The library as the device-control library loads it.
class ModelLibrary : public testing::Test {
protected:
    void load(const std::string& ini)
    {
        const std::string folder = ombrel_test::scratchDir(
            std::string("hwmodel-") + testing::UnitTest::GetInstance()->current_test_info()->name());
        const std::string path = folder + "/tvkHwModel.so";
        std::filesystem::copy_file(HWMODEL_LIBRARY_PATH, path);
        ASSERT_TRUE(ombrel_test::writeFile(folder + "/tvkHwModel.ini", ini));
        ASSERT_TRUE(module_.open(path)) << module_.error();
        hw_ = reinterpret_cast<GetMandatoryFuncsFn>(module_.symbol(TVK_HW_ENTRY_NAME))();
        int id = -1;
        ASSERT_EQ(hw_->hwGetFirst(&id), 0);
        ASSERT_EQ(hw_->hwInit(id), 0);
    }
    template <typename Fn>
    Fn control(const char* name)
    {
        return reinterpret_cast<Fn>(module_.symbol(name));
    }

    plat::Module module_;
    _HwFuncTable* hw_ = nullptr;
};

TEST_F(ModelLibrary, FourChipsServeTheirLayoutReadBackAndDeadPixels)
{
    load("[Model]\nChips=4\nType=2\nDead=3\nInterface=dorvel\n");
    _DevInfo info{};
    ASSERT_EQ(hw_->hwGetDevInfo(0, &info), 0);
    EXPECT_EQ(info.pixelCount, 4 * 65536);
    EXPECT_EQ(info.rowLength, 512);
    EXPECT_EQ(info.chipType, 2);
    EXPECT_STREQ(info.chipboardId, "M0");
    EXPECT_STREQ(info.interfaceName, "dorvel");

    std::vector<uint16_t> dacs(4 * 15, 0);
    EXPECT_NE(hw_->hwSetTvkDACs(0, dacs.data(), 15, 0, 0, nullptr, 0), 0);
    EXPECT_STREQ(hw_->hwGetLastError(0), "15 DAC values sent, 60 expected.");
    dacs[2 * 15 + 6] = 1023; // THL of chip 2, 10 bits, sense code 6
    const int codes[] = {6, 6, 6, 6};
    ASSERT_EQ(hw_->hwSetTvkDACs(0, dacs.data(), 60, 255, 0, codes, 0), 0);
    double volts = -1;
    ASSERT_EQ(hw_->hwGetTvkDacVal(0, 2, &volts), 0);
    EXPECT_DOUBLE_EQ(volts, 1.5);
    ASSERT_EQ(hw_->hwGetTvkDacVal(0, 0, &volts), 0);
    EXPECT_DOUBLE_EQ(volts, 0.0);
    uint16_t back[60];
    ASSERT_EQ(control<ModelLastDacsFn>("modelLastDacs")(0, back, 60), 0);
    EXPECT_EQ(back[36], 1023);

    // A written pattern reads back once, with zeros in the dead pixels, whose true edges are NaN.
    std::vector<uint16_t> pattern(4 * 65536, 77), read(pattern.size(), 1);
    ASSERT_EQ(hw_->hwWriteMatrix(0, pattern.data(), 4 * 65536), 0);
    ASSERT_EQ(hw_->hwReadMatrix(0, read.data(), 4 * 65536), 0);
    std::vector<double> edges(pattern.size());
    ASSERT_EQ(control<ModelTrueEdgesFn>("modelTrueEdges")(0, 0, nullptr, edges.data(), 4 * 65536), 0);
    int zeros = 0;
    for (size_t j = 0; j < read.size(); ++j) {
        zeros += read[j] == 0;
        EXPECT_EQ(read[j] == 0, std::isnan(edges[j]));
    }
    EXPECT_EQ(zeros, 12);
    ASSERT_EQ(hw_->hwReadMatrix(0, read.data(), 4 * 65536), 0);
    EXPECT_EQ(std::count(read.begin(), read.end(), 0), static_cast<long>(read.size()));
}

TEST_F(ModelLibrary, InjectedFailureHitsTheKthCallOnce)
{
    load("[Model]\n");
    auto failAt = control<ModelFailAtFn>("modelFailAt");
    auto calls = control<ModelCallsFn>("modelCalls");
    std::vector<uint8_t> cfg(65536, 1);
    ASSERT_EQ(failAt(0, "hwSetPixelsCfg", 2), 0);
    EXPECT_EQ(hw_->hwSetPixelsCfg(0, cfg.data(), 65536), 0);
    EXPECT_NE(hw_->hwSetPixelsCfg(0, cfg.data(), 65536), 0);
    EXPECT_STREQ(hw_->hwGetLastError(0), "Injected failure of hwSetPixelsCfg.");
    EXPECT_EQ(hw_->hwSetPixelsCfg(0, cfg.data(), 65536), 0);
    EXPECT_EQ(calls(0, "hwSetPixelsCfg"), 3);
    EXPECT_EQ(failAt(5, "hwSetPixelsCfg", 1), -1);
}

} // namespace
