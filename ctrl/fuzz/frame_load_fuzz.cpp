// Fuzz entry: building a frame from a description file and from a data file.
// The first byte chooses the case:
//   0: the rest is a description file (its data file, "f.bin", holds 24 fixed bytes); init from it.
//   1: the next byte gives load flags, the rest is a data file: init from it (text matrix or refusal),
//      and load it into a 4 x 3 u32 frame with those flags.
//   2: the next two bytes give the length of a description file, which follows; the rest is the data
//      file it may name ("p.bin"); init from the data file.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_scratch.h"
#include "tvk_frame_info.h"

namespace {

const std::string& scratch()
{
    static const std::string dir = ombrel_fuzz::scratchFolder("frame-fuzz");
    return dir;
}

uint32_t flagsFrom(uint8_t b)
{
    const uint32_t bits[] = {FSAVE_BINARY, FSAVE_ASCII, FSAVE_I16, FSAVE_U32, FSAVE_DOUBLE, FSAVE_SPARSEXY, FSAVE_SPARSEX};
    uint32_t flags = 0;
    for (int i = 0; i < 7; ++i)
        if (b & (1u << i))
            flags |= bits[i];
    return flags;
}

void exercise(TvkFrameInfo& f)
{
    uint32_t w = 0, h = 0;
    if (f.getSize(&w, &h) != 0 || uint64_t(w) * h > (uint64_t(1) << 22))
        return;
    std::string buf(size_t(w) * h * 8, '\0');
    uint32_t size = uint32_t(buf.size());
    f.getData(buf.data(), &size, TYPE_DOUBLE);
    int cursor;
    _ExtFrameAttrib a;
    for (int rc = f.getFirstAttrib(&cursor, &a); rc == 0; rc = f.getNextAttrib(&cursor, &a)) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string& dir = scratch();
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    TvkFrameInfo* f = TvkFrameInfo::createInstance();
    if (mode == 0) {
        static const uint8_t fixed[24] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0};
        ombrel_fuzz::writeFile(dir + "/f.bin", fixed, sizeof fixed);
        ombrel_fuzz::writeFile(dir + "/f.dsc", data, size);
        if (f->init((dir + "/f.dsc").c_str(), false) == 0)
            exercise(*f);
    } else if (mode == 1 && size >= 1) {
        const uint32_t flags = flagsFrom(data[0]);
        std::remove((dir + "/d.dsc").c_str());
        ombrel_fuzz::writeFile(dir + "/d.dat", data + 1, size - 1);
        if (f->init((dir + "/d.dat").c_str(), false) == 0)
            exercise(*f);
        if (f->init(4, 3, TYPE_U32, false) == 0 && f->load((dir + "/d.dat").c_str(), flags) == 0)
            exercise(*f);
    } else if (mode == 2 && size >= 2) {
        const size_t dscSize = std::min<size_t>(size - 2, size_t(data[0]) | size_t(data[1]) << 8);
        ombrel_fuzz::writeFile(dir + "/p.dsc", data + 2, dscSize);
        ombrel_fuzz::writeFile(dir + "/p.bin", data + 2 + dscSize, size - 2 - dscSize);
        if (f->init((dir + "/p.bin").c_str(), false) == 0)
            exercise(*f);
    }
    TvkFrameInfo::deleteInstance(f);
    return 0;
}
