#include "mult_data.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "platform/ini.h"
#include "platform/text_copy.h"
#include "plugin_files.h"
#include "plugin_table.h"

namespace {

// An address inside whichever module this code is linked into: the plug-in itself.
const char kModuleAnchor = 0;

int clampToInt(int64_t value)
{
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

} // namespace

std::string placementSection(const std::string& tool)
{
    std::string section = "Position " + tool;
    if (section.size() > 255)
        section.resize(255);
    return section;
}

WindowPlacement readWindowPlacement(const std::string& iniFile, const std::string& tool, const WindowPlacement& current,
                                    PlacementForm form)
{
    const std::string section = placementSection(tool);
    const char* s = section.c_str();
    const char* file = iniFile.c_str();
    WindowPlacement p = current;
    // Minimised and maximised are kept; every other stored value, a hidden state too, shows the window normal.
    const int showCmd = plat::getProfileInt(s, "ShowCmd", SW_SHOW, file);
    p.showCmd = showCmd == SW_SHOWMINIMIZED || showCmd == SW_SHOWMAXIMIZED || showCmd == SW_SHOW ? showCmd : SW_SHOWNORMAL;
    p.left = plat::getProfileInt(s, "Left", current.left, file);
    p.top = plat::getProfileInt(s, "Top", current.top, file);
    if (form == PlacementForm::MoveAndSize) {
        p.right = plat::getProfileInt(s, "Right", current.right, file);
        p.bottom = plat::getProfileInt(s, "Bottom", current.bottom, file);
    } else {
        p.right = clampToInt(int64_t{current.right} + p.left - current.left);
        p.bottom = clampToInt(int64_t{current.bottom} + p.top - current.top);
    }
    return p;
}

int writeWindowPlacement(const std::string& iniFile, const std::string& tool, const WindowPlacement& placement)
{
    const std::string section = placementSection(tool);
    const std::pair<const char*, int> values[] = {{"ShowCmd", placement.showCmd},
                                                  {"Left", placement.left},
                                                  {"Top", placement.top},
                                                  {"Right", placement.right},
                                                  {"Bottom", placement.bottom}};
    for (const auto& [key, value] : values) {
        const int rc = plat::writeProfileString(section.c_str(), key, std::to_string(value).c_str(), iniFile.c_str());
        if (rc != 0)
            return rc;
    }
    return 0;
}

std::string deviceWindowTitle(const std::string& tool, int devId, const _DevInfo& info, bool infoRead)
{
    std::string interfaceName;
    std::string chipboard;
    if (infoRead) {
        if (info.interfaceName)
            interfaceName = info.interfaceName;
        char id[sizeof info.chipboardId];
        plat::copyText(id, sizeof id, std::string_view(info.chipboardId, strnlen(info.chipboardId, sizeof id)));
        chipboard = id;
    }
    std::string title = tool + " " + std::to_string(static_cast<unsigned>(devId)) + " (" + interfaceName + " " +
                        chipboard + ")";
    if (title.size() > 255)
        title.resize(255);
    return title;
}

MultDataBase::MultDataBase(int devId) : TvkDev(pluginTable(), devId), module(&kModuleAnchor)
{
    moduleName = moduleBaseNameOf(module);
    updateIniFile();
    saveIniFile = loadIniFile;
}

MultDataBase::~MultDataBase() = default;

void MultDataBase::updateIniFile()
{
    devInfoRead_ = updateDevInfo() == 0;
    if (fixedIniFile)
        return;
    loadIniFile.clear();
    const _MgrFuncTable* table = pluginTable();
    char folder[MGR_PATH_SIZE] = {};
    if (!table || !table->mgrGetConfigsDir || table->mgrGetConfigsDir(folder) != 0)
        return;
    char path[kPluginPathSize];
    const std::string chipboard(chipboardId, strnlen(chipboardId, sizeof chipboardId));
    if (buildIniPath(folder, path, module, chipboard.c_str()) == 0)
        loadIniFile = path;
}

void MultDataBase::pinIniFile(const char* file)
{
    if (file) {
        loadIniFile = file;
        fixedIniFile = true;
    } else {
        fixedIniFile = false;
        updateIniFile();
    }
    saveIniFile = loadIniFile;
}

WindowPlacement fitToScreens(const WindowPlacement& placement, const ScreenArea* screens, size_t screenCount,
                             int minWidth, int minHeight)
{
    WindowPlacement p = placement;
    int64_t width = std::max<int64_t>(int64_t{p.right} - p.left, std::max(minWidth, 1));
    int64_t height = std::max<int64_t>(int64_t{p.bottom} - p.top, std::max(minHeight, 1));
    if (screenCount == 0 || !screens) {
        p.right = clampToInt(p.left + width);
        p.bottom = clampToInt(p.top + height);
        return p;
    }
    // The screen nearest to the window's top-left corner (distance 0 on it). The squares are taken in
    // doubles: two offsets of up to 2^32 each (a corner stored at the far end of the coordinates) would
    // overflow a 64-bit sum and make the farthest screen look nearest.
    const auto distance = [&](const ScreenArea& s) {
        const int64_t dx = p.left < s.left ? int64_t{s.left} - p.left : p.left >= s.right ? int64_t{p.left} - s.right + 1 : 0;
        const int64_t dy = p.top < s.top ? int64_t{s.top} - p.top : p.top >= s.bottom ? int64_t{p.top} - s.bottom + 1 : 0;
        return double(dx) * double(dx) + double(dy) * double(dy);
    };
    const ScreenArea* best = &screens[0];
    for (size_t i = 1; i < screenCount; ++i)
        if (distance(screens[i]) < distance(*best))
            best = &screens[i];
    const int64_t screenWidth = int64_t{best->right} - best->left;
    const int64_t screenHeight = int64_t{best->bottom} - best->top;
    width = std::min(width, std::max<int64_t>(screenWidth, minWidth));
    height = std::min(height, std::max<int64_t>(screenHeight, minHeight));
    const int64_t left = std::clamp<int64_t>(p.left, best->left, std::max<int64_t>(best->left, best->right - width));
    const int64_t top = std::clamp<int64_t>(p.top, best->top, std::max<int64_t>(best->top, best->bottom - height));
    p.left = clampToInt(left);
    p.top = clampToInt(top);
    p.right = clampToInt(left + width);
    p.bottom = clampToInt(top + height);
    return p;
}
