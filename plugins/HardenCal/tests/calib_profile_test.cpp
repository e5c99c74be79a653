// Calibration profiles: exact round trips (also with CR LF line ends and under a comma-decimal locale),
// hostile files that must leave the loaded list alone, failed saves that leave the old file, and the
// ASCII matrix files of single points.
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calib_fixture.h"
#include "ombrel_test_support.h"
#include "platform/file_write.h"

namespace {

using hcal::Status;
using hcaltest::kPixels;
using ombrel_test::readFile;
using ombrel_test::writeFile;

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

class ProfileTest : public hcaltest::ContextTest {
protected:
    void SetUp() override
    {
        ContextTest::SetUp();
        dir = ombrel_test::scratchDir("hardencal-profile");
        // Values that a six-digit format would change: thirds, a subnormal, the largest double, negatives.
        ctx.setMethod(hcal::kQuadratic);
        for (int k = 0; k < 3; ++k) {
            std::vector<double> data(kPixels), sigma(kPixels);
            for (int i = 0; i < kPixels; ++i) {
                data[static_cast<size_t>(i)] = (i + 1) / 3.0 * (k + 1) + 1e-7 * i;
                sigma[static_cast<size_t>(i)] = std::sqrt(data[static_cast<size_t>(i)]) / 7.0;
            }
            data[5] = 4.9e-320;
            data[6] = 1.7976931348623157e308;
            sigma[7] = -0.1;
            ASSERT_EQ(ctx.addPoint(0.5 + k / 3.0, 2.0 + k * 0.1, data, sigma), Status::ok);
        }
        path = dir + "/dummy_H7-W0042_calib.txt";
        ASSERT_TRUE(ctx.saveProfile(path));
    }

    void TearDown() override { std::filesystem::remove_all(dir); } // profiles are megabytes each

    void expectSameAs(const hcal::CalibContext& other)
    {
        EXPECT_EQ(other.method(), ctx.method());
        const auto a = ctx.points();
        const auto b = other.points();
        ASSERT_EQ(a.size(), b.size());
        for (size_t k = 0; k < a.size(); ++k) {
            hcal::PointData pa, pb;
            ASSERT_TRUE(ctx.pointData(static_cast<int>(k), pa));
            ASSERT_TRUE(other.pointData(static_cast<int>(k), pb));
            EXPECT_EQ(pb.info.name, "Noname");
            EXPECT_EQ(pa.info.thickness, pb.info.thickness);
            EXPECT_EQ(pa.info.time, pb.info.time);
            EXPECT_TRUE(pa.data == pb.data) << "point " << k;
            EXPECT_TRUE(pa.sigma == pb.sigma) << "point " << k;
        }
    }

