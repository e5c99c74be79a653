// The image formats by extension.
#include "image_encoders.h"

#include <array>
#include <cctype>
#include <cstring>
#include <string>

#include "pluginfw/tvk_utils.h"

namespace {

constexpr std::array<ImageEncoder, 5> kEncoders{{
    {"BMP", "*.BMP;*.DIB;*.RLE", "bmp"},
    {"JPEG", "*.JPG;*.JPEG;*.JPE;*.JFIF", "jpeg"},
    {"GIF", "*.GIF", "gif"},
    {"TIFF", "*.TIF;*.TIFF", "tiff"},
    {"PNG", "*.PNG", "png"},
}};

} // namespace

int imageEncoderCount()
{
    return static_cast<int>(kEncoders.size());
}

const ImageEncoder* imageEncoderAt(int index)
{
    if (index < 0 || index >= imageEncoderCount())
        return nullptr;
    return &kEncoders[static_cast<size_t>(index)];
}

int findImageEncoder(const char* extension)
{
    if (!extension || !*extension || std::strpbrk(extension, "*;."))
        return -1;
    std::string upper(extension);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (int i = 0; i < imageEncoderCount(); ++i)
        if (std::strstr(kEncoders[static_cast<size_t>(i)].patterns, upper.c_str()))
            return i;
    return -1;
}

int hasImageEncoder(const char* path)
{
    return findImageEncoder(getFileExtension(path)) >= 0 ? 0 : -1;
}
