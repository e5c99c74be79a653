// Cluster finding and classification: the pixels of a frame whose value lies in a window [low, high] are
// grouped into clusters of touching pixels (4- or 8-neighbourhood), each cluster is measured and sorted
// into one of seven classes, and the cluster list answers counts, spectra, rendering and listing, each
// optionally restricted by a ClusterFilter. Instantiated for int16_t, uint32_t and double frames; callers
// hold a finder through IClusterFind (makeClusterFind picks the instantiation from a frame type code).
//
// find() runs in two stages that can also be called apart: label() selects the window's pixels and
// fills the clusters, keeping per-cluster accumulators (size, volume, extremes, coordinate sums);
// measure() then sorts each cluster's pixels and computes its shape (perimeter, inner count, hull,
// diameter, Hough peak) and class.
//
// A finder is used by one thread at a time; it has no lock of its own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pluginfw/own_ptr.h"

class IClusterFind;

// Cluster classes, as stored and written to files.
enum ClusterClass : int32_t {
    kClassEmpty = 0,
    kClassDot = 1,
    kClassSmallBlob = 2,
    kClassCurlyTrack = 3,
    kClassHeavyBlob = 4,
    kClassHeavyTrack = 5,
    kClassStraightTrack = 6,
    kClassCount = 7,
};

// The text shown beside a class's count ("Dot (X-ray) (1) #") and the short label ("Dots"); empty for
// class 0 and out-of-range numbers.
const char* clusterClassName(int cls);
const char* clusterClassLabel(int cls);

// Filter over clusters, filled by the caller; passed and failed are written by the engine's filtered
// operations (the counts of the last call).
struct ClusterFilter {
    bool invert = false;
    int32_t minSize = 1;
    int32_t maxSize = 65536;
    int32_t classMask = 4095; // bit c set: class c accepted
    double minVolume = 1.0;
    double maxVolume = 1e300;
    double minHeight = 1.0;
    double maxHeight = 1e300;
    int32_t passed = 0;
    int32_t failed = 0;
};

class ICluster {
public:
    virtual ~ICluster() = default;

    // Appends a pixel record and updates the accumulators (volume, lowest/highest value, extremes,
    // coordinate sums). The value is converted to the finder's element type.
    virtual void addPixel(int32_t x, int32_t y, int32_t index, double value) = 0;
    // Pixel index of the record at pos (0 when out of range).
    virtual int32_t pixelIndex(int pos) const = 0;
    // Pixel index and value of the record at pos; -1 when out of range.
    virtual int pixel(int pos, int32_t* index, double* value) const = 0;
    // Removes every pixel and resets every property (the Hough peak height too).
    virtual void clear() = 0;
    virtual int size() const = 0;
    int borderCount() const { return size() - innerCount_; }
    // 2 sqrt(pi size) / perimeter (0 with no perimeter).
    double roundness() const;
    // 2 sqrt(size / pi).
    double equivalentDiameter() const;
    int32_t xExtent() const { return maxX_ - minX_; }
    int32_t yExtent() const { return maxY_ - minY_; }
    double extentDiagonal() const;
    int hullCount() const { return static_cast<int>(hull_.size()); }
    // Whether the cluster passes filter (class bit, size, volume, lowest and highest value), inverted when
    // the filter says so.
    bool matches(const ClusterFilter& filter) const;
    // Sets and returns the class from the current properties and the owning finder's limits.
    int classify();
    // Sorts the pixels by index and computes every property from them; labels is the finder's label map
    // of width x height pixels.
    virtual void computeProperties(const int32_t* labels, int32_t width, int32_t height) = 0;

