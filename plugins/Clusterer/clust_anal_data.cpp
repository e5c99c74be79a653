#include "clust_anal_data.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <new>

#include "platform/file_write.h"
#include "platform/ini.h"
#include "platform/numbers.h"

namespace {

constexpr const char* kSection = "Settings";
// Largest spectrum accepted, in bins (the per-pixel one counts rows x row length).
constexpr int64_t kMaxSpectrumBins = int64_t{64} << 20; // 256 MiB of counters
constexpr int kSizeRows = 10;                            // volume spectra by size: sizes 1..10
constexpr int kClassTableBins = 1000;

std::string formatReal(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 5);
    return std::string(buf, r.ptr);
}

std::string formatInt(int64_t v)
{
    return std::to_string(v);
}

// ---- the table of keys ----

template <int32_t ClustSettings::*M>
ClustSettingKey intKey(const char* name)
{
    return {name, [](const ClustSettings& s) { return formatInt(s.*M); },
            [](ClustSettings& s, const std::string& text) {
                const auto v = plat::parseInt32(text);
                if (v)
                    s.*M = *v;
                return v.has_value();
            }};
}

template <double ClustSettings::*M>
ClustSettingKey realKey(const char* name)
{
    return {name, [](const ClustSettings& s) { return formatReal(s.*M); },
            [](ClustSettings& s, const std::string& text) {
                const auto v = plat::parseDouble(text);
                if (v)
                    s.*M = *v;
                return v.has_value();
            }};
}

template <bool ClustSettings::*M>
ClustSettingKey flagKey(const char* name)
{
    return {name, [](const ClustSettings& s) { return formatInt(s.*M ? 1 : 0); },
            [](ClustSettings& s, const std::string& text) {
                const auto v = plat::parseInt64(text);
                if (v)
                    s.*M = *v != 0;
                return v.has_value();
            }};
}

} // namespace

const std::vector<ClustSettingKey>& clustSettingKeys()
{
    using S = ClustSettings;
    static const std::vector<ClustSettingKey> keys = {
        intKey<&S::JoinEnabled>("JoinEnabled"),
        intKey<&S::JoinMaskSize>("JoinMaskSize"),
        realKey<&S::JoinSigma>("JoinSigma"),
        realKey<&S::JoinThreshold>("JoinThreshold"),
        intKey<&S::LimDotPixCount>("LimDotPixCount"),
        intKey<&S::LimSmallBlobSizeXY>("LimSmallBlobSizeXY"),
        intKey<&S::LimHeavyBlobInnerCount>("LimHeavyBlobInnerCount"),
        intKey<&S::LimHeavyTrackInnerCount>("LimHeavyTrackInnerCount"),
        intKey<&S::LimStraightTrackHtMax>("LimStraightTrackHtMax"),
        realKey<&S::LimHeavyBlobRadiusDev>("LimHeavyBlobRadiusDev"),
        realKey<&S::LimHeavyBlobInBorRatio>("LimHeavyBlobInBorRatio"),
        realKey<&S::LimHeavyTrackInBorRatio>("LimHeavyTrackInBorRatio"),
        realKey<&S::LimStraightTrackHtMaxRatio>("LimStraightTrackHtMaxRatio"),
        realKey<&S::LowTh>("LowTh"),
        realKey<&S::HighTh>("HighTh"),
        intKey<&S::FrameWidth>("FrameWidth"),
        intKey<&S::FrameHeight>("FrameHeight"),
        intKey<&S::SizeSpectFrom>("SizeSpectFrom"),
        intKey<&S::SizeSpectTo>("SizeSpectTo"),
        realKey<&S::VolSpectFrom>("VolSpectFrom"),
        realKey<&S::VolSpectTo>("VolSpectTo"),
        realKey<&S::GlobVolSpectStep>("GlobVolSpectStep"),
        realKey<&S::PerPixVolSpectStep>("PerPixVolSpectStep"),
        intKey<&S::MinClustSize>("MinClustSize"),
        intKey<&S::MaxClustSize>("MaxClustSize"),
        realKey<&S::MinClustVolume>("MinClustVolume"),
        realKey<&S::MaxClustVolume>("MaxClustVolume"),
        realKey<&S::MinClustHeight>("MinClustHeight"),
        realKey<&S::MaxClustHeight>("MaxClustHeight"),
        intKey<&S::ClustType>("ClustType"),
        flagKey<&S::HoldHistory>("HoldHistory"),
        flagKey<&S::GlobalSizeSpectAll>("GlobalSizeSpectAll"),
        flagKey<&S::GlobalSizeSpectValid>("GlobalSizeSpectValid"),
        flagKey<&S::GlobalVolSpectAll>("GlobalVolSpectAll"),
        flagKey<&S::GlobalVolSpectValid>("GlobalVolSpectValid"),
        flagKey<&S::GlobalVolSpectCustSize>("GlobalVolSpectCustSize"),
        flagKey<&S::PerPixVolSpectValid>("PerPixVolSpectValid"),
        flagKey<&S::CreateClustersFile>("CreateClustersFile"),
        flagKey<&S::AllToSingleFile>("AllToSingleFile"),
    };
    return keys;
}

