// Host-side helpers for the histogram tests: a brute-force histogram from the
// definition of a slot, random streams that hit every edge of a range, host
// arrays with guard slots, and the bytes of inter-photon time files.
#pragma once

#include "host.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace fcs::test {

// Slot k counts the values v with lb + k*itv <= v < lb + (k+1)*itv and
// v <= ub, all in 64-bit arithmetic, so that nothing wraps. Callers pass the
// values and bounds as signed or unsigned 32-bit numbers, as the library
// compares them.
inline std::vector<std::int32_t> reference_histogram(const std::vector<std::int64_t>& values, std::int64_t lb,
                                                     std::int64_t ub, std::int64_t itv, std::size_t slots) {
    std::vector<std::int32_t> counts(slots, 0);
    for (const std::int64_t v : values) {
        for (std::size_t k = 0; k < slots; ++k) {
            const std::int64_t low = lb + static_cast<std::int64_t>(k) * itv;
            if (low <= v && v < low + itv && v <= ub) ++counts[k];
        }
    }
    return counts;
}

// The raw 32-bit values as signed and as unsigned numbers.
inline std::vector<std::int64_t> as_signed(const std::vector<std::uint32_t>& raw) {
    std::vector<std::int64_t> v;
    for (const std::uint32_t x : raw) v.push_back(static_cast<std::int32_t>(x));
    return v;
}
inline std::vector<std::int64_t> as_unsigned(const std::vector<std::uint32_t>& raw) { return {raw.begin(), raw.end()}; }

// Random 32-bit values around the range lb..ub (given as 64-bit numbers in
// the comparison the library uses): most inside or just outside it, some on
// a bound or a bin edge, some anywhere in the 32 bits.
inline std::vector<std::uint32_t> random_values(std::size_t count, std::int64_t lb, std::int64_t ub,
                                                std::int64_t itv, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::int64_t> near(lb - 2 * itv, ub + 2 * itv);
    std::uniform_int_distribution<std::int64_t> bin(0, (ub - lb) / itv + 1);
    std::uniform_int_distribution<std::uint32_t> any;
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<std::uint32_t> values;
    values.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const int p = pick(rng);
        std::int64_t v;
        if (p == 0)
            v = any(rng);
        else if (p == 1)
            v = (i % 4 == 0) ? lb : (i % 4 == 1) ? ub : (i % 4 == 2) ? lb - 1 : ub + 1;
        else if (p == 2)
            v = lb + bin(rng) * itv - static_cast<std::int64_t>(i % 2);  // a bin edge or the value below it
        else
            v = near(rng);
        values.push_back(static_cast<std::uint32_t>(v));  // modulo 2^32, as the host's 32 bits hold it
    }
    return values;
}

// A host array of `slots` counts followed by guard slots that no call may touch.
class GuardedArray {
public:
    static constexpr std::int32_t kGuard = 0x5eed5eed;
    static constexpr std::size_t kGuards = 8;

    explicit GuardedArray(std::size_t slots, std::int32_t fill = 0) : slots_(slots), data_(slots + kGuards, fill) {
        for (std::size_t i = slots; i < data_.size(); ++i) data_[i] = kGuard;
    }
    std::int32_t* data() { return data_.data(); }
    std::vector<std::int32_t> counts() const { return {data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(slots_)}; }
    bool guards_intact() const {
        for (std::size_t i = slots_; i < data_.size(); ++i)
            if (data_[i] != kGuard) return false;
        return true;
    }

private:
    std::size_t slots_;
    std::vector<std::int32_t> data_;
};

// The bytes of an inter-photon time file: 4-byte records, least significant
// byte first, then `trailing` bytes of an incomplete record.
inline std::string photon_file(const std::vector<std::uint32_t>& records, std::size_t trailing = 0) {
    std::string bytes;
    for (const std::uint32_t r : records)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((r >> shift) & 0xffu));
    bytes.append(trailing, '\x05');
    return bytes;
}

// One count per line, as both histogram writers print them into their
// text-mode files.
inline std::string count_lines(const std::vector<std::int32_t>& counts, std::size_t first_n) {
    std::string text;
    for (std::size_t k = 0; k < first_n; ++k) text += std::to_string(counts[k]) + "\n";
    return text_file(text);
}

}  // namespace fcs::test
