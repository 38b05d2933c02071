// The photon-pair correlator step in its two forms: on the library's own
// correlator (setupRealACF, realACFraw) and on the caller's arrays
// (realACFrawArrIO).
#include "Corvanel_api.h"
#include "host.h"
#include "pair_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::counts_at;
using fcs::test::Library;
using fcs::test::library_path;

const std::string kOverflow333 =
    "realACF : ERROR count rate too high for time delay.\n\t\n\t SUGGESTION: increase dutyFactor by a factor of "
    "3.33 or decrease excitation power";

class Corvanel : public ::testing::Test {
protected:
    Library lib{library_path("Corvanel")};
    corvanel_api::setupRealACF_fn* setup = FCS_FN(lib, corvanel, setupRealACF);
    corvanel_api::realACFraw_fn* raw = FCS_FN(lib, corvanel, realACFraw);
    corvanel_api::realACFrawArrIO_fn* raw_arr = FCS_FN(lib, corvanel, realACFrawArrIO);
};

// A caller-owned correlator: delay list, counts and idelay, all zero.
struct Window {
    Window(std::int32_t mtau_, std::int32_t mdelay_)
        : mtau(mtau_), mdelay(mdelay_), delay(static_cast<std::size_t>(mdelay_) + 1), acf(static_cast<std::size_t>(mtau_) + 1) {}
    void feed(corvanel_api::realACFrawArrIO_fn* step, std::int32_t tau) {
        step(delay.data(), acf.data(), tau, &idelay, mtau, mdelay);
    }
    std::int32_t mtau, mdelay, idelay = 0;
    std::vector<std::int32_t> delay, acf;
};

TEST_F(Corvanel, SetUpReturnsTheDelayBoundSilently) {
    struct Case {
        std::int32_t mtau;
        double dutyFactor;
        std::int32_t mdelay;
    };
    for (const Case c : {Case{1000, 0.05, 51}, Case{10, 0.0, 1}, Case{10, 1.0, 11}, Case{0, 0.5, 1}, Case{4000, 0.1, 401}}) {
        const auto printed = capture([&] { EXPECT_EQ(setup(c.mtau, c.dutyFactor, 12.5), c.mdelay) << c.mtau; });
        EXPECT_EQ(printed.out, "");
        EXPECT_EQ(printed.err, "");
    }
}

TEST_F(Corvanel, WorkedExampleKeepsTheDelayListLayout) {
    // Photons at ticks 0, 3, 7 and 12 with mtau 10: the caller sees the list
    // after every step, purged slots cleared.
    Window w(10, 20);
    const std::vector<std::vector<std::int32_t>> lists = {{0, 3, 0}, {0, 4, 7}, {0, 5, 9}};
    const std::int32_t taus[] = {3, 4, 5};
    for (std::size_t k = 0; k < 3; ++k) {
        w.feed(raw_arr, taus[k]);
        EXPECT_EQ(std::vector<std::int32_t>(w.delay.begin(), w.delay.begin() + 3), lists[k]) << "after tau " << taus[k];
        EXPECT_EQ(w.idelay, k == 0 ? 1 : 2);
    }
    EXPECT_EQ(w.acf, counts_at(11, {{0, 3}, {3, 1}, {4, 1}, {5, 1}, {7, 1}, {9, 1}}));

    // The library's own correlator takes the same steps, silently.
    ASSERT_EQ(setup(10, 1.0, 12.5), 11);
    const auto printed = capture([&] {
        for (std::int32_t tau : taus) EXPECT_EQ(raw(tau), tau);
    });
    EXPECT_EQ(printed.out + printed.err, "");
}

