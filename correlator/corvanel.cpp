// Corvanel: the photon-pair correlator on the library's own buffers and on
// the caller's, with its unit calculators.
#include "Corvanel_api.h"
#include "library.h"
#include "pair_step.h"
#include "runtime.h"
#include "units.h"

#include <cstddef>
#include <cstdint>

namespace {

struct Corvanel {
    // Correlator: acf has mtau + 1 counts, delay has mdelay + 1 slots.
    std::int32_t mtau;
    double dutyFactor;
    std::int32_t mdelay;
    std::int32_t idelay;
    std::int32_t* acf;
    std::uint32_t* delay;

    // Fit workspace: data copy and lag axis of `points` entries each, and the
    // fitted-curve buffer of `fitted_points` entries.
    double* data;
    double* lags;
    double* fitted;
    std::int32_t points;
    std::int32_t fitted_points;
};

Corvanel state;  // zero at load

void release_correlator() noexcept {
    fcs::rt::release_array(state.acf);
    fcs::rt::release_array(state.delay);
}

void release_workspace() noexcept {
    fcs::rt::release_array(state.data);
    fcs::rt::release_array(state.lags);
    fcs::rt::release_array(state.fitted);
    state.points = 0;
    state.fitted_points = 0;
}

// Builds the fit workspace for a curve of `count` points: data copy, fitted
// curve and lag axis (entry i = i * clock_ns). A failed allocation leaves no
// workspace rather than part of one.
void build_workspace(std::size_t count, double clock_ns) noexcept {
    release_workspace();
    state.data = fcs::rt::zalloc_array<double>(count);
    state.fitted = fcs::rt::zalloc_array<double>(count);
    state.lags = fcs::rt::zalloc_array<double>(count);
    if (!state.data || !state.fitted || !state.lags) {
        release_workspace();
        return;
    }
    for (std::size_t i = 0; i < count; ++i) state.lags[i] = static_cast<double>(i) * clock_ns;
    state.points = static_cast<std::int32_t>(count);
    state.fitted_points = state.points;
}

}  // namespace

void fcs::release_at_unload() noexcept {
    release_correlator();
    release_workspace();
}

fcs_long setupRealACF(fcs_long mtau, double dutyFactor, double clock_ns) noexcept {
    // Whatever an earlier set-up left is released, not leaked.
    release_correlator();
    release_workspace();
    state.mtau = mtau;
    state.dutyFactor = dutyFactor;
    state.idelay = 0;
    state.mdelay = 0;

    // A negative mtau has no correlation array, and a bound that is negative,
    // not a number or beyond 32 bits has no delay list: both fail like a
    // failed allocation instead of sizing a buffer from a wrapped count.
    std::int32_t mdelay = 0;
    const bool sizes_ok = mtau >= 0 && fcs::delay_bound(dutyFactor, mtau, mdelay);
    if (mtau >= 0) {
        const auto points = static_cast<std::size_t>(mtau) + 1;
        state.acf = fcs::rt::zalloc_array<std::int32_t>(points);
        if (sizes_ok) state.delay = fcs::rt::zalloc_array<std::uint32_t>(static_cast<std::size_t>(mdelay) + 1);
        if (state.acf && state.delay) build_workspace(points, clock_ns);
    }

    if (!state.acf || !state.delay) {
        if (!state.acf)
            fcs::rt::out("setupRealACF: ERRORmemory allocation failed for 'acf' w/mtau=%ld", static_cast<long>(mtau));
        else
            fcs::rt::out("setupRealACF: ERRORmemory allocation failed for 'delay' w/mtau=%ld, dutyFactor=%f",
                         static_cast<long>(mtau), dutyFactor);
        release_correlator();
        return 0;
    }
    state.mdelay = mdelay;
    state.acf[0] = 1;
    return mdelay;
}

fcs_long realACFraw(fcs_long tau) noexcept {
    if (!state.acf) return 0;  // no successful set-up: nothing to count into

    // A negative tau is a 32-bit gap with its top bit set: taken as unsigned,
    // it is longer than any mtau and empties the window.
    if (!fcs::pair_step(state.delay, state.idelay, state.mdelay, state.acf,
                        static_cast<std::uint32_t>(state.mtau), static_cast<std::uint32_t>(tau))) {
        // At a refusal idelay is mdelay + 1: the divisor is the lag in the last slot.
        const double factor = static_cast<double>(state.mtau) / static_cast<double>(state.delay[state.idelay - 1]);
        fcs::rt::out("realACF : ERROR count rate too high for time delay.\n\t\n\t SUGGESTION: increase dutyFactor by a factor of %.2f or decrease excitation power",
                     factor);
        return 0;
    }
    return tau;
}

void realACFrawArrIO(fcs_long* delay, fcs_long* acf, fcs_long tau, fcs_long* idelay, fcs_long mtau,
                     fcs_long mdelay) noexcept {
    if (mtau < 0) return;  // no lag fits an array of mtau + 1 <= 0 entries
    // The caller's signed lags are read as unsigned: they lie within 0 to mtau.
    fcs::pair_step(reinterpret_cast<std::uint32_t*>(delay), *idelay, mdelay, acf,
                   static_cast<std::uint32_t>(mtau), static_cast<std::uint32_t>(tau));
}

fcs_long calcRealACFmtau(fcs_long m, fcs_long c) noexcept { return fcs::lag_ticks(m, c); }

double calcRealACFdutyFactor(double m, fcs_long c) noexcept { return fcs::photons_per_tick(m, c); }