    std::string dir;
    std::string path;
};

TEST_F(ProfileTest, SavedInTheFileFormat)
{
    const std::string text = readFile(path);
    const std::string head = "Calibration config\n\nInterface: dummy\nChipboard: H7-W0042\nChips = 1\nRows = 1\n"
                             "Pixels = 65536\nMethod = 1\n\nPoints = 3\n\nSingle calibration point: Noname\n\n"
                             "Pixels = 65536\nTime = 2\nThickness = 0.5\n\nData:\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    const std::string firstLine = text.substr(head.size(), text.find('\n', head.size()) - head.size());
    EXPECT_EQ(firstLine.substr(0, 27), "0.3333333333333333 \t0.66666");
    size_t separators = 0;
    for (size_t at = firstLine.find(" \t"); at != std::string::npos; at = firstLine.find(" \t", at + 2))
        ++separators;
    EXPECT_EQ(separators, 255u);
    EXPECT_NE(text.find("\n\nSigma:\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

TEST_F(ProfileTest, LoadGivesBackExactlyWhatWasSaved)
{
    const std::string crlf = dir + "/crlf_calib.txt";
    std::string text = readFile(path);
    std::string windows;
    for (char c : text)
        windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(writeFile(crlf, windows));
    for (const std::string& file : {path, crlf}) {
        SCOPED_TRACE(file);
        hcaltest::LogRecorder otherLog;
        hcal::CalibContext other(otherLog.sink());
        ASSERT_EQ(other.bind(1, hcaltest::kOneChip), Status::ok);
        ASSERT_TRUE(other.loadProfile(file)) << (otherLog.lines().empty() ? "" : otherLog.lines().back());
        expectSameAs(other);
        EXPECT_EQ(other.profilePath(), file);
        EXPECT_FALSE(other.modified());
    }
}

// A profile holds finite numbers only, so a point holding anything else is refused when it is added:
// taken, it would be saved into a profile that then never loads again.
TEST_F(ProfileTest, PointAProfileCouldNotHoldIsRefusedSoTheSavedProfileLoads)
{
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    const std::string dataMessage =
        "Error adding item to calibration. Data array holds a value that is not a finite number (pixel=12345).";
    const std::string sigmaMessage =
        "Error adding item to calibration. Sigma array holds a value that is not a finite number (pixel=12345).";
    const std::string numberMessage = "Error adding item to calibration. Invalid thickness or time.";
    struct Case {
        const char* what;
        double thickness;
        double time;
        double data;  // at pixel 12345; 5 elsewhere
        double sigma; // at pixel 12345, < 0: sigma none given
        std::string message;
    };
    const Case cases[] = {
        {"NaN in the data", 4.0, 1.0, nan, -1.0, dataMessage},
        {"infinity in the data", 4.0, 1.0, inf, -1.0, dataMessage},
        {"minus infinity in the data", 4.0, 1.0, -inf, -1.0, dataMessage},
        {"NaN in the given data and sigma", 4.0, 1.0, nan, 2.0, dataMessage},
        {"NaN in the sigma", 4.0, 1.0, 5.0, nan, sigmaMessage},
        {"infinity in the sigma", 4.0, 1.0, 5.0, inf, sigmaMessage},
        {"NaN thickness", nan, 1.0, 5.0, -1.0, numberMessage},
        {"infinite thickness", inf, 1.0, 5.0, -1.0, numberMessage},
        {"NaN time", 4.0, nan, 5.0, -1.0, numberMessage},
        {"infinite time", 4.0, inf, 5.0, -1.0, numberMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> data(kPixels, 5.0);
        data[12345] = c.data;
        std::vector<double> sigma;
        if (!(c.sigma < 0.0)) { // NaN included
            sigma.assign(kPixels, 2.0);
            sigma[12345] = c.sigma;
        }
        log.clear();
        EXPECT_EQ(ctx.addPoint(c.thickness, c.time, data, sigma), Status::refused);
        EXPECT_TRUE(log.has(c.message)) << (log.lines().empty() ? "no message" : log.lines().back());
        EXPECT_EQ(ctx.points().size(), 3u);
    }
    ASSERT_TRUE(ctx.saveProfile(path));
    hcaltest::LogRecorder otherLog;
    hcal::CalibContext other(otherLog.sink());
    ASSERT_EQ(other.bind(1, hcaltest::kOneChip), Status::ok);
    ASSERT_TRUE(other.loadProfile(path)) << (otherLog.lines().empty() ? "" : otherLog.lines().back());
    expectSameAs(other);
}

TEST_F(ProfileTest, HostileFileKeepsThePreviousList)
{
    const std::string good = readFile(path);
    const std::string readFailed = "Error loading calibration configuration file. Read failed: ";
    const size_t lastValue = good.rfind(" \t");
    struct Case {
        const char* what;
        std::string text;
        std::string message; // the path follows where it ends with ": "
    };
    const Case cases[] = {
        {"method -1", replaced(good, "Method = 1", "Method = -1"), readFailed},
        {"method 3", replaced(good, "Method = 1", "Method = 3"), readFailed},
        {"points 2147483647", replaced(good, "Points = 3", "Points = 2147483647"), readFailed},
        {"points -1", replaced(good, "Points = 3", "Points = -1"), readFailed},
        {"pixels of the header", replaced(good, "Pixels = 65536\nMethod", "Pixels = 999999999\nMethod"), readFailed},
        {"chips of another device", replaced(good, "Chips = 1", "Chips = 4"), readFailed},
        {"pixels of a point", replaced(good, "Pixels = 65536\nTime", "Pixels = 65535\nTime"),
         "Error loading calibration configuration file. Item size is inconsistent!"},
        {"short matrix", good.substr(0, lastValue) + "\n\n", readFailed},
        {"word in a matrix", replaced(good, "0.3333333333333333 \t", "abc \t"), readFailed},
        {"NaN in a matrix", replaced(good, "0.3333333333333333 \t", "nan \t"), readFailed},
        {"infinity in a matrix", replaced(good, "0.3333333333333333 \t", "inf \t"), readFailed},
        {"time 0", replaced(good, "Time = 2\n", "Time = 0\n"), readFailed},
        {"cut after the header", good.substr(0, good.find("Single calibration point")), readFailed},
        {"something after the last point", good + "Single calibration point: extra\n", readFailed},
        {"two points of one thickness", replaced(good, "Thickness = 0.8333333333333333", "Thickness = 0.5"),
         "Error loading calibration configuration file. SortedInsertItem failed (item=1): "},
        {"empty file", "", readFailed},
    };
    // The context's own list differs from the file's.
    hcal::CalibContext other(log.sink());
    ASSERT_EQ(other.bind(1, hcaltest::kOneChip), Status::ok);
    ASSERT_EQ(other.addPoint(7.0, 1.0, std::vector<double>(kPixels, 3.0), {}), Status::ok);
    ASSERT_TRUE(other.setMethod(hcal::kLinear));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir + "/hostile_calib.txt";
        ASSERT_TRUE(writeFile(file, c.text));
        log.clear();
        EXPECT_FALSE(other.loadProfile(file));
        const std::string want = c.message.back() == ' ' ? c.message + file : c.message;
        EXPECT_TRUE(log.has(want)) << (log.lines().empty() ? "no message" : log.lines().back());
        ASSERT_EQ(other.points().size(), 1u);
        EXPECT_EQ(other.points()[0].thickness, 7.0);
        EXPECT_EQ(other.method(), hcal::kLinear);
    }
    log.clear();
    EXPECT_FALSE(other.loadProfile(dir + "/missing_calib.txt"));
    EXPECT_TRUE(log.has("Error loading calibration configuration file. Cannot open file: " + dir + "/missing_calib.txt"));
    EXPECT_EQ(other.points().size(), 1u);
}

int failingSync(int, const char*)
{
    errno = EIO;
    return -1;
}

TEST_F(ProfileTest, FailedSaveLeavesTheOldFile)
{
    const std::string before = readFile(path);
    ASSERT_EQ(ctx.removePoint(0), Status::ok);
    plat::setSyncFunctionForTests(failingSync);
    const bool saved = ctx.saveProfile(path);
    plat::setSyncFunctionForTests(nullptr);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(log.has("Error saving calibration configuration file. Write failed: " + path));
    EXPECT_EQ(readFile(path), before);
    EXPECT_TRUE(ctx.modified());
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++files;
    EXPECT_EQ(files, 1u) << "a temporary file stayed";

    const std::string nowhere = dir + "/no such folder/x_calib.txt";
    EXPECT_FALSE(ctx.saveProfile(nowhere));
    EXPECT_TRUE(log.has("Error saving calibration configuration file. Cannot open file: " + nowhere));
}

// The header names the device as it describes itself; a line end in a name must not break the header,
// or the saved profile would never load again.
TEST(ProfileHeader, DeviceNamesWithLineEndsStillLoad)
{
    const std::string dir = ombrel_test::scratchDir("hardencal-header");
    struct Case {
        const char* what;
        hcal::DeviceShape shape;
        std::string header; // the two name lines as written
    };
    const Case cases[] = {
        {"line end in the interface", {1, 1, "W3", "usb\nbox"}, "Interface: usb box\nChipboard: W3\n"},
        {"CR LF in the chip board", {1, 1, "W3\r\nX", "usb"}, "Interface: usb\nChipboard: W3  X\n"},
        {"line end closing both", {1, 1, "W3\n", "usb\n"}, "Interface: usb \nChipboard: W3 \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hcaltest::LogRecorder log;
        hcal::CalibContext saved(log.sink());
        ASSERT_EQ(saved.bind(0, c.shape), Status::ok);
        ASSERT_EQ(saved.addPoint(2.0, 1.5, std::vector<double>(kPixels, 8.0), {}), Status::ok);
        const std::string file = dir + "/names_calib.txt";
        ASSERT_TRUE(saved.saveProfile(file));
        EXPECT_NE(readFile(file).find(c.header), std::string::npos);
        hcal::CalibContext loaded(log.sink());
        ASSERT_EQ(loaded.bind(0, c.shape), Status::ok);
        ASSERT_TRUE(loaded.loadProfile(file)) << (log.lines().empty() ? "" : log.lines().back());
        ASSERT_EQ(loaded.points().size(), 1u);
        EXPECT_EQ(loaded.points()[0].thickness, 2.0);
        EXPECT_EQ(loaded.points()[0].time, 1.5);
    }
    std::filesystem::remove_all(dir);
}

TEST(DefaultProfile, NamedAfterInterfaceAndCleanedChipBoard)
{
    hcal::CalibContext ctx(nullptr);
    ASSERT_EQ(ctx.bind(0, {1, 1, "../../W3/x\r", "usb"}), Status::ok);
    EXPECT_EQ(ctx.defaultProfilePath("/app/configs/"), "/app/configs/usb_....W3x_calib.txt");
}

TEST(MatrixFile, ExactlyTheCountOfFiniteNumbers)
{
    const std::string dir = ombrel_test::scratchDir("hardencal-matrix");
    struct Case {
        const char* what;
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {"one line", "1 2.5 -3 4e2\n", true},
        {"CR LF lines", "1\t2.5\r\n-3 4e2\r\n\r\n", true},
        {"no line end", "1 2.5 -3 4e2", true},
        {"too few", "1 2.5 -3\n", false},
        {"too many", "1 2.5 -3 4e2 5\n", false},
        {"a word", "1 2.5 x 4e2\n", false},
        {"NaN", "1 2.5 nan 4e2\n", false},
        {"comma decimal", "1 2,5 -3 4e2\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir + "/m.txt";
        ASSERT_TRUE(writeFile(file, c.text));
        std::vector<double> out = {7.0};
        std::string error;
        EXPECT_EQ(hcal::readMatrixFile(file, 4, out, &error), c.ok);
        if (c.ok)
            EXPECT_EQ(out, (std::vector<double>{1.0, 2.5, -3.0, 400.0}));
        else
            EXPECT_EQ(out, std::vector<double>{7.0});
    }
    std::string error;
    std::vector<double> out;
    EXPECT_FALSE(hcal::readMatrixFile(dir + "/missing.txt", 4, out, &error));
    EXPECT_FALSE(error.empty());
    std::filesystem::remove_all(dir);
}

} // namespace
