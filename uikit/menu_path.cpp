// Popup-menu helpers.
#include "menu_path.h"

#include <QAction>
#include <QMenu>
#include <QString>

int findSubMenuByText(const QMenu* menu, const QString& text)
{
    if (!menu)
        return -1;
    const QList<QAction*> items = menu->actions();
    for (int pos = 0; pos < items.size(); ++pos) {
        const QString itemText = items[pos]->text();
        if (!itemText.isEmpty() && itemText == text)
            return pos;
    }
    return -1;
}

int addMenuItemByPath(QMenu* menu, const QString& itemText, const QString& path, int commandId)
{
    if (!menu)
        return -1;
    QMenu* current = menu;
    bool creating = false;
    const QStringList levels = path.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString& level : levels) {
        if (!creating) {
            int pos = findSubMenuByText(current, level);
            QMenu* sub = pos >= 0 ? current->actions().at(pos)->menu() : nullptr;
            if (sub) {
                current = sub;
                continue;
            }
            creating = true;
        }
        auto* sub = new QMenu(level, current);
        const QList<QAction*> items = current->actions();
        current->insertMenu(items.isEmpty() ? nullptr : items.first(), sub);
        current = sub;
    }
    QAction* item = current->addAction(itemText);
    item->setData(commandId);
    return 0;
}
