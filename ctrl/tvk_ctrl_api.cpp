// The exported C functions: each finds its device, calls it, and never lets an exception out.
#include "tvk_ctrl.h"

#include <new>
#include <string>

#include "device.h"
#include "registry.h"

namespace {

DeviceRegistry& registry()
{
    return DeviceRegistry::instance();
}

template <class F>
int guarded(F f) noexcept
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return TVK_ERR_ALLOC;
    } catch (...) {
        return TVK_ERR_GENERIC;
    }
}

// Calls f with the device that devIndex names, holding a reference for the call; TVK_ERR_DEV_INDEX when there is none.
template <class F>
int withDevice(unsigned devIndex, F f) noexcept
{
    return guarded([&] {
        const std::shared_ptr<TvkDevice> dev = registry().device(devIndex);
        if (!dev)
            return static_cast<int>(TVK_ERR_DEV_INDEX);
        return f(*dev);
    });
}

template <class T>
int setCallback(std::atomic<T>& slot, T callback)
{
    slot = callback;
    return 0;
}

// The text handed out by getInfoMsg: a copy per thread, so that it stays valid whatever happens to the
// device or to later messages.
thread_local std::string infoText;

} // namespace

// ---- library and registry ----

int initTvkCtrl(void) { return guarded([] { return registry().init(); }); }
TVK_EXPORT_UNDERSCORE(int, initTvkCtrl, (void));

int exitTvkCtrl(void) { return guarded([] { return registry().exit(); }); }
TVK_EXPORT_UNDERSCORE(int, exitTvkCtrl, (void));

int getFirstTvk(unsigned* devIndex, int* count)
{
    return guarded([&] { return registry().firstDevice(devIndex, count); });
}
TVK_EXPORT_UNDERSCORE(int, getFirstTvk, (unsigned*, int*));

int getNextTvk(unsigned* devIndex) { return guarded([&] { return registry().nextDevice(devIndex); }); }
TVK_EXPORT_UNDERSCORE(int, getNextTvk, (unsigned*));

int findNewTvks(void) { return guarded([] { return registry().findNew(); }); }
TVK_EXPORT_UNDERSCORE(int, findNewTvks, (void));

int reconnectTvk(unsigned devIndex) { return guarded([&] { return registry().reconnect(devIndex); }); }
TVK_EXPORT_UNDERSCORE(int, reconnectTvk, (unsigned));

int getInfoMsg(int devIndex, int* code, const char** text)
{
    return guarded([&] {
        int c = 0;
        std::string t;
        if (devIndex == -1) {
            registry().message(&c, &t);
        } else {
            const std::shared_ptr<TvkDevice> dev = devIndex < 0 ? nullptr : registry().device(static_cast<unsigned>(devIndex));
            if (!dev)
                return static_cast<int>(TVK_ERR_DEV_INDEX);
            dev->message(&c, &t);
        }
        infoText = std::move(t);
        if (code)
            *code = c;
        if (text)
            *text = infoText.c_str();
        return 0;
    });
}
TVK_EXPORT_UNDERSCORE(int, getInfoMsg, (int, int*, const char**));

