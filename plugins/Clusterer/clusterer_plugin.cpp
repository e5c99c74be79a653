// The plug-in Clusterer.so: one "Cluster analysis" window per device, and the analysis of every frame a
// device completes. The "AcqCompleted" handler runs in the thread that raised the event and never waits
// for the GUI thread: it analyses the device's current frame there, and an open window gets a queued
// refresh (at most one waiting at a time) that reads copies.
#include <map>
#include <mutex>

#include <QMetaObject>

#include "clusterer_data.h"
#include "pluginfw/plugin_entry.h"
#include "pluginfw/plugin_table.h"
#include "platform/ini.h"
#include "uikit/message_box.h"

namespace {

constexpr const char* kPluginName = "clusterer";

MultDataPluginMgr<ClusterData> gClusterer;
PluginCallContext gCalls; // receiver of the refreshes queued from the acquisition threads

// The analyses by device id, for the handlers of other threads; a data object adds its own and removes
// it when it goes.
std::mutex gAnalysesMutex; // guards gAnalyses; nothing else is called while it is held
std::map<int, std::shared_ptr<ClusterDevice>> gAnalyses;

std::shared_ptr<ClusterDevice> deviceOf(int devId)
{
    std::lock_guard<std::mutex> lock(gAnalysesMutex);
    const auto it = gAnalyses.find(devId);
    return it == gAnalyses.end() ? nullptr : it->second;
}

void logText(const std::string& text)
{
    const _MgrFuncTable* t = pluginTable();
    if (t && t->mgrLogMsg)
        t->mgrLogMsg(kPluginName, "%s", 0, text.c_str());
}

void onAcqCompleted(intptr_t devIdValue)
{
    const int devId = static_cast<int>(devIdValue);
    const std::shared_ptr<ClusterDevice> device = deviceOf(devId);
    if (!device || device->analysis.processAcquiredFrame() != 0 || !device->analysis.display())
        return;
    if (device->refreshQueued.exchange(true))
        return; // the waiting refresh will read this frame too
    runOnGuiThread(gCalls.context(), [device, devId] {
        device->refreshQueued = false;
        ClusterData* d = findClusterData(devId);
        if (d && d->device == device)
            if (CClusterDlg* w = d->dlg())
                w->refresh();
    });
}

} // namespace

ClusterData::ClusterData(int devId)
    : MultDataBaseWnd(devId), device(std::make_shared<ClusterDevice>(pluginTable(), devId, &logText)),
      analysis(&device->analysis)
{
    analysis->setErrorBox([](const std::string& text) {
        // From another thread the box is queued to the GUI thread, and the writer goes on.
        messageBox(nullptr, QString::fromStdString(text), QString::fromLatin1(CClusterDlg::kToolName),
                   MSGBOX_ICONERROR);
    });
    loadFromIni();
    std::lock_guard<std::mutex> lock(gAnalysesMutex);
    gAnalyses[devId] = device;
}

ClusterData::~ClusterData()
{
    std::lock_guard<std::mutex> lock(gAnalysesMutex);
    const auto it = gAnalyses.find(devId);
    if (it != gAnalyses.end() && it->second == device)
        gAnalyses.erase(it);
}

void ClusterData::loadFromIni()
{
    if (loadIniFile.empty())
        return;
    analysis->loadSettings(loadIniFile);
    if (const auto base = plat::iniRead(loadIniFile, kClustListSection, kClustListKey))
        analysis->setListBase(*base);
}

void ClusterData::saveToIni() const
{
    if (saveIniFile.empty())
        return;
    analysis->saveSettings(saveIniFile);
    plat::writeProfileString(kClustListSection, kClustListKey, analysis->listBase().c_str(), saveIniFile.c_str());
}

void ClusterData::onDevChanged()
{
    saveToIni();
    MultDataWndCore::onDevChanged();
    loadFromIni();
}

ClusterData* findClusterData(int devId) { return gClusterer.find(devId); }

extern "C" TVK_EXPORT int InitTvkPlugin(const _MgrFuncTable* table)
{
    return initTvkPlugin(table, [](const _MgrFuncTable* t) {
        gCalls.context();
        const int rc = gClusterer.init(t);
        if (rc != 0)
            return rc;
        t->mgrRegisterCallback("tvkctrl", "AcqCompleted", &onAcqCompleted);
        return 0;
    });
}

// For the tests: this module's own message-box handler (each module keeps its own), and the analysis of a
// device (null when the device has none).
extern "C" TVK_EXPORT void clustererSetMessageBoxHandler(const MessageBoxHandler* handler)
{
    setMessageBoxHandler(handler ? *handler : MessageBoxHandler());
}

extern "C" TVK_EXPORT ClustAnalData* clustererAnalysis(int devId)
{
    const std::shared_ptr<ClusterDevice> device = deviceOf(devId);
    return device ? &device->analysis : nullptr;
}
