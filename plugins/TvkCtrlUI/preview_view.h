// What the preview window shows besides the image, worked out without windows: level range from the
// edits, sliders, automatic ranges or a frame's stored range; the histogram of the statistics region;
// the statistics texts; the zoom labels; the service frames' level ranges and the frame-number rules.
// The window copies the results into its controls. GUI thread (the model's thread); no Qt here.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "preview_settings.h"
#include "uikit/picture_data.h"

constexpr int kSliderRange = 512; // sliders run 0..512

// Slider position of a level: clamp((value - regionMin) / (regionMax - regionMin), 0, 1) x 512; 0 when
// the region is flat.
int sliderFromLevel(double value, double regionMin, double regionMax);
double levelFromSlider(int position, double regionMin, double regionMax);

// The frame number Update shows for the typed number n: at least 1, at most frameCount.
int clampFrameNumber(long long n, int frameCount);

// Service frames of a device, in the order of the "Service Frames" menu.
enum ServiceFrame { kServiceMask, kServiceTest, kServiceThl, kServiceThh, kServiceMode, kServiceFrameCount };
// The manager's service-frame type shown in a slot (1..5).
int serviceFrameType(int slot);
// Whether the device of a chip type has the slot's frame (THH adj. not on type 3, mode only on type 3).
bool serviceFrameAvailable(int slot, int chipType);
// The level range a service frame is shown with: 0 .. this.
double serviceFrameMaxLevel(int slot, int chipType);

// Timer interval of a "Max Auto Updates" mode in ms; 0 for "Unlimited" (no timer) or an unknown mode.
int autoUpdateIntervalMs(int mode);

// "%.5g" in the C locale.
std::string formatStat(double value);

// Texts around the image for a zoom rectangle (display pixels): the 1-based first and last frame column
// and row, and the axis names (swapped for a quarter turn).
struct ZoomLabels {
    std::string xStart, xEnd, yStart, yEnd, xName, yName;
    bool operator==(const ZoomLabels&) const = default;
};
ZoomLabels zoomLabels(const PictureData& model, const PixelRect& zoom);

struct HistogramView {
    std::vector<double> bins; // 256 counts
    double start = 0;         // x of the first bin
    double binWidth = 0;
    double xMin = 0, xMax = 0; // the plot's x range: the level range
    bool valid = false;
};

class PreviewView {
public:
    static constexpr int kStatCount = 5; // "Min:", "Max:", "Total:", "Mean:", "Std. dev.:"

    PreviewView(PictureData& model, PreviewSettings& settings) : model_(model), s_(settings) {}

    // From the window: whether a selection is shown, which level edit has the focus.
    void setSelectionShown(bool on) { selectionShown_ = on; }
    bool selectionShown() const { return selectionShown_; }
    void setEditFocus(bool minFocused, bool maxFocused) { minFocused_ = minFocused; maxFocused_ = maxFocused; }

    // The picture shows a part of the image only (zoom differs from the whole image).
    bool zoomed() const;
    // Statistics region: 2 with a selection shown, else 1 when zoomed, else 0.
    int statsRegion() const;

    // The level range rules, then the histogram when shown. keep: a frame's stored range is not taken.
    void applyRange(bool keep);
    // The histogram of the statistics region (256 bins), its x range the level range.
    void buildHistogram();
    // Statistics of the statistics region as texts (0 for a missing region).
    void computeStatistics();
    // Renders with the level range and warnings (the model stores a frame's range when asked to).
    void render();
    // After a new frame: statistics, range (histogram), render.
    void refresh();

    // A slider moved by the user: its lock on, the level from the slider, AutoRange off, render, histogram.
    void sliderMoved(bool maxSlider, int position);
    // The histogram's x range changed by the user: AutoRange and both locks off, the levels from it.
    void histogramRangeChanged(double xMin, double xMax);
    // The level edits were applied by the user (only valid numbers are passed).
    void setLevels(double min, double max)
    {
        s_.min = min;
        s_.max = max;
        s_.levelsGiven = true;
    }
    // A service frame shown: levels 0..max, AutoRange off.
    void serviceLevels(int slot, int chipType);

    int sliderMin() const { return sliderMin_; }
    int sliderMax() const { return sliderMax_; }
    // Which level edits are to show the levels again after applyRange.
    bool minEditStale() const { return minEditStale_; }
    bool maxEditStale() const { return maxEditStale_; }
    const HistogramView& histogram() const { return histogram_; }
    const std::array<std::string, kStatCount>& statistics() const { return stats_; }
    // "Time:" or "Time: %.5g s" of the frame's acquisition time.
    std::string timeText() const;

private:
    PictureData& model_;
    PreviewSettings& s_;
    bool selectionShown_ = false;
    bool minFocused_ = false, maxFocused_ = false;
    int sliderMin_ = 0, sliderMax_ = 0;
    bool minEditStale_ = false, maxEditStale_ = false;
    HistogramView histogram_;
    std::array<std::string, kStatCount> stats_{"0", "0", "0", "0", "0"};
};
