// Equalizer.so as other plug-ins meet it: the version check of its entry, then the real manager in a
// scratch app folder with a detector-model device, offscreen. The thirteen function records and the two
// events by name; the dependency scan driven by name as the wafer prober drives it (file, callbacks with
// the device id, refused settings, a failing device, an abort, the image); the three windows opened, run,
// aborted and closed.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "eq_dialogs.h"
#include "hwlibs/model/model_control.h"
#include "manager/tvk_manager.h"
#include "ombrel_test_modules.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_mgr.h"
#include "uikit/message_box.h"
#include "uikit/plot2d.h"

namespace fs = std::filesystem;

namespace {

// Callbacks and events as the caller sees them: (what, argument) in order.
struct Calls {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::pair<std::string, intptr_t>> seen;

    static Calls& instance()
    {
        static Calls c;
        return c;
    }
    void add(const char* what, intptr_t arg)
    {
        std::lock_guard<std::mutex> guard(m);
        seen.emplace_back(what, arg);
        cv.notify_all();
    }
    // Waits until count entries arrived (at most 60 s), then gives them all.
    std::vector<std::pair<std::string, intptr_t>> waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, std::chrono::seconds(60), [&] { return seen.size() >= count; });
        return seen;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(m);
        seen.clear();
    }
};

void onFinished(uint32_t dev) { Calls::instance().add("finished", dev); }
void onError(uint32_t dev) { Calls::instance().add("error", dev); }
void onClose(uint32_t dev) { Calls::instance().add("close", dev); }
void onScanStart(intptr_t dev) { Calls::instance().add("DacScanStart", dev); }
void onScanFinish(intptr_t dev) { Calls::instance().add("DacScanFinish", dev); }

class EqApp {
public:
    explicit EqApp(const std::string& modelIni) : oldCwd_(fs::current_path())
    {
        dir_ = ombrel_test::scratchDir("eq-app");
        fs::create_directories(dir_ + "/hwlibs");
        fs::copy_file(APP_DIR "/libTvkManager.so", dir_ + "/libTvkManager.so");
        fs::copy_file(APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        fs::copy(APP_DIR "/configs", dir_ + "/configs", fs::copy_options::recursive);
        fs::copy_file(HWMODEL_LIBRARY_PATH, dir_ + "/hwlibs/tvkHwModel.so");
        ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwModel.ini", modelIni);
        fs::copy_file(EQUALIZER_PATH, dir_ + "/Equalizer.so");
        if (const char* pulser = std::getenv("EQUALIZER_TEST_PULSER"))
            fs::copy_file(pulser, dir_ + "/hwlibs/hpPulser.so");
        fs::copy_file(APP_DIR "/TvkCtrlUI.so", dir_ + "/TvkCtrlUI.so");
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini", "[Plugins]\nTvkCtrlUI.so\nEqualizer.so\n");
        fs::current_path(dir_); // the log goes to the current folder
        if (!lib_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(lib_.error());
        call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>("mgrSetUiHooks")(nullptr, nullptr);
        if (call<int (*)()>("mgrInitManager")() != 0)
            throw std::runtime_error("the manager did not start");
        Calls::instance().clear();
    }
    ~EqApp()
    {
        call<int (*)()>("mgrUnloadManager")();
        call<int (*)(MgrUiHooks*, const MgrUtilsEntries*)>("mgrSetUiHooks")(nullptr, nullptr);
        fs::current_path(oldCwd_);
        ombrel_test::keepLoaded(std::move(model_));
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
    template <class Fn>
    Fn model(const char* name)
    {
        if (!model_.isOpen() && !model_.open(dir_ + "/hwlibs/tvkHwModel.so"))
            throw std::runtime_error(model_.error());
        return reinterpret_cast<Fn>(model_.symbol(name));
    }

    int callFunc(const char* name, std::vector<_FuncSlot> in, void* out = nullptr)
    {
        void* outs[1] = {out};
        return call<int (*)(const char*, const char*, const _FuncSlot*, void* const*)>("mgrCallFuncItem")(
            "equalizer", name, in.data(), out ? outs : nullptr);
    }
    std::string lastError(unsigned dev = 0)
    {
        std::vector<char> text(4096, 'x');
        if (callFunc("DepScanGetLastErr", {tvkSlotUint(dev)}, text.data()) != 0)
            return "<failed>";
        return std::string(text.data());
    }
    std::vector<uint16_t> dacs(int size)
    {
        std::vector<uint16_t> d(static_cast<size_t>(size));
        EXPECT_EQ(call<int (*)(unsigned, uint16_t*, int, int)>("tvkCtrlGetDACs")(0, d.data(), size, -1), 0);
        return d;
    }
    std::string dacName(int index)
    {
        const char** names = nullptr;
        const int* bits = nullptr;
        int count = 0;
        call<int (*)(unsigned, const char***, const int**, int*)>("tvkCtrlGetDACsNames")(0, &names, &bits, &count);
        return index < count ? names[index] : "";
    }
    // The model's id of the one device (the manager's start may have retired earlier ids).
    int modelId()
    {
        auto failAt = model<ModelFailAtFn>("modelFailAt");
        for (int id = 0; id < 16; ++id)
            if (failAt(id, "hwSetTvkDACs", 0) == 0)
                return id;
        return -1;
    }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    fs::path oldCwd_;
    plat::Module lib_;
    plat::Module model_;
};

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

template <class T>
T* window(const char* objectName)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName)
            return static_cast<T*>(w);
    return nullptr;
}

// Pumps the GUI thread until pred holds (at most seconds).
template <class Pred>
bool pumpUntil(Pred pred, int seconds = 60)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

// Replaces a spin box's text as a user does: select all, type.
void typeInto(QAbstractSpinBox* spin, const QString& text)
{
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, text);
    QTest::keyClick(spin, Qt::Key_Tab);
}

