// What the managed-items window lists: the five categories of what a plug-in registered, their columns
// and the rows of one plug-in. Reading follows the manager's locks: the plug-in's view (tvk_mgr_view.h)
// copies each list under the plug-in's own lock and an event's subscribers under the event's lock, a
// chain's members are copied under the chain registry's lock (through the chain-info function); no lock
// is held while rows are made.
#pragma once

#include <array>
#include <vector>

#include <QString>
#include <QStringList>

#include "tvk_mgr_view.h"
#include "utils_app.h"

enum class ItemCategory { Functions, MenuItems, FrameAttribs, Events, Chains };
constexpr int kItemCategoryCount = 5;

struct ItemColumn {
    const char* title;
    int width;         // initial width in pixels
    bool rightAligned;
};

struct CategoryDesc {
    ItemCategory category;
    const char* text;             // the tree item's text
    std::vector<ItemColumn> columns;
    bool newestFirst;             // rows inserted at the top instead of appended
};

const std::array<CategoryDesc, kItemCategoryCount>& itemCategories();
// The category whose tree text is text; null for any other text (a plug-in item).
const CategoryDesc* findCategory(const QString& text);

// The rows of one category of plugin, in the order in which the window shows them.
std::vector<QStringList> categoryRows(const MgrPluginView& plugin, ItemCategory category, ChainInfoFunc chainInfo);

// "0x..." of an address, as the window shows callbacks ("0" for null, as %#x writes it).
QString addressText(const void* address);
