// The photon-pair correlator step, shared by every form of the correlator.
//
// The delay list holds, in slots 1 to idelay, the cumulative lags from the
// current photon back to each earlier photon still inside the window, never
// decreasing from slot to slot; slot 0 holds 0 and stands for the current
// photon itself. One step per photon moves the window on by tau ticks and
// counts the new photon's pairs into acf, indexed by lag.
#pragma once

#include <cstdint>

namespace fcs {

// Adds one to a 32-bit count, wrapping like the hardware instead of
// saturating (and without the undefined behaviour of signed overflow).
inline void bump(std::int32_t& count) noexcept {
    count = static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
}

// One correlator step. Lags, tau and mtau are unsigned: a tau above mtau,
// however large, empties the window. The lag sums are formed in 64 bits so
// that no sum wraps. Capacity comparisons with mdelay are signed.
//
// Returns false when the step is refused because the list is full: either
// idelay already exceeds mdelay (the overflowed state), or this photon would
// need a slot beyond mdelay, in which case idelay is left at mdelay + 1.
// A refused step writes nothing else and counts nothing.
inline bool pair_step(std::uint32_t* delay, std::int32_t& idelay, std::int32_t mdelay,
                      std::int32_t* acf, std::uint32_t mtau, std::uint32_t tau) noexcept {
    std::int32_t n = idelay;
    if (n > mdelay) return false;

    // Purge, from the oldest end, the photons that would lie beyond mtau.
    while (n > 0 && std::uint64_t{delay[n]} + tau > mtau) {
        delay[n] = 0;
        --n;
    }
    ++n;  // the previous photon joins the window
    if (tau > mtau) n = 0;
    if (n > mdelay) {
        idelay = n;
        return false;
    }

    // Shift every kept lag up one slot, grown by tau, and count its pair; the
    // lags stay within mtau because the purge removed every longer one.
    for (std::int32_t i = n; i >= 1; --i) {
        const std::uint32_t lag = delay[i - 1] + tau;
        delay[i] = lag;
        bump(acf[lag]);
    }
    if (n >= 0) bump(acf[0]);  // the new photon itself, at lag 0
    idelay = n;
    return true;
}

}  // namespace fcs