ClusterFilter ClustSettings::filter() const
{
    ClusterFilter f;
    f.invert = false;
    f.minSize = MinClustSize;
    f.maxSize = MaxClustSize;
    f.classMask = ClustType;
    f.minVolume = MinClustVolume;
    f.maxVolume = MaxClustVolume;
    f.minHeight = MinClustHeight;
    f.maxHeight = MaxClustHeight;
    return f;
}

int64_t ClustSettings::volumeBins(double step) const
{
    const double to = VolSpectTo < VolSpectFrom ? VolSpectFrom + step : VolSpectTo;
    const double bins = std::trunc((to - VolSpectFrom) / step + 0.5);
    if (!(bins >= 1))
        return 1; // at least the bin at "from": a range that rounds to nothing still has one
    return bins > static_cast<double>(kMaxSpectrumBins) ? kMaxSpectrumBins + 1 : static_cast<int64_t>(bins);
}

std::vector<std::string> validateClustSettings(ClustSettings& s, const ClustSettings& previous)
{
    std::vector<std::string> refused;
    // Restores the named values from previous when ok is false.
    auto check = [&](bool ok, const std::string& what, std::initializer_list<std::function<void()>> restore) {
        if (ok)
            return;
        for (const auto& r : restore)
            r();
        refused.push_back(what);
    };
#define CLUST_KEEP(field) [&] { s.field = previous.field; }
    check(s.JoinMaskSize >= 1 && s.JoinMaskSize <= 1001, "JoinMaskSize must lie in [1, 1001]",
          {CLUST_KEEP(JoinMaskSize)});
    check(s.JoinSigma > 0 && std::isfinite(s.JoinSigma), "JoinSigma must be above 0", {CLUST_KEEP(JoinSigma)});
    check(std::isfinite(s.JoinThreshold), "JoinThreshold must be a finite number", {CLUST_KEEP(JoinThreshold)});
    for (auto [value, name] : {std::pair{&ClustSettings::LimHeavyBlobRadiusDev, "LimHeavyBlobRadiusDev"},
                               {&ClustSettings::LimHeavyBlobInBorRatio, "LimHeavyBlobInBorRatio"},
                               {&ClustSettings::LimHeavyTrackInBorRatio, "LimHeavyTrackInBorRatio"},
                               {&ClustSettings::LimStraightTrackHtMaxRatio, "LimStraightTrackHtMaxRatio"}})
        check(std::isfinite(s.*value), std::string(name) + " must be a finite number",
              {[&, value = value] { s.*value = previous.*value; }});
    for (auto [value, name] : {std::pair{&ClustSettings::LowTh, "LowTh"}, {&ClustSettings::HighTh, "HighTh"},
                               {&ClustSettings::MinClustVolume, "MinClustVolume"},
                               {&ClustSettings::MaxClustVolume, "MaxClustVolume"},
                               {&ClustSettings::MinClustHeight, "MinClustHeight"},
                               {&ClustSettings::MaxClustHeight, "MaxClustHeight"}})
        check(!std::isnan(s.*value), std::string(name) + " must be a number",
              {[&, value = value] { s.*value = previous.*value; }});
    check(s.SizeSpectFrom >= 0 && s.SizeSpectTo >= s.SizeSpectFrom &&
              static_cast<int64_t>(s.SizeSpectTo) - s.SizeSpectFrom < kMaxSpectrumBins,
          "SizeSpectFrom and SizeSpectTo must form a range from 0 up of at most 67108864 sizes",
          {CLUST_KEEP(SizeSpectFrom), CLUST_KEEP(SizeSpectTo)});
    check(std::isfinite(s.GlobVolSpectStep) && s.GlobVolSpectStep > 0, "GlobVolSpectStep must be above 0",
          {CLUST_KEEP(GlobVolSpectStep)});
    check(std::isfinite(s.PerPixVolSpectStep) && s.PerPixVolSpectStep > 0, "PerPixVolSpectStep must be above 0",
          {CLUST_KEEP(PerPixVolSpectStep)});
    check(std::isfinite(s.VolSpectFrom) && std::isfinite(s.VolSpectTo) &&
              s.volumeBins(s.GlobVolSpectStep) <= kMaxSpectrumBins,
          "VolSpectFrom, VolSpectTo and GlobVolSpectStep must give at most 67108864 volume bins",
          {CLUST_KEEP(VolSpectFrom), CLUST_KEEP(VolSpectTo), CLUST_KEEP(GlobVolSpectStep)});
    check(s.FrameWidth >= 1 && s.FrameWidth <= 65536 && s.FrameHeight >= 1 && s.FrameHeight <= 65536,
          "FrameWidth and FrameHeight must lie in [1, 65536]", {CLUST_KEEP(FrameWidth), CLUST_KEEP(FrameHeight)});
    const int64_t perPixel =
        s.PerPixVolSpectValid ? s.volumeBins(s.PerPixVolSpectStep) * s.FrameWidth * s.FrameHeight : 0;
    check(perPixel <= kMaxSpectrumBins,
          "the per-pixel volume spectrum would need more than 67108864 bins (FrameWidth x FrameHeight x volume bins)",
          {CLUST_KEEP(PerPixVolSpectValid), CLUST_KEEP(FrameWidth), CLUST_KEEP(FrameHeight),
           CLUST_KEEP(PerPixVolSpectStep), CLUST_KEEP(VolSpectFrom), CLUST_KEEP(VolSpectTo)});
#undef CLUST_KEEP
    return refused;
}

