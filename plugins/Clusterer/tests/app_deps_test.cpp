// The benchmark compares the cluster engine with OpenCV's labelling; nothing in the app folder may depend on
// OpenCV (it is installed only for the benchmarks).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "elf_reader.h"

namespace fs = std::filesystem;

TEST(ClustererAppFolder, NoModuleLinksOpenCv)
{
    const fs::path app = OMBREL_APP_DIR;
    int modules = 0;
    for (auto it = fs::recursive_directory_iterator(app); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename().string();
        if (!it->is_regular_file() || (it->path().extension() != ".so" && name != "TvkLoader"))
            continue;
        const ombrel_test::ElfFile elf(it->path().string());
        ++modules;
        for (const std::string& needed : elf.neededLibraries())
            EXPECT_EQ(needed.find("opencv"), std::string::npos) << it->path() << " needs " << needed;
    }
    EXPECT_GT(modules, 0) << "no module found in " << app;
}
