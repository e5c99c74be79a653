// A frame from the simulated detector, acquired through a running manager in a scratch copy of the app
// folder, shown by the display model: the values are those the device-control API hands out, and the
// Gray export puts frame pixel (0, 0) at the bottom left of the image, inside the export's margin.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>

#include "color_palette.h"
#include "ombrel_test_support.h"
#include "picture.h"
#include "picture_data.h"
#include "scratch_manager.h"

namespace fs = std::filesystem;

namespace {

// A scratch copy of the app folder with the simulated detector and the table plug-in, removed again at
// the end (a copy of the libraries each run: not left behind).
struct AppFolder {
    AppFolder() : dir(ombrel_test::scratchDir("uikit-detector"))
    {
        fs::create_directories(dir + "/hwlibs");
        fs::create_directories(dir + "/plugins");
        fs::copy_file(UIKIT_APP_DIR "/libTvkManager.so", dir + "/libTvkManager.so");
        fs::copy_file(UIKIT_APP_DIR "/libTvkCtrl.so", dir + "/libTvkCtrl.so");
        fs::copy(UIKIT_APP_DIR "/configs", dir + "/configs", fs::copy_options::recursive);
        fs::copy_file(UIKIT_HWLIBS_DIR "/tvkHwDummy.so", dir + "/hwlibs/tvkHwDummy.so");
        fs::copy_file(UIKIT_HWLIBS_DIR "/dummy_2000.txt", dir + "/hwlibs/dummy_2000.txt");
        std::ofstream(dir + "/hwlibs/tvkHwDummy.ini") << "[Dummy]\nCount=1\nUnique=0\n";
        fs::copy_file(UIKIT_TABLE_PLUGIN, dir + "/plugins/uikit_table.so");
        std::ofstream(dir + "/tvkmanager.ini") << "[Plugins]\nplugins/uikit_table.so\n";
    }
    ~AppFolder()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    const std::string dir;
};

TEST(DetectorPictureTest, AcquiredFrameShownAndExportedAsTheApiGivesIt)
{
    const AppFolder folder;
    ombrel_test::ScratchManager app(folder.dir, folder.dir + "/plugins/uikit_table.so", "uikitTestTable");
    const _MgrFuncTable* t = app.table();
    ASSERT_NE(t, nullptr) << "the manager did not start with the table plug-in";
    ASSERT_EQ(t->tvkCtrlPerformFrameAcq(0, 1, 0.01, 0, nullptr), 0);
    uint32_t id = 0;
    ASSERT_EQ(t->tvkCtrlGetFrameID(0, 0, &id), 0);

    PictureData model(t);
    CPicture picture;
    model.setPicture(&picture);
    ASSERT_EQ(model.bindDevice(0), 0);
    ASSERT_EQ(model.setColorMap(ColorPalette::Gray), 0);
    ASSERT_EQ(model.showFrame(id), 0);
    ASSERT_EQ(model.width(), 256);
    ASSERT_EQ(model.height(), 256);
    std::vector<double> direct(65536);
    ASSERT_EQ(t->tvkCtrlGetFrameDouble(0, direct.data(), 65536, 0), 0);
    EXPECT_EQ(std::vector<double>(model.values(), model.values() + 65536), direct);

    const double min = model.getRegionMin(0), max = model.getRegionMax(0);
    ASSERT_LT(min, max) << "a frame of one value shows nothing to compare";
    model.setRange(min, max, false, false);
    const std::string path = app.dir() + "/frame.png";
    ASSERT_EQ(model.saveImage(path.c_str(), 0, 0, 0, 0), 0);
    const QImage image(QString::fromStdString(path));
    ASSERT_EQ(image.size(), QSize(272, 272));
    const int gray = direct[0] >= max ? 255 : static_cast<int>((direct[0] - min) / ((max - min) / 255));
    EXPECT_EQ(image.pixelColor(8, 263), QColor(gray, gray, gray));
    const int last = direct[65535] >= max ? 255 : static_cast<int>((direct[65535] - min) / ((max - min) / 255));
    EXPECT_EQ(image.pixelColor(263, 8), QColor(last, last, last));
}

} // namespace
