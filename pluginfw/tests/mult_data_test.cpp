// The per-device settings file of the multi-device skeleton over the fake manager table, the window
// caption, and the placement kept in "Position <tool>": read and written as the files hold it, and made
// usable when a file puts a window off every screen or gives it no size.
#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "fake_mgr.h"
#include "mult_data.h"
#include "ombrel_test_support.h"
#include "platform/ini.h"
#include "plugin_table.h"

namespace {

class MultDataTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = ombrel_test::scratchDir("pluginfw-multdata");
        fakemgr::reset(dir + "/configs/");
        setPluginTable(&table);
    }
    void TearDown() override { setPluginTable(nullptr); }

    std::string dir;
    const _MgrFuncTable table = fakemgr::table();
};

TEST_F(MultDataTest, SettingsFileFollowsTheChipBoardUnlessPinned)
{
    fakemgr::setDevice(1, "A");
    MultDataBase data(1);
    EXPECT_EQ(data.moduleName, "plugin_mult_data");
    const std::string fileA = dir + "/configs/plugin_mult_data_A.ini";
    EXPECT_EQ(data.loadIniFile, fileA);
    EXPECT_EQ(data.saveIniFile, fileA);
    EXPECT_TRUE(data.devInfoRead());

    // Another chip board: the settings come from its file, the old one still receives what is saved.
    fakemgr::setDevice(1, "B");
    data.updateIniFile();
    EXPECT_EQ(data.loadIniFile, dir + "/configs/plugin_mult_data_B.ini");
    EXPECT_EQ(data.saveIniFile, fileA);

    // A chip-board id from the hardware never leads out of the configuration folder.
    fakemgr::setDevice(1, "../../x");
    data.updateIniFile();
    EXPECT_EQ(data.loadIniFile, dir + "/configs/plugin_mult_data_....x.ini");

    // Pinned: device changes leave the path alone; unpinned: back to the chip board's file.
    data.pinIniFile("/elsewhere/mine.ini");
    fakemgr::setDevice(1, "C");
    data.updateIniFile();
    EXPECT_EQ(data.loadIniFile, "/elsewhere/mine.ini");
    EXPECT_EQ(data.saveIniFile, "/elsewhere/mine.ini");
    data.pinIniFile(nullptr);
    EXPECT_FALSE(data.fixedIniFile);
    EXPECT_EQ(data.loadIniFile, dir + "/configs/plugin_mult_data_C.ini");
    EXPECT_EQ(data.saveIniFile, data.loadIniFile);
}

TEST_F(MultDataTest, CaptionOfReadAndUnreadableDevices)
{
    fakemgr::setDevice(0, "W12");
    fakemgr::setDevice(1, "W13", TVK_ERR_DEV_NOT_INIT);
    MultDataBase good(0);
    MultDataBase bad(1);
    EXPECT_EQ(deviceWindowTitle("Demo", good.devId, good, good.devInfoRead()), "Demo 0 (fake usb W12)");
    EXPECT_FALSE(bad.devInfoRead());
    EXPECT_EQ(deviceWindowTitle("Demo", bad.devId, bad, bad.devInfoRead()), "Demo 1 ( )");

    // The device went: the old description stays for the file, but the caption names nothing of it.
    fakemgr::setDevice(0, "W12", TVK_ERR_DEV_INDEX);
    good.updateIniFile();
    EXPECT_EQ(good.loadIniFile, dir + "/configs/plugin_mult_data_W12.ini");
    EXPECT_EQ(deviceWindowTitle("Demo", good.devId, good, good.devInfoRead()), "Demo 0 ( )");

    const std::string longTool(300, 't');
    EXPECT_EQ(deviceWindowTitle(longTool, 0, good, true).size(), 255u);
}

