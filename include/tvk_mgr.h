// The records that plug-ins and the manager exchange: registered functions and filters, events,
// frame-attribute templates, filter chains and queued log entries, with the calling convention of
// registered functions. A plug-in needs this header (and tvk_types.h) only. Usable from C and C++.
#pragma once

#include <stddef.h>
#include <stdint.h>

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

#ifdef __cplusplus
}
#endif
