// Chooser of the manager's filter chains: "None" (item data 0), then each chain with its id as item data.
// The list is refilled each time it drops down, so chains made or removed elsewhere show up; the chain
// chosen before stays chosen (by id, else by exact name, else "None"), and chainChanged tells when the
// choice had to change.
#pragma once

#include <QComboBox>

#include "tvk_mgr.h"

class CComboBoxFilterChains : public QComboBox {
    Q_OBJECT
public:
    explicit CComboBoxFilterChains(const _MgrFuncTable* mgr, QWidget* parent = nullptr);

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
