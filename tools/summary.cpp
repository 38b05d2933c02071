#include "summary.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <numeric>

namespace fcs::host {

namespace {

class Lines {
public:
    void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char line[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        text_ += line;
        text_ += '\n';
    }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

// How far a value lies from the truth, in standard errors of both kinds.
std::string deviation(double value, double truth, double se, double jackknife_se, bool jackknife) {
    char text[128];
    if (jackknife)
        std::snprintf(text, sizeof text, " (fit - truth = %+.2f standard errors, %+.2f jackknife errors)",
                      (value - truth) / se, (value - truth) / jackknife_se);
    else
        std::snprintf(text, sizeof text, " (fit - truth = %+.2f standard errors)", (value - truth) / se);
    return text;
}

}  // namespace

std::string summary_text(const Report& r) {
    const Acquisition& a = *r.acquisition;
    const Setup& s = r.plan.setup;
    const double clock = s.clock_ns;
    const double duration_s = static_cast<double>(a.ticks) * clock * 1e-9;
    Lines out;

    out.add("input: %s", r.input.c_str());
    out.add("  inter-photon times: %llu", static_cast<unsigned long long>(r.scan.records));
    if (r.scan.trailing_bytes > 0)
        out.add("  ignored: %llu trailing bytes (no whole 4-byte record)", static_cast<unsigned long long>(r.scan.trailing_bytes));
    out.add("  photons: %llu (the first has no inter-photon time of its own)", static_cast<unsigned long long>(a.photons + 1));
    out.add("  photon count (Dromilt): %llu", static_cast<unsigned long long>(a.photons));
    out.add("  ticks: %llu", static_cast<unsigned long long>(a.ticks));
    out.add("  clock period: %.6g ns", clock);
    out.add("  duration: %.6g s", duration_s);
    out.add("  mean count rate: %.6g kHz", static_cast<double>(a.photons) / duration_s / 1e3);

    out.add("correlator (Dromilt):");
    out.add("  lags: 0 to %d ticks (%s)", s.mtau, format_duration_ns(s.mtau * clock).c_str());
    if (r.plan.rate_source.empty())
        out.add("  window bound: duty factor %.6g photons per tick (given), %d photons", s.duty_factor,
                static_cast<int>(s.duty_factor * s.mtau + 1.0));
    else
        out.add("  window bound: duty factor %.6g photons per tick, %d photons (%.6g x the mean rate %.6g kHz, %s)",
                s.duty_factor, static_cast<int>(s.duty_factor * s.mtau + 1.0), r.plan.margin, r.plan.rate_hz / 1e3,
                r.plan.rate_source.c_str());
    if (a.refused == 0) {
        out.add("  refused steps: 0");
    } else {
        out.add("  refused steps: %llu, the first at inter-photon time %llu; the window overflowed, so the program "
                "emptied it after each (raise --margin or --duty-factor)",
                static_cast<unsigned long long>(a.refused), static_cast<unsigned long long>(a.first_refused));
    }
    out.add("  lag 0: counts photons, not pairs; both fits leave it out");

    const long long counted = std::accumulate(a.histogram.begin(), a.histogram.end(), 0LL);
    out.add("histogram (Quenlith): %zu slots of %d ticks (%s) from %d ticks; %lld times outside %d to %d ticks",
            a.histogram.size(), s.hist_itv, format_duration_ns(s.hist_itv * clock).c_str(), s.hist_lb,
            static_cast<long long>(r.scan.records) - counted, s.hist_lb, s.hist_ub);
    out.add("trace (Trelvin, joined with Vennitch): %zu closed bins of %d ticks (%s); the last, open bin is not reported",
            a.trace.size(), s.trace_ticks, format_duration_ns(s.trace_ticks * clock).c_str());
    out.add("normalization: Plavenne, from the pair counts and Dromilt's photon and tick counts");
    out.add("unit conversions: %s", r.plan.calculators
                                         ? "the libraries' calculators (calcRealACFmtau, calcRealACFdutyFactor, calcTrelvin)"
                                         : "in double precision here: the clock period is no whole number of a unit "
                                           "small enough for the calculators' 32-bit nanoseconds");
    for (const std::string& note : r.plan.notes) out.add("note: %s", note.c_str());

    const double* c = a.library_fit.coefficients;
    out.add("libraries' fit (fitRealDromilt on the pair counts, lag 0 replaced by the lag-1 count, %d iterations at most):",
            s.library_iterations);
    out.add("  amplitude: %.6g pairs", c[0]);
    out.add("  characteristic lag: %.6g ns", c[1]);
    out.add("  square-root factor: %.6g", c[2]);
    out.add("  offset: %.6g pairs", c[3]);
    out.add("  molecules (offset / amplitude): %.6g", c[3] / c[0]);
    if (c[2] > 0.0)
        out.add("  read as the 3D model: tD = characteristic lag, structure factor = 1/sqrt(square-root factor) = %.4g",
                1.0 / std::sqrt(c[2]));
    out.add("  mean squared error: %.6g", a.library_fit.mse);
    if (a.library_fit.mse == 0.0) out.add("  note: a mean squared error of 0 means that the fit service did not run");

    const DiffusionFit& f = r.fit;
    char kappa[96];
    if (f.kappa_fitted)
        std::snprintf(kappa, sizeof kappa, "fitted within %g to %g", *r.fit_settings.kappa_low,
                      *r.fit_settings.kappa_high);
    else
        std::snprintf(kappa, sizeof kappa, "fixed at %g", r.fit_settings.kappa);
    out.add("physical fit (3D diffusion, structure factor %s; %zu averaged points from %s to %s, weighted by standard "
            "errors from %zu segments):",
            kappa, f.points, format_duration_ns(r.plan.fit_first * clock).c_str(),
            format_duration_ns(r.plan.fit_last * clock).c_str(), a.segments.size());
    if (!f.done) {
        out.add("  not done: %s", f.problem.c_str());
    } else {
        const JackknifeErrors& j = r.jackknife;
        const auto jack = [&](double se, double scale, const char* unit) {
            char text[64];
            std::snprintf(text, sizeof text, " (jackknife +- %.3g%s)", se / scale, unit);
            return j.done ? std::string(text) : std::string();
        };
        out.add("  standard errors: from the covariance of the weighted fit; in brackets, the jackknife over "
                "the segments, which also counts the correlation between lags");
        out.add("  diffusion time: %.6g +- %.3g ms%s", f.model.td_ns / 1e6, f.td_se_ns / 1e6,
                jack(j.td_ns, 1e6, " ms").c_str());
        out.add("  molecules: %.6g +- %.3g%s", f.molecules, f.molecules_se, jack(j.molecules, 1.0, "").c_str());
        out.add("  offset G_inf: %.4g +- %.3g%s", f.model.offset, f.offset_se, jack(j.offset, 1.0, "").c_str());
        if (f.kappa_at_bound)
            out.add("  structure factor: %.4g (at its bound)", f.model.kappa);
        else if (f.kappa_fitted)
            out.add("  structure factor: %.4g +- %.3g", f.model.kappa, f.kappa_se);
        out.add("  reduced chi-square: %.4g (%d degrees of freedom)", f.reduced_chi2, f.degrees_of_freedom);
        if (!j.done) out.add("  jackknife: not available (a fit without one of the segments failed)");
    }

    if (r.truth) {
        const Sample& t = *r.truth;
        out.add("truth (simulated, seed %llu):", static_cast<unsigned long long>(t.seed));
        const double td_ns = t.diffusion_time_s() * 1e9;
        const JackknifeErrors& j = r.jackknife;
        out.add("  diffusion time: %.6g ms%s", td_ns / 1e6,
                f.done ? deviation(f.model.td_ns, td_ns, f.td_se_ns, j.td_ns, j.done).c_str() : "");
        out.add("  molecules: %.6g in the volume, %.6g as the correlation shows them through the background%s",
                t.molecules, t.apparent_molecules(),
                f.done ? deviation(f.molecules, t.apparent_molecules(), f.molecules_se, j.molecules, j.done).c_str()
                       : "");
        out.add("  structure factor: %.6g", t.structure_factor());
        out.add("  mean count rate: %.6g kHz (%.6g kHz from the molecules)", t.mean_rate_hz() / 1e3,
                t.signal_rate_hz() / 1e3);
    }
    if (r.cross) {
        out.add("cross-check:");
        out.add("  correlation: %s", r.cross->correlation.c_str());
        out.add("  histogram: %s", r.cross->histogram.c_str());
    }

    std::string files;
    for (const std::string& name : r.outputs) files += (files.empty() ? "" : ", ") + name;
    out.add("outputs in %s: %s", r.folder.c_str(), files.c_str());
    if (r.figure) {
        if (r.figure->drawn)
            out.add("figure: %s", r.figure->path.c_str());
        else
            out.add("figure: not drawn: %s", r.figure->problem.c_str());
    }
    char figure[48] = "";
    if (r.figure) std::snprintf(figure, sizeof figure, ", %.3g s figure", r.figure_seconds);
    out.add("time: %.3g s feeding the libraries (%.3g s of it reading the file), %.3g s counts, normalization and "
            "libraries' fit, %.3g s averaging and physical fit, %.3g s writing%s",
            a.feed_seconds, a.read_seconds, a.finish_seconds, r.fit_seconds, r.write_seconds, figure);
    return out.take();
}

}  // namespace fcs::host
