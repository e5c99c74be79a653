#include "dac_scan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <new>

#include "platform/file_write.h"
#include "platform/numbers.h"
#include "platform/syserror.h"

namespace equalizer {

namespace {

constexpr uint32_t kChipPixels = 65536;
constexpr uint32_t kIntegrationType = 263; // u32, zeroed
constexpr uint32_t kLockTimeoutMs = 2000;
constexpr const char* kSource = "equalizer";

int digits(int v)
{
    int n = 1;
    for (v = std::abs(v); v >= 10; v /= 10)
        ++n;
    return n;
}

// value with leading zeros to width digits.
std::string padded(int value, int width)
{
    std::string text = std::to_string(value);
    return text.size() < static_cast<size_t>(width) ? std::string(static_cast<size_t>(width) - text.size(), '0') + text
                                                    : text;
}

// The k-th smallest of the values counted in a histogram of 65,536 bins.
uint32_t kthOfHistogram(const std::vector<uint32_t>& bins, uint32_t k)
{
    uint32_t seen = 0;
    for (uint32_t v = 0; v < bins.size(); ++v) {
        seen += bins[v];
        if (seen > k)
            return v;
    }
    return 0;
}

} // namespace

uint32_t medianOfAll(const uint16_t* counts)
{
    std::vector<uint32_t> bins(65536, 0);
    for (uint32_t j = 0; j < kChipPixels; ++j)
        ++bins[counts[j]];
    return kthOfHistogram(bins, kChipPixels / 2);
}

uint32_t medianOfEnabled(const uint16_t* counts, const uint8_t* cfg)
{
    // With the disabled pixels' counts at 0 in front, element 65,536 - n + n/2 of the sorted counts is the
    // (n/2)-th smallest count of the enabled pixels.
    std::vector<uint32_t> bins(65536, 0);
    uint32_t n = 0;
    for (uint32_t j = 0; j < kChipPixels; ++j)
        if (cfg[j] & 1) {
            ++bins[counts[j]];
            ++n;
        }
    return n < 1 ? 0 : kthOfHistogram(bins, n / 2);
}

DacScan::~DacScan()
{
    if (logFile_)
        std::fclose(logFile_);
}

int DacScan::fail(int level, const char* format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (table_ && table_->mgrLogMsg)
        table_->mgrLogMsg(kSource, "%s", level, text);
    return -1;
}

int DacScan::setUp(const _MgrFuncTable* table, unsigned devId, std::function<void(unsigned)> notify)
{
    bound_ = false;
    if (!table)
        return -1;
    table_ = table;
    dev_ = devId;
    notify_ = std::move(notify);
    _DevInfo info{};
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    if (table_->tvkCtrlGetDevInfo(devId, &info) != 0 ||
        table_->tvkCtrlGetDACsNames(devId, &names, &bits, &count) != 0 || !names || !bits || count <= 0)
        return -1;
    if (info.chipCount <= 0 || info.rowLength <= 0 || info.pixelCount != info.chipCount * static_cast<int>(kChipPixels))
        return -1;
    chipType_ = info.chipType;
    {
        // The history is laid out by chips: runs of another chip count cannot stay beside the new ones.
        std::lock_guard<std::mutex> guard(historyMutex_);
        if (chips_ != info.chipCount)
            history_.clear();
        chips_ = info.chipCount;
    }
    pixels_ = static_cast<uint32_t>(info.pixelCount);
    width_ = static_cast<uint32_t>(info.rowLength);
    height_ = pixels_ / width_;
    dacCount_ = count;
    names_.clear();
    largest_.clear();
    thl_ = thh_ = fbk_ = -1;
    for (int i = 0; i < count; ++i) {
        names_.emplace_back(names[i] ? names[i] : "");
        largest_.push_back(bits[i] > 0 && bits[i] <= 16 ? (1 << bits[i]) - 1 : 0);
        if (names_.back() == "THL")
            thl_ = i;
        else if (names_.back() == "THH")
            thh_ = i;
        else if (names_.back() == "FBK")
            fbk_ = i;
    }
    if (thl_ < 0 || fbk_ < 0 || (thh_ < 0 && chipType_ != 3))
        return -1;
    bound_ = true;
    return 0;
}

int DacScan::setRange(int to, int followIndex, int scannedIndex, int from, int step, bool follow, int followOffset,
                      std::string* why)
{
    const auto refuse = [why](const std::string& text) {
        if (why)
            *why = text;
        return -1;
    };
    if (!bound_)
        return refuse("The DAC scan has no device.");
    if (scannedIndex < 0 || scannedIndex >= dacCount_)
        return refuse("Scanned DAC (" + std::to_string(scannedIndex) + ") is outside the device's DACs, 0.." +
                      std::to_string(dacCount_ - 1) + ".");
    if (step <= 0)
        return refuse("Step (" + std::to_string(step) + ") must be positive.");
    const int largest = largest_[static_cast<size_t>(scannedIndex)];
    const std::string allowed = " is outside the range of " + names_[static_cast<size_t>(scannedIndex)] + ", 0.." +
                                std::to_string(largest) + ".";
    if (from < 0 || from > largest)
        return refuse("From (" + std::to_string(from) + ")" + allowed);
    if (to < 0 || to > largest)
        return refuse("To (" + std::to_string(to) + ")" + allowed);
    if (follow && (followIndex < 0 || followIndex >= dacCount_))
        return refuse("Following DAC (" + std::to_string(followIndex) + ") is outside the device's DACs, 0.." +
                      std::to_string(dacCount_ - 1) + ".");
    to_ = to;
    followIndex_ = followIndex;
    scanned_ = scannedIndex;
    from_ = from;
    step_ = to >= from ? step : -step;
    follow_ = follow;
    followOffset_ = followOffset;
    return 0;
}

int DacScan::stepCount() const
{
    // In 64 bits: a step far above the range (up to the largest int) is one step, not an overflow.
    const int64_t size = std::abs(static_cast<int64_t>(step_));
    return static_cast<int>((std::abs(static_cast<int64_t>(to_) - from_) + size) / size);
}

int DacScan::setOutput(const std::string& path, uint32_t fileFlags, bool log)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        base_ = path.substr(0, dot);
        extension_ = path.substr(dot);
    } else {
        base_ = path;
        extension_.clear();
    }
    fileFlags_ = fileFlags;
    log_ = log;
    return 0;
}

