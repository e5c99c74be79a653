// What the device control window's menu commands compute without windows: the pixel-configuration bit
// edits, the file arguments of the ASCII pixel-configuration commands, the Tools menu built from the
// manager's menu items, and which commands a window offers in which state. No Qt.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tvk_mgr.h"

// Command ids of the window's menu.
enum CtrlCommand : int {
    CMD_RECONNECT = 32856,
    CMD_REINIT = 32839,
    CMD_REVIVE = 32857,
    CMD_LOAD_CONFIG = 32772,
    CMD_SAVE_CONFIG = 32773,
    CMD_SAVE_CONFIG_DEFAULT = 32846,
    CMD_SET_MODE_FIRST = 32951, // .. 32954: modes 0..3
    CMD_RESET_ALL = 32879,
    CMD_RESET_FIRST = 32880, // .. 32883: mask, test, low and high threshold adjustment bits
    CMD_LOAD_BINARY = 32803,
    CMD_SAVE_BINARY = 32804,
    CMD_LOAD_ASCII_FIRST = 32806, // .. 32810
    CMD_SAVE_ASCII_FIRST = 32812, // .. 32816
    CMD_LOAD_FRAME = 32840,
    CMD_SAVE_FRAMES = 32844,
    CMD_EXIT = 32771,
    CMD_START = 32789,
    CMD_ABORT = 32790,
    CMD_TEST_PULSES = 32845,
    CMD_DEVICE_SETTINGS = 32775,
    CMD_PREVIEW_VISIBLE = 32780,
    CMD_AUTOSTART = 32818,
    CMD_REFRESH_DACS = 32819,
    CMD_REFRESH_PIXCFG = 32821,
    CMD_LOAD_SAVE_DACS = 32848,
    CMD_TOOLS_FIRST = 33001,
    CMD_TOOLS_LAST = 34000,
};

// Whether command id is offered while the window is idle (or an acquisition runs) on a chip type.
bool commandEnabled(int id, bool idle, int chipType);

// Kinds of setPixelBits: 0 mask, 1 test, 2 low and 3 high threshold adjustment bits set; 4..7 mode 0..3.
// Applies the kind to every byte of cfg.
void applyPixelBits(std::vector<uint8_t>& cfg, int kind, int chipType);
// The same on the device's pixel configuration (all chips): 0 or the failing call's code.
int setPixelBits(const _MgrFuncTable* mgr, int devIndex, int kind);

// The four file arguments of an ASCII pixel-configuration command: path at place min(item, 3) (item = the
// command's position in its submenu), the others null.
std::array<const char*, 4> asciiFileArgs(int item, const char* path);

struct ToolsItem {
    int commandId;
    int managerId;
    std::string path; // submenu path under Tools ("" for a plain item)
    std::string text;
    bool shown; // false for this plug-in's own item
};
// The Tools menu from the manager's menu items (id, full name) under the device's prefix (its menu path
// and "|"); the command ids run from CMD_TOOLS_FIRST, one per item under the prefix, shown or not, and
// stop at CMD_TOOLS_LAST.
std::vector<ToolsItem> toolsItems(const std::string& prefix, const std::vector<std::pair<int, std::string>>& items);
// The manager's menu items, in its order.
std::vector<std::pair<int, std::string>> managerMenuItems(const _MgrFuncTable* mgr);

// The text of the overwrite question for the names a series writes under base, when one of them exists
// (checked with exists); empty when none does.
std::string overwriteQuestion(const std::string& base, const std::vector<std::string>& names,
                              bool (*exists)(const std::string&));
