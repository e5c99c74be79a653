// DACs through the C API: checks, the reference derivation, defaults, sending, analog read-back and the
// external DAC, against what the fake hardware received.
#include "dev_fixture.h"

#include <cmath>
#include <vector>

namespace {

using namespace devtest;

// Devices: 0 one type-1 chip, 1 four type-1 chips, 2 one type-2 chip, 3 four type-3 chips.
class DacTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        dacsChanged = 0;
        extChanged = 0;
        initWith({{1, 1}, {4, 1}, {1, 2}, {4, 3}});
        setCbDacsChanged([](int) { ++dacsChanged; });
        setCbExtDacChanged([](int) { ++extChanged; });
    }

    struct Sent {
        std::vector<uint16_t> dacs;
        int senseOn = 0;
        int extDacOn = 0;
        std::vector<int> codes;
    };
    Sent lastSent(int id)
    {
        Sent s;
        s.dacs.resize(64);
        s.codes.resize(4);
        int count = 0;
        control("fake").lastDacs(id, s.dacs.data(), 64, &count, &s.senseOn, &s.extDacOn, s.codes.data(), 4);
        s.dacs.resize(static_cast<size_t>(count));
        return s;
    }
    std::vector<uint16_t> stored(unsigned dev, int size)
    {
        std::vector<uint16_t> v(static_cast<size_t>(size));
        EXPECT_EQ(getDACs(dev, v.data(), size, -1), 0);
        return v;
    }
    int64_t sends(int id) { return control("fake").counter(id, "calls.hwSetTvkDACs"); }

    static inline std::atomic<int> dacsChanged{0};
    static inline std::atomic<int> extChanged{0};
};

TEST_F(DacTest, NamesAndWidths)
{
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    ASSERT_EQ(getDACsNames(2, &names, &bits, &count), 0);
    ASSERT_EQ(count, 15);
    std::string widths;
    for (int i = 0; i < count; ++i)
        widths += std::to_string(bits[i]) + (i + 1 < count ? "," : "");
    EXPECT_EQ(widths, "8,8,8,8,8,8,10,4,10,4,8,8,8,8,8");
    EXPECT_STREQ(names[6], "THL");
}

// A refused call changes nothing and sends nothing.
TEST_F(DacTest, SizeAndChipChecks)
{
    struct Case {
        unsigned dev;
        int size;
        int chip;
        const char* message;
    };
    const Case cases[] = {
        {1, 13, -1, "Invalid DAC values array size, size: 13, required: 52"},
        {1, 52, 0, "Invalid DAC values array size, size: 52, required: 13"},
        {1, 13, 4, "Invalid chip number (4), 4 chips present (0-3)."},
        {0, 13, -2, "Invalid chip number (-2), 1 chips present (0-0)."},
        {0, 13, 1, "Invalid chip number (1), 1 chips present (0-0)."},
    };
    std::vector<uint16_t> values(64, 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const auto before = stored(c.dev, c.dev == 1 ? 52 : 13);
        const int64_t sentBefore = sends(static_cast<int>(c.dev));
        EXPECT_EQ(setDACs(c.dev, values.data(), c.size, c.chip, 0, 0), -2);
        int code = 0;
        EXPECT_EQ(deviceMessage(c.dev, &code), c.message);
        EXPECT_EQ(code, -2);
        EXPECT_EQ(getDACs(c.dev, values.data(), c.size, c.chip), -2);
        EXPECT_EQ(stored(c.dev, c.dev == 1 ? 52 : 13), before);
        EXPECT_EQ(sends(static_cast<int>(c.dev)), sentBefore);
    }
    EXPECT_EQ(setDACs(0, nullptr, 13, 0, 0, 0), -2);
}