void DacScan::setAcquisition(int perStep, double time, int spacing, bool integrate)
{
    perStep_ = std::max(perStep, 1);
    acqTime_ = time;
    spacing_ = spacing;
    integrate_ = integrate;
}

void DacScan::setTestPulses(bool on, double height, double period, uint32_t count, uint32_t columnMask)
{
    testPulses_ = on;
    tpHeight_ = height;
    tpPeriod_ = period;
    tpCount_ = count;
    tpMask_ = columnMask;
}

std::string DacScan::fileName(int value, int acquisition) const
{
    std::string label = names_[static_cast<size_t>(scanned_)];
    if (follow_)
        label += "-w" + std::to_string(followOffset_) + names_[static_cast<size_t>(followIndex_)];
    label = label.substr(0, 63);
    std::string name = base_ + "_" + label + "_" + padded(value, digits(std::max(from_, to_)));
    if (perStep_ >= 2 && !integrate_ && acquisition >= 0)
        name += "_" + padded(acquisition, digits(perStep_ - 1));
    return name + extension_;
}

// ---- a run ----

void DacScan::abort()
{
    abort_ = true;
    // Not outside a run: the device may then be another tool's.
    if (running_ && table_ && table_->tvkCtrlAbortOperation)
        table_->tvkCtrlAbortOperation(dev_);
}

