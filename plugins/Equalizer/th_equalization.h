// Threshold equalization of one device: sweeps the threshold DAC once per adjustment level, records where
// each pixel starts to respond, masks pixels outside the statistical window, picks per pixel the level
// that brings its response nearest the chip's target, and measures the result with one more sweep.
//
// The engine talks to the device only through the manager's function table and reports to its window
// through a notification function (the message numbers below), called synchronously in the worker's
// thread. One engine belongs to a device; run() executes on a worker thread while the window's thread
// reads progress() and calls abort(). Nothing else may be called while run() executes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tvk_mgr.h"

namespace equalizer {

// Messages to the notify function (wParam 0 unless said).
constexpr unsigned kWmApp = 0x8000;
constexpr unsigned kMsgDacStep = kWmApp + 2;   // after each DAC value
constexpr unsigned kMsgPhase = kWmApp + 3;     // after each sub-mask phase
constexpr unsigned kMsgLevel = kWmApp + 4;     // a new adjustment level (also before the final sweep)
constexpr unsigned kMsgFinished = kWmApp + 5;  // end of a run, wParam = result 0 or -1
constexpr unsigned kMsgStatistics = kWmApp + 6; // statistics of a phase computed
using Notify = std::function<void(unsigned message, int wParam)>;

constexpr const char* kLogSource = "equalizer";

// Method types (type 8 is not used).
enum MethodType {
    kThlSource = 1,
    kThlNoiseEdge = 2,
    kThlNoiseCenter = 3,
    kThlNoiseCenterCross = 4,
    kThlTestPulses = 5,
    kThlTestPulsesTot = 6,
    kThlExtPulser = 7,
    kThhSource = 9,
    kThhTestPulses = 10,
    kThhNoise = 11,
    kThhExtPulser = 12,
};

// The label of a method type in the distribution file; null for an unknown type.
const char* methodLabel(int type);

// The adjustment level (0..cmax) of a pixel in two-level mode: its edges e0 and e1 at levels 0 and cmax
// (both non-zero) interpolated linearly to the target, rounded half up and kept in range.
int twoLevelAdjustment(double target, double e0, double e1, int cmax);

// Acquisition settings of a run.
struct EqualizationSettings {
    int acqCount = 1;
    double acqTime = 0.01;            // [s]
    double countThresholdFactor = 1.0; // response threshold = factor x acqCount without test pulses
    double pulseHeight = 0.2;         // [V]
    double pulsePeriod = 1e-4;        // [s]
    uint32_t pulseCount = 100;
    int spacing = 1;                  // sub-mask pitch S, 1..32, of every method
    bool oneChipAtATime = false;      // only with more than one chip
    bool preStepCoarse = false;       // narrow the window by a coarse sweep at the extreme levels first
    bool preStepNoisy = false;        // mask pixels that count at the quiet end first
};

// Prepares the external test pulser for one sub-mask phase; 0 on success.
using PulserPrepare = std::function<int(int phase)>;

class ThEqualization {
public:
    class SpecEq; // edge detection of the strategies of types 3, 4 and 11

    ThEqualization();
    virtual ~ThEqualization();
    ThEqualization(const ThEqualization&) = delete;
    ThEqualization& operator=(const ThEqualization&) = delete;

    // Binds the engine to a device; -1 when a DAC it needs is missing or memory is short.
    int setUp(const _MgrFuncTable* table, unsigned devId, Notify notify);
    // -1 for an unknown type, type 11 on chip type 3, a THH type without THH, step 0, or values outside the
    // scanned DAC's range; why (when given) then names the setting, its value and what is allowed.
    int configure(int type, bool twoLevel, int first, int second, int step, std::string* why = nullptr);
    // -1 when a setting is out of range (spacing above 32, one chip at a time on one chip), with why as above.
    int setSettings(const EqualizationSettings& settings, std::string* why = nullptr);
    void setPulserPrepare(PulserPrepare prepare) { pulserPrepare_ = std::move(prepare); }

    int run();
    void abort() { abort_ = true; }
    double progress() const; // percent of the running run

    // After a finished run.
    int rewindow(double k);
    int thresholdFromNoise(double percent); // after a type-2 run
    int balanceChips();
    int writeDistributions(const std::string& path, std::string* error) const;
    double spreadWidth(int chip) const;

