// The beam-hardening calibration of one device: calibration points (summed counts taken through known
// absorber thicknesses), the per-pixel curves of count rate against thickness fitted through them, the
// mask of pixels whose curve is unusable, and the correction of count frames into thickness frames with
// an error estimate. No Qt: the registered functions, the dialog and the tests all use this class.
//
// Threads: every public member takes the context's mutex for its whole run, so registered functions
// (called on any thread) and the dialog never see a half-changed list or array. Readers hand out copies.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hcal {

// Stands for "no value" in the results: correction failed or the pixel is unusable.
inline constexpr double kNoValue = 1.23456789e-300;

enum Method : int32_t { kLinear = 0, kQuadratic = 1, kExponential = 2 };
inline constexpr int kMethodCount = 3;
// Curve parameters of a method; also the fewest points it needs.
int methodParamCount(int method);

inline constexpr int kChipPixels = 65536;
inline constexpr int kChipSide = 256;
// Profiles name at most this many points; a file asking for more is refused before anything is allocated.
inline constexpr int kMaxPoints = 256;
inline constexpr char kLogSource[] = "HardenCal";

// Every message of the engine goes here (the plug-in sends it to the manager's log under kLogSource).
using LogSink = std::function<void(const std::string&)>;

// What the device-control library tells of a device.
struct DeviceShape {
    int chips = 0;
    int rows = 0;
    std::string chipboardId;
    std::string interfaceName;
};

// One calibration point as the dialog shows it.
struct PointInfo {
    std::string name;
    double thickness = 0.0;
    double time = 0.0;
};

// One point's data in full (copies, for the dialog and for tests).
struct PointData {
    PointInfo info;
    std::vector<double> data;  // summed counts per pixel
    std::vector<double> sigma; // per pixel
};

// Statistics of the error over the mask's good pixels (those with a value).
struct ErrorStats {
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    int pixels = 0; // good pixels that entered
};

enum class Status {
    ok,
    notBound,          // no device arrays yet
    notEnoughPoints,   // fewer points than the method needs; outputs zeroed
    noMemory,          // an allocation failed; the context is as it was
    badSize,           // an array of another pixel count
    refused            // the operation's message says why
};

class CalibContext {
public:
    explicit CalibContext(LogSink log);
    ~CalibContext();
    CalibContext(const CalibContext&) = delete;
    CalibContext& operator=(const CalibContext&) = delete;

    // ---- device ----
    // Takes the device's shape: the per-pixel arrays are made anew (zeroed, mask all good) and the points
    // dropped. On failure (a shape that names no matrix, an allocation) the context is unchanged.
    Status bind(int devId, const DeviceShape& shape);
    int devId() const;
    DeviceShape shape() const;
    int pixelCount() const;
    int width() const;  // 256 x chips per row
    int height() const; // 256 x rows

    // ---- settings ----
    int method() const;
    bool setMethod(int method); // false (nothing changed) outside 0..2
    bool extrapolate() const;
    void setExtrapolate(bool on);
    bool errorByDerivative() const;
    void setErrorByDerivative(bool on);
    bool fillBadPixels() const;
    void setFillBadPixels(bool on);
    bool modified() const;
    // The point the dialogs selected (an index into the sorted list), -1 for none.
    int selectedPoint() const;
    void selectPoint(int index); // out of range selects none

    // ---- points ----
    // Adds a point from summed counts; sigma empty = sqrt(data) (0 where data <= 1e-200). A thickness <= 0
    // continues the list's spacing, a time <= 0 takes the last point's; the name is the last point's.
    // Refused with a message when the thickness is taken, or when thickness, time, data or sigma hold a value
    // that is not finite (NaN included: a profile holds finite numbers only, so such a point would be saved
    // but never loaded again). index (may be null): its place.
    Status addPoint(double thickness, double time, std::vector<double> data, std::vector<double> sigma,
                    int* index = nullptr);
    Status removePoint(int index);
    std::vector<PointInfo> points() const;
    bool pointData(int index, PointData& out) const;

    // ---- results ----
    // Corrects counts taken in time (seconds); sigma empty = sqrt(counts). The corrected thickness and its
    // error are kept as the context's current result; thickness and error (may be null) get copies.
    Status correct(const double* counts, const double* sigma, int pixels, double time, double* thickness,
                   double* error);
    // The current result again (recomputed when a setting changed since). logRefusal: a fit that cannot be
    // made is logged (a caller asking for a correction); the window's views read it without a word.
    Status currentResult(double* thickness, double* error, int pixels, bool logRefusal = false);
    // The mask (1 good, 0 bad) after the fit; computes what is missing.
    Status mask(double* out, int pixels);
    // The selected point's rate (data / time) or rate sigma (sigma / time).
    Status selectedPointRate(double* out, int pixels, bool sigma);
    // Fitted thickness at one pixel for a rate (the dialog's curve); kNoValue when none.
    double thicknessAt(int pixel, double rate);
    int badPixelCount();
    ErrorStats errorStats();

    // ---- profiles ----
    // "<configsDir><interface>_<chip-board id>_calib.txt", both names made safe for a file name.
    std::string defaultProfilePath(const std::string& configsDir) const;
    // Replaces method and points from a profile; on any failure the context keeps what it had.
    bool loadProfile(const std::string& path);
    // Writes method and points; a failed save leaves an existing file as it was.
    bool saveProfile(const std::string& path);
    std::string profilePath() const;

    // Test hook: allocations of per-pixel arrays above this many bytes fail as if memory ran out
    // (0 = no limit). Process-wide.
    static void setAllocationLimitForTests(size_t bytes);
    // Test hook: a context takes at most this many points (below kMaxPoints; 0: kMaxPoints). Process-wide.
    static void setPointLimitForTests(int points);

    // Defined in calib_impl.h, for the context's own source files.
    struct Point;
    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

// The ASCII matrix of a point file: count whitespace-separated finite numbers (LF or CR LF), then nothing but
// blanks. false with a message when the file cannot be read or holds fewer, more or bad values.
bool readMatrixFile(const std::string& path, int count, std::vector<double>& out, std::string* error);

} // namespace hcal