int setCbInfoMsg(TvkDevCallback cb) { return setCallback(registry().callbacks().infoMsg, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbInfoMsg, (TvkDevCallback));
int setCbAcqStart(TvkDevCallback cb) { return setCallback(registry().callbacks().acqStart, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbAcqStart, (TvkDevCallback));
int setCbAcqCompl(TvkDevCallback cb) { return setCallback(registry().callbacks().acqCompl, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbAcqCompl, (TvkDevCallback));
int setCbFrameCreated(TvkFrameCallback cb) { return setCallback(registry().callbacks().frameCreated, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbFrameCreated, (TvkFrameCallback));
int setCbAddAttribs(TvkFrameCallback cb) { return setCallback(registry().callbacks().addAttribs, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbAddAttribs, (TvkFrameCallback));
int setCbDacsChanged(TvkDevCallback cb) { return setCallback(registry().callbacks().dacsChanged, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbDacsChanged, (TvkDevCallback));
int setCbExtDacChanged(TvkDevCallback cb) { return setCallback(registry().callbacks().extDacChanged, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbExtDacChanged, (TvkDevCallback));
int setCbPixCfgChanged(TvkDevCallback cb) { return setCallback(registry().callbacks().pixCfgChanged, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbPixCfgChanged, (TvkDevCallback));
int setCbTvkDevNew(TvkDevCallback cb) { return setCallback(registry().callbacks().devNew, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbTvkDevNew, (TvkDevCallback));
int setCbTvkDevChanged(TvkDevCallback cb) { return setCallback(registry().callbacks().devChanged, cb); }
TVK_EXPORT_UNDERSCORE(int, setCbTvkDevChanged, (TvkDevCallback));

// ---- device ownership and information ----

int tryLockDevice(unsigned devIndex, int* locked, unsigned timeoutMs)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.tryLock(timeoutMs, locked); });
}
TVK_EXPORT_UNDERSCORE(int, tryLockDevice, (unsigned, int*, unsigned));

int releaseDevice(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.release(); });
}
TVK_EXPORT_UNDERSCORE(int, releaseDevice, (unsigned));

int getLockOwnerID(unsigned devIndex, uint32_t* ownerThreadId)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.lockOwner(ownerThreadId); });
}
TVK_EXPORT_UNDERSCORE(int, getLockOwnerID, (unsigned, uint32_t*));

int getDevInfo(unsigned devIndex, _DevInfo* info)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getDevInfo(info); });
}
TVK_EXPORT_UNDERSCORE(int, getDevInfo, (unsigned, _DevInfo*));

int getTarvikInfo(unsigned devIndex, int* chipCount, int* chipRows, char* chipboardId, char* interfaceName)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.getTarvikInfo(chipCount, chipRows, chipboardId, interfaceName);
    });
}
TVK_EXPORT_UNDERSCORE(int, getTarvikInfo, (unsigned, int*, int*, char*, char*));

int initTvkDevice(unsigned devIndex, const char* cfgFile)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.initDevice(cfgFile, true); });
}
TVK_EXPORT_UNDERSCORE(int, initTvkDevice, (unsigned, const char*));

int reviveTvkDevice(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.revive(); });
}
TVK_EXPORT_UNDERSCORE(int, reviveTvkDevice, (unsigned));

// ---- acquisition settings ----

namespace {

// Getter of an int setting: TVK_ERR_PARAM for a null pointer.
template <class G>
int getInt(unsigned devIndex, int* out, G getter)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        if (!out)
            return static_cast<int>(TVK_ERR_PARAM);
        if (d.isRetired())
            return static_cast<int>(TVK_ERR_DEV_INDEX);
        *out = getter(d);
        return 0;
    });
}

} // namespace

int setPolarity(unsigned devIndex, int polarity)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setPolarity(polarity); });
}
TVK_EXPORT_UNDERSCORE(int, setPolarity, (unsigned, int));
int getPolarity(unsigned devIndex, int* polarity)
{
    return getInt(devIndex, polarity, [](TvkDevice& d) { return d.getPolarity(); });
}
TVK_EXPORT_UNDERSCORE(int, getPolarity, (unsigned, int*));

int setCST(unsigned devIndex, int cst)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setCST(cst); });
}
TVK_EXPORT_UNDERSCORE(int, setCST, (unsigned, int));
int getCST(unsigned devIndex, int* cst)
{
    return getInt(devIndex, cst, [](TvkDevice& d) { return d.getCST(); });
}
TVK_EXPORT_UNDERSCORE(int, getCST, (unsigned, int*));

int setAcqMode(unsigned devIndex, int mode)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setAcqMode(mode); });
}
TVK_EXPORT_UNDERSCORE(int, setAcqMode, (unsigned, int));
int getAcqMode(unsigned devIndex, int* mode)
{
    return getInt(devIndex, mode, [](TvkDevice& d) { return d.getAcqMode(); });
}
TVK_EXPORT_UNDERSCORE(int, getAcqMode, (unsigned, int*));

int setHwTimer(unsigned devIndex, int mode)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setHwTimer(mode); });
}
TVK_EXPORT_UNDERSCORE(int, setHwTimer, (unsigned, int));
int getHwTimer(unsigned devIndex, int* mode)
{
    return getInt(devIndex, mode, [](TvkDevice& d) { return d.getHwTimer(); });
}
TVK_EXPORT_UNDERSCORE(int, getHwTimer, (unsigned, int*));