    // Properties (valid after computeProperties; volume, lowest and highest also while filling).
    int32_t clusterClass() const { return class_; }
    int32_t weightedCentreIndex() const { return weightedCentreIndex_; } // -1 when outside the frame
    int32_t centreIndex() const { return centreIndex_; }
    double centroidX() const { return centroidX_; }
    double centroidY() const { return centroidY_; }
    double meanX() const { return meanX_; }
    double meanY() const { return meanY_; }
    double diameter() const { return diameter_; }
    double volume() const { return volume_; }
    double lowest() const { return lowest_; }
    double highest() const { return highest_; }
    // The Hough peak, computed when first asked for after computeProperties (classification asks only
    // when no earlier rule decided). Distance in pixels from the cluster's smallest x, y; angle in
    // radians, [0, pi); height in votes.
    double houghDistance() { return ensureHough().houghDistance_; }
    double houghAngle() { return ensureHough().houghAngle_; }
    int32_t houghHeight() { return ensureHough().houghHeight_; }
    int32_t innerCount() const { return innerCount_; }
    int32_t perimeter() const { return perimeter_; }
    int32_t minX() const { return minX_; }
    int32_t maxX() const { return maxX_; }
    int32_t minY() const { return minY_; }
    int32_t maxY() const { return maxY_; }
    const std::vector<int32_t>& hull() const { return hull_; } // record positions, counter-clockwise
    const IClusterFind* owner() const { return owner_; }

protected:
    explicit ICluster(const IClusterFind* owner) : owner_(owner) {}
    void resetProperties();
    // Classification rule 6: the Hough peak reaches both minHeight and trunc(minRatio x size s).
    bool straightEnough(int32_t minHeight, double minRatio, int s);
    // Shape stage shared by every element type: hull and diameter over the sorted pixel coordinates
    // (xs, ys of size n), and the Hough transform over coordinates stride elements apart.
    void computeHull(const int32_t* xs, const int32_t* ys, int n);
    void houghTransform(const int32_t* xs, const int32_t* ys, int n, size_t stride);
    virtual void computeHough() = 0;
    // An upper bound of the Hough peak height, from the pixel counts per row and per column: every bin's
    // strip is less than 3 pixels wide, so it holds at most 5 pixels of a row (or of a column when the
    // strip runs closer to the rows). Lets classification skip a transform that cannot reach its limit.
    virtual int64_t houghBound() const = 0;
    ICluster& ensureHough()
    {
        if (!houghDone_)
            computeHough();
        return *this;
    }

    int32_t class_ = 0;
    int32_t weightedCentreIndex_ = -1;
    int32_t centreIndex_ = -1;
    double centroidX_ = 0, centroidY_ = 0;
    double meanX_ = 0, meanY_ = 0;
    double diameter_ = 0;
    double volume_ = 0;
    double lowest_ = 0, highest_ = 0;
    double houghDistance_ = 0, houghAngle_ = 0;
    int32_t houghHeight_ = 0; // 0 until a transform ran: a small cluster never carries a stale peak
    bool houghDone_ = false;
    int32_t innerCount_ = 0;
    int32_t perimeter_ = 0;
    int32_t minX_ = 0, maxX_ = 0, minY_ = 0, maxY_ = 0;
    double sumX_ = 0, sumY_ = 0;
    std::vector<int32_t> hull_;
    const IClusterFind* owner_;
};

class IClusterFind {
public:
    virtual ~IClusterFind() = default;

    // Window of pixel values, clamped to the element type's range and truncated to it; -1 (nothing
    // changed) when either is NaN.
    virtual int setThresholds(double low, double high) = 0;
    virtual double lowThreshold() const = 0;
    virtual double highThreshold() const = 0;
    // Without a filter: the cluster count. With one: the indexes of the passing clusters go to indexes
    // (when given, room for clusterCount()), the counts to the filter; returns the passed count.
    int countMatching(ClusterFilter* filter, int32_t* indexes) const;
    virtual int clusterCount() const = 0;
    // Null when out of range.
    virtual ICluster* cluster(int index) const = 0;
    // Finds the clusters of width x height elements of the finder's type: label() then measure().
    // Returns 0, -1 for a negative size or one above 2^31 - 1 pixels or null data with pixels.
    int find(int32_t width, int32_t height, const void* data);
    // The two stages of find.
    virtual int label(int32_t width, int32_t height, const void* data) = 0;
    void measure();
    // Joins small clusters (class below 4) that lie close together: a Gaussian-smoothed map of their
    // pixels is searched for regions at or above JoinThreshold; the clusters inside one region become one.
    // Returns 0, -1 for JoinMaskSize outside [1, 10001] or JoinSigma not above 0 (nothing changed).
    int joinSmallClusters();