TEST_F(Corvanel, LagEdgesOfTheWindow) {
    struct Case {
        const char* what;
        std::vector<std::int32_t> taus;
        std::vector<std::int32_t> acf;  // caller's counts, starting from zero
        std::int32_t idelay;
    };
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    const Case cases[] = {
        {"tau 0 pairs at lag 0", {4, 0}, counts_at(11, {{0, 3}, {4, 2}}), 2},
        {"tau mtau is counted", {10}, counts_at(11, {{0, 1}, {10, 1}}), 1},
        {"mtau + 1 empties the window", {2, 11}, counts_at(11, {{0, 2}, {2, 1}}), 0},
        {"cumulative lag of exactly mtau stays", {4, 6}, counts_at(11, {{0, 2}, {4, 1}, {6, 1}, {10, 1}}), 2},
        {"cumulative lag beyond mtau is purged", {4, 7}, counts_at(11, {{0, 2}, {4, 1}, {7, 1}}), 1},
        {"largest positive tau empties the window", {3, big, 2}, counts_at(11, {{0, 3}, {2, 1}, {3, 1}}), 1},
        // A record with its top bit set is a gap beyond any mtau, never an index.
        {"negative tau empties the window", {3, -5, 2}, counts_at(11, {{0, 3}, {2, 1}, {3, 1}}), 1},
        {"most negative tau empties the window", {3, std::numeric_limits<std::int32_t>::min()}, counts_at(11, {{0, 2}, {3, 1}}), 0},
    };
    for (const auto& c : cases) {
        Window w(10, 20);
        for (std::int32_t tau : c.taus) w.feed(raw_arr, tau);
        EXPECT_EQ(w.acf, c.acf) << c.what;
        EXPECT_EQ(w.idelay, c.idelay) << c.what;
    }
}

TEST_F(Corvanel, RealACFrawReturnsTauWhenCounted) {
    ASSERT_EQ(setup(10, 1.0, 1.0), 11);
    const auto printed = capture([&] {
        EXPECT_EQ(raw(0), 0);  // counted, but 0 is tau itself
        EXPECT_EQ(raw(10), 10);
        EXPECT_EQ(raw(11), 11);
        EXPECT_EQ(raw(-5), -5);  // counted as a long gap
    });
    EXPECT_EQ(printed.out + printed.err, "");
}

TEST_F(Corvanel, OverflowRefusesEveryLaterStepWithTheSameSuggestion) {
    ASSERT_EQ(setup(10, 0.0, 1.0), 1);  // two slots: room for one earlier photon
    EXPECT_EQ(raw(3), 3);
    for (std::int32_t tau : {4, 4, 100, 0}) {
        const auto printed = capture([&] { EXPECT_EQ(raw(tau), 0); });
        EXPECT_EQ(printed.out, kOverflow333) << "tau " << tau;
        EXPECT_EQ(printed.err, "");
    }
    // A new set-up leaves the overflowed state.
    ASSERT_EQ(setup(10, 0.0, 1.0), 1);
    EXPECT_EQ(capture([&] { EXPECT_EQ(raw(3), 3); }).out, "");

    // The caller's form refuses at the same places, silently, leaving its
    // counts and list as they were and idelay at mdelay + 1.
    Window w(10, 1);
    const auto printed = capture([&] {
        w.feed(raw_arr, 3);
        w.feed(raw_arr, 4);
        w.feed(raw_arr, 100);
    });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(w.acf, counts_at(11, {{0, 1}, {3, 1}}));
    EXPECT_EQ(w.delay, (std::vector<std::int32_t>{0, 3}));
    EXPECT_EQ(w.idelay, 2);
    // Setting idelay back to 0 starts a new window.
    w.idelay = 0;
    w.feed(raw_arr, 2);
    EXPECT_EQ(w.acf, counts_at(11, {{0, 2}, {2, 1}, {3, 1}}));
}

