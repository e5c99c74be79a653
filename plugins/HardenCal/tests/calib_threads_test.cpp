// A registered correction runs on another plug-in's thread while the dialog's thread edits the points and
// the method of the same context: every call sees one whole calibration, never a half-changed one.
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "calib_fixture.h"
#include "calib_host.h"
#include "fake_manager.h"

namespace {

using hcaltest::fake;
using hcaltest::kPixels;

double exponential(double t, int i)
{
    return (5000.0 + 10.0 * (i % 13)) * std::exp(-(0.3 + 0.01 * (i % 11)) * t) + 100.0 + i % 7;
}

TEST(CalibThreads, ArrayCorrectionWhilePointsAndMethodChange)
{
    fake().reset();
    fake().devices[0] = {1, 1, "H7-W0042", "dummy", false, {}};
    const std::vector<double> source = hcaltest::countsAt(exponential, 1.5, 0.5);
    fake().devices[0].frames = {{source, 0.5}};
    const _MgrFuncTable table = hcaltest::fakeTable();
    hcal::CalibHost host(&table);
    host.createContexts();
    ASSERT_EQ(host.registerFunctions(), 0);
    hcal::CalibContext& ctx = *host.context(0);
    for (double t : {0.0, 1.0, 2.0, 4.0})
        ASSERT_EQ(ctx.addPoint(t, 1.0, hcaltest::countsAt(exponential, t, 1.0), {}), hcal::Status::ok);

    _FuncItem f{};
    for (const auto& item : fake().functions)
        if (std::string(item.function) == hcal::kFuncArray)
            f = item;
    ASSERT_NE(f.callback, nullptr);

    std::atomic<bool> done{false};
    std::thread editor([&] {
        for (int round = 0; round < 12; ++round) {
            ctx.setMethod(round % 3);
            ctx.addPoint(8.0, 1.0, hcaltest::countsAt(exponential, 8.0, 1.0), {});
            ctx.selectPoint(1);
            ctx.removePoint(round % 2 ? 4 : 0);
            ctx.addPoint(round % 2 ? 8.0 : 0.0, 1.0, hcaltest::countsAt(exponential, round % 2 ? 8.0 : 0.0, 1.0), {});
        }
        done = true;
    });
    std::vector<double> out(kPixels);
    int calls = 0;
    while (!done || calls < 3) {
        _FuncSlot in[4] = {tvkSlotUint(0), tvkSlotUint(0), tvkSlotUint(kPixels), tvkSlotPtr(source.data())};
        void* outs[1] = {out.data()};
        const int r = f.callback(f.userData, in, outs);
        ASSERT_TRUE(r == 0 || r == 1);
        for (double v : out)
            ASSERT_TRUE(std::isfinite(v) && (r == 0 || v == 0.0)) << v;
        ++calls;
    }
    editor.join();
    host.unregisterFunctions();
}

} // namespace
