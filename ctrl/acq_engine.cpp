// TvkDevice: the acquisitions. Frame, integral and test-pulse acquisitions and the digital test, the
// exposure with its wait and read-out, spacing sub-masks, frame creation and the attributes of acquired
// frames. Every acquisition runs in the caller's thread and holds the device lock from start to end.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "config_text.h"
#include "device.h"
#include "hwlib.h"
#include "last_frames.h"
#include "super_matrix.h"
#include "tvk_frame_info.h"
#include "hwlibs/codec/counter_codec.h"
#include "platform/file_write.h"
#include "pluginfw/tvk_utils.h"

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(10);
constexpr int kMaxHwInfoItems = 4096;
constexpr size_t kHwInfoBufferSize = 1024;
constexpr uint32_t kChipSide = 256;

// Display path of an acquisition's frames: "<prefix> - <local time as ctime writes it>".
std::string logPathNow(const char* prefix)
{
    char timeText[32] = "";
    const time_t now = std::time(nullptr);
    if (!ctime_r(&now, timeText))
        timeText[0] = '\0';
    char out[128];
    std::snprintf(out, sizeof out, "%s - %.24s", prefix, timeText);
    return out;
}

// Spacing of test pulses on chip types 2 and 3: the next power of two (their column masks repeat with it).
int nextPowerOfTwo(int value)
{
    int p = 1;
    while (p < value)
        p <<= 1;
    return p;
}

} // namespace

// ---- state ----

void TvkDevice::clearAbort()
{
    abort_ = false;
    // retire() sets retired before abort: seeing it here keeps an exit's abort from being lost.
    if (retired_)
        abort_ = true;
}

void TvkDevice::closeFramesLocked()
{
    acqTime_ = 0.0;
    clearAbort();
    std::vector<TvkFrameInfo*> frames;
    {
        std::lock_guard<std::recursive_mutex> guard(frameMutex_);
        acqKind_ = -1;
        framesDone_ = 0;
        frameCount_ = 0;
        frames.swap(frames_);
    }
    // No getter can reach these any more: each uses its frame with the frame lock held.
    for (TvkFrameInfo* frame : frames)
        lastframes::dropFrameReference(frame);
}

int TvkDevice::closeFrames()
{
    Lock lock(*this);
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    closeFramesLocked();
    lastframes::returnFreedMemory();
    return 0;
}

int TvkDevice::ensureBuffers()
{
    try {
        if (readoutBuffer_.size() != pixelCount_)
            readoutBuffer_.assign(pixelCount_, 0);
        if (settings_.chips == 4 && remapBuffer_.size() != pixelCount_)
            remapBuffer_.assign(pixelCount_, 0);
    } catch (const std::bad_alloc&) {
        return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.",
                           static_cast<int>(pixelCount_ * sizeof(uint16_t)));
    }
    return 0;
}

// ---- one exposure ----

int TvkDevice::setAcqParameters(double acqTime)
{
    const int mode = settings_.hwTimer;
    const int useHwTimer = mode == 0 ? 1 : mode == 1 ? 0 : (devInfo_.hwTimerMax > acqTime ? 1 : 0);
    acqPars_.useHwTimer = useHwTimer;
    acqPars_.acqTime = acqTime;
    signal_->acqMode = acqPars_.acqMode;
    signal_->hwTimerUsed = useHwTimer != 0;
    if (table_->hwSetAcqPars(hwId_, &acqPars_))
        return setMessageF(TVK_ERR_PARAM, "Settings acq. parameters failed: %s", hwError().c_str());
    return 0;
}

bool TvkDevice::remapsReadout() const
{
    return settings_.chips == 4 && autoConvToSM_ != 0;
}

int TvkDevice::readMatrixInto(uint16_t* buffer)
{
    uint16_t* target = remapsReadout() ? remapBuffer_.data() : buffer;
    if (table_->hwReadMatrix(hwId_, target, pixelCount_))
        return setMessageF(TVK_ERR_READOUT, "Error occurred while reading-out matrix: %s", hwError().c_str());
    if (target != buffer)
        supermatrix::toMatrix(target, buffer, sizeof(uint16_t));
    return 0;
}

