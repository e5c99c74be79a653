// Reading the simulated detector's input images. Every size and position from a file is checked
// before it is used; numbers are read without the user's locale.
#include "image_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_read.h"
#include "platform/numbers.h"
#include "platform/syserror.h"

namespace hwdummy {

namespace {

constexpr int kErrDimension = -9; // a position outside the matrix

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

// The reason of a message of the platform reader ("Cannot read file "<path>": <reason>.").
std::string reasonOf(const std::string& path, const std::string& text)
{
    const std::string prefix = "Cannot read file \"" + path + "\": ";
    std::string reason = text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
    if (!reason.empty() && reason.back() == '.')
        reason.pop_back();
    return reason;
}

int openFailed(const std::string& path, const std::string& platformText, std::string* message)
{
    setMessage(message, "Cannot open file \"%s\" for reading: %s.", path.c_str(), reasonOf(path, platformText).c_str());
    return TVK_ERR_OPEN_READ;
}

int readFailed(const std::string& path, const std::string& reason, std::string* message)
{
    setMessage(message, "Error reading file \"%s\" (%s).", path.c_str(), reason.c_str());
    return TVK_ERR_READ;
}

bool isBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

// The separators of dense text files: any white space, line ends included.
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

uint32_t readLe32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

int16_t readLe16(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<int16_t>(uint16_t(b[0]) | uint16_t(b[1]) << 8);
}

int parseBinaryDense(std::string_view data, uint64_t pixels, int16_t* out, const std::string& path,
                     std::string* message)
{
    const uint64_t bytes = pixels * sizeof(int16_t);
    if (data.size() < bytes) {
        setMessage(message, "Reading %llu bytes from file %s failed", static_cast<unsigned long long>(bytes),
                   path.c_str());
        return TVK_ERR_READ;
    }
    for (uint64_t i = 0; i < pixels; ++i)
        out[i] = readLe16(data.data() + 2 * i);
    return 0;
}

// pixels values separated by white space; each an optional sign and decimal digits that end at white
// space or the end of the data, within the range of i16. What follows the last value is not read.
int parseAsciiDense(std::string_view data, uint64_t pixels, int16_t* out, const std::string& path,
                    std::string* message)
{
    constexpr size_t kMaxField = 23; // more characters than any i16 needs, leading zeros allowed
    const char* p = data.data();
    const char* const end = p + data.size();
    uint64_t read = 0;
    bool outOfRange = false;
    for (; read < pixels; ++read) {
        while (p < end && isSpace(*p))
            ++p;
        const char* const start = p;
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-'))
            negative = *p++ == '-';
        const char* const digits = p;
        int64_t value = 0;
        while (p < end && isDigit(*p) && static_cast<size_t>(p - start) < kMaxField) {
            if (value <= INT16_MAX) // beyond it the value is out of range whatever follows
                value = value * 10 + (*p - '0');
            ++p;
        }
        if (p < end && isDigit(*p)) {
            outOfRange = true;
            break;
        }
        if (p == digits || (p < end && !isSpace(*p)))
            break;
        if (negative)
            value = -value;
        if (value < INT16_MIN || value > INT16_MAX) {
            outOfRange = true;
            break;
        }
        out[read] = static_cast<int16_t>(value);
    }
    if (read == pixels)
        return 0;
    if (outOfRange)
        setMessage(message, "Reading %llu items from file %s failed: item %llu is out of range",
                   static_cast<unsigned long long>(pixels), path.c_str(), static_cast<unsigned long long>(read + 1));
    else
        setMessage(message, "Reading %llu items from file %s failed", static_cast<unsigned long long>(pixels),
                   path.c_str());
    return TVK_ERR_READ;
}

// Binary sparse records: {u32 x, u32 y, i16 value} or {u32 index, i16 value}, little-endian, unpadded.
int parseBinarySparse(std::string_view data, bool xy, uint32_t width, uint32_t height, int16_t* out,
                      const std::string& path, std::string* message)
{
    const size_t recordSize = xy ? 10 : 6;
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    size_t at = 0;
    for (; data.size() - at >= recordSize; at += recordSize) {
        const char* record = data.data() + at;
        const uint32_t a = readLe32(record);
        if (xy) {
            const uint32_t y = readLe32(record + 4);
            if (a >= width || y >= height) {
                setMessage(message, "Expected dimension of frame was exceeded (file \"%s\", x: %u, y: %u).",
                           path.c_str(), a, y);
                return kErrDimension;
            }
            out[static_cast<size_t>(y) * width + a] = readLe16(record + 8);
        } else {
            if (a >= pixels) {
                setMessage(message, "Expected dimension of frame was exceeded (file \"%s\", x: %u).", path.c_str(), a);
                return kErrDimension;
            }
            out[a] = readLe16(record + 4);
        }
    }
    if (at != data.size())
        return readFailed(path, "incomplete record at the end of the file", message);
    return 0;
}

// Text sparse records, one per line: "x y value" or "index value" (blanks or tabs between them). Lines
// end at LF (a CR before it is dropped); blank lines are skipped.
int parseAsciiSparse(std::string_view data, bool xy, uint32_t width, uint32_t height, int16_t* out,
                     const std::string& path, std::string* message)
{
    constexpr size_t kMaxRecordLine = 256; // far more than any record needs
    unsigned lineNumber = 0;
    while (!data.empty()) {
        const size_t lf = data.find('\n');
        std::string_view line = data.substr(0, lf);
        data.remove_prefix(lf == std::string_view::npos ? data.size() : lf + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const bool tooLong = line.size() > kMaxRecordLine;
        std::string_view rest = line;
        while (!rest.empty() && isBlankOrTab(rest.front()))
            rest.remove_prefix(1);
        if (rest.empty())
            continue; // blank lines separate nothing
        std::optional<int64_t> a, b(0), value;
        if (!tooLong) {
            a = plat::takeInt64(rest);
            if (xy)
                b = plat::takeInt64(rest);
            value = plat::takeInt64(rest);
            while (!rest.empty() && isBlankOrTab(rest.front()))
                rest.remove_prefix(1);
        }
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
    return 0;
}


int tooLarge(const std::string& path, std::string* message)
{
    return readFailed(path, "it is larger than " + std::to_string(plat::kMaxInputFileBytes >> 20) + " MB", message);
}

// Reads all of the regular file path into content, refused above plat::kMaxInputFileBytes (found from its
// size before reading and checked again while reading). 0, -5 (cannot open, not a regular file) or -7
// (read error, too large).
int readWhole(const std::string& path, std::string& content, std::string* message)
{
    std::string text;
    const int fd = plat::openRegularFile(path, nullptr, &text);
    if (fd < 0)
        return openFailed(path, text, message);
    switch (plat::readOpenedFile(fd, path, content, &text)) {
    case plat::ReadOutcome::Ok:
        return 0;
    case plat::ReadOutcome::TooLarge:
        return tooLarge(path, message);
    default:
        return readFailed(path, reasonOf(path, text), message);
    }
}

// Reads the first `limit` bytes of the regular file path into content; fileSize gets its size. 0, -5
// (cannot open, not a regular file) or -7 (read error).
int readHead(const std::string& path, size_t limit, std::string& content, uint64_t* fileSize, std::string* message)
{
    std::string text;
    const int fd = plat::openRegularFile(path, nullptr, &text);
    if (fd < 0)
        return openFailed(path, text, message);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const std::string reason = plat::lastSystemErrorText();
        ::close(fd);
        return readFailed(path, reason, message);
    }
    *fileSize = static_cast<uint64_t>(st.st_size);
    content.resize(limit);
    size_t have = 0;
    while (have < limit) {
        const ssize_t n = ::read(fd, content.data() + have, limit - have);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const std::string reason = plat::lastSystemErrorText();
            ::close(fd);
            content.clear();
            return readFailed(path, reason, message);
        }
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    content.resize(have);
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

uint32_t detectImageFormatOf(std::string_view head, uint64_t fileSize, uint32_t width, uint32_t height)
{
    head = head.substr(0, std::min(head.size(), kFirstLineMax));
    const size_t lineEnd = head.find_first_of("\r\n");
    const int numbers = countLeadingNumbers(head.substr(0, lineEnd));
    if (numbers == 2)
        return kAsciiSparseIndex;
    if (numbers == 3)
        return kAsciiSparseXY;
    if (static_cast<uint32_t>(numbers) >= width)
        return kAsciiDense;
    const uint64_t denseSize = static_cast<uint64_t>(width) * height * sizeof(int16_t);
    return fileSize == denseSize ? kBinaryDense : kBinarySparseIndex;
}

int detectImageFormat(const std::string& path, uint32_t width, uint32_t height, uint32_t* flags,
                      std::string* message)
{
    std::string head;
    uint64_t fileSize = 0;
    const int r = readHead(path, kFirstLineMax, head, &fileSize, message);
    if (r != 0)
        return r;
    *flags = detectImageFormatOf(head, fileSize, width, height);
    return 0;
}

int parseImageData(std::string_view data, uint32_t flags, uint32_t width, uint32_t height, int16_t* out,
                   const std::string& path, std::string* message)
{
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    if (flags == kBinaryDense)
        return parseBinaryDense(data, pixels, out, path, message);
    if (flags == kAsciiDense)
        return parseAsciiDense(data, pixels, out, path, message);
    const bool xy = (flags & FSAVE_SPARSEXY) != 0;
    const bool sparse = (flags & (FSAVE_SPARSEXY | FSAVE_SPARSEX)) != 0;
    if (sparse && (flags & FSAVE_BINARY)) {
        std::memset(out, 0, pixels * sizeof(int16_t));
        return parseBinarySparse(data, xy, width, height, out, path, message);
    }
    if (sparse && (flags & FSAVE_ASCII)) {
        std::memset(out, 0, pixels * sizeof(int16_t));
        return parseAsciiSparse(data, xy, width, height, out, path, message);
    }
    setMessage(message, "Unknown format (%u) of file \"%s\".", flags, path.c_str());
    return -1;
}

int readImageFile(const std::string& path, uint32_t flags, uint32_t width, uint32_t height, int16_t* out,
                  std::string* message)
{
    std::string content;
    const int r = readWhole(path, content, message);
    if (r != 0)
        return r;
    return parseImageData(content, flags, width, height, out, path, message);
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
