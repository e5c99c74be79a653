// Frame files (dense and sparse, binary and text) and their description files.
//
// Saving writes both files to temporaries and renames them over the old ones, the description first; when
// the data file then fails, the old description is put back (or the new one removed), so a failed save
// leaves the earlier files as they were. Append mode writes into the data file itself and cuts it back to
// its old length on failure. Loading reads into a new buffer that replaces the frame's one only on success.
// Every size that comes from a file is checked in 64 bits before anything is allocated.
#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "frame_convert.h"
#include "frame_internal.h"
#include "platform/file_write.h"
#include "platform/syserror.h"
#include "pluginfw/tvk_utils.h"

static_assert(std::endian::native == std::endian::little, "frame files are little-endian");

using frameconv::elementSize;

namespace framefile {

std::string extensionOf(const std::string& path)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace framefile

namespace {

using framefile::baseNameOf;
using framefile::extensionOf;
using framefile::folderOf;

constexpr uint32_t kTypeBits = FSAVE_I16 | FSAVE_U32 | FSAVE_DOUBLE;
constexpr uint32_t kMaxBytes = 0xFFFFFFFFu;

uint32_t typeBit(int type)
{
    switch (type) {
    case TYPE_I16: return FSAVE_I16;
    case TYPE_U32: return FSAVE_U32;
    case TYPE_DOUBLE: return FSAVE_DOUBLE;
    default: return 0;
    }
}

// Element type named by the type bits, examined in the order i16, u32, double; -1 when none is set.
int typeFromBits(uint32_t flags)
{
    if (flags & FSAVE_I16)
        return TYPE_I16;
    if (flags & FSAVE_U32)
        return TYPE_U32;
    if (flags & FSAVE_DOUBLE)
        return TYPE_DOUBLE;
    return -1;
}

bool isTextType(int type) { return type == TYPE_CHAR || type == TYPE_UCHAR || type == TYPE_STRING; }

bool equalsNoCase(const std::string& a, const char* b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Display path of a frame loaded from file: unchanged (nullopt) without a folder, the folder itself with
// one '/', else "..." and the last folder level (".../run1" for "/data/run1/f.txt").
std::optional<std::string> displayPathOf(const std::string& file)
{
    const size_t last = file.rfind('/');
    if (last == std::string::npos)
        return std::nullopt;
    if (last == 0 || file.rfind('/', last - 1) == std::string::npos)
        return file.substr(0, last);
    const size_t previous = file.rfind('/', last - 1);
    return "..." + file.substr(previous, last - previous);
}

constexpr std::array<bool, 256> kSpace = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'})
        t[c] = true;
    return t;
}();

bool isSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<void, FreeDeleter>;

// A failure on the way: the code and its message (without the "Frame %u: " prefix).
struct Outcome {
    int code = 0;
    std::string text;
    explicit operator bool() const { return code != 0; }
};

Outcome outcome(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));
Outcome outcome(int code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return Outcome{code, std::move(text)};
}

Outcome openReadError(const std::string& path, int err)
{
    return outcome(TVK_ERR_OPEN_READ, "Cannot open file \"%s\" for reading: %s.", path.c_str(),
                   plat::systemErrorText(err).c_str());
}

Outcome readError(const std::string& path, int err)
{
    return outcome(TVK_ERR_READ, "Error occurred while reading file \"%s\": %s.", path.c_str(),
                   plat::systemErrorText(err ? err : EIO).c_str());
}

Outcome dataFormatError(const std::string& path, const char* reason)
{
    return outcome(FRAME_ERR_DATA_FORMAT, "Format of data file \"%s\" is invalid: %s.", path.c_str(), reason);
}

Outcome dscFormatError(const std::string& path, const char* reason)
{
    return outcome(FRAME_ERR_DSC_FORMAT, "Format of description file \"%s\" is invalid: %s.", path.c_str(), reason);
}

Outcome allocError(uint64_t bytes)
{
    return outcome(TVK_ERR_ALLOC, "Memory allocation of %llu bytes failed.", static_cast<unsigned long long>(bytes));
}

const char* const kInvalidItems = "invalid number of items";
const char* const kExceeded = "dimensions of frame were exceeded";
const char* const kNotMatrix = "it is not ASCII matrix";

Outcome openForReading(const std::string& path, FilePtr* file)
{
    file->reset(std::fopen(path.c_str(), "rb"));
    if (!*file)
        return openReadError(path, errno);
    return {};
}

uint64_t fileSizeOf(FILE* f)
{
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return uint64_t(st.st_size);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Number parsers over [b, e): *stop gets the end of the number; false when none starts at b or it is out
// of range.

// Unsigned decimal; a leading '-' wraps as the unsigned reading of the text files always did, within the
// i32 range.
bool parseU32At(const char* b, const char* e, const char** stop, uint32_t* out)
{
    *stop = b;
    bool negative = false;
    if (b < e && (*b == '+' || *b == '-'))
        negative = *b++ == '-';
    if (b == e || !isDigit(*b))
        return false;
    uint64_t v = 0;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc())
        return false;
    if (negative ? v > 2147483648u : v > 0xFFFFFFFFu)
        return false;
    *out = negative ? uint32_t(0u - uint32_t(v)) : uint32_t(v);
    *stop = p;
    return true;
}

bool parseI16At(const char* b, const char* e, const char** stop, int16_t* out)
{
    *stop = b;
    bool negative = false;
    if (b < e && (*b == '+' || *b == '-'))
        negative = *b++ == '-';
    if (b == e || !isDigit(*b))
        return false;
    uint32_t v = 0;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc())
        return false;
    const int64_t value = negative ? -int64_t(v) : int64_t(v);
    if (value < -32768 || value > 32767)
        return false;
    *out = int16_t(value);
    *stop = p;
    return true;
}

bool parseDoubleAt(const char* b, const char* e, const char** stop, double* out)
{
    *stop = b;
    if (b < e && *b == '+' && !(b + 1 < e && b[1] == '-'))
        ++b;
    auto [p, ec] = std::from_chars(b, e, *out, std::chars_format::general);
    if (ec != std::errc())
        return false;
    *stop = p;
    return true;
}