int TvkDevice::waitForExposure(double acqTime)
{
    const bool hwTimer = acqPars_.useHwTimer != 0;
    const int mode = acqPars_.acqMode;
    if ((mode == ACQMODE_MANUAL && !hwTimer) || mode == ACQMODE_EXTSHUTTER_FIXED) {
        preciseWait(acqTime, &abort_);
        return 0;
    }
    if (devInfo_.callbackSupported) {
        while (!abort_ && !signal_->acqEvent.waitFor(kPollPeriod)) {
        }
        // In trigger-start mode without the hardware timer the event marked the start of the exposure.
        if (mode == ACQMODE_TRIG_START && !hwTimer && !abort_)
            preciseWait(acqTime, &abort_);
        return 0;
    }
    for (;;) {
        int busy = 0;
        if (table_->hwCheckBusy(hwId_, &busy))
            return setMessageF(TVK_ERR_BUSY_POLL, "Error occurred while checking busy state: %s", hwError().c_str());
        if (!busy || abort_)
            return 0;
        std::this_thread::sleep_for(kPollPeriod);
    }
}

int TvkDevice::exposeInto(uint16_t* buffer)
{
    // The event is auto-reset, but a "finished" left over from an earlier exposure (or an abort that ended
    // the last wait) would end this exposure's wait at once.
    signal_->acqEvent.reset();
    if (table_->hwStartAcquisition(hwId_))
        return setMessageF(TVK_ERR_ACQ_START, "Cannot start acquisition: %s", hwError().c_str());
    const int mode = acqPars_.acqMode;
    if (mode != ACQMODE_TRIG_START && mode != ACQMODE_TRIG_EXTSHUTTER)
        notify(&CtrlCallbacks::acqStart); // in those two modes the hardware's start event reports it
    // A failed wait does not stop the exposure: the device is still stopped and read.
    const int waitResult = waitForExposure(acqPars_.acqTime);
    if (table_->hwStopAcquisition(hwId_))
        return setMessageF(TVK_ERR_ACQ_STOP, "Error occurred while stopping acquisition: %s", hwError().c_str());
    if (const int r = readMatrixInto(buffer))
        return r;
    return waitResult;
}

// ---- spacing sub-masks ----

int TvkDevice::applySubMask(int spacing, int phase, bool testPulse)
{
    {
        std::lock_guard<std::mutex> guard(pixMutex_);
        settings_.copyPixelCfgFrom(saved_);
        uint8_t* cfg = settings_.pixelCfg.data();
        const uint8_t* savedCfg = saved_.pixelCfg.data();
        const size_t n = settings_.pixelCfg.size();
        for (size_t j = 0; j < n; ++j)
            cfg[j] &= static_cast<uint8_t>(~1u);
        const uint32_t row0 = static_cast<uint32_t>(phase / spacing);
        const uint32_t column0 = static_cast<uint32_t>(phase % spacing);
        const uint32_t step = static_cast<uint32_t>(spacing);
        for (size_t chip = 0; chip < n / kChipPixels; ++chip)
            for (uint32_t row = row0; row < kChipSide; row += step)
                for (uint32_t column = column0; column < kChipSide; column += step) {
                    const size_t j = chip * kChipPixels + row * kChipSide + column;
                    cfg[j] = static_cast<uint8_t>(cfg[j] | (savedCfg[j] & 1u));
                }
        if (testPulse) // the test-pulse input is active low: exactly the enabled pixels receive pulses
            for (size_t j = 0; j < n; ++j)
                cfg[j] = static_cast<uint8_t>((cfg[j] & ~2u) | ((cfg[j] & 1u) ? 0u : 2u));
    }
    if (table_->hwSetPixelsCfg(hwId_, settings_.pixelCfg.data(), pixelCount_))
        return setMessageF(TVK_ERR_PIXCFG, "Pixel mask setting failed: %s", hwError().c_str());
    notify(&CtrlCallbacks::pixCfgChanged);
    if (table_->hwResetMatrix(hwId_))
        return setMessageF(TVK_ERR_MATRIX_RESET, "Resetting pixel matrix failed: %s", hwError().c_str());
    return 0;
}

