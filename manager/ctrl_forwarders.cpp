#include "ctrl_forwarders.h"

#include <type_traits>

#include "ctrl/tvk_ctrl.h"

// TVK_FORWARD(entry, target, parameter types...) defines the table entry `entry` as a call of the
// device-control function `target` with the same arguments, returning its result unchanged; the entry
// must have exactly the type of the function it forwards to. TVK_FORWARD_EXPORT also exports `_entry`.
#define TVK_FORWARD(entry, target, ...)                                                                     \
    int entry(TVK_FORWARD_PARAMS(__VA_ARGS__)) { return target(TVK_FORWARD_ARGS(__VA_ARGS__)); }          \
    static_assert(std::is_same_v<decltype(&target), decltype(_MgrFuncTable::entry)>, #entry " type")
#define TVK_FORWARD_EXPORT(entry, target, ...)                                                              \
    TVK_FORWARD(entry, target, __VA_ARGS__);                                                               \
    TVK_EXPORT_UNDERSCORE(int, entry, (TVK_FORWARD_PARAMS(__VA_ARGS__)))

// Parameter list and argument list for 0 to 6 parameter types, the parameters named a, b, c, ...
#define TVK_FORWARD_PICK(_1, _2, _3, _4, _5, _6, name, ...) name
#define TVK_FORWARD_PARAMS(...)                                                                             \
    TVK_FORWARD_PICK(__VA_ARGS__ __VA_OPT__(, ) TVK_P6, TVK_P5, TVK_P4, TVK_P3, TVK_P2, TVK_P1, TVK_P0)(__VA_ARGS__)
#define TVK_FORWARD_ARGS(...)                                                                               \
    TVK_FORWARD_PICK(__VA_ARGS__ __VA_OPT__(, ) TVK_A6, TVK_A5, TVK_A4, TVK_A3, TVK_A2, TVK_A1, TVK_A0)(__VA_ARGS__)
#define TVK_P0() void
#define TVK_P1(A) A a
#define TVK_P2(A, B) A a, B b
#define TVK_P3(A, B, C) A a, B b, C c
#define TVK_P4(A, B, C, D) A a, B b, C c, D d
#define TVK_P5(A, B, C, D, E) A a, B b, C c, D d, E e
#define TVK_P6(A, B, C, D, E, F) A a, B b, C c, D d, E e, F f
#define TVK_A0()
#define TVK_A1(A) a
#define TVK_A2(A, B) a, b
#define TVK_A3(A, B, C) a, b, c
#define TVK_A4(A, B, C, D) a, b, c, d
#define TVK_A5(A, B, C, D, E) a, b, c, d, e
#define TVK_A6(A, B, C, D, E, F) a, b, c, d, e, f

TVK_FORWARD_EXPORT(tvkCtrlInitialize, initTvkCtrl);
TVK_FORWARD_EXPORT(tvkCtrlGetFirstTvk, getFirstTvk, unsigned*, int*);
TVK_FORWARD_EXPORT(tvkCtrlGetNextTvk, getNextTvk, unsigned*);
TVK_FORWARD_EXPORT(tvkCtrlFindNewTvks, findNewTvks);
TVK_FORWARD_EXPORT(tvkCtrlReconnectTvk, reconnectTvk, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlGetHwInfoCount, getHwInfoCount, unsigned, int*);
TVK_FORWARD_EXPORT(tvkCtrlGetHwInfoItem, getHwInfoItem, unsigned, int, HwInfoItem*, int*);
TVK_FORWARD_EXPORT(tvkCtrlSetHwInfoItem, setHwInfoItem, unsigned, int, const void*, int);
TVK_FORWARD_EXPORT(tvkCtrlTryLockDevice, tryLockDevice, unsigned, int*, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlReleaseDevice, releaseDevice, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlGetLockOwnerID, getLockOwnerID, unsigned, uint32_t*);
TVK_FORWARD_EXPORT(tvkCtrlReviveTvkDevice, reviveTvkDevice, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlInitTvkDevice, initTvkDevice, unsigned, const char*);
TVK_FORWARD_EXPORT(tvkCtrlSaveTvkCfg, saveTvkCfg, unsigned, const char*);
TVK_FORWARD_EXPORT(tvkCtrlLoadTvkCfg, loadTvkCfg, unsigned, const char*);
TVK_FORWARD_EXPORT(tvkCtrlSaveTvkCfgAsDefault, saveTvkCfgAsDefault, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlSetPolarity, setPolarity, unsigned, int);
TVK_FORWARD_EXPORT(tvkCtrlGetPolarity, getPolarity, unsigned, int*);
TVK_FORWARD_EXPORT(tvkCtrlSetCST, setCST, unsigned, int);
TVK_FORWARD_EXPORT(tvkCtrlGetCST, getCST, unsigned, int*);
TVK_FORWARD_EXPORT(tvkCtrlSetAcqMode, setAcqMode, unsigned, int);
TVK_FORWARD_EXPORT(tvkCtrlGetAcqMode, getAcqMode, unsigned, int*);
TVK_FORWARD_EXPORT(tvkCtrlSetHwTimer, setHwTimer, unsigned, int);
TVK_FORWARD_EXPORT(tvkCtrlGetHwTimer, getHwTimer, unsigned, int*);
TVK_FORWARD_EXPORT(tvkCtrlSetDACsDefault, setDACsDefault, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlSetDACs, setDACs, unsigned, const uint16_t*, int, int, int, int);
TVK_FORWARD_EXPORT(tvkCtrlGetDACs, getDACs, unsigned, uint16_t*, int, int);
TVK_FORWARD_EXPORT(tvkCtrlGetSingleDACAnalog, getSingleDACAnalog, unsigned, double*, int, int, int, int);
TVK_FORWARD_EXPORT(tvkCtrlGetDACsAnalog, getDACsAnalog, unsigned, double*, int, int);
TVK_FORWARD_EXPORT(tvkCtrlRefreshDACs, refreshDACs, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlGetDACsNames, getDACsNames, unsigned, const char***, const int**, int*);
TVK_FORWARD_EXPORT(tvkCtrlSetDACRefCoef, setDACRefCoef, unsigned, double*, int, int);
TVK_FORWARD_EXPORT(tvkCtrlGetDACRefCoef, getDACRefCoef, unsigned, double*, int, int);
TVK_FORWARD_EXPORT(tvkCtrlSetExtDAC, setExtDAC, unsigned, int, double);
TVK_FORWARD_EXPORT(tvkCtrlGetExtDAC, getExtDAC, unsigned, int*, double*);
TVK_FORWARD_EXPORT(tvkCtrlSetPixelsCfg, setPixelsCfg, unsigned, uint8_t*, uint32_t, int);
TVK_FORWARD_EXPORT(tvkCtrlGetPixelsCfg, getPixelsCfg, unsigned, uint8_t*, uint32_t, int);
TVK_FORWARD_EXPORT(tvkCtrlResetPixelsCfg, resetPixelsCfg, unsigned, int);
TVK_FORWARD_EXPORT(tvkCtrlSetSuperMatrixPixCfg, setSuperMatrixPixCfg, unsigned, const uint8_t*, uint32_t);
TVK_FORWARD_EXPORT(tvkCtrlGetSuperMatrixPixCfg, getSuperMatrixPixCfg, unsigned, uint8_t*, uint32_t);
TVK_FORWARD_EXPORT(tvkCtrlRefreshPixelsCfg, refreshPixelsCfg, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlSetAcqSpacing, setAcqSpacing, unsigned, int);
TVK_FORWARD_EXPORT(tvkCtrlGetAcqSpacing, getAcqSpacing, unsigned, int*);
TVK_FORWARD_EXPORT(tvkCtrlSetAutoConvToSM, setAutoConvToSM, unsigned, int);
TVK_FORWARD_EXPORT(tvkCtrlGetAutoConvToSM, getAutoConvToSM, unsigned, int*);
TVK_FORWARD_EXPORT(tvkCtrlConvToSuperMatrix, convToSuperMatrix, unsigned, const void*, void*, uint32_t, int);
TVK_FORWARD_EXPORT(tvkCtrlConvFromSuperMatrix, convFromSuperMatrix, unsigned, const void*, void*, uint32_t, int);
TVK_FORWARD_EXPORT(tvkCtrlLoadPixelsCfg, loadPixelsCfg, unsigned, const char*, int);
TVK_FORWARD_EXPORT(tvkCtrlSavePixelsCfg, savePixelsCfg, unsigned, const char*, int);
TVK_FORWARD_EXPORT(tvkCtrlLoadPixelsCfgAscii, loadPixelsCfgAscii,
                   unsigned, const char*, const char*, const char*, const char*, int);
TVK_FORWARD_EXPORT(tvkCtrlSavePixelsCfgAscii, savePixelsCfgAscii,
                   unsigned, const char*, const char*, const char*, const char*, int);
TVK_FORWARD_EXPORT(tvkCtrlPerformIntegralAcq, performIntegralAcq, unsigned, int, double, uint32_t, const char*);
TVK_FORWARD_EXPORT(tvkCtrlPerformFrameAcq, performFrameAcq, unsigned, int, double, uint32_t, const char*);
TVK_FORWARD_EXPORT(tvkCtrlPerformTestPulseAcq, performTestPulseAcq, unsigned, double, double, uint32_t, uint32_t);
TVK_FORWARD_EXPORT(tvkCtrlPerformDigitalTest, performDigitalTest, unsigned, int*, uint32_t*, int, double);
TVK_FORWARD_EXPORT(tvkCtrlAbortOperation, abortOperation, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlCloseFrames, closeFrames, unsigned);
TVK_FORWARD_EXPORT(tvkCtrlGetFrame16, getFrame16, unsigned, int16_t*, uint32_t, int);
TVK_FORWARD_EXPORT(tvkCtrlGetFrame32, getFrame32, unsigned, uint32_t*, uint32_t, int);
TVK_FORWARD_EXPORT(tvkCtrlGetFrameDouble, getFrameDouble, unsigned, double*, uint32_t, int);
TVK_FORWARD_EXPORT(tvkCtrlSaveFrame, saveFrame, unsigned, const char*, int, uint32_t);
TVK_FORWARD_EXPORT(tvkCtrlGetFrameAttrib, getFrameAttrib, unsigned, int, const char*, void*, uint32_t*, int*);
TVK_FORWARD(tvkCtrlGetFrameID, getFrameID, unsigned, int, uint32_t*);
TVK_FORWARD_EXPORT(tvkCtrlGetDevInfo, getDevInfo, unsigned, _DevInfo*);
TVK_FORWARD_EXPORT(tvkCtrlGetTarvikInfo, getTarvikInfo, unsigned, int*, int*, char*, char*);
TVK_FORWARD_EXPORT(tvkCtrlGetAcqInfo, getAcqInfo, unsigned, int*, int*, int*, int*);
TVK_FORWARD_EXPORT(tvkCtrlGetInfoMsg, getInfoMsg, int, int*, const char**);
