// TvkDevice: DAC values of all chips, the reference derivation, analog read-back and the external DAC.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "device.h"

int TvkDevice::sendDacs(bool notifyChange, bool routeExtDac, int senseOn, const int* dacCodes,
                        uint32_t testPulseColumns)
{
    const int chips = settings_.chips;
    const int extIndex = settings_.extDacIndex;
    int extDacOn = extIndex >= 0 && dacCodes && dacCodes[0] == dacSet_->senseCodes[extIndex] ? 255 : 0;
    const bool callerCodes = dacCodes != nullptr;
    std::vector<int> extCodes;
    if (routeExtDac && extIndex >= 0) {
        extCodes.assign(static_cast<size_t>(chips), dacSet_->senseCodes[extIndex]);
        if (!dacCodes) {
            dacCodes = extCodes.data();
            extDacOn = 255;
        }
    }
    const int count = settings_.dacValueCount();
    int result = 0;
    if (table_->hwSetTvkDACs(hwId_, settings_.dacs.data(), count, senseOn, extDacOn, dacCodes, testPulseColumns))
        result = setMessageF(TVK_ERR_DAC_SEND, "Error occurred while setting Tarvik DACs: %s", hwError().c_str());
    if (notifyChange)
        notify(&CtrlCallbacks::dacsChanged);
    // Keeps the external DAC connected when the caller's codes selected another DAC.
    if (result == 0 && routeExtDac && extIndex >= 0 && callerCodes && extDacOn == 0) {
        if (table_->hwSetTvkDACs(hwId_, settings_.dacs.data(), count, 0, 255, extCodes.data(), testPulseColumns))
            result = setMessageF(TVK_ERR_DAC_SEND, "Error occurred while setting Tarvik DACs: %s", hwError().c_str());
    }
    return result;
}

int TvkDevice::setDACsDefault()
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const int count = dacSet_->count;
    for (int chip = 0; chip < settings_.chips; ++chip)
        std::copy_n(defaults_, count, settings_.dacs.begin() + chip * count);
    return sendDacs(true, true, 0, nullptr, 0);
}

// The checks shared by the DAC array calls: a usable device, a chip index or -1 for all chips, and an
// array of exactly the DACs of that chip or of all chips. Called with the device lock held.
int TvkDevice::checkDacArray(const void* data, int size, int chip)
{
    if (const int r = checkUsable())
        return r;
    if (const int r = checkChip(chip))
        return r;
    const int required = chip == -1 ? settings_.chips * dacSet_->count : dacSet_->count;
    if (size != required || !data)
        return setMessageF(TVK_ERR_PARAM, "Invalid DAC values array size, size: %d, required: %d", data ? size : 0, required);
    return 0;
}

int TvkDevice::setDACs(const uint16_t* dacs, int size, int chip, int refChip, int refFlags)
{
    Lock lock(*this);
    if (const int r = checkDacArray(dacs, size, chip))
        return r;
    const int count = dacSet_->count;
    const int chips = settings_.chips;
    std::copy_n(dacs, size, settings_.dacs.begin() + (chip == -1 ? 0 : chip * count));
    if (chip == -1 && refFlags != 0 && refChip >= 0 && refChip < chips && chips > 1) {
        const size_t setSize = static_cast<size_t>(chips - 1) * 2;
        if (refFlags & 1)
            deriveFromReference(settings_.dacs.data(), chips, *dacSet_, dacSet_->thlIndex, refChip, refCoefs_.data());
        if ((refFlags & 2) && dacSet_->thhIndex >= 0)
            deriveFromReference(settings_.dacs.data(), chips, *dacSet_, dacSet_->thhIndex, refChip,
                                refCoefs_.data() + setSize);
    }
    return sendDacs(true, true, 0, nullptr, 0);
}

int TvkDevice::getDACs(uint16_t* dacs, int size, int chip)
{
    Lock lock(*this);
    if (const int r = checkDacArray(dacs, size, chip))
        return r;
    const int count = dacSet_->count;
    std::copy_n(settings_.dacs.begin() + (chip == -1 ? 0 : chip * count), size, dacs);
    return 0;
}

int TvkDevice::refreshDACs()
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    return sendDacs(false, true, 0, nullptr, 0);
}

