// Popup-menu helpers: put a command item into a menu under a path of submenus written as one text with
// '|' between the levels ("Tools|Scans"). A command item carries its command id as the action's data().
#pragma once

class QMenu;
class QString;

// Position of the first item of menu whose text equals text exactly (case-sensitive, '&' included);
// items without text (separators) are skipped. -1 when there is none or menu is null.
int findSubMenuByText(const QMenu* menu, const QString& text);

// Appends the command itemText with commandId to the submenu that path names under menu, creating the
// submenus that are missing (each new one at the top of its parent). An existing item of a level's name
// that is no submenu does not count: a new submenu of that name is made. Once one level is missing,
// every deeper level is made new. A null or empty path appends to menu itself; empty levels ("A||B")
// are skipped. 0, or -1 for a null menu.
int addMenuItemByPath(QMenu* menu, const QString& itemText, const QString& path, int commandId);
