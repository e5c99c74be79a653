// Replays every kept input of the image-file fuzz target (hwlibs/dummy/fuzz/corpus): crashes it once
// found stay fixed, under ASan/UBSan too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(DummyImageFuzzReplay, EveryKeptInputReadsWithoutCrash)
{
    std::vector<std::filesystem::path> inputs;
    for (const auto& e : std::filesystem::directory_iterator("../fuzz/corpus"))
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
