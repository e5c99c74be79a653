#include "dac_deck_core.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <utility>

#include "platform/ini.h"
#include "platform/numbers.h"

namespace dacdeck {

DacState::DacState(const _MgrFuncTable* table, unsigned devId) : table_(table), devId_(devId) { reset(); }

int DacState::reset()
{
    const char** names = nullptr;
    const int* widths = nullptr;
    int dacs = 0;
    int rc = table_->tvkCtrlGetDACsNames(devId_, &names, &widths, &dacs);
    _DevInfo info{};
    const int infoRc = table_->tvkCtrlGetDevInfo(devId_, &info);
    if (rc == 0)
        rc = infoRc;
    std::lock_guard<std::mutex> guard(mutex_);
    dacCount_ = rc == 0 && dacs > 0 ? dacs : 0;
    chipCount_ = rc == 0 && info.chipCount > 0 ? info.chipCount : 0;
    chipType_ = info.chipType;
    valueCount_ = dacCount_ * chipCount_;
    pendingDacs_.assign(static_cast<size_t>(valueCount_), 0);
    thlSense_.assign(2 * static_cast<size_t>(chipCount_), 0.0);
    thhSense_ = thlSense_;
    fbkSense_ = thlSense_;
    extDacPending_ = dacsPending_ = sensePending_ = false;
    pendingRefChip_ = pendingRefFlags_ = 0;
    thlIndex_ = thhIndex_ = fbkIndex_ = -1;
    return rc;
}

void DacState::setNotifier(Notifier notifier) { notifier_ = std::move(notifier); }

void DacState::setIndices(int thl, int thh, int fbk)
{
    std::lock_guard<std::mutex> guard(mutex_);
    thlIndex_ = thl;
    thhIndex_ = thh;
    fbkIndex_ = fbk;
}

void DacState::setSenseCount(int count)
{
    std::lock_guard<std::mutex> guard(mutex_);
    senseCount_ = std::clamp(count, 1, kMaxSenseCount);
}

int DacState::senseCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return senseCount_;
}

int DacState::dacCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return dacCount_;
}

int DacState::chipCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return chipCount_;
}

int DacState::chipType() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return chipType_;
}

int DacState::tryLock()
{
    int locked = 0;
    if (table_->tvkCtrlTryLockDevice(devId_, &locked, 0) != 0)
        return 0;
    return locked;
}

void DacState::release() { table_->tvkCtrlReleaseDevice(devId_); }

void DacState::notify(Notice notice, int code)
{
    if (notifier_)
        notifier_(notice, code);
}

void DacState::failed(const char* what, int code)
{
    if (table_->mgrLogMsg)
        table_->mgrLogMsg("dacdeck", "Device %u: %s failed with %d.", 0, devId_, what, code);
    notify(Notice::Error, code);
}

Applied DacState::applyDacs(const std::vector<uint16_t>& values, int selectedChip, int refFlags, int* code)
{
    int valueCount;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        valueCount = valueCount_;
    }
    if (static_cast<int>(values.size()) != valueCount || valueCount == 0)
        return Applied::Unchanged;
    if (tryLock()) {
        std::vector<uint16_t> current(static_cast<size_t>(valueCount)); // sized from the device
        int rc = table_->tvkCtrlGetDACs(devId_, current.data(), valueCount, -1);
        Applied result = Applied::Unchanged;
        if (rc != 0 || current != values) {
            rc = table_->tvkCtrlSetDACs(devId_, values.data(), valueCount, -1, selectedChip, refFlags);
            result = rc == 0 ? Applied::Sent : Applied::Failed;
        }
        release();
        if (code)
            *code = rc;
        if (result == Applied::Failed)
            failed("setting the DACs", rc);
        return result;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        pendingDacs_ = values;
        pendingRefChip_ = selectedChip;
        pendingRefFlags_ |= refFlags; // kept until applied: a later unlocked move must not drop them
        dacsPending_ = true;
    }
    return Applied::Pending;
}

Applied DacState::applyExtDac(int dacIndex, double value, int* code)
{
    if (tryLock()) {
        const int rc = table_->tvkCtrlSetExtDAC(devId_, dacIndex, value);
        release();
        if (code)
            *code = rc;
        if (rc != 0) {
            failed("setting the external DAC", rc);
            return Applied::Failed;
        }
        return Applied::Sent;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    extDacIndex_ = dacIndex;
    extDacValue_ = value;
    extDacPending_ = true;
    return Applied::Pending;
}

Applied DacState::sense(int* code)
{
    if (!tryLock()) {
        std::lock_guard<std::mutex> guard(mutex_);
        sensePending_ = true;
        return Applied::Pending;
    }
    readBack();
    release();
    if (code)
        *code = 0;
    return Applied::Sent;
}

Applied DacState::readExtDac()
{
    if (!tryLock()) {
        std::lock_guard<std::mutex> guard(mutex_);
        extReadPending_ = true;
        return Applied::Pending;
    }
    extDacChanged();
    release();
    return Applied::Sent;
}

void DacState::readPendingExtDac()
{
    bool pending = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        pending = extReadPending_;
    }
    if (pending)
        readExtDac();
}

