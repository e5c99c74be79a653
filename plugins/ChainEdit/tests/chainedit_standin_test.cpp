// The filters on a stand-in manager whose frames can be what the real one never makes (an element type
// outside the three frame types) and whose frame calls fail on request: a filter that changes a frame's
// size finishes or leaves the frame as it was.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "builtin_filters.h"
#include "platform/tests/test_files.h"

namespace {

struct Frame {
    uint32_t width = 0, height = 0;
    int type = TYPE_U32;
    std::vector<unsigned char> data;
};

// The stand-in's state: one process, one test at a time.
std::map<uint32_t, Frame> g_frames;
std::vector<_FuncItem> g_items;
std::string g_log;
bool g_lockedElsewhere = false;
int g_failSetSize = 0; // the next n calls fail
int g_failSetData = 0;
int g_failGetData = 0;

size_t elementSize(int type)
{
    return type == TYPE_I16 || type == TYPE_U16 ? 2 : type == TYPE_DOUBLE ? 8 : 4;
}

int logMsg(const char*, const char* fmt, int flags, ...)
{
    char text[2048];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    g_log += std::string(text) + "\n";
    return 0;
}

Frame* find(uint32_t id)
{
    const auto it = g_frames.find(id);
    return it == g_frames.end() ? nullptr : &it->second;
}

_MgrFuncTable standIn()
{
    _MgrFuncTable t{};
    t.version = MGR_INTERFACE_VERSION;
    t.mgrLogMsg = logMsg;
    t.mgrAddFuncItem = [](_FuncItem* item) {
        item->id = int32_t(g_items.size() + 1);
        g_items.push_back(*item);
        return 0;
    };
    t.mgrLockFrame = [](uint32_t id, uint32_t) { return !find(id) ? -200 : g_lockedElsewhere ? -10 : 0; };
    t.mgrUnlockFrame = [](uint32_t id) { return find(id) ? 0 : -200; };
    t.mgrGetFrameSize = [](uint32_t id, uint32_t* w, uint32_t* h) {
        Frame* f = find(id);
        if (!f)
            return -200;
        *w = f->width;
        *h = f->height;
        return 0;
    };
    t.mgrGetFrameType = [](uint32_t id, int* type) {
        Frame* f = find(id);
        if (!f)
            return -200;
        *type = f->type;
        return 0;
    };
    t.mgrGetFrameData = [](uint32_t id, void* buffer, uint32_t* size, int type) {
        Frame* f = find(id);
        if (!f || type != f->type || *size < f->data.size())
            return -1;
        if (g_failGetData > 0) {
            --g_failGetData;
            return -3;
        }
        std::memcpy(buffer, f->data.data(), f->data.size());
        *size = uint32_t(f->data.size());
        return 0;
    };
    t.mgrSetFrameSize = [](uint32_t id, uint32_t w, uint32_t h) {
        Frame* f = find(id);
        if (!f)
            return -200;
        if (g_failSetSize > 0) {
            --g_failSetSize;
            return -3;
        }
        f->width = w;
        f->height = h;
        f->data.assign(size_t(w) * h * elementSize(f->type), 0);
        return 0;
    };
    t.mgrSetFrameData = [](uint32_t id, const void* data, uint32_t size) {
        Frame* f = find(id);
        if (!f || size != f->data.size())
            return -2;
        if (g_failSetData > 0) {
            --g_failSetData;
            return -3;
        }
        std::memcpy(f->data.data(), data, size);
        return 0;
    };
    t.mgrSetFrameType = [](uint32_t id, int type) {
        Frame* f = find(id);
        if (!f)
            return -200;
        f->type = type;
        f->data.assign(size_t(f->width) * f->height * elementSize(type), 0);
        return 0;
    };
    return t;
}

class ChainEditStandIn : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static const _MgrFuncTable table = standIn();
        ASSERT_EQ(chainedit::registerBuiltinFilters(&table), 0);
    }
    void SetUp() override
    {
        g_frames.clear();
        g_log.clear();
        g_lockedElsewhere = false;
        g_failSetSize = g_failSetData = g_failGetData = 0;
    }
    static const _FuncItem& item(const char* name)
    {
        for (const _FuncItem& i : g_items)
            if (std::string(i.function) == name)
                return i;
        throw std::runtime_error(name);
    }
    static int run(const char* name, uint32_t frameId, void* handle = nullptr)
    {
        const _FuncItem& f = item(name);
        const _FuncSlot in[2] = {tvkSlotUint(frameId), tvkSlotPtr(handle)};
        void* userData = f.flags & FUNC_FILTER_INSTANCES ? static_cast<_FilterInstCallbacks*>(f.userData)->runUserData
                                                          : f.userData;
        return f.callback(userData, in, nullptr);
    }
    static uint32_t frame(uint32_t w, uint32_t h, int type)
    {
        Frame f{w, h, type, std::vector<unsigned char>(size_t(w) * h * elementSize(type))};
        for (size_t i = 0; i < f.data.size(); ++i)
            f.data[i] = static_cast<unsigned char>(i * 31 + 7);
        const uint32_t id = uint32_t(g_frames.size() + 100);
        g_frames[id] = f;
        return id;
    }
};

