// tvkprobing.so in the real manager, offscreen: a 3 x 3 wafer "W1" on a detector-model device that calls
// itself "dorvel", with the equalizer's dependency scan, a pseudo-terminal station and the simulated
// supply. Each die gets its own bad pixels (the station's hook rewrites the model's settings when the
// station moves, and the reconnect of the run reads them). The window is driven as a user would: the
// settings typed into its form, the wafer name, "Start Probing". Without the equalizer the run records
// the class it reached; a result file that cannot be written does not stop the die's test.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "manager/tvk_manager.h"
#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "qt_test_support.h"
#include "station_sim.h"
#include "tvk_mgr.h"
#include "uikit/message_box.h"

namespace fs = std::filesystem;

namespace {

std::mutex g_boxMutex;
std::vector<std::string> g_boxes; // guarded by g_boxMutex

// Dead pixels of the die at (column, row) and the class they give with the default limits.
int deadOf(int column, int row)
{
    static const int dead[3][3] = {{0, 200, 500}, {1000, 0, 200}, {0, 0, 500}};
    return dead[row][column];
}

std::string modelIni(int dead)
{
    return "[Model]\nDevices = 1\nChips = 1\nType = 1\nInterface = dorvel\nDead = " + std::to_string(dead) + "\n";
}

class ProbeApp {
public:
    explicit ProbeApp(bool withEqualizer) : oldCwd_(fs::current_path())
    {
        dir_ = ombrel_test::scratchDir("probing-app");
        fs::create_directories(dir_ + "/hwlibs");
        fs::create_directories(dir_ + "/out");
        for (const char* file : {"libTvkManager.so", "libTvkCtrl.so"})
            fs::copy_file(fs::path(APP_DIR) / file, dir_ + "/" + file);
        fs::copy(APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(HWMODEL_LIBRARY_PATH, dir_ + "/hwlibs/tvkHwModel.so");
        fs::copy_file(DORVEL_INI_PATH, dir_ + "/hwlibs/tvkHwDorvel.ini");
        ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwModel.ini", modelIni(0));
        fs::copy_file(PROBING_PATH, dir_ + "/tvkprobing.so");
        std::string plugins = "[Plugins]\n";
        if (withEqualizer) {
            fs::copy_file(EQUALIZER_PATH, dir_ + "/Equalizer.so");
            plugins += "Equalizer.so\n";
        }
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini", plugins + "tvkprobing.so\n");
        iniBefore_ = ombrel_test::readFile(dir_ + "/hwlibs/tvkHwDorvel.ini");
        fs::current_path(dir_);
        if (!lib_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(lib_.error());
        call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>("mgrSetUiHooks")(nullptr, nullptr);
        if (call<int (*)()>("mgrInitManager")() != 0)
            throw std::runtime_error("the manager did not start");
        if (!plugin_.open(dir_ + "/tvkprobing.so")) // the manager's copy: the same module
            throw std::runtime_error(plugin_.error());
        const MessageBoxHandler handler = [](QWidget*, const QString& text, const QString&, unsigned) {
            std::lock_guard<std::mutex> guard(g_boxMutex);
            g_boxes.push_back(text.toStdString());
            return static_cast<int>(MSGBOX_IDOK);
        };
        reinterpret_cast<void (*)(const MessageBoxHandler*)>(plugin_.symbol("tvkprobingSetMessageBoxHandler"))(&handler);
        reinterpret_cast<void (*)(double)>(plugin_.symbol("tvkprobingSetSettleSeconds"))(0.05);
    }
    ~ProbeApp() { exit(); }

    void exit()
    {
        if (exited_)
            return;
        exited_ = true;
        QApplication::processEvents();
        call<int (*)()>("mgrExitManager")();
        call<int (*)()>("mgrUnloadManager")();
        fs::current_path(oldCwd_);
        ombrel_test::keepLoaded(std::move(plugin_));
        ombrel_test::keepLoaded(std::move(lib_));
    }

    template <class Fn>
    Fn call(const char* name)
    {
        auto fn = reinterpret_cast<Fn>(lib_.symbol(name));
        if (!fn)
            throw std::runtime_error(std::string("missing ") + name);
        return fn;
    }

    // Opens the device's window through its menu item, as the tray menu does.
    QWidget* openWindow()
    {
        char path[MGR_MENU_NAME_SIZE] = {};
        call<int (*)(unsigned, char*)>("mgrGetTvkMenuPath")(0, path);
        char name[MGR_MENU_NAME_SIZE] = {};
        int id = 0;
        auto first = call<int (*)(int*, char*)>("mgrGetFirstMenuItem");
        auto next = call<int (*)(int*, char*)>("mgrGetNextMenuItem");
        for (int rc = first(&id, name); rc == 0; rc = next(&id, name)) {
            const std::string n = name;
            if (n.find(path) != std::string::npos && n.find("Wafer probing") != std::string::npos)
                call<int (*)(int)>("mgrCallMenuItemByID")(id);
        }
        QWidget* window = nullptr;
        ombrel_test::processUntil([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && w->windowTitle().startsWith("Wafer probing 0 ("))
                    window = w;
            return window != nullptr;
        });
        return window;
    }

    const std::string& dir() const { return dir_; }
    bool daqIniUntouched() const
    {
        const std::string ini = dir_ + "/hwlibs/tvkHwDorvel.ini";
        return ombrel_test::readFile(ini) == iniBefore_ && !fs::exists(ini + "_backup_");
    }

private:
    std::string dir_;
    fs::path oldCwd_;
    std::string iniBefore_;
    bool exited_ = false;
    plat::Module lib_;
    plat::Module plugin_;
};

void type(QWidget* window, const char* key, const std::string& text)
{
    QLineEdit* edit = window->findChild<QLineEdit*>(key);
    ASSERT_NE(edit, nullptr) << key;
    edit->setText(QString::fromStdString(text));
}

QPushButton* startButton(QWidget* window)
{
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == "Start Probing" || b->text() == "Abort Probing")
            return b;
    return nullptr;
}

// Pumps events until the run has ended (the button says "Start Probing" again); false after 120 s.
bool waitForRunEnd(QWidget* window)
{
    QPushButton* button = startButton(window);
    return ombrel_test::processUntil([button] { return button->text() == "Start Probing"; }, std::chrono::seconds(120));
}

// The settings of a quick run: the station's port, a few dies, no verify box, a coarse dependency scan.
void setUpRun(QWidget* w, const ProbeApp& app, const probetest::StationSim& station, int columns, int rows)
{
    type(w, "COMPort", station.port());
    type(w, "COMTimeout", "60000"); // the station answers at once; only a hang waits this long
    type(w, "WaferCols", std::to_string(columns));
    type(w, "WaferRows", std::to_string(rows));
    type(w, "ShowVerifyDlg", "0");
    type(w, "ShowChipClass", "1");
    type(w, "OutputDir", app.dir() + "/out");
    type(w, "DepScanStep", "128");
    type(w, "WaferName", "W1");
}

} // namespace

