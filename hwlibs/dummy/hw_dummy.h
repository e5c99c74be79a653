// One simulated single-chip device: its description, acquisition state, hardware-info items and the
// input images it serves as counts. The library holds the device's call lock for every call (hwlibs/common);
// different devices share nothing and may be used from different threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "hwlibs/common/hw_items.h"
#include "pluginfw/own_ptr.h"
#include "poisson.h"
#include "tvk_hw.h"

namespace hwdummy {

// Result codes: every failure of the library except a too-small item buffer, and that one. File errors
// carry -5 (cannot open), -7 (read error) and -9 (position outside the matrix).
constexpr int kHwError = -268435458;            // 0xEFFFFFFE
constexpr int kHwErrorBufferSmall = -268435460; // 0xEFFFFFFC

constexpr int kHwInfoCount = 7;
constexpr size_t kDataFileNameSize = 512;
constexpr size_t kErrorTextSize = 4096;
constexpr uint32_t kCounterModulo = 8001; // counters run from 0 to 8000
// Images kept in memory at most (128 MiB for 256 x 256 pixels); larger cache counts are limited to it.
constexpr uint32_t kMaxCacheCount = 1024;

// What a device needs to know of the library's settings file.
struct DummySettings {
    std::string folder;  // folder of the settings file, no trailing '/'
    bool unique = false; // each device gets its own default input file
};

class HwDummy : public hwkit::ItemDevice {
public:
    explicit HwDummy(int index);
    ~HwDummy() override = default;
    HwDummy(const HwDummy&) = delete;
    HwDummy& operator=(const HwDummy&) = delete;

    int index() const { return index_; }

    // The hardware functions of one device; the results are those of the function table.
    int init(const DummySettings& settings);
    int setHwInfo(int item, const void* data, int size, const DummySettings& settings);
    int getDevInfo(_DevInfo* info) override;
    int getAcqTime(double* time) override;
    int setAcqPars(const _AcqPars* pars) override;
    int startAcquisition() override;
    int stopAcquisition() override;
    int checkBusy(int* busy) override;
    int testPulses(uint32_t count);
    int getDacValue(double* value);
    int setPixelsCfg(const uint8_t* cfg, uint32_t size) override;
    int resetMatrix() override;
    int readMatrix(uint16_t* buffer, uint32_t count) override;
    int writeMatrix(const uint16_t* buffer, uint32_t count) override;

private:
    uint32_t pixelCount() const { return static_cast<uint32_t>(devInfo_.pixelCount); }
    uint32_t width() const { return static_cast<uint32_t>(devInfo_.rowLength); }
    uint32_t height() const { return pixelCount() / width(); }

    // The items whose value takes more than a copy; a set passes the library's settings in settings_.
    int setDataFileName(const void* data);
    int setDataFileCount(const void* data);
    int setTimeElement(const void* data);
    int setCacheCount(const void* data);

    int prepareInput(const DummySettings& settings);
    int prepareFolder(const std::string& folder);
    int buildSeries(const std::string& name);
    std::string seriesFileName(uint32_t image) const;
    int readImageInto(const std::string& path, uint32_t format, int16_t* out);
    int readFolderImage(int16_t* out);
    void convertImage(const int16_t* image, uint16_t* out);

    int index_;
    _DevInfo devInfo_{};
    _AcqPars acqPars_{0, 0, 1, ACQMODE_MANUAL, 0.0};
    uint32_t version_ = 2;
    int32_t poissonNoise_ = 1;
    uint8_t matrixRead_ = 1; // the counters were read or reset: the next read gives zeros
    double timeElement_ = 1.0;
    char dataFileName_[kDataFileNameSize] = "";
    uint32_t dataFileCount_ = 0;
    uint32_t cacheCount_ = 1;
    uint64_t firstIndex_ = 0;
    size_t indexWidth_ = 0;
    size_t indexPosition_ = 0; // where the index digits stood in the name
    uint32_t testPulseCount_ = 0;
    uint32_t imageCounter_ = 0;
    double startTime_ = 0.0; // monotonic seconds
    double elapsed_ = 0.0;   // seconds of the last exposure; -1 while one runs
    std::vector<uint8_t> pixelCfg_;
    bool allCounting_ = true; // bit 0 is set in every byte of pixelCfg_
    std::vector<uint16_t> writtenMatrix_;
    std::vector<int16_t> scratch_; // an image read from disk for one exposure
    std::vector<uint32_t> means_;  // the scaled image of one exposure with noise

    // Input state.
    OwnPtrVector<std::vector<int16_t>*> cache_; // one image per file of the series when all fit
    bool inputReady_ = false;
    uint32_t inputFormat_ = 0; // frame-file flags of the detected format
    std::string baseName_;     // the series name without its index digits
    std::string preparedName_;
    uint32_t preparedFileCount_ = 0;
    uint32_t preparedCacheCount_ = 0;
    bool folderMode_ = false;
    std::string folderPath_; // with a trailing '/'
    std::vector<std::string> folderFiles_;

    DummySettings settings_; // as the last hwSetHwInfo passed them
    PoissonSampler sampler_;
};

} // namespace hwdummy