std::string spectrumFileName(const std::string& base, const std::string& suffix)
{
    const size_t dot = base.rfind('.');
    const size_t slash = base.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return base + suffix;
    return base.substr(0, dot) + suffix + base.substr(dot);
}

std::string spectrumBlock(double from, double step, const int32_t* bins, size_t count)
{
    size_t last = 0;
    for (size_t i = 0; i < count; ++i)
        if (bins[i] != 0)
            last = i;
    std::string text;
    for (size_t i = 0; i <= last; ++i) {
        text += formatReal(from + step * static_cast<double>(i));
        text += i == last ? "\n" : " ";
    }
    for (size_t i = 0; i <= last; ++i) {
        text += std::to_string(count ? bins[i] : 0);
        text += i == last ? "\n\n" : " ";
    }
    return text;
}

// ---------------------------------------------------------------------------------------------------

struct ClustAnalData::Spectra {
    Spectrum sizeAll, sizeValid, volAll, volValid; // empty bins: switched off
    SpectrumMatrix bySize, perPixel;               // no rows: switched off
};

ClustAnalData::ClustAnalData(const _MgrFuncTable* mgr, uint32_t devIndex, LogFn log)
    : mgr_(mgr), devIndex_(devIndex), log_(std::move(log)), spectra_(std::make_unique<Spectra>()),
      classTable_(kClassCount - 1, std::vector<int32_t>(kClassTableBins, 0))
{
}

ClustAnalData::~ClustAnalData() = default;

void ClustAnalData::log(const std::string& text) const
{
    if (log_)
        log_(text);
}

int ClustAnalData::loadSettings(const std::string& iniPath)
{
    ClustSettings previous = settings();
    ClustSettings next = previous;
    for (const ClustSettingKey& key : clustSettingKeys()) {
        const std::optional<std::string> text = plat::iniRead(iniPath, kSection, key.name);
        if (!text)
            continue;
        if (!key.set(next, *text))
            log("Value \"" + *text + "\" of " + key.name + " in \"" + iniPath + "\" is not valid; " + key.name +
                " stays " + key.get(previous) + ".");
    }
    setSettings(next);
    return 0;
}