// One element of a frame type into dst[index].
bool parseElementAt(const char* b, const char* e, const char** stop, int type, void* dst, size_t index)
{
    switch (type) {
    case TYPE_I16: return parseI16At(b, e, stop, static_cast<int16_t*>(dst) + index);
    case TYPE_U32: return parseU32At(b, e, stop, static_cast<uint32_t*>(dst) + index);
    default: return parseDoubleAt(b, e, stop, static_cast<double*>(dst) + index);
    }
}

// A whole token.
bool parseU32(std::string_view t, uint32_t* out)
{
    const char* stop;
    return parseU32At(t.data(), t.data() + t.size(), &stop, out) && stop == t.data() + t.size();
}

// ---- number tokens ----

// Whitespace-separated tokens of a file, read in blocks. A token too long to be a number is returned as
// an unparsable one.
class TokenReader {
public:
    explicit TokenReader(FILE* f) : f_(f), buf_(new char[kBufSize]) {}

    // false at the end of the file or on a read error (failed()).
    bool next(std::string_view* token)
    {
        for (;;) {
            while (pos_ < end_ && isSpace(buf_[pos_]))
                ++pos_;
            if (pos_ < end_)
                break;
            pos_ = end_ = 0;
            if (!fill())
                return false;
        }
        size_t i = pos_;
        for (;;) {
            while (i < end_ && !isSpace(buf_[i]))
                ++i;
            if (i < end_ || eof_)
                break;
            const size_t length = i - pos_;
            if (length >= kMaxToken) {
                skipRestOfToken();
                *token = "!";
                return true;
            }
            if (!fill()) { // compacts: the token now starts at 0
                i = pos_ + length;
                break;
            }
            i = pos_ + length;
        }
        *token = std::string_view(buf_.get() + pos_, i - pos_);
        pos_ = i;
        return true;
    }

    // Parses the next token in place as an element of type into dst[index]: 1 parsed, 0 end of the file
    // (or a read error), -1 a token that is no such number (it is consumed).
    int nextElement(int type, void* dst, size_t index)
    {
        for (;;) {
            while (pos_ < end_ && isSpace(buf_[pos_]))
                ++pos_;
            if (pos_ < end_)
                break;
            pos_ = end_ = 0;
            if (!fill())
                return 0;
        }
        for (;;) {
            const char* b = buf_.get() + pos_;
            const char* e = buf_.get() + end_;
            const char* stop;
            const bool ok = parseElementAt(b, e, &stop, type, dst, index);
            if (ok && stop < e && isSpace(*stop)) {
                pos_ = size_t(stop - buf_.get());
                return 1;
            }
            // The token may go on in the next block: read more before judging it.
            const char* tokenEnd = stop;
            while (tokenEnd < e && !isSpace(*tokenEnd))
                ++tokenEnd;
            if (tokenEnd < e || eof_) {
                if (ok && stop == tokenEnd) {
                    pos_ = size_t(stop - buf_.get());
                    return 1;
                }
                pos_ = size_t(tokenEnd - buf_.get());
                return -1;
            }
            if (end_ - pos_ >= kMaxToken) {
                skipRestOfToken();
                return -1;
            }
            fill(); // at the end of the file eof_ is set and the token is judged as it is
        }
    }

    bool failed() const { return failed_; }
    int error() const { return error_; }

private:
    static constexpr size_t kBufSize = size_t(1) << 16;
    static constexpr size_t kMaxToken = 4096;

    // Keeps [pos_, end_), moved to the front, and reads more behind it.
    bool fill()
    {
        if (eof_)
            return false;
        if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
            end_ -= pos_;
            pos_ = 0;
        }
        const size_t want = kBufSize - end_;
        const size_t n = std::fread(buf_.get() + end_, 1, want, f_);
        end_ += n;
        if (n < want) {
            if (std::ferror(f_)) {
                failed_ = true;
                error_ = errno;
            }
            if (std::feof(f_) || failed_)
                eof_ = true;
        }
        return n > 0;
    }

    void skipRestOfToken()
    {
        for (;;) {
            pos_ = end_ = 0;
            if (!fill())
                return;
            size_t j = 0;
            while (j < end_ && !isSpace(buf_[j]))
                ++j;
            if (j < end_) {
                pos_ = j;
                return;
            }
        }
    }

    FILE* f_;
    std::unique_ptr<char[]> buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    bool failed_ = false;
    int error_ = 0;
};

union Element {
    int16_t i16;
    uint32_t u32;
    double d;
};

bool parseElement(std::string_view t, int type, void* dst, size_t index)
{
    const char* stop;
    return parseElementAt(t.data(), t.data() + t.size(), &stop, type, dst, index) && stop == t.data() + t.size();
}

// ---- writing ----

class Sink {
public:
    virtual ~Sink() = default;
    virtual bool write(const void* data, size_t size) = 0;
};

class AtomicSink : public Sink {
public:
    explicit AtomicSink(plat::AtomicFileWriter& w) : w_(w) {}
    bool write(const void* data, size_t size) override { return w_.write(data, size); }

private:
    plat::AtomicFileWriter& w_;
};

// Appends to a data file; every write is checked, and a failed append is cut off again.
class AppendSink : public Sink {
public:
    explicit AppendSink(std::string path) : path_(std::move(path)) {}
    ~AppendSink() override
    {
        if (f_)
            std::fclose(f_);
    }

    bool open()
    {
        std::error_code ec;
        existed_ = std::filesystem::exists(path_, ec);
        if (existed_) {
            oldSize_ = std::filesystem::file_size(path_, ec);
            sizeKnown_ = !ec; // not a regular file: nothing to cut back
        }
        f_ = std::fopen(path_.c_str(), "ab");
        if (!f_)
            error_ = errno;
        return f_ != nullptr;
    }

    bool write(const void* data, size_t size) override
    {
        if (error_)
            return false;
        if (size && std::fwrite(data, 1, size, f_) != size) {
            error_ = errno ? errno : EIO;
            return false;
        }
        return true;
    }

    bool finish()
    {
        if (!error_ && (std::fflush(f_) != 0 || ::fsync(::fileno(f_)) != 0))
            error_ = errno ? errno : EIO;
        if (std::fclose(f_) != 0 && !error_)
            error_ = errno ? errno : EIO;
        f_ = nullptr;
        return error_ == 0;
    }