void typeInto(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
}

// The lines of the manager's log holding text.
int logLines(const EqApp& app, const std::string& text)
{
    int n = 0;
    std::string all = ombrel_test::readFile(app.dir() + "/log.txt");
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++n;
    return n;
}

// Calls the menu item of a tool ("...|<tool>"); its result, -1000 when there is none.
int callMenu(EqApp& app, const char* tool)
{
    int id = 0;
    char name[MGR_MENU_NAME_SIZE];
    auto first = app.call<int (*)(int*, char*)>("mgrGetFirstMenuItem");
    auto next = app.call<int (*)(int*, char*)>("mgrGetNextMenuItem");
    for (int rc = first(&id, name); rc == 0; rc = next(&id, name))
        if (std::string(name).ends_with(std::string("|") + tool))
            return app.call<int (*)(int)>("mgrCallMenuItemByID")(id);
    return -1000;
}

// One manager for the program: the device-control library it loads stays loaded (and a second manager copy
// would find it by its name, with the first copy's hardware folder).
class EqualizerInManager : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        app_ = new EqApp("[Model]\nChips=1\nType=1\n");
        auto subscribe = app_->call<int (*)(const char*, const char*, EventCallback)>("mgrRegisterCallback");
        subscribedStart_ = subscribe("equalizer", "DacScanStart", onScanStart);
        subscribedFinish_ = subscribe("equalizer", "DacScanFinish", onScanFinish);
    }
    static void TearDownTestSuite()
    {
        delete app_;
        app_ = nullptr;
    }
    void SetUp() override { Calls::instance().clear(); }

protected:
    static inline EqApp* app_ = nullptr;
    static inline int subscribedStart_ = -1, subscribedFinish_ = -1;
};

} // namespace

