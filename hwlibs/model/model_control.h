// Test-only hardware library tvkHwModel.so: a detector model (detector_model.h) behind the hardware
// functions, and control functions that tests look up by name in the loaded library.
//
// The library reads "<its own path without .so>.ini": [Model] Devices (1) when enumerating, and when a
// device is opened (hwInit, so a reconnect takes changes): Chips (1 or 4), Type (1-3), Seed (1; device n
// uses Seed + n), OffsetSigma (10), AdjGain (6), NoiseWidth (2), Dead (0, per chip), Poisson (0),
// Interface ("model"). Chip board ids are "M<n>".
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The true THL (thh 0) or THH (thh 1) edge of every pixel under cfg (null: the configuration last sent),
// chips in order; NaN for dead pixels. size is the pixel count.
typedef int (*ModelTrueEdgesFn)(int id, int thh, const uint8_t* cfg, double* edges, uint32_t size);
// The DACs (all chips) and the pixel configuration last sent; -2 when size does not match.
typedef int (*ModelLastDacsFn)(int id, uint16_t* dacs, int size);
typedef int (*ModelLastPixelsFn)(int id, uint8_t* cfg, uint32_t size);
// Makes the k-th call of a hardware function (by its table name, "hwSetPixelsCfg") from now on fail once;
// k 0 clears it.
typedef int (*ModelFailAtFn)(int id, const char* function, int k);
// Calls of a hardware function since the device was made.
typedef int64_t (*ModelCallsFn)(int id, const char* function);

#ifdef __cplusplus
}
#endif