    // Puts the file back to what it was before the append.
    void rollBack()
    {
        if (f_) {
            std::fclose(f_);
            f_ = nullptr;
        }
        std::error_code ec;
        if (!existed_)
            std::filesystem::remove(path_, ec);
        else if (sizeKnown_)
            std::filesystem::resize_file(path_, oldSize_, ec);
    }

    int error() const { return error_; }

private:
    std::string path_;
    FILE* f_ = nullptr;
    bool existed_ = false;
    bool sizeKnown_ = false;
    uintmax_t oldSize_ = 0;
    int error_ = 0;
};

// Text and records are gathered in blocks before they go to the sink.
class BlockWriter {
public:
    explicit BlockWriter(Sink& sink) : sink_(sink), buf_(new char[kSize]) {}

    // Room for at least n bytes at the returned position; advance with commit.
    char* room(size_t n)
    {
        if (used_ + n > kSize)
            flush();
        return buf_.get() + used_;
    }
    void commit(char* end) { used_ = size_t(end - buf_.get()); }
    char* commitEnd() { return buf_.get() + used_; } // end of what was committed last (never flushed yet)
    bool flush()
    {
        if (used_ && ok_)
            ok_ = sink_.write(buf_.get(), used_);
        used_ = 0;
        return ok_;
    }
    bool ok() const { return ok_; }

    static constexpr size_t kSize = size_t(1) << 18;

private:
    Sink& sink_;
    std::unique_ptr<char[]> buf_;
    size_t used_ = 0;
    bool ok_ = true;
};

// Text values: integers in decimal; doubles in the shortest form that reads back exactly (readers also
// take the older "%.5g" and "%f" forms).
char* formatElement(char* p, int type, const void* src, size_t i)
{
    switch (type) {
    case TYPE_I16: return std::to_chars(p, p + 8, static_cast<const int16_t*>(src)[i]).ptr;
    case TYPE_U32: return std::to_chars(p, p + 16, static_cast<const uint32_t*>(src)[i]).ptr;
    default: return std::to_chars(p, p + 32, static_cast<const double*>(src)[i]).ptr;
    }
}

bool isZero(int type, const void* src, size_t i)
{
    switch (type) {
    case TYPE_I16: return static_cast<const int16_t*>(src)[i] == 0;
    case TYPE_U32: return static_cast<const uint32_t*>(src)[i] == 0;
    default: return static_cast<const double*>(src)[i] == 0.0;
    }
}

struct Layout {
    uint32_t width;
    uint32_t height;
    int type;
};

// Dense text, one line per row; the formatting loop is made per element type.
template <class T> bool writeDenseTextOf(Sink& sink, const T* src, const Layout& l)
{
    constexpr size_t kMaxLength = 32; // longest value text and its separator
    BlockWriter w(sink);
    for (uint32_t y = 0; y < l.height && w.ok(); ++y) {
        const T* row = src + size_t(y) * l.width;
        for (uint32_t x = 0; x < l.width;) {
            // As many values as surely fit the block at once.
            const uint32_t run = uint32_t(std::min<size_t>(l.width - x, BlockWriter::kSize / kMaxLength));
            char* p = w.room(size_t(run) * kMaxLength);
            for (uint32_t i = 0; i < run; ++i, ++x) {
                p = std::to_chars(p, p + kMaxLength, row[x]).ptr;
                *p++ = ' ';
            }
            w.commit(p);
        }
        *(w.commitEnd() - 1) = '\n'; // the row's last value ends the line
    }
    return w.flush();
}

bool writeDenseText(Sink& sink, const void* src, const Layout& l)
{
    switch (l.type) {
    case TYPE_I16: return writeDenseTextOf(sink, static_cast<const int16_t*>(src), l);
    case TYPE_U32: return writeDenseTextOf(sink, static_cast<const uint32_t*>(src), l);
    default: return writeDenseTextOf(sink, static_cast<const double*>(src), l);
    }
}

bool writeSparseText(Sink& sink, const void* src, const Layout& l, bool xy)
{
    BlockWriter w(sink);
    const size_t count = size_t(l.width) * l.height;
    for (size_t i = 0; i < count && w.ok(); ++i) {
        if (isZero(l.type, src, i))
            continue;
        char* p = w.room(80);
        if (xy) {
            p = std::to_chars(p, p + 16, uint32_t(i % l.width)).ptr;
            *p++ = '\t';
            p = std::to_chars(p, p + 16, uint32_t(i / l.width)).ptr;
        } else {
            p = std::to_chars(p, p + 16, uint32_t(i)).ptr;
        }
        *p++ = '\t';
        p = formatElement(p, l.type, src, i);
        *p++ = '\n';
        w.commit(p);
    }
    return w.flush();
}

bool writeSparseBinary(Sink& sink, const void* src, const Layout& l, bool xy)
{
    BlockWriter w(sink);
    const size_t count = size_t(l.width) * l.height;
    const size_t elem = elementSize(l.type);
    for (size_t i = 0; i < count && w.ok(); ++i) {
        if (isZero(l.type, src, i))
            continue;
        char* p = w.room(16);
        uint32_t pos[2];
        size_t posBytes = 4;
        if (xy) {
            pos[0] = uint32_t(i % l.width);
            pos[1] = uint32_t(i / l.width);
            posBytes = 8;
        } else {
            pos[0] = uint32_t(i);
        }
        std::memcpy(p, pos, posBytes);
        std::memcpy(p + posBytes, static_cast<const char*>(src) + i * elem, elem);
        w.commit(p + posBytes + elem);
    }
    return w.flush();
}

bool writeData(Sink& sink, const void* src, const Layout& l, uint32_t flags)
{
    const bool sparse = flags & (FSAVE_SPARSEXY | FSAVE_SPARSEX);
    const bool xy = flags & FSAVE_SPARSEXY;
    if (flags & FSAVE_BINARY) {
        if (sparse)
            return writeSparseBinary(sink, src, l, xy);
        return sink.write(src, size_t(l.width) * l.height * elementSize(l.type));
    }
    if (sparse)
        return writeSparseText(sink, src, l, xy);
    return writeDenseText(sink, src, l);
}