    // Results.
    int levels() const { return levels_; }
    int chips() const { return chips_; }
    uint32_t pixelCount() const { return pixels_; }
    int scanStart() const { return start_; }
    int scanEnd() const { return end_; }
    int scanStep() const { return step_; }
    // The window as configured (narrowed by the coarse pre-step only); the sweeps start from it.
    int windowStart() const { return configuredStart_; }
    int windowEnd() const { return configuredEnd_; }
    int lastMethod() const { return lastMethod_; }
    int lastMode() const { return lastMode_; }
    double mean(int chip, int column) const { return mean_[index(chip, column)]; }
    double sigma(int chip, int column) const { return sigma_[index(chip, column)]; }
    int maskedCount(int chip) const { return masked_[static_cast<size_t>(chip)]; }
    int maskedTotal() const { return maskedTotal_; }
    uint16_t edge(int column, uint32_t pixel) const { return edges_[static_cast<size_t>(column) * pixels_ + pixel]; }
    int32_t histogram(int column, int chip, int value) const { return hist_[histIndex(column, chip, value)]; }
    const std::vector<uint8_t>& equalizedConfig() const { return base_; }

private:
    size_t index(int chip, int column) const { return static_cast<size_t>(chip * (levels_ + 1) + column); }
    size_t histIndex(int column, int chip, int value) const
    {
        return (static_cast<size_t>(column) * static_cast<size_t>(chips_) + static_cast<size_t>(chip)) *
                   static_cast<size_t>(range_) +
               static_cast<size_t>(value);
    }
    bool thhMethod() const { return type_ > 7; }
    int adjustment(uint8_t cfg) const;
    uint8_t withAdjustment(uint8_t cfg, int level) const;
    int fail(const char* message);

    int prepare();
    int runLevels();
    int sweep(int column);
    int sweepPhase(int column, int phase);
    int acquire(int phase, uint32_t* frame);
    int acquireChips(int phase, int value);
    void detect(int column, int value, const uint32_t* frame);
    void record(int column, uint32_t pixel, int value);
    void maskPixel(uint32_t pixel, int upToColumn);
    void phaseStatistics(int column);
    void narrowWindow(int column);
    void finalAdjustments();
    int setScannedDac(int value, int onlyChip);
    int sendConfig(std::vector<uint8_t>& cfg);
    bool anyEnabled() const;
    int preStepNoisy();
    int preStepCoarse();

    const _MgrFuncTable* table_ = nullptr;
    unsigned dev_ = 0;
    bool bound_ = false;
    Notify notify_;
    PulserPrepare pulserPrepare_;
    std::unique_ptr<SpecEq> strategy_;

    int chipType_ = 0;
    int chips_ = 0;
    uint32_t pixels_ = 0;
    int dacsPerChip_ = 0;
    int thl_ = -1, thh_ = -1, ths_ = -1, fbk_ = -1;
    int range_ = 0;
    int fbkRange_ = 0;
    int levels_ = 8;

    int type_ = kThlNoiseEdge;
    bool twoLevel_ = false;
    int scanned_ = -1;
    int configuredStart_ = 0, configuredEnd_ = 0;
    int start_ = 0, end_ = 0, step_ = 1;
    EqualizationSettings settings_;
    int spacingMode_ = 0;
    int spacing_ = 1;
    double threshold_ = 1.0;
    int lastMethod_ = 0, lastMode_ = 0;
    double windowFactor_ = 0.0; // k of the last re-windowing; 0 = none
    double noisePercent_ = 0.0;

    std::vector<int32_t> hist_;
    std::vector<double> mean_, sigma_;
    std::vector<int> masked_;
    int maskedTotal_ = 0;
    std::vector<uint16_t> edges_;
    std::vector<double> finalMean_, finalSigma_;
    std::vector<uint16_t> dacs_;
    std::vector<uint8_t> working_, saved_, base_;
    std::vector<uint32_t> frame_, chipFrame_;
    uint32_t random_ = 12345u; // masked pixels' random levels
    uint32_t enabled_ = 0;     // pixels enabled in the working configuration

    std::atomic<bool> abort_{false};
    std::atomic<int> progressValue_{0};
    std::atomic<int> progressPhase_{0};
    std::atomic<int> progressLevel_{0};
    std::atomic<bool> running_{false};
};

} // namespace equalizer