TEST(EqualizerEntry, AnotherInterfaceVersionIsRefusedWithTheBoxAndNothingRegistered)
{
    plat::Module module;
    ASSERT_TRUE(module.open(EQUALIZER_PATH)) << module.error();
    auto init = reinterpret_cast<int (*)(const _MgrFuncTable*)>(module.symbol("InitTvkPlugin"));
    auto setBoxes =
        reinterpret_cast<void (*)(const MessageBoxHandler*)>(module.symbol("equalizerSetMessageBoxHandler"));
    ASSERT_TRUE(init && setBoxes);
    std::vector<std::pair<std::string, std::string>> boxes;
    const MessageBoxHandler handler = [&](QWidget*, const QString& text, const QString& title, unsigned) {
        boxes.emplace_back(title.toStdString(), text.toStdString());
        return int(MSGBOX_IDOK);
    };
    setBoxes(&handler);
    _MgrFuncTable old{}; // every slot null: a use of any would crash
    old.version = 16;
    EXPECT_EQ(init(&old), -1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Plugin version check failed");
    EXPECT_EQ(boxes[0].second,
              "Plugin \"equalizer\" was compiled with header files ver. 17, this version is 16, please recompile the "
              "plugin.");
    setBoxes(nullptr);
    ombrel_test::keepLoaded(std::move(module));
}

TEST_F(EqualizerInManager, FunctionRecordsAndEventsByName)
{
    EqApp& app = *app_;
    struct P {
        uint32_t type;
        int32_t count;
        const char* name;
    };
    const P dev{TYPE_U32, 1, "Tvk device ID"};
    struct Record {
        const char* name;
        std::vector<P> in, out;
        const char* description;
    };
    const Record records[] = {
        {"DepScanShowWnd",
         {dev, {TYPE_BOOL, 1, "Show/hide window (TRUE/FALSE)"}, {TYPE_BOOL, 1, "Enable user interface (TRUE/FALSE)"}},
         {},
         "Shows/hides dep. scan window, enable/disable UI"},
        {"DepScanCloseWnd", {dev}, {}, "Closes dep. scan window."},
        {"DepScanSetIniFile", {dev, {TYPE_STRING, 1, "Ini file name that should be used for initialization"}}, {},
         "Sets ini file that should be used for initialization."},
        {"DepScanHideOnClose", {dev, {TYPE_BOOL, 1, "TRUE - close hides window, FALSE - close destroys window"}}, {},
         "Sets how close will treat the window (hide/destroy)."},
        {"DepScanStart",
         {dev, {TYPE_U32, 1, "DACs mask (bit is active if DAC should be scanned"},
          {TYPE_BOOL, 1, "If other DACs should be set to default (middle) value during scan"},
          {TYPE_I32, 1, "Scan FROM"}, {TYPE_I32, 1, "Scan TO"}, {TYPE_I32, 1, "Scan with STEP"},
          {TYPE_STRING, 1, "Path to output filename"}},
         {},
         "Starts dependency scan"},
        {"DepScanAbort", {dev}, {}, "Aborts running scan"},
        {"DepScanSaveImage", {dev, {TYPE_STRING, 1, "File name of image."}}, {}, "Saves current plot to specified file."},
        {"DepScanGetLastErr", {dev}, {{TYPE_CHAR, 4096, "Buffer for error message"}}, "Gets last error message"},
        {"DepScanSetCbFinished", {dev, {TYPE_U32, 1, "Finished callback address (type CallbackFuncType)"}}, {},
         "Sets \"Finished\" callback"},
        {"DepScanSetCbError", {dev, {TYPE_U32, 1, "Error callback address (type CallbackFuncType)"}}, {},
         "Sets error callback (notify user if error occurred (param. of cb is DEVID)"},
        {"DepScanSetCbClose", {dev, {TYPE_U32, 1, "Close callback address (type CallbackFuncType)"}}, {},
         "Sets close callback (notify user if window was closed (param. of cb is DEVID)"},
        {"DacScanStart", {dev}, {}, "Starts DACs scan (parameters are taken from UI)"},
        {"DacScanSetFileOutput",
         {dev, {TYPE_STRING, 1, "Path to output filename"}, {TYPE_U32, 1, "File flags for saving format (see FSAVE_*)"}},
         {},
         "Sets file name for output and type of output"},
    };
    auto getItem = app.call<int (*)(const char*, const char*, _FuncItem*)>("mgrGetFuncItem");
    for (const Record& r : records) {
        SCOPED_TRACE(r.name);
        _FuncItem item{};
        ASSERT_EQ(getItem("EQUALIZER", r.name, &item), 0);
        EXPECT_STREQ(item.plugin, "equalizer");
        EXPECT_STREQ(item.function, r.name);
        EXPECT_STREQ(item.description, r.description);
        EXPECT_EQ(item.flags, 0u);
        ASSERT_EQ(item.inCount, r.in.size());
        ASSERT_EQ(item.outCount, r.out.size());
        for (size_t k = 0; k < r.in.size(); ++k) {
            EXPECT_EQ(item.in[k].type, r.in[k].type) << k;
            EXPECT_EQ(item.in[k].count, r.in[k].count) << k;
            EXPECT_STREQ(item.in[k].name, r.in[k].name) << k;
        }
        for (size_t k = 0; k < r.out.size(); ++k) {
            EXPECT_EQ(item.out[k].type, r.out[k].type);
            EXPECT_EQ(item.out[k].count, r.out[k].count);
            EXPECT_STREQ(item.out[k].name, r.out[k].name);
        }
    }
    EXPECT_EQ(subscribedStart_, 0);
    EXPECT_EQ(subscribedFinish_, 0);

    // A DAC scan by name before its window was ever opened runs with the window's defaults: THL from 0 to
    // 100 by 10, every step's frame saved under the name set by name (three digits for 100).
    const std::string folder = app.dir() + "/byname";
    fs::create_directories(folder);
    ASSERT_EQ(app.callFunc("DacScanSetFileOutput",
                           {tvkSlotUint(0), tvkSlotPtr((folder + "/scan.txt").c_str()), tvkSlotUint(FSAVE_ASCII)}),
              0);
    ASSERT_EQ(app.callFunc("DacScanStart", {tvkSlotUint(0)}), 0);
    EXPECT_EQ(Calls::instance().waitFor(2),
              (std::vector<std::pair<std::string, intptr_t>>{{"DacScanStart", 0}, {"DacScanFinish", 0}}));
    std::vector<std::string> saved;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".txt") // each beside its description file
            saved.push_back(entry.path().filename().string());
    std::sort(saved.begin(), saved.end());
    std::vector<std::string> expected;
    for (const char* v : {"000", "010", "020", "030", "040", "050", "060", "070", "080", "090", "100"})
        expected.push_back(std::string("scan_THL_") + v + ".txt");
    EXPECT_EQ(saved, expected);
    ASSERT_EQ(app.callFunc("DacScanSetFileOutput", {tvkSlotUint(0), tvkSlotPtr(""), tvkSlotUint(0)}), 0);
    Calls::instance().clear();
    // Unknown devices are refused by every per-device function.
    EXPECT_EQ(app.callFunc("DepScanAbort", {tvkSlotUint(7)}), -1);
    EXPECT_EQ(app.callFunc("DacScanStart", {tvkSlotUint(7)}), -1);
    EXPECT_EQ(app.lastError(7), "<failed>");
}

