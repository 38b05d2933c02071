// Trelvin: the time trace. Inter-photon times, one per call, fall into
// consecutive bins of a fixed width in ticks; the call whose photon lies
// beyond the open bin reports that bin's photon count and the number of empty
// bins between it and the photon's own bin.
#include "Trelvin_api.h"
#include "library.h"
#include "runtime.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// Result of a trelvin call that closes no bin.
constexpr std::int32_t kNoBinClosed = -32000;

struct Trelvin {
    std::int32_t bin_width;  // ticks per bin; below 1 means not set up
    // Ticks from the start of the open bin to the latest photon: 0 up to
    // bin_width - 1 between calls. 64 bits wide, so adding any 32-bit tau
    // stays exact.
    std::int64_t tick_offset;
    // Photons in the open bin, the one that opened it included. Unsigned, so
    // more than 2^31 - 1 photons in one bin wrap instead of overflowing.
    std::uint32_t open_count;
    // Empty bins between a closed bin and the open one: set and handed out
    // within the trelvin call that closes the bin, 0 between calls.
    std::int32_t pending_empty;
};

Trelvin state;  // zero at load: not set up

}  // namespace

void fcs::release_at_unload() noexcept {}  // no buffers

// binWidth_ns / clockPeriod_ns when the bin width is a whole multiple of the
// clock period; otherwise 0 with the message on standard error. A clock period
// of 0 divides nothing: 0 with the message. INT32_MIN / -1 has no 32-bit
// quotient: 0, silently. Touches no state.
fcs_long calcTrelvin(fcs_long binWidth_ns, fcs_long clockPeriod_ns) noexcept {
    if (clockPeriod_ns == -1 && binWidth_ns == std::numeric_limits<std::int32_t>::min()) return 0;
    if (clockPeriod_ns != 0 && binWidth_ns % clockPeriod_ns == 0) return binWidth_ns / clockPeriod_ns;
    fcs::rt::err("\ncalcIpt2bin: ERROR requesting binwidth (%ld) [ns]not integral multiple of clockPeriod %ld [ns]",
                 static_cast<long>(binWidth_ns), static_cast<long>(clockPeriod_ns));
    return 0;
}

// Starts a new trace: the set-up stands for a photon at tick 0, which opens
// bin 0. Whatever the old trace had in its open bin is dropped. Any value is
// stored and returned unchanged; a width below 1 leaves the library not set up.
fcs_long setupTrelvin(fcs_long binWidth) noexcept {
    state.bin_width = binWidth;
    state.tick_offset = 0;
    state.open_count = 1;
    state.pending_empty = 0;
    return binWidth;
}

// Counts one photon, tau ticks after the previous one. While it stays in the
// open bin: -32000, *emptybins untouched. Beyond it: the closed bin's photon
// count, and *emptybins receives the number of empty bins between the closed
// bin and the photon's bin. That number exceeds 32 signed bits only for a bin
// width of 1 and a tau above 2^31: *emptybins then receives INT32_MAX (the
// trace falls short by the rest). Any tau up to 2^32 - 1 lands in the right
// bin. Not set up (no set-up yet, or a bin width below 1): -32000, nothing
// counted, *emptybins untouched. A null emptybins loses only the empty-bin
// count.
fcs_long trelvin(fcs_ulong tau, fcs_long* emptybins) noexcept {
    // A photon in the open bin costs one addition, one comparison and one
    // increment; a bin width below 1 always takes the slower path below.
    state.tick_offset += tau;
    if (state.tick_offset < state.bin_width) {
        ++state.open_count;
        return kNoBinClosed;
    }
    if (state.bin_width < 1) {
        state.tick_offset = 0;  // no bins: nothing accumulates
        return kNoBinClosed;
    }

    const auto closed = static_cast<std::int32_t>(state.open_count);
    const std::int64_t empty = state.tick_offset / state.bin_width - 1;
    state.pending_empty = static_cast<std::int32_t>(std::min<std::int64_t>(empty, std::numeric_limits<std::int32_t>::max()));
    state.tick_offset %= state.bin_width;  // the photon's place in its own bin
    state.open_count = 1;                  // it has opened that bin
    if (emptybins) *emptybins = state.pending_empty;
    state.pending_empty = 0;
    return closed;
}

// The pending empty-bin count, cleared. trelvin hands that count out through
// emptybins and clears it before it returns, so this is 0 at every call.
fcs_long getTrelvinEmptyBins() noexcept {
    const std::int32_t taken = state.pending_empty;
    state.pending_empty = 0;
    return taken;
}
