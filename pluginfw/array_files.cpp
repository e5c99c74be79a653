// Whole-array files: readers that leave the caller's data unchanged on a bad file, writers that replace
// the file through a temporary file; and the column count of a text line. Numbers without the locale.
#include "array_files.h"

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "number_scan.h"
#include "platform/file_read.h"
#include "platform/file_write.h"
#include "platform/syserror.h"
#include "platform/text_copy.h"
#include "tvk_types.h"

namespace {

using textscan::isBlank;
using textscan::isDigit;
using textscan::Read;
using textscan::takeInteger;

constexpr size_t kErrTextSize = 4096; // caller error-text buffers

// Writes the formatted message into errText (4096 characters, cut to fit) when it is not null.
[[gnu::format(printf, 2, 3)]] void setErrText(char* errText, const char* format, ...)
{
    if (!errText)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(errText, kErrTextSize, format, args);
    va_end(args);
}

// Opens a file to read. Only a regular file (or a link to one) is opened: a FIFO would block in the
// open and a device would never end; a folder is refused with the system's own reason. Null, with the
// message in errText, on failure.
FILE* openForReading(const char* path, char* errText)
{
    plat::ReadOutcome outcome = plat::ReadOutcome::Failed;
    std::string message;
    FILE* file = plat::fopenRegularFile(path, &outcome, &message);
    if (file)
        return file;
    struct stat st {};
    const std::string reason = outcome == plat::ReadOutcome::NotRegular && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode)
                                   ? plat::systemErrorText(EISDIR)
                                   : plat::readFailureReason(path, message);
    setErrText(errText, "Cannot open file \"%s\" for reading: %s.", path, reason.c_str());
    return nullptr;
}

constexpr size_t kWriteChunk = 64 * 1024;

// Reads one "%hd" value: blanks skipped, optional sign, digits ending at a blank or the file's end.
enum class I16Read { ok, none, range };

I16Read readI16(FILE* file, short& value)
{
    int c;
    do
        c = std::fgetc(file);
    while (c != EOF && isBlank(static_cast<char>(c)));
    char text[24];
    size_t n = 0;
    if (c == '+' || c == '-') {
        text[n++] = static_cast<char>(c);
        c = std::fgetc(file);
    }
    while (isDigit(c)) {
        if (n == sizeof text - 1)
            return I16Read::range; // more digits than any short has
        text[n++] = static_cast<char>(c);
        c = std::fgetc(file);
    }
    if (c != EOF && !isBlank(static_cast<char>(c)))
        return I16Read::none;
    std::string_view field(text, n);
    int16_t parsed = 0;
    switch (takeInteger(field, parsed)) {
    case Read::ok: value = parsed; return I16Read::ok;
    case Read::range: return I16Read::range;
    default: return I16Read::none;
    }
}

} // namespace

// Counts the number fields of the line at the file's position and puts the position back. A field
// starts at a digit or one of "+-.Ee" after a blank, a tab or the line's start and runs over these
// characters. The line ends at LF, CR LF or the end of the file. Returns 0, or -1 for another character
// on the line (*count then holds the fields before it) or when the position cannot be read or restored.
int countLineColumns(FILE* file, int* count)
{
    if (!file || !count)
        return -1;
    *count = 0;
    const long start = std::ftell(file);
    if (start < 0)
        return -1;

    auto isFieldChar = [](int c) {
        return isDigit(c) || c == '+' || c == '-' || c == '.' || c == 'E' || c == 'e';
    };
    int result = 0;
    bool inField = false;
    for (;;) {
        int c = std::fgetc(file);
        if (c == EOF || c == '\n')
            break;
        if (c == '\r') {
            const int next = std::fgetc(file);
            if (next == EOF || next == '\n')
                break;
            result = -1; // a CR inside the line
            break;
        }
        if (c == ' ' || c == '\t') {
            inField = false;
        } else if (isFieldChar(c)) {
            if (!inField)
                ++*count;
            inField = true;
        } else {
            result = -1;
            break;
        }
    }
    const bool readError = std::ferror(file) != 0;
    std::clearerr(file);
    if (std::fseek(file, start, SEEK_SET) != 0 || readError)
        return -1;
    return result;
}

// ---- whole-array files ----