// The wafer prober's use: callbacks set, scans started by name, their end learned from the callbacks.
TEST_F(EqualizerInManager, DependencyScanByName)
{
    EqApp& app = *app_;
    Calls& calls = Calls::instance();
    ASSERT_EQ(app.callFunc("DepScanSetCbFinished", {tvkSlotUint(0), tvkSlotPtr(reinterpret_cast<void*>(onFinished))}), 0);
    ASSERT_EQ(app.callFunc("DepScanSetCbError", {tvkSlotUint(0), tvkSlotPtr(reinterpret_cast<void*>(onError))}), 0);
    const std::vector<uint16_t> before = app.dacs(13);
    const std::string out = app.dir() + "/deps.txt";
    const auto start = [&](uint32_t mask, int from, int to, int step, const std::string& path) {
        return app.callFunc("DepScanStart", {tvkSlotUint(0), tvkSlotUint(mask), tvkSlotInt(0), tvkSlotInt(from),
                                             tvkSlotInt(to), tvkSlotInt(step), tvkSlotPtr(path.c_str())});
    };

    // Success: the file, Finished once with the device id.
    ASSERT_EQ(start(0x2, 0, 10, 5, out), 0) << app.lastError();
    EXPECT_EQ(calls.waitFor(1), (std::vector<std::pair<std::string, intptr_t>>{{"finished", 0}}));
    EXPECT_EQ(ombrel_test::readFile(out), "# " + app.dacName(1) + "\n0\t0.0000\t0.0000\n5\t0.0294\t0.0000\n10\t0.0588\t0.0000\n");
    EXPECT_EQ(app.dacs(13), before);
    EXPECT_EQ(app.lastError(), "");

    // An image of the scan, vector and raster.
    for (const char* name : {"/deps.svg", "/deps.png"}) {
        ASSERT_EQ(app.callFunc("DepScanSaveImage", {tvkSlotUint(0), tvkSlotPtr((app.dir() + name).c_str())}), 0);
        EXPECT_GT(fs::file_size(app.dir() + name), 100u) << name;
    }
    EXPECT_EQ(app.callFunc("DepScanSaveImage", {tvkSlotUint(0), tvkSlotPtr(nullptr)}), -1);

    // Refused settings: -1 with the text, no callback, the file untouched.
    struct Bad {
        uint32_t mask;
        int from, to, step;
        const char* text;
    };
    const Bad bad[] = {
        {0x2, -1, 10, 1, "Scan FROM (-1) must not be negative."},
        {0x2, 0, 10, 0, "Scan STEP (0) must be positive."},
        {0x2, 11, 10, 1, "Scan FROM (11) is above scan TO (10)."},
        {0x0, 0, 10, 1, "Invalid DACs mask (0x0), the device has 13 DACs."},
        {0x4000, 0, 10, 1, "Invalid DACs mask (0x4000), the device has 13 DACs."},
    };
    calls.clear();
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.text);
        EXPECT_EQ(start(b.mask, b.from, b.to, b.step, app.dir() + "/other.txt"), -1);
        EXPECT_EQ(app.lastError(), b.text);
    }
    EXPECT_FALSE(fs::exists(app.dir() + "/other.txt"));

    // A device failing: Error once with the id, the step's text, the DACs given back.
    ASSERT_EQ(app.model<ModelFailAtFn>("modelFailAt")(app.modelId(), "hwSetTvkDACs", 1), 0);
    ASSERT_EQ(start(0x2, 0, 10, 5, app.dir() + "/failed.txt"), 0);
    EXPECT_EQ(calls.waitFor(1), (std::vector<std::pair<std::string, intptr_t>>{{"error", 0}}));
    EXPECT_EQ(app.lastError(), "Setting DAC " + app.dacName(1) + " to 0 failed.");
    EXPECT_FALSE(fs::exists(app.dir() + "/failed.txt"));
    EXPECT_EQ(app.dacs(13), before);

    // Aborted right after its start (before the worker reads its flag): Error, the text, DACs back.
    calls.clear();
    ASSERT_EQ(start(0x1FFF, 0, 255, 1, app.dir() + "/aborted.txt"), 0);
    ASSERT_EQ(app.callFunc("DepScanAbort", {tvkSlotUint(0)}), 0);
    EXPECT_EQ(calls.waitFor(1), (std::vector<std::pair<std::string, intptr_t>>{{"error", 0}}));
    EXPECT_EQ(app.lastError(), "Dependency scan aborted.");
    EXPECT_EQ(app.dacs(13), before);

    // A start from another thread right after the end was reported (the worker still returning) runs.
    calls.clear();
    ASSERT_EQ(start(0x2, 0, 10, 5, out), 0);
    calls.waitFor(1);
    EXPECT_EQ(start(0x2, 0, 10, 5, out), 0) << app.lastError();
    EXPECT_EQ(calls.waitFor(2).size(), 2u);

    // A null callback disables it.
    ASSERT_EQ(app.callFunc("DepScanSetCbFinished", {tvkSlotUint(0), tvkSlotPtr(nullptr)}), 0);
    calls.clear();
    ASSERT_EQ(start(0x2, 0, 10, 5, out), 0);
    ASSERT_EQ(app.callFunc("DepScanShowWnd", {tvkSlotUint(0), tvkSlotInt(0), tvkSlotInt(1)}), 0);
    settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(calls.waitFor(0).empty());
}

