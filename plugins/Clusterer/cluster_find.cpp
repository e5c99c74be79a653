#include "cluster_find.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>


#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/file_write.h"
#include "platform/syserror.h"

static_assert(sizeof(ClusterPixel<int16_t>) == 16);
static_assert(sizeof(ClusterPixel<uint32_t>) == 16);
static_assert(sizeof(ClusterPixel<double>) == 24);

namespace {

constexpr double kPi = 3.14159265358979323846;

const char* const kClassNames[kClassCount] = {
    "",
    "Dot (X-ray) (1) #",
    "Small blob (photon or electron) (2) #",
    "Curly track (electron) (3) #",
    "Heavy blob (alpha) (4) #",
    "Heavy track (proton) (5) #",
    "Straight track (MIP) (6) #",
};
const char* const kClassLabels[kClassCount] = {
    "", "Dots", "Small blobs", "Curly tracks", "Heavy blobs", "Heavy tracks", "Straight tracks",
};

// Pixel index of the position (x, y) rounded as the cluster's centres are (trunc(v + 0.5)); -1 when it
// lies outside the frame or is not a number.
int32_t centreIndexOf(double x, double y, int32_t width, int32_t height)
{
    const double cx = std::trunc(x + 0.5);
    const double cy = std::trunc(y + 0.5);
    if (!(cx >= 0 && cx < width && cy >= 0 && cy < height))
        return -1;
    return static_cast<int32_t>(cy) * width + static_cast<int32_t>(cx);
}

// The bin of value in [from, from + count x step), or -1. Decided in double before any conversion, so
// that huge values and values just below from are not counted.
int32_t volumeBin(double value, double from, double step, int32_t count)
{
    const double bin = std::floor((value - from) / step);
    if (!(bin >= 0 && bin < count))
        return -1;
    return static_cast<int32_t>(bin);
}

bool stepUsable(double from, double step)
{
    return std::isfinite(from) && std::isfinite(step) && step > 0;
}

int64_t cross(int32_t ox, int32_t oy, int32_t ax, int32_t ay, int32_t bx, int32_t by)
{
    return static_cast<int64_t>(ax - ox) * (by - oy) - static_cast<int64_t>(ay - oy) * (bx - ox);
}

template <typename T>
T clampToType(double v)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(std::clamp(v, std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max()));
    } else {
        const double lo = static_cast<double>(std::numeric_limits<T>::min());
        const double hi = static_cast<double>(std::numeric_limits<T>::max());
        return static_cast<T>(std::trunc(std::clamp(v, lo, hi)));
    }
}

template <typename T>
void appendValue(std::string& out, T value)
{
    char buf[64];
    std::to_chars_result r;
    if constexpr (std::is_floating_point_v<T>)
        r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value), std::chars_format::general, 10);
    else
        r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

// The system's error text at the end of a platform file message ("...: <text>.").
std::string systemPart(const std::string& message)
{
    const size_t colon = message.rfind(": ");
    std::string text = colon == std::string::npos ? message : message.substr(colon + 2);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

} // namespace

const char* clusterClassName(int cls)
{
    return cls >= 0 && cls < kClassCount ? kClassNames[cls] : "";
}

const char* clusterClassLabel(int cls)
{
    return cls >= 0 && cls < kClassCount ? kClassLabels[cls] : "";
}

// ---------------------------------------------------------------------------------------------------
// ICluster

double ICluster::roundness() const
{
    return perimeter_ > 0 ? 2.0 * std::sqrt(kPi * size()) / perimeter_ : 0.0;
}

double ICluster::equivalentDiameter() const
{
    return 2.0 * std::sqrt(size() / kPi);
}

double ICluster::extentDiagonal() const
{
    const double dx = xExtent();
    const double dy = yExtent();
    return std::sqrt(dx * dx + dy * dy);
}

bool ICluster::matches(const ClusterFilter& f) const
{
    const int s = size();
    const bool classOk = class_ >= 0 && class_ < 31 && (f.classMask >> class_) & 1;
    const bool ok = classOk && f.minSize <= s && s <= f.maxSize && f.minVolume <= volume_ &&
                    volume_ <= f.maxVolume && f.minHeight <= lowest_ && highest_ <= f.maxHeight;
    return ok != f.invert;
}

