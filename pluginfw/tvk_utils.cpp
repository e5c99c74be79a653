// Shared utilities: precise time and waits, typed values as text, indexed and description file names,
// column counting and whole-array files. Numbers are written and read without the user's locale.
#include "tvk_utils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "platform/clock.h"
#include "platform/file_write.h"
#include "platform/syserror.h"

namespace {

constexpr int kTypeCount = 11; // codes 0..10
constexpr const char* kTypeNames[kTypeCount + 1] = {"bool", "char",  "uchar",  "byte",   "i16",
                                                     "u16",  "i32",   "u32",    "float",  "double",
                                                     "string", "uknown"};
constexpr int kTypeSizes[kTypeCount] = {4, 1, 1, 1, 2, 2, 4, 4, 4, 8, 4};

constexpr size_t kPathSize = 512;     // file-name buffers, terminating zero included
constexpr size_t kErrTextSize = 4096; // caller error-text buffers

bool isTextType(int type)
{
    return type == TYPE_CHAR || type == TYPE_UCHAR || type == TYPE_STRING;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// ASCII only, whatever the locale.
bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

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

void copyErrText(char* errText, const std::string& text)
{
    if (errText)
        std::snprintf(errText, kErrTextSize, "%s", text.c_str());
}

// ---- values to text ----

// Collects text either into a bounded caller buffer (refusing what does not fit) or into a string.
class TextSink {
public:
    TextSink(char* buf, size_t capacity) : buf_(buf), capacity_(capacity) {}
    explicit TextSink(std::string* out) : out_(out) {}

    bool append(const char* text, size_t n)
    {
        if (out_) {
            out_->append(text, n);
            return true;
        }
        if (n > capacity_ - length_)
            return false;
        std::memcpy(buf_ + length_, text, n);
        length_ += n;
        return true;
    }
    size_t length() const { return length_; }

private:
    char* buf_ = nullptr;
    size_t capacity_ = 0; // characters, the terminating zero not counted
    size_t length_ = 0;
    std::string* out_ = nullptr;
};

template <typename T>
bool appendNumber(TextSink& sink, T value)
{
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text - 1, value); // shortest exact form for floats
    if (ec != std::errc())
        return false;
    *end++ = ' ';
    return sink.append(text, static_cast<size_t>(end - text));
}

template <typename T>
bool appendNumbers(TextSink& sink, const void* data, int count)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < count; ++i) {
        T value;
        std::memcpy(&value, bytes + static_cast<size_t>(i) * sizeof(T), sizeof(T));
        if (!appendNumber(sink, value))
            return false;
    }
    return true;
}

// Writes count elements of type. False when the sink is full; the caller decides what stays.
bool writeValues(TextSink& sink, int type, const void* data, int count)
{
    switch (type) {
    case TYPE_BOOL: {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (int i = 0; i < count; ++i) {
            int32_t value;
            std::memcpy(&value, bytes + static_cast<size_t>(i) * sizeof value, sizeof value);
            const bool ok = value ? sink.append("TRUE ", 5) : sink.append("FALSE ", 6);
            if (!ok)
                return false;
        }
        return true;
    }
    case TYPE_CHAR:
    case TYPE_UCHAR:
    case TYPE_STRING: {
        // The characters up to the first zero, never beyond the value's bytes.
        const size_t size = static_cast<size_t>(count) * static_cast<size_t>(kTypeSizes[type]);
        if (size == 0)
            return true;
        const auto* text = static_cast<const char*>(data);
        const void* zero = std::memchr(text, 0, size);
        const size_t n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size;
        return sink.append(text, n);
    }
    case TYPE_BYTE: return appendNumbers<uint8_t>(sink, data, count);
    case TYPE_I16: return appendNumbers<int16_t>(sink, data, count);
    case TYPE_U16: return appendNumbers<uint16_t>(sink, data, count);
    case TYPE_I32: return appendNumbers<int32_t>(sink, data, count);
    case TYPE_U32: return appendNumbers<uint32_t>(sink, data, count);
    case TYPE_FLOAT: return appendNumbers<float>(sink, data, count);
    case TYPE_DOUBLE: return appendNumbers<double>(sink, data, count);
    default: return true;
    }
}

// ---- text to values ----

// Reads one number at the start of text (blanks skipped). The number must end at a blank or at the
// end of the text, so that "1.5" is not read as the integer 1 and "12ab" not as 12.
enum class Read { ok, none, range };

std::string_view skipBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

bool endsField(std::string_view rest)
{
    return rest.empty() || isBlank(rest.front());
}

// '+' is accepted as scanf accepted it; from_chars itself takes only '-'.
const char* skipPlus(const char* first, const char* last)
{
    if (last - first >= 2 && *first == '+' && first[1] != '-' && first[1] != '+')
        return first + 1;
    return first;
}