int DacScan::run()
{
    // An abort asked for before the worker got here still counts; the flags are cleared when the run ends.
    running_ = true;
    const struct ClearAbort {
        std::atomic<bool>& flag;
        std::atomic<bool>& running;
        ~ClearAbort()
        {
            running = false;
            flag = false;
        }
    } clearAbort{abort_, running_};
    if (!bound_ || scanned_ < 0)
        return -1;
    if (prepare() != 0)
        return -1;
    if (log_ && openLog() != 0)
        return -1;
    int savedSpacing = 1;
    int savedConv = 1;
    table_->tvkCtrlGetAcqSpacing(dev_, &savedSpacing);
    table_->tvkCtrlGetAutoConvToSM(dev_, &savedConv);
    int result = 0;
    if (table_->tvkCtrlSetAcqSpacing(dev_, spacing_) != 0 || table_->tvkCtrlSetAutoConvToSM(dev_, 0) != 0)
        result = fail(0, "Setting acquisition spacing failed, aborting operation.");
    if (result == 0)
        result = readConfig();
    if (result == 0 && integrate_ &&
        table_->mgrCreateFrame(&integration_, width_, height_, kIntegrationType, "DAC Scan") != 0) {
        integration_ = 0;
        result = fail(0, "Cannot create integration frame, aborting operation.");
    }
    const int steps = stepCount();
    for (int step = 0; result == 0 && step < steps; ++step) {
        // Every value visited lies between from and to; the one past the last step is never formed.
        const int value = static_cast<int>(from_ + static_cast<int64_t>(step) * step_);
        if (setStepDacs(value) != 0)
            result = -1;
        else if (readConfig() != 0)
            result = -1;
        else if (abort_)
            result = kScanAborted;
        else
            result = acquireStep(value, step);
    }
    // Every exit restores what the scan changed and closes what it opened.
    if (integration_ != 0) {
        table_->mgrCloseFrame(integration_, nullptr);
        integration_ = 0;
    }
    if (logFile_) {
        std::fclose(logFile_);
        logFile_ = nullptr;
    }
    table_->tvkCtrlSetAcqSpacing(dev_, savedSpacing);
    table_->tvkCtrlSetAutoConvToSM(dev_, savedConv);
    if (table_->tvkCtrlSetDACs(dev_, originalDacs_.data(), static_cast<int>(originalDacs_.size()), -1, 0, 0) != 0)
        fail(0, "Restoring original values of DACs failed.");
    return result;
}

int DacScan::prepare()
{
    try {
        dacs_.assign(static_cast<size_t>(chips_ * dacCount_), 0);
        frame_.assign(pixels_, 0);
        cfg_.assign(pixels_, 0);
        enabled_.assign(static_cast<size_t>(chips_), 0);
    } catch (const std::bad_alloc&) {
        return fail(0, "Memory allocation failed, aborting operation.");
    }
    if (table_->tvkCtrlGetDACs(dev_, dacs_.data(), static_cast<int>(dacs_.size()), -1) != 0)
        return fail(0, "Cannot get DACs, aborting operation.");
    originalDacs_ = dacs_;
    std::lock_guard<std::mutex> guard(historyMutex_);
    history_.resize(history_.size() + static_cast<size_t>(chips_));
    return 0;
}

int DacScan::openLog()
{
    logPath_ = base_ + ".log";
    logFile_ = std::fopen(logPath_.c_str(), "w");
    if (!logFile_)
        return fail(3, "Cannot open file %s for writing scan results.", logPath_.c_str());
    const char* header =
        chipType_ == 1   ? "#\tFBK\tTHL\tTHL-FBK\t\tStdDev\t\tTHH\tTHH-FBK\t\tStdDev\t\tAcq time\n"
        : chipType_ == 2 ? "#\tFBK\tTHL coarse\tTHL\tTHL-FBK\t\tStdDev\t\tTHH coarse\tTHH\tTHH-FBK\t\tStdDev\t\tAcq time\n"
                         : "#\tFBK\tTHL coarse\tTHL\tTHL-FBK\t\tStdDev\t\tAcq time\n";
    if (std::fputs(header, logFile_) < 0 || std::fflush(logFile_) != 0) {
        const int error = errno;
        std::fclose(logFile_);
        logFile_ = nullptr;
        return fail(3, "Writing to log file %s failed: %s.", logPath_.c_str(), plat::systemErrorText(error).c_str());
    }
    return 0;
}

