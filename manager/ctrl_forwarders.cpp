#include "ctrl_forwarders.h"

#include <type_traits>

#include "ctrl/tvk_ctrl.h"

// Each entry has exactly the type of the function it forwards to.
#define TVK_FORWARD_TYPE(entry, target) \
    static_assert(std::is_same_v<decltype(&target), decltype(_MgrFuncTable::entry)>, #entry " type")

TVK_FORWARD_TYPE(tvkCtrlInitialize, initTvkCtrl);
int tvkCtrlInitialize(void)
{
    return initTvkCtrl();
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlInitialize, (void));

TVK_FORWARD_TYPE(tvkCtrlGetFirstTvk, getFirstTvk);
int tvkCtrlGetFirstTvk(unsigned* devIndex, int* count)
{
    return getFirstTvk(devIndex, count);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetFirstTvk, (unsigned* devIndex, int* count));

TVK_FORWARD_TYPE(tvkCtrlGetNextTvk, getNextTvk);
int tvkCtrlGetNextTvk(unsigned* devIndex)
{
    return getNextTvk(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetNextTvk, (unsigned* devIndex));

TVK_FORWARD_TYPE(tvkCtrlFindNewTvks, findNewTvks);
int tvkCtrlFindNewTvks(void)
{
    return findNewTvks();
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlFindNewTvks, (void));

TVK_FORWARD_TYPE(tvkCtrlReconnectTvk, reconnectTvk);
int tvkCtrlReconnectTvk(unsigned devIndex)
{
    return reconnectTvk(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlReconnectTvk, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlGetHwInfoCount, getHwInfoCount);
int tvkCtrlGetHwInfoCount(unsigned devIndex, int* count)
{
    return getHwInfoCount(devIndex, count);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetHwInfoCount, (unsigned devIndex, int* count));

TVK_FORWARD_TYPE(tvkCtrlGetHwInfoItem, getHwInfoItem);
int tvkCtrlGetHwInfoItem(unsigned devIndex, int index, HwInfoItem* item, int* dataSize)
{
    return getHwInfoItem(devIndex, index, item, dataSize);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetHwInfoItem, (unsigned devIndex, int index, HwInfoItem* item, int* dataSize));

TVK_FORWARD_TYPE(tvkCtrlSetHwInfoItem, setHwInfoItem);
int tvkCtrlSetHwInfoItem(unsigned devIndex, int index, const void* data, int dataSize)
{
    return setHwInfoItem(devIndex, index, data, dataSize);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetHwInfoItem, (unsigned devIndex, int index, const void* data, int dataSize));

TVK_FORWARD_TYPE(tvkCtrlTryLockDevice, tryLockDevice);
int tvkCtrlTryLockDevice(unsigned devIndex, int* locked, unsigned timeoutMs)
{
    return tryLockDevice(devIndex, locked, timeoutMs);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlTryLockDevice, (unsigned devIndex, int* locked, unsigned timeoutMs));

TVK_FORWARD_TYPE(tvkCtrlReleaseDevice, releaseDevice);
int tvkCtrlReleaseDevice(unsigned devIndex)
{
    return releaseDevice(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlReleaseDevice, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlGetLockOwnerID, getLockOwnerID);
int tvkCtrlGetLockOwnerID(unsigned devIndex, uint32_t* ownerThreadId)
{
    return getLockOwnerID(devIndex, ownerThreadId);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetLockOwnerID, (unsigned devIndex, uint32_t* ownerThreadId));

TVK_FORWARD_TYPE(tvkCtrlReviveTvkDevice, reviveTvkDevice);
int tvkCtrlReviveTvkDevice(unsigned devIndex)
{
    return reviveTvkDevice(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlReviveTvkDevice, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlInitTvkDevice, initTvkDevice);
int tvkCtrlInitTvkDevice(unsigned devIndex, const char* cfgFile)
{
    return initTvkDevice(devIndex, cfgFile);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlInitTvkDevice, (unsigned devIndex, const char* cfgFile));

TVK_FORWARD_TYPE(tvkCtrlSaveTvkCfg, saveTvkCfg);
int tvkCtrlSaveTvkCfg(unsigned devIndex, const char* fileName)
{
    return saveTvkCfg(devIndex, fileName);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSaveTvkCfg, (unsigned devIndex, const char* fileName));

TVK_FORWARD_TYPE(tvkCtrlLoadTvkCfg, loadTvkCfg);
int tvkCtrlLoadTvkCfg(unsigned devIndex, const char* fileName)
{
    return loadTvkCfg(devIndex, fileName);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlLoadTvkCfg, (unsigned devIndex, const char* fileName));

TVK_FORWARD_TYPE(tvkCtrlSaveTvkCfgAsDefault, saveTvkCfgAsDefault);
int tvkCtrlSaveTvkCfgAsDefault(unsigned devIndex)
{
    return saveTvkCfgAsDefault(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSaveTvkCfgAsDefault, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlSetPolarity, setPolarity);
int tvkCtrlSetPolarity(unsigned devIndex, int polarity)
{
    return setPolarity(devIndex, polarity);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetPolarity, (unsigned devIndex, int polarity));

TVK_FORWARD_TYPE(tvkCtrlGetPolarity, getPolarity);
int tvkCtrlGetPolarity(unsigned devIndex, int* polarity)
{
    return getPolarity(devIndex, polarity);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetPolarity, (unsigned devIndex, int* polarity));

TVK_FORWARD_TYPE(tvkCtrlSetCST, setCST);
int tvkCtrlSetCST(unsigned devIndex, int cst)
{
    return setCST(devIndex, cst);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetCST, (unsigned devIndex, int cst));

TVK_FORWARD_TYPE(tvkCtrlGetCST, getCST);
int tvkCtrlGetCST(unsigned devIndex, int* cst)
{
    return getCST(devIndex, cst);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetCST, (unsigned devIndex, int* cst));

TVK_FORWARD_TYPE(tvkCtrlSetAcqMode, setAcqMode);
int tvkCtrlSetAcqMode(unsigned devIndex, int mode)
{
    return setAcqMode(devIndex, mode);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetAcqMode, (unsigned devIndex, int mode));

TVK_FORWARD_TYPE(tvkCtrlGetAcqMode, getAcqMode);
int tvkCtrlGetAcqMode(unsigned devIndex, int* mode)
{
    return getAcqMode(devIndex, mode);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetAcqMode, (unsigned devIndex, int* mode));

TVK_FORWARD_TYPE(tvkCtrlSetHwTimer, setHwTimer);
int tvkCtrlSetHwTimer(unsigned devIndex, int mode)
{
    return setHwTimer(devIndex, mode);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetHwTimer, (unsigned devIndex, int mode));

TVK_FORWARD_TYPE(tvkCtrlGetHwTimer, getHwTimer);
int tvkCtrlGetHwTimer(unsigned devIndex, int* mode)
{
    return getHwTimer(devIndex, mode);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetHwTimer, (unsigned devIndex, int* mode));

TVK_FORWARD_TYPE(tvkCtrlSetDACsDefault, setDACsDefault);
int tvkCtrlSetDACsDefault(unsigned devIndex)
{
    return setDACsDefault(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetDACsDefault, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlSetDACs, setDACs);
int tvkCtrlSetDACs(unsigned devIndex, const uint16_t* dacs, int size, int chip, int refChip, int refFlags)
{
    return setDACs(devIndex, dacs, size, chip, refChip, refFlags);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetDACs, (unsigned devIndex, const uint16_t* dacs, int size, int chip, int refChip, int refFlags));

TVK_FORWARD_TYPE(tvkCtrlGetDACs, getDACs);
int tvkCtrlGetDACs(unsigned devIndex, uint16_t* dacs, int size, int chip)
{
    return getDACs(devIndex, dacs, size, chip);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetDACs, (unsigned devIndex, uint16_t* dacs, int size, int chip));

TVK_FORWARD_TYPE(tvkCtrlGetSingleDACAnalog, getSingleDACAnalog);
int tvkCtrlGetSingleDACAnalog(unsigned devIndex, double* values, int size, int dacIndex, int chip, int samples)
{
    return getSingleDACAnalog(devIndex, values, size, dacIndex, chip, samples);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetSingleDACAnalog, (unsigned devIndex, double* values, int size, int dacIndex, int chip, int samples));

TVK_FORWARD_TYPE(tvkCtrlGetDACsAnalog, getDACsAnalog);
int tvkCtrlGetDACsAnalog(unsigned devIndex, double* values, int size, int chip)
{
    return getDACsAnalog(devIndex, values, size, chip);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetDACsAnalog, (unsigned devIndex, double* values, int size, int chip));

TVK_FORWARD_TYPE(tvkCtrlRefreshDACs, refreshDACs);
int tvkCtrlRefreshDACs(unsigned devIndex)
{
    return refreshDACs(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlRefreshDACs, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlGetDACsNames, getDACsNames);
int tvkCtrlGetDACsNames(unsigned devIndex, const char*** names, const int** bitWidths, int* dacCount)
{
    return getDACsNames(devIndex, names, bitWidths, dacCount);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetDACsNames, (unsigned devIndex, const char*** names, const int** bitWidths, int* dacCount));

TVK_FORWARD_TYPE(tvkCtrlSetDACRefCoef, setDACRefCoef);
int tvkCtrlSetDACRefCoef(unsigned devIndex, double* coefs, int size, int set)
{
    return setDACRefCoef(devIndex, coefs, size, set);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetDACRefCoef, (unsigned devIndex, double* coefs, int size, int set));

TVK_FORWARD_TYPE(tvkCtrlGetDACRefCoef, getDACRefCoef);
int tvkCtrlGetDACRefCoef(unsigned devIndex, double* coefs, int size, int set)
{
    return getDACRefCoef(devIndex, coefs, size, set);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetDACRefCoef, (unsigned devIndex, double* coefs, int size, int set));

TVK_FORWARD_TYPE(tvkCtrlSetExtDAC, setExtDAC);
int tvkCtrlSetExtDAC(unsigned devIndex, int dacIndex, double value)
{
    return setExtDAC(devIndex, dacIndex, value);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetExtDAC, (unsigned devIndex, int dacIndex, double value));

TVK_FORWARD_TYPE(tvkCtrlGetExtDAC, getExtDAC);
int tvkCtrlGetExtDAC(unsigned devIndex, int* dacIndex, double* value)
{
    return getExtDAC(devIndex, dacIndex, value);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetExtDAC, (unsigned devIndex, int* dacIndex, double* value));

TVK_FORWARD_TYPE(tvkCtrlSetPixelsCfg, setPixelsCfg);
int tvkCtrlSetPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip)
{
    return setPixelsCfg(devIndex, cfg, size, chip);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetPixelsCfg, (unsigned devIndex, uint8_t* cfg, uint32_t size, int chip));

TVK_FORWARD_TYPE(tvkCtrlGetPixelsCfg, getPixelsCfg);
int tvkCtrlGetPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip)
{
    return getPixelsCfg(devIndex, cfg, size, chip);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetPixelsCfg, (unsigned devIndex, uint8_t* cfg, uint32_t size, int chip));

TVK_FORWARD_TYPE(tvkCtrlResetPixelsCfg, resetPixelsCfg);
int tvkCtrlResetPixelsCfg(unsigned devIndex, int chip)
{
    return resetPixelsCfg(devIndex, chip);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlResetPixelsCfg, (unsigned devIndex, int chip));

TVK_FORWARD_TYPE(tvkCtrlSetSuperMatrixPixCfg, setSuperMatrixPixCfg);
int tvkCtrlSetSuperMatrixPixCfg(unsigned devIndex, const uint8_t* cfg, uint32_t size)
{
    return setSuperMatrixPixCfg(devIndex, cfg, size);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetSuperMatrixPixCfg, (unsigned devIndex, const uint8_t* cfg, uint32_t size));

TVK_FORWARD_TYPE(tvkCtrlGetSuperMatrixPixCfg, getSuperMatrixPixCfg);
int tvkCtrlGetSuperMatrixPixCfg(unsigned devIndex, uint8_t* cfg, uint32_t size)
{
    return getSuperMatrixPixCfg(devIndex, cfg, size);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetSuperMatrixPixCfg, (unsigned devIndex, uint8_t* cfg, uint32_t size));

TVK_FORWARD_TYPE(tvkCtrlRefreshPixelsCfg, refreshPixelsCfg);
int tvkCtrlRefreshPixelsCfg(unsigned devIndex)
{
    return refreshPixelsCfg(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlRefreshPixelsCfg, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlSetAcqSpacing, setAcqSpacing);
int tvkCtrlSetAcqSpacing(unsigned devIndex, int spacing)
{
    return setAcqSpacing(devIndex, spacing);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetAcqSpacing, (unsigned devIndex, int spacing));

TVK_FORWARD_TYPE(tvkCtrlGetAcqSpacing, getAcqSpacing);
int tvkCtrlGetAcqSpacing(unsigned devIndex, int* spacing)
{
    return getAcqSpacing(devIndex, spacing);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetAcqSpacing, (unsigned devIndex, int* spacing));

TVK_FORWARD_TYPE(tvkCtrlSetAutoConvToSM, setAutoConvToSM);
int tvkCtrlSetAutoConvToSM(unsigned devIndex, int on)
{
    return setAutoConvToSM(devIndex, on);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSetAutoConvToSM, (unsigned devIndex, int on));

TVK_FORWARD_TYPE(tvkCtrlGetAutoConvToSM, getAutoConvToSM);
int tvkCtrlGetAutoConvToSM(unsigned devIndex, int* on)
{
    return getAutoConvToSM(devIndex, on);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetAutoConvToSM, (unsigned devIndex, int* on));

TVK_FORWARD_TYPE(tvkCtrlConvToSuperMatrix, convToSuperMatrix);
int tvkCtrlConvToSuperMatrix(unsigned devIndex, const void* chips, void* matrix, uint32_t sizeBytes, int type)
{
    return convToSuperMatrix(devIndex, chips, matrix, sizeBytes, type);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlConvToSuperMatrix, (unsigned devIndex, const void* chips, void* matrix, uint32_t sizeBytes, int type));

TVK_FORWARD_TYPE(tvkCtrlConvFromSuperMatrix, convFromSuperMatrix);
int tvkCtrlConvFromSuperMatrix(unsigned devIndex, const void* matrix, void* chips, uint32_t sizeBytes, int type)
{
    return convFromSuperMatrix(devIndex, matrix, chips, sizeBytes, type);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlConvFromSuperMatrix, (unsigned devIndex, const void* matrix, void* chips, uint32_t sizeBytes, int type));

TVK_FORWARD_TYPE(tvkCtrlLoadPixelsCfg, loadPixelsCfg);
int tvkCtrlLoadPixelsCfg(unsigned devIndex, const char* fileName, int withDacs)
{
    return loadPixelsCfg(devIndex, fileName, withDacs);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlLoadPixelsCfg, (unsigned devIndex, const char* fileName, int withDacs));

TVK_FORWARD_TYPE(tvkCtrlSavePixelsCfg, savePixelsCfg);
int tvkCtrlSavePixelsCfg(unsigned devIndex, const char* fileName, int withDacs)
{
    return savePixelsCfg(devIndex, fileName, withDacs);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSavePixelsCfg, (unsigned devIndex, const char* fileName, int withDacs));

TVK_FORWARD_TYPE(tvkCtrlLoadPixelsCfgAscii, loadPixelsCfgAscii);
int tvkCtrlLoadPixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile, const char* fourthFile, int withDacs)
{
    return loadPixelsCfgAscii(devIndex, maskFile, testFile, thlAdjFile, fourthFile, withDacs);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlLoadPixelsCfgAscii, (unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile, const char* fourthFile, int withDacs));

TVK_FORWARD_TYPE(tvkCtrlSavePixelsCfgAscii, savePixelsCfgAscii);
int tvkCtrlSavePixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile, const char* fourthFile, int withDacs)
{
    return savePixelsCfgAscii(devIndex, maskFile, testFile, thlAdjFile, fourthFile, withDacs);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSavePixelsCfgAscii, (unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile, const char* fourthFile, int withDacs));

TVK_FORWARD_TYPE(tvkCtrlPerformIntegralAcq, performIntegralAcq);
int tvkCtrlPerformIntegralAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName)
{
    return performIntegralAcq(devIndex, frameCount, acqTime, fileFlags, fileName);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlPerformIntegralAcq, (unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName));

TVK_FORWARD_TYPE(tvkCtrlPerformFrameAcq, performFrameAcq);
int tvkCtrlPerformFrameAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName)
{
    return performFrameAcq(devIndex, frameCount, acqTime, fileFlags, fileName);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlPerformFrameAcq, (unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName));

TVK_FORWARD_TYPE(tvkCtrlPerformTestPulseAcq, performTestPulseAcq);
int tvkCtrlPerformTestPulseAcq(unsigned devIndex, double height, double period, uint32_t pulseCount, uint32_t columnMask)
{
    return performTestPulseAcq(devIndex, height, period, pulseCount, columnMask);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlPerformTestPulseAcq, (unsigned devIndex, double height, double period, uint32_t pulseCount, uint32_t columnMask));

TVK_FORWARD_TYPE(tvkCtrlPerformDigitalTest, performDigitalTest);
int tvkCtrlPerformDigitalTest(unsigned devIndex, int* goodPixels, uint32_t* frameId, int keepAsLastAcq, double waitTime)
{
    return performDigitalTest(devIndex, goodPixels, frameId, keepAsLastAcq, waitTime);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlPerformDigitalTest, (unsigned devIndex, int* goodPixels, uint32_t* frameId, int keepAsLastAcq, double waitTime));

TVK_FORWARD_TYPE(tvkCtrlAbortOperation, abortOperation);
int tvkCtrlAbortOperation(unsigned devIndex)
{
    return abortOperation(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlAbortOperation, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlCloseFrames, closeFrames);
int tvkCtrlCloseFrames(unsigned devIndex)
{
    return closeFrames(devIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlCloseFrames, (unsigned devIndex));

TVK_FORWARD_TYPE(tvkCtrlGetFrame16, getFrame16);
int tvkCtrlGetFrame16(unsigned devIndex, int16_t* buffer, uint32_t sizePixels, int frameIndex)
{
    return getFrame16(devIndex, buffer, sizePixels, frameIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetFrame16, (unsigned devIndex, int16_t* buffer, uint32_t sizePixels, int frameIndex));

TVK_FORWARD_TYPE(tvkCtrlGetFrame32, getFrame32);
int tvkCtrlGetFrame32(unsigned devIndex, uint32_t* buffer, uint32_t sizePixels, int frameIndex)
{
    return getFrame32(devIndex, buffer, sizePixels, frameIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetFrame32, (unsigned devIndex, uint32_t* buffer, uint32_t sizePixels, int frameIndex));

TVK_FORWARD_TYPE(tvkCtrlGetFrameDouble, getFrameDouble);
int tvkCtrlGetFrameDouble(unsigned devIndex, double* buffer, uint32_t sizePixels, int frameIndex)
{
    return getFrameDouble(devIndex, buffer, sizePixels, frameIndex);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetFrameDouble, (unsigned devIndex, double* buffer, uint32_t sizePixels, int frameIndex));

TVK_FORWARD_TYPE(tvkCtrlSaveFrame, saveFrame);
int tvkCtrlSaveFrame(unsigned devIndex, const char* fileName, int frameIndex, uint32_t fileFlags)
{
    return saveFrame(devIndex, fileName, frameIndex, fileFlags);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlSaveFrame, (unsigned devIndex, const char* fileName, int frameIndex, uint32_t fileFlags));

TVK_FORWARD_TYPE(tvkCtrlGetFrameAttrib, getFrameAttrib);
int tvkCtrlGetFrameAttrib(unsigned devIndex, int frameIndex, const char* name, void* data, uint32_t* size, int* type)
{
    return getFrameAttrib(devIndex, frameIndex, name, data, size, type);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetFrameAttrib, (unsigned devIndex, int frameIndex, const char* name, void* data, uint32_t* size, int* type));

TVK_FORWARD_TYPE(tvkCtrlGetFrameID, getFrameID);
int tvkCtrlGetFrameID(unsigned devIndex, int frameIndex, uint32_t* frameId)
{
    return getFrameID(devIndex, frameIndex, frameId);
}

TVK_FORWARD_TYPE(tvkCtrlGetDevInfo, getDevInfo);
int tvkCtrlGetDevInfo(unsigned devIndex, _DevInfo* info)
{
    return getDevInfo(devIndex, info);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetDevInfo, (unsigned devIndex, _DevInfo* info));

TVK_FORWARD_TYPE(tvkCtrlGetTarvikInfo, getTarvikInfo);
int tvkCtrlGetTarvikInfo(unsigned devIndex, int* chipCount, int* chipRows, char* chipboardId, char* interfaceName)
{
    return getTarvikInfo(devIndex, chipCount, chipRows, chipboardId, interfaceName);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetTarvikInfo, (unsigned devIndex, int* chipCount, int* chipRows, char* chipboardId, char* interfaceName));

TVK_FORWARD_TYPE(tvkCtrlGetAcqInfo, getAcqInfo);
int tvkCtrlGetAcqInfo(unsigned devIndex, int* frameIndex, int* frameCount, int* kind, int* framesDone)
{
    return getAcqInfo(devIndex, frameIndex, frameCount, kind, framesDone);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetAcqInfo, (unsigned devIndex, int* frameIndex, int* frameCount, int* kind, int* framesDone));

TVK_FORWARD_TYPE(tvkCtrlGetInfoMsg, getInfoMsg);
int tvkCtrlGetInfoMsg(int devIndex, int* code, const char** text)
{
    return getInfoMsg(devIndex, code, text);
}
TVK_EXPORT_UNDERSCORE(int, tvkCtrlGetInfoMsg, (int devIndex, int* code, const char** text));
