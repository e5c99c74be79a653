// The formats in which frames can be written to files, as the file-mode combo boxes offer them: a format
// index (0..6) and its frame-file flags. No Qt.
#pragma once

#include <cstdint>

constexpr int kFileModeCount = 7;

// Text of format index i ("ASCII matrix" .. "No file"); null outside 0..6.
const char* fileModeName(int index);
// Frame-file flags of format index i; 0 outside 0..6 (-1 is no selection).
uint32_t fileModeFlags(int index);
