// Edits of a device's pixel configuration as the preview's pixel menu makes them: pure functions over the
// matrix of configuration bytes (row-major, width x height), so they are tested without a device or window.
// Byte bits: 0 mask (0 masked, 1 counting); THL adjustment 2-5 on chip type 3, 2-4 on the others; THH
// adjustment 5-7 (not on chip type 3); mode 6-7 (chip type 3 only).
#pragma once

#include <cstdint>
#include <span>

enum class PixField { Mask, Thl, Thh, Mode };

// A rectangle in frame coordinates; clampRect cuts it to the matrix (empty when nothing is left).
struct PixRect {
    int x = 0, y = 0, width = 0, height = 0;
};
PixRect clampRect(PixRect r, int matrixWidth, int matrixHeight);

// Bit position and width of a field on a chip type; width 0 when the chip type has no such field.
struct FieldBits {
    int shift = 0, bits = 0;
};
FieldBits fieldBits(PixField field, int chipType);
int fieldMax(PixField field, int chipType); // -1 when the chip type has no such field
int fieldValue(uint8_t cfg, PixField field, int chipType);

// Whether the menu offers value v of the field on the chip type.
bool pixMenuValueEnabled(PixField field, int value, int chipType);

// Sets the field of every byte in the rectangle (clamped to the matrix) to value; the other bits are kept.
// False (nothing changed) when the matrix does not match width x height, the chip type has no such field or
// the value does not fit it.
bool applyPixCfg(std::span<uint8_t> cfg, int width, int height, PixRect rect, PixField field, int value, int chipType);

// Clears the mask bit of every pixel whose value is above the threshold. False (nothing changed) when the
// sizes differ.
bool maskPixelsAbove(std::span<uint8_t> cfg, std::span<const double> values, double threshold);

// For every pixel whose value is above the threshold: polarity 0 raises its THL field by one, or masks it
// when the field is at its maximum; any other polarity lowers the field by one, or masks it at 0. False
// (nothing changed) when the sizes differ.
bool shiftThlAbove(std::span<uint8_t> cfg, std::span<const double> values, double threshold, int chipType,
                   int polarity);
