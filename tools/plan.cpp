#include "plan.h"

#include "failure.h"

#include <algorithm>
#include <cmath>

namespace fcs::host {

namespace {

// Correlation arrays of more points would take gigabytes in the host and the
// libraries together.
constexpr std::int64_t kMostLags = 1 << 25;
constexpr std::int64_t kMostHistogramSlots = 1 << 24;
constexpr std::uint64_t kMostTraceBins = 1 << 27;
constexpr int kHistogramBins = 400;

std::string ticks_text(std::int64_t ticks, double clock_ns) {
    return std::to_string(ticks) + " ticks (" + format_duration_ns(static_cast<double>(ticks) * clock_ns) + ")";
}

}  // namespace

Plan make_plan(const AcquireSettings& s, const FileScan& scan, const LibrarySet& libs) {
    Plan plan;
    const double clock = *s.clock_ns;
    const TickConverter convert(clock, libs.dromilt, libs.trelvin);
    Setup& setup = plan.setup;
    setup.clock_ns = clock;
    setup.segments = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(s.segments), scan.records));
    setup.library_iterations = s.library_iterations;
    setup.library_guess = s.library_guess;

    // Correlator: the largest lag, and the window bound with its margin.
    const std::int64_t mtau = convert.truncated_ticks(s.max_lag, "the largest lag");
    if (mtau < 7)
        throw Failure("the largest lag " + s.max_lag.text + " is " + std::to_string(mtau) +
                      " ticks; it must be at least 7 ticks (the libraries' fit needs 7 lags)");
    if (mtau > kMostLags)
        throw Failure("the largest lag " + s.max_lag.text + " is " + std::to_string(mtau) + " ticks; at most " +
                      std::to_string(kMostLags) + " are supported");
    setup.mtau = static_cast<std::int32_t>(mtau);

    const double mean_gap = static_cast<double>(scan.ticks) / static_cast<double>(scan.records);
    const double measured_hz = 1e9 / (mean_gap * clock);
    if (s.duty_factor) {
        setup.duty_factor = *s.duty_factor;
    } else {
        plan.rate_hz = s.rate_hz ? *s.rate_hz : measured_hz;
        plan.rate_source = s.rate_hz ? "given" : "measured from the file";
        plan.margin = s.margin;
        setup.duty_factor = convert.photons_per_tick(plan.rate_hz) * s.margin;
    }
    if (!std::isfinite(setup.duty_factor) || setup.duty_factor * static_cast<double>(mtau) + 1.0 > (1 << 28))
        throw Failure("the window bound (duty factor x largest lag) is beyond 2^28 photons; "
                      "lower the rate, the margin or the largest lag");

    // Time trace: 1 ms bins unless told, rounded to whole ticks where 1 ms
    // is no whole number of clock periods.
    std::int64_t width = 0;
    if (s.trace_bin) {
        width = convert.whole_ticks(*s.trace_bin, "the trace bin width");
        if (width < 1) throw Failure("the trace bin width " + s.trace_bin->text + " must be at least one clock period");
    } else {
        try {
            width = convert.whole_ticks(TimeValue{1e6, false, "1ms"}, "the trace bin width");
        } catch (const Failure&) {
            width = std::max<std::int64_t>(1, std::llround(1e6 / clock));
            plan.notes.push_back("trace bin: 1 ms is no whole number of clock periods; rounded to " +
                                 ticks_text(width, clock));
        }
    }
    if (width > 0x7FFFFFFF) throw Failure("the trace bin width is beyond 2^31 - 1 ticks");
    if (scan.ticks / static_cast<std::uint64_t>(width) + 1 > kMostTraceBins)
        throw Failure("the time trace would have more than " + std::to_string(kMostTraceBins) +
                      " bins; widen --trace-bin");
    setup.trace_ticks = static_cast<std::int32_t>(width);
    // Trelvin's tick offset holds a gap plus less than one bin in 31 bits.
    if (scan.largest > 0x7FFFFFFFu - static_cast<std::uint32_t>(width))
        throw Failure("record " + std::to_string(scan.largest_at) + " holds " + std::to_string(scan.largest) +
                      " ticks, beyond the largest inter-photon time that the trace takes (2^31 - 1 - bin width = " +
                      std::to_string(0x7FFFFFFFu - static_cast<std::uint32_t>(width)) + ")");

    // Histogram of inter-photon times: 400 bins over 10 mean gaps unless told.
    std::int64_t lb = s.hist_min ? convert.truncated_ticks(*s.hist_min, "the histogram's lowest time") : 0;
    std::int64_t itv = 0, ub = 0;
    if (s.hist_bin) {
        itv = convert.whole_ticks(*s.hist_bin, "the histogram bin width");
        if (itv < 1) throw Failure("the histogram bin width " + s.hist_bin->text + " must be at least one clock period");
    }
    if (s.hist_max) {
        ub = convert.truncated_ticks(*s.hist_max, "the histogram's highest time");
        if (ub < lb) throw Failure("the histogram's highest time " + s.hist_max->text + " lies below its lowest");
        if (!s.hist_bin) itv = std::max<std::int64_t>(1, std::llround(static_cast<double>(ub - lb + 1) / kHistogramBins));
    } else {
        const double span = std::clamp(10.0 * mean_gap, 1.0, 1e9);
        if (!s.hist_bin) itv = std::max<std::int64_t>(1, std::llround(span / kHistogramBins));
        ub = lb + static_cast<std::int64_t>(std::ceil(span / static_cast<double>(itv))) * itv - 1;
        plan.notes.push_back("histogram range: 10 mean inter-photon times");
    }
    if (ub > 0x7FFFFFFF) {
        if (s.hist_max) throw Failure("the histogram's highest time " + s.hist_max->text + " is beyond 2^31 - 1 ticks");
        ub = 0x7FFFFFFF;
    }
    if ((ub - lb) / itv + 1 > kMostHistogramSlots)
        throw Failure("the histogram would have more than " + std::to_string(kMostHistogramSlots) +
                      " bins; widen --hist-bin");
    setup.hist_lb = static_cast<std::int32_t>(lb);
    setup.hist_ub = static_cast<std::int32_t>(ub);
    setup.hist_itv = static_cast<std::int32_t>(itv);

    // Lag range of the physical fit.
    const std::int64_t first = std::max<std::int64_t>(1, convert.truncated_ticks(s.fit_min, "the fit's first lag"));
    const std::int64_t last = s.fit_max ? convert.truncated_ticks(*s.fit_max, "the fit's last lag") : mtau;
    if (last > mtau) throw Failure("the fit's last lag " + s.fit_max->text + " lies beyond the largest lag " + s.max_lag.text);
    if (first >= last)
        throw Failure("the fit's first lag " + s.fit_min.text + " must lie below its last (" +
                      ticks_text(last, clock) + ")");
    plan.fit_first = static_cast<std::int32_t>(first);
    plan.fit_last = static_cast<std::int32_t>(last);
    plan.calculators = convert.used_calculators();
    return plan;
}

}  // namespace fcs::host
