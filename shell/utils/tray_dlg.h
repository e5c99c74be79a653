// The tray window: the start-up splash and the owner of the tray icon with its menu. Where the desktop
// offers no tray, a small window with the same menu takes the icon's place, so the suite is always
// reachable. Plug-in menu items are routed to the manager by their command ids (menu_ids.h).
#pragma once

#include <string>

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include "menu_ids.h"

class QCheckBox;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QAction;
class CSmartStatic;
class CHyperLink;

// Stands for the tray icon where the desktop has none.
class CTrayFallbackWnd : public QWidget {
    Q_OBJECT
public:
    explicit CTrayFallbackWnd(QMenu* menu);
    QPushButton* menuButton() const { return button_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QMenu* menu_;
    QPushButton* button_ = nullptr;
};

class CTrayDlg : public QDialog {
    Q_OBJECT
public:
    // Commands of the tray menu.
    enum Command {
        ID_APP_ABOUT = 32771,
        ID_APP_EXIT = 32772,
        ID_ADD_PLUGIN = 32773,
        ID_SHOW_LOG = 32780,
        ID_SHOW_MANAGED_ITEMS = 32781,
        ID_FIND_NEW_TVKS = 32792,
    };
    static constexpr int kSplashTick = 1000;   // ms
    static constexpr int kSplashLimit = 3000;  // hidden once the elapsed time exceeds this

    // Reads the splash flag from [Splash screen] "Disable" of iniPath and builds the menu, the tray
    // icon (or the fallback window) and the splash. The window itself is not shown yet.
    explicit CTrayDlg(std::string iniPath);
    // Writes the splash flag back.
    ~CTrayDlg() override;

    // Shows the splash (unless disabled) and starts its timer.
    void startSplash();
    bool splashDisabled() const { return splashDisabled_; }
    void OnSplashTimer();

    // Runs a command of the tray menu or a plug-in item (33001-34000); unknown commands do nothing.
    void OnCommand(int commandId);
    // Exit: the tray icon goes, the manager shuts down (mgrExitManager) and the event loop is told to
    // quit. Runs once; later calls do nothing.
    void OnExit();
    bool exiting() const { return exiting_; }

    // Plug-in items (the manager's registrations). Add: 0, or -1 when every command id is in use.
    int addMenuItem(const QString& itemName, const QString& menuPath, int mgrItemId);
    int removeMenuItem(int mgrItemId);
    int renameMenuItem(int mgrItemId, const QString& newText);
    // Renames the sub-menu entry oldText under the '|'-separated parentPath (null or empty: the top):
    // 0, or -1 when a component of the path or the entry is missing.
    int renameSubMenu(const char* parentPath, const QString& oldText, const QString& newText);

    QMenu* menu() const { return menu_; }
    const MenuIdMap& menuIds() const { return ids_; }
    QAction* findCommand(int commandId) const;
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    CTrayFallbackWnd* fallbackWindow() const { return fallback_; }
    QCheckBox* disableBox() const { return disable_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void buildSplash();
    void addCommand(const QString& text, int commandId);
    void OnAddPlugin();
    void OnAbout();

    std::string iniPath_;
    QMenu* menu_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QPointer<CTrayFallbackWnd> fallback_;
    CSmartStatic* title_ = nullptr;
    CSmartStatic* subtitle_ = nullptr;
    CHyperLink* folderLink_ = nullptr;
    CHyperLink* logLink_ = nullptr;
    QCheckBox* disable_ = nullptr;
    QTimer splashTimer_;
    int splashElapsed_ = 0;
    bool splashDisabled_ = false;
    bool exiting_ = false;
    MenuIdMap ids_;
};
