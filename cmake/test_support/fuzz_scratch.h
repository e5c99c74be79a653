// Scratch files of a fuzz entry, for the libFuzzer program and the replay test alike: a folder of this
// process under OMBREL_TEST_TMP (or /tmp), and the fuzzer's bytes written to a file in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace ombrel_fuzz {

// Makes the folder <OMBREL_TEST_TMP or /tmp>/<tag>-<process id> and returns its path.
inline std::string scratchFolder(const std::string& tag)
{
    const char* base = std::getenv("OMBREL_TEST_TMP");
    const std::string dir = std::string(base && *base ? base : "/tmp") + "/" + tag + "-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    return dir;
}

// Writes the bytes as the whole file at path (an empty file for none).
inline void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

} // namespace ombrel_fuzz
