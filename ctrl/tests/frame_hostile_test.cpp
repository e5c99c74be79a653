// Hostile frame and description files: each gives its code and reason, nothing is allocated from an
// unchecked size, the input files stay as they were, and a failed load keeps the frame's data.
#include <cstring>
#include <map>
#include <sys/stat.h>

#include "frame_test_support.h"

using namespace frametest;

namespace {

std::string u32s(std::initializer_list<uint32_t> v)
{
    std::string out(v.size() * 4, '\0');
    std::memcpy(out.data(), std::data(v), out.size());
    return out;
}

std::string dsc(const std::string& dataName, const std::string& header, const std::string& blocks = "")
{
    return "Description file for \"" + dataName + "\"\n" + header + "\n" + blocks;
}

struct Case {
    const char* label;
    std::map<std::string, std::string> files;
    const char* target;  // the file handed to init, or to load when loadFlags is set
    uint32_t loadFlags;  // 0: init(target); else load(target, loadFlags) into a 3 x 2 u32 frame
    int code;
    const char* reason;  // a part of the error text
};

std::vector<Case> hostileCases()
{
    const std::string okHeader = "format = 33 width = 3 height = 2";
    const std::string sixValues = u32s({1, 2, 3, 4, 5, 6});
    const std::string tenMegaDigits(10u << 20, '7');
    return {
        {"dimensions beyond 32 bits", {{"f.dsc", dsc("f.bin", "format = 33 width = 4294967295 height = 4294967295")}},
         "f.dsc", 0, FRAME_ERR_DSC_FORMAT, "invalid frame size"},
        {"pixel count wraps to 0", {{"f.dsc", dsc("f.bin", "format = 33 width = 65536 height = 65536")}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "invalid frame size"},
        {"bytes beyond 32 bits", {{"f.dsc", dsc("f.bin", "format = 65 width = 40000 height = 40000")}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "invalid frame size"},
        {"zero width", {{"f.dsc", dsc("f.bin", "format = 33 width = 0 height = 2")}, {"f.bin", sixValues}}, "f.dsc", 0,
         FRAME_ERR_SIZE, "Invalid frame size"},
        {"attribute bytes beyond 32 bits",
         {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"\"):\nu32[2147483647]\n1 \n\n")}, {"f.bin", sixValues}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "Invalid data in desc. file"},
        {"attribute far larger than its file",
         {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"\"):\nchar[2000000000]\nx\n\n")}, {"f.bin", sixValues}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "Invalid data in desc. file"},
        {"negative count", {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"\"):\ni32[-1]\n\n\n")}, {"f.bin", sixValues}},
         "f.dsc", 0, FRAME_ERR_DSC_FORMAT, "Invalid data in desc. file"},
        {"unknown type", {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"\"):\nU32[1]\n1 \n\n")}, {"f.bin", sixValues}},
         "f.dsc", 0, FRAME_ERR_DSC_FORMAT, "Invalid data in desc. file"},
        {"value not a number", {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"\"):\ni32[2]\n1 x \n\n")}, {"f.bin", sixValues}},
         "f.dsc", 0, FRAME_ERR_DSC_FORMAT, "Data conversion error in desc. file"},
        {"value out of range", {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"\"):\ni16[1]\n40000 \n\n")}, {"f.bin", sixValues}},
         "f.dsc", 0, FRAME_ERR_DSC_FORMAT, "Data conversion error in desc. file"},
        {"10 MB number", {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"\"):\nu32[1]\n" + tenMegaDigits + "\n\n")}, {"f.bin", sixValues}},
         "f.dsc", 0, FRAME_ERR_DSC_FORMAT, "Data conversion error in desc. file"},
        {"header without quotes", {{"f.dsc", "Description file for f.bin\n" + okHeader + "\n"}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "header reading failed"},
        {"header cut short", {{"f.dsc", "Description file for \"f.bin\"\nformat = 33 width = 3"}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "header reading failed"},
        {"attribute without closing quote",
         {{"f.dsc", dsc("f.bin", okHeader, "\"a (\"d\"):\ni32[1]\n1 \n\n")}, {"f.bin", sixValues}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "invalid format of attribute"},
        {"description cut in a block", {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"d\"):\ni32")}, {"f.bin", sixValues}},
         "f.dsc", 0, FRAME_ERR_DSC_FORMAT, "invalid format of attribute"},
        {"garbage after the blocks",
         {{"f.dsc", dsc("f.bin", okHeader, "\"a\" (\"d\"):\ni32[1]\n1 \n\n%%%\n")}, {"f.bin", sixValues}}, "f.dsc", 0,
         FRAME_ERR_DSC_FORMAT, "invalid format of attribute"},
        {"format without any format bit", {{"f.dsc", dsc("f.bin", "format = 256 width = 3 height = 2")}}, "f.dsc", 0,
         TVK_ERR_GENERIC, "Unexpected error during frame operation."},
        {"data file missing", {{"f.dsc", dsc("f.bin", okHeader)}}, "f.dsc", 0, TVK_ERR_OPEN_READ, "Cannot open file"},
        {"huge frame, tiny dense binary file",
         {{"f.dsc", dsc("f.bin", "format = 33 width = 30000 height = 30000")}, {"f.bin", sixValues}}, "f.dsc", 0,
         FRAME_ERR_DATA_FORMAT, "invalid number of items"},
        {"huge frame, tiny dense text file",
         {{"f.dsc", dsc("f.txt", "format = 34 width = 30000 height = 30000")}, {"f.txt", "1 2\n"}}, "f.dsc", 0,
         FRAME_ERR_DATA_FORMAT, "(read items: 2, expected: 900000000)"},
        {"dense binary cut short", {{"f.dsc", dsc("f.bin", okHeader)}, {"f.bin", u32s({1, 2, 3, 4, 5})}}, "f.dsc", 0,
         FRAME_ERR_DATA_FORMAT, "invalid number of items"},
        {"dense text too few values", {{"f.dsc", dsc("f.txt", "format = 34 width = 3 height = 2")}, {"f.txt", "1 2 3\n4 5\n"}},
         "f.dsc", 0, FRAME_ERR_DATA_FORMAT, "(read items: 5, expected: 6)"},
        {"dense text 10 MB token", {{"f.txt", tenMegaDigits + "\n"}}, "f.txt", FSAVE_ASCII | FSAVE_U32,
         FRAME_ERR_DATA_FORMAT, "(read items: 0, expected: 6)"},
        {"text matrix 10 MB token", {{"m.txt", tenMegaDigits + "\n"}}, "m.txt", 0, FRAME_ERR_DATA_FORMAT,
         "it is not ASCII matrix"},
        {"binary without description", {{"b.bin", sixValues}}, "b.bin", 0, FRAME_ERR_DATA_FORMAT,
         "cannot read binary data file without corresponding description file"},
        {"sparse text x beyond width", {{"s.txt", "0\t0\t5\n3\t1\t7\n"}}, "s.txt", FSAVE_ASCII | FSAVE_U32 | FSAVE_SPARSEXY,
         FRAME_ERR_DATA_FORMAT, "dimensions of frame were exceeded"},
        {"sparse text index beyond frame", {{"s.txt", "6\t1\n"}}, "s.txt", FSAVE_ASCII | FSAVE_U32 | FSAVE_SPARSEX,
         FRAME_ERR_DATA_FORMAT, "dimensions of frame were exceeded"},
        {"sparse text record cut", {{"s.txt", "0\t0\t5\n1\t1"}}, "s.txt", FSAVE_ASCII | FSAVE_U32 | FSAVE_SPARSEXY,
         FRAME_ERR_DATA_FORMAT, "invalid number of items"},
        {"sparse text corrupt", {{"s.txt", "0\t0\t5\n1\tx\t3\n"}}, "s.txt", FSAVE_ASCII | FSAVE_U32 | FSAVE_SPARSEXY,
         FRAME_ERR_DATA_FORMAT, "invalid number of items"},
        {"sparse binary y beyond height", {{"s.bin", u32s({0, 0, 5, 1, 2, 7})}}, "s.bin",
         FSAVE_BINARY | FSAVE_U32 | FSAVE_SPARSEXY, FRAME_ERR_DATA_FORMAT, "dimensions of frame were exceeded"},
        {"sparse binary huge index", {{"s.bin", u32s({0xFFFFFFFFu, 7})}}, "s.bin", FSAVE_BINARY | FSAVE_U32 | FSAVE_SPARSEX,
         FRAME_ERR_DATA_FORMAT, "dimensions of frame were exceeded"},
        {"sparse binary record cut", {{"s.bin", u32s({0, 0, 5, 1, 1}) + "\x07"}}, "s.bin",
         FSAVE_BINARY | FSAVE_U32 | FSAVE_SPARSEXY, FRAME_ERR_DATA_FORMAT, "invalid number of items"},
        {"missing file", {}, "nothing.bin", FSAVE_BINARY | FSAVE_U32, TVK_ERR_OPEN_READ, "Cannot open file"},
        {"a folder as file", {}, ".", FSAVE_ASCII | FSAVE_U32, TVK_ERR_OPEN_READ, "it is not a regular file"},
        {"sparse binary more records than pixels", {{"s.bin", u32s({0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 0, 7})}},
         "s.bin", FSAVE_BINARY | FSAVE_U32 | FSAVE_SPARSEX, FRAME_ERR_DATA_FORMAT, "invalid number of items"},
        {"sparse text more records than pixels", {{"s.txt", "0 1\n1 2\n2 3\n3 4\n4 5\n5 6\n0 7\n"}}, "s.txt",
         FSAVE_ASCII | FSAVE_U32 | FSAVE_SPARSEX, FRAME_ERR_DATA_FORMAT, "invalid number of items"},
    };
}

