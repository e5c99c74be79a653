// Per-device cluster analysis: the settings (ini section "Settings"), the finder of the last frame, an
// optional history of finders, the spectra accumulated over every analysed frame and the per-class
// totals; processing of one frame through the manager's function table; the spectrum and list files.
// No Qt: the window holds one of these and reads copies.
//
// Locks, in nesting order: processMutex_ (one frame at a time: the finder being filled, the frame
// buffer), then historyMutex_ (current, shown and held finders), then spectraMutex_ (spectra, totals,
// per-class table). settingsMutex_ is taken alone, to copy or replace the settings. No manager call is
// made while historyMutex_ or spectraMutex_ is held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cluster_find.h"
#include "tvk_mgr.h"

struct ClustSettings {
    int32_t JoinEnabled = 0;
    int32_t JoinMaskSize = 5;
    double JoinSigma = 1.0;
    double JoinThreshold = 0.01;
    int32_t LimDotPixCount = 2;
    int32_t LimSmallBlobSizeXY = 1;
    int32_t LimHeavyBlobInnerCount = 4;
    int32_t LimHeavyTrackInnerCount = 4;
    int32_t LimStraightTrackHtMax = 20;
    double LimHeavyBlobRadiusDev = 1.2;
    double LimHeavyBlobInBorRatio = 0.5;
    double LimHeavyTrackInBorRatio = 0.3;
    double LimStraightTrackHtMaxRatio = 0.9;
    double LowTh = 1.0;
    double HighTh = 1e300;
    int32_t FrameWidth = 256;
    int32_t FrameHeight = 256;
    int32_t SizeSpectFrom = 1;
    int32_t SizeSpectTo = 4096;
    double VolSpectFrom = 1.0;
    double VolSpectTo = 10000.0;
    double GlobVolSpectStep = 50.0;
    double PerPixVolSpectStep = 100.0;
    int32_t MinClustSize = 1;
    int32_t MaxClustSize = 65536;
    double MinClustVolume = 1.0;
    double MaxClustVolume = 1e300;
    double MinClustHeight = 1.0;
    double MaxClustHeight = 1e300;
    int32_t ClustType = 4095;
    bool HoldHistory = false;
    bool GlobalSizeSpectAll = false;
    bool GlobalSizeSpectValid = false;
    bool GlobalVolSpectAll = false;
    bool GlobalVolSpectValid = false;
    bool GlobalVolSpectCustSize = false;
    bool PerPixVolSpectValid = false;
    bool CreateClustersFile = false;
    bool AllToSingleFile = false;

    // The cluster filter these settings form (not inverted).
    ClusterFilter filter() const;
    // Bins of the global volume spectra and of the per-pixel spectrum.
    int64_t volumeBins(double step) const;
    bool operator==(const ClustSettings&) const = default;
};

// One ini key of the settings: its name and the text of its value in a settings record.
struct ClustSettingKey {
    const char* name;
    std::string (*get)(const ClustSettings&);
    // Parses text into the record; false when the text is no value of the key's kind.
    bool (*set)(ClustSettings&, const std::string& text);
};
// The 39 keys, in the order in which they are read and written.
const std::vector<ClustSettingKey>& clustSettingKeys();

// Checks s against the limits of each value (kinds, steps above 0, ranges in order, spectra of a
// bounded size). Each refused value is set back to its value in previous and named in a message.
std::vector<std::string> validateClustSettings(ClustSettings& s, const ClustSettings& previous);

// Spectrum: bins counted from "from" in steps of "step".
struct Spectrum {
    double from = 0;
    double step = 1;
    std::vector<int32_t> bins;
};
// Rows of spectra with one binning (volume by size; per pixel: one row per volume bin, one column per
// pixel).
struct SpectrumMatrix {
    double from = 0;
    double step = 1;
    int32_t rowLength = 0;
    std::vector<std::vector<int32_t>> rows;
};

// Running counters, copied out for the window.
struct ClustTotals {
    int64_t all[kClassCount] = {};
    int64_t valid[kClassCount] = {};
    int64_t frames = 0;
};

// Properties of one cluster, copied out of a finder.
struct ClusterProps {
    int32_t size = 0;
    double volume = 0;
    double centroidX = 0, centroidY = 0;
    double meanX = 0, meanY = 0;
    int32_t xExtent = 0, yExtent = 0;
    double diameter = 0;
    int32_t houghHeight = 0;
    double houghAngleDeg = 0;
    double houghDistance = 0;
    int32_t clusterClass = 0;
    double lowest = 0, highest = 0;
    int32_t innerCount = 0, perimeter = 0;
};

// What the window shows of the shown finder.
struct ClustView {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<int32_t> classes; // class number per pixel (0 none), filtered clusters only
    std::vector<int32_t> labels;  // cluster index per pixel (-1 none)
    int32_t counts[kClassCount] = {};
    int32_t passed = 0, failed = 0;
};

