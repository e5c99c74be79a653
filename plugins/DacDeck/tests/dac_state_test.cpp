// The panel's shared values on the detector model: the deferred set while another thread holds the device,
// the two ways a pending move used to be lost, read-back on devices larger than fixed buffers, refused
// sets, and the window's never waiting for the device.
#include "dac_deck_core.h"
#include "deck_rig.h"
#include "wait_until.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <thread>

#include <gtest/gtest.h>

using namespace dacdeck;
using decktest::DeckRig;
using decktest::Hooks;

namespace {

// Another thread (an acquisition worker) holding the device lock until released.
class DeviceHolder {
public:
    DeviceHolder(const _MgrFuncTable* t, unsigned dev)
    {
        std::promise<void> taken;
        auto takenFuture = taken.get_future();
        thread_ = std::thread([this, t, dev, &taken] {
            int locked = 0;
            t->tvkCtrlTryLockDevice(dev, &locked, static_cast<unsigned>(-1));
            taken.set_value();
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [this] { return released_; });
            if (locked)
                t->tvkCtrlReleaseDevice(dev);
        });
        takenFuture.wait();
    }
    ~DeviceHolder() { release(); }
    void release()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            released_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
};

std::vector<uint16_t> deviceDacs(const DeckRig& rig, int count)
{
    std::vector<uint16_t> v(static_cast<size_t>(count));
    EXPECT_EQ(rig.table()->tvkCtrlGetDACs(0, v.data(), count, -1), 0);
    return v;
}

struct Indices {
    int thl = -1, thh = -1, fbk = -1;
};

Indices findIndices(const _MgrFuncTable* t)
{
    const char** names = nullptr;
    const int* widths = nullptr;
    int count = 0;
    Indices ix;
    if (t->tvkCtrlGetDACsNames(0, &names, &widths, &count) != 0)
        return ix;
    for (int i = count - 1; i >= 0; --i) {
        const std::string n = names[i];
        if (n == "THL")
            ix.thl = i;
        if (n == "THH")
            ix.thh = i;
        if (n == "FBK")
            ix.fbk = i;
    }
    return ix;
}

} // namespace

// Moves made while the device is busy wait as pending and reach the device on the next applyPending with
// the latest values; a locked THL move keeps its reference flag through a later unlocked move.
TEST(DacDeckPending, BusyMovesApplyLatestWithTheirReferenceFlags)
{
    DeckRig rig("[Model]\nChips=4\nType=2\n");
    const _MgrFuncTable* t = rig.table();
    double coefs[] = {1, 7, 1, 7, 1, 7};
    ASSERT_EQ(t->tvkCtrlSetDACRefCoef(0, coefs, 6, 1), 0);
    DacState state(t, 0);
    const Indices ix = findIndices(t);
    ASSERT_GE(ix.thl, 0);
    state.setIndices(ix.thl, ix.thh, ix.fbk);
    const int dacs = state.dacCount();
    std::vector<uint16_t> values = deviceDacs(rig, dacs * 4);
    const int other = ix.thl == 0 ? 1 : 0;

    DeviceHolder holder(t, 0);
    values[static_cast<size_t>(ix.thl)] = 300; // locked THL of chip 0
    EXPECT_EQ(state.applyDacs(values, 0, kRefThl), Applied::Pending);
    values[static_cast<size_t>(other)] = 33; // then an unlocked DAC
    EXPECT_EQ(state.applyDacs(values, 0, 0), Applied::Pending);
    EXPECT_EQ(Hooks::instance().setDacsCalls, 0);
    EXPECT_EQ(state.snapshot().pendingRefFlags, kRefThl);
    holder.release();

    state.applyPending(); // "AcqCompleted"
    EXPECT_EQ(Hooks::instance().setDacsCalls, 1);
    const std::vector<uint16_t> after = deviceDacs(rig, dacs * 4);
    EXPECT_EQ(after[static_cast<size_t>(other)], 33);
    EXPECT_EQ(after[static_cast<size_t>(ix.thl)], 300);
    for (int chip = 1; chip < 4; ++chip)
        EXPECT_EQ(after[static_cast<size_t>(chip * dacs + ix.thl)], 307) << "chip " << chip << " THL not derived";
    EXPECT_FALSE(state.snapshot().dacsPending);
    EXPECT_EQ(state.snapshot().pendingRefFlags, 0);
}

