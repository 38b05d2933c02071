#include "averaging.h"

#include <cmath>

namespace fcs::host {

LagBins quasi_log_bins(std::int32_t mtau, int per_decade) {
    LagBins bins;
    const double ratio = std::pow(10.0, 1.0 / per_decade);
    for (std::int64_t first = 1; first <= mtau;) {
        const auto end = std::max<std::int64_t>(first + 1, std::llround(static_cast<double>(first) * ratio));
        const std::int64_t last = std::min<std::int64_t>(end - 1, mtau);
        bins.first.push_back(static_cast<std::int32_t>(first));
        bins.last.push_back(static_cast<std::int32_t>(last));
        first = last + 1;
    }
    return bins;
}

std::vector<std::int64_t> bin_pair_sums(const std::int32_t* acf, const LagBins& bins) {
    std::vector<std::int64_t> sums(bins.size(), 0);
    for (std::size_t b = 0; b < bins.size(); ++b)
        for (std::int32_t i = bins.first[b]; i <= bins.last[b]; ++i) sums[b] += acf[i];
    return sums;
}

namespace {

// Sum over the bin's lags of the tick pairs that lie i ticks apart: T - i for
// a run of T ticks, or T for a segment whose earlier photons may lie in the
// segment before it.
double tick_pairs(const LagBins& bins, std::size_t b, double ticks, bool from_start) {
    const double n = static_cast<double>(bins.last[b]) - bins.first[b] + 1.0;
    const double lag_sum = (static_cast<double>(bins.first[b]) + bins.last[b]) * n / 2.0;
    return from_start ? n * ticks - lag_sum : n * ticks;
}

double normalized(double pairs, double photons, double ticks, double tick_pair_sum) {
    const double rate = photons / ticks;
    return pairs / (rate * rate * tick_pair_sum) - 1.0;
}

}  // namespace

std::vector<AveragedPoint> average_correlation(const LagBins& bins, const PairSums& whole,
                                               const std::vector<PairSums>& segments, double clock_ns) {
    std::vector<AveragedPoint> points(bins.size());
    const auto A = static_cast<double>(whole.photons);
    const auto T = static_cast<double>(whole.ticks);
    for (std::size_t b = 0; b < bins.size(); ++b) {
        AveragedPoint& p = points[b];
        p.first_ns = bins.first[b] * clock_ns;
        p.last_ns = bins.last[b] * clock_ns;
        p.lag_ns = (p.first_ns + p.last_ns) / 2.0;
        p.lags = bins.last[b] - bins.first[b] + 1;
        p.g = normalized(static_cast<double>(whole.pairs[b]), A, T, tick_pairs(bins, b, T, true));

        // Welford's running mean and sum of squared deviations.
        double mean = 0.0, squares = 0.0;
        std::size_t used = 0;
        for (std::size_t s = 0; s < segments.size(); ++s) {
            const PairSums& seg = segments[s];
            if (seg.photons == 0 || seg.ticks == 0) continue;
            const auto ticks = static_cast<double>(seg.ticks);
            const double g = normalized(static_cast<double>(seg.pairs[b]), static_cast<double>(seg.photons), ticks,
                                        tick_pairs(bins, b, ticks, s == 0));
            ++used;
            const double delta = g - mean;
            mean += delta / static_cast<double>(used);
            squares += delta * (g - mean);
        }
        if (used >= 2) {
            const double n = static_cast<double>(used);
            p.se = std::sqrt(squares / (n - 1.0) / n);
        } else {
            p.se = std::nan("");
        }
    }
    return points;
}

std::vector<AveragedPoint> leave_segment_out(const std::vector<AveragedPoint>& points, const LagBins& bins,
                                             const PairSums& whole, const PairSums& segment) {
    std::vector<AveragedPoint> rest(points);
    const auto photons = static_cast<double>(whole.photons - segment.photons);
    const auto ticks = static_cast<double>(whole.ticks - segment.ticks);
    for (std::size_t b = 0; b < bins.size(); ++b)
        rest[b].g = normalized(static_cast<double>(whole.pairs[b] - segment.pairs[b]), photons, ticks,
                               tick_pairs(bins, b, ticks, true));
    return rest;
}

}  // namespace fcs::host