// The windows offscreen: each opens from its function or menu, runs, aborts and closes.
TEST_F(EqualizerInManager, WindowsOpenRunAbortAndClose)
{
    EqApp& app = *app_;
    Calls& calls = Calls::instance();
    ASSERT_EQ(app.callFunc("DepScanSetCbClose", {tvkSlotUint(0), tvkSlotPtr(reinterpret_cast<void*>(onClose))}), 0);

    // The dependency scan window, shown by name from another thread (it waits for the window), UI locked.
    int shown = -100;
    std::thread caller([&] { shown = app.callFunc("DepScanShowWnd", {tvkSlotUint(0), tvkSlotInt(1), tvkSlotInt(0)}); });
    ASSERT_TRUE(pumpUntil([&] { return window<CAnalogScanDlg>("AnalogScanDlg") != nullptr; }));
    caller.join();
    EXPECT_EQ(shown, 0);
    CAnalogScanDlg* dep = window<CAnalogScanDlg>("AnalogScanDlg");
    ASSERT_NE(dep, nullptr);
    EXPECT_TRUE(dep->isVisible());
    EXPECT_FALSE(dep->startButton()->isEnabled());
    ASSERT_EQ(app.callFunc("DepScanShowWnd", {tvkSlotUint(0), tvkSlotInt(1), tvkSlotInt(1)}), 0);
    EXPECT_TRUE(dep->startButton()->isEnabled());
    dep->toSpin()->setValue(100);
    dep->stepSpin()->setValue(10);
    dep->outputEdit()->setText(QString::fromStdString(app.dir() + "/window.txt"));
    dep->startButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return !dep->abortButton()->isEnabled() && fs::exists(app.dir() + "/window.txt"); }));
    EXPECT_EQ(dep->progressBar()->value(), 100);
    EXPECT_EQ(dep->status()->text().toStdString(), "Dependency scan finished.");
    // Hide on close: the user's close only hides; the close callback tells the caller.
    ASSERT_EQ(app.callFunc("DepScanHideOnClose", {tvkSlotUint(0), tvkSlotInt(1)}), 0);
    settle();
    dep->close();
    settle();
    EXPECT_EQ(window<CAnalogScanDlg>("AnalogScanDlg"), dep);
    EXPECT_FALSE(dep->isVisible());
    EXPECT_EQ(calls.waitFor(1), (std::vector<std::pair<std::string, intptr_t>>{{"close", 0}}));
    ASSERT_EQ(app.callFunc("DepScanHideOnClose", {tvkSlotUint(0), tvkSlotInt(0)}), 0);
    ASSERT_EQ(app.callFunc("DepScanCloseWnd", {tvkSlotUint(0)}), 0);
    settle();
    EXPECT_EQ(window<CAnalogScanDlg>("AnalogScanDlg"), nullptr);

    // The DAC scan window: a run with its events, then DacScanStart by name with the window's parameters,
    // aborted at once.
    auto menu = [&](const char* tool) { return callMenu(app, tool); };
    ASSERT_EQ(menu(CDacScanDlg::kToolName), 0);
    ASSERT_TRUE(pumpUntil([&] { return window<CDacScanDlg>("DacScanDlg") != nullptr; }));
    CDacScanDlg* dac = window<CDacScanDlg>("DacScanDlg");
    dac->fromSpin()->setValue(0);
    dac->toSpin()->setValue(255);
    dac->stepSpin()->setValue(1);
    dac->startButton()->click();
    dac->abortButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return !dac->abortButton()->isEnabled(); }));
    EXPECT_EQ(dac->status()->text().toStdString(), "DAC scan aborted.");
    dac->toSpin()->setValue(40);
    dac->stepSpin()->setValue(20);
    calls.clear();
    dac->startButton()->click();
    // A short run may end before the window reads its state after Start; its end is shown all the same.
    ASSERT_TRUE(pumpUntil([&] {
        return !dac->abortButton()->isEnabled() && calls.waitFor(0).size() >= 2 &&
               dac->status()->text() != QStringLiteral("Scanning...");
    }));
    EXPECT_EQ(calls.waitFor(2), (std::vector<std::pair<std::string, intptr_t>>{{"DacScanStart", 0}, {"DacScanFinish", 0}}));
    EXPECT_EQ(dac->status()->text().toStdString(), "DAC scan finished.");
    EXPECT_EQ(dac->progressBar()->value(), 100);
    calls.clear();
    ASSERT_EQ(app.callFunc("DacScanSetFileOutput", {tvkSlotUint(0), tvkSlotPtr("/nonexistent/x.txt"), tvkSlotUint(0)}), 0);
    settle();
    EXPECT_EQ(dac->outputEdit()->text().toStdString(), "/nonexistent/x.txt");
    ASSERT_EQ(app.callFunc("DacScanSetFileOutput", {tvkSlotUint(0), tvkSlotPtr(""), tvkSlotUint(0)}), 0);
    ASSERT_EQ(app.callFunc("DacScanStart", {tvkSlotUint(0)}), 0);
    EXPECT_EQ(calls.waitFor(2), (std::vector<std::pair<std::string, intptr_t>>{{"DacScanStart", 0}, {"DacScanFinish", 0}}));
    ASSERT_TRUE(pumpUntil([&] { return !dac->abortButton()->isEnabled(); }));
    dac->close();
    settle();
    EXPECT_EQ(window<CDacScanDlg>("DacScanDlg"), nullptr);

    // The equalization window: a run to its end, then one aborted.
    ASSERT_EQ(menu(CEqualizerDlg::kToolName), 0);
    ASSERT_TRUE(pumpUntil([&] { return window<CEqualizerDlg>("EqualizerDlg") != nullptr; }));
    CEqualizerDlg* eq = window<CEqualizerDlg>("EqualizerDlg");
    eq->fromSpin()->setValue(40);
    eq->toSpin()->setValue(200);
    eq->stepSpin()->setValue(2);
    eq->acqTimeSpin()->setValue(1e-6);
    eq->startButton()->click();
    EXPECT_TRUE(eq->abortButton()->isEnabled());
    ASSERT_TRUE(pumpUntil([&] { return !eq->abortButton()->isEnabled(); }));
    EXPECT_TRUE(eq->status()->text().startsWith(QStringLiteral("Equalization finished"))) << eq->status()->text().toStdString();
    eq->startButton()->click();
    eq->abortButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return !eq->abortButton()->isEnabled(); }));
    EXPECT_EQ(eq->status()->text().toStdString(), "Equalization failed or aborted (see the log).");
    eq->close();
    settle();
    EXPECT_EQ(window<CEqualizerDlg>("EqualizerDlg"), nullptr);
}

