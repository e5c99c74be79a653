#include "chip_test.h"

#include <algorithm>
#include <ctime>
#include <new>

#include "platform/file_write.h"
#include "platform/numbers.h"

namespace probing {

namespace {

constexpr unsigned kStepLockMs = 1000;
constexpr const char* kDig = "Digital test";
constexpr const char* kScan = "DACs dep. scan";
constexpr const char* kAnin = "ANIN test";

// Each number followed by two blanks.
template <class Get>
std::string perChip(const std::vector<ChipResults>& chips, Get get)
{
    std::string out;
    for (const ChipResults& c : chips)
        out += std::to_string(get(c)) + "  ";
    return out;
}

} // namespace

ChipTest::ChipTest(const _MgrFuncTable* table, unsigned devId, const ChipTestSettings& settings,
                   DepScanClient* depScan, PreviewClient* preview, ProbeUi* ui, const std::atomic<bool>& abort)
    : t_(table), dev_(devId), s_(settings), depScan_(depScan), preview_(preview), ui_(ui), abort_(abort)
{
}

std::string ChipTest::path(const DieContext& die, const char* suffix) const
{
    return s_.outputDir + "/" + die.testName + suffix;
}

bool ChipTest::takeDevice(const char* step, DevLock& lock)
{
    t_->tvkCtrlTryLockDevice(dev_, &lock.locked, kStepLockMs);
    if (!lock.locked) {
        ui_->result(step, "Failed: Tarvik device is busy.");
        return false;
    }
    ui_->result(step, "Running");
    return true;
}

int ChipTest::run(const DieContext& die)
{
    ui_->clearResults();
    if (s_.showPreview && !(preview_ && preview_->isOpen()))
        ui_->result("Preview", "No preview window (plug-in \"tvkctrlui\" not available).");
    if (t_->tvkCtrlGetDevInfo(dev_, &info_) != 0 || info_.chipCount <= 0 || info_.chipCount > 4) {
        ui_->result(kDig, "Digital test failed.");
        return kNoClass;
    }
    chipCount_ = info_.chipCount;
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    dacNames_.clear();
    dacBits_.clear();
    if (t_->tvkCtrlGetDACsNames(dev_, &names, &bits, &count) == 0 && names && bits && count > 0 && count <= 64)
        for (int i = 0; i < count; ++i) {
            dacNames_.emplace_back(names[i] ? names[i] : "");
            dacBits_.push_back(bits[i]);
        }
    try {
        const size_t pixels = static_cast<size_t>(chipCount_) * kChipPixels;
        digitalFrame_.assign(pixels, 0);
        aninFrame_.assign(pixels, 0);
        chips_.assign(static_cast<size_t>(chipCount_), ChipResults{});
    } catch (const std::bad_alloc&) {
        ui_->result(kDig, "Memory allocation error.");
        return kNoClass;
    }
    for (ChipResults& c : chips_)
        c.chipId = info_.chipboardId;
    if (!dacNames_.empty()) {
        std::vector<uint16_t> all(dacNames_.size() * chips_.size());
        if (t_->tvkCtrlGetDACs(dev_, all.data(), static_cast<int>(all.size()), -1) == 0)
            for (size_t c = 0; c < chips_.size(); ++c)
                chips_[c].dacs.assign(all.begin() + static_cast<long>(c * dacNames_.size()),
                                      all.begin() + static_cast<long>((c + 1) * dacNames_.size()));
    }
    const bool done = digitalTest(die) && !abort_ && dependencyScan(die) && !abort_ && aninTest(die);
    if (done)
        classify();
    writeLog(die);
    return chips_.empty() ? kNoClass : chips_[0].chipClass;
}

void ChipTest::saveFrame(const char* step, const std::string& file)
{
    if (t_->tvkCtrlSaveFrame(dev_, file.c_str(), 0, kResultFileFlags) == 0)
        ui_->result(step, "Result saved in \"" + file + "\"");
    else
        ui_->result(step, "Failed to save result to \"" + file + "\"");
}

bool ChipTest::digitalTest(const DieContext& die)
{
    DevLock lock(t_, static_cast<int>(dev_));
    if (!takeDevice(kDig, lock))
        return false;
    int good = 0;
    if (t_->tvkCtrlPerformDigitalTest(dev_, &good, nullptr, 1, 0.0) != 0) {
        ui_->result(kDig, "Digital test failed.");
        return false;
    }
    if (t_->tvkCtrlGetFrame16(dev_, digitalFrame_.data(), static_cast<uint32_t>(digitalFrame_.size()), 0) != 0) {
        ui_->result(kDig, "Getting dig. test frame data failed.");
        return false;
    }
    if (preview_)
        preview_->showFrame();
    for (size_t c = 0; c < chips_.size(); ++c)
        chips_[c].digital = analyseDigital(digitalFrame_.data() + c * kChipPixels, s_.badColPixCount);
    ui_->result("Dig. bad columns", perChip(chips_, [](const ChipResults& c) { return c.digital.badColumns; }));
    ui_->result("Dig. bad pixels", perChip(chips_, [](const ChipResults& c) { return c.digital.badPixels; }));
    saveFrame(kDig, path(die, "_DigTest.dat"));
    return true;
}

bool ChipTest::dependencyScan(const DieContext& die)
{
    uint32_t mask = 0;
    int largest = 0;
    {
        DevLock lock(t_, static_cast<int>(dev_));
        if (!takeDevice(kScan, lock))
            return false;
        for (size_t i = 0; i < dacBits_.size() && i < 32; ++i) {
            mask |= 1u << i;
            largest = std::max(largest, (1 << std::clamp(dacBits_[i], 1, 30)) - 1);
        }
    } // the scan's worker takes the device itself
    const std::string results = path(die, "_DACs.txt");
    const auto show = [this](const std::string& text) {
        for (ChipResults& c : chips_)
            c.depScanStatus = text;
        ui_->result(kScan, text);
    };
    const auto fail = [&show](const std::string& text) {
        show(text);
        return false;
    };
    if (mask == 0 || !depScan_ || !depScan_->bound(DepScanClient::Start))
        return fail("Start of Dependency scan failed.");
    if (s_.showDepScan)
        depScan_->showWnd(dev_, true, false);
    if (depScan_->start(dev_, mask, s_.depSetDacsDef != 0, 0, largest, std::max(1, s_.depScanStep),
                        results.c_str()) != 0)
        return fail("Start of Dependency scan failed.");
    ui_->result(kScan, "Running...");
    // Result files that could not be written are reported on the step's line and in the log; the
    // sequence goes on.
    std::string unwritten;
    switch (depScan_->waitEnd(dev_, abort_)) {
    case DepScanClient::End::Aborted: return fail("Aborted");
    case DepScanClient::End::Failed: {
        // The scan writes its results file after its last code and reports a failed write as its own
        // failure, naming the file (no other failure of the scan names it): the DACs were scanned.
        const std::string error = depScan_->lastError(dev_);
        if (error.find(results) == std::string::npos)
            return fail("Failed: " + error);
        unwritten = error;
        break;
    }
    case DepScanClient::End::Finished: break;
    }
    const std::string image = path(die, "_DACs.svg");
    if (depScan_->saveImage(dev_, image) != 0)
        unwritten += (unwritten.empty() ? "" : " ") + std::string("Failed to save dep. scan image to \"") + image +
                     "\"";
    show(unwritten.empty() ? "Scan saved in " + results : unwritten);
    return true;
}

bool ChipTest::aninTest(const DieContext& die)
{
    DevLock lock(t_, static_cast<int>(dev_));
    if (!takeDevice(kAnin, lock))
        return false;
    int thl = -1;
    const int rc = aninScan(aninFrame_, &thl);
    for (ChipResults& c : chips_)
        c.aninThl = thl;
    if (rc != 0) {
        for (ChipResults& c : chips_)
            c.aninStatus = aninMessage_;
        return false;
    }
    for (size_t c = 0; c < chips_.size(); ++c) {
        chips_[c].anin = analyseAnin(aninFrame_.data() + c * kChipPixels, s_);
        chips_[c].aninStatus = "OK";
    }
    saveFrame(kAnin, path(die, "_ANIN.dat"));
    ui_->result("ANIN bad columns", perChip(chips_, [](const ChipResults& c) { return c.anin.badColumns; }));
    ui_->result("ANIN dead pixels", perChip(chips_, [](const ChipResults& c) { return c.anin.dead; }));
    ui_->result("ANIN bad pixels", perChip(chips_, [](const ChipResults& c) { return c.anin.low; }) + " (count < " +
                                       std::to_string(s_.aninBadLimit) + ")");
    ui_->result("ANIN noisy pixels", perChip(chips_, [](const ChipResults& c) { return c.anin.noisy; }) +
                                         " (count > " + std::to_string(s_.aninNoisyLimit) + ")");
    return true;
}

int ChipTest::aninFailed(const std::string& text)
{
    aninMessage_ = text;
    ui_->result(kAnin, text);
    return -1;
}

// The threshold scan of the ANIN test, with the device held by the caller. 0 with the frame of the
// value that ended it; -1 after showing why not.
int ChipTest::aninScan(std::vector<int16_t>& frame, int* thl)
{
    const auto it = std::find(dacNames_.begin(), dacNames_.end(), "THL");
    if (it == dacNames_.end() || chips_[0].dacs.size() != dacNames_.size()) {
        return aninFailed("ANIN test failed.");
    }
    const size_t thlIndex = static_cast<size_t>(it - dacNames_.begin());
    const int largest = (1 << std::clamp(dacBits_[thlIndex], 1, 16)) - 1;
    const int step = std::max(1, info_.chipType <= 1 ? s_.aninAnalScanStep : s_.aninAnalScanStepZRN);
    std::vector<uint16_t> original;
    for (const ChipResults& c : chips_)
        original.insert(original.end(), c.dacs.begin(), c.dacs.end());
    const int size = static_cast<int>(original.size());

    // Gives the DACs back on every path out of the scan.
    struct Restore {
        ChipTest* self;
        const std::vector<uint16_t>& dacs;
        ~Restore()
        {
            if (self->t_->tvkCtrlSetDACs(self->dev_, dacs.data(), static_cast<int>(dacs.size()), -1, 0, 0) != 0)
                self->ui_->result(kAnin, "Restoring original values of DACs failed.");
        }
    } restore{this, original};

    // The pulses reach a pixel only through its test input (bit 1 of its configuration, active low):
    // every input is switched on for the scan, the configuration given back afterwards.
    std::vector<uint8_t> pixels(frame.size());
    if (t_->tvkCtrlGetPixelsCfg(dev_, pixels.data(), static_cast<uint32_t>(pixels.size()), -1) != 0)
        return aninFailed("ANIN test failed.");
    struct RestorePixels {
        ChipTest* self;
        std::vector<uint8_t>& cfg;
        ~RestorePixels()
        {
            if (self->t_->tvkCtrlSetPixelsCfg(self->dev_, cfg.data(), static_cast<uint32_t>(cfg.size()), -1) != 0)
                self->ui_->result(kAnin, "Restoring the pixel configuration failed.");
        }
    } restorePixels{this, pixels};
    std::vector<uint8_t> testOn = pixels;
    for (uint8_t& c : testOn)
        c = static_cast<uint8_t>(c & ~2u);
    if (t_->tvkCtrlSetPixelsCfg(dev_, testOn.data(), static_cast<uint32_t>(testOn.size()), -1) != 0)
        return aninFailed("ANIN test failed.");

    ui_->result(kAnin, "Sending test pulses...");
    std::vector<uint16_t> dacs = original;
    for (int value = original[thlIndex];; value += step) {
        if (value > largest) {
            return aninFailed("ANIN test failed.");
        }
        if (abort_) {
            return aninFailed("Scanning threshold for ANIN aborted");
        }
        for (size_t c = 0; c < chips_.size(); ++c)
            dacs[c * dacNames_.size() + thlIndex] = static_cast<uint16_t>(value);
        if (t_->tvkCtrlSetDACs(dev_, dacs.data(), size, -1, 0, 0) != 0)
            return aninFailed("Setting DACs failed, aborting operation.");
        ui_->result(kAnin, "Scanning ANIN threshold (THL = " + std::to_string(value) + ")");
        if (t_->tvkCtrlPerformTestPulseAcq(dev_, s_.pulseHeight, s_.pulsePeriod,
                                           static_cast<uint32_t>(std::max(0, s_.pulseCount)), 0xFFFFFFFFu) != 0) {
            return aninFailed("ANIN test failed.");
        }
        if (t_->tvkCtrlGetFrame16(dev_, frame.data(), static_cast<uint32_t>(frame.size()), 0) != 0) {
            return aninFailed("Fail to get ANIN test data.");
        }
        if (preview_)
            preview_->showFrame();
        if (aninShareInRange(frame.data(), static_cast<int>(frame.size()), s_) >= s_.aninGoodShare) {
            *thl = value;
            ui_->result(kAnin, "Scanning threshold for ANIN finished.");
            return 0;
        }
    }
}

void ChipTest::classify()
{
    for (size_t c = 0; c < chips_.size(); ++c)
        chips_[c].chipClass = classifyChip(digitalFrame_.data() + c * kChipPixels, aninFrame_.data() + c * kChipPixels, s_);
    ui_->result("Chip class", std::string(1, classLetter(chips_[0].chipClass)));
}

void ChipTest::writeLog(const DieContext& die)
{
    char when[64] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::string log = "Wafer name: " + die.waferName + "\n" + "Time: " + when + "\n" + "Test name: " + die.testName + "\n";
    const auto current = [](double mA) { return mA < 0 ? std::string("not measured") : plat::formatFixed(mA, 1) + " mA"; };
    for (size_t c = 0; c < chips_.size(); ++c) {
        const ChipResults& r = chips_[c];
        log += "\nChip ID: " + r.chipId + "\n";
        log += "DAC values of chip " + std::to_string(c) + ":\n";
        for (size_t i = 0; i < r.dacs.size() && i < dacNames_.size(); ++i)
            log += dacNames_[i] + ": " + std::to_string(r.dacs[i]) + "\n";
        log += "Dig. bad columns: " + std::to_string(r.digital.badColumns) + "\n";
        log += "Dig. bad pixels: " + std::to_string(r.digital.badPixels) + "\n";
        log += "DACs dep. scan status: " + r.depScanStatus + "\n";
        log += "ANIN status: " + r.aninStatus + "\n";
        log += "ANIN THL: " + std::to_string(r.aninThl) + "\n";
        log += "ANIN bad columns: " + std::to_string(r.anin.badColumns) + "\n";
        log += "ANIN dead pixels: " + std::to_string(r.anin.dead) + "\n";
        log += "ANIN bad pixels: " + std::to_string(r.anin.low) + "\n";
        log += "ANIN noisy pixels: " + std::to_string(r.anin.noisy) + "\n";
        log += "Measured current (VDDA): " + current(die.currentVdda) + "\n";
        log += "Measured current (VDDD): " + current(die.currentVddd) + "\n";
        log += std::string("Chip class: ") + classLetter(r.chipClass) + "\n";
    }
    const std::string file = path(die, "_log.txt");
    std::string error;
    if (plat::replaceFile(file, log.data(), log.size(), &error) != 0)
        ui_->result("Log file", error);
}

} // namespace probing
