// What the manager asks of the user interface, over the library's windows and the toolkit's box.
#include "uikit/message_box.h"
#include "tvk_mgr_utils.h"
#include "tvk_mgr_view.h"

namespace {

class UtilsUiHooks : public MgrUiHooks {
public:
    int addMenuItem(const char* itemName, const char* menuPath, int mgrItemId) override
    {
        return utilsAddMenuItem(itemName, menuPath, mgrItemId);
    }
    int removeMenuItem(int mgrItemId) override { return utilsRemoveMenuItem(mgrItemId); }
    int renameSubMenu(const char* parentPath, const char* oldText, const char* newText) override
    {
        return utilsRenameSubMenu(parentPath, oldText, newText);
    }
    int showMsgWindow(const char* title, const char* fmt, va_list args) override
    {
        return ::showMsgWindow(title, fmt, args);
    }
    MsgBoxAnswer messageBox(const char* text, const char* caption, MsgBoxKind kind) override
    {
        unsigned type = MSGBOX_OK;
        switch (kind) {
        case MsgBoxKind::Plain: break;
        case MsgBoxKind::Warning: type |= MSGBOX_ICONWARNING; break;
        case MsgBoxKind::Error: type |= MSGBOX_ICONERROR; break;
        case MsgBoxKind::QuestionYesNo: type = MSGBOX_YESNO | MSGBOX_ICONQUESTION; break;
        }
        const int answer = ::messageBox(nullptr, QString::fromUtf8(text ? text : ""),
                                        QString::fromUtf8(caption ? caption : ""), type);
        if (kind != MsgBoxKind::QuestionYesNo)
            return MsgBoxAnswer::Ok;
        // A question asked from another thread gets no answer: it counts as No.
        return answer == MSGBOX_IDYES ? MsgBoxAnswer::Yes : MsgBoxAnswer::No;
    }
};

} // namespace

MgrUiHooks* utilsUiHooks(void)
{
    static UtilsUiHooks hooks;
    return &hooks;
}
