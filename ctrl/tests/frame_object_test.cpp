// The frame object: initialisation, size and type, data conversions, attributes with their notifications
// and cursor, references, and the attributes rewritten from a device.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "frame_convert.h"
#include "frame_test_support.h"

using namespace frametest;

namespace {

class FakeSource : public TvkFrameSource {
public:
    uint32_t frameDeviceIndex() const override { return index; }
    int frameChipCount() const override { return chips; }
    int32_t framePolarity() const override { return polarity; }
    int32_t frameHwTimer() const override { return hwTimer; }
    int32_t frameAcqMode() const override { return acqMode; }
    std::vector<uint16_t> frameDacs() const override { return dacs; }
    double frameAcqTime() const override { return acqTime; }

    uint32_t index = 3;
    int chips = 1;
    int32_t polarity = 1;
    int32_t hwTimer = 0;
    int32_t acqMode = 2;
    std::vector<uint16_t> dacs{10, 20, 30};
    double acqTime = 0.25;
};

TEST(FrameInit, NewFrameIsEmptyAndRefusesDataAccess)
{
    Recorder rec;
    FramePtr f = newFrame();
    EXPECT_EQ(f->getUID(), 0u);
    EXPECT_EQ(f->getDevID(), 0xFFFFFFFFu);
    EXPECT_EQ(f->getRefCount(), 0u);
    EXPECT_EQ(f->getRawAccessCount(), 0u);
    EXPECT_TRUE(f->getRegFlag());
    EXPECT_FALSE(f->isInit());
    EXPECT_EQ(f->getBuffType(), -1);
    f->setUID(17);
    uint32_t w, h;
    EXPECT_EQ(f->getSize(&w, &h), FRAME_ERR_NOT_INIT);
    EXPECT_STREQ(f->getLastErr(), "Frame 17: Frame was not properly initialized.");
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0], f->getLastErr());
}

TEST(FrameInit, SizesAndTypesAreCheckedIn64BitsBeforeAllocation)
{
    struct Case {
        uint32_t width, height;
        int type;
        int code;
    } cases[] = {
        {3, 2, TYPE_U32, 0},
        {1, 1, TYPE_I16, 0},
        {4, 5, TYPE_DOUBLE, 0},
        {0, 5, TYPE_U32, FRAME_ERR_SIZE},
        {5, 0, TYPE_I16, FRAME_ERR_SIZE},
        {3, 2, TYPE_U16, TVK_ERR_PARAM},
        {3, 2, 42, TVK_ERR_PARAM},
        {65536, 65536, TYPE_I16, FRAME_ERR_SIZE},   // pixel count wraps to 0 in 32 bits
        {65536, 32768, TYPE_U32, FRAME_ERR_SIZE},   // 8 GiB: bytes wrap to 0 in 32 bits
        {40000, 40000, TYPE_DOUBLE, FRAME_ERR_SIZE},
        {0xFFFFFFFFu, 2, TYPE_I16, FRAME_ERR_SIZE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " type " << c.type);
        FramePtr f = newFrame();
        ASSERT_EQ(f->init(c.width, c.height, c.type, false), c.code);
        EXPECT_EQ(f->isInit(), c.code == 0);
        if (c.code == 0) {
            uint32_t w, h;
            EXPECT_EQ(f->getSize(&w, &h), 0);
            EXPECT_EQ(w, c.width);
            EXPECT_EQ(h, c.height);
            EXPECT_EQ(f->getRefCount(), 1u);
            EXPECT_EQ(values<double>(*f), std::vector<double>(size_t(c.width) * c.height, 0.0)); // zero-filled
        }
    }
}

TEST(FrameInit, PersistentFrameRefusesReinitBySizeOnly)
{
    FramePtr f = newFrame();
    ASSERT_EQ(f->init(2, 2, TYPE_U32, true), 0);
    ASSERT_EQ(f->addAttrib("a", "", TYPE_I32, nullptr, 1, 0), 0);
    EXPECT_EQ(f->init(4, 4, TYPE_U32, false), TVK_ERR_GENERIC);
    EXPECT_TRUE(f->isInit()); // refused before anything was emptied
    uint32_t size = 4;
    int32_t v;
    EXPECT_EQ(f->getAttribData("a", &v, &size, nullptr), 0);
    EXPECT_EQ(f->setSize(3, 3), TVK_ERR_GENERIC);
    FakeSource dev;
    EXPECT_EQ(f->init(&dev, TYPE_I16, false), 0); // the device form replaces a persistent frame
}

