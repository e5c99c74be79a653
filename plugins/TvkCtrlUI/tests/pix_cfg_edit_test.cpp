// Pixel-configuration edits over a small matrix: only the field asked for changes, only inside the
// clamped rectangle; the threshold commands mask or shift by polarity at the field's ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "pix_cfg_device.h"
#include "pix_cfg_edit.h"

namespace {

constexpr int kW = 4, kH = 3;

TEST(PixCfgEdit, FieldsChangeOnlyTheirBitsInsideTheRectangle)
{
    struct Case {
        const char* what;
        PixRect rect;
        PixField field;
        int value, chipType;
        uint8_t start, inside; // every byte starts at start; those inside become inside
        bool accepted;
    } cases[] = {
        {"mask one pixel", {1, 2, 1, 1}, PixField::Mask, 0, 1, 0xFF, 0xFE, true},
        {"unmask a column", {2, 0, 1, kH}, PixField::Mask, 1, 1, 0x00, 0x01, true},
        {"mask a row past the right edge", {1, 1, 99, 1}, PixField::Mask, 0, 3, 0xFF, 0xFE, true},
        {"THL 12 on type 3 sets bits 2-5", {0, 0, 1, 1}, PixField::Thl, 12, 3, 0xC3, 0xF3, true},
        {"THL 5 on type 1 sets bits 2-4", {0, 0, 1, 1}, PixField::Thl, 5, 1, 0xE3, 0xF7, true},
        {"THH 3 on type 1 sets bits 5-7", {0, 0, 2, 2}, PixField::Thh, 3, 1, 0x1F, 0x7F, true},
        {"mode 2 on type 3 sets bits 6-7", {0, 0, 1, 1}, PixField::Mode, 2, 3, 0x3F, 0xBF, true},
        {"THL 12 refused on type 1", {0, 0, 1, 1}, PixField::Thl, 12, 1, 0x00, 0x00, false},
        {"THH refused on type 3", {0, 0, 1, 1}, PixField::Thh, 1, 3, 0x00, 0x00, false},
        {"mode refused on type 1", {0, 0, 1, 1}, PixField::Mode, 1, 1, 0x00, 0x00, false},
        {"negative origin clamped", {-5, -5, 6, 6}, PixField::Mask, 0, 1, 0xFF, 0xFE, true},
        {"rectangle wholly outside", {10, 10, 2, 2}, PixField::Mask, 0, 1, 0xFF, 0xFF, true},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> cfg(kW * kH, c.start);
        EXPECT_EQ(applyPixCfg(cfg, kW, kH, c.rect, c.field, c.value, c.chipType), c.accepted) << c.what;
        const PixRect r = clampRect(c.rect, kW, kH);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const bool in = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
                EXPECT_EQ(cfg[y * kW + x], in ? c.inside : c.start) << c.what << " at " << x << "," << y;
            }
    }
    std::vector<uint8_t> wrongSize(kW * kH - 1, 0xFF);
    EXPECT_FALSE(applyPixCfg(wrongSize, kW, kH, {0, 0, 1, 1}, PixField::Mask, 0, 1));
    EXPECT_EQ(wrongSize[0], 0xFF);
}

