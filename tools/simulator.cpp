#include "simulator.h"

#include "failure.h"
#include "output_file.h"
#include "random.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <thread>

namespace fcs::host {

double Sample::signal_rate_hz() const { return molecules * brightness_hz / (2.0 * std::numbers::sqrt2); }

double Sample::apparent_molecules() const {
    const double dilution = mean_rate_hz() / signal_rate_hz();
    return molecules * dilution * dilution;
}

void check_sample(const Sample& s) {
    const auto positive = [](double v, const char* what) {
        if (!(v > 0.0) || !std::isfinite(v)) throw Failure(std::string(what) + " must be a positive number");
    };
    positive(s.duration_s, "the duration");
    positive(s.clock_ns, "the clock period");
    positive(s.waist_um, "the waist");
    positive(s.axial_um, "the axial extent");
    positive(s.diffusion_um2_s, "the diffusion coefficient");
    positive(s.molecules, "the number of molecules");
    if (!(s.brightness_hz > 0.0) || !std::isfinite(s.brightness_hz))
        throw Failure("the molecular brightness must be a positive number");
    if (!(s.background_hz >= 0.0) || !std::isfinite(s.background_hz))
        throw Failure("the background rate must be zero or a positive number");
    if (s.duration_s * 1e9 / s.clock_ns > 0x1.0p52)
        throw Failure("the duration holds more clock periods than the simulator counts exactly (2^52)");
    if (s.molecules > 1e4) throw Failure("the number of molecules must be at most 10000");
}

namespace {

// Positions are in units of the detection volume: x / w0, y / w0, z / z0, so
// that the detection efficiency is exp(-2 r^2). The molecules live in a
// periodic box of +-kLateral waists and +-kAxial axial extents, large enough
// that a molecule's own images do not show in the correlation out to about a
// hundred diffusion times.
constexpr double kLateral = 12.0;
constexpr double kAxial = 4.0;
// Within kNear of the centre a molecule is followed photon by photon. Beyond
// kQuiet it emits nothing that counts (exp(-2 * 2.5^2) < 4e-6, and less than
// 2e-5 of the signal comes from beyond 2.5) and jumps from ball to ball.
constexpr double kNear = 2.75;
constexpr double kQuiet = 2.5;

// First exit of a Brownian motion from a ball of radius a around its start:
// the place is uniform on the sphere, and u = D t / a^2 has the survival
// function S(u) = 2 sum_n (-1)^(n+1) exp(-n^2 pi^2 u). The table holds the
// quantiles of u; the last cell uses the tail S = 2 exp(-pi^2 u).
class BallExit {
public:
    BallExit() {
        for (int i = 1; i < kCells; ++i) {
            const double p = static_cast<double>(i) / kCells;
            double low = 0.0, high = 2.0;
            for (int step = 0; step < 60; ++step) {
                const double mid = (low + high) / 2.0;
                (1.0 - survival(mid) < p ? low : high) = mid;
            }
            u_[i] = (low + high) / 2.0;
        }
        u_[0] = 0.0;
    }

