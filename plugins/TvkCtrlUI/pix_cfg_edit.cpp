#include "pix_cfg_edit.h"

#include <algorithm>

namespace {
constexpr int kChipTypeWithModes = 3;
}

PixRect clampRect(PixRect r, int matrixWidth, int matrixHeight)
{
    const int64_t x0 = std::max<int64_t>(r.x, 0), y0 = std::max<int64_t>(r.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(r.x) + r.width, matrixWidth);
    const int64_t y1 = std::min<int64_t>(int64_t(r.y) + r.height, matrixHeight);
    if (x1 <= x0 || y1 <= y0)
        return {};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

FieldBits fieldBits(PixField field, int chipType)
{
    const bool type3 = chipType == kChipTypeWithModes;
    switch (field) {
    case PixField::Mask:
        return {0, 1};
    case PixField::Thl:
        return {2, type3 ? 4 : 3};
    case PixField::Thh:
        return type3 ? FieldBits{} : FieldBits{5, 3};
    case PixField::Mode:
        return type3 ? FieldBits{6, 2} : FieldBits{};
    }
    return {};
}

int fieldMax(PixField field, int chipType)
{
    const FieldBits b = fieldBits(field, chipType);
    return b.bits ? (1 << b.bits) - 1 : -1;
}

int fieldValue(uint8_t cfg, PixField field, int chipType)
{
    const FieldBits b = fieldBits(field, chipType);
    return b.bits ? (cfg >> b.shift) & ((1 << b.bits) - 1) : -1;
}

bool pixMenuValueEnabled(PixField field, int value, int chipType)
{
    return value >= 0 && value <= fieldMax(field, chipType);
}

namespace {

uint8_t withField(uint8_t cfg, FieldBits b, int value)
{
    const int mask = ((1 << b.bits) - 1) << b.shift;
    return uint8_t((cfg & ~mask) | ((value << b.shift) & mask));
}

} // namespace

bool applyPixCfg(std::span<uint8_t> cfg, int width, int height, PixRect rect, PixField field, int value, int chipType)
{
    if (width <= 0 || height <= 0 || cfg.size() != size_t(width) * size_t(height) ||
        !pixMenuValueEnabled(field, value, chipType))
        return false;
    const FieldBits b = fieldBits(field, chipType);
    const PixRect r = clampRect(rect, width, height);
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) {
            uint8_t& c = cfg[size_t(y) * size_t(width) + size_t(x)];
            c = withField(c, b, value);
        }
    return true;
}

bool maskPixelsAbove(std::span<uint8_t> cfg, std::span<const double> values, double threshold)
{
    if (cfg.size() != values.size())
        return false;
    for (size_t i = 0; i < cfg.size(); ++i)
        if (values[i] > threshold)
            cfg[i] &= uint8_t(~1u);
    return true;
}

bool shiftThlAbove(std::span<uint8_t> cfg, std::span<const double> values, double threshold, int chipType,
                   int polarity)
{
    if (cfg.size() != values.size())
        return false;
    const FieldBits b = fieldBits(PixField::Thl, chipType);
    const int max = fieldMax(PixField::Thl, chipType);
    for (size_t i = 0; i < cfg.size(); ++i) {
        if (!(values[i] > threshold))
            continue;
        const int thl = fieldValue(cfg[i], PixField::Thl, chipType);
        if (polarity == 0 ? thl >= max : thl <= 0)
            cfg[i] &= uint8_t(~1u);
        else
            cfg[i] = withField(cfg[i], b, polarity == 0 ? thl + 1 : thl - 1);
    }
    return true;
}
