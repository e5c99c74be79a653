// Clusterer.so in a running manager on the simulated detector, which serves an image of known clusters
// as raw counts: each acquisition adds that image's clusters, the spectra files hold them, a failing
// filter chain analyses nothing and leaves no frame behind, and the window follows acquisitions made in
// another thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clust_anal_data.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "uikit/message_box.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSide = 256;

// The image: three dots (10, 20, 30), a 2x1 pair (15 + 15), a 2x2 square (5 each), a disc of radius 5
// (81 pixels of 2) and a 40-pixel line (3 each). Classes: dot 4 (the dots and the pair), small blob 1,
// heavy blob 1, straight track 1.
std::vector<int> fixtureImage()
{
    std::vector<int> img(kSide * kSide, 0);
    auto set = [&](int x, int y, int v) { img[static_cast<size_t>(y) * kSide + x] = v; };
    set(10, 10, 10);
    set(30, 10, 20);
    set(50, 10, 30);
    set(70, 10, 15);
    set(71, 10, 15);
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
            set(90 + dx, 10 + dy, 5);
    for (int dy = -5; dy <= 5; ++dy)
        for (int dx = -5; dx <= 5; ++dx)
            if (dx * dx + dy * dy <= 25)
                set(40 + dx, 60 + dy, 2);
    for (int x = 100; x < 140; ++x)
        set(x, 100, 3);
    return img;
}
const int64_t kFixtureClasses[kClassCount] = {0, 4, 1, 0, 1, 0, 1};

// One spectrum block as the files hold it, from the counts of its bins.
std::string block(double from, double step, const std::map<int, int>& counts)
{
    const int last = counts.empty() ? 0 : counts.rbegin()->first;
    std::ostringstream positions, values;
    for (int i = 0; i <= last; ++i) {
        positions << from + step * i << (i == last ? "\n" : " ");
        const auto it = counts.find(i);
        values << (it == counts.end() ? 0 : it->second) << (i == last ? "\n\n" : " ");
    }
    return positions.str() + values.str();
}

const char* const kSettings = "[Settings]\n"
                              "SizeSpectFrom=1\nSizeSpectTo=50\n"
                              "VolSpectFrom=0\nVolSpectTo=200\nGlobVolSpectStep=10\nPerPixVolSpectStep=100\n"
                              "GlobalSizeSpectAll=1\nGlobalSizeSpectValid=1\nGlobalVolSpectAll=1\n"
                              "GlobalVolSpectValid=1\nGlobalVolSpectCustSize=1\nPerPixVolSpectValid=1\n"
                              "MinClustSize=2\n";

