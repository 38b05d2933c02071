// The streaming correlator: pairs counted into the host's array, 64-bit
// photon and tick counts, reset, release, and what it does without arrays.
#include "Corvanel_api.h"
#include "Dromilt_api.h"
#include "host.h"
#include "pair_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::counts_at;
using fcs::test::Library;
using fcs::test::library_path;

class Dromilt : public ::testing::Test {
protected:
    Library lib{library_path("Dromilt")};
    dromilt_api::setupRealDromilt_fn* setup = FCS_FN(lib, dromilt, setupRealDromilt);
    dromilt_api::realACFrawArrIO_fn* step = FCS_FN(lib, dromilt, realACFrawArrIO);
    dromilt_api::resetrealACF_fn* reset = FCS_FN(lib, dromilt, resetrealACF);
    dromilt_api::getACFcnt_fn* get_counts = FCS_FN(lib, dromilt, getACFcnt);
    dromilt_api::freeRealDromilt_fn* release = FCS_FN(lib, dromilt, freeRealDromilt);

    std::pair<std::uint64_t, std::uint64_t> counts() {
        std::uint64_t acnt = 1, tcnt = 1;
        get_counts(&acnt, &tcnt);
        return {acnt, tcnt};
    }
    void feed(std::vector<std::int32_t>& acf, std::initializer_list<std::uint32_t> taus) {
        for (auto tau : taus) step(acf.data(), tau);
    }
};

using Counts = std::pair<std::uint64_t, std::uint64_t>;

TEST_F(Dromilt, WorkedStreamCountsPairsAndTicks) {
    setup(10, 1.0, 12.5);
    EXPECT_EQ(counts(), Counts(0, 0));
    std::vector<std::int32_t> acf(11, 0);
    const auto printed = capture([&] { feed(acf, {3, 4, 5}); });
    EXPECT_EQ(printed.out + printed.err, "");  // Dromilt never prints
    EXPECT_EQ(acf, counts_at(11, {{0, 3}, {3, 1}, {4, 1}, {5, 1}, {7, 1}, {9, 1}}));
    EXPECT_EQ(counts(), Counts(3, 12));
}

TEST_F(Dromilt, OverflowRefusesUntilResetWhileCountsAdvance) {
    setup(10, 0.0, 1.0);  // room for one earlier photon
    std::vector<std::int32_t> acf(11, 0);
    feed(acf, {3, 4});
    EXPECT_EQ(acf, counts_at(11, {{0, 1}, {3, 1}}));
    EXPECT_EQ(counts(), Counts(2, 7));
    feed(acf, {1, 20, 0});  // refused, counts advance
    EXPECT_EQ(acf, counts_at(11, {{0, 1}, {3, 1}}));
    EXPECT_EQ(counts(), Counts(5, 28));

    reset();
    EXPECT_EQ(counts(), Counts(5, 28));  // reset keeps the counts and the host's array
    EXPECT_EQ(acf, counts_at(11, {{0, 1}, {3, 1}}));
    feed(acf, {2});
    EXPECT_EQ(acf, counts_at(11, {{0, 2}, {2, 1}, {3, 1}}));
}

TEST_F(Dromilt, UnsignedGapsEmptyTheWindowAndAddInFull) {
    const std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
    struct Case {
        const char* what;
        std::vector<std::uint32_t> taus;
        std::vector<std::int32_t> acf;
        std::uint64_t tcnt;
    };
    const Case cases[] = {
        {"tau 0 pairs at lag 0", {4, 0}, counts_at(11, {{0, 3}, {4, 2}}), 4},
        {"tau mtau is counted", {10}, counts_at(11, {{0, 1}, {10, 1}}), 10},
        {"mtau + 1 empties the window", {3, 11, 2}, counts_at(11, {{0, 3}, {2, 1}, {3, 1}}), 16},
        {"2^31 empties the window", {3, 0x80000000u, 2}, counts_at(11, {{0, 3}, {2, 1}, {3, 1}}), 0x80000005ull},
        {"2^32 - 1 empties the window", {3, max, max, 2}, counts_at(11, {{0, 4}, {2, 1}, {3, 1}}), 2ull * max + 5},
    };
    for (const auto& c : cases) {
        setup(10, 1.0, 1.0);
        std::vector<std::int32_t> acf(11, 0);
        for (auto tau : c.taus) step(acf.data(), tau);
        EXPECT_EQ(acf, c.acf) << c.what;
        EXPECT_EQ(counts(), Counts(c.taus.size(), c.tcnt)) << c.what;
    }
}

TEST_F(Dromilt, MatchesBruteForcePairCountsAcrossOverflowAndReset) {
    for (std::uint32_t seed : {21u, 22u, 23u}) {
        const std::uint32_t mtau = 500;
        const auto taus = fcs::test::random_taus(30000, 12.0, mtau + 1, seed);
        // Ample room: the stream never overflows.
        setup(mtau, 1.0, 1.0);
        std::vector<std::int32_t> acf(mtau + 1, 0);
        for (auto tau : taus) step(acf.data(), tau);
        EXPECT_EQ(acf, fcs::test::reference_pairs(taus, mtau, mtau + 1, false).acf) << "seed " << seed;

        // Tight room: the stream overflows; after a reset the rest counts
        // from an empty window.
        setup(mtau, 0.04, 1.0);  // mdelay 21, about half a mean window of 42
        const auto first = fcs::test::reference_pairs(taus, mtau, 21, false);
        ASSERT_LT(first.accepted, taus.size());
        std::fill(acf.begin(), acf.end(), 0);
        const std::size_t half = taus.size() / 2;
        ASSERT_LT(first.accepted, half);
        for (std::size_t i = 0; i < half; ++i) step(acf.data(), taus[i]);
        EXPECT_EQ(acf, first.acf) << "seed " << seed;
        reset();
        const std::vector<std::uint32_t> rest(taus.begin() + static_cast<std::ptrdiff_t>(half), taus.end());
        auto second = fcs::test::reference_pairs(rest, mtau, 21, false);
        for (auto tau : rest) step(acf.data(), tau);
        for (std::size_t i = 0; i <= mtau; ++i) second.acf[i] += first.acf[i];
        EXPECT_EQ(acf, second.acf) << "seed " << seed;
        std::uint64_t ticks = 0;
        for (auto tau : taus) ticks += tau;
        EXPECT_EQ(counts(), Counts(taus.size(), ticks));
    }
}

