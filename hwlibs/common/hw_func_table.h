// The function table of a hardware library, filled from its Library object: every entry looks the
// device up, holds its call lock and keeps exceptions inside the library (hw_library.h). A library
// writes only its device and its Library, then exports the table:
//
//   MyLibrary& library() { static MyLibrary instance; return instance; }
//   extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void) { return hwkit::funcTable<&library>(); }
#pragma once

#include "hw_library.h"
#include "tvk_hw.h"

namespace hwkit {

template <auto library>
struct FuncTableEntries {
    static int hwGetFirst(int* id) { return library().getFirst(id); }
    static int hwGetNext(int* id) { return library().getNext(id); }
    static int hwSetCb(HwCallback cb) { return library().setCallback(cb); }
    static int hwGetHwInfoCount() { return library().hwInfoCount(); }
    static const char* hwGetLastErrorGeneral() { return generalError(); }
    static const char* hwGetLastError(int id) { return library().lastError(id); }

    template <typename Op>
    static int on(int id, const char* function, Op op)
    {
        return library().call(id, function, op);
    }

    static int hwInit(int id)
    {
        return on(id, "hwInit", [](Device& d) { return d.init(); });
    }
    static int hwSetCbTag(int id, void* tag)
    {
        return on(id, "hwSetCbTag", [&](Device& d) { return d.setCbTag(tag); });
    }
    static int hwGetHwInfoFlags(int id, int index, uint32_t* flags)
    {
        return on(id, "hwGetHwInfoFlags", [&](Device& d) { return d.getHwInfoFlags(index, flags); });
    }
    static int hwGetHwInfo(int id, int index, HwInfoItem* item, int* dataSize)
    {
        return on(id, "hwGetHwInfo", [&](Device& d) { return d.getHwInfo(index, item, dataSize); });
    }
    static int hwSetHwInfo(int id, int index, const void* data, int dataSize)
    {
        return on(id, "hwSetHwInfo", [&](Device& d) { return d.setHwInfo(index, data, dataSize); });
    }
    static int hwGetDevInfo(int id, _DevInfo* info)
    {
        return on(id, "hwGetDevInfo", [&](Device& d) { return d.getDevInfo(info); });
    }
    static int hwGetAcqTime(int id, double* time)
    {
        return on(id, "hwGetAcqTime", [&](Device& d) { return d.getAcqTime(time); });
    }
    static int hwSetAcqPars(int id, const _AcqPars* pars)
    {
        return on(id, "hwSetAcqPars", [&](Device& d) { return d.setAcqPars(pars); });
    }
    static int hwStartAcquisition(int id)
    {
        return on(id, "hwStartAcquisition", [](Device& d) { return d.startAcquisition(); });
    }
    static int hwStopAcquisition(int id)
    {
        return on(id, "hwStopAcquisition", [](Device& d) { return d.stopAcquisition(); });
    }
    static int hwTestPulses(int id, double height, double period, uint32_t count)
    {
        return on(id, "hwTestPulses", [&](Device& d) { return d.testPulses(height, period, count); });
    }
    static int hwSetTvkDACs(int id, const uint16_t* dacs, int dacCount, int senseOn, int extDacOn,
                            const int* dacCodes, uint32_t testPulseColumns)
    {
        return on(id, "hwSetTvkDACs", [&](Device& d) {
            return d.setTvkDacs(dacs, dacCount, senseOn, extDacOn, dacCodes, testPulseColumns);
        });
    }
    static int hwGetTvkDacVal(int id, int chip, double* value)
    {
        return on(id, "hwGetTvkDacVal", [&](Device& d) { return d.getTvkDacVal(chip, value); });
    }
    static int hwSetExtDac(int id, double value)
    {
        return on(id, "hwSetExtDac", [&](Device& d) { return d.setExtDac(value); });
    }
    static int hwSetPixelsCfg(int id, const uint8_t* cfg, uint32_t size)
    {
        return on(id, "hwSetPixelsCfg", [&](Device& d) { return d.setPixelsCfg(cfg, size); });
    }
    static int hwResetMatrix(int id)
    {
        return on(id, "hwResetMatrix", [](Device& d) { return d.resetMatrix(); });
    }
    static int hwReadMatrix(int id, uint16_t* buffer, uint32_t count)
    {
        return on(id, "hwReadMatrix", [&](Device& d) { return d.readMatrix(buffer, count); });
    }
    static int hwWriteMatrix(int id, const uint16_t* buffer, uint32_t count)
    {
        return on(id, "hwWriteMatrix", [&](Device& d) { return d.writeMatrix(buffer, count); });
    }
    static int hwGeneralReset(int id)
    {
        return on(id, "hwGeneralReset", [](Device& d) { return d.generalReset(); });
    }
    static int hwCheckBusy(int id, int* busy)
    {
        return on(id, "hwCheckBusy", [&](Device& d) { return d.checkBusy(busy); });
    }
    static int hwCloseDevice(int id)
    {
        return on(id, "hwCloseDevice", [](Device& d) { return d.closeDevice(); });
    }
};

// The complete table of the library that library() returns; it stays valid while the module is loaded.
template <auto library>
_HwFuncTable* funcTable()
{
    using E = FuncTableEntries<library>;
    static _HwFuncTable table = {
        sizeof(_HwFuncTable), E::hwGetFirst, E::hwGetNext, E::hwInit, E::hwSetCb, E::hwSetCbTag,
        E::hwGetHwInfoCount, E::hwGetHwInfoFlags, E::hwGetHwInfo, E::hwSetHwInfo, E::hwGetDevInfo,
        E::hwGetAcqTime, E::hwSetAcqPars, E::hwStartAcquisition, E::hwStopAcquisition, E::hwTestPulses,
        E::hwSetTvkDACs, E::hwGetTvkDacVal, E::hwSetExtDac, E::hwSetPixelsCfg, E::hwResetMatrix,
        E::hwReadMatrix, E::hwWriteMatrix, E::hwGeneralReset, E::hwGetLastErrorGeneral, E::hwGetLastError,
        E::hwCheckBusy, E::hwCloseDevice,
    };
    return &table;
}

} // namespace hwkit
