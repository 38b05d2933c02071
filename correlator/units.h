// Conversions from the host's physical units into the correlator's ticks,
// shared by the correlator libraries.
#pragma once

#include <cstdint>

namespace fcs {

// Largest lag in ticks: m ns / c ns per tick, truncated toward zero.
// A clock period of 0, and INT32_MIN / -1 (whose quotient has no 32-bit
// value), give 0.
constexpr std::int32_t lag_ticks(std::int32_t m, std::int32_t c) noexcept {
    if (c == 0 || (c == -1 && m == INT32_MIN)) return 0;
    return m / c;
}

// Expected photons per tick: rate per second times c ns per tick, over 1e9 ns;
// the product first, then the division.
constexpr double photons_per_tick(double m, std::int32_t c) noexcept {
    return m * static_cast<double>(c) / 1e9;
}

// Capacity bound of the delay list: dutyFactor * mtau + 1.0, truncated toward
// zero. Returns false when that bound is not a number, or truncates to a
// negative value or to one above INT32_MAX - 1 (the list needs mdelay + 1
// slots): no list of that size can be built.
inline bool delay_bound(double dutyFactor, std::int32_t mtau, std::int32_t& mdelay) noexcept {
    const double bound = dutyFactor * static_cast<double>(mtau) + 1.0;
    if (!(bound > -1.0 && bound < 2147483647.0)) return false;
    mdelay = static_cast<std::int32_t>(bound);
    return true;
}

}  // namespace fcs