    double sample(Random& rng) const {
        const double p = rng.uniform();
        const double at = p * kCells;
        const auto cell = static_cast<int>(at);
        if (cell >= kCells - 1) return std::log(2.0 / (1.0 - p)) / (std::numbers::pi * std::numbers::pi);
        return u_[cell] + (at - cell) * (u_[cell + 1] - u_[cell]);
    }

private:
    static constexpr int kCells = 4096;
    static double survival(double u) {
        if (u < 1e-3) return 1.0;  // an exit this early has a probability below e^-200
        double sum = 0.0;
        for (int n = 1; n <= 200; ++n) {
            const double term = std::exp(-n * n * std::numbers::pi * std::numbers::pi * u);
            sum += (n % 2 ? term : -term);
            if (term < 1e-18) break;
        }
        return 2.0 * sum;
    }
    double u_[kCells];
};

struct Motion {
    double lateral_var;  // variance per tick along x and y (units of w0)
    double axial_var;    // the same along z (units of z0)
    double kappa;        // z0 / w0
    double rate;         // peak photons per tick of one molecule
    double end;          // duration in ticks
};

double wrap(double x, double half) {
    while (x >= half) x -= 2.0 * half;
    while (x < -half) x += 2.0 * half;
    return x;
}

// Radius, in units of w0, of a ball around (x, y, z) that keeps clear of the
// quiet radius around the centre and around each of its periodic images:
// the larger of two lower bounds of the distance to that ellipsoid (scaled
// distance, distance to the enclosing cylinder), capped by the images.
double clear_radius(double x, double y, double z, double kappa) {
    const double scaled = (std::sqrt(x * x + y * y + z * z) - kQuiet) * std::min(1.0, kappa);
    const double radial = std::max(0.0, std::sqrt(x * x + y * y) - kQuiet);
    const double axial = std::max(0.0, std::fabs(z) - kQuiet) * kappa;
    double a = std::max(scaled, std::sqrt(radial * radial + axial * axial));
    a = std::min(a, 2.0 * kLateral - std::fabs(x) - kQuiet);
    a = std::min(a, 2.0 * kLateral - std::fabs(y) - kQuiet);
    return std::min(a, (2.0 * kAxial - std::fabs(z) - kQuiet) * kappa);
}

// One molecule over the whole measurement. Near the centre, candidate photons
// come at the peak rate and each is kept with the detection efficiency at the
// molecule's exact position (thinning); positions between candidates follow
// from exact Gaussian increments. Elsewhere the molecule walks on spheres:
// from each place it jumps to its first exit from a ball that it cannot
// leave towards the focus. Nothing is discretized in time.
void follow_molecule(Random& rng, const Motion& m, const BallExit& exit, std::vector<std::uint64_t>& ticks) {
    double x = (2.0 * rng.uniform() - 1.0) * kLateral;
    double y = (2.0 * rng.uniform() - 1.0) * kLateral;
    double z = (2.0 * rng.uniform() - 1.0) * kAxial;
    const double lateral_d = m.lateral_var / 2.0;  // diffusion coefficient per tick, units of w0
    for (double t = 0.0;;) {
        if (x * x + y * y + z * z < kNear * kNear) {
            const double step = rng.exponential() / m.rate;
            t += step;
            if (t >= m.end) return;
            const double lateral = std::sqrt(step * m.lateral_var);
            const double axial = std::sqrt(step * m.axial_var);
            x = wrap(x + lateral * rng.normal(), kLateral);
            y = wrap(y + lateral * rng.normal(), kLateral);
            z = wrap(z + axial * rng.normal(), kAxial);
            // Kept with probability exp(-2 r^2): an exponential beyond 2 r^2.
            if (rng.exponential() > 2.0 * (x * x + y * y + z * z)) ticks.push_back(static_cast<std::uint64_t>(t));
        } else {
            const double a = clear_radius(x, y, z, m.kappa);
            t += exit.sample(rng) * a * a / lateral_d;
            if (t >= m.end) return;
            // A uniform direction (Marsaglia's method), a away, z in units of z0.
            double u, v, s;
            do {
                u = 2.0 * rng.uniform() - 1.0;
                v = 2.0 * rng.uniform() - 1.0;
                s = u * u + v * v;
            } while (s >= 1.0);
            const double r = 2.0 * std::sqrt(1.0 - s);
            x = wrap(x + a * u * r, kLateral);
            y = wrap(y + a * v * r, kLateral);
            z = wrap(z + a * (1.0 - 2.0 * s) / m.kappa, kAxial);
        }
    }
}

}  // namespace

std::vector<std::uint64_t> simulate_photons(const Sample& s) {
    check_sample(s);
    const double clock_s = s.clock_ns * 1e-9;
    Motion m{};
    m.lateral_var = 2.0 * s.diffusion_um2_s / (s.waist_um * s.waist_um) * clock_s;
    m.axial_var = 2.0 * s.diffusion_um2_s / (s.axial_um * s.axial_um) * clock_s;
    m.kappa = s.structure_factor();
    m.rate = s.brightness_hz * clock_s;
    m.end = s.duration_s / clock_s;

    // A Poisson number of molecules at the concentration that puts N in the
    // effective volume pi^1.5 (in units of w0^2 z0).
    const double box = 8.0 * kLateral * kLateral * kAxial;
    const double effective = std::pow(std::numbers::pi, 1.5);
    Random counter(s.seed, 0);
    const std::uint64_t count = counter.poisson(s.molecules * box / effective);

    // Each molecule has a random stream of its own, so the photons do not
    // depend on how the molecules are shared out between threads.
    const BallExit exit;
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::vector<std::uint64_t>> parts(threads);
    const auto follow_share = [&](unsigned share) {
        std::vector<std::uint64_t>& ticks = parts[share];
        ticks.reserve(static_cast<std::size_t>(s.mean_rate_hz() * s.duration_s * 1.1 / threads) + 16);
        for (std::uint64_t i = share; i < count; i += threads) {
            Random rng(s.seed, i + 2);
            follow_molecule(rng, m, exit, ticks);
        }
    };
    {
        std::vector<std::jthread> workers;
        for (unsigned share = 1; share < threads; ++share) workers.emplace_back(follow_share, share);
        follow_share(0);
    }

    std::vector<std::uint64_t> ticks;
    if (s.background_hz > 0.0) {
        Random rng(s.seed, 1);
        const double rate = s.background_hz * clock_s;
        for (double t = rng.exponential() / rate; t < m.end; t += rng.exponential() / rate)
            ticks.push_back(static_cast<std::uint64_t>(t));
    }
    for (const auto& part : parts) ticks.insert(ticks.end(), part.begin(), part.end());
    std::sort(ticks.begin(), ticks.end());
    return ticks;
}

std::uint64_t write_photon_file(const std::string& path, const std::vector<std::uint64_t>& ticks) {
    if (ticks.size() < 2) throw Failure("the simulated measurement holds fewer than two photons");
    const std::size_t count = ticks.size() - 1;
    std::vector<unsigned char> bytes(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t gap = ticks[i + 1] - ticks[i];
        if (gap > 0x7FFFFFFFu)
            throw Failure("a gap between simulated photons exceeds 2^31 - 1 clock periods; "
                          "raise the background rate or the clock period");
        for (int b = 0; b < 4; ++b) bytes[4 * i + static_cast<std::size_t>(b)] = static_cast<unsigned char>(gap >> (8 * b));
    }
    OutputFile file(path);
    file.write(bytes.data(), bytes.size());
    file.commit();
    return count;
}

}  // namespace fcs::host