TEST(FrameInit, FromDeviceSizesByChipCount)
{
    struct Case {
        int chips;
        int code;
        uint32_t side;
    } cases[] = {{1, 0, 256}, {4, 0, 512}, {2, FRAME_ERR_SIZE, 0}, {0, FRAME_ERR_SIZE, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chips);
        FakeSource dev;
        dev.chips = c.chips;
        FramePtr f = newFrame();
        ASSERT_EQ(f->init(&dev, TYPE_I16, true), c.code);
        if (c.code == 0) {
            uint32_t w, h;
            ASSERT_EQ(f->getSize(&w, &h), 0);
            EXPECT_EQ(w, c.side);
            EXPECT_EQ(h, c.side);
            EXPECT_EQ(f->getDevID(), 3u);
            EXPECT_EQ(f->getBuffType(), TYPE_I16);
        }
    }
    FramePtr f = newFrame();
    EXPECT_EQ(f->init(static_cast<TvkFrameSource*>(nullptr), TYPE_I16, false), TVK_ERR_PARAM);
    EXPECT_NE(std::strstr(f->getLastErr(), "Invalid parameter value (tvkDev)."), nullptr);
    FakeSource dev;
    EXPECT_EQ(f->init(&dev, TYPE_U16, false), TVK_ERR_PARAM);
    EXPECT_NE(std::strstr(f->getLastErr(), "(frameType)"), nullptr);
}

// ---- data ----

struct ConvCase {
    int from;
    double value; // stored in the source type
    int to;
    double expected; // read back in the target type
};

void storeOne(TvkFrameInfo& f, int type, double v)
{
    ASSERT_EQ(f.init(1, 1, type, false), 0);
    if (type == TYPE_I16) {
        int16_t x = int16_t(v);
        ASSERT_EQ(f.setData(&x, 2), 0);
    } else if (type == TYPE_U32) {
        uint32_t x = uint32_t(int64_t(v));
        ASSERT_EQ(f.setData(&x, 4), 0);
    } else {
        ASSERT_EQ(f.setData(&v, 8), 0);
    }
}

double readOne(TvkFrameInfo& f, int type)
{
    uint32_t size = 8;
    if (type == TYPE_I16) {
        int16_t x;
        EXPECT_EQ(f.getData(&x, &size, type), 0);
        return x;
    }
    if (type == TYPE_U32) {
        uint32_t x;
        EXPECT_EQ(f.getData(&x, &size, type), 0);
        return x;
    }
    double x;
    EXPECT_EQ(f.getData(&x, &size, type), 0);
    return x;
}

TEST(FrameData, ConversionsAreDefinedForEveryValue)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const ConvCase cases[] = {
        {TYPE_U32, 40000, TYPE_I16, 32767},
        {TYPE_U32, 32767, TYPE_I16, 32767},
        {TYPE_U32, 4294967295.0, TYPE_DOUBLE, 4294967295.0},
        {TYPE_I16, -1, TYPE_U32, 4294967295.0},
        {TYPE_I16, -32768, TYPE_DOUBLE, -32768},
        {TYPE_DOUBLE, -1.5, TYPE_U32, 4294967295.0}, // low 32 bits of -1
        {TYPE_DOUBLE, -1.5, TYPE_I16, -1},
        {TYPE_DOUBLE, 2.9, TYPE_U32, 2},
        {TYPE_DOUBLE, 40000.7, TYPE_I16, 32767},
        {TYPE_DOUBLE, -40000.0, TYPE_I16, 25536}, // low 16 bits
        {TYPE_DOUBLE, 5e9, TYPE_U32, 4294967295.0},
        {TYPE_DOUBLE, nan, TYPE_U32, 0},
        {TYPE_DOUBLE, nan, TYPE_I16, 0},
        {TYPE_DOUBLE, inf, TYPE_U32, 4294967295.0},
        {TYPE_DOUBLE, -inf, TYPE_U32, 0},
        {TYPE_DOUBLE, -1e300, TYPE_I16, 0},
    };
    for (const ConvCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " " << c.value << " -> " << c.to);
        FramePtr f = newFrame();
        storeOne(*f, c.from, c.value);
        EXPECT_EQ(readOne(*f, c.to), c.expected);
        // setBuffType converts the same way.
        ASSERT_EQ(f->setBuffType(c.to), 0);
        EXPECT_EQ(readOne(*f, c.to), c.expected);
    }
}