std::optional<std::string> readWholeFile(const std::string& path)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return std::nullopt;
    std::string text;
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f.get())) > 0)
        text.append(block, n);
    if (std::ferror(f.get()))
        return std::nullopt;
    return text;
}

// ---- reading data files ----

Outcome readDenseBinary(const std::string& path, int type, uint32_t pixels, Block* out)
{
    FilePtr f;
    if (Outcome o = openForReading(path, &f))
        return o;
    const uint64_t bytes = uint64_t(pixels) * elementSize(type);
    if (fileSizeOf(f.get()) < bytes) // too short: refused before anything is allocated
        return dataFormatError(path, kInvalidItems);
    Block data(std::malloc(size_t(bytes)));
    if (!data)
        return allocError(bytes);
    if (std::fread(data.get(), 1, size_t(bytes), f.get()) != bytes) {
        if (std::ferror(f.get()))
            return readError(path, errno);
        return dataFormatError(path, kInvalidItems);
    }
    *out = std::move(data);
    return {};
}

Outcome readDenseText(const std::string& path, int type, uint32_t pixels, Block* out)
{
    FilePtr f;
    if (Outcome o = openForReading(path, &f))
        return o;
    TokenReader reader(f.get());
    // Every value takes at least two bytes but the last: a file that cannot hold the frame is only counted.
    const uint64_t fileSize = fileSizeOf(f.get());
    if (pixels > (fileSize + 1) / 2) {
        uint32_t read = 0;
        Element scratch;
        while (read < pixels && reader.nextElement(type, &scratch, 0) == 1)
            ++read;
        if (reader.failed())
            return readError(path, reader.error());
        return outcome(FRAME_ERR_DATA_FORMAT, "Format of ASCII data file \"%s\" is invalid (read items: %u, expected: %u)",
                       path.c_str(), read, pixels);
    }
    const uint64_t bytes = uint64_t(pixels) * elementSize(type);
    Block data(std::malloc(size_t(bytes)));
    if (!data)
        return allocError(bytes);
    uint32_t read = 0;
    while (read < pixels && reader.nextElement(type, data.get(), read) == 1)
        ++read;
    if (read < pixels) {
        if (reader.failed())
            return readError(path, reader.error());
        return outcome(FRAME_ERR_DATA_FORMAT, "Format of ASCII data file \"%s\" is invalid (read items: %u, expected: %u)",
                       path.c_str(), read, pixels);
    }
    *out = std::move(data);
    return {};
}

Outcome readSparseText(const std::string& path, const Layout& l, bool xy, Block* out)
{
    FilePtr f;
    if (Outcome o = openForReading(path, &f))
        return o;
    const uint64_t pixels = uint64_t(l.width) * l.height;
    const size_t elem = elementSize(l.type);
    Block data(std::calloc(size_t(pixels), elem));
    if (!data)
        return allocError(pixels * elem);
    TokenReader reader(f.get());
    std::string_view token;
    Element value;
    while (reader.next(&token)) {
        uint32_t a = 0, b = 0;
        if (!parseU32(token, &a))
            return dataFormatError(path, kInvalidItems);
        if (xy && !(reader.next(&token) && parseU32(token, &b)))
            return reader.failed() ? readError(path, reader.error()) : dataFormatError(path, kInvalidItems);
        if (!(reader.next(&token) && parseElement(token, l.type, &value, 0)))
            return reader.failed() ? readError(path, reader.error()) : dataFormatError(path, kInvalidItems);
        uint64_t index;
        if (xy) {
            if (a >= l.width || b >= l.height)
                return dataFormatError(path, kExceeded);
            index = uint64_t(b) * l.width + a;
        } else {
            if (a >= pixels)
                return dataFormatError(path, kExceeded);
            index = a;
        }
        std::memcpy(static_cast<char*>(data.get()) + index * elem, &value, elem);
    }
    if (reader.failed())
        return readError(path, reader.error());
    *out = std::move(data);
    return {};
}

Outcome readSparseBinary(const std::string& path, const Layout& l, bool xy, Block* out)
{
    FilePtr f;
    if (Outcome o = openForReading(path, &f))
        return o;
    const uint64_t pixels = uint64_t(l.width) * l.height;
    const size_t elem = elementSize(l.type);
    Block data(std::calloc(size_t(pixels), elem));
    if (!data)
        return allocError(pixels * elem);
    const size_t posBytes = xy ? 8 : 4;
    const size_t record = posBytes + elem;
    std::unique_ptr<char[]> block(new char[record * 4096]);
    for (;;) {
        const size_t n = std::fread(block.get(), 1, record * 4096, f.get());
        if (std::ferror(f.get()))
            return readError(path, errno);
        if (n % record)
            return dataFormatError(path, kInvalidItems); // a cut record at the end
        for (size_t off = 0; off < n; off += record) {
            uint32_t pos[2] = {0, 0};
            std::memcpy(pos, block.get() + off, posBytes);
            uint64_t index;
            if (xy) {
                if (pos[0] >= l.width || pos[1] >= l.height)
                    return dataFormatError(path, kExceeded);
                index = uint64_t(pos[1]) * l.width + pos[0];
            } else {
                if (pos[0] >= pixels)
                    return dataFormatError(path, kExceeded);
                index = pos[0];
            }
            std::memcpy(static_cast<char*>(data.get()) + index * elem, block.get() + off + posBytes, elem);
        }
        if (n < record * 4096)
            break;
    }
    *out = std::move(data);
    return {};
}

// Format detection: a file made only of digits, blanks, line ends, signs, '.', 'E' and 'e' is text
// (holding fractions when any '.', 'E' or 'e' occurs); anything else is binary.
struct Detected {
    bool text = false;
    bool fractions = false;
    uint64_t size = 0;
};

