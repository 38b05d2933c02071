// Corvanel: the photon-pair correlator on the library's own buffers and on
// the caller's, with its unit calculators, its text files, the conversion of
// an inter-photon time file, and the diffusion-model fit.
#include "Corvanel_api.h"
#include "diffusion_model.h"
#include "fit_binding.h"
#include "initial_guess.h"
#include "library.h"
#include "pair_step.h"
#include "photon_file.h"
#include "runtime.h"
#include "units.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

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
    std::size_t points;
    std::size_t fitted_points;
};

Corvanel state;  // zero at load

void release_correlator() noexcept {
    fcs::rt::release_array(state.acf);
    fcs::rt::release_array(state.delay);
}

// The data copy and the lag axis, which both fits read.
void release_curve() noexcept {
    fcs::rt::release_array(state.data);
    fcs::rt::release_array(state.lags);
    state.points = 0;
}

void release_workspace() noexcept {
    release_curve();
    fcs::rt::release_array(state.fitted);
    state.fitted_points = 0;
}

// Builds a data copy and a lag axis (entry i = i * clock_ns) of `count`
// entries in place of those in force. A failed allocation leaves neither.
bool build_curve(std::size_t count, double clock_ns) noexcept {
    release_curve();
    state.data = fcs::rt::zalloc_array<double>(count);
    state.lags = fcs::rt::zalloc_array<double>(count);
    if (!state.data || !state.lags) {
        release_curve();
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) state.lags[i] = static_cast<double>(i) * clock_ns;
    state.points = count;
    return true;
}

// Builds the whole fit workspace for a curve of `count` points: data copy,
// lag axis and fitted curve. A failed allocation leaves no workspace rather
// than part of one.
void build_workspace(std::size_t count, double clock_ns) noexcept {
    release_workspace();
    state.fitted = fcs::rt::zalloc_array<double>(count);
    if (!state.fitted || !build_curve(count, clock_ns)) {
        release_workspace();
        return;
    }
    state.fitted_points = count;
}

