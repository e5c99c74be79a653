// What a frame needs of the device that acquires into it. TvkDevice implements it; frames build and
// test without devices.
#pragma once

#include <cstdint>
#include <vector>

class TvkFrameSource {
public:
    virtual ~TvkFrameSource() = default;

    virtual uint32_t frameDeviceIndex() const = 0;
    virtual int frameChipCount() const = 0;
    // Current acquisition settings, as the frame's attributes "Polarity", "Hw timer", "Acq mode",
    // "DACs" and "Acq time" record them.
    virtual int32_t framePolarity() const = 0;
    virtual int32_t frameHwTimer() const = 0;
    virtual int32_t frameAcqMode() const = 0;
    virtual std::vector<uint16_t> frameDacs() const = 0; // every chip's DACs, chip after chip
    virtual double frameAcqTime() const = 0;
};
