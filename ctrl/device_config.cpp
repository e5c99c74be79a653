// TvkDevice: chip configuration files (".tcf"), DAC files (".dacs") and the hardware-specific items that the
// [Interface] section of a configuration file stores.
#include <charconv>
#include <cstring>
#include <filesystem>
#include <functional>

#include "config_text.h"
#include "device.h"
#include "hwlib.h"
#include "platform/file_write.h"
#include "pluginfw/tvk_utils.h"

namespace {

constexpr int kMaxHwInfoItems = 4096;
constexpr int kItemBufferSize = 1024;
constexpr int kMaxItemBytes = 16 << 20;
constexpr size_t kMaxItemText = 2048;

const char* const kTarvik = "Tarvik";
const char* const kChip = "Chip";
const char* const kInterface = "Interface";

// "%.5g" without the locale.
std::string formatCoefficient(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 5);
    return std::string(text, result.ptr);
}

void appendLine(std::string* out, std::string_view key, std::string_view value)
{
    out->append(key).append(":").append(value).append("\n");
}

// An item's name or value that would break the line structure of the file is not stored.
bool fitsOnLine(std::string_view text)
{
    return text.find_first_of("\r\n") == std::string_view::npos;
}

} // namespace

int TvkDevice::loadDeviceConfig(const std::string& path)
{
    Lock lock(*this);
    ConfigText text;
    if (!text.load(path))
        return setMessageF(-111, "Cannot open config file \"%s\".", path.c_str());
    return applyConfig(text);
}

int TvkDevice::applyConfig(const ConfigText& text)
{
    const int polarity = text.findInt(kTarvik, "Polarity").value_or(1);
    settings_.cst = text.findInt(kTarvik, "CST").value_or(0);
    settings_.acqMode = text.findInt(kTarvik, "Acq mode").value_or(ACQMODE_MANUAL);
    settings_.hwTimer = text.findInt(kTarvik, "HW timer").value_or(2);
    settings_.polarity = polarity;
    setPolarity(polarity == 1 ? 1 : 0);

    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip) {
        const std::string section = sectionName(kChip, chip);
        for (int dac = 0; dac < count; ++dac) {
            const auto value = text.findInt(section, dacSet_->names[dac]);
            const bool valid = value && *value >= 0 && *value <= 0xFFFF;
            settings_.dacs[static_cast<size_t>(chip * count + dac)] =
                valid ? static_cast<uint16_t>(*value) : defaults_[dac];
        }
        if (chip >= 1) {
            refCoefs_[static_cast<size_t>(chip - 1) * 2] = text.findDouble(section, "RefC").value_or(1.0);
            refCoefs_[static_cast<size_t>(chip - 1) * 2 + 1] = text.findDouble(section, "RefO").value_or(0.0);
        }
    }
    applyInterfaceItems(text);
    return 0;
}

int TvkDevice::fetchHwInfo(int index, HwInfoItem* item, std::vector<unsigned char>* buffer)
{
    *item = HwInfoItem{};
    item->data = buffer->data();
    int size = static_cast<int>(buffer->size());
    if (table_->hwGetHwInfo(hwId_, index, item, &size) != 0) {
        if (size <= static_cast<int>(buffer->size()))
            return 1;
        if (size > kMaxItemBytes)
            return setMessageF(-3, "Allocation of %d bytes failed.", size);
        try {
            buffer->resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            return setMessageF(-3, "Allocation of %d bytes failed.", size);
        }
        *item = HwInfoItem{};
        item->data = buffer->data();
        if (table_->hwGetHwInfo(hwId_, index, item, &size) != 0)
            return 1;
    }
    // The library's description of the value must fit what was handed to it.
    const int elementSize = item->type <= TYPE_STRING ? typeElementSize(static_cast<int>(item->type)) : 0;
    const uint64_t need = static_cast<uint64_t>(elementSize) * item->count;
    if (elementSize == 0 || item->count == 0 || need > buffer->size() || !item->name || !*item->name)
        return 1;
    return 0;
}

// Calls fn(index, item, value bytes) for every hardware-info item stored in configuration files
// ([Interface]); items that cannot be read are left out. 0, or the first failure of the library.
int TvkDevice::forEachConfigItem(
    const std::function<void(int, const HwInfoItem&, std::vector<unsigned char>&)>& fn)
{
    const int count = std::min(table_->hwGetHwInfoCount(), kMaxHwInfoItems);
    std::vector<unsigned char> buffer(kItemBufferSize);
    for (int i = 0; i < count; ++i) {
        uint32_t flags = 0;
        if (table_->hwGetHwInfoFlags(hwId_, i, &flags) != 0)
            return -1;
        if (!(flags & HWINFO_CONFIG))
            continue;
        HwInfoItem item{};
        const int got = fetchHwInfo(i, &item, &buffer);
        if (got < 0)
            return got;
        if (got == 0)
            fn(i, item, buffer);
    }
    return 0;
}

int TvkDevice::applyInterfaceItems(const ConfigText& text)
{
    return forEachConfigItem([&](int i, const HwInfoItem& item, std::vector<unsigned char>& buffer) {
        const std::string name = hwText(item.name);
        const auto value = text.findRest(kInterface, name, kMaxItemText);
        if (!value)
            return;
        if (textToValue(buffer.data(), value->c_str(), static_cast<int>(item.type), static_cast<int>(item.count)) != 0)
            return;
        const int size = typeElementSize(static_cast<int>(item.type)) * static_cast<int>(item.count);
        if (table_->hwSetHwInfo(hwId_, i, buffer.data(), size) != 0)
            setMessageF(-113, "Set interface info for \"%s\" failed: %s", name.c_str(), hwError().c_str());
    });
}

