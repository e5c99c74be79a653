#include "test_pulse_pars.h"

#include <cstdio>

#include "platform/numbers.h"

namespace {

// "%.1f" with '.' as the decimal sign whatever the locale.
std::string oneDecimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    for (char* c = text; *c; ++c)
        if (*c == ',')
            *c = '.';
    return text;
}

} // namespace

int TestPulseParsModel::init(const _MgrFuncTable* table)
{
    if (!table || !table->tvkCtrlGetDevInfo)
        return TVK_ERR_PARAM;
    _DevInfo info{};
    const int rc = table->tvkCtrlGetDevInfo(static_cast<unsigned>(devId), &info);
    if (rc != 0)
        return rc;
    maxCount = info.maxTestPulseCount;
    maxHeight = info.maxTestPulseHeight;
    maxPeriod = info.maxTestPulsePeriod;
    heightLabel = "Pulse height (0 - " + oneDecimal(maxHeight) + ") [V]:";
    periodLabel = "Pulse period (0 - " + oneDecimal(maxPeriod * 1e6) + ") [us]:";
    countLabel = "Number of pulses (0 - " + std::to_string(maxCount) + "):";
    if (period == 0)
        period = maxPeriod / 2;
    if (height == 0)
        height = maxHeight / 2;
    period *= 1e6;
    return 0;
}

std::string TestPulseParsModel::errorText(int rc) const
{
    return "Cannot read the information of device " + std::to_string(devId) + " (error " + std::to_string(rc) + ").";
}

std::string TestPulseParsModel::fieldText(double value)
{
    return plat::formatDouble(value);
}
