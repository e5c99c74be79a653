#include "file_mode.h"

namespace {

struct FileMode {
    const char* name;
    uint32_t flags; // 1 binary, 2 ASCII, 0x1000 sparse [x, y, value], 0x2000 sparse [index, value], 0x8000 no file
};
constexpr FileMode kModes[kFileModeCount] = {
    {"ASCII matrix", 0x0002},  {"ASCII [X,C]", 0x2002},    {"ASCII [X,Y,C]", 0x1002}, {"Binary matrix", 0x0001},
    {"Binary [X,C]", 0x2001}, {"Binary [X,Y,C]", 0x1001}, {"No file", 0x8000},
};

} // namespace

const char* fileModeName(int index) { return index >= 0 && index < kFileModeCount ? kModes[index].name : nullptr; }
uint32_t fileModeFlags(int index) { return index >= 0 && index < kFileModeCount ? kModes[index].flags : 0; }