Outcome detect(const std::string& path, Detected* out)
{
    FilePtr f;
    if (Outcome o = openForReading(path, &f))
        return o;
    static const auto table = [] {
        std::array<uint8_t, 256> t{}; // 0 other, 1 text, 2 text marking fractions
        for (const char* c = "0123456789 \t\n\r+-"; *c; ++c)
            t[uint8_t(*c)] = 1;
        for (const char* c = ".Ee"; *c; ++c)
            t[uint8_t(*c)] = 2;
        return t;
    }();
    Detected d;
    d.text = true;
    unsigned char block[4096];
    size_t n;
    while (d.text && (n = std::fread(block, 1, sizeof block, f.get())) > 0) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t k = table[block[i]];
            if (k == 0) {
                d.text = false;
                break;
            }
            if (k == 2)
                d.fractions = true;
        }
    }
    if (std::ferror(f.get()))
        return readError(path, errno);
    d.size = fileSizeOf(f.get());
    *out = d;
    return {};
}

// Number fields of a text line: a field starts at a digit or one of "+-.Ee" after a blank, a tab or the
// line's start; -1 for any other character.
int countColumns(std::string_view line)
{
    int count = 0;
    bool inField = false;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r') {
            inField = false;
        } else if (isDigit(c) || c == '+' || c == '-' || c == '.' || c == 'E' || c == 'e') {
            if (!inField)
                ++count;
            inField = true;
        } else {
            return -1;
        }
    }
    return count;
}

// ---- description files ----

bool isHeaderLine(std::string_view line)
{
    return line.size() >= 6 && line[0] == '"' && line.substr(line.size() - 3) == "\"):" &&
           line.find("\" (\"") != std::string_view::npos;
}

std::string_view lineAt(const std::string& s, size_t p)
{
    const size_t e = s.find('\n', p);
    return std::string_view(s).substr(p, (e == std::string::npos ? s.size() : e) - p);
}

// End of a text value that starts at start and has at most size bytes. The writer ends a value with an
// empty line; a text may itself hold line breaks, so the end is the first empty line that is followed
// by the next attribute block or the end of the file.
size_t textValueEnd(const std::string& s, size_t start, uint64_t size)
{
    const size_t n = s.size();
    const size_t limit = size_t(std::min<uint64_t>(n, start + size));
    for (size_t p = start; p <= limit && p + 1 < n; ++p) {
        if (s[p] != '\n' || s[p + 1] != '\n')
            continue;
        if (p + 2 == n || (s[p + 2] == '"' && isHeaderLine(lineAt(s, p + 2))))
            return p;
    }
    // Tolerate other whitespace between the value and what follows.
    for (size_t p = start; p <= limit; ++p) {
        if (p < n && s[p] != '\n')
            continue;
        size_t q = p;
        while (q < n && isSpace(s[q]))
            ++q;
        if (q == n || (s[q] == '"' && isHeaderLine(lineAt(s, q))))
            return p;
    }
    const size_t e = s.find('\n', start);
    return e == std::string::npos ? n : e;
}

bool parseUnsignedField(const std::string& s, size_t* p, uint32_t* out)
{
    size_t i = *p;
    if (i < s.size() && s[i] == '+')
        ++i;
    uint32_t v = 0;
    auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
    if (ec != std::errc() || end == s.data() + i)
        return false;
    *out = v;
    *p = size_t(end - s.data());
    return true;
}

bool parseSignedField(const std::string& s, size_t* p, int32_t* out)
{
    size_t i = *p;
    if (i < s.size() && s[i] == '+')
        ++i;
    int32_t v = 0;
    auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
    if (ec != std::errc() || end == s.data() + i)
        return false;
    *out = v;
    *p = size_t(end - s.data());
    return true;
}

struct DscHeader {
    std::string dataName;
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// "Description file for \"<name>\"\nformat = %d width = %u height = %u\n"; blanks between the parts may
// be any whitespace. The name runs to the last quote of its line.
bool parseHeader(const std::string& s, size_t* pos, DscHeader* h)
{
    size_t p = 0;
    auto skip = [&] {
        while (p < s.size() && isSpace(s[p]))
            ++p;
    };
    auto word = [&](std::string_view w) {
        skip();
        if (s.compare(p, w.size(), w) != 0)
            return false;
        p += w.size();
        return true;
    };
    if (!word("Description") || !word("file") || !word("for"))
        return false;
    skip();
    if (p >= s.size() || s[p] != '"')
        return false;
    const std::string_view line = lineAt(s, p);
    const size_t close = line.rfind('"');
    if (close == 0)
        return false;
    h->dataName = std::string(line.substr(1, close - 1));
    p += close + 1;
    int32_t format = 0;
    if (!word("format") || !word("="))
        return false;
    skip();
    if (!parseSignedField(s, &p, &format))
        return false;
    h->format = uint32_t(format);
    if (!word("width") || !word("="))
        return false;
    skip();
    if (!parseUnsignedField(s, &p, &h->width))
        return false;
    if (!word("height") || !word("="))
        return false;
    skip();
    if (!parseUnsignedField(s, &p, &h->height))
        return false;
    *pos = p;
    return true;
}

} // namespace

// ---- description file writing and reading ----

int TvkFrameInfo::buildDscText(const std::string& dataFileName, uint32_t flags, std::string* out)
{
    std::string& t = *out;
    t = "Description file for \"" + baseNameOf(dataFileName) + "\"\nformat = " + std::to_string(int32_t(flags)) +
        " width = " + std::to_string(width_) + " height = " + std::to_string(height_) + "\n";
    std::unique_lock<std::recursive_mutex> g(attrLock_);
    for (const auto& [name, a] : attribs_) {
        const int elem = typeElementSize(a->type);
        // A value whose size is no whole number of elements keeps its last bytes: the element they
        // start is written whole, zero-filled.
        const uint64_t count = elem ? (uint64_t(a->size) + uint32_t(elem) - 1) / uint32_t(elem) : 0;
        if (count > uint64_t(INT32_MAX)) {
            g.unlock(); // reported with the attribute lock released
            return failParam("attribute too large for a description file");
        }
        t += '"';
        t += a->name;
        t += "\" (\"";
        t += a->description;
        t += "\"):\n";
        t += typeName(a->type);
        t += '[';
        t += std::to_string(count);
        t += "]\n";
        if (elem && a->size % uint32_t(elem)) {
            std::vector<unsigned char> padded(size_t(count) * size_t(elem), 0);
            std::memcpy(padded.data(), a->data, a->size);
            t += valueToString(a->type, padded.data(), int(count));
        } else {
            t += valueToString(a->type, a->data, int(count));
        }
        t += "\n\n";
    }
    return 0;
}

