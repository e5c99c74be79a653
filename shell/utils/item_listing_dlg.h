// The managed-items window: a tree of the loaded plug-ins, each with the five categories of what it
// registered, and a list of the selected category's items (managed_items.h). Column widths that the user
// changes are kept per category while the window is open.
#pragma once

#include <array>
#include <vector>

#include "managed_items.h"
#include "uikit/resizeable_dlg.h"

class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

class CItemListingDlg : public CResizeableDlg {
    Q_OBJECT
public:
    enum { IDC_ITEM_LIST = 2000, IDC_PLUGIN_TREE = 2001 };

    CItemListingDlg();
    ~CItemListingDlg() override;

    // Fills the tree from the manager's plug-in walk (empty without the internal table).
    void fillTree();

    QTreeWidget* tree() const { return tree_; }
    QTableWidget* list() const { return list_; }
    // The current column widths of a category (26 in all).
    const std::vector<int>& columnWidths(ItemCategory category) const
    {
        return widths_[static_cast<size_t>(category)];
    }

protected:
    void initLayout() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnSelChanging(QTreeWidgetItem* leaving);
    void OnSelChanged(QTreeWidgetItem* item);

    QTreeWidget* tree_ = nullptr;
    QTableWidget* list_ = nullptr;
    std::array<std::vector<int>, kItemCategoryCount> widths_;
};
