// TvkDevice: the pixel configuration, its binary ".bpc" files and its ASCII files (one field per file).
#include <algorithm>
#include <cstring>

#include "device.h"
#include "pluginfw/tvk_utils.h"

namespace {

// One field of the pixel byte as an ASCII file holds it: mask, test, low-threshold adjustment, fourth
// (high-threshold adjustment, or the pixel mode on chip type 3).
struct PixelField {
    int shift;
    int mask; // of the value, after shifting
};

PixelField pixelField(int field, int chipType)
{
    const bool sarnet = chipType == 3;
    switch (field) {
    case 0: return {0, 1};
    case 1: return {1, 1};
    case 2: return {2, sarnet ? 15 : 7};
    default: return {sarnet ? 6 : 5, sarnet ? 3 : 7};
    }
}

uint8_t mergeField(uint8_t byte, int field, int chipType, short value)
{
    const PixelField f = pixelField(field, chipType);
    if (field == 3) // the top bits take the value shifted up; the bits below are kept
        return static_cast<uint8_t>((byte & ((1 << f.shift) - 1)) | (static_cast<unsigned>(value) << f.shift));
    const unsigned bits = static_cast<unsigned>(f.mask) << f.shift;
    return static_cast<uint8_t>((byte & ~bits) | ((static_cast<unsigned>(value) & f.mask) << f.shift));
}

short extractField(uint8_t byte, int field, int chipType)
{
    const PixelField f = pixelField(field, chipType);
    return static_cast<short>((byte >> f.shift) & f.mask);
}

} // namespace

int TvkDevice::sendPixelsCfg(bool notifyChange, bool resetMatrix)
{
    if (table_->hwSetPixelsCfg(hwId_, settings_.pixelCfg.data(), pixelCount_))
        return setMessageF(TVK_ERR_PIXCFG, "Pixel mask setting failed: %s", hwError().c_str());
    if (notifyChange)
        notify(&CtrlCallbacks::pixCfgChanged);
    if (resetMatrix && table_->hwResetMatrix(hwId_))
        return setMessageF(TVK_ERR_MATRIX_RESET, "Resetting pixel matrix failed: %s", hwError().c_str());
    return 0;
}

int TvkDevice::setPixelsCfg(const uint8_t* cfg, uint32_t size, int chip)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (const int r = checkChip(chip))
        return r;
    const uint32_t required = chip == -1 ? pixelCount_ : kChipPixels;
    if (size != required || !cfg)
        return setMessageF(TVK_ERR_PARAM, "Invalid parameter, pix. cfgs. array size: %d, required: %d.",
                           cfg ? static_cast<int>(size) : 0, static_cast<int>(required));
    {
        std::lock_guard<std::mutex> guard(pixMutex_);
        std::memcpy(settings_.pixelCfg.data() + (chip == -1 ? 0 : static_cast<size_t>(chip) * kChipPixels), cfg, size);
    }
    return sendPixelsCfg(true, false);
}

int TvkDevice::getPixelsCfg(uint8_t* cfg, uint32_t size, int chip)
{
    if (const int r = checkUsable())
        return r;
    if (const int r = checkChip(chip))
        return r;
    const uint32_t required = chip == -1 ? pixelCount_ : kChipPixels;
    if (size != required || !cfg)
        return setMessageF(TVK_ERR_PARAM, "Invalid parameter, pix. cfgs. array size: %d, required: %d.",
                           cfg ? static_cast<int>(size) : 0, static_cast<int>(required));
    std::lock_guard<std::mutex> guard(pixMutex_);
    std::memcpy(cfg, settings_.pixelCfg.data() + (chip == -1 ? 0 : static_cast<size_t>(chip) * kChipPixels), size);
    return 0;
}

int TvkDevice::resetPixelsCfg(int chip)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (const int r = checkChip(chip))
        return r;
    {
        std::lock_guard<std::mutex> guard(pixMutex_);
        settings_.resetPixelCfg(chip);
    }
    return sendPixelsCfg(true, false);
}

