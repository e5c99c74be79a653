// The frame display model.
#include "picture_data.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <strings.h>

#include "export_text.h"
#include "image_encoders.h"
#include "platform/file_write.h"
#include "pluginfw/tvk_utils.h"

namespace {

constexpr int kTypeDouble = 9;
constexpr int kAttribNotFound = -202;

// Quarter turn of a width x height matrix into dst (height x width). Forward: dst(x, y) = src(width - 1 - y,
// x); otherwise dst(x, y) = src(y, height - 1 - x). In tiles, each destination row written in runs.
template <bool Forward, typename T>
void turnQuarterTiled(const T* src, T* dst, int width, int height)
{
    constexpr int kTile = 16;
    const size_t dw = static_cast<size_t>(height); // the turned matrix's width
    for (int x0 = 0; x0 < width; x0 += kTile) {
        const int x1 = std::min(width, x0 + kTile);
        for (int y0 = 0; y0 < height; y0 += kTile) {
            const int y1 = std::min(height, y0 + kTile);
            for (int x = x0; x < x1; ++x) {
                // Source column x becomes destination row width - 1 - x (forward) or row x.
                T* out = dst + (Forward ? static_cast<size_t>(width - 1 - x) : static_cast<size_t>(x)) * dw;
                const T* in = src + x;
                for (int y = y0; y < y1; ++y)
                    out[Forward ? y : height - 1 - y] = in[static_cast<size_t>(y) * width];
            }
        }
    }
}

template <typename T>
void turnQuarter(const T* src, T* dst, int width, int height, bool forward)
{
    if (forward)
        turnQuarterTiled<true>(src, dst, width, height);
    else
        turnQuarterTiled<false>(src, dst, width, height);
}

template <typename T>
void reverseRows(T* data, int width, int height) // each row reversed
{
    for (int y = 0; y < height; ++y)
        std::reverse(data + static_cast<size_t>(y) * width, data + static_cast<size_t>(y + 1) * width);
}

template <typename T>
void reverseRowOrder(T* data, int width, int height)
{
    for (int y = 0; y < height / 2; ++y)
        std::swap_ranges(data + static_cast<size_t>(y) * width, data + static_cast<size_t>(y + 1) * width,
                         data + static_cast<size_t>(height - 1 - y) * width);
}

// trunc((v - min) / step) clamped into 0..top, computed with the reciprocal: the division is taken only
// where the product lies so near a whole number that the two could round to different sides. NaN gives 0.
inline int stepsFrom(double offset, double step, double inverse, int top)
{
    const double t = offset * inverse;
    if (!(t >= 0))
        return 0;
    if (t >= top + 1.0)
        return top;
    int whole = static_cast<int>(t);
    const double frac = t - whole;
    if (frac < 1e-9 || frac > 1 - 1e-9) [[unlikely]] {
        const double exact = offset / step;
        whole = exact >= 0 ? (exact < top ? static_cast<int>(exact) : top) : 0;
    }
    return whole < top ? whole : top;
}

// stepsFrom for offsets 0 <= offset <= top * step, without a division or a branch per value. The product
// with the reciprocal lies within 1e-12 of the quotient; lowered by 1e-9 it truncates to the quotient's
// step or the one below, and the next step's exact lower edge (the smallest offset whose quotient
// reaches it) settles which. Only for steps with exact() true.
class StepIndex {
public:
    static constexpr int kMaxTop = ColorPalette::kUnderIndex - 1;