TEST(FrameHostileInput, EachGivesItsCodeAndChangesNothing)
{
    const std::vector<uint32_t> before{11, 22, 33, 44, 55, 66};
    for (const Case& c : hostileCases()) {
        SCOPED_TRACE(c.label);
        const std::string dir = scratchDir();
        for (const auto& [name, bytes] : c.files)
            writeBytes(dir + "/" + name, bytes);
        const std::string target = dir + "/" + c.target;

        FramePtr f = newFrame(3, 2, TYPE_U32);
        ASSERT_EQ(f->setData(before.data(), 24), 0);
        int rc;
        if (c.loadFlags) {
            rc = f->load(target.c_str(), c.loadFlags);
            EXPECT_EQ(values<uint32_t>(*f), before); // a failed load keeps the frame's data
            EXPECT_EQ(f->getBuffType(), TYPE_U32);
        } else {
            rc = f->init(target.c_str(), false);
            EXPECT_FALSE(f->isInit());
        }
        EXPECT_EQ(rc, c.code) << f->getLastErr();
        EXPECT_NE(std::strstr(f->getLastErr(), c.reason), nullptr) << f->getLastErr();
        for (const auto& [name, bytes] : c.files)
            EXPECT_EQ(readBytes(dir + "/" + name), bytes) << name;
        std::filesystem::remove_all(dir);
    }
}

