// Frame data files (dense and sparse, binary and text): the element codec, the readers and writers, and
// what the description files and the save and load paths share of it. Internal to the frame files.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "frame_internal.h"

namespace framefile {

inline constexpr uint32_t kTypeBits = FSAVE_I16 | FSAVE_U32 | FSAVE_DOUBLE;
inline constexpr uint32_t kMaxBytes = 0xFFFFFFFFu;

inline uint32_t typeBit(int type)
{
    switch (type) {
    case TYPE_I16: return FSAVE_I16;
    case TYPE_U32: return FSAVE_U32;
    case TYPE_DOUBLE: return FSAVE_DOUBLE;
    default: return 0;
    }
}

// Element type named by the type bits, examined in the order i16, u32, double; -1 when none is set.
inline int typeFromBits(uint32_t flags)
{
    if (flags & FSAVE_I16)
        return TYPE_I16;
    if (flags & FSAVE_U32)
        return TYPE_U32;
    if (flags & FSAVE_DOUBLE)
        return TYPE_DOUBLE;
    return -1;
}

inline bool isTextType(int type) { return type == TYPE_CHAR || type == TYPE_UCHAR || type == TYPE_STRING; }

inline constexpr std::array<bool, 256> kSpace = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'})
        t[c] = true;
    return t;
}();

inline bool isSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

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
Outcome openReadError(const std::string& path, int err);
Outcome readError(const std::string& path, int err);
Outcome dataFormatError(const std::string& path, const char* reason);
Outcome dscFormatError(const std::string& path, const char* reason);
Outcome allocError(uint64_t bytes);

Outcome openForReading(const std::string& path, FilePtr* file);

class Sink {
public:
    virtual ~Sink() = default;
    virtual bool write(const void* data, size_t size) = 0;
};

struct Layout {
    uint32_t width;
    uint32_t height;
    int type;
};

// The frame's data in the format that flags name (FSAVE_BINARY or text, dense or sparse).
bool writeData(Sink& sink, const void* src, const Layout& l, uint32_t flags);

// Readers into a new block of the layout's size; nothing is kept (nor changed) on failure.
Outcome readDenseBinary(const std::string& path, int type, uint32_t pixels, Block* out);
Outcome readDenseText(const std::string& path, int type, uint32_t pixels, Block* out);
Outcome readSparseText(const std::string& path, const Layout& l, bool xy, Block* out);
// The sparse binary reader checks the whole file first; then it fills into (a buffer of the layout's
// size, cleared first; *out stays empty) or, when into is null, a new block.
Outcome readSparseBinary(const std::string& path, const Layout& l, bool xy, void* into, Block* out);

// Format detection: a file made only of digits, blanks, line ends, signs, '.', 'E' and 'e' is text
// (holding fractions when any '.', 'E' or 'e' occurs); anything else is binary.
struct Detected {
    bool text = false;
    bool fractions = false;
    uint64_t size = 0;
};

Outcome detect(const std::string& path, Detected* out);

} // namespace framefile
