// The CSV files of an acquisition, each with a header line.
#pragma once

#include "acquisition.h"
#include "averaging.h"
#include "physical_fit.h"

#include <string>
#include <vector>

namespace fcs::host {

// correlation.csv: lag_ns, pairs, normalized, library_fit, library_fit_normalized
// for every lag from 0 to mtau (row 0 counts photons, not pairs).
void write_correlation_csv(const std::string& path, const Acquisition& a, double clock_ns);

// correlation_averaged.csv: lag_ns, first_lag_ns, last_lag_ns, lags, g, g_se,
// fit (the physical fit over the bin, empty without a fit), in_fit (0 or 1).
void write_averaged_csv(const std::string& path, const std::vector<AveragedPoint>& points,
                        const std::vector<bool>& in_fit, const DiffusionFit& fit);

// histogram.csv: ipt_ticks, ipt_ns (start of each bin), count.
void write_histogram_csv(const std::string& path, const Acquisition& a, const Setup& setup);

// trace.csv: time_s (start of each closed bin, from the first photon), photons.
void write_trace_csv(const std::string& path, const Acquisition& a, const Setup& setup);

}  // namespace fcs::host