int TvkDevice::restorePixelCfg()
{
    {
        std::lock_guard<std::mutex> guard(pixMutex_);
        settings_.copyPixelCfgFrom(saved_);
    }
    if (table_->hwSetPixelsCfg(hwId_, settings_.pixelCfg.data(), pixelCount_))
        return setMessageF(TVK_ERR_PIXCFG, "Pixel mask setting failed: %s", hwError().c_str());
    notify(&CtrlCallbacks::pixCfgChanged);
    return 0;
}

void TvkDevice::copyPhase(uint16_t* frame, const uint16_t* readout, int spacing, int phase) const
{
    // The phase is defined on chip pixels; a remapped read-out and the frame are both in super-matrix
    // order, so both are addressed through the map.
    const bool remapped = remapsReadout();
    const uint32_t row0 = static_cast<uint32_t>(phase / spacing);
    const uint32_t column0 = static_cast<uint32_t>(phase % spacing);
    const uint32_t step = static_cast<uint32_t>(spacing);
    const uint32_t chips = pixelCount_ / kChipPixels;
    for (uint32_t chip = 0; chip < chips; ++chip)
        for (uint32_t row = row0; row < kChipSide; row += step)
            for (uint32_t column = column0; column < kChipSide; column += step) {
                const uint32_t k = remapped ? supermatrix::indexOfChipPixel(chip, row, column)
                                            : chip * kChipPixels + row * kChipSide + column;
                frame[k] = readout[k];
            }
}

// ---- frames ----

int TvkDevice::notifyFrame(std::atomic<TvkFrameCallback> CtrlCallbacks::*member, TvkFrameInfo* frame)
{
    if (const CtrlCallbacks* cb = callbacks())
        if (TvkFrameCallback fn = (cb->*member).load())
            fn(frame);
    return 0;
}

int TvkDevice::createFrame(int type, const char* name, const std::string& logPath, TvkFrameInfo** out)
{
    TvkFrameInfo* frame = TvkFrameInfo::createInstance();
    if (!frame)
        return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.", static_cast<int>(sizeof(TvkFrameInfo)));
    if (const int r = frame->init(this, type, true)) {
        const std::string text = frame->getLastErr();
        TvkFrameInfo::deleteInstance(frame);
        return setMessageF(r, "Frame init error: %s.", text.c_str());
    }
    frame->setCreatorName("TvkCtrl");
    if (name)
        frame->setName(name);
    if (!logPath.empty())
        frame->setLogPath(logPath.c_str());
    // Before any data: a frame store registers the frame here and gives it its id.
    notifyFrame(&CtrlCallbacks::frameCreated, frame);
    *out = frame;
    return 0;
}

void TvkDevice::addStandardAttribs(TvkFrameInfo* frame)
{
    const int32_t chipType = settings_.chipType;
    const double clock = devInfo_.clockMHz;
    const int32_t polarity = settings_.polarity;
    const int32_t hwTimer = settings_.hwTimer;
    const int32_t acqMode = settings_.acqMode;
    const double acqTime = acqTime_;
    const double startTime = startTime_;
    char startText[64] = {};
    formatTimestamp(startTime, startText, 6);
    // Adding stops at the first attribute that fails; the frame reports that failure itself.
    auto add = [&](const char* name, const char* description, _Data_Types type, const void* data, size_t count) {
        return frame->addAttrib(name, description, type, data, static_cast<uint32_t>(count), 0) == 0;
    };
    add("Tvk type", "Tarvik type (1-2.1, 2-ZRN, 3-SRN)", TYPE_I32, &chipType, 1) &&
        add("Interface", "Tarvik interface", TYPE_UCHAR, interfaceName_.c_str(), interfaceName_.size() + 1) &&
        add("ChipboardID", "Tarvik or chipboard ID", TYPE_UCHAR, chipboardId_.c_str(), chipboardId_.size() + 1) &&
        add("Tvk clock", "Tarvik clock [MHz]", TYPE_DOUBLE, &clock, 1) &&
        add("Polarity", "Detector polarity (0 negative, 1 positive)", TYPE_I32, &polarity, 1) &&
        add("Hw timer", "Hw timer mode", TYPE_I32, &hwTimer, 1) &&
        add("Acq mode", "Acquisition mode", TYPE_I32, &acqMode, 1) &&
        add("DACs", "DACs values of all chips", TYPE_U16, settings_.dacs.data(), settings_.dacs.size()) &&
        add("Acq time", "Acquisition time [s]", TYPE_DOUBLE, &acqTime, 1) &&
        add("Start time", "Acquisition start time", TYPE_DOUBLE, &startTime, 1) &&
        add("Start time (string)", "Acquisition start time (string)", TYPE_CHAR, startText, sizeof startText);
}

