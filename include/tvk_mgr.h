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
    // The folder of configuration files into buf (MGR_PATH_SIZE characters).
    int (*mgrGetConfigsDir)(char* buf);
    // Appends a printf-formatted entry from source to the log (flags: _MgrLogFlags).
    int (*mgrLogMsg)(const char* source, const char* fmt, int flags, ...);
    // Shows (non-zero) or hides the log window; always 0.
    int (*mgrLogShowWindow)(int show);
    // Opens the managed-items window (or brings the open one to the front); always 0.
    int (*mgrManagedItemsShowWindow)(void);
    // Loads the plug-in library at path, adds it to the [Plugins] list saved at exit and sends it "Start".
    int (*mgrAddPlugin)(const char* path);
    // Adds itemName under menuPath; callback(userData) runs when it is chosen. Id through outId.
    int (*mgrAddMenuItem)(const char* plugin, const char* itemName, const char* menuPath, MenuItemCallback callback,
                          void* userData, int* outId, int flags);
    // The same under the device's own sub-menu (subPath below it, may be empty).
    int (*mgrAddTvkMenuItem)(int devId, const char* plugin, const char* itemName, const char* subPath,
                             MenuItemCallback callback, void* userData, int* outId, int flags);
    // Removes the menu item of that id.
    int (*mgrRemoveMenuItem)(int itemId);
    // The device's sub-menu label into buf (MGR_MENU_NAME_SIZE characters).
    int (*mgrGetTvkMenuPath)(int devId, char* buf);
    // Walk of menu items in ascending id: 0 found, 1 none; name: "path|item", MGR_MENU_NAME_SIZE.
    int (*mgrGetFirstMenuItem)(int* id, char* name);
    // The item after *id: 0 found, 1 at the end.
    int (*mgrGetNextMenuItem)(int* id, char* name);
    // Calls the item named "path|item" in the calling thread; -304 when there is none.
    int (*mgrCallMenuItemByName)(const char* fullName);
    // Calls the item of that id in the calling thread; -304 when there is none.
    int (*mgrCallMenuItemByID)(int itemId);
    // Asks handler about each message of the loader's thread (once per handler).
    int (*mgrAddMsgHandler)(TvkMsgHandler handler);
    // Stops asking handler; a walk under way no longer calls it.
    int (*mgrRemoveMsgHandler)(TvkMsgHandler handler);
    // Registers a function or filter; the new id is written into item->id.
    int (*mgrAddFuncItem)(_FuncItem* item);
    // Unregisters the plug-in's function (and takes it out of every filter chain).
    int (*mgrRemoveFuncItem)(const char* plugin, const char* funcName);
    // Walk of registered functions in ascending id: 0 and *out filled, 1 none.
    int (*mgrGetRegFirstFunc)(int* id, _FuncItem* out);
    // The function after *id: 0 and *out filled, 1 at the end.
    int (*mgrGetRegNextFunc)(int* id, _FuncItem* out);
    // The description of the function of that id into *out; -302 when not registered.
    int (*mgrGetFuncItemID)(int funcId, _FuncItem* out);
    // The description of the plug-in's function into *out; -302 when not registered.
    int (*mgrGetFuncItem)(const char* plugin, const char* funcName, _FuncItem* out);
    // Calls a registered function in the calling thread: its own result, or -302.
    int (*mgrCallFuncItem)(const char* plugin, const char* funcName, const _FuncSlot* in, void* const* out);
    // Registers an event the plug-in fires; its id through outId.
    int (*mgrAddCBEvent)(const _EventDesc* desc, int* outId);
    // Unregisters the plug-in's event and drops its subscribers.
    int (*mgrRemoveCBEvent)(const char* plugin, const char* eventName);
    // Walk of registered events in ascending id: 0 and *out filled, 1 none.
    int (*mgrGetRegFirstCBEvent)(int* id, _EventDesc* out);
    // The event after *id: 0 and *out filled, 1 at the end.
    int (*mgrGetRegNextCBEvent)(int* id, _EventDesc* out);
    // Fires the event: every subscriber is called with arg in the calling thread.
    int (*mgrSetCBEvent)(int eventId, intptr_t arg);
    // Subscribes callback to the plug-in's event; -306 when it is not registered.
    int (*mgrRegisterCallback)(const char* plugin, const char* eventName, EventCallback callback);
    // Unsubscribes callback; a firing under way no longer calls it.
    int (*mgrUnregisterCallback)(const char* plugin, const char* eventName, EventCallback callback);
    // Registers an attribute that every newly acquired frame gets, valued by the callback.
    int (*mgrAddFrameAttribTempl)(const _FrameAttribTempl* templ);
    // Unregisters the attribute template of that name.
    int (*mgrRemoveFrameAttribTempl)(const char* attribName);
    // Creates an empty filter chain owned by the plug-in; its id through outId.
    int (*mgrCreateFilterChain)(const char* plugin, const char* chainName, int* outId);
    // Removes the chain.
    int (*mgrRemoveFilterChain)(int chainId);
    // Inserts a filter (its default instance) or an instance before position, or at the end.
    int (*mgrAddToFilterChain)(int chainId, int filterOrInstanceId, int position);
    // Takes the member at index out of the chain.
    int (*mgrRemoveFromFilterChain)(int chainId, int index);
    // A new frame: a copy of frameId run through the chain. The caller owns its one reference and closes it
    // (mgrCloseFrame); on failure no frame is left and *outFrameId is untouched.
    int (*mgrGetFilteredFrame)(int chainId, uint32_t frameId, uint32_t* outFrameId);
    // Walk of filter chains in ascending id: 0 and *out filled, 1 none.
    int (*mgrGetFirstFilterChain)(int* id, _FilterChainDesc* out);
    // The chain after *id: 0 and *out filled, 1 at the end.
    int (*mgrGetNextFilterChain)(int* id, _FilterChainDesc* out);
    // The chain's owner, name, members and text into *out; -310 for an unknown chain.
    int (*mgrGetFilterChainInfo)(int chainId, _FilterChainDesc* out);
    // A new named instance of a filter with instances; its id (100000000 and above) through outInstId.
    int (*mgrCreateFilterInst)(int funcId, const char* instName, int* outInstId);
    // Takes the instance out of every chain and deletes it.
    int (*mgrDeleteFilterInst)(int instId);
    // Walk of one filter's instances: 0 found, 1 none; name: MGR_NAME_SIZE characters.
    int (*mgrGetFirstFilterInst)(int funcId, int* instId, char* name);
    // The instance after *instId: 0 found, 1 at the end.
    int (*mgrGetNextFilterInst)(int funcId, int* instId, char* name);
    // Sets a parameter of an instance (or of a filter's default instance): the plug-in's result.
    int (*mgrSetFilterPar)(int id, int parIndex, const void* data, uint32_t size);
    // Describes a parameter and copies its value (see FilterGetCallback): the plug-in's result.
    int (*mgrGetFilterPar)(int id, int parIndex, _FilterParDesc* desc, uint32_t* size);
    // A new zero-filled frame in the store; the caller owns its one reference and closes it.
    int (*mgrCreateFrame)(uint32_t* outId, uint32_t width, uint32_t height, int type, const char* creator);
    // A new frame read from a frame or description file; the caller owns its one reference.
    int (*mgrLoadFrame)(uint32_t* outId, const char* fileName);
    // Writes the frame to fileName (flags: _FrameSaveFlags).
    int (*mgrSaveFrame)(uint32_t frameId, const char* fileName, uint32_t flags);
    // A new copy of the frame, data and attributes; the caller owns its one reference.
    int (*mgrDuplicateFrame)(uint32_t frameId, uint32_t* outId);
    // Walk of stored frame ids in ascending order: 0 found, 1 none. No reference is taken.
    int (*mgrGetFirstFrame)(uint32_t* id);
    // The frame id after *id: 0 found, 1 at the end.
    int (*mgrGetNextFrame)(uint32_t* id);
    // Takes one more reference on the frame (the caller then owns it); the new count through refCount.
    int (*mgrOpenFrame)(uint32_t frameId, uint32_t* refCount);
    // Drops one of the caller's references; at none the frame leaves the store ("FrameDelete").
    int (*mgrCloseFrame)(uint32_t frameId, uint32_t* refCount);
    // Locks the frame's data for the calling thread (MGR_WAIT_INFINITE: no limit).
    int (*mgrLockFrame)(uint32_t frameId, uint32_t timeoutMs);
    // Unlocks the frame; only the thread holding the lock may.
    int (*mgrUnlockFrame)(uint32_t frameId);
    // The frame's element type (_Data_Types).
    int (*mgrGetFrameType)(uint32_t frameId, int* type);
    // Changes the frame's element type, converting its data.
    int (*mgrSetFrameType)(uint32_t frameId, int type);
    // The frame's width and height in pixels.
    int (*mgrGetFrameSize)(uint32_t frameId, uint32_t* width, uint32_t* height);
    // Resizes the frame (its byte count must fit 32 bits).
    int (*mgrSetFrameSize)(uint32_t frameId, uint32_t width, uint32_t height);
    // Copies size bytes into the frame's buffer.
    int (*mgrSetFrameData)(uint32_t frameId, const void* data, uint32_t size);
    // A copy of the data converted to type; *size in: buffer bytes, out: bytes required.
    int (*mgrGetFrameData)(uint32_t frameId, void* buffer, uint32_t* size, int type);
    // Locks the frame and hands out its own buffer, valid until the caller unlocks it (mgrUnlockFrame).
    int (*mgrGetLockedFrameBuff)(uint32_t frameId, void** buffer, uint32_t* size, uint32_t timeoutMs);
    // Replaces the frame's data and attributes by those of a file.
    int (*mgrLoadFrameData)(uint32_t frameId, const char* fileName, uint32_t flags);
    // Sets the frame's name.
    int (*mgrSetFrameName)(uint32_t frameId, const char* name);
    // The frame's name into name (MGR_PATH_SIZE characters).
    int (*mgrGetFrameName)(uint32_t frameId, char* name);
    // Sets the name of the frame's creator.
    int (*mgrSetFrameCreatorName)(uint32_t frameId, const char* name);
    // The name of the frame's creator into name (MGR_NAME_SIZE characters).
    int (*mgrGetFrameCreatorName)(uint32_t frameId, char* name);
    // Sets the frame's log path.
    int (*mgrSetFrameLogPath)(uint32_t frameId, const char* path);
    // The frame's log path into path (MGR_PATH_SIZE characters).
    int (*mgrGetFrameLogPath)(uint32_t frameId, char* path);
    // Adds an attribute of count elements of type to the frame.
    int (*mgrAddFrameAttrib)(uint32_t frameId, const char* name, const char* description, int type, const void* data,
                             uint32_t count);
    // Replaces the value of the frame's attribute.
    int (*mgrSetFrameAttrib)(uint32_t frameId, const char* name, const void* data, uint32_t size);
    // A copy of the attribute's value; *size in: buffer bytes, out: bytes; its type through type.
    int (*mgrGetFrameAttrib)(uint32_t frameId, const char* name, void* buffer, uint32_t* size, int* type);
    // Removes one attribute of the frame.
    int (*mgrRemoveAttrib)(uint32_t frameId, const char* name);
    // Removes every attribute of the frame.
    int (*mgrRemoveAllAttribs)(uint32_t frameId);
    // Walk of the frame's attributes: 0 and *out filled, 1 none; *cursor is the walk's place.
    int (*mgrGetFrameFirstAttrib)(uint32_t frameId, int* cursor, _ExtFrameAttrib* out);
    // The attribute after *cursor: 0 and *out filled, 1 at the end.
    int (*mgrGetFrameNextAttrib)(uint32_t frameId, int* cursor, _ExtFrameAttrib* out);
    // The id of the device's service frame of that type (1-5). The device owns the frame: never close it.
    int (*mgrGetServiceFrame)(int devId, uint32_t type, uint32_t* outFrameId);
    // Slots 78-144: the device-control library, forwarded unchanged (see its API for each entry).
    // Starts the device-control library.
    int (*tvkCtrlInitialize)(void);
    // Walk of devices: the first index and the device count; 0 found, 1 none.
    int (*tvkCtrlGetFirstTvk)(unsigned* devIndex, int* count);
    // The device after *devIndex: 0 found, 1 at the end.
    int (*tvkCtrlGetNextTvk)(unsigned* devIndex);
    // Looks for devices connected since the last search.
    int (*tvkCtrlFindNewTvks)(void);
    // Connects the device again through its hardware library.
    int (*tvkCtrlReconnectTvk)(unsigned devIndex);
    // The number of hardware-info items of the device.
    int (*tvkCtrlGetHwInfoCount)(unsigned devIndex, int* count);
    // Describes one hardware-info item and copies its value (*dataSize in: bytes, out: bytes).
    int (*tvkCtrlGetHwInfoItem)(unsigned devIndex, int index, HwInfoItem* item, int* dataSize);
    // Writes the value of a writable hardware-info item.
    int (*tvkCtrlSetHwInfoItem)(unsigned devIndex, int index, const void* data, int dataSize);
    // Takes the device for the calling thread, waiting up to timeoutMs; *locked says whether.
    int (*tvkCtrlTryLockDevice)(unsigned devIndex, int* locked, unsigned timeoutMs);
    // Gives the device back (owner thread only).
    int (*tvkCtrlReleaseDevice)(unsigned devIndex);
    // The id of the thread that holds the device.
    int (*tvkCtrlGetLockOwnerID)(unsigned devIndex, uint32_t* ownerThreadId);
    // Resets the device and writes its DACs and pixel configuration to it again.
    int (*tvkCtrlReviveTvkDevice)(unsigned devIndex);
    // Initialises the device from a chip configuration file (null: its default).
    int (*tvkCtrlInitTvkDevice)(unsigned devIndex, const char* cfgFile);
    // Writes the device's chip configuration to fileName.
    int (*tvkCtrlSaveTvkCfg)(unsigned devIndex, const char* fileName);
    // Reads the device's chip configuration from fileName.
    int (*tvkCtrlLoadTvkCfg)(unsigned devIndex, const char* fileName);
    // Writes the device's chip configuration as its default file.
    int (*tvkCtrlSaveTvkCfgAsDefault)(unsigned devIndex);
    // Sets the detector bias polarity.
    int (*tvkCtrlSetPolarity)(unsigned devIndex, int polarity);
    // The detector bias polarity.
    int (*tvkCtrlGetPolarity)(unsigned devIndex, int* polarity);
    // Sets the chip's CST setting.
    int (*tvkCtrlSetCST)(unsigned devIndex, int cst);
    // The chip's CST setting.
    int (*tvkCtrlGetCST)(unsigned devIndex, int* cst);
    // Sets the acquisition mode.
    int (*tvkCtrlSetAcqMode)(unsigned devIndex, int mode);
    // The acquisition mode.
    int (*tvkCtrlGetAcqMode)(unsigned devIndex, int* mode);
    // Sets the hardware timer mode.
    int (*tvkCtrlSetHwTimer)(unsigned devIndex, int mode);
    // The hardware timer mode.
    int (*tvkCtrlGetHwTimer)(unsigned devIndex, int* mode);
    // Sets every DAC of the device to its default value.
    int (*tvkCtrlSetDACsDefault)(unsigned devIndex);
    // Writes the DAC values of one chip, with the reference chip's handling chosen by refFlags.
    int (*tvkCtrlSetDACs)(unsigned devIndex, const uint16_t* dacs, int size, int chip, int refChip, int refFlags);
    // The DAC values of one chip into dacs (size elements).
    int (*tvkCtrlGetDACs)(unsigned devIndex, uint16_t* dacs, int size, int chip);
    // Measures one DAC's analog value samples times.
    int (*tvkCtrlGetSingleDACAnalog)(unsigned devIndex, double* values, int size, int dacIndex, int chip, int samples);
    // Measures every DAC's analog value of one chip.
    int (*tvkCtrlGetDACsAnalog)(unsigned devIndex, double* values, int size, int chip);
    // Writes the stored DAC values to the hardware again.
    int (*tvkCtrlRefreshDACs)(unsigned devIndex);
    // The DAC names and bit widths; the arrays belong to the library (do not free).
    int (*tvkCtrlGetDACsNames)(unsigned devIndex, const char*** names, const int** bitWidths, int* dacCount);
    // Sets the DAC reference coefficients of one set.
    int (*tvkCtrlSetDACRefCoef)(unsigned devIndex, double* coefs, int size, int set);
    // The DAC reference coefficients of one set.
    int (*tvkCtrlGetDACRefCoef)(unsigned devIndex, double* coefs, int size, int set);
    // Sets the external DAC to value.
    int (*tvkCtrlSetExtDAC)(unsigned devIndex, int dacIndex, double value);
    // The external DAC's index and value.
    int (*tvkCtrlGetExtDAC)(unsigned devIndex, int* dacIndex, double* value);
    // Writes the pixel configuration of one chip.
    int (*tvkCtrlSetPixelsCfg)(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
    // The pixel configuration of one chip into cfg.
    int (*tvkCtrlGetPixelsCfg)(unsigned devIndex, uint8_t* cfg, uint32_t size, int chip);
    // Resets the pixel configuration of one chip.
    int (*tvkCtrlResetPixelsCfg)(unsigned devIndex, int chip);
    // Writes the pixel configuration given as the 512 x 512 super matrix.
    int (*tvkCtrlSetSuperMatrixPixCfg)(unsigned devIndex, const uint8_t* cfg, uint32_t size);
    // The pixel configuration as the 512 x 512 super matrix.
    int (*tvkCtrlGetSuperMatrixPixCfg)(unsigned devIndex, uint8_t* cfg, uint32_t size);
    // Writes the stored pixel configuration to the hardware again.
    int (*tvkCtrlRefreshPixelsCfg)(unsigned devIndex);
    // Sets the spacing between the frames of an acquisition.
    int (*tvkCtrlSetAcqSpacing)(unsigned devIndex, int spacing);
    // The spacing between the frames of an acquisition.
    int (*tvkCtrlGetAcqSpacing)(unsigned devIndex, int* spacing);
    // Sets whether frames of a 4-chip device are converted to the super matrix.
    int (*tvkCtrlSetAutoConvToSM)(unsigned devIndex, int on);
    // Whether frames of a 4-chip device are converted to the super matrix.
    int (*tvkCtrlGetAutoConvToSM)(unsigned devIndex, int* on);
    // Chip-ordered data to the 512 x 512 super matrix (sizeBytes: each buffer's bytes).
    int (*tvkCtrlConvToSuperMatrix)(unsigned devIndex, const void* chips, void* matrix, uint32_t sizeBytes, int type);
    // The 512 x 512 super matrix to chip-ordered data.
    int (*tvkCtrlConvFromSuperMatrix)(unsigned devIndex, const void* matrix, void* chips, uint32_t sizeBytes, int type);
    // Reads the pixel configuration (and the DACs with withDacs) from a binary file.
    int (*tvkCtrlLoadPixelsCfg)(unsigned devIndex, const char* fileName, int withDacs);
    // Writes the pixel configuration (and the DACs with withDacs) to a binary file.
    int (*tvkCtrlSavePixelsCfg)(unsigned devIndex, const char* fileName, int withDacs);
    // Reads the pixel configuration from its text files (mask, test, threshold adjustment, fourth).
    int (*tvkCtrlLoadPixelsCfgAscii)(unsigned devIndex, const char* maskFile, const char* testFile,
                                     const char* thlAdjFile, const char* fourthFile, int withDacs);
    // Writes the pixel configuration to its text files (the same four).
    int (*tvkCtrlSavePixelsCfgAscii)(unsigned devIndex, const char* maskFile, const char* testFile,
                                     const char* thlAdjFile, const char* fourthFile, int withDacs);
    // Acquires frameCount frames summed into one; the device keeps it as its last acquisition.
    int (*tvkCtrlPerformIntegralAcq)(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags,
                                     const char* fileName);
    // Acquires frameCount frames; the device keeps them as its last acquisition.
    int (*tvkCtrlPerformFrameAcq)(unsigned devIndex, int frameCount, double acqTime, uint32_t fileFlags,
                                  const char* fileName);
    // Acquires one frame with test pulses; the device keeps it as its last acquisition.
    int (*tvkCtrlPerformTestPulseAcq)(unsigned devIndex, double height, double period, uint32_t pulseCount,
                                      uint32_t columnMask);
    // Tests the pixels' logic. A frame id through frameId is the caller's to close unless keepAsLastAcq (the device
    // then keeps it).
    int (*tvkCtrlPerformDigitalTest)(unsigned devIndex, int* goodPixels, uint32_t* frameId, int keepAsLastAcq,
                                     double waitTime);
    // Asks the running acquisition of the device to stop.
    int (*tvkCtrlAbortOperation)(unsigned devIndex);
    // Drops the device's frames of the last acquisition.
    int (*tvkCtrlCloseFrames)(unsigned devIndex);
    // A copy of a frame of the last acquisition as 16-bit values (sizePixels elements).
    int (*tvkCtrlGetFrame16)(unsigned devIndex, int16_t* buffer, uint32_t sizePixels, int frameIndex);
    // The same as 32-bit values.
    int (*tvkCtrlGetFrame32)(unsigned devIndex, uint32_t* buffer, uint32_t sizePixels, int frameIndex);
    // The same as doubles.
    int (*tvkCtrlGetFrameDouble)(unsigned devIndex, double* buffer, uint32_t sizePixels, int frameIndex);
    // Writes a frame of the last acquisition (frameIndex -1: every frame done) to fileName.
    int (*tvkCtrlSaveFrame)(unsigned devIndex, const char* fileName, int frameIndex, uint32_t fileFlags);
    // A copy of an attribute of a frame of the last acquisition.
    int (*tvkCtrlGetFrameAttrib)(unsigned devIndex, int frameIndex, const char* name, void* data, uint32_t* size,
                                 int* type);
    // The store id of a frame of the last acquisition. The device owns it until its next acquisition or
    // tvkCtrlCloseFrames: mgrOpenFrame to keep it longer.
    int (*tvkCtrlGetFrameID)(unsigned devIndex, int frameIndex, uint32_t* frameId);
    // The device's description into *info.
    int (*tvkCtrlGetDevInfo)(unsigned devIndex, _DevInfo* info);
    // Chip count, chip rows, chip-board id and interface name (64 characters each, or null).
    int (*tvkCtrlGetTarvikInfo)(unsigned devIndex, int* chipCount, int* chipRows, char* chipboardId,
                                char* interfaceName);
    // Progress of the last acquisition; -1 when there is none. Any pointer may be null.
    int (*tvkCtrlGetAcqInfo)(unsigned devIndex, int* frameIndex, int* frameCount, int* kind, int* framesDone);
    // The last message of the library (devIndex -1) or device; *text valid until the next call.
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
