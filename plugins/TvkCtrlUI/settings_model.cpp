#include "settings_model.h"

#include <cstdio>
#include <cstring>

#include "pluginfw/value_text.h"
#include "platform/numbers.h"

uint32_t devicePixelCount(const _DevInfo& info)
{
    constexpr int32_t kMaxPixels = 64 * 65536;
    return info.pixelCount > 0 && info.pixelCount <= kMaxPixels ? uint32_t(info.pixelCount) : 0;
}

const char* acqModeName(int mode)
{
    switch (mode) {
    case 1: return "Manual (program controlled)";
    case 2: return "Trigger starts acquisition";
    case 4: return "Trigger stops acquisition";
    case 8: return "Trigger starts and stops acq.";
    case 16: return "External shutter with fixed time acq.";
    default: return nullptr;
    }
}

const char* chipTypeName(int type)
{
    switch (type) {
    case 1: return "2.1";
    case 2: return "ZRN";
    case 3: return "Sarnet";
    default: return "Unknown";
    }
}

namespace {
std::string pixelsText(uint32_t n, double pct)
{
    return std::to_string(n) + "\t(" + plat::formatFixed(pct, 2) + "%)";
}
} // namespace

std::string goodPixelsText(uint32_t good, uint32_t total)
{
    return pixelsText(good, total ? 100.0 * good / total : 0);
}
std::string badPixelsText(uint32_t good, uint32_t total)
{
    return pixelsText(total - good, 100.0 - (total ? 100.0 * good / total : 0));
}

int runDigitalTest(const _MgrFuncTable* mgr, int dev, bool mask, bool showInPreview, int* good, bool* lockFailed)
{
    *lockFailed = false;
    uint32_t badFrame = 0;
    if (const int rc = mgr->tvkCtrlPerformDigitalTest(unsigned(dev), good, mask ? &badFrame : nullptr,
                                                      showInPreview ? 1 : 0, 0.0))
        return rc;
    if (!badFrame)
        return 0;
    void* buffer = nullptr;
    uint32_t size = 0;
    if (mgr->mgrGetLockedFrameBuff(badFrame, &buffer, &size, 200) != 0) {
        *lockFailed = true;
        mgr->mgrCloseFrame(badFrame, nullptr);
        return 0;
    }
    // The frame's pixels are in the order the device hands out frames: as one matrix when it converts
    // to the super matrix, else chip after chip.
    int toSM = 0;
    mgr->tvkCtrlGetAutoConvToSM(unsigned(dev), &toSM);
    _DevInfo info{};
    mgr->tvkCtrlGetDevInfo(unsigned(dev), &info);
    const uint32_t pixels = devicePixelCount(info);
    std::vector<uint8_t> cfg(pixels);
    if (pixels > 0 && size >= pixels * sizeof(int16_t)) {
        const int rc = toSM ? mgr->tvkCtrlGetSuperMatrixPixCfg(unsigned(dev), cfg.data(), pixels)
                            : mgr->tvkCtrlGetPixelsCfg(unsigned(dev), cfg.data(), pixels, -1);
        if (rc == 0) {
            const auto* bad = static_cast<const int16_t*>(buffer);
            for (uint32_t i = 0; i < pixels; ++i)
                if (bad[i] != 0)
                    cfg[i] &= uint8_t(~0x01);
            if (toSM)
                mgr->tvkCtrlSetSuperMatrixPixCfg(unsigned(dev), cfg.data(), pixels);
            else
                mgr->tvkCtrlSetPixelsCfg(unsigned(dev), cfg.data(), pixels, -1);
        }
    }
    mgr->mgrUnlockFrame(badFrame);
    mgr->mgrCloseFrame(badFrame, nullptr);
    return 0;
}

DacPlace dacPlace(int i, int count)
{
    const int half = (count + 1) / 2;
    return i < half ? DacPlace{0, i} : DacPlace{1, i - half};
}

int64_t parseDacText(const std::string& text, uint32_t max)
{
    std::string_view v = text;
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
        v.remove_prefix(1);
    if (v.empty())
        return 0;
    if (v.front() < '0' || v.front() > '9')
        return -1;
    const auto n = plat::takeUint64(v);
    if (!n || *n > max)
        return -1;
    return int64_t(*n);
}