    // Spectra: each passing cluster increments one bin; the filter (may be null) gets the counts.
    // Size s counts in bin s - first when first <= s < first + count.
    int sizeSpectrum(int32_t* bins, int32_t first, int32_t count, ClusterFilter* filter) const;
    // Volume v counts in bin floor((v - from) / step) when that lies in [0, count); -1 for step not above 0
    // or not finite, or a non-finite from.
    int volumeSpectrum(int32_t* bins, double from, double step, int32_t count, ClusterFilter* filter) const;
    // Row size - 1 of rows (maxSize rows) for clusters of size up to maxSize, binned as volumeSpectrum.
    int volumeSpectrumBySize(int32_t** rows, int32_t maxSize, double from, double step, int32_t count,
                             ClusterFilter* filter) const;
    // rows[volume bin][weighted-centre pixel index]; -1 when rowLength is below the pixel count or the
    // step is refused. A cluster whose weighted centre lies outside the row is not counted.
    int perPixelVolumeSpectrum(int32_t** rows, int32_t rowLength, double from, double step, int32_t count,
                               ClusterFilter* filter) const;
    // Writes each passing cluster's class into its pixels of buffer (length elements of the finder's
    // type, zeroed first), then highlightValue into the pixels of cluster highlight (when valid).
    // -1 when length is below the pixel count.
    virtual int render(void* buffer, int64_t length, int highlight, double highlightValue,
                       ClusterFilter* filter, int32_t* passed, int32_t* failed) const = 0;
    // One line per passing cluster: "[x y value] " per pixel. The file is appended to or replaced as a
    // whole (never left half-written). Returns 0, or -1 with a message in errorText (may be null).
    int writeClusterList(const std::string& path, bool append, ClusterFilter* filter,
                         std::string* errorText = nullptr) const;
    // The clusters of one line of the list, in list form (for tests and callers that build files).
    virtual std::string clusterListLine(int index) const = 0;
    // counts[c] = number of passing clusters of class c.
    int classCounts(int32_t counts[kClassCount], ClusterFilter* filter) const;

    const int32_t* labels() const { return labels_.data(); }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t pixelCount() const { return pixelCount_; }

    // Classification limits.
    int32_t LimDotPixCount = 2;
    int32_t LimSmallBlobSizeXY = 1;
    int32_t LimHeavyBlobInnerCount = 4;
    int32_t LimHeavyTrackInnerCount = 4;
    int32_t LimStraightTrackHtMax = 20;
    double LimHeavyBlobRadiusDev = 1.2;
    double LimHeavyBlobInBorRatio = 0.5;
    double LimHeavyTrackInBorRatio = 0.3;
    double LimStraightTrackHtMaxRatio = 0.9;
    // Joining.
    double JoinThreshold = 0.01;
    double JoinSigma = 1.0;
    int32_t JoinMaskSize = 5;
    // Neighbourhood (false: 4 neighbours) and fill (true: depth-first in the neighbour order left, right,
    // above, below, above-left, below-left, above-right, below-right; false: by runs, each row's runs of
    // window pixels joined to the runs they touch in the row above). Both give the same clusters.
    bool eightNeighbours = true;
    bool recursiveFill = false;

protected:
    // Moves every record of cluster from into cluster to, relabelling them; from is deleted and its slot
    // left empty until compact() fills the gaps and relabels the clusters it moves.
    virtual void mergeInto(int to, int from) = 0;
    virtual void compact() = 0;

    std::vector<int32_t> labels_; // -1 not visited, -2 outside the window, else the cluster index
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t pixelCount_ = 0;
};

template <typename T>
struct ClusterPixel {
    int32_t x;
    int32_t y;
    int32_t index; // y x width + x
    T value;
};

template <typename T>
class Cluster final : public ICluster {
public:
    explicit Cluster(const IClusterFind* owner) : ICluster(owner) {}