TEST_F(ChainEditStandIn, InstanceFiltersHandOverTheirCallbacksWithEmptyContexts)
{
    for (const char* name : {"Save", "Crop", "Sarnet counts to time", "Srn calibration", "Frame statistics",
                             "Tarvik mask"}) {
        const _FuncItem& f = item(name);
        ASSERT_EQ(f.flags, 3u) << name;
        const auto* cb = static_cast<const _FilterInstCallbacks*>(f.userData);
        ASSERT_NE(cb, nullptr) << name;
        EXPECT_EQ(cb->runUserData, nullptr);
        EXPECT_EQ(cb->createContext, nullptr);
        EXPECT_EQ(cb->deleteContext, nullptr);
        EXPECT_EQ(cb->setContext, nullptr);
        EXPECT_EQ(cb->getContext, nullptr);
        EXPECT_TRUE(cb->create && cb->destroy && cb->set && cb->get) << name;
    }
}

TEST_F(ChainEditStandIn, ResizingFiltersFinishOrLeaveTheFrameAsItWas)
{
    const auto& crop = *static_cast<const _FilterInstCallbacks*>(item("Crop").userData);
    void* cropHandle = nullptr;
    ASSERT_EQ(crop.create(nullptr, &cropHandle), 0);
    const int32_t rect[4] = {2, 2, 10, 10};
    for (int k = 0; k < 4; ++k)
        ASSERT_EQ(crop.set(nullptr, cropHandle, k, &rect[k], 4), 0);

    struct Case {
        const char* name;
        const char* filter;
        uint32_t side;
        int type;
        bool lockedElsewhere;
        int failSetSize, failSetData;
    };
    const Case cases[] = {
        {"quad: a u16 frame is not converted", "Quad 516 distribute", 512, TYPE_U16, false, 0, 0},
        {"quad: another thread holds the frame", "Quad 516 duplicate", 512, TYPE_U32, true, 0, 0},
        {"quad: no buffer of the new size", "Quad 516 distribute", 512, TYPE_DOUBLE, false, 1, 0},
        {"quad: the new data is refused", "Quad 516 distribute", 512, TYPE_I16, false, 0, 1},
        {"crop: another thread holds the frame", "Crop", 64, TYPE_U32, true, 0, 0},
        {"crop: no buffer of the new size", "Crop", 64, TYPE_U32, false, 1, 0},
        {"crop: the new data is refused", "Crop", 64, TYPE_DOUBLE, false, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t id = frame(c.side, c.side, c.type);
        const Frame before = g_frames[id];
        g_lockedElsewhere = c.lockedElsewhere;
        g_failSetSize = c.failSetSize;
        g_failSetData = c.failSetData;
        EXPECT_EQ(run(c.filter, id, std::string(c.filter) == "Crop" ? cropHandle : nullptr), -1);
        const Frame& after = g_frames[id];
        EXPECT_EQ(after.width, before.width);
        EXPECT_EQ(after.height, before.height);
        EXPECT_EQ(after.type, before.type);
        EXPECT_EQ(after.data, before.data);
        g_lockedElsewhere = false;
    }
    // And with nothing failing, both finish.
    const uint32_t quad = frame(512, 512, TYPE_U32);
    EXPECT_EQ(run("Quad 516 distribute", quad), 0);
    EXPECT_EQ(g_frames[quad].width, 516u);
    const uint32_t small = frame(64, 64, TYPE_U32);
    EXPECT_EQ(run("Crop", small, cropHandle), 0);
    EXPECT_EQ(g_frames[small].width, 10u);
    EXPECT_EQ(crop.destroy(nullptr, cropHandle), 0);
}

TEST_F(ChainEditStandIn, AFailedFrameCallIsLoggedWithTheFrame)
{
    // The manager stops the chain on -1 without saying why: the filter's log line is the only account.
    const auto& crop = *static_cast<const _FilterInstCallbacks*>(item("Crop").userData);
    void* cropHandle = nullptr;
    ASSERT_EQ(crop.create(nullptr, &cropHandle), 0);
    const int32_t rect[4] = {1, 1, 8, 8};
    for (int k = 0; k < 4; ++k)
        ASSERT_EQ(crop.set(nullptr, cropHandle, k, &rect[k], 4), 0);

    struct Case {
        const char* name;
        const char* filter;
        uint32_t side; // 0: a frame id the manager does not know
        int failGetData;
    };
    const Case cases[] = {
        {"crop: the data cannot be copied out", "Crop", 64, 1},
        {"quad: the data cannot be copied out", "Quad 516 duplicate", 512, 1},
        {"convert: the frame is gone", "Convert to u32", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        const uint32_t id = c.side ? frame(c.side, c.side, TYPE_U32) : 9999;
        g_failGetData = c.failGetData;
        EXPECT_NE(run(c.filter, id, std::string(c.filter) == "Crop" ? cropHandle : nullptr), 0);
        EXPECT_NE(g_log.find("frame " + std::to_string(id)), std::string::npos) << g_log;
        if (c.side) {
            EXPECT_EQ(g_frames[id].width, c.side);
        }
    }
    // The new data refused and the old data refused again: the log does not claim the frame unchanged.
    for (const char* filter : {"Crop", "Quad 516 distribute"}) {
        SCOPED_TRACE(filter);
        g_log.clear();
        const bool isCrop = std::string(filter) == "Crop";
        const uint32_t id = frame(isCrop ? 64 : 512, isCrop ? 64 : 512, TYPE_U32);
        g_failSetData = 2;
        EXPECT_EQ(run(filter, id, isCrop ? cropHandle : nullptr), -1);
        EXPECT_EQ(g_log.find("unchanged"), std::string::npos) << g_log;
        EXPECT_NE(g_log.find("frame " + std::to_string(id) + " cannot be resized (code -3), and its old data"),
                  std::string::npos)
            << g_log;
        g_failSetData = 0;
    }
    EXPECT_EQ(crop.destroy(nullptr, cropHandle), 0);
}

TEST_F(ChainEditStandIn, StatisticsLineThatDoesNotFitIsCutOffAgain)
{
    const auto& stats = *static_cast<const _FilterInstCallbacks*>(item("Frame statistics").userData);
    void* handle = nullptr;
    ASSERT_EQ(stats.create(nullptr, &handle), 0);
    const int32_t off = 0;
    ASSERT_EQ(stats.set(nullptr, handle, 1, &off, 4), 0); // no time stamp
    const std::string path = testfiles::scratchDir("chainedit-stats") + "/stat.txt";
    ASSERT_EQ(stats.set(nullptr, handle, 8, path.c_str(), uint32_t(path.size() + 1)), 0);
    const uint32_t id = frame(2, 2, TYPE_DOUBLE);
    const double values[4] = {1, 2, 3, 4};
    std::memcpy(g_frames[id].data.data(), values, sizeof values);

    ASSERT_EQ(run("Frame statistics", id, handle), 0);
    const std::string first = testfiles::readFile(path);
    ASSERT_EQ(first, "0\t2.5\t10\n");
    {
        // A full disk part-way through the line: the filter fails, the file keeps its whole records.
        const testfiles::FileSizeLimit full(first.size() + 3);
        g_log.clear();
        EXPECT_EQ(run("Frame statistics", id, handle), -1);
        EXPECT_NE(g_log.find("cannot write to " + path), std::string::npos) << g_log;
    }
    EXPECT_EQ(testfiles::readFile(path), first);
    ASSERT_EQ(run("Frame statistics", id, handle), 0);
    EXPECT_EQ(testfiles::readFile(path), first + "1\t2.5\t10\n");
    EXPECT_EQ(stats.destroy(nullptr, handle), 0);
}

} // namespace
