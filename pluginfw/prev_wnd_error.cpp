#include "prev_wnd_error.h"

#include <QString>

#include "prev_wnd_api.h"
#include "uikit/message_box.h"

void prevWndErrorCallback(uint32_t previewId)
{
    char text[kPrevWndErrorSize] = {};
    if (prevWndGetLastErr(previewId, text) != 0)
        return;
    text[kPrevWndErrorSize - 1] = '\0';
    messageBox(nullptr, QString::fromUtf8(text), QString(), MSGBOX_OK);
}