int TvkFrameInfo::readDscFile(const std::string& path, DscContent* out)
{
    FilePtr f;
    if (Outcome o = openForReading(path, &f))
        return fail(o.code, "%s", o.text.c_str());
    std::string s;
    {
        char block[65536];
        size_t n;
        while ((n = std::fread(block, 1, sizeof block, f.get())) > 0) {
            // Line ends: CR LF becomes LF (a CR at the block's end is looked at with the next block).
            s.append(block, n);
        }
        if (std::ferror(f.get())) {
            Outcome o = readError(path, errno);
            return fail(o.code, "%s", o.text.c_str());
        }
    }
    {
        size_t w = 0;
        for (size_t r = 0; r < s.size(); ++r)
            if (!(s[r] == '\r' && r + 1 < s.size() && s[r + 1] == '\n'))
                s[w++] = s[r];
        s.resize(w);
    }
    auto formatError = [&](const char* reason) {
        Outcome o = dscFormatError(path, reason);
        return fail(o.code, "%s", o.text.c_str());
    };

    DscHeader header;
    size_t p = 0;
    if (!parseHeader(s, &p, &header))
        return formatError("header reading failed");
    const int type = typeFromBits(header.format);
    const uint64_t pixels = uint64_t(header.width) * header.height;
    if (pixels > kMaxBytes || (type >= 0 && pixels * elementSize(type) > kMaxBytes))
        return formatError("invalid frame size");

    // Attribute values are bounded by what the file can describe, so that a hostile count cannot make
    // us allocate more than a small multiple of the file.
    uint64_t budget = (uint64_t(16) << 20) + uint64_t(16) * s.size();
    std::map<std::string, AttribPtr> attribs;
    const size_t n = s.size();
    for (;;) {
        while (p < n && isSpace(s[p]))
            ++p;
        if (p >= n)
            break;
        const std::string_view head = lineAt(s, p);
        if (!isHeaderLine(head))
            return formatError("invalid format of attribute");
        const size_t nameEnd = head.find('"', 1);
        const size_t descStart = nameEnd + 4;
        if (head.compare(nameEnd, 4, "\" (\"") != 0 || descStart > head.size() - 3)
            return formatError("invalid format of attribute");
        AttribPtr a(new Attrib);
        a->name = std::string(head.substr(1, nameEnd - 1));
        a->description = std::string(head.substr(descStart, head.size() - 3 - descStart));
        p += head.size();
        if (p >= n)
            return formatError("invalid format of attribute");
        ++p; // line end

        const std::string_view typeLine = lineAt(s, p);
        const size_t open = typeLine.find('[');
        if (open == std::string_view::npos || typeLine.size() < open + 3 || typeLine.back() != ']')
            return formatError("invalid format of attribute");
        const std::string typeText(typeLine.substr(0, open));
        int32_t count = 0;
        {
            const std::string_view c = typeLine.substr(open + 1, typeLine.size() - open - 2);
            auto [end, ec] = std::from_chars(c.data(), c.data() + c.size(), count);
            if (ec != std::errc() || end != c.data() + c.size())
                return formatError("invalid format of attribute");
        }
        a->type = typeFromName(typeText.c_str());
        if (a->type < TYPE_BOOL || a->type > TYPE_STRING || count < 0)
            return formatError("Invalid data in desc. file");
        const uint64_t size = uint64_t(typeElementSize(a->type)) * uint64_t(count);
        if (size > kMaxBytes || size > budget)
            return formatError("Invalid data in desc. file");
        budget -= size;
        p += typeLine.size();
        if (p < n)
            ++p;

        const size_t valueEnd = isTextType(a->type) ? textValueEnd(s, p, size) : p + lineAt(s, p).size();
        const std::string value = s.substr(p, valueEnd - p);
        p = valueEnd;

        if (size) {
            a->data = std::calloc(size_t(size), 1);
            if (!a->data) {
                Outcome o = allocError(size + 68);
                return fail(o.code, "%s", o.text.c_str());
            }
        }
        a->size = uint32_t(size);
        if (count >= 1) {
            if (isTextType(a->type))
                std::memcpy(a->data, value.data(), std::min<size_t>(value.size(), size_t(size)));
            else if (textToValue(a->data, value.c_str(), a->type, count) != 0)
                return formatError("Data conversion error in desc. file");
        }
        attribs[a->name] = std::move(a); // a later block of the same name replaces the earlier one
    }

    if (type < 0 && !(header.format & 0xF))
        return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
    out->dataFileName = folderOf(path) + header.dataName;
    out->format = header.format;
    out->width = header.width;
    out->height = header.height;
    out->type = type;
    out->attribs = std::move(attribs);
    return 0;
}

// ---- saving ----

int TvkFrameInfo::save(const char* fileName, uint32_t flags)
{
    if (flags & FSAVE_NOFILE)
        return 0;
    if (!fileName || !*fileName)
        return failParam("fileName");
    try {
        DataGuard g(this);
        if (!initialised_)
            return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
        const std::string name = fileName;
        // Such a data file would be its own description file.
        if (equalsNoCase(extensionOf(name), "dsc"))
            return failParam("a data file cannot have the extension dsc");

        // The element type written: the buffer's own without type bits, else the first set type bit (in
        // the order u32, double, i16) that differs from it. Exactly that type's bit is recorded.
        int target = type_;
        for (uint32_t bit : {uint32_t(FSAVE_U32), uint32_t(FSAVE_DOUBLE), uint32_t(FSAVE_I16)}) {
            if ((flags & bit) && typeFromBits(bit) != type_) {
                target = typeFromBits(bit);
                break;
            }
        }
        const uint32_t effective = (flags & ~kTypeBits) | typeBit(target);

        std::string dscName;
        const int rc = writeFiles(name, effective, target, &dscName);
        if (rc)
            return rc;
        dataFileName_ = name;
        fileFlags_ = effective;
        if (!dscName.empty())
            dscFileName_ = dscName;
        return 0;
    } catch (const std::bad_alloc&) {
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", bufSize_);
    }
}

