// Chooser of the manager's filter chains: "None" (item data 0), then each chain with its id as item data.
// The list is refilled each time it drops down and each time the filter-chain editor reports a change
// (chain_list.h), so chains made or removed elsewhere show up at once; the chain chosen before stays chosen
// (by id, else by exact name, else "None"), and chainChanged tells when the choice had to change. A chosen
// chain that no longer exists leaves the chooser on "None" with a line in the manager's log.
#pragma once

#include <QComboBox>

#include "tvk_mgr.h"

class CComboBoxFilterChains : public QComboBox {
    Q_OBJECT
public:
    explicit CComboBoxFilterChains(const _MgrFuncTable* mgr, QWidget* parent = nullptr);
    ~CComboBoxFilterChains() override;

    void fillChains();
    void refresh();
    int selectedChainId() const; // 0 for "None" or no selection

signals:
    void chainChanged(int chainId);

protected:
    void showPopup() override;

private:
    const _MgrFuncTable* mgr_;
};