// u32 -> double over every vector width and tail length, and through each vector path this processor has.
TEST(FrameData, U32ToDoubleIsExactOnEveryPath)
{
    std::vector<uint32_t> counts;
    for (uint32_t k = 0; k < 41; ++k)
        counts.push_back(k * 2654435761u);
    counts[1] = 0xFFFFFFFFu;
    counts[2] = 0x80000000u;
    counts[3] = 0x7FFFFFFFu;
    for (size_t n = 0; n <= counts.size(); ++n) {
        std::vector<double> v(n, -1.0);
        frameconv::convert(v.data(), TYPE_DOUBLE, counts.data(), TYPE_U32, n);
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(v[i], static_cast<double>(counts[i])) << i << " of " << n;
    }
#if defined(__x86_64__) && defined(__GNUC__)
    std::vector<double> v(counts.size());
    if (__builtin_cpu_supports("avx2")) {
        frameconv::u32ToDoubleAvx2(v.data(), counts.data(), counts.size());
        for (size_t i = 0; i < counts.size(); ++i)
            ASSERT_EQ(v[i], static_cast<double>(counts[i])) << "avx2 " << i;
    }
    if (__builtin_cpu_supports("avx512f")) {
        frameconv::u32ToDoubleAvx512(v.data(), counts.data(), counts.size());
        for (size_t i = 0; i < counts.size(); ++i)
            ASSERT_EQ(v[i], static_cast<double>(counts[i])) << "avx512 " << i;
    }
#endif
}

TEST(FrameData, GetDataChecksTypeBufferAndSize)
{
    FramePtr f = newFrame(3, 2, TYPE_U32);
    uint32_t buf[6];
    uint32_t size = sizeof buf;
    EXPECT_EQ(f->getData(buf, &size, TYPE_U16), TVK_ERR_PARAM);
    EXPECT_NE(std::strstr(f->getLastErr(), "Invalid parameter value (type)."), nullptr);
    EXPECT_EQ(f->getData(nullptr, &size, TYPE_U32), TVK_ERR_PARAM);
    size = 5;
    EXPECT_EQ(f->getData(buf, &size, TYPE_DOUBLE), TVK_ERR_BUFFER_SMALL);
    EXPECT_EQ(size, 48u);
    EXPECT_STREQ(f->getLastErr(), "Frame 0: Supplied buffer is too small (size: 5, required: 48)");
    size = 100;
    EXPECT_EQ(f->getData(buf, &size, TYPE_U32), 0);
    EXPECT_EQ(size, 24u);
}

TEST(FrameData, SetDataReportsChangeAndChecksSize)
{
    Recorder rec;
    FramePtr f = newFrame(2, 2, TYPE_I16);
    f->setUID(5);
    const int16_t in[4] = {1, -2, 3, -4};
    EXPECT_EQ(f->setData(in, 6), TVK_ERR_PARAM);
    EXPECT_NE(std::strstr(f->getLastErr(), "The size of input buffer has to be same as size of internal buffer"),
              nullptr);
    EXPECT_EQ(f->setData(in, sizeof in), 0);
    EXPECT_EQ(values<int16_t>(*f), (std::vector<int16_t>{1, -2, 3, -4}));
    EXPECT_EQ(f->setDataVal(0x1FF), 0); // low 8 bits into every byte
    EXPECT_EQ(values<int16_t>(*f), std::vector<int16_t>(4, int16_t(-1)));
    EXPECT_EQ(rec.dataChanged, (std::vector<uint32_t>{5, 5}));

    FramePtr empty = newFrame();
    EXPECT_EQ(empty->setData(in, sizeof in), FRAME_ERR_NOT_INIT);
    EXPECT_EQ(empty->setDataVal(0), FRAME_ERR_NOT_INIT);
}

