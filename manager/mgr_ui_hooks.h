// What the manager asks of the user-interface library: tray menu items, message windows and message
// boxes. The shell implements it over its windows; tests replace it. The defaults do nothing, so a
// manager without windows runs as it is.
#pragma once

#include <cstdarg>

enum class MsgBoxKind {
    Plain,        // no icon, OK button
    Warning,      // warning icon, OK button
    Error,        // error icon, OK button
    QuestionYesNo // question icon, Yes and No buttons
};

enum class MsgBoxAnswer { Ok, Yes, No };

class MgrUiHooks {
public:
    virtual ~MgrUiHooks() = default;

    // Tray menu. Called with registry locks held: an implementation queues the work to the GUI thread
    // and never waits for it.
    virtual int addMenuItem(const char* itemName, const char* menuPath, int mgrItemId);
    virtual int removeMenuItem(int mgrItemId);
    // 0, or -1 when the entry was not found.
    virtual int renameSubMenu(const char* parentPath, const char* oldText, const char* newText);

    // Opens a message window titled title with the text that fmt and args give. Called without locks.
    virtual int showMsgWindow(const char* title, const char* fmt, va_list args);

    // Every message box and question of the manager. Called without locks; returns the user's answer.
    virtual MsgBoxAnswer messageBox(const char* text, const char* caption, MsgBoxKind kind);
};

// The hooks used when nobody provides any: no windows, boxes answered with OK / No.
MgrUiHooks& headlessUiHooks();
