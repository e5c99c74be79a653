#include "ctrl_entry.h"

#include <map>
#include <mutex>

#include <QApplication>
#include <QPointer>

#include "ctrl_settings.h"
#include "ctrl_window.h"
#include "prev_wnd_funcs.h"
#include "pluginfw/plugin_files.h"
#include "pluginfw/plugin_window.h"
#include "uikit/message_box.h"

namespace {

struct DevRecord {
    int menuItemId = 0;
    std::string title;
    std::string chipboardId;
    QPointer<CTvkCtrlUIDialog> window;   // GUI thread only
    std::shared_ptr<AcqControl> worker; // of the open window, for the frame events
};

struct CtrlPlugin {
    const _MgrFuncTable* mgr = nullptr;
    std::mutex m; // guards devices (not the windows they point to); no plug-in or manager call under it
    std::map<int, DevRecord> devices;
    bool exiting = false; // set once, on the GUI thread, by "Exit"
    QObject* gui = nullptr; // receiver of work queued for the GUI thread
};

CtrlPlugin& plugin()
{
    static CtrlPlugin p;
    return p;
}

QObject* guiContext()
{
    CtrlPlugin& p = plugin();
    if (!p.gui && qApp && isGuiThread()) {
        p.gui = new QObject;
        p.gui->moveToThread(qApp->thread());
    }
    return p.gui;
}

void menuCallback(void* userData) { openControlWindow(int(reinterpret_cast<intptr_t>(userData))); }

// Title and chip-board id of a device, read from it.
void readDevice(const _MgrFuncTable* mgr, int dev, std::string& title, std::string& chipboardId)
{
    char board[64] = {}, iface[64] = {};
    mgr->tvkCtrlGetTarvikInfo(unsigned(dev), nullptr, nullptr, board, iface);
    board[63] = iface[63] = 0;
    title = "Tarvik " + std::to_string(dev) + " UI (" + iface + " " + board + ")";
    chipboardId = board;
}

int addDevice(int dev)
{
    CtrlPlugin& p = plugin();
    std::string title, board;
    readDevice(p.mgr, dev, title, board);
    {
        std::lock_guard l(p.m);
        const auto it = p.devices.find(dev);
        if (it != p.devices.end()) { // announced again: the same device slot, renewed in place
            it->second.title = title;
            it->second.chipboardId = board;
            return 0;
        }
        p.devices[dev].title = title;
        p.devices[dev].chipboardId = board;
    }
    int itemId = 0;
    p.mgr->mgrAddTvkMenuItem(dev, "tvkctrlui", "Tarvik Control", nullptr, menuCallback,
                             reinterpret_cast<void*>(intptr_t(dev)), &itemId, 0);
    std::lock_guard l(p.m);
    p.devices[dev].menuItemId = itemId;
    return 0;
}

std::shared_ptr<AcqControl> workerOf(int dev)
{
    CtrlPlugin& p = plugin();
    std::lock_guard l(p.m);
    const auto it = p.devices.find(dev);
    return it == p.devices.end() || p.exiting ? nullptr : it->second.worker;
}

} // namespace

int initControlWindows(const _MgrFuncTable* mgr)
{
    CtrlPlugin& p = plugin();
    p.mgr = mgr;
    guiContext();
    unsigned id = 0;
    if (mgr->tvkCtrlGetFirstTvk(&id, nullptr) != 0)
        return 0;
    do {
        if (addDevice(int(id)) != 0)
            return 1;
    } while (mgr->tvkCtrlGetNextTvk(&id) == 0);
    return 0;
}

std::string controlIniPath(int dev)
{
    CtrlPlugin& p = plugin();
    std::string board;
    {
        std::lock_guard l(p.m);
        const auto it = p.devices.find(dev);
        if (it == p.devices.end())
            return {};
        board = it->second.chipboardId;
    }
    char configs[MGR_PATH_SIZE] = {};
    p.mgr->mgrGetConfigsDir(configs);
    char path[kPluginPathSize] = {};
    buildIniPath(configs, path, reinterpret_cast<const void*>(&controlIniPath), board.c_str());
    return path;
}

CTvkCtrlUIDialog* controlWindow(int dev)
{
    CtrlPlugin& p = plugin();
    std::lock_guard l(p.m);
    const auto it = p.devices.find(dev);
    return it == p.devices.end() ? nullptr : it->second.window.data();
}