// A scratch app folder with its own manager, the simulated detector, Clusterer.so and the probe plug-in.
class ClustererApp {
public:
    explicit ClustererApp(const char* settings = kSettings)
        : dir_(ombrel_test::scratchDir("clusterer-plugin")), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::copy_file(CLUST_APP_DIR "/libTvkManager.so", dir_ + "/libTvkManager.so");
        fs::copy_file(CLUST_APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        fs::copy(CLUST_APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(CLUST_APP_DIR "/hwlibs/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
        fs::copy_file(CLUST_APP_DIR "/hwlibs/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
        fs::copy_file(CLUSTERER_PATH, dir_ + "/Clusterer.so");
        fs::copy_file(CLUST_PROBE, dir_ + "/clusterer_probe.so");
        ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=1\nUnique=0\n");
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini", "[Plugins]\nClusterer.so\nclusterer_probe.so\n");
        ombrel_test::writeFile(dir_ + "/configs/Clusterer_2000.ini", settings);
        std::string text;
        const std::vector<int> img = fixtureImage();
        for (size_t i = 0; i < img.size(); ++i)
            text += std::to_string(img[i]) + (i % kSide == kSide - 1 ? "\n" : " ");
        ombrel_test::writeFile(dir_ + "/fixture.txt", text);

        fs::current_path(dir_);
        if (!lib_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(lib_.error());
        reinterpret_cast<int (*)(void*, const void*)>(lib_.symbol("mgrSetUiHooks"))(nullptr, nullptr);
        if (reinterpret_cast<int (*)()>(lib_.symbol("mgrInitManager"))() != 0)
            throw std::runtime_error("the manager did not start");
        if (!probe_.open(dir_ + "/clusterer_probe.so") || !plugin_.open(dir_ + "/Clusterer.so"))
            throw std::runtime_error("a plug-in was not loaded");
        table_ = reinterpret_cast<const _MgrFuncTable* (*)()>(probe_.symbol("clustererProbeTable"))();
        failFilter_ = reinterpret_cast<int (*)()>(probe_.symbol("clustererProbeFailFilter"))();
        analysis_ = reinterpret_cast<ClustAnalData* (*)(int)>(plugin_.symbol("clustererAnalysis"));
        setBoxes_ = reinterpret_cast<void (*)(const MessageBoxHandler*)>(
            plugin_.symbol("clustererSetMessageBoxHandler"));
        if (!table_ || !analysis_ || !setBoxes_)
            throw std::runtime_error("the plug-ins' test functions are missing");
        setBoxes_(&boxes_);

        // Raw counts of the fixture image: no noise, no scaling by the exposure.
        const int32_t off = 0;
        const double noScaling = 0.0;
        char name[512] = {};
        std::snprintf(name, sizeof name, "%s/fixture.txt", dir_.c_str());
        if (setItem("Poisson noise", &off, sizeof off) != 0 || setItem("Time element", &noScaling, sizeof noScaling) != 0 ||
            setItem("Data file name", name, sizeof name) != 0)
            throw std::runtime_error("the simulated detector refused its settings");
    }
    ~ClustererApp()
    {
        setBoxes_(nullptr);
        reinterpret_cast<int (*)()>(lib_.symbol("mgrUnloadManager"))();
        fs::current_path(oldCwd_);
    }

    const _MgrFuncTable* table() const { return table_; }
    ClustAnalData& analysis() const { return *analysis_(0); }
    const std::string& dir() const { return dir_; }
    int failFilter() const { return failFilter_; }
    int boxes() const { return boxCount_; }
    const QString& lastBox() const { return lastBox_; }

    int acquire() const { return table_->tvkCtrlPerformFrameAcq(0, 1, 0.001, 0, nullptr); }
    int frameCount() const
    {
        int n = 0;
        uint32_t id = 0;
        for (int rc = table_->mgrGetFirstFrame(&id); rc == 0; rc = table_->mgrGetNextFrame(&id))
            ++n;
        return n;
    }
    int callMenu(const std::string& fullName)
    {
        auto first = reinterpret_cast<int (*)(int*, char*)>(lib_.symbol("mgrGetFirstMenuItem"));
        auto next = reinterpret_cast<int (*)(int*, char*)>(lib_.symbol("mgrGetNextMenuItem"));
        int id = 0;
        char name[MGR_MENU_NAME_SIZE];
        for (int rc = first(&id, name); rc == 0; rc = next(&id, name))
            if (fullName == name)
                return reinterpret_cast<int (*)(int)>(lib_.symbol("mgrCallMenuItemByID"))(id);
        return -1000;
    }

private:
    int setItem(const char* item, const void* data, int size) const
    {
        int count = 0;
        table_->tvkCtrlGetHwInfoCount(0, &count);
        for (int k = 0; k < count; ++k) {
            HwInfoItem info{};
            int bytes = 0;
            table_->tvkCtrlGetHwInfoItem(0, k, &info, &bytes);
            if (info.name && std::strcmp(info.name, item) == 0)
                return table_->tvkCtrlSetHwInfoItem(0, k, data, size);
        }
        return -1;
    }

    std::string dir_;
    fs::path oldCwd_;
    plat::Module lib_;
    plat::Module probe_;  // the manager's copies, one more reference each
    plat::Module plugin_;
    const _MgrFuncTable* table_ = nullptr;
    int failFilter_ = -1;
    ClustAnalData* (*analysis_)(int) = nullptr;
    void (*setBoxes_)(const MessageBoxHandler*) = nullptr;
    int boxCount_ = 0;
    QString lastBox_;
    MessageBoxHandler boxes_ = [this](QWidget*, const QString& text, const QString&, unsigned) {
        ++boxCount_;
        lastBox_ = text;
        return int(MSGBOX_IDOK);
    };
};

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

TEST(ClustererInManager, AcquisitionsOfAKnownImageAddItsClustersAndFillTheSpectraFiles)
{
    ClustererApp app;
    ClustAnalData& a = app.analysis();
    for (int n = 0; n < 3; ++n)
        ASSERT_EQ(app.acquire(), 0);
    const ClustTotals t = a.totals();
    EXPECT_EQ(t.frames, 3);
    for (int c = 1; c < kClassCount; ++c) {
        EXPECT_EQ(t.all[c], 3 * kFixtureClasses[c]) << "class " << c;
        // MinClustSize=2 leaves the three single pixels out.
        EXPECT_EQ(t.valid[c], 3 * kFixtureClasses[c] - (c == kClassDot ? 9 : 0)) << "class " << c;
    }

    fs::create_directories(app.dir() + "/out.d");
    ASSERT_EQ(a.writeSpectra(app.dir() + "/out.d/run"), 0);
    auto read = [&](const char* suffix) { return ombrel_test::readFile(app.dir() + "/out.d/run" + suffix); };
    // Sizes 1..50 (the disc of 81 pixels lies beyond); volumes from 0 in steps of 10 up to 200.
    EXPECT_EQ(read("_spect_size_all"), block(1, 1, {{0, 9}, {1, 3}, {3, 3}, {39, 3}}));
    EXPECT_EQ(read("_spect_size_valid"), block(1, 1, {{1, 3}, {3, 3}, {39, 3}}));
    EXPECT_EQ(read("_spect_volume_all"), block(0, 10, {{1, 3}, {2, 6}, {3, 6}, {12, 3}, {16, 3}}));
    EXPECT_EQ(read("_spect_volume_valid"), block(0, 10, {{2, 3}, {3, 3}, {12, 3}, {16, 3}}));
    std::string bySize = block(0, 10, {}) + block(0, 10, {{3, 3}}) + block(0, 10, {}) + block(0, 10, {{2, 3}});
    for (int size = 5; size <= 10; ++size)
        bySize += block(0, 10, {});
    EXPECT_EQ(read("_spect_volume_selsizes"), bySize);

    // Per pixel: one block per pixel over the volume bins [0, 100) and [100, 200). The pair (30), the
    // square (20), the line (120) and the disc (162) count three times each at a pixel within them.
    std::istringstream perPixel(read("_spect_volume_perpixel"));
    std::string positions, counts, empty;
    int pixel = 0;
    std::map<int, int> binTotals;
    std::vector<int> countedAt;
    while (std::getline(perPixel, positions) && std::getline(perPixel, counts) && std::getline(perPixel, empty)) {
        std::istringstream values(counts);
        int bin = 0;
        bool counted = false;
        for (int v; values >> v; ++bin) {
            binTotals[bin] += v;
            counted = counted || v != 0;
        }
        EXPECT_EQ(positions, bin > 1 ? "0 100" : "0") << "pixel " << pixel;
        if (counted)
            countedAt.push_back(pixel);
        ++pixel;
    }
    EXPECT_EQ(pixel, kSide * kSide);
    EXPECT_EQ(binTotals, (std::map<int, int>{{0, 6}, {1, 6}}));
    const std::vector<int> img = fixtureImage();
    ASSERT_EQ(countedAt.size(), 4u);
    for (int p : countedAt)
        EXPECT_NE(img[static_cast<size_t>(p)], 0) << "pixel " << p << " lies outside every cluster";

    // A chain that fails: nothing analysed, and the copy made for it does not stay in the store.
    int chain = 0;
    ASSERT_GE(app.failFilter(), 0);
    ASSERT_EQ(app.table()->mgrCreateFilterChain("clusterer_probe", "fails", &chain), 0);
    ASSERT_EQ(app.table()->mgrAddToFilterChain(chain, app.failFilter(), 0), 0);
    int before = app.frameCount();
    ASSERT_EQ(app.acquire(), 0);
    const int acquisitionAdds = app.frameCount() - before;
    a.setChain(chain);
    before = app.frameCount();
    ASSERT_EQ(app.acquire(), 0);
    EXPECT_EQ(app.frameCount() - before, acquisitionAdds);
    EXPECT_EQ(a.totals().frames, 4);
    EXPECT_EQ(a.sizeSpectrum(false).bins[0], 12);
    a.setChain(-1);
}

QWidget* clusterWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("ClusterDlg"))
            return w;
    return nullptr;
}

TEST(ClustererInManager, WindowFollowsAcquisitionsOfAnotherThread)
{
    ClustererApp app;
    ASSERT_EQ(app.callMenu("0 - dummy 2000|Cluster analysis"), 0);
    settle();
    QWidget* w = clusterWindow();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(w->isVisible());
    auto* counts = w->findChild<QTableWidget*>(QStringLiteral("counts"));
    ASSERT_NE(counts, nullptr);

    std::atomic<bool> done{false};
    std::atomic<int> failed{0};
    std::thread worker([&] {
        for (int n = 0; n < 5; ++n)
            if (app.acquire() != 0)
                ++failed;
        done = true;
    });
    while (!done)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    settle();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(app.analysis().totals().frames, 5);
    // This frame's filtered counts, then the totals of all and of filtered clusters.
    EXPECT_EQ(counts->item(kClassDot - 1, 0)->text(), QStringLiteral("1"));
    EXPECT_EQ(counts->item(kClassDot - 1, 1)->text(), QStringLiteral("20"));
    EXPECT_EQ(counts->item(kClassStraightTrack - 1, 2)->text(), QStringLiteral("5"));

    // The shown frame's clusters have properties; a write error of the list comes as a box.
    ClusterProps p;
    EXPECT_EQ(app.analysis().clusterProperties(-1, 0, &p), 0);
    EXPECT_GT(p.size, 0);
    EXPECT_EQ(app.analysis().writeClusterList(app.dir() + "/no/such/folder/list.txt", -1, false), -1);
    settle();
    EXPECT_EQ(app.boxes(), 1);

    auto* clear = w->findChild<QPushButton*>(QStringLiteral("clear"));
    ASSERT_NE(clear, nullptr);
    clear->click();
    settle();
    EXPECT_EQ(app.analysis().totals().frames, 0);
    EXPECT_EQ(counts->item(kClassDot - 1, 1)->text(), QStringLiteral("0"));
    w->close();
    settle();
}

// The spectra are off by default: the window says so and how to turn one on, and "Write spectra..." says that
// there is nothing to write instead of asking for a file and writing nothing. Once the user turns a spectrum on
// in the settings list, the window shows it.
TEST(ClustererInManager, WindowSaysWhichSpectraAreOffAndHowToTurnThemOn)
{
    ClustererApp app("[Settings]\n");
    ASSERT_EQ(app.callMenu("0 - dummy 2000|Cluster analysis"), 0);
    settle();
    QWidget* w = clusterWindow();
    ASSERT_NE(w, nullptr);
    auto* choice = w->findChild<QComboBox*>(QStringLiteral("spectrum"));
    auto* state = w->findChild<QLabel*>(QStringLiteral("spectrumState"));
    auto* write = w->findChild<QPushButton*>(QStringLiteral("writeSpectra"));
    auto* settings = w->findChild<QTableWidget*>(QStringLiteral("settings"));
    auto* apply = w->findChild<QPushButton*>(QStringLiteral("apply"));
    ASSERT_TRUE(choice && state && write && settings && apply);
    for (int i = 0; i < choice->count(); ++i)
        EXPECT_TRUE(choice->itemText(i).endsWith(QStringLiteral("(off)"))) << choice->itemText(i).toStdString();
    EXPECT_TRUE(state->text().contains(QStringLiteral("GlobalSizeSpectAll"))) << state->text().toStdString();

    // A file dialog opened by mistake would wait for an answer: close whatever modal window shows.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    guard.start(500);
    QTest::mouseClick(write, Qt::LeftButton);
    settle();
    EXPECT_EQ(app.boxes(), 1);
    EXPECT_TRUE(app.lastBox().startsWith(QStringLiteral("No spectrum is on"))) << app.lastBox().toStdString();

    // The user types 1 into the value of GlobalSizeSpectAll and applies.
    int row = -1;
    for (int r = 0; r < settings->rowCount(); ++r)
        if (settings->item(r, 0)->text() == QLatin1String("GlobalSizeSpectAll"))
            row = r;
    ASSERT_GE(row, 0);
    settings->scrollToItem(settings->item(row, 1));
    const QRect cell = settings->visualItemRect(settings->item(row, 1));
    QTest::mouseClick(settings->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClick(settings, Qt::Key_F2);
    auto* editor = settings->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("1"));
    QTest::keyClick(editor, Qt::Key_Return);
    settle();
    QTest::mouseClick(apply, Qt::LeftButton);
    settle();
    EXPECT_TRUE(app.analysis().settings().GlobalSizeSpectAll);
    EXPECT_EQ(choice->itemText(0), QStringLiteral("Size spectrum, all clusters"));
    EXPECT_TRUE(choice->itemText(1).endsWith(QStringLiteral("(off)")));
    EXPECT_EQ(state->text(), QString());
    ASSERT_EQ(app.acquire(), 0);
    settle();
    EXPECT_FALSE(app.analysis().sizeSpectrum(false).bins.empty());
    w->close();
    settle();
}

} // namespace
