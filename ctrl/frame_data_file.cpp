// Frame data files: the element codec (text numbers), the writers and readers of dense and sparse files
// in binary and text, format detection, and the text matrix read without a description file.
//
// Every size that comes from a file is checked in 64 bits before anything is allocated.
#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>
#include <sys/stat.h>

#include "frame_convert.h"
#include "frame_data_file.h"
#include "platform/file_read.h"
#include "platform/syserror.h"

static_assert(std::endian::native == std::endian::little, "frame files are little-endian");

using frameconv::elementSize;

namespace framefile {

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

Outcome openForReading(const std::string& path, FilePtr* file)
{
    // Only a regular file (or a link to one): a FIFO would block the open, a device read without end.
    plat::ReadOutcome result = plat::ReadOutcome::Failed;
    file->reset(plat::fopenRegularFile(path, &result));
    if (*file)
        return {};
    const int err = errno;
    if (result == plat::ReadOutcome::NotRegular)
        return outcome(TVK_ERR_OPEN_READ, "Cannot open file \"%s\" for reading: it is not a regular file.",
                       path.c_str());
    return openReadError(path, err ? err : EIO);
}

namespace {

const char* const kInvalidItems = "invalid number of items";
const char* const kExceeded = "dimensions of frame were exceeded";
const char* const kNotMatrix = "it is not ASCII matrix";


uint64_t fileSizeOf(FILE* f)
{
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return uint64_t(st.st_size);
}

// Number parsers over [b, e): *stop gets the end of the number; false when none starts at b or it is out
// of range.

// A decimal integer with an optional sign, at most maxNegative below zero and maxPositive above: its sign
// and magnitude.
bool parseIntAt(const char* b, const char* e, const char** stop, uint64_t maxNegative, uint64_t maxPositive,
                bool* negative, uint64_t* magnitude)
{
    *stop = b;
    *negative = false;
    if (b < e && (*b == '+' || *b == '-'))
        *negative = *b++ == '-';
    if (b == e || !isDigit(*b))
        return false;
    auto [p, ec] = std::from_chars(b, e, *magnitude);
    if (ec != std::errc() || *magnitude > (*negative ? maxNegative : maxPositive))
        return false;
    *stop = p;
    return true;
}

// Unsigned decimal; a leading '-' wraps as the unsigned reading of the text files always did, within the
// i32 range.
bool parseU32At(const char* b, const char* e, const char** stop, uint32_t* out)
{
    bool negative = false;
    uint64_t v = 0;
    if (!parseIntAt(b, e, stop, 2147483648u, 0xFFFFFFFFu, &negative, &v))
        return false;
    *out = negative ? uint32_t(0u - uint32_t(v)) : uint32_t(v);
    return true;
}

bool parseI16At(const char* b, const char* e, const char** stop, int16_t* out)
{
    bool negative = false;
    uint64_t v = 0;
    if (!parseIntAt(b, e, stop, 32768u, 32767u, &negative, &v))
        return false;
    *out = int16_t(negative ? -int64_t(v) : int64_t(v));
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
        if (!toNextToken())
            return false;
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
        if (!toNextToken())
            return 0;
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

    // Moves pos_ to the start of the next token, reading more as needed; false at the end of the file.
    bool toNextToken()
    {
        for (;;) {
            while (pos_ < end_ && isSpace(buf_[pos_]))
                ++pos_;
            if (pos_ < end_)
                return true;
            pos_ = end_ = 0;
            if (!fill())
                return false;
        }
    }

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

// Sparse binary records: the position ([x, y] or the index, u32 each) and the value, for every pixel
// that is not 0. The loop is made per element type and record form; a row is stored in runs that surely
// fit the block.

// The bits of a value that make it not 0 (a double's sign alone does not: -0.0 is 0).
template <class T> inline uint64_t valueBits(T v)
{
    if constexpr (std::is_same_v<T, double>)
        return std::bit_cast<uint64_t>(v) << 1;
    else
        return uint64_t(std::make_unsigned_t<T>(v));
}

template <class T, bool XY> bool writeSparseBinaryOf(Sink& sink, const T* src, const Layout& l)
{
    constexpr size_t kPosBytes = XY ? 8 : 4;
    constexpr size_t kRecord = kPosBytes + sizeof(T);
    constexpr uint32_t kGroup = 8; // pixels looked at together: a sparse frame has mostly empty groups
    const uint32_t width = l.width;
    BlockWriter w(sink);
    for (uint32_t y = 0; y < l.height && w.ok(); ++y) {
        const T* row = src + size_t(y) * width;
        for (uint32_t x = 0; x < width;) {
            const uint32_t run = uint32_t(std::min<size_t>(width - x, BlockWriter::kSize / kRecord));
            char* p = w.room(size_t(run) * kRecord);
            const uint32_t rowStart = y * width; // below 2^32: so are the frame's bytes
            // Every pixel's record is stored, and kept by advancing past it only when its value is not
            // 0: no branch on each value (a sparse frame's zeros follow no pattern a predictor could
            // learn); a group whose values are all 0 is passed over at once.
            auto store = [&](uint32_t at) {
                if constexpr (XY) {
                    const uint32_t pos[2] = {at, y};
                    std::memcpy(p, pos, 8);
                } else {
                    const uint32_t index = rowStart + at;
                    std::memcpy(p, &index, 4);
                }
                std::memcpy(p + kPosBytes, &row[at], sizeof(T));
                p += valueBits(row[at]) != 0 ? kRecord : 0;
            };
            const uint32_t end = x + run;
            for (; x + kGroup <= end; x += kGroup) {
                uint64_t any = 0;
                for (uint32_t i = 0; i < kGroup; ++i)
                    any |= valueBits(row[x + i]);
                if (any == 0)
                    continue;
                for (uint32_t i = 0; i < kGroup; ++i)
                    store(x + i);
            }
            for (; x < end; ++x)
                store(x);
            w.commit(p);
        }
    }
    return w.flush();
}

template <class T> bool writeSparseBinaryOf(Sink& sink, const T* src, const Layout& l, bool xy)
{
    return xy ? writeSparseBinaryOf<T, true>(sink, src, l) : writeSparseBinaryOf<T, false>(sink, src, l);
}

bool writeSparseBinary(Sink& sink, const void* src, const Layout& l, bool xy)
{
    switch (l.type) {
    case TYPE_I16: return writeSparseBinaryOf(sink, static_cast<const int16_t*>(src), l, xy);
    case TYPE_U32: return writeSparseBinaryOf(sink, static_cast<const uint32_t*>(src), l, xy);
    default: return writeSparseBinaryOf(sink, static_cast<const double*>(src), l, xy);
    }
}


} // namespace

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
    uint64_t records = 0;
    while (reader.next(&token)) {
        // The writer gives each pixel one record at most: more cannot be a frame of this size.
        if (++records > pixels)
            return dataFormatError(path, kInvalidItems);
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

namespace {

// The sparse binary records of f, read whole and checked before any is stored: the positions are inside
// the matrix and there are no more records than pixels (the writer gives each pixel one at most). Then
// data (cleared) gets them. Made per element type and record form.
template <class T, bool XY> Outcome scatterSparseBinary(FILE* f, const std::string& path, const Layout& l, T* data)
{
    constexpr size_t kPosBytes = XY ? 8 : 4;
    constexpr size_t kRecord = kPosBytes + sizeof(T);
    const uint64_t pixels = uint64_t(l.width) * l.height;
    const uint64_t fileRecords = fileSizeOf(f) / kRecord;
    if (fileRecords > pixels)
        return dataFormatError(path, kInvalidItems);
    // Room for one record more than the file held: a file that grew while it is read is seen to.
    const size_t capacity = size_t(fileRecords + 1) * kRecord;
    thread_local std::vector<char> spare; // kept between loads of a thread while it stays small
    std::vector<char> own;
    std::vector<char>& records = capacity <= (size_t(4) << 20) ? spare : own;
    if (records.size() < capacity)
        records.resize(capacity);
    size_t bytes = 0;
    for (size_t n; bytes < capacity && (n = std::fread(records.data() + bytes, 1, capacity - bytes, f)) > 0;)
        bytes += n;
    if (std::ferror(f))
        return readError(path, errno);
    if (bytes % kRecord)
        return dataFormatError(path, kInvalidItems); // a cut record at the end
    const size_t count = bytes / kRecord;
    if (count > pixels || (bytes == capacity && std::fgetc(f) != EOF))
        return dataFormatError(path, kInvalidItems);
    const char* const first = records.data();
    const char* const last = first + bytes;
    // The largest positions, without a branch per record; kept in locals, which the stores into the
    // frame below cannot change.
    const size_t width = l.width;
    uint32_t maxA = 0, maxB = 0;
    for (const char* p = first; p < last; p += kRecord) {
        uint32_t a;
        std::memcpy(&a, p, 4);
        maxA = std::max(maxA, a);
        if constexpr (XY) {
            uint32_t b;
            std::memcpy(&b, p + 4, 4);
            maxB = std::max(maxB, b);
        }
    }
    if (count > 0 && (XY ? maxA >= l.width || maxB >= l.height : maxA >= pixels))
        return dataFormatError(path, kExceeded);
    std::memset(data, 0, size_t(pixels) * sizeof(T));
    for (const char* p = first; p < last; p += kRecord) {
        uint32_t a;
        std::memcpy(&a, p, 4);
        size_t index = a;
        if constexpr (XY) {
            uint32_t b;
            std::memcpy(&b, p + 4, 4);
            index = size_t(b) * width + a;
        }
        std::memcpy(data + index, p + kPosBytes, sizeof(T));
    }
    return {};
}

template <class T> Outcome scatterSparseBinary(FILE* f, const std::string& path, const Layout& l, bool xy, void* data)
{
    return xy ? scatterSparseBinary<T, true>(f, path, l, static_cast<T*>(data))
              : scatterSparseBinary<T, false>(f, path, l, static_cast<T*>(data));
}

} // namespace

Outcome readSparseBinary(const std::string& path, const Layout& l, bool xy, void* into, Block* out)
{
    FilePtr f;
    if (Outcome o = openForReading(path, &f))
        return o;
    const uint64_t pixels = uint64_t(l.width) * l.height;
    const size_t elem = elementSize(l.type);
    Block data;
    if (!into) {
        data.reset(std::malloc(size_t(pixels * elem)));
        if (!data)
            return allocError(pixels * elem);
    }
    void* const target = into ? into : data.get();
    Outcome o;
    switch (l.type) {
    case TYPE_I16: o = scatterSparseBinary<int16_t>(f.get(), path, l, xy, target); break;
    case TYPE_U32: o = scatterSparseBinary<uint32_t>(f.get(), path, l, xy, target); break;
    default: o = scatterSparseBinary<double>(f.get(), path, l, xy, target); break;
    }
    if (o)
        return o;
    *out = std::move(data);
    return {};
}

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

namespace {

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

} // namespace

} // namespace framefile

using namespace framefile;

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
