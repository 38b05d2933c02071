// Starting coefficients of the diffusion model, read off the curve itself.
//
// The amplitude is head - tail and the offset is tail, two points of the curve
// near its ends. The characteristic lag is where the curve falls to a quarter
// of the way from tail to head: a short bisection brackets that point, and
// the model with these coefficients meets the same level there, because the
// square-root term with factor 3.0 is then (1 + 3)^0.5 = 2.
#pragma once

#include <cstdint>

namespace fcs::fit {

// Index of the starting characteristic lag in curve y: the middle of the
// bracket [0, upper] after `steps` bisection steps (none when steps <= 0)
// towards the level 0.25 * head + 0.75 * tail. A point at or below the level
// moves the upper end of the bracket, any other point the lower end. The
// result lies within 0 to upper; the work stays within about 32 steps.
inline std::int32_t guess_lag_index(const double* y, double head, double tail, std::int32_t upper,
                                    std::int32_t steps) noexcept {
    const double level = 0.25 * head + 0.75 * tail;
    std::int32_t lo = 0;
    std::int32_t hi = upper;
    // The middle as a double truncated toward zero; the sum in 64 bits cannot wrap.
    const auto middle = [&] { return static_cast<std::int32_t>(static_cast<double>(std::int64_t{lo} + hi) / 2.0); };
    for (std::int32_t step = 0; step < steps; ++step) {
        const std::int32_t mid = middle();
        // A step that leaves the bracket as it was is repeated by every later
        // step: stopping there gives the same result for any step count.
        if (level >= y[mid]) {
            if (hi == mid) break;
            hi = mid;
        } else {
            if (lo == mid) break;
            lo = mid;
        }
    }
    return middle();
}

// Writes the four starting coefficients into a: amplitude, lag (the lag axis
// entry at the guessed index), 3.0 for the square-root factor, offset. Head
// and tail are y[head_at] and y[tail_at]; the bisection runs over 0 to upper.
inline void starting_coefficients(const double* y, const double* lags, std::int32_t head_at,
                                  std::int32_t tail_at, std::int32_t upper, std::int32_t steps,
                                  double* a) noexcept {
    const double head = y[head_at];
    const double tail = y[tail_at];
    a[1] = lags[guess_lag_index(y, head, tail, upper, steps)];
    a[3] = tail;
    a[0] = head - tail;
    a[2] = 3.0;
}

}  // namespace fcs::fit
