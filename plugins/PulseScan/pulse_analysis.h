// The back-side pulse analysis of one device, without windows: pulse height and spectrum from the scope
// samples of a frame, clusters of the frame filtered by size and roundness, and per-pixel images of the
// accepted clusters and of the single clusters that coincide with a pulse.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "chart/chart_series.h"

inline constexpr unsigned kSpectrumSize = 4096;   // pulse heights 0..4095
inline constexpr unsigned kRoundnessBins = 101;   // roundness 0, 0.01, ..., 1 (and above)
// Enhanced images beyond this many pixels (4096 x 4096) are not made: the settings check refuses such a factor.
inline constexpr uint64_t kMaxEnhancedPixels = uint64_t{1} << 24;

struct PulseSettings {
    bool baselineOn = true;
    int baselineOffset = 0;         // subtracted from the median to give the baseline
    unsigned shapeHistory = 10;     // pulse shapes the shape chart keeps
    double spectrumScale = 1.1;     // factor of the spectrum chart's y range
    uint16_t clusterThreshold = 1;  // pixels at or above it belong to clusters
    unsigned minClusterSize = 1;
    double minRoundness = 0.0;
    double enhanceFactor = 2.0;     // resolution enhancement, 1..16
    unsigned overlapLevel = 0;      // a cluster whose highest pixel reaches it is flagged; 0: off
};

// One cluster: its pixel count, the pixel edges that border a pixel outside it or the frame edge, its
// highest pixel and the sums weighted by the pixel values.
struct PulseCluster {
    unsigned size = 0;
    unsigned perimeter = 0;
    uint16_t maxValue = 0;
    bool overlap = false;
    double weight = 0.0; // sum of the values
    double sumX = 0.0;   // sum of value x column
    double sumY = 0.0;   // sum of value x row
    double centroidX() const { return sumX / weight; }
    double centroidY() const { return sumY / weight; }
};

// The 4-neighbour clusters of pixels >= threshold, in the order of their first pixel (row by row).
// A cluster is flagged as overlapping when overlapLevel > 0 and its highest pixel reaches it. The
// scratch buffers are kept between calls.
class ClusterFinder {
public:
    const std::vector<PulseCluster>& find(const uint16_t* frame, unsigned width, unsigned height, uint16_t threshold,
                                          unsigned overlapLevel);

private:
    std::vector<uint32_t> mark_; // pass number that visited each pixel
    uint32_t pass_ = 0;
    std::vector<uint32_t> stack_;
    std::vector<PulseCluster> clusters_;
};

// sqrt(size / pi) / (perimeter / (2 pi) + 0.5) for size >= 3, 1 for sizes 1 and 2.
double clusterRoundness(unsigned size, unsigned perimeter);
// The largest sample from the first up to (not including) the first one below the first sample's value.
unsigned pulseHeight(const uint16_t* samples, unsigned count);
// baseline = median - offset (the upper median of an even count); each sample above the baseline loses
// it, every other becomes 0 (results above 65535 are clamped). sorted is scratch.
void subtractBaseline(uint16_t* samples, unsigned count, int offset, std::vector<uint16_t>& sorted);
// The enhanced index of a centroid coordinate: x factor rounded half up, within 0..size - 1.
unsigned enhancedIndex(double x, double factor, unsigned size);
// ceil(side x factor), at least 1.
unsigned enhancedSide(unsigned side, double factor);

struct PulseCounters {
    uint64_t pulses = 0;       // pulses measured, also those above the spectrum's range
    uint64_t seen = 0;         // clusters found
    uint64_t flagged = 0;      // overlapping
    uint64_t tooSmall = 0;
    uint64_t notRound = 0;
    uint64_t accepted = 0;
    uint64_t coincidences = 0;
};

// One accumulated image of width x height values, row by row.
template <typename T>
struct PulseImage {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<T> values;
    void reset(unsigned w, unsigned h)
    {
        width = w;
        height = h;
        values.assign(static_cast<size_t>(w) * h, T{});
    }
    T& at(unsigned x, unsigned y) { return values[static_cast<size_t>(y) * width + x]; }
};

// Everything one device has accumulated; copied as a whole for the window.
struct PulseResults {
    PulseCounters counters;
    double lastPulseHeight = 0.0;
    unsigned spectrumMax = 0;
    ChartSeries spectrum;       // kSpectrumSize points once the first pulse came (heights 0..4095)
    ChartSeries sizes;          // point i: accepted clusters of size i
    ChartSeries roundness;      // clusters that reached the roundness test, by roundness
    std::deque<std::vector<uint16_t>> shapes; // the last pulse shapes, oldest first

    PulseImage<uint32_t> count;      // accepted clusters at their centroid
    PulseImage<double> sizeSum;
    PulseImage<double> sizeSquares;
    PulseImage<uint32_t> coincidence; // single accepted clusters that came with a pulse
    PulseImage<double> heightSum;
    PulseImage<double> heightSquares;
    PulseImage<uint32_t> enhancedCount;
    PulseImage<double> enhancedSizeSum;
    PulseImage<uint32_t> enhancedCoincidence;
    PulseImage<double> enhancedHeightSum;

    PulseResults() = default;
    PulseResults(const PulseResults& other) { *this = other; }
    PulseResults& operator=(const PulseResults& other);
};

class PulseAnalysis {
public:
    // The settings for the frames from now on; a changed enhancement factor clears the accumulations.
    // The factor must lie in [1, 16] and the threshold be at least 1 (see pulse_settings.h); others are
    // clamped into that.
    void setSettings(const PulseSettings& settings);
    const PulseSettings& settings() const { return settings_; }

    // Analyses one frame of width x height and its scope samples (none: count 0). A frame of another
    // size than the images clears the accumulations first. A frame of no pixels changes nothing.
    void analyse(const uint16_t* frame, unsigned width, unsigned height, const uint16_t* samples, unsigned count);
    // Clears every accumulation; the images keep their size.
    void reset();

    const PulseResults& results() const { return results_; }

private:
    void resize(unsigned width, unsigned height);
    void pulse(const uint16_t* samples, unsigned count);
    void accept(const PulseCluster& c, double x, double y);

    PulseSettings settings_;
    PulseResults results_;
    ClusterFinder finder_;
    std::vector<uint16_t> samples_;
    std::vector<uint16_t> sorted_;
};
