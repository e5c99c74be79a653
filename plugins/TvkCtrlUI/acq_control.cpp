#include "acq_control.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>

#include "pluginfw/file_names.h"
#include "pluginfw/time_utils.h"

namespace {

constexpr const char* kSource = "tvkctrlui";

bool isTriggerStart(int mode) { return mode == 2 || mode == 8; }
bool isTriggerStop(int mode) { return mode == 4 || mode == 8; }

// Frames of one run: a test-pulse acquisition makes one.
int framesPerRun(const AcqSettings& s) { return s.acqType == 2 ? 1 : std::max(s.acqCount, 1); }

// Name of frame k of a run of repetition rep (0: the first run) under base; empty when too long.
std::string outputName(const std::string& base, const AcqSettings& s, int rep, int repDigits, int k)
{
    const int count = framesPerRun(s);
    std::string name = base;
    if (rep > 0)
        name = makeTaggedFileName(base, "_r", rep, repDigits, s.acqType == 0 ? "_" : "");
    if (name.empty() || count <= 1 || s.acqType != 0)
        return name;
    return makeTaggedFileName(name, "", k, decimalDigits(uint64_t(count - 1)), "");
}

int repetitionDigits(uint32_t repeatCount) { return repeatCount == 0 ? 1 : decimalDigits(repeatCount); }

} // namespace

int decimalDigits(uint64_t value)
{
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

std::string makeTaggedFileName(const std::string& base, const char* prefix, int index, int digits,
                               const char* suffix)
{
    if (index < 0 || digits < 0)
        return {};
    const size_t slash = base.rfind('/');
    const size_t dot = base.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string number = std::to_string(index);
    if (number.size() < size_t(digits))
        number.insert(0, size_t(digits) - number.size(), '0');
    std::string out = hasExt ? base.substr(0, dot) : base;
    out += prefix ? prefix : "";
    out += number;
    out += suffix ? suffix : "";
    if (hasExt)
        out += base.substr(dot);
    return out.size() <= kMaxFileName ? out : std::string();
}

std::vector<std::string> plannedOutputNames(const AcqSettings& s, bool raw, size_t maxNames)
{
    std::vector<std::string> names;
    const std::string& base = raw ? s.fileName : s.filtFileName;
    const uint32_t flags = raw ? s.fileFlags : s.filtFlags;
    if (base.empty() || (flags & kFileFlagNoFile) || (raw && (flags == 0 || s.acqType == 2)) ||
        (!raw && s.filterChainId == 0))
        return names;
    const uint32_t repetitions = !s.repeat ? 0 : s.repeatCount == 0 ? 9 : s.repeatCount;
    const int digits = repetitionDigits(s.repeatCount);
    const int count = s.acqType == 0 ? framesPerRun(s) : 1;
    for (uint32_t rep = 0; rep <= repetitions; ++rep)
        for (int k = 0; k < count; ++k) {
            if (names.size() >= maxNames)
                return names;
            std::string name = outputName(base, s, int(rep), digits, k);
            if (!name.empty())
                names.push_back(std::move(name));
        }
    return names;
}

namespace {

// A name as the file system resolves it, so that two spellings of one file compare equal.
std::string resolvedName(const std::string& name)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(name, ec);
    return (ec ? std::filesystem::path(name) : p).lexically_normal().string();
}

// The files an output writes under its names: each data file and, unless left out, its description file.
std::vector<std::string> writtenFiles(const std::vector<std::string>& names, uint32_t flags)
{
    std::vector<std::string> files;
    for (const std::string& name : names) {
        files.push_back(resolvedName(name));
        char dsc[kMaxFileName + 1];
        if (!(flags & FSAVE_NODSC) && makeDscFileName(name.c_str(), dsc) == 0)
            files.push_back(resolvedName(dsc));
    }
    return files;
}

} // namespace

