// The simulated device: hardware functions, input preparation and the read-out arithmetic.
#include "hw_dummy.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <memory>
#include <sys/stat.h>

#include "image_files.h"
#include "platform/clock.h"
#include "platform/syserror.h"
#include "pluginfw/tvk_utils.h"

namespace hwdummy {

namespace {

constexpr const char* kInterfaceName = "dummy";

constexpr uint32_t kItemFlagsFile = HWINFO_CONFIG | HWINFO_WRITABLE; // data file count and cache count
                                                                      // outside folder mode

// The refusals of the item functions; a set of a read-only item is left unchanged with result 0.
const hwkit::ItemRules kItemRules{kHwError,
                                  kHwErrorBufferSmall,
                                  "Invalid index (%d) of hw specific info item.",
                                  "Invalid parameter.",
                                  "Invalid size of buffer for hw specific info item data.",
                                  "Invalid size of data for hw specific info item."};

enum ItemIndex {
    kItemVersion = 0,
    kItemPoissonNoise,
    kItemTimeElement,
    kItemDataFileName,
    kItemDataFileCount,
    kItemCacheCount,
    kItemImageCounter
};

// The seed mixes the device index into the time, so that devices made in the same second differ
// (multiplying by an odd constant is a bijection on 32 bits).
uint32_t seedFor(int index)
{
    const auto now = static_cast<uint32_t>(std::time(nullptr));
    return now ^ (0x9E3779B9u * static_cast<uint32_t>(index + 1));
}

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A relative input name is taken in the library's folder (where its settings file and default images
// are); an absolute one stands as it is.
std::string resolvedInputName(const std::string& libraryFolder, const char* name)
{
    if (name[0] == '/' || libraryFolder.empty())
        return name;
    return libraryFolder + "/" + name;
}

// ---- the scaling of one exposure ----

// One pixel: the product limited to 0 .. kMaxPoissonMean (NaN gives 0), truncated; 0 for a masked pixel.
uint32_t scaledPixel(int16_t value, uint8_t cfg, double factor)
{
    if (!(cfg & 1))
        return 0;
    const double product = value * factor;
    if (product >= static_cast<double>(kMaxPoissonMean))
        return kMaxPoissonMean;
    return product > 0.0 ? static_cast<uint32_t>(product) : 0u;
}

// Pixels from `from` on, one at a time: the counts (folded into the counter range) into out, or the
// scaled values into means; the other is null. A null cfg counts every pixel.
void scalePixels(const int16_t* image, const uint8_t* cfg, double factor, uint32_t from, uint32_t n, uint16_t* out,
                 uint32_t* means)
{
    for (uint32_t i = from; i < n; ++i) {
        const uint32_t v = scaledPixel(image[i], cfg ? cfg[i] : uint8_t{1}, factor);
        if (means)
            means[i] = v;
        else
            out[i] = static_cast<uint16_t>(v % kCounterModulo);
    }
}

#if defined(__x86_64__)
// The same eight pixels at a time with AVX2, to the bit: products stay below 2^31, so every step is exact
// in doubles and in 32-bit lanes. The fold, taken only for eight pixels of which one reaches the modulus,
// divides by a multiplication with the rounded reciprocal, whose quotient is at most one too small (the
// remainder then equals the modulus and is taken back once). Returns the pixels done.
// Limit: whether a product may reach kMaxPoissonMean (else the limit is left out); Masked: whether some
// pixel does not count (else cfg is not read).
template <bool Limit, bool Masked>
[[gnu::target("avx2")]] uint32_t scalePixelsAvx2(const int16_t* image, const uint8_t* cfg, double factor, uint32_t n,
                                                 uint16_t* out, uint32_t* means)
{
    constexpr int kTruncate = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
    const __m256d scale = _mm256_set1_pd(factor);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d limit = _mm256_set1_pd(static_cast<double>(kMaxPoissonMean));
    const __m256d modulo = _mm256_set1_pd(static_cast<double>(kCounterModulo));
    const __m256d inverse = _mm256_set1_pd(1.0 / kCounterModulo);
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i values = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(image + i)));
        __m256d lo = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(values)), scale);
        __m256d hi = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(values, 1)), scale);
        // max gives its second operand for a NaN: NaN, negatives and -0 give +0.
        lo = _mm256_max_pd(lo, zero);
        hi = _mm256_max_pd(hi, zero);
        if (Limit) {
            lo = _mm256_min_pd(lo, limit);
            hi = _mm256_min_pd(hi, limit);
        }
        // Bit 0 of each configuration byte moved to the sign and spread: all ones or zero per pixel.
        __m128i enabled = _mm_setzero_si128();
        if (Masked)
            enabled = _mm_srai_epi16(
                _mm_slli_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cfg + i))), 15), 15);
        if (means) {
            __m256i whole = _mm256_set_m128i(_mm256_cvttpd_epi32(hi), _mm256_cvttpd_epi32(lo));
            if (Masked)
                whole = _mm256_and_si256(whole, _mm256_cvtepi16_epi32(enabled));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(means + i), whole);
            continue;
        }
        if (_mm256_movemask_pd(_mm256_cmp_pd(_mm256_max_pd(lo, hi), modulo, _CMP_GE_OQ))) {
            lo = _mm256_round_pd(lo, kTruncate);
            hi = _mm256_round_pd(hi, kTruncate);
            lo = _mm256_sub_pd(lo, _mm256_mul_pd(_mm256_round_pd(_mm256_mul_pd(lo, inverse), kTruncate), modulo));
            hi = _mm256_sub_pd(hi, _mm256_mul_pd(_mm256_round_pd(_mm256_mul_pd(hi, inverse), kTruncate), modulo));
            lo = _mm256_sub_pd(lo, _mm256_and_pd(_mm256_cmp_pd(lo, modulo, _CMP_GE_OQ), modulo));
            hi = _mm256_sub_pd(hi, _mm256_and_pd(_mm256_cmp_pd(hi, modulo, _CMP_GE_OQ), modulo));
        }
        __m128i counts = _mm_packus_epi32(_mm256_cvttpd_epi32(lo), _mm256_cvttpd_epi32(hi));
        if (Masked)
            counts = _mm_and_si128(counts, enabled);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), counts);
    }
    return i;
}
#endif