int ICluster::classify()
{
    const IClusterFind* f = owner_;
    const int s = size();
    if (s == 0 || !f) {
        class_ = kClassEmpty;
        return class_;
    }
    const int border = borderCount();
    // In floating point: the integer quotient would make every ratio below 1 zero.
    const double ratio = border > 0 ? static_cast<double>(innerCount_) / border
                                    : std::numeric_limits<double>::infinity();
    const double eqDiameter = equivalentDiameter() * f->LimHeavyBlobRadiusDev;
    if (s <= f->LimDotPixCount)
        class_ = kClassDot;
    else if (xExtent() <= f->LimSmallBlobSizeXY && yExtent() <= f->LimSmallBlobSizeXY)
        class_ = kClassSmallBlob;
    else if (innerCount_ >= f->LimHeavyBlobInnerCount && ratio >= f->LimHeavyBlobInBorRatio &&
             eqDiameter > diameter_)
        class_ = kClassHeavyBlob;
    else if (innerCount_ >= f->LimHeavyTrackInnerCount && ratio >= f->LimHeavyTrackInBorRatio &&
             eqDiameter <= diameter_)
        class_ = kClassHeavyTrack;
    else if (straightEnough(f->LimStraightTrackHtMax, f->LimStraightTrackHtMaxRatio, s))
        class_ = kClassStraightTrack;
    else
        class_ = kClassCurlyTrack;
    return class_;
}

bool ICluster::straightEnough(int32_t minHeight, double minRatio, int s)
{
    const double byRatio = std::trunc(minRatio * s);
    // The peak keeps an earlier value when the cluster is too small for a transform; otherwise a bound
    // that stays below the limits decides without running it.
    if (houghDone_ || extentDiagonal() <= 2 || houghBound() >= std::max<double>(minHeight, byRatio))
        return houghHeight() >= minHeight && houghHeight_ >= byRatio;
    return false;
}

void ICluster::resetProperties()
{
    class_ = kClassEmpty;
    weightedCentreIndex_ = centreIndex_ = -1;
    centroidX_ = centroidY_ = meanX_ = meanY_ = 0;
    diameter_ = volume_ = lowest_ = highest_ = 0;
    houghDistance_ = houghAngle_ = 0;
    houghHeight_ = 0;
    houghDone_ = false;
    innerCount_ = perimeter_ = 0;
    minX_ = maxX_ = minY_ = maxY_ = 0;
    sumX_ = sumY_ = 0;
    hull_.clear();
}

void ICluster::computeHull(const int32_t* xs, const int32_t* ys, int n)
{
    // Convex hull by monotone chain over the points in (y, x) order. Only the first and the last pixel of
    // each row can be hull vertices, so the chain runs over those.
    hull_.clear();
    if (n <= 0) {
        diameter_ = 0;
        return;
    }
    thread_local std::vector<int32_t> candidates;
    thread_local std::vector<int32_t> chain;
    candidates.clear();
    for (int i = 0; i < n;) {
        int j = i;
        while (j + 1 < n && ys[j + 1] == ys[i])
            ++j;
        candidates.push_back(i);
        if (j != i)
            candidates.push_back(j);
        i = j + 1;
    }
    const int m = static_cast<int>(candidates.size());
    if (m == 1) {
        hull_.push_back(candidates[0]);
    } else {
        chain.assign(2 * static_cast<size_t>(m), 0);
        int k = 0;
        for (int i = 0; i < m; ++i) {
            const int32_t p = candidates[static_cast<size_t>(i)];
            while (k >= 2 && cross(xs[chain[k - 2]], ys[chain[k - 2]], xs[chain[k - 1]], ys[chain[k - 1]], xs[p],
                                   ys[p]) <= 0)
                --k;
            chain[k++] = p;
        }
        const int lower = k + 1;
        for (int i = m - 2; i >= 0; --i) {
            const int32_t p = candidates[static_cast<size_t>(i)];
            while (k >= lower && cross(xs[chain[k - 2]], ys[chain[k - 2]], xs[chain[k - 1]], ys[chain[k - 1]],
                                       xs[p], ys[p]) <= 0)
                --k;
            chain[k++] = p;
        }
        hull_.assign(chain.begin(), chain.begin() + (k - 1));
    }
    int64_t best = 0;
    for (size_t a = 0; a < hull_.size(); ++a)
        for (size_t b = a + 1; b < hull_.size(); ++b) {
            const int64_t dx = xs[hull_[a]] - xs[hull_[b]];
            const int64_t dy = ys[hull_[a]] - ys[hull_[b]];
            best = std::max(best, dx * dx + dy * dy);
        }
    diameter_ = std::sqrt(static_cast<double>(best));
}

