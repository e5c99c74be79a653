// The hardware-library interface: what a library in "hwlibs" exports (getMandatoryFuncs) and the records
// it exchanges with the device-control library. A hardware library needs this header only.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tvk_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// Acquisition modes; also the bits of _DevInfo::acqModeMask.
enum _AcqModes {
    ACQMODE_MANUAL = 1,
    ACQMODE_TRIG_START = 2,
    ACQMODE_TRIG_STOP = 4,
    ACQMODE_TRIG_EXTSHUTTER = 8,
    ACQMODE_EXTSHUTTER_FIXED = 16
};

// Chip types.
enum _ChipTypes { CHIPTYPE_T21 = 1, CHIPTYPE_ZRN = 2, CHIPTYPE_SARNET = 3 };

// Device description filled by hwGetDevInfo.
typedef struct _DevInfo {
    int32_t pixelCount;        // pixels of the whole device
    int32_t rowLength;         // pixels in one row of the device's matrix
    int32_t chipCount;         // number of chips (1 or 4 in practice)
    int32_t chipRows;          // rows of chips
    int32_t chipType;          // _ChipTypes
    char chipboardId[64];      // zero-terminated
    const char* interfaceName; // owned by the library: copy it, it dies with the library
    uint32_t acqModeMask;      // OR of the supported _AcqModes
    int32_t callbackSupported; // non-zero: acquisition events arrive through HwCallback
    double clockMHz;
    double hwTimerMax;         // longest exposure the hardware timer can time [s]
    double hwTimerStep;        // granularity of the hardware timer [s]
    uint32_t maxTestPulseCount;
    double maxTestPulseHeight; // [V]
    double maxTestPulsePeriod; // [s]
    double reserved;
    double extDacMax;          // full scale of the external DAC [V]
    double extDacStep;         // [V]
} _DevInfo;

// Acquisition parameters handed to hwSetAcqPars.
typedef struct _AcqPars {
    int32_t useHwTimer; // non-zero: the library times the exposure itself
    int32_t cst;        // 0 or 1, passed through unchanged
    int32_t polarity;   // 1 positive, 0 negative
    int32_t acqMode;    // one _AcqModes value
    double acqTime;     // [s]
} _AcqPars;

enum _HwInfoFlags {
    HWINFO_CONFIG = 0x1,   // kept in the [Interface] section of chip configuration files
    HWINFO_WRITABLE = 0x2, // the user may change it
    HWINFO_TO_FRAME = 0x4  // copied as an attribute into every acquired frame
};

// A named, typed, device-specific setting of a hardware library.
typedef struct HwInfoItem {
    uint32_t type;           // _Data_Types
    uint32_t count;          // number of elements
    uint32_t flags;          // _HwInfoFlags
    const char* name;        // owned by the library
    const char* description; // owned by the library
    void* data;              // caller's buffer of count x element size bytes
} HwInfoItem;

enum _HwCallbackEvents { HWCB_ACQ_STARTED = 1, HWCB_ACQ_FINISHED = 2, HWCB_DEV_REMOVED = 3 };

// Library-wide callback: tag is the value set with hwSetCbTag for the device; param carries no meaning.
typedef int (*HwCallback)(void* tag, int event, int param);

// The 27 hardware functions, in table order. Every int result is 0 for success.
typedef struct _HwFuncTable {
    uint32_t size; // sizeof(_HwFuncTable); a smaller table is refused
    int (*hwGetFirst)(int* id);
    int (*hwGetNext)(int* id);
    int (*hwInit)(int id);
    int (*hwSetCb)(HwCallback cb);
    int (*hwSetCbTag)(int id, void* tag);
    int (*hwGetHwInfoCount)(void);
    int (*hwGetHwInfoFlags)(int id, int index, uint32_t* flags);
    int (*hwGetHwInfo)(int id, int index, HwInfoItem* item, int* dataSize);
    int (*hwSetHwInfo)(int id, int index, const void* data, int dataSize);
    int (*hwGetDevInfo)(int id, _DevInfo* info);
    int (*hwGetAcqTime)(int id, double* time);
    int (*hwSetAcqPars)(int id, const _AcqPars* pars);
    int (*hwStartAcquisition)(int id);
    int (*hwStopAcquisition)(int id);
    int (*hwTestPulses)(int id, double height, double period, uint32_t count);
    int (*hwSetTvkDACs)(int id, const uint16_t* dacs, int dacCount, int senseOn, int extDacOn,
                        const int* dacCodes, uint32_t testPulseColumns);
    int (*hwGetTvkDacVal)(int id, int chip, double* value);
    int (*hwSetExtDac)(int id, double value);
    int (*hwSetPixelsCfg)(int id, const uint8_t* cfg, uint32_t size);
    int (*hwResetMatrix)(int id);
    int (*hwReadMatrix)(int id, uint16_t* buffer, uint32_t count);
    int (*hwWriteMatrix)(int id, const uint16_t* buffer, uint32_t count);
    int (*hwGeneralReset)(int id);
    const char* (*hwGetLastErrorGeneral)(void);
    const char* (*hwGetLastError)(int id);
    int (*hwCheckBusy)(int id, int* busy);
    int (*hwCloseDevice)(int id);
} _HwFuncTable;

// The one export of a hardware library. The table stays valid while the library is loaded.
typedef _HwFuncTable* (*GetMandatoryFuncsFn)(void);
#define TVK_HW_ENTRY_NAME "getMandatoryFuncs"

#ifdef __cplusplus
}

// Layout on x86-64: pointers are 8 bytes, natural alignment.
static_assert(sizeof(_DevInfo) == 176, "_DevInfo layout");
static_assert(offsetof(_DevInfo, chipboardId) == 20 && offsetof(_DevInfo, interfaceName) == 88 &&
              offsetof(_DevInfo, clockMHz) == 104 && offsetof(_DevInfo, maxTestPulseHeight) == 136 &&
              offsetof(_DevInfo, extDacStep) == 168, "_DevInfo field offsets");
static_assert(sizeof(_AcqPars) == 24, "_AcqPars layout");
static_assert(sizeof(HwInfoItem) == 40 && offsetof(HwInfoItem, name) == 16, "HwInfoItem layout");
static_assert(sizeof(_HwFuncTable) == 8 + 27 * 8, "_HwFuncTable holds 27 function pointers");
static_assert(offsetof(_HwFuncTable, hwGetFirst) == 8 && offsetof(_HwFuncTable, hwCloseDevice) == 8 + 26 * 8,
              "_HwFuncTable order");
#endif