int ClustAnalData::saveSettings(const std::string& iniPath) const
{
    const ClustSettings s = settings();
    std::vector<std::pair<std::string, std::string>> entries;
    for (const ClustSettingKey& key : clustSettingKeys())
        entries.emplace_back(key.name, key.get(s));
    std::string error;
    const int rc = plat::iniWriteSection(iniPath, kSection, entries, &error);
    if (rc != 0)
        log(error);
    return rc;
}

ClustSettings ClustAnalData::settings() const
{
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return settings_;
}

std::vector<std::string> ClustAnalData::setSettings(const ClustSettings& wanted)
{
    ClustSettings s = wanted;
    std::vector<std::string> refused;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        refused = validateClustSettings(s, settings_);
        settings_ = s;
    }
    for (const std::string& r : refused)
        log("Setting refused, the previous value kept: " + r + ".");
    rebuildSpectra(s);
    return refused;
}

void ClustAnalData::rebuildSpectra(const ClustSettings& s)
{
    // Each spectrum is made when its flag is on (zeroed when its binning changed) and freed when off.
    auto line = [](Spectrum& sp, bool on, double from, double step, int64_t count) {
        if (!on) {
            sp = Spectrum{};
            return;
        }
        if (sp.from != from || sp.step != step || static_cast<int64_t>(sp.bins.size()) != count)
            sp = Spectrum{from, step, std::vector<int32_t>(static_cast<size_t>(count), 0)};
    };
    auto matrix = [](SpectrumMatrix& m, bool on, double from, double step, int64_t rows, int64_t rowLength) {
        if (!on) {
            m = SpectrumMatrix{};
            return;
        }
        if (m.from != from || m.step != step || static_cast<int64_t>(m.rows.size()) != rows ||
            m.rowLength != rowLength)
            m = SpectrumMatrix{from, step, static_cast<int32_t>(rowLength),
                               std::vector<std::vector<int32_t>>(static_cast<size_t>(rows),
                                                                 std::vector<int32_t>(static_cast<size_t>(rowLength)))};
    };
    const int64_t sizeBins = static_cast<int64_t>(s.SizeSpectTo) - s.SizeSpectFrom + 1;
    const int64_t volBins = s.volumeBins(s.GlobVolSpectStep);
    const int64_t pixBins = s.volumeBins(s.PerPixVolSpectStep);
    std::lock_guard<std::mutex> lock(spectraMutex_);
    Spectra& sp = *spectra_;
    try {
        line(sp.sizeAll, s.GlobalSizeSpectAll, s.SizeSpectFrom, 1, sizeBins);
        line(sp.sizeValid, s.GlobalSizeSpectValid, s.SizeSpectFrom, 1, sizeBins);
        line(sp.volAll, s.GlobalVolSpectAll, s.VolSpectFrom, s.GlobVolSpectStep, volBins);
        line(sp.volValid, s.GlobalVolSpectValid, s.VolSpectFrom, s.GlobVolSpectStep, volBins);
        matrix(sp.bySize, s.GlobalVolSpectCustSize, s.VolSpectFrom, s.GlobVolSpectStep, kSizeRows, volBins);
        matrix(sp.perPixel, s.PerPixVolSpectValid, s.VolSpectFrom, s.PerPixVolSpectStep, pixBins,
               static_cast<int64_t>(s.FrameWidth) * s.FrameHeight);
    } catch (const std::bad_alloc&) {
        // Refused for want of memory: switched off rather than half made.
        sp.perPixel = SpectrumMatrix{};
        log("Not enough memory for the spectra; the per-pixel volume spectrum is off.");
        std::lock_guard<std::mutex> slock(settingsMutex_);
        settings_.PerPixVolSpectValid = false;
    }
}

void ClustAnalData::setChain(int chainId)
{
    std::lock_guard<std::mutex> lock(settingsMutex_);
    chain_ = chainId;
}

int ClustAnalData::chain() const
{
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return chain_;
}

void ClustAnalData::setListBase(const std::string& base)
{
    std::lock_guard<std::mutex> lock(settingsMutex_);
    listBase_ = base;
}

std::string ClustAnalData::listBase() const
{
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return listBase_;
}

