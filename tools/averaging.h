// Quasi-logarithmic averaging of the correlation: consecutive lags pooled into
// bins whose widths grow geometrically, with standard errors from the scatter
// between segments of the measurement.
#pragma once

#include <cstdint>
#include <vector>

namespace fcs::host {

// Bins of lags from 1 to the largest lag: single lags while the geometric
// step is below one tick, then about `per_decade` bins per decade. Lag 0 is
// left out: its entry counts photons, not pairs.
struct LagBins {
    std::vector<std::int32_t> first, last;  // inclusive lag range of each bin, in ticks
    std::size_t size() const { return first.size(); }
};
LagBins quasi_log_bins(std::int32_t mtau, int per_decade);

// Sum of the pair counts of each bin.
std::vector<std::int64_t> bin_pair_sums(const std::int32_t* acf, const LagBins& bins);

// Pair sums per bin with the photon and tick counts of one part of the run
// (pairs are counted with their later photon).
struct PairSums {
    std::vector<std::int64_t> pairs;
    std::uint64_t photons = 0;
    std::uint64_t ticks = 0;
};

struct AveragedPoint {
    double lag_ns;             // mean lag of the bin
    double first_ns, last_ns;  // its first and last lag
    std::int32_t lags;         // lags in the bin
    double g;                  // normalized correlation of the whole run, pooled over the bin
    double se;                 // standard error: scatter of the segments' values / sqrt(segments)
};

// The pooled normalized correlation of each bin: its pair sum over the sum of
// the pair counts that uncorrelated photons give, (A/T)^2 (T - i), minus 1,
// which is the normalizer's formula summed over the bin. `segments` are the
// successive parts of the run; their values' scatter gives the standard error.
std::vector<AveragedPoint> average_correlation(const LagBins& bins, const PairSums& whole,
                                               const std::vector<PairSums>& segments, double clock_ns);

// The same points with g from the run without one of its segments (for the
// jackknife); the standard errors are kept.
std::vector<AveragedPoint> leave_segment_out(const std::vector<AveragedPoint>& points, const LagBins& bins,
                                             const PairSums& whole, const PairSums& segment);

}  // namespace fcs::host