// Files that are not regular, or far too large: each is refused at open, naming the file, within two
// seconds and a 1 GiB address space. Before, a FIFO blocked the open for ever, a device as sparse data
// was read without end, and a description linked to /dev/zero grew to half a gigabyte.
TEST(FrameHostileInput, NonRegularAndOversizedFilesAreRefusedAtOnce)
{
    struct OutsideCase {
        const char* label;
        std::map<std::string, std::string> files;
        std::map<std::string, std::string> links; // name -> what it points to
        std::vector<std::string> fifos;
        const char* target;  // relative to the folder unless it starts with '/'
        uint32_t loadFlags;  // 0: init(target); else load(target, loadFlags) into a 3 x 2 u32 frame
        int code;
        const char* reason;
        const char* named;   // the file the message names
        uint64_t growTo = 0; // the target made this large (sparse: nothing of it goes to the disk)
    };
    const std::string u32Header = "format = 33 width = 3 height = 2";                   // dense binary u32
    const std::string sparseHeader = "format = 8225 width = 3 height = 2";              // sparse binary u32
    const uint32_t sparseBinary = FSAVE_BINARY | FSAVE_U32 | FSAVE_SPARSEX;
    const char* notRegular = "it is not a regular file";
    const std::vector<OutsideCase> cases = {
        {"description naming a link to /dev/zero", {{"f.dsc", dsc("z.bin", u32Header)}}, {{"z.bin", "/dev/zero"}}, {},
         "f.dsc", 0, TVK_ERR_OPEN_READ, notRegular, "z.bin"},
        {"description naming /dev/zero as sparse data", {{"f.dsc", dsc("z.bin", sparseHeader)}},
         {{"z.bin", "/dev/zero"}}, {}, "f.dsc", 0, TVK_ERR_OPEN_READ, notRegular, "z.bin"},
        {"description naming a FIFO", {{"f.dsc", dsc("p.bin", u32Header)}}, {}, {"p.bin"}, "f.dsc", 0,
         TVK_ERR_OPEN_READ, notRegular, "p.bin"},
        {"load of /dev/zero as sparse data", {}, {}, {}, "/dev/zero", sparseBinary, TVK_ERR_OPEN_READ, notRegular,
         "/dev/zero"},
        {"load of /dev/zero, format detected", {}, {}, {}, "/dev/zero", FSAVE_U32, TVK_ERR_OPEN_READ, notRegular,
         "/dev/zero"},
        {"load of a FIFO", {}, {}, {"p.txt"}, "p.txt", FSAVE_ASCII | FSAVE_U32, TVK_ERR_OPEN_READ, notRegular, "p.txt"},
        {"text matrix from a FIFO", {}, {}, {"p.txt"}, "p.txt", 0, TVK_ERR_OPEN_READ, notRegular, "p.txt"},
        {"description linked to /dev/zero", {}, {{"f.dsc", "/dev/zero"}}, {}, "f.dsc", 0, TVK_ERR_OPEN_READ,
         notRegular, "f.dsc"},
        {"description that is a FIFO", {}, {}, {"f.dsc"}, "f.dsc", 0, TVK_ERR_OPEN_READ, notRegular, "f.dsc"},
        {"data file whose description is a FIFO", {{"f.bin", u32s({1, 2, 3, 4, 5, 6})}}, {}, {"f.dsc"}, "f.bin", 0,
         FRAME_ERR_DATA_FORMAT, "cannot read binary data file without corresponding description file", "f.bin"},
        {"description above 64 MB", {{"big.dsc", dsc("f.bin", u32Header)}}, {}, {}, "big.dsc", 0, TVK_ERR_READ,
         "larger than 64 MB", "big.dsc", (uint64_t(64) << 20) + 1},
    };
    for (const OutsideCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string dir = scratchDir();
        for (const auto& [name, bytes] : c.files)
            writeBytes(dir + "/" + name, bytes);
        for (const auto& [name, to] : c.links)
            std::filesystem::create_symlink(to, dir + "/" + name);
        for (const std::string& name : c.fifos)
            ASSERT_EQ(::mkfifo((dir + "/" + name).c_str(), 0600), 0);
        const std::string target = c.target[0] == '/' ? c.target : dir + "/" + c.target;
        if (c.growTo)
            std::filesystem::resize_file(target, c.growTo);

        const std::string result = runBounded([&] {
            FramePtr f = newFrame(3, 2, TYPE_U32);
            const int rc = c.loadFlags ? f->load(target.c_str(), c.loadFlags) : f->init(target.c_str(), false);
            return std::to_string(rc) + " " + f->getLastErr();
        });
        const std::string expected = std::to_string(c.code) + " ";
        EXPECT_EQ(result.compare(0, expected.size(), expected), 0) << result;
        EXPECT_NE(result.find(c.reason), std::string::npos) << result;
        EXPECT_NE(result.find(c.named), std::string::npos) << result;
        std::filesystem::remove_all(dir);
    }
}