// The frame-file flags set by name stay when the user starts the scan from the window (which has the name
// but no flags): every step's frame is saved under the name the window shows.
TEST_F(EqualizerInManager, WindowStartKeepsTheFileFlagsSetByName)
{
    EqApp& app = *app_;
    ASSERT_EQ(callMenu(app, CDacScanDlg::kToolName), 0);
    ASSERT_TRUE(pumpUntil([&] { return window<CDacScanDlg>("DacScanDlg") != nullptr; }));
    CDacScanDlg* dac = window<CDacScanDlg>("DacScanDlg");
    const std::string folder = app.dir() + "/frames";
    fs::create_directories(folder);
    ASSERT_EQ(app.callFunc("DacScanSetFileOutput",
                           {tvkSlotUint(0), tvkSlotPtr((folder + "/scan.txt").c_str()), tvkSlotUint(FSAVE_ASCII)}),
              0);
    settle();
    EXPECT_EQ(dac->outputEdit()->text().toStdString(), folder + "/scan.txt");
    dac->fromSpin()->setValue(0);
    dac->toSpin()->setValue(20);
    dac->stepSpin()->setValue(20);
    dac->perStepSpin()->setValue(1);
    dac->acqTimeSpin()->setValue(1e-6);
    dac->startButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return !dac->abortButton()->isEnabled(); }));
    EXPECT_EQ(dac->status()->text().toStdString(), "DAC scan finished.");
    EXPECT_TRUE(fs::exists(folder + "/scan_THL_00.txt"));
    EXPECT_TRUE(fs::exists(folder + "/scan_THL_20.txt"));
    dac->close();
    settle();
    EXPECT_EQ(window<CDacScanDlg>("DacScanDlg"), nullptr);
}

// The types that need the external test pulser keep their places in the method list; without its library
// (this program's plain run) they are disabled, so that the user cannot pick a type that configure refuses,
// and a selection that lands on one by other means than the list goes back to the default type. With the
// library (the run with EQUALIZER_TEST_PULSER naming the simulated pulser) every type is there to pick.
TEST_F(EqualizerInManager, PulserTypesDisabledWithoutTheLibrary)
{
    const bool withPulser = std::getenv("EQUALIZER_TEST_PULSER") != nullptr;
    ASSERT_EQ(callMenu(*app_, CEqualizerDlg::kToolName), 0);
    ASSERT_TRUE(pumpUntil([&] { return window<CEqualizerDlg>("EqualizerDlg") != nullptr; }));
    CEqualizerDlg* eq = window<CEqualizerDlg>("EqualizerDlg");
    QComboBox* combo = eq->methodCombo();
    std::vector<int> types, enabled;
    for (int i = 0; i < combo->count(); ++i) {
        types.push_back(combo->itemData(i).toInt());
        if (combo->model()->flags(combo->model()->index(i, 0)) & Qt::ItemIsEnabled)
            enabled.push_back(types.back());
    }
    EXPECT_EQ(types, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12}));
    const std::vector<int> withoutPulserTypes = {1, 2, 3, 4, 5, 6, 9, 10, 11};
    EXPECT_EQ(enabled, withPulser ? types : withoutPulserTypes);
    EXPECT_EQ(combo->currentData().toInt(), 2);

    struct Case {
        const char* name;
        int from;
        int key;  // a key pressed on the list, or 0
        int pick; // a type selected by its index, or 0
        int expected;
        int expectedWithPulser;
    } cases[] = {
        {"down from type 6", 6, Qt::Key_Down, 0, 9, 7},
        {"up from type 9", 9, Qt::Key_Up, 0, 6, 7},
        {"end of the list", 2, Qt::Key_End, 0, 11, 12},
        {"type 7 by index", 2, 0, 7, 2, 7},
        {"type 12 by index", 5, 0, 12, 2, 12},
    };
    for (const Case& c : cases) {
        combo->setCurrentIndex(combo->findData(c.from));
        ASSERT_EQ(combo->currentData().toInt(), c.from) << c.name;
        if (c.key) {
            QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
            QApplication::sendEvent(combo, &press);
        }
        if (c.pick)
            combo->setCurrentIndex(combo->findData(c.pick));
        EXPECT_EQ(combo->currentData().toInt(), withPulser ? c.expectedWithPulser : c.expected) << c.name;
    }
    eq->close();
    settle();
    EXPECT_EQ(window<CEqualizerDlg>("EqualizerDlg"), nullptr);
}