// The whole image: with AVX2 where the processor has it, the rest (or all) one pixel at a time. A null
// cfg counts every pixel.
void scaleImage(const int16_t* image, const uint8_t* cfg, double factor, uint32_t n, uint16_t* out, uint32_t* means)
{
    uint32_t done = 0;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    // No i16 value times a factor up to this reaches the limit.
    constexpr double kFactorBelowLimit = static_cast<double>(kMaxPoissonMean) / 32768.0;
    if (avx2) {
        const bool limit = !(factor < kFactorBelowLimit); // NaN takes the limit too
        done = limit ? (cfg ? scalePixelsAvx2<true, true>(image, cfg, factor, n, out, means)
                            : scalePixelsAvx2<true, false>(image, cfg, factor, n, out, means))
                     : (cfg ? scalePixelsAvx2<false, true>(image, cfg, factor, n, out, means)
                            : scalePixelsAvx2<false, false>(image, cfg, factor, n, out, means));
    }
#endif
    scalePixels(image, cfg, factor, done, n, out, means);
}

} // namespace

HwDummy::HwDummy(int index)
    : ItemDevice(kItemRules, typeElementSize),
      index_(index),
      sampler_(seedFor(index))
{
    declareItems({
        {"Version", TYPE_U32, 1, 0, "Dummy HW version", &version_},
        {"Poisson noise", TYPE_BOOL, 1, HWINFO_CONFIG | HWINFO_WRITABLE | HWINFO_TO_FRAME,
         "Simulate Poisson noise", &poissonNoise_},
        {"Time element", TYPE_DOUBLE, 1, kItemFlagsFile, "Size of time element for acquisition simulation",
         &timeElement_, {}, {}, {}, [this](const void* data) { return setTimeElement(data); }},
        {"Data file name", TYPE_CHAR, kDataFileNameSize, kItemFlagsFile, "Data file name for first image",
         dataFileName_, {}, {}, {}, [this](const void* data) { return setDataFileName(data); }},
        {"Data file count", TYPE_U32, 1, kItemFlagsFile, "Number of input data files (for images)",
         &dataFileCount_, {}, {}, {}, [this](const void* data) { return setDataFileCount(data); }},
        {"Cache count", TYPE_U32, 1, kItemFlagsFile, "Number of input data files which can be cached",
         &cacheCount_, {}, {}, {}, [this](const void* data) { return setCacheCount(data); }},
        {"Image counter", TYPE_U32, 1, HWINFO_WRITABLE, "Number of next image", &imageCounter_},
    });
    devInfo_.pixelCount = 65536;
    devInfo_.rowLength = 256;
    devInfo_.chipCount = 1;
    devInfo_.chipRows = 1;
    devInfo_.chipType = CHIPTYPE_T21;
    std::snprintf(devInfo_.chipboardId, sizeof devInfo_.chipboardId, "%d", 2000 + index);
    devInfo_.interfaceName = kInterfaceName;
    devInfo_.acqModeMask = ACQMODE_MANUAL;
    devInfo_.callbackSupported = 0;
    devInfo_.clockMHz = 100.0;
    devInfo_.hwTimerMax = 1000000.0;
    devInfo_.hwTimerStep = 0.01;
    devInfo_.maxTestPulseCount = 10000;
    devInfo_.maxTestPulseHeight = 1.2;
    devInfo_.maxTestPulsePeriod = 0.00001;
    devInfo_.reserved = 0.0;
    devInfo_.extDacMax = 5.0;
    devInfo_.extDacStep = 5.0 / 4095.0;

    // Every pixel counts until a configuration arrives (the chip's reset state).
    pixelCfg_.assign(pixelCount(), 0xFF);
    writtenMatrix_.assign(pixelCount(), 0);
}