std::string outputNamesProblem(const AcqSettings& s)
{
    const bool rawFiles = s.fileFlags != 0 && !(s.fileFlags & kFileFlagNoFile) && s.acqType != 2;
    if (rawFiles && s.fileName.empty())
        return "The file name is empty.";
    // A file in a folder that does not exist is never written: the frame exposed for it would be lost.
    const bool filtFiles = s.filterChainId != 0 && !(s.filtFlags & kFileFlagNoFile) && !s.filtFileName.empty();
    for (const std::string* name : {rawFiles ? &s.fileName : nullptr, filtFiles ? &s.filtFileName : nullptr}) {
        if (!name)
            continue;
        const std::filesystem::path folder = std::filesystem::path(*name).parent_path();
        std::error_code ec;
        if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
            return "The folder " + folder.string() + " does not exist.";
        if (std::filesystem::is_directory(*name, ec))
            return "The file name " + *name + " is a folder.";
    }
    const std::vector<std::string> raw = writtenFiles(plannedOutputNames(s, true), s.fileFlags);
    if (raw.empty())
        return {};
    const std::set<std::string> rawSet(raw.begin(), raw.end());
    for (const std::string& file : writtenFiles(plannedOutputNames(s, false), s.filtFlags))
        if (rawSet.count(file))
            return "The raw and the filtered output would both write the file " + file + ".";
    return {};
}

AcqControl::~AcqControl()
{
    requestAbort();
    waitForThread(*this);
}

void AcqControl::setRepeat(bool on)
{
    settings_.repeat = on;
    repeat_ = on;
}

bool AcqControl::startSeries()
{
    if (isRunning())
        return false;
    run_ = settings_;
    repeat_ = settings_.repeat != 0;
    return start();
}

void AcqControl::abort()
{
    if (mgr_ && devIndex_ >= 0)
        mgr_->tvkCtrlAbortOperation(unsigned(devIndex_));
}

void AcqControl::logMsg(const char* fmt, int value, const char* text) const
{
    if (!mgr_ || !mgr_->mgrLogMsg)
        return;
    if (text)
        mgr_->mgrLogMsg(kSource, fmt, 0, text);
    else
        mgr_->mgrLogMsg(kSource, fmt, 0, value);
}

double AcqControl::delayFor()
{
    const double from = run_.delayFrom, to = run_.delayTo;
    if (from == to)
        return from;
    std::uniform_real_distribution<double> draw(std::min(from, to), std::max(from, to));
    return std::clamp(draw(random_), std::min(from, to), std::max(from, to));
}

int AcqControl::acquire(const std::string& name)
{
    const unsigned dev = unsigned(devIndex_);
    const bool toFile = run_.fileFlags != 0 && !name.empty();
    const uint32_t flags = toFile ? run_.fileFlags : 0;
    const char* file = toFile ? name.c_str() : nullptr;
    inPerform_ = true;
    int rc = 0;
    // The device's abort flag may have been cleared since the request (each acquisition starts clean):
    // a request that came before this point is checked once more, and noteFrame* repeat it.
    if (abortRequested())
        rc = -152;
    else if (run_.acqType == 0)
        rc = mgr_->tvkCtrlPerformFrameAcq(dev, run_.acqCount, run_.acqTime, flags, file);
    else if (run_.acqType == 1)
        rc = mgr_->tvkCtrlPerformIntegralAcq(dev, run_.acqCount, run_.acqTime, flags, file);
    else if (run_.acqType == 2)
        rc = mgr_->tvkCtrlPerformTestPulseAcq(dev, run_.pulseHeight, run_.pulsePeriod, run_.pulseCount, 0);
    inPerform_ = false;
    return rc;
}

int AcqControl::run()
{
    // A fault that escapes an acquisition (a hardware library's, translated) still ends the series as
    // the window knows it: spacing back to 1 and the end reported, or the window would wait for it
    // forever. The thread's own handler then reports it to the manager's log.
    try {
        runSeries();
    } catch (...) {
        inPerform_ = false;
        endSeries();
        throw;
    }
    endSeries();
    return 0;
}

void AcqControl::endSeries()
{
    mgr_->tvkCtrlSetAcqSpacing(unsigned(devIndex_), 1);
    if (observer_)
        observer_->seriesEnded();
}

