// Internals shared by the frame object (tvk_frame_info.cpp) and its files (frame_file.cpp,
// frame_data_file.cpp, frame_dsc_file.cpp).
#pragma once

#include <cstdlib>
#include <string>

#include "tvk_frame_info.h"

// One attribute: its value block is allocated and released with the C allocator, because a caller may
// hand over a block of its own (addAttrib with external set).
struct TvkFrameInfo::Attrib {
    std::string name;
    std::string description;
    int type = 0;
    uint32_t size = 0;      // bytes
    void* data = nullptr;   // size bytes, or null when size is 0

    ~Attrib() { std::free(data); }
};

inline void TvkFrameInfo::AttribDeleter::operator()(Attrib* a) const { delete a; }

// Holds the frame's data lock for a scope (waiting without limit).
class TvkFrameInfo::DataGuard {
public:
    explicit DataGuard(const TvkFrameInfo* f) : m_(f->dataLock_) { m_.lock(); }
    ~DataGuard() { m_.unlock(); }
    DataGuard(const DataGuard&) = delete;
    DataGuard& operator=(const DataGuard&) = delete;

private:
    plat::OwnedRecursiveMutex& m_;
};

// What a description file holds, read before anything of the frame is changed.
struct TvkFrameInfo::DscContent {
    std::string dataFileName; // the description's folder followed by the name in its header
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    int type = -1;            // from the format's type bits; -1 when the data file decides
    std::map<std::string, AttribPtr> attribs;
};

namespace framefile {

// Text after the last '.' when that '.' follows the last '/'; empty when there is none.
std::string extensionOf(const std::string& path);
// Up to and including the last '/'; empty when there is none.
std::string folderOf(const std::string& path);
// After the last '/'; the whole name when there is none.
std::string baseNameOf(const std::string& path);

} // namespace framefile
