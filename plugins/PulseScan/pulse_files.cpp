#include "pulse_files.h"

#include <charconv>

#include "platform/file_write.h"
#include "platform/numbers.h"

namespace {

void appendNumber(std::string& out, uint32_t v)
{
    char buf[16];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void appendNumber(std::string& out, double v)
{
    out += plat::formatDouble(v);
}

template <typename T>
std::string imageText(const PulseImage<T>& image)
{
    std::string out;
    out.reserve(image.values.size() * 2);
    for (unsigned y = 0; y < image.height; ++y) {
        for (unsigned x = 0; x < image.width; ++x) {
            if (x > 0)
                out += ' ';
            appendNumber(out, image.values[static_cast<size_t>(y) * image.width + x]);
        }
        out += '\n';
    }
    return out;
}

} // namespace

std::string pulseImageText(const PulseImage<uint32_t>& image)
{
    return imageText(image);
}

std::string pulseImageText(const PulseImage<double>& image)
{
    return imageText(image);
}

int savePulseResults(const std::string& folder, const PulseResults& r, std::string* error)
{
    const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    const std::pair<const char*, std::string> files[] = {
        {kSpectrumFile, r.spectrum.text()},
        {kSizeSpectrumFile, r.sizes.text()},
        {"Cluster count image.txt", pulseImageText(r.count)},
        {"Cluster size sum image.txt", pulseImageText(r.sizeSum)},
        {"Cluster size square sum image.txt", pulseImageText(r.sizeSquares)},
        {"Coincidence image.txt", pulseImageText(r.coincidence)},
        {"Pulse height sum image.txt", pulseImageText(r.heightSum)},
        {"Pulse height square sum image.txt", pulseImageText(r.heightSquares)},
        {"Enhanced cluster count image.txt", pulseImageText(r.enhancedCount)},
        {"Enhanced cluster size sum image.txt", pulseImageText(r.enhancedSizeSum)},
        {"Enhanced coincidence image.txt", pulseImageText(r.enhancedCoincidence)},
        {"Enhanced pulse height sum image.txt", pulseImageText(r.enhancedHeightSum)},
    };
    for (const auto& [name, text] : files)
        if (const int rc = plat::replaceFile(dir + name, text.data(), text.size(), error))
            return rc;
    return 0;
}
