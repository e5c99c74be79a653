#include "chain_combo.h"

#include <mutex>
#include <set>

#include <QSignalBlocker>

#include "chain_list.h"

namespace {

// The choosers of this module and the table through which it follows the editor's event. The module
// (a plug-in) subscribes while it has a chooser and unsubscribes with the last, so that the manager never
// keeps a callback into a module that is gone.
struct Followers {
    // Guards the set and the subscription; the event callback holds it only to queue the refreshes.
    std::mutex m;
    std::set<CComboBoxFilterChains*> combos;
    const _MgrFuncTable* subscribed = nullptr;
};

Followers& followers()
{
    static Followers f;
    return f;
}

// Any thread: each chooser refreshes itself on its own thread (a chooser gone by then gets nothing).
void chainsChanged(intptr_t)
{
    Followers& f = followers();
    std::lock_guard lock(f.m);
    for (CComboBoxFilterChains* combo : f.combos)
        QMetaObject::invokeMethod(combo, &CComboBoxFilterChains::refresh, Qt::QueuedConnection);
}

} // namespace

CComboBoxFilterChains::CComboBoxFilterChains(const _MgrFuncTable* mgr, QWidget* parent)
    : QComboBox(parent), mgr_(mgr)
{
    Followers& f = followers();
    std::lock_guard lock(f.m);
    f.combos.insert(this);
    if (!f.subscribed && mgr_ && mgr_->mgrRegisterCallback && chainEventRegistered(mgr_) &&
        mgr_->mgrRegisterCallback(kChainEventSource, kChainEventName, chainsChanged) == 0)
        f.subscribed = mgr_;
}

CComboBoxFilterChains::~CComboBoxFilterChains()
{
    Followers& f = followers();
    std::lock_guard lock(f.m);
    f.combos.erase(this);
    if (f.combos.empty() && f.subscribed) {
        if (f.subscribed->mgrUnregisterCallback && chainEventRegistered(f.subscribed))
            f.subscribed->mgrUnregisterCallback(kChainEventSource, kChainEventName, chainsChanged);
        f.subscribed = nullptr;
    }
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
    if (oldId > 0 && newId == 0 && mgr_ && mgr_->mgrLogMsg) {
        const QString title = window()->windowTitle();
        mgr_->mgrLogMsg(title.isEmpty() ? "Filter chain" : title.toUtf8().constData(),
                        "The filter chain %s no longer exists; \"None\" is chosen instead.", 0, oldName.c_str());
    }
    if (oldIndex < 0 || newId != oldId)
        emit chainChanged(newId);
}

void CComboBoxFilterChains::showPopup()
{
    refresh();
    QComboBox::showPopup();
}