void ICluster::houghTransform(const int32_t* xs, const int32_t* ys, int n, size_t stride)
{
    // Straight-line Hough transform: rho = x cos(theta) + y sin(theta) over the pixels relative to the
    // smallest x and y; theta in [0, pi) in 3 x trunc(r) bins, rho in [-r, r] in trunc(r) bins, r = the
    // extent diagonal. The peak's votes and position are kept; with r <= 2 the earlier peak stays.
    houghDone_ = true;
    const double r = extentDiagonal();
    if (r <= 2)
        return;
    const int nDist = static_cast<int>(r);
    const int nAngle = 3 * nDist;
    const double scale = nDist / (2 * r);
    const double offset = r * scale;
    // The coordinates once, contiguous and in double; the angles' factors once per angle.
    thread_local std::vector<double> dx, dy;
    thread_local std::vector<int32_t> votes, bins;
    dx.resize(static_cast<size_t>(n));
    bins.resize(static_cast<size_t>(n));
    dy.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const size_t k = static_cast<size_t>(i) * stride;
        dx[static_cast<size_t>(i)] = xs[k] - minX_;
        dy[static_cast<size_t>(i)] = ys[k] - minY_;
    }
    votes.resize(static_cast<size_t>(nDist));
    const double* px = dx.data();
    const double* py = dy.data();
    int32_t* v = votes.data();
    int32_t* pb = bins.data();
    const int top = nDist - 1;
    int32_t peak = -1;
    int peakAngle = 0, peakDist = 0;
    for (int a = 0; a < nAngle; ++a) {
        const double theta = a * kPi / nAngle;
        const double c = std::cos(theta) * scale;
        const double s = std::sin(theta) * scale;
        // The bins first (a loop the compiler vectorises), then the votes.
        for (int i = 0; i < n; ++i) {
            const int bin = static_cast<int>(px[i] * c + py[i] * s + offset);
            pb[i] = bin < 0 ? 0 : bin > top ? top : bin;
        }
        std::fill(v, v + nDist, 0);
        for (int i = 0; i < n; ++i)
            ++v[pb[i]];
        for (int d = 0; d < nDist; ++d)
            if (v[d] > peak) {
                peak = v[d];
                peakAngle = a;
                peakDist = d;
            }
    }
    houghHeight_ = peak;
    houghAngle_ = peakAngle * kPi / nAngle;
    houghDistance_ = -r + (peakDist + 0.5) / scale;
}

// ---------------------------------------------------------------------------------------------------
// Cluster<T>

template <typename T>
int Cluster<T>::pixel(int pos, int32_t* index, double* value) const
{
    if (pos < 0 || pos >= size())
        return -1;
    const ClusterPixel<T>& p = pixels_[static_cast<size_t>(pos)];
    if (index)
        *index = p.index;
    if (value)
        *value = static_cast<double>(p.value);
    return 0;
}

template <typename T>
void Cluster<T>::clear()
{
    pixels_.clear();
    resetProperties();
    for (ClusterPixel<T>& e : extremes_)
        e = ClusterPixel<T>{};
}

template <typename T>
void Cluster<T>::computeProperties(const int32_t* labels, int32_t width, int32_t height)
{
    const int n = size();
    const int32_t keptHough = houghHeight_;
    const double keptDistance = houghDistance_, keptAngle = houghAngle_;
    resetProperties();
    houghHeight_ = keptHough;
    houghDistance_ = keptDistance;
    houghAngle_ = keptAngle;
    houghDone_ = false;
    if (n == 0)
        return;
    // Labelling by runs stores them in pixel order already.
    const auto byIndex = [](const ClusterPixel<T>& a, const ClusterPixel<T>& b) { return a.index < b.index; };
    if (!std::is_sorted(pixels_.begin(), pixels_.end(), byIndex))
        std::sort(pixels_.begin(), pixels_.end(), byIndex);
    const int64_t count = static_cast<int64_t>(width) * height;
    const ClusterPixel<T>& first = pixels_.front();
    lowest_ = highest_ = static_cast<double>(first.value);
    for (ClusterPixel<T>& e : extremes_)
        e = first;
    double weightedX = 0, weightedY = 0;
    thread_local std::vector<int32_t> xs, ys;
    xs.resize(static_cast<size_t>(n));
    ys.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const ClusterPixel<T>& p = pixels_[static_cast<size_t>(i)];
        const double v = static_cast<double>(p.value);
        if (v < lowest_)
            lowest_ = v;
        else if (v > highest_)
            highest_ = v;
        volume_ += v;
        weightedX += v * p.x;
        weightedY += v * p.y;
        sumX_ += p.x;
        sumY_ += p.y;
        const int32_t own = labels[p.index];
        const int sides = (p.x == 0 || labels[p.index - 1] != own) + (p.x == width - 1 || labels[p.index + 1] != own) +
                          (p.index < width || labels[p.index - width] != own) +
                          (p.index >= count - width || labels[p.index + width] != own);
        if (sides == 0)
            ++innerCount_;
        else
            perimeter_ += sides;
        if (p.x < extremes_[0].x)
            extremes_[0] = p;
        else if (p.x > extremes_[1].x)
            extremes_[1] = p;
        if (p.y < extremes_[2].y)
            extremes_[2] = p;
        else if (p.y > extremes_[3].y)
            extremes_[3] = p;
        xs[static_cast<size_t>(i)] = p.x;
        ys[static_cast<size_t>(i)] = p.y;
    }
    minX_ = extremes_[0].x;
    maxX_ = extremes_[1].x;
    minY_ = extremes_[2].y;
    maxY_ = extremes_[3].y;
    meanX_ = sumX_ / n;
    meanY_ = sumY_ / n;
    // A cluster whose values sum to zero has no weighted centre: its plain centre stands in.
    if (volume_ != 0 && std::isfinite(volume_)) {
        centroidX_ = weightedX / volume_;
        centroidY_ = weightedY / volume_;
    } else {
        centroidX_ = meanX_;
        centroidY_ = meanY_;
    }
    centreIndex_ = centreIndexOf(meanX_, meanY_, width, height);
    weightedCentreIndex_ = centreIndexOf(centroidX_, centroidY_, width, height);
    computeHull(xs.data(), ys.data(), n);
}