TEST_F(Corvanel, SetUpThatCannotBuildItsBuffersFailsWithItsMessage) {
    struct Case {
        std::int32_t mtau;
        double dutyFactor;
        const char* message;
    };
    const Case cases[] = {
        {-1, 0.05, "setupRealACF: ERRORmemory allocation failed for 'acf' w/mtau=-1"},
        {-2147483647 - 1, 0.05, "setupRealACF: ERRORmemory allocation failed for 'acf' w/mtau=-2147483648"},
        {10, -1.0, "setupRealACF: ERRORmemory allocation failed for 'delay' w/mtau=10, dutyFactor=-1.000000"},
        {10, std::nan(""), "setupRealACF: ERRORmemory allocation failed for 'delay' w/mtau=10, dutyFactor=nan"},
        {1000, 3e6, "setupRealACF: ERRORmemory allocation failed for 'delay' w/mtau=1000, dutyFactor=3000000.000000"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(setup(10, 1.0, 1.0), 11);  // a working correlator first: the failure replaces it
        const auto printed = capture([&] { EXPECT_EQ(setup(c.mtau, c.dutyFactor, 1.0), 0); });
        EXPECT_EQ(printed.out, c.message);
        EXPECT_EQ(printed.err, "");
        // No correlator now: steps count nothing and print nothing.
        const auto after = capture([&] { EXPECT_EQ(raw(3), 0); });
        EXPECT_EQ(after.out + after.err, "") << c.message;
    }
}

TEST_F(Corvanel, StepBeforeAnySetUpCountsNothing) {
    const auto printed = capture([&] {
        EXPECT_EQ(raw(3), 0);
        EXPECT_EQ(raw(0), 0);
    });
    EXPECT_EQ(printed.out + printed.err, "");
}

TEST_F(Corvanel, CallerFormMatchesBruteForcePairCounts) {
    struct Case {
        std::uint32_t mtau;
        double mean_gap;
        std::uint32_t seed;
    };
    for (const Case c : {Case{4000, 100.0, 1}, Case{4000, 10.0, 2}, Case{50, 3.0, 3}, Case{1, 0.7, 4}, Case{0, 2.0, 5}}) {
        const auto taus = fcs::test::random_taus(20000, c.mean_gap, c.mtau + 1, c.seed);
        // A list as long as the stream never fills.
        Window w(static_cast<std::int32_t>(c.mtau), static_cast<std::int32_t>(taus.size()));
        for (auto tau : taus) w.feed(raw_arr, static_cast<std::int32_t>(tau));
        const auto expected = fcs::test::reference_pairs(taus, c.mtau, w.mdelay, false);
        EXPECT_EQ(w.acf, expected.acf) << "seed " << c.seed;
    }
}

TEST_F(Corvanel, CallerFormRefusesWhereTheWindowOverflows) {
    for (std::uint32_t seed : {11u, 12u, 13u}) {
        const std::uint32_t mtau = 300;
        const std::int32_t mdelay = 12;  // about a third of the photons a window of 300 holds
        const auto taus = fcs::test::random_taus(5000, 10.0, mtau + 1, seed);
        const auto expected = fcs::test::reference_pairs(taus, mtau, mdelay, false);
        ASSERT_LT(expected.accepted, taus.size()) << "the stream must overflow";

        Window w(mtau, mdelay);
        for (auto tau : taus) w.feed(raw_arr, static_cast<std::int32_t>(tau));
        EXPECT_EQ(w.acf, expected.acf) << "seed " << seed;
        EXPECT_EQ(w.idelay, mdelay + 1);
    }
}

TEST_F(Corvanel, CallerFormLeavesTheLibrarysCorrelatorAlone) {
    ASSERT_EQ(setup(10, 0.0, 1.0), 1);
    EXPECT_EQ(raw(3), 3);
    Window w(10, 1);
    for (std::int32_t tau : {1, 1, 1}) w.feed(raw_arr, tau);  // overflows the caller's list only
    EXPECT_EQ(w.idelay, 2);
    EXPECT_EQ(capture([&] { EXPECT_EQ(raw(11), 11); }).out, "");
}

}  // namespace
