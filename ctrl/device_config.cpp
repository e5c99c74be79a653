// TvkDevice: chip configuration files (".tcf"), DAC files (".dacs") and the hardware-specific items that the
// [Interface] section of a configuration file stores.
#include <charconv>
#include <cmath>
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

// Whether every value of a FLOAT or DOUBLE item is a finite number (other types: true).
bool allFinite(const HwInfoItem& item, const unsigned char* data)
{
    for (uint32_t i = 0; i < item.count; ++i) {
        double v = 0.0;
        if (item.type == TYPE_DOUBLE) {
            std::memcpy(&v, data + i * sizeof(double), sizeof(double));
        } else if (item.type == TYPE_FLOAT) {
            float f = 0.0f;
            std::memcpy(&f, data + i * sizeof(float), sizeof(float));
            v = f;
        } else {
            return true;
        }
        if (!std::isfinite(v))
            return false;
    }
    return true;
}

// An item's name or value that would break the line structure of the file is not stored.
bool fitsOnLine(std::string_view text)
{
    return text.find_first_of("\r\n") == std::string_view::npos;
}

} // namespace

int TvkDevice::readConfigFile(const std::string& path, ConfigText* text)
{
    if (!text->load(path))
        return setMessageF(TVK_ERR_CFG_FILE, "Cannot open config file \"%s\".", path.c_str());
    // A file without any of these sections is no configuration: taking it would set every value to
    // its default.
    if (!text->hasSection(kTarvik) && !text->hasSection(sectionName(kChip, 0)) && !text->hasSection(kInterface))
        return setMessageF(TVK_ERR_CFG_FILE, "Config file \"%s\" has none of the sections [%s], [%s0] and [%s].",
                           path.c_str(), kTarvik, kChip, kInterface);
    return 0;
}

int TvkDevice::loadDeviceConfig(const std::string& path)
{
    Lock lock(*this);
    ConfigText text;
    if (const int r = readConfigFile(path, &text))
        return r;
    return applyConfig(text);
}

void TvkDevice::refuseConfigValue(std::string_view key, const std::string& value, const ConfigText& text)
{
    setMessageF(TVK_ERR_CFG_FILE, "Invalid value of \"%.*s\" in config file \"%s\": %s; the value is kept.",
                static_cast<int>(key.size()), key.data(), text.path().c_str(), value.c_str());
}

int TvkDevice::applyConfig(const ConfigText& text)
{
    // A missing key takes its default; a value that the device cannot take is refused with a message
    // and the current value stays. A device being set up has no values yet: the built-in ones stand in.
    if (!initialised_)
        applyBuiltInDefaults();
    const int polarity = text.findInt(kTarvik, "Polarity").value_or(1);
    settings_.cst = text.findInt(kTarvik, "CST").value_or(0);
    // Without a mode in the file, the default where the device has it.
    const auto mode = text.findInt(kTarvik, "Acq mode");
    if (isSupportedAcqMode(mode.value_or(ACQMODE_MANUAL), devInfo_.acqModeMask))
        settings_.acqMode = mode.value_or(ACQMODE_MANUAL);
    else if (mode)
        refuseConfigValue("Acq mode", std::to_string(*mode), text);
    const int hwTimer = text.findInt(kTarvik, "HW timer").value_or(2);
    if (hwTimer >= 0)
        settings_.hwTimer = hwTimer;
    else
        refuseConfigValue("HW timer", std::to_string(hwTimer), text);
    settings_.polarity = polarity;
    setPolarity(polarity == 1 ? 1 : 0);

    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip) {
        const std::string section = sectionName(kChip, chip);
        for (int dac = 0; dac < count; ++dac) {
            uint16_t& stored = settings_.dacs[static_cast<size_t>(chip * count + dac)];
            const auto value = text.findInt(section, dacSet_->names[dac]);
            if (!value)
                stored = defaults_[dac];
            else if (dacValueFits(*dacSet_, dac, *value))
                stored = static_cast<uint16_t>(*value);
            else
                refuseConfigValue(section + " " + dacSet_->names[dac], std::to_string(*value), text);
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
            return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.", size);
        try {
            buffer->resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.", size);
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
            return TVK_ERR_GENERIC;
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
        if (textToValue(buffer.data(), value->c_str(), static_cast<int>(item.type), static_cast<int>(item.count)) != 0 ||
            !allFinite(item, buffer.data())) {
            refuseConfigValue(name, *value, text);
            return;
        }
        const int size = typeElementSize(static_cast<int>(item.type)) * static_cast<int>(item.count);
        if (table_->hwSetHwInfo(hwId_, i, buffer.data(), size) != 0)
            setMessageF(TVK_ERR_HWINFO_SET, "Set interface info for \"%s\" failed: %s", name.c_str(), hwError().c_str());
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
        return setMessage(TVK_ERR_OPEN_WRITE, error);
    writer.write(text);
    if (writer.commit(&error) != 0)
        return setMessage(TVK_ERR_WRITE, error);
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
        return setMessageF(TVK_ERR_OPEN_READ, "Cannot open file \"%s\": %s.", name.c_str(), error.c_str());
    // All values are read before any is stored: an incomplete file changes nothing.
    std::vector<uint16_t> dacs(settings_.dacs.size());
    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip) {
        const std::string section = sectionName(kChip, chip);
        for (int dac = 0; dac < count; ++dac) {
            const int value = text.findInt(section, dacSet_->names[dac]).value_or(-1);
            if (!dacValueFits(*dacSet_, dac, value))
                return setMessageF(TVK_ERR_DAC_FILE, "Invalid format of DACs file\"%s\".", name.c_str());
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
        return TVK_ERR_PARAM;
    *count = table_->hwGetHwInfoCount();
    return 0;
}

int TvkDevice::getHwInfoItem(int index, HwInfoItem* item, int* dataSize)
{
    if (const int r = checkUsable())
        return r;
    if (!item || !dataSize)
        return TVK_ERR_PARAM;
    const int before = *dataSize;
    if (table_->hwGetHwInfo(hwId_, index, item, dataSize) == 0 || *dataSize > before)
        return 0;
    return setMessageF(TVK_ERR_HWINFO_GET, "Cannot get HW info item with index %d: %s", index, hwError().c_str());
}

int TvkDevice::setHwInfoItem(int index, const void* data, int dataSize)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (table_->hwSetHwInfo(hwId_, index, data, dataSize) != 0)
        return setMessageF(TVK_ERR_HWINFO_SET, "Cannot set HW info item with index %d: %s", index, hwError().c_str());
    return 0;
}
