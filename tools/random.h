// A small, fast and fully specified random source for the simulator, so that
// a seed gives the same photons wherever the program runs (the standard
// distributions are free to differ between library implementations).
#pragma once

#include <cmath>
#include <cstdint>

namespace fcs::host {

// splitmix64: turns a seed (and a stream number) into well-mixed state words.
inline std::uint64_t splitmix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Tables of the ziggurat method (Marsaglia and Tsang, 2000) for the standard
// normal (128 layers) and the unit exponential (256 layers).
struct ZigguratTables {
    ZigguratTables();
    std::uint32_t kn[128];
    double wn[128], fn[128];
    std::uint32_t ke[256];
    double we[256], fe[256];
};
const ZigguratTables& ziggurat_tables();

// xoshiro256** generator: one independent stream per (seed, stream) pair.
class Random {
public:
    Random(std::uint64_t seed, std::uint64_t stream) : z_(ziggurat_tables()) {
        std::uint64_t x = seed ^ (stream * 0xD1B54A32D192ED03ull);
        for (auto& word : s_) word = splitmix64(x);
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    // Uniform in (0, 1].
    double uniform_open() { return static_cast<double>((next() >> 11) + 1) * 0x1.0p-53; }

    // Standard normal. The layer comes from the low bits, the value from the
    // high 32 bits of one draw, so that the two are independent.
    double normal() {
        for (;;) {
            const std::uint64_t bits = next();
            const unsigned layer = bits & 127u;
            const auto hz = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
            const std::uint32_t magnitude = hz < 0 ? 0u - static_cast<std::uint32_t>(hz) : static_cast<std::uint32_t>(hz);
            const double x = hz * z_.wn[layer];
            if (magnitude < z_.kn[layer]) return x;
            if (layer == 0) {  // the tail beyond r
                constexpr double r = 3.442619855899;
                double tail, y;
                do {
                    tail = -std::log(uniform_open()) / r;
                    y = -std::log(uniform_open());
                } while (y + y < tail * tail);
                return hz > 0 ? r + tail : -r - tail;
            }
            if (z_.fn[layer] + uniform() * (z_.fn[layer - 1] - z_.fn[layer]) < std::exp(-0.5 * x * x)) return x;
        }
    }

    // Exponential with mean 1.
    double exponential() {
        for (;;) {
            const std::uint64_t bits = next();
            const unsigned layer = bits & 255u;
            const auto jz = static_cast<std::uint32_t>(bits >> 32);
            const double x = jz * z_.we[layer];
            if (jz < z_.ke[layer]) return x;
            if (layer == 0) return 7.697117470131487 - std::log(uniform_open());
            if (z_.fe[layer] + uniform() * (z_.fe[layer - 1] - z_.fe[layer]) < std::exp(-x)) return x;
        }
    }

    // Poisson with the given mean, counting unit-rate arrivals (the means used
    // here are at most some hundred thousands).
    std::uint64_t poisson(double mean) {
        std::uint64_t count = 0;
        for (double t = exponential(); t < mean; t += exponential()) ++count;
        return count;
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    const ZigguratTables& z_;
    std::uint64_t s_[4];
};

}  // namespace fcs::host