void DacState::senseLater()
{
    std::lock_guard<std::mutex> guard(mutex_);
    sensePending_ = true;
}

void DacState::applyPending()
{
    int extIndex = -1;
    double extValue = 0;
    bool ext = false, dacs = false, sensing = false;
    std::vector<uint16_t> values;
    int refChip = 0, refFlags = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ext = extDacPending_;
        extIndex = extDacIndex_;
        extValue = extDacValue_;
        extDacPending_ = false;
        dacs = dacsPending_;
        if (dacs) {
            values = pendingDacs_;
            refChip = pendingRefChip_;
            refFlags = pendingRefFlags_;
            dacsPending_ = false;
            pendingRefFlags_ = 0;
        }
        sensing = sensePending_;
    }
    if (ext) {
        const int rc = table_->tvkCtrlSetExtDAC(devId_, extIndex, extValue);
        if (rc != 0)
            failed("setting the external DAC", rc);
    }
    if (dacs) {
        const int rc = table_->tvkCtrlSetDACs(devId_, values.data(), static_cast<int>(values.size()), -1, refChip,
                                              refFlags);
        if (rc != 0)
            failed("setting the DACs", rc);
    } else if (sensing) {
        readBack();
    }
}

void DacState::readBack()
{
    std::vector<uint16_t> values;
    int thl, thh, fbk, samples, chips, type;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        values = pendingDacs_;
        thl = thlIndex_;
        thh = thhIndex_;
        fbk = fbkIndex_;
        samples = senseCount_;
        chips = chipCount_;
        type = chipType_;
    }
    if (values.empty())
        return;
    const int size = 2 * chips; // sized from the device
    std::vector<double> thlS(static_cast<size_t>(size), 0.0), thhS(thlS), fbkS(thlS);
    int rc = table_->tvkCtrlGetDACs(devId_, values.data(), static_cast<int>(values.size()), -1);
    if (rc == 0 && thl >= 0)
        rc = table_->tvkCtrlGetSingleDACAnalog(devId_, thlS.data(), size, thl, -1, samples);
    if (rc == 0 && fbk >= 0)
        rc = table_->tvkCtrlGetSingleDACAnalog(devId_, fbkS.data(), size, fbk, -1, samples);
    if (rc == 0 && thh >= 0 && type != 3)
        rc = table_->tvkCtrlGetSingleDACAnalog(devId_, thhS.data(), size, thh, -1, samples);
    bool ext = false;
    int extIndex = -1;
    double extValue = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (rc == 0 && values.size() == pendingDacs_.size()) {
            if (!dacsPending_) // a move waiting to be sent stays as the user made it
                pendingDacs_ = values;
            thlSense_ = thlS;
            thhSense_ = thhS;
            fbkSense_ = fbkS;
        }
        sensePending_ = false;
        ext = extDacPending_;
        extIndex = extDacIndex_;
        extValue = extDacValue_;
        extDacPending_ = false;
    }
    if (rc != 0)
        failed("reading back the DACs", rc);
    else
        notify(Notice::ReadBackDone);
    if (ext) {
        const int extRc = table_->tvkCtrlSetExtDAC(devId_, extIndex, extValue);
        if (extRc != 0)
            failed("setting the external DAC", extRc);
    }
}

void DacState::extDacChanged()
{
    int index = -1;
    double value = 0;
    const int rc = table_->tvkCtrlGetExtDAC(devId_, &index, &value);
    if (rc != 0) {
        failed("reading the external DAC", rc);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        extDacIndex_ = index;
        extDacValue_ = value;
        extReadPending_ = false;
    }
    notify(Notice::ExtDacRead);
}

DacState::Snapshot DacState::snapshot() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    Snapshot s;
    s.values = pendingDacs_;
    s.thl = thlSense_;
    s.thh = thhSense_;
    s.fbk = fbkSense_;
    s.extDacIndex = extDacIndex_;
    s.extDacValue = extDacValue_;
    s.dacsPending = dacsPending_;
    s.extDacPending = extDacPending_;
    s.sensePending = sensePending_;
    s.pendingRefFlags = pendingRefFlags_;
    return s;
}

std::shared_ptr<DeckDevice> DeckRegistry::add(const _MgrFuncTable* table, unsigned devId,
                                              plat::OwnedRecursiveMutex& windowLock)
{
    remove(devId);
    auto device = std::make_shared<DeckDevice>(table, devId, windowLock);
    std::lock_guard<std::mutex> guard(mutex_);
    devices_[devId] = device;
    return device;
}

