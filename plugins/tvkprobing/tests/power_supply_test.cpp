// The bench supply through a VISA library loaded at run time: identity and readings from the simulated
// library (current in A read as mA), a missing library or function reported with the loader's text, a
// failing read.
#include <gtest/gtest.h>

#include "platform/module.h"
#include "power_supply.h"

using namespace probing;

namespace {

template <class Fn>
Fn simFunction(const char* name)
{
    static plat::Module sim; // the same loaded copy as the supply's
    if (!sim.isOpen()) {
        EXPECT_TRUE(sim.open(VISA_SIM_PATH)) << sim.error();
    }
    return reinterpret_cast<Fn>(sim.symbol(name));
}

} // namespace

TEST(PowerSupply, ReadingsFromTheSimulatedInstrument)
{
    VisaLibrary visa;
    ASSERT_TRUE(visa.open(VISA_SIM_PATH)) << visa.error();
    simFunction<void (*)(int, double)>("visaSimSetCurrentMa")(5, 212.5);
    PowerSupply supply;
    ASSERT_TRUE(supply.open(&visa, 5)) << supply.error();
    EXPECT_EQ(supply.identity(), "SIM,SUPPLY,5,1.0");
    double mA = 0;
    ASSERT_TRUE(supply.currentMa(&mA)) << supply.error();
    EXPECT_NEAR(mA, 212.5, 1e-6);
    double volts = 0;
    ASSERT_TRUE(supply.voltage(&volts));
    EXPECT_DOUBLE_EQ(volts, 2.2);
    char commands[512];
    simFunction<void (*)(char*, size_t)>("visaSimTakeCommands")(commands, sizeof commands);
    EXPECT_STREQ(commands, "5:System:Remote|5:*IDN?|5:MEASURE:CURRENT?|5:MEASURE:VOLTAGE?");

    simFunction<void (*)(int)>("visaSimFailReads")(1);
    EXPECT_FALSE(supply.currentMa(&mA));
    EXPECT_FALSE(supply.error().empty());
    simFunction<void (*)(int)>("visaSimFailReads")(0);
}

TEST(PowerSupply, MissingLibraryFunctionOrAddress)
{
    struct Case {
        const char* name;
        const char* path;
        const char* inError;
    } cases[] = {{"no library", "/nonexistent/libvisa.so", "/nonexistent/libvisa.so"},
                 {"no viRead", VISA_SIM_PARTIAL_PATH, "viRead"}};
    for (const Case& c : cases) {
        VisaLibrary visa;
        EXPECT_FALSE(visa.open(c.path)) << c.name;
        EXPECT_NE(visa.error().find(c.inError), std::string::npos) << c.name << ": " << visa.error();
        PowerSupply supply;
        EXPECT_FALSE(supply.open(&visa, 5)) << c.name;
    }
    VisaLibrary visa;
    ASSERT_TRUE(visa.open(VISA_SIM_PATH));
    PowerSupply none;
    EXPECT_FALSE(none.open(&visa, 0)) << "address 0 is no supply";
}

// What the supply answers to "MEASURE:CURRENT?" is taken as a current only when it is one finite measured
// value whole: a cut-off answer, the instruments' "no reading" 9.9E37 or a value that overflows in mA
// would let the contact search stop on a current that was never measured. After every refused answer the
// next reading is the supply's own again.
TEST(PowerSupply, RefusesAnswersThatAreNoMeasuredCurrent)
{
    VisaLibrary visa;
    ASSERT_TRUE(visa.open(VISA_SIM_PATH)) << visa.error();
    const auto setReply = simFunction<void (*)(int, const char*)>("visaSimSetCurrentReply");
    simFunction<void (*)(int, double)>("visaSimSetCurrentMa")(6, 150.0);
    PowerSupply supply;
    ASSERT_TRUE(supply.open(&visa, 6)) << supply.error();

    const std::string longer(300, '1');
    struct Case {
        const char* name;
        std::string reply;
        bool taken;
        double mA;
    } cases[] = {
        {"plain", "0.2125\n", true, 212.5},
        {"blanks and CR LF", " 0.2125 \r\n", true, 212.5},
        {"longer than the buffer", longer + "\n", false, 0},
        {"longer, without line end", longer, false, 0},
        {"no reading", "9.9E37\n", false, 0},
        {"not a number code", "9.91E+37\n", false, 0},
        {"negative no reading", "-9.9E37\n", false, 0},
        {"overflow in mA", "1E307\n", false, 0},
        {"nan", "NAN\n", false, 0},
        {"two values", "0.2,0.3\n", false, 0},
        {"empty", "\n", false, 0},
        {"garbage", "\x01\xff@#\n", false, 0},
    };
    for (const Case& c : cases) {
        setReply(6, c.reply.c_str());
        double mA = -1;
        EXPECT_EQ(supply.currentMa(&mA), c.taken) << c.name << ": " << mA;
        if (c.taken) {
            EXPECT_NEAR(mA, c.mA, 1e-9) << c.name;
        } else {
            EXPECT_FALSE(supply.error().empty()) << c.name;
        }
        setReply(6, nullptr);
        ASSERT_TRUE(supply.currentMa(&mA)) << c.name << ": " << supply.error();
        EXPECT_NEAR(mA, 150.0, 1e-6) << c.name << ": the next reading is the supply's own";
    }
}
