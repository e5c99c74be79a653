#include "pulse_analysis.h"

#include <algorithm>
#include <cmath>

namespace {

void copySeries(ChartSeries& to, const ChartSeries& from)
{
    to.name = from.name;
    to.points = from.points;
}

// Adds one count at index, growing the series (x = the point's index) until it has that point.
void countAt(ChartSeries& s, unsigned index)
{
    const unsigned old = s.count();
    if (index >= old) {
        s.resizePoints(index + 1);
        for (unsigned i = old; i <= index; ++i)
            s.points[i].x = i;
    }
    s.points[index].y += 1.0;
}

unsigned roundedIndex(double v, unsigned size)
{
    const double r = std::floor(v + 0.5);
    if (!(r >= 0.0))
        return 0;
    if (r >= size)
        return size - 1;
    return static_cast<unsigned>(r);
}

} // namespace

const std::vector<PulseCluster>& ClusterFinder::find(const uint16_t* frame, unsigned width, unsigned height,
                                                     uint16_t threshold, unsigned overlapLevel)
{
    clusters_.clear();
    const size_t count = static_cast<size_t>(width) * height;
    if (!frame || count == 0)
        return clusters_;
    if (mark_.size() != count || pass_ == UINT32_MAX) {
        mark_.assign(count, 0);
        pass_ = 0;
    }
    const uint32_t pass = ++pass_;
    for (size_t start = 0; start < count; ++start) {
        if (frame[start] < threshold || mark_[start] == pass)
            continue;
        PulseCluster c;
        mark_[start] = pass;
        stack_.assign(1, static_cast<uint32_t>(start));
        while (!stack_.empty()) {
            const uint32_t i = stack_.back();
            stack_.pop_back();
            const unsigned x = i % width;
            const unsigned y = i / width;
            const uint16_t v = frame[i];
            ++c.size;
            c.maxValue = std::max(c.maxValue, v);
            c.weight += v;
            c.sumX += static_cast<double>(v) * x;
            c.sumY += static_cast<double>(v) * y;
            // Each side: a neighbour in the cluster joins it, anything else is an edge of the outline.
            auto side = [&](bool inside, uint32_t n) {
                if (!inside || frame[n] < threshold) {
                    ++c.perimeter;
                } else if (mark_[n] != pass) {
                    mark_[n] = pass;
                    stack_.push_back(n);
                }
            };
            side(x > 0, i - 1);
            side(x + 1 < width, i + 1);
            side(y > 0, i - width);
            side(y + 1 < height, i + width);
        }
        c.overlap = overlapLevel > 0 && c.maxValue >= overlapLevel;
        clusters_.push_back(c);
    }
    return clusters_;
}

double clusterRoundness(unsigned size, unsigned perimeter)
{
    if (size < 3)
        return 1.0;
    return std::sqrt(size / M_PI) / (perimeter / (2.0 * M_PI) + 0.5);
}

unsigned pulseHeight(const uint16_t* samples, unsigned count)
{
    if (!samples || count == 0)
        return 0;
    unsigned height = samples[0];
    for (unsigned i = 1; i < count && samples[i] >= samples[0]; ++i)
        height = std::max<unsigned>(height, samples[i]);
    return height;
}

void subtractBaseline(uint16_t* samples, unsigned count, int offset, std::vector<uint16_t>& sorted)
{
    if (!samples || count == 0)
        return;
    sorted.assign(samples, samples + count);
    std::nth_element(sorted.begin(), sorted.begin() + count / 2, sorted.end());
    const int64_t baseline = static_cast<int64_t>(sorted[count / 2]) - offset;
    for (unsigned i = 0; i < count; ++i) {
        const int64_t v = samples[i];
        samples[i] = v > baseline ? static_cast<uint16_t>(std::min<int64_t>(v - baseline, 65535)) : 0;
    }
}

unsigned enhancedIndex(double x, double factor, unsigned size)
{
    return roundedIndex(x * factor, size);
}

unsigned enhancedSide(unsigned side, double factor)
{
    const double s = std::ceil(side * factor);
    return s >= 1.0 ? static_cast<unsigned>(s) : 1u;
}

PulseResults& PulseResults::operator=(const PulseResults& other)
{
    if (this == &other)
        return *this;
    counters = other.counters;
    lastPulseHeight = other.lastPulseHeight;
    spectrumMax = other.spectrumMax;
    copySeries(spectrum, other.spectrum);
    copySeries(sizes, other.sizes);
    copySeries(roundness, other.roundness);
    shapes = other.shapes;
    count = other.count;
    sizeSum = other.sizeSum;
    sizeSquares = other.sizeSquares;
    coincidence = other.coincidence;
    heightSum = other.heightSum;
    heightSquares = other.heightSquares;
    enhancedCount = other.enhancedCount;
    enhancedSizeSum = other.enhancedSizeSum;
    enhancedCoincidence = other.enhancedCoincidence;
    enhancedHeightSum = other.enhancedHeightSum;
    return *this;
}

void PulseAnalysis::setSettings(const PulseSettings& settings)
{
    const double oldFactor = settings_.enhanceFactor;
    settings_ = settings;
    if (!(settings_.enhanceFactor >= 1.0))
        settings_.enhanceFactor = 1.0;
    if (settings_.enhanceFactor > 16.0)
        settings_.enhanceFactor = 16.0;
    if (settings_.clusterThreshold == 0)
        settings_.clusterThreshold = 1;
    while (results_.shapes.size() > settings_.shapeHistory)
        results_.shapes.pop_front();
    if (settings_.enhanceFactor != oldFactor && results_.count.width > 0)
        resize(results_.count.width, results_.count.height);
}