int DacScan::setStepDacs(int value)
{
    int second = 0;
    if (follow_)
        second = std::clamp(value + followOffset_, 0, largest_[static_cast<size_t>(followIndex_)]);
    for (int chip = 0; chip < chips_; ++chip) {
        const size_t base = static_cast<size_t>(chip * dacCount_);
        dacs_[base + static_cast<size_t>(scanned_)] = static_cast<uint16_t>(value);
        if (follow_)
            dacs_[base + static_cast<size_t>(followIndex_)] = static_cast<uint16_t>(second);
    }
    if (table_->tvkCtrlSetDACs(dev_, dacs_.data(), static_cast<int>(dacs_.size()), -1, 0, 0) != 0)
        return fail(0, "Setting DACs failed, aborting operation.");
    return 0;
}

int DacScan::readConfig()
{
    if (table_->tvkCtrlGetPixelsCfg(dev_, cfg_.data(), pixels_, -1) != 0)
        return fail(0, "Cannot get pixel cfgs, aborting operation.");
    for (int chip = 0; chip < chips_; ++chip) {
        const uint8_t* c = cfg_.data() + static_cast<size_t>(chip) * kChipPixels;
        enabled_[static_cast<size_t>(chip)] =
            static_cast<uint32_t>(std::count_if(c, c + kChipPixels, [](uint8_t b) { return (b & 1) != 0; }));
    }
    return 0;
}

int DacScan::acquireStep(int value, int step)
{
    {
        std::lock_guard<std::mutex> guard(historyMutex_);
        const size_t run = history_.size() - static_cast<size_t>(chips_);
        for (int chip = 0; chip < chips_; ++chip) {
            ScanPoint p;
            p.enabled = enabled_[static_cast<size_t>(chip)];
            p.value = value;
            history_[run + static_cast<size_t>(chip)].push_back(p);
        }
    }
    // Each step's integration holds only that step's frames.
    if (integrate_) {
        void* buffer = nullptr;
        uint32_t size = 0;
        if (table_->mgrGetLockedFrameBuff(integration_, &buffer, &size, kLockTimeoutMs) != 0)
            return fail(0, "Failed to lock integration frame.");
        std::memset(buffer, 0, size);
        table_->mgrUnlockFrame(integration_);
    }
    for (int acq = 0; acq < perStep_; ++acq) {
        if (abort_)
            return kScanAborted;
        const std::string name = fileFlags_ && !integrate_ ? fileName(value, acq) : std::string();
        if (testPulses_) {
            if (table_->tvkCtrlPerformTestPulseAcq(dev_, tpHeight_, tpPeriod_, tpCount_, tpMask_) != 0)
                return abort_ ? kScanAborted : fail(0, "Test pulse acq. failed, aborting operation.");
            if (!name.empty() && table_->tvkCtrlSaveFrame(dev_, name.c_str(), 0, fileFlags_) != 0)
                return fail(0, "Save frame failed, aborting operation.");
        } else if (table_->tvkCtrlPerformFrameAcq(dev_, 1, acqTime_, integrate_ ? 0 : fileFlags_,
                                                  name.empty() ? nullptr : name.c_str()) != 0) {
            // An acquisition that the abort ended is no failure.
            return abort_ ? kScanAborted : fail(0, "Perform acq. failed, aborting operation.");
        }
        if (table_->tvkCtrlGetFrame16(dev_, reinterpret_cast<int16_t*>(frame_.data()), pixels_, 0) != 0)
            return fail(0, "Cannot get frame, aborting operation.");
        std::vector<ScanPoint> add(static_cast<size_t>(chips_));
        for (int chip = 0; chip < chips_; ++chip) {
            const uint16_t* counts = frame_.data() + static_cast<size_t>(chip) * kChipPixels;
            const uint8_t* cfg = cfg_.data() + static_cast<size_t>(chip) * kChipPixels;
            ScanPoint& p = add[static_cast<size_t>(chip)];
            for (uint32_t j = 0; j < kChipPixels; ++j) {
                p.sumAll += counts[j];
                if (cfg[j] & 1)
                    p.sumEnabled += counts[j];
            }
            p.medianAll = medianOfAll(counts);
            p.medianEnabled = medianOfEnabled(counts, cfg);
        }
        {
            std::lock_guard<std::mutex> guard(historyMutex_);
            const size_t run = history_.size() - static_cast<size_t>(chips_);
            for (int chip = 0; chip < chips_; ++chip) {
                ScanPoint& p = history_[run + static_cast<size_t>(chip)].back();
                const ScanPoint& a = add[static_cast<size_t>(chip)];
                p.sumAll += a.sumAll;
                p.sumEnabled += a.sumEnabled;
                p.medianAll += a.medianAll;
                p.medianEnabled += a.medianEnabled;
            }
        }
        if (integrate_ && integrate() != 0)
            return -1;
        if (notify_)
            notify_(kMsgScanProgress);
    }
    if (integrate_ && fileFlags_ != 0 &&
        table_->mgrSaveFrame(integration_, fileName(value, -1).c_str(), fileFlags_) != 0)
        return fail(0, "Save frame failed, aborting operation.");
    if (log_)
        return writeLogLine(step + 1);
    return 0;
}