TEST(FrameData, SetSizeKeepsDataForTheSamePixelCount)
{
    FramePtr f = newFrame(3, 2, TYPE_U32);
    const uint32_t in[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(f->setData(in, sizeof in), 0);
    ASSERT_EQ(f->setSize(2, 3), 0);
    uint32_t w, h;
    ASSERT_EQ(f->getSize(&w, &h), 0);
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 3u);
    EXPECT_EQ(values<uint32_t>(*f), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));

    // A size that does not fit is refused and the frame keeps its data.
    EXPECT_EQ(f->setSize(65536, 65536), FRAME_ERR_SIZE);
    EXPECT_EQ(values<uint32_t>(*f), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));

    ASSERT_EQ(f->setSize(4, 4), 0);
    ASSERT_EQ(f->getSize(&w, &h), 0);
    EXPECT_EQ(w * h, 16u);
    EXPECT_EQ(values<uint32_t>(*f).size(), 16u);

    ASSERT_EQ(f->setSize(0, 7), 0); // no buffer: the frame is no longer initialised
    EXPECT_FALSE(f->isInit());
}

// ---- attributes ----

TEST(FrameAttribs, AddGetRemoveReportKindsAndSizes)
{
    Recorder rec;
    FramePtr f = newFrame(2, 2, TYPE_U32);
    f->setUID(9);
    const double d[2] = {1.5, -2.0};
    ASSERT_EQ(f->addAttrib("Values", "two doubles", TYPE_DOUBLE, d, 2, 0), 0);
    EXPECT_EQ(f->addAttrib("Values", "again", TYPE_I32, nullptr, 1, 0), FRAME_ERR_ATTRIB_EXISTS);
    EXPECT_STREQ(f->getLastErr(), "Frame 9: Attribute Values already exists.");

    double out[2] = {};
    uint32_t size = 0;
    _Data_Types type = TYPE_UNKNOWN;
    EXPECT_EQ(f->getAttribData("Values", out, &size, &type), TVK_ERR_BUFFER_SMALL); // learns the size
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(f->getAttribData("Values", out, &size, &type), 0);
    EXPECT_EQ(type, TYPE_DOUBLE);
    EXPECT_EQ(out[1], -2.0);

    const double three[3] = {7, 8, 9};
    ASSERT_EQ(f->setAttribData("Values", three, sizeof three), 0);
    size = 24;
    double back[3];
    ASSERT_EQ(f->getAttribData("Values", back, &size, nullptr), 0);
    EXPECT_EQ(back[2], 9.0);

    ASSERT_EQ(f->removeAttrib("Values"), 0);
    const size_t errorsBefore = rec.errors.size();
    EXPECT_EQ(f->removeAttrib("Values"), FRAME_ERR_NO_ATTRIB);
    EXPECT_EQ(f->setAttribData("Values", three, 8), FRAME_ERR_NO_ATTRIB);
    EXPECT_EQ(f->getAttribData("Values", back, &size, nullptr), FRAME_ERR_NO_ATTRIB);
    EXPECT_EQ(rec.errors.size(), errorsBefore); // -202 carries no text

    ASSERT_EQ(f->addAttrib("x", "", TYPE_I32, nullptr, 1, 0), 0);
    ASSERT_EQ(f->removeAllAttribs(false), 0);
    ASSERT_EQ(f->addAttrib("y", "", TYPE_I32, nullptr, 1, 0), 0);
    ASSERT_EQ(f->removeAllAttribs(true), 0);

    struct Expected {
        const char* name;
        uint32_t size;
        int kind;
    } expected[] = {{"Values", 16, 1}, {"Values", 24, 4}, {"Values", 24, 1}, {"x", 4, 1}, {"y", 4, 1}, {"", 0, 3}};
    ASSERT_EQ(rec.attrChanges.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rec.attrChanges[i].frameId, 9u);
        EXPECT_STREQ(rec.attrChanges[i].name, expected[i].name);
        EXPECT_EQ(rec.attrChanges[i].size, expected[i].size);
        EXPECT_EQ(rec.attrChanges[i].kind, expected[i].kind);
    }
}

