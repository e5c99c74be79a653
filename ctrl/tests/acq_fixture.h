// Test set-up for acquisitions on the fake hardware library: the device fixture plus what the fake reads
// out, the callbacks of an acquisition recorded in order, and a small frame store.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "dev_fixture.h"
#include "super_matrix.h"
#include "tvk_frame_info.h"

namespace acqtest {

// What the fake reads out of a device whose pixels all count: j % 251 at chip-ordered index j, remapped
// into the super matrix when the device does that.
inline std::vector<int16_t> fakeCounts(int chips, bool superMatrix)
{
    std::vector<int16_t> chipOrder(static_cast<size_t>(chips) * 65536);
    for (size_t j = 0; j < chipOrder.size(); ++j)
        chipOrder[j] = static_cast<int16_t>(j % 251);
    if (chips != 4 || !superMatrix)
        return chipOrder;
    std::vector<int16_t> matrix(chipOrder.size());
    supermatrix::toMatrix(chipOrder.data(), matrix.data(), sizeof(int16_t));
    return matrix;
}

// The callbacks of acquisitions, in the order they came.
struct Recorder {
    std::mutex mutex; // guards events
    std::vector<std::string> events;

    void add(std::string event)
    {
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back(std::move(event));
    }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return std::move(events);
    }
};

class AcqTest : public devtest::DeviceTest {
protected:
    void TearDown() override
    {
        devtest::DeviceTest::TearDown();
        setCbFrameCreated(nullptr);
        setCbAddAttribs(nullptr);
        setCbAcqCompl(nullptr);
    }

    static std::vector<int16_t> frame16(unsigned dev, int index, uint32_t pixels = 65536)
    {
        std::vector<int16_t> data(pixels, -1);
        EXPECT_EQ(getFrame16(dev, data.data(), pixels, index), 0) << deviceMessage(dev);
        return data;
    }

    int64_t calls(const char* function, int id = 0)
    {
        return control("fake").counter(id, (std::string("calls.") + function).c_str());
    }
};

} // namespace acqtest
