// Quenbar: a histogram of inter-photon times in the library's own count
// buffer, with text output and the conversion of a recorded file, plus the
// unsigned counting into the host's array with the same range.
//
// The count buffer holds bins + 2 counts: the regular bins of width itv from
// lb on (the last one cut off at ub), the end slot, which counts ub alone when
// ub - lb is a whole number of bins, and a spare slot that stays 0.
//
// Ranges the set-up cannot work with fail like a failed allocation: the
// allocation message on standard error and no count buffer, so addpnt counts
// nothing and neither getQuenbarCopy nor writeQuenbar writes anything. Those
// ranges are itv of 0 or below, lb above ub, and a width ub - lb beyond
// INT32_MAX (the width is formed in 64 bits, never wrapped). Such a range
// stays stored, but addpntArrIO counts nothing with it either, since the host
// has no valid array size for it. Without a count buffer (before any set-up,
// after a failed one, after clearQuenbar) addpnt, getQuenbarCopy and
// writeQuenbar do nothing and print nothing.
#include "Quenbar_api.h"
#include "array_bins.h"
#include "library.h"
#include "photon_file.h"
#include "runtime.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

struct Quenbar {
    std::int32_t lb;
    std::int32_t ub;
    std::int32_t itv;
    std::int32_t bins;          // regular bins; the count buffer holds bins + 2 counts
    std::int32_t* counts;       // null: no histogram
    fcs::ArrayBins array_bins;  // the range as addpntArrIO counts with it
};

Quenbar state;  // zero at load: no histogram, and addpntArrIO counts nothing

// The number of regular bins, ceil((ub - lb) / itv), for a range the set-up
// can work with; false for any other.
bool regular_bins(std::int32_t lb, std::int32_t ub, std::int32_t itv, std::int32_t& bins) noexcept {
    const std::int64_t width = std::int64_t{ub} - lb;
    if (itv <= 0 || width < 0 || width > INT32_MAX) return false;
    bins = static_cast<std::int32_t>((width + itv - 1) / itv);
    return true;
}

void set_up(std::int32_t lb, std::int32_t ub, std::int32_t itv) noexcept {
    fcs::rt::release_array(state.counts);  // an earlier histogram the host did not release
    state.lb = lb;
    state.ub = ub;
    state.itv = itv;
    state.bins = 0;
    state.array_bins = {};
    std::int32_t bins = 0;
    if (regular_bins(lb, ub, itv, bins)) {
        state.bins = bins;
        state.array_bins = fcs::array_bins(lb, ub, itv);
        state.counts = fcs::rt::zalloc_array<std::int32_t>(static_cast<std::size_t>(bins) + 2);
    }
    if (!state.counts) fcs::rt::err("setupQuenbar: ERROR Memory allocation failed\n");
}

// Counts one signed inter-photon time. Within lb..ub the distance from lb is
// 0 to ub - lb, so the slot is 0 to bins.
void count(std::int32_t ipt) noexcept {
    if (state.counts == nullptr || ipt < state.lb || ipt > state.ub) return;
    const std::uint32_t distance = static_cast<std::uint32_t>(ipt) - static_cast<std::uint32_t>(state.lb);
    fcs::add_one(state.counts[distance / static_cast<std::uint32_t>(state.itv)]);
}

// A file name the host passed; a null name is a file that cannot be opened.
std::FILE* open_file(const char* name, const char* mode) noexcept { return name ? std::fopen(name, mode) : nullptr; }
const char* shown(const char* name) noexcept { return name ? name : "(null)"; }

}  // namespace

void fcs::release_at_unload() noexcept { fcs::rt::release_array(state.counts); }

void setupQuenbar(fcs_long lb, fcs_long ub, fcs_long itv) noexcept { set_up(lb, ub, itv); }

void addpnt(fcs_long ipt) noexcept { count(ipt); }

void addpntArrIO(fcs_long* quenbararr, fcs_ulong ipt) noexcept { fcs::count_into(quenbararr, state.array_bins, ipt); }

void getQuenbarCopy(fcs_long* quenbarArr) noexcept {
    if (state.counts == nullptr || quenbarArr == nullptr) return;
    std::copy_n(state.counts, static_cast<std::size_t>(state.bins) + 2, quenbarArr);
}

void writeQuenbar(char* fname) noexcept {
    if (state.counts == nullptr) return;
    std::FILE* file = open_file(fname, "w");
    if (!file) {
        fcs::rt::err("writeQuenbar: ERROR Unable to open output file '%s'\n", shown(fname));
        return;
    }
    const std::size_t slots = static_cast<std::size_t>(state.bins) + 2;
    for (std::size_t k = 0; k < slots; ++k) std::fprintf(file, "%ld\n", static_cast<long>(state.counts[k]));
    std::fclose(file);
}

// The range and bin count survive the release, for addpntArrIO.
void clearQuenbar() noexcept { fcs::rt::release_array(state.counts); }

void file2acf(char* cfn, char* dfn, fcs_long lb, fcs_long ub, fcs_long itv) noexcept {
    std::FILE* input = open_file(cfn, "rb");
    if (!input) {
        // No new set-up: the earlier histogram, if any, stays current.
        fcs::rt::err("file2acf: ERROR fail to open %s", shown(cfn));
        return;
    }
    set_up(lb, ub, itv);
    if (state.counts) fcs::for_each_record(input, [](std::uint32_t record) { count(static_cast<std::int32_t>(record)); });
    std::fclose(input);
    if (!state.counts) return;  // a failed set-up writes nothing

    std::FILE* output = open_file(dfn, "w");
    if (!output) return;  // silently: the histogram stays current
    for (std::int32_t k = 0; k < state.bins; ++k) std::fprintf(output, "%d\n", static_cast<int>(state.counts[k]));
    std::fclose(output);
}
