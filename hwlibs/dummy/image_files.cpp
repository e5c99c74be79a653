// Reading the simulated detector's input images. Every size and position from a file is checked
// before it is used; numbers are read without the user's locale.
#include "image_files.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "platform/numbers.h"
#include "platform/syserror.h"
#include "pluginfw/tvk_utils.h"

namespace hwdummy {

namespace {

constexpr int kErrDimension = -9; // a position outside the matrix

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

[[gnu::format(printf, 2, 3)]] void setMessage(std::string* message, const char* format, ...)
{
    if (!message)
        return;
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *message = text;
}

int openFailed(const std::string& path, int err, std::string* message)
{
    setMessage(message, "Cannot open file \"%s\" for reading: %s.", path.c_str(), plat::systemErrorText(err).c_str());
    return TVK_ERR_OPEN_READ;
}

int readFailed(const std::string& path, const std::string& reason, std::string* message)
{
    setMessage(message, "Error reading file \"%s\" (%s).", path.c_str(), reason.c_str());
    return TVK_ERR_READ;
}

FilePtr openForReading(const std::string& path, std::string* message, int* code)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        *code = openFailed(path, errno, message);
    return file;
}

bool isBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Binary sparse records: {u32 x, u32 y, i16 value} or {u32 index, i16 value}, little-endian, unpadded.
int readBinarySparse(FILE* file, const std::string& path, bool xy, uint32_t width, uint32_t height, int16_t* out,
                     std::string* message)
{
    const size_t recordSize = xy ? 10 : 6;
    unsigned char record[10];
    for (;;) {
        const size_t got = std::fread(record, 1, recordSize, file);
        if (got < recordSize) {
            if (std::ferror(file))
                return readFailed(path, plat::lastSystemErrorText(), message);
            if (got == 0)
                return 0;
            return readFailed(path, "incomplete record at the end of the file", message);
        }
        uint32_t a;
        std::memcpy(&a, record, 4);
        if (xy) {
            uint32_t y;
            std::memcpy(&y, record + 4, 4);
            if (a >= width || y >= height) {
                setMessage(message, "Expected dimension of frame was exceeded (file \"%s\", x: %u, y: %u).",
                           path.c_str(), a, y);
                return kErrDimension;
            }
            std::memcpy(&out[static_cast<size_t>(y) * width + a], record + 8, 2);
        } else {
            if (static_cast<uint64_t>(a) >= static_cast<uint64_t>(width) * height) {
                setMessage(message, "Expected dimension of frame was exceeded (file \"%s\", x: %u).", path.c_str(), a);
                return kErrDimension;
            }
            std::memcpy(&out[a], record + 4, 2);
        }
    }
}

// Reads one text line into line (without its line end). False at the end of the file. A line longer
// than the buffer is returned cut, with tooLong set; the rest of it is skipped.
bool readLine(FILE* file, std::string& line, bool& tooLong, size_t maxLength)
{
    line.clear();
    tooLong = false;
    int c;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() < maxLength)
            line.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
}

// Text sparse records, one per line: "x y value" or "index value" (blanks or tabs between them).
int readAsciiSparse(FILE* file, const std::string& path, bool xy, uint32_t width, uint32_t height, int16_t* out,
                    std::string* message)
{
    constexpr size_t kMaxRecordLine = 256; // far more than any record needs
    std::string line;
    bool tooLong = false;
    unsigned lineNumber = 0;
    while (readLine(file, line, tooLong, kMaxRecordLine)) {
        ++lineNumber;
        std::string_view rest(line);
        while (!rest.empty() && isBlankOrTab(rest.front()))
            rest.remove_prefix(1);
        if (rest.empty() && !tooLong)
            continue; // blank lines separate nothing
        const auto a = plat::takeInt64(rest);
        const auto b = xy ? plat::takeInt64(rest) : std::optional<int64_t>(0);
        const auto value = plat::takeInt64(rest);
        while (!rest.empty() && isBlankOrTab(rest.front()))
            rest.remove_prefix(1);
        const bool matches = !tooLong && a && b && value && rest.empty() && *a >= 0 && *a <= UINT32_MAX &&
                             *b >= 0 && *b <= UINT32_MAX && *value >= INT16_MIN && *value <= INT16_MAX;
        if (!matches) {
            setMessage(message, "Line %u of file \"%s\" is no valid record.", lineNumber, path.c_str());
            return -1;
        }
        if (xy) {
            if (*a >= width || *b >= height) {
                setMessage(message, "Expected dimension of frame was exceeded (file \"%s\", x: %u, y: %u).",
                           path.c_str(), static_cast<unsigned>(*a), static_cast<unsigned>(*b));
                return kErrDimension;
            }
            out[static_cast<size_t>(*b) * width + static_cast<size_t>(*a)] = static_cast<int16_t>(*value);
        } else {
            if (static_cast<uint64_t>(*a) >= static_cast<uint64_t>(width) * height) {
                setMessage(message, "Expected dimension of frame was exceeded (file \"%s\", x: %u).", path.c_str(),
                           static_cast<unsigned>(*a));
                return kErrDimension;
            }
            out[*a] = static_cast<int16_t>(*value);
        }
    }
    if (std::ferror(file))
        return readFailed(path, plat::lastSystemErrorText(), message);
    return 0;
}

} // namespace

