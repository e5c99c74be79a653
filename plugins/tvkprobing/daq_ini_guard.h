// The DAQ-card library's ini file while a probing run forces the chip data of the next connection.
//
// force() first keeps the file as it is: a copy "<ini>_backup_" (written whole, then renamed), or, when
// there is no ini, an empty marker "<ini>_backup_absent_". Only then are the [Force] keys written. The
// guard gives the file back when it goes (every path of the run: success, failure, abort, exception):
// the copy is renamed over the ini, or the ini is removed again when there was none. A backup left by a
// run that never ended (the program stopped) is given back by restoreLeftover before anything else, and
// a backup that exists is never overwritten by a new one.
#pragma once

#include <string>

namespace probing {

class DaqIniGuard {
public:
    explicit DaqIniGuard(std::string iniPath) : ini_(std::move(iniPath)) {}
    ~DaqIniGuard() { restore(); }
    DaqIniGuard(const DaqIniGuard&) = delete;
    DaqIniGuard& operator=(const DaqIniGuard&) = delete;

    // Gives back what a backup holds (see above); 0, or -1 with error() when it cannot.
    static int restoreLeftover(const std::string& iniPath, std::string* error = nullptr);

    // Restores a leftover backup, keeps the file, then writes [Force] "TvkVersion", "NumberOfChips" = 1
    // and "ChipID" = "". 0, or -1 with error() (the file is then given back at once).
    int force(int tvkVersion);
    // Gives the file back when this guard changed it; 0 or -1.
    int restore();

    const std::string& error() const { return error_; }
    static std::string backupPath(const std::string& iniPath) { return iniPath + "_backup_"; }
    static std::string absentMarkerPath(const std::string& iniPath) { return iniPath + "_backup_absent_"; }

private:
    std::string ini_;
    bool forced_ = false;
    std::string error_;
};

} // namespace probing
