// A library on the kit for its tests: devices whose behaviour each test sets, reached through the
// function table exactly as the device-control library reaches a hardware library.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hwlibs/common/hw_func_table.h"

namespace hwkittest {

constexpr int kLibraryError = -77;

// A device that implements only hwResetMatrix (what onReset does) and counts its calls.
class TestDevice : public hwkit::Device {
public:
    std::function<int(TestDevice&)> onReset = [](TestDevice&) { return 0; };
    std::function<int(const char*)> onBeforeCall = [](const char*) { return 0; };
    int resets = 0;

    int resetMatrix() override
    {
        ++resets;
        return onReset(*this);
    }
    int beforeCall(const char* function) override { return onBeforeCall(function); }
};

class TestLibrary : public hwkit::Library {
public:
    TestLibrary() : Library(kLibraryError) {}

    int wanted = 0;                              // devices that discover() makes exist
    std::function<int()> onDiscover = [] { return 0; }; // discover()'s result after adding them
    int endResult = HW_NO_MORE_DEVICES;

    TestDevice& device(int id) { return static_cast<TestDevice&>(*lockDevice(id).get()); }

protected:
    int discover() override
    {
        for (int i = deviceCount(); i < wanted; ++i)
            addDevice(std::make_unique<TestDevice>());
        return onDiscover();
    }
    int endOfList() override { return endResult; }
    int itemCount() override { return 3; }
};

// The library the table entries reach: each test makes its own and points this at it.
inline TestLibrary* current = nullptr;
inline TestLibrary& currentLibrary()
{
    return *current;
}

// A fresh library with devices already enumerated, and its table.
struct Fixture {
    explicit Fixture(int devices)
    {
        current = &library;
        library.wanted = devices;
        int id = -1;
        for (int r = hw.hwGetFirst(&id); r == 0; r = hw.hwGetNext(&id)) {
        }
    }
    ~Fixture() { current = nullptr; }
    TestLibrary library;
    const _HwFuncTable& hw = *hwkit::funcTable<&currentLibrary>();
};

} // namespace hwkittest
