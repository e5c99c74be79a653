// The hardware-info item table: the refusals of the item functions, in their order and with the texts and
// codes of the library's rules (each option of the rules once), the description and value a get hands
// out, and values that are read, written, counted or flagged by the device.
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "hwlibs/common/hw_items.h"

using hwkit::ItemRules;
using hwkit::ItemTable;

namespace {

int elementSize(int type)
{
    return type == TYPE_DOUBLE ? 8 : type == TYPE_CHAR ? 1 : 4;
}

// A library that ignores a set of a read-only item, with texts that carry no values.
const ItemRules kQuiet{-10, -11, "Bad index %d.", "Bad pointer.", "Small buffer.", "Bad size."};
// One that refuses it, and a null value of the right size with a text of its own.
const ItemRules kStrict{-3,
                        -3,
                        "Index (%d) out of range",
                        "Invalid parameter.",
                        "Too small, size: %u, required: %u",
                        "Data size: %d, required: %d",
                        "Null data.",
                        "\"%s\" cannot be changed."};
// One that lets every item be set and takes a null flags pointer.
const ItemRules kOpen{-6, -6, "Index %d", "Null.", "Small %u < %u", "Size %d != %d", nullptr, nullptr, true, true};

enum { kCounter, kLevel, kLabel, kItems };

struct Device {
    uint32_t counter = 7;
    double level = 0.5;
    char label[16] = "abc";
    std::string text; // the last refusal
    ItemTable table;

