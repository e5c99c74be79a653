#include "hw_device.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace hwkit {

bool copyHwInfoItem(const HwInfoItem& item, const void* value, int size, HwInfoItem* out, int* dataSize)
{
    out->type = item.type;
    out->count = item.count;
    out->flags = item.flags;
    out->name = item.name;
    out->description = item.description;
    if (*dataSize < size || !out->data) {
        *dataSize = size;
        return false;
    }
    if (size > 0)
        std::memcpy(out->data, value, static_cast<size_t>(size));
    return true;
}

int Device::setError(int code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(lastError_, sizeof lastError_, format, args);
    va_end(args);
    return code;
}

int Device::notSupported(const char* function)
{
    return setError(errorCode_, "%s is not supported by this device.", function);
}

int Device::beforeCall(const char*)
{
    return 0;
}

int Device::init()
{
    return 0;
}

int Device::setCbTag(void* tag)
{
    tag_ = tag;
    return 0;
}

int Device::closeDevice()
{
    return 0;
}

int Device::getHwInfoFlags(int, uint32_t*)
{
    return notSupported("hwGetHwInfoFlags");
}

int Device::getHwInfo(int, HwInfoItem*, int*)
{
    return notSupported("hwGetHwInfo");
}

int Device::setHwInfo(int, const void*, int)
{
    return notSupported("hwSetHwInfo");
}

int Device::getDevInfo(_DevInfo*)
{
    return notSupported("hwGetDevInfo");
}

int Device::getAcqTime(double*)
{
    return notSupported("hwGetAcqTime");
}

int Device::setAcqPars(const _AcqPars*)
{
    return notSupported("hwSetAcqPars");
}

int Device::startAcquisition()
{
    return notSupported("hwStartAcquisition");
}

int Device::stopAcquisition()
{
    return notSupported("hwStopAcquisition");
}

int Device::checkBusy(int*)
{
    return notSupported("hwCheckBusy");
}

int Device::testPulses(double, double, uint32_t)
{
    return notSupported("hwTestPulses");
}

int Device::setTvkDacs(const uint16_t*, int, int, int, const int*, uint32_t)
{
    return notSupported("hwSetTvkDACs");
}

int Device::getTvkDacVal(int, double*)
{
    return notSupported("hwGetTvkDacVal");
}

int Device::setExtDac(double)
{
    return notSupported("hwSetExtDac");
}

int Device::setPixelsCfg(const uint8_t*, uint32_t)
{
    return notSupported("hwSetPixelsCfg");
}

int Device::resetMatrix()
{
    return notSupported("hwResetMatrix");
}

int Device::readMatrix(uint16_t*, uint32_t)
{
    return notSupported("hwReadMatrix");
}

int Device::writeMatrix(const uint16_t*, uint32_t)
{
    return notSupported("hwWriteMatrix");
}

int Device::generalReset()
{
    return notSupported("hwGeneralReset");
}

} // namespace hwkit
