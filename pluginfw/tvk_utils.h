// Shared utilities: precise time and waits, typed values as text, indexed and description file names,
// whole-array files. Free functions without state (except the clock's time base); any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tvk_types.h"

// Seconds since 1970 with sub-millisecond resolution; successive values never go back.
double getPreciseTime();

// Waits the given seconds, sleeping (never spinning); returns early, with false, once *abort is true
// (checked at least every millisecond). abort may be null. Zero, negative or NaN seconds return at once.
bool preciseWait(double seconds, const std::atomic<bool>* abort);

// Text of a time, e.g. "Wed Jan 14 08:30:13.123456 2026" for 6 fraction digits, into a 64-character
// buffer (6 digits for frame attributes, 4 for the log; at most 9, 0 gives no fraction). Local time,
// English names whatever the locale. Returns out; the text is empty for a time outside years 0..9999.
char* formatTimestamp(double seconds, char* out, unsigned fractionDigits = 6);

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

// path with index inserted before its extension (the last '.' after the last '/'), zero-padded to digits
// as "%0*d" ("frame.txt", 5, 3 gives "frame005.txt"), into out (512 characters). Returns out, or null
// (out empty) when the name does not fit, for negative digits or a null path.
char* makeIndexedFileName(char* out, const char* path, int index, int digits);

// Description-file name of a data file: extension (after the last '.' that follows the last '/') replaced
// by "dsc", or ".dsc" appended. Returns 0, or -1 (out empty) when the result does not fit 512 characters.
int makeDscFileName(const char* dataFile, char* out);

// Number of number fields on the current line of file (LF or CR LF line end), without consuming it.
// 0, or -1 for a character that belongs to no number or when the position cannot be restored.
int countLineColumns(FILE* file, int* count);

// Whole-array files. errText: a caller buffer of 4096 characters or null; it gets the message of a
// failure. Readers leave data unchanged when the file is missing, too short or holds a bad value, and
// ignore what follows the values. Writers replace the file through a temporary file and a rename; on
// failure the old file is intact. A null path or buffer gives TVK_ERR_PARAM; an allocation failure of
// the text reader TVK_ERR_ALLOC.
int readBinaryFile(const char* path, char* errText, void* data, unsigned size);       // 0, -5, -7
int writeBinaryFile(const char* path, char* errText, const void* data, unsigned size); // 0, -6, -8
// count "%hd" values separated by blanks; a value out of the i16 range is a read error.
int readAsciiI16File(unsigned count, const char* path, short* data, char* errText);   // 0, -5, -7
// Values each followed by a blank, or by a line break after every perLine-th (perLine 0: one line).
int writeAsciiI16File(const char* path, const short* data, unsigned count, unsigned perLine,
                      char* errText);                                                  // 0, -6, -8
