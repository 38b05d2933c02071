// A simulated FCS measurement with known truth: molecules in Brownian motion
// through a three-dimensional Gaussian detection volume, detected photons
// from the resulting inhomogeneous Poisson process, plus a uniform background.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fcs::host {

struct Sample {
    double duration_s = 10.0;
    double clock_ns = 12.5;
    double waist_um = 0.25;          // lateral 1/e^2 radius w0 of the detection volume
    double axial_um = 1.25;          // axial 1/e^2 half-extent z0
    double diffusion_um2_s = 100.0;  // diffusion coefficient D
    double molecules = 5.0;          // mean number N in the effective volume pi^1.5 w0^2 z0
    double brightness_hz = 50000.0;  // count rate of one molecule at the centre
    double background_hz = 1000.0;   // uncorrelated count rate (dark counts, scattering)
    std::uint64_t seed = 1;

    double diffusion_time_s() const { return waist_um * waist_um / (4.0 * diffusion_um2_s); }
    double structure_factor() const { return axial_um / waist_um; }
    // A molecule in the volume is seen on average at 2^-1.5 of its peak rate.
    double signal_rate_hz() const;
    double mean_rate_hz() const { return signal_rate_hz() + background_hz; }
    // The background dilutes the correlation: the amplitude shows
    // N (1 + background / signal)^2 molecules.
    double apparent_molecules() const;
};

// Throws Failure naming the first value out of range.
void check_sample(const Sample& sample);

// The photon times of the measurement, in clock ticks from its start, sorted.
// Deterministic for a given sample and seed.
std::vector<std::uint64_t> simulate_photons(const Sample& sample);

// Writes the gaps between consecutive photons as an inter-photon time file
// (4-byte little-endian records): one record fewer than photons. Throws
// Failure if a gap exceeds the file's range or the file cannot be written;
// nothing is left behind then. Returns the number of records.
std::uint64_t write_photon_file(const std::string& path, const std::vector<std::uint64_t>& ticks);

}  // namespace fcs::host
