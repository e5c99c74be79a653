// Whole-array files (binary and text) and the column count of a text line. Free functions without
// state; any thread.
#pragma once

#include <cstdio>

#include "tvk_types.h"

// Number of number fields on the current line of file (LF or CR LF line end), without consuming it.
// 0, or -1 for a character that belongs to no number or when the position cannot be restored.
int countLineColumns(FILE* file, int* count);

// Whole-array files. errText: a caller buffer of 4096 characters or null; it gets the message of a
// failure. Readers leave data unchanged when the file is missing, too short or holds a bad value, and
// ignore what follows the values. Writers replace the file through a temporary file and a rename; on
// failure the old file is intact. A null path or buffer gives TVK_ERR_PARAM; an allocation failure of
// the text reader TVK_ERR_ALLOC.
// Readers return 0, TVK_ERR_OPEN_READ or TVK_ERR_READ; writers 0, TVK_ERR_OPEN_WRITE or TVK_ERR_WRITE.
int readBinaryFile(const char* path, char* errText, void* data, unsigned size);
int writeBinaryFile(const char* path, char* errText, const void* data, unsigned size);
// count "%hd" values separated by blanks; a value out of the i16 range is a read error.
int readAsciiI16File(unsigned count, const char* path, short* data, char* errText);
// Values each followed by a blank, or by a line break after every perLine-th (perLine 0: one line).
int writeAsciiI16File(const char* path, const short* data, unsigned count, unsigned perLine, char* errText);