int setAcqSpacing(unsigned devIndex, int spacing)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setAcqSpacing(spacing); });
}
TVK_EXPORT_UNDERSCORE(int, setAcqSpacing, (unsigned, int));
int getAcqSpacing(unsigned devIndex, int* spacing)
{
    return getInt(devIndex, spacing, [](TvkDevice& d) { return d.getAcqSpacing(); });
}
TVK_EXPORT_UNDERSCORE(int, getAcqSpacing, (unsigned, int*));

int setAutoConvToSM(unsigned devIndex, int on)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setAutoConvToSM(on); });
}
TVK_EXPORT_UNDERSCORE(int, setAutoConvToSM, (unsigned, int));
int getAutoConvToSM(unsigned devIndex, int* on)
{
    return getInt(devIndex, on, [](TvkDevice& d) { return d.getAutoConvToSM(); });
}
TVK_EXPORT_UNDERSCORE(int, getAutoConvToSM, (unsigned, int*));

// ---- acquisitions ----

int performFrameAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.performFrameAcq(frameCount, acqTime, fileFlags, fileName); });
}
TVK_EXPORT_UNDERSCORE(int, performFrameAcq, (unsigned, int, double, uint32_t, const char*));

int performIntegralAcq(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags, const char* fileName)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.performIntegralAcq(frameCount, acqTime, fileFlags, fileName);
    });
}
TVK_EXPORT_UNDERSCORE(int, performIntegralAcq, (unsigned, int, double, uint32_t, const char*));

int performTestPulseAcq(unsigned devIndex, double height, double period, uint32_t pulseCount, uint32_t columnMask)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.performTestPulseAcq(height, period, pulseCount, columnMask);
    });
}
TVK_EXPORT_UNDERSCORE(int, performTestPulseAcq, (unsigned, double, double, uint32_t, uint32_t));

int performDigitalTest(unsigned devIndex, int* goodPixels, uint32_t* frameId, int keepAsLastAcq, double waitTime)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.performDigitalTest(goodPixels, frameId, keepAsLastAcq != 0, waitTime);
    });
}
TVK_EXPORT_UNDERSCORE(int, performDigitalTest, (unsigned, int*, uint32_t*, int, double));

// Without the device lock: the running acquisition sees the flag at its next check.
int abortOperation(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        d.abort();
        return 0;
    });
}
TVK_EXPORT_UNDERSCORE(int, abortOperation, (unsigned));

int closeFrames(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.closeFrames(); });
}
TVK_EXPORT_UNDERSCORE(int, closeFrames, (unsigned));

// ---- frames of the last acquisition ----

int getFrame16(unsigned devIndex, int16_t* buffer, uint32_t sizePixels, int frameIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getFrameData(buffer, sizePixels, frameIndex, TYPE_I16); });
}
TVK_EXPORT_UNDERSCORE(int, getFrame16, (unsigned, int16_t*, uint32_t, int));

int getFrame32(unsigned devIndex, uint32_t* buffer, uint32_t sizePixels, int frameIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getFrameData(buffer, sizePixels, frameIndex, TYPE_U32); });
}
TVK_EXPORT_UNDERSCORE(int, getFrame32, (unsigned, uint32_t*, uint32_t, int));

int getFrameDouble(unsigned devIndex, double* buffer, uint32_t sizePixels, int frameIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.getFrameData(buffer, sizePixels, frameIndex, TYPE_DOUBLE);
    });
}
TVK_EXPORT_UNDERSCORE(int, getFrameDouble, (unsigned, double*, uint32_t, int));

int saveFrame(unsigned devIndex, const char* fileName, int frameIndex, uint32_t fileFlags)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.saveFrame(fileName, frameIndex, fileFlags); });
}
TVK_EXPORT_UNDERSCORE(int, saveFrame, (unsigned, const char*, int, uint32_t));

int getFrameAttrib(unsigned devIndex, int frameIndex, const char* name, void* data, uint32_t* size, int* type)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getFrameAttrib(frameIndex, name, data, size, type); });
}
TVK_EXPORT_UNDERSCORE(int, getFrameAttrib, (unsigned, int, const char*, void*, uint32_t*, int*));

