// The per-photon histogram calls as a host makes them: Quenbar's `addpnt`
// into its own count buffer, and `addpntArrIO` of Quenbar and Quenlith into
// the host's array, on a Poisson stream (mean gap 100 ticks) counted over
// 0 to 1000 ticks in bins of 10, so that nearly every value is counted.
//
// The counter per_photon gives the time per call in seconds with an SI
// prefix (1.5n is 1.5 ns).
#include "Quenbar_api.h"
#include "Quenlith_api.h"
#include "host.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using benchmark::Counter;

constexpr std::size_t kBlock = 8192;
constexpr std::int32_t kLb = 0, kUb = 1000, kItv = 10;
constexpr std::size_t kSlots = (kUb - kLb) / kItv + 2;  // bin count + 2, enough for both forms

const std::vector<std::uint32_t>& poisson_ipts() {
    static const std::vector<std::uint32_t> ipts = [] {
        std::mt19937 rng(13);
        std::exponential_distribution<double> gap(0.01);
        std::vector<std::uint32_t> v(kBlock);
        for (auto& ipt : v) ipt = static_cast<std::uint32_t>(gap(rng));
        return v;
    }();
    return ipts;
}

void per_photon(benchmark::State& state) {
    state.counters["per_photon"] = Counter(static_cast<double>(kBlock), Counter::kIsIterationInvariantRate | Counter::kInvert);
}

void QuenbarAddpnt(benchmark::State& state) {
    const auto& ipts = poisson_ipts();
    fcs::test::Library lib(fcs::test::library_path("Quenbar"));
    FCS_FN(lib, quenbar, setupQuenbar)(kLb, kUb, kItv);
    auto* add = FCS_FN(lib, quenbar, addpnt);
    for (auto _ : state) {
        for (auto ipt : ipts) add(static_cast<std::int32_t>(ipt));
        benchmark::ClobberMemory();
    }
    per_photon(state);
    FCS_FN(lib, quenbar, clearQuenbar)();
}
BENCHMARK(QuenbarAddpnt);

// Counting into the host's array, the same call in both libraries.
template <class AddFn>
void count_into_array(benchmark::State& state, AddFn* add) {
    const auto& ipts = poisson_ipts();
    std::vector<std::int32_t> counts(kSlots);
    for (auto _ : state) {
        for (auto ipt : ipts) add(counts.data(), ipt);
        benchmark::DoNotOptimize(counts.data());
        benchmark::ClobberMemory();
    }
    per_photon(state);
}

void QuenbarAddpntArrIO(benchmark::State& state) {
    fcs::test::Library lib(fcs::test::library_path("Quenbar"));
    FCS_FN(lib, quenbar, setupQuenbar)(kLb, kUb, kItv);
    count_into_array(state, FCS_FN(lib, quenbar, addpntArrIO));
}
BENCHMARK(QuenbarAddpntArrIO);

void QuenlithAddpntArrIO(benchmark::State& state) {
    fcs::test::Library lib(fcs::test::library_path("Quenlith"));
    FCS_FN(lib, quenlith, setupQuenlith)(kLb, kUb, kItv);
    count_into_array(state, FCS_FN(lib, quenlith, addpntArrIO));
}
BENCHMARK(QuenlithAddpntArrIO);

}  // namespace