int TvkDevice::addHwInfoAttribs(TvkFrameInfo* frame)
{
    const int count = std::min(table_->hwGetHwInfoCount(), kMaxHwInfoItems);
    std::vector<unsigned char> buffer(kHwInfoBufferSize);
    for (int i = 0; i < count; ++i) {
        uint32_t flags = 0;
        if (table_->hwGetHwInfoFlags(hwId_, i, &flags))
            return TVK_ERR_GENERIC;
        if (!(flags & HWINFO_TO_FRAME))
            continue;
        HwInfoItem item{};
        const int got = fetchHwInfo(i, &item, &buffer);
        if (got < 0)
            return got;
        if (got > 0) // an item that cannot be read is left out
            continue;
        frame->addAttrib(hwText(item.name).c_str(), hwText(item.description).c_str(),
                         static_cast<_Data_Types>(item.type), buffer.data(), item.count, 0);
    }
    return 0;
}

// The arguments shared by frame and integral acquisitions: a file name in file mode, at least one frame,
// a finite exposure time that is not negative.
int TvkDevice::checkAcqArgs(int frameCount, double acqTime, bool fileMode, const char* fileName)
{
    if (fileMode && !fileName)
        return setMessage(TVK_ERR_PARAM, "Filename must be supplied.");
    if (frameCount <= 0)
        return setMessageF(TVK_ERR_PARAM, "Invalid number of frames: %d.", frameCount);
    if (!std::isfinite(acqTime) || acqTime < 0.0)
        return setMessageF(TVK_ERR_PARAM, "Invalid acquisition time: %g s.", acqTime);
    return 0;
}

// ---- frame acquisition ----

int TvkDevice::performFrameAcq(int frameCount, double acqTime, uint32_t fileFlags, const char* fileName)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const bool fileMode = fileFlags != 0;
    if (const int r = checkAcqArgs(frameCount, acqTime, fileMode, fileName))
        return r;
    if (fileMode && frameCount > 1) {
        char probe[512];
        const int last = frameCount - 1;
        if (!makeIndexedFileName(probe, fileName, last, digitCount(static_cast<uint32_t>(last))))
            return setMessageF(TVK_ERR_PARAM, "Cannot save frame to file: %s (the numbered file name is too long).",
                               fileName);
    }
    if (const int r = ensureBuffers())
        return r;
    // In memory mode the array grows with the frames, so that a huge frame count costs nothing up front.
    std::vector<TvkFrameInfo*> frames(fileMode ? 1 : 0, nullptr);
    frames.reserve(fileMode ? 1 : std::min<size_t>(static_cast<size_t>(frameCount), 1024));

    closeFramesLocked();
    acqTime_ = acqTime;
    {
        std::lock_guard<std::recursive_mutex> guard(frameMutex_);
        lastFileName_ = fileMode ? fileName : "";
        frameCount_ = frameCount;
        acqKind_ = fileMode ? 1 : 0;
        frames_.swap(frames);
    }
    if (table_->hwResetMatrix(hwId_))
        return setMessageF(TVK_ERR_MATRIX_RESET, "Resetting pixel matrix failed: %s", hwError().c_str());
    const int spacing = spacing_;
    if (spacing > 1)
        saved_.copyPixelCfgFrom(settings_);

    TvkFrameInfo* held = nullptr; // the frame whose data lock this call holds
    uint16_t* heldData = nullptr;
    int result = 0;
    if (fileMode) {
        result = createFrame(TYPE_I16, nullptr, std::string(), &held);
        if (result == 0) {
            void* data = nullptr;
            uint32_t size = 0;
            if (const int r = held->getLockedBuffer(&data, &size, TvkFrameInfo::kWaitForever)) {
                result = setMessage(r, held->getLastErr());
                lastframes::dropFrameReference(held);
                held = nullptr;
            }
            heldData = static_cast<uint16_t*>(data);
        }
    }
    if (result == 0)
        result = setAcqParameters(acqTime);
    // The numbered files are put in place as they are written and synced together at the end of the call,
    // so that the exposures never wait for the disk.
    plat::SyncBatch written;
    if (result == 0)
        result = frameAcqLoop(frameCount, fileMode, fileFlags, fileName, spacing, &held, &heldData, &written);

    if (spacing > 1) {
        const int r = restorePixelCfg();
        if (result == 0)
            result = r;
    }
    if (held) {
        held->unlock(); // a frame locked by another thread reports "Frame unlock failed." itself
        if (fileMode)
            lastframes::dropFrameReference(held);
    }
    std::string syncError;
    if (written.flush(&syncError) != 0 && result == 0)
        result = setMessage(TVK_ERR_WRITE, syncError);
    return result;
}