    explicit Device(const ItemRules& rules)
        : table(rules, elementSize, [this](int code, const char* t) { return text = t, code; },
                {
                    {"Counter", TYPE_U32, 1, HWINFO_CONFIG | HWINFO_WRITABLE, "Counts", &counter},
                    {"Level", TYPE_DOUBLE, 1, HWINFO_TO_FRAME, "Read-only level", &level},
                    // As long as its text and the end.
                    {"Label", TYPE_CHAR, 0, HWINFO_WRITABLE, "A text", label, {},
                     [this] { return static_cast<uint32_t>(std::strlen(label) + 1); }},
                })
    {
    }
};

TEST(ItemTable, RefusalsGiveTheLibrarysCodeAndTextAndChangeNothing)
{
    struct Case {
        const char* name;
        const ItemRules& rules;
        std::function<int(ItemTable&)> call;
        int code;
        const char* text;
    };
    static uint32_t flags;
    static HwInfoItem item;
    static int size;
    static const uint32_t four = 4;
    static const double eight = 8.0;
    const Case cases[] = {
        {"flags below the range", kQuiet, [](ItemTable& t) { return t.flags(-1, &flags); }, -10, "Bad index -1."},
        {"get past the range", kStrict, [](ItemTable& t) { return t.get(kItems, &item, &size); }, -3,
         "Index (3) out of range"},
        {"set past the range", kOpen, [](ItemTable& t) { return t.set(kItems, &four, 4); }, -6, "Index 3"},
        {"null flags", kQuiet, [](ItemTable& t) { return t.flags(kCounter, nullptr); }, -10, "Bad pointer."},
        {"null size", kStrict, [](ItemTable& t) { return t.get(kCounter, &item, nullptr); }, -3, "Invalid parameter."},
        {"null item", kOpen, [](ItemTable& t) { return t.get(kCounter, nullptr, &size); }, -6, "Null."},
        {"buffer too small", kStrict, [](ItemTable& t) { return size = 3, t.get(kCounter, &item, &size); }, -3,
         "Too small, size: 3, required: 4"},
        {"buffer too small, own code", kQuiet, [](ItemTable& t) { return size = 3, t.get(kCounter, &item, &size); },
         -11, "Small buffer."},
        {"negative buffer size", kStrict, [](ItemTable& t) { return size = -1, t.get(kCounter, &item, &size); }, -3,
         "Too small, size: 0, required: 4"},
        {"set of the wrong size", kStrict, [](ItemTable& t) { return t.set(kCounter, &eight, 8); }, -3,
         "Data size: 8, required: 4"},
        {"size of a text item is its length", kOpen, [](ItemTable& t) { return t.set(kLabel, "abcdefg", 8); }, -6,
         "Size 8 != 4"},
        {"null value, size text", kQuiet, [](ItemTable& t) { return t.set(kCounter, nullptr, 4); }, -10, "Bad size."},
        {"null value, own text", kStrict, [](ItemTable& t) { return t.set(kCounter, nullptr, 4); }, -3, "Null data."},
        {"null value of the wrong size", kStrict, [](ItemTable& t) { return t.set(kCounter, nullptr, 2); }, -3,
         "Data size: 2, required: 4"},
        {"read-only item", kStrict, [](ItemTable& t) { return t.set(kLevel, &eight, 8); }, -3,
         "\"Level\" cannot be changed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Device d(c.rules);
        flags = 99;
        item = {};
        size = 64;
        EXPECT_EQ(c.call(d.table), c.code);
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(flags, 99u);
        EXPECT_EQ(d.counter, 7u);
        EXPECT_EQ(d.level, 0.5);
        EXPECT_STREQ(d.label, "abc");
    }
}

TEST(ItemTable, GetDescribesTheItemAndCopiesItsValueWhenTheBufferHoldsIt)
{
    Device d(kStrict);
    uint32_t value = 0;
    HwInfoItem item{};
    item.data = &value;
    int size = 4;
    ASSERT_EQ(d.table.get(kCounter, &item, &size), 0) << d.text;
    EXPECT_EQ(item.type, uint32_t{TYPE_U32});
    EXPECT_EQ(item.count, 1u);
    EXPECT_EQ(item.flags, uint32_t{HWINFO_CONFIG | HWINFO_WRITABLE});
    EXPECT_STREQ(item.name, "Counter");
    EXPECT_STREQ(item.description, "Counts");
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(size, 4);

    // Too small: described all the same, nothing copied, the size needed handed back (the caller asks again).
    char text[2] = {'x', 'x'};
    item = {};
    item.data = text;
    size = 2;
    EXPECT_EQ(d.table.get(kLabel, &item, &size), -3);
    EXPECT_STREQ(item.name, "Label");
    EXPECT_EQ(item.count, 4u);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(text[0], 'x');

    uint32_t flags = 0;
    ASSERT_EQ(d.table.flags(kLevel, &flags), 0);
    EXPECT_EQ(flags, uint32_t{HWINFO_TO_FRAME});
}

TEST(ItemTable, ReadOnlyItemsAndNullFlagsAsTheRulesSay)
{
    const double eight = 8.0;
    Device quiet(kQuiet);
    EXPECT_EQ(quiet.table.set(kLevel, &eight, 8), 0);
    EXPECT_EQ(quiet.level, 0.5) << "left unchanged";
    EXPECT_EQ(quiet.text, "");

    Device open(kOpen);
    EXPECT_EQ(open.table.set(kLevel, &eight, 8), 0);
    EXPECT_EQ(open.level, 8.0);
    EXPECT_EQ(open.table.flags(kLevel, nullptr), 0);
    EXPECT_EQ(open.text, "");

    Device strict(kStrict);
    const uint32_t twelve = 12;
    EXPECT_EQ(strict.table.set(kCounter, &twelve, 4), 0);
    EXPECT_EQ(strict.counter, 12u);
}

TEST(ItemTable, TheDeviceReadsWritesAndFlagsItsOwnItems)
{
    Device d(kStrict);
    int reads = 0;
    int readResult = 0;
    std::string written;
    bool scopeOn = false;
    hwkit::ItemDef& label = d.table.item(kLabel);
    label.read = [&](void* out) {
        ++reads;
        std::memcpy(out, "xyz", 4);
        return readResult;
    };
    label.write = [&](const void* data) {
        written = static_cast<const char*>(data);
        return written == "bad" ? -20 : 0;
    };
    d.table.item(kLevel).flagsNow = [&] { return scopeOn ? uint32_t{HWINFO_TO_FRAME} : 0u; };

    char text[8] = "";
    HwInfoItem item{};
    item.data = text;
    int size = sizeof text;
    readResult = -7; // a failed refresh: the last value is given and the failure reported
    EXPECT_EQ(d.table.get(kLabel, &item, &size), -7);
    EXPECT_STREQ(text, "xyz");
    EXPECT_EQ(reads, 1);
    size = 1;
    EXPECT_EQ(d.table.get(kLabel, &item, &size), -3) << "the buffer's refusal, not the read's result";
    EXPECT_EQ(d.text, "Too small, size: 1, required: 4");

    EXPECT_EQ(d.table.set(kLabel, "abcd", 5), -3);
    EXPECT_EQ(written, "") << "not handed a value that failed the checks";
    EXPECT_EQ(d.table.set(kLabel, "bad", 4), -20);
    EXPECT_EQ(written, "bad");
    EXPECT_STREQ(d.label, "abc") << "the write takes the place of the copy";

    uint32_t flags = 99;
    ASSERT_EQ(d.table.flags(kLevel, &flags), 0);
    EXPECT_EQ(flags, 0u);
    scopeOn = true;
    ASSERT_EQ(d.table.flags(kLevel, &flags), 0);
    EXPECT_EQ(flags, uint32_t{HWINFO_TO_FRAME});
}

} // namespace
