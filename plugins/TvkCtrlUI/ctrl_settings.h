// The persisted settings of a device control window: section "Main" of the device's ini file, the
// acquisition worker's keys first, then the window's, every key in one write in a fixed order. Numbers are
// read and written without the user's locale (doubles in the shortest text that reads back exactly). A
// missing key, or a value outside what the window's edit accepts, keeps the default. No Qt here.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "acq_control.h"

struct CtrlSettings {
    AcqSettings acq;
    int autostart = 1;
    int loadSaveDacsWithPixCfg = 0;
    int fileOutputMode = 0; // format index of the raw output (file_mode.h)
    int filtOutputMode = 0; // format index of the filtered output
    int rawOutput = 0;      // "To files:"
    std::string filterChain; // name of the chosen filter chain
    // Window placement: flags, show command and the position; the size is the window's own.
    int placementFlags = 0;
    int showCmd = 5;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool hasPosition = false; // "Left" and "Top" were read

    void load(const std::string& iniPath);
    // 0, or the ini layer's error code (errorText filled). An empty path writes nothing. A text holding a
    // line break is not written (-2, the other keys are).
    int save(const std::string& iniPath, std::string* errorText = nullptr) const;
    // The section's entries as save writes them.
    std::vector<std::pair<std::string, std::string>> entries() const;
};

// "Autostart" of the device's ini file (1 when missing), as the plug-in reads it at "Start".
int readAutostart(const std::string& iniPath);
