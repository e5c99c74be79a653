// Indexed and description file names. Free functions without state; any thread.
#pragma once

#include <string>
#include <string_view>

// path with index inserted before its extension (the last '.' after the last '/'), zero-padded to digits
// as "%0*d" ("frame.txt", 5, 3 gives "frame005.txt"), into out (512 characters). Returns out, or null
// (out empty) when the name does not fit, for negative digits or a null path.
char* makeIndexedFileName(char* out, const char* path, int index, int digits);

// Description-file name of a data file: extension (after the last '.' that follows the last '/') replaced
// by "dsc", or ".dsc" appended. Returns 0, or -1 (out empty) when the result does not fit 512 characters.
int makeDscFileName(const char* dataFile, char* out);

// Extension of a path: the text after the last '.' when that '.' follows the last '/'. Null for a null
// path, a path without such a '.', and an empty extension ("file."): a caller never matches "" against
// anything. The result points into path.
const char* getFileExtension(const char* path);

// A name part taken from hardware (interface name, chip-board id) made safe for a file name: path separators
// and every character outside letters, digits and " -_.+()[]#,=@~" are removed.
std::string safeFileNamePart(std::string_view text);
