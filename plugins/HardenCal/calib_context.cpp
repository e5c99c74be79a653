// The calibration context: device arrays, points, settings, correction, filling and statistics.
#include "calib_context.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "calib_curves.h"
#include "calib_impl.h"
#include "pluginfw/file_names.h"

namespace hcal {

namespace {

std::atomic<size_t> gAllocationLimit{0};
std::atomic<int> gPointLimit{kMaxPoints};

// sqrt of counts, 0 where there are (almost) none.
double poissonSigma(double counts)
{
    return counts > 1e-200 ? std::sqrt(counts) : 0.0;
}

// poissonSigma of a whole frame, the same bits. Two roots at a time where the processor has the
// instructions: one root at a time, a frame's took about half as long as a logarithm per pixel.
void poissonSigmas(const double* counts, double* sigma, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128d floor = _mm_set1_pd(1e-200);
    for (; i + 2 <= n; i += 2) {
        const __m128d v = _mm_loadu_pd(counts + i);
        // The root where above the floor, else 0 (NaN included, whose compare is false).
        _mm_storeu_pd(sigma + i, _mm_and_pd(_mm_sqrt_pd(v), _mm_cmpgt_pd(v, floor)));
    }
#endif
    for (; i < n; ++i)
        sigma[i] = poissonSigma(counts[i]);
}

} // namespace

int methodParamCount(int method)
{
    return method == kLinear ? 2 : 3;
}

template <class T>
static bool allocateVector(std::vector<T>& v, size_t count)
{
    const size_t limit = gAllocationLimit.load();
    if (limit != 0 && count * sizeof(T) > limit)
        return false;
    try {
        std::vector<T> fresh(count);
        v.swap(fresh);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

bool allocateArray(std::vector<double>& v, size_t count)
{
    return allocateVector(v, count);
}

bool allocateMask(std::vector<uint8_t>& v, size_t count)
{
    return allocateVector(v, count);
}

void CalibContext::setPointLimitForTests(int points)
{
    gPointLimit.store(points > 0 && points < kMaxPoints ? points : kMaxPoints);
}

void CalibContext::setAllocationLimitForTests(size_t bytes)
{
    gAllocationLimit.store(bytes);
}

CalibContext::CalibContext(LogSink log) : d_(std::make_unique<Impl>(std::move(log))) {}

CalibContext::~CalibContext() = default;

// ---- device ----

Status CalibContext::bind(int devId, const DeviceShape& shape)
{
    std::lock_guard lock(d_->mutex);
    if (shape.chips <= 0 || shape.rows <= 0 || shape.chips % shape.rows != 0 || shape.chips > INT_MAX / kChipPixels) {
        d_->message("Error initializing calibration - Invalid device shape (chips: " + std::to_string(shape.chips) +
                    ", rows: " + std::to_string(shape.rows) + ")");
        return Status::refused;
    }
    const size_t pixels = static_cast<size_t>(shape.chips) * kChipPixels;
    std::vector<double> input, inputSigma, corrected, error;
    std::vector<uint8_t> mask;
    if (!allocateArray(input, pixels) || !allocateArray(inputSigma, pixels) || !allocateArray(corrected, pixels) ||
        !allocateArray(error, pixels) || !allocateMask(mask, pixels)) {
        d_->message("Error initializing calibration - Couldn't allocate memory for buffers");
        return Status::noMemory;
    }
    std::fill(mask.begin(), mask.end(), uint8_t{1});
    Impl& c = *d_;
    c.devId = devId;
    c.shape = shape;
    c.pixels = static_cast<int>(pixels);
    c.width = kChipSide * (shape.chips / shape.rows);
    c.height = kChipSide * shape.rows;
    c.input.swap(input);
    c.inputSigma.swap(inputSigma);
    c.corrected.swap(corrected);
    c.error.swap(error);
    c.mask.swap(mask);
    c.inputTime = 1.0;
    c.points.clear();
    c.selected = -1;
    c.profilePath.clear();
    c.modified = false;
    c.invalidateFit();
    return Status::ok;
}

int CalibContext::devId() const
{
    std::lock_guard lock(d_->mutex);
    return d_->devId;
}

DeviceShape CalibContext::shape() const
{
    std::lock_guard lock(d_->mutex);
    return d_->shape;
}

int CalibContext::pixelCount() const
{
    std::lock_guard lock(d_->mutex);
    return d_->pixels;
}

int CalibContext::width() const
{
    std::lock_guard lock(d_->mutex);
    return d_->width;
}

int CalibContext::height() const
{
    std::lock_guard lock(d_->mutex);
    return d_->height;
}

// ---- settings ----

int CalibContext::method() const
{
    std::lock_guard lock(d_->mutex);
    return d_->method;
}

bool CalibContext::setMethod(int method)
{
    if (method < 0 || method >= kMethodCount)
        return false;
    std::lock_guard lock(d_->mutex);
    if (d_->method != method) {
        d_->method = method;
        d_->modified = true;
        d_->invalidateFit(); // another method marks other pixels bad
    }
    return true;
}

bool CalibContext::extrapolate() const
{
    std::lock_guard lock(d_->mutex);
    return d_->extrapolate;
}

void CalibContext::setExtrapolate(bool on)
{
    std::lock_guard lock(d_->mutex);
    if (d_->extrapolate != on)
        d_->resultValid = false;
    d_->extrapolate = on;
}

bool CalibContext::errorByDerivative() const
{
    std::lock_guard lock(d_->mutex);
    return d_->errorByDerivative;
}

void CalibContext::setErrorByDerivative(bool on)
{
    std::lock_guard lock(d_->mutex);
    if (d_->errorByDerivative != on)
        d_->resultValid = false;
    d_->errorByDerivative = on;
}

bool CalibContext::fillBadPixels() const
{
    std::lock_guard lock(d_->mutex);
    return d_->fillBadPixels;
}

void CalibContext::setFillBadPixels(bool on)
{
    std::lock_guard lock(d_->mutex);
    if (d_->fillBadPixels != on)
        d_->resultValid = false;
    d_->fillBadPixels = on;
}

bool CalibContext::modified() const
{
    std::lock_guard lock(d_->mutex);
    return d_->modified;
}

int CalibContext::selectedPoint() const
{
    std::lock_guard lock(d_->mutex);
    return d_->selected;
}

void CalibContext::selectPoint(int index)
{
    std::lock_guard lock(d_->mutex);
    d_->selected = index >= 0 && index < static_cast<int>(d_->points.size()) ? index : -1;
}

// ---- points ----

int CalibContext::Impl::findPoint(double thickness) const
{
    for (size_t i = 0; i < points.size(); ++i)
        if (points[i]->thickness == thickness)
            return static_cast<int>(i);
    return -1;
}

int CalibContext::Impl::insertPoint(std::unique_ptr<Point> p)
{
    const auto at = std::upper_bound(points.begin(), points.end(), p->thickness,
                                     [](double t, const std::unique_ptr<Point>& q) { return t < q->thickness; });
    const int index = static_cast<int>(at - points.begin());
    points.insert(at, std::move(p));
    return index;
}

Status CalibContext::addPoint(double thickness, double time, std::vector<double> data, std::vector<double> sigma,
                              int* index)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    if (c.pixels == 0)
        return Status::notBound;
    if (data.size() != static_cast<size_t>(c.pixels) || (!sigma.empty() && sigma.size() != data.size()))
        return Status::badSize;
    // A profile holds finite numbers only: a point holding anything else could be saved but never loaded.
    for (const auto& [values, what] : {std::pair{&data, "Data"}, std::pair{&sigma, "Sigma"}}) {
        const auto bad = std::find_if(values->begin(), values->end(), [](double v) { return !std::isfinite(v); });
        if (bad != values->end()) {
            c.message(std::string("Error adding item to calibration. ") + what +
                      " array holds a value that is not a finite number (pixel=" +
                      std::to_string(bad - values->begin()) + ").");
            return Status::refused;
        }
    }
    const size_t n = c.points.size();
    // Only a thickness or time <= 0 is replaced; NaN is refused below with infinity.
    if (thickness <= 0.0) {
        if (n == 0)
            thickness = 0.0;
        else if (n == 1)
            thickness = c.points[0]->thickness + 1.0;
        else
            thickness = c.points[n - 1]->thickness +
                        (c.points[n - 1]->thickness - c.points[0]->thickness) / static_cast<double>(n - 1);
    }
    if (time <= 0.0)
        time = n == 0 ? 1.0 : c.points[n - 1]->time;
    if (!std::isfinite(thickness) || !std::isfinite(time)) {
        c.message("Error adding item to calibration. Invalid thickness or time.");
        return Status::refused;
    }
    if (c.findPoint(thickness) >= 0) {
        c.message("Error adding item to calibration. Item with the same value already exists.");
        return Status::refused;
    }
    // No more than a profile holds, so that whatever is saved loads again.
    if (n >= static_cast<size_t>(gPointLimit.load())) {
        c.message("Error adding item to calibration. A calibration holds at most " +
                  std::to_string(gPointLimit.load()) + " items.");
        return Status::refused;
    }
    std::unique_ptr<Point> p;
    try {
        p = std::make_unique<Point>();
        if (sigma.empty()) {
            if (!allocateArray(sigma, data.size()))
                throw std::bad_alloc();
            poissonSigmas(data.data(), sigma.data(), data.size());
        }
        p->name = n == 0 ? std::string() : c.points[n - 1]->name;
        c.points.reserve(n + 1);
    } catch (const std::bad_alloc&) {
        c.message("Error adding item to calibration. Cannot allocate memory for new item");
        return Status::noMemory;
    }
    p->thickness = thickness;
    p->time = time;
    p->data = std::move(data);
    p->sigma = std::move(sigma);
    if (!Impl::completePoint(*p)) {
        c.message("Error initializing calibration item. Cannot allocate memory.");
        return Status::noMemory;
    }
    const int at = c.insertPoint(std::move(p));
    if (c.selected >= at)
        ++c.selected;
    c.modified = true;
    c.invalidateFit();
    if (index)
        *index = at;
    return Status::ok;
}

Status CalibContext::removePoint(int index)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    if (index < 0 || index >= static_cast<int>(c.points.size()))
        return Status::refused;
    c.points.erase(c.points.begin() + index);
    if (c.selected == index)
        c.selected = -1;
    else if (c.selected > index)
        --c.selected;
    c.modified = true;
    c.invalidateFit();
    return Status::ok;
}

std::vector<PointInfo> CalibContext::points() const
{
    std::lock_guard lock(d_->mutex);
    std::vector<PointInfo> out;
    out.reserve(d_->points.size());
    for (const auto& p : d_->points)
        out.push_back({p->name, p->thickness, p->time});
    return out;
}

bool CalibContext::pointData(int index, PointData& out) const
{
    std::lock_guard lock(d_->mutex);
    if (index < 0 || index >= static_cast<int>(d_->points.size()))
        return false;
    const Point& p = *d_->points[static_cast<size_t>(index)];
    out.info = {p.name, p.thickness, p.time};
    out.data = p.data;
    out.sigma = p.sigma;
    return true;
}

// ---- results ----

Status CalibContext::correct(const double* counts, const double* sigma, int pixels, double time, double* thickness,
                             double* error)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    if (c.pixels == 0)
        return Status::notBound;
    if (pixels != c.pixels || !counts)
        return Status::badSize;
    if (!(time > 0.0) || !std::isfinite(time))
        return Status::refused;
    std::copy(counts, counts + pixels, c.input.begin());
    if (sigma)
        std::copy(sigma, sigma + pixels, c.inputSigma.begin());
    else
        poissonSigmas(counts, c.inputSigma.data(), static_cast<size_t>(pixels));
    c.inputTime = time;
    c.resultValid = false;
    const Status s = c.ensureResult(true);
    if (thickness)
        std::copy(c.corrected.begin(), c.corrected.end(), thickness);
    if (error)
        std::copy(c.error.begin(), c.error.end(), error);
    return s;
}

