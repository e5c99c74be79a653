#include "model_rig.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "th_equalization.h"

namespace {

using equalizer::EqualizationSettings;
using equalizer::ThEqualization;
using eqtest::ModelRig;

constexpr uint32_t kChipPixels = 65536;

struct Spread {
    double mean = 0;
    double sigma = 0;
};

// Mean and deviation of the true THL edges of the enabled pixels of one chip under cfg.
Spread trueSpread(ModelRig& rig, const std::vector<uint8_t>& cfg, int chip)
{
    std::vector<double> edges(cfg.size());
    EXPECT_EQ(rig.model<ModelTrueEdgesFn>("modelTrueEdges")(0, 0, cfg.data(), edges.data(),
                                                            static_cast<uint32_t>(cfg.size())),
              0);
    double n = 0, sum = 0, squares = 0;
    for (uint32_t j = chip * kChipPixels; j < (chip + 1u) * kChipPixels; ++j) {
        if (!(cfg[j] & 1) || std::isnan(edges[j]))
            continue;
        n += 1;
        sum += edges[j];
        squares += edges[j] * edges[j];
    }
    const double mean = sum / n;
    return {mean, std::sqrt(squares / n - mean * mean)};
}

std::vector<uint8_t> devicePixels(const ModelRig& rig, uint32_t size)
{
    std::vector<uint8_t> cfg(size);
    EXPECT_EQ(rig.table()->tvkCtrlGetPixelsCfg(0, cfg.data(), size, -1), 0);
    return cfg;
}

std::vector<uint16_t> deviceDacs(const ModelRig& rig, int count)
{
    std::vector<uint16_t> dacs(static_cast<size_t>(count));
    EXPECT_EQ(rig.table()->tvkCtrlGetDACs(0, dacs.data(), count, -1), 0);
    return dacs;
}

struct RunCase {
    const char* name;
    const char* modelIni;
    int type;
    int from, to;
    int chips;
    int dacCount;
};

// All-levels runs on the model: the spread of the true edges shrinks to a third or less, every adjustment
// is the level whose recorded edge lies nearest the chip's target (the lowest on ties), and dead pixels end
// masked.
TEST(ThEqualization, AllLevelsRunsNarrowTheTrueEdges)
{
    const RunCase cases[] = {
        {"noise edge, 1 chip type 1", "[Model]\nChips=1\nType=1\nDead=20\n", equalizer::kThlNoiseEdge, 40, 200, 1, 13},
        {"test pulses, 1 chip type 1", "[Model]\nChips=1\nType=1\nDead=20\n", equalizer::kThlTestPulses, 40, 230, 1,
         13},
        {"noise edge, 4 chips type 2", "[Model]\nChips=4\nType=2\nDead=5\n", equalizer::kThlNoiseEdge, 400, 620, 4,
         60},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModelRig rig(c.modelIni);
        const uint32_t pixels = static_cast<uint32_t>(c.chips) * kChipPixels;
        const std::vector<uint8_t> before = devicePixels(rig, pixels);
        const std::vector<uint16_t> dacsBefore = deviceDacs(rig, c.dacCount);
        std::vector<Spread> at0;
        for (int chip = 0; chip < c.chips; ++chip)
            at0.push_back(trueSpread(rig, before, chip)); // adjustment 0 everywhere by default

        ThEqualization eq;
        ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
        EqualizationSettings s;
        s.acqTime = 1e-6;
        ASSERT_EQ(eq.setSettings(s), 0);
        ASSERT_EQ(eq.configure(c.type, false, c.from, c.to, 1), 0);
        ASSERT_EQ(eq.run(), 0) << (ModelRig::log().empty() ? "" : ModelRig::log().back());

        const std::vector<uint8_t> after = devicePixels(rig, pixels);
        EXPECT_EQ(after, eq.equalizedConfig());
        EXPECT_EQ(deviceDacs(rig, c.dacCount), dacsBefore);
        std::vector<double> edges(pixels);
        ASSERT_EQ(rig.model<ModelTrueEdgesFn>("modelTrueEdges")(0, 0, after.data(), edges.data(), pixels), 0);
        for (int chip = 0; chip < c.chips; ++chip) {
            const Spread s1 = trueSpread(rig, after, chip);
            EXPECT_LE(s1.sigma, at0[static_cast<size_t>(chip)].sigma / 3) << "chip " << chip;
            double target = 0;
            for (int a = 0; a < eq.levels(); ++a)
                target += eq.mean(chip, a);
            target /= eq.levels();
            for (uint32_t j = chip * kChipPixels; j < (chip + 1u) * kChipPixels; ++j) {
                if (std::isnan(edges[j])) {
                    EXPECT_EQ(after[j] & 1, 0) << "dead pixel " << j << " enabled";
                }
                if (!(after[j] & 1))
                    continue;
                int best = 0;
                for (int a = 1; a < eq.levels(); ++a)
                    if (std::abs(eq.edge(a, j) - target) < std::abs(eq.edge(best, j) - target))
                        best = a;
                ASSERT_EQ((after[j] >> 2) & 7, best) << "pixel " << j;
            }
        }
    }
}

// A failing device call at any stage ends the run with -1 and its message, and the device gets back its
// DACs, pixel configuration, spacing and super-matrix conversion exactly.
TEST(ThEqualization, FailuresRestoreTheDevice)
{
    struct Case {
        const char* function;
        int k;
        int type;
        const char* message;
    };
    const Case cases[] = {
        {"hwSetPixelsCfg", 1, equalizer::kThlNoiseEdge, "equalizer: Equalization: setting pix. cfgs. failed, aborting operation."},
        {"hwSetTvkDACs", 40, equalizer::kThlNoiseEdge, "equalizer: Equalization: setting DACs failed, aborting operation."},
        {"hwReadMatrix", 300, equalizer::kThlNoiseEdge, "equalizer: Equalization: acquisition failed, aborting operation."},
        {"hwTestPulses", 1, equalizer::kThlTestPulses, "equalizer: Equalization: test pulses acq. failed, aborting operation."},
        {"hwTestPulses", 500, equalizer::kThlTestPulses, "equalizer: Equalization: test pulses acq. failed, aborting operation."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " #" + std::to_string(c.k));
        ModelRig rig("[Model]\nChips=1\nType=1\n");
        const _MgrFuncTable* t = rig.table();
        ASSERT_EQ(t->tvkCtrlSetAcqSpacing(0, 3), 0);
        std::vector<uint8_t> cfg(kChipPixels, 1);
        cfg[77] = 0x1C;
        ASSERT_EQ(t->tvkCtrlSetPixelsCfg(0, cfg.data(), kChipPixels, -1), 0);
        const std::vector<uint16_t> dacs = deviceDacs(rig, 13);
        ThEqualization eq;
        ASSERT_EQ(eq.setUp(t, 0, nullptr), 0);
        EqualizationSettings s;
        s.acqTime = 1e-6;
        ASSERT_EQ(eq.setSettings(s), 0);
        ASSERT_EQ(eq.configure(c.type, false, 60, 200, 1), 0);
        ASSERT_EQ(rig.model<ModelFailAtFn>("modelFailAt")(0, c.function, c.k), 0);
        EXPECT_EQ(eq.run(), -1);
        const auto log = ModelRig::log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.message);
        EXPECT_EQ(devicePixels(rig, kChipPixels), cfg);
        std::vector<uint8_t> sent(kChipPixels);
        ASSERT_EQ(rig.model<ModelLastPixelsFn>("modelLastPixels")(0, sent.data(), kChipPixels), 0);
        EXPECT_EQ(sent, cfg);
        EXPECT_EQ(deviceDacs(rig, 13), dacs);
        int spacing = 0, conv = 0;
        EXPECT_EQ(t->tvkCtrlGetAcqSpacing(0, &spacing), 0);
        EXPECT_EQ(spacing, 3);
        EXPECT_EQ(t->tvkCtrlGetAutoConvToSM(0, &conv), 0);
        EXPECT_EQ(conv, 1);
    }
}