int DacScan::integrate()
{
    void* buffer = nullptr;
    uint32_t size = 0;
    if (table_->mgrGetLockedFrameBuff(integration_, &buffer, &size, kLockTimeoutMs) != 0)
        return fail(0, "Failed to lock integration frame.");
    auto* sum = static_cast<uint32_t*>(buffer);
    const uint32_t n = std::min<uint32_t>(size / sizeof(uint32_t), pixels_);
    for (uint32_t j = 0; j < n; ++j)
        sum[j] += frame_[j];
    table_->mgrUnlockFrame(integration_);
    return 0;
}

int DacScan::writeLogLine(int step)
{
    auto analog = [&](int dac, double* mean, double* deviation) {
        double values[2] = {0, 0};
        // A failed reading is told in the log; its line keeps its columns (zeros) so the file stays aligned.
        if (dac >= 0 && table_->tvkCtrlGetSingleDACAnalog(dev_, values, 2, dac, 0, 1) != 0) {
            fail(0, "Reading the analog value of DAC %s failed.", names_[static_cast<size_t>(dac)].c_str());
            values[0] = values[1] = 0;
        }
        *mean = values[0];
        *deviation = values[1];
    };
    double thl = 0, thlSd = 0, fbk = 0, fbkSd = 0, thh = 0, thhSd = 0;
    analog(thl_, &thl, &thlSd);
    analog(fbk_, &fbk, &fbkSd);
    if (chipType_ != 3)
        analog(thh_, &thh, &thhSd);
    const double lowDiff = thl - fbk, lowSd = std::sqrt(fbkSd * fbkSd + thlSd * thlSd);
    const double highDiff = thh - fbk, highSd = std::sqrt(fbkSd * fbkSd + thhSd * thhSd);
    auto dac = [&](int index) {
        return std::to_string(index >= 0 && index < dacCount_ ? dacs_[static_cast<size_t>(index)] : 0);
    };
    auto fixed = [](double v) { return plat::formatFixed(v, 4); };
    // Tab-separated as the header names the columns; numbers in the C locale whatever the user's.
    std::string line = std::to_string(step) + "\t" + dac(fbk_) + "\t";
    if (chipType_ != 1)
        line += dac(thl_ + 1) + "\t"; // the coarse setting follows the fine one
    line += dac(thl_) + "\t" + fixed(lowDiff) + "\t\t" + fixed(lowSd) + "\t\t";
    if (chipType_ != 3) {
        if (chipType_ == 2)
            line += dac(thh_ + 1) + "\t";
        line += dac(thh_) + "\t" + fixed(highDiff) + "\t\t" + fixed(highSd) + "\t\t";
    }
    line += plat::formatGeneral(acqTime_, 5) + " (" + std::to_string(perStep_) + "x)\n";
    const int r = std::fputs(line.c_str(), logFile_);
    if (r < 0 || std::fflush(logFile_) != 0)
        return fail(3, "Writing to log file %s failed: %s.", logPath_.c_str(), plat::systemErrorText(errno).c_str());
    return 0;
}

// ---- history ----

int DacScan::runCount() const
{
    std::lock_guard<std::mutex> guard(historyMutex_);
    return chips_ > 0 ? static_cast<int>(history_.size()) / chips_ : 0;
}