Status CalibContext::currentResult(double* thickness, double* error, int pixels, bool logRefusal)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    if (c.pixels == 0)
        return Status::notBound;
    if (pixels != c.pixels)
        return Status::badSize;
    const Status s = c.ensureResult(logRefusal);
    if (thickness)
        std::copy(c.corrected.begin(), c.corrected.end(), thickness);
    if (error)
        std::copy(c.error.begin(), c.error.end(), error);
    return s;
}

Status CalibContext::mask(double* out, int pixels)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    if (c.pixels == 0)
        return Status::notBound;
    if (pixels != c.pixels)
        return Status::badSize;
    const Status s = c.prepareFit();
    if (s != Status::ok && s != Status::notEnoughPoints)
        return s;
    if (out)
        for (int i = 0; i < pixels; ++i)
            out[i] = c.mask[static_cast<size_t>(i)] ? 1.0 : 0.0;
    return Status::ok;
}

Status CalibContext::selectedPointRate(double* out, int pixels, bool sigma)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    if (c.pixels == 0)
        return Status::notBound;
    if (pixels != c.pixels)
        return Status::badSize;
    if (c.selected < 0)
        return Status::refused;
    const Point& p = *c.points[static_cast<size_t>(c.selected)];
    const std::vector<double>& v = sigma ? p.sigma : p.data;
    if (out)
        for (int i = 0; i < pixels; ++i)
            out[i] = v[static_cast<size_t>(i)] / p.time;
    return Status::ok;
}

