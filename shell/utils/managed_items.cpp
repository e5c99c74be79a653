#include "managed_items.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "pluginfw/tvk_utils.h"

namespace {

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString paramsText(const std::vector<MgrParamView>& params)
{
    QString result = QStringLiteral("%1 param.: ").arg(params.size());
    for (const MgrParamView& p : params)
        result += QStringLiteral("[%1 x %2: %3]").arg(p.count).arg(QString::fromLatin1(typeName(static_cast<int>(p.type))),
                                                                 text(p.name));
    return result;
}

// The chain's text through the registry: each member's key (and instance) followed by '|'.
bool chainMembers(ChainInfoFunc chainInfo, uint32_t chainId, QStringList& names)
{
    if (!chainInfo)
        return false;
    std::string buffer;
    // The chain may change between the size query and the copy; a few rounds settle it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        _FilterChainDesc desc{};
        desc.text = buffer.empty() ? nullptr : buffer.data();
        desc.textSize = static_cast<uint32_t>(buffer.size());
        if (chainInfo(static_cast<int>(chainId), &desc) != 0)
            return false;
        if (desc.text && desc.textSize <= buffer.size()) {
            const std::string chainText = boundedText(buffer.data(), buffer.size());
            names.clear();
            for (const QString& name : text(chainText).split(QLatin1Char('|'), Qt::SkipEmptyParts))
                names.push_back(name);
            return true;
        }
        buffer.assign(std::max<uint32_t>(desc.textSize, 1), '\0');
    }
    return false;
}

} // namespace

QString addressText(const void* address)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%#" PRIxPTR, reinterpret_cast<uintptr_t>(address));
    return QString::fromLatin1(buffer);
}

const std::array<CategoryDesc, kItemCategoryCount>& itemCategories()
{
    static const std::array<CategoryDesc, kItemCategoryCount> categories = {{
        {ItemCategory::Functions,
         "Registered (offered) functions",
         {{"Plugin Name", 70, false},
          {"Function Name", 125, false},
          {"Description", 275, false},
          {"Input Parameters", 500, false},
          {"Output Parameters", 200, false},
          {"Function Address", 100, true}},
         false},
        {ItemCategory::MenuItems,
         "Registered menu items",
         {{"Plugin Name", 70, false},
          {"Menu Item Name", 200, false},
          {"Menu Path", 200, false},
          {"Item ID", 70, true},
          {"Flags", 50, true},
          {"Function Address", 80, true},
          {"Parameter", 70, true}},
         false},
        {ItemCategory::FrameAttribs,
         "Registered frame attributes",
         {{"Plugin Name", 70, false},
          {"Attribute Name", 125, false},
          {"Description", 275, false},
          {"Data type", 200, false},
          {"Function Address", 200, false},
          {"Hint value", 100, true}},
         false},
        {ItemCategory::Events,
         "Created events",
         {{"Plugin Name", 70, false}, {"CB Event Name", 125, false}, {"Description", 275, false}, {"Callbacks", 300, false}},
         true},
        {ItemCategory::Chains,
         "Created filters",
         {{"Plugin Name", 70, false}, {"Filter Chain Name", 125, false}, {"Contained Filters", 500, false}},
         true},
    }};
    return categories;
}

const CategoryDesc* findCategory(const QString& itemText)
{
    for (const CategoryDesc& desc : itemCategories())
        if (itemText == QLatin1String(desc.text))
            return &desc;
    return nullptr;
}

std::vector<QStringList> categoryRows(const MgrPluginView& plugin, ItemCategory category, ChainInfoFunc chainInfo)
{
    const QString pluginName = text(plugin.pluginName());
    std::vector<QStringList> rows;
    switch (category) {
    case ItemCategory::Functions:
        for (const MgrFunctionView& f : plugin.functionViews())
            rows.push_back({pluginName, text(f.name), text(f.description), paramsText(f.inputs), paramsText(f.outputs),
                            addressText(reinterpret_cast<const void*>(f.callback))});
        break;
    case ItemCategory::MenuItems:
        for (const MgrMenuItemView& m : plugin.menuItemViews())
            rows.push_back({pluginName, text(m.name), text(m.menuPath), QString::number(m.id),
                            QString::number(static_cast<uint32_t>(m.flags)),
                            addressText(reinterpret_cast<const void*>(m.callback)),
                            QString::number(reinterpret_cast<uintptr_t>(m.userData))});
        break;
    case ItemCategory::FrameAttribs:
        for (const MgrFrameAttribView& a : plugin.frameAttribViews())
            rows.push_back({pluginName, text(a.name), text(a.description),
                            QString::fromLatin1(typeName(static_cast<int>(a.type))),
                            addressText(reinterpret_cast<const void*>(a.callback)),
                            QString::number(static_cast<int32_t>(a.hint))});
        break;
    case ItemCategory::Events:
        for (const MgrEventView& e : plugin.eventViews()) {
            QString callbacks = QStringLiteral("%1 callbacks:").arg(e.subscribers.size());
            for (const EventCallback cb : e.subscribers)
                callbacks += QLatin1Char(' ') + addressText(reinterpret_cast<const void*>(cb));
            rows.insert(rows.begin(), {pluginName, text(e.name), text(e.description), callbacks});
        }
        break;
    case ItemCategory::Chains:
        for (const MgrChainView& c : plugin.chainViews()) {
            QStringList members;
            QString contained;
            if (chainMembers(chainInfo, c.id, members))
                contained = QStringLiteral("%1 filters:").arg(members.size()) +
                            (members.isEmpty() ? QString() : QLatin1Char(' ') + members.join(QLatin1Char(' ')));
            rows.insert(rows.begin(), {pluginName, text(c.name), contained});
        }
        break;
    }
    return rows;
}
