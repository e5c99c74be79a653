// The persisted settings of a preview window: section "Preview" of the window's ini file, read when the
// window is made and written when it goes, every key in one write in the order below. Integers are read
// as the profile-string layer reads them (leading digits), doubles as their leading number; a missing,
// empty or unusable value keeps the default. Numbers never depend on the user's locale. An empty path
// keeps nothing: reading gives the defaults and writing writes nothing. No Qt here.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct PreviewSettings {
    int visible = 1;
    int countRate = 0;
    int autoRange = 0;
    int autoRangeType = 0; // 0 min-max, 1 fractiles 0.01/0.99, 2 fractiles 0.05/0.95
    int minSliderLocked = 0;
    int maxSliderLocked = 0;
    int showHistogram = 1;
    int histAutoRange = 1; // kept, no effect
    int histRefine = 1;
    int underRangeWarning = 0;
    int overRangeWarning = 0;
    int loadFrameRange = 1;
    int saveFrameRange = 1;
    int ignoreMasked = 0;
    int saveImageFlags = 7; // bit 0 border, bit 1 labels, bit 2 colour bar
    int saveImageSize = 0;  // export size mode 0..3
    int saveImageWidth = 512;
    int saveImageHeight = 512;
    int autoUpdate = 1;
    int colorMap = 0; // 0 Gray, 1 Jet, 2 Hot, 3 Cool
    double min = 0;
    double max = 0;
    int mirror = 0;
    int rotation = 0; // 0, 90, 180, 270
    int interpolateImage = 0;
    int showGrid = 0;
    int maxAutoUpdateMode = 4; // 0..5: 1, 2, 5, 10, 20 per second, unlimited
    double maskPixVal = 1.0;
    double thlShiftPixVal = 1.0;
    // Window placement: flags, show command and the normal rectangle (Right, Bottom exclusive).
    int placementFlags = 0;
    int showCmd = 5;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool hasPlacement = false; // all four edges were read
    // The level range is known: stored ("Min" and "Max" read, Max above Min) or chosen since. Until then a
    // frame that holds more than one value is shown over its own range (0..0 would draw it black).
    bool levelsGiven = false;

    // Defaults for keys that are missing; values out of their range also give the default.
    void load(const std::string& iniPath);
    // 0, nothing for an empty path, else the ini layer's error code (errorText filled).
    int save(const std::string& iniPath, std::string* errorText = nullptr) const;
    // The section's entries in table order, as save writes them.
    std::vector<std::pair<std::string, std::string>> entries() const;
};
