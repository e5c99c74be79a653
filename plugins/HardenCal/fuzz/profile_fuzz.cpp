// Fuzz entry: the calibration files. The first byte chooses the reader; the rest is the file:
//   even: a profile, loaded into a context of one chip; what loads must save and load again to the same
//         method, names, thicknesses, times and values;
//   odd:  a point's ASCII matrix of (first byte >> 1) values; what it gives must be that many finite numbers.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calib_context.h"
#include "fuzz_scratch.h"

namespace {

const std::string& folder()
{
    static const std::string dir = ombrel_fuzz::scratchFolder("hardencal-fuzz");
    return dir;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Everything a profile stores, read back from ctx.
struct Stored {
    int method = 0;
    std::vector<hcal::PointData> points;
};

Stored storedOf(const hcal::CalibContext& ctx)
{
    Stored s;
    s.method = ctx.method();
    for (int i = 0; i < static_cast<int>(ctx.points().size()); ++i) {
        s.points.emplace_back();
        if (!ctx.pointData(i, s.points.back()))
            std::abort();
    }
    return s;
}

bool same(const Stored& a, const Stored& b)
{
    if (a.method != b.method || a.points.size() != b.points.size())
        return false;
    for (size_t i = 0; i < a.points.size(); ++i) {
        const hcal::PointData& p = a.points[i];
        const hcal::PointData& q = b.points[i];
        if (p.info.name != q.info.name || p.info.thickness != q.info.thickness || p.info.time != q.info.time ||
            !sameBits(p.data, q.data) || !sameBits(p.sigma, q.sigma))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string& dir = folder();
    const unsigned choice = data[0];
    const std::string file = dir + "/input.txt";
    ombrel_fuzz::writeFile(file, data + 1, size - 1);

    if (choice % 2 == 0) {
        hcal::CalibContext ctx([](const std::string&) {});
        if (ctx.bind(0, hcal::DeviceShape{1, 1, "H7-W0042", "dummy"}) != hcal::Status::ok)
            std::abort();
        if (!ctx.loadProfile(file))
            return 0;
        const Stored loaded = storedOf(ctx);
        const std::string saved = dir + "/saved.txt";
        hcal::CalibContext again([](const std::string&) {});
        if (!ctx.saveProfile(saved) || again.bind(0, hcal::DeviceShape{1, 1, "H7-W0042", "dummy"}) != hcal::Status::ok ||
            !again.loadProfile(saved) || !same(loaded, storedOf(again)))
            std::abort();
        return 0;
    }

    const int count = static_cast<int>(choice >> 1);
    std::vector<double> values;
    std::string error;
    if (hcal::readMatrixFile(file, count, values, &error)) {
        if (values.size() != static_cast<size_t>(count))
            std::abort();
        for (double v : values)
            if (!std::isfinite(v))
                std::abort();
    } else if (error.empty()) {
        std::abort(); // a refusal says why
    }
    return 0;
}
