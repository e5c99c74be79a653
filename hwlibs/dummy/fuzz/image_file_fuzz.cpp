// Fuzz entry: the simulated detector's input image files. The first byte chooses the matrix (width and
// height of 1 to 16, or 256 x 256 as the device has it) and the format: 0 detects it from the file as
// the device does, 1-6 take one of the six formats. The rest is the file. Built as a libFuzzer target
// with clang; the kept inputs are replayed by an ordinary test.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "image_files.h"

namespace {

const std::string& scratchFile()
{
    static const std::string path = ombrel_fuzz::scratchFolder("image-fuzz") + "/image";
    return path;
}

constexpr uint32_t kFormats[] = {hwdummy::kBinaryDense,      hwdummy::kAsciiDense,       hwdummy::kBinarySparseIndex,
                                 hwdummy::kBinarySparseXY,   hwdummy::kAsciiSparseIndex, hwdummy::kAsciiSparseXY};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t shape = data[0];
    const uint8_t choice = data[1] % 7;
    data += 2;
    size -= 2;
    const bool full = (shape & 0x80) != 0;
    const uint32_t width = full ? 256 : 1 + (shape & 0x0F);
    const uint32_t height = full ? 256 : 1 + ((shape >> 4) & 0x07);

    const std::string& path = scratchFile();
    ombrel_fuzz::writeFile(path, data, size);
    std::vector<int16_t> image(size_t(width) * height);
    std::string message;
    uint32_t flags = 0;
    if (choice == 0) {
        if (hwdummy::detectImageFormat(path, width, height, &flags, &message) != 0)
            return 0;
    } else {
        flags = kFormats[choice - 1];
    }
    hwdummy::readImageFile(path, flags, width, height, image.data(), &message);
    hwdummy::parseImageData(std::string_view(reinterpret_cast<const char*>(data), size), flags, width, height,
                            image.data(), path, &message);
    return 0;
}