TEST(FrameAttribs, BadArgumentsAreRefusedAndValuesAreNeverUninitialised)
{
    FramePtr f = newFrame(1, 1, TYPE_U32);
    struct Case {
        const char* name;
        const char* description;
        int type;
        uint32_t count;
        int code;
    } cases[] = {
        {"t", "", 11, 1, TVK_ERR_PARAM},
        {"t", "", -1, 1, TVK_ERR_PARAM},
        {"a\"b", "", TYPE_I32, 1, TVK_ERR_PARAM},     // cannot be stored in a description file
        {"a\nb", "", TYPE_I32, 1, TVK_ERR_PARAM},
        {"t", "two\nlines", TYPE_I32, 1, TVK_ERR_PARAM},
        {nullptr, "", TYPE_I32, 1, TVK_ERR_PARAM},
        {"big", "", TYPE_DOUBLE, 0x40000000u, TVK_ERR_PARAM}, // 8 GiB wraps in 32 bits
        {"zeros", "quote \" inside is fine", TYPE_DOUBLE, 3, 0},
        {"empty", "", TYPE_U32, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "null");
        EXPECT_EQ(f->addAttrib(c.name, c.description, _Data_Types(c.type), nullptr, c.count, 0), c.code);
    }
    double zeros[3] = {1, 1, 1};
    uint32_t size = sizeof zeros;
    ASSERT_EQ(f->getAttribData("zeros", zeros, &size, nullptr), 0);
    EXPECT_EQ(zeros[0] + zeros[1] + zeros[2], 0.0);
    size = 0;
    EXPECT_EQ(f->getAttribData("empty", nullptr, &size, nullptr), 0);
    EXPECT_EQ(f->setAttribData("zeros", nullptr, 8), TVK_ERR_PARAM);
}

TEST(FrameAttribs, ExternalBlockIsAdoptedOnlyOnSuccess)
{
    FramePtr f = newFrame(1, 1, TYPE_U32);
    auto* block = static_cast<int32_t*>(std::malloc(8));
    block[0] = 4;
    block[1] = 5;
    ASSERT_EQ(f->addAttrib("ext", "", TYPE_I32, block, 2, 1), 0); // released by the frame (checked by ASan)
    auto* other = static_cast<int32_t*>(std::malloc(4));
    EXPECT_EQ(f->addAttrib("ext", "", TYPE_I32, other, 1, 1), FRAME_ERR_ATTRIB_EXISTS);
    std::free(other); // still ours
    EXPECT_EQ(f->addAttrib("null", "", TYPE_I32, nullptr, 1, 1), TVK_ERR_ALLOC);
    EXPECT_NE(std::strstr(f->getLastErr(), "Memory allocation of 72 bytes failed."), nullptr);
    int32_t out[2];
    uint32_t size = 8;
    ASSERT_EQ(f->getAttribData("ext", out, &size, nullptr), 0);
    EXPECT_EQ(out[1], 5);
}

std::vector<std::string> enumerate(TvkFrameInfo& f)
{
    std::vector<std::string> names;
    int cursor = -1;
    _ExtFrameAttrib a;
    for (int rc = f.getFirstAttrib(&cursor, &a); rc == 0; rc = f.getNextAttrib(&cursor, &a))
        names.push_back(a.name);
    return names;
}

