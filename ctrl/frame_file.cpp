// Saving, loading and initialising a frame from its files (frame_data_file.cpp holds the data formats,
// frame_dsc_file.cpp the description files).
//
// What a save promises, also across a killed process or a power cut: a file under its final name is always
// complete (an old or a new version, never a part), an existing file is never lost, and a description is
// never newer than the data beside it. Saving therefore writes the data file and its description to
// temporaries in the same folder, syncs both, renames the data file and then the description over the old
// ones, and syncs the folder once, so that a save that returned is on the disk. Three syncs, and none fewer:
// - each temporary is synced before its rename, or a power cut could put the new name on the disk before
//   the file's contents and leave an empty or cut file under it;
// - the folder is synced at the end, or a save reported done could be lost with the power;
// - no sync between the two renames: a journaling file system (ext4, XFS,
//   btrfs) puts operations on the disk in the order they were made, so the description's rename is never
//   there without the data file's before it.
// Where it can stop: before the renames both old files stay (the temporaries are removed by the next
// write into the folder); between them the new data stands beside the old description (the data cannot be
// measured again, the description can be saved again); after them the pair is new. Both targets are
// checked to be replaceable before either is renamed (a folder, or a link to one, at either name fails the
// save before anything is put in place), so a save that reports failure leaves the earlier files as they
// were; only a rename that the system refuses in spite of that keeps the new data and reports it. Append mode writes into the data file itself and cuts it back to
// its old length on failure. The saves of an acquisition series leave their syncs to the series' end
// (plat::SyncBatch): until then a power cut, not a killed process, can cut their files.
// Loading reads into a new buffer that replaces the frame's one only on success (a sparse binary file,
// checked whole before anything is stored, fills the frame's buffer in place when it fits).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include "frame_convert.h"
#include "frame_data_file.h"
#include "platform/file_write.h"
#include "platform/syserror.h"
#include "pluginfw/tvk_utils.h"

using frameconv::elementSize;
using namespace framefile;

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

    // Flushes and syncs the file; in a series (a plat::SyncBatch scope) it is recorded in the batch,
    // which syncs it with the series' other files when the series ends.
    bool finish()
    {
        plat::SyncBatch* const batch = plat::SyncBatch::active();
        if (!error_ && std::fflush(f_) != 0)
            error_ = errno ? errno : EIO;
        if (!error_ && !batch && ::fsync(::fileno(f_)) != 0)
            error_ = errno ? errno : EIO;
        if (!error_ && batch)
            (void)::sync_file_range(::fileno(f_), 0, 0, SYNC_FILE_RANGE_WRITE);
        if (std::fclose(f_) != 0 && !error_)
            error_ = errno ? errno : EIO;
        f_ = nullptr;
        if (!error_ && batch)
            batch->add(path_);
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

} // namespace

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
    // Both temporaries are synced before either is renamed, the data file renamed first; the top of this
    // file says why that order is safe.
    plat::AtomicFileWriter* const writers[] = {&dataWriter, dscWriter ? &*dscWriter : nullptr};
    if (plat::commitTogether(writers, 2, &err))
        return fail(TVK_ERR_WRITE, "%s", err.c_str());
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
    // A sparse binary file is checked whole before it is stored, so it may fill the frame's own buffer
    // when that has the layout already (no fresh buffer to allocate and clear).
    void* const reusable = data_ && type == type_ && bufSize_ == bytes ? data_ : nullptr;
    if (format == FSAVE_BINARY)
        o = sparse ? readSparseBinary(fileName, layout, xy, reusable, &data)
                   : readDenseBinary(fileName, type, pixelCount_, &data);
    else
        o = sparse ? readSparseText(fileName, layout, xy, &data) : readDenseText(fileName, type, pixelCount_, &data);
    if (o)
        return fail(o.code, "%s", o.text.c_str());

    if (data) {
        std::free(data_);
        data_ = data.release();
    }
    type_ = type;
    bufSize_ = uint32_t(bytes);
    dataFileName_ = fileName;
    fileFlags_ = (flags & ~(kTypeBits | FSAVE_BINARY | FSAVE_ASCII)) | uint32_t(format) | typeBit(type);
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
