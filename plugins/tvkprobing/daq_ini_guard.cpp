#include "daq_ini_guard.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "platform/file_read.h"
#include "platform/file_write.h"
#include "platform/ini.h"
#include "platform/syserror.h"

namespace probing {

namespace {

bool exists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

int failWith(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return -1;
}

} // namespace

int DaqIniGuard::restoreLeftover(const std::string& iniPath, std::string* error)
{
    const std::string backup = backupPath(iniPath);
    const std::string marker = absentMarkerPath(iniPath);
    if (exists(backup)) {
        if (std::rename(backup.c_str(), iniPath.c_str()) != 0)
            return failWith(error, "Cannot restore " + iniPath + ": " + plat::lastSystemErrorText());
        std::remove(marker.c_str());
        return 0;
    }
    if (exists(marker)) {
        if (std::remove(iniPath.c_str()) != 0 && errno != ENOENT)
            return failWith(error, "Cannot remove " + iniPath + ": " + plat::lastSystemErrorText());
        std::remove(marker.c_str());
    }
    return 0;
}

int DaqIniGuard::force(int tvkVersion)
{
    if (restoreLeftover(ini_, &error_) != 0)
        return -1;
    if (exists(ini_)) {
        std::string content;
        if (plat::readRegularFile(ini_, content, &error_) != plat::ReadOutcome::Ok)
            return -1;
        if (plat::replaceFile(backupPath(ini_), content.data(), content.size(), &error_) != 0)
            return -1;
    } else if (plat::replaceFile(absentMarkerPath(ini_), "", 0, &error_) != 0) {
        return -1;
    }
    forced_ = true;
    const std::string version = std::to_string(tvkVersion);
    const char* file = ini_.c_str();
    if (plat::writeProfileString("Force", "TvkVersion", version.c_str(), file, &error_) != 0 ||
        plat::writeProfileString("Force", "NumberOfChips", "1", file, &error_) != 0 ||
        plat::writeProfileString("Force", "ChipID", "", file, &error_) != 0) {
        const std::string text = error_;
        restore();
        error_ = text;
        return -1;
    }
    return 0;
}

int DaqIniGuard::restore()
{
    if (!forced_)
        return 0;
    forced_ = false;
    return restoreLeftover(ini_, &error_);
}

} // namespace probing