    StepIndex(double step, int top) : inverse_(1 / step), top_(top)
    {
        exact_ = top >= 1 && top <= kMaxTop && std::isfinite(step) && step > 0x1p-900 && std::isfinite(inverse_);
        if (!exact_)
            return;
        edge_[0] = -HUGE_VAL;
        for (int k = 1; k <= top; ++k) {
            double x = k * step;
            while (x > 0 && x / step >= k)
                x = std::nextafter(x, 0.0);
            while (x / step < k)
                x = std::nextafter(x, HUGE_VAL);
            edge_[k] = x;
        }
        edge_[top + 1] = HUGE_VAL;
    }
    bool exact() const { return exact_; }
    // For 0 <= offset <= D, where step = D / top as the caller computed it: the product then stays below
    // top * (1 + 4e-16) + 1e-9 (top <= 767), so that k is at most top and needs no clamp.
    int operator()(double offset) const
    {
        const int k = static_cast<int>(offset * inverse_ - 1e-9); // toward zero: -1e-9 gives 0
        assert(k >= 0 && k <= top_);
        return k + (offset >= edge_[k + 1]);
    }

private:
    double inverse_;
    int top_;
    bool exact_;
    double edge_[kMaxTop + 2];
};

// Calls f with the function from offset to step: a StepIndex where it is exact, else stepsFrom (steps
// near the smallest or largest doubles). The loops over pixels are thereby made once for each.
template <typename F>
void withSteps(double step, int top, F&& f)
{
    const StepIndex index(step, top);
    if (index.exact())
        f([&index](double offset) { return index(offset); });
    else
        f([step, top, inverse = 1 / step](double offset) { return stepsFrom(offset, step, inverse, top); });
}

// A display's orientation as strides: display pixel (x, y) is source element base + x * dx + y * dy.
struct Gather {
    ptrdiff_t base, dx, dy;
};

// dst (width x height, row by row) gathered from src, each value divided by divisor when it is not 1.
// Where a display row runs along a source column, in tiles: each tile's source lines stay in the cache.
void gatherValues(const double* src, double* dst, int width, int height, const Gather& g, double divisor)
{
    const bool divide = divisor != 1;
    const int tile = (g.dx == 1 || g.dx == -1) ? width : 16;
    for (int x0 = 0; x0 < width; x0 += tile) {
        const int x1 = std::min(width, x0 + tile);
        for (int y = 0; y < height; ++y) {
            const double* in = src + g.base + y * g.dy;
            double* out = dst + static_cast<size_t>(y) * width;
            if (divide)
                for (int x = x0; x < x1; ++x)
                    out[x] = in[x * g.dx] / divisor;
            else
                for (int x = x0; x < x1; ++x)
                    out[x] = in[x * g.dx];
        }
    }
}

bool isEmpty(const PixelRect& r)
{
    return r.w <= 0 || r.h <= 0;
}

} // namespace

// ---- histograms and regions ----

void RegionHistogram::build(const RegionSource& s, const PixelRect& r, double min, double max)
{
    if (valid_ && min == min_ && max == max_)
        return;
    std::fill(bins_.begin(), bins_.end(), 0.0);
    counted_ = 0;
    min_ = min;
    max_ = max;
    valid_ = true;
    const double width = (max - min) / (kBinCount - 1);
    if (!(width > 0) || !std::isfinite(width) || !s.values)
        return;
    // Four partial counts, one for each pixel x % 4: pixels of one bin in a row do not wait for each
    // other's increment.
    uint32_t parts[4][kBinCount] = {};
    withSteps(width, kBinCount - 1, [&](const auto& index) {
        auto take = [&](uint32_t* part, double a) {
            if (a >= min && a <= max) [[likely]] // not outside, not NaN
                ++part[index(a - min)];
        };
        for (int y = r.y; y < r.y + r.h; ++y) {
            const size_t row = static_cast<size_t>(y) * s.width + r.x;
            const double* v = s.values + row;
            const uint8_t* m = s.mask ? s.mask + row : nullptr;
            int x = 0;
            if (!m) {
                for (; x + 4 <= r.w; x += 4) {
                    take(parts[0], v[x]);
                    take(parts[1], v[x + 1]);
                    take(parts[2], v[x + 2]);
                    take(parts[3], v[x + 3]);
                }
            }
            for (; x < r.w; ++x)
                if (!m || m[x])
                    take(parts[x & 3], v[x]);
        }
    });
    uint32_t counted = 0;
    for (int b = 0; b < kBinCount; ++b) {
        const uint32_t n = parts[0][b] + parts[1][b] + parts[2][b] + parts[3][b];
        bins_[static_cast<size_t>(b)] = n;
        counted += n;
    }
    counted_ = static_cast<int>(counted);
}

double RegionHistogram::fractile(double p) const
{
    if (p >= 1)
        return max_;
    if (!(p > 0))
        return min_;
    const double d = (max_ - min_) / (kBinCount - 1);
    if (!(d > 0))
        return min_;
    // An infinite end leaves no bins to walk (nothing was binned): the nearer end, never min + inf x 0.
    if (!std::isfinite(d))
        return p <= 0.5 ? min_ : max_;
    const double t = p * counted_;
    if (p <= 0.5) {
        double sum = 0;
        int i = 0;
        while (i < kBinCount && sum < t)
            sum += bins_[static_cast<size_t>(i++)];
        if (i > 0 && sum - t > t - (sum - bins_[static_cast<size_t>(i - 1)]))
            return min_ + d * (i - 1);
        return min_ + d * i;
    }
    const double u = counted_ - t;
    int i = kBinCount - 1;
    double sum = bins_[static_cast<size_t>(i)];
    while (sum < u && i > 0)
        sum += bins_[static_cast<size_t>(--i)];
    // The nearer edge of the last bin added: its top when the sum without it falls short by more.
    if (i < kBinCount - 1 && sum - u > u - (sum - bins_[static_cast<size_t>(i)]))
        return min_ + d * (i + 1);
    return min_ + d * i;
}

