// A simulated card with one device per board, made up directly on the library's core: no module loaded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dorvel_device.h"
#include "sim/sim_card.h"

namespace dorvel_test {

using namespace dorvel;

inline SimCardConfig cardConfig(int cards, int chips, int chipType, double wordsPerSecond = 0.0)
{
    SimCardConfig config;
    config.cards = cards;
    config.chips = chips;
    config.chipType = chipType;
    config.wordsPerSecond = wordsPerSecond;
    return config;
}

struct Rig {
    std::shared_ptr<SimCard> card;
    std::vector<std::unique_ptr<DorvelDevice>> devices; // devices[i] drives board i + 1

    explicit Rig(const SimCardConfig& config, const std::string& iniPath = "")
        : card(std::make_shared<SimCard>(config))
    {
        for (int board = 1; board <= config.cards; ++board)
            devices.push_back(std::make_unique<DorvelDevice>(DeviceContext{card, nullptr, iniPath, 0x712, "7.12"},
                                                             static_cast<uint16_t>(board), "DAQCard-6533"));
    }

    DorvelDevice& device(int board = 1) { return *devices[static_cast<size_t>(board - 1)]; }

    // The words of every block write of a board that followed the address byte `address` on port 2.
    std::vector<std::vector<uint16_t>> writesTo(int address, uint16_t board = 1) const
    {
        std::vector<std::vector<uint16_t>> writes;
        bool addressed = false;
        for (const SimCall& call : card->calls(board)) {
            if (call.call == DioCall::PortOut)
                addressed = call.b == address;
            else if (call.call == DioCall::BlockOut && addressed)
                writes.push_back(call.words);
        }
        return writes;
    }

    bool called(DioCall what, uint16_t board = 1) const
    {
        for (const SimCall& call : card->calls(board))
            if (call.call == what)
                return true;
        return false;
    }
};

} // namespace dorvel_test