void PulseAnalysis::resize(unsigned width, unsigned height)
{
    PulseResults& r = results_;
    unsigned ew = enhancedSide(width, settings_.enhanceFactor);
    unsigned eh = enhancedSide(height, settings_.enhanceFactor);
    if (uint64_t{ew} * eh > kMaxEnhancedPixels)
        ew = eh = 0; // refused by the settings check; no enhanced images rather than gigabytes
    r = PulseResults();
    r.count.reset(width, height);
    r.sizeSum.reset(width, height);
    r.sizeSquares.reset(width, height);
    r.coincidence.reset(width, height);
    r.heightSum.reset(width, height);
    r.heightSquares.reset(width, height);
    r.enhancedCount.reset(ew, eh);
    r.enhancedSizeSum.reset(ew, eh);
    r.enhancedCoincidence.reset(ew, eh);
    r.enhancedHeightSum.reset(ew, eh);
}

void PulseAnalysis::reset()
{
    resize(results_.count.width, results_.count.height);
}

void PulseAnalysis::pulse(const uint16_t* samples, unsigned count)
{
    PulseResults& r = results_;
    samples_.assign(samples, samples + count);
    if (settings_.baselineOn)
        subtractBaseline(samples_.data(), count, settings_.baselineOffset, sorted_);
    if (settings_.shapeHistory > 0) {
        r.shapes.push_back(samples_);
        while (r.shapes.size() > settings_.shapeHistory)
            r.shapes.pop_front();
    }
    const unsigned height = pulseHeight(samples_.data(), count);
    r.lastPulseHeight = height;
    ++r.counters.pulses; // a pulse too high for the spectrum is still a pulse
    if (r.spectrum.count() == 0)
        r.spectrum.reset(kSpectrumSize, 0.0, 1.0);
    if (height < kSpectrumSize) {
        const double n = r.spectrum.points[height].y += 1.0;
        r.spectrumMax = std::max(r.spectrumMax, static_cast<unsigned>(std::ceil(n)));
    }
}

void PulseAnalysis::accept(const PulseCluster& c, double x, double y)
{
    PulseResults& r = results_;
    const unsigned px = roundedIndex(x, r.count.width);
    const unsigned py = roundedIndex(y, r.count.height);
    const double size = c.size;
    ++r.count.at(px, py);
    r.sizeSum.at(px, py) += size;
    r.sizeSquares.at(px, py) += size * size;
    if (r.enhancedCount.width > 0) {
        const unsigned ex = enhancedIndex(x, settings_.enhanceFactor, r.enhancedCount.width);
        const unsigned ey = enhancedIndex(y, settings_.enhanceFactor, r.enhancedCount.height);
        ++r.enhancedCount.at(ex, ey);
        r.enhancedSizeSum.at(ex, ey) += size;
    }
    countAt(r.sizes, c.size);
    ++r.counters.accepted;
}

void PulseAnalysis::analyse(const uint16_t* frame, unsigned width, unsigned height, const uint16_t* samples,
                            unsigned count)
{
    if (!frame || width == 0 || height == 0)
        return;
    PulseResults& r = results_;
    if (width != r.count.width || height != r.count.height)
        resize(width, height);
    const bool withPulse = samples && count > 0;
    if (withPulse)
        pulse(samples, count);
    if (r.roundness.count() == 0)
        r.roundness.reset(kRoundnessBins, 0.0, 1.0 / (kRoundnessBins - 1));

    const PulseCluster* single = nullptr;
    unsigned acceptedNow = 0;
    double sx = 0.0;
    double sy = 0.0;
    for (const PulseCluster& c : finder_.find(frame, width, height, settings_.clusterThreshold, settings_.overlapLevel)) {
        ++r.counters.seen;
        if (c.overlap) {
            ++r.counters.flagged;
            continue;
        }
        if (c.size < settings_.minClusterSize) {
            ++r.counters.tooSmall;
            continue;
        }
        const double round = clusterRoundness(c.size, c.perimeter);
        r.roundness.points[roundedIndex(round * (kRoundnessBins - 1), kRoundnessBins)].y += 1.0;
        if (round < settings_.minRoundness) {
            ++r.counters.notRound;
            continue;
        }
        const double x = c.centroidX(); // the threshold is at least 1: every weight is positive
        const double y = c.centroidY();
        accept(c, x, y);
        single = &c;
        sx = x;
        sy = y;
        ++acceptedNow;
    }
    if (withPulse && acceptedNow == 1 && single) {
        const double h = r.lastPulseHeight;
        const unsigned px = roundedIndex(sx, width);
        const unsigned py = roundedIndex(sy, height);
        ++r.coincidence.at(px, py);
        r.heightSum.at(px, py) += h;
        r.heightSquares.at(px, py) += h * h;
        if (r.enhancedCoincidence.width > 0) {
            const unsigned ex = enhancedIndex(sx, settings_.enhanceFactor, r.enhancedCoincidence.width);
            const unsigned ey = enhancedIndex(sy, settings_.enhanceFactor, r.enhancedCoincidence.height);
            ++r.enhancedCoincidence.at(ex, ey);
            r.enhancedHeightSum.at(ex, ey) += h;
        }
        ++r.counters.coincidences;
    }
}
