#include "dep_scan.h"

#include <algorithm>
#include <new>

#include "platform/file_write.h"
#include "platform/numbers.h"

namespace equalizer {

namespace {
constexpr const char* kSource = "equalizer";
constexpr const char* kAbortedText = "Dependency scan aborted.";
} // namespace

int DepScan::failWith(const std::string& text)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        error_ = text;
    }
    if (table_ && table_->mgrLogMsg)
        table_->mgrLogMsg(kSource, "%s", 0, text.c_str());
    return -1;
}

std::string DepScan::lastError() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return error_;
}

std::vector<DepCurve> DepScan::curves() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return curves_;
}

int DepScan::setUp(const _MgrFuncTable* table, unsigned devId)
{
    bound_ = false;
    configured_ = false;
    table_ = table;
    dev_ = devId;
    if (!table || !table->tvkCtrlGetDevInfo || !table->tvkCtrlGetDACsNames)
        return failWith("The device functions are not available.");
    _DevInfo info{};
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    if (table->tvkCtrlGetDevInfo(devId, &info) != 0 || info.chipCount <= 0)
        return failWith("Cannot read the device's information.");
    if (table->tvkCtrlGetDACsNames(devId, &names, &bits, &count) != 0 || !names || !bits || count <= 0 || count > 32)
        return failWith("Cannot read the device's DAC names.");
    chips_ = info.chipCount;
    names_.clear();
    largest_.clear();
    for (int i = 0; i < count; ++i) {
        names_.emplace_back(names[i] ? names[i] : "");
        largest_.push_back(bits[i] > 0 && bits[i] <= 16 ? (1 << bits[i]) - 1 : 0);
    }
    bound_ = true;
    return 0;
}

int DepScan::configure(uint32_t mask, bool othersAtMiddle, int from, int to, int step, const std::string& path)
{
    if (!bound_)
        return failWith("The dependency scan has no device.");
    if (from < 0)
        return failWith("Scan FROM (" + std::to_string(from) + ") must not be negative.");
    if (step <= 0)
        return failWith("Scan STEP (" + std::to_string(step) + ") must be positive.");
    if (from > to)
        return failWith("Scan FROM (" + std::to_string(from) + ") is above scan TO (" + std::to_string(to) + ").");
    const int count = static_cast<int>(names_.size());
    const uint32_t valid = count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1u;
    if (mask == 0 || (mask & ~valid) != 0)
        return failWith("Invalid DACs mask (0x" + [&] {
                   char text[16];
                   std::snprintf(text, sizeof text, "%X", mask);
                   return std::string(text);
               }() + "), the device has " + std::to_string(count) + " DACs.");
    for (int i = 0; i < count; ++i)
        if ((mask >> i) & 1u && from > largest_[static_cast<size_t>(i)])
            return failWith("Scan FROM (" + std::to_string(from) + ") is above the largest value of DAC " +
                            names_[static_cast<size_t>(i)] + " (" + std::to_string(largest_[static_cast<size_t>(i)]) +
                            ").");
    // DACs narrower than the range are scanned to their largest value: grouped by it, one sentence each.
    std::string notice;
    int planned = 0;
    std::vector<int> cutTo;
    for (int i = 0; i < count; ++i) {
        if (!((mask >> i) & 1u))
            continue;
        const int largest = largest_[static_cast<size_t>(i)];
        planned += (std::min(to, largest) - from) / step + 1;
        if (largest < to && std::find(cutTo.begin(), cutTo.end(), largest) == cutTo.end())
            cutTo.push_back(largest);
    }
    for (int largest : cutTo) {
        std::string names;
        int n = 0;
        for (int i = 0; i < count; ++i)
            if ((mask >> i) & 1u && largest_[static_cast<size_t>(i)] == largest) {
                names += (n++ ? ", " : "") + names_[static_cast<size_t>(i)];
            }
        notice += std::string(notice.empty() ? "" : " ") + "Scan TO (" + std::to_string(to) + ") is cut to " +
                  std::to_string(largest) + " for " + names + (n > 1 ? " (their largest value)." : " (its largest value).");
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        notice_ = notice;
    }
    planned_ = planned;
    mask_ = mask;
    middle_ = othersAtMiddle;
    from_ = from;
    to_ = to;
    step_ = step;
    path_ = path;
    configured_ = true;
    return 0;
}

std::string DepScan::notice() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return notice_;
}

int DepScan::plannedCodes() const
{
    return planned_;
}

