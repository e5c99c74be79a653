// Replays every kept input of one fuzz target (the folder FUZZ_CORPUS_DIR, given by the build): what a
// fuzzer once found stays fixed, with the ordinary compiler and under ASan/UBSan too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

TEST(FuzzReplay, EveryKeptInputRunsWithoutFault)
{
    if (LLVMFuzzerInitialize) {
        int argc = 0;
        char** argv = nullptr;
        LLVMFuzzerInitialize(&argc, &argv);
    }
    std::vector<std::filesystem::path> inputs;
    for (const auto& e : std::filesystem::directory_iterator(FUZZ_CORPUS_DIR))
        if (e.is_regular_file())
            inputs.push_back(e.path());
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty());
    for (const auto& path : inputs) {
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}