void ClustAnalData::setDisplay(bool on)
{
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        display_ = on;
    }
    if (!on) {
        std::lock_guard<std::mutex> lock(historyMutex_);
        shown_.reset();
    }
}

bool ClustAnalData::display() const
{
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return display_;
}

int ClustAnalData::processAcquiredFrame()
{
    int frameIndex = 0;
    int rc = mgr_->tvkCtrlGetAcqInfo(devIndex_, &frameIndex, nullptr, nullptr, nullptr);
    if (rc != 0) {
        log("The acquired frame of device " + std::to_string(devIndex_) + " is not analysed: the acquisition "
            "cannot be asked for it (code " + std::to_string(rc) + ").");
        return -1;
    }
    uint32_t frameId = 0;
    rc = mgr_->tvkCtrlGetFrameID(devIndex_, frameIndex, &frameId);
    if (rc != 0) {
        log("The acquired frame " + std::to_string(frameIndex) + " of device " + std::to_string(devIndex_) +
            " is not analysed: it cannot be found (code " + std::to_string(rc) + ").");
        return -1;
    }
    return processFrame(frameId, std::to_string(frameId));
}

int ClustAnalData::processFrame(uint32_t frameId, const std::string& listName)
{
    ClustSettings s;
    int chainId;
    bool displayOn;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        s = settings_;
        chainId = chain_;
        displayOn = display_;
    }
    std::lock_guard<std::mutex> processing(processMutex_);

    // The filtered copy belongs to this call: closed on every way out, also when the chain failed but
    // an id came back.
    uint32_t frame = frameId;
    uint32_t copy = 0;
    struct CopyCloser {
        const _MgrFuncTable* mgr;
        uint32_t* id;
        ~CopyCloser()
        {
            if (*id)
                mgr->mgrCloseFrame(*id, nullptr);
        }
    } closer{mgr_, &copy};
    if (chainId >= 0) {
        const int rc = mgr_->mgrGetFilteredFrame(chainId, frameId, &copy);
        if (rc != 0) {
            log("Filter chain " + std::to_string(chainId) + " failed on frame " + std::to_string(frameId) +
                " (code " + std::to_string(rc) + "); the frame is not analysed.");
            return -1;
        }
        frame = copy;
    }
    // Each refusal below is logged: an acquired frame has no other caller to report it.
    const std::string which = "Frame " + std::to_string(frameId) + " is not analysed: ";
    int type = 0;
    int rc = mgr_->mgrGetFrameType(frame, &type);
    if (rc != 0) {
        log(which + "its type cannot be read (code " + std::to_string(rc) + ").");
        return -1;
    }
    if (type != TYPE_I16 && type != TYPE_U32 && type != TYPE_DOUBLE) {
        log(which + "its element type " + std::to_string(type) + " is none of i16, u32 and double.");
        return -1;
    }
    if (!finder_ || clusterFindType(*finder_) != type)
        finder_ = makeClusterFind(type);
    if (!finder_)
        return -1;
    uint32_t width = 0, height = 0;
    rc = mgr_->mgrGetFrameSize(frame, &width, &height);
    if (rc != 0) {
        log(which + "its size cannot be read (code " + std::to_string(rc) + ").");
        return -1;
    }
    const size_t element = type == TYPE_I16 ? 2 : type == TYPE_U32 ? 4 : 8;
    const uint64_t pixels = uint64_t{width} * height;
    const uint64_t bytes = pixels * element;
    if (pixels > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ||
        bytes > std::numeric_limits<uint32_t>::max()) {
        log(which + "it is too large (" + std::to_string(width) + " x " + std::to_string(height) + ").");
        return -1;
    }
    try {
        if (buffer_.size() != bytes)
            buffer_.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        buffer_.clear();
        log(which + "not enough memory for its data.");
        return -1;
    }
    uint32_t size = static_cast<uint32_t>(bytes);
    rc = bytes ? mgr_->mgrGetFrameData(frame, buffer_.data(), &size, type) : 0;
    if (rc != 0) {
        log(which + "its data cannot be read (code " + std::to_string(rc) + ").");
        return -1;
    }

    IClusterFind& f = *finder_;
    f.LimDotPixCount = s.LimDotPixCount;
    f.LimSmallBlobSizeXY = s.LimSmallBlobSizeXY;
    f.LimHeavyBlobInnerCount = s.LimHeavyBlobInnerCount;
    f.LimHeavyTrackInnerCount = s.LimHeavyTrackInnerCount;
    f.LimStraightTrackHtMax = s.LimStraightTrackHtMax;
    f.LimHeavyBlobRadiusDev = s.LimHeavyBlobRadiusDev;
    f.LimHeavyBlobInBorRatio = s.LimHeavyBlobInBorRatio;
    f.LimHeavyTrackInBorRatio = s.LimHeavyTrackInBorRatio;
    f.LimStraightTrackHtMaxRatio = s.LimStraightTrackHtMaxRatio;
    f.setThresholds(s.LowTh, s.HighTh);
    if (f.find(static_cast<int32_t>(width), static_cast<int32_t>(height), buffer_.data()) != 0) {
        log(which + "its clusters cannot be found (not enough memory).");
        return -1;
    }
    if (s.JoinEnabled) {
        f.JoinMaskSize = s.JoinMaskSize;
        f.JoinSigma = s.JoinSigma;
        f.JoinThreshold = s.JoinThreshold;
        if (f.joinSmallClusters() != 0)
            log("Joining of small clusters refused its settings.");
    }

    bool perPixelSkipped = false;
    {
        std::lock_guard<std::mutex> lock(spectraMutex_);
        Spectra& sp = *spectra_;
        ClusterFilter filter = s.filter();
        auto sizes = [&](Spectrum& spec, ClusterFilter* flt) {
            if (!spec.bins.empty())
                f.sizeSpectrum(spec.bins.data(), static_cast<int32_t>(spec.from),
                               static_cast<int32_t>(spec.bins.size()), flt);
        };
        auto volumes = [&](Spectrum& spec, ClusterFilter* flt) {
            if (!spec.bins.empty())
                f.volumeSpectrum(spec.bins.data(), spec.from, spec.step, static_cast<int32_t>(spec.bins.size()), flt);
        };
        sizes(sp.sizeAll, nullptr);
        sizes(sp.sizeValid, &filter);
        volumes(sp.volAll, nullptr);
        volumes(sp.volValid, &filter);
        std::vector<int32_t*> rows;
        if (!sp.bySize.rows.empty()) {
            for (auto& r : sp.bySize.rows)
                rows.push_back(r.data());
            f.volumeSpectrumBySize(rows.data(), static_cast<int32_t>(rows.size()), sp.bySize.from, sp.bySize.step,
                                   sp.bySize.rowLength, &filter);
        }
        if (!sp.perPixel.rows.empty()) {
            if (static_cast<int32_t>(width) == s.FrameWidth && static_cast<int32_t>(height) == s.FrameHeight) {
                rows.clear();
                for (auto& r : sp.perPixel.rows)
                    rows.push_back(r.data());
                f.perPixelVolumeSpectrum(rows.data(), sp.perPixel.rowLength, sp.perPixel.from, sp.perPixel.step,
                                         static_cast<int32_t>(rows.size()), &filter);
            } else {
                perPixelSkipped = true;
            }
        }
        int32_t all[kClassCount], valid[kClassCount];
        f.classCounts(all, nullptr);
        f.classCounts(valid, &filter);
        for (int c = 0; c < kClassCount; ++c) {
            totals_.all[c] += all[c];
            totals_.valid[c] += valid[c];
        }
        ++totals_.frames;
        for (int c = 1; c < kClassCount; ++c)
            ++classTable_[static_cast<size_t>(c - 1)][static_cast<size_t>(std::min(valid[c], kClassTableBins - 1))];
    }
    if (perPixelSkipped) {
        const int64_t key = (int64_t{width} << 32) | height;
        if (std::find(loggedSizes_.begin(), loggedSizes_.end(), key) == loggedSizes_.end()) {
            loggedSizes_.push_back(key);
            log("Frames of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels are left out of the per-pixel volume spectrum, which is set up for " +
                std::to_string(s.FrameWidth) + " x " + std::to_string(s.FrameHeight) + ".");
        }
    }
    if (s.CreateClustersFile)
        writeListFiles(f, s, listName);

    if (s.HoldHistory || displayOn) {
        std::shared_ptr<IClusterFind> done(std::move(finder_));
        std::lock_guard<std::mutex> lock(historyMutex_);
        if (s.HoldHistory)
            history_.push_back(done);
        if (displayOn)
            shown_ = done; // the previous one lives on only while the history holds it
    }
    return 0;
}

