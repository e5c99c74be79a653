// Indexed and description file names within the 512-character name buffers.
#include "file_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr size_t kPathSize = 512; // file-name buffers, terminating zero included

// Position of the extension's dot: the last '.' after the last '/', or npos.
size_t extensionDot(std::string_view path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos)
        return dot;
    const size_t slash = path.rfind('/');
    if (slash != std::string_view::npos && slash > dot)
        return std::string_view::npos;
    return dot;
}

} // namespace

const char* getFileExtension(const char* path)
{
    if (!path)
        return nullptr;
    const std::string_view name(path);
    const size_t dot = extensionDot(name);
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return nullptr;
    return path + dot + 1;
}

char* makeIndexedFileName(char* out, const char* path, int index, int digits)
{
    if (!out)
        return nullptr;
    out[0] = '\0';
    if (!path || digits < 0)
        return nullptr;
    const std::string_view name(path);
    const size_t dot = extensionDot(name);
    const std::string_view stem = name.substr(0, dot);
    const std::string_view extension = dot == std::string_view::npos ? std::string_view() : name.substr(dot);

    // No index text longer than a whole name can fit anyway.
    if (digits >= static_cast<int>(kPathSize))
        return nullptr;
    char number[kPathSize + 16];
    const int p = std::snprintf(number, sizeof number, "%0*d", digits, index);
    if (p < 0)
        return nullptr;

    if (stem.size() + static_cast<size_t>(p) + extension.size() >= kPathSize)
        return nullptr;
    char* end = out;
    end = std::copy(stem.begin(), stem.end(), end);
    end = std::copy(number, number + p, end);
    end = std::copy(extension.begin(), extension.end(), end);
    *end = '\0';
    return out;
}

int makeDscFileName(const char* dataFile, char* out)
{
    if (!out)
        return -1;
    out[0] = '\0';
    if (!dataFile)
        return -1;
    const std::string_view name(dataFile);
    const size_t dot = extensionDot(name);
    const std::string_view stem = dot == std::string_view::npos ? name : name.substr(0, dot);
    if (stem.size() + 4 >= kPathSize) // ".dsc" and the terminating zero
        return -1;
    char* end = std::copy(stem.begin(), stem.end(), out);
    std::memcpy(end, ".dsc", 5);
    return 0;
}

std::string safeFileNamePart(std::string_view text)
{
    static const char kAllowed[] = " -_.+()[]#,=@~";
    std::string out;
    for (char c : text) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || (c != '\0' && std::strchr(kAllowed, c)))
            out.push_back(c);
    }
    return out;
}
