// Frame files and description files: round trips over every format, golden files, the rules of saving
// (conversion, append, no description, no file) and of loading (description match, text matrices).
// Also run under a comma-decimal locale.
#include <cmath>
#include <cstring>

#include "blocked_save_cases.h"
#include "frame_test_support.h"
#include "platform/syserror.h"

using namespace frametest;

namespace {

constexpr uint32_t kW = 5;
constexpr uint32_t kH = 3;

// A small non-square frame with negative, zero and large values; doubles that need all their digits.
FramePtr sampleFrame(int type)
{
    FramePtr f = newFrame(kW, kH, type);
    if (type == TYPE_I16) {
        const int16_t v[kW * kH] = {-32768, -1, 0, 1, 32767, 0, 0, 1234, -5, 0, 7, 0, 0, 0, 300};
        EXPECT_EQ(f->setData(v, sizeof v), 0);
    } else if (type == TYPE_U32) {
        const uint32_t v[kW * kH] = {0, 1, 4294967295u, 123456789, 0, 0, 65536, 0, 7, 0, 0, 0, 2, 3, 4000000000u};
        EXPECT_EQ(f->setData(v, sizeof v), 0);
    } else {
        const double v[kW * kH] = {-12.5, 0, 1.5e20, 0.1 + 0.2, -1.0 / 3, 0, 0, 65535, -7, 0, 1e-7, 0, 0, 0, 1.0 / 7};
        EXPECT_EQ(f->setData(v, sizeof v), 0);
    }
    return f;
}

// One attribute of every type.
void addEveryAttribute(TvkFrameInfo& f)
{
    const int32_t b[2] = {1, 0};
    const uint8_t bytes[2] = {0, 255};
    const int16_t i16[3] = {-32768, 0, 32767};
    const uint16_t u16[2] = {0, 65535};
    const int32_t i32[2] = {-2147483647 - 1, 5};
    const uint32_t u32[1] = {4294967295u};
    const float fl[2] = {0.1f, -3.5e30f};
    const double d[3] = {0.123456789012345, -1e-300, 2.5};
    const char str[8] = "str";
    ASSERT_EQ(f.addAttrib("bool", "a bool", TYPE_BOOL, b, 2, 0), 0);
    ASSERT_EQ(f.addAttrib("char", "text with \"quotes\"", TYPE_CHAR, "hello", 6, 0), 0);
    ASSERT_EQ(f.addAttrib("uchar", "", TYPE_UCHAR, "world", 6, 0), 0);
    ASSERT_EQ(f.addAttrib("byte", "bytes", TYPE_BYTE, bytes, 2, 0), 0);
    ASSERT_EQ(f.addAttrib("i16", "shorts", TYPE_I16, i16, 3, 0), 0);
    ASSERT_EQ(f.addAttrib("u16", "DACs", TYPE_U16, u16, 2, 0), 0);
    ASSERT_EQ(f.addAttrib("i32", "ints", TYPE_I32, i32, 2, 0), 0);
    ASSERT_EQ(f.addAttrib("u32", "uints", TYPE_U32, u32, 1, 0), 0);
    ASSERT_EQ(f.addAttrib("float", "floats", TYPE_FLOAT, fl, 2, 0), 0);
    ASSERT_EQ(f.addAttrib("double", "doubles", TYPE_DOUBLE, d, 3, 0), 0);
    ASSERT_EQ(f.addAttrib("string", "string type", TYPE_STRING, str, 2, 0), 0);
}

struct AttribValue {
    std::string description;
    int type;
    std::vector<uint8_t> bytes;
    bool operator==(const AttribValue&) const = default;
};

std::map<std::string, AttribValue> attributesOf(TvkFrameInfo& f)
{
    std::map<std::string, AttribValue> out;
    int cursor;
    _ExtFrameAttrib a;
    for (int rc = f.getFirstAttrib(&cursor, &a); rc == 0; rc = f.getNextAttrib(&cursor, &a)) {
        AttribValue v{a.description, a.type, std::vector<uint8_t>(a.size)};
        uint32_t size = a.size;
        if (f.getAttribData(a.name, v.bytes.data(), &size, nullptr) != 0)
            v.bytes.clear(); // a name longer than the record holds: the caller checks it by its full name
        out[a.name] = v;
    }
    return out;
}

const char* typeLabel(int t) { return t == TYPE_I16 ? "i16" : t == TYPE_U32 ? "u32" : "double"; }

TEST(FrameFiles, RoundTripOverEveryFormat)
{
    const std::string dir = scratchDir();
    struct Format {
        const char* label;
        uint32_t flags;
    } formats[] = {
        {"binary dense", FSAVE_BINARY},
        {"binary xy", FSAVE_BINARY | FSAVE_SPARSEXY},
        {"binary index", FSAVE_BINARY | FSAVE_SPARSEX},
        {"text dense", FSAVE_ASCII},
        {"text xy", FSAVE_ASCII | FSAVE_SPARSEXY},
        {"text index", FSAVE_ASCII | FSAVE_SPARSEX},
    };
    int n = 0;
    for (const Format& fmt : formats) {
        for (int type : {TYPE_I16, TYPE_U32, TYPE_DOUBLE}) {
            for (bool withDsc : {true, false}) {
                SCOPED_TRACE(testing::Message() << fmt.label << " " << typeLabel(type) << (withDsc ? " with" : " without")
                                                << " description");
                const std::string file = dir + "/frame" + std::to_string(n++) + ".dat";
                FramePtr src = sampleFrame(type);
                addEveryAttribute(*src);
                const uint32_t flags = fmt.flags | (withDsc ? 0 : FSAVE_NODSC);
                ASSERT_EQ(src->save(file.c_str(), flags), 0) << src->getLastErr();
                const uint32_t saved = flags | (type == TYPE_I16 ? FSAVE_I16 : type == TYPE_U32 ? FSAVE_U32 : FSAVE_DOUBLE);
                EXPECT_EQ(src->getFileFlags(), saved);
                EXPECT_EQ(src->getDataFileName(), file);

                FramePtr back = newFrame();
                if (withDsc) {
                    ASSERT_EQ(back->init(file.c_str(), false), 0) << back->getLastErr();
                    EXPECT_EQ(attributesOf(*back), attributesOf(*src));
                    EXPECT_EQ(back->getFileFlags(), saved);
                    EXPECT_EQ(back->getDscFileName(), file.substr(0, file.size() - 3) + "dsc");
                    char name[512];
                    back->getName(name);
                    EXPECT_EQ(name, file.substr(dir.size() + 1));
                } else {
                    // Without a description the frame must know its size; the flags give the rest.
                    ASSERT_EQ(back->init(kW, kH, TYPE_DOUBLE, false), 0);
                    ASSERT_EQ(back->load(file.c_str(), saved), 0) << back->getLastErr();
                    EXPECT_TRUE(attributesOf(*back).empty());
                }
                uint32_t w = 0, h = 0;
                ASSERT_EQ(back->getSize(&w, &h), 0);
                EXPECT_EQ(w, kW);
                EXPECT_EQ(h, kH);
                EXPECT_EQ(back->getBuffType(), type);
                EXPECT_EQ(frameBytes(*back), frameBytes(*src));
                EXPECT_EQ(back->getRefCount(), 1u);
            }
        }
    }
}

TEST(FrameFiles, DenseTextWithoutDescriptionLoadsAsTextMatrix)
{
    const std::string dir = scratchDir();
    struct Case {
        int type;
        int loadedType;
        uint32_t flags;
    } cases[] = {{TYPE_U32, TYPE_U32, FSAVE_ASCII | FSAVE_U32}, {TYPE_DOUBLE, TYPE_DOUBLE, FSAVE_ASCII | FSAVE_DOUBLE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(typeLabel(c.type));
        const std::string file = dir + "/m" + typeLabel(c.type) + ".txt";
        FramePtr src = sampleFrame(c.type);
        ASSERT_EQ(src->save(file.c_str(), FSAVE_ASCII | FSAVE_NODSC), 0);
        EXPECT_FALSE(exists(dir + "/m" + typeLabel(c.type) + ".dsc"));
        FramePtr back = newFrame();
        ASSERT_EQ(back->init(file.c_str(), false), 0) << back->getLastErr();
        EXPECT_EQ(back->getBuffType(), c.loadedType);
        EXPECT_EQ(back->getFileFlags(), c.flags);
        EXPECT_EQ(frameBytes(*back), frameBytes(*src));
    }
}

TEST(FrameFiles, GoldenCrLfPairLoadsToKnownFrame)
{
    FramePtr f = newFrame();
    ASSERT_EQ(f->init("tests/data/frames/golden_crlf.bin", false), 0) << f->getLastErr();
    uint32_t w, h;
    ASSERT_EQ(f->getSize(&w, &h), 0);
    EXPECT_EQ(w, 3u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(f->getBuffType(), TYPE_U32);
    EXPECT_EQ(values<uint32_t>(*f), (std::vector<uint32_t>{0, 1, 2, 65536, 4294967295u, 77}));
    EXPECT_EQ(f->getFileFlags(), 33u);
    char text[512];
    f->getLogPath(text);
    EXPECT_STREQ(text, ".../frames");
    f->getName(text);
    EXPECT_STREQ(text, "golden_crlf.bin");

    const auto attrs = attributesOf(*f);
    ASSERT_EQ(attrs.size(), 6u);
    auto as = [&](const char* name, auto sample) {
        using T = decltype(sample);
        const auto& b = attrs.at(name).bytes;
        std::vector<T> v(b.size() / sizeof(T));
        std::memcpy(v.data(), b.data(), b.size());
        return v;
    };
    EXPECT_EQ(as("Tvk clock", 0.0), std::vector<double>{0.12346}); // five significant digits in old files
    EXPECT_EQ(as("DACs", uint16_t()), (std::vector<uint16_t>{1, 2, 65535}));
    EXPECT_EQ(as("Flags", int32_t()), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(attrs.at("Flags").type, TYPE_BOOL);
    EXPECT_EQ(as("Polarity", int32_t()), std::vector<int32_t>{-1});
    EXPECT_EQ(attrs.at("Polarity").description, "Detector polarity (0 negative, 1 positive)");
    const auto& interface = attrs.at("Interface").bytes;
    EXPECT_EQ(std::string(interface.begin(), interface.end()), std::string("USB\0", 4));
    const auto& note = attrs.at("Note");
    EXPECT_EQ(note.description, "");
    EXPECT_EQ(note.bytes, std::vector<uint8_t>(8, 0)); // empty value
}

TEST(FrameFiles, SavedU32FrameGivesGoldenDescriptionAndExactDataFile)
{
    const std::string dir = scratchDir();
    FramePtr f = newFrame(3, 2, TYPE_U32);
    const uint32_t v[6] = {0, 1, 2, 65536, 4294967295u, 77};
    ASSERT_EQ(f->setData(v, sizeof v), 0);
    const int32_t polarity = 1;
    const double clock = 0.5;
    const uint16_t dacs[3] = {1, 2, 65535};
    ASSERT_EQ(f->addAttrib("Polarity", "Detector polarity (0 negative, 1 positive)", TYPE_I32, &polarity, 1, 0), 0);
    ASSERT_EQ(f->addAttrib("Tvk clock", "Tarvik clock [MHz]", TYPE_DOUBLE, &clock, 1, 0), 0);
    ASSERT_EQ(f->addAttrib("DACs", "DACs values of all chips", TYPE_U16, dacs, 3, 0), 0);
    ASSERT_EQ(f->addAttrib("Interface", "Tarvik interface", TYPE_UCHAR, "USB", 4, 0), 0);
    ASSERT_EQ(f->save((dir + "/frame.bin").c_str(), FSAVE_BINARY), 0) << f->getLastErr();

    EXPECT_EQ(readBytes(dir + "/frame.dsc"), readBytes("tests/data/frames/golden_saved_u32.dsc"));
    const std::string data = readBytes(dir + "/frame.bin");
    ASSERT_EQ(data.size(), 3u * 2u * 4u);
    EXPECT_EQ(std::memcmp(data.data(), v, sizeof v), 0);
    EXPECT_EQ(f->getFileFlags(), 33u);
    EXPECT_EQ(f->getDscFileName(), dir + "/frame.dsc");
}

TEST(FrameFiles, SavingConvertsWithoutTouchingTheBuffer)
{
    const std::string dir = scratchDir();
    FramePtr f = newFrame(3, 2, TYPE_I16);
    const int16_t v[6] = {-1, 0, 2, 3, 4, 5};
    ASSERT_EQ(f->setData(v, sizeof v), 0);
    ASSERT_EQ(f->save((dir + "/a.txt").c_str(), FSAVE_ASCII | FSAVE_U32), 0);
    EXPECT_EQ(readBytes(dir + "/a.txt"), "4294967295 0 2\n3 4 5\n");
    EXPECT_EQ(f->getBuffType(), TYPE_I16);
    EXPECT_EQ(values<int16_t>(*f), std::vector<int16_t>(v, v + 6));

    FramePtr d = newFrame(2, 1, TYPE_DOUBLE);
    // Doubles are written so that they read back exactly (not cut to five digits or six decimals).
    const double dv[2] = {0.123456, -1e-5};
    ASSERT_EQ(d->setData(dv, sizeof dv), 0);
    ASSERT_EQ(d->save((dir + "/d.txt").c_str(), FSAVE_ASCII | FSAVE_NODSC), 0);
    EXPECT_EQ(readBytes(dir + "/d.txt"), "0.123456 -1e-05\n");
    ASSERT_EQ(d->save((dir + "/s.txt").c_str(), FSAVE_ASCII | FSAVE_SPARSEXY | FSAVE_NODSC), 0);
    EXPECT_EQ(readBytes(dir + "/s.txt"), "0\t0\t0.123456\n1\t0\t-1e-05\n");

    // Several type bits: exactly the type written is recorded, so the file loads back.
    FramePtr u = sampleFrame(TYPE_U32);
    ASSERT_EQ(u->save((dir + "/multi.bin").c_str(), FSAVE_BINARY | FSAVE_U32 | FSAVE_DOUBLE), 0);
    EXPECT_EQ(u->getFileFlags(), uint32_t(FSAVE_BINARY | FSAVE_DOUBLE));
    FramePtr back = newFrame();
    ASSERT_EQ(back->init((dir + "/multi.bin").c_str(), false), 0) << back->getLastErr();
    EXPECT_EQ(back->getBuffType(), TYPE_DOUBLE);
    EXPECT_EQ(values<uint32_t>(*back), values<uint32_t>(*u));
}

TEST(FrameFiles, SparseAllZeroFrameWritesAnEmptyFile)
{
    const std::string dir = scratchDir();
    FramePtr f = newFrame(4, 4, TYPE_U32);
    ASSERT_EQ(f->save((dir + "/z.bin").c_str(), FSAVE_BINARY | FSAVE_SPARSEXY), 0);
    EXPECT_EQ(readBytes(dir + "/z.bin"), "");
    FramePtr back = newFrame();
    ASSERT_EQ(back->init((dir + "/z.bin").c_str(), false), 0) << back->getLastErr();
    EXPECT_EQ(values<uint32_t>(*back), std::vector<uint32_t>(16, 0));
}

TEST(FrameFiles, NoFileAndNoDescriptionFlags)
{
    const std::string dir = scratchDir();
    FramePtr f = sampleFrame(TYPE_U32);
    EXPECT_EQ(f->save((dir + "/n.bin").c_str(), FSAVE_BINARY | FSAVE_NOFILE), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir));

    ASSERT_EQ(f->save((dir + "/n.bin").c_str(), FSAVE_BINARY | FSAVE_NODSC), 0);
    EXPECT_FALSE(exists(dir + "/n.dsc"));
    FramePtr back = newFrame();
    EXPECT_EQ(back->init((dir + "/n.bin").c_str(), false), FRAME_ERR_DATA_FORMAT);
    EXPECT_NE(std::strstr(back->getLastErr(), "cannot read binary data file without corresponding description file"),
              nullptr);
    EXPECT_FALSE(back->isInit());
}

TEST(FrameFiles, TextMatrixGivesWidthFromFirstLineAndTypeFromFractions)
{
    const std::string dir = scratchDir();
    struct Case {
        const char* text;
        int code;
        uint32_t width, height;
        int type;
        uint32_t flags;
    } cases[] = {
        {"1 2 3 4\n5 6 7 8\n9 10 11 12\n", 0, 4, 3, TYPE_U32, 0x22},
        {"1 2 3 4\r\n5 1.5 7 8\r\n9 10 11 12\r\n", 0, 4, 3, TYPE_DOUBLE, 0x42},
        {"1\t2\n3\t4", 0, 2, 2, TYPE_U32, 0x22},
        {"1 2 3\n4 5\n", FRAME_ERR_DATA_FORMAT, 0, 0, 0, 0},      // ragged
        {"1 2\n3 4\n+ 5\n", FRAME_ERR_DATA_FORMAT, 0, 0, 0, 0},   // a value that does not parse, then more
        {"1 2\nx 4\n", FRAME_ERR_DATA_FORMAT, 0, 0, 0, 0},        // a letter
        {"\n1 2\n", TVK_ERR_GENERIC, 0, 0, 0, 0},                 // width 0
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string file = dir + "/t" + std::to_string(i++) + ".txt";
        writeBytes(file, c.text);
        FramePtr f = newFrame();
        ASSERT_EQ(f->init(file.c_str(), false), c.code) << f->getLastErr();
        if (c.code)
            continue;
        uint32_t w, h;
        ASSERT_EQ(f->getSize(&w, &h), 0);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        EXPECT_EQ(f->getBuffType(), c.type);
        EXPECT_EQ(f->getFileFlags(), c.flags);
    }
}

TEST(FrameFiles, DescriptionMustNameTheDataFile)
{
    const std::string dir = scratchDir();
    std::filesystem::create_directories(dir + "/a");
    std::filesystem::create_directories(dir + "/b");
    FramePtr f = sampleFrame(TYPE_U32);
    ASSERT_EQ(f->save((dir + "/a/f.bin").c_str(), FSAVE_BINARY), 0);

    // Moved together: still a pair.
    std::filesystem::rename(dir + "/a/f.bin", dir + "/b/f.bin");
    std::filesystem::rename(dir + "/a/f.dsc", dir + "/b/f.dsc");
    FramePtr back = newFrame();
    ASSERT_EQ(back->init((dir + "/b/f.bin").c_str(), false), 0) << back->getLastErr();
    EXPECT_EQ(frameBytes(*back), frameBytes(*f));
    ASSERT_EQ(back->init((dir + "/b/f.dsc").c_str(), false), 0) << back->getLastErr(); // by its description
    EXPECT_EQ(back->getDataFileName(), dir + "/b/f.bin");

    // Renamed: the header still names f.bin, so g.bin is tried as a text matrix.
    std::filesystem::rename(dir + "/b/f.bin", dir + "/b/g.bin");
    std::filesystem::rename(dir + "/b/f.dsc", dir + "/b/g.dsc");
    EXPECT_EQ(back->init((dir + "/b/g.bin").c_str(), false), FRAME_ERR_DATA_FORMAT);
    EXPECT_FALSE(back->isInit());
}

TEST(FrameFiles, DescriptionFieldsOfAnyLengthAndWithLineBreaksReadBack)
{
    const std::string dir = scratchDir();
    FramePtr f = newFrame(2, 2, TYPE_U32);
    const std::string longName(300, 'N');
    const std::string longDesc(1000, 'D');
    std::vector<double> many(5000);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = double(i) / 7.0; // a value line far beyond 16384 characters
    const std::string multiLine = "line one\nline two\n\n\"quoted\" text\n\n\nlast\n";
    ASSERT_EQ(f->addAttrib(longName.c_str(), longDesc.c_str(), TYPE_DOUBLE, many.data(), uint32_t(many.size()), 0), 0);
    ASSERT_EQ(f->addAttrib("emptydesc", "", TYPE_I32, nullptr, 1, 0), 0);
    ASSERT_EQ(f->addAttrib("emptyvalue", "no text", TYPE_CHAR, "", 1, 0), 0);
    ASSERT_EQ(f->addAttrib("noelements", "count 0", TYPE_U32, nullptr, 0, 0), 0);
    ASSERT_EQ(f->addAttrib("lines", "text with line breaks", TYPE_CHAR, multiLine.c_str(),
                           uint32_t(multiLine.size() + 1), 0),
              0);
    ASSERT_EQ(f->addAttrib("unterminated", "no zero", TYPE_CHAR, "abc", 3, 0), 0);
    ASSERT_EQ(f->addAttrib("zz", "last one", TYPE_CHAR, "end\n", 5, 0), 0);
    ASSERT_EQ(f->save((dir + "/f.bin").c_str(), FSAVE_BINARY), 0) << f->getLastErr();

    FramePtr back = newFrame();
    ASSERT_EQ(back->init((dir + "/f.bin").c_str(), false), 0) << back->getLastErr();
    EXPECT_EQ(attributesOf(*back), attributesOf(*f));
    std::vector<double> again(many.size());
    uint32_t size = uint32_t(again.size() * sizeof(double));
    ASSERT_EQ(back->getAttribData(longName.c_str(), again.data(), &size, nullptr), 0);
    EXPECT_EQ(again, many);
}

// A value given a size that is no whole number of elements (setAttribData allows it) loses none of its
// bytes in the description file: the started element is written whole, zero-filled.
TEST(FrameFiles, ValueOfPartialElementsKeepsItsLastBytes)
{
    const std::string dir = scratchDir();
    struct Case {
        _Data_Types type;
        std::vector<uint8_t> value;    // set with setAttribData
        std::vector<uint8_t> readBack; // the value after saving and loading
    };
    const std::vector<Case> cases = {
        {TYPE_I32, {1, 0, 0, 0, 2, 0}, {1, 0, 0, 0, 2, 0, 0, 0}},
        {TYPE_U16, {7, 0, 9}, {7, 0, 9, 0}},
        {TYPE_STRING, {'a', 'b', 'c', 'd', 'e', 'f'}, {'a', 'b', 'c', 'd', 'e', 'f', 0, 0}},
        {TYPE_I32, {1, 0, 0, 0}, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        FramePtr f = newFrame(2, 1, TYPE_U32);
        ASSERT_EQ(f->addAttrib("v", "partial", c.type, nullptr, 1, 0), 0);
        ASSERT_EQ(f->setAttribData("v", c.value.data(), uint32_t(c.value.size())), 0);
        ASSERT_EQ(f->save((dir + "/p.bin").c_str(), FSAVE_BINARY), 0) << f->getLastErr();
        FramePtr back = newFrame();
        ASSERT_EQ(back->init((dir + "/p.bin").c_str(), false), 0) << back->getLastErr();
        std::vector<uint8_t> got(64);
        uint32_t size = uint32_t(got.size());
        ASSERT_EQ(back->getAttribData("v", got.data(), &size, nullptr), 0);
        got.resize(size);
        EXPECT_EQ(got, c.readBack);
    }
}

TEST(FrameFiles, AppendAddsFramesAndLoadReadsTheFirst)
{
    const std::string dir = scratchDir();
    const std::string file = dir + "/series.bin";
    FramePtr a = sampleFrame(TYPE_U32);
    FramePtr b = newFrame(kW, kH, TYPE_U32);
    ASSERT_EQ(a->save(file.c_str(), FSAVE_BINARY | FSAVE_APPEND), 0);
    ASSERT_EQ(b->save(file.c_str(), FSAVE_BINARY | FSAVE_APPEND), 0);
    EXPECT_EQ(readBytes(file).size(), 2u * kW * kH * 4);
    FramePtr back = newFrame(kW, kH, TYPE_U32);
    ASSERT_EQ(back->load(file.c_str(), FSAVE_BINARY | FSAVE_U32), 0) << back->getLastErr();
    EXPECT_EQ(frameBytes(*back), frameBytes(*a));

    if (exists("/dev/full")) { // every write fails there
        EXPECT_EQ(a->save("/dev/full", FSAVE_BINARY | FSAVE_APPEND | FSAVE_NODSC), TVK_ERR_WRITE);
        EXPECT_NE(std::strstr(a->getLastErr(), "Error occurred while writing to file \"/dev/full\""), nullptr);
        EXPECT_EQ(a->getDataFileName(), file); // unchanged by the failed save
    }
}

TEST(FrameFiles, FailedSaveLeavesEarlierFilesIntact)
{
    const std::string dir = scratchDir();
    FramePtr f = sampleFrame(TYPE_U32);

    // A data file named *.dsc would overwrite its own description.
    EXPECT_EQ(f->save((dir + "/x.dsc").c_str(), FSAVE_BINARY), TVK_ERR_PARAM);
    EXPECT_EQ(f->save((dir + "/x.DSC").c_str(), FSAVE_ASCII | FSAVE_NODSC), TVK_ERR_PARAM);
    EXPECT_TRUE(std::filesystem::is_empty(dir));

    // The data file cannot replace a folder (it cannot be opened for writing): the new description is
    // never put in place.
    std::filesystem::create_directories(dir + "/d.bin");
    EXPECT_EQ(f->save((dir + "/d.bin").c_str(), FSAVE_BINARY), TVK_ERR_OPEN_WRITE);
    EXPECT_FALSE(exists(dir + "/d.dsc"));
    writeBytes(dir + "/d.dsc", "an earlier description");
    EXPECT_EQ(f->save((dir + "/d.bin").c_str(), FSAVE_ASCII), TVK_ERR_OPEN_WRITE);
    EXPECT_EQ(readBytes(dir + "/d.dsc"), "an earlier description");

    // A folder that does not exist: nothing is written, the earlier pair elsewhere is untouched.
    ASSERT_EQ(f->save((dir + "/ok.bin").c_str(), FSAVE_BINARY), 0);
    const std::string dsc = readBytes(dir + "/ok.dsc");
    const std::string data = readBytes(dir + "/ok.bin");
    EXPECT_EQ(f->save((dir + "/missing/ok.bin").c_str(), FSAVE_BINARY), TVK_ERR_OPEN_WRITE);
    EXPECT_EQ(f->getDataFileName(), dir + "/ok.bin");
    EXPECT_EQ(readBytes(dir + "/ok.dsc"), dsc);
    EXPECT_EQ(readBytes(dir + "/ok.bin"), data);
    for (const auto& e : std::filesystem::directory_iterator(dir)) // no temporary files left
        EXPECT_EQ(e.path().string().find(".~tmp"), std::string::npos) << e.path();

    FramePtr empty = newFrame();
    EXPECT_EQ(empty->save((dir + "/e.bin").c_str(), FSAVE_BINARY), FRAME_ERR_NOT_INIT);
}

// A save that reports failure leaves both old files byte for byte, whichever of them is blocked, in every
// form and mode of saving; the frame's message names the blocked file and gives the system's reason. (The
// description's name taken by a folder used to fail only after the new data had replaced the old.)
TEST(FrameFiles, BlockedSaveKeepsTheOldPair)
{
    const uint32_t forms[] = {FSAVE_BINARY, FSAVE_ASCII, FSAVE_BINARY | FSAVE_SPARSEX, FSAVE_BINARY | FSAVE_APPEND};
    int n = 0;
    for (const ombrel_test::BlockedSave& c : ombrel_test::blockedSaves()) {
        for (uint32_t flags : forms) {
            if ((flags & FSAVE_APPEND) && !c.folderError && std::string(c.blocked) == "f.bin")
                continue; // appending to a file makes no new entry in its folder: that save may succeed
            SCOPED_TRACE(std::string(c.label) + ", flags " + std::to_string(flags));
            ombrel_test::BlockedSaveFolder folder(c, scratchDir() + "/" + std::to_string(n++));
            if (!folder.ready())
                GTEST_SKIP() << "the file system cannot refuse writing into a folder";
            FramePtr f = sampleFrame(TYPE_U32);
            ASSERT_EQ(f->save((folder.dir() + "/f.bin").c_str(), flags), TVK_ERR_OPEN_WRITE);
            EXPECT_EQ(folder.now(), folder.before());
            const int err = c.folderError ? EISDIR : ombrel_test::unwritableFolderError();
            EXPECT_NE(std::string(f->getLastErr())
                          .find("Cannot open file \"" + folder.dir() + "/" + c.blocked +
                                "\" for writing: " + plat::systemErrorText(err) + "."),
                      std::string::npos)
                << f->getLastErr();
            EXPECT_EQ(f->getDataFileName(), "");
        }
    }
}

TEST(FrameFiles, LoadDetectsFormatAndTypeWhenNotGiven)
{
    const std::string dir = scratchDir();
    struct Case {
        int savedType;
        uint32_t saveFlags;
        int loadedType;
    } cases[] = {
        {TYPE_I16, FSAVE_BINARY, TYPE_I16},
        {TYPE_U32, FSAVE_BINARY, TYPE_U32},
        {TYPE_DOUBLE, FSAVE_BINARY, TYPE_DOUBLE},
        {TYPE_U32, FSAVE_ASCII, TYPE_U32},
        {TYPE_DOUBLE, FSAVE_ASCII, TYPE_DOUBLE},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(i);
        const std::string file = dir + "/f" + std::to_string(i++);
        FramePtr src = sampleFrame(c.savedType);
        ASSERT_EQ(src->save(file.c_str(), c.saveFlags | FSAVE_NODSC), 0);
        FramePtr back = newFrame(kW, kH, TYPE_I16);
        ASSERT_EQ(back->load(file.c_str(), 0), 0) << back->getLastErr();
        EXPECT_EQ(back->getBuffType(), c.loadedType);
        EXPECT_EQ(frameBytes(*back), frameBytes(*src));
    }
    FramePtr wrongSize = newFrame(4, 4, TYPE_U32);
    EXPECT_EQ(wrongSize->load((dir + "/f0").c_str(), 0), TVK_ERR_GENERIC); // binary of no matching size
    FramePtr empty = newFrame();
    EXPECT_EQ(empty->load((dir + "/f0").c_str(), 0), FRAME_ERR_NOT_INIT);
}

} // namespace
