// The records that plug-ins and the manager exchange: registered functions and filters, events,
// frame-attribute templates, filter chains and queued log entries, with the calling convention of
// registered functions, and the manager's function table. A plug-in needs this header (with tvk_types.h,
// tvk_hw.h and tvk_frame.h) only. Usable from C and C++.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tvk_frame.h"
#include "tvk_hw.h"
#include "tvk_types.h"

#ifdef __cplusplus
extern "C" {
#define TVK_MGR_ASSERT_SIZE(type, size) static_assert(sizeof(type) == (size), #type " layout")
#define TVK_MGR_ASSERT_OFFSET(type, field, off) static_assert(offsetof(type, field) == (off), #type " layout")
#else
#define TVK_MGR_ASSERT_SIZE(type, size) _Static_assert(sizeof(type) == (size), #type " layout")
#define TVK_MGR_ASSERT_OFFSET(type, field, off) _Static_assert(offsetof(type, field) == (off), #type " layout")
#endif

// Fixed text sizes of the records and of caller buffers, terminating zero included.
enum _MgrTextSizes {
    MGR_NAME_SIZE = 32,       // plug-in, function, event, chain, attribute and instance names
    MGR_DESC_SIZE = 128,      // descriptions and parameter names
    MGR_MENU_NAME_SIZE = 256, // menu paths and menu item names
    MGR_PATH_SIZE = 512       // folder paths
};

enum { FUNC_MAX_PARAMS = 8 };

// Ids of 100000000 and above name filter instances; smaller ids name functions.
#define FILTER_INSTANCE_ID_FIRST 100000000u
// Every filter with instances has its default instance under this id, inside the filter.
#define FILTER_DEFAULT_INSTANCE_ID 1u
#define FILTER_DEFAULT_INSTANCE_NAME "Default instance"

// Result codes of the manager's registries (see also tvk_types.h).
enum _MgrCodes {
    MGR_ERR_NO_PLUGIN = -300,     // plug-in not registered
    MGR_ERR_FUNC_EXISTS = -301,   // function (or menu item) already registered
    MGR_ERR_NO_FUNC = -302,       // function not registered
    MGR_ERR_NO_MENU_ITEM = -304,  // menu item does not exist
    MGR_ERR_EVENT_EXISTS = -305,  // event already registered
    MGR_ERR_NO_EVENT = -306,      // event not registered
    MGR_ERR_TEMPL_EXISTS = -307,  // frame-attribute template already registered
    MGR_ERR_NO_TEMPL = -308,      // frame-attribute template not registered
    MGR_ERR_CHAIN_EXISTS = -309,  // filter chain name taken by that plug-in
    MGR_ERR_NO_CHAIN = -310,      // filter chain id not registered
    MGR_ERR_INST_EXISTS = -311    // filter instance name taken in that filter
};

// Bits of the flags argument of mgrLogMsg.
enum _MgrLogFlags {
    MGRLOG_SYSERROR = 1, // append the calling thread's last system error text
    MGRLOG_MSGBOX = 2,   // show a warning message box with the message
    MGRLOG_MSGWINDOW = 4 // also show the message in a message window
};

// One queued log entry, read in place by the log window.
typedef struct LogItem {
    double time;          // seconds since 1970-01-01 00:00 UTC with a fraction
    char timeText[64];    // e.g. "Wed Dec 09 08:44:41.0123 2026"
    char source[32];      // the caller's source name, at most 31 characters
    char message[1024];   // the formatted message, cut to fit
} LogItem;
TVK_MGR_ASSERT_SIZE(LogItem, 1128);
TVK_MGR_ASSERT_OFFSET(LogItem, message, 104);

// ---- registered functions ----
//
// Calling convention of every registered function (and filter):
//   int callback(void* userData, const _FuncSlot* in, void* const* out)
// in:  one 8-byte slot per input, in the order of the function's input descriptions. A number of one
//      element travels by value: integer types (bool, char, uchar, byte, i16, u16, i32, u32) sign- or
//      zero-extended in .i / .u, float and double as a double in .d. Texts, arrays (count other than 1)
//      and callbacks travel as pointers in .p.
// out: one 8-byte pointer per output, each to the caller's buffer for that output (count elements of
//      the output's type). May be null when the function has no outputs.
// The result is 0 on success. A filter is called with in = {frame id in .u, instance handle in .p
// (null for a filter without instances)} and out = null.
typedef union _FuncSlot {
    int64_t i;
    uint64_t u;
    double d;
    void* p;
} _FuncSlot;
TVK_MGR_ASSERT_SIZE(_FuncSlot, 8);

static inline _FuncSlot tvkSlotInt(int64_t value) { _FuncSlot s; s.i = value; return s; }
static inline _FuncSlot tvkSlotUint(uint64_t value) { _FuncSlot s; s.u = value; return s; }
static inline _FuncSlot tvkSlotDouble(double value) { _FuncSlot s; s.d = value; return s; }
static inline _FuncSlot tvkSlotPtr(const void* value) { _FuncSlot s; s.p = (void*)value; return s; }

typedef int (*FuncItemCallback)(void* userData, const _FuncSlot* in, void* const* out);

// Bits of _FuncItem::flags.
enum _FuncFlags {
    FUNC_FILTER = 0x1,          // a filter: usable in filter chains
    FUNC_FILTER_INSTANCES = 0x2 // a filter with instances: userData points to _FilterInstCallbacks
};

// One parameter slot of a function.
typedef struct _FuncParam {
    uint32_t type;  // _Data_Types code of the elements
    int32_t count;  // number of elements; -1 = variable
    char name[128]; // name or short description
} _FuncParam;
TVK_MGR_ASSERT_SIZE(_FuncParam, 136);

// A function or filter offered by a plug-in (in: registration; out: descriptions of registered ones).
typedef struct _FuncItem {
    FuncItemCallback callback;
    uint32_t inCount;  // used entries of in (0..8)
    uint32_t outCount; // used entries of out (0..8)
    _FuncParam in[FUNC_MAX_PARAMS];
    _FuncParam out[FUNC_MAX_PARAMS];
    char plugin[32];       // the registering plug-in's name
    char function[32];     // the function's name
    char description[128];
    void* userData;        // first argument of callback; a filter with instances: its _FilterInstCallbacks
    uint32_t flags;        // _FuncFlags
    int32_t id;            // written by the registration; filled on output
} _FuncItem;
TVK_MGR_ASSERT_SIZE(_FuncItem, 2400);
TVK_MGR_ASSERT_OFFSET(_FuncItem, in, 16);
TVK_MGR_ASSERT_OFFSET(_FuncItem, out, 1104);
TVK_MGR_ASSERT_OFFSET(_FuncItem, plugin, 2192);
TVK_MGR_ASSERT_OFFSET(_FuncItem, userData, 2384);
TVK_MGR_ASSERT_OFFSET(_FuncItem, id, 2396);

// ---- menu items and events ----

typedef void (*MenuItemCallback)(void* userData);

// An event subscriber. The argument may carry an address (valid only during the call).
typedef void (*EventCallback)(intptr_t arg);

// An event that a plug-in fires (in: registration; out: descriptions of registered ones).
typedef struct _EventDesc {
    char plugin[32];
    char name[32];
    char description[128];
} _EventDesc;
TVK_MGR_ASSERT_SIZE(_EventDesc, 192);

// ---- frame-attribute templates ----

// Fills buffer with the attribute's value for a new frame; *size holds the buffer's capacity on entry and
// the bytes of the value on return (a larger value is asked for again with a buffer of that size).
// 0 = success.
typedef int (*FrameAttribCallback)(uint32_t hint, void* buffer, uint32_t* size);

typedef struct _FrameAttribTempl {
    char plugin[32];
    char name[32];         // attribute name; templates are keyed by it
    char description[128];
    uint32_t type;         // _Data_Types code of the value
    uint32_t hint;         // handed to the callback as its first argument
    FrameAttribCallback callback;
} _FrameAttribTempl;
TVK_MGR_ASSERT_SIZE(_FrameAttribTempl, 208);
TVK_MGR_ASSERT_OFFSET(_FrameAttribTempl, callback, 200);

// ---- filters with instances and filter chains ----

// One filter parameter as the get callback describes it (the layout of HwInfoItem).
typedef struct _FilterParDesc {
    uint32_t type;           // _Data_Types code
    uint32_t count;          // number of elements
    uint32_t flags;
    const char* name;        // owned by the plug-in
    const char* description; // owned by the plug-in
    void* data;              // the caller's buffer for the value, or null
} _FilterParDesc;
TVK_MGR_ASSERT_SIZE(_FilterParDesc, 40);

typedef int (*FilterCreateCallback)(void* context, void** instance);
typedef int (*FilterDeleteCallback)(void* context, void* instance);
typedef int (*FilterSetCallback)(void* context, void* instance, int parIndex, const void* data, uint32_t size);
// parIndex -1 with a null desc reports the number of parameters in *size. Otherwise fills desc and,
// when desc->data is not null, copies the value there; *size holds the capacity of desc->data on entry
// and the bytes needed on return.
typedef int (*FilterGetCallback)(void* context, void* instance, int parIndex, _FilterParDesc* desc,
                                 uint32_t* size);

// What a filter with instances hands over as its _FuncItem::userData; copied at registration.
typedef struct _FilterInstCallbacks {
    void* runUserData;    // given to the filter's own callback when it runs
    void* createContext;
    void* deleteContext;
    void* setContext;
    void* getContext;
    FilterCreateCallback create; // 0 = success; the instance then owns *instance
    FilterDeleteCallback destroy; // the delete callback
    FilterSetCallback set;       // 0 = success
    FilterGetCallback get;       // 0 = success
} _FilterInstCallbacks;
TVK_MGR_ASSERT_SIZE(_FilterInstCallbacks, 72);

// A filter chain as the manager describes it. Buffers may be null; the counts then only report sizes.
typedef struct _FilterChainDesc {
    char plugin[32];     // owner of the chain
    char name[32];       // chain name
    uint32_t* memberIds; // caller's array for the member ids (instance id, or function id), or null
    uint32_t memberCount; // in: capacity of memberIds; out: number of members
    char* text;          // caller's buffer for the chain text, or null
    uint32_t textSize;   // in: capacity of text in bytes; out: length of the chain text + 1
} _FilterChainDesc;
TVK_MGR_ASSERT_SIZE(_FilterChainDesc, 96);

// ---- window messages ----

// A message of the loader's thread as the manager and the plug-ins' message handlers see it: the
// receiving object and the event (a QObject* and a QEvent* of the shell; the manager never looks inside).
typedef struct TvkMsg {
    void* receiver;
    void* event;
} TvkMsg;

// A plug-in message handler: non-zero consumes the message.
typedef int (*TvkMsgHandler)(TvkMsg* msg);

// ---- the manager's function table ----

#define MGR_INTERFACE_VERSION 17u
// Frame lock timeout without limit.
#define MGR_WAIT_INFINITE 4294967295u

// What InitTvkPlugin receives: the interface version, then 144 entries in a fixed order (slot n at byte
// offset 8 x n). A plug-in refuses a version other than MGR_INTERFACE_VERSION before it uses any slot.
typedef struct _MgrFuncTable {
    uint32_t version;
    // Slots 1-77: the manager.
    int (*mgrGetConfigsDir)(char* buf); // buf: MGR_PATH_SIZE characters
    int (*mgrLogMsg)(const char* source, const char* fmt, int flags, ...);
    int (*mgrLogShowWindow)(int show);
    int (*mgrManagedItemsShowWindow)(void);
    int (*mgrAddPlugin)(const char* path);
    int (*mgrAddMenuItem)(const char* plugin, const char* itemName, const char* menuPath, MenuItemCallback callback,
                          void* userData, int* outId, int flags);
    int (*mgrAddTvkMenuItem)(int devId, const char* plugin, const char* itemName, const char* subPath,
                             MenuItemCallback callback, void* userData, int* outId, int flags);
    int (*mgrRemoveMenuItem)(int itemId);
    int (*mgrGetTvkMenuPath)(int devId, char* buf); // buf: MGR_MENU_NAME_SIZE characters
    int (*mgrGetFirstMenuItem)(int* id, char* name); // name: MGR_MENU_NAME_SIZE characters
    int (*mgrGetNextMenuItem)(int* id, char* name);
    int (*mgrCallMenuItemByName)(const char* fullName);
    int (*mgrCallMenuItemByID)(int itemId);
    int (*mgrAddMsgHandler)(TvkMsgHandler handler);
    int (*mgrRemoveMsgHandler)(TvkMsgHandler handler);
    int (*mgrAddFuncItem)(_FuncItem* item);
    int (*mgrRemoveFuncItem)(const char* plugin, const char* funcName);
    int (*mgrGetRegFirstFunc)(int* id, _FuncItem* out);
    int (*mgrGetRegNextFunc)(int* id, _FuncItem* out);
    int (*mgrGetFuncItemID)(int funcId, _FuncItem* out);
    int (*mgrGetFuncItem)(const char* plugin, const char* funcName, _FuncItem* out);
    int (*mgrCallFuncItem)(const char* plugin, const char* funcName, const _FuncSlot* in, void* const* out);
    int (*mgrAddCBEvent)(const _EventDesc* desc, int* outId);
    int (*mgrRemoveCBEvent)(const char* plugin, const char* eventName);
    int (*mgrGetRegFirstCBEvent)(int* id, _EventDesc* out);
    int (*mgrGetRegNextCBEvent)(int* id, _EventDesc* out);
    int (*mgrSetCBEvent)(int eventId, intptr_t arg);
    int (*mgrRegisterCallback)(const char* plugin, const char* eventName, EventCallback callback);
    int (*mgrUnregisterCallback)(const char* plugin, const char* eventName, EventCallback callback);
    int (*mgrAddFrameAttribTempl)(const _FrameAttribTempl* templ);
    int (*mgrRemoveFrameAttribTempl)(const char* attribName);
    int (*mgrCreateFilterChain)(const char* plugin, const char* chainName, int* outId);
    int (*mgrRemoveFilterChain)(int chainId);
    int (*mgrAddToFilterChain)(int chainId, int filterOrInstanceId, int position);
    int (*mgrRemoveFromFilterChain)(int chainId, int index);
    int (*mgrGetFilteredFrame)(int chainId, uint32_t frameId, uint32_t* outFrameId);
    int (*mgrGetFirstFilterChain)(int* id, _FilterChainDesc* out);
    int (*mgrGetNextFilterChain)(int* id, _FilterChainDesc* out);
    int (*mgrGetFilterChainInfo)(int chainId, _FilterChainDesc* out);
    int (*mgrCreateFilterInst)(int funcId, const char* instName, int* outInstId);
    int (*mgrDeleteFilterInst)(int instId);
    int (*mgrGetFirstFilterInst)(int funcId, int* instId, char* name); // name: MGR_NAME_SIZE characters
    int (*mgrGetNextFilterInst)(int funcId, int* instId, char* name);
    int (*mgrSetFilterPar)(int id, int parIndex, const void* data, uint32_t size);
    int (*mgrGetFilterPar)(int id, int parIndex, _FilterParDesc* desc, uint32_t* size);
    int (*mgrCreateFrame)(uint32_t* outId, uint32_t width, uint32_t height, int type, const char* creator);
    int (*mgrLoadFrame)(uint32_t* outId, const char* fileName);
    int (*mgrSaveFrame)(uint32_t frameId, const char* fileName, uint32_t flags);
    int (*mgrDuplicateFrame)(uint32_t frameId, uint32_t* outId);
    int (*mgrGetFirstFrame)(uint32_t* id);
    int (*mgrGetNextFrame)(uint32_t* id);
    int (*mgrOpenFrame)(uint32_t frameId, uint32_t* refCount);
    int (*mgrCloseFrame)(uint32_t frameId, uint32_t* refCount);
    int (*mgrLockFrame)(uint32_t frameId, uint32_t timeoutMs); // MGR_WAIT_INFINITE: no limit
    int (*mgrUnlockFrame)(uint32_t frameId);
    int (*mgrGetFrameType)(uint32_t frameId, int* type);
    int (*mgrSetFrameType)(uint32_t frameId, int type);
    int (*mgrGetFrameSize)(uint32_t frameId, uint32_t* width, uint32_t* height);
    int (*mgrSetFrameSize)(uint32_t frameId, uint32_t width, uint32_t height);
    int (*mgrSetFrameData)(uint32_t frameId, const void* data, uint32_t size);
    int (*mgrGetFrameData)(uint32_t frameId, void* buffer, uint32_t* size, int type);
    int (*mgrGetLockedFrameBuff)(uint32_t frameId, void** buffer, uint32_t* size, uint32_t timeoutMs);
    int (*mgrLoadFrameData)(uint32_t frameId, const char* fileName, uint32_t flags);
    int (*mgrSetFrameName)(uint32_t frameId, const char* name);
    int (*mgrGetFrameName)(uint32_t frameId, char* name); // MGR_PATH_SIZE characters
    int (*mgrSetFrameCreatorName)(uint32_t frameId, const char* name);
    int (*mgrGetFrameCreatorName)(uint32_t frameId, char* name); // MGR_NAME_SIZE characters
    int (*mgrSetFrameLogPath)(uint32_t frameId, const char* path);
    int (*mgrGetFrameLogPath)(uint32_t frameId, char* path); // MGR_PATH_SIZE characters
    int (*mgrAddFrameAttrib)(uint32_t frameId, const char* name, const char* description, int type, const void* data,
                             uint32_t count);
    int (*mgrSetFrameAttrib)(uint32_t frameId, const char* name, const void* data, uint32_t size);
    int (*mgrGetFrameAttrib)(uint32_t frameId, const char* name, void* buffer, uint32_t* size, int* type);
    int (*mgrRemoveAttrib)(uint32_t frameId, const char* name);
    int (*mgrRemoveAllAttribs)(uint32_t frameId);
    int (*mgrGetFrameFirstAttrib)(uint32_t frameId, int* cursor, _ExtFrameAttrib* out);
    int (*mgrGetFrameNextAttrib)(uint32_t frameId, int* cursor, _ExtFrameAttrib* out);
    int (*mgrGetServiceFrame)(int devId, uint32_t type, uint32_t* outFrameId);
    // Slots 78-144: the device-control library, forwarded unchanged (see its API for each entry).
    int (*tvkCtrlInitialize)(void);
    int (*tvkCtrlGetFirstTvk)(unsigned* devIndex, int* count);
    int (*tvkCtrlGetNextTvk)(unsigned* devIndex);
    int (*tvkCtrlFindNewTvks)(void);
    int (*tvkCtrlReconnectTvk)(unsigned devIndex);
    int (*tvkCtrlGetHwInfoCount)(unsigned devIndex, int* count);
    int (*tvkCtrlGetHwInfoItem)(unsigned devIndex, int index, HwInfoItem* item, int* dataSize);
    int (*tvkCtrlSetHwInfoItem)(unsigned devIndex, int index, const void* data, int dataSize);
    int (*tvkCtrlTryLockDevice)(unsigned devIndex, int* locked, unsigned timeoutMs);
    int (*tvkCtrlReleaseDevice)(unsigned devIndex);
    int (*tvkCtrlGetLockOwnerID)(unsigned devIndex, uint32_t* ownerThreadId);
    int (*tvkCtrlReviveTvkDevice)(unsigned devIndex);
    int (*tvkCtrlInitTvkDevice)(unsigned devIndex, const char* cfgFile);
    int (*tvkCtrlSaveTvkCfg)(unsigned devIndex, const char* fileName);
    int (*tvkCtrlLoadTvkCfg)(unsigned devIndex, const char* fileName);
    int (*tvkCtrlSaveTvkCfgAsDefault)(unsigned devIndex);
    int (*tvkCtrlSetPolarity)(unsigned devIndex, int polarity);
    int (*tvkCtrlGetPolarity)(unsigned devIndex, int* polarity);
    int (*tvkCtrlSetCST)(unsigned devIndex, int cst);
    int (*tvkCtrlGetCST)(unsigned devIndex, int* cst);
    int (*tvkCtrlSetAcqMode)(unsigned devIndex, int mode);
    int (*tvkCtrlGetAcqMode)(unsigned devIndex, int* mode);
    int (*tvkCtrlSetHwTimer)(unsigned devIndex, int mode);
    int (*tvkCtrlGetHwTimer)(unsigned devIndex, int* mode);
    int (*tvkCtrlSetDACsDefault)(unsigned devIndex);
    int (*tvkCtrlSetDACs)(unsigned devIndex, const uint16_t* dacs, int size, int chip, int refChip, int refFlags);
    int (*tvkCtrlGetDACs)(unsigned devIndex, uint16_t* dacs, int size, int chip);
    int (*tvkCtrlGetSingleDACAnalog)(unsigned devIndex, double* values, int size, int dacIndex, int chip, int samples);
    int (*tvkCtrlGetDACsAnalog)(unsigned devIndex, double* values, int size, int chip);
    int (*tvkCtrlRefreshDACs)(unsigned devIndex);
    int (*tvkCtrlGetDACsNames)(unsigned devIndex, const char*** names, const int** bitWidths, int* dacCount);
    int (*tvkCtrlSetDACRefCoef)(unsigned devIndex, double* coefs, int size, int set);
    int (*tvkCtrlGetDACRefCoef)(unsigned devIndex, double* coefs, int size, int set);
    int (*tvkCtrlSetExtDAC)(unsigned devIndex, int dacIndex, double value);
    int (*tvkCtrlGetExtDAC)(unsigned devIndex, int* dacIndex, double* value);
    int (*tvkCtrlSetPixelsCfg)(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
    int (*tvkCtrlGetPixelsCfg)(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
    int (*tvkCtrlResetPixelsCfg)(unsigned devIndex, int chip);
    int (*tvkCtrlSetSuperMatrixPixCfg)(unsigned devIndex, const uint8_t* cfg, uint32_t size);
    int (*tvkCtrlGetSuperMatrixPixCfg)(unsigned devIndex, uint8_t* cfg, uint32_t size);
    int (*tvkCtrlRefreshPixelsCfg)(unsigned devIndex);
    int (*tvkCtrlSetAcqSpacing)(unsigned devIndex, int spacing);
    int (*tvkCtrlGetAcqSpacing)(unsigned devIndex, int* spacing);
    int (*tvkCtrlSetAutoConvToSM)(unsigned devIndex, int on);
    int (*tvkCtrlGetAutoConvToSM)(unsigned devIndex, int* on);
    int (*tvkCtrlConvToSuperMatrix)(unsigned devIndex, const void* chips, void* matrix, uint32_t sizeBytes, int type);
    int (*tvkCtrlConvFromSuperMatrix)(unsigned devIndex, const void* matrix, void* chips, uint32_t sizeBytes, int type);
    int (*tvkCtrlLoadPixelsCfg)(unsigned devIndex, const char* fileName, int withDacs);
    int (*tvkCtrlSavePixelsCfg)(unsigned devIndex, const char* fileName, int withDacs);
    int (*tvkCtrlLoadPixelsCfgAscii)(unsigned devIndex, const char* maskFile, const char* testFile,
                                     const char* thlAdjFile, const char* fourthFile, int withDacs);
    int (*tvkCtrlSavePixelsCfgAscii)(unsigned devIndex, const char* maskFile, const char* testFile,
                                     const char* thlAdjFile, const char* fourthFile, int withDacs);
    int (*tvkCtrlPerformIntegralAcq)(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags,
                                     const char* fileName);
    int (*tvkCtrlPerformFrameAcq)(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags,
                                  const char* fileName);
    int (*tvkCtrlPerformTestPulseAcq)(unsigned devIndex, double height, double period, uint32_t pulseCount,
                                      uint32_t columnMask);
    int (*tvkCtrlPerformDigitalTest)(unsigned devIndex, int* goodPixels, uint32_t* frameId, int keepAsLastAcq,
                                     double waitTime);
    int (*tvkCtrlAbortOperation)(unsigned devIndex);
    int (*tvkCtrlCloseFrames)(unsigned devIndex);
    int (*tvkCtrlGetFrame16)(unsigned devIndex, int16_t* buffer, uint32_t sizePixels, int frameIndex);
    int (*tvkCtrlGetFrame32)(unsigned devIndex, uint32_t* buffer, uint32_t sizePixels, int frameIndex);
    int (*tvkCtrlGetFrameDouble)(unsigned devIndex, double* buffer, uint32_t sizePixels, int frameIndex);
    int (*tvkCtrlSaveFrame)(unsigned devIndex, const char* fileName, int frameIndex, uint32_t fileFlags);
    int (*tvkCtrlGetFrameAttrib)(unsigned devIndex, int frameIndex, const char* name, void* data, uint32_t* size,
                                 int* type);
    int (*tvkCtrlGetFrameID)(unsigned devIndex, int frameIndex, uint32_t* frameId);
    int (*tvkCtrlGetDevInfo)(unsigned devIndex, _DevInfo* info);
    int (*tvkCtrlGetTarvikInfo)(unsigned devIndex, int* chipCount, int* chipRows, char* chipboardId,
                                char* interfaceName);
    int (*tvkCtrlGetAcqInfo)(unsigned devIndex, int* frameIndex, int* frameCount, int* kind, int* framesDone);
    int (*tvkCtrlGetInfoMsg)(int devIndex, int* code, const char** text);
} _MgrFuncTable;
TVK_MGR_ASSERT_SIZE(_MgrFuncTable, 8 + 144 * 8);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetConfigsDir, 8);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrLogMsg, 16);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrLogShowWindow, 24);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrManagedItemsShowWindow, 32);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddPlugin, 40);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddMenuItem, 48);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddTvkMenuItem, 56);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveMenuItem, 64);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetTvkMenuPath, 72);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFirstMenuItem, 80);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetNextMenuItem, 88);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrCallMenuItemByName, 96);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrCallMenuItemByID, 104);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddMsgHandler, 112);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveMsgHandler, 120);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddFuncItem, 128);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveFuncItem, 136);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetRegFirstFunc, 144);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetRegNextFunc, 152);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFuncItemID, 160);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFuncItem, 168);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrCallFuncItem, 176);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddCBEvent, 184);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveCBEvent, 192);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetRegFirstCBEvent, 200);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetRegNextCBEvent, 208);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetCBEvent, 216);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRegisterCallback, 224);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrUnregisterCallback, 232);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddFrameAttribTempl, 240);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveFrameAttribTempl, 248);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrCreateFilterChain, 256);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveFilterChain, 264);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddToFilterChain, 272);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveFromFilterChain, 280);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFilteredFrame, 288);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFirstFilterChain, 296);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetNextFilterChain, 304);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFilterChainInfo, 312);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrCreateFilterInst, 320);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrDeleteFilterInst, 328);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFirstFilterInst, 336);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetNextFilterInst, 344);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFilterPar, 352);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFilterPar, 360);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrCreateFrame, 368);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrLoadFrame, 376);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSaveFrame, 384);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrDuplicateFrame, 392);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFirstFrame, 400);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetNextFrame, 408);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrOpenFrame, 416);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrCloseFrame, 424);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrLockFrame, 432);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrUnlockFrame, 440);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameType, 448);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFrameType, 456);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameSize, 464);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFrameSize, 472);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFrameData, 480);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameData, 488);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetLockedFrameBuff, 496);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrLoadFrameData, 504);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFrameName, 512);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameName, 520);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFrameCreatorName, 528);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameCreatorName, 536);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFrameLogPath, 544);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameLogPath, 552);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrAddFrameAttrib, 560);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrSetFrameAttrib, 568);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameAttrib, 576);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveAttrib, 584);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrRemoveAllAttribs, 592);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameFirstAttrib, 600);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetFrameNextAttrib, 608);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, mgrGetServiceFrame, 616);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlInitialize, 624);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetFirstTvk, 632);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetNextTvk, 640);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlFindNewTvks, 648);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlReconnectTvk, 656);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetHwInfoCount, 664);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetHwInfoItem, 672);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetHwInfoItem, 680);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlTryLockDevice, 688);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlReleaseDevice, 696);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetLockOwnerID, 704);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlReviveTvkDevice, 712);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlInitTvkDevice, 720);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSaveTvkCfg, 728);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlLoadTvkCfg, 736);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSaveTvkCfgAsDefault, 744);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetPolarity, 752);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetPolarity, 760);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetCST, 768);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetCST, 776);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetAcqMode, 784);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetAcqMode, 792);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetHwTimer, 800);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetHwTimer, 808);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetDACsDefault, 816);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetDACs, 824);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetDACs, 832);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetSingleDACAnalog, 840);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetDACsAnalog, 848);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlRefreshDACs, 856);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetDACsNames, 864);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetDACRefCoef, 872);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetDACRefCoef, 880);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetExtDAC, 888);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetExtDAC, 896);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetPixelsCfg, 904);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetPixelsCfg, 912);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlResetPixelsCfg, 920);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetSuperMatrixPixCfg, 928);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetSuperMatrixPixCfg, 936);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlRefreshPixelsCfg, 944);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetAcqSpacing, 952);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetAcqSpacing, 960);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSetAutoConvToSM, 968);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetAutoConvToSM, 976);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlConvToSuperMatrix, 984);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlConvFromSuperMatrix, 992);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlLoadPixelsCfg, 1000);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSavePixelsCfg, 1008);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlLoadPixelsCfgAscii, 1016);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSavePixelsCfgAscii, 1024);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlPerformIntegralAcq, 1032);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlPerformFrameAcq, 1040);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlPerformTestPulseAcq, 1048);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlPerformDigitalTest, 1056);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlAbortOperation, 1064);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlCloseFrames, 1072);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetFrame16, 1080);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetFrame32, 1088);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetFrameDouble, 1096);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlSaveFrame, 1104);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetFrameAttrib, 1112);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetFrameID, 1120);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetDevInfo, 1128);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetTarvikInfo, 1136);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetAcqInfo, 1144);
TVK_MGR_ASSERT_OFFSET(_MgrFuncTable, tvkCtrlGetInfoMsg, 1152);

