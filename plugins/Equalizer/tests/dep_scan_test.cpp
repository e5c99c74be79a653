#include "model_rig.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dep_scan.h"

namespace {

using equalizer::DepScan;
using eqtest::ModelRig;

std::vector<uint16_t> deviceDacs(const _MgrFuncTable* t, int size)
{
    std::vector<uint16_t> dacs(static_cast<size_t>(size));
    EXPECT_EQ(t->tvkCtrlGetDACs(0, dacs.data(), size, -1), 0);
    return dacs;
}

std::string dacName(const _MgrFuncTable* t, int index)
{
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    EXPECT_EQ(t->tvkCtrlGetDACsNames(0, &names, &bits, &count), 0);
    return index < count ? names[index] : "";
}

// The analog read-back seen through a table whose read function records the device's DACs at each read
// and can abort the scan at a given read.
struct ReadHook {
    static inline const _MgrFuncTable* real = nullptr;
    static inline std::vector<std::vector<uint16_t>> seen;
    static inline int dacSize = 0;
    static inline int abortAt = 0;
    static inline DepScan* scan = nullptr;
    static int read(unsigned dev, double* values, int size, int dac, int chip, int samples)
    {
        seen.push_back(deviceDacs(real, dacSize));
        if (static_cast<int>(seen.size()) == abortAt)
            scan->abort();
        return real->tvkCtrlGetSingleDACAnalog(dev, values, size, dac, chip, samples);
    }
    static _MgrFuncTable wrap(const _MgrFuncTable* table, int size, DepScan* s, int abortAtRead)
    {
        real = table;
        seen.clear();
        dacSize = size;
        abortAt = abortAtRead;
        scan = s;
        _MgrFuncTable t = *table;
        t.tvkCtrlGetSingleDACAnalog = read;
        return t;
    }
};

// The model reads back code x 1.5 V / largest code; one sample has no spread. A DAC narrower than the
// range is cut at its largest value, and the notice says which DACs and to what; the planned codes are
// those the scan visits (the window's progress is measured against them).
TEST(DepScan, WritesEveryDacOfTheMaskUpToItsLargestValue)
{
    struct Case {
        const char* ini;
        uint32_t mask;
        int from, to, step;
        int dacSize;
        std::vector<int> indices;
        std::vector<std::string> bodies; // per DAC of the mask
        std::vector<int> cut;            // the DACs cut to 255
        int planned;
    };
    const Case cases[] = {
        {"[Model]\nChips=1\nType=1\n", 0x101, 250, 300, 2, 13, {0, 8},
         {"250\t1.4706\t0.0000\n252\t1.4824\t0.0000\n254\t1.4941\t0.0000\n",
          "250\t1.4706\t0.0000\n252\t1.4824\t0.0000\n254\t1.4941\t0.0000\n"},
         {0, 8}, 6},
        {"[Model]\nChips=1\nType=1\n", 0x2, 0, 10, 5, 13, {1}, // to reached exactly
         {"0\t0.0000\t0.0000\n5\t0.0294\t0.0000\n10\t0.0588\t0.0000\n"}, {}, 3},
        {"[Model]\nChips=4\nType=2\n", 0x41, 254, 1023, 767, 60, {0, 6}, // 8- and 10-bit DACs, 4 chips
         {"254\t1.4941\t0.0000\t1.4941\t0.0000\t1.4941\t0.0000\t1.4941\t0.0000\n",
          "254\t0.3724\t0.0000\t0.3724\t0.0000\t0.3724\t0.0000\t0.3724\t0.0000\n"
          "1021\t1.4971\t0.0000\t1.4971\t0.0000\t1.4971\t0.0000\t1.4971\t0.0000\n"},
         {0}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini + std::to_string(c.mask));
        ModelRig rig(c.ini);
        const _MgrFuncTable* t = rig.table();
        const std::vector<uint16_t> before = deviceDacs(t, c.dacSize);
        const std::string path = ombrel_test::scratchDir("depscan") + "/deps.txt";
        DepScan scan;
        ASSERT_EQ(scan.setUp(t, 0), 0);
        ASSERT_EQ(scan.configure(c.mask, false, c.from, c.to, c.step, path), 0);
        std::string notice;
        if (c.cut.size() == 1)
            notice = "Scan TO (" + std::to_string(c.to) + ") is cut to 255 for " + dacName(t, c.cut[0]) +
                     " (its largest value).";
        else if (c.cut.size() == 2)
            notice = "Scan TO (" + std::to_string(c.to) + ") is cut to 255 for " + dacName(t, c.cut[0]) + ", " +
                     dacName(t, c.cut[1]) + " (their largest value).";
        EXPECT_EQ(scan.notice(), notice);
        EXPECT_EQ(scan.plannedCodes(), c.planned);
        std::vector<bool> ends;
        EXPECT_EQ(scan.run([&](bool ok) { ends.push_back(ok); }), 0) << scan.lastError();
        EXPECT_EQ(ends, std::vector<bool>{true});
        std::string expected;
        for (size_t k = 0; k < c.indices.size(); ++k)
            expected += (k ? "\n# " : "# ") + dacName(t, c.indices[k]) + "\n" + c.bodies[k];
        EXPECT_EQ(ombrel_test::readFile(path), expected);
        EXPECT_EQ(deviceDacs(t, c.dacSize), before);
        std::vector<uint16_t> sent(before.size());
        ASSERT_EQ(rig.model<ModelLastDacsFn>("modelLastDacs")(0, sent.data(), c.dacSize), 0);
        EXPECT_EQ(sent, before);
    }
}

// Asked for it, the DACs outside the scanned one sit at their middle value while it is read; otherwise they
// keep the device's values. A scanned DAC leaves its code before the next one moves.
TEST(DepScan, OtherDacsAtTheirMiddleValueOnlyWhenAsked)
{
    for (bool middle : {false, true}) {
        SCOPED_TRACE(middle);
        ModelRig rig("[Model]\nChips=1\nType=1\n");
        const std::vector<uint16_t> before = deviceDacs(rig.table(), 13);
        DepScan scan;
        const _MgrFuncTable t = ReadHook::wrap(rig.table(), 13, &scan, 0);
        ASSERT_EQ(scan.setUp(&t, 0), 0);
        ASSERT_EQ(scan.configure(0x6, middle, 3, 4, 1, ""), 0);
        ASSERT_EQ(scan.run(nullptr), 0);
        const std::vector<int> scanned = {1, 1, 2, 2};
        const std::vector<int> codes = {3, 4, 3, 4};
        ASSERT_EQ(ReadHook::seen.size(), 4u);
        for (size_t r = 0; r < 4; ++r)
            for (int i = 0; i < 13; ++i) {
                const int expected = i == scanned[r] ? codes[r] : middle ? 128 : before[static_cast<size_t>(i)];
                EXPECT_EQ(ReadHook::seen[r][static_cast<size_t>(i)], expected) << "read " << r << " DAC " << i;
            }
        EXPECT_EQ(deviceDacs(rig.table(), 13), before);
    }
}

TEST(DepScan, RefusesBadSettingsAndKeepsTheLastGoodOnes)
{
    ModelRig rig("[Model]\nChips=1\nType=1\n");
    DepScan scan;
    ASSERT_EQ(scan.setUp(rig.table(), 0), 0);
    const std::string path = ombrel_test::scratchDir("depscan") + "/kept.txt";
    ASSERT_EQ(scan.configure(0x1, false, 0, 0, 1, path), 0);
    struct Case {
        uint32_t mask;
        int from, to, step;
        const char* error;
    };
    const Case cases[] = {
        {0x1, -1, 5, 1, "Scan FROM (-1) must not be negative."},
        {0x1, 0, 5, 0, "Scan STEP (0) must be positive."},
        {0x1, 0, 5, -2, "Scan STEP (-2) must be positive."},
        {0x1, 6, 5, 1, "Scan FROM (6) is above scan TO (5)."},
        {0x0, 0, 5, 1, "Invalid DACs mask (0x0), the device has 13 DACs."},
        {0x2001, 0, 5, 1, "Invalid DACs mask (0x2001), the device has 13 DACs."},
        {0x1, 256, 300, 1, nullptr}, // above the DAC's largest value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mask << " " << c.from << ".." << c.to << " by " << c.step);
        EXPECT_EQ(scan.configure(c.mask, true, c.from, c.to, c.step, "/nonexistent-folder/x.txt"), -1);
        if (c.error) {
            EXPECT_EQ(scan.lastError(), c.error);
        }
        EXPECT_FALSE(scan.lastError().empty());
        EXPECT_EQ(ModelRig::log().back(), "equalizer: " + scan.lastError());
    }
    ASSERT_EQ(scan.run(nullptr), 0) << scan.lastError();
    EXPECT_EQ(ombrel_test::readFile(path), "# " + dacName(rig.table(), 0) + "\n0\t0.0000\t0.0000\n");

    DepScan unbound;
    std::vector<bool> ends;
    EXPECT_EQ(unbound.configure(0x1, false, 0, 1, 1, path), -1);
    EXPECT_EQ(unbound.run([&](bool ok) { ends.push_back(ok); }), -1);
    EXPECT_EQ(ends, std::vector<bool>{false});
}

// Every failing path ends once with an error, writes no file and gives the device its DACs back.
TEST(DepScan, FailuresAndAbortEndOnceAndRestoreTheDacs)
{
    struct Case {
        const char* function; // of the model, failing at its k-th call
        int k;
        int abortAtRead;
        bool unwritable;
        int result;
        const char* error; // null: starts with "Cannot write"
    };
    const Case cases[] = {
        {"hwSetTvkDACs", 1, 0, false, -1, "Setting DAC %s to 10 failed."},
        {"hwSetTvkDACs", 2, 0, false, -1, "Reading the analog value of DAC %s at 10 failed."},
        {"hwGetTvkDacVal", 6, 0, false, -1, "Reading the analog value of DAC %s at 11 failed."},
        {nullptr, 0, 2, false, equalizer::kDepScanAborted, "Dependency scan aborted."},
        {nullptr, 0, 0, true, -1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.function ? c.function : "") << c.k << " " << c.abortAtRead);
        ModelRig rig("[Model]\nChips=4\nType=1\n");
        const std::vector<uint16_t> before = deviceDacs(rig.table(), 52);
        const std::string folder = ombrel_test::scratchDir("depscan");
        const std::string path = c.unwritable ? folder + "/missing/deps.txt" : folder + "/deps.txt";
        DepScan scan;
        const _MgrFuncTable t = ReadHook::wrap(rig.table(), 52, &scan, c.abortAtRead);
        ASSERT_EQ(scan.setUp(&t, 0), 0);
        ASSERT_EQ(scan.configure(0x180, false, 10, 13, 1, path), 0);
        if (c.function) {
            ASSERT_EQ(rig.model<ModelFailAtFn>("modelFailAt")(0, c.function, c.k), 0);
        }
        std::vector<bool> ends;
        EXPECT_EQ(scan.run([&](bool ok) { ends.push_back(ok); }), c.result);
        EXPECT_EQ(ends, std::vector<bool>{false});
        if (c.error) {
            char text[256];
            std::snprintf(text, sizeof text, c.error, dacName(rig.table(), 7).c_str());
            EXPECT_EQ(scan.lastError(), text);
        } else {
            EXPECT_EQ(scan.lastError().rfind("Cannot write the dependency scan file " + path + ": ", 0), 0u)
                << scan.lastError();
        }
        EXPECT_FALSE(std::filesystem::exists(folder + "/deps.txt"));
        EXPECT_EQ(deviceDacs(rig.table(), 52), before);
        std::vector<uint16_t> sent(before.size());
        ASSERT_EQ(rig.model<ModelLastDacsFn>("modelLastDacs")(0, sent.data(), 52), 0);
        EXPECT_EQ(sent, before);
    }
}

} // namespace
