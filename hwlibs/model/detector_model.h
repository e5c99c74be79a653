// A detector model for tests of threshold equalization, DAC scans and wafer probing: each pixel responds
// to its threshold DACs around an edge that its adjustment bits move, so that an equalization on it has a
// known answer.
//
// Pixel edge (DAC codes) = chip base + the pixel's seeded offset - AdjGain x adjustment, separately for THL
// (adjustment bits 2-4, or 2-5 on chip type 3) and THH (bits 5-7, chip types 1 and 2). The chip base is the
// middle of the DAC's range (THL) or a quarter of it (THH), plus 4 codes per chip index.
//
// The distance d of a threshold from its edge is counted positive on the quiet side: with the effective
// polarity p (the acquisition polarity, inverted on chip types 2 and 3) d = value - edge for THL when p is
// set, edge - value when it is clear; THH the other way round.
//   - An exposure counts kNoisePeak x exp(-d^2 / (2 NoiseWidth^2)) in every enabled pixel (bit 0 set): the
//     noise peak sits on the edge.
//   - Test pulses of height h reach enabled pixels whose test input is on (bit 1 clear; on chip types 2 and
//     3 also column % 32 selected by the test-pulse column mask) and are counted with the probability
//     Phi((h x kCodesPerVolt - d) / NoiseWidth): an S-curve shifted by the height.
// THH takes part only while its DAC is not 0 (0, its default, switches the upper threshold off); the pixel
// then responds to the stronger of the two thresholds. Dead pixels never count and read back 0.
// Counts are exact expectations, or Poisson (exposures) and binomial (pulses) samples with Poisson set, and
// stop at the counter's maximum (8000 on chip type 1, 11810 on the others). Reading the matrix clears it.
// Analog read-back of a sensed DAC: value x kSenseFullScale / (2^bits - 1) volts; the routed external DAC
// reads back its set voltage.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace hwmodel {

constexpr double kNoisePeak = 1000.0;    // counts of one exposure with a threshold on its edge
constexpr double kCodesPerVolt = 100.0;  // test-pulse height in threshold codes
constexpr double kSenseFullScale = 1.5;  // volts of a DAC at its largest code
constexpr uint32_t kChipPixels = 65536;
constexpr uint32_t kChipSide = 256;

struct ModelParams {
    int chips = 1;          // 1 or 4
    int chipType = 1;       // 1, 2 or 3
    uint32_t seed = 1;
    double offsetSigma = 10.0;
    double adjGain = 6.0;
    double noiseWidth = 2.0;
    int dead = 0;           // dead pixels per chip
    bool poisson = false;
};

// DAC layout of a chip type as the model needs it.
struct ModelDacs {
    int count = 0;           // DACs per chip
    int thl = -1;            // index of THL
    int thh = -1;            // index of THH; -1 when the type has none
    std::vector<int> bits;   // widths per DAC
    std::vector<int> sense;  // sense code per DAC
};

// The layout of chip type 1, 2 or 3; count 0 for any other type.
ModelDacs modelDacsFor(int chipType);

class DetectorModel {
public:
    explicit DetectorModel(const ModelParams& params);

    const ModelParams& params() const { return params_; }
    const ModelDacs& dacs() const { return dacs_; }
    uint32_t pixelCount() const { return static_cast<uint32_t>(params_.chips) * kChipPixels; }
    bool isDead(uint32_t pixel) const { return dead_[pixel] != 0; }

    // The true edge of a pixel under a configuration byte (chips in order, row-major per chip).
    double thlEdge(uint32_t pixel, uint8_t cfg) const;
    double thhEdge(uint32_t pixel, uint8_t cfg) const;

    // What the chips see: DAC values of all chips (chips x count), the polarity and the test-pulse columns.
    struct Thresholds {
        const uint16_t* dacs = nullptr;
        bool polarity = true;
        uint32_t testPulseColumns = 0;
    };
    // Adds one exposure, or count test pulses of height h volts, to counts (pixelCount values).
    void expose(const uint8_t* cfg, const Thresholds& t, uint16_t* counts);
    void pulse(const uint8_t* cfg, const Thresholds& t, double height, uint32_t count, uint16_t* counts);

    // The analog value of DAC dac (index within the chip) at code value.
    double senseVolts(int dac, uint16_t value) const;

private:
    // One chip's view of the thresholds: its effective polarity and its THL and THH values (THH 0 is off).
    struct ChipThresholds {
        bool p = true;
        double thl = 0.0;
        double thh = 0.0;
    };
    ChipThresholds chipThresholds(uint32_t chip, const Thresholds& t) const;
    // Distance of pixel j from its THL edge, counted positive on the quiet side; its distance from the
    // THH edge in thhDistance (infinite while THH is off).
    double responseDistance(uint32_t pixel, uint8_t cfg, const ChipThresholds& c, double* thhDistance) const;
    void add(uint16_t* counts, uint32_t pixel, double expected, bool binomial, uint32_t trials);

    ModelParams params_;
    ModelDacs dacs_;
    uint16_t counterMax_;
    int thlBase_ = 0; // the chips' base edges before the 4 codes per chip index
    int thhBase_ = 0;
    std::vector<float> thlOffset_;
    std::vector<float> thhOffset_;
    std::vector<uint8_t> dead_;
    std::mt19937 rng_;
};

} // namespace hwmodel