void openControlWindow(int dev)
{
    CtrlPlugin& p = plugin();
    std::string title;
    {
        std::lock_guard l(p.m);
        const auto it = p.devices.find(dev);
        if (it == p.devices.end() || p.exiting)
            return;
        if (CTvkCtrlUIDialog* w = it->second.window) {
            // Out of the task bar when it was minimised, to the front, with the focus.
            w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
            w->show();
            bringToFront(w);
            return;
        }
        title = it->second.title;
    }
    const std::string ini = controlIniPath(dev);
    auto* w = new CTvkCtrlUIDialog(p.mgr, dev, title, ini);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->init();
    {
        std::lock_guard l(p.m);
        p.devices[dev].window = w;
        p.devices[dev].worker = w->worker();
    }
    QObject::connect(w, &QObject::destroyed, guiContext(), [dev] {
        CtrlPlugin& pl = plugin();
        std::lock_guard l(pl.m);
        if (const auto it = pl.devices.find(dev); it != pl.devices.end())
            it->second.worker.reset();
    });
    w->showPlaced();
}

void ctrlOnStart(intptr_t)
{
    CtrlPlugin& p = plugin();
    std::vector<int> devs;
    {
        std::lock_guard l(p.m);
        for (const auto& [dev, r] : p.devices)
            devs.push_back(dev);
    }
    for (int dev : devs)
        if (readAutostart(controlIniPath(dev)) != 0)
            openControlWindow(dev);
}

void ctrlOnExit(intptr_t)
{
    CtrlPlugin& p = plugin();
    std::map<int, DevRecord> devices;
    {
        std::lock_guard l(p.m);
        p.exiting = true;
        devices.swap(p.devices);
    }
    for (auto& [dev, r] : devices)
        delete r.window.data(); // aborts and waits for its worker, saves, destroys its preview
    // Work still queued for the windows goes with its receiver: nothing of this library runs after "Exit".
    delete p.gui;
    p.gui = nullptr;
}

void resetControlWindows()
{
    ctrlOnExit(0);
    CtrlPlugin& p = plugin();
    std::lock_guard l(p.m);
    p.exiting = false;
}

void ctrlOnInfoMsg(intptr_t arg)
{
    CtrlPlugin& p = plugin();
    {
        std::lock_guard l(p.m);
        if (p.exiting || !p.mgr)
            return;
    }
    const int dev = int(arg);
    int code = 0;
    const char* text = nullptr;
    if (p.mgr->tvkCtrlGetInfoMsg(dev, &code, &text) != 0)
        return;
    // The library's text is shared by later messages: the window gets a copy.
    const QString copy = QString::fromUtf8(text ? text : "").left(4096);
    if (dev == -1) {
        if (code != 0)
            runOnGuiThread(guiContext(), [copy] {
                messageBox(nullptr, copy, QStringLiteral("TvkCtrl UI message"), MSGBOX_OK | MSGBOX_ICONINFORMATION);
            });
        return;
    }
    runOnGuiThread(guiContext(), [dev, copy] {
        if (CTvkCtrlUIDialog* w = controlWindow(dev))
            w->addMessage(copy);
    });
}

void ctrlOnPreviewError(uint32_t previewId)
{
    char text[kPrevLastErrSize] = {};
    const _FuncSlot in[] = {tvkSlotUint(previewId)};
    void* out[] = {text};
    if (PrevWndGetLastErr(nullptr, in, out) != 0)
        return;
    text[kPrevLastErrSize - 1] = 0;
    const QString copy = QString::fromUtf8(text);
    runOnGuiThread(guiContext(), [previewId, copy] {
        CtrlPlugin& p = plugin();
        std::vector<QPointer<CTvkCtrlUIDialog>> windows;
        {
            std::lock_guard l(p.m);
            for (const auto& [dev, r] : p.devices)
                windows.push_back(r.window);
        }
        for (const QPointer<CTvkCtrlUIDialog>& w : windows)
            if (w && w->previewId() == previewId)
                w->addMessage(copy);
    });
}

void ctrlOnAcqStarted(intptr_t dev)
{
    if (const auto worker = workerOf(int(dev)))
        worker->noteFrameStarted();
}

void ctrlOnAcqCompleted(intptr_t dev)
{
    if (const auto worker = workerOf(int(dev)))
        worker->noteFrameCompleted();
}

void ctrlOnTvkDevChanged(intptr_t arg)
{
    CtrlPlugin& p = plugin();
    const int dev = int(arg);
    {
        std::lock_guard l(p.m);
        if (p.exiting || !p.devices.count(dev))
            return;
    }
    std::string title, board;
    readDevice(p.mgr, dev, title, board);
    {
        std::lock_guard l(p.m);
        p.devices[dev].title = title;
        p.devices[dev].chipboardId = board;
    }
    runOnGuiThread(guiContext(), [dev, title] {
        if (CTvkCtrlUIDialog* w = controlWindow(dev))
            w->renewCaptions(title);
    });
}

void ctrlOnTvkDevNew(intptr_t dev)
{
    {
        std::lock_guard l(plugin().m);
        if (plugin().exiting)
            return;
    }
    addDevice(int(dev));
}