template <typename T>
int64_t Cluster<T>::houghBound() const
{
    // Rows: the records are sorted by index, so each row is one run of records.
    int64_t byRows = 0;
    for (size_t i = 0; i < pixels_.size();) {
        size_t j = i;
        while (j < pixels_.size() && pixels_[j].y == pixels_[i].y)
            ++j;
        byRows += std::min<size_t>(j - i, 5);
        i = j;
    }
    thread_local std::vector<int32_t> columns;
    columns.assign(static_cast<size_t>(xExtent()) + 1, 0);
    for (const ClusterPixel<T>& p : pixels_)
        ++columns[static_cast<size_t>(p.x - minX_)];
    int64_t byColumns = 0;
    for (int32_t n : columns)
        byColumns += std::min(n, 5);
    return std::max(byRows, byColumns);
}

template <typename T>
void Cluster<T>::computeHough()
{
    if (pixels_.empty()) {
        houghDone_ = true;
        return;
    }
    static_assert(sizeof(ClusterPixel<T>) % sizeof(int32_t) == 0);
    const size_t stride = sizeof(ClusterPixel<T>) / sizeof(int32_t);
    houghTransform(&pixels_.front().x, &pixels_.front().y, size(), stride);
}

// ---------------------------------------------------------------------------------------------------
// IClusterFind

int IClusterFind::countMatching(ClusterFilter* filter, int32_t* indexes) const
{
    const int n = clusterCount();
    if (!filter)
        return n;
    int passed = 0;
    for (int i = 0; i < n; ++i)
        if (cluster(i)->matches(*filter)) {
            if (indexes)
                indexes[passed] = i;
            ++passed;
        }
    filter->passed = passed;
    filter->failed = n - passed;
    return passed;
}

int IClusterFind::find(int32_t width, int32_t height, const void* data)
{
    const int rc = label(width, height, data);
    if (rc != 0)
        return rc;
    measure();
    return 0;
}

void IClusterFind::measure()
{
    const int n = clusterCount();
    for (int i = 0; i < n; ++i) {
        ICluster* c = cluster(i);
        c->computeProperties(labels_.data(), width_, height_);
        c->classify();
    }
}

namespace {

// Applies fn to each cluster that passes filter (all without one) and stores the counts in the filter.
template <typename Fn>
void forPassing(const IClusterFind& finder, ClusterFilter* filter, Fn fn)
{
    const int n = finder.clusterCount();
    int passed = 0;
    for (int i = 0; i < n; ++i) {
        const ICluster* c = finder.cluster(i);
        if (filter && !c->matches(*filter))
            continue;
        ++passed;
        fn(i, *c);
    }
    if (filter) {
        filter->passed = passed;
        filter->failed = n - passed;
    }
}

} // namespace

int IClusterFind::sizeSpectrum(int32_t* bins, int32_t first, int32_t count, ClusterFilter* filter) const
{
    forPassing(*this, filter, [&](int, const ICluster& c) {
        const int64_t bin = static_cast<int64_t>(c.size()) - first;
        if (bin >= 0 && bin < count)
            ++bins[bin];
    });
    return 0;
}