int ClustAnalData::writeListFiles(const IClusterFind& finder, const ClustSettings& s, const std::string& listName)
{
    const std::string base = listBase();
    if (base.empty()) {
        log("No output file is set for the cluster lists; the list of frame " + listName + " is not written.");
        return -1;
    }
    ClusterFilter filter = s.filter();
    const std::string path = s.AllToSingleFile ? base + ".txt" : base + "_" + listName + ".txt";
    std::string error;
    if (finder.writeClusterList(path, s.AllToSingleFile, &filter, &error) != 0) {
        const std::string text = "Error while writing to file \"" + path + "\": " + error + ".";
        log(text);
        if (errorBox_)
            errorBox_(text);
        return -1;
    }
    return 0;
}

const IClusterFind* ClustAnalData::finderFor(int entry) const
{
    if (entry >= 0)
        return static_cast<size_t>(entry) < history_.size() ? history_[static_cast<size_t>(entry)].get() : nullptr;
    if (shown_)
        return shown_.get();
    if (finder_)
        return finder_.get();
    // With the history on and the display off, the last analysed finder went to the history.
    return history_.empty() ? nullptr : history_.back().get();
}

ClustView ClustAnalData::view() const
{
    ClustView v;
    const ClustSettings s = settings();
    std::lock_guard<std::mutex> processing(processMutex_);
    std::lock_guard<std::mutex> lock(historyMutex_);
    const IClusterFind* f = finderFor(-1);
    if (!f)
        return v;
    v.width = f->width();
    v.height = f->height();
    v.classes.assign(static_cast<size_t>(f->pixelCount()), 0);
    v.labels.assign(f->labels(), f->labels() + f->pixelCount());
    for (int32_t& l : v.labels)
        if (l < 0)
            l = -1;
    ClusterFilter filter = s.filter();
    for (int i = 0; i < f->clusterCount(); ++i) {
        const ICluster& c = *f->cluster(i);
        if (!c.matches(filter)) {
            ++v.failed;
            continue;
        }
        ++v.passed;
        if (c.clusterClass() >= 0 && c.clusterClass() < kClassCount)
            ++v.counts[c.clusterClass()];
        for (int p = 0; p < c.size(); ++p)
            v.classes[static_cast<size_t>(c.pixelIndex(p))] = c.clusterClass();
    }
    return v;
}