// Set-up of the correlator and the workspace; mdelay, or 0 with the message.
std::int32_t set_up(std::int32_t mtau, double dutyFactor, double clock_ns) noexcept {
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

// One photon into the library's correlator: tau, or 0 with the overflow
// message when the step is refused.
std::int32_t count_photon(std::int32_t tau) noexcept {
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

// Fits the first n points of the data copy, whose head and tail entries the
// caller names, and returns the service's mean squared error (0.0 when the
// service does not run). The starting coefficients go into a.
double fit_curve(std::int32_t n, std::int32_t head_at, std::int32_t tail_at, std::int32_t steps, double* fitted,
                 std::int32_t max_iter, double* a) noexcept {
    fcs::fit::starting_coefficients(state.data, state.lags, head_at, tail_at, n - 1, steps, a);
    double result = 0.0;
    fcs::fit::run_fit_service(state.lags, state.data, fitted, n, max_iter, fcs::fit::diffusion_model, a,
                              fcs::fit::kCoefficients, &result);
    return result;
}

// A file name for a message; a null name prints as "(null)".
const char* shown(const char* name) noexcept { return name ? name : "(null)"; }

}  // namespace

void fcs::release_at_unload() noexcept {
    release_correlator();
    release_workspace();
}

fcs_long setupRealACF(fcs_long mtau, double dutyFactor, double clock_ns) noexcept {
    return set_up(mtau, dutyFactor, clock_ns);
}

fcs_long realACFraw(fcs_long tau) noexcept { return count_photon(tau); }

void realACFrawArrIO(fcs_long* delay, fcs_long* acf, fcs_long tau, fcs_long* idelay, fcs_long mtau,
                     fcs_long mdelay) noexcept {
    if (mtau < 0) return;  // no lag fits an array of mtau + 1 <= 0 entries
    // The caller's signed lags are read as unsigned: they lie within 0 to mtau.
    fcs::pair_step(reinterpret_cast<std::uint32_t*>(delay), *idelay, mdelay, acf,
                   static_cast<std::uint32_t>(mtau), static_cast<std::uint32_t>(tau));
}

fcs_long calcRealACFmtau(fcs_long m, fcs_long c) noexcept { return fcs::lag_ticks(m, c); }

double calcRealACFdutyFactor(double m, fcs_long c) noexcept { return fcs::photons_per_tick(m, c); }

fcs_long writeRealACFraw2CSV(char* fnameCSV) noexcept {
    if (!state.acf) return 0;  // no correlation before a successful set-up
    std::FILE* file = fnameCSV ? std::fopen(fnameCSV, "w") : nullptr;
    if (!file) {
        fcs::rt::err("writeRealACFtoCSV: ERROR fail to open %s", shown(fnameCSV));
        return 0;
    }
    for (std::int32_t k = 0; k < state.mtau; ++k) std::fprintf(file, "%ld\n", static_cast<long>(state.acf[k]));
    std::fclose(file);
    fcs::rt::out("writeRealACFtoCSV: acf (%ld pnts) written (1 pnt/line) to %s\n", static_cast<long>(state.mtau),
                 fnameCSV);
    return state.mtau;
}

void file2acf(char* cfn, char* dfn, fcs_long mtau, double dutyFactor, double clock_ns) noexcept {
    // An input that cannot be opened changes nothing: no set-up, no output.
    std::FILE* in = cfn ? std::fopen(cfn, "rb") : nullptr;
    if (!in) {
        fcs::rt::err("file2acf: ERROR fail to open %s", shown(cfn));
        return;
    }
    // A failed set-up (told by the missing correlation array: a working one
    // may return an mdelay of 0) feeds nothing and writes nothing.
    set_up(mtau, dutyFactor, clock_ns);
    if (!state.acf) {
        std::fclose(in);
        return;
    }
    // Each record is a signed 32-bit time, exactly as the host would pass it.
    fcs::for_each_record(in, [](std::uint32_t record) { count_photon(static_cast<std::int32_t>(record)); });
    std::fclose(in);

    std::FILE* out = dfn ? std::fopen(dfn, "w") : nullptr;
    if (!out) return;  // the correlation stays in the library
    // The lag is the lag axis entry, computed as the set-up computes it, so
    // that the file does not depend on the fit workspace.
    for (std::int32_t k = 0; k < mtau; ++k)
        std::fprintf(out, "%f\t%d\n", static_cast<double>(k) * clock_ns, state.acf[k]);
    std::fclose(out);
}

double ACFFit1() noexcept {
    // Head and tail are entries 1 and mtau - 1: mtau must be at least 1, and
    // the workspace in force must hold all mtau + 1 points and a fitted curve.
    if (!state.acf || state.mtau < 1 || state.mtau == INT32_MAX) return 0.0;
    const std::int32_t n = state.mtau + 1;
    const auto count = static_cast<std::size_t>(n);
    if (!state.data || state.points < count || !state.fitted || state.fitted_points < count) return 0.0;

    for (std::size_t i = 0; i < count; ++i) state.data[i] = static_cast<double>(state.acf[i]);
    double a[fcs::fit::kCoefficients];
    return fit_curve(n, 1, state.mtau - 1, 20, state.fitted, 1, a);
}

void ACFsetupArrIO(fcs_long arrsize, const double clock_ns) noexcept {
    if (arrsize < 0) {
        release_curve();  // no arrays of a negative size: none in force
        return;
    }
    build_curve(static_cast<std::size_t>(arrsize), clock_ns);
}

double ACFFit1ArrIO(fcs_long* yarr, fcs_long arrsize, double* fityarr, double* fitcoef, fcs_long iter,
                    fcs_long guess) noexcept {
    if (arrsize <= 2 || !yarr || !fitcoef) return 0.0;
    // The workspace in force must hold the whole curve.
    const auto count = static_cast<std::size_t>(arrsize);
    if (!state.data || state.points < count) return 0.0;

    for (std::size_t i = 0; i < count; ++i) state.data[i] = static_cast<double>(yarr[i]);
    return fit_curve(arrsize, 1, arrsize - 2, guess, fityarr, iter, fitcoef);
}

void ACFFree() noexcept { release_curve(); }
