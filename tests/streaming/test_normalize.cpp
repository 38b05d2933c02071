// The count-based normalization, in the streaming correlator (counts from
// its own state) and in the stand-alone normalizer (counts as arguments).
#include "Dromilt_api.h"
#include "Plavenne_api.h"
#include "host.h"
#include "pair_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::Library;
using fcs::test::library_path;

class Normalize : public ::testing::Test {
protected:
    Library plavenne_lib{library_path("Plavenne")};
    plavenne_api::realACFnormArrIO_fn* normalize = FCS_FN(plavenne_lib, plavenne, realACFnormArrIO);
};

// Equal bit for bit, not-a-numbers included.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST_F(Normalize, PairCountOverExpectedPairsMinusOne) {
    std::vector<std::int32_t> acf{100, 30, 20};
    std::vector<double> n(3, -7.0);
    EXPECT_EQ(capture([&] { normalize(acf.data(), n.data(), 3, 100, 1000); }).out, "");
    EXPECT_EQ(n[0], 9.0);  // lag 0 holds the photons: T / A - 1
    EXPECT_DOUBLE_EQ(n[1], 2.003003003003003);
    EXPECT_DOUBLE_EQ(n[2], 1.004008016032064);

    // Uncorrelated photons: 4 photons in 8 ticks give 1 pair at lag 4 -> 0.
    std::vector<std::int32_t> flat{4, 0, 0, 0, 1};
    std::vector<double> m(5);
    normalize(flat.data(), m.data(), 5, 4, 8);
    EXPECT_EQ(m[4], 0.0);
    EXPECT_EQ(m[1], -1.0);
}

TEST_F(Normalize, DegenerateCountsGiveIeeeValuesSilently) {
    std::vector<std::int32_t> acf{5, 3, 0, 2};
    std::vector<double> n(4);
    const auto printed = capture([&] { normalize(acf.data(), n.data(), 4, 0, 10); });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_TRUE(std::isinf(n[0]) && n[0] > 0);
    EXPECT_TRUE(std::isnan(n[2]));  // 0 / 0

    normalize(acf.data(), n.data(), 4, 2, 2);  // T - i: 2, 1, 0, -1
    EXPECT_TRUE(std::isinf(n[2]) || std::isnan(n[2]));
    EXPECT_LT(n[3], -1.0);  // negative divisor, positive pair count
    EXPECT_EQ(n[3], 2.0 * 4.0 / 4.0 / -1.0 - 1.0);
}

TEST_F(Normalize, CountsAbove2To63AreLargePositiveNumbers) {
    // Read as signed, 2^64 - 1 would be -1: the results below would then be
    // 999999 and -2 instead.
    const std::uint64_t max = 0xFFFFFFFFFFFFFFFFull;
    std::vector<std::int32_t> acf{1};
    std::vector<double> n(1);
    normalize(acf.data(), n.data(), 1, max, 1000000);
    EXPECT_EQ(n[0], -1.0);  // 1e6 / 3.4e38 - 1
    normalize(acf.data(), n.data(), 1, 1, max);
    EXPECT_EQ(n[0], 18446744073709551616.0 - 1.0);  // T / A - 1 with T = 2^64 after rounding
}

TEST_F(Normalize, NoPointsWritesNothing) {
    std::vector<std::int32_t> acf{1, 2};
    for (std::int32_t size : {0, -1, -2147483647 - 1}) {
        std::vector<double> n{7.0, 7.0};
        normalize(acf.data(), n.data(), size, 10, 10);
        EXPECT_EQ(n, (std::vector<double>{7.0, 7.0})) << size;
    }
}

TEST_F(Normalize, StreamingAndStandAloneAgreeBitForBit) {
    Library dromilt_lib(library_path("Dromilt"));
    auto* setup = FCS_FN(dromilt_lib, dromilt, setupRealDromilt);
    auto* step = FCS_FN(dromilt_lib, dromilt, realACFrawArrIO);
    auto* own_normalize = FCS_FN(dromilt_lib, dromilt, realACFnormArrIO);
    auto* get_counts = FCS_FN(dromilt_lib, dromilt, getACFcnt);
    auto* release = FCS_FN(dromilt_lib, dromilt, freeRealDromilt);

    const std::int32_t mtau = 300;
    setup(mtau, 0.5, 12.5);
    std::vector<std::int32_t> acf(mtau + 1, 0);
    std::vector<double> ours(mtau + 1), theirs(mtau + 1);

    // Right after set-up both counts are 0: every point is not a number.
    own_normalize(acf.data(), ours.data());
    for (double v : ours) EXPECT_TRUE(std::isnan(v));

    for (auto tau : fcs::test::random_taus(50000, 6.0, mtau + 1, 41)) step(acf.data(), tau);
    std::uint64_t acnt = 0, tcnt = 0;
    get_counts(&acnt, &tcnt);
    own_normalize(acf.data(), ours.data());
    normalize(acf.data(), theirs.data(), mtau + 1, acnt, tcnt);
    EXPECT_TRUE(same_bits(ours, theirs));
    EXPECT_NEAR(ours[mtau], 0.0, 0.2);  // a Poisson stream is uncorrelated

    // After release the normalizer still works on the kept counts.
    release();
    std::vector<double> after(mtau + 1);
    own_normalize(acf.data(), after.data());
    EXPECT_TRUE(same_bits(after, theirs));
}

}  // namespace
