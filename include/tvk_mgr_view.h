// What the manager and its utilities library TvkMgrUtils see of each other besides the C tables: the hooks
// through which the manager asks for tray menu items, message windows and boxes (the utilities library
// implements them), and the view through which the managed-items window reads what a plug-in registered
// (the manager implements it). The two libraries are built together, so this face is C++; it is
// header-only, so neither library links code of the other.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "tvk_mgr.h"

// ---- what the manager asks of the user interface ----

enum class MsgBoxKind {
    Plain,        // no icon, OK button
    Warning,      // warning icon, OK button
    Error,        // error icon, OK button
    QuestionYesNo // question icon, Yes and No buttons
};

enum class MsgBoxAnswer { Ok, Yes, No };

// The defaults do nothing, so a manager without windows runs as it is; tests replace what they watch.
class MgrUiHooks {
public:
    virtual ~MgrUiHooks() = default;

    // Tray menu. Called with registry locks held: an implementation queues the work to the GUI thread
    // and never waits for it.
    virtual int addMenuItem(const char* /*itemName*/, const char* /*menuPath*/, int /*mgrItemId*/) { return 0; }
    virtual int removeMenuItem(int /*mgrItemId*/) { return 0; }
    // 0, or -1 when the entry was not found.
    virtual int renameSubMenu(const char* /*parentPath*/, const char* /*oldText*/, const char* /*newText*/)
    {
        return 0;
    }

    // Opens a message window titled title with the text that fmt and args give. Called without locks.
    virtual int showMsgWindow(const char* /*title*/, const char* /*fmt*/, va_list /*args*/) { return 0; }

    // Every message box and question of the manager. Called without locks; returns the user's answer.
    virtual MsgBoxAnswer messageBox(const char* /*text*/, const char* /*caption*/, MsgBoxKind kind)
    {
        return kind == MsgBoxKind::QuestionYesNo ? MsgBoxAnswer::No : MsgBoxAnswer::Ok;
    }
};

// ---- what the utilities library reads of a plug-in ----

// Copies of one plug-in's registered items, as the managed-items window lists them.
struct MgrParamView {
    uint32_t type = 0; // _Data_Types
    int32_t count = 0; // -1 = variable
    std::string name;
};

struct MgrFunctionView {
    std::string name;
    std::string description;
    std::vector<MgrParamView> inputs;
    std::vector<MgrParamView> outputs;
    FuncItemCallback callback = nullptr;
};

struct MgrMenuItemView {
    std::string name; // the item text
    std::string menuPath;
    uint32_t id = 0;
    int32_t flags = 0;
    MenuItemCallback callback = nullptr;
    void* userData = nullptr;
};

struct MgrFrameAttribView {
    std::string name;
    std::string description;
    uint32_t type = 0; // _Data_Types
    uint32_t hint = 0;
    FrameAttribCallback callback = nullptr;
};

struct MgrEventView {
    std::string name;
    std::string description;
    std::vector<EventCallback> subscribers; // in subscription order
};

struct MgrChainView {
    std::string name;
    uint32_t id = 0; // for the chain-info function (mgrGetFilterChainInfo)
};

// A loaded plug-in (or pseudo plug-in) as the utilities library reads it, in place. The manager's plug-in
// record implements it with the view as its first base. Each list is taken under the plug-in's own lock
// (an event's subscribers under the event's lock) and holds copies, so no lock is held once a call
// returns; lists are in registration order.
class MgrPluginView {
public:
    // The plug-in's lower-cased name; it lives as long as the plug-in record.
    virtual const std::string& pluginName() const = 0;
    virtual std::vector<MgrFunctionView> functionViews() const = 0;
    virtual std::vector<MgrMenuItemView> menuItemViews() const = 0;
    virtual std::vector<MgrFrameAttribView> frameAttribViews() const = 0;
    virtual std::vector<MgrEventView> eventViews() const = 0;
    virtual std::vector<MgrChainView> chainViews() const = 0;

protected:
    MgrPluginView() = default;
    ~MgrPluginView() = default; // records are owned and deleted by the manager only
    MgrPluginView(const MgrPluginView&) = default;
    MgrPluginView& operator=(const MgrPluginView&) = default;
};

// _IntFuncTable hands out plug-in records as PluginInfo*, a type the utilities library does not see into:
// the pointer it carries is the address of the record's view. The manager converts with tablePluginInfo,
// the utilities library back with pluginView.
inline PluginInfo* tablePluginInfo(MgrPluginView* view)
{
    return reinterpret_cast<PluginInfo*>(view);
}

inline const MgrPluginView* pluginView(const PluginInfo* plugin)
{
    return reinterpret_cast<const MgrPluginView*>(plugin);
}
