#include "chain_combo.h"

#include <QSignalBlocker>

#include "chain_list.h"

CComboBoxFilterChains::CComboBoxFilterChains(const _MgrFuncTable* mgr, QWidget* parent)
    : QComboBox(parent), mgr_(mgr)
{
}

void CComboBoxFilterChains::fillChains()
{
    const QSignalBlocker block(this);
    clear();
    for (const ChainEntry& e : listFilterChains(mgr_))
        addItem(QString::fromStdString(e.name), e.id);
}

int CComboBoxFilterChains::selectedChainId() const
{
    return currentIndex() < 0 ? 0 : currentData().toInt();
}

void CComboBoxFilterChains::refresh()
{
    const int oldIndex = currentIndex();
    const int oldId = selectedChainId();
    const std::string oldName = oldIndex < 0 ? std::string() : currentText().toStdString();
    std::vector<ChainEntry> entries;
    {
        const QSignalBlocker block(this);
        clear();
        entries = listFilterChains(mgr_);
        for (const ChainEntry& e : entries)
            addItem(QString::fromStdString(e.name), e.id);
        setCurrentIndex(chainReselectIndex(entries, oldId, oldName));
    }
    const int newId = selectedChainId();
    if (oldIndex < 0 || newId != oldId)
        emit chainChanged(newId);
}

void CComboBoxFilterChains::showPopup()
{
    refresh();
    QComboBox::showPopup();
}