int TvkDevice::frameAcqLoop(int frameCount, bool fileMode, uint32_t fileFlags, const char* fileName, int spacing,
                            TvkFrameInfo** held, uint16_t** heldData, plat::SyncBatch* written)
{
    const std::string logPath = fileMode ? std::string() : logPathNow("Acq (frames)");
    const int phases = spacing * spacing;
    const int digits = digitCount(static_cast<uint32_t>(frameCount - 1));
    for (int f = 0; f < frameCount; ++f) {
        TvkFrameInfo* frame = *held;
        if (!fileMode) {
            char name[32];
            std::snprintf(name, sizeof name, "Frame %d", f);
            if (const int r = createFrame(TYPE_I16, name, logPath, &frame))
                return r;
            try {
                std::lock_guard<std::recursive_mutex> guard(frameMutex_);
                frames_.push_back(frame);
                curFrame_ = f;
            } catch (const std::bad_alloc&) {
                lastframes::dropFrameReference(frame);
                return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.",
                                   static_cast<int>(sizeof(TvkFrameInfo*) * (f + 1)));
            }
            void* data = nullptr;
            uint32_t size = 0;
            if (const int r = frame->getLockedBuffer(&data, &size, TvkFrameInfo::kWaitForever))
                return setMessage(r, frame->getLastErr());
            *held = frame;
            *heldData = static_cast<uint16_t*>(data);
        } else {
            std::lock_guard<std::recursive_mutex> guard(frameMutex_);
            curFrame_ = f;
        }

        for (int i = 0; i < phases; ++i) {
            if (spacing > 1)
                if (const int r = applySubMask(spacing, i, false))
                    return r;
            if (const int r = exposeInto(spacing > 1 ? readoutBuffer_.data() : *heldData))
                return r;
            if (spacing > 1)
                copyPhase(*heldData, readoutBuffer_.data(), spacing, i);
            if (abort_)
                return setMessage(TVK_ERR_ACQ_ABORTED, "Acquisition aborted.");
        }
        double measured = 0.0;
        table_->hwGetAcqTime(hwId_, &measured);
        acqTime_ = measured;
        startTime_ = getPreciseTime() - measured;
        addStandardAttribs(frame);
        addHwInfoAttribs(frame);
        notifyFrame(&CtrlCallbacks::addAttribs, frame);

        if (fileMode) {
            char indexed[512];
            const char* name = fileName;
            if (frameCount > 1)
                name = makeIndexedFileName(indexed, fileName, f, digits); // its length was checked at the start
            int saved = 0;
            {
                plat::SyncBatch::Scope deferred(*written); // this save only, not the subscribers' own
                saved = frame->save(name, fileFlags);
            }
            if (saved)
                return setMessageF(saved, "Cannot save frame to file: %s (%s)", name, frame->getLastErr());
            {
                std::lock_guard<std::recursive_mutex> guard(frameMutex_);
                ++framesDone_;
                frameInHand_ = frame;
            }
            notify(&CtrlCallbacks::acqCompl);
            {
                std::lock_guard<std::recursive_mutex> guard(frameMutex_);
                frameInHand_ = nullptr;
            }
            frame->removeAllAttribs(true); // the next frame reuses the object
        } else {
            frame->unlock();
            *held = nullptr;
            *heldData = nullptr;
            {
                std::lock_guard<std::recursive_mutex> guard(frameMutex_);
                ++framesDone_;
            }
            notify(&CtrlCallbacks::acqCompl);
        }
    }
    return 0;
}