int IClusterFind::volumeSpectrum(int32_t* bins, double from, double step, int32_t count,
                                 ClusterFilter* filter) const
{
    if (!stepUsable(from, step))
        return -1;
    forPassing(*this, filter, [&](int, const ICluster& c) {
        const int32_t bin = volumeBin(c.volume(), from, step, count);
        if (bin >= 0)
            ++bins[bin];
    });
    return 0;
}

int IClusterFind::volumeSpectrumBySize(int32_t** rows, int32_t maxSize, double from, double step, int32_t count,
                                       ClusterFilter* filter) const
{
    if (!stepUsable(from, step))
        return -1;
    forPassing(*this, filter, [&](int, const ICluster& c) {
        const int s = c.size();
        if (s < 1 || s > maxSize)
            return;
        const int32_t bin = volumeBin(c.volume(), from, step, count);
        if (bin >= 0)
            ++rows[s - 1][bin];
    });
    return 0;
}

int IClusterFind::perPixelVolumeSpectrum(int32_t** rows, int32_t rowLength, double from, double step,
                                         int32_t count, ClusterFilter* filter) const
{
    if (rowLength < pixelCount_ || !stepUsable(from, step))
        return -1;
    forPassing(*this, filter, [&](int, const ICluster& c) {
        const int32_t column = c.weightedCentreIndex();
        if (column < 0 || column >= rowLength)
            return;
        const int32_t bin = volumeBin(c.volume(), from, step, count);
        if (bin >= 0)
            ++rows[bin][column];
    });
    return 0;
}

int IClusterFind::classCounts(int32_t counts[kClassCount], ClusterFilter* filter) const
{
    std::fill(counts, counts + kClassCount, 0);
    forPassing(*this, filter, [&](int, const ICluster& c) {
        const int cls = c.clusterClass();
        if (cls >= 0 && cls < kClassCount)
            ++counts[cls];
    });
    return 0;
}

int IClusterFind::writeClusterList(const std::string& path, bool append, ClusterFilter* filter,
                                   std::string* errorText) const
{
    std::string text;
    forPassing(*this, filter, [&](int i, const ICluster&) {
        text += clusterListLine(i);
        text += '\n';
    });
    if (!append) {
        std::string message;
        if (plat::replaceFile(path, text.data(), text.size(), &message) != 0) {
            if (errorText)
                *errorText = systemPart(message);
            return -1;
        }
        return 0;
    }
    // Appending: a write that fails part-way is cut off again, so the file keeps what it held.
    if (const int err = plat::appendWhole(path, text.data(), text.size())) {
        if (errorText)
            *errorText = plat::systemErrorText(err);
        return -1;
    }
    return 0;
}

namespace {

// Separable Gaussian smoothing with taps beyond the edges left out; kernel normalised to sum 1.
void smooth(std::vector<double>& map, int32_t width, int32_t height, int32_t taps, double sigma)
{
    std::vector<double> kernel(static_cast<size_t>(taps));
    const int32_t centre = taps / 2;
    double sum = 0;
    for (int32_t t = 0; t < taps; ++t) {
        const double d = t - centre;
        kernel[static_cast<size_t>(t)] = std::exp(-d * d / (2 * sigma * sigma));
        sum += kernel[static_cast<size_t>(t)];
    }
    for (double& k : kernel)
        k /= sum;
    std::vector<double> out(map.size(), 0.0);
    for (int32_t y = 0; y < height; ++y) {
        const double* in = &map[static_cast<size_t>(y) * width];
        double* o = &out[static_cast<size_t>(y) * width];
        for (int32_t x = 0; x < width; ++x) {
            double acc = 0;
            const int32_t t0 = std::max(0, centre - x);
            const int32_t t1 = std::min(taps, width - x + centre);
            for (int32_t t = t0; t < t1; ++t)
                acc += kernel[static_cast<size_t>(t)] * in[x + t - centre];
            o[x] = acc;
        }
    }
    for (int32_t x = 0; x < width; ++x)
        for (int32_t y = 0; y < height; ++y) {
            double acc = 0;
            const int32_t t0 = std::max(0, centre - y);
            const int32_t t1 = std::min(taps, height - y + centre);
            for (int32_t t = t0; t < t1; ++t)
                acc += kernel[static_cast<size_t>(t)] * out[static_cast<size_t>(y + t - centre) * width + x];
            map[static_cast<size_t>(y) * width + x] = acc;
        }
}

} // namespace

