// Typed values (the _Data_Types codes) as text and back. Numbers are written and read without the
// user's locale. Free functions without state; any thread.
#pragma once

#include <string>

#include "tvk_types.h"

// Names and element sizes of the _Data_Types codes ("uknown" and 0 for codes outside 0..10).
const char* typeName(int type);
int typeElementSize(int type);
int typeFromName(const char* name); // exact, case-sensitive; TYPE_UNKNOWN when none matches

// count elements of type as text, each followed by a blank (bool as TRUE/FALSE; char, uchar and string
// values as their text up to the first zero, within count x element size bytes). Doubles and floats are
// written in the shortest form that reads back exactly. Returns 0; TVK_ERR_PARAM for a type outside
// 0..10, a negative count or null pointers (empty text); TVK_ERR_BUFFER_SMALL when the text and its zero
// do not fit bufSize: buf is then empty, never a cut value.
int valueToText(int type, char* buf, int bufSize, const void* data, int count);
std::string valueToString(int type, const void* data, int count); // the same, unbounded (empty on bad input)

// Reads count elements of type from text. Numbers are decimal (floats also in exponent form, "inf",
// "nan"), separated by blanks; each must end at a blank or the text's end; text after the count-th is
// ignored. Bools are numbers when the text starts with one, else the words true/false in any case.
// char, uchar and string copy the text into the value's count x element size bytes, zero-filled.
// Returns 0; -1 for a type outside 0..10, a position where no number or word can be read; TVK_ERR_PARAM
// for too few bool words, a text too long for a char or string value (a terminating zero must fit: at
// most count - 1 characters for char and uchar, 4 x count - 1 for string), a number out of the element's
// range (byte 0..255), a negative count or null pointers. On failure data is unchanged.
int textToValue(void* data, const char* text, int type, int count);