int HwDummy::init(const DummySettings& settings)
{
    if (pixelCfg_.size() != pixelCount()) {
        pixelCfg_.assign(pixelCount(), 0xFF);
        allCounting_ = true;
    }
    if (writtenMatrix_.size() != pixelCount())
        writtenMatrix_.assign(pixelCount(), 0);
    return prepareInput(settings);
}

// ---- hardware-info items ----

int HwDummy::setHwInfo(int item, const void* data, int size, const DummySettings& settings)
{
    settings_ = settings;
    return ItemDevice::setHwInfo(item, data, size);
}

int HwDummy::setDataFileName(const void* data)
{
    // A name that fills the whole buffer has no room for its end: refused rather than cut.
    if (!std::memchr(data, 0, kDataFileNameSize))
        return setError(kHwError, "Data file name is too long (at most %zu characters).", kDataFileNameSize - 1);
    std::memcpy(dataFileName_, data, kDataFileNameSize);
    return prepareInput(settings_);
}

int HwDummy::setDataFileCount(const void* data)
{
    std::memcpy(&dataFileCount_, data, sizeof dataFileCount_);
    return prepareInput(settings_);
}

int HwDummy::setTimeElement(const void* data)
{
    double value;
    std::memcpy(&value, data, sizeof value);
    if (!std::isfinite(value) || value < 0.0)
        return setError(kHwError, "Invalid time element %g: it has to be a finite number of at least 0.", value);
    timeElement_ = value;
    return 0;
}

int HwDummy::setCacheCount(const void* data)
{
    uint32_t requested;
    std::memcpy(&requested, data, sizeof requested);
    cacheCount_ = std::min(requested, kMaxCacheCount);
    const int r = prepareInput(settings_);
    if (r != 0 || requested <= kMaxCacheCount)
        return r;
    return setError(kHwError, "Cache count %u is above the limit of %u images; %u is used.", requested,
                    kMaxCacheCount, kMaxCacheCount);
}

// ---- description and acquisition ----

int HwDummy::getDevInfo(_DevInfo* info)
{
    if (!info)
        return setError(kHwError, "Invalid parameter.");
    *info = devInfo_;
    return 0;
}

int HwDummy::getAcqTime(double* time)
{
    if (!time)
        return setError(kHwError, "Invalid parameter.");
    *time = elapsed_;
    return 0;
}

int HwDummy::setAcqPars(const _AcqPars* pars)
{
    if (!pars)
        return setError(kHwError, "Invalid parameter.");
    if (pars->acqMode != ACQMODE_MANUAL)
        return setError(kHwError, "Invalid acq mode.");
    acqPars_ = *pars;
    return 0;
}

int HwDummy::startAcquisition()
{
    elapsed_ = -1.0;
    startTime_ = plat::monotonicSeconds();
    matrixRead_ = 0;
    return 0;
}

int HwDummy::stopAcquisition()
{
    if (elapsed_ < 0.0)
        elapsed_ = plat::monotonicSeconds() - startTime_;
    return 0;
}

int HwDummy::checkBusy(int* busy)
{
    if (!busy)
        return setError(kHwError, "Invalid parameter.");
    // The exposure is timed here whatever the hardware-timer flag says; a NaN time never keeps it busy.
    *busy = plat::monotonicSeconds() - startTime_ <= acqPars_.acqTime ? 1 : 0;
    return 0;
}

int HwDummy::testPulses(uint32_t count)
{
    testPulseCount_ = count % kCounterModulo;
    if (testPulseCount_ == 0)
        testPulseCount_ = 1;
    matrixRead_ = 0;
    // The pulses replace any earlier exposure, so the next read gives the pulse counts.
    elapsed_ = 0.0;
    return 0;
}

int HwDummy::getDacValue(double* value)
{
    if (!value)
        return setError(kHwError, "Invalid parameter.");
    *value = 1.0;
    return 0;
}