int TvkFrameInfo::writeFiles(const std::string& fileName, uint32_t flags, int targetType, std::string* dscNameOut)
{
    const bool writeDsc = !(flags & FSAVE_NODSC);
    const bool writeDataFile = flags & (FSAVE_BINARY | FSAVE_ASCII);
    const bool append = flags & FSAVE_APPEND;

    std::string dscName;
    std::string dscText;
    if (writeDsc) {
        if (baseNameOf(fileName).find_first_of("\r\n") != std::string::npos)
            return failParam("fileName");
        char buf[512];
        if (makeDscFileName(fileName.c_str(), buf) != 0)
            return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
        dscName = buf;
        if (int rc = buildDscText(fileName, flags, &dscText))
            return rc;
    }

    // The data in the element type written.
    Block converted;
    const void* src = data_;
    if (writeDataFile && targetType != type_) {
        const uint64_t bytes = uint64_t(pixelCount_) * elementSize(targetType);
        if (bytes > kMaxBytes)
            return fail(FRAME_ERR_SIZE, "Invalid frame size");
        converted.reset(std::malloc(size_t(bytes)));
        if (!converted)
            return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", uint32_t(bytes));
        frameconv::convert(converted.get(), targetType, data_, type_, pixelCount_);
        src = converted.get();
    }
    const Layout layout{width_, height_, targetType};

    std::string err;
    std::optional<plat::AtomicFileWriter> dscWriter;
    if (writeDsc) {
        dscWriter.emplace(dscName);
        if (dscWriter->open(&err))
            return fail(TVK_ERR_OPEN_WRITE, "%s", err.c_str());
        dscWriter->write(dscText); // a failure is reported by commit
    }

    if (!writeDataFile) {
        if (dscWriter && dscWriter->commit(&err))
            return fail(TVK_ERR_WRITE, "%s", err.c_str());
        *dscNameOut = dscName;
        return 0;
    }

    if (append) {
        AppendSink sink(fileName);
        if (!sink.open())
            return fail(TVK_ERR_OPEN_WRITE, "Cannot open file \"%s\" for writing: %s.", fileName.c_str(),
                        plat::systemErrorText(sink.error()).c_str());
        if (!writeData(sink, src, layout, flags) || !sink.finish()) {
            const int e = sink.error();
            sink.rollBack();
            return fail(TVK_ERR_WRITE, "Error occurred while writing to file \"%s\": %s.", fileName.c_str(),
                        plat::systemErrorText(e).c_str());
        }
        if (dscWriter && dscWriter->commit(&err)) {
            sink.rollBack();
            return fail(TVK_ERR_WRITE, "%s", err.c_str());
        }
        *dscNameOut = dscName;
        return 0;
    }

    plat::AtomicFileWriter dataWriter(fileName);
    if (dataWriter.open(&err))
        return fail(TVK_ERR_OPEN_WRITE, "%s", err.c_str());
    AtomicSink sink(dataWriter);
    if (!writeData(sink, src, layout, flags)) {
        dataWriter.commit(&err); // fails and discards; gives the message
        return fail(TVK_ERR_WRITE, "%s", err.c_str());
    }
    // The description goes first; if the data file then fails, the old description is put back.
    std::optional<std::string> oldDsc;
    if (dscWriter) {
        oldDsc = readWholeFile(dscName);
        if (dscWriter->commit(&err))
            return fail(TVK_ERR_WRITE, "%s", err.c_str());
    }
    if (dataWriter.commit(&err)) {
        if (dscWriter) {
            if (oldDsc)
                plat::replaceFile(dscName, oldDsc->data(), oldDsc->size());
            else
                std::remove(dscName.c_str());
        }
        return fail(TVK_ERR_WRITE, "%s", err.c_str());
    }
    *dscNameOut = dscName;
    return 0;
}

// ---- loading ----

int TvkFrameInfo::load(const char* fileName, uint32_t flags)
{
    if (!fileName || !*fileName)
        return failParam("fileName");
    try {
        DataGuard g(this);
        if (!initialised_)
            return fail(FRAME_ERR_NOT_INIT, "Frame was not properly initialized.");
        if (pixelCount_ == 0)
            return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
        return loadLocked(fileName, flags);
    } catch (const std::bad_alloc&) {
        return fail(TVK_ERR_ALLOC, "Memory allocation of %u bytes failed.", bufSize_);
    }
}

int TvkFrameInfo::loadLocked(const std::string& fileName, uint32_t flags)
{
    int format = (flags & FSAVE_BINARY) ? FSAVE_BINARY : (flags & FSAVE_ASCII) ? FSAVE_ASCII : 0;
    int type = typeFromBits(flags);
    if (!format || type < 0) {
        Detected d;
        if (Outcome o = detect(fileName, &d))
            return fail(o.code, "%s", o.text.c_str());
        if (d.text) {
            format = FSAVE_ASCII;
            type = d.fractions ? TYPE_DOUBLE : TYPE_U32;
        } else {
            format = FSAVE_BINARY;
            if (d.size == uint64_t(pixelCount_) * 2)
                type = TYPE_I16;
            else if (d.size == uint64_t(pixelCount_) * 4)
                type = TYPE_U32;
            else if (d.size == uint64_t(pixelCount_) * 8)
                type = TYPE_DOUBLE;
            else
                return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
        }
    }
    const uint64_t bytes = uint64_t(pixelCount_) * elementSize(type);
    if (bytes > kMaxBytes)
        return fail(FRAME_ERR_SIZE, "Invalid frame size");

    const bool sparse = flags & (FSAVE_SPARSEXY | FSAVE_SPARSEX);
    const bool xy = flags & FSAVE_SPARSEXY;
    const Layout layout{width_, height_, type};
    Block data;
    Outcome o;
    if (format == FSAVE_BINARY)
        o = sparse ? readSparseBinary(fileName, layout, xy, &data) : readDenseBinary(fileName, type, pixelCount_, &data);
    else
        o = sparse ? readSparseText(fileName, layout, xy, &data) : readDenseText(fileName, type, pixelCount_, &data);
    if (o)
        return fail(o.code, "%s", o.text.c_str());

    std::free(data_);
    data_ = data.release();
    type_ = type;
    bufSize_ = uint32_t(bytes);
    dataFileName_ = fileName;
    fileFlags_ = (flags & ~(kTypeBits | FSAVE_BINARY | FSAVE_ASCII)) | uint32_t(format) | typeBit(type);
    return 0;
}

