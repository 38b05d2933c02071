// The per-photon correlator step, called as a host calls it, at two photon
// densities (photons per tick) with mtau 4000, beside a kernel that only
// performs the same counting increments from precomputed lags: the floor
// that any pair correlator must pay.
//
// Each iteration feeds one block of photons; the block repeats, so the window
// carries over from one pass to the next. The counters per_photon and
// per_pair give the time per photon and per counted pair (seconds, with an
// SI prefix: 32.2n is 32.2 ns).
#include "Corvanel_api.h"
#include "Dromilt_api.h"
#include "host.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr std::int32_t kMtau = 4000;
constexpr std::size_t kBlock = 8192;

struct Stream {
    std::vector<std::int32_t> taus;
    std::vector<std::uint32_t> lags;  // every pair's lag, photon by photon, in the steady state
    double pairs = 0;                 // pairs counted per pass, lag 0 of the photon itself excluded
};

// A Poisson photon stream of the given density, and the lags of the pairs
// that each photon closes when the block follows itself.
const Stream& stream(double density) {
    static std::vector<std::pair<double, Stream>> cache;
    for (const auto& [d, s] : cache)
        if (d == density) return s;
    Stream s;
    std::mt19937 rng(7);
    std::exponential_distribution<double> gap(density);
    for (std::size_t i = 0; i < kBlock; ++i) s.taus.push_back(static_cast<std::int32_t>(gap(rng)));
    std::vector<std::uint64_t> times{0};
    for (int pass = 0; pass < 2; ++pass)
        for (auto tau : s.taus) times.push_back(times.back() + static_cast<std::uint64_t>(tau));
    for (std::size_t j = kBlock + 1; j < times.size(); ++j)
        for (std::size_t i = j; i-- > 0 && times[j] - times[i] <= kMtau;) s.lags.push_back(static_cast<std::uint32_t>(times[j] - times[i]));
    s.pairs = static_cast<double>(s.lags.size());
    cache.emplace_back(density, std::move(s));
    return cache.back().second;
}

void report(benchmark::State& state, const Stream& s) {
    using benchmark::Counter;
    state.counters["per_photon"] = Counter(static_cast<double>(kBlock), Counter::kIsIterationInvariantRate | Counter::kInvert);
    state.counters["per_pair"] = Counter(s.pairs, Counter::kIsIterationInvariantRate | Counter::kInvert);
}

// A delay-list bound twice the mean window, so that no step is refused.
double bound_factor(double density) { return 2.0 * density; }

void CorvanelRealACFraw(benchmark::State& state) {
    const double density = static_cast<double>(state.range(0)) / 1000.0;
    const auto& s = stream(density);
    fcs::test::Library lib(fcs::test::library_path("Corvanel"));
    FCS_FN(lib, corvanel, setupRealACF)(kMtau, bound_factor(density), 12.5);
    auto* step = FCS_FN(lib, corvanel, realACFraw);
    for (auto _ : state) {
        for (auto tau : s.taus) benchmark::DoNotOptimize(step(tau));
    }
    report(state, s);
}

void CorvanelRealACFrawArrIO(benchmark::State& state) {
    const double density = static_cast<double>(state.range(0)) / 1000.0;
    const auto& s = stream(density);
    fcs::test::Library lib(fcs::test::library_path("Corvanel"));
    auto* step = FCS_FN(lib, corvanel, realACFrawArrIO);
    const auto mdelay = static_cast<std::int32_t>(bound_factor(density) * kMtau + 1.0);
    std::vector<std::int32_t> delay(static_cast<std::size_t>(mdelay) + 1), acf(kMtau + 1);
    std::int32_t idelay = 0;
    for (auto _ : state) {
        for (auto tau : s.taus) step(delay.data(), acf.data(), tau, &idelay, kMtau, mdelay);
        benchmark::DoNotOptimize(acf.data());
    }
    report(state, s);
}

void DromiltRealACFrawArrIO(benchmark::State& state) {
    const double density = static_cast<double>(state.range(0)) / 1000.0;
    const auto& s = stream(density);
    fcs::test::Library lib(fcs::test::library_path("Dromilt"));
    FCS_FN(lib, dromilt, setupRealDromilt)(kMtau, bound_factor(density), 12.5);
    auto* step = FCS_FN(lib, dromilt, realACFrawArrIO);
    std::vector<std::int32_t> acf(kMtau + 1);
    for (auto _ : state) {
        for (auto tau : s.taus) step(acf.data(), static_cast<std::uint32_t>(tau));
        benchmark::DoNotOptimize(acf.data());
    }
    report(state, s);
}

// Only the increments: one per pair at its precomputed lag, one per photon at lag 0.
void CountingOnly(benchmark::State& state) {
    const auto& s = stream(static_cast<double>(state.range(0)) / 1000.0);
    std::vector<std::int32_t> acf(kMtau + 1);
    for (auto _ : state) {
        for (auto lag : s.lags) ++acf[lag];
        acf[0] += static_cast<std::int32_t>(kBlock);
        benchmark::DoNotOptimize(acf.data());
        benchmark::ClobberMemory();
    }
    report(state, s);
}

// Densities in photons per thousand ticks: 0.01 and 0.1 photons per tick.
BENCHMARK(CorvanelRealACFraw)->Arg(10)->Arg(100);
BENCHMARK(CorvanelRealACFrawArrIO)->Arg(10)->Arg(100);
BENCHMARK(DromiltRealACFrawArrIO)->Arg(10)->Arg(100);
BENCHMARK(CountingOnly)->Arg(10)->Arg(100);

}  // namespace