// The equalization window as a user meets it on the model (THL of 8 bits): "To" at the top of the THL
// range and every range control bounded by it; the defaults run to their end, which names the pixels
// masked per chip and in total as the device holds them; the operations on a finished run come on as they
// are allowed, and the distribution file is written from the window. One equalization logs no "Frame N was
// not found.".
TEST_F(EqualizerInManager, EqualizationWindowDefaultsRunAndItsOperations)
{
    EqApp& app = *app_;
    ASSERT_EQ(callMenu(app, CEqualizerDlg::kToolName), 0);
    ASSERT_TRUE(pumpUntil([&] { return window<CEqualizerDlg>("EqualizerDlg") != nullptr; }));
    CEqualizerDlg* eq = window<CEqualizerDlg>("EqualizerDlg");
    EXPECT_EQ(eq->toSpin()->value(), 255);
    for (QSpinBox* range : {eq->fromSpin(), eq->toSpin(), eq->stepSpin()})
        EXPECT_EQ(range->maximum(), 255);
    QComboBox* method = eq->methodCombo();
    EXPECT_EQ(method->itemText(method->findData(5)).toStdString(), "5 - THL with test pulses");
    EXPECT_EQ(method->itemText(method->findData(6)).toStdString(), "6 - THL with test pulses in TOT (chip type 3)");
    // One chip: not one at a time; no run: no operation on it.
    EXPECT_FALSE(eq->oneChipBox()->isEnabled());
    const std::vector<QPushButton*> operations = {eq->rewindowButton(), eq->noiseButton(), eq->balanceButton(),
                                                  eq->distributionButton()};
    for (QPushButton* b : operations)
        EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();

    const int notFoundBefore = logLines(app, "was not found.");
    click(eq->startButton());
    ASSERT_TRUE(pumpUntil([&] { return !eq->abortButton()->isEnabled() && eq->status()->text() != "Equalizing..."; },
                          300));
    // The end as the device holds it: its pixels with bit 0 clear.
    std::vector<uint8_t> cfg(65536);
    auto getCfg = app.call<int (*)(unsigned, uint8_t*, uint32_t, int)>("tvkCtrlGetPixelsCfg");
    const auto maskedOnDevice = [&] {
        EXPECT_EQ(getCfg(0, cfg.data(), 65536, -1), 0);
        return std::count_if(cfg.begin(), cfg.end(), [](uint8_t b) { return !(b & 1); });
    };
    const long masked = maskedOnDevice();
    std::string expected = "Equalization finished. Masked pixels: chip 0: " + std::to_string(masked) + "; total " +
                           std::to_string(masked) + " of 65536.";
    if (masked > 32768)
        expected += "\nMore than half of the pixels are masked (" + std::to_string(masked) +
                    " of 65536): most pixels showed no threshold response between From and To. Check the method, "
                    "the range and the source or test pulses.";
    EXPECT_EQ(eq->status()->text().toStdString(), expected);
    EXPECT_EQ(eq->progressBar()->value(), 100);
    EXPECT_EQ(logLines(app, "was not found."), notFoundBefore);
    EXPECT_EQ(eq->xTitle().toStdString(), "THL");
    EXPECT_EQ(eq->yTitle().toStdString(), "Pixels");

    // After a type 2 run on one chip: all but chip balancing; the file needs its name.
    EXPECT_TRUE(eq->rewindowButton()->isEnabled());
    EXPECT_TRUE(eq->noiseButton()->isEnabled());
    EXPECT_FALSE(eq->balanceButton()->isEnabled());
    EXPECT_FALSE(eq->distributionButton()->isEnabled());
    const std::string dist = app.dir() + "/distributions.txt";
    typeInto(eq->distributionEdit(), QString::fromStdString(dist));
    ASSERT_TRUE(eq->distributionButton()->isEnabled());
    click(eq->distributionButton());
    EXPECT_EQ(eq->status()->text().toStdString(), "The distributions were written to " + dist + ".");
    EXPECT_EQ(ombrel_test::readFile(dist).rfind("Threshold equalization distributions\nType: THL with noise edge\n", 0),
              0u);

    typeInto(eq->windowFactorSpin(), QStringLiteral("2"));
    click(eq->rewindowButton());
    const long rewindowed = maskedOnDevice();
    EXPECT_GE(rewindowed, masked); // a narrower window than the run's six sigma
    EXPECT_EQ(eq->status()->text().toStdString().rfind("Re-windowed at k = 2. Masked pixels: chip 0: " +
                                                           std::to_string(rewindowed) + "; total " +
                                                           std::to_string(rewindowed) + " of 65536.",
                                                       0),
              0u)
        << eq->status()->text().toStdString();
    click(eq->noiseButton());
    EXPECT_EQ(eq->status()->text().toStdString(), "The threshold was set from the noise, p = 1 %.");

    // A run of another type: the threshold from the noise is off again.
    method->setFocus();
    method->setCurrentIndex(method->findData(1));
    typeInto(eq->fromSpin(), QStringLiteral("100"));
    typeInto(eq->toSpin(), QStringLiteral("140"));
    typeInto(eq->acqTimeSpin(), QStringLiteral("0.000001"));
    click(eq->twoLevelBox());
    click(eq->startButton());
    ASSERT_TRUE(pumpUntil([&] { return !eq->abortButton()->isEnabled() && eq->status()->text() != "Equalizing..."; },
                          300));
    EXPECT_EQ(eq->status()->text().toStdString().rfind("Equalization finished.", 0), 0u);
    EXPECT_TRUE(eq->rewindowButton()->isEnabled());
    EXPECT_FALSE(eq->noiseButton()->isEnabled());
    eq->close();
    settle();
}