TEST_F(DacTest, OneChipRowAndAllChips)
{
    std::vector<uint16_t> row(13);
    for (int i = 0; i < 13; ++i)
        row[static_cast<size_t>(i)] = static_cast<uint16_t>(1000 + i); // not limited to the DAC width
    const int notified = dacsChanged;
    ASSERT_EQ(setDACs(1, row.data(), 13, 2, 0, 0), 0);
    EXPECT_EQ(dacsChanged, notified + 1);
    std::vector<uint16_t> back(13);
    ASSERT_EQ(getDACs(1, back.data(), 13, 2), 0);
    EXPECT_EQ(back, row);
    const Sent sent = lastSent(1);
    ASSERT_EQ(sent.dacs.size(), 52u);
    EXPECT_EQ(std::vector<uint16_t>(sent.dacs.begin() + 26, sent.dacs.begin() + 39), row);
    EXPECT_EQ(sent.senseOn, 0);
    EXPECT_EQ(sent.extDacOn, 0);
    EXPECT_EQ(sent.codes, (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(DacTest, ReferenceDerivation)
{
    const double low[] = {1.0, 10.0, 1.0, -300.0, 2.0, 0.0};
    const double high[] = {1.0, 5.0, 1.0, 5.0, 1.0, 5.0};
    ASSERT_EQ(setDACRefCoef(1, const_cast<double*>(low), 6, 1), 0);
    ASSERT_EQ(setDACRefCoef(1, const_cast<double*>(high), 6, 2), 0);
    double back[6] = {};
    ASSERT_EQ(getDACRefCoef(1, back, 6, 1), 0);
    EXPECT_EQ(back[3], -300.0);
    EXPECT_EQ(setDACRefCoef(1, back, 4, 1), -2);
    EXPECT_EQ(deviceMessage(1), "Invalid array size of ref. coef., size: 4, required: 6");
    EXPECT_EQ(getDACRefCoef(1, back, 5, 1), -2);
    EXPECT_EQ(deviceMessage(1), "Invalid array size for ref. coef., size: 5, required: 6");

    std::vector<uint16_t> dacs(52, 50);
    dacs[8] = 100; // chip 0 THL
    ASSERT_EQ(setDACs(1, dacs.data(), 52, -1, 0, 1), 0);
    const auto result = stored(1, 52);
    EXPECT_EQ(result[8], 100);
    EXPECT_EQ(result[13 + 8], 110);
    EXPECT_EQ(result[26 + 8], 0); // 100 - 300 clamped, not wrapped
    EXPECT_EQ(result[39 + 8], 200);
    EXPECT_EQ(result[13 + 7], 50); // THH untouched without bit 1
    EXPECT_EQ(lastSent(1).dacs, result);

    ASSERT_EQ(setDACs(1, dacs.data(), 52, -1, 0, 3), 0);
    EXPECT_EQ(stored(1, 52)[13 + 7], 55);
}

TEST_F(DacTest, HighThresholdFlagOnTypeThreeOnlySends)
{
    const double coefs[] = {2.0, 1.0, 2.0, 1.0, 2.0, 1.0};
    ASSERT_EQ(setDACRefCoef(3, const_cast<double*>(coefs), 6, 2), 0);
    std::vector<uint16_t> dacs(56, 30);
    const int64_t before = sends(3);
    ASSERT_EQ(setDACs(3, dacs.data(), 56, -1, 0, 2), 0);
    EXPECT_EQ(stored(3, 56), dacs);
    EXPECT_EQ(sends(3), before + 1);
}

TEST_F(DacTest, OneChipDeviceHasNoCoefficients)
{
    EXPECT_EQ(setDACRefCoef(0, nullptr, 0, 1), 0);
    std::vector<uint16_t> dacs(13, 9);
    ASSERT_EQ(setDACs(0, dacs.data(), 13, -1, 0, 3), 0);
    EXPECT_EQ(stored(0, 13), dacs);
}

// Values stay stored when the hardware refuses them, the change is still announced, and a refresh resends.
TEST_F(DacTest, RefusedSendKeepsValues)
{
    FakeControl& fake = control("fake");
    std::vector<uint16_t> dacs(13, 77);
    fake.set(0, "fail.hwSetTvkDACs", -4);
    const int notified = dacsChanged;
    EXPECT_EQ(setDACs(0, dacs.data(), 13, -1, 0, 0), -160);
    int code = 0;
    EXPECT_EQ(deviceMessage(0, &code), "Error occurred while setting Tarvik DACs: injected failure of hwSetTvkDACs");
    EXPECT_EQ(code, -160);
    EXPECT_EQ(dacsChanged, notified + 1);
    EXPECT_EQ(stored(0, 13), dacs);
    fake.set(0, "fail.hwSetTvkDACs", 0);
    EXPECT_EQ(refreshDACs(0), 0);
    EXPECT_EQ(dacsChanged, notified + 1); // refresh does not announce
    EXPECT_EQ(lastSent(0).dacs, dacs);

    EXPECT_EQ(setDACsDefault(0), 0);
    EXPECT_EQ(stored(0, 13), (std::vector<uint16_t>{0, 0, 128, 240, 110, 210, 255, 0, 200, 255, 128, 128, 128}));
}

TEST_F(DacTest, AnalogReadBack)
{
    // The fake senses 10 mV per sense code plus 1 mV per chip, +-1 mV alternating between readings.
    double values[2] = {-1, -1};
    ASSERT_EQ(getSingleDACAnalog(0, values, 2, 8, 0, 0), 0); // THL, sense code 11, one reading
    EXPECT_NEAR(values[0], 0.11, 0.0011);
    EXPECT_EQ(values[1], 0.0);
    const Sent sent = lastSent(0);
    EXPECT_EQ(sent.senseOn, 255);
    EXPECT_EQ(sent.codes[0], 11);

    ASSERT_EQ(getSingleDACAnalog(0, values, 2, 8, 0, 2), 0);
    EXPECT_NEAR(values[0], 0.11, 1e-12);
    EXPECT_NEAR(values[1], 0.001, 1e-9);

    // All chips: deviations follow only when the array holds them; nothing is written past its end.
    std::vector<double> five(5, -7.0);
    ASSERT_EQ(getSingleDACAnalog(1, five.data(), 5, 8, -1, 2), 0);
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(five[static_cast<size_t>(c)], 0.11 + 0.001 * c, 1e-12);
    EXPECT_EQ(five[4], -7.0);
    std::vector<double> eight(8, -7.0);
    ASSERT_EQ(getSingleDACAnalog(1, eight.data(), 8, 8, -1, 2), 0);
    EXPECT_NEAR(eight[7], 0.001, 1e-9);

    std::vector<double> three(3);
    EXPECT_EQ(getSingleDACAnalog(1, three.data(), 3, 8, -1, 1), -2);
    EXPECT_EQ(deviceMessage(1), "Invalid DAC values array size, size: 3, required: 4");
    EXPECT_EQ(getSingleDACAnalog(1, eight.data(), 8, 13, -1, 1), -2);
    EXPECT_EQ(deviceMessage(1), "Invalid DAC number (13), 13 DACs present (0-12).");

    control("fake").set(1, "fail.hwGetTvkDacVal", -3);
    EXPECT_EQ(getSingleDACAnalog(1, eight.data(), 8, 8, -1, 1), -159);
    EXPECT_EQ(deviceMessage(1),
              "Error occurred while reading analog value from Tarvik DACs): injected failure of hwGetTvkDacVal");
}

TEST_F(DacTest, AllDacsAnalogLayout)
{
    const int* bits = nullptr;
    const char** names = nullptr;
    int count = 0;
    getDACsNames(3, &names, &bits, &count);
    const int senses[] = {15, 11, 7, 3, 4, 9, 6, 6, 12, 10, 13, 1, 2, 14};
    std::vector<double> values(static_cast<size_t>(4 * count));
    ASSERT_EQ(getDACsAnalog(3, values.data(), 4 * count, -1), 0);
    for (int c = 0; c < 4; ++c)
        for (int j = 0; j < count; ++j)
            EXPECT_NEAR(values[static_cast<size_t>(c * count + j)], 0.01 * senses[j] + 0.001 * c, 0.0011) << c << "/" << j;
    std::vector<double> one(static_cast<size_t>(count));
    ASSERT_EQ(getDACsAnalog(3, one.data(), count, 2), 0);
    EXPECT_NEAR(one[0], 0.15 + 0.002, 0.0011);
    EXPECT_EQ(getDACsAnalog(3, one.data(), count, -1), -2);
}

TEST_F(DacTest, ExternalDac)
{
    FakeControl& fake = control("fake");
    ASSERT_EQ(setExtDAC(1, -5, 1.5), 0);
    int index = 0;
    double value = 0;
    ASSERT_EQ(getExtDAC(1, &index, &value), 0);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(value, 1.5);
    EXPECT_EQ(fake.counter(1, "extDac.mV"), -1000);
    EXPECT_EQ(extChanged, 1);

    EXPECT_EQ(setExtDAC(1, 13, 1.0), -2);
    EXPECT_EQ(deviceMessage(1), "Invalid DAC number (13), 13 DACs present (0-12).");

    ASSERT_EQ(setExtDAC(1, 8, 0.75), 0); // drives THL, sense code 11
    EXPECT_EQ(fake.counter(1, "extDac.mV"), 750);
    Sent sent = lastSent(1);
    EXPECT_EQ(sent.extDacOn, 255);
    EXPECT_EQ(sent.codes, (std::vector<int>{11, 11, 11, 11}));
    EXPECT_EQ(extChanged, 2);

    // Sensing another DAC reconnects the external DAC afterwards.
    std::vector<double> values(8);
    ASSERT_EQ(getSingleDACAnalog(1, values.data(), 4, 2, -1, 1), 0);
    sent = lastSent(1);
    EXPECT_EQ(sent.senseOn, 0);
    EXPECT_EQ(sent.extDacOn, 255);
    EXPECT_EQ(sent.codes, (std::vector<int>{11, 11, 11, 11}));

    fake.set(1, "fail.hwSetExtDac", -2);
    EXPECT_EQ(setExtDAC(1, 2, 3.0), -164);
    EXPECT_EQ(deviceMessage(1), "Error occurred while setting external DAC: injected failure of hwSetExtDac");
    ASSERT_EQ(getExtDAC(1, &index, &value), 0);
    EXPECT_EQ(index, 8);
    EXPECT_EQ(value, 0.75);
}

} // namespace
