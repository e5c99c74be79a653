// The hardware-info items of a device as a table: each item is declared once (name, type, count, flags,
// description and where its value lives or how it is read and written), and the table answers the item
// functions of the function table (flags, get, set) with the checks every library makes: index range,
// pointers, buffer and data sizes, read-only items. The texts and codes of those refusals are the
// library's own (ItemRules); the table formats them and hands them to the library's error reporter.
//
// A device derives from ItemDevice and declares its items in its constructor, so that the value pointers
// and the hooks (which capture the device) stay valid as long as the device. Calls run under the device's
// call lock like every other device function; a hook that touches values other threads share takes their
// lock.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "hw_device.h"
#include "tvk_hw.h"

namespace hwkit {

struct ItemDef {
    const char* name;
    uint32_t type;  // _Data_Types
    uint32_t count; // elements
    uint32_t flags; // _HwInfoFlags
    const char* description;
    void* value = nullptr; // count x element size bytes in the device; unused when read and write are set

    // Optional, for what is not fixed or not a plain copy:
    std::function<uint32_t()> flagsNow{}; // flags that change at run time (replace flags)
    std::function<uint32_t()> countNow{}; // an element count that changes (replaces count)
    // Copies the value (element size x count bytes) into out; its result is the result of a get whose
    // copy reached the caller.
    std::function<int(void* out)> read{};
    // Takes a value that passed the checks (further checks, effects); without it the value is copied.
    std::function<int(const void* data)> write{};
};

// How a library words and codes the refusals of its item functions.
struct ItemRules {
    int code;                    // the result of every refusal but a too-small buffer
    int bufferSmallCode;         // the result of a too-small buffer in get
    const char* badIndex;        // printf text of an index out of range, given %d index
    const char* badPointer;      // a null flags, item or size pointer
    const char* bufferSmall;     // a too-small buffer, given %u supplied size and %u required size
    const char* badSize;         // a set of the wrong size, given %d size and %d required size; also a null
                                 // value unless nullData is set
    const char* nullData = nullptr; // a set with a null value after its size was right
    const char* readOnly = nullptr; // a set of an item without HWINFO_WRITABLE, given %s name; null: left
                                    // unchanged with result 0
    bool setAnyItem = false;        // every item may be set, whatever its flags
    bool nullFlagsOk = false;       // a null flags pointer succeeds and does nothing
};

class ItemTable {
public:
    using Reporter = std::function<int(int code, const char* text)>; // stores the text, returns code
    using ElementSize = int (*)(int type);

    ItemTable(ItemRules rules, ElementSize elementSize, Reporter report, std::vector<ItemDef> items = {});

    void declare(std::vector<ItemDef> items) { items_ = std::move(items); }
    int count() const { return static_cast<int>(items_.size()); }
    ItemDef& item(int index) { return items_[static_cast<size_t>(index)]; }
    // Bytes of the item's value now: element size x count.
    int valueSize(int index) const;

    // hwGetHwInfoFlags, hwGetHwInfo and hwSetHwInfo of one device.
    int flags(int index, uint32_t* flags) const;
    int get(int index, HwInfoItem* out, int* dataSize) const;
    int set(int index, const void* data, int dataSize);

private:
    bool validIndex(int index) const { return index >= 0 && index < count(); }
    uint32_t flagsOf(const ItemDef& item) const { return item.flagsNow ? item.flagsNow() : item.flags; }
    uint32_t countOf(const ItemDef& item) const { return item.countNow ? item.countNow() : item.count; }
    int refuseIndex(int index) const;

    ItemRules rules_;
    ElementSize elementSize_;
    Reporter report_;
    std::vector<ItemDef> items_;
};

// A device whose item functions are answered by its item table.
class ItemDevice : public Device {
public:
    int getHwInfoFlags(int index, uint32_t* flags) override { return items_.flags(index, flags); }
    int getHwInfo(int index, HwInfoItem* item, int* dataSize) override { return items_.get(index, item, dataSize); }
    int setHwInfo(int index, const void* data, int dataSize) override { return items_.set(index, data, dataSize); }

protected:
    // report stores the text of a refusal and returns its code; by default in the device's last error.
    ItemDevice(const ItemRules& rules, ItemTable::ElementSize elementSize, ItemTable::Reporter report = {})
        : items_(rules, elementSize, report ? std::move(report) : [this](int code, const char* text) {
              return setError(code, "%s", text);
          })
    {
    }
    // In the constructor of the device, once the values exist.
    void declareItems(std::vector<ItemDef> items) { items_.declare(std::move(items)); }
    ItemTable& items() { return items_; }

private:
    ItemTable items_;
};

} // namespace hwkit
