#include "dev_lock.h"

void critSecDelete(plat::OwnedRecursiveMutex*& section)
{
    delete section;
    section = nullptr;
}

bool critSecLeaveIfOwned(plat::OwnedRecursiveMutex& section)
{
    if (!section.isOwnedByCurrentThread() || section.depth() == 0)
        return false;
    return section.unlock();
}

DevLock::~DevLock()
{
    if (locked && table_ && table_->tvkCtrlReleaseDevice)
        table_->tvkCtrlReleaseDevice(static_cast<unsigned>(devId));
    locked = 0;
}

int TvkDev::updateDevInfo()
{
    if (!table_ || !table_->tvkCtrlGetDevInfo)
        return TVK_ERR_PARAM;
    _DevInfo info{};
    const int rc = table_->tvkCtrlGetDevInfo(static_cast<unsigned>(devId), &info);
    if (rc == 0)
        static_cast<_DevInfo&>(*this) = info;
    return rc;
}