TEST(PixCfgEdit, MenuValuesEnabledByChipType)
{
    struct Case {
        PixField field;
        int value, chipType;
        bool enabled;
    } cases[] = {
        {PixField::Thl, 12, 3, true}, {PixField::Thl, 12, 1, false}, {PixField::Thl, 7, 1, true},
        {PixField::Thl, 16, 3, false}, {PixField::Thh, 7, 1, true}, {PixField::Thh, 0, 3, false},
        {PixField::Mode, 3, 3, true}, {PixField::Mode, 0, 2, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pixMenuValueEnabled(c.field, c.value, c.chipType), c.enabled)
            << int(c.field) << " " << c.value << " type " << c.chipType;
    EXPECT_EQ(fieldValue(0xF3, PixField::Thl, 3), 12);
    EXPECT_EQ(fieldValue(0xBF, PixField::Mode, 3), 2);
    EXPECT_EQ(fieldValue(0x7F, PixField::Thh, 1), 3);
}

uint8_t thlByte(int thl) { return uint8_t(1 | (thl << 2)); }

TEST(PixCfgEdit, ThresholdCommandsMaskOrShiftByPolarity)
{
    const std::vector<double> values = {10, 0, 10, 10};
    struct Case {
        const char* what;
        int chipType, polarity, thl;
        uint8_t hot; // the result for a pixel above the threshold
    } cases[] = {
        {"polarity 0 at the maximum masks", 1, 0, 7, uint8_t(thlByte(7) & ~1)},
        {"polarity 0 raises", 1, 0, 3, thlByte(4)},
        {"polarity 0 on type 3 raises past 7", 3, 0, 7, thlByte(8)},
        {"polarity 1 at 0 masks", 1, 1, 0, uint8_t(thlByte(0) & ~1)},
        {"polarity 1 lowers", 1, 1, 5, thlByte(4)},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> cfg(values.size(), thlByte(c.thl));
        ASSERT_TRUE(shiftThlAbove(cfg, values, 5.0, c.chipType, c.polarity)) << c.what;
        EXPECT_EQ(cfg[0], c.hot) << c.what;
        EXPECT_EQ(cfg[1], thlByte(c.thl)) << c.what << ": a pixel below the threshold changed";
    }

    std::vector<uint8_t> cfg = {0xFF, 0xFF, 0x0F, 0xFF};
    ASSERT_TRUE(maskPixelsAbove(cfg, values, 9.5));
    EXPECT_EQ(cfg, (std::vector<uint8_t>{0xFE, 0xFF, 0x0E, 0xFE}));
    const std::vector<uint8_t> before = cfg;
    ASSERT_TRUE(maskPixelsAbove(cfg, values, 1000.0));
    EXPECT_EQ(cfg, before) << "a threshold above the maximum changes nothing";
    EXPECT_FALSE(maskPixelsAbove(cfg, std::vector<double>(3, 99.0), 0.0));
    EXPECT_EQ(cfg, before);
}

} // namespace

// ---- the edits on a device ----

namespace {

struct FakeDevice {
    std::vector<uint8_t> cfg = std::vector<uint8_t>(kW * kH, 0xFF);
    bool busy = false;
    int locks = 0, releases = 0, writes = 0;
};
FakeDevice gDev;

int devInfo(unsigned, _DevInfo* info)
{
    info->pixelCount = kW * kH;
    info->rowLength = kW;
    info->chipType = 1;
    return 0;
}
int tryLock(unsigned, int* locked, unsigned)
{
    *locked = !gDev.busy;
    gDev.locks += !gDev.busy;
    return 0; // as the library does: 0 whether or not the lock was obtained
}
int release(unsigned) { return ++gDev.releases, 0; }
int getCfg(unsigned, uint8_t* cfg, uint32_t size)
{
    if (size != gDev.cfg.size())
        return -1;
    std::copy(gDev.cfg.begin(), gDev.cfg.end(), cfg);
    return 0;
}
int setCfg(unsigned, const uint8_t* cfg, uint32_t size)
{
    if (size != gDev.cfg.size())
        return -1;
    gDev.cfg.assign(cfg, cfg + size);
    return ++gDev.writes, 0;
}
int gErrors = 0;
void onError(uint32_t) { ++gErrors; }

TEST(PixCfgDevice, BusyDeviceOrOtherSizeLeavesTheConfiguration)
{
    _MgrFuncTable mgr{};
    mgr.tvkCtrlGetDevInfo = devInfo;
    mgr.tvkCtrlTryLockDevice = tryLock;
    mgr.tvkCtrlReleaseDevice = release;
    mgr.tvkCtrlGetSuperMatrixPixCfg = getCfg;
    mgr.tvkCtrlSetSuperMatrixPixCfg = setCfg;
    PreviewState preview(0, true, "");
    preview.setErrorCb(onError);

    gDev = {};
    gDev.busy = true;
    gErrors = 0;
    EXPECT_EQ(applyPixCfg(&mgr, preview, kW, kH, {1, 1, 1, 1}, PixField::Mask, 0), PixCfgResult::Busy);
    EXPECT_EQ(preview.lastError(), "Cannot lock device for setting mask (another operation in progress).");
    EXPECT_EQ(gErrors, 1);
    EXPECT_EQ(gDev.writes, 0);
    EXPECT_EQ(gDev.releases, 0) << "a lock not obtained is not released";

    gDev.busy = false;
    EXPECT_EQ(applyPixCfg(&mgr, preview, kW + 1, kH, {1, 1, 1, 1}, PixField::Mask, 0), PixCfgResult::SizeMismatch);
    EXPECT_EQ(gDev.writes, 0);
    EXPECT_EQ(gDev.locks, 0);

    EXPECT_EQ(applyPixCfg(&mgr, preview, kW, kH, {1, 2, 1, 1}, PixField::Mask, 0), PixCfgResult::Done);
    EXPECT_EQ(gDev.cfg[2 * kW + 1], 0xFE);
    EXPECT_EQ(gDev.writes, 1);
    EXPECT_EQ(gDev.locks, gDev.releases);
}

} // namespace
