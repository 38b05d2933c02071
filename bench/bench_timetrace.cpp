// The time trace calls as a host makes them: Trelvin's per-photon `trelvin`
// on a Poisson stream (mean gap 10 ticks) at bin widths from many photons per
// bin (bins close rarely) down to one tick (every photon closes a bin), and
// Vennitch's `connect` at several block lengths.
//
// The counters give the time per photon (per_photon) and per appended element
// (per_element) in seconds with an SI prefix (1.5n is 1.5 ns); closes_per_photon
// is the share of trelvin calls that closed a bin.
#include "Trelvin_api.h"
#include "Vennitch_api.h"
#include "host.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using benchmark::Counter;

constexpr std::size_t kBlock = 8192;

const std::vector<std::uint32_t>& poisson_taus() {
    static const std::vector<std::uint32_t> taus = [] {
        std::mt19937 rng(11);
        std::exponential_distribution<double> gap(0.1);
        std::vector<std::uint32_t> v(kBlock);
        for (auto& tau : v) tau = static_cast<std::uint32_t>(gap(rng));
        return v;
    }();
    return taus;
}

void TrelvinPerPhoton(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    const auto& taus = poisson_taus();
    fcs::test::Library lib(fcs::test::library_path("Trelvin"));
    FCS_FN(lib, trelvin, setupTrelvin)(width);
    auto* bin = FCS_FN(lib, trelvin, trelvin);
    std::int32_t empty = 0;
    std::int64_t closed = 0;
    for (auto _ : state) {
        for (auto tau : taus) closed += bin(tau, &empty) != -32000;
        benchmark::DoNotOptimize(empty);
    }
    state.counters["per_photon"] = Counter(static_cast<double>(kBlock), Counter::kIsIterationInvariantRate | Counter::kInvert);
    state.counters["closes_per_photon"] =
        static_cast<double>(closed) / (static_cast<double>(state.iterations()) * static_cast<double>(kBlock));
}
BENCHMARK(TrelvinPerPhoton)->ArgName("width")->Arg(100000)->Arg(1000)->Arg(10)->Arg(1);

void VennitchConnect(benchmark::State& state) {
    const auto length = static_cast<std::int32_t>(state.range(0));
    fcs::test::Library lib(fcs::test::library_path("Vennitch"));
    auto* connect = FCS_FN(lib, vennitch, connect);
    auto* reset = FCS_FN(lib, vennitch, reset);
    std::vector<std::uint32_t> block(static_cast<std::size_t>(length), 0x5A5A5A5A);
    std::vector<std::uint32_t> trace(1 << 16);  // fits in the cache; refilled from the start
    const std::size_t blocks_per_trace = trace.size() / block.size();
    std::size_t in_trace = 0;
    reset();
    for (auto _ : state) {
        if (in_trace == blocks_per_trace) {
            reset();
            in_trace = 0;
        }
        connect(block.data(), length, trace.data());
        ++in_trace;
        benchmark::ClobberMemory();
    }
    state.counters["per_element"] = Counter(static_cast<double>(length), Counter::kIsIterationInvariantRate | Counter::kInvert);
}
BENCHMARK(VennitchConnect)->ArgName("length")->Arg(1)->Arg(16)->Arg(1024);

}  // namespace
