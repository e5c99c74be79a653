/* External test pulser library (hwlibs/hpPulser.so): the C functions the equalization tool looks up in
 * it. The library has no window; its settings travel as text, one "key=value" a line. Every function
 * returns 0 on success and a negative value on failure. */
#ifndef TVK_PULSER_H
#define TVK_PULSER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Readies the pulses for one sub-mask phase of the device, 0 .. spacing x spacing - 1 (pixel rows at
 * phase / spacing, columns at phase % spacing modulo spacing): the pulser then reaches the pixels of that
 * phase on the next test-pulse acquisition. */
typedef int (*HppPrepareTestPulsesFn)(unsigned devId, int phase, int spacing);
/* Number of pulses of each following test-pulse acquisition. */
typedef int (*HppSetPulseCountFn)(unsigned pulses);
/* Writes the settings, NUL-terminated, into text of size bytes; -1 (text untouched) when they do not fit. */
typedef int (*HppGetSettingsFn)(char* text, unsigned size);
/* Takes the settings named in text; an unknown key or a bad value: -1 and nothing changed. */
typedef int (*HppSetSettingsFn)(const char* text);

int HppPrepareTestPulses(unsigned devId, int phase, int spacing);
int HppSetPulseCount(unsigned pulses);
int HppGetSettings(char* text, unsigned size);
int HppSetSettings(const char* text);

#ifdef __cplusplus
}
#endif

#endif