// ---- integral acquisition ----

int TvkDevice::performIntegralAcq(int frameCount, double acqTime, uint32_t fileFlags, const char* fileName)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    const bool fileMode = fileFlags != 0;
    if (const int r = checkAcqArgs(frameCount, acqTime, fileMode, fileName))
        return r;
    if (const int r = ensureBuffers())
        return r;
    std::vector<TvkFrameInfo*> frames(1, nullptr);

    closeFramesLocked();
    {
        std::lock_guard<std::recursive_mutex> guard(frameMutex_);
        lastFileName_ = fileMode ? fileName : "";
        frameCount_ = frameCount;
        acqKind_ = 2;
        frames_.swap(frames);
    }
    if (table_->hwResetMatrix(hwId_))
        return setMessageF(TVK_ERR_MATRIX_RESET, "Resetting pixel matrix failed: %s", hwError().c_str());
    const int spacing = spacing_;
    if (spacing > 1)
        saved_.copyPixelCfgFrom(settings_);

    TvkFrameInfo* frame = nullptr;
    if (const int r = createFrame(TYPE_U32, "Integral", logPathNow("Acq (integral)"), &frame))
        return r;
    addStandardAttribs(frame);
    frame->setDataVal(0);
    {
        std::lock_guard<std::recursive_mutex> guard(frameMutex_);
        frames_[0] = frame;
    }
    if (const int r = setAcqParameters(acqTime))
        return r;

    int result = integralLoop(frameCount, spacing, frame);
    if (result == 0) {
        addHwInfoAttribs(frame);
        notifyFrame(&CtrlCallbacks::addAttribs, frame);
        if (fileMode)
            if (const int r = frame->save(fileName, fileFlags))
                result = setMessageF(r, "Cannot save frame to file: %s (%s)", fileName, frame->getLastErr());
    }
    if (spacing > 1) {
        const int r = restorePixelCfg();
        if (result == 0)
            result = r;
    }
    return result;
}

int TvkDevice::integralLoop(int frameCount, int spacing, TvkFrameInfo* frame)
{
    const int phases = spacing * spacing;
    for (int n = 0; n < frameCount; ++n) {
        {
            std::lock_guard<std::recursive_mutex> guard(frameMutex_);
            curFrame_ = n;
        }
        for (int i = 0; i < phases; ++i) {
            if (spacing > 1)
                if (const int r = applySubMask(spacing, i, false))
                    return r;
            if (const int r = exposeInto(readoutBuffer_.data()))
                return r;
            void* data = nullptr;
            uint32_t size = 0;
            if (const int r = frame->getLockedBuffer(&data, &size, TvkFrameInfo::kWaitForever))
                return setMessage(r, frame->getLastErr());
            auto* sum = static_cast<uint32_t*>(data);
            const auto* counts = reinterpret_cast<const int16_t*>(readoutBuffer_.data());
            const uint32_t pixels = std::min<uint32_t>(size / sizeof(uint32_t), pixelCount_);
            for (uint32_t k = 0; k < pixels; ++k) // counts are taken as signed 16-bit values
                sum[k] += static_cast<uint32_t>(static_cast<int32_t>(counts[k]));
            frame->unlock();
            if (abort_)
                return setMessage(TVK_ERR_ACQ_ABORTED, "Acquisition aborted.");
        }
        {
            std::lock_guard<std::recursive_mutex> guard(frameMutex_);
            ++framesDone_;
        }
        double measured = 0.0;
        table_->hwGetAcqTime(hwId_, &measured);
        const double total = acqTime_ + measured;
        acqTime_ = total;
        if (n == 0) {
            startTime_ = getPreciseTime() - total;
            char startText[64] = {};
            formatTimestamp(startTime_, startText, 6);
            frame->setAttribData("Start time", &startTime_, sizeof startTime_);
            frame->setAttribData("Start time (string)", startText, sizeof startText);
        }
        frame->setAttribData("Acq time", &total, sizeof total);
        notify(&CtrlCallbacks::acqCompl);
    }
    return 0;
}

// ---- test-pulse acquisition ----

