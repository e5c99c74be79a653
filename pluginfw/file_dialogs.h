// The plug-ins' shared window helpers: file and folder pickers for paths shown in edits, the value
// column of a two-column list, and the update of pop-up menu items through the dialog's handlers.
// GUI thread only.
#pragma once

#include <QString>

class QAction;
class QLineEdit;
class QMenu;
class QTreeWidget;
class QWidget;

// A save-mode file picker for the path shown in edit ("All files (*.*)", no default extension). It opens
// in the folder of that path when the path holds a '/' after its first character. On OK path and the edit
// get the chosen path; on Cancel nothing changes.
void browseSaveFile(QString& path, QLineEdit* edit);

// A folder picker starting at start (or, when empty, the current folder). Chosen folder into out (512
// characters); false on Cancel, for a null out, and for a path that does not fit (out then empty).
bool browseForFolder(QWidget* owner, const char* start, char* out);

// printf-style text into column 1 (the value column) of row item of list; nothing for a row that does
// not exist.
void setListValueText(QTreeWidget* list, int item, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Dialogs with pop-up menus decide on their items as command-update handlers do.
class CmdUIHandler {
public:
    // Enables, checks or renames action; false when this dialog has no handler for it.
    virtual bool OnUpdateCmdUI(QAction* action) = 0;

protected:
    ~CmdUIHandler() = default;
};

// Lets the dialog (when it is a CmdUIHandler) decide on every item of popup in order; items it has no
// handler for are disabled, separators and sub-menus left alone.
void updatePopupMenuCmdUI(QWidget* dialog, QMenu* popup);
// Runs updatePopupMenuCmdUI each time popup is about to show.
void connectPopupMenuCmdUI(QWidget* dialog, QMenu* popup);
