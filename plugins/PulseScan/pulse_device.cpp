#include "pulse_device.h"

#include <algorithm>

namespace {

// Devices beyond this many pixels are not analysed (64 chips' worth).
constexpr uint32_t kMaxPixels = 64u * 65536u;
// Ids without a record that are remembered; beyond them unknown ids pass silently.
constexpr size_t kMaxStrangers = 1024;

} // namespace

void PulseDevice::onAcqCompleted(const _MgrFuncTable& table)
{
    if (!windowOpen)
        return;
    int framesDone = 0;
    if (table.tvkCtrlGetAcqInfo(devId_, nullptr, nullptr, nullptr, &framesDone) != 0) {
        table.mgrLogMsg(kPulseScanSource, "CallBack: tvkCtrlGetAcqInfo failed", 0);
        return;
    }
    if (framesDone <= 0)
        return; // no frame to read
    _DevInfo info{};
    if (table.tvkCtrlGetDevInfo(devId_, &info) != 0 || info.rowLength <= 0 || info.pixelCount <= 0 ||
        static_cast<uint32_t>(info.pixelCount) > kMaxPixels || info.pixelCount % info.rowLength != 0)
        return;
    const uint32_t pixels = static_cast<uint32_t>(info.pixelCount);
    frame_.resize(pixels);
    const int last = framesDone - 1;
    if (table.tvkCtrlGetFrame16(devId_, frame_.data(), pixels, last) != 0)
        return;
    samples_.resize(kScopeBufferBytes / 2);
    uint32_t size = kScopeBufferBytes;
    int type = 0;
    unsigned count = 0;
    if (table.tvkCtrlGetFrameAttrib(devId_, last, "Scope data", samples_.data(), &size, &type) == 0)
        count = std::min(size, kScopeBufferBytes) / 2;
    if (count > 0 && !scopeSeen_.exchange(true))
        changed(); // the window stops waiting for its input, also before a measurement
    analyse(reinterpret_cast<const uint16_t*>(frame_.data()), static_cast<unsigned>(info.rowLength),
            pixels / static_cast<uint32_t>(info.rowLength), samples_.data(), count);
}

void PulseDevice::analyse(const uint16_t* frame, unsigned width, unsigned height, const uint16_t* samples,
                          unsigned count)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_)
            return;
        analysis_.analyse(frame, width, height, samples, count);
    }
    changed();
}

void PulseDevice::changed()
{
    if (refreshPending_.exchange(true))
        return;
    std::lock_guard<std::mutex> lock(refreshMutex_);
    if (refreshHandler_)
        refreshHandler_(devId_);
}

void PulseDevice::setRefreshHandler(std::function<void(unsigned)> handler)
{
    std::lock_guard<std::mutex> lock(refreshMutex_);
    refreshHandler_ = std::move(handler);
    refreshPending_ = false; // a request the old window did not take is not waited for
}

void PulseDevice::start(const PulseSettings& settings)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        analysis_.setSettings(settings);
        analysis_.reset();
        running_ = true;
    }
    changed();
}

void PulseDevice::stop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

bool PulseDevice::running() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

void PulseDevice::setSettings(const PulseSettings& settings)
{
    std::lock_guard<std::mutex> lock(mutex_);
    analysis_.setSettings(settings);
}

PulseSettings PulseDevice::settings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return analysis_.settings();
}

PulseResults PulseDevice::takeResults()
{
    refreshPending_ = false;
    std::lock_guard<std::mutex> lock(mutex_);
    return analysis_.results();
}

bool PulseDeviceSet::deviceExists(intptr_t devId) const
{
    if (devId < 0 || devId > UINT32_MAX)
        return false;
    _DevInfo info{};
    return !table_->tvkCtrlGetDevInfo || table_->tvkCtrlGetDevInfo(static_cast<unsigned>(devId), &info) != TVK_ERR_DEV_INDEX;
}

std::shared_ptr<PulseDevice> PulseDeviceSet::add(unsigned devId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = devices_[devId];
    if (!slot)
        slot = std::make_shared<PulseDevice>(devId);
    return slot;
}

std::shared_ptr<PulseDevice> PulseDeviceSet::find(unsigned devId) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = devices_.find(devId);
    return it == devices_.end() ? nullptr : it->second;
}

void PulseDeviceSet::acqCompleted(intptr_t arg)
{
    std::shared_ptr<PulseDevice> device;
    bool judge = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return;
        if (arg >= 0 && arg <= UINT32_MAX) {
            const auto it = devices_.find(static_cast<unsigned>(arg));
            if (it != devices_.end())
                device = it->second;
        }
        if (device)
            ++running_;
        else if (strangers_.size() < kMaxStrangers)
            judge = strangers_.insert(arg).second;
    }
    if (!device) {
        if (judge && !deviceExists(arg))
            table_->mgrLogMsg(kPulseScanSource, "CallBack: Invalid device ID (devID=0x%x)", 0,
                              static_cast<unsigned>(arg));
        return;
    }
    struct Done {
        PulseDeviceSet& set;
        ~Done()
        {
            std::lock_guard<std::mutex> lock(set.mutex_);
            if (--set.running_ == 0)
                set.idle_.notify_all();
        }
    } done{*this};
    try {
        device->onAcqCompleted(*table_);
    } catch (const std::exception& e) {
        table_->mgrLogMsg(kPulseScanSource, "CallBack: %s", 0, e.what());
    } catch (...) {
        table_->mgrLogMsg(kPulseScanSource, "CallBack: unknown exception", 0);
    }
}

void PulseDeviceSet::close()
{
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = true;
    idle_.wait(lock, [this] { return running_ == 0; });
}