int readBinaryFile(const char* path, char* errText, void* data, unsigned size)
{
    if (!path || (!data && size > 0)) {
        setErrText(errText, "Invalid parameter.");
        return TVK_ERR_PARAM;
    }
    FILE* file = openForReading(path, errText);
    if (!file)
        return TVK_ERR_OPEN_READ;
    // A regular file that is too short is refused before data is touched.
    struct stat st {};
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) < size) {
        std::fclose(file);
        setErrText(errText, "Reading %u bytes from file %s failed", size, path);
        return TVK_ERR_READ;
    }
    const size_t got = size ? std::fread(data, 1, size, file) : 0;
    int result = 0;
    if (got < size) {
        if (std::ferror(file))
            setErrText(errText, "Error occurred while reading from file %s: %s", path,
                       plat::lastSystemErrorText().c_str());
        else
            setErrText(errText, "Reading %u bytes from file %s failed", size, path);
        result = TVK_ERR_READ;
    }
    std::fclose(file);
    return result;
}

int writeBinaryFile(const char* path, char* errText, const void* data, unsigned size)
{
    if (!path || !*path || (!data && size > 0)) {
        setErrText(errText, "Invalid parameter.");
        return TVK_ERR_PARAM;
    }
    std::string message;
    const int result = plat::replaceFile(path, data, size, &message);
    if (result != 0)
        plat::copyText(errText, kErrTextSize, message);
    return result == -6 ? TVK_ERR_OPEN_WRITE : result == 0 ? 0 : TVK_ERR_WRITE;
}

int readAsciiI16File(unsigned count, const char* path, short* data, char* errText)
{
    if (!path || (!data && count > 0)) {
        setErrText(errText, "Invalid parameter.");
        return TVK_ERR_PARAM;
    }
    FILE* file = openForReading(path, errText);
    if (!file)
        return TVK_ERR_OPEN_READ;
    // Values go to a scratch array first, so that a bad file leaves data unchanged.
    std::vector<short> values;
    try {
        values.resize(count);
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        setErrText(errText, "Memory allocation of %zu bytes failed.", static_cast<size_t>(count) * sizeof(short));
        return TVK_ERR_ALLOC;
    }
    unsigned read = 0;
    I16Read status = I16Read::ok;
    while (read < count && (status = readI16(file, values[read])) == I16Read::ok)
        ++read;
    int result = 0;
    if (read < count) {
        if (std::ferror(file))
            setErrText(errText, "Error occurred while reading from file %s: %s", path,
                       plat::lastSystemErrorText().c_str());
        else if (status == I16Read::range)
            setErrText(errText, "Reading %u items from file %s failed: item %u is out of range", count, path,
                       read + 1);
        else
            setErrText(errText, "Reading %u items from file %s failed", count, path);
        result = TVK_ERR_READ;
    } else if (count > 0) {
        std::memcpy(data, values.data(), values.size() * sizeof(short));
    }
    std::fclose(file);
    return result;
}

int writeAsciiI16File(const char* path, const short* data, unsigned count, unsigned perLine, char* errText)
{
    if (!path || !*path || (!data && count > 0)) {
        setErrText(errText, "Invalid parameter.");
        return TVK_ERR_PARAM;
    }
    plat::AtomicFileWriter writer(path);
    std::string message;
    if (writer.open(&message) != 0) {
        plat::copyText(errText, kErrTextSize, message);
        return TVK_ERR_OPEN_WRITE;
    }
    std::string chunk;
    chunk.reserve(kWriteChunk + 16);
    bool ok = true;
    for (unsigned i = 0; i < count && ok; ++i) {
        char text[16];
        char* end = std::to_chars(text, text + sizeof text, data[i]).ptr;
        // A line break after every perLine-th value; perLine 0 puts all values on one line.
        *end++ = perLine > 0 && (i + 1) % perLine == 0 ? '\n' : ' ';
        chunk.append(text, end);
        if (chunk.size() >= kWriteChunk) {
            ok = writer.write(chunk);
            chunk.clear();
        }
    }
    if (ok && !chunk.empty())
        writer.write(chunk);
    if (writer.commit(&message) != 0) {
        plat::copyText(errText, kErrTextSize, message);
        return TVK_ERR_WRITE;
    }
    return 0;
}
