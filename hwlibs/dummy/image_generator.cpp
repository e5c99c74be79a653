// Build-time tool: writes the simulated detector's default input image and settings file.
//
//   dummy_image_generator <image file> <settings file>
//
// The image is a 256 x 256 ASCII matrix of counts for an exposure of one time element: a smooth,
// slightly uneven flat field with the hits of a mixed radiation field on it - single-pixel dots and
// small charge-shared clusters of photons, round blobs of heavy particles, straight tracks of
// minimum-ionising particles and curly tracks of low-energy electrons. A fixed seed makes every build
// write the same image.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/file_write.h"

namespace {

constexpr int kSize = 256;
constexpr double kMaxCount = 8000.0; // the counters' range
constexpr double kPi = 3.14159265358979323846;

class Image {
public:
    Image() : counts_(kSize * kSize, 0.0) {}

    void add(int x, int y, double value)
    {
        if (x >= 0 && x < kSize && y >= 0 && y < kSize)
            counts_[static_cast<size_t>(y) * kSize + x] += value;
    }
    // Spreads value over the four pixels around a point between pixel centres.
    void addAt(double x, double y, double value)
    {
        const int x0 = static_cast<int>(std::floor(x));
        const int y0 = static_cast<int>(std::floor(y));
        const double fx = x - x0, fy = y - y0;
        add(x0, y0, value * (1 - fx) * (1 - fy));
        add(x0 + 1, y0, value * fx * (1 - fy));
        add(x0, y0 + 1, value * (1 - fx) * fy);
        add(x0 + 1, y0 + 1, value * fx * fy);
    }
    double& at(int x, int y) { return counts_[static_cast<size_t>(y) * kSize + x]; }

    std::string asciiMatrix() const
    {
        std::string text;
        text.reserve(counts_.size() * 5);
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const double v = std::clamp(std::round(counts_[static_cast<size_t>(y) * kSize + x]), 0.0, kMaxCount);
                char number[16];
                const auto end = std::to_chars(number, number + sizeof number, static_cast<int>(v)).ptr;
                text.append(number, end);
                text += x + 1 < kSize ? ' ' : '\n';
            }
        }
        return text;
    }

private:
    std::vector<double> counts_;
};

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    double gauss(double mean, double sigma) { return std::normal_distribution<double>(mean, sigma)(rng_); }
    // Energy loss fluctuates with a long tail towards high values (a Landau-like shape).
    double energyLoss(double mostProbable)
    {
        return mostProbable * (0.8 + std::exponential_distribution<double>(2.5)(rng_));
    }

    // Flat field: a broad beam profile, a gentle gradient and a faint ripple of the sensor.
    void background(Image& img)
    {
        const double cx = 120.0, cy = 136.0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                const double beam = 38.0 * std::exp(-r2 / (2.0 * 95.0 * 95.0));
                const double gradient = 6.0 * x / kSize + 3.0 * y / kSize;
                const double ripple = 1.5 * std::sin(x * 0.21) * std::cos(y * 0.17);
                img.at(x, y) += 12.0 + beam + gradient + ripple;
            }
    }

    // Photons: mostly one pixel, sometimes shared among two to four neighbours.
    void dots(Image& img, int count)
    {
        for (int i = 0; i < count; ++i) {
            const double energy = uniform(60.0, 420.0);
            img.addAt(uniform(0.0, kSize - 1.0), uniform(0.0, kSize - 1.0), energy);
        }
    }

    // Heavy particles: round clusters with a dense core and a halo.
    void blobs(Image& img, int count)
    {
        for (int i = 0; i < count; ++i) {
            const double cx = uniform(8.0, kSize - 8.0), cy = uniform(8.0, kSize - 8.0);
            const double sigma = uniform(1.2, 3.2);
            const double peak = uniform(900.0, 3200.0);
            const double halo = 2.0 * sigma;
            const int reach = static_cast<int>(std::ceil(halo * 4));
            for (int dy = -reach; dy <= reach; ++dy)
                for (int dx = -reach; dx <= reach; ++dx) {
                    const double r2 = dx * dx + dy * dy;
                    const double v = peak * std::exp(-r2 / (2 * sigma * sigma)) +
                                     0.04 * peak * std::exp(-r2 / (2 * halo * halo));
                    if (r2 <= reach * reach && v >= 1.0)
                        img.add(static_cast<int>(cx) + dx, static_cast<int>(cy) + dy, v);
                }
        }
    }

    // Minimum-ionising particles: straight lines across the sensor with fluctuating deposits.
    void straightTracks(Image& img, int count)
    {
        for (int i = 0; i < count; ++i) {
            const double x0 = uniform(0.0, kSize), y0 = uniform(0.0, kSize);
            const double angle = uniform(0.0, kPi);
            const double length = uniform(40.0, 240.0);
            const double width = uniform(0.6, 1.4);
            const double deposit = uniform(90.0, 180.0);
            const double dx = std::cos(angle), dy = std::sin(angle);
            for (double s = -length / 2; s <= length / 2; s += 0.5) {
                const double x = x0 + s * dx, y = y0 + s * dy;
                // Across the track the charge spreads to the neighbours.
                const double e = energyLoss(deposit) * 0.5;
                img.addAt(x, y, e * 0.7);
                img.addAt(x - dy * width, y + dx * width, e * 0.15);
                img.addAt(x + dy * width, y - dx * width, e * 0.15);
            }
        }
    }

    // Low-energy electrons: curling random walks that bend more and deposit more as they slow down.
    void curlyTracks(Image& img, int count)
    {
        for (int i = 0; i < count; ++i) {
            double x = uniform(20.0, kSize - 20.0), y = uniform(20.0, kSize - 20.0);
            double direction = uniform(0.0, 2 * kPi);
            double turn = uniform(-0.05, 0.05);
            const int steps = integer(120, 360);
            for (int step = 0; step < steps; ++step) {
                const double slowing = static_cast<double>(step) / steps; // 0 at the start, 1 at the stop
                turn += gauss(0.0, 0.01 + 0.06 * slowing);
                turn = std::clamp(turn, -0.35, 0.35);
                direction += turn;
                x += 0.6 * std::cos(direction);
                y += 0.6 * std::sin(direction);
                img.addAt(x, y, energyLoss(60.0 + 260.0 * slowing * slowing) * 0.5);
            }
        }
    }

private:
    std::mt19937 rng_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <image file> <settings file>\n", argv[0]);
        return 2;
    }
    Image image;
    Generator gen(2000);
    gen.background(image);
    gen.dots(image, 900);
    gen.blobs(image, 14);
    gen.straightTracks(image, 7);
    gen.curlyTracks(image, 10);

    std::string error;
    const std::string matrix = image.asciiMatrix();
    if (plat::replaceFile(argv[1], matrix.data(), matrix.size(), &error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // One simulated device; its default input file is dummy_2000.txt beside the settings file.
    const std::string settings = "[Dummy]\nCount=1\nUnique=0\n";
    if (plat::replaceFile(argv[2], settings.data(), settings.size(), &error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