template <typename T>
Read takeNumber(std::string_view& text, T& value)
{
    text = skipBlanks(text);
    const char* last = text.data() + text.size();
    const char* first = skipPlus(text.data(), last);
    std::from_chars_result r;
    if constexpr (std::is_floating_point_v<T>)
        r = std::from_chars(first, last, value, std::chars_format::general);
    else
        r = std::from_chars(first, last, value, 10);
    if (r.ec == std::errc::invalid_argument)
        return Read::none;
    std::string_view rest(r.ptr, static_cast<size_t>(last - r.ptr));
    if (!endsField(rest))
        return Read::none;
    text = rest;
    return r.ec == std::errc::result_out_of_range ? Read::range : Read::ok;
}

// Integers are read in 64 bits and then checked against the element's range.
template <typename T>
Read takeInteger(std::string_view& text, T& value)
{
    int64_t wide = 0;
    const Read r = takeNumber(text, wide);
    if (r != Read::ok)
        return r;
    if (wide < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        wide > static_cast<int64_t>(std::numeric_limits<T>::max()))
        return Read::range;
    value = static_cast<T>(wide);
    return Read::ok;
}

int readCode(Read r)
{
    return r == Read::none ? -1 : TVK_ERR_PARAM;
}

// Reads count elements of T into out (null: check only).
template <typename T>
int readNumbers(std::string_view text, int count, unsigned char* out)
{
    for (int i = 0; i < count; ++i) {
        T value{};
        Read r;
        if constexpr (std::is_floating_point_v<T>)
            r = takeNumber(text, value);
        else
            r = takeInteger(text, value);
        if (r != Read::ok)
            return readCode(r);
        if (out)
            std::memcpy(out + static_cast<size_t>(i) * sizeof(T), &value, sizeof(T));
    }
    return 0;
}

bool equalsNoCase(std::string_view word, std::string_view expected)
{
    return word.size() == expected.size() &&
           std::equal(word.begin(), word.end(), expected.begin(), [](char a, char b) {
               return asciiLower(a) == b;
           });
}

// Bools: decimal numbers when the text starts with one, else the words true and false (any case).
int readBools(std::string_view text, int count, unsigned char* out)
{
    text = skipBlanks(text);
    const char* first = skipPlus(text.data(), text.data() + text.size());
    const bool numeric = first != text.data() + text.size() &&
                         (isDigit(*first) ||
                          (*first == '-' && first + 1 != text.data() + text.size() && isDigit(first[1])));
    if (numeric)
        return readNumbers<int32_t>(text, count, out);

    for (int i = 0; i < count; ++i) {
        text = skipBlanks(text);
        if (text.empty())
            return TVK_ERR_PARAM; // fewer words than values
        size_t n = 0;
        while (n < text.size() && !isBlank(text[n]))
            ++n;
        const std::string_view word = text.substr(0, n);
        int32_t value;
        if (equalsNoCase(word, "true"))
            value = 1;
        else if (equalsNoCase(word, "false"))
            value = 0;
        else
            return -1;
        if (out)
            std::memcpy(out + static_cast<size_t>(i) * sizeof value, &value, sizeof value);
        text.remove_prefix(n);
    }
    return 0;
}

int readValues(std::string_view text, int type, int count, unsigned char* out)
{
    switch (type) {
    case TYPE_BOOL: return readBools(text, count, out);
    case TYPE_BYTE: return readNumbers<uint8_t>(text, count, out);
    case TYPE_I16: return readNumbers<int16_t>(text, count, out);
    case TYPE_U16: return readNumbers<uint16_t>(text, count, out);
    case TYPE_I32: return readNumbers<int32_t>(text, count, out);
    case TYPE_U32: return readNumbers<uint32_t>(text, count, out);
    case TYPE_FLOAT: return readNumbers<float>(text, count, out);
    case TYPE_DOUBLE: return readNumbers<double>(text, count, out);
    default: return -1;
    }
}

// ---- file names ----

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

// ---- whole-array files ----