    void addPixel(int32_t x, int32_t y, int32_t index, double value) override
    {
        add(x, y, index, static_cast<T>(value));
    }
    // The typed form, used by the fill.
    void add(int32_t x, int32_t y, int32_t index, T value)
    {
        if (pixels_.empty()) {
            lowest_ = highest_ = static_cast<double>(value);
            minX_ = maxX_ = x;
            minY_ = maxY_ = y;
        } else {
            const double v = static_cast<double>(value);
            if (v < lowest_)
                lowest_ = v;
            else if (v > highest_)
                highest_ = v;
            if (x < minX_)
                minX_ = x;
            else if (x > maxX_)
                maxX_ = x;
            if (y < minY_)
                minY_ = y;
            else if (y > maxY_)
                maxY_ = y;
        }
        volume_ += static_cast<double>(value);
        sumX_ += x;
        sumY_ += y;
        pixels_.push_back(ClusterPixel<T>{x, y, index, value});
    }
    // Writes the run of pixels x = left..right of row y (row = y x width), values from data, at record
    // position at of a store already sized for it (runs written in raster order, the first at 0).
    void putRun(size_t at, int32_t y, int32_t row, int32_t left, int32_t right, const T* data)
    {
        const size_t n = static_cast<size_t>(right - left + 1);
        if (at == 0) {
            lowest_ = highest_ = static_cast<double>(data[row + left]);
            minX_ = left;
            maxX_ = right;
            minY_ = y;
        } else {
            minX_ = std::min(minX_, left);
            maxX_ = std::max(maxX_, right);
        }
        maxY_ = y;
        ClusterPixel<T>* out = pixels_.data() + at;
        double low = lowest_, high = highest_, volume = 0;
        for (int32_t x = left; x <= right; ++x, ++out) {
            const T value = data[row + x];
            *out = ClusterPixel<T>{x, y, row + x, value};
            const double v = static_cast<double>(value);
            low = std::min(low, v);
            high = std::max(high, v);
            volume += v;
        }
        lowest_ = low;
        highest_ = high;
        volume_ += volume;
        sumX_ += static_cast<double>(left + right) * static_cast<double>(n) / 2;
        sumY_ += static_cast<double>(y) * static_cast<double>(n);
    }
    int32_t pixelIndex(int pos) const override
    {
        return pos >= 0 && pos < size() ? pixels_[static_cast<size_t>(pos)].index : 0;
    }
    int pixel(int pos, int32_t* index, double* value) const override;
    void clear() override;
    int size() const override { return static_cast<int>(pixels_.size()); }
    void computeProperties(const int32_t* labels, int32_t width, int32_t height) override;

    const std::vector<ClusterPixel<T>>& pixels() const { return pixels_; }
    std::vector<ClusterPixel<T>>& pixels() { return pixels_; }
    // The four extreme records: smallest x, largest x, smallest y, largest y (first in sorted order on ties).
    const ClusterPixel<T>& extreme(int which) const { return extremes_[which]; }

protected:
    void computeHough() override;
    int64_t houghBound() const override;

private:
    std::vector<ClusterPixel<T>> pixels_;
    ClusterPixel<T> extremes_[4] = {};
};

template <typename T>
class ClusterFind final : public IClusterFind {
public:
    ClusterFind();
    ~ClusterFind() override;
    // Clusters point at their finder: neither copied nor moved.
    ClusterFind(const ClusterFind&) = delete;
    ClusterFind& operator=(const ClusterFind&) = delete;

    int setThresholds(double low, double high) override;
    double lowThreshold() const override { return static_cast<double>(low_); }
    double highThreshold() const override { return static_cast<double>(high_); }
    int label(int32_t width, int32_t height, const void* data) override;
    int render(void* buffer, int64_t length, int highlight, double highlightValue, ClusterFilter* filter,
               int32_t* passed, int32_t* failed) const override;
    std::string clusterListLine(int index) const override;

    int clusterCount() const override { return static_cast<int>(clusters_.size()); }
    ICluster* cluster(int index) const override { return typedCluster(index); }
    Cluster<T>* typedCluster(int index) const
    {
        return index >= 0 && index < clusterCount() ? clusters_[static_cast<size_t>(index)] : nullptr;
    }

protected:
    void mergeInto(int to, int from) override;
    void compact() override;

private:
    Cluster<T>* newCluster();
    // Labels every window pixel by runs (two passes over the rows); the fill when recursiveFill is off.
    void labelRuns(const T* data);
    void fillDepthFirst(const T* data, int32_t seed);

    T low_;
    T high_;
    OwnPtrVector<Cluster<T>*> clusters_;
    OwnPtrVector<Cluster<T>*> spare_; // cleared clusters of earlier frames, their storage kept for reuse
    struct Seed {
        int32_t x, y;
    };
    std::vector<Seed> stack_; // fill seeds
    struct Run {
        int32_t y, left, right;
    };
    // Calls emit(left, right) for each run of -1 labels in row (width w).
    template <typename Emit>
    static void forEachRun(const int32_t* row, int32_t w, Emit&& emit);
    std::vector<Run> runs_;
    std::vector<int32_t> links_; // per run: first pass the run it joined (itself for a root), then its cluster
    std::vector<int32_t> runSizes_; // pixels per cluster, then the records written so far
};

// A new finder for a frame element type code: 4 (int16_t), 7 (uint32_t), 9 (double); null for others.
std::unique_ptr<IClusterFind> makeClusterFind(int frameType);
// The element type code of a finder made by makeClusterFind (4, 7 or 9).
int clusterFindType(const IClusterFind& finder);
