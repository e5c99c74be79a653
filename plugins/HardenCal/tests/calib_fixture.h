// A calibration context of one 256 x 256 chip whose messages the test reads, and points made from known
// curves of rate against thickness.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calib_context.h"

namespace hcaltest {

using RateCurve = std::function<double(double thickness, int pixel)>;

class LogRecorder {
public:
    hcal::LogSink sink()
    {
        return [this](const std::string& text) {
            std::lock_guard lock(mutex_);
            lines_.push_back(text);
        };
    }
    bool has(const std::string& text) const
    {
        std::lock_guard lock(mutex_);
        return std::find(lines_.begin(), lines_.end(), text) != lines_.end();
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline const hcal::DeviceShape kOneChip{1, 1, "H7-W0042", "dummy"};
constexpr int kPixels = hcal::kChipPixels;

// Counts of a curve at thickness t over time seconds, every pixel.
inline std::vector<double> countsAt(const RateCurve& curve, double t, double time)
{
    std::vector<double> v(kPixels);
    for (int i = 0; i < kPixels; ++i)
        v[static_cast<size_t>(i)] = curve(t, i) * time;
    return v;
}

class ContextTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ctx.bind(0, kOneChip), hcal::Status::ok); }

    // One point per thickness, taken over time seconds, sigma sqrt(counts) or the given one.
    void addPoints(const RateCurve& curve, const std::vector<double>& thicknesses, double time = 2.0,
                   double sigma = -1.0)
    {
        for (double t : thicknesses) {
            std::vector<double> s;
            if (sigma >= 0.0)
                s.assign(kPixels, sigma);
            ASSERT_EQ(ctx.addPoint(t, time, countsAt(curve, t, time), s), hcal::Status::ok) << t;
        }
    }

    // Corrects the counts of thickness t; thickness and error per pixel.
    hcal::Status correctAt(const RateCurve& curve, double t, double time = 1.5, double sigma = -1.0)
    {
        const std::vector<double> counts = countsAt(curve, t, time);
        std::vector<double> s(kPixels, sigma);
        return ctx.correct(counts.data(), sigma >= 0.0 ? s.data() : nullptr, kPixels, time, thickness.data(),
                           error.data());
    }

    LogRecorder log;
    hcal::CalibContext ctx{log.sink()};
    std::vector<double> thickness = std::vector<double>(kPixels);
    std::vector<double> error = std::vector<double>(kPixels);
};

} // namespace hcaltest
