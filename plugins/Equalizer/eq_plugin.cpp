// The plug-in Equalizer.so ("equalizer"): the three per-device tools, the two DAC scan events and the
// thirteen functions through which other plug-ins drive the scans by name. The functions run in the
// caller's thread; what touches a window is queued to the GUI thread (showing the dependency scan window
// waits at most 5 s for it), and a dependency scan's end reaches the caller through the callbacks set
// here, called in the scan's worker with the device id.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "eq_data.h"
#include "pluginfw/plugin_entry.h"
#include "pluginfw/plugin_table.h"
#include "uikit/message_box.h"

namespace {

using CallbackFuncType = void (*)(uint32_t parameter);

MultDataPluginMgr<ThEqualData> gEqual;
MultDataPluginMgr<DacScanData> gDacScan;
MultDataPluginMgr<DepScanData> gDepScan;
PluginCallContext gCalls;
std::unique_ptr<equalizer::ExternalPulser> gPulser;

// Event ids from mgrAddCBEvent; -1 while not registered.
std::atomic<int> gEventFinish{-1};
std::atomic<int> gEventStart{-1};

// The dependency scan callbacks, one each for the plug-in; null disables.
std::atomic<CallbackFuncType> gCbFinished{nullptr};
std::atomic<CallbackFuncType> gCbError{nullptr};
std::atomic<CallbackFuncType> gCbClose{nullptr};

constexpr const char* kSource = equalizer::kLogSource;
constexpr size_t kLastErrSize = 4096;

void logText(const std::string& text)
{
    if (const _MgrFuncTable* t = pluginTable(); t && t->mgrLogMsg)
        t->mgrLogMsg(kSource, "%s", 0, text.c_str());
}

void fire(const std::atomic<CallbackFuncType>& cb, int devId)
{
    if (CallbackFuncType f = cb.load())
        f(static_cast<uint32_t>(devId));
}

void fireEvent(const std::atomic<int>& id, int devId)
{
    const _MgrFuncTable* t = pluginTable();
    if (id.load() >= 0 && t && t->mgrSetCBEvent)
        t->mgrSetCBEvent(id.load(), devId);
}

// Waits for a worker that has reported its end but not yet returned (at most 5 s); false when it still runs
// or the caller is that worker.
bool waitForEndedWorker(const ThreadOp& op, const std::atomic<bool>& ended, const std::atomic<std::thread::id>& worker)
{
    if (!op.isRunning())
        return true;
    if (!ended || worker.load() == std::this_thread::get_id())
        return false;
    op.thread().waitFor(std::chrono::seconds(5));
    return !op.isRunning();
}

} // namespace

// ---- threshold equalization ----

ThEqualData::ThEqualData(int devId) : MultDataBaseWnd(devId)
{
    op.work = [this] {
        const int rc = engine.run();
        lastResult_ = rc;
        return rc;
    };
    op.stop = [this] { engine.abort(); };
}

ThEqualData::~ThEqualData()
{
    op.requestAbort();
    waitForThread(op);
}

int ThEqualData::start(int type, bool twoLevel, int first, int second, int step,
                       const equalizer::EqualizationSettings& settings, std::string* why)
{
    const auto refuse = [why](const std::string& text) {
        logText(text);
        if (why)
            *why = text;
        return -1;
    };
    if (op.isRunning())
        return refuse("A threshold equalization is already running.");
    const _MgrFuncTable* t = pluginTable();
    if (engine.setUp(t, static_cast<unsigned>(devId), [this](unsigned message, int) {
            if (message == equalizer::kMsgFinished)
                postToWindow(new QEvent(kRunEndedEvent));
        }) != 0)
        return refuse("The threshold equalization cannot use the device: its DACs THL, THS, FBK (and THH) or "
                      "its description cannot be read.");
    std::string reason;
    if (engine.setSettings(settings, &reason) != 0 ||
        equalizer::configureEqualization(engine, *externalPulser(), static_cast<unsigned>(devId), settings, type,
                                         twoLevel, first, second, step, &reason) != 0)
        return refuse("The threshold equalization settings were refused: " + reason);
    return op.start() ? 0 : refuse("The threshold equalization thread cannot be started.");
}

