#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Honour LC_ALL from the environment: one run of some tests happens under a comma-decimal locale.
    std::setlocale(LC_ALL, "");
    testing::InitGoogleTest(&argc, argv);
    // Every test program keeps its scratch folders in one folder of its own, removed when all its tests
    // pass (kept for a look when one fails): repeated runs do not fill the disk.
    namespace fs = std::filesystem;
    std::error_code ec;
    const char* root = std::getenv("OMBREL_TEST_TMP");
    const fs::path base = root && *root ? fs::path(root) : fs::temp_directory_path(ec);
    const fs::path own = base / ("run-" + std::to_string(::getpid()));
    fs::create_directories(own, ec);
    if (!ec) {
        ::setenv("OMBREL_TEST_TMP", own.c_str(), 1);
        ::setenv("TMPDIR", own.c_str(), 1);
    }
    const int result = RUN_ALL_TESTS();
    if (result == 0 && !ec)
        fs::remove_all(own, ec);
    return result;
}