int applyChipDacs(const _MgrFuncTable* mgr, int dev, int chip, const std::vector<uint16_t>& values)
{
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    int chips = 0;
    if (const int rc = mgr->tvkCtrlGetDACsNames(unsigned(dev), &names, &bits, &count))
        return rc;
    if (const int rc = mgr->tvkCtrlGetTarvikInfo(unsigned(dev), &chips, nullptr, nullptr, nullptr))
        return rc;
    if (chip < 0 || chip >= chips || values.size() != size_t(count))
        return -2;
    std::vector<uint16_t> all(size_t(count) * size_t(chips));
    if (const int rc = mgr->tvkCtrlGetDACs(unsigned(dev), all.data(), int(all.size()), -1))
        return rc;
    std::copy(values.begin(), values.end(), all.begin() + long(chip) * count);
    return mgr->tvkCtrlSetDACs(unsigned(dev), all.data(), int(all.size()), -1, 0, 0);
}

const char* hwTypeName(uint32_t type)
{
    static const char* names[] = {"BOOL", "CHAR", "UCHAR", "BYTE", "I16", "U16", "I32", "U32", "FLOAT", "DOUBLE", "STRING"};
    return type <= 10 ? names[type] : "UKNOWN";
}

namespace {
constexpr int kMaxItemBytes = 16 << 20; // more than any device-specific item holds

// Bytes of an item's value.
uint64_t itemBytes(const HwInfoItem& item)
{
    return item.type > 10 ? 0 : uint64_t(typeElementSize(int(item.type))) * item.count;
}

// Reads item index with a data buffer grown as the library asks: 0 or its code; -1 when the value does
// not fit the buffer. The library raises the size it needs with or without reporting a failure (the
// device-control library reports none), so a raised size is read again whatever the result.
int readItem(const _MgrFuncTable* mgr, int dev, int index, HwInfoItem& item, std::vector<char>& data)
{
    if (data.size() < 1024)
        data.resize(1024);
    item = HwInfoItem{};
    item.data = data.data();
    int size = int(data.size());
    int rc = mgr->tvkCtrlGetHwInfoItem(unsigned(dev), index, &item, &size);
    if (size > int(data.size())) {
        if (size > kMaxItemBytes)
            return -1;
        data.resize(size_t(size));
        item = HwInfoItem{};
        item.data = data.data();
        rc = mgr->tvkCtrlGetHwInfoItem(unsigned(dev), index, &item, &size);
        if (rc == 0 && size > int(data.size()))
            rc = -1;
    }
    if (rc == 0 && itemBytes(item) > data.size())
        rc = -1; // the library's count would read beyond the value it gave
    return rc;
}
} // namespace

std::vector<HwItemRow> hwItemRows(const _MgrFuncTable* mgr, int dev)
{
    std::vector<HwItemRow> rows;
    int n = 0;
    if (mgr->tvkCtrlGetHwInfoCount(unsigned(dev), &n) != 0)
        return rows;
    std::vector<char> data;
    for (int i = 0; i < n; ++i) {
        HwInfoItem item{};
        if (readItem(mgr, dev, i, item, data) != 0)
            continue;
        HwItemRow r;
        r.index = i;
        const uint32_t type = item.type > 10 ? 11 : item.type;
        if (type <= 10) {
            std::vector<char> text(512);
            if (valueToText(int(type), text.data(), int(text.size()), item.data, int(item.count)) == 0)
                r.value = text.data();
        }
        r.description = item.description ? item.description : "";
        r.type = hwTypeName(type);
        r.count = std::to_string(item.count);
        r.flags = item.flags;
        rows.push_back(std::move(r));
    }
    return rows;
}

int setHwItemText(const _MgrFuncTable* mgr, int dev, int index, const std::string& text)
{
    HwInfoItem item{};
    std::vector<char> data;
    if (const int rc = readItem(mgr, dev, index, item, data))
        return rc;
    if (item.type > 10)
        return -1;
    const size_t bytes = size_t(itemBytes(item));
    std::vector<char> value(std::max<size_t>(bytes, 1));
    std::memcpy(value.data(), item.data, std::min(bytes, data.size()));
    if (textToValue(value.data(), text.c_str(), int(item.type), int(item.count)) != 0)
        return -1;
    return mgr->tvkCtrlSetHwInfoItem(unsigned(dev), index, value.data(), int(bytes));
}