int TvkDevice::getSingleDACAnalog(double* values, int size, int dacIndex, int chip, int samples)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (const int r = checkChip(chip))
        return r;
    const int count = dacSet_->count;
    if (dacIndex < 0 || dacIndex >= count)
        return setMessageF(TVK_ERR_PARAM, "Invalid DAC number (%d), %d DACs present (0-%d).", dacIndex, count, count - 1);
    const int chips = settings_.chips;
    const int required = chip == -1 ? chips : 1;
    if (size < required || !values)
        return setMessageF(TVK_ERR_PARAM, "Invalid DAC values array size, size: %d, required: %d", values ? size : 0, required);

    const int sense = dacSet_->senseCodes[dacIndex];
    const std::vector<int> codes(static_cast<size_t>(chips), sense);
    const int extIndex = settings_.extDacIndex;
    const int extDacOn = extIndex >= 0 && dacSet_->senseCodes[extIndex] == sense ? 255 : 0;
    if (table_->hwSetTvkDACs(hwId_, settings_.dacs.data(), settings_.dacValueCount(), 255, extDacOn, codes.data(), 0))
        return setMessageF(TVK_ERR_DAC_SEND, "Error occurred while setting Tarvik DACs: %s", hwError().c_str());

    const int n = std::max(samples, 1);
    auto readChip = [&](int c, double* mean, double* deviation) -> int {
        double sum = 0.0;
        double squares = 0.0;
        for (int i = 0; i < n; ++i) {
            double v = 0.0;
            if (table_->hwGetTvkDacVal(hwId_, c, &v))
                return setMessageF(TVK_ERR_SENSE, "Error occurred while reading analog value from Tarvik DACs): %s",
                                   hwError().c_str());
            sum += v;
            squares += v * v;
        }
        *mean = sum / n;
        // Rounding can make the difference slightly negative; the deviation is then 0, never NaN.
        *deviation = std::sqrt(std::max(0.0, squares / n - *mean * *mean));
        return 0;
    };

    if (chip != -1) {
        double mean = 0.0;
        double deviation = 0.0;
        if (const int r = readChip(chip, &mean, &deviation))
            return r;
        values[0] = mean;
        if (size >= 2)
            values[1] = deviation;
        return 0;
    }
    // Deviations follow the means only when the caller's array holds both.
    const bool withDeviations = size >= 2 * chips;
    for (int c = 0; c < chips; ++c) {
        double mean = 0.0;
        double deviation = 0.0;
        if (const int r = readChip(c, &mean, &deviation))
            return r;
        values[c] = mean;
        if (withDeviations)
            values[chips + c] = deviation;
    }
    if (extIndex >= 0 && extIndex != dacIndex)
        return sendDacs(false, true, 0, nullptr, 0);
    return 0;
}

int TvkDevice::getDACsAnalog(double* values, int size, int chip)
{
    Lock lock(*this);
    if (const int r = checkDacArray(values, size, chip))
        return r;
    const int count = dacSet_->count;
    const int chips = settings_.chips;
    std::vector<double> perChip(static_cast<size_t>(chips));
    for (int j = 0; j < count; ++j) {
        if (chip != -1) {
            if (const int r = getSingleDACAnalog(&values[j], 1, j, chip, 1))
                return r;
            continue;
        }
        if (const int r = getSingleDACAnalog(perChip.data(), chips, j, -1, 1))
            return r;
        for (int c = 0; c < chips; ++c)
            values[c * count + j] = perChip[static_cast<size_t>(c)];
    }
    return 0;
}

int TvkDevice::getDACsNames(const char*** names, const int** bitWidths, int* dacCount)
{
    if (const int r = checkUsable())
        return r;
    if (names)
        *names = dacSet_->names;
    if (bitWidths)
        *bitWidths = dacSet_->bits;
    if (dacCount)
        *dacCount = dacSet_->count;
    return 0;
}

int TvkDevice::setDACRefCoef(const double* coefs, int size, int set)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const int required = 2 * (settings_.chips - 1);
    if (size != required || (!coefs && size > 0))
        return setMessageF(TVK_ERR_PARAM, "Invalid array size of ref. coef., size: %d, required: %d", size, required);
    if (size > 0)
        std::copy_n(coefs, size, refCoefs_.begin() + (set == 1 ? 0 : required));
    return 0;
}

int TvkDevice::getDACRefCoef(double* coefs, int size, int set)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const int required = 2 * (settings_.chips - 1);
    if (size != required || (!coefs && size > 0))
        return setMessageF(TVK_ERR_PARAM, "Invalid array size for ref. coef., size: %d, required: %d", size, required);
    if (size > 0)
        std::copy_n(refCoefs_.begin() + (set == 1 ? 0 : required), size, coefs);
    return 0;
}

int TvkDevice::setExtDAC(int dacIndex, double value)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const int count = dacSet_->count;
    if (dacIndex >= count)
        return setMessageF(TVK_ERR_PARAM, "Invalid DAC number (%d), %d DACs present (0-%d).", dacIndex, count, count - 1);
    if (table_->hwSetExtDac(hwId_, dacIndex >= 0 ? value : -1.0))
        return setMessageF(TVK_ERR_EXT_DAC, "Error occurred while setting external DAC: %s", hwError().c_str());
    settings_.extDacValue = value;
    settings_.extDacIndex = dacIndex >= 0 ? dacIndex : -1;
    if (const int r = sendDacs(false, true, 0, nullptr, 0))
        return r;
    notify(&CtrlCallbacks::extDacChanged);
    return 0;
}

int TvkDevice::getExtDAC(int* dacIndex, double* value)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (dacIndex)
        *dacIndex = settings_.extDacIndex;
    if (value)
        *value = settings_.extDacValue;
    return 0;
}