// ---- DAC scan ----

DacScanData::DacScanData(int devId) : MultDataBaseWnd(devId)
{
    op.work = [this] {
        fireEvent(gEventStart, this->devId);
        const int rc = engine.run();
        lastResult_ = rc;
        const DacScanParams p = params();
        if (!p.results.empty())
            writeResults(p.results, p.kind, p.enabledOnly, p.difference, p.header);
        postToWindow(new QEvent(kRunEndedEvent));
        fireEvent(gEventFinish, this->devId);
        return rc;
    };
    op.stop = [this] { engine.abort(); };
}

DacScanData::~DacScanData()
{
    op.requestAbort();
    waitForThread(op);
}

void DacScanData::setOutput(const std::string& path, uint32_t flags)
{
    std::lock_guard<std::mutex> guard(mutex_);
    output_ = path;
    flags_ = flags;
}

void DacScanData::setOutputPath(const std::string& path)
{
    std::lock_guard<std::mutex> guard(mutex_);
    output_ = path;
}

std::string DacScanData::outputPath() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return output_;
}

DacScanParams DacScanData::params() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return params_;
}

int DacScanData::writeResults(const std::string& path, int kind, bool enabledOnly, bool difference, bool header)
{
    if (path.empty()) {
        logText("The DAC scan results file has no name.");
        return -1;
    }
    if (engine.historyEmpty()) {
        logText("There are no DAC scan results to write.");
        return -1;
    }
    return engine.writeResults(path, kind, enabledOnly, difference, header);
}

int DacScanData::start(const DacScanParams* params)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (params)
        params_ = *params;
    if (op.isRunning()) {
        logText("A DAC scan is already running.");
        return -1;
    }
    const DacScanParams& p = params_;
    if (p.log && output_.empty()) {
        logText("The DAC scan's log needs an output file name.");
        return -1;
    }
    // Every start reads the device again: after a device change the old chip count and DACs are wrong.
    if (engine.setUp(pluginTable(), static_cast<unsigned>(devId), [](unsigned) {}) != 0) {
        logText("The DAC scan cannot read the device's DACs.");
        return -1;
    }
    const int scanned = p.scanned >= 0 ? p.scanned : engine.thlIndex();
    std::string why;
    if (engine.setRange(p.to, p.followIndex, scanned, p.from, p.step, p.follow, p.followOffset, &why) != 0) {
        logText("The DAC scan range was refused: " + why);
        return -1;
    }
    engine.setOutput(output_, flags_, p.log);
    engine.setAcquisition(p.perStep, p.acqTime, p.spacing, p.integrate);
    engine.setTestPulses(p.testPulses, p.pulseHeight, p.pulsePeriod, p.pulseCount, p.columnMask);
    if (!op.start()) {
        logText("The DAC scan thread cannot be started.");
        return -1;
    }
    return 0;
}

// ---- dependency scan ----

DepScanData::DepScanData(int devId) : MultDataBaseWnd(devId)
{
    op.work = [this] {
        worker_ = std::this_thread::get_id();
        const int rc = engine.run([this](bool success) {
            if (!success)
                setError(engine.lastError());
            ended_ = true;
            fire(success ? gCbFinished : gCbError, this->devId);
        });
        lastResult_ = rc;
        postToWindow(new QEvent(kRunEndedEvent));
        return rc;
    };
    op.stop = [this] { engine.abort(); };
}

DepScanData::~DepScanData()
{
    op.requestAbort();
    waitForThread(op);
}

void DepScanData::setError(const std::string& text)
{
    std::lock_guard<std::mutex> guard(mutex_);
    error_ = text;
}

std::string DepScanData::lastError() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return error_;
}

