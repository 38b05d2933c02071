// The acquisition: every inter-photon time of a file, in order, into Dromilt's
// correlator, Quenlith's histogram and Trelvin's time trace (closed bins joined
// into one array with Vennitch), then the counts, the normalization
// (Plavenne) and the libraries' fit (Dromilt).
#pragma once

#include "averaging.h"
#include "library_set.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fcs::host {

// What a first quick pass learns about an inter-photon time file.
struct FileScan {
    std::uint64_t records = 0;         // whole 4-byte records
    std::uint64_t trailing_bytes = 0;  // 1 to 3 bytes of an incomplete last record, ignored
    std::uint64_t ticks = 0;           // sum of all records
    std::uint32_t largest = 0;         // largest record
    std::uint64_t largest_at = 0;      // its index
};

// Reads the whole file in large blocks; throws Failure when it cannot be
// opened or read, or holds no whole record.
FileScan scan_photon_file(const std::string& path);

// Everything in ticks, as the libraries take it.
struct Setup {
    std::int32_t mtau = 0;
    double duty_factor = 0.0;
    double clock_ns = 0.0;
    std::int32_t hist_lb = 0, hist_ub = 0, hist_itv = 1;
    std::int32_t trace_ticks = 1;
    int segments = 20;
    int library_iterations = 5;
    int library_guess = 20;

    std::size_t hist_slots() const {
        return static_cast<std::size_t>((static_cast<std::uint32_t>(hist_ub) - static_cast<std::uint32_t>(hist_lb)) /
                                        static_cast<std::uint32_t>(hist_itv)) +
               1;
    }
};

// The libraries' fit: the four coefficients of their diffusion model
// (amplitude, characteristic lag in ns, square-root factor, offset) and the
// fitted curve, in pair counts.
struct LibraryFit {
    double coefficients[4] = {0, 0, 0, 0};
    double mse = 0.0;
    std::vector<double> curve;
};

struct Acquisition {
    std::vector<std::int32_t> acf;  // pair counts, lags 0 to mtau; entry 0 counts photons
    std::vector<double> normalized;
    std::uint64_t photons = 0;  // Dromilt's photon count: one per inter-photon time
    std::uint64_t ticks = 0;    // its tick count
    std::uint64_t refused = 0;  // steps refused at a full window; the window was emptied after each
    std::uint64_t first_refused = 0;
    std::vector<std::int32_t> histogram;  // slot k: times from lb + k itv
    std::vector<std::uint32_t> trace;     // photons of every closed bin (the last, open bin is not reported)
    PairSums whole;
    std::vector<PairSums> segments;
    LibraryFit library_fit;
    double feed_seconds = 0.0;  // reading and feeding, of which:
    double read_seconds = 0.0;  // reading the file
    double finish_seconds = 0.0;
};

// Runs the acquisition. The libraries are set up here and Dromilt is released
// at the end. `progress` shows the share done on standard error.
Acquisition acquire(const std::string& path, const FileScan& scan, const Setup& setup, const LagBins& bins,
                    const LibrarySet& libs, bool progress);

}  // namespace fcs::host
