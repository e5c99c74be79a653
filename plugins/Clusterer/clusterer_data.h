// The per-device data object of the cluster analysis: the skeleton's window owner plus the device's
// ClustAnalData. The analysis lives in a shared ClusterDevice that the plug-in's registry also holds, so
// that the "AcqCompleted" handler (in the thread that fired it) keeps it alive for the frame it analyses
// even while the plug-in exits.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "clust_anal_data.h"
#include "clusterer_dlg.h"
#include "pluginfw/mult_data_wnd.h"

// What the handlers of other threads share with the window side.
struct ClusterDevice {
    ClusterDevice(const _MgrFuncTable* table, int devId, ClustAnalData::LogFn log)
        : analysis(table, static_cast<uint32_t>(devId), std::move(log))
    {
    }
    ClustAnalData analysis;
    // Set while a refresh of the window is queued; a handler queues at most one at a time.
    std::atomic<bool> refreshQueued{false};
};

class ClusterData : public MultDataBaseWnd<CClusterDlg> {
public:
    explicit ClusterData(int devId);
    ~ClusterData() override;

    // The device was reconnected or replaced: settings written to the old file, read from the new one,
    // then the window rebuilt.
    void onDevChanged();

    // Settings and the list base from / to the device's settings file.
    void loadFromIni();
    void saveToIni() const;

    const std::shared_ptr<ClusterDevice> device;
    ClustAnalData* const analysis; // the device's, for the window
};

// The data object of a device, or null (GUI thread).
ClusterData* findClusterData(int devId);

// Section and key of the list base in the device's settings file.
constexpr const char* kClustListSection = "Cluster analysis";
constexpr const char* kClustListKey = "ClustersFile";
