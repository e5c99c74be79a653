#include "preview_state.h"

#include <algorithm>
#include <cstring>

void PreviewState::reportError(const std::string& text)
{
    CallbackFuncType cb;
    uint32_t id;
    {
        std::lock_guard l(m_);
        lastError_ = text;
        cb = errorCb_;
        id = id_;
    }
    if (cb)
        cb(id);
}

void PreviewState::copyLastError(char* out, size_t size) const
{
    if (!out || size == 0)
        return;
    std::lock_guard l(m_);
    const size_t n = std::min(lastError_.size(), size - 1);
    std::memcpy(out, lastError_.data(), n);
    std::memset(out + n, 0, size - n);
}

bool PreviewState::requestRefresh()
{
    std::lock_guard l(m_);
    refreshPending_ = true;
    if (maxAutoUpdateMode_ != kAutoUpdateUnlimited || refreshQueued_)
        return false;
    refreshQueued_ = true;
    return true;
}

bool PreviewState::takeRefresh()
{
    std::lock_guard l(m_);
    const bool wanted = refreshPending_;
    refreshPending_ = false;
    refreshQueued_ = false;
    return wanted;
}