RegionSource SelectionRegion::source() const
{
    RegionSource s;
    s.values = model_->values_.data();
    s.mask = model_->mask();
    s.width = model_->width_;
    s.height = model_->height_;
    return s;
}

bool SelectionRegion::setRect(int x, int y, int w, int h)
{
    const int64_t W = model_->width_, H = model_->height_;
    if (x < 0 || y < 0 || w < 0 || h < 0 || int64_t(x) + w > W || int64_t(y) + h > H)
        return false;
    rect_ = {x, y, w, h};
    invalidate();
    return true;
}

void SelectionRegion::invalidate()
{
    statsValid_ = false;
    display_.invalidate();
    fractiles_.invalidate();
}

void SelectionRegion::computeStats()
{
    if (statsValid_)
        return;
    const RegionSource s = source();
    // Four lanes of running sums, minima and maxima (lane k takes the pixels x with x % 4 == k of the
    // unmasked rows), so that neighbouring pixels do not wait for one another and the lanes go through
    // vector registers. The sums of squares are taken relative to the first value: a constant region then
    // has a variance of exactly 0.
    // Lanes in pairs of the width of an SSE2 register: lo holds lanes 0 and 1, hi lanes 2 and 3.
    typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
    struct Lanes {
        Pair lo, hi;
    };
    Lanes mn = {{1e300, 1e300}, {1e300, 1e300}}, mx = {{-1e300, -1e300}, {-1e300, -1e300}};
    Lanes total = {}, sum = {}, sumSq = {};
    double ref = 0;
    int64_t n = 0;
    bool first = true;
    auto take = [](Lanes& l, const Pair& a, const Pair& b, auto op) {
        l.lo = op(l.lo, a);
        l.hi = op(l.hi, b);
    };
    for (int y = rect_.y; y < rect_.y + rect_.h; ++y) {
        const size_t row = static_cast<size_t>(y) * s.width + rect_.x;
        const double* v = s.values + row;
        const uint8_t* m = s.mask ? s.mask + row : nullptr;
        int x = 0;
        if (!m && rect_.w > 0) {
            if (first) {
                ref = v[0];
                first = false;
            }
            const Pair refs = {ref, ref};
            for (; x + 4 <= rect_.w; x += 4) {
                Pair a, b;
                std::memcpy(&a, v + x, sizeof a);
                std::memcpy(&b, v + x + 2, sizeof b);
                take(mn, a, b, [](Pair l, Pair p) { return p < l ? p : l; });
                take(mx, a, b, [](Pair l, Pair p) { return p > l ? p : l; });
                take(total, a, b, [](Pair l, Pair p) { return l + p; });
                const Pair da = a - refs, db = b - refs;
                take(sum, da, db, [](Pair l, Pair p) { return l + p; });
                take(sumSq, da * da, db * db, [](Pair l, Pair p) { return l + p; });
            }
            n += x;
        }
        for (; x < rect_.w; ++x) {
            if (m && !m[x])
                continue;
            const double a = v[x];
            if (first) {
                ref = a;
                first = false;
            }
            ++n;
            mn.lo[0] = a < mn.lo[0] ? a : mn.lo[0];
            mx.lo[0] = a > mx.lo[0] ? a : mx.lo[0];
            total.lo[0] += a;
            const double d = a - ref;
            sum.lo[0] += d;
            sumSq.lo[0] += d * d;
        }
    }
    const double lows[4] = {mn.lo[0], mn.lo[1], mn.hi[0], mn.hi[1]};
    const double highs[4] = {mx.lo[0], mx.lo[1], mx.hi[0], mx.hi[1]};
    double low = lows[0], high = highs[0];
    for (int k = 1; k < 4; ++k) {
        low = lows[k] < low ? lows[k] : low;
        high = highs[k] > high ? highs[k] : high;
    }
    auto add = [](const Lanes& l) { return (l.lo[0] + l.lo[1]) + (l.hi[0] + l.hi[1]); };
    if (n == 0) {
        min_ = max_ = total_ = mean_ = stdDev_ = 0;
    } else {
        const double count = static_cast<double>(n);
        min_ = low;
        max_ = high;
        total_ = add(total);
        mean_ = total_ / count;
        const double shift = add(sum) / count;
        double variance = add(sumSq) / count - shift * shift;
        if (variance < 0)
            variance = 0; // rounding of a (nearly) constant region
        stdDev_ = std::sqrt(variance);
    }
    statsValid_ = true;
}

