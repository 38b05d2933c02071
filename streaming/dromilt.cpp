// Dromilt: the streaming correlator. The host owns the pair-count array and
// passes it with every photon; the library keeps the delay list, the 64-bit
// photon and tick counts, and the arrays of the fit.
#include "Dromilt_api.h"
#include "diffusion_model.h"
#include "fit_binding.h"
#include "initial_guess.h"
#include "library.h"
#include "normalize.h"
#include "pair_step.h"
#include "runtime.h"
#include "units.h"

#include <cstddef>
#include <cstdint>

namespace {

struct Dromilt {
    std::int32_t mtau;
    std::int32_t mdelay;
    std::int32_t idelay;
    std::uint64_t acnt;  // photons fed since set-up, refused ones included
    std::uint64_t tcnt;  // ticks fed since set-up
    // Present together or not at all: after a failed set-up and after a
    // release there are none, and steps then only advance the counts.
    std::uint32_t* delay;  // mdelay + 1 slots
    double* data;          // mtau + 1 points: the curve the fit works on
    double* lags;          // mtau + 1 points: i * clock_ns
};

Dromilt state;  // zero at load

void release_arrays() noexcept {
    fcs::rt::release_array(state.delay);
    fcs::rt::release_array(state.data);
    fcs::rt::release_array(state.lags);
}

}  // namespace

void fcs::release_at_unload() noexcept { release_arrays(); }

void setupRealDromilt(fcs_long mtau, double dutyFactor, const double clock_ns) noexcept {
    release_arrays();  // arrays of a set-up the host did not release
    state.mtau = mtau;
    state.idelay = 0;
    state.mdelay = 0;
    state.acnt = 0;
    state.tcnt = 0;

    // A negative mtau, or a bound that is negative, not a number or beyond
    // 32 bits, leaves no arrays: every step is then refused.
    std::int32_t mdelay = 0;
    if (mtau < 0 || !fcs::delay_bound(dutyFactor, mtau, mdelay)) return;
    state.mdelay = mdelay;

    const auto points = static_cast<std::size_t>(mtau) + 1;
    state.delay = fcs::rt::zalloc_array<std::uint32_t>(static_cast<std::size_t>(mdelay) + 1);
    state.data = fcs::rt::zalloc_array<double>(points);
    state.lags = fcs::rt::zalloc_array<double>(points);
    if (!state.delay || !state.data || !state.lags) {
        release_arrays();
        return;
    }
    for (std::size_t i = 0; i < points; ++i) state.lags[i] = static_cast<double>(i) * clock_ns;
}

void realACFrawArrIO(fcs_long* acf, fcs_ulong tau) noexcept {
    state.tcnt += tau;
    ++state.acnt;
    if (!state.delay) return;
    fcs::pair_step(state.delay, state.idelay, state.mdelay, acf, static_cast<std::uint32_t>(state.mtau), tau);
}

void resetrealACF(void) noexcept { state.idelay = 0; }

void getACFcnt(fcs_ulonglong* acntpt, fcs_ulonglong* tcntpt) noexcept {
    *acntpt = state.acnt;
    *tcntpt = state.tcnt;
}

void freeRealDromilt(void) noexcept { release_arrays(); }

void realACFnormArrIO(fcs_long* acfarr, double* nacfarr) noexcept {
    // mtau + 1 points, counted in 32 bits as the host's array is.
    const auto points = static_cast<std::int32_t>(static_cast<std::uint32_t>(state.mtau) + 1u);
    fcs::normalize_pairs(acfarr, nacfarr, points, state.acnt, state.tcnt);
}

double fitRealDromilt(fcs_long* acfarr, double* fitarr, double* fitcoefarr, fcs_long maxiter,
                      fcs_long guess) noexcept {
    double result = 0.0;
    // Fewer than 7 points have no head and tail three points in; without a
    // live set-up there is nothing to fit with.
    if (state.mtau <= 5 || !state.data) return result;

    const std::int32_t last = state.mtau;
    for (std::int32_t i = 0; i <= last; ++i) state.data[i] = static_cast<double>(acfarr[i]);
    // Head and tail three points in from either end, away from lag 0, which
    // counts photons rather than pairs.
    fcs::fit::starting_coefficients(state.data, state.lags, 3, last - 3, last, guess, fitcoefarr);
    fcs::fit::run_fit_service(state.lags, state.data, fitarr, last + 1, maxiter, fcs::fit::diffusion_model,
                              fitcoefarr, fcs::fit::kCoefficients, &result);
    return result;
}

fcs_long calcRealACFmtau(fcs_long m, fcs_long c) noexcept { return fcs::lag_ticks(m, c); }

double calcRealACFdutyFactor(double m, fcs_long c) noexcept { return fcs::photons_per_tick(m, c); }
