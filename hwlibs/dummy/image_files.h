// Input images of the simulated detector: format detection, the four file formats (binary or text,
// dense or sparse) read into a matrix of i16 values, and the numbered names of an image series.
// Only regular files are read (a link to one is fine), none above plat::kMaxInputFileBytes, and every
// parse is bounded by the bytes read. Free functions without state; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tvk_types.h"

namespace hwdummy {

// Formats as frame-file flags.
constexpr uint32_t kBinaryDense = FSAVE_BINARY;
constexpr uint32_t kAsciiDense = FSAVE_ASCII;
constexpr uint32_t kBinarySparseIndex = FSAVE_BINARY | FSAVE_SPARSEX;
constexpr uint32_t kBinarySparseXY = FSAVE_BINARY | FSAVE_SPARSEXY;
constexpr uint32_t kAsciiSparseIndex = FSAVE_ASCII | FSAVE_SPARSEX;
constexpr uint32_t kAsciiSparseXY = FSAVE_ASCII | FSAVE_SPARSEXY;

// Characters of the first line that format detection looks at.
constexpr size_t kFirstLineMax = 16384;

// Number of decimal numbers (optional sign) separated by blanks or tabs at the start of line.
int countLeadingNumbers(std::string_view line);

// The format of a file from its first bytes (at least its first line, or kFirstLineMax characters of
// it) and its size, for a width x height matrix: two numbers ASCII sparse [index, value], three ASCII
// sparse [x, y, value], at least width numbers ASCII dense; otherwise binary, dense when the file holds
// exactly width x height x 2 bytes, else sparse [index, value].
uint32_t detectImageFormatOf(std::string_view head, uint64_t fileSize, uint32_t width, uint32_t height);

// The same for a file. Returns 0, -5 (cannot open, also for anything but a regular file) or -7 (read
// error) with message set.
int detectImageFormat(const std::string& path, uint32_t width, uint32_t height, uint32_t* flags,
                      std::string* message);

// Parses the content of a file (path names it in messages) in the given format into out (width x height
// values). Sparse formats clear out first. Returns 0, -7 (too short, a truncated record, a dense value
// out of range), -9 (a position outside the matrix) or -1 (a text line that is no sparse record or an
// unknown format), with message set. On failure out may hold part of the image.
int parseImageData(std::string_view data, uint32_t flags, uint32_t width, uint32_t height, int16_t* out,
                   const std::string& path, std::string* message);

// Reads the file and parses it as above; also -5 (cannot open, not a regular file) and -7 (read error,
// larger than plat::kMaxInputFileBytes).
int readImageFile(const std::string& path, uint32_t flags, uint32_t width, uint32_t height, int16_t* out,
                  std::string* message);

// The index of a numbered file name: the run of decimal digits right before the extension (the last '.'
// after the last '/'), or at the end of a name without extension.
struct FileIndex {
    size_t position; // offset of the first digit
    size_t digits;   // number of digits
    uint64_t value;
};
constexpr size_t kMaxIndexDigits = 18; // longer runs are not taken as an index

std::optional<FileIndex> findFileIndex(std::string_view name);

// baseName (a name with its index digits removed at position) with index inserted there, zero-padded to
// digits characters.
std::string indexedFileName(std::string_view baseName, size_t position, size_t digits, uint64_t index);

} // namespace hwdummy