int getFrameID(unsigned devIndex, int frameIndex, uint32_t* frameId)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getFrameID(frameIndex, frameId); });
}
TVK_EXPORT_UNDERSCORE(int, getFrameID, (unsigned, int, uint32_t*));

int getAcqInfo(unsigned devIndex, int* frameIndex, int* frameCount, int* kind, int* framesDone)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getAcqInfo(frameIndex, frameCount, kind, framesDone); });
}
TVK_EXPORT_UNDERSCORE(int, getAcqInfo, (unsigned, int*, int*, int*, int*));

// ---- super-matrix conversions ----

int convToSuperMatrix(unsigned devIndex, const void* chips, void* matrix, uint32_t sizeBytes, int type)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.convToSuperMatrix(chips, matrix, sizeBytes, type); });
}
TVK_EXPORT_UNDERSCORE(int, convToSuperMatrix, (unsigned, const void*, void*, uint32_t, int));

int convFromSuperMatrix(unsigned devIndex, const void* matrix, void* chips, uint32_t sizeBytes, int type)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.convFromSuperMatrix(matrix, chips, sizeBytes, type); });
}
TVK_EXPORT_UNDERSCORE(int, convFromSuperMatrix, (unsigned, const void*, void*, uint32_t, int));

int setSuperMatrixPixCfg(unsigned devIndex, const uint8_t* cfg, uint32_t size)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setSuperMatrixPixCfg(cfg, size); });
}
TVK_EXPORT_UNDERSCORE(int, setSuperMatrixPixCfg, (unsigned, const uint8_t*, uint32_t));

int getSuperMatrixPixCfg(unsigned devIndex, uint8_t* cfg, uint32_t size)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getSuperMatrixPixCfg(cfg, size); });
}
TVK_EXPORT_UNDERSCORE(int, getSuperMatrixPixCfg, (unsigned, uint8_t*, uint32_t));

// ---- DACs ----

int setDACsDefault(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setDACsDefault(); });
}
TVK_EXPORT_UNDERSCORE(int, setDACsDefault, (unsigned));

int setDACs(unsigned devIndex, const uint16_t* dacs, int size, int chip, int refChip, int refFlags)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setDACs(dacs, size, chip, refChip, refFlags); });
}
TVK_EXPORT_UNDERSCORE(int, setDACs, (unsigned, const uint16_t*, int, int, int, int));

int getDACs(unsigned devIndex, uint16_t* dacs, int size, int chip)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getDACs(dacs, size, chip); });
}
TVK_EXPORT_UNDERSCORE(int, getDACs, (unsigned, uint16_t*, int, int));

int getSingleDACAnalog(unsigned devIndex, double* values, int size, int dacIndex, int chip, int samples)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.getSingleDACAnalog(values, size, dacIndex, chip, samples);
    });
}
TVK_EXPORT_UNDERSCORE(int, getSingleDACAnalog, (unsigned, double*, int, int, int, int));

int getDACsAnalog(unsigned devIndex, double* values, int size, int chip)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getDACsAnalog(values, size, chip); });
}
TVK_EXPORT_UNDERSCORE(int, getDACsAnalog, (unsigned, double*, int, int));

int refreshDACs(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.refreshDACs(); });
}
TVK_EXPORT_UNDERSCORE(int, refreshDACs, (unsigned));

int getDACsNames(unsigned devIndex, const char*** names, const int** bitWidths, int* dacCount)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getDACsNames(names, bitWidths, dacCount); });
}
TVK_EXPORT_UNDERSCORE(int, getDACsNames, (unsigned, const char***, const int**, int*));

int setDACRefCoef(unsigned devIndex, double* coefs, int size, int set)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setDACRefCoef(coefs, size, set); });
}
TVK_EXPORT_UNDERSCORE(int, setDACRefCoef, (unsigned, double*, int, int));

int getDACRefCoef(unsigned devIndex, double* coefs, int size, int set)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getDACRefCoef(coefs, size, set); });
}
TVK_EXPORT_UNDERSCORE(int, getDACRefCoef, (unsigned, double*, int, int));

