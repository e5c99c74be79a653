#include "file_dialogs.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>

#include "platform/text_copy.h"
#include "plugin_files.h"

void browseSaveFile(QString& path, QLineEdit* edit)
{
    if (!edit)
        return;
    path = edit->text();
    QString folder;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0)
        folder = path.left(slash);
    const QString chosen = QFileDialog::getSaveFileName(edit->window(), QString(), folder,
                                                        QStringLiteral("All files (*)"));
    if (chosen.isEmpty())
        return;
    path = chosen;
    edit->setText(path);
}

bool browseForFolder(QWidget* owner, const char* start, char* out)
{
    if (!out)
        return false;
    out[0] = '\0';
    const QString from = start && *start ? QString::fromUtf8(start) : QDir::currentPath();
    const QString chosen = QFileDialog::getExistingDirectory(owner, QString(), from, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return false;
    const QByteArray bytes = chosen.toUtf8();
    if (static_cast<size_t>(bytes.size()) >= kPluginPathSize)
        return false;
    plat::copyText(out, kPluginPathSize, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    return true;
}

void setListValueText(QTreeWidget* list, int item, const char* format, ...)
{
    if (!list || !format || item < 0 || item >= list->topLevelItemCount())
        return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    list->topLevelItem(item)->setText(1, QString::fromUtf8(text.data()));
}

void updatePopupMenuCmdUI(QWidget* dialog, QMenu* popup)
{
    if (!popup)
        return;
    auto* handler = dynamic_cast<CmdUIHandler*>(dialog);
    for (QAction* action : popup->actions()) {
        if (action->isSeparator() || action->menu())
            continue;
        if (!handler || !handler->OnUpdateCmdUI(action))
            action->setEnabled(false);
    }
}

void connectPopupMenuCmdUI(QWidget* dialog, QMenu* popup)
{
    if (!popup)
        return;
    QObject::connect(popup, &QMenu::aboutToShow, popup, [dialog, popup] { updatePopupMenuCmdUI(dialog, popup); });
}