// Opens a file to read; a folder (which the C library opens) is refused like a file that cannot be
// opened. Null, with the message in errText, on failure.
FILE* openForReading(const char* path, const char* mode, char* errText)
{
    FILE* file = std::fopen(path, mode);
    int err = file ? 0 : errno;
    struct stat st {};
    if (file && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        file = nullptr;
        err = EISDIR;
    }
    if (!file)
        setErrText(errText, "Cannot open file \"%s\" for reading: %s.", path, plat::systemErrorText(err).c_str());
    return file;
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

// ---- time ----

double getPreciseTime()
{
    return plat::preciseNow();
}

bool preciseWait(double seconds, const std::atomic<bool>* abort)
{
    // Sleeps to the target on the monotonic clock; with an abort flag, in steps of 1 ms at most.
    return plat::sleepUntil(plat::monotonicSeconds() + seconds, abort, 0.001);
}

char* formatTimestamp(double seconds, char* out, unsigned fractionDigits)
{
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    constexpr size_t kOutSize = 64;
    if (!out)
        return out;
    out[0] = '\0';
    // Times outside years 0..9999 (and NaN) have no calendar text of this shape.
    if (!(seconds > -62167219200.0 && seconds < 253402300800.0))
        return out;
    fractionDigits = std::min(fractionDigits, 9u);

    const double whole = std::floor(seconds);
    const time_t t = static_cast<time_t>(whole);
    struct tm tm {};
    if (!localtime_r(&t, &tm))
        return out;

    char fraction[16] = "";
    if (fractionDigits > 0) {
        uint64_t scale = 1;
        for (unsigned i = 0; i < fractionDigits; ++i)
            scale *= 10;
        // Truncated, and never rounded up to a whole second.
        const auto digits = std::min(static_cast<uint64_t>((seconds - whole) * static_cast<double>(scale)),
                                     scale - 1);
        std::snprintf(fraction, sizeof fraction, ".%0*llu", static_cast<int>(fractionDigits),
                      static_cast<unsigned long long>(digits));
    }
    std::snprintf(out, kOutSize, "%s %s %2d %02d:%02d:%02d%s %d", kDays[tm.tm_wday % 7], kMonths[tm.tm_mon % 12],
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fraction, tm.tm_year + 1900);
    return out;
}

// ---- types ----

const char* typeName(int type)
{
    return type >= 0 && type < kTypeCount ? kTypeNames[type] : kTypeNames[kTypeCount];
}

int typeElementSize(int type)
{
    return type >= 0 && type < kTypeCount ? kTypeSizes[type] : 0;
}

int typeFromName(const char* name)
{
    if (!name)
        return TYPE_UNKNOWN;
    for (int type = 0; type < kTypeCount; ++type)
        if (std::strcmp(name, kTypeNames[type]) == 0)
            return type;
    return TYPE_UNKNOWN;
}

// ---- values as text ----

int valueToText(int type, char* buf, int bufSize, const void* data, int count)
{
    if (!buf)
        return TVK_ERR_PARAM;
    if (bufSize <= 0)
        return TVK_ERR_BUFFER_SMALL;
    buf[0] = '\0';
    if (type < 0 || type >= kTypeCount || count < 0 || (!data && count > 0))
        return TVK_ERR_PARAM;
    TextSink sink(buf, static_cast<size_t>(bufSize) - 1);
    if (!writeValues(sink, type, data, count)) {
        buf[0] = '\0'; // no partial value: a cut number would read back as another value
        return TVK_ERR_BUFFER_SMALL;
    }
    buf[sink.length()] = '\0';
    return 0;
}

std::string valueToString(int type, const void* data, int count)
{
    std::string text;
    if (type < 0 || type >= kTypeCount || count < 0 || (!data && count > 0))
        return text;
    TextSink sink(&text);
    writeValues(sink, type, data, count);
    return text;
}

int textToValue(void* data, const char* text, int type, int count)
{
    if (type < 0 || type >= kTypeCount)
        return -1;
    if (!text || count < 0 || (!data && count > 0))
        return TVK_ERR_PARAM;
    auto* out = static_cast<unsigned char*>(data);

    if (isTextType(type)) {
        // The value's bytes (count x element size, as valueToText reads them) take the text and its
        // terminating zero; the rest is zero-filled. A longer text is refused, never cut.
        const size_t size = static_cast<size_t>(count) * static_cast<size_t>(kTypeSizes[type]);
        const size_t length = std::strlen(text);
        if (length >= size)
            return size == 0 && length == 0 ? 0 : TVK_ERR_PARAM;
        std::memcpy(out, text, length);
        std::memset(out + length, 0, size - length);
        return 0;
    }

    // Check the whole text first, so that a failure leaves data unchanged.
    const std::string_view view(text);
    const int checked = readValues(view, type, count, nullptr);
    if (checked != 0)
        return checked;
    return readValues(view, type, count, out);
}

// ---- file names ----

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
    FILE* file = openForReading(path, "rb", errText);
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
        copyErrText(errText, message);
    return result == -6 ? TVK_ERR_OPEN_WRITE : result == 0 ? 0 : TVK_ERR_WRITE;
}

int readAsciiI16File(unsigned count, const char* path, short* data, char* errText)
{
    if (!path || (!data && count > 0)) {
        setErrText(errText, "Invalid parameter.");
        return TVK_ERR_PARAM;
    }
    FILE* file = openForReading(path, "r", errText);
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
        copyErrText(errText, message);
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
        copyErrText(errText, message);
        return TVK_ERR_WRITE;
    }
    return 0;
}
