#include "hw_items.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "hw_device.h"

namespace hwkit {

namespace {

// Room for every refusal text of the libraries (an item name at most).
constexpr size_t kTextSize = 512;

} // namespace

ItemTable::ItemTable(ItemRules rules, ElementSize elementSize, Reporter report, std::vector<ItemDef> items)
    : rules_(rules), elementSize_(elementSize), report_(std::move(report)), items_(std::move(items))
{
}

int ItemTable::valueSize(int index) const
{
    const ItemDef& item = items_[static_cast<size_t>(index)];
    return elementSize_(static_cast<int>(item.type)) * static_cast<int>(countOf(item));
}

int ItemTable::refuseIndex(int index) const
{
    char text[kTextSize];
    std::snprintf(text, sizeof text, rules_.badIndex, index);
    return report_(rules_.code, text);
}

int ItemTable::flags(int index, uint32_t* flags) const
{
    if (!validIndex(index))
        return refuseIndex(index);
    if (!flags)
        return rules_.nullFlagsOk ? 0 : report_(rules_.code, rules_.badPointer);
    *flags = flagsOf(items_[static_cast<size_t>(index)]);
    return 0;
}

int ItemTable::get(int index, HwInfoItem* out, int* dataSize) const
{
    if (!validIndex(index))
        return refuseIndex(index);
    if (!out || !dataSize)
        return report_(rules_.code, rules_.badPointer);
    const ItemDef& item = items_[static_cast<size_t>(index)];
    const int size = valueSize(index);
    const void* value = item.value;
    std::vector<uint8_t> copy;
    int readResult = 0;
    if (item.read) {
        copy.resize(static_cast<size_t>(size));
        readResult = item.read(copy.data());
        value = copy.data();
    }
    const HwInfoItem described{item.type, countOf(item), flagsOf(item), item.name, item.description, nullptr};
    // The copy replaces *dataSize with the size required: the text gives the size supplied.
    const int supplied = *dataSize;
    if (!copyHwInfoItem(described, value, size, out, dataSize)) {
        char text[kTextSize];
        std::snprintf(text, sizeof text, rules_.bufferSmall, static_cast<unsigned>(supplied < 0 ? 0 : supplied),
                      static_cast<unsigned>(size));
        return report_(rules_.bufferSmallCode, text);
    }
    return readResult;
}

int ItemTable::set(int index, const void* data, int dataSize)
{
    if (!validIndex(index))
        return refuseIndex(index);
    ItemDef& item = items_[static_cast<size_t>(index)];
    const int size = valueSize(index);
    if (dataSize != size || (!data && !rules_.nullData)) {
        char text[kTextSize];
        std::snprintf(text, sizeof text, rules_.badSize, dataSize, size);
        return report_(rules_.code, text);
    }
    if (!data)
        return report_(rules_.code, rules_.nullData);
    if (!rules_.setAnyItem && !(flagsOf(item) & HWINFO_WRITABLE)) {
        if (!rules_.readOnly)
            return 0;
        char text[kTextSize];
        std::snprintf(text, sizeof text, rules_.readOnly, item.name);
        return report_(rules_.code, text);
    }
    if (item.write)
        return item.write(data);
    if (size > 0)
        std::memcpy(item.value, data, static_cast<size_t>(size));
    return 0;
}

} // namespace hwkit