TEST(ProbingPlugin, ThreeByThreeWaferWithClassesAndFiles)
{
    ProbeApp app(true);
    probetest::StationSim station;
    const std::string modelFile = app.dir() + "/hwlibs/tvkHwModel.ini";
    station.setHook([modelFile](const std::string& command) {
        int column = 0, row = 0;
        if (std::sscanf(command.c_str(), "prbcr(%d,%d)", &column, &row) == 2)
            ombrel_test::writeFile(modelFile, modelIni(deadOf(column - 1, row - 1)));
    });
    // Negative polarity: raising THL from the chip's value goes towards the counting side of the model.
    ASSERT_EQ(app.call<int (*)(unsigned, int)>("tvkCtrlSetPolarity")(0, 0), 0);
    QWidget* w = app.openWindow();
    ASSERT_NE(w, nullptr);
    setUpRun(w, app, station, 3, 3);
    startButton(w)->click();
    EXPECT_EQ(startButton(w)->text(), "Abort Probing");
    ASSERT_TRUE(waitForRunEnd(w));

    EXPECT_EQ(w->findChild<QLabel*>("Progress")->text(), "9/9");
    EXPECT_EQ(w->findChild<QLabel*>("ClassCounts")->text(), "A: 4  B: 2  C: 2  D: 1  E: 0  X: 0");
    EXPECT_EQ(ombrel_test::readFile(app.dir() + "/out/W1.txt"), "ABC\nDAB\nAAC\n");
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row) {
            char name[64];
            std::snprintf(name, sizeof name, "/out/W1_%02d(%c)_%02d", column + 1, 'A' + column, row + 1);
            for (const char* suffix : {"_DigTest.dat", "_ANIN.dat", "_DACs.txt", "_DACs.svg", "_log.txt"})
                EXPECT_TRUE(fs::exists(app.dir() + name + suffix)) << name << suffix;
        }
    EXPECT_TRUE(fs::exists(app.dir() + "/out/W1.svg"));
    EXPECT_NE(ombrel_test::readFile(app.dir() + "/out/probecom_trace.txt").find("> prbcr(3,3)\\r"), std::string::npos);
    EXPECT_EQ(station.commands().back(), "prbup");
    EXPECT_TRUE(app.daqIniUntouched());
    {
        std::lock_guard<std::mutex> guard(g_boxMutex);
        EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
    }
    if (const char* hold = std::getenv("PROBING_TEST_HOLD_MS")) { // to look at the window on a screen
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(hold));
        while (std::chrono::steady_clock::now() < end) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

