// The device-control library's C API: hardware libraries and the device registry, device ownership,
// acquisition settings, acquisitions and their frames, super-matrix conversions, DACs, pixel configuration
// and chip configuration files.
// Every function is exported as `name` and `_name`. Results: 0 success, a negative _TvkCodes failure,
// positive only where stated. devIndex names a device of the registry; one that names none gives -102.
// BOOL arguments are 32-bit ints (0 false); thread ids are 32-bit.
#pragma once

#include <stdint.h>

#include "tvk_export.h"
#include "tvk_hw.h"
#include "tvk_types.h"

#ifdef __cplusplus
class TvkFrameInfo;
extern "C" {
#else
typedef struct TvkFrameInfo TvkFrameInfo;
#endif

// Notification callbacks; devIndex -1 in cbInfoMsg means a library-level message.
typedef void (*TvkDevCallback)(int devIndex);
typedef void (*TvkFrameCallback)(TvkFrameInfo* frame);

// Timeout of tryLockDevice that waits as long as needed.
#define TVK_WAIT_INFINITE 4294967295u

// Library and registry.
TVK_EXPORT int initTvkCtrl(void);
TVK_EXPORT int exitTvkCtrl(void);
TVK_EXPORT int getFirstTvk(unsigned* devIndex, int* count); // 0 found, 1 none, -1 not initialised
TVK_EXPORT int getNextTvk(unsigned* devIndex);              // 0 found, 1 no more, -1 not initialised
TVK_EXPORT int findNewTvks(void);
TVK_EXPORT int reconnectTvk(unsigned devIndex);
// Last message of the library (devIndex -1) or of a device. *text points to a copy that stays valid in the
// calling thread until its next getInfoMsg.
TVK_EXPORT int getInfoMsg(int devIndex, int* code, const char** text);

TVK_EXPORT int setCbInfoMsg(TvkDevCallback cb);
TVK_EXPORT int setCbAcqStart(TvkDevCallback cb);
TVK_EXPORT int setCbAcqCompl(TvkDevCallback cb);
TVK_EXPORT int setCbFrameCreated(TvkFrameCallback cb);
TVK_EXPORT int setCbAddAttribs(TvkFrameCallback cb);
TVK_EXPORT int setCbDacsChanged(TvkDevCallback cb);
TVK_EXPORT int setCbExtDacChanged(TvkDevCallback cb);
TVK_EXPORT int setCbPixCfgChanged(TvkDevCallback cb);
TVK_EXPORT int setCbTvkDevNew(TvkDevCallback cb);
TVK_EXPORT int setCbTvkDevChanged(TvkDevCallback cb);

// Device ownership and information.
TVK_EXPORT int tryLockDevice(unsigned devIndex, int* locked, unsigned timeoutMs);
TVK_EXPORT int releaseDevice(unsigned devIndex);
TVK_EXPORT int getLockOwnerID(unsigned devIndex, uint32_t* ownerThreadId);
TVK_EXPORT int getDevInfo(unsigned devIndex, _DevInfo* info);
TVK_EXPORT int getTarvikInfo(unsigned devIndex, int* chipCount, int* chipRows, char* chipboardId,
                             char* interfaceName); // texts: buffers of 64 characters, or null
TVK_EXPORT int initTvkDevice(unsigned devIndex, const char* cfgFile);
TVK_EXPORT int reviveTvkDevice(unsigned devIndex);

// Acquisition settings.
TVK_EXPORT int setPolarity(unsigned devIndex, int polarity);
TVK_EXPORT int getPolarity(unsigned devIndex, int* polarity);
TVK_EXPORT int setCST(unsigned devIndex, int cst);
TVK_EXPORT int getCST(unsigned devIndex, int* cst);
TVK_EXPORT int setAcqMode(unsigned devIndex, int mode);
TVK_EXPORT int getAcqMode(unsigned devIndex, int* mode);
TVK_EXPORT int setHwTimer(unsigned devIndex, int mode);
TVK_EXPORT int getHwTimer(unsigned devIndex, int* mode);
TVK_EXPORT int setAcqSpacing(unsigned devIndex, int spacing);
TVK_EXPORT int getAcqSpacing(unsigned devIndex, int* spacing);
TVK_EXPORT int setAutoConvToSM(unsigned devIndex, int on);
TVK_EXPORT int getAutoConvToSM(unsigned devIndex, int* on);

// Acquisitions. fileFlags are _FrameSaveFlags; 0 keeps the frames in memory.
TVK_EXPORT int performFrameAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags,
                               const char* fileName);
TVK_EXPORT int performIntegralAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags,
                                  const char* fileName);
TVK_EXPORT int performTestPulseAcq(unsigned devIndex, double height, double period, uint32_t pulseCount,
                                   uint32_t columnMask);
