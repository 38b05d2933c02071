// Brute-force photon-pair counts from absolute photon times, the yardstick
// for every form of the correlator, and random photon streams to feed both.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <utility>
#include <vector>

namespace fcs::test {

// A pair-count array of `size` zeros but for the given (lag, count) entries.
inline std::vector<std::int32_t> counts_at(std::size_t size,
                                           std::initializer_list<std::pair<std::size_t, std::int32_t>> at) {
    std::vector<std::int32_t> v(size, 0);
    for (auto [i, n] : at) v[i] = n;
    return v;
}

struct PairCounts {
    std::vector<std::int32_t> acf;  // mtau + 1 counts
    std::size_t accepted = 0;        // inter-photon times counted before the first refusal
};

// Counts, for every photon after the first, the earlier photons at each lag
// 0..mtau, from absolute times. A photon whose earlier photons within mtau
// number more than mdelay is refused, and so is every later one (the window
// is full). The first photon is counted at lag 0 only when count_first is set.
inline PairCounts reference_pairs(const std::vector<std::uint32_t>& taus, std::uint32_t mtau,
                                  std::int64_t mdelay, bool count_first) {
    PairCounts result;
    result.acf.assign(std::size_t{mtau} + 1, 0);
    if (count_first) result.acf[0] = 1;
    std::vector<std::uint64_t> times{0};
    std::size_t oldest = 0;  // first photon that may still lie within mtau
    for (std::uint32_t tau : taus) {
        const std::uint64_t now = times.back() + tau;
        while (oldest < times.size() && now - times[oldest] > mtau) ++oldest;
        if (static_cast<std::int64_t>(times.size() - oldest) > mdelay) break;
        for (std::size_t i = oldest; i < times.size(); ++i) ++result.acf[now - times[i]];
        ++result.acf[0];
        times.push_back(now);
        ++result.accepted;
    }
    return result;
}

// Inter-photon times with exponentially distributed gaps of the given mean,
// mixed with a share of zeros (two photons in one tick) and of long gaps
// beyond `long_gap`, so that every branch of the step is exercised.
inline std::vector<std::uint32_t> random_taus(std::size_t count, double mean, std::uint32_t long_gap,
                                              std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::exponential_distribution<double> gap(1.0 / mean);
    std::uniform_real_distribution<double> pick(0.0, 1.0);
    std::vector<std::uint32_t> taus;
    taus.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double p = pick(rng);
        if (p < 0.02)
            taus.push_back(0);
        else if (p < 0.03)
            taus.push_back(long_gap + static_cast<std::uint32_t>(gap(rng)));
        else
            taus.push_back(static_cast<std::uint32_t>(gap(rng)));
    }
    return taus;
}

}  // namespace fcs::test
