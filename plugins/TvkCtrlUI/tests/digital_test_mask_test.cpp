// The settings sheet's "Test now" with "Mask bad pixels" on a 2 x 2 chip device of the fake hardware
// library with stuck counters, through a running manager: exactly the stuck pixels end up masked, at their
// place in the representation the device hands out, whether it converts to the super matrix or not.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ctrl_app.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "settings_model.h"

namespace {

using ctrl_test::CtrlApp;
namespace fs = std::filesystem;

constexpr uint32_t kPixels = 512 * 512;
// The fake library's record of the last pixel configuration sent to a device, in chip order.
using LastPixelsFn = int (*)(int id, uint8_t* cfg, uint32_t size);

// A stuck counter as the hardware numbers it and where the super matrix shows it.
struct Stuck {
    uint32_t chip, row, column;
    uint32_t x, y; // super matrix
    uint32_t chipIndex() const { return chip * 65536 + row * 256 + column; }
    uint32_t matrixIndex() const { return y * 512 + x; }
};
// The corners of every chip and a few inner pixels: each chip sits turned its own way in the super matrix.
const Stuck kStuck[] = {
    {0, 0, 0, 511, 0},     {0, 17, 200, 311, 17}, {1, 0, 0, 255, 0},     {1, 255, 255, 0, 255},
    {2, 0, 0, 0, 511},     {2, 128, 3, 3, 383},   {3, 0, 0, 256, 511},   {3, 255, 255, 511, 256},
};

std::string stuckEntries()
{
    std::string text;
    for (const Stuck& s : kStuck)
        text += std::to_string(s.chip) + ":" + std::to_string(s.row) + ":" + std::to_string(s.column) + " ";
    return text;
}

// The whole-device bytes all 0xFF but 0xFE at the given indices.
template <class Index>
std::vector<uint8_t> maskedAt(Index index)
{
    std::vector<uint8_t> cfg(kPixels, 0xFF);
    for (const Stuck& s : kStuck)
        cfg[index(s)] = 0xFE;
    return cfg;
}

// The indices at which two arrays differ.
template <class T>
std::vector<uint32_t> differences(const std::vector<T>& a, const std::vector<T>& b)
{
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i])
            out.push_back(i);
    return out;
}

class StuckPixelsMasked : public CtrlApp {
protected:
    void SetUp() override
    {
        // No simulated device: the fake library's one device is index 0. A repeated entry counts once.
        startManager(0, "", [] {
            fs::copy_file(CTRL_FAKEHW_PATH, "hwlibs/fakehw.so");
            ombrel_test::writeFile("hwlibs/fakehw.ini", "[Fake]\nDevices=1\n[Device0]\nChips=4\nStuckPixels=" +
                                                            stuckEntries() + "0:17:200\n");
        });
        ASSERT_TRUE(fake_.open(dir_ + "/hwlibs/fakehw.so")) << fake_.error();
        lastPixels_ = ctrl_test::symbolOf<LastPixelsFn>(fake_, "fakeHwLastPixels");
        int count = 0;
        ASSERT_EQ(t_->tvkCtrlGetFirstTvk(&dev_, &count), 0);
        ASSERT_EQ(count, 1);
    }
    void TearDown() override
    {
        stopManager();
        ombrel_test::keepLoaded(std::move(fake_));
    }

    plat::Module fake_;
    LastPixelsFn lastPixels_ = nullptr;
    unsigned dev_ = 0;
};

TEST_F(StuckPixelsMasked, SamePixelsWithAndWithoutSuperMatrix)
{
    _DevInfo info{};
    ASSERT_EQ(t_->tvkCtrlGetDevInfo(dev_, &info), 0);
    ASSERT_EQ(info.pixelCount, int(kPixels));
    const std::vector<uint8_t> inChips = maskedAt([](const Stuck& s) { return s.chipIndex(); });
    const std::vector<uint8_t> inMatrix = maskedAt([](const Stuck& s) { return s.matrixIndex(); });
    for (int toSM : {1, 0}) {
        SCOPED_TRACE(toSM ? "super matrix" : "chip order");
        ASSERT_EQ(t_->tvkCtrlSetAutoConvToSM(dev_, toSM), 0);
        ASSERT_EQ(t_->tvkCtrlResetPixelsCfg(dev_, -1), 0); // nothing left masked by the run before
        int good = 0;
        bool lockFailed = false;
        ASSERT_EQ(runDigitalTest(t_, int(dev_), true, true, &good, &lockFailed), 0);
        EXPECT_FALSE(lockFailed);
        EXPECT_EQ(good, int(kPixels - std::size(kStuck)));

        // The test's frame, kept as the last acquisition, marks them where this representation has them.
        std::vector<int16_t> frame(kPixels, -1);
        ASSERT_EQ(t_->tvkCtrlGetFrame16(dev_, frame.data(), kPixels, 0), 0);
        std::vector<int16_t> marks(kPixels, 0);
        for (const Stuck& s : kStuck)
            marks[toSM ? s.matrixIndex() : s.chipIndex()] = 1;
        EXPECT_EQ(differences(frame, marks), std::vector<uint32_t>{}) << "the bad-pixel frame";

        // The device's configuration in both representations, and what the hardware was sent.
        std::vector<uint8_t> cfg(kPixels);
        ASSERT_EQ(t_->tvkCtrlGetPixelsCfg(dev_, cfg.data(), kPixels, -1), 0);
        EXPECT_EQ(differences(cfg, inChips), std::vector<uint32_t>{}) << "chip-ordered configuration";
        ASSERT_EQ(t_->tvkCtrlGetSuperMatrixPixCfg(dev_, cfg.data(), kPixels), 0);
        EXPECT_EQ(differences(cfg, inMatrix), std::vector<uint32_t>{}) << "super-matrix configuration";
        ASSERT_EQ(lastPixels_(0, cfg.data(), kPixels), 0);
        EXPECT_EQ(differences(cfg, inChips), std::vector<uint32_t>{}) << "configuration the hardware was sent";
    }
}

} // namespace
