// The insides of CalibContext, shared by its source files. Every member function here expects the
// caller to hold Impl::mutex.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "calib_context.h"

namespace hcal {

// A per-pixel array whose allocation may fail (the test hook of setAllocationLimitForTests included).
// false after logging nothing: the caller words the message.
bool allocateArray(std::vector<double>& v, size_t count);
bool allocateMask(std::vector<uint8_t>& v, size_t count);

// Fills the pixels of a width x height matrix that are bad in mask, hold kNoValue or have no positive
// error: each takes the 1/error-weighted mean of its valid neighbours once at least 3/8 of them are
// valid, in passes until one fills nothing. What cannot be filled holds kNoValue.
void fillHoles(double* value, double* error, const uint8_t* mask, int width, int height);

struct CalibContext::Point {
    std::string name;
    double thickness = 0.0;
    double time = 1.0;
    std::vector<double> data;  // summed counts
    std::vector<double> sigma;
    std::vector<double> rate;      // data / time
    std::vector<double> sigmaRate; // sigma / time
    // Curve parameters per pixel, methodParamCount(method) of them while the fit is valid, in the form
    // their inverse uses: Linear {1/slope, intercept}; Quadratic {a, b, c} (a == 0: the line b t + c);
    // Exponential {1/A, 1/B, C}.
    std::array<std::vector<double>, 3> param;
};

struct CalibContext::Impl {
    explicit Impl(LogSink sink) : log(std::move(sink)) {}

    void message(const std::string& text) const
    {
        if (log)
            log(text);
    }

    // Every change of a point, of the list or of the method.
    void invalidateFit()
    {
        paramsValid = false;
        tableValid = false;
        resultValid = false;
        badCount = -1;
    }

    // Mask, then parameters, as far as they are not valid. logRefusal: too few points for the method is
    // logged; only a correction asked for logs it, not the views a window refreshes many times over.
    Status prepareFit(bool logRefusal = false);
    int computeMask();
    Status computeParams(bool logRefusal);
    // The current input corrected into corrected/error (when not valid) and filled.
    Status ensureResult(bool logRefusal = false);

    // The current input corrected into corrected and error (before the filling).
    void correctInput();
    // The fit's pixel-major table made when not valid; false when there is no memory for it.
    bool ensureTable();
    // Thickness of a rate at one pixel, as correctInput reads it.
    double thicknessAt(int pixel, double rate) const;
    // A new point's rate arrays from its data and sigma; false when memory runs out.
    static bool completePoint(Point& p);

    int findPoint(double thickness) const; // index, or -1
    int insertPoint(std::unique_ptr<Point> p); // keeps thickness order; its index

    LogSink log;
    // Guards everything below; held for the whole of every public operation. Nothing outside the context
    // is called with it held except the log sink.
    mutable std::mutex mutex;

    int devId = -1;
    DeviceShape shape;
    int pixels = 0;
    int width = 0;
    int height = 0;

    double inputTime = 1.0;
    std::vector<double> input;      // counts
    std::vector<double> inputSigma; // counts
    std::vector<double> corrected;  // thickness
    std::vector<double> error;
    bool resultValid = false;

    std::vector<std::unique_ptr<Point>> points; // thickness ascending
    std::vector<uint8_t> mask;                  // 1 good, 0 bad
    int badCount = -1;                          // -1: mask not computed

    std::string profilePath;
    bool modified = false;
    int method = kExponential;
    bool paramsValid = false;
    // The points' rates, rate sigmas and curve parameters again, pixel-major, so that correcting a frame
    // reads each pixel's together: per pixel the n rates, the n rate sigmas, then each point's parameters.
    std::vector<double> table;
    bool tableValid = false;
    std::vector<double> thicknesses; // the points', for the correction
    bool extrapolate = true;
    bool errorByDerivative = false;
    bool fillBadPixels = true;
    int selected = -1;
};

} // namespace hcal
