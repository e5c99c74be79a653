// The super-matrix map of four chips and the row-wise conversions built on it.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "super_matrix.h"

namespace {

TEST(SuperMatrixMap, EachQuadrantComesFromItsChipFlippedAsTabled)
{
    struct Case {
        uint32_t x, y;
        uint32_t chip, row, column;
    };
    const Case cases[] = {
        {0, 0, 1, 0, 255},       {255, 0, 1, 0, 0},       {0, 255, 1, 255, 255},
        {256, 0, 0, 0, 255},     {511, 0, 0, 0, 0},       {300, 17, 0, 17, 211},
        {0, 256, 2, 255, 0},     {255, 511, 2, 0, 255},   {40, 300, 2, 211, 40},
        {256, 256, 3, 255, 0},   {511, 511, 3, 0, 255},   {400, 450, 3, 61, 144},
    };
    const uint32_t* map = supermatrix::map();
    EXPECT_EQ(map[0], 65791u);
    for (const Case& c : cases) {
        const uint32_t k = c.y * 512 + c.x;
        EXPECT_EQ(map[k], c.chip * 65536 + c.row * 256 + c.column) << "x " << c.x << " y " << c.y;
        EXPECT_EQ(supermatrix::indexOfChipPixel(c.chip, c.row, c.column), k);
    }
    // A permutation: every chip pixel appears exactly once.
    std::vector<uint8_t> seen(supermatrix::kPixels, 0);
    for (uint32_t k = 0; k < supermatrix::kPixels; ++k)
        ++seen[map[k]];
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(supermatrix::kPixels));
}

template <class T>
void checkConversions()
{
    std::vector<T> chips(supermatrix::kPixels), matrix(supermatrix::kPixels), back(supermatrix::kPixels);
    for (uint32_t j = 0; j < chips.size(); ++j)
        chips[j] = static_cast<T>(j * 2654435761u);
    ASSERT_TRUE(supermatrix::toMatrix(chips.data(), matrix.data(), sizeof(T)));
    const uint32_t* map = supermatrix::map();
    for (uint32_t k = 0; k < supermatrix::kPixels; ++k)
        ASSERT_EQ(matrix[k], chips[map[k]]) << "element size " << sizeof(T) << " k " << k;
    ASSERT_TRUE(supermatrix::fromMatrix(matrix.data(), back.data(), sizeof(T)));
    EXPECT_EQ(back, chips);
}

TEST(SuperMatrixConversion, RowCopiesAgreeWithTheMapForEveryElementSize)
{
    checkConversions<uint8_t>();
    checkConversions<uint16_t>();
    checkConversions<uint32_t>();
    checkConversions<uint64_t>();
    std::vector<uint8_t> buffer(supermatrix::kPixels * 3);
    EXPECT_FALSE(supermatrix::toMatrix(buffer.data(), buffer.data(), 3));
    EXPECT_FALSE(supermatrix::fromMatrix(buffer.data(), buffer.data(), 3));
}

} // namespace