TEST(FrameAttribs, CursorWalksByteOrderAndNamesItsAttribute)
{
    FramePtr f = newFrame(1, 1, TYPE_U32);
    int cursor = 0;
    _ExtFrameAttrib a;
    EXPECT_EQ(f->getFirstAttrib(&cursor, &a), 1);
    for (const char* n : {"b", "a", "B", "Acq time"})
        ASSERT_EQ(f->addAttrib(n, "desc", TYPE_U16, nullptr, 3, 0), 0);
    EXPECT_EQ(enumerate(*f), (std::vector<std::string>{"Acq time", "B", "a", "b"}));

    ASSERT_EQ(f->getFirstAttrib(&cursor, &a), 0);
    EXPECT_STREQ(a.description, "desc");
    EXPECT_EQ(a.type, TYPE_U16);
    EXPECT_EQ(a.size, 6u);
    ASSERT_EQ(f->getNextAttrib(&cursor, &a), 0); // "B"
    // Removed and added again: the cursor names it, so the walk goes on after it.
    ASSERT_EQ(f->removeAttrib("B"), 0);
    ASSERT_EQ(f->addAttrib("B", "", TYPE_I32, nullptr, 1, 0), 0);
    ASSERT_EQ(f->getNextAttrib(&cursor, &a), 0);
    EXPECT_STREQ(a.name, "a");
    ASSERT_EQ(f->removeAttrib("a"), 0);
    EXPECT_EQ(f->getNextAttrib(&cursor, &a), FRAME_ERR_NO_ATTRIB);
    ASSERT_EQ(f->addAttrib("a", "", TYPE_I32, nullptr, 1, 0), 0);
    ASSERT_EQ(f->getNextAttrib(&cursor, &a), 0);
    EXPECT_STREQ(a.name, "b");
    EXPECT_EQ(f->getNextAttrib(&cursor, &a), 1);

    int bogus = 12345;
    EXPECT_EQ(f->getNextAttrib(&bogus, &a), TVK_ERR_PARAM);
    bogus = -1;
    EXPECT_EQ(f->getNextAttrib(&bogus, &a), TVK_ERR_PARAM);

    // Long names and descriptions are cut and terminated in the record.
    const std::string longName(40, 'n');
    ASSERT_EQ(f->addAttrib(longName.c_str(), std::string(200, 'd').c_str(), TYPE_I32, nullptr, 1, 0), 0);
    ASSERT_EQ(f->getFirstAttrib(&cursor, &a), 0);
    while (a.name[0] != 'n')
        ASSERT_EQ(f->getNextAttrib(&cursor, &a), 0);
    EXPECT_EQ(std::string(a.name), longName.substr(0, 31));
    EXPECT_EQ(std::strlen(a.description), 127u);
}

TEST(FrameAttribs, UpdateFromDeviceRewritesInOrderAndStopsAtFirstFailure)
{
    FakeSource dev;
    FramePtr f = newFrame(1, 1, TYPE_U32);
    int32_t zero = 0;
    double dzero = 0;
    for (const char* n : {"Polarity", "Hw timer", "Acq mode"})
        ASSERT_EQ(f->addAttrib(n, "", TYPE_I32, &zero, 1, 0), 0);
    ASSERT_EQ(f->addAttrib("Acq time", "", TYPE_DOUBLE, &dzero, 1, 0), 0);
    EXPECT_EQ(f->updateTvkAttribs(&dev), FRAME_ERR_NO_ATTRIB); // no "DACs": stops before "Acq time"
    int32_t v = 0;
    uint32_t size = 4;
    ASSERT_EQ(f->getAttribData("Acq mode", &v, &size, nullptr), 0);
    EXPECT_EQ(v, 2);
    double t = 1;
    size = 8;
    ASSERT_EQ(f->getAttribData("Acq time", &t, &size, nullptr), 0);
    EXPECT_EQ(t, 0.0);

    ASSERT_EQ(f->addAttrib("DACs", "", TYPE_U16, nullptr, 1, 0), 0);
    ASSERT_EQ(f->updateTvkAttribs(&dev), 0);
    uint16_t dacs[3];
    size = sizeof dacs;
    ASSERT_EQ(f->getAttribData("DACs", dacs, &size, nullptr), 0);
    EXPECT_EQ(dacs[2], 30);
    size = 8;
    ASSERT_EQ(f->getAttribData("Acq time", &t, &size, nullptr), 0);
    EXPECT_EQ(t, 0.25);
    EXPECT_EQ(f->updateTvkAttribs(nullptr), TVK_ERR_PARAM);
}

// ---- references, names, copies ----