TEST(ThEqualization, AbortEndsTheRunAsAFailureAndRestores)
{
    ModelRig rig("[Model]\nChips=1\nType=1\n");
    ThEqualization eq;
    const std::vector<uint8_t> before = devicePixels(rig, kChipPixels);
    int steps = 0;
    ASSERT_EQ(eq.setUp(rig.table(), 0,
                       [&](unsigned message, int) {
                           if (message == equalizer::kMsgDacStep && ++steps == 10)
                               eq.abort();
                       }),
              0);
    EqualizationSettings s;
    s.acqTime = 1e-6;
    ASSERT_EQ(eq.setSettings(s), 0);
    ASSERT_EQ(eq.configure(equalizer::kThlNoiseEdge, false, 60, 200, 1), 0);
    EXPECT_EQ(eq.run(), -1);
    EXPECT_EQ(steps, 10);
    EXPECT_EQ(devicePixels(rig, kChipPixels), before);
    EXPECT_EQ(eq.lastMethod(), 0);
}

// configure: refusals, the sweep's direction by polarity and chip type, the end on the grid.
TEST(ThEqualization, ConfigureTable)
{
    struct Case {
        int chipType;
        int polarity;
        int type;
        int first, second, step;
        int result;
        int start, end, signedStep;
    };
    const Case cases[] = {
        {1, 1, 2, 10, 100, 3, 0, 100, 10, -3},  // downward from the larger value, end on the grid
        {1, 0, 2, 100, 10, 3, 0, 10, 100, 3},   // upward
        {2, 0, 2, 10, 100, 5, 0, 100, 10, -5},  // type 2 inverts the polarity
        {1, 1, 9, 10, 100, 5, 0, 10, 100, 5},   // THH source sweeps upward
        {1, 0, 11, 10, 100, 5, 0, 100, 10, -5}, // THH noise: downward with polarity clear
        {1, 1, 2, 50, 52, 5, 0, 52, 47, -5},    // shorter than a step: swept once
        {1, 1, 2, 50, 50, 1, 0, 50, 49, -1},
        {3, 1, 11, 10, 100, 5, -1, 0, 0, 0},    // THH noise on chip type 3
        {3, 1, 9, 10, 100, 5, -1, 0, 0, 0},     // no THH on chip type 3
        {1, 1, 2, 10, 100, 0, -1, 0, 0, 0},     // step 0 never moves
        {1, 1, 2, -1, 100, 1, -1, 0, 0, 0},     // outside the DAC's range
        {1, 1, 2, 10, 256, 1, -1, 0, 0, 0},
        {1, 1, 8, 10, 100, 1, -1, 0, 0, 0},     // type 8 is not used
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "chip type " << c.chipType << ", polarity " << c.polarity << ", type "
                                        << c.type << ", " << c.first << ".." << c.second << " by " << c.step);
        ModelRig rig("[Model]\nType=" + std::to_string(c.chipType) + "\n");
        ASSERT_EQ(rig.table()->tvkCtrlSetPolarity(0, c.polarity), 0);
        ThEqualization eq;
        ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
        ASSERT_EQ(eq.configure(c.type, false, c.first, c.second, c.step), c.result);
        if (c.result != 0)
            continue;
        EXPECT_EQ(eq.scanStart(), c.start);
        EXPECT_EQ(eq.scanEnd(), c.end);
        EXPECT_EQ(eq.scanStep(), c.signedStep);
    }
}

TEST(ThEqualization, SettingsAreRefusedOutOfRange)
{
    ModelRig rig("[Model]\n");
    ThEqualization eq;
    ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
    EqualizationSettings s;
    s.spacing = 33; // every pixel would be masked: test-pulse columns are chosen below 32
    EXPECT_EQ(eq.setSettings(s), -1);
    s.spacing = 4;
    s.oneChipAtATime = true; // one chip only
    EXPECT_EQ(eq.setSettings(s), -1);
    s.oneChipAtATime = false;
    s.acqCount = 0;
    EXPECT_EQ(eq.setSettings(s), -1);
}

} // namespace