int TvkDevice::interfaceSection(std::string* out)
{
    out->append("[").append(kInterface).append("]\n");
    std::vector<char> textBuffer(kMaxItemText + 1);
    return forEachConfigItem([&](int, const HwInfoItem& item, std::vector<unsigned char>& buffer) {
        if (valueToText(static_cast<int>(item.type), textBuffer.data(), static_cast<int>(textBuffer.size()),
                        buffer.data(), static_cast<int>(item.count)) != 0)
            return;
        const std::string name = hwText(item.name);
        const std::string_view value(textBuffer.data());
        if (name.empty() || name[0] == '[' || name.find(':') != std::string::npos || !fitsOnLine(name) ||
            !fitsOnLine(value))
            return;
        appendLine(out, name, value);
    });
}

int TvkDevice::writeTextFile(const std::string& path, const std::string& text)
{
    plat::AtomicFileWriter writer(path);
    std::string error;
    if (writer.open(&error) != 0)
        return setMessage(-6, error);
    writer.write(text);
    if (writer.commit(&error) != 0)
        return setMessage(-8, error);
    return 0;
}

int TvkDevice::saveDeviceConfig(const char* path)
{
    Lock lock(*this);
    if (!dacSet_)
        return notInitialised();
    std::string file;
    if (path && *path) {
        file = path;
    } else {
        std::error_code ignored;
        std::filesystem::create_directory(moduleFolder_ + "/configs", ignored);
        file = cfgFile_;
    }
    std::string out;
    out.append("[").append(kTarvik).append("]\n");
    appendLine(&out, "Polarity", std::to_string(settings_.polarity.load()));
    appendLine(&out, "CST", std::to_string(settings_.cst.load()));
    appendLine(&out, "Acq mode", std::to_string(settings_.acqMode.load()));
    appendLine(&out, "HW timer", std::to_string(settings_.hwTimer.load()));
    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip) {
        out.append("[").append(sectionName(kChip, chip)).append("]\n");
        for (int dac = 0; dac < count; ++dac)
            appendLine(&out, dacSet_->names[dac], std::to_string(settings_.dacs[static_cast<size_t>(chip * count + dac)]));
        if (chip >= 1) {
            appendLine(&out, "RefC", formatCoefficient(refCoefs_[static_cast<size_t>(chip - 1) * 2]));
            appendLine(&out, "RefO", formatCoefficient(refCoefs_[static_cast<size_t>(chip - 1) * 2 + 1]));
        }
    }
    const int itemsResult = interfaceSection(&out);
    if (const int r = writeTextFile(file, out))
        return r;
    return itemsResult;
}

int TvkDevice::saveConfig(const char* fileName)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    return saveDeviceConfig(fileName);
}

int TvkDevice::saveConfigAsDefault()
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    std::error_code ignored;
    std::filesystem::create_directory(moduleFolder_ + "/configs", ignored);
    return saveDeviceConfig(defaultConfigFile().c_str());
}

int TvkDevice::loadConfig(const char* fileName)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (const int r = loadDeviceConfig(fileName && *fileName ? std::string(fileName) : cfgFile_))
        return r;
    deriveAcqPars();
    return sendDacs(true, true, 0, nullptr, 0);
}

int TvkDevice::saveDacsFile(const std::string& name)
{
    Lock lock(*this);
    std::string out;
    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip) {
        out.append("[").append(sectionName(kChip, chip)).append("]\n");
        for (int dac = 0; dac < count; ++dac)
            appendLine(&out, dacSet_->names[dac], std::to_string(settings_.dacs[static_cast<size_t>(chip * count + dac)]));
    }
    return writeTextFile(name, out);
}

int TvkDevice::loadDacsFile(const std::string& name)
{
    Lock lock(*this);
    ConfigText text;
    std::string error;
    if (!text.load(name, &error))
        return setMessageF(-5, "Cannot open file \"%s\": %s.", name.c_str(), error.c_str());
    // All values are read before any is stored: an incomplete file changes nothing.
    std::vector<uint16_t> dacs(settings_.dacs.size());
    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip) {
        const std::string section = sectionName(kChip, chip);
        for (int dac = 0; dac < count; ++dac) {
            const int value = text.findInt(section, dacSet_->names[dac]).value_or(-1);
            if (value < 0 || value > 0xFFFF)
                return setMessageF(-9, "Invalid format of DACs file\"%s\".", name.c_str());
            dacs[static_cast<size_t>(chip * count + dac)] = static_cast<uint16_t>(value);
        }
    }
    settings_.dacs.swap(dacs);
    return sendDacs(true, true, 0, nullptr, 0);
}

int TvkDevice::getHwInfoCount(int* count)
{
    if (const int r = checkUsable())
        return r;
    if (!count)
        return -2;
    *count = table_->hwGetHwInfoCount();
    return 0;
}

int TvkDevice::getHwInfoItem(int index, HwInfoItem* item, int* dataSize)
{
    if (const int r = checkUsable())
        return r;
    if (!item || !dataSize)
        return -2;
    const int before = *dataSize;
    if (table_->hwGetHwInfo(hwId_, index, item, dataSize) == 0 || *dataSize > before)
        return 0;
    return setMessageF(-114, "Cannot get HW info item with index %d: %s", index, hwError().c_str());
}

int TvkDevice::setHwInfoItem(int index, const void* data, int dataSize)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (table_->hwSetHwInfo(hwId_, index, data, dataSize) != 0)
        return setMessageF(-113, "Cannot set HW info item with index %d: %s", index, hwError().c_str());
    return 0;
}