int TvkDevice::performTestPulseAcq(double height, double period, uint32_t pulseCount, uint32_t columnMask)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (const int r = ensureBuffers())
        return r;
    std::vector<TvkFrameInfo*> frames(1, nullptr);

    closeFramesLocked();
    acqTime_ = 1.0;
    {
        std::lock_guard<std::recursive_mutex> guard(frameMutex_);
        acqKind_ = 0;
        frameCount_ = 1;
        curFrame_ = 0;
        frames_.swap(frames);
    }
    const int spacing = spacing_;
    const int effective = columnMask != 0 ? 1 : settings_.chipType == 1 ? spacing : nextPowerOfTwo(spacing);

    TvkFrameInfo* frame = nullptr;
    if (const int r = createFrame(TYPE_I16, "TP frame", logPathNow("Test pulses"), &frame))
        return r;
    frame->setDataVal(0);
    {
        std::lock_guard<std::recursive_mutex> guard(frameMutex_);
        frames_[0] = frame;
    }
    saved_.copyPixelCfgFrom(settings_);
    if (const int r = setAcqParameters(acqPars_.acqTime))
        return r;
    if (columnMask != 0 && table_->hwResetMatrix(hwId_))
        return setMessageF(TVK_ERR_MATRIX_RESET, "Resetting pixel matrix failed: %s", hwError().c_str());

    int result = testPulseLoop(effective, columnMask, height, period, pulseCount, frame);
    if (result == 0) {
        {
            std::lock_guard<std::recursive_mutex> guard(frameMutex_);
            ++framesDone_;
        }
        notify(&CtrlCallbacks::acqCompl);
    }
    const int r = restorePixelCfg();
    return result != 0 ? result : r;
}

int TvkDevice::testPulseLoop(int spacing, uint32_t columnMask, double height, double period, uint32_t pulseCount,
                             TvkFrameInfo* frame)
{
    const bool columnsByDacs = settings_.chipType == 2 || settings_.chipType == 3;
    const int phases = spacing * spacing;
    for (int i = 0; i < phases; ++i) {
        if (columnsByDacs) {
            uint32_t mask = columnMask;
            if (mask == 0)
                for (int bit = i % spacing; bit < 32; bit += spacing)
                    mask |= 1u << bit;
            if (const int r = sendDacs(false, true, 0, nullptr, mask))
                return r;
        }
        if (columnMask == 0)
            if (const int r = applySubMask(spacing, i, true))
                return r;
        if (table_->hwTestPulses(hwId_, height, period, pulseCount))
            return setMessageF(TVK_ERR_TEST_PULSES, "Test pulses failed: %s", hwError().c_str());
        if (const int r = readMatrixInto(readoutBuffer_.data()))
            return r;
        void* data = nullptr;
        uint32_t size = 0;
        if (const int r = frame->getLockedBuffer(&data, &size, TvkFrameInfo::kWaitForever))
            return setMessage(r, frame->getLastErr());
        auto* sum = static_cast<uint16_t*>(data);
        const uint32_t pixels = std::min<uint32_t>(size / sizeof(uint16_t), pixelCount_);
        for (uint32_t k = 0; k < pixels; ++k)
            sum[k] = static_cast<uint16_t>(sum[k] + readoutBuffer_[k]);
        frame->unlock();
        if (abort_)
            return setMessage(TVK_ERR_ACQ_ABORTED, "Acquisition aborted.");
    }
    return 0;
}

// ---- digital test ----

namespace {
// Replaces each count of chip-ordered counts whose code has a bit that the matrix stream cannot carry
// by the nearest higher count (cyclically) whose code has none of them; true when a count changed.
bool avoidLayoutLosses(std::vector<uint16_t>& counts, int chipType)
{
    const codec::CounterWidth width = chipType == 1 ? codec::CounterWidth::Bits13 : codec::CounterWidth::Bits14;
    const uint32_t states = codec::stateCount(width);
    bool changed = false;
    for (const codec::LostBits& lost : codec::layoutLosses(counts.size() / codec::kPixelsPerChip, width)) {
        if (lost.pixel >= counts.size())
            continue;
        uint16_t& count = counts[lost.pixel];
        for (uint32_t step = 0; step < states && (codec::countToCode(width, count) & lost.bits); ++step) {
            count = static_cast<uint16_t>((count + 1u) % states);
            changed = true;
        }
    }
    return changed;
}
} // namespace

