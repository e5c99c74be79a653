#include "preview_view.h"

#include <algorithm>
#include <cmath>

#include "platform/numbers.h"

int sliderFromLevel(double value, double regionMin, double regionMax)
{
    const double range = regionMax - regionMin;
    if (!(range > 0) || !std::isfinite(range) || std::isnan(value))
        return 0;
    return int(std::clamp((value - regionMin) / range, 0.0, 1.0) * kSliderRange);
}

double levelFromSlider(int position, double regionMin, double regionMax)
{
    return regionMin + position * (regionMax - regionMin) / kSliderRange;
}

int clampFrameNumber(long long n, int frameCount)
{
    return int(std::clamp<long long>(n, 1, std::max(frameCount, 1)));
}

int serviceFrameType(int slot)
{
    return slot + 1;
}

bool serviceFrameAvailable(int slot, int chipType)
{
    if (slot == kServiceThh)
        return chipType != 3;
    if (slot == kServiceMode)
        return chipType == 3;
    return slot >= 0 && slot < kServiceFrameCount;
}

double serviceFrameMaxLevel(int slot, int chipType)
{
    switch (slot) {
    case kServiceThl:
        return chipType == 3 ? 15 : 7;
    case kServiceThh:
        return 7;
    case kServiceMode:
        return 3;
    default:
        return 1;
    }
}

int autoUpdateIntervalMs(int mode)
{
    static constexpr int kIntervals[] = {1000, 500, 200, 100, 50};
    return mode >= 0 && mode < int(std::size(kIntervals)) ? kIntervals[mode] : 0;
}

std::string formatStat(double value)
{
    return plat::formatGeneral(value, 5);
}

ZoomLabels zoomLabels(const PictureData& model, const PixelRect& zoom)
{
    int x = zoom.x, y = zoom.y, w = zoom.w, h = zoom.h;
    model.toFrameRect(x, y, w, h);
    ZoomLabels l;
    l.xStart = std::to_string(x + 1);
    l.xEnd = std::to_string(x + w);
    l.yStart = std::to_string(y + 1);
    l.yEnd = std::to_string(y + h);
    const bool quarter = model.rotation() == 90 || model.rotation() == 270;
    l.xName = quarter ? "Y (row number)" : "X (column number)";
    l.yName = quarter ? "X" : "Y";
    return l;
}

bool PreviewView::zoomed() const
{
    const PictureView* p = model_.picture();
    if (!p)
        return false;
    const PixelRect z = p->zoom();
    return !(z == PixelRect{0, 0, model_.width(), model_.height()});
}

int PreviewView::statsRegion() const
{
    return selectionShown_ ? 2 : zoomed() ? 1 : 0;
}

void PreviewView::applyRange(bool keep)
{
    minEditStale_ = maxEditStale_ = false;
    const double rMin = model_.getRegionMin(0), rMax = model_.getRegionMax(0);
    const bool storedRange = !keep && s_.loadFrameRange && model_.hasFrameRange();
    if (s_.autoRange) {
        const int r = zoomed() ? 1 : 0;
        switch (s_.autoRangeType) {
        case 1:
            s_.min = model_.getRegionFractile(0.01, r);
            s_.max = model_.getRegionFractile(0.99, r);
            break;
        case 2:
            s_.min = model_.getRegionFractile(0.05, r);
            s_.max = model_.getRegionFractile(0.95, r);
            break;
        default:
            s_.min = model_.getRegionMin(r);
            s_.max = model_.getRegionMax(r);
            break;
        }
        minEditStale_ = maxEditStale_ = true;
        sliderMin_ = sliderFromLevel(s_.min, rMin, rMax);
        sliderMax_ = sliderFromLevel(s_.max, rMin, rMax);
        s_.levelsGiven = s_.levelsGiven || s_.max > s_.min;
    } else if (storedRange || (!s_.levelsGiven && rMax > rMin)) {
        // The frame's stored range; or, while no range was stored or chosen, the frame's own.
        s_.min = storedRange ? model_.rangeMin() : rMin;
        s_.max = storedRange ? model_.rangeMax() : rMax;
        s_.levelsGiven = s_.levelsGiven || s_.max > s_.min;
        minEditStale_ = !minFocused_;
        maxEditStale_ = !maxFocused_;
        sliderMin_ = sliderFromLevel(s_.min, rMin, rMax);
        sliderMax_ = sliderFromLevel(s_.max, rMin, rMax);
    } else {
        if (s_.minSliderLocked) {
            s_.min = levelFromSlider(sliderMin_, rMin, rMax);
            minEditStale_ = true;
        } else {
            sliderMin_ = sliderFromLevel(s_.min, rMin, rMax);
        }
        if (s_.maxSliderLocked) {
            s_.max = levelFromSlider(sliderMax_, rMin, rMax);
            maxEditStale_ = true;
        } else {
            sliderMax_ = sliderFromLevel(s_.max, rMin, rMax);
        }
    }
    if (s_.showHistogram) {
        if (s_.histRefine) {
            buildHistogram();
        } else {
            histogram_.xMin = s_.min;
            histogram_.xMax = s_.max;
        }
    }
}