// The DAC scan window's controls reach the scan: a following DAC at an offset and integrated steps show in
// the saved frames' names, the results file is written at the end and again from its button, with the
// value kind chosen; test pulses run instead of acquisitions.
TEST_F(EqualizerInManager, DacScanWindowControlsReachTheScan)
{
    EqApp& app = *app_;
    ASSERT_EQ(callMenu(app, CDacScanDlg::kToolName), 0);
    ASSERT_TRUE(pumpUntil([&] { return window<CDacScanDlg>("DacScanDlg") != nullptr; }));
    CDacScanDlg* dac = window<CDacScanDlg>("DacScanDlg");
    const std::string folder = app.dir() + "/follow";
    fs::create_directories(folder);
    ASSERT_EQ(app.callFunc("DacScanSetFileOutput",
                           {tvkSlotUint(0), tvkSlotPtr((folder + "/scan.txt").c_str()), tvkSlotUint(FSAVE_ASCII)}),
              0);
    settle();
    EXPECT_FALSE(dac->followCombo()->isEnabled());
    click(dac->followBox());
    ASSERT_TRUE(dac->followCombo()->isEnabled());
    dac->followCombo()->setFocus();
    QTest::keyClicks(dac->followCombo(), "THH");
    EXPECT_EQ(dac->followCombo()->currentText().toStdString(), "THH");
    typeInto(dac->followOffsetSpin(), QStringLiteral("5"));
    click(dac->integrateBox());
    typeInto(dac->fromSpin(), QStringLiteral("0"));
    typeInto(dac->toSpin(), QStringLiteral("40"));
    typeInto(dac->stepSpin(), QStringLiteral("20"));
    typeInto(dac->perStepSpin(), QStringLiteral("2"));
    typeInto(dac->acqTimeSpin(), QStringLiteral("0.000001"));
    const std::string results = app.dir() + "/results.txt";
    typeInto(dac->resultsEdit(), QString::fromStdString(results));
    click(dac->startButton());
    ASSERT_TRUE(pumpUntil([&] { return !dac->abortButton()->isEnabled() && dac->status()->text() != "Scanning..."; }));
    EXPECT_EQ(dac->status()->text().toStdString(), "DAC scan finished.");
    for (const char* v : {"00", "20", "40"})
        EXPECT_TRUE(fs::exists(folder + "/scan_THL-w5THH_" + v + ".txt")) << v;
    // The whole history, each run a header line of its DAC values: this run is the last block.
    const std::string text = ombrel_test::readFile(results);
    const size_t last = text.rfind("\n\n", text.size() - 3);
    const std::string block = text.substr(last == std::string::npos ? 0 : last + 2);
    EXPECT_EQ(block.substr(0, block.find('\n')), "0\t20\t40") << text;
    EXPECT_EQ(dac->xTitle().toStdString(), "THL value");
    EXPECT_EQ(dac->yTitle().toStdString(), "Sum of medians");

    // The button writes the history now, with the value chosen in the window.
    ASSERT_TRUE(dac->writeResultsButton()->isEnabled());
    dac->kindCombo()->setFocus();
    QTest::keyClick(dac->kindCombo(), Qt::Key_End); // the last kind
    EXPECT_EQ(dac->kindCombo()->currentIndex(), 2);
    EXPECT_EQ(dac->yTitle().toStdString(), "Sum of counts");
    const std::string again = app.dir() + "/results2.txt";
    typeInto(dac->resultsEdit(), QString::fromStdString(again));
    click(dac->writeResultsButton());
    EXPECT_EQ(dac->status()->text().toStdString(), "The results were written to " + again + ".");
    EXPECT_NE(ombrel_test::readFile(again), text); // sums of counts, not of medians
    EXPECT_EQ(ombrel_test::readFile(again).substr(0, text.find('\n')), text.substr(0, text.find('\n')));

    // Test pulses in place of acquisitions.
    ASSERT_EQ(app.callFunc("DacScanSetFileOutput", {tvkSlotUint(0), tvkSlotPtr(""), tvkSlotUint(0)}), 0);
    settle();
    EXPECT_FALSE(dac->pulseCountSpin()->isEnabled());
    click(dac->testPulseBox());
    EXPECT_TRUE(dac->pulseCountSpin()->isEnabled());
    typeInto(dac->pulseCountSpin(), QStringLiteral("10"));
    typeInto(dac->resultsEdit(), QString());
    click(dac->startButton());
    ASSERT_TRUE(pumpUntil([&] { return !dac->abortButton()->isEnabled() && dac->status()->text() != "Scanning..."; }));
    EXPECT_EQ(dac->status()->text().toStdString(), "DAC scan finished.");
    dac->close();
    settle();
}

// The dependency scan window with its default range 0..1023 on an 8-bit DAC: the range is cut to 255 with
// a message in the window and the log, the progress reaches 100 % at the end; the plot's axes are titled,
// and a scan of one code (a flat curve) is drawn inside the plot.
TEST_F(EqualizerInManager, DependencyScanWindowCutsTheRangeAndShowsItsEnd)
{
    EqApp& app = *app_;
    ASSERT_EQ(callMenu(app, CAnalogScanDlg::kToolName), 0);
    ASSERT_TRUE(pumpUntil([&] { return window<CAnalogScanDlg>("AnalogScanDlg") != nullptr; }));
    CAnalogScanDlg* dep = window<CAnalogScanDlg>("AnalogScanDlg");
    ASSERT_TRUE(dep->startButton()->isEnabled());
    for (size_t i = 0; i < dep->dacBoxes().size(); ++i)
        if (dep->dacBoxes()[i]->isChecked() != (i == 0))
            click(dep->dacBoxes()[i]);
    typeInto(dep->fromSpin(), QStringLiteral("0"));
    typeInto(dep->toSpin(), QStringLiteral("1023"));
    typeInto(dep->outputEdit(), QString());
    const std::string cut = "Scan TO (1023) is cut to 255 for " + app.dacName(0) + " (its largest value).";
    click(dep->startButton());
    ASSERT_TRUE(pumpUntil([&] { return !dep->abortButton()->isEnabled() && dep->status()->text() != "Scanning..."; }));
    EXPECT_EQ(dep->status()->text().toStdString(), "Dependency scan finished.");
    EXPECT_EQ(dep->progressBar()->value(), 100);
    EXPECT_EQ(dep->noticeLabel()->text().toStdString(), cut);
    EXPECT_EQ(logLines(app, cut), 1);
    EXPECT_EQ(dep->xTitle().toStdString(), "DAC code");
    EXPECT_EQ(dep->yTitle().toStdString(), "Analog value, chip 0");

    // One code: the model reads 10 x 1.5 V / 255 back, a flat line that lies inside the plot.
    typeInto(dep->fromSpin(), QStringLiteral("10"));
    typeInto(dep->toSpin(), QStringLiteral("10"));
    click(dep->startButton());
    ASSERT_TRUE(pumpUntil([&] { return !dep->abortButton()->isEnabled() && dep->status()->text() != "Scanning..."; }));
    EXPECT_EQ(dep->status()->text().toStdString(), "Dependency scan finished.");
    EXPECT_EQ(dep->noticeLabel()->text().toStdString(), "");
    const double y = 10 * 1.5 / 255;
    EXPECT_LT(dep->plot()->yMin, y - 1e-3);
    EXPECT_GT(dep->plot()->yMax, y + 1e-3);
    dep->close();
    settle();
}
