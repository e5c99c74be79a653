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
#include "platform/module.h"

namespace fs = std::filesystem;

namespace {

class ScratchManager {
public:
    ScratchManager() : dir_(ombrel_test::scratchDir("uikit-detector")), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/plugins");
        fs::copy_file(UIKIT_APP_DIR "/libTvkManager.so", dir_ + "/libTvkManager.so");
        fs::copy_file(UIKIT_APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        fs::copy(UIKIT_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(UIKIT_HWLIBS_DIR "/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
        fs::copy_file(UIKIT_HWLIBS_DIR "/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
        std::ofstream(dir_ + "/hwlibs/tvkHwDummy.ini") << "[Dummy]\nCount=1\nUnique=0\n";
        fs::copy_file(UIKIT_TABLE_PLUGIN, dir_ + "/plugins/uikit_table.so");
        std::ofstream(dir_ + "/tvkmanager.ini") << "[Plugins]\nplugins/uikit_table.so\n";
        fs::current_path(dir_); // the log is opened in the current folder
        if (!manager_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(manager_.error());
        call<int (*)(void*, const void*)>("mgrSetUiHooks")(nullptr, nullptr); // no user interface: boxes answered at once
        started_ = call<int (*)()>("mgrInitManager")() == 0;
        if (started_ && plugin_.open(dir_ + "/plugins/uikit_table.so"))
            table_ = reinterpret_cast<const _MgrFuncTable* (*)()>(plugin_.symbol("uikitTestTable"))();
    }
    ~ScratchManager()
    {
        plugin_ = plat::Module();
        call<int (*)()>("mgrUnloadManager")();
        fs::current_path(oldCwd_);
        manager_ = plat::Module();
        std::error_code ec;
        fs::remove_all(dir_, ec); // a copy of the libraries each run: not left behind
    }
    const _MgrFuncTable* table() const { return table_; }
    const std::string& dir() const { return dir_; }

private:
    template <class Fn>
    Fn call(const char* name)
    {
        return reinterpret_cast<Fn>(manager_.symbol(name));
    }

    std::string dir_;
    fs::path oldCwd_;
    plat::Module manager_;
    plat::Module plugin_;
    bool started_ = false;
    const _MgrFuncTable* table_ = nullptr;
};

TEST(DetectorPictureTest, AcquiredFrameShownAndExportedAsTheApiGivesIt)
{
    ScratchManager app;
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
