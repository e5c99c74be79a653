// Value types, frame-file flags and result codes shared by every module of the suite.
#pragma once

#include <stdint.h>

// Value type codes of frames, attributes, hardware-info items and registered-function parameters.
enum _Data_Types {
    TYPE_BOOL = 0,    // 32-bit, zero false, anything else true
    TYPE_CHAR = 1,
    TYPE_UCHAR = 2,
    TYPE_BYTE = 3,
    TYPE_I16 = 4,
    TYPE_U16 = 5,
    TYPE_I32 = 6,
    TYPE_U32 = 7,
    TYPE_FLOAT = 8,
    TYPE_DOUBLE = 9,
    TYPE_STRING = 10,
    TYPE_UNKNOWN = 11 // a name that matches no type
};

// Frame-file flags.
enum _FrameSaveFlags {
    FSAVE_BINARY = 0x1,
    FSAVE_ASCII = 0x2,     // ignored when FSAVE_BINARY is also set
    FSAVE_APPEND = 0x4,    // append to an existing data file instead of replacing it
    FSAVE_I16 = 0x10,
    FSAVE_U32 = 0x20,
    FSAVE_DOUBLE = 0x40,
    FSAVE_NODSC = 0x100,   // no description file
    FSAVE_SPARSEXY = 0x1000, // sparse [x, y, value] records
    FSAVE_SPARSEX = 0x2000,  // sparse [index, value] records (when FSAVE_SPARSEXY is not set)
    FSAVE_NOFILE = 0x8000
};

// Result codes of the device-control library and of frames: 0 success, negative failure.
enum _TvkCodes {
    TVK_OK = 0,
    TVK_NO_MORE_DEVICES = 1, // getFirstTvk / getNextTvk: no (further) device, not an error
    TVK_ERR_GENERIC = -1,
    TVK_ERR_PARAM = -2,
    TVK_ERR_ALLOC = -3,
    TVK_ERR_BUFFER_SMALL = -4,
    TVK_ERR_OPEN_READ = -5,
    TVK_ERR_OPEN_WRITE = -6,
    TVK_ERR_READ = -7,
    TVK_ERR_WRITE = -8,
    TVK_ERR_DAC_FILE = -9,
    TVK_ERR_LOCK_TIMEOUT = -10, // a frame's data lock was not obtained in time
    TVK_ERR_NOT_LOCK_OWNER = -11,
    TVK_ERR_NOT_INITIALIZED = -100,
    TVK_ERR_NO_HWLIB = -101,
    TVK_ERR_DEV_INDEX = -102,
    TVK_ERR_LIB_LOAD = -103,
    TVK_ERR_LIB_INIT = -104,
    TVK_ERR_DEV_NOT_INIT = -110,
    TVK_ERR_CFG_FILE = -111,
    TVK_ERR_HWINFO_SET = -113,
    TVK_ERR_HWINFO_GET = -114,
    TVK_ERR_NO_LAST_FRAME = -115,
    TVK_ERR_ACQ_START = -150,
    TVK_ERR_ACQ_STOP = -151,
    TVK_ERR_ACQ_ABORTED = -152,
    TVK_ERR_BUSY_POLL = -153,
    TVK_ERR_READOUT = -154,
    TVK_ERR_MATRIX_WRITE = -155,
    TVK_ERR_MATRIX_RESET = -156,
    TVK_ERR_TEST_PULSES = -157,
    TVK_ERR_PIXCFG = -158,
    TVK_ERR_SENSE = -159,
    TVK_ERR_DAC_SEND = -160,
    TVK_ERR_EXT_DAC = -164,

    // Frames and the manager's frame store.
    FRAME_ERR_NOT_FOUND = -200,
    FRAME_ERR_NOT_INIT = -201,
    FRAME_ERR_NO_ATTRIB = -202,
    FRAME_ERR_ATTRIB_EXISTS = -203,
    FRAME_ERR_SIZE = -204,
    FRAME_ERR_DATA_FORMAT = -205,
    FRAME_ERR_DSC_FORMAT = -206,
    FRAME_ERR_PERSISTENT = -207,
    MGR_ERR_FILTER_FAILED = -208,

    // Manager registries: -300..-311.
    MGR_ERR_REGISTRY_FIRST = -300,
    MGR_ERR_REGISTRY_LAST = -311
};

// Hardware libraries: 0 success, 1 no more devices during enumeration, anything else an error whose
// text hwGetLastError / hwGetLastErrorGeneral give.
enum _HwCodes { HW_OK = 0, HW_NO_MORE_DEVICES = 1 };