int DacScan::pointCount(int run) const
{
    std::lock_guard<std::mutex> guard(historyMutex_);
    const size_t at = static_cast<size_t>(run) * static_cast<size_t>(chips_);
    return run >= 0 && at < history_.size() ? static_cast<int>(history_[at].size()) : 0;
}

int DacScan::firstValue(int run) const
{
    std::lock_guard<std::mutex> guard(historyMutex_);
    const size_t at = static_cast<size_t>(run) * static_cast<size_t>(chips_);
    return run >= 0 && at < history_.size() && !history_[at].empty() ? history_[at][0].value : 0;
}

int DacScan::runStep(int run) const
{
    std::lock_guard<std::mutex> guard(historyMutex_);
    const size_t at = static_cast<size_t>(run) * static_cast<size_t>(chips_);
    if (run < 0 || at >= history_.size() || history_[at].size() < 2)
        return 0;
    return history_[at][1].value - history_[at][0].value;
}

bool DacScan::historyEmpty() const
{
    std::lock_guard<std::mutex> guard(historyMutex_);
    return history_.empty();
}

void DacScan::clearHistory()
{
    std::lock_guard<std::mutex> guard(historyMutex_);
    history_.clear();
}

double DacScan::pointValue(const ScanPoint& p, int kind, bool enabledOnly) const
{
    switch (kind) {
    case 0: return enabledOnly ? p.medianEnabled : p.medianAll;
    case 1: return p.enabled == 0 ? 0.0 : static_cast<double>(enabledOnly ? p.sumEnabled : p.sumAll) / p.enabled;
    case 2: return static_cast<double>(enabledOnly ? p.sumEnabled : p.sumAll);
    default: return 0.0;
    }
}

double DacScan::value(int run, int point, int chip, int kind, bool enabledOnly, bool difference) const
{
    std::lock_guard<std::mutex> guard(historyMutex_);
    if (run < 0 || chip < 0 || chip >= chips_ || point < 0)
        return 0.0;
    const size_t at = static_cast<size_t>(run) * static_cast<size_t>(chips_) + static_cast<size_t>(chip);
    if (at >= history_.size() || static_cast<size_t>(point) >= history_[at].size())
        return 0.0;
    const std::vector<ScanPoint>& points = history_[at];
    const double v = pointValue(points[static_cast<size_t>(point)], kind, enabledOnly);
    if (!difference)
        return v;
    return point == 0 ? 0.0 : v - pointValue(points[static_cast<size_t>(point - 1)], kind, enabledOnly);
}

int DacScan::writeResults(const std::string& path, int kind, bool enabledOnly, bool difference, bool header) const
{
    std::string text;
    char number[64];
    for (int r = 0; r < runCount(); ++r) {
        const int points = pointCount(r);
        if (points == 0)
            continue;
        if (header) {
            std::lock_guard<std::mutex> guard(historyMutex_);
            const std::vector<ScanPoint>& first = history_[static_cast<size_t>(r) * static_cast<size_t>(chips_)];
            for (int k = 0; k < points; ++k) {
                std::snprintf(number, sizeof number, "%d%s", first[static_cast<size_t>(k)].value,
                              k + 1 < points ? "\t" : "\n");
                text += number;
            }
        }
        for (int chip = 0; chip < chips_; ++chip)
            for (int k = 0; k < points; ++k) {
                text += plat::formatGeneral(value(r, k, chip, kind, enabledOnly, difference), 5);
                text += k + 1 < points ? "\t" : "\n";
            }
        text += "\n";
    }
    std::string reason;
    const int r = plat::replaceFile(path, text.data(), text.size(), &reason);
    if (r == -6) {
        char message[1024];
        std::snprintf(message, sizeof message, "Cannot open file %s for writing scan results.", path.c_str());
        if (table_ && table_->mgrLogMsg)
            table_->mgrLogMsg(kSource, "%s", 3, message);
        return -1;
    }
    if (r != 0) {
        if (table_ && table_->mgrLogMsg)
            table_->mgrLogMsg(kSource, "%s", 3, reason.c_str());
        return -1;
    }
    return 0;
}

} // namespace equalizer
