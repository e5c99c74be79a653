// Symbol export for the suite's shared libraries. Everything is hidden by default; only what a module
// declares with TVK_EXPORT is visible to its clients.
#pragma once

#define TVK_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define TVK_EXTERN_C extern "C"
#else
#define TVK_EXTERN_C
#endif

// The device-control and manager libraries export each function under `name` and `_name`.
// Use after the definition of `name`: TVK_EXPORT_UNDERSCORE(int, getFirstTvk, (unsigned*, int*))
#define TVK_EXPORT_UNDERSCORE(ret, name, params) \
    TVK_EXTERN_C TVK_EXPORT ret _##name params __attribute__((alias(#name)))