double CalibContext::thicknessAt(int pixel, double rate)
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    if (pixel < 0 || pixel >= c.pixels || c.prepareFit() != Status::ok)
        return kNoValue;
    return c.thicknessAt(pixel, rate);
}

int CalibContext::badPixelCount()
{
    std::lock_guard lock(d_->mutex);
    d_->prepareFit();
    return d_->badCount;
}

ErrorStats CalibContext::errorStats()
{
    std::lock_guard lock(d_->mutex);
    Impl& c = *d_;
    ErrorStats st;
    if (c.pixels == 0 || c.ensureResult() != Status::ok)
        return st;
    double sum = 0.0;
    for (size_t i = 0; i < c.error.size(); ++i) {
        const double e = c.error[i];
        if (!c.mask[i] || e == kNoValue)
            continue;
        if (st.pixels == 0 || e < st.min)
            st.min = e;
        if (st.pixels == 0 || e > st.max)
            st.max = e;
        sum += e;
        ++st.pixels;
    }
    st.mean = st.pixels > 0 ? sum / st.pixels : 0.0;
    return st;
}

// ---- the correction ----

Status CalibContext::Impl::ensureResult(bool logRefusal)
{
    if (resultValid)
        return Status::ok;
    const Status fit = prepareFit(logRefusal);
    if (fit != Status::ok)
        return fit; // prepareFit zeroed the outputs where it says so
    correctInput();
    if (fillBadPixels)
        fillHoles(corrected.data(), error.data(), mask.data(), width, height);
    resultValid = true;
    return Status::ok;
}