ClustTotals ClustAnalData::totals() const
{
    std::lock_guard<std::mutex> lock(spectraMutex_);
    return totals_;
}

std::vector<std::vector<int32_t>> ClustAnalData::classTable() const
{
    std::lock_guard<std::mutex> lock(spectraMutex_);
    return classTable_;
}

int ClustAnalData::historySize() const
{
    std::lock_guard<std::mutex> lock(historyMutex_);
    return static_cast<int>(history_.size());
}

int ClustAnalData::clusterProperties(int entry, int index, ClusterProps* out) const
{
    std::lock_guard<std::mutex> processing(processMutex_);
    std::lock_guard<std::mutex> lock(historyMutex_);
    const IClusterFind* f = finderFor(entry);
    ICluster* c = f ? f->cluster(index) : nullptr;
    if (!c || !out)
        return -1;
    out->size = c->size();
    out->volume = c->volume();
    out->centroidX = c->centroidX();
    out->centroidY = c->centroidY();
    out->meanX = c->meanX();
    out->meanY = c->meanY();
    out->xExtent = c->xExtent();
    out->yExtent = c->yExtent();
    out->diameter = c->diameter();
    out->houghHeight = c->houghHeight();
    out->houghAngleDeg = c->houghAngle() * 180.0 / 3.14159265358979323846;
    out->houghDistance = c->houghDistance();
    out->clusterClass = c->clusterClass();
    out->lowest = c->lowest();
    out->highest = c->highest();
    out->innerCount = c->innerCount();
    out->perimeter = c->perimeter();
    return 0;
}