TVK_EXPORT int performDigitalTest(unsigned devIndex, int* goodPixels, uint32_t* frameId, int keepAsLastAcq,
                                  double waitTime);
TVK_EXPORT int abortOperation(unsigned devIndex);
TVK_EXPORT int closeFrames(unsigned devIndex);

// Frames of the last acquisition. sizePixels is the buffer's size in elements; frameIndex -1 in saveFrame
// saves every frame done.
TVK_EXPORT int getFrame16(unsigned devIndex, int16_t* buffer, uint32_t sizePixels, int frameIndex);
TVK_EXPORT int getFrame32(unsigned devIndex, uint32_t* buffer, uint32_t sizePixels, int frameIndex);
TVK_EXPORT int getFrameDouble(unsigned devIndex, double* buffer, uint32_t sizePixels, int frameIndex);
TVK_EXPORT int saveFrame(unsigned devIndex, const char* fileName, int frameIndex, uint32_t fileFlags);
TVK_EXPORT int getFrameAttrib(unsigned devIndex, int frameIndex, const char* name, void* data, uint32_t* size,
                              int* type);
TVK_EXPORT int getFrameID(unsigned devIndex, int frameIndex, uint32_t* frameId);
// Progress of the last acquisition; -1 when there is none. Any pointer may be null.
TVK_EXPORT int getAcqInfo(unsigned devIndex, int* frameIndex, int* frameCount, int* kind, int* framesDone);

// Chip-ordered data <-> the 512 x 512 super matrix of a 4-chip device. sizeBytes is the buffers' size in
// bytes; type is a _Data_Types code of 1-byte, i16, u32 or double elements.
TVK_EXPORT int convToSuperMatrix(unsigned devIndex, const void* chips, void* matrix, uint32_t sizeBytes, int type);
TVK_EXPORT int convFromSuperMatrix(unsigned devIndex, const void* matrix, void* chips, uint32_t sizeBytes,
                                   int type);
TVK_EXPORT int setSuperMatrixPixCfg(unsigned devIndex, const uint8_t* cfg, uint32_t size);
TVK_EXPORT int getSuperMatrixPixCfg(unsigned devIndex, uint8_t* cfg, uint32_t size);

// DACs.
TVK_EXPORT int setDACsDefault(unsigned devIndex);
TVK_EXPORT int setDACs(unsigned devIndex, const uint16_t* dacs, int size, int chip, int refChip, int refFlags);
TVK_EXPORT int getDACs(unsigned devIndex, uint16_t* dacs, int size, int chip);
TVK_EXPORT int getSingleDACAnalog(unsigned devIndex, double* values, int size, int dacIndex, int chip, int samples);
TVK_EXPORT int getDACsAnalog(unsigned devIndex, double* values, int size, int chip);
TVK_EXPORT int refreshDACs(unsigned devIndex);
TVK_EXPORT int getDACsNames(unsigned devIndex, const char*** names, const int** bitWidths, int* dacCount);
TVK_EXPORT int setDACRefCoef(unsigned devIndex, double* coefs, int size, int set);
TVK_EXPORT int getDACRefCoef(unsigned devIndex, double* coefs, int size, int set);
TVK_EXPORT int setExtDAC(unsigned devIndex, int dacIndex, double value);
TVK_EXPORT int getExtDAC(unsigned devIndex, int* dacIndex, double* value);

// Pixel configuration.
TVK_EXPORT int setPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
TVK_EXPORT int getPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
TVK_EXPORT int resetPixelsCfg(unsigned devIndex, int chip);
TVK_EXPORT int refreshPixelsCfg(unsigned devIndex);
TVK_EXPORT int loadPixelsCfg(unsigned devIndex, const char* fileName, int withDacs);
TVK_EXPORT int savePixelsCfg(unsigned devIndex, const char* fileName, int withDacs);
TVK_EXPORT int loadPixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile,
                                  const char* thlAdjFile, const char* fourthFile, int withDacs);
TVK_EXPORT int savePixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile,
                                  const char* thlAdjFile, const char* fourthFile, int withDacs);

// Chip configuration files and hardware-specific items.
TVK_EXPORT int loadTvkCfg(unsigned devIndex, const char* fileName);
TVK_EXPORT int saveTvkCfg(unsigned devIndex, const char* fileName);
TVK_EXPORT int saveTvkCfgAsDefault(unsigned devIndex);
TVK_EXPORT int getHwInfoCount(unsigned devIndex, int* count);
TVK_EXPORT int getHwInfoItem(unsigned devIndex, int index, HwInfoItem* item, int* dataSize);
TVK_EXPORT int setHwInfoItem(unsigned devIndex, int index, const void* data, int dataSize);

#ifdef __cplusplus
}
#endif