void DeckRegistry::remove(unsigned devId)
{
    std::unique_lock<std::mutex> guard(mutex_);
    const auto it = devices_.find(devId);
    if (it == devices_.end())
        return;
    const std::shared_ptr<DeckDevice> device = it->second;
    devices_.erase(it);
    idle_.wait(guard, [&] { return device->running == 0; });
}

std::shared_ptr<DeckDevice> DeckRegistry::find(unsigned devId) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = devices_.find(devId);
    return it == devices_.end() ? nullptr : it->second;
}

void DeckRegistry::done(DeckDevice& device)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (--device.running == 0)
        idle_.notify_all();
}

bool DeckRegistry::withReadyDevice(unsigned devId, bool mayWait, const std::function<void(DeckDevice&)>& fn)
{
    std::shared_ptr<DeckDevice> device;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = devices_.find(devId);
        if (it == devices_.end() || !it->second->windowReady)
            return true;
        device = it->second;
        ++device->running;
    }
    struct Done {
        DeckRegistry& registry;
        DeckDevice& device;
        ~Done() { registry.done(device); }
    } running{*this, *device};
    const _MgrFuncTable* table = device->table;
    int locked = 0;
    if (table->tvkCtrlTryLockDevice(devId, &locked, mayWait ? MGR_WAIT_INFINITE : 0) != 0)
        return true; // no such device any more
    if (!locked)
        return false;
    struct Release {
        const _MgrFuncTable* table;
        unsigned devId;
        ~Release() { table->tvkCtrlReleaseDevice(devId); }
    } release{table, devId};
    std::lock_guard<plat::OwnedRecursiveMutex> window(device->windowLock);
    if (device->windowReady)
        fn(*device);
    return true;
}

void lockPropagate(std::vector<uint16_t>& values, int dacCount, int chipCount, int selectedChip, int dac,
                   uint32_t lockedMask, int thlIndex, int thhIndex, int& refFlags)
{
    if (chipCount < 2 || dac < 0 || dac >= dacCount || dac >= 32 || !(lockedMask & (1u << dac)))
        return;
    if (static_cast<size_t>(dacCount) * static_cast<size_t>(chipCount) != values.size())
        return;
    if (dac == thlIndex) {
        refFlags |= kRefThl;
        return;
    }
    if (dac == thhIndex) {
        refFlags |= kRefThh;
        return;
    }
    const uint16_t v = values[static_cast<size_t>(selectedChip * dacCount + dac)];
    for (int chip = 0; chip < chipCount; ++chip)
        values[static_cast<size_t>(chip * dacCount + dac)] = v;
}

int extDacRange(double min, double max, double step)
{
    if (!(step > 0))
        return 0;
    const double r = (max - min) / step + 0.5;
    return r > 0 && r < 2147483647.0 ? static_cast<int>(r) : 0;
}

int extDacPosition(double value, double min, double step)
{
    if (!(step > 0))
        return 0;
    const double p = (value - min) / step + 0.5;
    return p > 0 && p < 2147483647.0 ? static_cast<int>(p) : 0;
}

std::string senseText(const std::vector<double>& a, const std::vector<double>& fbk, int chip, int chipCount,
                      int senseCount)
{
    const size_t n = static_cast<size_t>(chipCount);
    if (chip < 0 || chip >= chipCount || a.size() < 2 * n || fbk.size() < 2 * n)
        return "-";
    const size_t c = static_cast<size_t>(chip);
    const std::string diff = plat::formatFixed(a[c] - fbk[c], 4); // "%.4f" in the C locale
    if (senseCount < 2)
        return diff;
    return diff + " (" + plat::formatFixed(std::sqrt(a[n + c] * a[n + c] + fbk[n + c] * fbk[n + c]), 4) + ")";
}

Settings readSettings(const std::string& deviceFile, const std::string& defaultFile)
{
    const std::string& file = std::ifstream(deviceFile).is_open() ? deviceFile : defaultFile;
    Settings s;
    s.activeDacs = plat::getProfileInt("Settings", "ActiveDacs", -1, file.c_str());
    s.lockedDacs = plat::getProfileInt("Settings", "LockedDacs", 0, file.c_str());
    s.senseCount = plat::getProfileInt("Settings", "SenseCount", 1, file.c_str());
    s.senseCount = std::clamp(s.senseCount, 1, kMaxSenseCount);
    return s;
}

int writeSettings(const std::string& file, const Settings& settings, std::string* errorText)
{
    const std::pair<const char*, int> keys[] = {
        {"ActiveDacs", settings.activeDacs}, {"LockedDacs", settings.lockedDacs}, {"SenseCount", settings.senseCount}};
    for (const auto& [key, value] : keys)
        if (int rc = plat::writeProfileString("Settings", key, std::to_string(value).c_str(), file.c_str(), errorText))
            return rc;
    return 0;
}

} // namespace dacdeck