double SelectionRegion::min() { computeStats(); return min_; }
double SelectionRegion::max() { computeStats(); return max_; }
double SelectionRegion::total() { computeStats(); return total_; }
double SelectionRegion::mean() { computeStats(); return mean_; }
double SelectionRegion::stdDev() { computeStats(); return stdDev_; }

const RegionHistogram& SelectionRegion::displayHistogram(double min, double max)
{
    display_.build(source(), rect_, min, max);
    return display_;
}

double SelectionRegion::fractile(double p)
{
    computeStats();
    fractiles_.build(source(), rect_, min_, max_);
    return fractiles_.fractile(p);
}

// ---- the model ----

PictureData::PictureData(const _MgrFuncTable* mgr) : mgr_(mgr)
{
    regions_.push_back(std::unique_ptr<SelectionRegion>(new SelectionRegion(this)));
}

PictureData::~PictureData()
{
    closeIfOwned(frameId_, holdsFrame_);
}

void PictureData::message(const std::string& text) const
{
    if (picture_)
        picture_->showMessage(text);
    else if (messageHandler_)
        messageHandler_(text);
}

void PictureData::closeIfOwned(uint32_t id, bool owned) const
{
    if (owned && id && mgr_ && mgr_->mgrCloseFrame)
        mgr_->mgrCloseFrame(id, nullptr);
}

void PictureData::statsStale()
{
    for (auto& r : regions_)
        r->invalidate();
}

SelectionRegion* PictureData::region(int i)
{
    if (i < 0 || i >= regionCount())
        return nullptr;
    return regions_[static_cast<size_t>(i)].get();
}

int PictureData::bindDevice(int devIndex)
{
    if (devIndex == -1 || !mgr_ || !mgr_->tvkCtrlGetDevInfo)
        return -1;
    _DevInfo info{};
    if (mgr_->tvkCtrlGetDevInfo(static_cast<unsigned>(devIndex), &info) != 0)
        return -1;
    if (info.rowLength < 0 || info.pixelCount < 0)
        return -1;
    devIndex_ = devIndex;
    const int w = info.rowLength;
    const int h = w ? info.pixelCount / w : 0;
    return setSize(w, h);
}

int PictureData::allocImage()
{
    rgb_.reset();
    rgbSize_ = 0;
    rgbStride_ = 0;
    rgbWidth_ = rgbHeight_ = 0;
    if (!picture_ || width_ <= 0 || height_ <= 0)
        return 0;
    const int stride = (3 * width_ + 3) & ~3;
    const size_t size = static_cast<size_t>(stride) * static_cast<size_t>(height_);
    std::shared_ptr<uint8_t[]> bits(new (std::nothrow) uint8_t[size]);
    if (!bits) {
        message("Memory allocation error");
        return -1;
    }
    std::memset(bits.get(), 0, size);
    rgb_ = std::move(bits);
    rgbSize_ = size;
    rgbStride_ = stride;
    rgbWidth_ = width_;
    rgbHeight_ = height_;
    return 0;
}

int PictureData::reshapeImage()
{
    if (!picture_ || (width_ == rgbWidth_ && height_ == rgbHeight_))
        return 0;
    const int result = allocImage();
    handImage(false);
    return result;
}

void PictureData::handImage(bool resetZoom)
{
    if (!picture_)
        return;
    if (rgb_)
        picture_->setImage(width_, height_, rgb_, rgbStride_, resetZoom);
    else
        picture_->setImage(0, 0, nullptr, 0, resetZoom);
}