int DepScanData::start(uint32_t mask, bool othersAtMiddle, int from, int to, int step, const std::string& path)
{
    std::lock_guard<std::mutex> guard(startMutex_);
    if (!waitForEndedWorker(op, ended_, worker_)) {
        setError("A dependency scan is already running.");
        return -1;
    }
    if (engine.setUp(pluginTable(), static_cast<unsigned>(devId)) != 0 ||
        engine.configure(mask, othersAtMiddle, from, to, step, path) != 0) {
        setError(engine.lastError());
        return -1;
    }
    if (const std::string notice = engine.notice(); !notice.empty())
        logText(notice);
    setError("");
    ended_ = false;
    if (!op.start()) {
        setError("The dependency scan thread cannot be started.");
        return -1;
    }
    return 0;
}

ThEqualData* findThEqualData(int devId) { return gEqual.find(devId); }
DacScanData* findDacScanData(int devId) { return gDacScan.find(devId); }
DepScanData* findDepScanData(int devId) { return gDepScan.find(devId); }
equalizer::ExternalPulser* externalPulser() { return gPulser.get(); }

void notifyDepScanClosed(int devId) { fire(gCbClose, devId); }

// ---- registered functions ----

namespace {

// Runs fn on the GUI thread and gives its result; from another thread waits at most 5 s (-1 after that,
// the call still runs later).
int callOnGui(std::function<int()> fn)
{
    if (isGuiThread())
        return fn();
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> done = result->get_future();
    runOnGuiThread(gCalls.context(), [fn = std::move(fn), result] { result->set_value(fn()); });
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        logText("The dependency scan window was not ready within 5 s.");
        return -1;
    }
    return done.get();
}

int devOf(const _FuncSlot* in) { return static_cast<int>(static_cast<uint32_t>(in[0].u)); }

DepScanData* depData(const _FuncSlot* in)
{
    DepScanData* d = findDepScanData(devOf(in));
    if (!d)
        logText("Device " + std::to_string(devOf(in)) + " has no dependency scan.");
    return d;
}

// A text input; null stays null.
const char* textOf(const _FuncSlot& slot) { return static_cast<const char*>(slot.p); }

int DepScanShowWnd(void*, const _FuncSlot* in, void* const*)
{
    DepScanData* d = depData(in);
    if (!d)
        return -1;
    const int devId = devOf(in);
    const bool show = in[1].i != 0;
    const bool enable = in[2].i != 0;
    d->uiEnabled = enable;
    return callOnGui([devId, show, enable] {
        DepScanData* data = findDepScanData(devId);
        if (!data)
            return -1;
        if (show) {
            if (data->showWindow(SW_SHOWNORMAL) != 0)
                return -1;
        } else if (data->dlg()) {
            data->dlg()->hide();
        }
        if (CAnalogScanDlg* w = data->dlg())
            w->enableUserInterface(enable);
        return 0;
    });
}

int DepScanCloseWnd(void*, const _FuncSlot* in, void* const*)
{
    if (!depData(in))
        return -1;
    const int devId = devOf(in);
    runOnGuiThread(gCalls.context(), [devId] {
        if (DepScanData* data = findDepScanData(devId))
            data->closeWindow(false);
    });
    return 0;
}

int DepScanSetIniFile(void*, const _FuncSlot* in, void* const*)
{
    if (!depData(in))
        return -1;
    const int devId = devOf(in);
    const char* file = textOf(in[1]);
    const bool pin = file && *file;
    runOnGuiThread(gCalls.context(), [devId, pin, name = std::string(pin ? file : "")] {
        if (DepScanData* data = findDepScanData(devId))
            data->pinIniFile(pin ? name.c_str() : nullptr);
    });
    return 0;
}

int DepScanHideOnClose(void*, const _FuncSlot* in, void* const*)
{
    if (!depData(in))
        return -1;
    const int devId = devOf(in);
    const bool hide = in[1].i != 0;
    runOnGuiThread(gCalls.context(), [devId, hide] {
        if (DepScanData* data = findDepScanData(devId))
            data->hideOnClose = hide;
    });
    return 0;
}

