// The acquisition handler on a scripted function table: what it reads, what it refuses and what it logs,
// and the closing of the set while a handler runs.
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pulse_device.h"

namespace {

// What the scripted table answers; one at a time (the tests do not run in parallel within the program).
struct Script {
    int acqInfoResult = 0;
    int framesDone = 1;
    int frameResult = 0;
    std::vector<int> frameIndexes; // asked for
    int attribResult = 0;
    uint32_t attribSize = 6;         // what the attribute call reports back
    uint32_t attribBytesWritten = 6; // what it writes (at most the buffer's size)
    _DevInfo info{};
    unsigned devices = 8; // ids below this name a device of the control library
    std::vector<std::string> log;
    std::function<void()> duringFrame;
} script;

int acqInfo(unsigned, int*, int*, int*, int* framesDone)
{
    *framesDone = script.framesDone;
    return script.acqInfoResult;
}

int devInfo(unsigned devId, _DevInfo* info)
{
    if (devId >= script.devices)
        return TVK_ERR_DEV_INDEX;
    *info = script.info;
    return 0;
}

int frame16(unsigned, int16_t* buffer, uint32_t size, int index)
{
    script.frameIndexes.push_back(index);
    if (script.duringFrame)
        script.duringFrame();
    std::memset(buffer, 0, size * 2);
    buffer[5] = 7; // one cluster at (1, 1) of a 4-wide frame
    return script.frameResult;
}

int frameAttrib(unsigned, int, const char* name, void* data, uint32_t* size, int*)
{
    EXPECT_STREQ(name, "Scope data");
    EXPECT_EQ(*size, 1000u);
    const uint32_t n = std::min(script.attribBytesWritten, *size);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        const uint16_t v = static_cast<uint16_t>(10 + i);
        std::memcpy(static_cast<char*>(data) + i, &v, 2);
    }
    *size = script.attribSize;
    return script.attribResult;
}

int logMsg(const char* source, const char* fmt, int flags, ...)
{
    char text[256];
    va_list args;
    va_start(args, flags);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    script.log.push_back(std::string(source) + ": " + text);
    return 0;
}

_MgrFuncTable table()
{
    _MgrFuncTable t{};
    t.tvkCtrlGetAcqInfo = acqInfo;
    t.tvkCtrlGetDevInfo = devInfo;
    t.tvkCtrlGetFrame16 = frame16;
    t.tvkCtrlGetFrameAttrib = frameAttrib;
    t.mgrLogMsg = logMsg;
    return t;
}

void resetScript()
{
    script = Script{};
    script.info.pixelCount = 16;
    script.info.rowLength = 4;
}

PulseSettings plain()
{
    PulseSettings s;
    s.baselineOn = false;
    return s;
}

TEST(PulseHandler, ReadsTheLastFrameAndItsScopeSamples)
{
    struct Case {
        const char* name;
        void (*setUp)();
        bool windowOpen;
        uint64_t clusters; // seen afterwards
        uint64_t pulses;
        std::vector<int> frameIndexes;
        std::vector<std::string> log;
    } cases[] = {
        {"normal", [] { script.framesDone = 3; }, true, 1, 1, {2}, {}},
        {"window closed", [] {}, false, 0, 0, {}, {}},
        {"no acquisition info", [] { script.acqInfoResult = -1; }, true, 0, 0, {},
         {"PulseScan: CallBack: tvkCtrlGetAcqInfo failed"}},
        {"no frame yet", [] { script.framesDone = 0; }, true, 0, 0, {}, {}},
        {"frame not readable", [] { script.frameResult = -115; }, true, 0, 0, {0}, {}},
        {"no scope data", [] { script.attribResult = -200; }, true, 1, 0, {0}, {}},
        {"scope data too large for the buffer", [] { script.attribResult = -4; script.attribSize = 2000; },
         true, 1, 0, {0}, {}},
        {"a reply claiming more than the buffer", [] { script.attribSize = 2000; script.attribBytesWritten = 2000; },
         true, 1, 1, {0}, {}},
        {"device without rows", [] { script.info.rowLength = 0; }, true, 0, 0, {}, {}},
        {"rows not dividing the pixels", [] { script.info.rowLength = 5; }, true, 0, 0, {}, {}},
    };
    const _MgrFuncTable t = table();
    for (const Case& c : cases) {
        resetScript();
        c.setUp();
        PulseDevice device(0);
        device.windowOpen = c.windowOpen;
        device.start(plain());
        device.onAcqCompleted(t);
        const PulseResults r = device.takeResults();
        EXPECT_EQ(r.counters.seen, c.clusters) << c.name;
        EXPECT_EQ(r.counters.pulses, c.pulses) << c.name;
        EXPECT_EQ(script.frameIndexes, c.frameIndexes) << c.name;
        EXPECT_EQ(script.log, c.log) << c.name;
    }
}

