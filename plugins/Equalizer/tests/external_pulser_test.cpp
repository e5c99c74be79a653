#include "model_rig.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "external_pulser.h"

namespace {

using equalizer::EqualizationSettings;
using equalizer::ExternalPulser;
using equalizer::ThEqualization;
using eqtest::ModelRig;

// An application folder whose hwlibs/ holds the given pulser library as hpPulser.so (none for "").
std::string appFolderWith(const std::string& library)
{
    const std::string folder = ombrel_test::scratchDir("pulser");
    std::filesystem::create_directories(folder + "/hwlibs");
    if (!library.empty())
        std::filesystem::copy_file(library, folder + "/hwlibs/hpPulser.so");
    return folder;
}

std::string pulserLog(const std::string& folder)
{
    plat::Module lib;
    if (!lib.open(folder + "/hwlibs/hpPulser.so"))
        return lib.error();
    char text[8192];
    reinterpret_cast<int (*)(char*, unsigned)>(lib.symbol("simPulserLog"))(text, sizeof text);
    return text;
}

// Without the library or one of its functions, the pulser types are refused with one log line naming the
// reason, and the other types still configure.
TEST(ExternalPulser, MissingLibraryOrFunctionRefusesThePulserTypes)
{
    struct Case {
        const char* library;
        const char* reasonPart;
    };
    const Case cases[] = {
        {"", "hpPulser.so"},
        {SIM_PULSER_PARTIAL_PATH, "HppSetSettings"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reasonPart);
        ModelRig rig("[Model]\nChips=1\nType=1\n");
        ExternalPulser pulser(rig.table(), appFolderWith(c.library));
        ThEqualization eq;
        ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
        const EqualizationSettings s;
        for (int type : {equalizer::kThlExtPulser, equalizer::kThhExtPulser})
            EXPECT_EQ(equalizer::configureEqualization(eq, pulser, 0, s, type, false, 60, 200, 1), -1) << type;
        EXPECT_EQ(equalizer::configureEqualization(eq, pulser, 0, s, equalizer::kThlTestPulses, false, 60, 200, 1), 0);
        std::string text;
        EXPECT_EQ(pulser.getSettings(&text), -1);
        EXPECT_EQ(pulser.prepare(0, 0, 1), -1);

        const auto log = ModelRig::log();
        ASSERT_EQ(log.size(), 1u);
        const std::string head = "equalizer: External test pulser library hwlibs/hpPulser.so is not available: ";
        EXPECT_EQ(log[0].rfind(head, 0), 0u) << log[0];
        EXPECT_NE(log[0].find(c.reasonPart, head.size()), std::string::npos) << log[0];
        EXPECT_EQ(log[0].back(), '.');
    }
}

// With the library, a pulser run prepares every phase of the sub-mask pitch with the pulse count first;
// a failing preparation ends the run with its message; settings go through as text.
TEST(ExternalPulser, PreparesEachPhaseAndFailsTheRunWhenItCannot)
{
    ModelRig rig("[Model]\nChips=1\nType=1\n");
    const std::string folder = appFolderWith(SIM_PULSER_PATH);
    ExternalPulser pulser(rig.table(), folder);
    ThEqualization eq;
    ASSERT_EQ(eq.setUp(rig.table(), 0, nullptr), 0);
    EqualizationSettings s;
    s.acqTime = 1e-6;
    s.spacing = 2;
    s.pulseCount = 40;
    ASSERT_EQ(eq.setSettings(s), 0);
    ASSERT_EQ(equalizer::configureEqualization(eq, pulser, 0, s, equalizer::kThlExtPulser, false, 150, 160, 1), 0);
    // A failing preparation ends the run at its first acquisition.
    ASSERT_EQ(pulser.setSettings("fail=1\n"), 0);
    const eqtest::DeviceState before = eqtest::DeviceState::of(rig);
    EXPECT_EQ(eq.run(), -1);
    ASSERT_FALSE(ModelRig::log().empty());
    EXPECT_EQ(ModelRig::log().back(), "equalizer: Preparing of external pulser failed, aborting operation.");
    EXPECT_EQ(eqtest::DeviceState::of(rig), before);
    EXPECT_EQ(pulserLog(folder), "count 40\nprepare 0 0/2\n");

    ASSERT_EQ(pulser.setSettings("fail=0\n"), 0);
    ASSERT_EQ(eq.run(), 0) << (ModelRig::log().empty() ? "" : ModelRig::log().back());
    // Each acquisition: the count, then the phase, of the 2 x 2 phases of the pitch, the first level's in
    // order.
    const std::string calls = pulserLog(folder);
    std::vector<int> phases;
    for (size_t at = 0; at < calls.size();) {
        const size_t end = calls.find('\n', calls.find('\n', at) + 1);
        ASSERT_NE(end, std::string::npos) << calls.substr(at);
        const std::string pair = calls.substr(at, end - at);
        ASSERT_EQ(pair.rfind("count 40\nprepare 0 ", 0), 0u) << pair;
        ASSERT_EQ(pair.substr(pair.size() - 2), "/2") << pair;
        const int phase = std::stoi(pair.substr(19));
        ASSERT_TRUE(phase >= 0 && phase < 4) << pair;
        if (phases.empty() || phases.back() != phase)
            phases.push_back(phase);
        at = end + 1;
    }
    ASSERT_GE(phases.size(), 4u);
    EXPECT_EQ(std::vector<int>(phases.begin(), phases.begin() + 4), (std::vector<int>{0, 1, 2, 3}));

    std::string text;
    ASSERT_EQ(pulser.getSettings(&text), 0);
    EXPECT_EQ(text, "pulses=40\nfail=0\n");
    EXPECT_EQ(pulser.setSettings("pulses=7\nbogus=1\n"), -1);
    ASSERT_EQ(pulser.getSettings(&text), 0);
    EXPECT_EQ(text, "pulses=40\nfail=0\n");
}

} // namespace