void PreviewView::buildHistogram()
{
    const int r = statsRegion();
    SelectionRegion* region = model_.region(r);
    histogram_.xMin = s_.min;
    histogram_.xMax = s_.max;
    histogram_.valid = false;
    if (!region)
        return;
    const double lo = s_.histRefine ? s_.min : model_.getRegionMin(0);
    const double hi = s_.histRefine ? s_.max : model_.getRegionMax(0);
    const RegionHistogram& h = region->displayHistogram(lo, hi);
    histogram_.bins.assign(h.bins(), h.bins() + RegionHistogram::kBinCount);
    histogram_.start = lo;
    histogram_.binWidth = (hi - lo) / RegionHistogram::kBinCount;
    histogram_.valid = h.valid();
    if (!histogram_.valid)
        std::fill(histogram_.bins.begin(), histogram_.bins.end(), 0.0);
}

void PreviewView::computeStatistics()
{
    SelectionRegion* r = model_.region(statsRegion());
    const double v[kStatCount] = {r ? r->min() : 0, r ? r->max() : 0, r ? r->total() : 0, r ? r->mean() : 0,
                                  r ? r->stdDev() : 0};
    for (int i = 0; i < kStatCount; ++i)
        stats_[size_t(i)] = formatStat(v[i]);
}

void PreviewView::render()
{
    model_.setRange(s_.min, s_.max, s_.underRangeWarning != 0, s_.overRangeWarning != 0);
}

void PreviewView::refresh()
{
    computeStatistics();
    applyRange(false);
    render();
}

void PreviewView::sliderMoved(bool maxSlider, int position)
{
    const double rMin = model_.getRegionMin(0), rMax = model_.getRegionMax(0);
    position = std::clamp(position, 0, kSliderRange);
    if (maxSlider) {
        s_.maxSliderLocked = 1;
        sliderMax_ = position;
        s_.max = levelFromSlider(position, rMin, rMax);
        maxEditStale_ = true;
        minEditStale_ = false;
    } else {
        s_.minSliderLocked = 1;
        sliderMin_ = position;
        s_.min = levelFromSlider(position, rMin, rMax);
        minEditStale_ = true;
        maxEditStale_ = false;
    }
    s_.autoRange = 0;
    s_.levelsGiven = true;
    render();
    if (s_.showHistogram)
        buildHistogram();
}

void PreviewView::histogramRangeChanged(double xMin, double xMax)
{
    s_.autoRange = 0;
    s_.minSliderLocked = s_.maxSliderLocked = 0;
    s_.min = xMin;
    s_.max = xMax;
    s_.levelsGiven = true;
    const double rMin = model_.getRegionMin(0), rMax = model_.getRegionMax(0);
    sliderMin_ = sliderFromLevel(s_.min, rMin, rMax);
    sliderMax_ = sliderFromLevel(s_.max, rMin, rMax);
    minEditStale_ = maxEditStale_ = true;
    render();
    if (s_.showHistogram)
        buildHistogram();
}

void PreviewView::serviceLevels(int slot, int chipType)
{
    s_.min = 0;
    s_.max = serviceFrameMaxLevel(slot, chipType);
    s_.levelsGiven = true;
    // The locks would move the levels back to the sliders: the fixed range of the bits holds instead.
    s_.autoRange = 0;
    s_.minSliderLocked = s_.maxSliderLocked = 0;
}

std::string PreviewView::timeText() const
{
    return model_.hasAcqTime() ? "Time: " + formatStat(model_.acqTime()) + " s" : "Time:";
}
