// The wafer map: the order of the dies (reversed direction included), its text and image, the test
// names, and the wafer names that would write outside the output folder.
#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "wafer_map.h"

using namespace probing;

TEST(WaferMap, DiesRowByRowFromTheTopInEitherDirection)
{
    struct Case {
        bool reversed;
        std::vector<std::pair<int, int>> order;
    } cases[] = {{false, {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}}},
                 {true, {{2, 0}, {1, 0}, {0, 0}, {2, 1}, {1, 1}, {0, 1}}}};
    for (const Case& c : cases) {
        WaferMap map(3, 2);
        std::vector<std::pair<int, int>> seen;
        int col = -1, row = -1;
        while (map.nextDie(c.reversed, &col, &row)) {
            seen.emplace_back(col, row);
            map.record(col, row, static_cast<int>(seen.size()) % 6, 150.0);
        }
        EXPECT_EQ(seen, c.order);
        EXPECT_EQ(map.remaining(), 0);
        EXPECT_EQ(map.tested(), 6);
    }
}

TEST(WaferMap, TextHasALinePerRowAndACharacterPerDie)
{
    WaferMap map(3, 2);
    map.record(0, 0, 0, -1);
    map.record(2, 0, 4, -1);
    map.record(1, 1, 5, -1);
    map.record(5, 5, 0, -1); // outside: ignored
    EXPECT_EQ(map.text(), "A.E\n.X.\n");
}

TEST(WaferMap, ImageShowsClassAndCurrentOnlyWhenAsked)
{
    WaferMap map(2, 1);
    map.record(0, 0, 1, 212.0);
    struct Case {
        bool showClass, showCurrent;
        bool hasLetter, hasCurrent;
    } cases[] = {{false, false, false, false}, {true, false, true, false}, {false, true, false, true}, {true, true, true, true}};
    for (const Case& c : cases) {
        const std::string svg = map.svg(c.showClass, c.showCurrent);
        EXPECT_EQ(svg.find(">B</text>") != std::string::npos, c.hasLetter);
        EXPECT_EQ(svg.find(">212</text>") != std::string::npos, c.hasCurrent);
        EXPECT_NE(svg.find("<svg"), std::string::npos);
    }
}

TEST(WaferMap, FilesWrittenWholeIntoTheFolder)
{
    const std::string dir = ombrel_test::scratchDir("wafer-map");
    WaferMap map(2, 2);
    map.record(1, 1, 2, -1);
    std::string error;
    ASSERT_EQ(map.writeFiles(dir, "W1", true, false, &error), 0) << error;
    EXPECT_EQ(ombrel_test::readFile(dir + "/W1.txt"), "..\n.C\n");
    EXPECT_NE(ombrel_test::readFile(dir + "/W1.svg").find(">C</text>"), std::string::npos);
    EXPECT_NE(map.writeFiles(dir + "/missing", "W1", true, false, &error), 0);
}

TEST(WaferNames, ThoseThatLeaveTheFolderAreRefused)
{
    struct Case {
        const char* name;
        bool valid;
    } cases[] = {{"W1", true}, {"lot 7.wafer", true}, {"", false}, {"a/b", false},
                 {"..", false}, {"x..y", false}, {"/etc", false}, {"a\nb", false}};
    for (const Case& c : cases)
        EXPECT_EQ(validWaferName(c.name), c.valid) << c.name;
}

TEST(WaferNames, TestNameOfADie)
{
    EXPECT_EQ(dieTestName("W1", 0, 0), "W1_01(A)_01");
    EXPECT_EQ(dieTestName("W1", 2, 11), "W1_03(C)_12");
}