// The entry point of every plug-in ("InitTvkPlugin", or "_InitTvkPlugin"): 0 = loaded; anything else
// makes the manager unload the plug-in again.
typedef int (*InitTvkPluginFn)(const _MgrFuncTable* table);

// ---- the internal table of the utilities library ----

#ifdef __cplusplus
class PluginInfo;
#else
typedef struct PluginInfo PluginInfo;
#endif

// Handed to the utilities library (setIntFuncTable) at start-up; nine entries, no version word.
typedef struct _IntFuncTable {
    int (*intFindPlugin)(const char* pluginName, PluginInfo** out);  // 0, or -300
    int (*intGetFirstPlugin)(int* id, PluginInfo** out);            // 0, or 1 none
    int (*intGetNextPlugin)(int* id, PluginInfo** out);             // 0, or 1 at the end
    int (*intCallMenuItemByID)(int itemId);                         // as mgrCallMenuItemByID
    int (*mgrAddPlugin)(const char* path);
    int (*tvkCtrlFindNewTvks)(void);
    int (*mgrExitManager)(void);
    LogItem* (*intPeekLogItem)(void); // the oldest queued log entry, or null
    void (*intPopLogItem)(void);      // removes and frees the oldest queued log entry
} _IntFuncTable;
TVK_MGR_ASSERT_SIZE(_IntFuncTable, 9 * 8);

#ifdef __cplusplus
}
#endif
