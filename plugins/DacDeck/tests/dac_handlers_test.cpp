// The event handlers' way to a device, without windows: handlers raised over and over by other threads
// (one of them holding the device, as an acquiring worker does) while the GUI side makes and destroys
// windows and removes and adds the devices' data objects. A handler only ever runs with a window present
// under its window lock, a removed data object is never touched by a handler afterwards, and the GUI
// side's single try never waits. Run under TSan, it guards the lookups and the lock order.
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dac_deck_core.h"
#include "wait_until.h"

using dacdeck::DeckDevice;
using dacdeck::DeckRegistry;

namespace {

constexpr unsigned kDevices = 2;

// Device locks of the stand-in device-control library: recursive, with an owner.
plat::OwnedRecursiveMutex gDeviceLocks[kDevices];

int tryLockDevice(unsigned devId, int* locked, uint32_t timeoutMs)
{
    if (devId >= kDevices)
        return -1;
    *locked = gDeviceLocks[devId].tryLockFor(std::chrono::milliseconds(timeoutMs == MGR_WAIT_INFINITE
                                                                            ? std::chrono::hours(24 * 365 * 20)
                                                                            : std::chrono::milliseconds(timeoutMs)))
                  ? 1
                  : 0;
    return 0;
}

int releaseDevice(unsigned devId)
{
    return devId < kDevices && gDeviceLocks[devId].unlock() ? 0 : -1;
}

int noDacs(unsigned, const char***, const int**, int*) { return -1; }
int noInfo(unsigned, _DevInfo*) { return -1; }

_MgrFuncTable table()
{
    _MgrFuncTable t{};
    t.tvkCtrlTryLockDevice = tryLockDevice;
    t.tvkCtrlReleaseDevice = releaseDevice;
    t.tvkCtrlGetDACsNames = noDacs;
    t.tvkCtrlGetDevInfo = noInfo;
    return t;
}

// A device's data object as the GUI side has it: the window lock and the window.
struct DataObject {
    plat::OwnedRecursiveMutex lock;
    std::unique_ptr<int> window; // made and destroyed under lock
};

// The data objects by their window lock, for the handlers; an object leaves before it is deleted.
std::mutex gOwnersMutex; // guards gOwners
std::map<const plat::OwnedRecursiveMutex*, DataObject*> gOwners;

std::unique_ptr<DataObject> addDataObject(DeckRegistry& registry, const _MgrFuncTable& t, unsigned devId)
{
    auto data = std::make_unique<DataObject>();
    {
        std::lock_guard<std::mutex> guard(gOwnersMutex);
        gOwners[&data->lock] = data.get();
    }
    registry.add(&t, devId, data->lock);
    return data;
}

void removeDataObject(DeckRegistry& registry, unsigned devId, std::unique_ptr<DataObject>& data)
{
    registry.remove(devId);
    {
        std::lock_guard<std::mutex> guard(gOwnersMutex);
        gOwners.erase(&data->lock);
    }
    data.reset();
}

DataObject* ownerOf(const DeckDevice& device)
{
    std::lock_guard<std::mutex> guard(gOwnersMutex);
    const auto it = gOwners.find(&device.windowLock);
    return it == gOwners.end() ? nullptr : it->second;
}

} // namespace

TEST(DacDeckHandlers, EventsFromOtherThreadsWhileWindowsAndDataObjectsComeAndGo)
{
    static const _MgrFuncTable t = table();
    DeckRegistry registry;
    std::unique_ptr<DataObject> data[kDevices];
    for (unsigned d = 0; d < kDevices; ++d)
        data[d] = addDataObject(registry, t, d);
    std::atomic<bool> stop{false};
    std::atomic<int> ran{0}, withoutWindow{0};
    // Reads the window of the device the handler was given (under its window lock).
    auto handler = [&](DeckDevice& device) {
        DataObject* owner = ownerOf(device);
        if (!owner || !owner->window)
            ++withoutWindow;
        else
            ran += *owner->window;
    };

    std::vector<std::future<void>> workers;
    for (int w = 0; w < 2; ++w)
        workers.push_back(std::async(std::launch::async, [&, w] {
            for (unsigned n = static_cast<unsigned>(w); !stop; ++n)
                registry.withReadyDevice(n % (kDevices + 1), true, handler); // the last id is unknown
        }));
    // An acquiring worker: holds device 0 and raises its events meanwhile.
    workers.push_back(std::async(std::launch::async, [&] {
        while (!stop) {
            int locked = 0;
            if (tryLockDevice(0, &locked, 1000) == 0 && locked) {
                registry.withReadyDevice(0, true, handler);
                std::this_thread::yield();
                releaseDevice(0);
            }
        }
    }));

    int busy = 0;
    for (int round = 0; round < 150; ++round) {
        const unsigned d = static_cast<unsigned>(round) % kDevices;
        std::shared_ptr<DeckDevice> device = registry.find(d);
        ASSERT_NE(device, nullptr);
        { // the window opens
            std::lock_guard<plat::OwnedRecursiveMutex> guard(data[d]->lock);
            data[d]->window = std::make_unique<int>(1);
            device->windowReady = true;
        }
        // The GUI thread's own events try the device once and never wait.
        if (!registry.withReadyDevice(d, false, handler))
            ++busy;
        std::this_thread::yield();
        { // the window closes for good
            std::lock_guard<plat::OwnedRecursiveMutex> guard(data[d]->lock);
            device->windowReady = false;
            data[d]->window.reset();
        }
        if (round % 3 == 2) { // the data object goes (the plug-in exits) and a new one comes
            { // with its window open: the removal waits for the handlers on it
                std::lock_guard<plat::OwnedRecursiveMutex> guard(data[d]->lock);
                data[d]->window = std::make_unique<int>(1);
                device->windowReady = true;
            }
            removeDataObject(registry, d, data[d]);
            data[d] = addDataObject(registry, t, d);
        }
    }
    stop = true;
    for (auto& w : workers)
        ASSERT_EQ(w.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "a worker never ended";
    EXPECT_EQ(withoutWindow, 0) << "a handler ran without a window";
    EXPECT_GT(ran + busy, 0) << "no handler reached a window";
    for (unsigned d = 0; d < kDevices; ++d)
        removeDataObject(registry, d, data[d]);
}

TEST(DacDeckHandlers, RemovalWaitsForTheRunningHandler)
{
    static const _MgrFuncTable t = table();
    DeckRegistry registry;
    auto data = std::make_unique<DataObject>();
    registry.add(&t, 1, data->lock)->windowReady = true;
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    std::thread handler([&] {
        registry.withReadyDevice(1, true, [&](DeckDevice&) {
            entered.set_value();
            released.wait();
        });
    });
    entered.get_future().wait();
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        registry.remove(1);
        removed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(removed) << "the data object could go while a handler used its window lock";
    release.set_value();
    handler.join();
    remover.join();
    EXPECT_TRUE(removed);
    EXPECT_EQ(registry.find(1), nullptr);
    bool ran = false;
    EXPECT_TRUE(registry.withReadyDevice(1, true, [&](DeckDevice&) { ran = true; }));
    EXPECT_FALSE(ran) << "a handler ran on a removed device";
}