// A move made while the pending set runs (here from another thread inside the set) stays pending and is on
// the device after the next applyPending.
TEST(DacDeckPending, MoveDuringThePendingSetIsNotLost)
{
    DeckRig rig("[Model]\nChips=1\nType=1\n");
    const _MgrFuncTable* t = rig.table();
    DacState state(t, 0);
    const int dacs = state.dacCount();
    std::vector<uint16_t> first = deviceDacs(rig, dacs);
    first[0] = 11;
    {
        DeviceHolder holder(t, 0);
        ASSERT_EQ(state.applyDacs(first, 0, 0), Applied::Pending);
    }
    std::vector<uint16_t> second = first;
    second[0] = 22;
    Hooks::instance().duringSet = [&] {
        std::thread gui([&] { EXPECT_EQ(state.applyDacs(second, 0, 0), Applied::Pending); });
        gui.join();
    };
    // The worker that fires "AcqCompleted" holds the device lock.
    int locked = 0;
    ASSERT_EQ(t->tvkCtrlTryLockDevice(0, &locked, 0), 0);
    ASSERT_TRUE(locked);
    state.applyPending();
    EXPECT_EQ(deviceDacs(rig, dacs)[0], 11);
    EXPECT_TRUE(state.snapshot().dacsPending);
    state.applyPending();
    t->tvkCtrlReleaseDevice(0);
    EXPECT_EQ(deviceDacs(rig, dacs)[0], 22);
}

// Values equal to the device's send nothing; a refused set is logged and reported, not shown as ready.
TEST(DacDeckApply, EqualValuesAndRefusedSets)
{
    DeckRig rig("[Model]\nChips=4\nType=1\n");
    const _MgrFuncTable* t = rig.table();
    DacState state(t, 0);
    std::vector<std::pair<Notice, int>> notices;
    state.setNotifier([&](Notice n, int code) { notices.emplace_back(n, code); });
    const int count = state.dacCount() * 4;
    std::vector<uint16_t> values = deviceDacs(rig, count);

    EXPECT_EQ(state.applyDacs(values, 0, 0), Applied::Unchanged);
    EXPECT_EQ(Hooks::instance().setDacsCalls, 0);

    values[1] = static_cast<uint16_t>(values[1] ^ 5);
    Hooks::instance().refuseSetDacs = -7;
    int code = 0;
    EXPECT_EQ(state.applyDacs(values, 0, 0, &code), Applied::Failed);
    EXPECT_EQ(code, -7);
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), std::make_pair(Notice::Error, -7));
    const auto log = DeckRig::log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("dacdeck: ", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("-7"), std::string::npos) << log[0];
    EXPECT_NE(deviceDacs(rig, count)[1], values[1]);

    // The same refusal of a pending set.
    {
        DeviceHolder holder(t, 0);
        EXPECT_EQ(state.applyDacs(values, 0, 0), Applied::Pending);
    }
    state.applyPending();
    EXPECT_EQ(notices.back(), std::make_pair(Notice::Error, -7));
    EXPECT_EQ(DeckRig::log().size(), 2u);

    Hooks::instance().refuseSetDacs = 0;
    EXPECT_EQ(state.applyDacs(values, 0, 0), Applied::Sent);
    EXPECT_EQ(deviceDacs(rig, count), values);
}