int HwDummy::setPixelsCfg(const uint8_t* cfg, uint32_t size)
{
    if (!cfg || size != pixelCount())
        return setError(kHwError, "Invalid size of pixel configuration (%u bytes); the device has %u pixels.", size,
                        pixelCount());
    std::memcpy(pixelCfg_.data(), cfg, size);
    allCounting_ = std::all_of(pixelCfg_.begin(), pixelCfg_.end(), [](uint8_t c) { return (c & 1) != 0; });
    return 0;
}

int HwDummy::resetMatrix()
{
    matrixRead_ = 1;
    return 0;
}

int HwDummy::writeMatrix(const uint16_t* buffer, uint32_t count)
{
    if ((!buffer && count > 0) || count > pixelCount())
        return setError(kHwError, "Invalid size of matrix data (%u values); the device has %u pixels.", count,
                        pixelCount());
    matrixRead_ = 0;
    testPulseCount_ = 0;
    elapsed_ = 0.0;
    if (count > 0)
        std::memcpy(writtenMatrix_.data(), buffer, count * sizeof(uint16_t));
    return 0;
}

// ---- read-out ----

int HwDummy::readMatrix(uint16_t* buffer, uint32_t count)
{
    if (!buffer || count != pixelCount())
        return setError(kHwError, "Invalid size of matrix buffer (%u values); the device has %u pixels.", count,
                        pixelCount());
    if (matrixRead_) {
        std::fill(buffer, buffer + count, uint16_t{0});
        return 0;
    }

    if (elapsed_ > 0.0) {
        // An exposure was stopped since the last write or test pulses: serve the next input image.
        if (!inputReady_ || dataFileCount_ == 0)
            return setError(kHwError, "Input data files are not ready");
        imageCounter_ %= dataFileCount_;
        const int16_t* image = nullptr;
        if (folderMode_) {
            scratch_.resize(pixelCount());
            const int r = readFolderImage(scratch_.data());
            if (r != 0)
                return r;
            image = scratch_.data();
        } else if (cache_.size() == dataFileCount_) {
            image = cache_[imageCounter_]->data();
        } else {
            scratch_.resize(pixelCount());
            const int r = readImageInto(seriesFileName(imageCounter_), inputFormat_, scratch_.data());
            if (r != 0)
                return r;
            image = scratch_.data();
        }
        convertImage(image, buffer);
        ++imageCounter_;
    } else if (testPulseCount_ != 0) {
        const auto pulses = static_cast<uint16_t>(testPulseCount_);
        for (uint32_t i = 0; i < count; ++i)
            buffer[i] = (pixelCfg_[i] & 1) ? pulses : 0;
        testPulseCount_ = 0;
    } else {
        std::memcpy(buffer, writtenMatrix_.data(), count * sizeof(uint16_t));
    }
    matrixRead_ = 1;
    return 0;
}

// Counts of one exposure: the image scaled by exposure / time element, masked, optionally given Poisson
// noise and folded into the counter range. Negative input values count as 0, and products are limited
// before the conversion to an integer, so no input gives an undefined conversion.
void HwDummy::convertImage(const int16_t* image, uint16_t* out)
{
    const uint32_t n = pixelCount();
    if (!(timeElement_ > 0.0)) {
        for (uint32_t i = 0; i < n; ++i)
            out[i] = image[i] < 0 ? 0 : static_cast<uint16_t>(image[i]);
        return;
    }
    const double factor = elapsed_ / timeElement_;
    if (poissonNoise_ == 0) {
        scaleImage(image, allCounting_ ? nullptr : pixelCfg_.data(), factor, n, out, nullptr);
        return;
    }
    means_.resize(n);
    scaleImage(image, allCounting_ ? nullptr : pixelCfg_.data(), factor, n, nullptr, means_.data());
    for (uint32_t i = 0; i < n; ++i)
        out[i] = static_cast<uint16_t>(sampler_.sampleWhole(means_[i]) % kCounterModulo);
}

// ---- input preparation ----

