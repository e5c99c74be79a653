#include "tray_dlg.h"

#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "app_icon.h"
#include "hyper_link.h"
#include "log_dlg.h"
#include "uikit/menu_path.h"
#include "uikit/message_box.h"
#include "platform/ini.h"
#include "uikit/smart_static.h"
#include "utils_app.h"

namespace {

const char kSplashSection[] = "Splash screen";
const char kSplashKey[] = "Disable";
constexpr int kExitRetryMs = 50; // long enough for an ended dialog's loop to return before Exit comes back

void assertGuiThread()
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
}

QAction* findCommandIn(const QMenu* menu, int commandId)
{
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu()) {
            if (QAction* found = findCommandIn(sub, commandId))
                return found;
        } else if (!action->isSeparator() && action->data().isValid() && action->data().toInt() == commandId) {
            return action;
        }
    }
    return nullptr;
}

} // namespace

// ---- CTrayFallbackWnd ----

CTrayFallbackWnd::CTrayFallbackWnd(QMenu* menu) : QWidget(nullptr, Qt::Window), menu_(menu)
{
    assertGuiThread();
    setWindowTitle(QStringLiteral("Tarvik Loader"));
    setWindowIcon(appIcon());
    auto* text = new QLabel(QStringLiteral("Tarvik Loader is running."), this);
    button_ = new QPushButton(QStringLiteral("Menu"), this);
    button_->setMenu(menu_);
    auto* layout = new QVBoxLayout(this);
    // The layout places the controls but sets no size limits on the window: not every platform takes
    // them (the headless one warns), and the initial size below is the layout's preferred one.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(text);
    layout->addWidget(button_);
    adjustSize();
}

void CTrayFallbackWnd::closeEvent(QCloseEvent* event)
{
    // This window is the only way to the menu: closing it only minimises it (Exit ends the suite).
    event->ignore();
    showMinimized();
}

void CTrayFallbackWnd::contextMenuEvent(QContextMenuEvent* event)
{
    menu_->popup(event->globalPos());
}

// ---- CTrayDlg ----

CTrayDlg::CTrayDlg(std::string iniPath)
    : QDialog(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), iniPath_(std::move(iniPath))
{
    assertGuiThread();
    setWindowTitle(QStringLiteral("Tarvik Loader"));
    setWindowIcon(appIcon());
    splashDisabled_ = plat::getProfileInt(kSplashSection, kSplashKey, 0, iniPath_.c_str()) != 0;
    buildSplash();
    buildMenu();

    splashTimer_.setInterval(kSplashTick);
    connect(&splashTimer_, &QTimer::timeout, this, &CTrayDlg::OnSplashTimer);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayIcon_ = new QSystemTrayIcon(appIcon(), this);
        trayIcon_->setToolTip(QStringLiteral("Tarvik Loader"));
        trayIcon_->setContextMenu(menu_); // the right button opens it at the cursor; the left does nothing
        trayIcon_->show();
    } else {
        fallback_ = new CTrayFallbackWnd(menu_);
        fallback_->show();
    }
}

CTrayDlg::~CTrayDlg()
{
    assertGuiThread();
    splashTimer_.stop();
    if (trayIcon_)
        trayIcon_->hide();
    delete fallback_.data();
    std::string error;
    if (plat::writeProfileString(kSplashSection, kSplashKey, splashDisabled_ ? "1" : "0", iniPath_.c_str(),
                                 &error) != 0)
        std::fprintf(stderr, "Cannot save the splash setting: %s\n", error.c_str());
    delete menu_;
}

