// Shared by the manager's tests: a scratch folder, a user interface that records what the manager asks
// of it, and a manager core (log + registries) on top of them.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "mgr_log.h"
#include "ombrel_test_support.h"
#include "mgr_ui_hooks.h"
#include "plugin_mgr.h"

namespace mgrtest {

inline std::string scratchDir(const std::string& name)
{
    return ombrel_test::scratchDir("mgr-" + name);
}

using ombrel_test::readFile;
using ombrel_test::writeFile;

struct MsgBox {
    std::string text;
    std::string caption;
    MsgBoxKind kind;
};

struct MenuCall {
    std::string op; // "add", "remove", "rename"
    std::string a, b;
    int id = 0;
};

// Records every request; answers boxes with `answer`, renames with `renameResult`.
class RecordingUi : public MgrUiHooks {
public:
    int addMenuItem(const char* itemName, const char* menuPath, int mgrItemId) override
    {
        std::lock_guard lock(m_);
        menuCalls.push_back({"add", itemName, menuPath, mgrItemId});
        return 0;
    }
    int removeMenuItem(int mgrItemId) override
    {
        std::lock_guard lock(m_);
        menuCalls.push_back({"remove", {}, {}, mgrItemId});
        return 0;
    }
    int renameSubMenu(const char* parentPath, const char* oldText, const char* newText) override
    {
        std::lock_guard lock(m_);
        menuCalls.push_back({"rename", oldText, newText, parentPath ? 1 : 0});
        return renameResult;
    }
    int showMsgWindow(const char* title, const char* fmt, va_list args) override
    {
        char text[4096];
        std::vsnprintf(text, sizeof text, fmt, args);
        std::lock_guard lock(m_);
        windows.push_back({text, title, MsgBoxKind::Plain});
        return 0;
    }
    MsgBoxAnswer messageBox(const char* text, const char* caption, MsgBoxKind kind) override
    {
        std::lock_guard lock(m_);
        boxes.push_back({text, caption, kind});
        return answer;
    }

    std::vector<MsgBox> boxesCopy()
    {
        std::lock_guard lock(m_);
        return boxes;
    }

    std::vector<MsgBox> boxes;
    std::vector<MsgBox> windows;
    std::vector<MenuCall> menuCalls;
    MsgBoxAnswer answer = MsgBoxAnswer::Ok;
    int renameResult = 0;

private:
    std::mutex m_; // guards the records against callers on several threads
};

// The messages that the log queued, oldest first (drains the queue).
inline std::vector<std::string> drainMessages(Log& log)
{
    std::vector<std::string> messages;
    while (LogItem* item = log.peekItem()) {
        messages.push_back(item->message);
        log.popItem();
    }
    return messages;
}

// Log + registries, with the log file in a scratch folder of its own.
class ManagerCore {
public:
    explicit ManagerCore(const std::string& name) : dir(scratchDir(name)), log(ui, dir + "/log.txt"), plugins(log, ui)
    {}

    std::vector<std::string> messages() { return drainMessages(log); }

    // A plug-in registered as the loader does before calling its entry.
    std::shared_ptr<PluginInfo> addPlugin(const std::string& name)
    {
        std::shared_ptr<PluginInfo> plugin;
        plugins.registerPlugin(name, nullptr, &plugin);
        return plugin;
    }

    std::string dir;
    RecordingUi ui;
    Log log;
    PluginMgr plugins;
};

// A record for mgrAddFuncItem.
inline _FuncItem funcItem(const char* plugin, const char* function, FuncItemCallback callback, void* userData = nullptr,
                          uint32_t flags = 0)
{
    _FuncItem item{};
    std::snprintf(item.plugin, sizeof item.plugin, "%s", plugin);
    std::snprintf(item.function, sizeof item.function, "%s", function);
    item.callback = callback;
    item.userData = userData;
    item.flags = flags;
    return item;
}

inline int noopFunction(void*, const _FuncSlot*, void* const*)
{
    return 0;
}

inline void noopMenu(void*) {}

} // namespace mgrtest
