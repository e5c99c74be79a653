/* Frame attribute records handed across the device-control library's boundary: the description of one
   attribute as a frame hands it out, and the record that reports an attribute change. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One frame attribute as handed out by TvkFrameInfo::getFirstAttrib / getNextAttrib. */
typedef struct _ExtFrameAttrib {
    char name[32];         /* at most 31 characters and a zero */
    char description[128]; /* at most 127 characters and a zero */
    int32_t type;          /* _Data_Types */
    uint32_t size;         /* bytes */
} _ExtFrameAttrib;

/* Kinds of attribute change. No kind 2 is ever reported. */
enum _FrameAttribChangeKind {
    FRAME_ATTR_ADDED_OR_REMOVED = 1,
    FRAME_ATTR_ALL_REMOVED = 3,
    FRAME_ATTR_VALUE_SET = 4
};

/* Passed to TvkFrameInfo::cbAttrChanged; valid only during the call. */
typedef struct _FrameAttribChange {
    uint32_t frameId;  /* the frame's unique id */
    char name[32];     /* at most 31 characters and a zero; all zero for FRAME_ATTR_ALL_REMOVED */
    uint32_t size;     /* the attribute's size in bytes after the change (before it for a removal) */
    int32_t kind;      /* _FrameAttribChangeKind */
} _FrameAttribChange;

#ifdef __cplusplus
}
#define TVK_FRAME_STATIC_ASSERT static_assert
#else
#define TVK_FRAME_STATIC_ASSERT _Static_assert
#endif

TVK_FRAME_STATIC_ASSERT(sizeof(_ExtFrameAttrib) == 168, "_ExtFrameAttrib layout");
TVK_FRAME_STATIC_ASSERT(sizeof(_FrameAttribChange) == 44, "_FrameAttribChange layout");

#undef TVK_FRAME_STATIC_ASSERT