int DepScanStart(void*, const _FuncSlot* in, void* const*)
{
    DepScanData* d = depData(in);
    if (!d)
        return -1;
    const char* path = textOf(in[6]);
    return d->start(static_cast<uint32_t>(in[1].u), in[2].i != 0, static_cast<int32_t>(in[3].i),
                    static_cast<int32_t>(in[4].i), static_cast<int32_t>(in[5].i), path ? path : "");
}

int DepScanAbort(void*, const _FuncSlot* in, void* const*)
{
    DepScanData* d = depData(in);
    if (!d)
        return -1;
    d->abort();
    return 0;
}

int DepScanSaveImage(void*, const _FuncSlot* in, void* const*)
{
    DepScanData* d = depData(in);
    if (!d)
        return -1;
    const char* path = textOf(in[1]);
    if (!path || !*path) {
        logText("The image file name is missing.");
        return -1;
    }
    const std::vector<equalizer::DepCurve> curves = d->engine.curves();
    if (curves.empty()) {
        logText("There is no dependency scan to save as an image.");
        return -1;
    }
    std::string error;
    if (saveDepScanImage(path, curves, d->engine.chips(), &error) != 0) {
        logText(error);
        return -1;
    }
    return 0;
}

int DepScanGetLastErr(void*, const _FuncSlot* in, void* const* out)
{
    DepScanData* d = depData(in);
    if (!d || !out || !out[0])
        return -1;
    const std::string text = d->lastError();
    char* buffer = static_cast<char*>(out[0]);
    const size_t n = std::min(text.size(), kLastErrSize - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return 0;
}

int setCallback(std::atomic<CallbackFuncType>& cb, const _FuncSlot* in)
{
    cb.store(reinterpret_cast<CallbackFuncType>(in[1].p));
    return 0;
}

int DepScanSetCbFinished(void*, const _FuncSlot* in, void* const*) { return setCallback(gCbFinished, in); }
int DepScanSetCbError(void*, const _FuncSlot* in, void* const*) { return setCallback(gCbError, in); }
int DepScanSetCbClose(void*, const _FuncSlot* in, void* const*) { return setCallback(gCbClose, in); }

int DacScanStart(void*, const _FuncSlot* in, void* const*)
{
    DacScanData* d = findDacScanData(devOf(in));
    if (!d) {
        logText("Device " + std::to_string(devOf(in)) + " has no DAC scan.");
        return -1;
    }
    return d->start(nullptr);
}

int DacScanSetFileOutput(void*, const _FuncSlot* in, void* const*)
{
    DacScanData* d = findDacScanData(devOf(in));
    const char* path = textOf(in[1]);
    if (!d || !path) {
        logText("DacScanSetFileOutput needs a device with a DAC scan and a file name.");
        return -1;
    }
    d->setOutput(path, static_cast<uint32_t>(in[2].u));
    const int devId = devOf(in);
    runOnGuiThread(gCalls.context(), [devId] {
        if (DacScanData* data = findDacScanData(devId))
            if (CDacScanDlg* w = data->dlg())
                w->showOutput();
    });
    return 0;
}

const FuncParamSpec kDev{TYPE_U32, 1, "Tvk device ID"};

const std::vector<FuncRecord>& records()
{
    static const std::vector<FuncRecord> table = {
        {DepScanShowWnd, "DepScanShowWnd", "Shows/hides dep. scan window, enable/disable UI",
         {kDev, {TYPE_BOOL, 1, "Show/hide window (TRUE/FALSE)"}, {TYPE_BOOL, 1, "Enable user interface (TRUE/FALSE)"}},
         {}},
        {DepScanCloseWnd, "DepScanCloseWnd", "Closes dep. scan window.", {kDev}, {}},
        {DepScanSetIniFile, "DepScanSetIniFile", "Sets ini file that should be used for initialization.",
         {kDev, {TYPE_STRING, 1, "Ini file name that should be used for initialization"}}, {}},
        {DepScanHideOnClose, "DepScanHideOnClose", "Sets how close will treat the window (hide/destroy).",
         {kDev, {TYPE_BOOL, 1, "TRUE - close hides window, FALSE - close destroys window"}}, {}},
        {DepScanStart, "DepScanStart", "Starts dependency scan",
         {kDev,
          {TYPE_U32, 1, "DACs mask (bit is active if DAC should be scanned"},
          {TYPE_BOOL, 1, "If other DACs should be set to default (middle) value during scan"},
          {TYPE_I32, 1, "Scan FROM"},
          {TYPE_I32, 1, "Scan TO"},
          {TYPE_I32, 1, "Scan with STEP"},
          {TYPE_STRING, 1, "Path to output filename"}},
         {}},
        {DepScanAbort, "DepScanAbort", "Aborts running scan", {kDev}, {}},
        {DepScanSaveImage, "DepScanSaveImage", "Saves current plot to specified file.",
         {kDev, {TYPE_STRING, 1, "File name of image."}}, {}},
        {DepScanGetLastErr, "DepScanGetLastErr", "Gets last error message", {kDev},
         {{TYPE_CHAR, static_cast<int32_t>(kLastErrSize), "Buffer for error message"}}},
        {DepScanSetCbFinished, "DepScanSetCbFinished", "Sets \"Finished\" callback",
         {kDev, {TYPE_U32, 1, "Finished callback address (type CallbackFuncType)"}}, {}},
        {DepScanSetCbError, "DepScanSetCbError",
         "Sets error callback (notify user if error occurred (param. of cb is DEVID)",
         {kDev, {TYPE_U32, 1, "Error callback address (type CallbackFuncType)"}}, {}},
        {DepScanSetCbClose, "DepScanSetCbClose",
         "Sets close callback (notify user if window was closed (param. of cb is DEVID)",
         {kDev, {TYPE_U32, 1, "Close callback address (type CallbackFuncType)"}}, {}},
        {DacScanStart, "DacScanStart", "Starts DACs scan (parameters are taken from UI)", {kDev}, {}},
        {DacScanSetFileOutput, "DacScanSetFileOutput", "Sets file name for output and type of output",
         {kDev, {TYPE_STRING, 1, "Path to output filename"}, {TYPE_U32, 1, "File flags for saving format (see FSAVE_*)"}},
         {}},
    };
    return table;
}

template <size_t N>
void copyText(char (&dst)[N], const char* src)
{
    std::strncpy(dst, src, N - 1);
    dst[N - 1] = 0;
}

void registerEvents(const _MgrFuncTable* t)
{
    const struct {
        const char* name;
        const char* description;
        std::atomic<int>* id;
    } events[] = {{"DacScanFinish", "DAC scan was finished", &gEventFinish},
                  {"DacScanStart", "DAC scan was started", &gEventStart}};
    for (const auto& e : events) {
        _EventDesc desc{};
        copyText(desc.plugin, kSource);
        copyText(desc.name, e.name);
        copyText(desc.description, e.description);
        int id = -1;
        e.id->store(t->mgrAddCBEvent(&desc, &id) == 0 ? id : -1);
    }
}

void registerFunctions(const _MgrFuncTable* t)
{
    registerFuncRecords(t, kSource, records());
}

// The folder above "configs/": where hwlibs/ lies.
std::string appFolder(const _MgrFuncTable* t)
{
    char configs[MGR_PATH_SIZE] = {};
    if (!t->mgrGetConfigsDir || t->mgrGetConfigsDir(configs) != 0)
        return "./";
    std::string folder(configs);
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? "./" : folder.substr(0, slash + 1);
}

} // namespace

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) {
        setPluginTable(t);
        gPulser = std::make_unique<equalizer::ExternalPulser>(t, appFolder(t));
        registerEvents(t);
        gEqual.init(t);
        gDacScan.init(t);
        gDepScan.init(t);
        registerFunctions(t);
        return 0;
    });
}

// For the tests: this module's own message-box handler (each module keeps its own).
extern "C" TVK_EXPORT void equalizerSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}
