// Saves that must fail and leave the old files as they were: a frame pair f.bin + f.dsc whose data or
// description name is taken by a folder, a link to a folder, or lies in a folder where nothing can be
// written. Each case builds its folder; a snapshot of the folder (every entry, link and byte, not following
// links) taken before the save must equal the one taken after it. Shared by the tests of every road to a
// frame save (the frame itself, the device's saveFrame and file acquisitions, the manager's mgrSaveFrame).
#pragma once

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace ombrel_test {

struct BlockedSave {
    const char* label;
    const char* blocked; // the name the failure reports: "f.bin" or "f.dsc" in the case's folder
    bool folderError;    // the system's error is "Is a directory"; else the folder refuses writing
    // Builds the case in dir (empty) with locked, a folder that cannot be written once lock() has run.
    void (*build)(const std::string& dir);
};

inline void writeTestFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Makes a folder unwritable and writable again: its permissions for a user, the immutable flag for root
// (who passes every permission). False when the file system cannot do it.
inline bool setFolderWritable(const std::string& dir, bool writable)
{
    if (::geteuid() != 0)
        return ::chmod(dir.c_str(), writable ? 0755 : 0555) == 0;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = writable ? (flags & ~FS_IMMUTABLE_FL) : (flags | FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// The error a folder that refuses writing gives.
inline int unwritableFolderError()
{
    return ::geteuid() == 0 ? EPERM : EACCES;
}

inline const std::vector<BlockedSave>& blockedSaves()
{
    static const std::vector<BlockedSave> cases = {
        {"description name taken by a folder", "f.dsc", true,
         [](const std::string& d) {
             writeTestFile(d + "/f.bin", "old data");
             std::filesystem::create_directory(d + "/f.dsc");
             writeTestFile(d + "/f.dsc/inside", "kept");
         }},
        {"data name taken by a folder", "f.bin", true,
         [](const std::string& d) {
             std::filesystem::create_directory(d + "/f.bin");
             writeTestFile(d + "/f.dsc", "old description");
         }},
        {"description name is a link to a folder", "f.dsc", true,
         [](const std::string& d) {
             writeTestFile(d + "/f.bin", "old data");
             writeTestFile(d + "/f.dsc.old", "old description");
             std::filesystem::create_directory(d + "/elsewhere");
             std::filesystem::create_directory_symlink("elsewhere", d + "/f.dsc");
         }},
        {"data name is a link to a folder", "f.bin", true,
         [](const std::string& d) {
             std::filesystem::create_directory(d + "/elsewhere");
             std::filesystem::create_directory_symlink(d + "/elsewhere", d + "/f.bin");
             writeTestFile(d + "/f.dsc", "old description");
         }},
        {"both in a folder that cannot be written", "f.dsc", false,
         [](const std::string& d) {
             std::filesystem::create_directory(d + "/locked");
             writeTestFile(d + "/locked/f.bin", "old data");
             writeTestFile(d + "/locked/f.dsc", "old description");
             std::filesystem::create_symlink("locked/f.bin", d + "/f.bin");
             std::filesystem::create_symlink("locked/f.dsc", d + "/f.dsc");
         }},
        {"data name is a link into a folder that cannot be written", "f.bin", false,
         [](const std::string& d) {
             std::filesystem::create_directory(d + "/locked");
             writeTestFile(d + "/locked/data.bin", "old data");
             std::filesystem::create_symlink("locked/data.bin", d + "/f.bin");
             writeTestFile(d + "/f.dsc", "old description");
         }},
        {"description name is a link into a folder that cannot be written", "f.dsc", false,
         [](const std::string& d) {
             writeTestFile(d + "/f.bin", "old data");
             std::filesystem::create_directory(d + "/locked");
             writeTestFile(d + "/locked/desc.dsc", "old description");
             std::filesystem::create_symlink("locked/desc.dsc", d + "/f.dsc");
         }},
    };
    return cases;
}

// Every entry below dir, links not followed: "dir", "link -> target" or the file's bytes.
inline std::map<std::string, std::string> folderSnapshot(const std::string& dir)
{
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string name = std::filesystem::relative(e.path(), dir).string();
        if (e.is_symlink()) {
            out[name] = "link -> " + std::filesystem::read_symlink(e.path()).string();
        } else if (e.is_directory()) {
            out[name] = "dir";
        } else {
            std::ifstream in(e.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            out[name] = bytes.str();
        }
    }
    return out;
}

// A case built in a fresh folder, its locked folder unwritable while the object lives.
class BlockedSaveFolder {
public:
    BlockedSaveFolder(const BlockedSave& c, std::string dir) : dir_(std::move(dir))
    {
        std::filesystem::create_directories(dir_);
        c.build(dir_);
        locked_ = std::filesystem::is_directory(dir_ + "/locked");
        if (locked_)
            lockable_ = setFolderWritable(dir_ + "/locked", false);
        before_ = folderSnapshot(dir_);
    }
    ~BlockedSaveFolder()
    {
        if (locked_)
            setFolderWritable(dir_ + "/locked", true);
    }
    BlockedSaveFolder(const BlockedSaveFolder&) = delete;
    BlockedSaveFolder& operator=(const BlockedSaveFolder&) = delete;

    // False when the case needs a folder that cannot be written and the file system cannot make one.
    bool ready() const { return !locked_ || lockable_; }
    const std::map<std::string, std::string>& before() const { return before_; }
    std::map<std::string, std::string> now() const { return folderSnapshot(dir_); }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    bool locked_ = false;
    bool lockable_ = false;
    std::map<std::string, std::string> before_;
};

} // namespace ombrel_test
