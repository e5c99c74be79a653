// A private simulated detector for a benchmark: a scratch folder under OMBREL_BENCH_TMP (or /tmp) with a
// copy of the built tvkHwDummy.so, its settings file and the images it serves.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/module.h"
#include "ctrl/registry.h"
#include "ctrl/tvk_ctrl.h"
#include "pluginfw/tvk_utils.h"

namespace bench {

// Makes the folder <OMBREL_BENCH_TMP or /tmp>/<tag>-<process id> and returns it. The library goes into its
// subfolder libDir ("" for the folder itself) with a settings file holding `settings`; a failed copy is
// told in error, and then no settings file is written.
inline std::string makeDummyFolder(const std::string& tag, const std::string& libDir, const char* settings,
                                   std::string& error)
{
    // The benchmark programs live in build/bench, the library in build/app/hwlibs.
    const std::string lib =
        plat::moduleFolderOf(reinterpret_cast<const void*>(&makeDummyFolder)) + "/../app/hwlibs/tvkHwDummy.so";
    const char* base = std::getenv("OMBREL_BENCH_TMP");
    const std::string dir = std::string(base && *base ? base : "/tmp") + "/" + tag + "-" + std::to_string(::getpid());
    const std::string libs = libDir.empty() ? dir : dir + "/" + libDir;
    std::filesystem::create_directories(libs);
    std::error_code ec;
    std::filesystem::copy_file(lib, libs + "/tvkHwDummy.so", ec);
    if (ec) {
        error = "cannot copy " + lib + ": " + ec.message();
        return dir;
    }
    FILE* ini = std::fopen((libs + "/tvkHwDummy.ini").c_str(), "w");
    std::fputs(settings, ini);
    std::fclose(ini);
    return dir;
}

// Writes a 256 x 256 image with `value` in every pixel as a dense text file, as the simulated detector
// reads it.
inline void writeDummyImage(const std::string& path, short value)
{
    std::vector<short> image(65536, value);
    char err[4096];
    writeAsciiI16File(path.c_str(), image.data(), unsigned(image.size()), 256, err);
}

// The device-control library on one simulated device (every pixel near 1000 on average) in the private
// module folder <tag>-<process id>; error tells what failed. The library is shut down at the end.
struct OneDummyDevice {
    std::string dir;
    std::string error;

    explicit OneDummyDevice(const std::string& tag)
    {
        dir = makeDummyFolder(tag, "hwlibs", "[Dummy]\nCount=1\nUnique=0\n", error);
        if (!error.empty())
            return;
        writeDummyImage(dir + "/hwlibs/dummy_2000.txt", 1000);
        DeviceRegistry::instance().setModuleFolderOverride(dir);
        int count = 0;
        unsigned first = 0;
        if (initTvkCtrl() != 0 || getFirstTvk(&first, &count) != 0 || count != 1)
            error = "no simulated device";
    }
    ~OneDummyDevice()
    {
        exitTvkCtrl();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

} // namespace bench