// File name of a spectrum: suffix inserted before the extension of base (the text after the last '.'
// when that dot follows the last '/'), or appended when base has none.
std::string spectrumFileName(const std::string& base, const std::string& suffix);
// One spectrum block: positions, counts, an empty line; trailing zero bins left out (one bin kept).
std::string spectrumBlock(double from, double step, const int32_t* bins, size_t count);

class ClustAnalData {
public:
    using LogFn = std::function<void(const std::string&)>;
    // The message box for a failed list write; called in the thread that wrote.
    using ErrorBoxFn = std::function<void(const std::string&)>;

    ClustAnalData(const _MgrFuncTable* mgr, uint32_t devIndex, LogFn log);
    ~ClustAnalData();
    ClustAnalData(const ClustAnalData&) = delete;
    ClustAnalData& operator=(const ClustAnalData&) = delete;

    void setErrorBox(ErrorBoxFn box) { errorBox_ = std::move(box); }
    uint32_t devIndex() const { return devIndex_; }
    const _MgrFuncTable* table() const { return mgr_; }
    // An entry in the log under the plug-in's name.
    void logText(const std::string& text) const { log(text); }

    // Reads the section "Settings" (a missing key keeps its value; a bad one keeps it and is logged) /
    // writes it. Returns 0, or the ini layer's code.
    int loadSettings(const std::string& iniPath);
    int saveSettings(const std::string& iniPath) const;
    ClustSettings settings() const;
    // Takes the settings, except each refused value (kept, logged, returned). Spectra follow their flags.
    std::vector<std::string> setSettings(const ClustSettings& s);

    // Filter chain applied to each frame first (-1: none).
    void setChain(int chainId);
    int chain() const;

    // Analyses one frame: 0, or -1 (a finder missing, a type other than 4, 7, 9, a failed frame call or
    // filter chain), spectra then unchanged. listName names the frame in the list file names.
    int processFrame(uint32_t frameId, const std::string& listName);
    // For "tvkctrl" "AcqCompleted": the device's current frame.
    int processAcquiredFrame();

    // Display on: each analysed finder becomes the shown one (the window reads it).
    void setDisplay(bool on);
    bool display() const;
    ClustView view() const;
    ClustTotals totals() const;
    // Filtered class counts per frame: row c - 1 holds how many frames had n clusters of class c.
    std::vector<std::vector<int32_t>> classTable() const;
    int historySize() const;
    // Properties of cluster index of history entry (entry < 0: the shown finder, else the last analysed one).
    int clusterProperties(int entry, int index, ClusterProps* out) const;
    // Copies of the spectra, empty when switched off.
    Spectrum sizeSpectrum(bool valid) const;
    Spectrum volumeSpectrum(bool valid) const;
    SpectrumMatrix volumeBySize() const;
    SpectrumMatrix perPixelSpectrum() const;

    // Writes each enabled spectrum beside base; 0, or -1 when a file failed (logged; the others are
    // still written).
    int writeSpectra(const std::string& base) const;
    // Writes the list of the finder of history entry (entry < 0: shown/current); -1 with the error box.
    int writeClusterList(const std::string& path, int entry, bool append) const;
    // Zeroes spectra, totals and the per-class table, and drops the history and the shown finder.
    void clear();

    // Output base of the cluster list files (set in the window).
    void setListBase(const std::string& base);
    std::string listBase() const;

private:
    struct Spectra;
    void rebuildSpectra(const ClustSettings& s);
    const IClusterFind* finderFor(int entry) const;
    int writeListFiles(const IClusterFind& finder, const ClustSettings& s, const std::string& listName);
    void log(const std::string& text) const;

    const _MgrFuncTable* mgr_;
    const uint32_t devIndex_;
    LogFn log_;
    ErrorBoxFn errorBox_;

    mutable std::mutex settingsMutex_; // guards settings_, chain_, listBase_, display_
    ClustSettings settings_;
    int chain_ = -1;
    std::string listBase_;
    bool display_ = false;

    mutable std::mutex processMutex_; // guards finder_, buffer_, loggedSizes_
    std::unique_ptr<IClusterFind> finder_;
    std::vector<uint8_t> buffer_;
    std::vector<int64_t> loggedSizes_; // frame sizes whose per-pixel mismatch was logged

    mutable std::mutex historyMutex_; // guards history_, shown_, current_
    std::vector<std::shared_ptr<IClusterFind>> history_;
    std::shared_ptr<IClusterFind> shown_;
    std::shared_ptr<IClusterFind> current_; // the last analysed finder when it is neither shown nor held

    mutable std::mutex spectraMutex_; // guards spectra_, totals_, classTable_
    std::unique_ptr<Spectra> spectra_;
    ClustTotals totals_;
    std::vector<std::vector<int32_t>> classTable_;
};