int countLeadingNumbers(std::string_view line)
{
    int count = 0;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && isBlankOrTab(line[i]))
            ++i;
        size_t j = i;
        if (j < line.size() && (line[j] == '+' || line[j] == '-'))
            ++j;
        if (j >= line.size() || !isDigit(line[j]))
            break;
        while (j < line.size() && isDigit(line[j]))
            ++j;
        ++count;
        i = j;
        if (i < line.size() && !isBlankOrTab(line[i]))
            break; // the number ends in something else: nothing further is counted
    }
    return count;
}

int detectImageFormat(const std::string& path, uint32_t width, uint32_t height, uint32_t* flags,
                      std::string* message)
{
    int code = 0;
    FilePtr file = openForReading(path, message, &code);
    if (!file)
        return code;
    std::string line;
    line.reserve(256);
    int c;
    while (line.size() < kFirstLineMax && (c = std::fgetc(file.get())) != EOF && c != '\n' && c != '\r')
        line.push_back(static_cast<char>(c));
    if (std::ferror(file.get()))
        return readFailed(path, plat::lastSystemErrorText(), message);

    const int numbers = countLeadingNumbers(line);
    if (numbers == 2) {
        *flags = kAsciiSparseIndex;
        return 0;
    }
    if (numbers == 3) {
        *flags = kAsciiSparseXY;
        return 0;
    }
    if (static_cast<uint32_t>(numbers) >= width) {
        *flags = kAsciiDense;
        return 0;
    }
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0)
        return readFailed(path, plat::lastSystemErrorText(), message);
    const uint64_t denseSize = static_cast<uint64_t>(width) * height * sizeof(int16_t);
    *flags = static_cast<uint64_t>(st.st_size) == denseSize ? kBinaryDense : kBinarySparseIndex;
    return 0;
}

int readImageFile(const std::string& path, uint32_t flags, uint32_t width, uint32_t height, int16_t* out,
                  std::string* message)
{
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    char errText[4096] = "";
    if (flags == kBinaryDense) {
        const int r = readBinaryFile(path.c_str(), errText, out, static_cast<unsigned>(pixels * sizeof(int16_t)));
        if (r != 0 && message)
            *message = errText;
        return r;
    }
    if (flags == kAsciiDense) {
        const int r = readAsciiI16File(static_cast<unsigned>(pixels), path.c_str(), out, errText);
        if (r != 0 && message)
            *message = errText;
        return r;
    }
    const bool xy = (flags & FSAVE_SPARSEXY) != 0;
    if (flags & FSAVE_BINARY) {
        int code = 0;
        FilePtr file = openForReading(path, message, &code);
        if (!file)
            return code;
        std::memset(out, 0, pixels * sizeof(int16_t));
        return readBinarySparse(file.get(), path, xy, width, height, out, message);
    }
    if (flags & FSAVE_ASCII) {
        int code = 0;
        FilePtr file = openForReading(path, message, &code);
        if (!file)
            return code;
        std::memset(out, 0, pixels * sizeof(int16_t));
        return readAsciiSparse(file.get(), path, xy, width, height, out, message);
    }
    setMessage(message, "Unknown format (%u) of file \"%s\".", flags, path.c_str());
    return -1;
}

std::optional<FileIndex> findFileIndex(std::string_view name)
{
    size_t end = name.size();
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash))
        end = dot;
    size_t begin = end;
    const size_t stemStart = slash == std::string_view::npos ? 0 : slash + 1;
    while (begin > stemStart && isDigit(name[begin - 1]))
        --begin;
    const size_t digits = end - begin;
    if (digits == 0 || digits > kMaxIndexDigits)
        return std::nullopt;
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i)
        value = value * 10 + static_cast<uint64_t>(name[i] - '0');
    return FileIndex{begin, digits, value};
}

std::string indexedFileName(std::string_view baseName, size_t position, size_t digits, uint64_t index)
{
    std::string number = std::to_string(index);
    if (number.size() < digits)
        number.insert(0, digits - number.size(), '0');
    std::string name(baseName.substr(0, position));
    name += number;
    name += baseName.substr(position);
    return name;
}

} // namespace hwdummy
