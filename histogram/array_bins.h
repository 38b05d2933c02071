// Counting inter-photon times into a histogram array of the host's, the
// counting that both libraries' addpntArrIO share. The range and the values
// are unsigned 32-bit numbers: slot k counts the values with
// lb + k*itv <= ipt < lb + (k+1)*itv and ipt <= ub, so the highest slot is
// (ub - lb) / itv, the slot of ub itself.
#pragma once

#include <cstdint>

namespace fcs {

// A range prepared for counting. Zero-initialized it counts nothing, so a
// library counts nothing before its first set-up.
struct ArrayBins {
    std::uint32_t lb;    // lowest value counted
    std::uint64_t span;  // number of values counted from lb on, ub - lb + 1; 0 counts nothing
    std::uint32_t itv;   // bin width; at least 1 whenever span is not 0
};

// Prepares lb, ub and itv as passed to a set-up (signed) for unsigned counting.
// Ranges that cannot be counted into an array count nothing:
// - lb above ub as unsigned numbers: no value lies in the range;
// - itv of 0 or below: there is no bin width to divide by;
// - a highest slot (ub - lb) / itv above INT32_MAX: the host numbers its
//   slots with signed 32-bit values and cannot hold such an array.
constexpr ArrayBins array_bins(std::int32_t lb, std::int32_t ub, std::int32_t itv) noexcept {
    const auto low = static_cast<std::uint32_t>(lb);
    const auto high = static_cast<std::uint32_t>(ub);
    if (itv <= 0 || low > high) return {};
    const auto width = static_cast<std::uint32_t>(itv);
    if ((high - low) / width > static_cast<std::uint32_t>(INT32_MAX)) return {};
    return {low, std::uint64_t{high - low} + 1, width};
}

// Adds one to a 32-bit count, wrapping instead of saturating (and without the
// undefined behaviour of signed overflow).
inline void add_one(std::int32_t& count) noexcept {
    count = static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
}

// Counts ipt into counts. The distance from lb, taken modulo 2^32, is below
// span exactly when lb <= ipt <= ub: a value under lb wraps to a distance
// beyond every span. The integer quotient is the slot: exact, no rounding.
inline void count_into(std::int32_t* counts, const ArrayBins& bins, std::uint32_t ipt) noexcept {
    const std::uint32_t distance = ipt - bins.lb;
    if (distance >= bins.span || counts == nullptr) return;
    add_one(counts[distance / bins.itv]);
}

}  // namespace fcs