// Pixels without a usable value (bad, no value, no positive error) get the weighted mean of their valid
// neighbours, passes repeating while they fill something. Each pass looks only at the pixels still
// waiting, and takes its neighbours from the state before the pass (Jacobi), so that the result does not
// depend on the order of the pixels.
void fillHoles(double* value, double* error, const uint8_t* mask, int width, int height)
{
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    auto isHole = [&](size_t at) {
        return !mask[at] || value[at] == kNoValue || error[at] == kNoValue || !(error[at] > 0.0);
    };
    // Most frames have no hole: nothing is allocated before the first.
    size_t first = 0;
    while (first < pixels && !isHole(first))
        ++first;
    if (first == pixels)
        return;
    std::vector<int> waiting;
    std::vector<uint8_t> hole(pixels, 0);
    for (size_t at = first; at < pixels; ++at) {
        if (isHole(at)) {
            value[at] = kNoValue;
            error[at] = kNoValue;
            hole[at] = 1;
            waiting.push_back(static_cast<int>(at));
        }
    }
    struct Fill {
        int pixel;
        double value;
        double error;
    };
    std::vector<Fill> fills;
    while (!waiting.empty()) {
        fills.clear();
        for (const int i : waiting) {
            const int x = i % width;
            const int y = i / width;
            int looked = 0;
            int valid = 0;
            double sumW = 0.0;
            double sumV = 0.0;
            for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, height - 1); ++ny)
                for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, width - 1); ++nx) {
                    const size_t at = static_cast<size_t>(ny) * static_cast<size_t>(width) + static_cast<size_t>(nx);
                    if (nx == x && ny == y)
                        continue;
                    ++looked;
                    if (hole[at])
                        continue;
                    const double w = 1.0 / error[at];
                    ++valid;
                    sumW += w;
                    sumV += w * value[at];
                }
            // At least 3/8 of the neighbours inside the frame (8, 5 at an edge, 3 in a corner) are valid.
            if (valid > 0 && valid * 8 >= looked * 3) {
                const double v = sumV / sumW;
                const double e = valid / sumW;
                if (std::isfinite(v) && std::isfinite(e) && e > 0.0)
                    fills.push_back({i, v, e});
            }
        }
        if (fills.empty())
            break;
        for (const Fill& f : fills) {
            const size_t at = static_cast<size_t>(f.pixel);
            value[at] = f.value;
            error[at] = f.error;
            hole[at] = 0;
        }
        std::erase_if(waiting, [&](int i) { return !hole[static_cast<size_t>(i)]; });
    }
}

// ---- profiles ----

std::string CalibContext::defaultProfilePath(const std::string& configsDir) const
{
    std::lock_guard lock(d_->mutex);
    return configsDir + safeFileNamePart(d_->shape.interfaceName) + "_" + safeFileNamePart(d_->shape.chipboardId) +
           "_calib.txt";
}

std::string CalibContext::profilePath() const
{
    std::lock_guard lock(d_->mutex);
    return d_->profilePath;
}

} // namespace hcal