void CTrayDlg::buildSplash()
{
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    auto* picture = new QLabel(this);
    picture->setPixmap(splashPicture(QSize(400, 220)));

    title_ = new CSmartStatic(QStringLiteral("Tarvik Loader"), this);
    QFont bold = title_->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 2);
    title_->setFont(bold);
    title_->setTextColor(QColor(16, 32, 64));
    subtitle_ = new CSmartStatic(QStringLiteral("Control and read-out of hybrid pixel detectors"), this);
    subtitle_->setTextColor(QColor(70, 70, 70));

    const QString folder = QFileInfo(QString::fromStdString(iniPath_)).absolutePath();
    folderLink_ = new CHyperLink(QStringLiteral("Program folder"), this);
    folderLink_->setLink(QUrl::fromLocalFile(folder));
    logLink_ = new CHyperLink(QStringLiteral("Log file"), this);
    logLink_->setLink(QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("log.txt"))));

    disable_ = new QCheckBox(QStringLiteral("Disable"), this);
    disable_->setChecked(splashDisabled_);
    connect(disable_, &QCheckBox::toggled, this, [this](bool on) { splashDisabled_ = on; });

    auto* links = new QHBoxLayout;
    links->addWidget(folderLink_);
    links->addSpacing(16);
    links->addWidget(logLink_);
    links->addStretch(1);
    links->addWidget(disable_);
    auto* layout = new QVBoxLayout(this);
    // The layout places the controls but sets no size limits on the window: not every platform takes
    // them (the headless one warns), and the initial size below is the layout's preferred one.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(picture);
    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(12, 4, 12, 0);
    texts->addWidget(title_);
    texts->addWidget(subtitle_);
    texts->addLayout(links);
    layout->addLayout(texts);
    adjustSize();
}

void CTrayDlg::addCommand(const QString& text, int commandId)
{
    QAction* action = menu_->addAction(text);
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] { OnCommand(commandId); });
}

void CTrayDlg::buildMenu()
{
    menu_ = new QMenu;
    menu_->setObjectName(QStringLiteral("trayMenu"));
    menu_->addSeparator();
    addCommand(QStringLiteral("&Add Plugin"), ID_ADD_PLUGIN);
    addCommand(QStringLiteral("Show &Managed Items"), ID_SHOW_MANAGED_ITEMS);
    addCommand(QStringLiteral("Show &Log"), ID_SHOW_LOG);
    menu_->addSeparator();
    addCommand(QStringLiteral("&Find New Tvk Devices"), ID_FIND_NEW_TVKS);
    menu_->addSeparator();
    addCommand(QStringLiteral("A&bout..."), ID_APP_ABOUT);
    addCommand(QStringLiteral("E&xit"), ID_APP_EXIT);
}

void CTrayDlg::startSplash()
{
    assertGuiThread();
    if (splashDisabled_)
        return;
    splashElapsed_ = 0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    splashTimer_.start();
}

void CTrayDlg::OnSplashTimer()
{
    splashElapsed_ += kSplashTick;
    if (splashElapsed_ > kSplashLimit) {
        splashTimer_.stop();
        hide();
    }
}

void CTrayDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

QAction* CTrayDlg::findCommand(int commandId) const
{
    return findCommandIn(menu_, commandId);
}

void CTrayDlg::OnCommand(int commandId)
{
    assertGuiThread();
    const _IntFuncTable* table = CTvkMgrUtilsApp::instance().intFuncTable();
    switch (commandId) {
    case ID_ADD_PLUGIN:
        OnAddPlugin();
        return;
    case ID_SHOW_MANAGED_ITEMS:
        CTvkMgrUtilsApp::instance().showManagedItems();
        return;
    case ID_SHOW_LOG:
        if (CTvkLogDlg* log = CTvkMgrUtilsApp::instance().logDlg()) {
            log->show();
            log->activateWindow();
        }
        return;
    case ID_FIND_NEW_TVKS:
        if (table && table->tvkCtrlFindNewTvks)
            table->tvkCtrlFindNewTvks();
        return;
    case ID_APP_ABOUT:
        OnAbout();
        return;
    case ID_APP_EXIT:
        CTvkMgrUtilsApp::instance().requestExit();
        return;
    default:
        break;
    }
    if (!MenuIdMap::inRange(commandId))
        return;
    const std::optional<int> item = ids_.itemOf(commandId);
    if (item && table && table->intCallMenuItemByID)
        table->intCallMenuItemByID(*item);
}