Spectrum ClustAnalData::sizeSpectrum(bool valid) const
{
    std::lock_guard<std::mutex> lock(spectraMutex_);
    return valid ? spectra_->sizeValid : spectra_->sizeAll;
}

Spectrum ClustAnalData::volumeSpectrum(bool valid) const
{
    std::lock_guard<std::mutex> lock(spectraMutex_);
    return valid ? spectra_->volValid : spectra_->volAll;
}

SpectrumMatrix ClustAnalData::volumeBySize() const
{
    std::lock_guard<std::mutex> lock(spectraMutex_);
    return spectra_->bySize;
}

SpectrumMatrix ClustAnalData::perPixelSpectrum() const
{
    std::lock_guard<std::mutex> lock(spectraMutex_);
    return spectra_->perPixel;
}

int ClustAnalData::writeSpectra(const std::string& base) const
{
    struct Output {
        const char* suffix;
        std::string text;
    };
    std::vector<Output> outputs;
    {
        std::lock_guard<std::mutex> lock(spectraMutex_);
        const Spectra& sp = *spectra_;
        auto single = [&](const Spectrum& s, const char* suffix) {
            if (!s.bins.empty())
                outputs.push_back({suffix, spectrumBlock(s.from, s.step, s.bins.data(), s.bins.size())});
        };
        single(sp.sizeAll, "_spect_size_all");
        single(sp.sizeValid, "_spect_size_valid");
        single(sp.volAll, "_spect_volume_all");
        single(sp.volValid, "_spect_volume_valid");
        if (!sp.bySize.rows.empty()) {
            std::string text;
            for (const auto& row : sp.bySize.rows)
                text += spectrumBlock(sp.bySize.from, sp.bySize.step, row.data(), row.size());
            outputs.push_back({"_spect_volume_selsizes", std::move(text)});
        }
        if (!sp.perPixel.rows.empty()) {
            // One block per pixel: that pixel's counts over the volume bins, gathered in a column.
            std::string text;
            std::vector<int32_t> column(sp.perPixel.rows.size());
            for (int32_t p = 0; p < sp.perPixel.rowLength; ++p) {
                for (size_t b = 0; b < column.size(); ++b)
                    column[b] = sp.perPixel.rows[b][static_cast<size_t>(p)];
                text += spectrumBlock(sp.perPixel.from, sp.perPixel.step, column.data(), column.size());
            }
            outputs.push_back({"_spect_volume_perpixel", std::move(text)});
        }
    }
    int result = 0;
    for (const Output& o : outputs) {
        const std::string path = spectrumFileName(base, o.suffix);
        std::string error;
        if (plat::replaceFile(path, o.text.data(), o.text.size(), &error) != 0) {
            log(error);
            result = -1;
        }
    }
    return result;
}

int ClustAnalData::writeClusterList(const std::string& path, int entry, bool append) const
{
    std::string error;
    int rc;
    ClusterFilter filter = settings().filter();
    {
        std::lock_guard<std::mutex> processing(processMutex_);
        std::lock_guard<std::mutex> lock(historyMutex_);
        const IClusterFind* f = finderFor(entry);
        if (!f) {
            rc = -1;
            error = entry < 0 ? "no frame has been analysed" : "there is no history entry " + std::to_string(entry);
        } else {
            rc = f->writeClusterList(path, append, &filter, &error);
        }
    }
    if (rc != 0) {
        const std::string text = "Error while writing to file \"" + path + "\": " + error + ".";
        log(text);
        if (errorBox_)
            errorBox_(text);
        return -1;
    }
    return 0;
}

void ClustAnalData::clear()
{
    {
        std::lock_guard<std::mutex> lock(historyMutex_);
        history_.clear();
        shown_.reset();
    }
    std::lock_guard<std::mutex> lock(spectraMutex_);
    Spectra& sp = *spectra_;
    for (Spectrum* s : {&sp.sizeAll, &sp.sizeValid, &sp.volAll, &sp.volValid})
        std::fill(s->bins.begin(), s->bins.end(), 0);
    for (SpectrumMatrix* m : {&sp.bySize, &sp.perPixel})
        for (auto& row : m->rows)
            std::fill(row.begin(), row.end(), 0);
    totals_ = ClustTotals{};
    for (auto& row : classTable_)
        std::fill(row.begin(), row.end(), 0);
}