TEST(FrameHostileInput, LinksToRegularFilesAreRead)
{
    const std::string dir = scratchDir();
    std::filesystem::create_directories(dir + "/real");
    writeBytes(dir + "/real/f.bin", u32s({1, 2, 3, 4, 5, 6}));
    writeBytes(dir + "/real/f.dsc", dsc("f.bin", "format = 33 width = 3 height = 2"));
    std::filesystem::create_symlink("real/f.dsc", dir + "/f.dsc");
    std::filesystem::create_symlink("real/f.bin", dir + "/f.bin");
    FramePtr f = newFrame();
    ASSERT_EQ(f->init((dir + "/f.dsc").c_str(), false), 0) << f->getLastErr();
    EXPECT_EQ(values<uint32_t>(*f), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
}

TEST(FrameHostileInput, TenMegabyteTextValueIsAcceptedWhole)
{
    const std::string dir = scratchDir();
    const std::string text(10u << 20, 'a');
    writeBytes(dir + "/f.bin", u32s({1, 2, 3, 4, 5, 6}));
    writeBytes(dir + "/f.dsc", dsc("f.bin", "format = 33 width = 3 height = 2",
                                   "\"long\" (\"ten megabytes\"):\nchar[" + std::to_string(text.size() + 1) + "]\n" +
                                       text + "\n\n"));
    FramePtr f = newFrame();
    ASSERT_EQ(f->init((dir + "/f.bin").c_str(), false), 0) << f->getLastErr();
    std::string back(text.size() + 1, 'x');
    uint32_t size = uint32_t(back.size());
    ASSERT_EQ(f->getAttribData("long", back.data(), &size, nullptr), 0);
    EXPECT_EQ(back, text + '\0');
}

TEST(FrameHostileInput, BadArgumentsToFileOperations)
{
    FramePtr f = newFrame(2, 2, TYPE_U32);
    EXPECT_EQ(f->save(nullptr, FSAVE_BINARY), TVK_ERR_PARAM);
    EXPECT_EQ(f->save("", FSAVE_BINARY), TVK_ERR_PARAM);
    EXPECT_EQ(f->load(nullptr, FSAVE_BINARY), TVK_ERR_PARAM);
    EXPECT_EQ(f->init(static_cast<const char*>(nullptr), false), TVK_ERR_PARAM);
    const std::string tooLong(600, 'n');
    FramePtr g = newFrame(2, 2, TYPE_U32);
    EXPECT_EQ(g->save(tooLong.c_str(), FSAVE_BINARY), TVK_ERR_GENERIC); // no description name can be formed
}

} // namespace