void CTrayDlg::OnAddPlugin()
{
    const QString folder = QFileInfo(QString::fromStdString(iniPath_)).absolutePath() + QStringLiteral("/plugins");
    const QString path =
        QFileDialog::getOpenFileName(nullptr, QStringLiteral("Add Plugin"), folder,
                                     QStringLiteral("Plugins (*.so);;All files (*)"));
    if (path.isEmpty())
        return;
    const _IntFuncTable* table = CTvkMgrUtilsApp::instance().intFuncTable();
    if (table && table->mgrAddPlugin)
        table->mgrAddPlugin(QFile::encodeName(path).constData());
}

void CTrayDlg::OnAbout()
{
    messageBox(nullptr,
               QStringLiteral("Tarvik Loader\n\nControl, read-out and analysis of Tarvik hybrid pixel detectors.\n"
                              "Plug-ins add their tools to this menu."),
               QStringLiteral("About Tarvik Loader"), MSGBOX_OK | MSGBOX_ICONINFORMATION);
}

void CTrayDlg::OnExit()
{
    assertGuiThread();
    if (exiting_)
        return;
    // A modal dialog's loop runs inside the code of a window that Exit destroys: the dialog is ended
    // first, and Exit comes back after its loop has returned (and ends the next one its caller opens).
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else if (!modal->close())
            modal->hide();
        QTimer::singleShot(kExitRetryMs, this, &CTrayDlg::OnExit);
        return;
    }
    exiting_ = true;
    splashTimer_.stop();
    hide();
    if (trayIcon_)
        trayIcon_->hide();
    if (fallback_)
        fallback_->hide();
    const _IntFuncTable* table = CTvkMgrUtilsApp::instance().intFuncTable();
    if (table && table->mgrExitManager)
        table->mgrExitManager();
    QCoreApplication::exit(0);
}

// ---- plug-in items ----

int CTrayDlg::addMenuItem(const QString& itemName, const QString& menuPath, int mgrItemId)
{
    assertGuiThread();
    const std::optional<int> commandId = ids_.add(mgrItemId);
    if (!commandId)
        return -1;
    addMenuItemByPath(menu_, itemName, menuPath, *commandId);
    if (QAction* action = findCommand(*commandId)) {
        const int id = *commandId;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    return 0;
}

int CTrayDlg::removeMenuItem(int mgrItemId)
{
    assertGuiThread();
    const std::optional<int> commandId = ids_.remove(mgrItemId);
    if (commandId)
        delete findCommand(*commandId);
    return 0;
}

int CTrayDlg::renameMenuItem(int mgrItemId, const QString& newText)
{
    assertGuiThread();
    if (const std::optional<int> commandId = ids_.commandOf(mgrItemId))
        if (QAction* action = findCommand(*commandId))
            action->setText(newText);
    return 0;
}

int CTrayDlg::renameSubMenu(const char* parentPath, const QString& oldText, const QString& newText)
{
    assertGuiThread();
    QMenu* current = menu_;
    if (parentPath) {
        const QStringList levels = QString::fromUtf8(parentPath).split(QLatin1Char('|'), Qt::SkipEmptyParts);
        for (const QString& level : levels) {
            const int pos = findSubMenuByText(current, level);
            QMenu* sub = pos >= 0 ? current->actions().at(pos)->menu() : nullptr;
            if (!sub)
                return -1;
            current = sub;
        }
    }
    const int pos = findSubMenuByText(current, oldText);
    if (pos < 0)
        return -1;
    QAction* entry = current->actions().at(pos);
    if (QMenu* sub = entry->menu())
        sub->setTitle(newText); // keeps its place and its items
    else
        entry->setText(newText);
    return 0;
}