void AcqControl::runSeries()
{
    workerThread_ = std::this_thread::get_id();
    const unsigned dev = unsigned(devIndex_);
    const double start = getPreciseTime();
    frameStart_ = start;
    random_.seed(uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    int mode = 1;
    mgr_->tvkCtrlGetAcqMode(dev, &mode);
    acqMode_ = mode;
    waitingForTrigger_ = isTriggerStart(mode);
    waitingDelay_ = false;
    if (run_.refreshDacs)
        mgr_->tvkCtrlRefreshDACs(dev);
    if (run_.refreshPixCfg)
        mgr_->tvkCtrlRefreshPixelsCfg(dev);
    const int spacing = run_.acqType == 2 ? run_.tpSpacing : run_.acqSpacing;
    mgr_->tvkCtrlSetAcqSpacing(dev, std::clamp(spacing, 1, 64));

    std::string name = run_.fileName;
    currentDelay_ = 0;
    repIndex_ = 0;
    repDigits_ = repetitionDigits(run_.repeatCount);
    for (;;) {
        runStart_ = frameStart_ = getPreciseTime();
        framesDone_ = 0;
        const int rep = repIndex_;
        if (rep > 0) {
            if (observer_)
                observer_->repetitionStarting(rep);
            if (run_.delayFrom > 0 || run_.delayTo > 0) {
                const double delay = delayFor();
                currentDelay_ = delay;
                delayStart_ = getPreciseTime();
                waitingDelay_ = true;
                preciseWait(delay, &abortFlag());
                waitingDelay_ = false;
            }
        }
        if (abortRequested())
            break;
        if (rep > 0) {
            if (run_.fileFlags != 0) {
                name = makeTaggedFileName(run_.fileName, "_r", rep, repDigits_, run_.acqType == 0 ? "_" : "");
                if (name.empty() && !run_.fileName.empty())
                    logMsg("File name too long (over 511 characters), no file written: %s", 0, run_.fileName.c_str());
            }
            if (observer_)
                observer_->repetitionAcquiring(rep);
        } else if (run_.fileFlags != 0 && name.size() > kMaxFileName) {
            logMsg("File name too long (over 511 characters), no file written: %s", 0, name.c_str());
            name.clear();
        }
        acquire(name);
        repIndex_ = rep + 1;
        const bool more = (run_.repeatCount == 0 || uint32_t(repIndex_) <= run_.repeatCount) && repeat_ &&
                          !abortRequested();
        if (!more)
            break;
    }
}

bool AcqControl::inOwnAcquisition() const
{
    return inPerform_ && workerThread_.load() == std::this_thread::get_id();
}

void AcqControl::noteFrameStarted()
{
    if (!inOwnAcquisition())
        return;
    if (abortRequested())
        abort();
    frameStart_ = getPreciseTime();
    waitingForTrigger_ = false;
}

void AcqControl::noteFrameCompleted()
{
    if (!inOwnAcquisition())
        return;
    if (abortRequested())
        abort();
    const int done = ++framesDone_;
    // An integral acquisition has one frame, summed over its exposures: it is filtered once, when its
    // last exposure is in.
    const bool filterNow = run_.acqType != 1 || done == run_.acqCount;
    if (run_.filterChainId != 0 && filterNow)
        writeFilteredFrame();
    if (done < run_.acqCount && isTriggerStart(acqMode_))
        waitingForTrigger_ = true;
}

std::string AcqControl::filteredName() const
{
    const int k = run_.acqType == 0 ? framesDone_ - 1 : 0;
    return outputName(run_.filtFileName, run_, repIndex_, repDigits_, std::max(k, 0));
}

int AcqControl::writeFilteredFrame()
{
    const int k = run_.acqType == 0 ? framesDone_ - 1 : 0;
    uint32_t uid = 0;
    uint32_t filtered = 0;
    if (mgr_->tvkCtrlGetFrameID(unsigned(devIndex_), k, &uid) != 0 ||
        mgr_->mgrGetFilteredFrame(run_.filterChainId, uid, &filtered) != 0 || filtered == 0) {
        logMsg("Failed to get filtered frame (number: %d)", framesDone_ - 1);
        return -1;
    }
    if (!(run_.filtFlags & kFileFlagNoFile) && !run_.filtFileName.empty()) {
        const std::string name = filteredName();
        if (name.empty())
            logMsg("File name too long (over 511 characters), no file written: %s", 0, run_.filtFileName.c_str());
        else
            mgr_->mgrSaveFrame(filtered, name.c_str(), run_.filtFlags);
    }
    mgr_->mgrCloseFrame(filtered, nullptr);
    return 0;
}

AcqProgress AcqControl::getProgress() const
{
    AcqProgress p;
    const double now = getPreciseTime();
    p.frameElapsed = now - frameStart_;
    p.runElapsed = now - runStart_;
    p.framesDone = framesDone_;
    if (run_.acqType == 2) {
        p.total = p.frame = 1;
        return p;
    }
    const int count = std::max(run_.acqCount, 1);
    const int mode = acqMode_;
    if (!waitingForTrigger_ && !isTriggerStop(mode)) {
        if (p.framesDone >= count)
            p.frame = 1;
        else if (run_.acqTime > 0)
            p.frame = std::min(1.0, p.frameElapsed / run_.acqTime);
    }
    p.total = std::min(1.0, (p.framesDone + p.frame) / count);
    return p;
}
