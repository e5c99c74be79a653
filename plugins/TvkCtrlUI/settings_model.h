// What the device settings sheet computes without windows: names of acquisition modes and chip types,
// the digital test's texts and the masking of its bad pixels, the DAC page's layout and value parsing and
// its apply, and the interface page's item rows. No Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tvk_mgr.h"

// The pixel count a device's information gives (the hardware library's), when a device can have it: up to
// 64 chips of 256 x 256 pixels; else 0.
uint32_t devicePixelCount(const _DevInfo& info);

const char* acqModeName(int mode);   // null for a value outside 1, 2, 4, 8, 16
const char* chipTypeName(int type);  // "Unknown" outside 1..3

// "%u\t(%.2f%%)" of good and bad pixels out of total.
std::string goodPixelsText(uint32_t good, uint32_t total);
std::string badPixelsText(uint32_t good, uint32_t total);

// The digital test with its bad pixels masked: 0 and good; or the failing code. mask: clear the mask bit
// of every pixel the test's frame marks (the pixel configuration read and written in the frame's own
// chip order); the frame is closed on every path. lockFailed is set when the frame could not be locked.
int runDigitalTest(const _MgrFuncTable* mgr, int dev, bool mask, bool showInPreview, int* good, bool* lockFailed);

// Grid place of DAC i of count: column 0 or 1, row in that column (the first column holds (count+1)/2).
struct DacPlace {
    int column, row;
};
DacPlace dacPlace(int i, int count);
// An edit's text as a DAC value: the leading decimal number (empty text: 0); -1 when the text starts
// with no number, or the value exceeds max.
int64_t parseDacText(const std::string& text, uint32_t max);
// Sends the values of one chip: the device's current DACs of every chip are read again and only chip's
// are replaced, so that changes another client made to the other chips stay. 0 or the failing code.
int applyChipDacs(const _MgrFuncTable* mgr, int dev, int chip, const std::vector<uint16_t>& values);

// Upper-case type names of the interface page ("BOOL" .. "STRING", "UKNOWN").
const char* hwTypeName(uint32_t type);

struct HwItemRow {
    int index = 0; // of the item in the library
    std::string value, description, type, count;
    uint32_t flags = 0;
};
// The device's hardware-info items as rows; an item that cannot be read has none, so a row's item is its
// index, not its position.
std::vector<HwItemRow> hwItemRows(const _MgrFuncTable* mgr, int dev);
// Converts text into item index's value and sets it: 0, -1 when the text does not convert (nothing set),
// or the library's code.
int setHwItemText(const _MgrFuncTable* mgr, int dev, int index, const std::string& text);