int setExtDAC(unsigned devIndex, int dacIndex, double value)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setExtDAC(dacIndex, value); });
}
TVK_EXPORT_UNDERSCORE(int, setExtDAC, (unsigned, int, double));

int getExtDAC(unsigned devIndex, int* dacIndex, double* value)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getExtDAC(dacIndex, value); });
}
TVK_EXPORT_UNDERSCORE(int, getExtDAC, (unsigned, int*, double*));

// ---- pixel configuration ----

int setPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setPixelsCfg(cfg, size, chip); });
}
TVK_EXPORT_UNDERSCORE(int, setPixelsCfg, (unsigned, uint8_t*, uint32_t, int));

int getPixelsCfg(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getPixelsCfg(cfg, size, chip); });
}
TVK_EXPORT_UNDERSCORE(int, getPixelsCfg, (unsigned, uint8_t*, uint32_t, int));

int resetPixelsCfg(unsigned devIndex, int chip)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.resetPixelsCfg(chip); });
}
TVK_EXPORT_UNDERSCORE(int, resetPixelsCfg, (unsigned, int));

int refreshPixelsCfg(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.refreshPixelsCfg(); });
}
TVK_EXPORT_UNDERSCORE(int, refreshPixelsCfg, (unsigned));

int loadPixelsCfg(unsigned devIndex, const char* fileName, int withDacs)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.loadPixelsCfg(fileName, withDacs != 0); });
}
TVK_EXPORT_UNDERSCORE(int, loadPixelsCfg, (unsigned, const char*, int));

int savePixelsCfg(unsigned devIndex, const char* fileName, int withDacs)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.savePixelsCfg(fileName, withDacs != 0); });
}
TVK_EXPORT_UNDERSCORE(int, savePixelsCfg, (unsigned, const char*, int));

int loadPixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile,
                       const char* fourthFile, int withDacs)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.loadPixelsCfgAscii(maskFile, testFile, thlAdjFile, fourthFile, withDacs != 0);
    });
}
TVK_EXPORT_UNDERSCORE(int, loadPixelsCfgAscii, (unsigned, const char*, const char*, const char*, const char*, int));

int savePixelsCfgAscii(unsigned devIndex, const char* maskFile, const char* testFile, const char* thlAdjFile,
                       const char* fourthFile, int withDacs)
{
    return withDevice(devIndex, [&](TvkDevice& d) {
        return d.savePixelsCfgAscii(maskFile, testFile, thlAdjFile, fourthFile, withDacs != 0);
    });
}
TVK_EXPORT_UNDERSCORE(int, savePixelsCfgAscii, (unsigned, const char*, const char*, const char*, const char*, int));

// ---- configuration files and hardware-specific items ----

int loadTvkCfg(unsigned devIndex, const char* fileName)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.loadConfig(fileName); });
}
TVK_EXPORT_UNDERSCORE(int, loadTvkCfg, (unsigned, const char*));

int saveTvkCfg(unsigned devIndex, const char* fileName)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.saveConfig(fileName); });
}
TVK_EXPORT_UNDERSCORE(int, saveTvkCfg, (unsigned, const char*));

int saveTvkCfgAsDefault(unsigned devIndex)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.saveConfigAsDefault(); });
}
TVK_EXPORT_UNDERSCORE(int, saveTvkCfgAsDefault, (unsigned));

int getHwInfoCount(unsigned devIndex, int* count)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getHwInfoCount(count); });
}
TVK_EXPORT_UNDERSCORE(int, getHwInfoCount, (unsigned, int*));

int getHwInfoItem(unsigned devIndex, int index, HwInfoItem* item, int* dataSize)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.getHwInfoItem(index, item, dataSize); });
}
TVK_EXPORT_UNDERSCORE(int, getHwInfoItem, (unsigned, int, HwInfoItem*, int*));

int setHwInfoItem(unsigned devIndex, int index, const void* data, int dataSize)
{
    return withDevice(devIndex, [&](TvkDevice& d) { return d.setHwInfoItem(index, data, dataSize); });
}
TVK_EXPORT_UNDERSCORE(int, setHwInfoItem, (unsigned, int, const void*, int));
