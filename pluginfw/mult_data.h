// The window-free part of the plug-in skeletons: a per-device settings file (MultDataBase), the caption
// of a device's tool window, and the window placement kept in a "Position <tool>" section.
// No windows here: the skeletons that own the windows (mult_data_wnd.h, simple_plugin.h) build on it.
#pragma once

#include <string>

#include "dev_lock.h"

// Show states as the placement files keep them ("ShowCmd").
enum PluginShowCmd : int {
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_SHOWMAXIMIZED = 3,
    SW_SHOW = 5, // shown in its current state; a file without "ShowCmd" gives this
};

// A window's placement: the show state and the outer rectangle of the normal (restored) window in screen
// coordinates, right and bottom exclusive (right = left + width).
struct WindowPlacement {
    int showCmd = SW_SHOWNORMAL;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

enum class PlacementForm {
    MoveOnly,    // "Left" and "Top" move the window; it keeps its current size
    MoveAndSize, // "Right" and "Bottom" are read too
};

// "Position <tool>" (the section name cut to 255 characters).
std::string placementSection(const std::string& tool);

// The placement stored for tool in iniFile; every key that is missing or unreadable keeps the value of
// current ("ShowCmd" then gives SW_SHOW). The move-only form shifts right and bottom with left and top.
WindowPlacement readWindowPlacement(const std::string& iniFile, const std::string& tool, const WindowPlacement& current,
                                    PlacementForm form);

// Writes "ShowCmd", "Left", "Top", "Right", "Bottom" as signed decimal text; 0 or the ini layer's code.
int writeWindowPlacement(const std::string& iniFile, const std::string& tool, const WindowPlacement& placement);

// Caption of a device's tool window: "<tool> <devId> (<interface name> <chip-board id>)", cut to 255
// characters; both texts empty when the device's description could not be read.
std::string deviceWindowTitle(const std::string& tool, int devId, const _DevInfo& info, bool infoRead);

// The per-device settings file of a multi-device plug-in: "<module>_<chip-board id>.ini" in the
// configuration folder, read from loadIniFile and written to saveIniFile. The two differ only while a
// device change is handed over (settings and placement go to the old chip board's file, and come from the
// new one). The manager's table is the plug-in's (plugin_table.h).
class MultDataBase : public TvkDev {
public:
    explicit MultDataBase(int devId);
    ~MultDataBase() override;

    // Re-reads the device's description and, unless pinned, points loadIniFile at its chip board's file
    // (empty when the path cannot be made).
    void updateIniFile();

    // Pins the settings file to file (for the plug-in's own functions), or unpins it with null; in both
    // cases saveIniFile follows loadIniFile.
    void pinIniFile(const char* file);

    // Whether the last read of the device's description succeeded.
    bool devInfoRead() const { return devInfoRead_; }

    std::string loadIniFile;
    std::string saveIniFile;
    std::string moduleName;      // the plug-in's module file name without folder and extension
    const void* module;          // an address inside the plug-in's module
    bool fixedIniFile = false;   // set while the plug-in has pinned loadIniFile

private:
    bool devInfoRead_ = false;
};

// A screen's available area (right and bottom exclusive).
struct ScreenArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// A stored placement made usable: at least minWidth x minHeight, no larger than the screen nearest to it,
// and moved wholly onto that screen. Without screens the placement only gets its minimum size.
WindowPlacement fitToScreens(const WindowPlacement& placement, const ScreenArea* screens, size_t screenCount,
                             int minWidth, int minHeight);
