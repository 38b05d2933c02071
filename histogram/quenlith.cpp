// Quenlith: a histogram of inter-photon times in the host's array, over a
// range set by setupQuenlith and compared as unsigned 32-bit numbers. The
// library owns no buffer and prints nothing.
//
// Ranges it cannot count into an array count nothing, silently: itv of 0 or
// below, lb above ub as unsigned numbers, and a highest slot
// (ub - lb) / itv beyond INT32_MAX (see array_bins.h). Before the first
// set-up nothing is counted either, and a null array is never written.
#include "Quenlith_api.h"
#include "array_bins.h"
#include "library.h"

namespace {

struct Quenlith {
    fcs::ArrayBins bins;  // the range of the last set-up
};

Quenlith state;  // zero at load: counts nothing

}  // namespace

void fcs::release_at_unload() noexcept {}

void setupQuenlith(fcs_long lb, fcs_long ub, fcs_long itv) noexcept { state.bins = fcs::array_bins(lb, ub, itv); }

void addpntArrIO(fcs_long* quenbararr, fcs_ulong ipt) noexcept { fcs::count_into(quenbararr, state.bins, ipt); }
