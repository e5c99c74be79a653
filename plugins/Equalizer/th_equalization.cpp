#include "th_equalization.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/file_write.h"
#include "platform/numbers.h"

namespace equalizer {

namespace {

constexpr uint32_t kChipPixels = 65536;
constexpr uint32_t kChipSide = 256;
constexpr double kWindowSigmas = 6.0;
constexpr int kCoarseStepFactor = 4; // the coarse pre-sweep steps this many sweep steps at once

int findDac(const char** names, int count, const char* name)
{
    for (int i = 0; i < count; ++i)
        if (names[i] && std::strcmp(names[i], name) == 0)
            return i;
    return -1;
}

int roundHalfUp(double v)
{
    return static_cast<int>(std::floor(v + 0.5));
}

// The sub-mask phase that measures pixel: row r and column c of its chip fall into phase (r mod S)·S + c mod S.
int phaseOf(uint32_t pixel, int spacing)
{
    const uint32_t local = pixel % kChipPixels;
    const int row = static_cast<int>(local / kChipSide);
    const int column = static_cast<int>(local % kChipSide);
    return (row % spacing) * spacing + column % spacing;
}

} // namespace

const char* methodLabel(int type)
{
    switch (type) {
    case kThlSource: return "THL with source";
    case kThlNoiseEdge: return "THL with noise edge";
    case kThlNoiseCenter: return "THL with noise center (centroid)";
    case kThlNoiseCenterCross: return "THL with noise center (cross)";
    case kThlTestPulses: return "THL with test pulses";
    case kThlTestPulsesTot: return "THL with test pulses in TOT (chip type 3)";
    case kThlExtPulser: return "THL with external test pulser";
    case kThhSource: return "THH with source";
    case kThhTestPulses: return "THH with test pulses";
    case kThhNoise: return "THH with noise";
    case kThhExtPulser: return "THH with external test pulser";
    default: return nullptr;
    }
}

int twoLevelAdjustment(double target, double e0, double e1, int cmax)
{
    if (e0 < e1)
        return target < e0 ? 0 : std::min(roundHalfUp((target - e0) / ((e1 - e0) / cmax)), cmax);
    if (e1 < e0)
        return target < e1 ? cmax : cmax - std::min(roundHalfUp((target - e1) / ((e0 - e1) / cmax)), cmax);
    return cmax;
}

// ---- strategies: their own edge detection (types 3, 4 and 11) ----

// A strategy sees every acquisition of a phase and reports a pixel's edge once it knows it; the engine
// then disables the pixel. finish() reports the pixels still open at the end of the phase.
class ThEqualization::SpecEq {
public:
    using Found = std::function<void(uint32_t pixel, int value)>;
    virtual ~SpecEq() = default;
    virtual void reset(uint32_t pixels) = 0;
    virtual void detect(int value, const uint32_t* frame, const uint8_t* working, uint32_t pixels, double threshold,
                        const Found& found) = 0;
    virtual void finish(const Found& found) = 0;
};

namespace {

// The centroid of the noise peak: counts at or above the threshold are weighted by their DAC value; the
// pixel is done when its counts fall below the threshold again.
class ThlNoiseCenter final : public ThEqualization::SpecEq {
public:
    void reset(uint32_t pixels) override
    {
        sum_.assign(pixels, 0.0);
        weighted_.assign(pixels, 0.0);
    }
    void detect(int value, const uint32_t* frame, const uint8_t* working, uint32_t pixels, double threshold,
                const Found& found) override
    {
        for (uint32_t j = 0; j < pixels; ++j) {
            if (!(working[j] & 1))
                continue;
            const double n = frame[j];
            if (n >= threshold) {
                sum_[j] += n;
                weighted_[j] += n * value;
            } else if (sum_[j] > 0.0) {
                found(j, roundHalfUp(weighted_[j] / sum_[j]));
                sum_[j] = 0.0;
            }
        }
    }
    void finish(const Found& found) override
    {
        for (uint32_t j = 0; j < sum_.size(); ++j)
            if (sum_[j] > 0.0)
                found(j, roundHalfUp(weighted_[j] / sum_[j]));
    }

private:
    std::vector<double> sum_;
    std::vector<double> weighted_;
};

// The midpoint of the two threshold crossings of the noise peak: the first value at or above the threshold
// and the last one before the counts fall below it.
class ThlNoiseCenterCross final : public ThEqualization::SpecEq {
public:
    void reset(uint32_t pixels) override
    {
        rise_.assign(pixels, kNone);
        last_.assign(pixels, kNone);
    }
    void detect(int value, const uint32_t* frame, const uint8_t* working, uint32_t pixels, double threshold,
                const Found& found) override
    {
        for (uint32_t j = 0; j < pixels; ++j) {
            if (!(working[j] & 1))
                continue;
            if (frame[j] >= threshold) {
                if (rise_[j] == kNone)
                    rise_[j] = value;
                last_[j] = value;
            } else if (rise_[j] != kNone) {
                found(j, roundHalfUp((rise_[j] + last_[j]) / 2.0));
                rise_[j] = kNone;
            }
        }
    }
    void finish(const Found& found) override
    {
        for (uint32_t j = 0; j < rise_.size(); ++j)
            if (rise_[j] != kNone)
                found(j, roundHalfUp((rise_[j] + last_[j]) / 2.0));
    }

private:
    static constexpr int kNone = -1;
    std::vector<int> rise_;
    std::vector<int> last_;
};

// THH against the noise: the first value at which the pixel crosses the threshold.
class ThhNoise final : public ThEqualization::SpecEq {
public:
    void reset(uint32_t) override {}
    void detect(int value, const uint32_t* frame, const uint8_t* working, uint32_t pixels, double threshold,
                const Found& found) override
    {
        for (uint32_t j = 0; j < pixels; ++j)
            if ((working[j] & 1) && frame[j] != 0 && frame[j] >= threshold)
                found(j, value);
    }
    void finish(const Found&) override {}
};

} // namespace

ThEqualization::ThEqualization() = default;
ThEqualization::~ThEqualization() = default;

int ThEqualization::fail(const char* message)
{
    if (table_ && table_->mgrLogMsg)
        table_->mgrLogMsg(kLogSource, "%s", 0, message);
    return -1;
}

int ThEqualization::setUp(const _MgrFuncTable* table, unsigned devId, Notify notify)
{
    bound_ = false;
    hist_.clear();
    edges_.clear();
    if (!table)
        return -1;
    table_ = table;
    dev_ = devId;
    notify_ = std::move(notify);
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    _DevInfo info{};
    if (table_->tvkCtrlGetDACsNames(devId, &names, &bits, &count) != 0 || !names || !bits || count <= 0 ||
        table_->tvkCtrlGetDevInfo(devId, &info) != 0)
        return -1;
    chipType_ = info.chipType;
    chips_ = info.chipCount;
    if (chips_ <= 0 || info.pixelCount != static_cast<int32_t>(kChipPixels) * chips_)
        return -1;
    pixels_ = static_cast<uint32_t>(info.pixelCount);
    dacsPerChip_ = count;
    thl_ = findDac(names, count, "THL");
    thh_ = findDac(names, count, "THH");
    ths_ = findDac(names, count, "THS");
    fbk_ = findDac(names, count, "FBK");
    if (thl_ < 0 || ths_ < 0 || fbk_ < 0 || (thh_ < 0 && chipType_ != 3))
        return -1;
    if (bits[thl_] <= 0 || bits[thl_] > 16 || bits[fbk_] <= 0 || bits[fbk_] > 16)
        return -1;
    range_ = 1 << bits[thl_];
    fbkRange_ = 1 << bits[fbk_];
    levels_ = chipType_ == 3 ? 16 : 8;
    try {
        const size_t columns = static_cast<size_t>(levels_ + 1);
        hist_.assign(columns * static_cast<size_t>(chips_) * static_cast<size_t>(range_), 0);
        mean_.assign(columns * static_cast<size_t>(chips_), -1.0);
        sigma_.assign(columns * static_cast<size_t>(chips_), -1.0);
        masked_.assign(static_cast<size_t>(chips_), 0);
        edges_.assign(columns * pixels_, 0);
        finalMean_.assign(static_cast<size_t>(chips_), -1.0);
        finalSigma_.assign(static_cast<size_t>(chips_), -1.0);
    } catch (const std::bad_alloc&) {
        hist_.clear();
        edges_.clear();
        return -1;
    }
    lastMethod_ = lastMode_ = 0;
    bound_ = true;
    return 0;
}

int ThEqualization::configure(int type, bool twoLevel, int first, int second, int step, std::string* why)
{
    const auto refuse = [why](const std::string& text) {
        if (why)
            *why = text;
        return -1;
    };
    if (!bound_)
        return refuse("The equalization has no device.");
    if (running_)
        return refuse("An equalization is running.");
    if (!methodLabel(type))
        return refuse("Method (" + std::to_string(type) + ") is not a method type: 1..7 or 9..12.");
    const std::string method = "Method " + std::to_string(type) + " (" + methodLabel(type) + ")";
    if (type == kThhNoise && chipType_ == 3)
        return refuse(method + " is refused on chip type 3.");
    if (type > 7 && thh_ < 0)
        return refuse(method + " needs the DAC THH, which the device does not have.");
    if (step == 0) // a sweep that never moves
        return refuse("Step (0) must not be 0.");
    // The histogram holds the values of the THL range; the scanned DAC's own range bounds them too.
    const int scanned = type > 7 ? thh_ : thl_;
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    if (table_->tvkCtrlGetDACsNames(dev_, &names, &bits, &count) != 0 || scanned >= count)
        return refuse("Cannot read the device's DACs.");
    const int limit = std::min(range_, 1 << bits[scanned]);
    const std::string allowed = " is outside the range of " + std::string(type > 7 ? "THH" : "THL") + ", 0.." +
                                std::to_string(limit - 1) + ".";
    if (first < 0 || first >= limit)
        return refuse("From (" + std::to_string(first) + ")" + allowed);
    if (second < 0 || second >= limit)
        return refuse("To (" + std::to_string(second) + ")" + allowed);
    int polarity = 1;
    if (table_->tvkCtrlGetPolarity(dev_, &polarity) != 0)
        return refuse("Cannot read the device's polarity.");
    bool positive = polarity != 0;
    if (chipType_ == 2 || chipType_ == 3)
        positive = !positive;
    const bool thlType = type <= 7;
    const bool downward = (thlType && positive) || (type == kThhNoise && !positive);
    const int size = std::abs(step);
    int start = downward ? std::max(first, second) : std::min(first, second);
    const int other = downward ? std::min(first, second) : std::max(first, second);
    const int span = std::abs(other - start);
    step_ = downward ? -size : size;
    // The end lies on the grid; a range shorter than one step is swept once.
    end_ = span >= size ? start + step_ * (span / size) : start + step_;
    start_ = start;
    configuredStart_ = start_;
    configuredEnd_ = end_;
    type_ = type;
    twoLevel_ = twoLevel;
    scanned_ = scanned;
    return 0;
}

int ThEqualization::setSettings(const EqualizationSettings& s, std::string* why)
{
    const auto refuse = [why](const std::string& text) {
        if (why)
            *why = text;
        return -1;
    };
    const auto number = [](double v) { return plat::formatGeneral(v, 6); };
    if (running_)
        return refuse("An equalization is running.");
    if (s.acqCount < 1)
        return refuse("Acquisitions (" + std::to_string(s.acqCount) + ") must be at least 1.");
    if (!(s.acqTime >= 0.0))
        return refuse("Acq. time (" + number(s.acqTime) + " s) must not be negative.");
    if (s.spacing < 1 || s.spacing > 32)
        return refuse("Spacing S (" + std::to_string(s.spacing) + ") is outside 1..32.");
    if (!(s.countThresholdFactor >= 0.0))
        return refuse("Count threshold factor (" + number(s.countThresholdFactor) + ") must not be negative.");
    if (s.oneChipAtATime && chips_ < 2)
        return refuse("One chip at a time needs more than one chip; the device has " + std::to_string(chips_) + ".");
    settings_ = s;
    return 0;
}

int ThEqualization::adjustment(uint8_t cfg) const
{
    if (thhMethod())
        return (cfg >> 5) & 7;
    return (cfg >> 2) & (chipType_ == 3 ? 15 : 7);
}

uint8_t ThEqualization::withAdjustment(uint8_t cfg, int level) const
{
    if (thhMethod())
        return static_cast<uint8_t>((cfg & 0x1F) | ((level & 7) << 5));
    if (chipType_ == 3)
        return static_cast<uint8_t>((cfg & 0xC3) | ((level & 15) << 2));
    return static_cast<uint8_t>((cfg & 0xE3) | ((level & 7) << 2));
}

double ThEqualization::progress() const
{
    const int s2 = spacing_ * spacing_;
    const int columns = twoLevel_ ? 3 : levels_ + 1;
    const int span = end_ - start_;
    if (span == 0 || s2 <= 0)
        return 0.0;
    int level = progressLevel_;
    if (twoLevel_)
        level = level == 0 ? 0 : level == levels_ ? 2 : 1;
    const double inSweep = static_cast<double>(progressValue_ - start_ + step_) / span;
    const double done = (inSweep + progressPhase_ + s2 * level) * 100.0 / (columns * s2);
    return std::clamp(done, 0.0, 100.0);
}

// ---- a run ----

int ThEqualization::run()
{
    if (!bound_ || scanned_ < 0) {
        if (notify_)
            notify_(kMsgFinished, -1);
        return -1;
    }
    running_ = true;
    // An abort asked for before the worker got here still counts; the flag is cleared when the run ends.
    const struct ClearAbort {
        std::atomic<bool>& flag;
        ~ClearAbort() { flag = false; }
    } clearAbort{abort_};
    int savedSpacing = 1;
    int savedConv = 1;
    int result = prepare();
    const bool changed = result == 0;
    if (changed) {
        table_->tvkCtrlGetAcqSpacing(dev_, &savedSpacing);
        table_->tvkCtrlGetAutoConvToSM(dev_, &savedConv);
        if (table_->tvkCtrlSetAutoConvToSM(dev_, 0) != 0 || table_->tvkCtrlSetAcqSpacing(dev_, 1) != 0)
            result = fail("Equalization: setting acquisition parameters failed, aborting operation.");
    }
    if (result == 0 && settings_.preStepNoisy)
        result = preStepNoisy();
    if (result == 0 && settings_.preStepCoarse)
        result = preStepCoarse();
    if (result == 0)
        result = runLevels();
    if (changed) {
        // Every path after the preparation gives the device back its DACs, spacing and conversion, and the
        // new configuration only on success.
        table_->tvkCtrlSetAutoConvToSM(dev_, savedConv);
        if (table_->tvkCtrlSetDACs(dev_, dacs_.data(), static_cast<int>(dacs_.size()), -1, 0, 0) != 0 && result == 0)
            result = fail("Equalization: setting DACs failed, aborting operation.");
        std::vector<uint8_t>& cfg = result == 0 ? base_ : saved_;
        if (table_->tvkCtrlSetPixelsCfg(dev_, cfg.data(), pixels_, -1) != 0 && result == 0)
            result = fail("Equalization: setting pix. cfgs. failed, aborting operation.");
        table_->tvkCtrlSetAcqSpacing(dev_, savedSpacing);
    }
    if (result == 0) {
        lastMethod_ = type_;
        lastMode_ = twoLevel_ ? 1 : 2;
        windowFactor_ = 0.0;
    }
    running_ = false;
    if (notify_)
        notify_(kMsgFinished, result);
    return result;
}

int ThEqualization::prepare()
{
    strategy_.reset();
    try {
        if (type_ == kThlNoiseCenter)
            strategy_ = std::make_unique<ThlNoiseCenter>();
        else if (type_ == kThlNoiseCenterCross)
            strategy_ = std::make_unique<ThlNoiseCenterCross>();
        else if (type_ == kThhNoise)
            strategy_ = std::make_unique<ThhNoise>();
        dacs_.assign(static_cast<size_t>(chips_ * dacsPerChip_), 0);
        working_.assign(pixels_, 0);
        saved_.assign(pixels_, 0);
        base_.assign(pixels_, 0);
        frame_.assign(pixels_, 0);
        chipFrame_.assign(settings_.oneChipAtATime ? pixels_ : 0, 0);
    } catch (const std::bad_alloc&) {
        return fail("Memory allocation failed, aborting operation.");
    }
    if (table_->tvkCtrlGetDACs(dev_, dacs_.data(), static_cast<int>(dacs_.size()), -1) != 0 ||
        table_->tvkCtrlGetPixelsCfg(dev_, saved_.data(), pixels_, -1) != 0)
        return fail("Cannot get DACs/Pixel cfgs, aborting operation.");
    base_ = saved_;
    std::fill(edges_.begin(), edges_.end(), 0);
    std::fill(hist_.begin(), hist_.end(), 0);
    std::fill(mean_.begin(), mean_.end(), -1.0);
    std::fill(sigma_.begin(), sigma_.end(), -1.0);
    std::fill(finalMean_.begin(), finalMean_.end(), -1.0);
    std::fill(finalSigma_.begin(), finalSigma_.end(), -1.0);
    std::fill(masked_.begin(), masked_.end(), 0);
    maskedTotal_ = 0;
    for (uint32_t j = 0; j < pixels_; ++j)
        if (!(base_[j] & 1)) {
            ++masked_[j / kChipPixels];
            ++maskedTotal_;
        }
    spacingMode_ = (type_ == 5 || type_ == 6 || type_ == 10) ? 1 : (type_ == 7 || type_ == 12) ? 2 : 0;
    // Every method measures the pixels in S x S interleaved sub-masks; with test pulses the pitch on chip
    // types 2 and 3 is a power of two, as their column mask repeats every 32 columns.
    spacing_ = settings_.spacing;
    if (spacingMode_ && chipType_ > 1) {
        int p = 1;
        while (p < spacing_)
            p <<= 1;
        spacing_ = p;
    }
    threshold_ = spacingMode_ && type_ != kThlTestPulsesTot ? settings_.pulseCount / 2.0
                                                             : settings_.countThresholdFactor * settings_.acqCount;
    return 0;
}

int ThEqualization::runLevels()
{
    const int levelStep = twoLevel_ ? levels_ - 1 : 1;
    for (int a = 0; a < levels_; a += levelStep) {
        for (uint32_t j = 0; j < pixels_; ++j)
            base_[j] = withAdjustment(base_[j], a);
        progressLevel_ = a;
        if (notify_)
            notify_(kMsgLevel, 0);
        if (const int r = sweep(a))
            return r;
    }
    finalAdjustments();
    progressLevel_ = levels_;
    if (notify_)
        notify_(kMsgLevel, 0);
    return sweep(levels_);
}

int ThEqualization::sweep(int column)
{
    // Each level starts from the configured window: a window narrowed at one level could cut off the
    // edges that the adjustment moves at another.
    start_ = configuredStart_;
    end_ = configuredEnd_;
    for (int phase = 0; phase < spacing_ * spacing_; ++phase) {
        progressPhase_ = phase;
        if (const int r = sweepPhase(column, phase))
            return r;
        phaseStatistics(column);
        if (notify_)
            notify_(kMsgStatistics, 0);
        narrowWindow(column);
        if (notify_)
            notify_(kMsgPhase, 0);
    }
    return 0;
}

int ThEqualization::sweepPhase(int column, int phase)
{
    if (strategy_)
        strategy_->reset(pixels_);
    // Levels are a power of two (8 or 16): the low bits of a linear congruential generator pick them.
    const uint32_t levelMask = static_cast<uint32_t>(thhMethod() ? 8 : levels_) - 1;
    enabled_ = 0;
    for (uint32_t j = 0; j < pixels_; ++j) {
        random_ = random_ * 1103515245u + 12345u;
        uint8_t cfg = withAdjustment(static_cast<uint8_t>(base_[j] & ~1u), static_cast<int>((random_ >> 16) & levelMask));
        if (spacing_ == 1 || phaseOf(j, spacing_) == phase)
            cfg = static_cast<uint8_t>(base_[j]);
        if (spacingMode_)
            cfg = static_cast<uint8_t>((cfg & ~2u) | ((cfg & 1u) ? 0u : 2u));
        working_[j] = cfg;
        enabled_ += cfg & 1u;
    }
    const auto found = [&](uint32_t pixel, int value) { record(column, pixel, value); };
    for (int c = start_; step_ > 0 ? c < end_ : c > end_; c += step_) {
        if (enabled_ == 0)
            break; // every pixel of the phase has responded
        progressValue_ = c;
        if (sendConfig(working_) != 0)
            return fail("Equalization: setting pix. cfgs. failed, aborting operation.");
        int r = 0;
        if (settings_.oneChipAtATime) {
            r = acquireChips(phase, c);
        } else {
            if (setScannedDac(c, -1) != 0)
                return fail("Equalization: setting DACs failed, aborting operation.");
            r = acquire(phase, frame_.data());
        }
        if (r != 0)
            return r;
        if (strategy_)
            strategy_->detect(c, frame_.data(), working_.data(), pixels_, threshold_, found);
        else
            detect(column, c, frame_.data());
        if (notify_)
            notify_(kMsgDacStep, 0);
    }
    if (strategy_)
        strategy_->finish(found);
    return 0;
}

int ThEqualization::sendConfig(std::vector<uint8_t>& cfg)
{
    return table_->tvkCtrlSetPixelsCfg(dev_, cfg.data(), pixels_, -1); // only read
}

int ThEqualization::setScannedDac(int value, int onlyChip)
{
    std::vector<uint16_t> dacs(dacs_);
    for (int chip = 0; chip < chips_; ++chip) {
        const size_t base = static_cast<size_t>(chip * dacsPerChip_);
        if (onlyChip < 0 || chip == onlyChip)
            dacs[base + static_cast<size_t>(scanned_)] = static_cast<uint16_t>(value);
        else
            dacs[base + static_cast<size_t>(thl_)] = 0;
    }
    return table_->tvkCtrlSetDACs(dev_, dacs.data(), static_cast<int>(dacs.size()), -1, 0, 0);
}

int ThEqualization::acquire(int phase, uint32_t* frame)
{
    if (abort_)
        return -1;
    if (spacingMode_ == 2 && (!pulserPrepare_ || pulserPrepare_(phase) != 0))
        return fail("Preparing of external pulser failed, aborting operation.");
    if (spacingMode_) {
        uint32_t mask = 1;
        if (chipType_ != 1) {
            mask = 0;
            for (int bit = phase % spacing_; bit < 32; bit += spacing_)
                mask |= 1u << bit;
        }
        if (table_->tvkCtrlPerformTestPulseAcq(dev_, settings_.pulseHeight, settings_.pulsePeriod,
                                               settings_.pulseCount, mask) != 0)
            return fail("Equalization: test pulses acq. failed, aborting operation.");
    } else if (table_->tvkCtrlPerformIntegralAcq(dev_, settings_.acqCount, settings_.acqTime, 0, nullptr) != 0) {
        return fail("Equalization: acquisition failed, aborting operation.");
    }
    if (table_->tvkCtrlGetFrame32(dev_, frame, pixels_, 0) != 0)
        return fail("Equalization: get frame failed, aborting operation.");
    return 0;
}

int ThEqualization::acquireChips(int phase, int value)
{
    for (int chip = 0; chip < chips_; ++chip) {
        if (setScannedDac(value, chip) != 0)
            return fail("Equalization: setting DACs failed, aborting operation.");
        if (const int r = acquire(phase, chipFrame_.data()))
            return r;
        const size_t at = static_cast<size_t>(chip) * kChipPixels;
        std::copy_n(chipFrame_.begin() + static_cast<std::ptrdiff_t>(at), kChipPixels,
                    frame_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return 0;
}

bool ThEqualization::anyEnabled() const
{
    return std::any_of(working_.begin(), working_.end(), [](uint8_t b) { return (b & 1) != 0; });
}

void ThEqualization::detect(int column, int value, const uint32_t* frame)
{
    // Far from their edges most pixels count nothing: blocks of zeros are passed over at memory speed (the
    // pixel count is a multiple of the block, 65,536 a chip).
    constexpr uint32_t kBlock = 16;
    for (uint32_t at = 0; at < pixels_; at += kBlock) {
        const uint32_t* block = frame + at;
        uint32_t any = 0;
        for (size_t k = 0; k < kBlock; ++k)
            any |= block[k];
        if (any == 0)
            continue;
        for (uint32_t j = at; j < at + kBlock; ++j) {
            const uint32_t n = frame[j];
            if (n == 0)
                continue;
            if (working_[j] & 1) {
                if (n >= threshold_)
                    record(column, j, value);
            } else if (n > static_cast<uint32_t>(settings_.acqCount)) {
                // A pixel that counts while disabled does not obey its mask: its edge is no response.
                maskPixel(j, column);
            }
        }
    }
}

void ThEqualization::record(int column, uint32_t pixel, int value)
{
    if (value < 0 || value >= range_)
        return;
    edges_[static_cast<size_t>(column) * pixels_ + pixel] = static_cast<uint16_t>(value);
    enabled_ -= working_[pixel] & 1u;
    working_[pixel] = static_cast<uint8_t>((working_[pixel] & ~1u) | 2u);
    ++hist_[histIndex(column, static_cast<int>(pixel / kChipPixels), value)];
}

void ThEqualization::maskPixel(uint32_t pixel, int upToColumn)
{
    if (!(base_[pixel] & 1))
        return;
    base_[pixel] = static_cast<uint8_t>(base_[pixel] & ~1u);
    const int chip = static_cast<int>(pixel / kChipPixels);
    ++masked_[static_cast<size_t>(chip)];
    ++maskedTotal_;
    for (int column = 0; column <= upToColumn; ++column) {
        uint16_t& e = edges_[static_cast<size_t>(column) * pixels_ + pixel];
        if (e != 0 && hist_[histIndex(column, chip, e)] > 0)
            --hist_[histIndex(column, chip, e)];
        e = 0;
    }
}

void ThEqualization::phaseStatistics(int column)
{
    const int lo = std::min(start_, end_);
    const int hi = std::max(start_, end_);
    for (int chip = 0; chip < chips_; ++chip) {
        double n = 0, sum = 0, squares = 0;
        for (int v = std::max(lo, 0); v < std::min(hi + 1, range_); ++v) {
            if (v == end_)
                continue; // the end is not visited
            const double k = hist_[histIndex(column, chip, v)];
            n += k;
            sum += v * k;
            squares += static_cast<double>(v) * v * k;
        }
        double m = 0, s = 0;
        if (n >= 2) {
            m = sum / n;
            s = std::sqrt(std::max(0.0, n / (n - 1) * (squares / n - m * m)));
        }
        mean_[index(chip, column)] = m;
        sigma_[index(chip, column)] = s;
    }
    // Pixels of the phases measured so far that responded outside the window, or not at all, are masked.
    const int phases = progressPhase_ + 1;
    for (uint32_t j = 0; j < pixels_; ++j) {
        if (!(base_[j] & 1))
            continue;
        if (spacing_ > 1 && phaseOf(j, spacing_) >= phases)
            continue; // not measured yet
        const int chip = static_cast<int>(j / kChipPixels);
        const double m = mean_[index(chip, column)];
        const double s = sigma_[index(chip, column)];
        const uint16_t e = edges_[static_cast<size_t>(column) * pixels_ + j];
        if (e == 0 || e > m + kWindowSigmas * s || e < m - kWindowSigmas * s)
            maskPixel(j, column);
    }
}

void ThEqualization::narrowWindow(int column)
{
    bool any = false;
    double lo = 0, hi = 0;
    for (int chip = 0; chip < chips_; ++chip) {
        const double m = mean_[index(chip, column)];
        const double s = sigma_[index(chip, column)];
        if (m <= 0 && s <= 0)
            continue; // no statistics: it bounds nothing
        const double l = m - kWindowSigmas * s, h = m + kWindowSigmas * s;
        lo = any ? std::min(lo, l) : l;
        hi = any ? std::max(hi, h) : h;
        any = true;
    }
    if (!any)
        return;
    const int low = static_cast<int>(lo), high = static_cast<int>(hi);
    const int size = std::abs(step_);
    if (step_ > 0) {
        if (start_ < low && low < end_)
            start_ += size * ((low - start_) / size);
        if (high >= start_) {
            const int grid = start_ + size * ((high - start_ + size - 1) / size);
            end_ = std::min(end_, grid);
        }
        if (end_ <= start_)
            end_ = start_ + step_;
    } else {
        if (end_ < high && high < start_)
            start_ -= size * ((start_ - high) / size);
        if (low <= start_) {
            const int grid = start_ - size * ((start_ - low + size - 1) / size);
            end_ = std::max(end_, grid);
        }
        if (end_ >= start_)
            end_ = start_ + step_;
    }
}

void ThEqualization::finalAdjustments()
{
    const int cmax = levels_ - 1;
    for (int chip = 0; chip < chips_; ++chip) {
        double target = 0;
        if (twoLevel_) {
            target = (mean_[index(chip, 0)] + mean_[index(chip, cmax)]) / 2.0;
        } else {
            for (int a = 0; a < levels_; ++a)
                target += mean_[index(chip, a)];
            target /= levels_;
        }
        for (uint32_t j = static_cast<uint32_t>(chip) * kChipPixels; j < (chip + 1u) * kChipPixels; ++j) {
            if (!(base_[j] & 1))
                continue;
            int chosen = cmax;
            if (twoLevel_) {
                const double e0 = edge(0, j), e1 = edge(cmax, j);
                if (e0 == 0 || e1 == 0) {
                    maskPixel(j, cmax);
                } else {
                    chosen = twoLevelAdjustment(target, e0, e1, cmax);
                }
            } else {
                double best = 1e100;
                int bestLevel = -1;
                for (int a = 0; a < levels_; ++a) {
                    const uint16_t e = edge(a, j);
                    if (e == 0) {
                        maskPixel(j, cmax);
                        break;
                    }
                    const double d = std::abs(e - target);
                    if (d < best) {
                        best = d;
                        bestLevel = a;
                    }
                }
                chosen = bestLevel < 0 ? cmax : bestLevel;
            }
            base_[j] = withAdjustment(base_[j], chosen);
        }
    }
}

// ---- pre-steps ----

// Masks the pixels that count with the threshold at the quiet end of the sweep: they would respond at
// every value and spoil the statistics.
int ThEqualization::preStepNoisy()
{
    if (sendConfig(base_) != 0)
        return fail("Equalization: setting pix. cfgs. failed, aborting operation.");
    if (setScannedDac(configuredStart_, -1) != 0)
        return fail("Equalization: setting DACs failed, aborting operation.");
    if (abort_)
        return -1;
    if (table_->tvkCtrlPerformIntegralAcq(dev_, settings_.acqCount, settings_.acqTime, 0, nullptr) != 0)
        return fail("Equalization: acquisition failed, aborting operation.");
    if (table_->tvkCtrlGetFrame32(dev_, frame_.data(), pixels_, 0) != 0)
        return fail("Equalization: get frame failed, aborting operation.");
    const double limit = std::max(1.0, settings_.countThresholdFactor * settings_.acqCount);
    for (uint32_t j = 0; j < pixels_; ++j)
        if (frame_[j] >= limit)
            maskPixel(j, -1);
    return 0;
}

// Sweeps the window coarsely at the two extreme levels with every pixel at once and narrows the window to
// the responses found, with two coarse steps of margin on either side.
int ThEqualization::preStepCoarse()
{
    const int coarse = step_ * kCoarseStepFactor;
    int lowest = range_, highest = -1;
    for (int a : {0, levels_ - 1}) {
        for (uint32_t j = 0; j < pixels_; ++j) {
            uint8_t cfg = withAdjustment(base_[j], a);
            if (spacingMode_)
                cfg = static_cast<uint8_t>((cfg & ~2u) | ((cfg & 1u) ? 0u : 2u));
            working_[j] = cfg;
        }
        const int savedSpacing = spacing_;
        spacing_ = 1; // every column at once
        for (int c = configuredStart_; coarse > 0 ? c < configuredEnd_ : c > configuredEnd_; c += coarse) {
            if (!anyEnabled())
                break;
            if (sendConfig(working_) != 0 || setScannedDac(c, -1) != 0) {
                spacing_ = savedSpacing;
                return fail("Equalization: setting DACs failed, aborting operation.");
            }
            if (const int r = acquire(0, frame_.data())) {
                spacing_ = savedSpacing;
                return r;
            }
            for (uint32_t j = 0; j < pixels_; ++j)
                if ((working_[j] & 1) && frame_[j] >= threshold_ && frame_[j] != 0) {
                    working_[j] = static_cast<uint8_t>((working_[j] & ~1u) | 2u);
                    lowest = std::min(lowest, c);
                    highest = std::max(highest, c);
                }
        }
        spacing_ = savedSpacing;
    }
    if (highest < 0)
        return 0; // nothing responded: the full window stays
    const int size = std::abs(step_);
    const int margin = 2 * std::abs(coarse);
    auto onGrid = [&](int v) { return configuredStart_ + step_ * ((std::abs(v - configuredStart_)) / size); };
    if (step_ > 0) {
        const int from = onGrid(std::max(configuredStart_, lowest - margin));
        const int to = std::min(configuredEnd_, highest + margin);
        configuredStart_ = from;
        configuredEnd_ = std::max(from + step_, onGrid(to));
    } else {
        const int from = onGrid(std::min(configuredStart_, highest + margin));
        const int to = std::max(configuredEnd_, lowest - margin);
        configuredStart_ = from;
        configuredEnd_ = std::min(from + step_, onGrid(to));
    }
    return 0;
}

// ---- after a run ----

int ThEqualization::rewindow(double k)
{
    if (lastMethod_ == 0 || !(k > 0))
        return -1;
    for (int chip = 0; chip < chips_; ++chip) {
        const double m = mean_[index(chip, levels_)];
        const double s = sigma_[index(chip, levels_)];
        double n = 0, sum = 0, squares = 0;
        for (uint32_t j = static_cast<uint32_t>(chip) * kChipPixels; j < (chip + 1u) * kChipPixels; ++j) {
            const double e = edge(levels_, j);
            const bool inside = e != 0 && e >= m - k * s && e <= m + k * s;
            const bool enabled = (base_[j] & 1) != 0;
            if (inside) {
                base_[j] = static_cast<uint8_t>(base_[j] | 1u);
                n += 1;
                sum += e;
                squares += e * e;
                if (!enabled) {
                    --masked_[static_cast<size_t>(chip)];
                    --maskedTotal_;
                }
            } else if (enabled) {
                base_[j] = static_cast<uint8_t>(base_[j] & ~1u);
                ++masked_[static_cast<size_t>(chip)];
                ++maskedTotal_;
            }
        }
        if (n >= 2) {
            finalMean_[static_cast<size_t>(chip)] = sum / n;
            finalSigma_[static_cast<size_t>(chip)] =
                std::sqrt(std::max(0.0, n / (n - 1) * (squares / n - (sum / n) * (sum / n))));
        } else {
            finalMean_[static_cast<size_t>(chip)] = finalSigma_[static_cast<size_t>(chip)] = -1;
        }
    }
    if (sendConfig(base_) != 0)
        return fail("Equalization: setting pix. cfgs. failed, aborting operation.");
    windowFactor_ = k;
    return 0;
}

int ThEqualization::thresholdFromNoise(double percent)
{
    if (lastMethod_ != kThlNoiseEdge || !(percent >= 0 && percent <= 100))
        return -1;
    std::vector<uint16_t> dacs(static_cast<size_t>(chips_ * dacsPerChip_));
    if (table_->tvkCtrlGetDACs(dev_, dacs.data(), static_cast<int>(dacs.size()), -1) != 0)
        return fail("Cannot get DACs/Pixel cfgs, aborting operation.");
    const double m = windowFactor_ > 0 ? windowFactor_ : kWindowSigmas;
    const bool upward = step_ > 0;
    for (int chip = 0; chip < chips_; ++chip) {
        const double mean = mean_[index(chip, levels_)];
        const double sigma = sigma_[index(chip, levels_)];
        int f = static_cast<int>(upward ? mean + m * sigma : mean - m * sigma + 1);
        f = std::clamp(f, 0, range_ - 1);
        // The chip's own unmasked pixels, fixed before stepping: p % of them keep responding.
        const double unmasked = kChipPixels - masked_[static_cast<size_t>(chip)];
        const double target = percent * unmasked / 100.0;
        double remaining = unmasked;
        while (remaining > target) {
            const int next = upward ? f - 1 : f + 1;
            if (next < 0 || next >= range_)
                break;
            remaining -= hist_[histIndex(levels_, chip, f)];
            f = next;
        }
        dacs[static_cast<size_t>(chip * dacsPerChip_ + scanned_)] = static_cast<uint16_t>(f);
    }
    if (table_->tvkCtrlSetDACs(dev_, dacs.data(), static_cast<int>(dacs.size()), -1, 0, 0) != 0)
        return fail("Equalization: setting DACs failed, aborting operation.");
    noisePercent_ = percent;
    return 0;
}

int ThEqualization::balanceChips()
{
    if (lastMethod_ == 0 || chips_ < 2)
        return -1;
    const double s0 = 3 * sigma_[index(0, levels_)];
    const double m0 = mean_[index(0, levels_)];
    if (!(s0 > 0))
        return -1;
    std::vector<double> pairs;
    for (int chip = 1; chip < chips_; ++chip) {
        const double si = 3 * sigma_[index(chip, levels_)];
        const double mi = mean_[index(chip, levels_)];
        pairs.push_back(si / s0);
        pairs.push_back(mi - m0 * si / s0);
    }
    return table_->tvkCtrlSetDACRefCoef(dev_, pairs.data(), static_cast<int>(pairs.size()), thhMethod() ? 2 : 1);
}

double ThEqualization::spreadWidth(int chip) const
{
    const double s0 = sigma_[index(chip, 0)];
    const double s1 = sigma_[index(chip, levels_ - 1)];
    if (s0 < 0 || s1 < 0)
        return -1;
    return (3 * s0 + 3 * s1) * ((levels_ - 1.0) / levels_);
}

int ThEqualization::writeDistributions(const std::string& path, std::string* error) const
{
    if (lastMethod_ == 0)
        return -1;
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "Threshold equalization distributions\nType: %s\nFrom: %d\nTo: %d\nStep: %d\n",
                  methodLabel(lastMethod_), configuredStart_, configuredEnd_, step_);
    text += line;
    std::vector<int> columns;
    for (int a = 0; a < levels_; a += lastMode_ == 1 ? levels_ - 1 : 1)
        columns.push_back(a);
    for (int chip = 0; chip < chips_; ++chip) {
        std::snprintf(line, sizeof line, "Chip %d\n", chip);
        text += line;
        for (int a : columns) {
            std::snprintf(line, sizeof line, "Adj. bits %d\t", a);
            text += line;
        }
        text += "Adj. equalized\n";
        for (int c = configuredStart_; step_ > 0 ? c < configuredEnd_ : c > configuredEnd_; c += step_) {
            for (int a : columns) {
                std::snprintf(line, sizeof line, "%10d\t", hist_[histIndex(a, chip, c)]);
                text += line;
            }
            std::snprintf(line, sizeof line, "%10d\n", hist_[histIndex(levels_, chip, c)]);
            text += line;
        }
    }
    std::string reason;
    const int r = plat::replaceFile(path, text.data(), text.size(), &reason);
    if (r != 0) {
        char message[1024];
        std::snprintf(message, sizeof message,
                      r == -6 ? "Cannot open file %s for writing distributions: %s." : "Writing to file %s failed: %s.",
                      path.c_str(), reason.c_str());
        if (error)
            *error = message;
        if (table_ && table_->mgrLogMsg)
            table_->mgrLogMsg(kLogSource, "%s", 0, message);
        return -1;
    }
    return 0;
}

} // namespace equalizer