// A result file that cannot be written (a folder in its place) is reported on its step's line and the
// sequence goes on: the die is classified and the other files are written.
TEST(ProbingPlugin, UnwritableResultFileIsReportedAndTheTestGoesOn)
{
    const char* suffixes[] = {"_DigTest.dat", "_ANIN.dat", "_DACs.txt", "_DACs.svg", "_log.txt"};
    struct Case {
        const char* suffix;
        const char* line;
        std::string text; // the line's text with %s for the file
    } cases[] = {
        {"_DigTest.dat", "Digital test", "Failed to save result to \"%s\""},
        {"_ANIN.dat", "ANIN test", "Failed to save result to \"%s\""},
        {"_DACs.txt", "DACs dep. scan", "Cannot write the dependency scan file %s: Cannot open file "
                                        "\"%s\" for writing: Is a directory."},
        {"_DACs.svg", "DACs dep. scan", "Failed to save dep. scan image to \"%s\""},
        {"_log.txt", "Log file", "Cannot open file \"%s\" for writing: Is a directory."},
    };
    for (const Case& c : cases) {
        ProbeApp app(true);
        probetest::StationSim station;
        const std::string prefix = app.dir() + "/out/W1_01(A)_01";
        const std::string blocked = prefix + c.suffix;
        fs::create_directories(blocked);
        ASSERT_EQ(app.call<int (*)(unsigned, int)>("tvkCtrlSetPolarity")(0, 0), 0); // as in the wafer above
        QWidget* w = app.openWindow();
        ASSERT_NE(w, nullptr) << c.suffix;
        setUpRun(w, app, station, 1, 1);
        startButton(w)->click();
        ASSERT_TRUE(waitForRunEnd(w)) << c.suffix;

        EXPECT_NE(ombrel_test::readFile(app.dir() + "/out/W1.txt"), "X\n") << c.suffix << ": the die is classified";
        QTreeWidget* results = w->findChild<QTreeWidget*>();
        ASSERT_NE(results, nullptr);
        const auto found = results->findItems(c.line, Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1) << c.suffix;
        std::string expected = c.text;
        for (size_t at; (at = expected.find("%s")) != std::string::npos;)
            expected.replace(at, 2, blocked);
        EXPECT_EQ(found[0]->text(1).toStdString(), expected) << c.suffix;
        EXPECT_EQ(results->findItems("Chip class", Qt::MatchExactly, 0).size(), 1) << c.suffix;
        for (const char* other : suffixes)
            EXPECT_TRUE(std::string(other) == c.suffix || fs::is_regular_file(prefix + other))
                << c.suffix << ": " << other;
        if (std::string(c.suffix).starts_with("_DACs")) {
            EXPECT_NE(ombrel_test::readFile(prefix + "_log.txt").find("DACs dep. scan status: " + expected + "\n"),
                      std::string::npos)
                << c.suffix;
        }
        std::lock_guard<std::mutex> guard(g_boxMutex);
        EXPECT_TRUE(g_boxes.empty()) << c.suffix << ": " << g_boxes.front();
    }
}