// Read-back of every DAC value and the sense arrays of every chip, on devices beyond 128 values / 8 chips;
// chip type 3 senses no THH.
TEST(DacDeckReadBack, SizedFromTheDevice)
{
    struct Case {
        const char* name;
        int chips, type;
        bool fake;
    };
    const Case cases[] = {{"model, 1 chip type 1", 1, 1, false},
                          {"test hardware, 4 chips type 2 (60 values)", 4, 2, true},
                          {"model, 4 chips type 3", 4, 3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string chips = "Chips=" + std::to_string(c.chips) + "\nType=" + std::to_string(c.type) + "\n";
        DeckRig rig(c.fake ? "[Fake]\nDevices=1\n[Device0]\n" + chips : "[Model]\n" + chips, c.fake);
        DacState state(rig.table(), 0);
        const Indices ix = findIndices(rig.table());
        state.setIndices(ix.thl, ix.thh, ix.fbk);
        int readBacks = 0;
        state.setNotifier([&](Notice n, int) { readBacks += n == Notice::ReadBackDone; });
        EXPECT_EQ(state.sense(), Applied::Sent);
        EXPECT_EQ(readBacks, 1);
        const auto s = state.snapshot();
        EXPECT_EQ(s.values, deviceDacs(rig, state.dacCount() * c.chips));
        ASSERT_EQ(s.thl.size(), static_cast<size_t>(2 * c.chips));
        for (int chip = 0; chip < c.chips; ++chip) {
            EXPECT_NE(s.thl[static_cast<size_t>(chip)], 0.0) << "chip " << chip;
            EXPECT_NE(s.fbk[static_cast<size_t>(chip)], 0.0) << "chip " << chip;
        }
        const std::vector<int> withThh = {ix.thl, ix.fbk, ix.thh}, withoutThh = {ix.thl, ix.fbk};
        EXPECT_EQ(DeckRig::sensed(), c.type == 3 ? withoutThh : withThh);
        EXPECT_TRUE(DeckRig::log().empty());
    }
}

// A read-back that the hardware refuses (the sense goes through hwSetTvkDACs): logged and told as an error,
// and the readings shown before stay instead of becoming zeros that look measured.
TEST(DacDeckReadBack, RefusedByTheHardwareKeepsTheLastReadings)
{
    DeckRig rig("[Fake]\nDevices=1\n[Device0]\nChips=4\nType=1\n", true);
    DacState state(rig.table(), 0);
    const Indices ix = findIndices(rig.table());
    state.setIndices(ix.thl, ix.thh, ix.fbk);
    std::vector<std::pair<Notice, int>> notices;
    state.setNotifier([&](Notice n, int code) { notices.emplace_back(n, code); });
    ASSERT_EQ(state.sense(), Applied::Sent);
    ASSERT_EQ(notices.back().first, Notice::ReadBackDone);
    const DacState::Snapshot before = state.snapshot();
    ASSERT_NE(before.thl[0], 0.0);

    plat::Module fake;
    ASSERT_TRUE(fake.open(rig.folder() + "/hwlibs/fakehw.so")) << fake.error();
    auto set = reinterpret_cast<int (*)(int, const char*, int)>(fake.symbol("fakeHwSet"));
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set(0, "fail.hwSetTvkDACs", 5), 0);
    state.readBack();
    ASSERT_EQ(notices.back().first, Notice::Error);
    EXPECT_NE(notices.back().second, 0);
    const auto log = DeckRig::log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("reading back"), std::string::npos) << log[0];
    const DacState::Snapshot after = state.snapshot();
    EXPECT_EQ(after.thl, before.thl);
    EXPECT_EQ(after.fbk, before.fbk);
    EXPECT_EQ(after.values, before.values);

    ASSERT_EQ(set(0, "fail.hwSetTvkDACs", 0), 0);
    state.readBack();
    EXPECT_EQ(notices.back().first, Notice::ReadBackDone);
    EXPECT_EQ(DeckRig::log().size(), 1u);
}

// Opening the panel while a worker holds the device returns at once: the sense and the external DAC wait
// for the next "AcqCompleted" / "ExtDACSet".
TEST(DacDeckReadBack, OpeningWhileBusyNeverWaits)
{
    DeckRig rig("[Model]\nChips=1\nType=1\n");
    const _MgrFuncTable* t = rig.table();
    DacState state(t, 0);
    const Indices ix = findIndices(t);
    state.setIndices(ix.thl, ix.thh, ix.fbk);
    ASSERT_EQ(t->tvkCtrlSetExtDAC(0, 2, 0.5), 0);
    auto open = std::async(std::launch::async, [&] {
        DeviceHolder holder(t, 0);
        return std::make_pair(state.sense(), state.readExtDac());
    });
    ASSERT_EQ(open.wait_for(ombrel_test::kWaitLimit), std::future_status::ready) << "the panel waited for the device";
    const auto [sensed, ext] = open.get();
    EXPECT_EQ(sensed, Applied::Pending);
    EXPECT_EQ(ext, Applied::Pending);
    EXPECT_TRUE(state.snapshot().sensePending);
    EXPECT_EQ(state.snapshot().extDacIndex, -1);

    state.applyPending();
    state.extDacChanged();
    const auto s = state.snapshot();
    EXPECT_FALSE(s.sensePending);
    EXPECT_NE(s.thl[0], 0.0);
    EXPECT_EQ(s.extDacIndex, 2);
    EXPECT_DOUBLE_EQ(s.extDacValue, 0.5);
}

// An external-DAC move while busy is sent by the next applyPending.
TEST(DacDeckApply, PendingExternalDac)
{
    DeckRig rig("[Model]\nChips=1\nType=1\n");
    const _MgrFuncTable* t = rig.table();
    DacState state(t, 0);
    {
        DeviceHolder holder(t, 0);
        EXPECT_EQ(state.applyExtDac(3, 0.25), Applied::Pending);
    }
    state.applyPending();
    int index = -1;
    double value = 0;
    ASSERT_EQ(t->tvkCtrlGetExtDAC(0, &index, &value), 0);
    EXPECT_EQ(index, 3);
    EXPECT_DOUBLE_EQ(value, 0.25);
    EXPECT_FALSE(state.snapshot().extDacPending);
}