int PictureData::setSize(int width, int height)
{
    if (width < 0 || height < 0 || int64_t(width) * height >= kMaxPixels)
        return -1;
    std::vector<double> values;
    std::unique_ptr<SelectionRegion> whole;
    try {
        values.assign(static_cast<size_t>(width) * height, 0.0);
        whole.reset(new SelectionRegion(this));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    const int oldW = width_, oldH = height_;
    values_.swap(values);
    width_ = width;
    height_ = height;
    if (allocImage() != 0) {
        values_.swap(values);
        width_ = oldW;
        height_ = oldH;
        allocImage();
        return -1;
    }
    if (width != oldW || height != oldH) {
        mask_.clear();
        maskOn_ = false;
    }
    regions_.clear();
    regions_.push_back(std::move(whole));
    regions_[0]->rect_ = {0, 0, width, height};
    sizeChanged_ = true;
    statsStale();
    handImage(true);
    return 0;
}

int PictureData::addRegions(int n)
{
    try {
        for (int i = 0; i < n; ++i) {
            regions_.push_back(std::unique_ptr<SelectionRegion>(new SelectionRegion(this)));
            regions_.back()->rect_ = {0, 0, width_, height_};
        }
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

int PictureData::showFrame(uint32_t id)
{
    if (!mgr_ || !mgr_->mgrGetFrameSize || !mgr_->mgrGetFrameData)
        return -1;
    uint32_t shown = id;
    bool owns = false;
    if (filterChainId_ && mgr_->mgrGetFilteredFrame) {
        uint32_t copy = 0;
        if (mgr_->mgrGetFilteredFrame(filterChainId_, id, &copy) == 0 && copy) {
            shown = copy;
            owns = true;
        }
    }
    // Another's frame (a device's last frame, replaced at its next acquisition) is held by a reference
    // while it is shown, so that reading it and writing its "Preview range" find it even when its owner
    // lets go of it meanwhile.
    if (!owns && mgr_->mgrOpenFrame && mgr_->mgrCloseFrame) {
        if (mgr_->mgrOpenFrame(shown, nullptr) != 0)
            return -1;
        owns = true;
    }
    // Everything that can fail comes before anything of the model changes.
    auto fail = [&] {
        closeIfOwned(shown, owns);
        return -1;
    };
    uint32_t fw = 0, fh = 0;
    if (mgr_->mgrGetFrameSize(shown, &fw, &fh) != 0 || fw > INT_MAX || fh > INT_MAX ||
        uint64_t(fw) * fh >= uint64_t(kMaxPixels))
        return fail();
    std::vector<double>& data = fetched_;
    try {
        data.resize(size_t(fw) * fh);
    } catch (const std::bad_alloc&) {
        return fail();
    }
    uint32_t bytes = static_cast<uint32_t>(data.size() * sizeof(double));
    if (mgr_->mgrGetFrameData(shown, data.data(), &bytes, kTypeDouble) != 0)
        return fail();

    const bool quarter = rotation_ == 90 || rotation_ == 270;
    const int frameW = quarter ? height_ : width_, frameH = quarter ? width_ : height_;
    int flags = 0;
    if (int(fw) != frameW || int(fh) != frameH) {
        const int count = regionCount();
        const int oldRotation = rotation_;
        rotation_ = 0; // setSize takes frame orientation; the turn below restores the display's
        if (setSize(int(fw), int(fh)) != 0) {
            rotation_ = oldRotation;
            return fail();
        }
        rotation_ = oldRotation;
        // The mask was the old frame's; setSize keeps it when the new frame's size equals the turned display's.
        mask_.clear();
        maskOn_ = false;
        addRegions(count - 1);
        flags = RegionsFollowRotation | RegionsFollowMirror;
    }

    closeIfOwned(frameId_, holdsFrame_); // the reference taken when it was shown, also for the same id
    frameId_ = shown;
    holdsFrame_ = owns;

    if (mgr_->mgrGetFrameAttrib) {
        double acq = 0;
        uint32_t size = sizeof acq;
        int type = -1;
        hasAcqTime_ = mgr_->mgrGetFrameAttrib(shown, "Acq time", &acq, &size, &type) == 0 && type == kTypeDouble &&
                      size == sizeof acq;
        if (hasAcqTime_)
            acqTime_ = acq;
        if (loadFrameRange_) {
            double range[2] = {0, 0};
            size = sizeof range;
            hasFrameRange_ = mgr_->mgrGetFrameAttrib(shown, "Preview range", range, &size, &type) == 0 &&
                             type == kTypeDouble && size == sizeof range;
            if (hasFrameRange_) {
                rangeMin_ = range[0];
                rangeMax_ = range[1];
            }
        }
    } else {
        hasAcqTime_ = false;
    }
    const double divisor = countRate_ && hasAcqTime_ && acqTime_ != 0 ? acqTime_ : 1;
    statsStale();

    if (flags == 0) {
        // The size is kept, and with it regions, mask and image: the values go into the display's
        // orientation in one pass.
        if (rotation_ == 0 && !mirrored_ && divisor == 1) {
            values_.swap(data);
        } else {
            Gather g;
            displayStrides(g.base, g.dx, g.dy);
            gatherValues(data.data(), values_.data(), width_, height_, g, divisor);
        }
        return 0;
    }

    // A new size: the data, in frame orientation, is turned back into the display's with the regions.
    values_.swap(data);
    width_ = int(fw);
    height_ = int(fh);
    const int rotation = rotation_;
    const bool mirrored = mirrored_;
    rotation_ = 0;
    mirrorAxisRows_ = true;
    mirrored_ = false;
    transformFlags_ = flags;
    int result = setRotation(rotation);
    if (result == 0 && mirrored)
        toggleMirror();
    transformFlags_ = AllFollow;
    if (result != 0) { // no memory for the turn: show it unturned rather than wrongly
        rotation_ = 0;
        handImage(true);
    }

    if (divisor != 1)
        for (double& v : values_)
            v /= divisor;
    statsStale();
    return 0;
}

int PictureData::loadFrameFile(const char* path, uint32_t* loadedId)
{
    if (loadedId)
        *loadedId = 0;
    uint32_t id = 0;
    if (!path || !mgr_ || !mgr_->mgrLoadFrame || mgr_->mgrLoadFrame(&id, path) != 0 || showFrame(id) != 0) {
        if (id && mgr_ && mgr_->mgrCloseFrame)
            mgr_->mgrCloseFrame(id, nullptr);
        message("Reading frame from file \"" + std::string(path ? path : "") + "\" failed");
        return -1;
    }
    if (loadedId)
        *loadedId = id;
    return 0;
}

void PictureData::setPicture(PictureView* picture)
{
    if (picture_ == picture)
        return;
    if (picture_)
        picture_->setImage(0, 0, nullptr, 0, true);
    picture_ = picture;
    allocImage();
    if (!picture_)
        return;
    picture_->setColorPalette(palette_.get());
    handImage(true);
    if (!values_.empty())
        renderImage();
}

void PictureData::renderImage()
{
    if (!picture_ || !rgb_ || !palette_)
        return;
    const double min = rangeMin_, max = rangeMax_;
    uint8_t* bits = rgb_.get();
    if (!(max > min)) { // also NaN bounds
        std::memset(bits, 0, rgbSize_);
    } else {
        const int colors = palette_->colorCount();
        const int top = colors - 1;
        const int under = underWarning_ ? ColorPalette::kUnderIndex : 0;
        const int over = overWarning_ ? ColorPalette::kOverIndex : top;
        // The colours as 32-bit words (blue in the low byte): four pixels make three aligned words. The
        // rest of a row goes a pixel at a time.
        uint32_t lut[ColorPalette::kEntries];
        for (int i = 0; i < ColorPalette::kEntries; ++i) {
            const uint8_t* c = palette_->entry(i);
            lut[i] = uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16;
        }
        const uint8_t* mask = this->mask();
        const int width = width_, height = height_;
        withSteps((max - min) / top, top, [&](const auto& index) {
            for (int r = 0; r < height; ++r) {
                const size_t row = static_cast<size_t>(height - 1 - r) * width; // row 0 at the bottom
                const double* v = values_.data() + row;
                const uint8_t* m = mask ? mask + row : nullptr;
                uint8_t* out = bits + static_cast<size_t>(r) * rgbStride_;
                auto entryOf = [&](int x) {
                    const double a = v[x];
                    if (a >= min && a < max) [[likely]]
                        return index(a - min);
                    return !(a >= min) ? under : a > max ? over : top; // below, -inf or NaN; above; max
                };
                int x = 0;
                if constexpr (std::endian::native == std::endian::little) {
                    for (; x + 4 <= width; x += 4, out += 12) {
                        const uint32_t p0 = lut[entryOf(x)], p1 = lut[entryOf(x + 1)];
                        const uint32_t p2 = lut[entryOf(x + 2)], p3 = lut[entryOf(x + 3)];
                        const uint32_t w0 = p0 | p1 << 24, w1 = p1 >> 8 | p2 << 16, w2 = p2 >> 16 | p3 << 8;
                        std::memcpy(out, &w0, 4);
                        std::memcpy(out + 4, &w1, 4);
                        std::memcpy(out + 8, &w2, 4);
                    }
                }
                for (; x < width; ++x, out += 3) {
                    const uint32_t c = lut[entryOf(x)];
                    out[0] = uint8_t(c);
                    out[1] = uint8_t(c >> 8);
                    out[2] = uint8_t(c >> 16);
                }
                // Masked pixels afterwards: the loop above tests no mask.
                for (x = 0; m && x < width; ++x)
                    if (!m[x])
                        std::memcpy(bits + static_cast<size_t>(r) * rgbStride_ + 3 * x,
                                    palette_->entry(ColorPalette::kMaskedIndex), 3);
            }
        });
    }
    picture_->setLevels(min, max);
    picture_->repaintNow();
}

int PictureData::setRange(double min, double max, bool underWarning, bool overWarning)
{
    rangeMin_ = min;
    rangeMax_ = max;
    underWarning_ = underWarning;
    overWarning_ = overWarning;
    renderImage();
    if (!frameId_ || !saveFrameRange_ || !mgr_ || !mgr_->mgrSetFrameAttrib || !mgr_->mgrAddFrameAttrib)
        return 0;
    const double range[2] = {min, max};
    int result = mgr_->mgrSetFrameAttrib(frameId_, "Preview range", range, sizeof range);
    if (result == kAttribNotFound)
        result = mgr_->mgrAddFrameAttrib(frameId_, "Preview range", "Range for preview window", kTypeDouble, range, 2);
    return result;
}

int PictureData::setColorMap(int type)
{
    if (type == 4) {
        palette_.reset();
    } else if (type >= 0 && type <= 3) {
        if (!palette_) {
            palette_.reset(new (std::nothrow) ColorPalette(type));
            if (!palette_)
                return -1;
        } else {
            palette_->setType(type);
        }
    } else {
        return -1;
    }
    if (picture_)
        picture_->setColorPalette(palette_.get());
    return 0;
}

// ---- orientation ----

void PictureData::transformRects(const std::function<PixelRect(const PixelRect&)>& f, bool regions)
{
    if (!regions)
        return;
    for (auto& r : regions_)
        if (!isEmpty(r->rect_)) {
            r->rect_ = f(r->rect_);
            r->invalidate();
        }
    if (picture_) {
        const PixelRect zoom = picture_->zoom(), selection = picture_->selection();
        picture_->setZoomAndSelection(isEmpty(zoom) ? zoom : f(zoom), isEmpty(selection) ? selection : f(selection));
    }
}

int PictureData::quarterTurn(bool forward, int flags)
{
    const int W = width_, H = height_;
    std::vector<double>& turned = turned_;
    std::vector<uint8_t> turnedMask;
    const bool turnMask = maskOn_ && (flags & MaskFollowsRotation);
    try {
        turned.resize(values_.size());
        if (turnMask)
            turnedMask.resize(mask_.size());
    } catch (const std::bad_alloc&) {
        return -1;
    }
    turnQuarter(values_.data(), turned.data(), W, H, forward);
    if (turnMask)
        turnQuarter(mask_.data(), turnedMask.data(), W, H, forward);
    values_.swap(turned);
    if (turnMask)
        mask_.swap(turnedMask);
    rotation_ = (rotation_ + (forward ? 90 : 270)) % 360;
    width_ = H;
    height_ = W;
    mirrorAxisRows_ = !mirrorAxisRows_;
    statsStale();
    // The image buffer takes the new shape (a 1000 x 1 frame turned needs 1000 rows of 4 bytes).
    if (reshapeImage() != 0)
        return -1;
    if (forward)
        transformRects([W](const PixelRect& r) { return PixelRect{r.y, W - r.x - r.w, r.h, r.w}; },
                       flags & RegionsFollowRotation);
    else
        transformRects([H](const PixelRect& r) { return PixelRect{H - r.y - r.h, r.x, r.h, r.w}; },
                       flags & RegionsFollowRotation);
    return 0;
}

void PictureData::halfTurn(int flags)
{
    std::reverse(values_.begin(), values_.end());
    if (maskOn_ && (flags & MaskFollowsRotation))
        std::reverse(mask_.begin(), mask_.end());
    rotation_ = (rotation_ + 180) % 360;
    statsStale();
    const int W = width_, H = height_;
    transformRects([W, H](const PixelRect& r) { return PixelRect{W - r.x - r.w, H - r.y - r.h, r.w, r.h}; },
                   flags & RegionsFollowRotation);
}

int PictureData::setRotation(int angle)
{
    const int flags = transformFlags_;
    switch (angle - rotation_) {
    case 0:
        return 0;
    case 90:
    case -270:
        return quarterTurn(true, flags);
    case 180:
    case -180:
        halfTurn(flags);
        return 0;
    case 270:
    case -90:
        return quarterTurn(false, flags);
    default:
        return -1;
    }
}

void PictureData::mirrorStep(int flags)
{
    const int W = width_, H = height_;
    const bool mirrorMask = maskOn_ && (flags & MaskFollowsMirror);
    if (mirrorAxisRows_) {
        reverseRows(values_.data(), W, H);
        if (mirrorMask)
            reverseRows(mask_.data(), W, H);
        transformRects([W](const PixelRect& r) { return PixelRect{W - r.x - r.w, r.y, r.w, r.h}; },
                       flags & RegionsFollowMirror);
    } else {
        reverseRowOrder(values_.data(), W, H);
        if (mirrorMask)
            reverseRowOrder(mask_.data(), W, H);
        transformRects([H](const PixelRect& r) { return PixelRect{r.x, H - r.y - r.h, r.w, r.h}; },
                       flags & RegionsFollowMirror);
    }
    statsStale();
}

int PictureData::toggleMirror()
{
    mirrored_ = !mirrored_;
    mirrorStep(transformFlags_);
    return 0;
}

void PictureData::toFramePoint(int& x, int& y) const
{
    const int W = width_, H = height_;
    int fx = x, fy = y;
    switch (rotation_) {
    case 90: fx = H - y - 1; fy = x; break;
    case 180: fx = W - x - 1; fy = H - y - 1; break;
    case 270: fx = y; fy = W - x - 1; break;
    default: break;
    }
    if (mirrored_)
        fx = ((rotation_ == 90 || rotation_ == 270) ? H : W) - fx - 1;
    x = fx;
    y = fy;
}

void PictureData::toFrameRect(int& x, int& y, int& w, int& h) const
{
    const int W = width_, H = height_;
    PixelRect r{x, y, w, h};
    switch (rotation_) {
    case 90: r = {H - y - h, x, h, w}; break;
    case 180: r = {W - x - w, H - y - h, w, h}; break;
    case 270: r = {y, W - x - w, h, w}; break;
    default: break;
    }
    if (mirrored_)
        r.x = ((rotation_ == 90 || rotation_ == 270) ? H : W) - r.x - r.w;
    x = r.x;
    y = r.y;
    w = r.w;
    h = r.h;
}

void PictureData::displayStrides(ptrdiff_t& base, ptrdiff_t& dx, ptrdiff_t& dy) const
{
    const int frameW = (rotation_ == 90 || rotation_ == 270) ? height_ : width_;
    auto at = [&](int x, int y) {
        toFramePoint(x, y);
        return static_cast<ptrdiff_t>(y) * frameW + x;
    };
    base = at(0, 0);
    dx = at(1, 0) - base;
    dy = at(0, 1) - base;
}

void PictureData::getFrameData(double* dst) const
{
    const bool quarter = rotation_ == 90 || rotation_ == 270;
    const int frameW = quarter ? height_ : width_;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            int fx = x, fy = y;
            toFramePoint(fx, fy);
            dst[static_cast<size_t>(fy) * frameW + fx] = values_[static_cast<size_t>(y) * width_ + x];
        }
}

int PictureData::setMask(const uint16_t* src, bool enable, size_t count)
{
    if (!enable) {
        mask_.clear();
        maskOn_ = false;
        statsStale();
        return 0;
    }
    if (!src || count != values_.size() || count == 0)
        return -1;
    std::vector<uint8_t> mask;
    try {
        mask.resize(count);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    const bool quarter = rotation_ == 90 || rotation_ == 270;
    const int frameW = quarter ? height_ : width_;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            int fx = x, fy = y;
            toFramePoint(fx, fy);
            mask[static_cast<size_t>(y) * width_ + x] =
                static_cast<uint8_t>(src[static_cast<size_t>(fy) * frameW + fx] & 0xFF);
        }
    mask_.swap(mask);
    maskOn_ = true;
    statsStale();
    return 0;
}

// ---- statistics ----

double PictureData::getRegionMin(int i)
{
    SelectionRegion* r = region(i);
    return r ? r->min() : 0;
}

double PictureData::getRegionMax(int i)
{
    SelectionRegion* r = region(i);
    return r ? r->max() : 0;
}

double PictureData::getRegionFractile(double p, int i)
{
    SelectionRegion* r = region(i);
    return r ? r->fractile(p) : 0;
}

// ---- saving ----

int PictureData::saveImage(const char* path, int width, int height, int sizeMode, int flags)
{
    if (!picture_)
        return -1;
    const char* ext = getFileExtension(path);
    int result;
    if (ext && strcasecmp(ext, "svg") == 0)
        result = picture_->saveEmf(path, width, height, sizeMode, flags);
    else if (ext && strcasecmp(ext, "emf") == 0)
        result = -2; // no metafile writer here: refused rather than written as text
    else if (hasImageEncoder(path) == 0)
        result = picture_->saveBitmap(path, width, height, sizeMode, flags);
    else
        return saveText(path);
    if (result != 0)
        message("Saving of image file failed.");
    return result;
}

int PictureData::saveText(const char* path)
{
    if (!path)
        return -1;
    plat::AtomicFileWriter file(path);
    std::string error;
    if (file.open(&error) != 0) {
        message(error);
        return -1;
    }
    std::string line;
    for (int y = 0; y < height_; ++y) {
        line.clear();
        for (int x = 0; x < width_; ++x) {
            line += exactTextG(values_[static_cast<size_t>(y) * width_ + x]);
            line += x + 1 < width_ ? ' ' : '\n';
        }
        if (!file.write(line))
            break;
    }
    if (file.commit(&error) != 0) {
        message(error);
        return -1;
    }
    return 0;
}
