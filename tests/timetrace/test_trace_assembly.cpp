// A host's time trace: it feeds Trelvin one inter-photon time per call and,
// whenever a bin closes, appends the count and then that many zeros to its
// trace with Vennitch. The result must equal the trace counted directly from
// the photons' absolute times.
#include "Trelvin_api.h"
#include "Vennitch_api.h"
#include "host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using fcs::test::Library;
using fcs::test::library_path;

// Photons per bin of every closed bin, from absolute photon times (the first
// photon at tick 0). The bin of the last photon is still open: not included.
std::vector<std::uint32_t> reference_trace(const std::vector<std::uint32_t>& taus, std::uint32_t width) {
    std::vector<std::uint32_t> counts(1, 1);  // bin 0 holds the photon at tick 0
    std::uint64_t now = 0;
    for (std::uint32_t tau : taus) {
        now += tau;
        const std::uint64_t bin = now / width;
        if (bin >= counts.size()) counts.resize(bin + 1, 0);
        ++counts[bin];
    }
    counts.pop_back();
    return counts;
}

// A stream of inter-photon times: mostly short gaps, sometimes a long one.
struct Profile {
    const char* what;
    std::uint32_t width;
    std::uint32_t short_max;
    std::uint32_t long_min, long_max;
    double long_share;
};

std::vector<std::uint32_t> stream(const Profile& p, std::size_t photons, std::mt19937& rng) {
    std::uniform_int_distribution<std::uint32_t> short_gap(0, p.short_max), long_gap(p.long_min, p.long_max);
    std::bernoulli_distribution is_long(p.long_share);
    std::vector<std::uint32_t> taus(photons);
    for (auto& tau : taus) tau = is_long(rng) ? long_gap(rng) : short_gap(rng);
    return taus;
}

TEST(TraceAssembly, RandomStreamsMatchTheCountedTrace) {
    Library trelvin_lib(library_path("Trelvin"));
    Library vennitch_lib(library_path("Vennitch"));
    auto* setup = FCS_FN(trelvin_lib, trelvin, setupTrelvin);
    auto* bin = FCS_FN(trelvin_lib, trelvin, trelvin);
    auto* connect = FCS_FN(vennitch_lib, vennitch, connect);
    auto* reset = FCS_FN(vennitch_lib, vennitch, reset);

    const Profile profiles[] = {
        {"bins close rarely", 1000, 50, 0, 0, 0.0},
        {"bins close often", 7, 20, 50, 1000, 0.05},
        {"width 1, many empty bins", 1, 3, 100, 5000, 0.01},
        {"wide bins, gaps beyond 2^31", 1u << 26, 1u << 20, 0x80000000u, 0xFFFFFFFFu, 0.01},
        {"largest width, any 32-bit gap", 0x7FFFFFFF, 0xFFFFFFFF, 0, 0, 0.0},
    };
    std::mt19937 rng(20261211);
    const std::vector<std::uint32_t> zeros(4096, 0);
    constexpr std::uint32_t kGuard = 0xDEADBEEF;

    for (const auto& p : profiles) {
        const auto taus = stream(p, 20000, rng);
        const auto expected = reference_trace(taus, p.width);

        // The host sizes its trace for what it expects, plus guard values
        // that must stay untouched.
        std::vector<std::uint32_t> trace(expected.size() + 16, kGuard);
        std::size_t written = 0;
        bool overrun = false;
        const auto append = [&](const std::uint32_t* block, std::size_t n) {
            if (written + n > expected.size()) {
                overrun = true;  // the library reported more than the photons make
                return;
            }
            connect(const_cast<std::uint32_t*>(block), static_cast<std::int32_t>(n), trace.data());
            written += n;
        };

        ASSERT_EQ(setup(static_cast<std::int32_t>(p.width)), static_cast<std::int32_t>(p.width));
        reset();
        for (std::uint32_t tau : taus) {
            std::int32_t empty = -1;
            const std::int32_t count = bin(tau, &empty);
            if (count == -32000) continue;
            ASSERT_GE(empty, 0) << p.what;
            const auto bits = static_cast<std::uint32_t>(count);
            append(&bits, 1);
            for (auto left = static_cast<std::size_t>(empty); left > 0 && !overrun;) {
                const std::size_t n = std::min(left, zeros.size());
                append(zeros.data(), n);
                left -= n;
            }
            ASSERT_FALSE(overrun) << p.what;
        }

        EXPECT_GT(expected.size(), 100u) << p.what;  // the stream closes enough bins to matter
        EXPECT_EQ(written, expected.size()) << p.what;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), trace.begin())) << p.what;
        EXPECT_TRUE(std::all_of(trace.begin() + static_cast<std::ptrdiff_t>(expected.size()), trace.end(),
                                [&](std::uint32_t v) { return v == kGuard; }))
            << p.what;
    }
}

}  // namespace