int TvkDevice::refreshPixelsCfg()
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    return sendPixelsCfg(true, false);
}

int TvkDevice::loadPixelsCfg(const char* fileName, bool withDacs)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (fileName) {
        // Read into a copy: a short or unreadable file leaves the stored configuration as it was.
        std::vector<uint8_t> bytes(pixelCount_);
        char errText[4096] = "";
        if (const int r = readBinaryFile(fileName, errText, bytes.data(), pixelCount_))
            return setMessage(r, errText);
        {
            std::lock_guard<std::mutex> guard(pixMutex_);
            settings_.pixelCfg.swap(bytes);
        }
        if (withDacs)
            loadDacsFile(std::string(fileName) + ".dacs");
    }
    return sendPixelsCfg(true, false);
}

int TvkDevice::savePixelsCfg(const char* fileName, bool withDacs)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (!fileName || !*fileName)
        return setMessage(TVK_ERR_PARAM, "Invalid parameter, no file name given.");
    char errText[4096] = "";
    if (const int r = writeBinaryFile(fileName, errText, settings_.pixelCfg.data(), pixelCount_))
        return setMessage(r, errText);
    if (withDacs)
        return saveDacsFile(std::string(fileName) + ".dacs");
    return 0;
}

int TvkDevice::loadPixelsCfgAscii(const char* maskFile, const char* testFile, const char* thlAdjFile,
                                  const char* fourthFile, bool withDacs)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const char* files[4] = {maskFile, testFile, thlAdjFile, fourthFile};
    std::vector<short> values;
    std::vector<uint8_t> merged;
    try {
        values.resize(pixelCount_);
        merged = settings_.pixelCfg;
    } catch (const std::bad_alloc&) {
        return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.", static_cast<int>(pixelCount_ * sizeof(short)));
    }
    // Every field is merged into a copy, which replaces the stored bytes only when all files were read.
    const char* lastFile = nullptr;
    for (int field = 0; field < 4; ++field) {
        if (!files[field])
            continue;
        char errText[4096] = "";
        if (const int r = readAsciiI16File(pixelCount_, files[field], values.data(), errText))
            return setMessage(r, errText);
        for (uint32_t i = 0; i < pixelCount_; ++i)
            merged[i] = mergeField(merged[i], field, settings_.chipType, values[i]);
        lastFile = files[field];
    }
    {
        std::lock_guard<std::mutex> guard(pixMutex_);
        settings_.pixelCfg.swap(merged);
    }
    if (const int r = sendPixelsCfg(true, false))
        return r;
    if (withDacs && lastFile)
        return loadDacsFile(std::string(lastFile) + ".dacs");
    return 0;
}

int TvkDevice::savePixelsCfgAscii(const char* maskFile, const char* testFile, const char* thlAdjFile,
                                  const char* fourthFile, bool withDacs)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const char* files[4] = {maskFile, testFile, thlAdjFile, fourthFile};
    std::vector<short> values;
    try {
        values.resize(pixelCount_);
    } catch (const std::bad_alloc&) {
        return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.", static_cast<int>(pixelCount_ * sizeof(short)));
    }
    const unsigned perLine = devInfo_.rowLength > 0 ? static_cast<unsigned>(devInfo_.rowLength) : 256u;
    for (int field = 0; field < 4; ++field) {
        if (!files[field])
            continue;
        for (uint32_t i = 0; i < pixelCount_; ++i)
            values[i] = extractField(settings_.pixelCfg[i], field, settings_.chipType);
        char errText[4096] = "";
        if (const int r = writeAsciiI16File(files[field], values.data(), pixelCount_, perLine, errText))
            return setMessage(r, errText);
        if (withDacs)
            if (const int r = saveDacsFile(std::string(files[field]) + ".dacs"))
                return r;
    }
    return 0;
}