int TvkDevice::performDigitalTest(int* goodPixels, uint32_t* frameId, bool keepAsLastAcq, double waitTime)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    std::vector<uint16_t> pattern;
    std::vector<uint16_t> readBack;
    try {
        pattern.resize(pixelCount_);
        readBack.resize(pixelCount_);
    } catch (const std::bad_alloc&) {
        return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.",
                           static_cast<int>(pixelCount_ * sizeof(uint16_t)));
    }
    if (const int r = ensureBuffers())
        return r;

    const uint32_t modulo = settings_.chipType == 1 ? 8001 : 11811;
    std::uniform_int_distribution<uint32_t> values(0, modulo - 1);
    for (uint16_t& p : pattern)
        p = static_cast<uint16_t>(values(rng_));
    if (remapsReadout())
        supermatrix::fromMatrix(pattern.data(), readBack.data(), sizeof(uint16_t));
    else
        readBack = pattern;
    // The chips' matrix stream cannot carry a few bits of a few pixels (they come back as zeros); those
    // pixels get a value that has such bits zero, so that a difference the stream itself causes is not
    // counted as a fault of the pixel.
    if (avoidLayoutLosses(readBack, settings_.chipType)) {
        if (remapsReadout())
            supermatrix::toMatrix(readBack.data(), pattern.data(), sizeof(uint16_t));
        else
            pattern = readBack;
    }
    if (table_->hwWriteMatrix(hwId_, readBack.data(), pixelCount_))
        return setMessageF(TVK_ERR_MATRIX_WRITE, "Error occurred while writing matrix to chip: %s", hwError().c_str());
    if (waitTime != 0.0) {
        clearAbort();
        preciseWait(waitTime, &abort_);
    }
    if (const int r = readMatrixInto(readBack.data()))
        return r;
    if (table_->hwSetPixelsCfg(hwId_, settings_.pixelCfg.data(), pixelCount_))
        setMessageF(TVK_ERR_PIXCFG, "Pixel mask setting failed: %s", hwError().c_str()); // reported, not the result

    std::vector<TvkFrameInfo*> kept(keepAsLastAcq ? 1 : 0, nullptr);
    TvkFrameInfo* frame = nullptr;
    int16_t* data = nullptr;
    if (keepAsLastAcq || frameId) {
        if (const int r = createFrame(TYPE_I16, "Digital test result", logPathNow("Digital test"), &frame))
            return r;
        if (keepAsLastAcq) { // installed before its data lock is taken: no frame is read before it is done
            closeFramesLocked();
            kept[0] = frame;
            std::lock_guard<std::recursive_mutex> guard(frameMutex_);
            frames_.swap(kept);
        }
        void* buffer = nullptr;
        uint32_t size = 0;
        if (const int r = frame->getLockedBuffer(&buffer, &size, TvkFrameInfo::kWaitForever)) {
            setMessage(r, frame->getLastErr());
            if (!keepAsLastAcq)
                lastframes::dropFrameReference(frame);
            return r;
        }
        data = static_cast<int16_t*>(buffer);
        std::memset(data, 0, size);
    }
    int good = 0;
    for (uint32_t j = 0; j < pixelCount_; ++j) {
        if (pattern[j] == readBack[j])
            ++good;
        else if (data)
            data[j] = 1;
    }
    if (frame)
        frame->unlock();
    if (goodPixels)
        *goodPixels = good;
    if (keepAsLastAcq) {
        {
            std::lock_guard<std::recursive_mutex> guard(frameMutex_);
            acqKind_ = 0;
            frameCount_ = 1;
            curFrame_ = 0;
            framesDone_ = 1;
        }
        notify(&CtrlCallbacks::acqCompl);
    }
    if (frameId) {
        *frameId = frame->getUID();
        if (!keepAsLastAcq) {
            // The frame lives on through the reference handed to the caller's frame store. A frame that no
            // store took (id 0) could never be released by anyone, so it is not kept.
            if (*frameId != 0)
                frame->open();
            lastframes::dropFrameReference(frame);
        }
    }
    return 0;
}