int HwDummy::prepareInput(const DummySettings& settings)
{
    // No name, or a file count of 0, selects the default file. A folder keeps its name whatever the count
    // (the count follows its listing, and is 0 once every file of it failed). The default is kept as a
    // name relative to the library's folder, so that a configuration that stores it still holds when the
    // app folder is copied or moved.
    if (dataFileName_[0] == '\0' ||
        (dataFileCount_ == 0 && !isFolder(resolvedInputName(settings.folder, dataFileName_)))) {
        const int n = settings.unique ? 2000 + index_ : 2000;
        const std::string name = "dummy_" + std::to_string(n) + ".txt";
        std::memcpy(dataFileName_, name.c_str(), name.size() + 1);
        dataFileCount_ = 1;
    }
    const std::string name = resolvedInputName(settings.folder, dataFileName_); // always terminated

    folderMode_ = isFolder(name);
    const uint32_t countFlags = folderMode_ ? 0 : kItemFlagsFile;
    items().item(kItemDataFileCount).flags = countFlags;
    items().item(kItemCacheCount).flags = countFlags;
    folderFiles_.clear();
    if (folderMode_)
        return prepareFolder(name);

    const bool cacheSideKept = (preparedCacheCount_ >= dataFileCount_) == (cacheCount_ >= dataFileCount_);
    if (inputReady_ && name == preparedName_ && preparedFileCount_ == dataFileCount_ && cacheSideKept)
        return 0;
    preparedName_ = name;
    preparedFileCount_ = dataFileCount_;
    preparedCacheCount_ = cacheCount_;
    inputReady_ = false;
    cache_.clear();

    std::string message;
    const int r = detectImageFormat(name, width(), height(), &inputFormat_, &message);
    if (r != 0)
        return setError(r, "%s", message.c_str());
    const int built = buildSeries(name);
    if (built != 0)
        return built;
    inputReady_ = true;
    return 0;
}

int HwDummy::prepareFolder(const std::string& folder)
{
    preparedName_ = folder;
    inputReady_ = false;
    cache_.clear();
    folderPath_ = folder;
    if (folderPath_.back() != '/')
        folderPath_ += '/';

    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return setError(kHwError, "Cannot access directory \"%s\".", folder.c_str());
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string fileName = entry->d_name;
        if (fileName == "." || fileName == ".." || isFolder(folderPath_ + fileName))
            continue;
        folderFiles_.push_back(fileName);
    }
    if (folderFiles_.empty())
        return setError(kHwError, "No input file found in directory \"%s\".", folder.c_str());
    std::sort(folderFiles_.begin(), folderFiles_.end()); // byte order
    dataFileCount_ = preparedFileCount_ = static_cast<uint32_t>(folderFiles_.size());
    inputReady_ = true;
    return 0;
}

int HwDummy::buildSeries(const std::string& name)
{
    cache_.clear();
    baseName_ = name;
    if (dataFileCount_ > 1) {
        const auto index = findFileIndex(name);
        if (!index)
            return setError(kHwError, "File name \"%s\" does not contain index.", name.c_str());
        firstIndex_ = index->value;
        indexWidth_ = index->digits;
        indexPosition_ = index->position;
        baseName_.erase(index->position, index->digits);
    }
    if (cacheCount_ < dataFileCount_)
        return 0; // images are read from disk at each exposure

    cache_.reserve(dataFileCount_);
    for (uint32_t j = 0; j < dataFileCount_; ++j) {
        auto image = std::make_unique<std::vector<int16_t>>(pixelCount());
        const int r = readImageInto(seriesFileName(j), inputFormat_, image->data());
        if (r != 0) {
            cache_.clear();
            return r;
        }
        cache_.push_back(image.release());
    }
    return 0;
}

std::string HwDummy::seriesFileName(uint32_t image) const
{
    if (dataFileCount_ <= 1)
        return baseName_;
    return indexedFileName(baseName_, indexPosition_, indexWidth_, firstIndex_ + image);
}

int HwDummy::readImageInto(const std::string& path, uint32_t format, int16_t* out)
{
    std::string message;
    const int r = readImageFile(path, format, width(), height(), out, &message);
    if (r != 0)
        return setError(r, "%s", message.c_str());
    return 0;
}

// Folder mode: the file at the image counter, detected and read; a file that fails leaves the list and
// the next one takes its place. When none is left the input is no longer ready.
int HwDummy::readFolderImage(int16_t* out)
{
    while (!folderFiles_.empty()) {
        if (imageCounter_ >= folderFiles_.size())
            imageCounter_ = 0;
        const std::string path = folderPath_ + folderFiles_[imageCounter_];
        uint32_t format = 0;
        std::string message;
        int r = detectImageFormat(path, width(), height(), &format, &message);
        if (r == 0)
            r = readImageFile(path, format, width(), height(), out, &message);
        if (r == 0)
            return 0;
        folderFiles_.erase(folderFiles_.begin() + imageCounter_);
        dataFileCount_ = preparedFileCount_ = static_cast<uint32_t>(folderFiles_.size());
    }
    inputReady_ = false;
    return setError(kHwError, "No input file found in directory \"%s\".", preparedName_.c_str());
}

} // namespace hwdummy
