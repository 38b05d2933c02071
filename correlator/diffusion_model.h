// The diffusion model that the correlation fits use: a four-coefficient
// curve in the lag x (ns),
//   f(x) = a[0] / (1 + x / a[1]) / (1 + x * a[2] / a[1])^0.5 + a[3]
// with a[0] the amplitude, a[1] the characteristic lag in ns, a[2] the factor
// of the square-root term and a[3] the offset.
#pragma once

#include "runtime.h"

#include <cstdint>

namespace fcs::fit {

inline constexpr std::int32_t kCoefficients = 4;

// The operations run in a fixed order, so that every build rounds alike:
// the square-root term first, then the amplitude over the linear term,
// divided by the root, plus the offset. Reads only x and a[0..3].
inline double diffusion_model(double x, const double* a, std::int32_t /*ncoef*/) noexcept {
    const double root = fcs::rt::pow(x * a[2] / a[1] + 1.0, 0.5);
    const double linear = a[0] / (x / a[1] + 1.0);
    return linear / root + a[3];
}

}  // namespace fcs::fit
