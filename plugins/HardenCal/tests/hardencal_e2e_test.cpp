// End to end on the simulated detector: a running manager in a scratch copy of the app folder serves
// images of rate A e^(-mu t) + C per pixel for t = 0, 1, 2, 4, 8 (20 pixels rise again at the thickest);
// three 0.5 s frames of each are set up as points and saved as the device's default profile; started
// again, HardenCal.so binds the device with that profile, and a frame of the t = 3 image (six 0.5 s
// frames summed) becomes a frame of doubles holding 3 +- 2e-3 in every pixel, the 20 bad ones filled
// from their neighbours.
#include <cmath>
#include <string>
#include <vector>

#include "calib_host.h"
#include "hardencal_app.h"

namespace {

using hcaltest::makeAppFolder;
using hcaltest::ScratchManager;
using hcaltest::setItem;
namespace fs = std::filesystem;

constexpr int kPixels = 65536;

// The simulated detector counts an image of whole numbers (at most 32767) once per time element, cut to
// whole counts below 8001 per frame, scaled by the exposure as it really ran. A time element of 2.5 s takes
// the largest image values to 6200 counts in a frame, leaving room for an exposure 140 ms longer than asked
// (a loaded machine) before the counters wrap, while the cut to whole counts, up to one count a frame,
// moves a thickness by up to about 1e-3.
constexpr double kTimeElement = 2.5;
constexpr double kTolerance = 2e-3;
constexpr double kFrameTime = 0.5;

double image(double t, int i)
{
    const double A = 30000.0 + 1.5 * (i * 7919 % 400);
    const double mu = 0.3 + 0.06 * (i * 104729 % 1000) / 1000.0;
    const double C = 150.0 + 1.5 * (i * 31 % 200);
    return A * std::exp(-mu * t) + C;
}

bool risesAgain(int i)
{
    return i % 3251 == 7 && i < 20 * 3251; // 20 pixels, none next to another
}

// The image of a pixel that rises again: half the usual, and at the thickest a tenth above its own first
// rate. Rising above a first rate near the counters' range would take it near the largest count, where an
// exposure a few milliseconds longer than asked (a loaded machine) wraps the counter to a few counts, so
// that the pixel no longer rises.
double risingImage(double t, int i)
{
    return t == 8.0 ? image(0.0, i) * 0.55 : image(t, i) * 0.5;
}

// Frames of 0.5 s of the image of thickness t: three, or integral, six summed into one. The frames take
// the images of a folder in turn: three copies of the image moved by -1/3, 0 and +1/3 of a count per frame,
// whose cuts to whole counts fall apart, so that their sum keeps a third of the rounding of equal frames.
void acquireImage(const _MgrFuncTable* t, const std::string& dir, double thickness, bool integral = false)
{
    const std::string folder = dir + "/image_" + std::to_string(thickness);
    fs::create_directories(folder);
    for (int k = 0; k < 3; ++k) {
        const double shift = (k - 1) / 3.0 * kTimeElement / kFrameTime; // in image units
        std::string text;
        for (int i = 0; i < kPixels; ++i) {
            const double v = (risesAgain(i) ? risingImage(thickness, i) : image(thickness, i)) + shift;
            text += std::to_string(std::lround(v)) + (i % 256 == 255 ? "\n" : " ");
        }
        ASSERT_TRUE(ombrel_test::writeFile(folder + "/frame" + std::to_string(k) + ".txt", text));
    }
    char name[512] = {};
    std::snprintf(name, sizeof name, "%s", folder.c_str());
    setItem(t, "Data file name", name, sizeof name);
    const uint32_t first = 0;
    setItem(t, "Image counter", &first, sizeof first);
    if (integral)
        ASSERT_EQ(t->tvkCtrlPerformIntegralAcq(0, 6, kFrameTime, 0, nullptr), 0);
    else
        ASSERT_EQ(t->tvkCtrlPerformFrameAcq(0, 3, kFrameTime, 0, nullptr), 0);
}

TEST(HardenCalEndToEnd, FramesOfAKnownAbsorberBecomeItsThickness)
{
    const std::string dir = makeAppFolder("hardencal-e2e");
    {
        ScratchManager app(dir);
        const _MgrFuncTable* t = app.table();
        ASSERT_NE(t, nullptr) << "the manager did not start with the plug-ins";
        const int32_t noNoise = 0;
        setItem(t, "Poisson noise", &noNoise, sizeof noNoise);
        setItem(t, "Time element", &kTimeElement, sizeof kTimeElement);

        // The points, set up from the device's frames as the window does, saved as the default profile.
        hcal::CalibHost host(t);
        host.createContexts();
        hcal::CalibContext& ctx = *host.context(0);
        for (double thickness : {0.0, 1.0, 2.0, 4.0, 8.0}) {
            acquireImage(t, dir, thickness);
            ASSERT_EQ(host.setupFromFrames(ctx, 0, thickness), 0) << host.lastMessage();
            // Only the frames the acquisition holds are read: no failed read leaves its message on the device.
            int code = 0;
            const char* text = nullptr;
            ASSERT_EQ(t->tvkCtrlGetInfoMsg(0, &code, &text), 0);
            EXPECT_EQ(std::string(text ? text : "").find("not ready"), std::string::npos) << text;
        }
        ASSERT_EQ(ctx.points().size(), 5u);
        EXPECT_NEAR(ctx.points()[0].time, 1.5, 0.5) << "the summed time of three frames";
        EXPECT_EQ(ctx.badPixelCount(), 20);
        ASSERT_TRUE(ctx.saveProfile(host.defaultProfilePath(ctx)));
        EXPECT_EQ(host.defaultProfilePath(ctx), dir + "/configs/dummy_2000_calib.txt");
    }
    ScratchManager app(dir);
    const _MgrFuncTable* t = app.table();
    ASSERT_NE(t, nullptr);
    const int32_t noNoise = 0;
    setItem(t, "Poisson noise", &noNoise, sizeof noNoise);
    setItem(t, "Time element", &kTimeElement, sizeof kTimeElement);
    acquireImage(t, dir, 3.0, true);

    uint32_t frame = 0;
    ASSERT_EQ(t->tvkCtrlGetFrameID(0, 0, &frame), 0);
    const _FuncSlot in[1] = {tvkSlotUint(frame)};
    ASSERT_EQ(t->mgrCallFuncItem("HardenCal", "BH Correction", in, nullptr), 0);
    int type = 0;
    ASSERT_EQ(t->mgrGetFrameType(frame, &type), 0);
    EXPECT_EQ(type, TYPE_DOUBLE);
    std::vector<double> thickness(kPixels);
    uint32_t bytes = kPixels * sizeof(double);
    ASSERT_EQ(t->mgrGetFrameData(frame, thickness.data(), &bytes, TYPE_DOUBLE), 0);
    double worst = 0.0;
    int worstPixel = 0;
    for (int i = 0; i < kPixels; ++i) {
        const double d = std::fabs(thickness[static_cast<size_t>(i)] - 3.0);
        if (!(d <= worst)) {
            worst = d;
            worstPixel = i;
        }
        if (risesAgain(i)) {
            EXPECT_NEAR(thickness[static_cast<size_t>(i)], 3.0, kTolerance) << "filled pixel " << i;
        }
    }
    EXPECT_LE(worst, kTolerance) << "pixel " << worstPixel;
    std::printf("thickness 3: worst deviation %.3g\n", worst);

    // The filter form with a wrong pixel count: output zeroed, 1, the message in the log.
    std::vector<double> source(kPixels, 100.0), out(100, 5.0);
    const _FuncSlot args[4] = {tvkSlotUint(0), tvkSlotUint(0), tvkSlotUint(100), tvkSlotPtr(source.data())};
    void* outs[1] = {out.data()};
    EXPECT_EQ(t->mgrCallFuncItem("HardenCal", "BH Correction Flt", args, outs), 1);
    EXPECT_EQ(out, std::vector<double>(100, 0.0));
    EXPECT_NE(ombrel_test::readFile(dir + "/log.txt").find("MakeArrayCorrection: Incorrect frame size (Frame: 100, Calib: 65536)"),
              std::string::npos);

    // A frame of another size stays as it was.
    uint32_t small = 0;
    ASSERT_EQ(t->mgrCreateFrame(&small, 128, 128, TYPE_U32 | 0x100, "test"), 0);
    const char chipboard[] = "2000";
    ASSERT_EQ(t->mgrAddFrameAttrib(small, "ChipboardID", "", TYPE_UCHAR, chipboard, sizeof chipboard), 0);
    const double half = 0.5;
    ASSERT_EQ(t->mgrAddFrameAttrib(small, "Acq time", "", TYPE_DOUBLE, &half, 1), 0);
    const _FuncSlot smallIn[1] = {tvkSlotUint(small)};
    EXPECT_EQ(t->mgrCallFuncItem("HardenCal", "BH Correction", smallIn, nullptr), 1);
    ASSERT_EQ(t->mgrGetFrameType(small, &type), 0);
    EXPECT_EQ(type, TYPE_U32);
}

} // namespace
