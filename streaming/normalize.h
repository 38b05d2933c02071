// Count-based normalization of a pair-count curve, shared by the streaming
// correlator and the stand-alone normalizer so that both give bit-identical
// values for the same counts.
#pragma once

#include "runtime.h"

#include <cstdint>

namespace fcs {

// nacf[i] = (T^2 * (acf[i] / A^2)) / (T - i) - 1.0 for i = 0 .. n-1, with
// A = acnt and T = tcnt taken as unsigned: the pair count over the count that
// uncorrelated photons give at lag i, minus one. The operations run in
// exactly this order, each in double precision; a zero count or T = i gives
// the infinities and not-a-numbers of IEEE division. n <= 0 writes nothing.
inline void normalize_pairs(const std::int32_t* acf, double* nacf, std::int32_t n, std::uint64_t acnt,
                            std::uint64_t tcnt) noexcept {
    const double a = static_cast<double>(acnt);
    const double t = static_cast<double>(tcnt);
    const double a2 = rt::pow(a, 2.0);
    const double t2 = rt::pow(t, 2.0);
    for (std::int32_t i = 0; i < n; ++i) {
        const double q = static_cast<double>(acf[i]) / a2;
        nacf[i] = (t2 * q) / (t - static_cast<double>(i)) - 1.0;
    }
}

}  // namespace fcs
