// The preview's [Preview] section: defaults from a missing file, one write in table order, exact round
// trips under a comma locale, unusable values falling back to defaults, and no file touched without a path.
#include "preview_settings.h"

#include <clocale>
#include <filesystem>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "platform/ini.h"

namespace {

const char* const kTableOrder[] = {
    "Visible", "CountRate", "AutoRange", "AutoRangeType", "MinSliderLocked", "MaxSliderLocked", "ShowHistogram",
    "HistAutoRange", "HistRefine", "UnderRangeWarning", "OverRangeWarning", "LoadFrameRange", "SaveFrameRange",
    "IgnoreMasked", "SaveImageFlags", "SaveImageSize", "SaveImageWidth", "SaveImageHeight", "AutoUpdate",
    "ColorMap", "Min", "Max", "Mirror", "Rotation", "InterpolateImage", "ShowGrid", "MaxAutoUpdateMode",
    "MaskPixVal", "ThlShiftPixVal", "Flags", "ShowCmd", "Left", "Top", "Right", "Bottom"};

TEST(PreviewSettings, MissingFileGivesTheDefaults)
{
    const std::string dir = ombrel_test::scratchDir("prevset-missing");
    PreviewSettings s;
    s.colorMap = 3;
    s.load(dir + "/none.ini");
    const PreviewSettings d;
    EXPECT_EQ(s.entries(), d.entries());
    EXPECT_EQ(s.visible, 1);
    EXPECT_EQ(s.showHistogram, 1);
    EXPECT_EQ(s.saveImageFlags, 7);
    EXPECT_EQ(s.saveImageWidth, 512);
    EXPECT_EQ(s.maxAutoUpdateMode, 4);
    EXPECT_EQ(s.showCmd, 5);
    EXPECT_EQ(s.maskPixVal, 1.0);
    EXPECT_FALSE(s.hasPlacement);
    EXPECT_FALSE(std::filesystem::exists(dir + "/none.ini"));
}

TEST(PreviewSettings, WritesEveryKeyInTableOrderAndReadsBackUnderACommaLocale)
{
    const std::string dir = ombrel_test::scratchDir("prevset-order");
    const std::string path = dir + "/p.ini";
    ASSERT_TRUE(ombrel_test::writeFile(path, "[Other]\nkeep = 1\n[Preview]\nUnknown = 3\nMin = 9\n"));
    PreviewSettings s;
    s.min = 0.1;
    s.max = 12345.678901;
    s.maskPixVal = 2.5e-7;
    s.thlShiftPixVal = -3;
    s.rotation = 270;
    s.colorMap = 2;
    s.left = -10, s.top = 20, s.right = 400, s.bottom = 500;
    const char* old = std::setlocale(LC_ALL, "de_DE.UTF-8"); // where it is missing, the C locale stays
    ASSERT_EQ(s.save(path), 0);
    PreviewSettings r;
    r.load(path);
    if (old)
        std::setlocale(LC_ALL, "C");
    EXPECT_EQ(r.entries(), s.entries());
    EXPECT_EQ(r.max, 12345.678901);
    EXPECT_EQ(r.maskPixVal, 2.5e-7);
    EXPECT_TRUE(r.hasPlacement);

    const auto keys = plat::iniKeys(path, "Preview");
    ASSERT_EQ(keys.size(), std::size(kTableOrder));
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(keys[i], kTableOrder[i]);
    EXPECT_EQ(plat::iniRead(path, "Other", "keep"), "1") << "another section was lost";
    EXPECT_EQ(plat::iniRead(path, "Preview", "Min"), "0.1");
}

TEST(PreviewSettings, UnusableValuesKeepTheDefault)
{
    const struct {
        const char* line;
        int PreviewSettings::*field;
        int expected;
    } cases[] = {
        {"ColorMap = 4", &PreviewSettings::colorMap, 0},
        {"ColorMap = 3junk", &PreviewSettings::colorMap, 3}, // leading digits, as profile integers read
        {"Rotation = 45", &PreviewSettings::rotation, 0},
        {"Rotation = 180", &PreviewSettings::rotation, 180},
        {"AutoRangeType = -1", &PreviewSettings::autoRangeType, 0},
        {"MaxAutoUpdateMode = 6", &PreviewSettings::maxAutoUpdateMode, 4},
        {"MaxAutoUpdateMode = ", &PreviewSettings::maxAutoUpdateMode, 4},
        {"SaveImageSize = 9", &PreviewSettings::saveImageSize, 0},
        {"SaveImageWidth = 0", &PreviewSettings::saveImageWidth, 512},
        {"SaveImageFlags = 99999999999", &PreviewSettings::saveImageFlags, 7},
        {"visible = 0", &PreviewSettings::visible, 0}, // keys match without regard to case
    };
    const std::string dir = ombrel_test::scratchDir("prevset-bad");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string path = dir + "/p.ini";
        ASSERT_TRUE(ombrel_test::writeFile(path, std::string("[Preview]\n") + c.line + "\nMin = x\nMax = 2.5e1kg\n"));
        PreviewSettings s;
        s.load(path);
        EXPECT_EQ(s.*c.field, c.expected);
        EXPECT_EQ(s.min, 0);
        EXPECT_EQ(s.max, 25);
    }
}

TEST(PreviewSettings, EmptyPathKeepsNothing)
{
    const std::string dir = ombrel_test::scratchDir("prevset-empty");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    PreviewSettings s;
    s.colorMap = 1;
    EXPECT_EQ(s.save(""), 0);
    s.load("");
    EXPECT_EQ(s.colorMap, 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << "a file was written for an empty path";
    std::filesystem::current_path(cwd);
}

} // namespace
