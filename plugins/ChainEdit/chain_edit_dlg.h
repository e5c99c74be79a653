// The filter-chain editor's tool window on the single-window skeleton: the manager's filter chains in a
// tree (chains at the root, their filters as children in order, each with the instance it runs with), the
// commands to make, rename and delete chains, to add, remove and move filters and to choose or make an
// instance, and the parameters of the chosen member's instance, edited through the filter's own callbacks.
// Every change goes through the manager (ChainModel) and is announced with the editor's event, so the
// chain choosers of other windows follow it at once. GUI thread only.
#pragma once

#include <memory>

#include "chain_model.h"
#include "pluginfw/plugin_dlg.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTreeWidgetItem;
class CTreeCtrlChains;

class CChainEditDlg : public CPluginDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "Filter chain editor";

    CChainEditDlg();
    ~CChainEditDlg() override;

    bool Create() override;

    // Everything shown, anew from the manager; the chosen chain and member stay chosen when they exist.
    void refresh();

    // The item of a chain, or null.
    QTreeWidgetItem* chainItem(int chainId) const;
    QTreeWidgetItem* memberItem(int chainId, int member) const;

private slots:
    void newChain();
    void renameChain();
    void deleteChain();
    void addFilter();
    void removeMember();
    void moveUp();
    void moveDown();
    void chooseInstance(int index);
    void newInstance();
    void parameterEdited(QTableWidgetItem* item);
    void selectionChanged();
    void prepareMenu(QTreeWidgetItem* item);
    void deletePressed();

private:
    void build();
    // The chain and the member index of the item acted on (member -1 for a chain); false when none.
    bool target(int* chainId, int* member) const;
    void select(int chainId, int member);
    void showInstance();
    void updateCommands();
    // The change is done: the other windows are told, the tree shows it. On failure the reason is shown.
    void changed(int rc, const std::string& error, int chainId, int member);
    void say(const QString& text, bool error);
    void moveBy(int delta);

    std::unique_ptr<chainedit::ChainModel> model_;
    CTreeCtrlChains* tree_ = nullptr;
    QLineEdit* name_ = nullptr;
    QComboBox* filters_ = nullptr;
    QComboBox* instances_ = nullptr;
    QTableWidget* parameters_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* renameButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* upButton_ = nullptr;
    QPushButton* downButton_ = nullptr;
    QPushButton* newInstanceButton_ = nullptr;
    bool filling_ = false; // the controls are being filled: their signals are no user's edits
};

// The manager's table and the plug-in's name as the editor uses them (set by the entry before any window).
void setChainEditContext(const _MgrFuncTable* table, const char* owner, int eventId);