TEST(ProbingPlugin, WithoutTheEqualizerTheClassReachedAndRefusedStarts)
{
    ProbeApp app(false);
    probetest::StationSim station;
    QWidget* w = app.openWindow();
    ASSERT_NE(w, nullptr);
    setUpRun(w, app, station, 1, 1);

    struct Refusal {
        const char* key;
        std::string value;
        const char* box;
    } refusals[] = {{"WaferName", "../up", "The wafer name must not be empty and must not contain '/' or \"..\"."},
                    {"WaferName", "", "The wafer name must not be empty and must not contain '/' or \"..\"."},
                    {"OutputDir", "", "Choose the output folder first."}};
    for (const Refusal& r : refusals) {
        type(w, r.key, r.value);
        {
            std::lock_guard<std::mutex> guard(g_boxMutex);
            g_boxes.clear();
        }
        startButton(w)->click();
        EXPECT_EQ(startButton(w)->text(), "Start Probing") << r.box;
        std::lock_guard<std::mutex> guard(g_boxMutex);
        EXPECT_EQ(g_boxes, std::vector<std::string>{r.box});
        setUpRun(w, app, station, 1, 1);
    }
    EXPECT_TRUE(station.commands().empty());

    startButton(w)->click();
    ASSERT_TRUE(waitForRunEnd(w));
    EXPECT_EQ(ombrel_test::readFile(app.dir() + "/out/W1.txt"), "X\n");
    QTreeWidget* results = w->findChild<QTreeWidget*>();
    ASSERT_NE(results, nullptr);
    const auto found = results->findItems("DACs dep. scan", Qt::MatchExactly, 0);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0]->text(1), "Start of Dependency scan failed.");
    EXPECT_TRUE(app.daqIniUntouched());
}

TEST(ProbingPlugin, ClosingTheWindowOrExitAbortsARunAndGivesTheIniBack)
{
    for (const bool byExit : {false, true}) {
        auto app = std::make_unique<ProbeApp>(false);
        probetest::StationSim station;
        // The second touch-down mode is the one sent once the DAQ-card ini is forced: the station stays
        // silent there, so the run waits with the ini forced.
        station.failAt("prbtdm(td)", 2, probetest::StationSim::Fault::Silence);
        QWidget* w = app->openWindow();
        ASSERT_NE(w, nullptr);
        setUpRun(w, *app, station, 1, 1);
        type(w, "COMTimeout", "600000"); // a close that did not abort would wait past the test's time limit
        const std::string ini = app->dir() + "/hwlibs/tvkHwDorvel.ini";
        startButton(w)->click();
        ombrel_test::processUntil([&] { return station.commands().size() >= 6; }, std::chrono::seconds(60));
        ASSERT_EQ(station.commands().size(), 6u) << "the run did not reach the forced connection";
        EXPECT_TRUE(fs::exists(ini + "_backup_"));
        if (byExit)
            app->exit();
        else
            w->close();
        EXPECT_TRUE(app->daqIniUntouched()) << (byExit ? "Exit" : "close");
        EXPECT_EQ(station.commands().back(), "prbup");
        app.reset();
    }
}