TEST(PulseHandler, SampleCountFollowsTheReturnedSize)
{
    const _MgrFuncTable t = table();
    for (uint32_t bytes : {2u, 6u, 7u, 900u, 1000u, 2000u}) {
        resetScript();
        script.attribSize = bytes;
        script.attribBytesWritten = bytes;
        PulseDevice device(0);
        device.windowOpen = true;
        device.start(plain());
        device.onAcqCompleted(t);
        const PulseResults r = device.takeResults();
        ASSERT_EQ(r.shapes.size(), 1u) << bytes;
        EXPECT_EQ(r.shapes[0].size(), std::min(bytes, 1000u) / 2) << bytes;
    }
}

TEST(PulseHandler, NothingIsAnalysedWhileStopped)
{
    resetScript();
    const _MgrFuncTable t = table();
    PulseDevice device(0);
    device.windowOpen = true;
    int refreshes = 0;
    device.setRefreshHandler([&](unsigned) { ++refreshes; });
    device.onAcqCompleted(t);
    EXPECT_EQ(device.takeResults().counters.seen, 0u);
    EXPECT_EQ(refreshes, 1) << "the first frame with \"Scope data\" is shown while stopped too";
    device.onAcqCompleted(t);
    EXPECT_EQ(refreshes, 1) << "later frames while stopped change nothing shown";
    device.start(plain());
    EXPECT_EQ(refreshes, 2);
    device.onAcqCompleted(t);
    device.onAcqCompleted(t);
    EXPECT_EQ(refreshes, 2) << "one refresh pending at a time";
    EXPECT_EQ(device.takeResults().counters.seen, 2u);
    device.onAcqCompleted(t);
    EXPECT_EQ(refreshes, 3);
    device.stop();
    device.onAcqCompleted(t);
    EXPECT_EQ(device.takeResults().counters.seen, 3u);
}

// Whether the window still waits for its input: a frame read without "Scope data" (attribute missing or
// empty) leaves it waiting, the first frame with it ends the wait, whether a measurement runs or not;
// a closed window reads nothing.
TEST(PulseHandler, ScopeSeenOnlyFromAFrameCarryingScopeData)
{
    struct Case {
        const char* name;
        bool windowOpen;
        bool running;
        int attribResult;
        uint32_t bytes;
        bool seen;
    } cases[] = {
        {"no attribute", true, true, -1, 0, false},
        {"empty attribute", true, true, 0, 0, false},
        {"scope data while measuring", true, true, 0, 900, true},
        {"scope data while stopped", true, false, 0, 900, true},
        {"window closed", false, true, 0, 900, false},
    };
    for (const Case& c : cases) {
        resetScript();
        script.attribResult = c.attribResult;
        script.attribSize = script.attribBytesWritten = c.bytes;
        const _MgrFuncTable t = table();
        PulseDevice device(0);
        device.windowOpen = c.windowOpen;
        if (c.running)
            device.start(plain());
        EXPECT_FALSE(device.scopeSeen()) << c.name;
        device.onAcqCompleted(t);
        EXPECT_EQ(device.scopeSeen(), c.seen) << c.name;
    }
}

// Every acquisition of a device without a record (one found later, or a tool without its window data)
// passes silently; an id that names no device is logged in hex, once however many frames it reports.
TEST(PulseDeviceSet, OnlyIdsOfNoDeviceAreLoggedOnce)
{
    resetScript();
    const _MgrFuncTable t = table();
    PulseDeviceSet set(&t);
    set.add(3)->windowOpen = true;
    set.find(3)->start(plain());
    for (int frame = 0; frame < 3; ++frame)
        for (intptr_t id : {intptr_t{3}, intptr_t{5}, intptr_t{26}, intptr_t{-1}})
            set.acqCompleted(id);
    EXPECT_EQ(set.find(3)->takeResults().counters.seen, 3u);
    EXPECT_EQ(script.log, (std::vector<std::string>{"PulseScan: CallBack: Invalid device ID (devID=0x1a)",
                                                    "PulseScan: CallBack: Invalid device ID (devID=0xffffffff)"}));
    EXPECT_EQ(set.find(5), nullptr);
    EXPECT_EQ(set.find(26), nullptr);
}

TEST(PulseDeviceSet, CloseWaitsForARunningHandler)
{
    resetScript();
    const _MgrFuncTable t = table();
    PulseDeviceSet set(&t);
    set.add(0)->windowOpen = true;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    script.duringFrame = [&] {
        entered.set_value();
        released.wait();
    };
    std::thread handler([&] { set.acqCompleted(0); });
    entered.get_future().wait();
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        set.close();
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(closed) << "close returned while the handler ran";
    release.set_value();
    handler.join();
    closer.join();
    EXPECT_TRUE(closed);
    script.duringFrame = nullptr;
    set.acqCompleted(0);
    EXPECT_EQ(script.frameIndexes.size(), 1u) << "no handler runs after close";
}

} // namespace