TEST_F(Dromilt, AgreesWithTheCallerFormOfCorvanel) {
    Library corvanel_lib(library_path("Corvanel"));
    auto* corvanel_step = FCS_FN(corvanel_lib, corvanel, realACFrawArrIO);
    const std::int32_t mtau = 200, mdelay = 26;
    const auto taus = fcs::test::random_taus(20000, 8.0, mtau + 1, 31);
    setup(mtau, 0.125, 1.0);  // 0.125 * 200 + 1 = 26
    std::vector<std::int32_t> ours(mtau + 1, 0), theirs(mtau + 1, 0), delay(mdelay + 1, 0);
    std::int32_t idelay = 0;
    for (auto tau : taus) {
        step(ours.data(), tau);
        corvanel_step(delay.data(), theirs.data(), static_cast<std::int32_t>(tau), &idelay, mtau, mdelay);
    }
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(idelay, mdelay + 1);  // the stream overflowed both alike
}

TEST_F(Dromilt, ReleaseKeepsTheCountsAndStopsCounting) {
    setup(10, 1.0, 1.0);
    std::vector<std::int32_t> acf(11, 0);
    feed(acf, {3, 4});
    release();
    EXPECT_EQ(counts(), Counts(2, 7));
    const auto before = acf;
    feed(acf, {1, 2});  // no arrays: counts advance, nothing is counted
    EXPECT_EQ(acf, before);
    EXPECT_EQ(counts(), Counts(4, 10));
    release();  // a second release does nothing
    reset();
    feed(acf, {1});
    EXPECT_EQ(acf, before);

    setup(10, 1.0, 1.0);  // a new set-up counts again from zero counts
    EXPECT_EQ(counts(), Counts(0, 0));
    feed(acf, {5});
    EXPECT_EQ(acf[5], before[5] + 1);
}

TEST_F(Dromilt, SetUpItCannotBuildRefusesEveryStep) {
    struct Case {
        std::int32_t mtau;
        double dutyFactor;
    };
    for (const Case c : {Case{-1, 0.5}, Case{10, -1.0}, Case{10, std::nan("")}, Case{1000, 3e6},
                         Case{std::numeric_limits<std::int32_t>::min(), 0.5}}) {
        setup(10, 1.0, 1.0);  // a working set-up first: the bad one replaces it
        std::vector<std::int32_t> acf(11, 0);
        const auto printed = capture([&] {
            setup(c.mtau, c.dutyFactor, 1.0);
            feed(acf, {0, 1, 2, 3});
        });
        EXPECT_EQ(printed.out + printed.err, "");
        EXPECT_EQ(acf, std::vector<std::int32_t>(11, 0)) << c.mtau << " " << c.dutyFactor;
        EXPECT_EQ(counts(), Counts(4, 6));
    }
}

TEST_F(Dromilt, SetUpAgainWithoutReleaseStartsOver) {
    setup(10, 0.0, 1.0);
    std::vector<std::int32_t> acf(21, 0);
    feed(acf, {3, 4, 5});  // overflowed
    setup(20, 1.0, 1.0);   // the earlier arrays are released, not leaked
    EXPECT_EQ(counts(), Counts(0, 0));
    std::fill(acf.begin(), acf.end(), 0);
    feed(acf, {15, 5});
    EXPECT_EQ(acf, counts_at(21, {{0, 2}, {5, 1}, {15, 1}, {20, 1}}));
}

TEST(DromiltUnits, CalculatorsMatchCorvanels) {
    Library dromilt_lib(library_path("Dromilt"));
    Library corvanel_lib(library_path("Corvanel"));
    auto* mtau = FCS_FN(dromilt_lib, dromilt, calcRealACFmtau);
    auto* duty = FCS_FN(dromilt_lib, dromilt, calcRealACFdutyFactor);
    auto* their_mtau = FCS_FN(corvanel_lib, corvanel, calcRealACFmtau);
    auto* their_duty = FCS_FN(corvanel_lib, corvanel, calcRealACFdutyFactor);
    EXPECT_EQ(mtau(1000000, 25), 40000);
    EXPECT_EQ(mtau(-7, 2), -3);
    EXPECT_EQ(duty(50000.0, 25), 0.00125);
    const std::int32_t min = std::numeric_limits<std::int32_t>::min();
    for (auto [m, c] : {std::pair{5, 0}, std::pair{min, -1}, std::pair{123457, 13}, std::pair{-99, 7}}) {
        EXPECT_EQ(mtau(m, c), their_mtau(m, c)) << m << " / " << c;
        EXPECT_EQ(duty(m * 1.5, c), their_duty(m * 1.5, c)) << m << " / " << c;
    }
}

}  // namespace
