// Fuzz entry: the whole-array readers and the column count on an arbitrary file. The first byte is the
// count of values asked for; the rest is the file. A reader that fails leaves the caller's array as it
// was and says why; one that succeeds gives what the writer, fed its values, writes and reads back.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "array_files.h"

namespace {

const std::string& folder()
{
    static const std::string dir = ombrel_fuzz::scratchFolder("array-files-fuzz");
    return dir;
}

constexpr short kUntouched = 0x5A5A;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned count = data[0];
    const std::string file = folder() + "/input.txt";
    ombrel_fuzz::writeFile(file, data + 1, size - 1);
    char errText[4096];

    std::vector<short> values(count + 1, kUntouched); // never a null buffer, and one past the end to watch
    errText[0] = '\0';
    if (readAsciiI16File(count, file.c_str(), values.data(), errText) == 0) {
        // What was read writes and reads back to the same values.
        const std::string again = folder() + "/again.txt";
        std::vector<short> back(count + 1, kUntouched);
        if (writeAsciiI16File(again.c_str(), values.data(), count, 16, errText) != 0 ||
            readAsciiI16File(count, again.c_str(), back.data(), errText) != 0 || back != values ||
            values[count] != kUntouched)
            std::abort();
    } else {
        for (short v : values)
            if (v != kUntouched)
                std::abort();
        if (errText[0] == '\0')
            std::abort();
    }

    std::vector<uint8_t> bytes(count + 1, 0xA5);
    errText[0] = '\0';
    if (readBinaryFile(file.c_str(), errText, bytes.data(), count) == 0) {
        if (size - 1 < count || std::memcmp(bytes.data(), data + 1, count) != 0 || bytes[count] != 0xA5)
            std::abort();
    } else if (errText[0] == '\0') {
        std::abort();
    }

    if (FILE* f = std::fopen(file.c_str(), "rb")) {
        // The count does not move the position: counting again gives the same.
        int first = -2, second = -2;
        const int r1 = countLineColumns(f, &first);
        const int r2 = countLineColumns(f, &second);
        if (r1 != r2 || (r1 == 0 && first != second) || (r1 == 0 && first < 0))
            std::abort();
        std::fclose(f);
    }
    return 0;
}