int IClusterFind::joinSmallClusters()
{
    if (JoinMaskSize < 1 || JoinMaskSize > 10001 || !(JoinSigma > 0) || !std::isfinite(JoinSigma) ||
        std::isnan(JoinThreshold))
        return -1;
    const int n = clusterCount();
    if (n == 0)
        return 0;
    std::vector<double> map(static_cast<size_t>(pixelCount_), 0.0);
    for (int i = 0; i < n; ++i) {
        const ICluster* c = cluster(i);
        if (c->clusterClass() >= kClassHeavyBlob)
            continue;
        for (int p = 0; p < c->size(); ++p)
            map[static_cast<size_t>(c->pixelIndex(p))] = 1.0;
    }
    smooth(map, width_, height_, JoinMaskSize, JoinSigma);

    ClusterFind<double> regions;
    regions.eightNeighbours = true;
    regions.setThresholds(JoinThreshold, std::numeric_limits<double>::max());
    regions.label(width_, height_, map.data());
    for (int r = 0; r < regions.clusterCount(); ++r) {
        Cluster<double>* region = regions.typedCluster(r);
        auto& px = region->pixels();
        std::sort(px.begin(), px.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
        int32_t target = -1;
        for (const ClusterPixel<double>& p : px) {
            const int32_t lbl = labels_[static_cast<size_t>(p.index)];
            if (target < 0) {
                if (lbl == -1)
                    break;
                if (lbl >= 0)
                    target = lbl;
                continue;
            }
            if (lbl < 0 || lbl == target)
                continue;
            const ICluster* other = cluster(lbl);
            if (other && other->clusterClass() < kClassHeavyBlob)
                mergeInto(target, lbl);
        }
    }
    compact();
    measure();
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// ClusterFind<T>

template <typename T>
ClusterFind<T>::ClusterFind()
{
    if constexpr (std::is_same_v<T, int16_t>) {
        low_ = 1;
        high_ = 32767;
    } else {
        low_ = 1;
        high_ = std::numeric_limits<T>::max();
    }
}

template <typename T>
ClusterFind<T>::~ClusterFind() = default;

template <typename T>
int ClusterFind<T>::setThresholds(double low, double high)
{
    if (std::isnan(low) || std::isnan(high))
        return -1;
    low_ = clampToType<T>(low);
    high_ = clampToType<T>(high);
    return 0;
}

template <typename T>
Cluster<T>* ClusterFind<T>::newCluster()
{
    clusters_.push_back(nullptr);
    Cluster<T>* c;
    if (!spare_.empty()) {
        c = spare_.back();
        spare_.pop_back();
    } else {
        c = new Cluster<T>(this);
    }
    clusters_.back() = c;
    return c;
}

template <typename T>
int ClusterFind<T>::label(int32_t width, int32_t height, const void* data)
{
    // The clusters of the last frame become spares with their pixel stores, as long as the stores kept
    // stay within twice the last frame's pixels; the others are handed back.
    size_t kept = 0;
    for (Cluster<T>* c : spare_)
        kept += c->pixels().capacity();
    for (Cluster<T>* c : clusters_) {
        if (!c)
            continue;
        c->clear();
        if (kept + c->pixels().capacity() > 2 * static_cast<size_t>(pixelCount_) + 4096)
            std::vector<ClusterPixel<T>>().swap(c->pixels());
        kept += c->pixels().capacity();
        if (spare_.size() < 65536)
            spare_.push_back(c);
        else
            delete c;
    }
    static_cast<std::vector<Cluster<T>*>&>(clusters_).clear();
    const int64_t count = static_cast<int64_t>(width) * height;
    if (width < 0 || height < 0 || count > std::numeric_limits<int32_t>::max() || (count > 0 && !data)) {
        labels_.clear();
        width_ = height_ = pixelCount_ = 0;
        return -1;
    }
    try {
        labels_.resize(static_cast<size_t>(count));
        // Labelling by runs: room for the most runs a frame of this size can have, (width + 1) / 2 a row.
        const size_t most = static_cast<size_t>((width + 1) / 2) * static_cast<size_t>(height);
        if (!recursiveFill && runs_.size() < most) {
            runs_.resize(most);
            links_.resize(most);
        }
    } catch (const std::bad_alloc&) {
        labels_.clear();
        width_ = height_ = pixelCount_ = 0;
        return -1;
    }
    width_ = width;
    height_ = height;
    pixelCount_ = static_cast<int32_t>(count);
    const T* values = static_cast<const T*>(data);
    const T lo = low_, hi = high_;
    int32_t* lbl = labels_.data();
    for (int32_t i = 0; i < pixelCount_; ++i)
        lbl[i] = (values[i] >= lo) & (values[i] <= hi) ? -1 : -2;
    if (!recursiveFill) {
        labelRuns(values);
        return 0;
    }
    for (int32_t i = 0; i < pixelCount_; ++i)
        if (lbl[i] == -1)
            fillDepthFirst(values, i);
    return 0;
}

template <typename T>
template <typename Emit>
void ClusterFind<T>::forEachRun(const int32_t* row, int32_t w, Emit&& emit)
{
    // 64 pixels at a time: a bit per window pixel, then the set bits of the word's transitions, which
    // alternate between the start of a run and the pixel after its end. The branches follow the runs,
    // not the pixels.
    bool inRun = false;
    int32_t left = 0;
    uint64_t carry = 0;
    for (int32_t x0 = 0; x0 < w; x0 += 64) {
        const int32_t n = std::min<int32_t>(64, w - x0);
        const int32_t* p = row + x0;
        uint64_t m = 0;
        int32_t b = 0;
#ifdef __SSE2__
        const __m128i unvisited = _mm_set1_epi32(-1);
        for (; b + 4 <= n; b += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + b));
            const int bits = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, unvisited)));
            m |= static_cast<uint64_t>(bits) << b;
        }
