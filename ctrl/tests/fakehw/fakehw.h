// Test-only hardware library: control functions that tests look up by name in the loaded library.
//
// The library reads "<its own path without .so>.ini" whenever getMandatoryFuncs or hwGetFirst runs:
//   [Fake]      Devices (count), FirstResult (what hwGetFirst returns; 0 normal), NextResult (what hwGetNext
//               returns after the last device; 1 normal), TableSize (0: the full table), MissingFunction
//               (non-zero: hwCheckBusy is left out of the table), Scope (non-zero: the items "ScopeOnTrg",
//               bool, on at first, and "Scope data", u16 samples of the last capture, copied into frames
//               while "ScopeOnTrg" is on and the read-out brought a capture)
//   [DeviceN]   Chips (1), Type (1), Id ("F<N>"), Interface ("fake"), Modes (31), Callback (0), InitFails (0),
//               StuckPixels (none: entries "chip:row:column" between blanks, in chip order; their counters
//               read a written matrix back with bit 0 inverted, so a digital test finds exactly them bad;
//               entries outside the device are left out)
// Devices already made stay as they are when the file changes.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Injected failures and counters. Keys: "fail.<hw function name>" (value = the code the function then
// returns, 0 = works again; id -1 = every device) and the counters "calls.<hw function name>",
// "closed", "generalResets", "extDac.mV".
typedef int (*FakeHwSetFn)(int id, const char* key, int value);
typedef int (*FakeHwGetFn)(int id, const char* key, int64_t* value);
// What the last hwSetTvkDACs call sent. codes receives up to codesSize sense codes (0 when none were sent).
typedef int (*FakeHwLastDacsFn)(int id, uint16_t* dacs, int size, int* dacCount, int* senseOn, int* extDacOn,
                                int* codes, int codesSize);
// The last pixel configuration sent.
typedef int (*FakeHwLastPixelsFn)(int id, uint8_t* cfg, uint32_t size);
// Calls the library callback with the device's current tag, or with the given tag.
typedef int (*FakeHwFireFn)(int id, int event);
typedef int (*FakeHwFireTagFn)(void* tag, int event);
typedef void* (*FakeHwTagFn)(int id);
// Scripts the next read-out of a device: its pixelCount counts (the device's pixel count) and, when scope
// is not null, a scope capture of sampleCount samples. Read-outs beyond the script give the usual pattern
// and no capture. 0, -1 for an unknown device, -2 for a wrong size.
typedef int (*FakeHwQueueFrameFn)(int id, const uint16_t* counts, uint32_t pixelCount, const uint16_t* scope,
                                  uint32_t sampleCount);

#ifdef __cplusplus
}
#endif
