// The settings checks with their messages, the settings file, and the result files.
#include <string>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "pulse_files.h"
#include "pulse_settings.h"

namespace {

TEST(PulseSettingsCheck, BadValuesGiveTheirMessages)
{
    struct Case {
        const char* key;
        const char* text;
        unsigned width, height;
        const char* error; // null: accepted
    } cases[] = {
        {pulsekey::EnhanceFactor, "1", 256, 256, nullptr},
        {pulsekey::EnhanceFactor, "16", 256, 256, nullptr},
        {pulsekey::EnhanceFactor, "0.99", 256, 256, kBadFactor},
        {pulsekey::EnhanceFactor, "16.01", 256, 256, kBadFactor},
        {pulsekey::EnhanceFactor, "nan", 256, 256, kBadFactor},
        {pulsekey::EnhanceFactor, "inf", 256, 256, kBadFactor},
        {pulsekey::EnhanceFactor, "two", 256, 256, kBadFactor},
        {pulsekey::EnhanceFactor, "16", 512, 512, kBadFactor}, // 8192 x 8192 enhanced pixels
        {pulsekey::EnhanceFactor, "8", 512, 512, nullptr},
        {pulsekey::OverlapLevel, "0", 0, 0, nullptr},
        {pulsekey::OverlapLevel, "65535", 0, 0, nullptr},
        {pulsekey::OverlapLevel, "65536", 0, 0, kBadOverlap},
        {pulsekey::OverlapLevel, "-1", 0, 0, kBadOverlap},
        {pulsekey::OverlapLevel, "1.5", 0, 0, kBadOverlap},
        {pulsekey::ClusterThreshold, "0", 0, 0, kBadValue},
        {pulsekey::ClusterThreshold, "65536", 0, 0, kBadValue},
        {pulsekey::ClusterThreshold, "1", 0, 0, nullptr},
        {pulsekey::SpectrumScale, "0", 0, 0, kBadValue},
        {pulsekey::SpectrumScale, "0.5", 0, 0, nullptr},
        {pulsekey::SpectrumScale, "1e9", 0, 0, kBadValue},
        {pulsekey::ShapeHistory, "1001", 0, 0, kBadValue},
        {pulsekey::ShapeHistory, "", 0, 0, kBadValue},
        {pulsekey::MinRoundness, "-0.1", 0, 0, kBadValue},
        {pulsekey::MinRoundness, " 0.5 ", 0, 0, nullptr},
        {pulsekey::MinClusterSize, "99999999999", 0, 0, kBadValue},
        {pulsekey::BaselineOffset, "-65535", 0, 0, nullptr},
        {pulsekey::BaselineOffset, "70000", 0, 0, kBadValue},
        {pulsekey::BaselineOn, "2", 0, 0, kBadValue},
    };
    const PulseSettings base;
    for (const Case& c : cases) {
        const PulseSettingsCheck r = checkPulseSettings({{c.key, c.text}}, base, c.width, c.height);
        EXPECT_EQ(r.error, c.error ? c.error : "") << c.key << " = " << c.text;
        if (c.error) {
            EXPECT_EQ(r.key, c.key);
        }
    }
    // The first bad value is the one reported.
    const PulseSettingsCheck two = checkPulseSettings(
        {{pulsekey::ShapeHistory, "x"}, {pulsekey::OverlapLevel, "x"}}, base, 0, 0);
    EXPECT_EQ(two.error, kBadValue);
    EXPECT_EQ(two.key, pulsekey::ShapeHistory);
}

TEST(PulseSettingsFile, PathAndRoundTrip)
{
    EXPECT_EQ(pulseSettingsPath("/cfg/", "usb", "B7-W12", 64), "/cfg/PulseScan_usb_B7-W12.txt");
    const char unterminated[4] = {'A', 'B', 'C', 'D'};
    EXPECT_EQ(pulseSettingsPath("/cfg/", "fake", unterminated, sizeof unterminated), "/cfg/PulseScan_fake_ABCD.txt");

    const std::string dir = ombrel_test::scratchDir("pulse_settings");
    const std::string file = dir + "/PulseScan_fake_F0.txt";
    EXPECT_EQ(loadPulseSettings(file).enhanceFactor, PulseSettings().enhanceFactor) << "no file: defaults";
    PulseSettings s;
    s.baselineOn = false;
    s.baselineOffset = -12;
    s.shapeHistory = 3;
    s.spectrumScale = 1.25;
    s.clusterThreshold = 40;
    s.minClusterSize = 2;
    s.minRoundness = 0.45;
    s.enhanceFactor = 1.3;
    s.overlapLevel = 900;
    ASSERT_EQ(savePulseSettings(file, s), 0);
    const std::string text = ombrel_test::readFile(file);
    EXPECT_NE(text.find("[Settings]\n"), std::string::npos);
    EXPECT_NE(text.find("EnhanceFactor=1.3\n"), std::string::npos) << text;
    const PulseSettings back = loadPulseSettings(file);
    EXPECT_EQ(pulseSettingTexts(back), pulseSettingTexts(s));

    // One bad value keeps only its own default; keys match whatever their case.
    ombrel_test::writeFile(file, "[settings]\r\nenhancefactor = 40\r\nShapeHistory=7\r\n");
    const PulseSettings mixed = loadPulseSettings(file);
    EXPECT_EQ(mixed.enhanceFactor, PulseSettings().enhanceFactor);
    EXPECT_EQ(mixed.shapeHistory, 7u);
}

TEST(PulseResultFiles, SpectraAsSeriesLinesImagesAsMatrices)
{
    PulseAnalysis a;
    PulseSettings s;
    s.baselineOn = false;
    s.enhanceFactor = 1.5;
    a.setSettings(s);
    std::vector<uint16_t> frame(3 * 2, 0);
    frame[4] = 2; // (1, 1)
    const uint16_t pulse[] = {3, 5, 1};
    a.analyse(frame.data(), 3, 2, pulse, 3);
    const PulseResults& r = a.results();
    EXPECT_EQ(pulseImageText(r.coincidence), "0 0 0\n0 1 0\n");
    EXPECT_EQ(pulseImageText(r.heightSquares), "0 0 0\n0 25 0\n");
    EXPECT_EQ(pulseImageText(r.enhancedCoincidence), "0 0 0 0 0\n0 0 0 0 0\n0 0 1 0 0\n");

    const std::string dir = ombrel_test::scratchDir("pulse_results");
    ASSERT_EQ(savePulseResults(dir, r), 0);
    std::string expectedSpectrum;
    for (unsigned i = 0; i < kSpectrumSize; ++i)
        expectedSpectrum += i == 5 ? "1 \t" : "0 \t";
    EXPECT_EQ(ombrel_test::readFile(dir + "/" + kSpectrumFile), expectedSpectrum + "\n");
    EXPECT_EQ(ombrel_test::readFile(dir + "/" + kSizeSpectrumFile), "0 \t1 \t\n");
    EXPECT_EQ(ombrel_test::readFile(dir + "/Coincidence image.txt"), "0 0 0\n0 1 0\n");

    std::string error;
    EXPECT_NE(savePulseResults(dir + "/missing/folder", r, &error), 0);
    EXPECT_FALSE(error.empty());
}

} // namespace