TEST_F(MultDataTest, PlacementKeysAndForms)
{
    const std::string ini = dir + "/place.ini";
    const WindowPlacement current{SW_SHOWNORMAL, 10, 20, 110, 70};
    // Nothing stored: everything current, the show state SW_SHOW.
    WindowPlacement p = readWindowPlacement(ini, "Demo", current, PlacementForm::MoveOnly);
    EXPECT_EQ(p.showCmd, SW_SHOW);
    EXPECT_EQ(p.left, 10);
    EXPECT_EQ(p.right, 110);

    ASSERT_EQ(writeWindowPlacement(ini, "Demo", {SW_SHOWMAXIMIZED, -5, 80, 300, 400}), 0);
    EXPECT_EQ(ombrel_test::readFile(ini),
              "[Position Demo]\nShowCmd=3\nLeft=-5\nTop=80\nRight=300\nBottom=400\n");

    struct Case {
        const char* name;
        PlacementForm form;
        WindowPlacement expected;
    } cases[] = {
        {"move only keeps the size", PlacementForm::MoveOnly, {SW_SHOWMAXIMIZED, -5, 80, 95, 130}},
        {"move and size", PlacementForm::MoveAndSize, {SW_SHOWMAXIMIZED, -5, 80, 300, 400}},
    };
    for (const Case& c : cases) {
        p = readWindowPlacement(ini, "Demo", current, c.form);
        EXPECT_EQ(p.showCmd, c.expected.showCmd) << c.name;
        EXPECT_EQ(p.left, c.expected.left) << c.name;
        EXPECT_EQ(p.top, c.expected.top) << c.name;
        EXPECT_EQ(p.right, c.expected.right) << c.name;
        EXPECT_EQ(p.bottom, c.expected.bottom) << c.name;
    }
    // Show states: minimised and maximised are kept, every other value (hidden too) reads as normal.
    const struct {
        const char* stored;
        int showCmd;
    } states[] = {{"0", SW_SHOWNORMAL}, {"1", SW_SHOWNORMAL}, {"2", SW_SHOWMINIMIZED}, {"3", SW_SHOWMAXIMIZED},
                  {"4", SW_SHOWNORMAL}, {"6", SW_SHOWNORMAL}, {"-1", SW_SHOWNORMAL}, {"77", SW_SHOWNORMAL}};
    for (const auto& c : states) {
        ASSERT_TRUE(ombrel_test::writeFile(ini, std::string("[Position Demo]\nShowCmd=") + c.stored + "\n"));
        EXPECT_EQ(readWindowPlacement(ini, "Demo", current, PlacementForm::MoveOnly).showCmd, c.showCmd) << c.stored;
    }
    // Another tool's section is another placement; an extreme shift does not overflow.
    ASSERT_TRUE(ombrel_test::writeFile(ini, "[Position Other]\nLeft=2147483647\nTop=-2147483648\n"));
    p = readWindowPlacement(ini, "Other", current, PlacementForm::MoveOnly);
    EXPECT_EQ(p.right, INT_MAX);
    EXPECT_EQ(p.bottom, INT_MIN + 50);
}

TEST(FitToScreens, StoredPlacementLandsOnTheNearestScreen)
{
    const ScreenArea screens[] = {{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};
    struct Case {
        const char* name;
        WindowPlacement in;
        WindowPlacement out;
    } cases[] = {
        {"inside stays", {1, 100, 100, 500, 400}, {1, 100, 100, 500, 400}},
        {"far right: onto the second screen", {1, 100000, 50, 100400, 350}, {1, 2800, 50, 3200, 350}},
        {"above and left", {1, -900, -700, -500, -400}, {1, 0, 0, 400, 300}},
        {"negative size: the minimum", {1, 100, 100, 50, 20}, {1, 100, 100, 400, 300}},
        {"larger than the screen: the screen", {1, 0, 0, 5000, 3000}, {1, 0, 0, 1920, 1080}},
        {"sticking out at the bottom right", {1, 1800, 1000, 2000, 1200}, {1, 1620, 880, 1920, 1080}},
    };
    for (const Case& c : cases) {
        const WindowPlacement p = fitToScreens(c.in, screens, 2, 300, 200);
        EXPECT_EQ(p.left, c.out.left) << c.name;
        EXPECT_EQ(p.top, c.out.top) << c.name;
        EXPECT_EQ(p.right, c.out.right) << c.name;
        EXPECT_EQ(p.bottom, c.out.bottom) << c.name;
    }
    // A corner stored at the far end of the coordinates is measured without overflow: the screen up and
    // to the left is the nearer one, not the one at the origin.
    const ScreenArea farApart[] = {{0, 0, 1920, 1080}, {-3000, -3000, -1000, -1000}};
    const WindowPlacement corner = fitToScreens({1, INT_MIN, INT_MIN, INT_MIN + 400, INT_MIN + 300}, farApart, 2, 300, 200);
    EXPECT_EQ(corner.left, -3000);
    EXPECT_EQ(corner.top, -3000);
    EXPECT_EQ(corner.right, -2600);
    EXPECT_EQ(corner.bottom, -2700);
    // No screen known: only the minimum size.
    const WindowPlacement p = fitToScreens({1, 5, 5, 0, 0}, nullptr, 0, 300, 200);
    EXPECT_EQ(p.right, 305);
    EXPECT_EQ(p.bottom, 205);
}

} // namespace
