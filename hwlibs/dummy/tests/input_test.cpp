// Input images of the simulated devices: the file formats, numbered series with and without cache,
// folders, default file names, failures that leave the input not ready, the Poisson noise, and the
// default image that the build generates.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dummy_library.h"
#include "pluginfw/tvk_utils.h"

using namespace hwdummytest;
namespace fs = std::filesystem;

namespace {

// A pattern with negative values, zeros and values above the counter range.
std::vector<int16_t> patternImage()
{
    std::vector<int16_t> image(kPixels);
    for (uint32_t i = 0; i < kPixels; ++i)
        image[i] = static_cast<int16_t>(static_cast<int>((i * 37u) % 12000u) - 100);
    for (uint32_t i = 0; i < kPixels; i += 5)
        image[i] = 0;
    return image;
}

// What an unscaled read-out serves for an image: negative values count nothing.
std::vector<uint16_t> served(const std::vector<int16_t>& image)
{
    std::vector<uint16_t> out(image.size());
    std::transform(image.begin(), image.end(), out.begin(),
                   [](int16_t v) { return static_cast<uint16_t>(v < 0 ? 0 : v); });
    return out;
}

void writeAsciiDense(const std::string& path, const std::vector<int16_t>& image, const char* lineEnd = "\n")
{
    std::string text;
    for (uint32_t i = 0; i < kPixels; ++i) {
        text += std::to_string(image[i]);
        text += (i + 1) % kWidth == 0 ? lineEnd : " ";
    }
    writeAll(path, text);
}

void writeBinaryDense(const std::string& path, const std::vector<int16_t>& image)
{
    writeAll(path, std::string(reinterpret_cast<const char*>(image.data()), image.size() * 2));
}

void writeBinarySparseIndex(const std::string& path, const std::vector<int16_t>& image)
{
    std::string data;
    for (uint32_t i = 0; i < kPixels; ++i)
        if (image[i] != 0) {
            data.append(reinterpret_cast<const char*>(&i), 4);
            data.append(reinterpret_cast<const char*>(&image[i]), 2);
        }
    writeAll(path, data);
}

void writeAsciiSparse(const std::string& path, const std::vector<int16_t>& image, bool xy)
{
    std::string text;
    for (uint32_t i = 0; i < kPixels; ++i)
        if (image[i] != 0) {
            text += xy ? std::to_string(i % kWidth) + "\t" + std::to_string(i / kWidth) : std::to_string(i);
            text += "\t" + std::to_string(image[i]) + "\n";
        }
    writeAll(path, text);
}

void writeConstant(const std::string& path, int16_t value)
{
    writeAsciiDense(path, std::vector<int16_t>(kPixels, value));
}

// The value of the first pixel of each of n unscaled exposures.
std::vector<int> firstPixels(DummyLibrary& lib, int id, int n)
{
    std::vector<int> values;
    for (int i = 0; i < n; ++i) {
        std::vector<uint16_t> counts;
        const int r = lib.readImage(id, counts);
        EXPECT_EQ(r, 0) << lib.hw().hwGetLastError(id);
        values.push_back(r == 0 ? counts[0] : -1);
    }
    return values;
}

TEST(DummyInput, EveryFileFormatIsDetectedAndRead)
{
    const auto image = patternImage();
    const struct {
        const char* name;
        std::function<void(const std::string&)> write;
    } cases[] = {
        {"dense.txt", [&](const std::string& p) { writeAsciiDense(p, image); }},
        {"dense_crlf.txt", [&](const std::string& p) { writeAsciiDense(p, image, "\r\n"); }},
        {"dense.bin", [&](const std::string& p) { writeBinaryDense(p, image); }},
        {"sparse_index.bin", [&](const std::string& p) { writeBinarySparseIndex(p, image); }},
        {"sparse_index.txt", [&](const std::string& p) { writeAsciiSparse(p, image, false); }},
        {"sparse_xy.txt", [&](const std::string& p) { writeAsciiSparse(p, image, true); }},
    };
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    for (const auto& c : cases) {
        c.write(lib.path(c.name));
        ASSERT_EQ(lib.setFileName(0, lib.path(c.name)), 0) << c.name << ": " << lib.hw().hwGetLastError(0);
        std::vector<uint16_t> counts;
        ASSERT_EQ(lib.readImage(0, counts), 0) << c.name;
        EXPECT_EQ(counts, served(image)) << c.name;
    }
}

TEST(DummyInput, SparseFilesClearTheRestOfTheImage)
{
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    writeAll(lib.path("few.txt"), "3 1 77\n\n255 255 8\n");
    ASSERT_EQ(lib.setFileName(0, lib.path("few.txt")), 0) << lib.hw().hwGetLastError(0);
    std::vector<uint16_t> counts;
    ASSERT_EQ(lib.readImage(0, counts), 0);
    std::vector<uint16_t> expected(kPixels, 0);
    expected[256 + 3] = 77;
    expected[kPixels - 1] = 8;
    EXPECT_EQ(counts, expected);
}

TEST(DummyInput, BadFilesAreRefusedAndLeaveTheInputNotReady)
{
    const struct {
        const char* name;
        std::string content; // empty: no file
        int code;
        const char* message; // a part of it
    } cases[] = {
        {"missing.txt", "", -5, "Cannot open file"},
        {"x_too_big.txt", "1 1 5\n256 0 5\n", -9, "x: 256, y: 0)."},
        {"y_too_big.txt", "1 1 5\n0 256 5\n", -9, "x: 0, y: 256)."},
        {"index_too_big.txt", "7 5\n65536 5\n", -9, "x: 65536)."},
        {"bad_line.txt", "1 2 3\n1 2 three\n", -1, "Line 2"},
        {"negative_position.txt", "1 2 3\n-1 2 3\n", -1, "Line 2"},
        {"value_out_of_range.txt", "1 2 3\n1 2 40000\n", -1, "Line 2"},
        {"index_too_big.bin", std::string("\x00\x00\x01\x00\x05\x00", 6), -9, "x: 65536)."},
        {"truncated.bin", std::string("\x01\x00\x00\x00\x05\x00\x02\x00", 8), -7, "incomplete record"},
        {"short_dense.txt", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32 "
                            "33 34 35 36 37 38 39 40 41 42 43 44 45 46 47 48 49 50 51 52 53 54 55 56 57 58 59 60 61 "
                            "62 63 64 65 66 67 68 69 70 71 72 73 74 75 76 77 78 79 80 81 82 83 84 85 86 87 88 89 90 "
                            "91 92 93 94 95 96 97 98 99 100 101 102 103 104 105 106 107 108 109 110 111 112 113 114 "
                            "115 116 117 118 119 120 121 122 123 124 125 126 127 128 129 130 131 132 133 134 135 136 "
                            "137 138 139 140 141 142 143 144 145 146 147 148 149 150 151 152 153 154 155 156 157 158 "
                            "159 160 161 162 163 164 165 166 167 168 169 170 171 172 173 174 175 176 177 178 179 180 "
                            "181 182 183 184 185 186 187 188 189 190 191 192 193 194 195 196 197 198 199 200 201 202 "
                            "203 204 205 206 207 208 209 210 211 212 213 214 215 216 217 218 219 220 221 222 223 224 "
                            "225 226 227 228 229 230 231 232 233 234 235 236 237 238 239 240 241 242 243 244 245 246 "
                            "247 248 249 250 251 252 253 254 255 256\n",
         -7, "Reading 65536 items"},
    };
    for (const auto& c : cases) {
        DummyLibrary lib(iniWithCount(1));
        writeConstant(lib.path("dummy_2000.txt"), 9);
        lib.initAll();
        std::vector<uint16_t> counts;
        ASSERT_EQ(lib.readImage(0, counts), 0);

        if (!c.content.empty())
            writeAll(lib.path(c.name), c.content);
        EXPECT_EQ(lib.setFileName(0, lib.path(c.name)), c.code) << c.name;
        EXPECT_NE(std::string(lib.hw().hwGetLastError(0)).find(c.message), std::string::npos)
            << c.name << ": " << lib.hw().hwGetLastError(0);
        EXPECT_EQ(lib.readImage(0, counts), kHwError) << c.name;
        EXPECT_STREQ(lib.hw().hwGetLastError(0), "Input data files are not ready");

        // Setting a good name again makes the input ready.
        ASSERT_EQ(lib.setFileName(0, lib.path("dummy_2000.txt")), 0);
        ASSERT_EQ(lib.readImage(0, counts), 0);
        EXPECT_EQ(counts[0], 9);
    }
}

TEST(DummyInput, NegativeValuesInSparseRecordsCountNothing)
{
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    writeAll(lib.path("neg.txt"), "3 4 -5\n4 4 6\n");
    ASSERT_EQ(lib.setFileName(0, lib.path("neg.txt")), 0) << lib.hw().hwGetLastError(0);
    std::vector<uint16_t> counts;
    ASSERT_EQ(lib.readImage(0, counts), 0);
    EXPECT_EQ(counts[4 * 256 + 3], 0);
    EXPECT_EQ(counts[4 * 256 + 4], 6);
}

TEST(DummySeries, NumberedFilesAreServedInTurn)
{
    for (uint32_t cache : {1u, 3u, 10u}) {
        DummyLibrary lib(iniWithCount(1));
        lib.initAll();
        for (int i : {7, 8, 9})
            writeConstant(lib.path("img00" + std::to_string(i) + ".txt"), static_cast<int16_t>(i));
        // In the order of the items, as a configuration file sets them.
        ASSERT_EQ(lib.setFileName(0, lib.path("img007.txt")), 0) << lib.hw().hwGetLastError(0);
        ASSERT_EQ(lib.setU32(0, kDataFileCount, 3), 0) << lib.hw().hwGetLastError(0);
        ASSERT_EQ(lib.setU32(0, kCacheCount, cache), 0);
        EXPECT_EQ(firstPixels(lib, 0, 4), (std::vector<int>{7, 8, 9, 7})) << "cache " << cache;

        ASSERT_EQ(lib.setU32(0, kImageCounter, 5), 0); // taken modulo the file count
        EXPECT_EQ(firstPixels(lib, 0, 1), std::vector<int>{9}) << "cache " << cache;
        EXPECT_EQ(lib.get<uint32_t>(0, kImageCounter), 3u);

        // With every file cached, the files are no longer needed.
        fs::remove(lib.path("img008.txt"));
        std::vector<uint16_t> counts;
        const int r = firstPixels(lib, 0, 1)[0];
        ASSERT_EQ(r, 7);
        const int second = lib.readImage(0, counts);
        if (cache >= 3)
            EXPECT_EQ(second, 0);
        else
            EXPECT_EQ(second, -5) << "read from disk at each exposure";
    }
}

TEST(DummySeries, NameWithoutIndexIsRefused)
{
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    writeConstant(lib.path("img.txt"), 1);
    ASSERT_EQ(lib.setFileName(0, lib.path("img.txt")), 0);
    EXPECT_EQ(lib.setU32(0, kDataFileCount, 2), kHwError);
    EXPECT_EQ(std::string(lib.hw().hwGetLastError(0)),
              "File name \"" + lib.path("img.txt") + "\" does not contain index.");
    std::vector<uint16_t> counts;
    EXPECT_EQ(lib.readImage(0, counts), kHwError);
}

TEST(DummySeries, IndexAtTheEndOfANameWithoutExtension)
{
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    // The dot belongs to the folder; the index grows past its digit count.
    fs::create_directories(lib.path("run.1"));
    for (int i : {98, 99, 100})
        writeConstant(lib.path("run.1/frame" + std::to_string(i)), static_cast<int16_t>(i));
    ASSERT_EQ(lib.setFileName(0, lib.path("run.1/frame98")), 0) << lib.hw().hwGetLastError(0);
    ASSERT_EQ(lib.setU32(0, kDataFileCount, 3), 0) << lib.hw().hwGetLastError(0);
    ASSERT_EQ(lib.setU32(0, kCacheCount, 0), 0);
    EXPECT_EQ(firstPixels(lib, 0, 4), (std::vector<int>{98, 99, 100, 98}));
}

TEST(DummyFolder, EveryFileOfTheFolderInByteOrder)
{
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    const std::string folder = lib.path("images");
    fs::create_directories(folder + "/sub");
    writeConstant(folder + "/b.txt", 2);
    writeConstant(folder + "/a.txt", 1);
    writeConstant(folder + "/B.txt", 3); // 'B' sorts before 'a'
    writeConstant(folder + "/sub/z.txt", 99);
    ASSERT_EQ(lib.setFileName(0, folder + "/"), 0) << lib.hw().hwGetLastError(0);
    EXPECT_EQ(firstPixels(lib, 0, 4), (std::vector<int>{3, 1, 2, 3}));
    EXPECT_EQ(lib.get<uint32_t>(0, kDataFileCount), 3u);
    EXPECT_EQ(lib.flags(0, kDataFileCount), 0u);
    EXPECT_EQ(lib.flags(0, kCacheCount), 0u);
    EXPECT_EQ(lib.setU32(0, kDataFileCount, 7), 0) << "not writable in folder mode";
    EXPECT_EQ(lib.get<uint32_t>(0, kDataFileCount), 3u);

    // Back to a file: the counts are writable again.
    ASSERT_EQ(lib.setFileName(0, folder + "/a.txt"), kHwError) << "three files need an index";
    EXPECT_EQ(lib.flags(0, kDataFileCount), 3u);
}

TEST(DummyFolder, FailingFilesAreDroppedAndAnEmptiedFolderIsNotReady)
{
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    const std::string folder = lib.path("images");
    fs::create_directories(folder);
    writeConstant(folder + "/a.txt", 1);
    writeAll(folder + "/b.txt", "300 0 5\n");
    writeConstant(folder + "/c.txt", 3);
    ASSERT_EQ(lib.setFileName(0, folder), 0);
    EXPECT_EQ(firstPixels(lib, 0, 3), (std::vector<int>{1, 3, 1}));
    EXPECT_EQ(lib.get<uint32_t>(0, kDataFileCount), 2u);

    // Every file fails: the read reports it, and later reads find the input not ready.
    writeAll(folder + "/a.txt", "300 0 5\n");
    writeAll(folder + "/c.txt", "300 0 5\n");
    std::vector<uint16_t> counts;
    EXPECT_EQ(lib.readImage(0, counts), kHwError);
    EXPECT_EQ(std::string(lib.hw().hwGetLastError(0)), "No input file found in directory \"" + folder + "\".");
    EXPECT_EQ(lib.readImage(0, counts), kHwError);
    EXPECT_STREQ(lib.hw().hwGetLastError(0), "Input data files are not ready");
    EXPECT_EQ(lib.fileName(0), folder) << "the folder is kept, not replaced by the default file";

    // Once a file is usable again, preparing the folder again serves it.
    writeConstant(folder + "/c.txt", 3);
    ASSERT_EQ(lib.setFileName(0, folder), 0) << lib.hw().hwGetLastError(0);
    EXPECT_EQ(firstPixels(lib, 0, 2), (std::vector<int>{3, 3}));
    EXPECT_EQ(lib.get<uint32_t>(0, kDataFileCount), 1u);
}

TEST(DummyFolder, EmptyFolderIsRefused)
{
    DummyLibrary lib(iniWithCount(1));
    lib.initAll();
    const std::string folder = lib.path("empty");
    fs::create_directories(folder + "/only_a_folder");
    EXPECT_EQ(lib.setFileName(0, folder), kHwError);
    EXPECT_EQ(std::string(lib.hw().hwGetLastError(0)), "No input file found in directory \"" + folder + "\".");
    std::vector<uint16_t> counts;
    EXPECT_EQ(lib.readImage(0, counts), kHwError);
}

TEST(DummyDefaults, DefaultFileBesideTheSettingsFile)
{
    for (int unique : {0, 1}) {
        DummyLibrary lib(iniWithCount(2, unique));
        writeConstant(lib.path("dummy_2000.txt"), 1);
        writeConstant(lib.path("dummy_2001.txt"), 2);
        EXPECT_EQ(lib.initAll(), (std::vector<int>{0, 1}));
        EXPECT_EQ(lib.fileName(1), unique ? "dummy_2001.txt" : "dummy_2000.txt") << "relative to the library";
        EXPECT_EQ(firstPixels(lib, 0, 1), std::vector<int>{1});
        EXPECT_EQ(firstPixels(lib, 1, 1), std::vector<int>{unique ? 2 : 1});

        // A file count of 0 selects the default file again.
        writeConstant(lib.path("other.txt"), 5);
        ASSERT_EQ(lib.setFileName(0, lib.path("other.txt")), 0);
        EXPECT_EQ(firstPixels(lib, 0, 1), std::vector<int>{5});
        ASSERT_EQ(lib.setU32(0, kDataFileCount, 0), 0);
        EXPECT_EQ(lib.fileName(0), "dummy_2000.txt");
        EXPECT_EQ(lib.get<uint32_t>(0, kDataFileCount), 1u);
    }
}

TEST(DummyDefaults, StoredNamesStillHoldInACopiedFolder)
{
    // Folder A: device 0 serves the default image, device 1 a name relative to the library's folder,
    // device 2 a file outside it by its absolute name. Their names are what a configuration stores.
    const std::string outside = ombrel_test::scratchDir("hwdummy-outside") + "/fixed.txt";
    writeConstant(outside, 7);
    DummyLibrary a(iniWithCount(3, 0));
    writeConstant(a.path("dummy_2000.txt"), 1);
    fs::create_directories(a.path("images"));
    writeConstant(a.path("images/run.txt"), 3);
    ASSERT_EQ(a.initAll(), (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(a.setFileName(1, "images/run.txt"), 0) << a.hw().hwGetLastError(1);
    ASSERT_EQ(a.setFileName(2, outside), 0) << a.hw().hwGetLastError(2);
    EXPECT_EQ(firstPixels(a, 1, 1), std::vector<int>{3});
    const std::vector<std::string> stored = {a.fileName(0), a.fileName(1), a.fileName(2)};
    EXPECT_EQ(stored, (std::vector<std::string>{"dummy_2000.txt", "images/run.txt", outside}));
    a.unload();

    // Folder B, a copy of A with images of its own; A keeps its images.
    const std::string b = ombrel_test::scratchDir("hwdummy-copied");
    fs::copy(a.folder(), b, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    writeConstant(b + "/dummy_2000.txt", 2);
    writeConstant(b + "/images/run.txt", 4);
    DummyLibrary copy(DummyLibrary::InFolder{b});
    ASSERT_EQ(copy.initAll(), (std::vector<int>{0, 1, 2}));
    for (int id = 0; id < 3; ++id) // as a configuration file sets the item
        ASSERT_EQ(copy.setFileName(id, stored[static_cast<size_t>(id)]), 0) << copy.hw().hwGetLastError(id);
    EXPECT_EQ(firstPixels(copy, 0, 1), std::vector<int>{2}) << "B's default image";
    EXPECT_EQ(firstPixels(copy, 1, 1), std::vector<int>{4}) << "B's image of the relative name";
    EXPECT_EQ(firstPixels(copy, 2, 1), std::vector<int>{7}) << "the absolute name stays";
}

TEST(DummyDefaults, MissingDefaultFileFailsInitAndLaterReads)
{
    DummyLibrary lib(iniWithCount(1));
    int id = -1;
    ASSERT_EQ(lib.hw().hwGetFirst(&id), 0);
    EXPECT_EQ(lib.hw().hwInit(0), -5);
    EXPECT_NE(std::string(lib.hw().hwGetLastError(0)).find("dummy_2000.txt"), std::string::npos);
    std::vector<uint16_t> counts;
    EXPECT_EQ(lib.readImage(0, counts), kHwError);
}

TEST(DummyDefaults, GeneratedImageIsServed)
{
    const std::string defaults = HWDUMMY_DEFAULTS_DIR;
    DummyLibrary lib(readAll(defaults + "/tvkHwDummy.ini"));
    fs::copy_file(defaults + "/dummy_2000.txt", lib.path("dummy_2000.txt"));
    ASSERT_EQ(lib.initAll(), std::vector<int>{0}) << "one simulated device";

    std::vector<short> image(kPixels);
    char err[4096];
    ASSERT_EQ(readAsciiI16File(kPixels, lib.path("dummy_2000.txt").c_str(), image.data(), err), 0) << err;
    std::vector<uint16_t> counts;
    ASSERT_EQ(lib.readImage(0, counts), 0);
    EXPECT_TRUE(std::equal(counts.begin(), counts.end(), image.begin()));

    // A detector image: a low background and a minority of hit pixels well above it, all in range.
    std::vector<short> sorted = image;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_GE(sorted.front(), 0);
    EXPECT_LE(sorted.back(), 8000);
    EXPECT_GT(sorted.back(), 1000);
    const short median = sorted[kPixels / 2];
    EXPECT_GT(median, 5);
    EXPECT_LT(median, 150);
    const auto hits = std::count_if(image.begin(), image.end(), [&](short v) { return v > 3 * median; });
    EXPECT_GT(hits, 300);
    EXPECT_LT(hits, static_cast<long>(kPixels / 5));
}

struct Moments {
    double mean = 0, variance = 0;
};

Moments momentsOf(const std::vector<uint16_t>& counts, const std::vector<uint8_t>& cfg)
{
    double sum = 0, sum2 = 0;
    size_t n = 0;
    for (size_t i = 0; i < counts.size(); ++i)
        if (cfg[i] & 1) {
            sum += counts[i];
            sum2 += static_cast<double>(counts[i]) * counts[i];
            ++n;
        }
    Moments m;
    m.mean = sum / n;
    m.variance = sum2 / n - m.mean * m.mean;
    return m;
}

TEST(DummyNoise, PoissonCountsAroundTheScaledImage)
{
    for (int16_t value : {5, 1000}) {
        DummyLibrary lib(iniWithCount(1));
        writeConstant(lib.path("dummy_2000.txt"), value);
        lib.initAll();
        std::vector<uint8_t> cfg(kPixels, 0xFF);
        for (uint32_t i = 0; i < kPixels; i += 4)
            cfg[i] = 0;
        ASSERT_EQ(lib.hw().hwSetPixelsCfg(0, cfg.data(), kPixels), 0);
        ASSERT_EQ(lib.setDouble(0, kTimeElement, 0.01), 0);
        std::vector<uint16_t> counts;
        double elapsed = 0;
        ASSERT_EQ(lib.exposeAndRead(0, 0.01, counts, &elapsed), 0);
        const double mean = std::trunc(value * (elapsed / 0.01));
        if (mean > 7000)
            GTEST_SKIP() << "the exposure overran too far for an unfolded check";
        const Moments m = momentsOf(counts, cfg);
        // 49152 counting pixels: the mean's spread is sqrt(mean / 49152), far below these bounds.
        EXPECT_NEAR(m.mean, mean, 0.05 * mean + 0.1) << "value " << value;
        EXPECT_NEAR(m.variance, mean, 0.15 * mean + 0.1) << "value " << value;
        for (uint32_t i = 0; i < kPixels; i += 4)
            ASSERT_EQ(counts[i], 0) << "masked pixel " << i;
    }
}

TEST(DummyNoise, TwoDevicesGiveDifferentNoise)
{
    DummyLibrary lib(iniWithCount(2));
    writeConstant(lib.path("dummy_2000.txt"), 30000);
    ASSERT_EQ(lib.initAll(), (std::vector<int>{0, 1}));
    // A factor so large that every product is limited to the same mean, whatever the exposures measured:
    // the two devices draw from the same distribution.
    std::vector<uint16_t> a, b;
    for (int id : {0, 1})
        ASSERT_EQ(lib.setDouble(id, kTimeElement, 1e-12), 0);
    ASSERT_EQ(lib.exposeAndRead(0, 0.0, a), 0);
    ASSERT_EQ(lib.exposeAndRead(1, 0.0, b), 0);
    size_t equal = 0;
    for (uint32_t i = 0; i < kPixels; ++i)
        equal += a[i] == b[i];
    // Independent counts agree by chance in about 1 of 8001 pixels; shared noise in all of them.
    EXPECT_LT(equal, kPixels / 100) << "the devices share their noise";
    EXPECT_GT(std::set<uint16_t>(a.begin(), a.end()).size(), 1000u) << "no noise at all";
}

} // namespace