int TvkFrameInfo::initFromTextMatrix(const std::string& fileName)
{
    Detected d;
    if (Outcome o = detect(fileName, &d))
        return fail(o.code, "%s", o.text.c_str());
    if (!d.text) {
        Outcome e = dataFormatError(fileName, "cannot read binary data file without corresponding description file");
        return fail(e.code, "%s", e.text.c_str());
    }
    const int type = d.fractions ? TYPE_DOUBLE : TYPE_U32;
    const size_t elem = elementSize(type);
    auto notMatrix = [&] {
        Outcome e = dataFormatError(fileName, kNotMatrix);
        return fail(e.code, "%s", e.text.c_str());
    };

    FilePtr f;
    if (Outcome o = openForReading(fileName, &f))
        return fail(o.code, "%s", o.text.c_str());
    std::string firstLine;
    for (int c; (c = std::fgetc(f.get())) != EOF && c != '\n';)
        firstLine += char(c);
    if (std::ferror(f.get())) {
        Outcome o = readError(fileName, errno);
        return fail(o.code, "%s", o.text.c_str());
    }
    const int columns = countColumns(firstLine);
    if (columns < 0)
        return notMatrix();
    if (columns == 0)
        return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
    std::rewind(f.get());
    const uint64_t width = uint32_t(columns);

    // No file holds more values than half its bytes (rounded up): the buffer never grows beyond that.
    const uint64_t maxValues = std::max<uint64_t>((d.size + 1) / 2, 1);
    uint64_t capacity = std::min<uint64_t>(std::min<uint64_t>(width, 16777216 / width) * width, maxValues);
    capacity = std::max<uint64_t>(capacity, 1);
    if (capacity * elem > kMaxBytes)
        capacity = kMaxBytes / elem;
    Block data(std::malloc(size_t(capacity * elem)));
    if (!data)
        return fail(TVK_ERR_ALLOC, "Memory allocation of %llu bytes failed.", (unsigned long long)(capacity * elem));
    uint64_t count = 0;
    TokenReader reader(f.get());
    Element value;
    for (int r; (r = reader.nextElement(type, &value, 0)) != 0;) {
        // A value that does not parse ends the matrix; only whitespace may follow it.
        if (r < 0)
            return notMatrix();
        if (count == capacity) {
            uint64_t grown = std::min(capacity + std::max<uint64_t>(capacity / 4, 16), maxValues);
            if (grown * elem > kMaxBytes)
                grown = kMaxBytes / elem;
            if (grown <= capacity)
                return fail(FRAME_ERR_SIZE, "Invalid frame size");
            void* bigger = std::realloc(data.get(), size_t(grown * elem));
            if (!bigger)
                return fail(TVK_ERR_ALLOC, "Memory allocation of %llu bytes failed.", (unsigned long long)(grown * elem));
            data.release();
            data.reset(bigger);
            capacity = grown;
        }
        std::memcpy(static_cast<char*>(data.get()) + count * elem, &value, elem);
        ++count;
    }
    if (reader.failed()) {
        Outcome o = readError(fileName, reader.error());
        return fail(o.code, "%s", o.text.c_str());
    }
    if (count == 0 || count % width != 0)
        return notMatrix();
    const uint64_t height = count / width;
    if (height > kMaxBytes)
        return fail(FRAME_ERR_SIZE, "Invalid frame size");
    if (count < capacity) {
        if (void* trimmed = std::realloc(data.get(), size_t(count * elem))) {
            data.release();
            data.reset(trimmed);
        }
    }
    std::free(data_);
    data_ = data.release();
    type_ = type;
    width_ = uint32_t(width);
    height_ = uint32_t(height);
    pixelCount_ = uint32_t(count);
    bufSize_ = uint32_t(count * elem);
    fileFlags_ = FSAVE_ASCII | typeBit(type);
    dataFileName_ = fileName;
    dscFileName_.clear();
    return 0;
}

int TvkFrameInfo::init(const char* fileName, bool keep)
{
    try {
        DataGuard g(this);
        emptyLocked();
        persistent_ = keep;
        if (!fileName || !*fileName)
            return failParam("fileName");
        const std::string name = fileName;

        DscContent dsc;
        std::string dscPath;
        int rc;
        if (equalsNoCase(extensionOf(name), "dsc")) {
            dscPath = name;
            if ((rc = readDscFile(dscPath, &dsc)))
                return rc;
        } else {
            char buf[512];
            if (makeDscFileName(fileName, buf) != 0)
                return fail(TVK_ERR_GENERIC, "Unexpected error during frame operation.");
            dscPath = buf;
            // Without a matching description the file is read as a text matrix.
            if (readDscFile(dscPath, &dsc) != 0 || dsc.dataFileName != name) {
                rc = initFromTextMatrix(name);
                if (rc) {
                    emptyLocked();
                    return rc;
                }
                dscPath.clear();
            }
        }

        if (!dscPath.empty()) {
            if (dsc.width == 0 || dsc.height == 0)
                return fail(FRAME_ERR_SIZE, "Invalid frame size");
            width_ = dsc.width;
            height_ = dsc.height;
            pixelCount_ = dsc.width * dsc.height;
            type_ = dsc.type;
            if ((rc = loadLocked(dsc.dataFileName, dsc.format))) {
                emptyLocked();
                return rc;
            }
            {
                std::lock_guard<std::recursive_mutex> ga(attrLock_);
                attribs_ = std::move(dsc.attribs);
            }
            dscFileName_ = dscPath;
            fileFlags_ = dsc.format;
        }

        {
            std::lock_guard<std::recursive_mutex> ga(attrLock_);
            name_ = baseNameOf(dataFileName_);
            if (auto path = displayPathOf(dataFileName_))
                logPath_ = *path;
        }
        initialised_ = true;
        refCount_ = 1;
        return 0;
    } catch (const std::bad_alloc&) {
        {
            DataGuard g(this);
            emptyLocked();
        }
        return fail(TVK_ERR_ALLOC, "Memory allocation failed.");
    }
}