TEST(FrameRefs, CloseCallsNoRefOnceAndNeverWraps)
{
    Recorder rec;
    FramePtr f = newFrame(1, 1, TYPE_U32);
    f->setUID(21);
    EXPECT_EQ(f->getRefCount(), 1u);
    EXPECT_EQ(f->open(), 2u);
    uint32_t count = 99;
    EXPECT_EQ(f->close(&count, false), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(f->close(&count, false), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(f->close(&count, false), TVK_ERR_PARAM); // no reference left: refused, not wrapped
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(f->getRefCount(), 0u);
    EXPECT_EQ(rec.noRef, (std::vector<uint32_t>{21}));
}

TEST(FrameRefs, PersistentFrameKeepsItsLastReferenceUnlessForced)
{
    Recorder rec;
    FramePtr f = newFrame();
    ASSERT_EQ(f->init(1, 1, TYPE_I16, true), 0);
    uint32_t count = 0;
    EXPECT_EQ(f->close(&count, false), FRAME_ERR_PERSISTENT);
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(rec.errors.empty()); // -207 carries no text
    EXPECT_EQ(f->close(nullptr, true), 0);
    EXPECT_EQ(f->getRefCount(), 0u);
    EXPECT_EQ(rec.noRef.size(), 1u);
    EXPECT_EQ(f->setSize(2, 2), 0); // no longer persistent
}

TEST(FrameRefs, RawAccessCounter)
{
    FramePtr f = newFrame();
    EXPECT_EQ(f->incRawAccessCounter(), 1u);
    EXPECT_EQ(f->incRawAccessCounter(), 2u);
    EXPECT_EQ(f->decRawAccessCounter(), 1u);
    EXPECT_EQ(f->getRawAccessCount(), 1u);
}

TEST(FrameNames, CopiesAreCutToTheCallersBuffers)
{
    FramePtr f = newFrame();
    const std::string longText(600, 'x');
    ASSERT_EQ(f->setName(longText.c_str()), 0);
    ASSERT_EQ(f->setCreatorName(longText.c_str()), 0);
    ASSERT_EQ(f->setLogPath("Service Frames|Device 0"), 0);
    std::vector<char> buf(600, 'z');
    ASSERT_EQ(f->getName(buf.data()), 0);
    EXPECT_EQ(std::strlen(buf.data()), 511u);
    ASSERT_EQ(f->getCreatorName(buf.data()), 0);
    EXPECT_EQ(std::strlen(buf.data()), 31u);
    ASSERT_EQ(f->getLogPath(buf.data()), 0);
    EXPECT_STREQ(buf.data(), "Service Frames|Device 0");
    EXPECT_EQ(f->setName(nullptr), TVK_ERR_PARAM);
}

TEST(FrameCopy, DuplicateIsDeepAndStartsWithOneReference)
{
    FramePtr src = newFrame(2, 1, TYPE_DOUBLE);
    src->setUID(40);
    src->setDevID(2);
    src->open();
    const double in[2] = {0.5, -7};
    ASSERT_EQ(src->setData(in, sizeof in), 0);
    ASSERT_EQ(src->setName("frame"), 0);
    ASSERT_EQ(src->addAttrib("k", "kd", TYPE_CHAR, "abc", 4, 0), 0);

    FramePtr copy(TvkFrameInfo::duplicateInstance(src.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->getUID(), 0u);
    EXPECT_EQ(copy->getDevID(), 2u);
    EXPECT_EQ(copy->getRefCount(), 1u);
    EXPECT_EQ(values<double>(*copy), (std::vector<double>{0.5, -7}));
    char name[512];
    copy->getName(name);
    EXPECT_STREQ(name, "frame");

    const double other[2] = {1, 1};
    ASSERT_EQ(src->setData(other, sizeof other), 0);
    ASSERT_EQ(src->removeAttrib("k"), 0);
    EXPECT_EQ(values<double>(*copy), (std::vector<double>{0.5, -7}));
    char text[4];
    uint32_t size = 4;
    ASSERT_EQ(copy->getAttribData("k", text, &size, nullptr), 0);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(TvkFrameInfo::duplicateInstance(nullptr), nullptr);
    TvkFrameInfo::deleteInstance(nullptr);
}

} // namespace
