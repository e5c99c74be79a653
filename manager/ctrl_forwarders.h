// Slots 78-144 of the function table: each passes its arguments unchanged to the device-control
// library and returns its result unchanged. All but tvkCtrlGetFrameID are also exported by name.
#pragma once

#include "tvk_export.h"
#include "tvk_mgr.h"

#ifdef __cplusplus
extern "C" {
#endif

TVK_EXPORT int tvkCtrlInitialize(void);
TVK_EXPORT int tvkCtrlGetFirstTvk(unsigned* devIndex, int* count);
TVK_EXPORT int tvkCtrlGetNextTvk(unsigned* devIndex);
TVK_EXPORT int tvkCtrlFindNewTvks(void);
TVK_EXPORT int tvkCtrlReconnectTvk(unsigned devIndex);
TVK_EXPORT int tvkCtrlGetHwInfoCount(unsigned devIndex, int* count);
TVK_EXPORT int tvkCtrlGetHwInfoItem(unsigned devIndex, int index, HwInfoItem* item, int* dataSize);
TVK_EXPORT int tvkCtrlSetHwInfoItem(unsigned devIndex, int index, const void* data, int dataSize);
TVK_EXPORT int tvkCtrlTryLockDevice(unsigned devIndex, int* locked, unsigned timeoutMs);
TVK_EXPORT int tvkCtrlReleaseDevice(unsigned devIndex);
TVK_EXPORT int tvkCtrlGetLockOwnerID(unsigned devIndex, uint32_t* ownerThreadId);
TVK_EXPORT int tvkCtrlReviveTvkDevice(unsigned devIndex);
TVK_EXPORT int tvkCtrlInitTvkDevice(unsigned devIndex, const char* cfgFile);
TVK_EXPORT int tvkCtrlSaveTvkCfg(unsigned devIndex, const char* fileName);
TVK_EXPORT int tvkCtrlLoadTvkCfg(unsigned devIndex, const char* fileName);
TVK_EXPORT int tvkCtrlSaveTvkCfgAsDefault(unsigned devIndex);
TVK_EXPORT int tvkCtrlSetPolarity(unsigned devIndex, int polarity);
TVK_EXPORT int tvkCtrlGetPolarity(unsigned devIndex, int* polarity);
TVK_EXPORT int tvkCtrlSetCST(unsigned devIndex, int cst);
TVK_EXPORT int tvkCtrlGetCST(unsigned devIndex, int* cst);
TVK_EXPORT int tvkCtrlSetAcqMode(unsigned devIndex, int mode);
TVK_EXPORT int tvkCtrlGetAcqMode(unsigned devIndex, int* mode);
TVK_EXPORT int tvkCtrlSetHwTimer(unsigned devIndex, int mode);
TVK_EXPORT int tvkCtrlGetHwTimer(unsigned devIndex, int* mode);
TVK_EXPORT int tvkCtrlSetDACsDefault(unsigned devIndex);
TVK_EXPORT int tvkCtrlSetDACs(unsigned devIndex, const uint16_t* dacs, int size, int chip, int refChip, int refFlags);
TVK_EXPORT int tvkCtrlGetDACs(unsigned devIndex, uint16_t* dacs, int size, int chip);
TVK_EXPORT int tvkCtrlGetSingleDACAnalog(unsigned devIndex, double* values, int size, int dacIndex, int chip, int samples);
TVK_EXPORT int tvkCtrlGetDACsAnalog(unsigned devIndex, double* values, int size, int chip);
TVK_EXPORT int tvkCtrlRefreshDACs(unsigned devIndex);
TVK_EXPORT int tvkCtrlGetDACsNames(unsigned devIndex, const char*** names, const int** bitWidths, int* dacCount);
TVK_EXPORT int tvkCtrlSetDACRefCoef(unsigned devIndex, double* coefs, int size, int set);
TVK_EXPORT int tvkCtrlGetDACRefCoef(unsigned devIndex, double* coefs, int size, int set);
TVK_EXPORT int tvkCtrlSetExtDAC(unsigned devIndex, int dacIndex, double value);
TVK_EXPORT int tvkCtrlGetExtDAC(unsigned devIndex, int* dacIndex, double* value);
TVK_EXPORT int tvkCtrlSetPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
TVK_EXPORT int tvkCtrlGetPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
TVK_EXPORT int tvkCtrlResetPixelsCfg(unsigned devIndex, int chip);
TVK_EXPORT int tvkCtrlSetSuperMatrixPixCfg(unsigned devIndex, const uint8_t* cfg, uint32_t size);
TVK_EXPORT int tvkCtrlGetSuperMatrixPixCfg(unsigned devIndex, uint8_t* cfg, uint32_t size);
TVK_EXPORT int tvkCtrlRefreshPixelsCfg(unsigned devIndex);
TVK_EXPORT int tvkCtrlSetAcqSpacing(unsigned devIndex, int spacing);
TVK_EXPORT int tvkCtrlGetAcqSpacing(unsigned devIndex, int* spacing);
TVK_EXPORT int tvkCtrlSetAutoConvToSM(unsigned devIndex, int on);
TVK_EXPORT int tvkCtrlGetAutoConvToSM(unsigned devIndex, int* on);
TVK_EXPORT int tvkCtrlConvToSuperMatrix(unsigned devIndex, const void* chips, void* matrix, uint32_t sizeBytes, int type);
TVK_EXPORT int tvkCtrlConvFromSuperMatrix(unsigned devIndex, const void* matrix, void* chips, uint32_t sizeBytes, int type);
TVK_EXPORT int tvkCtrlLoadPixelsCfg(unsigned devIndex, const char* fileName, int withDacs);
TVK_EXPORT int tvkCtrlSavePixelsCfg(unsigned devIndex, const char* fileName, int withDacs);
TVK_EXPORT int tvkCtrlLoadPixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile, const char* fourthFile, int withDacs);
TVK_EXPORT int tvkCtrlSavePixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile, const char* fourthFile, int withDacs);
TVK_EXPORT int tvkCtrlPerformIntegralAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName);
TVK_EXPORT int tvkCtrlPerformFrameAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName);
TVK_EXPORT int tvkCtrlPerformTestPulseAcq(unsigned devIndex, double height, double period, uint32_t pulseCount, uint32_t columnMask);
TVK_EXPORT int tvkCtrlPerformDigitalTest(unsigned devIndex, int* goodPixels, uint32_t* frameId, int keepAsLastAcq, double waitTime);
TVK_EXPORT int tvkCtrlAbortOperation(unsigned devIndex);
TVK_EXPORT int tvkCtrlCloseFrames(unsigned devIndex);
TVK_EXPORT int tvkCtrlGetFrame16(unsigned devIndex, int16_t* buffer, uint32_t sizePixels, int frameIndex);
TVK_EXPORT int tvkCtrlGetFrame32(unsigned devIndex, uint32_t* buffer, uint32_t sizePixels, int frameIndex);
TVK_EXPORT int tvkCtrlGetFrameDouble(unsigned devIndex, double* buffer, uint32_t sizePixels, int frameIndex);
TVK_EXPORT int tvkCtrlSaveFrame(unsigned devIndex, const char* fileName, int frameIndex, uint32_t fileFlags);
TVK_EXPORT int tvkCtrlGetFrameAttrib(unsigned devIndex, int frameIndex, const char* name, void* data, uint32_t* size, int* type);
int tvkCtrlGetFrameID(unsigned devIndex, int frameIndex, uint32_t* frameId);
TVK_EXPORT int tvkCtrlGetDevInfo(unsigned devIndex, _DevInfo* info);
TVK_EXPORT int tvkCtrlGetTarvikInfo(unsigned devIndex, int* chipCount, int* chipRows, char* chipboardId, char* interfaceName);
TVK_EXPORT int tvkCtrlGetAcqInfo(unsigned devIndex, int* frameIndex, int* frameCount, int* kind, int* framesDone);
TVK_EXPORT int tvkCtrlGetInfoMsg(int devIndex, int* code, const char** text);

#ifdef __cplusplus
}
#endif
