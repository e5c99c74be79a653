#include "mgr_ui_hooks.h"

int MgrUiHooks::addMenuItem(const char*, const char*, int)
{
    return 0;
}

int MgrUiHooks::removeMenuItem(int)
{
    return 0;
}

int MgrUiHooks::renameSubMenu(const char*, const char*, const char*)
{
    return 0;
}

int MgrUiHooks::showMsgWindow(const char*, const char*, va_list)
{
    return 0;
}

MsgBoxAnswer MgrUiHooks::messageBox(const char*, const char*, MsgBoxKind kind)
{
    return kind == MsgBoxKind::QuestionYesNo ? MsgBoxAnswer::No : MsgBoxAnswer::Ok;
}

MgrUiHooks& headlessUiHooks()
{
    static MgrUiHooks hooks;
    return hooks;
}