#endif
        for (; b < n; ++b)
            m |= static_cast<uint64_t>(p[b] == -1) << b;
        uint64_t t = m ^ ((m << 1) | carry);
        carry = m >> 63;
        while (t) {
            const int32_t x = x0 + __builtin_ctzll(t);
            t &= t - 1;
            if (!inRun)
                left = x;
            else
                emit(left, x - 1);
            inRun = !inRun;
        }
    }
    if (inRun)
        emit(left, w - 1);
}

template <typename T>
void ClusterFind<T>::labelRuns(const T* data)
{
    // First pass: the runs of window pixels of each row, each joined to the runs of the row above that it
    // touches (union-find whose root is always the component's earliest run, so a link always names an
    // earlier run). label() made room for the most runs the frame can have.
    int32_t* lbl = labels_.data();
    const int32_t w = width_, h = height_;
    Run* runs = runs_.data();
    int32_t* link = links_.data();
    const int32_t reach = eightNeighbours ? 1 : 0;
    auto root = [link](int32_t r) {
        while (link[r] != r) {
            link[r] = link[link[r]]; // path halving
            r = link[r];
        }
        return r;
    };
    int32_t count = 0;
    int32_t above = 0, aboveEnd = 0; // the runs of the row above
    for (int32_t y = 0; y < h; ++y) {
        const int32_t rowStart = count;
        int32_t k = above;
        forEachRun(lbl + static_cast<size_t>(y) * w, w, [&](int32_t left, int32_t right) {
            const int32_t own = count++;
            runs[own] = Run{y, left, right};
            link[own] = own;
            while (k < aboveEnd && runs[k].right < left - reach)
                ++k;
            int32_t ownRoot = own;
            for (int32_t j = k; j < aboveEnd && runs[j].left <= right + reach; ++j) {
                const int32_t r = root(j);
                if (r < ownRoot) {
                    link[ownRoot] = r;
                    ownRoot = r;
                } else if (r > ownRoot) {
                    link[r] = ownRoot;
                }
            }
        });
        above = rowStart;
        aboveEnd = count;
    }
    // Second pass: clusters numbered in the order of their first run (so of their first pixel), their
    // stores sized at once; then each run's pixels labelled and written in raster order. Each link is
    // replaced by its run's cluster: an earlier run's entry already holds its root's.
    runSizes_.clear();
    for (int32_t r = 0; r < count; ++r) {
        if (link[r] == r) {
            link[r] = static_cast<int32_t>(runSizes_.size());
            runSizes_.push_back(0);
        } else {
            link[r] = link[link[r]];
        }
        runSizes_[static_cast<size_t>(link[r])] += runs[r].right - runs[r].left + 1;
    }
    for (int32_t& size : runSizes_) {
        newCluster()->pixels().resize(static_cast<size_t>(size));
        size = 0;
    }
    Cluster<T>* const* clusters = clusters_.data();
    for (int32_t r = 0; r < count; ++r) {
        const Run& run = runs[r];
        const int32_t cluster = link[r];
        const int32_t row = run.y * w;
        std::fill(lbl + row + run.left, lbl + row + run.right + 1, cluster);
        int32_t& at = runSizes_[static_cast<size_t>(cluster)];
        clusters[cluster]->putRun(static_cast<size_t>(at), run.y, row, run.left, run.right, data);
        at += run.right - run.left + 1;
    }
}

