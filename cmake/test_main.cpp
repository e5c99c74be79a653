#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Honour LC_ALL from the environment: one run of some tests happens under a comma-decimal locale.
    std::setlocale(LC_ALL, "");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
