// File names with an index or a description extension, column counting over LF and CR LF lines, and
// the whole-array files: exact contents, refused bad input, and an old file that survives a failed write.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"
#include "array_files.h"
#include "file_names.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPathSize = 512;

TEST(IndexedFileName, InsertsPaddedIndexBeforeExtension)
{
    const struct {
        const char* path;
        int index;
        int digits;
        const char* expected;
    } cases[] = {
        {"frame.txt", 5, 3, "frame005.txt"},
        {"frame", 5, 3, "frame005"},
        {"frame.txt", 1234, 2, "frame1234.txt"},
        {"frame.txt", 7, 0, "frame7.txt"},
        {"/data/run.1/frame", 12, 1, "/data/run.1/frame12"}, // a dot in a folder is no extension
        {"/data/f.tar.gz", 7, 2, "/data/f.tar07.gz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        char out[kPathSize];
        EXPECT_EQ(makeIndexedFileName(out, c.path, c.index, c.digits), out);
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(IndexedFileName, RefusesNamesThatDoNotFit)
{
    // stem + 3 digits + ".txt" = 511 characters fits with its zero; one more does not.
    const std::string fits = std::string(504, 'a') + ".txt";
    const std::string tooLong = std::string(505, 'a') + ".txt";
    char out[kPathSize];
    ASSERT_EQ(makeIndexedFileName(out, fits.c_str(), 5, 3), out);
    EXPECT_EQ(std::strlen(out), 511u);
    EXPECT_EQ(makeIndexedFileName(out, tooLong.c_str(), 5, 3), nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(makeIndexedFileName(out, "frame.txt", 1, 600), nullptr);
    EXPECT_EQ(makeIndexedFileName(out, "frame.txt", 1, -1), nullptr);
    EXPECT_EQ(makeIndexedFileName(out, nullptr, 1, 3), nullptr);
}

TEST(DscFileName, ReplacesOrAppendsExtension)
{
    const struct {
        const char* dataFile;
        const char* expected;
    } cases[] = {
        {"/a.b/file", "/a.b/file.dsc"},
        {"frame.txt", "frame.dsc"},
        {"frame.", "frame.dsc"},
        {"/data/f.tar.gz", "/data/f.tar.dsc"},
        {"frame.dsc", "frame.dsc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dataFile);
        char out[kPathSize];
        EXPECT_EQ(makeDscFileName(c.dataFile, out), 0);
        EXPECT_STREQ(out, c.expected);
    }

    char out[kPathSize];
    EXPECT_EQ(makeDscFileName(std::string(507, 'a').c_str(), out), 0); // 511 characters
    EXPECT_EQ(makeDscFileName(std::string(508, 'a').c_str(), out), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(makeDscFileName(nullptr, out), -1);
}

TEST(FileExtension, TextAfterTheLastDotOfTheFileName)
{
    const struct {
        const char* path;
        const char* expected; // null: no extension
    } cases[] = {
        {"image.png", "png"},
        {"/data/f.tar.gz", "gz"},
        {"/a.b/file", nullptr},   // the dot lies in a folder name
        {"file.", nullptr},       // an empty extension would match anything
        {"noext", nullptr},
        {".hidden", "hidden"},
        {"/x/a.b/c.TIF", "TIF"},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        const char* ext = getFileExtension(c.path);
        if (!c.expected) {
            EXPECT_EQ(ext, nullptr);
            continue;
        }
        ASSERT_NE(ext, nullptr);
        EXPECT_STREQ(ext, c.expected);
        EXPECT_EQ(ext[-1], '.'); // points into the path
    }
}

TEST(FileNamePart, KeepsOnlySafeCharactersOfHardwareTexts)
{
    struct Case {
        const char* in;
        const char* out;
    };
    for (const Case& c : {Case{"W12_K7", "W12_K7"}, Case{"../../etc/passwd", "....etcpasswd"},
                          Case{"a\\b:c*d?e\"f<g>h|i", "abcdefghi"}, Case{"id 1.2-(x)", "id 1.2-(x)"},
                          Case{"tab\tnew\nline", "tabnewline"}}) {
        EXPECT_EQ(safeFileNamePart(c.in), c.out) << c.in;
    }
}

TEST(LineColumns, CountsFieldsWithoutConsumingTheLine)
{
    const struct {
        const char* text;
        int result;
        int count;
    } cases[] = {
        {"1 2  3\nnext", 0, 3},
        {"1 2  3\r\nnext", 0, 3},
        {"1.5e-3\t-2 +.5\n", 0, 3},
        {"1 2", 0, 2}, // no line end
        {"1 2\r", 0, 2},
        {"\n", 0, 0},
        {"", 0, 0},
        {"1;2\n", -1, 1},
        {"1 2\r3\n", -1, 2}, // a CR inside the line
        {"abc\n", -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = std::string("skip\n") + c.text;
        FILE* file = fmemopen(text.data(), text.size(), "r");
        ASSERT_NE(file, nullptr);
        char line[16];
        ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
        const long start = std::ftell(file);
        int count = -99;
        EXPECT_EQ(countLineColumns(file, &count), c.result);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(std::ftell(file), start) << "the line must stay unread";
        std::fclose(file);
    }
}

TEST(LineColumns, CrLfFixture)
{
    FILE* file = std::fopen("data/matrix_crlf.txt", "r");
    ASSERT_NE(file, nullptr);
    for (int line = 0; line < 3; ++line) {
        int count = 0;
        EXPECT_EQ(countLineColumns(file, &count), 0);
        EXPECT_EQ(count, 3);
        char text[32];
        ASSERT_NE(std::fgets(text, sizeof text, file), nullptr);
        EXPECT_EQ(std::atoi(text), line * 3 + 1);
    }
    std::fclose(file);

    int count = 0;
    EXPECT_EQ(countLineColumns(nullptr, &count), -1);
}

class ArrayFiles : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ombrel_test::scratchDir(std::string("utils_files_") +
                                       testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char* name) const { return (dir_ / name).string(); }

    static std::string contents(const std::string& path) { return ombrel_test::readFile(path); }
    static void put(const std::string& path, const std::string& text) { ombrel_test::writeFile(path, text); }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    fs::path dir_;
    char err_[4096] = "";
};

TEST_F(ArrayFiles, BinaryRoundTripAndReadErrors)
{
    const std::string file = path("pixels.bpc");
    put(file, "old contents that are longer");
    const std::vector<unsigned char> data = {0, 1, 2, 0xFF, 0x80, 7};
    ASSERT_EQ(writeBinaryFile(file.c_str(), err_, data.data(), 6), 0);
    EXPECT_EQ(contents(file), std::string(data.begin(), data.end()));
    EXPECT_EQ(entries(), 1u) << "no temporary file stays behind";

    std::vector<unsigned char> back(6);
    EXPECT_EQ(readBinaryFile(file.c_str(), err_, back.data(), 4), 0); // extra bytes are ignored
    EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.begin() + 4),
              std::vector<unsigned char>(data.begin(), data.begin() + 4));

    std::vector<unsigned char> untouched(10, 0xAB);
    EXPECT_EQ(readBinaryFile(file.c_str(), err_, untouched.data(), 10), TVK_ERR_READ);
    EXPECT_EQ(std::string(err_), "Reading 10 bytes from file " + file + " failed");
    EXPECT_EQ(untouched, std::vector<unsigned char>(10, 0xAB));

    const std::string missing = path("missing.bpc");
    EXPECT_EQ(readBinaryFile(missing.c_str(), err_, back.data(), 6), TVK_ERR_OPEN_READ);
    EXPECT_EQ(std::string(err_),
              "Cannot open file \"" + missing + "\" for reading: " + std::strerror(ENOENT) + ".");
    EXPECT_EQ(readBinaryFile(missing.c_str(), nullptr, back.data(), 6), TVK_ERR_OPEN_READ);

    const std::string noFolder = path("no/such/folder.bpc");
    EXPECT_EQ(writeBinaryFile(noFolder.c_str(), err_, data.data(), 6), TVK_ERR_OPEN_WRITE);
    EXPECT_EQ(std::string(err_).rfind("Cannot open file \"" + noFolder + "\" for writing: ", 0), 0u) << err_;
    EXPECT_EQ(writeBinaryFile(nullptr, err_, data.data(), 6), TVK_ERR_PARAM);
}

TEST_F(ArrayFiles, AsciiI16WritesLinesAndReadsBack)
{
    const short values[] = {1, -2, 32767, -32768, 0};
    const struct {
        unsigned perLine;
        const char* text;
    } cases[] = {{2, "1 -2\n32767 -32768\n0 "}, {5, "1 -2 32767 -32768 0\n"}, {0, "1 -2 32767 -32768 0 "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.perLine);
        const std::string file = path("matrix.txt");
        ASSERT_EQ(writeAsciiI16File(file.c_str(), values, 5, c.perLine, err_), 0) << err_;
        EXPECT_EQ(contents(file), c.text);
        short back[5] = {};
        ASSERT_EQ(readAsciiI16File(5, file.c_str(), back, err_), 0) << err_;
        EXPECT_EQ(std::vector<short>(back, back + 5), std::vector<short>(values, values + 5));
    }

    const std::string empty = path("empty.txt");
    ASSERT_EQ(writeAsciiI16File(empty.c_str(), nullptr, 0, 4, err_), 0);
    EXPECT_EQ(contents(empty), "");
}

TEST_F(ArrayFiles, AsciiI16ReadsCrLfAndRefusesBadFiles)
{
    short values[9] = {};
    ASSERT_EQ(readAsciiI16File(9, "data/pixels_crlf.txt", values, err_), 0) << err_;
    EXPECT_EQ(std::vector<short>(values, values + 9), (std::vector<short>{1, -2, 3, 32767, -32768, 0, 7, 8, 9}));

    std::vector<short> untouched(10, 99);
    EXPECT_EQ(readAsciiI16File(10, "data/pixels_crlf.txt", untouched.data(), err_), TVK_ERR_READ);
    EXPECT_STREQ(err_, "Reading 10 items from file data/pixels_crlf.txt failed");
    EXPECT_EQ(untouched, std::vector<short>(10, 99));

    // 40000 does not wrap to -25536.
    EXPECT_EQ(readAsciiI16File(6, "data/pixels_out_of_range.txt", untouched.data(), err_), TVK_ERR_READ);
    EXPECT_STREQ(err_, "Reading 6 items from file data/pixels_out_of_range.txt failed: item 5 is out of range");
    EXPECT_EQ(untouched, std::vector<short>(10, 99));

    const std::string letters = path("letters.txt");
    put(letters, "1 2x 3");
    EXPECT_EQ(readAsciiI16File(3, letters.c_str(), untouched.data(), err_), TVK_ERR_READ);
    EXPECT_EQ(readAsciiI16File(3, path("missing.txt").c_str(), untouched.data(), err_), TVK_ERR_OPEN_READ);
    EXPECT_EQ(untouched, std::vector<short>(10, 99));
}

// A folder is no file to read: both readers refuse to open it, as they refuse a missing file.
TEST_F(ArrayFiles, FolderCannotBeOpenedForReading)
{
    const std::string folder = path("folder.bpc");
    ASSERT_TRUE(fs::create_directory(folder));
    const std::string expected = "Cannot open file \"" + folder + "\" for reading: " + std::strerror(EISDIR) + ".";
    unsigned char bytes[4] = {};
    EXPECT_EQ(readBinaryFile(folder.c_str(), err_, bytes, sizeof bytes), TVK_ERR_OPEN_READ);
    EXPECT_EQ(std::string(err_), expected);
    short values[4] = {};
    EXPECT_EQ(readAsciiI16File(4, folder.c_str(), values, err_), TVK_ERR_OPEN_READ);
    EXPECT_EQ(std::string(err_), expected);
}

// Runs in a child process under a 64-byte file-size limit, as on a full disk: 0 when the writer
// reports the write error with its message.
int writeUnderSizeLimit(const std::string& file, bool binary)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {64, 64};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return 2;
    const std::vector<short> big(4096, 1234);
    char err[4096] = "";
    const int result = binary ? writeBinaryFile(file.c_str(), err, big.data(), 8192)
                              : writeAsciiI16File(file.c_str(), big.data(), 4096, 16, err);
    const std::string expected = "Error occurred while writing to file \"" + file + "\": ";
    return result == TVK_ERR_WRITE && std::string(err).rfind(expected, 0) == 0 ? 0 : 1;
}

// The writers report a failed write and the old file keeps its contents. (A full disk was reported as
// success while the old file was already truncated.)
TEST_F(ArrayFiles, FailedWriteKeepsOldFile)
{
    const std::string file = path("keep.bin");
    const std::string old = "old contents";
    for (bool binary : {true, false}) {
        SCOPED_TRACE(binary ? "binary" : "ascii");
        put(file, old);
        EXPECT_EXIT(std::exit(writeUnderSizeLimit(file, binary)), testing::ExitedWithCode(0), "");
        EXPECT_EQ(contents(file), old);
        EXPECT_EQ(entries(), 1u) << "the temporary file is removed";
    }
}

} // namespace