template <typename T>
void ClusterFind<T>::fillDepthFirst(const T* data, int32_t seed)
{
    const int32_t own = clusterCount();
    Cluster<T>& c = *newCluster();
    int32_t* lbl = labels_.data();
    const int32_t w = width_, h = height_;
    stack_.clear();
    lbl[seed] = own;
    stack_.push_back(Seed{seed % w, seed / w});
    while (!stack_.empty()) {
        const auto [x, y] = stack_.back();
        stack_.pop_back();
        const int32_t p = y * w + x;
        c.add(x, y, p, data[p]);
        const bool l = x > 0, r = x + 1 < w, a = y > 0, b = y + 1 < h;
        // Pushed in reverse of the visiting order left, right, above, below, above-left, below-left,
        // above-right, below-right, so that they are taken in that order.
        auto visit = [&](bool inside, int32_t dx, int32_t dy) {
            const int32_t q = p + dy * w + dx;
            if (inside && lbl[q] == -1) {
                lbl[q] = own;
                stack_.push_back(Seed{x + dx, y + dy});
            }
        };
        if (eightNeighbours) {
            visit(r && b, 1, 1);
            visit(r && a, 1, -1);
            visit(l && b, -1, 1);
            visit(l && a, -1, -1);
        }
        visit(b, 0, 1);
        visit(a, 0, -1);
        visit(r, 1, 0);
        visit(l, -1, 0);
    }
}

template <typename T>
int ClusterFind<T>::render(void* buffer, int64_t length, int highlight, double highlightValue,
                           ClusterFilter* filter, int32_t* passed, int32_t* failed) const
{
    if (length < pixelCount_ || (length > 0 && !buffer))
        return -1;
    T* out = static_cast<T*>(buffer);
    std::fill(out, out + length, T{});
    int32_t pass = 0;
    forPassing(*this, filter, [&](int i, const ICluster& c) {
        ++pass;
        const T cls = static_cast<T>(c.clusterClass());
        for (const ClusterPixel<T>& p : clusters_[static_cast<size_t>(i)]->pixels())
            out[p.index] = cls;
    });
    if (const Cluster<T>* hc = typedCluster(highlight)) {
        const T value = clampToType<T>(std::isnan(highlightValue) ? 0.0 : highlightValue);
        for (const ClusterPixel<T>& p : hc->pixels())
            out[p.index] = value;
    }
    if (passed)
        *passed = pass;
    if (failed)
        *failed = clusterCount() - pass;
    return 0;
}

template <typename T>
std::string ClusterFind<T>::clusterListLine(int index) const
{
    std::string line;
    const Cluster<T>* c = typedCluster(index);
    if (!c)
        return line;
    for (const ClusterPixel<T>& p : c->pixels()) {
        line += '[';
        appendValue(line, p.x);
        line += ' ';
        appendValue(line, p.y);
        line += ' ';
        appendValue(line, p.value);
        line += "] ";
    }
    return line;
}

template <typename T>
void ClusterFind<T>::mergeInto(int to, int from)
{
    Cluster<T>* target = typedCluster(to);
    Cluster<T>* source = typedCluster(from);
    if (!target || !source || to == from)
        return;
    for (const ClusterPixel<T>& p : source->pixels()) {
        labels_[static_cast<size_t>(p.index)] = to;
        target->add(p.x, p.y, p.index, p.value);
    }
    delete source;
    clusters_[static_cast<size_t>(from)] = nullptr;
}

template <typename T>
void ClusterFind<T>::compact()
{
    auto& list = static_cast<std::vector<Cluster<T>*>&>(clusters_);
    while (!list.empty() && !list.back())
        list.pop_back();
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i])
            continue;
        // The last cluster fills the gap and takes the gap's index in the label map.
        Cluster<T>* moved = list.back();
        list.pop_back();
        list[i] = moved;
        for (const ClusterPixel<T>& p : moved->pixels())
            labels_[static_cast<size_t>(p.index)] = static_cast<int32_t>(i);
        while (!list.empty() && !list.back())
            list.pop_back();
    }
}

template class Cluster<int16_t>;
template class Cluster<uint32_t>;
template class Cluster<double>;
template class ClusterFind<int16_t>;
template class ClusterFind<uint32_t>;
template class ClusterFind<double>;

std::unique_ptr<IClusterFind> makeClusterFind(int frameType)
{
    switch (frameType) {
    case 4:
        return std::make_unique<ClusterFind<int16_t>>();
    case 7:
        return std::make_unique<ClusterFind<uint32_t>>();
    case 9:
        return std::make_unique<ClusterFind<double>>();
    default:
        return nullptr;
    }
}

int clusterFindType(const IClusterFind& finder)
{
    if (dynamic_cast<const ClusterFind<int16_t>*>(&finder))
        return 4;
    if (dynamic_cast<const ClusterFind<uint32_t>*>(&finder))
        return 7;
    return 9;
}
