#include "model_rig.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "th_equalization.h"

namespace {

using equalizer::EqualizationSettings;
using equalizer::ThEqualization;
using eqtest::DeviceState;
using eqtest::ModelRig;

constexpr uint32_t kChipPixels = 65536;
// Narrow models keep the sweeps short: offsets of sigma 2.5 and 1.5 codes a level need a window of about
// 40 codes for the responses of levels 0 and 7 (pulses of 0.05 V answer 5 codes off the edge).
const std::string kNarrow1 = "[Model]\nChips=1\nType=1\nOffsetSigma=2.5\nAdjGain=1.5\nNoiseWidth=0.7\n";
const std::string kNarrow4 = "[Model]\nChips=4\nType=2\nOffsetSigma=2.5\nAdjGain=1.5\nNoiseWidth=0.7\n";
constexpr int kNarrow1From = 105, kNarrow1To = 145;

struct Spread {
    double mean = 0;
    double sigma = 0;
};

// The true THL edges of every pixel under cfg (NaN for dead pixels).
std::vector<double> trueEdges(ModelRig& rig, const std::vector<uint8_t>& cfg)
{
    std::vector<double> edges(cfg.size());
    EXPECT_EQ(rig.model<ModelTrueEdgesFn>("modelTrueEdges")(0, 0, cfg.data(), edges.data(),
                                                            static_cast<uint32_t>(cfg.size())),
              0);
    return edges;
}

// Mean and deviation of the true edges of the enabled pixels of one chip under cfg.
Spread trueSpread(const std::vector<double>& edges, const std::vector<uint8_t>& cfg, int chip)
{
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

EqualizationSettings quickSettings()
{
    EqualizationSettings s;
    s.acqTime = 1e-6;
    s.pulseHeight = 0.05;
    return s;
}

std::string lastLog()
{
    const auto log = ModelRig::log();
    return log.empty() ? std::string() : log.back();
}

// Threshold from noise after a noise-edge run, per chip: with p % the chip's scanned DAC f leaves at most
// p % of the chip's unmasked pixels with an equalized edge at or beyond f on the noise side (the sweep's
// start side), and one code further in would leave more. The target is p % of the count fixed before
// stepping: a target taken from the shrinking remainder would walk f through the whole distribution.
void expectThresholdFromNoise(ModelRig& rig, ThEqualization& eq, int dacsPerChip, int scanned)
{
    const int chips = eq.chips();
    const bool downward = eq.scanStep() < 0;
    for (double p : {100.0, 50.0, 5.0, 0.0}) {
        SCOPED_TRACE(testing::Message() << p << " %");
        ASSERT_EQ(eq.thresholdFromNoise(p), 0);
        const std::vector<uint16_t> dacs = deviceDacs(rig, dacsPerChip * chips);
        const std::vector<uint8_t> cfg = devicePixels(rig, static_cast<uint32_t>(chips) * kChipPixels);
        for (int chip = 0; chip < chips; ++chip) {
            const int f = dacs[static_cast<size_t>(chip * dacsPerChip + scanned)];
            const double unmasked = kChipPixels - eq.maskedCount(chip);
            // Pixels responding at threshold t: their edge lies at or beyond t towards the sweep's start.
            const auto noisy = [&](int t) {
                int n = 0;
                for (uint32_t j = chip * kChipPixels; j < (chip + 1u) * kChipPixels; ++j) {
                    const int e = eq.edge(eq.levels(), j);
                    n += (cfg[j] & 1) && e != 0 && (downward ? e >= t : e <= t);
                }
                return n;
            };
            const int start = static_cast<int>(downward ? eq.mean(chip, eq.levels()) - 6 * eq.sigma(chip, eq.levels()) + 1
                                                        : eq.mean(chip, eq.levels()) + 6 * eq.sigma(chip, eq.levels()));
            EXPECT_LE(noisy(f), p * unmasked / 100) << "chip " << chip;
            if (f != start) {
                EXPECT_GT(noisy(downward ? f - 1 : f + 1), p * unmasked / 100) << "chip " << chip;
            } else {
                EXPECT_EQ(p, 100.0) << "chip " << chip; // only all pixels allowed keeps the window's edge
            }
        }
    }
}

struct RunCase {
    const char* name;
    std::string modelIni;
    int type;
    int from, to;
    int chips;
    int dacCount;
    int scanned; // THL's index
};

// All-levels runs on the model: the spread of the true edges shrinks to a third or less, every adjustment
// is the level whose recorded edge lies nearest the chip's target (the lowest on ties), and dead pixels end
// masked. After the noise-edge runs the threshold is set from the noise, and with four chips the chips are
// balanced.
TEST(ThEqualization, AllLevelsRunsNarrowTheTrueEdges)
{
    const RunCase cases[] = {
        {"noise edge, 1 chip type 1", kNarrow1 + "Dead=20\n", equalizer::kThlNoiseEdge, kNarrow1From, kNarrow1To, 1,
         13, 8},
        {"test pulses, 1 chip type 1", kNarrow1 + "Dead=20\n", equalizer::kThlTestPulses, 107, 150, 1, 13, 8},
        {"noise edge, 4 chips type 2", kNarrow4 + "Dead=5\n", equalizer::kThlNoiseEdge, 485, 538, 4, 15, 6},
        {"test pulses, 4 chips type 2", kNarrow4 + "Dead=5\n", equalizer::kThlTestPulses, 483, 535, 4, 15, 6},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModelRig rig(c.modelIni);
        const uint32_t pixels = static_cast<uint32_t>(c.chips) * kChipPixels;
        const std::vector<uint8_t> before = devicePixels(rig, pixels);
        const std::vector<uint16_t> dacsBefore = deviceDacs(rig, c.dacCount * c.chips);
        std::vector<Spread> at0;
        const std::vector<double> edgesBefore = trueEdges(rig, before);
        for (int chip = 0; chip < c.chips; ++chip)
            at0.push_back(trueSpread(edgesBefore, before, chip)); // adjustment 0 everywhere by default

        ThEqualization eq;
        ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
        ASSERT_EQ(eq.setSettings(quickSettings()), 0);
        ASSERT_EQ(eq.configure(c.type, false, c.from, c.to, 1), 0);
        ASSERT_EQ(eq.run(), 0) << lastLog();

        const std::vector<uint8_t> after = devicePixels(rig, pixels);
        EXPECT_EQ(after, eq.equalizedConfig());
        EXPECT_EQ(deviceDacs(rig, c.dacCount * c.chips), dacsBefore);
        const std::vector<double> edges = trueEdges(rig, after);
        for (int chip = 0; chip < c.chips; ++chip) {
            const Spread s1 = trueSpread(edges, after, chip);
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
        if (c.type == equalizer::kThlNoiseEdge)
            expectThresholdFromNoise(rig, eq, c.dacCount, c.scanned);
        else
            EXPECT_EQ(eq.thresholdFromNoise(50), -1); // only after a noise-edge run
        if (c.chips > 1) {
            // Chip i's pairs (s_i / s_0, m_i - m_0 s_i / s_0), s = 3 sigma and m the mean of the final sweep.
            ASSERT_EQ(eq.balanceChips(), 0);
            std::vector<double> coefs(static_cast<size_t>(2 * c.chips - 2));
            ASSERT_EQ(rig.table()->tvkCtrlGetDACRefCoef(0, coefs.data(), static_cast<int>(coefs.size()), 1), 0);
            const int L = eq.levels();
            for (int chip = 1; chip < c.chips; ++chip) {
                const double ratio = eq.sigma(chip, L) / eq.sigma(0, L);
                EXPECT_NEAR(coefs[2 * (chip - 1)], ratio, 1e-9) << chip;
                EXPECT_NEAR(coefs[2 * (chip - 1) + 1], eq.mean(chip, L) - eq.mean(0, L) * ratio, 1e-9) << chip;
            }
        } else {
            EXPECT_EQ(eq.balanceChips(), -1); // nothing to balance against
        }
    }
}

// The two-level interpolation: the level at which the line through the edges at levels 0 and 7 meets the
// target, rounded half up, kept in 0..7; edges falling with the level count from the other end.
TEST(ThEqualization, TwoLevelFormulaTable)
{
    struct Case {
        double target, e0, e1;
        int level;
    };
    const Case cases[] = {
        {99, 100, 114, 0},   // below both: level 0
        {100, 100, 114, 0},  // on e0
        {104.9, 100, 114, 2}, // 2.45 levels
        {105, 100, 114, 3},  // 2.5 rounds up
        {114, 100, 114, 7},  // on e1
        {130, 100, 114, 7},  // past e1: capped
        {99, 114, 100, 7},   // falling edges, below both: the last level
        {105, 114, 100, 4},  // 7 - 2.5 rounded up
        {114, 114, 100, 0},
        {200, 114, 100, 0},  // capped at 0
        {105, 107, 107, 7},  // no slope: the last level
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "target " << c.target << ", edges " << c.e0 << " " << c.e1);
        EXPECT_EQ(equalizer::twoLevelAdjustment(c.target, c.e0, c.e1, 7), c.level);
    }
}

// A two-level run measures levels 0 and 7 only, interpolates every pixel between them, narrows the true
// edges as the full run does, and its distribution file has the two measured levels and the equalized one.
TEST(ThEqualization, TwoLevelRunInterpolatesBetweenTheExtremeLevels)
{
    ModelRig rig(kNarrow1 + "Dead=20\n");
    const std::vector<uint8_t> before = devicePixels(rig, kChipPixels);
    ThEqualization eq;
    std::vector<int> levels;
    ASSERT_EQ(eq.setUp(rig.table(), 0, [&](unsigned m, int) { levels.push_back(m == equalizer::kMsgLevel); }), 0);
    ASSERT_EQ(eq.setSettings(quickSettings()), 0);
    ASSERT_EQ(eq.configure(equalizer::kThlNoiseEdge, true, kNarrow1From, kNarrow1To, 1), 0);
    ASSERT_EQ(eq.run(), 0) << lastLog();
    EXPECT_EQ(std::count(levels.begin(), levels.end(), 1), 3); // levels 0, 7 and the final sweep
    EXPECT_EQ(eq.lastMode(), 1);

    const std::vector<uint8_t> after = devicePixels(rig, kChipPixels);
    const std::vector<double> edges = trueEdges(rig, after);
    EXPECT_LE(trueSpread(edges, after, 0).sigma, trueSpread(trueEdges(rig, before), before, 0).sigma / 3);
    const double target = (eq.mean(0, 0) + eq.mean(0, 7)) / 2;
    for (uint32_t j = 0; j < kChipPixels; ++j) {
        EXPECT_EQ(eq.edge(3, j), 0) << "level 3 was measured at pixel " << j;
        if (std::isnan(edges[j])) {
            EXPECT_EQ(after[j] & 1, 0) << "dead pixel " << j << " enabled";
        }
        if (after[j] & 1) {
            ASSERT_EQ((after[j] >> 2) & 7, equalizer::twoLevelAdjustment(target, eq.edge(0, j), eq.edge(7, j), 7))
                << "pixel " << j;
        }
    }

    const std::string path = ombrel_test::scratchDir("eq-distributions") + "/dist.txt";
    ASSERT_EQ(eq.writeDistributions(path, nullptr), 0);
    const std::string text = ombrel_test::readFile(path);
    const std::string head = "Threshold equalization distributions\nType: THL with noise edge\nFrom: 145\nTo: 105\n"
                             "Step: -1\nChip 0\nAdj. bits 0\tAdj. bits 7\tAdj. equalized\n";
    ASSERT_EQ(text.rfind(head, 0), 0u) << text.substr(0, 200);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7 + (145 - 105));
    char line[64];
    std::snprintf(line, sizeof line, "\n%10d\t%10d\t%10d\n", eq.histogram(0, 0, 125), eq.histogram(7, 0, 125),
                  eq.histogram(8, 0, 125));
    EXPECT_EQ(text.substr(head.size() + 20 * 33 - 1, 34), std::string(line)); // value 125 = 145 - 20, 33 bytes a line

    std::string error;
    EXPECT_EQ(eq.writeDistributions("/nonexistent-folder/dist.txt", &error), -1);
    EXPECT_EQ(error.rfind("Cannot open file /nonexistent-folder/dist.txt for writing distributions: ", 0), 0u) << error;
    EXPECT_EQ(lastLog(), "equalizer: " + error);
}

// The operations that need a finished run refuse before one, and balancing refuses a chip 0 without spread.
TEST(ThEqualization, AfterRunOperationsRefuseWithoutARun)
{
    ModelRig rig("[Model]\nChips=4\nType=2\nOffsetSigma=1e-9\n"); // every pixel on its chip's edge: sigma 0
    ThEqualization eq;
    ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
    EXPECT_EQ(eq.rewindow(3), -1);
    EXPECT_EQ(eq.thresholdFromNoise(10), -1);
    EXPECT_EQ(eq.balanceChips(), -1);
    EXPECT_EQ(eq.writeDistributions(ombrel_test::scratchDir("eq-none") + "/d.txt", nullptr), -1);
    EXPECT_EQ(eq.spreadWidth(0), -1);
    ASSERT_EQ(eq.setSettings(quickSettings()), 0);
    ASSERT_EQ(eq.configure(equalizer::kThlNoiseEdge, true, 470, 540, 1), 0);
    ASSERT_EQ(eq.run(), 0) << lastLog();
    EXPECT_EQ(eq.sigma(0, eq.levels()), 0);
    EXPECT_EQ(eq.balanceChips(), -1); // s_0 = 0 would divide by zero
    EXPECT_EQ(eq.spreadWidth(0), 0);
}

// The re-windowing after a run: exactly the pixels whose equalized edge lies within k sigma of the chip's
// mean count, the rest are masked and counted; the configuration goes to the device.
TEST(ThEqualization, RewindowKeepsThePixelsInsideKSigma)
{
    ModelRig rig(kNarrow1 + "Dead=20\n");
    ThEqualization eq;
    ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
    ASSERT_EQ(eq.setSettings(quickSettings()), 0);
    ASSERT_EQ(eq.configure(equalizer::kThlNoiseEdge, true, kNarrow1From, kNarrow1To, 1), 0);
    ASSERT_EQ(eq.run(), 0) << lastLog();
    const double m = eq.mean(0, 8), s = eq.sigma(0, 8);
    for (double k : {1.0, 0.1, 6.0}) {
        SCOPED_TRACE(k);
        ASSERT_EQ(eq.rewindow(k), 0);
        const std::vector<uint8_t> cfg = devicePixels(rig, kChipPixels);
        int masked = 0;
        for (uint32_t j = 0; j < kChipPixels; ++j) {
            const int e = eq.edge(8, j);
            const bool inside = e != 0 && e >= m - k * s && e <= m + k * s;
            ASSERT_EQ(cfg[j] & 1, inside ? 1 : 0) << "pixel " << j << " edge " << e;
            masked += !inside;
        }
        EXPECT_EQ(eq.maskedCount(0), masked);
    }
}

// A failing device call in the first, a middle or the final sweep, or an abort, ends the run with -1 and
// its message, and the device gets back its DACs, pixel configuration (in the library and in the model),
// spacing and super-matrix conversion exactly.
TEST(ThEqualization, FailuresRestoreTheDevice)
{
    const char* const kSetCfg = "equalizer: Equalization: setting pix. cfgs. failed, aborting operation.";
    const char* const kSetDacs = "equalizer: Equalization: setting DACs failed, aborting operation.";
    const char* const kAcq = "equalizer: Equalization: acquisition failed, aborting operation.";
    const char* const kPulses = "equalizer: Equalization: test pulses acq. failed, aborting operation.";
    struct Case {
        const char* function; // null: an abort
        int type;
        const char* message;
    };
    const Case cases[] = {
        {"hwSetPixelsCfg", equalizer::kThlNoiseEdge, kSetCfg},
        {"hwSetTvkDACs", equalizer::kThlNoiseEdge, kSetDacs},
        {"hwReadMatrix", equalizer::kThlNoiseEdge, kAcq},
        {"hwTestPulses", equalizer::kThlTestPulses, kPulses},
        {nullptr, equalizer::kThlNoiseEdge, nullptr},
    };
    // A short window: a few codes around the edges of every level.
    constexpr int kFrom = 124, kTo = 136;
    // Calls of each function from the start of a run that succeeds (one run a type) to the start of each
    // of its sweeps, and to its end.
    std::map<int, std::map<std::string, std::vector<int64_t>>> atSweep;
    for (int type : {equalizer::kThlNoiseEdge, equalizer::kThlTestPulses}) {
        ModelRig rig(kNarrow1);
        ThEqualization eq;
        auto calls = rig.model<ModelCallsFn>("modelCalls");
        const char* const counted[] = {"hwSetPixelsCfg", "hwSetTvkDACs", "hwReadMatrix", "hwTestPulses"};
        std::map<std::string, int64_t> base;
        const auto record = [&] {
            for (const char* f : counted)
                atSweep[type][f].push_back(calls(0, f) - base[f]);
        };
        ASSERT_EQ(eq.setUp(rig.table(), 0,
                           [&](unsigned m, int) {
                               if (m == equalizer::kMsgLevel)
                                   record();
                           }),
                  0);
        ASSERT_EQ(eq.setSettings(quickSettings()), 0);
        ASSERT_EQ(eq.configure(type, false, kFrom, kTo, 1), 0);
        for (const char* f : counted)
            base[f] = calls(0, f);
        ASSERT_EQ(eq.run(), 0) << lastLog();
        record();
        ASSERT_EQ(atSweep[type]["hwReadMatrix"].size(), 10u);
        ASSERT_GE(atSweep[type]["hwReadMatrix"][9] - atSweep[type]["hwReadMatrix"][8], 2); // the final sweep has a middle
    }
    for (const Case& c : cases) {
        const std::vector<int64_t>& at = atSweep[c.type][c.function ? c.function : "hwReadMatrix"];
        for (int sweep : {0, 4, 8}) {
            SCOPED_TRACE(std::string(c.function ? c.function : "abort") + " in sweep " + std::to_string(sweep));
            ModelRig rig(kNarrow1);
            const _MgrFuncTable* t = rig.table();
            ASSERT_EQ(t->tvkCtrlSetAcqSpacing(0, 3), 0);
            ASSERT_EQ(t->tvkCtrlSetAutoConvToSM(0, 0), 0);
            std::vector<uint8_t> cfg(kChipPixels, 1);
            cfg[77] = 0x1C;
            cfg[78] = 0;
            ASSERT_EQ(t->tvkCtrlSetPixelsCfg(0, cfg.data(), kChipPixels, -1), 0);
            const DeviceState before = DeviceState::of(rig);
            ASSERT_EQ(before.modelPixels, cfg);
            // Half way through the sweep's calls.
            const int64_t middle = (at[static_cast<size_t>(sweep)] + at[static_cast<size_t>(sweep) + 1]) / 2;
            ThEqualization eq;
            auto calls = rig.model<ModelCallsFn>("modelCalls");
            const int64_t base = calls(0, "hwReadMatrix");
            ASSERT_EQ(eq.setUp(t, 0,
                               [&](unsigned m, int) {
                                   if (!c.function && m == equalizer::kMsgDacStep &&
                                       calls(0, "hwReadMatrix") - base >= middle)
                                       eq.abort();
                               }),
                      0);
            ASSERT_EQ(eq.setSettings(quickSettings()), 0);
            ASSERT_EQ(eq.configure(c.type, false, kFrom, kTo, 1), 0);
            if (c.function) {
                ASSERT_EQ(rig.model<ModelFailAtFn>("modelFailAt")(0, c.function, static_cast<int>(middle)), 0);
            }
            EXPECT_EQ(eq.run(), -1);
            if (c.message) {
                EXPECT_EQ(lastLog(), c.message);
            }
            EXPECT_EQ(DeviceState::of(rig), before);
            EXPECT_EQ(eq.lastMethod(), 0);
        }
    }
}

// configure: refusals, the sweep's direction by polarity and chip type, the end on the grid. A range of one
// value runs once per sweep and ends (guarded by a time-out: a sweep that never ends is the fault).
TEST(ThEqualization, ConfigureTable)
{
    struct Case {
        int chipType;
        int polarity;
        int type;
        int first, second, step;
        int result;
        int start, end, signedStep;
        const char* why = ""; // the refusal's text
    };
    const Case cases[] = {
        {1, 1, 2, 10, 100, 3, 0, 100, 10, -3},  // downward from the larger value, end on the grid
        {1, 0, 2, 100, 10, 3, 0, 10, 100, 3},   // upward
        {2, 0, 2, 10, 100, 5, 0, 100, 10, -5},  // type 2 inverts the polarity
        {1, 1, 9, 10, 100, 5, 0, 10, 100, 5},   // THH source sweeps upward
        {1, 0, 11, 10, 100, 5, 0, 100, 10, -5}, // THH noise: downward with polarity clear
        {1, 1, 2, 50, 52, 5, 0, 52, 47, -5},    // shorter than a step: swept once
        {1, 0, 2, 52, 50, 5, 0, 50, 55, 5},
        {1, 1, 2, 50, 50, 1, 0, 50, 49, -1},
        {3, 1, 11, 10, 100, 5, -1, 0, 0, 0, "Method 11 (THH with noise) is refused on chip type 3."},
        {3, 1, 9, 10, 100, 5, -1, 0, 0, 0, "Method 9 (THH with source) needs the DAC THH, which the device does not have."},
        {1, 1, 2, 10, 100, 0, -1, 0, 0, 0, "Step (0) must not be 0."}, // never moves
        {1, 1, 2, -1, 100, 1, -1, 0, 0, 0, "From (-1) is outside the range of THL, 0..255."},
        {1, 1, 2, 10, 256, 1, -1, 0, 0, 0, "To (256) is outside the range of THL, 0..255."},
        {1, 1, 2, 0, 1023, 4, -1, 0, 0, 0, "To (1023) is outside the range of THL, 0..255."},
        {1, 1, 8, 10, 100, 1, -1, 0, 0, 0, "Method (8) is not a method type: 1..7 or 9..12."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "chip type " << c.chipType << ", polarity " << c.polarity << ", type "
                                        << c.type << ", " << c.first << ".." << c.second << " by " << c.step);
        ModelRig rig("[Model]\nType=" + std::to_string(c.chipType) + "\n");
        ASSERT_EQ(rig.table()->tvkCtrlSetPolarity(0, c.polarity), 0);
        ThEqualization eq;
        int values = 0;
        ASSERT_EQ(eq.setUp(rig.table(), 0, [&](unsigned m, int) { values += m == equalizer::kMsgDacStep; }), 0);
        std::string why;
        ASSERT_EQ(eq.configure(c.type, false, c.first, c.second, c.step, &why), c.result);
        EXPECT_EQ(why, c.why);
        if (c.result != 0)
            continue;
        EXPECT_EQ(eq.scanStart(), c.start);
        EXPECT_EQ(eq.scanEnd(), c.end);
        EXPECT_EQ(eq.scanStep(), c.signedStep);
        if (c.start + c.signedStep != c.end)
            continue;
        // One value: at most one acquisition in each of the 9 sweeps (fewer once every pixel is masked).
        ASSERT_EQ(eq.setSettings(quickSettings()), 0);
        auto run = std::async(std::launch::async, [&] { return eq.run(); });
        if (run.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            eq.abort();
            ADD_FAILURE() << "the run did not end";
        }
        EXPECT_EQ(run.get(), 0) << lastLog();
        EXPECT_GE(values, 1);
        EXPECT_LE(values, 9);
        EXPECT_EQ(rig.model<ModelCallsFn>("modelCalls")(0, "hwStartAcquisition"), values);
    }
}

// Every method measures the pixels in S x S interleaved sub-masks, the noise methods as well as the
// test-pulse ones: each configuration sent in phase i of a sweep enables only pixels of rows i / P,
// i / P + P, ... and columns i mod P, i mod P + P, ..., every sweep runs P x P phases, and the sub-masks
// together measure every pixel. The pitch P is S rounded up to a power of two only with test pulses on chip
// types 2 and 3, whose pulses then go to exactly the enabled pixels.
TEST(ThEqualization, EveryMethodMeasuresInSubMasks)
{
    const std::string narrowType2 = "[Model]\nChips=1\nType=2\nOffsetSigma=2.5\nAdjGain=1.5\nNoiseWidth=0.7\n";
    struct Case {
        const char* name;
        std::string modelIni;
        int type;
        int from, to;
        int spacing;
        int pitch;
    };
    const Case cases[] = {
        {"noise edge, chip type 1", kNarrow1, equalizer::kThlNoiseEdge, kNarrow1From, kNarrow1To, 2, 2},
        {"noise centre, chip type 1", kNarrow1, equalizer::kThlNoiseCenter, kNarrow1From, kNarrow1To, 2, 2},
        {"noise edge, chip type 2", narrowType2, equalizer::kThlNoiseEdge, 485, 530, 3, 3},
        {"test pulses, chip type 2", narrowType2, equalizer::kThlTestPulses, 483, 530, 3, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelRig rig(c.modelIni);
        auto lastPixels = rig.model<ModelLastPixelsFn>("modelLastPixels");
        const bool pulses = c.type == equalizer::kThlTestPulses;
        std::vector<int> phasesPerSweep;
        std::vector<uint8_t> sent(kChipPixels);
        std::string wrong; // the first configuration that leaves its sub-mask
        ThEqualization eq;
        const auto notify = [&](unsigned m, int) {
            if (m == equalizer::kMsgLevel)
                phasesPerSweep.push_back(0);
            else if (m == equalizer::kMsgPhase)
                ++phasesPerSweep.back();
            if (m != equalizer::kMsgDacStep || !wrong.empty())
                return;
            const int phase = phasesPerSweep.back();
            ASSERT_EQ(lastPixels(0, sent.data(), kChipPixels), 0);
            for (uint32_t j = 0; j < kChipPixels && wrong.empty(); ++j) {
                const bool inside = static_cast<int>(j / 256) % c.pitch == phase / c.pitch &&
                                    static_cast<int>(j % 256) % c.pitch == phase % c.pitch;
                if ((sent[j] & 1) && !inside)
                    wrong = "pixel " + std::to_string(j) + " enabled in phase " + std::to_string(phase);
                if (pulses && ((sent[j] & 1) != 0) == ((sent[j] & 2) != 0))
                    wrong = "pixel " + std::to_string(j) + ": test pulses not exactly on the enabled pixels";
            }
        };
        ASSERT_EQ(eq.setUp(rig.table(), 0, notify), 0);
        EqualizationSettings s = quickSettings();
        s.spacing = c.spacing;
        ASSERT_EQ(eq.setSettings(s), 0);
        ASSERT_EQ(eq.configure(c.type, true, c.from, c.to, 1), 0);
        ASSERT_EQ(eq.run(), 0) << lastLog();
        EXPECT_EQ(wrong, "");
        EXPECT_EQ(phasesPerSweep, std::vector<int>(3, c.pitch * c.pitch)); // levels 0 and 7, the final sweep

        // Every sub-mask was measured: nearly all of its pixels end enabled with an equalized edge.
        const std::vector<uint8_t> after = devicePixels(rig, kChipPixels);
        std::vector<int> measured(static_cast<size_t>(c.pitch * c.pitch)), all(measured.size());
        for (uint32_t j = 0; j < kChipPixels; ++j) {
            const size_t phase = static_cast<size_t>(j / 256 % c.pitch * c.pitch + j % 256 % c.pitch);
            ++all[phase];
            measured[phase] += (after[j] & 1) && eq.edge(eq.levels(), j) != 0;
        }
        for (size_t phase = 0; phase < all.size(); ++phase)
            EXPECT_GE(measured[phase], 0.9 * all[phase]) << "phase " << phase;
    }
}

// Frames of a device whose listed pixels count in every acquisition, enabled or not: their mask does not
// hold.
struct StuckPixels {
    static inline int (*frame)(unsigned, uint32_t*, uint32_t, int) = nullptr;
    static inline std::vector<uint32_t> pixels;
    static int frame32(unsigned dev, uint32_t* buffer, uint32_t size, int index)
    {
        const int r = frame(dev, buffer, size, index);
        if (r == 0)
            for (uint32_t j : pixels)
                if (j < size)
                    buffer[j] += 1000;
        return r;
    }
};

// A pixel that counts while disabled is masked as soon as it does, with and without test pulses: the edge
// it shows at the sweep's first value never enters a level's statistics, and the run ends exactly as it
// does with the same pixels dead.
TEST(ThEqualization, PixelsCountingWhileDisabledAreMasked)
{
    struct Case {
        const char* name;
        int type;
        int from, to;
    };
    const Case cases[] = {
        {"noise edge", equalizer::kThlNoiseEdge, kNarrow1From, kNarrow1To},
        {"test pulses", equalizer::kThlTestPulses, 107, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct Result {
            std::vector<double> means, sigmas;
            int masked = 0;
            std::vector<uint8_t> cfg;
        };
        const auto runOn = [&](const _MgrFuncTable* table, Result* out) {
            ThEqualization eq;
            ASSERT_EQ(eq.setUp(table, 0, nullptr), 0);
            ASSERT_EQ(eq.setSettings(quickSettings()), 0);
            ASSERT_EQ(eq.configure(c.type, true, c.from, c.to, 1), 0);
            ASSERT_EQ(eq.run(), 0) << lastLog();
            for (int column : {0, eq.levels() - 1, eq.levels()}) {
                out->means.push_back(eq.mean(0, column));
                out->sigmas.push_back(eq.sigma(0, column));
            }
            out->masked = eq.maskedTotal();
            out->cfg = eq.equalizedConfig();
        };
        Result dead, stuck;
        {
            ModelRig rig(kNarrow1 + "Dead=20\n");
            runOn(rig.table(), &dead);
        }
        ModelRig rig(kNarrow1 + "Dead=20\n");
        const std::vector<double> edges = trueEdges(rig, devicePixels(rig, kChipPixels));
        StuckPixels::pixels.clear();
        for (uint32_t j = 0; j < kChipPixels; ++j)
            if (std::isnan(edges[j]))
                StuckPixels::pixels.push_back(j);
        ASSERT_EQ(StuckPixels::pixels.size(), 20u);
        _MgrFuncTable table = *rig.table();
        StuckPixels::frame = table.tvkCtrlGetFrame32;
        table.tvkCtrlGetFrame32 = StuckPixels::frame32;
        runOn(&table, &stuck);
        StuckPixels::pixels.clear();

        EXPECT_EQ(stuck.means, dead.means);
        EXPECT_EQ(stuck.sigmas, dead.sigmas);
        EXPECT_EQ(stuck.masked, dead.masked);
        EXPECT_EQ(stuck.cfg, dead.cfg);
        for (uint32_t j = 0; j < kChipPixels; ++j)
            if (std::isnan(edges[j])) {
                EXPECT_EQ(stuck.cfg[j] & 1, 0) << "pixel " << j;
            }
    }
}

TEST(ThEqualization, SettingsAreRefusedOutOfRange)
{
    ModelRig rig("[Model]\n");
    ThEqualization eq;
    ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
    struct Case {
        const char* name;
        void (*change)(EqualizationSettings&);
        const char* why;
    };
    const Case cases[] = {
        // every pixel would be masked: test-pulse columns are chosen below 32
        {"spacing 33", [](EqualizationSettings& s) { s.spacing = 33; }, "Spacing S (33) is outside 1..32."},
        {"one chip at a time", [](EqualizationSettings& s) { s.oneChipAtATime = true; },
         "One chip at a time needs more than one chip; the device has 1."},
        {"no acquisition", [](EqualizationSettings& s) { s.acqCount = 0; }, "Acquisitions (0) must be at least 1."},
        {"negative time", [](EqualizationSettings& s) { s.acqTime = -0.5; },
         "Acq. time (-0.5 s) must not be negative."},
        {"negative factor", [](EqualizationSettings& s) { s.countThresholdFactor = -2; },
         "Count threshold factor (-2) must not be negative."},
    };
    for (const Case& c : cases) {
        EqualizationSettings s;
        c.change(s);
        std::string why;
        EXPECT_EQ(eq.setSettings(s, &why), -1) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
    }
}

} // namespace

namespace {

// The method labels (the distribution file's "Type:" line and the window's method list): the five fixed
// ones, type 6 naming its TOT measurement, and no two types sharing a text (5 and 6 once did).
TEST(ThEqualization, MethodLabels)
{
    const std::pair<int, const char*> fixed[] = {
        {1, "THL with source"},
        {2, "THL with noise edge"},
        {3, "THL with noise center (centroid)"},
        {4, "THL with noise center (cross)"},
        {5, "THL with test pulses"},
        {6, "THL with test pulses in TOT (chip type 3)"},
    };
    for (const auto& [type, label] : fixed)
        EXPECT_STREQ(equalizer::methodLabel(type), label) << type;
    std::set<std::string> seen;
    for (int type : {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12}) {
        ASSERT_NE(equalizer::methodLabel(type), nullptr) << type;
        EXPECT_TRUE(seen.insert(equalizer::methodLabel(type)).second) << type;
    }
    EXPECT_EQ(equalizer::methodLabel(8), nullptr);
}

} // namespace
