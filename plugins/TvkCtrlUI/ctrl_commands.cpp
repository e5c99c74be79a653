#include "ctrl_commands.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "settings_model.h"

bool commandEnabled(int id, bool idle, int chipType)
{
    const bool type3 = chipType == 3;
    if (id >= CMD_SET_MODE_FIRST && id <= CMD_SET_MODE_FIRST + 3)
        return idle && type3;
    if (id == CMD_RESET_FIRST + 3)
        return idle && !type3;
    if (id == CMD_LOAD_ASCII_FIRST + 3 || id == CMD_SAVE_ASCII_FIRST + 3)
        return idle && !type3;
    if (id == CMD_LOAD_ASCII_FIRST + 4 || id == CMD_SAVE_ASCII_FIRST + 4)
        return idle && type3;
    if (id >= CMD_TOOLS_FIRST && id <= CMD_TOOLS_LAST)
        return true;
    switch (id) {
    case CMD_SAVE_FRAMES:
    case CMD_EXIT:
    case CMD_TEST_PULSES:
    case CMD_PREVIEW_VISIBLE:
    case CMD_AUTOSTART:
    case CMD_REFRESH_DACS:
    case CMD_REFRESH_PIXCFG:
    case CMD_LOAD_SAVE_DACS:
        return true;
    case CMD_ABORT:
        return !idle;
    default:
        return idle;
    }
}

void applyPixelBits(std::vector<uint8_t>& cfg, int kind, int chipType)
{
    for (uint8_t& b : cfg) {
        switch (kind) {
        case 0: b |= 0x01; break;
        case 1: b |= 0x02; break;
        case 2: b |= chipType == 3 ? 0x3C : 0x1C; break;
        case 3: b |= 0xE0; break;
        case 4: case 5: case 6: case 7: b = uint8_t((b & 0x3F) | ((kind - 4) << 6)); break;
        default: break;
        }
    }
}

int setPixelBits(const _MgrFuncTable* mgr, int devIndex, int kind)
{
    _DevInfo info{};
    if (const int rc = mgr->tvkCtrlGetDevInfo(unsigned(devIndex), &info))
        return rc;
    const uint32_t pixels = devicePixelCount(info);
    if (pixels == 0)
        return -2;
    std::vector<uint8_t> cfg;
    try {
        cfg.resize(pixels);
    } catch (const std::bad_alloc&) {
        return -3;
    }
    const uint32_t size = uint32_t(cfg.size());
    if (const int rc = mgr->tvkCtrlGetPixelsCfg(unsigned(devIndex), cfg.data(), size, -1))
        return rc;
    applyPixelBits(cfg, kind, int(info.chipType));
    return mgr->tvkCtrlSetPixelsCfg(unsigned(devIndex), cfg.data(), size, -1);
}

std::array<const char*, 4> asciiFileArgs(int item, const char* path)
{
    std::array<const char*, 4> args{};
    args[size_t(std::clamp(item, 0, 3))] = path;
    return args;
}

std::vector<ToolsItem> toolsItems(const std::string& prefix, const std::vector<std::pair<int, std::string>>& items)
{
    std::vector<ToolsItem> out;
    int command = CMD_TOOLS_FIRST;
    for (const auto& [id, name] : items) {
        if (name.compare(0, prefix.size(), prefix) != 0 || command > CMD_TOOLS_LAST)
            continue;
        const std::string rest = name.substr(prefix.size());
        ToolsItem item{command++, id, "", rest, true};
        if (const size_t bar = rest.rfind('|'); bar != std::string::npos) {
            item.path = rest.substr(0, bar);
            item.text = rest.substr(bar + 1);
        } else if (rest == "Tarvik Control") {
            item.shown = false;
        }
        out.push_back(std::move(item));
    }
    return out;
}

std::vector<std::pair<int, std::string>> managerMenuItems(const _MgrFuncTable* mgr)
{
    std::vector<std::pair<int, std::string>> items;
    int id = 0;
    char name[MGR_MENU_NAME_SIZE] = {};
    for (int rc = mgr->mgrGetFirstMenuItem(&id, name); rc == 0; rc = mgr->mgrGetNextMenuItem(&id, name))
        items.emplace_back(id, name);
    return items;
}

std::string overwriteQuestion(const std::string& base, const std::vector<std::string>& names,
                              bool (*exists)(const std::string&))
{
    for (const std::string& name : names) {
        if (!exists(name))
            continue;
        if (names.size() == 1)
            return "File " + name + " already exists. Do you want to continue and overwrite it?";
        return "Some files with base file name " + base +
               " already exist. Do you want to continue and overwrite them?";
    }
    return {};
}