int DepScan::scanDac(size_t curve, std::vector<uint16_t>& dacs)
{
    const int count = static_cast<int>(names_.size());
    const int index = curves_[curve].dacIndex;
    const int last = std::min(to_, largest_[static_cast<size_t>(index)]);
    std::vector<double> values(static_cast<size_t>(2 * chips_));
    for (int code = from_; code <= last; code += step_) {
        if (abort_) {
            failWith(kAbortedText);
            return kDepScanAborted;
        }
        for (int chip = 0; chip < chips_; ++chip)
            dacs[static_cast<size_t>(chip * count + index)] = static_cast<uint16_t>(code);
        if (table_->tvkCtrlSetDACs(dev_, dacs.data(), static_cast<int>(dacs.size()), -1, 0, 0) != 0)
            return failWith("Setting DAC " + names_[static_cast<size_t>(index)] + " to " + std::to_string(code) +
                            " failed.");
        if (table_->tvkCtrlGetSingleDACAnalog(dev_, values.data(), static_cast<int>(values.size()), index, -1, 1) != 0)
            return failWith("Reading the analog value of DAC " + names_[static_cast<size_t>(index)] + " at " +
                            std::to_string(code) + " failed.");
        std::lock_guard<std::mutex> guard(mutex_);
        DepCurve& c = curves_[curve];
        c.codes.push_back(code);
        c.means.insert(c.means.end(), values.begin(), values.begin() + chips_);
        c.deviations.insert(c.deviations.end(), values.begin() + chips_, values.end());
        if (code > last - step_)
            break; // no overflow past the last code
    }
    return 0;
}

int DepScan::writeFile() const
{
    std::string text;
    for (const DepCurve& c : curves_) {
        if (!text.empty())
            text += '\n';
        text += "# " + c.name + "\n";
        for (size_t k = 0; k < c.codes.size(); ++k) {
            text += std::to_string(c.codes[k]);
            for (int chip = 0; chip < chips_; ++chip) {
                const size_t at = k * static_cast<size_t>(chips_) + static_cast<size_t>(chip);
                text += '\t' + plat::formatFixed(c.means[at], 4) + '\t' + plat::formatFixed(c.deviations[at], 4);
            }
            text += '\n';
        }
    }
    std::string error;
    if (plat::replaceFile(path_, text.data(), text.size(), &error) != 0)
        return const_cast<DepScan*>(this)->failWith("Cannot write the dependency scan file " + path_ + ": " + error);
    return 0;
}

int DepScan::run(const std::function<void(bool)>& ended)
{
    // An abort asked for before the worker got here still counts; the flag is cleared when the run ends.
    const struct ClearAbort {
        std::atomic<bool>& flag;
        ~ClearAbort() { flag = false; }
    } clearAbort{abort_};
    auto finish = [&](int result) {
        if (ended)
            ended(result == 0);
        return result;
    };
    if (!configured_)
        return finish(failWith("The dependency scan is not configured."));
    const int count = static_cast<int>(names_.size());
    std::vector<uint16_t> original;
    try {
        original.assign(static_cast<size_t>(chips_ * count), 0);
        std::lock_guard<std::mutex> guard(mutex_);
        error_.clear();
        curves_.clear();
        for (int i = 0; i < count; ++i)
            if ((mask_ >> i) & 1u)
                curves_.push_back(DepCurve{names_[static_cast<size_t>(i)], i, {}, {}, {}});
    } catch (const std::bad_alloc&) {
        return finish(failWith("Not enough memory for the dependency scan."));
    }
    if (table_->tvkCtrlGetDACs(dev_, original.data(), static_cast<int>(original.size()), -1) != 0)
        return finish(failWith("Reading the device's DACs failed."));
    std::vector<uint16_t> dacs(original);
    if (middle_)
        for (int chip = 0; chip < chips_; ++chip)
            for (int i = 0; i < count; ++i)
                dacs[static_cast<size_t>(chip * count + i)] =
                    static_cast<uint16_t>((largest_[static_cast<size_t>(i)] + 1) / 2);
    int result = 0;
    for (size_t c = 0; result == 0 && c < curves_.size(); ++c) {
        result = scanDac(c, dacs);
        // The scanned DAC goes back before the next one moves.
        const int index = curves_[c].dacIndex;
        for (int chip = 0; chip < chips_; ++chip)
            dacs[static_cast<size_t>(chip * count + index)] = middle_
                                                                   ? static_cast<uint16_t>((largest_[static_cast<size_t>(index)] + 1) / 2)
                                                                   : original[static_cast<size_t>(chip * count + index)];
    }
    if (table_->tvkCtrlSetDACs(dev_, original.data(), static_cast<int>(original.size()), -1, 0, 0) != 0 && result == 0)
        result = failWith("Restoring original values of DACs failed.");
    if (result == 0 && !path_.empty())
        result = writeFile();
    return finish(result);
}

} // namespace equalizer
