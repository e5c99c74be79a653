// Helpers shared by the test programs of every module.
#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace ombrel_test {

// A fresh, empty folder under OMBREL_TEST_TMP (or the system's temporary folder). Tests run in parallel,
// so the name carries the caller's tag, the process id and a serial number.
inline std::string scratchDir(const std::string& tag)
{
    static std::atomic<int> serial{0};
    const char* root = std::getenv("OMBREL_TEST_TMP");
    const std::filesystem::path base = root && *root ? root : std::filesystem::temp_directory_path();
    std::string name = tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    for (char& c : name)
        if (c == '/')
            c = '_';
    const std::filesystem::path dir = base / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return static_cast<bool>(out);
}

} // namespace ombrel_test
